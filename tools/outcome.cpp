// SPDX-License-Identifier: MIT
// outcome.cpp - one definition of a text's answer.

#include "outcome.h"

#include "engine.h"
#include "tavik/utf8.h"

namespace tavik::outcome {

namespace {

// The `keep` closest results of the session's last identification.
void read_results(const tavik_session *s, Outcome &out, long keep) {
    const int32_t count = tavik_session_result_count(s);
    const int32_t n = keep > 0 && keep < count ? static_cast<int32_t>(keep) : count;
    out.results.resize(static_cast<size_t>(n > 0 ? n : 0));
    for (int32_t i = 0; i < n; ++i) {
        Entry &e = out.results[static_cast<size_t>(i)];
        e.code = tavik_session_result_code(s, i);
        e.distance = tavik_session_result_distance(s, i);
    }
    out.named = n > 0 && (out.ngrams > 0 || decided_by_script(s));
    if (out.named) {
        out.code = out.results[0].code;
        out.confidence = tavik_session_result_confidence(s, 0);
    }
}

}  // namespace

bool decided_by_script(const tavik_session *s) {
    return tavik_session_status(s) == TAVIK_OK && tavik_session_ngram_count(s) == 0 &&
           tavik_session_script(s) >= 0 && tavik_session_result_count(s) == 1 &&
           tavik_session_result_distance(s, 0) == 0.0 &&
           tavik_session_result_confidence(s, 0) == 1.0;
}

bool is_answer(int32_t status) {
    return status == TAVIK_OK || status == TAVIK_AMBIGUOUS || status == TAVIK_TOO_FEW_NGRAMS;
}

int32_t identify(tavik_session *session, std::string_view text, Outcome &out, long keep) {
    int32_t rc = tavik_session_identify(session, text.data(), text.size());
    out.named = false;
    out.code.clear();
    out.confidence = 0.0;
    out.results.clear();
    out.ngrams = tavik_session_ngram_count(session);
    out.probability = tavik_session_probability(session);
    out.reliable = tavik_session_reliable(session) != 0;
    out.script = tavik_session_script(session);
    const bool by_script = rc == TAVIK_OK && decided_by_script(session);
    if ((rc == TAVIK_OK || rc == TAVIK_AMBIGUOUS) && out.ngrams == 0 && !by_script)
        rc = TAVIK_TOO_FEW_NGRAMS;
    out.status = rc;
    if (!is_answer(rc)) return rc;
    if (rc == TAVIK_TOO_FEW_NGRAMS && out.ngrams > 0) {
        const int32_t min_ngrams = session->st.min_ngrams;
        tavik_session_set_min_ngrams(session, 0);
        tavik_session_identify(session, text.data(), text.size());
        tavik_session_set_min_ngrams(session, min_ngrams);
    }
    read_results(session, out, keep);
    if (out.status != TAVIK_OK) out.reliable = false;
    return rc;
}

const char *status_word(int32_t status) {
    switch (status) {
    case TAVIK_OK:
        return "ok";
    case TAVIK_AMBIGUOUS:
        return "ambiguous";
    case TAVIK_TOO_FEW_NGRAMS:
        return "too-short";
    case TAVIK_BAD_UTF8:
        return "bad-utf8";
    case TAVIK_UNSUPPORTED_SCRIPT:
        return "unsupported-script";
    default:
        return "error";
    }
}

std::string valid_utf8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    const auto *p = reinterpret_cast<const unsigned char *>(s.data());
    size_t i = 0;
    while (i < s.size()) {
        uint32_t cp;
        const int32_t n = tavik_utf8_decode(p + i, s.size() - i, &cp);
        if (n > 0) {
            out.append(s.substr(i, static_cast<size_t>(n)));
            i += static_cast<size_t>(n);
        } else {
            out.append("\xEF\xBF\xBD");
            ++i;
        }
    }
    return out;
}

}  // namespace tavik::outcome
