// SPDX-License-Identifier: MIT
// api_profile.cpp - the one loaded profile: loading, installing, releasing
// and the accessors.

#include <cstdlib>
#include <cstring>

#include "alloc.h"
#include "api_internal.h"

namespace tavik {
ProfileIndex *g_index = nullptr;
TextModel g_text;
}  // namespace tavik

using tavik::G;

namespace {

// Installs a freshly read profile.  Its text model is read and its derived
// index built first, so that a refusal or running out of memory leaves the
// loaded profile in place.  A refused text model leaves its message in
// `error`.
int32_t install(tavik_profile *p, char *error) {
    tavik::TextModel text;
    if (tavik::profile_text_model(*p, &text, error) != TAVIK_OK) {
        tavik_profile_free(p);
        return TAVIK_BAD_PROFILE;
    }
    tavik::ProfileIndex *index = tavik::index_build(*p);
    if (index == nullptr) {
        tavik_profile_free(p);
        return TAVIK_NO_MEMORY;
    }
    tavik::index_free(tavik::g_index);
    tavik_profile_free(G.profile);
    G.profile = p;
    tavik::g_index = index;
    tavik::g_text = text;
    if (p->max_ngram_length != 0) G.max_ngram_length = p->max_ngram_length;
    if (p->max_distribution != 0) G.max_distribution = p->max_distribution;
    tavik::set_error(nullptr);
    G.occurance_threshold = p->occurance_threshold;
    return TAVIK_OK;
}

int32_t load_failed(int32_t rc, const char *message) {
    tavik::set_error(message);
    return rc;
}

}  // namespace

extern "C" {

int32_t tavik_load_profile(const char *path) {
    tavik::ensure_defaults();
    if (path == nullptr) return load_failed(TAVIK_INVALID, "null path");
    tavik_profile *p = nullptr;
    int32_t rc = tavik_profile_load_path(path, &p);
    char error[256] = "bad profile file";
    if (rc == TAVIK_OK) rc = install(p, error);
    return rc == TAVIK_OK ? rc : load_failed(rc, error);
}

int32_t tavik_load_profile_memory(const void *data, uint64_t size) {
    tavik::ensure_defaults();
    tavik_profile *p = nullptr;
    int32_t rc = tavik_profile_load(data, size, &p);
    char error[256] = "bad profile memory";
    if (rc == TAVIK_OK) rc = install(p, error);
    return rc == TAVIK_OK ? rc : load_failed(rc, error);
}

void tavik_free_profile(void) {
    tavik::index_free(tavik::g_index);
    tavik::g_index = nullptr;
    tavik::g_text = tavik::TextModel{};
    tavik_profile_free(G.profile);
    G.profile = nullptr;
    tavik::query_release();
    G.result_count = 0;
    tavik::mem_free(G.json);
    G.json = nullptr;
    tavik::mem_free(G.explain_json);
    G.explain_json = nullptr;
}

int32_t tavik_profile_language_count(void) {
    return G.profile != nullptr ? G.profile->lang_count : 0;
}

const char *tavik_profile_language_code(int32_t index) {
    if (index < 0 || G.profile == nullptr || index >= G.profile->lang_count) return nullptr;
    return G.profile->langs[index].code;
}

const char *tavik_profile_meta(const char *key) {
    if (key == nullptr || G.profile == nullptr || G.profile->meta_count <= 0) return nullptr;
    for (int32_t i = 0; i < G.profile->meta_count; ++i)
        if (std::strcmp(G.profile->meta[i].key, key) == 0) return G.profile->meta[i].value;
    return nullptr;
}

int32_t tavik_profile_meta_count(void) { return G.profile != nullptr ? G.profile->meta_count : 0; }

const char *tavik_profile_meta_key(int32_t index) {
    if (index < 0 || G.profile == nullptr || index >= G.profile->meta_count) return nullptr;
    return G.profile->meta[index].key;
}

const char *tavik_profile_meta_value(int32_t index) {
    if (index < 0 || G.profile == nullptr || index >= G.profile->meta_count) return nullptr;
    return G.profile->meta[index].value;
}

const char *tavik_profile_id(void) { return G.profile != nullptr ? G.profile->id : nullptr; }

}  // extern "C"
