// SPDX-License-Identifier: MIT
// text_model.cpp - the text model a profile declares, and the Unicode table
// behind the richer one.

#include "text_model.h"

#include <cstdio>
#include <cstring>
#include <utf8proc.h>

#include "alloc.h"
#include "calibration.h"
#include "relatives.h"
#include "unicode_table_layout.h"
#include "utf8_inline.h"

namespace tavik {

namespace {

bool equals(const char *a, const char *b) { return std::strcmp(a, b) == 0; }

// The table is made from utf8proc when tavik is built
// (src/gen/unicode_table_gen.cpp): no process pays for it at run time.
using namespace unicode_layout;

#include "unicode_table.inc"

static_assert(sizeof kUnicodeStage1 / sizeof kUnicodeStage1[0] == (kCodeSpace >> kBlockBits));
static_assert(sizeof kUnicodeBlocks / sizeof kUnicodeBlocks[0] % kBlockSize == 0);

}  // namespace

struct UnicodeTable {
    const uint16_t *stage1;
    const uint32_t *blocks;
};

namespace {

constexpr UnicodeTable kUnicodeTable{kUnicodeStage1, kUnicodeBlocks};

}  // namespace

const UnicodeTable *unicode_table() { return &kUnicodeTable; }

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

bool cuts_text(const char *key) {
    return is_text_model_key(key) && !is_calibration_key(key) && !is_relatives_key(key) &&
           !is_words_key(key);
}

bool text_model_apply(TextModel &model, const char *key, const char *value) {
    if (!is_text_model_key(key)) return true;
    // Calibration pairs do not change how texts are cut; they are checked
    // here so that every reserved key is known or the profile refused.
    if (is_calibration_key(key)) {
        Calibration probe;
        return calibration_apply(probe, key, value);
    }
    // So are the close relatives; whether their codes name languages is
    // the profile's to answer (relatives_check).
    if (is_relatives_key(key)) return relatives_syntax_ok(value);
    if (is_words_key(key)) return words_syntax_ok(key, value);
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

int32_t profile_text_model(const tavik_profile &profile, TextModel *model, char *error) {
    const int32_t rc = text_model_from_meta(profile.meta, profile.meta_count, model, error);
    if (rc != TAVIK_OK) return rc;
    bool grouped[TAVIK_MAX_LANGS] = {};
    if (!relatives_check(profile, grouped)) {
        std::snprintf(error, 256, "%s", kRelativesRefused);
        return TAVIK_BAD_PROFILE;
    }
    return words_check(profile, grouped, error) ? TAVIK_OK : TAVIK_BAD_PROFILE;
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
