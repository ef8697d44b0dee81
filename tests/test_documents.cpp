// SPDX-License-Identifier: MIT
// test_documents.cpp - the result document and the explanation document:
// exact bytes for every outcome, real formatting, refusals, the 64-entry
// cut of the explanation, and the lifetime of the returned texts.
#include <cstdint>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include <yyjson.h>

#include "testutil.h"

using namespace tavik_test;

namespace {

// `n` n-gram texts no query can hold, to pad a language.
std::vector<std::string> filler(int n) {
    std::vector<std::string> v;
    for (int k = 0; k < n; ++k) v.push_back("#" + std::to_string(k));
    return v;
}

constexpr const char *kENX = "e e e n n x";                     // ranks e, n, x
const std::vector<std::string> kWorked = {"a", "e", "x", "b"};  // 1000.25 against kENX

// nld of 4000 n-grams with n at rank 1 and e at rank 2, lacking x.
std::vector<std::string> nld4000() {
    std::vector<std::string> v = filler(4000);
    v[0] = "n";
    v[1] = "e";
    return v;
}

constexpr const char *kExplained =
    R"({"code":"nld","distance":1.0005,"ngrams":[{"ngram":"e","query_rank":1,"profile_rank":2},)"
    R"({"ngram":"n","query_rank":2,"profile_rank":1},)"
    R"({"ngram":"x","query_rank":3,"profile_rank":0}]})";

// ----------------------------------------------------------- result document

TEST(ResultDocument, BeforeAnything) {
    EXPECT_STREQ(tavik_result_json(), R"({"status":0,"best":"","ngrams":0,"results":[]})");
}

// Builds a state, then the document must read exactly `expected`.  Each case
// runs in a process of its own.
struct DocCase {
    const char *name;
    std::function<void()> setup;
    const char *expected;
};

// 312 one-letter query n-grams.  nld: the first 136 letters at their own
// rank, the 137th 2931 ranks off, the rest absent: (175 * 4000 + 2931) /
// 4000.  deu: 71 letters at their rank, the 72nd 186 off: (240 * 4000 + 186)
// / 4000.
void two_language_example() {
    std::vector<std::string> nld = filler(4000), deu = filler(4000);
    for (int k = 0; k < 136; ++k) nld[k] = letter(k);
    nld[136 + 2931] = letter(136);
    for (int k = 0; k < 71; ++k) deu[k] = letter(k);
    deu[71 + 186] = letter(71);
    load(profile1({{"deu", deu}, {"nld", nld}}));
    ASSERT_EQ(tavik_identify(letters_text(312).c_str()), TAVIK_OK);
}

const DocCase kDocCases[] = {
    {"TwoLanguages", two_language_example,
     R"({"status":0,"best":"nld","ngrams":312,"results":[{"code":"nld","distance":175.73275,)"
     R"("confidence":0.26792204843644873},{"code":"deu","distance":240.0465,"confidence":0.0}]})"},
    {"TooFewNgrams",
     [] {
         load(profile1({{"nld", kWorked}}));
         ASSERT_EQ(tavik_identify(letters_text(12).c_str()), TAVIK_TOO_FEW_NGRAMS);
     },
     R"({"status":1,"best":"","ngrams":12,"results":[]})"},
    {"OneLanguage",
     [] {
         load(profile1({{"nld", kWorked}}));
         tavik_set_min_ngrams(0);
         ASSERT_EQ(tavik_identify(kENX), TAVIK_OK);
     },
     R"({"status":0,"best":"nld","ngrams":3,"results":)"
     R"([{"code":"nld","distance":1000.25,"confidence":1.0}]})"},
    {"WholeRealsKeepFraction",
     [] {
         // 5 absent n-grams over 16: 1250; the empty language: P.
         load(profile1({{"bbb", {}}, {"aaa", filler(16)}}));
         tavik_set_min_ngrams(0);
         ASSERT_EQ(tavik_identify("a b c d e"), TAVIK_OK);
     },
     R"({"status":0,"best":"aaa","ngrams":5,"results":)"
     R"([{"code":"aaa","distance":1250.0,"confidence":0.6875},)"
     R"({"code":"bbb","distance":4000.0,"confidence":0.0}]})"},
    {"ZeroDistances",
     [] {
         load(profile1({{"zz", kWorked}, {"aa", kWorked}}));
         tavik_set_min_ngrams(0);
         ASSERT_EQ(tavik_identify(""), TAVIK_OK);
     },
     R"({"status":0,"best":"aa","ngrams":0,"results":)"
     R"([{"code":"aa","distance":0.0,"confidence":1.0},)"
     R"({"code":"zz","distance":0.0,"confidence":0.0}]})"},
    {"Ambiguous",
     [] {
         load(profile1({{"nld", kWorked}, {"deu", kWorked}}));
         tavik_set_min_ngrams(0);
         ASSERT_EQ(tavik_identify(kENX), TAVIK_AMBIGUOUS);
     },
     R"({"status":2,"best":"","ngrams":3,"results":)"
     R"([{"code":"deu","distance":1000.25,"confidence":0.0},)"
     R"({"code":"nld","distance":1000.25,"confidence":0.0}]})"},
    {"AmbiguousKeepsWinnerConfidence",
     [] {
         // 0.5 against 1000.25 leads by 99.95 %, short of 99.99.
         load(profile1({{"nld", kWorked}, {"deu", {"e", "x", "n", "b"}}}));
         tavik_set_min_ngrams(0);
         tavik_set_min_margin(99.99);
         ASSERT_EQ(tavik_identify(kENX), TAVIK_AMBIGUOUS);
     },
     R"({"status":2,"best":"","ngrams":3,"results":)"
     R"([{"code":"deu","distance":0.5,"confidence":0.9995001249687578},)"
     R"({"code":"nld","distance":1000.25,"confidence":0.0}]})"},
    {"NoLanguages",
     [] {
         load(profile1({}));
         tavik_set_min_ngrams(0);
         ASSERT_EQ(tavik_identify(kENX), TAVIK_OK);
     },
     R"({"status":0,"best":"","ngrams":3,"results":[]})"},
    {"NoProfileCountsEarlierQuery",
     [] {
         ASSERT_EQ(tavik_extract_ngrams("ab"), TAVIK_OK);  // 8 n-grams
         ASSERT_EQ(tavik_identify("ab"), TAVIK_NO_PROFILE);
     },
     R"({"status":3,"best":"","ngrams":8,"results":[]})"},
    {"NullTextCountsEarlierQuery",
     [] {
         load(profile1({{"nld", kWorked}}));
         tavik_set_min_ngrams(0);
         ASSERT_EQ(tavik_identify(kENX), TAVIK_OK);
         ASSERT_EQ(tavik_identify(nullptr), TAVIK_INVALID);
     },
     R"({"status":3,"best":"","ngrams":3,"results":[]})"},
    {"BadUtf8",
     [] {
         load(profile1({{"nld", kWorked}}));
         tavik_set_min_ngrams(0);
         ASSERT_EQ(tavik_identify(kENX), TAVIK_OK);
         ASSERT_EQ(tavik_identify("e \xE2\x82"), TAVIK_BAD_UTF8);
     },
     R"({"status":5,"best":"","ngrams":0,"results":[]})"},
    {"AfterRelease",
     [] {
         load(profile1({{"nld", kWorked}, {"deu", kWorked}}));
         tavik_set_min_ngrams(0);
         ASSERT_EQ(tavik_identify(kENX), TAVIK_AMBIGUOUS);
         tavik_free_profile();
     },
     R"({"status":2,"best":"","ngrams":0,"results":[]})"},
    {"CodesAreEscaped",
     [] {
         load(profile1({{"a\"b\\", kWorked}}));
         tavik_set_min_ngrams(0);
         ASSERT_EQ(tavik_identify(kENX), TAVIK_OK);
     },
     R"({"status":0,"best":"a\"b\\","ngrams":3,"results":)"
     R"([{"code":"a\"b\\","distance":1000.25,"confidence":1.0}]})"},
    {"CodeNotUtf8",
     [] {
         load(profile1({{"nld", kWorked}, {"\xFF\xFE", {}}}));
         tavik_set_min_ngrams(0);
         ASSERT_EQ(tavik_identify(kENX), TAVIK_OK);
     },
     "{}"},
};

void PrintTo(const DocCase &c, std::ostream *os) { *os << c.name; }

class ResultDoc : public ::testing::TestWithParam<DocCase> {};

TEST_P(ResultDoc, ExactText) {
    const DocCase &c = GetParam();
    ASSERT_NO_FATAL_FAILURE(c.setup());
    const std::string first = tavik_result_json();
    EXPECT_EQ(first, c.expected);
    // Building it again gives the same bytes; a refusal keeps nothing.
    EXPECT_EQ(std::string(tavik_result_json()), first);
    EXPECT_EQ(tavik_get_state()->json == nullptr, first == "{}");
}

INSTANTIATE_TEST_SUITE_P(Documents, ResultDoc, ::testing::ValuesIn(kDocCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(ResultDocument, IdentificationDoesNotReplaceTheText) {
    load(profile1({{"nld", kWorked}}));
    tavik_set_min_ngrams(0);
    ASSERT_EQ(tavik_identify(kENX), TAVIK_OK);
    const char *doc = tavik_result_json();
    const std::string before = doc;
    ASSERT_EQ(tavik_identify("a b"), TAVIK_OK);
    EXPECT_EQ(std::string(doc), before);  // the older outcome, still readable
    EXPECT_NE(std::string(tavik_result_json()), before);
}

// ------------------------------------------------------ explanation document

TEST(Explanation, ExampleAfterTooFewNgrams) {
    load(profile1({{"nld", nld4000()}}));
    ASSERT_EQ(tavik_identify(kENX), TAVIK_TOO_FEW_NGRAMS);
    EXPECT_STREQ(tavik_explain(0), kExplained);
    EXPECT_STREQ(tavik_explain(0), kExplained);
}

TEST(Explanation, ExampleAfterExtractionAlone) {
    load(profile1({{"nld", nld4000()}}));
    ASSERT_EQ(tavik_extract_ngrams(kENX), TAVIK_OK);
    EXPECT_STREQ(tavik_explain(0), kExplained);
}

TEST(Explanation, DistanceFollowsCurrentSettingsResultsDoNot) {
    load(profile1({{"nld", kWorked}, {"deu", {"e", "x", "n", "b"}}}));
    tavik_set_min_ngrams(0);
    ASSERT_EQ(tavik_identify(kENX), TAVIK_OK);
    const std::string results = tavik_result_json();
    const char *tail = R"(,"ngrams":[{"ngram":"e","query_rank":1,"profile_rank":2},)"
                       R"({"ngram":"n","query_rank":2,"profile_rank":0},)"
                       R"({"ngram":"x","query_rank":3,"profile_rank":3}]})";
    EXPECT_EQ(std::string(tavik_explain(0)),
              std::string(R"({"code":"nld","distance":1000.25)") + tail);
    tavik_set_size_penalty(1);  // + |3 - 4| * 4000
    EXPECT_EQ(std::string(tavik_explain(0)),
              std::string(R"({"code":"nld","distance":2000.25)") + tail);
    tavik_set_size_penalty(0);
    tavik_set_max_distribution(5000);  // (1 + 5000 + 0) / 4
    EXPECT_EQ(std::string(tavik_explain(0)),
              std::string(R"({"code":"nld","distance":1250.25)") + tail);
    EXPECT_EQ(tavik_result_distance(1), 1000.25);
    EXPECT_EQ(std::string(tavik_result_json()), results);
}

TEST(Explanation, IndexIsProfileOrder) {
    // deu wins, but index 0 is nld, the first language stored.
    load(profile1({{"nld", kWorked}, {"deu", {"e", "x", "n", "b"}}}));
    tavik_set_min_ngrams(0);
    ASSERT_EQ(tavik_identify(kENX), TAVIK_OK);
    ASSERT_STREQ(tavik_result_code(0), "deu");
    EXPECT_EQ(std::string(tavik_explain(0)).rfind(R"({"code":"nld","distance":1000.25,)", 0), 0u);
    EXPECT_EQ(std::string(tavik_explain(1)).rfind(R"({"code":"deu","distance":0.5,)", 0), 0u);
}

TEST(Explanation, EmptyQuery) {
    load(profile1({{"nld", kWorked}, {"deu", {}}}));
    ASSERT_EQ(tavik_extract_ngrams("12 ... !"), TAVIK_OK);
    EXPECT_STREQ(tavik_explain(0), R"({"code":"nld","distance":0.0,"ngrams":[]})");
    tavik_set_size_penalty(1);
    EXPECT_STREQ(tavik_explain(0), R"({"code":"nld","distance":4000.0,"ngrams":[]})");
    EXPECT_STREQ(tavik_explain(1), R"({"code":"deu","distance":0.0,"ngrams":[]})");
}

TEST(Explanation, ListStopsAtSixtyFourDistanceCoversAll) {
    // The language holds the first 64 of 100 query letters at their own
    // ranks: the 36 beyond the list are what the distance charges.
    std::vector<std::string> ngrams;
    for (int k = 0; k < 64; ++k) ngrams.push_back(letter(k));
    load(profile1({{"nld", ngrams}}));
    ASSERT_EQ(tavik_extract_ngrams(letters_text(100).c_str()), TAVIK_OK);
    ASSERT_EQ(tavik_ngram_count(), 100);
    const char *doc = tavik_explain(0);
    yyjson_doc *d = yyjson_read(doc, std::strlen(doc), 0);
    ASSERT_NE(d, nullptr) << doc;
    yyjson_val *root = yyjson_doc_get_root(d);
    EXPECT_EQ(yyjson_get_real(yyjson_obj_get(root, "distance")), 36 * 4000 / 100.0);
    yyjson_val *list = yyjson_obj_get(root, "ngrams");
    ASSERT_EQ(yyjson_arr_size(list), 64u);
    for (int i = 0; i < 64; ++i) {
        yyjson_val *e = yyjson_arr_get(list, static_cast<size_t>(i));
        EXPECT_STREQ(yyjson_get_str(yyjson_obj_get(e, "ngram")), letter(i).c_str());
        EXPECT_EQ(yyjson_get_sint(yyjson_obj_get(e, "query_rank")), i + 1);
        EXPECT_EQ(yyjson_get_sint(yyjson_obj_get(e, "profile_rank")), i + 1);
    }
    yyjson_doc_free(d);
    EXPECT_NE(std::string(doc).find(R"("distance":1440.0,)"), std::string::npos);
}

TEST(Explanation, Refusals) {
    const tavik_state *st = tavik_get_state();
    EXPECT_STREQ(tavik_explain(0), "{}");  // nothing at all
    ASSERT_EQ(tavik_extract_ngrams(kENX), TAVIK_OK);
    EXPECT_STREQ(tavik_explain(0), "{}");  // a query, no profile

    load(profile1({{"nld", kWorked}, {"\xFF", kWorked}}));
    ASSERT_EQ(tavik_extract_ngrams(kENX), TAVIK_OK);
    struct Case {
        const char *name;
        std::function<void()> before;
        int32_t index;
    };
    const Case cases[] = {
        {"negative index", [] {}, -1},
        {"index equal to the language count", [] {}, 2},
        {"code not valid UTF-8", [] {}, 1},
        {"failed extraction", [] { ASSERT_EQ(tavik_extract_ngrams("\x80"), TAVIK_BAD_UTF8); }, 0},
        {"released profile", [] { tavik_free_profile(); }, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(std::string(tavik_explain(0)), "{}");  // one to release
        c.before();
        EXPECT_STREQ(tavik_explain(c.index), "{}");
        EXPECT_EQ(st->explain_json, nullptr);
        if (st->profile != nullptr && !st->query_valid) {
            ASSERT_EQ(tavik_extract_ngrams(kENX), TAVIK_OK);
        }
        if (st->profile == nullptr) break;
    }
}

}  // namespace
