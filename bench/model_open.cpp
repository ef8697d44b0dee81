// SPDX-License-Identifier: MIT
// model_open.cpp - what opening a model costs: CPU time and heap.
//
//     model_open FILE [RUNS] [TEXT...]
//
// Reads FILE (a profile or a bundle) once, then opens it from memory RUNS
// times (default 21) with tavik_model_open_memory, timing each open with
// CLOCK_PROCESS_CPUTIME_ID, and prints the median, the fastest and the
// slowest.  The heap the model holds is mallinfo2's in-use bytes after one
// open less those before it (the file's bytes excluded), after opening and
// again after identifying each TEXT on a session (so that work done on
// first use is counted).  The peak is for valgrind --tool=massif.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <malloc.h>
#include <string>
#include <vector>

#include "tavik/tavik_session.h"

namespace {

size_t heap_in_use() {
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

double cpu_ms() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: model_open FILE [RUNS] [TEXT...]\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.eof() && !in) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 21;

    const size_t before = heap_in_use();
    tavik_model *model = nullptr;
    if (tavik_model_open_memory(bytes.data(), bytes.size(), &model) != TAVIK_OK) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    const size_t opened = heap_in_use() - before;
    tavik_session *s = nullptr;
    if (tavik_session_new(model, &s) != TAVIK_OK) return 1;
    for (int k = 3; k < argc; ++k) {
        const std::string text = argv[k];
        tavik_session_identify(s, text.data(), text.size());
        std::printf("identified: %s\n",
                    tavik_session_best_code(s) != nullptr ? tavik_session_best_code(s) : "(none)");
    }
    const size_t used = heap_in_use() - before;
    tavik_session_free(s);
    tavik_model_free(model);

    std::vector<double> ms;
    for (int r = 0; r < runs; ++r) {
        const double t0 = cpu_ms();
        tavik_model *m = nullptr;
        if (tavik_model_open_memory(bytes.data(), bytes.size(), &m) != TAVIK_OK) return 1;
        ms.push_back(cpu_ms() - t0);
        tavik_model_free(m);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("file %zu bytes\n", bytes.size());
    std::printf("heap after open %zu bytes (%.2fx the file)\n", opened,
                static_cast<double>(opened) / static_cast<double>(bytes.size()));
    std::printf("heap after the texts %zu bytes (%.2fx the file)\n", used,
                static_cast<double>(used) / static_cast<double>(bytes.size()));
    std::printf("open CPU ms over %d runs: median %.2f, min %.2f, max %.2f\n", runs,
                ms[ms.size() / 2], ms.front(), ms.back());
    return 0;
}
