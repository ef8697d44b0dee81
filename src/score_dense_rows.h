// SPDX-License-Identifier: MIT
// score_dense_rows.h - scoring n-grams that most languages hold, all languages at
// once.
//
// The profile index keeps an n-gram held by many languages as a row of
// 16-bit ranks, one lane per language (0 = the language lacks it).  A query
// n-gram of rank i that hits such a row costs every lane |i - r| where r is
// present; the lanes are summed with vector instructions, in 16 bits for as
// many hits as cannot overflow them and then in 32 bits.
#ifndef TAVIK_DENSE_ROWS_H
#define TAVIK_DENSE_ROWS_H

#include <cstddef>
#include <cstdint>

namespace tavik {

constexpr uint32_t kLaneGroup = 16;  // lanes are allocated in groups of 16
constexpr uint32_t kMaxLanes = 64;

// Per language: the sum of |i - r| over the rows that hold it, and the
// number of rows that did not.
struct DenseSums {
    uint32_t sum[kMaxLanes];
    uint32_t absent[kMaxLanes];
};

// Adds `n` hits: row `rows[k]` (`lanes` ranks below 2^15, a multiple of 16
// up to 64) met at query rank `ranks[k]` (1 to 2^15 - 1).  `flush` hits of
// the largest |i - r| must fit in 16 bits; every sum must fit in 32 bits.
void dense_add(const uint16_t *const *rows, const uint32_t *ranks, size_t n, uint32_t lanes,
               uint32_t flush, DenseSums &out);

// The builds of the kernel, slowest first; each computes the same sums.
enum class DenseKernel { generic, avx2, avx512 };

// Whether this CPU runs `kernel`.
bool dense_kernel_runs(DenseKernel kernel);

// dense_add with a chosen build, which must run here (dense_kernel_runs):
// for the tests, which hold every build to the same sums.
void dense_add_with(DenseKernel kernel, const uint16_t *const *rows, const uint32_t *ranks,
                    size_t n, uint32_t lanes, uint32_t flush, DenseSums &out);

// The same with the compilers' generic vectors, the build every CPU runs;
// dense_add picks the fastest build the CPU has.
void dense_add_generic(const uint16_t *const *rows, const uint32_t *ranks, size_t n, uint32_t lanes,
                       uint32_t flush, DenseSums &out);

}  // namespace tavik

#endif  // TAVIK_DENSE_ROWS_H
