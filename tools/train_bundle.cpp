// SPDX-License-Identifier: MIT
// train_bundle.cpp - tavik-train --bundle: members from profile files or
// corpus folders, the direct-script table, one model file out.
//
// The output depends only on the arguments (in their order) and the bytes
// of what they name: members are written in the order given, direct
// scripts likewise, and compression is zstd's single-threaded, which
// gives the same frame for the same bytes.  The bundle is read back through
// the library before it is written, so a file the reader would refuse is
// never left behind.

#include "train_bundle.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "model_file.h"
#include "tavik/tavik_session.h"

namespace tavik_train {

namespace {

// "LEFT=RIGHT" split at the first '='; false without one or with a side empty.
bool split_pair(std::string_view arg, std::string *left, std::string *right) {
    const size_t eq = arg.find('=');
    if (eq == std::string_view::npos || eq == 0 || eq + 1 == arg.size()) return false;
    *left = std::string(arg.substr(0, eq));
    *right = std::string(arg.substr(eq + 1));
    return true;
}

bool is_script(const std::string &name) {
    for (int32_t k = 3; k < tavik_script_count(); ++k)
        if (name == tavik_script_name(k)) return true;
    return false;
}

// Claims a script for one member or direct language, with a message when
// it is no script or already taken.
bool claim(std::set<std::string> &taken, const std::string &script) {
    if (!is_script(script)) {
        std::fprintf(stderr, "tavik-train: unknown script %s (see tavik_script_name)\n",
                     script.c_str());
        return false;
    }
    if (!taken.insert(script).second) {
        std::fprintf(stderr, "tavik-train: script %s is served twice\n", script.c_str());
        return false;
    }
    return true;
}

bool read_bytes(const char *path, std::string *bytes) {
    FILE *f = std::fopen(path, "rb");
    if (f == nullptr) return false;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes->append(buf, n);
    const bool ok = std::ferror(f) == 0;
    std::fclose(f);
    return ok;
}

// The member's profile bytes: the file itself, or the corpus folder
// trained into a temporary file beside the output.
bool member_profile(const BundleArgs &args, size_t k, const std::string &path,
                    const TrainCorpus &train, std::string *bytes) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        std::fprintf(stderr, "tavik-train: %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        if (read_bytes(path.c_str(), bytes)) return true;
        std::fprintf(stderr, "tavik-train: cannot read %s\n", path.c_str());
        return false;
    }
    const std::string tmp = std::string(args.out) + ".member-" + std::to_string(k) + "-" +
                            std::to_string(static_cast<long>(::getpid()));
    std::fprintf(stderr, "member %zu from %s\n", k, path.c_str());
    const bool ok = train(path.c_str(), tmp.c_str()) == 0 && read_bytes(tmp.c_str(), bytes);
    ::unlink(tmp.c_str());
    return ok;
}

bool write_atomically(const char *out, const std::string &bytes) {
    const std::string tmp =
        std::string(out) + ".tmp-" + std::to_string(static_cast<long>(::getpid()));
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool ok = true;
    for (size_t done = 0; ok && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && std::rename(tmp.c_str(), out) == 0;
    if (!ok) ::unlink(tmp.c_str());
    return ok;
}

// Comma-separated script names.
std::vector<std::string> script_list(const std::string &list) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        const size_t comma = list.find(',', start);
        out.push_back(list.substr(start, comma - start));
        if (comma == std::string::npos) return out;
        start = comma + 1;
    }
}

}  // namespace

int build_bundle(const BundleArgs &args,
                 const std::vector<std::pair<std::string, std::string>> &meta,
                 const TrainCorpus &train) {
    if (args.members.empty()) {
        std::fputs("tavik-train: --bundle needs at least one --member SCRIPTS=PATH\n", stderr);
        return 1;
    }
    tavik::BundleContents contents;
    contents.meta = meta;
    std::set<std::string> taken;
    for (size_t k = 0; k < args.members.size(); ++k) {
        std::string scripts, path;
        if (!split_pair(args.members[k], &scripts, &path)) {
            std::fprintf(stderr, "tavik-train: --member takes SCRIPTS=PATH, not %s\n",
                         args.members[k].c_str());
            return 1;
        }
        tavik::BundleContents::Member m;
        m.scripts = script_list(scripts);
        for (const std::string &s : m.scripts)
            if (!claim(taken, s)) return 1;
        if (!member_profile(args, k, path, train, &m.profile)) return 1;
        contents.members.push_back(std::move(m));
    }
    for (const std::string &d : args.direct) {
        std::string script, code;
        if (!split_pair(d, &script, &code) || code.size() > 7) {
            std::fprintf(stderr, "tavik-train: --direct takes SCRIPT=CODE (1 to 7 bytes), not %s\n",
                         d.c_str());
            return 1;
        }
        if (!claim(taken, script)) return 1;
        contents.direct.emplace_back(script, code);
    }
    std::string bytes, error;
    if (!tavik::model_file_write(contents, args.compress, &bytes, &error)) {
        std::fprintf(stderr, "tavik-train: %s\n", error.c_str());
        return 1;
    }
    tavik_model *model = nullptr;
    const int32_t rc = tavik_model_open_memory(bytes.data(), bytes.size(), &model);
    if (rc != TAVIK_OK) {
        std::fprintf(stderr, "tavik-train: the bundle does not load (status %d); nothing written\n",
                     rc);
        return 1;
    }
    const int32_t languages = tavik_model_language_count(model);
    tavik_model_free(model);
    if (!write_atomically(args.out, bytes)) {
        std::fprintf(stderr, "write failed: %s\n", std::strerror(errno));
        return 1;
    }
    std::fprintf(stderr, "wrote %s (%zu members, %d languages)\n", args.out,
                 contents.members.size(), languages);
    return 0;
}

}  // namespace tavik_train
