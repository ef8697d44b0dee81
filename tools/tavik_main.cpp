// SPDX-License-Identifier: MIT
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
#include <memory>
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
#include "engine.h"
#include "model_file.h"
#include "tavik/tavik_api.h"
#include "tavik/tavik_session.h"

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
    "  -j, --jobs N      with --lines or --file: N threads sharing one profile, output\n"
    "                    in input order (default: the processors this process may use)\n"
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
    "  --only CODES      consider only these languages (comma-separated codes)\n"
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
    int jobs = 0;  // 0: as many as the processors this process may use
    const char *profile = nullptr;
    const char *only = nullptr;  // candidate languages
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

// Out of memory while identifying: what was answered so far is written,
// then the command ends with status 2.  _Exit rather than exit, since
// worker threads may still be running.
[[noreturn]] void out_of_memory(tavik::cli::Output &out) {
    out.flush();
    std::fflush(stdout);
    std::fputs("tavik: out of memory\n", stderr);
    std::_Exit(2);
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
        } else if (a == "--only") {
            o.only = value("language codes");
        } else if (a == "--jobs" || a == "-j") {
            long n;
            if (!parse_int(value("a number"), 1, 256, &n))
                usage_error(std::string(a) + " needs 1 to 256");
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
    if (o.jobs > 1 && !o.lines && !o.files) usage_error("--jobs needs --lines or --file");
    if (o.lines && !o.files && !o.args.empty())
        usage_error("--lines reads standard input or --file, not text arguments");
    return o;
}

// The designed interface's settings, for --list.
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

// The model identification shares between threads, from the profile
// load_profile would load, with its messages.
tavik_model *open_model(const Options &o) {
    tavik_model *model = nullptr;
    if (o.profile != nullptr) {
        const int32_t rc = tavik_model_open(o.profile, &model);
        if (rc == TAVIK_NO_MEMORY) fatal("out of memory");
        if (rc != TAVIK_OK)
            fatal(std::string("cannot load profile ") + o.profile + ": " +
                  profile_fault(o.profile));
        return model;
    }
    const std::span<const unsigned char> blob = tavik::cli::embedded_profile();
    if (blob.empty()) fatal("no embedded profile in this build; use --profile FILE");
    const int32_t rc = tavik_model_open_memory(blob.data(), blob.size(), &model);
    if (rc == TAVIK_NO_MEMORY) fatal("out of memory");
    if (rc != TAVIK_OK) fatal("cannot load the embedded profile: bad profile memory");
    return model;
}

// The settings' value of min_ngrams, which plain output lifts for a while.
int32_t min_ngrams_of(const Options &o) {
    int32_t n = 40;
    for (const Setting &s : o.settings)
        if (s.kind == Setting::MinNgrams) n = static_cast<int32_t>(s.n);
    return n;
}

// A session on `model` with the settings and candidates of the command line.
tavik_session *new_session(tavik_model *model, const Options &o) {
    tavik_session *s = nullptr;
    if (tavik_session_new(model, &s) != TAVIK_OK) fatal("out of memory");
    for (const Setting &st : o.settings) {
        const auto v = static_cast<int32_t>(st.n);
        switch (st.kind) {
        case Setting::MinNgrams:
            tavik_session_set_min_ngrams(s, v);
            break;
        case Setting::MinMargin:
            tavik_session_set_min_margin(s, st.x);
            break;
        case Setting::SizePenalty:
            tavik_session_set_size_penalty(s, v);
            break;
        case Setting::MaxNgramLength:
            tavik_session_set_max_ngram_length(s, v);
            break;
        case Setting::MaxDistribution:
            tavik_session_set_max_distribution(s, v);
            break;
        case Setting::Threshold:
            tavik_session_set_occurance_threshold(s, v);
            break;
        }
    }
    if (tavik_session_set_candidates(s, o.only) != TAVIK_OK)
        usage_error(std::string("--only: ") + tavik_session_last_error(s));
    return s;
}

// One session per caller, released with it.
struct SessionRef {
    tavik_session *s;
    SessionRef(tavik_model *model, const Options &o) : s(new_session(model, o)) {}
    ~SessionRef() { tavik_session_free(s); }
    SessionRef(const SessionRef &) = delete;
    SessionRef &operator=(const SessionRef &) = delete;
};

int32_t explain_index(const tavik_session *s, const char *code) {
    for (int32_t i = 0; i < tavik_session_language_count(s); ++i)
        if (std::strcmp(tavik_session_language_code(s, i), code) == 0) return i;
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

// --list of a bundle (which the designed interface does not read): its
// identifier, members with their scripts, every language with its member
// number or "direct", the direct scripts, and the bundle's meta pairs.
// False when --profile names no bundle.
bool list_bundle(const Options &o) {
    tavik_model *model = nullptr;
    if (o.profile == nullptr || tavik_model_open(o.profile, &model) != TAVIK_OK) return false;
    const tavik::Routing *r = model->routing;
    if (r != nullptr) {
        tavik::cli::Output out(stdout);
        out.put("id\t").put_field(r->id).put('\n');
        for (int32_t m = 0; m < r->member_count; ++m) {
            out.put("member\t").put(long{m}).put('\t');
            const char *sep = "";
            for (int32_t k = 0; k < tavik_script_count(); ++k)
                if (r->route[k] == m) {
                    out.put(sep).put(tavik_script_name(k));
                    sep = ",";
                }
            out.put('\n');
            const tavik_profile &p = *r->members[m].profile;
            for (int32_t l = 0; l < p.lang_count; ++l)
                out.put("language\t").put_field(p.langs[l].code).put('\t').put(long{m}).put('\n');
        }
        for (int32_t k = 0; k < r->direct_count; ++k) {
            out.put("direct\t")
                .put(tavik_script_name(r->direct[k].script))
                .put('\t')
                .put_field(r->direct[k].code)
                .put('\n');
            out.put("language\t").put_field(r->direct[k].code).put("\tdirect\n");
        }
        for (int32_t i = 0; i < r->meta_count; ++i)
            out.put("meta\t")
                .put_field(r->meta[i].key)
                .put('\t')
                .put_field(r->meta[i].value)
                .put('\n');
        if (!out.flush()) fatal("cannot write standard output");
    }
    tavik_model_free(model);
    return r != nullptr;
}

// Reports a text the library refused (malformed UTF-8 and the like) on
// standard error; ambiguous and too-short outcomes show on the output line.
void report_failure(int32_t rc, const std::string &where, const tavik_session *s) {
    if (rc == TAVIK_NO_MEMORY) fatal("out of memory");
    if (rc != TAVIK_OK && rc != TAVIK_AMBIGUOUS && rc != TAVIK_TOO_FEW_NGRAMS &&
        rc != TAVIK_UNSUPPORTED_SCRIPT)
        std::fprintf(stderr, "tavik: %s: %s (status %d)\n", where.c_str(),
                     tavik_session_last_error(s), rc);
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

int run_eval(const Options &o, tavik_model *model) {
    const char *path = o.args[0];
    const bool is_stdin = std::strcmp(path, "-") == 0;
    const int fd = is_stdin ? STDIN_FILENO : ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) fatal(errno_text(path));
    Tally total;
    long ambiguous = 0, too_short = 0, malformed = 0;
    std::map<std::string, Tally> by_lang, by_label;
    std::map<std::pair<std::string, std::string>, long> confusions;
    const SessionRef session(model, o);
    tavik::cli::Identifier id(session.s, o.replace_invalid, min_ngrams_of(o));
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
            report_failure(rc, std::string(path) + ":" + std::to_string(line_no), session.s);
            const char *best = tavik_session_best_code(session.s);
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

// One thread's identification: its session, and the line of each text.
struct Run {
    const Options &o;
    SessionRef session;
    tavik::cli::Identifier id;
    int32_t explain = -1;

    Run(tavik_model *model, const Options &opts)
        : o(opts), session(model, opts), id(session.s, opts.replace_invalid, min_ngrams_of(opts)) {
        if (o.mode == Mode::Explain) explain = explain_index(session.s, o.explain_code);
    }

    // Identifies one text and writes its line; `where` names it in
    // messages.  False when the text was not identified.
    bool text(std::string_view text, const std::string &where, tavik::cli::Output &out) {
        const int32_t rc = id.identify(text);
        if (rc == TAVIK_NO_MEMORY) out_of_memory(out);
        report_failure(rc, where, session.s);
        switch (o.mode) {
        case Mode::Json:
            out.put(tavik_session_result_json(session.s)).put('\n');
            break;
        case Mode::Explain:
            out.put(tavik_session_explain(session.s, explain)).put('\n');
            break;
        case Mode::Plain:
            id.write_plain(out, rc, o.all);
            break;
        }
        return rc == TAVIK_OK;
    }
};

std::string line_name(long number) { return "line " + std::to_string(number); }

std::string file_name(const char *path) {
    return std::strcmp(path, "-") == 0 ? "standard input" : path;
}

// --lines and --file on `jobs` threads, each with a Run of its own.
int run_threads(const Options &o, tavik_model *model, int jobs, tavik::cli::Output &out) {
    std::vector<std::unique_ptr<Run>> runs;
    std::vector<tavik::cli::TextFn> workers;
    for (int k = 0; k < jobs; ++k) {
        Run &run = *runs.emplace_back(std::make_unique<Run>(model, o));
        if (o.lines)
            workers.emplace_back([&run](std::string_view text, long n, tavik::cli::Output &to) {
                return run.text(text, line_name(n), to);
            });
        else
            workers.emplace_back([&run, &o](std::string_view text, long n, tavik::cli::Output &to) {
                return run.text(text, file_name(o.args[static_cast<size_t>(n - 1)]), to);
            });
    }
    FileChain files(o.args);
    std::string read_error;
    tavik::cli::FillFn fill;
    if (o.lines) {
        fill = tavik::cli::line_batches(o.files ? tavik::cli::ReadFn([&](char *buf, size_t size) {
            return files.read(buf, size);
        })
                                                : tavik::cli::fd_reader(STDIN_FILENO));
    } else {
        // One file per batch, read whole.
        size_t next = 0;
        fill = [&o, &read_error, next](tavik::cli::Batch &b) mutable -> int {
            if (next == o.args.size()) return 0;
            const char *path = o.args[next++];
            b.bytes.clear();
            b.ends.clear();
            b.first = static_cast<long>(next);
            if (!read_whole(path, &b.bytes)) {
                read_error = errno_text(path);
                return -1;
            }
            b.ends.push_back(b.bytes.size());
            return 1;
        };
    }
    std::string error;
    const int status = tavik::cli::run_jobs(fill, workers, out, &error);
    if (!files.error().empty()) error = files.error();
    if (!read_error.empty()) error = read_error;
    if (status == 2) fatal(error);
    return status;
}

int run_identify(const Options &o, tavik_model *model) {
    tavik::cli::Output out(stdout);
    const int jobs = o.jobs > 0 ? o.jobs : tavik::cli::usable_cores();
    if ((o.lines || o.files) && jobs > 1) return run_threads(o, model, jobs, out);
    Run run(model, o);
    bool all_identified = true;
    auto text = [&](std::string_view t, const std::string &where) {
        all_identified = run.text(t, where, out) && all_identified;
    };
    if (o.lines) {
        FileChain files(o.args);
        const tavik::cli::ReadFn read =
            o.files
                ? tavik::cli::ReadFn([&](char *buf, size_t size) { return files.read(buf, size); })
                : tavik::cli::fd_reader(STDIN_FILENO);
        if (!tavik::cli::stream_lines(
                read, [&](std::string_view line, long n) { text(line, line_name(n)); })) {
            out.flush();
            fatal(o.files ? files.error() : errno_text("standard input"));
        }
    } else if (o.files) {
        for (const char *path : o.args) {
            std::string data;
            if (!read_whole(path, &data)) {
                const std::string why = errno_text(path);
                out.flush();
                fatal(why);
            }
            text(data, file_name(path));
        }
    } else if (!o.args.empty()) {
        std::string joined;
        for (size_t i = 0; i < o.args.size(); ++i) {
            if (i > 0) joined += ' ';
            joined += o.args[i];
        }
        text(joined, "argument text");
    } else {
        std::string data;
        if (!read_whole("-", &data)) fatal(errno_text("standard input"));
        text(data, "standard input");
    }
    if (!out.flush()) fatal("cannot write standard output");
    return all_identified ? 0 : 1;
}

int run(int argc, char **argv) {
    const Options o = parse_args(argc, argv);
    if (o.list && list_bundle(o)) return 0;
    if (o.list) {
        load_profile(o);
        apply_settings(o);
        tavik::cli::Output out(stdout);
        list_profile(out);
        if (!out.flush()) fatal("cannot write standard output");
        return 0;
    }
    // Identification runs on sessions over one model, on one thread or many.
    tavik_model *model = open_model(o);
    const int status = o.eval ? run_eval(o, model) : run_identify(o, model);
    tavik_model_free(model);
    return status;
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
