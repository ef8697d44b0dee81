// SPDX-License-Identifier: MIT
// fuzz_train.cpp - the training functions driven by the input.
//
// The input is a program of operations, one after another until the bytes
// run out: begin a language, feed text, end the language, set a meta pair,
// change the settings, write the profile (and load it back), reset.  A
// model of the training record predicts every returned code; after every
// operation the record must equal the model, and a written profile must
// load back with the same settings, languages, n-grams and meta pairs.
//
// Operation bytes (the first byte modulo 8 picks the operation):
//   0 begin:    length (mod 10; 9 = null code and no bytes), that many code bytes
//   1 feed:     length (255 = null text and no bytes), that many text bytes
//   2 end
//   3 meta:     key length (mod 16; 15 = null key and no bytes), key, value length
//               (mod 32), value
//   4 settings: max_ngram_length, occurance_threshold (signed bytes),
//               max_distribution (signed 16-bit, little-endian)
//   5 write, load back, compare
//   6 reset
//   7 feed:     one byte choosing a piece of sample text
// Texts and codes end at their first NUL byte, as everywhere.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "api_internal.h"
#include "fuzz_util.h"
#include "tavik/tavik_api.h"

namespace {

using tavik_fuzz::check;
using tavik_fuzz::scratch_path;

using Gram = std::pair<std::string, int32_t>;

struct ModelLang {
    std::string code;
    std::string text;         // collected text
    std::vector<Gram> grams;  // ranked n-grams once ended
};

// What the training record must hold.
struct Model {
    std::vector<ModelLang> langs;
    int32_t current = -1;
    std::vector<std::pair<std::string, std::string>> meta;

    // The ranked n-grams of `text` under the current settings, or the
    // extractor's failure code.
    static int32_t rank(const std::string &text, std::vector<Gram> &out) {
        const tavik_state *g = tavik_get_state();
        tavik_ngram_list list{};
        const int32_t rc = tavik_ngram_extract(text.c_str(), g->max_ngram_length, &list);
        if (rc != TAVIK_OK) return rc;
        tavik_ngram_prune_and_rank(&list, g->occurance_threshold, g->max_distribution);
        out.clear();
        for (uint64_t k = 0; k < list.count; ++k)
            out.emplace_back(list.items[k].text, list.items[k].count);
        tavik_ngram_list_free(&list);
        return TAVIK_OK;
    }

    int32_t begin(const char *code) {
        if (code == nullptr || code[0] == '\0' || std::strlen(code) > 7 || langs.size() >= 64)
            return TAVIK_INVALID;
        langs.push_back({code, {}, {}});
        current = static_cast<int32_t>(langs.size()) - 1;
        return TAVIK_OK;
    }
    int32_t feed(const char *text) {
        if (text == nullptr || current < 0) return TAVIK_INVALID;
        langs[static_cast<size_t>(current)].text += std::string(text) + "\n";
        return TAVIK_OK;
    }
    int32_t end() {
        if (current < 0) return TAVIK_INVALID;
        ModelLang &l = langs[static_cast<size_t>(current)];
        if (!l.text.empty()) {
            const int32_t rc = rank(l.text, l.grams);
            if (rc != TAVIK_OK) return rc;
            l.text.clear();
        }
        current = -1;
        return TAVIK_OK;
    }
    int32_t set_meta(const char *key, const char *value) {
        if (key == nullptr || value == nullptr) return TAVIK_INVALID;
        for (auto &[k, v] : meta)
            if (k == key) {
                v = value;
                return TAVIK_OK;
            }
        if (meta.size() >= 64) return TAVIK_INVALID;
        meta.emplace_back(key, value);
        return TAVIK_OK;
    }
    // The code of a write before anything is written: ending the open
    // language, then the writer's own refusals.
    int32_t write() {
        if (current >= 0) {
            const int32_t rc = end();
            if (rc != TAVIK_OK) return rc;
        }
        if (langs.empty()) return TAVIK_INVALID;
        for (const ModelLang &l : langs)
            if (l.grams.size() > TAVIK_MAX_LANG_NGRAMS) return TAVIK_INVALID;
        return TAVIK_OK;
    }
};

// The training record equals the model.
void check_record(const Model &m) {
    const tavik_train_state &t = tavik::T;
    check(t.lang_count == static_cast<int32_t>(m.langs.size()), "language count");
    check(t.current == m.current, "open language");
    for (size_t j = 0; j < m.langs.size(); ++j) {
        const tavik_train_lang &l = t.langs[j];
        const ModelLang &w = m.langs[j];
        check(w.code == l.code, "language code");
        check(l.text_len == w.text.size() &&
                  (l.text == nullptr ? w.text.empty() : w.text == l.text),
              "collected text");
        check(l.text == nullptr || (l.text_cap > l.text_len && l.text[l.text_len] == '\0'),
              "collected text not terminated inside its buffer");
        check(l.ngrams.count == w.grams.size(), "n-gram count");
        for (size_t k = 0; k < w.grams.size(); ++k)
            check(w.grams[k].first == l.ngrams.items[k].text &&
                      w.grams[k].second == l.ngrams.items[k].count,
                  "n-gram");
    }
    check(t.meta_count == static_cast<int32_t>(m.meta.size()), "meta count");
    for (size_t i = 0; i < m.meta.size(); ++i)
        check(m.meta[i].first == t.meta[i].key && m.meta[i].second == t.meta[i].value, "meta pair");
}

// A written profile holds exactly the model and the current settings.
void check_written(const Model &m, const std::string &path) {
    tavik_profile *p = nullptr;
    check(tavik_profile_load_path(path.c_str(), &p) == TAVIK_OK, "written profile rejected");
    const tavik_state *g = tavik_get_state();
    check(p->version == 1 && p->flags == 1, "header");
    check(p->max_ngram_length == g->max_ngram_length &&
              p->max_distribution == g->max_distribution &&
              p->occurance_threshold == g->occurance_threshold,
          "settings in the header");
    check(p->lang_count == static_cast<int32_t>(m.langs.size()), "written languages");
    for (size_t j = 0; j < m.langs.size(); ++j) {
        const tavik_lang &l = p->langs[j];
        const ModelLang &w = m.langs[j];
        check(w.code == l.code, "written code");
        check(l.ngrams.count == w.grams.size(), "written n-gram count");
        for (size_t k = 0; k < w.grams.size(); ++k) {
            check(w.grams[k].first == l.ngrams.items[k].text &&
                      w.grams[k].second == l.ngrams.items[k].count,
                  "written n-gram");
            check(tavik_lang_lookup_rank(&l, l.ngrams.items[k].text) > 0, "lookup misses");
        }
    }
    check(p->meta_count == static_cast<int32_t>(m.meta.size()), "written meta count");
    for (size_t i = 0; i < m.meta.size(); ++i)
        check(m.meta[i].first == p->meta[i].key && m.meta[i].second == p->meta[i].value,
              "written meta pair");
    tavik_profile_free(p);
    // The public loader takes it as well.
    check(tavik_load_profile(path.c_str()) == TAVIK_OK, "public loader rejected the profile");
    check(tavik_profile_language_count() == static_cast<int32_t>(m.langs.size()),
          "public loader lost languages");
    tavik_free_profile();
}

class Input {
public:
    Input(const uint8_t *data, size_t size) : p_(data), left_(size) {}
    bool empty() const { return left_ == 0; }
    uint8_t byte() {
        if (left_ == 0) return 0;
        --left_;
        return *p_++;
    }
    // `n` bytes (fewer when the input ends), as a string cut at its first NUL.
    std::string text(size_t n) {
        n = n < left_ ? n : left_;
        std::string s(reinterpret_cast<const char *>(p_), n);
        p_ += n;
        left_ -= n;
        return s.c_str();
    }

private:
    const uint8_t *p_;
    size_t left_;
};

constexpr const char *kSamples[] = {
    "the quick brown fox jumps over the lazy dog",
    "der schnelle braune Fuchs springt über den faulen Hund",
    "η γρήγορη καφέ αλεπού",
    "素早い茶色の狐",
    "broken \xc3",
    "",
    "aaaa aaaa aaaa bbbb",
    "l'eau x_y a1b",
};

std::optional<std::string> maybe(bool null, std::string s) {
    if (null) return std::nullopt;
    return s;
}

const char *ptr(const std::optional<std::string> &s) { return s ? s->c_str() : nullptr; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    tavik_train_reset();
    tavik_set_max_ngram_length(5);
    tavik_set_max_distribution(4000);
    tavik_set_occurance_threshold(0);
    const std::string path = scratch_path("trained.tavik");
    Model m;
    Input in(data, size);
    while (!in.empty()) {
        int32_t rc = 0, want = 0;
        switch (in.byte() % 8) {
        case 0: {
            const uint8_t n = in.byte() % 10;
            const auto code = maybe(n == 9, in.text(n == 9 ? 0 : n));
            want = m.begin(ptr(code));
            rc = tavik_train_begin(ptr(code));
            break;
        }
        case 1: {
            const uint8_t n = in.byte();
            const auto text = maybe(n == 255, in.text(n == 255 ? 0 : n));
            want = m.feed(ptr(text));
            rc = tavik_train_feed(ptr(text));
            break;
        }
        case 2:
            want = m.end();
            rc = tavik_train_end_language();
            break;
        case 3: {
            const uint8_t kn = in.byte() % 16;
            const auto key = maybe(kn == 15, in.text(kn == 15 ? 0 : kn));
            const auto value = in.text(in.byte() % 32);
            want = m.set_meta(ptr(key), value.c_str());
            rc = tavik_train_set_meta(ptr(key), value.c_str());
            break;
        }
        case 4: {
            tavik_set_max_ngram_length(static_cast<int8_t>(in.byte()));
            tavik_set_occurance_threshold(static_cast<int8_t>(in.byte()));
            const uint8_t lo = in.byte();
            tavik_set_max_distribution(static_cast<int16_t>(lo | in.byte() << 8));
            break;
        }
        case 5: {
            want = m.write();
            rc = tavik_train_write_profile(path.c_str());
            if (rc == TAVIK_OK) {
                check_written(m, path);
                ::unlink(path.c_str());
            } else {
                check(::access(path.c_str(), F_OK) != 0, "failed write left a file");
            }
            break;
        }
        case 6:
            m = Model{};
            tavik_train_reset();
            break;
        case 7: {
            const char *sample = kSamples[in.byte() % (sizeof kSamples / sizeof *kSamples)];
            want = m.feed(sample);
            rc = tavik_train_feed(sample);
            break;
        }
        }
        check(rc == want, "unexpected status");
        check_record(m);
    }
    tavik_train_reset();
    return 0;
}
