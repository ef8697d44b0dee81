// SPDX-License-Identifier: MIT
// test_calibration.cpp - the calibrated probability: its meta pairs (taken
// or refused by every loader and the trainer), the probability a session
// reports for each kind of outcome, and the model behind it.
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "calibration.h"
#include "tavik/profile.h"
#include "tavik/tavik_session.h"
#include "testutil.h"

using namespace tavik_test;

namespace {

const std::string kDefaultProfile = TAVIK_SOURCE_DIR "/data/default.tavik";

// Weights with only the constant and the confidence, and a threshold.
const char kLeadOnly[] = "logistic-v1 -2 8 0 0 0 0 0 0 0";

std::string with_meta(const MetaPairs &meta) {
    return make_profile({{"eng", {"_t", "th", "he", "e_"}}, {"fra", {"_l", "le", "e_", "es"}}},
                        meta);
}

// The default profile's bytes without its calibration, then with `meta`
// set; written to `name` in `dir`.
std::string default_with(const TempDir &dir, const std::string &name, const MetaPairs &meta) {
    tavik_profile *p = nullptr;
    EXPECT_EQ(tavik_profile_load_path(kDefaultProfile.c_str(), &p), TAVIK_OK);
    if (p == nullptr) return {};
    auto copy = std::make_unique<tavik_profile>(*p);
    copy->meta_count = 0;
    for (int32_t i = 0; i < p->meta_count; ++i)
        if (!tavik::is_calibration_key(p->meta[i].key)) copy->meta[copy->meta_count++] = p->meta[i];
    for (const auto &[k, v] : meta)
        copy->meta[copy->meta_count++] =
            tavik_meta{const_cast<char *>(k.c_str()), const_cast<char *>(v.c_str())};
    const std::string path = dir.file(name);
    EXPECT_EQ(tavik_profile_write(copy.get(), path.c_str()), TAVIK_OK);
    tavik_profile_free(p);
    return read_file(path);
}

struct Session {
    tavik_model *model = nullptr;
    tavik_session *s = nullptr;
    explicit Session(const std::string &blob) {
        EXPECT_EQ(tavik_model_open_memory(blob.data(), blob.size(), &model), TAVIK_OK);
        if (model != nullptr) {
            EXPECT_EQ(tavik_session_new(model, &s), TAVIK_OK);
        }
    }
    ~Session() {
        tavik_session_free(s);
        tavik_model_free(model);
    }
    int32_t identify(const std::string &text) {
        return tavik_session_identify(s, text.data(), text.size());
    }
};

TEST(Calibration, MetaValuesAreParsedStrictlyByEveryLoader) {
    struct Case {
        const char *name;
        MetaPairs meta;
        bool ok;
    } const cases[] = {
        {"calibration and threshold",
         {{"tavik.calibration", kLeadOnly}, {"tavik.reliable", "0.95"}},
         true},
        {"threshold alone", {{"tavik.reliable", "1"}}, true},
        {"exponents and signs",
         {{"tavik.calibration", "logistic-v1 -1e-3 2.5E2 0 -0 1 .5 7. 0 3"}},
         true},
        {"with a text model", {{"tavik.case", "fold"}, {"tavik.calibration", kLeadOnly}}, true},
        {"unknown model", {{"tavik.calibration", "logistic-v2 -2 8 0 0 0 0 0 0 0"}}, false},
        {"too few weights", {{"tavik.calibration", "logistic-v1 -2 8 0 0 0 0 0 0"}}, false},
        {"too many weights", {{"tavik.calibration", "logistic-v1 -2 8 0 0 0 0 0 0 0 0"}}, false},
        {"two spaces", {{"tavik.calibration", "logistic-v1 -2  8 0 0 0 0 0 0 0"}}, false},
        {"trailing space", {{"tavik.calibration", "logistic-v1 -2 8 0 0 0 0 0 0 0 "}}, false},
        {"a comma", {{"tavik.calibration", "logistic-v1 -2 8,5 0 0 0 0 0 0 0"}}, false},
        {"a plus sign", {{"tavik.calibration", "logistic-v1 +2 8 0 0 0 0 0 0 0"}}, false},
        {"not a number", {{"tavik.calibration", "logistic-v1 nan 8 0 0 0 0 0 0 0"}}, false},
        {"infinite", {{"tavik.calibration", "logistic-v1 inf 8 0 0 0 0 0 0 0"}}, false},
        {"overflowing", {{"tavik.calibration", "logistic-v1 1e999 8 0 0 0 0 0 0 0"}}, false},
        {"empty calibration", {{"tavik.calibration", ""}}, false},
        {"threshold above 1", {{"tavik.reliable", "1.5"}}, false},
        {"threshold below 0", {{"tavik.reliable", "-0.1"}}, false},
        {"threshold with a space", {{"tavik.reliable", "0.9 "}}, false},
        {"threshold empty", {{"tavik.reliable", ""}}, false},
        {"calibration given twice",
         {{"tavik.calibration", kLeadOnly}, {"tavik.calibration", kLeadOnly}},
         false},
    };
    for (const Case &c : cases) {
        const std::string blob = with_meta(c.meta);
        const int32_t want = c.ok ? TAVIK_OK : TAVIK_BAD_PROFILE;
        EXPECT_EQ(tavik_load_profile_memory(blob.data(), blob.size()), want) << c.name;
        if (!c.ok) {
            EXPECT_NE(std::string(tavik_last_error()).find(c.meta.back().first), std::string::npos)
                << c.name << ": " << tavik_last_error();
        }
        tavik_model *m = nullptr;
        EXPECT_EQ(tavik_model_open_memory(blob.data(), blob.size(), &m), want) << c.name;
        EXPECT_EQ(m != nullptr, c.ok) << c.name;
        tavik_model_free(m);
    }
    tavik_free_profile();
}

TEST(Calibration, TrainingTakesThePairsAtAnyTime) {
    tavik_train_reset();
    ASSERT_EQ(tavik_train_begin("eng"), TAVIK_OK);
    ASSERT_EQ(tavik_train_feed("the three thin things"), TAVIK_OK);
    EXPECT_EQ(tavik_train_set_meta("tavik.calibration", kLeadOnly), TAVIK_OK);
    EXPECT_EQ(tavik_train_set_meta("tavik.reliable", "0.8"), TAVIK_OK);
    EXPECT_EQ(tavik_train_set_meta("tavik.reliable", "high"), TAVIK_INVALID);
    EXPECT_EQ(tavik_train_set_meta("tavik.calibration", "logistic-v1 1"), TAVIK_INVALID);
    // A text model pair still comes before the first language.
    EXPECT_EQ(tavik_train_set_meta("tavik.case", "fold"), TAVIK_INVALID);
    tavik_train_reset();
}

TEST(Calibration, SessionReportsAProbabilityOnlyWhenItHasOne) {
    TempDir dir;
    Session plain(default_with(dir, "plain.tavik", {}));
    Session calibrated(default_with(dir, "lead.tavik", {{"tavik.calibration", kLeadOnly}}));
    ASSERT_NE(plain.s, nullptr);
    ASSERT_NE(calibrated.s, nullptr);
    EXPECT_EQ(tavik_session_probability(nullptr), -1.0);
    EXPECT_EQ(tavik_session_reliable(nullptr), 0);
    EXPECT_EQ(tavik_session_probability(calibrated.s), -1.0) << "before the first text";

    struct Case {
        const char *name;
        std::string text;
        int32_t status;
        bool probability;  // from the calibrated model
    } const cases[] = {
        {"clear", "The quick brown fox jumps over the lazy dog and runs far away.", TAVIK_OK, true},
        {"too short", "Hello", TAVIK_TOO_FEW_NGRAMS, true},
        {"no letters", "12345 !!", TAVIK_TOO_FEW_NGRAMS, false},
        {"empty", "", TAVIK_TOO_FEW_NGRAMS, false},
        {"bad utf-8", "caf\xc3", TAVIK_BAD_UTF8, false},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(plain.identify(c.text), c.status) << c.name;
        ASSERT_EQ(calibrated.identify(c.text), c.status) << c.name;
        EXPECT_EQ(tavik_session_probability(plain.s), -1.0) << c.name;
        EXPECT_EQ(tavik_session_reliable(plain.s), 0) << c.name;
        const double p = tavik_session_probability(calibrated.s);
        if (c.probability) {
            EXPECT_GE(p, 0.0) << c.name;
            EXPECT_LE(p, 1.0) << c.name;
        } else {
            EXPECT_EQ(p, -1.0) << c.name;
        }
        // The designed outcome is the same with and without calibration.
        EXPECT_STREQ(tavik_session_result_json(plain.s), tavik_session_result_json(calibrated.s))
            << c.name;
    }
    // A failure after an answer leaves no probability behind.
    ASSERT_EQ(calibrated.identify("The quick brown fox jumps over the lazy dog."), TAVIK_OK);
    ASSERT_GE(tavik_session_probability(calibrated.s), 0.0);
    EXPECT_EQ(tavik_session_identify(calibrated.s, nullptr, 3), TAVIK_INVALID);
    EXPECT_EQ(tavik_session_probability(calibrated.s), -1.0);
}

TEST(Calibration, TooShortTextGetsTheProbabilityOfItsClosestLanguage) {
    TempDir dir;
    Session s(default_with(dir, "lead.tavik", {{"tavik.calibration", kLeadOnly}}));
    ASSERT_NE(s.s, nullptr);
    const std::string text = "Je pense";
    ASSERT_EQ(s.identify(text), TAVIK_TOO_FEW_NGRAMS);
    EXPECT_EQ(tavik_session_result_count(s.s), 0);
    const double short_p = tavik_session_probability(s.s);
    // Scored with the n-gram minimum lifted, the same text is the same answer.
    tavik_session_set_min_ngrams(s.s, 0);
    const int32_t rc = s.identify(text);
    ASSERT_TRUE(rc == TAVIK_OK || rc == TAVIK_AMBIGUOUS);
    EXPECT_EQ(tavik_session_probability(s.s), short_p);
}

TEST(Calibration, DefaultProfileIsCalibrated) {
    Session s(read_file(kDefaultProfile));
    ASSERT_NE(s.s, nullptr);
    EXPECT_NE(tavik_model_meta(s.model, "tavik.calibration"), nullptr);
    ASSERT_EQ(s.identify("Le chat dort sur le canapé pendant que la pluie tombe dehors."),
              TAVIK_OK);
    EXPECT_STREQ(tavik_session_best_code(s.s), "fra");
    EXPECT_GE(tavik_session_probability(s.s), 0.9);
    EXPECT_EQ(tavik_session_reliable(s.s), 1);
}

TEST(Calibration, ReliableAtOrAboveTheThreshold) {
    TempDir dir;
    struct Case {
        const char *calibration;
        const char *threshold;  // nullptr: the default, 0.9
        int32_t reliable;
    } const cases[] = {
        {"logistic-v1 0 0 0 0 0 0 0 0 0", "0.5", 1},  // exactly 0.5
        {"logistic-v1 0 0 0 0 0 0 0 0 0", "0.50001", 0},
        {"logistic-v1 0 0 0 0 0 0 0 0 0", nullptr, 0},
        {"logistic-v1 3 0 0 0 0 0 0 0 0", nullptr, 1},  // 0.953
        {"logistic-v1 2 0 0 0 0 0 0 0 0", nullptr, 0},  // 0.881
    };
    for (const Case &c : cases) {
        MetaPairs meta{{"tavik.calibration", c.calibration}};
        if (c.threshold != nullptr) meta.emplace_back("tavik.reliable", c.threshold);
        Session s(with_meta(meta));
        ASSERT_NE(s.s, nullptr);
        tavik_session_set_min_ngrams(s.s, 0);
        const int32_t rc = s.identify("the the");
        ASSERT_TRUE(rc == TAVIK_OK || rc == TAVIK_AMBIGUOUS) << rc;
        EXPECT_EQ(tavik_session_reliable(s.s), c.reliable) << c.calibration << " " << c.threshold;
    }
}

TEST(Calibration, ProbabilityFollowsTheSignOfEachWeight) {
    using tavik::CalibrationInput;
    const auto probability = [](const char *value, const CalibrationInput &in) {
        tavik::Calibration c;
        EXPECT_TRUE(tavik::calibration_apply(c, "tavik.calibration", value));
        return tavik::calibration_probability(c, in);
    };
    // Each input swept on its own, the others held: rising weights give a
    // rising probability, falling ones a falling one.
    struct Sweep {
        const char *name;
        const char *weights;
        double CalibrationInput::*field;
        double from, to;
        int direction;
    } const sweeps[] = {
        {"lead", "logistic-v1 -1 2 1 0 0.5 0 0 0 0.2", &CalibrationInput::confidence, 0.0, 1.0, 1},
        {"n-grams", "logistic-v1 -1 0 0 0.3 0 0 0 0.01 0", &CalibrationInput::ngrams, 0.0, 2000.0,
         1},
        {"winner's distance", "logistic-v1 2 0 0 0 0 -40 0 0 0", &CalibrationInput::best, 0.0, 0.2,
         -1},
        {"runner-up's distance", "logistic-v1 -2 0 0 0 0 0 30 0 0", &CalibrationInput::second, 0.0,
         0.2, 1},
    };
    for (const Sweep &w : sweeps) {
        CalibrationInput in;
        in.confidence = 0.2;
        in.ngrams = 100;
        in.best = 0.01;
        in.second = 0.02;
        double last = w.direction > 0 ? -1.0 : 2.0;
        for (int k = 0; k <= 20; ++k) {
            in.*w.field = w.from + (w.to - w.from) * k / 20;
            const double p = probability(w.weights, in);
            ASSERT_GE(p, 0.0) << w.name;
            ASSERT_LE(p, 1.0) << w.name;
            if (w.direction > 0)
                EXPECT_GT(p, last) << w.name << " step " << k;
            else
                EXPECT_LT(p, last) << w.name << " step " << k;
            last = p;
        }
    }
    // Extreme scores stay inside [0, 1] rather than overflowing.
    CalibrationInput in;
    in.confidence = 1.0;
    EXPECT_EQ(probability("logistic-v1 -1000 0 0 0 0 0 0 0 0", in), 0.0);
    EXPECT_EQ(probability("logistic-v1 1000 0 0 0 0 0 0 0 0", in), 1.0);
}

}  // namespace
