// SPDX-License-Identifier: MIT
// score_dense_rows.cpp - the vector kernel of dense rows, with one build per
// instruction set and a choice made once per process from what the CPU
// offers.  The kernel is written with the compilers' generic vector types,
// so every build computes the same integers.

#include "score_dense_rows.h"

#include <cassert>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace tavik {

namespace {

typedef uint16_t V16 __attribute__((vector_size(32)));  // 16 lanes of one group
typedef uint32_t W16 __attribute__((vector_size(64)));  // the same lanes widened

template <int NV>
__attribute__((always_inline)) inline void spill(V16 *part, V16 *miss, DenseSums &out) {
    for (int v = 0; v < NV; ++v) {
        W16 s, a;
        std::memcpy(&s, out.sum + kLaneGroup * v, sizeof s);
        std::memcpy(&a, out.absent + kLaneGroup * v, sizeof a);
        s += __builtin_convertvector(part[v], W16);
        a += __builtin_convertvector(miss[v], W16);
        std::memcpy(out.sum + kLaneGroup * v, &s, sizeof s);
        std::memcpy(out.absent + kLaneGroup * v, &a, sizeof a);
        part[v] = V16{};
        miss[v] = V16{};
    }
}

template <int NV>
__attribute__((always_inline)) inline void add_rows(const uint16_t *const *rows,
                                                    const uint32_t *ranks, size_t n, uint32_t flush,
                                                    DenseSums &out) {
    V16 part[NV] = {}, miss[NV] = {};
    uint32_t since = 0;
    for (size_t k = 0; k < n; ++k) {
        V16 iv;
        for (uint32_t t = 0; t < kLaneGroup; ++t) iv[t] = static_cast<uint16_t>(ranks[k]);
#pragma GCC unroll 4
        for (int v = 0; v < NV; ++v) {
            V16 r;
            std::memcpy(&r, rows[k] + kLaneGroup * v, sizeof r);
            // Both differences wrap modulo 2^16; the smaller is |r - i| as
            // both are below 2^15.
            const V16 a = r - iv, b = iv - r;
            const V16 d = b ^ ((a ^ b) & (V16)(a < b));
            const V16 z = (V16)(r == V16{});
            part[v] += d & ~z;
            miss[v] -= z;
        }
        if (++since == flush) {
            spill<NV>(part, miss, out);
            since = 0;
        }
    }
    spill<NV>(part, miss, out);
}

}  // namespace

void dense_add_generic(const uint16_t *const *rows, const uint32_t *ranks, size_t n, uint32_t lanes,
                       uint32_t flush, DenseSums &out) {
    switch (lanes / kLaneGroup) {
    case 1:
        add_rows<1>(rows, ranks, n, flush, out);
        break;
    case 2:
        add_rows<2>(rows, ranks, n, flush, out);
        break;
    case 3:
        add_rows<3>(rows, ranks, n, flush, out);
        break;
    default:
        add_rows<4>(rows, ranks, n, flush, out);
        break;
    }
}

namespace {

#if defined(__x86_64__) || defined(__i386__)
#define TAVIK_DENSE_X86 1

template <int NV>
__attribute__((target("avx2"), always_inline)) inline void spill_avx2(__m256i *part, __m256i *miss,
                                                                      DenseSums &out) {
#pragma GCC unroll 4
    for (int v = 0; v < NV; ++v) {
        const __m256i *src[2] = {part + v, miss + v};
        uint32_t *dst[2] = {out.sum + kLaneGroup * v, out.absent + kLaneGroup * v};
        for (int t = 0; t < 2; ++t) {
            auto *d = reinterpret_cast<__m256i *>(dst[t]);
            const __m256i lo = _mm256_cvtepu16_epi32(_mm256_castsi256_si128(*src[t]));
            const __m256i hi = _mm256_cvtepu16_epi32(_mm256_extracti128_si256(*src[t], 1));
            _mm256_storeu_si256(d, _mm256_add_epi32(_mm256_loadu_si256(d), lo));
            _mm256_storeu_si256(d + 1, _mm256_add_epi32(_mm256_loadu_si256(d + 1), hi));
        }
        part[v] = _mm256_setzero_si256();
        miss[v] = _mm256_setzero_si256();
    }
}

template <int NV>
__attribute__((target("avx2"), always_inline)) inline void
add_rows_avx2(const uint16_t *const *rows, const uint32_t *ranks, size_t n, uint32_t flush,
              DenseSums &out) {
    __m256i part[NV], miss[NV];
#pragma GCC unroll 4
    for (int v = 0; v < NV; ++v) part[v] = miss[v] = _mm256_setzero_si256();
    const __m256i zero = _mm256_setzero_si256();
    uint32_t since = 0;
    for (size_t k = 0; k < n; ++k) {
        const __m256i iv = _mm256_set1_epi16(static_cast<short>(ranks[k]));
        const auto *row = reinterpret_cast<const __m256i *>(rows[k]);
#pragma GCC unroll 4
        for (int v = 0; v < NV; ++v) {
            const __m256i r = _mm256_loadu_si256(row + v);
            // Saturating differences: one of them is |r - i|, the other 0.
            const __m256i d = _mm256_or_si256(_mm256_subs_epu16(r, iv), _mm256_subs_epu16(iv, r));
            const __m256i z = _mm256_cmpeq_epi16(r, zero);
            part[v] = _mm256_add_epi16(part[v], _mm256_andnot_si256(z, d));
            miss[v] = _mm256_sub_epi16(miss[v], z);
        }
        if (++since == flush) {
            spill_avx2<NV>(part, miss, out);
            since = 0;
        }
    }
    spill_avx2<NV>(part, miss, out);
}

__attribute__((target("avx2"))) void add_avx2(const uint16_t *const *rows, const uint32_t *ranks,
                                              size_t n, uint32_t lanes, uint32_t flush,
                                              DenseSums &out) {
    switch (lanes / kLaneGroup) {
    case 1:
        add_rows_avx2<1>(rows, ranks, n, flush, out);
        break;
    case 2:
        add_rows_avx2<2>(rows, ranks, n, flush, out);
        break;
    case 3:
        add_rows_avx2<3>(rows, ranks, n, flush, out);
        break;
    default:
        add_rows_avx2<4>(rows, ranks, n, flush, out);
        break;
    }
}
#endif

// Whether the AVX2 build can run here; asked once per process, by the
// first call from any thread (a function-local static is initialised
// exactly once even when threads reach it together, and read-only after).  The builds
// are called directly rather than through a pointer, which sanitizers
// would check against a C++ runtime that C programs do not link.
bool has_avx2() {
#ifdef TAVIK_DENSE_X86
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
#else
    return false;
#endif
}

}  // namespace

void dense_add(const uint16_t *const *rows, const uint32_t *ranks, size_t n, uint32_t lanes,
               uint32_t flush, DenseSums &out) {
    assert(flush >= 1);  // a flush of 0 would never spill the 16-bit lanes
    static const bool avx2 = has_avx2();
#ifdef TAVIK_DENSE_X86
    if (avx2) {
        add_avx2(rows, ranks, n, lanes, flush, out);
        return;
    }
#endif
    (void)avx2;
    dense_add_generic(rows, ranks, n, lanes, flush, out);
}

}  // namespace tavik
