// SPDX-License-Identifier: MIT
// model_file.h - models of several member profiles routed by script: the
// container file (docs/model-format.md), its reader and its writer, and
// the routing table a loaded bundle carries.
//
// The reader meets the profile reader's bar: one forward pass in which
// every read tests "remaining >= needed", every member's profile parsed by
// tavik_profile_load, every refusal TAVIK_BAD_PROFILE with the offset of
// the field that broke the format, and nothing half-built left behind.
// Not installed.
#ifndef TAVIK_MODEL_FILE_H
#define TAVIK_MODEL_FILE_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "calibration.h"
#include "scripts.h"
#include "tavik/profile.h"
#include "text_model.h"

namespace tavik {

struct ProfileIndex;

inline constexpr char kModelMagic[8] = {'T', 'A', 'V', 'I', 'K', 'M', 'D', '1'};
inline constexpr uint32_t kModelVersion = 1;
inline constexpr uint32_t kModelFlagZstd = 1;
inline constexpr uint64_t kModelHeaderBytes = 24;
// The largest payload a bundle may hold (compressed or not), and the
// largest bundle file the path reader accepts.
inline constexpr uint64_t kModelMaxPayload = uint64_t{256} << 20;
inline constexpr uint32_t kModelMaxMembers = 64;
inline constexpr uint32_t kModelMaxDirect = 1024;

// Where a script goes: a member's number (0 ...), a direct language
// (kRouteDirect - k for direct entry k), or nowhere.
inline constexpr int16_t kRouteNone = -1;
inline constexpr int16_t kRouteDirect = -2;

struct ModelMember {
    tavik_profile *profile;
    // Built by the engine once the file is read; in a model, on the first
    // text routed here (member_open: read with member_index, never plainly).
    ProfileIndex *index;
    TextModel text;
    Calibration calib;  // from the member's meta pairs; absent by default
    // The profile's bytes while the index is not built (lean reading): a
    // range of the routing's payload, not owned.
    const unsigned char *bytes;
    uint64_t size;
    tavik_profile *lists;  // or its lists, read once, when building the index ran out of memory
};

struct DirectScript {
    int32_t script;
    char code[8];
};

// Everything a bundle adds to a profile.  Made by model_file_read, owned by
// its model, released with routing_free.
struct Routing {
    ModelMember *members;
    int32_t member_count;
    DirectScript *direct;
    int32_t direct_count;
    tavik_meta *meta;
    int32_t meta_count;
    int32_t lang_count;  // every member's languages, then the direct ones
    int16_t route[kScriptIds];
    char id[48];
    bool lean;  // members read for a model: n-gram lists dropped, indexed on first use
    // Read lean, the bundle's payload (decompressed, or copied once from a
    // plain file) that the members' bytes point into; owned, and freed once
    // no member needs its bytes.
    unsigned char *payload;
    int32_t unbuilt;  // members whose bytes are still needed
};

// Releases the routing and every member (their indexes too).
void routing_free(Routing *routing);

// Tells the routing that member `m` no longer needs its bytes: their pages
// go back to the system, and the whole payload once no member needs it.
// The caller serialises calls (member_open holds its lock).
void routing_drop_member_bytes(Routing &routing, int32_t m);

// True when the bytes start with the bundle magic.
bool is_model_file(const void *data, uint64_t size);

// Where a bundle broke the format: the byte offset of the field (counted
// in the uncompressed payload's place, as if the file were stored
// uncompressed), and whether the bytes ended inside it.
struct ModelFault {
    uint64_t offset = 0;
    bool truncated = false;
};

// Reads the bundle of `size` bytes at `data` into a new routing in *out:
// the members' designed profiles without indexes, or with `lean` each
// member validated as fully, its n-gram lists dropped (profile_internal.h)
// and its bytes kept for member_open to index.
// Returns TAVIK_OK, TAVIK_BAD_PROFILE (with `fault` filled in when given)
// or TAVIK_NO_MEMORY; on failure *out is left alone and nothing leaks.
int32_t model_file_read(const void *data, uint64_t size, Routing **out, ModelFault *fault,
                        bool lean = false);

// A bundle to write: the members' profile files are taken as bytes.
struct BundleContents {
    struct Member {
        std::vector<std::string> scripts;
        std::string profile;
    };
    std::vector<std::pair<std::string, std::string>> meta;
    std::vector<Member> members;
    std::vector<std::pair<std::string, std::string>> direct;  // script name, code
};

// The bytes of the bundle `contents` describes, compressed when asked.  Only
// the field widths are checked here (false, with a reason in *error, when
// a value does not fit its field); what the reader refuses beyond that is
// the caller's to check, by reading the bytes back.  Deterministic.
bool model_file_write(const BundleContents &contents, bool compress, std::string *out,
                      std::string *error);

}  // namespace tavik

#endif  // TAVIK_MODEL_FILE_H
