#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "jet/format/page_number.h"

namespace jet {

// Where the fields of an index page are; differs between Jet3 (2048-byte pages)
// and Jet4+ (4096-byte pages).
struct IndexPageLayout {
    std::size_t pageSize = 0;
    std::size_t prevOffset = 0;
    std::size_t nextOffset = 0;
    std::size_t tailOffset = 0;
    std::size_t prefixOffset = 0;   // prefix length (one byte in Jet3, u16 in Jet4+)
    std::size_t prefixSize = 0;
    std::size_t nodeFlagOffset = 0; // 0x01 intermediate, 0x00 leaf
    std::size_t maskOffset = 0;     // entry end mask
    std::size_t maskLength = 0;
    std::size_t entriesOffset = 0;

    static IndexPageLayout forJet3();
    static IndexPageLayout forJet4();
    static IndexPageLayout forVersion(bool jet3) { return jet3 ? forJet3() : forJet4(); }

    // Bytes available to entries: the smaller of the mask's reach and the page's rest.
    std::size_t entryAreaSize() const;
};

enum class IndexPageKind : std::uint8_t { Intermediate = 0x03, Leaf = 0x04 };

// One entry after prefix expansion. `key` holds only the encoded key bytes; the
// row pointer (and, on intermediate pages, the child page) were split off the end.
struct IndexEntry {
    std::vector<std::uint8_t> key;
    RowPointer row;
    PageNumber child;             // intermediate entries only
    std::size_t storedOffset = 0; // page offset of the stored (shortened) entry
    std::size_t storedLength = 0;

    // key ‖ row pointer in index form: the bytes entries are ordered by.
    std::vector<std::uint8_t> sortBytes() const;
};

// An index page, decoded and bounds-checked.
struct IndexPage {
    PageNumber number;
    IndexPageKind kind = IndexPageKind::Leaf;
    std::uint8_t nodeFlag = 0;     // byte after the prefix length as stored
    std::uint16_t freeSpace = 0;   // as stored
    PageNumber owner;              // TDEF page of the table
    std::uint32_t unknown08 = 0;   // Jet4+ bytes 0x08..0x0B (zero observed)
    PageNumber prev;
    PageNumber next;
    PageNumber tail;
    std::uint16_t prefixLength = 0;
    std::size_t entriesEnd = 0;    // page offset just after the last entry
    std::vector<IndexEntry> entries;

    bool isLeaf() const { return kind == IndexPageKind::Leaf; }
    // What the free-space field should say: page size minus the end of the entries.
    std::size_t computedFreeSpace(const IndexPageLayout& layout) const { return layout.pageSize - entriesEnd; }
};

// Compares full entry bytes (key ‖ row pointer) the way the engine orders them:
// unsigned bytes, a proper prefix first. Returns <0, 0, >0.
int compareIndexEntries(const IndexEntry& a, const IndexEntry& b);
int compareEntryBytes(std::span<const std::uint8_t> keyA, RowPointer rowA, std::span<const std::uint8_t> keyB,
                      RowPointer rowB);
int compareKeyBytes(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b);

// Decodes one index page. Throws JetError (Corruption, with the page and offset) when
// the page is not an index page or any length, mask bit or prefix does not fit.
IndexPage decodeIndexPage(std::span<const std::uint8_t> page, PageNumber number, const IndexPageLayout& layout);

// One entry as the page stores it: its key is `fromPrefix` (the start of the page's
// shared prefix) followed by `rest`. The spans point into the page.
struct IndexEntryParts {
    std::span<const std::uint8_t> fromPrefix;
    std::span<const std::uint8_t> rest;
    RowPointer row;
    PageNumber child;             // intermediate entries only
    std::size_t storedOffset = 0;
    std::size_t storedLength = 0;
    std::size_t keyLength() const { return fromPrefix.size() + rest.size(); }
};

// The same decoding without building a key per entry: fills `out`'s fields (its
// entries stay empty) and `parts` (emptied first) with the entries in page order.
// For walks over many entries, which keep the keys in one buffer of their own.
void decodeIndexPageEntries(std::span<const std::uint8_t> page, PageNumber number, const IndexPageLayout& layout,
                            IndexPage& out, std::vector<IndexEntryParts>& parts);

}  // namespace jet
