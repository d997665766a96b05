#include "jet/table/long_value_reader.h"

#include <algorithm>

#include "jet/format/byte_order.h"
#include "jet/table/data_page.h"

namespace jet {

LongValueDescriptor LongValueDescriptor::parse(std::span<const std::uint8_t> field, const ErrorLocation& where) {
    if (field.size() < 12) throwCorruption("long value descriptor shorter than 12 bytes", where);
    LongValueDescriptor d;
    const std::uint32_t head = bytes::u32le(field, 0);
    d.length = head & 0x3FFFFFFFu;
    d.kind = static_cast<Kind>((head >> 24) & 0xC0);
    d.pointer = RowPointer::fromDescriptor(bytes::u32le(field, 4));
    d.stamp = bytes::u32le(field, 8);
    return d;
}

std::span<const std::uint8_t> LongValueReader::lvalRow(RowPointer p, PageRef& holder, const ErrorLocation& where) {
    // The location of the LVAL row is put together only for an error: this runs
    // for every row of every long value.
    auto fail = [&](const std::string& detail) {
        ErrorLocation at = where;
        at.page = p.page.value;
        at.row = p.row;
        at.structure = "valor longo";
        throwCorruption(detail, at);
    };
    if (p.page.isNull() || p.page.value >= file_.pageCount())
        fail("long value pointer to page " + std::to_string(p.page.value));
    holder = file_.page(p.page);
    if (holder->bytes[0] != 0x01) fail("long value pointer to a page that is not a data page");
    if (bytes::u32le(holder->span(), layout_.dataOwner) != kLongValueOwner)
        fail("long value pointer to a data page that does not hold long values");
    DataPage page(holder, layout_);
    if (p.row >= page.rowCount()) fail("long value pointer to a missing row");
    return page.row(p.row);
}

std::vector<std::uint8_t> LongValueReader::read(std::span<const std::uint8_t> field, const ErrorLocation& where,
                                                std::vector<LongValueSegment>* segments) {
    std::vector<std::uint8_t> out;
    readInto(field, where, out, segments);
    return out;
}

void LongValueReader::readInto(std::span<const std::uint8_t> field, const ErrorLocation& where,
                               std::vector<std::uint8_t>& out, std::vector<LongValueSegment>* segments) {
    out.clear();
    forEachPart(
        field, where,
        [&out](std::span<const std::uint8_t> piece) {
            if (out.empty()) out.reserve(piece.size());
            out.insert(out.end(), piece.begin(), piece.end());
        },
        segments);
}

void LongValueReader::forEachPart(std::span<const std::uint8_t> field, const ErrorLocation& where,
                                  const std::function<void(std::span<const std::uint8_t>)>& part,
                                  std::vector<LongValueSegment>* segments) {
    const LongValueDescriptor d = LongValueDescriptor::parse(field, where);
    switch (d.kind) {
        case LongValueDescriptor::Kind::Inline: {
            if (d.length > field.size() - 12) throwCorruption("inline long value longer than its field", where);
            part(field.subspan(12, d.length));
            return;
        }
        case LongValueDescriptor::Kind::SingleRow: {
            PageRef holder;
            const auto row = lvalRow(d.pointer, holder, where);
            if (row.size() < d.length) throwCorruption("long value row shorter than the value", where);
            part(row.first(d.length));
            if (segments) segments->push_back({d.pointer, d.length});
            return;
        }
        case LongValueDescriptor::Kind::Chain: {
            visits_.clear();
            std::size_t done = 0;
            RowPointer p = d.pointer;
            while (done < d.length) {
                if (p.isNull()) throwCorruption("long value chain ends before its length", where);
                if (!visits_.firstVisit(p)) throwCorruption("long value chain forms a cycle", where);
                PageRef holder;
                const auto row = lvalRow(p, holder, where);
                if (row.size() < 4) throwCorruption("long value chain row shorter than its pointer", where);
                const std::size_t take = std::min<std::size_t>(row.size() - 4, d.length - done);
                part(row.subspan(4, take));
                done += take;
                if (segments) segments->push_back({p, take});
                p = RowPointer::fromDescriptor(bytes::u32le(row, 0));
            }
            return;
        }
        case LongValueDescriptor::Kind::Invalid: break;
    }
    throwCorruption("long value descriptor has both storage flags set", where);
}

}  // namespace jet
