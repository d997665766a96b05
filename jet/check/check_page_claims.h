#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "jet/format/page_number.h"

namespace jet {

// Which structure uses each page of the file. Every page in use must be claimed by
// exactly one structure; the checker compares the result with the global free map.
class PageClaims {
public:
    enum class Result : std::uint8_t { Claimed, AlreadyMine, ClaimedByOther, OutOfRange };

    explicit PageClaims(std::uint32_t pageCount);

    // A structure that uses pages, described in Portuguese ("tabela Clientes", ...).
    std::uint32_t addClaimant(std::string description);
    const std::string& describe(std::uint32_t claimant) const { return claimants_.at(claimant); }

    Result claim(PageNumber page, std::uint32_t claimant);
    std::optional<std::uint32_t> owner(PageNumber page) const;
    std::uint32_t pageCount() const { return static_cast<std::uint32_t>(owners_.size()); }

private:
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;
    std::vector<std::uint32_t> owners_;
    std::vector<std::string> claimants_;
};

}  // namespace jet
