/* SPDX-License-Identifier: MIT */
/*
 * utf8.h - strict UTF-8 codec and the letter table.
 *
 * The decoder accepts only well-formed UTF-8: no overlong forms, no
 * surrogates, nothing above U+10FFFF.  The letter test is a fixed list of
 * code-point ranges (Latin, Greek, Cyrillic, CJK, kana, Hangul); it knows no
 * character database, case table or locale.  None of these functions keeps
 * state; all may be called from any thread.
 */
#ifndef TAVIK_UTF8_H
#define TAVIK_UTF8_H

#include <stdint.h>

#include "tavik_export.h"

TAVIK_EXTERN_C_BEGIN

/*
 * Module-level functions, exported for advanced use (tools, bindings, tests)
 * but outside the stable interface: define TAVIK_MODULE_API before including
 * this header to see them.  They may change between minor versions.
 */
#ifdef TAVIK_MODULE_API

/*
 * Decodes one code point from the `len` bytes at `bytes` into `*cp`.
 * Returns the number of bytes consumed (1 to 4), -1 for an invalid sequence,
 * or -2 when `bytes` or `cp` is NULL, `len` is 0, or the sequence announced
 * by the lead byte does not fit into `len` bytes (tested before any
 * continuation byte is looked at).  `*cp` is written only on success.
 */
TAVIK_API int32_t tavik_utf8_decode(const void *bytes, uint64_t len, uint32_t *cp);

/*
 * Encodes `cp` into the 4-byte area `out` (no NUL is written).  Returns the
 * number of bytes written, or 0 with nothing written when `out` is NULL, `cp`
 * is a surrogate (U+D800..U+DFFF) or above U+10FFFF.
 */
TAVIK_API int32_t tavik_utf8_encode(uint32_t cp, void *out);

/* 1 when `cp` lies in the letter table, 0 otherwise. */
TAVIK_API int32_t tavik_utf8_is_letter(uint32_t cp);

#endif /* TAVIK_MODULE_API */

TAVIK_EXTERN_C_END

#endif /* TAVIK_UTF8_H */
