// SPDX-License-Identifier: MIT
// test_session.cpp - models and sessions (tavik_session.h): their outcome
// against the designed interface, candidate languages against a profile
// that holds only them, the model's loaders and lifetime, and many
// sessions on threads over one model.
//
// An outcome is written out as text (status, error text, query, results
// with the bits of every distance and confidence, best code, both
// documents), so that "equal" means byte for byte and bit for bit.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

#include "tavik/tavik_session.h"
#include "testutil.h"

using namespace tavik_test;

namespace {

const std::string kDefaultProfile = TAVIK_SOURCE_DIR "/data/default.tavik";

// The settings and candidates one caller identifies with.
struct Config {
    const char *name;
    int32_t min_ngrams = 40;
    double min_margin = 2.0;
    int32_t size_penalty = 0;
    int32_t max_ngram_length = 5;
    int32_t max_distribution = 4000;
    int32_t threshold = 0;
    const char *only = nullptr;  // candidate codes, in profile order
};

const Config kConfigs[] = {
    {"defaults"},
    {"settings", 0, 15.0, 1, 3, 700, 1},
    {"candidates", 40, 2.0, 0, 5, 4000, 0, "deu,eng,fra,nld"},
    {"candidates and settings", 5, 30.0, 1, 4, 1500, 0, "bel,rus,ukr"},
};

std::string bits(double d) {
    uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    char buf[24];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(b));
    return buf;
}

std::string str(const char *s) { return s != nullptr ? "\"" + std::string(s) + "\"" : "NULL"; }

// The outcome of the designed interface's last identification, which
// returned `rc`; with `docs` both documents, explaining the first and the
// last language.
std::string global_outcome(int32_t rc, bool docs = true) {
    std::string s = "rc " + std::to_string(rc) + " status " +
                    std::to_string(tavik_get_state()->status) + " error " +
                    str(tavik_last_error()) + "\nngrams";
    for (int32_t i = 0; i < tavik_ngram_count(); ++i) s += " " + std::string(tavik_ngram(i));
    s += "\nresults";
    for (int32_t i = 0; i < tavik_result_count(); ++i)
        s += " " + std::string(tavik_result_code(i)) + ":" + bits(tavik_result_distance(i)) + ":" +
             bits(tavik_result_confidence(i));
    s += "\nbest " + str(tavik_best_code());
    if (!docs) return s;
    // One document at a time: the next call releases the text of the last.
    s += "\n" + std::string(tavik_result_json());
    s += "\n" + std::string(tavik_explain(0));
    s += "\n" + std::string(tavik_explain(tavik_profile_language_count() - 1));
    return s;
}

// The same of a session.
std::string session_outcome(tavik_session *s, int32_t rc, bool docs = true) {
    std::string o = "rc " + std::to_string(rc) + " status " +
                    std::to_string(tavik_session_status(s)) + " error " +
                    str(tavik_session_last_error(s)) + "\nngrams";
    for (int32_t i = 0; i < tavik_session_ngram_count(s); ++i)
        o += " " + std::string(tavik_session_ngram(s, i));
    o += "\nresults";
    for (int32_t i = 0; i < tavik_session_result_count(s); ++i)
        o += " " + std::string(tavik_session_result_code(s, i)) + ":" +
             bits(tavik_session_result_distance(s, i)) + ":" +
             bits(tavik_session_result_confidence(s, i));
    o += "\nbest " + str(tavik_session_best_code(s));
    if (!docs) return o;
    o += "\n" + std::string(tavik_session_result_json(s));
    o += "\n" + std::string(tavik_session_explain(s, 0));
    o += "\n" + std::string(tavik_session_explain(s, tavik_session_language_count(s) - 1));
    return o;
}

std::string identify_global(const std::string &text, bool docs = true) {
    return global_outcome(tavik_identify(text.c_str()), docs);
}

std::string identify_session(tavik_session *s, const std::string &text, bool docs = true) {
    return session_outcome(s, tavik_session_identify(s, text.data(), text.size()), docs);
}

// The threads write both documents for every fourth text only, which
// keeps the test quick under ThreadSanitizer.
bool with_docs(size_t text) { return text % 4 == 0; }

void apply_global(const Config &c) {
    tavik_set_min_ngrams(c.min_ngrams);
    tavik_set_min_margin(c.min_margin);
    tavik_set_size_penalty(c.size_penalty);
    tavik_set_max_ngram_length(c.max_ngram_length);
    tavik_set_max_distribution(c.max_distribution);
    tavik_set_occurance_threshold(c.threshold);
}

void apply_session(tavik_session *s, const Config &c) {
    tavik_session_set_min_ngrams(s, c.min_ngrams);
    tavik_session_set_min_margin(s, c.min_margin);
    tavik_session_set_size_penalty(s, c.size_penalty);
    tavik_session_set_max_ngram_length(s, c.max_ngram_length);
    tavik_session_set_max_distribution(s, c.max_distribution);
    tavik_session_set_occurance_threshold(s, c.threshold);
    ASSERT_EQ(tavik_session_set_candidates(s, c.only), TAVIK_OK) << tavik_session_last_error(s);
}

// The default profile cut down to the languages named in `only` (all for
// nullptr), with the same n-gram lists and header: the profile whose
// designed identification the candidates must reproduce.
std::string profile_of(const char *only) {
    const std::string full = read_file(kDefaultProfile);
    if (only == nullptr) return full;
    tavik_profile *p = nullptr;
    EXPECT_EQ(tavik_profile_load(full.data(), full.size(), &p), TAVIK_OK);
    const std::string wanted = std::string(",") + only + ",";
    std::vector<int32_t> kept;
    for (int32_t l = 0; l < p->lang_count; ++l)
        if (wanted.find("," + std::string(p->langs[l].code) + ",") != std::string::npos)
            kept.push_back(l);
    Blob b;
    b.header(static_cast<uint32_t>(kept.size()), 0, 1, 1, p->max_ngram_length, p->max_distribution,
             p->occurance_threshold);
    for (const int32_t l : kept) {
        std::vector<std::string> grams;
        for (uint64_t k = 0; k < p->langs[l].ngrams.count; ++k)
            grams.emplace_back(p->langs[l].ngrams.items[k].text);
        b.lang(p->langs[l].code, grams);
    }
    tavik_profile_free(p);
    return b.bytes();
}

// Texts of every kind: lines of the development set alone and joined into
// longer texts, short and empty ones, malformed UTF-8, and one long enough
// to be counted word by word.
std::vector<std::string> sample_texts(size_t n) {
    std::vector<std::string> lines;
    {
        const std::string dev = read_file(TAVIK_SOURCE_DIR "/data/dev.tsv");
        size_t pos = 0;
        while (pos < dev.size()) {
            size_t nl = dev.find('\n', pos);
            if (nl == std::string::npos) nl = dev.size();
            const std::string line = dev.substr(pos, nl - pos);
            const size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1);
            if (t1 != std::string::npos) lines.push_back(line.substr(t1 + 1, t2 - t1 - 1));
            pos = nl + 1;
        }
    }
    std::vector<std::string> texts = {
        "", "1 2 3", "a", "the", "bad \xff utf8 after words", "truncated \xc3", "Ὀδυσσεύς ἐν νήσῳ"};
    std::string big;
    while (big.size() < (1u << 16) + 100) big += lines[big.size() % lines.size()] + " ";
    texts.push_back(big);
    for (size_t i = 0; texts.size() < n; ++i) {
        const size_t at = (i * 7919) % lines.size();
        std::string t = lines[at];
        for (size_t k = 1; k < i % 6; ++k) t += " " + lines[(at + k) % lines.size()];
        texts.push_back(t);
    }
    return texts;
}

// The designed interface's outcome of every text under `c`, over the
// profile holding c's candidates only.
std::vector<std::string> reference(const Config &c, const std::vector<std::string> &texts,
                                   bool (*docs)(size_t) = nullptr) {
    tavik_free_profile();
    load(profile_of(c.only));
    apply_global(c);
    std::vector<std::string> out;
    for (size_t i = 0; i < texts.size(); ++i)
        out.push_back(identify_global(texts[i], docs == nullptr || docs(i)));
    tavik_free_profile();
    return out;
}

struct Model {
    tavik_model *m = nullptr;
    Model() { EXPECT_EQ(tavik_model_open(kDefaultProfile.c_str(), &m), TAVIK_OK); }
    ~Model() { tavik_model_free(m); }
    Model(const Model &) = delete;
    Model &operator=(const Model &) = delete;
};

struct Session {
    tavik_session *s = nullptr;
    explicit Session(tavik_model *m) { EXPECT_EQ(tavik_session_new(m, &s), TAVIK_OK); }
    ~Session() { tavik_session_free(s); }
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;
};

// --------------------------------------------------------- single thread

// Every configuration, candidates included, against the designed
// interface over the profile holding only the candidates.
TEST(Session, MatchesTheDesignedInterface) {
    const std::vector<std::string> texts = sample_texts(400);
    Model model;
    for (const Config &c : kConfigs) {
        SCOPED_TRACE(c.name);
        const std::vector<std::string> want = reference(c, texts);
        Session s(model.m);
        apply_session(s.s, c);
        for (size_t i = 0; i < texts.size(); ++i)
            ASSERT_EQ(identify_session(s.s, texts[i]), want[i]) << "text " << i << ": " << texts[i];
    }
}

// A new session takes the profile header's settings, as loading does.
TEST(Session, StartsWithTheProfileHeaderSettings) {
    Blob b;
    b.header(2, 0, 1, 1, 2, 6, 1);
    b.lang("aaa", {"a", "_a", "b", "a_", "c", "_b"});
    b.lang("bbb", {"b", "_b", "c", "b_", "a", "d"});
    tavik_free_profile();
    apply_global(kConfigs[0]);  // the defaults; loading sets the header's
    load(b.bytes());
    tavik_set_min_ngrams(0);
    tavik_model *m = nullptr;
    ASSERT_EQ(tavik_model_open_memory(b.bytes().data(), b.bytes().size(), &m), TAVIK_OK);
    Session s(m);
    tavik_model_free(m);
    tavik_session_set_min_ngrams(s.s, 0);
    for (const std::string text : {"a b c a b", "b b d a c", "aaa bbb ccc ddd"})
        EXPECT_EQ(identify_session(s.s, text), identify_global(text)) << text;
}

// A NUL byte is a separator: the outcome is that of the designed interface
// on the text with a space in its place.
TEST(Session, NulByteIsASeparator) {
    Model model;
    Session s(model.m);
    apply_global(kConfigs[0]);
    load(read_file(kDefaultProfile));
    tavik_set_min_ngrams(0);
    tavik_session_set_min_ngrams(s.s, 0);
    const std::string cases[] = {
        std::string("guten\0morgen", 12),
        std::string("\0hello world\0", 13),
        std::string("a\0\0\0b", 5),
        std::string("\0", 1),
    };
    for (const std::string &text : cases) {
        std::string spaced = text;
        for (char &ch : spaced)
            if (ch == '\0') ch = ' ';
        EXPECT_EQ(identify_session(s.s, text), identify_global(spaced)) << spaced;
    }
}

TEST(Session, EdgesOfTheInterface) {
    Model model;
    Session s(model.m);
    EXPECT_EQ(tavik_session_status(s.s), TAVIK_NO_PROFILE);
    EXPECT_STREQ(tavik_session_last_error(s.s), "");
    EXPECT_STREQ(tavik_session_result_json(s.s),
                 "{\"status\":3,\"best\":\"\",\"ngrams\":0,\"results\":[]}");
    EXPECT_STREQ(tavik_session_explain(s.s, 0), "{}");

    // NULL with length 0 is the empty text; with a length it is refused,
    // leaving the query as tavik_identify(NULL) does.
    tavik_session_set_min_ngrams(s.s, 0);
    EXPECT_EQ(tavik_session_identify(s.s, "hallo wereld", 12), TAVIK_OK);
    EXPECT_EQ(tavik_session_identify(s.s, nullptr, 5), TAVIK_INVALID);
    EXPECT_STREQ(tavik_session_last_error(s.s), "null text");
    EXPECT_EQ(tavik_session_status(s.s), TAVIK_NO_PROFILE);
    EXPECT_GT(tavik_session_ngram_count(s.s), 0);
    EXPECT_EQ(tavik_session_identify(s.s, nullptr, 0), TAVIK_OK);
    EXPECT_EQ(tavik_session_ngram_count(s.s), 0);

    // Out of range and NULL handles.
    const int32_t n = tavik_session_result_count(s.s);
    EXPECT_EQ(tavik_session_result_code(s.s, n), nullptr);
    EXPECT_EQ(tavik_session_result_distance(s.s, -1), -1.0);
    EXPECT_EQ(tavik_session_result_confidence(s.s, n), 0.0);
    EXPECT_EQ(tavik_session_ngram(s.s, -1), nullptr);
    EXPECT_EQ(tavik_session_language_code(s.s, tavik_session_language_count(s.s)), nullptr);
    EXPECT_EQ(tavik_session_identify(nullptr, "x", 1), TAVIK_INVALID);
    EXPECT_EQ(tavik_session_set_candidates(nullptr, "eng"), TAVIK_INVALID);
    EXPECT_EQ(tavik_session_status(nullptr), TAVIK_INVALID);
    EXPECT_STREQ(tavik_session_last_error(nullptr), "");
    EXPECT_EQ(tavik_session_result_count(nullptr), 0);
    EXPECT_EQ(tavik_session_best_code(nullptr), nullptr);
    EXPECT_EQ(tavik_session_ngram(nullptr, 0), nullptr);
    EXPECT_STREQ(tavik_session_result_json(nullptr), "{}");
    EXPECT_STREQ(tavik_session_explain(nullptr, 0), "{}");
    tavik_session_set_min_ngrams(nullptr, 1);
    EXPECT_EQ(tavik_model_language_count(nullptr), 0);
    EXPECT_EQ(tavik_model_language_code(model.m, -1), nullptr);
    EXPECT_EQ(tavik_model_meta(model.m, nullptr), nullptr);
    EXPECT_STREQ(tavik_model_id(model.m), "tavik-v1-L58");
    tavik_session *none = reinterpret_cast<tavik_session *>(&model);
    EXPECT_EQ(tavik_session_new(nullptr, &none), TAVIK_INVALID);
    EXPECT_EQ(none, nullptr);
    tavik_session_free(nullptr);
    tavik_model_free(nullptr);
}

TEST(Session, CandidatesRefusedKeepTheSetInForce) {
    Model model;
    Session s(model.m);
    const int32_t all = tavik_model_language_count(model.m);
    ASSERT_EQ(tavik_session_language_count(s.s), all);
    ASSERT_EQ(tavik_session_set_candidates(s.s, "fra,eng"), TAVIK_OK);
    ASSERT_EQ(tavik_session_language_count(s.s), 2);
    EXPECT_STREQ(tavik_session_language_code(s.s, 0), "eng");  // profile order
    EXPECT_STREQ(tavik_session_language_code(s.s, 1), "fra");
    const struct {
        const char *codes, *error;
    } refused[] = {
        {"eng,xyz", "unknown language code 'xyz'"},
        {"eng,fra,eng", "repeated language code 'eng'"},
        {"eng,", "unknown language code ''"},
        {",eng", "unknown language code ''"},
        {"eng fra", "unknown language code 'eng fra'"},
        {"ENG", "unknown language code 'ENG'"},
    };
    for (const auto &r : refused) {
        SCOPED_TRACE(r.codes);
        EXPECT_EQ(tavik_session_set_candidates(s.s, r.codes), TAVIK_INVALID);
        EXPECT_STREQ(tavik_session_last_error(s.s), r.error);
        EXPECT_EQ(tavik_session_language_count(s.s), 2);
    }
    tavik_session_set_min_ngrams(s.s, 0);
    const std::string english = "the quick brown fox jumps over the lazy dog";
    EXPECT_EQ(tavik_session_identify(s.s, english.data(), english.size()), TAVIK_OK);
    EXPECT_EQ(tavik_session_result_count(s.s), 2);
    for (const char *everything : {static_cast<const char *>(nullptr), ""}) {
        ASSERT_EQ(tavik_session_set_candidates(s.s, "deu"), TAVIK_OK);
        ASSERT_EQ(tavik_session_set_candidates(s.s, everything), TAVIK_OK);
        EXPECT_EQ(tavik_session_language_count(s.s), all);
    }
}

// The model's loaders refuse what the designed loaders refuse, with the
// same codes, and never hand out a model then.
TEST(Model, OpensAndRefusesAsTheDesignedLoaders) {
    const std::string folder = TAVIK_SOURCE_DIR "/tests/data/bad_profiles";
    std::vector<std::string> paths = {kDefaultProfile, folder + "/no such file.tavik"};
    for (const auto &entry : std::filesystem::directory_iterator(folder))
        paths.push_back(entry.path().string());
    for (const std::string &path : paths) {
        SCOPED_TRACE(path);
        const int32_t want = tavik_load_profile(path.c_str());
        tavik_model *m = reinterpret_cast<tavik_model *>(&paths);
        EXPECT_EQ(tavik_model_open(path.c_str(), &m), want);
        EXPECT_EQ(m != nullptr, want == TAVIK_OK);
        tavik_model_free(m);
        if (!std::filesystem::is_regular_file(path)) continue;
        const std::string bytes = read_file(path);
        m = reinterpret_cast<tavik_model *>(&paths);
        EXPECT_EQ(tavik_model_open_memory(bytes.data(), bytes.size(), &m),
                  tavik_load_profile_memory(bytes.data(), bytes.size()));
        EXPECT_EQ(m != nullptr, want == TAVIK_OK);
        tavik_model_free(m);
    }
    tavik_model *m = nullptr;
    EXPECT_EQ(tavik_model_open(nullptr, &m), TAVIK_INVALID);
    EXPECT_EQ(tavik_model_open(kDefaultProfile.c_str(), nullptr), TAVIK_INVALID);
    EXPECT_EQ(tavik_model_open_memory(nullptr, 0, &m), tavik_load_profile_memory(nullptr, 0));
    EXPECT_EQ(m, nullptr);
}

// The caller's reference goes first; the sessions keep the model.
TEST(Model, LivesAsLongAsItsLastSession) {
    tavik_model *m = nullptr;
    ASSERT_EQ(tavik_model_open(kDefaultProfile.c_str(), &m), TAVIK_OK);
    tavik_session *a = nullptr, *b = nullptr;
    ASSERT_EQ(tavik_session_new(m, &a), TAVIK_OK);
    ASSERT_EQ(tavik_session_new(m, &b), TAVIK_OK);
    tavik_model_free(m);
    const std::string text =
        "Dit is een gewone zin in het Nederlands, lang genoeg om te herkennen.";
    EXPECT_EQ(tavik_session_identify(a, text.data(), text.size()), TAVIK_OK);
    EXPECT_STREQ(tavik_session_best_code(a), "nld");
    tavik_session_free(a);
    EXPECT_EQ(tavik_session_identify(b, text.data(), text.size()), TAVIK_OK);
    EXPECT_STREQ(tavik_session_best_code(b), "nld");
    tavik_session_free(b);
}

// ---------------------------------------------------------------- threads

// Eight threads, two per configuration, each with its own session over one
// model, identify the same texts at once; the caller's reference to the
// model is dropped while they run, and this thread meanwhile identifies
// through the designed interface.  Every outcome equals the serial
// designed one.
TEST(Threads, SessionsOnOneModelMatchTheSerialOutcome) {
    constexpr int kThreads = 8;
    // The sanitizers make every identification tens of times slower; a race
    // or a stray access shows on fewer texts as well.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    const std::vector<std::string> texts = sample_texts(1000);
#else
    const std::vector<std::string> texts = sample_texts(3000);
#endif
    std::vector<std::vector<std::string>> want;
    for (const Config &c : kConfigs) want.push_back(reference(c, texts, with_docs));
    const size_t configs = want.size();

    tavik_model *model = nullptr;
    ASSERT_EQ(tavik_model_open(kDefaultProfile.c_str(), &model), TAVIK_OK);
    std::atomic<int> ready{0};
    std::vector<long> mismatches(kThreads, -1);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            tavik_session *s = nullptr;
            if (tavik_session_new(model, &s) != TAVIK_OK) {
                ready.fetch_add(1);
                return;
            }
            const Config &c = kConfigs[static_cast<size_t>(t) % configs];
            apply_session(s, c);
            ready.fetch_add(1);
            long bad = 0;
            // Each thread starts at a place of its own, so that different
            // texts meet.
            for (size_t k = 0; k < texts.size(); ++k) {
                const size_t i = (k + static_cast<size_t>(t) * 397) % texts.size();
                bad += identify_session(s, texts[i], with_docs(i)) !=
                       want[static_cast<size_t>(t) % configs][i];
            }
            mismatches[static_cast<size_t>(t)] = bad;
            tavik_session_free(s);
        });
    }
    while (ready.load() < kThreads) std::this_thread::yield();
    tavik_model_free(model);

    load(read_file(kDefaultProfile));
    apply_global(kConfigs[0]);
    long global_bad = 0;
    for (size_t i = 0; i < texts.size(); i += 3)
        global_bad += identify_global(texts[i], with_docs(i)) != want[0][i];
    for (std::thread &th : threads) th.join();
    EXPECT_EQ(global_bad, 0);
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(mismatches[static_cast<size_t>(t)], 0)
            << "thread " << t << " (" << kConfigs[static_cast<size_t>(t) % configs].name << ")";
}

}  // namespace
