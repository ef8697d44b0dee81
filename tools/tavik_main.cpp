// tavik_main.cpp - the `tavik` command: identifies the language of texts
// from arguments, standard input or files with the embedded default
// profile (or one given with --profile), and evaluates a profile against a
// labelled set.
//
// Output of a plain identification, one line per text:
//     CODE <TAB> CONFIDENCE [<TAB> MARK]
// MARK is absent for a clear answer; "ambiguous" or "too-short" name the
// closest language all the same, or "und" when the text has no n-gram;
// "bad-utf8" and "error" come with "und".  Exit status: 0 when every text
// was identified, 1 when some text was not, 2 for usage or I/O errors.

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "cli_output.h"
#include "embedded_profile.h"
#include "tavik/tavik_api.h"

namespace {

constexpr const char *kUsage =
    "usage: tavik [options] [TEXT...]\n"
    "       tavik [options] --file FILE...\n"
    "       tavik eval [--json] [options] FILE.tsv\n"
    "\n"
    "Names the language of a UTF-8 text: the words given as arguments form one\n"
    "text; without arguments standard input is read whole.  (\"tavik -- eval\"\n"
    "identifies the word \"eval\".)\n"
    "\n"
    "Input:\n"
    "  --file            every remaining argument is a file (\"-\": standard input),\n"
    "                    each one text; one output line per file, in order\n"
    "  --lines           every input line is a text; one output line per input line\n"
    "  --replace-invalid replace malformed UTF-8 by spaces instead of reporting it\n"
    "  --jobs N          with --lines: N worker processes, output in input order\n"
    "NUL bytes count as spaces.\n"
    "Output (default: CODE<TAB>CONFIDENCE[<TAB>ambiguous|too-short|bad-utf8|error]):\n"
    "  ambiguous and too-short still name the closest language; a text without\n"
    "  any n-gram, malformed UTF-8 or another failure give \"und\".\n"
    "  Tab, line feed, carriage return and backslash in a code are written as\n"
    "  \\t, \\n, \\r and \\\\, as --list writes them: one line per text.\n"
    "  --json            the result document per text (JSON Lines with --lines)\n"
    "  --all             add the status word and every language's distance\n"
    "                    (CODE:DISTANCE, closest first)\n"
    "  --explain CODE    the explanation document of language CODE per text\n"
    "  --list            the profile's identifier, languages and meta pairs\n"
    "Profile and settings:\n"
    "  --profile FILE    use FILE instead of the embedded profile\n"
    "  --min-ngrams N  --min-margin X  --size-penalty 0|1  --max-ngram-length 1..7\n"
    "  --max-distribution N  --occurrence-threshold N\n"
    "  --help, --version\n"
    "\n"
    "eval reads lines CODE<TAB>TEXT[<TAB>LABEL] and reports accuracy overall, per\n"
    "language and per label, the share of ambiguous, too-short and malformed\n"
    "texts (all counted as wrong), and the most frequent confusions; shares are\n"
    "in percent.\n"
    "Exit status: 0 every text identified, 1 some text not (ambiguous, too\n"
    "short, malformed), 2 usage or I/O error.\n";

enum class Mode { Plain, Json, Explain };

// One setting from the command line, already checked.
struct Setting {
    enum Kind { MinNgrams, MinMargin, SizePenalty, MaxNgramLength, MaxDistribution, Threshold };
    Kind kind;
    long n = 0;
    double x = 0.0;
};

struct Options {
    Mode mode = Mode::Plain;
    bool all = false;
    bool lines = false;
    bool files = false;
    bool list = false;
    bool replace_invalid = false;
    bool eval = false;
    int jobs = 1;
    const char *profile = nullptr;
    const char *explain_code = nullptr;
    std::vector<Setting> settings;  // in command-line order
    std::vector<const char *> args;
};

[[noreturn]] void usage_error(const std::string &message) {
    std::fprintf(stderr, "tavik: %s (try --help)\n", message.c_str());
    std::exit(2);
}

[[noreturn]] void fatal(const std::string &message) {
    std::fprintf(stderr, "tavik: %s\n", message.c_str());
    std::exit(2);
}

bool parse_int(const char *s, long lo, long hi, long *out) {
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(s, &end, 10);
    if (errno != 0 || end == s || *end != '\0' || v < lo || v > hi) return false;
    *out = v;
    return true;
}

bool parse_double(const char *s, double *out) {
    char *end = nullptr;
    errno = 0;
    const double v = std::strtod(s, &end);
    if (errno != 0 || end == s || *end != '\0' || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

struct SettingOption {
    const char *name;
    Setting::Kind kind;
    long lo, hi;
    const char *wants;
};

constexpr SettingOption kSettings[] = {
    {"--min-ngrams", Setting::MinNgrams, INT32_MIN, INT32_MAX, "an integer"},
    {"--min-margin", Setting::MinMargin, 0, 0, "a number"},
    {"--size-penalty", Setting::SizePenalty, 0, 1, "0 or 1"},
    {"--max-ngram-length", Setting::MaxNgramLength, 1, 7, "1 to 7"},
    {"--max-distribution", Setting::MaxDistribution, 1, INT32_MAX, "a positive integer"},
    {"--occurrence-threshold", Setting::Threshold, 0, INT32_MAX, "an integer of 0 or more"},
};

const SettingOption *find_setting(std::string_view arg) {
    for (const SettingOption &s : kSettings)
        if (arg == s.name) return &s;
    return nullptr;
}

Options parse_args(int argc, char **argv) {
    Options o;
    bool only_args = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        auto value = [&](const char *what) -> const char * {
            if (i + 1 >= argc) usage_error(std::string(a) + " needs " + what);
            return argv[++i];
        };
        if (only_args || a.empty() || a[0] != '-' || a == "-") {
            // "eval" in the place of the first text names the evaluation.
            if (!only_args && !o.eval && o.args.empty() && a == "eval")
                o.eval = true;
            else
                o.args.push_back(argv[i]);
        } else if (a == "--") {
            only_args = true;
        } else if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(std::fflush(stdout) == 0 ? 0 : 2);
        } else if (a == "--version") {
            std::printf("tavik %s\n", tavik_version());
            std::exit(std::fflush(stdout) == 0 ? 0 : 2);
        } else if (a == "--json") {
            if (o.mode == Mode::Explain) usage_error("--json and --explain exclude each other");
            o.mode = Mode::Json;
        } else if (a == "--all") {
            o.all = true;
        } else if (a == "--lines") {
            o.lines = true;
        } else if (a == "--file") {
            o.files = true;
        } else if (a == "--list") {
            o.list = true;
        } else if (a == "--replace-invalid") {
            o.replace_invalid = true;
        } else if (a == "--profile") {
            o.profile = value("a file");
        } else if (a == "--explain") {
            if (o.mode == Mode::Json) usage_error("--json and --explain exclude each other");
            o.mode = Mode::Explain;
            o.explain_code = value("a language code");
        } else if (a == "--jobs") {
            long n;
            if (!parse_int(value("a number"), 1, 256, &n)) usage_error("--jobs needs 1 to 256");
            o.jobs = static_cast<int>(n);
        } else if (const SettingOption *opt = find_setting(a)) {
            const char *text = value(opt->wants);
            Setting s{opt->kind};
            const bool ok = opt->kind == Setting::MinMargin
                                ? parse_double(text, &s.x)
                                : parse_int(text, opt->lo, opt->hi, &s.n);
            if (!ok) usage_error(std::string(a) + " needs " + opt->wants + ", not '" + text + "'");
            o.settings.push_back(s);
        } else {
            usage_error("unknown option " + std::string(a));
        }
    }
    if (o.eval) {
        if (o.args.size() != 1) usage_error("eval needs one FILE.tsv");
        if (o.mode == Mode::Explain) usage_error("eval does not take --explain");
        if (o.all || o.lines || o.files || o.list || o.jobs > 1)
            usage_error("eval takes only --json, --replace-invalid, --profile and settings");
        return o;
    }
    if (o.list && (!o.args.empty() || o.files || o.lines)) usage_error("--list takes no text");
    if (o.all && o.mode != Mode::Plain) usage_error("--all applies to the plain output only");
    if (o.files && o.args.empty()) usage_error("--file needs at least one file");
    if (o.jobs > 1 && !o.lines) usage_error("--jobs needs --lines");
    if (o.lines && !o.files && !o.args.empty())
        usage_error("--lines reads standard input or --file, not text arguments");
    return o;
}

void apply_settings(const Options &o) {
    for (const Setting &s : o.settings) {
        const auto v = static_cast<int32_t>(s.n);
        switch (s.kind) {
        case Setting::MinNgrams:
            tavik_set_min_ngrams(v);
            break;
        case Setting::MinMargin:
            tavik_set_min_margin(s.x);
            break;
        case Setting::SizePenalty:
            tavik_set_size_penalty(v);
            break;
        case Setting::MaxNgramLength:
            tavik_set_max_ngram_length(v);
            break;
        case Setting::MaxDistribution:
            tavik_set_max_distribution(v);
            break;
        case Setting::Threshold:
            tavik_set_occurance_threshold(v);
            break;
        }
    }
}

// Why the profile file at `path` does not load, as closely as it can be
// told: the system's reason, the kind or size of the file, or the offset at
// which its bytes break the format.
std::string profile_fault(const char *path) {
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::strerror(errno);
    std::string why;
    struct stat st;
    std::string data;
    if (::fstat(fd, &st) != 0) {
        why = std::strerror(errno);
    } else if (!S_ISREG(st.st_mode)) {
        why = "not a regular file";
    } else if (static_cast<uint64_t>(st.st_size) > TAVIK_MAX_PROFILE_BYTES) {
        why = "too large: " + std::to_string(st.st_size) + " bytes, limit " +
              std::to_string(TAVIK_MAX_PROFILE_BYTES);
    } else {
        const tavik::cli::ReadFn read = tavik::cli::fd_reader(fd);
        char buf[1 << 16];
        long n;
        while ((n = read(buf, sizeof buf)) > 0) data.append(buf, static_cast<size_t>(n));
        if (n < 0) why = std::strerror(errno);
    }
    ::close(fd);
    if (!why.empty()) return why;
    uint64_t offset = 0;
    int32_t truncated = 0;
    switch (tavik_profile_find_fault(data.data(), data.size(), &offset, &truncated)) {
    case TAVIK_BAD_PROFILE:
        if (truncated != 0)
            return "truncated: the file ends at byte " + std::to_string(data.size()) +
                   ", inside the field at byte offset " + std::to_string(offset);
        return "malformed at byte offset " + std::to_string(offset);
    case TAVIK_NO_MEMORY:
        return "out of memory";
    default:
        return tavik_last_error();  // the file changed since the load
    }
}

void load_profile(const Options &o) {
    if (o.profile != nullptr) {
        const int32_t rc = tavik_load_profile(o.profile);
        if (rc == TAVIK_NO_MEMORY) fatal("out of memory");
        if (rc != TAVIK_OK)
            fatal(std::string("cannot load profile ") + o.profile + ": " +
                  profile_fault(o.profile));
        return;
    }
    const std::span<const unsigned char> blob = tavik::cli::embedded_profile();
    if (blob.empty()) fatal("no embedded profile in this build; use --profile FILE");
    const int32_t rc = tavik_load_profile_memory(blob.data(), blob.size());
    if (rc == TAVIK_NO_MEMORY) fatal("out of memory");
    if (rc != TAVIK_OK)
        fatal(std::string("cannot load the embedded profile: ") + tavik_last_error());
}

int32_t explain_index(const char *code) {
    for (int32_t i = 0; i < tavik_profile_language_count(); ++i)
        if (std::strcmp(tavik_profile_language_code(i), code) == 0) return i;
    fatal(std::string("the profile has no language ") + code + " (see --list)");
}

// ------------------------------------------------------------------ input

std::string errno_text(const char *path) {
    return std::string("cannot read ") + path + ": " + std::strerror(errno);
}

// Reads a whole file, or standard input for "-"; false with errno set.
bool read_whole(const char *path, std::string *out) {
    const bool is_stdin = std::strcmp(path, "-") == 0;
    const int fd = is_stdin ? STDIN_FILENO : ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const tavik::cli::ReadFn read = tavik::cli::fd_reader(fd);
    char buf[1 << 16];
    long n;
    while ((n = read(buf, sizeof buf)) > 0) out->append(buf, static_cast<size_t>(n));
    const int saved = errno;
    if (!is_stdin) ::close(fd);
    errno = saved;
    return n == 0;
}

// The files of --file --lines as one stream of lines: a file whose last
// line has no line feed gets one, so that lines never run across files.
class FileChain {
public:
    explicit FileChain(const std::vector<const char *> &paths) : paths_(paths) {}
    ~FileChain() { close_current(); }
    FileChain(const FileChain &) = delete;
    FileChain &operator=(const FileChain &) = delete;

    long read(char *buf, size_t size) {
        for (;;) {
            if (fd_ < 0) {
                if (next_ == paths_.size()) return 0;
                path_ = paths_[next_++];
                owned_ = std::strcmp(path_, "-") != 0;
                fd_ = owned_ ? ::open(path_, O_RDONLY | O_CLOEXEC) : STDIN_FILENO;
                if (fd_ < 0) return fail();
            }
            const long n = tavik::cli::fd_reader(fd_)(buf, size);
            if (n < 0) return fail();
            if (n > 0) {
                at_line_start_ = buf[n - 1] == '\n';
                return n;
            }
            close_current();
            if (!at_line_start_) {
                at_line_start_ = true;
                buf[0] = '\n';
                return 1;
            }
        }
    }
    const std::string &error() const { return error_; }

private:
    long fail() {
        error_ = errno_text(path_);
        close_current();
        next_ = paths_.size();
        return -1;
    }
    void close_current() {
        if (fd_ >= 0 && owned_) ::close(fd_);
        fd_ = -1;
    }

    std::vector<const char *> paths_;
    size_t next_ = 0;
    int fd_ = -1;
    bool owned_ = false;
    const char *path_ = "";
    bool at_line_start_ = true;
    std::string error_;
};

// ----------------------------------------------------------------- output

void list_profile(tavik::cli::Output &out) {
    out.put("id\t");
    out.put_field(tavik_profile_id());
    out.put('\n');
    for (int32_t i = 0; i < tavik_profile_language_count(); ++i) {
        out.put("language\t");
        out.put_field(tavik_profile_language_code(i));
        out.put('\n');
    }
    for (int32_t i = 0; i < tavik_profile_meta_count(); ++i) {
        out.put("meta\t");
        out.put_field(tavik_profile_meta_key(i));
        out.put('	');
        out.put_field(tavik_profile_meta_value(i));
        out.put('\n');
    }
}

// Reports a text the library refused (malformed UTF-8 and the like) on
// standard error; ambiguous and too-short outcomes show on the output line.
void report_failure(int32_t rc, const std::string &where) {
    if (rc == TAVIK_NO_MEMORY) fatal("out of memory");
    if (rc != TAVIK_OK && rc != TAVIK_AMBIGUOUS && rc != TAVIK_TOO_FEW_NGRAMS)
        std::fprintf(stderr, "tavik: %s: %s (status %d)\n", where.c_str(), tavik_last_error(), rc);
}

// ------------------------------------------------------------------- eval

// `text` as Output::put_field writes it.
std::string escaped(std::string_view text) {
    std::string s;
    for (const char c : text) {
        const char *esc = c == '\t'   ? "\\t"
                          : c == '\n' ? "\\n"
                          : c == '\r' ? "\\r"
                          : c == '\\' ? "\\\\"
                                      : nullptr;
        if (esc != nullptr)
            s += esc;
        else
            s += c;
    }
    return s;
}

struct Tally {
    long texts = 0, correct = 0;
};

double percent(long part, long whole) {
    return whole == 0 ? 0.0 : 100.0 * static_cast<double>(part) / static_cast<double>(whole);
}

int run_eval(const Options &o) {
    const char *path = o.args[0];
    const bool is_stdin = std::strcmp(path, "-") == 0;
    const int fd = is_stdin ? STDIN_FILENO : ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) fatal(errno_text(path));
    Tally total;
    long ambiguous = 0, too_short = 0, malformed = 0;
    std::map<std::string, Tally> by_lang, by_label;
    std::map<std::pair<std::string, std::string>, long> confusions;
    tavik::cli::Identifier id(o.replace_invalid);
    const bool read_ok = tavik::cli::stream_lines(
        tavik::cli::fd_reader(fd), [&](std::string_view line, long line_no) {
            if (line.empty()) return;
            const size_t t1 = line.find('\t');
            if (t1 == std::string_view::npos || t1 == 0)
                fatal(std::string(path) + ":" + std::to_string(line_no) +
                      ": expected CODE<TAB>TEXT[<TAB>LABEL]");
            const std::string code(line.substr(0, t1));
            std::string_view text = line.substr(t1 + 1);
            std::optional<std::string> label;
            if (const size_t t2 = text.find('\t'); t2 != std::string_view::npos) {
                label = std::string(text.substr(t2 + 1));
                text = text.substr(0, t2);
            }
            const int32_t rc = id.identify(text);
            report_failure(rc, std::string(path) + ":" + std::to_string(line_no));
            const char *best = tavik_best_code();
            const bool ok = rc == TAVIK_OK && best != nullptr && code == best;
            ambiguous += rc == TAVIK_AMBIGUOUS;
            too_short += rc == TAVIK_TOO_FEW_NGRAMS;
            malformed += rc != TAVIK_OK && rc != TAVIK_AMBIGUOUS && rc != TAVIK_TOO_FEW_NGRAMS;
            if (rc == TAVIK_OK && !ok) ++confusions[{code, best != nullptr ? best : ""}];
            for (Tally *t : {&total, &by_lang[code]}) {
                ++t->texts;
                t->correct += ok;
            }
            if (label) {
                Tally &t = by_label[*label];
                ++t.texts;
                t.correct += ok;
            }
        });
    if (!read_ok) fatal(errno_text(path));
    if (!is_stdin) ::close(fd);

    // The most frequent first; equal counts in order of the code pair.
    std::vector<std::pair<long, std::pair<std::string, std::string>>> top;
    for (const auto &[pair, n] : confusions) top.push_back({-n, pair});
    std::sort(top.begin(), top.end());
    if (top.size() > 20) top.resize(20);

    tavik::cli::Output out(stdout);
    char buf[256];
    if (o.mode == Mode::Json) {
        out.put("{\"texts\":").put(total.texts).put(",\"correct\":").put(total.correct);
        std::snprintf(buf, sizeof buf,
                      ",\"accuracy\":%.4f,\"ambiguous\":%.4f,\"too_short\":%.4f,\"bad_utf8\":%.4f",
                      percent(total.correct, total.texts), percent(ambiguous, total.texts),
                      percent(too_short, total.texts), percent(malformed, total.texts));
        out.put(buf);
        auto groups = [&](const char *name, const std::map<std::string, Tally> &m) {
            out.put(",\"").put(name).put("\":{");
            bool first = true;
            for (const auto &[key, t] : m) {
                if (!first) out.put(',');
                first = false;
                out.put_json_string(key).put(":{\"texts\":").put(t.texts);
                out.put(",\"correct\":").put(t.correct);
                std::snprintf(buf, sizeof buf, ",\"accuracy\":%.4f}", percent(t.correct, t.texts));
                out.put(buf);
            }
            out.put('}');
        };
        groups("languages", by_lang);
        groups("labels", by_label);
        out.put(",\"confusions\":[");
        for (size_t i = 0; i < top.size(); ++i) {
            if (i > 0) out.put(',');
            out.put("{\"expected\":").put_json_string(top[i].second.first);
            out.put(",\"got\":").put_json_string(top[i].second.second);
            out.put(",\"count\":").put(-top[i].first).put('}');
        }
        out.put("]}\n");
    } else {
        std::snprintf(buf, sizeof buf,
                      "texts %ld  correct %ld  accuracy %.2f%%  ambiguous %.2f%%  "
                      "too-short %.2f%%  bad-utf8 %.2f%%\n",
                      total.texts, total.correct, percent(total.correct, total.texts),
                      percent(ambiguous, total.texts), percent(too_short, total.texts),
                      percent(malformed, total.texts));
        out.put(buf);
        auto table = [&](const char *title, const std::map<std::string, Tally> &m) {
            if (m.empty()) return;
            out.put(title).put('\n');
            for (const auto &[key, t] : m) {
                std::snprintf(buf, sizeof buf, "  %-10s %7ld  %7.2f%%\n", escaped(key).c_str(),
                              t.texts, percent(t.correct, t.texts));
                out.put(buf);
            }
        };
        table("by language:", by_lang);
        table("by label:", by_label);
        if (!top.empty()) out.put("confusions (expected -> got):\n");
        for (const auto &[n, pair] : top) {
            out.put("  ").put_field(pair.first).put(" -> ").put_field(pair.second);
            std::snprintf(buf, sizeof buf, "  %ld\n", -n);
            out.put(buf);
        }
    }
    if (!out.flush()) fatal("cannot write standard output");
    return ambiguous + too_short + malformed == 0 ? 0 : 1;
}

// ------------------------------------------------------------ identifying

struct Run {
    const Options &o;
    tavik::cli::Identifier id;
    tavik::cli::Output out{stdout};
    int32_t explain = -1;
    bool all_identified = true;

    explicit Run(const Options &opts) : o(opts), id(opts.replace_invalid) {}

    // Identifies one text and writes its line; `where` names it in messages.
    void text(std::string_view text, const std::string &where) {
        const int32_t rc = id.identify(text);
        if (rc == TAVIK_NO_MEMORY) {
            out.flush();
            fatal("out of memory");
        }
        all_identified = all_identified && rc == TAVIK_OK;
        report_failure(rc, where);
        switch (o.mode) {
        case Mode::Json:
            out.put(tavik_result_json()).put('\n');
            break;
        case Mode::Explain:
            out.put(tavik_explain(explain)).put('\n');
            break;
        case Mode::Plain:
            id.write_plain(out, rc, o.all);
            break;
        }
    }
    void line(std::string_view content, long number) {
        text(content, "line " + std::to_string(number));
    }
};

int run_identify(const Options &o) {
    Run run(o);
    if (o.mode == Mode::Explain) run.explain = explain_index(o.explain_code);
    if (o.lines) {
        FileChain files(o.args);
        const tavik::cli::ReadFn read =
            o.files
                ? tavik::cli::ReadFn([&](char *buf, size_t size) { return files.read(buf, size); })
                : tavik::cli::fd_reader(STDIN_FILENO);
        const tavik::cli::LineFn each = [&](std::string_view line, long n) { run.line(line, n); };
        if (o.jobs > 1) {
            std::string error;
            const int status =
                tavik::cli::run_jobs(o.jobs, read, each, run.out, &run.all_identified, &error);
            if (!files.error().empty()) error = files.error();
            if (status == 2) fatal(error);
            return status;
        }
        if (!tavik::cli::stream_lines(read, each)) {
            run.out.flush();
            fatal(o.files ? files.error() : errno_text("standard input"));
        }
    } else if (o.files) {
        for (const char *path : o.args) {
            std::string data;
            if (!read_whole(path, &data)) {
                const std::string why = errno_text(path);
                run.out.flush();
                fatal(why);
            }
            run.text(data, std::strcmp(path, "-") == 0 ? "standard input" : path);
        }
    } else if (!o.args.empty()) {
        std::string text;
        for (size_t i = 0; i < o.args.size(); ++i) {
            if (i > 0) text += ' ';
            text += o.args[i];
        }
        run.text(text, "argument text");
    } else {
        std::string data;
        if (!read_whole("-", &data)) fatal(errno_text("standard input"));
        run.text(data, "standard input");
    }
    if (!run.out.flush()) fatal("cannot write standard output");
    return run.all_identified ? 0 : 1;
}

int run(int argc, char **argv) {
    const Options o = parse_args(argc, argv);
    load_profile(o);
    apply_settings(o);
    if (o.list) {
        tavik::cli::Output out(stdout);
        list_profile(out);
        if (!out.flush()) fatal("cannot write standard output");
        return 0;
    }
    return o.eval ? run_eval(o) : run_identify(o);
}

}  // namespace

// Running out of memory ends the command with a message and status 2, not
// with an abort and a core.
int main(int argc, char **argv) {
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc &) {
        std::fflush(stdout);
        std::fputs("tavik: out of memory\n", stderr);
        return 2;
    }
}
