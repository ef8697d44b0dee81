// SPDX-License-Identifier: MIT
// text_model.cpp - the text model a profile declares, and the Unicode table
// behind the richer one.

#include "text_model.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <new>
#include <utf8proc.h>
#include <vector>

#include "alloc.h"
#include "calibration.h"
#include "utf8_inline.h"

namespace tavik {

namespace {

bool equals(const char *a, const char *b) { return std::strcmp(a, b) == 0; }

// Two-stage table: the entry of cp is blocks[stage1[cp >> 8] * 256 + (cp & 255)].
constexpr uint32_t kBlockBits = 8;
constexpr uint32_t kBlockSize = 1u << kBlockBits;
constexpr uint32_t kCodeSpace = 0x110000;
constexpr uint32_t kFoldMask = 0x1FFFFF;
constexpr uint32_t kLetterBit = 1u << 21;
constexpr uint32_t kNotNfcBit = 1u << 22;

// Simple case folding.  utf8proc offers full folding; where that maps to
// one code point it is the simple one too.  Where it maps to several, the
// simple folding is the lower case mapping when one exists (U+1E9E to
// U+00DF, the Greek letters with prosgegrammeni), except for U+0130, which
// simple folding leaves alone (only the Turkic mapping folds it).
uint32_t simple_fold(uint32_t cp) {
    utf8proc_int32_t buf[4];
    const auto n = utf8proc_decompose_char(static_cast<utf8proc_int32_t>(cp), buf, 4,
                                           UTF8PROC_CASEFOLD, nullptr);
    if (n == 1) return static_cast<uint32_t>(buf[0]);
    if (cp == 0x130u) return cp;
    return static_cast<uint32_t>(utf8proc_tolower(static_cast<utf8proc_int32_t>(cp)));
}

bool is_letter_category(utf8proc_category_t c) {
    switch (c) {
    case UTF8PROC_CATEGORY_LU:
    case UTF8PROC_CATEGORY_LL:
    case UTF8PROC_CATEGORY_LT:
    case UTF8PROC_CATEGORY_LM:
    case UTF8PROC_CATEGORY_LO:
    case UTF8PROC_CATEGORY_MN:
    case UTF8PROC_CATEGORY_MC:
    case UTF8PROC_CATEGORY_ME:
        return true;
    default:
        return false;
    }
}

}  // namespace

struct UnicodeTable {
    uint16_t stage1[kCodeSpace >> kBlockBits];
    std::vector<uint32_t> blocks;
};

namespace {

// Every code point NFC might change a text at: one that is not its own
// NFC, one with a non-zero combining class, and every code point after the
// first of a canonical decomposition (it may compose with what precedes
// it).  A text holding none of them is NFC as it stands.
std::vector<bool> nfc_suspects() {
    std::vector<bool> suspect(kCodeSpace, false);
    for (uint32_t cp = 0; cp < kCodeSpace; ++cp) {
        if (cp >= 0xD800u && cp <= 0xDFFFu) continue;
        const utf8proc_property_t *p = utf8proc_get_property(static_cast<utf8proc_int32_t>(cp));
        if (p->category == UTF8PROC_CATEGORY_CN) continue;
        if (p->combining_class != 0) suspect[cp] = true;
        utf8proc_int32_t d[32];
        const auto n = utf8proc_decompose_char(static_cast<utf8proc_int32_t>(cp), d, 32,
                                               UTF8PROC_DECOMPOSE, nullptr);
        if (n < 2 || n > 32) continue;
        for (utf8proc_ssize_t k = 1; k < n; ++k) suspect[static_cast<uint32_t>(d[k])] = true;
        const auto m = utf8proc_normalize_utf32(
            d, n, static_cast<utf8proc_option_t>(UTF8PROC_COMPOSE | UTF8PROC_STABLE));
        if (m != 1 || static_cast<uint32_t>(d[0]) != cp) suspect[cp] = true;
    }
    // Singletons and the like decompose to one code point other than their own.
    for (uint32_t cp = 0; cp < kCodeSpace; ++cp) {
        if (cp >= 0xD800u && cp <= 0xDFFFu) continue;
        utf8proc_int32_t d[32];
        const auto n = utf8proc_decompose_char(static_cast<utf8proc_int32_t>(cp), d, 32,
                                               UTF8PROC_DECOMPOSE, nullptr);
        if (n == 1 && static_cast<uint32_t>(d[0]) != cp) suspect[cp] = true;
    }
    return suspect;
}

UnicodeTable *build_table() {
    try {
        auto *t = new UnicodeTable;
        const std::vector<bool> suspect = nfc_suspects();
        std::map<std::vector<uint32_t>, uint16_t> seen;
        std::vector<uint32_t> block(kBlockSize);
        for (uint32_t b = 0; b < (kCodeSpace >> kBlockBits); ++b) {
            for (uint32_t k = 0; k < kBlockSize; ++k) {
                const uint32_t cp = (b << kBlockBits) | k;
                uint32_t e = cp;
                if (cp < 0xD800u || cp > 0xDFFFu) {
                    const auto *p = utf8proc_get_property(static_cast<utf8proc_int32_t>(cp));
                    if (is_letter_category(static_cast<utf8proc_category_t>(p->category)))
                        e = simple_fold(cp) | kLetterBit;
                    if (suspect[cp]) e |= kNotNfcBit;
                }
                // Blocks are shared by their content relative to the block
                // start, so that runs of unassigned code points share one.
                block[k] = e;
            }
            std::vector<uint32_t> rel(block);
            for (uint32_t k = 0; k < kBlockSize; ++k) {
                const uint32_t fold = rel[k] & kFoldMask;
                const uint32_t cp = (b << kBlockBits) | k;
                rel[k] = (rel[k] & ~kFoldMask) | (fold == cp ? kFoldMask : fold);
            }
            auto [it, fresh] = seen.try_emplace(rel, static_cast<uint16_t>(seen.size()));
            if (fresh) t->blocks.insert(t->blocks.end(), rel.begin(), rel.end());
            t->stage1[b] = it->second;
        }
        return t;
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

}  // namespace

const UnicodeTable *unicode_table() {
    static const UnicodeTable *const table = build_table();
    return table;
}

CodePointInfo unicode_info(const UnicodeTable &table, uint32_t cp) {
    if (cp >= kCodeSpace) return CodePointInfo{cp, false, false};
    const uint32_t e = table.blocks[(uint32_t{table.stage1[cp >> kBlockBits]} << kBlockBits) |
                                    (cp & (kBlockSize - 1))];
    const uint32_t fold = e & kFoldMask;
    return CodePointInfo{fold == kFoldMask ? cp : fold, (e & kLetterBit) != 0,
                         (e & kNotNfcBit) != 0};
}

bool is_text_model_key(const char *key) {
    return std::strncmp(key, kMetaPrefix, sizeof kMetaPrefix - 1) == 0;
}

bool text_model_apply(TextModel &model, const char *key, const char *value) {
    if (!is_text_model_key(key)) return true;
    // Calibration pairs do not change how texts are cut; they are checked
    // here so that every reserved key is known or the profile refused.
    if (is_calibration_key(key)) {
        Calibration probe;
        return calibration_apply(probe, key, value);
    }
    // A switch is set by its one value and cleared by the other, which
    // names the designed behaviour; anything else is refused.
    auto choose = [value](bool &field, const char *on, const char *off) {
        if (equals(value, on))
            field = true;
        else if (equals(value, off))
            field = false;
        else
            return false;
        return true;
    };
    if (equals(key, kMetaLetters)) return choose(model.unicode_letters, "unicode", "designed");
    if (equals(key, kMetaCase)) return choose(model.fold_case, "fold", "keep");
    if (equals(key, kMetaNormalize)) return choose(model.nfc, "nfc", "none");
    return false;
}

int32_t text_model_from_meta(const tavik_meta *meta, int32_t count, TextModel *model, char *error) {
    TextModel m;
    for (int32_t i = 0; i < count; ++i) {
        const char *key = meta[i].key;
        if (!is_text_model_key(key)) continue;
        for (int32_t j = 0; j < i; ++j) {
            if (!equals(meta[j].key, key)) continue;
            std::snprintf(error, 256, "profile key %.200s given twice", key);
            return TAVIK_BAD_PROFILE;
        }
        if (!text_model_apply(m, key, meta[i].value)) {
            std::snprintf(error, 256, "profile key %.200s: unknown key or value", key);
            return TAVIK_BAD_PROFILE;
        }
    }
    *model = m;
    return TAVIK_OK;
}

int32_t nfc_prepare(const UnicodeTable &table, const char *text, uint64_t len, char **out,
                    uint64_t *out_len) {
    *out = nullptr;
    *out_len = 0;
    const auto *p = reinterpret_cast<const unsigned char *>(text);
    bool suspect = false;
    for (uint64_t pos = 0; pos < len;) {
        if (p[pos] < 0x80u) {
            ++pos;
            continue;
        }
        uint32_t cp;
        const int32_t n = utf8_decode(p + pos, len - pos, &cp);
        if (n < 0) return TAVIK_BAD_UTF8;
        suspect = suspect || unicode_info(table, cp).not_nfc_yes;
        pos += static_cast<uint64_t>(n);
    }
    if (!suspect) return TAVIK_OK;
    // At most one code point per byte before decomposition; utf8proc says
    // how many it needs when that is too few.
    uint64_t cap = len + 16;
    for (;;) {
        if (cap > (uint64_t{1} << 40) / sizeof(utf8proc_int32_t)) return TAVIK_NO_MEMORY;
        auto *buf = static_cast<utf8proc_int32_t *>(mem_malloc(cap * sizeof(utf8proc_int32_t)));
        if (buf == nullptr) return TAVIK_NO_MEMORY;
        const auto options = static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE);
        const auto n = utf8proc_decompose(p, static_cast<utf8proc_ssize_t>(len), buf,
                                          static_cast<utf8proc_ssize_t>(cap), options);
        if (n < 0) {
            mem_free(buf);
            return n == UTF8PROC_ERROR_NOMEM ? TAVIK_NO_MEMORY : TAVIK_BAD_UTF8;
        }
        if (static_cast<uint64_t>(n) > cap) {
            mem_free(buf);
            cap = static_cast<uint64_t>(n);
            continue;
        }
        const auto bytes = utf8proc_reencode(buf, n, options);
        if (bytes < 0) {
            mem_free(buf);
            return TAVIK_BAD_UTF8;
        }
        *out = reinterpret_cast<char *>(buf);
        *out_len = static_cast<uint64_t>(bytes);
        return TAVIK_OK;
    }
}

}  // namespace tavik
