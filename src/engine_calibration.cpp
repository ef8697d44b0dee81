// SPDX-License-Identifier: MIT
// engine_calibration.cpp - what a session's outcome tells the calibration.

#include <cstring>

#include "engine.h"

namespace tavik {

namespace {

// The winner and runner-up of the results at `r` (n of them, ranked).
CalibrationInput input_of(const tavik_result *r, int32_t n, uint64_t ngrams, int32_t penalty) {
    CalibrationInput in;
    const double p = penalty > 0 ? static_cast<double>(penalty) : 1.0;
    in.confidence = r[0].confidence;
    in.ngrams = static_cast<double>(ngrams);
    in.best = r[0].distance / p;
    in.second = n >= 2 ? r[1].distance / p : 1.0;
    std::memcpy(in.code, r[0].code, sizeof in.code);
    return in;
}

// Scores the query of a too-short text as identification would with the
// n-gram minimum lifted, leaving the record's (empty) results alone.
CalibrationInput score_short(const tavik_session &s, const ProfileIndex *index,
                             const Candidates &only) {
    const tavik_state &st = s.st;
    const int32_t penalty = absent_penalty_for(st.max_distribution);
    tavik_result results[TAVIK_MAX_LANGS];
    const int32_t n = rank_query(index, *st.profile, st.query, query_entries(s.scratch), &only,
                                 st.size_penalty, penalty, results, nullptr);
    return input_of(results, n, st.query.count, penalty);
}

}  // namespace

void session_record_calibration(tavik_session &s, int32_t rc) {
    session_record_calibration(s, rc, s.model->calib, s.model->index, s.only);
}

void session_record_calibration(tavik_session &s, int32_t rc, const Calibration &calib,
                                const ProfileIndex *index, const Candidates &only) {
    const tavik_state &st = s.st;
    s.calib_valid = false;
    if (st.query_valid == 0 || st.query.count == 0) return;
    if (rc == TAVIK_OK || rc == TAVIK_AMBIGUOUS) {
        if (st.result_count < 1) return;
        s.calib_input = input_of(st.results, st.result_count, st.query.count,
                                 absent_penalty_for(st.max_distribution));
        s.calib_valid = true;
    } else if (rc == TAVIK_TOO_FEW_NGRAMS && (calib.present || s.calib_collect)) {
        if (st.profile->lang_count < 1) return;
        s.calib_input = score_short(s, index, only);
        s.calib_valid = true;
    }
}

}  // namespace tavik
