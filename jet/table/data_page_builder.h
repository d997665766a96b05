#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "jet/format/format_layout.h"

namespace jet {

// Fills one data page (table rows, long-value rows or usage-map rows): rows packed
// from the end of the page downwards, the row offset table after the header, the
// free-space field kept exact. Rows are numbered from 0 in the order they are added.
class DataPageBuilder {
public:
    static constexpr std::size_t kMaxRows = 255;  // row numbers are one byte

    DataPageBuilder(const FormatLayout& layout, std::uint32_t owner);

    // True when a row of `length` bytes still fits (with its offset-table entry).
    bool fits(std::size_t length) const;
    // Largest row an empty page takes.
    static std::size_t maxRowLength(const FormatLayout& layout);
    // Adds the row and returns its row number; throws when it does not fit.
    std::uint8_t add(std::span<const std::uint8_t> row);
    // Adds a zero-filled row of `length` bytes (its number is rowCount() - 1) and
    // returns its bytes for the caller to fill before the page is finished.
    std::span<std::uint8_t> addBlank(std::size_t length);

    std::size_t rowCount() const { return rowCount_; }
    bool empty() const { return rowCount_ == 0; }
    std::size_t freeSpace() const;

    // Jet4+ bytes 8..11 (the stamp of a long-value chain's first page).
    void setHeaderWord08(std::uint32_t value);

    // The finished page; the builder starts a fresh page with the same owner.
    std::vector<std::uint8_t> take();
    // The finished page as a view, valid until the next change to the builder;
    // clear() then starts a fresh page in the same buffer (no allocation per page).
    std::span<const std::uint8_t> finished();
    void clear() { reset(); }

private:
    void reset();

    FormatLayout layout_;
    std::uint32_t owner_;
    std::vector<std::uint8_t> page_;
    std::size_t rowCount_ = 0;
    std::size_t top_ = 0;  // lowest byte used by rows
};

}  // namespace jet
