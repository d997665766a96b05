// Rows checked on two threads must report exactly what one thread reading every
// page in turn reports: the same findings in the same order, the same counts, the
// same cut-off summaries, whatever lies on which side of the split.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "corpus_files.h"
#include "jet/byte_order.h"
#include "jet/checker.h"
#include "jet/data_page.h"
#include "jet/database.h"
#include "jet/usage_map.h"
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

}  // namespace
}  // namespace jet
