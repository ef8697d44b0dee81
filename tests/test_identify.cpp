// SPDX-License-Identifier: MIT
// test_identify.cpp - identification: the out-of-place distance, ranking,
// margin and confidence, every outcome of tavik_identify, and the result
// accessors.  The differential tests check the indexed scoring against the
// plain reference distance of the public query.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <utility>
#include <vector>
#include <yyjson.h>

#include "reference.h"
#include "tavik/utf8.h"
#include "testutil.h"

using namespace tavik_test;

namespace {

// "e e e n n x" ranks e, n, x.  Against {a, e, x, b}: e sits at rank 2 (+1),
// n is absent (+P), x sits at rank 3 (+0), over max(3, 4) n-grams.
constexpr const char *kENX = "e e e n n x";
const std::vector<std::string> kWorked = {"a", "e", "x", "b"};

double json_real(const char *doc, const char *key) {
    yyjson_doc *d = yyjson_read(doc, std::strlen(doc), 0);
    if (d == nullptr) return -2.0;
    yyjson_val *v = yyjson_obj_get(yyjson_doc_get_root(d), key);
    const double r = yyjson_is_real(v) ? yyjson_get_real(v) : -3.0;
    yyjson_doc_free(d);
    return r;
}

TEST(Distance, WorkedExamplesAndBoundaries) {
    struct Case {
        const char *name;
        const char *text;
        std::vector<std::string> lang;
        int size_penalty;
        double expected;
    };
    const Case cases[] = {
        {"worked example", kENX, kWorked, 0, 1000.25},
        {"worked example with size penalty", kENX, kWorked, 1, 2000.25},
        {"repeated text ranks lowest", kENX, {"e", "e", "n", "x"}, 0, 0.5},
        {"empty language", kENX, {}, 0, 4000.0},
        {"empty language with size penalty", kENX, {}, 1, 8000.0},
        {"empty query", "1 2 3", kWorked, 0, 0.0},
        {"empty query with size penalty", "1 2 3", kWorked, 1, 4000.0},
        {"both empty with size penalty", "1 2 3", {}, 1, 0.0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        load(profile1({{"nld", c.lang}}));
        tavik_set_min_ngrams(0);
        tavik_set_size_penalty(c.size_penalty);
        ASSERT_EQ(tavik_identify(c.text), TAVIK_OK) << tavik_last_error();
        ASSERT_EQ(tavik_result_count(), 1);
        EXPECT_EQ(tavik_result_distance(0), c.expected);
    }
}

TEST(Distance, NegativeMaxDistributionFromHeaderChargesFourThousand) {
    load(profile1({{"nld", kWorked}}, 0xFFFFFFFFu));
    ASSERT_EQ(tavik_get_state()->max_distribution, -1);
    tavik_set_min_ngrams(0);
    ASSERT_EQ(tavik_identify(kENX), TAVIK_OK);
    EXPECT_EQ(tavik_result_distance(0), 1000.25);
}

TEST(Distance, SmallMaxDistributionCutsQueryAndChargesItsValue) {
    // P = 2: the query keeps e, n; e is 1 off, n absent: (1 + 2) / 4.
    load(profile1({{"nld", kWorked}}, 2));
    tavik_set_min_ngrams(0);
    ASSERT_EQ(tavik_identify(kENX), TAVIK_OK);
    EXPECT_EQ(tavik_ngram_count(), 2);
    EXPECT_EQ(tavik_result_distance(0), 0.75);
}

// ---------------------------------------------------------------- outcomes

TEST(Outcome, NoProfileLeavesQueryAlone) {
    ASSERT_EQ(tavik_extract_ngrams("abc"), TAVIK_OK);
    const int32_t before = tavik_ngram_count();
    for (const char *text : {"abc def", static_cast<const char *>(nullptr)}) {
        EXPECT_EQ(tavik_identify(text), TAVIK_NO_PROFILE);
        EXPECT_STREQ(tavik_last_error(), "no profile");
        EXPECT_EQ(tavik_get_state()->status, TAVIK_NO_PROFILE);
        EXPECT_EQ(tavik_result_count(), 0);
        EXPECT_EQ(tavik_ngram_count(), before);
    }
}

TEST(Outcome, NullTextKeepsPreviousQuery) {
    load(profile1({{"nld", kWorked}}));
    tavik_set_min_ngrams(0);
    ASSERT_EQ(tavik_identify(kENX), TAVIK_OK);
    ASSERT_EQ(tavik_result_count(), 1);
    EXPECT_EQ(tavik_identify(nullptr), TAVIK_INVALID);
    EXPECT_STREQ(tavik_last_error(), "null text");
    EXPECT_EQ(tavik_get_state()->status, TAVIK_NO_PROFILE);
    EXPECT_EQ(tavik_result_count(), 0);
    EXPECT_EQ(tavik_best_code(), nullptr);
    ASSERT_EQ(tavik_ngram_count(), 3);
    EXPECT_STREQ(tavik_ngram(0), "e");
    EXPECT_EQ(json_real(tavik_explain(0), "distance"), 1000.25);
}

TEST(Outcome, FailedExtractionLeavesNoQuery) {
    struct Case {
        const char *name;
        uint32_t header_max_len;
        const char *text;
        int32_t rc;
        const char *error;
    };
    const Case cases[] = {
        {"invalid byte", 1, "e n \xFF", TAVIK_BAD_UTF8, "bad utf8"},
        {"text ends inside a sequence", 1, "e n \xC3", TAVIK_BAD_UTF8, "bad utf8"},
        // A profile header may carry a length below 1; the setter could not.
        {"max_ngram_length -1 from the header", 0xFFFFFFFFu, "e n x", TAVIK_INVALID,
         "extract failed"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Blob b;
        b.header(1, 0, 1, 1, c.header_max_len, 4000, 0).lang("nld", kWorked);
        load(b.bytes());
        tavik_set_min_ngrams(0);
        if (c.header_max_len == 1) {
            ASSERT_EQ(tavik_identify(kENX), TAVIK_OK);
        }
        EXPECT_EQ(tavik_identify(c.text), c.rc);
        EXPECT_EQ(tavik_get_state()->status, c.rc);
        EXPECT_STREQ(tavik_last_error(), c.error);
        EXPECT_EQ(tavik_result_count(), 0);
        EXPECT_EQ(tavik_ngram_count(), 0);
        EXPECT_EQ(tavik_get_state()->query_valid, 0);
        EXPECT_STREQ(tavik_explain(0), "{}");
    }
}

TEST(Outcome, TooFewNgramsKeepsQuery) {
    load(profile1({{"nld", kWorked}}));
    EXPECT_EQ(tavik_identify(letters_text(39).c_str()), TAVIK_TOO_FEW_NGRAMS);
    EXPECT_STREQ(tavik_last_error(), "too few ngrams");
    EXPECT_EQ(tavik_get_state()->status, TAVIK_TOO_FEW_NGRAMS);
    EXPECT_EQ(tavik_result_count(), 0);
    EXPECT_EQ(tavik_best_code(), nullptr);
    EXPECT_EQ(tavik_ngram_count(), 39);
    EXPECT_STREQ(tavik_ngram(38), letter(38).c_str());

    EXPECT_EQ(tavik_identify(letters_text(40).c_str()), TAVIK_OK);
    EXPECT_STREQ(tavik_last_error(), "");
    EXPECT_EQ(tavik_result_count(), 1);
    EXPECT_STREQ(tavik_best_code(), "nld");
}

// Winner, margin and confidence; each case runs in a process of its own.
struct RankCase {
    const char *name;
    std::vector<LangNgrams> langs;
    const char *text;
    double min_margin;
    int32_t rc;
    std::vector<std::string> order;  // result codes, best first
    double confidence;               // of the first result
};

double margin_of(double d1, double d2) { return 100.0 * ((d2 - d1) / d2); }

// Against "e e e n n x": {e, x, n, b} scores (0 + 1 + 1) / 4 = 0.5.
const std::vector<std::string> kClose = {"e", "x", "n", "b"};
const double kCloseMargin = margin_of(0.5, 1000.25);
const double kCloseG = (1000.25 - 0.5) / 1000.25;

const RankCase kRankCases[] = {
    {"EqualDistancesAreAmbiguous",
     {{"nld", kWorked}, {"deu", kWorked}},
     kENX,
     2.0,
     TAVIK_AMBIGUOUS,
     {"deu", "nld"},
     0.0},
    {"EqualDistancesWithZeroMinMargin",
     {{"nld", kWorked}, {"deu", kWorked}},
     kENX,
     0.0,
     TAVIK_OK,
     {"deu", "nld"},
     0.0},
    {"NegativeMinMarginNeverAmbiguous",
     {{"nld", kWorked}, {"deu", kWorked}},
     kENX,
     -1.0,
     TAVIK_OK,
     {"deu", "nld"},
     0.0},
    {"TiesFollowCodeBytes",
     {{"ab", kWorked}, {"a", kWorked}, {"B", kWorked}, {"\xC3\xA9", kWorked}},
     kENX,
     0.0,
     TAVIK_OK,
     {"B", "a", "ab", "\xC3\xA9"},
     0.0},
    {"MarginEqualToMinMarginIsClear",
     {{"nld", kWorked}, {"deu", kClose}},
     kENX,
     kCloseMargin,
     TAVIK_OK,
     {"deu", "nld"},
     kCloseG},
    {"MarginJustBelowMinMargin",
     {{"nld", kWorked}, {"deu", kClose}},
     kENX,
     std::nextafter(kCloseMargin, 200.0),
     TAVIK_AMBIGUOUS,
     {"deu", "nld"},
     kCloseG},
    {"BothAtZeroGiveFullConfidence",
     {{"zz", kWorked}, {"aa", kWorked}},
     "1 2 3",
     100.0,
     TAVIK_OK,
     {"aa", "zz"},
     1.0},
    {"BothAtZeroMarginIsHundred",
     {{"zz", kWorked}, {"aa", kWorked}},
     "1 2 3",
     std::nextafter(100.0, 200.0),
     TAVIK_AMBIGUOUS,
     {"aa", "zz"},
     1.0},
    {"OneLanguageHasNoMarginTest", {{"nld", {}}}, kENX, 1000.0, TAVIK_OK, {"nld"}, 1.0},
    {"NoLanguages", {}, kENX, 2.0, TAVIK_OK, {}, 0.0},
};

void PrintTo(const RankCase &c, std::ostream *os) { *os << c.name; }

class Ranking : public ::testing::TestWithParam<RankCase> {};

TEST_P(Ranking, WinnerMarginConfidence) {
    const RankCase &c = GetParam();
    load(profile1(c.langs));
    tavik_set_min_ngrams(0);
    tavik_set_min_margin(c.min_margin);
    ASSERT_EQ(tavik_identify(c.text), c.rc);
    EXPECT_EQ(tavik_get_state()->status, c.rc);
    EXPECT_STREQ(tavik_last_error(), c.rc == TAVIK_OK ? "" : "ambiguous");
    ASSERT_EQ(tavik_result_count(), static_cast<int32_t>(c.order.size()));
    for (size_t i = 0; i < c.order.size(); ++i) {
        EXPECT_STREQ(tavik_result_code(static_cast<int32_t>(i)), c.order[i].c_str()) << i;
        if (i > 0) {
            EXPECT_EQ(tavik_result_confidence(static_cast<int32_t>(i)), 0.0) << i;
        }
    }
    if (!c.order.empty()) {
        EXPECT_EQ(tavik_result_confidence(0), c.confidence);
    }
    const bool has_best = c.rc == TAVIK_OK && !c.order.empty();
    EXPECT_STREQ(tavik_best_code(), has_best ? c.order[0].c_str() : nullptr);
}

INSTANTIATE_TEST_SUITE_P(Identify, Ranking, ::testing::ValuesIn(kRankCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(Results, DistancesApartByLessThanAFloatStillOrder) {
    // 400 query letters; each language holds only the first, "zzz" one
    // rank nearer: the sums differ by 1 in 1,596,002, far below a float's
    // precision, and the later language with the later code comes first.
    load(profile1({{"aaa", {letter(500), letter(501), letter(0)}},
                   {"zzz", {letter(502), letter(0), letter(503)}}}));
    tavik_set_min_margin(0.0);
    ASSERT_EQ(tavik_identify(letters_text(400).c_str()), TAVIK_OK);
    EXPECT_STREQ(tavik_result_code(0), "zzz");
    EXPECT_EQ(tavik_result_distance(0), 1596001.0 / 400);
    EXPECT_STREQ(tavik_result_code(1), "aaa");
    EXPECT_EQ(tavik_result_distance(1), 1596002.0 / 400);
}

TEST(Results, SixtyFourLanguagesAndAccessorBounds) {
    // Language k holds the first k query letters in query order: only the
    // 64 - k it lacks cost anything, so distance = (64 - k) * 4000 / 64.
    std::vector<LangNgrams> langs;
    for (int k = 0; k < 64; ++k) {
        std::vector<std::string> ngrams;
        for (int j = 0; j < k; ++j) ngrams.push_back(letter(j));
        langs.push_back({"l" + std::to_string(100 + k), ngrams});
    }
    load(profile1(langs));
    EXPECT_EQ(tavik_result_code(0), nullptr);
    EXPECT_EQ(tavik_result_distance(0), -1.0);
    ASSERT_EQ(tavik_identify(letters_text(64).c_str()), TAVIK_OK);
    ASSERT_EQ(tavik_result_count(), 64);
    for (int i = 0; i < 64; ++i) {
        const int k = 63 - i;
        EXPECT_STREQ(tavik_result_code(i), ("l" + std::to_string(100 + k)).c_str());
        EXPECT_EQ(tavik_result_distance(i), (64 - k) * 62.5);
    }
    EXPECT_EQ(tavik_result_confidence(0), 0.5);
    EXPECT_STREQ(tavik_best_code(), "l163");
    for (int32_t bad : {-1, 64}) {
        EXPECT_EQ(tavik_result_code(bad), nullptr);
        EXPECT_EQ(tavik_result_distance(bad), -1.0);
        EXPECT_EQ(tavik_result_confidence(bad), 0.0);
    }
}

TEST(Results, LastUntilNextIdentificationOrRelease) {
    load(profile1({{"nld", kWorked}, {"deu", kClose}}));
    tavik_set_min_ngrams(0);
    ASSERT_EQ(tavik_identify(kENX), TAVIK_OK);
    load(profile1({{"fra", {}}}));
    ASSERT_EQ(tavik_extract_ngrams("abc"), TAVIK_OK);
    EXPECT_EQ(tavik_result_count(), 2);
    EXPECT_STREQ(tavik_best_code(), "deu");
    EXPECT_EQ(tavik_result_distance(1), 1000.25);

    tavik_set_min_margin(200.0);
    ASSERT_EQ(tavik_identify(kENX), TAVIK_OK);  // one language: no margin test
    load(profile1({{"nld", kWorked}, {"deu", kWorked}}));
    ASSERT_EQ(tavik_identify(kENX), TAVIK_AMBIGUOUS);
    tavik_free_profile();
    EXPECT_EQ(tavik_result_count(), 0);
    EXPECT_EQ(tavik_result_code(0), nullptr);
    EXPECT_EQ(tavik_get_state()->status, TAVIK_AMBIGUOUS);
    EXPECT_STREQ(tavik_last_error(), "ambiguous");
}

// ------------------------------------------------------------ differential

// A deterministic generator with its own range mapping, so that the cases do
// not depend on the standard library's distributions.
class Rng {
public:
    explicit Rng(uint32_t seed) : g_(seed) {}
    int in(int lo, int hi) {
        return lo + static_cast<int>(g_() % static_cast<uint32_t>(hi - lo + 1));
    }
    bool one_in(int n) { return in(1, n) == 1; }

private:
    std::mt19937 g_;
};

// é, an ideograph and one beyond the Basic Plane are letters too; with them
// n-grams of 5 or more code points pass 16 bytes.
const char *const kAlphabet[] = {
    "a", "b", "c", "d", "\xC3\xA9", "\xE4\xB8\xAD", "\xF0\xA0\x80\x80"};

std::string random_ngram(Rng &rng, int letters, int max_len) {
    std::string s;
    const int n = rng.in(1, max_len);
    for (int i = 0; i < n; ++i) s += rng.one_in(5) ? "_" : kAlphabet[rng.in(0, letters - 1)];
    return s;
}

std::string random_text(Rng &rng, int letters) {
    static const char *const kGaps[] = {" ", "  ", ", ", ".\n", "1"};
    std::string s;
    const int words = rng.one_in(8) ? 0 : rng.in(1, 60);
    for (int w = 0; w < words; ++w) {
        const int len = rng.in(1, 6);
        for (int i = 0; i < len; ++i) s += kAlphabet[rng.in(0, letters - 1)];
        s += kGaps[rng.in(0, 4)];
    }
    return s;
}

// The query as the public interface shows it, in rank order.
std::vector<std::string> public_query() {
    std::vector<std::string> out;
    for (int32_t i = 0; i < tavik_ngram_count(); ++i) out.emplace_back(tavik_ngram(i));
    return out;
}

// The reference distance of `lang` from the current query.
double reference_distance(const tavik_lang &lang, int32_t penalty, bool size_penalty) {
    return tavik_ref::distance(lang, public_query(), size_penalty, penalty);
}

using Scored = std::pair<std::string, double>;

TEST(Differential, IndexedScoringMatchesReference) {
    static const uint32_t kMaxDists[] = {0, 0xFFFFFFFFu, 1, 3, 7, 40, 4000};
    static const int32_t kMinNgrams[] = {-5, 0, 1, 40};
    static const double kMinMargins[] = {2.0, 0.0, 30.0};
    static const char *const kSharedCodes[] = {"aa", "ab", "b"};
    Rng rng(20240611);
    int scored = 0, ambiguous = 0, too_few = 0, with_repeats = 0;
    for (int round = 0; round < 250; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const int letters = rng.in(2, 7);
        const int max_len = rng.in(1, 6);
        const int lang_count = rng.in(2, 64);
        const bool shared_codes = rng.one_in(3);
        with_repeats += shared_codes;
        Blob b;
        const bool with_values = rng.one_in(2);
        b.header(static_cast<uint32_t>(lang_count), 0, with_values ? 1 : 0, 1, 0,
                 kMaxDists[rng.in(0, 6)], 0);
        for (int l = 0; l < lang_count; ++l) {
            const std::string code =
                shared_codes ? kSharedCodes[rng.in(0, 2)] : "c" + std::to_string(l * 7 % 64);
            const int size = rng.one_in(8) ? 0 : rng.in(1, rng.one_in(4) ? 300 : 40);
            std::vector<std::string> ngrams;
            for (int k = 0; k < size; ++k)
                ngrams.push_back(random_ngram(rng, letters, max_len + 1));
            b.lang(code, ngrams, with_values);
        }
        load(b.bytes());
        const tavik_state *st = tavik_get_state();
        tavik_set_max_ngram_length(rng.in(1, 7));
        tavik_set_size_penalty(rng.one_in(2));
        tavik_set_min_ngrams(kMinNgrams[rng.in(0, 3)]);
        tavik_set_min_margin(kMinMargins[rng.in(0, 2)]);

        for (int t = 0; t < 3; ++t) {
            const std::string text = random_text(rng, letters);
            const int32_t rc = tavik_identify(text.c_str());
            const int32_t penalty = st->max_distribution > 0 ? st->max_distribution : 4000;
            std::vector<Scored> expected;
            for (int l = 0; l < lang_count; ++l) {
                const tavik_lang &lang = st->profile->langs[l];
                const double d = reference_distance(lang, penalty, st->size_penalty != 0);
                expected.push_back({lang.code, d});
                const double explained = json_real(tavik_explain(l), "distance");
                ASSERT_EQ(std::memcmp(&explained, &d, sizeof d), 0)
                    << "language " << l << ": " << explained << " vs " << d;
            }
            if (tavik_ngram_count() < st->min_ngrams) {
                ASSERT_EQ(rc, TAVIK_TOO_FEW_NGRAMS);
                ASSERT_EQ(tavik_result_count(), 0);
                ++too_few;
                continue;
            }
            ASSERT_TRUE(rc == TAVIK_OK || rc == TAVIK_AMBIGUOUS) << rc;
            ASSERT_EQ(tavik_result_count(), lang_count);
            std::vector<Scored> got;
            for (int i = 0; i < lang_count; ++i) {
                got.push_back({tavik_result_code(i), tavik_result_distance(i)});
                if (i > 0) {
                    const Scored &prev = got[i - 1];
                    ASSERT_TRUE(prev.second < got[i].second ||
                                (prev.second == got[i].second && prev.first <= got[i].first))
                        << "results out of order at " << i;
                }
            }
            std::sort(expected.begin(), expected.end());
            std::vector<Scored> got_sorted = got;
            std::sort(got_sorted.begin(), got_sorted.end());
            for (int i = 0; i < lang_count; ++i) {
                ASSERT_EQ(got_sorted[i].first, expected[i].first);
                ASSERT_EQ(std::memcmp(&got_sorted[i].second, &expected[i].second, sizeof(double)),
                          0)
                    << got_sorted[i].first << ": " << got_sorted[i].second << " vs "
                    << expected[i].second;
            }
            // Winner, confidence and margin from the two best distances.
            const double d1 = got[0].second, d2 = got[1].second;
            const double g = d2 > 0 ? (d2 - d1) / d2 : 1.0;
            const double margin = d2 > 0 ? 100.0 * g : 100.0;
            const double confidence = d2 > 1e-12 ? std::clamp(g, 0.0, 1.0) : 1.0;
            EXPECT_EQ(tavik_result_confidence(0), confidence);
            EXPECT_EQ(rc, margin < st->min_margin ? TAVIK_AMBIGUOUS : TAVIK_OK);
            (rc == TAVIK_OK ? scored : ambiguous)++;
        }
    }
    // The seed must keep reaching every branch it is meant to cover.
    EXPECT_GT(scored, 0);
    EXPECT_GT(ambiguous, 0);
    EXPECT_GT(too_few, 0);
    EXPECT_GT(with_repeats, 0);
}

// Every result of the last identification has the reference distance of
// its language (codes are one letter, 'a' for the first language).
void expect_reference_distances() {
    const tavik_state *st = tavik_get_state();
    for (int i = 0; i < tavik_result_count(); ++i) {
        const int l = tavik_result_code(i)[0] - 'a';
        const double d = reference_distance(st->profile->langs[l], st->max_distribution, false);
        const double got = tavik_result_distance(i);
        EXPECT_EQ(std::memcmp(&got, &d, sizeof d), 0)
            << tavik_result_code(i) << ": " << got << " vs " << d;
    }
}

// N-grams of more than 16 bytes that differ only in their last byte, held
// by several languages or by one.
TEST(Differential, LongNgramsCompareEveryByte) {
    const std::string x = "\xF0\xA0\x80\x80";  // a letter of 4 bytes
    const std::string four = x + x + x + x;
    const std::vector<std::string> shared = {four + "a", four + "b", "_" + four, four};
    load(make_profile({{"a", {four + "a", "_" + four}},
                       {"b", {four + "b", four}},
                       {"c", shared},
                       {"d", shared},
                       {"e", {four + "b", "_" + four, four + "a"}}}));
    tavik_set_max_ngram_length(7);
    tavik_set_min_ngrams(0);
    tavik_set_min_margin(0.0);
    for (const std::string &text : {four + "a", four + "b", four + "c " + four + "a"}) {
        ASSERT_TRUE(tavik_identify(text.c_str()) == TAVIK_OK ||
                    tavik_get_state()->status == TAVIK_AMBIGUOUS);
        expect_reference_distances();
    }
}

// The index keeps texts of up to 12 bytes in its entries and longer ones
// apart: texts of 12 and 13 bytes that agree in their first 12, held by one
// language (a ref of its own) or by several.
TEST(Differential, TextsAroundTwelveBytesStayApart) {
    const std::string z = "\xE4\xB8\xAD", w = "\xE6\x96\x87";  // letters of 3 bytes
    const std::string twelve = z + z + z + z;
    const std::vector<std::string> both = {twelve, twelve + "_", "_" + twelve, twelve + w};
    load(make_profile({{"a", {twelve}},
                       {"b", {twelve + "_"}},
                       {"c", {"_" + twelve, z + z + z + w}},
                       {"d", both},
                       {"e", both},
                       {"f", {twelve + w, twelve}}}));
    tavik_set_max_ngram_length(5);
    tavik_set_min_ngrams(0);
    tavik_set_min_margin(0.0);
    for (const std::string &text : {twelve, "x" + twelve + "x", twelve + w, z + z + z + w}) {
        SCOPED_TRACE(text);
        ASSERT_TRUE(tavik_identify(text.c_str()) == TAVIK_OK ||
                    tavik_get_state()->status == TAVIK_AMBIGUOUS);
        expect_reference_distances();
    }
}

// The k-th of 40000 letters: ideographs, then Hangul, then ideographs
// beyond the Basic Plane.
std::string wide_letter(int k) {
    const auto u = static_cast<uint32_t>(k);
    const uint32_t cp = u < 20992   ? 0x4E00 + u
                        : u < 32176 ? 0xAC00 + u - 20992
                                    : 0x20000 + u - 32176;
    char buf[4];
    const int32_t n = tavik_utf8_encode(cp, buf);
    EXPECT_EQ(tavik_utf8_is_letter(cp), 1);
    return std::string(buf, static_cast<size_t>(n));
}

// Ranks and query sizes past 2^15, where n-grams most languages share are
// no longer summed as 16-bit lanes, and query sizes just below.
TEST(Differential, WideRanksMatchReference) {
    const int n = 40000;
    std::vector<std::string> letters, up, down, odd, mixed;
    std::string text;
    for (int k = 0; k < n; ++k) {
        letters.push_back(wide_letter(k));
        text += letters.back() + " ";
    }
    for (int k = 0; k < n; ++k) {
        up.push_back(letters[k]);
        down.push_back(letters[n - 1 - k]);
        if (k % 2 == 1) odd.push_back(letters[k]);
        mixed.push_back(letters[k * 7919 % n]);
    }
    load(make_profile({{"up", up}, {"down", down}, {"odd", odd}, {"mix", mixed}}));
    for (const int32_t max_dist : {100000, 32767, 30000, 5}) {
        SCOPED_TRACE("max_distribution " + std::to_string(max_dist));
        tavik_set_max_ngram_length(1);
        tavik_set_max_distribution(max_dist);
        tavik_set_min_ngrams(0);
        tavik_set_min_margin(0.0);
        ASSERT_EQ(tavik_identify(text.c_str()), TAVIK_OK);
        const tavik_state *st = tavik_get_state();
        ASSERT_EQ(tavik_ngram_count(), std::min(n, max_dist));
        for (int l = 0; l < 4; ++l) {
            const tavik_lang &lang = st->profile->langs[l];
            const double d = reference_distance(lang, max_dist, false);
            bool seen = false;
            for (int i = 0; i < 4; ++i) {
                if (std::strcmp(tavik_result_code(i), lang.code) != 0) continue;
                const double got = tavik_result_distance(i);
                EXPECT_EQ(std::memcmp(&got, &d, sizeof d), 0)
                    << lang.code << ": " << got << " vs " << d;
                seen = true;
            }
            EXPECT_TRUE(seen) << lang.code;
        }
    }
}

}  // namespace
