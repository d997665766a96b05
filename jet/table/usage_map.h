#pragma once

#include <cstdint>
#include <vector>

#include "jet/format/format_layout.h"
#include "jet/format/page_file.h"
#include "jet/format/page_number.h"

namespace jet {

// A set of pages stored as a row on a usage-map host page: inline (type 0, a
// start page and a bitmap) or by reference (type 1, pointers to 0x05 bitmap pages).
class UsageMap {
public:
    enum class Kind : std::uint8_t { Inline = 0, Reference = 1 };

    // Reads the map whose row `where` designates. Pages at or beyond `pageCount`
    // are counted in beyondEnd() instead of being listed. Throws a corruption error
    // when the row or a bitmap page cannot be read.
    static UsageMap read(PageFile& file, const FormatLayout& layout, RowPointer where);

    // Decodes a map from its row bytes (reference maps read their bitmap pages from `file`).
    static UsageMap decode(PageFile& file, const FormatLayout& layout, std::span<const std::uint8_t> row,
                           RowPointer where);

    Kind kind() const { return kind_; }
    RowPointer location() const { return location_; }
    std::uint32_t startPage() const { return startPage_; }          // inline maps
    // Reference maps: every stored pointer (0 = none). Pointers whose range starts past
    // the end of the file are kept here but not read.
    const std::vector<PageNumber>& bitmapPages() const { return bitmapPages_; }
    std::uint64_t rangeEnd() const { return rangeEnd_; }             // first page past what the map can address

    // Pages in the set that lie inside the file, ascending.
    const std::vector<PageNumber>& pages() const { return pages_; }
    // Members at or beyond the end of the file.
    std::uint64_t beyondEnd() const { return beyondEnd_; }
    bool contains(PageNumber p) const;

private:
    void addBits(std::span<const std::uint8_t> bitmap, std::uint64_t firstPage, std::uint32_t pageCount);

    Kind kind_ = Kind::Inline;
    RowPointer location_;
    std::uint32_t startPage_ = 0;
    std::vector<PageNumber> bitmapPages_;
    std::uint64_t rangeEnd_ = 0;
    std::vector<PageNumber> pages_;
    std::uint64_t beyondEnd_ = 0;
};

}  // namespace jet
