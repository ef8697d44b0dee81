// SPDX-License-Identifier: MIT
// testutil.cpp - fixtures shared by the test programs.
#include "testutil.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <gtest/gtest.h>
#include <sstream>

#include "engine.h"

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

std::string make_profile(const std::vector<LangNgrams> &langs,
                         const std::vector<std::pair<std::string, std::string>> &meta) {
    Blob b;
    b.header(static_cast<uint32_t>(langs.size()), static_cast<uint32_t>(meta.size()));
    for (const auto &[k, v] : meta) b.text16(k).text16(v);
    for (const auto &[code, ngrams] : langs) b.lang(code, ngrams);
    return b.bytes();
}

std::string letter(int k) {
    if (k < 26) return std::string(1, static_cast<char>('a' + k));
    if (k < 52) return std::string(1, static_cast<char>('A' + k - 26));
    const uint32_t cp = 0x4E00 + static_cast<uint32_t>(k - 52);
    std::string s;
    s += static_cast<char>(0xE0 | (cp >> 12));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
    return s;
}

std::string letters_text(int n) {
    std::string s;
    for (int k = 0; k < n; ++k) s += letter(k) + " ";
    return s;
}

std::vector<std::string> codes_of(const tavik_profile &p) {
    std::vector<std::string> codes;
    for (int32_t j = 0; j < p.lang_count; ++j) codes.emplace_back(p.langs[j].code);
    return codes;
}

MetaPairs meta_of(const tavik_profile &p) {
    MetaPairs pairs;
    for (int32_t i = 0; i < p.meta_count; ++i) pairs.emplace_back(p.meta[i].key, p.meta[i].value);
    return pairs;
}

std::string profile1(const std::vector<LangNgrams> &langs, uint32_t max_dist) {
    Blob b;
    b.header(static_cast<uint32_t>(langs.size()), 0, 1, 1, 1, max_dist, 0);
    for (const auto &[code, ngrams] : langs) b.lang(code, ngrams);
    return b.bytes();
}

void load(const std::string &blob) {
    ASSERT_EQ(tavik_load_profile_memory(blob.data(), blob.size()), TAVIK_OK) << tavik_last_error();
}

std::string with_byte(std::string s, size_t at, char value) {
    s.at(at) = value;
    return s;
}

}  // namespace tavik_test

// ------------------------------------------------------------ run_program

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tavik_test {

RunResult run_program(const std::string &program, const std::vector<std::string> &args,
                      const std::string &input, const std::vector<std::string> &env,
                      const std::vector<std::string> &unset, bool unprivileged) {
    // A child that exits before reading all its input must not kill the test.
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> argv_texts{program}, env_texts;
    argv_texts.insert(argv_texts.end(), args.begin(), args.end());
    for (char **e = environ; *e != nullptr; ++e) {
        const std::string_view v = *e;
        const bool drop = std::any_of(unset.begin(), unset.end(), [&](const std::string &name) {
            return v.size() > name.size() && v.starts_with(name) && v[name.size()] == '=';
        });
        if (!drop) env_texts.emplace_back(v);
    }
    const bool as_nobody = unprivileged && ::geteuid() == 0;
    env_texts.insert(env_texts.end(), env.begin(), env.end());
    auto pointers = [](std::vector<std::string> &texts) {
        std::vector<char *> p;
        for (std::string &t : texts) p.push_back(t.data());
        p.push_back(nullptr);
        return p;
    };
    std::vector<char *> argv = pointers(argv_texts), envp = pointers(env_texts);

    RunResult r;
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
        ::pipe2(err, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return r;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        if (as_nobody &&
            (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(126);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    if (pid < 0) {
        ADD_FAILURE() << "fork: " << std::strerror(errno);
        ::close(in[1]);
        ::close(out[0]);
        ::close(err[0]);
        return r;
    }
    ::fcntl(in[1], F_SETFL, O_NONBLOCK);
    size_t sent = 0;
    if (input.empty()) {
        ::close(in[1]);
        in[1] = -1;
    }
    std::array<pollfd, 3> fds{{{in[1], POLLOUT, 0}, {out[0], POLLIN, 0}, {err[0], POLLIN, 0}}};
    std::array<std::string *, 3> sinks{nullptr, &r.out, &r.err};
    while (fds[0].fd >= 0 || fds[1].fd >= 0 || fds[2].fd >= 0) {
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[0].fd >= 0 && fds[0].revents != 0) {
            const ssize_t n = ::write(fds[0].fd, input.data() + sent, input.size() - sent);
            if (n > 0) sent += static_cast<size_t>(n);
            if ((n < 0 && errno != EAGAIN && errno != EINTR) || sent == input.size()) {
                ::close(fds[0].fd);
                fds[0].fd = -1;
            }
        }
        for (size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0 || read_some(fds[i].fd, *sinks[i])) continue;
            ::close(fds[i].fd);
            fds[i].fd = -1;
        }
    }
    r.code = wait_exit_code(pid);
    return r;
}

bool read_some(int fd, std::string &sink) {
    char buf[65536];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) sink.append(buf, static_cast<size_t>(n));
    return n > 0 || (n < 0 && errno == EINTR);
}

int wait_exit_code(int pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

namespace {

// Everything a session answers about its last identification, as text.
std::string session_state(tavik_session *s) {
    std::string t = "status " + std::to_string(tavik_session_status(s)) + " error \"" +
                    tavik_session_last_error(s) + "\" script " +
                    std::to_string(tavik_session_script(s));
    char prob[64];
    std::snprintf(prob, sizeof prob, " probability %a reliable %d", tavik_session_probability(s),
                  tavik_session_reliable(s));
    t += prob;
    t += "\nresults";
    for (int32_t i = 0; i < tavik_session_result_count(s); ++i) {
        char r[96];
        std::snprintf(r, sizeof r, " %s:%a:%a", tavik_session_result_code(s, i),
                      tavik_session_result_distance(s, i), tavik_session_result_confidence(s, i));
        t += r;
    }
    const char *best = tavik_session_best_code(s);
    t += "\nbest " + std::string(best != nullptr ? best : "(none)") + "\nngrams";
    for (int32_t i = 0; i < tavik_session_ngram_count(s); ++i)
        t += " " + std::string(tavik_session_ngram(s, i));
    t += "\njson " + std::string(tavik_session_result_json(s));
    t += "\nexplain " + std::string(tavik_session_explain(s, 0));
    return t;
}

// The ranking an outcome of `alone`'s last identification carries.
std::string expected_ranking(tavik_session *alone, int32_t status, const BatchText &t) {
    const bool closest = status == TAVIK_TOO_FEW_NGRAMS && tavik_session_ngram_count(alone) > 0;
    const int32_t min_ngrams = alone->st.min_ngrams;
    if (closest) {
        tavik_session_set_min_ngrams(alone, 0);
        tavik_session_identify(alone, t.bytes.data(), t.bytes.size());
    }
    std::string r;
    for (int32_t i = 0; i < tavik_session_result_count(alone); ++i) {
        char one[96];
        std::snprintf(one, sizeof one, " %s:%a:%a", tavik_session_result_code(alone, i),
                      tavik_session_result_distance(alone, i),
                      tavik_session_result_confidence(alone, i));
        r += one;
    }
    if (closest) tavik_session_set_min_ngrams(alone, min_ngrams);
    return r;
}

std::string outcome_ranking(const tavik_outcome &o) {
    std::string r;
    for (int32_t i = 0; i < o.result_count; ++i) {
        char one[96];
        std::snprintf(one, sizeof one, " %s:%a:%a", o.results[i].code, o.results[i].distance,
                      o.results[i].confidence);
        r += one;
    }
    return r;
}

}  // namespace

void expect_batch_as_alone(tavik_session *batch, tavik_session *alone,
                           const std::vector<BatchText> &texts) {
    std::vector<const char *> ptrs;
    std::vector<uint64_t> lengths;
    for (const BatchText &t : texts) {
        ptrs.push_back(t.null ? nullptr : t.bytes.data());
        lengths.push_back(t.null ? t.null_length : t.bytes.size());
    }
    std::vector<tavik_outcome> outcomes(texts.size());
    ASSERT_EQ(tavik_session_identify_batch(batch, ptrs.data(), lengths.data(), texts.size(),
                                           outcomes.data()),
              TAVIK_OK);
    for (size_t k = 0; k < texts.size(); ++k) {
        SCOPED_TRACE("text " + std::to_string(k));
        const tavik_outcome &o = outcomes[k];
        const int32_t status = tavik_session_identify(alone, ptrs[k], lengths[k]);
        EXPECT_EQ(o.status, status);
        EXPECT_EQ(o.script, tavik_session_script(alone));
        EXPECT_EQ(o.ngram_count, tavik_session_ngram_count(alone));
        char want[64], got[64];
        std::snprintf(want, sizeof want, "%a", tavik_session_probability(alone));
        std::snprintf(got, sizeof got, "%a", o.probability);
        EXPECT_STREQ(got, want);
        EXPECT_EQ(o.reliable, tavik_session_reliable(alone));
        // The closest ranking re-identifies; the plain outcome is read first.
        const std::string state = session_state(alone);
        const std::string ranking = expected_ranking(alone, status, texts[k]);
        EXPECT_EQ(outcome_ranking(o), ranking);
        EXPECT_EQ(o.results == nullptr, o.result_count == 0);
        if (o.result_count > 0) {
            EXPECT_STREQ(o.language, o.results[0].code);
            EXPECT_EQ(o.distance, o.results[0].distance);
            EXPECT_EQ(o.confidence, o.results[0].confidence);
        } else {
            EXPECT_STREQ(o.language, "");
            EXPECT_EQ(o.distance, -1.0);
            EXPECT_EQ(o.confidence, 0.0);
        }
        // Put `alone` back into the text's own outcome.
        if (status == TAVIK_TOO_FEW_NGRAMS) tavik_session_identify(alone, ptrs[k], lengths[k]);
        EXPECT_EQ(session_state(alone), state);
    }
    EXPECT_EQ(session_state(batch), session_state(alone));
}

Opened::Opened(const std::string &bytes) {
    EXPECT_EQ(tavik_model_open_memory(bytes.data(), bytes.size(), &model), TAVIK_OK);
    if (model != nullptr) {
        EXPECT_EQ(tavik_session_new(model, &session), TAVIK_OK);
    }
}

Opened::~Opened() {
    tavik_session_free(session);
    tavik_model_free(model);
}

}  // namespace tavik_test
