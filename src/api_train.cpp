// SPDX-License-Identifier: MIT
// api_train.cpp - the training record T: languages, their text, their
// ranked n-grams, meta pairs, and writing them as a profile.

#include <cstring>

#include "alloc.h"
#include "api_internal.h"
#include "ngram_count.h"

using tavik::G;
using tavik::mem_free;
using tavik::T;

namespace {

char *copy_text(const char *s) { return tavik::mem_strndup(s, std::strlen(s)); }

}  // namespace

extern "C" {

void tavik_train_reset(void) {
    for (int32_t j = 0; j < T.lang_count; ++j) {
        mem_free(T.langs[j].text);
        tavik_ngram_list_free(&T.langs[j].ngrams);
    }
    for (int32_t i = 0; i < T.meta_count; ++i) {
        mem_free(T.meta[i].key);
        mem_free(T.meta[i].value);
    }
    std::memset(static_cast<void *>(&T), 0, sizeof T);
    T.current = -1;
}

void tavik_train_state_reset(void) { tavik_train_reset(); }

int32_t tavik_train_set_meta(const char *key, const char *value) {
    if (key == nullptr || value == nullptr) return TAVIK_INVALID;
    // A text model pair must be known, and set before any language is cut
    // by it: every language of a profile is cut the same way.  Calibration
    // and relatives pairs (groups and word lists) cut nothing and may come
    // at any time.
    tavik::TextModel probe;
    if (!tavik::text_model_apply(probe, key, value)) return TAVIK_INVALID;
    if (tavik::cuts_text(key) && T.lang_count > 0) return TAVIK_INVALID;
    for (int32_t i = 0; i < T.meta_count; ++i) {
        if (std::strcmp(T.meta[i].key, key) != 0) continue;
        char *v = copy_text(value);
        if (v == nullptr) return TAVIK_NO_MEMORY;
        mem_free(T.meta[i].value);
        T.meta[i].value = v;
        return TAVIK_OK;
    }
    if (T.meta_count >= TAVIK_MAX_META) return TAVIK_INVALID;
    char *k = copy_text(key);
    char *v = k != nullptr ? copy_text(value) : nullptr;
    if (v == nullptr) {
        mem_free(k);
        return TAVIK_NO_MEMORY;
    }
    T.meta[T.meta_count++] = tavik_meta{k, v};
    return TAVIK_OK;
}

int32_t tavik_train_begin(const char *code) {
    tavik::ensure_defaults();
    if (code == nullptr || code[0] == '\0') return TAVIK_INVALID;
    const size_t n = strnlen(code, 8);
    if (n > 7 || T.lang_count > 63) return TAVIK_INVALID;
    tavik_train_lang &l = T.langs[T.lang_count];
    l = tavik_train_lang{};
    std::memcpy(l.code, code, n);
    T.current = T.lang_count++;
    return TAVIK_OK;
}

int32_t tavik_train_feed(const char *text) {
    if (text == nullptr || T.current < 0) return TAVIK_INVALID;
    tavik_train_lang &l = T.langs[T.current];
    const uint64_t n = std::strlen(text);
    const uint64_t need = l.text_len + n + 2;
    if (l.text_cap < need) {
        uint64_t cap = l.text_cap == 0 ? 4096 : l.text_cap;
        while (cap < need) cap *= 2;
        auto *grown = static_cast<char *>(tavik::mem_realloc(l.text, cap));
        if (grown == nullptr) return TAVIK_NO_MEMORY;
        l.text = grown;
        l.text_cap = cap;
    }
    std::memcpy(l.text + l.text_len, text, n);
    l.text[l.text_len + n] = '\n';
    l.text_len += n + 1;
    l.text[l.text_len] = '\0';
    return TAVIK_OK;
}

int32_t tavik_train_end_language(void) {
    tavik::ensure_defaults();
    if (T.current < 0) return TAVIK_INVALID;
    tavik_train_lang &l = T.langs[T.current];
    if (l.text == nullptr || l.text_len == 0) {
        T.current = -1;
        return TAVIK_OK;
    }
    // Counted, ranked and cut in the map; only the n-grams that stay are
    // copied into the language's list.
    if (G.max_ngram_length < 1) return TAVIK_INVALID;
    tavik::TextModel text;
    char error[256];
    if (tavik::text_model_from_meta(T.meta, T.meta_count, &text, error) != TAVIK_OK)
        return TAVIK_INVALID;
    tavik::StrMap map;
    int32_t rc = tavik::strmap_count_model(map, l.text, l.text_len, G.max_ngram_length, text);
    if (rc == TAVIK_OK) rc = tavik::strmap_rank(map, G.occurance_threshold, G.max_distribution);
    if (rc == TAVIK_OK) rc = tavik::strmap_copy_ranked(map, &l.ngrams);
    tavik::strmap_release(map);
    if (rc != TAVIK_OK) return rc;
    mem_free(l.text);
    l.text = nullptr;
    l.text_len = 0;
    l.text_cap = 0;
    T.current = -1;
    return TAVIK_OK;
}

int32_t tavik_train_write_profile(const char *path) {
    tavik::ensure_defaults();
    if (path == nullptr) return TAVIK_INVALID;
    if (T.current >= 0) {
        const int32_t rc = tavik_train_end_language();
        if (rc != TAVIK_OK) return rc;
    }
    if (T.lang_count == 0) return TAVIK_INVALID;
    // The record borrows every list and text of T; nothing is copied and
    // nothing is released when it goes out of scope.
    tavik_profile p{};
    p.version = 1;
    p.flags = 1;
    p.max_ngram_length = G.max_ngram_length;
    p.max_distribution = G.max_distribution;
    p.occurance_threshold = G.occurance_threshold;
    p.lang_count = T.lang_count;
    for (int32_t j = 0; j < T.lang_count; ++j) {
        std::memcpy(p.langs[j].code, T.langs[j].code, sizeof p.langs[j].code);
        p.langs[j].ngrams = T.langs[j].ngrams;
    }
    p.meta_count = T.meta_count;
    for (int32_t i = 0; i < T.meta_count; ++i) p.meta[i] = T.meta[i];
    return tavik_profile_write(&p, path);
}

}  // extern "C"
