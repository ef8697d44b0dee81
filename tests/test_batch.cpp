// SPDX-License-Identifier: MIT
// test_batch.cpp - tavik_session_identify_batch: every outcome as its text
// alone would give it, under each kind of setting, and the refusals.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tavik/tavik_session.h"
#include "testutil.h"

using namespace tavik_test;
using namespace std::string_literals;

namespace {

const std::string kDefaultProfile = TAVIK_SOURCE_DIR "/data/default.tavik";

// Two sessions on one model: one for the batch, one for the texts alone.
struct Pair {
    tavik_model *model = nullptr;
    tavik_session *batch = nullptr;
    tavik_session *alone = nullptr;

    explicit Pair(const std::string &path) {
        EXPECT_EQ(tavik_model_open(path.c_str(), &model), TAVIK_OK);
        open();
    }
    explicit Pair(const std::string &bytes, bool /*memory*/) {
        EXPECT_EQ(tavik_model_open_memory(bytes.data(), bytes.size(), &model), TAVIK_OK);
        open();
    }
    ~Pair() {
        tavik_session_free(batch);
        tavik_session_free(alone);
        tavik_model_free(model);
    }
    Pair(const Pair &) = delete;
    Pair &operator=(const Pair &) = delete;

    void open() {
        if (model == nullptr) return;
        EXPECT_EQ(tavik_session_new(model, &batch), TAVIK_OK);
        EXPECT_EQ(tavik_session_new(model, &alone), TAVIK_OK);
    }
    template <class F>
    void both(F f) {
        f(batch);
        f(alone);
    }
};

BatchText text(std::string bytes) { return BatchText{std::move(bytes)}; }
BatchText null_text(uint64_t length) { return BatchText{"", true, length}; }

// Texts of every kind an outcome distinguishes, in an order that puts
// failures and refusals between texts that count n-grams.
std::vector<BatchText> mixed_texts() {
    return {
        text("The quick brown fox jumps over the lazy dog while the farmer watches from the barn."),
        text("Der schnelle braune Fuchs springt über den faulen Hund, und der Bauer schaut zu."),
        text("ok"),  // too few n-grams, but some
        text(""),
        null_text(0),
        text("Le renard brun rapide saute par-dessus le chien paresseux pendant que le fermier."),
        null_text(5),  // refused: the query of the text before stays
        text(std::string("bad \xC3\x28 utf8 in the middle of an english sentence about dogs")),
        text("12345 67890 !!! ..."),
        text("nul\0inside an english sentence about the lazy dog and the fox"s),
        text("El rápido zorro marrón salta sobre el perro perezoso mientras el granjero mira."),
        text("El rápido zorro marrón salta sobre el perro perezoso mientras el granjero mira."),
        text("Η γρήγορη καφέ αλεπού πηδά πάνω από τον τεμπέλη σκύλο."),
        text(std::string(3000, 'a') + " long words " + std::string(500, 'z')),
    };
}

struct Setting {
    const char *name;
    void (*apply)(tavik_session *);
};

const Setting kSettings[] = {
    {"defaults", [](tavik_session *) {}},
    {"candidates",
     [](tavik_session *s) { EXPECT_EQ(tavik_session_set_candidates(s, "fra,deu,eng"), TAVIK_OK); }},
    {"no n-gram minimum", [](tavik_session *s) { tavik_session_set_min_ngrams(s, 0); }},
    {"high n-gram minimum", [](tavik_session *s) { tavik_session_set_min_ngrams(s, 400); }},
    {"wide margin", [](tavik_session *s) { tavik_session_set_min_margin(s, 40.0); }},
    {"size penalty, short n-grams, short ranking",
     [](tavik_session *s) {
         tavik_session_set_size_penalty(s, 1);
         tavik_session_set_max_ngram_length(s, 3);
         tavik_session_set_max_distribution(s, 50);
         tavik_session_set_occurance_threshold(s, 2);
     }},
};

// The default profile carries a calibration, so probabilities and the
// reliable flag are compared as well.
TEST(Batch, OutcomesAreThoseOfTextsAlone) {
    for (const Setting &setting : kSettings) {
        SCOPED_TRACE(setting.name);
        Pair p(kDefaultProfile);
        ASSERT_NE(p.batch, nullptr);
        p.both(setting.apply);
        expect_batch_as_alone(p.batch, p.alone, mixed_texts());
        // A second batch on the same session reuses its storage.
        std::vector<BatchText> reversed = mixed_texts();
        std::reverse(reversed.begin(), reversed.end());
        expect_batch_as_alone(p.batch, p.alone, reversed);
    }
}

// The session ends as its last text leaves it, whatever that text is.
TEST(Batch, SessionHoldsTheLastTextsOutcome) {
    const std::vector<BatchText> lasts[] = {
        {text("the lazy dog sleeps in the sun all day long and the fox runs by")},
        {text("der Hund schläft in der Sonne"), null_text(3)},
        {null_text(0)},
        {text("ok")},
        {text("the dog"), text(std::string("\xFF"))},
    };
    for (const auto &texts : lasts) {
        Pair p(kDefaultProfile);
        ASSERT_NE(p.batch, nullptr);
        expect_batch_as_alone(p.batch, p.alone, texts);
    }
}

// A model without calibration, of few languages, where a text with few
// n-grams is often ambiguous and a text of one language's own n-grams
// decides clearly.
TEST(Batch, SmallUncalibratedProfile) {
    const std::string blob = make_profile({{"eng", {"_t", "th", "he", "e_", "_th", "the", "he_"}},
                                           {"fra", {"_l", "le", "e_", "es", "_le", "le_"}},
                                           {"deu", {"_d", "de", "er", "r_", "_de", "der"}}});
    Pair p(blob, true);
    ASSERT_NE(p.batch, nullptr);
    p.both([](tavik_session *s) { tavik_session_set_min_ngrams(s, 3); });
    expect_batch_as_alone(p.batch, p.alone,
                          {text("the the the"), text("le les le"), text("der"), text("xyz"),
                           text("e"), text(""), text("th le de")});
}

// Batches on sessions of one model on several threads at once: each thread
// gets what one session alone gets, and the model is only read.
TEST(Batch, ThreadsShareOneModel) {
    tavik_model *model = nullptr;
    ASSERT_EQ(tavik_model_open(kDefaultProfile.c_str(), &model), TAVIK_OK);
    std::vector<std::string> texts;
    for (const BatchText &t : mixed_texts())
        if (!t.null) texts.push_back(t.bytes);
    std::vector<const char *> ptrs;
    std::vector<uint64_t> lengths;
    for (const std::string &t : texts) {
        ptrs.push_back(t.data());
        lengths.push_back(t.size());
    }
    const auto run = [&](std::string *out) {
        tavik_session *s = nullptr;
        if (tavik_session_new(model, &s) != TAVIK_OK) return;
        std::vector<tavik_outcome> o(texts.size());
        bool ok = true;
        for (int round = 0; round < 20 && ok; ++round)
            ok = tavik_session_identify_batch(s, ptrs.data(), lengths.data(), texts.size(),
                                              o.data()) == TAVIK_OK;
        for (const tavik_outcome &one : o)
            if (ok)
                *out +=
                    std::to_string(one.status) + one.language + std::to_string(one.distance) + " ";
        tavik_session_free(s);
    };
    std::string want, got[2];
    run(&want);
    std::thread a(run, &got[0]), b(run, &got[1]);
    a.join();
    b.join();
    EXPECT_FALSE(want.empty());
    EXPECT_EQ(got[0], want);
    EXPECT_EQ(got[1], want);
    tavik_model_free(model);
}

TEST(Batch, RefusesMissingArraysAndLeavesTheSessionAlone) {
    Pair p(kDefaultProfile);
    ASSERT_NE(p.batch, nullptr);
    const char *texts[] = {"the lazy dog sleeps in the sun all day long and the fox runs by"};
    const uint64_t lengths[] = {std::strlen(texts[0])};
    tavik_outcome first[1];
    ASSERT_EQ(tavik_session_identify_batch(p.batch, texts, lengths, 1, first), TAVIK_OK);
    ASSERT_GT(first[0].result_count, 0);
    const std::string kept(first[0].results[0].code);
    const std::string json = tavik_session_result_json(p.batch);

    tavik_outcome untouched[1];
    std::memset(untouched, 0x5A, sizeof untouched);
    struct Case {
        const char *what;
        tavik_session *session;
        const char *const *texts;
        const uint64_t *lengths;
        uint64_t n;
        tavik_outcome *outcomes;
        int32_t rc;
    } const cases[] = {
        {"NULL session", nullptr, texts, lengths, 1, untouched, TAVIK_INVALID},
        {"NULL session, no texts", nullptr, nullptr, nullptr, 0, nullptr, TAVIK_INVALID},
        {"NULL texts", p.batch, nullptr, lengths, 1, untouched, TAVIK_INVALID},
        {"NULL lengths", p.batch, texts, nullptr, 1, untouched, TAVIK_INVALID},
        {"NULL outcomes", p.batch, texts, lengths, 1, nullptr, TAVIK_INVALID},
        {"no texts", p.batch, texts, lengths, 0, untouched, TAVIK_OK},
        {"no texts, no arrays", p.batch, nullptr, nullptr, 0, nullptr, TAVIK_OK},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(tavik_session_identify_batch(c.session, c.texts, c.lengths, c.n, c.outcomes),
                  c.rc);
        const unsigned char *bytes = reinterpret_cast<const unsigned char *>(untouched);
        for (size_t i = 0; i < sizeof untouched; ++i) ASSERT_EQ(bytes[i], 0x5A) << i;
        EXPECT_EQ(tavik_session_result_json(p.batch), json);
        // The previous batch's results are still there to read.
        EXPECT_EQ(first[0].results[0].code, kept);
    }
}

}  // namespace
