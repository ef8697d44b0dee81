// SPDX-License-Identifier: MIT
// engine_identify.cpp - extraction and identification on an engine's
// record.  The scoring itself is in score.cpp (plain) and its fast paths.

#include <cstring>

#include "alloc.h"
#include "engine.h"
#include "relatives.h"
#include "result_sort.h"

namespace tavik {

namespace {

using NgramRec = struct tavik_ngram;

// Lends the ranked entries of the map to the record's query.
int32_t publish(tavik_state &st, QueryScratch &q, uint64_t n) {
    if (n > q.cap) {
        auto *items = static_cast<NgramRec *>(mem_realloc(q.items, n * sizeof(NgramRec)));
        if (items == nullptr) return TAVIK_NO_MEMORY;
        q.items = items;
        q.cap = n;
    }
    for (uint64_t k = 0; k < n; ++k) {
        const Counted &c = q.map.entries[q.map.ranked[k]];
        q.items[k] = NgramRec{q.map.arena + c.off, c.count, c.order};
    }
    st.query = tavik_ngram_list{n != 0 ? q.items : nullptr, n, n != 0 ? q.cap : 0};
    return TAVIK_OK;
}

bool all_languages(const Engine &e) { return e.only == nullptr || e.only->count == 0; }

// Scores the query against the engine's languages into the record's
// results, and returns the winner's margin.
double score(const Engine &e) {
    tavik_state &st = e.st;
    double margin = 0.0;
    st.result_count =
        rank_query(e.index, *st.profile, st.query, query_entries(e.scratch), e.only,
                   st.size_penalty, absent_penalty_for(st.max_distribution), st.results, &margin);
    return margin;
}

}  // namespace

int32_t rank_query(const ProfileIndex *index, const tavik_profile &p, const tavik_ngram_list &query,
                   const QueryEntries &entries, const Candidates *only, int32_t size_penalty,
                   int32_t penalty, tavik_result *out, double *margin) {
    double distances[TAVIK_MAX_LANGS];
    index_score(index, p, query, &entries, size_penalty, penalty, distances);
    const uint8_t *code_order = index_code_order(index);
    int32_t n = p.lang_count;
    if (only == nullptr || only->count == 0) {
        sort_results(p, distances, code_order, out);
    } else {
        sort_results_of(p, only->langs, only->count, distances, code_order, out);
        n = only->count;
    }
    double lead = rank_results(out, n);
    bool tie = false;
    const Relatives *relatives = index_relatives(index);
    if (relatives != nullptr && relatives_order(*relatives, index, query, entries, out, n, &tie))
        lead = tie ? 0.0 : 100.0;
    if (margin != nullptr) *margin = lead;
    return n;
}

void scratch_release(QueryScratch &scratch) {
    strmap_release(scratch.map);
    mem_free(scratch.items);
    scratch = QueryScratch{};
}

void record_error(tavik_state &st, const char *message) {
    if (message == nullptr) {
        st.error[0] = '\0';
        return;
    }
    const size_t n = strnlen(message, sizeof st.error - 1);
    std::memcpy(st.error, message, n);
    st.error[n] = '\0';
}

void query_clear(tavik_state &st) {
    st.query = tavik_ngram_list{nullptr, 0, 0};
    st.query_valid = 0;
}

int32_t engine_count(const Engine &e, QueryScratch &q, const char *text, uint64_t len) {
    const tavik_state &st = e.st;
    // A text's words are kept only for a profile that weighs them.
    const Relatives *relatives = index_relatives(e.index);
    QueryWords *words =
        relatives != nullptr && relatives_have_words(*relatives) ? &q.words : nullptr;
    int32_t rc = st.max_ngram_length < 1
                     ? TAVIK_INVALID
                     : strmap_count_model(q.map, text, len, st.max_ngram_length, e.text, words);
    if (rc == TAVIK_OK) rc = strmap_rank(q.map, st.occurance_threshold, st.max_distribution);
    return rc;
}

namespace {

// Lends the n-grams counted into the engine's scratch (status `counted`)
// to the record's query, or records why there are none.
int32_t take_query(const Engine &e, int32_t counted) {
    tavik_state &st = e.st;
    QueryScratch &q = e.scratch;
    query_clear(st);
    int32_t rc = counted;
    if (rc == TAVIK_OK) rc = publish(st, q, q.map.ranked_count);
    if (rc != TAVIK_OK) {
        query_clear(st);
        record_error(st, rc == TAVIK_BAD_UTF8 ? "bad utf8" : "extract failed");
        return rc;
    }
    st.query_valid = 1;
    return TAVIK_OK;
}

}  // namespace

int32_t engine_extract(const Engine &e, const char *text, uint64_t len) {
    return take_query(e, engine_count(e, e.scratch, text, len));
}

int32_t engine_identify_counted(const Engine &e, const char *text, int32_t counted) {
    tavik_state &st = e.st;
    st.result_count = 0;
    st.status = TAVIK_NO_PROFILE;
    if (st.profile == nullptr) {
        record_error(st, "no profile");
        return TAVIK_NO_PROFILE;
    }
    if (text == nullptr) {
        record_error(st, "null text");
        return TAVIK_INVALID;
    }
    const int32_t rc = take_query(e, counted);
    if (rc != TAVIK_OK) {
        st.status = rc;
        return rc;
    }
    if (static_cast<int32_t>(st.query.count) < st.min_ngrams) {
        st.status = TAVIK_TOO_FEW_NGRAMS;
        record_error(st, "too few ngrams");
        return TAVIK_TOO_FEW_NGRAMS;
    }
    const double margin = score(e);
    if (st.result_count >= 2 && margin < st.min_margin) {
        st.status = TAVIK_AMBIGUOUS;
        record_error(st, "ambiguous");
        return TAVIK_AMBIGUOUS;
    }
    record_error(st, nullptr);
    st.status = TAVIK_OK;
    return TAVIK_OK;
}

int32_t engine_identify(const Engine &e, const char *text, uint64_t len) {
    // Nothing is counted for a text that is refused before extraction.
    const bool counts = e.st.profile != nullptr && text != nullptr;
    return engine_identify_counted(e, text,
                                   counts ? engine_count(e, e.scratch, text, len) : TAVIK_OK);
}

int32_t engine_language_count(const Engine &e) {
    if (e.st.profile == nullptr) return 0;
    return all_languages(e) ? e.st.profile->lang_count : e.only->count;
}

int32_t engine_language(const Engine &e, int32_t k) {
    return all_languages(e) ? k : e.only->langs[k];
}

}  // namespace tavik
