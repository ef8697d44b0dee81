// SPDX-License-Identifier: MIT
// test_lean_model.cpp - models keep no per-language records: every rank an
// explanation shows comes from the index, and must be the designed
// record's.
//
// The designed interface (G) keeps the designed records and is the
// reference: the same profile bytes loaded there and opened as a model must
// give the same outcome, query list, result document and explanation of
// every language, including ranks of texts a language repeats, texts held
// by many languages (the index's dense rows) or by few (postings), texts
// longer than the index's inline keys, and a language with no n-grams.
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

#include "model_file.h"
#include "tavik/tavik_api.h"
#include "tavik/tavik_session.h"
#include "testutil.h"

using namespace tavik_test;

namespace {

// Words of several scripts; with n-grams of up to 7 letters, the CJK ones
// give texts of 18 to 21 bytes, longer than an inline key.
const char *const kWords = "日本語の文章を読みました 東京大学図書館 the quick brown foxes jumped "
                           "над ленивой собакой über große Flüsse";

// The n-grams the designed extraction makes of `text` under a profile of
// n-grams up to 7 letters.
std::vector<std::string> ngrams_of(const std::string &text) {
    load(make_profile({{"xxx", {"a"}}}));
    tavik_set_max_ngram_length(7);
    EXPECT_EQ(tavik_extract_ngrams(text.c_str()), TAVIK_OK);
    std::vector<std::string> out;
    for (int32_t i = 0; i < tavik_ngram_count(); ++i) out.emplace_back(tavik_ngram(i));
    tavik_free_profile();
    return out;
}

// A profile over the n-grams `q`: one language holds them all and repeats
// some (the lowest rank stands), others hold every second, third or fifth
// (texts held by many languages and by few), one reverses them, one holds
// none.
std::string fixture_profile(const std::vector<std::string> &q) {
    Blob b;
    b.header(8, 0, 1, 1, 7, 4000, 0);
    std::vector<std::string> all = q, reversed(q.rbegin(), q.rend()), repeats;
    all.push_back(q[0]);
    all.push_back(q[q.size() / 2]);
    for (size_t k = 0; k < q.size(); ++k) repeats.push_back(q[(k * 7) % q.size()]);
    b.lang("all", all).lang("rev", reversed).lang("rep", repeats).lang("none", {});
    for (const size_t step : {2u, 3u, 5u, 11u}) {
        std::vector<std::string> some;
        for (size_t k = step - 1; k < q.size(); k += step) some.push_back(q[k]);
        b.lang("s" + std::to_string(step), some);
    }
    return b.bytes();
}

struct Settings {
    const char *name;
    int32_t min_ngrams, size_penalty, max_distribution;
};

const Settings kSettings[] = {
    {"defaults but no minimum", 0, 0, 4000},
    {"size penalty", 0, 1, 4000},
    {"short query lists", 0, 1, 7},
    {"unlimited lists", 0, 0, 0},
};

// The designed interface's last outcome with every language explained.
std::string designed_outcome(int32_t rc) {
    std::string s = "rc " + std::to_string(rc) + "\n" + tavik_last_error() + "\n";
    for (int32_t i = 0; i < tavik_ngram_count(); ++i) s += std::string(tavik_ngram(i)) + " ";
    s += "\n" + std::string(tavik_result_json());
    for (int32_t l = 0; l < tavik_profile_language_count(); ++l)
        s += "\n" + std::string(tavik_explain(l));
    return s;
}

// The same of a session on one profile.
std::string session_outcome(tavik_session *s, int32_t rc) {
    std::string o = "rc " + std::to_string(rc) + "\n" + tavik_session_last_error(s) + "\n";
    for (int32_t i = 0; i < tavik_session_ngram_count(s); ++i)
        o += std::string(tavik_session_ngram(s, i)) + " ";
    o += "\n" + std::string(tavik_session_result_json(s));
    for (int32_t l = 0; l < tavik_session_language_count(s); ++l)
        o += "\n" + std::string(tavik_session_explain(s, l));
    return o;
}

TEST(LeanModel, ExplainsEveryLanguageAsTheDesignedRecords) {
    const std::vector<std::string> q = ngrams_of(kWords);
    ASSERT_GT(q.size(), 40u);
    size_t long_texts = 0;
    for (const std::string &t : q) long_texts += t.size() > 16 ? 1 : 0;
    ASSERT_GT(long_texts, 0u);  // the fixture reaches the index's long keys
    const std::string profile = fixture_profile(q);
    const std::string texts[] = {kWords, "東京大学図書館の文章", "the brown foxes",
                                 "nothing alike"};
    Opened o(profile);
    ASSERT_NE(o.session, nullptr);
    load(profile);
    for (const Settings &c : kSettings) {
        SCOPED_TRACE(c.name);
        tavik_set_min_ngrams(c.min_ngrams);
        tavik_set_size_penalty(c.size_penalty);
        tavik_set_max_distribution(c.max_distribution);
        tavik_session_set_min_ngrams(o.session, c.min_ngrams);
        tavik_session_set_size_penalty(o.session, c.size_penalty);
        tavik_session_set_max_distribution(o.session, c.max_distribution);
        for (const std::string &text : texts) {
            const std::string want = designed_outcome(tavik_identify(text.c_str()));
            EXPECT_EQ(session_outcome(o.session,
                                      tavik_session_identify(o.session, text.data(), text.size())),
                      want)
                << text;
        }
    }
    tavik_free_profile();
}

// The default profile's languages explained for a sample of the
// development set: every language's ranks, in rows and postings alike.
TEST(LeanModel, DefaultProfileExplanationsMatch) {
    const std::string profile = read_file(TAVIK_SOURCE_DIR "/data/default.tavik");
    const std::string dev = read_file(TAVIK_SOURCE_DIR "/data/dev.tsv");
    std::vector<std::string> texts;
    for (size_t pos = 0, line = 0; pos < dev.size(); ++line) {
        size_t nl = dev.find('\n', pos);
        if (nl == std::string::npos) nl = dev.size();
        const std::string l = dev.substr(pos, nl - pos);
        pos = nl + 1;
        const size_t t1 = l.find('\t'), t2 = l.find('\t', t1 + 1);
        if (t1 != std::string::npos && line % 97 == 0)
            texts.push_back(l.substr(t1 + 1, t2 - t1 - 1));
    }
    ASSERT_GT(texts.size(), 50u);
    Opened o(profile);
    ASSERT_NE(o.session, nullptr);
    load(profile);
    for (const std::string &text : texts)
        ASSERT_EQ(
            session_outcome(o.session, tavik_session_identify(o.session, text.data(), text.size())),
            designed_outcome(tavik_identify(text.c_str())))
            << text;
    tavik_free_profile();
}

// Each member of a bundle explains its languages as its profile does
// alone: the member's index answers, not the first member's.
tavik::BundleContents two_members() {
    const std::vector<std::string> q = ngrams_of(kWords);
    tavik::BundleContents contents;
    contents.members.push_back({{"Latin", "Cyrillic"}, fixture_profile(q)});
    Blob cjk;  // the same settings as the first member, whose header sessions start from
    cjk.header(2, 0, 1, 1, 7, 4000, 0).lang("jpn", {q[1], q[0], q[3]}).lang("zho", {q[0], q[2]});
    contents.members.push_back({{"Han", "Japanese"}, cjk.bytes()});
    return contents;
}

std::string bundle_of(const tavik::BundleContents &contents) {
    std::string bytes, error;
    EXPECT_TRUE(tavik::model_file_write(contents, true, &bytes, &error)) << error;
    return bytes;
}

TEST(LeanModel, BundleMembersExplainAsTheirProfiles) {
    const tavik::BundleContents contents = two_members();
    const std::string bytes = bundle_of(contents);
    Opened o(bytes);
    ASSERT_NE(o.session, nullptr);
    const struct {
        const char *text;
        int32_t member, first;  // the member, and its first language's model place
    } kCases[] = {
        {"the quick brown foxes jumped над ленивой", 0, 0},
        {"日本語の文章を読みました 東京大学図書館", 1, 8},
    };
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.text);
        tavik_session_set_min_ngrams(o.session, 0);
        const int32_t got = tavik_session_identify(o.session, c.text, std::strlen(c.text));
        const std::string &member = contents.members[static_cast<size_t>(c.member)].profile;
        load(member);
        tavik_set_min_ngrams(0);
        EXPECT_EQ(got, tavik_identify(c.text));
        for (int32_t l = 0; l < tavik_profile_language_count(); ++l) {
            // The session's documents add the route after the designed keys.
            std::string want = tavik_explain(l);
            want.pop_back();
            const std::string doc = tavik_session_explain(o.session, c.first + l);
            EXPECT_EQ(doc.substr(0, want.size()), want) << "language " << l;
        }
        tavik_free_profile();
    }
}

}  // namespace

namespace {

// Threads that meet a bundle's members for the first time at once each
// see the one index built for them: their outcomes are the serial ones.
TEST(LeanModel, ThreadsOpenMembersOnceAndAgree) {
    const std::string bytes = bundle_of(two_members());
    const std::vector<std::string> texts = {"the quick brown foxes jumped над ленивой",
                                            "日本語の文章を読みました 東京大学図書館",
                                            "über große Flüsse", "東京大学図書館"};
    std::vector<std::string> want;
    {
        Opened serial(bytes);
        tavik_session_set_min_ngrams(serial.session, 0);
        for (const std::string &t : texts)
            want.push_back(session_outcome(
                serial.session, tavik_session_identify(serial.session, t.data(), t.size())));
    }
    tavik_model *model = nullptr;
    ASSERT_EQ(tavik_model_open_memory(bytes.data(), bytes.size(), &model), TAVIK_OK);
    constexpr size_t kThreads = 4;
    std::vector<std::vector<std::string>> got(kThreads);
    std::vector<std::thread> threads;
    for (size_t k = 0; k < kThreads; ++k)
        threads.emplace_back([&, k] {
            tavik_session *s = nullptr;
            if (tavik_session_new(model, &s) != TAVIK_OK) return;
            tavik_session_set_min_ngrams(s, 0);
            for (size_t i = 0; i < texts.size(); ++i) {
                const std::string &t = texts[(i + k) % texts.size()];
                got[k].push_back(session_outcome(s, tavik_session_identify(s, t.data(), t.size())));
            }
            tavik_session_free(s);
        });
    for (std::thread &t : threads) t.join();
    tavik_model_free(model);
    for (size_t k = 0; k < kThreads; ++k) {
        ASSERT_EQ(got[k].size(), texts.size()) << "thread " << k;
        for (size_t i = 0; i < texts.size(); ++i)
            EXPECT_EQ(got[k][i], want[(i + k) % texts.size()]) << "thread " << k;
    }
}

}  // namespace
