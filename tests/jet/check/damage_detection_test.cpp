// Copies of corpus files damaged on purpose, many at a time: every page zeroed in
// turn, random bytes changed, the file cut at every page boundary. The checker must
// report damage or give a clean read error, never crash, hang or read out of bounds
// (these tests run under ASan/UBSan), and it must flag at least as many damaged
// copies as it did when the floors below were measured. Every copy is checked
// twice, with long values and index trees read ahead and the rows of every table
// of two pages or more split over a second thread, and on one thread alone; both
// reports must list the same findings in the same order.
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <random>

#include "corpus_files.h"
#include "jet/check/checker.h"
#include "jet/format/jet_error.h"
#include "jet/table/database.h"
#include "temp_copy.h"

namespace {

enum class Outcome { Clean, Damage, ReadError };

std::vector<std::string> describedFindings(const jet::CheckReport& r) {
    std::vector<std::string> lines;
    for (const jet::Finding& f : r.findings) lines.push_back(f.code + " " + f.describe());
    return lines;
}

Outcome checkCopy(const std::filesystem::path& path) {
    try {
        jet::CheckOptions threads;
        threads.splitPagesFrom = 2;  // the corpus tables are small
        const jet::CheckReport r = jet::checkDatabase(path.string(), threads);
        jet::CheckOptions inline_;
        inline_.readAhead = false;
        inline_.splitPagesFrom = 0;
        const jet::CheckReport same = jet::checkDatabase(path.string(), inline_);
        EXPECT_EQ(describedFindings(r), describedFindings(same)) << path;
        EXPECT_EQ(r.indexesChecked, same.indexesChecked) << path;
        return r.hasDamage() ? Outcome::Damage : Outcome::Clean;
    } catch (const jet::JetError&) {
        return Outcome::ReadError;
    }
    // Anything else (std::bad_alloc, std::out_of_range, ...) escapes and fails the test.
}

struct Tally {
    std::size_t copies = 0;
    std::size_t damage = 0;
    std::size_t readErrors = 0;
    std::size_t flagged() const { return damage + readErrors; }
    void add(Outcome o) {
        ++copies;
        if (o == Outcome::Damage) ++damage;
        if (o == Outcome::ReadError) ++readErrors;
    }
};

void print(const std::string& what, const std::string& file, const Tally& t) {
    std::cout << "  " << what << " " << file << ": " << t.flagged() << "/" << t.copies << " flagged (" << t.damage
              << " damage, " << t.readErrors << " read errors)\n";
}

std::size_t pageSizeOf(const std::vector<std::uint8_t>& bytes) { return bytes.at(0x14) == 0 ? 2048 : 4096; }

// Pages the original file uses (not marked free): zeroing a free page harms nothing.
std::vector<std::uint32_t> pagesInUse(const std::string& corpusName) {
    auto db = jet::Database::open(jet_test::corpusFile(corpusName));
    const jet::UsageMap free = db->globalFreeMap();
    std::vector<std::uint32_t> used;
    for (std::uint32_t p = 0; p < db->pageCount(); ++p)
        if (!free.contains(jet::PageNumber(p))) used.push_back(p);
    return used;
}

struct DamageCase {
    std::string file;
    // Floors measured when they were set (flagged copies); detection must not drop below.
    std::size_t zeroedFloor;
    std::size_t randomFloor;
};

const std::vector<DamageCase>& cases() {
    static const std::vector<DamageCase> c = {
        // Measured: every page in use zeroed is flagged; of the random-byte copies
        // many change bytes nothing reads (free room on pages, text of unindexed
        // columns, bytes past a definition's end), which no checker can flag.
        {"jet3/testV1997.mdb", 55, 30},
        {"jet4/test2V2000.mdb", 42, 16},
        {"ace12/overflowTestV2007.accdb", 74, 20},
    };
    return c;
}

TEST(DamageDetection, EveryPageInUseZeroedInTurn) {
    for (const DamageCase& dc : cases()) {
        SCOPED_TRACE(dc.file);
        jet_test::TempFolder folder;
        const auto original = jet_test::readBytes(jet_test::corpusFile(dc.file));
        const std::size_t ps = pageSizeOf(original);
        const auto path = folder.path() / "zeroed.db";
        Tally t;
        for (std::uint32_t p : pagesInUse(dc.file)) {
            auto bytes = original;
            std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(std::size_t{p} * ps),
                      bytes.begin() + static_cast<std::ptrdiff_t>(std::size_t{p + 1} * ps), 0);
            jet_test::writeBytes(path, bytes);
            const Outcome o = checkCopy(path);
            t.add(o);
            if (o == Outcome::Clean) std::cout << "    zeroed page " << p << " of " << dc.file << " not flagged\n";
        }
        print("zeroed pages", dc.file, t);
        EXPECT_GE(t.flagged(), dc.zeroedFloor);
    }
}

TEST(DamageDetection, RandomBytesChanged) {
    constexpr int kCopies = 60;
    for (const DamageCase& dc : cases()) {
        SCOPED_TRACE(dc.file);
        jet_test::TempFolder folder;
        const auto original = jet_test::readBytes(jet_test::corpusFile(dc.file));
        const std::size_t ps = pageSizeOf(original);
        const auto used = pagesInUse(dc.file);
        const auto path = folder.path() / "random.db";
        std::mt19937 rng(20240607u);
        Tally t;
        for (int i = 0; i < kCopies; ++i) {
            auto bytes = original;
            // 1 to 8 bytes, each on a page in use (page 0's unknown fields excepted: skip page 0).
            const int n = 1 + static_cast<int>(rng() % 8);
            std::string changed;
            for (int k = 0; k < n; ++k) {
                const std::uint32_t page = used[1 + rng() % (used.size() - 1)];
                const std::size_t offset = rng() % ps;
                const std::size_t at = std::size_t{page} * ps + offset;
                bytes[at] = static_cast<std::uint8_t>(bytes[at] ^ (1 + rng() % 255));
                changed += " " + std::to_string(page) + "/t" + std::to_string(original[std::size_t{page} * ps]) + "@" +
                           std::to_string(offset);
            }
            jet_test::writeBytes(path, bytes);
            const Outcome o = checkCopy(path);
            t.add(o);
            if (o == Outcome::Clean) std::cout << "    not flagged (page/type@offset):" << changed << "\n";
        }
        print("random bytes", dc.file, t);
        EXPECT_GE(t.flagged(), dc.randomFloor);
    }
}

TEST(DamageDetection, TruncatedAtEveryPageBoundary) {
    for (const DamageCase& dc : cases()) {
        SCOPED_TRACE(dc.file);
        jet_test::TempFolder folder;
        const auto original = jet_test::readBytes(jet_test::corpusFile(dc.file));
        const std::size_t ps = pageSizeOf(original);
        const std::size_t pages = original.size() / ps;
        const auto path = folder.path() / "cut.db";
        // Cutting off only free pages at the end leaves a valid file; every cut that
        // loses a page in use must be flagged.
        const std::size_t lastUsed = pagesInUse(dc.file).back();
        Tally t;
        for (std::size_t keep = 0; keep < pages; ++keep) {
            jet_test::writeBytes(path, std::vector<std::uint8_t>(original.begin(),
                                                                 original.begin() + static_cast<std::ptrdiff_t>(keep * ps)));
            const Outcome o = checkCopy(path);
            if (keep > lastUsed) {
                EXPECT_EQ(o, Outcome::Clean) << "only free pages cut off: " << keep;
                continue;
            }
            t.add(o);
        }
        // Also a cut in the middle of the last page.
        jet_test::writeBytes(path, std::vector<std::uint8_t>(original.begin(), original.end() - 100));
        t.add(checkCopy(path));
        print("truncated", dc.file, t);
        EXPECT_EQ(t.flagged(), t.copies);
    }
}

}  // namespace
