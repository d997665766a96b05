#include "jet/format/database_header.h"

#include <cmath>
#include <cstring>

#include "jet/format/byte_order.h"
#include "jet/format/jet_error.h"
#include "jet/format/rc4.h"
#include "jet/format/text_codec.h"

namespace jet {

namespace {

constexpr std::size_t kMaskStart = 0x18;
constexpr std::uint32_t kHeaderMaskKey = 0x6B39DAC7;

[[noreturn]] void notDatabase(const std::string& detail) {
    throw JetError(ErrorKind::NotDatabase, "O arquivo não é um banco de dados do Access", detail,
                   ErrorLocation{.page = 0});
}

}  // namespace

std::string formatVersionName(FormatVersion v) {
    switch (v) {
        case FormatVersion::Jet3: return "Jet3 (Access 97)";
        case FormatVersion::Jet4: return "Jet4 (Access 2000-2003)";
        case FormatVersion::Ace12: return "ACE12 (Access 2007)";
        case FormatVersion::Ace14: return "ACE14 (Access 2010)";
        case FormatVersion::Ace15: return "ACE15 (Access 2013)";
        case FormatVersion::Ace16: return "ACE16 (Access 2016)";
        case FormatVersion::Ace17: return "ACE17 (Access 2019)";
    }
    return "?";
}

std::size_t DatabaseHeader::pageSizeFromPrefix(std::span<const std::uint8_t> prefix) {
    if (prefix.size() < 0x15) notDatabase("file shorter than the database header");
    if (prefix[0] != 0x00) notDatabase("page 0 type byte is not 0");
    const std::string engine(reinterpret_cast<const char*>(prefix.data()) + 4, 15);
    if (engine == "MSISAM Database")
        throw JetError(ErrorKind::Unsupported, "Arquivos do Microsoft Money (MSISAM) não são suportados",
                       "MSISAM database");
    if (engine != "Standard Jet DB" && engine != "Standard ACE DB") notDatabase("unknown engine name");
    const std::uint8_t version = prefix[0x14];
    if (version > 0x06)
        throw JetError(ErrorKind::Unsupported, "Versão de banco de dados desconhecida",
                       "version byte " + std::to_string(version));
    return version == 0x00 ? 2048 : 4096;
}

DatabaseHeader DatabaseHeader::parse(std::span<const std::uint8_t> page0) {
    DatabaseHeader h;
    h.pageSize = pageSizeFromPrefix(page0);
    if (page0.size() < h.pageSize) notDatabase("file shorter than one page");
    h.version = static_cast<FormatVersion>(page0[0x14]);
    h.engineName.assign(reinterpret_cast<const char*>(page0.data()) + 4, 15);
    h.decodedPage.assign(page0.begin(), page0.begin() + static_cast<std::ptrdiff_t>(h.pageSize));

    const bool jet3 = h.isJet3();
    const std::size_t maskLength = jet3 ? 126 : 128;
    rc4Apply(kHeaderMaskKey, std::span<std::uint8_t>(h.decodedPage).subspan(kMaskStart, maskLength));

    const bytes::Span p(h.decodedPage);
    const ErrorLocation at{.page = 0};
    h.codePage = bytes::u16le(p, 0x3C, at);
    h.databaseKey = bytes::u32le(p, 0x3E, at);
    if (jet3) {
        h.sortOrder = bytes::u16le(p, 0x3A, at);
        const auto area = bytes::slice(p, 0x42, 20, at);
        for (std::uint8_t b : area) h.hasPassword = h.hasPassword || b != 0;
        if (h.hasPassword) {
            std::size_t n = 0;
            while (n < area.size() && area[n] != 0) ++n;
            h.password = decodeCodePage(area.first(n), h.codePage);
        }
    } else {
        h.sortOrder = bytes::u16le(p, 0x6E, at);
        h.sortOrderVersion = bytes::u8(p, 0x71, at);
        h.creationDate = bytes::f64le(p, 0x72, at);
        // Jet4 masks the password with the integer part of the creation date.
        std::uint32_t mask = 0;
        if (std::isfinite(h.creationDate) && std::fabs(h.creationDate) < 2147483647.0)
            mask = static_cast<std::uint32_t>(static_cast<std::int32_t>(std::trunc(h.creationDate)));
        std::uint8_t area[40];
        std::memcpy(area, p.data() + 0x42, sizeof area);
        if (!h.isAce()) {
            for (std::size_t i = 0; i < sizeof area; ++i) area[i] ^= static_cast<std::uint8_t>(mask >> (8 * (i % 4)));
            for (std::uint8_t b : area) h.hasPassword = h.hasPassword || b != 0;
            if (h.hasPassword) {
                std::size_t n = 0;
                while (n + 1 < sizeof area && (area[n] != 0 || area[n + 1] != 0)) n += 2;
                h.password = decodeUtf16le(std::span<const std::uint8_t>(area, n));
            }
        } else {
            // ACE keeps no password here: a password means the file is encrypted.
            h.hasPassword = h.databaseKey != 0;
        }
    }
    return h;
}

}  // namespace jet
