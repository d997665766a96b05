#pragma once

#include <cstddef>
#include <string>

#include "jet/check/finding.h"
#include "jet/table/database.h"

namespace jet {

struct CheckOptions {
    bool verifyIndexKeys = true;        // rebuild every index key from its row and compare
    std::size_t maxFindingsPerKind = 200;  // further findings of one kind are only counted
    bool readAhead = true;              // long values, index trees and the pages no structure lists are
                                        // read ahead on a second thread (same report)
    std::size_t splitPagesFrom = 256;   // work over this many pages or more (a table's data pages and their
                                        // rows, the pages no structure uses) is shared with a helper thread,
                                        // which also compares indexes of four times as many entries or more
                                        // with their rows and reads ahead when idle (0: never; same report)
};

// Walks every structure of an open database and verifies every invariant it can:
// page 0, the global usage map and the ownership of every page, table definitions,
// usage maps, data pages, rows and values, overflow rows, long values and their
// chains, index trees against the rows, and the catalog's cross references. It
// never stops at the first problem and never throws for a damaged file.
class Checker {
public:
    explicit Checker(Database& db, CheckOptions options = {});
    CheckReport run();

private:
    Database& db_;
    CheckOptions options_;
};

// Opens `path` and checks it. A file whose page 0 or catalog is too damaged to open
// gives a report with that damage. Throws JetError only when the file cannot be read
// as a database at all (Io, NotDatabase, Unsupported, Encrypted).
CheckReport checkDatabase(const std::string& path, CheckOptions options = {});

}  // namespace jet
