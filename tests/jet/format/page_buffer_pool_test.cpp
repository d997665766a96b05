#include "jet/format/page_buffer_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <thread>
#include <vector>

namespace jet {
namespace {

TEST(PageBufferPool, BuffersFitTheirPagesDoNotOverlapAndAreReused) {
    constexpr std::size_t kPage = 2048;
    PageBufferPool pool(kPage);
    std::vector<PageBufferPool::Buffer> taken;
    // Sizes in an order that leaves rests of chunks behind.
    for (int round = 0; round < 40; ++round)
        for (std::uint32_t pages : {1u, 32u, 3u, 17u, 2u, 8u, 5u}) {
            const PageBufferPool::Buffer b = pool.take(pages);
            ASSERT_GE(pool.bytesOf(b), pages * kPage);
            std::memset(b.data, static_cast<int>(taken.size() & 0xFF), pool.bytesOf(b));
            taken.push_back(b);
        }
    // Every buffer still holds what was written to it: none overlaps another.
    for (std::size_t i = 0; i < taken.size(); ++i) {
        const auto* d = taken[i].data;
        ASSERT_TRUE(std::all_of(d, d + pool.bytesOf(taken[i]), [&](std::uint8_t x) { return x == (i & 0xFF); }))
            << i;
    }
    const PageBufferPool::Buffer given = taken[3];
    pool.give(given);
    const PageBufferPool::Buffer again = pool.take(17);  // the same size class comes back
    EXPECT_EQ(again.data, given.data);
    EXPECT_THROW(pool.take(33), std::bad_alloc);
    for (const auto& b : taken)
        if (b.data != given.data) pool.give(b);
    pool.give(again);
}

TEST(PageBufferPool, BuffersMayComeBackFromOtherThreads) {
    PageBufferPool pool(4096);
    std::vector<PageBufferPool::Buffer> taken;
    for (int i = 0; i < 200; ++i) taken.push_back(pool.take(1 + i % 32));
    std::thread a([&] {
        for (std::size_t i = 0; i < taken.size(); i += 2) pool.give(taken[i]);
    });
    std::thread b([&] {
        for (std::size_t i = 1; i < taken.size(); i += 2) pool.give(taken[i]);
    });
    a.join();
    b.join();
    std::vector<std::uint8_t*> again;
    for (int i = 0; i < 200; ++i) again.push_back(pool.take(1 + i % 32).data);
    std::sort(again.begin(), again.end());
    EXPECT_EQ(std::adjacent_find(again.begin(), again.end()), again.end());  // no buffer handed out twice
}

}  // namespace
}  // namespace jet
