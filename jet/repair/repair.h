#pragma once

#include <string>

#include "jet/repair/repair_error.h"

namespace jet {

// Checks the database at `path` completely and mends in place only what is safe
// and certain: stale table row counts and index distinct-key counts, a global usage
// map that marks pages in use as free, and AutoNumber counters below the highest
// value stored. Every write goes to the original file and is flushed (fsync)
// before returning. Anything else wrong (an unrecognised format, a damaged table,
// ...) throws RepairError with a Jet error number and a Portuguese description
// naming what and where; the file is then left exactly as it was.
void repairDatabase(const std::string& path);

}  // namespace jet
