// SPDX-License-Identifier: MIT
// api_route.cpp - sessions on bundles: routing by dominant script, the
// candidate languages across members, and the bundle's documents.

#include <cstdio>
#include <cstring>
#include <new>
#include <string_view>

#include "alloc.h"
#include "model_file.h"
#include "scripts.h"
#include "session_route.h"

namespace tavik {

// Where the last text went: a member, a direct language, or nowhere.
struct SessionRoute {
    Candidates *only;    // per member; count 0 means every language unless restricted
    uint8_t *direct_ok;  // per direct language: a candidate
    bool restricted;     // candidates were named: a member with none serves nothing
    int32_t routed;      // member number, kRouteDirect - k, or kRouteNone
};

namespace {

const Routing &routing_of(const tavik_session *s) { return *s->model->routing; }

// Languages of member `m` the session scores; 0 when it serves nothing.
int32_t member_languages(const tavik_session *s, int32_t m) {
    const SessionRoute &sr = *s->route;
    if (sr.restricted) return sr.only[m].count;
    return routing_of(s).members[m].profile->lang_count;
}

Engine member_engine(tavik_session *s, int32_t m, const RouteNote *note) {
    const ModelMember &mm = routing_of(s).members[m];
    return Engine{s->st,   s->scratch, member_index(routing_of(s), m), &s->route->only[m],
                  mm.text, note};
}

RouteNote note_of(const tavik_session *s) {
    const int32_t routed = s->route->routed;
    return RouteNote{s->script, routed >= 0 ? routed : -1, routed <= kRouteDirect};
}

// The member the documents read: the one that identified, else the first.
int32_t document_member(const tavik_session *s) {
    return s->route->routed >= 0 ? s->route->routed : 0;
}

// The outcome of a text that no candidate member serves.
int32_t refuse(tavik_session *s, int32_t status, const char *message) {
    tavik_state &st = s->st;
    query_clear(st);
    st.result_count = 0;
    st.status = status;
    record_error(st, message);
    s->route->routed = kRouteNone;
    return status;
}

int32_t decide_by_script(tavik_session *s, int32_t k) {
    tavik_state &st = s->st;
    query_clear(st);
    st.profile = routing_of(s).members[0].profile;
    tavik_result &r = st.results[0];
    std::memcpy(r.code, routing_of(s).direct[k].code, sizeof r.code);
    r.distance = 0.0;
    r.confidence = 1.0;
    st.result_count = 1;
    st.status = TAVIK_OK;
    record_error(st, nullptr);
    s->route->routed = kRouteDirect - k;
    return TAVIK_OK;
}

// The first member that serves any candidate, or -1.
int32_t first_member(const tavik_session *s) {
    for (int32_t m = 0; m < routing_of(s).member_count; ++m)
        if (member_languages(s, m) > 0) return m;
    return -1;
}

// Session language `index` as (member, place among its scored languages),
// or (kRouteDirect - k, 0) for direct language k; false out of range.
bool locate(const tavik_session *s, int32_t index, int32_t *where, int32_t *place) {
    if (index < 0) return false;
    const Routing &r = routing_of(s);
    for (int32_t m = 0; m < r.member_count; ++m) {
        const int32_t n = member_languages(s, m);
        if (index < n) {
            *where = m;
            *place = index;
            return true;
        }
        index -= n;
    }
    for (int32_t k = 0; k < r.direct_count; ++k) {
        if (s->route->direct_ok[k] == 0) continue;
        if (index-- == 0) {
            *where = kRouteDirect - k;
            *place = 0;
            return true;
        }
    }
    return false;
}

}  // namespace

int32_t refuse_code(tavik_session *s, const char *why, std::string_view code) {
    char message[sizeof s->st.error];
    std::snprintf(message, sizeof message, "%s language code '%.*s'", why,
                  static_cast<int>(code.size() < 64 ? code.size() : 64), code.data());
    record_error(s->st, message);
    return TAVIK_INVALID;
}

int32_t dominant_script(const char *text, uint64_t len) {
    uint64_t counts[kScriptIds];
    int32_t dominant = -1;
    if (text_scripts(text, len, counts, &dominant) != 0) return -1;
    return dominant;
}

int32_t route_new(tavik_session *s) {
    const Routing *r = s->model->routing;
    if (r == nullptr) return TAVIK_OK;
    void *mem = mem_calloc(1, sizeof(SessionRoute));
    if (mem == nullptr) return TAVIK_NO_MEMORY;
    auto *sr = new (mem) SessionRoute{};
    s->route = sr;
    sr->only = static_cast<Candidates *>(
        mem_calloc(static_cast<size_t>(r->member_count), sizeof(Candidates)));
    sr->direct_ok = static_cast<uint8_t *>(mem_malloc(static_cast<size_t>(r->direct_count) + 1));
    if (sr->only == nullptr || sr->direct_ok == nullptr) {
        route_free(s);
        return TAVIK_NO_MEMORY;
    }
    std::memset(sr->direct_ok, 1, static_cast<size_t>(r->direct_count) + 1);
    sr->routed = 0;
    return TAVIK_OK;
}

void route_free(tavik_session *s) {
    SessionRoute *sr = s->route;
    if (sr == nullptr) return;
    mem_free(sr->only);
    mem_free(sr->direct_ok);
    sr->~SessionRoute();
    mem_free(sr);
    s->route = nullptr;
}

int32_t route_identify(tavik_session *s, const char *text, uint64_t len) {
    SessionRoute &sr = *s->route;
    const Routing &r = routing_of(s);
    if (text == nullptr) {
        s->script = -1;
        return engine_identify(member_engine(s, document_member(s), nullptr), text, len);
    }
    s->script = dominant_script(text, len);
    int32_t target = s->script >= 0 ? r.route[s->script] : first_member(s);
    if (target >= 0 && member_languages(s, target) == 0) target = kRouteNone;
    if (target <= kRouteDirect && sr.direct_ok[kRouteDirect - target] == 0) target = kRouteNone;
    if (target == kRouteNone) {
        // Text without letters that no member may take: as a designed
        // profile answers a text without n-grams, with no language to name.
        if (s->script < 0) return refuse(s, TAVIK_TOO_FEW_NGRAMS, "too few ngrams");
        return refuse(s, TAVIK_UNSUPPORTED_SCRIPT, "unsupported script");
    }
    if (target <= kRouteDirect) return decide_by_script(s, kRouteDirect - target);
    if (member_open(*s->model->routing, target) != TAVIK_OK)
        return refuse(s, TAVIK_NO_MEMORY, "out of memory");
    sr.routed = target;
    const ModelMember &member = r.members[target];
    s->st.profile = member.profile;
    const int32_t rc = engine_identify(member_engine(s, target, nullptr), text, len);
    session_record_calibration(*s, rc, member.calib, member_index(r, target), sr.only[target]);
    return rc;
}

// A member's answer is as sure as that member's calibration says.  A
// script one language writes decides alone: within the model nothing can
// be confused with it (every development text of such a script is right),
// so a calibrated bundle reports certainty there; a bundle whose members
// carry no calibration reports none, direct or not.
double route_probability(const tavik_session *s) {
    const Routing &r = routing_of(s);
    const int32_t routed = s->route->routed;
    if (routed >= 0) {
        const Calibration &calib = r.members[routed].calib;
        if (!calib.present || !s->calib_valid) return -1.0;
        return calibration_probability(calib, s->calib_input);
    }
    if (routed == kRouteNone || s->st.status != TAVIK_OK) return -1.0;
    for (int32_t m = 0; m < r.member_count; ++m)
        if (r.members[m].calib.present) return 1.0;
    return -1.0;
}

double route_reliable_mark(const tavik_session *s) {
    const int32_t routed = s->route->routed;
    return routed >= 0 ? routing_of(s).members[routed].calib.reliable : 1.0;
}

int32_t route_set_candidates(tavik_session *s, const char *codes) {
    const Routing &r = routing_of(s);
    SessionRoute &sr = *s->route;
    if (codes == nullptr || codes[0] == '\0') {
        for (int32_t m = 0; m < r.member_count; ++m) sr.only[m].count = 0;
        std::memset(sr.direct_ok, 1, static_cast<size_t>(r.direct_count) + 1);
        sr.restricted = false;
        return TAVIK_OK;
    }
    uint64_t chosen[kModelMaxMembers] = {};
    uint8_t direct[kModelMaxDirect] = {};
    std::string_view rest(codes);
    for (;;) {
        const size_t comma = rest.find(',');
        const std::string_view code = rest.substr(0, comma);
        bool named = false, repeated = false;
        for (int32_t m = 0; m < r.member_count; ++m) {
            const tavik_profile &p = *r.members[m].profile;
            for (int32_t l = 0; l < p.lang_count; ++l) {
                if (code != p.langs[l].code) continue;
                named = true;
                repeated |= (chosen[m] >> l & 1) != 0;
                chosen[m] |= uint64_t{1} << l;
            }
        }
        for (int32_t k = 0; k < r.direct_count; ++k) {
            if (code != r.direct[k].code) continue;
            named = true;
            repeated |= direct[k] != 0;
            direct[k] = 1;
        }
        if (!named) return refuse_code(s, "unknown", code);
        if (repeated) return refuse_code(s, "repeated", code);
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    for (int32_t m = 0; m < r.member_count; ++m) {
        Candidates &only = sr.only[m];
        only.count = 0;
        for (int32_t l = 0; l < r.members[m].profile->lang_count; ++l)
            if ((chosen[m] >> l & 1) != 0) only.langs[only.count++] = l;
    }
    std::memcpy(sr.direct_ok, direct, static_cast<size_t>(r.direct_count));
    sr.restricted = true;
    return TAVIK_OK;
}

int32_t route_language_count(const tavik_session *s) {
    int32_t n = 0;
    for (int32_t m = 0; m < routing_of(s).member_count; ++m) n += member_languages(s, m);
    for (int32_t k = 0; k < routing_of(s).direct_count; ++k) n += s->route->direct_ok[k];
    return n;
}

const char *route_language_code(const tavik_session *s, int32_t index) {
    int32_t where, place;
    if (!locate(s, index, &where, &place)) return nullptr;
    const Routing &r = routing_of(s);
    if (where <= kRouteDirect) return r.direct[kRouteDirect - where].code;
    const Candidates &only = s->route->only[where];
    const int32_t l = s->route->restricted ? only.langs[place] : place;
    return r.members[where].profile->langs[l].code;
}

const char *route_result_json(tavik_session *s) {
    const RouteNote note = note_of(s);
    return engine_result_json(member_engine(s, document_member(s), &note));
}

// A member's language is explained on the query the member cut; a direct
// language only for the text its script decided.
const char *route_explain(tavik_session *s, int32_t index) {
    const RouteNote note = note_of(s);
    const Engine e = member_engine(s, document_member(s), &note);
    int32_t where, place;
    const bool found = locate(s, index, &where, &place);
    if (found && where == s->route->routed && where >= 0) return engine_explain(e, place);
    if (found && where == s->route->routed && where <= kRouteDirect)
        return engine_explain_direct(e, routing_of(s).direct[kRouteDirect - where].code, s->script);
    return engine_explain(e, -1);  // "{}", and the last document released
}

Engine route_engine(tavik_session *s) { return member_engine(s, document_member(s), nullptr); }

const char *route_model_language_code(const Routing &r, int32_t index) {
    if (index < 0) return nullptr;
    for (int32_t m = 0; m < r.member_count; ++m) {
        const tavik_profile &p = *r.members[m].profile;
        if (index < p.lang_count) return p.langs[index].code;
        index -= p.lang_count;
    }
    return index < r.direct_count ? r.direct[index].code : nullptr;
}

}  // namespace tavik
