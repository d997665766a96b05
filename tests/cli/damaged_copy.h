#pragma once

// Damage done to copies of corpus files, the way a disk or a crash does it.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace testing_support {

inline std::uint32_t le32(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24;
}

// The first data page of the busiest table other than MSysObjects, 0 when there is
// none. Data pages are found by their own header (type 1, owner at offset 4, which
// must be a table definition page, type 2: long-value pages carry "LVAL" there).
inline std::size_t aDataPageOfTheBusiestTable(const std::string& bytes, std::size_t pageSize) {
    std::map<std::uint32_t, std::vector<std::size_t>> pagesByOwner;
    for (std::size_t page = 1; (page + 1) * pageSize <= bytes.size(); ++page) {
        const std::size_t at = page * pageSize;
        if (bytes[at] != 0x01 || bytes[at + 1] != 0x01) continue;
        const std::uint32_t owner = le32(bytes, at + 4);
        if (owner == 2 || (std::size_t{owner} + 1) * pageSize > bytes.size()) continue;
        if (bytes[owner * pageSize] == 0x02) pagesByOwner[owner].push_back(page);
    }
    const std::vector<std::size_t>* busiest = nullptr;
    for (const auto& [owner, pages] : pagesByOwner)
        if (!busiest || pages.size() > busiest->size()) busiest = &pages;
    return busiest ? busiest->front() : 0;
}

inline std::string withPageZeroed(std::string bytes, std::size_t page, std::size_t pageSize) {
    bytes.replace(page * pageSize, pageSize, pageSize, '\0');
    return bytes;
}

// The copy with one data page of its busiest table zeroed: the table's usage map
// still claims the page and its index entries point into it.
inline std::string withADataPageZeroed(std::string bytes, std::size_t pageSize) {
    const std::size_t victim = aDataPageOfTheBusiestTable(bytes, pageSize);
    if (victim != 0) bytes.replace(victim * pageSize, pageSize, pageSize, '\0');
    return bytes;
}

}  // namespace testing_support
