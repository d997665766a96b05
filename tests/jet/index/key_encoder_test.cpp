#include "jet/index/key_encoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "jet/format/jet_error.h"
#include "jet/format/text_codec.h"
#include "jet/index/key_text_units.h"
#include "jet/table/column_type.h"

namespace jet {
namespace {

using ByteVec = std::vector<std::uint8_t>;

KeyColumn col(std::uint8_t type, bool ascending = true, std::optional<SortOrder> order = std::nullopt) {
    KeyColumn c;
    c.type = type;
    c.ascending = ascending;
    c.sortOrder = order;
    c.collation = 1033;
    c.codePage = 1252;
    return c;
}

ByteVec encode1(const KeyColumn& c, const Value& v, FormatVersion version = FormatVersion::Jet4) {
    const KeyEncoder enc({c}, version);
    const Value values[] = {v};
    const KeyEncoding k = enc.encode(values);
    EXPECT_TRUE(k.ok()) << (k.gap ? k.gap->detail : "");
    return k.bytes;
}

double fromBits(std::uint64_t bits) {
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

float fromBits32(std::uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// Expected bytes below are entries of real Access indexes (testIndexCodesV1997.mdb,
// nwind.mdb) or the worked examples of the format notes.
TEST(KeyEncoder, IntegersFlipTheSignBit) {
    EXPECT_EQ(encode1(col(column_type::Long), std::int32_t{10383}), (ByteVec{0x7F, 0x80, 0x00, 0x28, 0x8F}));
    EXPECT_EQ(encode1(col(column_type::Long), std::int32_t{INT32_MIN}), (ByteVec{0x7F, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(encode1(col(column_type::Integer), std::int16_t{-32400}), (ByteVec{0x7F, 0x01, 0x70}));
    EXPECT_EQ(encode1(col(column_type::Byte), std::uint8_t{0xC7}), (ByteVec{0x7F, 0xC7}));
    // Currency column of Table6: stored fc 23 c4 f9 51 b2 ff ff.
    EXPECT_EQ(encode1(col(column_type::Currency), Currency{static_cast<std::int64_t>(0xFFFFB251F9C423FCULL)}),
              (ByteVec{0x7F, 0x7F, 0xFF, 0xB2, 0x51, 0xF9, 0xC4, 0x23, 0xFC}));
    EXPECT_EQ(encode1(col(column_type::BigInt), std::int64_t{1}),
              (ByteVec{0x7F, 0x80, 0, 0, 0, 0, 0, 0, 0x01}));
    EXPECT_EQ(encode1(col(column_type::Long, false), std::int32_t{0}), (ByteVec{0x80, 0x7F, 0xFF, 0xFF, 0xFF}));
}

TEST(KeyEncoder, FloatsAndDatesOrderAsBytes) {
    // Double column of Table9: stored 33 33 77 c9 50 d1 ff c1 (a negative value).
    EXPECT_EQ(encode1(col(column_type::Double), fromBits(0xC1FFD150C9773333ULL)),
              (ByteVec{0x7F, 0x3E, 0x00, 0x2E, 0xAF, 0x36, 0x88, 0xCC, 0xCC}));
    // Descending positive: stored 00 00 00 57 cc 77 b2 41.
    EXPECT_EQ(encode1(col(column_type::Double, false), fromBits(0x41B277CC57000000ULL)),
              (ByteVec{0x80, 0x3E, 0x4D, 0x88, 0x33, 0xA8, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(encode1(col(column_type::DateTime), DateTime{34654.0}),
              encode1(col(column_type::Double), 34654.0));
    EXPECT_EQ(encode1(col(column_type::Single), fromBits32(0x3F800000u)), (ByteVec{0x7F, 0xBF, 0x80, 0x00, 0x00}));
    EXPECT_EQ(encode1(col(column_type::Single), fromBits32(0xBF800000u)), (ByteVec{0x7F, 0x40, 0x7F, 0xFF, 0xFF}));
}

TEST(KeyEncoder, NullsAndBooleans) {
    EXPECT_EQ(encode1(col(column_type::Long), Value{}), (ByteVec{0x00}));
    EXPECT_EQ(encode1(col(column_type::Long, false), Value{}), (ByteVec{0xFF}));
    EXPECT_EQ(encode1(col(column_type::Boolean), true), (ByteVec{0x7F, 0x00}));
    EXPECT_EQ(encode1(col(column_type::Boolean), false), (ByteVec{0x7F, 0xFF}));
    EXPECT_EQ(encode1(col(column_type::Boolean, false), true), (ByteVec{0x80, 0xFF}));
    EXPECT_EQ(encode1(col(column_type::Boolean, false), false), (ByteVec{0x80, 0x00}));
}

TEST(KeyEncoder, GuidInTextualOrderAsBinarySegments) {
    // Table13: stored 7b 9b c4 0f 56 e6 28 42 ae dc df 8b df 4c 4a 64.
    Guid g;
    const std::uint8_t stored[16] = {0x7b, 0x9b, 0xc4, 0x0f, 0x56, 0xe6, 0x28, 0x42,
                                     0xae, 0xdc, 0xdf, 0x8b, 0xdf, 0x4c, 0x4a, 0x64};
    std::copy(std::begin(stored), std::end(stored), g.bytes.begin());
    EXPECT_EQ(encode1(col(column_type::Guid), g),
              (ByteVec{0x7F, 0x0F, 0xC4, 0x9B, 0x7B, 0xE6, 0x56, 0x42, 0x28, 0x09, 0xAE, 0xDC, 0xDF, 0x8B, 0xDF, 0x4C,
                       0x4A, 0x64, 0x08}));
    // Table13_desc: stored 57 a7 18 d0 a6 5d 89 41 9e 30 48 50 31 d4 c2 52.
    const std::uint8_t stored2[16] = {0x57, 0xa7, 0x18, 0xd0, 0xa6, 0x5d, 0x89, 0x41,
                                      0x9e, 0x30, 0x48, 0x50, 0x31, 0xd4, 0xc2, 0x52};
    std::copy(std::begin(stored2), std::end(stored2), g.bytes.begin());
    EXPECT_EQ(encode1(col(column_type::Guid, false), g),
              (ByteVec{0x80, 0x2F, 0xE7, 0x58, 0xA8, 0xA2, 0x59, 0xBE, 0x76, 0x09, 0x61, 0xCF, 0xB7, 0xAF, 0xCE, 0x2B,
                       0x3D, 0xAD, 0xF7}));
}

TEST(KeyEncoder, BinarySegmentsAndExtendedDates) {
    EXPECT_EQ(encode1(col(column_type::Binary), Bytes{}), (ByteVec{0x7F}));
    EXPECT_EQ(encode1(col(column_type::Binary), Bytes{1, 2, 3}), (ByteVec{0x7F, 1, 2, 3, 0, 0, 0, 0, 0, 3}));
    EXPECT_EQ(encode1(col(column_type::Binary), Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9}),
              (ByteVec{0x7F, 1, 2, 3, 4, 5, 6, 7, 8, 0x09, 9, 0, 0, 0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(encode1(col(column_type::Binary, false), Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9}),
              (ByteVec{0x80, 0xFE, 0xFD, 0xFC, 0xFB, 0xFA, 0xF9, 0xF8, 0xF7, 0x09, 0xF6, 0xFF, 0xFF, 0xFF, 0xFF,
                       0xFF, 0xFF, 0xFF, 0xFE}));
    const ByteVec ext = encode1(col(column_type::ExtendedDateTime),
                                ExtendedDateTime{"0000000000000737592:0000000000000000000:7"});
    ASSERT_EQ(ext.size(), 1u + 5 * 9 + 9);
    EXPECT_EQ(ext[9], 0x09);
    EXPECT_EQ(ByteVec(ext.end() - 9, ext.end()), (ByteVec{'7', 0x00, 0, 0, 0, 0, 0, 0, 0x02}));
}

TEST(KeyEncoder, NumericFollowsTheVersionRule) {
    Decimal minusOne;
    minusOne.negative = true;
    minusOne.low = 1;
    Decimal plusOne;
    plusOne.low = 1;
    const ByteVec jet4Pos = encode1(col(column_type::Numeric), plusOne, FormatVersion::Jet4);
    const ByteVec jet4Neg = encode1(col(column_type::Numeric), minusOne, FormatVersion::Jet4);
    EXPECT_EQ(jet4Pos.size(), 18u);
    EXPECT_EQ(jet4Pos[1], 0xFF);
    EXPECT_EQ(jet4Pos.back(), 0x01);
    EXPECT_EQ(jet4Neg[1], 0x00);
    EXPECT_EQ(jet4Neg.back(), 0xFE);
    EXPECT_LT(jet4Neg, jet4Pos);
    const ByteVec acePos = encode1(col(column_type::Numeric), plusOne, FormatVersion::Ace12);
    const ByteVec aceNeg = encode1(col(column_type::Numeric), minusOne, FormatVersion::Ace12);
    EXPECT_EQ(acePos[1], 0xFF);
    EXPECT_EQ(aceNeg[1], 0x00);
    EXPECT_LT(aceNeg, acePos);
}

TEST(KeyEncoder, General97TextFromDocumentedKeys) {
    const auto c = col(column_type::Text, true, SortOrder::General97);
    EXPECT_EQ(encode1(c, std::string("AAaAA"), FormatVersion::Jet3), (ByteVec{0x7F, 0x60, 0x60, 0x60, 0x60, 0x60, 0x00}));
    EXPECT_EQ(encode1(c, std::string("AA\xC3\x9F" "AA"), FormatVersion::Jet3),  // ß
              (ByteVec{0x7F, 0x60, 0x60, 0x76, 0x76, 0x60, 0x60, 0x00}));
    EXPECT_EQ(encode1(c, std::string("AA\xC3\xA4" "AA"), FormatVersion::Jet3),  // ä
              (ByteVec{0x7F, 0x60, 0x60, 0x60, 0x60, 0x60, 0x02, 0x26, 0x00}));
    EXPECT_EQ(encode1(c, std::string("-\xC3\x81-\xC3\x81-"), FormatVersion::Jet3),  // -Á-Á-
              (ByteVec{0x7F, 0x1E, 0x60, 0x1E, 0x60, 0x1E, 0x04, 0x40}));
    EXPECT_EQ(encode1(c, std::string("AA  "), FormatVersion::Jet3), encode1(c, std::string("aa"), FormatVersion::Jet3));
    // Descending General 97 inverts every byte.
    EXPECT_EQ(encode1(col(column_type::Text, false, SortOrder::General97), std::string("AA-AA"), FormatVersion::Jet3),
              (ByteVec{0x80, 0x9F, 0x9F, 0xE1, 0x9F, 0x9F, 0xFF}));
}

TEST(KeyEncoder, GeneralLegacyTextFromDocumentedKeys) {
    const auto c = col(column_type::Text, true, SortOrder::GeneralLegacy);
    EXPECT_EQ(encode1(c, std::string("Core User")),
              (ByteVec{0x7F, 0x4D, 0x64, 0x69, 0x51, 0x07, 0x6F, 0x6B, 0x51, 0x69, 0x01, 0x00}));
    EXPECT_EQ(encode1(c, std::string("-1")),
              (ByteVec{0x7F, 0x38, 0x01, 0x01, 0x01, 0x01, 0x80, 0x07, 0x06, 0x82, 0x00}));
    EXPECT_EQ(encode1(c, std::string("\xC3\xBCmlaut")),  // ümlaut
              (ByteVec{0x7F, 0x6F, 0x60, 0x5E, 0x4A, 0x6F, 0x6D, 0x01, 0x13, 0x00}));
    EXPECT_EQ(encode1(c, std::string("\xC3\xA4\xC3\xA4kk\xC3\xB6si\xC3\xA4")),  // ääkkösiä
              (ByteVec{0x7F, 0x4A, 0x4A, 0x5C, 0x5C, 0x64, 0x6B, 0x59, 0x4A, 0x01, 0x13, 0x13, 0x02, 0x02, 0x13,
                       0x02, 0x02, 0x13, 0x00}));
}

TEST(KeyEncoder, GeneralTextUsesTwoByteCodes) {
    // ACE14 "General": MSysObjects name "Forms" in ParentIdName of bigIndexTestV2010.
    EXPECT_EQ(encode1(col(column_type::Text, true, SortOrder::General), std::string("Forms"), FormatVersion::Ace14),
              (ByteVec{0x7F, 0x0E, 0x23, 0x0E, 0x7C, 0x0E, 0x8A, 0x0E, 0x51, 0x0E, 0x91, 0x01, 0x00}));
}

TEST(KeyEncoder, CharacterWithoutACodeIsReportedNotGuessed) {
    // A lone surrogate half (U+D800 in the value's UTF-16 units) has no code.
    const KeyEncoder enc({col(column_type::Long), col(column_type::Text, true, SortOrder::GeneralLegacy)},
                         FormatVersion::Jet4);
    const Value values[] = {std::int32_t{1}, std::string("a\xED\xA0\x80")};
    const KeyEncoding k = enc.encode(values);
    ASSERT_FALSE(k.ok());
    EXPECT_EQ(k.gap->reason, KeyGapReason::UnsupportedCharacter);
    EXPECT_EQ(k.gap->columnIndex, 1u);
    EXPECT_EQ(k.gap->character, 0xD800u);
    EXPECT_EQ(keyGapDescription(*k.gap), "caractere U+D800 sem código");
    EXPECT_NE(k.gap->detail.find("U+D800"), std::string::npos) << k.gap->detail;

    const KeyEncoder jet3({col(column_type::Text, true, SortOrder::General97)}, FormatVersion::Jet3);
    const Value greek[] = {std::string("\xCE\xB1")};  // α has no code-page 1252 byte
    const KeyEncoding g = jet3.encode(greek);
    ASSERT_FALSE(g.ok());
    EXPECT_EQ(g.gap->reason, KeyGapReason::UnsupportedCharacter);
    EXPECT_EQ(keyGapDescription(*g.gap), "caractere U+03B1 sem código");
    EXPECT_EQ(codePointText(0x1F600), "U+1F600");
}

ByteVec fromHex(std::string_view hex) {
    ByteVec out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return out;
}

// Stored keys of the General legacy index on Table.data of testUnicodeCompV2003.mdb.
TEST(KeyEncoder, GeneralLegacyKeysOfStoredMixedText) {
    const auto c = col(column_type::Text, true, SortOrder::GeneralLegacy);
    // Greek with polytonic letters: ὶ, ό, ἐ, ὼ, ύ (U+1F76, U+1F79, U+1F10, U+1F7C,
    // U+1F7B) are ignored; ϰ is international (extra 03); ' is unprintable, its
    // record at position 5.
    EXPECT_EQ(encode1(c, std::string("\xCF\xB0\xCE\xB1\xE1\xBD\xB6 \xCF\x84\xE1\xBD\xB9\xCF\x84' "
                                     "\xE1\xBC\x90\xCE\xB3\xE1\xBD\xBC \xCE\x9A\xE1\xBD\xBB\xCF\xB0\xCE\xBB"
                                     "\xCF\x89\xCF\x80\xCE\xB1")),
              fromHex("7f7915790c07791e791e07790e077915791579167923791b790c"
                      "010302020202020202020301010180" "1b068000"));
    // 漢字仮名交じり文: じ and り are international-extended with the second marker
    // flag (dropped at the end), so only the fixed suffix follows 01 01.
    EXPECT_EQ(encode1(c, std::string("\xE6\xBC\xA2\xE5\xAD\x97\xE4\xBB\xAE\xE5\x90\x8D\xE4\xBA\xA4"
                                     "\xE3\x81\x98\xE3\x82\x8A\xE6\x96\x87")),
              fromHex("7fc0b6acaca00da5479fbe7f137f43b6f6010202020202030101ff0280ff8000"));
    // Control characters between plain ones: unprintable records at their positions.
    EXPECT_EQ(encode1(c, std::string("3L9\x1D" "52\x02_AB(\xC2\xA5\x05!!V")),
              fromHex("7f3c5e48403a2b034a4c1434a9090971010101018013061a801b0604802f060700"));
    EXPECT_EQ(encode1(c, std::string("\xD0\x9C\xD0\xB8\xD1\x80")),  // Мир
              fromHex("7f7943793b79480100"));
}

TEST(KeyEncoder, LongestTextAKeyHolds) {
    // testUnicodeCompV2003: the value U+0001..U+00FF (255 characters, every kind of
    // Latin-1 character) and its stored key; a longer value keys the same.
    std::string value;
    for (std::uint32_t cp = 1; cp <= 0xFF; ++cp) {
        if (cp < 0x80) {
            value += static_cast<char>(cp);
        } else {
            value += static_cast<char>(0xC0 | (cp >> 6));
            value += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    const ByteVec stored = fromHex(
        "7f0803080408050806080707090a0c0e10121416182c1a1c1e36383a3c3e404244464820222e303224264a4c4d4f51535557"
        "595b5c5e6062646668696b6d6f717375767827292a2b022b032b074a4c4d4f51535557595b5c5e6062646668696b6d6f7173"
        "7576782b092b0b2b0d2b0f08022b1034a634a734a834a92b1134aa2b1234ab4a330534ac34ad2b1334ae33043a3c2b1434af"
        "34b034b12b153864330737123716371a2b164a4a4a4a4a4a4a514d51515151595959594f6264646464643309646f6f6f6f76"
        "6d576b6b4a4a4a4a4a4a4a514d51515151595959594f626464646464330a646f6f6f6f766d57760102020202020202020202"
        "0202020202020202020202020202020202020202020202020202020202020202020202020202020202020202020202020202"
        "0202020202020202020202020202020202020202020202020202020202020202020202020202020202020202020202020302"
        "020202020202020202020202020302020202020f0e1219131a021c0f0e12130f0e121368190f0e12191302210f0e12130e02"
        "020f0e1219131a021c0f0e12130f0e121368190f0e12191302210f0e12130e02130101018007060380070604800706058007"
        "06068007060780070608800706098007060a801b060b801b060c801b060d801b060e801b060f801b0610801b0611801b0612"
        "801b0613801b0614801b0615801b0616801b0617801b0618801b0619801b061a801b061b801b061c80370680804b0682818f"
        "061d818f061e818f061f818f0620818f0621818f0622818f0623818f0624818f0625818f0626818f0627818f0628818f0629"
        "818f062a818f062b818f062c818f062d818f062e818f062f818f0630818f0631818f0632818f0633818f0634818f0635818f"
        "0636818f0637818f0638818f0639818f063a818f063b818f063c818f063d81c3068300");
    const auto c = col(column_type::Text, true, SortOrder::GeneralLegacy);
    EXPECT_EQ(encode1(c, value), stored);
    EXPECT_EQ(encode1(col(column_type::Memo, true, SortOrder::GeneralLegacy), value + "\xC4\x80 tail"), stored);
}

TEST(KeyEncoder, GeneralMixesPlainAccentedUnprintableAndIgnored) {
    // General: é "IE21,E", '-' "U82", x "SEA6", soft hyphen U+00AD "X".
    const auto c = col(column_type::Text, true, SortOrder::General);
    EXPECT_EQ(encode1(c, std::string("\xC3\xA9-x\xC2\xAD"), FormatVersion::Ace14),
              (ByteVec{0x7F, 0x0E, 0x21, 0x0E, 0xA6, 0x01, 0x0E, 0x01, 0x01, 0x01, 0x80, 0x0B, 0x06, 0x82, 0x00}));
    // An emoji between plain letters (testEmoticonsV2010 "a😀a").
    EXPECT_EQ(encode1(c, std::string("a\xF0\x9F\x98\x80" "a"), FormatVersion::Ace14),
              (ByteVec{0x7F, 0x0E, 0x02, 0xB0, 0x3F, 0xB6, 0xFC, 0x0E, 0x02, 0x01, 0x02, 0x3F, 0x3F, 0x00}));
}

TEST(KeyEncoder, UnprintableExtensionChangesTheLastExtraByte) {
    // General legacy U+02B9 (modifier letter prime) "PC": adds 0x0C to the extra
    // byte before it, a placeholder included; first in a value it starts the
    // stream and is left out of the positions of unprintable records.
    const auto c = col(column_type::Text, true, SortOrder::GeneralLegacy);
    EXPECT_EQ(encode1(c, std::string("a\xCA\xB9")), (ByteVec{0x7F, 0x4A, 0x01, 0x0E, 0x00}));
    EXPECT_EQ(encode1(c, std::string("\xC3\xA9\xCA\xB9")), (ByteVec{0x7F, 0x51, 0x01, 0x1A, 0x00}));  // é "I51,E"
    EXPECT_EQ(encode1(c, std::string("\xCA\xB9" "a-")),
              (ByteVec{0x7F, 0x4A, 0x01, 0x0C, 0x01, 0x01, 0x01, 0x80, 0x0B, 0x06, 0x82, 0x00}));
}

TEST(KeyEncoder, InternationalExtendedFlagsAndSuffix) {
    // General legacy ぁ (U+3041) "Z7F02,,1": no extra bytes, first marker flag (2);
    // ぎ (U+304E) "Z7F0B,3,": extra 03, second flag (3). Flags go three to a byte
    // under 0x80, trailing 3s dropped, then FF 02 80 FF 80 (and FF before records).
    const auto c = col(column_type::Text, true, SortOrder::GeneralLegacy);
    const std::string small = "\xE3\x81\x81";
    const std::string gi = "\xE3\x81\x8E";
    EXPECT_EQ(encode1(c, small), (ByteVec{0x7F, 0x7F, 0x02, 0x01, 0x01, 0x01, 0xA0, 0xFF, 0x02, 0x80, 0xFF, 0x80, 0x00}));
    EXPECT_EQ(encode1(c, small + small + small + small),
              (ByteVec{0x7F, 0x7F, 0x02, 0x7F, 0x02, 0x7F, 0x02, 0x7F, 0x02, 0x01, 0x01, 0x01, 0xAA, 0xA0, 0xFF, 0x02,
                       0x80, 0xFF, 0x80, 0x00}));
    EXPECT_EQ(encode1(c, gi + small),
              (ByteVec{0x7F, 0x7F, 0x0B, 0x7F, 0x02, 0x01, 0x03, 0x01, 0x01, 0xB8, 0xFF, 0x02, 0x80, 0xFF, 0x80, 0x00}));
    EXPECT_EQ(encode1(c, small + gi),
              (ByteVec{0x7F, 0x7F, 0x02, 0x7F, 0x0B, 0x01, 0x02, 0x03, 0x01, 0x01, 0xA0, 0xFF, 0x02, 0x80, 0xFF, 0x80,
                       0x00}));
    EXPECT_EQ(encode1(c, small + "-"),
              (ByteVec{0x7F, 0x7F, 0x02, 0x01, 0x01, 0x01, 0xA0, 0xFF, 0x02, 0x80, 0xFF, 0x80, 0xFF, 0x01, 0x80, 0x0B,
                       0x06, 0x82, 0x00}));
}

TEST(KeyEncoder, DescendingTextIsInverted) {
    // Jet4+: the ascending segment with its terminator inverted, then a plain 0x00.
    EXPECT_EQ(encode1(col(column_type::Text, false, SortOrder::GeneralLegacy), std::string("-1")),
              (ByteVec{0x80, 0xC7, 0xFE, 0xFE, 0xFE, 0xFE, 0x7F, 0xF8, 0xF9, 0x7D, 0xFF, 0x00}));
    // General 97: every byte inverted (testIndexCodesV1997 Table11, a descending
    // index; ƒ is U+0192, byte 0x83).
    EXPECT_EQ(encode1(col(column_type::Text, false, SortOrder::General97),
                      std::string("a\xC3\xA4" "aa\xC3\x93" "aa\xC6\x92" "aa\xC3\xA4" "aa\xC3\x9B" "a"),
                      FormatVersion::Jet3),
              fromHex("809f9f9f9f8d9f9fcd9f9f9f9f9f879ffd9ddbdddd9ddaff"));
}

TEST(KeyEncoder, TextGivenAsStoredUnitsKeysAsItsDecodedValue) {
    // Random stored Jet4 text, plain and compressed, rich in surrogates (paired,
    // lone, cut off) and in the compressed form's toggles: the units read straight
    // from the bytes are those of the text decoded to UTF-8, and key the same.
    std::mt19937 random(20261208);
    const KeyEncoder enc({col(column_type::Long), col(column_type::Text, false, SortOrder::General),
                          col(column_type::Text, true, SortOrder::GeneralLegacy)},
                         FormatVersion::Ace14);
    std::vector<std::uint16_t> units;
    std::size_t keyed = 0;
    for (int round = 0; round < 4000; ++round) {
        ByteVec stored;
        const bool compressed = round % 2 == 1;
        if (compressed) stored = {0xFF, 0xFE};
        const int n = static_cast<int>(random() % 24);
        for (int i = 0; i < n; ++i) {
            const unsigned pick = random() % 10;
            if (compressed && pick == 0) {
                stored.push_back(0x00);  // toggles between one-byte and two-byte units
            } else if (pick < 3) {
                const std::uint16_t surrogate = static_cast<std::uint16_t>(0xD800 + random() % 0x800);
                stored.push_back(static_cast<std::uint8_t>(surrogate));
                stored.push_back(static_cast<std::uint8_t>(surrogate >> 8));
            } else {
                stored.push_back(static_cast<std::uint8_t>(0x20 + random() % 0x60));
            }
        }
        if (random() % 5 == 0 && !stored.empty()) stored.pop_back();  // cut mid-unit
        decodeJet4TextUnits(stored, units);
        const std::string text = decodeJet4Text(stored);
        ASSERT_EQ(units, utf8ToUtf16Units(text)) << round;

        const Value values[] = {std::int32_t{round}, std::string(text), std::string(text)};
        ByteArena fromValues;
        const auto gapA = enc.appendKey(values, fromValues);
        const KeyText texts[] = {KeyText{}, KeyText{true, units}, KeyText{true, units}};
        const Value placeholders[] = {std::int32_t{round}, Value{}, Value{}};
        ByteArena fromUnits;
        const auto gapB = enc.appendKey(placeholders, texts, fromUnits);
        ASSERT_EQ(gapA.has_value(), gapB.has_value()) << round;
        if (gapA) {
            EXPECT_EQ(gapA->character, gapB->character) << round;
            continue;
        }
        EXPECT_EQ(fromValues, fromUnits) << round;
        ++keyed;
    }
    EXPECT_GT(keyed, 100u);
}

TEST(KeyEncoder, UnknownCollationAndTypeAndMismatchedValue) {
    const KeyEncoder text({col(column_type::Text, true, std::nullopt)}, FormatVersion::Jet4);
    const Value s[] = {std::string("a")};
    EXPECT_EQ(text.encode(s).gap->reason, KeyGapReason::UnknownCollation);
    const KeyEncoder ole({col(column_type::Ole)}, FormatVersion::Jet4);
    const Value b[] = {Bytes{1}};
    EXPECT_EQ(ole.encode(b).gap->reason, KeyGapReason::UnsupportedType);
    const KeyEncoder lng({col(column_type::Long)}, FormatVersion::Jet4);
    EXPECT_EQ(lng.encode(s).gap->reason, KeyGapReason::UnexpectedValue);
    const Value none[] = {Value{}, Value{}};
    EXPECT_EQ(lng.encode(none).gap->reason, KeyGapReason::UnexpectedValue);
}

TEST(KeyEncoder, MultiColumnKeysConcatenateSegments) {
    const KeyEncoder enc({col(column_type::Long), col(column_type::Text, true, SortOrder::GeneralLegacy)},
                         FormatVersion::Jet4);
    const Value values[] = {std::int32_t{0}, std::string("Core User")};
    EXPECT_EQ(enc.encode(values).bytes, (ByteVec{0x7F, 0x80, 0x00, 0x00, 0x00, 0x7F, 0x4D, 0x64, 0x69, 0x51, 0x07,
                                                 0x6F, 0x6B, 0x51, 0x69, 0x01, 0x00}));
}

}  // namespace
}  // namespace jet

namespace jet {
namespace {

TEST(KeyEncoder, IndexNamingAMissingColumnIsCorruption) {
    TableDefinition table;
    table.name = "T";
    table.tdefPage = PageNumber(12);
    Column c;
    c.name = "a";
    c.number = 0;
    c.type = column_type::Text;
    c.collation = 1033;
    c.sortOrderVersion = 1;
    table.columns.push_back(c);
    PhysicalIndex index;
    index.columns.push_back(IndexColumn{0, false, 0x00});
    const KeyEncoder ok(table, index, FormatVersion::Ace14);
    ASSERT_EQ(ok.columns().size(), 1u);
    EXPECT_EQ(ok.columns()[0].sortOrder, SortOrder::General);
    EXPECT_FALSE(ok.columns()[0].ascending);

    index.columns.push_back(IndexColumn{7, true, 0x01});
    try {
        KeyEncoder broken(table, index, FormatVersion::Ace14);
        FAIL() << "index over a missing column accepted";
    } catch (const JetError& e) {
        EXPECT_EQ(e.kind(), ErrorKind::Corruption);
        EXPECT_EQ(e.location().page, 12u);
    }
}

}  // namespace
}  // namespace jet
