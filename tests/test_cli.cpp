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
#include "yyjson.h"

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
        // --json: the versioned document; --result-json: the library's own.
        GoldenCase{"json", {"--json", kEnglish}, "", 0, ""},
        GoldenCase{"json_too_short", {"--json", "the house"}, "", 1, ""},
        GoldenCase{"json_top", {"--json", "--top", "1", kGerman}, "", 0, ""},
        GoldenCase{"json_top_all", {"--json", "--top", "0", kGerman}, "", 0, ""},
        GoldenCase{"all_top", {"--all", "--top", "2", kGerman}, "", 0, ""},
        GoldenCase{"result_json", {"--result-json", kEnglish}, "", 0, ""},
        GoldenCase{"result_json_malformed",
                   {"--result-json"},
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
        GoldenCase{"lines_result_json",
                   {"--lines", "--result-json"},
                   kLinesInput,
                   1,
                   "tavik: line 6: bad utf8 (status 5)\n"},
        GoldenCase{"lines_explain",
                   {"--lines", "--explain", "eng"},
                   kLinesInput,
                   1,
                   "tavik: line 6: bad utf8 (status 5)\n"}),
    [](const ::testing::TestParamInfo<GoldenCase> &info) { return std::string(info.param.name); });

// Trains a profile of the languages (code, sample text) and writes it to
// `path`; codes may hold any bytes.
void write_profile_of(const std::string &path,
                      const std::vector<std::pair<const char *, const char *>> &langs) {
    tavik_train_reset();
    for (const auto &[code, text] : langs) {
        ASSERT_EQ(tavik_train_begin(code), TAVIK_OK);
        ASSERT_EQ(tavik_train_feed(text), TAVIK_OK);
        ASSERT_EQ(tavik_train_end_language(), TAVIK_OK);
    }
    ASSERT_EQ(tavik_train_write_profile(path.c_str()), TAVIK_OK);
    tavik_train_reset();
}

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

// ------------------------------------------------------- option spellings

struct SpellingRow {
    std::string input;
    std::vector<std::vector<std::string>> spellings;  // each gives the first's output
};

TEST(Cli, OptionSpellingsGiveTheSameOutput) {
    const std::string lines = std::string(kEnglish) + "\n" + kGerman + "\nHaus\n";
    const std::string &p = profile_path();
    const std::vector<SpellingRow> rows = {
        {"",
         {{"--all", "--only", "eng,fra", kGerman},
          {"-a", "-o", "eng,fra", kGerman},
          {"--all", "--only=eng,fra", kGerman},
          {"-ao", "eng,fra", kGerman},
          {"-aoeng,fra", kGerman},
          {kGerman, "--all", "-oeng,fra"}}},
        {"",
         {{"--json", "--top", "2", kFrench},
          {"--json", "--top=2", kFrench},
          {"--json", "-k2", kFrench},
          {kFrench, "--json", "-k", "2"}}},
        {lines,
         {{"--lines", "--jobs", "2"},
          {"-l", "-j2"},
          {"-lj2"},
          {"-lj", "2"},
          {"--lines", "--jobs=2"}}},
        {lines, {{"--file", "-"}, {"-f", "-"}, {"-f", "--", "-"}}},
        {"", {{"--explain", "fra", kFrench}, {"-e", "fra", kFrench}, {"-efra", kFrench}}},
        {"", {{"--explain=fra", kFrench}, {"--explain", "fra", "--", kFrench}}},
        {"",
         {{"--min-ngrams", "5", "--all", "Haus Kinder"},
          {"--min-ngrams=5", "-a", "Haus Kinder"},
          {"Haus", "--min-ngrams", "5", "Kinder", "--all"}}},
        {"", {{"--profile", p, kGerman}, {"-p", p, kGerman}, {"--profile=" + p, kGerman}}},
        {"", {{"--help"}, {"-h"}, {"-ah"}}},
        {"", {{"--version"}, {"-V"}}},
    };
    for (const SpellingRow &row : rows) {
        const RunResult first = tavik(row.spellings[0], row.input);
        EXPECT_NE(first.out, "");
        for (const std::vector<std::string> &args : row.spellings) {
            std::string name;
            for (const std::string &a : args) name += " " + a.substr(0, 20);
            const RunResult r = tavik(args, row.input);
            EXPECT_EQ(r.code, first.code) << name;
            EXPECT_EQ(r.err, first.err) << name;
            EXPECT_TRUE(r.out == first.out) << name << "\n" << r.out;
        }
    }
    // "--lines -- -": after "--", "-" is a text, which --lines refuses.
    EXPECT_EQ(tavik({"--lines", "--", "-"}).code, 2);
}

// ------------------------------------------------------ outcomes agree

// The parsed JSON document of one --json line, with the fields the plain
// line shows.
struct JsonLine {
    std::string status, language;
    double confidence = -1;
    bool parsed = false;
};

JsonLine parse_json_line(const std::string &line) {
    JsonLine j;
    yyjson_doc *doc = yyjson_read(line.data(), line.size(), 0);
    if (doc == nullptr) return j;
    yyjson_val *root = yyjson_doc_get_root(doc);
    j.parsed = yyjson_get_int(yyjson_obj_get(root, "version")) == 1;
    j.status = yyjson_get_str(yyjson_obj_get(root, "status"));
    yyjson_val *lang = yyjson_obj_get(root, "language");
    j.language = yyjson_is_null(lang) ? "und" : yyjson_get_str(lang);
    j.confidence = yyjson_get_real(yyjson_obj_get(root, "confidence"));
    yyjson_doc_free(doc);
    return j;
}

// Plain and JSON name the same language with the same status and
// confidence, too-short texts included.
TEST(Cli, PlainAndJsonGiveTheSameAnswer) {
    const std::vector<std::string> texts = {kEnglish,
                                            kGerman,
                                            "Haus",
                                            "the house",
                                            "12 34",
                                            kMalformed,
                                            std::string(kFrench).substr(0, 30)};
    for (const std::vector<std::string> &settings :
         {std::vector<std::string>{}, {"--min-margin", "100"}, {"--min-ngrams", "0"}}) {
        for (const std::string &text : texts) {
            std::vector<std::string> plain = settings, json = settings;
            plain.insert(plain.end(), {"--all", text});
            json.insert(json.end(), {"--json", text});
            const RunResult p = tavik(plain), j = tavik(json);
            EXPECT_EQ(p.code, j.code) << text;
            const JsonLine doc = parse_json_line(j.out);
            ASSERT_TRUE(doc.parsed) << j.out;
            char conf[32];
            std::snprintf(conf, sizeof conf, "%.4f", doc.confidence);
            const std::string fields = doc.language + "\t" + conf + "\t" + doc.status + "\t";
            EXPECT_TRUE(p.out.starts_with(fields)) << p.out << " vs " << j.out;
        }
    }
}

// Codes, file names, labels and texts that are not UTF-8 still give
// documents that parse, with U+FFFD in place of the bad bytes.
TEST(Cli, JsonStaysValidForBytesThatAreNotUtf8) {
    TempDir dir;
    const std::string path = dir.file("bad.tavik");
    ASSERT_NO_FATAL_FAILURE(write_profile_of(
        path,
        {{"e\xFFn", kSamples[0].text}, {"d\xC3", kSamples[1].text}, {"fra", kSamples[2].text}}));
    const std::string file = dir.file("\xFE\"name\".txt");
    write_file(file, std::string(kEnglish) + "\n" + kMalformed + "\n\x01\x7F\n");
    const std::string tsv = dir.file("set.tsv");
    write_file(tsv, std::string("e\xFFn\t") + kEnglish + "\t\xFFlabel\n" + "x\xE2\x82\t" + kGerman +
                        "\n");
    const std::vector<std::vector<std::string>> runs = {
        {"--json", "-k0", "-H", "--lines", "--file", file},
        {"--json", "--replace-invalid", "-k0", "--lines", "--file", file, file},
        {"--json", "-k0", kEnglish},
        {"eval", "--json", tsv},
    };
    for (const std::vector<std::string> &args : runs) {
        std::vector<std::string> full = {"--profile", path};
        full.insert(full.end(), args.begin(), args.end());
        const RunResult r = run_program(kTavik, full);
        ASSERT_NE(r.out, "") << r.err;
        std::istringstream in(r.out);
        for (std::string line; std::getline(in, line);) {
            yyjson_doc *doc = yyjson_read(line.data(), line.size(), 0);
            EXPECT_NE(doc, nullptr) << line;
            yyjson_doc_free(doc);
        }
        EXPECT_NE(r.out.find("\xEF\xBF\xBD"), std::string::npos) << r.out;
    }
}

// ------------------------------------------------------------------ files

TEST(Cli, FilesAreTextsInArgumentOrder) {
    TempDir dir;
    write_file(dir.file("a.txt"), std::string(kGerman) + "\n" + kFrench);
    write_file(dir.file("b.txt"), std::string(kEnglish) + "\n\n1234\n");
    write_file(dir.file("bad.txt"), kMalformed);

    // Without --lines each file is one text; with several files each line
    // starts with the file's name.
    RunResult r = tavik({"--file", dir.file("b.txt"), dir.file("bad.txt"), dir.file("a.txt")});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "tavik: " + dir.file("bad.txt") + ": bad utf8 (status 5)\n");
    expect_golden("files.out", replace_all(r.out, dir.path(), "@DIR@"));

    // "-" is standard input.
    r = tavik({"--file", "-", dir.file("b.txt")}, kGerman);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(count_lines(r.out), 2u);
    EXPECT_TRUE(r.out.starts_with("-\tdeu\t")) << r.out;
    // One file is not named unless asked; --no-filename names none.
    EXPECT_EQ(tavik({"--file", dir.file("b.txt")}).out, "eng\t0.8274\n");
    EXPECT_EQ(tavik({"-Hf", dir.file("b.txt")}).out, dir.file("b.txt") + "\teng\t0.8274\n");
    EXPECT_EQ(tavik({"--no-filename", "-f", dir.file("b.txt"), dir.file("b.txt")}).out,
              "eng\t0.8274\neng\t0.8274\n");

    // With --lines the files are one stream of lines; a last line without
    // a line feed ends with its file.
    r = tavik({"--lines", "--file", dir.file("a.txt"), dir.file("b.txt")});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "");
    expect_golden("files_lines.out", replace_all(r.out, dir.path(), "@DIR@"));
    // JSON names the file and the line within it.
    r = tavik({"--lines", "--json", "-j2", "--file", dir.file("a.txt"), dir.file("b.txt")});
    expect_golden("files_lines_json.out", replace_all(r.out, dir.path(), "@DIR@"));
}

// An unreadable file is named with the system's reason and skipped: the
// files after it are still answered, and the status says something failed.
TEST(Cli, UnreadableFileIsReportedAndTheRestAnswered) {
    TempDir dir;
    write_file(dir.file("a.txt"), kGerman);
    write_file(dir.file("b.txt"), std::string(kFrench) + "\nHaus\n");
    const std::string missing = dir.file("missing.txt");
    for (const std::vector<std::string> &mode : {std::vector<std::string>{"-j1"},
                                                 {"-j2"},
                                                 {"--lines", "-j1"},
                                                 {"--lines", "--jobs", "2"},
                                                 {"--json", "-j1"}}) {
        std::vector<std::string> args = mode;
        args.insert(args.end(),
                    {"--file", dir.file("a.txt"), missing, dir.path(), dir.file("b.txt")});
        const RunResult r = tavik(args);
        std::string name;
        for (const std::string &a : mode) name += a + " ";
        EXPECT_EQ(r.code, 2) << name;
        EXPECT_EQ(r.err, "tavik: " + missing + ": No such file or directory\ntavik: " + dir.path() +
                             ": Is a directory\n")
            << name;
        expect_golden("files_unreadable_" + std::to_string(mode.size()) +
                          (mode[0] == "--json" ? "json" : "") + ".out",
                      replace_all(r.out, dir.path(), "@DIR@"));
    }
    const RunResult r = tavik({"--file", dir.path()});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "tavik: " + dir.path() + ": Is a directory\n");
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
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, err);
    expect_golden("eval.out", r.out);
    r = tavik({"eval", "--json", tsv});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, err);
    expect_golden("eval_json.out", r.out);
    // Replacing the malformed byte lets the line be counted as right.
    r = tavik({"eval", "--replace-invalid", "--min-ngrams", "5", "--json", tsv});
    EXPECT_EQ(r.err, "");
    expect_golden("eval_replace_invalid.out", r.out);
}

// The report's accuracy is 50 %: --min-accuracy takes a fraction up to 1,
// a percentage above it or with a percent sign.
TEST(Cli, EvalMinAccuracyDecidesTheExitStatus) {
    TempDir dir;
    write_file(dir.file("half.tsv"), std::string("deu\t") + kGerman + "\nfra\t" + kGerman + "\n");
    const struct {
        const char *min;
        int code;
    } cases[] = {{"0.5", 0}, {"0.51", 1}, {"50", 0}, {"50.5", 1},
                 {"50%", 0}, {"1%", 0},   {"1", 1},  {"0", 0}};
    for (const auto &c : cases) {
        const RunResult r = tavik({"eval", "--min-accuracy", c.min, dir.file("half.tsv")});
        EXPECT_EQ(r.code, c.code) << c.min;
        EXPECT_EQ(r.err, "") << c.min;
        EXPECT_TRUE(r.out.starts_with("texts 2  correct 1  accuracy 50.00%")) << r.out;
    }
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
         "tavik: eval takes only --json, --min-accuracy, --replace-invalid, --profile, --only "
         "and settings (try --help)\n"},
        {{"eval", "--min-accuracy", "101", "a.tsv"},
         "tavik: --min-accuracy needs a fraction (0.95) or a percentage (95, 95%), not '101' "
         "(try --help)\n"},
        {{"--min-accuracy", "0.9", "text"},
         "tavik: --min-accuracy applies to eval only (try --help)\n"},
        {{"--top", "-1", "--json", "text"},
         "tavik: --top needs a number of 0 or more, not '-1' (try --help)\n"},
        {{"-k", "2", "text"}, "tavik: --top needs --json or --all (try --help)\n"},
        {{"--all=1", "text"}, "tavik: --all takes no value (try --help)\n"},
        {{"-lx", "text"}, "tavik: unknown option -x (try --help)\n"},
        {{"--line", "text"}, "tavik: unknown option --line (try --help)\n"},
        {{"-lj"}, "tavik: -j needs a number (try --help)\n"},
        {{"--jobs=0", "-l"}, "tavik: --jobs needs 1 to 256 (try --help)\n"},
        {{"-H", "text"}, "tavik: --with-filename needs --file (try --help)\n"},
        {{"--result-json", "--explain", "eng"},
         "tavik: --json and --explain exclude each other (try --help)\n"},
        {{"eval", "@DIR@/none.tsv"}, "tavik: @DIR@/none.tsv: No such file or directory\n"},
        {{"eval", "@DIR@"}, "tavik: @DIR@: Is a directory\n"},
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
    ASSERT_NO_FATAL_FAILURE(write_profile_of(
        path,
        {{"e\nn", kSamples[0].text}, {"d\te", kSamples[1].text}, {"f\r\\", kSamples[2].text}}));
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
        {"ell", "Τα παιδιά παίζουν στον κήπο το απόγευμα ενώ οι γονείς τους μαγειρεύουν το "
                "δείπνο στην κουζίνα."},
        {"tha", "เด็กๆ เล่นในสวนตอนบ่าย ขณะที่พ่อแม่ของพวกเขาทำอาหารเย็นในครัว"},
    };
    // A calibrated default is sure of every clear sentence (an embedded
    // profile without calibration reports no probability at all).
    const bool calibrated =
        run_program(kTavik, {"--json", sentences[0].text}).out.find("\"probability\":null") ==
        std::string::npos;
    int tried = 0;
    for (const Sample &s : sentences) {
        // A profile lists "language CODE", a bundle "language CODE MEMBER".
        const std::string line = std::string("\nlanguage\t") + s.code;
        if (list.out.find(line + "\n") == std::string::npos &&
            list.out.find(line + "\t") == std::string::npos)
            continue;
        ++tried;
        const RunResult r = run_program(kTavik, {s.text});
        EXPECT_EQ(r.code, 0) << s.code << ": " << r.out << r.err;
        EXPECT_TRUE(r.out.starts_with(std::string(s.code) + "\t")) << s.code << ": " << r.out;
        if (!calibrated) continue;
        const RunResult j = run_program(kTavik, {"--json", s.text});
        EXPECT_TRUE(j.out.find("\"reliable\":true") != std::string::npos)
            << s.code << ": " << j.out;
    }
    if (tried == 0) GTEST_SKIP() << "the embedded profile has none of the sample languages";
}

}  // namespace
