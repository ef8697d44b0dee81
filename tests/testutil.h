// SPDX-License-Identifier: MIT
// testutil.h - fixtures shared by the test programs.
#ifndef TAVIK_TESTUTIL_H
#define TAVIK_TESTUTIL_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tavik/tavik_api.h"
#include "tavik/tavik_session.h"

namespace tavik_test {

// A fresh directory under the system's temporary folder, removed with
// everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &bytes);

// Builds profile blobs byte by byte, for fixtures the writer cannot make.
class Blob {
public:
    Blob &raw(const std::string &bytes) {
        data_ += bytes;
        return *this;
    }
    Blob &u8(uint32_t v) {
        data_.push_back(static_cast<char>(v));
        return *this;
    }
    Blob &u16(uint32_t v) {
        u8(v & 0xFF);
        return u8((v >> 8) & 0xFF);
    }
    Blob &u32(uint32_t v) {
        u16(v & 0xFFFF);
        return u16(v >> 16);
    }
    Blob &text16(const std::string &s) {
        u16(static_cast<uint32_t>(s.size()));
        return raw(s);
    }
    // Magic and header fields.
    Blob &header(uint32_t langs, uint32_t metas, uint32_t flags = 1, uint32_t version = 1,
                 uint32_t max_len = 5, uint32_t max_dist = 4000, uint32_t threshold = 0);
    // A language record; values are written when `with_values`.
    Blob &lang(const std::string &code, const std::vector<std::string> &ngrams,
               bool with_values = true);
    const std::string &bytes() const { return data_; }

private:
    std::string data_;
};

// A profile blob whose languages hold the given n-grams in rank order.
using LangNgrams = std::pair<std::string, std::vector<std::string>>;
std::string make_profile(const std::vector<LangNgrams> &langs,
                         const std::vector<std::pair<std::string, std::string>> &meta = {});

// The k-th of a run of distinct letters: a-z, A-Z, then CJK ideographs.
std::string letter(int k);

// `n` distinct one-letter words.  With max_ngram_length 1 each word is one
// query n-gram, and they rank in text order (equal counts, first seen first).
std::string letters_text(int n);

// A profile blob whose header gives max_ngram_length 1, so that one-letter
// texts are exact queries.
std::string profile1(const std::vector<LangNgrams> &langs, uint32_t max_dist = 4000);

// Loads `blob` into the library and fails the test when that fails.
void load(const std::string &blob);

// The bytes of `s` with a given byte replaced.
std::string with_byte(std::string s, size_t at, char value);

// A profile's language codes and meta pairs, in their order.
using MetaPairs = std::vector<std::pair<std::string, std::string>>;
std::vector<std::string> codes_of(const tavik_profile &p);
MetaPairs meta_of(const tavik_profile &p);

// What a program run left: its exit code (128 + the signal number when a
// signal ended it), standard output and standard error.
struct RunResult {
    int code = -1;
    std::string out, err;
};

// Runs `program` with `args` (argv[0] is `program`), writes `input` to its
// standard input and closes it, and collects both output streams without
// letting any pipe fill up.  `env` entries (NAME=VALUE) are added to this
// process's environment, from which the variables named in `unset` are
// removed first.  With `unprivileged`, a root test process runs the program
// as "nobody", so that file permissions apply to it.
RunResult run_program(const std::string &program, const std::vector<std::string> &args,
                      const std::string &input = "", const std::vector<std::string> &env = {},
                      const std::vector<std::string> &unset = {}, bool unprivileged = false);

// Appends what one read of `fd` gives to `sink`; false once the stream has
// ended (end of file, or an error other than an interruption).
bool read_some(int fd, std::string &sink);

// Waits for child `pid` to end: its exit code, or 128 + the signal number.
int wait_exit_code(int pid);

// A text of a batch: its bytes, or a NULL pointer with a length.
struct BatchText {
    std::string bytes;
    bool null = false;
    uint64_t null_length = 0;
};

// Identifies `texts` in one tavik_session_identify_batch call on `batch`
// and one by one with tavik_session_identify on `alone` (a session on the
// same model with the same settings), and expects every outcome to be what
// `alone` answered for its text - for a too-short text with n-grams, the
// ranking `alone` gives with the n-gram minimum lifted - and `batch` to be
// left as `alone` is after the last text.
void expect_batch_as_alone(tavik_session *batch, tavik_session *alone,
                           const std::vector<BatchText> &texts);

// A model opened from `bytes` and one session on it; a failure to open is
// a test failure, and both stay nullptr.
struct Opened {
    tavik_model *model = nullptr;
    tavik_session *session = nullptr;

    explicit Opened(const std::string &bytes);
    ~Opened();
    Opened(const Opened &) = delete;
    Opened &operator=(const Opened &) = delete;

    int32_t identify(const std::string &text) {
        return tavik_session_identify(session, text.data(), text.size());
    }
};

}  // namespace tavik_test

#endif  // TAVIK_TESTUTIL_H
