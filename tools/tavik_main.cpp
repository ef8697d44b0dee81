// SPDX-License-Identifier: MIT
// tavik_main.cpp - the `tavik` command: identifies the language of texts
// from arguments, standard input or files with the embedded default
// profile (or one given with --profile), and evaluates a profile against a
// labelled set.
//
// Output of a plain identification, one line per text:
//     [FILE <TAB>] CODE <TAB> CONFIDENCE [<TAB> MARK]
// FILE comes with several files (or -H).  MARK is absent for a clear
// answer; "ambiguous" or "too-short" name the closest language all the
// same, or "und" when the text has no n-gram; "bad-utf8" and "error" come
// with "und".  --json writes the versioned JSON Lines document of
// docs/cli-json.md instead.  Both come from one outcome (outcome.h).
// Exit status: 0 when every text was identified, 1 when some text was not,
// 2 for usage errors or an input that could not be read.

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <getopt.h>
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
#include "option_table.h"
#include "tavik/tavik_api.h"
#include "tavik/tavik_session.h"

namespace {

constexpr const char *kUsage =
    "usage: tavik [options] [TEXT...]\n"
    "       tavik [options] -f FILE...\n"
    "       tavik eval [options] FILE.tsv\n"
    "\n"
    "Names the language of a UTF-8 text: the words given as arguments form one\n"
    "text; without arguments standard input is read whole.  Options may stand\n"
    "anywhere; \"--\" ends them (\"tavik -- eval\" identifies the word \"eval\").\n"
    "A long option takes its value as --opt VALUE or --opt=VALUE, a short one\n"
    "as -j 4 or -j4; short options bundle (-lfj2).  Long names are not\n"
    "abbreviated.\n"
    "\n"
    "Input:\n"
    "  -f, --file           every argument is a file (\"-\": standard input), each\n"
    "                       one text; an unreadable file is reported and skipped\n"
    "  -l, --lines          every input line is a text; one output line per line\n"
    "  -H, --with-filename  start each line with the file's name and a tab (the\n"
    "                       default with several files)\n"
    "      --no-filename    never name the file\n"
    "      --replace-invalid  replace malformed UTF-8 by spaces instead of\n"
    "                       reporting it\n"
    "  -j, --jobs N         with --lines or --file: N threads sharing one profile,\n"
    "                       output in input order (default: the processors this\n"
    "                       process may use)\n"
    "NUL bytes count as spaces.\n"
    "Output (default: CODE<TAB>CONFIDENCE[<TAB>ambiguous|too-short|bad-utf8|error]):\n"
    "  ambiguous and too-short still name the closest language; a text without\n"
    "  any n-gram, malformed UTF-8 or another failure give \"und\".\n"
    "  Tab, line feed, carriage return and backslash in a code or file name are\n"
    "  written as \\t, \\n, \\r and \\\\, as --list writes them: one line per text.\n"
    "      --json           one line of the versioned JSON document per text:\n"
    "                       status, language, probability, reliable, confidence,\n"
    "                       n-grams and the closest languages (see man tavik)\n"
    "  -k, --top K          languages listed by --json (default 3) and --all\n"
    "                       (default all); 0 lists all\n"
    "      --result-json    the library's own result document per text\n"
    "  -a, --all            add the status word and the languages' distances\n"
    "                       (CODE:DISTANCE, closest first)\n"
    "  -e, --explain CODE   the explanation document of language CODE per text\n"
    "      --list           the profile's identifier, languages and meta pairs\n"
    "Profile and settings:\n"
    "  -p, --profile FILE   use FILE instead of the embedded profile\n"
    "  -o, --only CODES     consider only these languages (comma-separated codes)\n"
    "  --min-ngrams N  --min-margin X  --size-penalty 0|1  --max-ngram-length 1..7\n"
    "  --max-distribution N  --occurrence-threshold N\n"
    "  -h, --help           this text;  -V, --version  the version\n"
    "\n"
    "eval reads lines CODE<TAB>TEXT[<TAB>LABEL] and reports accuracy overall, per\n"
    "language, per script (the text's dominant one) and per label, the share of\n"
    "ambiguous, too-short and malformed texts (all counted as wrong), and the\n"
    "most frequent confusions; shares are in percent.\n"
    "      --min-accuracy X  exit 1 when the accuracy is below X: a fraction up\n"
    "                       to 1 (0.95), a percentage above 1 (95) or with %\n"
    "                       (95%)\n"
    "Exit status: 0 every text identified (eval: the report was written); 1 some\n"
    "text not identified (ambiguous, too short, malformed; eval: accuracy below\n"
    "--min-accuracy); 2 usage error, or an input that could not be read (the\n"
    "other files are still answered).\n";

enum class Mode { Plain, Json, ResultJson, Explain };

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
    int with_filename = -1;              // -1: with several files
    long top = -1;                       // -1: not given
    std::optional<double> min_accuracy;  // a fraction
    int jobs = 0;                        // 0: as many as the processors this process may use
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

// "0.95", "95" and "95%" all mean 95 %: a value up to 1 is a fraction.
bool parse_accuracy(const char *s, double *out) {
    std::string text = s;
    const bool percent = !text.empty() && text.back() == '%';
    if (percent) text.pop_back();
    double v;
    if (!parse_double(text.c_str(), &v) || v < 0.0) return false;
    if (percent || v > 1.0) v /= 100.0;
    if (v > 1.0) return false;
    *out = v;
    return true;
}

// ---------------------------------------------------------------- options

// Every option of the command, in one table: getopt_long's long options
// and short letters are made from it.
enum OptionId : int {
    kFile = 256,
    kLines,
    kWithFilename,
    kNoFilename,
    kReplaceInvalid,
    kJobs,
    kJson,
    kTop,
    kResultJson,
    kAll,
    kExplain,
    kList,
    kProfile,
    kOnly,
    kSetting,  // setting_id(Setting::Kind)
    kMinAccuracy = kSetting + 16,
    kHelp,
    kVersion,
};

constexpr int setting_id(Setting::Kind kind) { return kSetting + static_cast<int>(kind); }

struct OptionRow {
    const char *name;
    char letter;        // 0: long only
    const char *wants;  // what the value must be, nullptr: no value
    int id;
    long lo = 0, hi = 0;  // for integer settings
};

constexpr OptionRow kOptions[] = {
    {"file", 'f', nullptr, kFile},
    {"lines", 'l', nullptr, kLines},
    {"with-filename", 'H', nullptr, kWithFilename},
    {"no-filename", 0, nullptr, kNoFilename},
    {"replace-invalid", 0, nullptr, kReplaceInvalid},
    {"jobs", 'j', "a number", kJobs},
    {"json", 0, nullptr, kJson},
    {"top", 'k', "a number", kTop},
    {"result-json", 0, nullptr, kResultJson},
    {"all", 'a', nullptr, kAll},
    {"explain", 'e', "a language code", kExplain},
    {"list", 0, nullptr, kList},
    {"profile", 'p', "a file", kProfile},
    {"only", 'o', "language codes", kOnly},
    {"min-ngrams", 0, "an integer", setting_id(Setting::MinNgrams), INT32_MIN, INT32_MAX},
    {"min-margin", 0, "a number", setting_id(Setting::MinMargin)},
    {"size-penalty", 0, "0 or 1", setting_id(Setting::SizePenalty), 0, 1},
    {"max-ngram-length", 0, "1 to 7", setting_id(Setting::MaxNgramLength), 1, 7},
    {"max-distribution", 0, "a positive integer", setting_id(Setting::MaxDistribution), 1,
     INT32_MAX},
    {"occurrence-threshold", 0, "an integer of 0 or more", setting_id(Setting::Threshold), 0,
     INT32_MAX},
    {"min-accuracy", 0, "a fraction or percentage", kMinAccuracy},
    {"help", 'h', nullptr, kHelp},
    {"version", 'V', nullptr, kVersion},
};

// The option as it was written, for messages: "--jobs" or "-j".
std::string spelling(const char *arg, int letter) {
    const std::string_view a = arg;
    if (a.starts_with("--")) return std::string(a.substr(0, a.find('=')));
    return std::string("-") + static_cast<char>(letter);
}

void set_mode(Options &o, Mode mode) {
    const bool json = o.mode == Mode::Json || o.mode == Mode::ResultJson;
    if ((json && mode == Mode::Explain) || (o.mode == Mode::Explain && mode != Mode::Explain))
        usage_error("--json and --explain exclude each other");
    o.mode = mode;
}

void apply_option(Options &o, const OptionRow &row, const std::string &name, const char *value) {
    switch (row.id) {
    case kFile:
        o.files = true;
        return;
    case kLines:
        o.lines = true;
        return;
    case kWithFilename:
        o.with_filename = 1;
        return;
    case kNoFilename:
        o.with_filename = 0;
        return;
    case kReplaceInvalid:
        o.replace_invalid = true;
        return;
    case kJobs: {
        long n;
        if (!parse_int(value, 1, 256, &n)) usage_error(name + " needs 1 to 256");
        o.jobs = static_cast<int>(n);
        return;
    }
    case kJson:
        set_mode(o, Mode::Json);
        return;
    case kResultJson:
        set_mode(o, Mode::ResultJson);
        return;
    case kTop:
        if (!parse_int(value, 0, INT32_MAX, &o.top))
            usage_error(name + " needs a number of 0 or more, not '" + value + "'");
        return;
    case kAll:
        o.all = true;
        return;
    case kExplain:
        set_mode(o, Mode::Explain);
        o.explain_code = value;
        return;
    case kList:
        o.list = true;
        return;
    case kProfile:
        o.profile = value;
        return;
    case kOnly:
        o.only = value;
        return;
    case kMinAccuracy: {
        double x;
        if (!parse_accuracy(value, &x))
            usage_error(name + " needs a fraction (0.95) or a percentage (95, 95%), not '" + value +
                        "'");
        o.min_accuracy = x;
        return;
    }
    case kHelp:
        std::fputs(kUsage, stdout);
        std::exit(std::fflush(stdout) == 0 ? 0 : 2);
    case kVersion:
        std::printf("tavik %s\n", tavik_version());
        std::exit(std::fflush(stdout) == 0 ? 0 : 2);
    default:
        break;
    }
    Setting s{static_cast<Setting::Kind>(row.id - kSetting)};
    const bool ok = s.kind == Setting::MinMargin ? parse_double(value, &s.x)
                                                 : parse_int(value, row.lo, row.hi, &s.n);
    if (!ok) usage_error(name + " needs " + row.wants + ", not '" + value + "'");
    o.settings.push_back(s);
}

void check_options(const Options &o) {
    if (o.eval) {
        if (o.args.size() != 1) usage_error("eval needs one FILE.tsv");
        if (o.mode == Mode::Explain) usage_error("eval does not take --explain");
        if (o.all || o.lines || o.files || o.list || o.jobs > 1 || o.top >= 0 ||
            o.mode == Mode::ResultJson || o.with_filename >= 0)
            usage_error("eval takes only --json, --min-accuracy, --replace-invalid, --profile, "
                        "--only and settings");
        return;
    }
    if (o.min_accuracy) usage_error("--min-accuracy applies to eval only");
    if (o.list && (!o.args.empty() || o.files || o.lines)) usage_error("--list takes no text");
    if (o.all && o.mode != Mode::Plain) usage_error("--all applies to the plain output only");
    if (o.top >= 0 && !o.all && o.mode != Mode::Json) usage_error("--top needs --json or --all");
    if (o.files && o.args.empty()) usage_error("--file needs at least one file");
    if (o.jobs > 1 && !o.lines && !o.files) usage_error("--jobs needs --lines or --file");
    if (o.lines && !o.files && !o.args.empty())
        usage_error("--lines reads standard input or --file, not text arguments");
    if (o.with_filename >= 0 && !o.files) usage_error("--with-filename needs --file");
}

Options parse_args(int argc, char **argv) {
    static const tavik::cli::GetoptTables tables =
        tavik::cli::getopt_tables(kOptions, "+:", &OptionRow::wants);
    Options o;
    opterr = 0;
    optind = 1;
    while (optind < argc) {
        const int before = optind;
        const int c = getopt_long(argc, argv, tables.shorts.c_str(), tables.longs.data(), nullptr);
        if (c == -1) {
            if (optind == before + 1 && std::strcmp(argv[before], "--") == 0) {
                // After "--" everything is text, "eval" and option-like words too.
                while (optind < argc) o.args.push_back(argv[optind++]);
                break;
            }
            // "eval" in the place of the first text names the evaluation.
            const char *arg = argv[optind++];
            if (!o.eval && o.args.empty() && std::strcmp(arg, "eval") == 0)
                o.eval = true;
            else
                o.args.push_back(arg);
            continue;
        }
        // Without permutation an option starts where the call began, also
        // inside a bundle of letters and when its value is the next argument.
        const char *typed = argv[before];
        const bool is_long = std::string_view(typed).starts_with("--");
        if (c == '?') {
            // optopt: the option given a value it does not take, the letter
            // of an unknown short option, or 0 for an unknown long name.
            if (!is_long) usage_error("unknown option " + spelling(typed, optopt));
            if (optopt != 0) usage_error(spelling(typed, optopt) + " takes no value");
            usage_error("unknown option " + spelling(typed, optopt));
        }
        const OptionRow *row = tavik::cli::option_of(kOptions, c == ':' ? optopt : c);
        // Long names are taken in full only: getopt_long's abbreviations
        // would change meaning as options are added.
        if (row == nullptr || (is_long && spelling(typed, 0).substr(2) != row->name))
            usage_error("unknown option " + spelling(typed, optopt));
        if (c == ':') usage_error(spelling(typed, row->letter) + " needs " + row->wants);
        apply_option(o, *row, spelling(typed, row->letter), optarg);
    }
    check_options(o);
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

// "FILE: reason" for the errno of a failed read; standard input by name.
std::string errno_text(const char *path) {
    const char *name = std::strcmp(path, "-") == 0 ? "standard input" : path;
    return std::string(name) + ": " + std::strerror(errno);
}

// An input file held open for reading: standard input for "-".
class InFile {
public:
    explicit InFile(const char *path)
        : stdin_(std::strcmp(path, "-") == 0),
          fd_(stdin_ ? STDIN_FILENO : ::open(path, O_RDONLY | O_CLOEXEC)) {}
    ~InFile() {
        if (fd_ >= 0 && !stdin_) ::close(fd_);
    }
    InFile(const InFile &) = delete;
    InFile &operator=(const InFile &) = delete;
    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }

private:
    bool stdin_;
    int fd_;
};

// Reads a whole file, or standard input for "-"; false with errno set.
bool read_whole(const char *path, std::string *out) {
    const InFile f(path);
    if (!f.ok()) return false;
    const tavik::cli::ReadFn read = tavik::cli::fd_reader(f.fd());
    char buf[1 << 16];
    long n;
    while ((n = read(buf, sizeof buf)) > 0) out->append(buf, static_cast<size_t>(n));
    return n == 0;
}

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

// The model of --profile, or of the embedded profile without it; nullptr
// when it cannot be opened (the designed load then says why).
tavik_model *try_open_model(const Options &o) {
    tavik_model *model = nullptr;
    if (o.profile != nullptr)
        return tavik_model_open(o.profile, &model) == TAVIK_OK ? model : nullptr;
    const std::span<const unsigned char> blob = tavik::cli::embedded_profile();
    if (blob.empty()) return nullptr;
    return tavik_model_open_memory(blob.data(), blob.size(), &model) == TAVIK_OK ? model : nullptr;
}

// --list of a bundle (which the designed interface does not read): its
// identifier, members with their scripts, every language with its member
// number or "direct", the direct scripts, and the bundle's meta pairs.
// False when the profile (--profile or the embedded one) is no bundle.
bool list_bundle(const Options &o) {
    tavik_model *model = try_open_model(o);
    if (model == nullptr) return false;
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

// The name of the text's dominant script, "none" when it has no letter (or
// is not UTF-8).
std::string script_of(std::string_view text) {
    int32_t dominant = -1;
    tavik_text_scripts(text.data(), text.size(), nullptr, &dominant);
    const char *name = dominant >= 0 ? tavik_script_name(dominant) : nullptr;
    return name != nullptr ? name : "none";
}

struct EvalReport {
    Tally total;
    long ambiguous = 0, too_short = 0, malformed = 0;
    std::map<std::string, Tally> by_lang, by_script, by_label;
    std::map<std::pair<std::string, std::string>, long> confusions;

    // The most frequent first; equal counts in order of the code pair.
    std::vector<std::pair<long, std::pair<std::string, std::string>>> top_confusions() const {
        std::vector<std::pair<long, std::pair<std::string, std::string>>> top;
        for (const auto &[pair, n] : confusions) top.push_back({-n, pair});
        std::sort(top.begin(), top.end());
        if (top.size() > 20) top.resize(20);
        return top;
    }
};

void write_eval_json(const EvalReport &r, tavik::cli::Output &out) {
    char buf[256];
    out.put("{\"texts\":").put(r.total.texts).put(",\"correct\":").put(r.total.correct);
    std::snprintf(buf, sizeof buf,
                  ",\"accuracy\":%.4f,\"ambiguous\":%.4f,\"too_short\":%.4f,\"bad_utf8\":%.4f",
                  percent(r.total.correct, r.total.texts), percent(r.ambiguous, r.total.texts),
                  percent(r.too_short, r.total.texts), percent(r.malformed, r.total.texts));
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
    groups("languages", r.by_lang);
    groups("labels", r.by_label);
    out.put(",\"confusions\":[");
    const auto top = r.top_confusions();
    for (size_t i = 0; i < top.size(); ++i) {
        if (i > 0) out.put(',');
        out.put("{\"expected\":").put_json_string(top[i].second.first);
        out.put(",\"got\":").put_json_string(top[i].second.second);
        out.put(",\"count\":").put(-top[i].first).put('}');
    }
    out.put(']');
    groups("scripts", r.by_script);
    out.put("}\n");
}

void write_eval_plain(const EvalReport &r, tavik::cli::Output &out) {
    char buf[256];
    std::snprintf(buf, sizeof buf,
                  "texts %ld  correct %ld  accuracy %.2f%%  ambiguous %.2f%%  "
                  "too-short %.2f%%  bad-utf8 %.2f%%\n",
                  r.total.texts, r.total.correct, percent(r.total.correct, r.total.texts),
                  percent(r.ambiguous, r.total.texts), percent(r.too_short, r.total.texts),
                  percent(r.malformed, r.total.texts));
    out.put(buf);
    auto table = [&](const char *title, const std::map<std::string, Tally> &m) {
        if (m.empty()) return;
        out.put(title).put('\n');
        for (const auto &[key, t] : m) {
            std::snprintf(buf, sizeof buf, "  %-10s %7ld  %7.2f%%\n", escaped(key).c_str(), t.texts,
                          percent(t.correct, t.texts));
            out.put(buf);
        }
    };
    table("by language:", r.by_lang);
    table("by script:", r.by_script);
    table("by label:", r.by_label);
    const auto top = r.top_confusions();
    if (!top.empty()) out.put("confusions (expected -> got):\n");
    for (const auto &[n, pair] : top) {
        out.put("  ").put_field(pair.first).put(" -> ").put_field(pair.second);
        std::snprintf(buf, sizeof buf, "  %ld\n", -n);
        out.put(buf);
    }
}

// Exits 0 once the report is written, whatever the accuracy, unless
// --min-accuracy asks for more than was reached.
int run_eval(const Options &o, tavik_model *model) {
    const char *path = o.args[0];
    const InFile in(path);
    if (!in.ok()) fatal(errno_text(path));
    EvalReport r;
    const SessionRef session(model, o);
    tavik::cli::Identifier id(session.s, o.replace_invalid);
    const bool read_ok = tavik::cli::stream_lines(
        tavik::cli::fd_reader(in.fd()), [&](std::string_view line, long line_no) {
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
            const int32_t rc = id.identify(text, 1);
            report_failure(rc, std::string(path) + ":" + std::to_string(line_no), session.s);
            const tavik::outcome::Outcome &out = id.outcome();
            const bool ok = rc == TAVIK_OK && out.named && code == out.code;
            r.ambiguous += rc == TAVIK_AMBIGUOUS;
            r.too_short += rc == TAVIK_TOO_FEW_NGRAMS;
            r.malformed += !tavik::outcome::is_answer(rc);
            if (rc == TAVIK_OK && !ok) ++r.confusions[{code, out.named ? out.code : ""}];
            for (Tally *t : {&r.total, &r.by_lang[code], &r.by_script[script_of(text)]}) {
                ++t->texts;
                t->correct += ok;
            }
            if (label) {
                Tally &t = r.by_label[*label];
                ++t.texts;
                t.correct += ok;
            }
        });
    if (!read_ok) fatal(errno_text(path));

    tavik::cli::Output out(stdout);
    if (o.mode == Mode::Json)
        write_eval_json(r, out);
    else
        write_eval_plain(r, out);
    if (!out.flush()) fatal("cannot write standard output");
    if (!o.min_accuracy) return 0;
    const double accuracy = r.total.texts == 0 ? 0.0
                                               : static_cast<double>(r.total.correct) /
                                                     static_cast<double>(r.total.texts);
    return accuracy + 1e-12 >= *o.min_accuracy ? 0 : 1;
}

// ------------------------------------------------------------ identifying

// One thread's identification: its session, and the line of each text.
struct Run {
    const Options &o;
    SessionRef session;
    tavik::cli::Identifier id;
    int32_t explain = -1;
    long top = 0;

    Run(tavik_model *model, const Options &opts)
        : o(opts), session(model, opts), id(session.s, opts.replace_invalid) {
        if (o.mode == Mode::Explain) explain = explain_index(session.s, o.explain_code);
        top = o.top >= 0 ? o.top : (o.mode == Mode::Json ? 3 : 0);
    }

    // Identifies one text and writes its line; `where` names it in
    // messages.  False when the text was not identified.
    bool text(std::string_view text, const tavik::cli::Origin &origin, const std::string &where,
              tavik::cli::Output &out) {
        const bool designed = o.mode == Mode::Explain || o.mode == Mode::ResultJson;
        const long keep = o.mode == Mode::Plain && !o.all ? 1 : top;
        const int32_t rc = designed ? id.identify_plain(text) : id.identify(text, keep);
        if (rc == TAVIK_NO_MEMORY) out_of_memory(out);
        report_failure(rc, where, session.s);
        switch (o.mode) {
        case Mode::Json:
            id.write_json(out, origin, top);
            break;
        case Mode::ResultJson:
            out.put(tavik_session_result_json(session.s)).put('\n');
            break;
        case Mode::Explain:
            out.put(tavik_session_explain(session.s, explain)).put('\n');
            break;
        case Mode::Plain:
            id.write_plain(out, origin, o.all, top);
            break;
        }
        return designed ? rc == TAVIK_OK : id.outcome().status == TAVIK_OK;
    }
};

// Where a text is, for messages: "standard input", "FILE", "line N" of
// standard input, or "FILE:N".
std::string where_of(const char *path, long line) {
    const std::string file = path == nullptr               ? ""
                             : std::strcmp(path, "-") == 0 ? "standard input"
                                                           : path;
    if (line <= 0) return file;
    if (path == nullptr) return "line " + std::to_string(line);
    return file + ":" + std::to_string(line);
}

// The identification of one invocation: texts from arguments, standard
// input or files, on one thread or several.
class Identify {
public:
    Identify(const Options &o, tavik_model *model) : o_(o), model_(model), out_(stdout) {
        jobs_ = o.jobs > 0 ? o.jobs : tavik::cli::usable_cores();
        names_ = o.files && (o.with_filename == 1 || (o.with_filename < 0 && o.args.size() > 1));
    }

    int run() {
        if (o_.files && o_.lines)
            for (const char *path : o_.args) file_lines(path);
        else if (o_.files)
            whole_files();
        else if (o_.lines)
            stdin_lines();
        else
            one_text();
        if (!out_.flush()) fatal("cannot write standard output");
        return unreadable_ ? 2 : all_identified_ ? 0 : 1;
    }

private:
    bool threaded() const { return jobs_ > 1 && (o_.lines || o_.files); }

    Run &single() {
        if (!single_) single_ = std::make_unique<Run>(model_, o_);
        return *single_;
    }

    void answer(std::string_view text, const char *path, long line) {
        const tavik::cli::Origin origin{names_ ? path : nullptr, line};
        all_identified_ =
            single().text(text, origin, where_of(path, line), out_) && all_identified_;
    }

    // An input that cannot be read is named on standard error with the
    // system's reason; the others are still answered, and the status is 2.
    void unreadable(const char *path, int err) {
        out_.flush();
        std::fprintf(stderr, "tavik: %s: %s\n",
                     std::strcmp(path, "-") == 0 ? "standard input" : path, std::strerror(err));
        unreadable_ = true;
    }

    void one_text() {
        if (!o_.args.empty()) {
            std::string joined;
            for (size_t i = 0; i < o_.args.size(); ++i) {
                if (i > 0) joined += ' ';
                joined += o_.args[i];
            }
            const tavik::cli::Origin none;
            all_identified_ = single().text(joined, none, "argument text", out_);
            return;
        }
        std::string data;
        if (!read_whole("-", &data)) fatal(errno_text("-"));
        answer(data, "-", 0);
    }

    void stdin_lines() {
        if (threaded()) {
            lines_threaded(tavik::cli::fd_reader(STDIN_FILENO), nullptr);
            if (read_errno_ != 0)
                fatal(std::string("standard input: ") + std::strerror(read_errno_));
            return;
        }
        if (!tavik::cli::stream_lines(
                tavik::cli::fd_reader(STDIN_FILENO),
                [&](std::string_view line, long n) { answer(line, nullptr, n); })) {
            out_.flush();
            fatal(errno_text("-"));
        }
    }

    void file_lines(const char *path) {
        const InFile in(path);
        if (!in.ok()) return unreadable(path, errno);
        if (threaded()) {
            lines_threaded(tavik::cli::fd_reader(in.fd()), path);
            if (read_errno_ != 0) unreadable(path, read_errno_);
            return;
        }
        if (!tavik::cli::stream_lines(
                tavik::cli::fd_reader(in.fd()),
                [&](std::string_view line, long n) { answer(line, path, n); }))
            unreadable(path, errno);
    }

    void whole_files() {
        if (threaded()) return files_threaded();
        for (const char *path : o_.args) {
            std::string data;
            if (!read_whole(path, &data)) {
                unreadable(path, errno);
                continue;
            }
            answer(data, path, 0);
        }
    }

    std::vector<tavik::cli::TextFn> &workers(const char *const *path, bool lines) {
        if (!runs_.empty()) return workers_;
        for (int k = 0; k < jobs_; ++k) {
            Run &run = *runs_.emplace_back(std::make_unique<Run>(model_, o_));
            workers_.emplace_back(
                [&run, this, path, lines](std::string_view text, long n, tavik::cli::Output &to) {
                    // Lines count within their file; whole files by argument.
                    const char *file = lines ? *path : o_.args[static_cast<size_t>(n - 1)];
                    const long line = lines ? n : 0;
                    const tavik::cli::Origin origin{names_ ? file : nullptr, line};
                    return run.text(text, origin, where_of(file, line), to);
                });
        }
        return workers_;
    }

    // The lines of one input on the threads; a read error leaves its errno
    // in read_errno_ after the lines before it were answered.
    void lines_threaded(const tavik::cli::ReadFn &read, const char *path) {
        current_ = path;
        read_errno_ = 0;
        const tavik::cli::ReadFn counted = [this, &read](char *buf, size_t size) {
            const long n = read(buf, size);
            if (n < 0) read_errno_ = errno;
            return n;
        };
        collect(tavik::cli::line_batches(counted), workers(&current_, true));
    }

    // One file per batch, read whole; unreadable ones are reported and
    // skipped.
    void files_threaded() {
        size_t next = 0;
        const tavik::cli::FillFn fill = [this, &next](tavik::cli::Batch &b) -> int {
            for (;;) {
                if (next == o_.args.size()) return 0;
                const char *path = o_.args[next++];
                b.bytes.clear();
                b.ends.clear();
                b.first = static_cast<long>(next);
                if (!read_whole(path, &b.bytes)) {
                    unreadable(path, errno);
                    continue;
                }
                b.ends.push_back(b.bytes.size());
                return 1;
            }
        };
        collect(fill, workers(nullptr, false));
    }

    void collect(const tavik::cli::FillFn &fill, const std::vector<tavik::cli::TextFn> &fns) {
        std::string error;
        const int status = tavik::cli::run_jobs(fill, fns, out_, &error);
        if (status == 1) all_identified_ = false;
        if (status == 2 && read_errno_ == 0) fatal(error);
    }

    const Options &o_;
    tavik_model *model_;
    tavik::cli::Output out_;
    int jobs_ = 1;
    bool names_ = false;
    bool all_identified_ = true;
    bool unreadable_ = false;
    int read_errno_ = 0;
    const char *current_ = nullptr;
    std::unique_ptr<Run> single_;
    std::vector<std::unique_ptr<Run>> runs_;
    std::vector<tavik::cli::TextFn> workers_;
};

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
    const int status = o.eval ? run_eval(o, model) : Identify(o, model).run();
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
