// SPDX-License-Identifier: MIT
// alloc.h - the library's one road to the heap.
//
// Every allocation of the library goes through these functions so that a
// test build (TAVIK_FAULT_INJECTION) can make the Nth allocation fail and
// prove that every failure path releases what it built.  In a normal build
// they are the C heap functions, inlined.  Memory is always released with
// std::free, also memory that yyjson's writer hands over.
#ifndef TAVIK_ALLOC_H
#define TAVIK_ALLOC_H

#include <cstddef>
#include <cstdlib>

namespace tavik {

#if defined(TAVIK_FAULT_INJECTION)
void *mem_malloc(std::size_t n);
void *mem_calloc(std::size_t n, std::size_t size);
void *mem_realloc(void *p, std::size_t n);
#else
inline void *mem_malloc(std::size_t n) { return std::malloc(n); }
inline void *mem_calloc(std::size_t n, std::size_t size) { return std::calloc(n, size); }
inline void *mem_realloc(void *p, std::size_t n) { return std::realloc(p, n); }
#endif

inline void mem_free(void *p) { std::free(p); }

// Asks for huge pages under a large block of fresh memory about to be
// written whole (a decompressed bundle, an index's arrays).  On a virtual
// machine a page fault costs more than filling the page, and 2 MiB pages
// take a large block's faults from thousands to tens.  Only the aligned
// 2 MiB ranges inside the block are advised, so nothing outside it is
// touched.  Advice only: where the kernel refuses or has huge pages off,
// nothing changes.
void mem_advise_huge(void *p, std::size_t size);

// A NUL-terminated copy of `len` bytes, or nullptr.
inline char *mem_strndup(const char *s, std::size_t len) {
    char *c = static_cast<char *>(mem_malloc(len + 1));
    if (c == nullptr) return nullptr;
    for (std::size_t i = 0; i < len; ++i) c[i] = s[i];
    c[len] = '\0';
    return c;
}

}  // namespace tavik

#if defined(TAVIK_FAULT_INJECTION)
// Test control, not part of the library interface: after
// tavik_fault_fail_at(n) with n > 0 the nth allocation from then on fails
// (and only that one); 0 disarms.  tavik_fault_allocations() counts the
// allocations made since the last call of tavik_fault_fail_at.
extern "C" void tavik_fault_fail_at(long n);
extern "C" long tavik_fault_allocations(void);
#endif

#endif  // TAVIK_ALLOC_H
