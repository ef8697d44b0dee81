// SPDX-License-Identifier: MIT
// test_profile.cpp - the profile record and its rank lookup, the profile file
// (reader and writer), and loading a profile into the library.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <signal.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "tavik/tavik_api.h"
#include "testutil.h"

namespace {

namespace fs = std::filesystem;
using tavik_test::Blob;
using tavik_test::read_file;
using tavik_test::TempDir;
using tavik_test::write_file;
using NgramRec = struct tavik_ngram;

std::string from_hex(const char *hex) {
    std::string out;
    for (const char *p = hex; *p != '\0';) {
        if (*p == ' ') {
            ++p;
            continue;
        }
        out.push_back(static_cast<char>(std::stoi(std::string(p, 2), nullptr, 16)));
        p += 2;
    }
    return out;
}

// The 79-byte example file of the format documentation, byte for byte: one
// meta pair and the language "eng" with "_t" (value 3) and "th" (value 2).
const std::string kExample = from_hex("54 41 56 49 4B 30 30 31"  // magic
                                      "01 00 00 00"              // version 1
                                      "01 00 00 00"              // flags, bit 0
                                      "05 00 00 00"              // max_ngram_length 5
                                      "A0 0F 00 00"              // max_distribution 4000
                                      "00 00 00 00"              // occurance_threshold 0
                                      "01 00 00 00"              // lang_count 1
                                      "01 00 00 00"              // meta_count 1
                                      "0E 00"                    // key length 14
                                      "6C 61 6E 67 75 61 67 65 5F 63 6F 75 6E 74"
                                      "01 00 31"                   // value "1"
                                      "03 65 6E 67"                // code "eng"
                                      "02 00 00 00"                // 2 n-grams
                                      "02 00 5F 74 03 00 00 00"    // "_t", 3
                                      "02 00 74 68 02 00 00 00");  // "th", 2

// Three languages (one of them empty), three meta pairs (one with an empty
// key) and a text repeated within a language.
std::string three_langs() {
    return Blob()
        .header(3, 3, 1, 1, 3, 10, 1)
        .text16("language_count")
        .text16("3")
        .text16("")
        .text16("empty key")
        .text16("date")
        .text16("2024-01-01")
        .lang("eng", {"_t", "th", "he", "e_", "th"})
        .lang("fra", {"_l", "le", "\xC3\xA9t", "e_"})
        .lang("ell", {})
        .bytes();
}

// "deu" with three n-grams and no stored values.
std::string without_values() {
    return Blob().header(1, 0, 0).lang("deu", {"_d", "de", "er"}, false).bytes();
}

// Distinct texts "g0", "g1", ... for languages of a given size.
std::vector<std::string> numbered(size_t n) {
    std::vector<std::string> texts;
    texts.reserve(n);
    for (size_t k = 0; k < n; ++k) texts.push_back("g" + std::to_string(k));
    return texts;
}

struct ProfileDeleter {
    void operator()(tavik_profile *p) const { tavik_profile_free(p); }
};
using ProfilePtr = std::unique_ptr<tavik_profile, ProfileDeleter>;

// Parses a copy of exactly `bytes`, so that a read past the end is caught
// by the address sanitizer; `*status` receives the reader's answer.
ProfilePtr parse(const std::string &bytes, int32_t *status) {
    const auto copy = std::make_unique<unsigned char[]>(bytes.size() + (bytes.empty() ? 1 : 0));
    std::memcpy(copy.get(), bytes.data(), bytes.size());
    tavik_profile *p = nullptr;
    *status = tavik_profile_load(copy.get(), bytes.size(), &p);
    return ProfilePtr(p);
}

ProfilePtr parse_ok(const std::string &bytes) {
    int32_t rc;
    ProfilePtr p = parse(bytes, &rc);
    EXPECT_EQ(rc, TAVIK_OK);
    return p;
}

// What every loaded profile must hold, whatever bytes it came from.
void expect_sound(const tavik_profile &p) {
    ASSERT_GE(p.lang_count, 0);
    ASSERT_LE(p.lang_count, 64);
    ASSERT_GE(p.meta_count, 0);
    ASSERT_LE(p.meta_count, 64);
    EXPECT_EQ(std::string(p.id), "tavik-v1-L" + std::to_string(p.lang_count));
    for (int32_t i = 0; i < p.meta_count; ++i) {
        EXPECT_NE(p.meta[i].key, nullptr);
        EXPECT_NE(p.meta[i].value, nullptr);
    }
    for (int32_t j = 0; j < p.lang_count; ++j) {
        const tavik_lang &l = p.langs[j];
        EXPECT_EQ(l.lookup_used, l.ngrams.count);
        EXPECT_GE(l.lookup_size, 2 * l.ngrams.count + 16);
        for (uint64_t k = 0; k < l.ngrams.count; ++k) {
            // A repeated text answers its first position.
            const int32_t rank = tavik_lang_lookup_rank(&l, l.ngrams.items[k].text);
            ASSERT_GE(rank, 1);
            ASSERT_LE(static_cast<uint64_t>(rank), k + 1);
            EXPECT_STREQ(l.ngrams.items[rank - 1].text, l.ngrams.items[k].text);
        }
    }
}

// A record for the writer; it owns the texts and lists the record borrows.
class Record {
public:
    Record() : p_(std::make_unique<tavik_profile>()) {
        p_->version = 1;
        p_->flags = 1;
        p_->max_ngram_length = 5;
        p_->max_distribution = 4000;
    }
    Record &meta(const std::string &key, const std::string &value) {
        p_->meta[p_->meta_count++] = tavik_meta{keep(key), keep(value)};
        return *this;
    }
    Record &lang(const char *code, const std::vector<std::pair<std::string, int32_t>> &ngrams) {
        tavik_lang &l = p_->langs[p_->lang_count++];
        std::strncpy(l.code, code, sizeof l.code);
        auto &items = lists_.emplace_back();
        for (const auto &[text, count] : ngrams)
            items.push_back(NgramRec{keep(text), count, static_cast<int32_t>(items.size())});
        l.ngrams = tavik_ngram_list{items.data(), items.size(), items.size()};
        return *this;
    }
    // A language of `n` distinct n-grams "g0", "g1", ...
    Record &big_lang(const char *code, size_t n) {
        tavik_lang &l = p_->langs[p_->lang_count++];
        std::strncpy(l.code, code, sizeof l.code);
        auto &items = lists_.emplace_back();
        for (size_t k = 0; k < n; ++k)
            items.push_back(NgramRec{keep("g" + std::to_string(k)), 1, static_cast<int32_t>(k)});
        l.ngrams = tavik_ngram_list{items.data(), items.size(), items.size()};
        return *this;
    }
    tavik_profile &get() { return *p_; }

private:
    char *keep(const std::string &s) { return texts_.emplace_back(s).data(); }
    std::unique_ptr<tavik_profile> p_;
    std::deque<std::string> texts_;
    std::deque<std::vector<NgramRec>> lists_;
};

Record example_record() {
    Record r;
    r.meta("language_count", "1").lang("eng", {{"_t", 3}, {"th", 2}});
    return r;
}

std::vector<std::string> dir_entries(const std::string &dir) {
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
    return names;
}

// ------------------------------------------------------------ example file

TEST(ExampleFile, WriterProducesItByteForByte) {
    TempDir dir;
    Record r = example_record();
    ASSERT_EQ(tavik_profile_write(&r.get(), dir.file("x.tavik").c_str()), TAVIK_OK);
    EXPECT_EQ(read_file(dir.file("x.tavik")), kExample);
    EXPECT_EQ(dir_entries(dir.path()).size(), 1u);
}

TEST(ExampleFile, ReadsIntoTheRecord) {
    ProfilePtr p = parse_ok(kExample);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->version, 1);
    EXPECT_EQ(p->flags, 1);
    EXPECT_EQ(p->max_ngram_length, 5);
    EXPECT_EQ(p->max_distribution, 4000);
    EXPECT_EQ(p->occurance_threshold, 0);
    EXPECT_STREQ(p->id, "tavik-v1-L1");
    ASSERT_EQ(p->meta_count, 1);
    EXPECT_STREQ(p->meta[0].key, "language_count");
    EXPECT_STREQ(p->meta[0].value, "1");
    ASSERT_EQ(p->lang_count, 1);
    const tavik_lang &eng = p->langs[0];
    EXPECT_STREQ(eng.code, "eng");
    ASSERT_EQ(eng.ngrams.count, 2u);
    EXPECT_STREQ(eng.ngrams.items[0].text, "_t");
    EXPECT_EQ(eng.ngrams.items[0].count, 3);
    EXPECT_EQ(eng.ngrams.items[0].order, 0);
    EXPECT_STREQ(eng.ngrams.items[1].text, "th");
    EXPECT_EQ(eng.ngrams.items[1].count, 2);
    EXPECT_EQ(eng.ngrams.items[1].order, 1);
    EXPECT_EQ(eng.lookup_size, 32u);
    EXPECT_EQ(eng.lookup_used, 2u);
    EXPECT_EQ(tavik_lang_lookup_rank(&eng, "_t"), 1);
    EXPECT_EQ(tavik_lang_lookup_rank(&eng, "th"), 2);
    EXPECT_EQ(tavik_lang_lookup_rank(&eng, "he"), 0);
    // The unused slots stay zero.
    EXPECT_EQ(p->langs[1].code[0], '\0');
    EXPECT_EQ(p->meta[1].key, nullptr);
}

TEST(ExampleFile, LoadsIntoTheLibrary) {
    TempDir dir;
    write_file(dir.file("x.tavik"), kExample);
    ASSERT_EQ(tavik_load_profile(dir.file("x.tavik").c_str()), TAVIK_OK);
    EXPECT_STREQ(tavik_profile_id(), "tavik-v1-L1");
    EXPECT_EQ(tavik_profile_language_count(), 1);
    EXPECT_STREQ(tavik_profile_language_code(0), "eng");
    EXPECT_STREQ(tavik_profile_meta("language_count"), "1");
    const tavik_profile *p = tavik_get_state()->profile;
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->langs[0].lookup_size, 32u);
    EXPECT_EQ(tavik_lang_lookup_rank(&p->langs[0], "_t"), 1);
    EXPECT_EQ(tavik_lang_lookup_rank(&p->langs[0], "th"), 2);
    EXPECT_EQ(tavik_lang_lookup_rank(&p->langs[0], "t"), 0);
}

// A loaded profile written back gives its file again, except that flags
// bit 0 gets set (with the values derived from positions written out) and
// trailing bytes are dropped.
TEST(RoundTrip, LoadedProfileWritesBackItsFile) {
    const struct {
        const char *name;
        std::string in, out;
    } cases[] = {
        {"example", kExample, kExample},
        {"three languages", three_langs(), three_langs()},
        {"trailing bytes", kExample + "garbage", kExample},
        {"no values", without_values(),
         Blob().header(1, 0, 1).lang("deu", {"_d", "de", "er"}).bytes()},
        {"other flag bits", Blob().header(1, 0, 6).lang("x", {"a", "b"}, false).bytes(),
         Blob().header(1, 0, 7).lang("x", {"a", "b"}).bytes()},
        {"zero byte in a text",
         Blob()
             .header(1, 1)
             .text16(std::string("k\0x", 3))
             .text16("v")
             .lang("x", {std::string("a\0b", 3)})
             .bytes(),
         Blob().header(1, 1).text16("k").text16("v").lang("x", {"a"}).bytes()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        ProfilePtr p = parse_ok(c.in);
        ASSERT_TRUE(p);
        ASSERT_EQ(tavik_profile_write(p.get(), dir.file("out.tavik").c_str()), TAVIK_OK);
        EXPECT_EQ(read_file(dir.file("out.tavik")), c.out);
    }
}

// ------------------------------------------------------------------ reader

TEST(Reader, LimitsAtTheirEdges) {
    const std::string header_only = Blob().header(0, 0, 0).bytes();
    std::string six_four, six_five;
    {
        Blob a, b;
        a.header(64, 64);
        b.header(65, 0);
        for (int i = 0; i < 64; ++i) a.text16("k" + std::to_string(i)).text16("v");
        for (int i = 0; i < 65; ++i) {
            a.lang("l" + std::to_string(i), {"_a"});
            b.lang("l" + std::to_string(i), {"_a"});
        }
        six_four = a.bytes();
        six_five = b.bytes();
    }
    Blob meta65;
    meta65.header(0, 65);
    for (int i = 0; i < 65; ++i) meta65.text16("k").text16("v");
    const std::string max_ngrams = Blob().header(1, 0).lang("x", numbered(100000)).bytes();
    const std::string too_many = Blob().header(1, 0).lang("x", numbered(100001)).bytes();

    const struct {
        const char *name;
        std::string blob;
        int32_t status;
        int32_t langs;
    } cases[] = {
        {"35 bytes", header_only.substr(0, 35), TAVIK_BAD_PROFILE, 0},
        {"36 bytes, nothing in it", header_only, TAVIK_OK, 0},
        {"eighth magic byte", tavik_test::with_byte(header_only, 7, '2'), TAVIK_BAD_PROFILE, 0},
        {"code length 0", Blob().header(1, 0).u8(0).u32(0).bytes(), TAVIK_BAD_PROFILE, 0},
        {"code length 1", Blob().header(1, 0).lang("e", {"_a"}).bytes(), TAVIK_OK, 1},
        {"code length 7", Blob().header(1, 0).lang("abcdefg", {"_a"}).bytes(), TAVIK_OK, 1},
        {"code length 8", Blob().header(1, 0).lang("abcdefgh", {"_a"}).bytes(), TAVIK_BAD_PROFILE,
         0},
        {"100000 n-grams", max_ngrams, TAVIK_OK, 1},
        {"100001 n-grams", too_many, TAVIK_BAD_PROFILE, 0},
        {"64 languages, 64 meta pairs", six_four, TAVIK_OK, 64},
        {"65 languages", six_five, TAVIK_BAD_PROFILE, 0},
        {"65 meta pairs", meta65.bytes(), TAVIK_BAD_PROFILE, 0},
        {"language count 2^32-1", Blob().header(0xFFFFFFFF, 0).bytes(), TAVIK_BAD_PROFILE, 0},
        {"version 2, rest sound", tavik_test::with_byte(kExample, 8, 2), TAVIK_BAD_PROFILE, 0},
        {"version 0", Blob().header(0, 0, 0, 0).bytes(), TAVIK_BAD_PROFILE, 0},
        {"value cut short", kExample.substr(0, 78), TAVIK_BAD_PROFILE, 0},
        {"values announced, none stored",
         Blob().header(1, 0, 1).lang("deu", {"_d", "de", "er"}, false).bytes(), TAVIK_BAD_PROFILE,
         0},
        {"second language missing", Blob().header(2, 0).lang("eng", {"_t"}).bytes(),
         TAVIK_BAD_PROFILE, 0},
        {"trailing garbage", kExample + std::string("\xFF\x00\x07zz", 5), TAVIK_OK, 1},
        {"meta keys and values of length 0", Blob().header(0, 1).text16("").text16("").bytes(),
         TAVIK_OK, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        int32_t rc;
        ProfilePtr p = parse(c.blob, &rc);
        EXPECT_EQ(rc, c.status);
        EXPECT_EQ(p != nullptr, c.status == TAVIK_OK);
        if (p) {
            EXPECT_EQ(p->lang_count, c.langs);
            expect_sound(*p);
        }
    }
}

TEST(Reader, FailureLeavesTheResultLocationAlone) {
    static char mark;
    tavik_profile *const sentinel = reinterpret_cast<tavik_profile *>(&mark);
    tavik_profile *out = sentinel;
    EXPECT_EQ(tavik_profile_load(kExample.data(), 78, &out), TAVIK_BAD_PROFILE);
    EXPECT_EQ(out, sentinel);
    EXPECT_EQ(tavik_profile_load(nullptr, 79, &out), TAVIK_BAD_PROFILE);
    EXPECT_EQ(tavik_profile_load(kExample.data(), 79, nullptr), TAVIK_BAD_PROFILE);
    EXPECT_EQ(out, sentinel);
}

TEST(Reader, WithoutValuesCountsFollowPositions) {
    ProfilePtr p = parse_ok(without_values());
    ASSERT_TRUE(p);
    EXPECT_EQ(p->flags, 0);
    const tavik_ngram_list &l = p->langs[0].ngrams;
    ASSERT_EQ(l.count, 3u);
    for (int32_t k = 0; k < 3; ++k) {
        EXPECT_EQ(l.items[k].count, 3 - k);
        EXPECT_EQ(l.items[k].order, k);
    }
}

// A text holding a zero byte acts as its part before it.  A code whose
// first byte is zero loads as the empty code; the writer refuses to store
// that again.
TEST(Reader, ZeroByteEndsAText) {
    TempDir dir;
    ProfilePtr p = parse_ok(Blob()
                                .header(1, 1)
                                .text16(std::string("k\0x", 3))
                                .text16("v")
                                .raw(std::string("\x03\0en", 4))
                                .u32(1)
                                .text16(std::string("a\0b", 3))
                                .u32(1)
                                .bytes());
    ASSERT_TRUE(p);
    EXPECT_STREQ(p->meta[0].key, "k");
    EXPECT_STREQ(p->langs[0].code, "");
    EXPECT_EQ(tavik_lang_lookup_rank(&p->langs[0], "a"), 1);
    EXPECT_EQ(tavik_profile_write(p.get(), dir.file("x.tavik").c_str()), TAVIK_INVALID);
    EXPECT_TRUE(dir_entries(dir.path()).empty());
}

// Every proper prefix of a sound profile is refused, and nothing leaks (the
// leak checker of the sanitizer build watches the whole run).
TEST(Reader, EveryProperPrefixFails) {
    for (const std::string &whole : {kExample, three_langs(), without_values()}) {
        for (size_t n = 0; n < whole.size(); ++n) {
            SCOPED_TRACE(n);
            int32_t rc;
            ProfilePtr p = parse(whole.substr(0, n), &rc);
            EXPECT_EQ(rc, TAVIK_BAD_PROFILE);
            EXPECT_FALSE(p);
        }
    }
}

// Every byte of a sound profile, changed in several ways: the magic and the
// version always make it fail, the settings always load as the new value,
// and anywhere else the reader either refuses cleanly or loads a sound
// profile.
TEST(Reader, SingleByteCorruptions) {
    const std::string whole = three_langs();
    for (size_t at = 0; at < whole.size(); ++at) {
        const auto b = static_cast<unsigned char>(whole[at]);
        for (const unsigned v : {0x00u, 0xFFu, b ^ 0x01u, b ^ 0x80u, b + 1u}) {
            if (static_cast<unsigned char>(v) == b) continue;
            SCOPED_TRACE(testing::Message() << "byte " << at << " = " << (v & 0xFF));
            int32_t rc;
            ProfilePtr p = parse(tavik_test::with_byte(whole, at, static_cast<char>(v)), &rc);
            if (at < 12) {
                EXPECT_EQ(rc, TAVIK_BAD_PROFILE);
            } else if (at >= 16 && at < 28) {
                EXPECT_EQ(rc, TAVIK_OK);
            } else {
                EXPECT_TRUE(rc == TAVIK_OK || rc == TAVIK_BAD_PROFILE) << rc;
            }
            EXPECT_EQ(p != nullptr, rc == TAVIK_OK);
            if (p) expect_sound(*p);
        }
    }
}

TEST(Reader, KnownBadFilesAreRejected) {
    const std::string folder = TAVIK_SOURCE_DIR "/tests/data/bad_profiles";
    tavik_test::load(kExample);
    const tavik_profile *before = tavik_get_state()->profile;
    size_t files = 0;
    for (const auto &e : fs::directory_iterator(folder)) {
        SCOPED_TRACE(e.path().filename().string());
        ++files;
        EXPECT_EQ(tavik_load_profile(e.path().c_str()), TAVIK_BAD_PROFILE);
        EXPECT_STREQ(tavik_last_error(), "bad profile file");
        int32_t rc;
        EXPECT_FALSE(parse(read_file(e.path()), &rc));
        EXPECT_EQ(rc, TAVIK_BAD_PROFILE);
    }
    EXPECT_GT(files, 0u) << "no files in " << folder;
    EXPECT_EQ(tavik_get_state()->profile, before);
    EXPECT_STREQ(tavik_profile_id(), "tavik-v1-L1");
}

// ------------------------------------------------------------- path reader

TEST(PathReader, SizeLimitIsTakenOver64Bits) {
    TempDir dir;
    const auto sparse = [&](const char *name, off_t size, const std::string &head) {
        const std::string path = dir.file(name);
        write_file(path, head);
        EXPECT_EQ(::truncate(path.c_str(), size), 0) << std::strerror(errno);
        return path;
    };
    tavik_profile *p = nullptr;
    // 4 GiB + 10 bytes would read as a 10-byte file if the size were cut to
    // 32 bits.
    EXPECT_EQ(tavik_profile_load_path(sparse("huge", (off_t{1} << 32) + 10, kExample).c_str(), &p),
              TAVIK_BAD_PROFILE);
    EXPECT_EQ(
        tavik_profile_load_path(sparse("over", TAVIK_MAX_PROFILE_BYTES + 1, kExample).c_str(), &p),
        TAVIK_BAD_PROFILE);
    EXPECT_EQ(p, nullptr);
    // Exactly 64 MiB passes the size test: zeros are no profile, but a
    // sound profile followed by zeros loads, its trailing bytes ignored.
    EXPECT_EQ(tavik_profile_load_path(sparse("zeros", TAVIK_MAX_PROFILE_BYTES, "").c_str(), &p),
              TAVIK_BAD_PROFILE);
    ASSERT_EQ(tavik_profile_load_path(sparse("max", TAVIK_MAX_PROFILE_BYTES, kExample).c_str(), &p),
              TAVIK_OK);
    ProfilePtr loaded(p);
    EXPECT_STREQ(loaded->id, "tavik-v1-L1");
    EXPECT_EQ(tavik_lang_lookup_rank(&loaded->langs[0], "th"), 2);
}

TEST(PathReader, OnlyRegularFilesAreRead) {
    TempDir dir;
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    write_file(dir.file("empty"), "");
    // Should the FIFO be opened for a blocking read, no writer would ever
    // come: the alarm ends the test instead of letting it hang.
    ::alarm(30);
    tavik_profile *p = nullptr;
    for (const std::string &path : {fifo, dir.path(), dir.file("empty"), dir.file("missing")}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(tavik_profile_load_path(path.c_str(), &p), TAVIK_BAD_PROFILE);
        EXPECT_EQ(tavik_load_profile(path.c_str()), TAVIK_BAD_PROFILE);
    }
    ::alarm(0);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(tavik_profile_load_path(nullptr, &p), TAVIK_INVALID);
}

// ------------------------------------------------------------------ lookup

TEST(Lookup, TableSizes) {
    const struct {
        size_t ngrams;
        uint64_t slots;
    } cases[] = {{0, 16}, {1, 32}, {7, 32}, {8, 32}, {9, 64}, {100000, uint64_t{1} << 18}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.ngrams);
        const std::vector<std::string> texts = numbered(c.ngrams);
        ProfilePtr p = parse_ok(Blob().header(1, 0).lang("x", texts).bytes());
        ASSERT_TRUE(p);
        const tavik_lang &l = p->langs[0];
        EXPECT_EQ(l.lookup_size, c.slots);
        EXPECT_EQ(l.lookup_used, c.ngrams);
        for (size_t k = 0; k < texts.size(); ++k)
            ASSERT_EQ(tavik_lang_lookup_rank(&l, texts[k].c_str()), static_cast<int32_t>(k + 1));
        EXPECT_EQ(tavik_lang_lookup_rank(&l, "absent"), 0);
    }
}

TEST(Lookup, Answers) {
    ProfilePtr p = parse_ok(Blob()
                                .header(3, 0)
                                .lang("a", {"_a", "a_"})
                                .lang("b", {"p", "q", "r", "dup", "s", "t", "u", "dup"})
                                .lang("c", {"x", ""})
                                .bytes());
    ASSERT_TRUE(p);
    const tavik_lang &a = p->langs[0], &b = p->langs[1], &c = p->langs[2];
    EXPECT_EQ(tavik_lang_lookup_rank(&a, "_a"), 1);
    EXPECT_EQ(tavik_lang_lookup_rank(&a, "a_"), 2);
    EXPECT_EQ(tavik_lang_lookup_rank(&a, "ab"), 0);
    EXPECT_EQ(tavik_lang_lookup_rank(&a, "_A"), 0);  // bytes compare exactly
    EXPECT_EQ(tavik_lang_lookup_rank(&a, "_a_"), 0);
    EXPECT_EQ(tavik_lang_lookup_rank(&b, "dup"), 4);  // the lower of two ranks
    EXPECT_EQ(tavik_lang_lookup_rank(&a, ""), 0);
    EXPECT_EQ(tavik_lang_lookup_rank(&c, ""), 2);
    EXPECT_EQ(tavik_lang_lookup_rank(nullptr, "_a"), 0);
    EXPECT_EQ(tavik_lang_lookup_rank(&a, nullptr), 0);
    const tavik_lang unbuilt{};
    EXPECT_EQ(tavik_lang_lookup_rank(&unbuilt, "_a"), 0);
    tavik_profile_free(nullptr);
}

// ------------------------------------------------------------------ writer

// The writer refuses a record the reader would reject, before it creates
// any file; the edges the reader accepts are written and read back.
TEST(Writer, RefusesWhatTheReaderRejects) {
    const struct {
        const char *name;
        void (*edit)(Record &);
        int32_t status;
    } cases[] = {
        {"empty code", [](Record &r) { r.lang("", {}); }, TAVIK_INVALID},
        {"code of 8 bytes",
         [](Record &r) {
             r.lang("x", {});
             std::memcpy(r.get().langs[1].code, "abcdefgh", 8);
         },
         TAVIK_INVALID},
        {"code of 7 bytes",
         [](Record &r) {
             r.lang("abcdefg", {{"_a", 1}});
         },
         TAVIK_OK},
        {"100001 n-grams", [](Record &r) { r.big_lang("x", 100001); }, TAVIK_INVALID},
        {"100000 n-grams", [](Record &r) { r.big_lang("x", 100000); }, TAVIK_OK},
        {"65 languages", [](Record &r) { r.get().lang_count = 65; }, TAVIK_INVALID},
        {"negative language count", [](Record &r) { r.get().lang_count = -1; }, TAVIK_INVALID},
        {"64 languages, 64 meta pairs",
         [](Record &r) {
             while (r.get().lang_count < 64) r.lang("l", {{"_a", 1}});
             while (r.get().meta_count < 64) r.meta("k", "v");
         },
         TAVIK_OK},
        {"65 meta pairs", [](Record &r) { r.get().meta_count = 65; }, TAVIK_INVALID},
        {"negative meta count", [](Record &r) { r.get().meta_count = -1; }, TAVIK_INVALID},
        {"key of 65536 bytes", [](Record &r) { r.meta(std::string(65536, 'k'), "v"); },
         TAVIK_INVALID},
        {"value of 65536 bytes", [](Record &r) { r.meta("k", std::string(65536, 'v')); },
         TAVIK_INVALID},
        {"text of 65536 bytes",
         [](Record &r) {
             r.lang("x", {{std::string(65536, 't'), 1}});
         },
         TAVIK_INVALID},
        {"key, value and text of 65535 bytes",
         [](Record &r) {
             const std::string s(65535, 's');
             r.meta(s, s).lang("x", {{s, 1}});
         },
         TAVIK_OK},
        {"null text", [](Record &r) { r.get().langs[0].ngrams.items[1].text = nullptr; },
         TAVIK_INVALID},
        {"null key", [](Record &r) { r.get().meta[0].key = nullptr; }, TAVIK_INVALID},
        {"null value", [](Record &r) { r.get().meta[0].value = nullptr; }, TAVIK_INVALID},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        Record r = example_record();
        c.edit(r);
        const std::string path = dir.file("x.tavik");
        ASSERT_EQ(tavik_profile_write(&r.get(), path.c_str()), c.status);
        if (c.status != TAVIK_OK) {
            EXPECT_TRUE(dir_entries(dir.path()).empty());
            continue;
        }
        tavik_profile *back = nullptr;
        ASSERT_EQ(tavik_profile_load_path(path.c_str(), &back), TAVIK_OK);
        ProfilePtr p(back);
        EXPECT_EQ(p->lang_count, r.get().lang_count);
        EXPECT_EQ(p->meta_count, r.get().meta_count);
        const tavik_lang &last = p->langs[p->lang_count - 1];
        EXPECT_EQ(last.ngrams.count, r.get().langs[p->lang_count - 1].ngrams.count);
        EXPECT_STREQ(last.ngrams.items[0].text,
                     r.get().langs[p->lang_count - 1].ngrams.items[0].text);
    }
    EXPECT_EQ(tavik_profile_write(nullptr, "x"), TAVIK_INVALID);
    Record r = example_record();
    EXPECT_EQ(tavik_profile_write(&r.get(), nullptr), TAVIK_INVALID);
}

// A write that cannot complete removes its temporary file and leaves the
// file it would have replaced as it was.  Tests run as root, where file
// permissions stop nothing, so the failures are made otherwise: a missing
// directory (no temporary file can be created), a target that is a
// directory (the final rename fails), and a file size limit (the data
// cannot be written out).
TEST(Writer, FailureLeavesTheTargetAlone) {
    TempDir dir;
    Record r = example_record();
    const std::string old_bytes = "old contents";

    EXPECT_EQ(tavik_profile_write(&r.get(), dir.file("missing/x.tavik").c_str()), TAVIK_INVALID);
    EXPECT_TRUE(dir_entries(dir.path()).empty());

    fs::create_directory(dir.file("target"));
    write_file(dir.file("target/keep"), old_bytes);
    EXPECT_EQ(tavik_profile_write(&r.get(), dir.file("target").c_str()), TAVIK_INVALID);
    EXPECT_EQ(dir_entries(dir.path()), std::vector<std::string>{"target"});
    EXPECT_EQ(read_file(dir.file("target/keep")), old_bytes);

    const std::string target = dir.file("x.tavik");
    write_file(target, old_bytes);
    ::signal(SIGXFSZ, SIG_IGN);  // let the write fail with EFBIG instead
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 40;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const int32_t rc = tavik_profile_write(&r.get(), target.c_str());
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &saved), 0);
    EXPECT_EQ(rc, TAVIK_INVALID);
    EXPECT_EQ(read_file(target), old_bytes);
    std::vector<std::string> names = dir_entries(dir.path());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"target", "x.tavik"}));

    // Once it can write, it replaces the old file whole.
    ASSERT_EQ(tavik_profile_write(&r.get(), target.c_str()), TAVIK_OK);
    EXPECT_EQ(read_file(target), kExample);
    EXPECT_EQ(dir_entries(dir.path()).size(), 2u);
}

// --------------------------------------------------------- library loading

// A failed load, of whatever kind, leaves the loaded profile, its id and
// the settings as they were and only sets the error text.
TEST(Load, FailureKeepsTheLoadedProfile) {
    TempDir dir;
    tavik_test::load(Blob().header(1, 0, 1, 1, 3, 100, 2).lang("eng", {"_t"}).bytes());
    const tavik_profile *before = tavik_get_state()->profile;
    // Sound but for its version, with settings of its own.
    const std::string v2 = Blob().header(1, 0, 1, 2, 7, 77, 7).lang("deu", {"_d"}).bytes();
    write_file(dir.file("v2.tavik"), v2);
    const struct {
        const char *name;
        int32_t (*call)(const std::string &);
        std::string arg;
        int32_t status;
        const char *error;
    } cases[] = {
        {"null path", [](const std::string &) { return tavik_load_profile(nullptr); }, "",
         TAVIK_INVALID, "null path"},
        {"missing file", [](const std::string &a) { return tavik_load_profile(a.c_str()); },
         dir.file("missing.tavik"), TAVIK_BAD_PROFILE, "bad profile file"},
        {"bad file", [](const std::string &a) { return tavik_load_profile(a.c_str()); },
         dir.file("v2.tavik"), TAVIK_BAD_PROFILE, "bad profile file"},
        {"bad memory",
         [](const std::string &a) { return tavik_load_profile_memory(a.data(), a.size()); }, v2,
         TAVIK_BAD_PROFILE, "bad profile memory"},
        {"null memory", [](const std::string &) { return tavik_load_profile_memory(nullptr, 79); },
         "", TAVIK_BAD_PROFILE, "bad profile memory"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        tavik_set_err(nullptr);
        EXPECT_EQ(c.call(c.arg), c.status);
        EXPECT_STREQ(tavik_last_error(), c.error);
        const tavik_state *g = tavik_get_state();
        EXPECT_EQ(g->profile, before);
        EXPECT_STREQ(tavik_profile_id(), "tavik-v1-L1");
        EXPECT_STREQ(tavik_profile_language_code(0), "eng");
        EXPECT_EQ(g->max_ngram_length, 3);
        EXPECT_EQ(g->max_distribution, 100);
        EXPECT_EQ(g->occurance_threshold, 2);
    }
    // The next successful load clears the error text.
    write_file(dir.file("ok.tavik"), kExample);
    ASSERT_EQ(tavik_load_profile(dir.file("ok.tavik").c_str()), TAVIK_OK);
    EXPECT_STREQ(tavik_last_error(), "");
    EXPECT_STREQ(tavik_profile_language_code(0), "eng");
    EXPECT_EQ(tavik_get_state()->max_distribution, 4000);
}

// A load takes the stored length and distribution when they are not 0, as
// they are (negative ones included), and the threshold always.
TEST(Load, SettingsComeFromTheHeader) {
    const struct {
        int32_t len, dist, threshold;           // stored in the header
        int32_t want_len, want_dist, want_thr;  // settings after the load
    } cases[] = {
        {0, 0, 0, 6, 300, 0},
        {-2, -7, -1, -2, -7, -1},
        {3, 100, 2, 3, 100, 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.len << " " << c.dist << " " << c.threshold);
        tavik_set_max_ngram_length(6);
        tavik_set_max_distribution(300);
        tavik_set_occurance_threshold(3);
        tavik_test::load(Blob()
                             .header(0, 0, 0, 1, static_cast<uint32_t>(c.len),
                                     static_cast<uint32_t>(c.dist),
                                     static_cast<uint32_t>(c.threshold))
                             .bytes());
        const tavik_state *g = tavik_get_state();
        EXPECT_EQ(g->max_ngram_length, c.want_len);
        EXPECT_EQ(g->max_distribution, c.want_dist);
        EXPECT_EQ(g->occurance_threshold, c.want_thr);
    }
    // They outlive the profile, and a setter overrides them.
    tavik_free_profile();
    EXPECT_EQ(tavik_get_state()->max_distribution, 100);
    tavik_set_max_distribution(50);
    EXPECT_EQ(tavik_get_state()->max_distribution, 50);
}

TEST(Load, FirstLoadKeepsTheDefaultsForZeros) {
    tavik_test::load(Blob().header(0, 0, 0, 1, 0, 0, 0).bytes());
    EXPECT_EQ(tavik_get_state()->max_ngram_length, 5);
    EXPECT_EQ(tavik_get_state()->max_distribution, 4000);
    EXPECT_EQ(tavik_get_state()->min_ngrams, 40);
}

TEST(Accessors, AnswerFromTheLoadedProfile) {
    EXPECT_EQ(tavik_profile_language_count(), 0);
    EXPECT_EQ(tavik_profile_id(), nullptr);
    EXPECT_EQ(tavik_profile_language_code(0), nullptr);
    EXPECT_EQ(tavik_profile_meta("date"), nullptr);

    tavik_test::load(Blob()
                         .header(3, 4)
                         .text16("date")
                         .text16("first")
                         .text16("Date")
                         .text16("case")
                         .text16("")
                         .text16("empty key")
                         .text16("date")
                         .text16("second")
                         .lang("eng", {"_t"})
                         .lang("fra", {"_l"})
                         .lang("abcdefg", {})
                         .bytes());
    EXPECT_EQ(tavik_profile_language_count(), 3);
    EXPECT_STREQ(tavik_profile_id(), "tavik-v1-L3");
    EXPECT_EQ(tavik_profile_language_code(-1), nullptr);
    EXPECT_STREQ(tavik_profile_language_code(0), "eng");
    EXPECT_STREQ(tavik_profile_language_code(2), "abcdefg");
    EXPECT_EQ(tavik_profile_language_code(3), nullptr);
    EXPECT_STREQ(tavik_profile_meta("date"), "first");
    EXPECT_STREQ(tavik_profile_meta("Date"), "case");
    EXPECT_STREQ(tavik_profile_meta(""), "empty key");
    EXPECT_EQ(tavik_profile_meta("DATE"), nullptr);
    EXPECT_EQ(tavik_profile_meta(nullptr), nullptr);
    // Listing gives every pair in file order, repeated keys included.
    const std::vector<std::pair<std::string, std::string>> pairs = {
        {"date", "first"}, {"Date", "case"}, {"", "empty key"}, {"date", "second"}};
    ASSERT_EQ(tavik_profile_meta_count(), 4);
    for (int32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(tavik_profile_meta_key(i), pairs[static_cast<size_t>(i)].first);
        EXPECT_EQ(tavik_profile_meta_value(i), pairs[static_cast<size_t>(i)].second);
    }
    for (const int32_t i : {-1, 4}) {
        EXPECT_EQ(tavik_profile_meta_key(i), nullptr);
        EXPECT_EQ(tavik_profile_meta_value(i), nullptr);
    }

    tavik_free_profile();
    EXPECT_EQ(tavik_get_state()->profile, nullptr);
    EXPECT_EQ(tavik_profile_language_count(), 0);
    EXPECT_EQ(tavik_profile_id(), nullptr);
    EXPECT_EQ(tavik_profile_language_code(0), nullptr);
    EXPECT_EQ(tavik_profile_meta("date"), nullptr);
    EXPECT_EQ(tavik_profile_meta_count(), 0);
    EXPECT_EQ(tavik_profile_meta_key(0), nullptr);
    tavik_free_profile();
}

}  // namespace
