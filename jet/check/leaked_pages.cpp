#include "jet/check/leaked_pages.h"

#include <cstring>
#include <vector>

#include "jet/format/jet_error.h"

namespace jet {

void seeLeakedPage(LeakedPage& leaked, std::span<const std::uint8_t> bytes) {
    // All zero: its first byte is, and every byte equals the one before it.
    const bool zero =
        !bytes.empty() && bytes[0] == 0 && std::memcmp(bytes.data(), bytes.data() + 1, bytes.size() - 1) == 0;
    leaked.seen = zero ? LeakedPage::Seen::Zero : LeakedPage::Seen::Used;
    leaked.type = bytes.empty() ? 0 : bytes[0];
    // The owner field of a data page, at the same place in every version.
    if (bytes.size() >= 8)
        leaked.dataOwner = std::uint32_t{bytes[4]} | std::uint32_t{bytes[5]} << 8 | std::uint32_t{bytes[6]} << 16 |
                           std::uint32_t{bytes[7]} << 24;
}

void readLeakedPages(PageFile& file, std::span<LeakedPage> leaked) {
    std::vector<std::uint32_t> numbers;
    numbers.reserve(leaked.size());
    for (const LeakedPage& l : leaked) numbers.push_back(l.page);
    std::size_t next = 0;
    try {
        file.forEachPage(numbers, [&](const PageBuffer& page) {
            while (next < leaked.size() && leaked[next].page != page.number.value) ++next;
            if (next < leaked.size()) seeLeakedPage(leaked[next], page.bytes);
        });
    } catch (const JetError&) {
        // The pages not read are read again, one by one, where their findings go.
    }
}

}  // namespace jet
