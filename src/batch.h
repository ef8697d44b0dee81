// SPDX-License-Identifier: MIT
// batch.h - identifying several texts in one call (engine_batch.cpp), for
// tavik_session_identify_batch (api_batch.cpp).  Not installed.
#ifndef TAVIK_BATCH_H
#define TAVIK_BATCH_H

#include <cstdint>

#include "engine.h"

namespace tavik {

// Ranks every language the engine scores against the record's query into
// `out`, closest first, as identification with the n-gram minimum set to 0
// would rank them; the record is not touched.  Returns their number (0 for
// a profile without languages).  The query must be valid and its n-grams
// still in the engine's scratch.
int32_t engine_rank_closest(const Engine &e, tavik_result *out);

// Called after each text with the session holding that text's outcome.
struct BatchSink {
    void (*done)(void *ctx, uint64_t k, int32_t status);
    void *ctx;
};

// Identifies texts[k] (lengths[k] bytes) for k < n on the session, each as
// tavik_session_identify would, and tells `sink` after each.
void session_identify_each(tavik_session &s, const char *const *texts, const uint64_t *lengths,
                           uint64_t n, BatchSink sink);

}  // namespace tavik

#endif  // TAVIK_BATCH_H
