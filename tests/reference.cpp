// SPDX-License-Identifier: MIT
// reference.cpp - plain reference implementations; see reference.h.
#include "reference.h"

#include <algorithm>
#include <cstdlib>
#include <map>

#include "letter_table.h"

namespace tavik_ref {

// ------------------------------------------------------------- extraction

bool is_letter(uint32_t cp) { return tavik::in_letter_table(cp); }

size_t decode(std::string_view bytes, size_t at, uint32_t *cp) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(bytes[at + k]); };
    const unsigned char lead = byte(0);
    size_t length;
    uint32_t c;
    uint32_t least;  // the least code point of this length: below it is overlong
    if (lead < 0x80) {
        length = 1, c = lead, least = 0;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, c = lead & 0x1Fu, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, c = lead & 0x0Fu, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, c = lead & 0x07u, least = 0x10000;
    } else {
        return 0;
    }
    if (bytes.size() - at < length) return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(k) & 0xC0) != 0x80) return 0;
        c = c << 6 | (byte(k) & 0x3Fu);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    *cp = c;
    return length;
}

std::string utf8(std::u32string_view cps) {
    std::string out;
    for (const char32_t ch : cps) {
        const auto c = static_cast<uint32_t>(ch);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::vector<Gram> count_ngrams(const std::vector<std::u32string> &framed, int32_t max_len) {
    const size_t longest = static_cast<size_t>(std::min(max_len, 7));
    std::map<std::u32string, size_t> index;  // n-gram -> its place in `out`
    std::vector<Gram> out;
    int32_t occurrence = 0;
    for (const std::u32string &word : framed) {
        for (size_t end = 1; end <= word.size(); ++end) {
            for (size_t n = 1; n <= longest && n <= end; ++n) {
                const std::u32string gram = word.substr(end - n, n);
                if (gram == U"_") continue;
                const auto [at, fresh] = index.emplace(gram, out.size());
                if (fresh)
                    out.push_back({utf8(gram), 1, occurrence});
                else
                    ++out[at->second].count;
                ++occurrence;
            }
        }
    }
    return out;
}

std::optional<std::vector<Gram>> extract(std::string_view text, int32_t max_len) {
    // Decode all of it first: one bad sequence anywhere fails the text.
    std::u32string cps;
    for (size_t at = 0; at < text.size();) {
        uint32_t cp;
        const size_t length = decode(text, at, &cp);
        if (length == 0) return std::nullopt;
        cps += static_cast<char32_t>(cp);
        at += length;
    }
    std::vector<std::u32string> words;
    std::u32string word;
    for (const char32_t c : cps + U" ") {  // a separator ends the last word
        if (is_letter(static_cast<uint32_t>(c))) {
            word += c;
            continue;
        }
        if (word.empty()) continue;
        std::u32string framed = U"_" + word.substr(0, kWordLetterLimit);
        if (word.size() < kWordLetterLimit) framed += U"_";
        words.push_back(framed);
        word.clear();
    }
    return count_ngrams(words, max_len);
}

std::vector<Gram> rank(std::vector<Gram> grams, int32_t threshold, int32_t max_distribution) {
    if (threshold > 0) std::erase_if(grams, [&](const Gram &g) { return g.count < threshold; });
    std::sort(grams.begin(), grams.end(), [](const Gram &a, const Gram &b) {
        if (a.count != b.count) return a.count > b.count;
        if (a.order != b.order) return a.order < b.order;
        return a.text < b.text;
    });
    if (max_distribution > 0 && grams.size() > static_cast<size_t>(max_distribution))
        grams.resize(static_cast<size_t>(max_distribution));
    return grams;
}

// --------------------------------------------------------------- distance

std::vector<std::string> texts_of(const tavik_ngram_list &list) {
    std::vector<std::string> out;
    for (uint64_t k = 0; k < list.count; ++k) out.emplace_back(list.items[k].text);
    return out;
}

double distance(const tavik_lang &lang, const std::vector<std::string> &query, bool size_penalty,
                int64_t penalty) {
    // The language's ranks from its list, not from the library's lookup.
    std::map<std::string, int64_t> rank_in_lang;
    for (uint64_t k = 0; k < lang.ngrams.count; ++k)
        rank_in_lang.emplace(lang.ngrams.items[k].text, static_cast<int64_t>(k) + 1);

    const auto q = static_cast<int64_t>(query.size());
    const auto p = static_cast<int64_t>(lang.ngrams.count);
    if (q == 0 && p == 0) return 0.0;
    int64_t sum = size_penalty ? std::abs(q - p) * penalty : 0;
    for (int64_t i = 1; i <= q; ++i) {
        const auto found = rank_in_lang.find(query[static_cast<size_t>(i - 1)]);
        sum += found == rank_in_lang.end() ? penalty : std::abs(i - found->second);
    }
    return static_cast<double>(sum) / static_cast<double>(std::max(q, p));
}

}  // namespace tavik_ref
