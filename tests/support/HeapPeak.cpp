#include "support/HeapPeak.h"

#include <malloc.h>

#include <cstdlib>
#include <new>

namespace {

// Per thread, so that the servers and workers of other tests count nothing.
// Plain values: they must be usable from operator new before anything runs.
thread_local bool t_counting = false;
thread_local std::int64_t t_held = 0;
thread_local std::int64_t t_peak = 0;

void* Allocate(std::size_t size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) throw std::bad_alloc();
    if (t_counting) {
        t_held += static_cast<std::int64_t>(malloc_usable_size(block));
        if (t_held > t_peak) t_peak = t_held;
    }
    return block;
}

void Release(void* block) noexcept {
    if (block == nullptr) return;
    if (t_counting) t_held -= static_cast<std::int64_t>(malloc_usable_size(block));
    std::free(block);
}

}  // namespace

HeapPeak::HeapPeak() {
    t_held = 0;
    t_peak = 0;
    t_counting = true;
}

HeapPeak::~HeapPeak() { t_counting = false; }

std::int64_t HeapPeak::Bytes() const { return t_peak; }

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* block) noexcept { Release(block); }
void operator delete[](void* block) noexcept { Release(block); }
void operator delete(void* block, std::size_t) noexcept { Release(block); }
void operator delete[](void* block, std::size_t) noexcept { Release(block); }

// The nothrow forms too (std::stable_sort's buffer comes from them): every
// block is freed by the delete that belongs to the new that made it.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* block, const std::nothrow_t&) noexcept { Release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { Release(block); }
