#include "jet/table/chain_visits.h"

#include <gtest/gtest.h>

namespace {

using jet::ChainVisits;
using jet::PageNumber;
using jet::RowPointer;

RowPointer rowAt(std::uint32_t i) { return RowPointer(PageNumber(100 + i / 3), static_cast<std::uint8_t>(i % 3)); }

TEST(ChainVisits, ACycleIsFoundWhereverTheChainComesBack) {
    // Short chains stay in the list, long ones move to the set: a return to any
    // earlier row must be seen on both sides of that switch.
    for (std::uint32_t length : {1u, 2u, 31u, 32u, 33u, 500u}) {
        for (std::uint32_t back : {0u, length / 2, length - 1}) {
            ChainVisits visits;
            for (std::uint32_t i = 0; i < length; ++i) ASSERT_TRUE(visits.firstVisit(rowAt(i))) << length << " " << i;
            EXPECT_FALSE(visits.firstVisit(rowAt(back))) << "chain of " << length << " back to " << back;
        }
    }
}

TEST(ChainVisits, ClearForgetsTheWalkBeforeAfterALongOne) {
    ChainVisits visits;
    for (std::uint32_t i = 0; i < 200; ++i) ASSERT_TRUE(visits.firstVisit(rowAt(i)));
    visits.clear();
    for (std::uint32_t i = 0; i < 5; ++i) EXPECT_TRUE(visits.firstVisit(rowAt(i))) << i;
    EXPECT_FALSE(visits.firstVisit(rowAt(3)));
    EXPECT_TRUE(visits.firstVisit(rowAt(150)));  // from the earlier walk, not this one
}

}  // namespace
