#include "jet/index/sort_order.h"

namespace jet {

std::string sortOrderName(SortOrder order) {
    switch (order) {
        case SortOrder::General97: return "General 97";
        case SortOrder::GeneralLegacy: return "General legacy";
        case SortOrder::General: return "General";
    }
    return "unknown";
}

std::optional<SortOrder> sortOrderOfColumn(const Column& column, bool jet3) {
    if (column.collation != kGeneralCollation) return std::nullopt;
    if (jet3) return SortOrder::General97;
    switch (column.sortOrderVersion) {
        case 0: return SortOrder::GeneralLegacy;
        case 1: return SortOrder::General;
        default: return std::nullopt;
    }
}

}  // namespace jet
