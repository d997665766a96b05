// repairDatabase on copies of corpus files: each mend on a statistic or map damaged
// on purpose, the whole corpus repaired (unchanged where nothing was wrong), and the
// numbered errors for what repair must not touch.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <random>

#include <sys/stat.h>

#include "compact_test_support.h"
#include "corpus_files.h"
#include "jet/check/checker.h"
#include "jet/format/byte_order.h"
#include "jet/repair/repair.h"
#include "jet/table/column_type.h"
#include "jet/table/database.h"
#include "jet/table/usage_map.h"
#include "temp_copy.h"

namespace {

namespace num = jet::error_number;

std::filesystem::path copyOf(const jet_test::TempFolder& folder, const std::string& corpusName) {
    const auto path = folder.path() / std::filesystem::path(corpusName).filename();
    std::filesystem::copy_file(jet_test::corpusFile(corpusName), path);
    return path;
}

bool isMendable(const std::string& code) {
    return code == "row_count_stale" || code == "index_distinct_stale" || code == "autonumber_below_max" ||
           code == "used_page_marked_free";
}

std::size_t pageSizeOf(const std::vector<std::uint8_t>& b) { return b.at(0x14) == 0 ? 2048 : 4096; }

// Expects repairDatabase to throw RepairError with `number`; returns its message.
std::string repairError(const std::filesystem::path& path, int number) {
    try {
        jet::repairDatabase(path.string());
    } catch (const jet::RepairError& e) {
        EXPECT_EQ(e.number(), number) << e.what();
        return e.what();
    }
    ADD_FAILURE() << "repair did not fail";
    return {};
}

TEST(RepairCorpus, EveryCorpusFileRepairsCleanAndUntouchedWhenNothingIsWrong) {
    jet_test::TempFolder folder;
    std::size_t unchanged = 0;
    std::size_t mended = 0;
    for (const auto& m : jet_test::readManifest()) {
        SCOPED_TRACE(m.file);
        const auto path = copyOf(folder, m.file);
        const auto before = jet_test::readBytes(path);
        const auto report = jet::checkDatabase(path.string());
        bool anything = false;
        for (const auto& f : report.findings) anything = anything || isMendable(f.code);
        ASSERT_NO_THROW(jet::repairDatabase(path.string()));
        const auto after = jet_test::readBytes(path);
        if (!anything) {
            EXPECT_EQ(before, after) << "a file with nothing to mend must stay byte-identical";
            ++unchanged;
        } else {
            EXPECT_EQ(before.size(), after.size());
            const auto again = jet::checkDatabase(path.string());
            for (const auto& f : again.findings) EXPECT_FALSE(isMendable(f.code)) << f.describe();
            EXPECT_FALSE(again.hasDamage());
            ++mended;
        }
        std::filesystem::remove(path);
    }
    std::cout << "  corpus: " << unchanged << " files unchanged, " << mended << " with statistics mended\n";
    EXPECT_GT(unchanged, 10u);
    EXPECT_GT(mended, 10u);
}

TEST(RepairMend, StaleRowCountIsRewrittenAndNothingElse) {
    jet_test::TempFolder folder;
    const std::string name = "jet3/testV1997.mdb";
    const auto path = copyOf(folder, name);
    auto original = jet_test::readBytes(path);
    std::uint32_t tdef = 0;
    std::size_t field = 0;
    {
        auto db = jet::Database::open(path.string());
        const jet::TableEntry* t = db->findTable("Table1");
        ASSERT_TRUE(t && t->definition);
        tdef = t->definition->tdefPage.value;
        field = db->layout().tdefRowCount;
    }
    auto damaged = original;
    const std::size_t at = std::size_t{tdef} * pageSizeOf(original) + field;
    jet::bytes::putU32le(damaged, at, jet::bytes::u32le(original, at) + 7);
    jet_test::writeBytes(path, damaged);
    ASSERT_EQ(jet::checkDatabase(path.string()).count("row_count_stale"), 1u);
    jet::repairDatabase(path.string());
    EXPECT_EQ(jet::checkDatabase(path.string()).count("row_count_stale"), 0u);
    EXPECT_EQ(jet_test::readBytes(path), original);
}

TEST(RepairMend, UsedPageMarkedFreeIsMarkedUsedAgain) {
    jet_test::TempFolder folder;
    const std::string name = "jet4/indexTestV2000.mdb";
    const auto path = copyOf(folder, name);
    const auto original = jet_test::readBytes(path);
    std::uint32_t dataPage = 0;
    {
        auto db = jet::Database::open(path.string());
        const jet::TableEntry* t = db->findTable("Table1");
        ASSERT_TRUE(t && t->definition);
        dataPage = jet::UsageMap::read(db->file(), db->layout(), t->definition->ownedPagesMap).pages().at(0).value;
    }
    auto damaged = original;
    const std::size_t ps = pageSizeOf(original);
    const std::size_t row0 = ps + (jet::bytes::u16le(damaged, ps + 0x0E) & 0x1FFF);
    ASSERT_EQ(damaged[row0], 0) << "inline global map";
    damaged[row0 + 5 + dataPage / 8] |= static_cast<std::uint8_t>(1u << (dataPage % 8));
    jet_test::writeBytes(path, damaged);
    ASSERT_EQ(jet::checkDatabase(path.string()).count("used_page_marked_free"), 1u);
    jet::repairDatabase(path.string());
    const auto report = jet::checkDatabase(path.string());
    EXPECT_EQ(report.count("used_page_marked_free"), 0u);
    EXPECT_FALSE(report.hasDamage());
    // The global map is back as it was (the file's stale index statistics were mended too).
    const auto after = jet_test::readBytes(path);
    EXPECT_TRUE(std::equal(after.begin() + static_cast<std::ptrdiff_t>(ps),
                           after.begin() + static_cast<std::ptrdiff_t>(2 * ps),
                           original.begin() + static_cast<std::ptrdiff_t>(ps)));
}

TEST(RepairMend, AutonumberCounterIsRaisedToTheHighestValue) {
    jet_test::TempFolder folder;
    const std::string name = "jet3/nwind.mdb";
    const auto path = copyOf(folder, name);
    const auto original = jet_test::readBytes(path);
    std::size_t at = 0;
    std::string table;
    {
        auto db = jet::Database::open(path.string());
        for (const jet::TableEntry& t : db->tables()) {
            if (!t.definition || t.isSystem() || t.definition->rowCount == 0 || !table.empty()) continue;
            for (const jet::Column& c : t.definition->columns)
                if (c.isAutonumber() && c.type == jet::column_type::Long) {
                    table = t.name();
                    at = std::size_t{t.definition->tdefPage.value} * pageSizeOf(original) + db->layout().tdefAutonumber;
                }
        }
    }
    ASSERT_FALSE(table.empty());
    auto damaged = original;
    jet::bytes::putU32le(damaged, at, 1);
    jet_test::writeBytes(path, damaged);
    const auto before = jet::checkDatabase(path.string());
    ASSERT_EQ(before.count("autonumber_below_max"), 1u);
    std::int64_t highest = 0;
    for (const auto& f : before.findings)
        if (f.code == "autonumber_below_max") highest = f.expected.value_or(0);
    jet::repairDatabase(path.string());
    const auto after = jet::checkDatabase(path.string());
    EXPECT_EQ(after.count("autonumber_below_max"), 0u);
    EXPECT_EQ(jet::bytes::u32le(jet_test::readBytes(path), at), static_cast<std::uint32_t>(highest));
    EXPECT_LE(static_cast<std::int64_t>(jet::bytes::u32le(original, at)), highest + 0x7FFFFFFF);
}

// Table1's rows as canonical lines, sorted; with `skipPage`, leaving out the rows
// whose bytes lie on that page.
std::vector<std::string> userRows(const std::filesystem::path& path, const std::string& table,
                                  std::optional<std::uint32_t> skipPage = std::nullopt) {
    auto db = jet::Database::open(path.string());
    const jet::TableEntry* t = db->findTable(table);
    EXPECT_NE(t, nullptr) << table;
    if (!t) return {};
    std::vector<std::string> rows;
    std::vector<jet::Value> values;
    jet::TableCursor cursor = db->cursor(*t);
    while (cursor.next()) {
        if (skipPage && cursor.dataLocation().page.value == *skipPage) continue;
        cursor.values(values);
        std::string line;
        for (const jet::Value& v : values) line += (jet::isNull(v) ? std::string("\\N") : jet::canonicalText(v)) + '\t';
        rows.push_back(std::move(line));
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

// A zeroed data page (alone, and with an index root zeroed too) costs the rows on
// it and nothing else: the repair writes the file anew with every other row, says
// which page was lost, and a second repair finds nothing to do.
TEST(RepairSalvage, ZeroedDataPageCostsOnlyItsRowsAndIsReported) {
    for (const bool indexToo : {false, true}) {
        SCOPED_TRACE(indexToo ? "data page and index root" : "data page");
        jet_test::TempFolder folder;
        const auto path = copyOf(folder, "jet4/indexTestV2000.mdb");
        std::uint32_t dataPage = 0;
        std::uint32_t indexRoot = 0;
        {
            auto db = jet::Database::open(path.string());
            const jet::TableEntry* t = db->findTable("Table1");
            dataPage = jet::UsageMap::read(db->file(), db->layout(), t->definition->ownedPagesMap).pages().at(0).value;
            indexRoot = t->definition->physicalIndexes.at(0).rootPage.value;
        }
        const auto expected = userRows(path, "Table1", dataPage);
        auto damaged = jet_test::readBytes(path);
        const std::size_t ps = pageSizeOf(damaged);
        std::vector<std::uint32_t> pages = {dataPage};
        if (indexToo) pages.push_back(indexRoot);
        for (const std::uint32_t p : pages)
            std::fill(damaged.begin() + static_cast<std::ptrdiff_t>(p * ps),
                      damaged.begin() + static_cast<std::ptrdiff_t>((p + 1) * ps), 0);
        jet_test::writeBytes(path, damaged);

        const jet::RepairReport report = jet::repairDatabase(path.string());
        EXPECT_TRUE(report.rewritten);
        ASSERT_EQ(report.items.size(), 1u);
        EXPECT_EQ(report.items[0].kind, jet::RepairItem::Kind::PageLost);
        EXPECT_EQ(report.items[0].table, "Table1");
        EXPECT_EQ(report.items[0].page, dataPage);
        EXPECT_FALSE(jet::checkDatabase(path.string()).hasDamage());
        EXPECT_EQ(userRows(path, "Table1"), expected);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), std::filesystem::directory_iterator{}),
                  1) << "nothing is left beside the file";

        const auto once = jet_test::readBytes(path);
        EXPECT_TRUE(jet::repairDatabase(path.string()).items.empty());
        EXPECT_EQ(jet_test::readBytes(path), once) << "a second repair changed the file";
    }
}

TEST(RepairRefusal, UnrecognisedFormatMissingFileAndUnreadableCatalog) {
    jet_test::TempFolder folder;
    const auto text = folder.path() / "notes.mdb";
    jet_test::writeBytes(text, std::vector<std::uint8_t>(8192, 'x'));
    EXPECT_NE(repairError(text, num::UnrecognisedFormat).find("Formato de banco de dados não reconhecido"),
              std::string::npos);

    repairError(folder.path() / "missing.mdb", num::FileNotFound);

    // Page 2 (the catalog's definition) zeroed: the database cannot be opened.
    const auto path = copyOf(folder, "jet4/emptyJet4.mdb");
    auto bytes = jet_test::readBytes(path);
    std::fill(bytes.begin() + 2 * 4096, bytes.begin() + 3 * 4096, 0);
    jet_test::writeBytes(path, bytes);
    repairError(path, num::DatabaseDamaged);
    EXPECT_EQ(jet_test::readBytes(path), bytes);
}

// Damage confined to indexes: every index page of a file whose zeroing or
// garbling the check finds only in index structures. Repair builds the indexes again from the
// rows: the result checks without damage, holds every row of the undamaged
// source with every value, keeps the file's mode, leaves no scratch file beside
// it, and a second repair leaves it as it is.
bool onlyIndexDamage(const jet::CheckReport& r) {
    bool any = false;
    for (const auto& f : r.findings) {
        if (f.kind != jet::FindingClass::Damage) continue;
        if (f.code.rfind("index_", 0) != 0 || f.code == "index_unique_violation" || f.code == "index_required_null" ||
            f.code == "index_column_count" || f.code == "index_column_missing" || f.code == "index_flags")
            return false;
        any = true;
    }
    return any;
}

TEST(RepairIndexes, DamagedIndexPagesAreBuiltAgainFromTheRows) {
    std::size_t repaired = 0;
    for (const std::string name : {"jet3/nwind.mdb", "jet4/bigIndexTestV2003.mdb", "ace14/bigIndexTestV2010.accdb"}) {
        SCOPED_TRACE(name);
        const auto original = jet_test::readBytes(jet_test::corpusFile(name));
        const std::size_t ps = pageSizeOf(original);
        auto source = jet::Database::open(jet_test::corpusFile(name));
        std::map<std::string, std::vector<std::string>> sourceRows;
        for (const jet::TableEntry& t : source->tables())
            if (t.definition) sourceRows[t.name()] = jet_test::tableRows(*source, t, {});
        std::mt19937 random(20261209);
        // Index pages (types 3 and 4): the damaged bytes hold no row, so every row
        // must come back as the source has it. Twelve of them a file, spread over it,
        // keep the sanitizer build's run short.
        std::vector<std::size_t> indexPages;
        for (std::size_t p = 3; p < original.size() / ps; ++p)
            if (original[p * ps] == 0x03 || original[p * ps] == 0x04) indexPages.push_back(p);
        ASSERT_FALSE(indexPages.empty());
        constexpr std::size_t kPagesAFile = 12;
        const std::size_t stride = std::max<std::size_t>(1, indexPages.size() / kPagesAFile);
        for (std::size_t i = 0; i < indexPages.size(); i += stride) {
            const std::size_t p = indexPages[i];
            for (int variant = 0; variant < 2; ++variant) {
                auto damaged = original;
                const auto page = damaged.begin() + static_cast<std::ptrdiff_t>(p * ps);
                if (variant == 0) {
                    std::fill(page, page + static_cast<std::ptrdiff_t>(ps), 0);
                } else {
                    for (int k = 0; k < 12; ++k) page[static_cast<std::ptrdiff_t>(16 + random() % (ps - 16))] = static_cast<std::uint8_t>(random());
                }
                jet_test::TempFolder folder;
                const auto path = folder.path() / std::filesystem::path(name).filename();
                jet_test::writeBytes(path, damaged);
                if (!onlyIndexDamage(jet::checkDatabase(path.string()))) continue;
                SCOPED_TRACE("page " + std::to_string(p) + (variant == 0 ? " zeroed" : " garbled"));
                ASSERT_EQ(::chmod(path.c_str(), 0640), 0);

                ASSERT_NO_THROW(jet::repairDatabase(path.string()));
                ++repaired;
                const auto report = jet::checkDatabase(path.string());
                EXPECT_FALSE(report.hasDamage());
                for (const auto& f : report.findings) EXPECT_FALSE(isMendable(f.code)) << f.describe();
                auto after = jet::Database::open(path.string());
                const auto ids = jet_test::tableIdMap(*after, *source);  // repaired Id -> source Id
                ASSERT_EQ(after->tables().size(), source->tables().size());
                for (const jet::TableEntry& t : after->tables()) {
                    ASSERT_TRUE(t.definition) << t.name();
                    EXPECT_EQ(jet_test::tableRows(*after, t, ids), sourceRows[t.name()]) << t.name();
                }
                struct stat st {};
                ASSERT_EQ(::stat(path.c_str(), &st), 0);
                EXPECT_EQ(st.st_mode & 07777, 0640u);
                EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()),
                                        std::filesystem::directory_iterator{}),
                          1) << "a scratch file was left beside the database";

                const auto once = jet_test::readBytes(path);
                ASSERT_NO_THROW(jet::repairDatabase(path.string()));
                EXPECT_EQ(jet_test::readBytes(path), once) << "a second repair changed the file";
            }
        }
    }
    std::cout << "  index damage repaired in " << repaired << " copies\n";
    EXPECT_GT(repaired, 30u);
}

}  // namespace

namespace {

// A damaged type byte makes Table1's Text column "data" a Date/Time column: the
// check calls it damage, and the repair keeps every row with the column's values
// read as the text they are, and says what it changed.
TEST(RepairSalvage, AColumnWhoseTypeContradictsItsValuesIsKeptAsTheValuesRead) {
    jet_test::TempFolder folder;
    const auto path = copyOf(folder, "jet4/indexTestV2000.mdb");
    const auto expected = userRows(path, "Table1");
    std::size_t at = 0;
    {
        auto db = jet::Database::open(path.string());
        ASSERT_FALSE(db->header().isEncoded());  // the byte is patched as stored
        const jet::TableDefinition& def = *db->findTable("Table1")->definition;
        const jet::Column* data = def.findColumn("data");
        ASSERT_NE(data, nullptr);
        ASSERT_EQ(data->type, jet::column_type::Text);
        at = def.tdefPage.value * 4096 + db->layout().tdefHeaderEnd +
             def.physicalIndexCount * db->layout().indexStatisticsSize + data->blockIndex * db->layout().columnBlockSize;
    }
    auto damaged = jet_test::readBytes(path);
    damaged.at(at) = jet::column_type::DateTime;
    jet_test::writeBytes(path, damaged);
    ASSERT_GT(jet::checkDatabase(path.string()).count("value_size"), 0u);

    const jet::RepairReport report = jet::repairDatabase(path.string());
    ASSERT_EQ(report.items.size(), 1u);
    EXPECT_EQ(report.items[0].kind, jet::RepairItem::Kind::ColumnRetyped);
    EXPECT_EQ(report.items[0].column, "data");
    EXPECT_FALSE(jet::checkDatabase(path.string()).hasDamage());
    EXPECT_EQ(userRows(path, "Table1"), expected);
    EXPECT_EQ(userRows(path, "MSysCompactError").size(), 1u);
}

// The catalog page that names the user tables zeroed: each table comes back under
// a made-up name with every row, the catalog's own tables under their names, and
// MSysCompactError lists what happened.
TEST(RepairSalvage, TablesWhoseCatalogRowsAreLostComeBackUnderMadeUpNames) {
    jet_test::TempFolder folder;
    const auto path = copyOf(folder, "jet4/indexTestV2000.mdb");
    const auto expected = userRows(path, "Table1");
    std::uint32_t tdef = 0;
    jet::RowPointer catalogRow;
    {
        auto db = jet::Database::open(path.string());
        const jet::TableEntry* t = db->findTable("Table1");
        tdef = t->definition->tdefPage.value;
        catalogRow = t->catalog.location;
    }
    auto damaged = jet_test::readBytes(path);
    std::fill(damaged.begin() + catalogRow.page.value * 4096, damaged.begin() + (catalogRow.page.value + 1) * 4096, 0);
    jet_test::writeBytes(path, damaged);

    const jet::RepairReport report = jet::repairDatabase(path.string());
    const std::string name = "Tabela_Recuperada_" + std::to_string(tdef);
    EXPECT_TRUE(std::any_of(report.items.begin(), report.items.end(), [&](const jet::RepairItem& i) {
        return i.kind == jet::RepairItem::Kind::TableRenamed && i.table == name;
    }));
    EXPECT_FALSE(jet::checkDatabase(path.string()).hasDamage());
    EXPECT_EQ(userRows(path, name), expected);
    auto db = jet::Database::open(path.string());
    for (const char* system : {"MSysObjects", "MSysACEs", "MSysQueries", "MSysRelationships"})
        EXPECT_NE(db->findTable(system), nullptr) << system;
    // One log row per item, each naming its table.
    const std::vector<std::string> log = userRows(path, "MSysCompactError");
    EXPECT_EQ(log.size(), report.items.size());
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [&](const std::string& row) { return row.find(name) != std::string::npos; }));
}

}  // namespace

namespace {

// A shared user's slot on page 0 left marked (as a write cut short leaves it) is
// cleared in a file the repair writes anew; the slots sound files vary in stay.
TEST(RepairSalvage, AUserSlotLeftMarkedOnPageZeroIsClearedInTheRewrittenFile) {
    jet_test::TempFolder folder;
    const auto path = copyOf(folder, "jet4/indexTestV2000.mdb");
    std::uint32_t dataPage = 0;
    {
        auto db = jet::Database::open(path.string());
        const jet::TableEntry* t = db->findTable("Table1");
        dataPage = jet::UsageMap::read(db->file(), db->layout(), t->definition->ownedPagesMap).pages().at(0).value;
    }
    auto damaged = jet_test::readBytes(path);
    const std::size_t slots = 4096 - 512;
    const std::vector<std::uint8_t> first(damaged.begin() + slots, damaged.begin() + slots + 4);
    damaged[slots + 2 * 7] = 0xFF;  // slot 7
    std::fill(damaged.begin() + dataPage * 4096, damaged.begin() + (dataPage + 1) * 4096, 0);
    jet_test::writeBytes(path, damaged);
    jet::repairDatabase(path.string());
    const auto repaired = jet_test::readBytes(path);
    EXPECT_EQ(repaired[slots + 14], 0x00);
    EXPECT_EQ(repaired[slots + 15], 0x01);
    EXPECT_EQ(std::vector<std::uint8_t>(repaired.begin() + slots, repaired.begin() + slots + 4), first);
}

}  // namespace

namespace {

// The definition of a core system table lost (MSysACEs, page 3, zeroed): the table
// comes back empty with the columns every file has, its rows reported lost, in
// each format.
TEST(RepairSalvage, ACoreSystemTableWhoseDefinitionIsLostComesBackEmpty) {
    for (const char* name : {"jet3/test2V1997.mdb", "jet4/test2V2000.mdb", "ace14/testV2010.accdb"}) {
        SCOPED_TRACE(name);
        jet_test::TempFolder folder;
        const auto path = copyOf(folder, name);
        auto damaged = jet_test::readBytes(path);
        const std::size_t ps = pageSizeOf(damaged);
        std::fill(damaged.begin() + 3 * ps, damaged.begin() + 4 * ps, 0);
        jet_test::writeBytes(path, damaged);
        const jet::RepairReport report = jet::repairDatabase(path.string());
        ASSERT_FALSE(report.items.empty());
        EXPECT_EQ(report.items[0].kind, jet::RepairItem::Kind::TableLost);
        EXPECT_EQ(report.items[0].table, "MSysACEs");
        EXPECT_GT(report.items[0].count, 0u);
        EXPECT_FALSE(jet::checkDatabase(path.string()).hasDamage());
        auto db = jet::Database::open(path.string());
        const jet::TableEntry* aces = db->findTable("MSysACEs");
        ASSERT_TRUE(aces && aces->definition);
        EXPECT_EQ(aces->definition->tdefPage.value, 3u);
        EXPECT_NE(aces->definition->findColumn("FInheritable"), nullptr);
        EXPECT_TRUE(userRows(path, "MSysACEs").empty());
    }
}

}  // namespace
