// SPDX-License-Identifier: MIT
// model_file.cpp - the bundle container: reader, writer, routing table.

#include "model_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <span>
#include <sys/mman.h>
#include <unistd.h>
#include <zstd.h>
#include <zstd_errors.h>

#include "alloc.h"
#include "engine.h"
#include "profile_internal.h"
#include "tavik/status.h"

// One line per check: return `code` when `cond` holds.
#define RETURN_IF(cond, code)                                                                      \
    do {                                                                                           \
        if (cond) return (code);                                                                   \
    } while (0)

namespace tavik {

namespace {

// A forward cursor whose every read first tests that the bytes remain.
// Offsets are reported as `base` plus the distance from `start`, so that a
// decompressed payload reports the places it would have in a plain file.
struct Cursor {
    const unsigned char *p;
    uint64_t left;
    const unsigned char *start;
    uint64_t base;
    ModelFault *fault;

    // Notes a fault in the field that ends `back` bytes before the cursor.
    int32_t bad(uint64_t back, bool truncated = false) {
        if (fault != nullptr)
            *fault = ModelFault{base + static_cast<uint64_t>(p - start) - back, truncated};
        return TAVIK_BAD_PROFILE;
    }
    bool take(uint64_t n, const unsigned char **out) {
        if (left < n) {
            bad(0, true);
            return false;
        }
        *out = p;
        p += n;
        left -= n;
        return true;
    }
    bool le(int bytes, uint64_t *v) {
        const unsigned char *b;
        if (!take(static_cast<uint64_t>(bytes), &b)) return false;
        *v = 0;
        for (int k = bytes - 1; k >= 0; --k) *v = *v << 8 | b[k];
        return true;
    }
    uint64_t offset() const { return base + static_cast<uint64_t>(p - start); }
};

// A script name of a length-prefixed field, as a script id that may be
// dominant (not Unknown, Common or Inherited), or -1.
int32_t read_script(Cursor &c, uint64_t *field_bytes) {
    uint64_t n;
    const unsigned char *b;
    if (!c.le(1, &n) || !c.take(n, &b)) return -2;
    *field_bytes = n + 1;
    if (n == 0 || std::memchr(b, 0, n) != nullptr) return -1;
    char name[256];
    std::memcpy(name, b, n);
    name[n] = '\0';
    const int32_t id = script_by_name(name);
    return id >= 3 ? id : -1;
}

// Reads one script field and gives it to `target`; refuses a name that is
// not a script and a script already served.
int32_t claim_script(Cursor &c, Routing &r, int16_t target) {
    uint64_t field = 0;
    const int32_t id = read_script(c, &field);
    RETURN_IF(id == -2, TAVIK_BAD_PROFILE);
    RETURN_IF(id < 0 || r.route[id] != kRouteNone, c.bad(field));
    r.route[id] = target;
    return TAVIK_OK;
}

int32_t read_meta(Cursor &c, Routing &r) {
    uint64_t count;
    RETURN_IF(!c.le(4, &count), TAVIK_BAD_PROFILE);
    RETURN_IF(count > TAVIK_MAX_META, c.bad(4));
    if (count == 0) return TAVIK_OK;
    r.meta = static_cast<tavik_meta *>(mem_calloc(count, sizeof(tavik_meta)));
    RETURN_IF(r.meta == nullptr, TAVIK_NO_MEMORY);
    r.meta_count = static_cast<int32_t>(count);
    for (tavik_meta &m : std::span(r.meta, count)) {
        for (char **text : {&m.key, &m.value}) {
            uint64_t n;
            const unsigned char *b;
            RETURN_IF(!c.le(2, &n) || !c.take(n, &b), TAVIK_BAD_PROFILE);
            *text = mem_strndup(reinterpret_cast<const char *>(b), n);
            RETURN_IF(*text == nullptr, TAVIK_NO_MEMORY);
        }
    }
    return TAVIK_OK;
}

int32_t read_member(Cursor &c, Routing &r, int32_t k) {
    uint64_t scripts;
    RETURN_IF(!c.le(1, &scripts), TAVIK_BAD_PROFILE);
    RETURN_IF(scripts == 0, c.bad(1));
    for (uint64_t s = 0; s < scripts; ++s) {
        const int32_t rc = claim_script(c, r, static_cast<int16_t>(k));
        RETURN_IF(rc != TAVIK_OK, rc);
    }
    uint64_t size;
    const unsigned char *bytes;
    RETURN_IF(!c.le(4, &size), TAVIK_BAD_PROFILE);
    RETURN_IF(size > TAVIK_MAX_PROFILE_BYTES, c.bad(4));
    const uint64_t at = c.offset();
    RETURN_IF(!c.take(size, &bytes), TAVIK_BAD_PROFILE);
    ModelMember &m = r.members[k];
    const int32_t rc = r.lean ? profile_load_shell(bytes, size, &m.profile)
                              : tavik_profile_load(bytes, size, &m.profile);
    if (rc == TAVIK_BAD_PROFILE && c.fault != nullptr) {
        uint64_t inner = 0;
        int32_t truncated = 0;
        tavik_profile_find_fault(bytes, size, &inner, &truncated);
        *c.fault = ModelFault{at + inner, truncated != 0};
    }
    RETURN_IF(rc != TAVIK_OK, rc);
    char error[256];
    if (profile_text_model(*m.profile, &m.text, error) != TAVIK_OK) {
        if (c.fault != nullptr) *c.fault = ModelFault{at, false};
        return TAVIK_BAD_PROFILE;
    }
    // Each member is calibrated on its own languages: a bundle's answer
    // carries the probability of the member that gave it.  The values were
    // checked with the text model's keys above.
    m.calib = Calibration{};
    const char *bad_key = nullptr;
    if (!calibration_from_meta(m.profile->meta, m.profile->meta_count, &m.calib, &bad_key)) {
        if (c.fault != nullptr) *c.fault = ModelFault{at, false};
        return TAVIK_BAD_PROFILE;
    }
    r.lang_count += m.profile->lang_count;
    if (!r.lean) return TAVIK_OK;
    // A member is indexed when a text first needs it: opening a bundle
    // costs the reading, and a process pays only for the scripts it meets.
    // Its bytes stay where they were read; read_file makes them the
    // routing's.
    m.bytes = bytes;
    m.size = size;
    return TAVIK_OK;
}

int32_t read_members(Cursor &c, Routing &r) {
    uint64_t count;
    RETURN_IF(!c.le(4, &count), TAVIK_BAD_PROFILE);
    RETURN_IF(count == 0 || count > kModelMaxMembers, c.bad(4));
    r.members = static_cast<ModelMember *>(mem_calloc(count, sizeof(ModelMember)));
    RETURN_IF(r.members == nullptr, TAVIK_NO_MEMORY);
    r.member_count = static_cast<int32_t>(count);
    for (int32_t k = 0; k < r.member_count; ++k) {
        const int32_t rc = read_member(c, r, k);
        RETURN_IF(rc != TAVIK_OK, rc);
    }
    return TAVIK_OK;
}

int32_t read_direct(Cursor &c, Routing &r) {
    uint64_t count;
    RETURN_IF(!c.le(4, &count), TAVIK_BAD_PROFILE);
    RETURN_IF(count > kModelMaxDirect, c.bad(4));
    if (count == 0) return TAVIK_OK;
    r.direct = static_cast<DirectScript *>(mem_calloc(count, sizeof(DirectScript)));
    RETURN_IF(r.direct == nullptr, TAVIK_NO_MEMORY);
    for (uint64_t k = 0; k < count; ++k) {
        DirectScript &d = r.direct[k];
        const int32_t rc = claim_script(c, r, static_cast<int16_t>(kRouteDirect - int64_t(k)));
        RETURN_IF(rc != TAVIK_OK, rc);
        uint64_t n;
        const unsigned char *b;
        RETURN_IF(!c.le(1, &n), TAVIK_BAD_PROFILE);
        RETURN_IF(n < 1 || n > 7, c.bad(1));
        RETURN_IF(!c.take(n, &b), TAVIK_BAD_PROFILE);
        RETURN_IF(std::memchr(b, 0, n) != nullptr, c.bad(n));
        std::memcpy(d.code, b, n);
        for (int32_t s = 0; s < kScriptIds; ++s)
            if (r.route[s] == kRouteDirect - int64_t(k)) d.script = s;
        ++r.direct_count;
        ++r.lang_count;
    }
    return TAVIK_OK;
}

int32_t read_payload(Cursor &c, Routing &r) {
    int32_t rc = read_meta(c, r);
    if (rc == TAVIK_OK) rc = read_members(c, r);
    if (rc == TAVIK_OK) rc = read_direct(c, r);
    RETURN_IF(rc != TAVIK_OK, rc);
    RETURN_IF(c.left != 0, c.bad(0));  // bytes after the last field
    return TAVIK_OK;
}

Routing *routing_new() {
    void *mem = mem_calloc(1, sizeof(Routing));
    if (mem == nullptr) return nullptr;
    auto *r = new (mem) Routing{};
    std::fill(std::begin(r->route), std::end(r->route), kRouteNone);
    return r;
}

// The decompressed payload of a compressed bundle, in *out (mem_malloc).
int32_t decompress(Cursor &c, uint64_t payload_size, unsigned char **out) {
    const size_t frame = ZSTD_findFrameCompressedSize(c.p, c.left);
    RETURN_IF(ZSTD_isError(frame) || frame != c.left, c.bad(0, ZSTD_isError(frame) != 0));
    const unsigned long long stated = ZSTD_getFrameContentSize(c.p, c.left);
    // A frame made from a stream may not state its size; the header does.
    RETURN_IF(stated != ZSTD_CONTENTSIZE_UNKNOWN && stated != payload_size, c.bad(0));
    auto *buf = static_cast<unsigned char *>(mem_malloc(payload_size == 0 ? 1 : payload_size));
    RETURN_IF(buf == nullptr, TAVIK_NO_MEMORY);
    mem_advise_huge(buf, payload_size);
    const size_t got = ZSTD_decompress(buf, payload_size, c.p, c.left);
    if (ZSTD_isError(got) || got != payload_size) {
        mem_free(buf);
        if (ZSTD_isError(got) && ZSTD_getErrorCode(got) == ZSTD_error_memory_allocation)
            return TAVIK_NO_MEMORY;
        return c.bad(0);
    }
    *out = buf;
    return TAVIK_OK;
}

// Copies a plain file's payload (already read and valid) once, so that the
// members' bytes outlive the caller's, and moves the members onto the copy.
int32_t keep_payload(const unsigned char *payload, uint64_t size, Routing &r) {
    r.payload = static_cast<unsigned char *>(mem_malloc(size == 0 ? 1 : size));
    RETURN_IF(r.payload == nullptr, TAVIK_NO_MEMORY);
    std::memcpy(r.payload, payload, size);
    for (ModelMember &m : std::span(r.members, static_cast<size_t>(r.member_count)))
        m.bytes = r.payload + (m.bytes - payload);
    return TAVIK_OK;
}

int32_t read_file(const unsigned char *bytes, uint64_t size, Routing &r, ModelFault *fault) {
    Cursor c{bytes, size, bytes, 0, fault};
    const unsigned char *magic;
    uint64_t version, flags, payload_size;
    RETURN_IF(!c.take(sizeof kModelMagic, &magic), TAVIK_BAD_PROFILE);
    RETURN_IF(std::memcmp(magic, kModelMagic, sizeof kModelMagic) != 0, c.bad(8));
    RETURN_IF(!c.le(4, &version), TAVIK_BAD_PROFILE);
    RETURN_IF(version != kModelVersion, c.bad(4));
    RETURN_IF(!c.le(4, &flags), TAVIK_BAD_PROFILE);
    RETURN_IF((flags & ~uint64_t{kModelFlagZstd}) != 0, c.bad(4));
    RETURN_IF(!c.le(8, &payload_size), TAVIK_BAD_PROFILE);
    RETURN_IF(payload_size > kModelMaxPayload, c.bad(8));
    if ((flags & kModelFlagZstd) == 0) {
        Cursor body{c.p, std::min(c.left, payload_size), bytes, 0, fault};
        const int32_t rc = read_payload(body, r);
        RETURN_IF(rc != TAVIK_OK, rc);
        // The payload ended where it was stated to, but the file did not.
        RETURN_IF(c.left < payload_size, body.bad(0, true));
        RETURN_IF(c.left > payload_size, body.bad(0));
        return r.lean ? keep_payload(c.p, payload_size, r) : TAVIK_OK;
    }
    unsigned char *payload = nullptr;
    int32_t rc = decompress(c, payload_size, &payload);
    RETURN_IF(rc != TAVIK_OK, rc);
    // Read lean, the members keep their bytes in the decompressed payload:
    // copying them out would touch every page twice.
    if (r.lean) r.payload = payload;
    Cursor body{payload, payload_size, payload, kModelHeaderBytes, fault};
    rc = read_payload(body, r);
    if (!r.lean) mem_free(payload);
    return rc;
}

// Hands the whole pages inside [p, p + size) back to the system.  The
// memory stays allocated (and is freed as usual); nothing reads it again,
// so it does not matter that the pages read back as zeros or not at all.
// Advice only: if the kernel refuses, the pages simply stay resident.
void release_pages(const unsigned char *p, uint64_t size) {
    static const long page = ::sysconf(_SC_PAGESIZE);
    if (page <= 0) return;
    const auto step = static_cast<uintptr_t>(page);
    const auto at = reinterpret_cast<uintptr_t>(p);
    const uintptr_t begin = (at + step - 1) / step * step;
    const uintptr_t end = (at + size) / step * step;
    if (end <= begin) return;
    ::madvise(reinterpret_cast<void *>(begin), end - begin, MADV_DONTNEED);
}

void put_le(std::string &out, uint64_t v, int bytes) {
    for (int k = 0; k < bytes; ++k) out.push_back(static_cast<char>(v >> (8 * k) & 0xFF));
}

bool put_text(std::string &out, const std::string &s, int bytes, std::string *error,
              const char *what) {
    const uint64_t max = bytes == 1 ? 0xFF : 0xFFFF;
    if (s.size() > max) {
        *error = std::string(what) + " too long: " + s.substr(0, 32);
        return false;
    }
    put_le(out, s.size(), bytes);
    out += s;
    return true;
}

}  // namespace

void routing_free(Routing *r) {
    if (r == nullptr) return;
    for (int32_t k = 0; k < r->member_count; ++k) {
        index_free(r->members[k].index);
        tavik_profile_free(r->members[k].profile);
        tavik_profile_free(r->members[k].lists);
    }
    mem_free(r->members);
    mem_free(r->payload);
    mem_free(r->direct);
    for (int32_t i = 0; i < r->meta_count; ++i) {
        mem_free(r->meta[i].key);
        mem_free(r->meta[i].value);
    }
    mem_free(r->meta);
    r->~Routing();
    mem_free(r);
}

void routing_drop_member_bytes(Routing &r, int32_t m) {
    ModelMember &member = r.members[m];
    if (member.bytes == nullptr) return;
    release_pages(member.bytes, member.size);
    member.bytes = nullptr;
    member.size = 0;
    if (--r.unbuilt > 0) return;
    mem_free(r.payload);
    r.payload = nullptr;
}

bool is_model_file(const void *data, uint64_t size) {
    return data != nullptr && size >= sizeof kModelMagic &&
           std::memcmp(data, kModelMagic, sizeof kModelMagic) == 0;
}

int32_t model_file_read(const void *data, uint64_t size, Routing **out, ModelFault *fault,
                        bool lean) {
    RETURN_IF(data == nullptr || out == nullptr, TAVIK_BAD_PROFILE);
    Routing *r = routing_new();
    RETURN_IF(r == nullptr, TAVIK_NO_MEMORY);
    r->lean = lean;
    const int32_t rc = read_file(static_cast<const unsigned char *>(data), size, *r, fault);
    if (rc != TAVIK_OK) {
        routing_free(r);
        return rc;
    }
    r->unbuilt = lean ? r->member_count : 0;
    std::snprintf(r->id, sizeof r->id, "tavik-bundle-v%u-M%d-L%d", kModelVersion, r->member_count,
                  r->lang_count);
    *out = r;
    return TAVIK_OK;
}

bool model_file_write(const BundleContents &contents, bool compress, std::string *out,
                      std::string *error) {
    std::string payload;
    put_le(payload, contents.meta.size(), 4);
    for (const auto &[key, value] : contents.meta)
        if (!put_text(payload, key, 2, error, "meta key") ||
            !put_text(payload, value, 2, error, "meta value"))
            return false;
    put_le(payload, contents.members.size(), 4);
    for (const BundleContents::Member &m : contents.members) {
        if (m.scripts.size() > 0xFF || m.profile.size() > 0xFFFFFFFFu) {
            *error = "a member breaks a field width (255 scripts, 4 GiB profile)";
            return false;
        }
        put_le(payload, m.scripts.size(), 1);
        for (const std::string &s : m.scripts)
            if (!put_text(payload, s, 1, error, "script name")) return false;
        put_le(payload, m.profile.size(), 4);
        payload += m.profile;
    }
    put_le(payload, contents.direct.size(), 4);
    for (const auto &[script, code] : contents.direct)
        if (!put_text(payload, script, 1, error, "script name") ||
            !put_text(payload, code, 1, error, "language code"))
            return false;
    std::string file(kModelMagic, sizeof kModelMagic);
    put_le(file, kModelVersion, 4);
    put_le(file, compress ? kModelFlagZstd : 0, 4);
    if (payload.size() > kModelMaxPayload) {
        *error = "the bundle is larger than 256 MiB";
        return false;
    }
    put_le(file, payload.size(), 8);
    if (!compress) {
        *out = file + payload;
        return true;
    }
    std::string frame(ZSTD_compressBound(payload.size()), '\0');
    const size_t n = ZSTD_compress(frame.data(), frame.size(), payload.data(), payload.size(), 9);
    if (ZSTD_isError(n)) {
        *error = std::string("compression failed: ") + ZSTD_getErrorName(n);
        return false;
    }
    frame.resize(n);
    *out = file + frame;
    return true;
}

}  // namespace tavik
