// SPDX-License-Identifier: MIT
// engine_lean_model.cpp - the profile of a model as its sessions read it.
//
// A session scores through the model's index and reads of the profile only
// its header, codes, meta pairs and each language's n-gram count.  The
// designed record's n-gram lists, texts and rank lookups cost several times
// the file's bytes and serve only the designed interface, so a model reads
// its profile without lookups, builds the index from the lists, and drops
// them.  What still asks for a language's rank of one text (explanations,
// and the one-at-a-time scoring of queries too long for exact sums) asks
// the index, which holds the same ranks.  A bundle's members are indexed
// only when a text first needs them.

#include <atomic>
#include <mutex>

#include "alloc.h"
#include "engine.h"
#include "model_file.h"
#include "profile_internal.h"

namespace tavik {

double index_distance(const ProfileIndex *index, const tavik_lang &lang, int32_t l,
                      const tavik_ngram_list &query, int32_t size_penalty, int32_t penalty) {
    return out_of_place_distance(
        query.count, lang.ngrams.count, size_penalty, penalty,
        [&](uint64_t k) { return index_rank(index, l, query.items[k].text); });
}

int32_t lean_profile_index(tavik_profile &profile, ProfileIndex **out) {
    *out = index_build(profile);
    if (*out == nullptr) return TAVIK_NO_MEMORY;
    profile_drop_ngrams(profile);
    return TAVIK_OK;
}

int32_t rank_in(const ProfileIndex *index, const tavik_lang &lang, int32_t l, const char *text) {
    return lang_is_lean(lang) ? index_rank(index, l, text) : tavik_lang_lookup_rank(&lang, text);
}

double distance_to(const ProfileIndex *index, const tavik_lang &lang, int32_t l,
                   const tavik_ngram_list &query, int32_t size_penalty, int32_t penalty) {
    return lang_is_lean(lang) ? index_distance(index, lang, l, query, size_penalty, penalty)
                              : calc_distance(lang, query, size_penalty, penalty);
}

namespace {

// Serialises the building of members' indexes; readers of a built index
// never take it.
std::mutex g_member_lock;

}  // namespace

const ProfileIndex *member_index(const Routing &routing, int32_t m) {
    return std::atomic_ref<ProfileIndex *>(routing.members[m].index)
        .load(std::memory_order_acquire);
}

int32_t member_open(Routing &routing, int32_t m) {
    if (member_index(routing, m) != nullptr) return TAVIK_OK;
    const std::lock_guard<std::mutex> hold(g_member_lock);
    ModelMember &member = routing.members[m];
    if (member.index != nullptr) return TAVIK_OK;
    // The bytes were validated when the bundle was read: only memory can
    // fail here.  Once the lists are read the bytes go, before the index
    // build's scratch is allocated; lists whose index could not be built
    // are kept for the next try.
    if (member.lists == nullptr) {
        const int32_t rc = profile_load_unindexed(member.bytes, member.size, &member.lists);
        if (rc != TAVIK_OK) return rc;
        routing_drop_member_bytes(routing, m);
    }
    ProfileIndex *index = index_build(*member.lists);
    if (index == nullptr) return TAVIK_NO_MEMORY;
    tavik_profile_free(member.lists);
    member.lists = nullptr;
    std::atomic_ref<ProfileIndex *>(member.index).store(index, std::memory_order_release);
    return TAVIK_OK;
}

}  // namespace tavik
