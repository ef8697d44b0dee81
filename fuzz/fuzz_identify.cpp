// SPDX-License-Identifier: MIT
// fuzz_identify.cpp - identification and both JSON documents against small
// fixed profiles, with every setting taken from the input.
//
// Input: byte 0 picks the profile (bits 0-1) and may drop it (bit 2); byte 1
// min_ngrams (signed); byte 2 min_margin in quarter percent (signed); byte 3
// bit 0 the size penalty, bit 1 a null text; byte 4 max_ngram_length
// (signed); bytes 5-6 max_distribution (signed 16-bit, little-endian); byte
// 7 occurance_threshold (signed); the rest the text.
//
// Checked beyond the absence of faults: the status, the error text and the
// recorded status follow the outcome table; results are sorted, their
// distances are those of a plain reference sum, margin and confidence
// follow from the two best; the query's ranks are 1..count with positive,
// sorted counts; both documents parse back (yyjson) and agree with the
// accessors, and asking twice gives the same bytes.  A session on a model
// of the same profile, under the same settings, gives the same outcome for
// the text up to its first NUL byte; and for the whole text, the outcome
// of the text with every NUL byte made a space.  The text's lines (cut at
// "\n", with a NULL text after each line when the null-text bit is set)
// identified in one batch give, line by line, the outcomes of the lines
// identified alone, and the batch's session ends as the last line leaves
// one.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>
#include <yyjson.h>

#include "fuzz_util.h"
#include "reference.h"
#include "tavik/tavik_api.h"
#include "tavik/tavik_session.h"
#include "tavik/utf8.h"

namespace {

using tavik_fuzz::check;
using tavik_fuzz::put16;
using tavik_fuzz::put32;
using tavik_fuzz::signed8;

// ---------------------------------------------------------------- profiles

// The ranked n-grams of a sample text, as training would keep them.
std::vector<std::string> ngrams_of(const char *text, int32_t keep) {
    tavik_ngram_list list{};
    check(tavik_ngram_extract(text, 5, &list) == TAVIK_OK, "sample text rejected");
    tavik_ngram_prune_and_rank(&list, 0, keep);
    std::vector<std::string> out;
    for (uint64_t k = 0; k < list.count; ++k) out.emplace_back(list.items[k].text);
    tavik_ngram_list_free(&list);
    return out;
}

using Lang = std::pair<std::string, std::vector<std::string>>;

std::string blob(const std::vector<Lang> &langs) {
    std::string b = "TAVIK001";
    for (uint32_t v : {1u, 1u, 5u, 4000u, 0u, static_cast<uint32_t>(langs.size()), 0u}) put32(b, v);
    for (const auto &[code, grams] : langs) {
        b += static_cast<char>(code.size());
        b += code;
        put32(b, static_cast<uint32_t>(grams.size()));
        for (size_t k = 0; k < grams.size(); ++k) {
            put16(b, static_cast<uint32_t>(grams[k].size()));
            b += grams[k];
            put32(b, static_cast<uint32_t>(grams.size() - k));
        }
    }
    return b;
}

// Four profiles: three ordinary languages; one whose second code is not
// valid UTF-8 (the result document then becomes "{}"); none at all; and
// one code twice with the same n-grams (equal distance and code).
const std::vector<std::string> &profiles() {
    static const std::vector<std::string> all = [] {
        const auto eng = ngrams_of("the quick brown fox jumps over the lazy dog while the "
                                   "children are playing in the garden near the house",
                                   300);
        const auto deu = ngrams_of("der schnelle braune Fuchs springt über den faulen Hund "
                                   "während die Kinder im Garten neben dem Haus spielen",
                                   300);
        const auto fra = ngrams_of("le renard brun rapide saute par-dessus le chien paresseux "
                                   "pendant que les enfants jouent dans le jardin",
                                   300);
        const auto ell = ngrams_of("η γρήγορη καφέ αλεπού πηδά πάνω από τον τεμπέλη σκύλο", 300);
        return std::vector<std::string>{
            blob({{"eng", eng}, {"deu", deu}, {"fra", fra}}),
            blob({{"ell", ell}, {"\xff\xfe", fra}}),
            blob({}),
            blob({{"eng", eng}, {"eng", eng}}),
        };
    }();
    return all;
}

bool valid_utf8(const char *s) {
    const size_t n = std::strlen(s);
    for (size_t at = 0; at < n;) {
        uint32_t cp;
        const int32_t k =
            tavik_utf8_decode(reinterpret_cast<const unsigned char *>(s) + at, n - at, &cp);
        if (k <= 0) return false;
        at += static_cast<size_t>(k);
    }
    return true;
}

// The reference distance of `lang` from the current query under the
// current settings.
double reference_distance(const tavik_lang &lang) {
    const tavik_state *g = tavik_get_state();
    const int64_t penalty = g->max_distribution > 0 ? g->max_distribution : 4000;
    return tavik_ref::distance(lang, tavik_ref::texts_of(g->query), g->size_penalty != 0, penalty);
}

// ---------------------------------------------------------------- documents

struct Doc {
    yyjson_doc *doc;
    explicit Doc(const char *text) : doc(yyjson_read(text, std::strlen(text), 0)) {
        check(doc != nullptr, "document is not valid JSON");
    }
    ~Doc() { yyjson_doc_free(doc); }
    Doc(const Doc &) = delete;
    Doc &operator=(const Doc &) = delete;
    yyjson_val *root() const { return yyjson_doc_get_root(doc); }
};

// The members of `obj`, which must be exactly `keys` in this order.
std::vector<yyjson_val *> members(yyjson_val *obj, const std::vector<const char *> &keys) {
    check(yyjson_is_obj(obj) && yyjson_obj_size(obj) == keys.size(), "wrong members");
    std::vector<yyjson_val *> vals;
    yyjson_obj_iter it = yyjson_obj_iter_with(obj);
    for (const char *key : keys) {
        yyjson_val *k = yyjson_obj_iter_next(&it);
        check(k != nullptr && yyjson_equals_str(k, key), "members out of order");
        vals.push_back(yyjson_obj_iter_get_val(k));
    }
    return vals;
}

bool is_int(yyjson_val *v, int64_t want) { return yyjson_is_int(v) && yyjson_get_sint(v) == want; }
bool is_real(yyjson_val *v, double want) { return yyjson_is_real(v) && yyjson_get_real(v) == want; }
bool is_str(yyjson_val *v, const char *want) {
    return yyjson_is_str(v) && yyjson_equals_str(v, want);
}

void check_result_document() {
    const std::string text = tavik_result_json();
    check(text == tavik_result_json(), "result document not repeatable");
    const int32_t n = tavik_result_count();
    bool codes_valid = true;
    for (int32_t i = 0; i < n; ++i) codes_valid = codes_valid && valid_utf8(tavik_result_code(i));
    if (!codes_valid) {
        check(text == "{}", "document with a code that is not UTF-8");
        return;
    }
    const Doc doc(text.c_str());
    const auto v = members(doc.root(), {"status", "best", "ngrams", "results"});
    const char *best = tavik_best_code();
    check(is_int(v[0], tavik_get_state()->status), "document: status");
    check(is_str(v[1], best != nullptr ? best : ""), "document: best");
    check(is_int(v[2], tavik_ngram_count()), "document: ngrams");
    check(yyjson_is_arr(v[3]) && yyjson_arr_size(v[3]) == static_cast<size_t>(n),
          "document: results");
    for (int32_t i = 0; i < n; ++i) {
        const auto r = members(yyjson_arr_get(v[3], static_cast<size_t>(i)),
                               {"code", "distance", "confidence"});
        check(is_str(r[0], tavik_result_code(i)) && is_real(r[1], tavik_result_distance(i)) &&
                  is_real(r[2], tavik_result_confidence(i)),
              "document: a result differs from the accessors");
    }
}

void check_explanation(int32_t index, double want_distance) {
    const std::string text = tavik_explain(index);
    check(text == tavik_explain(index), "explanation not repeatable");
    const tavik_state *g = tavik_get_state();
    const tavik_profile *p = g->profile;
    if (index < 0 || p == nullptr || index >= p->lang_count || g->query_valid == 0 ||
        !valid_utf8(p->langs[index].code)) {
        check(text == "{}", "explanation where none is due");
        return;
    }
    const tavik_lang &lang = p->langs[index];
    const Doc doc(text.c_str());
    const auto v = members(doc.root(), {"code", "distance", "ngrams"});
    check(is_str(v[0], lang.code), "explanation: code");
    check(is_real(v[1], want_distance), "explanation: distance");
    const int32_t count = tavik_ngram_count();
    const size_t listed = static_cast<size_t>(std::min(count, 64));
    check(yyjson_is_arr(v[2]) && yyjson_arr_size(v[2]) == listed, "explanation: ngrams");
    for (size_t k = 0; k < listed; ++k) {
        const auto e = members(yyjson_arr_get(v[2], k), {"ngram", "query_rank", "profile_rank"});
        const char *gram = tavik_ngram(static_cast<int32_t>(k));
        check(is_str(e[0], gram) && is_int(e[1], static_cast<int64_t>(k) + 1) &&
                  is_int(e[2], tavik_lang_lookup_rank(&lang, gram)),
              "explanation: an n-gram differs from the query and the profile");
    }
}

// ---------------------------------------------------------------- outcome

void check_query() {
    const tavik_state *g = tavik_get_state();
    const int32_t n = tavik_ngram_count();
    check(n == (g->query_valid != 0 ? static_cast<int32_t>(g->query.count) : 0), "query count");
    std::vector<bool> seen(static_cast<size_t>(n) + 1, false);
    for (int32_t i = 0; i < n; ++i) {
        const int32_t r = tavik_ngram_rank(i);
        check(r >= 1 && r <= n && !seen[static_cast<size_t>(r)], "ranks not a permutation");
        seen[static_cast<size_t>(r)] = true;
        const struct tavik_ngram &e = g->query.items[i];
        check(e.count > 0 && (i == 0 || g->query.items[i - 1].count >= e.count),
              "query counts not positive and sorted");
        check(g->max_distribution <= 0 || n <= g->max_distribution, "query longer than allowed");
        check(g->occurance_threshold <= 0 || e.count >= g->occurance_threshold,
              "query holds an n-gram below the threshold");
    }
}

const char *expected_error(int32_t rc) {
    switch (rc) {
    case TAVIK_OK:
        return "";
    case TAVIK_TOO_FEW_NGRAMS:
        return "too few ngrams";
    case TAVIK_AMBIGUOUS:
        return "ambiguous";
    case TAVIK_NO_PROFILE:
        return "no profile";
    case TAVIK_BAD_UTF8:
        return "bad utf8";
    case TAVIK_INVALID:
        return "null text";
    default:
        return nullptr;
    }
}

void check_results(int32_t rc) {
    const tavik_state *g = tavik_get_state();
    const tavik_profile *p = g->profile;
    const int32_t n = tavik_result_count();
    check(tavik_result_code(n) == nullptr && tavik_result_code(-1) == nullptr &&
              tavik_result_distance(n) == -1.0 && tavik_result_confidence(-1) == 0.0,
          "result answered out of range");
    if (rc != TAVIK_OK && rc != TAVIK_AMBIGUOUS) {
        check(n == 0, "results after a failure");
        check(tavik_best_code() == nullptr, "best code after a failure");
        return;
    }
    check(p != nullptr && n == p->lang_count, "not every language scored");
    // Every language's distance is the reference sum; the results hold the
    // same (code, distance) pairs, sorted.
    std::vector<std::pair<double, std::string>> want, got;
    for (int32_t i = 0; i < n; ++i) {
        want.emplace_back(reference_distance(p->langs[i]), p->langs[i].code);
        got.emplace_back(tavik_result_distance(i), tavik_result_code(i));
        check(std::isfinite(got.back().first) && got.back().first >= 0.0, "distance out of range");
        const double c = tavik_result_confidence(i);
        check(c >= 0.0 && c <= 1.0 && (i == 0 || c == 0.0), "confidence out of range");
    }
    check(std::is_sorted(got.begin(), got.end()), "results not sorted by distance, then code");
    std::sort(want.begin(), want.end());
    check(got == want, "a distance differs from the reference");
    if (n == 0) {
        check(rc == TAVIK_OK && tavik_best_code() == nullptr, "empty profile outcome");
        return;
    }
    double margin = 100.0, confidence = 1.0;
    if (n >= 2) {
        const double d1 = got[0].first, d2 = got[1].first;
        if (d2 > 0) {
            const double gap = (d2 - d1) / d2;
            margin = 100.0 * gap;
            if (d2 > 1e-12) confidence = std::clamp(gap, 0.0, 1.0);
        }
    }
    check(tavik_result_confidence(0) == confidence, "winner's confidence");
    const bool ambiguous = n >= 2 && margin < g->min_margin;
    check((rc == TAVIK_AMBIGUOUS) == ambiguous, "ambiguity does not follow the margin");
    const char *best = tavik_best_code();
    check(rc == TAVIK_OK ? best != nullptr && std::strcmp(best, got[0].second.c_str()) == 0
                         : best == nullptr,
          "best code");
}

// ---------------------------------------------------------------- sessions

std::string bits_of(double d) {
    uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    return std::to_string(b);
}

// Everything the designed interface shows of its last identification.
std::string global_outcome(int32_t rc) {
    std::string s = std::to_string(rc) + " " + std::to_string(tavik_get_state()->status) + " " +
                    tavik_last_error() + "\n";
    for (int32_t i = 0; i < tavik_ngram_count(); ++i) s += std::string(tavik_ngram(i)) + " ";
    for (int32_t i = 0; i < tavik_result_count(); ++i)
        s += std::string(tavik_result_code(i)) + ":" + bits_of(tavik_result_distance(i)) + ":" +
             bits_of(tavik_result_confidence(i)) + " ";
    const char *best = tavik_best_code();
    s += std::string("\n") + (best != nullptr ? best : "NULL") + "\n" + tavik_result_json();
    for (int32_t i = -1; i <= tavik_profile_language_count(); ++i)
        s += "\n" + std::string(tavik_explain(i));
    return s;
}

// The same of a session.
std::string session_outcome(tavik_session *ss, int32_t rc) {
    std::string s = std::to_string(rc) + " " + std::to_string(tavik_session_status(ss)) + " " +
                    tavik_session_last_error(ss) + "\n";
    for (int32_t i = 0; i < tavik_session_ngram_count(ss); ++i)
        s += std::string(tavik_session_ngram(ss, i)) + " ";
    for (int32_t i = 0; i < tavik_session_result_count(ss); ++i)
        s += std::string(tavik_session_result_code(ss, i)) + ":" +
             bits_of(tavik_session_result_distance(ss, i)) + ":" +
             bits_of(tavik_session_result_confidence(ss, i)) + " ";
    const char *best = tavik_session_best_code(ss);
    s += std::string("\n") + (best != nullptr ? best : "NULL") + "\n" +
         tavik_session_result_json(ss);
    for (int32_t i = -1; i <= tavik_session_language_count(ss); ++i)
        s += "\n" + std::string(tavik_session_explain(ss, i));
    return s;
}

// A session on a model of profile `which`, with the settings of the input.
struct Session {
    tavik_model *model = nullptr;
    tavik_session *s = nullptr;
    Session(const std::string &profile, const uint8_t *data) {
        check(tavik_model_open_memory(profile.data(), profile.size(), &model) == TAVIK_OK,
              "fixed profile rejected by the model");
        check(tavik_session_new(model, &s) == TAVIK_OK, "no session");
        tavik_session_set_min_ngrams(s, signed8(data[1]));
        tavik_session_set_min_margin(s, signed8(data[2]) / 4.0);
        tavik_session_set_size_penalty(s, data[3] & 1);
        tavik_session_set_max_ngram_length(s, signed8(data[4]));
        tavik_session_set_max_distribution(s, static_cast<int16_t>(data[5] | data[6] << 8));
        tavik_session_set_occurance_threshold(s, signed8(data[7]));
    }
    ~Session() {
        tavik_model_free(model);
        tavik_session_free(s);
    }
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;
};

void check_session(const std::string &profile, const uint8_t *data, const std::string &text,
                   const std::string &global) {
    Session a(profile, data);
    const size_t head = std::strlen(text.c_str());
    check(session_outcome(a.s, tavik_session_identify(a.s, text.data(), head)) == global,
          "session outcome differs from the designed interface");
    if (head == text.size()) return;
    std::string spaced = text;
    std::replace(spaced.begin(), spaced.end(), '\0', ' ');
    Session b(profile, data);
    check(session_outcome(a.s, tavik_session_identify(a.s, text.data(), text.size())) ==
              session_outcome(b.s, tavik_session_identify(b.s, spaced.data(), spaced.size())),
          "a NUL byte is not a separator");
}

// The ranking an outcome carries for the last text `ss` identified alone:
// its results, or for a too-short text with n-grams the ranking the
// n-gram minimum 0 gives (after which `ss` identifies the text again).
std::string alone_ranking(tavik_session *ss, int32_t rc, const char *text, uint64_t len,
                          int32_t min_ngrams) {
    const bool closest = rc == TAVIK_TOO_FEW_NGRAMS && tavik_session_ngram_count(ss) > 0;
    if (closest) {
        tavik_session_set_min_ngrams(ss, 0);
        tavik_session_identify(ss, text, len);
    }
    std::string s;
    for (int32_t i = 0; i < tavik_session_result_count(ss); ++i)
        s += std::string(tavik_session_result_code(ss, i)) + ":" +
             bits_of(tavik_session_result_distance(ss, i)) + ":" +
             bits_of(tavik_session_result_confidence(ss, i)) + " ";
    if (closest) {
        tavik_session_set_min_ngrams(ss, min_ngrams);
        tavik_session_identify(ss, text, len);
    }
    return s;
}

std::string outcome_ranking(const tavik_outcome &o) {
    std::string s;
    for (int32_t i = 0; i < o.result_count; ++i)
        s += std::string(o.results[i].code) + ":" + bits_of(o.results[i].distance) + ":" +
             bits_of(o.results[i].confidence) + " ";
    return s;
}

void check_batch(const std::string &profile, const uint8_t *data, const std::string &text,
                 bool with_null) {
    std::vector<const char *> texts;
    std::vector<uint64_t> lengths;
    for (size_t at = 0;;) {
        const size_t end = std::min(text.find('\n', at), text.size());
        texts.push_back(text.data() + at);
        lengths.push_back(end - at);
        if (with_null) {
            texts.push_back(nullptr);
            lengths.push_back(texts.size() % 2);  // both NULL texts: empty and refused
        }
        if (end == text.size()) break;
        at = end + 1;
    }
    Session batch(profile, data), alone(profile, data);
    std::vector<tavik_outcome> outcomes(texts.size());
    check(tavik_session_identify_batch(batch.s, texts.data(), lengths.data(), texts.size(),
                                       outcomes.data()) == TAVIK_OK,
          "batch refused");
    int32_t rc = TAVIK_OK;
    for (size_t k = 0; k < texts.size(); ++k) {
        const tavik_outcome &o = outcomes[k];
        rc = tavik_session_identify(alone.s, texts[k], lengths[k]);
        check(o.status == rc, "batch status differs");
        check(o.script == tavik_session_script(alone.s), "batch script differs");
        check(o.ngram_count == tavik_session_ngram_count(alone.s), "batch n-gram count differs");
        check(bits_of(o.probability) == bits_of(tavik_session_probability(alone.s)) &&
                  o.reliable == tavik_session_reliable(alone.s),
              "batch probability differs");
        check(outcome_ranking(o) ==
                  alone_ranking(alone.s, rc, texts[k], lengths[k], signed8(data[1])),
              "batch ranking differs");
        check(o.result_count > 0 ? std::strcmp(o.language, o.results[0].code) == 0 &&
                                       o.distance == o.results[0].distance
                                 : o.language[0] == '\0' && o.distance == -1.0,
              "batch language differs from its ranking");
    }
    check(session_outcome(batch.s, rc) == session_outcome(alone.s, rc),
          "batch leaves the session otherwise than its last text");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 8) return 0;
    const std::string &profile = profiles()[data[0] & 3];
    check(tavik_load_profile_memory(profile.data(), profile.size()) == TAVIK_OK,
          "fixed profile rejected");
    if ((data[0] & 4) != 0) tavik_free_profile();
    tavik_set_min_ngrams(signed8(data[1]));
    tavik_set_min_margin(signed8(data[2]) / 4.0);
    tavik_set_size_penalty(data[3] & 1);
    tavik_set_max_ngram_length(signed8(data[4]));
    tavik_set_max_distribution(static_cast<int16_t>(data[5] | data[6] << 8));
    tavik_set_occurance_threshold(signed8(data[7]));
    const std::string text(reinterpret_cast<const char *>(data) + 8, size - 8);
    const bool null_text = (data[3] & 2) != 0;

    const tavik_state *g = tavik_get_state();
    const int32_t rc = tavik_identify(null_text ? nullptr : text.c_str());
    const bool have_profile = g->profile != nullptr;
    int32_t want_rc;
    if (!have_profile)
        want_rc = TAVIK_NO_PROFILE;
    else if (null_text)
        want_rc = TAVIK_INVALID;
    else if (!valid_utf8(text.c_str()))
        want_rc = TAVIK_BAD_UTF8;
    else if (static_cast<int32_t>(g->query.count) < g->min_ngrams)
        want_rc = TAVIK_TOO_FEW_NGRAMS;
    else
        want_rc = rc == TAVIK_AMBIGUOUS ? TAVIK_AMBIGUOUS : TAVIK_OK;  // decided by the margin
    check(rc == want_rc, "unexpected status");
    check(std::strcmp(tavik_last_error(), expected_error(rc)) == 0, "wrong error text");
    check(g->status == (rc == TAVIK_INVALID ? TAVIK_NO_PROFILE : rc), "wrong recorded status");
    check(g->query_valid == (rc != TAVIK_BAD_UTF8 && have_profile && !null_text ? 1 : 0),
          "query validity");
    check_query();
    check_results(rc);

    check_result_document();
    const int32_t langs = tavik_profile_language_count();
    const tavik_profile *p = g->profile;
    for (int32_t i = -1; i <= langs; ++i) {
        double want = 0.0;
        if (p != nullptr && i >= 0 && i < langs && g->query_valid != 0)
            want = reference_distance(p->langs[i]);
        check_explanation(i, want);
    }
    if (have_profile && !null_text) check_session(profile, data, text, global_outcome(rc));
    if (have_profile) check_batch(profile, data, text, null_text);
    tavik_free_profile();
    return 0;
}
