#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "jet/table/data_page.h"
#include "jet/table/row_decoder.h"
#include "jet/table/usage_map.h"
#include "jet/table/value.h"
#include "jet/table/value_decoder.h"

namespace jet {

// Walks the live rows of one table in physical order: owned pages ascending, row
// slots ascending, deleted slots skipped, overflow pointers followed. For each row
// it gives the slot (what indexes point to), where the bytes really are, the raw
// bytes, the split fields and decoded values.
class TableCursor {
public:
    TableCursor(PageFile& file, const FormatLayout& layout, ValueDecoder& values, const TableDefinition& table);

    // Advances to the next live row; false at the end. Throws a corruption error
    // when the current page or row cannot be read.
    bool next();

    RowPointer location() const { return location_; }          // the slot the row is listed under
    RowPointer dataLocation() const { return dataLocation_; }  // where its bytes are (overflow target or itself)
    bool isOverflow() const { return !(location_ == dataLocation_); }
    std::span<const std::uint8_t> rawRow() const { return raw_; }

    // Split fields of the current row (computed on first use per row).
    const RowFields& fields();
    // Decoded value of column `index` (position in TableDefinition::columns).
    Value value(std::size_t index);
    // All values, in TableDefinition::columns order.
    void values(std::vector<Value>& out);

    const TableDefinition& table() const { return table_; }
    const UsageMap& ownedPages() const { return owned_; }
    // Owned pages skipped because they are not data pages of this table.
    const std::vector<PageNumber>& skippedPages() const { return skipped_; }

private:
    bool loadPage();

    PageFile& file_;
    const FormatLayout& layout_;
    ValueDecoder& values_;
    const TableDefinition& table_;
    RowDecoder decoder_;
    UsageMap owned_;
    std::size_t pageIndex_ = 0;
    std::optional<DataPage> page_;
    PageRef targetHolder_;
    int nextRow_ = 0;
    RowPointer location_;
    RowPointer dataLocation_;
    std::span<const std::uint8_t> raw_;
    RowFields fields_;
    bool fieldsReady_ = false;
    ErrorLocation where_;  // the current row, for error messages
    std::vector<PageNumber> skipped_;
};

}  // namespace jet
