#include "jet/table/usage_map_writer.h"

#include <algorithm>

#include "jet/format/byte_order.h"

namespace jet {

namespace {

std::size_t roundUp(std::size_t v, std::size_t m) { return (v + m - 1) / m * m; }

void setBit(std::vector<std::uint8_t>& bitmap, std::size_t offset, std::uint64_t bit) {
    bitmap[offset + bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
}

}  // namespace

UsageMapWriter::UsageMapWriter(const FormatLayout& layout, std::size_t maxInlineBitmap)
    : layout_(layout), maxInlineBitmap_(maxInlineBitmap) {}

std::uint32_t UsageMapWriter::inlineStart(const UsageMapContent& c) const {
    if (c.pages.empty()) return c.setBeyond != 0 ? 0 : 0;
    if (c.setBeyond != 0) return 0;  // the global map always starts at page 0
    return c.pages.front().value / 8 * 8;
}

std::size_t UsageMapWriter::inlineBitmapBytes(const UsageMapContent& c) const {
    std::uint64_t end = 0;  // one past the last page the bitmap must reach
    if (!c.pages.empty()) end = std::uint64_t{c.pages.back().value} + 1;
    if (c.setBeyond != 0) end = std::max<std::uint64_t>(end, c.setBeyond);
    const std::uint64_t span = end > inlineStart(c) ? end - inlineStart(c) : 0;
    return std::max(minimumInlineBitmap(), roundUp(static_cast<std::size_t>((span + 7) / 8), 4));
}

bool UsageMapWriter::isInline(const UsageMapContent& c) const { return inlineBitmapBytes(c) <= maxInlineBitmap_; }

std::size_t UsageMapWriter::referenceSlots(const UsageMapContent& c) const {
    std::uint64_t end = 0;
    if (!c.pages.empty()) end = std::uint64_t{c.pages.back().value} + 1;
    if (c.setBeyond != 0) end = std::max<std::uint64_t>(end, c.setBeyond);
    const std::size_t needed = static_cast<std::size_t>((end + pagesPerBitmapPage() - 1) / pagesPerBitmapPage());
    // Access's reference rows address the largest file (17 pointers Jet4+, 33 Jet3).
    return std::max<std::size_t>(needed, layout_.jet3 ? 33 : 17);
}

std::vector<std::size_t> UsageMapWriter::usedSlots(const UsageMapContent& c) const {
    std::vector<std::size_t> slots;
    for (PageNumber p : c.pages) {
        const std::size_t s = p.value / pagesPerBitmapPage();
        if (slots.empty() || slots.back() != s) slots.push_back(s);
    }
    if (c.setBeyond != 0) {
        // The slot holding the end of the file gets the "beyond" bits; the slots
        // after it are wholly beyond the end and stay without a page.
        const std::size_t s = c.setBeyond / pagesPerBitmapPage();
        if (s < referenceSlots(c) && (slots.empty() || slots.back() != s)) slots.push_back(s);
    }
    return slots;
}

std::size_t UsageMapWriter::rowLength(const UsageMapContent& c) const {
    if (isInline(c)) return 5 + inlineBitmapBytes(c);
    return 1 + 4 * referenceSlots(c);
}

std::size_t UsageMapWriter::bitmapPageCount(const UsageMapContent& c) const {
    return isInline(c) ? 0 : usedSlots(c).size();
}

std::vector<std::uint8_t> UsageMapWriter::encodeRow(const UsageMapContent& c,
                                                    const std::vector<PageNumber>& bitmapPages) const {
    if (isInline(c)) {
        const std::uint32_t start = inlineStart(c);
        const std::size_t n = inlineBitmapBytes(c);
        std::vector<std::uint8_t> row(5 + n, 0);
        row[0] = 0x00;
        bytes::putU32le(row, 1, start);
        for (PageNumber p : c.pages) setBit(row, 5, p.value - start);
        if (c.setBeyond != 0)
            for (std::uint64_t p = c.setBeyond; p < std::uint64_t{start} + 8 * n; ++p) setBit(row, 5, p - start);
        return row;
    }
    const std::size_t slots = referenceSlots(c);
    std::vector<std::uint8_t> row(1 + 4 * slots, 0);
    row[0] = 0x01;
    const std::vector<std::size_t> used = usedSlots(c);
    for (std::size_t i = 0; i < used.size() && i < bitmapPages.size(); ++i)
        bytes::putU32le(row, 1 + 4 * used[i], bitmapPages[i].value);
    return row;
}

std::vector<std::vector<std::uint8_t>> UsageMapWriter::bitmapPageContents(const UsageMapContent& c) const {
    std::vector<std::vector<std::uint8_t>> out;
    if (isInline(c)) return out;
    const std::uint32_t per = pagesPerBitmapPage();
    for (std::size_t slot : usedSlots(c)) {
        std::vector<std::uint8_t> page(layout_.pageSize, 0);
        page[0] = 0x05;
        page[1] = 0x01;
        const std::uint64_t first = std::uint64_t{slot} * per;
        for (PageNumber p : c.pages)
            if (p.value >= first && p.value < first + per) setBit(page, 4, p.value - first);
        if (c.setBeyond != 0)
            for (std::uint64_t p = std::max<std::uint64_t>(first, c.setBeyond); p < first + per; ++p)
                setBit(page, 4, p - first);
        out.push_back(std::move(page));
    }
    return out;
}

}  // namespace jet
