// SPDX-License-Identifier: MIT
// profile_internal.h - the profile reader's forms for the engine's models.
//
// A model opened through the engine scores through its index alone, so it
// keeps of its profile only what the index does not hold: the header, the
// codes, the meta pairs and each language's n-gram count.  The designed
// record (texts, rank lookups) is what tavik_profile_load gives; these
// functions make the leaner form.  Not installed.
#ifndef TAVIK_PROFILE_INTERNAL_H
#define TAVIK_PROFILE_INTERNAL_H

#include <cstdint>

#include "tavik/profile.h"

namespace tavik {

// As tavik_profile_load, with the same checks, statuses and fault places,
// but without the rank lookups: the n-gram lists and their texts only, to
// build an index from.
int32_t profile_load_unindexed(const void *data, uint64_t size, tavik_profile **out);

// As tavik_profile_load, with the same checks, statuses and fault places,
// keeping only what profile_drop_ngrams leaves: the form of a bundle's
// member whose index is built later, from the same bytes.
int32_t profile_load_shell(const void *data, uint64_t size, tavik_profile **out);

// Releases every language's n-gram list, rank lookup and the texts, and
// leaves the rest: each list keeps its count with no items.  The record is
// then one the engine reads only through an index (lang_is_lean), and
// tavik_profile_free still releases it.
void profile_drop_ngrams(tavik_profile &profile);

// True when the language's n-grams were dropped: its ranks come from the
// index of its profile, not from the record.
inline bool lang_is_lean(const tavik_lang &lang) {
    return lang.ngrams.items == nullptr && lang.ngrams.count != 0;
}

}  // namespace tavik

#endif  // TAVIK_PROFILE_INTERNAL_H
