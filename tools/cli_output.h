// cli_output.h - the pieces of the `tavik` command that do not parse
// options: buffered output, text preparation and identification with its
// plain-text line, line streaming, and worker processes.
#ifndef TAVIK_CLI_OUTPUT_H
#define TAVIK_CLI_OUTPUT_H

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

namespace tavik::cli {

// A large output buffer over a FILE*: one fwrite per 64 KiB, so that
// streaming millions of short lines is not bound by the stream's locking.
class Output {
public:
    explicit Output(FILE *f) : f_(f) { buf_.reserve(kFlushAt + 4096); }
    ~Output() { flush(); }
    Output(const Output &) = delete;
    Output &operator=(const Output &) = delete;

    Output &put(std::string_view s) {
        buf_.append(s);
        if (buf_.size() >= kFlushAt) flush();
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

private:
    static constexpr size_t kFlushAt = 1 << 16;
    FILE *f_;
    std::string buf_;
    bool ok_ = true;
};

// Prepares texts for the library and identifies them.  NUL bytes become
// spaces (the library reads a text up to its first NUL); with
// replace_invalid every byte that does not start a well-formed UTF-8
// sequence becomes a space as well.  A text without any n-gram is too short
// whatever min_ngrams says: there is nothing to compare, so no language is
// named.
class Identifier {
public:
    explicit Identifier(bool replace_invalid) : replace_invalid_(replace_invalid) {}
    int32_t identify(std::string_view text);
    // CODE<TAB>CONFIDENCE[<TAB>MARK], or with `all` always the status word
    // and then every language's distance as CODE:DISTANCE.
    void write_plain(Output &out, int32_t rc, bool all);

private:
    bool replace_invalid_;
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

// Reads `read` as lines and hands batches of them to `jobs` worker
// processes, each of which calls fn per line and writes exactly one output
// line per input line through `out` (its copy in the worker) on standard
// output; the parent writes the workers' output in input order to `out`.
// Returns the exit status: 0 when every worker reported all texts
// identified, 1 when some did not, 2 on an I/O error or a failed worker,
// with the cause in *error.
int run_jobs(int jobs, const ReadFn &read, const LineFn &fn, Output &out, bool *all_identified,
             std::string *error);

}  // namespace tavik::cli

#endif  // TAVIK_CLI_OUTPUT_H
