// SPDX-License-Identifier: MIT
// api_session.cpp - the handle-based interface: models and sessions over
// the engine (engine.h).

#include <cstdio>
#include <cstring>
#include <new>
#include <string_view>

#include "alloc.h"
#include "engine.h"
#include "model_file.h"
#include "session_route.h"
#include "tavik/tavik_session.h"

namespace {

tavik::Engine engine_of(tavik_session *s) { return tavik::session_engine(*s); }

// Const readers go through the same engine; they change nothing.
tavik::Engine engine_of(const tavik_session *s) {
    return engine_of(const_cast<tavik_session *>(s));
}

bool valid_result(const tavik_session *s, int32_t index) {
    return s != nullptr && index >= 0 && index < s->st.result_count;
}

// The settings a new session starts with: the designed defaults, then the
// profile header's, as tavik_load_profile applies them.
void initial_settings(tavik_state &st, const tavik_profile &p) {
    st.min_ngrams = 40;
    st.min_margin = 2.0;
    st.size_penalty = 0;
    st.max_ngram_length = p.max_ngram_length != 0 ? p.max_ngram_length : 5;
    st.max_distribution = p.max_distribution != 0 ? p.max_distribution : 4000;
    st.occurance_threshold = p.occurance_threshold;
}

}  // namespace

namespace tavik {

int32_t session_reliable_at(const tavik_session &s, double probability) {
    if (probability < 0.0) return 0;
    const double mark = s.route != nullptr ? route_reliable_mark(&s) : s.model->calib.reliable;
    return probability >= mark ? 1 : 0;
}

}  // namespace tavik

extern "C" {

// ---------------------------------------------------------------- models

int32_t tavik_model_open(const char *path, tavik_model **out) {
    if (out != nullptr) *out = nullptr;
    if (path == nullptr || out == nullptr) return TAVIK_INVALID;
    return tavik::model_from_path(path, out);
}

int32_t tavik_model_open_memory(const void *data, uint64_t size, tavik_model **out) {
    if (out != nullptr) *out = nullptr;
    if (out == nullptr) return TAVIK_INVALID;
    return tavik::model_from_bytes(data, size, out);
}

void tavik_model_free(tavik_model *model) {
    if (model != nullptr) tavik::model_release(model);
}

int32_t tavik_model_language_count(const tavik_model *model) {
    if (model != nullptr && model->routing != nullptr) return model->routing->lang_count;
    return model != nullptr ? model->profile->lang_count : 0;
}

const char *tavik_model_language_code(const tavik_model *model, int32_t index) {
    if (model != nullptr && model->routing != nullptr)
        return tavik::route_model_language_code(*model->routing, index);
    if (model == nullptr || index < 0 || index >= model->profile->lang_count) return nullptr;
    return model->profile->langs[index].code;
}

const char *tavik_model_meta(const tavik_model *model, const char *key) {
    if (model == nullptr || key == nullptr) return nullptr;
    // A bundle's own pairs come first, then its first member's.
    if (const tavik::Routing *r = model->routing; r != nullptr)
        for (int32_t i = 0; i < r->meta_count; ++i)
            if (std::strcmp(r->meta[i].key, key) == 0) return r->meta[i].value;
    const tavik_profile &p = *model->profile;
    for (int32_t i = 0; i < p.meta_count; ++i)
        if (std::strcmp(p.meta[i].key, key) == 0) return p.meta[i].value;
    return nullptr;
}

const char *tavik_model_id(const tavik_model *model) {
    if (model != nullptr && model->routing != nullptr) return model->routing->id;
    return model != nullptr ? model->profile->id : nullptr;
}

// -------------------------------------------------------------- sessions

int32_t tavik_session_new(tavik_model *model, tavik_session **out) {
    if (out != nullptr) *out = nullptr;
    if (model == nullptr || out == nullptr) return TAVIK_INVALID;
    void *mem = tavik::mem_malloc(sizeof(tavik_session));
    if (mem == nullptr) return TAVIK_NO_MEMORY;
    auto *s = new (mem) tavik_session{};
    s->model = model;
    if (tavik::route_new(s) != TAVIK_OK) {
        s->~tavik_session();
        tavik::mem_free(s);
        return TAVIK_NO_MEMORY;
    }
    tavik::model_retain(model);
    s->st.profile = model->profile;
    s->st.status = TAVIK_NO_PROFILE;
    initial_settings(s->st, *model->profile);
    *out = s;
    return TAVIK_OK;
}

void tavik_session_free(tavik_session *session) {
    if (session == nullptr) return;
    tavik::query_clear(session->st);
    tavik::scratch_release(session->scratch);
    tavik::batch_release(*session);
    tavik::mem_free(session->st.json);
    tavik::mem_free(session->st.explain_json);
    tavik::route_free(session);
    tavik_model *model = session->model;
    session->~tavik_session();
    tavik::mem_free(session);
    tavik::model_release(model);
}

void tavik_session_set_min_ngrams(tavik_session *session, int32_t count) {
    if (session != nullptr) session->st.min_ngrams = count;
}

void tavik_session_set_min_margin(tavik_session *session, double margin) {
    if (session != nullptr) session->st.min_margin = margin;
}

void tavik_session_set_size_penalty(tavik_session *session, int32_t enabled) {
    if (session != nullptr) session->st.size_penalty = enabled != 0 ? 1 : 0;
}

void tavik_session_set_max_ngram_length(tavik_session *session, int32_t length) {
    if (session != nullptr && length > 0) session->st.max_ngram_length = length;
}

void tavik_session_set_max_distribution(tavik_session *session, int32_t count) {
    if (session != nullptr && count > 0) session->st.max_distribution = count;
}

void tavik_session_set_occurance_threshold(tavik_session *session, int32_t count) {
    if (session != nullptr) session->st.occurance_threshold = count < 0 ? 0 : count;
}

int32_t tavik_session_set_candidates(tavik_session *session, const char *codes) {
    if (session == nullptr) return TAVIK_INVALID;
    if (session->route != nullptr) return tavik::route_set_candidates(session, codes);
    const tavik_profile &p = *session->model->profile;
    tavik::Candidates only;
    if (codes != nullptr && codes[0] != '\0') {
        uint64_t chosen = 0;
        std::string_view rest(codes);
        for (;;) {
            const size_t comma = rest.find(',');
            const std::string_view code = rest.substr(0, comma);
            uint64_t named = 0;
            for (int32_t l = 0; l < p.lang_count; ++l)
                if (code == p.langs[l].code) named |= uint64_t{1} << l;
            if (named == 0) return tavik::refuse_code(session, "unknown", code);
            if ((chosen & named) != 0) return tavik::refuse_code(session, "repeated", code);
            chosen |= named;
            if (comma == std::string_view::npos) break;
            rest.remove_prefix(comma + 1);
        }
        for (int32_t l = 0; l < p.lang_count; ++l)
            if ((chosen >> l & 1) != 0) only.langs[only.count++] = l;
    }
    session->only = only;
    return TAVIK_OK;
}

int32_t tavik_session_language_count(const tavik_session *session) {
    if (session != nullptr && session->route != nullptr)
        return tavik::route_language_count(session);
    return session != nullptr ? tavik::engine_language_count(engine_of(session)) : 0;
}

const char *tavik_session_language_code(const tavik_session *session, int32_t index) {
    if (session != nullptr && session->route != nullptr)
        return tavik::route_language_code(session, index);
    if (session == nullptr || index < 0 || index >= tavik_session_language_count(session))
        return nullptr;
    return session->st.profile->langs[tavik::engine_language(engine_of(session), index)].code;
}

int32_t tavik_session_identify(tavik_session *session, const char *text, uint64_t length) {
    if (session == nullptr) return TAVIK_INVALID;
    if (text == nullptr && length == 0) text = "";
    if (session->route != nullptr) {
        // The member the text goes to records its own calibration input.
        session->calib_valid = false;
        return tavik::route_identify(session, text, length);
    }
    // One profile serves every script; the script is only reported.
    session->script = text != nullptr ? tavik::dominant_script(text, length) : -1;
    const int32_t rc = tavik::engine_identify(engine_of(session), text, length);
    tavik::session_record_calibration(*session, rc);
    return rc;
}

int32_t tavik_session_status(const tavik_session *session) {
    return session != nullptr ? session->st.status : TAVIK_INVALID;
}

const char *tavik_session_last_error(const tavik_session *session) {
    return session != nullptr ? session->st.error : "";
}

int32_t tavik_session_result_count(const tavik_session *session) {
    return session != nullptr ? session->st.result_count : 0;
}

const char *tavik_session_result_code(const tavik_session *session, int32_t index) {
    return valid_result(session, index) ? session->st.results[index].code : nullptr;
}

double tavik_session_result_distance(const tavik_session *session, int32_t index) {
    return valid_result(session, index) ? session->st.results[index].distance : -1.0;
}

double tavik_session_result_confidence(const tavik_session *session, int32_t index) {
    return valid_result(session, index) ? session->st.results[index].confidence : 0.0;
}

const char *tavik_session_best_code(const tavik_session *session) {
    if (session == nullptr) return nullptr;
    const tavik_state &st = session->st;
    return st.status == TAVIK_OK && st.result_count > 0 ? st.results[0].code : nullptr;
}

int32_t tavik_session_ngram_count(const tavik_session *session) {
    if (session == nullptr || session->st.query_valid == 0) return 0;
    return static_cast<int32_t>(session->st.query.count);
}

const char *tavik_session_ngram(const tavik_session *session, int32_t position) {
    if (position < 0 || position >= tavik_session_ngram_count(session)) return nullptr;
    return session->st.query.items[position].text;
}

const char *tavik_session_result_json(tavik_session *session) {
    if (session != nullptr && session->route != nullptr) return tavik::route_result_json(session);
    return session != nullptr ? tavik::engine_result_json(engine_of(session)) : "{}";
}

const char *tavik_session_explain(tavik_session *session, int32_t index) {
    if (session != nullptr && session->route != nullptr)
        return tavik::route_explain(session, index);
    return session != nullptr ? tavik::engine_explain(engine_of(session), index) : "{}";
}

// Computed when asked rather than after every identification: the inputs
// are kept either way, and most callers never ask.
double tavik_session_probability(const tavik_session *session) {
    if (session != nullptr && session->route != nullptr) return tavik::route_probability(session);
    if (session == nullptr || !session->calib_valid || !session->model->calib.present) return -1.0;
    return tavik::calibration_probability(session->model->calib, session->calib_input);
}

int32_t tavik_session_reliable(const tavik_session *session) {
    return session != nullptr
               ? tavik::session_reliable_at(*session, tavik_session_probability(session))
               : 0;
}

int32_t tavik_session_script(const tavik_session *session) {
    return session != nullptr ? session->script : -1;
}

}  // extern "C"
