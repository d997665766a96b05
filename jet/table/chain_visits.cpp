#include "jet/table/chain_visits.h"

#include <algorithm>

namespace jet {

void ChainVisits::clear() {
    listed_.clear();
    // Dropped rather than cleared: clearing walks every bucket a long chain left,
    // which would cost that much again for each short chain after it.
    if (!many_.empty()) many_ = std::unordered_set<RowPointer>();
}

bool ChainVisits::firstVisit(RowPointer row) {
    if (many_.empty()) {
        if (std::find(listed_.begin(), listed_.end(), row) != listed_.end()) return false;
        if (listed_.size() < kListed) {
            listed_.push_back(row);
            return true;
        }
        many_.insert(listed_.begin(), listed_.end());
    }
    return many_.insert(row).second;
}

}  // namespace jet
