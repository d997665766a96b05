#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

namespace jet {

// Memory for the large arrays a walk over a whole file builds (index entries and
// keys, the expected entries of every row, page buffers). Fresh anonymous memory
// costs one page fault per 4 KiB the first time it is touched, and on virtual
// machines a fault costs more than the work done with the page. Blocks of
// kBulkThreshold bytes and more are mapped on their own and asked for as
// transparent huge pages (one fault per 2 MiB where the kernel has them); smaller
// ones come from the ordinary heap. Blocks of kRecycledFrom bytes and more are
// not given back when released but kept (up to a bound) for the next array of
// about their size.
inline constexpr std::size_t kBulkThreshold = std::size_t{1} << 20;
inline constexpr std::size_t kRecycledFrom = std::size_t{64} << 10;

// Throws std::bad_alloc when the memory cannot be had.
void* allocateBulk(std::size_t bytes);
// `bytes` must be the size given to allocateBulk.
void releaseBulk(void* block, std::size_t bytes) noexcept;

template <class T>
struct BulkAllocator {
    using value_type = T;

    BulkAllocator() noexcept = default;
    template <class U>
    BulkAllocator(const BulkAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
        return static_cast<T*>(allocateBulk(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t n) noexcept { releaseBulk(p, n * sizeof(T)); }

    template <class U>
    friend bool operator==(const BulkAllocator&, const BulkAllocator<U>&) noexcept {
        return true;
    }
};

template <class T>
using BulkVector = std::vector<T, BulkAllocator<T>>;

// Bytes of many keys or values laid end to end.
using ByteArena = BulkVector<std::uint8_t>;

}  // namespace jet
