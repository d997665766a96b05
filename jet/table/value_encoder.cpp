#include "jet/table/value_encoder.h"

#include <cstring>
#include <map>

#include "jet/format/byte_order.h"
#include "jet/format/jet_error.h"
#include "jet/format/text_codec.h"
#include "jet/table/data_page_builder.h"

namespace jet {

namespace {

constexpr std::uint32_t kReplacement = 0xFFFD;
constexpr std::uint32_t kInlineLongValue = 0x80000000u;
constexpr std::size_t kLongValueDescriptorSize = 12;
// Longer Memo texts stay uncompressed, as Access is reported to leave them.
constexpr std::size_t kMaxCompressedMemoChars = 1024;

[[noreturn]] void throwBadValue(const Column& column, const std::string& detail) {
    ErrorLocation at;
    at.structure = "coluna " + column.name;
    throw JetError(ErrorKind::InvalidArgument, "Erro interno ao montar um valor", detail, at);
}

// The next code point of UTF-8 text; malformed bytes give U+FFFD, one byte at a time.
std::uint32_t nextCodePoint(std::string_view s, std::size_t& pos) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(s[i]); };
    const std::uint8_t lead = byte(pos);
    std::size_t extra = 0;
    std::uint32_t cp = 0;
    if (lead < 0x80) {
        ++pos;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1;
        cp = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2;
        cp = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3;
        cp = lead & 0x07;
    } else {
        ++pos;
        return kReplacement;
    }
    if (pos + extra >= s.size()) {  // cut short by the end of the text
        ++pos;
        return kReplacement;
    }
    for (std::size_t i = 1; i <= extra; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80) {
            ++pos;
            return kReplacement;
        }
        cp = (cp << 6) | (byte(pos + i) & 0x3F);
    }
    static constexpr std::uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    pos += extra + 1;
    if (cp < kSmallest[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kReplacement;
    return cp;
}

std::vector<std::uint16_t> utf16Units(std::string_view utf8) {
    std::vector<std::uint16_t> units;
    units.reserve(utf8.size());
    for (std::size_t pos = 0; pos < utf8.size();) {
        const std::uint32_t cp = nextCodePoint(utf8, pos);
        if (cp >= 0x10000) {
            units.push_back(static_cast<std::uint16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            units.push_back(static_cast<std::uint16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            units.push_back(static_cast<std::uint16_t>(cp));
        }
    }
    return units;
}

// Code point -> byte of a single-byte code page, found by decoding each byte once
// through the same codec the reader uses, so that writing and reading agree.
std::map<std::uint32_t, std::uint8_t> reverseCodePage(std::uint16_t codePage) {
    std::map<std::uint32_t, std::uint8_t> table;
    for (unsigned b = 0; b < 256; ++b) {
        const std::uint8_t one[1] = {static_cast<std::uint8_t>(b)};
        const std::string utf8 = decodeCodePage(one, codePage);
        std::size_t pos = 0;
        if (utf8.empty()) continue;
        const std::uint32_t cp = nextCodePoint(utf8, pos);
        if (cp == kReplacement || pos != utf8.size()) continue;
        table.emplace(cp, static_cast<std::uint8_t>(b));
    }
    return table;
}

template <class T>
const T& expect(const Column& column, const Value& value) {
    if (const T* v = std::get_if<T>(&value)) return *v;
    throwBadValue(column, "value of variant index " + std::to_string(value.index()) + " for a column of type " +
                              columnTypeName(column.type));
}

void putFixed(std::vector<std::uint8_t>& out, std::size_t size, auto&& write) {
    out.assign(size, 0);
    write(bytes::MutableSpan(out));
}

}  // namespace

ValueEncoder::ValueEncoder(const FormatLayout& layout, std::uint16_t databaseCodePage)
    : layout_(layout), codePage_(databaseCodePage) {}

void ValueEncoder::encodeCodePageText(std::string_view utf8, std::uint16_t codePage,
                                      std::vector<std::uint8_t>& out) const {
    out.clear();
    std::map<std::uint32_t, std::uint8_t> table;  // built on the first non-ASCII character
    for (std::size_t pos = 0; pos < utf8.size();) {
        const std::uint32_t cp = nextCodePoint(utf8, pos);
        if (cp < 0x80) {  // the same in every single-byte code page the engine reads
            out.push_back(static_cast<std::uint8_t>(cp));
            continue;
        }
        if (table.empty()) table = reverseCodePage(codePage);
        const auto it = table.find(cp);
        if (it == table.end()) {
            throw JetError(ErrorKind::InvalidArgument, "O texto tem caracteres que a página de código " +
                                                          std::to_string(codePage) + " não representa",
                           "code point " + std::to_string(cp) + " missing from code page " + std::to_string(codePage));
        }
        out.push_back(it->second);
    }
}

void ValueEncoder::encodeText(const Column& column, std::string_view utf8, std::vector<std::uint8_t>& out) const {
    if (layout_.jet3) {
        encodeCodePageText(utf8, column.codePage != 0 ? column.codePage : codePage_, out);
        return;
    }
    const std::vector<std::uint16_t> units = utf16Units(utf8);
    // The compressed form toggles modes on a zero byte, so only text of units
    // 0x01..0xFF is compressed: one byte each, no toggles. Short text gains nothing.
    // Text columns compress when their flag says so; Access compresses Memo text
    // although Memo columns never carry the flag (seen on every inline memo of the corpus).
    const bool allowed = column.type == column_type::Memo ? units.size() <= kMaxCompressedMemoChars
                                                          : column.allowsCompressedUnicode();
    bool compress = allowed && units.size() > 2;
    for (std::size_t i = 0; compress && i < units.size(); ++i) compress = units[i] >= 0x01 && units[i] <= 0xFF;
    out.clear();
    if (compress) {
        out.reserve(units.size() + 2);
        out.push_back(0xFF);
        out.push_back(0xFE);
        for (std::uint16_t u : units) out.push_back(static_cast<std::uint8_t>(u));
        return;
    }
    out.resize(2 * units.size());
    for (std::size_t i = 0; i < units.size(); ++i) bytes::putU16le(out, 2 * i, units[i]);
}

FieldBytes ValueEncoder::encode(const Column& column, const Value& value, std::vector<std::uint8_t>& storage) const {
    storage.clear();
    if (column.isBoolean()) {
        if (isNull(value)) return FieldBytes{};
        return FieldBytes{expect<bool>(column, value), {}};
    }
    if (isNull(value)) return FieldBytes{};
    if (column.isCalculated()) throwBadValue(column, "calculated columns are not written");

    switch (column.type) {
        case column_type::Byte:
            storage.assign(1, expect<std::uint8_t>(column, value));
            break;
        case column_type::Integer: {
            const auto v = static_cast<std::uint16_t>(expect<std::int16_t>(column, value));
            putFixed(storage, 2, [&](bytes::MutableSpan d) { bytes::putU16le(d, 0, v); });
            break;
        }
        case column_type::Long: {
            const auto v = static_cast<std::uint32_t>(expect<std::int32_t>(column, value));
            putFixed(storage, 4, [&](bytes::MutableSpan d) { bytes::putU32le(d, 0, v); });
            break;
        }
        case column_type::BigInt: {
            const auto v = static_cast<std::uint64_t>(expect<std::int64_t>(column, value));
            putFixed(storage, 8, [&](bytes::MutableSpan d) { bytes::putU64le(d, 0, v); });
            break;
        }
        case column_type::Complex: {
            const std::uint32_t v = expect<ComplexValueId>(column, value).id;
            putFixed(storage, 4, [&](bytes::MutableSpan d) { bytes::putU32le(d, 0, v); });
            break;
        }
        case column_type::Currency: {
            const auto v = static_cast<std::uint64_t>(expect<Currency>(column, value).scaled);
            putFixed(storage, 8, [&](bytes::MutableSpan d) { bytes::putU64le(d, 0, v); });
            break;
        }
        case column_type::Single: {
            const float f = expect<float>(column, value);
            std::uint32_t bits;
            std::memcpy(&bits, &f, sizeof bits);
            putFixed(storage, 4, [&](bytes::MutableSpan d) { bytes::putU32le(d, 0, bits); });
            break;
        }
        case column_type::Double: {
            const double v = expect<double>(column, value);
            putFixed(storage, 8, [&](bytes::MutableSpan d) { bytes::putF64le(d, 0, v); });
            break;
        }
        case column_type::DateTime: {
            const double v = expect<DateTime>(column, value).days;
            putFixed(storage, 8, [&](bytes::MutableSpan d) { bytes::putF64le(d, 0, v); });
            break;
        }
        case column_type::Guid: {
            const Guid& g = expect<Guid>(column, value);
            storage.assign(g.bytes.begin(), g.bytes.end());
            break;
        }
        case column_type::Numeric: {
            // Sign byte, then the 128-bit magnitude as four u32 words, most significant first.
            const Decimal& d = expect<Decimal>(column, value);
            putFixed(storage, 17, [&](bytes::MutableSpan out) {
                bytes::putU8(out, 0, d.negative ? 0x80 : 0x00);
                bytes::putU32le(out, 1, static_cast<std::uint32_t>(d.high >> 32));
                bytes::putU32le(out, 5, static_cast<std::uint32_t>(d.high));
                bytes::putU32le(out, 9, static_cast<std::uint32_t>(d.low >> 32));
                bytes::putU32le(out, 13, static_cast<std::uint32_t>(d.low));
            });
            break;
        }
        case column_type::Text: {
            encodeText(column, expect<std::string>(column, value), storage);
            // The declared length counts the uncompressed form (two bytes a character in Jet4+).
            const std::size_t size = storage.size() >= 2 && storage[0] == 0xFF && storage[1] == 0xFE && !layout_.jet3
                                         ? 2 * (storage.size() - 2)
                                         : storage.size();
            if (column.length != 0 && size > column.length)
                throwBadValue(column, "text of " + std::to_string(size) + " bytes for a column of " +
                                          std::to_string(column.length));
            break;
        }
        case column_type::Memo:
        case column_type::Ole: {
            std::vector<std::uint8_t> data;
            if (column.type == column_type::Memo) encodeText(column, expect<std::string>(column, value), data);
            else data = expect<Bytes>(column, value);
            if (data.size() + kLongValueDescriptorSize > DataPageBuilder::maxRowLength(layout_))
                throwBadValue(column, "long value of " + std::to_string(data.size()) + " bytes cannot sit in a row");
            // Descriptor: length with the inline kind, no LVAL pointer, no stamp; the data follows.
            storage.assign(kLongValueDescriptorSize, 0);
            bytes::putU32le(storage, 0, static_cast<std::uint32_t>(data.size()) | kInlineLongValue);
            storage.insert(storage.end(), data.begin(), data.end());
            break;
        }
        case column_type::Binary: {
            storage = expect<Bytes>(column, value);
            if (column.length != 0 && storage.size() > column.length)
                throwBadValue(column, "binary of " + std::to_string(storage.size()) + " bytes for a column of " +
                                          std::to_string(column.length));
            break;
        }
        default:
            throwBadValue(column, "values of type " + columnTypeName(column.type) + " are not written");
    }
    return FieldBytes{true, storage};
}

void EncodedFields::assign(const ValueEncoder& encoder, const TableDefinition& table, const std::vector<Value>& values) {
    if (values.size() != table.columns.size())
        throw JetError(ErrorKind::InvalidArgument, "Erro interno ao montar uma linha",
                       std::to_string(values.size()) + " values for " + std::to_string(table.columns.size()) +
                           " columns of " + table.name);
    // Sized first: the fields point into these buffers, which must not move afterwards.
    storage_.resize(values.size());
    fields_.resize(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) fields_[i] = encoder.encode(table.columns[i], values[i], storage_[i]);
}

}  // namespace jet
