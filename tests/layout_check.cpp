// SPDX-License-Identifier: MIT
// layout_check.cpp - the public records keep their field order and widths.
//
// Checked by the compiler alone: the build compiles this file and fails on
// any change of layout.
#include <cstddef>

#include "tavik/tavik_api.h"

#define FIELDS_IN_ORDER(T, a, b)                                                                   \
    static_assert(offsetof(T, a) < offsetof(T, b), #T ": " #a " before " #b)

using NgramRec = struct tavik_ngram;
FIELDS_IN_ORDER(NgramRec, text, count);
FIELDS_IN_ORDER(NgramRec, count, order);
static_assert(sizeof(NgramRec) == 16);
FIELDS_IN_ORDER(tavik_ngram_list, items, count);
FIELDS_IN_ORDER(tavik_ngram_list, count, capacity);
static_assert(sizeof(tavik_ngram_list) == 24);

FIELDS_IN_ORDER(tavik_lang, code, ngrams);
FIELDS_IN_ORDER(tavik_lang, ngrams, lookup_keys);
FIELDS_IN_ORDER(tavik_lang, lookup_keys, lookup_ranks);
FIELDS_IN_ORDER(tavik_lang, lookup_ranks, lookup_size);
FIELDS_IN_ORDER(tavik_lang, lookup_size, lookup_used);
static_assert(sizeof(tavik_lang::code) == 8);
FIELDS_IN_ORDER(tavik_meta, key, value);
FIELDS_IN_ORDER(tavik_profile, version, flags);
FIELDS_IN_ORDER(tavik_profile, flags, max_ngram_length);
FIELDS_IN_ORDER(tavik_profile, max_ngram_length, max_distribution);
FIELDS_IN_ORDER(tavik_profile, max_distribution, occurance_threshold);
FIELDS_IN_ORDER(tavik_profile, occurance_threshold, lang_count);
FIELDS_IN_ORDER(tavik_profile, lang_count, langs);
FIELDS_IN_ORDER(tavik_profile, langs, meta_count);
FIELDS_IN_ORDER(tavik_profile, meta_count, meta);
FIELDS_IN_ORDER(tavik_profile, meta, id);
static_assert(sizeof(tavik_profile::langs) == 64 * sizeof(tavik_lang));
static_assert(sizeof(tavik_profile::meta) == 64 * sizeof(tavik_meta));
static_assert(sizeof(tavik_profile::id) == 64);

FIELDS_IN_ORDER(tavik_result, code, distance);
FIELDS_IN_ORDER(tavik_result, distance, confidence);
static_assert(sizeof(tavik_result::code) == 8);
FIELDS_IN_ORDER(tavik_state, profile, min_ngrams);
FIELDS_IN_ORDER(tavik_state, min_ngrams, min_margin);
FIELDS_IN_ORDER(tavik_state, min_margin, size_penalty);
FIELDS_IN_ORDER(tavik_state, size_penalty, max_ngram_length);
FIELDS_IN_ORDER(tavik_state, max_ngram_length, max_distribution);
FIELDS_IN_ORDER(tavik_state, max_distribution, occurance_threshold);
FIELDS_IN_ORDER(tavik_state, occurance_threshold, query);
FIELDS_IN_ORDER(tavik_state, query, query_valid);
FIELDS_IN_ORDER(tavik_state, query_valid, results);
FIELDS_IN_ORDER(tavik_state, results, result_count);
FIELDS_IN_ORDER(tavik_state, result_count, status);
FIELDS_IN_ORDER(tavik_state, status, error);
FIELDS_IN_ORDER(tavik_state, error, json);
FIELDS_IN_ORDER(tavik_state, json, explain_json);
static_assert(sizeof(tavik_state::results) == 64 * sizeof(tavik_result));
static_assert(sizeof(tavik_state::error) == 256);

FIELDS_IN_ORDER(tavik_train_lang, code, text);
FIELDS_IN_ORDER(tavik_train_lang, text, text_len);
FIELDS_IN_ORDER(tavik_train_lang, text_len, text_cap);
FIELDS_IN_ORDER(tavik_train_lang, text_cap, ngrams);
FIELDS_IN_ORDER(tavik_train_state, langs, lang_count);
FIELDS_IN_ORDER(tavik_train_state, lang_count, current);
FIELDS_IN_ORDER(tavik_train_state, current, meta);
FIELDS_IN_ORDER(tavik_train_state, meta, meta_count);
static_assert(sizeof(tavik_train_state::langs) == 64 * sizeof(tavik_train_lang));
