// tavik_main.cpp - the `tavik` command: identifies the language of texts
// from arguments, standard input or files with the embedded default
// profile (or one given with --profile), and evaluates a profile against a
// labelled set.
//
// Output of a plain identification, one line per text:
//     CODE <TAB> CONFIDENCE [<TAB> MARK]
// MARK is absent for a clear answer; "ambiguous" or "too-short" name the
// closest language all the same; "bad-utf8" and "error" come with the
// undetermined code "und".  Exit status: 0 when every text was identified,
// 1 when some text was not, 2 for usage or I/O errors.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli_output.h"
#include "embedded_profile.h"
#include "tavik_api.h"

namespace {

constexpr const char *kUsage =
    "usage: tavik [options] [TEXT...]\n"
    "       tavik [options] --file FILE...\n"
    "       tavik eval [--json] [options] FILE.tsv\n"
    "\n"
    "Names the language of a UTF-8 text: the words given as arguments form one\n"
    "text; without arguments standard input is read whole.\n"
    "\n"
    "Input:\n"
    "  --file            every remaining argument is a file, each one text\n"
    "  --lines           every input line is a text; one output line per input line\n"
    "  --replace-invalid replace malformed UTF-8 by spaces instead of reporting it\n"
    "  --jobs N          with --lines: N worker processes, output in input order\n"
    "Output (default: CODE<TAB>CONFIDENCE[<TAB>ambiguous|too-short|bad-utf8]):\n"
    "  --json            the result document per text (JSON Lines with --lines)\n"
    "  --all             add the status and every language's distance\n"
    "  --explain CODE    the explanation document of language CODE per text\n"
    "  --list            the profile's identifier, languages and meta pairs\n"
    "Profile and settings:\n"
    "  --profile FILE    use FILE instead of the embedded profile\n"
    "  --min-ngrams N  --min-margin X  --size-penalty 0|1  --max-ngram-length N\n"
    "  --max-distribution N  --occurrence-threshold N\n"
    "  --help, --version\n"
    "\n"
    "eval reads lines CODE<TAB>TEXT[<TAB>LABEL] and reports accuracy overall, per\n"
    "language and per label, the share of ambiguous and too-short outcomes, and\n"
    "the most frequent confusions; ambiguous and too-short count as wrong.\n"
    "Exit status: 0 all texts identified, 1 some not, 2 usage or I/O error.\n";

enum class Mode { Plain, Json, Explain };

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
    std::vector<std::pair<std::string, std::string>> settings;  // in command-line order
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
    if (errno != 0 || end == s || *end != '\0') return false;
    *out = v;
    return true;
}

constexpr const char *kSettingNames[] = {"--min-ngrams",       "--min-margin",
                                         "--size-penalty",     "--max-ngram-length",
                                         "--max-distribution", "--occurrence-threshold"};

bool is_setting(std::string_view arg) {
    return std::find(std::begin(kSettingNames), std::end(kSettingNames), arg) !=
           std::end(kSettingNames);
}

Options parse_args(int argc, char **argv) {
    Options o;
    int i = 1;
    if (argc > 1 && std::strcmp(argv[1], "eval") == 0) {
        o.eval = true;
        i = 2;
    }
    bool only_args = false;
    for (; i < argc; ++i) {
        const std::string_view a = argv[i];
        auto value = [&](const char *what) -> const char * {
            if (i + 1 >= argc) usage_error(std::string(a) + " needs " + what);
            return argv[++i];
        };
        if (only_args || a.empty() || a[0] != '-' || a == "-") {
            o.args.push_back(argv[i]);
        } else if (a == "--") {
            only_args = true;
        } else if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (a == "--version") {
            std::printf("tavik %s\n", tavik_version());
            std::exit(0);
        } else if (a == "--json") {
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
            o.mode = Mode::Explain;
            o.explain_code = value("a language code");
        } else if (a == "--jobs") {
            long n;
            if (!parse_int(value("a number"), 1, 256, &n)) usage_error("--jobs needs 1 to 256");
            o.jobs = static_cast<int>(n);
        } else if (is_setting(a)) {
            o.settings.emplace_back(std::string(a), value("a value"));
        } else {
            usage_error("unknown option " + std::string(a));
        }
    }
    if (o.eval && o.args.size() != 1) usage_error("eval needs one FILE.tsv");
    if (o.eval && o.mode == Mode::Explain) usage_error("eval does not take --explain");
    if (o.files && o.args.empty()) usage_error("--file needs at least one file");
    if (o.files && o.lines && o.jobs > 1) usage_error("--jobs reads standard input only");
    if (o.jobs > 1 && !o.lines) usage_error("--jobs needs --lines");
    return o;
}

void apply_settings(const Options &o) {
    for (const auto &[name, text] : o.settings) {
        long n;
        double x;
        if (name == "--min-margin") {
            if (!parse_double(text.c_str(), &x)) usage_error(name + " needs a number");
            tavik_set_min_margin(x);
            continue;
        }
        if (!parse_int(text.c_str(), INT32_MIN, INT32_MAX, &n))
            usage_error(name + " needs an integer");
        const auto v = static_cast<int32_t>(n);
        if (name == "--min-ngrams") tavik_set_min_ngrams(v);
        else if (name == "--size-penalty") tavik_set_size_penalty(v);
        else if (name == "--max-ngram-length") tavik_set_max_ngram_length(v);
        else if (name == "--max-distribution") tavik_set_max_distribution(v);
        else tavik_set_occurance_threshold(v);
    }
}

void load_profile(const Options &o) {
    if (o.profile != nullptr) {
        if (tavik_load_profile(o.profile) != TAVIK_OK)
            fatal(std::string("cannot load profile ") + o.profile + ": " + tavik_last_error());
        return;
    }
    const std::span<const unsigned char> blob = tavik::cli::embedded_profile();
    if (blob.empty()) fatal("no embedded profile in this build; use --profile FILE");
    if (tavik_load_profile_memory(blob.data(), blob.size()) != TAVIK_OK)
        fatal(std::string("cannot load the embedded profile: ") + tavik_last_error());
}

int32_t explain_index(const char *code) {
    for (int32_t i = 0; i < tavik_profile_language_count(); ++i)
        if (std::strcmp(tavik_profile_language_code(i), code) == 0) return i;
    usage_error(std::string("the profile has no language ") + code);
}

// ------------------------------------------------------------------ input

bool read_all(FILE *f, std::string *out) {
    char buf[1 << 16];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out->append(buf, n);
    return std::ferror(f) == 0;
}

bool read_path(const char *path, std::string *out) {
    FILE *f = std::fopen(path, "rb");
    if (f == nullptr) return false;
    const bool ok = read_all(f, out);
    std::fclose(f);
    return ok;
}

// ----------------------------------------------------------------- output

void list_profile(tavik::cli::Output &out) {
    out.put("id\t").put(tavik_profile_id()).put('\n');
    for (int32_t i = 0; i < tavik_profile_language_count(); ++i)
        out.put("language\t").put(tavik_profile_language_code(i)).put('\n');
    const tavik_profile *p = tavik_get_state()->profile;
    for (int32_t i = 0; i < p->meta_count; ++i)
        out.put("meta\t").put(p->meta[i].key).put('\t').put(p->meta[i].value).put('\n');
}

// ------------------------------------------------------------------- eval

struct Tally {
    long texts = 0, correct = 0;
};

double percent(long part, long whole) { return whole == 0 ? 0.0 : 100.0 * part / whole; }

int run_eval(const Options &o) {
    std::string data;
    if (!read_path(o.args[0], &data)) fatal(std::string("cannot read ") + o.args[0]);
    Tally total;
    long ambiguous = 0, too_short = 0, bad = 0;
    std::map<std::string, Tally> by_lang, by_label;
    std::map<std::pair<std::string, std::string>, long> confusions;
    tavik::cli::Identifier id(o.replace_invalid);
    size_t pos = 0;
    long line_no = 0;
    while (pos < data.size()) {
        size_t end = data.find('\n', pos);
        if (end == std::string::npos) end = data.size();
        std::string_view line(data.data() + pos, end - pos);
        pos = end + 1;
        ++line_no;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        const size_t t1 = line.find('\t');
        if (t1 == std::string_view::npos)
            fatal(std::string(o.args[0]) + ":" + std::to_string(line_no) + ": no tab");
        const std::string code(line.substr(0, t1));
        std::string_view text = line.substr(t1 + 1);
        std::string label;
        if (const size_t t2 = text.find('\t'); t2 != std::string_view::npos) {
            label = std::string(text.substr(t2 + 1));
            text = text.substr(0, t2);
        }
        const int32_t rc = id.identify(text);
        const bool ok = rc == TAVIK_OK && std::strcmp(tavik_best_code(), code.c_str()) == 0;
        ambiguous += rc == TAVIK_AMBIGUOUS;
        too_short += rc == TAVIK_TOO_FEW_NGRAMS;
        bad += rc != TAVIK_OK && rc != TAVIK_AMBIGUOUS && rc != TAVIK_TOO_FEW_NGRAMS;
        if (rc == TAVIK_OK && !ok) ++confusions[{code, tavik_best_code()}];
        for (Tally *t : {&total, &by_lang[code], &by_label[label]}) {
            ++t->texts;
            t->correct += ok;
        }
    }
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
                      percent(too_short, total.texts), percent(bad, total.texts));
        out.put(buf);
        auto groups = [&](const char *name, const std::map<std::string, Tally> &m) {
            out.put(",\"").put(name).put("\":{");
            bool first = true;
            for (const auto &[key, t] : m) {
                if (!first) out.put(',');
                first = false;
                out.put_json_string(key).put(":{\"texts\":").put(t.texts);
                std::snprintf(buf, sizeof buf, ",\"accuracy\":%.4f}", percent(t.correct, t.texts));
                out.put(buf);
            }
            out.put('}');
        };
        groups("labels", by_label);
        groups("languages", by_lang);
        out.put(",\"confusions\":[");
        for (size_t i = 0; i < top.size(); ++i) {
            if (i > 0) out.put(',');
            out.put("{\"expected\":").put_json_string(top[i].second.first);
            out.put(",\"got\":").put_json_string(top[i].second.second);
            out.put(",\"count\":").put(-top[i].first).put('}');
        }
        out.put("]}\n");
        return 0;
    }
    std::snprintf(buf, sizeof buf,
                  "texts %ld  correct %ld  accuracy %.2f%%  ambiguous %.2f%%  too-short %.2f%%  "
                  "bad-utf8 %.2f%%\n",
                  total.texts, total.correct, percent(total.correct, total.texts),
                  percent(ambiguous, total.texts), percent(too_short, total.texts),
                  percent(bad, total.texts));
    out.put(buf);
    auto table = [&](const char *title, const std::map<std::string, Tally> &m) {
        out.put(title).put('\n');
        for (const auto &[key, t] : m) {
            std::snprintf(buf, sizeof buf, "  %-8s %7ld  %7.2f%%\n", key.c_str(), t.texts,
                          percent(t.correct, t.texts));
            out.put(buf);
        }
    };
    table("by label:", by_label);
    table("by language:", by_lang);
    out.put("confusions (expected -> got):\n");
    for (const auto &[n, pair] : top) {
        std::snprintf(buf, sizeof buf, "  %s -> %s  %ld\n", pair.first.c_str(),
                      pair.second.c_str(), -n);
        out.put(buf);
    }
    return 0;
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
    void text(std::string_view text, const std::string &prefix, const char *where) {
        const int32_t rc = id.identify(text);
        all_identified = all_identified && rc == TAVIK_OK;
        if (rc != TAVIK_OK && rc != TAVIK_AMBIGUOUS && rc != TAVIK_TOO_FEW_NGRAMS)
            std::fprintf(stderr, "tavik: %s: %s (status %d)\n", where, tavik_last_error(), rc);
        out.put(prefix);
        switch (o.mode) {
        case Mode::Json: out.put(tavik_result_json()).put('\n'); break;
        case Mode::Explain: out.put(tavik_explain(explain)).put('\n'); break;
        case Mode::Plain: id.write_plain(out, rc, o.all); break;
        }
    }
};

int run_identify(const Options &o) {
    Run run(o);
    if (o.mode == Mode::Explain) run.explain = explain_index(o.explain_code);
    if (o.files) {
        for (const char *path : o.args) {
            std::string data;
            if (!read_path(path, &data)) {
                std::fprintf(stderr, "tavik: cannot read %s: %s\n", path, std::strerror(errno));
                run.out.flush();
                return 2;
            }
            if (o.lines) {
                tavik::cli::for_each_line(data, [&](std::string_view line, long n) {
                    run.text(line, "", (std::string(path) + ":" + std::to_string(n)).c_str());
                });
            } else {
                run.text(data, std::string(path) + "\t", path);
            }
        }
    } else if (!o.args.empty()) {
        std::string text;
        for (size_t i = 0; i < o.args.size(); ++i) {
            if (i > 0) text += ' ';
            text += o.args[i];
        }
        run.text(text, "", "argument text");
    } else if (o.lines) {
        if (o.jobs > 1) {
            run.out.flush();
            return tavik::cli::run_jobs(o.jobs, [&](std::string_view line, long n) {
                run.text(line, "", ("line " + std::to_string(n)).c_str());
            }, run.out, &run.all_identified);
        }
        if (!tavik::cli::stream_lines(STDIN_FILENO, [&](std::string_view line, long n) {
                run.text(line, "", ("line " + std::to_string(n)).c_str());
            }))
            fatal("cannot read standard input");
    } else {
        std::string data;
        if (!read_all(stdin, &data)) fatal("cannot read standard input");
        run.text(data, "", "standard input");
    }
    if (!run.out.flush()) fatal("cannot write standard output");
    return run.all_identified ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
    const Options o = parse_args(argc, argv);
    load_profile(o);
    apply_settings(o);
    if (o.list) {
        tavik::cli::Output out(stdout);
        list_profile(out);
        return out.flush() ? 0 : 2;
    }
    return o.eval ? run_eval(o) : run_identify(o);
}
