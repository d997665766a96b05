#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace jet {

// Memory for runs of pages read from a file: buffers of 1, 2, 4, ... 32 pages,
// carved from 2 MiB chunks mapped as huge pages and reused for the life of the
// pool. A page file reads thousands of runs over a large file; from the ordinary
// heap each fresh buffer costs a page fault per 4 KiB the first time it is read
// into, which on virtual machines costs about as much as the read itself.
// Buffers may be given back from any thread.
class PageBufferPool {
public:
    static constexpr unsigned kClasses = 6;  // 1 to 32 pages

    explicit PageBufferPool(std::size_t pageSize);
    ~PageBufferPool();
    PageBufferPool(const PageBufferPool&) = delete;
    PageBufferPool& operator=(const PageBufferPool&) = delete;

    struct Buffer {
        std::uint8_t* data = nullptr;
        unsigned sizeClass = 0;  // holds 1 << sizeClass pages
    };
    // A buffer of at least `pages` pages (1 to 32). Throws std::bad_alloc.
    Buffer take(std::uint32_t pages);
    void give(Buffer buffer) noexcept;
    std::size_t bytesOf(const Buffer& buffer) const { return pageSize_ << buffer.sizeClass; }

private:
    static constexpr std::size_t kChunk = std::size_t{2} << 20;

    std::size_t pageSize_;
    std::mutex mutex_;
    std::array<std::vector<std::uint8_t*>, kClasses> free_;
    std::vector<std::uint8_t*> chunks_;
    std::uint8_t* cursor_ = nullptr;  // the unused rest of the newest chunk
    std::size_t left_ = 0;
};

}  // namespace jet
