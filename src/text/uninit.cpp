#include "text/uninit.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

namespace tavo {

void* allocate_large_block(size_t bytes) {
    const size_t rounded = (bytes + LARGE_BLOCK_BYTES - 1) / LARGE_BLOCK_BYTES * LARGE_BLOCK_BYTES;
    if (rounded < bytes) throw std::bad_alloc();
    void* block = std::aligned_alloc(LARGE_BLOCK_BYTES, rounded);
    if (!block) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
    madvise(block, rounded, MADV_HUGEPAGE);  // a hint: without huge pages the block works all the same
#endif
    return block;
}

void free_large_block(void* block) noexcept { std::free(block); }

void prepare_pages(void* data, size_t bytes, int part, int parts) noexcept {
#ifdef MADV_POPULATE_WRITE
    if (!data || bytes == 0 || parts <= 0 || part < 0 || part >= parts) return;
    // Whole huge pages each, inside the block (a large block starts on one).
    const auto begin = reinterpret_cast<uintptr_t>(data);
    const uintptr_t first = (begin + LARGE_BLOCK_BYTES - 1) / LARGE_BLOCK_BYTES * LARGE_BLOCK_BYTES;
    const uintptr_t end = begin + bytes;
    if (end <= first) return;
    const size_t pages = (end - first) / LARGE_BLOCK_BYTES;
    const uintptr_t from = first + pages * static_cast<size_t>(part) / static_cast<size_t>(parts) * LARGE_BLOCK_BYTES;
    const uintptr_t to = first + pages * static_cast<size_t>(part + 1) / static_cast<size_t>(parts) * LARGE_BLOCK_BYTES;
    if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
#else
    (void)data, (void)bytes, (void)part, (void)parts;
#endif
}

}  // namespace tavo
