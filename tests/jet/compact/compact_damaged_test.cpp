// Damaged inputs: every page of small corpus files zeroed in turn, bytes changed
// at random, files cut at page boundaries. Compaction either gives a result that
// passes its own verification or fails with a JetError and no destination file;
// it never crashes, and it never changes its source.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>

#include "compact_test_support.h"
#include "corpus_files.h"
#include "jet/check/checker.h"
#include "jet/compact/compactor.h"
#include "jet/format/jet_error.h"
#include "jet/table/column_type.h"
#include "jet/table/database.h"

namespace {

void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

struct Outcome {
    int compacted = 0;
    int refused = 0;
};

// Compacts `bytes` as a file; checks the no-destination rule on failure.
void compactDamaged(const jet_test::ScratchDir& dir, const std::vector<std::uint8_t>& bytes, Outcome& outcome,
                    const std::string& what) {
    const std::string source = dir.file("damaged.mdb");
    const std::string destination = dir.file("out.mdb");
    std::filesystem::remove(destination);
    writeBytes(source, bytes);
    jet::CompactOptions options;
    options.checkResult = false;  // the row-by-row read-back still runs; the full check is too slow here
    try {
        jet::compactDatabase(source, destination, options);
        ++outcome.compacted;
        EXPECT_TRUE(std::filesystem::exists(destination)) << what;
    } catch (const jet::JetError& e) {
        ++outcome.refused;
        EXPECT_FALSE(std::filesystem::exists(destination)) << what << ": " << e.what();
        EXPECT_FALSE(std::string(e.what()).empty());
    }
    EXPECT_EQ(jet_test::fileBytes(source), bytes) << what << ": the source changed";
}

class CompactDamaged : public ::testing::TestWithParam<std::string> {};

TEST_P(CompactDamaged, ZeroedPagesGiveACleanRefusalOrAVerifiedResult) {
    const auto original = jet_test::fileBytes(jet_test::corpusFile(GetParam()));
    const std::size_t pageSize = GetParam().rfind("jet3/", 0) == 0 ? 2048 : 4096;
    jet_test::ScratchDir dir;
    Outcome outcome;
    for (std::size_t p = 1; p * pageSize < original.size(); ++p) {
        auto bytes = original;
        std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(p * pageSize),
                  bytes.begin() + static_cast<std::ptrdiff_t>((p + 1) * pageSize), 0);
        compactDamaged(dir, bytes, outcome, "page " + std::to_string(p) + " zeroed");
    }
    // Zeroing the catalog's definition must be refused.
    EXPECT_GT(outcome.refused, 0);
    std::cout << GetParam() << ": zeroed pages refused " << outcome.refused << ", compacted " << outcome.compacted
              << "\n";
}

TEST_P(CompactDamaged, TruncatedFilesAndChangedBytesNeverCrash) {
    const auto original = jet_test::fileBytes(jet_test::corpusFile(GetParam()));
    const std::size_t pageSize = GetParam().rfind("jet3/", 0) == 0 ? 2048 : 4096;
    jet_test::ScratchDir dir;
    Outcome outcome;
    for (std::size_t cut = 0; cut < original.size(); cut += pageSize * 3) {
        const std::vector<std::uint8_t> bytes(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(cut));
        compactDamaged(dir, bytes, outcome, "cut at " + std::to_string(cut));
    }
    std::mt19937 random(20261208);
    for (int round = 0; round < 40; ++round) {
        auto bytes = original;
        for (int k = 0; k < 16; ++k) {
            const std::size_t at = pageSize + random() % (bytes.size() - pageSize);
            bytes[at] = static_cast<std::uint8_t>(random());
        }
        compactDamaged(dir, bytes, outcome, "random bytes, round " + std::to_string(round));
    }
    EXPECT_GT(outcome.refused, 0);
}

// With the full check on, the row counts come from the checker instead of a pass
// of their own, and nothing is written that does not check clean: a damaged
// source ends in a clean refusal or in a copy without damage, the same bytes the
// unchecked run writes. Damage carried over from the source is refused too, with
// a message that sends the user to the repair.
// One format is enough for this slower pass.
TEST(CompactDamagedFullCheck, WhatTheFullCheckLetsThroughChecksCleanAndAgreesWithTheUncheckedRun) {
    const std::string name = "jet4/delTestV2003.mdb";
    const auto original = jet_test::fileBytes(jet_test::corpusFile(name));
    const std::size_t pageSize = 4096;
    jet_test::ScratchDir dir;
    const std::string source = dir.file("damaged.mdb");
    const std::string checked = dir.file("checked.mdb");
    const std::string unchecked = dir.file("unchecked.mdb");
    int agreed = 0;
    int onlyCheckRefused = 0;
    for (std::size_t p = 1; p * pageSize < original.size(); ++p) {
        auto bytes = original;
        std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(p * pageSize),
                  bytes.begin() + static_cast<std::ptrdiff_t>((p + 1) * pageSize), 0);
        writeBytes(source, bytes);
        std::filesystem::remove(checked);
        std::filesystem::remove(unchecked);
        bool checkedOk = true;
        try {
            jet::compactDatabase(source, checked);
        } catch (const jet::JetError& e) {
            checkedOk = false;
            EXPECT_FALSE(std::filesystem::exists(checked)) << "page " << p << ": " << e.what();
        }
        jet::CompactOptions options;
        options.checkResult = false;
        bool uncheckedOk = true;
        try {
            jet::compactDatabase(source, unchecked, options);
        } catch (const jet::JetError&) {
            uncheckedOk = false;
        }
        if (!checkedOk && uncheckedOk) {
            // The check refused what the read-back accepted: the copy has damage.
            ++onlyCheckRefused;
            EXPECT_TRUE(jet::checkDatabase(unchecked).hasDamage()) << "page " << p << ": refused a clean copy";
        }
        if (checkedOk) {
            EXPECT_TRUE(uncheckedOk) << "page " << p;
            EXPECT_FALSE(jet::checkDatabase(checked).hasDamage()) << "page " << p;
            if (uncheckedOk) {
                EXPECT_EQ(jet_test::fileBytes(checked), jet_test::fileBytes(unchecked)) << "page " << p;
                ++agreed;
            }
        }
    }
    EXPECT_GT(agreed, 0) << "some damage (an unused page) compacts either way";
    std::cout << name << ": zeroed pages compacted with the check " << agreed
              << ", refused only by the check " << onlyCheckRefused << "\n";
}

// A copy that would carry the source's damage is refused, and the message says
// that the source needs repairing.
TEST(CompactDamagedFullCheck, DamageCarriedFromTheSourceIsRefusedWithWordOfTheRepair) {
    const std::string name = "jet3/nwind.mdb";
    auto bytes = jet_test::fileBytes(jet_test::corpusFile(name));
    // The type byte of Customers.Address turned from Text into Date/Time: every row's
    // value has a size no date has, in the source and in any copy of its rows.
    auto db = jet::Database::open(jet_test::corpusFile(name));
    const jet::TableEntry* t = db->findTable("Customers");
    ASSERT_TRUE(t && t->definition);
    const jet::Column* address = nullptr;
    for (const auto& col : t->definition->columns)
        if (col.name == "Address") address = &col;
    ASSERT_NE(address, nullptr);
    const std::size_t pageStart = std::size_t{t->definition->tdefPage.value} * 2048;
    const auto first = bytes.begin() + static_cast<std::ptrdiff_t>(pageStart);
    const auto at = std::search(first, first + 2048, address->rawBlock.begin(), address->rawBlock.end());
    ASSERT_NE(at, first + 2048);
    *at = jet::column_type::DateTime;

    jet_test::ScratchDir dir;
    const std::string source = dir.file("damaged.mdb");
    const std::string destination = dir.file("out.mdb");
    writeBytes(source, bytes);
    try {
        jet::compactDatabase(source, destination);
        ADD_FAILURE() << "a copy with the source's damage was written";
    } catch (const jet::JetError& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find("O banco de origem está danificado"), std::string::npos) << message;
        EXPECT_NE(message.find("Customers"), std::string::npos) << message;
        EXPECT_NE(message.find("repare-o"), std::string::npos) << message;
    }
    EXPECT_FALSE(std::filesystem::exists(destination));
    EXPECT_EQ(jet_test::fileBytes(source), bytes);
}

// A key byte garbled in an index leaf (the rows sound): the keys a compaction
// copies are checked against the rows, so no copy carries the wrong key.
TEST(CompactDamagedFullCheck, AGarbledIndexKeyIsNotCopied) {
    const std::string name = "jet4/indexTestV2000.mdb";
    const auto original = jet_test::fileBytes(jet_test::corpusFile(name));
    jet_test::ScratchDir dir;
    const std::string source = dir.file("damaged.mdb");
    const std::string destination = dir.file("out.mdb");
    // The first byte of the leaves' entry area (0x1E0 on Jet4) whose change the
    // check sees only as a key that does not match its row.
    std::vector<std::uint8_t> bytes;
    for (std::size_t page = 3; page * 4096 < original.size() && bytes.empty(); ++page) {
        if (original[page * 4096] != 0x04) continue;
        for (std::size_t at = 0x1E0; at < 0x1F0 && bytes.empty(); ++at) {
            auto candidate = original;
            candidate[page * 4096 + at] ^= 0x04;
            writeBytes(source, candidate);
            const jet::CheckReport report = jet::checkDatabase(source);
            const bool onlyKeys = std::all_of(report.findings.begin(), report.findings.end(), [](const jet::Finding& f) {
                return f.kind != jet::FindingClass::Damage || f.code == "index_key_mismatch";
            });
            if (report.count("index_key_mismatch") > 0 && onlyKeys) bytes = candidate;
        }
    }
    ASSERT_FALSE(bytes.empty()) << "no key byte found to garble";
    writeBytes(source, bytes);
    try {
        jet::compactDatabase(source, destination);
        ADD_FAILURE() << "a copy with the garbled key was written";
    } catch (const jet::JetError& e) {
        EXPECT_NE(std::string(e.what()).find("repare-o"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(std::filesystem::exists(destination));
}

INSTANTIATE_TEST_SUITE_P(Corpus, CompactDamaged,
                         ::testing::Values("jet3/delTestV1997.mdb", "jet4/delTestV2003.mdb", "ace12/testV2007.accdb"),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return jet_test::testNameOf(info.param);
                         });

}  // namespace
