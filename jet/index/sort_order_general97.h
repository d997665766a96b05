#pragma once

#include <cstdint>
#include <span>

#include "jet/index/sort_order.h"

namespace jet {

// Text key of a Jet3 value in the "General 97" order, from the value's code-page
// bytes (not Unicode: bytes undefined in the code page have codes too). The result
// is the ascending form without the column flag byte.
TextKey encodeGeneral97Text(std::span<const std::uint8_t> codePageBytes);

// Whether an inline code belongs to a letter that has accented variants: such letters
// count as significant positions in the accent stream.
bool isGeneral97SignificantCode(std::uint8_t code);

}  // namespace jet
