// SPDX-License-Identifier: MIT
// cli_output.cpp - output, text preparation, line streaming and worker
// threads of the `tavik` command.

#include "cli_output.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <sched.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "tavik/tavik_session.h"
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
    if (f_ == nullptr) return ok_;  // a collecting buffer: take() hands it over
    if (!buf_.empty()) {
        if (std::fwrite(buf_.data(), 1, buf_.size(), f_) != buf_.size()) ok_ = false;
        buf_.clear();
    }
    if (std::fflush(f_) != 0) ok_ = false;
    return ok_;
}

// ------------------------------------------------------------- Identifier

int32_t Identifier::identify(std::string_view text) {
    text_ = text;
    if (replace_invalid_) {
        buf_.assign(text);
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
        text_ = buf_;
    }
    const int32_t rc = tavik_session_identify(session_, text_.data(), text_.size());
    const bool scored = rc == TAVIK_OK || rc == TAVIK_AMBIGUOUS;
    if (scored && decided_by_script(session_)) return rc;
    return scored && tavik_session_ngram_count(session_) == 0 ? TAVIK_TOO_FEW_NGRAMS : rc;
}

bool decided_by_script(const tavik_session *s) {
    return tavik_session_status(s) == TAVIK_OK && tavik_session_ngram_count(s) == 0 &&
           tavik_session_script(s) >= 0 && tavik_session_result_count(s) == 1 &&
           tavik_session_result_distance(s, 0) == 0.0 &&
           tavik_session_result_confidence(s, 0) == 1.0;
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
    case TAVIK_UNSUPPORTED_SCRIPT:
        return "unsupported-script";
    default:
        return "error";
    }
}

}  // namespace

void Identifier::write_plain(Output &out, int32_t rc, bool all) {
    tavik_session *s = session_;
    // A text too short to be identified still gets its closest language,
    // scored with the n-gram minimum lifted for this one call.
    if (rc == TAVIK_TOO_FEW_NGRAMS && tavik_session_ngram_count(s) > 0) {
        tavik_session_set_min_ngrams(s, 0);
        tavik_session_identify(s, text_.data(), text_.size());
        tavik_session_set_min_ngrams(s, min_ngrams_);
    }
    const bool scored = ((rc == TAVIK_OK || rc == TAVIK_AMBIGUOUS || rc == TAVIK_TOO_FEW_NGRAMS) &&
                         tavik_session_ngram_count(s) > 0 && tavik_session_result_count(s) > 0) ||
                        (rc == TAVIK_OK && decided_by_script(s));
    if (scored)
        out.put_field(tavik_session_result_code(s, 0))
            .put('\t')
            .put_fixed4(tavik_session_result_confidence(s, 0));
    else
        out.put("und\t").put_fixed4(0.0);
    if (all) {
        out.put('\t').put(status_word(rc)).put('\t');
        for (int32_t i = 0; scored && i < tavik_session_result_count(s); ++i) {
            if (i > 0) out.put(' ');
            out.put_field(tavik_session_result_code(s, i))
                .put(':')
                .put_fixed4(tavik_session_result_distance(s, i));
        }
    } else if (rc != TAVIK_OK) {
        out.put('\t').put(status_word(rc));
        if (rc == TAVIK_UNSUPPORTED_SCRIPT)
            out.put('\t').put(tavik_script_name(tavik_session_script(s)));
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
        // Whatever read(2) has is handled at once instead of waiting for a
        // full chunk that may never come.
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
constexpr size_t kInFlightPerWorker = 4;

// A batch on its way: filled by the calling thread, answered by a worker,
// written by the calling thread once every batch before it has been.
struct Job {
    Batch batch;
    std::string out;
    bool taken = false;
    bool done = false;
};

struct Pool {
    std::mutex m;
    std::condition_variable work;           // a job was queued, or the input ended
    std::condition_variable ready;          // a job was answered
    std::deque<std::unique_ptr<Job>> jobs;  // in input order
    size_t next = 0;                        // first job not taken
    bool end = false;
    std::atomic<bool> all_identified{true};
};

void worker_loop(Pool &pool, const TextFn &fn) {
    Output out(nullptr);
    for (;;) {
        Job *job;
        {
            std::unique_lock lock(pool.m);
            pool.work.wait(lock, [&] { return pool.next < pool.jobs.size() || pool.end; });
            if (pool.next == pool.jobs.size()) return;
            job = pool.jobs[pool.next++].get();
            job->taken = true;
        }
        bool identified = true;
        const Batch &b = job->batch;
        for (size_t k = 0; k < b.ends.size(); ++k) {
            const size_t from = k == 0 ? 0 : b.ends[k - 1];
            const std::string_view text(b.bytes.data() + from, b.ends[k] - from);
            identified = fn(text, b.first + static_cast<long>(k), out) && identified;
        }
        if (!identified) pool.all_identified.store(false, std::memory_order_relaxed);
        std::string answer = out.take();
        {
            std::lock_guard lock(pool.m);
            job->out = std::move(answer);
            job->done = true;
        }
        pool.ready.notify_one();
    }
}

}  // namespace

int run_jobs(const FillFn &fill, const std::vector<TextFn> &workers, Output &out,
             std::string *error) {
    Pool pool;
    std::vector<std::thread> threads;
    threads.reserve(workers.size());
    for (const TextFn &fn : workers) threads.emplace_back([&pool, &fn] { worker_loop(pool, fn); });
    const size_t in_flight = kInFlightPerWorker * workers.size();
    bool eof = false, input_failed = false;
    // The calling thread reads the input and writes the answers in order.
    for (;;) {
        {
            std::unique_lock lock(pool.m);
            while (!pool.jobs.empty() && pool.jobs.front()->done) {
                std::unique_ptr<Job> job = std::move(pool.jobs.front());
                pool.jobs.pop_front();
                --pool.next;
                lock.unlock();
                out.put(job->out);
                lock.lock();
            }
            if (eof && pool.jobs.empty()) break;
            if (eof || pool.jobs.size() >= in_flight) {
                pool.ready.wait(lock, [&] { return pool.jobs.front()->done; });
                continue;
            }
        }
        auto job = std::make_unique<Job>();
        const int got = fill(job->batch);
        if (got <= 0) {
            eof = true;
            input_failed = got < 0;
            std::lock_guard lock(pool.m);
            pool.end = true;
        } else if (!job->batch.ends.empty()) {
            std::lock_guard lock(pool.m);
            pool.jobs.push_back(std::move(job));
        }
        pool.work.notify_all();
    }
    {
        std::lock_guard lock(pool.m);
        pool.end = true;
    }
    pool.work.notify_all();
    for (std::thread &t : threads) t.join();
    int status = pool.all_identified.load() ? 0 : 1;
    if (input_failed) {
        *error = "cannot read the input";
        status = 2;
    }
    if (!out.flush() && status != 2) {
        *error = "cannot write standard output";
        status = 2;
    }
    return status;
}

FillFn line_batches(const ReadFn &read) {
    struct State {
        std::string carry;
        std::vector<char> chunk = std::vector<char>(1 << 20);
        long next = 1;
        bool eof = false, failed = false;
    };
    auto st = std::make_shared<State>();
    return [read, st](Batch &b) -> int {
        b.bytes.clear();
        b.ends.clear();
        b.first = st->next;
        auto add = [&b](std::string_view line) {
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            b.bytes.append(line);
            b.ends.push_back(b.bytes.size());
        };
        while (b.ends.size() < kBatchLines) {
            size_t pos = 0;
            for (size_t nl; b.ends.size() < kBatchLines &&
                            (nl = st->carry.find('\n', pos)) != std::string::npos;
                 pos = nl + 1)
                add(std::string_view(st->carry).substr(pos, nl - pos));
            st->carry.erase(0, pos);
            if (b.ends.size() == kBatchLines) break;
            if (st->eof) {
                // A read error drops the unfinished line, as stream_lines does.
                if (!st->carry.empty() && !st->failed) add(st->carry);
                st->carry.clear();
                break;
            }
            const long got = read(st->chunk.data(), st->chunk.size());
            if (got <= 0) {
                st->eof = true;
                st->failed = got < 0;
            } else {
                st->carry.append(st->chunk.data(), static_cast<size_t>(got));
            }
        }
        st->next += static_cast<long>(b.ends.size());
        if (!b.ends.empty()) return 1;
        return st->failed ? -1 : 0;
    };
}

int usable_cores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) != 0) return 1;
    const int n = CPU_COUNT(&set);
    return n < 1 ? 1 : (n > 256 ? 256 : n);
}

}  // namespace tavik::cli
