/* SPDX-License-Identifier: MIT */
/*
 * tavik_session.h - the tavik language identifier, handle-based C interface.
 *
 * The same identification as tavik_api.h, without the process-wide state:
 * a model holds a loaded profile, a session holds what one caller changes.
 * A program may hold several models at once, and identify on as many
 * threads as it has sessions.  Both interfaces may be used in one process;
 * they share nothing mutable.
 *
 * Conventions
 * -----------
 * - tavik_model: a loaded profile with everything derived from it.  It is
 *   never changed after tavik_model_open* returns it, so any number of
 *   threads may use one model at once (open sessions on it, read its
 *   languages) without locks.
 * - tavik_session: the six settings, the candidate languages, the last
 *   query, results, status, error text, both JSON documents and the scratch
 *   storage identification reuses.  A session serves one thread at a time:
 *   calls on one session must not overlap (use one session per thread, or
 *   lock around it).  Calls on distinct sessions never interfere, whether
 *   their models are the same or not.
 * - Ownership: tavik_model_open* and tavik_session_new hand the caller one
 *   reference, dropped with tavik_model_free / tavik_session_free (NULL is
 *   accepted by both).  A session holds a reference to its model (an
 *   atomic count): tavik_model_free drops only the caller's, and the model
 *   is released with the last session on it.  A session may thus outlive
 *   the caller's reference, and the model may be freed on another thread
 *   while its sessions run.
 * - Returned texts point into storage the library owns; never release or
 *   modify them.  A model's texts (codes, meta values, identifier) live as
 *   long as the model.  A session's texts live until the next call on that
 *   session that replaces them (named with each function) or its
 *   tavik_session_free; the error text is a copy of a fixed text.
 * - Status codes as in tavik_api.h, returned as int32_t.  Accessors answer
 *   a missing index with 0, NULL, -1.0 or 0.0; the JSON functions answer
 *   any refusal or failure with the static text "{}"; NULL handles are
 *   refused likewise, never dereferenced.
 * - Failure leaves no partial result: a failing function releases what it
 *   allocated; no model is ever half-built.  No C++ exception crosses this
 *   interface.
 * - Texts to identify are length-delimited UTF-8: no terminator is needed,
 *   and a NUL byte is a separator like any other non-letter.  For a text
 *   without NUL bytes every outcome (status, results and their order,
 *   distances bit for bit, confidence, query n-grams, both documents)
 *   equals that of tavik_identify under the same settings.
 *
 * Models of several members
 * --------------------------
 * A model file may bundle several member profiles, each serving a set of
 * Unicode scripts, and name for some scripts the one language that writes
 * them (docs/model-format.md; tavik-train --bundle writes it).  A session
 * on such a model finds the dominant script of each text (as
 * tavik_text_scripts does) and routes it:
 * - to the member serving that script: the designed identification on
 *   that member's profile, with all its outcomes and the session's
 *   settings;
 * - to a language the script alone names: TAVIK_OK with one result,
 *   distance 0 and confidence 1, and no query n-grams;
 * - a text without letters (or malformed UTF-8) to the first member, which
 *   answers as designed;
 * - a script that nobody serves: TAVIK_UNSUPPORTED_SCRIPT ("unsupported
 *   script"), no results; tavik_session_script names the script.
 * A profile file opened as a model is a model of one member serving every
 * script: its sessions behave exactly as described above for profiles, and
 * never return TAVIK_UNSUPPORTED_SCRIPT.
 *
 * Close relatives
 * ---------------
 * A profile (or member) may name groups of close relatives in its meta
 * pair "tavik.relatives" (docs/profile-format.md; the default model's Latin,
 * Cyrillic and Devanagari members do).  When the two closest languages of
 * a text are of one group and the first leads by less than 20 % in
 * distance (confidence below 0.2), the group's languages at the head of the
 * results are ordered by how likely each makes the text's n-grams, and its
 * words when each of them lists its words in "tavik.words.CODE"; each
 * keeps its distance, so such results need not be in distance order.  The
 * winner's confidence is then ten times its relative lead in that
 * likelihood (at most 1), and the
 * outcome is ambiguous only on a tie: the calibrated probability
 * (tavik_session_probability) is the measure of doubt there.  The same
 * holds for such a profile loaded through tavik_api.h.  Profiles without
 * the pair rank as designed.
 *
 * This header compiles as C11 and as C++.
 */
#ifndef TAVIK_SESSION_H
#define TAVIK_SESSION_H

#include <stdint.h>

#include "status.h"
#include "tavik_export.h"

TAVIK_EXTERN_C_BEGIN

typedef struct tavik_model tavik_model;
typedef struct tavik_session tavik_session;

/* ---------------------------------------------------------------- models */

/*
 * Reads the profile file at `path` (at most 64 MiB) into a new model in
 * `*out`.  Validates exactly as tavik_load_profile does and returns the
 * same codes: TAVIK_OK, TAVIK_INVALID (NULL path or out), TAVIK_BAD_PROFILE
 * or TAVIK_NO_MEMORY; on failure `*out` is set to NULL (unless out is
 * NULL).  A file that starts with the bundle magic "TAVIKMD1" is read as a
 * model of several members (at most 256 MiB of payload, optionally zstd
 * compressed; docs/model-format.md): every member profile is validated as
 * above, and any breach of the format is TAVIK_BAD_PROFILE.  No error
 * text is kept: a model has none.  The profile's text model (the reserved
 * "tavik." meta pairs, see tavik_train_set_meta) is applied to every text
 * its sessions identify; a profile whose text model tavik does not know is
 * refused with TAVIK_BAD_PROFILE.
 */
TAVIK_API int32_t tavik_model_open(const char *path, tavik_model **out);

/* As tavik_model_open, from `size` bytes at `data` (copied; the caller may
 * release them on return). */
TAVIK_API int32_t tavik_model_open_memory(const void *data, uint64_t size, tavik_model **out);

/* Drops the caller's reference; the model goes once no session holds it. */
TAVIK_API void tavik_model_free(tavik_model *model);

/* Languages of the model, 0 for NULL; the code of language `index` in file
 * order, or NULL.  A bundle lists every member's languages, members in
 * order, then its direct languages (a code may then appear more than
 * once). */
TAVIK_API int32_t tavik_model_language_count(const tavik_model *model);
TAVIK_API const char *tavik_model_language_code(const tavik_model *model, int32_t index);

/* Value of the first meta pair whose key equals `key`, or NULL; the
 * model's identifier (such as "tavik-v1-L12"), or NULL.  A bundle looks up
 * its own meta pairs first, then its first member's; its identifier reads
 * "tavik-bundle-v1-M<members>-L<languages>". */
TAVIK_API const char *tavik_model_meta(const tavik_model *model, const char *key);
TAVIK_API const char *tavik_model_id(const tavik_model *model);

/* -------------------------------------------------------------- sessions */

/*
 * A new session on `model` in `*out`, holding a reference to it.  Its
 * settings are the defaults of tavik_api.h, with the profile header's
 * max_ngram_length and max_distribution when non-zero and its
 * occurance_threshold always, as tavik_load_profile sets them (for a
 * bundle, its first member's header; the settings then apply to whichever
 * member a text goes to).  Every language is a candidate.  Returns
 * TAVIK_OK, TAVIK_INVALID (NULL model or out) or TAVIK_NO_MEMORY; on
 * failure `*out` is set to NULL.
 */
TAVIK_API int32_t tavik_session_new(tavik_model *model, tavik_session **out);

/* Releases the session and everything it returned, and drops its
 * reference to the model.  NULL is accepted. */
TAVIK_API void tavik_session_free(tavik_session *session);

/* The six settings, with the ranges and clamping of the tavik_set_*
 * functions of tavik_api.h.  A NULL session is ignored. */
TAVIK_API void tavik_session_set_min_ngrams(tavik_session *session, int32_t count);
TAVIK_API void tavik_session_set_min_margin(tavik_session *session, double margin);
TAVIK_API void tavik_session_set_size_penalty(tavik_session *session, int32_t enabled);
TAVIK_API void tavik_session_set_max_ngram_length(tavik_session *session, int32_t length);
TAVIK_API void tavik_session_set_max_distribution(tavik_session *session, int32_t count);
TAVIK_API void tavik_session_set_occurance_threshold(tavik_session *session, int32_t count);

/*
 * Restricts identification to the languages named in `codes`, a
 * comma-separated list of the model's codes ("eng,fra,deu"); NULL or ""
 * restores every language.  Results, best code, confidence, ambiguity and
 * both documents are then computed as if the profile held only these
 * languages (in its own order); a code the model holds more than once
 * selects each of its languages.  Returns TAVIK_OK (the error text is left
 * as it was), or TAVIK_INVALID for a NULL session, or for an unknown,
 * empty or repeated code, with an error text naming it; the candidates in
 * force before stay.  Takes effect from the next identification.  On a
 * bundle a code may name a language of any member or a direct language;
 * a member left without candidates, and a direct language not named, then
 * serve no script (TAVIK_UNSUPPORTED_SCRIPT), and a text without letters
 * that the first member cannot take is TAVIK_TOO_FEW_NGRAMS without
 * results.
 */
TAVIK_API int32_t tavik_session_set_candidates(tavik_session *session, const char *codes);

/* Languages identification scores (the candidates, or every language of
 * the model), and the code of the k-th of them in file order, or NULL.
 * tavik_session_explain counts languages this way (on a bundle: members in
 * order, then the direct languages). */
TAVIK_API int32_t tavik_session_language_count(const tavik_session *session);
TAVIK_API const char *tavik_session_language_code(const tavik_session *session, int32_t index);

/*
 * Identifies the `length` bytes at `text` (NULL is accepted with length 0
 * and is then an empty text).  Returns and records the status as
 * tavik_identify does: TAVIK_OK, TAVIK_AMBIGUOUS ("ambiguous"),
 * TAVIK_TOO_FEW_NGRAMS ("too few ngrams"; the query stays),
 * TAVIK_BAD_UTF8 ("bad utf8") or the extractor's other code ("extract
 * failed"); TAVIK_INVALID with "null text" for a NULL text of non-zero
 * length (the status then reads TAVIK_NO_PROFILE and the query is left
 * untouched, as in tavik_identify).  A NULL session returns TAVIK_INVALID.
 * On a bundle also TAVIK_UNSUPPORTED_SCRIPT ("unsupported script"), and a
 * direct language as described at the top.  Replaces the query, results,
 * status, error text and the dominant script.
 */
TAVIK_API int32_t tavik_session_identify(tavik_session *session, const char *text, uint64_t length);

/* The status of the last identification (TAVIK_NO_PROFILE before the
 * first), and the last error text ("" when there is none).  Never NULL,
 * also for a NULL session (TAVIK_INVALID and ""). */
TAVIK_API int32_t tavik_session_status(const tavik_session *session);
TAVIK_API const char *tavik_session_last_error(const tavik_session *session);

/* Results of the last identification, as tavik_result_count,
 * tavik_result_code, tavik_result_distance, tavik_result_confidence and
 * tavik_best_code answer them.  Codes live until the next identification. */
TAVIK_API int32_t tavik_session_result_count(const tavik_session *session);
TAVIK_API const char *tavik_session_result_code(const tavik_session *session, int32_t index);
TAVIK_API double tavik_session_result_distance(const tavik_session *session, int32_t index);
TAVIK_API double tavik_session_result_confidence(const tavik_session *session, int32_t index);
TAVIK_API const char *tavik_session_best_code(const tavik_session *session);

/* The query n-grams: their number (0 while there is no valid query) and the
 * one at `position` (0 = rank 1), or NULL.  Valid until the next
 * identification. */
TAVIK_API int32_t tavik_session_ngram_count(const tavik_session *session);
TAVIK_API const char *tavik_session_ngram(const tavik_session *session, int32_t position);

/* The result document of tavik_result_json for the session's last
 * identification.  Valid until the next call of this function on the
 * session.  A bundle's document adds, after the designed keys, "script"
 * (the dominant script's name, or null), "route" ("member", "script" when
 * the script decided the language, or "none") and, for a member, "member"
 * (its number). */
TAVIK_API const char *tavik_session_result_json(tavik_session *session);

/* The explanation document of tavik_explain for language `index`, counted
 * as tavik_session_language_code counts.  Valid until the next call of
 * this function on the session.  On a bundle: "{}" for a language of
 * another member than the last text went to; for the direct language that
 * decided the last text, {"code", "distance": 0, "ngrams": []} and the
 * keys the result document adds. */
TAVIK_API const char *tavik_session_explain(tavik_session *session, int32_t index);

/*
 * The calibrated probability that the language the last identification
 * names is the language of the text, in [0, 1]: of many answers given
 * probability p, about p in every hundred are right.
 *
 * The language named is result 0 after TAVIK_OK and TAVIK_AMBIGUOUS (an
 * ambiguous answer is usually a less probable one).  After
 * TAVIK_TOO_FEW_NGRAMS with at least one query n-gram it is the closest
 * language, the one identification with the n-gram minimum set to 0 would
 * rank first: the session scores such a query for the probability alone,
 * and the designed outcome (no results, no best code, the documents) stays
 * as it is.  The probability is then usually low, but it is an answer.
 *
 * It comes from the model's own calibration, the meta pair
 * "tavik.calibration" (docs/profile-format.md): a logistic model over
 * features the outcome already holds - the winner's relative lead over the
 * runner-up (the confidence), the number of query n-grams, and the
 * winner's and the runner-up's distances over the absent penalty - fitted
 * by scripts/fit-calibration on text the profile did not train on.  It
 * holds for texts like those it was fitted on, under the session's
 * initial settings; other settings and candidate sets change the
 * features, and the probability is then only an estimate.
 *
 * On a model of several members, the calibration of the member the
 * text went to (each member fitted on its own languages); a text whose
 * script alone decided its language gets 1.0 when any member is
 * calibrated (nothing in the model competes with it), and -1.0 as the
 * members do when none is.
 *
 * -1.0 when the model (or the member that answered) carries no
 * calibration, before the first identification, after one that failed (bad UTF-8, no memory, null
 * text), when the text gave no query n-gram at all, and for a NULL
 * session: no probability is ever made up.  Computed when asked (a few
 * multiply-adds); valid until the next identification.
 */
TAVIK_API double tavik_session_probability(const tavik_session *session);

/* 1 when tavik_session_probability is at least the model's reliability
 * threshold, the meta pair "tavik.reliable" (0.9 when absent; on a model
 * of several members, that of the member that answered); else 0, also
 * whenever there is no probability. */
TAVIK_API int32_t tavik_session_reliable(const tavik_session *session);

/* The dominant script of the last text identified, numbered as
 * tavik_script_name numbers scripts, for sessions on any model; -1 when
 * the text held no letter of any script or malformed UTF-8, for a NULL
 * text, before the first identification, and for a NULL session. */
TAVIK_API int32_t tavik_session_script(const tavik_session *session);

/* --------------------------------------------------------------- batches */

/* One scored language of an outcome, as tavik_result of tavik_api.h holds
 * it: the code (at most 7 bytes and a NUL), the distance and the
 * confidence. */
typedef struct tavik_outcome_language {
    char code[8];
    double distance;
    double confidence;
} tavik_outcome_language;

/*
 * What one text of tavik_session_identify_batch came to: what the session's
 * accessors would answer right after tavik_session_identify on that text
 * alone, so that a caller need not ask the session afterwards.
 */
typedef struct tavik_outcome {
    int32_t status;       /* as tavik_session_identify returns it */
    int32_t script;       /* tavik_session_script */
    int32_t ngram_count;  /* tavik_session_ngram_count */
    int32_t result_count; /* languages at `results` */
    char language[8];     /* results[0].code, or "" when there are no results */
    double distance;      /* results[0].distance, or -1.0 */
    double confidence;    /* results[0].confidence, or 0.0 */
    double probability;   /* tavik_session_probability */
    /* The ranked languages, closest first: the session's results (as
     * tavik_session_result_code and its siblings answer them) - except
     * after TAVIK_TOO_FEW_NGRAMS with at least one query n-gram, when the
     * session has none: then every language ranked as identification with
     * the n-gram minimum set to 0 would rank it, closest first, which is
     * the language tavik_session_probability speaks of.  NULL when
     * result_count is 0. */
    const tavik_outcome_language *results;
    int32_t reliable; /* tavik_session_reliable */
} tavik_outcome;

/*
 * Identifies `n` texts with `session`: text k is the lengths[k] bytes at
 * texts[k] (NULL with length 0 is an empty text, NULL with another length
 * is refused as tavik_session_identify refuses it), and outcomes[k]
 * receives what identifying it alone with tavik_session_identify would
 * have given, status and distances bit for bit, under the session's
 * settings and candidates, on profiles and bundles alike.  Outcomes are
 * independent: a text that fails (bad UTF-8, null text, no memory) fails
 * in its own outcome only.  The next text is counted while the current
 * one's first index entries are fetched.  Calls of a few dozen to a few
 * hundred texts suit best: the results of a call of thousands outgrow the
 * processor's caches and may slow it down.
 *
 * Afterwards the session holds the outcome of the last text (texts[n - 1])
 * exactly as tavik_session_identify would leave it: query, results,
 * status, error text, script, probability and both documents.
 *
 * The storage `results` point to belongs to the session: up to n times its
 * model's largest member's language count records (24 bytes each), kept
 * and reused.  It lives until the next call of this function on the
 * session that returns TAVIK_OK with n > 0, or tavik_session_free; never
 * release or modify it.  Everything else in an outcome is a copy.
 *
 * Returns TAVIK_OK once every outcome is written (each carries its own
 * status); for n = 0 nothing is done.  TAVIK_INVALID for a NULL session or,
 * with n > 0, a NULL texts, lengths or outcomes array; TAVIK_NO_MEMORY
 * when the results' storage cannot be had.  On either failure no outcome
 * is written and the session is left as it was, with the storage of the
 * previous batch.  A session serves one thread at a time, this call
 * included.
 */
TAVIK_API int32_t tavik_session_identify_batch(tavik_session *session, const char *const *texts,
                                               const uint64_t *lengths, uint64_t n,
                                               tavik_outcome *outcomes);

/* --------------------------------------------------------------- scripts */

/*
 * The scripts of a text, as Unicode's Scripts.txt assigns them (the
 * version tavik_script_unicode_version names).  Scripts are numbered 0 to
 * tavik_script_count() - 1: 0 "Unknown", 1 "Common", 2 "Inherited", then
 * every script by name ("Arabic", "Latin", ...; the numbers may change with
 * the Unicode version, the names do not), and last two that only the
 * dominant script takes: "Japanese" (Han, Hiragana and Katakana together,
 * when the text holds kana) and "Korean" (Hangul).  Thread-safe; keeps no
 * state.
 */
TAVIK_API int32_t tavik_script_count(void);
/* The name of script `script`, or NULL out of range. */
TAVIK_API const char *tavik_script_name(int32_t script);
/* "15.0.0" or the like. */
TAVIK_API const char *tavik_script_unicode_version(void);

/*
 * Counts the letters (general category L or M) of the `length` bytes of
 * UTF-8 at `text` per script into `counts` (tavik_script_count() entries,
 * or NULL for none; the last two stay 0), and stores in `*dominant` the
 * script with most letters: Common, Inherited and Unknown are ignored,
 * Han with kana counts as Japanese, Hangul as Korean, a tie goes to the
 * lower number, and -1 means the text holds no letter of any script.
 * Returns TAVIK_OK, TAVIK_BAD_UTF8 (the counts are then 0 and *dominant
 * -1), or TAVIK_INVALID for a NULL dominant or a NULL text of non-zero
 * length (nothing written).
 */
TAVIK_API int32_t tavik_text_scripts(const char *text, uint64_t length, uint64_t *counts,
                                     int32_t *dominant);

TAVIK_EXTERN_C_END

#endif /* TAVIK_SESSION_H */
