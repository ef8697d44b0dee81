// SPDX-License-Identifier: MIT
// engine_batch.cpp - several texts through one session, interleaved.
//
// Scoring a text probes the index at scattered places, and the first probes
// of a text wait for memory: the fetches ahead that scoring makes within a
// text have nothing to run ahead of yet.  A batch therefore counts the next
// text's n-grams between fetching the current text's first slots and
// scoring it, so that the counting (work in the session's own, cached
// storage) hides those fetches.  Each text is still counted, ranked and
// scored by the same functions as alone, so its outcome is the same.

#include <utility>

#include "batch.h"
#include "session_route.h"

namespace tavik {

namespace {

// Query n-grams whose slots are fetched before the next text is counted:
// scoring itself fetches its slots this far ahead after the first ones.
constexpr uint64_t kPrefetched = 24;

// The bytes of text k, as tavik_session_identify takes them.
const char *text_at(const char *const *texts, const uint64_t *lengths, uint64_t k) {
    return texts[k] == nullptr && lengths[k] == 0 ? "" : texts[k];
}

// Sessions on bundles: each text is routed by its own script first, so it
// is identified as alone, one after the other.
void each_routed(tavik_session &s, const char *const *texts, const uint64_t *lengths, uint64_t n,
                 BatchSink sink) {
    for (uint64_t k = 0; k < n; ++k)
        sink.done(sink.ctx, k, tavik_session_identify(&s, text_at(texts, lengths, k), lengths[k]));
}

}  // namespace

int32_t engine_rank_closest(const Engine &e, tavik_result *out) {
    const tavik_state &st = e.st;
    if (st.profile->lang_count < 1) return 0;
    return rank_query(e.index, *st.profile, st.query, query_entries(e.scratch), e.only,
                      st.size_penalty, absent_penalty_for(st.max_distribution), out, nullptr);
}

// On one profile: text k + 1 is counted into the session's second scratch
// while text k's first slots arrive, then the two scratches trade places.
// A text refused before extraction (a NULL one) counts nothing and leaves
// the query of the text before it in place, as it would alone.
void session_identify_each(tavik_session &s, const char *const *texts, const uint64_t *lengths,
                           uint64_t n, BatchSink sink) {
    if (s.route != nullptr) return each_routed(s, texts, lengths, n, sink);
    const Engine e = session_engine(s);
    const auto counts = [&](uint64_t k) { return text_at(texts, lengths, k) != nullptr; };
    bool counted = false;  // s.scratch holds text k's n-grams
    int32_t rc_count = TAVIK_OK;
    for (uint64_t k = 0; k < n; ++k) {
        const char *text = text_at(texts, lengths, k);
        if (text != nullptr && !counted) rc_count = engine_count(e, s.scratch, text, lengths[k]);
        if (text != nullptr && rc_count == TAVIK_OK) {
            const StrMap &m = s.scratch.map;
            index_prefetch(e.index, QueryEntries{m.entries, m.ranked},
                           m.ranked_count < kPrefetched ? m.ranked_count : kPrefetched);
        }
        const bool ahead = text != nullptr && k + 1 < n && counts(k + 1);
        const int32_t rc_next =
            ahead ? engine_count(e, s.ahead, text_at(texts, lengths, k + 1), lengths[k + 1])
                  : TAVIK_OK;
        s.script = text != nullptr ? dominant_script(text, lengths[k]) : -1;
        const int32_t rc = engine_identify_counted(e, text, rc_count);
        session_record_calibration(s, rc);
        sink.done(sink.ctx, k, rc);
        // The record's query borrowed the scratch that now becomes the
        // second one; the next text's identification replaces it before
        // anything reads it again.
        if (ahead) std::swap(s.scratch, s.ahead);
        counted = ahead;
        rc_count = rc_next;
    }
}

}  // namespace tavik
