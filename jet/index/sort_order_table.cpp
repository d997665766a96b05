#include "jet/index/sort_order_table.h"

#include <algorithm>
#include <iterator>
#include <vector>

namespace jet {

namespace {

// Derived from the indexes of real Access files by tools/sort_orders/derive_sort_orders.py.
constexpr SortCharEntry kGeneral97[] = {
#include "jet/index/sort_order_tables_general97.inc"
};
constexpr SortCharEntry kGeneralLegacy[] = {
#include "jet/index/sort_order_tables_general_legacy.inc"
};
constexpr SortCharEntry kGeneral[] = {
#include "jet/index/sort_order_tables_general.inc"
};

constexpr bool sortedByCharacter(std::span<const SortCharEntry> t) {
    for (std::size_t i = 1; i < t.size(); ++i) {
        if (t[i - 1].character >= t[i].character) return false;
    }
    return true;
}
static_assert(sortedByCharacter(kGeneral97) && sortedByCharacter(kGeneralLegacy) && sortedByCharacter(kGeneral),
              "sort-order tables must be sorted by character for binary search");

}  // namespace

std::span<const SortCharEntry> sortTable(SortOrder order) {
    switch (order) {
        case SortOrder::General97: return kGeneral97;
        case SortOrder::GeneralLegacy: return kGeneralLegacy;
        case SortOrder::General: return kGeneral;
    }
    return {};
}

namespace {

// Position + 1 of every UTF-16 unit in a table (0 = absent), built on first use:
// key encoding looks up every character of every indexed text value.
using CharIndex = std::vector<std::uint16_t>;

CharIndex buildCharIndex(std::span<const SortCharEntry> table) {
    CharIndex index(0x10000, 0);
    for (std::size_t i = 0; i < table.size(); ++i) index[table[i].character] = static_cast<std::uint16_t>(i + 1);
    return index;
}

const CharIndex* charIndex(SortOrder order) {
    static_assert(std::size(kGeneral97) < 0xFFFF && std::size(kGeneralLegacy) < 0xFFFF && std::size(kGeneral) < 0xFFFF,
                  "table positions must fit the index");
    switch (order) {
        case SortOrder::General97: {
            static const CharIndex index = buildCharIndex(kGeneral97);
            return &index;
        }
        case SortOrder::GeneralLegacy: {
            static const CharIndex index = buildCharIndex(kGeneralLegacy);
            return &index;
        }
        case SortOrder::General: {
            static const CharIndex index = buildCharIndex(kGeneral);
            return &index;
        }
    }
    return nullptr;
}

}  // namespace

SortCharFinder::SortCharFinder(SortOrder order) : table_(sortTable(order)) {
    static const CharIndex none(0x10000, 0);
    const CharIndex* index = charIndex(order);
    slots_ = (index ? *index : none).data();
}

const SortCharEntry* findSortChar(SortOrder order, std::uint16_t character) {
    if (const CharIndex* index = charIndex(order)) {
        const std::uint16_t slot = (*index)[character];
        return slot == 0 ? nullptr : &sortTable(order)[slot - 1];
    }
    const auto table = sortTable(order);
    const auto it = std::lower_bound(table.begin(), table.end(), character,
                                     [](const SortCharEntry& e, std::uint16_t c) { return e.character < c; });
    if (it == table.end() || it->character != character) return nullptr;
    return &*it;
}

}  // namespace jet
