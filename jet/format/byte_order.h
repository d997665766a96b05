#pragma once

// Explicit little- and big-endian access to bytes read from a database file.
// Every read checks its bounds in a form that cannot overflow and reports a
// damaged structure through throwCorruption; nothing here trusts an offset.

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "jet/format/jet_error.h"

namespace jet::bytes {

using Span = std::span<const std::uint8_t>;
using MutableSpan = std::span<std::uint8_t>;

// True when [offset, offset + n) lies inside a buffer of `size` bytes.
constexpr bool fits(std::size_t size, std::size_t offset, std::size_t n) noexcept {
    return offset <= size && n <= size - offset;
}

[[noreturn]] void throwOutOfBounds(std::size_t size, std::size_t offset, std::size_t n,
                                   const ErrorLocation& where);

inline void require(Span data, std::size_t offset, std::size_t n, const ErrorLocation& where = {}) {
    if (!fits(data.size(), offset, n)) throwOutOfBounds(data.size(), offset, n, where);
}

// The sub-range [offset, offset + n), checked.
inline Span slice(Span data, std::size_t offset, std::size_t n, const ErrorLocation& where = {}) {
    require(data, offset, n, where);
    return data.subspan(offset, n);
}

// The same two for loops that run per entry or per row: `where` is a callable
// that builds the location only when the check fails.
template <class Where>
    requires std::invocable<Where&>
inline void require(Span data, std::size_t offset, std::size_t n, Where&& where) {
    if (!fits(data.size(), offset, n)) throwOutOfBounds(data.size(), offset, n, where());
}
template <class Where>
    requires std::invocable<Where&>
inline Span slice(Span data, std::size_t offset, std::size_t n, Where&& where) {
    require(data, offset, n, where);
    return data.subspan(offset, n);
}

inline std::uint8_t u8(Span d, std::size_t off, const ErrorLocation& where = {}) {
    require(d, off, 1, where);
    return d[off];
}

inline std::uint16_t u16le(Span d, std::size_t off, const ErrorLocation& where = {}) {
    require(d, off, 2, where);
    return static_cast<std::uint16_t>(d[off] | (d[off + 1] << 8));
}

inline std::uint32_t u24le(Span d, std::size_t off, const ErrorLocation& where = {}) {
    require(d, off, 3, where);
    return std::uint32_t{d[off]} | (std::uint32_t{d[off + 1]} << 8) | (std::uint32_t{d[off + 2]} << 16);
}

inline std::uint32_t u32le(Span d, std::size_t off, const ErrorLocation& where = {}) {
    require(d, off, 4, where);
    return std::uint32_t{d[off]} | (std::uint32_t{d[off + 1]} << 8) | (std::uint32_t{d[off + 2]} << 16) |
           (std::uint32_t{d[off + 3]} << 24);
}

inline std::uint64_t u64le(Span d, std::size_t off, const ErrorLocation& where = {}) {
    require(d, off, 8, where);
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | d[off + static_cast<std::size_t>(i)];
    return v;
}

inline std::int16_t i16le(Span d, std::size_t off, const ErrorLocation& where = {}) {
    return static_cast<std::int16_t>(u16le(d, off, where));
}
inline std::int32_t i32le(Span d, std::size_t off, const ErrorLocation& where = {}) {
    return static_cast<std::int32_t>(u32le(d, off, where));
}
inline std::int64_t i64le(Span d, std::size_t off, const ErrorLocation& where = {}) {
    return static_cast<std::int64_t>(u64le(d, off, where));
}

inline float f32le(Span d, std::size_t off, const ErrorLocation& where = {}) {
    const std::uint32_t bits = u32le(d, off, where);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

inline double f64le(Span d, std::size_t off, const ErrorLocation& where = {}) {
    const std::uint64_t bits = u64le(d, off, where);
    double f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

inline std::uint16_t u16be(Span d, std::size_t off, const ErrorLocation& where = {}) {
    require(d, off, 2, where);
    return static_cast<std::uint16_t>((d[off] << 8) | d[off + 1]);
}

inline std::uint32_t u24be(Span d, std::size_t off, const ErrorLocation& where = {}) {
    require(d, off, 3, where);
    return (std::uint32_t{d[off]} << 16) | (std::uint32_t{d[off + 1]} << 8) | std::uint32_t{d[off + 2]};
}

inline std::uint32_t u32be(Span d, std::size_t off, const ErrorLocation& where = {}) {
    require(d, off, 4, where);
    return (std::uint32_t{d[off]} << 24) | (std::uint32_t{d[off + 1]} << 16) | (std::uint32_t{d[off + 2]} << 8) |
           std::uint32_t{d[off + 3]};
}

// Writers, for building pages. Same bounds rule; a failure here is a program bug
// but is still reported instead of writing out of bounds.
[[noreturn]] void throwWriteOutOfBounds(std::size_t size, std::size_t offset, std::size_t n);

inline void requireWrite(MutableSpan d, std::size_t off, std::size_t n) {
    if (!fits(d.size(), off, n)) throwWriteOutOfBounds(d.size(), off, n);
}

inline void putU8(MutableSpan d, std::size_t off, std::uint8_t v) {
    requireWrite(d, off, 1);
    d[off] = v;
}
inline void putU16le(MutableSpan d, std::size_t off, std::uint16_t v) {
    requireWrite(d, off, 2);
    d[off] = static_cast<std::uint8_t>(v);
    d[off + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void putU24le(MutableSpan d, std::size_t off, std::uint32_t v) {
    requireWrite(d, off, 3);
    for (std::size_t i = 0; i < 3; ++i) d[off + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void putU32le(MutableSpan d, std::size_t off, std::uint32_t v) {
    requireWrite(d, off, 4);
    for (std::size_t i = 0; i < 4; ++i) d[off + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void putU64le(MutableSpan d, std::size_t off, std::uint64_t v) {
    requireWrite(d, off, 8);
    for (std::size_t i = 0; i < 8; ++i) d[off + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void putF64le(MutableSpan d, std::size_t off, double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    putU64le(d, off, bits);
}
inline void putU16be(MutableSpan d, std::size_t off, std::uint16_t v) {
    requireWrite(d, off, 2);
    d[off] = static_cast<std::uint8_t>(v >> 8);
    d[off + 1] = static_cast<std::uint8_t>(v);
}
inline void putU24be(MutableSpan d, std::size_t off, std::uint32_t v) {
    requireWrite(d, off, 3);
    d[off] = static_cast<std::uint8_t>(v >> 16);
    d[off + 1] = static_cast<std::uint8_t>(v >> 8);
    d[off + 2] = static_cast<std::uint8_t>(v);
}
inline void putU32be(MutableSpan d, std::size_t off, std::uint32_t v) {
    requireWrite(d, off, 4);
    for (std::size_t i = 0; i < 4; ++i) d[off + i] = static_cast<std::uint8_t>(v >> (8 * (3 - i)));
}

}  // namespace jet::bytes
