#include "jet/index/sort_order_general.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "jet/index/sort_order_table.h"

namespace jet {

namespace {

constexpr std::size_t kMaxIndexedCharacters = 255;
constexpr std::size_t kMaxInlineBytes = 15;  // the record format's bound on a code
constexpr std::uint8_t kEndOfText = 0x01;
constexpr std::uint8_t kEndOfKey = 0x00;
constexpr std::uint8_t kPlaceholder = 0x02;  // extra item of a character without extra bytes
constexpr std::uint8_t kSurrogateExtra = 0x3F;
constexpr std::uint8_t kUnprintableMark = 0x06;
constexpr std::uint16_t kUnprintablePositionFlag = 0x8000;
constexpr std::uint8_t kFlagByte = 0x80;       // top bits of a byte of packed marker flags
constexpr std::uint8_t kDroppedFlag = 3;       // trailing flags of this value are left out
constexpr std::uint8_t kFlagsSuffix[] = {0xFF, 0x02, 0x80, 0xFF, 0x80};
constexpr std::uint8_t kFlagsBeforeUnprintable = 0xFF;

bool isHighSurrogate(std::uint16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLowSurrogate(std::uint16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Surrogate halves are not in the tables; their codes follow from the unit itself.
std::uint16_t surrogateInline(std::uint16_t u) {
    if (isHighSurrogate(u)) return static_cast<std::uint16_t>(u - 10238);
    const unsigned r = (u - 0xDC00u) % 1024u;
    const unsigned d = r < 8 ? 9992 : r < 262 ? 9990 : r < 516 ? 9988 : r < 770 ? 9986 : 9984;
    return static_cast<std::uint16_t>(u - d);
}

// The extra (accent) part: one item per inline-producing character up to the last
// character that has extra bytes, placeholders for those without.
struct ExtraStream {
    std::vector<std::uint8_t> bytes;
    std::size_t items = 0;         // characters the stream accounts for
    std::size_t prefix = 0;        // a modifier that came before any item
    bool started = false;

    void clear() {
        bytes.clear();
        items = 0;
        prefix = 0;
        started = false;
    }
    void fillTo(std::size_t position) {
        if (items < position) {
            bytes.insert(bytes.end(), position - items, kPlaceholder);
            items = position;
        }
    }
    void add(std::size_t position, std::span<const std::uint8_t> extra) {
        started = true;
        fillTo(position);
        bytes.insert(bytes.end(), extra.begin(), extra.end());
        ++items;
    }
    // An unprintable extension changes the last extra byte rather than adding an item.
    void modify(std::size_t position, std::uint8_t modifier) {
        started = true;
        fillTo(position);
        if (bytes.empty()) {
            bytes.push_back(modifier);
            prefix = 1;
        } else {
            bytes.back() = static_cast<std::uint8_t>(bytes.back() + modifier);
        }
    }
    // Position an unprintable character records: counted in the extra stream once
    // one exists, without a leading modifier.
    std::size_t unprintablePosition(std::size_t position) const {
        if (!started) return position;
        return bytes.size() + (position - std::min(position, items)) - prefix;
    }
};

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
    // Cut to the indexed length first, then drop the trailing spaces of what is left.
    std::size_t n = std::min(units.size(), kMaxIndexedCharacters);
    while (n > 0 && units[n - 1] == 0x20) --n;

    // Room for the most any character writes inline and the end mark, written through
    // a pointer and cut to what was written; resizing keeps the growth geometric for
    // callers that append many keys to one buffer.
    const std::size_t start = bytes.size();
    bytes.resize(start + kMaxInlineBytes * n + 1);
    std::uint8_t* out = bytes.data() + start;
    // Scratch reused across calls (keys are built once per row and index).
    thread_local ExtraStream extra;
    extra.clear();
    thread_local std::vector<std::uint8_t> unprintable;  // finished records
    unprintable.clear();
    thread_local std::vector<std::uint8_t> flags;
    flags.clear();
    const SortCharFinder finder(order);
    std::size_t position = 0;  // inline-producing characters so far
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint16_t u = units[i];
        if (!finder.has(u)) {
            // Surrogates: a pair's halves are coded one by one (the pair is judged on the
            // whole value, so a pair cut by the length limit keeps its first half).
            const bool paired = (isHighSurrogate(u) && i + 1 < units.size() && isLowSurrogate(units[i + 1])) ||
                                (isLowSurrogate(u) && i > 0 && isHighSurrogate(units[i - 1]));
            if (!paired) {
                bytes.resize(static_cast<std::size_t>(out - bytes.data()));
                return u;
            }
            const std::uint16_t code = surrogateInline(u);
            *out++ = static_cast<std::uint8_t>(code >> 8);
            *out++ = static_cast<std::uint8_t>(code);
            extra.add(position, std::span<const std::uint8_t>(&kSurrogateExtra, 1));
            ++position;
            continue;
        }
        const SortCode code = finder.find(u);
        const SortCharKind kind = code.kind();
        if (kind == SortCharKind::Simple) {  // the common case first
            const std::size_t len = code.primaryLength();
            std::memcpy(out, code.primary().data(), len);
            out += len;
            ++position;
            continue;
        }
        switch (kind) {
            case SortCharKind::Ignored: break;
            case SortCharKind::International:
            case SortCharKind::InternationalExtended: {
                const auto primary = code.primary();
                std::memcpy(out, primary.data(), primary.size());
                out += primary.size();
                if (!code.secondary().empty()) extra.add(position, code.secondary());
                if (kind == SortCharKind::InternationalExtended) flags.push_back(code.flag());
                ++position;
                break;
            }
            case SortCharKind::UnprintableExtension:
                if (!code.secondary().empty() && code.secondary()[0] != 0) extra.modify(position, code.secondary()[0]);
                break;
            case SortCharKind::Unprintable: {
                const std::size_t tag = kUnprintablePositionFlag | (7u + 4u * extra.unprintablePosition(position));
                unprintable.push_back(static_cast<std::uint8_t>(tag >> 8));
                unprintable.push_back(static_cast<std::uint8_t>(tag));
                unprintable.push_back(kUnprintableMark);
                unprintable.insert(unprintable.end(), code.primary().begin(), code.primary().end());
                break;
            }
            default:  // Simple is handled above; Significant belongs to General 97 only
                bytes.resize(static_cast<std::size_t>(out - bytes.data()));
                return u;
        }
    }
    *out++ = kEndOfText;
    bytes.resize(static_cast<std::size_t>(out - bytes.data()));

    while (!extra.bytes.empty() && extra.bytes.back() <= kPlaceholder) extra.bytes.pop_back();
    bytes.insert(bytes.end(), extra.bytes.begin(), extra.bytes.end());
    if (!flags.empty() || !unprintable.empty()) {
        bytes.insert(bytes.end(), {kEndOfText, kEndOfText});
        if (!flags.empty()) {
            while (!flags.empty() && flags.back() == kDroppedFlag) flags.pop_back();
            // Three flags a byte, in bits 5-4, 3-2 and 1-0.
            for (std::size_t f = 0; f < flags.size(); f += 3) {
                std::uint8_t packed = kFlagByte;
                for (std::size_t k = 0; k < 3 && f + k < flags.size(); ++k) {
                    packed = static_cast<std::uint8_t>(packed | ((flags[f + k] & 0x03) << (4 - 2 * k)));
                }
                bytes.push_back(packed);
            }
            bytes.insert(bytes.end(), std::begin(kFlagsSuffix), std::end(kFlagsSuffix));
            if (!unprintable.empty()) bytes.push_back(kFlagsBeforeUnprintable);
        }
        if (!unprintable.empty()) {
            bytes.push_back(kEndOfText);
            bytes.insert(bytes.end(), unprintable.begin(), unprintable.end());
        }
    }
    bytes.push_back(kEndOfKey);
    return std::nullopt;
}

}  // namespace jet
