#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jet/check/check_rows.h"
#include "jet/check/finding.h"
#include "jet/format/bulk_memory.h"
#include "jet/index/index_tree.h"
#include "jet/index/key_encoder.h"
#include "jet/index/row_slot_index.h"
#include "jet/table/table_definition.h"

namespace jet {

// The live rows of a table (the first slot of each), sorted, with a lookup by
// slot. The comparisons of the table's indexes share them.
struct TableRows {
    explicit TableRows(BulkVector<RowPointer> sorted);
    // Position of `row` in `rows`, if it is a live row of the table.
    std::optional<std::size_t> position(RowPointer row) const;

    BulkVector<RowPointer> rows;
    RowSlotIndex index;
};

// What comparing one index's entries with its table's rows needs, owned, so that
// the comparison may run after the table's check has moved on.
struct IndexComparison {
    std::shared_ptr<const TableRows> rows;
    const PhysicalIndex* index = nullptr;  // in the database's definitions
    std::string table;
    std::string indexName;
    IndexTree tree;
    BulkVector<ExpectedEntry> expected;  // parallel to rows->rows
    std::vector<KeyGap> gaps;
    std::uint32_t tdefPage = 0;
    std::uint32_t distinctKeysOffset = 0;  // of the index's statistic in the definition
};

// Goes through the tree's entries and the rows' expected entries: every entry
// must point to a live row, once, with the key the row's values give; unique and
// required indexes must hold; every row must be in the index (unless it ignores
// its nulls); the stored count of distinct keys must match. Each finding goes to
// `add`, in order. The kinds found here are found nowhere else in a check.
void compareIndexEntries(IndexComparison& c, const std::function<void(Finding)>& add);

}  // namespace jet
