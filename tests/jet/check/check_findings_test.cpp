// Damage made on purpose in copies of corpus files, one kind at a time: the checker
// names it with the right kind, class and location, and keeps going.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "corpus_files.h"
#include "jet/check/checker.h"
#include "jet/format/byte_order.h"
#include "jet/index/index_page.h"
#include "jet/table/column_type.h"
#include "jet/table/database.h"
#include "jet/table/usage_map.h"
#include "temp_copy.h"

namespace {

using jet::FindingClass;

struct Copy {
    jet_test::TempFolder folder;
    std::filesystem::path path;
    std::vector<std::uint8_t> bytes;
    std::size_t pageSize = 4096;

    explicit Copy(const std::string& corpusName) {
        path = folder.path() / std::filesystem::path(corpusName).filename();
        bytes = jet_test::readBytes(jet_test::corpusFile(corpusName));
        pageSize = bytes.at(0x14) == 0 ? 2048 : 4096;
    }
    std::uint8_t* page(std::uint32_t n) { return bytes.data() + std::size_t{n} * pageSize; }
    void save() { jet_test::writeBytes(path, bytes); }
};

// The first data page of a table and its TDEF page, read through the reader.
struct TablePages {
    std::uint32_t tdef = 0;
    std::uint32_t firstDataPage = 0;
    std::uint32_t indexRoot = 0;
};

TablePages pagesOf(const std::string& corpusName, const std::string& table) {
    auto db = jet::Database::open(jet_test::corpusFile(corpusName));
    const jet::TableEntry* t = db->findTable(table);
    EXPECT_TRUE(t && t->definition);
    TablePages p;
    p.tdef = t->definition->tdefPage.value;
    const auto owned = jet::UsageMap::read(db->file(), db->layout(), t->definition->ownedPagesMap);
    EXPECT_FALSE(owned.pages().empty());
    p.firstDataPage = owned.pages().front().value;
    if (!t->definition->physicalIndexes.empty()) p.indexRoot = t->definition->physicalIndexes[0].rootPage.value;
    return p;
}

const jet::Finding* find(const jet::CheckReport& r, const std::string& code) {
    for (const auto& f : r.findings)
        if (f.code == code) return &f;
    return nullptr;
}

TEST(CheckFindings, DataPageMarkedFreeInTheGlobalMap) {
    const std::string name = "jet4/indexTestV2000.mdb";
    const TablePages t = pagesOf(name, "Table1");
    Copy c(name);
    // Page 1 row 0 is an inline map from page 0: set the data page's bit (free).
    std::uint8_t* p1 = c.page(1);
    const std::size_t row0 = (p1[0x0E] | (p1[0x0F] << 8)) & 0x1FFF;
    ASSERT_EQ(p1[row0], 0);
    p1[row0 + 5 + t.firstDataPage / 8] |= static_cast<std::uint8_t>(1u << (t.firstDataPage % 8));
    c.save();
    const auto r = jet::checkDatabase(c.path.string());
    const jet::Finding* f = find(r, "used_page_marked_free");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->kind, FindingClass::Damage);
    EXPECT_EQ(f->page, t.firstDataPage);
    EXPECT_NE(f->message.find("Table1"), std::string::npos) << f->message;
    EXPECT_EQ(r.usedPagesMarkedFree, std::vector<std::uint32_t>{t.firstDataPage});
}

TEST(CheckFindings, NavigationPaneRowsOfDeletedObjectsAreShownAsHarmless) {
    // Access left rows for a deleted table in three navigation-pane tables of this
    // file; a file without such rows must show none.
    const auto r = jet::checkDatabase(jet_test::corpusFile("jet4/testIndexPropertiesV2003.mdb"));
    EXPECT_FALSE(r.hasDamage());
    std::vector<std::string> tables;
    for (const jet::Finding& f : r.findings) {
        if (f.code != "navpane_dangling_id") continue;
        EXPECT_EQ(f.kind, FindingClass::StaleStatistic);
        tables.push_back(f.table);
    }
    std::sort(tables.begin(), tables.end());
    EXPECT_EQ(tables, (std::vector<std::string>{"MSysNavPaneGroupCategories", "MSysNavPaneGroupToObjects",
                                                "MSysNavPaneObjectIDs"}));
    EXPECT_EQ(jet::checkDatabase(jet_test::corpusFile("jet4/testV2000.mdb")).count("navpane_dangling_id"), 0u);
}

TEST(CheckFindings, WrongRowCountIsAStaleStatistic) {
    const std::string name = "jet3/testV1997.mdb";
    auto db = jet::Database::open(jet_test::corpusFile(name));
    const jet::TableEntry* t = db->findTable("Table1");
    ASSERT_TRUE(t && t->definition);
    const std::uint32_t tdef = t->definition->tdefPage.value;
    const std::uint32_t rows = t->definition->rowCount;
    Copy c(name);
    jet::bytes::putU32le({c.page(tdef), c.pageSize}, db->layout().tdefRowCount, rows + 5);
    c.save();
    const auto r = jet::checkDatabase(c.path.string());
    EXPECT_FALSE(r.hasDamage());
    const jet::Finding* f = find(r, "row_count_stale");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->kind, FindingClass::StaleStatistic);
    EXPECT_EQ(f->table, "Table1");
    EXPECT_EQ(f->expected, static_cast<std::int64_t>(rows));
}

// A user table of `db` with a Long AutoNumber column and rows.
const jet::TableEntry* autonumberTable(jet::Database& db) {
    for (const jet::TableEntry& t : db.tables()) {
        if (!t.definition || t.isSystem() || t.definition->rowCount == 0) continue;
        for (const jet::Column& c : t.definition->columns)
            if (c.isAutonumber() && c.type == jet::column_type::Long) return &t;
    }
    return nullptr;
}

TEST(CheckFindings, AutonumberCounterBelowTheHighestValue) {
    const std::string name = "jet3/nwind.mdb";
    auto db = jet::Database::open(jet_test::corpusFile(name));
    const jet::TableEntry* t = autonumberTable(*db);
    ASSERT_NE(t, nullptr);
    Copy c(name);
    jet::bytes::putU32le({c.page(t->definition->tdefPage.value), c.pageSize}, db->layout().tdefAutonumber, 1);
    c.save();
    const auto r = jet::checkDatabase(c.path.string());
    const jet::Finding* f = find(r, "autonumber_below_max");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->kind, FindingClass::Damage);
    EXPECT_EQ(f->table, t->name());
    EXPECT_GT(f->expected.value_or(0), 1);
}

TEST(CheckFindings, IndexKeyThatDoesNotMatchItsRow) {
    const std::string name = "jet4/indexTestV2000.mdb";
    const TablePages t = pagesOf(name, "Table1");
    ASSERT_NE(t.indexRoot, 0u);
    Copy c(name);
    const auto layout = jet::IndexPageLayout::forJet4();
    std::uint8_t* root = c.page(t.indexRoot);
    ASSERT_EQ(root[0], 0x04) << "expected a single-leaf index";
    const jet::IndexPage page = jet::decodeIndexPage({root, c.pageSize}, jet::PageNumber(t.indexRoot), layout);
    ASSERT_GE(page.entries.size(), 2u);
    // The last byte of the last entry's key: keeps the order, breaks the key.
    const auto& last = page.entries.back();
    ASSERT_GT(last.storedLength, 5u);
    root[last.storedOffset + last.storedLength - 5] ^= 0x01;
    c.save();
    const auto r = jet::checkDatabase(c.path.string());
    ASSERT_TRUE(r.hasDamage());
    const jet::Finding* f = find(r, "index_key_mismatch");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->table, "Table1");
    EXPECT_FALSE(f->index.empty());
    EXPECT_EQ(f->page, last.row.page.value);
    EXPECT_EQ(f->row, last.row.row);
}

TEST(CheckFindings, IndexEntriesPointingAtSlotsWithoutALiveRow) {
    const std::string name = "jet4/indexTestV2000.mdb";
    const TablePages t = pagesOf(name, "Table1");
    const auto layout = jet::IndexPageLayout::forJet4();
    // The row pointer ends the entry: 3 bytes of page, 1 of row.
    struct Case {
        const char* what;
        std::uint32_t page;  // 0: the row's own page
        std::uint8_t row;
    };
    for (const Case& k : {Case{"a row past the page's rows", 0, 0xF0}, Case{"a page before the table's pages", 3, 0},
                          Case{"a page past the table's pages", 0xFFFF00, 1}}) {
        SCOPED_TRACE(k.what);
        Copy c(name);
        std::uint8_t* root = c.page(t.indexRoot);
        const jet::IndexPage page = jet::decodeIndexPage({root, c.pageSize}, jet::PageNumber(t.indexRoot), layout);
        const auto& first = page.entries.front();
        const jet::RowPointer moved(jet::PageNumber(k.page == 0 ? first.row.page.value : k.page), k.row);
        moved.toIndexBytes(root + first.storedOffset + first.storedLength - 4);
        c.save();
        const auto r = jet::checkDatabase(c.path.string());
        const jet::Finding* dead = find(r, "index_entry_dead_row");
        ASSERT_NE(dead, nullptr);
        EXPECT_EQ(dead->page, t.indexRoot);
        const jet::Finding* missing = find(r, "index_row_missing");
        ASSERT_NE(missing, nullptr);
        EXPECT_EQ(missing->page, first.row.page.value);
        EXPECT_EQ(missing->row, first.row.row);
    }
}

TEST(CheckFindings, DataPageFreeSpaceAndOwnerAreVerified) {
    const std::string name = "jet4/indexTestV2000.mdb";
    const TablePages t = pagesOf(name, "Table1");
    {
        Copy c(name);
        c.page(t.firstDataPage)[2] ^= 0x10;
        c.save();
        const auto r = jet::checkDatabase(c.path.string());
        const jet::Finding* f = find(r, "data_page_free_space");
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->page, t.firstDataPage);
    }
    {
        Copy c(name);
        c.page(t.firstDataPage)[4] ^= 0x01;  // owner TDEF
        c.save();
        const auto r = jet::checkDatabase(c.path.string());
        ASSERT_NE(find(r, "owned_page_not_data"), nullptr);
        // The checker went on: the index now points at rows no scan reaches.
        EXPECT_NE(find(r, "index_entry_dead_row"), nullptr);
    }
}

TEST(CheckFindings, PageClaimedByTwoStructures) {
    const std::string name = "jet4/indexTestV2000.mdb";
    const TablePages t1 = pagesOf(name, "Table1");
    auto db = jet::Database::open(jet_test::corpusFile(name));
    const jet::TableEntry* t = db->findTable("Table1");
    Copy c(name);
    // The second index's root set to the first index's root: one page, two trees.
    ASSERT_GE(t->definition->physicalIndexes.size(), 2u);
    const auto& raw = t->definition->rawDefinition;
    const auto& a = t->definition->physicalIndexes[0].rawDefinition;
    const auto& b = t->definition->physicalIndexes[1].rawDefinition;
    const auto posA = std::search(raw.begin(), raw.end(), a.begin(), a.end()) - raw.begin();
    const auto posB = std::search(raw.begin(), raw.end(), b.begin(), b.end()) - raw.begin();
    ASSERT_LT(static_cast<std::size_t>(posB) + 42, c.pageSize) << "definition on one page";
    std::memcpy(c.page(t1.tdef) + posB + 38, c.page(t1.tdef) + posA + 38, 4);
    c.save();
    const auto r = jet::checkDatabase(c.path.string());
    const jet::Finding* f = find(r, "page_claimed_twice");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->page, t1.indexRoot);
}

// A calculated column whose result is a Memo keeps its values as long values, and
// its rows hold their descriptors: they are references like any Memo's.
TEST(CheckFindings, LongValuesOfACalculatedMemoColumnBelongToTheirRows) {
    const std::string name = "ace14/calcFieldTestV2010.accdb";
    auto db = jet::Database::open(jet_test::corpusFile(name));
    const jet::TableEntry* t = db->findTable("Table1");
    ASSERT_TRUE(t && t->definition);
    const jet::Column* allNames = nullptr;
    for (const auto& col : t->definition->columns)
        if (col.name == "AllNames") allNames = &col;
    ASSERT_NE(allNames, nullptr);
    ASSERT_TRUE(allNames->isCalculated() && allNames->storesLongValue());
    std::uint32_t lvalPage = 0;
    for (const auto& m : t->definition->longValueMaps) {
        if (m.columnNumber != allNames->number) continue;
        const auto owned = jet::UsageMap::read(db->file(), db->layout(), m.ownedPages);
        ASSERT_EQ(owned.pages().size(), 1u);
        lvalPage = owned.pages().front().value;
    }
    ASSERT_NE(lvalPage, 0u);

    const auto intact = jet::checkDatabase(jet_test::corpusFile(name));
    EXPECT_EQ(find(intact, "long_value_orphan_rows"), nullptr);

    // With the long-value page gone, every row with a value there is named.
    Copy c(name);
    std::memset(c.page(lvalPage), 0, c.pageSize);
    c.save();
    const auto damaged = jet::checkDatabase(c.path.string());
    std::vector<int> rows;
    for (const auto& f : damaged.findings) {
        if (f.code != "long_value_page_owner") continue;
        EXPECT_EQ(f.table, "Table1");
        EXPECT_NE(f.message.find("AllNames"), std::string::npos) << f.message;
        rows.push_back(f.row.value_or(-1));
    }
    EXPECT_EQ(rows, (std::vector<int>{0, 1, 3}));
}

// A definition that calls a Text column Date/Time: the rows still hold text of
// varying lengths, which no Date/Time value has. Every row of the column is damage
// (the reader could not give its value), never "no damage found".
TEST(CheckFindings, ColumnTypeThatContradictsTheRowsIsDamage) {
    const std::string name = "jet3/nwind.mdb";
    auto db = jet::Database::open(jet_test::corpusFile(name));
    const jet::TableEntry* t = db->findTable("Customers");
    ASSERT_TRUE(t && t->definition);
    const jet::Column* text = nullptr;
    for (const auto& col : t->definition->columns)
        if (col.name == "Address") text = &col;
    ASSERT_TRUE(text && text->type == jet::column_type::Text);
    for (const auto& ix : t->definition->physicalIndexes)
        for (const auto& ic : ix.columns) ASSERT_NE(ic.columnNumber, text->number) << "no index shows the change";
    const auto intact = jet::checkDatabase(jet_test::corpusFile(name));
    ASSERT_FALSE(intact.hasDamage());

    Copy c(name);
    const std::uint32_t tdef = t->definition->tdefPage.value;
    std::uint8_t* page = c.page(tdef);
    const auto& block = text->rawBlock;
    std::uint8_t* at = std::search(page, page + c.pageSize, block.begin(), block.end());
    ASSERT_NE(at, page + c.pageSize) << "column block on the definition's first page";
    at[0] = jet::column_type::DateTime;
    c.save();
    const auto damaged = jet::checkDatabase(c.path.string());
    EXPECT_TRUE(damaged.hasDamage());
    // Each row is named: 91 customers, every one with an address.
    EXPECT_EQ(damaged.count("value_size"), 91u);
    const jet::Finding* f = find(damaged, "value_size");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->table, "Customers");
    EXPECT_NE(f->message.find("Address"), std::string::npos) << f->message;
}

}  // namespace
