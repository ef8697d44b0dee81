// SPDX-License-Identifier: MIT
// api_query.cpp - the query of the designed interface: the ranked n-grams
// of the last extracted text, in storage that lives beside G and is reused
// by every extraction (engine.h); tavik_free_profile gives it back.

#include <cstring>

#include "api_internal.h"

using tavik::G;

namespace tavik {

QueryScratch g_scratch;

namespace {

bool valid_position(int32_t position) {
    return G.query_valid != 0 && position >= 0 && static_cast<uint64_t>(position) < G.query.count;
}

}  // namespace

void query_release() {
    query_clear(G);
    scratch_release(g_scratch);
}

}  // namespace tavik

extern "C" {

int32_t tavik_extract_ngrams(const char *text) {
    tavik::ensure_defaults();
    if (text == nullptr) {
        tavik::query_clear(G);
        tavik::set_error("null text");
        return TAVIK_INVALID;
    }
    return tavik::engine_extract(tavik::global_engine(), text, std::strlen(text));
}

int32_t tavik_ngram_count(void) {
    return G.query_valid != 0 ? static_cast<int32_t>(G.query.count) : 0;
}

const char *tavik_ngram(int32_t position) {
    return tavik::valid_position(position) ? G.query.items[position].text : nullptr;
}

int32_t tavik_ngram_rank(int32_t position) {
    return tavik::valid_position(position) ? position + 1 : 0;
}

}  // extern "C"
