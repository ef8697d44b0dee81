// SPDX-License-Identifier: MIT
// test_train.cpp - training through the library: collecting text, ending
// languages, limits, meta pairs, and writing the profile.
#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

#include "api_internal.h"
#include "testutil.h"

using tavik::T;
using tavik_test::codes_of;
using tavik_test::meta_of;
using tavik_test::MetaPairs;
using tavik_test::read_file;
using tavik_test::TempDir;

namespace {

// A profile file read back through the reader, released with the object.
class ReadBack {
public:
    explicit ReadBack(const std::string &path) {
        EXPECT_EQ(tavik_profile_load_path(path.c_str(), &p_), TAVIK_OK) << path;
    }
    ~ReadBack() { tavik_profile_free(p_); }
    ReadBack(const ReadBack &) = delete;
    ReadBack &operator=(const ReadBack &) = delete;

    bool ok() const { return p_ != nullptr; }
    const tavik_profile &operator*() const { return *p_; }
    const tavik_profile *operator->() const { return p_; }

private:
    tavik_profile *p_ = nullptr;
};

MetaPairs meta_of_training() {
    MetaPairs pairs;
    for (int32_t i = 0; i < T.meta_count; ++i) pairs.emplace_back(T.meta[i].key, T.meta[i].value);
    return pairs;
}

// Text and count of every entry, in rank order.
std::vector<std::pair<std::string, int32_t>> entries_of(const tavik_ngram_list &l) {
    std::vector<std::pair<std::string, int32_t>> out;
    for (uint64_t k = 0; k < l.count; ++k) out.emplace_back(l.items[k].text, l.items[k].count);
    return out;
}

// Empty training with the default extraction settings, whatever an earlier
// test in this process changed.
void fresh_training() {
    tavik_train_reset();
    tavik_set_max_ngram_length(5);
    tavik_set_max_distribution(4000);
    tavik_set_occurance_threshold(0);
}

std::string collected_text(const tavik_train_lang &l) {
    return l.text == nullptr ? std::string() : std::string(l.text, l.text_len);
}

// `n` bytes of letters, different for every piece so that misplaced copies show.
std::string piece(size_t n, char first) {
    std::string s(n, ' ');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(first + i % 7);
    return s;
}

TEST(TrainFeed, CollectsPiecesInADoublingBuffer) {
    struct Case {
        const char *name;
        std::vector<size_t> pieces;
        std::vector<uint64_t> capacities;  // after each piece
    };
    const Case cases[] = {
        {"two short pieces", {2, 2}, {4096, 4096}},
        {"an empty piece adds a line feed", {0}, {4096}},
        {"4094 bytes fill the first buffer", {4094}, {4096}},
        {"4095 bytes do not fit it", {4095}, {8192}},
        {"5000 bytes get 8192", {5000}, {8192}},
        {"later growth doubles as often as needed", {4000, 100, 20000}, {4096, 8192, 32768}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fresh_training();
        ASSERT_EQ(tavik_train_begin("eng"), TAVIK_OK);
        std::string expected;
        for (size_t i = 0; i < c.pieces.size(); ++i) {
            const std::string text = piece(c.pieces[i], static_cast<char>('a' + i));
            ASSERT_EQ(tavik_train_feed(text.c_str()), TAVIK_OK);
            expected += text + "\n";
            const tavik_train_lang &l = T.langs[0];
            EXPECT_EQ(l.text_cap, c.capacities[i]) << "piece " << i;
            EXPECT_EQ(collected_text(l), expected);
            EXPECT_EQ(l.text[l.text_len], '\0');
        }
    }
    tavik_train_reset();
}

TEST(TrainCalls, NeedAnOpenLanguage) {
    TempDir dir;
    const std::string out = dir.file("p.tavik");
    fresh_training();
    EXPECT_EQ(tavik_train_feed("text"), TAVIK_INVALID);
    EXPECT_EQ(tavik_train_end_language(), TAVIK_INVALID);
    EXPECT_EQ(tavik_train_write_profile(out.c_str()), TAVIK_INVALID);
    EXPECT_FALSE(std::filesystem::exists(out));

    ASSERT_EQ(tavik_train_begin("eng"), TAVIK_OK);
    EXPECT_EQ(tavik_train_feed(nullptr), TAVIK_INVALID);
    EXPECT_EQ(tavik_train_write_profile(nullptr), TAVIK_INVALID);
    EXPECT_EQ(T.current, 0) << "a refused write ends nothing";
    EXPECT_EQ(tavik_train_end_language(), TAVIK_OK);
    EXPECT_EQ(tavik_train_end_language(), TAVIK_INVALID);
    EXPECT_EQ(tavik_train_feed("text"), TAVIK_INVALID);
}

TEST(TrainEnd, RanksTheTextOrLeavesAnEmptyList) {
    fresh_training();
    ASSERT_EQ(tavik_train_begin("eng"), TAVIK_OK);
    EXPECT_EQ(tavik_train_end_language(), TAVIK_OK);
    EXPECT_EQ(T.current, -1);
    EXPECT_EQ(T.langs[0].ngrams.count, 0u);

    ASSERT_EQ(tavik_train_begin("fra"), TAVIK_OK);
    ASSERT_EQ(tavik_train_feed("aaaa bbb"), TAVIK_OK);
    ASSERT_EQ(tavik_train_feed("ab"), TAVIK_OK);
    ASSERT_EQ(tavik_train_end_language(), TAVIK_OK);
    const tavik_train_lang &fra = T.langs[1];
    EXPECT_EQ(T.current, -1);
    EXPECT_EQ(fra.text, nullptr);
    EXPECT_EQ(fra.text_len, 0u);
    EXPECT_EQ(fra.text_cap, 0u);
    const auto entries = entries_of(fra.ngrams);
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries[0], (std::pair<std::string, int32_t>{"a", 5}));
    for (size_t k = 1; k < entries.size(); ++k)
        EXPECT_GE(entries[k - 1].second, entries[k].second) << entries[k].first;
    // The line feed between pieces keeps "bbb" and "ab" apart.
    for (const auto &[text, count] : entries) EXPECT_NE(text, "bbbab");

    TempDir dir;
    const std::string out = dir.file("p.tavik");
    ASSERT_EQ(tavik_train_write_profile(out.c_str()), TAVIK_OK);
    const ReadBack p(out);
    ASSERT_TRUE(p.ok());
    EXPECT_EQ(codes_of(*p), (std::vector<std::string>{"eng", "fra"}));
    EXPECT_EQ(p->langs[0].ngrams.count, 0u);
    EXPECT_EQ(entries_of(p->langs[1].ngrams), entries);
}

TEST(TrainEnd, MalformedUtf8LeavesTheLanguageOpen) {
    TempDir dir;
    const std::string out = dir.file("p.tavik");
    fresh_training();
    ASSERT_EQ(tavik_train_begin("eng"), TAVIK_OK);
    ASSERT_EQ(tavik_train_feed("fine"), TAVIK_OK);
    ASSERT_EQ(tavik_train_feed("cut \xC3"), TAVIK_OK);
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(tavik_train_end_language(), TAVIK_BAD_UTF8);
        EXPECT_EQ(T.current, 0);
        EXPECT_EQ(collected_text(T.langs[0]), "fine\ncut \xC3\n");
        EXPECT_EQ(T.langs[0].ngrams.count, 0u);
    }
    EXPECT_EQ(tavik_train_write_profile(out.c_str()), TAVIK_BAD_UTF8);
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_EQ(T.current, 0);

    // Another language takes over; the broken one is written without n-grams.
    ASSERT_EQ(tavik_train_begin("fra"), TAVIK_OK);
    ASSERT_EQ(tavik_train_feed("oui"), TAVIK_OK);
    ASSERT_EQ(tavik_train_write_profile(out.c_str()), TAVIK_OK);
    const ReadBack p(out);
    ASSERT_TRUE(p.ok());
    EXPECT_EQ(codes_of(*p), (std::vector<std::string>{"eng", "fra"}));
    EXPECT_EQ(p->langs[0].ngrams.count, 0u);
    EXPECT_GT(p->langs[1].ngrams.count, 0u);
}

TEST(TrainLimits, CodesAndSixtyFourLanguages) {
    fresh_training();
    EXPECT_EQ(tavik_train_begin(nullptr), TAVIK_INVALID);
    EXPECT_EQ(tavik_train_begin(""), TAVIK_INVALID);
    EXPECT_EQ(tavik_train_begin("abcdefgh"), TAVIK_INVALID);
    EXPECT_EQ(T.lang_count, 0);
    EXPECT_EQ(T.current, -1);

    ASSERT_EQ(tavik_train_begin("abcdefg"), TAVIK_OK);
    std::vector<std::string> codes{"abcdefg"};
    for (int i = 1; i < 64; ++i) {
        codes.push_back("l" + std::to_string(i));
        ASSERT_EQ(tavik_train_begin(codes.back().c_str()), TAVIK_OK);
    }
    ASSERT_EQ(tavik_train_feed("last words"), TAVIK_OK);
    EXPECT_EQ(tavik_train_begin("l64"), TAVIK_INVALID);
    EXPECT_EQ(T.lang_count, 64);
    EXPECT_EQ(T.current, 63) << "the open language stays open";
    EXPECT_EQ(tavik_train_feed("more"), TAVIK_OK);
    EXPECT_EQ(collected_text(T.langs[63]), "last words\nmore\n");

    TempDir dir;
    const std::string out = dir.file("p.tavik");
    ASSERT_EQ(tavik_train_write_profile(out.c_str()), TAVIK_OK);
    const ReadBack p(out);
    ASSERT_TRUE(p.ok());
    EXPECT_EQ(codes_of(*p), codes);
    EXPECT_GT(p->langs[63].ngrams.count, 0u);
}

TEST(TrainMeta, ReplacesInPlaceAndStopsAtSixtyFourKeys) {
    fresh_training();
    EXPECT_EQ(tavik_train_set_meta(nullptr, "v"), TAVIK_INVALID);
    EXPECT_EQ(tavik_train_set_meta("k", nullptr), TAVIK_INVALID);
    ASSERT_EQ(tavik_train_set_meta("a", "1"), TAVIK_OK);
    ASSERT_EQ(tavik_train_set_meta("b", "2"), TAVIK_OK);
    ASSERT_EQ(tavik_train_set_meta("A", "case matters"), TAVIK_OK);
    ASSERT_EQ(tavik_train_set_meta("a", "3"), TAVIK_OK);
    ASSERT_EQ(tavik_train_set_meta("", ""), TAVIK_OK);
    EXPECT_EQ(meta_of_training(),
              (MetaPairs{{"a", "3"}, {"b", "2"}, {"A", "case matters"}, {"", ""}}));

    MetaPairs expected = meta_of_training();
    for (int i = static_cast<int>(expected.size()); i < 64; ++i) {
        const std::string key = "k" + std::to_string(i);
        ASSERT_EQ(tavik_train_set_meta(key.c_str(), "v"), TAVIK_OK);
        expected.emplace_back(key, "v");
    }
    EXPECT_EQ(tavik_train_set_meta("one too many", "v"), TAVIK_INVALID);
    EXPECT_EQ(tavik_train_set_meta("b", "replaced"), TAVIK_OK);
    expected[1].second = "replaced";
    EXPECT_EQ(meta_of_training(), expected);

    TempDir dir;
    const std::string out = dir.file("p.tavik");
    ASSERT_EQ(tavik_train_begin("eng"), TAVIK_OK);
    ASSERT_EQ(tavik_train_write_profile(out.c_str()), TAVIK_OK);
    const ReadBack p(out);
    ASSERT_TRUE(p.ok());
    EXPECT_EQ(meta_of(*p), expected);
}

TEST(TrainWrite, UsesTheSettingsInForceAndKeepsEveryLanguage) {
    TempDir dir;
    const std::string out = dir.file("p.tavik");
    const char *text = "the quick brown fox jumps over the lazy dog";
    fresh_training();
    tavik_set_max_distribution(3);
    ASSERT_EQ(tavik_train_begin("eng"), TAVIK_OK);
    ASSERT_EQ(tavik_train_feed(text), TAVIK_OK);
    ASSERT_EQ(tavik_train_end_language(), TAVIK_OK);
    tavik_set_max_distribution(4000);
    ASSERT_EQ(tavik_train_begin("eng"), TAVIK_OK);
    ASSERT_EQ(tavik_train_feed(text), TAVIK_OK);
    tavik_set_max_distribution(50);
    tavik_set_max_ngram_length(3);
    // The write ends the open language under the settings of this moment.
    ASSERT_EQ(tavik_train_write_profile(out.c_str()), TAVIK_OK);

    const ReadBack p(out);
    ASSERT_TRUE(p.ok());
    EXPECT_EQ(p->flags, 1);
    EXPECT_EQ(p->max_ngram_length, 3);
    EXPECT_EQ(p->max_distribution, 50);
    EXPECT_EQ(p->occurance_threshold, 0);
    EXPECT_EQ(codes_of(*p), (std::vector<std::string>{"eng", "eng"}));
    EXPECT_EQ(p->langs[0].ngrams.count, 3u);
    EXPECT_EQ(p->langs[1].ngrams.count, 50u);
    for (int j = 0; j < 2; ++j)
        EXPECT_EQ(entries_of(p->langs[j].ngrams), entries_of(T.langs[j].ngrams));
    for (uint64_t k = 0; k < p->langs[1].ngrams.count; ++k)
        EXPECT_LE(std::string(p->langs[1].ngrams.items[k].text).size(), 3u);
}

TEST(TrainWrite, TwiceGivesTheSameBytesAndResetEmptiesTraining) {
    TempDir dir;
    const std::string first = dir.file("1.tavik"), second = dir.file("2.tavik");
    fresh_training();
    ASSERT_EQ(tavik_train_set_meta("source", "test"), TAVIK_OK);
    ASSERT_EQ(tavik_train_begin("deu"), TAVIK_OK);
    ASSERT_EQ(tavik_train_feed("der die das"), TAVIK_OK);
    ASSERT_EQ(tavik_train_begin("nld"), TAVIK_OK);
    ASSERT_EQ(tavik_train_feed("de het een"), TAVIK_OK);
    ASSERT_EQ(tavik_train_write_profile(first.c_str()), TAVIK_OK);
    EXPECT_EQ(T.current, -1);
    EXPECT_EQ(T.lang_count, 2);
    EXPECT_EQ(T.meta_count, 1);
    ASSERT_EQ(tavik_train_write_profile(second.c_str()), TAVIK_OK);
    const std::string bytes = read_file(first);
    EXPECT_FALSE(bytes.empty());
    EXPECT_EQ(read_file(second), bytes);
    ASSERT_EQ(tavik_train_write_profile(first.c_str()), TAVIK_OK);
    EXPECT_EQ(read_file(first), bytes);

    tavik_train_reset();
    EXPECT_EQ(T.lang_count, 0);
    EXPECT_EQ(T.meta_count, 0);
    EXPECT_EQ(T.current, -1);
    for (const tavik_train_lang &l : T.langs) {
        EXPECT_EQ(l.text, nullptr);
        EXPECT_EQ(l.ngrams.items, nullptr);
    }
    for (const tavik_meta &m : T.meta) EXPECT_EQ(m.key, nullptr);
    EXPECT_EQ(tavik_train_write_profile(first.c_str()), TAVIK_INVALID);
    EXPECT_EQ(read_file(first), bytes) << "a refused write leaves the file alone";
    tavik_train_state_reset();
    EXPECT_EQ(T.current, -1);
}

// With max_distribution above the reader's limit a language can hold more
// n-grams than a profile may; the writer refuses it instead of writing a
// file nobody can read.
TEST(TrainWrite, RefusesAListTheReaderWouldReject) {
    TempDir dir;
    const std::string out = dir.file("p.tavik");
    std::string text;
    uint32_t x = 12345;
    for (int w = 0; w < 8000; ++w) {
        for (int i = 0; i < 9; ++i) {
            x = x * 1103515245u + 12345u;
            text += static_cast<char>('a' + (x >> 16) % 26);
        }
        text += ' ';
    }
    fresh_training();
    tavik_set_max_distribution(1000000);
    ASSERT_EQ(tavik_train_begin("xxx"), TAVIK_OK);
    ASSERT_EQ(tavik_train_feed(text.c_str()), TAVIK_OK);
    ASSERT_EQ(tavik_train_end_language(), TAVIK_OK);
    ASSERT_GT(T.langs[0].ngrams.count, static_cast<uint64_t>(TAVIK_MAX_LANG_NGRAMS));
    EXPECT_EQ(tavik_train_write_profile(out.c_str()), TAVIK_INVALID);
    EXPECT_FALSE(std::filesystem::exists(out));
}

}  // namespace
