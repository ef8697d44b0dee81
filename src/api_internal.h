// api_internal.h - the process-wide records behind the public interface,
// shared by the api_*.cpp units.  Not installed.
#ifndef TAVIK_API_INTERNAL_H
#define TAVIK_API_INTERNAL_H

#include "ngram_count.h"
#include "score.h"
#include "tavik/tavik_api.h"

namespace tavik {

// The library state and the training record; zero at process start.
extern tavik_state G;
extern tavik_train_state T;

// Applies the six default settings on the first call in the process.
void ensure_defaults();

// Writes a fixed message into G.error.
void set_error(const char *message);

// The query's storage (api_query.cpp): the entry of the query n-gram at
// rank k + 1 is entries[ranked[k]], with the key extraction made for it.
struct QueryEntries {
    const Counted *entries;
    const uint32_t *ranked;
};
// False, and nothing written, when there is no query.
bool query_entries(QueryEntries *out);
void query_clear();    // G.query becomes empty and invalid; storage is kept
void query_release();  // and the storage is given back

// The absent penalty of the current settings.
inline int32_t absent_penalty() { return absent_penalty_for(G.max_distribution); }

// Derived data of the loaded profile (score_index.cpp): built before a new
// profile is installed, released with it.
struct ProfileIndex;
ProfileIndex *index_build(const tavik_profile &profile);  // nullptr when out of memory
void index_free(ProfileIndex *index);

// Scores every language of `profile` against G.query into `distances`
// (profile order), exactly as calc_distance would.
void index_score(const ProfileIndex *index, const tavik_profile &profile, double *distances);

// The codes' places (code_places, result_sort.h) the index keeps, or
// nullptr without an index.
const uint8_t *index_code_order(const ProfileIndex *index);

// The index of the installed profile, or nullptr.
extern ProfileIndex *g_index;

}  // namespace tavik

#endif  // TAVIK_API_INTERNAL_H
