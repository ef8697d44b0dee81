// SPDX-License-Identifier: MIT
// test_scripts.cpp - the script of a code point at the table's edges, and
// the scripts of a text: counts, the dominant script and its groupings.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "scripts.h"
#include "tavik/tavik_session.h"

namespace {

std::string name_of(uint32_t cp) { return tavik::script_name(tavik::script_of(cp)); }

TEST(Scripts, CodePoints) {
    const struct {
        uint32_t cp;
        const char *script;
    } cases[] = {
        {0x0000, "Common"},     {'1', "Common"},       {'A', "Latin"},       {0x0259, "Latin"},
        {0x1EA1, "Latin"},      {0x0300, "Inherited"}, {0x0378, "Unknown"},  {0x03A3, "Greek"},
        {0x0627, "Arabic"},     {0x064E, "Inherited"}, {0x05D0, "Hebrew"},   {0x0939, "Devanagari"},
        {0x094D, "Devanagari"}, {0x0E01, "Thai"},      {0x10D0, "Georgian"}, {0x3042, "Hiragana"},
        {0x30A2, "Katakana"},   {0x4E00, "Han"},       {0xAC00, "Hangul"},   {0x20000, "Han"},
        {0x10FFFF, "Unknown"},
    };
    for (const auto &c : cases) EXPECT_EQ(name_of(c.cp), c.script) << std::hex << c.cp;
    EXPECT_STREQ(tavik_script_unicode_version(), "15.0.0");
    EXPECT_EQ(tavik_script_count(), tavik::kScriptIds);
    EXPECT_STREQ(tavik_script_name(0), "Unknown");
    EXPECT_STREQ(tavik_script_name(tavik::kScriptJapanese), "Japanese");
    EXPECT_EQ(tavik_script_name(tavik::kScriptIds), nullptr);
    EXPECT_EQ(tavik_script_name(-1), nullptr);
    EXPECT_EQ(tavik::script_by_name("Thai"), tavik::script_of(0x0E01));
}

// The dominant script's name, or "none".
std::string dominant_of(const std::string &text) {
    int32_t dominant = -2;
    EXPECT_EQ(tavik_text_scripts(text.data(), text.size(), nullptr, &dominant), TAVIK_OK);
    return dominant < 0 ? "none" : tavik_script_name(dominant);
}

TEST(Scripts, DominantScriptOfTexts) {
    const struct {
        const char *name;
        std::string text;
        const char *script;
    } cases[] = {
        {"English", "The quick brown fox", "Latin"},
        {"Arabic with harakat, digits and punctuation",
         "\u0645\u064F\u062D\u064E\u0645\u0651\u064E\u062F 123\u060C", "Arabic"},
        {"Hebrew", "\u05E9\u05DC\u05D5\u05DD \u05E2\u05D5\u05DC\u05DD", "Hebrew"},
        {"Hindi", "\u0939\u093F\u0928\u094D\u0926\u0940", "Devanagari"},
        {"Chinese holding Latin words",
         "\u4F8B\u5982\uFF0C Debian \u662F\u7B2C\u4E00\u79CD\u4F7F\u7528\u5305\u7BA1\u7406"
         "\u7CFB\u7EDF\u7684 Linux \u53D1",
         "Han"},
        {"Japanese: kanji outnumber kana, counted together", "\u65E5\u672C\u8A9E\u6587\u7AE0\u306E",
         "Japanese"},
        {"Japanese with a Latin word", "Linux\u3092\u4F7F\u3046\u65E5\u672C\u4EBA", "Japanese"},
        {"Korean", "\uD55C\uAD6D\uC5B4 abc", "Korean"},
        {"no letters", "123 !? \u0300", "none"},
        {"empty", "", "none"},
        {"a tie goes to the lower number", "ab \u03B1\u03B2", "Greek"},
    };
    for (const auto &c : cases) EXPECT_EQ(dominant_of(c.text), c.script) << c.name;
}

TEST(Scripts, CountsAndRefusals) {
    std::vector<uint64_t> counts(static_cast<size_t>(tavik_script_count()), 99);
    int32_t dominant = -2;
    const std::string text = "abc \u03B1\u03B2 \u0301 7";
    ASSERT_EQ(tavik_text_scripts(text.data(), text.size(), counts.data(), &dominant), TAVIK_OK);
    EXPECT_EQ(counts[static_cast<size_t>(tavik::script_by_name("Latin"))], 3u);
    EXPECT_EQ(counts[static_cast<size_t>(tavik::script_by_name("Greek"))], 2u);
    EXPECT_EQ(counts[static_cast<size_t>(tavik::script_by_name("Inherited"))], 1u);
    EXPECT_EQ(counts[static_cast<size_t>(tavik::script_by_name("Common"))], 0u) << "no letters";
    EXPECT_STREQ(tavik_script_name(dominant), "Latin");

    const std::string bad = "abc\xC3";
    EXPECT_EQ(tavik_text_scripts(bad.data(), bad.size(), counts.data(), &dominant), TAVIK_BAD_UTF8);
    EXPECT_EQ(dominant, -1);
    for (const uint64_t c : counts) EXPECT_EQ(c, 0u);
    EXPECT_EQ(tavik_text_scripts(nullptr, 0, nullptr, &dominant), TAVIK_OK);
    EXPECT_EQ(tavik_text_scripts(nullptr, 1, nullptr, &dominant), TAVIK_INVALID);
    EXPECT_EQ(tavik_text_scripts("a", 1, nullptr, nullptr), TAVIK_INVALID);
}

}  // namespace
