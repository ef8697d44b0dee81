// SPDX-License-Identifier: MIT
// test_text_model.cpp - the text model a profile declares: Unicode letters,
// case folding and NFC at their edges, the meta pairs that declare them and
// their refusal, and training and identification applying the same model.
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ngram_count.h"
#include "ngram_scan.h"
#include "tavik/tavik_api.h"
#include "tavik/tavik_session.h"
#include "testutil.h"

using namespace tavik_test;

namespace {

constexpr tavik::TextModel kUnicode{true, false, false};
constexpr tavik::TextModel kFold{true, true, false};
constexpr tavik::TextModel kAll{true, true, true};

// The framed words the scan cuts `text` into under `model` (no NFC: the
// scan sees the text as given).
std::vector<std::string> words_of(const std::string &text, const tavik::TextModel &model) {
    std::vector<std::string> words;
    auto sink = [&](const tavik::WordBuffer &w) {
        words.emplace_back(w.bytes, w.offset[w.count]);
        return 0;
    };
    tavik::WordBuffer w;
    const int32_t rc =
        tavik::scan_words_model(text.data(), text.size(), *tavik::unicode_table(), model, w, sink);
    EXPECT_EQ(rc, TAVIK_OK) << text;
    return words;
}

// The counted n-grams of `text` (text, count, order), in entry order.
std::vector<std::string> ngrams_of(const std::string &text, const tavik::TextModel &model) {
    tavik::StrMap map;
    std::vector<std::string> out;
    EXPECT_EQ(tavik::strmap_count_model(map, text.data(), text.size(), 5, model), TAVIK_OK);
    for (uint64_t k = 0; k < map.count; ++k) {
        const tavik::Counted &e = map.entries[k];
        out.push_back(std::string(map.text(e), e.len) + "/" + std::to_string(e.count) + "/" +
                      std::to_string(e.order));
    }
    tavik::strmap_release(map);
    return out;
}

struct WordCase {
    const char *name;
    std::string text;
    tavik::TextModel model;
    std::vector<std::string> words;
};

TEST(TextModel, LettersAndFoldingAtTheirEdges) {
    const WordCase cases[] = {
        {"Vietnamese letter U+1EA1", "m\u1EA1nh", kUnicode, {"_m\u1EA1nh_"}},
        {"Azerbaijani schwa", "\u0259lifba", kUnicode, {"_\u0259lifba_"}},
        {"Devanagari vowel signs and virama",
         "\u0939\u093F\u0928\u094D\u0926\u0940 \u092D\u093E\u0937\u093E",
         kUnicode,
         {"_\u0939\u093F\u0928\u094D\u0926\u0940_", "_\u092D\u093E\u0937\u093E_"}},
        {"Arabic with harakat",
         "\u0645\u064F\u062D\u064E\u0645\u0651\u064E\u062F",
         kUnicode,
         {"_\u0645\u064F\u062D\u064E\u0645\u0651\u064E\u062F_"}},
        {"Thai with marks",
         "\u0E19\u0E49\u0E33\u0E43\u0E08",
         kUnicode,
         {"_\u0E19\u0E49\u0E33\u0E43\u0E08_"}},
        {"ZWNJ inside a Persian word",
         "\u0645\u06CC\u200C\u062E\u0648\u0627\u0645",
         kUnicode,
         {"_\u0645\u06CC\u200C\u062E\u0648\u0627\u0645_"}},
        {"joiners at a word's ends are separators",
         "\u200Cab\u200C cd\u200D",
         kUnicode,
         {"_ab_", "_cd_"}},
        {"joiner before a non-letter", "ab\u200C1cd", kUnicode, {"_ab_", "_cd_"}},
        {"punctuation, digits and symbols separate",
         "a,b2c\u00A9d",
         kUnicode,
         {"_a_", "_b_", "_c_", "_d_"}},
        {"no folding without the case key", "ABC", kUnicode, {"_ABC_"}},
        {"designed letters cut U+1EA1",
         "m\u1EA1nh",
         tavik::TextModel{false, true, false},
         {"_m_", "_nh_"}},
        {"designed letters cut where a folding leaves the table",
         "o\u019Fo \u212A",
         tavik::TextModel{false, true, false},
         {"_o_", "_o_", "_k_"}},
        {"designed letters, folded",
         "\u00C9T\u00C9",
         tavik::TextModel{false, true, false},
         {"_\u00E9t\u00E9_"}},
        {"sharp s stays, capital sharp s folds to it",
         "STRASSE Stra\u00DFe \u1E9E",
         kFold,
         {"_strasse_", "_stra\u00DFe_", "_\u00DF_"}},
        {"sigma: capital, final and medial fold alike",
         "\u03A3\u039F\u03A6\u039F\u03A3 \u03C3\u03BF\u03C6\u03BF\u03C2",
         kFold,
         {"_\u03C3\u03BF\u03C6\u03BF\u03C3_", "_\u03C3\u03BF\u03C6\u03BF\u03C3_"}},
        {"Turkish dotted capital I stays, dotless i stays",
         "\u0130stanbul \u0131I",
         kFold,
         {"_\u0130stanbul_", "_\u0131i_"}},
        {"Cyrillic and Armenian fold",
         "\u041C\u041E\u0421\u041A\u0412\u0410 \u0540\u0561\u0575",
         kFold,
         {"_\u043C\u043E\u0441\u043A\u0432\u0430_", "_\u0570\u0561\u0575_"}},
        {"Greek with prosgegrammeni folds simply", "\u1F88", kFold, {"_\u1F80_"}},
    };
    for (const WordCase &c : cases) EXPECT_EQ(words_of(c.text, c.model), c.words) << c.name;
}

// The table's folding, made from utf8proc's full folding, against the
// simple folding (statuses C and S) of Unicode's CaseFolding.txt, for
// every letter.
TEST(TextModel, FoldingIsUnicodeSimpleCaseFolding) {
    std::ifstream in("/usr/share/unicode/CaseFolding.txt");
    if (!in) GTEST_SKIP() << "CaseFolding.txt not installed (Debian package unicode-data)";
    std::map<uint32_t, uint32_t> simple;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string code, status, mapping;
        std::getline(fields, code, ';');
        std::getline(fields, status, ';');
        std::getline(fields, mapping, ';');
        if (status != " C" && status != " S") continue;
        simple[static_cast<uint32_t>(std::stoul(code, nullptr, 16))] =
            static_cast<uint32_t>(std::stoul(mapping, nullptr, 16));
    }
    ASSERT_GT(simple.size(), 1000u);
    const tavik::UnicodeTable &table = *tavik::unicode_table();
    int letters = 0;
    for (uint32_t cp = 0; cp < 0x110000; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF) continue;
        const tavik::CodePointInfo info = tavik::unicode_info(table, cp);
        if (!info.letter) continue;
        ++letters;
        const auto it = simple.find(cp);
        ASSERT_EQ(info.fold, it != simple.end() ? it->second : cp) << std::hex << cp;
    }
    EXPECT_GT(letters, 100000);
}

TEST(TextModel, ComposedAndDecomposedGiveTheSameNgrams) {
    const std::pair<std::string, std::string> pairs[] = {
        {"Vi\u1EC7t Nam", "Vie\u0323\u0302t Nam"},
        {"caf\u00E9 \u00C5ngstr\u00F6m", "cafe\u0301 A\u030Angstro\u0308m"},
        {"\uD55C\uAD6D\uC5B4", "\u1112\u1161\u11AB\u1100\u116E\u11A8\u110B\u1165"},
        {"\u0915\u093C", "\u0958"},  // excluded from composition: NFC decomposes it
        {"\u1EDD", "\u01A1\u0300"},
    };
    for (const auto &[composed, decomposed] : pairs) {
        EXPECT_EQ(ngrams_of(composed, kAll), ngrams_of(decomposed, kAll)) << composed;
        EXPECT_NE(ngrams_of(composed, kFold), ngrams_of(decomposed, kFold)) << composed;
    }
}

TEST(TextModel, NormalisationKeepsTheScanContract) {
    tavik::StrMap map;
    // Malformed UTF-8 is refused before utf8proc sees it, with or without
    // marks around it; a NUL byte stays a separator.
    for (const std::string &bad : {std::string("e\xCC"), std::string("e\xCC\x81\xFF")})
        EXPECT_EQ(tavik::strmap_count_model(map, bad.data(), bad.size(), 5, kAll), TAVIK_BAD_UTF8);
    EXPECT_EQ(map.count, 0u);
    const std::string nul("e\xCC\x81\0a", 5);
    EXPECT_EQ(ngrams_of(nul, kAll), ngrams_of("\u00E9 a", kAll));
    tavik::strmap_release(map);
}

// A profile blob with the given meta pairs around one language.
std::string with_meta(const MetaPairs &meta) {
    return make_profile({{"eng", {"_t", "th", "he", "e_"}}}, meta);
}

TEST(TextModel, UnknownKeysAndValuesAreRefusedByBothInterfaces) {
    struct Case {
        const char *name;
        MetaPairs meta;
        bool ok;
    } const cases[] = {
        {"nothing declared", {{"source", "x"}}, true},
        {"every key",
         {{"tavik.letters", "unicode"}, {"tavik.case", "fold"}, {"tavik.normalize", "nfc"}},
         true},
        {"designed values spelled out",
         {{"tavik.letters", "designed"}, {"tavik.case", "keep"}, {"tavik.normalize", "none"}},
         true},
        {"unknown letters", {{"tavik.letters", "latin"}}, false},
        {"unknown case", {{"tavik.case", "upper"}}, false},
        {"unknown normalisation", {{"tavik.normalize", "nfkc"}}, false},
        {"unknown key under the prefix", {{"tavik.script", "x"}}, false},
        {"a key given twice", {{"tavik.case", "fold"}, {"tavik.case", "fold"}}, false},
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
    // A refused profile leaves the one installed before in place.
    const std::string good = with_meta({});
    ASSERT_EQ(tavik_load_profile_memory(good.data(), good.size()), TAVIK_OK);
    const std::string bad = with_meta({{"tavik.letters", "latin"}});
    EXPECT_EQ(tavik_load_profile_memory(bad.data(), bad.size()), TAVIK_BAD_PROFILE);
    EXPECT_STREQ(tavik_profile_language_code(0), "eng");
    tavik_free_profile();
}

TEST(TextModel, TrainingRefusesWhatItCannotApply) {
    tavik_train_reset();
    EXPECT_EQ(tavik_train_set_meta("tavik.letters", "latin"), TAVIK_INVALID);
    EXPECT_EQ(tavik_train_set_meta("tavik.other", "x"), TAVIK_INVALID);
    EXPECT_EQ(tavik_train_set_meta("tavik.case", "fold"), TAVIK_OK);
    ASSERT_EQ(tavik_train_begin("eng"), TAVIK_OK);
    // Languages already begun would be cut another way.
    EXPECT_EQ(tavik_train_set_meta("tavik.normalize", "nfc"), TAVIK_INVALID);
    EXPECT_EQ(tavik_train_set_meta("source", "x"), TAVIK_OK);
    tavik_train_reset();
}

const char *kHindi =
    "\u0939\u093F\u0928\u094D\u0926\u0940 \u092D\u093E\u0930\u0924 \u0915\u0940 "
    "\u0930\u093E\u091C\u092D\u093E\u0937\u093E \u0939\u0948 \u0914\u0930 "
    "\u092F\u0939 \u0926\u0947\u0935\u0928\u093E\u0917\u0930\u0940 \u0932\u093F\u092A\u093F "
    "\u092E\u0947\u0902 \u0932\u093F\u0916\u0940 \u091C\u093E\u0924\u0940 \u0939\u0948";
const char *kEnglish =
    "the quick brown fox jumps over the lazy dog while the cat sleeps in the warm sun "
    "and the birds sing their songs in the trees near the river";
const char *kVietnamese =
    "ti\u1EBFng vi\u1EC7t l\u00E0 ng\u00F4n ng\u1EEF c\u1EE7a ng\u01B0\u1EDDi vi\u1EC7t "
    "v\u00E0 l\u00E0 ng\u00F4n ng\u1EEF ch\u00EDnh th\u1EE9c t\u1EA1i vi\u1EC7t nam";

// Trains hin, eng and vie with the full text model into `path`.
void train_unicode(const std::string &path) {
    tavik_train_reset();
    tavik_set_max_ngram_length(3);
    ASSERT_EQ(tavik_train_set_meta("tavik.letters", "unicode"), TAVIK_OK);
    ASSERT_EQ(tavik_train_set_meta("tavik.case", "fold"), TAVIK_OK);
    ASSERT_EQ(tavik_train_set_meta("tavik.normalize", "nfc"), TAVIK_OK);
    for (auto [code, text] : {std::pair{"hin", kHindi}, {"eng", kEnglish}, {"vie", kVietnamese}}) {
        ASSERT_EQ(tavik_train_begin(code), TAVIK_OK);
        ASSERT_EQ(tavik_train_feed(text), TAVIK_OK);
        ASSERT_EQ(tavik_train_end_language(), TAVIK_OK);
    }
    ASSERT_EQ(tavik_train_write_profile(path.c_str()), TAVIK_OK);
    tavik_train_reset();
}

std::string upper_ascii(std::string s) {
    for (char &c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

TEST(TextModel, TrainingAndBothInterfacesCutAlike) {
    TempDir dir;
    const std::string path = dir.file("unicode.tavik");
    train_unicode(path);
    const struct {
        std::string text;
        const char *code;
    } queries[] = {
        {kHindi, "hin"},
        {upper_ascii(kEnglish), "eng"},
        {"Ti\u1EBFng Vi\u1EC7t L\u00C0 NG\u00D4N NG\u1EEE", "vie"},
        {"tie\u0301ng vie\u0323\u0302t la\u0300 ngo\u0302n ngu\u031B\u0303", "vie"},
    };
    ASSERT_EQ(tavik_load_profile(path.c_str()), TAVIK_OK);
    EXPECT_STREQ(tavik_profile_meta("tavik.letters"), "unicode");
    tavik_set_min_ngrams(1);
    tavik_model *model = nullptr;
    ASSERT_EQ(tavik_model_open(path.c_str(), &model), TAVIK_OK);
    tavik_session *s = nullptr;
    ASSERT_EQ(tavik_session_new(model, &s), TAVIK_OK);
    tavik_session_set_min_ngrams(s, 1);
    for (const auto &q : queries) {
        const int32_t rc = tavik_identify(q.text.c_str());
        EXPECT_TRUE(rc == TAVIK_OK || rc == TAVIK_AMBIGUOUS) << q.text;
        EXPECT_STREQ(tavik_best_code(), q.code) << q.text;
        EXPECT_EQ(tavik_session_identify(s, q.text.data(), q.text.size()), rc) << q.text;
        EXPECT_STREQ(tavik_session_best_code(s), q.code) << q.text;
        EXPECT_STREQ(tavik_session_result_json(s), tavik_result_json()) << q.text;
    }
    tavik_session_free(s);
    tavik_model_free(model);
    tavik_free_profile();
}

}  // namespace
