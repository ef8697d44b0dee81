// cli_output.cpp - output, text preparation, line streaming and worker
// processes of the `tavik` command.

#include "cli_output.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <vector>

#include "tavik_api.h"

namespace tavik::cli {

// ----------------------------------------------------------------- Output

Output &Output::put_json_string(std::string_view s) {
    buf_.push_back('"');
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            buf_.push_back('\\');
            buf_.push_back(c);
        } else if (u < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", u);
            buf_.append(esc);
        } else {
            buf_.push_back(c);
        }
    }
    buf_.push_back('"');
    return *this;
}

Output &Output::put_fixed4(double v) {
    char b[64];
    std::snprintf(b, sizeof b, "%.4f", v);
    return put(std::string_view(b));
}

bool Output::flush() {
    if (!buf_.empty()) {
        if (std::fwrite(buf_.data(), 1, buf_.size(), f_) != buf_.size()) ok_ = false;
        buf_.clear();
    }
    if (std::fflush(f_) != 0) ok_ = false;
    return ok_;
}

// ------------------------------------------------------------- Identifier

int32_t Identifier::identify(std::string_view text) {
    buf_.assign(text);
    for (char &c : buf_)
        if (c == '\0') c = ' ';
    if (replace_invalid_) {
        const auto *p = reinterpret_cast<const unsigned char *>(buf_.data());
        size_t i = 0;
        while (i < buf_.size()) {
            uint32_t cp;
            const int32_t n = tavik_utf8_decode(p + i, buf_.size() - i, &cp);
            if (n > 0) {
                i += static_cast<size_t>(n);
            } else {
                buf_[i] = ' ';
                ++i;
            }
        }
    }
    return tavik_identify(buf_.c_str());
}

namespace {

const char *status_word(int32_t rc) {
    switch (rc) {
    case TAVIK_OK: return "ok";
    case TAVIK_AMBIGUOUS: return "ambiguous";
    case TAVIK_TOO_FEW_NGRAMS: return "too-short";
    case TAVIK_BAD_UTF8: return "bad-utf8";
    default: return "error";
    }
}

}  // namespace

void Identifier::write_plain(Output &out, int32_t rc, bool all) {
    // A text too short to be identified still gets its closest language,
    // scored with the n-gram minimum lifted for this one call.
    if (rc == TAVIK_TOO_FEW_NGRAMS && tavik_ngram_count() > 0) {
        const int32_t min_ngrams = tavik_get_state()->min_ngrams;
        tavik_set_min_ngrams(0);
        tavik_identify(buf_.c_str());
        tavik_set_min_ngrams(min_ngrams);
    }
    const bool scored = (rc == TAVIK_OK || rc == TAVIK_AMBIGUOUS || rc == TAVIK_TOO_FEW_NGRAMS) &&
                        tavik_result_count() > 0;
    if (scored)
        out.put(tavik_result_code(0)).put('\t').put_fixed4(tavik_result_confidence(0));
    else
        out.put("und\t").put_fixed4(0.0);
    if (all) {
        out.put('\t').put(status_word(rc)).put('\t');
        for (int32_t i = 0; scored && i < tavik_result_count(); ++i) {
            if (i > 0) out.put(' ');
            out.put(tavik_result_code(i)).put(':').put_fixed4(tavik_result_distance(i));
        }
    } else if (rc != TAVIK_OK) {
        out.put('\t').put(status_word(rc));
    }
    out.put('\n');
}

// ------------------------------------------------------------------ lines

void for_each_line(std::string_view data, const LineFn &fn) {
    long number = 0;
    size_t pos = 0;
    while (pos < data.size()) {
        size_t end = data.find('\n', pos);
        if (end == std::string_view::npos) end = data.size();
        std::string_view line = data.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        fn(line, ++number);
        pos = end + 1;
    }
}

bool stream_lines(int fd, const LineFn &fn) {
    std::string carry;
    std::vector<char> chunk(1 << 20);
    long number = 0;
    for (;;) {
        // read(2) rather than fread: a worker must handle the lines it has
        // instead of waiting for a full chunk that may never come.
        const ssize_t got = ::read(fd, chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) break;
        std::string_view data(chunk.data(), static_cast<size_t>(got));
        size_t pos = 0;
        for (size_t nl; (nl = data.find('\n', pos)) != std::string_view::npos; pos = nl + 1) {
            std::string_view line = data.substr(pos, nl - pos);
            if (!carry.empty()) {
                carry.append(line);
                line = carry;
            }
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            fn(line, ++number);
            carry.clear();
        }
        carry.append(data.substr(pos));
    }
    if (!carry.empty()) {
        std::string_view line = carry;
        if (line.back() == '\r') line.remove_suffix(1);
        fn(line, ++number);
    }
    return true;
}

// ---------------------------------------------------------------- workers

namespace {

constexpr size_t kBatchLines = 2048;
constexpr size_t kInFlight = 4;  // batches queued per worker

struct Worker {
    pid_t pid = -1;
    int in = -1;   // parent writes lines here
    int out = -1;  // parent reads results here
    std::string pending_in;     // bytes not yet written
    std::string got;            // results read, not yet emitted
    std::deque<size_t> batches; // line counts of batches sent, oldest first
};

bool set_nonblocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// The child: reads its batches from `in`, writes results to standard output.
// Line numbers are turned back into the input's: worker w receives batches
// w, w + jobs, w + 2 jobs, ..., all of kBatchLines lines but the last.
[[noreturn]] void worker_main(size_t w, size_t jobs, int in, int out, const LineFn &fn,
                              Output &output, bool *all_identified) {
    if (::dup2(out, STDOUT_FILENO) < 0) ::_exit(2);
    ::close(out);
    const bool ok = stream_lines(in, [&](std::string_view line, long local) {
        const auto j = static_cast<size_t>(local - 1);
        const size_t batch = w + jobs * (j / kBatchLines);
        fn(line, static_cast<long>(batch * kBatchLines + j % kBatchLines + 1));
        // The parent emits a batch only once all of it has arrived.
        if ((j + 1) % kBatchLines == 0) output.flush();
    });
    const bool flushed = output.flush();
    ::_exit(!ok || !flushed ? 2 : (*all_identified ? 0 : 1));
}

// Counts `lines` newlines into `s` from the front; the byte count or npos.
size_t prefix_of_lines(const std::string &s, size_t lines) {
    size_t pos = 0;
    for (size_t k = 0; k < lines; ++k) {
        const size_t nl = s.find('\n', pos);
        if (nl == std::string::npos) return std::string::npos;
        pos = nl + 1;
    }
    return pos;
}

}  // namespace

int run_jobs(int jobs, const LineFn &fn, Output &out, bool *all_identified) {
    std::vector<Worker> workers(static_cast<size_t>(jobs));
    std::fflush(stdout);
    for (size_t w = 0; w < workers.size(); ++w) {
        int to_child[2], from_child[2];
        if (::pipe2(to_child, O_CLOEXEC) != 0 || ::pipe2(from_child, O_CLOEXEC) != 0) return 2;
        const pid_t pid = ::fork();
        if (pid < 0) return 2;
        if (pid == 0) {
            ::close(to_child[1]);
            ::close(from_child[0]);
            for (size_t v = 0; v < w; ++v) {
                ::close(workers[v].in);
                ::close(workers[v].out);
            }
            worker_main(w, workers.size(), to_child[0], from_child[1], fn, out, all_identified);
        }
        ::close(to_child[0]);
        ::close(from_child[1]);
        workers[w].pid = pid;
        workers[w].in = to_child[1];
        workers[w].out = from_child[0];
        set_nonblocking(workers[w].in);
        set_nonblocking(workers[w].out);
    }

    // Input is cut into batches of kBatchLines lines, dealt round-robin, so
    // that the results of batch b come from worker b % jobs, in order.
    std::string carry, batch;
    size_t batch_lines = 0, next_worker = 0, emit_worker = 0;
    bool eof = false, failed = false;
    std::vector<char> chunk(1 << 20);

    auto queued = [&](const Worker &w) { return w.batches.size(); };
    auto close_inputs = [&] {
        for (Worker &w : workers)
            if (w.in >= 0 && w.pending_in.empty()) {
                ::close(w.in);
                w.in = -1;
            }
    };
    auto send_batch = [&] {
        Worker &w = workers[next_worker];
        w.pending_in += batch;
        w.batches.push_back(batch_lines);
        batch.clear();
        batch_lines = 0;
        next_worker = (next_worker + 1) % workers.size();
    };
    for (;;) {
        // Fill batches from standard input while the next worker has room.
        while (!eof && queued(workers[next_worker]) < kInFlight) {
            while (batch_lines < kBatchLines) {
                const size_t nl = carry.find('\n');
                if (nl == std::string::npos) break;
                batch.append(carry, 0, nl + 1);
                carry.erase(0, nl + 1);
                ++batch_lines;
            }
            if (batch_lines == kBatchLines) {
                send_batch();
                continue;
            }
            const size_t n = std::fread(chunk.data(), 1, chunk.size(), stdin);
            if (n == 0) {
                eof = true;
                if (std::ferror(stdin) != 0) failed = true;
                if (!carry.empty()) {
                    batch += carry;
                    batch += '\n';
                    ++batch_lines;
                    carry.clear();
                }
                if (batch_lines > 0) send_batch();
                break;
            }
            carry.append(chunk.data(), n);
        }
        if (eof) close_inputs();

        // Emit whatever completes the next batch in order.
        for (;;) {
            Worker &w = workers[emit_worker];
            if (w.batches.empty()) break;
            const size_t bytes = prefix_of_lines(w.got, w.batches.front());
            if (bytes == std::string::npos) break;
            out.put(std::string_view(w.got.data(), bytes));
            w.got.erase(0, bytes);
            w.batches.pop_front();
            emit_worker = (emit_worker + 1) % workers.size();
        }
        bool busy = !eof;
        for (const Worker &w : workers) busy = busy || !w.batches.empty();
        if (!busy) break;

        std::vector<pollfd> fds;
        for (Worker &w : workers) {
            if (w.in >= 0 && !w.pending_in.empty()) fds.push_back({w.in, POLLOUT, 0});
            if (w.out >= 0) fds.push_back({w.out, POLLIN, 0});
        }
        if (fds.empty() || ::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            failed = true;
            break;
        }
        for (Worker &w : workers) {
            if (w.in >= 0 && !w.pending_in.empty()) {
                const ssize_t n = ::write(w.in, w.pending_in.data(), w.pending_in.size());
                if (n > 0) w.pending_in.erase(0, static_cast<size_t>(n));
                else if (n < 0 && errno != EAGAIN && errno != EINTR) failed = true;
            }
            if (w.out >= 0) {
                char buf[1 << 16];
                const ssize_t n = ::read(w.out, buf, sizeof buf);
                if (n > 0) {
                    w.got.append(buf, static_cast<size_t>(n));
                } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                    ::close(w.out);
                    w.out = -1;
                    if (!w.batches.empty() && prefix_of_lines(w.got, w.batches.front()) ==
                                                  std::string::npos)
                        failed = true;
                }
            }
        }
        if (eof) close_inputs();
        if (failed) break;
    }
    int status = failed ? 2 : 0;
    for (Worker &w : workers) {
        if (w.in >= 0) ::close(w.in);
        if (w.out >= 0) ::close(w.out);
        int ws = 0;
        if (::waitpid(w.pid, &ws, 0) < 0 || !WIFEXITED(ws) || WEXITSTATUS(ws) == 2) status = 2;
        else if (WEXITSTATUS(ws) == 1 && status == 0) status = 1;
    }
    *all_identified = status == 0;
    if (!out.flush()) status = 2;
    return status;
}

}  // namespace tavik::cli
