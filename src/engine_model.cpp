// SPDX-License-Identifier: MIT
// engine_model.cpp - models: a profile and its index, shared by reference.

#include <new>

#include "alloc.h"
#include "engine.h"

namespace tavik {

int32_t model_from_profile(tavik_profile *profile, tavik_model **out) {
    TextModel text;
    char error[256];
    if (text_model_from_meta(profile->meta, profile->meta_count, &text, error) != TAVIK_OK) {
        tavik_profile_free(profile);
        return TAVIK_BAD_PROFILE;
    }
    Calibration calib;
    const char *bad_key = nullptr;
    if (!calibration_from_meta(profile->meta, profile->meta_count, &calib, &bad_key)) {
        tavik_profile_free(profile);
        return TAVIK_BAD_PROFILE;
    }
    // The Unicode table is built here rather than on the first text.
    if (!text.designed() && unicode_table() == nullptr) {
        tavik_profile_free(profile);
        return TAVIK_NO_MEMORY;
    }
    ProfileIndex *index = index_build(*profile);
    void *mem = index != nullptr ? mem_malloc(sizeof(tavik_model)) : nullptr;
    if (mem == nullptr) {
        index_free(index);
        tavik_profile_free(profile);
        return TAVIK_NO_MEMORY;
    }
    *out = new (mem) tavik_model{{1}, profile, index, text, calib};
    return TAVIK_OK;
}

void model_retain(tavik_model *model) { model->refs.fetch_add(1, std::memory_order_relaxed); }

// The last reference's release must see every use the others made of the
// model (acquire), and each release must publish its own (release).
void model_release(tavik_model *model) {
    if (model->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    index_free(model->index);
    tavik_profile_free(model->profile);
    model->~tavik_model();
    mem_free(model);
}

}  // namespace tavik
