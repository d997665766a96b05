#include "jet/format/page_buffer_pool.h"

#include <new>

#include "jet/format/bulk_memory.h"

namespace jet {

PageBufferPool::PageBufferPool(std::size_t pageSize) : pageSize_(pageSize) {}

PageBufferPool::~PageBufferPool() {
    for (std::uint8_t* c : chunks_) releaseBulk(c, kChunk);
}

PageBufferPool::Buffer PageBufferPool::take(std::uint32_t pages) {
    unsigned sizeClass = 0;
    while ((std::uint32_t{1} << sizeClass) < pages) ++sizeClass;
    if (sizeClass >= kClasses) throw std::bad_alloc();
    const std::size_t bytes = pageSize_ << sizeClass;
    std::lock_guard lock(mutex_);
    if (!free_[sizeClass].empty()) {
        Buffer b{free_[sizeClass].back(), sizeClass};
        free_[sizeClass].pop_back();
        return b;
    }
    if (bytes > kChunk) throw std::bad_alloc();
    if (left_ < bytes) {
        // The rest of the old chunk serves smaller buffers later.
        for (unsigned c = kClasses; c-- > 0;) {
            const std::size_t piece = pageSize_ << c;
            while (left_ >= piece) {
                free_[c].push_back(cursor_);
                cursor_ += piece;
                left_ -= piece;
            }
        }
        chunks_.reserve(chunks_.size() + 1);
        cursor_ = static_cast<std::uint8_t*>(allocateBulk(kChunk));
        chunks_.push_back(cursor_);
        left_ = kChunk;
    }
    Buffer b{cursor_, sizeClass};
    cursor_ += bytes;
    left_ -= bytes;
    return b;
}

void PageBufferPool::give(Buffer buffer) noexcept {
    if (buffer.data == nullptr) return;
    std::lock_guard lock(mutex_);
    try {
        free_[buffer.sizeClass].push_back(buffer.data);
    } catch (...) {
        // Out of memory for the list: the buffer stays unused until the pool goes.
    }
}

}  // namespace jet
