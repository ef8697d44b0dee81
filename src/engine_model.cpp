// SPDX-License-Identifier: MIT
// engine_model.cpp - models: a profile and its index, shared by reference.

#include <cerrno>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <zstd.h>

#include "alloc.h"
#include "engine.h"
#include "model_file.h"
#include "profile_internal.h"

namespace tavik {

int32_t model_from_profile(tavik_profile *profile, tavik_model **out) {
    TextModel text;
    char error[256];
    if (profile_text_model(*profile, &text, error) != TAVIK_OK) {
        tavik_profile_free(profile);
        return TAVIK_BAD_PROFILE;
    }
    Calibration calib;
    const char *bad_key = nullptr;
    if (!calibration_from_meta(profile->meta, profile->meta_count, &calib, &bad_key)) {
        tavik_profile_free(profile);
        return TAVIK_BAD_PROFILE;
    }
    ProfileIndex *index = nullptr;
    void *mem = lean_profile_index(*profile, &index) == TAVIK_OK ? mem_malloc(sizeof(tavik_model))
                                                                 : nullptr;
    if (mem == nullptr) {
        index_free(index);
        tavik_profile_free(profile);
        return TAVIK_NO_MEMORY;
    }
    *out = new (mem) tavik_model{{1}, profile, index, text, nullptr, calib};
    return TAVIK_OK;
}

namespace {

// The model of a bundle read lean: its first member stands in profile and
// text; members get their indexes when a text first needs them
// (member_open), so the model's own index stays nullptr.
int32_t model_from_routing(Routing *routing, tavik_model **out) {
    void *mem = mem_malloc(sizeof(tavik_model));
    if (mem == nullptr) {
        routing_free(routing);
        return TAVIK_NO_MEMORY;
    }
    const ModelMember &first = routing->members[0];
    *out = new (mem) tavik_model{{1}, first.profile, nullptr, first.text, routing, Calibration{}};
    return TAVIK_OK;
}

// Reads the whole bundle file at `fd` (at most `cap` bytes) into *out.
int32_t read_whole(int fd, uint64_t cap, unsigned char **out, uint64_t *size) {
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 ||
        static_cast<uint64_t>(st.st_size) > cap)
        return TAVIK_BAD_PROFILE;
    *size = static_cast<uint64_t>(st.st_size);
    auto *buf = static_cast<unsigned char *>(mem_malloc(*size == 0 ? 1 : *size));
    if (buf == nullptr) return TAVIK_NO_MEMORY;
    for (uint64_t got = 0; got < *size;) {
        const ssize_t n = ::pread(fd, buf + got, *size - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            mem_free(buf);
            return TAVIK_BAD_PROFILE;
        }
        got += static_cast<uint64_t>(n);
    }
    *out = buf;
    return TAVIK_OK;
}

}  // namespace

int32_t model_from_bytes(const void *data, uint64_t size, tavik_model **out) {
    if (!is_model_file(data, size)) {
        tavik_profile *p = nullptr;
        const int32_t rc = profile_load_unindexed(data, size, &p);
        return rc == TAVIK_OK ? model_from_profile(p, out) : rc;
    }
    Routing *routing = nullptr;
    const int32_t rc = model_file_read(data, size, &routing, nullptr, true);
    return rc == TAVIK_OK ? model_from_routing(routing, out) : rc;
}

int32_t model_from_path(const char *path, tavik_model **out) {
    // Opened without blocking, so that a FIFO cannot stall the caller.  A
    // file that does not start with the bundle magic takes the profile
    // reader's own path, limits and codes.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return TAVIK_BAD_PROFILE;
    struct stat st;
    unsigned char magic[sizeof kModelMagic];
    const bool bundle = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                        ::pread(fd, magic, sizeof magic, 0) == sizeof magic &&
                        is_model_file(magic, sizeof magic);
    // A profile is read as tavik_profile_load_path reads it, with its limit.
    unsigned char *buf = nullptr;
    uint64_t size = 0;
    int32_t rc = read_whole(fd,
                            bundle ? kModelHeaderBytes + ZSTD_COMPRESSBOUND(kModelMaxPayload)
                                   : TAVIK_MAX_PROFILE_BYTES,
                            &buf, &size);
    ::close(fd);
    if (rc == TAVIK_OK) rc = model_from_bytes(buf, size, out);
    mem_free(buf);
    return rc;
}

void model_retain(tavik_model *model) { model->refs.fetch_add(1, std::memory_order_relaxed); }

// The last reference's release must see every use the others made of the
// model (acquire), and each release must publish its own (release).
void model_release(tavik_model *model) {
    if (model->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    if (model->routing != nullptr) {
        routing_free(model->routing);  // the first member's profile and index with it
    } else {
        index_free(model->index);
        tavik_profile_free(model->profile);
    }
    model->~tavik_model();
    mem_free(model);
}

}  // namespace tavik
