// api_identify.cpp - identification: distances, ranking, margin and
// confidence, and the result accessors.

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

#include "api_internal.h"

using tavik::code_places;
using tavik::G;
using tavik::g_index;
using tavik::index_code_order;

namespace tavik {

// The reference form of the distance: one rank lookup per query n-gram.
// Identification computes the same values through the profile index.
double calc_distance(const tavik_lang &lang, const tavik_ngram_list &query, int32_t size_penalty,
                     int32_t penalty) {
    const uint64_t q = query.count, p = lang.ngrams.count;
    double s = 0.0;
    if (size_penalty != 0) {
        const int64_t diff = static_cast<int64_t>(q) - static_cast<int64_t>(p);
        s = static_cast<double>(diff < 0 ? -diff : diff) * static_cast<double>(penalty);
    }
    if (q == 0 && p == 0) return 0.0;
    for (uint64_t i = 1; i <= q; ++i) {
        const int32_t r = tavik_lang_lookup_rank(&lang, query.items[i - 1].text);
        if (r == 0) {
            s += penalty;
        } else {
            const int32_t d = static_cast<int32_t>(i) - r;
            s += d < 0 ? -d : d;
        }
    }
    return s / static_cast<double>(q > p ? q : p);
}

}  // namespace tavik

namespace {

bool valid_result(int32_t index) { return index >= 0 && index < G.result_count; }

// A language's place in the results: its distance's bits (distances are
// finite and not negative, so the bits order as the values do), then its
// code's place in bytewise order, then its index.
struct Hit {
    uint64_t distance;
    uint64_t tie;
};

inline bool before(const Hit &a, const Hit &b) {
    return (a.distance < b.distance) | ((a.distance == b.distance) & (a.tie < b.tie));
}

// Sorts the `n` (at most 64) hits into `out`.  Each hit's place is first
// counted from a 32-bit key, all pairs compared at once by vector lanes:
// the distance rounded to a float (which keeps the order, but may join
// near-equal distances) with its low 6 bits replaced by the hit's index,
// so that keys are distinct and their places a permutation.  A pass of
// insertion sort on the full order then mends what the rounding joined; on
// distances far apart it moves nothing.  Neither step branches on how the
// distances compare but that pass, whose branches are almost always taken
// the same way.
void sort_hits(const Hit *hits, int32_t n, Hit *out) {
    using Lanes = int32_t __attribute__((vector_size(16)));
    constexpr int32_t kLanes = 4;
    static_assert(TAVIK_MAX_LANGS <= 64);
    // Non-negative floats order as their bits; INT32_MAX, past every
    // float's bits, pads the keys to 64 and is never below a key.
    alignas(16) int32_t key[TAVIK_MAX_LANGS];
    for (int32_t i = 0; i < n; ++i) {
        double d;
        std::memcpy(&d, &hits[i].distance, sizeof d);
        const auto f = static_cast<float>(d);
        int32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        key[i] = (bits & ~63) | i;
    }
    for (int32_t i = n; i < TAVIK_MAX_LANGS; ++i) key[i] = INT32_MAX;
    Lanes keys[TAVIK_MAX_LANGS / kLanes];
    std::memcpy(keys, key, sizeof keys);
    for (int32_t i = 0; i < n; ++i) {
        const Lanes mine = Lanes{} + key[i];
        Lanes below{};
#pragma GCC unroll 16
        for (const Lanes &other : keys) below -= other < mine;  // true lanes are -1
        out[below[0] + below[1] + below[2] + below[3]] = hits[i];
    }
    for (int32_t i = 1; i < n; ++i) {
        const Hit h = out[i];
        int32_t j = i;
        for (; j > 0 && before(h, out[j - 1]); --j) out[j] = out[j - 1];
        out[j] = h;
    }
}

// Fills G.results with the languages sorted by ascending distance, then
// code bytewise.
void sort_results(const tavik_profile &p, const double *distances) {
    const int32_t n = p.lang_count;
    uint8_t places[TAVIK_MAX_LANGS];
    const uint8_t *code_order = index_code_order(g_index);
    if (code_order == nullptr) {
        code_places(p, places);
        code_order = places;
    }
    Hit hits[TAVIK_MAX_LANGS], sorted[TAVIK_MAX_LANGS];
    for (int32_t i = 0; i < n; ++i) {
        uint64_t bits;
        std::memcpy(&bits, &distances[i], sizeof bits);
        hits[i] = Hit{bits, uint64_t{code_order[i]} << 8 | static_cast<uint64_t>(i)};
    }
    sort_hits(hits, n, sorted);
    for (int32_t i = 0; i < n; ++i) {
        const auto lang = static_cast<int32_t>(sorted[i].tie & 0xFF);
        tavik_result &r = G.results[i];
        std::memcpy(r.code, p.langs[lang].code, sizeof r.code);
        r.code[sizeof r.code - 1] = '\0';
        r.confidence = 0.0;
        r.distance = distances[lang];
    }
    G.result_count = n;
}

// Gives the winner its confidence and returns the margin in percent.
double rank_results() {
    const int32_t n = G.result_count;
    if (n == 1) G.results[0].confidence = 1.0;
    if (n < 2) return 100.0;
    const double d1 = G.results[0].distance, d2 = G.results[1].distance;
    double margin = 100.0;
    double confidence = 1.0;
    if (d2 > 0) {
        const double g = (d2 - d1) / d2;
        margin = 100.0 * g;
        if (d2 > 1e-12) confidence = std::clamp(g, 0.0, 1.0);
    }
    G.results[0].confidence = confidence;
    return margin;
}

}  // namespace

extern "C" {

int32_t tavik_identify(const char *text) {
    tavik::ensure_defaults();
    G.result_count = 0;
    G.status = TAVIK_NO_PROFILE;
    if (G.profile == nullptr) {
        tavik::set_error("no profile");
        return TAVIK_NO_PROFILE;
    }
    if (text == nullptr) {
        tavik::set_error("null text");
        return TAVIK_INVALID;
    }
    const int32_t rc = tavik_extract_ngrams(text);
    if (rc != TAVIK_OK) {
        G.status = rc;
        return rc;
    }
    if (static_cast<int32_t>(G.query.count) < G.min_ngrams) {
        G.status = TAVIK_TOO_FEW_NGRAMS;
        tavik::set_error("too few ngrams");
        return TAVIK_TOO_FEW_NGRAMS;
    }
    const tavik_profile &p = *G.profile;
    double distances[TAVIK_MAX_LANGS];
    tavik::index_score(tavik::g_index, p, distances);
    sort_results(p, distances);
    const double margin = rank_results();
    if (G.result_count >= 2 && margin < G.min_margin) {
        G.status = TAVIK_AMBIGUOUS;
        tavik::set_error("ambiguous");
        return TAVIK_AMBIGUOUS;
    }
    tavik::set_error(nullptr);
    G.status = TAVIK_OK;
    return TAVIK_OK;
}

int32_t tavik_result_count(void) { return G.result_count; }

const char *tavik_result_code(int32_t index) {
    return valid_result(index) ? G.results[index].code : nullptr;
}

double tavik_result_distance(int32_t index) {
    return valid_result(index) ? G.results[index].distance : -1.0;
}

double tavik_result_confidence(int32_t index) {
    return valid_result(index) ? G.results[index].confidence : 0.0;
}

const char *tavik_best_code(void) {
    return G.status == TAVIK_OK && G.result_count > 0 ? G.results[0].code : nullptr;
}

}  // extern "C"
