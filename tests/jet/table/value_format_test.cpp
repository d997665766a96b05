#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "jet/format/byte_order.h"
#include "jet/format/page_number.h"
#include "jet/table/column_type.h"
#include "jet/table/value.h"

namespace {

TEST(ValueFormat, DatesFollowAccessCalendar) {
    EXPECT_EQ(jet::formatDateTime(0.0), "1899-12-30 00:00:00");
    EXPECT_EQ(jet::formatDateTime(34654.0), "1994-11-16 00:00:00");
    EXPECT_EQ(jet::formatDateTime(-1.25), "1899-12-29 06:00:00");
    EXPECT_EQ(jet::formatDateTime(-115859.0), "1582-10-14 00:00:00");
    EXPECT_EQ(jet::formatDateTime(-185532.0), "1392-01-10 00:00:00");
    EXPECT_EQ(jet::formatDateTime(2.5), "1900-01-01 12:00:00");
    // Rounded to the nearest second, carrying into the next day.
    EXPECT_EQ(jet::formatDateTime(1.0 - 0.4 / 86400.0), "1899-12-31 00:00:00");
    EXPECT_EQ(jet::formatDateTime(1.0 + 1.6 / 86400.0), "1899-12-31 00:00:02");
    EXPECT_EQ(jet::formatDateTime(2958465.0), "9999-12-31 00:00:00");
}

TEST(ValueFormat, NumbersAndMoney) {
    EXPECT_EQ(jet::formatCurrency(127500), "12.7500");
    EXPECT_EQ(jet::formatCurrency(-123400), "-12.3400");
    EXPECT_EQ(jet::formatCurrency(5), "0.0005");
    EXPECT_EQ(jet::formatCurrency(std::numeric_limits<std::int64_t>::min()), "-922337203685477.5808");
    EXPECT_EQ(jet::formatDouble(0.1), "0.1");
    EXPECT_EQ(jet::formatSingle(0.1f), "0.1");
    EXPECT_EQ(jet::formatDouble(std::nan("")), "NaN");
    EXPECT_EQ(jet::formatDouble(-std::numeric_limits<double>::infinity()), "-Infinity");

    jet::Decimal d;
    d.negative = true;
    d.low = 1;
    d.scale = 0;
    EXPECT_EQ(jet::formatDecimal(d), "-1");
    d.scale = 3;
    EXPECT_EQ(jet::formatDecimal(d), "-0.001");
    d.negative = false;
    d.low = 1234567;
    d.scale = 2;
    EXPECT_EQ(jet::formatDecimal(d), "12345.67");
    d.high = 1;  // 2^64 + 1234567
    d.low = 1234567;
    d.scale = 0;
    EXPECT_EQ(jet::formatDecimal(d), "18446744073710786183");
}

TEST(ValueFormat, GuidBytesAndJson) {
    jet::Guid g;
    for (std::size_t i = 0; i < 16; ++i) g.bytes[i] = static_cast<std::uint8_t>(i + 1);
    EXPECT_EQ(jet::formatGuid(g), "{04030201-0605-0807-090A-0B0C0D0E0F10}");
    EXPECT_EQ(jet::formatHex(jet::Bytes{0x00, 0xAB, 0x7F}), "00ab7f");

    std::string out;
    jet::appendJson(out, jet::Value{});
    out += ',';
    jet::appendJson(out, jet::Value{std::int32_t{-5}});
    out += ',';
    jet::appendJson(out, jet::Value{std::int64_t{9007199254740993}});
    out += ',';
    jet::appendJson(out, jet::Value{std::string("a\"b\\c\n\x01")});
    out += ',';
    jet::appendJson(out, jet::Value{std::numeric_limits<float>::infinity()});
    out += ',';
    jet::appendJson(out, jet::Value{jet::Currency{10000}});
    EXPECT_EQ(out, R"(null,-5,"9007199254740993","a\"b\\c\n\u0001","Infinity","1.0000")");
}

TEST(ByteOrder, ReadsBothOrdersAndRejectsOutOfBounds) {
    const std::uint8_t raw[] = {0x01, 0x02, 0x03, 0x04, 0x05};
    const jet::bytes::Span s(raw);
    EXPECT_EQ(jet::bytes::u16le(s, 0), 0x0201);
    EXPECT_EQ(jet::bytes::u32le(s, 1), 0x05040302u);
    EXPECT_EQ(jet::bytes::u24be(s, 2), 0x030405u);
    EXPECT_EQ(jet::bytes::u32be(s, 0), 0x01020304u);
    EXPECT_THROW(jet::bytes::u32le(s, 2), jet::JetError);
    EXPECT_THROW(jet::bytes::u8(s, std::numeric_limits<std::size_t>::max()), jet::JetError);
    EXPECT_THROW(jet::bytes::slice(s, 1, std::numeric_limits<std::size_t>::max()), jet::JetError);
    try {
        jet::bytes::u16le(s, 4, jet::ErrorLocation{.page = 7});
        FAIL();
    } catch (const jet::JetError& e) {
        EXPECT_EQ(e.kind(), jet::ErrorKind::Corruption);
        EXPECT_EQ(e.location().page, 7u);
        EXPECT_NE(std::string(e.what()).find("página 7"), std::string::npos);
    }
}

TEST(RowPointer, BothStoredForms) {
    const auto p = jet::RowPointer::fromDescriptor(0x00123405);
    EXPECT_EQ(p.page.value, 0x1234u);
    EXPECT_EQ(p.row, 5);
    EXPECT_EQ(p.toDescriptor(), 0x00123405u);
    std::uint8_t b[4];
    p.toIndexBytes(b);
    EXPECT_EQ(b[0], 0x00);
    EXPECT_EQ(b[1], 0x12);
    EXPECT_EQ(b[2], 0x34);
    EXPECT_EQ(b[3], 0x05);
    EXPECT_EQ(jet::RowPointer::fromIndexBytes(b), p);
    EXPECT_EQ(jet::columnTypeName(0x46), "unknown_0x46");
    EXPECT_EQ(jet::columnTypeName(0x10), "decimal");
}

}  // namespace
