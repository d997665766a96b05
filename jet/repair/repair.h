#pragma once

#include <string>

#include "jet/repair/repair_error.h"
#include "jet/repair/repair_report.h"

namespace jet {

// Checks the database at `path` completely and mends what can be mended for
// certain. Stale table row counts and index distinct-key counts, a global usage
// map that marks pages in use as free, and AutoNumber counters below the highest
// value stored are rewritten in place, each write flushed (fsync) before
// returning. Damage confined to indexes (unreadable trees, keys or entries that
// do not match the rows) is mended by writing the database anew beside `path`,
// every index built from the rows, checked in full and renamed over `path`: at
// every moment `path` holds the old file or the whole new one, with the old one's
// mode. Anything else wrong (an unrecognised format, a damaged table, ...) throws
// RepairError with a Jet error number and a Portuguese description naming what
// and where; the file is then left exactly as it was.
RepairReport repairDatabase(const std::string& path);

// The same repair written to `destination` (which must not exist); `source` is
// only read. A sound source gives a plain copy with its statistics mended.
RepairReport repairDatabaseInto(const std::string& source, const std::string& destination);

}  // namespace jet
