#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "jet/format/format_layout.h"
#include "jet/format/jet_error.h"
#include "jet/table/table_definition.h"

namespace jet {

// One column of one row, before value decoding.
struct FieldBytes {
    bool present = false;                  // false: NULL (Boolean: the value false)
    std::span<const std::uint8_t> bytes;   // value bytes (empty for Booleans)
};

// A row split into its parts. Reused from row to row to avoid allocations.
struct RowFields {
    std::uint16_t columnCount = 0;   // column count stored in the row
    std::uint16_t varCount = 0;      // var slots stored in the row
    std::size_t fixedAreaEnd = 0;    // first byte after the fixed area (= first var offset when present)
    std::vector<std::uint16_t> varOffsets;  // varCount + 1 entries (last = eod), row-relative
    std::span<const std::uint8_t> nullMask;
    std::vector<FieldBytes> fields;  // one per column, in TableDefinition::columns order
};

// Splits rows of one table into column values: null mask, fixed area, variable
// offsets (Jet3 with its jump table). Built once per table.
class RowDecoder {
public:
    RowDecoder(const TableDefinition& table, const FormatLayout& layout);

    // Fills `out` from `row`. Throws a corruption error (with `where`) when the row's
    // structure contradicts itself or the definition.
    void split(std::span<const std::uint8_t> row, RowFields& out, const ErrorLocation& where) const;

    const TableDefinition& table() const { return *table_; }

private:
    void readVarOffsetsJet4(std::span<const std::uint8_t> row, std::size_t maskSize, RowFields& out,
                            const ErrorLocation& where) const;
    void readVarOffsetsJet3(std::span<const std::uint8_t> row, std::size_t maskSize, RowFields& out,
                            const ErrorLocation& where) const;

    const TableDefinition* table_;
    FormatLayout layout_;
    bool hasVariableColumns_ = false;
    std::vector<std::size_t> fixedSizes_;  // per column, size of its fixed value
};

}  // namespace jet
