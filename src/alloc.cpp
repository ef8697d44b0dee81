// SPDX-License-Identifier: MIT
// alloc.cpp - huge page advice, and allocation failure injection for test
// builds.
#include "alloc.h"

#include <cstdint>
#include <sys/mman.h>

namespace tavik {

void mem_advise_huge(void *p, std::size_t size) {
#if defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
    if (p == nullptr || size < kHuge) return;
    const auto at = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t begin = (at + kHuge - 1) / kHuge * kHuge;
    const std::uintptr_t end = (at + size) / kHuge * kHuge;
    if (end > begin) ::madvise(reinterpret_cast<void *>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)p;
    (void)size;
#endif
}

}  // namespace tavik

#if defined(TAVIK_FAULT_INJECTION)

namespace {
long g_fail_at = 0;
long g_count = 0;

bool should_fail() {
    ++g_count;
    return g_fail_at > 0 && g_count == g_fail_at;
}
}  // namespace

extern "C" void tavik_fault_fail_at(long n) {
    g_fail_at = n;
    g_count = 0;
}

extern "C" long tavik_fault_allocations(void) { return g_count; }

namespace tavik {
void *mem_malloc(std::size_t n) { return should_fail() ? nullptr : std::malloc(n); }
void *mem_calloc(std::size_t n, std::size_t size) {
    return should_fail() ? nullptr : std::calloc(n, size);
}
void *mem_realloc(void *p, std::size_t n) { return should_fail() ? nullptr : std::realloc(p, n); }
}  // namespace tavik

#endif
