#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "jet/format/page_number.h"

namespace jet {

// The file a compaction writes: whole pages at their positions, encoded with the
// database key when the source was encoded (every page but page 0, which the
// caller supplies already masked). Created exclusively; unless commit() succeeds,
// the destructor removes the file, so a failed run leaves nothing behind.
// Pages go to the disk in large chunks: a window of consecutive page numbers is
// kept in memory and written out, run by run, when a page beyond it arrives or
// the file is finished; a compaction writes almost every page in file order.
// The write of a full window runs in the background while the next one fills.
class OutputFile {
public:
    // Throws JetError(Io) when the file cannot be created (it exists already, no
    // permission, ...).
    OutputFile(const std::string& path, std::size_t pageSize, std::uint32_t databaseKey);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    const std::string& path() const { return path_; }
    std::size_t pageSize() const { return pageSize_; }

    // Writes one page (exactly pageSize bytes, plain); encodes a copy when needed.
    // The page may stay in memory until a page past the window or finish()
    // writes it out.
    void writePage(PageNumber number, std::span<const std::uint8_t> page);

    // Writes the gathered pages and sets the final length; the flush to the disk
    // starts in the background (the file can be read back meanwhile). No page is
    // written after this.
    void finish(std::uint32_t pageCount);
    // Waits until the data is on the disk, closes the file and keeps it: after
    // this the destructor no longer removes it. Throws JetError(Io) when the flush
    // or the close failed (the file is then removed by discard or the destructor).
    void commit();
    // Closes and removes the file now (idempotent).
    void discard();

private:
    static constexpr std::size_t kWindowBytes = std::size_t{1} << 20;

    // A run of consecutive pages of the window being written.
    struct PendingRun {
        std::uint64_t offset = 0;  // in the file
        std::size_t from = 0;      // in writing_
        std::size_t size = 0;
    };

    int writeAll(std::uint64_t offset, const std::uint8_t* data, std::size_t size) const noexcept;  // errno or 0
    void writeAt(std::uint64_t offset, const std::uint8_t* data, std::size_t size);
    void writeWindow();
    void joinWriter() noexcept;
    void waitForWriter();  // joins the background write and reports its error
    void waitForFlush();

    std::string path_;
    std::size_t pageSize_;
    std::uint32_t databaseKey_;
    int fd_ = -1;
    bool committed_ = false;
    bool removed_ = false;
    std::vector<std::uint8_t> window_;  // pages windowFirst_, windowFirst_ + 1, ...
    std::vector<bool> held_;            // which pages of the window were written
    std::uint32_t windowFirst_ = 0;
    // The previous window, written out by writer_ while the next one fills.
    std::vector<std::uint8_t> writing_;
    std::vector<PendingRun> writingRuns_;
    std::thread writer_;
    int writeError_ = 0;   // the write's errno; read only after joining writer_
    std::thread flusher_;  // runs fsync after finish()
    int flushError_ = 0;   // its errno; read only after joining it
};

}  // namespace jet
