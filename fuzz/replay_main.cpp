// SPDX-License-Identifier: MIT
// replay_main.cpp - runs a fuzz target over saved inputs without libFuzzer.
//
// Every argument names a file or a directory; each file, and each regular
// file of each directory (in name order, so runs repeat exactly), is handed
// to LLVMFuzzerTestOneInput once.  Arguments starting with '-' are libFuzzer
// options and are skipped, so the same command line serves both builds.  A
// path that cannot be read fails the run: a missing corpus must not pass
// silently.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

namespace fs = std::filesystem;

bool run_file(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "replay: cannot open %s\n", path.c_str());
        return false;
    }
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>()};
    // An empty input still gets a valid pointer, as under libFuzzer.
    static const uint8_t empty = 0;
    const auto *data = bytes.empty() ? &empty : reinterpret_cast<const uint8_t *>(bytes.data());
    LLVMFuzzerTestOneInput(data, bytes.size());
    return true;
}

// Runs every regular file of `dir`; returns how many, or -1 on an error.
long run_dir(const fs::path &dir) {
    std::error_code ec;
    std::vector<fs::path> files;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file(ec)) files.push_back(it->path());
    if (ec) {
        std::fprintf(stderr, "replay: cannot list %s: %s\n", dir.c_str(), ec.message().c_str());
        return -1;
    }
    std::sort(files.begin(), files.end());
    for (const fs::path &f : files)
        if (!run_file(f)) return -1;
    return static_cast<long>(files.size());
}

}  // namespace

int main(int argc, char **argv) {
    long inputs = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.starts_with("-")) continue;
        std::error_code ec;
        if (fs::is_directory(arg, ec)) {
            const long n = run_dir(arg);
            if (n < 0) return 1;
            inputs += n;
        } else {
            if (!run_file(arg)) return 1;
            ++inputs;
        }
    }
    std::printf("replay: %ld inputs ran\n", inputs);
    return 0;
}
