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

// Spills NV registers of 16 lanes into the sums from lane group `first`.
template <int NV>
__attribute__((target("avx2"), always_inline)) inline void
spill_avx2(__m256i *part, __m256i *miss, DenseSums &out, int first = 0) {
#pragma GCC unroll 4
    for (int v = 0; v < NV; ++v) {
        const __m256i *src[2] = {part + v, miss + v};
        uint32_t *dst[2] = {out.sum + kLaneGroup * (first + v),
                            out.absent + kLaneGroup * (first + v)};
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

// A 512-bit build for CPUs with AVX-512BW: 32 lanes a register, so 64
// languages take two steps a row instead of four.  A group of 16 lanes left
// over (16 or 48 lanes) goes through a 256-bit register; masked compares
// replace the and-not and the subtraction of the 256-bit build.
template <int NZ>
__attribute__((target("avx512f,avx512bw,avx2"), always_inline)) inline void
spill_avx512(__m512i *part, __m512i *miss, DenseSums &out) {
#pragma GCC unroll 2
    for (int v = 0; v < NZ; ++v) {
        const __m512i *src[2] = {part + v, miss + v};
        uint32_t *dst[2] = {out.sum + 2 * kLaneGroup * v, out.absent + 2 * kLaneGroup * v};
        for (int t = 0; t < 2; ++t) {
            auto *d = reinterpret_cast<__m512i *>(dst[t]);
            // The zero-masked forms: GCC 12 warns of the unmasked ones'
            // undefined inputs.
            const __m512i lo = _mm512_maskz_cvtepu16_epi32(
                0xFFFF, _mm512_maskz_extracti64x4_epi64(0xFF, *src[t], 0));
            const __m512i hi = _mm512_maskz_cvtepu16_epi32(
                0xFFFF, _mm512_maskz_extracti64x4_epi64(0xFF, *src[t], 1));
            _mm512_storeu_si512(d, _mm512_add_epi32(_mm512_loadu_si512(d), lo));
            _mm512_storeu_si512(d + 1, _mm512_add_epi32(_mm512_loadu_si512(d + 1), hi));
        }
        part[v] = _mm512_setzero_si512();
        miss[v] = _mm512_setzero_si512();
    }
}

// NZ registers of 32 lanes, then a group of 16 when `tail`.
template <int NZ, bool tail>
__attribute__((target("avx512f,avx512bw,avx2"), always_inline)) inline void
add_rows_avx512(const uint16_t *const *rows, const uint32_t *ranks, size_t n, uint32_t flush,
                DenseSums &out) {
    __m512i part[NZ], miss[NZ];
#pragma GCC unroll 2
    for (int v = 0; v < NZ; ++v) part[v] = miss[v] = _mm512_setzero_si512();
    __m256i part_t = _mm256_setzero_si256(), miss_t = _mm256_setzero_si256();
    const __m512i zero = _mm512_setzero_si512(), one = _mm512_set1_epi16(1);
    uint32_t since = 0;
    for (size_t k = 0; k < n; ++k) {
        const __m512i iv = _mm512_set1_epi16(static_cast<short>(ranks[k]));
        const auto *row = reinterpret_cast<const __m512i *>(rows[k]);
#pragma GCC unroll 2
        for (int v = 0; v < NZ; ++v) {
            const __m512i r = _mm512_loadu_si512(row + v);
            // Saturating differences: one of them is |r - i|, the other 0.
            const __m512i d = _mm512_or_si512(_mm512_subs_epu16(r, iv), _mm512_subs_epu16(iv, r));
            const __mmask32 held = _mm512_cmpneq_epi16_mask(r, zero);
            part[v] = _mm512_mask_add_epi16(part[v], held, part[v], d);
            miss[v] = _mm512_mask_add_epi16(miss[v], ~held, miss[v], one);
        }
        if constexpr (tail) {
            const __m256i r = _mm256_loadu_si256(
                reinterpret_cast<const __m256i *>(rows[k] + 2 * kLaneGroup * NZ));
            const __m256i it = _mm256_set1_epi16(static_cast<short>(ranks[k]));
            const __m256i d = _mm256_or_si256(_mm256_subs_epu16(r, it), _mm256_subs_epu16(it, r));
            const __m256i z = _mm256_cmpeq_epi16(r, _mm256_setzero_si256());
            part_t = _mm256_add_epi16(part_t, _mm256_andnot_si256(z, d));
            miss_t = _mm256_sub_epi16(miss_t, z);
        }
        if (++since == flush) {
            spill_avx512<NZ>(part, miss, out);
            if constexpr (tail) spill_avx2<1>(&part_t, &miss_t, out, 2 * NZ);
            since = 0;
        }
    }
    spill_avx512<NZ>(part, miss, out);
    if constexpr (tail) spill_avx2<1>(&part_t, &miss_t, out, 2 * NZ);
}

__attribute__((target("avx512f,avx512bw,avx2"))) void add_avx512(const uint16_t *const *rows,
                                                                 const uint32_t *ranks, size_t n,
                                                                 uint32_t lanes, uint32_t flush,
                                                                 DenseSums &out) {
    switch (lanes / kLaneGroup) {
    case 1:
        add_rows_avx2<1>(rows, ranks, n, flush, out);
        break;
    case 2:
        add_rows_avx512<1, false>(rows, ranks, n, flush, out);
        break;
    case 3:
        add_rows_avx512<1, true>(rows, ranks, n, flush, out);
        break;
    default:
        add_rows_avx512<2, false>(rows, ranks, n, flush, out);
        break;
    }
}
#endif

// What the CPU can run, asked once per process by the first call from any
// thread (a function-local static is initialised exactly once even when
// threads reach it together, and read-only after).  The builds are called
// directly rather than through a pointer, which sanitizers would check
// against a C++ runtime that C programs do not link.
DenseKernel best_kernel() {
#ifdef TAVIK_DENSE_X86
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512bw") != 0)
        return DenseKernel::avx512;
    if (__builtin_cpu_supports("avx2") != 0) return DenseKernel::avx2;
#endif
    return DenseKernel::generic;
}

}  // namespace

bool dense_kernel_runs(DenseKernel kernel) {
    static const DenseKernel best = best_kernel();
    return static_cast<int>(kernel) <= static_cast<int>(best);
}

void dense_add_with(DenseKernel kernel, const uint16_t *const *rows, const uint32_t *ranks,
                    size_t n, uint32_t lanes, uint32_t flush, DenseSums &out) {
    assert(flush >= 1);  // a flush of 0 would never spill the 16-bit lanes
    assert(dense_kernel_runs(kernel));
    switch (kernel) {
#ifdef TAVIK_DENSE_X86
    case DenseKernel::avx512:
        add_avx512(rows, ranks, n, lanes, flush, out);
        return;
    case DenseKernel::avx2:
        add_avx2(rows, ranks, n, lanes, flush, out);
        return;
#endif
    default:
        dense_add_generic(rows, ranks, n, lanes, flush, out);
        return;
    }
}

void dense_add(const uint16_t *const *rows, const uint32_t *ranks, size_t n, uint32_t lanes,
               uint32_t flush, DenseSums &out) {
    static const DenseKernel best = best_kernel();
    dense_add_with(best, rows, ranks, n, lanes, flush, out);
}

}  // namespace tavik
