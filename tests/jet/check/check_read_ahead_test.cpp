// What the read-ahead thread hands over must be exactly what reading on the
// calling thread gives, including the error a damaged tree ends with; results
// skipped or never planned must neither hang nor hand out the wrong thing.
#include "jet/check/check_read_ahead.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <set>
#include <thread>

#include "corpus_files.h"
#include "temp_copy.h"
#include "jet/check/checker.h"
#include "jet/format/jet_error.h"
#include "jet/table/database.h"
#include "jet/table/usage_map.h"

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

// The tables of the plan with long values and at least `indexes` indexes.
std::vector<const TableDefinition*> withLongValuesAndIndexes(const Planned& p, std::size_t indexes) {
    std::vector<const TableDefinition*> out;
    for (const TableDefinition* t : p.tables)
        if (t->physicalIndexes.size() >= indexes && !t->longValueMaps.empty()) out.push_back(t);
    return out;
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

using Unstarted = CheckReadAhead::Unstarted;

// Takes every result of the plan in the order a check does, comparing each taken
// with reading it here; counts what was taken.
struct Taken {
    std::size_t sweeps = 0;
    std::size_t trees = 0;
    std::size_t refused = 0;
};

Taken takeAllAndCompare(Planned& p, CheckReadAhead& readAhead, Unstarted unstarted) {
    Taken n;
    IndexTree tree;  // reused, as the checker does
    LongValueSweep sweep;
    for (const TableDefinition* t : p.tables) {
        if (!t->longValueMaps.empty()) {
            const std::vector<std::uint32_t> pages = longValuePagesOf(*p.db, *t);
            if (readAhead.takeLongValues(t->tdefPage, pages, sweep, unstarted)) {
                LongValueSweep here;
                here.run(p.db->file(), p.db->layout(), pages);
                expectSameSweep(sweep, here);
                ++n.sweeps;
            } else {
                ++n.refused;
            }
        }
        for (const PhysicalIndex& ix : t->physicalIndexes) {
            if (readAhead.takeTree(ix.rootPage, t->tdefPage, tree, unstarted)) {
                expectSameTree(tree, walkHere(*p.db, ix.rootPage, t->tdefPage));
                ++n.trees;
            } else {
                ++n.refused;
            }
        }
    }
    return n;
}

TEST(CheckReadAhead, EverySweepAndTreeMatchesReadingOnTheCallingThread) {
    Planned p = planOf("jet4/testV2003.mdb");
    // Room for the whole plan: a check that waits takes every result.
    {
        CheckReadAhead readAhead(p.db->file(), p.db->layout(), p.tables, 1000, std::size_t{1} << 30);
        const Taken n = takeAllAndCompare(p, readAhead, Unstarted::Wait);
        EXPECT_GT(n.sweeps, 2u);
        EXPECT_GT(n.trees, 20u);
        EXPECT_EQ(n.refused, 0u);
    }
    // Little room, by count and by bytes (one byte: a single result waits at a
    // time): what cannot be reached is given up, never waited for forever.
    for (const auto& [ahead, bytes] : {std::pair<std::size_t, std::size_t>{2, 32u << 20}, {16, 1}}) {
        for (Unstarted u : {Unstarted::Wait, Unstarted::ReadHere}) {
            CheckReadAhead readAhead(p.db->file(), p.db->layout(), p.tables, ahead, bytes);
            const Taken n = takeAllAndCompare(p, readAhead, u);
            // The first sweep is the thread's first read: a take that waits gets it.
            if (u == Unstarted::Wait) {
                EXPECT_GT(n.sweeps, 0u);
            }
        }
    }
}

TEST(CheckReadAhead, ResultsReadByAnotherThreadThatLendsItsTimeAreTheSame) {
    Planned p = planOf("jet4/testV2003.mdb");
    for (const auto& [ahead, bytes] : {std::pair<std::size_t, std::size_t>{1000, std::size_t{1} << 30}, {2, 1}}) {
        CheckReadAhead readAhead(p.db->file(), p.db->layout(), p.tables, ahead, bytes);
        std::atomic<bool> done{false};
        std::thread lender([&] {
            PageFile file(p.db->file().path());
            file.configure(p.db->file().pageSize(), p.db->file().databaseKey());
            while (!done) {
                if (!readAhead.readOne(file)) std::this_thread::yield();
            }
        });
        const Taken n = takeAllAndCompare(p, readAhead, Unstarted::Wait);
        done = true;
        lender.join();
        EXPECT_GT(n.sweeps + n.trees, 0u);
        if (ahead == 1000) {
            EXPECT_EQ(n.refused, 0u);
        }
    }
}

TEST(CheckReadAhead, ReadHereGivesUpWhatTheThreadHasNotBegun) {
    Planned p = planOf("jet4/testV2003.mdb");
    const std::vector<const TableDefinition*> tables = withLongValuesAndIndexes(p, 1);
    ASSERT_GE(tables.size(), 2u);
    // One result at a time: the sweeps of every table come first, so once the
    // first is taken the thread reads the second and stops there, far from any walk.
    CheckReadAhead readAhead(p.db->file(), p.db->layout(), tables, 1);
    const TableDefinition& first = *tables.front();
    IndexTree tree;
    LongValueSweep sweep;
    const std::vector<std::uint32_t> pages = longValuePagesOf(*p.db, first);
    ASSERT_TRUE(readAhead.takeLongValues(first.tdefPage, pages, sweep, Unstarted::Wait));
    LongValueSweep here;
    here.run(p.db->file(), p.db->layout(), pages);
    expectSameSweep(sweep, here);
    EXPECT_FALSE(readAhead.takeTree(first.physicalIndexes[0].rootPage, first.tdefPage, tree));
    // Given up is gone: asked again, even willing to wait, it is the caller's to read.
    EXPECT_FALSE(readAhead.takeTree(first.physicalIndexes[0].rootPage, first.tdefPage, tree, Unstarted::Wait));
    // The second sweep, the one the thread went on to, is handed over to a take
    // that waits for it.
    const TableDefinition& second = *tables[1];
    ASSERT_TRUE(readAhead.takeLongValues(second.tdefPage, longValuePagesOf(*p.db, second), sweep, Unstarted::Wait));
}

TEST(CheckReadAhead, ResultsOfTablesCheckedBeforeAreDroppedAndThingsOutsideThePlanAreRefused) {
    Planned p = planOf("jet4/testV2003.mdb");
    const std::vector<const TableDefinition*> withBoth = withLongValuesAndIndexes(p, 2);
    ASSERT_GE(withBoth.size(), 2u);
    const TableDefinition& earlier = *withBoth.front();
    const TableDefinition& later = *withBoth.back();
    CheckReadAhead readAhead(p.db->file(), p.db->layout(), p.tables, 1000, std::size_t{1} << 30);
    IndexTree tree;
    LongValueSweep sweep;
    // Straight to the second index of a later table.
    const PhysicalIndex& second = later.physicalIndexes[1];
    ASSERT_TRUE(readAhead.takeTree(second.rootPage, later.tdefPage, tree, Unstarted::Wait));
    expectSameTree(tree, walkHere(*p.db, second.rootPage, later.tdefPage));
    // The earlier table's results are gone; the later table's others are there.
    EXPECT_FALSE(readAhead.takeLongValues(earlier.tdefPage, longValuePagesOf(*p.db, earlier), sweep));
    EXPECT_FALSE(readAhead.takeTree(earlier.physicalIndexes[0].rootPage, earlier.tdefPage, tree));
    ASSERT_TRUE(readAhead.takeTree(later.physicalIndexes[0].rootPage, later.tdefPage, tree, Unstarted::Wait));
    expectSameTree(tree, walkHere(*p.db, later.physicalIndexes[0].rootPage, later.tdefPage));
    EXPECT_FALSE(readAhead.takeTree(PageNumber(1), PageNumber(2), tree));
    // A sweep of other pages than the caller's is refused.
    std::vector<std::uint32_t> other = longValuePagesOf(*p.db, later);
    other.push_back(p.db->pageCount() - 1);
    EXPECT_FALSE(readAhead.takeLongValues(later.tdefPage, other, sweep));
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
        readAhead.takeTree(beyond, damaged.tdefPage, tree, Unstarted::Wait);
        ADD_FAILURE() << "no error";
    } catch (const JetError& e) {
        EXPECT_EQ(std::string(e.what()), here);
        EXPECT_EQ(e.location().page, std::optional<std::uint32_t>(beyond.value));
    }
    if (damaged.physicalIndexes.size() > 1) {
        const PhysicalIndex& next = damaged.physicalIndexes[1];
        ASSERT_TRUE(readAhead.takeTree(next.rootPage, damaged.tdefPage, tree, Unstarted::Wait));
        expectSameTree(tree, walkHere(*p.db, next.rootPage, damaged.tdefPage));
    }
}

TEST(CheckReadAhead, AFileTheThreadCannotOpenLeavesEveryReadToTheCaller) {
    jet_test::TempFolder folder;
    const auto path = folder.path() / "gone.mdb";
    std::filesystem::copy_file(jet_test::corpusFile("jet4/testV2003.mdb"), path);
    auto db = Database::open(path.string());
    std::filesystem::remove(path);  // still open here, no longer there to open again
    std::vector<const TableDefinition*> tables;
    for (const TableEntry& t : db->tables())
        if (t.definition) tables.push_back(&*t.definition);
    {
        CheckReadAhead readAhead(db->file(), db->layout(), tables);
        IndexTree tree;
        for (const TableDefinition* t : tables)
            for (const PhysicalIndex& ix : t->physicalIndexes)  // neither waits nor throws
                EXPECT_FALSE(readAhead.takeTree(ix.rootPage, t->tdefPage, tree, Unstarted::Wait));
    }
    // A whole check on such a file reports what it does on one thread.
    CheckOptions threads;
    threads.splitPagesFrom = 1;
    CheckOptions alone;
    alone.readAhead = false;
    alone.splitPagesFrom = 0;
    const CheckReport a = Checker(*db, threads).run();
    const CheckReport b = Checker(*db, alone).run();
    ASSERT_EQ(a.findings.size(), b.findings.size());
    for (std::size_t i = 0; i < a.findings.size(); ++i) EXPECT_EQ(a.findings[i].describe(), b.findings[i].describe());
    EXPECT_FALSE(a.hasDamage());
    EXPECT_EQ(a.rowsChecked, b.rowsChecked);
}

TEST(CheckReadAhead, DestroyedWithResultsLeftItStopsItsThread) {
    Planned p = planOf("jet4/testV2003.mdb");
    for (std::size_t ahead : {1u, 3u}) {
        for (Unstarted u : {Unstarted::Wait, Unstarted::ReadHere}) {
            CheckReadAhead readAhead(p.db->file(), p.db->layout(), p.tables, ahead);
            IndexTree tree;
            const TableDefinition& t = *p.tables.front();
            if (!t.physicalIndexes.empty()) readAhead.takeTree(t.physicalIndexes[0].rootPage, t.tdefPage, tree, u);
        }
    }  // leaving the scope must not hang
}

std::vector<bool> freePagesOf(Database& db) {
    std::vector<bool> free(db.pageCount(), false);
    const UsageMap map = db.globalFreeMap();
    for (PageNumber p : map.pages())
        if (p.value < free.size()) free[p.value] = true;
    return free;
}

TEST(CheckReadAhead, PagesReadForTheAccountingAreTheOnesTheCheckFindsNobodyUses) {
    std::size_t filesWithLeaks = 0;
    for (const jet_test::ManifestEntry& m : jet_test::readManifest()) {
        SCOPED_TRACE(m.file);
        Planned p = planOf(m.file);
        // The tables a check goes through: the catalog first, then every other.
        std::vector<const TableDefinition*> tables{&p.db->catalogDefinition()};
        for (const TableDefinition* t : p.tables)
            if (t->tdefPage != tables.front()->tdefPage) tables.push_back(t);
        std::vector<LeakedPage> ahead;
        {
            CheckReadAhead readAhead(p.db->file(), p.db->layout(), tables, 1000, std::size_t{1} << 30,
                                     freePagesOf(*p.db));
            ASSERT_TRUE(readAhead.takeLeakedPages(ahead, Unstarted::Wait));
        }
        CheckOptions o;
        o.readAhead = false;
        o.maxFindingsPerKind = 1000000;  // every leaked page named
        const CheckReport r = Checker(*p.db, o).run();
        filesWithLeaks += r.leakedPages > 0;
        // Every page the check finds nobody uses was read ahead. Read in vain: the
        // global map's own pages, and long values that only rows reach (older files
        // keep some outside any map); few in every file.
        std::set<std::uint32_t> read;
        std::size_t zeroRead = 0;
        for (const LeakedPage& l : ahead) {
            read.insert(l.page);
            zeroRead += l.seen == LeakedPage::Seen::Zero;
        }
        std::size_t zeroLeaked = 0;
        for (const Finding& f : r.findings) {
            if (f.code == "leaked_page") {
                EXPECT_TRUE(read.count(*f.page)) << *f.page;
            }
            if (f.code == "leaked_zero_pages") zeroLeaked = std::stoul(f.message);
        }
        EXPECT_GE(zeroRead, zeroLeaked);
        EXPECT_GE(ahead.size(), r.leakedPages);
        EXPECT_LE(ahead.size(), r.leakedPages + 4);
        // What each page holds, as its bytes tell when read directly.
        for (const LeakedPage& l : ahead) {
            PageRef ref = p.db->file().page(PageNumber(l.page));
            const bool zero = std::all_of(ref->bytes.begin(), ref->bytes.end(), [](std::uint8_t b) { return b == 0; });
            EXPECT_EQ(l.seen, zero ? LeakedPage::Seen::Zero : LeakedPage::Seen::Used) << l.page;
            EXPECT_EQ(l.type, ref->bytes[0]) << l.page;
        }
        EXPECT_TRUE(std::is_sorted(ahead.begin(), ahead.end(),
                                   [](const LeakedPage& a, const LeakedPage& b) { return a.page < b.page; }));
    }
    EXPECT_GT(filesWithLeaks, 0u);
}

TEST(CheckReadAhead, WithoutTheGlobalMapNoPagesAreReadForTheAccounting) {
    Planned p = planOf("jet4/testV2003.mdb");
    CheckReadAhead readAhead(p.db->file(), p.db->layout(), p.tables);
    std::vector<LeakedPage> ahead{LeakedPage{7}};
    EXPECT_FALSE(readAhead.takeLeakedPages(ahead, Unstarted::Wait));
    EXPECT_EQ(ahead.size(), 1u);  // left as it was
}

}  // namespace
}  // namespace jet
