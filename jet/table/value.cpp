#include "jet/table/value.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <type_traits>

namespace jet {

namespace {

// Days since 1970-01-01 to a proleptic Gregorian date (H. Hinnant's algorithm).
void civilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) ++y;
}

constexpr std::int64_t kDaysFrom1970To18991230 = -25569;

std::string nonFinite(double v) {
    if (std::isnan(v)) return "NaN";
    return v < 0 ? "-Infinity" : "Infinity";
}

}  // namespace

std::string formatDouble(double d) {
    if (!std::isfinite(d)) return nonFinite(d);
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, d);
    return std::string(buf, res.ptr);
}

std::string formatSingle(float f) {
    if (!std::isfinite(f)) return nonFinite(f);
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, f);
    return std::string(buf, res.ptr);
}

std::string formatDateTime(double days) {
    // Beyond any date Access can hold the calendar arithmetic below would overflow;
    // such values are shown as the raw number.
    if (!std::isfinite(days) || std::fabs(days) > 1e9) return formatDouble(days);
    // The integer part counts days (backwards for negative values); the fraction is
    // always a forward time of day: -1.25 is 1899-12-29 06:00.
    const double whole = std::trunc(days);
    const double fraction = std::fabs(days - whole);
    auto dayNumber = static_cast<std::int64_t>(whole);
    auto seconds = static_cast<std::int64_t>(std::llround(fraction * 86400.0));
    if (seconds >= 86400) {
        seconds -= 86400;
        dayNumber += 1;
    }
    std::int64_t y;
    unsigned m, d;
    civilFromDays(dayNumber + kDaysFrom1970To18991230, y, m, d);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u %02lld:%02lld:%02lld", static_cast<long long>(y), m, d,
                  static_cast<long long>(seconds / 3600), static_cast<long long>((seconds / 60) % 60),
                  static_cast<long long>(seconds % 60));
    return buf;
}

std::string formatGuid(const Guid& g) {
    const auto& b = g.bytes;
    char buf[48];
    std::snprintf(buf, sizeof buf, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[3],
                  b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return buf;
}

std::string formatCurrency(std::int64_t scaled) {
    const bool negative = scaled < 0;
    // Magnitude in unsigned arithmetic so that INT64_MIN is fine.
    const std::uint64_t mag = negative ? (~static_cast<std::uint64_t>(scaled) + 1) : static_cast<std::uint64_t>(scaled);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%s%llu.%04llu", negative ? "-" : "", static_cast<unsigned long long>(mag / 10000),
                  static_cast<unsigned long long>(mag % 10000));
    return buf;
}

std::string formatDecimal(const Decimal& v) {
    // 128-bit magnitude as four 32-bit words, most significant first, divided by 10 repeatedly.
    std::uint32_t w[4] = {static_cast<std::uint32_t>(v.high >> 32), static_cast<std::uint32_t>(v.high),
                          static_cast<std::uint32_t>(v.low >> 32), static_cast<std::uint32_t>(v.low)};
    std::string digits;
    for (;;) {
        bool zero = true;
        std::uint64_t rem = 0;
        for (auto& word : w) {
            const std::uint64_t cur = (rem << 32) | word;
            word = static_cast<std::uint32_t>(cur / 10);
            rem = cur % 10;
            if (word != 0) zero = false;
        }
        digits.insert(digits.begin(), static_cast<char>('0' + rem));
        if (zero) break;
    }
    const bool isZero = digits == "0";
    const std::size_t scale = v.scale;
    if (digits.size() < scale + 1) digits.insert(0, scale + 1 - digits.size(), '0');
    if (scale > 0) digits.insert(digits.size() - scale, 1, '.');
    if (v.negative && !isZero) digits.insert(digits.begin(), '-');
    return digits;
}

std::string formatHex(const Bytes& b) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(b.size() * 2);
    for (std::uint8_t c : b) {
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 0x0F]);
    }
    return out;
}

std::string canonicalText(const Value& v) {
    return std::visit(
        [](const auto& x) -> std::string {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, std::monostate>) return {};
            else if constexpr (std::is_same_v<T, bool>) return x ? "true" : "false";
            else if constexpr (std::is_same_v<T, std::uint8_t> || std::is_same_v<T, std::int16_t> ||
                               std::is_same_v<T, std::int32_t> || std::is_same_v<T, std::int64_t>)
                return std::to_string(x);
            else if constexpr (std::is_same_v<T, float>) return formatSingle(x);
            else if constexpr (std::is_same_v<T, double>) return formatDouble(x);
            else if constexpr (std::is_same_v<T, Currency>) return formatCurrency(x.scaled);
            else if constexpr (std::is_same_v<T, Decimal>) return formatDecimal(x);
            else if constexpr (std::is_same_v<T, DateTime>) return formatDateTime(x.days);
            else if constexpr (std::is_same_v<T, ExtendedDateTime>) return x.text;
            else if constexpr (std::is_same_v<T, Guid>) return formatGuid(x);
            else if constexpr (std::is_same_v<T, std::string>) return x;
            else if constexpr (std::is_same_v<T, Bytes>) return formatHex(x);
            else if constexpr (std::is_same_v<T, ComplexValueId>) return std::to_string(x.id);
        },
        v);
}

void appendJsonString(std::string& out, std::string_view s) {
    static constexpr char kHex[] = "0123456789abcdef";
    out.push_back('"');
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            default:
                if (c < 0x20) {
                    out += "\\u00";
                    out.push_back(kHex[c >> 4]);
                    out.push_back(kHex[c & 0x0F]);
                } else {
                    out.push_back(ch);
                }
        }
    }
    out.push_back('"');
}

void appendJson(std::string& out, const Value& v) {
    std::visit(
        [&out](const auto& x) {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, std::monostate>) out += "null";
            else if constexpr (std::is_same_v<T, bool>) out += x ? "true" : "false";
            else if constexpr (std::is_same_v<T, std::uint8_t> || std::is_same_v<T, std::int16_t> ||
                               std::is_same_v<T, std::int32_t>)
                out += std::to_string(x);
            else if constexpr (std::is_same_v<T, ComplexValueId>) out += std::to_string(x.id);
            else if constexpr (std::is_same_v<T, float> || std::is_same_v<T, double>) {
                if (std::isfinite(x)) out += canonicalText(Value(x));
                else appendJsonString(out, canonicalText(Value(x)));
            } else appendJsonString(out, canonicalText(Value(x)));
        },
        v);
}

}  // namespace jet
