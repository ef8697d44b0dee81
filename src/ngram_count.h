// SPDX-License-Identifier: MIT
// ngram_count.h - the counting map behind extraction, shared by the public
// list functions, training and the library's query.
//
// The map counts the n-gram occurrences of one text.  Its slots hold only
// an entry number; the entries (first-occurrence order) hold each n-gram's
// key (ngram_key.h), count and first occurrence, and their texts sit one
// after the other in one arena, each with a NUL.  Nothing is allocated per
// n-gram, and room is made once per word, not per occurrence: callers that
// need one allocation per text (a list the caller owns) make those copies at
// the end, for the entries that survive ranking.
#ifndef TAVIK_NGRAM_COUNT_H
#define TAVIK_NGRAM_COUNT_H

#include <cstdint>

#include "ngram_key.h"
#include "tavik/ngram.h"
#include "text_model.h"

namespace tavik {

struct Counted {
    uint64_t lo, hi;  // the key's words
    uint32_t hash;
    uint32_t len;   // bytes, NUL not counted
    uint32_t off;   // text in the arena
    int32_t count;  // occurrences
    int32_t order;  // occurrence index of the first occurrence
    Key key() const { return Key{lo, hi, len, hash}; }
};

struct StrMap {
    uint32_t *slots = nullptr;   // entry + 1; 0 = free
    uint64_t size = 0;           // slots in use, a power of two
    uint64_t slot_cap = 0;       // slots allocated
    Counted *store = nullptr;    // the entries after one sentinel that matches no key
    Counted *entries = nullptr;  // store + 1, so that entries[-1] is the sentinel
    uint64_t count = 0;
    uint64_t entry_cap = 0;
    char *arena = nullptr;
    uint64_t arena_len = 0;
    uint64_t arena_cap = 0;
    uint32_t *ranked = nullptr;  // entry numbers in rank order, after strmap_rank
    uint64_t ranked_count = 0;
    uint64_t ranked_cap = 0;
    uint32_t *buckets = nullptr;  // scratch of the counting sort
    uint64_t bucket_cap = 0;

    const char *text(const Counted &e) const { return arena + e.off; }
};

// Texts of at least this many bytes are counted word by word, each distinct
// word once; shorter ones occurrence by occurrence.  Both give the same
// counts and orders; tests lower it to compare the two.
extern uint64_t count_words_from;

// Releases every array; the map is empty and may be used again.
void strmap_release(StrMap &map);

// The first words of a text, each as word_hash of its letters (the frame
// left out), in the order they occur: the word evidence that close
// relatives are told apart by (relatives.h).  Later words are not kept.
constexpr uint32_t kQueryWords = 1024;
struct QueryWords {
    uint32_t count = 0;
    uint64_t hash[kQueryWords];
};

// 64-bit FNV-1a of `len` bytes.
inline uint64_t word_hash(const char *bytes, uint64_t len) {
    uint64_t h = 0xCBF29CE484222325u;
    for (uint64_t i = 0; i < len; ++i)
        h = (h ^ static_cast<unsigned char>(bytes[i])) * 0x100000001B3u;
    return h;
}

// Counts the n-grams of `text` into `map`, replacing what it held but
// keeping its storage.  Returns TAVIK_OK, TAVIK_BAD_UTF8 or TAVIK_NO_MEMORY;
// `max_len` >= 1 and `text` != NULL are the caller's to check.
int32_t strmap_count_text(StrMap &map, const char *text, int32_t max_len);

// The same for the `len` bytes at `text`, where a NUL byte is a separator
// like any other non-letter.
int32_t strmap_count_bytes(StrMap &map, const char *text, uint64_t len, int32_t max_len);

// The same under a declared text model; the designed model takes the path
// above.  The model's normalisation may allocate a copy of the text.  With
// `words`, the text's first words are kept there too.
int32_t strmap_count_model(StrMap &map, const char *text, uint64_t len, int32_t max_len,
                           const TextModel &model, QueryWords *words = nullptr);

// Ranks the counted entries into map.ranked: counts below `threshold`
// dropped (when > 0), the higher count first, the earlier first occurrence
// on equal counts, cut to `max_distribution` (when > 0).  TAVIK_OK or
// TAVIK_NO_MEMORY.
int32_t strmap_rank(StrMap &map, int32_t threshold, int32_t max_distribution);

// Fills an empty `list` with copies of the ranked entries' texts, one
// allocation per text, as a list owned by its caller.  TAVIK_OK or
// TAVIK_NO_MEMORY (the list is then empty again).
int32_t strmap_copy_ranked(const StrMap &map, tavik_ngram_list *list);

}  // namespace tavik

#endif  // TAVIK_NGRAM_COUNT_H
