#include "jet/check/check_page_claims.h"

namespace jet {

PageClaims::PageClaims(std::uint32_t pageCount) : owners_(pageCount, kNone) {}

std::uint32_t PageClaims::addClaimant(std::string description) {
    claimants_.push_back(std::move(description));
    return static_cast<std::uint32_t>(claimants_.size() - 1);
}

PageClaims::Result PageClaims::claim(PageNumber page, std::uint32_t claimant) {
    if (page.value >= owners_.size()) return Result::OutOfRange;
    std::uint32_t& owner = owners_[page.value];
    if (owner == kNone) {
        owner = claimant;
        return Result::Claimed;
    }
    return owner == claimant ? Result::AlreadyMine : Result::ClaimedByOther;
}

std::optional<std::uint32_t> PageClaims::owner(PageNumber page) const {
    if (page.value >= owners_.size() || owners_[page.value] == kNone) return std::nullopt;
    return owners_[page.value];
}

}  // namespace jet
