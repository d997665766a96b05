#include "jet/index/sort_order_general97.h"

#include <array>
#include <vector>

#include "jet/index/sort_order_table.h"

namespace jet {

namespace {

constexpr std::size_t kMaxIndexedCharacters = 255;
constexpr std::uint8_t kNoAccents = 0x00;
constexpr std::uint8_t kStreamBound = 0;       // first and last nibble of the accent stream
constexpr std::uint8_t kSignificantNibble = 2;  // one per significant position before an accent

std::array<bool, 256> buildSignificantCodes() {
    std::array<bool, 256> sig{};
    const SortCharFinder finder(SortOrder::General97);
    for (std::size_t b = 0; b < finder.size(); ++b) {
        if (!finder.has(static_cast<std::uint16_t>(b))) continue;
        const SortCode code = finder.find(static_cast<std::uint16_t>(b));
        if (code.kind() == SortCharKind::Significant) {
            for (const std::uint8_t c : code.primary()) sig[c] = true;
        }
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
    ByteArena bytes;
    out.unsupportedCharacter = appendGeneral97Text(value, bytes);
    if (!out.unsupportedCharacter) out.bytes.assign(bytes.begin(), bytes.end());
    return out;
}

std::optional<std::uint32_t> appendGeneral97Text(std::span<const std::uint8_t> value, ByteArena& out) {
    // Cut to the indexed length first, then drop the trailing spaces of what is left.
    std::size_t n = std::min(value.size(), kMaxIndexedCharacters);
    while (n > 0 && value[n - 1] == 0x20) --n;
    const SortCharFinder finder(SortOrder::General97);
    const std::array<bool, 256>& significant = significantCodes();
    thread_local std::vector<std::uint8_t> nibbles;
    nibbles.clear();
    bool accents = false;
    unsigned positions = 0;  // significant positions since the last accented character
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t b = value[i];
        if (!finder.has(b)) return b;
        const SortCode code = finder.find(b);
        const auto primary = code.primary();
        switch (code.kind()) {
            case SortCharKind::Ignored: continue;
            case SortCharKind::Simple:
            case SortCharKind::Significant:
                out.insert(out.end(), primary.begin(), primary.end());
                // A ligature counts once for each significant letter code it emits.
                for (const std::uint8_t c : primary) positions += significant[c] ? 1u : 0u;
                break;
            case SortCharKind::International: {
                const auto accent = code.secondary();
                if (accent.empty()) return b;
                out.insert(out.end(), primary.begin(), primary.end());
                accents = true;
                nibbles.insert(nibbles.end(), positions, kSignificantNibble);
                nibbles.push_back(static_cast<std::uint8_t>(accent[0] & 0x0F));
                positions = 0;
                break;
            }
            default: return b;  // kinds of the Jet4+ orders have no meaning here
        }
    }
    if (!accents) {
        out.push_back(kNoAccents);
        return std::nullopt;
    }
    // Nibble stream, high nibble first: a bound, the accents with their positions,
    // a bound, padded to a whole byte.
    nibbles.insert(nibbles.begin(), kStreamBound);
    nibbles.push_back(kStreamBound);
    if (nibbles.size() % 2 != 0) nibbles.push_back(0);
    for (std::size_t i = 0; i < nibbles.size(); i += 2) {
        out.push_back(static_cast<std::uint8_t>((nibbles[i] << 4) | nibbles[i + 1]));
    }
    return std::nullopt;
}

}  // namespace jet
