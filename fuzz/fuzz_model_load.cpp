// SPDX-License-Identifier: MIT
// fuzz_model_load.cpp - the model reader (bundles and plain profiles) on
// arbitrary bytes.
//
// Whatever the bytes, opening a model must answer OK, BAD_PROFILE or
// NO_MEMORY without touching memory it does not own, and a refused bundle
// must name a fault inside the bytes it was given.  An accepted bundle must
// hold its routing invariants (every script goes to one existing member or
// direct language, the languages add up), and a session on it must route
// texts of several scripts to an outcome the routing allows.

#include <cstdint>
#include <cstring>
#include <string>

#include "engine.h"
#include "fuzz_util.h"
#include "model_file.h"
#include "tavik/tavik_session.h"

namespace {

using tavik_fuzz::check;

void check_routing(const tavik::Routing &r) {
    check(r.member_count >= 1 && r.member_count <= 64, "member count outside 1..64");
    check(r.direct_count >= 0 && r.direct_count <= 1024, "direct count outside 0..1024");
    int32_t langs = r.direct_count;
    for (int32_t m = 0; m < r.member_count; ++m) {
        check(r.members[m].profile != nullptr, "member without a profile");
        langs += r.members[m].profile->lang_count;
    }
    check(langs == r.lang_count, "languages do not add up");
    int32_t served = 0;
    for (int32_t s = 0; s < tavik::kScriptIds; ++s) {
        const int16_t to = r.route[s];
        if (to == tavik::kRouteNone) continue;
        ++served;
        check(s >= 3, "Unknown, Common or Inherited routed");
        if (to >= 0) {
            check(to < r.member_count, "route to a member that does not exist");
        } else {
            const int32_t k = tavik::kRouteDirect - to;
            check(k >= 0 && k < r.direct_count, "route to a direct entry that does not exist");
            check(r.direct[k].script == s, "direct entry names another script");
        }
    }
    check(served >= r.member_count + r.direct_count, "a member or direct entry serves nothing");
    for (int32_t k = 0; k < r.direct_count; ++k) {
        const size_t n = strnlen(r.direct[k].code, sizeof r.direct[k].code);
        check(n >= 1 && n <= 7, "direct code of the wrong length");
    }
}

constexpr const char *kTexts[] = {
    "the quick brown fox jumps over the lazy dog",
    "Съешь же ещё этих мягких французских булок",
    "例如，Debian 是第一种使用包管理系统的 Linux 发",
    "שלום עולם",
    "ქართული ენა",
    "12345 !!!",
    "\xff\xfe bad",
};

void check_sessions(tavik_model *model) {
    tavik_session *s = nullptr;
    const int32_t rc = tavik_session_new(model, &s);
    check(rc == TAVIK_OK || rc == TAVIK_NO_MEMORY, "session status");
    if (s == nullptr) return;
    for (const char *text : kTexts) {
        const int32_t got = tavik_session_identify(s, text, std::strlen(text));
        check(got >= TAVIK_OK && got <= TAVIK_UNSUPPORTED_SCRIPT && got != TAVIK_NO_PROFILE &&
                  got != TAVIK_BAD_PROFILE,
              "identify status");
        check(got != TAVIK_UNSUPPORTED_SCRIPT || model->routing != nullptr,
              "one profile refused a script");
        check(tavik_session_result_count(s) <= TAVIK_MAX_LANGS, "too many results");
        check(tavik_session_result_json(s)[0] == '{', "result document");
        for (int32_t k = 0; k < tavik_session_language_count(s) && k < 4; ++k)
            check(tavik_session_explain(s, k)[0] == '{', "explanation document");
    }
    const int32_t count = tavik_model_language_count(model);
    for (int32_t k = 0; k < count; ++k)
        check(tavik_model_language_code(model, k) != nullptr, "language without a code");
    if (count > 0) {
        const std::string first = tavik_model_language_code(model, 0);
        if (first.find(',') == std::string::npos && !first.empty())
            check(tavik_session_set_candidates(s, first.c_str()) == TAVIK_OK,
                  "a model language refused as candidate");
        tavik_session_identify(s, kTexts[0], std::strlen(kTexts[0]));
    }
    tavik_session_free(s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    tavik::Routing *r = nullptr;
    tavik::ModelFault fault;
    const int32_t rc = tavik::model_file_read(data, size, &r, &fault);
    check(rc == TAVIK_OK || rc == TAVIK_BAD_PROFILE || rc == TAVIK_NO_MEMORY, "unknown status");
    check((rc == TAVIK_OK) == (r != nullptr), "result location does not match the status");
    if (rc == TAVIK_BAD_PROFILE && tavik::is_model_file(data, size))
        check(fault.offset <= tavik::kModelHeaderBytes + tavik::kModelMaxPayload, "fault offset");
    if (r != nullptr) {
        check_routing(*r);
        tavik::routing_free(r);
    }

    tavik_model *model = nullptr;
    const int32_t mrc = tavik_model_open_memory(data, size, &model);
    check(mrc == TAVIK_OK || mrc == TAVIK_BAD_PROFILE || mrc == TAVIK_NO_MEMORY, "open status");
    check((mrc == TAVIK_OK) == (model != nullptr), "model location does not match the status");
    if (tavik::is_model_file(data, size))
        check(mrc == rc || mrc == TAVIK_NO_MEMORY || rc == TAVIK_NO_MEMORY,
              "reader and model disagree");
    if (model != nullptr) check_sessions(model);
    tavik_model_free(model);
    return 0;
}
