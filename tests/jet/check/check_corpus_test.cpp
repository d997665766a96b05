// The checker on every real Access file of the corpus: no damage anywhere, and the
// harmless oddities these files really contain reported as such.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <map>

#include "corpus_files.h"
#include "jet/table/database.h"
#include "jet/table/usage_map.h"
#include "temp_copy.h"
#include "jet/check/checker.h"

namespace {

using jet::FindingClass;

std::vector<std::string> corpusDatabases() {
    std::vector<std::string> files;
    for (const auto& m : jet_test::readManifest()) files.push_back(m.file);
    return files;
}

TEST(CheckCorpus, EveryCorpusFileChecksWithoutDamage) {
    const auto files = corpusDatabases();
    ASSERT_EQ(files.size(), 84u);
    std::map<std::string, std::size_t> kinds;
    std::size_t indexes = 0;
    std::size_t rows = 0;
    for (const std::string& f : files) {
        SCOPED_TRACE(f);
        const jet::CheckReport r = jet::checkDatabase(jet_test::corpusFile(f));
        for (const jet::Finding& x : r.findings) {
            EXPECT_NE(x.kind, FindingClass::Damage) << f << ": " << x.describe() << " {" << x.code << "}";
            ++kinds[jet::findingClassCode(x.kind) + "/" + x.code];
        }
        EXPECT_GT(r.tablesChecked, 3u);
        indexes += r.indexesChecked;
        rows += r.rowsChecked;
    }
    for (const auto& [k, n] : kinds) std::cout << "  " << k << ": " << n << "\n";
    std::cout << "  indexes checked: " << indexes << ", rows checked: " << rows << "\n";
    EXPECT_GT(indexes, 1000u);
}

TEST(CheckCorpus, KnownOdditiesAreReportedAsStaleOrLeaks) {
    // MSysACEs of this file records 61 rows but holds 64.
    const auto r = jet::checkDatabase(jet_test::corpusFile("jet4/testRefGlobalV2000.mdb"));
    ASSERT_FALSE(r.hasDamage());
    bool found = false;
    for (const auto& f : r.findings)
        if (f.code == "row_count_stale" && f.table == "MSysACEs") {
            found = true;
            EXPECT_EQ(f.kind, FindingClass::StaleStatistic);
            EXPECT_EQ(f.expected, 64);
            EXPECT_EQ(f.page, 3u);
        }
    EXPECT_TRUE(found);
    // Pages neither free nor used: reported as leaks with their page.
    const auto t = jet::checkDatabase(jet_test::corpusFile("jet4/testV2003.mdb"));
    EXPECT_FALSE(t.hasDamage());
    EXPECT_GT(t.count("leaked_page"), 0u);
    EXPECT_GT(t.leakedPages, 0u);
}

TEST(CheckCorpus, LeakedPagesAreToldZeroOrNotByTheirBytes) {
    // Every page a structure uses has a non-zero type byte, so the leaked pages
    // reported as zero are exactly the file's all-zero pages not marked free.
    std::size_t files = 0;
    for (const std::string& f : corpusDatabases()) {
        const std::string path = jet_test::corpusFile(f);
        const auto bytes = jet_test::readBytes(path);
        auto db = jet::Database::open(path);
        const std::size_t ps = db->layout().pageSize;
        const jet::UsageMap free = db->globalFreeMap();
        std::size_t zeroInUse = 0;
        for (std::uint32_t p = 0; p < db->pageCount(); ++p) {
            if (free.contains(jet::PageNumber(p))) continue;
            const auto first = bytes.begin() + static_cast<std::ptrdiff_t>(std::size_t{p} * ps);
            if (std::all_of(first, first + static_cast<std::ptrdiff_t>(ps), [](std::uint8_t b) { return b == 0; }))
                ++zeroInUse;
        }
        if (zeroInUse == 0) continue;
        SCOPED_TRACE(f);
        ++files;
        // Read by the accounting itself (on one thread or two), or ahead of it.
        for (const auto& [splitFrom, readAhead] : {std::pair{0u, false}, std::pair{1u, false}, std::pair{0u, true}}) {
            jet::CheckOptions o;
            o.splitPagesFrom = splitFrom;
            o.readAhead = readAhead;
            const jet::CheckReport r = jet::checkDatabase(path, o);
            std::size_t zero = 0;
            std::size_t used = 0;
            for (const jet::Finding& x : r.findings) {
                if (x.code == "leaked_zero_pages") zero = std::stoul(x.message);
                if (x.code != "leaked_page") continue;
                if (!x.page) {  // "mais N ocorrências ...": those past the cap
                    EXPECT_EQ(x.message.rfind("mais " + std::to_string(x.occurrences) + " ocorr", 0), 0u) << x.message;
                    used += x.occurrences;
                    continue;
                }
                ++used;
                EXPECT_NE(bytes.at(std::size_t{*x.page} * ps), 0) << *x.page;
            }
            EXPECT_EQ(zero, zeroInUse) << splitFrom;
            EXPECT_EQ(r.leakedPages, zero + used) << splitFrom;
        }
    }
    EXPECT_GT(files, 0u);
}

TEST(CheckCorpus, MixedScriptTextKeysAreAllVerified) {
    // Greek, Japanese (international-extended kana), control characters and every
    // Latin-1 character in one General legacy index: every key is rebuilt and checked.
    const auto r = jet::checkDatabase(jet_test::corpusFile("jet4/testUnicodeCompV2003.mdb"));
    EXPECT_FALSE(r.hasDamage());
    EXPECT_EQ(r.count("index_key_unverifiable"), 0u);
    EXPECT_EQ(r.count("index_key_mismatch"), 0u);
}

TEST(CheckCorpus, OnlyUndocumentedColumnTypesLeaveKeysUnverified) {
    const auto r = jet::checkDatabase(jet_test::corpusFile("ace12/unsupportedFieldsTestV2007.accdb"));
    EXPECT_FALSE(r.hasDamage());
    EXPECT_GE(r.count("index_key_unverifiable"), 1u);
    for (const auto& f : r.findings) {
        if (f.code == "index_key_unverifiable") {
            EXPECT_NE(f.message.find("tipo de coluna sem codificação de chave"), std::string::npos) << f.message;
        }
    }
}

TEST(CheckCorpus, FindingsDescribeThemselvesInPortuguese) {
    jet::Finding f;
    f.kind = FindingClass::Damage;
    f.code = "index_key_mismatch";
    f.message = "a chave do índice não corresponde aos valores da linha";
    f.table = "Clientes";
    f.index = "PrimaryKey";
    f.page = 12;
    f.row = 3;
    EXPECT_EQ(f.describe(),
              "[dano] tabela Clientes, índice PrimaryKey, página 12, linha 3: a chave do índice não corresponde aos "
              "valores da linha");
}

}  // namespace
