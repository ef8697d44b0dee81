/* SPDX-License-Identifier: MIT */
/*
 * status.h - the status codes every fallible tavik function returns.
 *
 * Kept apart from tavik_api.h so that the library's own modules can name a
 * status without including the public interface they sit beneath.  The
 * values are part of the stable interface and never change.
 */
#ifndef TAVIK_STATUS_H
#define TAVIK_STATUS_H

/* Returned as int32_t; see tavik_api.h for which function returns which. */
typedef enum tavik_status {
    TAVIK_OK = 0,             /* success */
    TAVIK_TOO_FEW_NGRAMS = 1, /* the query has fewer n-grams than min_ngrams */
    TAVIK_AMBIGUOUS = 2,      /* the two best languages are closer than min_margin */
    TAVIK_NO_PROFILE = 3,     /* no profile is loaded */
    TAVIK_BAD_PROFILE = 4,    /* a profile file or blob is malformed or unreadable */
    TAVIK_BAD_UTF8 = 5,       /* a text holds malformed UTF-8 */
    TAVIK_INVALID = 6,        /* missing/unusable argument, limit reached, nothing to do */
    TAVIK_NO_MEMORY = 7,      /* an allocation failed */
    /* Only from sessions: no member of the model serves the text's dominant
     * script (tavik_session_script names it).  No designed function returns
     * it. */
    TAVIK_UNSUPPORTED_SCRIPT = 8
} tavik_status;

#endif /* TAVIK_STATUS_H */
