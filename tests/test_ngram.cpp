// SPDX-License-Identifier: MIT
// test_ngram.cpp - n-gram extraction, counting and ranking.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "ngram_key.h"
#include "reference.h"
#include "tavik/tavik_api.h"

namespace tavik_ref {
void PrintTo(const Gram &g, std::ostream *os) {
    *os << "{\"" << g.text << "\", " << g.count << ", " << g.order << "}";
}
}  // namespace tavik_ref

namespace {

using Entry = tavik_ref::Gram;
using tavik_ref::utf8;

// A list that is released when the test leaves its scope.
struct List {
    tavik_ngram_list l{nullptr, 0, 0};
    List() = default;
    List(const List &) = delete;
    List &operator=(const List &) = delete;
    ~List() { tavik_ngram_list_free(&l); }

    std::vector<Entry> entries() const {
        std::vector<Entry> out;
        for (uint64_t k = 0; k < l.count; ++k)
            out.push_back({l.items[k].text, l.items[k].count, l.items[k].order});
        return out;
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (uint64_t k = 0; k < l.count; ++k) out.emplace_back(l.items[k].text);
        return out;
    }
};

std::vector<Entry> extract(const std::string &text, int32_t max_len) {
    List list;
    EXPECT_EQ(tavik_ngram_extract(text.c_str(), max_len, &list.l), TAVIK_OK);
    return list.entries();
}

std::vector<Entry> ranked(const std::string &text, int32_t max_len, int32_t threshold,
                          int32_t max_distribution) {
    List list;
    EXPECT_EQ(tavik_ngram_extract(text.c_str(), max_len, &list.l), TAVIK_OK);
    tavik_ngram_prune_and_rank(&list.l, threshold, max_distribution);
    return list.entries();
}

// Texts drawn from a fixed mix of letters of every class and separators.
std::u32string random_text(uint32_t seed, size_t length) {
    static const std::u32string alphabet = U"aaaeeeinnorsttt"
                                           U"AB"
                                           U"éçßÿĀŉ"
                                           U"αβγδ"
                                           U"абвгд"
                                           U"日本語中文"
                                           U"ぁアカ"
                                           U"한국어"
                                           U"ＡＺｱﾝ"
                                           U"\U00020000\U00020001\U0002A6D6"
                                           U"ɐ"
                                           U"\u0301"
                                           U"שא"
                                           U"      ..,!'-_0129\n\t"
                                           U"\u3000\uFF10\uFF9E";
    std::mt19937 gen(seed);
    std::u32string out;
    for (size_t k = 0; k < length; ++k) out += alphabet[gen() % alphabet.size()];
    return out;
}

// 9000 words of five letters, 54 KB, holding about 80 000 distinct
// n-grams of up to five code points: more than the counting map presets
// slots for, yet short enough to be counted occurrence by occurrence, so
// the map grows while it counts.
std::string many_distinct_words() {
    std::string out;
    for (uint32_t k = 0; k < 9000; ++k) {
        for (uint32_t v = k * 7919 + 12345, n = 0; n < 5; ++n, v /= 26)
            out += static_cast<char>('a' + v % 26);
        out += ' ';
    }
    return out;
}

std::vector<std::u32string> varied_texts() {
    std::vector<std::u32string> texts = {
        U"",
        U"The quick brown fox jumps over the lazy dog. The dog sleeps; the fox does not!",
        U"Ça va? Très bien, merci — et toi? L'œuvre d'Ŀuís. Straße, Œdipe.",
        U"Η γρήγορη καφέ αλεπού πηδά πάνω από τον τεμπέλη σκύλο.",
        U"Съешь же ещё этих мягких французских булок, да выпей же чаю. Ґанок, Ӂ.",
        U"我能吞下玻璃而不伤身体。私はガラスを食べられます。それは私を傷つけません。",
        U"나는 유리를 먹을 수 있어요. 그래도 아프지 않아요",
        U"\U00020000\U00020001\U00020002 abc \U0002A700\U0002CEAF\U0002CEB0x 𝔘",
        U"a.b,c;d--e__f''g  h\t\ni   j\u3000k",
        U"e\u0301x שלום مرحبا abc ไทย ab ɐb Ẁord",
        U"ＡＢＣ ｶﾀｶﾅ ｱﾞｲ ０１２ ｘｙｚ",
        U"aaaaaaaaaa aaaa aa a aaaaaaaa banana bandana ananas",
        U"Mixed日本English한국Ελληνικάрусский123ä",
        U"__a__ _b_ c_",
    };
    std::u32string longword;
    for (int k = 0; k < 300; ++k) longword += static_cast<char32_t>(U'a' + (k * 7) % 26);
    texts.push_back(longword + U" " + longword.substr(100) + U"!" + longword.substr(0, 50));
    for (uint32_t seed : {1u, 2u, 3u}) texts.push_back(random_text(seed, 3000));
    return texts;
}

// ------------------------------------------------------------ worked examples

TEST(NgramExtract, WordAbYieldsEightNgramsInOccurrenceOrder) {
    const std::vector<Entry> want = {{"a", 1, 0},   {"_a", 1, 1}, {"b", 1, 2},   {"ab", 1, 3},
                                     {"_ab", 1, 4}, {"b_", 1, 5}, {"ab_", 1, 6}, {"_ab_", 1, 7}};
    EXPECT_EQ(extract("ab", 5), want);
}

const std::vector<Entry> kAnaNa = {
    {"a", 3, 0},   {"_a", 1, 1}, {"n", 2, 2},   {"an", 1, 3},  {"_an", 1, 4},  {"na", 2, 6},
    {"ana", 1, 7}, {"a_", 2, 8}, {"na_", 2, 9}, {"_n", 1, 11}, {"_na", 1, 14},
};

TEST(NgramExtract, AnaNaCountsAndFirstOccurrences) { EXPECT_EQ(extract("ana na", 3), kAnaNa); }

TEST(NgramRank, AnaNaRanks) {
    struct Case {
        int32_t threshold, max_distribution;
        std::vector<std::string> want;
    };
    const std::vector<std::string> all = {"a",  "n",   "na",  "a_", "na_", "_a",
                                          "an", "_an", "ana", "_n", "_na"};
    const std::vector<Case> cases = {
        {0, 0, all},
        {-1, -1, all},  // nothing to prune or cut below 1
        {0, 11, all},
        {0, 1000, all},
        {2, 0, {"a", "n", "na", "a_", "na_"}},
        {2, 3, {"a", "n", "na"}},
        {3, 0, {"a"}},
        {0, 1, {"a"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "threshold " << c.threshold << " max distribution " << c.max_distribution);
        List list;
        ASSERT_EQ(tavik_ngram_extract("ana na", 3, &list.l), TAVIK_OK);
        tavik_ngram_prune_and_rank(&list.l, c.threshold, c.max_distribution);
        EXPECT_EQ(list.texts(), c.want);
        // Ranking moves entries; it does not rewrite what extraction counted.
        for (const Entry &e : list.entries())
            EXPECT_NE(std::find(kAnaNa.begin(), kAnaNa.end(), e), kAnaNa.end()) << e.text;
    }
}

TEST(NgramRank, ThresholdAboveEveryCountLeavesAnEmptyListThatCanBeReleased) {
    List list;
    ASSERT_EQ(tavik_ngram_extract("ana na", 3, &list.l), TAVIK_OK);
    const uint64_t capacity = list.l.capacity;
    tavik_ngram_prune_and_rank(&list.l, 4, 0);
    EXPECT_EQ(list.l.count, 0u);
    EXPECT_NE(list.l.items, nullptr);
    EXPECT_EQ(list.l.capacity, capacity);
    tavik_ngram_prune_and_rank(&list.l, 0, 0);  // empty: left alone
    EXPECT_EQ(list.l.count, 0u);
    tavik_ngram_list_free(&list.l);
    EXPECT_EQ(list.l.items, nullptr);
    EXPECT_EQ(list.l.capacity, 0u);
    tavik_ngram_list_free(&list.l);  // a second release is harmless
    tavik_ngram_list_free(nullptr);
    tavik_ngram_prune_and_rank(nullptr, 1, 1);
}

// Lists read from a profile can share counts and orders; then the texts decide,
// bytewise and unsigned, a prefix before its extensions.
TEST(NgramRank, EqualCountAndOrderFallBackToTextBytes) {
    const std::vector<Entry> in = {{"ab", 1, 0}, {"a", 1, 0}, {"zz", 2, 9}, {"\xC3\xA9", 1, 0},
                                   {"B", 1, 0},  {"b", 1, 0}, {"x", 1, -1}, {"y", 2, 9}};
    List list;
    list.l.items =
        static_cast<struct tavik_ngram *>(std::malloc(in.size() * sizeof(struct tavik_ngram)));
    ASSERT_NE(list.l.items, nullptr);
    list.l.capacity = in.size();
    for (const Entry &e : in) {
        char *text = static_cast<char *>(std::malloc(e.text.size() + 1));
        ASSERT_NE(text, nullptr);
        std::memcpy(text, e.text.c_str(), e.text.size() + 1);
        list.l.items[list.l.count++] = {text, e.count, e.order};
    }
    tavik_ngram_prune_and_rank(&list.l, 0, 0);
    const std::vector<std::string> want = {"y", "zz", "x", "B", "a", "ab", "b", "\xC3\xA9"};
    EXPECT_EQ(list.texts(), want);
}

// ------------------------------------------------------------ words and lengths

TEST(NgramExtract, MaximumLength) {
    EXPECT_EQ(extract("ana na", 1), (std::vector<Entry>{{"a", 3, 0}, {"n", 2, 1}}));
    // Seven code points at most, whatever is asked for.
    const std::string text = "internationalisation ab xyzzyxyzzy";
    const std::vector<Entry> seven = extract(text, 7);
    EXPECT_EQ(extract(text, 8), seven);
    EXPECT_EQ(extract(text, 100), seven);
    EXPECT_EQ(extract(text, INT32_MAX), seven);
    for (const Entry &e : seven) EXPECT_LE(e.text.size(), 7u);
    EXPECT_NE(std::find_if(seven.begin(), seven.end(),
                           [](const Entry &e) { return e.text == "_intern"; }),
              seven.end());
}

TEST(NgramExtract, RefusedArgumentsLeaveTheListAlone) {
    List list;
    ASSERT_EQ(tavik_ngram_extract("ab", 5, &list.l), TAVIK_OK);
    const tavik_ngram_list before = list.l;
    EXPECT_EQ(tavik_ngram_extract("cd", 0, &list.l), TAVIK_INVALID);
    EXPECT_EQ(tavik_ngram_extract("cd", -1, &list.l), TAVIK_INVALID);
    EXPECT_EQ(tavik_ngram_extract("cd", INT32_MIN, &list.l), TAVIK_INVALID);
    EXPECT_EQ(tavik_ngram_extract(nullptr, 5, &list.l), TAVIK_INVALID);
    EXPECT_EQ(list.l.items, before.items);
    EXPECT_EQ(list.l.count, before.count);
    EXPECT_EQ(list.l.capacity, before.capacity);
    EXPECT_EQ(list.entries().front(), (Entry{"a", 1, 0}));
    EXPECT_EQ(tavik_ngram_extract("cd", 5, nullptr), TAVIK_INVALID);
}

// Each row's text must give exactly the list of its plainly spaced twin.
TEST(NgramExtract, NonLettersSeparateWords) {
    struct Case {
        std::string text, same_as;
    };
    const std::vector<Case> cases = {
        {"", ""},
        {"123 ... !", ""},
        {"\xD8\xB3\xD9\x84\xD8\xA7\xD9\x85", ""},                  // Arabic
        {"\xE0\xB8\xAA\xE0\xB8\xA7\xE0\xB8\xB1\xE0\xB8\xAA", ""},  // Thai
        {"_ __ _", ""},
        {"l'eau", "l eau"},
        {"x_y", "x y"},
        {"a1b", "a b"},
        {"ab  ,;--\t\n cd", "ab cd"},
        {"  ab  ", "ab"},
        {"e\xCC\x81x", "e x"},  // combining acute accent
        {"a\xC2\xB5"
         "b",
         "a b"},                                       // micro sign
        {"\xE1\xB8\x80z", " z"},                       // Latin Extended Additional
        {"\xE3\x80\x80\xE6\x97\xA5", "\xE6\x97\xA5"},  // ideographic space
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(extract(c.text, 5), extract(c.same_as, 5));
    }
}

TEST(NgramExtract, NoNgramSpansTwoWordsAndCaseStaysApart) {
    const std::vector<Entry> got = extract("Ab ab", 5);
    auto find = [&](const std::string &t) {
        auto it = std::find_if(got.begin(), got.end(), [&](const Entry &e) { return e.text == t; });
        return it == got.end() ? Entry{t, 0, -1} : *it;
    };
    EXPECT_EQ(find("A").count, 1);
    EXPECT_EQ(find("a").count, 1);
    EXPECT_EQ(find("_A").count, 1);
    EXPECT_EQ(find("_a").count, 1);
    EXPECT_EQ(find("b").count, 2);
    EXPECT_EQ(find("b_").count, 2);
    EXPECT_EQ(find("b").order, 2);  // first seen in the first word
    for (const Entry &e : got) {
        EXPECT_EQ(e.text.find(' '), std::string::npos);
        EXPECT_NE(e.text, "_");
        EXPECT_EQ(e.text.find("b_A"), std::string::npos);
        EXPECT_EQ(e.text.find("__"), std::string::npos);
    }
}

TEST(NgramExtract, TextEndsAtItsFirstNul) {
    const std::string text("ab\0cd\xFF", 6);
    List list;
    ASSERT_EQ(tavik_ngram_extract(text.c_str(), 5, &list.l), TAVIK_OK);
    EXPECT_EQ(list.entries(), extract("ab", 5));
}

// Letters of four bytes each, so the word buffer is filled to its last byte.
std::u32string long_word(size_t letters) {
    std::u32string w;
    for (size_t k = 0; k < letters; ++k) w += static_cast<char32_t>(0x20000 + (k * 37) % 4099);
    return w;
}

TEST(NgramExtract, WordLengthLimit) {
    struct Case {
        size_t letters;
        bool closed;  // framed on both sides
    };
    for (const Case c : {Case{4092, true}, Case{4093, true}, Case{4094, false}, Case{4095, false},
                         Case{5000, false}}) {
        SCOPED_TRACE(c.letters);
        const std::u32string word = long_word(c.letters);
        const std::u32string kept = word.substr(0, std::min<size_t>(c.letters, 4094));
        const std::vector<Entry> want =
            tavik_ref::count_ngrams({U"_" + kept + (c.closed ? U"_" : U"")}, 7);

        const std::vector<Entry> got = extract(utf8(word), 7);
        EXPECT_EQ(got, want);
        const std::string closing = utf8(word.substr(kept.size() - 1, 1)) + "_";
        EXPECT_EQ(std::count_if(got.begin(), got.end(),
                                [&](const Entry &e) { return e.text == closing; }),
                  c.closed ? 1 : 0);

        // The next word starts afresh.
        const std::vector<Entry> then = extract(utf8(word) + " ab", 7);
        ASSERT_GE(then.size(), got.size() + 8);
        EXPECT_EQ(std::vector<Entry>(then.begin(), then.begin() + got.size()), got);
        EXPECT_EQ(then.back().text, "_ab_");
    }
}

TEST(NgramExtract, MalformedUtf8AnywhereLeavesAnEmptyList) {
    // Enough distinct words before the fault that the map has grown.
    const std::string before = many_distinct_words();
    const std::vector<std::string> cases = {
        "\xFF",
        "\x80"
        "abc",
        "abc \xC0\xAF def",  // overlong
        "abc\xED\xA0\x80"
        "def",                   // surrogate
        "abc \xF4\x90\x80\x80",  // above U+10FFFF
        "abc \xE2\x28\xA1 def",  // no continuation byte
        "abc d\xC3",             // ends inside a sequence
        "abc \xF0\x9F\x98",
        before + "\xF8",
        before + "and then a cut \xE6\x97",
    };
    for (const std::string &text : cases) {
        SCOPED_TRACE(text.size() < 40 ? text : text.substr(text.size() - 20));
        tavik_ngram_list list{nullptr, 0, 0};
        EXPECT_EQ(tavik_ngram_extract(text.c_str(), 5, &list), TAVIK_BAD_UTF8);
        EXPECT_EQ(list.items, nullptr);
        EXPECT_EQ(list.count, 0u);
        EXPECT_EQ(list.capacity, 0u);
    }
}

// ------------------------------------------------------------ against the reference

TEST(NgramReference, ExtractionMatchesAPlainExtractor) {
    for (const std::u32string &text : varied_texts()) {
        const std::string bytes = utf8(text);
        SCOPED_TRACE(bytes.substr(0, 60));
        for (int32_t max_len = 1; max_len <= 8; ++max_len) {
            SCOPED_TRACE(max_len);
            ASSERT_EQ(extract(bytes, max_len), tavik_ref::extract(bytes, max_len));
        }
    }
}

TEST(NgramReference, ExtractionMatchesAPlainExtractorWhileTheMapGrows) {
    const std::string text = many_distinct_words();
    for (int32_t max_len : {3, 5, 7}) {
        SCOPED_TRACE(max_len);
        ASSERT_EQ(extract(text, max_len), tavik_ref::extract(text, max_len));
    }
}

TEST(NgramReference, RankingMatchesAPlainSort) {
    struct Cut {
        int32_t threshold, max_distribution;
    };
    for (const std::u32string &text : varied_texts()) {
        const std::string bytes = utf8(text);
        SCOPED_TRACE(bytes.substr(0, 60));
        for (int32_t max_len : {1, 3, 5, 7}) {
            const std::optional<std::vector<Entry>> reference = tavik_ref::extract(bytes, max_len);
            ASSERT_TRUE(reference.has_value());
            for (const Cut c : {Cut{0, 0}, Cut{2, 0}, Cut{0, 7}, Cut{3, 20}, Cut{-4, -4}}) {
                SCOPED_TRACE(testing::Message() << "max_len " << max_len << " threshold "
                                                << c.threshold << " cut " << c.max_distribution);
                ASSERT_EQ(ranked(bytes, max_len, c.threshold, c.max_distribution),
                          tavik_ref::rank(*reference, c.threshold, c.max_distribution));
            }
        }
    }
}

// The exact-length key (the profile index's) put together from overlapping
// loads must equal the padded one (the counting map's) at every length, and
// read nothing past the text: each text sits in a buffer of its own size.
TEST(NgramKey, ExactLengthKeyEqualsPaddedKey) {
    std::mt19937 rng(7);
    for (uint32_t len = 0; len <= tavik::kMaxNgramBytes; ++len) {
        for (int round = 0; round < 20; ++round) {
            std::vector<char> exact(len);
            for (char &c : exact) c = static_cast<char>(1 + rng() % 255);
            std::vector<char> padded(exact);
            padded.resize(len + tavik::kKeyBytes, '\0');
            const tavik::Key a = tavik::key_of_bytes(exact.data(), len);
            const tavik::Key b = tavik::key_of_padded(padded.data(), len);
            ASSERT_EQ(a.lo, b.lo) << "length " << len;
            ASSERT_EQ(a.hi, b.hi) << "length " << len;
            ASSERT_EQ(a.len, b.len);
            ASSERT_EQ(a.hash, b.hash) << "length " << len;
        }
    }
}

}  // namespace
