#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "jet/format/format_layout.h"
#include "jet/table/row_decoder.h"
#include "jet/table/table_definition.h"

namespace jet {

// The counts a row stores about itself. New rows take the table's; a row written
// before columns were added has smaller ones, and rewriting it with them keeps its size.
struct RowShape {
    std::uint16_t columnCount = 0;  // null mask bits; columns numbered from here on read as NULL
    std::uint16_t varCount = 0;     // var offset table entries (eod not counted)
};

// Builds the bytes of one row from its fields: the inverse of RowDecoder::split.
// Rows come out in the layout Access gives new rows: the table's max_cols as column
// count, every var slot of the table in the offset table, room for every fixed
// column (NULL ones zero-filled), at least 5 bytes. Built once per table.
class RowEncoder {
public:
    RowEncoder(const TableDefinition& table, const FormatLayout& layout);

    // `fields` in TableDefinition::columns order, as RowFields::fields holds them
    // (present = false: NULL; Boolean: present = true). Replaces `out`'s contents.
    // Throws JetError (InvalidArgument) for a wrong field count, a fixed field of the
    // wrong size, or a row longer than a data page takes.
    void encode(std::span<const FieldBytes> fields, std::vector<std::uint8_t>& out) const {
        encode(fields, standardShape(), out);
    }
    // The same with the given counts (e.g. RowFields::columnCount and varCount of the
    // row being replaced); fixed columns numbered past the count get no room. Also
    // throws when a present field has no place in that shape.
    void encode(std::span<const FieldBytes> fields, const RowShape& shape, std::vector<std::uint8_t>& out) const;

    // The counts of a new row of this table.
    RowShape standardShape() const { return RowShape{columnCount_, varCount_}; }

    const TableDefinition& table() const { return *table_; }

private:
    void writeVarOffsetsJet4(const std::vector<std::size_t>& offsets, std::uint16_t varCount,
                             std::vector<std::uint8_t>& out) const;
    void writeVarOffsetsJet3(const std::vector<std::size_t>& offsets, std::uint16_t varCount, std::size_t maskSize,
                             std::vector<std::uint8_t>& out) const;

    const TableDefinition* table_;
    FormatLayout layout_;
    bool hasVariableColumns_ = false;
    std::uint16_t columnCount_ = 0;      // of a new row
    std::uint16_t varCount_ = 0;         // of a new row
    std::vector<std::size_t> fixedSizes_;      // per column, as RowDecoder reads them
    std::vector<int> columnOfSlot_;            // var slot -> position in columns, -1 for none
};

}  // namespace jet
