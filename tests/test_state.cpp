// SPDX-License-Identifier: MIT
// test_state.cpp - the library state: settings and their once-only defaults,
// the error text, the version, and the query n-grams with their accessors.
//
// Every test runs in a process of its own, so each starts from the state of
// a fresh process: settings 0 until the first call that applies defaults.
#include <climits>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "api_internal.h"
#include "tavik/tavik_api.h"
#include "testutil.h"

namespace {

struct Settings {
    int32_t min_ngrams;
    double min_margin;
    int32_t size_penalty;
    int32_t max_ngram_length;
    int32_t max_distribution;
    int32_t occurance_threshold;
    bool operator==(const Settings &) const = default;
};

void PrintTo(const Settings &s, std::ostream *os) {
    *os << "{min_ngrams " << s.min_ngrams << ", min_margin " << s.min_margin << ", size_penalty "
        << s.size_penalty << ", max_ngram_length " << s.max_ngram_length << ", max_distribution "
        << s.max_distribution << ", occurance_threshold " << s.occurance_threshold << "}";
}

Settings settings() {
    const tavik_state *s = tavik_get_state();
    return {s->min_ngrams,       s->min_margin,       s->size_penalty,
            s->max_ngram_length, s->max_distribution, s->occurance_threshold};
}

constexpr Settings kZero{0, 0.0, 0, 0, 0, 0};
constexpr Settings kDefaults{40, 2.0, 0, 5, 4000, 0};

std::vector<std::string> query() {
    std::vector<std::string> out;
    for (int32_t k = 0; k < tavik_ngram_count(); ++k) out.emplace_back(tavik_ngram(k));
    return out;
}

void expect_no_query() {
    EXPECT_EQ(tavik_get_state()->query_valid, 0);
    EXPECT_EQ(tavik_get_state()->query.items, nullptr);
    EXPECT_EQ(tavik_get_state()->query.count, 0u);
    EXPECT_EQ(tavik_ngram_count(), 0);
    EXPECT_EQ(tavik_ngram(0), nullptr);
    EXPECT_EQ(tavik_ngram_rank(0), 0);
}

// ------------------------------------------------------------ defaults

TEST(StateDefaults, FreshProcessReadsZeroUntilADefaultingCall) {
    const tavik_state *s = tavik_get_state();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s, tavik_get_state());
    EXPECT_EQ(settings(), kZero);
    EXPECT_EQ(s->profile, nullptr);
    EXPECT_EQ(s->status, 0);
    EXPECT_EQ(s->result_count, 0);
    ASSERT_NE(tavik_last_error(), nullptr);
    EXPECT_STREQ(tavik_last_error(), "");

    // None of these applies the defaults.
    tavik_version();
    tavik_set_err("x");
    tavik_last_error();
    tavik_ngram_count();
    tavik_ngram(0);
    tavik_ngram_rank(0);
    tavik_is_letter('a');
    tavik_free_profile();
    tavik_profile_language_count();
    tavik_result_count();
    tavik_result_json();
    tavik_explain(0);
    tavik_train_reset();
    tavik_train_set_meta("k", "v");
    tavik_train_feed("text");
    tavik_train_reset();
    EXPECT_EQ(settings(), kZero);
}

// Whichever defaulting call comes first applies all six defaults, and only
// then its own rule: a refused value leaves the default in place.
struct FirstCall {
    const char *name;
    std::function<void()> call;
    Settings after;
};

void PrintTo(const FirstCall &c, std::ostream *os) { *os << c.name; }

class FirstDefaultingCall : public testing::TestWithParam<FirstCall> {};

TEST_P(FirstDefaultingCall, AppliesEveryDefault) {
    ASSERT_EQ(settings(), kZero);
    GetParam().call();
    EXPECT_EQ(settings(), GetParam().after);
    tavik_train_reset();
}

Settings defaults_with(std::function<void(Settings &)> change) {
    Settings s = kDefaults;
    change(s);
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    EachFunction, FirstDefaultingCall,
    testing::Values(
        FirstCall{"max_distribution_0", [] { tavik_set_max_distribution(0); }, kDefaults},
        FirstCall{"max_ngram_length_minus_3", [] { tavik_set_max_ngram_length(-3); }, kDefaults},
        FirstCall{"min_ngrams_10", [] { tavik_set_min_ngrams(10); },
                  defaults_with([](Settings &s) { s.min_ngrams = 10; })},
        FirstCall{"min_margin_half", [] { tavik_set_min_margin(0.5); },
                  defaults_with([](Settings &s) { s.min_margin = 0.5; })},
        FirstCall{"size_penalty_1", [] { tavik_set_size_penalty(1); },
                  defaults_with([](Settings &s) { s.size_penalty = 1; })},
        FirstCall{"occurance_threshold_minus_1", [] { tavik_set_occurance_threshold(-1); },
                  kDefaults},
        FirstCall{"extract_null", [] { tavik_extract_ngrams(nullptr); }, kDefaults},
        FirstCall{"identify_null", [] { tavik_identify(nullptr); }, kDefaults},
        FirstCall{"load_profile_null", [] { tavik_load_profile(nullptr); }, kDefaults},
        FirstCall{"load_profile_memory_null", [] { tavik_load_profile_memory(nullptr, 0); },
                  kDefaults},
        FirstCall{"train_begin", [] { tavik_train_begin("eng"); }, kDefaults},
        FirstCall{"train_end_language", [] { tavik_train_end_language(); }, kDefaults},
        FirstCall{"train_write_profile_null", [] { tavik_train_write_profile(nullptr); },
                  kDefaults}),
    [](const testing::TestParamInfo<FirstCall> &info) { return std::string(info.param.name); });

TEST(StateDefaults, AreAppliedOnlyOnce) {
    tavik_set_min_margin(0.5);
    tavik_set_min_ngrams(10);
    tavik_set_max_distribution(7);
    // Later defaulting calls, successful or not, restore nothing.
    tavik_extract_ngrams("abc");
    tavik_extract_ngrams(nullptr);
    tavik_load_profile(nullptr);
    tavik_identify("abc");
    EXPECT_EQ(settings(), defaults_with([](Settings &s) {
                  s.min_margin = 0.5;
                  s.min_ngrams = 10;
                  s.max_distribution = 7;
              }));
}

// ------------------------------------------------------------ setters

TEST(StateSetters, StoreClampOrIgnoreAndTouchOnlyTheirOwnSetting) {
    struct Step {
        const char *what;
        std::function<void()> call;
        std::function<void(Settings &)> change;  // from the settings before the step
    };
    const std::vector<Step> steps = {
        {"max_ngram_length 12", [] { tavik_set_max_ngram_length(12); },
         [](Settings &s) { s.max_ngram_length = 12; }},
        {"max_ngram_length -3", [] { tavik_set_max_ngram_length(-3); }, [](Settings &) {}},
        {"max_ngram_length 0", [] { tavik_set_max_ngram_length(0); }, [](Settings &) {}},
        {"max_ngram_length 1", [] { tavik_set_max_ngram_length(1); },
         [](Settings &s) { s.max_ngram_length = 1; }},
        {"max_distribution 9", [] { tavik_set_max_distribution(9); },
         [](Settings &s) { s.max_distribution = 9; }},
        {"max_distribution 0", [] { tavik_set_max_distribution(0); }, [](Settings &) {}},
        {"max_distribution INT32_MIN", [] { tavik_set_max_distribution(INT32_MIN); },
         [](Settings &) {}},
        {"max_distribution 1", [] { tavik_set_max_distribution(1); },
         [](Settings &s) { s.max_distribution = 1; }},
        {"occurance_threshold 3", [] { tavik_set_occurance_threshold(3); },
         [](Settings &s) { s.occurance_threshold = 3; }},
        {"occurance_threshold -5", [] { tavik_set_occurance_threshold(-5); },
         [](Settings &s) { s.occurance_threshold = 0; }},
        {"size_penalty 7", [] { tavik_set_size_penalty(7); },
         [](Settings &s) { s.size_penalty = 1; }},
        {"size_penalty 0", [] { tavik_set_size_penalty(0); },
         [](Settings &s) { s.size_penalty = 0; }},
        {"size_penalty -1", [] { tavik_set_size_penalty(-1); },
         [](Settings &s) { s.size_penalty = 1; }},
        {"min_ngrams -1", [] { tavik_set_min_ngrams(-1); }, [](Settings &s) { s.min_ngrams = -1; }},
        {"min_ngrams 0", [] { tavik_set_min_ngrams(0); }, [](Settings &s) { s.min_ngrams = 0; }},
        {"min_margin -3.25", [] { tavik_set_min_margin(-3.25); },
         [](Settings &s) { s.min_margin = -3.25; }},
        {"min_margin 1e9", [] { tavik_set_min_margin(1e9); },
         [](Settings &s) { s.min_margin = 1e9; }},
    };
    tavik_set_min_ngrams(40);  // apply the defaults
    Settings want = kDefaults;
    for (const Step &step : steps) {
        SCOPED_TRACE(step.what);
        step.call();
        step.change(want);
        EXPECT_EQ(settings(), want);
    }
}

// ------------------------------------------------------------ error text

TEST(StateErrors, SetErrCopiesVerbatimAndCutsAt255Bytes) {
    struct Case {
        const char *what;
        std::string message, stored;
    };
    const std::string b255(255, 'b');
    const std::vector<Case> cases = {
        {"plain", "no profile", "no profile"},
        {"format directives stay text", "%s %d %n %%", "%s %d %n %%"},
        {"255 bytes", b255, b255},
        {"256 bytes", std::string(256, 'c'), std::string(255, 'c')},
        {"300 bytes", std::string(300, 'd') + "tail", std::string(255, 'd')},
        {"empty", "", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        tavik_set_err(c.message.c_str());
        ASSERT_NE(tavik_last_error(), nullptr);
        EXPECT_EQ(std::string(tavik_last_error()), c.stored);
        EXPECT_EQ(std::string(tavik_get_state()->error), c.stored);
    }
    tavik_set_err("something");
    tavik_set_err(nullptr);
    ASSERT_NE(tavik_last_error(), nullptr);
    EXPECT_STREQ(tavik_last_error(), "");
    EXPECT_EQ(tavik_get_state()->error[0], '\0');
}

TEST(StateErrors, Version) { EXPECT_STREQ(tavik_version(), "1.0.0"); }

// ------------------------------------------------------------ query

TEST(Query, ExtractionFailuresNameTheCauseAndLeaveNoQuery) {
    struct Case {
        const char *text;
        int32_t rc;
        const char *error;
    };
    const std::vector<Case> cases = {
        {nullptr, TAVIK_INVALID, "null text"},
        {"bonjour \xC3", TAVIK_BAD_UTF8, "bad utf8"},
        {"\xED\xA0\x80", TAVIK_BAD_UTF8, "bad utf8"},
        {"ok words then \xFF", TAVIK_BAD_UTF8, "bad utf8"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.error);
        ASSERT_EQ(tavik_extract_ngrams("a valid query first"), TAVIK_OK);
        ASSERT_GT(tavik_ngram_count(), 0);
        EXPECT_EQ(tavik_extract_ngrams(c.text), c.rc);
        EXPECT_STREQ(tavik_last_error(), c.error);
        expect_no_query();
    }
}

// A setting that the setters never let through reaches the extractor only by
// writing the record; its refusal is reported as a failed extraction.
TEST(Query, OtherExtractorFailureReadsExtractFailed) {
    tavik_set_min_ngrams(40);
    ASSERT_EQ(tavik_extract_ngrams("abc"), TAVIK_OK);
    tavik::G.max_ngram_length = 0;
    EXPECT_EQ(tavik_extract_ngrams("abc"), TAVIK_INVALID);
    EXPECT_STREQ(tavik_last_error(), "extract failed");
    expect_no_query();
}

TEST(Query, SuccessLeavesTheEarlierErrorText) {
    EXPECT_EQ(tavik_extract_ngrams("caf\xC3"), TAVIK_BAD_UTF8);
    EXPECT_EQ(tavik_extract_ngrams("café"), TAVIK_OK);
    EXPECT_STREQ(tavik_last_error(), "bad utf8");
    EXPECT_EQ(tavik_extract_ngrams(nullptr), TAVIK_INVALID);
    EXPECT_EQ(tavik_extract_ngrams(""), TAVIK_OK);
    EXPECT_STREQ(tavik_last_error(), "null text");
}

TEST(Query, RankedUnderTheCurrentSettings) {
    struct Case {
        int32_t max_ngram_length, occurance_threshold, max_distribution;
        std::vector<std::string> want;
    };
    const std::vector<Case> cases = {
        {3, 0, 4000, {"a", "n", "na", "a_", "na_", "_a", "an", "_an", "ana", "_n", "_na"}},
        {3, 2, 4000, {"a", "n", "na", "a_", "na_"}},
        {3, 2, 3, {"a", "n", "na"}},
        {1, 0, 4000, {"a", "n"}},
        {5, 3, 4000, {"a"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.max_ngram_length << "/" << c.occurance_threshold << "/"
                                        << c.max_distribution);
        tavik_set_max_ngram_length(c.max_ngram_length);
        tavik_set_occurance_threshold(c.occurance_threshold);
        tavik_set_max_distribution(c.max_distribution);
        ASSERT_EQ(tavik_extract_ngrams("ana na"), TAVIK_OK);
        EXPECT_EQ(tavik_get_state()->query_valid, 1);
        EXPECT_EQ(query(), c.want);
    }
}

TEST(Query, AccessorsAnswerOnlyInsideTheList) {
    ASSERT_EQ(tavik_extract_ngrams("ab"), TAVIK_OK);
    const int32_t n = tavik_ngram_count();
    ASSERT_EQ(n, 8);
    // All counts are 1: rank follows first occurrence.
    EXPECT_STREQ(tavik_ngram(0), "a");
    EXPECT_STREQ(tavik_ngram(n - 1), "_ab_");
    EXPECT_EQ(tavik_ngram_rank(0), 1);
    EXPECT_EQ(tavik_ngram_rank(n - 1), n);
    for (int32_t bad : {-1, n, n + 1, INT32_MIN, INT32_MAX}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(tavik_ngram(bad), nullptr);
        EXPECT_EQ(tavik_ngram_rank(bad), 0);
    }
}

TEST(Query, TextWithoutLettersIsAValidEmptyQuery) {
    for (const char *text : {"", "123 ... !", "\xD8\xB3\xD9\x84\xD8\xA7\xD9\x85"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(tavik_extract_ngrams(text), TAVIK_OK);
        EXPECT_EQ(tavik_get_state()->query_valid, 1);
        EXPECT_EQ(tavik_ngram_count(), 0);
        EXPECT_EQ(tavik_ngram(0), nullptr);
        EXPECT_EQ(tavik_ngram_rank(0), 0);
    }
}

TEST(Query, HoldsAtMostMaxDistributionEntriesTheTopRanked) {
    // Far more than 4000 distinct n-grams.
    std::string text;
    for (int k = 0; k < 3000; ++k) {
        for (int v = k + 26 * 26 * 26; v > 0; v /= 26) text += static_cast<char>('a' + v % 26);
        text += ' ';
    }
    ASSERT_EQ(tavik_extract_ngrams(text.c_str()), TAVIK_OK);
    EXPECT_EQ(tavik_ngram_count(), 4000);

    tavik_ngram_list all{nullptr, 0, 0};
    ASSERT_EQ(tavik_ngram_extract(text.c_str(), 5, &all), TAVIK_OK);
    ASSERT_GT(all.count, 4000u);
    tavik_ngram_prune_and_rank(&all, 0, 0);
    for (int32_t k = 0; k < 4000; ++k) ASSERT_STREQ(tavik_ngram(k), all.items[k].text) << k;
    tavik_ngram_list_free(&all);
}

TEST(Query, FollowsIdentificationAndGoesWithTheProfile) {
    tavik_test::load(tavik_test::make_profile({{"eng", {"_t", "th"}}, {"fra", {"_l", "le"}}}));
    ASSERT_EQ(tavik_extract_ngrams("zzz"), TAVIK_OK);
    EXPECT_EQ(tavik_identify("ab"), TAVIK_TOO_FEW_NGRAMS);
    EXPECT_EQ(tavik_ngram_count(), 8);
    EXPECT_STREQ(tavik_ngram(7), "_ab_");
    tavik_free_profile();
    expect_no_query();
}

}  // namespace
