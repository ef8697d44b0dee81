/* SPDX-License-Identifier: MIT */
/*
 * ngram.h - character n-grams: extraction, counting and ranking.
 *
 * A word is a maximal run of letters (see utf8.h), framed by "_" on both
 * sides; an n-gram is a run of 1 to 7 consecutive code points of one framed
 * word, the lone "_" excepted.  No case folding, no normalisation.
 *
 * Ownership: a list owns its entry array and the text of every entry in
 * use.  The empty list is {NULL, 0, 0}; records that embed a list start
 * zero-filled.  Calls on distinct lists are independent; the module keeps
 * no state between calls.
 */
#ifndef TAVIK_NGRAM_H
#define TAVIK_NGRAM_H

#include <stdint.h>

#include "status.h"
#include "tavik_export.h"

TAVIK_EXTERN_C_BEGIN

/*
 * One counted n-gram.  The library also exports a function named
 * tavik_ngram, so the record is always spelt `struct tavik_ngram`.
 *
 * After extraction `count` is the number of occurrences and `order` the
 * occurrence index of the first occurrence (unique within one extraction).
 * In a profile language read from a file, `count` is the stored value and
 * `order` the position in the file.
 */
struct tavik_ngram {
    char *text; /* NUL-terminated UTF-8, 1 to 7 code points, owned by the list */
    int32_t count;
    int32_t order;
};

/* A growable array of n-grams; after ranking, position + 1 is the rank. */
typedef struct tavik_ngram_list {
    struct tavik_ngram *items; /* NULL while nothing is allocated */
    uint64_t count;            /* entries in use */
    uint64_t capacity;         /* entries allocated; 0 -> 64, then doubling */
} tavik_ngram_list;

/*
 * Module-level functions, exported for advanced use (tools, bindings, tests)
 * but outside the stable interface: define TAVIK_MODULE_API before including
 * this header to see them.  They may change between minor versions.
 */
#ifdef TAVIK_MODULE_API

/*
 * Fills `list` with the distinct n-grams of the NUL-terminated UTF-8 `text`,
 * each once, in order of first occurrence, unpruned and unsorted.  N-grams
 * are at most min(max_len, 7) code points long.
 *
 * The list is set to the empty state first without releasing what it held:
 * pass an empty list (or release it before).  Returns TAVIK_OK,
 * TAVIK_BAD_UTF8 for malformed or truncated UTF-8 anywhere in the text,
 * TAVIK_INVALID when `text` or `list` is NULL or `max_len` < 1 (the list is
 * then untouched), or TAVIK_NO_MEMORY.  On every failure after the reset the
 * list is left empty and nothing leaks.
 */
TAVIK_API int32_t tavik_ngram_extract(const char *text, int32_t max_len, tavik_ngram_list *list);

/*
 * Removes entries whose count is below `threshold` (when threshold > 0),
 * sorts the rest by count descending, then order ascending, then text
 * bytewise, and keeps the first `max_distribution` entries (when > 0).
 * Removed texts are released; the array keeps its capacity.  A NULL or
 * empty list is left alone.
 */
TAVIK_API void tavik_ngram_prune_and_rank(tavik_ngram_list *list, int32_t threshold,
                                          int32_t max_distribution);

/* Releases every text and the array; the list becomes {NULL, 0, 0}.  NULL is accepted. */
TAVIK_API void tavik_ngram_list_free(tavik_ngram_list *list);

#endif /* TAVIK_MODULE_API */

TAVIK_EXTERN_C_END

#endif /* TAVIK_NGRAM_H */
