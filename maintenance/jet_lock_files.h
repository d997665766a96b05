#pragma once

#include <string>
#include <vector>

namespace maintenance {

// The lock files Jet and Access keep beside an open database: the database's
// name with ".laccdb" for an .accdb file and ".ldb" for anything else, in
// lower and upper case since Windows clients of a file server may write either.
std::vector<std::string> jetLockFiles(const std::string& databasePath);

}  // namespace maintenance
