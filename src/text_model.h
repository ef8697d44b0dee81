// SPDX-License-Identifier: MIT
// text_model.h - how a text is cut into words before its n-grams are
// counted: which code points are letters, whether letters are case folded,
// and whether the text is brought to NFC first.
//
// A profile declares its text model in meta pairs under the reserved
// prefix "tavik." (docs/profile-format.md); a profile that declares none
// has the designed model, and every text then takes the designed path,
// untouched.  Training and identification apply the same model, so a
// query is always cut the way its profile was.
//
// The Unicode data comes from utf8proc, folded into a constant two-stage
// table when tavik is built (src/gen/unicode_table_gen.cpp), so opening a
// profile costs nothing for it and any thread may read it.  NFC itself
// still runs through utf8proc.  Not installed.
#ifndef TAVIK_TEXT_MODEL_H
#define TAVIK_TEXT_MODEL_H

#include <cstdint>

#include "tavik/profile.h"

namespace tavik {

struct TextModel {
    bool unicode_letters = false;  // general category L or M, and joiners inside words
    bool fold_case = false;        // Unicode simple case folding of every letter
    bool nfc = false;              // NFC before extraction

    bool designed() const { return !unicode_letters && !fold_case && !nfc; }
    bool operator==(const TextModel &) const = default;
};

// The reserved meta keys and the values each one takes.
inline constexpr char kMetaPrefix[] = "tavik.";
inline constexpr char kMetaLetters[] = "tavik.letters";      // "designed" | "unicode"
inline constexpr char kMetaCase[] = "tavik.case";            // "keep" | "fold"
inline constexpr char kMetaNormalize[] = "tavik.normalize";  // "none" | "nfc"

// True for a key under the reserved prefix.
bool is_text_model_key(const char *key);

// True for a reserved key that changes how texts are cut (every one but the
// calibration pairs, the close relatives' groups and their word lists).
bool cuts_text(const char *key);

// Applies one reserved pair to `model`.  Returns false for a key under the
// reserved prefix that tavik does not know, or a value its key does not
// take; pairs outside the prefix are left alone (true), and so are the
// calibration pairs (calibration.h) and the relatives' groups and word
// lists (relatives.h) once their values are checked.
bool text_model_apply(TextModel &model, const char *key, const char *value);

// The text model the meta pairs declare.  Returns TAVIK_OK, or
// TAVIK_BAD_PROFILE with a message naming the key in `error` (at least 256
// bytes) for an unknown key or value under the prefix, or a reserved key
// given twice.
int32_t text_model_from_meta(const tavik_meta *meta, int32_t count, TextModel *model, char *error);

// The same for a loaded profile, whose close relatives' groups and word
// lists (relatives.h) must also name its languages: what every loader of a
// profile checks.
int32_t profile_text_model(const tavik_profile &profile, TextModel *model, char *error);

// One code point's entry in the Unicode table.
struct CodePointInfo {
    uint32_t fold;     // simple case folding (the code point itself when none)
    bool letter;       // general category L or M
    bool not_nfc_yes;  // NFC may change a text holding it
};

// The table: constant data, never nullptr.
struct UnicodeTable;
const UnicodeTable *unicode_table();
CodePointInfo unicode_info(const UnicodeTable &table, uint32_t cp);

// Joiners kept inside a word under the Unicode letters.
constexpr bool is_joiner(uint32_t cp) { return cp == 0x200Cu || cp == 0x200Du; }

// Brings the `len` bytes of well-formed UTF-8 at `text` to NFC in a new
// buffer (mem_malloc, released with mem_free) into *out and *out_len, or
// leaves *out nullptr when the text is NFC already.  Returns TAVIK_OK,
// TAVIK_BAD_UTF8 or TAVIK_NO_MEMORY.
int32_t nfc_prepare(const UnicodeTable &table, const char *text, uint64_t len, char **out,
                    uint64_t *out_len);

}  // namespace tavik

#endif  // TAVIK_TEXT_MODEL_H
