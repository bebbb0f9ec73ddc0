// Heap accounting for a benchmark program: every allocation through
// operator new is counted with its usable size; the peak can be restarted
// from the current level (g_peakBytes = g_heldBytes).  It replaces the global
// operator new and delete, so exactly one source file of a program includes it.
#pragma once

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<size_t> g_heldBytes{0};
std::atomic<size_t> g_peakBytes{0};

void* Counted(void* p) {
    if (p) {
        const size_t held = g_heldBytes += malloc_usable_size(p);
        size_t peak = g_peakBytes.load();
        while (held > peak && !g_peakBytes.compare_exchange_weak(peak, held)) {
        }
    }
    return p;
}

void Uncounted(void* p) {
    if (p) g_heldBytes -= malloc_usable_size(p);
    std::free(p);
}
}  // namespace

void* operator new(size_t size) {
    void* p = Counted(std::malloc(size ? size : 1));
    if (!p) throw std::bad_alloc();
    return p;
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return Counted(std::malloc(size ? size : 1)); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return Counted(std::malloc(size ? size : 1)); }
void operator delete(void* p) noexcept { Uncounted(p); }
void operator delete[](void* p) noexcept { Uncounted(p); }
void operator delete(void* p, size_t) noexcept { Uncounted(p); }
void operator delete[](void* p, size_t) noexcept { Uncounted(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Uncounted(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Uncounted(p); }
