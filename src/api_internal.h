// api_internal.h - the process-wide records behind the public interface,
// shared by the api_*.cpp units.  Not installed.
#ifndef TAVIK_API_INTERNAL_H
#define TAVIK_API_INTERNAL_H

#include "ngram_count.h"
#include "tavik_api.h"

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

// The absent penalty: max_distribution when positive, else 4000.
inline int32_t absent_penalty() { return G.max_distribution > 0 ? G.max_distribution : 4000; }

// Out-of-place distance between one language and a query list.
double calc_distance(const tavik_lang &lang, const tavik_ngram_list &query, int32_t size_penalty,
                     int32_t penalty);

// Derived data of the loaded profile (api_index.cpp): built before a new
// profile is installed, released with it.
struct ProfileIndex;
ProfileIndex *index_build(const tavik_profile &profile);  // nullptr when out of memory
void index_free(ProfileIndex *index);

// Scores every language of `profile` against G.query into `distances`
// (profile order), exactly as calc_distance would.
void index_score(const ProfileIndex *index, const tavik_profile &profile, double *distances);

// Each language's place in bytewise order of the codes (equal codes share
// one) into places[0 .. lang_count - 1]; the index keeps them, or nullptr
// without an index.
void code_places(const tavik_profile &profile, uint8_t *places);
const uint8_t *index_code_order(const ProfileIndex *index);

// The index of the installed profile, or nullptr.
extern ProfileIndex *g_index;

}  // namespace tavik

#endif  // TAVIK_API_INTERNAL_H
