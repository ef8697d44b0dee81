// SPDX-License-Identifier: MIT
// api_internal.h - the process-wide records behind the designed interface,
// shared by the api_*.cpp units.  Not installed.
//
// The designed functions run the engine (engine.h) on G, with query scratch
// and a profile index of their own beside it.
#ifndef TAVIK_API_INTERNAL_H
#define TAVIK_API_INTERNAL_H

#include "engine.h"
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
inline void set_error(const char *message) { record_error(G, message); }

// The absent penalty of the current settings.
inline int32_t absent_penalty() { return absent_penalty_for(G.max_distribution); }

// The index of the installed profile, or nullptr, and the query's storage.
extern ProfileIndex *g_index;
extern QueryScratch g_scratch;
extern TextModel g_text;  // the installed profile's text model

// The engine over G: every language of the installed profile.
inline Engine global_engine() { return Engine{G, g_scratch, g_index, nullptr, g_text}; }

// G.query becomes empty and invalid, and its storage is given back.
void query_release();

}  // namespace tavik

#endif  // TAVIK_API_INTERNAL_H
