#include "jet/index/sort_order_table.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "jet/index/sort_order_general.h"
#include "jet/index/sort_order_general97.h"

namespace jet {
namespace {

using ByteVec = std::vector<std::uint8_t>;

TEST(SortOrderTable, CoverageIsReportedPerOrder) {
    // General 97 is complete (every code-page byte); the Jet4+ tables hold what the
    // corpus indexes show. Printed so the gap stays in view.
    for (const auto order : {SortOrder::General97, SortOrder::GeneralLegacy, SortOrder::General}) {
        std::size_t kinds[4] = {};
        for (const auto& e : sortTable(order)) ++kinds[static_cast<int>(e.kind)];
        std::printf("[ sort     ] %s: %zu characters (%zu simple, %zu international, %zu unprintable, %zu ignored)\n",
                    sortOrderName(order).c_str(), sortTable(order).size(), kinds[0], kinds[1], kinds[2], kinds[3]);
    }
    EXPECT_EQ(sortTable(SortOrder::General97).size(), 256u);
    EXPECT_GE(sortTable(SortOrder::GeneralLegacy).size(), 100u);
    EXPECT_GE(sortTable(SortOrder::General).size(), 60u);
}

TEST(SortOrderTable, LookupFindsOnlyKnownCharacters) {
    const SortCharEntry* a = findSortChar(SortOrder::General97, 'A');
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->kind, SortCharKind::Simple);
    EXPECT_EQ(a->inlineBytes[0], 0x60);
    const SortCharEntry* e = findSortChar(SortOrder::General97, 0xE9);  // é
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->kind, SortCharKind::International);
    EXPECT_EQ(e->extra, 4);
    EXPECT_EQ(findSortChar(SortOrder::GeneralLegacy, 0x6F22), nullptr);  // 漢: never derived
    const SortCharEntry* dash = findSortChar(SortOrder::GeneralLegacy, '-');
    ASSERT_NE(dash, nullptr);
    EXPECT_EQ(dash->kind, SortCharKind::Unprintable);
}

TEST(SortOrderTable, General97SignificantLettersAreThoseWithAccentedForms) {
    for (const char c : {'A', 'C', 'E', 'I', 'N', 'O', 'U', 'Y', 'a', 'e', 'y'}) {
        EXPECT_TRUE(isGeneral97SignificantCode(findSortChar(SortOrder::General97, static_cast<std::uint8_t>(c))->inlineBytes[0]))
            << c;
    }
    for (const char c : {'B', 'D', 'Z', '-', '1', ' '}) {
        EXPECT_FALSE(isGeneral97SignificantCode(findSortChar(SortOrder::General97, static_cast<std::uint8_t>(c))->inlineBytes[0]))
            << c;
    }
}

TEST(SortOrderGeneral97, LigatureCountsTwoSignificantPositions) {
    // "ßä": ß emits the codes of "ss", two significant positions before the accent.
    const std::uint8_t value[] = {0xDF, 0xE4};
    const TextKey k = encodeGeneral97Text(value);
    ASSERT_TRUE(k.ok());
    EXPECT_EQ(k.bytes, (ByteVec{0x76, 0x76, 0x60, 0x02, 0x26, 0x00}));
}

TEST(SortOrderGeneral97, ControlAndUndefinedBytesShareOneCode) {
    for (const std::uint8_t b : {0x00, 0x01, 0x1F, 0x81, 0x8D, 0x8F, 0x90, 0x9D}) {
        const std::uint8_t value[] = {'a', b};
        EXPECT_EQ(encodeGeneral97Text(value).bytes, (ByteVec{0x60, 0x10, 0x00})) << int(b);
    }
}

TEST(SortOrderGeneral, SurrogatePairsAreComputed) {
    // testEmoticonsV2010: "a😀a" in the General order.
    const std::uint16_t value[] = {0x61, 0xD83D, 0xDE00, 0x61};
    const TextKey k = encodeGeneralText(SortOrder::General, value);
    ASSERT_TRUE(k.ok());
    EXPECT_EQ(k.bytes, (ByteVec{0x0E, 0x02, 0xB0, 0x3F, 0xB6, 0xFC, 0x0E, 0x02, 0x01, 0x02, 0x3F, 0x3F, 0x00}));
}

TEST(SortOrderGeneral, TrailingSpacesAndLengthLimit) {
    const std::uint16_t padded[] = {'a', 'b', ' ', ' '};
    const std::uint16_t plain[] = {'a', 'b'};
    EXPECT_EQ(encodeGeneralText(SortOrder::GeneralLegacy, padded).bytes,
              encodeGeneralText(SortOrder::GeneralLegacy, plain).bytes);
    std::vector<std::uint16_t> longValue(300, 'a');
    std::vector<std::uint16_t> limit(255, 'a');
    longValue[280] = 0x6F22;  // beyond the indexed part: not looked at
    const TextKey k = encodeGeneralText(SortOrder::GeneralLegacy, longValue);
    ASSERT_TRUE(k.ok());
    EXPECT_EQ(k.bytes, encodeGeneralText(SortOrder::GeneralLegacy, limit).bytes);
    EXPECT_EQ(k.bytes.size(), 255u + 2);
}

TEST(SortOrderGeneral, UnprintableRecordsCarryTheirPosition) {
    // "a-b": '-' after one inline character: record 0x8000 | (7 + 4 * 1).
    const std::uint16_t value[] = {'a', '-', 'b'};
    const TextKey k = encodeGeneralText(SortOrder::GeneralLegacy, value);
    ASSERT_TRUE(k.ok());
    EXPECT_EQ(k.bytes, (ByteVec{0x4A, 0x4C, 0x01, 0x01, 0x01, 0x01, 0x80, 0x0B, 0x06, 0x82, 0x00}));
}

TEST(SortOrderGeneral, MissingCharacterStopsTheKey) {
    const std::uint16_t value[] = {'a', 0x4E00, 'b'};
    const TextKey k = encodeGeneralText(SortOrder::GeneralLegacy, value);
    EXPECT_FALSE(k.ok());
    EXPECT_EQ(*k.unsupportedCharacter, 0x4E00u);
    EXPECT_TRUE(k.bytes.empty());
}

TEST(SortOrder, ColumnBlocksSelectTheOrder) {
    Column c;
    c.collation = 1033;
    EXPECT_EQ(sortOrderOfColumn(c, true), SortOrder::General97);
    EXPECT_EQ(sortOrderOfColumn(c, false), SortOrder::GeneralLegacy);
    c.sortOrderVersion = 1;
    EXPECT_EQ(sortOrderOfColumn(c, false), SortOrder::General);
    c.sortOrderVersion = 2;
    EXPECT_FALSE(sortOrderOfColumn(c, false).has_value());
    c.collation = 1031;  // German phone book: no table
    c.sortOrderVersion = 0;
    EXPECT_FALSE(sortOrderOfColumn(c, false).has_value());
    EXPECT_FALSE(sortOrderOfColumn(c, true).has_value());
}

}  // namespace
}  // namespace jet
