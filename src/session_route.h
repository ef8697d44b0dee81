// SPDX-License-Identifier: MIT
// session_route.h - sessions on bundles: each text goes to the member that
// serves its dominant script, or to the language its script alone names.
// Sessions on one profile never come here.  Not installed.
#ifndef TAVIK_SESSION_ROUTE_H
#define TAVIK_SESSION_ROUTE_H

#include <cstdint>
#include <string_view>

#include "engine.h"

namespace tavik {

// The dominant script of the `len` bytes at `text`, or -1 (no letter,
// malformed UTF-8, no character table).
int32_t dominant_script(const char *text, uint64_t len);

// Refuses a candidate code ("unknown" or "repeated") with an error text
// naming it; returns TAVIK_INVALID.
int32_t refuse_code(tavik_session *s, const char *why, std::string_view code);

// A session's routing state on a bundle (nullptr on one profile: every
// function below then answers as the designed session does).
int32_t route_new(tavik_session *s);
void route_free(tavik_session *s);

int32_t route_identify(tavik_session *s, const char *text, uint64_t len);
int32_t route_set_candidates(tavik_session *s, const char *codes);
int32_t route_language_count(const tavik_session *s);
const char *route_language_code(const tavik_session *s, int32_t index);
const char *route_result_json(tavik_session *s);
const char *route_explain(tavik_session *s, int32_t index);

// The calibrated probability of the last answer (-1.0: none), and the
// reliable mark of the member that gave it (1.0 for a direct route).
double route_probability(const tavik_session *s);
double route_reliable_mark(const tavik_session *s);

// The engine of the member the last text went to (of the first member when
// it went to none).
Engine route_engine(tavik_session *s);

// A bundle's languages: every member's in order, then the direct ones.
const char *route_model_language_code(const Routing &r, int32_t index);

}  // namespace tavik

#endif  // TAVIK_SESSION_ROUTE_H
