// SPDX-License-Identifier: MIT
// cli_output.cpp - output, text preparation, line streaming and worker
// threads of the `tavik` command.

#include "cli_output.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <sched.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "tavik/tavik_session.h"
#include "tavik/utf8.h"
#include "yyjson.h"

namespace tavik::cli {

// ----------------------------------------------------------------- Output

Output &Output::put_json_string(std::string_view text) {
    // Bytes that are not UTF-8 become U+FFFD: the document stays JSON.
    const std::string s = outcome::valid_utf8(text);
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

std::string_view Identifier::prepare(std::string_view text) {
    if (!replace_invalid_) return text;
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
    return buf_;
}

int32_t Identifier::identify(std::string_view text, long keep) {
    return outcome::identify(session_, prepare(text), outcome_, keep);
}

int32_t Identifier::identify_plain(std::string_view text) {
    const std::string_view t = prepare(text);
    return tavik_session_identify(session_, t.data(), t.size());
}

void Identifier::write_plain(Output &out, const Origin &origin, bool all, long top) const {
    const outcome::Outcome &o = outcome_;
    if (origin.file != nullptr) out.put_field(origin.file).put('\t');
    if (o.named)
        out.put_field(o.code).put('\t').put_fixed4(o.confidence);
    else
        out.put("und\t").put_fixed4(0.0);
    if (all) {
        out.put('\t').put(outcome::status_word(o.status)).put('\t');
        const size_t n =
            top <= 0 ? o.results.size() : std::min(o.results.size(), static_cast<size_t>(top));
        for (size_t i = 0; o.named && i < n; ++i) {
            if (i > 0) out.put(' ');
            out.put_field(o.results[i].code).put(':').put_fixed4(o.results[i].distance);
        }
    } else if (o.status != TAVIK_OK) {
        out.put('\t').put(outcome::status_word(o.status));
        if (o.status == TAVIK_UNSUPPORTED_SCRIPT && o.script >= 0)
            out.put('\t').put(tavik_script_name(o.script));
    }
    out.put('\n');
}

namespace {

yyjson_mut_val *json_text(yyjson_mut_doc *doc, std::string_view s) {
    const std::string v = outcome::valid_utf8(s);
    return yyjson_mut_strncpy(doc, v.data(), v.size());
}

}  // namespace

void Identifier::write_json(Output &out, const Origin &origin, long top) const {
    const outcome::Outcome &o = outcome_;
    yyjson_mut_doc *doc = yyjson_mut_doc_new(nullptr);
    if (doc == nullptr) throw std::bad_alloc();
    yyjson_mut_val *root = yyjson_mut_obj(doc);
    yyjson_mut_doc_set_root(doc, root);
    yyjson_mut_obj_add_int(doc, root, "version", kJsonVersion);
    if (origin.file != nullptr)
        yyjson_mut_obj_add_val(doc, root, "file", json_text(doc, origin.file));
    if (origin.line > 0) yyjson_mut_obj_add_int(doc, root, "line", origin.line);
    yyjson_mut_obj_add_str(doc, root, "status", outcome::status_word(o.status));
    yyjson_mut_obj_add_int(doc, root, "status_code", o.status);
    if (o.status == TAVIK_UNSUPPORTED_SCRIPT && o.script >= 0)
        yyjson_mut_obj_add_str(doc, root, "script", tavik_script_name(o.script));
    if (o.named)
        yyjson_mut_obj_add_val(doc, root, "language", json_text(doc, o.code));
    else
        yyjson_mut_obj_add_null(doc, root, "language");
    if (o.probability >= 0.0)
        yyjson_mut_obj_add_real(doc, root, "probability", o.probability);
    else
        yyjson_mut_obj_add_null(doc, root, "probability");
    yyjson_mut_obj_add_bool(doc, root, "reliable", o.reliable);
    yyjson_mut_obj_add_real(doc, root, "confidence", o.named ? o.confidence : 0.0);
    yyjson_mut_obj_add_int(doc, root, "ngrams", o.ngrams);
    yyjson_mut_val *results = yyjson_mut_arr(doc);
    const size_t n = !o.named   ? 0
                     : top <= 0 ? o.results.size()
                                : std::min(o.results.size(), static_cast<size_t>(top));
    for (size_t i = 0; i < n; ++i) {
        yyjson_mut_val *r = yyjson_mut_obj(doc);
        yyjson_mut_obj_add_val(doc, r, "language", json_text(doc, o.results[i].code));
        yyjson_mut_obj_add_real(doc, r, "distance", o.results[i].distance);
        yyjson_mut_arr_append(results, r);
    }
    yyjson_mut_obj_add_val(doc, root, "results", results);
    size_t len = 0;
    char *text = yyjson_mut_write(doc, YYJSON_WRITE_INF_AND_NAN_AS_NULL, &len);
    yyjson_mut_doc_free(doc);
    if (text == nullptr) throw std::bad_alloc();
    out.put(std::string_view(text, len)).put('\n');
    std::free(text);
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
