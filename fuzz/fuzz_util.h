// SPDX-License-Identifier: MIT
// fuzz_util.h - helpers shared by the fuzz targets.
#ifndef TAVIK_FUZZ_UTIL_H
#define TAVIK_FUZZ_UTIL_H

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

namespace tavik_fuzz {

// Stops the run with `what` when `ok` is false: libFuzzer keeps the input.
inline void check(bool ok, const char *what) {
    if (!ok) {
        std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, what);
        std::abort();
    }
}

// Little-endian fields of a profile file built by a target.
inline void put16(std::string &b, uint32_t v) {
    b += static_cast<char>(v & 0xFF);
    b += static_cast<char>(v >> 8 & 0xFF);
}
inline void put32(std::string &b, uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

// An input byte read as a signed setting.
inline int32_t signed8(uint8_t b) { return static_cast<int8_t>(b); }

// The path of file `name` in a scratch directory made once per process, on
// a RAM-backed file system when there is one (the profile writer syncs every
// file), and removed at exit.
inline std::string scratch_path(const char *name) {
    static const std::string dir = [] {
        const std::string base = std::filesystem::is_directory("/dev/shm")
                                     ? std::string("/dev/shm")
                                     : std::filesystem::temp_directory_path().string();
        std::string made = base + "/tavik-fuzz-XXXXXX";
        check(::mkdtemp(made.data()) != nullptr, "cannot create a scratch directory");
        static std::string for_exit;
        for_exit = made;
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(for_exit, ec);
        });
        return made;
    }();
    return dir + "/" + name;
}

}  // namespace tavik_fuzz

#endif  // TAVIK_FUZZ_UTIL_H
