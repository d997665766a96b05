// Trees walked on the prefetch thread must be the very trees a walk on the calling
// thread gives, including the error a damaged tree ends with; walks skipped or
// never planned must neither hang nor hand out the wrong tree.
#include "jet/index_tree_prefetch.h"

#include <gtest/gtest.h>

#include "corpus_files.h"
#include "jet/database.h"
#include "jet/jet_error.h"

namespace jet {
namespace {

struct PlannedWalks {
    std::unique_ptr<Database> db;
    std::vector<IndexTreePrefetch::Walk> walks;
    IndexPageLayout layout;
};

PlannedWalks walksOf(const std::string& corpusName) {
    PlannedWalks p;
    p.db = Database::open(jet_test::corpusFile(corpusName));
    p.layout = IndexPageLayout::forVersion(p.db->layout().jet3);
    for (const TableEntry& t : p.db->tables())
        if (t.definition)
            for (const PhysicalIndex& ix : t.definition->physicalIndexes)
                p.walks.push_back({ix.rootPage, t.definition->tdefPage});
    return p;
}

IndexTree walkHere(PlannedWalks& p, const IndexTreePrefetch::Walk& w) {
    PageFile& file = p.db->file();
    IndexTreeWalker walker(
        [&file](PageNumber n) {
            PageRef ref = file.page(n);
            return IndexPageData{ref, ref->span()};
        },
        p.layout, file.pageCount(), 16);
    return walker.walk(w.root, w.owner);
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

TEST(IndexTreePrefetch, EveryTreeMatchesAWalkOnTheCallingThread) {
    PlannedWalks p = walksOf("jet4/testV2003.mdb");
    ASSERT_GT(p.walks.size(), 10u);
    // Limits by count and by bytes (one byte: a single tree waits at a time).
    for (const auto& [ahead, bytes] : {std::pair<std::size_t, std::size_t>{2, 32u << 20}, {16, 1}}) {
        IndexTreePrefetch prefetch(p.db->file(), p.layout, p.walks, ahead, bytes);
        IndexTree tree;  // reused, as the checker does
        for (const auto& w : p.walks) {
            ASSERT_TRUE(prefetch.take(w.root, w.owner, tree));
            expectSameTree(tree, walkHere(p, w));
        }
    }
}

TEST(IndexTreePrefetch, SkippedWalksAreDroppedAndWalksOutsideThePlanAreRefused) {
    PlannedWalks p = walksOf("jet4/testV2003.mdb");
    ASSERT_GT(p.walks.size(), 4u);
    IndexTreePrefetch prefetch(p.db->file(), p.layout, p.walks, 1);
    IndexTree tree;
    const auto& third = p.walks[3];
    ASSERT_TRUE(prefetch.take(third.root, third.owner, tree));
    expectSameTree(tree, walkHere(p, third));
    // Walks before it are gone; so is one the plan never had.
    const auto& first = p.walks[0];
    bool firstAgain = false;
    for (std::size_t i = 4; i < p.walks.size(); ++i)
        if (p.walks[i].root == first.root && p.walks[i].owner == first.owner) firstAgain = true;
    if (!firstAgain) EXPECT_FALSE(prefetch.take(first.root, first.owner, tree));
    EXPECT_FALSE(prefetch.take(PageNumber(1), PageNumber(2), tree));
    const auto& last = p.walks.back();
    ASSERT_TRUE(prefetch.take(last.root, last.owner, tree));
    expectSameTree(tree, walkHere(p, last));
}

TEST(IndexTreePrefetch, AWalkThatThrowsThrowsTheSameErrorWhenTaken) {
    PlannedWalks p = walksOf("jet4/testV2003.mdb");
    const PageNumber beyond(p.db->pageCount() + 5);
    std::vector<IndexTreePrefetch::Walk> plan = {{beyond, PageNumber(2)}, p.walks[0]};
    IndexTreePrefetch prefetch(p.db->file(), p.layout, plan);
    IndexTree tree;
    std::string here;
    try {
        walkHere(p, plan[0]);
    } catch (const JetError& e) {
        here = e.what();
    }
    ASSERT_FALSE(here.empty());
    try {
        prefetch.take(beyond, PageNumber(2), tree);
        ADD_FAILURE() << "no error";
    } catch (const JetError& e) {
        EXPECT_EQ(std::string(e.what()), here);
        EXPECT_EQ(e.location().page, std::optional<std::uint32_t>(beyond.value));
    }
    ASSERT_TRUE(prefetch.take(plan[1].root, plan[1].owner, tree));
    expectSameTree(tree, walkHere(p, plan[1]));
}

TEST(IndexTreePrefetch, ADestroyedPrefetchWithTreesLeftStopsItsThread) {
    PlannedWalks p = walksOf("jet4/testV2003.mdb");
    for (std::size_t ahead : {1u, 3u}) {
        IndexTreePrefetch prefetch(p.db->file(), p.layout, p.walks, ahead);
        IndexTree tree;
        ASSERT_TRUE(prefetch.take(p.walks[0].root, p.walks[0].owner, tree));
    }  // leaving the scope must not hang
}

}  // namespace
}  // namespace jet
