#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "jet/index/sort_order.h"

namespace jet {

// How one character takes part in a text key (section "text sort orders" of the
// format notes). The values are those of the generated tables.
enum class SortCharKind : std::uint8_t {
    Simple = 0,                 // inline bytes only
    International = 1,          // inline bytes and extra (accent) bytes
    Unprintable = 2,            // no inline bytes; a record with its position and code
    UnprintableExtension = 3,   // no inline bytes; a modifier added to the last extra byte
    InternationalExtended = 4,  // inline bytes, extra bytes (maybe none) and a marker flag
    Significant = 5,            // General 97: inline byte of a letter that counts before accents
    Ignored = 6,                // contributes nothing
};

std::string sortCharKindName(SortCharKind kind);

// One character's code: a view of a record of the loaded tables.
// Record layout: [kind | flag << 4] [primary length | secondary length << 4]
// primary bytes, secondary bytes.
class SortCode {
public:
    SortCode() = default;
    explicit SortCode(const std::uint8_t* record) : record_(record) {}

    SortCharKind kind() const { return static_cast<SortCharKind>(record_[0] & 0x0F); }
    // InternationalExtended: the marker flag (2 or 3).
    std::uint8_t flag() const { return static_cast<std::uint8_t>(record_[0] >> 4); }
    // Inline bytes; for Unprintable the bytes of its record.
    std::span<const std::uint8_t> primary() const { return {record_ + 2, primaryLength()}; }
    // Extra bytes (International, InternationalExtended; the accent nibble in General 97)
    // or the one-byte modifier (UnprintableExtension).
    std::span<const std::uint8_t> secondary() const {
        return {record_ + 2 + primaryLength(), static_cast<std::size_t>(record_[1] >> 4)};
    }
    std::size_t primaryLength() const { return record_[1] & 0x0F; }

private:
    const std::uint8_t* record_ = nullptr;
};

// The code of a character, or nothing when the table has none (surrogate units,
// which are computed from the unit, and General 97 beyond its 256 bytes).
std::optional<SortCode> findSortChar(SortOrder order, std::uint16_t character);

// The same lookup for a loop over many characters of one order: a direct index of
// every UTF-16 unit (General 97: every code-page byte), found once.
class SortCharFinder {
public:
    explicit SortCharFinder(SortOrder order);
    // `character` must be below size() (65,536 for the Jet4+ orders, 256 for General 97).
    // Surrogate units have no record: the caller computes them.
    bool has(std::uint16_t character) const { return offsets_[character] != kNoRecord; }
    SortCode find(std::uint16_t character) const { return SortCode(records_ + offsets_[character]); }
    std::size_t size() const { return size_; }

    static constexpr std::uint32_t kNoRecord = 0xFFFFFFFFu;

private:
    const std::uint8_t* records_;
    const std::uint32_t* offsets_;
    std::size_t size_;
};

// General 97 works on code-page 1252 bytes: the byte a Unicode character is indexed
// as (itself up to 0xFF, a few characters above map onto bytes 0x80-0x9F), or
// nothing for a character the code page lacks.
std::optional<std::uint8_t> general97ByteOf(std::uint32_t codePoint);

// Units whose code in the generated table differs from the source tables because
// stored keys of real files show another code (listed, with the evidence, at the
// top of the generated table).
std::span<const std::uint16_t> sortTableCorrections(SortOrder order);

// Memory the loaded tables of all orders take (records, per-unit index), for the
// budget test.
std::size_t sortTablesMemoryBytes();

}  // namespace jet
