#include "jet/index/sort_order_general.h"

#include <algorithm>
#include <vector>

#include "jet/index/sort_order_table.h"

namespace jet {

namespace {

constexpr std::size_t kMaxIndexedCharacters = 255;
constexpr std::uint8_t kEndOfText = 0x01;
constexpr std::uint8_t kPlaceholder = 0x02;
constexpr std::uint8_t kSurrogateExtra = 0x3F;

// Surrogate halves are not in the tables; their codes follow from the unit itself.
std::uint16_t surrogateInline(std::uint16_t u) {
    if (u <= 0xDBFF) return static_cast<std::uint16_t>(u - 10238);
    const unsigned r = (u - 0xDC00u) % 1024u;
    const unsigned d = r < 8 ? 9992 : r < 262 ? 9990 : r < 516 ? 9988 : r < 770 ? 9986 : 9984;
    return static_cast<std::uint16_t>(u - d);
}

}  // namespace

TextKey encodeGeneralText(SortOrder order, std::span<const std::uint16_t> units) {
    TextKey out;
    ByteArena bytes;
    out.unsupportedCharacter = appendGeneralText(order, units, bytes);
    if (!out.unsupportedCharacter) out.bytes.assign(bytes.begin(), bytes.end());
    return out;
}

std::optional<std::uint32_t> appendGeneralText(SortOrder order, std::span<const std::uint16_t> units,
                                               ByteArena& bytes) {
    std::size_t n = units.size();
    while (n > 0 && units[n - 1] == 0x20) --n;
    if (n > kMaxIndexedCharacters) n = kMaxIndexedCharacters;

    // Room for the most a character writes inline (three bytes) and the end mark,
    // written through a pointer and cut to what was written; resizing keeps the
    // growth geometric for callers that append many keys to one buffer.
    const std::size_t start = bytes.size();
    bytes.resize(start + 3 * n + 1);
    std::uint8_t* out = bytes.data() + start;
    // Scratch reused across calls (keys are built once per row and index).
    thread_local std::vector<std::uint8_t> extra;  // one item per inline-producing character
    extra.clear();
    bool hasExtra = false;
    struct Record {
        std::size_t position;
        const SortCharEntry* entry;
    };
    thread_local std::vector<Record> records;
    records.clear();
    const SortCharFinder finder(order);
    std::size_t position = 0;  // inline-producing characters so far
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint16_t u = units[i];
        if (u >= 0xD800 && u <= 0xDFFF) {
            const std::uint16_t code = surrogateInline(u);
            *out++ = static_cast<std::uint8_t>(code >> 8);
            *out++ = static_cast<std::uint8_t>(code);
            extra.push_back(kSurrogateExtra);
            hasExtra = true;
            ++position;
            continue;
        }
        const SortCharEntry* e = finder.find(u);
        if (e == nullptr) {
            bytes.resize(static_cast<std::size_t>(out - bytes.data()));
            return u;
        }
        switch (e->kind) {
            case SortCharKind::Ignored: break;
            case SortCharKind::Unprintable: records.push_back({position, e}); break;
            case SortCharKind::Simple:
            case SortCharKind::International:
                for (std::size_t b = 0; b < e->inlineLength && b < 3; ++b) *out++ = e->inlineBytes[b];
                if (e->kind == SortCharKind::International) {
                    extra.push_back(e->extra);
                    hasExtra = true;
                } else {
                    extra.push_back(kPlaceholder);
                }
                ++position;
                break;
        }
    }
    *out++ = kEndOfText;
    bytes.resize(static_cast<std::size_t>(out - bytes.data()));
    if (hasExtra) {
        while (!extra.empty() && extra.back() <= kPlaceholder) extra.pop_back();
        bytes.insert(bytes.end(), extra.begin(), extra.end());
    }
    if (!records.empty()) {
        bytes.insert(bytes.end(), {kEndOfText, kEndOfText, kEndOfText});
        for (const auto& r : records) {
            const std::size_t tag = 0x8000u | (7u + 4u * r.position);
            bytes.push_back(static_cast<std::uint8_t>(tag >> 8));
            bytes.push_back(static_cast<std::uint8_t>(tag));
            bytes.push_back(0x06);
            bytes.insert(bytes.end(), r.entry->inlineBytes, r.entry->inlineBytes + r.entry->inlineLength);
        }
    }
    bytes.push_back(0x00);
    return std::nullopt;
}

}  // namespace jet
