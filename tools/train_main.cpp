// SPDX-License-Identifier: MIT
// train_main.cpp - tavik-train: turns a corpus directory laid out as
// <corpus_dir>/<code>/*.txt into one profile file.
//
// Every message goes to standard error; standard output stays empty (but for
// --help).  The profile depends only on the corpus directory argument, the
// files' bytes, the licence text and the date: language codes and file
// names are sorted by bytes before any limit applies, so the order in which
// the system lists a directory does not matter.
//
// Nothing is lost in silence: a file that is not read is named with the
// reason, a limit that leaves data out says what it left out, and a language
// without usable text is not written at all (an empty language would match
// every text perfectly).  The output's folder is checked before training, and
// the temporary file of the write never outlives the run.

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <getopt.h>
#include <limits.h>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "option_table.h"
#include "tavik/tavik_api.h"
#include "tavik/utf8.h"
#include "text_model.h"
#include "train_bundle.h"

namespace {

// The "licence" meta value when --licence is not given: a corpus of the
// user's own comes with no statement the trainer could know.
constexpr const char *kNoLicence =
    "not stated: the licence and provenance of the training corpus were not given";

constexpr const char *kTrainer = "tavik-train/1.0.0";

constexpr std::size_t kMaxLanguages = 64;
constexpr std::size_t kMaxFilesPerLanguage = 256;
constexpr off_t kMaxFileBytes = 52428800;
constexpr std::size_t kPathBytes = 4096;
constexpr std::size_t kMaxDateBytes = 63;
constexpr std::size_t kMaxMetaBytes = 65535;

constexpr int32_t kDefaultNgrams = 4000;
constexpr int32_t kMaxNgrams = 1000000;

constexpr const char *kUsage = " <corpus_dir> <out.tavik>\n  corpus_dir/<iso639-2T>/*.txt\n";

constexpr const char *kHelp =
    "Builds a profile from a corpus: one folder per language, named by its code\n"
    "(2 to 7 bytes, not starting with \".\"), holding UTF-8 text files named *.txt.\n"
    "\n"
    "Options:\n"
    "  --licence TEXT    the profile's \"licence\" meta value (one line); without it\n"
    "                    the value says that licence and provenance were not stated\n"
    "  --follow-links    read links that lead out of the corpus folder (skipped\n"
    "                    otherwise)\n"
    "  --letters unicode letters are every code point of category L or M (the\n"
    "                    designed table of six scripts otherwise)\n"
    "  --fold-case       fold letters by Unicode simple case folding\n"
    "  --nfc             bring texts to NFC before cutting them\n"
    "                    (the last three are stored in the profile as its text\n"
    "                    model, so identification cuts queries the same way)\n"
    "  --ngrams N        keep the N most frequent n-grams of each language (4000\n"
    "                    otherwise; 1 to 1000000), stored as the profile's\n"
    "                    max_distribution\n"
    "  --bundle OUT      write a model of several members instead (no corpus\n"
    "                    argument): --member SCRIPTS=PATH (comma-separated script\n"
    "                    names; PATH a profile file or a corpus folder, trained\n"
    "                    with the options above), --direct SCRIPT=CODE (a script\n"
    "                    only language CODE writes), --compress (zstd)\n"
    "  -h, --help        this text\n"
    "  -V, --version     the version\n"
    "Options may stand anywhere, \"--\" ends them; a value may also follow \"=\"\n"
    "(--licence=TEXT).  Long names are not abbreviated.\n"
    "\n"
    "Limits: 64 languages, 256 files a language, 52428800 bytes (50 MiB) a file.\n"
    "Languages and files are taken in byte order of their names; what a limit\n"
    "leaves out is named in a warning.  A file that is not valid UTF-8, holds a\n"
    "NUL byte or starts with a UTF-16 byte-order mark is skipped with the reason\n"
    "(byte offsets count from 0); a language left without text is not written.\n"
    "Environment: TAVIK_TRAIN_DATE, else SOURCE_DATE_EPOCH, gives the \"date\" meta\n"
    "value as text.  Exit status: 0 the profile was written, 1 otherwise.\n";

// ------------------------------------------------------------------ paths

// "parent/name" in a buffer of kPathBytes.  A path that does not fit is kept
// cut, for messages only: it names some other file, so it is never opened
// or stat'ed.
struct Path {
    std::array<char, kPathBytes> text{};
    bool fits = false;

    const char *c_str() const { return text.data(); }
};

Path compose(const char *parent, const char *name) {
    Path p;
    const int n = std::snprintf(p.text.data(), p.text.size(), "%s/%s", parent, name);
    p.fits = n >= 0 && static_cast<std::size_t>(n) < p.text.size();
    return p;
}

// The system's reason for `err`, starting in lower case as the trainer's
// own reasons do.
std::string reason_of(int err) {
    std::string why = std::strerror(err);
    if (!why.empty() && why[0] >= 'A' && why[0] <= 'Z' && (why.size() < 2 || why[1] > 'Z'))
        why[0] = static_cast<char>(why[0] - 'A' + 'a');
    return why;
}

void skip(const char *what, const std::string &why) {
    std::fprintf(stderr, "skip %s (%s)\n", what, why.c_str());
}

// --------------------------------------------------------------- handles

struct DirCloser {
    void operator()(DIR *d) const { ::closedir(d); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;

    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    explicit operator bool() const { return fd_ >= 0; }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

// ------------------------------------------------------------ arguments

struct Options {
    const char *corpus = nullptr;
    const char *out = nullptr;
    const char *licence = kNoLicence;
    bool follow_links = false;
    // The text model the profile declares (tavik.* meta pairs); nothing is
    // declared unless an option asks for it.
    const char *letters = nullptr;
    bool fold_case = false;
    bool nfc = false;
    // Ranked n-grams kept per language (the profile's max_distribution).
    int32_t ngrams = kDefaultNgrams;
    tavik_train::BundleArgs bundle;  // --bundle: members and direct scripts
};

[[noreturn]] void usage(const char *program) {
    std::fprintf(stderr, "usage: %s%s", program, kUsage);
    std::exit(1);
}

// The --ngrams value: a whole decimal number in range, or exit with why.
int32_t parse_ngrams(const char *text) {
    char *end = nullptr;
    errno = 0;
    const long n = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || n < 1 || n > kMaxNgrams) {
        std::fprintf(stderr, "tavik-train: --ngrams takes a number from 1 to %d, not \"%s\"\n",
                     static_cast<int>(kMaxNgrams), text);
        std::exit(1);
    }
    return static_cast<int32_t>(n);
}

// Every option, in one table from which getopt_long's tables are made.
enum OptionId : int {
    kLicence = 256,
    kFollowLinks,
    kLetters,
    kFoldCase,
    kNfc,
    kHelpOption,
    kVersion,
    kBundle,
    kMember,
    kDirect,
    kCompress,
    kNgrams
};

struct OptionRow {
    const char *name;
    char letter;          // 0: long only
    const char *missing;  // the message for a missing value; nullptr: takes none
    int id;
};

constexpr OptionRow kOptions[] = {
    {"licence", 0, "missing text after", kLicence},
    {"follow-links", 0, nullptr, kFollowLinks},
    {"letters", 0, "missing value after", kLetters},
    {"fold-case", 0, nullptr, kFoldCase},
    {"nfc", 0, nullptr, kNfc},
    {"help", 'h', nullptr, kHelpOption},
    {"version", 'V', nullptr, kVersion},
    {"bundle", 0, "missing path after", kBundle},
    {"member", 0, "missing SCRIPTS=PATH after", kMember},
    {"direct", 0, "missing SCRIPT=CODE after", kDirect},
    {"compress", 0, nullptr, kCompress},
    {"ngrams", 0, "missing value after", kNgrams},
};

[[noreturn]] void option_error(const char *program, const std::string &message) {
    std::fprintf(stderr, "tavik-train: %s\n", message.c_str());
    usage(program);
}

void apply_option(Options &o, const OptionRow &row, const char *program, const char *value) {
    switch (row.id) {
    case kHelpOption:
        std::printf("usage: %s [--licence TEXT] [--follow-links] [--letters unicode] "
                    "[--fold-case] [--nfc] [--ngrams N]%s\n%s",
                    program, kUsage, kHelp);
        std::exit(std::fflush(stdout) == 0 ? 0 : 1);
    case kVersion:
        std::printf("tavik-train %s\n", tavik_version());
        std::exit(std::fflush(stdout) == 0 ? 0 : 1);
    case kFollowLinks:
        o.follow_links = true;
        return;
    case kLetters:
        o.letters = value;
        return;
    case kFoldCase:
        o.fold_case = true;
        return;
    case kNfc:
        o.nfc = true;
        return;
    case kLicence:
        o.licence = value;
        if (std::strchr(o.licence, '\n') != nullptr || std::strlen(o.licence) > kMaxMetaBytes) {
            std::fprintf(stderr, "tavik-train: --licence takes one line of at most %zu bytes\n",
                         kMaxMetaBytes);
            std::exit(1);
        }
        return;
    case kBundle:
        o.bundle.out = value;
        return;
    case kMember:
        o.bundle.members.emplace_back(value);
        return;
    case kDirect:
        o.bundle.direct.emplace_back(value);
        return;
    case kCompress:
        o.bundle.compress = true;
        return;
    case kNgrams:
        o.ngrams = parse_ngrams(value);
        return;
    default:
        return;
    }
}

// Options may stand anywhere (getopt_long moves them before the other
// arguments); "--" ends them.  Long names must be written in full, so that
// a new option never changes what an abbreviation meant.  Positional
// arguments after the second are ignored, as they always were.
Options parse_args(int argc, char **argv) {
    const char *program = argc > 0 && argv[0] != nullptr ? argv[0] : "tavik-train";
    static const tavik::cli::GetoptTables tables =
        tavik::cli::getopt_tables(kOptions, ":", &OptionRow::missing);
    Options o;
    opterr = 0;
    optind = 1;
    for (;;) {
        const int before = optind;
        int index = -1;
        const int c = getopt_long(argc, argv, tables.shorts.c_str(), tables.longs.data(), &index);
        if (c == -1) break;
        // The argument the option was written in; permutation keeps the
        // options in their order, the other arguments skipped before it.
        const char *typed = argv[optind > before ? optind - 1 : before];
        for (int k = before; k < optind; ++k)
            if (argv[k][0] == '-' && argv[k][1] != '\0') {
                typed = argv[k];
                break;
            }
        const std::string_view t = typed;
        const bool is_long = t.starts_with("--");
        const std::string name(is_long ? t.substr(0, t.find('=')) : t.substr(0, 2));
        const OptionRow *row = tavik::cli::option_of(kOptions, c == ':' || c == '?' ? optopt : c);
        if (c == '?' && row != nullptr && is_long) option_error(program, name + " takes no value");
        if (c == '?' || row == nullptr || (is_long && name.substr(2) != row->name))
            option_error(program,
                         "unknown option " +
                             (is_long ? name : "-" + std::string(1, static_cast<char>(optopt))));
        if (c == ':') option_error(program, std::string(row->missing) + " " + name);
        apply_option(o, *row, program, optarg);
    }
    for (int i = optind; i < argc; ++i) {
        if (o.corpus == nullptr)
            o.corpus = argv[i];
        else if (o.out == nullptr)
            o.out = argv[i];
    }
    if (o.out == nullptr && o.bundle.out == nullptr) usage(program);
    return o;
}

// ------------------------------------------------------------ the output

// The folder of `out` ("." for a bare name).
std::string folder_of(const char *out) {
    const std::string_view path = out;
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string_view::npos) return ".";
    if (slash == 0) return "/";
    return std::string(path.substr(0, slash));
}

// Why `out` cannot be written, or "" when its folder exists and takes new
// files: found before training, not after it.
std::string unwritable(const char *out) {
    struct stat st;
    if (out[0] == '\0') return "empty path";
    if (std::string_view(out).ends_with('/') || (::stat(out, &st) == 0 && S_ISDIR(st.st_mode)))
        return "is a directory";
    const std::string folder = folder_of(out);
    if (::stat(folder.c_str(), &st) != 0) return "folder " + folder + ": " + reason_of(errno);
    if (!S_ISDIR(st.st_mode)) return "folder " + folder + ": not a directory";
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        return "folder " + folder + ": " + reason_of(errno);
    return "";
}

// The profile writer's temporary files are "<out>.tmp-<pid>-<serial>".  Those
// of this process are known before the write, so that a signal handler can
// remove them without allocating.
constexpr int kTempSerials = 100;
std::array<char, kPathBytes + 32> g_temp_prefix{};

extern "C" void remove_temp_and_die(int sig) {
    const int saved = errno;
    std::array<char, kPathBytes + 48> name{};
    std::size_t n = 0;
    while (g_temp_prefix[n] != '\0' && n + 12 < name.size()) {
        name[n] = g_temp_prefix[n];
        ++n;
    }
    for (int serial = 0; serial < kTempSerials; ++serial) {
        std::size_t at = n;
        if (serial >= 10) name[at++] = static_cast<char>('0' + serial / 10);
        name[at++] = static_cast<char>('0' + serial % 10);
        name[at] = '\0';
        ::unlink(name.data());
    }
    errno = saved;
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

// An oversized write then fails with EFBIG and is reported instead of
// killing the trainer; the interrupting signals remove the temporary file.
void install_signal_handlers(const char *out) {
    std::snprintf(g_temp_prefix.data(), g_temp_prefix.size(), "%s.tmp-%ld-", out,
                  static_cast<long>(::getpid()));
    ::signal(SIGXFSZ, SIG_IGN);
    struct sigaction sa {};
    sa.sa_handler = remove_temp_and_die;
    sigemptyset(&sa.sa_mask);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&sa.sa_mask, sig);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(sig, &sa, nullptr);
}

// "<pid>-<serial>" with both parts decimal digits: the process id, or 0.
long temp_owner(std::string_view tail) {
    const std::size_t dash = tail.find('-');
    if (dash == 0 || dash == std::string_view::npos || dash + 1 == tail.size()) return 0;
    long pid = 0;
    for (std::size_t i = 0; i < tail.size(); ++i) {
        if (i == dash) continue;
        if (tail[i] < '0' || tail[i] > '9') return 0;
        if (i < dash) {
            if (pid > 100000000) return 0;
            pid = pid * 10 + (tail[i] - '0');
        }
    }
    return pid;
}

// Removes the temporary files a trainer writing `out` left behind when it
// died: those whose process no longer runs (or that carry this process's
// id, which a dead one had before).
void remove_stale_temps(const char *out) {
    const std::string folder = folder_of(out);
    const std::string_view path = out;
    const std::size_t slash = path.find_last_of('/');
    const std::string prefix =
        std::string(slash == std::string_view::npos ? path : path.substr(slash + 1)) + ".tmp-";
    const Dir dir(::opendir(folder.c_str()));
    if (!dir) return;
    while (const dirent *e = ::readdir(dir.get())) {
        const std::string_view name = e->d_name;
        if (!name.starts_with(prefix)) continue;
        const long pid = temp_owner(name.substr(prefix.size()));
        if (pid <= 0) continue;
        const bool mine = pid == static_cast<long>(::getpid());
        if (!mine && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)) continue;
        const Path stale = compose(folder.c_str(), e->d_name);
        if (!stale.fits) continue;
        if (::unlink(stale.c_str()) == 0)
            std::fprintf(stderr, "removed stale %s\n", stale.c_str());
        else
            std::fprintf(stderr, "cannot remove stale %s: %s\n", stale.c_str(),
                         reason_of(errno).c_str());
    }
}

// ------------------------------------------------------------ set-up

// TAVIK_TRAIN_DATE if it exists, else SOURCE_DATE_EPOCH; an empty or absent
// value gives "unset".  The value is taken as text, cut to 63 bytes.
std::array<char, kMaxDateBytes + 1> train_date() {
    std::array<char, kMaxDateBytes + 1> date{};
    const char *chosen = std::getenv("TAVIK_TRAIN_DATE");
    if (chosen == nullptr) chosen = std::getenv("SOURCE_DATE_EPOCH");
    if (chosen == nullptr || chosen[0] == '\0') chosen = "unset";
    std::memcpy(date.data(), chosen, strnlen(chosen, kMaxDateBytes));
    return date;
}

// False, with a message, when the text model asked for is not one the
// library knows.
bool set_up_training(const Options &o) {
    tavik_train_reset();
    tavik_set_max_ngram_length(5);
    tavik_set_max_distribution(o.ngrams);
    tavik_set_occurance_threshold(0);
    tavik_train_set_meta("source", o.corpus);
    tavik_train_set_meta("trainer", kTrainer);
    tavik_train_set_meta("licence", o.licence);
    tavik_train_set_meta("date", train_date().data());
    if (o.letters != nullptr && tavik_train_set_meta("tavik.letters", o.letters) != TAVIK_OK) {
        std::fprintf(stderr, "unknown --letters value: %s\n", o.letters);
        return false;
    }
    if (o.fold_case) tavik_train_set_meta("tavik.case", "fold");
    if (o.nfc) tavik_train_set_meta("tavik.normalize", "nfc");
    return true;
}

// ------------------------------------------------------------ the corpus

// Where links may lead: the resolved corpus folder, or anywhere.
struct Corpus {
    const char *dir;
    std::string root;  // resolved; empty with --follow-links
    // Which code points are letters: the Unicode table under --letters
    // unicode, nullptr for the designed table.
    const tavik::UnicodeTable *letters = nullptr;
};

bool inside(const std::string &root, const std::string &path) {
    if (root.empty() || root == "/") return true;
    return path.starts_with(root) && (path.size() == root.size() || path[root.size()] == '/');
}

// The path the open descriptor stands for, as the kernel resolved it; the
// check is made on what was opened, so that an entry swapped for a link
// after it was looked at cannot lead out of the corpus.
std::string resolved(int fd, const char *path) {
    std::array<char, 64> link{};
    std::snprintf(link.data(), link.size(), "/proc/self/fd/%d", fd);
    std::array<char, PATH_MAX + 1> buf{};
    const ssize_t n = ::readlink(link.data(), buf.data(), PATH_MAX);
    if (n > 0 && n < PATH_MAX) return std::string(buf.data(), static_cast<std::size_t>(n));
    const std::unique_ptr<char, decltype(&std::free)> r(::realpath(path, nullptr), &std::free);
    return r ? std::string(r.get()) : std::string();
}

// "" when the open descriptor lies inside the corpus, else the reason.
std::string outside_reason(const Corpus &c, int fd, const char *path) {
    if (c.root.empty()) return "";
    const std::string real = resolved(fd, path);
    if (inside(c.root, real)) return "";
    return "outside the corpus: " + (real.empty() ? std::string("unresolved") : real) +
           "; --follow-links reads it";
}

// The names of `dir` that `keep` accepts, in byte order.
template <class Keep>
std::vector<std::string> sorted_names(DIR *dir, Keep keep) {
    std::vector<std::string> names;
    while (const dirent *e = ::readdir(dir))
        if (keep(std::string_view(e->d_name))) names.emplace_back(e->d_name);
    std::ranges::sort(names, [](const std::string &a, const std::string &b) {
        return std::strcmp(a.c_str(), b.c_str()) < 0;
    });
    return names;
}

// One warning per limit: how much it left out, first and last by name.
void warn_limit(const char *what, std::size_t limit, const char *where,
                const std::vector<std::string> &left) {
    if (left.empty()) return;
    std::fprintf(stderr, "limit: %zu %s%s; left out %zu (%s .. %s)\n", limit, what, where,
                 left.size(), left.front().c_str(), left.back().c_str());
}

// Hidden names and names outside 2 to 7 bytes are no language codes.
bool is_code_name(std::string_view name) {
    return name.size() >= 2 && name.size() <= 7 && name.front() != '.';
}

// The language folders of the corpus, the first 64 in byte order; entries
// that are no directories are passed over, entries whose status cannot be
// read are reported.  A name whose path does not fit is kept so that it is
// reported when its turn comes.
std::vector<std::string> scan_languages(const char *corpus, DIR *dir) {
    std::vector<std::string> langs, left;
    for (std::string &name : sorted_names(dir, is_code_name)) {
        const Path path = compose(corpus, name.c_str());
        struct stat st;
        if (path.fits && ::stat(path.c_str(), &st) != 0) {
            skip(path.c_str(), reason_of(errno));
            continue;
        }
        if (path.fits && !S_ISDIR(st.st_mode)) continue;
        (langs.size() < kMaxLanguages ? langs : left).push_back(std::move(name));
    }
    warn_limit("languages", kMaxLanguages, "", left);
    return langs;
}

// ------------------------------------------------------------------ files

bool is_text_name(std::string_view name) {
    return name.size() > 4 && name.front() != '.' && name.ends_with(".txt");
}

// Reads exactly `size` bytes; the count read when the file ends early.
std::size_t read_exactly(int fd, char *buf, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, buf + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    return got;
}

// A file's text with a NUL after it, or the reason it was not read.
struct Text {
    std::unique_ptr<char[]> bytes;
    std::size_t size = 0;
    std::string why;
};

// Opening does not block and only a regular file of at most kMaxFileBytes
// is read, so a file swapped for a FIFO or a device after the listing cannot
// stall the run.
Text read_text(const Corpus &c, const char *path) {
    Text t;
    Fd fd(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (!fd || ::fstat(fd.get(), &st) != 0) {
        t.why = reason_of(errno);
        return t;
    }
    if (!S_ISREG(st.st_mode)) {
        t.why = "not a regular file";
        return t;
    }
    if (t.why = outside_reason(c, fd.get(), path); !t.why.empty()) return t;
    if (st.st_size > kMaxFileBytes) {
        t.why = "too large: " + std::to_string(st.st_size) + " bytes, limit " +
                std::to_string(kMaxFileBytes);
        return t;
    }
    t.size = static_cast<std::size_t>(st.st_size);
    t.bytes.reset(new (std::nothrow) char[t.size + 1]);
    if (!t.bytes) {
        t.why = "out of memory";
        return t;
    }
    const std::size_t got = read_exactly(fd.get(), t.bytes.get(), t.size);
    if (got != t.size) {
        t.why = "short read: " + std::to_string(got) + " of " + std::to_string(t.size) + " bytes";
        t.bytes.reset();
        return t;
    }
    t.bytes[t.size] = '\0';
    return t;
}

// What stops the text from being fed whole ("" when nothing does), and
// whether it holds a letter, the only thing that yields n-grams.
std::string check_text(std::string_view text, const tavik::UnicodeTable *letters,
                       bool *has_letter) {
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    if (text.size() >= 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF)))
        return "UTF-16 byte-order mark; UTF-8 is needed";
    *has_letter = false;
    for (std::size_t i = 0; i < text.size();) {
        if (p[i] == 0) return "NUL byte at byte " + std::to_string(i);
        uint32_t cp;
        const int32_t n = tavik_utf8_decode(p + i, text.size() - i, &cp);
        if (n <= 0) return "malformed UTF-8 at byte " + std::to_string(i);
        *has_letter =
            *has_letter || (letters != nullptr ? tavik::unicode_info(*letters, cp).letter
                                               : tavik_is_letter(static_cast<int32_t>(cp)) != 0);
        i += static_cast<std::size_t>(n);
    }
    return "";
}

enum class Outcome { Trained, Skipped };

// A language is begun with its first file that yields n-grams, so that a
// language left without any is never part of the profile.  Files without a
// letter before that one are not fed: they add no n-gram either way.
class LanguageFeed {
public:
    LanguageFeed(const Corpus &c, const char *code) : corpus_(c), code_(code) {}

    void file(const Path &path) {
        std::fprintf(stderr, "  feed %s\n", path.c_str());
        Text t = read_text(corpus_, path.c_str());
        bool has_letter = false;
        if (t.why.empty())
            t.why =
                check_text(std::string_view(t.bytes.get(), t.size), corpus_.letters, &has_letter);
        if (!t.why.empty()) return skip(path.c_str(), t.why);
        if (!has_letter && !begun_) return;
        if (!begun_ && tavik_train_begin(code_) != TAVIK_OK)
            return skip(path.c_str(), "the language cannot be begun");
        begun_ = true;
        if (tavik_train_feed(t.bytes.get()) != TAVIK_OK) skip(path.c_str(), "out of memory");
    }

    bool begun() const { return begun_; }

private:
    const Corpus &corpus_;
    const char *code_;
    bool begun_ = false;
};

// Feeds the first 256 regular ".txt" files of the language folder in byte
// order of their names.
void feed_folder(const Path &lang_dir, DIR *dir, LanguageFeed &feed) {
    std::vector<std::string> left;
    std::size_t taken = 0;
    for (std::string &name : sorted_names(dir, is_text_name)) {
        const Path file = compose(lang_dir.c_str(), name.c_str());
        if (!file.fits) {
            skip(file.c_str(), "path too long");
            continue;
        }
        struct stat st;
        if (::stat(file.c_str(), &st) != 0) {
            skip(file.c_str(), reason_of(errno));
            continue;
        }
        if (!S_ISREG(st.st_mode)) {
            if (taken < kMaxFilesPerLanguage) skip(file.c_str(), "not a regular file");
            continue;
        }
        if (taken++ < kMaxFilesPerLanguage)
            feed.file(file);
        else
            left.push_back(std::move(name));
    }
    const std::string where = std::string(" a language, in ") + lang_dir.c_str();
    warn_limit("files", kMaxFilesPerLanguage, where.c_str(), left);
}

Outcome train_language(const Corpus &c, const char *code) {
    const Path lang_dir = compose(c.dir, code);
    std::fprintf(stderr, "language %s\n", code);
    if (!lang_dir.fits) {
        skip(lang_dir.c_str(), "path too long");
        return Outcome::Skipped;
    }
    Fd fd(::open(lang_dir.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        skip(lang_dir.c_str(), reason_of(errno));
        return Outcome::Skipped;
    }
    if (const std::string why = outside_reason(c, fd.get(), lang_dir.c_str()); !why.empty()) {
        skip(lang_dir.c_str(), why);
        return Outcome::Skipped;
    }
    Dir dir(::fdopendir(fd.get()));
    if (!dir) {
        skip(lang_dir.c_str(), reason_of(errno));
        return Outcome::Skipped;
    }
    fd.release();
    LanguageFeed feed(c, code);
    feed_folder(lang_dir, dir.get(), feed);
    dir.reset();
    if (!feed.begun()) {
        skip(code, "no usable text");
        return Outcome::Skipped;
    }
    if (tavik_train_end_language() != TAVIK_OK) {
        // A language that cannot be ranked would be written without n-grams.
        std::fprintf(stderr, "tavik-train: out of memory while ranking %s; nothing written\n",
                     code);
        std::exit(1);
    }
    return Outcome::Trained;
}

int train(const Options &o) {
    if (const std::string why = unwritable(o.out); !why.empty()) {
        std::fprintf(stderr, "cannot write %s (%s)\n", o.out, why.c_str());
        return 1;
    }
    if (!set_up_training(o)) return 1;
    Corpus corpus{o.corpus, {}, nullptr};
    if (o.letters != nullptr && std::string_view(o.letters) == "unicode") {
        corpus.letters = tavik::unicode_table();
        if (corpus.letters == nullptr) {
            std::fputs("out of memory\n", stderr);
            return 1;
        }
    }
    std::vector<std::string> codes;
    {
        const Dir dir(::opendir(o.corpus));
        if (!dir) {
            std::perror(o.corpus);
            return 1;
        }
        if (!o.follow_links) {
            const std::unique_ptr<char, decltype(&std::free)> root(::realpath(o.corpus, nullptr),
                                                                   &std::free);
            corpus.root = root ? root.get() : "/";
        }
        codes = scan_languages(o.corpus, dir.get());
    }
    install_signal_handlers(o.out);
    remove_stale_temps(o.out);
    int trained = 0;
    for (const std::string &code : codes)
        if (train_language(corpus, code.c_str()) == Outcome::Trained) ++trained;
    if (trained == 0) {
        std::fputs("no languages trained\n", stderr);
        return 1;
    }
    std::array<char, 16> count{};
    std::snprintf(count.data(), count.size(), "%d", trained);
    tavik_train_set_meta("language_count", count.data());
    errno = 0;
    if (tavik_train_write_profile(o.out) != TAVIK_OK) {
        const int err = errno;
        std::fprintf(stderr, "write failed: %s\n",
                     err != 0 ? reason_of(err).c_str() : "the profile breaks a format limit");
        return 1;
    }
    std::fprintf(stderr, "wrote %s (%d languages)\n", o.out, trained);
    return 0;
}

// A bundle's members trained from corpus folders take the other options.
int train_bundle(const Options &o) {
    const std::vector<std::pair<std::string, std::string>> meta = {
        {"trainer", kTrainer}, {"licence", o.licence}, {"date", train_date().data()}};
    return tavik_train::build_bundle(o.bundle, meta, [&o](const char *corpus, const char *out) {
        Options member = o;
        member.corpus = corpus;
        member.out = out;
        return train(member);
    });
}

}  // namespace

int main(int argc, char **argv) {
    const Options o = parse_args(argc, argv);
    return o.bundle.out != nullptr ? train_bundle(o) : train(o);
}
