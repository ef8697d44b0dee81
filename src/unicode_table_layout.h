// SPDX-License-Identifier: MIT
// unicode_table_layout.h - the layout of the text model's Unicode table,
// shared by its generator (src/gen/unicode_table_gen.cpp, run when tavik
// is built) and its reader (text_model.cpp).  Not installed.
//
// Two stages: the entry of code point cp is
//     blocks[stage1[cp >> kBlockBits] * kBlockSize + (cp & (kBlockSize - 1))]
// Blocks are shared by content, with foldings stored relative to the block
// (kFoldMask: the code point itself), so that runs of unassigned code
// points and of caseless letters share one block.
#ifndef TAVIK_UNICODE_TABLE_LAYOUT_H
#define TAVIK_UNICODE_TABLE_LAYOUT_H

#include <cstdint>

namespace tavik::unicode_layout {

inline constexpr uint32_t kBlockBits = 8;
inline constexpr uint32_t kBlockSize = 1u << kBlockBits;
inline constexpr uint32_t kCodeSpace = 0x110000;
inline constexpr uint32_t kFoldMask = 0x1FFFFF;   // bits 0-20: simple case folding
inline constexpr uint32_t kLetterBit = 1u << 21;  // general category L or M
inline constexpr uint32_t kNotNfcBit = 1u << 22;  // NFC may change a text holding it

}  // namespace tavik::unicode_layout

#endif  // TAVIK_UNICODE_TABLE_LAYOUT_H
