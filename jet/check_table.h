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
    static constexpr std::uint32_t kNoGap = 0xFFFFFFFFu;
    // The key a row should have in one physical index, kept as a 60-bit digest of
    // its bytes: the stored entry is compared with it, and a table of many rows
    // costs 8 bytes a row and index instead of a copy of every key. Four flags
    // share the word; a key that could not be built keeps the number of its gap
    // (into IndexState::gaps) where the digest would be.
    class ExpectedEntry {
    public:
        bool encoded() const { return bits_ & kEncoded; }  // false: see gap()
        bool anyNull() const { return bits_ & kAnyNull; }
        bool allNull() const { return (bits_ & kNotAllNull) == 0; }
        bool seen() const { return bits_ & kSeen; }  // met while walking the tree
        std::uint32_t gap() const { return encoded() ? kNoGap : static_cast<std::uint32_t>(bits_ >> 4); }
        bool sameKey(std::uint64_t digest) const { return encoded() && (bits_ & ~kFlags) == (digest & ~kFlags); }

        void addColumn(bool null) {
            if (null) bits_ |= kAnyNull;
            else bits_ |= kNotAllNull;
        }
        void setSeen() { bits_ |= kSeen; }
        void setDigest(std::uint64_t digest) { bits_ = (bits_ & (kAnyNull | kNotAllNull | kSeen)) | (digest & ~kFlags) | kEncoded; }
        void setGap(std::uint32_t gap) { bits_ = (bits_ & (kAnyNull | kNotAllNull | kSeen)) | (std::uint64_t{gap} << 4); }

    private:
        static constexpr std::uint64_t kEncoded = 1, kAnyNull = 2, kNotAllNull = 4, kSeen = 8, kFlags = 15;
        std::uint64_t bits_ = std::uint64_t{kNoGap} << 4;
    };
    static_assert(sizeof(ExpectedEntry) == 8);
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
