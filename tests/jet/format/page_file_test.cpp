#include "jet/format/page_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <numeric>
#include <random>
#include <vector>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "jet/format/jet_error.h"
#include "jet/format/rc4.h"
#include "temp_copy.h"

namespace {

using jet::PageFile;
using jet::PageNumber;
using jet::PageRef;

constexpr std::size_t kPageSize = 4096;

// A file of `pages` pages whose every byte tells its page and position, so a page
// served from the wrong place or a stale buffer cannot go unnoticed.
std::vector<std::uint8_t> patternedPages(std::uint32_t pages) {
    std::vector<std::uint8_t> bytes(std::size_t{pages} * kPageSize);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>((i / kPageSize) * 31 + (i % kPageSize) * 7);
    return bytes;
}

std::vector<std::uint8_t> pageOf(const std::vector<std::uint8_t>& file, std::uint32_t n) {
    const auto first = file.begin() + static_cast<std::ptrdiff_t>(std::size_t{n} * kPageSize);
    return std::vector<std::uint8_t>(first, first + static_cast<std::ptrdiff_t>(kPageSize));
}

std::vector<std::uint8_t> bytesOf(const PageRef& p) { return std::vector<std::uint8_t>(p->bytes.begin(), p->bytes.end()); }

class PageFileReads : public ::testing::Test {
protected:
    static constexpr std::uint32_t kPages = 3000;  // several times the cache
    jet_test::TempFolder folder;
    std::filesystem::path path = folder.path() / "pages.mdb";
    std::vector<std::uint8_t> content = patternedPages(kPages);

    void SetUp() override { jet_test::writeBytes(path, content); }

    void expectEveryPageInOrder(PageFile& file, const std::vector<std::uint32_t>& order) {
        for (std::uint32_t n : order) {
            const PageRef p = file.page(PageNumber(n));
            ASSERT_EQ(p->number, PageNumber(n));
            ASSERT_EQ(bytesOf(p), pageOf(content, n)) << "page " << n;
        }
    }
};

TEST_F(PageFileReads, ForwardBackwardStridedAndRandomOrdersServeTheRightBytes) {
    std::vector<std::uint32_t> forward(kPages);
    std::iota(forward.begin(), forward.end(), 0u);
    std::vector<std::uint32_t> backward(forward.rbegin(), forward.rend());
    std::vector<std::uint32_t> strided;  // two interleaved forward streams far apart, as a table and its long values
    for (std::uint32_t i = 0; i < kPages / 2; ++i) {
        strided.push_back(i);
        strided.push_back(kPages / 2 + i);
    }
    std::vector<std::uint32_t> shuffled = forward;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
    for (const auto* order : {&forward, &backward, &strided, &shuffled}) {
        PageFile file(path.string());
        file.configure(kPageSize, 0);
        expectEveryPageInOrder(file, *order);
        expectEveryPageInOrder(file, *order);  // again, partly from the cache
    }
}

TEST_F(PageFileReads, PagesHeldByTheCallerOutliveTheirEvictionUnchanged) {
    PageFile file(path.string());
    file.configure(kPageSize, 0);
    std::vector<std::pair<std::uint32_t, PageRef>> held;
    for (std::uint32_t n = 0; n < kPages; n += 97) held.emplace_back(n, file.page(PageNumber(n)));
    // Enough further reads to cycle the cache many times and reuse freed buffers of
    // every size: scattered single pages, then forward runs.
    std::vector<std::uint32_t> shuffled(kPages);
    std::iota(shuffled.begin(), shuffled.end(), 0u);
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(11));
    for (std::uint32_t n : shuffled) file.page(PageNumber(n));
    for (int round = 0; round < 2; ++round)
        for (std::uint32_t n = 0; n < kPages; ++n) file.page(PageNumber(n));
    for (const auto& [n, p] : held) {
        EXPECT_EQ(p->number, PageNumber(n));
        EXPECT_EQ(bytesOf(p), pageOf(content, n)) << n;
    }
}

TEST_F(PageFileReads, PagesOutliveAReconfigurationAndTheFileItself) {
    std::vector<std::pair<std::uint32_t, PageRef>> held;
    {
        PageFile file(path.string());
        file.configure(kPageSize, 0);
        for (std::uint32_t n = 5; n < 300; n += 41) held.emplace_back(n, file.page(PageNumber(n)));
        file.configure(kPageSize, 0);  // a new buffer pool; the old one lives on with these pages
        expectEveryPageInOrder(file, {5, 6, 7, 8, 9, 10});
        for (std::uint32_t n = 1000; n < 1100; n += 13) held.emplace_back(n, file.page(PageNumber(n)));
    }
    for (const auto& [n, p] : held) {
        EXPECT_EQ(p->number, PageNumber(n));
        EXPECT_EQ(bytesOf(p), pageOf(content, n)) << n;
    }
}

TEST_F(PageFileReads, PagesPastTheEndAndAFileThatShrankGiveCorruptionNotCrashes) {
    PageFile file(path.string());
    file.configure(kPageSize, 0);
    EXPECT_THROW(file.page(PageNumber(kPages)), jet::JetError);
    EXPECT_THROW(file.page(PageNumber(0xFFFFFFFFu)), jet::JetError);

    // Another program cuts the file after it was opened: pages still there read,
    // the ones gone are a clean error, and a run that would span the cut stops at it.
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(100 * kPageSize + 10)), 0);
    for (std::uint32_t n = 0; n < 100; ++n) ASSERT_EQ(bytesOf(file.page(PageNumber(n))), pageOf(content, n));
    try {
        file.page(PageNumber(100));
        FAIL() << "a page cut off must not be served";
    } catch (const jet::JetError& e) {
        EXPECT_EQ(e.kind(), jet::ErrorKind::Corruption);
        EXPECT_EQ(e.location().page, 100u);
    }
    EXPECT_THROW(file.page(PageNumber(2500)), jet::JetError);
}

TEST_F(PageFileReads, SweepVisitsEachAskedPageOnceWithItsBytesAndStopsAtTheEnd) {
    PageFile file(path.string());
    file.configure(kPageSize, 0);
    // Runs longer than one read, single pages, gaps, and pages past the end.
    std::vector<std::uint32_t> wanted;
    for (std::uint32_t n = 5; n < 80; ++n) wanted.push_back(n);
    for (std::uint32_t n : {100u, 102u, 103u, 999u, kPages - 1}) wanted.push_back(n);
    const std::vector<std::uint32_t> pastEnd = {kPages, kPages + 1, 0xFFFFFFFFu};
    std::vector<std::uint32_t> asked = wanted;
    asked.insert(asked.end(), pastEnd.begin(), pastEnd.end());
    std::vector<std::uint32_t> visited;
    file.forEachPage(asked, [&](const jet::PageBuffer& p) {
        visited.push_back(p.number.value);
        EXPECT_EQ(std::vector<std::uint8_t>(p.bytes.begin(), p.bytes.end()), pageOf(content, p.number.value))
            << p.number.value;
    });
    EXPECT_EQ(visited, wanted);
}

TEST_F(PageFileReads, PlannedPagesReadInClustersAmongOtherReadsServeTheRightBytes) {
    // Clusters of pages with gaps between them (as a table's data pages lie), given
    // out of order and with repeats; unplanned pages are asked for in between, as
    // moved rows and long values are while rows are read.
    std::vector<std::uint32_t> planned;
    for (std::uint32_t c = 0; c < 40; ++c)
        for (std::uint32_t k = 0; k < 24; ++k)
            if (k % 5 != 3) planned.push_back(100 + c * 57 + k);
    std::vector<std::uint32_t> given = planned;
    std::mt19937 random(7);
    std::shuffle(given.begin(), given.end(), random);
    given.push_back(planned.front());
    given.push_back(kPages + 3);  // past the end: never read
    for (const bool encodedFile : {false, true}) {
        constexpr std::uint32_t kKey = 0x1234ABCDu;
        if (encodedFile) {
            std::vector<std::uint8_t> encoded = content;
            for (std::uint32_t n = 1; n < kPages; ++n)
                jet::rc4Apply(kKey ^ n,
                              std::span<std::uint8_t>(encoded.data() + std::size_t{n} * kPageSize, kPageSize));
            jet_test::writeBytes(path, encoded);
        }
        PageFile file(path.string(), 64);
        file.configure(kPageSize, encodedFile ? kKey : 0);
        file.plan(given);
        std::vector<std::uint32_t> order;
        for (std::size_t i = 0; i < planned.size(); ++i) {
            order.push_back(planned[i]);
            if (i % 7 == 0) order.push_back(static_cast<std::uint32_t>(random() % kPages));
            if (i % 11 == 0) order.push_back(planned[i] + 1);  // a gap page, read with its cluster
        }
        expectEveryPageInOrder(file, order);
        // Planned pages asked for again, after their runs left the cache, and a new
        // plan replacing the old one.
        expectEveryPageInOrder(file, {planned[3], planned[2], planned[1]});
        file.plan({2900, 2901, 2950, 2999});
        expectEveryPageInOrder(file, {2999, 2900, 2950, 2901});
        file.plan({});
        expectEveryPageInOrder(file, {planned.back(), 5});
    }
    jet_test::writeBytes(path, content);
}

TEST_F(PageFileReads, APlannedClusterCutByTheFileShrinkingStopsAtTheCut) {
    PageFile file(path.string());
    file.configure(kPageSize, 0);
    file.plan({90, 92, 95, 99, 101, 103, 110});
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(100 * kPageSize)), 0);
    expectEveryPageInOrder(file, {90, 92, 95, 99});
    EXPECT_THROW(file.page(PageNumber(101)), jet::JetError);
    EXPECT_THROW(file.page(PageNumber(110)), jet::JetError);
}

TEST_F(PageFileReads, EncodedPagesAreDecodedOneByOneWithinARun) {
    // Jet3/Jet4 encoding: every page but page 0 is RC4 with (database key XOR page).
    constexpr std::uint32_t kKey = 0x6B39DAC7u;
    std::vector<std::uint8_t> encoded = content;
    for (std::uint32_t n = 1; n < kPages; ++n)
        jet::rc4Apply(kKey ^ n, std::span<std::uint8_t>(encoded.data() + std::size_t{n} * kPageSize, kPageSize));
    jet_test::writeBytes(path, encoded);
    PageFile file(path.string());
    file.configure(kPageSize, kKey);
    for (std::uint32_t n = 0; n < 200; ++n) ASSERT_EQ(bytesOf(file.page(PageNumber(n))), pageOf(content, n)) << n;
    std::vector<std::uint32_t> sweep(300);
    std::iota(sweep.begin(), sweep.end(), 0u);
    file.forEachPage(sweep, [&](const jet::PageBuffer& p) {
        EXPECT_EQ(std::vector<std::uint8_t>(p.bytes.begin(), p.bytes.end()), pageOf(content, p.number.value))
            << p.number.value;
    });
}

// Opens `path` in a child, which exits 0 when the open is refused with a message
// naming the path and `kind`; a child still waiting after a generous bound is
// killed, which fails the test instead of hanging it.
int exitOfRefusedOpen(const std::string& path, const std::string& kind) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        try {
            PageFile file(path);
        } catch (const jet::JetError& e) {
            const std::string message = e.what();
            ::_exit(message.find(path) != std::string::npos && message.find(kind) != std::string::npos ? 0 : 2);
        }
        ::_exit(1);
    }
    int status = 0;
    for (int waited = 0; waited < 300; ++waited) {
        if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        ::usleep(100 * 1000);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -2;  // still waiting on the open
}

TEST(PageFileOpen, ANamedPipeIsRefusedAtOnceWithoutWaitingForAWriter) {
    jet_test::TempFolder folder;
    const std::string fifo = (folder.path() / "x.mdb").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(exitOfRefusedOpen(fifo, "pipe nomeado"), 0);
}

TEST(PageFileOpen, AFolderIsRefusedAsAFolder) {
    jet_test::TempFolder folder;
    EXPECT_EQ(exitOfRefusedOpen(folder.path().string(), "pasta"), 0);
}

TEST(PageFileOpen, ARegularFileReadsAsBeforeAfterTheNonBlockingOpen) {
    jet_test::TempFolder folder;
    const auto path = folder.path() / "pequeno.mdb";
    const std::vector<std::uint8_t> content = patternedPages(2);
    jet_test::writeBytes(path, content);
    PageFile file(path.string());
    file.configure(kPageSize, 0);
    EXPECT_EQ(file.fileSize(), content.size());
    EXPECT_EQ(bytesOf(file.page(PageNumber(1))), pageOf(content, 1));
}

TEST(PageFileOwnedPage, MadePageKeepsItsBytes) {
    std::vector<std::uint8_t> bytes(kPageSize, 0x5A);
    const PageRef page = jet::makePage(PageNumber(12), bytes);
    bytes.assign(kPageSize, 0);
    EXPECT_EQ(page->number, PageNumber(12));
    EXPECT_EQ(page->bytes.size(), kPageSize);
    EXPECT_TRUE(std::all_of(page->bytes.begin(), page->bytes.end(), [](std::uint8_t b) { return b == 0x5A; }));
}

}  // namespace
