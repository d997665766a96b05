// Damaged, encoded, password-protected and encrypted copies of corpus files: the
// reader either reads them or reports a JetError, and never crashes.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "corpus_files.h"
#include "jet/format/byte_order.h"
#include "jet/format/rc4.h"
#include "jet/table/database.h"
#include "temp_copy.h"

namespace {

using jet_test::readBytes;
using jet_test::writeBytes;

// Reads every row and value of every table; returns the canonical text of it all.
std::string readAll(jet::Database& db) {
    std::string out;
    std::vector<jet::Value> values;
    for (const jet::TableEntry& t : db.tables()) {
        out += "#" + t.name() + "\n";
        if (!t.definition) continue;
        jet::TableCursor cursor = db.cursor(t);
        while (cursor.next()) {
            cursor.values(values);
            for (const jet::Value& v : values) out += (jet::isNull(v) ? "\\N" : jet::canonicalText(v)) + "\t";
            out += "\n";
        }
    }
    return out;
}

// Opens and reads a file that may be damaged. Only JetError may come out.
bool openAndReadSurvives(const std::filesystem::path& path) {
    try {
        auto db = jet::Database::open(path.string());
        readAll(*db);
        (void)db->globalFreeMap();
        for (const auto& e : db->catalog()) (void)db->properties(e);
        (void)db->complexColumns();
        return true;
    } catch (const jet::JetError&) {
        return false;
    }
}

// Changes page 0's masked region: unmask, edit, mask again.
template <class Edit>
void editHeader(std::vector<std::uint8_t>& file, bool jet3, Edit edit) {
    const std::size_t length = jet3 ? 126 : 128;
    std::span<std::uint8_t> region(file.data() + 0x18, length);
    jet::rc4Apply(0x6B39DAC7, region);
    edit(file);
    jet::rc4Apply(0x6B39DAC7, region);
}

TEST(DamagedFiles, MissingShortAndForeignFilesAreRefused) {
    jet_test::TempFolder tmp;
    try {
        jet::Database::open((tmp.path() / "absent.mdb").string());
        FAIL();
    } catch (const jet::JetError& e) {
        EXPECT_EQ(e.kind(), jet::ErrorKind::Io);
    }
    const auto original = readBytes(jet_test::corpusFile("jet4/delColTestV2003.mdb"));
    for (std::size_t size : {std::size_t{0}, std::size_t{10}, std::size_t{0x20}, std::size_t{4000}}) {
        writeBytes(tmp.path() / "short.mdb", std::vector<std::uint8_t>(original.begin(), original.begin() + size));
        try {
            jet::Database::open((tmp.path() / "short.mdb").string());
            FAIL() << size;
        } catch (const jet::JetError& e) {
            EXPECT_EQ(e.kind(), jet::ErrorKind::NotDatabase) << size;
        }
    }
    auto text = original;
    std::memcpy(text.data() + 4, "Standard XYZ DB", 15);
    writeBytes(tmp.path() / "foreign.mdb", text);
    EXPECT_THROW(jet::Database::open((tmp.path() / "foreign.mdb").string()), jet::JetError);
    auto future = original;
    future[0x14] = 0x07;
    writeBytes(tmp.path() / "future.mdb", future);
    try {
        jet::Database::open((tmp.path() / "future.mdb").string());
        FAIL();
    } catch (const jet::JetError& e) {
        EXPECT_EQ(e.kind(), jet::ErrorKind::Unsupported);
    }
}

TEST(DamagedFiles, CatalogDefinitionPageOfTheWrongTypeNamesThePage) {
    jet_test::TempFolder tmp;
    auto bytes = readBytes(jet_test::corpusFile("jet3/testV1997.mdb"));
    bytes[2 * 2048] = 0x04;
    writeBytes(tmp.path() / "t.mdb", bytes);
    try {
        jet::Database::open((tmp.path() / "t.mdb").string());
        FAIL();
    } catch (const jet::JetError& e) {
        EXPECT_EQ(e.kind(), jet::ErrorKind::Corruption);
        EXPECT_EQ(e.location().page, 2u);
        EXPECT_NE(std::string(e.what()).find("página 2"), std::string::npos);
    }
}

TEST(DamagedFiles, ImpossibleLengthsInDefinitionsAndRowsAreReported) {
    jet_test::TempFolder tmp;
    const auto original = readBytes(jet_test::corpusFile("jet4/delColTestV2003.mdb"));
    // A table definition claiming 65535 columns.
    auto columns = original;
    jet::bytes::putU16le(columns, 2 * 4096 + 0x2D, 0xFFFF);
    writeBytes(tmp.path() / "c.mdb", columns);
    EXPECT_THROW(jet::Database::open((tmp.path() / "c.mdb").string()), jet::JetError);

    // Row offsets pointing outside their page on every data page of the user table.
    auto db = jet::Database::open(jet_test::corpusFile("jet4/delColTestV2003.mdb"));
    const jet::TableEntry* t = db->findTable("Table1");
    jet::TableCursor cursor = db->cursor(*t);
    ASSERT_TRUE(cursor.next());
    const std::uint32_t page = cursor.location().page.value;
    auto rows = original;
    jet::bytes::putU16le(rows, std::size_t{page} * 4096 + 0x0E, 0x1FFF);
    writeBytes(tmp.path() / "r.mdb", rows);
    auto damaged = jet::Database::open((tmp.path() / "r.mdb").string());
    try {
        readAll(*damaged);
        FAIL();
    } catch (const jet::JetError& e) {
        EXPECT_EQ(e.kind(), jet::ErrorKind::Corruption);
        EXPECT_EQ(e.location().page, page);
    }
}

TEST(DamagedFiles, TruncatedAtEveryPageBoundary) {
    jet_test::TempFolder tmp;
    for (const char* file : {"jet3/delColTestV1997.mdb", "jet4/overflowTestV2003.mdb", "ace14/delColTestV2010.accdb"}) {
        SCOPED_TRACE(file);
        const auto original = readBytes(jet_test::corpusFile(file));
        const std::size_t pageSize = original[0x14] == 0 ? 2048 : 4096;
        int readable = 0;
        for (std::size_t pages = 0; pages < original.size() / pageSize; ++pages) {
            writeBytes(tmp.path() / "t.mdb",
                       std::vector<std::uint8_t>(original.begin(),
                                                 original.begin() + static_cast<std::ptrdiff_t>(pages * pageSize)));
            if (openAndReadSurvives(tmp.path() / "t.mdb")) ++readable;
        }
        // Cutting off the last pages loses rows or maps the reader needs.
        EXPECT_LT(readable, static_cast<int>(original.size() / pageSize));
    }
}

TEST(DamagedFiles, EveryPageZeroedInTurn) {
    jet_test::TempFolder tmp;
    const auto original = readBytes(jet_test::corpusFile("jet4/delColTestV2003.mdb"));
    const std::size_t pageSize = 4096;
    for (std::size_t p = 0; p < original.size() / pageSize; ++p) {
        auto bytes = original;
        std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(p * pageSize),
                  bytes.begin() + static_cast<std::ptrdiff_t>((p + 1) * pageSize), 0);
        writeBytes(tmp.path() / "z.mdb", bytes);
        openAndReadSurvives(tmp.path() / "z.mdb");
    }
}

TEST(DamagedFiles, RandomBytesChanged) {
    jet_test::TempFolder tmp;
    std::mt19937 random(20261208);
    for (const char* file : {"jet3/testV1997.mdb", "jet4/testUnicodeCompV2003.mdb", "ace12/complexDataTestV2007.accdb"}) {
        SCOPED_TRACE(file);
        const auto original = readBytes(jet_test::corpusFile(file));
        for (int round = 0; round < 60; ++round) {
            auto bytes = original;
            const int changes = 1 + static_cast<int>(random() % 16);
            for (int i = 0; i < changes; ++i) bytes[random() % bytes.size()] = static_cast<std::uint8_t>(random());
            writeBytes(tmp.path() / "r.mdb", bytes);
            openAndReadSurvives(tmp.path() / "r.mdb");
        }
    }
}

TEST(ProtectedFiles, EncodedJet4PagesReadTransparently) {
    jet_test::TempFolder tmp;
    const std::string file = jet_test::corpusFile("jet4/testUnicodeCompV2003.mdb");
    auto plain = jet::Database::open(file);
    const std::string expected = readAll(*plain);

    auto bytes = readBytes(file);
    const std::uint32_t key = 0x5A17C3E9;
    editHeader(bytes, false, [&](std::vector<std::uint8_t>& f) { jet::bytes::putU32le(f, 0x3E, key); });
    for (std::size_t p = 1; p < bytes.size() / 4096; ++p)
        jet::rc4Apply(key ^ static_cast<std::uint32_t>(p), std::span<std::uint8_t>(bytes.data() + p * 4096, 4096));
    writeBytes(tmp.path() / "encoded.mdb", bytes);

    auto encoded = jet::Database::open((tmp.path() / "encoded.mdb").string());
    EXPECT_TRUE(encoded->header().isEncoded());
    EXPECT_EQ(encoded->header().databaseKey, key);
    EXPECT_EQ(readAll(*encoded), expected);
}

TEST(ProtectedFiles, PasswordsAreDetectedAndDecoded) {
    jet_test::TempFolder tmp;
    // Jet4: UCS-2 password masked with the integer part of the creation date.
    auto jet4 = readBytes(jet_test::corpusFile("jet4/delTestV2003.mdb"));
    editHeader(jet4, false, [](std::vector<std::uint8_t>& f) {
        double created;
        std::memcpy(&created, f.data() + 0x72, 8);
        const auto mask = static_cast<std::uint32_t>(static_cast<std::int32_t>(created));
        const char* password = "segredo";
        for (std::size_t i = 0; i < 40; ++i) {
            const std::uint8_t plain = (i % 2 == 0 && i / 2 < std::strlen(password)) ? static_cast<std::uint8_t>(password[i / 2]) : 0;
            f[0x42 + i] = plain ^ static_cast<std::uint8_t>(mask >> (8 * (i % 4)));
        }
    });
    writeBytes(tmp.path() / "p4.mdb", jet4);
    auto db4 = jet::Database::open((tmp.path() / "p4.mdb").string());
    EXPECT_TRUE(db4->header().hasPassword);
    EXPECT_EQ(db4->header().password, "segredo");
    EXPECT_FALSE(db4->header().isEncoded());
    EXPECT_FALSE(readAll(*db4).empty());

    // Jet3: code-page bytes, no extra mask.
    auto jet3 = readBytes(jet_test::corpusFile("jet3/delTestV1997.mdb"));
    editHeader(jet3, true, [](std::vector<std::uint8_t>& f) { std::memcpy(f.data() + 0x42, "s\xE9nha", 5); });
    writeBytes(tmp.path() / "p3.mdb", jet3);
    auto db3 = jet::Database::open((tmp.path() / "p3.mdb").string());
    EXPECT_TRUE(db3->header().hasPassword);
    EXPECT_EQ(db3->header().password, "s\xC3\xA9nha");

    // The unprotected originals say so.
    EXPECT_FALSE(jet::Database::open(jet_test::corpusFile("jet4/delTestV2003.mdb"))->header().hasPassword);
}

TEST(ProtectedFiles, EncryptedAceFilesAreRefused) {
    jet_test::TempFolder tmp;
    auto bytes = readBytes(jet_test::corpusFile("ace14/delTestV2010.accdb"));
    editHeader(bytes, false, [](std::vector<std::uint8_t>& f) { jet::bytes::putU32le(f, 0x3E, 0x1234); });
    writeBytes(tmp.path() / "e.accdb", bytes);
    try {
        jet::Database::open((tmp.path() / "e.accdb").string());
        FAIL();
    } catch (const jet::JetError& e) {
        EXPECT_EQ(e.kind(), jet::ErrorKind::Encrypted);
        EXPECT_NE(std::string(e.what()).find("criptografado"), std::string::npos);
    }
}

}  // namespace
