#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace jet {

// A page of the file: page n starts at byte n * page_size.
struct PageNumber {
    std::uint32_t value = 0;

    constexpr PageNumber() = default;
    constexpr explicit PageNumber(std::uint32_t v) : value(v) {}

    constexpr bool isNull() const noexcept { return value == 0; }
    friend constexpr auto operator<=>(PageNumber, PageNumber) = default;
};

// A row slot on a data page. Stored two ways in files:
//  - descriptor form (TDEF map references, overflow and long-value pointers):
//    a u32 little-endian equal to (page << 8) | row;
//  - index form (index entries): page as 3 bytes big-endian, then the row byte.
struct RowPointer {
    PageNumber page;
    std::uint8_t row = 0;

    constexpr RowPointer() = default;
    constexpr RowPointer(PageNumber p, std::uint8_t r) : page(p), row(r) {}

    static constexpr RowPointer fromDescriptor(std::uint32_t raw) noexcept {
        return RowPointer(PageNumber(raw >> 8), static_cast<std::uint8_t>(raw & 0xFF));
    }
    constexpr std::uint32_t toDescriptor() const noexcept { return (page.value << 8) | row; }

    // The four bytes of the index form; `b` must hold at least 4 bytes.
    static constexpr RowPointer fromIndexBytes(const std::uint8_t* b) noexcept {
        return RowPointer(PageNumber((std::uint32_t{b[0]} << 16) | (std::uint32_t{b[1]} << 8) | b[2]), b[3]);
    }
    constexpr void toIndexBytes(std::uint8_t* b) const noexcept {
        b[0] = static_cast<std::uint8_t>(page.value >> 16);
        b[1] = static_cast<std::uint8_t>(page.value >> 8);
        b[2] = static_cast<std::uint8_t>(page.value);
        b[3] = row;
    }

    constexpr bool isNull() const noexcept { return page.value == 0 && row == 0; }
    friend constexpr auto operator<=>(const RowPointer&, const RowPointer&) = default;
};

}  // namespace jet

template <>
struct std::hash<jet::PageNumber> {
    std::size_t operator()(jet::PageNumber p) const noexcept { return std::hash<std::uint32_t>{}(p.value); }
};

template <>
struct std::hash<jet::RowPointer> {
    std::size_t operator()(const jet::RowPointer& r) const noexcept {
        return std::hash<std::uint64_t>{}((std::uint64_t{r.page.value} << 8) | r.row);
    }
};
