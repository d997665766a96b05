#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace jet {

// Text values arrive as UTF-8; index keys are computed on the stored units.

// UTF-16 code units of a UTF-8 string (characters above U+FFFF as surrogate pairs).
// Malformed UTF-8 yields U+FFFD for the bad bytes.
std::vector<std::uint16_t> utf8ToUtf16Units(std::string_view utf8);
// The same into `out` (replacing its contents), for callers that reuse one buffer.
void utf8ToUtf16Units(std::string_view utf8, std::vector<std::uint16_t>& out);

// Windows-1252 bytes of a UTF-8 string; the five bytes undefined in 1252 come back
// from their C1 control of the same value. `unmappable` receives the first code point
// 1252 cannot hold (and the result is then incomplete).
// The code page's characters above 0xFF come from the General 97 sort order's table.
std::vector<std::uint8_t> utf8ToCp1252(std::string_view utf8, std::optional<std::uint32_t>& unmappable);
// The same into `out` (replacing its contents), for callers that reuse one buffer.
void utf8ToCp1252(std::string_view utf8, std::vector<std::uint8_t>& out, std::optional<std::uint32_t>& unmappable);

}  // namespace jet
