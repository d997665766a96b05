#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "jet/check_context.h"
#include "jet/key_encoder.h"
#include "jet/row_decoder.h"
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
    // The key a row should have in one physical index.
    struct ExpectedEntry {
        std::vector<std::uint8_t> key;
        bool encoded = false;   // false: the key could not be built (see gap)
        bool anyNull = false;
        bool allNull = true;
        std::optional<KeyGap> gap;
    };
    struct IndexState {
        std::optional<KeyEncoder> encoder;
        std::vector<std::size_t> columnPositions;  // positions in TableDefinition::columns
        std::unordered_map<RowPointer, ExpectedEntry> expected;
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
    void checkIndex(const PhysicalIndex& index, IndexState& state);
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
    std::unordered_set<RowPointer> lvalRowsUsed_;
    std::unordered_map<std::uint16_t, std::uint32_t> lvClaimants_;  // column number -> claimant
    std::unordered_map<std::uint16_t, std::optional<UsageMap>> lvMaps_;
    std::vector<IndexState> indexes_;
    std::size_t liveRows_ = 0;
    std::optional<std::int64_t> maxAutonumber_;
    RowDecoder decoder_;
    std::vector<Value> scratch_;
    RowFields fields_;
};

}  // namespace jet
