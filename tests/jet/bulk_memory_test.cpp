#include "jet/bulk_memory.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace jet {
namespace {

TEST(BulkMemory, LargeArraysStartOnHugePageBoundariesAndKeepTheirContentsAsTheyGrow) {
    BulkVector<std::uint32_t> v;
    for (std::uint32_t i = 0; i < (3u << 20); ++i) {
        v.push_back(i * 2654435761u);
        if (v.capacity() * sizeof(std::uint32_t) >= kBulkThreshold)
            ASSERT_EQ(reinterpret_cast<std::uintptr_t>(v.data()) % (std::uintptr_t{2} << 20), 0u) << v.capacity();
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

TEST(BulkMemory, ImpossibleSizesThrowBadAlloc) {
    BulkAllocator<std::uint64_t> a;
    EXPECT_THROW(a.allocate(static_cast<std::size_t>(-1) / 4), std::bad_array_new_length);
    EXPECT_THROW(allocateBulk(static_cast<std::size_t>(-1) - 100), std::bad_alloc);
    EXPECT_THROW(allocateBulk(std::size_t{1} << 60), std::bad_alloc);
}

}  // namespace
}  // namespace jet
