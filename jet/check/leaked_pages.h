#pragma once

#include <cstdint>
#include <span>

#include "jet/format/page_file.h"

namespace jet {

// What the check's accounting needs of a page no structure uses: whether it is all
// zero, or else its type. Pages are read ahead of the accounting when they can be.
struct LeakedPage {
    enum class Seen : std::uint8_t { NotRead, Zero, Used };
    std::uint32_t page = 0;
    Seen seen = Seen::NotRead;
    std::uint8_t type = 0;
    std::uint32_t dataOwner = 0;  // a data page's owner field (a table, or long values)
};

// Notes in `leaked` what the bytes of its page tell.
void seeLeakedPage(LeakedPage& leaked, std::span<const std::uint8_t> bytes);

// Reads the pages of `leaked` (ascending) a cluster at a time and notes what each
// tells. A page that cannot be read stays NotRead, and so do the ones after it.
void readLeakedPages(PageFile& file, std::span<LeakedPage> leaked);

}  // namespace jet
