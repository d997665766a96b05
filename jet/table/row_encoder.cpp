#include "jet/table/row_encoder.h"

#include <algorithm>
#include <string>

#include "jet/format/byte_order.h"
#include "jet/format/jet_error.h"
#include "jet/table/data_page_builder.h"

namespace jet {

namespace {

// Rows are never shorter than this, so that any row can later be replaced in place
// by a 4-byte overflow pointer (Access keeps the same minimum). The padding goes in
// the fixed area, where readers look at nothing but the columns' offsets.
constexpr std::size_t kMinRowLength = 5;

[[noreturn]] void throwBadRow(const std::string& detail, const TableDefinition& table) {
    ErrorLocation at;
    at.table = table.name;
    at.structure = "linha";
    throw JetError(ErrorKind::InvalidArgument, "Erro interno ao montar uma linha", detail, at);
}

}  // namespace

RowEncoder::RowEncoder(const TableDefinition& table, const FormatLayout& layout) : table_(&table), layout_(layout) {
    std::size_t columnCount = table.maxColumns;
    std::size_t varCount = table.varColumnSlots;
    fixedSizes_.reserve(table.columns.size());
    for (const Column& c : table.columns) {
        columnCount = std::max<std::size_t>(columnCount, std::size_t{c.number} + 1);
        // The same sizes RowDecoder reads, so that what one writes the other finds.
        std::size_t size = fixedSizeOf(c.type);
        if (size == 0 && !c.isBoolean()) size = c.length;
        fixedSizes_.push_back(size);
        if (!c.isBoolean() && !c.isFixed()) {
            hasVariableColumns_ = true;
            varCount = std::max<std::size_t>(varCount, std::size_t{c.varSlot} + 1);
        }
    }
    if (table.varColumnSlots > 0) hasVariableColumns_ = true;
    if (columnCount > (layout.jet3 ? 0xFFu : 0xFFFFu) || varCount > (layout.jet3 ? 0xFFu : 0xFFFFu))
        throwBadRow("table has " + std::to_string(columnCount) + " columns and " + std::to_string(varCount) +
                        " var slots, more than a row can count",
                    table);
    columnCount_ = static_cast<std::uint16_t>(columnCount);
    varCount_ = hasVariableColumns_ ? static_cast<std::uint16_t>(varCount) : 0;
    columnOfSlot_.assign(varCount_, -1);
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
        const Column& c = table.columns[i];
        if (!c.isBoolean() && !c.isFixed()) columnOfSlot_[c.varSlot] = static_cast<int>(i);
    }
}

void RowEncoder::encode(std::span<const FieldBytes> fields, const RowShape& shape,
                        std::vector<std::uint8_t>& out) const {
    const auto& cols = table_->columns;
    if (fields.size() != cols.size())
        throwBadRow(std::to_string(fields.size()) + " fields for " + std::to_string(cols.size()) + " columns", *table_);
    if ((layout_.jet3 && (shape.columnCount > 0xFF || shape.varCount > 0xFF)) ||
        (!hasVariableColumns_ && shape.varCount != 0))
        throwBadRow("row shape of " + std::to_string(shape.columnCount) + " columns and " +
                        std::to_string(shape.varCount) + " var slots does not suit the table",
                    *table_);

    const std::size_t countSize = layout_.jet3 ? 1 : 2;
    const std::size_t maskSize = (std::size_t{shape.columnCount} + 7) / 8;

    // Sizes first: the fixed area spans every fixed column the row counts, and the
    // var data size decides the padding.
    std::size_t fixedSize = 0;
    std::size_t varBytes = 0;
    for (std::size_t i = 0; i < cols.size(); ++i) {
        const Column& c = cols[i];
        const FieldBytes& f = fields[i];
        const bool counted = c.number < shape.columnCount && (c.isFixed() || c.isBoolean() || c.varSlot < shape.varCount);
        if (f.present && !counted)
            throwBadRow("column " + c.name + " has a value but no place in a row of " +
                            std::to_string(shape.columnCount) + " columns and " + std::to_string(shape.varCount) +
                            " var slots",
                        *table_);
        if (c.isBoolean() || c.number >= shape.columnCount) continue;
        if (c.isFixed()) fixedSize = std::max(fixedSize, std::size_t{c.fixedOffset} + fixedSizes_[i]);
        else if (f.present) varBytes += f.bytes.size();
    }
    const std::size_t offsetBytes =
        hasVariableColumns_ ? (layout_.jet3 ? 1u : 2u) * (std::size_t{shape.varCount} + 2) : 0;
    const std::size_t minimum = countSize + fixedSize + varBytes + offsetBytes + maskSize;
    if (minimum < kMinRowLength) fixedSize += kMinRowLength - minimum;

    out.assign(countSize + fixedSize, 0);
    if (layout_.jet3) bytes::putU8(out, 0, static_cast<std::uint8_t>(shape.columnCount));
    else bytes::putU16le(out, 0, shape.columnCount);

    std::vector<std::uint8_t> mask(maskSize, 0);
    for (std::size_t i = 0; i < cols.size(); ++i) {
        const Column& c = cols[i];
        const FieldBytes& f = fields[i];
        if (!f.present) continue;
        mask[c.number / 8] = static_cast<std::uint8_t>(mask[c.number / 8] | (1u << (c.number % 8)));
        if (c.isBoolean() || !c.isFixed()) continue;
        if (f.bytes.size() != fixedSizes_[i])
            throwBadRow("fixed value of column " + c.name + " has " + std::to_string(f.bytes.size()) +
                            " bytes, needs " + std::to_string(fixedSizes_[i]),
                        *table_);
        bytes::requireWrite(out, countSize + c.fixedOffset, f.bytes.size());
        std::copy(f.bytes.begin(), f.bytes.end(), out.begin() + static_cast<std::ptrdiff_t>(countSize + c.fixedOffset));
    }

    if (hasVariableColumns_) {
        std::vector<std::size_t> offsets;  // shape.varCount + 1 entries, the last being eod
        offsets.reserve(std::size_t{shape.varCount} + 1);
        for (std::size_t slot = 0; slot < shape.varCount; ++slot) {
            offsets.push_back(out.size());
            const int index = slot < columnOfSlot_.size() ? columnOfSlot_[slot] : -1;
            if (index < 0) continue;  // a deleted column's slot stays, empty
            const FieldBytes& f = fields[static_cast<std::size_t>(index)];
            if (f.present) out.insert(out.end(), f.bytes.begin(), f.bytes.end());
        }
        offsets.push_back(out.size());
        if (layout_.jet3) writeVarOffsetsJet3(offsets, shape.varCount, maskSize, out);
        else writeVarOffsetsJet4(offsets, shape.varCount, out);
    }
    out.insert(out.end(), mask.begin(), mask.end());

    if (out.size() > DataPageBuilder::maxRowLength(layout_))
        throwBadRow("row of " + std::to_string(out.size()) + " bytes is longer than a page takes (" +
                        std::to_string(DataPageBuilder::maxRowLength(layout_)) + ")",
                    *table_);
}

void RowEncoder::writeVarOffsetsJet4(const std::vector<std::size_t>& offsets, std::uint16_t varCount,
                                     std::vector<std::uint8_t>& out) const {
    // Stored backwards: eod at the lowest address, slot 0 next to the var count.
    const std::size_t start = out.size();
    out.resize(start + 2 * offsets.size() + 2);
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        if (offsets[i] > 0xFFFF) throwBadRow("var offset " + std::to_string(offsets[i]) + " too large", *table_);
        bytes::putU16le(out, start + 2 * (offsets.size() - 1 - i), static_cast<std::uint16_t>(offsets[i]));
    }
    bytes::putU16le(out, out.size() - 2, varCount);
}

void RowEncoder::writeVarOffsetsJet3(const std::vector<std::size_t>& offsets, std::uint16_t varCount,
                                     std::size_t maskSize, std::vector<std::uint8_t>& out) const {
    // The jump table has (L - 1) / 256 entries and counts in L itself: grow it until
    // the row length it implies needs no more entries.
    const std::size_t eodPos = out.size();
    const std::size_t lengthWithoutJumps = eodPos + offsets.size() + 1 + maskSize;
    std::size_t jumps = 0;
    while ((lengthWithoutJumps + jumps - 1) / 256 > jumps) ++jumps;

    // Offset bytes backwards (eod lowest), then the jump entries, entry 0 nearest N.
    for (std::size_t i = offsets.size(); i-- > 0;) out.push_back(static_cast<std::uint8_t>(offsets[i] & 0xFF));
    std::vector<std::uint8_t> jumpEntries(jumps, 0xFF);  // 0xFF: a dummy entry no offset reaches
    for (std::size_t k = 0; k < jumps; ++k) {
        for (std::size_t i = 0; i < offsets.size(); ++i) {
            if (offsets[i] >= 256 * (k + 1)) {
                jumpEntries[k] = static_cast<std::uint8_t>(i);
                break;
            }
        }
    }
    for (std::size_t k = jumps; k-- > 0;) out.push_back(jumpEntries[k]);
    out.push_back(static_cast<std::uint8_t>(varCount));
}

}  // namespace jet
