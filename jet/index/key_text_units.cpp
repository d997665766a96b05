#include "jet/index/key_text_units.h"

#include "jet/index/sort_order_table.h"

namespace jet {

namespace {

constexpr std::uint32_t kReplacement = 0xFFFD;

// Decodes the code point starting at `i` and advances `i`.
std::uint32_t nextCodePoint(std::string_view s, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int extra = 0;
    std::uint32_t cp = 0;
    if ((b0 & 0xE0) == 0xC0) {
        extra = 1;
        cp = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2;
        cp = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3;
        cp = b0 & 0x07;
    } else {
        ++i;
        return kReplacement;
    }
    if (i + static_cast<std::size_t>(extra) >= s.size()) {  // truncated sequence
        i = s.size();
        return kReplacement;
    }
    for (int k = 1; k <= extra; ++k) {
        const auto b = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
        if ((b & 0xC0) != 0x80) {
            i += static_cast<std::size_t>(k);
            return kReplacement;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    i += static_cast<std::size_t>(extra) + 1;
    return cp > 0x10FFFF ? kReplacement : cp;
}

}  // namespace

std::vector<std::uint16_t> utf8ToUtf16Units(std::string_view utf8) {
    std::vector<std::uint16_t> out;
    utf8ToUtf16Units(utf8, out);
    return out;
}

void utf8ToUtf16Units(std::string_view utf8, std::vector<std::uint16_t>& out) {
    out.clear();
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const std::uint32_t cp = nextCodePoint(utf8, i);
        if (cp >= 0x10000) {
            const std::uint32_t v = cp - 0x10000;
            out.push_back(static_cast<std::uint16_t>(0xD800 + (v >> 10)));
            out.push_back(static_cast<std::uint16_t>(0xDC00 + (v & 0x3FF)));
        } else {
            out.push_back(static_cast<std::uint16_t>(cp));
        }
    }
}

void utf8ToCp1252(std::string_view utf8, std::vector<std::uint8_t>& out, std::optional<std::uint32_t>& unmappable) {
    out.clear();
    out.reserve(utf8.size());
    unmappable.reset();
    std::size_t i = 0;
    while (i < utf8.size()) {
        const std::uint32_t cp = nextCodePoint(utf8, i);
        const auto b = general97ByteOf(cp);
        if (!b) {
            unmappable = cp;
            return;
        }
        out.push_back(*b);
    }
}

std::vector<std::uint8_t> utf8ToCp1252(std::string_view utf8, std::optional<std::uint32_t>& unmappable) {
    std::vector<std::uint8_t> out;
    utf8ToCp1252(utf8, out, unmappable);
    return out;
}

}  // namespace jet
