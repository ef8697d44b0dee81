// SPDX-License-Identifier: MIT
// scripts.h - the Unicode script of a code point, and the scripts of a
// text: its letters counted per script, and the dominant one.  Not
// installed; the public face is tavik_text_scripts (tavik_session.h).
#ifndef TAVIK_SCRIPTS_H
#define TAVIK_SCRIPTS_H

#include <cstdint>
#include <span>

namespace tavik {

struct ScriptRange {
    uint32_t first, last;  // inclusive
    uint16_t script;
};

#include "script_table.inc"

inline constexpr int32_t kScriptCount =
    static_cast<int32_t>(sizeof kScriptNames / sizeof kScriptNames[0]);
// Two scripts beyond the table's, for dominance only: Han with kana counts
// as Japanese, Hangul as Korean.
inline constexpr int32_t kScriptJapanese = kScriptCount;
inline constexpr int32_t kScriptKorean = kScriptCount + 1;
inline constexpr int32_t kScriptIds = kScriptCount + 2;

// The script of `cp` (0, Unknown, outside every range).
int32_t script_of(uint32_t cp);

// The name of script `id` (0 <= id < kScriptIds), or nullptr.
const char *script_name(int32_t id);

// The id of the script named `name`, or -1.
int32_t script_by_name(const char *name);

// Counts the letters (general category L or M) of the `len` bytes at
// `text` per script into `counts` (kScriptIds entries, zeroed first; the
// two extra entries stay 0) and stores the dominant script in *dominant:
// the one with most letters, Common, Inherited and Unknown ignored, Han,
// Hiragana and Katakana together as Japanese when any kana is present,
// Hangul as Korean; ties go to the lower id; -1 when no letter counts.
// Returns TAVIK_OK or TAVIK_BAD_UTF8.
int32_t text_scripts(const char *text, uint64_t len, std::span<uint64_t> counts, int32_t *dominant);

}  // namespace tavik

#endif  // TAVIK_SCRIPTS_H
