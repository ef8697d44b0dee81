// SPDX-License-Identifier: MIT
// outcome.h - what a text's answer is, in one place for the `tavik`
// command (plain lines and JSON) and the Python module, so that they
// cannot disagree.
//
// An outcome holds the session's status, the closest language (also for a
// text too short to be identified, marked by its status), the confidence,
// the calibrated probability and its reliability as the session reports
// them, the query's n-gram count, and every scored language's distance,
// closest first.
#ifndef TAVIK_OUTCOME_H
#define TAVIK_OUTCOME_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tavik/tavik_session.h"

namespace tavik::outcome {

struct Entry {
    std::string code;
    double distance = 0.0;
};

struct Outcome {
    int32_t status = TAVIK_NO_PROFILE;
    bool named = false;  // `code` names the closest language
    std::string code;
    double confidence = 0.0;
    double probability = -1.0;  // -1: the model gives none
    bool reliable = false;
    int32_t ngrams = 0;
    int32_t script = -1;         // the text's dominant script (tavik_script_name), -1 none
    std::vector<Entry> results;  // closest first (as many as asked); empty when none was scored
};

// True for the statuses that are answers (possibly without a language):
// identified, ambiguous, too short.  The others are refusals.
bool is_answer(int32_t status);

// Identifies `text` with `session` and fills `out` (reused: its storage is
// kept).  A text without any n-gram is too short whatever the session's
// n-gram minimum says, and names no language: there is nothing to compare.
// A text with n-grams but fewer than the minimum is scored a second time
// with the minimum lifted, for its closest language; the probability and
// reliability stay those of the session's own answer.  The session's
// settings are as they were on return.  Only the `keep` closest results
// are copied (all for keep <= 0): a caller that shows one need not pay for
// sixty.  Returns out.status.
int32_t identify(tavik_session *session, std::string_view text, Outcome &out, long keep = 0);

// True when a bundle named the language of the session's last text by its
// script alone: one result, distance 0, confidence 1, no n-grams.
bool decided_by_script(const tavik_session *s);

// The status as a word: "ok", "ambiguous", "too-short", "bad-utf8",
// "unsupported-script" or "error".
const char *status_word(int32_t status);

// `s` with every byte that does not start a well-formed UTF-8 sequence
// replaced by U+FFFD, so that it can stand in a JSON document.
std::string valid_utf8(std::string_view s);

}  // namespace tavik::outcome

#endif  // TAVIK_OUTCOME_H
