#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "jet/format/bulk_memory.h"
#include "jet/format/page_number.h"
#include "jet/index/index_page.h"

namespace jet {

// A page's bytes and whatever keeps them alive (e.g. the page cache's reference).
struct IndexPageData {
    std::shared_ptr<const void> holder;
    std::span<const std::uint8_t> bytes;
};

// Supplies a page by number (throws JetError for pages that cannot be read).
using IndexPageSource = std::function<IndexPageData(PageNumber)>;

// Facts about one page of a tree, for the checker and for statistics.
struct IndexTreePage {
    PageNumber page;
    IndexPageKind kind = IndexPageKind::Leaf;
    unsigned depth = 0;               // 0 = root
    std::size_t entryCount = 0;
    PageNumber owner;
    PageNumber prev;
    PageNumber next;
    PageNumber tail;
    std::uint16_t freeSpace = 0;      // as stored
    std::size_t computedFreeSpace = 0;
    std::uint16_t prefixLength = 0;
    std::uint8_t nodeFlag = 0;
};

// One leaf entry in tree order. Its key is in IndexTree::keyBytes (one buffer for
// the whole tree: a large index would otherwise cost an allocation per entry).
struct IndexTreeEntry {
    std::size_t keyOffset = 0;
    std::uint32_t keyLength = 0;
    RowPointer row;
    PageNumber leaf;   // the page it was found on
};

// A structural oddity found while walking; the walk goes on after it.
struct IndexTreeFinding {
    PageNumber page;
    std::string detail;   // English, for developers and the checker's log
    std::string message;  // the same in Portuguese, for users
};

struct IndexTree {
    PageNumber root;
    BulkVector<IndexTreeEntry> entries;    // leaves in tree order
    BulkVector<std::uint8_t> keyBytes;
    std::vector<IndexTreePage> pages;      // every page visited, in visiting order
    std::vector<IndexTreeFinding> findings;
    unsigned depth = 0;                    // levels below the root (0 = the root is a leaf)

    std::span<const std::uint8_t> key(const IndexTreeEntry& e) const {
        return std::span<const std::uint8_t>(keyBytes).subspan(e.keyOffset, e.keyLength);
    }
};

// Walks one physical index from its root: intermediate entries, then the tail child,
// down to the leaves. Bounded: a page met twice (a cycle or a shared subtree), a tree
// deeper than `maxDepth`, or more pages than `pageBudget` ends the walk with a
// JetError (Corruption) naming the page.
class IndexTreeWalker {
public:
    IndexTreeWalker(IndexPageSource source, IndexPageLayout layout, std::size_t pageBudget,
                    unsigned maxDepth = 16);

    // `expectedOwner`: the table's TDEF page; pages owned by another give a finding.
    IndexTree walk(PageNumber root, std::optional<PageNumber> expectedOwner = std::nullopt) const;
    // The same walk into `tree`, whose buffers are reused.
    void walk(PageNumber root, std::optional<PageNumber> expectedOwner, IndexTree& tree) const;

private:
    IndexPageSource source_;
    IndexPageLayout layout_;
    std::size_t pageBudget_;
    unsigned maxDepth_;
};

class PageFile;

// The walk a check makes of one table's index: the tree at `root` of the table
// whose definition is at `owner`, its pages read from `file` (no more pages than
// the file has, 16 levels at most), into `tree`. The same walk on whichever thread
// and page file it runs. `expectedPages` (the index's usage map, if known) only
// lets the file read the tree's pages in clusters.
void walkTableIndex(PageFile& file, bool jet3, PageNumber root, PageNumber owner, IndexTree& tree,
                    std::span<const PageNumber> expectedPages = {});

}  // namespace jet
