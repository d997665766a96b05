#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "jet/format/bulk_memory.h"
#include "jet/index/sort_order.h"

namespace jet {

// Text key of a Jet3 value in the "General 97" order, from the value's code-page
// bytes (not Unicode: bytes undefined in the code page have codes too). The result
// is the ascending form without the column flag byte; only the first 255 bytes
// count and trailing spaces are dropped.
TextKey encodeGeneral97Text(std::span<const std::uint8_t> codePageBytes);

// The same appended to `out`; returns the byte the table has no code for, if any
// (`out` then holds partial bytes the caller must not use).
std::optional<std::uint32_t> appendGeneral97Text(std::span<const std::uint8_t> codePageBytes, ByteArena& out);

// Whether an inline code is that of a significant letter (one with accented
// variants): such codes count as positions in the accent stream.
bool isGeneral97SignificantCode(std::uint8_t code);

}  // namespace jet
