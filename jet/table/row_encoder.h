#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "jet/format/format_layout.h"
#include "jet/table/row_decoder.h"
#include "jet/table/table_definition.h"

namespace jet {

// Builds the bytes of one row from its fields: the inverse of RowDecoder::split.
// Rows come out in the layout Access gives new rows: the table's max_cols as column
// count, every var slot of the table in the offset table, room for every fixed
// column (NULL ones zero-filled). Built once per table.
class RowEncoder {
public:
    RowEncoder(const TableDefinition& table, const FormatLayout& layout);

    // `fields` in TableDefinition::columns order, as RowFields::fields holds them
    // (present = false: NULL; Boolean: present = true). Replaces `out`'s contents.
    // Throws JetError (InvalidArgument) for a wrong field count, a fixed field of the
    // wrong size, or a row longer than a data page takes.
    void encode(std::span<const FieldBytes> fields, std::vector<std::uint8_t>& out) const;

    const TableDefinition& table() const { return *table_; }

private:
    void writeVarOffsetsJet4(const std::vector<std::size_t>& offsets, std::vector<std::uint8_t>& out) const;
    void writeVarOffsetsJet3(const std::vector<std::size_t>& offsets, std::size_t trailerBytes,
                             std::vector<std::uint8_t>& out) const;

    const TableDefinition* table_;
    FormatLayout layout_;
    bool hasVariableColumns_ = false;
    std::uint16_t columnCount_ = 0;      // stored in every row
    std::uint16_t varCount_ = 0;         // var slots stored in every row
    std::size_t fixedAreaSize_ = 0;
    std::vector<std::size_t> fixedSizes_;      // per column, as RowDecoder reads them
    std::vector<int> columnOfSlot_;            // var slot -> position in columns, -1 for none
};

}  // namespace jet
