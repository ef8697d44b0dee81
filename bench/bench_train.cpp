// SPDX-License-Identifier: MIT
// bench_train.cpp - training speed: bytes of corpus per second through
// tavik_train_feed and tavik_train_end_language for one language.
//
// The corpus is pseudo-text made from a fixed seed: words of one to four
// syllables (Latin letters with some accented ones) drawn from a vocabulary
// of 6000 words with steeply falling frequencies, in sentences with commas
// and full stops, in lines of about 80 bytes.  It is fed in pieces of about
// 256 KiB, as the trainer feeds one file after another, and the language is
// then ended with the trainer's settings (n-grams up to 5 code points, 4000
// kept).
#include <benchmark/benchmark.h>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tavik/tavik_api.h"

namespace {

constexpr std::size_t kVocabulary = 6000;
constexpr std::size_t kPieceBytes = 256 * 1024;

// A small fixed generator, so the text is the same on every platform.
class Rng {
public:
    explicit Rng(uint64_t seed) : s_(seed) {}
    uint64_t next() {
        s_ ^= s_ << 13;
        s_ ^= s_ >> 7;
        s_ ^= s_ << 17;
        return s_;
    }
    // Uniform in [0, n).
    std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }
    // Uniform in [0, 1).
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

private:
    uint64_t s_;
};

std::vector<std::string> make_vocabulary(Rng &rng) {
    static constexpr std::string_view onsets[] = {
        "b", "c", "d", "f", "g",  "h",  "j",  "k",  "l",  "m",  "n",  "p",  "r",  "s",
        "t", "v", "w", "z", "st", "tr", "ch", "br", "pl", "gr", "sk", "th", "qu", ""};
    static constexpr std::string_view vowels[] = {
        "a",        "e",        "i",        "o",        "u",        "a",        "e",
        "i",        "o",        "y",        "\xC3\xA9", "\xC3\xA8", "\xC3\xA4", "\xC3\xB6",
        "\xC3\xBC", "\xC3\xA5", "\xC3\xB1", "ei",       "ou",       "ie",       "au"};
    static constexpr std::string_view codas[] = {"",   "",   "",  "",   "n",       "r",
                                                 "s",  "t",  "l", "m",  "ng",      "nd",
                                                 "st", "rt", "x", "ck", "\xC3\xA7"};
    std::vector<std::string> words;
    words.reserve(kVocabulary);
    for (std::size_t i = 0; i < kVocabulary; ++i) {
        // Frequent words are short, rare words long.
        const std::size_t syllables = 1 + rng.below(i < 100 ? 2 : 4);
        std::string w;
        for (std::size_t s = 0; s < syllables; ++s) {
            w += onsets[rng.below(std::size(onsets))];
            w += vowels[rng.below(std::size(vowels))];
            w += codas[rng.below(std::size(codas))];
        }
        words.push_back(std::move(w));
    }
    return words;
}

// About `bytes` bytes of text (whole words; the last line may run over).
std::string make_text(std::size_t bytes) {
    Rng rng(0x7461766B69ull);
    const std::vector<std::string> words = make_vocabulary(rng);
    std::string text;
    text.reserve(bytes + 128);
    std::size_t line = 0, sentence = 0;
    while (text.size() < bytes) {
        // Zipf-like: the index falls off with the cube of a uniform number.
        const double u = rng.unit();
        text += words[static_cast<std::size_t>(u * u * u * kVocabulary)];
        ++sentence;
        const std::size_t r = rng.below(100);
        if (sentence > 4 && r < 12) {
            text += '.';
            sentence = 0;
        } else if (r < 20) {
            text += ',';
        }
        if (text.size() - line > 80) {
            text += '\n';
            line = text.size();
        } else {
            text += ' ';
        }
    }
    return text;
}

// The text cut after a line feed about every kPieceBytes.
std::vector<std::string> make_pieces(const std::string &text) {
    std::vector<std::string> pieces;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at + kPieceBytes);
        end = end == std::string::npos ? text.size() : end + 1;
        pieces.push_back(text.substr(at, end - at));
        at = end;
    }
    return pieces;
}

void BM_TrainOneLanguage(benchmark::State &state) {
    const std::string text = make_text(static_cast<std::size_t>(state.range(0)));
    const std::vector<std::string> pieces = make_pieces(text);
    tavik_set_max_ngram_length(5);
    tavik_set_max_distribution(4000);
    tavik_set_occurance_threshold(0);
    for (auto _ : state) {
        tavik_train_reset();
        if (tavik_train_begin("xxx") != TAVIK_OK) {
            state.SkipWithError("begin failed");
            break;
        }
        for (const std::string &p : pieces) benchmark::DoNotOptimize(tavik_train_feed(p.c_str()));
        if (tavik_train_end_language() != TAVIK_OK) {
            state.SkipWithError("end failed");
            break;
        }
        benchmark::ClobberMemory();
    }
    tavik_train_reset();
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

BENCHMARK(BM_TrainOneLanguage)
    ->Arg(1 << 20)
    ->Arg(20 << 20)
    ->ArgName("bytes")
    ->Unit(benchmark::kMillisecond);

}  // namespace
