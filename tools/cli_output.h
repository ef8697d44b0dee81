// SPDX-License-Identifier: MIT
// cli_output.h - the pieces of the `tavik` command that do not parse
// options: buffered output, text preparation and identification with its
// plain-text line, line streaming, and worker threads.
#ifndef TAVIK_CLI_OUTPUT_H
#define TAVIK_CLI_OUTPUT_H

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tavik/tavik_session.h"

namespace tavik::cli {

// A large output buffer over a FILE*: one fwrite per 64 KiB, so that
// streaming millions of short lines is not bound by the stream's locking.
// Without a FILE* it only collects, for take().
class Output {
public:
    explicit Output(FILE *f) : f_(f) {
        if (f_ != nullptr) buf_.reserve(kFlushAt + 4096);
    }
    ~Output() { flush(); }
    Output(const Output &) = delete;
    Output &operator=(const Output &) = delete;

    Output &put(std::string_view s) {
        buf_.append(s);
        if (buf_.size() >= kFlushAt && f_ != nullptr) flush();
        return *this;
    }
    Output &put(const char *s) { return put(std::string_view(s)); }
    Output &put(char c) {
        buf_.push_back(c);
        return *this;
    }
    Output &put(long v) { return put(std::string_view(std::to_string(v))); }
    Output &put_json_string(std::string_view s);
    // A profile text (code, meta key or value) on a tab-separated line: tab,
    // line feed, carriage return and backslash are written as \t, \n, \r
    // and \\, so that one record stays one line.
    Output &put_field(std::string_view s);
    // A value in [0, 1] or a distance, with four decimals.
    Output &put_fixed4(double v);
    bool flush();
    // What was collected, handed over; the buffer is empty after.
    std::string take() { return std::exchange(buf_, std::string()); }

private:
    static constexpr size_t kFlushAt = 1 << 16;
    FILE *f_;
    std::string buf_;
    bool ok_ = true;
};

// Prepares texts and identifies them with one session.  With
// replace_invalid every byte that does not start a well-formed UTF-8
// sequence becomes a space (a NUL byte is a separator to the session
// anyway).  `min_ngrams` is the session's setting, lifted for a second look
// at texts too short to be identified.  A text without any n-gram is too
// short whatever min_ngrams says: there is nothing to compare, so no
// language is named.
// True when a bundle named the language of the session's last text by its
// script alone (one result, no n-grams).
bool decided_by_script(const tavik_session *s);

class Identifier {
public:
    Identifier(tavik_session *session, bool replace_invalid, int32_t min_ngrams)
        : session_(session), replace_invalid_(replace_invalid), min_ngrams_(min_ngrams) {}
    int32_t identify(std::string_view text);
    // CODE<TAB>CONFIDENCE[<TAB>MARK], or with `all` always the status word
    // and then every language's distance as CODE:DISTANCE.
    void write_plain(Output &out, int32_t rc, bool all);
    tavik_session *session() const { return session_; }

private:
    tavik_session *session_;
    bool replace_invalid_;
    int32_t min_ngrams_;
    std::string_view text_;  // the text identified last, in buf_ or the caller's
    std::string buf_;
};

using LineFn = std::function<void(std::string_view line, long number)>;

// A byte source: fills up to `size` bytes of `buf` and returns the count,
// 0 at the end, or -1 on a read error.
using ReadFn = std::function<long(char *buf, size_t size)>;

// Reads the descriptor `fd` with read(2), retrying on EINTR.
ReadFn fd_reader(int fd);

// Calls fn for every line of the bytes of `read` as they come (a final
// line without "\n" included, a trailing "\r" removed; numbers count from
// 1); false on a read error, after the lines before it.
bool stream_lines(const ReadFn &read, const LineFn &fn);

// A batch of texts for the worker threads: `items` texts, the k-th of
// which is bytes[ends[k - 1] .. ends[k]) (from 0 for k = 0), numbered from
// `first`.
struct Batch {
    std::string bytes;
    std::vector<size_t> ends;
    long first = 1;
};

// Fills the next batch; returns 1 for a batch (which may be empty), 0 at
// the end of the input, or -1 on a read error (after which the batches
// before are still answered).
using FillFn = std::function<int(Batch &batch)>;

// What one thread runs for each text: writes exactly the text's output
// into `out`; false when the text was not identified.
using TextFn = std::function<bool(std::string_view text, long number, Output &out)>;

// Runs the texts of `fill` on `workers.size()` threads, worker k calling
// workers[k], and writes their output to `out` in input order, byte for
// byte what one thread would write.  Returns 0 when every text was
// identified, 1 when some was not, 2 on a read error (*error says so) or a
// write error.
int run_jobs(const FillFn &fill, const std::vector<TextFn> &workers, Output &out,
             std::string *error);

// The batches of lines that `read` gives, at most 2048 lines each, as
// stream_lines cuts them.
FillFn line_batches(const ReadFn &read);

// The number of processors this process may run on (at least 1).
int usable_cores();

}  // namespace tavik::cli

#endif  // TAVIK_CLI_OUTPUT_H
