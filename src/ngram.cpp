// ngram.cpp - n-gram extraction into a counted list, and its ranking.

#include "ngram.h"

#include <algorithm>
#include <cstring>

#include "alloc.h"
#include "ngram_scan.h"

namespace {

using tavik::mem_calloc;
using tavik::mem_free;
using tavik::mem_realloc;
using NgramRec = struct tavik_ngram;

// A slot of the counting map.  A free slot is all zero.  The text is shared
// with the list entry at list_index: each distinct n-gram is allocated once.
struct Slot {
    char *text;
    int32_t count;  // 0 in a slot claimed but not yet counted
    int32_t order;
    uint32_t list_index;
    uint32_t occupied;
    uint32_t hash;
    uint32_t len;
};

// Open addressing, linear probing, power-of-two size, at most half full.
struct StrMap {
    Slot *slots = nullptr;
    uint64_t size = 0;
    uint64_t used = 0;
};

Slot *strmap_find(StrMap &map, const char *bytes, uint32_t len, uint32_t hash) {
    if (map.size == 0) return nullptr;
    const uint64_t mask = map.size - 1;
    uint64_t i = hash & mask;
    for (uint64_t probes = 0; probes < map.size; ++probes, i = (i + 1) & mask) {
        Slot &s = map.slots[i];
        if (!s.occupied) {
            char *copy = tavik::mem_strndup(bytes, len);
            if (copy == nullptr) return nullptr;
            s = Slot{copy, 0, 0, 0, 1, hash, len};
            ++map.used;
            return &s;
        }
        if (s.hash == hash && s.len == len && std::memcmp(s.text, bytes, len) == 0) return &s;
    }
    return nullptr;
}

int strmap_grow(StrMap &map) {
    uint64_t n = 16;
    while (n < map.size * 2) n *= 2;
    auto *fresh = static_cast<Slot *>(mem_calloc(n, sizeof(Slot)));
    if (fresh == nullptr) return -1;
    const uint64_t mask = n - 1;
    for (uint64_t k = 0; k < map.size; ++k) {
        const Slot &s = map.slots[k];
        if (!s.occupied) continue;
        uint64_t i = s.hash & mask;
        while (fresh[i].occupied) i = (i + 1) & mask;
        fresh[i] = s;
    }
    mem_free(map.slots);
    map.slots = fresh;
    map.size = n;
    return 0;
}

int strmap_add(StrMap &map, const char *bytes, uint32_t len, uint32_t hash, int32_t order,
               tavik_ngram_list &list) {
    Slot *s = strmap_find(map, bytes, len, hash);
    if (s == nullptr) return -1;
    if (s->count != 0) {
        list.items[s->list_index].count = ++s->count;
        return 0;
    }
    if (list.count == list.capacity) {
        const uint64_t cap = list.capacity == 0 ? 64 : list.capacity * 2;
        auto *items = static_cast<NgramRec *>(mem_realloc(list.items, cap * sizeof(NgramRec)));
        if (items == nullptr) return -1;
        list.items = items;
        list.capacity = cap;
    }
    list.items[list.count] = NgramRec{s->text, 1, order};
    s->order = order;
    s->list_index = static_cast<uint32_t>(list.count);
    s->count = 1;
    ++list.count;
    return 0;
}

// Counts every occurrence handed over by the scanner.
struct CountSink {
    StrMap &map;
    tavik_ngram_list &list;
    // Unsigned, so that a text of more than 2^31 occurrences wraps the
    // order instead of overflowing; orders then only lose their use as a
    // tie-break, never their determinism.
    uint32_t next_order = 0;

    int32_t operator()(const char *bytes, uint32_t len, uint32_t hash) {
        const auto order = static_cast<int32_t>(next_order++);
        if (map.used * 2 >= map.size && strmap_grow(map) != 0) return TAVIK_NO_MEMORY;
        if (strmap_add(map, bytes, len, hash, order, list) != 0) return TAVIK_NO_MEMORY;
        return 0;
    }
};

// Negative when a ranks before b: higher count, then lower order, then the
// texts bytewise.
int cmp_rank(const NgramRec &a, const NgramRec &b) {
    if (a.count != b.count) return a.count > b.count ? -1 : 1;
    if (a.order != b.order) return a.order < b.order ? -1 : 1;
    return std::strcmp(a.text, b.text) < 0 ? -1 : (std::strcmp(a.text, b.text) > 0 ? 1 : 0);
}

}  // namespace

extern "C" {

int32_t tavik_ngram_extract(const char *text, int32_t max_len, tavik_ngram_list *list) {
    if (list == nullptr || max_len < 1 || text == nullptr) return TAVIK_INVALID;
    *list = tavik_ngram_list{nullptr, 0, 0};
    StrMap map;
    map.slots = static_cast<Slot *>(mem_calloc(256, sizeof(Slot)));
    if (map.slots == nullptr) return TAVIK_NO_MEMORY;
    map.size = 256;

    tavik::WordBuffer word;
    CountSink sink{map, *list};
    const int32_t rc = tavik::scan_ngrams(text, max_len, word, sink);
    if (rc != 0) {
        for (uint64_t k = 0; k < map.size; ++k)
            if (map.slots[k].occupied) mem_free(map.slots[k].text);
        mem_free(list->items);
        *list = tavik_ngram_list{nullptr, 0, 0};
    }
    mem_free(map.slots);  // on success the texts now belong to the list
    return rc;
}

void tavik_ngram_prune_and_rank(tavik_ngram_list *list, int32_t threshold,
                                int32_t max_distribution) {
    if (list == nullptr || list->count == 0) return;
    NgramRec *items = list->items;
    if (threshold > 0) {
        uint64_t kept = 0;
        for (uint64_t k = 0; k < list->count; ++k) {
            if (items[k].count < threshold)
                mem_free(items[k].text);
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
        std::sort(items, end,
                  [](const NgramRec &a, const NgramRec &b) { return cmp_rank(a, b) < 0; });
    if (max_distribution > 0 && list->count > static_cast<uint64_t>(max_distribution)) {
        for (uint64_t k = static_cast<uint64_t>(max_distribution); k < list->count; ++k)
            mem_free(items[k].text);
        list->count = static_cast<uint64_t>(max_distribution);
    }
}

void tavik_ngram_list_free(tavik_ngram_list *list) {
    if (list == nullptr) return;
    for (uint64_t k = 0; k < list->count; ++k) mem_free(list->items[k].text);
    mem_free(list->items);
    *list = tavik_ngram_list{nullptr, 0, 0};
}

}  // extern "C"
