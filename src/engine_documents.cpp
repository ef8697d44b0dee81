// SPDX-License-Identifier: MIT
// engine_documents.cpp - the result document and the explanation document
// of an engine's record.

#include <yyjson.h>

#include "alloc.h"
#include "engine.h"
#include "scripts.h"

namespace {

constexpr const char *kEmptyDoc = "{}";

#if defined(TAVIK_FAULT_INJECTION)
// The failure-injecting test build routes the documents' memory, the written
// text included, through the library's allocator; it ends in the C heap, so
// the text is still released with free.
void *alc_malloc(void *, size_t n) { return tavik::mem_malloc(n); }
void *alc_realloc(void *, void *p, size_t, size_t n) { return tavik::mem_realloc(p, n); }
void alc_free(void *, void *p) { tavik::mem_free(p); }
const yyjson_alc kFaultAlc = {alc_malloc, alc_realloc, alc_free, nullptr};
const yyjson_alc *const kAlc = &kFaultAlc;
#else
const yyjson_alc *const kAlc = nullptr;  // yyjson's default allocator, the C heap
#endif

// The keys a bundle's documents add after the designed ones.
void add_route(yyjson_mut_doc *doc, yyjson_mut_val *root, const tavik::RouteNote &note) {
    const char *script = tavik::script_name(note.script);
    if (script != nullptr)
        yyjson_mut_obj_add_str(doc, root, "script", script);
    else
        yyjson_mut_obj_add_null(doc, root, "script");
    const char *route = note.direct ? "script" : note.member >= 0 ? "member" : "none";
    yyjson_mut_obj_add_str(doc, root, "route", route);
    if (note.member >= 0) yyjson_mut_obj_add_int(doc, root, "member", note.member);
}

// Writes `doc` compactly, frees it, and stores the text in `*slot`.
const char *finish(yyjson_mut_doc *doc, char **slot) {
    *slot = yyjson_mut_write_opts(doc, 0, kAlc, nullptr, nullptr);
    yyjson_mut_doc_free(doc);
    return *slot != nullptr ? *slot : kEmptyDoc;
}

}  // namespace

namespace tavik {

const char *engine_result_json(const Engine &e) {
    tavik_state &st = e.st;
    mem_free(st.json);
    st.json = nullptr;
    yyjson_mut_doc *doc = yyjson_mut_doc_new(kAlc);
    if (doc == nullptr) return kEmptyDoc;
    yyjson_mut_val *root = yyjson_mut_obj(doc);
    yyjson_mut_doc_set_root(doc, root);
    yyjson_mut_obj_add_int(doc, root, "status", st.status);
    const bool has_best = st.status == TAVIK_OK && st.result_count > 0;
    yyjson_mut_obj_add_str(doc, root, "best", has_best ? st.results[0].code : "");
    yyjson_mut_obj_add_int(doc, root, "ngrams",
                           st.query_valid != 0 ? static_cast<int64_t>(st.query.count) : 0);
    yyjson_mut_val *results = yyjson_mut_obj_add_arr(doc, root, "results");
    for (int32_t i = 0; i < st.result_count; ++i) {
        yyjson_mut_val *r = yyjson_mut_arr_add_obj(doc, results);
        yyjson_mut_obj_add_strcpy(doc, r, "code", st.results[i].code);
        yyjson_mut_obj_add_real(doc, r, "distance", st.results[i].distance);
        yyjson_mut_obj_add_real(doc, r, "confidence", st.results[i].confidence);
    }
    if (e.note != nullptr) add_route(doc, root, *e.note);
    return finish(doc, &st.json);
}

const char *engine_explain(const Engine &e, int32_t index) {
    tavik_state &st = e.st;
    mem_free(st.explain_json);
    st.explain_json = nullptr;
    if (index < 0 || index >= engine_language_count(e) || st.query_valid == 0) return kEmptyDoc;
    const int32_t penalty = absent_penalty_for(st.max_distribution);
    yyjson_mut_doc *doc = yyjson_mut_doc_new(kAlc);
    if (doc == nullptr) return kEmptyDoc;
    const int32_t l = engine_language(e, index);
    const tavik_lang &lang = st.profile->langs[l];
    yyjson_mut_val *root = yyjson_mut_obj(doc);
    yyjson_mut_doc_set_root(doc, root);
    yyjson_mut_obj_add_strcpy(doc, root, "code", lang.code);
    yyjson_mut_obj_add_real(doc, root, "distance",
                            distance_to(e.index, lang, l, st.query, st.size_penalty, penalty));
    yyjson_mut_val *ngrams = yyjson_mut_obj_add_arr(doc, root, "ngrams");
    for (uint64_t i = 1; i <= st.query.count && i <= 64; ++i) {
        const char *text = st.query.items[i - 1].text;
        yyjson_mut_val *g = yyjson_mut_arr_add_obj(doc, ngrams);
        yyjson_mut_obj_add_strcpy(doc, g, "ngram", text);
        yyjson_mut_obj_add_int(doc, g, "query_rank", static_cast<int64_t>(i));
        yyjson_mut_obj_add_int(doc, g, "profile_rank", rank_in(e.index, lang, l, text));
    }
    if (e.note != nullptr) add_route(doc, root, *e.note);
    return finish(doc, &st.explain_json);
}

const char *engine_explain_direct(const Engine &e, const char *code, int32_t script) {
    tavik_state &st = e.st;
    mem_free(st.explain_json);
    st.explain_json = nullptr;
    yyjson_mut_doc *doc = yyjson_mut_doc_new(kAlc);
    if (doc == nullptr) return kEmptyDoc;
    yyjson_mut_val *root = yyjson_mut_obj(doc);
    yyjson_mut_doc_set_root(doc, root);
    yyjson_mut_obj_add_strcpy(doc, root, "code", code);
    yyjson_mut_obj_add_real(doc, root, "distance", 0.0);
    yyjson_mut_obj_add_arr(doc, root, "ngrams");
    add_route(doc, root, RouteNote{script, -1, true});
    return finish(doc, &st.explain_json);
}

}  // namespace tavik
