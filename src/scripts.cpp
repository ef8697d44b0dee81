// SPDX-License-Identifier: MIT
// scripts.cpp - scripts of code points and of texts.

#include "scripts.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <iterator>

#include "tavik/status.h"
#include "tavik/tavik_session.h"
#include "text_model.h"
#include "utf8_inline.h"

namespace tavik {

namespace {

constexpr bool ranges_ascending() {
    for (size_t k = 1; k < sizeof kScriptRanges / sizeof kScriptRanges[0]; ++k)
        if (kScriptRanges[k].first <= kScriptRanges[k - 1].last) return false;
    return true;
}
static_assert(ranges_ascending(), "script_table.inc: ranges out of order");

int32_t id_of(const char *name) {
    for (int32_t k = 0; k < kScriptCount; ++k)
        if (std::strcmp(kScriptNames[k], name) == 0) return k;
    return -1;
}

// Looked up once: the table's ids depend on its Unicode version.
struct Known {
    int32_t han = id_of("Han"), hiragana = id_of("Hiragana"), katakana = id_of("Katakana"),
            hangul = id_of("Hangul"), latin = id_of("Latin");
};
const Known kKnown{};

}  // namespace

namespace {

// The range holding `cp`, or nullptr.
const ScriptRange *range_of(uint32_t cp) {
    const auto *end = std::end(kScriptRanges);
    const auto *it = std::upper_bound(std::begin(kScriptRanges), end, cp,
                                      [](uint32_t c, const ScriptRange &r) { return c < r.first; });
    if (it == std::begin(kScriptRanges)) return nullptr;
    --it;
    return cp <= it->last ? it : nullptr;
}

}  // namespace

int32_t script_of(uint32_t cp) {
    const ScriptRange *r = range_of(cp);
    return r != nullptr ? r->script : 0;
}

const char *script_name(int32_t id) {
    if (id >= 0 && id < kScriptCount) return kScriptNames[id];
    if (id == kScriptJapanese) return "Japanese";
    if (id == kScriptKorean) return "Korean";
    return nullptr;
}

int32_t script_by_name(const char *name) {
    for (int32_t k = 0; k < kScriptIds; ++k)
        if (std::strcmp(script_name(k), name) == 0) return k;
    return -1;
}

int32_t text_scripts(const char *text, uint64_t len, std::span<uint64_t> counts,
                     int32_t *dominant) {
    std::fill(counts.begin(), counts.end(), 0);
    *dominant = -1;
    const UnicodeTable *table = unicode_table();
    const auto *p = reinterpret_cast<const unsigned char *>(text);
    // ASCII letters are exactly A-Z and a-z, all Latin: sessions run this
    // on every text, so the common bytes skip the table and the search.
    uint64_t ascii_letters = 0;
    // Letters of a text mostly come from a few ranges: the last one found
    // answers most of them without a search.
    const ScriptRange *last = nullptr;
    // Scripts that got a letter: the dominance below visits only these.
    uint64_t touched[(kScriptCount + 63) / 64] = {};
    auto touch = [&touched](int32_t id) { touched[id / 64] |= uint64_t{1} << (id % 64); };
    for (uint64_t pos = 0; pos < len;) {
        uint32_t cp = p[pos];
        if (cp < 0x80u) {
            ascii_letters += ((cp | 0x20u) - 'a') < 26u ? 1 : 0;
            ++pos;
            continue;
        }
        const int32_t n = utf8_decode(p + pos, len - pos, &cp);
        if (n < 0) {
            std::fill(counts.begin(), counts.end(), 0);
            return TAVIK_BAD_UTF8;
        }
        pos += static_cast<uint64_t>(n);
        if (!unicode_info(*table, cp).letter) continue;
        if (last == nullptr || cp < last->first || cp > last->last) {
            const ScriptRange *r = range_of(cp);
            if (r == nullptr) {
                ++counts[0];
                continue;
            }
            last = r;
            touch(r->script);
        }
        ++counts[last->script];
    }
    if (kKnown.latin >= 0 && ascii_letters > 0) {
        counts[static_cast<size_t>(kKnown.latin)] += ascii_letters;
        touch(kKnown.latin);
    }
    auto count = [&](int32_t id) { return id >= 0 ? counts[static_cast<size_t>(id)] : 0; };
    const uint64_t kana = count(kKnown.hiragana) + count(kKnown.katakana);
    uint64_t best = 0;
    auto consider = [&](int32_t id, uint64_t c) {
        if (c > best) {
            best = c;
            *dominant = id;
        }
    };
    // In ascending order, as ties go to the lower id.
    for (size_t w = 0; w < std::size(touched); ++w) {
        for (uint64_t bits = touched[w]; bits != 0; bits &= bits - 1) {
            const int32_t k = static_cast<int32_t>(w * 64) + std::countr_zero(bits);
            if (k < 3) continue;
            if (kana > 0 && (k == kKnown.han || k == kKnown.hiragana || k == kKnown.katakana))
                continue;
            consider(k == kKnown.hangul ? kScriptKorean : k, count(k));
        }
    }
    if (kana > 0) consider(kScriptJapanese, kana + count(kKnown.han));
    return TAVIK_OK;
}

}  // namespace tavik

extern "C" {

int32_t tavik_script_count(void) { return tavik::kScriptIds; }

const char *tavik_script_name(int32_t script) { return tavik::script_name(script); }

const char *tavik_script_unicode_version(void) { return tavik::kScriptUnicodeVersion; }

int32_t tavik_text_scripts(const char *text, uint64_t length, uint64_t *counts, int32_t *dominant) {
    if ((text == nullptr && length != 0) || dominant == nullptr) return TAVIK_INVALID;
    uint64_t local[tavik::kScriptIds];
    std::span<uint64_t> out(counts != nullptr ? counts : local, tavik::kScriptIds);
    return tavik::text_scripts(text, length, out, dominant);
}

}  // extern "C"
