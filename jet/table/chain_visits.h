#pragma once

#include <cstddef>
#include <unordered_set>
#include <vector>

#include "jet/format/page_number.h"

namespace jet {

// The rows a walk along a chain of row pointers has reached, so that a chain
// coming back on itself ends as an error instead of a hang. Most chains are a
// few rows: they are searched in a short list; a long one moves to a set.
class ChainVisits {
public:
    // Forgets the previous walk (keeps the list's room).
    void clear();
    // False when the walk reached `row` before: the chain forms a cycle.
    bool firstVisit(RowPointer row);

private:
    static constexpr std::size_t kListed = 32;

    std::vector<RowPointer> listed_;
    std::unordered_set<RowPointer> many_;
};

}  // namespace jet
