#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "jet/table/salvage_item.h"

namespace jet {

// Progress of a compaction: a short Portuguese phase name, and work done / total
// (in source pages or rows; total 0 when unknown).
using CompactProgress = std::function<void(const std::string& phase, std::uint64_t done, std::uint64_t total)>;

struct CompactOptions {
    CompactProgress progress;
    // Run the full checker over the result before accepting it (on top of the
    // comparison of tables and row counts, which always runs).
    bool checkResult = true;
    // Encode every index's keys from the rows instead of taking them from the
    // source's trees, which are then never read: what mends damaged indexes.
    bool rebuildIndexes = false;
    // Read the source the way a repair reads a damaged file (every index rebuilt):
    // a table whose definition cannot be read, a page that is no longer one of its
    // table's data pages and a row that does not decode are left out, a long value
    // whose rows are lost is cut (Memo) or becomes NULL, and each of these is
    // listed in CompactResult::losses instead of failing the compaction.
    bool salvage = false;
};

struct CompactResult {
    std::uint64_t sourceBytes = 0;
    std::uint64_t outputBytes = 0;
    std::uint32_t sourcePages = 0;
    std::uint32_t outputPages = 0;
    std::size_t tables = 0;
    std::uint64_t rows = 0;
    std::vector<SalvageItem> losses;  // salvage: what could not be kept as it was
};

// Writes a compacted copy of the database `source` to `destination` (which must
// not exist): same format version and page-0 settings, every table with its live
// rows in primary-key order (physical order without one), long values, indexes
// rebuilt as full trees, fresh usage maps, recomputed statistics, AutoNumber
// counters set to the highest value left, no free or leaked page. Table Ids change
// with their definition pages and are rewritten wherever the catalog and system
// tables store them. The source is only read. The result is flushed, read back and
// checked before returning; on any failure no destination file is left and a
// JetError is thrown.
CompactResult compactDatabase(const std::string& source, const std::string& destination,
                              const CompactOptions& options = {});

// The pages compactDatabase would write for `source` with `options`: the same
// layout, built page by page, with nothing written and no check of a result.
// The source's page count minus this is exactly what compacting reclaims.
// Throws JetError where compactDatabase would refuse the source.
std::uint32_t compactedPageCount(const std::string& source, const CompactOptions& options = {});

}  // namespace jet
