// reference.cpp - plain reference implementations; see reference.h.
#include "reference.h"

#include <algorithm>
#include <cstdlib>
#include <map>

namespace tavik_ref {

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
