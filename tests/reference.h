// reference.h - plain reference implementations the tests and the fuzz
// targets hold the library to.
//
// Each follows the definition literally and shares no code with the
// library beyond its record types: readability over speed, since a fault
// here would hide the same fault there.
#ifndef TAVIK_REFERENCE_H
#define TAVIK_REFERENCE_H

#include <cstdint>
#include <string>
#include <vector>

#include "tavik/tavik_api.h"

namespace tavik_ref {

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
