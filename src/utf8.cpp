// SPDX-License-Identifier: MIT
// utf8.cpp - strict UTF-8 codec and the letter table.

#include "tavik/utf8.h"

#include "utf8_inline.h"

extern "C" {

int32_t tavik_utf8_decode(const void *bytes, uint64_t len, uint32_t *cp) {
    if (cp == nullptr || len == 0 || bytes == nullptr) return -2;
    return tavik::utf8_decode(static_cast<const unsigned char *>(bytes), len, cp);
}

int32_t tavik_utf8_encode(uint32_t cp, void *out) {
    if (out == nullptr) return 0;
    return tavik::utf8_encode(cp, static_cast<unsigned char *>(out));
}

int32_t tavik_utf8_is_letter(uint32_t cp) { return tavik::is_letter(cp) ? 1 : 0; }

}  // extern "C"
