// SPDX-License-Identifier: MIT
// reference.h - plain reference implementations the tests and the fuzz
// targets hold the library to.
//
// Each follows the definition literally and shares no code with the
// library beyond its record types and the letter table's one definition
// (letter_table.h): readability over speed, since a fault shared with the
// library would hide there.
#ifndef TAVIK_REFERENCE_H
#define TAVIK_REFERENCE_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tavik/tavik_api.h"

namespace tavik_ref {

// ------------------------------------------------------------- extraction
//
// A word is a maximal run of letters, framed by "_" on both sides; an
// n-gram is a run of 1 to min(max_len, 7) consecutive code points of a
// framed word, the lone "_" excepted.  A word keeps its first
// kWordLetterLimit letters; a longer one loses the rest and its closing
// frame.

inline constexpr size_t kWordLetterLimit = 4094;

// One counted n-gram: `count` occurrences, the first of them occurrence
// number `order` of the whole text (counting every n-gram of every word).
struct Gram {
    std::string text;
    int32_t count;
    int32_t order;
    bool operator==(const Gram &) const = default;
};

// Whether `cp` lies in the letter table.
bool is_letter(uint32_t cp);

// Decodes the strict UTF-8 sequence at `at` of `bytes` into `*cp`: no
// overlong form, no surrogate, nothing above U+10FFFF, nothing cut off by
// the end.  Returns the bytes consumed, or 0 for anything else.
size_t decode(std::string_view bytes, size_t at, uint32_t *cp);

// The UTF-8 bytes of `cps`, which must all be encodable.
std::string utf8(std::u32string_view cps);

// The n-grams of the framed words `framed` in order of first occurrence,
// with their counts: word by word, end position by end position, shortest
// first.
std::vector<Gram> count_ngrams(const std::vector<std::u32string> &framed, int32_t max_len);

// The n-grams of `text` (all of it: a NUL counts as a separator) as
// tavik_ngram_extract lists them, or nothing when `text` is not valid UTF-8.
std::optional<std::vector<Gram>> extract(std::string_view text, int32_t max_len);

// `grams` as tavik_ngram_prune_and_rank leaves them: those counted fewer
// than `threshold` times dropped (when threshold > 0), the rest by count
// descending, then order, then text; the first `max_distribution` kept
// (when > 0).
std::vector<Gram> rank(std::vector<Gram> grams, int32_t threshold, int32_t max_distribution);

// --------------------------------------------------------------- distance

// The texts of `list` in list order.
std::vector<std::string> texts_of(const tavik_ngram_list &list);

// The out-of-place distance of `lang` from the ranked `query` (the n-gram at
// position i has rank i + 1): for every query n-gram, the distance between
// its two ranks, or `penalty` when the language lacks it (a language that
// holds an n-gram twice ranks it by its first place); with `size_penalty`,
// plus |query size - language size| * penalty; divided by the longer list's
// length.  Two empty lists are at distance 0.
double distance(const tavik_lang &lang, const std::vector<std::string> &query, bool size_penalty,
                int64_t penalty);

}  // namespace tavik_ref

#endif  // TAVIK_REFERENCE_H
