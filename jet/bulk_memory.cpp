#include "jet/bulk_memory.h"

#include <cstdint>

#include <sys/mman.h>

namespace jet {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t mappedSize(std::size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

}  // namespace

void* allocateBulk(std::size_t bytes) {
    if (bytes < kBulkThreshold) return ::operator new(bytes);
    if (bytes > static_cast<std::size_t>(-1) - 2 * kHugePage) throw std::bad_alloc();
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

void releaseBulk(void* block, std::size_t bytes) noexcept {
    if (block == nullptr) return;
    if (bytes < kBulkThreshold) {
        ::operator delete(block);
        return;
    }
    ::munmap(block, mappedSize(bytes));
}

}  // namespace jet
