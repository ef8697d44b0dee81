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
// Keys live in 16-byte entries, four to a 64-byte bucket, found by linear
// probing over buckets: a lookup reads the one cache line of its home
// bucket unless that bucket filled up when the index was built.  An entry
// holds a key of at most 12 bytes itself; a longer one keeps its length and
// arena place, and is confirmed by hash and bytes.  A text only one
// language holds (most of a profile's texts) carries that language and rank
// in its ref, so it needs no second load.  The buckets are larger than the
// caches, so scoring fetches them a few n-grams ahead, and the postings and
// rows of a chunk's hits before it sums them.

#include <cassert>
#include <cstdint>
#include <cstring>

#include "alloc.h"
#include "engine.h"
#include "hash.h"
#include "relatives.h"
#include "result_sort.h"
#include "score_dense_rows.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#elif defined(__SSE2__)
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
// An entry's ref: kDense | row; kInline | the one posting of a text one
// language holds; or first posting + 1.  0 = absent.
constexpr uint32_t kDense = 0x80000000u;
constexpr uint32_t kInline = 0x40000000u;
constexpr uint32_t kMaxRowRank = 0x7FFFu;  // the vector kernel's lanes hold less than 2^15
static_assert((uint64_t{TAVIK_MAX_LANG_NGRAMS} << kRankShift) < kInline);

// Keys of at most kShortBytes bytes are held in the entry itself.
constexpr uint32_t kShortBytes = 12;

// An entry of the index.  A short key is its first word and the next four
// bytes of its second (the rest of which is zero padding).  A long key has
// a first word whose first byte is 0, which no text starts with, its length
// and arena place in the others, and its hash in `mid`.  An entry whose
// first word is 0 is free.
struct Entry {
    uint64_t word;
    uint32_t mid;
    uint32_t ref;
};
static_assert(sizeof(Entry) == 16);

constexpr uint32_t kBucketEntries = 4;
struct alignas(64) Bucket {
    Entry e[kBucketEntries];
};
static_assert(sizeof(Bucket) == 64);

// Bytes 8 to 11 of a key: the part of its second word a short entry keeps.
inline uint32_t key_mid(uint64_t hi) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return static_cast<uint32_t>(hi >> 32);
#else
    return static_cast<uint32_t>(hi);
#endif
}

// A long entry's first word: the length and arena place above (on a big
// endian machine: below) the byte where a text's first byte would be.
constexpr uint32_t kFirstByteShift = KeyMasks::shift(0);
constexpr uint32_t kLongField = kFirstByteShift == 0 ? 8 : 0;
inline uint64_t long_word(uint32_t len, uint64_t place) { return (place << 8 | len) << kLongField; }
inline bool is_long(uint64_t word) { return ((word >> kFirstByteShift) & 0xFF) == 0; }
inline uint32_t long_len(uint64_t word) { return (word >> kLongField) & 0xFF; }
inline uint64_t long_place(uint64_t word) { return word >> kLongField >> 8; }

inline uint64_t next_slot(uint64_t i, uint64_t size) { return i + 1 == size ? 0 : i + 1; }

}  // namespace

struct ProfileIndex {
    Bucket *buckets = nullptr;  // aligned within `bucket_block`
    void *bucket_block = nullptr;
    uint64_t bucket_count = 0;
    char *arena = nullptr;  // texts of the keys longer than kShortBytes
    uint32_t *postings = nullptr;
    uint16_t *rows = nullptr;  // `lanes` ranks per dense row
    uint32_t lanes = 0;
    uint32_t max_row_rank = 0;            // the largest rank any row holds
    uint8_t code_order[TAVIK_MAX_LANGS];  // each language's place among the codes, bytewise
    Relatives *relatives = nullptr;       // the profile's close relatives, if it names any
};

namespace {

// The ref of a key longer than kShortBytes (few: most scripts' n-grams fit
// 12 bytes); see find_ref.
inline uint32_t find_long_ref(const ProfileIndex &ix, const Key &k, const char *text, uint64_t b) {
    for (;; b = next_slot(b, ix.bucket_count)) {
        for (const Entry &e : ix.buckets[b].e) {
            if (e.word == 0) return 0;
            if (e.mid == k.hash && is_long(e.word) && long_len(e.word) == k.len &&
                bytes_equal(ix.arena + long_place(e.word), text, k.len))
                return e.ref;
        }
    }
}

// The ref of `k` (whose text is `text` and home bucket `b`), or 0 when the
// profile lacks it.  Buckets fill in order and never lose an entry, so a
// free entry ends the search: a key placed later would have taken it.
inline uint32_t find_ref(const ProfileIndex &ix, const Key &k, const char *text, uint64_t b) {
    if (k.len <= kShortBytes) {
        const uint32_t mid = key_mid(k.hi);
#ifdef __SSE2__
        // The four entries are compared at once, without a branch on where
        // in its bucket a key sits (which no predictor learns): an entry
        // matches when its first three 32-bit lanes equal the key's.  A
        // bucket fills in order, so it has a free entry when its last is.
        const __m128i want = _mm_set_epi32(0, static_cast<int>(mid), static_cast<int>(k.lo >> 32),
                                           static_cast<int>(k.lo));
        for (;; b = next_slot(b, ix.bucket_count)) {
            const Bucket &bucket = ix.buckets[b];
            const auto *e = reinterpret_cast<const __m128i *>(bucket.e);
            const auto lanes = [&](uint32_t t) {
                return static_cast<uint32_t>(_mm_movemask_ps(
                    _mm_castsi128_ps(_mm_cmpeq_epi32(_mm_load_si128(e + t), want))));
            };
            uint32_t same = lanes(0) | lanes(1) << 4 | lanes(2) << 8 | lanes(3) << 12;
            same &= (same >> 1) & (same >> 2) & 0x1111u;
            if (same != 0) return bucket.e[__builtin_ctz(same) / 4].ref;
            if (bucket.e[kBucketEntries - 1].word == 0) return 0;
        }
#else
        for (;; b = next_slot(b, ix.bucket_count)) {
            for (const Entry &e : ix.buckets[b].e) {
                if (e.word == k.lo && e.mid == mid) return e.ref;
                if (e.word == 0) return 0;
            }
        }
#endif
    }
    return find_long_ref(ix, k, text, b);
}

// Where the postings or row of `ref` start (for an
// inline posting or none: any place will do).  Computed on addresses, not
// pointers, and without a branch: only a fetch reads it.
inline const void *ref_data(const ProfileIndex &ix, uint32_t ref) {
    const auto rows = reinterpret_cast<uintptr_t>(ix.rows) +
                      uintptr_t{ref & ~kDense} * ix.lanes * sizeof(uint16_t);
    const auto posts = reinterpret_cast<uintptr_t>(ix.postings) + uintptr_t{ref} * sizeof(uint32_t);
    return reinterpret_cast<const void *>((ref & kDense) != 0 ? rows : posts);
}

// The refs of `n` query n-grams (entries[ranked[j]], texts `items`, home
// buckets `home`) into `refs`, fetching each bucket a few n-grams ahead.
// (Fetching each hit's postings here too, as soon as its ref is known, made
// scoring 10 % slower.)  A function of its own, so that its loop keeps what
// it needs in registers.
__attribute__((noinline)) void find_refs(const ProfileIndex &ix, const Counted *entries,
                                         const uint32_t *ranked, const struct tavik_ngram *items,
                                         const uint64_t *home, uint64_t n, uint32_t *refs) {
    constexpr uint64_t kAhead = 16;
    for (uint64_t j = 0; j < n && j < kAhead; ++j) __builtin_prefetch(&ix.buckets[home[j]]);
    for (uint64_t j = 0; j < n; ++j) {
        if (j + kAhead < n) __builtin_prefetch(&ix.buckets[home[j + kAhead]]);
        const uint32_t ref = find_ref(ix, entries[ranked[j]].key(), items[j].text, home[j]);
        refs[j] = ref;
    }
}

#if defined(__x86_64__) || defined(__i386__)
#define TAVIK_PROBE_AVX512 1
// find_refs for CPUs with AVX-512: a bucket is one 512-bit load and one
// compare that yields a bit per 32-bit lane, a third of the SSE2 steps.
__attribute__((noinline, target("avx512f"))) void
find_refs_avx512(const ProfileIndex &ix, const Counted *entries, const uint32_t *ranked,
                 const struct tavik_ngram *items, const uint64_t *home, uint64_t n,
                 uint32_t *refs) {
    constexpr uint64_t kAhead = 16;
    for (uint64_t j = 0; j < n && j < kAhead; ++j) __builtin_prefetch(&ix.buckets[home[j]]);
    for (uint64_t j = 0; j < n; ++j) {
        if (j + kAhead < n) __builtin_prefetch(&ix.buckets[home[j + kAhead]]);
        const Counted &c = entries[ranked[j]];
        uint32_t ref = 0;
        if (c.len <= kShortBytes) {
            const __m512i want =
                _mm512_set4_epi32(0, static_cast<int>(key_mid(c.hi)), static_cast<int>(c.lo >> 32),
                                  static_cast<int>(c.lo));
            for (uint64_t b = home[j];; b = next_slot(b, ix.bucket_count)) {
                const Bucket &bucket = ix.buckets[b];
                uint32_t same = _mm512_cmpeq_epi32_mask(_mm512_load_si512(bucket.e), want);
                same &= (same >> 1) & (same >> 2) & 0x1111u;
                if (same != 0) {
                    ref = bucket.e[__builtin_ctz(same) / 4].ref;
                    break;
                }
                if (bucket.e[kBucketEntries - 1].word == 0) break;
            }
        } else {
            ref = find_long_ref(ix, c.key(), items[j].text, home[j]);
        }
        refs[j] = ref;
    }
}

bool probe_avx512() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") != 0;
}
#endif

// The refs of the `n` query n-grams (n <= kRankChunk) at ranked[0 .. n - 1],
// whose records are `items`, into `refs`, with the widest probe the CPU
// has (picked once per process, as dense_add picks its kernel).
void find_query_refs(const ProfileIndex &ix, const QueryEntries &qe, const uint32_t *ranked,
                     const struct tavik_ngram *items, uint64_t n, uint32_t *refs) {
    uint64_t home[kRankChunk];
    for (uint64_t j = 0; j < n; ++j)
        home[j] = home_slot(qe.entries[ranked[j]].hash, ix.bucket_count);
#ifdef TAVIK_PROBE_AVX512
    static const bool wide = probe_avx512();
    if (wide) return find_refs_avx512(ix, qe.entries, ranked, items, home, n, refs);
#endif
    find_refs(ix, qe.entries, ranked, items, home, n, refs);
}

// The ranks in the k languages langs[0 .. k - 1] of the key whose ref is
// `ref` (0: no language holds it) into out[0 .. k - 1].  A language that
// repeats a text holds it at its first (lowest) rank.
void ranks_of_ref(const ProfileIndex &ix, uint32_t ref, const int32_t *langs, int32_t k,
                  int32_t *out) {
    for (int32_t l = 0; l < k; ++l) out[l] = 0;
    if (ref == 0) return;
    if ((ref & kDense) != 0) {
        const uint16_t *row = ix.rows + uint64_t{ref & ~kDense} * ix.lanes;
        for (int32_t l = 0; l < k; ++l) out[l] = row[langs[l]];
        return;
    }
    const auto take = [&](uint32_t posting) {
        for (int32_t l = 0; l < k; ++l)
            if ((posting & kLangMask) == static_cast<uint32_t>(langs[l]) && out[l] == 0)
                out[l] = static_cast<int32_t>(posting >> kRankShift);
    };
    if ((ref & kInline) != 0) return take(ref & ~kInline);
    for (const uint32_t *e = ix.postings + ref - 1;; ++e) {
        take(*e);
        if ((*e & kLastPosting) != 0) return;
    }
}

// Adds to each language's sum, for the `n` n-grams whose postings start at
// first[j] and whose query rank is ranks[j], |i - r| - p.
__attribute__((noinline)) void add_postings(const uint32_t *const *first, const uint32_t *ranks,
                                            uint64_t n, int64_t p, int64_t *sum) {
    for (uint64_t j = 0; j < n; ++j) {
        const auto rank = static_cast<int64_t>(ranks[j]);
        for (const uint32_t *e = first[j];; ++e) {
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
// n-grams, and inline ones below 2^24.
constexpr uint32_t kUnmet = 0x20000000u;
static_assert((uint64_t{TAVIK_MAX_LANG_NGRAMS} << (kRankShift + 1)) <= kUnmet);
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
    void release() {
        mem_free(table);
        mem_free(note);
        mem_free(ref_of);
        table = nullptr;
        note = nullptr;
        ref_of = nullptr;
    }
    ~Build() { release(); }
};

// Counts one instance, language `l` and rank `rank`, of the text in `d`.
void count_instance(Distinct &d, uint32_t l, uint32_t rank) {
    if ((d.state & kCountMask) == l + 1) return;  // a repeat: the lowest rank stands
    const uint32_t langs = ((d.state >> kCountBits) & kCountMask) + 1;
    uint32_t max_rank = d.state >> kMaxRankShift;
    if (rank > max_rank) max_rank = rank;
    d.state = max_rank << kMaxRankShift | langs << kCountBits | (l + 1);
}

enum class Gathered { done, full, no_memory };

// Pass 1: every n-gram's distinct text, the languages holding it and their
// largest rank, into a table of `size` slots, kept at most 80 % full.
// Empty texts match no query and are left out.
Gathered gather_into(Build &b, const tavik_profile &p, uint64_t size) {
    mem_free(b.table);
    b.size = size;
    b.keys = 0;
    b.long_bytes = 0;
    b.table = static_cast<Distinct *>(mem_calloc(b.size, sizeof(Distinct)));
    if (b.table == nullptr) return Gathered::no_memory;
    mem_advise_huge(b.table, b.size * sizeof(Distinct));
    const uint64_t most = size - size / 5;
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
                if (b.keys == most) return Gathered::full;
                d.text = text;
                d.hash = k.hash;
                ++b.keys;
                if (k.len > kShortBytes) b.long_bytes += k.len;
            }
            count_instance(d, l, static_cast<uint32_t>(r + 1));
            b.ref_of[at] = static_cast<uint32_t>(i);
        }
    }
    return Gathered::done;
}

// Pass 1 first into a table for profiles whose languages share many texts,
// as natural languages do (the default profile: half its n-grams are
// distinct), and again into one with room for every n-gram being distinct
// when that fills up.  The table is the largest scratch of the build: sized
// for the worst case it would raise the peak of opening a profile well
// above what the profile keeps.
bool gather(Build &b, const tavik_profile &p, uint64_t total) {
    b.total = total;
    b.note = static_cast<uint8_t *>(mem_calloc(total + 1, 1));
    b.ref_of = static_cast<uint32_t *>(mem_malloc((total + 1) * sizeof(uint32_t)));
    if (b.note == nullptr || b.ref_of == nullptr) return false;
    mem_advise_huge(b.ref_of, (total + 1) * sizeof(uint32_t));
    Gathered g = gather_into(b, p, total * 3 / 4 + 16);
    if (g == Gathered::full) g = gather_into(b, p, total + total / 4 + 16);
    return g == Gathered::done;
}

// The n-grams of a profile rank by rank, each rank language by language:
// the order in which the second pass meets texts, so that each text is
// placed at its lowest rank, and the texts queries meet most (those of low
// rank) take their home buckets before the others.  `at` is the n-gram's
// place in file order.
class RankMajor {
public:
    explicit RankMajor(const tavik_profile &p) : p_(p) {
        uint64_t start = 0;
        for (int32_t l = 0; l < p.lang_count; ++l) {
            start_[l] = start;
            start += p.langs[l].ngrams.count;
            if (p.langs[l].ngrams.count > longest_) longest_ = p.langs[l].ngrams.count;
        }
        settle();
    }
    bool done() const { return r_ >= longest_; }
    uint32_t lang() const { return l_; }
    uint64_t rank() const { return r_; }
    uint64_t at() const { return start_[l_] + r_; }
    void next() {
        ++l_;
        settle();
    }

private:
    // Moves to the first language at or after l_ (then rank after rank)
    // that holds rank r_ + 1.
    void settle() {
        for (; r_ < longest_; ++r_, l_ = 0)
            for (; l_ < static_cast<uint32_t>(p_.lang_count); ++l_)
                if (r_ < p_.langs[l_].ngrams.count) return;
    }
    const tavik_profile &p_;
    uint64_t start_[TAVIK_MAX_LANGS] = {};
    uint64_t longest_ = 0;
    uint64_t r_ = 0;
    uint32_t l_ = 0;
};

struct Layout {
    uint64_t rows = 0;
    uint64_t postings = 0;
};

// Decides for every distinct text whether it becomes a row or postings and
// gives it its ref, turns every n-gram's table slot into its ref, notes at
// each text's first instance its languages and kind, and releases the
// dedup table.
Layout classify(Build &b, const tavik_profile &p, uint32_t dense_from, uint32_t *max_row_rank) {
    Layout out;
    for (uint64_t i = 0; i < b.size; ++i) {
        Distinct &d = b.table[i];
        if (d.state == 0) continue;
        const uint32_t langs = (d.state >> kCountBits) & kCountMask;
        const uint32_t max_rank = d.state >> kMaxRankShift;
        const bool dense = langs >= dense_from && max_rank <= kMaxRowRank;
        d.hash = langs | (dense ? kNoteDense : 0);
        if (langs == 1) {
            // One language: its (lowest) rank is the largest, and its place
            // the last one counted.
            const uint32_t l = (d.state & kCountMask) - 1;
            d.state = kUnmet | kInline | max_rank << kRankShift | kLastPosting | l;
        } else if (dense) {
            d.state = kUnmet | kDense | static_cast<uint32_t>(out.rows++);
            if (max_rank > *max_row_rank) *max_row_rank = max_rank;
        } else {
            d.state = kUnmet | static_cast<uint32_t>(out.postings + 1);
            out.postings += langs;
        }
    }
    constexpr uint64_t kAhead = 16;
    RankMajor ahead(p), it(p);
    for (uint64_t k = 0; k < kAhead && !ahead.done(); ++k) ahead.next();
    for (; !it.done(); it.next()) {
        if (!ahead.done()) {
            if (b.ref_of[ahead.at()] != ~0u) __builtin_prefetch(&b.table[b.ref_of[ahead.at()]]);
            ahead.next();
        }
        const uint64_t at = it.at();
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

// Places the entry of a text met for the first time, and flags ahead the
// last of its postings (`note` tells how many).  `fill` counts each
// bucket's entries, so that the bucket is written without being read.
void place_key(ProfileIndex &ix, uint8_t *fill, const Key &k, const char *text, uint32_t ref,
               uint8_t note, uint64_t &arena_len) {
    if ((ref & (kDense | kInline)) == 0)
        ix.postings[ref - 1 + (note & kCountMask) - 1] = kLastPosting;
    Entry entry{k.lo, key_mid(k.hi), ref};
    if (k.len > kShortBytes) {
        std::memcpy(ix.arena + arena_len, text, k.len);
        entry.word = long_word(k.len, arena_len);
        entry.mid = k.hash;
        arena_len += k.len;
    }
    uint64_t b = home_slot(k.hash, ix.bucket_count);
    while (fill[b] == kBucketEntries) b = next_slot(b, ix.bucket_count);
    ix.buckets[b].e[fill[b]++] = entry;
}

// Gives language `l` rank `rank` in the row or postings of `ref`, unless it
// has one already (a repeated text keeps its lowest rank, met first).  A
// posting of rank 0 is free; a full run holds every language of its text.
void place_rank(ProfileIndex &ix, uint32_t ref, uint32_t l, uint32_t rank) {
    if (ref == 0 || (ref & kInline) != 0) return;
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

// Pass 2: an entry for each text at its first instance, rows and postings
// in language order.
void lay_out(const Build &b, const tavik_profile &p, ProfileIndex &ix, uint8_t *fill) {
    uint64_t arena_len = 0;
    constexpr uint64_t kAhead = 8;
    RankMajor ahead(p), it(p);
    for (uint64_t k = 0; k < kAhead && !ahead.done(); ++k) ahead.next();
    for (; !it.done(); it.next()) {
        if (!ahead.done()) {
            const uint32_t next = b.ref_of[ahead.at()];
            if (next != ~0u && (next & kInline) == 0)
                __builtin_prefetch(
                    (next & kDense) != 0
                        ? static_cast<const void *>(ix.rows + uint64_t{next & ~kDense} * ix.lanes +
                                                    ahead.lang())
                        : static_cast<const void *>(ix.postings + next - 1));
            ahead.next();
        }
        const uint64_t at = it.at();
        const uint32_t ref = b.ref_of[at];
        if (ref == ~0u) continue;
        const uint8_t note = b.note[at];
        if (note != 0) {
            const char *text = p.langs[it.lang()].ngrams.items[it.rank()].text;
            const auto len = static_cast<uint32_t>(std::strlen(text));
            place_key(ix, fill, key_of_bytes(text, len), text, ref, note, arena_len);
        }
        place_rank(ix, ref, it.lang(), static_cast<uint32_t>(it.rank() + 1));
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
    const Layout sizes = classify(b, p, dense_from, &ix->max_row_rank);
    // Two keys a bucket of four.  At three (2.5 MB instead of 3.7 for the
    // default profile) a third of the lookups went on to the next bucket,
    // and scoring was slower than with the tag filter this index replaced.
    ix->bucket_count = b.keys / 2 + 1;
    ix->bucket_block = mem_calloc(ix->bucket_count + 1, sizeof(Bucket));
    auto *fill = static_cast<uint8_t *>(mem_calloc(ix->bucket_count, 1));
    ix->arena = static_cast<char *>(mem_malloc(b.long_bytes + 1));
    ix->postings = static_cast<uint32_t *>(mem_calloc(sizes.postings + 1, sizeof(uint32_t)));
    ix->rows = static_cast<uint16_t *>(mem_calloc(sizes.rows * ix->lanes + 1, sizeof(uint16_t)));
    if (ix->bucket_block == nullptr || fill == nullptr || ix->arena == nullptr ||
        ix->postings == nullptr || ix->rows == nullptr) {
        mem_free(fill);
        index_free(ix);
        return nullptr;
    }
    mem_advise_huge(ix->bucket_block, (ix->bucket_count + 1) * sizeof(Bucket));
    mem_advise_huge(ix->postings, (sizes.postings + 1) * sizeof(uint32_t));
    mem_advise_huge(ix->rows, (sizes.rows * ix->lanes + 1) * sizeof(uint16_t));
    // One bucket more than needed leaves room to start at a line boundary.
    const auto at = reinterpret_cast<uintptr_t>(ix->bucket_block);
    ix->buckets =
        reinterpret_cast<Bucket *>((at + sizeof(Bucket) - 1) & ~uintptr_t{sizeof(Bucket) - 1});
    lay_out(b, p, *ix, fill);
    mem_free(fill);
    // The relatives' tables come after the build's own blocks are gone:
    // the peak of a large profile's first text is this function's.
    b.release();
    if (!relatives_build(p, &ix->relatives)) {
        index_free(ix);
        return nullptr;
    }
    return ix;
}

int32_t index_rank(const ProfileIndex *ix, int32_t lang, const char *text) {
    const auto len = static_cast<uint32_t>(std::strlen(text));
    if (ix == nullptr || len == 0) return 0;  // empty texts are left out of the index
    const Key k = key_of_bytes(text, len);
    int32_t rank = 0;
    ranks_of_ref(*ix, find_ref(*ix, k, text, home_slot(k.hash, ix->bucket_count)), &lang, 1, &rank);
    return rank;
}

void index_query_ranks(const ProfileIndex *ix, const QueryEntries &qe,
                       const tavik_ngram_list &query, uint64_t base, uint64_t n,
                       const int32_t *langs, int32_t k, int32_t *ranks) {
    uint32_t refs[kRankChunk];
    find_query_refs(*ix, qe, qe.ranked + base, query.items + base, n, refs);
    for (uint64_t j = 0; j < n; ++j)
        ranks_of_ref(*ix, refs[j], langs, k, ranks + j * static_cast<uint64_t>(k));
}

const Relatives *index_relatives(const ProfileIndex *ix) {
    return ix != nullptr ? ix->relatives : nullptr;
}

const uint8_t *index_code_order(const ProfileIndex *ix) {
    return ix != nullptr ? ix->code_order : nullptr;
}

void index_free(ProfileIndex *ix) {
    if (ix == nullptr) return;
    relatives_free(ix->relatives);
    mem_free(ix->bucket_block);
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
            distances[l] = distance_to(ix, p.langs[l], l, query, size_penalty, penalty);
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
    constexpr uint64_t kChunk = kRankChunk;
    const uint16_t *row_of[kChunk];
    uint32_t row_rank[kChunk];
    const uint32_t *post_of[kChunk];
    uint32_t post_rank[kChunk];
    uint32_t refs[kChunk];
    for (uint64_t base = 0; base < q; base += kChunk) {
        const uint64_t n = q - base < kChunk ? q - base : kChunk;
        const uint32_t *ranked = qe.ranked + base;
        // Find every n-gram of the chunk, fetching the slot of the one
        // kAhead places on, and sort the hits into rows and postings
        // without branching on which they are.
        find_query_refs(*ix, qe, ranked, query.items + base, n, refs);
        uint64_t rows = 0, posts = 0;
        for (uint64_t j = 0; j < n; ++j) {
            // An inline posting is read from the ref itself, kept in refs.
            const uint32_t ref = refs[j];
            const auto rank = static_cast<uint32_t>(base + j + 1);
            const bool dense = (ref & kDense) != 0;
            const bool one = (ref & kInline) != 0;
            const bool listed = !dense && !one && ref != 0;
            refs[j] = ref & ~kInline;
            row_of[rows] = ix->rows + (dense ? uint64_t{ref & ~kDense} * ix->lanes : 0);
            row_rank[rows] = rank;
            rows += dense ? 1 : 0;
            post_of[posts] = one ? refs + j : ix->postings + (listed ? ref - 1 : 0);
            post_rank[posts] = rank;
            posts += !dense && ref != 0 ? 1 : 0;
            __builtin_prefetch(ref_data(*ix, ref));
        }
        add_postings(post_of, post_rank, posts, p64, sum);
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
    if (ix == nullptr || ix->bucket_count == 0) return;
    for (uint64_t j = 0; j < n; ++j)
        __builtin_prefetch(
            &ix->buckets[home_slot(entries.entries[entries.ranked[j]].hash, ix->bucket_count)]);
}

}  // namespace tavik
