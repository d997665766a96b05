#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace cli {

// `compactar info ARQUIVO`: what the file is, how its pages are used, its tables,
// and an estimate of the space a compaction would give back.
int runInfo(int argc, char** argv);
int runInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// `compactar dump ARQUIVO [--table NOME] [--format tsv|json] [--output PASTA] [--salvage]`:
// one table to standard output, or every table (system tables included) into one
// file per table; with --salvage, read the way a repair reads a damaged file.
int runDump(int argc, char** argv);
int runDump(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// A table name as a file name: bytes that cannot stand in a file name (and '%'
// itself, and a leading '.') become %XX, so the mapping can be undone.
std::string escapeFileName(const std::string& name);
std::string unescapeFileName(const std::string& fileName);

}  // namespace cli
