#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace jet {

// The version byte at 0x14 of page 0.
enum class FormatVersion : std::uint8_t {
    Jet3 = 0x00,
    Jet4 = 0x01,
    Ace12 = 0x02,
    Ace14 = 0x03,
    Ace15 = 0x04,
    Ace16 = 0x05,
    Ace17 = 0x06,
};

std::string formatVersionName(FormatVersion v);  // "Jet3 (Access 97)", ...

// Page 0, decoded: what the rest of the engine needs to know about the file.
struct DatabaseHeader {
    FormatVersion version = FormatVersion::Jet4;
    std::string engineName;       // "Standard Jet DB", "Standard ACE DB"
    std::size_t pageSize = 4096;
    std::uint16_t codePage = 0;   // 1252
    std::uint16_t sortOrder = 0;  // collation LCID (1033 = General)
    std::uint8_t sortOrderVersion = 0;  // Jet4+: 0 General legacy, 1 General
    std::uint32_t databaseKey = 0;      // non-zero: Jet3/Jet4 encoded, ACE encrypted
    double creationDate = 0;            // Jet4+
    bool hasPassword = false;
    std::string password;               // decoded (Jet3/Jet4) when present
    std::vector<std::uint8_t> decodedPage;  // page 0 with the header mask removed

    bool isJet3() const { return version == FormatVersion::Jet3; }
    bool isAce() const { return static_cast<std::uint8_t>(version) >= 0x02; }
    bool isEncoded() const { return databaseKey != 0 && !isAce(); }   // RC4 per page, readable
    bool isEncrypted() const { return databaseKey != 0 && isAce(); }  // Office encryption, refused

    // Parses page 0 given at least its first page_size bytes (fewer: error).
    // Throws JetError NotDatabase / Unsupported / Corruption.
    static DatabaseHeader parse(std::span<const std::uint8_t> page0);

    // Page size implied by the version byte of a file's first bytes; throws NotDatabase.
    static std::size_t pageSizeFromPrefix(std::span<const std::uint8_t> prefix);
};

}  // namespace jet
