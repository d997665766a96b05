#pragma once

#include <cstdint>
#include <vector>

#include "jet/format/format_layout.h"
#include "jet/format/page_number.h"

namespace jet {

// A set of pages to store as a usage map. Pages beyond `setBeyond` (when non-zero)
// are members too: the global map marks every page past the end of the file free.
struct UsageMapContent {
    std::vector<PageNumber> pages;  // ascending, no duplicates
    std::uint32_t setBeyond = 0;    // 0: none
};

// Encodes usage maps as rows: inline (start page a multiple of 8, then a bitmap)
// when the range fits in `maxInlineBitmap` bytes, otherwise a reference map whose
// pointers lead to 0x05 bitmap pages, which the caller places and passes in.
class UsageMapWriter {
public:
    UsageMapWriter(const FormatLayout& layout, std::size_t maxInlineBitmap);

    // Bitmap bytes every inline row has at least (Access's smallest rows).
    std::size_t minimumInlineBitmap() const { return layout_.jet3 ? 128 : 64; }
    // Pages one 0x05 bitmap page covers.
    std::uint32_t pagesPerBitmapPage() const { return static_cast<std::uint32_t>((layout_.pageSize - 4) * 8); }

    bool isInline(const UsageMapContent& content) const;
    // Row length the map will have.
    std::size_t rowLength(const UsageMapContent& content) const;
    // Number of 0x05 pages a reference map needs (0 for inline maps).
    std::size_t bitmapPageCount(const UsageMapContent& content) const;

    // The row. For reference maps, `bitmapPages` are the page numbers of the
    // bitmap pages, in the order bitmapPages() returns their contents.
    std::vector<std::uint8_t> encodeRow(const UsageMapContent& content, const std::vector<PageNumber>& bitmapPages) const;
    // The 0x05 pages of a reference map, in order.
    std::vector<std::vector<std::uint8_t>> bitmapPageContents(const UsageMapContent& content) const;

private:
    std::uint32_t inlineStart(const UsageMapContent& content) const;
    std::size_t inlineBitmapBytes(const UsageMapContent& content) const;
    std::size_t referenceSlots(const UsageMapContent& content) const;
    // Slots (ranges of pagesPerBitmapPage) that hold at least one member.
    std::vector<std::size_t> usedSlots(const UsageMapContent& content) const;

    FormatLayout layout_;
    std::size_t maxInlineBitmap_;
};

}  // namespace jet
