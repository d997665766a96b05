#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "jet/format/page_number.h"

namespace jet {

// Finds a row by its slot in a list of rows sorted by slot: where each page's
// rows begin is kept, so a lookup scans the few rows of one page instead of
// searching the whole list (which, for a large table and every index entry,
// costs a cache miss per step). `slotOf(rows[i])` gives a row's slot.
class RowSlotIndex {
public:
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

    template <class Rows, class SlotOf>
    RowSlotIndex(const Rows& rows, SlotOf slotOf) {
        if (rows.empty()) return;
        firstPage_ = slotOf(rows.front()).page.value;
        const std::size_t span = std::size_t{slotOf(rows.back()).page.value} - firstPage_ + 1;
        pageStart_.resize(span + 1);
        std::size_t r = 0;
        for (std::size_t i = 0; i <= span; ++i) {
            while (r < rows.size() && slotOf(rows[r]).page.value < firstPage_ + i) ++r;
            pageStart_[i] = static_cast<std::uint32_t>(r);
        }
    }

    // The position of the row at `slot` in `rows` (the list it was built from), or
    // kNone when no row has it.
    template <class Rows, class SlotOf>
    std::uint32_t find(const Rows& rows, SlotOf slotOf, RowPointer slot) const {
        if (slot.page.value < firstPage_) return kNone;
        const std::size_t i = std::size_t{slot.page.value} - firstPage_;
        if (i + 1 >= pageStart_.size()) return kNone;
        for (std::uint32_t r = pageStart_[i]; r < pageStart_[i + 1]; ++r)
            if (slotOf(rows[r]).row == slot.row) return r;
        return kNone;
    }

    // Hints for a loop that finds many rows in random order (an index whose key
    // is not the rows' order): the memory a later find will read, touched ahead so
    // it is in cache by then. Neither reads `rows`.
    void prefetchPage(RowPointer slot) const {
        if (const std::uint32_t* at = startOf(slot)) __builtin_prefetch(at);
    }
    // The position of the first row of `slot`'s page, or kNone.
    std::uint32_t firstOfPage(RowPointer slot) const {
        const std::uint32_t* at = startOf(slot);
        return at ? *at : kNone;
    }

private:
    const std::uint32_t* startOf(RowPointer slot) const {
        if (slot.page.value < firstPage_) return nullptr;
        const std::size_t i = std::size_t{slot.page.value} - firstPage_;
        return i + 1 < pageStart_.size() ? &pageStart_[i] : nullptr;
    }

    std::uint32_t firstPage_ = 0;
    std::vector<std::uint32_t> pageStart_;  // first row of each page from firstPage_, then the end
};

}  // namespace jet
