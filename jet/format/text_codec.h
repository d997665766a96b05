#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace jet {

// Appends the UTF-8 form of one code point (surrogates and values above
// U+10FFFF become U+FFFD).
void appendUtf8(std::string& out, std::uint32_t codePoint);

// UTF-16LE code units to UTF-8; unpaired surrogates become U+FFFD, an odd
// trailing byte is ignored.
std::string decodeUtf16le(std::span<const std::uint8_t> data);

// Jet4+ text value: UTF-16LE, or the compressed form starting FF FE (one byte per
// character, a 0x00 byte toggling to two-byte units and back).
std::string decodeJet4Text(std::span<const std::uint8_t> data);

// The UTF-16 code units of the text decodeJet4Text gives, straight from the
// stored bytes into `out` (replacing its contents): unpaired surrogates become
// U+FFFD as they do there. For index keys, which are built from units.
void decodeJet4TextUnits(std::span<const std::uint8_t> data, std::vector<std::uint16_t>& out);

// Single-byte code page text (Jet3 values and names) to UTF-8. 1252 is built in;
// other code pages go through iconv, falling back to 1252 when iconv lacks them.
std::string decodeCodePage(std::span<const std::uint8_t> data, std::uint16_t codePage);

}  // namespace jet
