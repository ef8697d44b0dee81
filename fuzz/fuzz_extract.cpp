// SPDX-License-Identifier: MIT
// fuzz_extract.cpp - n-gram extraction and ranking of arbitrary bytes.
//
// Input: byte 0 the maximum n-gram length (signed), byte 1 the occurrence
// threshold (signed), bytes 2-3 the maximum distribution (signed 16-bit,
// little-endian), byte 4 bit 0 the counting path (set: word by word, as
// long texts are counted; clear: occurrence by occurrence), byte 4 bits
// 1-3 a declared text model (Unicode letters, case folding, NFC; none set:
// the designed model only), the rest the text (it ends at its first NUL,
// as every text does).
//
// Under a declared text model the text is counted both ways, which must
// agree, and every n-gram must be well-formed UTF-8 of 1 to max_len code
// points, made of the model's letters (folded, when it folds) and frames.
//
// The library's list is compared with the plain reference (reference.h)
// that follows the extraction rules literally (decode, frame words, count every n-gram of
// every word), so not only crashes but every wrong count, order or rank
// shows.  The same text then goes through the public query functions,
// whose accessors must agree with the reference ranking.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_util.h"
#include "ngram_count.h"
#include "reference.h"
#include "tavik/tavik_api.h"
#include "text_model.h"
#include "utf8_inline.h"

namespace {

using tavik_fuzz::check;
using tavik_fuzz::signed8;

// ------------------------------------------------------------------ checks

// The list equals `want` entry for entry; a ranked list also has its
// counts in descending order.
void check_list(const tavik_ngram_list &list, const std::vector<tavik_ref::Gram> &want,
                bool ranked) {
    check(list.count == want.size(), "wrong number of n-grams");
    check(list.count <= list.capacity, "count above capacity");
    for (size_t k = 0; k < want.size(); ++k) {
        const struct tavik_ngram &e = list.items[k];
        check(e.text != nullptr && want[k].text == e.text, "wrong n-gram text");
        check(e.count == want[k].count, "wrong count");
        check(e.order == want[k].order, "wrong order");
        check(e.count > 0, "count not positive");
        check(!ranked || k == 0 || list.items[k - 1].count >= e.count, "counts not sorted");
    }
}

// The query through the public functions: its accessors answer the
// reference ranking, ranks are 1..count, and nothing is answered outside.
void check_query(int32_t rc, bool bad_utf8, const std::vector<tavik_ref::Gram> &want) {
    if (bad_utf8) {
        check(rc == TAVIK_BAD_UTF8, "query: bad UTF-8 not reported");
        check(std::strcmp(tavik_last_error(), "bad utf8") == 0, "query: wrong error text");
        check(tavik_ngram_count() == 0 && tavik_ngram(0) == nullptr, "query left after failure");
        return;
    }
    check(rc == TAVIK_OK, "query: extraction failed");
    const int32_t n = tavik_ngram_count();
    check(n >= 0 && static_cast<size_t>(n) == want.size(), "query: wrong count");
    std::vector<bool> seen(static_cast<size_t>(n) + 1, false);
    const tavik_ngram_list &q = tavik_get_state()->query;
    for (int32_t i = 0; i < n; ++i) {
        const int32_t rank = tavik_ngram_rank(i);
        check(rank >= 1 && rank <= n && !seen[static_cast<size_t>(rank)],
              "query: ranks are not a permutation of 1..count");
        seen[static_cast<size_t>(rank)] = true;
        const char *text = tavik_ngram(i);
        check(text != nullptr && want[static_cast<size_t>(i)].text == text, "query: wrong n-gram");
        check(q.items[i].count > 0 && (i == 0 || q.items[i - 1].count >= q.items[i].count),
              "query: counts not positive and sorted");
    }
    check(tavik_ngram(n) == nullptr && tavik_ngram(-1) == nullptr, "query: answer out of range");
    check(tavik_ngram_rank(n) == 0 && tavik_ngram_rank(-1) == 0, "query: rank out of range");
}

// The entries of `map` as text/count/order lines.
std::string entries_of(const tavik::StrMap &map) {
    std::string s;
    for (uint64_t k = 0; k < map.count; ++k) {
        const tavik::Counted &e = map.entries[k];
        s.append(map.text(e), e.len);
        s += "/" + std::to_string(e.count) + "/" + std::to_string(e.order) + "\n";
    }
    return s;
}

void check_model(const std::string_view text, int32_t max_len, const tavik::TextModel &model,
                 bool bad_utf8) {
    const uint64_t long_text = tavik::count_words_from;
    std::string ways[2];
    for (int way = 0; way < 2; ++way) {
        tavik::count_words_from = way == 0 ? long_text : 0;
        tavik::StrMap map;
        const int32_t rc = tavik::strmap_count_model(map, text.data(), text.size(), max_len, model);
        check(rc == (bad_utf8 ? TAVIK_BAD_UTF8 : TAVIK_OK), "text model: wrong status");
        ways[way] = entries_of(map);
        const tavik::UnicodeTable &table = *tavik::unicode_table();
        for (uint64_t k = 0; k < map.count; ++k) {
            const tavik::Counted &e = map.entries[k];
            const auto *p = reinterpret_cast<const unsigned char *>(map.text(e));
            int32_t cps = 0;
            for (uint32_t at = 0; at < e.len; ++cps) {
                uint32_t cp;
                const int32_t n = tavik::utf8_decode(p + at, e.len - at, &cp);
                check(n > 0, "text model: n-gram not UTF-8");
                if (n <= 0) break;
                const bool frame = cp == '_' && (at == 0 || at + 1 == e.len);
                const tavik::CodePointInfo info = tavik::unicode_info(table, cp);
                const bool letter = model.unicode_letters ? info.letter || tavik::is_joiner(cp)
                                                          : tavik::is_letter(cp);
                check(frame || letter, "text model: n-gram holds a non-letter");
                check(frame || !model.fold_case || !info.letter || info.fold == cp,
                      "text model: letter not folded");
                at += static_cast<uint32_t>(n);
            }
            check(cps >= 1 && cps <= std::min(max_len, 7), "text model: n-gram length");
        }
        tavik::strmap_release(map);
    }
    tavik::count_words_from = long_text;
    check(ways[0] == ways[1], "text model: the two ways of counting disagree");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 5) return 0;
    // Texts shorter than this are counted occurrence by occurrence.
    static const uint64_t long_text = tavik::count_words_from;
    tavik::count_words_from = (data[4] & 1) != 0 ? 0 : long_text;
    const int32_t max_len = signed8(data[0]);
    const int32_t threshold = signed8(data[1]);
    const int32_t max_distribution = static_cast<int16_t>(data[2] | data[3] << 8);
    const std::string bytes(reinterpret_cast<const char *>(data) + 5, size - 5);
    const std::string_view text(bytes.c_str());  // up to the first NUL

    // A rejected call leaves the list as it was, whatever it held.
    struct tavik_ngram marker {};
    tavik_ngram_list list{&marker, 0, 7};
    const int32_t rc = tavik_ngram_extract(bytes.c_str(), max_len, &list);
    if (max_len < 1) {
        check(rc == TAVIK_INVALID, "maximum length below 1 accepted");
        check(list.items == &marker && list.count == 0 && list.capacity == 7, "list touched");
        return 0;
    }
    const std::optional<std::vector<tavik_ref::Gram>> ref = tavik_ref::extract(text, max_len);
    const tavik::TextModel model{(data[4] & 2) != 0, (data[4] & 4) != 0, (data[4] & 8) != 0};
    if (!model.designed()) check_model(text, max_len, model, !ref);
    if (!ref) {
        check(rc == TAVIK_BAD_UTF8, "bad UTF-8 not reported");
        check(list.items == nullptr && list.count == 0 && list.capacity == 0,
              "list not empty after failure");
        tavik_ngram_list_free(&list);
    } else {
        check(rc == TAVIK_OK, "extraction failed");
        check_list(list, *ref, false);
        tavik_ngram_prune_and_rank(&list, threshold, max_distribution);
        check_list(list, tavik_ref::rank(*ref, threshold, max_distribution), true);
        tavik_ngram_list_free(&list);
        check(list.items == nullptr && list.count == 0 && list.capacity == 0,
              "release did not empty the list");
    }

    // The public query under the same settings; the setters ignore a
    // length or distribution below 1, so known values go first.
    tavik_set_max_ngram_length(5);
    tavik_set_max_ngram_length(max_len);
    tavik_set_max_distribution(4000);
    tavik_set_max_distribution(max_distribution);
    tavik_set_occurance_threshold(threshold);
    const tavik_state *g = tavik_get_state();
    const std::vector<tavik_ref::Gram> want =
        ref ? tavik_ref::rank(*ref, g->occurance_threshold, g->max_distribution)
            : std::vector<tavik_ref::Gram>{};
    check_query(tavik_extract_ngrams(bytes.c_str()), !ref, want);
    tavik_free_profile();
    return 0;
}
