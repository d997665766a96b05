#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "jet/chain_visits.h"
#include "jet/check_context.h"
#include "jet/index_tree.h"
#include "jet/key_encoder.h"
#include "jet/long_value_sweep.h"
#include "jet/row_decoder.h"
#include "jet/row_slot_index.h"
#include "jet/data_page.h"
#include "jet/usage_map.h"
#include "jet/table_definition.h"

namespace jet {

// Checks one table completely: its definition, usage maps, data pages, rows and
// values, overflow rows, long values and their chains, and every index against
// the rows. Claims every page the table uses in the context's page claims.
class TableChecker {
public:
    TableChecker(CheckContext& ctx, const TableDefinition& table, bool verifyIndexKeys);

    void run();

    std::size_t liveRows() const { return liveRows_; }

private:
    // The key a row should have in one physical index, kept as a 64-bit digest of
    // its bytes: the stored entry is compared with it, and a table of many rows
    // costs 16 bytes a row and index instead of a copy of every key.
    struct ExpectedEntry {
        std::uint64_t keyDigest = 0;
        std::uint32_t gap = kNoGap;    // into IndexState::gaps
        bool encoded = false;          // false: the key could not be built (see gap)
        bool anyNull = false;
        bool allNull = true;
        bool seen = false;             // met while walking the tree
    };
    static constexpr std::uint32_t kNoGap = 0xFFFFFFFFu;
    // One per physical index; `expected` runs parallel to `rows_`.
    struct IndexState {
        std::optional<KeyEncoder> encoder;
        std::vector<std::size_t> columnPositions;  // positions in TableDefinition::columns
        BulkVector<ExpectedEntry> expected;
        std::vector<KeyGap> gaps;
    };
    // A long-value row in use, and the row whose value it carries (for messages).
    struct LongValueUse {
        RowPointer segment;
        RowPointer usedBy;
    };

    void checkDefinition();
    void checkConstants();
    void checkColumns();
    void checkIndexDefinitions();
    std::optional<UsageMap> readMap(RowPointer where, std::uint32_t claimant, const std::string& what);
    void checkDataPages();
    void checkDataPageLayout(const DataPage& page);
    void checkRow(RowPointer location, RowPointer dataLocation, std::span<const std::uint8_t> raw);
    void checkValue(const Column& column, const FieldBytes& field, RowPointer at);
    void checkLongValue(const Column& column, std::span<const std::uint8_t> field, RowPointer at);
    void checkLongValueMaps();
    void readLongValuePages();
    void checkIndex(const PhysicalIndex& index, IndexState& state);
    void orderRows();
    // Position of `row` in rows_, if it is a live row of the table.
    std::optional<std::size_t> rowPosition(RowPointer row) const;
    void checkStatistics();

    std::string indexName(const PhysicalIndex& index) const;
    void damage(std::string code, std::string message, std::optional<std::uint32_t> page = std::nullopt,
                std::optional<int> row = std::nullopt);

    CheckContext& ctx_;
    const TableDefinition& t_;
    bool verifyIndexKeys_;
    std::uint32_t claimant_;
    std::uint32_t mapHostClaimant_;
    std::optional<UsageMap> owned_;
    std::unordered_set<std::uint32_t> ownedSet_;
    std::unordered_set<RowPointer> overflowTargets_;
    std::vector<LongValueUse> lvalRowsUsed_;   // sorted by segment once the rows are read
    std::vector<RowPointer> chainScratch_;     // one long value's segments
    ChainVisits chainVisits_;                  // and its cycle check
    LongValueSweep lvSweep_;
    std::vector<LongValueRowFacts> lvRowScratch_;  // one page read during a walk
    std::optional<RowSlotIndex> rowIndex_;     // over rows_, once sorted
    BulkVector<RowPointer> rows_;              // live rows (their first slot), sorted once read
    std::unordered_map<std::uint16_t, std::uint32_t> lvClaimants_;  // column number -> claimant
    std::unordered_map<std::uint16_t, std::optional<UsageMap>> lvMaps_;
    std::vector<IndexState> indexes_;
    std::size_t liveRows_ = 0;
    std::optional<std::int64_t> maxAutonumber_;
    RowDecoder decoder_;
    IndexTree tree_;  // reused by every index of the table
    std::vector<Value> scratch_;
    ByteArena keyScratch_;
    RowFields fields_;
};

}  // namespace jet
