// SPDX-License-Identifier: MIT
// compare_cld2.cpp - tavik beside CLD2 on the same texts, in one run.
//
//   compare_cld2 PROFILE DEV.TSV
//
// Reads DEV.TSV (code<TAB>text<TAB>length), groups the texts by their length
// column, and times, single-threaded and alternating, tavik_identify against
// PROFILE and CLD2's DetectLanguage over every text of each group until a
// second has passed.  Prints texts per second for both and their ratio, and
// beside them a session's rate one text per call (tavik_session_identify)
// and in batches of kBatch texts (tavik_session_identify_batch), then
// the load time of PROFILE from memory and the peak memory of a process that
// loads it and identifies (measured in a child process).

#include <algorithm>
#include <chrono>
#include <cld2/public/compact_lang_det.h>
#include <cstdio>  // CLD2's header uses FILE without including it
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "tavik/tavik_api.h"
#include "tavik/tavik_session.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string slurp(const char *path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::map<std::string, std::vector<std::string>> read_dev(const char *path) {
    std::map<std::string, std::vector<std::string>> groups;
    std::istringstream in(slurp(path));
    std::string line;
    while (std::getline(in, line)) {
        const size_t a = line.find('\t');
        const size_t b = line.find('\t', a + 1);
        if (a == std::string::npos || b == std::string::npos) continue;
        groups[line.substr(b + 1)].push_back(line.substr(a + 1, b - a - 1));
    }
    return groups;
}

// Texts per second of `fn` over `texts`, repeated for at least `seconds`.
template <class Fn>
double rate(const std::vector<std::string> &texts, double seconds, Fn fn) {
    long done = 0;
    const auto start = Clock::now();
    double elapsed = 0;
    volatile long sink = 0;
    do {
        for (const std::string &t : texts) sink = sink + fn(t);
        done += static_cast<long>(texts.size());
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < seconds);
    return static_cast<double>(done) / elapsed;
}

long tavik_one(const std::string &t) { return tavik_identify(t.c_str()); }

// Texts per call of the batch column: the results of larger calls outgrow
// the caches (bench/README.md, "Round three: batches").
constexpr size_t kBatch = 64;

// Texts per second of a session over `texts`, one per call.
double session_rate(tavik_session *s, const std::vector<std::string> &texts, double seconds) {
    return rate(texts, seconds, [s](const std::string &t) {
        return tavik_session_identify(s, t.data(), t.size());
    });
}

// Texts per second of a session over `texts`, kBatch per call.
double batch_rate(tavik_session *s, const std::vector<std::string> &texts, double seconds) {
    std::vector<const char *> ptrs;
    std::vector<uint64_t> lengths;
    for (const std::string &t : texts) {
        ptrs.push_back(t.data());
        lengths.push_back(t.size());
    }
    std::vector<tavik_outcome> outcomes(kBatch);
    long done = 0;
    const auto start = Clock::now();
    double elapsed = 0;
    do {
        for (size_t at = 0; at < texts.size(); at += kBatch) {
            const size_t n = std::min(kBatch, texts.size() - at);
            tavik_session_identify_batch(s, ptrs.data() + at, lengths.data() + at, n,
                                         outcomes.data());
        }
        done += static_cast<long>(texts.size());
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < seconds);
    return static_cast<double>(done) / elapsed;
}

long cld2_one(const std::string &t) {
    bool reliable = false;
    return CLD2::DetectLanguage(t.data(), static_cast<int>(t.size()), true, &reliable);
}

long peak_kib_after_load_and_identify(const std::string &blob,
                                      const std::vector<std::string> &texts) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (tavik_load_profile_memory(blob.data(), blob.size()) != TAVIK_OK) _exit(1);
        for (const std::string &t : texts) tavik_identify(t.c_str());
        _exit(0);
    }
    int status = 0;
    struct rusage ru {};
    wait4(pid, &status, 0, &ru);
    return ru.ru_maxrss;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s PROFILE DEV.TSV\n", argv[0]);
        return 2;
    }
    const std::string blob = slurp(argv[1]);
    const auto groups = read_dev(argv[2]);
    if (blob.empty() || groups.empty()) {
        std::fprintf(stderr, "compare_cld2: cannot read %s or %s\n", argv[1], argv[2]);
        return 2;
    }

    // The baseline: a process that has touched the same texts but loaded
    // nothing, so that the peak below is the library's share.
    std::vector<std::string> all;
    for (const auto &[label, texts] : groups) all.insert(all.end(), texts.begin(), texts.end());
    const long base_kib = [&] {
        const pid_t pid = fork();
        if (pid == 0) _exit(0);
        int status = 0;
        struct rusage ru {};
        wait4(pid, &status, 0, &ru);
        return ru.ru_maxrss;
    }();
    const long peak_kib = peak_kib_after_load_and_identify(blob, all);

    if (tavik_load_profile_memory(blob.data(), blob.size()) != TAVIK_OK) {
        std::fprintf(stderr, "compare_cld2: cannot load %s: %s\n", argv[1], tavik_last_error());
        return 2;
    }
    std::printf("profile %s: %zu bytes, %d languages\n", tavik_profile_id(), blob.size(),
                tavik_profile_language_count());
    tavik_model *model = nullptr;
    tavik_session *session = nullptr;
    if (tavik_model_open_memory(blob.data(), blob.size(), &model) != TAVIK_OK ||
        tavik_session_new(model, &session) != TAVIK_OK) {
        std::fprintf(stderr, "compare_cld2: cannot open %s as a model\n", argv[1]);
        return 2;
    }
    std::printf("%-7s %7s %14s %14s %7s %10s %14s %14s %7s\n", "length", "texts", "tavik texts/s",
                "cld2 texts/s", "ratio", "tavik MB/s", "session/s", "batch/s", "b.ratio");
    for (const auto &[label, texts] : groups) {
        size_t bytes = 0;
        for (const std::string &t : texts) bytes += t.size();
        rate(texts, 0.2, tavik_one);  // warm both up
        rate(texts, 0.2, cld2_one);
        session_rate(session, texts, 0.2);
        batch_rate(session, texts, 0.2);
        double t = 0, c = 0, one = 0, b = 0;
        for (int round = 0; round < 3; ++round) {  // alternate, keep the best
            t = std::max(t, rate(texts, 1.0, tavik_one));
            c = std::max(c, rate(texts, 1.0, cld2_one));
            one = std::max(one, session_rate(session, texts, 1.0));
            b = std::max(b, batch_rate(session, texts, 1.0));
        }
        const double mbps =
            t * static_cast<double>(bytes) / static_cast<double>(texts.size()) / 1e6;
        std::printf("%-7s %7zu %14.0f %14.0f %7.2f %10.1f %14.0f %14.0f %7.2f\n", label.c_str(),
                    texts.size(), t, c, t / c, mbps, one, b, b / c);
    }

    tavik_session_free(session);
    tavik_model_free(model);

    const int loads = 20;
    const auto start = Clock::now();
    for (int i = 0; i < loads; ++i) tavik_load_profile_memory(blob.data(), blob.size());
    const double ms =
        std::chrono::duration<double, std::milli>(Clock::now() - start).count() / loads;
    std::printf("load from memory: %.2f ms\n", ms);
    std::printf("peak memory: %ld KiB after load and identify, %ld KiB without (file %zu KiB)\n",
                peak_kib, base_kib, blob.size() / 1024);
    return 0;
}
