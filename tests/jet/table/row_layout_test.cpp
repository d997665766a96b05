// Row splitting on hand-made rows for layouts the corpus holds too rarely to pin
// down (Jet3 jump tables, a dummy jump entry, rows shorter than the definition),
// and text decoding corner cases.
#include <gtest/gtest.h>

#include "jet/format/text_codec.h"
#include "jet/table/row_decoder.h"

namespace {

jet::Column column(std::uint16_t number, std::uint8_t type, bool fixed, std::uint16_t slotOrOffset,
                   std::uint16_t length, std::size_t index) {
    jet::Column c;
    c.name = "c" + std::to_string(number);
    c.number = number;
    c.type = type;
    c.flags = fixed ? jet::column_flag::Fixed : 0;
    if (fixed) c.fixedOffset = slotOrOffset;
    else c.varSlot = slotOrOffset;
    c.length = length;
    c.blockIndex = index;
    return c;
}

std::string text(const jet::FieldBytes& f) { return std::string(f.bytes.begin(), f.bytes.end()); }

TEST(Jet3RowLayout, JumpTableReachesOffsetsPast255) {
    jet::TableDefinition t;
    t.columns = {column(0, jet::column_type::Long, true, 0, 4, 0), column(1, jet::column_type::Text, false, 0, 255, 1),
                 column(2, jet::column_type::Text, false, 1, 255, 2)};
    t.varColumnSlots = 2;
    // count | long | 200 x 'a' | 60 x 'b' | eod, slot1, slot0 offsets | jump | N | mask
    std::vector<std::uint8_t> row(271, 0);
    row[0] = 3;
    row[1] = 7;
    std::fill(row.begin() + 5, row.begin() + 205, 'a');
    std::fill(row.begin() + 205, row.begin() + 265, 'b');
    row[265] = 265 - 256;  // eod, low byte
    row[266] = 205;        // slot 1
    row[267] = 5;          // slot 0
    row[268] = 2;          // jump entry 0: slot 2 (eod) is the first offset >= 256
    row[269] = 2;          // N
    row[270] = 0x07;       // all three present
    jet::RowDecoder decoder(t, jet::FormatLayout::forJet3());
    jet::RowFields f;
    decoder.split(row, f, {});
    EXPECT_EQ(f.varCount, 2);
    EXPECT_EQ(f.varOffsets, (std::vector<std::uint16_t>{5, 205, 265}));
    EXPECT_EQ(f.fields[0].bytes[0], 7);
    EXPECT_EQ(text(f.fields[1]), std::string(200, 'a'));
    EXPECT_EQ(text(f.fields[2]), std::string(60, 'b'));
}

TEST(Jet3RowLayout, TrailingDummyJumpEntryIsIgnored) {
    jet::TableDefinition t;
    t.columns = {column(0, 0x46, true, 0, 249, 0), column(1, jet::column_type::Text, false, 0, 255, 1)};
    t.varColumnSlots = 1;
    std::vector<std::uint8_t> row(257, 0);
    row[0] = 2;
    std::fill(row.begin() + 1, row.begin() + 250, 'f');
    row[250] = 'x';
    row[251] = 'y';
    row[252] = 252;   // eod
    row[253] = 250;   // slot 0
    row[254] = 0xFF;  // dummy jump entry: the row is 257 bytes but no offset reaches 256
    row[255] = 1;     // N
    row[256] = 0x03;
    jet::RowDecoder decoder(t, jet::FormatLayout::forJet3());
    jet::RowFields f;
    decoder.split(row, f, {});
    EXPECT_EQ(f.varOffsets, (std::vector<std::uint16_t>{250, 252}));
    EXPECT_EQ(text(f.fields[1]), "xy");
    EXPECT_EQ(f.fields[0].bytes.size(), 249u);
}

TEST(Jet4RowLayout, ColumnsAddedAfterTheRowReadAsNull) {
    jet::TableDefinition t;
    t.columns = {column(0, jet::column_type::Integer, true, 0, 2, 0), column(1, jet::column_type::Text, false, 0, 510, 1),
                 column(9, jet::column_type::Long, true, 2, 4, 2), column(10, jet::column_type::Boolean, true, 0, 1, 3)};
    t.varColumnSlots = 2;
    // Written when the table had 2 columns: count 2, fixed area of 2 bytes, one var slot.
    const std::vector<std::uint8_t> row = {0x02, 0x00, 0x2A, 0x00, 'h', 0x00, 'i', 0x00,
                                           0x08, 0x00, 0x04, 0x00, 0x01, 0x00, 0x03};
    jet::RowDecoder decoder(t, jet::FormatLayout::forJet4());
    jet::RowFields f;
    decoder.split(row, f, {});
    EXPECT_TRUE(f.fields[0].present);
    EXPECT_EQ(f.fields[0].bytes[0], 0x2A);
    EXPECT_EQ(jet::decodeUtf16le(f.fields[1].bytes), "hi");
    EXPECT_FALSE(f.fields[2].present);
    EXPECT_FALSE(f.fields[3].present);
}

TEST(Jet4RowLayout, InconsistentOffsetsAreCorruption) {
    jet::TableDefinition t;
    t.columns = {column(0, jet::column_type::Text, false, 0, 510, 0)};
    t.varColumnSlots = 1;
    // eod before slot 0.
    const std::vector<std::uint8_t> row = {0x01, 0x00, 'a', 0x00, 0x02, 0x00, 0x04, 0x00, 0x01, 0x00, 0x01};
    jet::RowDecoder decoder(t, jet::FormatLayout::forJet4());
    jet::RowFields f;
    EXPECT_THROW(decoder.split(row, f, {}), jet::JetError);
    // A var count larger than the row.
    const std::vector<std::uint8_t> big = {0x01, 0x00, 0xFF, 0x7F, 0x01};
    EXPECT_THROW(decoder.split(big, f, {}), jet::JetError);
    EXPECT_THROW(decoder.split({}, f, {}), jet::JetError);
}

TEST(TextDecoding, CompressedUnicodeTogglesOnZeroBytes) {
    // "ab", switch to two-byte units for U+043A, switch back for "c".
    const std::vector<std::uint8_t> v = {0xFF, 0xFE, 'a', 'b', 0x00, 0x3A, 0x04, 0x00, 'c'};
    EXPECT_EQ(jet::decodeJet4Text(v), "ab\xD0\xBA" "c");
    const std::vector<std::uint8_t> plain = {'o', 0x00, 'k', 0x00};
    EXPECT_EQ(jet::decodeJet4Text(plain), "ok");
}

TEST(TextDecoding, SurrogatesAndCodePages) {
    const std::vector<std::uint8_t> pair = {0x3D, 0xD8, 0x00, 0xDE};  // U+1F600
    EXPECT_EQ(jet::decodeUtf16le(pair), "\xF0\x9F\x98\x80");
    const std::vector<std::uint8_t> lone = {0x00, 0xD8, 0x41, 0x00, 0x00, 0xDC};
    EXPECT_EQ(jet::decodeUtf16le(lone), "\xEF\xBF\xBD" "A\xEF\xBF\xBD");
    const std::vector<std::uint8_t> cp1252 = {0x80, 0x81, 0xE9, 'z'};
    EXPECT_EQ(jet::decodeCodePage(cp1252, 1252), "\xE2\x82\xAC\xC2\x81\xC3\xA9z");
    const std::vector<std::uint8_t> cp1251 = {0xC0, 0xFF};
    EXPECT_EQ(jet::decodeCodePage(cp1251, 1251), "\xD0\x90\xD1\x8F");
}

}  // namespace
