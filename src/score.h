// SPDX-License-Identifier: MIT
// score.h - the plain scoring: the out-of-place distance, the order of the
// results, and the winner's confidence and margin.
//
// This is the reference every faster path is held to.  score_index.cpp
// computes the same distances through a profile-wide index, result_sort.cpp
// the same order without comparing codes; the differential tests compare
// both with these functions on random profiles.
#ifndef TAVIK_SCORE_H
#define TAVIK_SCORE_H

#include <cstdint>

#include "tavik/tavik_api.h"

namespace tavik {

// The defaults of the six settings.
inline constexpr int32_t kDefaultMinNgrams = 40;
inline constexpr double kDefaultMinMargin = 2.0;  // percent
inline constexpr int32_t kDefaultSizePenalty = 0;
inline constexpr int32_t kDefaultMaxNgramLength = 5;
inline constexpr int32_t kDefaultMaxDistribution = 4000;
inline constexpr int32_t kDefaultOccuranceThreshold = 0;

// The rank charged for a query n-gram a language lacks, when the setting
// max_distribution is 0 (unlimited): the default list length.
inline constexpr int32_t kDefaultAbsentPenalty = kDefaultMaxDistribution;

// The absent penalty for a max_distribution setting.
inline int32_t absent_penalty_for(int32_t max_distribution) {
    return max_distribution > 0 ? max_distribution : kDefaultAbsentPenalty;
}

// Out-of-place distance between one language and a ranked query list: for
// the query n-gram of rank i, |i - its rank in the language|, or `penalty`
// when the language lacks it; plus |q - p| * penalty with `size_penalty`;
// divided by the longer list's length.  Two empty lists are at distance 0.
double calc_distance(const tavik_lang &lang, const tavik_ngram_list &query, int32_t size_penalty,
                     int32_t penalty);

// The terms of calc_distance in its order, for `q` query n-grams and a
// language of `p`, the rank of the query n-gram at index k being
// rank_of(k) (0: absent): one definition, so that every path that ranks
// n-grams its own way still rounds as calc_distance does.
template <class RankOf>
double out_of_place_distance(uint64_t q, uint64_t p, int32_t size_penalty, int32_t penalty,
                             RankOf rank_of) {
    double s = 0.0;
    if (size_penalty != 0) {
        const int64_t diff = static_cast<int64_t>(q) - static_cast<int64_t>(p);
        s = static_cast<double>(diff < 0 ? -diff : diff) * static_cast<double>(penalty);
    }
    if (q == 0 && p == 0) return 0.0;
    for (uint64_t i = 1; i <= q; ++i) {
        const int32_t r = rank_of(i - 1);
        if (r == 0) {
            s += penalty;
        } else {
            const int32_t d = static_cast<int32_t>(i) - r;
            s += d < 0 ? -d : d;
        }
    }
    return s / static_cast<double>(q > p ? q : p);
}

// The result order: ascending distance, then code bytewise, then the
// language's place in the profile.
bool result_before(double distance_a, const char *code_a, int32_t lang_a, double distance_b,
                   const char *code_b, int32_t lang_b);

// Fills `out` with the `n` languages of `profile` in result order, from
// their distances (profile order); every confidence 0.
void sort_results_plain(const tavik_profile &profile, const double *distances, tavik_result *out);

// Gives the winner of `n` sorted results its confidence and returns the
// margin in percent: with d1 <= d2 the two best distances, the lead
// g = (d2 - d1) / d2; the margin is 100 g and the confidence g clamped to
// [0, 1].  A single result has confidence 1; fewer than two results, or a
// runner-up at distance 0, leave the margin at 100.
double rank_results(tavik_result *results, int32_t n);

}  // namespace tavik

#endif  // TAVIK_SCORE_H
