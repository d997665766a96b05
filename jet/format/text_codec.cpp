#include "jet/format/text_codec.h"

#include <iconv.h>

#include <type_traits>
#include <vector>

namespace jet {

namespace {

// Windows-1252 0x80..0x9F; the five undefined bytes map to the C1 control of the same value.
constexpr std::uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::string decodeCp1252(std::span<const std::uint8_t> data) {
    std::string out;
    out.reserve(data.size());
    for (std::uint8_t b : data) {
        if (b < 0x80) out.push_back(static_cast<char>(b));
        else if (b < 0xA0) appendUtf8(out, kCp1252High[b - 0x80]);
        else appendUtf8(out, b);
    }
    return out;
}

bool decodeWithIconv(std::span<const std::uint8_t> data, std::uint16_t codePage, std::string& out) {
    const std::string from = "CP" + std::to_string(codePage);
    iconv_t cd = iconv_open("UTF-8", from.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::vector<char> in(data.begin(), data.end());
    std::string result(data.size() * 4 + 4, '\0');
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    char* outPtr = result.data();
    std::size_t outLeft = result.size();
    bool ok = true;
    while (inLeft > 0) {
        if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) {
            // An undefined byte: show it as U+FFFD and go on.
            if (outLeft < 3) {
                ok = false;
                break;
            }
            *outPtr++ = '\xEF';
            *outPtr++ = '\xBF';
            *outPtr++ = '\xBD';
            outLeft -= 3;
            ++inPtr;
            --inLeft;
        }
    }
    iconv_close(cd);
    if (!ok) return false;
    result.resize(result.size() - outLeft);
    out = std::move(result);
    return true;
}

}  // namespace

void appendUtf8(std::string& out, std::uint32_t cp) {
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

namespace {

// Takes code units one at a time and pairs surrogates; an unpaired one becomes
// U+FFFD. Writes UTF-8 into a string or keeps units in a vector.
template <class Out>
class Utf16Sink {
public:
    explicit Utf16Sink(Out& out) : out_(out) {}
    void unit(std::uint16_t u) {
        if (pendingHigh_) {
            if (u >= 0xDC00 && u <= 0xDFFF) {
                pair(pendingHigh_, u);
                pendingHigh_ = 0;
                return;
            }
            single(0xFFFD);
            pendingHigh_ = 0;
        }
        if (u >= 0xD800 && u <= 0xDBFF) pendingHigh_ = u;
        else single(u >= 0xDC00 && u <= 0xDFFF ? 0xFFFD : u);
    }
    void finish() {
        if (pendingHigh_) single(0xFFFD);
        pendingHigh_ = 0;
    }

private:
    void single(std::uint16_t u) {
        if constexpr (std::is_same_v<Out, std::string>) appendUtf8(out_, u);
        else out_.push_back(u);
    }
    void pair(std::uint16_t high, std::uint16_t low) {
        if constexpr (std::is_same_v<Out, std::string>) {
            appendUtf8(out_, 0x10000 + ((std::uint32_t{high} - 0xD800) << 10) + (low - 0xDC00));
        } else {
            out_.push_back(high);
            out_.push_back(low);
        }
    }

    Out& out_;
    std::uint16_t pendingHigh_ = 0;
};

// Plain UTF-16LE, or the compressed form, unit by unit into `sink`.
template <class Sink>
void readJet4Text(std::span<const std::uint8_t> data, Sink& sink) {
    if (data.size() < 2 || data[0] != 0xFF || data[1] != 0xFE) {
        for (std::size_t i = 0; i + 1 < data.size(); i += 2)
            sink.unit(static_cast<std::uint16_t>(data[i] | (data[i + 1] << 8)));
        sink.finish();
        return;
    }
    bool compressed = true;
    std::size_t i = 2;
    while (i < data.size()) {
        if (data[i] == 0x00) {
            compressed = !compressed;
            ++i;
            continue;
        }
        if (compressed) {
            sink.unit(data[i]);
            ++i;
        } else {
            if (i + 1 >= data.size()) break;
            sink.unit(static_cast<std::uint16_t>(data[i] | (data[i + 1] << 8)));
            i += 2;
        }
    }
    sink.finish();
}

}  // namespace

std::string decodeUtf16le(std::span<const std::uint8_t> data) {
    std::string out;
    out.reserve(data.size() / 2);
    Utf16Sink<std::string> sink(out);
    for (std::size_t i = 0; i + 1 < data.size(); i += 2)
        sink.unit(static_cast<std::uint16_t>(data[i] | (data[i + 1] << 8)));
    sink.finish();
    return out;
}

std::string decodeJet4Text(std::span<const std::uint8_t> data) {
    std::string out;
    out.reserve(data.size());
    Utf16Sink<std::string> sink(out);
    readJet4Text(data, sink);
    return out;
}

void decodeJet4TextUnits(std::span<const std::uint8_t> data, std::vector<std::uint16_t>& out) {
    out.clear();
    out.reserve(data.size());
    Utf16Sink<std::vector<std::uint16_t>> sink(out);
    readJet4Text(data, sink);
}

std::string decodeCodePage(std::span<const std::uint8_t> data, std::uint16_t codePage) {
    bool ascii = true;
    for (std::uint8_t b : data) ascii = ascii && b < 0x80;
    if (ascii) return std::string(data.begin(), data.end());
    if (codePage != 1252 && codePage != 0) {
        std::string out;
        if (decodeWithIconv(data, codePage, out)) return out;
    }
    return decodeCp1252(data);
}

}  // namespace jet
