#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "jet/format/page_number.h"
#include "jet/index/index_page.h"

namespace jet {

// One entry to store: key bytes and the row they index. The key is a view: the
// caller keeps the bytes (usually one buffer for all keys of an index) while the
// builder runs, and sorting moves small entries instead of vectors.
struct IndexBuildEntry {
    std::span<const std::uint8_t> key;
    RowPointer row;
};

// Orders entries the way the engine does: key bytes, then the row pointer.
bool indexEntryLess(const IndexBuildEntry& a, const IndexBuildEntry& b);

// Builds a full, balanced B-tree from entries already in index order: leaves
// filled in turn and chained by prev/next, then intermediate levels whose entries
// repeat the last entry of each child, the last child of each page reached through
// the tail field. Pages are numbered from a first page given by the caller: leaves
// first, then each level up; the root is the last page. An empty index is one
// empty leaf.
class IndexBuilder {
public:
    IndexBuilder(IndexPageLayout layout, std::span<const IndexBuildEntry> entries);

    std::size_t pageCount() const { return pageCount_; }

    // Writes every page through `sink` and returns the root page.
    PageNumber write(PageNumber firstPage, std::uint32_t owner,
                     const std::function<void(PageNumber, std::span<const std::uint8_t>)>& sink) const;

private:
    // A page of the tree being planned: a range of children (entries for leaves,
    // pages of the level below otherwise).
    struct PlannedPage {
        std::size_t first = 0;
        std::size_t count = 0;
        std::size_t lastEntry = 0;  // index of the greatest entry under this page
    };

    void plan();
    std::size_t entrySize(std::size_t entry, bool intermediate) const;

    IndexPageLayout layout_;
    std::span<const IndexBuildEntry> entries_;
    std::vector<std::vector<PlannedPage>> levels_;  // levels_[0] = leaves
    std::size_t pageCount_ = 0;
};

}  // namespace jet
