#include "jet/index/sort_order_table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>

#include "jet/index/key_text_units.h"
#include "jet/index/sort_order_general.h"
#include "jet/index/sort_order_general97.h"

namespace jet {
namespace {

using ByteVec = std::vector<std::uint8_t>;

ByteVec bytesOf(std::span<const std::uint8_t> s) { return ByteVec(s.begin(), s.end()); }

std::map<SortCharKind, std::size_t> kindCounts(SortOrder order) {
    std::map<SortCharKind, std::size_t> kinds;
    const SortCharFinder finder(order);
    for (std::size_t u = 0; u < finder.size(); ++u) {
        if (finder.has(static_cast<std::uint16_t>(u))) ++kinds[finder.find(static_cast<std::uint16_t>(u)).kind()];
    }
    return kinds;
}

// The counts of each kind are those of the source tables (one line per unit; the
// General 97 byte 0x00 corrected from ignored to simple).
TEST(SortOrderTable, EveryUnitButTheSurrogatesHasACode) {
    using K = SortCharKind;
    const std::map<K, std::size_t> legacy = {{K::Simple, 41775}, {K::International, 1851}, {K::Unprintable, 99},
                                             {K::UnprintableExtension, 306}, {K::InternationalExtended, 276},
                                             {K::Ignored, 19181}};
    const std::map<K, std::size_t> general = {{K::Simple, 48648}, {K::International, 8963}, {K::Unprintable, 51},
                                              {K::UnprintableExtension, 459}, {K::InternationalExtended, 294},
                                              {K::Ignored, 5073}};
    const std::map<K, std::size_t> general97 = {{K::Simple, 182}, {K::International, 56}, {K::Significant, 18}};
    EXPECT_EQ(kindCounts(SortOrder::GeneralLegacy), legacy);
    EXPECT_EQ(kindCounts(SortOrder::General), general);
    EXPECT_EQ(kindCounts(SortOrder::General97), general97);
    for (const auto order : {SortOrder::GeneralLegacy, SortOrder::General}) {
        const SortCharFinder finder(order);
        ASSERT_EQ(finder.size(), 0x10000u);
        std::size_t missing = 0;
        for (std::uint32_t u = 0; u < 0x10000; ++u) {
            const bool surrogate = u >= 0xD800 && u <= 0xDFFF;
            if (finder.has(static_cast<std::uint16_t>(u)) == surrogate) ++missing;
        }
        EXPECT_EQ(missing, 0u) << sortOrderName(order);
    }
    EXPECT_EQ(SortCharFinder(SortOrder::General97).size(), 256u);
    EXPECT_FALSE(findSortChar(SortOrder::General97, 0x100).has_value());
}

TEST(SortOrderTable, FieldsWithAnOddDigitCountLostALeadingZero) {
    // General U+0106 "IE0A,E": extra byte 0x0E. General legacy U+0009 "S803": 08 03
    // (stored so in testUnicodeCompV2003); U+0001 "U3"; U+02B9 "PC".
    const auto c = findSortChar(SortOrder::General, 0x0106);
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(c->kind(), SortCharKind::International);
    EXPECT_EQ(bytesOf(c->primary()), (ByteVec{0x0E, 0x0A}));
    EXPECT_EQ(bytesOf(c->secondary()), (ByteVec{0x0E}));
    EXPECT_EQ(bytesOf(findSortChar(SortOrder::GeneralLegacy, 0x0009)->primary()), (ByteVec{0x08, 0x03}));
    EXPECT_EQ(bytesOf(findSortChar(SortOrder::GeneralLegacy, 0x0001)->primary()), (ByteVec{0x03}));
    EXPECT_EQ(findSortChar(SortOrder::GeneralLegacy, 0x0001)->kind(), SortCharKind::Unprintable);
    // General U+00E6 "SE020E21": a ligature of the codes of a and e.
    EXPECT_EQ(bytesOf(findSortChar(SortOrder::General, 0x00E6)->primary()), (ByteVec{0x0E, 0x02, 0x0E, 0x21}));
    // General U+01C4 (DŽ) "IE1A0EA9,214": inline 0E 1A 0E A9, extra 02 14.
    EXPECT_EQ(bytesOf(findSortChar(SortOrder::General, 0x01C4)->primary()), (ByteVec{0x0E, 0x1A, 0x0E, 0xA9}));
    EXPECT_EQ(bytesOf(findSortChar(SortOrder::General, 0x01C4)->secondary()), (ByteVec{0x02, 0x14}));
}

TEST(SortOrderTable, EachKindKeepsItsFields) {
    const auto modifier = findSortChar(SortOrder::GeneralLegacy, 0x02B9);  // "PC"
    ASSERT_TRUE(modifier.has_value());
    EXPECT_EQ(modifier->kind(), SortCharKind::UnprintableExtension);
    EXPECT_TRUE(modifier->primary().empty());
    EXPECT_EQ(bytesOf(modifier->secondary()), (ByteVec{0x0C}));

    const auto smallA = findSortChar(SortOrder::General, 0x3041);  // "Z7F02,,1"
    ASSERT_TRUE(smallA.has_value());
    EXPECT_EQ(smallA->kind(), SortCharKind::InternationalExtended);
    EXPECT_EQ(bytesOf(smallA->primary()), (ByteVec{0x7F, 0x02}));
    EXPECT_TRUE(smallA->secondary().empty());
    EXPECT_EQ(smallA->flag(), 2);
    const auto gi = findSortChar(SortOrder::GeneralLegacy, 0x304E);  // "Z7F0B,3,"
    EXPECT_EQ(bytesOf(gi->secondary()), (ByteVec{0x03}));
    EXPECT_EQ(gi->flag(), 3);

    EXPECT_EQ(findSortChar(SortOrder::GeneralLegacy, 0x1F76)->kind(), SortCharKind::Ignored);  // "X"
    EXPECT_EQ(bytesOf(findSortChar(SortOrder::GeneralLegacy, 0x064B)->primary()), (ByteVec{0xA0}));  // "UA0"
    EXPECT_EQ(bytesOf(findSortChar(SortOrder::GeneralLegacy, 0x6F22)->primary()), (ByteVec{0xC0, 0xB6}));
    EXPECT_EQ(bytesOf(findSortChar(SortOrder::General, 'Z')->primary()), (ByteVec{0x0E, 0xA9}));
}

TEST(SortOrderTable, General97CodesAreByCodePageByte) {
    const auto a = findSortChar(SortOrder::General97, 'A');  // "G60"
    ASSERT_TRUE(a.has_value());
    EXPECT_EQ(a->kind(), SortCharKind::Significant);
    EXPECT_EQ(bytesOf(a->primary()), (ByteVec{0x60}));
    const auto e = findSortChar(SortOrder::General97, 0xE9);  // é "I66,04"
    EXPECT_EQ(e->kind(), SortCharKind::International);
    EXPECT_EQ(bytesOf(e->secondary()), (ByteVec{0x04}));
    const auto scaron = findSortChar(SortOrder::General97, 0x8A);  // Š "I76,0A"
    EXPECT_EQ(bytesOf(scaron->primary()), (ByteVec{0x76}));
    EXPECT_EQ(bytesOf(scaron->secondary()), (ByteVec{0x0A}));
    EXPECT_EQ(bytesOf(findSortChar(SortOrder::General97, 0xDF)->primary()), (ByteVec{0x76, 0x76}));  // ß
    // The source table ignores byte 0x00; nwind.mdb stores it as 0x10.
    const auto nul = findSortChar(SortOrder::General97, 0x00);
    EXPECT_EQ(nul->kind(), SortCharKind::Simple);
    EXPECT_EQ(bytesOf(nul->primary()), (ByteVec{0x10}));
    ASSERT_EQ(sortTableCorrections(SortOrder::General97).size(), 1u);
    EXPECT_EQ(sortTableCorrections(SortOrder::General97)[0], 0x0000);
    EXPECT_TRUE(sortTableCorrections(SortOrder::GeneralLegacy).empty());
    EXPECT_TRUE(sortTableCorrections(SortOrder::General).empty());
}

TEST(SortOrderTable, General97MapsCode1252CharactersOntoBytes) {
    EXPECT_EQ(general97ByteOf(0x0160), 0x8A);  // Š
    EXPECT_EQ(general97ByteOf(0x20AC), 0x80);  // €
    EXPECT_EQ(general97ByteOf(0x2122), 0x99);  // ™
    EXPECT_EQ(general97ByteOf(0x0178), 0x9F);  // Ÿ
    EXPECT_EQ(general97ByteOf(0x0041), 0x41);
    EXPECT_EQ(general97ByteOf(0x0081), 0x81);  // undefined in 1252: stored as itself
    EXPECT_FALSE(general97ByteOf(0x0100).has_value());
    EXPECT_FALSE(general97ByteOf(0x03B1).has_value());  // α
    std::size_t mapped = 0;
    for (std::uint32_t cp = 0x100; cp < 0x10000; ++cp) mapped += general97ByteOf(cp).has_value() ? 1 : 0;
    EXPECT_EQ(mapped, 27u);  // the 27 characters 1252 has at 0x80-0x9F
    std::optional<std::uint32_t> unmappable;
    EXPECT_EQ(utf8ToCp1252("\xE2\x82\xAC\xC5\xA0", unmappable), (ByteVec{0x80, 0x8A}));
    EXPECT_FALSE(unmappable.has_value());
}

TEST(SortOrderTable, LoadedTablesStayWithinTheirMemoryBudget) {
    const std::size_t bytes = sortTablesMemoryBytes();
    std::printf("[ sort     ] tables take %zu bytes once loaded\n", bytes);
    EXPECT_LT(bytes, std::size_t{2} << 20);
    EXPECT_GT(bytes, std::size_t{512} << 10);  // two 65,536-unit indexes at least
}

TEST(SortOrderTable, General97SignificantLettersAreTheMarkedOnes) {
    for (const char c : {'A', 'C', 'E', 'I', 'N', 'O', 'S', 'U', 'Y', 'a', 'e', 'y'}) {
        EXPECT_TRUE(isGeneral97SignificantCode(findSortChar(SortOrder::General97, static_cast<std::uint8_t>(c))->primary()[0]))
            << c;
    }
    for (const char c : {'B', 'D', 'Z', '-', '1', ' '}) {
        EXPECT_FALSE(isGeneral97SignificantCode(findSortChar(SortOrder::General97, static_cast<std::uint8_t>(c))->primary()[0]))
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

TEST(SortOrderGeneral97, OnlyTheFirst255BytesCount) {
    std::vector<std::uint8_t> longValue(300, 'b');
    longValue[260] = 0xE9;  // an accent beyond the limit adds no stream
    const std::vector<std::uint8_t> limit(255, 'b');
    const TextKey k = encodeGeneral97Text(longValue);
    ASSERT_TRUE(k.ok());
    EXPECT_EQ(k.bytes, encodeGeneral97Text(limit).bytes);
    EXPECT_EQ(k.bytes.size(), 256u);
    // Spaces at the cut are trailing spaces of the indexed part.
    std::vector<std::uint8_t> spaced(254, 'b');
    spaced.insert(spaced.end(), {' ', 'b'});
    EXPECT_EQ(encodeGeneral97Text(spaced).bytes, encodeGeneral97Text(std::vector<std::uint8_t>(254, 'b')).bytes);
}

TEST(SortOrderGeneral, SurrogatePairsAreComputed) {
    // testEmoticonsV2010: "a😀a" and "a😄a" (U+1F604, whose low half is past the
    // 516 boundary of the low-surrogate offsets) in the General order.
    const std::uint16_t grinning[] = {0x61, 0xD83D, 0xDE00, 0x61};
    const TextKey k = encodeGeneralText(SortOrder::General, grinning);
    ASSERT_TRUE(k.ok());
    EXPECT_EQ(k.bytes, (ByteVec{0x0E, 0x02, 0xB0, 0x3F, 0xB6, 0xFC, 0x0E, 0x02, 0x01, 0x02, 0x3F, 0x3F, 0x00}));
    const std::uint16_t smiling[] = {0x61, 0xD83D, 0xDE04, 0x61};
    EXPECT_EQ(encodeGeneralText(SortOrder::General, smiling).bytes,
              (ByteVec{0x0E, 0x02, 0xB0, 0x3F, 0xB7, 0x02, 0x0E, 0x02, 0x01, 0x02, 0x3F, 0x3F, 0x00}));
}

TEST(SortOrderGeneral, LoneSurrogateHasNoCode) {
    const std::uint16_t high[] = {'a', 0xD800, 'b'};
    const TextKey k = encodeGeneralText(SortOrder::GeneralLegacy, high);
    EXPECT_FALSE(k.ok());
    EXPECT_EQ(*k.unsupportedCharacter, 0xD800u);
    EXPECT_TRUE(k.bytes.empty());
    const std::uint16_t low[] = {0xDC00};
    EXPECT_EQ(*encodeGeneralText(SortOrder::General, low).unsupportedCharacter, 0xDC00u);
    const std::uint16_t reversed[] = {0xDE00, 0xD83D};
    EXPECT_EQ(*encodeGeneralText(SortOrder::General, reversed).unsupportedCharacter, 0xDE00u);
}

TEST(SortOrderGeneral, TrailingSpacesAndLengthLimit) {
    const std::uint16_t padded[] = {'a', 'b', ' ', ' '};
    const std::uint16_t plain[] = {'a', 'b'};
    EXPECT_EQ(encodeGeneralText(SortOrder::GeneralLegacy, padded).bytes,
              encodeGeneralText(SortOrder::GeneralLegacy, plain).bytes);
    std::vector<std::uint16_t> longValue(300, 'a');
    std::vector<std::uint16_t> limit(255, 'a');
    longValue[280] = 0xD800;  // beyond the indexed part: a lone surrogate is not looked at
    const TextKey k = encodeGeneralText(SortOrder::GeneralLegacy, longValue);
    ASSERT_TRUE(k.ok());
    EXPECT_EQ(k.bytes, encodeGeneralText(SortOrder::GeneralLegacy, limit).bytes);
    EXPECT_EQ(k.bytes.size(), 255u + 2);
}

TEST(SortOrderGeneral, PairCutByTheLimitKeepsItsFirstHalf) {
    // 254 × 'a' then U+1F600: the 255th unit is the high half; the low half is cut.
    std::vector<std::uint16_t> value(254, 'a');
    value.insert(value.end(), {0xD83D, 0xDE00});
    const TextKey k = encodeGeneralText(SortOrder::GeneralLegacy, value);
    ASSERT_TRUE(k.ok());
    ByteVec expected(254, 0x4A);                                    // a = "S4A"
    expected.insert(expected.end(), {0xB0, 0x3F, 0x01});            // 0xD83D - 10238
    expected.insert(expected.end(), 254, 0x02);                     // placeholders of the a's
    expected.insert(expected.end(), {0x3F, 0x00});                  // the half's extra byte
    EXPECT_EQ(k.bytes, expected);
}

TEST(SortOrderGeneral, UnprintableRecordsCarryTheirPosition) {
    // "a-b": '-' after one inline character: record 0x8000 | (7 + 4 * 1).
    const std::uint16_t value[] = {'a', '-', 'b'};
    const TextKey k = encodeGeneralText(SortOrder::GeneralLegacy, value);
    ASSERT_TRUE(k.ok());
    EXPECT_EQ(k.bytes, (ByteVec{0x4A, 0x4C, 0x01, 0x01, 0x01, 0x01, 0x80, 0x0B, 0x06, 0x82, 0x00}));
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
