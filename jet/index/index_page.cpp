#include "jet/index/index_page.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

#include "jet/format/byte_order.h"
#include "jet/format/jet_error.h"

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
    // One key is a proper prefix of the other: the shorter one's row pointer bytes
    // meet the longer key's next bytes.
    std::uint8_t rowBytesA[4];
    std::uint8_t rowBytesB[4];
    rowA.toIndexBytes(rowBytesA);
    rowB.toIndexBytes(rowBytesB);
    auto byteAt = [](std::span<const std::uint8_t> key, const std::uint8_t* row, std::size_t i) {
        return i < key.size() ? key[i] : row[i - key.size()];
    };
    const std::size_t lenA = keyA.size() + 4;
    const std::size_t lenB = keyB.size() + 4;
    const std::size_t common = std::min(lenA, lenB);
    for (std::size_t i = n; i < common; ++i) {
        const std::uint8_t x = byteAt(keyA, rowBytesA, i);
        const std::uint8_t y = byteAt(keyB, rowBytesB, i);
        if (x != y) return x < y ? -1 : 1;
    }
    if (lenA == lenB) return 0;
    return lenA < lenB ? -1 : 1;
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
    IndexPage out;
    std::vector<IndexEntryParts> parts;
    decodeIndexPageEntries(page, number, layout, out, parts);
    out.entries.reserve(parts.size());
    for (const IndexEntryParts& p : parts) {
        IndexEntry& e = out.entries.emplace_back();
        e.storedOffset = p.storedOffset;
        e.storedLength = p.storedLength;
        e.row = p.row;
        e.child = p.child;
        e.key.reserve(p.keyLength());
        e.key.assign(p.fromPrefix.begin(), p.fromPrefix.end());
        e.key.insert(e.key.end(), p.rest.begin(), p.rest.end());
    }
    return out;
}

void decodeIndexPageEntries(std::span<const std::uint8_t> page, PageNumber number, const IndexPageLayout& layout,
                            IndexPage& out, std::vector<IndexEntryParts>& parts) {
    parts.clear();
    if (page.size() != layout.pageSize) {
        throwCorruption("index page has " + std::to_string(page.size()) + " bytes, expected " +
                            std::to_string(layout.pageSize),
                        at(number, 0));
    }
    out = IndexPage{};
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
    const auto mask = bytes::slice(page, layout.maskOffset, layout.maskLength, [&] { return at(number, layout.maskOffset); });
    bool first = true;
    std::span<const std::uint8_t> prefix;  // the first entry's leading bytes, shared by the others
    std::size_t start = 0;
    for (std::size_t maskByte = 0; maskByte < layout.maskLength; ++maskByte) {
        // Set bits of this mask byte, lowest first (entry ends in page order).
        for (unsigned bits = mask[maskByte]; bits != 0; bits &= bits - 1) {
            const std::size_t pos = maskByte * 8 + static_cast<std::size_t>(std::countr_zero(bits));
            if (pos > area) {
                throwCorruption("entry end mask marks position " + std::to_string(pos) + " beyond the entry area",
                                at(number, layout.maskOffset + pos / 8));
            }
            const std::size_t len = pos - start;
            const std::size_t offset = layout.entriesOffset + start;
            if (len == 0) throwCorruption("zero-length index entry", at(number, offset));
            const auto stored = bytes::slice(page, offset, len, [&] { return at(number, offset); });
            IndexEntryParts& e = parts.emplace_back();
            e.storedOffset = offset;
            e.storedLength = len;
            if (first) {
                if (out.prefixLength > stored.size()) {
                    throwCorruption("prefix length " + std::to_string(out.prefixLength) + " exceeds the first entry (" +
                                        std::to_string(stored.size()) + " bytes)",
                                    at(number, layout.prefixOffset));
                }
                prefix = stored.first(out.prefixLength);
            }
            // The first entry is stored whole; later ones after the shared prefix.
            const std::size_t head = first ? 0 : prefix.size();
            const std::size_t fullSize = head + len;
            if (fullSize < trailer + 1) {
                throwCorruption("index entry of " + std::to_string(fullSize) + " bytes is too short for its page type",
                                at(number, offset));
            }
            const std::size_t keyLen = fullSize - trailer;
            // The trailer is the end of prefix ‖ stored; a short stored part leaves some of it in the prefix.
            std::uint8_t tail[8];
            if (keyLen >= head) {
                std::memcpy(tail, stored.data() + (keyLen - head), trailer);
            } else {
                for (std::size_t i = 0; i < trailer; ++i) {
                    const std::size_t k = keyLen + i;
                    tail[i] = k < head ? prefix[k] : stored[k - head];
                }
            }
            e.row = RowPointer::fromIndexBytes(tail);
            if (!out.isLeaf()) e.child = PageNumber(bytes::u32be(std::span<const std::uint8_t>(tail, 8), 4));
            const std::size_t fromPrefix = std::min(head, keyLen);
            e.fromPrefix = prefix.first(fromPrefix);
            e.rest = stored.first(keyLen - fromPrefix);
            first = false;
            start = pos;
        }
    }
    out.entriesEnd = layout.entriesOffset + start;
}

}  // namespace jet
