#pragma once

#include <cstdint>
#include <span>

#include "jet/format/format_layout.h"
#include "jet/format/page_file.h"

namespace jet {

// Row offset table entry flags.
namespace row_flag {
inline constexpr std::uint16_t OffsetMask = 0x1FFF;
inline constexpr std::uint16_t Unknown2000 = 0x2000;
inline constexpr std::uint16_t Overflow = 0x4000;  // slot holds a pointer to the moved row
inline constexpr std::uint16_t Deleted = 0x8000;   // deleted, or the target of an overflow pointer
}  // namespace row_flag

// The owner field of data pages that hold long values rather than a table's rows.
inline constexpr std::uint32_t kLongValueOwner = 0x4C41564Cu;  // "LVAL"

// A view of a data page (table rows, long values, usage-map rows, page 1).
// Construction checks the header fits; row accessors check every slot.
class DataPage {
public:
    DataPage(PageRef page, const FormatLayout& layout);

    PageNumber number() const { return page_->number; }
    std::span<const std::uint8_t> bytes() const { return page_->span(); }
    std::uint8_t type() const { return page_->bytes[0]; }
    std::uint16_t freeSpace() const;
    std::uint32_t owner() const;
    bool isLongValuePage() const { return owner() == kLongValueOwner; }
    std::uint16_t rowCount() const { return rowCount_; }

    std::uint16_t slot(std::uint16_t row) const;  // raw offset table entry
    bool isDeleted(std::uint16_t row) const { return (slot(row) & row_flag::Deleted) != 0; }
    bool isOverflow(std::uint16_t row) const { return (slot(row) & row_flag::Overflow) != 0; }

    // The row's bytes: from its offset up to the previous row's offset (or the page
    // end for row 0). Throws a corruption error when the slot is inconsistent.
    std::span<const std::uint8_t> row(std::uint16_t row) const;

    const PageRef& page() const { return page_; }

private:
    PageRef page_;
    const FormatLayout* layout_;
    std::uint16_t rowCount_ = 0;
};

}  // namespace jet
