#include "jet/table/value_decoder.h"

#include "jet/format/byte_order.h"
#include "jet/format/text_codec.h"

namespace jet {

namespace {

void requireSize(std::span<const std::uint8_t> data, std::size_t n, std::uint8_t type, const ErrorLocation& where) {
    if (data.size() < n)
        throwCorruption("value of type " + columnTypeName(type) + " has " + std::to_string(data.size()) +
                            " bytes, needs " + std::to_string(n),
                        where);
}

}  // namespace

Value ValueDecoder::decodeCalculated(std::uint8_t type, std::span<const std::uint8_t> data, const Column& column,
                                     const ErrorLocation& at) const {
    // Calculated values: 16 unknown bytes, u32 data length, the data, 3 trailing bytes.
    if (data.size() < 20) throwCorruption("calculated value shorter than its wrapper", at);
    const std::uint32_t n = bytes::u32le(data, 16, at);
    const auto inner = bytes::slice(data, 20, n, at);
    if (inner.empty()) return Value{};  // Access stores an empty result for expressions that gave NULL
    if (type == column_type::Numeric) {
        // Its own layout: precision, an unknown byte, scale, sign, then the magnitude as
        // a u32 (upper 32 bits) and a u64 (lower 64 bits), both little-endian.
        if (inner.size() < 16) throwCorruption("calculated decimal shorter than 16 bytes", at);
        Decimal d;
        d.precision = inner[0];
        d.scale = inner[2];
        d.negative = (inner[3] & 0x80) != 0;
        d.high = bytes::u32le(inner, 4);
        d.low = bytes::u64le(inner, 8);
        return Value{d};
    }
    if (isTextType(type)) return Value{decodeText(inner, column.codePage)};
    if (type == column_type::Ole) return Value{Bytes(inner.begin(), inner.end())};
    return decodeBytes(type, inner, &column, at);
}

std::string ValueDecoder::decodeText(std::span<const std::uint8_t> data, std::uint16_t columnCodePage) const {
    if (layout_.jet3) return decodeCodePage(data, columnCodePage != 0 ? columnCodePage : codePage_);
    return decodeJet4Text(data);
}

Value ValueDecoder::decode(const Column& column, const FieldBytes& field, const ErrorLocation& where) {
    if (column.isBoolean()) return Value{field.present};
    if (!field.present) return Value{};
    try {
        return decodePresent(column, field.bytes, where);
    } catch (const JetError& e) {
        // Name the column only when something went wrong: no string work per value.
        ErrorLocation column_at;
        column_at.structure = "coluna " + column.name;
        throw e.withContext(column_at);
    }
}

Value ValueDecoder::decodePresent(const Column& column, std::span<const std::uint8_t> data, const ErrorLocation& at) {

    std::vector<std::uint8_t> unwrapped;
    if (column.isCalculated()) {
        const std::uint8_t type = column.resultType != 0 ? column.resultType : column.type;
        if (column.storesLongValue()) {
            // A calculated Memo keeps a long-value descriptor whose contents carry the wrapper.
            unwrapped = longValues_.read(data, at);
            data = unwrapped;
        }
        return decodeCalculated(type, data, column, at);
    }
    if (column.isLongValue()) {
        unwrapped = longValues_.read(data, at);
        if (column.type == column_type::Memo) return Value{decodeText(unwrapped, column.codePage)};
        return Value{Bytes(std::move(unwrapped))};
    }
    return decodeBytes(column.type, data, &column, at);
}

Value ValueDecoder::decodeBytes(std::uint8_t type, std::span<const std::uint8_t> data, const Column* column,
                                const ErrorLocation& at) const {
    switch (type) {
        case column_type::Boolean:
            return Value{!data.empty() && data[0] != 0};
        case column_type::Byte:
            requireSize(data, 1, type, at);
            return Value{data[0]};
        case column_type::Integer:
            requireSize(data, 2, type, at);
            return Value{bytes::i16le(data, 0)};
        case column_type::Long:
            requireSize(data, 4, type, at);
            return Value{bytes::i32le(data, 0)};
        case column_type::Currency:
            requireSize(data, 8, type, at);
            return Value{Currency{bytes::i64le(data, 0)}};
        case column_type::Single:
            requireSize(data, 4, type, at);
            return Value{bytes::f32le(data, 0)};
        case column_type::Double:
            requireSize(data, 8, type, at);
            return Value{bytes::f64le(data, 0)};
        case column_type::DateTime:
            requireSize(data, 8, type, at);
            return Value{DateTime{bytes::f64le(data, 0)}};
        case column_type::BigInt:
            requireSize(data, 8, type, at);
            return Value{bytes::i64le(data, 0)};
        case column_type::Complex:
            requireSize(data, 4, type, at);
            return Value{ComplexValueId{bytes::u32le(data, 0)}};
        case column_type::Guid: {
            requireSize(data, 16, type, at);
            Guid g;
            std::copy(data.begin(), data.begin() + 16, g.bytes.begin());
            return Value{g};
        }
        case column_type::Numeric: {
            requireSize(data, 17, type, at);
            Decimal d;
            d.negative = (data[0] & 0x80) != 0;
            d.high = (std::uint64_t{bytes::u32le(data, 1)} << 32) | bytes::u32le(data, 5);
            d.low = (std::uint64_t{bytes::u32le(data, 9)} << 32) | bytes::u32le(data, 13);
            if (column) {
                d.precision = column->precision;
                d.scale = column->scale;
            }
            return Value{d};
        }
        case column_type::ExtendedDateTime: {
            std::size_t n = data.size();
            while (n > 0 && data[n - 1] == 0) --n;  // the stored text ends with a NUL
            return Value{ExtendedDateTime{std::string(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n))}};
        }
        case column_type::Text:
        case column_type::Memo:
            return Value{decodeText(data, column ? column->codePage : 0)};
        default:
            return Value{Bytes(data.begin(), data.end())};
    }
}

}  // namespace jet
