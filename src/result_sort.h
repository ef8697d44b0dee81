// SPDX-License-Identifier: MIT
// result_sort.h - the fast path of the result order.
//
// Plain reference: sort_results_plain (score.h).  Held to it by
// Results.DistancesApartByLessThanAFloatStillOrder, the tie tests of
// test_identify.cpp and the differential tests, which compare every result
// list with one sorted by result_before.
#ifndef TAVIK_RESULT_SORT_H
#define TAVIK_RESULT_SORT_H

#include <cstdint>

#include "tavik/tavik_api.h"

namespace tavik {

// Each language's place in bytewise order of the codes (equal codes share
// one) into places[0 .. lang_count - 1].
void code_places(const tavik_profile &profile, uint8_t *places);

// Fills `out` with the languages of `profile` in result order, from their
// distances (profile order) and their codes' places (code_places; computed
// here when `code_order` is nullptr); every confidence 0.
void sort_results(const tavik_profile &profile, const double *distances, const uint8_t *code_order,
                  tavik_result *out);

// The same for the `n` languages at profile places langs[0 .. n - 1]
// (ascending) alone: the order a profile holding only them gives.
void sort_results_of(const tavik_profile &profile, const int32_t *langs, int32_t n,
                     const double *distances, const uint8_t *code_order, tavik_result *out);

}  // namespace tavik

#endif  // TAVIK_RESULT_SORT_H
