// Storage that a loader fills in whole right after allocating it: its
// elements are left uninitialised, so no zero-fill pass goes over the memory
// before the real values do, and each page is first touched (and so placed)
// by the thread that writes it.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace tavo {

// Blocks of at least this many bytes are placed on huge pages where the
// system offers them: a column-wise table is filled a few rows at a time in
// every column, which on small pages costs a page-table walk per column.
constexpr size_t LARGE_BLOCK_BYTES = size_t{2} << 20;

// Allocates `bytes` (at least LARGE_BLOCK_BYTES) aligned to and rounded up to
// LARGE_BLOCK_BYTES, asking for huge pages; throws std::bad_alloc.
void* allocate_large_block(size_t bytes);
void free_large_block(void* block) noexcept;

// Has the system set up (clear and map) part `part` of `parts` of the pages
// of [data, data + bytes) for writing, without changing what they hold:
// threads that fill one table together, every one of them all over it, can
// thus share the clearing instead of queueing for each page. Only a hint:
// nothing happens where the system cannot do it.
void prepare_pages(void* data, size_t bytes, int part, int parts) noexcept;

// An allocator whose value-initialisation (resize, the count constructor)
// default-initialises instead: trivial elements are left as they are.
// Construction with arguments is unchanged. Large blocks go to huge pages.
template <class T>
struct default_init_allocator {
    using value_type = T;
    default_init_allocator() noexcept = default;
    template <class U>
    default_init_allocator(const default_init_allocator<U>&) noexcept {}

    T* allocate(size_t n) {
        if (n > std::allocator_traits<std::allocator<T>>::max_size(std::allocator<T>())) throw std::bad_array_new_length();
        if (n * sizeof(T) >= LARGE_BLOCK_BYTES) return static_cast<T*>(allocate_large_block(n * sizeof(T)));
        return std::allocator<T>().allocate(n);
    }
    void deallocate(T* p, size_t n) noexcept {
        if (n * sizeof(T) >= LARGE_BLOCK_BYTES) free_large_block(p);
        else std::allocator<T>().deallocate(p, n);
    }
    template <class U>
    void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
    template <class U>
    bool operator==(const default_init_allocator<U>&) const noexcept { return true; }
};

// A vector whose resize leaves new trivial elements uninitialised.
template <class T>
using uninit_vector = std::vector<T, default_init_allocator<T>>;

}  // namespace tavo
