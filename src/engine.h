// SPDX-License-Identifier: MIT
// engine.h - the identification engine behind both interfaces.
//
// Everything one identification reads or writes is reached through an
// Engine: a record of the designed shape (tavik_state: settings, query,
// results, status, error text, documents), the scratch storage the query
// lives in, the derived index of the profile the record points to, and an
// optional set of candidate languages.  The designed interface runs it on
// G with scratch of its own; a session runs it on its own record.  There is
// one implementation of extraction, scoring and the documents, and it keeps
// no state of its own: two engines over distinct records may run on two
// threads at once, sharing one profile and index, which they only read.
//
// Not installed.
#ifndef TAVIK_ENGINE_H
#define TAVIK_ENGINE_H

#include <atomic>
#include <cstdint>

#include "calibration.h"
#include "ngram_count.h"
#include "score.h"
#include "tavik/tavik_api.h"
#include "tavik/tavik_session.h"
#include "text_model.h"

namespace tavik {

// The query's storage: the counting map with its text arena, the entry
// array the record's query borrows, and each entry's key for scoring.  An
// extraction allocates nothing once the storage has grown to the texts
// seen.
struct QueryScratch {
    StrMap map;
    struct tavik_ngram *items = nullptr;
    uint64_t cap = 0;
    QueryWords words;  // kept only when the profile tells relatives apart
};

// Gives the storage back; a query that borrowed it must be cleared first.
void scratch_release(QueryScratch &scratch);

// The entry of the query n-gram at rank k + 1 is entries[ranked[k]], with
// the key extraction made for it.
struct QueryEntries {
    const Counted *entries;
    const uint32_t *ranked;
    const QueryWords *words = nullptr;  // the text's words, when kept
};

inline QueryEntries query_entries(const QueryScratch &q) {
    return QueryEntries{q.map.entries, q.map.ranked, &q.words};
}

// Derived data of a profile (score_index.cpp): built once, read-only after.
struct ProfileIndex;
ProfileIndex *index_build(const tavik_profile &profile);  // nullptr when out of memory
void index_free(ProfileIndex *index);

// The rank of `text` in language `lang` of the indexed profile (the
// lowest when the language repeats it), as tavik_lang_lookup_rank answers
// on the designed record; 0 when it is absent.
int32_t index_rank(const ProfileIndex *index, int32_t lang, const char *text);

// calc_distance for language `l` of a profile whose n-grams were dropped
// (profile_internal.h): the same sum, term for term, with the ranks from
// the index.
double index_distance(const ProfileIndex *index, const tavik_lang &lang, int32_t l,
                      const tavik_ngram_list &query, int32_t size_penalty, int32_t penalty);

// Builds the index of a profile read by profile_load_unindexed and drops
// its n-gram lists (profile_drop_ngrams).  TAVIK_NO_MEMORY leaves the
// profile as it was and *out nullptr.
int32_t lean_profile_index(tavik_profile &profile, ProfileIndex **out);

// The rank of `text` in language `l` of a profile, and the language's
// distance to a query, from the designed record where it has its lists and
// from `index` where they were dropped.
int32_t rank_in(const ProfileIndex *index, const tavik_lang &lang, int32_t l, const char *text);
double distance_to(const ProfileIndex *index, const tavik_lang &lang, int32_t l,
                   const tavik_ngram_list &query, int32_t size_penalty, int32_t penalty);

// The ranks of the query n-grams at list places base .. base + n - 1
// (n <= kRankChunk) in the k languages at profile places langs[0 .. k - 1],
// as index_rank gives them, found with the query's keys as scoring finds
// them: the rank of n-gram base + j in langs[l] goes to ranks[j * k + l].
inline constexpr uint64_t kRankChunk = 128;
void index_query_ranks(const ProfileIndex *index, const QueryEntries &entries,
                       const tavik_ngram_list &query, uint64_t base, uint64_t n,
                       const int32_t *langs, int32_t k, int32_t *ranks);

// The close relatives the indexed profile names (relatives.h), or nullptr.
struct Relatives;
const Relatives *index_relatives(const ProfileIndex *index);

// The codes' places (code_places, result_sort.h) the index keeps, or
// nullptr without an index.
const uint8_t *index_code_order(const ProfileIndex *index);

// Scores every language of `profile` against `query` into `distances`
// (profile order), exactly as calc_distance would.  `entries`: the query's
// keys, or nullptr to score one language at a time.
void index_score(const ProfileIndex *index, const tavik_profile &profile,
                 const tavik_ngram_list &query, const QueryEntries *entries, int32_t size_penalty,
                 int32_t penalty, double *distances);

// Starts fetching the index slots of the first `n` n-grams of a query, so
// that scoring it later finds them in the cache while the caller does other
// work meanwhile.
void index_prefetch(const ProfileIndex *index, const QueryEntries &entries, uint64_t n);

// A subset of a profile's languages, in profile order; count 0 means all.
struct Candidates {
    int32_t count = 0;
    int32_t langs[TAVIK_MAX_LANGS] = {};
};

// What a bundle's documents add: the dominant script of the text and where
// it went.  Documents of plain profiles carry none.
struct RouteNote {
    int32_t script;  // -1: no letter
    int32_t member;  // the member that identified, or -1
    bool direct;     // the script decided the language
};

struct Engine {
    tavik_state &st;
    QueryScratch &scratch;
    const ProfileIndex *index;
    const Candidates *only;  // nullptr or count 0: every language
    TextModel text{};        // how the profile cuts texts (the designed model by default)
    const RouteNote *note = nullptr;
};

// Scores `query` against the languages of `profile` (all of them, or the
// candidates `only` when it is not nullptr and its count is not 0) into
// `out` in result order, with the winner's confidence, as identification
// ranks them; the close relatives the profile names are ordered at the head
// (relatives.h).  Returns the number of results; *margin (unless `margin`
// is nullptr) is the winner's lead in percent, which identification
// compares with min_margin (0 for a tie between relatives, 100 for any
// other lead between them).
int32_t rank_query(const ProfileIndex *index, const tavik_profile &profile,
                   const tavik_ngram_list &query, const QueryEntries &entries,
                   const Candidates *only, int32_t size_penalty, int32_t penalty, tavik_result *out,
                   double *margin);

// Writes a fixed message into the record's error text (cut to 255 bytes);
// nullptr empties it.
void record_error(tavik_state &st, const char *message);

// The query becomes empty and not valid; its storage is kept.
void query_clear(tavik_state &st);

// Replaces the query with the ranked n-grams of the `len` bytes at `text`,
// as tavik_extract_ngrams does (a NUL byte is a separator like any other
// non-letter).  `text` != nullptr is the caller's to check.
int32_t engine_extract(const Engine &e, const char *text, uint64_t len);

// Identifies the `len` bytes at `text` as tavik_identify does; `text` may be
// nullptr (refused as "null text").
int32_t engine_identify(const Engine &e, const char *text, uint64_t len);

// Extraction in two steps, so that a batch can count one text while it
// scores another: engine_count counts and ranks the n-grams of `text` into
// `q` only (the record is not touched) and returns the extractor's status;
// engine_identify_counted then identifies as engine_identify would, taking
// the n-grams from the engine's scratch, which must be the `q` that counted
// `text` (with status `counted`).  `text` != nullptr is engine_count's
// caller's to check.
int32_t engine_count(const Engine &e, QueryScratch &q, const char *text, uint64_t len);
int32_t engine_identify_counted(const Engine &e, const char *text, int32_t counted);

// The documents of the record, as tavik_result_json and tavik_explain write
// them; `index` counts the candidate languages in profile order.
const char *engine_result_json(const Engine &e);
const char *engine_explain(const Engine &e, int32_t index);

// The explanation document of a language a script decided alone.
const char *engine_explain_direct(const Engine &e, const char *code, int32_t script);

// Languages the engine scores, and the profile place of the k-th.
int32_t engine_language_count(const Engine &e);
int32_t engine_language(const Engine &e, int32_t k);

struct Routing;       // model_file.h
struct SessionRoute;  // api_route.cpp

// Builds the index of member `m` of a bundle read lean, once: sessions on
// many threads may ask at the same time, and all see the one index.
// TAVIK_OK when it is built (now or before), else TAVIK_NO_MEMORY, after
// which a later call tries again.
int32_t member_open(Routing &routing, int32_t m);

// The index of member `m`, or nullptr while member_open has not built it.
const ProfileIndex *member_index(const Routing &routing, int32_t m);

}  // namespace tavik

// A loaded profile with everything derived from it.  Never changed after
// it is opened, but for a bundle's members' indexes, built once each on
// first use (member_open); the count is the only other thing threads
// write.  A bundle's first member stands in profile and text, so that
// everything written for one profile reads a bundle's first member; a
// bundle's model index is nullptr (its sessions route to members).
struct tavik_model {
    std::atomic<int64_t> refs;
    tavik_profile *profile;
    tavik::ProfileIndex *index;
    tavik::TextModel text;
    tavik::Routing *routing = nullptr;  // a bundle's members and scripts; nullptr: one profile
    tavik::Calibration calib;           // from the profile's meta pairs; absent by default
};

// One caller's identification state: a record of the designed shape over
// the model's profile, its scratch, and its candidate languages.
struct tavik_session {
    tavik_model *model;
    tavik_state st;
    tavik::QueryScratch scratch;
    tavik::Candidates only;
    int32_t script = -1;                   // dominant script of the last text
    tavik::SessionRoute *route = nullptr;  // on a bundle: candidates per member, last route
    tavik::CalibrationInput calib_input;   // the last outcome's, while calib_valid
    bool calib_valid = false;
    bool calib_collect = false;  // record inputs without a calibration (fitting tools)
    tavik::QueryScratch ahead;   // a batch's next text, counted early
    struct tavik_outcome_language *batch = nullptr;  // results the last batch's outcomes point to
    uint64_t batch_cap = 0;                          // entries at `batch`
};

namespace tavik {

// Opens a model over a freshly read profile (taken over, also on failure):
// builds its index and drops its n-gram lists (lean_profile_index), so it
// is best read by profile_load_unindexed.  A profile whose text model tavik
// does not know is refused with TAVIK_BAD_PROFILE.
int32_t model_from_profile(tavik_profile *profile, tavik_model **out);

// Opens a model over the bytes of a profile file or a bundle file.
int32_t model_from_bytes(const void *data, uint64_t size, tavik_model **out);

// Opens the profile file or bundle file at `path`, as tavik_model_open.
int32_t model_from_path(const char *path, tavik_model **out);
void model_retain(tavik_model *model);
void model_release(tavik_model *model);

// Records in the session what the outcome of its last identification
// (status `rc`) tells the calibration.  A too-short text's query is scored
// here, into storage of this function's own, when the model is calibrated
// or the session collects: the record's designed outcome stays as it is.
void session_record_calibration(tavik_session &s, int32_t rc);

// The same for a text scored by `index` over the candidates `only` under
// `calib` (a bundle's member).
void session_record_calibration(tavik_session &s, int32_t rc, const Calibration &calib,
                                const ProfileIndex *index, const Candidates &only);

// Whether `probability` (the session's last, -1.0: none) reaches the
// reliable mark of the profile or member that answered.
int32_t session_reliable_at(const tavik_session &s, double probability);

// Gives back what batches keep in the session (api_batch.cpp).
void batch_release(tavik_session &s);

// The engine of a session on one profile: its record and scratch over the
// model's index, text model and the session's candidates.  A session on a
// bundle identifies through its route's member engines instead.
inline Engine session_engine(tavik_session &s) {
    return Engine{s.st, s.scratch, s.model->index, &s.only, s.model->text};
}

}  // namespace tavik

#endif  // TAVIK_ENGINE_H
