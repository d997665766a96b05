// What the read-ahead thread hands over must be exactly what reading on the
// calling thread gives, including the error a damaged tree ends with; results
// skipped or never planned must neither hang nor hand out the wrong thing.
#include "jet/check_read_ahead.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "corpus_files.h"
#include "jet/database.h"
#include "jet/jet_error.h"
#include "jet/usage_map.h"

namespace jet {
namespace {

struct Planned {
    std::unique_ptr<Database> db;
    std::vector<const TableDefinition*> tables;
};

Planned planOf(const std::string& corpusName) {
    Planned p;
    p.db = Database::open(jet_test::corpusFile(corpusName));
    for (const TableEntry& t : p.db->tables())
        if (t.definition) p.tables.push_back(&*t.definition);
    return p;
}

IndexTree walkHere(Database& db, PageNumber root, PageNumber owner) {
    PageFile& file = db.file();
    IndexTreeWalker walker(
        [&file](PageNumber n) {
            PageRef ref = file.page(n);
            return IndexPageData{ref, ref->span()};
        },
        IndexPageLayout::forVersion(db.layout().jet3), file.pageCount(), 16);
    return walker.walk(root, owner);
}

std::vector<std::uint32_t> longValuePagesOf(Database& db, const TableDefinition& t) {
    std::vector<std::uint32_t> pages;
    for (const LongValueMaps& m : t.longValueMaps) {
        if (m.ownedPages.page.isNull()) continue;  // no map: the checker reports it and sweeps nothing for it
        const UsageMap map = UsageMap::read(db.file(), db.layout(), m.ownedPages);
        for (PageNumber p : map.pages())
            if (p.value < db.pageCount()) pages.push_back(p.value);
    }
    std::sort(pages.begin(), pages.end());
    pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
    return pages;
}

void expectSameTree(const IndexTree& a, const IndexTree& b) {
    ASSERT_EQ(a.entries.size(), b.entries.size());
    for (std::size_t i = 0; i < a.entries.size(); ++i) {
        EXPECT_EQ(a.entries[i].row, b.entries[i].row);
        EXPECT_EQ(a.entries[i].leaf, b.entries[i].leaf);
        const auto ka = a.key(a.entries[i]);
        const auto kb = b.key(b.entries[i]);
        EXPECT_TRUE(std::equal(ka.begin(), ka.end(), kb.begin(), kb.end())) << "entry " << i;
    }
    ASSERT_EQ(a.pages.size(), b.pages.size());
    for (std::size_t i = 0; i < a.pages.size(); ++i) EXPECT_EQ(a.pages[i].page, b.pages[i].page);
    EXPECT_EQ(a.findings.size(), b.findings.size());
    EXPECT_EQ(a.depth, b.depth);
}

void expectSameSweep(const LongValueSweep& a, const LongValueSweep& b) {
    EXPECT_EQ(a.pages, b.pages);
    ASSERT_EQ(a.facts.size(), b.facts.size());
    for (std::size_t i = 0; i < a.facts.size(); ++i) {
        EXPECT_EQ(a.facts[i].page, b.facts[i].page);
        EXPECT_EQ(a.facts[i].lval, b.facts[i].lval);
        EXPECT_EQ(a.facts[i].readable, b.facts[i].readable);
        EXPECT_EQ(a.facts[i].rowCount, b.facts[i].rowCount);
        EXPECT_EQ(a.facts[i].live, b.facts[i].live);
    }
    ASSERT_EQ(a.rows.size(), b.rows.size());
    for (std::size_t i = 0; i < a.rows.size(); ++i) {
        EXPECT_EQ(a.rows[i].size, b.rows[i].size);
        EXPECT_EQ(a.rows[i].next, b.rows[i].next);
    }
}

TEST(CheckReadAhead, EverySweepAndTreeMatchesReadingOnTheCallingThread) {
    Planned p = planOf("jet4/testV2003.mdb");
    std::size_t sweeps = 0;
    std::size_t trees = 0;
    // Limits by count and by bytes (one byte: a single result waits at a time).
    for (const auto& [ahead, bytes] : {std::pair<std::size_t, std::size_t>{2, 32u << 20}, {16, 1}}) {
        CheckReadAhead readAhead(p.db->file(), p.db->layout(), p.tables, ahead, bytes);
        IndexTree tree;  // reused, as the checker does
        LongValueSweep sweep;
        for (const TableDefinition* t : p.tables) {
            if (!t->longValueMaps.empty()) {
                const std::vector<std::uint32_t> pages = longValuePagesOf(*p.db, *t);
                ASSERT_TRUE(readAhead.takeLongValues(t->tdefPage, pages, sweep)) << t->name;
                LongValueSweep here;
                here.run(p.db->file(), p.db->layout(), pages);
                expectSameSweep(sweep, here);
                ++sweeps;
            }
            for (const PhysicalIndex& ix : t->physicalIndexes) {
                ASSERT_TRUE(readAhead.takeTree(ix.rootPage, t->tdefPage, tree));
                expectSameTree(tree, walkHere(*p.db, ix.rootPage, t->tdefPage));
                ++trees;
            }
        }
    }
    EXPECT_GT(sweeps, 2u);
    EXPECT_GT(trees, 20u);
}

TEST(CheckReadAhead, SkippedResultsAreDroppedAndThingsOutsideThePlanAreRefused) {
    Planned p = planOf("jet4/testV2003.mdb");
    const TableDefinition* withIndexes = nullptr;
    for (const TableDefinition* t : p.tables)
        if (t->physicalIndexes.size() >= 2 && !t->longValueMaps.empty()) withIndexes = t;
    ASSERT_NE(withIndexes, nullptr);
    CheckReadAhead readAhead(p.db->file(), p.db->layout(), p.tables, 1);
    IndexTree tree;
    LongValueSweep sweep;
    // Straight to the second index of a table far into the plan.
    const PhysicalIndex& second = withIndexes->physicalIndexes[1];
    ASSERT_TRUE(readAhead.takeTree(second.rootPage, withIndexes->tdefPage, tree));
    expectSameTree(tree, walkHere(*p.db, second.rootPage, withIndexes->tdefPage));
    // What came before it is gone: its long values, its first index.
    const std::vector<std::uint32_t> pages = longValuePagesOf(*p.db, *withIndexes);
    EXPECT_FALSE(readAhead.takeLongValues(withIndexes->tdefPage, pages, sweep));
    EXPECT_FALSE(readAhead.takeTree(withIndexes->physicalIndexes[0].rootPage, withIndexes->tdefPage, tree));
    EXPECT_FALSE(readAhead.takeTree(PageNumber(1), PageNumber(2), tree));
    // The last table is still there, and a sweep of other pages than the
    // caller's is refused.
    const TableDefinition* last = nullptr;
    for (const TableDefinition* t : p.tables)
        if (!t->longValueMaps.empty()) last = t;
    if (last != withIndexes) {
        std::vector<std::uint32_t> other = longValuePagesOf(*p.db, *last);
        other.push_back(p.db->pageCount() - 1);
        EXPECT_FALSE(readAhead.takeLongValues(last->tdefPage, other, sweep));
    }
}

TEST(CheckReadAhead, AWalkThatThrowsThrowsTheSameErrorWhenTaken) {
    Planned p = planOf("jet4/testV2003.mdb");
    TableDefinition damaged = *p.tables.back();
    ASSERT_FALSE(damaged.physicalIndexes.empty());
    const PageNumber beyond(p.db->pageCount() + 5);
    damaged.physicalIndexes[0].rootPage = beyond;
    CheckReadAhead readAhead(p.db->file(), p.db->layout(), {&damaged});
    std::string here;
    try {
        walkHere(*p.db, beyond, damaged.tdefPage);
    } catch (const JetError& e) {
        here = e.what();
    }
    ASSERT_FALSE(here.empty());
    IndexTree tree;
    try {
        readAhead.takeTree(beyond, damaged.tdefPage, tree);
        ADD_FAILURE() << "no error";
    } catch (const JetError& e) {
        EXPECT_EQ(std::string(e.what()), here);
        EXPECT_EQ(e.location().page, std::optional<std::uint32_t>(beyond.value));
    }
    if (damaged.physicalIndexes.size() > 1) {
        const PhysicalIndex& next = damaged.physicalIndexes[1];
        ASSERT_TRUE(readAhead.takeTree(next.rootPage, damaged.tdefPage, tree));
        expectSameTree(tree, walkHere(*p.db, next.rootPage, damaged.tdefPage));
    }
}

TEST(CheckReadAhead, DestroyedWithResultsLeftItStopsItsThread) {
    Planned p = planOf("jet4/testV2003.mdb");
    for (std::size_t ahead : {1u, 3u}) {
        CheckReadAhead readAhead(p.db->file(), p.db->layout(), p.tables, ahead);
        IndexTree tree;
        const TableDefinition& t = *p.tables.front();
        if (!t.physicalIndexes.empty()) {
            EXPECT_TRUE(readAhead.takeTree(t.physicalIndexes[0].rootPage, t.tdefPage, tree));
        }
    }  // leaving the scope must not hang
}

}  // namespace
}  // namespace jet
