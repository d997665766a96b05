#include "jet/table/row_decoder.h"

#include "jet/format/byte_order.h"

namespace jet {

RowDecoder::RowDecoder(const TableDefinition& table, const FormatLayout& layout) : table_(&table), layout_(layout) {
    fixedSizes_.reserve(table.columns.size());
    for (const Column& c : table.columns) {
        if (!c.isFixed() && !c.isBoolean()) hasVariableColumns_ = true;
        std::size_t size = fixedSizeOf(c.type);
        if (size == 0 && !c.isBoolean()) size = c.length;  // unknown fixed types: the declared length
        fixedSizes_.push_back(size);
    }
    if (table.varColumnSlots > 0) hasVariableColumns_ = true;
}

void RowDecoder::split(std::span<const std::uint8_t> row, RowFields& out, const ErrorLocation& where) const {
    const std::size_t L = row.size();
    const std::size_t countSize = layout_.jet3 ? 1 : 2;
    out.columnCount = layout_.jet3 ? bytes::u8(row, 0, where) : bytes::u16le(row, 0, where);
    const std::size_t maskSize = (std::size_t{out.columnCount} + 7) / 8;
    if (L < countSize + maskSize) throwCorruption("row too short for its null mask", where);
    out.nullMask = row.subspan(L - maskSize);

    out.varCount = 0;
    out.varOffsets.clear();
    std::size_t trailerStart = L - maskSize;  // first byte not available to values
    if (hasVariableColumns_) {
        if (layout_.jet3) readVarOffsetsJet3(row, maskSize, out, where);
        else readVarOffsetsJet4(row, maskSize, out, where);
        trailerStart = out.varOffsets.empty() ? trailerStart : out.varOffsets.back();
    }
    out.fixedAreaEnd = out.varOffsets.empty() ? trailerStart : out.varOffsets.front();

    const auto& cols = table_->columns;
    out.fields.resize(cols.size());
    for (std::size_t i = 0; i < cols.size(); ++i) {
        const Column& c = cols[i];
        FieldBytes& f = out.fields[i];
        f.bytes = {};
        if (c.number >= out.columnCount) {
            f.present = false;
            continue;
        }
        f.present = (out.nullMask[c.number / 8] & (1u << (c.number % 8))) != 0;
        if (!f.present || c.isBoolean()) continue;
        if (c.isFixed()) {
            const std::size_t start = countSize + c.fixedOffset;
            const std::size_t size = fixedSizes_[i];
            if (!bytes::fits(trailerStart, start, size)) {
                ErrorLocation at = where;
                at.table = table_->name;
                throwCorruption("fixed value of column " + c.name + " lies outside the row", at);
            }
            f.bytes = row.subspan(start, size);
        } else {
            if (c.varSlot >= out.varCount) {
                f.present = false;
                continue;
            }
            const std::size_t a = out.varOffsets[c.varSlot];
            const std::size_t b = out.varOffsets[std::size_t{c.varSlot} + 1];
            f.bytes = row.subspan(a, b - a);
        }
    }
}

void RowDecoder::readVarOffsetsJet4(std::span<const std::uint8_t> row, std::size_t maskSize, RowFields& out,
                                    const ErrorLocation& where) const {
    const std::size_t L = row.size();
    if (L < 2 + maskSize + 2) throwCorruption("row too short for its variable column count", where);
    const std::size_t countPos = L - maskSize - 2;
    out.varCount = bytes::u16le(row, countPos, where);
    const std::size_t tableBytes = 2 * (std::size_t{out.varCount} + 1);
    if (tableBytes > countPos || countPos - tableBytes < 2)
        throwCorruption("variable offset table of " + std::to_string(out.varCount) + " entries does not fit the row",
                        where);
    const std::size_t tableStart = countPos - tableBytes;  // eod lives here
    out.varOffsets.resize(std::size_t{out.varCount} + 1);
    std::uint16_t previous = 0;
    for (std::size_t i = 0; i <= out.varCount; ++i) {
        const std::uint16_t off = bytes::u16le(row, countPos - 2 - 2 * i, where);
        if (off < previous || off > tableStart || off < 2)
            throwCorruption("variable offset " + std::to_string(off) + " of slot " + std::to_string(i) + " is invalid",
                            where);
        out.varOffsets[i] = off;
        previous = off;
    }
}

void RowDecoder::readVarOffsetsJet3(std::span<const std::uint8_t> row, std::size_t maskSize, RowFields& out,
                                    const ErrorLocation& where) const {
    const std::size_t L = row.size();
    if (L < 1 + maskSize + 1) throwCorruption("row too short for its variable column count", where);
    const std::size_t end = L - 1;
    const std::size_t countPos = end - maskSize;
    out.varCount = row[countPos];
    std::size_t jumps = (L - 1) / 256;
    // Position of slot 0's offset byte; the offsets then run downwards to eod.
    if (countPos < jumps + 1 + out.varCount + 1)
        throwCorruption("variable offset table of " + std::to_string(out.varCount) + " entries does not fit the row",
                        where);
    const std::size_t off0 = countPos - jumps - 1;
    // A trailing jump entry can be a dummy (0xFF) when the offsets do not reach that
    // far; it still occupies its byte.
    if ((off0 - out.varCount) / 256 < jumps) --jumps;
    const std::size_t eodPos = off0 - out.varCount;
    out.varOffsets.resize(std::size_t{out.varCount} + 1);
    std::size_t used = 0;
    std::size_t previous = 0;
    for (std::size_t i = 0; i <= out.varCount; ++i) {
        while (used < jumps && row[countPos - 1 - used] == i) ++used;
        const std::size_t off = row[off0 - i] + 256 * used;
        if (off < previous || off > eodPos || off < 1)
            throwCorruption("variable offset " + std::to_string(off) + " of slot " + std::to_string(i) + " is invalid",
                            where);
        out.varOffsets[i] = static_cast<std::uint16_t>(off);
        previous = off;
    }
}

}  // namespace jet
