#include "jet/check/long_value_sweep.h"

#include <algorithm>

#include "jet/format/byte_order.h"
#include "jet/format/jet_error.h"
#include "jet/table/data_page.h"

namespace jet {

LongValuePageFacts longValuePageFactsOf(const PageBuffer& page, const FormatLayout& layout,
                                        std::vector<LongValueRowFacts>& rows, std::size_t keepRows) {
    LongValuePageFacts f;
    f.page = page.number.value;
    f.lval = page.bytes[0] == 0x01 && bytes::u32le(page.bytes, layout.dataOwner) == kLongValueOwner;
    if (!f.lval) return f;
    try {
        const DataPage data(std::shared_ptr<const PageBuffer>(std::shared_ptr<const PageBuffer>(), &page), layout);
        f.readable = true;
        // Row pointers hold one byte: rows past 255 cannot be referenced.
        f.rowCount = static_cast<std::uint16_t>(std::min<std::size_t>(data.rowCount(), 256));
        for (std::uint16_t r = 0; r < data.rowCount(); ++r) {
            if (data.isDeleted(r)) continue;
            const unsigned row = r & 0xFFu;  // wraps, as a reference to it would
            f.live[row / 64] |= std::uint64_t{1} << (row % 64);
        }
        if (f.rowCount > keepRows) return f;
        f.rowsKept = true;
        f.firstRow = static_cast<std::uint32_t>(rows.size());
        for (std::uint16_t r = 0; r < f.rowCount; ++r) {
            LongValueRowFacts& x = rows.emplace_back();
            try {
                const std::span<const std::uint8_t> bytes = data.row(r);
                x.size = static_cast<std::uint32_t>(bytes.size());
                if (bytes.size() >= 4) x.next = bytes::u32le(bytes, 0);
            } catch (const JetError&) {
                x.size = LongValueRowFacts::kUnreadable;
            }
        }
    } catch (const JetError&) {
        f.readable = false;
    }
    return f;
}

void LongValueSweep::run(PageFile& file, const FormatLayout& layout, std::vector<std::uint32_t> pagesToRead) {
    clear();
    pages = std::move(pagesToRead);
    facts.reserve(pages.size());
    file.forEachPage(pages, [&](const PageBuffer& page) {
        const std::size_t keep = rows.size() < kRowBudget ? 256 : 0;
        facts.push_back(longValuePageFactsOf(page, layout, rows, keep));
    });
    indexPages();
}

void LongValueSweep::indexPages() {
    byPage_.clear();
    if (facts.empty()) return;
    const std::size_t span = std::size_t{facts.back().page} - facts.front().page + 1;
    if (span > 4 * facts.size() + 1024) return;  // scattered: searched instead
    byPage_.assign(span, kNotSwept);
    for (std::size_t i = 0; i < facts.size(); ++i)
        byPage_[facts[i].page - facts.front().page] = static_cast<std::uint32_t>(i);
}

void LongValueSweep::clear() {
    pages.clear();
    facts.clear();
    rows.clear();
    byPage_.clear();
}

const LongValuePageFacts* LongValueSweep::find(PageNumber p) const {
    if (!byPage_.empty()) {
        if (p.value < facts.front().page) return nullptr;
        const std::size_t at = std::size_t{p.value} - facts.front().page;
        if (at >= byPage_.size() || byPage_[at] == kNotSwept) return nullptr;
        return &facts[byPage_[at]];
    }
    const auto it = std::lower_bound(facts.begin(), facts.end(), p.value,
                                     [](const LongValuePageFacts& a, std::uint32_t v) { return a.page < v; });
    return it != facts.end() && it->page == p.value ? &*it : nullptr;
}

std::size_t LongValueSweep::bytes() const {
    return pages.capacity() * sizeof(std::uint32_t) + facts.capacity() * sizeof(LongValuePageFacts) +
           rows.capacity() * sizeof(LongValueRowFacts) + byPage_.capacity() * sizeof(std::uint32_t);
}

}  // namespace jet
