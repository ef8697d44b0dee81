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
//
// The index is larger than the caches, so scoring walks the query in chunks
// and in stages, each stage prefetching what the next one reads: the slot,
// then the key, then the key's text and postings.

#include <cstdint>
#include <cstring>

#include "alloc.h"
#include "api_internal.h"
#include "hash.h"

namespace tavik {

namespace {

constexpr uint32_t kLangBits = 6;  // 64 languages
constexpr uint32_t kLangMask = (1u << kLangBits) - 1;
constexpr uint64_t kMaxKeys = (uint64_t{1} << 24) - 2;  // key + 1 fills 24 bits of a slot


// A slot: hash << 32 | min(length, 255) << 24 | key + 1; 0 = free.
inline uint64_t slot_of(uint32_t hash, uint32_t len, uint64_t key) {
    return uint64_t{hash} << 32 | uint64_t{len < 255 ? len : 255} << 24 | (key + 1);
}
inline uint64_t slot_tag(uint32_t hash, uint32_t len) { return slot_of(hash, len, 0) >> 24; }

struct KeyInfo {
    uint32_t off;    // text in the arena; the next key's off ends it
    uint32_t begin;  // first posting; the next key's begin ends them
};

}  // namespace

struct ProfileIndex {
    uint64_t *slots = nullptr;
    uint64_t mask = 0;
    uint64_t keys = 0;
    KeyInfo *info = nullptr;  // keys + 1 entries, the last a sentinel
    char *arena = nullptr;
    uint32_t *postings = nullptr;  // rank << kLangBits | language
};

namespace {

bool key_is(const ProfileIndex &ix, uint64_t k, const char *text, uint32_t len) {
    const KeyInfo &a = ix.info[k];
    return ix.info[k + 1].off - a.off == len && bytes_equal(ix.arena + a.off, text, len);
}

// The key of `text`, probing from slot `i`; -1 when absent.
int64_t find_from(const ProfileIndex &ix, uint64_t i, const char *text, uint32_t hash,
                  uint32_t len) {
    const uint64_t tag = slot_tag(hash, len);
    for (;; i = (i + 1) & ix.mask) {
        const uint64_t s = ix.slots[i];
        if (s == 0) return -1;
        if ((s >> 24) != tag) continue;
        const uint64_t k = (s & 0xFFFFFFu) - 1;
        if (key_is(ix, k, text, len)) return static_cast<int64_t>(k);
    }
}

int64_t find(const ProfileIndex &ix, const char *text, uint32_t hash, uint32_t len) {
    return find_from(ix, hash & ix.mask, text, hash, len);
}

// Pass 1 of the build: claims every distinct text, copying it into the
// arena in key order, and counts the languages holding it (`mark` keeps the
// last language + 1).
void claim_keys(ProfileIndex &ix, const tavik_profile &p, uint32_t *count, uint8_t *mark,
                uint32_t *key_of) {
    uint32_t arena_len = 0;
    ix.info[0] = KeyInfo{0, 0};
    for (uint32_t l = 0; l < static_cast<uint32_t>(p.lang_count); ++l) {
        const tavik_ngram_list &list = p.langs[l].ngrams;
        for (uint64_t r = 0; r < list.count; ++r) {
            size_t n;
            const char *text = list.items[r].text;
            const uint32_t h = fnv1a_cstr(text, &n);
            const auto len = static_cast<uint32_t>(n);
            int64_t k = find(ix, text, h, len);
            if (k < 0) {
                k = static_cast<int64_t>(ix.keys++);
                uint64_t i = h & ix.mask;
                while (ix.slots[i] != 0) i = (i + 1) & ix.mask;
                ix.slots[i] = slot_of(h, len, static_cast<uint64_t>(k));
                std::memcpy(ix.arena + arena_len, text, len);
                arena_len += len;
                ix.info[k + 1] = KeyInfo{arena_len, 0};
            }
            *key_of++ = static_cast<uint32_t>(k);
            if (mark[k] != l + 1) {
                mark[k] = static_cast<uint8_t>(l + 1);
                ++count[k];
            }
        }
    }
}

}  // namespace

ProfileIndex *index_build(const tavik_profile &p) {
    uint64_t total = 0, bytes = 0;
    for (int32_t l = 0; l < p.lang_count; ++l) {
        const tavik_ngram_list &list = p.langs[l].ngrams;
        total += list.count;
        for (uint64_t r = 0; r < list.count; ++r) bytes += std::strlen(list.items[r].text);
    }
    if (total > kMaxKeys || bytes >= 0xFFFFFFFFu) return nullptr;
    uint64_t size = 16;
    while (size < 2 * total + 16) size *= 2;

    auto *ix = static_cast<ProfileIndex *>(mem_calloc(1, sizeof(ProfileIndex)));
    if (ix == nullptr) return nullptr;
    const uint64_t cap = total + 1;
    ix->slots = static_cast<uint64_t *>(mem_calloc(size, sizeof(uint64_t)));
    ix->info = static_cast<KeyInfo *>(mem_malloc(cap * sizeof(KeyInfo)));
    ix->arena = static_cast<char *>(mem_malloc(bytes + 1));
    ix->postings = static_cast<uint32_t *>(mem_malloc(cap * sizeof(uint32_t)));
    auto *count = static_cast<uint32_t *>(mem_calloc(cap, sizeof(uint32_t)));
    auto *mark = static_cast<uint8_t *>(mem_calloc(cap, 1));
    auto *key_of = static_cast<uint32_t *>(mem_malloc(cap * sizeof(uint32_t)));  // per n-gram
    if (ix->slots == nullptr || ix->info == nullptr || ix->arena == nullptr ||
        ix->postings == nullptr || count == nullptr || mark == nullptr || key_of == nullptr) {
        mem_free(count);
        mem_free(mark);
        mem_free(key_of);
        index_free(ix);
        return nullptr;
    }
    ix->mask = size - 1;
    claim_keys(*ix, p, count, mark, key_of);
    uint32_t next = 0;
    for (uint64_t k = 0; k < ix->keys; ++k) {
        ix->info[k].begin = next;
        next += count[k];
        count[k] = ix->info[k].begin;  // becomes the fill cursor
    }
    ix->info[ix->keys].begin = next;
    // Pass 2: postings in language order, each text's lowest rank only (the
    // rank tavik_lang_lookup_rank answers).
    std::memset(mark, 0, cap);
    const uint32_t *next_key = key_of;
    for (uint32_t l = 0; l < static_cast<uint32_t>(p.lang_count); ++l) {
        const tavik_ngram_list &list = p.langs[l].ngrams;
        for (uint64_t r = 0; r < list.count; ++r) {
            const uint32_t k = *next_key++;
            if (mark[k] == l + 1) continue;
            mark[k] = static_cast<uint8_t>(l + 1);
            ix->postings[count[k]++] = static_cast<uint32_t>(r + 1) << kLangBits | l;
        }
    }
    mem_free(count);
    mem_free(mark);
    mem_free(key_of);
    return ix;
}

void index_free(ProfileIndex *ix) {
    if (ix == nullptr) return;
    mem_free(ix->slots);
    mem_free(ix->info);
    mem_free(ix->arena);
    mem_free(ix->postings);
    mem_free(ix);
}

void index_score(const ProfileIndex *ix, const tavik_profile &p, double *distances) {
    const tavik_ngram_list &query = G.query;
    const int32_t penalty = absent_penalty();
    const uint64_t q = query.count;
    const QueryKey *keys = query_keys();  // hashed once, during extraction
    // Sums stay exact in a double below 2^53; beyond that only the
    // one-by-one reference gives the same rounding.
    const double qd = static_cast<double>(q);
    const double bound = qd * (qd + TAVIK_MAX_LANG_NGRAMS) +
                         (2.0 * qd + TAVIK_MAX_LANG_NGRAMS) * static_cast<double>(penalty);
    if (ix == nullptr || keys == nullptr || bound >= 4503599627370496.0) {
        for (int32_t l = 0; l < p.lang_count; ++l)
            distances[l] = calc_distance(p.langs[l], query, G.size_penalty, penalty);
        return;
    }
    // A language starts charged P for every query n-gram; each n-gram it
    // holds then trades its P for |i - r|.  One accumulator per language.
    int64_t sum[TAVIK_MAX_LANGS] = {};
    const int64_t p64 = penalty;
    constexpr uint64_t kChunk = 128;
    int64_t cand[kChunk];  // candidate slot of each n-gram of the chunk, or -1
    for (uint64_t base = 0; base < q; base += kChunk) {
        const uint64_t n = q - base < kChunk ? q - base : kChunk;
        const QueryKey *kk = keys + base;
        for (uint64_t j = 0; j < n; ++j) __builtin_prefetch(&ix->slots[kk[j].hash & ix->mask]);
        // Stage 1: the first slot whose hash and length match.
        for (uint64_t j = 0; j < n; ++j) {
            const uint64_t tag = slot_tag(kk[j].hash, kk[j].len);
            uint64_t i = kk[j].hash & ix->mask;
            cand[j] = -1;
            for (uint64_t s; (s = ix->slots[i]) != 0; i = (i + 1) & ix->mask) {
                if ((s >> 24) != tag) continue;
                cand[j] = static_cast<int64_t>(i);
                __builtin_prefetch(&ix->info[(s & 0xFFFFFFu) - 1]);
                break;
            }
        }
        // Stage 2: the key's text and postings.
        for (uint64_t j = 0; j < n; ++j) {
            if (cand[j] < 0) continue;
            const KeyInfo &info = ix->info[(ix->slots[cand[j]] & 0xFFFFFFu) - 1];
            __builtin_prefetch(ix->arena + info.off);
            __builtin_prefetch(ix->postings + info.begin);
        }
        // Stage 3: confirm the text (probing on after a rare collision) and
        // charge every language holding it.
        for (uint64_t j = 0; j < n; ++j) {
            if (cand[j] < 0) continue;
            const char *text = query.items[base + j].text;
            const auto i = static_cast<uint64_t>(cand[j]);
            int64_t k = static_cast<int64_t>((ix->slots[i] & 0xFFFFFFu) - 1);
            if (!key_is(*ix, static_cast<uint64_t>(k), text, kk[j].len))
                k = find_from(*ix, (i + 1) & ix->mask, text, kk[j].hash, kk[j].len);
            if (k < 0) continue;
            const auto rank = static_cast<int64_t>(base + j + 1);
            const uint32_t end = ix->info[k + 1].begin;
            for (uint32_t e = ix->info[k].begin; e < end; ++e) {
                const uint32_t post = ix->postings[e];
                const uint32_t l = post & kLangMask;
                const int64_t d = rank - static_cast<int64_t>(post >> kLangBits);
                sum[l] += (d < 0 ? -d : d) - p64;
            }
        }
    }
    for (int32_t l = 0; l < p.lang_count; ++l) {
        const uint64_t n = p.langs[l].ngrams.count;
        if (q == 0 && n == 0) {
            distances[l] = 0.0;
            continue;
        }
        int64_t s = sum[l] + static_cast<int64_t>(q) * p64;
        if (G.size_penalty != 0) {
            const int64_t diff = static_cast<int64_t>(q) - static_cast<int64_t>(n);
            s += (diff < 0 ? -diff : diff) * penalty;
        }
        distances[l] = static_cast<double>(s) / static_cast<double>(q > n ? q : n);
    }
}

}  // namespace tavik
