#include "text/uninit.h"

#include <sys/mman.h>

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

}  // namespace tavo
