// SPDX-License-Identifier: MIT
// bench_identify.cpp - identification and n-gram extraction speed.
//
// The profile is synthetic but shaped like a trained one: 64 languages in
// Latin, Cyrillic and Greek script, each speaking from a vocabulary of words
// built from its own syllables, with word frequencies falling off steeply
// as in natural text.  The languages are trained through the tavik_train_*
// functions into a temporary profile file of 4000 n-grams per language, and
// loaded from it.  Queries are fresh texts of the same languages, cut to a
// given number of characters.
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "model_file.h"
#include "tavik/tavik_api.h"
#include "tavik/tavik_session.h"

namespace {

constexpr int kLanguages = 64;
constexpr size_t kTrainingChars = 100000;
constexpr int kVocabulary = 3000;
constexpr int kNgramsPerLanguage = 4000;

struct Script {
    std::vector<const char *> onsets, vowels, codas;
};

const Script &script_of(int language) {
    static const Script latin{{"b",  "c",  "d",  "f",  "g",  "h",  "j",  "k",  "l",  "m",   "n",
                               "p",  "r",  "s",  "t",  "v",  "w",  "z",  "st", "tr", "sch", "th",
                               "ch", "sk", "pl", "kr", "gn", "br", "dr", "sp", "gw", "ts"},
                              {"a",        "e",        "i",        "o",        "u",
                               "y",        "\xC3\xA4", "\xC3\xB6", "\xC3\xBC", "\xC3\xA9",
                               "\xC3\xA8", "\xC3\xA5", "\xC3\xB8", "ei",       "ou",
                               "ie",       "aa",       "oo",       "au",       "ai"},
                              {"n", "r", "s", "t", "l", "m", "ng", "nd", "rt", "ck", "x", "st"}};
    static const Script cyrillic{
        {"\xD0\xB1", "\xD0\xB2", "\xD0\xB3", "\xD0\xB4", "\xD0\xB6", "\xD0\xB7",        "\xD0\xBA",
         "\xD0\xBB", "\xD0\xBC", "\xD0\xBD", "\xD0\xBF", "\xD1\x80", "\xD1\x81",        "\xD1\x82",
         "\xD1\x84", "\xD1\x85", "\xD1\x86", "\xD1\x87", "\xD1\x88", "\xD1\x81\xD1\x82"},
        {"\xD0\xB0", "\xD0\xB5", "\xD0\xB8", "\xD0\xBE", "\xD1\x83", "\xD1\x8B", "\xD1\x8F",
         "\xD1\x8E", "\xD1\x91"},
        {"\xD0\xBD", "\xD1\x80", "\xD1\x82", "\xD0\xB9", "\xD0\xBC", "\xD1\x8C"}};
    static const Script greek{
        {"\xCE\xB2", "\xCE\xB3", "\xCE\xB4", "\xCE\xB6", "\xCE\xB8", "\xCE\xBA", "\xCE\xBB",
         "\xCE\xBC", "\xCE\xBD", "\xCE\xBE", "\xCF\x80", "\xCF\x81", "\xCF\x83", "\xCF\x84",
         "\xCF\x86", "\xCF\x87", "\xCF\x83\xCF\x84", "\xCF\x80\xCF\x81"},
        {"\xCE\xB1", "\xCE\xB5", "\xCE\xB7", "\xCE\xB9", "\xCE\xBF", "\xCF\x85", "\xCF\x89",
         "\xCE\xAC", "\xCE\xAD", "\xCE\xAF", "\xCF\x8C", "\xCE\xBF\xCF\x85"},
        {"\xCF\x82", "\xCE\xBD", "\xCF\x81"}};
    return language < 48 ? latin : language < 56 ? cyrillic : greek;
}

size_t chars_in(const std::string &s) {
    size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
}

// The first `chars` code points of `s`.
std::string take_chars(const std::string &s, size_t chars) {
    size_t i = 0;
    for (size_t n = 0; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80 && n++ == chars) break;
    }
    return s.substr(0, i);
}

class Language {
public:
    explicit Language(int index)
        : index_(static_cast<uint32_t>(index)), code_{'q', static_cast<char>('a' + index / 26),
                                                      static_cast<char>('a' + index % 26)} {
        std::mt19937 rng(1000u + static_cast<uint32_t>(index));
        const Script &script = script_of(index);
        // A language uses a part of its script's sounds, so neighbours overlap.
        auto pick = [&rng](const std::vector<const char *> &from, size_t n) {
            std::vector<const char *> v = from;
            std::shuffle(v.begin(), v.end(), rng);
            v.resize(std::min(n, v.size()));
            return v;
        };
        const auto onsets = pick(script.onsets, 16), vowels = pick(script.vowels, 8),
                   codas = pick(script.codas, 4);
        std::vector<std::string> syllables;
        for (int i = 0; i < 120; ++i) {
            std::string s = onsets[rng() % onsets.size()];
            s += vowels[rng() % vowels.size()];
            if (rng() % 10 < 3) s += codas[rng() % codas.size()];
            syllables.push_back(s);
        }
        for (int w = 0; w < kVocabulary; ++w) {
            std::string word;
            const int n = 1 + static_cast<int>(rng() % 4);
            for (int k = 0; k < n; ++k) word += syllables[rng() % syllables.size()];
            words_.push_back(word);
        }
    }

    const std::string &code() const { return code_; }

    // Running text of exactly `chars` code points; short words are frequent,
    // as function words are.
    std::string text(size_t chars, uint32_t seed) const {
        std::mt19937 rng(seed * 131u + index_);
        std::uniform_real_distribution<double> u(0.0, 1.0);
        std::string s;
        size_t have = 0;
        for (int n = 1; have <= chars; ++n) {
            const double x = u(rng);
            const std::string &word = words_[static_cast<size_t>(kVocabulary * x * x * x)];
            const char *gap = n % 11 == 0 ? ". " : n % 7 == 0 ? ", " : " ";
            s += word;
            s += gap;
            have += chars_in(word) + std::char_traits<char>::length(gap);
        }
        return take_chars(s, chars);
    }

private:
    uint32_t index_;
    std::string code_;
    std::vector<std::string> words_;
};

struct Fixture {
    std::vector<Language> languages;
    tavik_model *model = nullptr;       // the same profile, for sessions
    tavik_model *text_model = nullptr;  // trained with the full text model
    tavik_model *bundle = nullptr;      // the profile as one member of a bundle
    std::string error;                  // empty when the profile is loaded
};

// The same languages trained with the meta pairs `meta` (a text model, a
// calibration), opened as a model; nullptr when that fails.
tavik_model *train_with_meta(const std::vector<Language> &languages,
                             std::initializer_list<std::pair<const char *, const char *>> meta) {
    tavik_train_reset();
    for (const auto &[key, value] : meta) tavik_train_set_meta(key, value);
    for (const Language &l : languages) {
        tavik_train_begin(l.code().c_str());
        tavik_train_feed(l.text(kTrainingChars, 1u).c_str());
        if (tavik_train_end_language() != TAVIK_OK) return nullptr;
    }
    std::string path = (std::filesystem::temp_directory_path() / "tavik-bench-XXXXXX").string();
    const int fd = ::mkstemp(path.data());
    if (fd < 0) return nullptr;
    ::close(fd);
    tavik_model *m = nullptr;
    if (tavik_train_write_profile(path.c_str()) != TAVIK_OK ||
        tavik_model_open(path.c_str(), &m) != TAVIK_OK)
        m = nullptr;
    tavik_train_reset();
    ::unlink(path.c_str());
    return m;
}

// With Unicode letters, case folding and NFC.
tavik_model *train_text_model(const std::vector<Language> &languages) {
    return train_with_meta(
        languages,
        {{"tavik.letters", "unicode"}, {"tavik.case", "fold"}, {"tavik.normalize", "nfc"}});
}

// The profile serving Latin, Cyrillic and Greek in a bundle with another
// member and two direct scripts, as a model of many members would hold it.
tavik_model *bundle_of(const std::string &profile) {
    tavik::BundleContents contents;
    contents.members.push_back({{"Latin", "Cyrillic", "Greek"}, profile});
    contents.members.push_back({{"Arabic", "Han", "Japanese"}, profile});
    contents.direct = {{"Hebrew", "heb"}, {"Thai", "tha"}};
    std::string bytes, error;
    tavik_model *m = nullptr;
    if (!tavik::model_file_write(contents, false, &bytes, &error) ||
        tavik_model_open_memory(bytes.data(), bytes.size(), &m) != TAVIK_OK)
        return nullptr;
    return m;
}

Fixture build() {
    Fixture f;
    for (int i = 0; i < kLanguages; ++i) f.languages.emplace_back(i);
    tavik_train_reset();
    for (const Language &l : f.languages) {
        tavik_train_begin(l.code().c_str());
        tavik_train_feed(l.text(kTrainingChars, 1u).c_str());
        if (tavik_train_end_language() != TAVIK_OK) {
            f.error = "training failed";
            return f;
        }
    }
    std::string path = (std::filesystem::temp_directory_path() / "tavik-bench-XXXXXX").string();
    const int fd = ::mkstemp(path.data());
    if (fd < 0) {
        f.error = "no temporary file";
        return f;
    }
    ::close(fd);
    const int32_t written = tavik_train_write_profile(path.c_str());
    tavik_train_reset();
    const int32_t loaded = written == TAVIK_OK ? tavik_load_profile(path.c_str()) : written;
    const int32_t opened = loaded == TAVIK_OK ? tavik_model_open(path.c_str(), &f.model) : loaded;
    std::ifstream in(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ::unlink(path.c_str());
    f.bundle = bundle_of(bytes);
    if (opened != TAVIK_OK) {
        f.error = "profile not written or loaded";
        return f;
    }
    const tavik_profile *p = tavik_get_state()->profile;
    for (int i = 0; i < p->lang_count; ++i)
        if (p->langs[i].ngrams.count != kNgramsPerLanguage && f.error.empty())
            f.error = "language " + std::to_string(i) + " has " +
                      std::to_string(p->langs[i].ngrams.count) + " n-grams";
    f.text_model = train_text_model(f.languages);
    if (f.text_model == nullptr && f.error.empty()) f.error = "text model profile not made";
    if (f.bundle == nullptr && f.error.empty()) f.error = "bundle not made";
    tavik_set_min_ngrams(0);  // score even the shortest texts
    return f;
}

const Fixture &fixture() {
    static const Fixture f = build();
    return f;
}

// One text of `chars` characters per language, none of them seen in training.
// Threads of one benchmark may ask at once.
const std::vector<std::string> &queries(size_t chars) {
    static std::mutex m;
    const std::lock_guard lock(m);
    static std::map<size_t, std::vector<std::string>> pools;
    std::vector<std::string> &pool = pools[chars];
    if (pool.empty())
        for (const Language &l : fixture().languages)
            pool.push_back(l.text(chars, 7u + static_cast<uint32_t>(chars)));
    return pool;
}

void BM_Identify(benchmark::State &state) {
    const Fixture &f = fixture();
    if (!f.error.empty()) {
        state.SkipWithError(f.error.c_str());
        return;
    }
    const auto &pool = queries(static_cast<size_t>(state.range(0)));
    // Outside the timing: how often the source language wins, and how many
    // n-grams a query of this length holds.
    int correct = 0;
    int64_t ngrams = 0;
    for (size_t i = 0; i < pool.size(); ++i) {
        tavik_identify(pool[i].c_str());
        correct += tavik_result_count() > 0 && f.languages[i].code() == tavik_result_code(0);
        ngrams += tavik_ngram_count();
    }
    int64_t bytes = 0;
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(tavik_identify(pool[i].c_str()));
        bytes += static_cast<int64_t>(pool[i].size());
        i = i + 1 == pool.size() ? 0 : i + 1;
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.SetBytesProcessed(bytes);
    state.counters["accuracy"] = static_cast<double>(correct) / static_cast<double>(pool.size());
    state.counters["ngrams"] = static_cast<double>(ngrams) / static_cast<double>(pool.size());
}
BENCHMARK(BM_Identify)->ArgName("chars")->Arg(30)->Arg(100)->Arg(400)->Arg(4000);

void BM_Extract(benchmark::State &state) {
    if (!fixture().error.empty()) {
        state.SkipWithError(fixture().error.c_str());
        return;
    }
    const auto &pool = queries(static_cast<size_t>(state.range(0)));
    int64_t bytes = 0;
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(tavik_extract_ngrams(pool[i].c_str()));
        bytes += static_cast<int64_t>(pool[i].size());
        i = i + 1 == pool.size() ? 0 : i + 1;
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_Extract)->ArgName("chars")->Arg(400);

// The same identification through a session of the handle-based interface;
// with the text model, against the profile that declares Unicode letters,
// case folding and NFC (the texts are NFC already, as most are).
void session_identify(benchmark::State &state, tavik_model *model) {
    const Fixture &f = fixture();
    if (!f.error.empty()) {
        state.SkipWithError(f.error.c_str());
        return;
    }
    const auto &pool = queries(static_cast<size_t>(state.range(0)));
    tavik_session *s = nullptr;
    if (tavik_session_new(model, &s) != TAVIK_OK) {
        state.SkipWithError("no session");
        return;
    }
    tavik_session_set_min_ngrams(s, 0);
    int64_t bytes = 0;
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(tavik_session_identify(s, pool[i].data(), pool[i].size()));
        bytes += static_cast<int64_t>(pool[i].size());
        i = i + 1 == pool.size() ? 0 : i + 1;
    }
    tavik_session_free(s);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.SetBytesProcessed(bytes);
}
void BM_SessionIdentify(benchmark::State &state) { session_identify(state, fixture().model); }
BENCHMARK(BM_SessionIdentify)->ArgName("chars")->Arg(30)->Arg(100)->Arg(400)->Arg(4000);

void BM_SessionIdentifyTextModel(benchmark::State &state) {
    session_identify(state, fixture().text_model);
}
BENCHMARK(BM_SessionIdentifyTextModel)->ArgName("chars")->Arg(100)->Arg(400);

// The same profile as the first member of a bundle: the cost of routing is
// the difference to BM_SessionIdentify.  Sessions on one profile find the
// dominant script too (tavik_session_script), so BM_TextScripts is what
// both add to a session without it.
void BM_SessionIdentifyBundle(benchmark::State &state) {
    session_identify(state, fixture().bundle);
}
BENCHMARK(BM_SessionIdentifyBundle)->ArgName("chars")->Arg(100)->Arg(400);

void BM_TextScripts(benchmark::State &state) {
    if (!fixture().error.empty()) {
        state.SkipWithError(fixture().error.c_str());
        return;
    }
    const auto &pool = queries(static_cast<size_t>(state.range(0)));
    size_t i = 0;
    int32_t dominant = -1;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            tavik_text_scripts(pool[i].data(), pool[i].size(), nullptr, &dominant));
        i = i + 1 == pool.size() ? 0 : i + 1;
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_TextScripts)->ArgName("chars")->Arg(100);

// With a calibration (weights of the shape the fitted ones have).
tavik_model *train_calibrated(const std::vector<Language> &languages) {
    return train_with_meta(languages, {{"tavik.calibration", "logistic-v1 -2.75 -0.9 -3.99 0.42 "
                                                             "1.55 57.6 88.7 -0.065 2.5"}});
}

// BM_SessionIdentify with the probability asked after every text, on a
// calibrated model: the calibration's cost is the difference.
void BM_SessionProbability(benchmark::State &state) {
    const Fixture &f = fixture();
    static tavik_model *const model = f.error.empty() ? train_calibrated(f.languages) : nullptr;
    if (model == nullptr) {
        state.SkipWithError(f.error.empty() ? "calibrated profile not made" : f.error.c_str());
        return;
    }
    const auto &pool = queries(static_cast<size_t>(state.range(0)));
    tavik_session *s = nullptr;
    if (tavik_session_new(model, &s) != TAVIK_OK) {
        state.SkipWithError("no session");
        return;
    }
    tavik_session_set_min_ngrams(s, 0);
    size_t i = 0;
    double sum = 0.0;
    for (auto _ : state) {
        tavik_session_identify(s, pool[i].data(), pool[i].size());
        sum += tavik_session_probability(s);
        i = i + 1 == pool.size() ? 0 : i + 1;
    }
    benchmark::DoNotOptimize(sum);
    tavik_session_free(s);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_SessionProbability)->ArgName("chars")->Arg(30)->Arg(100)->Arg(400);

// Threads sharing one model, each with a session of its own, timed on the
// wall clock: the rate of all threads together.
void BM_SharedModel(benchmark::State &state) {
    const Fixture &f = fixture();
    if (!f.error.empty()) {
        state.SkipWithError(f.error.c_str());
        return;
    }
    const auto &pool = queries(static_cast<size_t>(state.range(0)));
    tavik_session *s = nullptr;
    if (tavik_session_new(f.model, &s) != TAVIK_OK) {
        state.SkipWithError("no session");
        return;
    }
    tavik_session_set_min_ngrams(s, 0);
    size_t i = static_cast<size_t>(state.thread_index()) * 17 % pool.size();
    for (auto _ : state) {
        benchmark::DoNotOptimize(tavik_session_identify(s, pool[i].data(), pool[i].size()));
        i = i + 1 == pool.size() ? 0 : i + 1;
    }
    tavik_session_free(s);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_SharedModel)->ArgName("chars")->Arg(100)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace
