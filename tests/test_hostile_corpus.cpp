// SPDX-License-Identifier: MIT
// test_hostile_corpus.cpp - the trainer on corpora built to trip it: link
// loops, links out of the corpus, FIFOs, sockets and devices where text
// files are expected, names that are not UTF-8 or hold a newline, a
// language directory of 100000 entries, files whose status and reading
// disagree, and entries swapped for something else while the trainer runs.
//
// Each run must end (a watchdog kills a trainer that hangs), exit with the
// code and print the messages the trainer's rules give, write a profile
// that loads back with the expected languages, or write none.
//
// Unreadable files and the per-file size limit at its edge are covered by
// test_trainer_cli.cpp.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "testutil.h"

using tavik_test::read_file;
using tavik_test::read_some;
using tavik_test::TempDir;
using tavik_test::wait_exit_code;
using tavik_test::write_file;
namespace fs = std::filesystem;

namespace {

constexpr const char *kTrainer = TAVIK_BINARY_DIR "/tavik-train";
constexpr auto kWatchdog = std::chrono::seconds(60);

// ------------------------------------------------------------ the trainer

// A running trainer whose standard error is a pipe of one page, which the
// test reads only when it chooses to: a message that does not fit holds the
// trainer inside that write, at a known point of its run.
class Trainer {
public:
    Trainer(const std::string &corpus, const std::string &out,
            const std::vector<std::string> &options = {}) {
        std::vector<std::string> args = options;
        args.push_back(corpus);
        args.push_back(out);
        std::vector<char *> argv{const_cast<char *>(kTrainer)};
        for (std::string &a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        int err[2], out_pipe[2];
        if (::pipe2(err, O_CLOEXEC) != 0 || ::pipe2(out_pipe, O_CLOEXEC) != 0) {
            ADD_FAILURE() << "pipe: " << std::strerror(errno);
            return;
        }
        pipe_size_ = ::fcntl(err[0], F_SETPIPE_SZ, 4096);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out_pipe[1], 1);
            ::dup2(err[1], 2);
            ::unsetenv("TAVIK_TRAIN_DATE");
            ::unsetenv("SOURCE_DATE_EPOCH");
            ::execv(kTrainer, argv.data());
            ::_exit(127);
        }
        ::close(err[1]);
        ::close(out_pipe[1]);
        err_fd_ = err[0];
        out_fd_ = out_pipe[0];
        deadline_ = std::chrono::steady_clock::now() + kWatchdog;
    }
    ~Trainer() {
        if (pid_ > 0 && code_ < 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        for (int fd : {err_fd_, out_fd_})
            if (fd >= 0) ::close(fd);
    }
    Trainer(const Trainer &) = delete;
    Trainer &operator=(const Trainer &) = delete;

    // Waits until `bytes` bytes of messages wait in the pipe and the trainer
    // is held in its next write to standard error (seen in
    // /proc/PID/syscall: write, fd 2), so that whatever it checked before
    // that message is checked; false when the trainer ended or the watchdog
    // ran out first.  Bytes alone are not enough: a slow trainer (under a
    // sanitizer, on a loaded machine) may not yet have reached the check.
    bool wait_for_messages(size_t bytes) {
        while (std::chrono::steady_clock::now() < deadline_) {
            int n = 0;
            if (::ioctl(err_fd_, FIONREAD, &n) == 0 && static_cast<size_t>(n) >= bytes &&
                blocked_writing_messages())
                return true;
            siginfo_t info{};
            if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                info.si_pid != 0)
                return false;
            ::usleep(1000);
        }
        return false;
    }

    // Reads everything to the end and waits for the exit; a trainer still
    // running when the watchdog runs out is killed and reported.
    void finish() {
        pollfd fds[2] = {{err_fd_, POLLIN, 0}, {out_fd_, POLLIN, 0}};
        std::string *sinks[2] = {&err, &out};
        int open_fds = 2;
        while (open_fds > 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline_ - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                ADD_FAILURE() << "the trainer hangs; messages so far:\n" << err;
                return;
            }
            if (::poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
            for (int i = 0; i < 2; ++i) {
                if (fds[i].fd < 0 || fds[i].revents == 0 || read_some(fds[i].fd, *sinks[i]))
                    continue;
                fds[i].fd = -1;
                --open_fds;
            }
        }
        code_ = wait_exit_code(pid_);
    }

    int code() const { return code_; }
    pid_t pid() const { return pid_; }

    // Whether the trainer is inside write(2, ...) (x86-64 and aarch64 number
    // write 1 and 64).
    bool blocked_writing_messages() const {
        std::ifstream in("/proc/" + std::to_string(pid_) + "/syscall");
        std::string number, fd;
        if (!(in >> number >> fd)) return false;
        return (number == "1" || number == "64") && fd == "0x2";
    }
    // The capacity of the message pipe: the holding works only with one page.
    int pipe_size() const { return pipe_size_; }
    std::string err, out;

private:
    pid_t pid_ = -1;
    int err_fd_ = -1, out_fd_ = -1;
    int code_ = -1;
    int pipe_size_ = -1;
    std::chrono::steady_clock::time_point deadline_;
};

std::string replace_all(std::string s, std::string_view from, const std::string &to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
    return s;
}

// ------------------------------------------------------------ corpora

void make_file(const fs::path &p, const std::string &bytes = "") {
    fs::create_directories(p.parent_path());
    write_file(p.string(), bytes);
}

void make_fifo(const fs::path &p) {
    fs::create_directories(p.parent_path());
    ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0) << p << ": " << std::strerror(errno);
}

// A bound socket at `p`, left in place when the descriptor is closed.
void make_socket(const fs::path &p) {
    fs::create_directories(p.parent_path());
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(p.string().size(), sizeof addr.sun_path);
    std::strcpy(addr.sun_path, p.c_str());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr), 0)
        << std::strerror(errno);
    ::close(fd);
}

void make_link(const fs::path &p, const fs::path &target) {
    fs::create_directories(p.parent_path());
    fs::create_symlink(target, p);
}

// A directory below `base` whose path is exactly `length` bytes long.
std::string long_dir(const std::string &base, size_t length) {
    std::string path = base;
    while (path.size() < length) {
        const size_t room = length - path.size() - 1;
        size_t n = std::min<size_t>(room, 200);
        if (room - n == 1) --n;  // leave room for one more "/x", never a bare "/"
        path += "/" + std::string(n, 'd');
        fs::create_directory(path);
    }
    EXPECT_EQ(path.size(), length);
    return path;
}

// The written profile: its language codes and, for each, whether it holds
// n-grams; a profile the library rejects fails the test.
std::vector<std::string> written_languages(const std::string &path) {
    tavik_profile *p = nullptr;
    EXPECT_EQ(tavik_profile_load_path(path.c_str(), &p), TAVIK_OK) << "bad profile written";
    std::vector<std::string> langs;
    if (p == nullptr) return langs;
    for (int32_t j = 0; j < p->lang_count; ++j)
        langs.push_back(std::string(p->langs[j].code) +
                        (p->langs[j].ngrams.count > 0 ? "" : " (empty)"));
    tavik_profile_free(p);
    return langs;
}

bool holds(const std::string &path, int32_t lang, const char *ngram) {
    tavik_profile *p = nullptr;
    if (tavik_profile_load_path(path.c_str(), &p) != TAVIK_OK) return false;
    const bool found = lang < p->lang_count && tavik_lang_lookup_rank(&p->langs[lang], ngram) > 0;
    tavik_profile_free(p);
    return found;
}

// ------------------------------------------------------------------ tests

// Layouts fixed before the run.  In the messages "{C}" stands for the
// corpus directory and "{O}" for the output path.
TEST(HostileCorpus, Layouts) {
    struct Case {
        const char *name;
        std::function<void(const fs::path &corpus, const fs::path &outside)> make;
        int code;
        std::string err;
        std::vector<std::string> langs = {};
        std::vector<std::string> options = {};
    };
    const std::string kLoop = "too many levels of symbolic links";
    const auto links_out = [](const fs::path &c, const fs::path &x) {
        make_file(x / "a.txt", "outside words");
        make_file(x / "shadow", "secret words");
        make_link(c / "ext", x);
        make_link(c / "eng/out.txt", x / "a.txt");
        make_link(c / "eng/notes.txt", x / "shadow");
        make_link(c / "eng/dir.txt", x);
        make_file(c / "eng/z.txt", "inside words");
    };
    const std::vector<Case> cases = {
        {"link loops are skipped with the reason, a link back to the corpus is looked into",
         [](const fs::path &c, const fs::path &) {
             make_link(c / "loop", "loop");
             make_link(c / "lo1", "lo2");
             make_link(c / "lo2", "lo1");
             make_link(c / "cyc", ".");
             make_link(c / "eng/self.txt", "self.txt");
             make_link(c / "eng/a1.txt", "a2.txt");
             make_link(c / "eng/a2.txt", "a1.txt");
             make_link(c / "eng/up.txt", "..");
             make_file(c / "eng/b.txt", "hello");
         },
         0,
         "skip {C}/lo1 ({LOOP})\nskip {C}/lo2 ({LOOP})\nskip {C}/loop ({LOOP})\n"
         "language cyc\nskip cyc (no usable text)\n"
         "language eng\nskip {C}/eng/a1.txt ({LOOP})\nskip {C}/eng/a2.txt ({LOOP})\n"
         "  feed {C}/eng/b.txt\nskip {C}/eng/self.txt ({LOOP})\n"
         "skip {C}/eng/up.txt (not a regular file)\nwrote {O} (1 languages)\n",
         {"eng"}},
        {"links out of the corpus are skipped",
         links_out,
         0,
         "language eng\nskip {C}/eng/dir.txt (not a regular file)\n"
         "  feed {C}/eng/notes.txt\n"
         "skip {C}/eng/notes.txt (outside the corpus: {X}/shadow; --follow-links reads it)\n"
         "  feed {C}/eng/out.txt\n"
         "skip {C}/eng/out.txt (outside the corpus: {X}/a.txt; --follow-links reads it)\n"
         "  feed {C}/eng/z.txt\n"
         "language ext\nskip {C}/ext (outside the corpus: {X}; --follow-links reads it)\n"
         "wrote {O} (1 languages)\n",
         {"eng"}},
        {"--follow-links reads them",
         links_out,
         0,
         "language eng\nskip {C}/eng/dir.txt (not a regular file)\n"
         "  feed {C}/eng/notes.txt\n  feed {C}/eng/out.txt\n  feed {C}/eng/z.txt\n"
         "language ext\n  feed {C}/ext/a.txt\nwrote {O} (2 languages)\n",
         {"eng", "ext"},
         {"--follow-links"}},
        {"FIFOs, sockets and devices are no text files and no languages",
         [](const fs::path &c, const fs::path &) {
             make_fifo(c / "eng/x.txt");
             make_socket(c / "eng/y.txt");
             make_link(c / "eng/zero.txt", "/dev/zero");
             make_link(c / "eng/null.txt", "/dev/null");
             make_file(c / "eng/z.txt", "plain text");
             make_fifo(c / "fra/x.txt");
             make_fifo(c / "fif");
             make_socket(c / "sock");
         },
         0,
         "language eng\nskip {C}/eng/null.txt (not a regular file)\n"
         "skip {C}/eng/x.txt (not a regular file)\nskip {C}/eng/y.txt (not a regular file)\n"
         "  feed {C}/eng/z.txt\nskip {C}/eng/zero.txt (not a regular file)\n"
         "language fra\nskip {C}/fra/x.txt (not a regular file)\nskip fra (no usable text)\n"
         "wrote {O} (1 languages)\n",
         {"eng"}},
        {"names that are not UTF-8 or hold a newline are bytes like any other",
         [](const fs::path &c, const fs::path &) {
             make_file(c / "\xff\xfe/a\xff.txt", "ff words");
             make_file(c / "n\nl/b\nc.txt", "nl words");
             make_file(c / "n\nl/a.txt", "more");
         },
         0,
         "language n\nl\n  feed {C}/n\nl/a.txt\n  feed {C}/n\nl/b\nc.txt\n"
         "language \xff\xfe\n  feed {C}/\xff\xfe/a\xff.txt\nwrote {O} (2 languages)\n",
         {"n\nl", "\xff\xfe"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir tmp;
        const fs::path corpus = tmp.file("corpus"), outside = tmp.file("outside");
        const std::string out = tmp.file("out.tavik");
        fs::create_directories(corpus);
        fs::create_directories(outside);
        c.make(corpus, outside);
        if (HasFatalFailure()) return;
        Trainer t(corpus, out, c.options);
        t.finish();
        EXPECT_EQ(t.code(), c.code);
        std::string err = replace_all(replace_all(c.err, "{C}", corpus), "{O}", out);
        err = replace_all(replace_all(err, "{X}", fs::canonical(outside)), "{LOOP}", kLoop);
        EXPECT_EQ(t.err, err);
        if (c.options.empty()) {
            EXPECT_FALSE(holds(out, 0, "secret"));
        }
        EXPECT_EQ(t.out, "");
        if (c.code == 0)
            EXPECT_EQ(written_languages(out), c.langs);
        else
            EXPECT_FALSE(fs::exists(out));
    }
}

// A FIFO at the output path is not opened: the profile is written beside
// it and renamed over it.
TEST(HostileCorpus, OutputPathIsAFifo) {
    TempDir tmp;
    const fs::path corpus = tmp.file("corpus");
    const std::string out = tmp.file("out.tavik");
    make_file(corpus / "eng/a.txt", "words");
    make_fifo(out);
    Trainer t(corpus, out);
    t.finish();
    EXPECT_EQ(t.code(), 0);
    EXPECT_TRUE(t.err.ends_with("wrote " + out + " (1 languages)\n")) << t.err;
    EXPECT_TRUE(fs::is_regular_file(out));
    EXPECT_EQ(written_languages(out), std::vector<std::string>{"eng"});
}

// Files whose status promises another size than reading gives (reached
// through links out of the corpus, so with --follow-links): a file of the
// system's own that reports a page but holds a few bytes cannot be read
// whole; one that reports 0 bytes but holds more is read as the empty text
// its status describes, which yields nothing.
TEST(HostileCorpus, StatusAndReadingDisagree) {
    const char *kShort = "/sys/devices/system/cpu/online", *kLong = "/proc/self/status";
    struct stat st;
    if (::stat(kShort, &st) != 0 || st.st_size <= 16 || ::stat(kLong, &st) != 0 || st.st_size != 0)
        GTEST_SKIP() << "no /sys or /proc files of the kind needed here";
    const size_t short_bytes = read_file(kShort).size();
    ::stat(kShort, &st);
    TempDir tmp;
    const fs::path corpus = tmp.file("corpus");
    const std::string out = tmp.file("out.tavik");
    make_link(corpus / "eng/a.txt", kShort);
    make_link(corpus / "eng/b.txt", kLong);
    make_file(corpus / "eng/c.txt", "kept words");
    Trainer t(corpus, out, {"--follow-links"});
    t.finish();
    EXPECT_EQ(t.code(), 0);
    EXPECT_EQ(t.err,
              replace_all("language eng\n  feed {C}/eng/a.txt\nskip {C}/eng/a.txt (short read: " +
                              std::to_string(short_bytes) + " of " + std::to_string(st.st_size) +
                              " bytes)\n"
                              "  feed {C}/eng/b.txt\n  feed {C}/eng/c.txt\n",
                          "{C}", corpus) +
                  "wrote " + out + " (1 languages)\n");
    EXPECT_EQ(written_languages(out), std::vector<std::string>{"eng"});
    EXPECT_TRUE(holds(out, 0, "kept"));
    EXPECT_FALSE(holds(out, 0, "Name"));
}

// A language directory of 100000 entries, 334 of them text files: the 256
// first by name are fed, and a warning names the 78 left out.
TEST(HostileCorpus, HundredThousandEntries) {
    TempDir tmp;
    const fs::path corpus = tmp.file("corpus"), eng = corpus / "eng";
    const std::string out = tmp.file("out.tavik");
    fs::create_directories(eng);
    const int dir = ::open(eng.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(dir, 0);
    std::vector<std::string> texts;
    for (int i = 0; i < 100000; ++i) {
        // Every 300th entry is a text file: 334 of them, more than 256.
        const bool text = i % 300 == 0;
        const std::string name = std::to_string(i) + (text ? ".txt" : ".dat");
        const int fd = ::openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0) << name << ": " << std::strerror(errno);
        if (text) {
            texts.push_back(name);
            ASSERT_EQ(::write(fd, "w", 1), 1);
        }
        ::close(fd);
    }
    ::close(dir);
    std::sort(texts.begin(), texts.end());
    std::string want = "language eng\n";
    for (size_t i = 0; i < 256; ++i) want += "  feed " + eng.string() + "/" + texts[i] + "\n";
    want += "limit: 256 files a language, in " + eng.string() + "; left out 78 (" + texts[256] +
            " .. " + texts.back() + ")\nwrote " + out + " (1 languages)\n";

    Trainer t(corpus, out);
    t.finish();
    EXPECT_EQ(t.code(), 0);
    EXPECT_EQ(t.err, want);
    EXPECT_EQ(written_languages(out), std::vector<std::string>{"eng"});
}

// Entries changed after the trainer read their status and before it opened
// them.  The trainer is held inside the message it prints just before the
// open: its standard error is a one-page pipe that the messages before
// nearly fill, so the test changes the entry while the trainer waits, then
// reads on.
//
// A text file: "{C}" is a corpus path of 2100 bytes, so "language eng" and
// the feed message of a.txt fit in the page and that of b.txt does not.
TEST(HostileCorpus, FileChangedAfterItsStatus) {
    const std::string kFed = "  feed {C}/eng/b.txt\n";
    const std::string kSkip = "skip {C}/eng/b.txt ";
    const struct {
        const char *name;
        std::function<void(const fs::path &b, const fs::path &outside)> change;
        std::string err;  // after the feed message of b.txt
        bool fed_grown = false;
    } cases[] = {
        {"replaced by a FIFO: not opened for reading, not waited on",
         [](const fs::path &b, const fs::path &) {
             fs::remove(b);
             make_fifo(b);
         },
         kSkip + "(not a regular file)\n"},
        {"replaced by a directory",
         [](const fs::path &b, const fs::path &) {
             fs::remove(b);
             fs::create_directory(b);
         },
         kSkip + "(not a regular file)\n"},
        {"replaced by a link to an endless device",
         [](const fs::path &b, const fs::path &) {
             fs::remove(b);
             fs::create_symlink("/dev/zero", b);
         },
         kSkip + "(not a regular file)\n"},
        {"replaced by a link out of the corpus",
         [](const fs::path &b, const fs::path &outside) {
             fs::remove(b);
             make_file(outside / "x.txt", "secret words");
             fs::create_symlink(outside / "x.txt", b);
         },
         kSkip + "(outside the corpus: {X}/x.txt; --follow-links reads it)\n"},
        {"removed", [](const fs::path &b, const fs::path &) { fs::remove(b); },
         kSkip + "(no such file or directory)\n"},
        {"shrunk to nothing: fed as the empty text it now is",
         [](const fs::path &b, const fs::path &) { fs::resize_file(b, 0); }, ""},
        {"grown past the size limit",
         [](const fs::path &b, const fs::path &) { fs::resize_file(b, 52428801); },
         kSkip + "(too large: 52428801 bytes, limit 52428800)\n"},
        {"grown: fed whole as it is when opened",
         [](const fs::path &b, const fs::path &) { write_file(b.string(), "grown bigger text"); },
         "", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir tmp;
        const std::string corpus = long_dir(tmp.path(), 2100);
        const std::string out = tmp.file("out.tavik");
        make_file(fs::path(corpus) / "eng/a.txt", "first file");
        make_file(fs::path(corpus) / "eng/b.txt", "second file");
        const std::string before = "language eng\n  feed " + corpus + "/eng/a.txt\n";
        Trainer t(corpus, out);
        ASSERT_EQ(t.pipe_size(), 4096);
        ASSERT_TRUE(t.wait_for_messages(before.size()));
        c.change(fs::path(corpus) / "eng/b.txt", tmp.path());
        t.finish();
        EXPECT_EQ(t.code(), 0);
        EXPECT_EQ(t.err, before +
                             replace_all(replace_all(kFed + c.err, "{C}", corpus), "{X}",
                                         fs::canonical(tmp.path()).string()) +
                             "wrote " + out + " (1 languages)\n");
        EXPECT_FALSE(holds(out, 0, "secret"));
        EXPECT_EQ(written_languages(out), std::vector<std::string>{"eng"});
        EXPECT_TRUE(holds(out, 0, "_fir"));
        EXPECT_EQ(holds(out, 0, "_gro"), c.fed_grown);
        EXPECT_FALSE(holds(out, 0, "_sec"));
    }
}

// A language directory changed after the scan of the corpus: "{C}" is 4064
// bytes long, so "language fra" no longer fits behind the messages of eng.
TEST(HostileCorpus, LanguageChangedAfterItsStatus) {
    const struct {
        const char *name;
        std::function<void(const fs::path &fra)> change;
        const char *why;
    } cases[] = {
        {"replaced by a FIFO",
         [](const fs::path &fra) {
             fs::remove_all(fra);
             make_fifo(fra);
         },
         "not a directory"},
        {"removed", [](const fs::path &fra) { fs::remove_all(fra); }, "no such file or directory"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir tmp;
        const std::string corpus = long_dir(tmp.path(), 4064);
        const std::string out = tmp.file("out.tavik");
        make_file(fs::path(corpus) / "eng/a.txt", "english");
        make_file(fs::path(corpus) / "fra/a.txt", "francais");
        const std::string before = "language eng\n  feed " + corpus + "/eng/a.txt\n";
        Trainer t(corpus, out);
        ASSERT_EQ(t.pipe_size(), 4096);
        ASSERT_TRUE(t.wait_for_messages(before.size()));
        c.change(fs::path(corpus) / "fra");
        t.finish();
        EXPECT_EQ(t.code(), 0);
        EXPECT_EQ(t.err, before + "language fra\nskip " + corpus + "/fra (" + c.why + ")\nwrote " +
                             out + " (1 languages)\n");
        EXPECT_EQ(written_languages(out), std::vector<std::string>{"eng"});
    }
}

// A signal that stops the trainer while it writes removes the temporary
// file: the test watches the output's folder and sends the signal the moment
// the temporary file appears.  A run whose write ended before the signal
// came proves nothing and is tried again.
TEST(HostileCorpus, SignalDuringTheWriteLeavesNoTemporaryFile) {
    TempDir tmp;
    const fs::path corpus = tmp.file("corpus"), out_dir = tmp.file("out");
    fs::create_directories(out_dir);
    // 20 languages of 4000 n-grams each: a write of about a megabyte.
    for (int j = 0; j < 20; ++j) {
        std::string words;
        uint32_t v = 12345u + static_cast<uint32_t>(j);
        for (int w = 0; w < 3000; ++w) {
            for (int k = 0; k < 6; ++k) {
                v = v * 1103515245u + 12345u;
                words += static_cast<char>('a' + (v >> 16) % 26);
            }
            words += ' ';
        }
        make_file(corpus / ("l" + std::to_string(100 + j)) / "a.txt", words);
    }
    const std::string out = (out_dir / "out.tavik").string();
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(sig);
        bool caught = false;
        for (int attempt = 0; attempt < 10 && !caught; ++attempt) {
            fs::remove(out);
            const int watch = ::inotify_init1(IN_CLOEXEC);
            ASSERT_GE(watch, 0);
            ASSERT_GE(::inotify_add_watch(watch, out_dir.c_str(), IN_CREATE), 0);
            Trainer t(corpus, out);
            bool sent = false;
            alignas(inotify_event) char buf[4096];
            while (!sent) {
                pollfd p{watch, POLLIN, 0};
                if (::poll(&p, 1, 60000) <= 0) break;
                const ssize_t n = ::read(watch, buf, sizeof buf);
                for (ssize_t at = 0; at < n;) {
                    const auto *e = reinterpret_cast<const inotify_event *>(buf + at);
                    if (e->len > 0 && std::string_view(e->name).starts_with("out.tavik.tmp-")) {
                        ::kill(t.pid(), sig);
                        sent = true;
                    }
                    at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
                }
            }
            ::close(watch);
            t.finish();
            if (t.code() == 0) continue;  // the write won the race
            EXPECT_EQ(t.code(), 128 + sig) << t.err;
            caught = true;
            // The signal may also come after the rename: then the profile stays.
            std::vector<std::string> temps;
            for (const auto &e : fs::directory_iterator(out_dir))
                if (e.path().filename().string().starts_with("out.tavik.tmp-"))
                    temps.push_back(e.path().string());
            EXPECT_EQ(temps, std::vector<std::string>{});
        }
        if (!caught) GTEST_SKIP() << "every write ended before the signal came";
    }
}

}  // namespace
