// Usage maps and data pages written by the builders, read back through the reader
// from a real file: inline and reference maps, the global map's pages past the end.
#include <gtest/gtest.h>

#include <algorithm>

#include "compact_test_support.h"
#include "jet/compact/output_file.h"
#include "jet/format/page_file.h"
#include "jet/table/data_page.h"
#include "jet/table/data_page_builder.h"
#include "jet/table/usage_map.h"
#include "jet/table/usage_map_writer.h"

namespace {

using jet::PageNumber;

std::vector<PageNumber> pageRange(std::uint32_t first, std::uint32_t count, std::uint32_t step = 1) {
    std::vector<PageNumber> out;
    for (std::uint32_t i = 0; i < count; ++i) out.push_back(PageNumber(first + i * step));
    return out;
}

// Writes `rows` on page 1 of a file of `pages` pages (bitmap pages from page 2) and reads each map back.
std::vector<jet::UsageMap> roundTrip(const jet::FormatLayout& layout, const jet::UsageMapWriter& writer,
                                     const std::vector<jet::UsageMapContent>& maps, std::uint32_t pages) {
    jet_test::ScratchDir dir;
    const std::string path = dir.file("maps.mdb");
    {
        jet::OutputFile out(path, layout.pageSize, 0);
        jet::DataPageBuilder host(layout, 0);
        std::uint32_t next = 2;
        for (const auto& m : maps) {
            std::vector<PageNumber> bitmapPages;
            for (const auto& bitmap : writer.bitmapPageContents(m)) {
                out.writePage(PageNumber(next), bitmap);
                bitmapPages.push_back(PageNumber(next++));
            }
            const auto row = writer.encodeRow(m, bitmapPages);
            EXPECT_EQ(row.size(), writer.rowLength(m));
            host.add(row);
        }
        out.writePage(PageNumber(1), host.take());
        out.finish(pages);
        out.commit();
    }
    jet::PageFile file(path);
    file.configure(layout.pageSize, 0);
    std::vector<jet::UsageMap> read;
    for (std::size_t i = 0; i < maps.size(); ++i)
        read.push_back(jet::UsageMap::read(file, layout, jet::RowPointer(PageNumber(1), static_cast<std::uint8_t>(i))));
    return read;
}

TEST(UsageMapWriter, InlineAndReferenceMapsReadBack) {
    for (bool jet3 : {true, false}) {
        const auto layout = jet3 ? jet::FormatLayout::forJet3() : jet::FormatLayout::forJet4();
        const jet::UsageMapWriter writer(layout, 256);
        const std::uint32_t filePages = 5000;
        std::vector<jet::UsageMapContent> maps = {
            {pageRange(40, 30), 0},         // inline, start page 40
            {{}, 0},                        // empty
            {pageRange(3, 1000, 4), 0},     // too wide for 256 bytes: reference
        };
        EXPECT_TRUE(writer.isInline(maps[0]));
        EXPECT_FALSE(writer.isInline(maps[2]));
        const auto read = roundTrip(layout, writer, maps, filePages);
        ASSERT_EQ(read.size(), maps.size());
        EXPECT_EQ(read[0].kind(), jet::UsageMap::Kind::Inline);
        EXPECT_EQ(read[0].startPage() % 8, 0u);
        EXPECT_EQ(read[2].kind(), jet::UsageMap::Kind::Reference);
        for (std::size_t i = 0; i < maps.size(); ++i) EXPECT_EQ(read[i].pages(), maps[i].pages) << i;
    }
}

TEST(UsageMapWriter, GlobalMapMarksOnlyPagesPastTheEnd) {
    const auto layout = jet::FormatLayout::forJet4();
    const jet::UsageMapWriter writer(layout, 2000);
    const auto read = roundTrip(layout, writer, {{{}, 300}}, 300);
    EXPECT_TRUE(read[0].pages().empty());
    EXPECT_GT(read[0].beyondEnd(), 0u);
    EXPECT_EQ(read[0].startPage(), 0u);
}

TEST(DataPageBuilder, RowsReadBackWithExactFreeSpace) {
    for (bool jet3 : {true, false}) {
        const auto layout = jet3 ? jet::FormatLayout::forJet3() : jet::FormatLayout::forJet4();
        jet::DataPageBuilder builder(layout, 42);
        std::vector<std::vector<std::uint8_t>> rows;
        for (std::uint8_t i = 0; builder.fits(5u + i % 7); ++i) {
            rows.push_back(std::vector<std::uint8_t>(5 + i % 7, i));
            EXPECT_EQ(builder.add(rows.back()), rows.size() - 1);
        }
        EXPECT_LE(rows.size(), jet::DataPageBuilder::kMaxRows);
        const jet::PageRef page = jet::makePage(PageNumber(9), builder.take());
        EXPECT_TRUE(builder.empty());
        const jet::DataPage read(page, layout);
        EXPECT_EQ(read.owner(), 42u);
        ASSERT_EQ(read.rowCount(), rows.size());
        std::size_t used = 0;
        for (std::uint16_t r = 0; r < rows.size(); ++r) {
            const auto bytes = read.row(r);
            EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), rows[r]);
            used += rows[r].size();
        }
        EXPECT_EQ(read.freeSpace(), layout.pageSize - layout.dataRowTable - 2 * rows.size() - used);
    }
}

TEST(OutputFile, EncodedPagesDecodeThroughTheReaderAndUnfinishedFilesVanish) {
    jet_test::ScratchDir dir;
    const std::string path = dir.file("encoded.mdb");
    const auto layout = jet::FormatLayout::forJet4();
    std::vector<std::uint8_t> page(layout.pageSize, 0);
    page[0] = 0x01;
    page[100] = 0x5A;
    {
        jet::OutputFile out(path, layout.pageSize, 0x12345678);
        out.writePage(PageNumber(0), std::vector<std::uint8_t>(layout.pageSize, 0));
        out.writePage(PageNumber(3), page);
        out.finish(4);
        out.commit();
    }
    EXPECT_NE(jet_test::fileBytes(path)[3 * layout.pageSize + 100], 0x5A) << "page 3 must be stored encoded";
    jet::PageFile file(path);
    file.configure(layout.pageSize, 0x12345678);
    const auto read = file.page(PageNumber(3))->bytes;
    EXPECT_EQ(std::vector<std::uint8_t>(read.begin(), read.end()), page);

    const std::string lost = dir.file("lost.mdb");
    {
        jet::OutputFile out(lost, layout.pageSize, 0);
        out.writePage(PageNumber(0), page);
    }
    EXPECT_FALSE(std::filesystem::exists(lost));
    EXPECT_THROW(jet::OutputFile(path, layout.pageSize, 0), jet::JetError) << "an existing file is never replaced";
    EXPECT_TRUE(std::filesystem::exists(path));
}

TEST(OutputFile, PagesInAnyOrderLandWhereTheyBelongAndTheLastWriteWins) {
    jet_test::ScratchDir dir;
    const std::string path = dir.file("order.mdb");
    const std::size_t pageSize = jet::FormatLayout::forJet4().pageSize;
    // Ahead, behind and far past what the writer keeps in memory, holes, and a rewrite.
    const std::vector<std::uint32_t> order = {0, 5, 3, 2000, 1, 2001, 5, 4000, 2002, 7, 4001, 3};
    std::vector<std::uint8_t> expected(4002 * pageSize, 0);
    {
        jet::OutputFile out(path, pageSize, 0);
        std::uint8_t stamp = 1;
        for (std::uint32_t n : order) {
            std::vector<std::uint8_t> page(pageSize, stamp);
            page[0] = static_cast<std::uint8_t>(n);
            page[pageSize - 1] = static_cast<std::uint8_t>(n >> 8);
            std::copy(page.begin(), page.end(), expected.begin() + static_cast<std::ptrdiff_t>(n * pageSize));
            out.writePage(PageNumber(n), page);
            ++stamp;
        }
        out.finish(4002);
        out.commit();
    }
    EXPECT_TRUE(jet_test::fileBytes(path) == expected);
}

}  // namespace
