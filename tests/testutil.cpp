// testutil.cpp - fixtures shared by the test programs.
#include "testutil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace tavik_test {

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "tavik-test-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Make everything removable again (tests take permissions away).
    for (auto it = std::filesystem::recursive_directory_iterator(
             path_, std::filesystem::directory_options::skip_permission_denied, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(path_, ec);
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

Blob &Blob::header(uint32_t langs, uint32_t metas, uint32_t flags, uint32_t version,
                   uint32_t max_len, uint32_t max_dist, uint32_t threshold) {
    raw("TAVIK001");
    return u32(version).u32(flags).u32(max_len).u32(max_dist).u32(threshold).u32(langs).u32(metas);
}

Blob &Blob::lang(const std::string &code, const std::vector<std::string> &ngrams,
                 bool with_values) {
    u8(static_cast<uint32_t>(code.size())).raw(code).u32(static_cast<uint32_t>(ngrams.size()));
    for (size_t k = 0; k < ngrams.size(); ++k) {
        text16(ngrams[k]);
        if (with_values) u32(static_cast<uint32_t>(ngrams.size() - k));
    }
    return *this;
}

std::string make_profile(const std::vector<LangSpec> &langs,
                         const std::vector<std::pair<std::string, std::string>> &meta) {
    Blob b;
    b.header(static_cast<uint32_t>(langs.size()), static_cast<uint32_t>(meta.size()));
    for (const auto &[k, v] : meta) b.text16(k).text16(v);
    for (const auto &[code, ngrams] : langs) b.lang(code, ngrams);
    return b.bytes();
}

void load(const std::string &blob) {
    ASSERT_EQ(tavik_load_profile_memory(blob.data(), blob.size()), TAVIK_OK)
        << tavik_last_error();
}

std::string with_byte(std::string s, size_t at, char value) {
    s.at(at) = value;
    return s;
}

}  // namespace tavik_test
