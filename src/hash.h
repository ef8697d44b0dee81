// SPDX-License-Identifier: MIT
// hash.h - 32-bit FNV-1a, the hash of each language's rank lookup (its
// table layout is public), and the comparison of short texts that the
// lookup, the counting map and the profile index share.  The counting map
// and the index hash packed keys instead (ngram_key.h).
#ifndef TAVIK_HASH_H
#define TAVIK_HASH_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tavik {

constexpr uint32_t kFnvBasis = 0x811C9DC5u;
constexpr uint32_t kFnvPrime = 0x01000193u;

constexpr uint32_t fnv1a_step(uint32_t h, unsigned char b) { return (h ^ b) * kFnvPrime; }

// Hash of a NUL-terminated text; also yields its length.
inline uint32_t fnv1a_cstr(const char *s, std::size_t *len) {
    uint32_t h = kFnvBasis;
    std::size_t i = 0;
    for (; s[i] != '\0'; ++i) h = fnv1a_step(h, static_cast<unsigned char>(s[i]));
    *len = i;
    return h;
}

// N-grams are at most 28 bytes; a call of memcmp costs more than they do.
inline bool bytes_equal(const char *a, const char *b, uint32_t n) {
    while (n >= 8) {
        uint64_t x, y;
        std::memcpy(&x, a, 8);
        std::memcpy(&y, b, 8);
        if (x != y) return false;
        a += 8;
        b += 8;
        n -= 8;
    }
    while (n-- > 0)
        if (*a++ != *b++) return false;
    return true;
}

}  // namespace tavik

#endif  // TAVIK_HASH_H
