// SPDX-License-Identifier: MIT
// fault_alloc.cpp - every allocating function, with each of its allocations
// failing in turn.
//
// For n = 1, 2, ... the nth allocation of the call fails, until the call
// makes fewer than n allocations and so runs through untouched.  After every
// failing run: the status (and error text) is the one the function names
// for running out of memory, the state is as it was before the call (or
// empty where the function says so), nothing leaks (the sanitizer's leak
// checker in the sanitizer build, valgrind's memcheck otherwise), and the
// same call made again without a failure gives the full result.
//
// How many allocations a call makes is its own business, free to change
// with the code: a test pins no count, and asks only that a function which
// must allocate has failed in at least one round.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>
#include <yyjson.h>

#include "alloc.h"
#include "api_internal.h"
#include "engine.h"
#include "model_file.h"
#include "ngram_count.h"
#include "testutil.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

using namespace tavik_test;
using tavik::G;
using tavik::T;

namespace {

// Many distinct n-grams in several scripts, so that the counting map and the
// list both grow more than once.
constexpr const char *kText =
    "The quick brown fox jumps over the lazy dog; Zwölf Boxkämpfer jagen Viktor quer über "
    "den großen Sylter Deich. Portez ce vieux whisky au juge blond qui fume. Η γρήγορη "
    "καφέ αλεπού πηδά πάνω από τον τεμπέλη σκύλο. Съешь же ещё этих мягких французских "
    "булок, да выпей чаю. いろはにほへと ちりぬるを 다람쥐 헌 쳇바퀴에 타고파";

// ------------------------------------------------------------------ driver

void expect_no_leak() {
#if defined(__SANITIZE_ADDRESS__)
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "leak after a failed allocation";
#endif
}

// Runs `call` with allocation n failing for n = 1, 2, ... and checks each
// failing run with `failed`; once the call makes fewer than n allocations it
// has run without a failure, and `succeeded` checks it.  Before every run
// `prepare` sets up the state anew (with nothing failing); after every
// failing run the call is made again, without failure, and `succeeded`
// checks that.  The leak checker runs once at the end, since it stops the
// whole process (too slow for every round); a leak of any round shows there.
// Returns the number of failing runs.
template <class Prepare, class Call, class Failed, class Succeeded>
long fail_each_allocation(Prepare prepare, Call call, Failed failed, Succeeded succeeded) {
    for (long n = 1;; ++n) {
        prepare();
        if (::testing::Test::HasFatalFailure()) return n - 1;
        tavik_fault_fail_at(n);
        const auto result = call();
        const long made = tavik_fault_allocations();
        tavik_fault_fail_at(0);
        if (made < n) {
            SCOPED_TRACE("no allocation failed");
            succeeded(result);
            expect_no_leak();
            return n - 1;
        }
        SCOPED_TRACE("allocation " + std::to_string(n) + " of the call failed");
        failed(result);
        succeeded(call());
        if (::testing::Test::HasFailure()) {
            expect_no_leak();
            return n;  // one round's report is enough
        }
    }
}

// ------------------------------------------------------- state as text

std::string list_text(const tavik_ngram_list &l) {
    std::string s = "[" + std::to_string(l.count) + "/" + std::to_string(l.capacity) + "]";
    for (uint64_t k = 0; k < l.count; ++k)
        s += " " + std::string(l.items[k].text) + ":" + std::to_string(l.items[k].count) + ":" +
             std::to_string(l.items[k].order);
    return s;
}

std::string ptr_text(const void *p) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%p", p);
    return buf;
}

// The library state, field by field; pointers are shown so that a replaced
// allocation shows as well as changed contents.  `docs`: with the pointers
// of the two documents.
std::string g_state(bool docs = true) {
    std::string s = "profile " + ptr_text(G.profile) + " index " + ptr_text(tavik::g_index);
    s += "\nsettings " + std::to_string(G.min_ngrams) + " " + std::to_string(G.min_margin) + " " +
         std::to_string(G.size_penalty) + " " + std::to_string(G.max_ngram_length) + " " +
         std::to_string(G.max_distribution) + " " + std::to_string(G.occurance_threshold);
    s += "\nquery " + ptr_text(G.query.items) + " valid " + std::to_string(G.query_valid) + " " +
         list_text(G.query);
    s += "\nresults " + std::to_string(G.result_count) + " status " + std::to_string(G.status);
    for (int32_t i = 0; i < G.result_count; ++i)
        s += " " + std::string(G.results[i].code) + ":" + std::to_string(G.results[i].distance) +
             ":" + std::to_string(G.results[i].confidence);
    s += "\nerror \"" + std::string(G.error) + "\"";
    if (docs) s += "\njson " + ptr_text(G.json) + " explain " + ptr_text(G.explain_json);
    return s;
}

// `state` (as g_state writes it) with the line that starts with `prefix`
// replaced by `line`.
std::string with_line(std::string state, const std::string &prefix, const std::string &line) {
    const size_t at = state.rfind("\n" + prefix) + 1;
    const size_t end = state.find('\n', at);
    return state.replace(at, (end == std::string::npos ? state.size() : end) - at, line);
}

// The training record and the library's error text; `pointers`: with the
// addresses of the record's allocations, for comparisons within one round.
std::string t_state(bool pointers = true) {
    auto at = [pointers](const void *p) { return pointers ? ptr_text(p) : std::string("-"); };
    std::string s =
        "langs " + std::to_string(T.lang_count) + " current " + std::to_string(T.current);
    for (int32_t j = 0; j < T.lang_count; ++j) {
        const tavik_train_lang &l = T.langs[j];
        s += "\n" + std::string(l.code) + " text " + at(l.text) + " " + std::to_string(l.text_len) +
             "/" + std::to_string(l.text_cap) + " \"" +
             (l.text != nullptr ? std::string(l.text, l.text_len) : "") + "\" ngrams " +
             at(l.ngrams.items) + " " + list_text(l.ngrams);
    }
    for (int32_t i = 0; i < T.meta_count; ++i)
        s += "\nmeta " + at(T.meta[i].key) + " " + at(T.meta[i].value) + " " + T.meta[i].key + "=" +
             T.meta[i].value;
    s += "\nerror \"" + std::string(G.error) + "\"";  // training never writes it
    return s;
}

// The ranked n-grams of a text as the library keeps them, made without
// failures, for comparison.
std::string ranked(const char *text, int32_t max_len, int32_t threshold, int32_t max_dist) {
    tavik_ngram_list l{};
    EXPECT_EQ(tavik_ngram_extract(text, max_len, &l), TAVIK_OK);
    tavik_ngram_prune_and_rank(&l, threshold, max_dist);
    std::string s;
    for (uint64_t k = 0; k < l.count; ++k)
        s += std::string(l.items[k].text) + ":" + std::to_string(l.items[k].count) + " ";
    tavik_ngram_list_free(&l);
    return s;
}

std::string query_text() {
    std::string s;
    for (uint64_t k = 0; k < G.query.count; ++k)
        s +=
            std::string(G.query.items[k].text) + ":" + std::to_string(G.query.items[k].count) + " ";
    return s;
}

// A profile of three languages trained on parts of kText, with two meta
// pairs and header settings unlike the defaults.
// With `relatives`, the three languages form one group of close relatives,
// two of them with word lists, whose tables are built with the index.
std::string sample_profile(uint32_t max_len = 4, uint32_t max_dist = 300, uint32_t threshold = 1,
                           bool relatives = false) {
    Blob b;
    b.header(3, relatives ? 5 : 2, 1, 1, max_len, max_dist, threshold);
    b.text16("source").text16("fault test").text16("date").text16("unset");
    if (relatives) {
        b.text16("tavik.relatives").text16("deu,eng,fra");
        b.text16("tavik.words.eng").text16("the quick fox");
        b.text16("tavik.words.fra").text16("ce vieux whisky");
    }
    const char *texts[] = {"the quick brown fox jumps over the lazy dog",
                           "zwölf Boxkämpfer jagen Viktor quer über den großen Deich",
                           "portez ce vieux whisky au juge blond qui fume"};
    const char *codes[] = {"eng", "deu", "fra"};
    for (int j = 0; j < 3; ++j) {
        tavik_ngram_list l{};
        EXPECT_EQ(tavik_ngram_extract(texts[j], 5, &l), TAVIK_OK);
        tavik_ngram_prune_and_rank(&l, 0, 0);
        std::vector<std::string> grams;
        for (uint64_t k = 0; k < l.count; ++k) grams.emplace_back(l.items[k].text);
        tavik_ngram_list_free(&l);
        b.lang(codes[j], grams);
    }
    return b.bytes();
}

// Library state with a loaded profile, a scored query, both documents and
// an error text: every part a failing call must leave alone.
void prepare_library(const std::string &profile) {
    tavik_free_profile();
    tavik_set_min_ngrams(1);
    ASSERT_EQ(tavik_load_profile_memory(profile.data(), profile.size()), TAVIK_OK);
    ASSERT_GE(tavik_identify("the lazy dog jumps over the fox"), TAVIK_OK);
    ASSERT_NE(std::string(tavik_result_json()), "{}");
    ASSERT_NE(std::string(tavik_explain(0)), "{}");
    tavik_set_err("before the call");
}

// ------------------------------------------------------- documents

// Whether `part` is `whole` with some members or elements left out: what a
// document that lost allocations may hold.
bool sub_document(yyjson_val *part, yyjson_val *whole) {
    if (yyjson_is_obj(part) && yyjson_is_obj(whole)) {
        yyjson_obj_iter w = yyjson_obj_iter_with(whole);
        yyjson_obj_iter p = yyjson_obj_iter_with(part);
        for (yyjson_val *pk = yyjson_obj_iter_next(&p); pk != nullptr;
             pk = yyjson_obj_iter_next(&p)) {
            yyjson_val *wk = yyjson_obj_iter_next(&w);
            while (wk != nullptr && !yyjson_equals_str(wk, yyjson_get_str(pk)))
                wk = yyjson_obj_iter_next(&w);
            if (wk == nullptr ||
                !sub_document(yyjson_obj_iter_get_val(pk), yyjson_obj_iter_get_val(wk)))
                return false;
        }
        return true;
    }
    if (yyjson_is_arr(part) && yyjson_is_arr(whole)) {
        size_t at = 0;
        const size_t n = yyjson_arr_size(whole);
        for (size_t i = 0; i < yyjson_arr_size(part); ++i) {
            while (at < n && !sub_document(yyjson_arr_get(part, i), yyjson_arr_get(whole, at)))
                ++at;
            if (at++ == n) return false;
        }
        return true;
    }
    return yyjson_equals(part, whole);
}

// A document written while allocations failed is "{}" with nothing kept, or
// valid JSON that holds a part of the full document and is kept.
void expect_partial_document(const char *got, char *kept, const std::string &full) {
    if (std::strcmp(got, "{}") == 0 && kept == nullptr) return;
    ASSERT_EQ(got, kept) << "the returned text is not the one kept";
    yyjson_doc *part = yyjson_read(got, std::strlen(got), 0);
    yyjson_doc *whole = yyjson_read(full.data(), full.size(), 0);
    ASSERT_NE(part, nullptr) << got;
    EXPECT_TRUE(sub_document(yyjson_doc_get_root(part), yyjson_doc_get_root(whole)))
        << got << "\nis not a part of\n"
        << full;
    yyjson_doc_free(part);
    yyjson_doc_free(whole);
}

// ------------------------------------------------------------------ tests

// Both ways of counting: occurrence by occurrence, and word by word (as
// long texts are counted).
TEST(FaultAlloc, NgramExtract) {
    const std::string want = ranked(kText, 7, 0, 0);
    const uint64_t long_text = tavik::count_words_from;
    for (const uint64_t words_from : {long_text, uint64_t{0}}) {
        SCOPED_TRACE(words_from == 0 ? "word by word" : "occurrence by occurrence");
        tavik::count_words_from = words_from;
        tavik_ngram_list list{};
        const long failures =
            fail_each_allocation([&] { tavik_ngram_list_free(&list); },
                                 [&] { return tavik_ngram_extract(kText, 7, &list); },
                                 [&](int32_t rc) {
                                     EXPECT_EQ(rc, TAVIK_NO_MEMORY);
                                     EXPECT_EQ(list.items, nullptr);
                                     EXPECT_EQ(list.count, 0u);
                                     EXPECT_EQ(list.capacity, 0u);
                                 },
                                 [&](int32_t rc) {
                                     ASSERT_EQ(rc, TAVIK_OK);
                                     tavik_ngram_prune_and_rank(&list, 0, 0);
                                     std::string got;
                                     for (uint64_t k = 0; k < list.count; ++k)
                                         got += std::string(list.items[k].text) + ":" +
                                                std::to_string(list.items[k].count) + " ";
                                     EXPECT_EQ(got, want);
                                     tavik_ngram_list_free(&list);
                                 });
        EXPECT_GT(failures, 0);
    }
    tavik::count_words_from = long_text;
}

// Counting under the full text model, whose normalisation of a text that
// is not NFC allocates a copy, both ways of counting.
TEST(FaultAlloc, TextModelCount) {
    const tavik::TextModel model{true, true, true};
    const std::string text = std::string(kText) + " Vie\u0323\u0302t NAM cafe\u0301";
    auto counted = [&](const tavik::StrMap &map) {
        std::string got;
        for (uint64_t k = 0; k < map.count; ++k)
            got += std::string(map.text(map.entries[k])) + ":" +
                   std::to_string(map.entries[k].count) + " ";
        return got;
    };
    tavik::StrMap map;
    ASSERT_EQ(tavik::strmap_count_model(map, text.data(), text.size(), 5, model), TAVIK_OK);
    const std::string want = counted(map);
    tavik::strmap_release(map);
    const uint64_t long_text = tavik::count_words_from;
    for (const uint64_t words_from : {long_text, uint64_t{0}}) {
        SCOPED_TRACE(words_from == 0 ? "word by word" : "occurrence by occurrence");
        tavik::count_words_from = words_from;
        const long failures = fail_each_allocation(
            [&] { tavik::strmap_release(map); },
            [&] { return tavik::strmap_count_model(map, text.data(), text.size(), 5, model); },
            [&](int32_t rc) {
                EXPECT_EQ(rc, TAVIK_NO_MEMORY);
                EXPECT_EQ(map.count, 0u);
            },
            [&](int32_t rc) {
                ASSERT_EQ(rc, TAVIK_OK);
                EXPECT_EQ(counted(map), want);
            });
        EXPECT_GT(failures, 0);
        tavik::strmap_release(map);
    }
    tavik::count_words_from = long_text;
}

// The query is released before the extraction, whatever follows: after a
// failure it is empty and not valid, the error text says "extract failed",
// and nothing else of the state moves.
TEST(FaultAlloc, Query) {
    const std::string profile = sample_profile();
    std::string before;
    const long failures = fail_each_allocation(
        [&] {
            prepare_library(profile);
            before = g_state();
        },
        [] { return tavik_extract_ngrams(kText); },
        [&](int32_t rc) {
            EXPECT_EQ(rc, TAVIK_NO_MEMORY);
            std::string want =
                with_line(before, "query ", "query " + ptr_text(nullptr) + " valid 0 [0/0]");
            EXPECT_EQ(g_state(), with_line(want, "error ", "error \"extract failed\""));
        },
        [&](int32_t rc) {
            EXPECT_EQ(rc, TAVIK_OK);
            EXPECT_EQ(query_text(),
                      ranked(kText, G.max_ngram_length, G.occurance_threshold, G.max_distribution));
        });
    EXPECT_GT(failures, 0);
}

// A failed load keeps the loaded profile, its settings and everything
// derived from queries; only the error text changes.
TEST(FaultAlloc, LoadProfile) {
    const std::string old_profile = sample_profile(5, 4000, 0);
    const std::string new_profile = sample_profile(3, 250, 2);
    TempDir tmp;
    const std::string path = tmp.file("p.tavik");
    write_file(path, new_profile);
    const struct {
        const char *name, *error;
        std::function<int32_t()> load;
    } loaders[] = {
        {"from memory", "bad profile memory",
         [&] { return tavik_load_profile_memory(new_profile.data(), new_profile.size()); }},
        {"from a path", "bad profile file", [&] { return tavik_load_profile(path.c_str()); }},
    };
    for (const auto &l : loaders) {
        SCOPED_TRACE(l.name);
        std::string before;
        const long failures = fail_each_allocation(
            [&] {
                prepare_library(old_profile);
                before = g_state();
            },
            l.load,
            [&](int32_t rc) {
                EXPECT_EQ(rc, TAVIK_NO_MEMORY);
                EXPECT_EQ(g_state(),
                          with_line(before, "error ", "error \"" + std::string(l.error) + "\""));
            },
            [&](int32_t rc) {
                ASSERT_EQ(rc, TAVIK_OK);
                EXPECT_EQ(tavik_profile_language_count(), 3);
                EXPECT_STREQ(tavik_profile_meta("source"), "fault test");
                EXPECT_EQ(G.max_ngram_length, 3);
                EXPECT_EQ(G.max_distribution, 250);
                EXPECT_EQ(G.occurance_threshold, 2);
                EXPECT_STREQ(tavik_last_error(), "");
            });
        EXPECT_GT(failures, 0);
    }
}

// The module's readers: the result location stays unwritten.
TEST(FaultAlloc, ProfileReaders) {
    const std::string blob = sample_profile();
    TempDir tmp;
    const std::string path = tmp.file("p.tavik");
    write_file(path, blob);
    tavik_profile marker{};
    tavik_profile *out = &marker;
    const std::function<int32_t()> readers[] = {
        [&] { return tavik_profile_load(blob.data(), blob.size(), &out); },
        [&] { return tavik_profile_load_path(path.c_str(), &out); },
    };
    for (const auto &read : readers) {
        const long failures = fail_each_allocation(
            [&] { out = &marker; }, read,
            [&](int32_t rc) {
                EXPECT_EQ(rc, TAVIK_NO_MEMORY);
                EXPECT_EQ(out, &marker);
            },
            [&](int32_t rc) {
                ASSERT_EQ(rc, TAVIK_OK);
                ASSERT_NE(out, &marker);
                EXPECT_EQ(out->lang_count, 3);
                EXPECT_EQ(
                    tavik_lang_lookup_rank(&out->langs[0], out->langs[0].ngrams.items[0].text), 1);
                tavik_profile_free(out);
                out = &marker;
            });
        EXPECT_GT(failures, 0);
    }
}

// A failed build leaves lookup_size 0 and what it allocated in the
// language, for the profile's release; lookups then answer 0.
TEST(FaultAlloc, BuildLookup) {
    tavik_lang lang{};
    ASSERT_EQ(tavik_ngram_extract("abc abd", 3, &lang.ngrams), TAVIK_OK);
    tavik_ngram_prune_and_rank(&lang.ngrams, 0, 0);
    const char *first = lang.ngrams.items[0].text;
    auto release_table = [&] {
        tavik::mem_free(static_cast<void *>(lang.lookup_keys));
        tavik::mem_free(lang.lookup_ranks);
        lang.lookup_keys = nullptr;
        lang.lookup_ranks = nullptr;
        lang.lookup_size = lang.lookup_used = 0;
    };
    const long failures = fail_each_allocation(
        release_table, [&] { return tavik_profile_build_lookup(&lang); },
        [&](int32_t rc) {
            EXPECT_EQ(rc, TAVIK_NO_MEMORY);
            EXPECT_EQ(lang.lookup_size, 0u);
            EXPECT_EQ(tavik_lang_lookup_rank(&lang, first), 0);
            release_table();
        },
        [&](int32_t rc) {
            ASSERT_EQ(rc, TAVIK_OK);
            EXPECT_EQ(tavik_lang_lookup_rank(&lang, first), 1);
            release_table();
        });
    EXPECT_GT(failures, 0);
    tavik_ngram_list_free(&lang.ngrams);
}

// Identification allocates only through its extraction: a failure is
// "extract failed" with code 7, no results, no query; the profile, the
// documents and the settings stay.
TEST(FaultAlloc, Identify) {
    const std::string profile = sample_profile();
    std::string before;
    const long failures = fail_each_allocation(
        [&] {
            prepare_library(profile);
            before = g_state();
        },
        [] { return tavik_identify(kText); },
        [&](int32_t rc) {
            EXPECT_EQ(rc, TAVIK_NO_MEMORY);
            EXPECT_EQ(G.status, TAVIK_NO_MEMORY);
            EXPECT_EQ(tavik_result_count(), 0);
            EXPECT_EQ(tavik_best_code(), nullptr);
            std::string want =
                with_line(before, "query ", "query " + ptr_text(nullptr) + " valid 0 [0/0]");
            want = with_line(want, "results ", "results 0 status 7");
            EXPECT_EQ(g_state(), with_line(want, "error ", "error \"extract failed\""));
        },
        [&](int32_t rc) {
            EXPECT_TRUE(rc == TAVIK_OK || rc == TAVIK_AMBIGUOUS) << rc;
            EXPECT_EQ(tavik_result_count(), 3);
        });
    EXPECT_GT(failures, 0);
}

// Each document: "{}" and nothing kept, or a part of the full document
// (a member that cannot be allocated is left out); nothing else changes.
TEST(FaultAlloc, Documents) {
    const std::string profile = sample_profile();
    const struct {
        const char *name;
        std::function<const char *()> make;
        char **slot;
    } docs[] = {
        {"result document", [] { return tavik_result_json(); }, &G.json},
        {"explanation", [] { return tavik_explain(1); }, &G.explain_json},
    };
    for (const auto &d : docs) {
        SCOPED_TRACE(d.name);
        prepare_library(profile);
        const std::string full = d.make();
        std::string before;
        char *other = nullptr;  // the other document, which stays
        char **other_slot = d.slot == &G.json ? &G.explain_json : &G.json;
        const long failures = fail_each_allocation(
            [&] {
                prepare_library(profile);
                before = g_state(false);
                other = *other_slot;
            },
            d.make,
            [&](const char *got) {
                expect_partial_document(got, *d.slot, full);
                EXPECT_EQ(g_state(false), before);
                EXPECT_EQ(*other_slot, other);
            },
            [&](const char *got) { EXPECT_EQ(std::string(got), full); });
        EXPECT_GT(failures, 0);
    }
}

// ------------------------------------------------------------- training

// A language "old" ended with n-grams, a language "cur" open with text, and
// two meta pairs.
void prepare_training() {
    tavik_train_reset();
    tavik_set_max_ngram_length(5);
    tavik_set_max_distribution(4000);
    tavik_set_occurance_threshold(0);
    ASSERT_EQ(tavik_train_set_meta("source", "fault"), TAVIK_OK);
    ASSERT_EQ(tavik_train_set_meta("date", "unset"), TAVIK_OK);
    ASSERT_EQ(tavik_train_begin("old"), TAVIK_OK);
    ASSERT_EQ(tavik_train_feed("the old words"), TAVIK_OK);
    ASSERT_EQ(tavik_train_end_language(), TAVIK_OK);
    ASSERT_EQ(tavik_train_begin("cur"), TAVIK_OK);
    ASSERT_EQ(tavik_train_feed(kText), TAVIK_OK);
    tavik_set_err("before the call");
}

TEST(FaultAlloc, TrainSetMeta) {
    const struct {
        const char *name, *key;
    } cases[] = {{"a new key", "licence"}, {"an existing key", "date"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string before;
        const long failures = fail_each_allocation(
            [&] {
                prepare_training();
                before = t_state();
            },
            [&] { return tavik_train_set_meta(c.key, "a value"); },
            [&](int32_t rc) {
                EXPECT_EQ(rc, TAVIK_NO_MEMORY);
                EXPECT_EQ(t_state(), before);
            },
            [&](int32_t rc) {
                EXPECT_EQ(rc, TAVIK_OK);
                EXPECT_NE(t_state().find(std::string(c.key) + "=a value"), std::string::npos);
            });
        EXPECT_GT(failures, 0);  // the value is copied either way
    }
}

// Beginning has no out-of-memory outcome: it takes a slot of the fixed
// table, and whatever allocation might fail, the language is opened.
TEST(FaultAlloc, TrainBegin) {
    // After a failing run the call is made once more, opening one more.
    auto opened = [](int32_t rc) {
        EXPECT_EQ(rc, TAVIK_OK);
        ASSERT_GE(T.lang_count, 3);
        EXPECT_EQ(T.current, T.lang_count - 1);
        EXPECT_STREQ(T.langs[T.current].code, "new");
    };
    fail_each_allocation(
        prepare_training, [] { return tavik_train_begin("new"); }, opened, opened);
}

// Growth of the collected text: the first buffer of a language, and a
// buffer that has to grow (the text fed is longer than the buffer holds);
// the earlier text stays either way.
TEST(FaultAlloc, TrainFeed) {
    std::string big;
    const struct {
        const char *name;
        bool fresh_language;
    } cases[] = {{"first text of a language", true}, {"text that grows the buffer", false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string before;
        const long failures = fail_each_allocation(
            [&] {
                prepare_training();
                if (c.fresh_language) {
                    ASSERT_EQ(tavik_train_begin("new"), TAVIK_OK);
                }
                const uint64_t room = T.langs[T.current].text_cap;
                big.assign(std::max<uint64_t>(room + 1, 20000), 'x');
                before = t_state();
            },
            [&] { return tavik_train_feed(big.c_str()); },
            [&](int32_t rc) {
                EXPECT_EQ(rc, TAVIK_NO_MEMORY);
                EXPECT_EQ(t_state(), before);
            },
            [&](int32_t rc) {
                EXPECT_EQ(rc, TAVIK_OK);
                const tavik_train_lang &l = T.langs[T.current];
                EXPECT_TRUE(std::string(l.text, l.text_len).ends_with(big + "\n"));
            });
        EXPECT_GT(failures, 0);
    }
}

// A failed end keeps the language open with its text and an empty list.
TEST(FaultAlloc, TrainEndLanguage) {
    const std::string want = ranked((std::string(kText) + "\n").c_str(), 5, 0, 4000);
    std::string before;
    const long failures = fail_each_allocation(
        [&] {
            prepare_training();
            before = t_state();
        },
        [] { return tavik_train_end_language(); },
        [&](int32_t rc) {
            EXPECT_EQ(rc, TAVIK_NO_MEMORY);
            EXPECT_EQ(t_state(), before);
        },
        [&](int32_t rc) {
            ASSERT_EQ(rc, TAVIK_OK);
            EXPECT_EQ(T.current, -1);
            const tavik_train_lang &l = T.langs[1];
            EXPECT_EQ(l.text, nullptr);
            std::string got;
            for (uint64_t k = 0; k < l.ngrams.count; ++k)
                got += std::string(l.ngrams.items[k].text) + ":" +
                       std::to_string(l.ngrams.items[k].count) + " ";
            EXPECT_EQ(got, want);
        });
    EXPECT_GT(failures, 0);
}

// Writing first ends the open language: a failure there is its code with
// nothing written and the language still open.  A failure in the writer
// itself means the file cannot be made: TAVIK_INVALID, the language has
// been ended, and the file already at the path stays as it was, with no
// temporary file left beside it.
TEST(FaultAlloc, TrainWriteProfile) {
    TempDir tmp;
    const std::string path = tmp.file("out.tavik");
    const std::string kOld = "the profile written before";

    // The allocations that ending the open language makes come first.
    prepare_training();
    tavik_fault_fail_at(-1);  // counts, fails nothing
    ASSERT_EQ(tavik_train_end_language(), TAVIK_OK);
    const long ending = tavik_fault_allocations();
    tavik_fault_fail_at(0);
    ASSERT_GT(ending, 0);

    std::string before, ended;
    long n = 0;
    auto listing = [&] {
        std::vector<std::string> names;
        for (const auto &e : std::filesystem::directory_iterator(tmp.path()))
            names.push_back(e.path().filename().string());
        return names;
    };
    const long failures = fail_each_allocation(
        [&] {
            ++n;
            prepare_training();
            ASSERT_EQ(tavik_train_end_language(), TAVIK_OK);
            ended = t_state(false);
            prepare_training();
            before = t_state();
            write_file(path, kOld);
        },
        [&] { return tavik_train_write_profile(path.c_str()); },
        [&](int32_t rc) {
            if (n <= ending) {
                EXPECT_EQ(rc, TAVIK_NO_MEMORY);
                EXPECT_EQ(t_state(), before);
            } else {
                EXPECT_EQ(rc, TAVIK_INVALID);
                EXPECT_EQ(t_state(false), ended);
            }
            EXPECT_EQ(read_file(path), kOld);
            EXPECT_EQ(listing(), std::vector<std::string>{"out.tavik"});
        },
        [&](int32_t rc) {
            ASSERT_EQ(rc, TAVIK_OK);
            EXPECT_EQ(listing(), std::vector<std::string>{"out.tavik"});
            tavik_profile *p = nullptr;
            ASSERT_EQ(tavik_profile_load_path(path.c_str(), &p), TAVIK_OK);
            EXPECT_EQ(p->lang_count, 2);
            EXPECT_EQ(p->meta_count, 2);
            EXPECT_EQ(p->langs[1].ngrams.count, T.langs[1].ngrams.count);
            tavik_profile_free(p);
        });
    EXPECT_GE(failures, ending);  // every allocation of the ending failed once
    tavik_train_reset();
}

}  // namespace

// ------------------------------------------------------ models and sessions

namespace {

// A session's record as g_state writes G's, with its model's count and
// its candidates.
std::string s_state(const tavik_session *s, bool docs = true) {
    const tavik_state &st = s->st;
    std::string t = "model " + ptr_text(s->model) + " refs " +
                    std::to_string(s->model->refs.load()) + " candidates " +
                    std::to_string(s->only.count);
    t += "\nsettings " + std::to_string(st.min_ngrams) + " " + std::to_string(st.min_margin) + " " +
         std::to_string(st.size_penalty) + " " + std::to_string(st.max_ngram_length) + " " +
         std::to_string(st.max_distribution) + " " + std::to_string(st.occurance_threshold);
    t += "\nquery " + ptr_text(st.query.items) + " valid " + std::to_string(st.query_valid) + " " +
         list_text(st.query);
    t += "\nresults " + std::to_string(st.result_count) + " status " + std::to_string(st.status);
    for (int32_t i = 0; i < st.result_count; ++i)
        t += " " + std::string(st.results[i].code) + ":" + std::to_string(st.results[i].distance) +
             ":" + std::to_string(st.results[i].confidence);
    t += "\nerror \"" + std::string(st.error) + "\"";
    if (docs) t += "\njson " + ptr_text(st.json) + " explain " + ptr_text(st.explain_json);
    return t;
}

// A model of sample_profile() and a session on it, released at the end.
struct SessionFixture {
    std::string profile = sample_profile();
    tavik_model *model = nullptr;
    tavik_session *session = nullptr;
    SessionFixture() {
        EXPECT_EQ(tavik_model_open_memory(profile.data(), profile.size(), &model), TAVIK_OK);
        EXPECT_EQ(tavik_session_new(model, &session), TAVIK_OK);
    }
    ~SessionFixture() {
        tavik_session_free(session);
        tavik_model_free(model);
    }
    SessionFixture(const SessionFixture &) = delete;
    SessionFixture &operator=(const SessionFixture &) = delete;

    // A scored query, both documents, two candidates and an error text:
    // every part a failing call must leave alone.
    void prepare() {
        tavik_session_set_min_ngrams(session, 1);
        ASSERT_EQ(tavik_session_set_candidates(session, "eng,fra"), TAVIK_OK);
        const std::string text = "the lazy dog jumps over the fox";
        ASSERT_GE(tavik_session_identify(session, text.data(), text.size()), TAVIK_OK);
        ASSERT_NE(std::string(tavik_session_result_json(session)), "{}");
        ASSERT_NE(std::string(tavik_session_explain(session, 0)), "{}");
        ASSERT_EQ(tavik_session_set_candidates(session, "xyz"), TAVIK_INVALID);
    }
};

}  // namespace

namespace {

// Opening `blob` from memory and from a file fails cleanly at every
// allocation (nothing kept, *out nullptr), and gives a model of `langs`
// languages whose source is `source` otherwise; at least `least`
// allocations are tried.
void expect_open_survives_each_failure(const std::string &blob, int32_t langs, const char *source,
                                       long least) {
    TempDir tmp;
    const std::string path = tmp.file("m.tavik");
    write_file(path, blob);
    tavik_model *out = nullptr;
    const std::function<int32_t()> openers[] = {
        [&] { return tavik_model_open_memory(blob.data(), blob.size(), &out); },
        [&] { return tavik_model_open(path.c_str(), &out); },
    };
    for (const auto &open : openers) {
        const long failures =
            fail_each_allocation([&] { out = reinterpret_cast<tavik_model *>(&out); }, open,
                                 [&](int32_t rc) {
                                     EXPECT_EQ(rc, TAVIK_NO_MEMORY);
                                     EXPECT_EQ(out, nullptr);
                                 },
                                 [&](int32_t rc) {
                                     ASSERT_EQ(rc, TAVIK_OK);
                                     EXPECT_EQ(tavik_model_language_count(out), langs);
                                     EXPECT_STREQ(tavik_model_meta(out, "source"), source);
                                     tavik_model_free(out);
                                     out = nullptr;
                                 });
        EXPECT_GT(failures, least);
    }
}

}  // namespace

// A model is whole or not there: `*out` is NULL after a failure.
TEST(FaultAlloc, ModelOpen) {
    // The reader's, the index's and the model's own allocations; with
    // relatives, their tables too.
    for (const bool relatives : {false, true}) {
        SCOPED_TRACE(relatives ? "relatives" : "plain");
        expect_open_survives_each_failure(sample_profile(4, 300, 1, relatives), 3, "fault test",
                                          15);
    }
}

// A session that cannot be made takes no reference to its model.
TEST(FaultAlloc, SessionNew) {
    SessionFixture f;
    tavik_session *out = nullptr;
    const long failures = fail_each_allocation(
        [&] { out = reinterpret_cast<tavik_session *>(&out); },
        [&] { return tavik_session_new(f.model, &out); },
        [&](int32_t rc) {
            EXPECT_EQ(rc, TAVIK_NO_MEMORY);
            EXPECT_EQ(out, nullptr);
            EXPECT_EQ(f.model->refs.load(), 2);  // the caller's and the fixture's session
        },
        [&](int32_t rc) {
            ASSERT_EQ(rc, TAVIK_OK);
            EXPECT_EQ(f.model->refs.load(), 3);
            tavik_session_free(out);
            out = nullptr;
        });
    EXPECT_EQ(failures, 1);
}

// As the designed identification: "extract failed", status 7, no results,
// no query; the documents, settings, candidates and model stay.
TEST(FaultAlloc, SessionIdentify) {
    SessionFixture f;
    std::string before;
    const long failures = fail_each_allocation(
        [&] {
            f.prepare();
            before = s_state(f.session);
        },
        [&] { return tavik_session_identify(f.session, kText, std::strlen(kText)); },
        [&](int32_t rc) {
            EXPECT_EQ(rc, TAVIK_NO_MEMORY);
            EXPECT_EQ(tavik_session_status(f.session), TAVIK_NO_MEMORY);
            EXPECT_EQ(tavik_session_best_code(f.session), nullptr);
            std::string want =
                with_line(before, "query ", "query " + ptr_text(nullptr) + " valid 0 [0/0]");
            want = with_line(want, "results ", "results 0 status 7");
            EXPECT_EQ(s_state(f.session), with_line(want, "error ", "error \"extract failed\""));
        },
        [&](int32_t rc) {
            EXPECT_TRUE(rc == TAVIK_OK || rc == TAVIK_AMBIGUOUS) << rc;
            EXPECT_EQ(tavik_session_result_count(f.session), 2);
        });
    EXPECT_GT(failures, 0);
}

// Candidates live in the session's fixed table: nothing to fail.
TEST(FaultAlloc, SessionSetCandidates) {
    SessionFixture f;
    const long failures = fail_each_allocation(
        [&] { f.prepare(); }, [&] { return tavik_session_set_candidates(f.session, "deu,fra"); },
        [](int32_t rc) { EXPECT_EQ(rc, TAVIK_NO_MEMORY); },
        [&](int32_t rc) {
            EXPECT_EQ(rc, TAVIK_OK);
            EXPECT_EQ(tavik_session_language_count(f.session), 2);
        });
    EXPECT_EQ(failures, 0);
}

TEST(FaultAlloc, SessionDocuments) {
    SessionFixture f;
    const struct {
        const char *name;
        std::function<const char *()> make;
        char **slot;
    } docs[] = {
        {"result document", [&] { return tavik_session_result_json(f.session); },
         &f.session->st.json},
        {"explanation", [&] { return tavik_session_explain(f.session, 1); },
         &f.session->st.explain_json},
    };
    for (const auto &d : docs) {
        SCOPED_TRACE(d.name);
        f.prepare();
        const std::string full = d.make();
        std::string before;
        char *other = nullptr;
        char **other_slot =
            d.slot == &f.session->st.json ? &f.session->st.explain_json : &f.session->st.json;
        const long failures = fail_each_allocation(
            [&] {
                f.prepare();
                before = s_state(f.session, false);
                other = *other_slot;
            },
            d.make,
            [&](const char *got) {
                expect_partial_document(got, *d.slot, full);
                EXPECT_EQ(s_state(f.session, false), before);
                EXPECT_EQ(*other_slot, other);
            },
            [&](const char *got) { EXPECT_EQ(std::string(got), full); });
        EXPECT_GT(failures, 0);
    }
}

// A batch that cannot have its results' storage writes no outcome and
// leaves the session as it was; a text whose counting runs out of memory
// fails in its own outcome ("extract failed", as alone), and the others
// are still answered in full.
TEST(FaultAlloc, SessionBatch) {
    SessionFixture f;
    const std::string texts[] = {kText, "the lazy dog", kText + std::string(" and more words")};
    const char *ptrs[] = {texts[0].c_str(), texts[1].c_str(), texts[2].c_str()};
    const uint64_t lengths[] = {texts[0].size(), texts[1].size(), texts[2].size()};
    const auto text_of = [](const tavik_outcome &o) {
        std::string t = std::to_string(o.status) + " " + std::to_string(o.ngram_count) + " " +
                        o.language + " " + std::to_string(o.result_count);
        for (int32_t i = 0; i < o.result_count; ++i)
            t += std::string(" ") + o.results[i].code + ":" + std::to_string(o.results[i].distance);
        return t;
    };
    std::vector<std::string> want;
    {
        tavik_session *fresh = nullptr;
        ASSERT_EQ(tavik_session_new(f.model, &fresh), TAVIK_OK);
        tavik_session_set_min_ngrams(fresh, 1);
        ASSERT_EQ(tavik_session_set_candidates(fresh, "eng,fra"), TAVIK_OK);
        tavik_outcome o[3];
        ASSERT_EQ(tavik_session_identify_batch(fresh, ptrs, lengths, 3, o), TAVIK_OK);
        for (const tavik_outcome &one : o) want.push_back(text_of(one));
        tavik_session_free(fresh);
    }
    std::string before;
    tavik_outcome got[3];
    const long failures = fail_each_allocation(
        [&] {
            // A new session each round: a used one has all its storage.
            tavik_session_free(f.session);
            ASSERT_EQ(tavik_session_new(f.model, &f.session), TAVIK_OK);
            f.prepare();
            before = s_state(f.session);
            std::memset(got, 0x5A, sizeof got);
        },
        [&] { return tavik_session_identify_batch(f.session, ptrs, lengths, 3, got); },
        [&](int32_t rc) {
            if (rc == TAVIK_NO_MEMORY) {
                EXPECT_EQ(s_state(f.session), before);
                const auto *bytes = reinterpret_cast<const unsigned char *>(got);
                for (size_t i = 0; i < sizeof got; ++i) ASSERT_EQ(bytes[i], 0x5A);
                return;
            }
            ASSERT_EQ(rc, TAVIK_OK);
            int failed = 0;
            for (size_t k = 0; k < 3; ++k) {
                if (got[k].status != TAVIK_NO_MEMORY) {
                    EXPECT_EQ(text_of(got[k]), want[k]) << k;
                    continue;
                }
                ++failed;
                EXPECT_EQ(got[k].result_count, 0);
                EXPECT_EQ(got[k].results, nullptr);
                EXPECT_EQ(got[k].ngram_count, 0);
            }
            EXPECT_EQ(failed, 1);
        },
        [&](int32_t rc) {
            ASSERT_EQ(rc, TAVIK_OK);
            for (size_t k = 0; k < 3; ++k) EXPECT_EQ(text_of(got[k]), want[k]) << k;
        });
    EXPECT_GT(failures, 1);
}

// ----------------------------------------------------------------- bundles

namespace {

// Two members of sample_profile() and one direct script.
std::string sample_bundle(bool compress) {
    tavik::BundleContents contents;
    contents.meta = {{"source", "bundle fault test"}};
    contents.members.push_back({{"Latin", "Cyrillic"}, sample_profile()});
    contents.members.push_back({{"Greek"}, sample_profile(5, 400, 0)});
    contents.direct = {{"Hebrew", "heb"}};
    std::string out, error;
    EXPECT_TRUE(tavik::model_file_write(contents, compress, &out, &error)) << error;
    return out;
}

}  // namespace

// A bundle is whole or not there, compressed or not, from memory or a path.
TEST(FaultAlloc, BundleOpen) {
    // Both members' shells and kept bytes, and the routing.
    for (const bool compress : {false, true}) {
        SCOPED_TRACE(compress ? "compressed" : "plain");
        expect_open_survives_each_failure(sample_bundle(compress), 7, "bundle fault test", 10);
    }
}

// A member is indexed by the first text routed to it: when that runs out
// of memory the text fails cleanly, the member stays unbuilt, and the next
// text builds it.
TEST(FaultAlloc, BundleMemberOpensOnFirstText) {
    const std::string blob = sample_bundle(true);
    tavik_model *model = nullptr;
    tavik_session *s = nullptr;
    const auto close = [&] {
        tavik_session_free(s);
        tavik_model_free(model);
        s = nullptr;
        model = nullptr;
    };
    const long failures = fail_each_allocation(
        [&] {
            close();
            ASSERT_EQ(tavik_model_open_memory(blob.data(), blob.size(), &model), TAVIK_OK);
            ASSERT_EQ(tavik_session_new(model, &s), TAVIK_OK);
            tavik_session_set_min_ngrams(s, 1);
        },
        [&] { return tavik_session_identify(s, kText, std::strlen(kText)); },
        [&](int32_t rc) {
            EXPECT_EQ(rc, TAVIK_NO_MEMORY);
            EXPECT_EQ(tavik_session_status(s), TAVIK_NO_MEMORY);
            EXPECT_EQ(tavik_session_best_code(s), nullptr);
            EXPECT_EQ(tavik_session_ngram_count(s), 0);
            EXPECT_STREQ(tavik_session_explain(s, 0), "{}");
        },
        [&](int32_t rc) {
            EXPECT_TRUE(rc == TAVIK_OK || rc == TAVIK_AMBIGUOUS) << rc;
            EXPECT_EQ(tavik_session_result_count(s), 3);
            EXPECT_NE(std::string(tavik_session_explain(s, 0)), "{}");
        });
    EXPECT_GT(failures, 3);  // the member's lists and texts, its index, the query
    close();
}

// A session on a bundle that cannot be made takes no reference; one that
// runs out of memory while identifying fails as the designed session does.
TEST(FaultAlloc, BundleSession) {
    const std::string blob = sample_bundle(false);
    tavik_model *model = nullptr;
    ASSERT_EQ(tavik_model_open_memory(blob.data(), blob.size(), &model), TAVIK_OK);
    tavik_session *out = nullptr;
    const long made = fail_each_allocation([&] { out = reinterpret_cast<tavik_session *>(&out); },
                                           [&] { return tavik_session_new(model, &out); },
                                           [&](int32_t rc) {
                                               EXPECT_EQ(rc, TAVIK_NO_MEMORY);
                                               EXPECT_EQ(out, nullptr);
                                               EXPECT_EQ(model->refs.load(), 1);
                                           },
                                           [&](int32_t rc) {
                                               ASSERT_EQ(rc, TAVIK_OK);
                                               EXPECT_EQ(model->refs.load(), 2);
                                               tavik_session_free(out);
                                               out = nullptr;
                                           });
    EXPECT_GT(made, 1);  // the session and its routing state

    tavik_session *s = nullptr;
    ASSERT_EQ(tavik_session_new(model, &s), TAVIK_OK);
    tavik_session_set_min_ngrams(s, 1);
    const long failures =
        fail_each_allocation([&] { tavik_session_identify(s, "", 0); },
                             [&] { return tavik_session_identify(s, kText, std::strlen(kText)); },
                             [&](int32_t rc) {
                                 EXPECT_EQ(rc, TAVIK_NO_MEMORY);
                                 EXPECT_EQ(tavik_session_status(s), TAVIK_NO_MEMORY);
                                 EXPECT_STREQ(tavik_session_last_error(s), "extract failed");
                                 EXPECT_EQ(tavik_session_best_code(s), nullptr);
                                 EXPECT_EQ(tavik_session_ngram_count(s), 0);
                             },
                             [&](int32_t rc) {
                                 EXPECT_TRUE(rc == TAVIK_OK || rc == TAVIK_AMBIGUOUS) << rc;
                                 EXPECT_EQ(tavik_session_result_count(s), 3);
                                 EXPECT_STREQ(tavik_script_name(tavik_session_script(s)), "Latin");
                             });
    EXPECT_GT(failures, 0);
    tavik_session_free(s);
    tavik_model_free(model);
}
