// SPDX-License-Identifier: MIT
// fuzz_hostile_profile.cpp - scoring against profiles built to strain the
// scoring index: up to 64 languages, texts shared by many languages and
// repeated inside one, texts longer than 16 bytes, ranks above 32767 and
// queries of more than 32767 n-grams.  Every distance must equal the plain
// out-of-place reference.
//
// Input: byte 0 the language count minus one (mod 64); byte 1 bit 0 the
// size penalty, bit 1 a generated query instead of the input's text, bits
// 2-3 max_distribution (4000, 32767, 32768, 100000); bytes 2-3 the words of
// a generated query (little-endian, mod 12000: 8000 words give 41447
// n-grams); then four bytes per language (cycled
// when the input runs short): the shape of its list, the share of the
// query it holds, an offset into the query and the length of its filler;
// whatever follows the language bytes is the query text (with bit 1 clear).
//
// The shape byte: bit 0 filler before the query's n-grams (which then rank
// behind it), bit 1 the query's n-grams in reverse order, bit 2 each of
// them twice, bit 3 filler texts of more than 16 bytes, bit 4 a large
// filler (above 32767 entries; only the first two languages), bit 5 the
// code of the previous language, bit 6 every other n-gram of the query
// only, bit 7 the query's n-grams stretched into texts of more than 16
// bytes (so they no longer match).  The first two languages may hold up to
// 100000 entries, the others 6000.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz_util.h"
#include "reference.h"
#include "tavik/tavik_api.h"

namespace {

using tavik_fuzz::check;
using tavik_fuzz::put16;
using tavik_fuzz::put32;

constexpr size_t kLangBytes = 4;
constexpr int32_t kDistributions[] = {4000, 32767, 32768, 100000};

// A text of `words` distinct words: each word is its number written in
// base 26 with letters from two scripts, so the n-grams are many and varied.
std::string generated_text(uint32_t words) {
    static const char *const kLetters[] = {"a", "b", "c", "d", "e", "f", "g", "h",       "i",
                                           "j", "k", "l", "m", "n", "o", "p", "q",       "r",
                                           "s", "t", "u", "v", "w", "x", "y", "\xd0\xb6"};
    std::string text;
    for (uint32_t w = 0; w < words; ++w) {
        uint32_t v = w * 2654435761u;  // spread the words over the whole space
        for (int k = 0; k < 4; ++k, v /= 26) text += kLetters[v % 26];
        text += ' ';
    }
    return text;
}

// The query n-grams in rank order, as identification will rank them.
std::vector<std::string> ranked_ngrams(const std::string &text, int32_t max_distribution) {
    tavik_ngram_list list{};
    std::vector<std::string> out;
    if (tavik_ngram_extract(text.c_str(), 5, &list) != TAVIK_OK) return out;
    tavik_ngram_prune_and_rank(&list, 0, max_distribution);
    for (uint64_t k = 0; k < list.count; ++k) out.emplace_back(list.items[k].text);
    tavik_ngram_list_free(&list);
    return out;
}

// Appends one language to the profile blob `b`, its entries written as
// they are made (the fuzzer's own allocations would otherwise dominate a
// run); returns its code.
std::string put_lang(std::string &b, const uint8_t *recipe, size_t index,
                     const std::vector<std::string> &query, const std::string &previous_code) {
    const uint8_t shape = recipe[0];
    std::string code =
        (shape & 32) != 0 && !previous_code.empty() ? previous_code : "l" + std::to_string(index);
    std::vector<uint32_t> shared;  // query positions, each entry once or twice
    if (!query.empty()) {
        const size_t take = query.size() * recipe[1] / 255;
        const size_t from = query.size() * recipe[2] / 256;
        for (size_t k = 0; k < take; ++k) {
            if ((shape & 64) != 0 && k % 2 == 1) continue;
            const auto at = static_cast<uint32_t>((from + k) % query.size());
            shared.push_back(at);
            if ((shape & 4) != 0) shared.push_back(at);
        }
        if ((shape & 2) != 0) std::reverse(shared.begin(), shared.end());
    }
    const size_t fill =
        (shape & 16) != 0 && index < 2 ? 32768u + recipe[3] * 64u : static_cast<size_t>(recipe[3]);
    // Two languages may be long; the rest stay short enough that a run of 64
    // languages takes milliseconds, not seconds.
    const size_t count = std::min(fill + shared.size(), index < 2 ? size_t{100000} : size_t{6000});
    b += static_cast<char>(code.size());
    b += code;
    put32(b, static_cast<uint32_t>(count));
    const std::string_view filler = (shape & 8) != 0 ? "filler-text-longer-than-sixteen-" : "f";
    const std::string_view stretch = (shape & 128) != 0 ? "-stretched-beyond-sixteen-bytes" : "";
    char digits[16];
    for (size_t k = 0; k < count; ++k) {
        const bool is_fill = (shape & 1) != 0 ? k < fill : k >= shared.size();
        if (is_fill) {
            const size_t f = (shape & 1) != 0 ? k : k - shared.size();
            const int n = std::snprintf(digits, sizeof digits, "%zu", f);
            put16(b, static_cast<uint32_t>(filler.size()) + static_cast<uint32_t>(n));
            b += filler;
            b.append(digits, static_cast<size_t>(n));
        } else {
            const std::string &g = query[shared[(shape & 1) != 0 ? k - fill : k]];
            put16(b, static_cast<uint32_t>(g.size() + stretch.size()));
            b += g;
            b += stretch;
        }
        put32(b, static_cast<uint32_t>(count - k));
    }
    return code;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 4 + kLangBytes) return 0;
    const size_t langs = 1 + data[0] % 64;
    const bool penalty = (data[1] & 1) != 0;
    const bool generated = (data[1] & 2) != 0;
    const int32_t max_distribution = kDistributions[data[1] >> 2 & 3];
    const uint32_t words = static_cast<uint32_t>(data[2] | data[3] << 8) % 12000;
    const uint8_t *recipes = data + 4;
    const size_t recipe_bytes = std::min(size - 4, langs * kLangBytes);
    const std::string text =
        generated ? generated_text(words)
                  : std::string(reinterpret_cast<const char *>(recipes) + recipe_bytes,
                                size - 4 - recipe_bytes);

    const std::vector<std::string> query = ranked_ngrams(text, max_distribution);
    std::string profile = "TAVIK001";
    for (uint32_t v : {1u, 1u, 5u, static_cast<uint32_t>(max_distribution), 0u,
                       static_cast<uint32_t>(langs), 0u})
        put32(profile, v);
    std::string code;
    for (size_t j = 0; j < langs; ++j) {
        uint8_t recipe[kLangBytes];
        for (size_t k = 0; k < kLangBytes; ++k)
            recipe[k] = recipes[(j * kLangBytes + k) % recipe_bytes];
        code = put_lang(profile, recipe, j, query, code);
    }
    check(tavik_load_profile_memory(profile.data(), profile.size()) == TAVIK_OK,
          "hostile profile rejected");
    tavik_set_min_ngrams(0);
    tavik_set_min_margin(0.0);
    tavik_set_size_penalty(penalty ? 1 : 0);

    const int32_t rc = tavik_identify(text.c_str());
    const tavik_state *g = tavik_get_state();
    const tavik_profile *p = g->profile;
    if (rc != TAVIK_OK && rc != TAVIK_AMBIGUOUS) {
        check(rc == TAVIK_BAD_UTF8 || rc == TAVIK_NO_MEMORY, "unexpected status");
        tavik_free_profile();
        return 0;
    }
    check(static_cast<size_t>(g->query.count) == query.size(), "query differs from extraction");
    const int32_t n = tavik_result_count();
    check(p != nullptr && n == p->lang_count, "not every language scored");
    std::vector<std::pair<double, std::string>> want, got;
    const std::vector<std::string> query_texts = tavik_ref::texts_of(g->query);
    for (int32_t i = 0; i < n; ++i) {
        want.emplace_back(
            tavik_ref::distance(p->langs[i], query_texts, penalty, g->max_distribution),
            p->langs[i].code);
        got.emplace_back(tavik_result_distance(i), tavik_result_code(i));
        check(std::isfinite(got.back().first) && got.back().first >= 0.0, "distance out of range");
    }
    check(std::is_sorted(got.begin(), got.end()), "results not sorted by distance, then code");
    std::sort(want.begin(), want.end());
    check(got == want, "a distance differs from the reference");
    tavik_free_profile();
    return 0;
}
