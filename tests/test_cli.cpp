// SPDX-License-Identifier: MIT
// test_cli.cpp - the tavik program end to end: it runs the built program
// against a small profile trained here from the texts below and compares
// standard output with the files in tests/golden/, standard error and the
// exit code exactly.
//
// After an intended change of the output, run this program with
// TAVIK_UPDATE_GOLDEN=1 to rewrite the golden files, and review their diff.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

#include "testutil.h"

using tavik_test::read_file;
using tavik_test::run_program;
using tavik_test::RunResult;
using tavik_test::TempDir;
using tavik_test::write_file;

namespace {

constexpr const char *kTavik = TAVIK_BINARY_DIR "/tavik";
constexpr const char *kGolden = TAVIK_SOURCE_DIR "/tests/golden/";

// ---------------------------------------------------------------- profile

struct Sample {
    const char *code;
    const char *text;
};

constexpr Sample kSamples[] = {
    {"eng", "The weather was cold and grey when the children walked home from school. "
            "They talked about the long winter, the snow on the hills and the old house "
            "that stood at the end of their street. Nobody knew who lived there, but "
            "everyone had a story about it, and the stories grew stranger every year."},
    {"deu", "Das Wetter war kalt und grau, als die Kinder von der Schule nach Hause gingen. "
            "Sie sprachen über den langen Winter, den Schnee auf den Hügeln und das alte "
            "Haus, das am Ende ihrer Straße stand. Niemand wusste, wer dort wohnte, aber "
            "jeder hatte eine Geschichte darüber, und die Geschichten wurden jedes Jahr "
            "seltsamer."},
    {"fra", "Le temps était froid et gris quand les enfants rentraient de l'école. Ils "
            "parlaient du long hiver, de la neige sur les collines et de la vieille maison "
            "qui se trouvait au bout de leur rue. Personne ne savait qui habitait là, mais "
            "chacun avait une histoire à son sujet, et les histoires devenaient plus "
            "étranges chaque année."},
};

constexpr const char *kEnglish =
    "Nobody in the street knew who lived in the old house, but the children had many stories";
constexpr const char *kGerman =
    "Niemand in der Straße wusste, wer in dem alten Haus wohnte, aber die Kinder hatten "
    "viele Geschichten";
constexpr const char *kFrench =
    "Personne dans la rue ne savait qui habitait la vieille maison, mais les enfants "
    "avaient beaucoup d'histoires";

// Trains the profile once per test process (every test runs in a process
// of its own) into a temporary directory that lives as long as the process.
const std::string &profile_path() {
    static TempDir dir;
    static const std::string path = [] {
        const std::string p = dir.file("cli.tavik");
        tavik_train_reset();
        EXPECT_EQ(tavik_train_set_meta("source", "tests/test_cli.cpp"), TAVIK_OK);
        EXPECT_EQ(tavik_train_set_meta("note", "tab\there"), TAVIK_OK);
        for (const Sample &s : kSamples) {
            EXPECT_EQ(tavik_train_begin(s.code), TAVIK_OK);
            EXPECT_EQ(tavik_train_feed(s.text), TAVIK_OK);
            EXPECT_EQ(tavik_train_end_language(), TAVIK_OK);
        }
        EXPECT_EQ(tavik_train_write_profile(p.c_str()), TAVIK_OK);
        tavik_train_reset();
        return p;
    }();
    return path;
}

RunResult tavik(std::vector<std::string> args, const std::string &input = "") {
    args.insert(args.begin(), {"--profile", profile_path()});
    return run_program(kTavik, args, input);
}

std::string replace_all(std::string s, std::string_view from, const std::string &to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
    return s;
}

// Compares `actual` with tests/golden/NAME, or rewrites the file when
// TAVIK_UPDATE_GOLDEN is set.
void expect_golden(const std::string &name, const std::string &actual) {
    const std::string path = kGolden + name;
    if (std::getenv("TAVIK_UPDATE_GOLDEN") != nullptr) {
        write_file(path, actual);
        return;
    }
    ASSERT_TRUE(std::filesystem::exists(path)) << path << " is missing";
    EXPECT_EQ(actual, read_file(path)) << "output differs from " << path;
}

size_t count_lines(std::string_view s) {
    return static_cast<size_t>(std::count(s.begin(), s.end(), '\n'));
}

// Input for --lines: empty lines, a line of spaces, CRLF endings, a text
// without n-grams, malformed UTF-8, a NUL byte, and a last line without a
// line feed.  Nine lines.
const std::string kLinesInput = std::string(kEnglish) + "\n" + "\n" + "   \n" + kGerman + "\r\n" +
                                "1234 5678\n" + "Haus \xC3\x28 Kinder\n" + kFrench + "\r\n" +
                                std::string("der\0die", 7) + "\n" + "the";

// ------------------------------------------------------ outputs by golden

struct GoldenCase {
    const char *name;  // golden file: tests/golden/NAME.out
    std::vector<std::string> args;
    std::string input;
    int code;
    std::string err;
};

void PrintTo(const GoldenCase &c, std::ostream *os) { *os << c.name; }

class CliGolden : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(CliGolden, MatchesGoldenOutput) {
    const GoldenCase &c = GetParam();
    const RunResult r = tavik(c.args, c.input);
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.err, c.err);
    expect_golden(std::string(c.name) + ".out", r.out);
}

const std::string kMalformed = std::string("Die Kinder \xE2\x82 gingen nach Hause ") + kGerman;

INSTANTIATE_TEST_SUITE_P(
    Modes, CliGolden,
    ::testing::Values(
        GoldenCase{"plain_args", {kEnglish}, "", 0, ""},
        // Words given one by one form one text, as the whole sentence does.
        GoldenCase{"plain_words",
                   {"Niemand", "in", "der", "Straße", "wusste,", "wer", "in", "dem", "alten",
                    "Haus", "wohnte"},
                   "",
                   0,
                   ""},
        GoldenCase{"plain_stdin", {}, std::string(kFrench) + "\n", 0, ""},
        GoldenCase{"plain_empty_stdin", {}, "", 1, ""},
        GoldenCase{"plain_too_short", {"Haus"}, "", 1, ""},
        GoldenCase{"plain_no_ngrams", {"12 34 --"}, "", 1, ""},
        // No n-gram, nothing to compare: "und" whatever the minimum says.
        GoldenCase{"plain_no_ngrams_min0", {"--min-ngrams", "0", "123 !!!"}, "", 1, ""},
        GoldenCase{"all_no_ngrams_min0", {"--all", "--min-ngrams", "0", "123 !!!"}, "", 1, ""},
        GoldenCase{"plain_ambiguous", {"--min-margin", "100", kGerman}, "", 1, ""},
        GoldenCase{
            "plain_malformed", {}, kMalformed, 1, "tavik: standard input: bad utf8 (status 5)\n"},
        GoldenCase{"plain_replace_invalid", {"--replace-invalid"}, kMalformed, 0, ""},
        GoldenCase{"all", {"--all", kGerman}, "", 0, ""},
        GoldenCase{"all_too_short", {"--all", "the house"}, "", 1, ""},
        // Settings change the distances: n-grams of up to 2 code points,
        // query lists of 50 (also the cost of an absent n-gram), only
        // n-grams seen at least twice; then the size term alone.
        GoldenCase{"all_settings",
                   {"--all", "--max-ngram-length", "2", "--max-distribution", "50", "--min-ngrams",
                    "5", "--occurrence-threshold", "2", kFrench},
                   "",
                   0,
                   ""},
        GoldenCase{"all_size_penalty", {"--all", "--size-penalty", "1", kFrench}, "", 0, ""},
        GoldenCase{"json", {"--json", kEnglish}, "", 0, ""},
        GoldenCase{"json_malformed",
                   {"--json"},
                   kMalformed,
                   1,
                   "tavik: standard input: bad utf8 (status 5)\n"},
        GoldenCase{"explain", {"--explain", "fra", kFrench}, "", 0, ""},
        GoldenCase{"explain_too_short", {"--explain", "deu", "Haus"}, "", 1, ""},
        GoldenCase{"list", {"--list"}, "", 0, ""},
        GoldenCase{"lines", {"--lines"}, kLinesInput, 1, "tavik: line 6: bad utf8 (status 5)\n"},
        GoldenCase{"lines_all", {"--lines", "--all", "--replace-invalid"}, kLinesInput, 1, ""},
        GoldenCase{"lines_json",
                   {"--lines", "--json"},
                   kLinesInput,
                   1,
                   "tavik: line 6: bad utf8 (status 5)\n"},
        GoldenCase{"lines_explain",
                   {"--lines", "--explain", "eng"},
                   kLinesInput,
                   1,
                   "tavik: line 6: bad utf8 (status 5)\n"}),
    [](const ::testing::TestParamInfo<GoldenCase> &info) { return std::string(info.param.name); });

TEST(Cli, LinesGiveOneOutputLinePerInputLine) {
    for (const char *mode : {"--all", "--json"}) {
        const RunResult r = tavik({"--lines", mode}, kLinesInput);
        EXPECT_EQ(count_lines(r.out), 9u) << mode;
    }
    // A final line feed ends the last line; it does not start another.
    EXPECT_EQ(count_lines(tavik({"--lines"}, "a\nb\n").out), 2u);
    EXPECT_EQ(tavik({"--lines"}, "").out, "");
}

TEST(Cli, HelpAndVersion) {
    const RunResult help = run_program(kTavik, {"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_EQ(help.err, "");
    expect_golden("help.out", help.out);
    const RunResult version = run_program(kTavik, {"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out, std::string("tavik ") + tavik_version() + "\n");
    EXPECT_EQ(version.err, "");
}

// ------------------------------------------------------------------ files

TEST(Cli, FilesAreTextsInArgumentOrder) {
    TempDir dir;
    write_file(dir.file("a.txt"), std::string(kGerman) + "\n" + kFrench);
    write_file(dir.file("b.txt"), std::string(kEnglish) + "\n\n1234\n");
    write_file(dir.file("bad.txt"), kMalformed);

    // Without --lines each file is one text.
    RunResult r = tavik({"--file", dir.file("b.txt"), dir.file("bad.txt"), dir.file("a.txt")});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "tavik: " + dir.file("bad.txt") + ": bad utf8 (status 5)\n");
    expect_golden("files.out", r.out);

    // "-" is standard input.
    r = tavik({"--file", "-", dir.file("b.txt")}, kGerman);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(count_lines(r.out), 2u);
    EXPECT_TRUE(r.out.starts_with("deu\t")) << r.out;

    // With --lines the files are one stream of lines; a last line without
    // a line feed ends with its file.
    r = tavik({"--lines", "--file", dir.file("a.txt"), dir.file("b.txt")});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "");
    expect_golden("files_lines.out", r.out);
}

TEST(Cli, UnreadableFileStopsWithStatus2AfterTheFilesBefore) {
    TempDir dir;
    write_file(dir.file("a.txt"), kGerman);
    const std::string missing = dir.file("missing.txt");
    for (const std::vector<std::string> &mode :
         {std::vector<std::string>{}, {"--lines"}, {"--lines", "--jobs", "2"}}) {
        std::vector<std::string> args = mode;
        args.insert(args.end(), {"--file", dir.file("a.txt"), missing, dir.file("a.txt")});
        const RunResult r = tavik(args);
        EXPECT_EQ(r.code, 2);
        EXPECT_EQ(r.err, "tavik: cannot read " + missing + ": No such file or directory\n");
        EXPECT_EQ(r.out, tavik({kGerman}).out);
    }
    const RunResult r = tavik({"--file", dir.path()});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "tavik: cannot read " + dir.path() + ": Is a directory\n");
    EXPECT_EQ(r.out, "");
}

// ------------------------------------------------------------------- jobs

// A few thousand lines, more than two batches per worker, of every kind.
std::string many_lines() {
    const std::vector<std::string> pieces = {kEnglish,
                                             kGerman,
                                             kFrench,
                                             "",
                                             "Haus",
                                             "\xFF\xFE",
                                             "12 34",
                                             "the old house\r",
                                             std::string(kGerman).substr(0, 40),
                                             std::string(kFrench).substr(20)};
    std::string s;
    for (size_t i = 0; i < 9001; ++i) s += pieces[(i * 7 + i / 13) % pieces.size()] + "\n";
    s += "no final line feed";
    return s;
}

std::multiset<std::string> lines_of(const std::string &s) {
    std::multiset<std::string> lines;
    std::istringstream in(s);
    for (std::string line; std::getline(in, line);) lines.insert(line);
    return lines;
}

// Threads, by default as many as the processors, answer in input order
// with the bytes of one thread, lines and whole files alike.
TEST(Cli, JobsGiveTheSameBytesAsOneThread) {
    const std::string input = many_lines();
    for (const char *mode : {"--all", "--json"}) {
        const RunResult one = tavik({"--lines", mode, "-j", "1"}, input);
        EXPECT_EQ(one.code, 1);
        EXPECT_EQ(count_lines(one.out), 9002u);
        for (const std::vector<std::string> &jobs :
             {std::vector<std::string>{"--jobs", "2"}, {"-j", "3"}, {}}) {
            std::vector<std::string> args = {"--lines", mode};
            args.insert(args.end(), jobs.begin(), jobs.end());
            const RunResult many = tavik(args, input);
            const std::string name = std::string(mode) + " " + (jobs.empty() ? "" : jobs[1]);
            EXPECT_EQ(many.code, one.code) << name;
            EXPECT_TRUE(many.out == one.out) << name;
            // Threads report malformed lines by their input line number, in
            // no fixed order among them.
            EXPECT_EQ(lines_of(many.err), lines_of(one.err)) << name;
        }
    }
    // Files are dealt to the threads as one stream, like standard input;
    // without --lines each file is one text.
    TempDir dir;
    write_file(dir.file("in.txt"), input);
    for (const char *lines : {"--lines", "--all"}) {
        const std::vector<std::string> files = {"--file", dir.file("in.txt"), dir.file("in.txt")};
        std::vector<std::string> args1 = {lines, "-j", "1"}, args2 = {lines, "-j", "2"};
        args1.insert(args1.end(), files.begin(), files.end());
        args2.insert(args2.end(), files.begin(), files.end());
        const RunResult one = tavik(args1), two = tavik(args2);
        EXPECT_EQ(count_lines(one.out), std::string(lines) == "--lines" ? 2 * 9002u : 2u);
        EXPECT_TRUE(two.out == one.out) << lines;
        EXPECT_EQ(two.code, one.code) << lines;
    }
}

// Candidate languages: only they are scored, on every number of threads.
TEST(Cli, OnlyScoresTheNamedLanguages) {
    const RunResult r = tavik({"--all", "--only", "fra,eng", kGerman});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.find("deu"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" eng:"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\tfra:"), std::string::npos) << r.out;
    EXPECT_EQ(tavik({"--all", "--only", "eng,fra", kGerman}).out, r.out);
    EXPECT_NE(tavik({"--all", kGerman}).out, r.out);
    const std::string input = many_lines();
    EXPECT_TRUE(tavik({"--lines", "--only", "deu,fra", "-j", "2"}, input).out ==
                tavik({"--lines", "--only", "deu,fra", "-j", "1"}, input).out);
}

TEST(Cli, JobsWithAllTextsIdentifiedExitZero) {
    std::string input;
    for (int i = 0; i < 3000; ++i) input += std::string(i % 2 ? kEnglish : kFrench) + "\n";
    const RunResult r = tavik({"--lines", "--jobs", "2"}, input);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(count_lines(r.out), 3000u);
}

// ------------------------------------------------------------------- eval

// Two right, one confused (a German text labelled French), one too short,
// one malformed, one right without a label, and a blank line.
const std::string kEvalSet = std::string("eng\t") + kEnglish + "\tlong\n" + "deu\t" + kGerman +
                             "\tlong\r\n" + "\n" + "fra\t" + kGerman + "\tlong\n" +
                             "fra\tmaison\tshort\n" + "deu\tHaus \xFF Kinder\tshort\n" + "eng\t" +
                             kEnglish + "\n";

TEST(Cli, EvalReportsAccuracyAndConfusions) {
    TempDir dir;
    const std::string tsv = dir.file("dev.tsv");
    write_file(tsv, kEvalSet);
    const std::string err = "tavik: " + tsv + ":6: bad utf8 (status 5)\n";
    RunResult r = tavik({"eval", tsv});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, err);
    expect_golden("eval.out", r.out);
    r = tavik({"eval", "--json", tsv});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, err);
    expect_golden("eval_json.out", r.out);
    // Replacing the malformed byte lets the line be counted as right.
    r = tavik({"eval", "--replace-invalid", "--min-ngrams", "5", "--json", tsv});
    EXPECT_EQ(r.err, "");
    expect_golden("eval_replace_invalid.out", r.out);
}

TEST(Cli, EvalOfOnlyIdentifiedTextsExitsZero) {
    TempDir dir;
    write_file(dir.file("ok.tsv"), std::string("deu\t") + kGerman + "\nfra\t" + kGerman + "\n");
    const RunResult r = tavik({"eval", dir.file("ok.tsv")});
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(r.err, "");
}

// ---------------------------------------------------------- usage errors

struct ErrorCase {
    std::vector<std::string> args;
    std::string err;  // "@DIR@" stands for the test's temporary directory
};

TEST(Cli, UsageAndInputErrorsExit2WithOneLine) {
    TempDir dir;
    write_file(dir.file("notab.tsv"), std::string("eng\t") + kEnglish + "\nengonly\n");
    write_file(dir.file("junk.tavik"), "TAVIK001 not really");
    // The profile's first bytes: a 36-byte header, the meta pairs "source"
    // (at 36) and "note" (at 64, its value's text at 72), then the first
    // language's code length at 80.
    const std::string good = read_file(profile_path());
    ASSERT_EQ(good.substr(81, 3), "eng");
    write_file(dir.file("cut.tavik"), good.substr(0, 75));
    write_file(dir.file("version.tavik"), tavik_test::with_byte(good, 8, 2));
    write_file(dir.file("code.tavik"), tavik_test::with_byte(good, 80, 8));
    std::filesystem::create_directory(dir.file("dir.tavik"));
    ASSERT_EQ(::mkfifo(dir.file("fifo.tavik").c_str(), 0644), 0);
    write_file(dir.file("big.tavik"), "");
    std::filesystem::resize_file(dir.file("big.tavik"), 67108865);
    const std::vector<ErrorCase> cases = {
        {{"--bogus"}, "tavik: unknown option --bogus (try --help)\n"},
        {{"-x", "text"}, "tavik: unknown option -x (try --help)\n"},
        {{"--explain"}, "tavik: --explain needs a language code (try --help)\n"},
        {{"--jobs"}, "tavik: --jobs needs a number (try --help)\n"},
        {{"--jobs", "0", "--lines"}, "tavik: --jobs needs 1 to 256 (try --help)\n"},
        {{"--jobs", "2", "text"}, "tavik: --jobs needs --lines or --file (try --help)\n"},
        {{"-j", "257", "--lines"}, "tavik: -j needs 1 to 256 (try --help)\n"},
        {{"--only", "eng,xyz", "text"},
         "tavik: --only: unknown language code 'xyz' (try --help)\n"},
        {{"--only", "eng,eng", "text"},
         "tavik: --only: repeated language code 'eng' (try --help)\n"},
        {{"--min-ngrams"}, "tavik: --min-ngrams needs an integer (try --help)\n"},
        {{"--min-ngrams", "4x"}, "tavik: --min-ngrams needs an integer, not '4x' (try --help)\n"},
        {{"--min-margin", "inf"}, "tavik: --min-margin needs a number, not 'inf' (try --help)\n"},
        {{"--size-penalty", "2"}, "tavik: --size-penalty needs 0 or 1, not '2' (try --help)\n"},
        {{"--max-ngram-length", "8"},
         "tavik: --max-ngram-length needs 1 to 7, not '8' (try --help)\n"},
        {{"--max-distribution", "0"},
         "tavik: --max-distribution needs a positive integer, not '0' (try --help)\n"},
        {{"--occurrence-threshold", "-1"},
         "tavik: --occurrence-threshold needs an integer of 0 or more, not '-1' (try --help)\n"},
        {{"--json", "--explain", "eng"},
         "tavik: --json and --explain exclude each other (try --help)\n"},
        {{"--json", "--all"}, "tavik: --all applies to the plain output only (try --help)\n"},
        {{"--file"}, "tavik: --file needs at least one file (try --help)\n"},
        {{"--lines", "text"},
         "tavik: --lines reads standard input or --file, not text arguments (try --help)\n"},
        {{"--list", "text"}, "tavik: --list takes no text (try --help)\n"},
        {{"--explain", "xyz", "text"}, "tavik: the profile has no language xyz (see --list)\n"},
        {{"--profile", "@DIR@/none.tavik", "text"},
         "tavik: cannot load profile @DIR@/none.tavik: No such file or directory\n"},
        {{"--profile", "@DIR@/dir.tavik", "text"},
         "tavik: cannot load profile @DIR@/dir.tavik: not a regular file\n"},
        {{"--profile", "@DIR@/fifo.tavik", "text"},
         "tavik: cannot load profile @DIR@/fifo.tavik: not a regular file\n"},
        {{"--profile", "@DIR@/big.tavik", "text"},
         "tavik: cannot load profile @DIR@/big.tavik: too large: 67108865 bytes, limit "
         "67108864\n"},
        {{"--profile", "@DIR@/junk.tavik", "text"},
         "tavik: cannot load profile @DIR@/junk.tavik: truncated: the file ends at byte 19, "
         "inside the field at byte offset 0\n"},
        {{"--profile", "@DIR@/cut.tavik", "text"},
         "tavik: cannot load profile @DIR@/cut.tavik: truncated: the file ends at byte 75, "
         "inside the field at byte offset 72\n"},
        {{"--profile", "@DIR@/version.tavik", "text"},
         "tavik: cannot load profile @DIR@/version.tavik: malformed at byte offset 8\n"},
        {{"--profile", "@DIR@/code.tavik", "text"},
         "tavik: cannot load profile @DIR@/code.tavik: malformed at byte offset 80\n"},
        {{"eval"}, "tavik: eval needs one FILE.tsv (try --help)\n"},
        {{"eval", "a.tsv", "b.tsv"}, "tavik: eval needs one FILE.tsv (try --help)\n"},
        {{"eval", "--lines", "a.tsv"},
         "tavik: eval takes only --json, --replace-invalid, --profile and settings (try --help)\n"},
        {{"eval", "@DIR@/none.tsv"},
         "tavik: cannot read @DIR@/none.tsv: No such file or directory\n"},
        {{"eval", "@DIR@"}, "tavik: cannot read @DIR@: Is a directory\n"},
        {{"eval", "@DIR@/notab.tsv"},
         "tavik: @DIR@/notab.tsv:2: expected CODE<TAB>TEXT[<TAB>LABEL]\n"},
    };
    for (const ErrorCase &c : cases) {
        std::vector<std::string> args;
        for (const std::string &a : c.args) args.push_back(replace_all(a, "@DIR@", dir.path()));
        const RunResult r = tavik(args);
        std::string joined;
        for (const std::string &a : c.args) joined += " " + a;
        EXPECT_EQ(r.code, 2) << joined;
        EXPECT_EQ(r.out, "") << joined;
        EXPECT_EQ(r.err, replace_all(c.err, "@DIR@", dir.path())) << joined;
    }
}

TEST(Cli, EvalIsTheFirstTextOnlyAndDoubleDashEndsOptions) {
    // After "--" everything is text, "eval" and option-like words included.
    const RunResult r = tavik({"--all", "--", "eval", "--json"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.out.find("\ttoo-short\t") != std::string::npos) << r.out;
    EXPECT_EQ(tavik({"the", "eval"}).code, 1);
}

// Codes holding a line feed, a tab, a carriage return or a backslash are
// escaped in every line-oriented output as --list escapes them, so that
// 6000 input lines give 6000 output lines.
TEST(Cli, CodesWithControlCharactersStayOnOneLine) {
    TempDir dir;
    const std::string path = dir.file("ctl.tavik");
    tavik_train_reset();
    const std::vector<std::pair<const char *, const char *>> langs = {
        {"e\nn", kSamples[0].text}, {"d\te", kSamples[1].text}, {"f\r\\", kSamples[2].text}};
    for (const auto &[code, text] : langs) {
        ASSERT_EQ(tavik_train_begin(code), TAVIK_OK);
        ASSERT_EQ(tavik_train_feed(text), TAVIK_OK);
        ASSERT_EQ(tavik_train_end_language(), TAVIK_OK);
    }
    ASSERT_EQ(tavik_train_write_profile(path.c_str()), TAVIK_OK);
    tavik_train_reset();
    std::string input;
    for (int i = 0; i < 2000; ++i)
        input += std::string(kEnglish) + "\n" + kGerman + "\n" + kFrench + "\n";
    for (const std::vector<std::string> &mode :
         {std::vector<std::string>{}, std::vector<std::string>{"--all"}}) {
        std::vector<std::string> args = {"--profile", path, "--lines"};
        args.insert(args.end(), mode.begin(), mode.end());
        const RunResult r = run_program(kTavik, args, input);
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(count_lines(r.out), 6000u);
        EXPECT_TRUE(r.out.starts_with("e\\nn\t")) << r.out.substr(0, 200);
        EXPECT_NE(r.out.find("\nd\\te\t"), std::string::npos);
        EXPECT_NE(r.out.find("\nf\\r\\\\\t"), std::string::npos);
    }
    const RunResult one = run_program(kTavik, {"--profile", path, "--all", kGerman});
    EXPECT_TRUE(one.out.starts_with("d\\te\t")) << one.out;
    EXPECT_NE(one.out.find(" e\\nn:"), std::string::npos) << one.out;
    EXPECT_EQ(count_lines(one.out), 1u);
    // eval: the confusion of a text labelled "eng" names the escaped code.
    write_file(dir.file("set.tsv"), std::string("eng\t") + kEnglish + "\n");
    const RunResult eval = run_program(kTavik, {"--profile", path, "eval", dir.file("set.tsv")});
    EXPECT_NE(eval.out.find("  eng -> e\\nn  1\n"), std::string::npos) << eval.out;
}

// Memory exhaustion ends the command with a message and status 2, not an
// abort.  The address-space limit does not suit the sanitizers or valgrind.
TEST(Cli, OutOfMemoryExitsTwoWithAMessage) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit breaks AddressSanitizer";
#endif
    const char *preload = std::getenv("LD_PRELOAD");
    if (preload != nullptr && std::string_view(preload).find("vgpreload") != std::string_view::npos)
        GTEST_SKIP() << "an address-space limit breaks valgrind";
    const RunResult r = run_program(
        "/bin/sh",
        {"-c",
         "ulimit -v 150000 && head -c 150000000 /dev/zero 2>/dev/null | \"$0\" --profile \"$1\"",
         kTavik, profile_path()});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "tavik: out of memory\n");
    EXPECT_EQ(r.out, "");
}

// ------------------------------------------------------- embedded profile

TEST(CliEmbedded, DefaultProfileNamesClearSentences) {
    const RunResult list = run_program(kTavik, {"--list"});
    if (list.code == 2) GTEST_SKIP() << "this build has no embedded profile: " << list.err;
    ASSERT_EQ(list.code, 0) << list.err;
    const std::vector<Sample> sentences = {
        {"deu", "Die Kinder spielen am Nachmittag im Garten, während ihre Eltern in der Küche "
                "das Abendessen vorbereiten und über die Arbeit der Woche sprechen."},
        {"fra", "Les enfants jouent dans le jardin l'après-midi pendant que leurs parents "
                "préparent le dîner dans la cuisine et parlent du travail de la semaine."},
        {"spa", "Los niños juegan en el jardín por la tarde mientras sus padres preparan la "
                "cena en la cocina y hablan del trabajo de la semana."},
        {"rus", "Дети играют в саду после обеда, пока их родители готовят ужин на кухне и "
                "говорят о работе на этой неделе."},
        {"jpn", "子供たちは午後に庭で遊んでいて、両親は台所で夕食を作りながら今週の仕事について話し"
                "ています。"},
        {"eng", "The children play in the garden in the afternoon while their parents cook "
                "dinner in the kitchen and talk about the work of the week."},
    };
    int tried = 0;
    for (const Sample &s : sentences) {
        if (list.out.find(std::string("language\t") + s.code + "\n") == std::string::npos) continue;
        ++tried;
        const RunResult r = run_program(kTavik, {s.text});
        EXPECT_EQ(r.code, 0) << s.code << ": " << r.out << r.err;
        EXPECT_TRUE(r.out.starts_with(std::string(s.code) + "\t")) << s.code << ": " << r.out;
    }
    if (tried == 0) GTEST_SKIP() << "the embedded profile has none of the sample languages";
}

}  // namespace
