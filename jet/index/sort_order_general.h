#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "jet/format/bulk_memory.h"
#include "jet/index/sort_order.h"

namespace jet {

// Text key of a Jet4+ value in "General legacy" or "General" order, from its UTF-16
// code units. The result is the ascending form without the column flag byte; only
// the first 255 units count and trailing spaces are dropped.
TextKey encodeGeneralText(SortOrder order, std::span<const std::uint16_t> units);

// The same appended to `out`; returns the unit that has no code (a surrogate half
// without its partner), if any (`out` then holds partial bytes the caller must not use).
std::optional<std::uint32_t> appendGeneralText(SortOrder order, std::span<const std::uint16_t> units,
                                               ByteArena& out);

}  // namespace jet
