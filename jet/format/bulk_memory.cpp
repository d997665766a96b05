#include "jet/format/bulk_memory.h"

#include <array>
#include <bit>
#include <cstdint>
#include <mutex>
#include <vector>

#include <sys/mman.h>

namespace jet {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t mappedSize(std::size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

// Two classes an octave (2^k and 3 * 2^(k-1)): a vector that doubles its room
// asks for one class after another, and arrays of 24-byte elements fit the
// second kind exactly.
constexpr unsigned kClassCount = 2 * 64;

unsigned classOf(std::size_t bytes) {
    const unsigned k = static_cast<unsigned>(std::bit_width(bytes - 1));  // 2^k >= bytes
    if (k >= 2 && bytes <= (std::size_t{3} << (k - 2))) return 2 * (k - 1) + 1;  // 3 * 2^(k-2)
    return 2 * k;
}

std::size_t classSize(unsigned c) {
    return (c % 2 == 0) ? std::size_t{1} << (c / 2) : std::size_t{3} << (c / 2 - 1);
}

void* mapBlock(std::size_t bytes) {
    if (bytes < kBulkThreshold) return ::operator new(bytes);
    const std::size_t size = mappedSize(bytes);
    // Map one huge page more than needed, then trim both ends so the block starts
    // on a huge-page boundary: only aligned 2 MiB ranges can be huge pages.
    void* raw = ::mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + kHugePage - 1) & ~(std::uintptr_t{kHugePage} - 1);
    if (aligned > start) ::munmap(raw, aligned - start);
    const std::uintptr_t end = start + size + kHugePage;
    if (end > aligned + size) ::munmap(reinterpret_cast<void*>(aligned + size), end - (aligned + size));
    void* block = reinterpret_cast<void*>(aligned);
    // Only a hint: without huge pages the block works the same, 4 KiB at a time.
    ::madvise(block, size, MADV_HUGEPAGE);
    return block;
}

void unmapBlock(void* block, std::size_t bytes) noexcept {
    if (bytes < kBulkThreshold) ::operator delete(block);
    else ::munmap(block, mappedSize(bytes));
}

// Blocks given back, kept for the next array of their class. A check or a
// compaction builds arrays of the same few sizes table after table, and on
// threads of its own; given back to the heap or unmapped, every one of them would
// be fresh memory again the next time.
class RecycledBlocks {
public:
    void* take(unsigned c) {
        std::lock_guard lock(mutex_);
        if (free_[c].empty()) return nullptr;
        void* block = free_[c].back();
        free_[c].pop_back();
        kept_ -= classSize(c);
        return block;
    }
    bool keep(void* block, unsigned c) noexcept {
        const std::size_t size = classSize(c);
        std::lock_guard lock(mutex_);
        if (kept_ + size > kKeptLimit) return false;
        try {
            free_[c].push_back(block);
        } catch (...) {
            return false;
        }
        kept_ += size;
        return true;
    }

private:
    static constexpr std::size_t kKeptLimit = std::size_t{32} << 20;
    std::mutex mutex_;
    std::array<std::vector<void*>, kClassCount> free_;
    std::size_t kept_ = 0;
};

RecycledBlocks& recycled() {
    // Never destroyed: arrays may be given back while static objects go.
    static RecycledBlocks* blocks = new RecycledBlocks;
    return *blocks;
}

}  // namespace

void* allocateBulk(std::size_t bytes) {
    if (bytes < kRecycledFrom) return ::operator new(bytes);
    if (bytes > static_cast<std::size_t>(-1) / 4) throw std::bad_alloc();
    const unsigned c = classOf(bytes);
    if (void* block = recycled().take(c)) return block;
    return mapBlock(classSize(c));
}

void releaseBulk(void* block, std::size_t bytes) noexcept {
    if (block == nullptr) return;
    if (bytes < kRecycledFrom) {
        ::operator delete(block);
        return;
    }
    const unsigned c = classOf(bytes);
    if (!recycled().keep(block, c)) unmapBlock(block, classSize(c));
}

}  // namespace jet
