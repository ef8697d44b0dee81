// SPDX-License-Identifier: MIT
// relatives.h - close relatives told apart by likelihood.
//
// The out-of-place distance separates close relatives worst exactly where
// texts are short: the n-grams that tell Malay from Indonesian, or
// Asturian from Spanish, are few and ranked far down, and a language
// lacking one is charged the same capped penalty as a language lacking a
// common n-gram.  The counts a profile stores carry that evidence.  A
// profile may name groups of close relatives in the reserved meta pair
//
//   tavik.relatives   "ind,msa;dan,nno,nob,swe"
//
// (groups split by ";", codes by ","; docs/profile-format.md).  When the
// two closest languages of an identification belong to one group and the
// first leads the second by less than 20 % in distance, the
// group's languages that lead the ranking are ordered again by the
// cross-entropy of the text's n-grams under each language's stored counts
// (one distribution per n-gram length, absent n-grams at a quarter of the
// rarest kept count).  A profile without the pair ranks as designed.
//
// N-grams carry a word only in pieces, and the pieces of a word one
// relative uses are mostly found in the other's words too.  A grouped
// language may therefore list its most frequent words, most frequent
// first, in the pair
//
//   tavik.words.msa   "dan yang untuk ini tidak fail ..."
//
// When every language of the leading run has its list, each of the text's
// first 1,024 words adds eight times its cost under a Zipf law over the
// list's places, p(r) proportional to 1 / (r + 2), to that language's
// cross-entropy; a word a list lacks costs half the last place of the
// dearest list of the run, the same for every language of it.
//
// Not installed.
#ifndef TAVIK_RELATIVES_H
#define TAVIK_RELATIVES_H

#include <cstdint>

#include "tavik/tavik_api.h"

namespace tavik {

inline constexpr char kMetaRelatives[] = "tavik.relatives";

// The error text of a profile whose groups relatives_check refuses.
inline constexpr char kRelativesRefused[] =
    "profile key tavik.relatives: a code names no language of the profile, several, or one "
    "named before";

struct ProfileIndex;
struct QueryEntries;
struct Relatives;

inline constexpr char kMetaWordsPrefix[] = "tavik.words.";

// True for the key above.
bool is_relatives_key(const char *key);

// True for a key that starts tavik.words.
bool is_words_key(const char *key);

// Whether `key` is tavik.words. and a code of 1 to 7 bytes, and `value` one
// or more words split by single spaces.
bool words_syntax_ok(const char *key, const char *value);

// Whether every tavik.words pair of the profile names exactly one language
// whose `grouped` entry (by profile place, from relatives_check) is set; if
// not, `error` (256 bytes) gets a text naming the key.
bool words_check(const tavik_profile &profile, const bool *grouped, char *error);

// Whether `value` is a list of groups: at least one, each of at least two
// codes of 1 to 7 bytes.  Whether the codes name languages is a question
// for a profile (relatives_check).
bool relatives_syntax_ok(const char *value);

// Whether the profile's tavik.relatives pair, if any, names only codes
// that are each exactly one language of the profile, and no language
// twice.  A profile without the pair passes.  With `grouped` (one entry per
// language), the grouped languages' entries are set.
bool relatives_check(const tavik_profile &profile, bool *grouped = nullptr);

// Whether the tables hold a word list: only then are a text's words kept.
bool relatives_have_words(const Relatives &relatives);

// The tables of a profile's groups: each grouped language's n-gram
// log-probabilities by rank, from the profile's lists (which must still be
// there).  *out is nullptr for a profile without the pair.  Returns false
// when out of memory.
bool relatives_build(const tavik_profile &profile, Relatives **out);
void relatives_free(Relatives *relatives);

// Orders the leading languages of `results` (n, in distance order, the
// winner's confidence set from its lead) when the first two are of one
// group and that lead is below 0.2:
// the group's languages at the head are sorted by cross-entropy, with the
// text's words (entries.words) when each has its list (ties keep
// their order), the new winner's confidence becomes ten times its relative
// lead in cross-entropy over the runner-up (at most 1), and *tie tells whether the two are
// equal.  Ranks come from `index` (which owns `relatives`), found with the
// query's keys `entries`.  Returns false
// and leaves `results` alone otherwise.
bool relatives_order(const Relatives &relatives, const ProfileIndex *index,
                     const tavik_ngram_list &query, const QueryEntries &entries,
                     tavik_result *results, int32_t n, bool *tie);

}  // namespace tavik

#endif  // TAVIK_RELATIVES_H
