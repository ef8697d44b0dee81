// SPDX-License-Identifier: MIT
// test_utf8.cpp - the strict UTF-8 codec and the letter table.
#include <array>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "letter_table.h"
#include "tavik/tavik_api.h"
#include "tavik/utf8.h"

namespace {

constexpr uint32_t kUntouched = 0xDEADBEEFu;

std::string hex(const std::string &bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char b : bytes) {
        if (!out.empty()) out += ' ';
        out += digits[b >> 4];
        out += digits[b & 0xF];
    }
    return out;
}

struct DecodeCase {
    std::string bytes;
    uint64_t len;  // bytes offered to the decoder (may be fewer than held)
    int32_t rc;
    uint32_t cp;  // expected code point when rc > 0
};

TEST(Utf8Decode, AcceptsWellFormedAndRejectsTheRest) {
    const std::vector<DecodeCase> cases = {
        // Well-formed, at the edges of each form.
        {"A", 1, 1, 0x41},
        {std::string(1, '\0'), 1, 1, 0x0},
        {"\x7F", 1, 1, 0x7F},
        {"\xC2\x80", 2, 2, 0x80},
        {"\xC3\xA9", 2, 2, 0xE9},
        {"\xDF\xBF", 2, 2, 0x7FF},
        {"\xE0\xA0\x80", 3, 3, 0x800},
        {"\xED\x9F\xBF", 3, 3, 0xD7FF},
        {"\xEE\x80\x80", 3, 3, 0xE000},
        {"\xEF\xBF\xBE", 3, 3, 0xFFFE},
        {"\xEF\xBF\xBF", 3, 3, 0xFFFF},
        {"\xF0\x90\x80\x80", 4, 4, 0x10000},
        {"\xF0\x9F\x98\x80", 4, 4, 0x1F600},
        {"\xF4\x8F\xBF\xBF", 4, 4, 0x10FFFF},
        // Only the first sequence is decoded; what follows is not looked at.
        {"ab", 2, 1, 0x61},
        {"\xC3\xA9\xFF", 3, 2, 0xE9},
        // Overlong forms.
        {"\xC0\x80", 2, -1, 0},
        {"\xC1\xBF", 2, -1, 0},
        {"\xE0\x80\x80", 3, -1, 0},
        {"\xE0\x9F\xBF", 3, -1, 0},
        {"\xF0\x80\x80\x80", 4, -1, 0},
        {"\xF0\x8F\xBF\xBF", 4, -1, 0},
        // Surrogates and values above U+10FFFF.
        {"\xED\xA0\x80", 3, -1, 0},
        {"\xED\xBF\xBF", 3, -1, 0},
        {"\xF4\x90\x80\x80", 4, -1, 0},
        {"\xF7\xBF\xBF\xBF", 4, -1, 0},
        // Lead bytes that start no sequence.
        {"\x80", 1, -1, 0},
        {"\xBF", 1, -1, 0},
        {"\xF8", 1, -1, 0},
        {"\xFF\x80\x80\x80", 4, -1, 0},
        // A byte that is no continuation byte, at each place.
        {"\xC3\x28", 2, -1, 0},
        {"\xC3\xC3", 2, -1, 0},
        {"\xE2\x28\xA1", 3, -1, 0},
        {"\xE2\x82\x28", 3, -1, 0},
        {"\xF0\x28\x98\x80", 4, -1, 0},
        {"\xF0\x9F\x28\x80", 4, -1, 0},
        {"\xF0\x9F\x98\x28", 4, -1, 0},
        // Cut off by the end of the available bytes: the length test comes
        // before any look at the continuation bytes.
        {"\xC3", 1, -2, 0},
        {"\xC3\xA9", 1, -2, 0},
        {"\xE2\x28", 2, -2, 0},
        {"\xE2\x82\xAC", 2, -2, 0},
        {"\xF0\x9F\x98", 3, -2, 0},
        {"\xF0\x28", 2, -2, 0},
        {"\xF4\x90\x80\x80", 3, -2, 0},
    };
    for (const DecodeCase &c : cases) {
        SCOPED_TRACE(hex(c.bytes) + " len " + std::to_string(c.len));
        uint32_t cp = kUntouched;
        EXPECT_EQ(tavik_utf8_decode(c.bytes.data(), c.len, &cp), c.rc);
        EXPECT_EQ(cp, c.rc > 0 ? c.cp : kUntouched);
    }
}

TEST(Utf8Decode, MissingArgumentOrNoBytesYieldsMinusTwo) {
    const char a = 'A';
    uint32_t cp = kUntouched;
    EXPECT_EQ(tavik_utf8_decode(&a, 0, &cp), -2);
    EXPECT_EQ(tavik_utf8_decode(nullptr, 1, &cp), -2);
    EXPECT_EQ(cp, kUntouched);
    EXPECT_EQ(tavik_utf8_decode(&a, 1, nullptr), -2);
}

// Encodes and checks that nothing past the reported length was written.
std::string encode(uint32_t cp) {
    std::array<unsigned char, 8> out;
    out.fill(0xAA);
    const int32_t n = tavik_utf8_encode(cp, out.data());
    EXPECT_GE(n, 0);
    EXPECT_LE(n, 4);
    for (size_t k = static_cast<size_t>(n); k < out.size(); ++k)
        EXPECT_EQ(out[k], 0xAA) << "byte " << k << " written for U+" << std::hex << cp;
    return std::string(reinterpret_cast<const char *>(out.data()), static_cast<size_t>(n));
}

TEST(Utf8Encode, WritesEachFormAndRefusesNonScalars) {
    const std::vector<std::pair<uint32_t, std::string>> cases = {
        {0x0, std::string(1, '\0')},
        {0x41, "A"},
        {0x7F, "\x7F"},
        {0x80, "\xC2\x80"},
        {0xE9, "\xC3\xA9"},
        {0x7FF, "\xDF\xBF"},
        {0x800, "\xE0\xA0\x80"},
        {0xD7FF, "\xED\x9F\xBF"},
        {0xE000, "\xEE\x80\x80"},
        {0xFFFF, "\xEF\xBF\xBF"},
        {0x10000, "\xF0\x90\x80\x80"},
        {0x1F600, "\xF0\x9F\x98\x80"},
        {0x10FFFF, "\xF4\x8F\xBF\xBF"},
        // Nothing is written for surrogates and values above U+10FFFF.
        {0xD800, ""},
        {0xDFFF, ""},
        {0x110000, ""},
        {0xFFFFFFFFu, ""},
    };
    for (const auto &[cp, bytes] : cases) {
        SCOPED_TRACE(cp);
        EXPECT_EQ(hex(encode(cp)), hex(bytes));
    }
    EXPECT_EQ(tavik_utf8_encode(0x41, nullptr), 0);
}

// Every scalar value survives encode then decode, with the length of its
// form; and whatever the decoder accepts re-encodes to exactly the bytes it
// consumed, so it takes no second spelling of any code point.
TEST(Utf8Codec, RoundTripsEveryScalarValue) {
    for (uint32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF) continue;
        unsigned char buf[4];
        const int32_t n = tavik_utf8_encode(cp, buf);
        const int32_t want = cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
        ASSERT_EQ(n, want) << "U+" << std::hex << cp;
        uint32_t back = kUntouched;
        ASSERT_EQ(tavik_utf8_decode(buf, static_cast<uint64_t>(n), &back), n)
            << "U+" << std::hex << cp;
        ASSERT_EQ(back, cp);
    }
}

void expect_only_canonical(const unsigned char *bytes, uint64_t len) {
    uint32_t cp = kUntouched;
    const int32_t n = tavik_utf8_decode(bytes, len, &cp);
    if (n <= 0) {
        ASSERT_EQ(cp, kUntouched);
        return;
    }
    unsigned char again[4];
    ASSERT_EQ(tavik_utf8_encode(cp, again), n)
        << hex(std::string(reinterpret_cast<const char *>(bytes), len));
    ASSERT_EQ(std::string(reinterpret_cast<const char *>(again), static_cast<size_t>(n)),
              std::string(reinterpret_cast<const char *>(bytes), static_cast<size_t>(n)))
        << hex(std::string(reinterpret_cast<const char *>(bytes), len));
}

TEST(Utf8Codec, DecoderAcceptsOnlyCanonicalForms) {
    // Every two- and three-byte input, and the four-byte inputs with every
    // lead and second byte.
    unsigned char b[4];
    for (unsigned b0 = 0; b0 < 256; ++b0) {
        b[0] = static_cast<unsigned char>(b0);
        for (unsigned b1 = 0; b1 < 256; ++b1) {
            b[1] = static_cast<unsigned char>(b1);
            expect_only_canonical(b, 2);
            if (b0 >= 0xE0 && b0 <= 0xEF) {
                for (unsigned b2 = 0; b2 < 256; ++b2) {
                    b[2] = static_cast<unsigned char>(b2);
                    expect_only_canonical(b, 3);
                }
            }
            if (b0 >= 0xF0) {
                for (unsigned tail : {0x00u, 0x80u, 0xBFu, 0xC0u}) {
                    b[2] = b[3] = static_cast<unsigned char>(tail);
                    expect_only_canonical(b, 4);
                }
            }
        }
    }
}

TEST(LetterTable, MatchesTheRangesForEveryCodePoint) {
    // The library's branchy test against the plain one over the table.
    // Beyond U+10FFFF too: the test is by value, not by validity.
    for (uint32_t cp = 0; cp <= 0x110000; ++cp)
        ASSERT_EQ(tavik_utf8_is_letter(cp), tavik::in_letter_table(cp) ? 1 : 0)
            << "U+" << std::hex << cp;
    EXPECT_EQ(tavik_utf8_is_letter(0xFFFFFFFFu), 0);
}

TEST(LetterTable, NamedEdges) {
    for (uint32_t cp : {0x41u, 0x7Au, 0xC0u, 0xFFu, 0x100u, 0x24Fu, 0x370u, 0x52Fu, 0x3040u,
                        0xAC00u, 0xFF21u, 0xFF5Au, 0xFF66u, 0x20000u, 0x2CEAFu})
        EXPECT_EQ(tavik_utf8_is_letter(cp), 1) << "U+" << std::hex << cp;
    // Digits, "_", U+00B5, the multiplication and division signs, combining
    // marks, Armenian, Hebrew, Arabic, Thai, Latin Extended Additional, CJK
    // punctuation, fullwidth digits, the halfwidth voicing mark.
    for (uint32_t cp : {0x40u,  0x5Bu,   0x5Fu,   0x30u,   0xAAu,   0xB5u,   0xBAu,
                        0xD7u,  0xF7u,   0x250u,  0x301u,  0x530u,  0x5D0u,  0x627u,
                        0xE01u, 0x1E00u, 0x3000u, 0xFF10u, 0xFF3Bu, 0xFF9Eu, 0x2CEB0u})
        EXPECT_EQ(tavik_utf8_is_letter(cp), 0) << "U+" << std::hex << cp;
}

TEST(LetterTable, PublicLetterTestAgreesAndRejectsNegatives) {
    for (uint32_t cp = 0; cp <= 0x2D000; ++cp)
        ASSERT_EQ(tavik_is_letter(static_cast<int32_t>(cp)), tavik_utf8_is_letter(cp));
    for (int32_t cp : {-1, -65, -0x10000, INT32_MIN}) EXPECT_EQ(tavik_is_letter(cp), 0) << cp;
    // It is no defaulting call: the settings still read 0.
    EXPECT_EQ(tavik_get_state()->max_distribution, 0);
}

}  // namespace
