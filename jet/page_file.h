#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "jet/page_number.h"

namespace jet {

// One page as read from the file (already decoded when the database is encoded).
struct PageBuffer {
    PageNumber number;
    std::vector<std::uint8_t> bytes;
    std::span<const std::uint8_t> span() const { return bytes; }
};
using PageRef = std::shared_ptr<const PageBuffer>;

// Read-only access to the pages of a database file through positioned reads and a
// small cache. Pages handed out stay valid as long as the caller holds them.
class PageFile {
public:
    // Opens the file read-only. Throws JetError(Io) when it cannot.
    explicit PageFile(const std::string& path);
    ~PageFile();
    PageFile(const PageFile&) = delete;
    PageFile& operator=(const PageFile&) = delete;

    const std::string& path() const { return path_; }
    std::uint64_t fileSize() const { return fileSize_; }

    // Reads up to `n` bytes at `offset`; returns fewer at the end of the file.
    std::vector<std::uint8_t> readAt(std::uint64_t offset, std::size_t n) const;

    // Fixes the page size and, for encoded Jet3/Jet4 databases, the database key
    // (0 = pages are stored plain). Clears the cache.
    void configure(std::size_t pageSize, std::uint32_t databaseKey);

    std::size_t pageSize() const { return pageSize_; }
    // Whole pages in the file (a trailing partial page is not counted).
    std::uint32_t pageCount() const { return pageCount_; }

    // The page, decoded. Throws a corruption error for pages beyond the end of the file.
    PageRef page(PageNumber n);

    // Reads the whole page without keeping it in the cache (for one-pass walks).
    PageRef pageUncached(PageNumber n);

private:
    std::shared_ptr<PageBuffer> freeBuffer(bool cached);
    PageRef load(PageNumber n, bool cached);
    std::size_t readInto(std::uint64_t offset, std::uint8_t* out, std::size_t n) const;

    std::string path_;
    int fd_ = -1;
    std::uint64_t fileSize_ = 0;
    std::size_t pageSize_ = 4096;
    std::uint32_t pageCount_ = 0;
    std::uint32_t databaseKey_ = 0;

    static constexpr std::size_t kCacheSize = 256;
    std::vector<PageRef> ring_;        // FIFO of cached pages
    std::size_t ringNext_ = 0;
    std::unordered_map<std::uint32_t, PageRef> cached_;

    // Buffers nobody else holds any more are read into again instead of allocating
    // (and zero-filling) a fresh page: pages dropped from the cache, and the last few
    // loaded without caching.
    static constexpr std::size_t kSpareCount = 8;
    std::vector<std::shared_ptr<const PageBuffer>> spare_;
    std::vector<std::shared_ptr<PageBuffer>> recent_;
    std::size_t recentNext_ = 0;
};

}  // namespace jet
