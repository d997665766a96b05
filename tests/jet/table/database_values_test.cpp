// Known values of real corpus files, one feature of the format each.
#include <gtest/gtest.h>

#include "corpus_files.h"
#include "jet/table/database.h"

namespace {

// All rows of a table as canonical text, columns in column-number order, NULL as "\N".
std::vector<std::vector<std::string>> rowsOf(jet::Database& db, const std::string& table) {
    const jet::TableEntry* t = db.findTable(table);
    EXPECT_NE(t, nullptr) << table;
    std::vector<std::vector<std::string>> rows;
    if (!t) return rows;
    const auto columns = t->definition->columnsByNumber();
    jet::TableCursor cursor = db.cursor(*t);
    while (cursor.next()) {
        std::vector<std::string> row;
        for (const jet::Column* c : columns) {
            const jet::Value v = cursor.value(c->blockIndex);
            row.push_back(jet::isNull(v) ? "\\N" : jet::canonicalText(v));
        }
        rows.push_back(row);
    }
    return rows;
}

std::unique_ptr<jet::Database> open(const std::string& file) {
    return jet::Database::open(jet_test::corpusFile(file));
}

TEST(CorpusValues, Jet3NorthwindCustomersAndCodePageText) {
    auto db = open("jet3/nwind.mdb");
    const auto rows = rowsOf(*db, "Customers");
    ASSERT_EQ(rows.size(), 91u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"ALFKI", "Alfreds Futterkiste", "Maria Anders",
                                                 "Sales Representative", "Obere Str. 57", "Berlin", "\\N", "12209",
                                                 "Germany", "030-0074321", "030-0076545"}));
    // cp1252 bytes above 0x7F become UTF-8.
    EXPECT_EQ(rows[1][4], "Avda. de la Constitución 2222");
    EXPECT_EQ(rows[1][5], "México D.F.");
    // A table name outside ASCII, and currency with four decimals.
    ASSERT_NE(db->findTable("Umsätze"), nullptr);
    const jet::TableEntry* products = db->findTable("Products");
    const jet::Column* price = products->definition->findColumn("UnitPrice");
    ASSERT_NE(price, nullptr);
    jet::TableCursor cursor = db->cursor(*products);
    ASSERT_TRUE(cursor.next());
    EXPECT_EQ(jet::canonicalText(cursor.value(price->blockIndex)), "18.0000");
}

TEST(CorpusValues, DatesBeforeAndAfterTheUsualRange) {
    auto db = open("jet4/DateTestDatabase.mdb");
    const auto rows = rowsOf(*db, "DateTest");
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[0][1], "2021-12-02 00:00:00");
    EXPECT_EQ(rows[1][1], "9999-01-01 00:00:00");
    EXPECT_EQ(rows[2][1], "1898-01-01 00:00:00");
    EXPECT_EQ(rows[3][1], "0632-01-01 00:00:00");
    // Memo with CR LF inside, and a text column.
    EXPECT_EQ(rows[5][4], "New line\r\nin field");
    EXPECT_EQ(rows[5][5], "No new line");
}

TEST(CorpusValues, DecimalColumns) {
    for (const char* file : {"jet4/fixedNumericTestV2003.mdb", "ace12/fixedNumericTestV2007.accdb"}) {
        SCOPED_TRACE(file);
        auto db = open(file);
        const auto rows = rowsOf(*db, "test");
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0], (std::vector<std::string>{"some data", "1", "0", "0", "4", "-1", "1"}));
        EXPECT_EQ(db->findTable("test")->definition->findColumn("col2")->type, jet::column_type::Numeric);
    }
}

TEST(CorpusValues, Jet4CompressedAndPlainUnicode) {
    auto db = open("jet4/testUnicodeCompV2003.mdb");
    const auto rows = rowsOf(*db, "Table");
    ASSERT_EQ(rows.size(), 8u);
    EXPECT_EQ(rows[0][1], "only ascii chars");
    EXPECT_EQ(rows[1][1], "ääkkösiä");
    EXPECT_EQ(rows[2][1], "Мир");
    // Greek with polytonic accents (stored as U+1F79 and U+1F7B, not their decomposed forms).
    EXPECT_EQ(rows[3][1],
              "\xCF\xB0\xCE\xB1\xE1\xBD\xB6 \xCF\x84\xE1\xBD\xB9\xCF\x84' \xE1\xBC\x90\xCE\xB3\xE1\xBD\xBC "
              "\xCE\x9A\xE1\xBD\xBB\xCF\xB0\xCE\xBB\xCF\x89\xCF\x80\xCE\xB1");
    EXPECT_EQ(rows[4][1], "漢字仮名交じり文");
    EXPECT_EQ(rows[6][1], "ümlaut");
    // Every character from U+0001 to U+00FF, in order.
    std::string all;
    for (std::uint32_t c = 1; c <= 0xFF; ++c) {
        if (c < 0x80) all.push_back(static_cast<char>(c));
        else {
            all.push_back(static_cast<char>(0xC0 | (c >> 6)));
            all.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    EXPECT_EQ(rows[7][1], all);
}

TEST(CorpusValues, EmojiAsSurrogatePairs) {
    auto db = open("ace14/testEmoticonsV2010.accdb");
    const auto rows = rowsOf(*db, "data");
    ASSERT_EQ(rows.size(), 80u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"128512", "a\xF0\x9F\x98\x80" "a"}));
    // Each row's key is the code point of its emoji.
    for (const auto& row : rows) {
        const std::uint32_t cp = static_cast<std::uint32_t>(std::stoul(row[0]));
        std::string expected = "a";
        expected.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        expected.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        expected.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        expected.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        expected += "a";
        EXPECT_EQ(row[1], expected);
    }
}

TEST(CorpusValues, ExtendedDatesAndCalculatedColumns) {
    auto db = open("ace17/extDateTestV2019.accdb");
    const auto rows = rowsOf(*db, "Table1");
    ASSERT_EQ(rows.size(), 9u);
    EXPECT_EQ(rows[0][2], "0000000000000737592:0000000000000000000:7");
    EXPECT_EQ(rows[0][3], "2020-06-17 00:00:00");
    EXPECT_EQ(rows[5][2], "0000000000000737954:0000000819123456789:7");
    EXPECT_EQ(rows[5][3], "2021-06-14 22:45:12");
    EXPECT_EQ(rows[4][2], "\\N");
    // DateNormalCalc is a calculated copy of DateNormal.
    for (const auto& row : rows) EXPECT_EQ(row[5], row[3]);
    EXPECT_EQ(db->findTable("Table1")->definition->findColumn("DateExt")->type, jet::column_type::ExtendedDateTime);
}

TEST(CorpusValues, CalculatedColumnsUseTheirResultType) {
    auto db = open("ace14/calcFieldTestV2010.accdb");
    const auto rows = rowsOf(*db, "Table1");
    ASSERT_EQ(rows.size(), 4u);
    // LastFirst = [LastName] & ", " & [FirstName]; LastFirstLen = Len([LastFirst]).
    EXPECT_EQ(rows[0][3], "Wayne, Bruce");
    EXPECT_EQ(rows[0][5], "12");
    // IsRich = [Salary]>100000 is a Boolean result stored under an Integer column.
    EXPECT_EQ(rows[0][8], "true");
    EXPECT_EQ(rows[1][8], "false");
    // AllNames is a calculated Memo (long value inside the wrapper).
    EXPECT_EQ(rows[1][9], "Simpson, Bart=Simpson, Bart");
    // WeeklySalary = [Salary]/52 with a decimal result of scale 10; DecimalTest = [Popularity].
    EXPECT_EQ(rows[0][10], "19230.7692307692");
    for (const auto& row : rows) EXPECT_EQ(row[14], row[13]);
}

TEST(CorpusValues, OverflowRowsAreFollowed) {
    for (const char* file : {"jet4/overflowTestV2000.mdb", "jet4/overflowTestV2003.mdb"}) {
        SCOPED_TRACE(file);
        auto db = open(file);
        const jet::TableEntry* t = db->findTable("Table1");
        ASSERT_NE(t, nullptr);
        jet::TableCursor cursor = db->cursor(*t);
        int rows = 0, moved = 0;
        while (cursor.next()) {
            ++rows;
            if (cursor.isOverflow()) ++moved;
        }
        EXPECT_EQ(rows, 7);
        EXPECT_EQ(moved, 2);
        const auto values = rowsOf(*db, "Table1");
        EXPECT_EQ(values[2][1], "row3col3");
        EXPECT_EQ(values[2][7], "row3col9");
    }
}

TEST(CorpusValues, Jet3OverflowTargetsAreDeletedSlotsOfTheSameTable) {
    auto db = open("jet3/nwind.mdb");
    const jet::TableEntry* t = db->findTable("MSysObjects");
    jet::TableCursor cursor = db->cursor(*t);
    int moved = 0;
    while (cursor.next()) {
        if (!cursor.isOverflow()) continue;
        ++moved;
        const jet::DataPage target(db->file().page(cursor.dataLocation().page), db->layout());
        EXPECT_EQ(target.owner(), t->definition->tdefPage.value);
        EXPECT_TRUE(target.isDeleted(cursor.dataLocation().row));
        EXPECT_FALSE(target.isOverflow(cursor.dataLocation().row));
    }
    EXPECT_EQ(moved, 27);
}

TEST(CorpusValues, DeletedColumnsLeaveGaps) {
    for (const char* file : {"jet3/delColTestV1997.mdb", "jet4/delColTestV2003.mdb", "ace14/delColTestV2010.accdb"}) {
        SCOPED_TRACE(file);
        auto db = open(file);
        const jet::TableDefinition& d = *db->findTable("Table1")->definition;
        EXPECT_EQ(d.columnCount, 4);
        if (std::string(file).find("jet4") != std::string::npos) {
            EXPECT_GT(d.maxColumns, d.columnCount);
        }
        const auto rows = rowsOf(*db, "Table1");
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[0], (std::vector<std::string>{"0", "2", "foo", "foo2"}));
        EXPECT_EQ(rows[1], (std::vector<std::string>{"3", "5", "bar", "bar2"}));
    }
}

TEST(CorpusValues, ComplexColumnsAndTheirFlatTables) {
    auto db = open("ace14/complexDataTestV2010.accdb");
    const auto rows = rowsOf(*db, "Table1");
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[2][0], "row3");
    EXPECT_EQ(rows[2][3], "row3-memo-again");
    const jet::Column* multi = db->findTable("Table1")->definition->findColumn("multi-value-data");
    ASSERT_NE(multi, nullptr);
    EXPECT_EQ(multi->type, jet::column_type::Complex);
    EXPECT_NE(multi->complexId, 0u);
    // The flat table of the multi-value column holds the values of row 3 (complex value id 3).
    const auto complexColumns = db->complexColumns();
    const jet::ComplexColumnInfo* info = nullptr;
    for (const auto& c : complexColumns)
        if (c.complexId == multi->complexId) info = &c;
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->columnName, "multi-value-data");
    EXPECT_EQ(info->conceptualTable.value, db->findTable("Table1")->definition->tdefPage.value);
    const jet::TableEntry* flat = nullptr;
    for (const auto& t : db->tables())
        if (t.definition && t.definition->tdefPage == info->flatTable) flat = &t;
    ASSERT_NE(flat, nullptr);
    std::vector<std::string> values;
    for (const auto& r : rowsOf(*db, flat->name()))
        if (r[0] == "3") values.push_back(r[2]);
    EXPECT_EQ(values, (std::vector<std::string>{"value1", "value2", "value3", "value4"}));
}

TEST(CorpusValues, PropertyBlobsDecodeToNamesAndValues) {
    auto db = open("jet3/nwind.mdb");
    const jet::CatalogEntry* msysDb = nullptr;
    for (const auto& e : db->catalog())
        if (e.name == "MSysDb") msysDb = &e;
    ASSERT_NE(msysDb, nullptr);
    const auto props = db->properties(*msysDb);
    ASSERT_TRUE(props.has_value());
    const jet::Property* version = props->objectProperty("AccessVersion");
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(jet::canonicalText(version->value), "07.53");

    auto db4 = open("ace14/calcFieldTestV2010.accdb");
    const auto& table = *db4->findTable("Table1");
    const auto p4 = db4->properties(table.catalog);
    ASSERT_TRUE(p4.has_value());
    bool found = false;
    for (const auto& g : p4->groups) {
        if (g.objectName != "LastFirst") continue;
        for (const auto& p : g.properties)
            if (p.name == "Expression") {
                EXPECT_EQ(jet::canonicalText(p.value), "[LastName] & \", \" & [FirstName]");
                found = true;
            }
    }
    EXPECT_TRUE(found);
}

TEST(CorpusValues, LongValuesOfEveryKind) {
    // nwind's Employees holds OLE photos (long chains) and Memo notes.
    auto db = open("jet3/nwind.mdb");
    const jet::TableEntry* t = db->findTable("Employees");
    const jet::Column* photo = t->definition->findColumn("Photo");
    const jet::Column* notes = t->definition->findColumn("Notes");
    ASSERT_TRUE(photo && notes);
    jet::TableCursor cursor = db->cursor(*t);
    ASSERT_TRUE(cursor.next());
    const jet::Value p = cursor.value(photo->blockIndex);
    const auto* bytes = std::get_if<jet::Bytes>(&p);
    ASSERT_NE(bytes, nullptr);
    EXPECT_GT(bytes->size(), 4096u);
    // OLE objects start with the OLE header signature 0x1C15.
    EXPECT_EQ((*bytes)[0], 0x15);
    EXPECT_EQ((*bytes)[1], 0x1C);
    const jet::Value n = cursor.value(notes->blockIndex);
    ASSERT_NE(std::get_if<std::string>(&n), nullptr);
    EXPECT_EQ(std::get<std::string>(n).rfind("Education includes a BA", 0), 0u);
}

}  // namespace
