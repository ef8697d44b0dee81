// SPDX-License-Identifier: MIT
// ngram.cpp - n-gram extraction into a counted list, and its ranking.

#include "tavik/ngram.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "alloc.h"
#include "hash.h"
#include "ngram_count.h"
#include "ngram_scan.h"

namespace tavik {

namespace {

using NgramRec = struct tavik_ngram;

constexpr uint64_t kFirstSlots = 256;
constexpr uint64_t kMaxPresetSlots = uint64_t{1} << 16;
constexpr uint64_t kSlotsPerOccurrence = 4;    // preset slots per possible occurrence
constexpr uint64_t kMaxEntries = 0xFFFFFFFEu;  // entry numbers are 32-bit

}  // namespace

// Texts from this length on are counted word by word (count_by_words).
uint64_t count_words_from = 1 << 16;

namespace {

// Grows `*p` (an array of `*cap` elements of `size` bytes) to hold `need`,
// doubling from `first`; false when out of memory or past `limit` elements.
bool reserve(void **p, uint64_t *cap, uint64_t need, uint64_t first, size_t size,
             uint64_t limit = UINT64_MAX / 2) {
    if (need <= *cap) return true;
    if (need > limit) return false;
    uint64_t n = *cap == 0 ? first : *cap;
    while (n < need) n *= 2;
    if (n > limit) n = limit;
    void *grown = mem_realloc(*p, n * size);
    if (grown == nullptr) return false;
    *p = grown;
    *cap = n;
    return true;
}

// Doubles the slots until `entries` fit at half load; the entries carry
// their hashes, so no text is read.
bool strmap_fit(StrMap &map, uint64_t entries) {
    if (entries * 2 <= map.size) return true;
    uint64_t n = map.size < 16 ? 16 : map.size;
    while (n < entries * 2) n *= 2;
    auto *fresh = static_cast<uint32_t *>(mem_calloc(n, sizeof(uint32_t)));
    if (fresh == nullptr) return false;
    for (uint64_t k = 0; k < map.count; ++k) {
        uint64_t i = home_slot(map.entries[k].hash, n);
        while (fresh[i] != 0) i = (i + 1) & (n - 1);
        fresh[i] = static_cast<uint32_t>(k + 1);
    }
    mem_free(map.slots);
    map.slots = fresh;
    map.size = n;
    map.slot_cap = n;
    return true;
}

// Grows the entries to hold `need`, keeping the sentinel before them.
bool reserve_entries(StrMap &map, uint64_t need) {
    if (need <= map.entry_cap) return true;
    if (need > kMaxEntries) return false;
    uint64_t n = map.entry_cap == 0 ? 256 : map.entry_cap;
    while (n < need) n *= 2;
    if (n > kMaxEntries) n = kMaxEntries;
    auto *grown = static_cast<Counted *>(mem_realloc(map.store, (n + 1) * sizeof(Counted)));
    if (grown == nullptr) return false;
    grown[0] = Counted{};
    map.store = grown;
    map.entries = grown + 1;
    map.entry_cap = n;
    return true;
}

// Makes room for `n` more entries whose texts take at most `bytes` bytes
// with their NULs, so that adding them cannot fail.  A key is stored as 16
// bytes whatever its length, hence the slack.
bool strmap_room(StrMap &map, uint64_t n, uint64_t bytes) {
    return strmap_fit(map, map.count + n) && reserve_entries(map, map.count + n + 1) &&
           reserve(reinterpret_cast<void **>(&map.arena), &map.arena_cap,
                   map.arena_len + bytes + kKeyBytes, 4096, 1, 0xFFFFFFFFu);
}

// The map's arrays and counters as locals while one word is counted, so
// that they stay in registers however the texts are stored; commit() hands
// them back.  strmap_room has made room for every occurrence of the word.
struct Tally {
    uint32_t *slots;
    uint64_t mask;
    uint32_t shift;  // home slot: hash >> shift, the table being a power of two
    Counted *entries;
    char *arena;
    uint64_t count;
    uint64_t arena_len;

    explicit Tally(const StrMap &m)
        : slots(m.slots), mask(m.size - 1),
          shift(32 - static_cast<uint32_t>(__builtin_ctzll(m.size))), entries(m.entries),
          arena(m.arena), count(m.count), arena_len(m.arena_len) {}
    void commit(StrMap &m) const {
        // strmap_room made room for every occurrence before counting began;
        // the counting itself never checks.
        assert(count + 1 <= m.entry_cap && arena_len <= m.arena_cap);
        m.count = count;
        m.arena_len = arena_len;
    }

    // Whether entry `e` holds a long text (16 bytes or more) `bytes` whose
    // first 16 bytes it shares.
    bool holds_long(const Counted &e, const Key &k, const char *bytes) const {
        return e.len == k.len &&
               bytes_equal(arena + e.off + kKeyBytes, bytes + kKeyBytes, k.len - kKeyBytes);
    }

    // Counts `weight` occurrences of the `len` bytes at `bytes` (readable for
    // 16 bytes at least), adding an entry when they are new.
    __attribute__((always_inline)) void add(const char *bytes, uint32_t len, int32_t order,
                                            uint32_t weight) {
        add_key<false>(key_of_padded(bytes, len), bytes, order, weight);
    }

    // The same for the key `k` of those bytes.  The probe does not branch on
    // whether the home slot is free: a free slot reads the sentinel before
    // the entries, which holds no key.  Counts add as unsigned values, so
    // that no text can overflow them.  kShort: the text is at most 16 bytes,
    // so the key is all of it and `bytes` is not read.
    template <bool kShort>
    __attribute__((always_inline)) void add_key(const Key &k, const char *bytes, int32_t order,
                                                uint32_t weight) {
        const uint32_t len = k.len;
        uint64_t i = k.hash >> shift;
        uint32_t s = slots[i];
        for (;;) {
            const Counted &e = entries[static_cast<int64_t>(s) - 1];
            uint64_t same = (e.lo == k.lo) & (e.hi == k.hi);
            if (!kShort && len >= kKeyBytes && same != 0) same = holds_long(e, k, bytes);
            if ((s == 0) | same) break;
            i = (i + 1) & mask;
            s = slots[i];
        }
        if (s != 0) {
            Counted &e = entries[s - 1];
            e.count = static_cast<int32_t>(static_cast<uint32_t>(e.count) + weight);
            return;
        }
        const auto off = static_cast<uint32_t>(arena_len);
        char *dst = arena + off;
        std::memcpy(dst, &k.lo, 8);
        std::memcpy(dst + 8, &k.hi, 8);
        if (!kShort && len > kKeyBytes) std::memcpy(dst, bytes, len);
        dst[len] = '\0';
        entries[count] = Counted{k.lo, k.hi, k.hash, len, off, static_cast<int32_t>(weight), order};
        slots[i] = static_cast<uint32_t>(++count);
        arena_len += len + 1;
    }
};

constexpr uint32_t kKeyBatch = 64;

// Counts `n` keys of at most 16 bytes, the first with occurrence index
// `order`.
__attribute__((noinline)) void count_keys(Tally &tally, const Key *keys, uint32_t n, uint32_t order,
                                          uint32_t weight) {
    Tally t = tally;
    for (uint32_t k = 0; k < n; ++k)
        t.add_key<true>(keys[k], nullptr, static_cast<int32_t>(order + k), weight);
    tally = t;
}

// The most bytes the new texts of one word can take: each occurrence at
// most the word or kMaxNgramBytes, and a NUL.
uint64_t word_text_bound(const WordBuffer &w, uint32_t occurrences) {
    const uint32_t word = w.offset[w.count];
    return uint64_t{occurrences} * ((word < kMaxNgramBytes ? word : kMaxNgramBytes) + 1);
}

// Counts the occurrences of one framed word, `weight` times each, the
// first with occurrence index `order`; returns the index after the last.
// The index is kept unsigned, so a text of more than 2^31 occurrences wraps
// it instead of overflowing.
int32_t count_word(StrMap &map, const WordBuffer &w, int32_t max_len, uint32_t *order,
                   uint32_t weight) {
    const uint32_t n = occurrences_in(w, max_len);
    if (!strmap_room(map, n, word_text_bound(w, n))) return TAVIK_NO_MEMORY;
    Tally t(map);
    uint32_t next = *order;
    // Most words hold no n-gram of more than 16 bytes: their keys need no
    // tail, and their counting no path for long texts.
    const int32_t L = max_len < kMaxNgramLength ? max_len : kMaxNgramLength;
    bool short_only = true;
    for (int32_t i = L; i <= w.count && short_only; ++i)
        short_only = w.offset[i] - w.offset[i - L] <= kKeyBytes;
    if (short_only && (w.count >= L || w.offset[w.count] <= kKeyBytes)) {
        // Keys are made in one loop and counted in another: together their
        // values outnumber the registers.
        Key keys[kKeyBatch];
        uint32_t pending = 0;
        auto sink = [&](const char *bytes, uint32_t len) {
            keys[pending++] = key_of_short(bytes, len);
            if (pending == kKeyBatch) {
                count_keys(t, keys, pending, next, weight);
                next += pending;
                pending = 0;
            }
            return 0;
        };
        emit_from_token(w, max_len, sink);
        count_keys(t, keys, pending, next, weight);
        next += pending;
    } else {
        auto sink = [&](const char *bytes, uint32_t len) {
            t.add(bytes, len, static_cast<int32_t>(next++), weight);
            return 0;
        };
        emit_from_token(w, max_len, sink);
    }
    t.commit(map);
    *order = next;
    return TAVIK_OK;
}

// Long texts repeat their words: each distinct framed word is counted once,
// with the occurrence index its first instance starts at, and its n-grams
// are then counted once, weighted by the word's instances.  Words are taken
// in first-occurrence order and each instance spans a run of occurrence
// indices of its own, so every n-gram gets the count and the first
// occurrence that counting occurrence by occurrence gives.
template <class Scan>
int32_t count_by_words(StrMap &map, const char *text, uint64_t len, int32_t max_len, WordBuffer &w,
                       Scan &scan) {
    StrMap words;
    uint32_t counter = 0;
    auto each_word = [&](const WordBuffer &word) -> int32_t {
        const uint32_t bytes = word.offset[word.count];
        if (!strmap_room(words, 1, bytes + 1)) return TAVIK_NO_MEMORY;
        Tally t(words);
        t.add(word.bytes, bytes, static_cast<int32_t>(counter), 1);
        t.commit(words);
        counter += occurrences_in(word, max_len);
        return TAVIK_OK;
    };
    int32_t rc = scan(text, len, w, each_word);
    for (uint64_t k = 0; rc == TAVIK_OK && k < words.count; ++k) {
        const Counted &e = words.entries[k];
        const auto *src = reinterpret_cast<const unsigned char *>(words.text(e));
        w.count = 0;
        w.offset[0] = 0;
        for (uint32_t at = 0; at < e.len;) {
            uint32_t cp;
            const int32_t n = utf8_decode(src + at, e.len - at, &cp);  // checked by the scan
            std::memcpy(w.bytes + at, src + at, static_cast<size_t>(n));
            at += static_cast<uint32_t>(n);
            w.offset[++w.count] = at;
        }
        std::memset(w.bytes + e.len, 0, kKeyBytes);
        auto order = static_cast<uint32_t>(e.order);
        rc = count_word(map, w, max_len, &order, static_cast<uint32_t>(e.count));
    }
    strmap_release(words);
    return rc;
}

// Negative when a ranks before b: higher count, then lower order, then the
// texts bytewise.
int cmp_rank(int32_t count_a, int32_t order_a, const char *text_a, int32_t count_b, int32_t order_b,
             const char *text_b) {
    if (count_a != count_b) return count_a > count_b ? -1 : 1;
    if (order_a != order_b) return order_a < order_b ? -1 : 1;
    const int c = std::strcmp(text_a, text_b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// The number of entries ranking keeps of `n`.
uint64_t cut(uint64_t n, int32_t max_distribution) {
    return max_distribution > 0 && n > static_cast<uint64_t>(max_distribution)
               ? static_cast<uint64_t>(max_distribution)
               : n;
}

// Copies the texts of `n` entries (numbers from `idx`, or 0..n-1 when null)
// into a list that owns each of them.
int32_t copy_entries(const StrMap &map, const uint32_t *idx, uint64_t n, tavik_ngram_list *list) {
    *list = tavik_ngram_list{nullptr, 0, 0};
    if (n == 0) return TAVIK_OK;
    auto *items = static_cast<NgramRec *>(mem_malloc(n * sizeof(NgramRec)));
    if (items == nullptr) return TAVIK_NO_MEMORY;
    for (uint64_t k = 0; k < n; ++k) {
        const Counted &e = map.entries[idx != nullptr ? idx[k] : k];
        char *text = mem_strndup(map.text(e), e.len);
        if (text == nullptr) {
            for (uint64_t j = 0; j < k; ++j) mem_free(items[j].text);
            mem_free(items);
            return TAVIK_NO_MEMORY;
        }
        items[k] = NgramRec{text, e.count, e.order};
    }
    *list = tavik_ngram_list{items, n, n};
    return TAVIK_OK;
}

}  // namespace

void strmap_release(StrMap &map) {
    mem_free(map.slots);
    mem_free(map.store);
    mem_free(map.arena);
    mem_free(map.ranked);
    mem_free(map.buckets);
    map = StrMap{};
}

int32_t strmap_count_text(StrMap &map, const char *text, int32_t max_len) {
    return strmap_count_bytes(map, text, std::strlen(text), max_len);
}

namespace {

// Keeps the hash of a framed word's letters while `words` has room.
void note_word(QueryWords *words, const WordBuffer &w) {
    if (words == nullptr || words->count == kQueryWords) return;
    uint32_t begin = 0;
    uint32_t end = w.offset[w.count];
    if (end > begin && w.bytes[begin] == '_') ++begin;
    if (end > begin && w.bytes[end - 1] == '_') --end;
    words->hash[words->count++] = word_hash(w.bytes + begin, end - begin);
}

// Counts with `scan` (scan_words or a model's), clearing the map first;
// adds the text's first words to `words` (cleared by the caller), when
// given.
template <class Scan>
int32_t count_with(StrMap &map, const char *text, uint64_t len, int32_t max_len, Scan &scan,
                   QueryWords *words) {
    map.count = 0;
    map.arena_len = 0;
    map.ranked_count = 0;
    // Sized from the text: a text has at most bytes x length occurrences and
    // far fewer distinct n-grams, so short texts seldom grow the map, and a
    // map cleared per text stays small.  strmap_fit grows it beyond.  The
    // slots are sparse on purpose: every step past a home slot is a
    // dependent fetch of an entry and a branch that mispredicts, and
    // clearing a few more slots in one sweep costs far less.
    const int per_cp = max_len < kMaxNgramLength ? max_len : kMaxNgramLength;
    const uint64_t bound = std::min<uint64_t>(
        len * static_cast<uint64_t>(per_cp) * kSlotsPerOccurrence + 16, kMaxPresetSlots);
    uint64_t size = kFirstSlots;
    while (size < bound) size *= 2;
    if (map.slot_cap < size) {
        mem_free(map.slots);
        map.slots = static_cast<uint32_t *>(mem_malloc(size * sizeof(uint32_t)));
        map.slot_cap = map.slots != nullptr ? size : 0;
        map.size = 0;
        if (map.slots == nullptr) return TAVIK_NO_MEMORY;
    }
    map.size = size;
    std::memset(map.slots, 0, size * sizeof(uint32_t));
    WordBuffer word;
    int32_t rc;
    if (len >= count_words_from) {
        auto noted = [&scan, words](const char *t, uint64_t n, WordBuffer &w, auto &sink) {
            auto each_word = [&sink, words](const WordBuffer &wb) {
                note_word(words, wb);
                return sink(wb);
            };
            return scan(t, n, w, each_word);
        };
        rc = count_by_words(map, text, len, max_len, word, noted);
    } else {
        uint32_t order = 0;
        auto each_word = [&](const WordBuffer &w) {
            note_word(words, w);
            return count_word(map, w, max_len, &order, 1);
        };
        rc = scan(text, len, word, each_word);
    }
    if (rc != TAVIK_OK) {
        map.count = 0;
        map.arena_len = 0;
    }
    return rc;
}

}  // namespace

namespace {

int32_t count_bytes(StrMap &map, const char *text, uint64_t len, int32_t max_len,
                    QueryWords *words) {
    auto scan = [](const char *t, uint64_t n, WordBuffer &w, auto &sink) {
        return scan_words(t, n, w, sink);
    };
    return count_with(map, text, len, max_len, scan, words);
}

}  // namespace

int32_t strmap_count_bytes(StrMap &map, const char *text, uint64_t len, int32_t max_len) {
    return count_bytes(map, text, len, max_len, nullptr);
}

int32_t strmap_count_model(StrMap &map, const char *text, uint64_t len, int32_t max_len,
                           const TextModel &model, QueryWords *words) {
    if (words != nullptr) words->count = 0;
    if (model.designed()) return count_bytes(map, text, len, max_len, words);
    const UnicodeTable *table = unicode_table();
    char *normal = nullptr;
    if (model.nfc) {
        uint64_t normal_len = 0;
        const int32_t rc = nfc_prepare(*table, text, len, &normal, &normal_len);
        if (rc != TAVIK_OK) {
            map.count = 0;
            map.arena_len = 0;
            map.ranked_count = 0;
            return rc;
        }
        if (normal != nullptr) {
            text = normal;
            len = normal_len;
        }
    }
    auto scan = [table, &model](const char *t, uint64_t n, WordBuffer &w, auto &sink) {
        return scan_words_model(t, n, *table, model, w, sink);
    };
    const int32_t rc = count_with(map, text, len, max_len, scan, words);
    mem_free(normal);
    return rc;
}

int32_t strmap_rank(StrMap &map, int32_t threshold, int32_t max_distribution) {
    const uint64_t count = map.count;
    if (!reserve(reinterpret_cast<void **>(&map.ranked), &map.ranked_cap, count, 512,
                 sizeof(uint32_t)))
        return TAVIK_NO_MEMORY;
    const Counted *entries = map.entries;
    uint32_t *ranked = map.ranked;
    const uint64_t keep_from = threshold > 0 ? static_cast<uint64_t>(threshold) : 0;
    uint64_t n = 0;
    // Entries stand in first-occurrence order, so a stable sort by count
    // gives the full rank order.  Most n-grams of a text occur once: those
    // keep their order and go last, and only the others are sorted, by a
    // counting sort (counts are small next to the entries for any text).
    // One pass splits them without branching: the repeated ones into the
    // scratch, the single ones into `ranked`.
    if (count > 1) {
        if (!reserve(reinterpret_cast<void **>(&map.buckets), &map.bucket_cap, count, 1024,
                     sizeof(uint32_t)))
            return TAVIK_NO_MEMORY;
        uint32_t *many = map.buckets;
        uint64_t k = 0, ones = 0;
        int32_t max_count = 0, min_count = 1;
        for (uint64_t i = 0; i < count; ++i) {
            const int32_t c = entries[i].count;
            many[k] = static_cast<uint32_t>(i);
            ranked[ones] = static_cast<uint32_t>(i);
            k += c > 1 ? 1 : 0;
            ones += c == 1 ? 1 : 0;
            max_count = std::max(max_count, c);
            min_count = std::min(min_count, c);
        }
        const auto buckets_needed = static_cast<uint64_t>(max_count) + 1;
        if (min_count == 1 && buckets_needed <= 4 * k + 1024) {
            if (!reserve(reinterpret_cast<void **>(&map.buckets), &map.bucket_cap,
                         k + buckets_needed, 1024, sizeof(uint32_t)))
                return TAVIK_NO_MEMORY;
            many = map.buckets;
            // The single ones stay when the threshold lets them, after
            // every repeated one.
            if (keep_from > 1) ones = 0;
            std::memmove(ranked + k, ranked, ones * sizeof(uint32_t));
            uint32_t *bucket = many + k;
            std::memset(bucket, 0, buckets_needed * sizeof(uint32_t));
            for (uint64_t j = 0; j < k; ++j) ++bucket[entries[many[j]].count];
            const uint64_t lowest = std::max<uint64_t>(keep_from, 2);  // lowest count kept
            uint32_t start = 0;
            for (uint64_t c = buckets_needed; c-- > lowest;) {
                const uint32_t t = bucket[c];
                bucket[c] = start;
                start += t;
            }
            // Dropped entries land between the kept ones and the single
            // ones, each count's run from the same place; what they leave
            // there is never read.
            for (uint64_t c = std::min(lowest, buckets_needed); c-- > 0;) bucket[c] = start;
            for (uint64_t j = 0; j < k; ++j) ranked[bucket[entries[many[j]].count]++] = many[j];
            n = start;
            if (n < k) std::memmove(ranked + n, ranked + k, ones * sizeof(uint32_t));
            map.ranked_count = cut(n + ones, max_distribution);
            return TAVIK_OK;
        }
    }
    // Counts that wrapped past 2^31, or too far apart for buckets: compare.
    for (uint64_t i = 0; i < count; ++i) {
        ranked[n] = static_cast<uint32_t>(i);
        n += threshold <= 0 || entries[i].count >= threshold ? 1 : 0;
    }
    std::sort(ranked, ranked + n, [&map](uint32_t a, uint32_t b) {
        const Counted &x = map.entries[a], &y = map.entries[b];
        return cmp_rank(x.count, x.order, map.text(x), y.count, y.order, map.text(y)) < 0;
    });
    map.ranked_count = cut(n, max_distribution);
    return TAVIK_OK;
}

int32_t strmap_copy_ranked(const StrMap &map, tavik_ngram_list *list) {
    return copy_entries(map, map.ranked, map.ranked_count, list);
}

}  // namespace tavik

extern "C" {

int32_t tavik_ngram_extract(const char *text, int32_t max_len, tavik_ngram_list *list) {
    if (list == nullptr || max_len < 1 || text == nullptr) return TAVIK_INVALID;
    *list = tavik_ngram_list{nullptr, 0, 0};
    tavik::StrMap map;
    int32_t rc = tavik::strmap_count_text(map, text, max_len);
    if (rc == TAVIK_OK) rc = tavik::copy_entries(map, nullptr, map.count, list);
    tavik::strmap_release(map);
    return rc;
}

void tavik_ngram_prune_and_rank(tavik_ngram_list *list, int32_t threshold,
                                int32_t max_distribution) {
    using NgramRec = struct tavik_ngram;
    if (list == nullptr || list->count == 0) return;
    NgramRec *items = list->items;
    if (threshold > 0) {
        uint64_t kept = 0;
        for (uint64_t k = 0; k < list->count; ++k) {
            if (items[k].count < threshold)
                tavik::mem_free(items[k].text);
            else
                items[kept++] = items[k];
        }
        list->count = kept;
    }
    NgramRec *end = items + list->count;
    // A fresh extraction lists its n-grams by ascending, distinct order; then
    // the full order reduces to a stable sort by count.
    bool by_order = true;
    for (uint64_t k = 1; k < list->count && by_order; ++k)
        by_order = items[k - 1].order < items[k].order;
    if (by_order)
        std::stable_sort(items, end,
                         [](const NgramRec &a, const NgramRec &b) { return a.count > b.count; });
    else
        std::sort(items, end, [](const NgramRec &a, const NgramRec &b) {
            return tavik::cmp_rank(a.count, a.order, a.text, b.count, b.order, b.text) < 0;
        });
    if (max_distribution > 0 && list->count > static_cast<uint64_t>(max_distribution)) {
        for (uint64_t k = static_cast<uint64_t>(max_distribution); k < list->count; ++k)
            tavik::mem_free(items[k].text);
        list->count = static_cast<uint64_t>(max_distribution);
    }
}

void tavik_ngram_list_free(tavik_ngram_list *list) {
    if (list == nullptr) return;
    for (uint64_t k = 0; k < list->count; ++k) tavik::mem_free(list->items[k].text);
    tavik::mem_free(list->items);
    *list = tavik_ngram_list{nullptr, 0, 0};
}

}  // extern "C"
