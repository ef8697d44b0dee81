// SPDX-License-Identifier: MIT
// score_index.cpp - one index over all languages of the loaded profile.
//
// Scoring a query asks, for every query n-gram, its rank in every language.
// Instead of one probe per n-gram per language, the index maps each distinct
// n-gram text once to the languages that hold it and their ranks, and a
// language's absent n-grams are charged from the count of its hits.  A text
// held by many languages keeps its ranks as a row of 16-bit lanes, one per
// language, summed for all languages at once (score_dense_rows.h); the others keep
// postings, one (language, rank) pair each.  The ranks are those
// tavik_lang_lookup_rank answers (the lowest rank of a text repeated in one
// language), and the sums are exact integers divided once, so every distance
// is bit for bit that of calc_distance.
//
// Keys are found by linear probing over slots that hold them (ngram_key.h),
// with a tag byte per slot read 16 at a time: most n-grams the profile lacks
// are answered from the tags alone.  The slots are larger than the caches,
// so scoring fetches them a few n-grams ahead.

#include <cassert>
#include <cstdint>
#include <cstring>

#include "alloc.h"
#include "engine.h"
#include "hash.h"
#include "result_sort.h"
#include "score_dense_rows.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace tavik {

namespace {

// A posting: rank << kRankShift | last << kLangBits | language.
constexpr uint32_t kLangBits = 6;  // 64 languages
constexpr uint32_t kLangMask = (1u << kLangBits) - 1;
constexpr uint32_t kLastPosting = 1u << kLangBits;
constexpr uint32_t kRankShift = kLangBits + 1;
constexpr double kExactSumBound = 4503599627370496.0;  // 2^52
constexpr uint32_t kDense = 0x80000000u;               // a slot's ref: dense row, not postings
constexpr uint32_t kMaxRowRank = 0x7FFFu;  // the vector kernel's lanes hold less than 2^15

// A slot of the index.  A key of at most 16 bytes is its two words (its
// first byte is never 0, so lo is never 0); a longer one has lo 0, its
// text's arena offset and length in hi, and is confirmed by hash and bytes.
struct Slot {
    uint64_t lo, hi;
    uint32_t ref;  // 0 = free; kDense | row; or first posting + 1
    uint32_t hash;
};
static_assert(sizeof(Slot) == 24);

inline uint64_t next_slot(uint64_t i, uint64_t size) { return i + 1 == size ? 0 : i + 1; }

constexpr uint32_t kTagGroup = 16;

}  // namespace

struct ProfileIndex {
    Slot *slots = nullptr;
    uint8_t *tags = nullptr;  // size + 16: the first 16 repeated after the last
    uint64_t size = 0;
    char *arena = nullptr;  // texts of the keys longer than 16 bytes
    uint32_t *postings = nullptr;
    uint16_t *rows = nullptr;  // `lanes` ranks per dense row
    uint32_t lanes = 0;
    uint32_t max_row_rank = 0;            // the largest rank any row holds
    uint8_t code_order[TAVIK_MAX_LANGS];  // each language's place among the codes, bytewise
};

namespace {

// A tag per slot: 0 = free, else 0x80 | 7 low bits of the key's hash (the
// home slot comes from the high bits).  The tags of 16 slots are read at
// once, so most lookups of absent n-grams never touch a slot, and most
// others touch only the one that holds them.
inline uint8_t tag_of(uint32_t hash) { return static_cast<uint8_t>(0x80u | (hash & 0x7Fu)); }

// Bit t of *free / *same: tag t at `tags` is 0 / equals `tag`.
inline void scan_tags(const uint8_t *tags, uint8_t tag, uint32_t *free, uint32_t *same) {
#ifdef __SSE2__
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(tags));
    *free = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())));
    *same = static_cast<uint32_t>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(tag)))));
#else
    uint32_t f = 0, m = 0;
    for (uint32_t t = 0; t < kTagGroup; ++t) {
        f |= static_cast<uint32_t>(tags[t] == 0) << t;
        m |= static_cast<uint32_t>(tags[t] == tag) << t;
    }
    *free = f;
    *same = m;
#endif
}

inline bool holds(const ProfileIndex &ix, const Slot &s, const Key &k, const char *text) {
    if (k.len <= kKeyBytes) return (s.lo == k.lo) & (s.hi == k.hi);
    return s.lo == 0 && s.hash == k.hash && static_cast<uint32_t>(s.hi) == k.len &&
           bytes_equal(ix.arena + (s.hi >> 32), text, k.len);
}

// The ref of `k` (whose text is `text` and home slot `i`), or 0 when the
// profile lacks it.
uint32_t find_ref(const ProfileIndex &ix, const Key &k, const char *text, uint64_t i) {
    const uint8_t tag = tag_of(k.hash);
    for (;;) {
        uint32_t free, same;
        scan_tags(ix.tags + i, tag, &free, &same);
        // Slots past the first free one belong to other runs.
        same &= free != 0 ? (free & (0u - free)) - 1 : 0xFFFFu;
        for (; same != 0; same &= same - 1) {
            uint64_t at = i + static_cast<uint64_t>(__builtin_ctz(same));
            if (at >= ix.size) at %= ix.size;  // tables of fewer than 16 slots wrap more than once
            if (holds(ix, ix.slots[at], k, text)) return ix.slots[at].ref;
        }
        if (free != 0) return 0;
        i = (i + kTagGroup) % ix.size;
    }
}

// The refs of `n` query n-grams (entries[ranked[j]], texts `items`, home
// slots `home`) into `refs`, fetching each slot a few n-grams ahead.  A
// function of its own, so that its loop keeps what it needs in registers.
__attribute__((noinline)) void find_refs(const ProfileIndex &ix, const Counted *entries,
                                         const uint32_t *ranked, const struct tavik_ngram *items,
                                         const uint64_t *home, uint64_t n, uint32_t *refs) {
    constexpr uint64_t kAhead = 16;
    for (uint64_t j = 0; j < n && j < kAhead; ++j) __builtin_prefetch(&ix.slots[home[j]]);
    for (uint64_t j = 0; j < n; ++j) {
        if (j + kAhead < n) __builtin_prefetch(&ix.slots[home[j + kAhead]]);
        refs[j] = find_ref(ix, entries[ranked[j]].key(), items[j].text, home[j]);
    }
}

// Adds to each language's sum, for the `n` n-grams whose postings start at
// postings + first[j] and whose query rank is ranks[j], |i - r| - p.
__attribute__((noinline)) void add_postings(const uint32_t *postings, const uint32_t *first,
                                            const uint32_t *ranks, uint64_t n, int64_t p,
                                            int64_t *sum) {
    for (uint64_t j = 0; j < n; ++j) {
        const auto rank = static_cast<int64_t>(ranks[j]);
        for (const uint32_t *e = postings + first[j];; ++e) {
            const uint32_t post = *e;
            const int64_t d = rank - static_cast<int64_t>(post >> kRankShift);
            sum[post & kLangMask] += (d < 0 ? -d : d) - p;
            if ((post & kLastPosting) != 0) break;
        }
    }
}

// The build keeps no record per n-gram of the profile and no record per
// distinct text while the index is laid out: its largest scratch, the dedup
// table of the first pass, is released before the index is allocated, so
// that opening a profile costs at its peak little more than it holds after.

// A slot of the first pass's dedup table, one per distinct text: the text
// of its first instance, its hash, and `state`, 0 while the slot is free,
// else max_rank << kMaxRankShift | langs << kCountBits | mark: the largest
// of its languages' (lowest) ranks, the languages holding it, and the last
// language counted + 1.  Once every text is counted, `hash` becomes the
// text's note and `state` its ref with kUnmet (classify).
struct Distinct {
    const char *text;
    uint32_t hash;
    uint32_t state;
};
static_assert(sizeof(Distinct) == 16);
constexpr uint32_t kCountBits = 7;
constexpr uint32_t kCountMask = (1u << kCountBits) - 1;
constexpr uint32_t kMaxRankShift = 2 * kCountBits;
static_assert(TAVIK_MAX_LANGS < kCountMask);
static_assert(uint64_t{TAVIK_MAX_LANG_NGRAMS} < (uint64_t{1} << (32 - kMaxRankShift)));

// A ref whose text's first instance the second pass has not met yet.
// Posting refs stay far below it: a profile holds at most 64 * 100000
// n-grams.
constexpr uint32_t kUnmet = 0x40000000u;
static_assert(uint64_t{TAVIK_MAX_LANGS} * TAVIK_MAX_LANG_NGRAMS + 1 < kUnmet);

// What the first pass leaves for the second, one byte per n-gram of the
// profile: 0, or at the first instance of a text its number of languages,
// with kNoteDense when the text becomes a dense row.
constexpr uint8_t kNoteDense = 0x80;

// The scratch of a build, released whatever happens.
struct Build {
    Distinct *table = nullptr;
    uint64_t size = 0;
    uint8_t *note = nullptr;     // per n-gram of the profile, in file order
    uint32_t *ref_of = nullptr;  // per n-gram: its table slot, then its ref; ~0 for empty texts
    uint64_t total = 0;          // n-grams of the profile
    uint64_t keys = 0;
    uint64_t long_bytes = 0;  // texts of the keys longer than 16 bytes
    ~Build() {
        mem_free(table);
        mem_free(note);
        mem_free(ref_of);
    }
};

// Counts one instance, language `l` and rank `rank`, of the text in `d`.
void count_instance(Distinct &d, uint32_t l, uint32_t rank) {
    if ((d.state & kCountMask) == l + 1) return;  // a repeat: the lowest rank stands
    const uint32_t langs = ((d.state >> kCountBits) & kCountMask) + 1;
    uint32_t max_rank = d.state >> kMaxRankShift;
    if (rank > max_rank) max_rank = rank;
    d.state = max_rank << kMaxRankShift | langs << kCountBits | (l + 1);
}

// Pass 1: every n-gram's distinct text, the languages holding it and their
// largest rank.  Empty texts match no query and are left out.  The table
// has room for every n-gram being distinct, at most 80 % full.
bool gather(Build &b, const tavik_profile &p, uint64_t total) {
    b.total = total;
    b.size = total + total / 4 + 16;
    b.table = static_cast<Distinct *>(mem_calloc(b.size, sizeof(Distinct)));
    b.note = static_cast<uint8_t *>(mem_calloc(total + 1, 1));
    b.ref_of = static_cast<uint32_t *>(mem_malloc((total + 1) * sizeof(uint32_t)));
    if (b.table == nullptr || b.note == nullptr || b.ref_of == nullptr) return false;
    // The table is far larger than the caches: each n-gram's key is made
    // kAhead n-grams early and its home slot fetched, and kAhead / 2 early
    // the text that slot holds.
    constexpr uint64_t kAhead = 16;
    Key ring[kAhead];
    uint64_t at = 0;
    for (uint32_t l = 0; l < static_cast<uint32_t>(p.lang_count); ++l) {
        const tavik_ngram_list &list = p.langs[l].ngrams;
        auto make = [&](uint64_t r) {
            const char *text = list.items[r].text;
            const auto len = static_cast<uint32_t>(std::strlen(text));
            ring[r % kAhead] = len == 0 ? Key{0, 0, 0, 0} : key_of_bytes(text, len);
            __builtin_prefetch(&b.table[home_slot(ring[r % kAhead].hash, b.size)]);
        };
        for (uint64_t r = 0; r < list.count && r < kAhead; ++r) make(r);
        for (uint64_t r = 0; r < list.count; ++r, ++at) {
            if (r + kAhead / 2 < list.count) {
                const Distinct &near =
                    b.table[home_slot(ring[(r + kAhead / 2) % kAhead].hash, b.size)];
                if (near.state != 0) __builtin_prefetch(near.text);
            }
            const Key k = ring[r % kAhead];
            if (r + kAhead < list.count) make(r + kAhead);
            if (k.len == 0) {
                b.ref_of[at] = ~0u;
                continue;
            }
            const char *text = list.items[r].text;
            uint64_t i = home_slot(k.hash, b.size);
            while (b.table[i].state != 0 &&
                   (b.table[i].hash != k.hash || std::strcmp(b.table[i].text, text) != 0))
                i = next_slot(i, b.size);
            Distinct &d = b.table[i];
            if (d.state == 0) {
                d.text = text;
                d.hash = k.hash;
                ++b.keys;
                if (k.len > kKeyBytes) b.long_bytes += k.len;
            }
            count_instance(d, l, static_cast<uint32_t>(r + 1));
            b.ref_of[at] = static_cast<uint32_t>(i);
        }
    }
    return true;
}

struct Layout {
    uint64_t rows = 0;
    uint64_t postings = 0;
};

// Decides for every distinct text whether it becomes a row or postings and
// gives it its ref, turns every n-gram's table slot into its ref, notes at
// each text's first instance its languages and kind, and releases the
// dedup table.
Layout classify(Build &b, uint32_t dense_from, uint32_t *max_row_rank) {
    Layout out;
    for (uint64_t i = 0; i < b.size; ++i) {
        Distinct &d = b.table[i];
        if (d.state == 0) continue;
        const uint32_t langs = (d.state >> kCountBits) & kCountMask;
        const uint32_t max_rank = d.state >> kMaxRankShift;
        const bool dense = langs >= dense_from && max_rank <= kMaxRowRank;
        d.hash = langs | (dense ? kNoteDense : 0);
        if (dense) {
            d.state = kUnmet | kDense | static_cast<uint32_t>(out.rows++);
            if (max_rank > *max_row_rank) *max_row_rank = max_rank;
        } else {
            d.state = kUnmet | static_cast<uint32_t>(out.postings + 1);
            out.postings += langs;
        }
    }
    constexpr uint64_t kAhead = 16;
    for (uint64_t at = 0; at < b.total; ++at) {
        if (at + kAhead < b.total && b.ref_of[at + kAhead] != ~0u)
            __builtin_prefetch(&b.table[b.ref_of[at + kAhead]]);
        if (b.ref_of[at] == ~0u) continue;
        Distinct &d = b.table[b.ref_of[at]];
        if ((d.state & kUnmet) != 0) {
            d.state &= ~kUnmet;
            b.note[at] = static_cast<uint8_t>(d.hash);
        }
        b.ref_of[at] = d.state;
    }
    mem_free(b.table);
    b.table = nullptr;
    return out;
}

// Places the slot of a text met for the first time, and flags ahead the
// last of its postings (`note` tells how many).
void place_key(ProfileIndex &ix, const Key &k, const char *text, uint32_t ref, uint8_t note,
               uint64_t &arena_len) {
    if ((note & kNoteDense) == 0) ix.postings[ref - 1 + (note & kCountMask) - 1] = kLastPosting;
    Slot slot{k.lo, k.hi, ref, k.hash};
    if (k.len > kKeyBytes) {
        std::memcpy(ix.arena + arena_len, text, k.len);
        slot.lo = 0;
        slot.hi = arena_len << 32 | k.len;
        arena_len += k.len;
    }
    uint64_t i = home_slot(k.hash, ix.size);
    while (ix.tags[i] != 0) i = next_slot(i, ix.size);  // the tags stay in cache
    ix.slots[i] = slot;
    ix.tags[i] = tag_of(k.hash);
}

// Gives language `l` rank `rank` in the row or postings of `ref`, unless it
// has one already (a repeated text keeps its lowest rank, met first).  A
// posting of rank 0 is free; a full run holds every language of its text.
void place_rank(ProfileIndex &ix, uint32_t ref, uint32_t l, uint32_t rank) {
    if (ref == 0) return;
    if ((ref & kDense) != 0) {
        uint16_t &cell = ix.rows[uint64_t{ref & ~kDense} * ix.lanes + l];
        if (cell == 0) cell = static_cast<uint16_t>(rank);
        return;
    }
    for (uint32_t *e = ix.postings + ref - 1;; ++e) {
        const uint32_t v = *e;
        if ((v >> kRankShift) == 0) {
            *e = v | rank << kRankShift | l;
            return;
        }
        if ((v & kLangMask) == l || (v & kLastPosting) != 0) return;
    }
}

// Pass 2: a slot for each text at its first instance, rows and postings in
// language order.
void lay_out(const Build &b, const tavik_profile &p, ProfileIndex &ix) {
    uint64_t arena_len = 0, at = 0;
    constexpr uint64_t kAhead = 8;
    for (uint32_t l = 0; l < static_cast<uint32_t>(p.lang_count); ++l) {
        const tavik_ngram_list &list = p.langs[l].ngrams;
        for (uint64_t r = 0; r < list.count; ++r, ++at) {
            const uint32_t ahead = b.ref_of[at + kAhead < b.total ? at + kAhead : at];
            if (ahead != ~0u)
                __builtin_prefetch((ahead & kDense) != 0
                                       ? static_cast<const void *>(
                                             ix.rows + uint64_t{ahead & ~kDense} * ix.lanes + l)
                                       : static_cast<const void *>(ix.postings + ahead - 1));
            const uint32_t ref = b.ref_of[at];
            if (ref == ~0u) continue;
            const uint8_t note = b.note[at];
            if (note != 0) {
                const char *text = list.items[r].text;
                const auto len = static_cast<uint32_t>(std::strlen(text));
                place_key(ix, key_of_bytes(text, len), text, ref, note, arena_len);
            }
            place_rank(ix, ref, l, static_cast<uint32_t>(r + 1));
        }
    }
}

}  // namespace

ProfileIndex *index_build(const tavik_profile &p) {
    uint64_t total = 0;
    for (int32_t l = 0; l < p.lang_count; ++l) total += p.langs[l].ngrams.count;
    // Refs and arena offsets are 32-bit; a file of at most 64 MiB stays far below.
    if (total >= 0x7FFFFFFFu) return nullptr;
    Build b;
    if (!gather(b, p, total)) return nullptr;
    if (b.long_bytes >= 0xFFFFFFFFu) return nullptr;

    auto *ix = static_cast<ProfileIndex *>(mem_calloc(1, sizeof(ProfileIndex)));
    if (ix == nullptr) return nullptr;
    code_places(p, ix->code_order);
    // A row costs a few vector steps whatever it holds; postings cost one
    // step each and a branch that is hard to predict, so a text held by
    // more than about a tenth of the lanes (measured) becomes a row.
    ix->lanes = (static_cast<uint32_t>(p.lang_count) + kLaneGroup - 1) / kLaneGroup * kLaneGroup;
    const uint32_t dense_from = ix->lanes * 3 / 32 > 3 ? ix->lanes * 3 / 32 : 3;
    const Layout sizes = classify(b, dense_from, &ix->max_row_rank);
    ix->size = b.keys + b.keys / 2 + 1;
    ix->slots = static_cast<Slot *>(mem_calloc(ix->size, sizeof(Slot)));
    ix->tags = static_cast<uint8_t *>(mem_calloc(ix->size + kTagGroup, 1));
    ix->arena = static_cast<char *>(mem_malloc(b.long_bytes + 1));
    ix->postings = static_cast<uint32_t *>(mem_calloc(sizes.postings + 1, sizeof(uint32_t)));
    ix->rows = static_cast<uint16_t *>(mem_calloc(sizes.rows * ix->lanes + 1, sizeof(uint16_t)));
    if (ix->slots == nullptr || ix->tags == nullptr || ix->arena == nullptr ||
        ix->postings == nullptr || ix->rows == nullptr) {
        index_free(ix);
        return nullptr;
    }
    lay_out(b, p, *ix);
    for (uint64_t t = 0; t < kTagGroup; ++t) ix->tags[ix->size + t] = ix->tags[t % ix->size];
    return ix;
}

const uint8_t *index_code_order(const ProfileIndex *ix) {
    return ix != nullptr ? ix->code_order : nullptr;
}

void index_free(ProfileIndex *ix) {
    if (ix == nullptr) return;
    mem_free(ix->slots);
    mem_free(ix->tags);
    mem_free(ix->arena);
    mem_free(ix->postings);
    mem_free(ix->rows);
    mem_free(ix);
}

void index_score(const ProfileIndex *ix, const tavik_profile &p, const tavik_ngram_list &query,
                 const QueryEntries *entries, int32_t size_penalty, int32_t penalty,
                 double *distances) {
    const uint64_t q = query.count;
    // Sums stay exact in a double below 2^53 (kept below 2^52, a bit to
    // spare); beyond that only the one-by-one reference gives the same
    // rounding.
    const double qd = static_cast<double>(q);
    const double bound = qd * (qd + TAVIK_MAX_LANG_NGRAMS) +
                         (2.0 * qd + TAVIK_MAX_LANG_NGRAMS) * static_cast<double>(penalty);
    if (ix == nullptr || entries == nullptr || bound >= kExactSumBound) {
        for (int32_t l = 0; l < p.lang_count; ++l)
            distances[l] = calc_distance(p.langs[l], query, size_penalty, penalty);
        return;
    }
    const QueryEntries qe = *entries;  // keys made once, during extraction
    // A language starts charged P for every query n-gram; each n-gram it
    // holds then trades its P for |i - r|.  Postings add to one accumulator
    // per language; rows are summed by the vector kernel as long as query
    // ranks fit its lanes, one lane at a time beyond.
    int64_t sum[TAVIK_MAX_LANGS] = {};
    const int64_t p64 = penalty;
    const bool vector_rows = q <= kMaxRowRank;
    const uint32_t widest = q > ix->max_row_rank ? static_cast<uint32_t>(q) : ix->max_row_rank;
    const uint32_t flush = widest > 0 ? 0xFFFFu / widest : 0xFFFFu;
    // Each row adds at most `widest` to a 16-bit lane, so `flush` rows fit
    // before the lanes must be spilled; a row rank past 16 bits never takes
    // the vector path.
    assert(!vector_rows || (widest <= 0xFFFFu && flush >= 1));
    DenseSums dense{};
    uint64_t dense_hits = 0;
    constexpr uint64_t kChunk = 128;
    const uint16_t *row_of[kChunk];
    uint32_t row_rank[kChunk];
    uint32_t post_of[kChunk];
    uint32_t post_rank[kChunk];
    for (uint64_t base = 0; base < q; base += kChunk) {
        const uint64_t n = q - base < kChunk ? q - base : kChunk;
        const uint32_t *ranked = qe.ranked + base;
        // Find every n-gram of the chunk, fetching the slot of the one
        // kAhead places on, and sort the hits into rows and postings
        // without branching on which they are.
        uint64_t home[kChunk];
        for (uint64_t j = 0; j < n; ++j) home[j] = home_slot(qe.entries[ranked[j]].hash, ix->size);
        uint32_t refs[kChunk];
        find_refs(*ix, qe.entries, ranked, query.items + base, home, n, refs);
        uint64_t rows = 0, posts = 0;
        for (uint64_t j = 0; j < n; ++j) {
            const uint32_t ref = refs[j];
            const auto rank = static_cast<uint32_t>(base + j + 1);
            const bool dense = (ref & kDense) != 0;
            const uint16_t *row = ix->rows + uint64_t{ref & ~kDense} * ix->lanes;
            row_of[rows] = row;
            row_rank[rows] = rank;
            rows += dense ? 1 : 0;
            post_of[posts] = ref - 1;
            post_rank[posts] = rank;
            posts += !dense && ref != 0 ? 1 : 0;
            __builtin_prefetch(dense ? static_cast<const void *>(row)
                                     : static_cast<const void *>(ix->postings + ref - 1));
        }
        add_postings(ix->postings, post_of, post_rank, posts, p64, sum);
        if (vector_rows) {
            if (rows != 0) dense_add(row_of, row_rank, rows, ix->lanes, flush, dense);
            dense_hits += rows;
            continue;
        }
        // Query ranks past the lanes' range: one lane at a time.
        for (uint64_t j = 0; j < rows; ++j) {
            const auto rank = static_cast<int64_t>(row_rank[j]);
            for (uint32_t l = 0; l < static_cast<uint32_t>(p.lang_count); ++l) {
                if (row_of[j][l] == 0) continue;
                const int64_t d = rank - row_of[j][l];
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
        const int64_t held = static_cast<int64_t>(dense_hits - dense.absent[l]);
        int64_t s = sum[l] + static_cast<int64_t>(dense.sum[l]) - held * p64 +
                    static_cast<int64_t>(q) * p64;
        if (size_penalty != 0) {
            const int64_t diff = static_cast<int64_t>(q) - static_cast<int64_t>(n);
            s += (diff < 0 ? -diff : diff) * penalty;
        }
        distances[l] = static_cast<double>(s) / static_cast<double>(q > n ? q : n);
    }
}

}  // namespace tavik

namespace tavik {

// Both loads of a lookup: the tag group first read, and the home slot.
void index_prefetch(const ProfileIndex *ix, const QueryEntries &entries, uint64_t n) {
    if (ix == nullptr || ix->size == 0) return;
    for (uint64_t j = 0; j < n; ++j) {
        const uint64_t home = home_slot(entries.entries[entries.ranked[j]].hash, ix->size);
        __builtin_prefetch(ix->tags + home);
        __builtin_prefetch(&ix->slots[home]);
    }
}

}  // namespace tavik
