#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "jet/table/salvage_item.h"

namespace jet {

using RepairItem = SalvageItem;

// What a repair did. A sound file gives an empty report.
struct RepairReport {
    std::vector<RepairItem> items;
    bool rewritten = false;  // the file was written anew (not only patched in place)

    std::uint64_t rowsDropped() const;
    std::uint64_t valuesChanged() const;
    std::size_t tablesAffected() const;
    bool lostOrChangedData() const { return !items.empty(); }
};

}  // namespace jet
