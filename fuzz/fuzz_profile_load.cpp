// SPDX-License-Identifier: MIT
// fuzz_profile_load.cpp - the profile reader on arbitrary bytes.
//
// Whatever the bytes, the reader must answer OK, BAD_PROFILE or NO_MEMORY
// without touching memory it does not own.  When it accepts them, the
// profile must hold its invariants, must survive a round trip through the
// writer and the path reader unchanged, and must install through the public
// loader.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>

#include "fuzz_util.h"
#include "tavik/tavik_api.h"

namespace {

using tavik_fuzz::check;
using tavik_fuzz::scratch_path;

void check_lang(const tavik_lang &l) {
    // The stored code has 1 to 7 bytes, but a zero byte among them cuts it
    // short, down to the empty code when it comes first.
    check(strnlen(l.code, sizeof l.code) <= 7, "code longer than 7 bytes");
    const uint64_t n = l.ngrams.count;
    check(n <= TAVIK_MAX_LANG_NGRAMS, "too many n-grams");
    check(l.lookup_keys != nullptr && l.lookup_ranks != nullptr, "lookup table missing");
    uint64_t want_size = 16;
    while (want_size < 2 * n + 16) want_size *= 2;
    check(l.lookup_size == want_size, "lookup table of the wrong size");
    check(l.lookup_used == n, "lookup table does not hold every n-gram");
    // A text found through the table answers its first position; texts are
    // compared up to their NUL, as the table compares them.
    std::unordered_map<std::string_view, int32_t> first;
    for (uint64_t k = 0; k < n; ++k) {
        const struct tavik_ngram &e = l.ngrams.items[k];
        check(e.text != nullptr, "n-gram without text");
        check(e.order == static_cast<int32_t>(k), "order is not the position");
        first.emplace(e.text, static_cast<int32_t>(k + 1));
    }
    for (uint64_t k = 0; k < n; ++k) {
        const char *text = l.ngrams.items[k].text;
        check(tavik_lang_lookup_rank(&l, text) == first.at(text),
              "lookup does not answer the first rank");
    }
}

void check_profile(const tavik_profile &p) {
    check(p.version == 1, "version other than 1");
    check(p.lang_count >= 0 && p.lang_count <= TAVIK_MAX_LANGS, "lang_count outside 0..64");
    check(p.meta_count >= 0 && p.meta_count <= TAVIK_MAX_META, "meta_count outside 0..64");
    for (int32_t i = 0; i < p.meta_count; ++i)
        check(p.meta[i].key != nullptr && p.meta[i].value != nullptr, "meta text missing");
    for (int32_t j = 0; j < p.lang_count; ++j) check_lang(p.langs[j]);
    const std::string id = "tavik-v1-L" + std::to_string(p.lang_count);
    check(id == p.id, "id not of the form tavik-v1-L<languages>");
}

bool writable(const tavik_profile &p) {
    for (int32_t j = 0; j < p.lang_count; ++j)
        if (p.langs[j].code[0] == '\0') return false;
    return true;
}

bool same_text(const char *a, const char *b) { return std::strcmp(a, b) == 0; }

// What a written and re-read profile must give back: every header field
// (flags with bit 0 set), every meta pair and every n-gram with its value.
void check_round_trip(const tavik_profile &a, const tavik_profile &b) {
    check(b.flags == (a.flags | 1), "flags changed");
    check(b.max_ngram_length == a.max_ngram_length && b.max_distribution == a.max_distribution &&
              b.occurance_threshold == a.occurance_threshold,
          "settings changed");
    check(b.lang_count == a.lang_count && b.meta_count == a.meta_count, "counts changed");
    for (int32_t i = 0; i < a.meta_count; ++i)
        check(same_text(a.meta[i].key, b.meta[i].key) &&
                  same_text(a.meta[i].value, b.meta[i].value),
              "meta pair changed");
    for (int32_t j = 0; j < a.lang_count; ++j) {
        const tavik_lang &la = a.langs[j], &lb = b.langs[j];
        check(same_text(la.code, lb.code), "code changed");
        check(la.ngrams.count == lb.ngrams.count, "n-gram count changed");
        for (uint64_t k = 0; k < la.ngrams.count; ++k)
            check(same_text(la.ngrams.items[k].text, lb.ngrams.items[k].text) &&
                      la.ngrams.items[k].count == lb.ngrams.items[k].count,
                  "n-gram changed");
    }
    check(same_text(a.id, b.id), "id changed");
}

bool has_reserved_key(const tavik_profile &p) {
    for (int32_t i = 0; i < p.meta_count; ++i)
        if (std::strncmp(p.meta[i].key, "tavik.", 6) == 0) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    tavik_profile *p = nullptr;
    const int32_t rc = tavik_profile_load(data, size, &p);
    check(rc == TAVIK_OK || rc == TAVIK_BAD_PROFILE || rc == TAVIK_NO_MEMORY, "unknown status");
    check((rc == TAVIK_OK) == (p != nullptr), "result location does not match the status");
    if (p == nullptr) return 0;
    check_profile(*p);

    // The writer takes every loaded profile but one whose code became empty
    // (its first stored byte was zero): such a file would be rejected, so
    // the writer refuses it without creating anything.
    const std::string path = scratch_path("round.tavik");
    const int32_t wrc = tavik_profile_write(p, path.c_str());
    if (writable(*p)) {
        check(wrc == TAVIK_OK, "writer refused a loaded profile");
        tavik_profile *back = nullptr;
        check(tavik_profile_load_path(path.c_str(), &back) == TAVIK_OK, "written file rejected");
        check_profile(*back);
        check_round_trip(*p, *back);
        tavik_profile_free(back);
        ::unlink(path.c_str());
    } else {
        check(wrc == TAVIK_INVALID, "writer took a record the reader would reject");
        check(::access(path.c_str(), F_OK) != 0, "refused write created a file");
    }

    // The reader carries any meta pair; the library refuses a reserved one
    // (text model, calibration, close relatives) whose value it does not take.
    const int32_t lrc = tavik_load_profile_memory(data, size);
    check(lrc == TAVIK_OK || (lrc == TAVIK_BAD_PROFILE && has_reserved_key(*p)),
          "public loader refused it");
    if (lrc == TAVIK_OK)
        check(tavik_profile_language_count() == p->lang_count, "public loader lost languages");
    tavik_free_profile();
    tavik_profile_free(p);
    return 0;
}
