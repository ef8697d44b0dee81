// SPDX-License-Identifier: MIT
// utf8_inline.h - the codec and letter test as inline functions, for the
// extraction loop, which runs them once per code point of every text.
#ifndef TAVIK_UTF8_INLINE_H
#define TAVIK_UTF8_INLINE_H

#include <cstdint>

#include "letter_table.h"

namespace tavik {

constexpr bool is_continuation(unsigned char b) { return (b & 0xC0u) == 0x80u; }

// Decodes one code point; `len` > 0 and both pointers are valid.
// Returns 1..4, -1 for an invalid sequence, -2 for a truncated one.
inline int32_t utf8_decode(const unsigned char *s, uint64_t len, uint32_t *cp) {
    const unsigned char b0 = s[0];
    if (b0 < 0x80u) {
        *cp = b0;
        return 1;
    }
    if (b0 >= 0xC0u && b0 <= 0xDFu) {
        if (len < 2) return -2;
        if (!is_continuation(s[1])) return -1;
        const uint32_t c = (uint32_t(b0 & 0x1Fu) << 6) | (s[1] & 0x3Fu);
        if (c < 0x80u) return -1;
        *cp = c;
        return 2;
    }
    if (b0 >= 0xE0u && b0 <= 0xEFu) {
        if (len < 3) return -2;
        if (!is_continuation(s[1]) || !is_continuation(s[2])) return -1;
        const uint32_t c =
            (uint32_t(b0 & 0x0Fu) << 12) | (uint32_t(s[1] & 0x3Fu) << 6) | (s[2] & 0x3Fu);
        if (c < 0x800u || (c >= 0xD800u && c <= 0xDFFFu)) return -1;
        *cp = c;
        return 3;
    }
    if (b0 >= 0xF0u && b0 <= 0xF7u) {
        if (len < 4) return -2;
        if (!is_continuation(s[1]) || !is_continuation(s[2]) || !is_continuation(s[3])) return -1;
        const uint32_t c = (uint32_t(b0 & 0x07u) << 18) | (uint32_t(s[1] & 0x3Fu) << 12) |
                           (uint32_t(s[2] & 0x3Fu) << 6) | (s[3] & 0x3Fu);
        if (c < 0x10000u || c > 0x10FFFFu) return -1;
        *cp = c;
        return 4;
    }
    return -1;
}

// Encodes `cp` into `out` (4 bytes); returns the byte count or 0.
inline int32_t utf8_encode(uint32_t cp, unsigned char *out) {
    if (cp < 0x80u) {
        out[0] = static_cast<unsigned char>(cp);
        return 1;
    }
    if (cp < 0x800u) {
        out[0] = static_cast<unsigned char>(0xC0u | (cp >> 6));
        out[1] = static_cast<unsigned char>(0x80u | (cp & 0x3Fu));
        return 2;
    }
    if (cp <= 0xFFFFu) {
        if (cp >= 0xD800u && cp <= 0xDFFFu) return 0;
        out[0] = static_cast<unsigned char>(0xE0u | (cp >> 12));
        out[1] = static_cast<unsigned char>(0x80u | ((cp >> 6) & 0x3Fu));
        out[2] = static_cast<unsigned char>(0x80u | (cp & 0x3Fu));
        return 3;
    }
    if (cp <= 0x10FFFFu) {
        out[0] = static_cast<unsigned char>(0xF0u | (cp >> 18));
        out[1] = static_cast<unsigned char>(0x80u | ((cp >> 12) & 0x3Fu));
        out[2] = static_cast<unsigned char>(0x80u | ((cp >> 6) & 0x3Fu));
        out[3] = static_cast<unsigned char>(0x80u | (cp & 0x3Fu));
        return 4;
    }
    return 0;
}

// The letter table (letter_table.h) unrolled into branches.  ASCII is
// decided first and Latin-1 second: they carry most of the text the library
// sees.
constexpr bool is_letter(uint32_t c) {
    if (c < 0x80u) return (c >= 0x41u && c <= 0x5Au) || (c >= 0x61u && c <= 0x7Au);
    if (c < 0x100u) return c >= 0xC0u && c != 0xD7u && c != 0xF7u;
    if (c <= 0x24Fu) return true;
    if (c < 0x370u) return false;
    if (c <= 0x52Fu) return true;
    if (c < 0x2E80u) return false;
    if (c <= 0x2FFFu) return true;
    if (c < 0x3040u) return false;
    if (c <= 0x318Fu) return true;
    if (c < 0x3400u) return false;
    if (c <= 0x4DBFu) return true;
    if (c < 0x4E00u) return false;
    if (c <= 0x9FFFu) return true;
    if (c < 0xAC00u) return false;
    if (c <= 0xD7AFu) return true;
    if (c < 0xF900u) return false;
    if (c <= 0xFAFFu) return true;
    if (c < 0xFF21u) return false;
    if (c <= 0xFF3Au) return true;
    if (c < 0xFF41u) return false;
    if (c <= 0xFF5Au) return true;
    if (c < 0xFF66u) return false;
    if (c <= 0xFF9Du) return true;
    return c >= 0x20000u && c <= 0x2CEAFu;
}

// The branches must say what the table says.  Every code point would be too
// many steps for a compile-time check (clang stops constant evaluation after
// about a million), so this one takes each range's ends and the code points
// just outside them; test_utf8 compares the two over every code point.
constexpr bool is_letter_agrees_at_range_ends() {
    for (const LetterRange &r : kLetterRanges) {
        if (!is_letter(r.first) || !is_letter(r.last) || is_letter(r.last + 1)) return false;
        if (r.first > 0 && is_letter(r.first - 1)) return false;
    }
    return true;
}
static_assert(is_letter_agrees_at_range_ends(), "is_letter disagrees with kLetterRanges");

}  // namespace tavik

#endif  // TAVIK_UTF8_INLINE_H
