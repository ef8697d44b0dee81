// SPDX-License-Identifier: MIT
// letter_table.h - the letter table: the code points that words are made of.
//
// This list is the table's one definition.  is_letter (utf8_inline.h) is the
// same table unrolled into branches for the extraction loop, and the corpus
// scripts (scripts/corpus/clean.py) keep a copy to clean training text by;
// tests hold both equal to this list.
#ifndef TAVIK_LETTER_TABLE_H
#define TAVIK_LETTER_TABLE_H

#include <cstdint>

namespace tavik {

struct LetterRange {
    uint32_t first, last;  // inclusive
};

// Ascending, neither overlapping nor touching, so that one set of code
// points has one spelling and the copies can be compared range by range.
inline constexpr LetterRange kLetterRanges[] = {
    {0x0041, 0x005A},    // A-Z
    {0x0061, 0x007A},    // a-z
    {0x00C0, 0x00D6},    // Latin-1 letters, without the multiplication sign
    {0x00D8, 0x00F6},    // ... and the division sign
    {0x00F8, 0x024F},    // ... Latin Extended-A and -B
    {0x0370, 0x052F},    // Greek and Coptic, Cyrillic, Cyrillic Supplement
    {0x2E80, 0x2FFF},    // CJK and Kangxi radicals, ideographic description
    {0x3040, 0x318F},    // hiragana, katakana, bopomofo, Hangul compatibility jamo
    {0x3400, 0x4DBF},    // CJK ideographs, Extension A
    {0x4E00, 0x9FFF},    // CJK ideographs
    {0xAC00, 0xD7AF},    // Hangul syllables
    {0xF900, 0xFAFF},    // CJK compatibility ideographs
    {0xFF21, 0xFF3A},    // fullwidth A-Z
    {0xFF41, 0xFF5A},    // fullwidth a-z
    {0xFF66, 0xFF9D},    // halfwidth katakana, without the voicing marks
    {0x20000, 0x2CEAF},  // CJK ideographs, Extensions B to E
};

// The plain test over the table: the reference the fast test is held to.
constexpr bool in_letter_table(uint32_t c) {
    for (const LetterRange &r : kLetterRanges)
        if (c >= r.first && c <= r.last) return true;
    return false;
}

constexpr bool letter_table_is_canonical() {
    uint32_t next = 0;  // the least code point the next range may start at
    for (const LetterRange &r : kLetterRanges) {
        if (r.first < next || r.last < r.first) return false;
        next = r.last + 2;
    }
    return true;
}
static_assert(letter_table_is_canonical(),
              "kLetterRanges: ranges out of order, overlapping or touching");

}  // namespace tavik

#endif  // TAVIK_LETTER_TABLE_H
