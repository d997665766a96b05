#include "jet/sort_order_table.h"

#include <algorithm>

namespace jet {

namespace {

// Derived from the indexes of real Access files by tools/sort_orders/derive_sort_orders.py.
constexpr SortCharEntry kGeneral97[] = {
#include "jet/sort_order_tables_general97.inc"
};
constexpr SortCharEntry kGeneralLegacy[] = {
#include "jet/sort_order_tables_general_legacy.inc"
};
constexpr SortCharEntry kGeneral[] = {
#include "jet/sort_order_tables_general.inc"
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

const SortCharEntry* findSortChar(SortOrder order, std::uint16_t character) {
    const auto table = sortTable(order);
    const auto it = std::lower_bound(table.begin(), table.end(), character,
                                     [](const SortCharEntry& e, std::uint16_t c) { return e.character < c; });
    if (it == table.end() || it->character != character) return nullptr;
    return &*it;
}

}  // namespace jet
