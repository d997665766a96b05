#include "jet/index_page.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "jet/byte_order.h"
#include "jet/jet_error.h"

namespace jet {

IndexPageLayout IndexPageLayout::forJet3() {
    IndexPageLayout l;
    l.pageSize = 2048;
    l.prevOffset = 0x08;
    l.nextOffset = 0x0C;
    l.tailOffset = 0x10;
    // Only the byte at 0x14 is the prefix length: 0x15 is the node flag.
    l.prefixOffset = 0x14;
    l.prefixSize = 1;
    l.nodeFlagOffset = 0x15;
    l.maskOffset = 0x16;
    l.maskLength = 0xF8 - 0x16;
    l.entriesOffset = 0xF8;
    return l;
}

IndexPageLayout IndexPageLayout::forJet4() {
    IndexPageLayout l;
    l.pageSize = 4096;
    l.prevOffset = 0x0C;
    l.nextOffset = 0x10;
    l.tailOffset = 0x14;
    l.prefixOffset = 0x18;
    l.prefixSize = 2;
    l.nodeFlagOffset = 0x1A;
    l.maskOffset = 0x1B;
    l.maskLength = 0x1E0 - 0x1B;
    l.entriesOffset = 0x1E0;
    return l;
}

std::size_t IndexPageLayout::entryAreaSize() const {
    return std::min(maskLength * 8, pageSize - entriesOffset);
}

std::vector<std::uint8_t> IndexEntry::sortBytes() const {
    std::vector<std::uint8_t> out(key);
    out.resize(key.size() + 4);
    row.toIndexBytes(out.data() + key.size());
    return out;
}

int compareKeyBytes(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
    const std::size_t n = std::min(a.size(), b.size());
    if (n > 0) {
        const int c = std::memcmp(a.data(), b.data(), n);
        if (c != 0) return c < 0 ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

int compareEntryBytes(std::span<const std::uint8_t> keyA, RowPointer rowA, std::span<const std::uint8_t> keyB,
                      RowPointer rowB) {
    // Keys compare first; when one key is a proper prefix of the other the row
    // pointer bytes continue the comparison, so compare the joined bytes.
    const std::size_t n = std::min(keyA.size(), keyB.size());
    if (n > 0) {
        const int c = std::memcmp(keyA.data(), keyB.data(), n);
        if (c != 0) return c < 0 ? -1 : 1;
    }
    if (keyA.size() == keyB.size()) {
        if (rowA == rowB) return 0;
        return rowA < rowB ? -1 : 1;
    }
    std::vector<std::uint8_t> a(keyA.begin(), keyA.end());
    std::vector<std::uint8_t> b(keyB.begin(), keyB.end());
    a.resize(a.size() + 4);
    b.resize(b.size() + 4);
    rowA.toIndexBytes(a.data() + keyA.size());
    rowB.toIndexBytes(b.data() + keyB.size());
    return compareKeyBytes(a, b);
}

int compareIndexEntries(const IndexEntry& a, const IndexEntry& b) {
    return compareEntryBytes(a.key, a.row, b.key, b.row);
}

namespace {

ErrorLocation at(PageNumber page, std::size_t offset) {
    ErrorLocation where;
    where.page = page.value;
    where.offset = offset;
    where.structure = "página de índice";
    return where;
}

}  // namespace

IndexPage decodeIndexPage(std::span<const std::uint8_t> page, PageNumber number, const IndexPageLayout& layout) {
    if (page.size() != layout.pageSize) {
        throwCorruption("index page has " + std::to_string(page.size()) + " bytes, expected " +
                            std::to_string(layout.pageSize),
                        at(number, 0));
    }
    IndexPage out;
    out.number = number;
    const std::uint8_t type = bytes::u8(page, 0);
    if (type != 0x03 && type != 0x04) {
        throwCorruption("page of type " + std::to_string(type) + " where an index page was expected", at(number, 0));
    }
    out.kind = static_cast<IndexPageKind>(type);
    out.freeSpace = bytes::u16le(page, 2);
    out.owner = PageNumber(bytes::u32le(page, 4));
    if (layout.prevOffset > 8) out.unknown08 = bytes::u32le(page, 8);
    out.prev = PageNumber(bytes::u32le(page, layout.prevOffset));
    out.next = PageNumber(bytes::u32le(page, layout.nextOffset));
    out.tail = PageNumber(bytes::u32le(page, layout.tailOffset));
    out.prefixLength = layout.prefixSize == 1 ? bytes::u8(page, layout.prefixOffset)
                                              : bytes::u16le(page, layout.prefixOffset);
    out.nodeFlag = bytes::u8(page, layout.nodeFlagOffset);

    const std::size_t trailer = out.isLeaf() ? 4 : 8;  // row pointer (+ child page)
    const std::size_t area = layout.entryAreaSize();
    const auto mask = bytes::slice(page, layout.maskOffset, layout.maskLength, at(number, layout.maskOffset));
    std::vector<std::uint8_t> firstEntry;
    std::size_t start = 0;
    for (std::size_t pos = 0; pos < layout.maskLength * 8; ++pos) {
        if (((mask[pos / 8] >> (pos % 8)) & 1) == 0) continue;
        if (pos > area) {
            throwCorruption("entry end mask marks position " + std::to_string(pos) + " beyond the entry area",
                            at(number, layout.maskOffset + pos / 8));
        }
        const std::size_t len = pos - start;
        const std::size_t offset = layout.entriesOffset + start;
        if (len == 0) throwCorruption("zero-length index entry", at(number, offset));
        const auto stored = bytes::slice(page, offset, len, at(number, offset));
        IndexEntry e;
        e.storedOffset = offset;
        e.storedLength = len;
        std::vector<std::uint8_t> full;
        if (out.entries.empty()) {
            full.assign(stored.begin(), stored.end());
            if (out.prefixLength > full.size()) {
                throwCorruption("prefix length " + std::to_string(out.prefixLength) + " exceeds the first entry (" +
                                    std::to_string(full.size()) + " bytes)",
                                at(number, layout.prefixOffset));
            }
            firstEntry = full;
        } else {
            full.reserve(out.prefixLength + len);
            full.assign(firstEntry.begin(), firstEntry.begin() + out.prefixLength);
            full.insert(full.end(), stored.begin(), stored.end());
        }
        if (full.size() < trailer + 1) {
            throwCorruption("index entry of " + std::to_string(full.size()) + " bytes is too short for its page type",
                            at(number, offset));
        }
        const std::size_t keyLen = full.size() - trailer;
        e.row = RowPointer::fromIndexBytes(full.data() + keyLen);
        if (!out.isLeaf()) e.child = PageNumber(bytes::u32be(full, keyLen + 4));
        full.resize(keyLen);
        e.key = std::move(full);
        out.entries.push_back(std::move(e));
        start = pos;
    }
    out.entriesEnd = layout.entriesOffset + start;
    return out;
}

}  // namespace jet
