// SPDX-License-Identifier: MIT
// unicode_table_gen.cpp - writes the Unicode table of the text model
// (src/text_model.cpp) from utf8proc, when tavik is built.
//
//   tavik_unicode_table_gen OUT.inc
//
// The table answers, for every code point: is it a letter (general
// category L or M), its simple case folding, and whether NFC may change a
// text that holds it.  Making it here rather than at run time spares every
// process that opens a Unicode profile about 120 ms; the output depends on
// nothing but the utf8proc tavik is built with, whose Unicode version it
// records.

#include <cstdint>
#include <cstdio>
#include <map>
#include <utf8proc.h>
#include <vector>

#include "unicode_table_layout.h"

namespace {

using namespace tavik::unicode_layout;

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

struct UnicodeTable {
    std::vector<uint16_t> stage1 = std::vector<uint16_t>(kCodeSpace >> kBlockBits);
    std::vector<uint32_t> blocks;
};

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

UnicodeTable build_table() {
    UnicodeTable table;
    UnicodeTable *t = &table;
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
    return table;
}

bool write_table(const UnicodeTable &t, const char *path) {
    std::FILE *f = std::fopen(path, "w");
    if (f == nullptr) return false;
    std::fprintf(f,
                 "// Generated by tavik_unicode_table_gen from utf8proc %s (Unicode %s).\n"
                 "// Entry: bits 0-20 simple case folding (all ones: the code point itself),\n"
                 "// bit 21 letter (category L or M), bit 22 NFC may change a text holding it.\n",
                 utf8proc_version(), utf8proc_unicode_version());
    std::fprintf(f, "constexpr uint16_t kUnicodeStage1[%zu] = {", t.stage1.size());
    for (size_t i = 0; i < t.stage1.size(); ++i)
        std::fprintf(f, "%s%u,", i % 16 == 0 ? "\n" : "", unsigned{t.stage1[i]});
    std::fprintf(f, "\n};\nconstexpr uint32_t kUnicodeBlocks[%zu] = {", t.blocks.size());
    for (size_t i = 0; i < t.blocks.size(); ++i)
        std::fprintf(f, "%s0x%x,", i % 8 == 0 ? "\n" : "", unsigned{t.blocks[i]});
    std::fprintf(f, "\n};\n");
    return std::fclose(f) == 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT.inc\n", argv[0]);
        return 2;
    }
    if (!write_table(build_table(), argv[1])) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
