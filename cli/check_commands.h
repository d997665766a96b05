#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace cli {

// `compactar check ARQUIVO [--json | --quiet]`: every finding of the integrity
// check, one a line, then a summary; `--json` prints them as one JSON document
// instead, `--quiet` nothing. Exit status 0 with no damage, 1 with damage, 2 on
// bad usage, 3 when the file cannot be opened or is not a database.
int runCheck(int argc, char** argv);
int runCheck(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace cli
