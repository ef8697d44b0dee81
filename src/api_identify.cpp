// api_identify.cpp - identification through the process-wide state, and the
// result accessors.  The scoring itself is in score.cpp (plain) and its fast
// paths.

#include <cstdint>

#include "api_internal.h"
#include "result_sort.h"
#include "score.h"

using tavik::G;

namespace {

bool valid_result(int32_t index) { return index >= 0 && index < G.result_count; }

}  // namespace

extern "C" {

int32_t tavik_identify(const char *text) {
    tavik::ensure_defaults();
    G.result_count = 0;
    G.status = TAVIK_NO_PROFILE;
    if (G.profile == nullptr) {
        tavik::set_error("no profile");
        return TAVIK_NO_PROFILE;
    }
    if (text == nullptr) {
        tavik::set_error("null text");
        return TAVIK_INVALID;
    }
    const int32_t rc = tavik_extract_ngrams(text);
    if (rc != TAVIK_OK) {
        G.status = rc;
        return rc;
    }
    if (static_cast<int32_t>(G.query.count) < G.min_ngrams) {
        G.status = TAVIK_TOO_FEW_NGRAMS;
        tavik::set_error("too few ngrams");
        return TAVIK_TOO_FEW_NGRAMS;
    }
    const tavik_profile &p = *G.profile;
    double distances[TAVIK_MAX_LANGS];
    tavik::index_score(tavik::g_index, p, distances);
    tavik::sort_results(p, distances, tavik::index_code_order(tavik::g_index), G.results);
    G.result_count = p.lang_count;
    const double margin = tavik::rank_results(G.results, G.result_count);
    if (G.result_count >= 2 && margin < G.min_margin) {
        G.status = TAVIK_AMBIGUOUS;
        tavik::set_error("ambiguous");
        return TAVIK_AMBIGUOUS;
    }
    tavik::set_error(nullptr);
    G.status = TAVIK_OK;
    return TAVIK_OK;
}

int32_t tavik_result_count(void) { return G.result_count; }

const char *tavik_result_code(int32_t index) {
    return valid_result(index) ? G.results[index].code : nullptr;
}

double tavik_result_distance(int32_t index) {
    return valid_result(index) ? G.results[index].distance : -1.0;
}

double tavik_result_confidence(int32_t index) {
    return valid_result(index) ? G.results[index].confidence : 0.0;
}

const char *tavik_best_code(void) {
    return G.status == TAVIK_OK && G.result_count > 0 ? G.results[0].code : nullptr;
}

}  // extern "C"
