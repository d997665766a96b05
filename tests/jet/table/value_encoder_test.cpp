// Values turned into field bytes read back through ValueDecoder as the same values:
// hand-picked text and long-value cases, then every value of the corpus whose type
// the encoder writes, on the corpus's own column definitions.
#include <gtest/gtest.h>

#include <iostream>

#include "corpus_files.h"
#include "jet/table/data_page_builder.h"
#include "jet/table/database.h"
#include "jet/table/row_decoder.h"
#include "jet/table/row_encoder.h"
#include "jet/table/value_encoder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

jet::Column column(std::uint8_t type, std::uint16_t length, std::uint8_t extendedFlags = 0) {
    jet::Column c;
    c.name = "c";
    c.type = type;
    c.length = length;
    c.extendedFlags = extendedFlags;
    c.flags = jet::fixedSizeOf(type) != 0 ? jet::column_flag::Fixed : 0;
    return c;
}

Bytes bytesOf(const jet::FieldBytes& f) { return Bytes(f.bytes.begin(), f.bytes.end()); }

// NaN is not equal to itself; the canonical text tells two NaNs apart from numbers.
bool sameValue(const jet::Value& a, const jet::Value& b) {
    return a == b || (a.index() == b.index() && jet::canonicalText(a) == jet::canonicalText(b));
}

TEST(ValueEncoderText, Jet4CompressesOnlyWhereAllowedAndShorter) {
    const jet::ValueEncoder encoder(jet::FormatLayout::forJet4(), 1252);
    const jet::Column compressible = column(jet::column_type::Text, 510, jet::column_extended_flag::CompressedUnicode);
    const jet::Column plain = column(jet::column_type::Text, 510);
    Bytes storage;
    EXPECT_EQ(bytesOf(encoder.encode(compressible, jet::Value{std::string("caf\xC3\xA9")}, storage)),
              (Bytes{0xFF, 0xFE, 'c', 'a', 'f', 0xE9}));
    EXPECT_EQ(bytesOf(encoder.encode(plain, jet::Value{std::string("ab")}, storage)), (Bytes{'a', 0, 'b', 0}));
    // Two characters: compressing would not save anything.
    EXPECT_EQ(bytesOf(encoder.encode(compressible, jet::Value{std::string("ab")}, storage)), (Bytes{'a', 0, 'b', 0}));
    // U+043A needs two bytes: the whole text stays UTF-16LE.
    EXPECT_EQ(bytesOf(encoder.encode(compressible, jet::Value{std::string("ab\xD0\xBA")}, storage)),
              (Bytes{'a', 0, 'b', 0, 0x3A, 0x04}));
    // An emoji becomes a surrogate pair.
    EXPECT_EQ(bytesOf(encoder.encode(plain, jet::Value{std::string("\xF0\x9F\x98\x80")}, storage)),
              (Bytes{0x3D, 0xD8, 0x00, 0xDE}));
    // 256 characters do not fit a column of 255.
    EXPECT_THROW(encoder.encode(compressible, jet::Value{std::string(256, 'x')}, storage), jet::JetError);
}

TEST(ValueEncoderText, Jet3UsesTheCodePage) {
    const jet::ValueEncoder encoder(jet::FormatLayout::forJet3(), 1252);
    jet::Column text = column(jet::column_type::Text, 255);
    Bytes storage;
    EXPECT_EQ(bytesOf(encoder.encode(text, jet::Value{std::string("\xE2\x82\xAC" "a\xC3\xA9")}, storage)),
              (Bytes{0x80, 'a', 0xE9}));
    EXPECT_THROW(encoder.encode(text, jet::Value{std::string("\xD0\xBA")}, storage), jet::JetError);
    text.codePage = 1251;  // a column's own code page wins
    EXPECT_EQ(bytesOf(encoder.encode(text, jet::Value{std::string("\xD0\x90")}, storage)), (Bytes{0xC0}));
}

TEST(ValueEncoderLongValues, MemoAndOleSitInlineAfterTheirDescriptor) {
    const jet::ValueEncoder encoder(jet::FormatLayout::forJet4(), 1252);
    Bytes storage;
    const jet::FieldBytes memo = encoder.encode(column(jet::column_type::Memo, 0), jet::Value{std::string("hi")}, storage);
    EXPECT_EQ(bytesOf(memo), (Bytes{4, 0, 0, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 'h', 0, 'i', 0}));
    // Memo columns never carry the compression flag, yet Access compresses their text.
    const jet::FieldBytes longer =
        encoder.encode(column(jet::column_type::Memo, 0), jet::Value{std::string("abc")}, storage);
    EXPECT_EQ(bytesOf(longer), (Bytes{5, 0, 0, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFE, 'a', 'b', 'c'}));
    const jet::Column ole = column(jet::column_type::Ole, 0);
    EXPECT_EQ(encoder.encode(ole, jet::Value{Bytes{}}, storage).bytes.size(), 12u);
    const Bytes big(jet::DataPageBuilder::maxRowLength(jet::FormatLayout::forJet4()), 1);
    EXPECT_THROW(encoder.encode(ole, jet::Value{big}, storage), jet::JetError);
}

TEST(ValueEncoder, NullsBooleansAndTypeMismatches) {
    const jet::ValueEncoder encoder(jet::FormatLayout::forJet4(), 1252);
    Bytes storage;
    const jet::Column flag = column(jet::column_type::Boolean, 1);
    EXPECT_TRUE(encoder.encode(flag, jet::Value{true}, storage).present);
    EXPECT_FALSE(encoder.encode(flag, jet::Value{false}, storage).present);
    EXPECT_FALSE(encoder.encode(flag, jet::Value{}, storage).present);
    const jet::Column number = column(jet::column_type::Long, 4);
    EXPECT_FALSE(encoder.encode(number, jet::Value{}, storage).present);
    EXPECT_EQ(bytesOf(encoder.encode(number, jet::Value{std::int32_t{-2}}, storage)), (Bytes{0xFE, 0xFF, 0xFF, 0xFF}));
    try {
        encoder.encode(number, jet::Value{std::string("1")}, storage);
        ADD_FAILURE() << "no error";
    } catch (const jet::JetError& e) {
        EXPECT_EQ(e.kind(), jet::ErrorKind::InvalidArgument);
    }
    EXPECT_THROW(encoder.encode(number, jet::Value{std::int16_t{1}}, storage), jet::JetError);
}

// A row made of values, as the repair builds one, reads back through the decoders.
TEST(ValueEncoder, SynthesizedRowReadsBack) {
    auto db = jet::Database::open(jet_test::corpusFile("jet4/testV2000.mdb"));
    jet::TableDefinition t;
    t.name = "report";
    const std::uint8_t types[] = {jet::column_type::Long,     jet::column_type::Text,   jet::column_type::Boolean,
                                  jet::column_type::DateTime, jet::column_type::Memo,   jet::column_type::Currency,
                                  jet::column_type::Guid,     jet::column_type::Binary, jet::column_type::Double};
    std::uint16_t fixedOffset = 0, varSlot = 0;
    for (std::uint8_t type : types) {
        jet::Column c = column(type, type == jet::column_type::Text ? 510 : type == jet::column_type::Binary ? 255 : 0);
        c.name = "c" + std::to_string(t.columns.size());
        c.number = static_cast<std::uint16_t>(t.columns.size());
        if (type == jet::column_type::Boolean) c.flags = jet::column_flag::Fixed;
        if (jet::fixedSizeOf(type) != 0) {
            c.fixedOffset = fixedOffset;
            fixedOffset = static_cast<std::uint16_t>(fixedOffset + jet::fixedSizeOf(type));
        } else if (type != jet::column_type::Boolean) {
            c.varSlot = varSlot++;
        }
        t.columns.push_back(c);
    }
    t.maxColumns = static_cast<std::uint16_t>(t.columns.size());
    t.columnCount = t.maxColumns;
    t.varColumnSlots = varSlot;
    jet::Guid g;
    for (std::size_t i = 0; i < 16; ++i) g.bytes[i] = static_cast<std::uint8_t>(i);
    const std::vector<jet::Value> values = {jet::Value{std::int32_t{7}},
                                            jet::Value{std::string("Tabela reparada: \xC3\xA7\xC3\xA3o")},
                                            jet::Value{true},
                                            jet::Value{jet::DateTime{45000.5}},
                                            jet::Value{std::string("uma nota longa")},
                                            jet::Value{jet::Currency{125000}},
                                            jet::Value{g},
                                            jet::Value{},
                                            jet::Value{-0.25}};
    const jet::ValueEncoder encoder(db->layout(), db->header().codePage);
    jet::EncodedFields fields;
    fields.assign(encoder, t, values);
    Bytes row;
    jet::RowEncoder(t, db->layout()).encode(fields.fields(), row);
    jet::RowFields split;
    jet::RowDecoder(t, db->layout()).split(row, split, {});
    for (std::size_t i = 0; i < values.size(); ++i) {
        SCOPED_TRACE(t.columns[i].name);
        EXPECT_EQ(db->values().decode(t.columns[i], split.fields[i], {}), values[i]);
    }
}

bool writtenType(std::uint8_t type) {
    switch (type) {
        case jet::column_type::Boolean:
        case jet::column_type::Byte:
        case jet::column_type::Integer:
        case jet::column_type::Long:
        case jet::column_type::Currency:
        case jet::column_type::Single:
        case jet::column_type::Double:
        case jet::column_type::DateTime:
        case jet::column_type::Text:
        case jet::column_type::Binary:
        case jet::column_type::Guid:
        case jet::column_type::Memo:
        case jet::column_type::Ole:
        case jet::column_type::Numeric:
        case jet::column_type::BigInt:
        case jet::column_type::Complex:
            return true;
        default:
            return false;
    }
}

// Besides decoding back equal, the bytes are the stored ones wherever the file
// keeps the value in the row: Access's text compression choices included.
TEST(ValueEncoderCorpus, EveryWrittenValueDecodesBackEqual) {
    std::uint64_t values = 0, sameBytes = 0, tooLongForARow = 0, storedOutOfRow = 0;
    Bytes storage;
    for (const jet_test::ManifestEntry& m : jet_test::readManifest()) {
        SCOPED_TRACE(m.file);
        auto db = jet::Database::open(jet_test::corpusFile(m.file));
        const jet::ValueEncoder encoder(db->layout(), db->header().codePage);
        const std::size_t rowLimit = jet::DataPageBuilder::maxRowLength(db->layout());
        for (const jet::TableEntry& t : db->tables()) {
            SCOPED_TRACE(t.name());
            ASSERT_TRUE(t.definition);
            const auto& columns = t.definition->columns;
            jet::TableCursor cursor = db->cursor(t);
            while (cursor.next()) {
                for (std::size_t i = 0; i < columns.size(); ++i) {
                    const jet::Column& c = columns[i];
                    if (!writtenType(c.type) || c.isCalculated()) continue;
                    SCOPED_TRACE(c.name);
                    const jet::Value stored = cursor.value(i);
                    if (c.isLongValue() && !jet::isNull(stored)) {
                        // Values too long for a row need LVAL pages, which this encoder does not write.
                        const std::size_t size = std::holds_alternative<jet::Bytes>(stored)
                                                     ? std::get<jet::Bytes>(stored).size()
                                                     : 2 * std::get<std::string>(stored).size();
                        if (size + 12 > rowLimit) {
                            ++tooLongForARow;
                            continue;
                        }
                    }
                    jet::FieldBytes field;
                    ASSERT_NO_THROW(field = encoder.encode(c, stored, storage)) << jet::canonicalText(stored);
                    const jet::Value again = db->values().decode(c, field, {});
                    ASSERT_TRUE(sameValue(stored, again))
                        << jet::canonicalText(stored) << " came back as " << jet::canonicalText(again);
                    ++values;
                    const jet::FieldBytes& original = cursor.fields().fields[i];
                    const bool storedInline = !c.isLongValue() || !original.present || original.bytes[3] == 0x80;
                    if (original.present == field.present && std::ranges::equal(original.bytes, field.bytes))
                        ++sameBytes;
                    else if (storedInline)
                        ADD_FAILURE() << "bytes differ from the stored ones for " << jet::canonicalText(stored);
                    else
                        ++storedOutOfRow;
                }
            }
        }
    }
    std::cout << "values re-encoded: " << values << ", identical field bytes: " << sameBytes << " ("
              << (values ? 100.0 * static_cast<double>(sameBytes) / static_cast<double>(values) : 0.0)
              << "%), differing as long values written inline that the file keeps in LVAL rows: " << storedOutOfRow
              << ", long values left out for their size: " << tooLongForARow << "\n";
    EXPECT_GT(values, 0u);
}

}  // namespace
