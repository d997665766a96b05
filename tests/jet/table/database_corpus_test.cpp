// Every corpus file opens and every table of it reads completely, with the table
// and row counts that MANIFEST.md lists (counted there by two independent readers).
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "corpus_files.h"
#include "jet/table/database.h"

namespace {

using jet_test::ManifestEntry;

class CorpusFile : public ::testing::TestWithParam<ManifestEntry> {};

}  // namespace

namespace jet_test {
void PrintTo(const ManifestEntry& m, std::ostream* os) { *os << m.file; }
}  // namespace jet_test

namespace {

struct TableCounts {
    int user = 0;
    int system = 0;
    std::uint64_t userRows = 0;
    std::vector<std::string> staleRowCounts;  // tables whose TDEF row count differs from the rows read
};

TableCounts readEverything(jet::Database& db) {
    TableCounts counts;
    std::vector<jet::Value> values;
    for (const jet::TableEntry& t : db.tables()) {
        EXPECT_TRUE(t.definition.has_value()) << t.name() << ": " << t.definitionError;
        if (!t.definition) continue;
        std::uint64_t rows = 0;
        jet::TableCursor cursor = db.cursor(t);
        while (cursor.next()) {
            cursor.values(values);
            EXPECT_EQ(values.size(), t.definition->columns.size());
            ++rows;
        }
        EXPECT_TRUE(cursor.skippedPages().empty()) << t.name() << " owns pages that are not its data pages";
        // System tables' row counts are often stale in files Access wrote (MSysACEs,
        // MSysQueries: mdb-reader counts the same rows we do); only user tables are held to it.
        if (rows != t.definition->rowCount && !t.isSystem()) counts.staleRowCounts.push_back(t.name() + " " + std::to_string(rows) + "/" + std::to_string(t.definition->rowCount));
        if (t.isSystem()) {
            ++counts.system;
        } else {
            ++counts.user;
            counts.userRows += rows;
        }
    }
    return counts;
}

TEST_P(CorpusFile, ReadsEveryTableWithManifestCounts) {
    const ManifestEntry& m = GetParam();
    std::unique_ptr<jet::Database> db;
    ASSERT_NO_THROW(db = jet::Database::open(jet_test::corpusFile(m.file)));
    const TableCounts counts = readEverything(*db);
    EXPECT_EQ(counts.user, m.userTables);
    EXPECT_EQ(counts.system, m.systemTables);
    EXPECT_EQ(counts.userRows, m.userRows);
    // Row counts in table definitions are statistics; the only file whose statistic is
    // stale is the hand-edited calcFieldTestV2010 (READERS.md).
    if (m.file == "ace14/calcFieldTestV2010.accdb") {
        EXPECT_EQ(counts.staleRowCounts, std::vector<std::string>{"Table1 4/3"});
    } else {
        for (const std::string& s : counts.staleRowCounts) ADD_FAILURE() << "stale row count: " << s;
    }
}

std::string testName(const ::testing::TestParamInfo<ManifestEntry>& info) {
    return jet_test::testNameOf(info.param.file);
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusFile, ::testing::ValuesIn(jet_test::readManifest()), testName);

TEST(CorpusManifest, ListsEveryFile) { EXPECT_EQ(jet_test::readManifest().size(), 84u); }

TEST(CorpusHeaders, VersionPageSizeAndNoPassword) {
    for (const ManifestEntry& m : jet_test::readManifest()) {
        SCOPED_TRACE(m.file);
        auto db = jet::Database::open(jet_test::corpusFile(m.file));
        const jet::DatabaseHeader& h = db->header();
        const std::string folder = m.file.substr(0, m.file.find('/'));
        const std::map<std::string, jet::FormatVersion> expected = {
            {"jet3", jet::FormatVersion::Jet3},   {"jet4", jet::FormatVersion::Jet4},
            {"ace12", jet::FormatVersion::Ace12}, {"ace14", jet::FormatVersion::Ace14},
            {"ace16", jet::FormatVersion::Ace16}, {"ace17", jet::FormatVersion::Ace17}};
        EXPECT_EQ(h.version, expected.at(folder));
        EXPECT_EQ(h.pageSize, folder == "jet3" ? 2048u : 4096u);
        EXPECT_FALSE(h.hasPassword);
        EXPECT_EQ(h.databaseKey, 0u);
        EXPECT_EQ(h.codePage, 1252);
        EXPECT_EQ(h.sortOrder, 1033);
        // The decoded constant block proves the header mask was removed correctly.
        const std::uint8_t constant[] = {0x00, 0x01, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00};
        EXPECT_TRUE(std::equal(std::begin(constant), std::end(constant), h.decodedPage.begin() + 0x18));
        EXPECT_EQ(db->file().fileSize(), std::uint64_t{db->pageCount()} * h.pageSize);
    }
}

TEST(CorpusStructure, TablesIndexesAndLongValueMapsAreConsistent) {
    for (const ManifestEntry& m : jet_test::readManifest()) {
        SCOPED_TRACE(m.file);
        auto db = jet::Database::open(jet_test::corpusFile(m.file));
        std::set<std::uint32_t> tdefPages;
        for (const jet::TableEntry& t : db->tables()) {
            SCOPED_TRACE(t.name());
            ASSERT_TRUE(t.definition);
            const jet::TableDefinition& d = *t.definition;
            EXPECT_EQ(d.tdefPage.value, static_cast<std::uint32_t>(t.catalog.id));
            EXPECT_TRUE(tdefPages.insert(d.tdefPage.value).second);
            EXPECT_EQ(d.columns.size(), d.columnCount);
            EXPECT_GE(d.maxColumns, d.columnCount);
            EXPECT_GE(d.logicalIndexCount, d.physicalIndexCount);
            std::set<std::uint16_t> numbers;
            for (const jet::Column& c : d.columns) {
                EXPECT_FALSE(c.name.empty());
                EXPECT_LT(c.number, d.maxColumns);
                EXPECT_TRUE(numbers.insert(c.number).second);
                // Every column holding long values (Memo/OLE, calculated Memo) has long-value
                // maps, and nothing else has.
                EXPECT_EQ(d.longValueMapsFor(c.number) != nullptr, c.storesLongValue()) << c.name;
            }
            for (const jet::LogicalIndex& li : d.logicalIndexes) EXPECT_LT(li.physicalIndex, d.physicalIndexCount);
            for (const jet::PhysicalIndex& ix : d.physicalIndexes) {
                EXPECT_GE(ix.columns.size(), 1u);
                for (const jet::IndexColumn& ic : ix.columns) EXPECT_TRUE(d.columnByNumber(ic.columnNumber));
                const jet::PageRef root = db->file().page(ix.rootPage);
                EXPECT_TRUE(root->bytes[0] == 0x03 || root->bytes[0] == 0x04);
            }
        }
        // The core system tables sit on their fixed pages.
        EXPECT_EQ(db->findTable("MSysObjects")->definition->tdefPage.value, 2u);
        EXPECT_EQ(db->findTable("MSysACEs")->definition->tdefPage.value, 3u);
    }
}

}  // namespace

namespace {

TEST(CorpusUsageMaps, OwnedPagesAreDataPagesOfTheTableAndNeverFree) {
    int referenceMaps = 0;
    for (const ManifestEntry& m : jet_test::readManifest()) {
        SCOPED_TRACE(m.file);
        auto db = jet::Database::open(jet_test::corpusFile(m.file));
        const jet::UsageMap global = db->globalFreeMap();
        if (global.kind() == jet::UsageMap::Kind::Reference) ++referenceMaps;
        for (const jet::TableEntry& t : db->tables()) {
            SCOPED_TRACE(t.name());
            const jet::UsageMap owned = jet::UsageMap::read(db->file(), db->layout(), t.definition->ownedPagesMap);
            if (owned.kind() == jet::UsageMap::Kind::Reference) ++referenceMaps;
            EXPECT_EQ(owned.beyondEnd(), 0u);
            for (jet::PageNumber p : owned.pages()) {
                EXPECT_FALSE(global.contains(p)) << p.value;
                const jet::DataPage page(db->file().page(p), db->layout());
                EXPECT_EQ(page.owner(), t.definition->tdefPage.value);
            }
            for (const jet::LongValueMaps& lv : t.definition->longValueMaps) {
                const jet::UsageMap pages = jet::UsageMap::read(db->file(), db->layout(), lv.ownedPages);
                for (jet::PageNumber p : pages.pages()) EXPECT_FALSE(global.contains(p)) << p.value;
            }
        }
    }
    // Large tables of testV2000/testV2003 use reference maps (pages far apart).
    EXPECT_GT(referenceMaps, 0);
}

}  // namespace
