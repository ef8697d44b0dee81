// ngram.cpp - n-gram extraction into a counted list, and its ranking.

#include "ngram.h"

#include <algorithm>
#include <cstring>

#include "alloc.h"
#include "ngram_count.h"
#include "ngram_scan.h"

namespace tavik {

namespace {

using NgramRec = struct tavik_ngram;

constexpr uint64_t kFirstSlots = 256;
constexpr uint64_t kMaxPresetSlots = uint64_t{1} << 16;
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


// Finds the slot of an n-gram, claiming a free one (with a new entry and a
// copy of the text in the arena) when the n-gram is new; nullptr when out
// of memory or when every slot was probed.
uint64_t *strmap_find(StrMap &map, const char *bytes, uint32_t len, uint32_t hash) {
    if (map.size == 0) return nullptr;
    const uint64_t mask = map.size - 1;
    uint64_t i = hash & mask;
    for (uint64_t probes = 0; probes < map.size; ++probes, i = (i + 1) & mask) {
        const uint64_t s = map.slots[i];
        if (s == 0) {
            if (!reserve(reinterpret_cast<void **>(&map.entries), &map.entry_cap, map.count + 1,
                         256, sizeof(Counted), kMaxEntries) ||
                !reserve(reinterpret_cast<void **>(&map.arena), &map.arena_cap,
                         map.arena_len + len + 1, 4096, 1, 0xFFFFFFFFu))
                return nullptr;
            const auto off = static_cast<uint32_t>(map.arena_len);
            std::memcpy(map.arena + off, bytes, len);
            map.arena[off + len] = '\0';
            map.arena_len += len + 1;
            map.entries[map.count] = Counted{off, len, hash, 0, 0};
            map.slots[i] = uint64_t{hash} << 32 | (map.count + 1);
            ++map.count;
            ++map.used;
            return &map.slots[i];
        }
        if (static_cast<uint32_t>(s >> 32) != hash) continue;
        const Counted &e = map.entries[(s & 0xFFFFFFFFu) - 1];
        if (e.len == len && bytes_equal(map.arena + e.off, bytes, len)) return &map.slots[i];
    }
    return nullptr;
}

// Counts `weight` occurrences; -1 when out of memory.  Counts add as
// unsigned values, so that no text can overflow them.
int strmap_add(StrMap &map, const char *bytes, uint32_t len, uint32_t hash, int32_t order,
               uint32_t weight) {
    const uint64_t *slot = strmap_find(map, bytes, len, hash);
    if (slot == nullptr) return -1;
    Counted &e = map.entries[(*slot & 0xFFFFFFFFu) - 1];
    if (e.count == 0) e.order = order;
    e.count = static_cast<int32_t>(static_cast<uint32_t>(e.count) + weight);
    return 0;
}

// Doubles the slots; the slots carry their hashes, so no text is read.
int strmap_grow(StrMap &map) {
    const uint64_t n = map.size < 8 ? 16 : map.size * 2;
    auto *fresh = static_cast<uint64_t *>(mem_calloc(n, sizeof(uint64_t)));
    if (fresh == nullptr) return -1;
    const uint64_t mask = n - 1;
    for (uint64_t k = 0; k < map.size; ++k) {
        const uint64_t s = map.slots[k];
        if (s == 0) continue;
        uint64_t i = (s >> 32) & mask;
        while (fresh[i] != 0) i = (i + 1) & mask;
        fresh[i] = s;
    }
    mem_free(map.slots);
    map.slots = fresh;
    map.size = n;
    map.slot_cap = n;
    return 0;
}

// Counts every occurrence the scanner hands over.  The occurrence index is
// kept unsigned, so a text of more than 2^31 occurrences wraps the index
// instead of overflowing.
struct CountSink {
    StrMap &map;
    uint32_t next_order = 0;
    uint32_t weight = 1;  // instances of the word being emitted

    int32_t operator()(const char *bytes, uint32_t len, uint32_t hash) {
        const auto order = static_cast<int32_t>(next_order++);
        if (map.used * 2 >= map.size && strmap_grow(map) != 0) return TAVIK_NO_MEMORY;
        if (strmap_add(map, bytes, len, hash, order, weight) != 0) return TAVIK_NO_MEMORY;
        return 0;
    }
};

// Long texts repeat their words: each distinct framed word is counted once,
// with the occurrence index its first instance starts at, and its n-grams
// are then counted once, weighted by the word's instances.  Words are taken
// in first-occurrence order and each instance spans a run of occurrence
// indices of its own, so every n-gram gets the count and the first
// occurrence that counting occurrence by occurrence gives.
int32_t count_by_words(StrMap &map, const char *text, uint64_t len, int32_t max_len,
                       WordBuffer &w) {
    StrMap words;
    words.slots = static_cast<uint64_t *>(mem_calloc(kFirstSlots, sizeof(uint64_t)));
    if (words.slots == nullptr) return TAVIK_NO_MEMORY;
    words.size = words.slot_cap = kFirstSlots;
    uint32_t counter = 0;
    auto each_word = [&](const WordBuffer &word) -> int32_t {
        const uint32_t bytes = word.offset[word.count];
        const uint32_t h = fnv1a(word.bytes, bytes);
        if (words.used * 2 >= words.size && strmap_grow(words) != 0) return TAVIK_NO_MEMORY;
        const uint64_t *slot = strmap_find(words, word.bytes, bytes, h);
        if (slot == nullptr) return TAVIK_NO_MEMORY;
        Counted &e = words.entries[(*slot & 0xFFFFFFFFu) - 1];
        if (e.count == 0) e.order = static_cast<int32_t>(counter);
        e.count = static_cast<int32_t>(static_cast<uint32_t>(e.count) + 1);
        counter += occurrences_in(word, max_len);
        return TAVIK_OK;
    };
    int32_t rc = scan_words(text, len, w, each_word);
    CountSink sink{map};
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
        sink.next_order = static_cast<uint32_t>(e.order);
        sink.weight = static_cast<uint32_t>(e.count);
        rc = emit_from_token(w, max_len, sink);
    }
    strmap_release(words);
    return rc;
}

// Negative when a ranks before b: higher count, then lower order, then the
// texts bytewise.
int cmp_rank(int32_t count_a, int32_t order_a, const char *text_a, int32_t count_b,
             int32_t order_b, const char *text_b) {
    if (count_a != count_b) return count_a > count_b ? -1 : 1;
    if (order_a != order_b) return order_a < order_b ? -1 : 1;
    const int c = std::strcmp(text_a, text_b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// Copies the texts of `n` entries (numbers from `idx`, or 0..n-1 when null)
// into a list that owns each of them.
int32_t copy_entries(const StrMap &map, const uint32_t *idx, uint64_t n,
                     tavik_ngram_list *list) {
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
    mem_free(map.entries);
    mem_free(map.arena);
    mem_free(map.ranked);
    mem_free(map.buckets);
    map = StrMap{};
}

int32_t strmap_count_text(StrMap &map, const char *text, int32_t max_len) {
    const uint64_t len = std::strlen(text);
    map.count = 0;
    map.used = 0;
    map.arena_len = 0;
    map.ranked_count = 0;
    // Sized from the text: a text has at most bytes x length occurrences and
    // far fewer distinct n-grams, so short texts seldom grow the map, and a
    // map cleared per text stays small.  The growth rule holds beyond.
    const int per_cp = max_len < kMaxNgramLength ? max_len : kMaxNgramLength;
    const uint64_t bound = std::min<uint64_t>(len * static_cast<uint64_t>(per_cp) + 16,
                                              kMaxPresetSlots);
    uint64_t size = kFirstSlots;
    while (size < bound) size *= 2;
    if (map.slot_cap < size) {
        mem_free(map.slots);
        map.slots = static_cast<uint64_t *>(mem_malloc(size * sizeof(uint64_t)));
        map.slot_cap = map.slots != nullptr ? size : 0;
        map.size = 0;
        if (map.slots == nullptr) return TAVIK_NO_MEMORY;
    }
    map.size = size;
    std::memset(map.slots, 0, size * sizeof(uint64_t));
    WordBuffer word;
    int32_t rc;
    if (len >= count_words_from) {
        rc = count_by_words(map, text, len, max_len, word);
    } else {
        CountSink sink{map};
        rc = scan_ngrams(text, len, max_len, word, sink);
    }
    if (rc != TAVIK_OK) {
        map.count = 0;
        map.arena_len = 0;
    }
    return rc;
}

int32_t strmap_rank(StrMap &map, int32_t threshold, int32_t max_distribution) {
    if (!reserve(reinterpret_cast<void **>(&map.ranked), &map.ranked_cap, 2 * map.count, 512,
                 sizeof(uint32_t)))
        return TAVIK_NO_MEMORY;
    uint32_t *ranked = map.ranked, *tmp = map.ranked + map.count;
    uint64_t n = 0;
    int32_t max_count = 0;
    for (uint64_t i = 0; i < map.count; ++i) {
        const int32_t c = map.entries[i].count;
        if (threshold > 0 && c < threshold) continue;
        ranked[n++] = static_cast<uint32_t>(i);
        max_count = std::max(max_count, c);
    }
    // Entries stand in first-occurrence order, so a stable sort by count
    // gives the full rank order; counts are small next to the entries for
    // any text, which makes a counting sort the cheap stable sort.
    const auto buckets_needed = static_cast<uint64_t>(max_count) + 1;
    if (n > 1 && buckets_needed <= 4 * n + 1024) {
        if (!reserve(reinterpret_cast<void **>(&map.buckets), &map.bucket_cap, buckets_needed,
                     1024, sizeof(uint32_t)))
            return TAVIK_NO_MEMORY;
        uint32_t *bucket = map.buckets;
        std::memset(bucket, 0, buckets_needed * sizeof(uint32_t));
        for (uint64_t k = 0; k < n; ++k) ++bucket[map.entries[ranked[k]].count];
        uint32_t start = 0;
        for (uint64_t c = buckets_needed; c-- > 0;) {
            const uint32_t t = bucket[c];
            bucket[c] = start;
            start += t;
        }
        for (uint64_t k = 0; k < n; ++k) tmp[bucket[map.entries[ranked[k]].count]++] = ranked[k];
        std::memcpy(ranked, tmp, n * sizeof(uint32_t));
    } else if (n > 1) {
        std::sort(ranked, ranked + n, [&map](uint32_t a, uint32_t b) {
            const Counted &x = map.entries[a], &y = map.entries[b];
            return cmp_rank(x.count, x.order, map.text(x), y.count, y.order, map.text(y)) < 0;
        });
    }
    if (max_distribution > 0 && n > static_cast<uint64_t>(max_distribution))
        n = static_cast<uint64_t>(max_distribution);
    map.ranked_count = n;
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
