// Rows checked on two threads must report exactly what one thread reading every
// page in turn reports: the same findings in the same order, the same counts, the
// same cut-off summaries, whatever lies on which side of the split.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "corpus_files.h"
#include "jet/check/checker.h"
#include "jet/format/byte_order.h"
#include "jet/format/format_layout.h"
#include "jet/table/data_page.h"
#include "jet/table/database.h"
#include "jet/table/usage_map.h"
#include "temp_copy.h"

namespace jet {
namespace {

CheckOptions onOneThread() {
    CheckOptions o;
    o.readAhead = false;
    o.splitPagesFrom = 0;
    return o;
}

CheckOptions rowsSplit() {
    CheckOptions o;
    o.splitPagesFrom = 1;  // every table, however small
    return o;
}

std::vector<std::string> lines(const CheckReport& r) {
    std::vector<std::string> out;
    for (const Finding& f : r.findings) out.push_back(f.code + " " + f.describe());
    return out;
}

void expectSameReport(const CheckReport& a, const CheckReport& b) {
    EXPECT_EQ(lines(a), lines(b));
    EXPECT_EQ(a.rowsChecked, b.rowsChecked);
    EXPECT_EQ(a.indexesChecked, b.indexesChecked);
    EXPECT_EQ(a.liveRowsByTable, b.liveRowsByTable);
    EXPECT_EQ(a.leakedPages, b.leakedPages);
    EXPECT_EQ(a.freePages, b.freePages);
}

struct RowSlot {
    PageNumber page;
    std::uint16_t row = 0;
    std::size_t slotOffset = 0;  // in the file
    std::size_t rowOffset = 0;   // in the file
};

// The overflow (moved) rows of the table called `name`, in page order.
std::vector<RowSlot> movedRows(const std::string& path, const std::string& name) {
    auto db = Database::open(path);
    std::vector<RowSlot> out;
    for (const TableEntry& t : db->tables()) {
        if (!t.definition || t.name() != name) continue;
        const UsageMap owned = UsageMap::read(db->file(), db->layout(), t.definition->ownedPagesMap);
        for (PageNumber p : owned.pages()) {
            const DataPage page(db->file().page(p), db->layout());
            for (std::uint16_t r = 0; r < page.rowCount(); ++r) {
                if (!page.isOverflow(r) || page.isDeleted(r)) continue;
                const std::size_t base = std::size_t{p.value} * db->layout().pageSize;
                out.push_back({p, r, base + db->layout().dataRowTable + 2u * r,
                               base + (page.slot(r) & row_flag::OffsetMask)});
            }
        }
    }
    return out;
}

TEST(CheckRows, EveryCorpusFileReportsTheSameWithItsRowsSplit) {
    std::size_t files = 0;
    for (const auto& m : jet_test::readManifest()) {
        SCOPED_TRACE(m.file);
        const std::string path = jet_test::corpusFile(m.file);
        expectSameReport(checkDatabase(path, onOneThread()), checkDatabase(path, rowsSplit()));
        ++files;
    }
    EXPECT_EQ(files, 84u);
}

TEST(CheckRows, TwoRowsMovedToOnePlaceAcrossTheSplitAreReportedOnce) {
    const std::string original = jet_test::corpusFile("ace12/testV2007.accdb");
    std::string table;
    std::vector<RowSlot> moved;
    {
        auto db = Database::open(original);
        for (const TableEntry& t : db->tables()) {
            if (!t.definition) continue;
            auto rows = movedRows(original, t.name());
            if (rows.size() >= 2 && rows.front().page != rows.back().page) {
                table = t.name();
                moved = std::move(rows);
                break;
            }
        }
    }
    ASSERT_FALSE(table.empty()) << "no table with moved rows on two pages";
    jet_test::TempFolder folder;
    auto bytes = jet_test::readBytes(original);
    // The last moved row now points where the first one went.
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(moved.front().rowOffset), 4,
                bytes.begin() + static_cast<std::ptrdiff_t>(moved.back().rowOffset));
    const auto path = (folder.path() / "moved.accdb").string();
    jet_test::writeBytes(path, bytes);

    const CheckReport alone = checkDatabase(path, onOneThread());
    const CheckReport split = checkDatabase(path, rowsSplit());
    expectSameReport(alone, split);
    ASSERT_EQ(split.count("overflow_target_shared"), 1u);
    for (const Finding& f : split.findings) {
        if (f.code != "overflow_target_shared") continue;
        EXPECT_EQ(f.page, std::optional<std::uint32_t>(moved.back().page.value));
        EXPECT_EQ(f.row, std::optional<int>(moved.back().row));
        EXPECT_EQ(f.table, table);
    }
}

TEST(CheckRows, FindingsPastTheCapOfTheirKindAreCountedTheSame) {
    // Every data page of a table says it has more free room than it has: one
    // finding per page, far more than the cap keeps.
    const std::string original = jet_test::corpusFile("jet3/nwind.mdb");
    auto db = Database::open(original);
    const TableDefinition* biggest = nullptr;
    std::vector<PageNumber> pages;
    for (const TableEntry& t : db->tables()) {
        if (!t.definition) continue;
        const UsageMap owned = UsageMap::read(db->file(), db->layout(), t.definition->ownedPagesMap);
        if (owned.pages().size() > pages.size()) {
            pages = owned.pages();
            biggest = &*t.definition;
        }
    }
    ASSERT_NE(biggest, nullptr);
    ASSERT_GE(pages.size(), 6u);
    jet_test::TempFolder folder;
    auto bytes = jet_test::readBytes(original);
    for (PageNumber p : pages) {
        const std::size_t at = std::size_t{p.value} * db->layout().pageSize + 2;
        const std::uint16_t free = static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
        bytes[at] = static_cast<std::uint8_t>((free + 1) & 0xFF);
        bytes[at + 1] = static_cast<std::uint8_t>((free + 1) >> 8);
    }
    const auto path = (folder.path() / "free.mdb").string();
    jet_test::writeBytes(path, bytes);

    for (std::size_t cap : {0u, 1u, 2u, 5u}) {
        SCOPED_TRACE(cap);
        CheckOptions alone = onOneThread();
        CheckOptions split = rowsSplit();
        alone.maxFindingsPerKind = split.maxFindingsPerKind = cap;
        const CheckReport a = checkDatabase(path, alone);
        const CheckReport b = checkDatabase(path, split);
        expectSameReport(a, b);
        EXPECT_EQ(b.count("data_page_free_space"), std::min(cap, pages.size()) + 1) << "the kept ones and a summary";
    }
}

// Where a usage map's bit for `page` is in the file, if the map reaches it.
std::optional<std::pair<std::size_t, std::uint8_t>> mapBit(Database& db, RowPointer map, std::uint32_t page) {
    const std::size_t pageSize = db.layout().pageSize;
    const PageRef host = db.file().page(map.page);
    const DataPage hostPage(host, db.layout());
    const std::span<const std::uint8_t> row = hostPage.row(map.row);
    if (row.size() >= 5 && row[0] == 1) {
        // Reference map: pointers to bitmap pages, each of whose bits after its
        // first four bytes stands for one page.
        const std::size_t perBitmapPage = (pageSize - 4) * 8;
        const std::size_t j = page / perBitmapPage;
        if (1 + 4 * j + 4 > row.size()) return std::nullopt;
        const std::uint32_t bitmapPage = bytes::u32le(row, 1 + 4 * j);
        if (bitmapPage == 0) return std::nullopt;
        const std::size_t bit = page % perBitmapPage;
        return std::make_pair(std::size_t{bitmapPage} * pageSize + 4 + bit / 8, static_cast<std::uint8_t>(1u << (bit % 8)));
    }
    if (row.size() < 5 || row[0] != 0) return std::nullopt;
    const std::uint32_t start = bytes::u32le(row, 1);
    if (page < start || page - start >= (row.size() - 5) * 8) return std::nullopt;
    const std::size_t rowOffset = std::size_t{host->number.value} * pageSize +
                                  static_cast<std::size_t>(row.data() - host->bytes.data());
    return std::make_pair(rowOffset + 5 + (page - start) / 8, static_cast<std::uint8_t>(1u << ((page - start) % 8)));
}

TEST(CheckRows, FindingsCountedOnAPageNotTakenStillLetTheNextPageKeepItsOwn) {
    // A table checked earlier is made to claim one of the big table's later pages,
    // so the big table never takes it. That page and a later one both say they
    // have more free room than they have. With one finding of a kind kept, the one
    // kept must be the later page's, as on one thread: the second thread met the
    // page not taken first and kept only a count of the later one.
    // The first corpus file with such a pair of tables.
    std::string original;
    std::unique_ptr<Database> db;
    const TableDefinition* big = nullptr;
    std::uint32_t notTaken = 0;
    std::uint32_t later = 0;
    std::optional<std::pair<std::size_t, std::uint8_t>> bit;
    for (const auto& m : jet_test::readManifest()) {
        original = jet_test::corpusFile(m.file);
        db = Database::open(original);
        std::vector<RowPointer> earlierMaps = {db->catalogDefinition().ownedPagesMap};  // checked first
        for (const TableEntry& t : db->tables()) {
            if (!t.definition) continue;
            const UsageMap owned = UsageMap::read(db->file(), db->layout(), t.definition->ownedPagesMap);
            const auto& pages = owned.pages();
            if (pages.size() >= 3) {
                // Both among the pages the second thread scans (the later half).
                notTaken = pages[pages.size() / 2].value;
                later = pages.back().value;
                for (RowPointer map : earlierMaps)
                    if (!bit) bit = mapBit(*db, map, notTaken);
                if (bit) {
                    big = &*t.definition;
                    break;
                }
            }
            earlierMaps.push_back(t.definition->ownedPagesMap);
        }
        if (big) break;
    }
    ASSERT_NE(big, nullptr) << "no table whose later page an earlier table's map reaches";
    SCOPED_TRACE(original + ", table " + big->name);

    jet_test::TempFolder folder;
    auto bytes = jet_test::readBytes(original);
    bytes[bit->first] |= bit->second;
    for (std::uint32_t p : {notTaken, later}) {
        const std::size_t at = std::size_t{p} * db->layout().pageSize + 2;
        const std::uint16_t free = static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
        bytes[at] = static_cast<std::uint8_t>((free + 1) & 0xFF);
        bytes[at + 1] = static_cast<std::uint8_t>((free + 1) >> 8);
    }
    const auto path = (folder.path() / ("claimed" + std::filesystem::path(original).extension().string())).string();
    jet_test::writeBytes(path, bytes);

    CheckOptions alone = onOneThread();
    CheckOptions split = rowsSplit();
    alone.maxFindingsPerKind = split.maxFindingsPerKind = 1;
    const CheckReport a = checkDatabase(path, alone);
    const CheckReport b = checkDatabase(path, split);
    expectSameReport(a, b);
    EXPECT_GE(b.count("page_claimed_twice"), 1u);
    std::size_t kept = 0;
    for (const Finding& f : b.findings) {
        if (f.code != "data_page_free_space" || !f.page || f.table != big->name) continue;
        ++kept;
        EXPECT_EQ(*f.page, later);
    }
    EXPECT_EQ(kept, 1u);
}

}  // namespace
}  // namespace jet
