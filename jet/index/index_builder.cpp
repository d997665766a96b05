#include "jet/index/index_builder.h"

#include <algorithm>

#include "jet/format/byte_order.h"
#include "jet/format/jet_error.h"

namespace jet {

bool indexEntryLess(const IndexBuildEntry& a, const IndexBuildEntry& b) {
    return compareEntryBytes(a.key, a.row, b.key, b.row) < 0;
}

IndexBuilder::IndexBuilder(IndexPageLayout layout, std::span<const IndexBuildEntry> entries)
    : layout_(layout), entries_(entries) {
    plan();
}

std::size_t IndexBuilder::entrySize(std::size_t entry, bool intermediate) const {
    return entries_[entry].key.size() + (intermediate ? 8 : 4);
}

void IndexBuilder::plan() {
    const std::size_t area = layout_.entryAreaSize();
    std::vector<PlannedPage> leaves;
    std::size_t i = 0;
    while (i < entries_.size()) {
        PlannedPage page{i, 0, i};
        std::size_t used = 0;
        while (i < entries_.size() && used + entrySize(i, false) <= area) {
            used += entrySize(i, false);
            ++i;
        }
        if (i == page.first)
            throw JetError(ErrorKind::Unsupported, "Uma chave de índice é grande demais para uma página",
                           "index entry of " + std::to_string(entrySize(i, false)) + " bytes");
        page.count = i - page.first;
        page.lastEntry = i - 1;
        leaves.push_back(page);
    }
    if (leaves.empty()) leaves.push_back(PlannedPage{0, 0, 0});
    levels_.push_back(std::move(leaves));

    while (levels_.back().size() > 1) {
        const std::vector<PlannedPage>& below = levels_.back();
        std::vector<PlannedPage> level;
        std::size_t c = 0;
        while (c < below.size()) {
            // Every child but the page's last is stored as an entry; the last is the tail.
            PlannedPage page{c, 1, below[c].lastEntry};
            std::size_t used = 0;
            std::size_t j = c + 1;
            while (j < below.size() && used + entrySize(below[j - 1].lastEntry, true) <= area) {
                used += entrySize(below[j - 1].lastEntry, true);
                ++j;
            }
            if (j == c + 1 && c + 1 < below.size() && entrySize(below[c].lastEntry, true) > area)
                throw JetError(ErrorKind::Unsupported, "Uma chave de índice é grande demais para uma página",
                               "intermediate index entry too large");
            page.count = j - c;
            page.lastEntry = below[j - 1].lastEntry;
            level.push_back(page);
            c = j;
        }
        levels_.push_back(std::move(level));
    }
    pageCount_ = 0;
    for (const auto& level : levels_) pageCount_ += level.size();
}

PageNumber IndexBuilder::write(PageNumber firstPage, std::uint32_t owner,
                               const std::function<void(PageNumber, std::span<const std::uint8_t>)>& sink) const {
    std::vector<std::uint32_t> levelStart;
    std::uint32_t next = firstPage.value;
    for (const auto& level : levels_) {
        levelStart.push_back(next);
        next += static_cast<std::uint32_t>(level.size());
    }
    const std::size_t area = layout_.entryAreaSize();
    std::vector<std::uint8_t> page(layout_.pageSize);
    std::vector<std::uint8_t> rowBytes(4);
    for (std::size_t l = 0; l < levels_.size(); ++l) {
        const bool intermediate = l > 0;
        const auto& level = levels_[l];
        for (std::size_t p = 0; p < level.size(); ++p) {
            std::fill(page.begin(), page.end(), 0);
            page[0] = intermediate ? 0x03 : 0x04;
            page[1] = 0x01;
            bytes::putU32le(page, 4, owner);
            const std::uint32_t number = levelStart[l] + static_cast<std::uint32_t>(p);
            if (p > 0) bytes::putU32le(page, layout_.prevOffset, number - 1);
            if (p + 1 < level.size()) bytes::putU32le(page, layout_.nextOffset, number + 1);
            page[layout_.nodeFlagOffset] = intermediate ? 0x01 : 0x00;

            std::size_t pos = 0;
            auto putEntry = [&](std::size_t entry, std::optional<std::uint32_t> child) {
                const IndexBuildEntry& e = entries_[entry];
                const std::size_t size = e.key.size() + (child ? 8 : 4);
                if (pos + size > area)
                    throw JetError(ErrorKind::InvalidArgument, "Erro interno ao montar um índice",
                                   "index entries overflow the page");
                std::uint8_t* at = page.data() + layout_.entriesOffset + pos;
                std::copy(e.key.begin(), e.key.end(), at);
                e.row.toIndexBytes(at + e.key.size());
                if (child) bytes::putU32be(page, layout_.entriesOffset + pos + e.key.size() + 4, *child);
                pos += size;
                const std::size_t bit = pos;  // the entry ends here
                page[layout_.maskOffset + bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
            };
            const PlannedPage& pp = level[p];
            if (!intermediate) {
                for (std::size_t e = pp.first; e < pp.first + pp.count; ++e) putEntry(e, std::nullopt);
            } else {
                const auto& below = levels_[l - 1];
                const std::uint32_t belowStart = levelStart[l - 1];
                if (pp.count == 1) {
                    // A single child is an ordinary entry, with no tail.
                    putEntry(below[pp.first].lastEntry, belowStart + static_cast<std::uint32_t>(pp.first));
                } else {
                    for (std::size_t c = pp.first; c + 1 < pp.first + pp.count; ++c)
                        putEntry(below[c].lastEntry, belowStart + static_cast<std::uint32_t>(c));
                    bytes::putU32le(page, layout_.tailOffset,
                                    belowStart + static_cast<std::uint32_t>(pp.first + pp.count - 1));
                }
            }
            bytes::putU16le(page, 2, static_cast<std::uint16_t>(layout_.pageSize - (layout_.entriesOffset + pos)));
            sink(PageNumber(number), page);
        }
    }
    return PageNumber(next - 1);
}

}  // namespace jet
