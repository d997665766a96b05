#include "jet/index/index_tree.h"

#include <gtest/gtest.h>

#include <map>

#include "jet/format/jet_error.h"
#include "index_test_pages.h"

namespace jet {
namespace {

using testing::buildIndexPage;
using testing::leafEntry;
using testing::nodeEntry;

// Pages in memory, served to the walker.
class MemoryPages {
public:
    void put(std::uint32_t n, std::vector<std::uint8_t> bytes) {
        pages_[n] = std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
    }
    IndexPageSource source() {
        return [this](PageNumber n) {
            auto it = pages_.find(n.value);
            if (it == pages_.end()) {
                ErrorLocation where;
                where.page = n.value;
                throwCorruption("page beyond the file", where);
            }
            return IndexPageData{it->second, *it->second};
        };
    }

private:
    std::map<std::uint32_t, std::shared_ptr<const std::vector<std::uint8_t>>> pages_;
};

class IndexTreeWalk : public ::testing::Test {
protected:
    IndexPageLayout layout = IndexPageLayout::forJet4();
    MemoryPages pages;

    // Root 10 over leaves 11 and 12 (12 is the tail child).
    void buildTwoLevelTree() {
        pages.put(11, buildIndexPage(layout, true, 5, {leafEntry(1, 20, 0), leafEntry(2, 20, 1)}, 0, 12));
        pages.put(12, buildIndexPage(layout, true, 5, {leafEntry(3, 21, 0), leafEntry(4, 21, 1)}, 11, 0));
        pages.put(10, buildIndexPage(layout, false, 5, {nodeEntry(2, 20, 1, 11)}, 0, 0, 12));
    }
};

TEST_F(IndexTreeWalk, YieldsLeafEntriesInOrderThroughTail) {
    buildTwoLevelTree();
    const IndexTree tree = IndexTreeWalker(pages.source(), layout, 100).walk(PageNumber(10), PageNumber(5));
    ASSERT_EQ(tree.entries.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        auto expected = leafEntry(static_cast<int>(i) + 1, 0, 0);
        expected.resize(5);  // the key part: flag byte and the Long
        const auto key = tree.key(tree.entries[i]);
        EXPECT_EQ(std::vector<std::uint8_t>(key.begin(), key.end()), expected);
    }
    EXPECT_EQ(tree.entries[2].leaf, PageNumber(12));
    EXPECT_EQ(tree.depth, 1u);
    ASSERT_EQ(tree.pages.size(), 3u);
    EXPECT_EQ(tree.pages[0].kind, IndexPageKind::Intermediate);
    EXPECT_EQ(tree.pages[0].tail, PageNumber(12));
    EXPECT_TRUE(tree.findings.empty()) << tree.findings.front().detail;
}

TEST_F(IndexTreeWalk, ReportsNodeEntryThatDiffersFromChildAndBrokenLinks) {
    pages.put(11, buildIndexPage(layout, true, 5, {leafEntry(1, 20, 0), leafEntry(2, 20, 1)}, 0, 0));
    pages.put(12, buildIndexPage(layout, true, 5, {leafEntry(3, 21, 0)}, 0, 0));
    pages.put(10, buildIndexPage(layout, false, 5, {nodeEntry(7, 20, 1, 11)}, 0, 0, 12));
    const IndexTree tree = IndexTreeWalker(pages.source(), layout, 100).walk(PageNumber(10), PageNumber(6));
    std::size_t differs = 0, links = 0, owners = 0;
    for (const auto& f : tree.findings) {
        if (f.detail.find("differs") != std::string::npos) ++differs;
        if (f.detail.find("link") != std::string::npos) ++links;
        if (f.detail.find("owner") != std::string::npos) ++owners;
    }
    EXPECT_EQ(differs, 1u);
    EXPECT_EQ(links, 2u);   // 11.next should be 12, 12.prev should be 11
    EXPECT_EQ(owners, 3u);  // every page says table 5, the caller expected 6
}

TEST_F(IndexTreeWalk, ReportsEntriesOutOfOrder) {
    pages.put(10, buildIndexPage(layout, true, 5, {leafEntry(2, 20, 0), leafEntry(1, 20, 1)}));
    const IndexTree tree = IndexTreeWalker(pages.source(), layout, 100).walk(PageNumber(10));
    ASSERT_EQ(tree.findings.size(), 1u);
    EXPECT_NE(tree.findings[0].detail.find("not greater"), std::string::npos);
}

TEST_F(IndexTreeWalk, CycleEndsAsCorruption) {
    // The tail of the root points back at the root.
    pages.put(11, buildIndexPage(layout, true, 5, {leafEntry(1, 20, 0)}));
    pages.put(10, buildIndexPage(layout, false, 5, {nodeEntry(1, 20, 0, 11)}, 0, 0, 10));
    EXPECT_THROW(IndexTreeWalker(pages.source(), layout, 100).walk(PageNumber(10)), JetError);
}

TEST_F(IndexTreeWalk, SharedChildEndsAsCorruption) {
    pages.put(11, buildIndexPage(layout, true, 5, {leafEntry(1, 20, 0)}));
    pages.put(10, buildIndexPage(layout, false, 5, {nodeEntry(1, 20, 0, 11)}, 0, 0, 11));
    EXPECT_THROW(IndexTreeWalker(pages.source(), layout, 100).walk(PageNumber(10)), JetError);
}

TEST_F(IndexTreeWalk, PageBudgetAndMissingPagesAndPageZero) {
    buildTwoLevelTree();
    EXPECT_THROW(IndexTreeWalker(pages.source(), layout, 2).walk(PageNumber(10)), JetError);
    pages.put(13, buildIndexPage(layout, false, 5, {nodeEntry(1, 20, 0, 99)}));
    EXPECT_THROW(IndexTreeWalker(pages.source(), layout, 100).walk(PageNumber(13)), JetError);
    pages.put(14, buildIndexPage(layout, false, 5, {nodeEntry(1, 20, 0, 0)}));
    EXPECT_THROW(IndexTreeWalker(pages.source(), layout, 100).walk(PageNumber(14)), JetError);
}

TEST_F(IndexTreeWalk, DepthLimitStopsAChainOfIntermediatePages) {
    // 40 intermediate pages each pointing to the next through its tail.
    for (std::uint32_t n = 100; n < 140; ++n) {
        pages.put(n, buildIndexPage(layout, false, 5, {}, 0, 0, n + 1));
    }
    try {
        IndexTreeWalker(pages.source(), layout, 1000).walk(PageNumber(100));
        FAIL() << "unbounded descent accepted";
    } catch (const JetError& e) {
        EXPECT_NE(e.detail().find("deeper"), std::string::npos);
    }
}

TEST_F(IndexTreeWalk, DamagedChildPageCarriesItsLocation) {
    buildTwoLevelTree();
    auto bad = buildIndexPage(layout, true, 5, {leafEntry(3, 21, 0)});
    bad[layout.prefixOffset] = 99;
    pages.put(12, bad);
    try {
        IndexTreeWalker(pages.source(), layout, 100).walk(PageNumber(10));
        FAIL();
    } catch (const JetError& e) {
        ASSERT_TRUE(e.location().page.has_value());
        EXPECT_EQ(*e.location().page, 12u);
    }
}

}  // namespace
}  // namespace jet
