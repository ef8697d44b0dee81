/* SPDX-License-Identifier: MIT */
/*
 * tavik_api.h - the tavik language identifier, C interface.
 *
 * tavik names the natural language of a UTF-8 text.  It cuts the text into
 * character n-grams (1 to 5 code points of a word framed by "_"), ranks them
 * by frequency, and compares that ranking with the ranked n-grams of every
 * language of a profile by an out-of-place rank distance.  Profiles are
 * trained from sample texts with the tavik_train_* functions (or the
 * tavik-train program) and stored in a small binary file
 * (docs/profile-format.md).
 *
 * A worked example
 * ----------------
 *     #include <tavik/tavik_api.h>
 *
 *     if (tavik_load_profile("/usr/share/tavik/default.tavik") != TAVIK_OK) {
 *         fprintf(stderr, "load: %s\n", tavik_last_error());
 *         return 1;
 *     }
 *     switch (tavik_identify("Der schnelle braune Fuchs springt.")) {
 *     case TAVIK_OK:              // a clear winner
 *         printf("%s %.3f\n", tavik_best_code(), tavik_result_confidence(0));
 *         break;
 *     case TAVIK_AMBIGUOUS:       // results complete, winner too close
 *         printf("%s? (or %s)\n", tavik_result_code(0), tavik_result_code(1));
 *         break;
 *     case TAVIK_TOO_FEW_NGRAMS:  // too little text: no results
 *         break;
 *     default:                    // TAVIK_BAD_UTF8, TAVIK_NO_MEMORY, ...
 *         fprintf(stderr, "identify: %s\n", tavik_last_error());
 *     }
 *     for (int32_t i = 0; i < tavik_result_count(); ++i)
 *         printf("%s %.4f\n", tavik_result_code(i), tavik_result_distance(i));
 *     tavik_free_profile();  // optional: gives the memory back early
 *
 * The installed default profile's path: the CMake package sets
 * tavik_DEFAULT_PROFILE (and tavik_DATADIR), pkg-config gives
 * `pkg-config --variable=pkgdatadir tavik`/default.tavik.
 *
 * Conventions
 * -----------
 * - One process-wide state.  There is no handle and no initialisation call:
 *   the library keeps the loaded profile, six settings, the last query, the
 *   last results, the last error text and the last two JSON documents in one
 *   record (see tavik_get_state).  Training keeps its own record.  The
 *   settings take their defaults on the first call of a function that needs
 *   them; nothing must be called at exit.
 * - Threads: the library starts none and takes no locks.  This interface
 *   serves one thread at a time; calls must not overlap, but it may run
 *   beside sessions (tavik_session.h) on other threads.  For threads, use
 *   tavik_session.h: one model shared by all, one session per thread.
 * - Status codes (status.h): functions that can fail return a tavik_status
 *   as int32_t.  Identification-side failures also leave a fixed message
 *   that tavik_last_error returns; training never writes it.
 * - Accessors answer an index or key that is not there with 0, NULL, -1.0
 *   or 0.0, never with a status.  The JSON functions answer any refusal or
 *   failure with the static text "{}".  Setters ignore or clamp values out
 *   of range.
 * - Ownership and lifetimes: every text the library returns points into
 *   storage the library owns; never release or modify it.  It stays valid
 *   until the call named with each function replaces it.
 * - Failure leaves no partial result: a failing function releases what it
 *   allocated and leaves the record it works on as it was (or empty where
 *   documented).  No C++ exception crosses this interface.
 * - Texts are NUL-terminated UTF-8; lengths are in bytes.  A text ends at its
 *   first NUL byte.
 * - What the interface does not do: no case folding, no Unicode
 *   normalisation, no scripts beyond Latin, Greek, Cyrillic, CJK, kana and
 *   Hangul (others act as word separators), no logging, no configuration
 *   file.
 * - Stability: every function declared in this header, the records it
 *   declares and the codes of status.h are the stable interface.  The module
 *   headers it includes (ngram.h, profile.h, utf8.h) contribute the records
 *   the state embeds; their functions are exported for advanced use but sit
 *   behind TAVIK_MODULE_API (define it before including to see them) and may
 *   change between minor versions.
 *
 * The six settings
 * ----------------
 *   setting              default  range                     a profile load
 *   min_ngrams           40       any; fewer query n-grams  keeps it
 *                                 give TAVIK_TOO_FEW_NGRAMS
 *   min_margin           2.0      any, in percent           keeps it
 *   size_penalty         0        0 or non-zero             keeps it
 *   max_ngram_length     5        >= 1 (at most 7 used)     replaces it when
 *                                                           the file's is > 0
 *   max_distribution     4000     >= 1                      replaces it when
 *                                                           the file's is > 0
 *   occurance_threshold  0        >= 0                      always replaces it
 *
 * max_distribution is both the length a ranked list is cut to and the rank
 * charged for a query n-gram a language lacks (the "absent penalty").
 *
 * Distance, margin and confidence
 * -------------------------------
 * For a query of q ranked n-grams and a language of p ranked n-grams, the
 * distance is  (sum over query ranks i of |i - r(i)|, with r(i) the n-gram's
 * rank in the language or, when the language lacks it, the absent penalty
 * in place of the term; plus |q - p| * penalty when size_penalty is on)
 * divided by max(q, p).  Lower is closer; 0 is identical.
 *
 * Results are sorted by distance, then code bytewise.  With d1 <= d2 the two
 * best distances, the winner's lead is g = (d2 - d1) / d2:
 *   margin     = 100 * g (percent); below min_margin the outcome is
 *                TAVIK_AMBIGUOUS;
 *   confidence = g clamped to [0, 1], given to the winner only (every other
 *                result has 0.0); 1.0 for a profile of one language or a
 *                runner-up at distance 0 (or below 1e-12).
 * A profile that names close relatives (the meta pair "tavik.relatives",
 * docs/profile-format.md) may order those at the head by likelihood
 * instead, with a confidence of its own ("Close relatives" in
 * tavik_session.h).
 * The confidence is the winner's relative lead over the runner-up, not a
 * probability: a clear sentence may lead by no more than 0.1, and the
 * number does not say how likely the answer is to be right.
 *
 * This header compiles as C11 and as C++.
 */
#ifndef TAVIK_API_H
#define TAVIK_API_H

#include <stdint.h>

#include "ngram.h"
#include "profile.h"
#include "status.h"
#include "tavik_export.h"

TAVIK_EXTERN_C_BEGIN

/* ----------------------------------------------------------------- state */

/* One scored language of the last identification. */
typedef struct tavik_result {
    char code[8];      /* language code, at most 7 bytes and a NUL */
    double distance;   /* out-of-place distance, >= 0 and finite */
    double confidence; /* 0.0 to 1.0; only the best result can be above 0.0 */
} tavik_result;

/* The process-wide library state, readable through tavik_get_state. */
typedef struct tavik_state {
    tavik_profile *profile;      /* the loaded profile, or NULL */
    int32_t min_ngrams;          /* default 40 */
    double min_margin;           /* percent; default 2.0 */
    int32_t size_penalty;        /* 0 or 1; default 0 */
    int32_t max_ngram_length;    /* default 5 */
    int32_t max_distribution;    /* default 4000 */
    int32_t occurance_threshold; /* default 0 */
    tavik_ngram_list query;      /* ranked n-grams of the last extracted text */
    int32_t query_valid;         /* 1 while `query` holds a successful extraction */
    tavik_result results[64];    /* ranked languages of the last identification */
    int32_t result_count;
    int32_t status;     /* tavik_status of the last identification */
    char error[256];    /* last error text, NUL-terminated */
    char *json;         /* last result document, or NULL */
    char *explain_json; /* last explanation document, or NULL */
} tavik_state;

/* One language being trained. */
typedef struct tavik_train_lang {
    char code[8];            /* 1 to 7 bytes and a NUL */
    char *text;              /* fed pieces, each followed by "\n", then a NUL; or NULL */
    uint64_t text_len;       /* bytes collected, NUL not counted */
    uint64_t text_cap;       /* bytes allocated; 0 while text is NULL */
    tavik_ngram_list ngrams; /* ranked n-grams once the language is ended */
} tavik_train_lang;

/* The process-wide training record. */
typedef struct tavik_train_state {
    tavik_train_lang langs[64]; /* in begin order */
    int32_t lang_count;
    int32_t current;     /* index of the open language, or -1 */
    tavik_meta meta[64]; /* in the order first set */
    int32_t meta_count;
} tavik_train_state;

/* ------------------------------------------- settings, errors and version */

/*
 * The library state.  Read-only: change it through the functions below.
 * Before the first call of a function that applies the defaults (setters,
 * loaders, extraction, identification, train begin/end/write) every
 * setting reads 0.  Never NULL.
 */
TAVIK_API const tavik_state *tavik_get_state(void);

/* The static text "1.0.0". */
TAVIK_API const char *tavik_version(void);

/* The last error text; "" when there is none.  Never NULL.  Valid until the
 * next call that writes the error text. */
TAVIK_API const char *tavik_last_error(void);

/* Copies `message` verbatim (not as a format) into the error text, cut to 255
 * bytes; NULL empties it. */
TAVIK_API void tavik_set_err(const char *message);

/* Least number of query n-grams identification accepts; any value is stored. */
TAVIK_API void tavik_set_min_ngrams(int32_t count);
/* Least lead of the winner over the runner-up, in percent; any value is stored. */
TAVIK_API void tavik_set_min_margin(double margin);
/* Non-zero: distances also charge |query size - language size| * penalty. */
TAVIK_API void tavik_set_size_penalty(int32_t enabled);
/* Longest n-gram in code points (at most 7 are used); values < 1 are ignored. */
TAVIK_API void tavik_set_max_ngram_length(int32_t length);
/* N-grams kept per list, and the cost of an absent n-gram; values < 1 are ignored. */
TAVIK_API void tavik_set_max_distribution(int32_t count);
/* Least count an n-gram needs to stay in a list; negative values store 0. */
TAVIK_API void tavik_set_occurance_threshold(int32_t count);

/* --------------------------------------------------------- query n-grams */

/*
 * Replaces the query with the ranked n-grams of `text` (pruned by
 * occurance_threshold, cut to max_distribution).  The previous query is
 * released first, whatever follows.  Returns TAVIK_OK (the error text is
 * left as it was), TAVIK_INVALID with "null text", TAVIK_BAD_UTF8 with
 * "bad utf8", or the extractor's other code with "extract failed"; on
 * failure no query is left.
 */
TAVIK_API int32_t tavik_extract_ngrams(const char *text);

/* Number of query n-grams; 0 while there is no valid query. */
TAVIK_API int32_t tavik_ngram_count(void);

/* The query n-gram at `position` (0 = rank 1), or NULL when out of range or
 * there is no query.  Valid until the next extraction, identification or
 * tavik_free_profile. */
TAVIK_API const char *tavik_ngram(int32_t position);

/* position + 1, or 0 under the conditions tavik_ngram answers NULL. */
TAVIK_API int32_t tavik_ngram_rank(int32_t position);

/* -------------------------------------------------------------- profiles */

/*
 * Loads the profile file at `path` (at most 64 MiB) and installs it,
 * replacing the loaded one.  The profile's max_ngram_length and
 * max_distribution become the settings when non-zero, its
 * occurance_threshold always.  Returns TAVIK_OK (error text emptied),
 * TAVIK_INVALID with "null path", or TAVIK_BAD_PROFILE / TAVIK_NO_MEMORY
 * with "bad profile file".  A failed load changes nothing but the error
 * text.
 */
TAVIK_API int32_t tavik_load_profile(const char *path);

/* As tavik_load_profile, from `size` bytes at `data` (copied; the caller may
 * release them on return).  Failures set "bad profile memory". */
TAVIK_API int32_t tavik_load_profile_memory(const void *data, uint64_t size);

/* Releases the profile, the query and both JSON documents, and sets the
 * result count to 0.  Settings, status and error text stay.  Harmless when
 * nothing is loaded. */
TAVIK_API void tavik_free_profile(void);

/* Languages of the loaded profile; 0 when none is loaded. */
TAVIK_API int32_t tavik_profile_language_count(void);

/* Code of language `index` in file order, or NULL.  Profile texts stay valid
 * until another load succeeds or tavik_free_profile runs. */
TAVIK_API const char *tavik_profile_language_code(int32_t index);

/* Value of the first meta pair whose key equals `key` byte for byte, or NULL. */
TAVIK_API const char *tavik_profile_meta(const char *key);

/* Number of meta pairs of the loaded profile, in file order; 0 when none is
 * loaded. */
TAVIK_API int32_t tavik_profile_meta_count(void);

/* Key and value of meta pair `index` (file order), or NULL when out of range
 * or no profile is loaded.  Valid as long as the profile's codes are. */
TAVIK_API const char *tavik_profile_meta_key(int32_t index);
TAVIK_API const char *tavik_profile_meta_value(int32_t index);

/* Identifier of the loaded profile, such as "tavik-v1-L12", or NULL. */
TAVIK_API const char *tavik_profile_id(void);

/* -------------------------------------------------------- identification */

/*
 * Identifies the language of `text` against the loaded profile.
 * Returns, and records as the status:
 *   TAVIK_OK             a clear winner (error text emptied);
 *   TAVIK_AMBIGUOUS      "ambiguous": the results are complete, but the
 *                        winner leads by less than min_margin percent;
 *   TAVIK_TOO_FEW_NGRAMS "too few ngrams": no results, the query stays;
 *   TAVIK_NO_PROFILE     "no profile";
 *   TAVIK_INVALID        "null text": the status reads TAVIK_NO_PROFILE and
 *                        the previous query is left untouched;
 *   TAVIK_BAD_UTF8       "bad utf8", or the extractor's other code with
 *                        "extract failed": no query, no results.
 * Results are sorted by distance, then code; only the best has a
 * confidence above 0.0.
 */
TAVIK_API int32_t tavik_identify(const char *text);

/* Number of results of the last identification (0 after a failure). */
TAVIK_API int32_t tavik_result_count(void);

/* Code of result `index`, or NULL when out of range.  The text lives in the
 * library state and changes with the next identification. */
TAVIK_API const char *tavik_result_code(int32_t index);

/* Distance of result `index`, or -1.0 when out of range. */
TAVIK_API double tavik_result_distance(int32_t index);

/* Confidence of result `index`, or 0.0 when out of range. */
TAVIK_API double tavik_result_confidence(int32_t index);

/* Code of the winner when the last identification returned TAVIK_OK with at
 * least one result; NULL otherwise (also after an ambiguous outcome). */
TAVIK_API const char *tavik_best_code(void);

/* ------------------------------------------------------------- documents */

/*
 * The last identification as compact JSON:
 *   {"status":0,"best":"nld","ngrams":312,"results":[{"code":"nld",
 *    "distance":175.73275,"confidence":0.26792204843644873},...]}
 * "best" is "" unless the status is 0; reals always carry a fraction.
 * Returns "{}" when the document cannot be built (also when a language code
 * is not valid UTF-8).  Valid until the next call of this function or
 * tavik_free_profile.
 */
TAVIK_API const char *tavik_result_json(void);

/*
 * How profile language `index` (file order, not result order) scores
 * against the current query:
 *   {"code":"nld","distance":1.0005,"ngrams":[{"ngram":"e","query_rank":1,
 *    "profile_rank":2},...]}
 * listing the first 64 query n-grams (profile_rank 0 = absent) while the
 * distance covers the whole query under the current settings.  "{}" when
 * the index is out of range, no profile is loaded, there is no valid
 * query, or the document cannot be built.  Valid until the next call of
 * this function or tavik_free_profile.
 */
TAVIK_API const char *tavik_explain(int32_t index);

/* -------------------------------------------------------------- training */

/*
 * Training collects text per language, ends each language into its ranked
 * n-grams (with the settings in force at that moment) and writes them all as
 * one profile file.  Typical order: tavik_train_reset, tavik_train_set_meta,
 * then per language tavik_train_begin, tavik_train_feed..., and
 * tavik_train_end_language; then tavik_train_write_profile; reset again to
 * release the memory.
 */

/* Releases every language and meta pair; training is empty again. */
TAVIK_API void tavik_train_reset(void);
/* The same as tavik_train_reset. */
TAVIK_API void tavik_train_state_reset(void);

/*
 * Sets meta pair `key` to `value` (both copied; empty texts allowed).  An
 * existing key keeps its place and gets the new value.  Returns TAVIK_OK,
 * TAVIK_INVALID for a NULL argument or a 65th key, TAVIK_NO_MEMORY (nothing
 * changed).
 *
 * Keys starting with "tavik." are reserved for the text model, which
 * training applies to every language and identification to every text:
 *   tavik.letters    "unicode": letters are the code points of general
 *                    category L or M, and U+200C/U+200D between two
 *                    letters; "designed": the letter table of utf8.h
 *   tavik.case       "fold": Unicode simple case folding of every letter;
 *                    "keep": none
 *   tavik.normalize  "nfc": texts are brought to NFC first; "none": not
 * A profile without these pairs has the designed model (designed letters,
 * no folding, no normalisation).  For a reserved key this function also
 * returns TAVIK_INVALID when the key or value is not one of the above, or
 * once a language has been begun; loading a profile whose reserved pairs
 * are unknown or repeated fails with TAVIK_BAD_PROFILE and an error text
 * naming the key.  The calibration pairs, "tavik.relatives" and the word
 * lists "tavik.words.CODE" (docs/profile-format.md) cut nothing and may be
 * set at any time.
 */
TAVIK_API int32_t tavik_train_set_meta(const char *key, const char *value);

/*
 * Opens a new language `code` (1 to 7 bytes) and makes it current.  A
 * language still open is left open but is no longer fed.  Returns TAVIK_OK,
 * or TAVIK_INVALID for a NULL, empty or too long code or a 65th language.
 */
TAVIK_API int32_t tavik_train_begin(const char *code);

/*
 * Appends `text` and a line feed to the open language.  The bytes are
 * checked only when the language is ended.  Returns TAVIK_OK,
 * TAVIK_INVALID (NULL text, no language open) or TAVIK_NO_MEMORY (the
 * collected text is kept).
 */
TAVIK_API int32_t tavik_train_feed(const char *text);

/*
 * Ends the open language: its text becomes its ranked n-gram list and is
 * released.  Returns TAVIK_OK, TAVIK_INVALID when no language is open, or
 * the extractor's code (TAVIK_BAD_UTF8, TAVIK_INVALID, TAVIK_NO_MEMORY), in
 * which case the language stays open with its text.
 */
TAVIK_API int32_t tavik_train_end_language(void);

/*
 * Ends the open language, if any, and writes every language and meta pair
 * to `path` with the current settings in the header.  Training keeps all its
 * data; it can be written again.  Returns TAVIK_OK, TAVIK_INVALID (NULL
 * path, no language begun, a limit of the file format broken, file not
 * written), or the code of ending the open language (nothing written).
 */
TAVIK_API int32_t tavik_train_write_profile(const char *path);

/* ---------------------------------------------------------------- letters */

/* 1 when `cp` is a letter of the letter table, 0 otherwise (negative values
 * included).  Applies no settings. */
TAVIK_API int32_t tavik_is_letter(int32_t cp);

TAVIK_EXTERN_C_END

#endif /* TAVIK_API_H */
