#include "jet/index/index_page.h"

#include <gtest/gtest.h>

#include "jet/format/jet_error.h"
#include "index_test_pages.h"

namespace jet {
namespace {

using testing::buildIndexPage;
using testing::leafEntry;
using testing::nodeEntry;
using testing::readCorpusPage;

TEST(IndexPage, DecodesJet3IntermediateRootFromCorpus) {
    // Root of the index on Table1.data in the Access 97 index-codes database.
    const auto layout = IndexPageLayout::forJet3();
    const auto bytes = readCorpusPage("jet3/testIndexCodesV1997.mdb", 50, layout.pageSize);
    const IndexPage page = decodeIndexPage(bytes, PageNumber(50), layout);
    EXPECT_EQ(page.kind, IndexPageKind::Intermediate);
    EXPECT_EQ(page.owner, PageNumber(45));
    EXPECT_EQ(page.tail, PageNumber(52));
    EXPECT_EQ(page.prefixLength, 0);
    EXPECT_EQ(page.nodeFlag, 0x01);
    EXPECT_EQ(page.freeSpace, 1783);
    EXPECT_EQ(page.computedFreeSpace(layout), page.freeSpace);
    ASSERT_FALSE(page.entries.empty());
    for (std::size_t i = 1; i < page.entries.size(); ++i) {
        EXPECT_LT(compareIndexEntries(page.entries[i - 1], page.entries[i]), 0) << "entry " << i;
    }
    for (const auto& e : page.entries) {
        EXPECT_FALSE(e.child.isNull());
        EXPECT_EQ(e.key.front(), 0x7F);  // ascending text, value present
    }
}

TEST(IndexPage, ExpandsSharedPrefixOnJet4Leaf) {
    // compIndexTestV2000 page 32 is a leaf stored with a 3-byte shared prefix.
    const auto layout = IndexPageLayout::forJet4();
    const auto bytes = readCorpusPage("jet4/compIndexTestV2000.mdb", 32, layout.pageSize);
    const IndexPage page = decodeIndexPage(bytes, PageNumber(32), layout);
    EXPECT_TRUE(page.isLeaf());
    EXPECT_EQ(page.prefixLength, 3);
    EXPECT_EQ(page.computedFreeSpace(layout), page.freeSpace);
    ASSERT_GT(page.entries.size(), 2u);
    const auto& first = page.entries.front().key;
    for (std::size_t i = 0; i < page.entries.size(); ++i) {
        const auto& k = page.entries[i].key;
        ASSERT_GE(k.size(), 3u);
        EXPECT_TRUE(std::equal(first.begin(), first.begin() + 3, k.begin())) << "entry " << i;
        if (i > 0) {
            EXPECT_EQ(page.entries[i].storedLength + 3, k.size() + 4);
            EXPECT_LT(compareIndexEntries(page.entries[i - 1], page.entries[i]), 0);
        }
    }
}

TEST(IndexPage, SplitsRowPointerAndChildBigEndian) {
    const auto layout = IndexPageLayout::forJet4();
    const auto leaf = buildIndexPage(layout, true, 7, {leafEntry(10383, 261, 3)});
    const IndexPage lp = decodeIndexPage(leaf, PageNumber(9), layout);
    ASSERT_EQ(lp.entries.size(), 1u);
    EXPECT_EQ(lp.entries[0].key, (std::vector<std::uint8_t>{0x7F, 0x80, 0x00, 0x28, 0x8F}));
    EXPECT_EQ(lp.entries[0].row, RowPointer(PageNumber(261), 3));
    EXPECT_EQ(lp.entries[0].sortBytes(), (std::vector<std::uint8_t>{0x7F, 0x80, 0x00, 0x28, 0x8F, 0x00, 0x01, 0x05, 0x03}));

    const auto node = buildIndexPage(layout, false, 7, {nodeEntry(5, 300, 1, 0x00012345)});
    const IndexPage np = decodeIndexPage(node, PageNumber(10), layout);
    ASSERT_EQ(np.entries.size(), 1u);
    EXPECT_EQ(np.entries[0].child, PageNumber(0x00012345));
    EXPECT_EQ(np.entries[0].row, RowPointer(PageNumber(300), 1));
}

TEST(IndexPage, EmptyRootLeafHasWholeAreaFree) {
    for (const auto& layout : {IndexPageLayout::forJet3(), IndexPageLayout::forJet4()}) {
        const auto bytes = buildIndexPage(layout, true, 2, {});
        const IndexPage page = decodeIndexPage(bytes, PageNumber(3), layout);
        EXPECT_TRUE(page.entries.empty());
        EXPECT_EQ(page.computedFreeSpace(layout), layout.pageSize == 2048 ? 1800u : 3616u);
    }
}

TEST(IndexPage, OrdersShorterKeyFirstThenRowPointer) {
    IndexEntry a{{0x7F, 0x60}, RowPointer(PageNumber(9), 1), {}, 0, 0};
    IndexEntry b{{0x7F, 0x60, 0x00}, RowPointer(PageNumber(1), 0), {}, 0, 0};
    IndexEntry c{{0x7F, 0x60}, RowPointer(PageNumber(9), 2), {}, 0, 0};
    // a's joined bytes 7F 60 00 00 09 01 vs b's 7F 60 00 00 00 01 00: b is smaller.
    EXPECT_GT(compareIndexEntries(a, b), 0);
    EXPECT_LT(compareIndexEntries(a, c), 0);
    EXPECT_EQ(compareIndexEntries(a, a), 0);
}

// Damaged pages: each must give a JetError naming the page, never a crash.
class DamagedIndexPage : public ::testing::Test {
protected:
    IndexPageLayout layout = IndexPageLayout::forJet4();
    std::vector<std::uint8_t> page = buildIndexPage(layout, true, 7, {leafEntry(1, 20, 0), leafEntry(2, 20, 1)});

    void expectCorruption() {
        try {
            decodeIndexPage(page, PageNumber(44), layout);
            FAIL() << "damaged page accepted";
        } catch (const JetError& e) {
            EXPECT_EQ(e.kind(), ErrorKind::Corruption);
            ASSERT_TRUE(e.location().page.has_value());
            EXPECT_EQ(*e.location().page, 44u);
        }
    }
};

TEST_F(DamagedIndexPage, WrongPageType) {
    page[0] = 0x01;
    expectCorruption();
}

TEST_F(DamagedIndexPage, MaskBitBeyondEntryArea) {
    page[layout.maskOffset + layout.maskLength - 1] = 0x80;  // position 3623 > 3616-byte area
    expectCorruption();
}

TEST_F(DamagedIndexPage, ZeroLengthFirstEntry) {
    page[layout.maskOffset] |= 0x01;  // an entry ending at position 0
    expectCorruption();
}

TEST_F(DamagedIndexPage, EntryTooShortForRowPointer) {
    std::fill(page.begin() + static_cast<long>(layout.maskOffset),
              page.begin() + static_cast<long>(layout.maskOffset + layout.maskLength), 0);
    page[layout.maskOffset] = 0x08;  // a 3-byte entry
    expectCorruption();
}

TEST_F(DamagedIndexPage, PrefixLongerThanFirstEntry) {
    page[layout.prefixOffset] = 200;
    expectCorruption();
}

TEST_F(DamagedIndexPage, TruncatedPage) {
    page.resize(100);
    expectCorruption();
}

TEST(IndexPage, SurvivesEveryByteOfARealPageFlipped) {
    // Each byte of a real leaf inverted in turn: either a decoded page or a JetError.
    const auto layout = IndexPageLayout::forJet3();
    const auto original = readCorpusPage("jet3/testIndexCodesV1997.mdb", 52, layout.pageSize);
    std::size_t rejected = 0;
    for (std::size_t i = 0; i < original.size(); ++i) {
        auto damaged = original;
        damaged[i] = static_cast<std::uint8_t>(~damaged[i]);
        try {
            decodeIndexPage(damaged, PageNumber(52), layout);
        } catch (const JetError&) {
            ++rejected;
        }
    }
    EXPECT_GT(rejected, 0u);
}

}  // namespace
}  // namespace jet
