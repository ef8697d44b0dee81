// api_index.cpp - one index over all languages of the loaded profile.
//
// Scoring a query asks, for every query n-gram, its rank in every language.
// Instead of one probe per n-gram per language, the index maps each distinct
// n-gram text once to the (language, rank) pairs that hold it: a query
// n-gram costs one probe plus one step per language that has it, and a
// language's absent n-grams are charged from the count of its hits.  The
// ranks are those tavik_lang_lookup_rank answers (the lowest rank of a text
// repeated in one language), and the sums are exact integers divided once,
// so every distance is bit for bit that of calc_distance.

#include <cstdint>
#include <cstring>

#include "alloc.h"
#include "api_internal.h"
#include "hash.h"

namespace tavik {

namespace {

struct Key {
    const char *text;  // borrowed from the profile; nullptr = free slot
    uint32_t hash;
    uint32_t len;
    uint32_t begin;  // first posting
    uint32_t count;  // postings, one per language holding the text
};

constexpr uint32_t kLangBits = 6;  // 64 languages
constexpr uint32_t kLangMask = (1u << kLangBits) - 1;

}  // namespace

struct ProfileIndex {
    Key *keys = nullptr;
    uint64_t mask = 0;
    uint32_t *postings = nullptr;  // rank << kLangBits | language
};

namespace {

Key *find_or_claim(ProfileIndex &ix, const char *text, uint32_t hash, uint32_t len) {
    uint64_t i = hash & ix.mask;
    for (;; i = (i + 1) & ix.mask) {
        Key &k = ix.keys[i];
        if (k.text == nullptr) {
            k = Key{text, hash, len, 0, 0};
            return &k;
        }
        if (k.hash == hash && k.len == len && std::memcmp(k.text, text, len) == 0) return &k;
    }
}

const Key *find(const ProfileIndex &ix, const char *text, uint32_t hash, uint32_t len) {
    uint64_t i = hash & ix.mask;
    for (;; i = (i + 1) & ix.mask) {
        const Key &k = ix.keys[i];
        if (k.text == nullptr) return nullptr;
        if (k.hash == hash && k.len == len && std::memcmp(k.text, text, len) == 0) return &k;
    }
}

// Whether the last posting of `k` belongs to `lang`: the languages are
// walked in order, so a text repeated within one language shows up so.
bool last_is(const ProfileIndex &ix, const Key &k, uint32_t filled, uint32_t lang) {
    return filled > 0 && (ix.postings[k.begin + filled - 1] & kLangMask) == lang;
}

}  // namespace

ProfileIndex *index_build(const tavik_profile &p) {
    uint64_t total = 0;
    for (int32_t l = 0; l < p.lang_count; ++l) total += p.langs[l].ngrams.count;
    uint64_t size = 16;
    while (size < 2 * total + 16) size *= 2;

    auto *ix = static_cast<ProfileIndex *>(mem_calloc(1, sizeof(ProfileIndex)));
    if (ix == nullptr) return nullptr;
    ix->keys = static_cast<Key *>(mem_calloc(size, sizeof(Key)));
    ix->postings = static_cast<uint32_t *>(mem_malloc((total == 0 ? 1 : total) * sizeof(uint32_t)));
    if (ix->keys == nullptr || ix->postings == nullptr) {
        index_free(ix);
        return nullptr;
    }
    ix->mask = size - 1;

    // Pass 1: claim every distinct text and reserve its postings; `count`
    // doubles as the marker of the last language seen (language + 1).
    for (uint32_t l = 0; l < static_cast<uint32_t>(p.lang_count); ++l) {
        const tavik_ngram_list &list = p.langs[l].ngrams;
        for (uint64_t r = 0; r < list.count; ++r) {
            size_t len;
            const char *text = list.items[r].text;
            const uint32_t h = fnv1a_cstr(text, &len);
            Key *k = find_or_claim(*ix, text, h, static_cast<uint32_t>(len));
            if (k->begin != l + 1) {
                k->begin = l + 1;
                ++k->count;
            }
        }
    }
    uint32_t next = 0;
    for (uint64_t i = 0; i <= ix->mask; ++i) {
        Key &k = ix->keys[i];
        if (k.text == nullptr) continue;
        k.begin = next;
        next += k.count;
        k.count = 0;
    }
    // Pass 2: fill the postings in language order, lowest rank first.
    for (uint32_t l = 0; l < static_cast<uint32_t>(p.lang_count); ++l) {
        const tavik_ngram_list &list = p.langs[l].ngrams;
        for (uint64_t r = 0; r < list.count; ++r) {
            size_t len;
            const char *text = list.items[r].text;
            const uint32_t h = fnv1a_cstr(text, &len);
            Key *k = find_or_claim(*ix, text, h, static_cast<uint32_t>(len));
            if (last_is(*ix, *k, k->count, l)) continue;
            ix->postings[k->begin + k->count++] = static_cast<uint32_t>(r + 1) << kLangBits | l;
        }
    }
    return ix;
}

void index_free(ProfileIndex *ix) {
    if (ix == nullptr) return;
    mem_free(ix->keys);
    mem_free(ix->postings);
    mem_free(ix);
}

void index_score(const ProfileIndex *ix, const tavik_profile &p, double *distances) {
    const tavik_ngram_list &query = G.query;
    const int32_t penalty = absent_penalty();
    const uint64_t q = query.count;
    // Sums stay exact in a double below 2^53; beyond that only the
    // one-by-one reference gives the same rounding.
    const double qd = static_cast<double>(q);
    const double bound = qd * (qd + TAVIK_MAX_LANG_NGRAMS) +
                         (2.0 * qd + TAVIK_MAX_LANG_NGRAMS) * static_cast<double>(penalty);
    if (ix == nullptr || bound >= 4503599627370496.0) {
        for (int32_t l = 0; l < p.lang_count; ++l)
            distances[l] = calc_distance(p.langs[l], query, G.size_penalty, penalty);
        return;
    }
    int64_t sum[TAVIK_MAX_LANGS] = {};
    uint32_t hits[TAVIK_MAX_LANGS] = {};
    for (uint64_t i = 0; i < q; ++i) {
        size_t len;
        const char *text = query.items[i].text;
        const uint32_t h = fnv1a_cstr(text, &len);
        const Key *k = find(*ix, text, h, static_cast<uint32_t>(len));
        if (k == nullptr) continue;
        const int64_t rank = static_cast<int64_t>(i + 1);
        for (uint32_t j = 0; j < k->count; ++j) {
            const uint32_t post = ix->postings[k->begin + j];
            const uint32_t l = post & kLangMask;
            const int64_t d = rank - static_cast<int64_t>(post >> kLangBits);
            sum[l] += d < 0 ? -d : d;
            ++hits[l];
        }
    }
    for (int32_t l = 0; l < p.lang_count; ++l) {
        const uint64_t n = p.langs[l].ngrams.count;
        if (q == 0 && n == 0) {
            distances[l] = 0.0;
            continue;
        }
        int64_t s = sum[l] + static_cast<int64_t>(q - hits[l]) * penalty;
        if (G.size_penalty != 0) {
            const int64_t diff = static_cast<int64_t>(q) - static_cast<int64_t>(n);
            s += (diff < 0 ? -diff : diff) * penalty;
        }
        distances[l] = static_cast<double>(s) / static_cast<double>(q > n ? q : n);
    }
}

}  // namespace tavik
