#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "jet/check/check_context.h"
#include "jet/check/check_index_entries.h"
#include "jet/check/check_rows.h"
#include "jet/check/long_value_sweep.h"
#include "jet/index/index_tree.h"
#include "jet/index/key_encoder.h"
#include "jet/table/data_page.h"
#include "jet/table/table_definition.h"
#include "jet/table/usage_map.h"

namespace jet {

// Checks one table completely: its definition, usage maps, data pages, rows and
// values, overflow rows, long values and their chains, and every index against
// the rows. Claims every page the table uses in the context's page claims.
class TableChecker {
public:
    // Tables of `splitRowsFrom` data pages or more (0: none) have their rows checked
    // on two threads, a chunk of pages at a time; the report is the same.
    TableChecker(CheckContext& ctx, const TableDefinition& table, bool verifyIndexKeys, std::size_t splitRowsFrom = 0);

    void run();

    std::size_t liveRows() const { return liveRows_; }

private:
    // One per physical index; `expected` runs parallel to `rows_`.
    struct IndexState {
        std::optional<KeyEncoder> encoder;
        std::vector<std::size_t> columnPositions;  // positions in TableDefinition::columns
        BulkVector<ExpectedEntry> expected;
        std::vector<KeyGap> gaps;
    };

    void checkDefinition();
    void checkConstants();
    void checkColumns();
    void checkIndexDefinitions();
    std::optional<UsageMap> readMap(RowPointer where, std::uint32_t claimant, const std::string& what);
    void checkDataPages();
    void takeRows(const RowScan& scan, RowScanner& here);
    bool keepsCountedFinding(const RowScan& scan, std::size_t from, std::size_t to) const;
    void takePage(const RowScan& scan, const RowScan::Page& page, std::size_t step, std::size_t row, std::size_t use);
    void checkLongValueMaps();
    void readLongValuePages();
    void checkIndex(const PhysicalIndex& index, IndexState& state);
    void orderRows();
    void checkStatistics();

    std::string indexName(const PhysicalIndex& index) const;
    void damage(std::string code, std::string message, std::optional<std::uint32_t> page = std::nullopt,
                std::optional<int> row = std::nullopt);

    CheckContext& ctx_;
    const TableDefinition& t_;
    bool verifyIndexKeys_;
    std::size_t splitRowsFrom_;
    std::uint32_t claimant_;
    std::uint32_t mapHostClaimant_;
    std::optional<UsageMap> owned_;
    std::unordered_set<std::uint32_t> ownedSet_;
    std::unordered_set<RowPointer> overflowTargets_;
    std::vector<LongValueUse> lvalRowsUsed_;   // sorted by segment once the rows are read
    LongValueSweep lvSweep_;
    std::vector<LongValueRowFacts> lvRowScratch_;  // one page read for its orphan rows
    BulkVector<RowPointer> rows_;              // live rows (their first slot), as read
    std::shared_ptr<const TableRows> sortedRows_;  // the same, sorted, for the indexes
    std::unordered_map<std::uint16_t, std::uint32_t> lvClaimants_;  // column number -> claimant
    std::unordered_map<std::uint16_t, std::optional<UsageMap>> lvMaps_;
    std::vector<IndexState> indexes_;
    std::size_t liveRows_ = 0;
    std::optional<std::int64_t> maxAutonumber_;
    IndexTree tree_;  // the index being checked; handed on to its comparison
};

}  // namespace jet
