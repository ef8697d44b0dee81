// SPDX-License-Identifier: MIT
// relatives.cpp - close relatives told apart by likelihood (relatives.h).

#include "relatives.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "alloc.h"
#include "engine.h"

namespace tavik {

namespace {

// N-gram lengths are binned by code points, 1 to 7; a text of a hostile
// profile that is longer (or empty) shares the last (or first) bin.
constexpr int kBins = 8;

// Relatives are ordered only when the distance leaves the first two this
// close (the winner's relative lead): on the default model's development
// texts a clearer lead was as often right without them, and so the
// lookups are spent on the few texts that need them.
constexpr double kGate = 0.2;

// An n-gram's cost, -ln p, is kept in steps of 1/2048 nat up to 32 nats
// (p down to 1.3e-14): two bytes an n-gram, far finer than the counts
// behind it, and the sums of a text are exact in a double.
constexpr double kCostSteps = 2048.0;

uint16_t cost_of(double p) {
    const double c = -std::log(p) * kCostSteps;
    return c >= 65535.0 ? uint16_t{65535} : c <= 0.0 ? uint16_t{0} : static_cast<uint16_t>(c + 0.5);
}

// A lead in cross-entropy is about a tenth of a lead in distance for the
// same doubt (measured on the default model's held-out texts); scaled, the
// confidence means about the same whichever decided, and one calibration
// fits both.
constexpr double kLeadScale = 10.0;

// Absent n-grams count as this share of the rarest count kept at their
// length: the profile cut them below it, so they are rarer still.
constexpr double kAbsentShare = 0.25;

// Each of a text's words weighs this many n-grams: a word is the whole of
// what its n-grams tell in pieces (on the default model's development
// texts, 4 to 16 did about as well; 8 did best at 30 characters).
constexpr double kWordWeight = 8.0;

// A word list's entries: the word's hash in the high 48 bits, its cost in
// the low 16, sorted, so that a word's first entry is its best place.
constexpr uint64_t kWordHashMask = ~uint64_t{0xFFFF};

int bin_of(const char *text) {
    int n = 0;
    for (const auto *p = reinterpret_cast<const unsigned char *>(text); *p != 0 && n < kBins - 1;
         ++p)
        n += (*p & 0xC0u) != 0x80u ? 1 : 0;
    return n;
}

// Calls each(group, code, len) for every code of the value; false when the
// value is not a list of groups of at least two codes of 1 to 7 bytes.
template <class Each>
bool parse(const char *value, Each each) {
    int32_t group = 0;
    int32_t in_group = 0;
    const char *p = value;
    for (;;) {
        const size_t len = std::strcspn(p, ",;");
        if (len == 0 || len > 7) return false;
        if (!each(group, p, len)) return false;
        ++in_group;
        p += len;
        if (*p == ',') {
            ++p;
            continue;
        }
        if (in_group < 2) return false;
        if (*p == '\0') return true;
        ++p;  // ';'
        ++group;
        in_group = 0;
    }
}

const char *relatives_value(const tavik_profile &p) {
    for (int32_t i = 0; i < p.meta_count; ++i)
        if (is_relatives_key(p.meta[i].key)) return p.meta[i].value;
    return nullptr;
}

// The one language of `p` whose code is the `len` bytes at `code`, or -1
// when none or several are.
int32_t language_of(const tavik_profile &p, const char *code, size_t len) {
    int32_t found = -1;
    for (int32_t l = 0; l < p.lang_count; ++l) {
        if (std::strlen(p.langs[l].code) != len || std::memcmp(p.langs[l].code, code, len) != 0)
            continue;
        if (found >= 0) return -1;
        found = l;
    }
    return found;
}

}  // namespace

struct Relatives {
    int32_t count = 0;                           // grouped languages
    int32_t lang[TAVIK_MAX_LANGS] = {};          // profile place of each
    int32_t group[TAVIK_MAX_LANGS] = {};         // its group
    char code[TAVIK_MAX_LANGS][8] = {};          // its code, as results name it
    const uint16_t *cost[TAVIK_MAX_LANGS] = {};  // by rank - 1
    uint16_t absent[TAVIK_MAX_LANGS][kBins] = {};
    uint16_t *block = nullptr;
    const uint64_t *words[TAVIK_MAX_LANGS] = {};  // its word list's entries, if any
    uint32_t word_count[TAVIK_MAX_LANGS] = {};
    uint16_t word_absent[TAVIK_MAX_LANGS] = {};
    uint64_t *word_block = nullptr;
};

bool is_relatives_key(const char *key) { return std::strcmp(key, kMetaRelatives) == 0; }

bool is_words_key(const char *key) {
    return std::strncmp(key, kMetaWordsPrefix, sizeof kMetaWordsPrefix - 1) == 0;
}

bool words_syntax_ok(const char *key, const char *value) {
    if (!is_words_key(key)) return false;
    const size_t code = std::strlen(key + sizeof kMetaWordsPrefix - 1);
    if (code == 0 || code > 7) return false;
    // No empty word: no space first, last or after another.
    if (*value == '\0' || *value == ' ') return false;
    for (const char *p = value; *p != '\0'; ++p)
        if (*p == ' ' && (p[1] == ' ' || p[1] == '\0')) return false;
    return true;
}

bool relatives_syntax_ok(const char *value) {
    return parse(value, [](int32_t, const char *, size_t) { return true; });
}

bool relatives_check(const tavik_profile &profile, bool *grouped) {
    const char *value = relatives_value(profile);
    if (value == nullptr) return true;
    bool taken[TAVIK_MAX_LANGS] = {};
    const bool ok = parse(value, [&](int32_t, const char *code, size_t len) {
        const int32_t l = language_of(profile, code, len);
        if (l < 0 || taken[l]) return false;
        taken[l] = true;
        return true;
    });
    if (ok && grouped != nullptr) std::memcpy(grouped, taken, sizeof(bool) * profile.lang_count);
    return ok;
}

bool words_check(const tavik_profile &profile, const bool *grouped, char *error) {
    for (int32_t i = 0; i < profile.meta_count; ++i) {
        const char *key = profile.meta[i].key;
        if (!is_words_key(key)) continue;
        const char *code = key + sizeof kMetaWordsPrefix - 1;
        const int32_t l = language_of(profile, code, std::strlen(code));
        if (l >= 0 && grouped[l]) continue;
        std::snprintf(error, 256,
                      "profile key %.160s: names no language of the tavik.relatives groups", key);
        return false;
    }
    return true;
}

namespace {

uint32_t words_in(const char *value) {
    uint32_t n = 1;
    for (const char *p = value; *p != '\0'; ++p) n += *p == ' ' ? 1 : 0;
    return n;
}

// Fills `at` with the entries of a word list (words_syntax_ok) and returns
// the cost of a word it lacks.
uint16_t fill_words(const char *value, uint32_t n, uint64_t *at) {
    double h = 0.0;
    for (uint32_t r = 0; r < n; ++r) h += 1.0 / (r + 2.0);
    uint32_t r = 0;
    for (const char *p = value;; ++r) {
        const size_t len = std::strcspn(p, " ");
        const uint64_t cost = cost_of(1.0 / ((r + 2.0) * h));
        at[r] = (word_hash(p, len) & kWordHashMask) | cost;
        if (p[len] == '\0') break;
        p += len + 1;
    }
    std::sort(at, at + n);
    return cost_of(0.5 / ((n + 1.0) * h));
}

// The cost of a word in member m's list, or `absent`.
uint16_t word_cost(const Relatives &r, int32_t m, uint64_t hash, uint16_t absent) {
    const uint64_t key = hash & kWordHashMask;
    const uint64_t *end = r.words[m] + r.word_count[m];
    const uint64_t *it = std::lower_bound(r.words[m], end, key);
    return it != end && (*it & kWordHashMask) == key ? static_cast<uint16_t>(*it & 0xFFFF) : absent;
}

// Builds the word lists of a profile whose pairs passed words_check.
bool build_words(const tavik_profile &profile, Relatives &r) {
    uint64_t total = 0;
    for (int32_t i = 0; i < profile.meta_count; ++i)
        if (is_words_key(profile.meta[i].key)) total += words_in(profile.meta[i].value);
    if (total == 0) return true;
    r.word_block = static_cast<uint64_t *>(mem_malloc(total * sizeof(uint64_t)));
    if (r.word_block == nullptr) return false;
    uint64_t *at = r.word_block;
    for (int32_t i = 0; i < profile.meta_count; ++i) {
        const char *key = profile.meta[i].key;
        if (!is_words_key(key)) continue;
        const char *code = key + sizeof kMetaWordsPrefix - 1;
        const int32_t l = language_of(profile, code, std::strlen(code));
        int32_t m = 0;
        while (m < r.count && r.lang[m] != l) ++m;
        if (m == r.count) continue;  // not grouped: words_check refuses such a profile
        const uint32_t n = words_in(profile.meta[i].value);
        r.word_absent[m] = fill_words(profile.meta[i].value, n, at);
        r.words[m] = at;
        r.word_count[m] = n;
        at += n;
    }
    return true;
}

}  // namespace

bool relatives_have_words(const Relatives &relatives) { return relatives.word_block != nullptr; }

bool relatives_build(const tavik_profile &profile, Relatives **out) {
    *out = nullptr;
    const char *value = relatives_value(profile);
    if (value == nullptr || !relatives_check(profile)) return true;
    auto *r = static_cast<Relatives *>(mem_malloc(sizeof(Relatives)));
    if (r == nullptr) return false;
    new (r) Relatives{};
    uint64_t total = 0;
    parse(value, [&](int32_t group, const char *code, size_t len) {
        const int32_t l = language_of(profile, code, len);
        r->lang[r->count] = l;
        r->group[r->count] = group;
        std::memcpy(r->code[r->count], profile.langs[l].code, sizeof r->code[0]);
        total += profile.langs[l].ngrams.count;
        ++r->count;
        return true;
    });
    r->block = static_cast<uint16_t *>(mem_malloc((total + 1) * sizeof(uint16_t)));
    if (r->block == nullptr) {
        relatives_free(r);
        return false;
    }
    uint16_t *at = r->block;
    for (int32_t m = 0; m < r->count; ++m) {
        const tavik_ngram_list &list = profile.langs[r->lang[m]].ngrams;
        double sum[kBins] = {};
        double least[kBins] = {};
        double all = 0.0;
        for (uint64_t k = 0; k < list.count; ++k) {
            const double v = list.items[k].count;
            if (v <= 0) continue;  // a stored value of 0 (or above 2^31) says nothing
            const int b = bin_of(list.items[k].text);
            sum[b] += v;
            least[b] = least[b] == 0.0 || v < least[b] ? v : least[b];
            all += v;
        }
        for (int b = 0; b < kBins; ++b)
            r->absent[m][b] =
                cost_of(sum[b] > 0 ? kAbsentShare * least[b] / sum[b] : kAbsentShare / (all + 1.0));
        for (uint64_t k = 0; k < list.count; ++k) {
            const double v = list.items[k].count;
            const int b = bin_of(list.items[k].text);
            at[k] = v > 0 ? cost_of(v / sum[b]) : r->absent[m][b];
        }
        r->cost[m] = at;
        at += list.count;
    }
    if (!build_words(profile, *r)) {
        relatives_free(r);
        return false;
    }
    *out = r;
    return true;
}

void relatives_free(Relatives *relatives) {
    if (relatives == nullptr) return;
    mem_free(relatives->word_block);
    mem_free(relatives->block);
    mem_free(relatives);
}

namespace {

int32_t member_of(const Relatives &r, const char *code) {
    for (int32_t m = 0; m < r.count; ++m)
        if (std::strcmp(r.code[m], code) == 0) return m;
    return -1;
}

}  // namespace

bool relatives_order(const Relatives &r, const ProfileIndex *index, const tavik_ngram_list &query,
                     const QueryEntries &entries, tavik_result *results, int32_t n, bool *tie) {
    if (n < 2 || results[0].confidence >= kGate || query.count == 0) return false;
    // The leading run of one group's languages; it needs two.
    int32_t members[TAVIK_MAX_LANGS];
    int32_t langs[TAVIK_MAX_LANGS];
    int32_t k = 0;
    for (; k < n; ++k) {
        const int32_t m = member_of(r, results[k].code);
        if (m < 0 || (k > 0 && r.group[m] != r.group[members[0]])) break;
        members[k] = m;
        langs[k] = r.lang[m];
    }
    if (k < 2) return false;
    double entropy[TAVIK_MAX_LANGS] = {};
    // A chunk of n-grams at a time, with room for each one's k ranks.
    const uint64_t chunk = kRankChunk / static_cast<uint64_t>(k) + 1;
    int32_t ranks[kRankChunk + TAVIK_MAX_LANGS];
    for (uint64_t base = 0; base < query.count; base += chunk) {
        const uint64_t m = query.count - base < chunk ? query.count - base : chunk;
        index_query_ranks(index, entries, query, base, m, langs, k, ranks);
        for (uint64_t i = 0; i < m; ++i) {
            const struct tavik_ngram &g = query.items[base + i];
            const double c = g.count;
            const int b = bin_of(g.text);
            const int32_t *rank = ranks + i * static_cast<uint64_t>(k);
            for (int32_t j = 0; j < k; ++j) {
                const uint16_t *cost = r.cost[members[j]];
                entropy[j] += c * (rank[j] > 0 ? cost[rank[j] - 1] : r.absent[members[j]][b]);
            }
        }
    }
    // A word missing from a list costs what it costs in the dearest of the
    // run: a short list would otherwise charge unknown words least.
    const QueryWords *words = entries.words;
    bool listed = words != nullptr && words->count > 0;
    uint16_t absent = 0;
    for (int32_t j = 0; j < k && listed; ++j) {
        listed = r.word_count[members[j]] > 0;
        absent = std::max(absent, r.word_absent[members[j]]);
    }
    for (uint32_t i = 0; listed && i < words->count; ++i)
        for (int32_t j = 0; j < k; ++j)
            entropy[j] += kWordWeight * word_cost(r, members[j], words->hash[i], absent);
    // Insertion sort: few languages, and equal ones keep their distance order.
    for (int32_t j = 1; j < k; ++j) {
        const tavik_result moved = results[j];
        const double e = entropy[j];
        int32_t i = j;
        for (; i > 0 && entropy[i - 1] > e; --i) {
            results[i] = results[i - 1];
            entropy[i] = entropy[i - 1];
        }
        results[i] = moved;
        entropy[i] = e;
    }
    for (int32_t j = 0; j < k; ++j) results[j].confidence = 0.0;
    const double lead = entropy[1] > 0 ? kLeadScale * (entropy[1] - entropy[0]) / entropy[1] : 0.0;
    results[0].confidence = lead < 0 ? 0.0 : lead > 1 ? 1.0 : lead;
    *tie = entropy[0] == entropy[1];
    return true;
}

}  // namespace tavik
