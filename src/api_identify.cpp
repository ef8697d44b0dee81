// SPDX-License-Identifier: MIT
// api_identify.cpp - identification through the process-wide state, the
// result accessors and the documents.  The engine (engine.h) does the work.

#include <cstdint>
#include <cstring>

#include "api_internal.h"

using tavik::G;

namespace {

bool valid_result(int32_t index) { return index >= 0 && index < G.result_count; }

}  // namespace

extern "C" {

int32_t tavik_identify(const char *text) {
    tavik::ensure_defaults();
    return tavik::engine_identify(tavik::global_engine(), text,
                                  text != nullptr ? std::strlen(text) : 0);
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

const char *tavik_result_json(void) { return tavik::engine_result_json(tavik::global_engine()); }

const char *tavik_explain(int32_t index) {
    return tavik::engine_explain(tavik::global_engine(), index);
}

}  // extern "C"
