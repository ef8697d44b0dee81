// api_query.cpp - the query: the ranked n-grams of the last extracted text.

#include "api_internal.h"

using tavik::G;

namespace {

bool valid_position(int32_t position) {
    return G.query_valid != 0 && position >= 0 && static_cast<uint64_t>(position) < G.query.count;
}

}  // namespace

extern "C" {

int32_t tavik_extract_ngrams(const char *text) {
    tavik::ensure_defaults();
    tavik_ngram_list_free(&G.query);
    G.query_valid = 0;
    if (text == nullptr) {
        tavik::set_error("null text");
        return TAVIK_INVALID;
    }
    const int32_t rc = tavik_ngram_extract(text, G.max_ngram_length, &G.query);
    if (rc != TAVIK_OK) {
        tavik::set_error(rc == TAVIK_BAD_UTF8 ? "bad utf8" : "extract failed");
        return rc;
    }
    tavik_ngram_prune_and_rank(&G.query, G.occurance_threshold, G.max_distribution);
    G.query_valid = 1;
    return TAVIK_OK;
}

int32_t tavik_ngram_count(void) {
    return G.query_valid != 0 ? static_cast<int32_t>(G.query.count) : 0;
}

const char *tavik_ngram(int32_t position) {
    return valid_position(position) ? G.query.items[position].text : nullptr;
}

int32_t tavik_ngram_rank(int32_t position) { return valid_position(position) ? position + 1 : 0; }

}  // extern "C"
