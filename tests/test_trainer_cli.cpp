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
    const std::string usage =
        std::string("usage: ") + kTrainer +
        " [--letters designed|unicode] [--fold-case] [--nfc] <corpus_dir> <out.tavik>\n"
        "  corpus_dir/<iso639-2T>/*.txt\n"
        "  --letters unicode  letters are every code point of category L or M\n"
        "  --fold-case        fold letters by Unicode simple case folding\n"
        "  --nfc              bring texts to NFC first\n";
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
         "language eng\n  feed {C}/eng/a.txt\n  feed {C}/eng/b.txt\nwrote {O} (1 languages)\n",
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
        {"an empty file is fed as an empty text",
         {file("eng/a.txt", "")},
         0,
         "language eng\n  feed {C}/eng/a.txt\nwrote {O} (1 languages)\n",
         {"eng"},
         {"eng"},
         "1"},
        {"a file is fed up to its first NUL byte",
         {file("eng/a.txt", std::string("bef\0aft", 7))},
         0,
         "language eng\n  feed {C}/eng/a.txt\nwrote {O} (1 languages)\n",
         {"eng"},
         {},
         "1",
         {{"eng", "bef", true}, {"eng", "aft", false}}},
        {"a file of the size limit is fed, one byte more is not",
         {sparse("eng/a.txt", kMaxFileBytes), sparse("eng/b.txt", kMaxFileBytes + 1),
          file("eng/c.txt", "hello")},
         0,
         "language eng\n  feed {C}/eng/a.txt\n  feed {C}/eng/b.txt\nfeed failed {C}/eng/b.txt\n"
         "  feed {C}/eng/c.txt\nwrote {O} (1 languages)\n",
         {"eng"},
         {},
         "1",
         {{"eng", "hello", true}}},
        {"a language without usable files is written but not counted",
         {file("eng/notes.md", "not text"), file("fra/a.txt", "bonjour")},
         0,
         "language eng\nno txt in {C}/eng\nlanguage fra\n  feed {C}/fra/a.txt\n"
         "wrote {O} (1 languages)\n",
         {"eng", "fra"},
         {"eng"},
         "1"},
        {"no language with usable files",
         {dir("eng"), file("fra/a.md", "bonjour")},
         1,
         "language eng\nno txt in {C}/eng\nlanguage fra\nno txt in {C}/fra\n"
         "no languages trained\n"},
        {"no language can be ended",
         {file("eng/a.txt", "broken " + kBad)},
         1,
         "language eng\n  feed {C}/eng/a.txt\nno languages trained\n"},
        {"a language that cannot be ended is written without n-grams",
         {file("aaa/a.txt", "cut \xc3"), file("deu/a.txt", "der hund")},
         0,
         "language aaa\n  feed {C}/aaa/a.txt\nlanguage deu\n  feed {C}/deu/a.txt\n"
         "wrote {O} (1 languages)\n",
         {"aaa", "deu"},
         {"aaa"},
         "1"},
        {"the last language cannot be ended, so the write fails",
         {file("deu/a.txt", "der hund"), file("eng/a.txt", kBad)},
         1,
         "language deu\n  feed {C}/deu/a.txt\nlanguage eng\n  feed {C}/eng/a.txt\nwrite failed\n"},
        {"the output cannot be created",
         {file("eng/a.txt", "text")},
         1,
         "language eng\n  feed {C}/eng/a.txt\nwrite failed\n",
         {},
         {},
         {},
         {},
         "missing/out.tavik"},
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
        EXPECT_EQ(r.err, replace_all(replace_all(c.err, "{C}", corpus), "{O}", out));
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

// A write that fails after the profile was written out (the output path is a
// directory, so the final rename fails) leaves no file behind.
TEST(TrainerCli, FailedWriteLeavesNothingBehind) {
    TempDir tmp;
    const std::string corpus = tmp.file("corpus"), out_dir = tmp.file("out");
    const std::string out = out_dir + "/p.tavik";
    make_corpus(corpus, {file("eng/a.txt", "text")});
    fs::create_directories(out + "/kept");
    const Outcome r = run_trainer({corpus, out});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "language eng\n  feed " + corpus + "/eng/a.txt\nwrite failed\n");
    std::vector<std::string> left;
    for (const auto &e : fs::directory_iterator(out_dir)) left.push_back(e.path().string());
    EXPECT_EQ(left, std::vector<std::string>{out});
    EXPECT_TRUE(fs::is_directory(out + "/kept"));
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
        {{"--fold", corpus, tmp.file("b.tavik")}, "unknown option: --fold\n"}};
    for (const auto &c : refused) {
        const Outcome bad = run_trainer(c.args);
        EXPECT_EQ(bad.code, 1);
        EXPECT_EQ(bad.err.substr(0, c.err.size()), c.err);
        EXPECT_FALSE(fs::exists(c.args[c.args.size() - 1]));
    }
}

TEST(TrainerCli, AtMostSixtyFourLanguages) {
    TempDir tmp;
    const std::string corpus = tmp.file("corpus"), out = tmp.file("out.tavik");
    std::vector<Entry> entries;
    std::set<std::string> all;
    for (int i = 0; i < 70; ++i) {
        const std::string code = "l" + std::to_string(100 + i);
        all.insert(code);
        entries.push_back(file(code + "/a.txt", "word " + code));
    }
    make_corpus(corpus, entries);
    const Outcome r = run_trainer({corpus, out});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(r.err.ends_with("wrote " + out + " (64 languages)\n")) << r.err;
    const tavik_profile *p = load_written(out);
    ASSERT_NE(p, nullptr);
    const std::vector<std::string> codes = codes_of(*p);
    ASSERT_EQ(codes.size(), 64u);
    EXPECT_TRUE(std::ranges::is_sorted(codes));
    EXPECT_EQ(std::set<std::string>(codes.begin(), codes.end()).size(), 64u);
    for (const std::string &code : codes) EXPECT_TRUE(all.contains(code)) << code;
    std::string expected_err;
    for (const std::string &code : codes)
        expected_err += "language " + code + "\n  feed " + corpus + "/" + code + "/a.txt\n";
    EXPECT_EQ(r.err, expected_err + "wrote " + out + " (64 languages)\n");
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
                                             "cannot open {C}/eng/a.txt\n"
                                             "feed failed {C}/eng/a.txt\n"
                                             "  feed {C}/eng/b.txt\n"
                                             "language fra\nskip {C}/fra (no dir)\n"
                                             "wrote {O} (1 languages)\n",
                                             "{C}", corpus),
                                 "{O}", out));
    const tavik_profile *p = load_written(out);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(codes_of(*p), std::vector<std::string>{"eng"});
    EXPECT_GT(tavik_lang_lookup_rank(&p->langs[0], "open"), 0);
    EXPECT_EQ(tavik_lang_lookup_rank(&p->langs[0], "lock"), 0);
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
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, replace_all(replace_all("language abcdef\nno txt in {C}/abcdef\n"
                                             "language abcdefg\nskip {C}/abcdef (no dir)\n"
                                             "language eng\n  feed {C}/eng/ab\n"
                                             "feed failed {C}/eng/ab\n"
                                             "wrote {O} (1 languages)\n",
                                             "{C}", corpus),
                                 "{O}", out));
    const tavik_profile *p = load_written(out);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(codes_of(*p), (std::vector<std::string>{"abcdef", "eng"}));
    EXPECT_EQ(p->langs[1].ngrams.count, 0u);
    expect_meta(*p, corpus, "unset", "1");

    // The temporary directory's own removal works with whole paths, which
    // are too long down here.
    ::unlinkat(eng.get(), "ab.txt", 0);
    ::unlinkat(eng.get(), "ab", 0);
    for (const char *name : {"abcdef", "abcdefg", "eng"})
        ::unlinkat(root.get(), name, AT_REMOVEDIR);
}

}  // namespace
