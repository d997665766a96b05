#pragma once

#include <string>

#include "jet/repair/repair_error.h"
#include "jet/repair/repair_report.h"

namespace jet {

// Checks the database at `path` completely and mends it. Stale table row counts
// and index distinct-key counts, a global usage map that marks pages in use as
// free, and AutoNumber counters below the highest value stored are rewritten in
// place, each write flushed (fsync) before returning. Any other damage has the
// database written anew beside `path` from everything that can still be read
// (compactDatabase in salvage mode: rows that do not decode left out, long values
// cut or made NULL, every index built from the kept rows, what was lost listed in
// its MSysCompactError table), checked in full and renamed over `path`: at every
// moment `path` holds the old file or the whole new one, with the old one's mode.
// Returns what could not be kept as it was (nothing for a sound file). Throws
// RepairError with a Jet error number and a Portuguese description naming `path`
// only when nothing can be saved (not a database, the catalog unreadable, ...);
// the file is then left exactly as it was.
RepairReport repairDatabase(const std::string& path);

// The same repair written to `destination` (which must not exist); `source` is
// only read. A sound source gives a plain copy with its statistics mended.
RepairReport repairDatabaseInto(const std::string& source, const std::string& destination);

}  // namespace jet
