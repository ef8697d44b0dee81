// cli_output.cpp - output, text preparation, line streaming and worker
// processes of the `tavik` command.

#include "cli_output.h"

#include <cerrno>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "tavik/tavik_api.h"
#include "tavik/utf8.h"

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

Output &Output::put_field(std::string_view s) {
    for (const char c : s) {
        switch (c) {
        case '\t':
            buf_.append("\\t");
            break;
        case '\n':
            buf_.append("\\n");
            break;
        case '\r':
            buf_.append("\\r");
            break;
        case '\\':
            buf_.append("\\\\");
            break;
        default:
            buf_.push_back(c);
        }
    }
    if (buf_.size() >= kFlushAt) flush();
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
    const int32_t rc = tavik_identify(buf_.c_str());
    const bool scored = rc == TAVIK_OK || rc == TAVIK_AMBIGUOUS;
    return scored && tavik_ngram_count() == 0 ? TAVIK_TOO_FEW_NGRAMS : rc;
}

namespace {

const char *status_word(int32_t rc) {
    switch (rc) {
    case TAVIK_OK:
        return "ok";
    case TAVIK_AMBIGUOUS:
        return "ambiguous";
    case TAVIK_TOO_FEW_NGRAMS:
        return "too-short";
    case TAVIK_BAD_UTF8:
        return "bad-utf8";
    default:
        return "error";
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
                        tavik_ngram_count() > 0 && tavik_result_count() > 0;
    if (scored)
        out.put_field(tavik_result_code(0)).put('\t').put_fixed4(tavik_result_confidence(0));
    else
        out.put("und\t").put_fixed4(0.0);
    if (all) {
        out.put('\t').put(status_word(rc)).put('\t');
        for (int32_t i = 0; scored && i < tavik_result_count(); ++i) {
            if (i > 0) out.put(' ');
            out.put_field(tavik_result_code(i)).put(':').put_fixed4(tavik_result_distance(i));
        }
    } else if (rc != TAVIK_OK) {
        out.put('\t').put(status_word(rc));
    }
    out.put('\n');
}

// ------------------------------------------------------------------ lines

ReadFn fd_reader(int fd) {
    return [fd](char *buf, size_t size) -> long {
        for (;;) {
            const ssize_t n = ::read(fd, buf, size);
            if (n >= 0) return static_cast<long>(n);
            if (errno != EINTR) return -1;
        }
    };
}

bool stream_lines(const ReadFn &read, const LineFn &fn) {
    std::string carry;
    std::vector<char> chunk(1 << 20);
    long number = 0;
    for (;;) {
        // Whatever read(2) has is handled at once: a worker must answer the
        // lines it got instead of waiting for a full chunk that may never come.
        const long got = read(chunk.data(), chunk.size());
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
    int in = -1;                 // parent writes lines here
    int out = -1;                // parent reads results here
    std::string pending_in;      // bytes not yet written
    std::string got;             // results read, not yet emitted
    std::deque<size_t> batches;  // line counts of batches sent, oldest first
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
    const bool ok = stream_lines(fd_reader(in), [&](std::string_view line, long local) {
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

int run_jobs(int jobs, const ReadFn &read, const LineFn &fn, Output &out, bool *all_identified,
             std::string *error) {
    std::vector<Worker> workers;
    bool failed = false;
    auto fail = [&](const std::string &why) {
        if (!failed) *error = why;
        failed = true;
    };
    out.flush();
    for (int w = 0; w < jobs && !failed; ++w) {
        int to_child[2], from_child[2];
        // A socket towards the worker, so that a worker that died makes
        // send() fail with EPIPE instead of raising SIGPIPE here.
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, to_child) != 0) {
            fail(std::string("cannot start workers: ") + std::strerror(errno));
            break;
        }
        if (::pipe2(from_child, O_CLOEXEC) != 0) {
            fail(std::string("cannot start workers: ") + std::strerror(errno));
            ::close(to_child[0]);
            ::close(to_child[1]);
            break;
        }
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(to_child[1]);
            ::close(from_child[0]);
            for (const Worker &v : workers) {
                ::close(v.in);
                ::close(v.out);
            }
            worker_main(static_cast<size_t>(w), static_cast<size_t>(jobs), to_child[0],
                        from_child[1], fn, out, all_identified);
        }
        ::close(to_child[0]);
        ::close(from_child[1]);
        if (pid < 0) {
            fail(std::string("cannot start workers: ") + std::strerror(errno));
            ::close(to_child[1]);
            ::close(from_child[0]);
            break;
        }
        Worker &k = workers.emplace_back();
        k.pid = pid;
        k.in = to_child[1];
        k.out = from_child[0];
        set_nonblocking(k.out);
    }

    // Input is cut into batches of kBatchLines lines, dealt round-robin, so
    // that the results of batch b come from worker b % jobs, in order.
    std::string carry, batch;
    size_t batch_lines = 0, next_worker = 0, emit_worker = 0;
    bool eof = false, input_failed = false;
    std::vector<char> chunk(1 << 20);

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
    while (!failed) {
        // Fill batches from the input while the next worker has room.
        while (!eof && workers[next_worker].batches.size() < kInFlight) {
            size_t scan = 0;
            while (batch_lines < kBatchLines) {
                const size_t nl = carry.find('\n', scan);
                if (nl == std::string::npos) break;
                scan = nl + 1;
                ++batch_lines;
            }
            batch.append(carry, 0, scan);
            carry.erase(0, scan);
            if (batch_lines == kBatchLines) {
                send_batch();
                continue;
            }
            const long n = read(chunk.data(), chunk.size());
            if (n <= 0) {
                eof = true;
                // The lines read so far are still answered.
                input_failed = n < 0;
                if (!carry.empty()) {
                    batch += carry;
                    batch += '\n';
                    ++batch_lines;
                    carry.clear();
                }
                if (batch_lines > 0) send_batch();
                break;
            }
            carry.append(chunk.data(), static_cast<size_t>(n));
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
        if (!busy || failed) break;

        std::vector<pollfd> fds;
        for (Worker &w : workers) {
            if (w.in >= 0 && !w.pending_in.empty()) fds.push_back({w.in, POLLOUT, 0});
            if (w.out >= 0) fds.push_back({w.out, POLLIN, 0});
        }
        if (fds.empty()) {
            fail("a worker ended early");
            break;
        }
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            fail(std::string("poll: ") + std::strerror(errno));
            break;
        }
        for (Worker &w : workers) {
            if (w.in >= 0 && !w.pending_in.empty()) {
                const ssize_t n = ::send(w.in, w.pending_in.data(), w.pending_in.size(),
                                         MSG_NOSIGNAL | MSG_DONTWAIT);
                if (n > 0)
                    w.pending_in.erase(0, static_cast<size_t>(n));
                else if (n < 0 && errno != EAGAIN && errno != EINTR)
                    fail("a worker ended early");
            }
            if (w.out >= 0) {
                char buf[1 << 16];
                const ssize_t n = ::read(w.out, buf, sizeof buf);
                if (n > 0) {
                    w.got.append(buf, static_cast<size_t>(n));
                } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                    ::close(w.out);
                    w.out = -1;
                    size_t expected = 0;
                    for (const size_t lines : w.batches) expected += lines;
                    if (expected > 0 && prefix_of_lines(w.got, expected) == std::string::npos)
                        fail("a worker ended early");
                }
            }
        }
        if (eof) close_inputs();
    }
    int status = failed ? 2 : 0;
    for (Worker &w : workers) {
        // Closing the pipes first lets a worker that is still writing end.
        if (w.in >= 0) ::close(w.in);
        if (w.out >= 0) ::close(w.out);
        int ws = 0;
        while (::waitpid(w.pid, &ws, 0) < 0 && errno == EINTR) {
        }
        if (!WIFEXITED(ws) || WEXITSTATUS(ws) == 2) {
            if (status != 2) *error = "a worker failed";
            status = 2;
        } else if (WEXITSTATUS(ws) == 1 && status == 0) {
            status = 1;
        }
    }
    if (input_failed && status != 2) {
        *error = "cannot read the input";
        status = 2;
    }
    *all_identified = status == 0;
    if (!out.flush() && status != 2) {
        *error = "cannot write standard output";
        status = 2;
    }
    return status;
}

}  // namespace tavik::cli
