#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "jet/page_number.h"

namespace jet {

// The file a compaction writes: whole pages at their positions, encoded with the
// database key when the source was encoded (every page but page 0, which the
// caller supplies already masked). Created exclusively; unless commit() succeeds,
// the destructor removes the file, so a failed run leaves nothing behind.
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
    void writePage(PageNumber number, std::span<const std::uint8_t> page);

    // Sets the final length, flushes the data to the disk and closes the file.
    void finish(std::uint32_t pageCount);
    // Keeps the file: after this the destructor no longer removes it.
    void commit() { committed_ = true; }
    // Closes and removes the file now (idempotent).
    void discard();

private:
    std::string path_;
    std::size_t pageSize_;
    std::uint32_t databaseKey_;
    int fd_ = -1;
    bool committed_ = false;
    bool removed_ = false;
};

}  // namespace jet
