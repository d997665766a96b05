#include "jet/index/key_encoder.h"

#include <cstdio>
#include <cstring>
#include <variant>

#include "jet/format/jet_error.h"
#include "jet/index/key_text_units.h"
#include "jet/index/sort_order_general.h"
#include "jet/index/sort_order_general97.h"
#include "jet/table/column_type.h"

namespace jet {

namespace {

constexpr std::uint8_t kPresentAscending = 0x7F;
constexpr std::uint8_t kPresentDescending = 0x80;
constexpr std::uint8_t kNullAscending = 0x00;
constexpr std::uint8_t kNullDescending = 0xFF;
constexpr std::uint8_t kMoreSegments = 0x09;
constexpr std::size_t kBinarySegment = 8;

using ByteVec = ByteArena;

void appendBigEndian(ByteVec& out, std::uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void invert(ByteVec& v, std::size_t from = 0) {
    for (std::size_t i = from; i < v.size(); ++i) v[i] = static_cast<std::uint8_t>(~v[i]);
}

// Two's complement big-endian with the sign bit flipped: orders signed values as bytes.
void appendSignedKey(ByteVec& out, std::int64_t v, int bytes) {
    const std::size_t from = out.size();
    appendBigEndian(out, static_cast<std::uint64_t>(v), bytes);
    out[from] ^= 0x80;
}

// IEEE big-endian; positives get the sign bit set, negatives are inverted whole.
void appendFloatKey(ByteVec& out, std::uint64_t bits, int bytes) {
    const std::size_t from = out.size();
    appendBigEndian(out, bits, bytes);
    if ((out[from] & 0x80) == 0) {
        out[from] |= 0x80;
    } else {
        invert(out, from);
    }
}

std::uint64_t doubleBits(double d) {
    std::uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

std::uint32_t floatBits(float f) {
    std::uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

// Binary values: 8-byte segments, each but the last followed by 0x09; the last is
// zero-padded and followed by its true length. Descending inverts everything but
// the 0x09 separators.
void appendBinary(ByteVec& out, std::span<const std::uint8_t> data, bool ascending) {
    if (data.empty()) return;
    std::size_t pos = 0;
    while (true) {
        const std::size_t n = std::min(kBinarySegment, data.size() - pos);
        const bool last = pos + n == data.size();
        for (std::size_t i = 0; i < kBinarySegment; ++i) {
            const std::uint8_t b = i < n ? data[pos + i] : 0;
            out.push_back(ascending ? b : static_cast<std::uint8_t>(~b));
        }
        pos += n;
        if (last) {
            const auto len = static_cast<std::uint8_t>(n);
            out.push_back(ascending ? len : static_cast<std::uint8_t>(~len));
            return;
        }
        out.push_back(kMoreSegments);
    }
}

// Numeric: sign byte plus the 128-bit magnitude big-endian. Jet4 and ACE differ in
// how the sign byte is set relative to the inversion (Jet4 keeps its known ordering
// bug for descending indexes).
void appendNumericKey(ByteVec& out, const Decimal& d, bool ascending, FormatVersion version) {
    const std::size_t from = out.size();
    out.push_back(d.negative ? 0x80 : 0x00);
    appendBigEndian(out, d.high, 8);
    appendBigEndian(out, d.low, 8);
    const bool flip = (d.negative && ascending) || (!d.negative && !ascending);
    if (version == FormatVersion::Jet4) {
        if (flip) invert(out, from);
        out[from] = d.negative ? 0x00 : 0xFF;
    } else {
        out[from] = 0xFF;
        if (flip) invert(out, from);
    }
}

KeyGap gapOf(std::size_t index, KeyGapReason reason, std::string detail, std::uint32_t character = 0) {
    KeyGap g;
    g.columnIndex = index;
    g.reason = reason;
    g.character = character;
    g.detail = std::move(detail);
    return g;
}

template <typename T>
const T* as(const Value& v) {
    return std::get_if<T>(&v);
}

}  // namespace

std::string codePointText(std::uint32_t codePoint) {
    char text[16];
    std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(codePoint));
    return text;
}

std::string keyGapDescription(const KeyGap& gap) {
    switch (gap.reason) {
        case KeyGapReason::UnsupportedCharacter: return "caractere " + codePointText(gap.character) + " sem código";
        case KeyGapReason::UnknownCollation: return "ordem de classificação desconhecida";
        case KeyGapReason::UnsupportedType: return "tipo de coluna sem codificação de chave";
        case KeyGapReason::UnexpectedValue: return "valor inesperado";
    }
    return "?";
}

std::string keyGapReasonName(KeyGapReason reason) {
    switch (reason) {
        case KeyGapReason::UnsupportedCharacter: return "character without a code";
        case KeyGapReason::UnknownCollation: return "unknown collation";
        case KeyGapReason::UnsupportedType: return "unsupported type";
        case KeyGapReason::UnexpectedValue: return "unexpected value";
    }
    return "unknown";
}

KeyEncoder::KeyEncoder(std::vector<KeyColumn> columns, FormatVersion version)
    : columns_(std::move(columns)), version_(version) {}

KeyEncoder::KeyEncoder(const TableDefinition& table, const PhysicalIndex& index, FormatVersion version)
    : version_(version) {
    const bool jet3 = version == FormatVersion::Jet3;
    for (const auto& ic : index.columns) {
        const Column* c = table.columnByNumber(ic.columnNumber);
        if (c == nullptr) {
            ErrorLocation where;
            where.page = table.tdefPage.value;
            where.table = table.name;
            where.structure = "índice";
            throwCorruption("physical index " + std::to_string(index.number) + " names missing column " +
                                std::to_string(ic.columnNumber),
                            where);
        }
        KeyColumn k;
        k.columnNumber = c->number;
        k.type = c->type;
        k.ascending = ic.ascending;
        k.collation = c->collation;
        k.codePage = c->codePage;
        if (isTextType(c->type)) k.sortOrder = sortOrderOfColumn(*c, jet3);
        columns_.push_back(k);
    }
}

KeyEncoding KeyEncoder::encode(std::span<const Value> values) const {
    KeyEncoding result;
    ByteArena bytes;
    bytes.reserve(64);
    result.gap = appendKey(values, bytes);
    result.bytes.assign(bytes.begin(), bytes.end());
    return result;
}

std::optional<KeyGap> KeyEncoder::appendKey(std::span<const Value> values, ByteArena& out) const {
    return appendKey(values, {}, out);
}

std::optional<KeyGap> KeyEncoder::appendKey(std::span<const Value> values, std::span<const KeyText> texts,
                                            ByteArena& out) const {
    std::optional<KeyGap> gap;
    if (values.size() != columns_.size()) {
        gap = gapOf(0, KeyGapReason::UnexpectedValue,
                           "expected " + std::to_string(columns_.size()) + " values, got " + std::to_string(values.size()));
        return gap;
    }
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        const KeyColumn& col = columns_[i];
        const Value& v = values[i];
        const KeyText* given = i < texts.size() && texts[i].given ? &texts[i] : nullptr;
        const bool asc = col.ascending;
        auto fail = [&](KeyGapReason r, std::string detail, std::uint32_t ch = 0) {
            gap = gapOf(i, r, std::move(detail), ch);
        };

        if (col.type == column_type::Boolean) {
            // Booleans are never NULL: the null-mask bit is the value.
            const bool* b = as<bool>(v);
            const bool value = b != nullptr && *b;
            out.push_back(asc ? kPresentAscending : kPresentDescending);
            const std::uint8_t byte = value ? 0x00 : 0xFF;
            out.push_back(asc ? byte : static_cast<std::uint8_t>(~byte));
            continue;
        }
        if (!given && isNull(v)) {
            out.push_back(asc ? kNullAscending : kNullDescending);
            continue;
        }
        out.push_back(asc ? kPresentAscending : kPresentDescending);
        // The column's bytes are written straight after the flag; `segStart` marks them
        // for inversion in descending columns.
        const std::size_t segStart = out.size();
        bool invertWhenDescending = true;
        switch (col.type) {
            case column_type::Byte:
                if (const auto* x = as<std::uint8_t>(v)) out.push_back(*x);
                else return fail(KeyGapReason::UnexpectedValue, "Byte column without a byte value"), gap;
                break;
            case column_type::Integer:
                if (const auto* x = as<std::int16_t>(v)) appendSignedKey(out, *x, 2);
                else return fail(KeyGapReason::UnexpectedValue, "Integer column without an int16 value"), gap;
                break;
            case column_type::Long:
                if (const auto* x = as<std::int32_t>(v)) appendSignedKey(out, *x, 4);
                else return fail(KeyGapReason::UnexpectedValue, "Long column without an int32 value"), gap;
                break;
            case column_type::Complex:
                if (const auto* x = as<ComplexValueId>(v)) appendSignedKey(out, static_cast<std::int32_t>(x->id), 4);
                else if (const auto* y = as<std::int32_t>(v)) appendSignedKey(out, *y, 4);
                else return fail(KeyGapReason::UnexpectedValue, "Complex column without an id"), gap;
                break;
            case column_type::Currency:
                if (const auto* x = as<Currency>(v)) appendSignedKey(out, x->scaled, 8);
                else return fail(KeyGapReason::UnexpectedValue, "Currency column without a currency value"), gap;
                break;
            case column_type::BigInt:
                if (const auto* x = as<std::int64_t>(v)) appendSignedKey(out, *x, 8);
                else return fail(KeyGapReason::UnexpectedValue, "BigInt column without an int64 value"), gap;
                break;
            case column_type::Single:
                if (const auto* x = as<float>(v)) appendFloatKey(out, floatBits(*x), 4);
                else return fail(KeyGapReason::UnexpectedValue, "Single column without a float value"), gap;
                break;
            case column_type::Double:
                if (const auto* x = as<double>(v)) appendFloatKey(out, doubleBits(*x), 8);
                else return fail(KeyGapReason::UnexpectedValue, "Double column without a double value"), gap;
                break;
            case column_type::DateTime:
                if (const auto* x = as<DateTime>(v)) appendFloatKey(out, doubleBits(x->days), 8);
                else return fail(KeyGapReason::UnexpectedValue, "Date/Time column without a date value"), gap;
                break;
            case column_type::Numeric:
                if (const auto* x = as<Decimal>(v)) appendNumericKey(out, *x, asc, version_);
                else return fail(KeyGapReason::UnexpectedValue, "Numeric column without a decimal value"), gap;
                invertWhenDescending = false;  // the rule handles direction itself
                break;
            case column_type::Guid: {
                const auto* g = as<Guid>(v);
                if (g == nullptr) return fail(KeyGapReason::UnexpectedValue, "GUID column without a GUID"), gap;
                // Textual order: the first u32 and the two u16 become big-endian.
                const auto& b = g->bytes;
                const std::uint8_t text[16] = {b[3], b[2], b[1], b[0], b[5], b[4], b[7], b[6],
                                               b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]};
                appendBinary(out, text, asc);
                continue;
            }
            case column_type::Binary:
            case column_type::Unknown0D: {
                const auto* x = as<Bytes>(v);
                if (x == nullptr) return fail(KeyGapReason::UnexpectedValue, "Binary column without bytes"), gap;
                appendBinary(out, *x, asc);
                continue;
            }
            case column_type::ExtendedDateTime: {
                const auto* x = as<ExtendedDateTime>(v);
                if (x == nullptr) return fail(KeyGapReason::UnexpectedValue, "extended date without its text"), gap;
                ByteVec stored(x->text.begin(), x->text.end());
                stored.push_back(0x00);  // the stored form ends in a NUL the decoded text drops
                appendBinary(out, stored, asc);
                continue;
            }
            case column_type::Text:
            case column_type::Memo: {
                const auto* s = as<std::string>(v);
                if (s == nullptr && !given)
                    return fail(KeyGapReason::UnexpectedValue, "text column without a string"), gap;
                if (!col.sortOrder) {
                    return fail(KeyGapReason::UnknownCollation,
                                "collation " + std::to_string(col.collation) + " has no character table"), gap;
                }
                if (*col.sortOrder == SortOrder::General97) {
                    if (col.codePage != 0 && col.codePage != 1252) {
                        return fail(KeyGapReason::UnknownCollation,
                                    "code page " + std::to_string(col.codePage) + " is not supported"), gap;
                    }
                    if (given) return fail(KeyGapReason::UnexpectedValue, "General97 text given as units"), gap;
                    std::optional<std::uint32_t> unmappable;
                    thread_local std::vector<std::uint8_t> codePageBytes;
                    utf8ToCp1252(*s, codePageBytes, unmappable);
                    if (unmappable) {
                        return fail(KeyGapReason::UnsupportedCharacter,
                                    "General 97 has no code for " + codePointText(*unmappable), *unmappable), gap;
                    }
                    if (const auto missing = appendGeneral97Text(codePageBytes, out)) {
                        out.resize(segStart);
                        return fail(KeyGapReason::UnsupportedCharacter,
                                    "General 97 has no code for byte " + codePointText(*missing), *missing), gap;
                    }
                } else {
                    // Reused across calls: the encoder runs once per row and index.
                    thread_local std::vector<std::uint16_t> fromUtf8;
                    std::span<const std::uint16_t> units;
                    if (given) {
                        units = given->units;
                    } else {
                        utf8ToUtf16Units(*s, fromUtf8);
                        units = fromUtf8;
                    }
                    if (const auto missing = appendGeneralText(*col.sortOrder, units, out)) {
                        out.resize(segStart);  // no partial text in the result
                        return fail(KeyGapReason::UnsupportedCharacter,
                                    sortOrderName(*col.sortOrder) + " has no code for " + codePointText(*missing),
                                    *missing), gap;
                    }
                }
                if (!asc && *col.sortOrder != SortOrder::General97) {
                    // Jet4+ descending text: inverted including the terminator, then a plain 0x00.
                    invert(out, segStart);
                    out.push_back(0x00);
                    invertWhenDescending = false;
                }
                break;
            }
            default:
                return fail(KeyGapReason::UnsupportedType, "no key encoding for " + columnTypeName(col.type)), gap;
        }
        if (!asc && invertWhenDescending) invert(out, segStart);
    }
    return gap;
}

}  // namespace jet
