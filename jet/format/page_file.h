#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "jet/format/page_buffer_pool.h"
#include "jet/format/page_number.h"

namespace jet {

// One page as read from the file (already decoded when the database is encoded).
// The bytes live as long as the reference: several pages read together share one
// buffer, kept alive by each of their references.
struct PageBuffer {
    PageNumber number;
    std::span<const std::uint8_t> bytes;
    std::span<const std::uint8_t> span() const { return bytes; }
};
using PageRef = std::shared_ptr<const PageBuffer>;

// A page that owns its bytes (pages built in memory).
PageRef makePage(PageNumber number, std::vector<std::uint8_t> bytes);

// What a path that is not a regular file names ("uma pasta", "um pipe nomeado
// (FIFO)", ...), from its st_mode, for the message that refuses it.
std::string nonRegularFileKind(std::uint32_t mode);

// Read-only access to the pages of a database file through positioned reads and a
// small cache. Pages handed out stay valid as long as the caller holds them.
//
// A miss reads a run of consecutive pages with one call. Reads follow a few
// forward streams at once (a table's data pages, the long-value pages its rows
// point to): a miss just past a stream's last run continues it with a run twice
// as long, up to kMaxRun pages; any other miss starts a stream with one page.
// Whole-file walks then cost a few thousand calls instead of one per page, and
// scattered reads (index trees) read little they do not use. A run stops before
// a page already cached, so no page is read twice while it is cached.
class PageFile {
public:
    // Opens the file read-only. Throws JetError(Io) when it cannot. `cachePages`:
    // how many pages stay cached after their run was read.
    explicit PageFile(const std::string& path, std::size_t cachePages = kCachePages);
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
    std::uint32_t databaseKey() const { return databaseKey_; }
    // Whole pages in the file (a trailing partial page is not counted).
    std::uint32_t pageCount() const { return pageCount_; }

    // The page, decoded. Throws a corruption error for pages beyond the end of the file.
    PageRef page(PageNumber n);

    // The pages about to be asked for, ascending (a table's data pages): a miss on
    // one of them reads with the same call the planned pages after it that lie
    // within kMaxRun pages, and the few unplanned ones between them. Pages a
    // database allocates in clusters are then read a cluster a call, not in runs
    // growing from one page each time a cluster starts. Replaces the plan before;
    // an empty one ends it.
    void plan(std::vector<std::uint32_t> pages);

    // Reads each page of `pages` (ascending) once, those within kMaxRun pages of
    // each other with one call, into one buffer reused for the whole walk, and hands
    // it to `visit`; nothing is cached. For one-pass sweeps, whose pages are not
    // wanted again: they neither push other pages out of the cache nor cost a fresh
    // buffer each. Pages past the end of the file are skipped.
    void forEachPage(std::span<const std::uint32_t> pages, const std::function<void(const PageBuffer&)>& visit);

    static constexpr std::uint32_t kMaxRun = 32;         // pages read by one call at most
    static constexpr std::size_t kCachePages = 256;      // by default
    // How far past the previous run a miss still counts as moving forward.
    static constexpr std::uint32_t kForwardReach = 64;
    static constexpr std::size_t kSpareRuns = 8;

private:
    struct Run;
    std::shared_ptr<Run> readRun(std::uint32_t first, std::uint32_t count);
    // Caches the pages of `run` (read for a miss on `n`) and returns `n`.
    PageRef cacheRun(PageNumber n, std::shared_ptr<Run> run);
    void evictOldest();
    std::size_t readInto(std::uint64_t offset, std::uint8_t* out, std::size_t n) const;

    std::string path_;
    int fd_ = -1;
    std::uint64_t fileSize_ = 0;
    std::size_t pageSize_ = 4096;
    std::uint32_t pageCount_ = 0;
    std::uint32_t databaseKey_ = 0;
    std::size_t cachePages_;

    std::unordered_map<std::uint32_t, PageRef> cached_;
    std::deque<std::shared_ptr<Run>> runs_;   // oldest first
    std::size_t runPages_ = 0;                // pages in runs_
    std::vector<std::shared_ptr<Run>> spare_; // runs nobody holds: their buffers are read into again
    std::shared_ptr<PageBufferPool> pool_;    // the buffers of every run
    struct Stream {
        std::uint32_t end = 0;         // page after its last run
        std::uint32_t runLength = 0;
        std::uint64_t lastUse = 0;
    };
    static constexpr std::size_t kStreams = 4;
    std::array<Stream, kStreams> streams_{};
    std::uint64_t misses_ = 0;
    std::vector<std::uint32_t> plan_;
    std::size_t planNext_ = 0;  // where the search for a planned miss starts
};

// Plans `pages` (ascending) on a page file for as long as it lives.
class PlannedReads {
public:
    PlannedReads(PageFile& file, std::span<const PageNumber> pages);
    ~PlannedReads() { file_.plan({}); }
    PlannedReads(const PlannedReads&) = delete;
    PlannedReads& operator=(const PlannedReads&) = delete;

private:
    PageFile& file_;
};

}  // namespace jet
