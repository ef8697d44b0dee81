// SPDX-License-Identifier: MIT
// api_batch.cpp - tavik_session_identify_batch: several texts per call,
// each outcome copied out of the session as soon as the text is done.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "alloc.h"
#include "batch.h"
#include "model_file.h"
#include "session_route.h"
#include "tavik/tavik_session.h"

static_assert(sizeof(tavik_outcome_language) == sizeof(tavik_result));
static_assert(offsetof(tavik_outcome_language, code) == offsetof(tavik_result, code));
static_assert(offsetof(tavik_outcome_language, distance) == offsetof(tavik_result, distance));
static_assert(offsetof(tavik_outcome_language, confidence) == offsetof(tavik_result, confidence));
static_assert(sizeof(tavik_outcome_language::code) == sizeof(tavik_result::code));
// The record is part of the interface: its layout does not move.
static_assert(offsetof(tavik_outcome, status) == 0);
static_assert(offsetof(tavik_outcome, script) == 4);
static_assert(offsetof(tavik_outcome, ngram_count) == 8);
static_assert(offsetof(tavik_outcome, result_count) == 12);
static_assert(offsetof(tavik_outcome, language) == 16);
static_assert(offsetof(tavik_outcome, distance) == 24);
static_assert(offsetof(tavik_outcome, confidence) == 32);
static_assert(offsetof(tavik_outcome, probability) == 40);
static_assert(offsetof(tavik_outcome, results) == 48);
static_assert(sizeof(void *) != 8 || sizeof(tavik_outcome) == 64);

namespace tavik {

namespace {

// The most languages one text can be ranked against: those of the model's
// largest member (a language its script decides is one).
uint64_t languages_per_text(const tavik_model &m) {
    const Routing *r = m.routing;
    if (r == nullptr) return m.profile->lang_count > 0 ? uint64_t(m.profile->lang_count) : 1;
    uint64_t most = 1;
    for (int32_t k = 0; k < r->member_count; ++k) {
        const auto count = static_cast<uint64_t>(r->members[k].profile->lang_count);
        most = count > most ? count : most;
    }
    return most;
}

// Room for the results of `n` texts, kept from call to call; false (and
// the storage as it was) when it cannot be had.
bool reserve_results(tavik_session &s, uint64_t n) {
    const uint64_t per = languages_per_text(*s.model);
    if (n > SIZE_MAX / sizeof(tavik_outcome_language) / per) return false;
    const uint64_t need = n * per;
    if (need <= s.batch_cap) return true;
    void *grown = mem_malloc(need * sizeof(tavik_outcome_language));
    if (grown == nullptr) return false;
    mem_free(s.batch);
    s.batch = static_cast<tavik_outcome_language *>(grown);
    s.batch_cap = need;
    return true;
}

struct Filling {
    tavik_session *s;
    tavik_outcome *outcomes;
    uint64_t used;  // result records handed out so far
};

// Copies the session's outcome of text k out, with the ranking of a
// too-short text's closest languages where the session keeps none.
void fill(void *ctx, uint64_t k, int32_t status) {
    auto &f = *static_cast<Filling *>(ctx);
    tavik_session *s = f.s;
    tavik_outcome &o = f.outcomes[k];
    o = tavik_outcome{};
    o.status = status;
    o.script = tavik_session_script(s);
    o.ngram_count = tavik_session_ngram_count(s);
    o.probability = tavik_session_probability(s);
    o.reliable = session_reliable_at(*s, o.probability);
    o.distance = -1.0;
    const tavik_result *ranked = s->st.results;
    int32_t count = s->st.result_count;
    tavik_result closest[TAVIK_MAX_LANGS];
    if (status == TAVIK_TOO_FEW_NGRAMS && o.ngram_count > 0) {
        const Engine e = s->route != nullptr ? route_engine(s) : session_engine(*s);
        count = engine_rank_closest(e, closest);
        ranked = closest;
    }
    if (count <= 0) return;
    tavik_outcome_language *out = s->batch + f.used;
    std::memcpy(out, ranked, static_cast<size_t>(count) * sizeof *out);
    f.used += static_cast<uint64_t>(count);
    o.results = out;
    o.result_count = count;
    std::memcpy(o.language, out[0].code, sizeof o.language);
    o.distance = out[0].distance;
    o.confidence = out[0].confidence;
}

}  // namespace

void batch_release(tavik_session &s) {
    scratch_release(s.ahead);
    mem_free(s.batch);
    s.batch = nullptr;
    s.batch_cap = 0;
}

}  // namespace tavik

extern "C" int32_t tavik_session_identify_batch(tavik_session *session, const char *const *texts,
                                                const uint64_t *lengths, uint64_t n,
                                                tavik_outcome *outcomes) {
    if (session == nullptr) return TAVIK_INVALID;
    if (n == 0) return TAVIK_OK;
    if (texts == nullptr || lengths == nullptr || outcomes == nullptr) return TAVIK_INVALID;
    if (!tavik::reserve_results(*session, n)) return TAVIK_NO_MEMORY;
    tavik::Filling filling{session, outcomes, 0};
    tavik::session_identify_each(*session, texts, lengths, n, {tavik::fill, &filling});
    return TAVIK_OK;
}
