// SPDX-License-Identifier: MIT
// test_ngram_words.cpp - long texts are counted word by word; that must give
// exactly the list counting occurrence by occurrence gives.
#include <cstdint>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

#include "ngram_count.h"
#include "tavik/tavik_api.h"

namespace {

struct Entry {
    std::string text;
    int32_t count, order;
    bool operator==(const Entry &) const = default;
};

std::vector<Entry> extract(const std::string &text, int32_t max_len, uint64_t words_from) {
    tavik::count_words_from = words_from;
    tavik_ngram_list list{};
    EXPECT_EQ(tavik_ngram_extract(text.c_str(), max_len, &list), TAVIK_OK);
    std::vector<Entry> out;
    for (uint64_t k = 0; k < list.count; ++k)
        out.push_back({list.items[k].text, list.items[k].count, list.items[k].order});
    tavik_ngram_list_free(&list);
    return out;
}

// Words drawn from a small vocabulary (so they repeat), in several scripts,
// with now and then a word longer than the word buffer.
std::string random_text(uint32_t seed) {
    std::mt19937 rng(seed);
    const std::vector<std::string> syllables = {"ka", "ro", "ä",  "ße", "ми", "ла", "λο",
                                                "の", "語", "한", "X",  "q",  "𠀀"};
    std::vector<std::string> vocab;
    for (int i = 0; i < 60; ++i) {
        std::string w;
        for (int n = 1 + static_cast<int>(rng() % 5); n > 0; --n)
            w += syllables[rng() % syllables.size()];
        vocab.push_back(w);
    }
    std::string text;
    const std::vector<std::string> gaps = {" ", ", ", "\n", "1", " - ", "。"};
    for (int i = 0; i < 3000; ++i) {
        if (rng() % 500 == 0) text += std::string(4100 + rng() % 10, 'z');
        text += vocab[rng() % vocab.size()];
        text += gaps[rng() % gaps.size()];
    }
    return text;
}

TEST(NgramWords, WordByWordCountingMatchesOccurrenceByOccurrence) {
    for (uint32_t seed = 1; seed <= 4; ++seed) {
        const std::string text = random_text(seed);
        for (int32_t max_len : {1, 2, 3, 5, 7, 8}) {
            SCOPED_TRACE("seed " + std::to_string(seed) + " max_len " + std::to_string(max_len));
            const auto direct = extract(text, max_len, UINT64_MAX);
            const auto by_words = extract(text, max_len, 0);
            ASSERT_FALSE(direct.empty());
            EXPECT_TRUE(direct == by_words);
        }
    }
}

TEST(NgramWords, BadUtf8AfterManyWordsFailsCleanly) {
    tavik::count_words_from = 0;
    const std::string text = random_text(9) + "\xC3";
    tavik_ngram_list list{};
    EXPECT_EQ(tavik_ngram_extract(text.c_str(), 5, &list), TAVIK_BAD_UTF8);
    EXPECT_EQ(list.items, nullptr);
    EXPECT_EQ(list.count, 0u);
}

}  // namespace
