// SPDX-License-Identifier: MIT
// test_relatives.cpp - close relatives ordered by likelihood: which groups
// and word lists a profile may name, and the order, confidence and status
// they give, the same through the designed interface, a model and a bundle
// member.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "model_file.h"
#include "tavik/tavik_api.h"
#include "tavik/tavik_session.h"
#include "testutil.h"

using namespace tavik_test;

namespace {

using Counts = std::vector<std::pair<std::string, uint32_t>>;
using Lang = std::pair<std::string, Counts>;

using Pairs = std::vector<std::pair<std::string, std::string>>;

// A profile of one-letter n-grams (max_ngram_length 1) with the stored
// counts given, a tavik.relatives pair unless `relatives` is empty, and
// the `extra` meta pairs.
std::string counted_profile(const std::vector<Lang> &langs, const std::string &relatives,
                            const Pairs &extra = {}) {
    Blob b;
    b.header(static_cast<uint32_t>(langs.size()),
             (relatives.empty() ? 0 : 1) + static_cast<uint32_t>(extra.size()), 1, 1, 1, 4000, 0);
    if (!relatives.empty()) b.text16("tavik.relatives").text16(relatives);
    for (const auto &[key, value] : extra) b.text16(key).text16(value);
    for (const auto &[code, counts] : langs) {
        b.u8(static_cast<uint32_t>(code.size()))
            .raw(code)
            .u32(static_cast<uint32_t>(counts.size()));
        for (const auto &[text, count] : counts) b.text16(text).u32(count);
    }
    return b.bytes();
}

// "aaa" and "bbb" each swap two of the text's ranks, so their distances tie
// and the codes order them; "bbb" makes the text's counts likelier.  "ccc"
// shares nothing with the text.
const std::vector<Lang> kLangs = {
    {"aaa", {{"b", 100}, {"a", 90}, {"c", 20}, {"d", 10}}},
    {"bbb", {{"a", 100}, {"b", 75}, {"d", 30}, {"c", 29}}},
    {"ccc", {{"x", 1}, {"y", 1}}},
};
const char *const kText = "a a a a b b b c c d";  // ranks a b c d
const std::vector<std::pair<std::string, double>> kTextCounts = {
    {"a", 4}, {"b", 3}, {"c", 2}, {"d", 1}};

// The text's cross-entropy under stored counts (all one-letter n-grams
// share one distribution).
double entropy(const Counts &counts) {
    double total = 0;
    for (const auto &[text, count] : counts) total += count;
    double e = 0;
    for (const auto &[t, k] : kTextCounts)
        for (const auto &[text, count] : counts)
            if (text == t) e -= k * std::log(count / total);
    return e;
}

struct Outcome {
    int32_t rc = -1;
    std::vector<std::string> codes;
    std::vector<double> distances;
    double confidence = 0;
};

Outcome designed(const std::string &blob, double min_margin) {
    Outcome o;
    load(blob);
    tavik_set_min_ngrams(0);
    tavik_set_min_margin(min_margin);
    o.rc = tavik_identify(kText);
    for (int32_t k = 0; k < tavik_result_count(); ++k) {
        o.codes.emplace_back(tavik_result_code(k));
        o.distances.push_back(tavik_result_distance(k));
    }
    o.confidence = tavik_result_confidence(0);
    tavik_free_profile();
    tavik_set_min_ngrams(40);
    tavik_set_min_margin(2.0);
    tavik_set_max_ngram_length(5);
    return o;
}

Outcome session(const std::string &bytes, double min_margin) {
    Outcome o;
    Opened m(bytes);
    if (m.session == nullptr) return o;
    tavik_session_set_min_ngrams(m.session, 0);
    tavik_session_set_min_margin(m.session, min_margin);
    o.rc = m.identify(kText);
    for (int32_t k = 0; k < tavik_session_result_count(m.session); ++k) {
        o.codes.emplace_back(tavik_session_result_code(m.session, k));
        o.distances.push_back(tavik_session_result_distance(m.session, k));
    }
    o.confidence = tavik_session_result_confidence(m.session, 0);
    return o;
}

std::string bundle_of(const std::string &profile) {
    tavik::BundleContents contents;
    contents.members.push_back({{"Latin"}, profile});
    std::string bytes, error;
    EXPECT_TRUE(tavik::model_file_write(contents, false, &bytes, &error)) << error;
    return bytes;
}

// Every way of identifying with a profile gives `want`.
void expect_everywhere(const std::string &profile, double min_margin, const Outcome &want) {
    const std::pair<const char *, Outcome> got[] = {
        {"designed", designed(profile, min_margin)},
        {"model", session(profile, min_margin)},
        {"bundle", session(bundle_of(profile), min_margin)},
    };
    for (const auto &[how, o] : got) {
        SCOPED_TRACE(how);
        EXPECT_EQ(o.rc, want.rc);
        EXPECT_EQ(o.codes, want.codes);
        ASSERT_EQ(o.distances.size(), want.distances.size());
        for (size_t k = 0; k < o.distances.size(); ++k)
            EXPECT_DOUBLE_EQ(o.distances[k], want.distances[k]) << k;
        // Costs are kept in steps of 1/2048 nat, and the lead is scaled by 10.
        EXPECT_NEAR(o.confidence, want.confidence, 5e-3);
    }
}

// The designed loader, a model and a bundle member all open `blob`, or all
// refuse it as a bad profile; the designed loader's error text is `error`
// (empty when it opens).
void expect_opened_everywhere(const std::string &blob, const std::string &error) {
    const int32_t want = error.empty() ? TAVIK_OK : TAVIK_BAD_PROFILE;
    EXPECT_EQ(tavik_load_profile_memory(blob.data(), blob.size()), want);
    EXPECT_EQ(tavik_last_error(), error);
    tavik_free_profile();
    tavik_model *model = nullptr;
    EXPECT_EQ(tavik_model_open_memory(blob.data(), blob.size(), &model), want);
    tavik_model_free(model);
    const std::string bundle = bundle_of(blob);
    model = nullptr;
    EXPECT_EQ(tavik_model_open_memory(bundle.data(), bundle.size(), &model), want);
    tavik_model_free(model);
}

TEST(Relatives, OrderTheLeadingGroupByLikelihood) {
    const double d = 0.5, d_ccc = 4000.0;  // two ranks off by one, of four
    const double e_aaa = entropy(kLangs[0].second), e_bbb = entropy(kLangs[1].second);
    ASSERT_LT(e_bbb, e_aaa);
    const double lead = std::min(1.0, 10 * (e_aaa - e_bbb) / e_aaa);
    ASSERT_LT(lead, 1.0);
    struct Case {
        const char *relatives;
        Outcome want;
    };
    const Case cases[] = {
        // Without groups the distance decides: a tie, and so ambiguous.
        {"", {TAVIK_AMBIGUOUS, {"aaa", "bbb", "ccc"}, {d, d, d_ccc}, 0.0}},
        // The first two are one group: likelihood orders them, each keeping
        // its distance, and the lead is ten times that in cross-entropy.
        {"aaa,bbb", {TAVIK_OK, {"bbb", "aaa", "ccc"}, {d, d, d_ccc}, lead}},
        {"bbb,aaa", {TAVIK_OK, {"bbb", "aaa", "ccc"}, {d, d, d_ccc}, lead}},
        // A group that does not hold the first two changes nothing.
        {"aaa,ccc", {TAVIK_AMBIGUOUS, {"aaa", "bbb", "ccc"}, {d, d, d_ccc}, 0.0}},
        {"bbb,ccc", {TAVIK_AMBIGUOUS, {"aaa", "bbb", "ccc"}, {d, d, d_ccc}, 0.0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.relatives);
        expect_everywhere(counted_profile(kLangs, c.relatives), 2.0, c.want);
    }
    // The whole leading run of the group is ordered: "ccc", tied third by
    // distance, makes the text likeliest of all.
    std::vector<Lang> three = kLangs;
    three[2] = {"ccc", {{"a", 100}, {"b", 70}, {"d", 40}, {"c", 40}}};
    ASSERT_LT(entropy(three[2].second), e_bbb);
    Outcome o = designed(counted_profile(three, "aaa,bbb,ccc"), 2.0);
    EXPECT_EQ(o.codes, (std::vector<std::string>{"ccc", "bbb", "aaa"}));
    // A winner that leads by a fifth in distance or more keeps its place:
    // "aaa" now matches the text's ranks, though "bbb" is likelier still.
    std::vector<Lang> clear = kLangs;
    clear[0] = {"aaa", {{"a", 100}, {"b", 99}, {"c", 98}, {"d", 97}}};
    ASSERT_LT(e_bbb, entropy(clear[0].second));
    o = designed(counted_profile(clear, "aaa,bbb"), 2.0);
    EXPECT_EQ(o.rc, TAVIK_OK);
    EXPECT_EQ(o.codes, (std::vector<std::string>{"aaa", "bbb", "ccc"}));
    EXPECT_EQ(o.confidence, 1.0);
}

// The cost of a word at place r (from 0) of a list of n words, and of a
// word the list lacks, in nats.
double word_cost(int r, int n) {
    double h = 0;
    for (int k = 0; k < n; ++k) h += 1.0 / (k + 2);
    return r < n ? std::log((r + 2) * h) : std::log(2 * (n + 1) * h);
}

TEST(Relatives, WordListsWeighEachWordEightTimes) {
    const double d = 0.5, d_ccc = 4000.0;
    // The text's words are its letters: a four times, b three, c twice, d once.
    const double in_order[] = {
        4 * word_cost(0, 4) + 3 * word_cost(1, 4) + 2 * word_cost(2, 4) + word_cost(3, 4),
        4 * word_cost(3, 4) + 3 * word_cost(2, 4) + 2 * word_cost(1, 4) + word_cost(0, 4)};
    const double missing = 10 * word_cost(4, 4);  // a list of four that has none of them
    const double e_aaa = entropy(kLangs[0].second), e_bbb = entropy(kLangs[1].second);
    auto lead = [](double first, double second) {
        return std::min(1.0, 10 * (second - first) / second);
    };
    struct Case {
        const char *what;
        Pairs words;
        Outcome want;
    };
    const Case cases[] = {
        // "aaa" lists the text's words in their order, "bbb" in reverse:
        // eight times a word outweighs the n-grams that favour "bbb".
        {"both listed",
         {{"tavik.words.aaa", "a b c d"}, {"tavik.words.bbb", "d c b a"}},
         {TAVIK_OK,
          {"aaa", "bbb", "ccc"},
          {d, d, d_ccc},
          lead(e_aaa + 8 * in_order[0], e_bbb + 8 * in_order[1])}},
        // A word a list lacks costs what it costs in the dearer list: the
        // shorter list of "bbb" charges no less for the four words it lacks.
        {"a list without the words",
         {{"tavik.words.aaa", "a b c d"}, {"tavik.words.bbb", "w x"}},
         {TAVIK_OK,
          {"aaa", "bbb", "ccc"},
          {d, d, d_ccc},
          lead(e_aaa + 8 * in_order[0], e_bbb + 8 * missing)}},
        // Words count only when every language of the run has its list.
        {"one list",
         {{"tavik.words.aaa", "a b c d"}},
         {TAVIK_OK, {"bbb", "aaa", "ccc"}, {d, d, d_ccc}, lead(e_bbb, e_aaa)}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        expect_everywhere(counted_profile(kLangs, "aaa,bbb", c.words), 2.0, c.want);
    }
}

TEST(Relatives, EqualLikelihoodsAreAmbiguous) {
    const std::vector<Lang> twins = {kLangs[0], {"ddd", kLangs[0].second}, kLangs[2]};
    const std::string profile = counted_profile(twins, "aaa,ddd");
    expect_everywhere(profile, 2.0,
                      {TAVIK_AMBIGUOUS, {"aaa", "ddd", "ccc"}, {0.5, 0.5, 4000.0}, 0.0});
    // As any tie, it is an answer when no margin is asked for.
    expect_everywhere(profile, 0.0, {TAVIK_OK, {"aaa", "ddd", "ccc"}, {0.5, 0.5, 4000.0}, 0.0});
}

TEST(Relatives, GroupsMustNameLanguagesOnce) {
    const std::string syntax = "profile key tavik.relatives: unknown key or value";
    const std::string names =
        "profile key tavik.relatives: a code names no language of the profile, several, or one "
        "named before";
    struct Case {
        const char *value;
        const std::string *error;  // nullptr: accepted
    };
    const Case cases[] = {
        {"aaa,bbb", nullptr},
        {"aaa,bbb,ccc", nullptr},
        {"aaa,bbb;ccc,dup", &names},  // "dup" names two languages
        {"", &syntax},
        {"aaa", &syntax},
        {"aaa,bbb;", &syntax},
        {"aaa,bbb;ccc", &syntax},
        {"aaa,,bbb", &syntax},
        {",aaa,bbb", &syntax},
        {"aaa,bbbbbbbb", &syntax},
        {"aaa,zzz", &names},
        {"aaa,bbb;bbb,ccc", &names},
        {"aaa,aaa", &names},
        {"aaa,bb", &names},
    };
    std::vector<Lang> langs = kLangs;
    langs.push_back({"dup", {{"a", 1}}});
    langs.push_back({"dup", {{"b", 1}}});
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        Blob b;
        b.header(static_cast<uint32_t>(langs.size()), 1, 1, 1, 1, 4000, 0);
        b.text16("tavik.relatives").text16(c.value);
        for (const auto &[code, counts] : langs) {
            b.u8(static_cast<uint32_t>(code.size())).raw(code).u32(1);
            b.text16(counts[0].first).u32(counts[0].second);
        }
        expect_opened_everywhere(b.bytes(), c.error == nullptr ? std::string() : *c.error);
    }
}

TEST(Relatives, WordListsBelongToGroupedLanguages) {
    const std::string syntax = "profile key %s: unknown key or value";
    const std::string names = "profile key %s: names no language of the tavik.relatives groups";
    struct Case {
        const char *relatives;
        const char *key;
        const char *value;
        const std::string *error;  // nullptr: accepted
    };
    const Case cases[] = {
        {"aaa,bbb", "tavik.words.aaa", "a b c", nullptr},
        {"aaa,bbb", "tavik.words.bbb", "\xC3\xA9t\xC3\xA9", nullptr},
        {"aaa,bbb", "tavik.words.ccc", "a", &names},  // not grouped
        {"", "tavik.words.aaa", "a", &names},         // no groups at all
        {"aaa,bbb", "tavik.words.zzz", "a", &names},
        {"aaa,bbb", "tavik.words.dup", "a", &names},  // two languages
        {"aaa,bbb", "tavik.words.aaa", "", &syntax},
        {"aaa,bbb", "tavik.words.aaa", " a", &syntax},
        {"aaa,bbb", "tavik.words.aaa", "a ", &syntax},
        {"aaa,bbb", "tavik.words.aaa", "a  b", &syntax},
        {"aaa,bbb", "tavik.words.", "a", &syntax},
        {"aaa,bbb", "tavik.words.aaaaaaaa", "a", &syntax},
    };
    std::vector<Lang> langs = kLangs;
    langs.push_back({"dup", {{"a", 1}}});
    langs.push_back({"dup", {{"b", 1}}});
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.key) + "=" + c.value);
        char error[256] = "";
        if (c.error != nullptr) std::snprintf(error, sizeof error, c.error->c_str(), c.key);
        expect_opened_everywhere(counted_profile(langs, c.relatives, {{c.key, c.value}}), error);
    }
}

// The pairs cut nothing, so training takes them after languages too, and
// checks only their form there; the codes meet the profile when it loads.
TEST(Relatives, TrainingTakesThePairAtAnyTime) {
    TempDir dir;
    const std::string path = dir.file("p.tavik");
    tavik_train_reset();
    ASSERT_EQ(tavik_train_begin("aaa"), TAVIK_OK);
    ASSERT_EQ(tavik_train_feed("a a a b b c"), TAVIK_OK);
    ASSERT_EQ(tavik_train_end_language(), TAVIK_OK);
    ASSERT_EQ(tavik_train_begin("bbb"), TAVIK_OK);
    ASSERT_EQ(tavik_train_feed("a a c c b"), TAVIK_OK);
    ASSERT_EQ(tavik_train_end_language(), TAVIK_OK);
    EXPECT_EQ(tavik_train_set_meta("tavik.relatives", "aaa"), TAVIK_INVALID);
    EXPECT_EQ(tavik_train_set_meta("tavik.letters", "unicode"), TAVIK_INVALID);
    ASSERT_EQ(tavik_train_set_meta("tavik.relatives", "aaa,bbb"), TAVIK_OK);
    EXPECT_EQ(tavik_train_set_meta("tavik.words.aaa", "a  b"), TAVIK_INVALID);
    ASSERT_EQ(tavik_train_set_meta("tavik.words.aaa", "a b c"), TAVIK_OK);
    ASSERT_EQ(tavik_train_write_profile(path.c_str()), TAVIK_OK);
    tavik_train_reset();
    ASSERT_EQ(tavik_load_profile(path.c_str()), TAVIK_OK);
    EXPECT_STREQ(tavik_profile_meta("tavik.relatives"), "aaa,bbb");
    EXPECT_STREQ(tavik_profile_meta("tavik.words.aaa"), "a b c");
    tavik_free_profile();
}

}  // namespace
