#include "jet/format/bulk_memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>

namespace jet {
namespace {

TEST(BulkMemory, LargeArraysStartOnHugePageBoundariesAndKeepTheirContentsAsTheyGrow) {
    BulkVector<std::uint32_t> v;
    for (std::uint32_t i = 0; i < (3u << 20); ++i) {
        v.push_back(i * 2654435761u);
        if (v.capacity() * sizeof(std::uint32_t) >= kBulkThreshold) {
            ASSERT_EQ(reinterpret_cast<std::uintptr_t>(v.data()) % (std::uintptr_t{2} << 20), 0u) << v.capacity();
        }
    }
    for (std::uint32_t i = 0; i < v.size(); ++i) ASSERT_EQ(v[i], i * 2654435761u) << i;
    // Small ones come from the heap and mix freely with the large ones.
    ByteArena small(100, 7);
    ByteArena large(kBulkThreshold + 1, 9);
    std::swap(small, large);
    EXPECT_EQ(small.size(), kBulkThreshold + 1);
    EXPECT_EQ(large.size(), 100u);
    EXPECT_EQ(small.back(), 9);
    EXPECT_EQ(large.back(), 7);
}

TEST(BulkMemory, ReleasedBlocksServeTheNextArrayOfTheirSizeFromAnyThread) {
    // Sizes just under a class's room share its blocks; the memory is whole.
    for (const std::size_t bytes : {kRecycledFrom + 1000, std::size_t{250} << 10, kBulkThreshold + 12345,
                                    std::size_t{5} << 20}) {
        void* first = allocateBulk(bytes);
        std::memset(first, 0xA5, bytes);
        std::thread([&] { releaseBulk(first, bytes); }).join();
        void* again = allocateBulk(bytes - 8);
        EXPECT_EQ(again, first) << bytes;
        std::memset(again, 0x5A, bytes - 8);
        void* other = allocateBulk(bytes - 8);  // the kept one is taken: a new block
        EXPECT_NE(other, again) << bytes;
        releaseBulk(other, bytes - 8);
        releaseBulk(again, bytes - 8);
    }
    // A vector of 24-byte elements that doubles its room keeps its contents.
    struct Entry {
        std::uint64_t a, b, c;
    };
    BulkVector<Entry> entries;
    for (std::uint64_t i = 0; i < 200000; ++i) entries.push_back({i, ~i, i * 3});
    for (std::uint64_t i = 0; i < entries.size(); ++i) ASSERT_TRUE(entries[i].b == ~i && entries[i].c == i * 3) << i;
}

TEST(BulkMemory, ImpossibleSizesThrowBadAlloc) {
    BulkAllocator<std::uint64_t> a;
    EXPECT_THROW(a.allocate(static_cast<std::size_t>(-1) / 4), std::bad_array_new_length);
    EXPECT_THROW(allocateBulk(static_cast<std::size_t>(-1) - 100), std::bad_alloc);
    EXPECT_THROW(allocateBulk(std::size_t{1} << 60), std::bad_alloc);
}

}  // namespace
}  // namespace jet
