/* SPDX-License-Identifier: MIT */
/*
 * profile.h - the in-memory profile, its per-language rank lookup, and the
 * binary profile file (reader and writer).  The format is described in
 * docs/profile-format.md.
 *
 * A loaded profile owns every string and array it points to; the key slots
 * of a language's lookup table borrow the texts of the same language's list.
 * A profile is never modified after the reader returns it, so lookups may be
 * made concurrently.
 */
#ifndef TAVIK_PROFILE_H
#define TAVIK_PROFILE_H

#include <stdint.h>

#include "ngram.h"
#include "status.h"
#include "tavik_export.h"

TAVIK_EXTERN_C_BEGIN

#define TAVIK_MAX_LANGS 64
#define TAVIK_MAX_META 64
#define TAVIK_MAX_LANG_NGRAMS 100000
#define TAVIK_MAX_PROFILE_BYTES 67108864 /* 64 MiB, largest file the path reader accepts */

/* One language: its code, its n-grams in rank order, and a hash table from
 * n-gram text to 1-based rank (open addressing, linear probing, FNV-1a). */
typedef struct tavik_lang {
    char code[8];             /* 1 to 7 bytes and a NUL */
    tavik_ngram_list ngrams;  /* position k has rank k + 1 */
    const char **lookup_keys; /* lookup_size slots, borrowing texts of `ngrams`; NULL = empty */
    uint32_t *lookup_ranks;   /* parallel to lookup_keys: 1-based rank */
    uint64_t lookup_size;     /* power of two >= 2N + 16; 0 while no table is built */
    uint64_t lookup_used;     /* occupied slots, N once built */
} tavik_lang;

/* One key/value pair of free-form metadata; both owned NUL-terminated texts. */
typedef struct tavik_meta {
    char *key;
    char *value;
} tavik_meta;

typedef struct tavik_profile {
    int32_t version;          /* 1 in every loaded profile */
    int32_t flags;            /* bit 0: the file stored a value for every n-gram */
    int32_t max_ngram_length; /* training settings */
    int32_t max_distribution;
    int32_t occurance_threshold;
    int32_t lang_count; /* 0 to 64 */
    tavik_lang langs[TAVIK_MAX_LANGS];
    int32_t meta_count; /* 0 to 64 */
    tavik_meta meta[TAVIK_MAX_META];
    char id[64]; /* "tavik-v<version>-L<lang_count>", formed by the reader */
} tavik_profile;

/*
 * Module-level functions, exported for advanced use (tools, bindings, tests)
 * but outside the stable interface: define TAVIK_MODULE_API before including
 * this header to see them.  They may change between minor versions.
 */
#ifdef TAVIK_MODULE_API

/*
 * Builds the rank lookup of a language whose n-gram list is complete and
 * whose table is not built yet.  Returns TAVIK_OK or TAVIK_NO_MEMORY; on
 * failure what was allocated stays in the language (released with the
 * profile) and lookup_size stays 0.
 */
TAVIK_API int32_t tavik_profile_build_lookup(tavik_lang *lang);

/*
 * The 1-based rank of `text` in `lang` (the lowest, when the language holds
 * the text more than once), or 0 when it is absent or an argument is NULL or
 * the table was never built.  Compares bytes exactly.
 */
TAVIK_API int32_t tavik_lang_lookup_rank(const tavik_lang *lang, const char *text);

/* Releases a profile made by tavik_profile_load or tavik_profile_load_path,
 * and everything it owns; no other record may be passed (its n-gram texts
 * share one allocation).  NULL is accepted. */
TAVIK_API void tavik_profile_free(tavik_profile *profile);

/*
 * Writes `profile` to `path` (flags bit 0 always set, so every n-gram
 * carries its count).  The record is only read and may borrow all its
 * strings and lists.  The file is written to a temporary file beside `path`
 * and renamed over it only when every write, the flush and the close
 * succeeded.  Returns TAVIK_OK, or TAVIK_INVALID when an argument is NULL,
 * the record breaks a limit the reader enforces (code of 0 or more than 7
 * bytes, more than 100000 n-grams in a language, more than 64 languages or
 * meta pairs, a text longer than 65535 bytes) - in which case no file is
 * created - or the file cannot be written; an existing file at `path` is
 * then left untouched.
 */
TAVIK_API int32_t tavik_profile_write(const tavik_profile *profile, const char *path);

/*
 * Parses the `size` bytes at `data` into a new profile and stores it in
 * `*out`; the caller owns it and releases it with tavik_profile_free.
 * Every string is copied, so `data` may be released on return.  Returns
 * TAVIK_OK, TAVIK_BAD_PROFILE for a malformed blob (or NULL data/out), or
 * TAVIK_NO_MEMORY.  On failure `*out` is not written and nothing leaks.
 */
TAVIK_API int32_t tavik_profile_load(const void *data, uint64_t size, tavik_profile **out);

/*
 * Says where tavik_profile_load rejects the `size` bytes at `data`: returns
 * TAVIK_BAD_PROFILE with `*offset` the byte offset of the first field that
 * breaks the format and `*truncated` 1 when the bytes end inside that field
 * (0 when its value is wrong), TAVIK_OK when the bytes load, or
 * TAVIK_NO_MEMORY.  Nothing is kept; NULL out-pointers are accepted.
 */
TAVIK_API int32_t tavik_profile_find_fault(const void *data, uint64_t size, uint64_t *offset,
                                           int32_t *truncated);

/*
 * Reads the whole file at `path` (at most 64 MiB) and parses it as
 * tavik_profile_load does.  Returns TAVIK_INVALID for a NULL path,
 * TAVIK_BAD_PROFILE when the file cannot be opened, sized or read whole or
 * is too large, TAVIK_NO_MEMORY, or the parser's status.
 */
TAVIK_API int32_t tavik_profile_load_path(const char *path, tavik_profile **out);

#endif /* TAVIK_MODULE_API */

TAVIK_EXTERN_C_END

#endif /* TAVIK_PROFILE_H */
