// SPDX-License-Identifier: MIT
// test_trainer_cli.cpp - the tavik-train program end to end: it runs the
// built program on small corpora made here and checks its exit code, its
// messages byte for byte, and the profile it writes, read back through the
// library.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "testutil.h"

using tavik_test::codes_of;
using tavik_test::meta_of;
using tavik_test::MetaPairs;
using tavik_test::read_file;
using tavik_test::TempDir;
using tavik_test::write_file;
namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

constexpr const char *kTrainer = TAVIK_BINARY_DIR "/tavik-train";
constexpr uint64_t kMaxFileBytes = 52428800;

using Outcome = tavik_test::RunResult;

// Runs the trainer with `args`, without the two date variables of this
// process's environment but with `env`.  With `unprivileged`, a root test
// process runs it as "nobody", so that file permissions apply to it.
Outcome run_trainer(const std::vector<std::string> &args, const std::vector<std::string> &env = {},
                    bool unprivileged = false) {
    return tavik_test::run_program(kTrainer, args, "", env,
                                   {"TAVIK_TRAIN_DATE", "SOURCE_DATE_EPOCH"}, unprivileged);
}

std::string reason_of_errno(int err) {
    std::string why = std::strerror(err);
    why[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(why[0])));
    return why;
}

std::string replace_all(std::string s, std::string_view from, const std::string &to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
    return s;
}

// ---------------------------------------------------------------- corpora

// One entry of a corpus: a directory, a file with its bytes, or a sparse
// file of a given size (parents are made as needed).
struct Entry {
    enum Kind { kDir, kFile, kSparse } kind;
    std::string path;
    std::string bytes;
    uint64_t size = 0;
};
Entry dir(std::string path) { return {Entry::kDir, std::move(path), {}, 0}; }
Entry file(std::string path, std::string bytes) {
    return {Entry::kFile, std::move(path), std::move(bytes), 0};
}
Entry sparse(std::string path, uint64_t size) {
    return {Entry::kSparse, std::move(path), {}, size};
}

void make_corpus(const std::string &root, const std::vector<Entry> &entries) {
    fs::create_directories(root);
    for (const Entry &e : entries) {
        const fs::path p = fs::path(root) / e.path;
        if (e.kind == Entry::kDir) {
            fs::create_directories(p);
            continue;
        }
        fs::create_directories(p.parent_path());
        write_file(p.string(), e.bytes);
        if (e.kind == Entry::kSparse) fs::resize_file(p, e.size);
    }
}

// ------------------------------------------------------- written profiles

// Loads `path` through the library; the profile then sits in the library state.
const tavik_profile *load_written(const std::string &path) {
    if (tavik_load_profile(path.c_str()) != TAVIK_OK) return nullptr;
    return tavik_get_state()->profile;
}

const tavik_lang *find_lang(const tavik_profile &p, std::string_view code) {
    for (int32_t j = 0; j < p.lang_count; ++j)
        if (p.langs[j].code == code) return &p.langs[j];
    return nullptr;
}

// The meta pairs every trained profile carries, in their order, with the
// licence line taken from the profile itself.
void expect_meta(const tavik_profile &p, const std::string &source, const std::string &date,
                 const std::string &language_count) {
    const MetaPairs meta = meta_of(p);
    ASSERT_EQ(meta.size(), 5u);
    const std::string &licence = meta[2].second;
    EXPECT_FALSE(licence.empty());
    EXPECT_EQ(licence.find('\n'), std::string::npos) << "one line";
    EXPECT_EQ(meta, (MetaPairs{{"source", source},
                               {"trainer", "tavik-train/1.0.0"},
                               {"licence", licence},
                               {"date", date},
                               {"language_count", language_count}}));
}

// ------------------------------------------------------------------ tests

TEST(TrainerCli, UsageWithFewerThanTwoArguments) {
    TempDir tmp;
    const std::string usage = std::string("usage: ") + kTrainer +
                              " <corpus_dir> <out.tavik>\n"
                              "  corpus_dir/<iso639-2T>/*.txt\n";
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{}, std::vector<std::string>{tmp.path()}}) {
        const Outcome r = run_trainer(args);
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.err, usage);
        EXPECT_EQ(r.out, "");
    }
    EXPECT_TRUE(fs::is_empty(tmp.path()));
}

TEST(TrainerCli, CorpusThatCannotBeOpened) {
    TempDir tmp;
    write_file(tmp.file("plain"), "not a directory");
    const struct {
        std::string corpus;
        int err;
    } cases[] = {{tmp.file("missing"), ENOENT}, {tmp.file("plain"), ENOTDIR}};
    for (const auto &c : cases) {
        const Outcome r = run_trainer({c.corpus, tmp.file("out.tavik")});
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.err, c.corpus + ": " + std::strerror(c.err) + "\n");
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(fs::exists(tmp.file("out.tavik")));
    }
}

// Most corpus layouts: in the expected messages "{C}" stands for the corpus
// directory and "{O}" for the output path.  The output path holds an older
// file before every run; a failed run must leave it as it was.
TEST(TrainerCli, CorpusLayouts) {
    struct Ngram {
        const char *code, *text;
        bool present;
    };
    struct Case {
        const char *name;
        std::vector<Entry> corpus;
        int code;
        std::string err;
        std::vector<std::string> langs = {};        // written languages, in order
        std::vector<std::string> empty_langs = {};  // of those, the ones without n-grams
        std::string language_count = {};
        std::vector<Ngram> ngrams = {};
        std::string out = "out.tavik";  // below the temporary directory
    };
    const std::string kBad = "\xff";
    // 300 text files made in descending order: the 256 first by name are fed.
    std::vector<Entry> many_files;
    std::string many_files_err = "language eng\n";
    for (int i = 299; i >= 0; --i) {
        char name[32];
        std::snprintf(name, sizeof name, "eng/f%03d.txt", i);
        std::string word = "w" + std::to_string(i);
        for (char &c : word)
            if (c >= '0' && c <= '9') c = static_cast<char>('a' + (c - '0'));
        many_files.push_back(file(name, word));
    }
    for (int i = 0; i < 256; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "  feed {C}/eng/f%03d.txt\n", i);
        many_files_err += line;
    }
    many_files_err += "limit: 256 files a language, in {C}/eng; left out 44 (f256.txt .. "
                      "f299.txt)\nwrote {O} (1 languages)\n";
    const Case cases[] = {
        {"languages in byte order, files by name",
         {file("fra/b.txt", "le chat"), file("fra/a.txt", "la nuit"),
          file("deu/a.txt", "der hund")},
         0,
         "language deu\n  feed {C}/deu/a.txt\n"
         "language fra\n  feed {C}/fra/a.txt\n  feed {C}/fra/b.txt\n"
         "wrote {O} (2 languages)\n",
         {"deu", "fra"},
         {},
         "2",
         {{"fra", "chat", true}, {"fra", "nuit", true}, {"deu", "hund", true}}},
        {"codes and file names in byte order, whatever the listing",
         {file("zz/b.txt", "zb"), file("zz/a.txt", "za"), file("zz/B.txt", "zbb"),
          file("zz/ab.txt", "zab"), file("zz/a0.txt", "zan"), file("zz/\xc3\xa9.txt", "zee"),
          file("zz/_.txt", "zu"), file("zz/Z.txt", "zzz"), file("\xc3\xa9\xc3\xa9/a.txt", "ee"),
          file("aa/a.txt", "aa"), file("Ab/a.txt", "ab")},
         0,
         "language Ab\n  feed {C}/Ab/a.txt\nlanguage aa\n  feed {C}/aa/a.txt\n"
         "language zz\n  feed {C}/zz/B.txt\n  feed {C}/zz/Z.txt\n  feed {C}/zz/_.txt\n"
         "  feed {C}/zz/a.txt\n  feed {C}/zz/a0.txt\n  feed {C}/zz/ab.txt\n"
         "  feed {C}/zz/b.txt\n  feed {C}/zz/\xc3\xa9.txt\n"
         "language \xc3\xa9\xc3\xa9\n  feed {C}/\xc3\xa9\xc3\xa9/a.txt\n"
         "wrote {O} (4 languages)\n",
         {"Ab", "aa", "zz", "\xc3\xa9\xc3\xa9"},
         {},
         "4"},
        {"an empty corpus", {}, 1, "no languages trained\n"},
        {"entries that are no language directories",
         {file("eng", "a file"), file(".eng/a.txt", "hidden"), file("x/a.txt", "one byte"),
          file("abcdefgh/a.txt", "eight bytes"), file("deu.txt", "a file")},
         1,
         "no languages trained\n"},
        {"names of 2 and 7 bytes are languages",
         {file("ab/a.txt", "zwei"), file("abcdefg/a.txt", "sieben")},
         0,
         "language ab\n  feed {C}/ab/a.txt\nlanguage abcdefg\n  feed {C}/abcdefg/a.txt\n"
         "wrote {O} (2 languages)\n",
         {"ab", "abcdefg"},
         {},
         "2"},
        {"only regular files ending exactly in .txt",
         {file("eng/b.txt", "bravo"), file("eng/a.txt", "alpha"), file("eng/c.md", "cxq"),
          file("eng/.d.txt", "dxq"), file("eng/e.TXT", "exq"), file("eng/.txt", "zxq"),
          file("eng/f.txt.bak", "fxq"), dir("eng/g.txt")},
         0,
         "language eng\n  feed {C}/eng/a.txt\n  feed {C}/eng/b.txt\n"
         "skip {C}/eng/g.txt (not a regular file)\nwrote {O} (1 languages)\n",
         {"eng"},
         {},
         "1",
         {{"eng", "alpha", true},
          {"eng", "bravo", true},
          {"eng", "cxq", false},
          {"eng", "dxq", false},
          {"eng", "exq", false},
          {"eng", "zxq", false},
          {"eng", "fxq", false}}},
        {"a language of empty files is not written",
         {file("eng/a.txt", ""), file("eng/b.txt", "12 !?"), file("fra/a.txt", "bonjour")},
         0,
         "language eng\n  feed {C}/eng/a.txt\n  feed {C}/eng/b.txt\nskip eng (no usable text)\n"
         "language fra\n  feed {C}/fra/a.txt\nwrote {O} (1 languages)\n",
         {"fra"},
         {},
         "1"},
        {"files that are not UTF-8 are skipped with the reason, the others fed",
         {file("eng/a.txt", "good words"), file("eng/b.txt", std::string("bef\0aft", 7)),
          file("eng/c.txt", "\xff\xfeh\0i\0"s), file("eng/d.txt", "\xfe\xff\0h\0i"s),
          file("eng/e.txt", std::string("\0abc", 4)), file("eng/f.txt", "caf\xe9 au lait\n"),
          file("eng/g.txt", "cut \xc3"),
          file("eng/h.txt", "\xef\xbb\xbf"
                            "bom kept")},
         0,
         "language eng\n  feed {C}/eng/a.txt\n"
         "  feed {C}/eng/b.txt\nskip {C}/eng/b.txt (NUL byte at byte 3)\n"
         "  feed {C}/eng/c.txt\nskip {C}/eng/c.txt (UTF-16 byte-order mark; UTF-8 is needed)\n"
         "  feed {C}/eng/d.txt\nskip {C}/eng/d.txt (UTF-16 byte-order mark; UTF-8 is needed)\n"
         "  feed {C}/eng/e.txt\nskip {C}/eng/e.txt (NUL byte at byte 0)\n"
         "  feed {C}/eng/f.txt\nskip {C}/eng/f.txt (malformed UTF-8 at byte 3)\n"
         "  feed {C}/eng/g.txt\nskip {C}/eng/g.txt (malformed UTF-8 at byte 4)\n"
         "  feed {C}/eng/h.txt\nwrote {O} (1 languages)\n",
         {"eng"},
         {},
         "1",
         {{"eng", "good", true},
          {"eng", "bef", false},
          {"eng", "lait", false},
          {"eng", "cut", false},
          {"eng", "kept", true}}},
        {"one malformed byte in a language of five does not empty it",
         {file("deu/a.txt", "der hund"), file("eng/a.txt", "the dog"),
          file("eng/z.txt", "caf\xe9 au lait\n"), file("fra/a.txt", "le chien"),
          file("ita/a.txt", "il cane"), file("spa/a.txt", "el perro")},
         0,
         "language deu\n  feed {C}/deu/a.txt\nlanguage eng\n  feed {C}/eng/a.txt\n"
         "  feed {C}/eng/z.txt\nskip {C}/eng/z.txt (malformed UTF-8 at byte 3)\n"
         "language fra\n  feed {C}/fra/a.txt\nlanguage ita\n  feed {C}/ita/a.txt\n"
         "language spa\n  feed {C}/spa/a.txt\nwrote {O} (5 languages)\n",
         {"deu", "eng", "fra", "ita", "spa"},
         {},
         "5",
         {{"eng", "dog", true}}},
        {"the same byte in the last language loses nothing else",
         {file("deu/a.txt", "der hund"), file("eng/a.txt", "caf\xe9")},
         0,
         "language deu\n  feed {C}/deu/a.txt\nlanguage eng\n  feed {C}/eng/a.txt\n"
         "skip {C}/eng/a.txt (malformed UTF-8 at byte 3)\nskip eng (no usable text)\n"
         "wrote {O} (1 languages)\n",
         {"deu"},
         {},
         "1"},
        {"a file of the size limit is read, one byte more is not",
         {sparse("eng/a.txt", kMaxFileBytes), sparse("eng/b.txt", kMaxFileBytes + 1),
          file("eng/c.txt", "hello")},
         0,
         "language eng\n  feed {C}/eng/a.txt\nskip {C}/eng/a.txt (NUL byte at byte 0)\n"
         "  feed {C}/eng/b.txt\nskip {C}/eng/b.txt (too large: 52428801 bytes, limit 52428800)\n"
         "  feed {C}/eng/c.txt\nwrote {O} (1 languages)\n",
         {"eng"},
         {},
         "1",
         {{"eng", "hello", true}}},
        {"a language whose only file is too large is not written",
         {sparse("eng/a.txt", 52513000)},
         1,
         "language eng\n  feed {C}/eng/a.txt\n"
         "skip {C}/eng/a.txt (too large: 52513000 bytes, limit 52428800)\n"
         "skip eng (no usable text)\nno languages trained\n"},
        {"a language without usable files is not written",
         {file("eng/notes.md", "not text"), file("fra/a.txt", "bonjour")},
         0,
         "language eng\nskip eng (no usable text)\nlanguage fra\n  feed {C}/fra/a.txt\n"
         "wrote {O} (1 languages)\n",
         {"fra"},
         {},
         "1"},
        {"no language with usable files",
         {dir("eng"), file("fra/a.md", "bonjour")},
         1,
         "language eng\nskip eng (no usable text)\nlanguage fra\nskip fra (no usable text)\n"
         "no languages trained\n"},
        {"no usable text at all",
         {file("eng/a.txt", "broken " + kBad)},
         1,
         "language eng\n  feed {C}/eng/a.txt\nskip {C}/eng/a.txt (malformed UTF-8 at byte 7)\n"
         "skip eng (no usable text)\nno languages trained\n"},
        {"at most 256 files a language, the first by name, with a warning",
         many_files,
         0,
         many_files_err,
         {"eng"},
         {},
         "1",
         {{"eng", "wcff", true}, {"eng", "wcfg", false}}},
        {"the output's folder is missing: nothing is trained",
         {file("eng/a.txt", "text")},
         1,
         "cannot write {O} (folder {T}/missing: no such file or directory)\n",
         {},
         {},
         {},
         {},
         "missing/out.tavik"},
        {"the output's folder is a file",
         {file("eng/a.txt", "text"), file("../plain", "a file")},
         1,
         "cannot write {O} (folder {T}/plain: not a directory)\n",
         {},
         {},
         {},
         {},
         "plain/out.tavik"},
    };
    const std::string kPrevious = "an older profile";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir tmp;
        const std::string corpus = tmp.file("corpus"), out = tmp.file(c.out);
        make_corpus(corpus, c.corpus);
        const bool out_dir_exists = fs::is_directory(fs::path(out).parent_path());
        if (out_dir_exists) write_file(out, kPrevious);

        const Outcome r = run_trainer({corpus, out});
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.err, replace_all(replace_all(replace_all(c.err, "{C}", corpus), "{O}", out),
                                     "{T}", tmp.path()));
        EXPECT_EQ(r.out, "");
        if (c.code != 0) {
            if (out_dir_exists) {
                EXPECT_EQ(read_file(out), kPrevious);
            }
            EXPECT_EQ(fs::exists(out), out_dir_exists);
            continue;
        }
        const tavik_profile *p = load_written(out);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->max_ngram_length, 5);
        EXPECT_EQ(p->max_distribution, 4000);
        EXPECT_EQ(p->occurance_threshold, 0);
        EXPECT_EQ(codes_of(*p), c.langs);
        for (const std::string &code : c.langs) {
            const tavik_lang *lang = find_lang(*p, code);
            if (lang == nullptr) continue;  // reported with the codes above
            const bool empty = std::ranges::count(c.empty_langs, code) != 0;
            EXPECT_EQ(lang->ngrams.count == 0, empty) << code;
        }
        for (const Ngram &n : c.ngrams) {
            const tavik_lang *lang = find_lang(*p, n.code);
            ASSERT_NE(lang, nullptr) << n.code;
            EXPECT_EQ(tavik_lang_lookup_rank(lang, n.text) > 0, n.present) << n.text;
        }
        expect_meta(*p, corpus, "unset", c.language_count);
    }
}

// An output path that is a directory is refused before training; a write
// that fails midway (the file size limit, whose signal the trainer ignores)
// names the system's reason and leaves no temporary file.
TEST(TrainerCli, OutputThatCannotBeWritten) {
    TempDir tmp;
    const std::string corpus = tmp.file("corpus"), out_dir = tmp.file("out");
    std::string words;
    for (int i = 0; i < 2000; ++i) words += "w" + std::to_string(i * 7919) + "x ";
    for (char &c : words)
        if (c >= '0' && c <= '9') c = static_cast<char>('a' + (c - '0'));
    make_corpus(corpus, {file("eng/a.txt", words)});
    fs::create_directories(out_dir + "/p.tavik/kept");

    const Outcome dir = run_trainer({corpus, out_dir + "/p.tavik"});
    EXPECT_EQ(dir.code, 1);
    EXPECT_EQ(dir.err, "cannot write " + out_dir + "/p.tavik (is a directory)\n");

    const std::string out = out_dir + "/q.tavik";
    const Outcome big = tavik_test::run_program(
        "/bin/sh", {"-c", "ulimit -f 8 && exec \"$0\" \"$1\" \"$2\"", kTrainer, corpus, out});
    EXPECT_EQ(big.code, 1);
    EXPECT_EQ(big.err, "language eng\n  feed " + corpus +
                           "/eng/a.txt\nwrite failed: " + reason_of_errno(EFBIG) + "\n");
    std::vector<std::string> left;
    for (const auto &e : fs::directory_iterator(out_dir)) left.push_back(e.path().string());
    EXPECT_EQ(left, std::vector<std::string>{out_dir + "/p.tavik"});
    EXPECT_TRUE(fs::is_directory(out_dir + "/p.tavik/kept"));
}

// Temporary files of the same output left by trainers that died are removed
// before training; those of a running process and other names stay.
TEST(TrainerCli, StaleTemporaryFilesAreRemoved) {
    TempDir tmp;
    const std::string corpus = tmp.file("corpus"), out = tmp.file("out.tavik");
    make_corpus(corpus, {file("eng/a.txt", "text")});
    const pid_t dead = ::fork();
    if (dead == 0) ::_exit(0);
    ASSERT_GT(dead, 0);
    tavik_test::wait_exit_code(dead);
    const std::string stale = out + ".tmp-" + std::to_string(dead) + "-0";
    const std::vector<std::string> kept = {
        out + ".tmp-1-0", out + ".tmp-x-0", out + ".tmp-",
        tmp.file("other.tavik.tmp-" + std::to_string(dead) + "-0")};
    write_file(stale, "partial");
    for (const std::string &k : kept) write_file(k, "kept");
    const Outcome r = run_trainer({corpus, out});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "removed stale " + stale + "\nlanguage eng\n  feed " + corpus +
                         "/eng/a.txt\nwrote " + out + " (1 languages)\n");
    EXPECT_FALSE(fs::exists(stale));
    for (const std::string &k : kept) EXPECT_TRUE(fs::exists(k)) << k;
}

// Without --licence the profile says the corpus's licence was not stated;
// with it, the text given.  Options may come before, between or after the
// two paths.
TEST(TrainerCli, LicenceOption) {
    TempDir tmp;
    const std::string corpus = tmp.file("corpus"), out = tmp.file("out.tavik");
    make_corpus(corpus, {file("eng/a.txt", "text")});
    const struct {
        std::vector<std::string> args;
        std::string licence;
    } cases[] = {
        {{corpus, out},
         "not stated: the licence and provenance of the training corpus were not given"},
        {{"--licence", "CC0-1.0, my own texts", corpus, out}, "CC0-1.0, my own texts"},
        {{corpus, "--licence", "between", out}, "between"},
        {{corpus, out, "--licence", "after"}, "after"},
        {{"--licence", "", "--", corpus, out}, ""},
        {{"--licence=CC0-1.0", corpus, out}, "CC0-1.0"},
        {{corpus, "--licence=a=b", out}, "a=b"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.licence);
        const Outcome r = run_trainer(c.args);
        ASSERT_EQ(r.code, 0) << r.err;
        const tavik_profile *p = load_written(out);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(meta_of(*p)[2], (std::pair<std::string, std::string>{"licence", c.licence}));
    }
}

TEST(TrainerCli, OptionErrorsAndHelp) {
    TempDir tmp;
    const std::string usage = std::string("usage: ") + kTrainer +
                              " <corpus_dir> <out.tavik>\n  corpus_dir/<iso639-2T>/*.txt\n";
    const struct {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{"--licnce", "x", tmp.path(), tmp.file("o")},
         "tavik-train: unknown option --licnce\n" + usage},
        {{tmp.path(), tmp.file("o"), "--licence"},
         "tavik-train: missing text after --licence\n" + usage},
        {{"--licence", "two\nlines", tmp.path(), tmp.file("o")},
         "tavik-train: --licence takes one line of at most 65535 bytes\n"},
        {{"-x", tmp.path(), tmp.file("o")}, "tavik-train: unknown option -x\n" + usage},
        {{"--nfc=1", tmp.path(), tmp.file("o")}, "tavik-train: --nfc takes no value\n" + usage},
        {{"--licen", "x", tmp.path(), tmp.file("o")},
         "tavik-train: unknown option --licen\n" + usage},
    };
    for (const auto &c : cases) {
        const Outcome r = run_trainer(c.args);
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
    }
    const Outcome help = run_trainer({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_EQ(help.err, "");
    EXPECT_NE(help.out.find("Limits: 64 languages, 256 files a language, 52428800 bytes"),
              std::string::npos)
        << help.out;
    EXPECT_NE(help.out.find("--follow-links"), std::string::npos);
    EXPECT_EQ(run_trainer({"-h"}).out, help.out);
    EXPECT_EQ(run_trainer({tmp.path(), "--help", tmp.file("o")}).out, help.out);
    for (const char *version : {"--version", "-V"}) {
        const Outcome v = run_trainer({version});
        EXPECT_EQ(v.code, 0);
        EXPECT_EQ(v.out, std::string("tavik-train ") + tavik_version() + "\n");
    }
    EXPECT_TRUE(fs::is_empty(tmp.path()));
}

TEST(TrainerCli, DateFromTheEnvironment) {
    const std::string long_date(100, '7');
    const struct {
        const char *name;
        std::vector<std::string> env;
        std::string date;
    } cases[] = {
        {"neither variable", {}, "unset"},
        {"TAVIK_TRAIN_DATE", {"TAVIK_TRAIN_DATE=2024-05-01"}, "2024-05-01"},
        {"TAVIK_TRAIN_DATE wins",
         {"TAVIK_TRAIN_DATE=2024-05-01", "SOURCE_DATE_EPOCH=1700000000"},
         "2024-05-01"},
        {"SOURCE_DATE_EPOCH as it is", {"SOURCE_DATE_EPOCH=0001700000000"}, "0001700000000"},
        {"empty TAVIK_TRAIN_DATE", {"TAVIK_TRAIN_DATE=", "SOURCE_DATE_EPOCH=1700000000"}, "unset"},
        {"empty SOURCE_DATE_EPOCH", {"SOURCE_DATE_EPOCH="}, "unset"},
        {"cut to 63 bytes", {"TAVIK_TRAIN_DATE=" + long_date}, long_date.substr(0, 63)},
    };
    TempDir tmp;
    const std::string corpus = tmp.file("corpus"), out = tmp.file("out.tavik");
    make_corpus(corpus, {file("eng/a.txt", "text")});
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome r = run_trainer({corpus, out}, c.env);
        ASSERT_EQ(r.code, 0) << r.err;
        const tavik_profile *p = load_written(out);
        ASSERT_NE(p, nullptr);
        expect_meta(*p, corpus, c.date, "1");
    }
}

// The profile is what training through the library gives for the same
// texts, and it does not depend on the order in which the corpus was made
// (and so, as far as the file system lets that show, on listing order).
TEST(TrainerCli, ProfileIsTheLibrarysAndDeterministic) {
    const std::vector<Entry> entries = {
        file("nld/1.txt", "de kat zit op de mat en de hond ligt in de mand"),
        file("nld/2.txt", "het is een mooie dag voor een wandeling"),
        file("deu/a.txt", "die Katze sitzt auf der Matte und der Hund liegt im Korb"),
        file("deu/b.txt", "über Äpfel und Öl"),
        dir("ell"),
        file("ell/a.txt", "η γάτα κάθεται"),
        file("deu/c.txt", "zehn zahme Ziegen")};
    TempDir tmp;
    const std::string corpus = tmp.file("corpus"), out = tmp.file("out.tavik");
    const std::vector<std::string> env{"TAVIK_TRAIN_DATE=2024-05-01"};
    make_corpus(corpus, entries);
    const Outcome first = run_trainer({corpus, out, "ignored"}, env);
    ASSERT_EQ(first.code, 0) << first.err;
    const std::string bytes = read_file(out);

    fs::remove_all(corpus);
    make_corpus(corpus, std::vector<Entry>(entries.rbegin(), entries.rend()));
    const Outcome second = run_trainer({corpus, out}, env);
    ASSERT_EQ(second.code, 0) << second.err;
    EXPECT_EQ(second.err, first.err);
    EXPECT_EQ(read_file(out), bytes);

    const tavik_profile *p = load_written(out);
    ASSERT_NE(p, nullptr);
    const std::string licence = p->meta[2].value;
    tavik_train_reset();
    tavik_train_set_meta("source", corpus.c_str());
    tavik_train_set_meta("trainer", "tavik-train/1.0.0");
    tavik_train_set_meta("licence", licence.c_str());
    tavik_train_set_meta("date", "2024-05-01");
    const std::vector<std::pair<const char *, std::vector<const char *>>> texts = {
        {"deu", {"deu/a.txt", "deu/b.txt", "deu/c.txt"}},
        {"ell", {"ell/a.txt"}},
        {"nld", {"nld/1.txt", "nld/2.txt"}}};
    for (const auto &[code, files] : texts) {
        ASSERT_EQ(tavik_train_begin(code), TAVIK_OK);
        for (const char *f : files)
            ASSERT_EQ(tavik_train_feed(read_file(corpus + "/" + f).c_str()), TAVIK_OK);
        ASSERT_EQ(tavik_train_end_language(), TAVIK_OK);
    }
    tavik_train_set_meta("language_count", "3");
    const std::string expected = tmp.file("expected.tavik");
    ASSERT_EQ(tavik_train_write_profile(expected.c_str()), TAVIK_OK);
    EXPECT_EQ(bytes, read_file(expected));
    tavik_train_reset();
}

// The options declare the text model in the profile, which then cuts the
// training text by it; an unknown value or option writes nothing.
TEST(TrainerCli, TextModelOptions) {
    TempDir tmp;
    const std::string corpus = tmp.file("corpus"), out = tmp.file("out.tavik");
    make_corpus(corpus, {file("hin/a.txt", "\u0939\u093F\u0928\u094D\u0926\u0940"),
                         file("vie/a.txt", "VIE\u0323\u0302T")});
    const Outcome r = run_trainer({"--letters", "unicode", "--fold-case", "--nfc", corpus, out});
    ASSERT_EQ(r.code, 0) << r.err;
    const tavik_profile *p = load_written(out);
    ASSERT_NE(p, nullptr);
    const MetaPairs meta = meta_of(*p);
    ASSERT_EQ(meta.size(), 8u);
    EXPECT_EQ(MetaPairs(meta.begin() + 4, meta.end()), (MetaPairs{{"tavik.letters", "unicode"},
                                                                  {"tavik.case", "fold"},
                                                                  {"tavik.normalize", "nfc"},
                                                                  {"language_count", "2"}}));
    EXPECT_EQ(
        tavik_lang_lookup_rank(find_lang(*p, "hin"), "_\u0939\u093F\u0928\u094D\u0926\u0940_"), 0)
        << "longer than the longest n-gram";
    EXPECT_GT(tavik_lang_lookup_rank(find_lang(*p, "hin"), "\u0928\u094D\u0926"), 0);
    EXPECT_GT(tavik_lang_lookup_rank(find_lang(*p, "vie"), "_vi\u1EC7t"), 0);
    tavik_free_profile();

    const struct {
        std::vector<std::string> args;
        std::string err;
    } refused[] = {
        {{"--letters", "latin", corpus, tmp.file("a.tavik")}, "unknown --letters value: latin\n"},
        {{"--fold", corpus, tmp.file("b.tavik")}, "tavik-train: unknown option --fold\n"}};
    for (const auto &c : refused) {
        const Outcome bad = run_trainer(c.args);
        EXPECT_EQ(bad.code, 1);
        EXPECT_EQ(bad.err.substr(0, c.err.size()), c.err);
        EXPECT_FALSE(fs::exists(c.args[c.args.size() - 1]));
    }
}

// --ngrams cuts every language's ranked list and is stored as the profile's
// max_distribution; a value out of range or not a number writes nothing.
TEST(TrainerCli, NgramsOption) {
    TempDir tmp;
    const std::string corpus = tmp.file("corpus"), out = tmp.file("out.tavik");
    make_corpus(corpus, {file("deu/a.txt", "der schnelle braune Fuchs springt weit")});
    const Outcome r = run_trainer({"--ngrams", "10", corpus, out});
    ASSERT_EQ(r.code, 0) << r.err;
    const tavik_profile *p = load_written(out);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->max_distribution, 10);
    EXPECT_EQ(find_lang(*p, "deu")->ngrams.count, 10u);
    tavik_free_profile();

    const std::string range = "tavik-train: --ngrams takes a number from 1 to 1000000, not ";
    const struct {
        std::vector<std::string> args;
        std::string err;
    } refused[] = {
        {{"--ngrams", "0", corpus, tmp.file("a.tavik")}, range + "\"0\"\n"},
        {{"--ngrams", "12x", corpus, tmp.file("b.tavik")}, range + "\"12x\"\n"},
        {{"--ngrams", "1000001", corpus, tmp.file("c.tavik")}, range + "\"1000001\"\n"},
        {{corpus, tmp.file("d.tavik"), "--ngrams"}, "tavik-train: missing value after --ngrams\n"},
    };
    for (const auto &c : refused) {
        const Outcome bad = run_trainer(c.args);
        EXPECT_EQ(bad.code, 1);
        EXPECT_EQ(bad.err.substr(0, c.err.size()), c.err);
        EXPECT_FALSE(fs::exists(c.args[0] == corpus ? c.args[1] : c.args[3]));
    }
}

// 200 language folders made in descending order: the 64 first by name are
// trained (only they hold text, so taking any others would show), and a
// warning names what was left out.
TEST(TrainerCli, AtMostSixtyFourLanguages) {
    TempDir tmp;
    const std::string corpus = tmp.file("corpus"), out = tmp.file("out.tavik");
    fs::create_directories(corpus);
    for (int i = 199; i >= 0; --i) {
        char code[8];
        std::snprintf(code, sizeof code, "l%04d", i);
        fs::create_directory(corpus + "/" + code);
        if (i < 64) write_file(corpus + "/" + code + "/a.txt", "word " + std::string(code));
    }
    const Outcome r = run_trainer({corpus, out});
    ASSERT_EQ(r.code, 0) << r.err.substr(0, 2000);
    std::string expected_err = "limit: 64 languages; left out 136 (l0064 .. l0199)\n";
    std::vector<std::string> codes;
    for (int i = 0; i < 64; ++i) {
        char code[8];
        std::snprintf(code, sizeof code, "l%04d", i);
        codes.emplace_back(code);
        expected_err += "language " + codes.back() + "\n  feed " + corpus + "/" + code + "/a.txt\n";
    }
    EXPECT_EQ(r.err, expected_err + "wrote " + out + " (64 languages)\n");
    const tavik_profile *p = load_written(out);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(codes_of(*p), codes);
    expect_meta(*p, corpus, "unset", "64");
}

// Permissions bind only an unprivileged process: as root the trainer runs
// as "nobody" here.
TEST(TrainerCli, UnreadableFileAndDirectory) {
    TempDir tmp;
    const std::string corpus = tmp.file("corpus"), out_dir = tmp.file("out");
    const std::string out = out_dir + "/out.tavik";
    make_corpus(corpus,
                {file("eng/a.txt", "lock"), file("eng/b.txt", "open"), file("fra/a.txt", "ferme")});
    fs::create_directories(out_dir);
    fs::permissions(tmp.path(), fs::perms::owner_all | fs::perms::others_read |
                                    fs::perms::others_exec | fs::perms::group_read |
                                    fs::perms::group_exec);
    fs::permissions(out_dir, fs::perms::all);
    fs::permissions(corpus + "/eng/a.txt", fs::perms::none);
    fs::permissions(corpus + "/fra", fs::perms::none);

    const Outcome r = run_trainer({corpus, out}, {}, true);
    ASSERT_NE(r.code, 126) << "cannot run as nobody";
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, replace_all(replace_all("language eng\n  feed {C}/eng/a.txt\n"
                                             "skip {C}/eng/a.txt (permission denied)\n"
                                             "  feed {C}/eng/b.txt\n"
                                             "language fra\nskip {C}/fra (permission denied)\n"
                                             "wrote {O} (1 languages)\n",
                                             "{C}", corpus),
                                 "{O}", out));
    const tavik_profile *p = load_written(out);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(codes_of(*p), std::vector<std::string>{"eng"});
    EXPECT_GT(tavik_lang_lookup_rank(&p->langs[0], "open"), 0);
    EXPECT_EQ(tavik_lang_lookup_rank(&p->langs[0], "lock"), 0);

    // An output folder the trainer may not write to stops it before training.
    const std::string locked = tmp.file("locked");
    fs::create_directories(locked);
    fs::permissions(locked, fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    const Outcome denied = run_trainer({corpus, locked + "/out.tavik"}, {}, true);
    EXPECT_EQ(denied.code, 1);
    EXPECT_EQ(denied.err,
              "cannot write " + locked + "/out.tavik (folder " + locked + ": permission denied)\n");
}

// Directory descriptors for building entries whose paths are too long to name.
class DirFd {
public:
    DirFd(int at, const char *name) : fd_(::openat(at, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
    ~DirFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    DirFd(const DirFd &) = delete;
    DirFd &operator=(const DirFd &) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

void write_at(int dir_fd, const char *name, const std::string &bytes) {
    const int fd = ::openat(dir_fd, name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << name;
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

// A path that does not fit the trainer's 4096-byte buffers is reported
// with its cut form and never used: cut, these paths would name the other
// language directory "abcdef" and the file "ab", which must not be read.
TEST(TrainerCli, PathsTooLongAreReportedNotCut) {
    TempDir tmp;
    constexpr size_t kCorpusLength = 4088;  // "/abcdefg" makes 4096 bytes, one too many
    std::string corpus = tmp.path();
    while (corpus.size() < kCorpusLength) {
        const size_t room = kCorpusLength - corpus.size() - 1;
        size_t n = std::min<size_t>(room, 200);
        if (room - n == 1) --n;
        corpus += "/" + std::string(n, 'd');
        ASSERT_EQ(::mkdir(corpus.c_str(), 0755), 0) << std::strerror(errno);
    }
    ASSERT_EQ(corpus.size(), kCorpusLength);
    const DirFd root(AT_FDCWD, corpus.c_str());
    ASSERT_GE(root.get(), 0);
    for (const char *name : {"abcdef", "abcdefg", "eng"})
        ASSERT_EQ(::mkdirat(root.get(), name, 0755), 0) << name;
    const DirFd eng(root.get(), "eng");
    ASSERT_GE(eng.get(), 0);
    write_at(eng.get(), "ab.txt", "wanted");
    write_at(eng.get(), "ab", "unwanted");

    const std::string out = tmp.file("out.tavik");
    const Outcome r = run_trainer({corpus, out});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, replace_all("language abcdef\nskip abcdef (no usable text)\n"
                                 "language abcdefg\nskip {C}/abcdef (path too long)\n"
                                 "language eng\nskip {C}/eng/ab (path too long)\n"
                                 "skip eng (no usable text)\nno languages trained\n",
                                 "{C}", corpus));
    EXPECT_FALSE(fs::exists(out));

    // The temporary directory's own removal works with whole paths, which
    // are too long down here.
    ::unlinkat(eng.get(), "ab.txt", 0);
    ::unlinkat(eng.get(), "ab", 0);
    for (const char *name : {"abcdef", "abcdefg", "eng"})
        ::unlinkat(root.get(), name, AT_REMOVEDIR);
}

}  // namespace
