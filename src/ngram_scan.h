// SPDX-License-Identifier: MIT
// ngram_scan.h - the walk over a text that yields its n-gram occurrences.
//
// scan_words decodes the text once and collects each word framed by "_" in
// a fixed buffer; emit_from_token hands every occurrence of a word to a
// sink in occurrence order: by end position, and at one position shortest
// first.  The bytes of an n-gram are a slice of the word's UTF-8 buffer (the
// encoding of a well-formed code point is its own bytes).  The buffer is
// zeroed for 16 bytes past the word, so a key can be loaded whole from any
// n-gram's first byte.
#ifndef TAVIK_NGRAM_SCAN_H
#define TAVIK_NGRAM_SCAN_H

#include <cstdint>
#include <cstring>

#include "ngram_key.h"
#include "tavik/status.h"
#include "text_model.h"
#include "utf8_inline.h"

namespace tavik {

constexpr int kMaxNgramLength = 7;
constexpr int kMaxWordCodePoints = 4095;  // the frame included

// Fixed storage of one scan: the framed word's bytes and the byte offset of
// each of its code points.
struct WordBuffer {
    int32_t count = 0;                        // code points held
    uint32_t offset[kMaxWordCodePoints + 1];  // offset[k]: start of code point k
    char bytes[kMaxWordCodePoints * 4 + 4 + kKeyBytes];
};

// Hands the occurrences of the framed word in `w` to sink(bytes, len), which
// returns 0 or a status; the first non-zero status is returned.
template <class Sink>
inline int32_t emit_from_token(const WordBuffer &w, int max_len, Sink &sink) {
    const int32_t L = max_len < kMaxNgramLength ? max_len : kMaxNgramLength;
    const int32_t m = w.count;
    for (int32_t i = 0; i < m; ++i) {
        const uint32_t b = w.offset[i], e = w.offset[i + 1];
        const int32_t top = i + 1 < L ? i + 1 : L;
        // A frame alone is no n-gram; "_" is never a letter, so only the
        // word's ends can be one.
        int32_t n = e - b == 1 && w.bytes[b] == '_' ? 2 : 1;
        for (; n <= top; ++n) {
            const uint32_t off = w.offset[i - n + 1];
            const int32_t rc = sink(w.bytes + off, e - off);
            if (rc != 0) return rc;
        }
    }
    return 0;
}

// Walks the `len` bytes of text (a NUL among them is a separator, being no
// letter) and hands every framed word to word_sink(const WordBuffer &); returns 0,
// TAVIK_BAD_UTF8 or the sink's status.
template <class WordSink>
inline int32_t scan_words(const char *text, uint64_t len, WordBuffer &w, WordSink &word_sink) {
    const auto *p = reinterpret_cast<const unsigned char *>(text);
    uint64_t pos = 0;
    bool in_word = false;
    auto append = [&w](const unsigned char *src, int n) {
        uint32_t o = w.offset[w.count];
        for (int k = 0; k < n; ++k) w.bytes[o + k] = static_cast<char>(src[k]);
        w.offset[++w.count] = o + static_cast<uint32_t>(n);
    };
    static constexpr unsigned char kFrame[1] = {'_'};
    while (pos < len) {
        uint32_t cp;
        int32_t n;
        if (p[pos] < 0x80u) {
            cp = p[pos];
            n = 1;
        } else {
            n = utf8_decode(p + pos, len - pos, &cp);
            if (n < 0) return TAVIK_BAD_UTF8;
        }
        if (is_letter(cp)) {
            if (!in_word) {
                in_word = true;
                w.count = 0;
                w.offset[0] = 0;
                append(kFrame, 1);
                append(p + pos, n);
            } else if (w.count < kMaxWordCodePoints) {
                append(p + pos, n);
            }
        } else if (in_word) {
            if (w.count < kMaxWordCodePoints) append(kFrame, 1);
            std::memset(w.bytes + w.offset[w.count], 0, kKeyBytes);
            const int32_t rc = word_sink(static_cast<const WordBuffer &>(w));
            if (rc != 0) return rc;
            in_word = false;
        }
        pos += static_cast<uint64_t>(n);
    }
    if (in_word) {
        if (w.count < kMaxWordCodePoints) append(kFrame, 1);
        std::memset(w.bytes + w.offset[w.count], 0, kKeyBytes);
        return word_sink(static_cast<const WordBuffer &>(w));
    }
    return 0;
}

// scan_words under a declared text model (text_model.h): letters are the
// designed table's or Unicode's (L, M, and a joiner between two letters),
// and each letter is folded first when the model folds case.  The word holds the
// folded code points' encodings.  Normalisation is done before, on the
// whole text.
template <class WordSink>
inline int32_t scan_words_model(const char *text, uint64_t len, const UnicodeTable &table,
                                const TextModel &model, WordBuffer &w, WordSink &word_sink) {
    const auto *p = reinterpret_cast<const unsigned char *>(text);
    // Letters are folded before words are cut, so a letter whose folding
    // lies outside the designed table (U+019F to U+0275) separates as that
    // folding would.  A Unicode letter folds to a Unicode letter.
    auto letter_of = [&](uint32_t cp, uint32_t *out) {
        const CodePointInfo info = unicode_info(table, cp);
        *out = model.fold_case && info.letter ? info.fold : cp;
        return model.unicode_letters ? info.letter : is_letter(*out);
    };
    auto append_cp = [&w](uint32_t cp) {
        const uint32_t o = w.offset[w.count];
        const int32_t n = utf8_encode(cp, reinterpret_cast<unsigned char *>(w.bytes + o));
        w.offset[++w.count] = o + static_cast<uint32_t>(n);
    };
    auto finish = [&]() {
        if (w.count < kMaxWordCodePoints) append_cp('_');
        std::memset(w.bytes + w.offset[w.count], 0, kKeyBytes);
        return word_sink(static_cast<const WordBuffer &>(w));
    };
    uint64_t pos = 0;
    bool in_word = false;
    while (pos < len) {
        uint32_t cp;
        int32_t n = 1;
        if (p[pos] < 0x80u) {
            cp = p[pos];
        } else {
            n = utf8_decode(p + pos, len - pos, &cp);
            if (n < 0) return TAVIK_BAD_UTF8;
        }
        pos += static_cast<uint64_t>(n);
        uint32_t out;
        bool letter = letter_of(cp, &out);
        if (!letter && in_word && model.unicode_letters && is_joiner(cp) && pos < len) {
            // A joiner belongs to the word only when a letter follows it.
            uint32_t next, folded;
            letter = utf8_decode(p + pos, len - pos, &next) > 0 && letter_of(next, &folded);
        }
        if (letter) {
            if (!in_word) {
                in_word = true;
                w.count = 0;
                w.offset[0] = 0;
                append_cp('_');
            }
            if (w.count < kMaxWordCodePoints) append_cp(out);
        } else if (in_word) {
            in_word = false;
            const int32_t rc = finish();
            if (rc != 0) return rc;
        }
    }
    return in_word ? finish() : 0;
}

// The number of occurrences emit_from_token hands over for the word in `w`.
inline uint32_t occurrences_in(const WordBuffer &w, int max_len) {
    const int32_t L = max_len < kMaxNgramLength ? max_len : kMaxNgramLength;
    const int32_t m = w.count;
    // Positions 0 .. L-2 yield i + 1 n-grams each, the rest L each.
    const int32_t ramp = m < L - 1 ? m : L - 1;
    uint32_t n = static_cast<uint32_t>(ramp * (ramp + 1) / 2 + (m - ramp) * L);
    n -= 1;  // the opening "_" alone
    const uint32_t last = w.offset[m - 1];
    if (w.offset[m] - last == 1 && w.bytes[last] == '_') n -= 1;  // the closing one
    return n;
}

}  // namespace tavik

#endif  // TAVIK_NGRAM_SCAN_H
