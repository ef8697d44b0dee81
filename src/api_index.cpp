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

constexpr uint32_t kLangBits = 6;  // 64 languages
constexpr uint32_t kLangMask = (1u << kLangBits) - 1;

inline bool bytes_equal(const char *a, const char *b, uint32_t n) {
    while (n >= 8) {
        uint64_t x, y;
        std::memcpy(&x, a, 8);
        std::memcpy(&y, b, 8);
        if (x != y) return false;
        a += 8;
        b += 8;
        n -= 8;
    }
    while (n-- > 0)
        if (*a++ != *b++) return false;
    return true;
}

}  // namespace

// Slots hold a text's hash and its key number; the keys' texts sit one
// after another in an arena of the index's own, so a probe reads two small
// arrays and one short text, all close together.
struct ProfileIndex {
    uint64_t *slots = nullptr;  // hash << 32 | key + 1; 0 = free
    uint64_t mask = 0;
    uint32_t keys = 0;
    uint32_t *text_off = nullptr;  // per key
    uint32_t *text_len = nullptr;  // per key
    uint32_t *begin = nullptr;     // per key + 1: its postings are begin[k] .. begin[k + 1]
    char *arena = nullptr;
    uint32_t *postings = nullptr;  // rank << kLangBits | language
};

namespace {

// The key number of `text`, or -1.
int64_t find(const ProfileIndex &ix, const char *text, uint32_t hash, uint32_t len) {
    uint64_t i = hash & ix.mask;
    for (;; i = (i + 1) & ix.mask) {
        const uint64_t s = ix.slots[i];
        if (s == 0) return -1;
        if (static_cast<uint32_t>(s >> 32) != hash) continue;
        const uint32_t k = static_cast<uint32_t>(s) - 1;
        if (ix.text_len[k] == len && bytes_equal(ix.arena + ix.text_off[k], text, len)) return k;
    }
}

// Pass 1 of the build: claims every distinct text, copying it into the
// arena, and counts its languages (`mark` remembers the last one + 1).
bool claim_keys(ProfileIndex &ix, const tavik_profile &p, uint32_t *count, uint8_t *mark) {
    uint64_t arena_len = 0;
    for (uint32_t l = 0; l < static_cast<uint32_t>(p.lang_count); ++l) {
        const tavik_ngram_list &list = p.langs[l].ngrams;
        for (uint64_t r = 0; r < list.count; ++r) {
            size_t n;
            const char *text = list.items[r].text;
            const uint32_t h = fnv1a_cstr(text, &n);
            const auto len = static_cast<uint32_t>(n);
            int64_t k = find(ix, text, h, len);
            if (k < 0) {
                k = ix.keys++;
                uint64_t i = h & ix.mask;
                while (ix.slots[i] != 0) i = (i + 1) & ix.mask;
                ix.slots[i] = uint64_t{h} << 32 | static_cast<uint64_t>(k + 1);
                ix.text_off[k] = static_cast<uint32_t>(arena_len);
                ix.text_len[k] = len;
                std::memcpy(ix.arena + arena_len, text, len);
                arena_len += len;
            }
            if (mark[k] != l + 1) {
                mark[k] = static_cast<uint8_t>(l + 1);
                ++count[k];
            }
        }
    }
    return true;
}

}  // namespace

ProfileIndex *index_build(const tavik_profile &p) {
    uint64_t total = 0, bytes = 0;
    for (int32_t l = 0; l < p.lang_count; ++l) {
        const tavik_ngram_list &list = p.langs[l].ngrams;
        total += list.count;
        for (uint64_t r = 0; r < list.count; ++r) bytes += std::strlen(list.items[r].text);
    }
    if (total >= 0xFFFFFFFFu || bytes >= 0xFFFFFFFFu) return nullptr;
    uint64_t size = 16;
    while (size < 2 * total + 16) size *= 2;

    auto *ix = static_cast<ProfileIndex *>(mem_calloc(1, sizeof(ProfileIndex)));
    if (ix == nullptr) return nullptr;
    const uint64_t cap = total + 1;
    ix->slots = static_cast<uint64_t *>(mem_calloc(size, sizeof(uint64_t)));
    ix->text_off = static_cast<uint32_t *>(mem_malloc(cap * sizeof(uint32_t)));
    ix->text_len = static_cast<uint32_t *>(mem_malloc(cap * sizeof(uint32_t)));
    ix->begin = static_cast<uint32_t *>(mem_calloc(cap, sizeof(uint32_t)));
    ix->arena = static_cast<char *>(mem_malloc(bytes + 1));
    ix->postings = static_cast<uint32_t *>(mem_malloc(cap * sizeof(uint32_t)));
    auto *mark = static_cast<uint8_t *>(mem_calloc(cap, 1));
    if (ix->slots == nullptr || ix->text_off == nullptr || ix->text_len == nullptr ||
        ix->begin == nullptr || ix->arena == nullptr || ix->postings == nullptr ||
        mark == nullptr) {
        mem_free(mark);
        index_free(ix);
        return nullptr;
    }
    ix->mask = size - 1;
    // begin[] first counts each key's languages, then becomes their offsets.
    claim_keys(*ix, p, ix->begin, mark);
    uint32_t next = 0;
    for (uint32_t k = 0; k < ix->keys; ++k) {
        const uint32_t c = ix->begin[k];
        ix->begin[k] = next;
        next += c;
    }
    ix->begin[ix->keys] = next;
    // Pass 2: postings in language order, each text's lowest rank only (the
    // rank tavik_lang_lookup_rank answers); `mark` is reused as a cursor
    // marker for the language last filled.
    std::memset(mark, 0, cap);
    for (uint32_t l = 0; l < static_cast<uint32_t>(p.lang_count); ++l) {
        const tavik_ngram_list &list = p.langs[l].ngrams;
        for (uint64_t r = 0; r < list.count; ++r) {
            size_t n;
            const char *text = list.items[r].text;
            const uint32_t h = fnv1a_cstr(text, &n);
            const auto k = static_cast<uint32_t>(find(*ix, text, h, static_cast<uint32_t>(n)));
            if (mark[k] == l + 1) continue;
            mark[k] = static_cast<uint8_t>(l + 1);
            ix->postings[ix->begin[k]++] = static_cast<uint32_t>(r + 1) << kLangBits | l;
        }
    }
    // The fill advanced each begin[k] to the end of its postings, which is
    // where key k + 1 begins: shift back by one key.
    for (uint32_t k = ix->keys; k > 0; --k) ix->begin[k] = ix->begin[k - 1];
    ix->begin[0] = 0;
    mem_free(mark);
    return ix;
}

void index_free(ProfileIndex *ix) {
    if (ix == nullptr) return;
    mem_free(ix->slots);
    mem_free(ix->text_off);
    mem_free(ix->text_len);
    mem_free(ix->begin);
    mem_free(ix->arena);
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
    const QueryKey *keys = query_keys();  // hashed once, during extraction
    for (uint64_t i = 0; i < q; ++i) {
        const char *text = query.items[i].text;
        uint32_t h, len;
        if (keys != nullptr) {
            h = keys[i].hash;
            len = keys[i].len;
        } else {
            size_t n;
            h = fnv1a_cstr(text, &n);
            len = static_cast<uint32_t>(n);
        }
        const int64_t k = find(*ix, text, h, len);
        if (k < 0) continue;
        const int64_t rank = static_cast<int64_t>(i + 1);
        for (uint32_t j = ix->begin[k]; j < ix->begin[k + 1]; ++j) {
            const uint32_t post = ix->postings[j];
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
