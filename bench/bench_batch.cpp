// SPDX-License-Identifier: MIT
// bench_batch.cpp - one session over the texts of data/dev.tsv (all
// lengths, in file order), one text per call against batches of N texts
// per tavik_session_identify_batch call.  Items are texts; compare the
// items/s of the two, best with
//   --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true
// on a shared machine.

#include <benchmark/benchmark.h>
#include <fstream>
#include <string>
#include <vector>

#include "tavik/tavik_session.h"

namespace {

struct Texts {
    std::vector<std::string> texts;
    std::vector<const char *> ptrs;
    std::vector<uint64_t> lengths;
    tavik_model *model = nullptr;
};

const Texts &texts() {
    static const Texts t = [] {
        Texts t;
        std::ifstream in(TAVIK_SOURCE_DIR "/data/dev.tsv");
        std::string line;
        while (std::getline(in, line)) {
            const size_t a = line.find('\t');
            const size_t b = line.find('\t', a + 1);
            if (a != std::string::npos && b != std::string::npos)
                t.texts.push_back(line.substr(a + 1, b - a - 1));
        }
        for (const std::string &s : t.texts) {
            t.ptrs.push_back(s.data());
            t.lengths.push_back(s.size());
        }
        if (tavik_model_open(TAVIK_SOURCE_DIR "/data/default.tavik", &t.model) != TAVIK_OK)
            t.model = nullptr;
        return t;
    }();
    return t;
}

tavik_session *session_or_skip(benchmark::State &state) {
    const Texts &t = texts();
    tavik_session *s = nullptr;
    if (t.texts.empty() || t.model == nullptr || tavik_session_new(t.model, &s) != TAVIK_OK) {
        state.SkipWithError("data/dev.tsv or data/default.tavik not readable");
        return nullptr;
    }
    return s;
}

void BM_DevOneByOne(benchmark::State &state) {
    tavik_session *s = session_or_skip(state);
    if (s == nullptr) return;
    const Texts &t = texts();
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(tavik_session_identify(s, t.ptrs[i], t.lengths[i]));
        i = i + 1 == t.texts.size() ? 0 : i + 1;
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    tavik_session_free(s);
}
BENCHMARK(BM_DevOneByOne);

void BM_DevBatch(benchmark::State &state) {
    tavik_session *s = session_or_skip(state);
    if (s == nullptr) return;
    const Texts &t = texts();
    const auto n = static_cast<size_t>(state.range(0));
    std::vector<tavik_outcome> outcomes(n);
    size_t i = 0;
    for (auto _ : state) {
        if (i + n > t.texts.size()) i = 0;
        benchmark::DoNotOptimize(tavik_session_identify_batch(
            s, t.ptrs.data() + i, t.lengths.data() + i, n, outcomes.data()));
        i += n;
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
    tavik_session_free(s);
}
BENCHMARK(BM_DevBatch)->ArgName("texts")->Arg(16)->Arg(64)->Arg(256)->Arg(2048);

}  // namespace
