// SPDX-License-Identifier: MIT
// score.cpp - the plain scoring, read first: the distance, the result order,
// confidence and margin.  See score.h for the contracts.

#include "score.h"

#include <algorithm>
#include <cstring>
#include <numeric>

namespace tavik {

double calc_distance(const tavik_lang &lang, const tavik_ngram_list &query, int32_t size_penalty,
                     int32_t penalty) {
    return out_of_place_distance(
        query.count, lang.ngrams.count, size_penalty, penalty,
        [&](uint64_t k) { return tavik_lang_lookup_rank(&lang, query.items[k].text); });
}

bool result_before(double distance_a, const char *code_a, int32_t lang_a, double distance_b,
                   const char *code_b, int32_t lang_b) {
    if (distance_a != distance_b) return distance_a < distance_b;
    const int c = std::strcmp(code_a, code_b);
    if (c != 0) return c < 0;
    return lang_a < lang_b;
}

void sort_results_plain(const tavik_profile &profile, const double *distances, tavik_result *out) {
    const int32_t n = profile.lang_count;
    int32_t order[TAVIK_MAX_LANGS];
    std::iota(order, order + n, 0);
    std::sort(order, order + n, [&](int32_t a, int32_t b) {
        return result_before(distances[a], profile.langs[a].code, a, distances[b],
                             profile.langs[b].code, b);
    });
    for (int32_t i = 0; i < n; ++i) {
        tavik_result &r = out[i];
        std::memcpy(r.code, profile.langs[order[i]].code, sizeof r.code);
        r.code[sizeof r.code - 1] = '\0';
        r.distance = distances[order[i]];
        r.confidence = 0.0;
    }
}

double rank_results(tavik_result *results, int32_t n) {
    if (n == 1) results[0].confidence = 1.0;
    if (n < 2) return 100.0;
    const double d1 = results[0].distance, d2 = results[1].distance;
    double margin = 100.0;
    double confidence = 1.0;
    if (d2 > 0) {
        const double g = (d2 - d1) / d2;
        margin = 100.0 * g;
        // A runner-up this close to 0 leaves the lead meaningless.
        if (d2 > 1e-12) confidence = std::clamp(g, 0.0, 1.0);
    }
    results[0].confidence = confidence;
    return margin;
}

}  // namespace tavik
