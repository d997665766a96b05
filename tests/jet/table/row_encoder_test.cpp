// Rows built from fields read back to the same fields: hand-made tables for the
// layout corners, then every row of the corpus taken apart and put back together.
#include <gtest/gtest.h>

#include <iostream>
#include <map>

#include "corpus_files.h"
#include "jet/table/data_page_builder.h"
#include "jet/table/database.h"
#include "jet/table/row_decoder.h"
#include "jet/table/row_encoder.h"

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

using Bytes = std::vector<std::uint8_t>;

jet::FieldBytes present(const Bytes& b) { return jet::FieldBytes{true, b}; }
jet::FieldBytes null() { return jet::FieldBytes{}; }

void expectSameFields(const std::vector<jet::FieldBytes>& expected, const std::vector<jet::FieldBytes>& actual) {
    ASSERT_EQ(expected.size(), actual.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("field " + std::to_string(i));
        EXPECT_EQ(expected[i].present, actual[i].present);
        EXPECT_TRUE(std::ranges::equal(expected[i].bytes, actual[i].bytes));
    }
}

// Long, Text, Boolean, Text, Integer with a deleted column (number 2, slot 1) between.
jet::TableDefinition mixedTable() {
    jet::TableDefinition t;
    t.name = "t";
    t.columns = {column(0, jet::column_type::Long, true, 0, 4, 0), column(1, jet::column_type::Text, false, 0, 510, 1),
                 column(3, jet::column_type::Boolean, true, 0, 1, 2), column(4, jet::column_type::Text, false, 2, 510, 3),
                 column(5, jet::column_type::Integer, true, 4, 2, 4)};
    t.maxColumns = 6;
    t.varColumnSlots = 3;
    t.columnCount = 5;
    return t;
}

TEST(RowEncoderJet4, WritesTheStandardLayout) {
    const jet::TableDefinition t = mixedTable();
    const Bytes id = {0x2A, 0, 0, 0}, name = {'h', 0, 'i', 0}, small = {7, 0};
    const std::vector<jet::FieldBytes> fields = {present(id), present(name), present({}), null(), present(small)};
    Bytes row;
    jet::RowEncoder(t, jet::FormatLayout::forJet4()).encode(fields, row);
    // count | long | int | "hi" | eod, slot 2, slot 1, slot 0 | N | mask (0, 1, 3, 5)
    const Bytes expected = {0x06, 0x00, 0x2A, 0, 0, 0, 7, 0, 'h', 0, 'i', 0, 0x0C, 0x00, 0x0C, 0x00,
                            0x0C, 0x00, 0x08, 0x00, 0x03, 0x00, 0x2B};
    EXPECT_EQ(row, expected);
    jet::RowFields back;
    jet::RowDecoder(t, jet::FormatLayout::forJet4()).split(row, back, {});
    expectSameFields(fields, back.fields);
}

TEST(RowEncoderJet3, JumpTableForOffsetsPast255) {
    jet::TableDefinition t = mixedTable();
    t.columns[1].length = 255;
    t.columns[3].length = 255;
    const jet::FormatLayout jet3 = jet::FormatLayout::forJet3();
    const jet::RowDecoder decoder(t, jet3);
    const jet::RowEncoder encoder(t, jet3);
    const Bytes id = {1, 2, 3, 4}, small = {9, 9};
    // Lengths around the 256-byte boundaries of the data, of the eod and of the row.
    for (std::size_t a : {0u, 1u, 200u, 240u, 250u, 255u}) {
        for (std::size_t b : {0u, 5u, 10u, 60u, 255u}) {
            SCOPED_TRACE(std::to_string(a) + "+" + std::to_string(b));
            const Bytes first(a, 'a'), second(b, 'b');
            const std::vector<jet::FieldBytes> fields = {present(id), present(first), present({}), present(second),
                                                         present(small)};
            Bytes row;
            encoder.encode(fields, row);
            jet::RowFields back;
            ASSERT_NO_THROW(decoder.split(row, back, {}));
            expectSameFields(fields, back.fields);
            EXPECT_EQ(back.columnCount, 6);
            EXPECT_EQ(back.varCount, 3);
        }
    }
}

TEST(RowEncoder, ShortRowsArePaddedToFiveBytes) {
    jet::TableDefinition t;
    t.name = "flags";
    t.columns = {column(0, jet::column_type::Boolean, true, 0, 1, 0)};
    t.maxColumns = 1;
    for (const jet::FormatLayout& layout : {jet::FormatLayout::forJet3(), jet::FormatLayout::forJet4()}) {
        const std::vector<jet::FieldBytes> fields = {present({})};
        Bytes row;
        jet::RowEncoder(t, layout).encode(fields, row);
        EXPECT_EQ(row.size(), 5u);
        EXPECT_EQ(row.back(), 0x01);
        jet::RowFields back;
        jet::RowDecoder(t, layout).split(row, back, {});
        EXPECT_TRUE(back.fields[0].present);
    }
}

TEST(RowEncoder, RejectsWrongFixedSizesAndOverlongRows) {
    const jet::TableDefinition t = mixedTable();
    const jet::RowEncoder encoder(t, jet::FormatLayout::forJet4());
    const Bytes three = {1, 2, 3}, id = {0, 0, 0, 0};
    Bytes row;
    const std::vector<jet::FieldBytes> wrongSize = {present(three), null(), null(), null(), null()};
    try {
        encoder.encode(wrongSize, row);
        ADD_FAILURE() << "no error";
    } catch (const jet::JetError& e) {
        EXPECT_EQ(e.kind(), jet::ErrorKind::InvalidArgument);
    }
    const Bytes huge(jet::DataPageBuilder::maxRowLength(jet::FormatLayout::forJet4()), 'x');
    const std::vector<jet::FieldBytes> tooLong = {present(id), present(huge), null(), null(), null()};
    EXPECT_THROW(encoder.encode(tooLong, row), jet::JetError);
    const std::vector<jet::FieldBytes> tooFew = {present(id)};
    EXPECT_THROW(encoder.encode(tooFew, row), jet::JetError);
}

// Why a stored row differs from its fields re-encoded in its own shape: the first
// of the quirks that fields cannot carry.
std::string differenceReason(const jet::TableDefinition& table, const jet::FormatLayout& layout,
                             const jet::RowFields& stored, std::span<const std::uint8_t> row,
                             std::span<const std::uint8_t> encoded) {
    const std::size_t countSize = layout.jet3 ? 1 : 2;
    // Fixed bytes: which belong to a live column that is present.
    std::vector<bool> owned(stored.fixedAreaEnd, false);
    bool nullLeftovers = false;
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
        const jet::Column& c = table.columns[i];
        if (!c.isFixed() || c.isBoolean() || c.number >= stored.columnCount) continue;
        const std::size_t start = countSize + c.fixedOffset;
        const std::size_t size = jet::fixedSizeOf(c.type) != 0 ? jet::fixedSizeOf(c.type) : c.length;
        for (std::size_t b = start; b < start + size && b < owned.size(); ++b) {
            if (stored.fields[i].present) owned[b] = true;
            else if (row[b] != 0) nullLeftovers = true;
        }
    }
    if (nullLeftovers) return "bytes left under NULL fixed columns";
    for (std::size_t b = countSize; b < owned.size(); ++b)
        if (!owned[b] && row[b] != 0) return "fixed bytes of no live column (deleted columns, padding)";
    for (std::size_t slot = 0; slot < stored.varCount; ++slot) {
        bool live = false;
        for (const jet::Column& c : table.columns)
            live = live || (!c.isFixed() && !c.isBoolean() && c.varSlot == slot && c.number < stored.columnCount);
        if (!live && stored.varOffsets[slot + 1] != stored.varOffsets[slot]) return "data in a deleted column's var slot";
    }
    for (std::size_t bit = 0; bit < stored.columnCount; ++bit)
        if ((stored.nullMask[bit / 8] >> (bit % 8)) & 1)
            if (!table.columnByNumber(static_cast<std::uint16_t>(bit))) return "null mask bit of a deleted column";
    if ((stored.nullMask.back() >> (stored.columnCount % 8 == 0 ? 8 : stored.columnCount % 8)) != 0)
        return "null mask bits past the column count";
    if (row.size() != encoded.size()) return "slack bytes after the var data";
    return "other";
}

TEST(RowEncoderCorpus, EveryRowEncodesBackToItsFields) {
    std::map<std::string, std::uint64_t> reasons;
    std::uint64_t rows = 0, identical = 0, identicalStandard = 0;
    std::uint64_t jumpRows = 0, jumpIdentical = 0;  // Jet3 rows of 257 bytes and more
    std::vector<jet::FieldBytes> storedFields;
    Bytes encoded, reshaped;
    jet::RowFields again;
    for (const jet_test::ManifestEntry& m : jet_test::readManifest()) {
        SCOPED_TRACE(m.file);
        auto db = jet::Database::open(jet_test::corpusFile(m.file));
        for (const jet::TableEntry& t : db->tables()) {
            SCOPED_TRACE(t.name());
            ASSERT_TRUE(t.definition);
            const jet::RowEncoder encoder(*t.definition, db->layout());
            const jet::RowDecoder decoder(*t.definition, db->layout());
            jet::TableCursor cursor = db->cursor(t);
            while (cursor.next()) {
                const jet::RowFields& stored = cursor.fields();
                storedFields = stored.fields;
                // The standard layout of a new row and the stored row's own counts both
                // read back to the same fields.
                ASSERT_NO_THROW(encoder.encode(stored.fields, encoded));
                ASSERT_NO_THROW(decoder.split(encoded, again, {}));
                expectSameFields(storedFields, again.fields);
                const jet::RowShape shape{stored.columnCount, stored.varCount};
                ASSERT_NO_THROW(encoder.encode(stored.fields, shape, reshaped));
                ASSERT_NO_THROW(decoder.split(reshaped, again, {}));
                expectSameFields(storedFields, again.fields);
                if (::testing::Test::HasFailure()) return;
                ++rows;
                if (std::ranges::equal(encoded, cursor.rawRow())) ++identicalStandard;
                const bool jumps = db->layout().jet3 && cursor.rawRow().size() > 256;
                jumpRows += jumps;
                if (std::ranges::equal(reshaped, cursor.rawRow())) {
                    ++identical;
                    jumpIdentical += jumps;
                } else {
                    const std::string reason =
                        differenceReason(*t.definition, db->layout(), stored, cursor.rawRow(), reshaped);
                    if (reasons[reason]++ == 0)
                        std::cout << "first '" << reason << "': " << m.file << " " << t.name() << " page "
                                  << cursor.dataLocation().page.value << " row " << int{cursor.dataLocation().row}
                                  << "\n";
                }
            }
        }
    }
    const auto share = [rows](std::uint64_t n) {
        return rows ? 100.0 * static_cast<double>(n) / static_cast<double>(rows) : 0.0;
    };
    std::cout << "rows re-encoded identical to the stored bytes: " << identicalStandard << " of " << rows << " ("
              << share(identicalStandard) << "%) as new rows, " << identical << " (" << share(identical)
              << "%) in their own shape\n";
    std::cout << "  Jet3 rows with a jump table: " << jumpRows << ", identical: " << jumpIdentical << "\n";
    for (const auto& [reason, count] : reasons) std::cout << "  differ by " << reason << ": " << count << "\n";
    EXPECT_GT(rows, 0u);
    // Every difference is one of the quirks above, none unexplained.
    EXPECT_EQ(reasons.count("other"), 0u);
}

}  // namespace
