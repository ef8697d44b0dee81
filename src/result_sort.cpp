// SPDX-License-Identifier: MIT
// result_sort.cpp - the result order without comparing codes or branching
// on distances.  Plain reference and tests: see result_sort.h.

#include "result_sort.h"

#include <climits>
#include <cstring>

namespace tavik {

namespace {

// A language's place in the results: its distance's bits (distances are
// finite and not negative, so the bits order as the values do), then its
// code's place in bytewise order, then its index.
struct Hit {
    uint64_t distance;
    uint64_t tie;
};

// The tie word: code place above the language's index.
constexpr uint32_t kTieLangBits = 8;
constexpr uint64_t kTieLangMask = (uint64_t{1} << kTieLangBits) - 1;
static_assert(TAVIK_MAX_LANGS <= kTieLangMask + 1);

// A sort key's low bits carry the hit's index, so that keys are distinct.
constexpr int32_t kKeyIndexBits = 6;
static_assert(TAVIK_MAX_LANGS <= (1 << kKeyIndexBits));

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
    // Non-negative floats order as their bits; INT32_MAX, past every
    // float's bits, pads the keys to 64 and is never below a key.
    alignas(16) int32_t key[TAVIK_MAX_LANGS];
    for (int32_t i = 0; i < n; ++i) {
        double d;
        std::memcpy(&d, &hits[i].distance, sizeof d);
        const auto f = static_cast<float>(d);
        int32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        key[i] = (bits & ~((1 << kKeyIndexBits) - 1)) | i;
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

}  // namespace

void code_places(const tavik_profile &p, uint8_t *places) {
    for (int32_t l = 0; l < p.lang_count; ++l) {
        places[l] = 0;
        for (int32_t m = 0; m < p.lang_count; ++m)
            places[l] += std::strcmp(p.langs[m].code, p.langs[l].code) < 0 ? 1 : 0;
    }
}

namespace {

// Sorts the `n` languages lang_of(0) .. lang_of(n - 1), ascending profile
// places, into `out`.  The tie word holds k, whose order is that of the
// places.
template <class LangOf>
inline void sort_langs(const tavik_profile &p, int32_t n, LangOf lang_of, const double *distances,
                       const uint8_t *code_order, tavik_result *out) {
    uint8_t places[TAVIK_MAX_LANGS];
    if (code_order == nullptr) {
        code_places(p, places);
        code_order = places;
    }
    Hit hits[TAVIK_MAX_LANGS], sorted[TAVIK_MAX_LANGS];
    for (int32_t k = 0; k < n; ++k) {
        const int32_t l = lang_of(k);
        uint64_t bits;
        std::memcpy(&bits, &distances[l], sizeof bits);
        hits[k] = Hit{bits, uint64_t{code_order[l]} << kTieLangBits | static_cast<uint64_t>(k)};
    }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
    // GCC cannot see that sort_hits reads only the n entries written above.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
    sort_hits(hits, n, sorted);
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
    for (int32_t i = 0; i < n; ++i) {
        const int32_t lang = lang_of(static_cast<int32_t>(sorted[i].tie & kTieLangMask));
        tavik_result &r = out[i];
        std::memcpy(r.code, p.langs[lang].code, sizeof r.code);
        r.code[sizeof r.code - 1] = '\0';
        r.confidence = 0.0;
        r.distance = distances[lang];
    }
}

}  // namespace

void sort_results(const tavik_profile &p, const double *distances, const uint8_t *code_order,
                  tavik_result *out) {
    sort_langs(
        p, p.lang_count, [](int32_t k) { return k; }, distances, code_order, out);
}

void sort_results_of(const tavik_profile &p, const int32_t *langs, int32_t n,
                     const double *distances, const uint8_t *code_order, tavik_result *out) {
    sort_langs(
        p, n, [langs](int32_t k) { return langs[k]; }, distances, code_order, out);
}

}  // namespace tavik
