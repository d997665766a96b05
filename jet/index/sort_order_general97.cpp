#include "jet/index/sort_order_general97.h"

#include <array>
#include <vector>

#include "jet/index/sort_order_table.h"

namespace jet {

namespace {

// A letter is significant when some international character uses its code as base.
std::array<bool, 256> buildSignificantCodes() {
    std::array<bool, 256> sig{};
    for (const auto& e : sortTable(SortOrder::General97)) {
        if (e.kind == SortCharKind::International && e.inlineLength > 0) sig[e.inlineBytes[0]] = true;
    }
    return sig;
}

const std::array<bool, 256>& significantCodes() {
    static const std::array<bool, 256> sig = buildSignificantCodes();
    return sig;
}

}  // namespace

bool isGeneral97SignificantCode(std::uint8_t code) { return significantCodes()[code]; }

TextKey encodeGeneral97Text(std::span<const std::uint8_t> value) {
    TextKey out;
    std::size_t n = value.size();
    while (n > 0 && value[n - 1] == 0x20) --n;  // trailing spaces do not count
    std::vector<std::uint8_t> nibbles;
    bool international = false;
    unsigned significant = 0;  // significant positions since the last international character
    for (std::size_t i = 0; i < n; ++i) {
        const SortCharEntry* e = findSortChar(SortOrder::General97, value[i]);
        if (e == nullptr || e->kind == SortCharKind::Unprintable) {
            out.bytes.clear();
            out.unsupportedCharacter = value[i];
            return out;
        }
        if (e->kind == SortCharKind::Ignored) continue;
        out.bytes.insert(out.bytes.end(), e->inlineBytes, e->inlineBytes + e->inlineLength);
        if (e->kind == SortCharKind::International) {
            international = true;
            nibbles.insert(nibbles.end(), significant, std::uint8_t{2});
            nibbles.push_back(e->extra);
            significant = 0;
        } else {
            // A ligature counts once for each significant letter code it emits.
            for (std::uint8_t k = 0; k < e->inlineLength; ++k) {
                if (isGeneral97SignificantCode(e->inlineBytes[k])) ++significant;
            }
        }
    }
    if (!international) {
        out.bytes.push_back(0x00);
        return out;
    }
    std::vector<std::uint8_t> stream;
    stream.reserve(nibbles.size() + 3);
    stream.push_back(0);
    stream.insert(stream.end(), nibbles.begin(), nibbles.end());
    stream.push_back(0);
    if (stream.size() % 2 != 0) stream.push_back(0);
    for (std::size_t i = 0; i < stream.size(); i += 2) {
        out.bytes.push_back(static_cast<std::uint8_t>((stream[i] << 4) | (stream[i + 1] & 0x0F)));
    }
    return out;
}

}  // namespace jet
