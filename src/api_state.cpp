// SPDX-License-Identifier: MIT
// api_state.cpp - the library state, its settings, the error text, version.

#include <cstring>

#include "api_internal.h"
#include "utf8_inline.h"

namespace tavik {

tavik_state G;
tavik_train_state T = {{}, 0, -1, {}, 0};

namespace {
int32_t once = 0;
}  // namespace

void ensure_defaults() {
    if (once != 0) return;
    once = 1;
    G.min_ngrams = kDefaultMinNgrams;
    G.min_margin = kDefaultMinMargin;
    G.size_penalty = kDefaultSizePenalty;
    G.max_ngram_length = kDefaultMaxNgramLength;
    G.max_distribution = kDefaultMaxDistribution;
    G.occurance_threshold = kDefaultOccuranceThreshold;
}

}  // namespace tavik

using tavik::ensure_defaults;
using tavik::G;

extern "C" {

const tavik_state *tavik_get_state(void) { return &G; }

const char *tavik_version(void) { return "1.0.0"; }

const char *tavik_last_error(void) { return G.error[0] != '\0' ? G.error : ""; }

void tavik_set_err(const char *message) { tavik::set_error(message); }

void tavik_set_min_ngrams(int32_t count) {
    ensure_defaults();
    G.min_ngrams = count;
}

void tavik_set_min_margin(double margin) {
    ensure_defaults();
    G.min_margin = margin;
}

void tavik_set_size_penalty(int32_t enabled) {
    ensure_defaults();
    G.size_penalty = enabled != 0 ? 1 : 0;
}

void tavik_set_max_ngram_length(int32_t length) {
    ensure_defaults();
    if (length > 0) G.max_ngram_length = length;
}

void tavik_set_max_distribution(int32_t count) {
    ensure_defaults();
    if (count > 0) G.max_distribution = count;
}

void tavik_set_occurance_threshold(int32_t count) {
    ensure_defaults();
    G.occurance_threshold = count < 0 ? 0 : count;
}

int32_t tavik_is_letter(int32_t cp) { return tavik::is_letter(static_cast<uint32_t>(cp)) ? 1 : 0; }

}  // extern "C"
