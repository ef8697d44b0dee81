// api_json.cpp - the result document and the explanation document.

#include <yyjson.h>

#include "alloc.h"
#include "api_internal.h"

using tavik::G;

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

// Writes `doc` compactly, frees it, and stores the text in `*slot`.
const char *finish(yyjson_mut_doc *doc, char **slot) {
    *slot = yyjson_mut_write_opts(doc, 0, kAlc, nullptr, nullptr);
    yyjson_mut_doc_free(doc);
    return *slot != nullptr ? *slot : kEmptyDoc;
}

}  // namespace

extern "C" {

const char *tavik_result_json(void) {
    tavik::mem_free(G.json);
    G.json = nullptr;
    yyjson_mut_doc *doc = yyjson_mut_doc_new(kAlc);
    if (doc == nullptr) return kEmptyDoc;
    yyjson_mut_val *root = yyjson_mut_obj(doc);
    yyjson_mut_doc_set_root(doc, root);
    yyjson_mut_obj_add_int(doc, root, "status", G.status);
    const bool has_best = G.status == TAVIK_OK && G.result_count > 0;
    yyjson_mut_obj_add_str(doc, root, "best", has_best ? G.results[0].code : "");
    yyjson_mut_obj_add_int(doc, root, "ngrams", tavik_ngram_count());
    yyjson_mut_val *results = yyjson_mut_obj_add_arr(doc, root, "results");
    for (int32_t i = 0; i < G.result_count; ++i) {
        yyjson_mut_val *r = yyjson_mut_arr_add_obj(doc, results);
        yyjson_mut_obj_add_strcpy(doc, r, "code", G.results[i].code);
        yyjson_mut_obj_add_real(doc, r, "distance", G.results[i].distance);
        yyjson_mut_obj_add_real(doc, r, "confidence", G.results[i].confidence);
    }
    return finish(doc, &G.json);
}

const char *tavik_explain(int32_t index) {
    tavik::mem_free(G.explain_json);
    G.explain_json = nullptr;
    if (index < 0 || G.profile == nullptr || index >= G.profile->lang_count || G.query_valid == 0)
        return kEmptyDoc;
    const int32_t penalty = tavik::absent_penalty();
    yyjson_mut_doc *doc = yyjson_mut_doc_new(kAlc);
    if (doc == nullptr) return kEmptyDoc;
    const tavik_lang &lang = G.profile->langs[index];
    yyjson_mut_val *root = yyjson_mut_obj(doc);
    yyjson_mut_doc_set_root(doc, root);
    yyjson_mut_obj_add_strcpy(doc, root, "code", lang.code);
    yyjson_mut_obj_add_real(doc, root, "distance",
                            tavik::calc_distance(lang, G.query, G.size_penalty, penalty));
    yyjson_mut_val *ngrams = yyjson_mut_obj_add_arr(doc, root, "ngrams");
    for (uint64_t i = 1; i <= G.query.count && i <= 64; ++i) {
        const char *text = G.query.items[i - 1].text;
        yyjson_mut_val *e = yyjson_mut_arr_add_obj(doc, ngrams);
        yyjson_mut_obj_add_strcpy(doc, e, "ngram", text);
        yyjson_mut_obj_add_int(doc, e, "query_rank", static_cast<int64_t>(i));
        yyjson_mut_obj_add_int(doc, e, "profile_rank", tavik_lang_lookup_rank(&lang, text));
    }
    return finish(doc, &G.explain_json);
}

}  // extern "C"
