// SPDX-License-Identifier: MIT
// profile.cpp - profile record, rank lookup, and the binary profile file.

#include "tavik/profile.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "alloc.h"
#include "hash.h"
#include "profile_internal.h"
#include "tavik/status.h"

// One line per check: return `code` when `cond` holds.
#define RETURN_IF(cond, code)                                                                      \
    do {                                                                                           \
        if (cond) return (code);                                                                   \
    } while (0)

namespace {

using tavik::mem_calloc;
using tavik::mem_free;
using NgramRec = struct tavik_ngram;

// What a load keeps: the designed record; its n-gram lists and texts
// without rank lookups; or only the shell (header, codes, counts, meta),
// every field still checked.
enum class Form { designed, lists, shell };

constexpr char kMagic[8] = {'T', 'A', 'V', 'I', 'K', '0', '0', '1'};
constexpr uint64_t kHeaderBytes = 36;

// ------------------------------------------------------------------ reading

uint32_t read_le32(const unsigned char *b) {
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

// Where a blob broke the format: the offset of the field, and whether the
// blob ended inside it.
struct Fault {
    uint64_t offset = 0;
    bool truncated = false;
};

// A forward cursor over the blob; every read first tests that the bytes
// remain ("remaining >= needed"), so no pointer ever passes the end.  A
// read past the end, or a field found wrong, is noted in `fault` if given.
struct Cursor {
    const unsigned char *p;
    uint64_t left;
    const unsigned char *start = nullptr;
    Fault *fault = nullptr;

    // Notes a fault in the field that ends `back` bytes before the cursor.
    int32_t bad(uint64_t back, bool truncated = false) {
        if (fault != nullptr) *fault = Fault{static_cast<uint64_t>(p - start) - back, truncated};
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
    bool u8(uint32_t *v) {
        const unsigned char *b;
        if (!take(1, &b)) return false;
        *v = b[0];
        return true;
    }
    bool u16(uint32_t *v) {
        const unsigned char *b;
        if (!take(2, &b)) return false;
        *v = uint32_t(b[0]) | uint32_t(b[1]) << 8;
        return true;
    }
    bool u32(uint32_t *v) {
        const unsigned char *b;
        if (!take(4, &b)) return false;
        *v = read_le32(b);
        return true;
    }
    // A length-prefixed text copied into a new NUL-terminated string.
    int32_t text16(char **out) {
        uint32_t n;
        const unsigned char *b;
        RETURN_IF(!u16(&n) || !take(n, &b), TAVIK_BAD_PROFILE);
        *out = tavik::mem_strndup(reinterpret_cast<const char *>(b), n);
        return *out == nullptr ? TAVIK_NO_MEMORY : TAVIK_OK;
    }
};

// A loaded profile and the one block that holds the texts of all its
// n-grams, each with a NUL: one allocation instead of one per text.  Every
// profile tavik_profile_free sees was made here, so it finds the block.
struct Loaded {
    tavik_profile profile;
    char *texts;
    uint64_t used;
    uint64_t cap;
};
static_assert(offsetof(Loaded, profile) == 0);

Loaded &loaded(tavik_profile &p) { return reinterpret_cast<Loaded &>(p); }

// A length-prefixed n-gram text copied into the text block.  The block
// holds the blob's size, and a text with its NUL never takes more than its
// bytes and their 2-byte prefix, so it cannot run out.
int32_t ngram_text16(Cursor &c, Loaded &l, char **out) {
    uint32_t n;
    const unsigned char *b;
    RETURN_IF(!c.u16(&n) || !c.take(n, &b), TAVIK_BAD_PROFILE);
    RETURN_IF(l.cap - l.used < uint64_t{n} + 1, TAVIK_BAD_PROFILE);
    char *dst = l.texts + l.used;
    std::memcpy(dst, b, n);
    dst[n] = '\0';
    l.used += n + 1;
    *out = dst;
    return TAVIK_OK;
}

int32_t read_meta(Cursor &c, tavik_meta &m) {
    int32_t rc = c.text16(&m.key);
    RETURN_IF(rc != TAVIK_OK, rc);
    return c.text16(&m.value);
}

// The n-grams of a shell: read and checked, not kept.
int32_t skip_ngrams(Cursor &c, bool has_values, uint32_t n) {
    for (uint32_t k = 0; k < n; ++k) {
        uint32_t len, value;
        const unsigned char *b;
        RETURN_IF(!c.u16(&len) || !c.take(len, &b), TAVIK_BAD_PROFILE);
        RETURN_IF(has_values && !c.u32(&value), TAVIK_BAD_PROFILE);
    }
    return TAVIK_OK;
}

int32_t read_lang(Cursor &c, bool has_values, Form form, Loaded &l, tavik_lang &lang) {
    uint32_t code_len, n;
    const unsigned char *code;
    RETURN_IF(!c.u8(&code_len), TAVIK_BAD_PROFILE);
    RETURN_IF(code_len < 1 || code_len > 7, c.bad(1));
    RETURN_IF(!c.take(code_len, &code), TAVIK_BAD_PROFILE);
    std::memcpy(lang.code, code, code_len);
    lang.code[code_len] = '\0';
    RETURN_IF(!c.u32(&n), TAVIK_BAD_PROFILE);
    RETURN_IF(n > TAVIK_MAX_LANG_NGRAMS, c.bad(4));
    if (form == Form::shell) {
        lang.ngrams = tavik_ngram_list{nullptr, n, 0};
        return skip_ngrams(c, has_values, n);
    }
    auto *items = static_cast<NgramRec *>(mem_calloc(n == 0 ? 1 : n, sizeof(NgramRec)));
    RETURN_IF(items == nullptr, TAVIK_NO_MEMORY);
    lang.ngrams = tavik_ngram_list{items, n, n};
    for (uint32_t k = 0; k < n; ++k) {
        const int32_t rc = ngram_text16(c, l, &items[k].text);
        RETURN_IF(rc != TAVIK_OK, rc);
        items[k].order = static_cast<int32_t>(k);
        uint32_t value = n - k;
        RETURN_IF(has_values && !c.u32(&value), TAVIK_BAD_PROFILE);
        items[k].count = static_cast<int32_t>(value);
    }
    return form == Form::designed ? tavik_profile_build_lookup(&lang) : TAVIK_OK;
}

// Parses everything after the header into `p`, whose counts are already
// set; on failure `p` holds what was built so far, for tavik_profile_free.
int32_t read_body(Cursor &c, Form form, tavik_profile &p) {
    for (int32_t i = 0; i < p.meta_count; ++i) {
        const int32_t rc = read_meta(c, p.meta[i]);
        RETURN_IF(rc != TAVIK_OK, rc);
    }
    const bool has_values = (p.flags & 1) != 0;
    for (int32_t j = 0; j < p.lang_count; ++j) {
        const int32_t rc = read_lang(c, has_values, form, loaded(p), p.langs[j]);
        RETURN_IF(rc != TAVIK_OK, rc);
    }
    return TAVIK_OK;
}

// ------------------------------------------------------------------ writing

// A file written beside its target and renamed over it once complete.
class AtomicFile {
public:
    explicit AtomicFile(const char *path) : path_(path) {}
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;
    ~AtomicFile() {
        if (f_ != nullptr) std::fclose(f_);
        if (tmp_ != nullptr) {
            ::unlink(tmp_);
            mem_free(tmp_);
        }
    }

    bool open() {
        const size_t n = std::strlen(path_);
        tmp_ = static_cast<char *>(tavik::mem_malloc(n + 32));
        if (tmp_ == nullptr) return false;
        static unsigned serial = 0;
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::snprintf(tmp_, n + 32, "%s.tmp-%ld-%u", path_, static_cast<long>(::getpid()),
                          serial++);
            const int fd = ::open(tmp_, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                f_ = ::fdopen(fd, "wb");
                if (f_ != nullptr) return true;
                ::close(fd);
                break;
            }
            if (errno != EEXIST) break;
        }
        mem_free(tmp_);  // nothing was created, or the descriptor is closed
        tmp_ = nullptr;
        return false;
    }

    void put(const void *data, size_t n) {
        if (ok_ && n != 0 && std::fwrite(data, 1, n, f_) != n) ok_ = false;
    }
    void put8(uint32_t v) {
        const unsigned char b = static_cast<unsigned char>(v);
        put(&b, 1);
    }
    void put16(uint32_t v) {
        const unsigned char b[2] = {static_cast<unsigned char>(v),
                                    static_cast<unsigned char>(v >> 8)};
        put(b, 2);
    }
    void put32(uint32_t v) {
        const unsigned char b[4] = {
            static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
            static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
        put(b, 4);
    }

    // Flushes, syncs, closes and renames; false when any step failed.
    bool commit() {
        bool ok = ok_ && std::fflush(f_) == 0 && ::fsync(::fileno(f_)) == 0;
        ok = (std::fclose(f_) == 0) && ok;
        f_ = nullptr;
        if (!ok || std::rename(tmp_, path_) != 0) return false;
        mem_free(tmp_);
        tmp_ = nullptr;
        return true;
    }

private:
    const char *path_;
    char *tmp_ = nullptr;
    FILE *f_ = nullptr;
    bool ok_ = true;
};

// Length of a text the writer stores; false when it breaks a reader limit.
bool stored_len(const char *s, size_t max, size_t *len) {
    if (s == nullptr) return false;
    *len = std::strlen(s);
    return *len <= max;
}

// Whether every field of the record can be stored so that the reader
// accepts the file: the writer never produces a file it would reject.
bool writable(const tavik_profile &p) {
    size_t n;
    RETURN_IF(p.lang_count < 0 || p.lang_count > TAVIK_MAX_LANGS, false);
    RETURN_IF(p.meta_count < 0 || p.meta_count > TAVIK_MAX_META, false);
    for (int32_t i = 0; i < p.meta_count; ++i) {
        RETURN_IF(!stored_len(p.meta[i].key, 0xFFFF, &n), false);
        RETURN_IF(!stored_len(p.meta[i].value, 0xFFFF, &n), false);
    }
    for (int32_t j = 0; j < p.lang_count; ++j) {
        const tavik_lang &l = p.langs[j];
        const size_t code_len = strnlen(l.code, sizeof l.code);
        RETURN_IF(code_len < 1 || code_len > 7, false);
        RETURN_IF(l.ngrams.count > TAVIK_MAX_LANG_NGRAMS, false);
        RETURN_IF(l.ngrams.count > 0 && l.ngrams.items == nullptr, false);
        for (uint64_t k = 0; k < l.ngrams.count; ++k)
            RETURN_IF(!stored_len(l.ngrams.items[k].text, 0xFFFF, &n), false);
    }
    return true;
}

void write_text16(AtomicFile &f, const char *s) {
    const size_t n = std::strlen(s);
    f.put16(static_cast<uint32_t>(n));
    f.put(s, n);
}

}  // namespace

extern "C" {

int32_t tavik_profile_build_lookup(tavik_lang *lang) {
    const uint64_t n = lang->ngrams.count;
    uint64_t size = 16;
    while (size < 2 * n + 16) size *= 2;
    lang->lookup_keys = static_cast<const char **>(mem_calloc(size, sizeof(char *)));
    lang->lookup_ranks = static_cast<uint32_t *>(mem_calloc(size, sizeof(uint32_t)));
    RETURN_IF(lang->lookup_keys == nullptr || lang->lookup_ranks == nullptr, TAVIK_NO_MEMORY);
    const uint64_t mask = size - 1;
    // Each text takes the first free slot at or after its home, as linear
    // probing places it.  A repeated text, or texts crafted to share a home,
    // would walk the whole cluster on every insert; `skip` jumps over runs
    // of occupied slots instead (a disjoint-set forest: skip[i] leads to the
    // first free slot from i), so hostile files cannot make loading
    // quadratic.  The slots end up exactly where plain probing puts them.
    auto *skip = static_cast<uint32_t *>(tavik::mem_malloc(size * sizeof(uint32_t)));
    RETURN_IF(skip == nullptr, TAVIK_NO_MEMORY);
    for (uint64_t i = 0; i < size; ++i) skip[i] = static_cast<uint32_t>(i);
    auto first_free = [skip](uint64_t i) {
        uint64_t root = i;
        while (skip[root] != root) root = skip[root];
        while (skip[i] != root) {
            const uint64_t next = skip[i];
            skip[i] = static_cast<uint32_t>(root);
            i = next;
        }
        return root;
    };
    lang->lookup_size = size;
    lang->lookup_used = 0;
    for (uint64_t i = 1; i <= n; ++i) {
        const char *text = lang->ngrams.items[i - 1].text;
        size_t len;
        const uint64_t slot = first_free(tavik::fnv1a_cstr(text, &len) & mask);
        lang->lookup_keys[slot] = text;
        lang->lookup_ranks[slot] = static_cast<uint32_t>(i);
        skip[slot] = static_cast<uint32_t>((slot + 1) & mask);
        ++lang->lookup_used;
    }
    mem_free(skip);
    return TAVIK_OK;
}

int32_t tavik_lang_lookup_rank(const tavik_lang *lang, const char *text) {
    if (lang == nullptr || lang->lookup_keys == nullptr || text == nullptr) return 0;
    size_t len;
    const uint32_t h = tavik::fnv1a_cstr(text, &len);
    if (lang->lookup_size == 0) return 0;
    const uint64_t mask = lang->lookup_size - 1;
    uint64_t slot = h & mask;
    for (uint64_t probes = 0; probes < lang->lookup_size; ++probes, slot = (slot + 1) & mask) {
        const char *key = lang->lookup_keys[slot];
        if (key == nullptr) return 0;
        if (key[0] == text[0] && std::strcmp(key, text) == 0)
            return static_cast<int32_t>(lang->lookup_ranks[slot]);
    }
    return 0;
}

void tavik_profile_free(tavik_profile *profile) {
    if (profile == nullptr) return;
    for (int32_t j = 0; j < profile->lang_count && j < TAVIK_MAX_LANGS; ++j) {
        tavik_lang &l = profile->langs[j];
        mem_free(static_cast<void *>(l.lookup_keys));
        mem_free(l.lookup_ranks);
        mem_free(l.ngrams.items);
    }
    mem_free(loaded(*profile).texts);
    for (int32_t i = 0; i < profile->meta_count && i < TAVIK_MAX_META; ++i) {
        mem_free(profile->meta[i].key);
        mem_free(profile->meta[i].value);
    }
    mem_free(profile);
}

int32_t tavik_profile_write(const tavik_profile *profile, const char *path) {
    RETURN_IF(profile == nullptr || path == nullptr, TAVIK_INVALID);
    const tavik_profile &p = *profile;
    RETURN_IF(!writable(p), TAVIK_INVALID);
    AtomicFile f(path);
    RETURN_IF(!f.open(), TAVIK_INVALID);
    f.put(kMagic, sizeof kMagic);
    f.put32(static_cast<uint32_t>(p.version));
    f.put32(static_cast<uint32_t>(p.flags) | 1u);
    f.put32(static_cast<uint32_t>(p.max_ngram_length));
    f.put32(static_cast<uint32_t>(p.max_distribution));
    f.put32(static_cast<uint32_t>(p.occurance_threshold));
    f.put32(static_cast<uint32_t>(p.lang_count));
    f.put32(static_cast<uint32_t>(p.meta_count));
    for (int32_t i = 0; i < p.meta_count; ++i) {
        write_text16(f, p.meta[i].key);
        write_text16(f, p.meta[i].value);
    }
    for (int32_t j = 0; j < p.lang_count; ++j) {
        const tavik_lang &l = p.langs[j];
        const size_t code_len = strnlen(l.code, sizeof l.code);
        f.put8(static_cast<uint32_t>(code_len));
        f.put(l.code, code_len);
        f.put32(static_cast<uint32_t>(l.ngrams.count));
        for (uint64_t k = 0; k < l.ngrams.count; ++k) {
            write_text16(f, l.ngrams.items[k].text);
            f.put32(static_cast<uint32_t>(l.ngrams.items[k].count));
        }
    }
    return f.commit() ? TAVIK_OK : TAVIK_INVALID;
}

namespace {

int32_t load(const void *data, uint64_t size, tavik_profile **out, Fault *fault, Form form) {
    const auto *bytes = static_cast<const unsigned char *>(data);
    RETURN_IF(out == nullptr || bytes == nullptr, TAVIK_BAD_PROFILE);
    Cursor header{bytes + std::min(size, kHeaderBytes), 0, bytes, fault};
    RETURN_IF(size < kHeaderBytes, header.bad(size, true));
    RETURN_IF(std::memcmp(bytes, kMagic, sizeof kMagic) != 0, header.bad(kHeaderBytes));
    auto *box = static_cast<Loaded *>(mem_calloc(1, sizeof(Loaded)));
    RETURN_IF(box == nullptr, TAVIK_NO_MEMORY);
    tavik_profile *p = &box->profile;
    if (form != Form::shell) {
        box->texts = static_cast<char *>(tavik::mem_malloc(size));
        if (box->texts == nullptr) {
            mem_free(box);
            return TAVIK_NO_MEMORY;
        }
        box->cap = size;
    }
    p->version = static_cast<int32_t>(read_le32(bytes + 8));
    p->flags = static_cast<int32_t>(read_le32(bytes + 12));
    p->max_ngram_length = static_cast<int32_t>(read_le32(bytes + 16));
    p->max_distribution = static_cast<int32_t>(read_le32(bytes + 20));
    p->occurance_threshold = static_cast<int32_t>(read_le32(bytes + 24));
    const uint32_t langs = read_le32(bytes + 28), metas = read_le32(bytes + 32);
    int32_t rc = TAVIK_BAD_PROFILE;
    if (p->version != 1)
        header.bad(kHeaderBytes - 8);
    else if (langs > TAVIK_MAX_LANGS)
        header.bad(kHeaderBytes - 28);
    else if (metas > TAVIK_MAX_META)
        header.bad(kHeaderBytes - 32);
    if (langs <= TAVIK_MAX_LANGS && metas <= TAVIK_MAX_META && p->version == 1) {
        p->lang_count = static_cast<int32_t>(langs);
        p->meta_count = static_cast<int32_t>(metas);
        Cursor c{bytes + kHeaderBytes, size - kHeaderBytes, bytes, fault};
        rc = read_body(c, form, *p);
    }
    if (rc != TAVIK_OK) {
        tavik_profile_free(p);
        return rc;
    }
    std::snprintf(p->id, sizeof p->id, "tavik-v%u-L%d", static_cast<unsigned>(p->version),
                  p->lang_count);
    *out = p;
    return TAVIK_OK;
}

}  // namespace

int32_t tavik_profile_load(const void *data, uint64_t size, tavik_profile **out) {
    return load(data, size, out, nullptr, Form::designed);
}

int32_t tavik_profile_find_fault(const void *data, uint64_t size, uint64_t *offset,
                                 int32_t *truncated) {
    Fault fault;
    tavik_profile *p = nullptr;
    const int32_t rc = load(data, size, &p, &fault, Form::designed);
    tavik_profile_free(p);
    if (rc == TAVIK_BAD_PROFILE) {
        if (offset != nullptr) *offset = fault.offset;
        if (truncated != nullptr) *truncated = fault.truncated ? 1 : 0;
    }
    return rc;
}

int32_t tavik_profile_load_path(const char *path, tavik_profile **out) {
    RETURN_IF(path == nullptr, TAVIK_INVALID);
    // Opened without blocking, so that a FIFO cannot stall the caller; only
    // a regular file is read.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    RETURN_IF(fd < 0, TAVIK_BAD_PROFILE);
    struct stat st;
    int32_t rc = TAVIK_BAD_PROFILE;
    unsigned char *buf = nullptr;
    uint64_t size = 0;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0 &&
        static_cast<uint64_t>(st.st_size) <= TAVIK_MAX_PROFILE_BYTES) {
        size = static_cast<uint64_t>(st.st_size);
        buf = static_cast<unsigned char *>(tavik::mem_malloc(size == 0 ? 1 : size));
        rc = buf == nullptr ? TAVIK_NO_MEMORY : TAVIK_OK;
    }
    uint64_t got = 0;
    while (rc == TAVIK_OK && got < size) {
        const ssize_t n = ::read(fd, buf + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            rc = TAVIK_BAD_PROFILE;
        else
            got += static_cast<uint64_t>(n);
    }
    ::close(fd);
    if (rc == TAVIK_OK) rc = tavik_profile_load(buf, size, out);
    mem_free(buf);
    return rc;
}

}  // extern "C"

namespace tavik {

int32_t profile_load_unindexed(const void *data, uint64_t size, tavik_profile **out) {
    return load(data, size, out, nullptr, Form::lists);
}

int32_t profile_load_shell(const void *data, uint64_t size, tavik_profile **out) {
    return load(data, size, out, nullptr, Form::shell);
}

void profile_drop_ngrams(tavik_profile &p) {
    for (int32_t j = 0; j < p.lang_count; ++j) {
        tavik_lang &l = p.langs[j];
        mem_free(static_cast<void *>(l.lookup_keys));
        mem_free(l.lookup_ranks);
        mem_free(l.ngrams.items);
        l.lookup_keys = nullptr;
        l.lookup_ranks = nullptr;
        l.lookup_size = 0;
        l.lookup_used = 0;
        l.ngrams.items = nullptr;
        l.ngrams.capacity = 0;
    }
    Loaded &box = loaded(p);
    mem_free(box.texts);
    box.texts = nullptr;
    box.used = 0;
    box.cap = 0;
}

}  // namespace tavik
