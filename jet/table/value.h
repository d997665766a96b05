#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace jet {

// Amount × 10 000 (four implied decimals).
struct Currency {
    std::int64_t scaled = 0;
    friend bool operator==(const Currency&, const Currency&) = default;
};

// Numeric: ± magnitude / 10^scale, magnitude up to 128 bits.
struct Decimal {
    bool negative = false;
    std::uint64_t high = 0;  // upper 64 bits of the magnitude
    std::uint64_t low = 0;   // lower 64 bits
    std::uint8_t precision = 0;
    std::uint8_t scale = 0;
    friend bool operator==(const Decimal&, const Decimal&) = default;
};

// Days since 1899-12-30 00:00; the fraction is a time of day (forward, even for
// negative day counts).
struct DateTime {
    double days = 0;
    friend bool operator==(const DateTime&, const DateTime&) = default;
};

// ACE17 extended date/time: the ASCII text as stored (without the trailing NUL).
struct ExtendedDateTime {
    std::string text;
    friend bool operator==(const ExtendedDateTime&, const ExtendedDateTime&) = default;
};

// 16 bytes in stored (Windows GUID structure) order.
struct Guid {
    std::array<std::uint8_t, 16> bytes{};
    friend bool operator==(const Guid&, const Guid&) = default;
};

// Complex column: the id linking the row to its flat-table rows.
struct ComplexValueId {
    std::uint32_t id = 0;
    friend bool operator==(const ComplexValueId&, const ComplexValueId&) = default;
};

using Bytes = std::vector<std::uint8_t>;

// One decoded column value. Text is UTF-8. Binary, OLE and unknown types are Bytes.
// Byte = uint8, Integer = int16, Long = int32, BigInt = int64.
using Value = std::variant<std::monostate, bool, std::uint8_t, std::int16_t, std::int32_t, std::int64_t, float,
                           double, Currency, Decimal, DateTime, ExtendedDateTime, Guid, std::string, Bytes,
                           ComplexValueId>;

inline bool isNull(const Value& v) { return std::holds_alternative<std::monostate>(v); }

// Canonical text of a value, as the dumps print it (see docs/dump_format.md):
// numbers shortest round-trip, currency with 4 decimals, decimal with `scale`
// decimals, dates "YYYY-MM-DD HH:MM:SS", GUIDs "{...}" uppercase, bytes as
// lowercase hex, text as is. NULL gives an empty string (callers choose their
// own NULL marker).
std::string canonicalText(const Value& v);

// Appends the value in the canonical JSON form: null, true/false, JSON numbers
// for byte/int/long/single/double/complex (non-finite floats as strings),
// strings for everything else.
void appendJson(std::string& out, const Value& v);

// Appends `s` (UTF-8) as a quoted JSON string.
void appendJsonString(std::string& out, std::string_view s);

// Pieces of the canonical form, exposed for tests and other formatters.
std::string formatDateTime(double days);  // "YYYY-MM-DD HH:MM:SS", rounded to the second
std::string formatGuid(const Guid& g);
std::string formatCurrency(std::int64_t scaled);
std::string formatDecimal(const Decimal& d);
std::string formatHex(const Bytes& b);
std::string formatDouble(double d);  // shortest round-trip
std::string formatSingle(float f);   // shortest round-trip as float

}  // namespace jet
