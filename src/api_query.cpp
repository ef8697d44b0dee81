// api_query.cpp - the query: the ranked n-grams of the last extracted text.
//
// The query is extracted into storage that lives beside G and is reused by
// every extraction: the counting map with its text arena, the entry array
// that G.query lends out, and each entry's hash for scoring.  Its texts
// point into the arena, so an extraction allocates nothing once the storage
// has grown to the texts seen; tavik_free_profile gives it all back.

#include "alloc.h"
#include "api_internal.h"
#include "ngram_count.h"

using tavik::G;

namespace tavik {

namespace {

using NgramRec = struct tavik_ngram;

struct QueryStorage {
    StrMap map;
    NgramRec *items = nullptr;
    uint64_t cap = 0;
};

QueryStorage q;

bool valid_position(int32_t position) {
    return G.query_valid != 0 && position >= 0 && static_cast<uint64_t>(position) < G.query.count;
}

// Lends the ranked entries of the map to G.query.
int32_t publish(uint64_t n) {
    if (n > q.cap) {
        auto *items = static_cast<NgramRec *>(mem_realloc(q.items, n * sizeof(NgramRec)));
        if (items == nullptr) return TAVIK_NO_MEMORY;
        q.items = items;
        q.cap = n;
    }
    for (uint64_t k = 0; k < n; ++k) {
        const Counted &e = q.map.entries[q.map.ranked[k]];
        q.items[k] = NgramRec{q.map.arena + e.off, e.count, e.order};
    }
    G.query = tavik_ngram_list{n != 0 ? q.items : nullptr, n, n != 0 ? q.cap : 0};
    return TAVIK_OK;
}

}  // namespace

bool query_entries(QueryEntries *out) {
    if (G.query_valid == 0) return false;
    *out = QueryEntries{q.map.entries, q.map.ranked};
    return true;
}

void query_clear() {
    G.query = tavik_ngram_list{nullptr, 0, 0};
    G.query_valid = 0;
}

void query_release() {
    query_clear();
    strmap_release(q.map);
    mem_free(q.items);
    q = QueryStorage{};
}

}  // namespace tavik

extern "C" {

int32_t tavik_extract_ngrams(const char *text) {
    tavik::ensure_defaults();
    tavik::query_clear();
    if (text == nullptr) {
        tavik::set_error("null text");
        return TAVIK_INVALID;
    }
    int32_t rc = G.max_ngram_length < 1
                     ? TAVIK_INVALID
                     : tavik::strmap_count_text(tavik::q.map, text, G.max_ngram_length);
    if (rc == TAVIK_OK)
        rc = tavik::strmap_rank(tavik::q.map, G.occurance_threshold, G.max_distribution);
    if (rc == TAVIK_OK) rc = tavik::publish(tavik::q.map.ranked_count);
    if (rc != TAVIK_OK) {
        tavik::query_clear();
        tavik::set_error(rc == TAVIK_BAD_UTF8 ? "bad utf8" : "extract failed");
        return rc;
    }
    G.query_valid = 1;
    return TAVIK_OK;
}

int32_t tavik_ngram_count(void) {
    return G.query_valid != 0 ? static_cast<int32_t>(G.query.count) : 0;
}

const char *tavik_ngram(int32_t position) {
    return tavik::valid_position(position) ? G.query.items[position].text : nullptr;
}

int32_t tavik_ngram_rank(int32_t position) {
    return tavik::valid_position(position) ? position + 1 : 0;
}

}  // extern "C"
