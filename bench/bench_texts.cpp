// SPDX-License-Identifier: MIT
// bench_texts.cpp - the session interface on real texts, as the baseline of
// the Python benchmark (bench/bench_python.py).
//
// TAVIK_BENCH_PROFILE names the profile (default: data/default.tavik of the
// source tree), TAVIK_BENCH_TEXTS a file of texts, one per line (default:
// the 100-character texts of data/dev.tsv).  One session identifies the
// texts in turn under the default settings, as tavik.Model.identify_many
// does with jobs=1.
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tavik/tavik_session.h"

namespace {

std::string env_or(const char *name, const std::string &fallback) {
    const char *v = std::getenv(name);
    return v != nullptr && *v != '\0' ? v : fallback;
}

// Lines of the texts file; for dev.tsv (label, text, length), the texts
// whose length column is 100.
std::vector<std::string> load_texts() {
    const std::string given = env_or("TAVIK_BENCH_TEXTS", "");
    std::ifstream in(given.empty() ? std::string(TAVIK_SOURCE_DIR "/data/dev.tsv") : given);
    std::vector<std::string> texts;
    for (std::string line; std::getline(in, line);) {
        if (!given.empty()) {
            texts.push_back(line);
            continue;
        }
        const auto a = line.find('\t');
        const auto b = line.rfind('\t');
        if (a == std::string::npos || b == a || line.substr(b + 1) != "100") continue;
        texts.push_back(line.substr(a + 1, b - a - 1));
    }
    return texts;
}

void BM_SessionTexts(benchmark::State &state) {
    const auto texts = load_texts();
    tavik_model *model = nullptr;
    const std::string profile =
        env_or("TAVIK_BENCH_PROFILE", TAVIK_SOURCE_DIR "/data/default.tavik");
    if (texts.empty() || tavik_model_open(profile.c_str(), &model) != TAVIK_OK) {
        state.SkipWithError("no texts or no profile");
        return;
    }
    tavik_session *s = nullptr;
    if (tavik_session_new(model, &s) != TAVIK_OK) {
        tavik_model_free(model);
        state.SkipWithError("no session");
        return;
    }
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(tavik_session_identify(s, texts[i].data(), texts[i].size()));
        i = i + 1 == texts.size() ? 0 : i + 1;
    }
    tavik_session_free(s);
    tavik_model_free(model);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.counters["texts"] = static_cast<double>(texts.size());
}
BENCHMARK(BM_SessionTexts);

}  // namespace
