#include "jet/table/usage_map.h"

#include <algorithm>

#include "jet/format/byte_order.h"
#include "jet/format/jet_error.h"
#include "jet/table/data_page.h"

namespace jet {

UsageMap UsageMap::read(PageFile& file, const FormatLayout& layout, RowPointer where) {
    const ErrorLocation at{.page = where.page.value, .row = where.row, .structure = "mapa de uso"};
    if (where.page.isNull() || where.page.value >= file.pageCount())
        throwCorruption("usage map reference points to page " + std::to_string(where.page.value), at);
    DataPage host(file.page(where.page), layout);
    if (where.row >= host.rowCount())
        throwCorruption("usage map row " + std::to_string(where.row) + " does not exist", at);
    return decode(file, layout, host.row(where.row), where);
}

UsageMap UsageMap::decode(PageFile& file, const FormatLayout& layout, std::span<const std::uint8_t> row,
                          RowPointer where) {
    const ErrorLocation at{.page = where.page.value, .row = where.row, .structure = "mapa de uso"};
    UsageMap map;
    map.location_ = where;
    const std::uint8_t type = bytes::u8(row, 0, at);
    const std::uint32_t pageCount = file.pageCount();
    if (type == 0) {
        map.kind_ = Kind::Inline;
        map.startPage_ = bytes::u32le(row, 1, at);
        const auto bitmap = row.subspan(5);
        map.rangeEnd_ = std::uint64_t{map.startPage_} + bitmap.size() * 8;
        map.addBits(bitmap, map.startPage_, pageCount);
    } else if (type == 1) {
        map.kind_ = Kind::Reference;
        const std::uint64_t perBitmapPage = (layout.pageSize - 4) * 8;
        const std::size_t count = (row.size() - 1) / 4;
        map.rangeEnd_ = perBitmapPage * count;
        for (std::size_t j = 0; j < count; ++j) {
            const PageNumber bp(bytes::u32le(row, 1 + 4 * j, at));
            map.bitmapPages_.push_back(bp);
            if (bp.isNull()) continue;
            // A pointer whose range lies wholly past the end of the file addresses nothing;
            // Jackcess-written global maps hold junk there (0xFFFFFF80 in testRefGlobalV2000).
            if (perBitmapPage * j >= pageCount) continue;
            if (bp.value >= pageCount)
                throwCorruption("usage map bitmap page " + std::to_string(bp.value) + " lies beyond the end of the file",
                                at);
            PageRef page = file.page(bp);
            if (page->bytes[0] != 0x05)
                throwCorruption("usage map bitmap page has type " + std::to_string(page->bytes[0]),
                                ErrorLocation{.page = bp.value, .structure = "mapa de uso"});
            map.addBits(page->span().subspan(4), perBitmapPage * j, pageCount);
        }
    } else {
        throwCorruption("unknown usage map type " + std::to_string(type), at);
    }
    return map;
}

void UsageMap::addBits(std::span<const std::uint8_t> bitmap, std::uint64_t firstPage, std::uint32_t pageCount) {
    for (std::size_t i = 0; i < bitmap.size(); ++i) {
        const std::uint8_t b = bitmap[i];
        if (b == 0) continue;
        for (unsigned k = 0; k < 8; ++k) {
            if ((b & (1u << k)) == 0) continue;
            const std::uint64_t page = firstPage + 8 * i + k;
            if (page < pageCount) pages_.emplace_back(static_cast<std::uint32_t>(page));
            else ++beyondEnd_;
        }
    }
    // Reference maps add ranges in ascending order already; inline maps are one range.
}

bool UsageMap::contains(PageNumber p) const { return std::binary_search(pages_.begin(), pages_.end(), p); }

}  // namespace jet
