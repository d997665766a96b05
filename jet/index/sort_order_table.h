#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "jet/index/sort_order.h"

namespace jet {

// How one character takes part in a text key (section "text sort orders" of the
// format notes): inline code bytes, plus an accent nibble (General 97) or an extra
// code byte (Jet4+) for international characters, or an unprintable record.
enum class SortCharKind : std::uint8_t { Simple, International, Unprintable, Ignored };

struct SortCharEntry {
    std::uint16_t character;       // code-page byte (General 97) or UTF-16 code unit
    SortCharKind kind;
    std::uint8_t inlineLength;     // 0..3
    std::uint8_t inlineBytes[3];   // Unprintable: the record's code bytes
    std::uint8_t extra;            // International: accent nibble (97) or extra byte (Jet4+)
};

// The entry for a character, or nullptr when the table does not know it.
const SortCharEntry* findSortChar(SortOrder order, std::uint16_t character);

// The same lookup for a loop over many characters of one sort order: the table
// and its index by character are found once.
class SortCharFinder {
public:
    explicit SortCharFinder(SortOrder order);
    const SortCharEntry* find(std::uint16_t character) const {
        const std::uint16_t slot = slots_[character];
        return slot == 0 ? nullptr : &table_[slot - 1];
    }

private:
    std::span<const SortCharEntry> table_;
    const std::uint16_t* slots_;  // position + 1 of every UTF-16 unit in the table, 0 when absent
};

// The whole table (sorted by character), for coverage reports.
std::span<const SortCharEntry> sortTable(SortOrder order);

}  // namespace jet
