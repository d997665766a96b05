// Trees built from sorted entries read back through the index walker: every entry
// in order, leaves chained, intermediate levels with tails, one depth everywhere.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "jet/format/jet_error.h"
#include "jet/index/index_builder.h"
#include "jet/index/index_tree.h"

namespace {

using jet::IndexBuildEntry;
using jet::PageNumber;
using jet::RowPointer;

// Sorted entries whose keys live in `keys` (kept beside them, as the compactor
// keeps one buffer of keys per index).
struct Entries {
    std::vector<std::vector<std::uint8_t>> keys;
    std::vector<IndexBuildEntry> entries;
};

Entries makeEntries(std::size_t n, std::size_t keyLength) {
    Entries made;
    for (std::size_t i = 0; i < n; ++i) {
        std::vector<std::uint8_t> key(keyLength, 0x41);
        key[0] = 0x7F;
        for (std::size_t b = 0; b < 4 && b + 1 < keyLength; ++b)
            key[keyLength - 1 - b] = static_cast<std::uint8_t>(i >> (8 * b));
        made.keys.push_back(std::move(key));
    }
    for (std::size_t i = 0; i < n; ++i)
        made.entries.push_back(IndexBuildEntry{
            made.keys[i], RowPointer(PageNumber(static_cast<std::uint32_t>(100 + i / 50)), static_cast<std::uint8_t>(i % 50))});
    std::sort(made.entries.begin(), made.entries.end(), jet::indexEntryLess);
    return made;
}

jet::IndexTree buildAndWalk(const jet::IndexPageLayout& layout, const std::vector<IndexBuildEntry>& entries,
                            std::size_t* pageCount = nullptr) {
    std::map<std::uint32_t, std::vector<std::uint8_t>> pages;
    const jet::IndexBuilder builder(layout, entries);
    const PageNumber root = builder.write(PageNumber(10), 7, [&](PageNumber n, std::span<const std::uint8_t> p) {
        EXPECT_TRUE(pages.emplace(n.value, std::vector<std::uint8_t>(p.begin(), p.end())).second);
    });
    EXPECT_EQ(pages.size(), builder.pageCount());
    EXPECT_EQ(root.value, 10 + builder.pageCount() - 1);
    if (pageCount) *pageCount = builder.pageCount();
    jet::IndexTreeWalker walker(
        [&](PageNumber n) {
            auto it = pages.find(n.value);
            if (it == pages.end()) throw std::runtime_error("missing page " + std::to_string(n.value));
            return jet::IndexPageData{nullptr, it->second};
        },
        layout, 100000);
    return walker.walk(root, PageNumber(7));
}

void expectSame(const jet::IndexTree& tree, const std::vector<IndexBuildEntry>& entries) {
    ASSERT_EQ(tree.entries.size(), entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto key = tree.key(tree.entries[i]);
        EXPECT_EQ(std::vector<std::uint8_t>(key.begin(), key.end()),
                  std::vector<std::uint8_t>(entries[i].key.begin(), entries[i].key.end()))
            << i;
        EXPECT_EQ(tree.entries[i].row, entries[i].row) << i;
    }
    for (const auto& f : tree.findings) ADD_FAILURE() << "page " << f.page.value << ": " << f.detail;
}

TEST(IndexBuilder, EmptyIndexIsOneEmptyLeaf) {
    for (bool jet3 : {true, false}) {
        std::size_t pages = 0;
        const auto tree = buildAndWalk(jet::IndexPageLayout::forVersion(jet3), {}, &pages);
        EXPECT_EQ(pages, 1u);
        EXPECT_TRUE(tree.entries.empty());
        ASSERT_EQ(tree.pages.size(), 1u);
        EXPECT_EQ(tree.pages[0].kind, jet::IndexPageKind::Leaf);
        EXPECT_EQ(tree.pages[0].freeSpace, jet3 ? 1800 : 3616);
    }
}

TEST(IndexBuilder, TreesOfEveryDepthReadBackInOrder) {
    for (bool jet3 : {true, false}) {
        const auto layout = jet::IndexPageLayout::forVersion(jet3);
        for (std::size_t n : {1u, 60u, 5000u}) {
            SCOPED_TRACE(std::to_string(n) + (jet3 ? " jet3" : " jet4"));
            const auto made = makeEntries(n, 8);
            const auto tree = buildAndWalk(layout, made.entries);
            expectSame(tree, made.entries);
            for (const auto& p : tree.pages) EXPECT_EQ(p.freeSpace, p.computedFreeSpace);
        }
    }
    // Long keys force three levels of intermediate pages.
    const auto layout = jet::IndexPageLayout::forJet3();
    const auto made = makeEntries(3000, 250);
    const auto tree = buildAndWalk(layout, made.entries);
    expectSame(tree, made.entries);
    EXPECT_GE(tree.depth, 3u);
    unsigned leafDepth = 0;
    for (const auto& p : tree.pages)
        if (p.kind == jet::IndexPageKind::Leaf) {
            if (leafDepth == 0) leafDepth = p.depth;
            EXPECT_EQ(p.depth, leafDepth) << "all leaves at one depth";
        }
}

TEST(IndexBuilder, RefusesAnEntryLargerThanAPage) {
    const auto made = makeEntries(1, 2000);
    EXPECT_THROW(jet::IndexBuilder(jet::IndexPageLayout::forJet3(), made.entries), jet::JetError);
}

}  // namespace
