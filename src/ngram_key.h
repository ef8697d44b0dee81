// SPDX-License-Identifier: MIT
// ngram_key.h - the packed key of an n-gram text, shared by the counting
// map and the profile index.
//
// An n-gram is at most 7 code points, 28 bytes, and never holds a NUL.  Its
// first 16 bytes, zero padded, make two 64-bit words (`lo`, `hi`): for a
// text shorter than 17 bytes they are the whole text (the padding cannot be
// mistaken for text), so two keys compare in two word comparisons and the
// bytes are never read again.  Longer texts keep the same words plus their
// length, and compare their remaining bytes.  The hash covers every byte.
#ifndef TAVIK_NGRAM_KEY_H
#define TAVIK_NGRAM_KEY_H

#include <cstdint>
#include <cstring>

namespace tavik {

constexpr uint32_t kKeyBytes = 16;  // bytes held in lo and hi
// The longest n-gram text: 7 code points of at most 4 bytes each.
constexpr uint32_t kMaxNgramBytes = 7 * 4;

// kKeyMask[n]: n bytes of 0xFF, then zeros.
struct KeyMasks {
    uint64_t m[kKeyBytes + 1][2];
    constexpr KeyMasks() : m() {
        for (uint32_t n = 0; n <= kKeyBytes; ++n)
            for (uint32_t b = 0; b < kKeyBytes; ++b)
                if (b < n) m[n][b / 8] |= uint64_t{0xFF} << shift(b % 8);
    }
    // Where byte b of a word loaded with memcpy sits.
    static constexpr uint32_t shift(uint32_t b) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        return 8 * (7 - b);
#else
        return 8 * b;
#endif
    }
};
inline constexpr KeyMasks kKeyMask{};

inline uint64_t load64(const char *p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// Hash of the bytes after the first 16 (0 when there are none), mixed so
// that its high bits depend on all of them.
inline uint64_t key_tail(const char *bytes, uint32_t len) {
    uint64_t t = 0;
    for (uint32_t at = kKeyBytes; at < len; ++at)
        t = (t ^ static_cast<unsigned char>(bytes[at])) * 0x100000001B3ull;
    return (t ^ (t >> 29)) * 0xBF58476D1CE4E5B9ull;
}

// The 32-bit hash of a key: the high half of a sum of products, whose high
// bits depend on every input bit.  Tables take their home slot from its
// high bits too ((hash * size) >> 32).  Short: it sits on the critical
// path of every occurrence counted.
inline uint32_t key_hash(uint64_t lo, uint64_t hi, uint64_t tail) {
    const uint64_t h = lo * 0x9E3779B97F4A7C15ull + hi * 0xC2B2AE3D27D4EB4Full + tail;
    return static_cast<uint32_t>(h >> 32);
}

inline uint64_t home_slot(uint32_t hash, uint64_t size) { return (uint64_t{hash} * size) >> 32; }

struct Key {
    uint64_t lo, hi;
    uint32_t len;
    uint32_t hash;
};

// The key of `len` bytes at `p`, which must be readable for max(len, 16)
// bytes (the word buffer of a scan is padded for this).
inline Key key_of_padded(const char *p, uint32_t len) {
    const uint32_t m = len < kKeyBytes ? len : kKeyBytes;
    const uint64_t lo = load64(p) & kKeyMask.m[m][0];
    const uint64_t hi = load64(p + 8) & kKeyMask.m[m][1];
    const uint64_t tail = len > kKeyBytes ? key_tail(p, len) : 0;
    return Key{lo, hi, len, key_hash(lo, hi, tail)};
}

// The same for a text known to be at most 16 bytes.
inline Key key_of_short(const char *p, uint32_t len) {
    const uint64_t lo = load64(p) & kKeyMask.m[len][0];
    const uint64_t hi = load64(p + 8) & kKeyMask.m[len][1];
    return Key{lo, hi, len, key_hash(lo, hi, 0)};
}

inline uint32_t load32(const char *p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// The key of `len` bytes at `p`, reading no byte beyond them.  On a
// little-endian machine the words are put together from loads that may
// overlap (overlapping bytes land in the same places), not copied byte by
// byte: the profile index makes one key per n-gram of a profile.
inline Key key_of_bytes(const char *p, uint32_t len) {
    uint64_t lo = 0, hi = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    const auto u = [p](uint32_t at) { return uint64_t{static_cast<unsigned char>(p[at])}; };
    if (len >= kKeyBytes) {
        lo = load64(p);
        hi = load64(p + 8);
    } else if (len > 8) {
        lo = load64(p);
        hi = load64(p + len - 8) >> (8 * (kKeyBytes - len));
    } else if (len >= 4) {
        lo = load32(p) | uint64_t{load32(p + len - 4)} << (8 * (len - 4));
    } else if (len > 0) {
        lo = u(0) | u(len / 2) << (8 * (len / 2)) | u(len - 1) << (8 * (len - 1));
    }
#else
    char buf[kKeyBytes] = {};
    std::memcpy(buf, p, len < kKeyBytes ? len : kKeyBytes);
    lo = load64(buf);
    hi = load64(buf + 8);
#endif
    const uint64_t tail = len > kKeyBytes ? key_tail(p, len) : 0;
    return Key{lo, hi, len, key_hash(lo, hi, tail)};
}

}  // namespace tavik

#endif  // TAVIK_NGRAM_KEY_H
