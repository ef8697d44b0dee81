// SPDX-License-Identifier: MIT
// test_bundle.cpp - models of several members: the container's reader and
// writer, routing by dominant script, candidates across members, the
// documents, and the trainer's and the command's bundle paths.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

#include "model_file.h"
#include "tavik/tavik_api.h"
#include "tavik/tavik_session.h"
#include "testutil.h"

using namespace tavik_test;

namespace {

// ------------------------------------------------------------ fixtures

struct Sample {
    const char *code;
    const char *text;
};

// One paragraph per language, the same story told in each.
constexpr Sample kLatinEtc[] = {
    {"eng", "the weather was fine this morning and we walked along the river to the old market "
            "where people were selling fresh bread, apples and cheese. later we met our friends "
            "at the small cafe near the station and talked about books, music and the plans for "
            "the summer holidays."},
    {"deu", "das wetter war heute morgen schön und wir gingen am fluss entlang zum alten markt, "
            "wo die leute frisches brot, äpfel und käse verkauften. später trafen wir unsere "
            "freunde im kleinen café am bahnhof und sprachen über bücher, musik und die pläne "
            "für die sommerferien."},
    {"vie", "sáng nay thời tiết rất đẹp và chúng tôi đi bộ dọc theo bờ sông đến chợ cũ, nơi "
            "mọi người bán bánh mì tươi, táo và phô mai. sau đó chúng tôi gặp bạn bè ở quán cà "
            "phê nhỏ gần nhà ga và nói chuyện về sách, âm nhạc và kế hoạch cho kỳ nghỉ hè."},
    {"rus", "сегодня утром погода была хорошая, и мы пошли вдоль реки на старый рынок, где "
            "люди продавали свежий хлеб, яблоки и сыр. потом мы встретили наших друзей в "
            "маленьком кафе у вокзала и говорили о книгах, музыке и планах на летние каникулы."},
    {"ara", "كان الطقس جميلا هذا الصباح ومشينا على طول النهر إلى السوق القديم حيث كان الناس "
            "يبيعون الخبز الطازج والتفاح والجبن. بعد ذلك التقينا بأصدقائنا في المقهى الصغير "
            "قرب المحطة وتحدثنا عن الكتب والموسيقى وخطط العطلة الصيفية."},
    {"hin", "आज सुबह मौसम बहुत अच्छा था और हम नदी के किनारे पुराने बाज़ार तक गए जहाँ लोग ताज़ी "
            "रोटी, सेब और पनीर बेच रहे थे। बाद में हम स्टेशन के पास छोटे कैफ़े में अपने दोस्तों "
            "से मिले और किताबों, संगीत और गर्मी की छुट्टियों की योजनाओं के बारे में बात की।"},
};

constexpr Sample kCjk[] = {
    {"zho", "今天早上天气很好，我们沿着河边走到老市场，那里的人们在卖新鲜的面包、苹果和奶酪。"
            "后来我们在车站附近的小咖啡馆见到了朋友，谈论了书籍、音乐和暑假的计划。例如，我们"
            "想使用一种新的管理系统来安排第一次旅行，这是一个包。"},
    {"jpn", "今朝は天気がとても良かったので、私たちは川に沿って古い市場まで歩きました。そこでは"
            "人々が新しいパンやりんごやチーズを売っていました。その後、駅の近くの小さな喫茶店で"
            "友達に会って、本や音楽や夏休みの計画について話しました。"},
};

// The bundle's direct scripts: only one language of the model writes each.
const std::vector<std::pair<std::string, std::string>> kDirect = {
    {"Hebrew", "heb"}, {"Thai", "tha"}, {"Greek", "ell"}};

// A profile trained from `samples` with the Unicode text model (letters
// of every script, folded case, NFC), as profile file bytes.
// `extra`: further meta pairs (a calibration).
std::string train_member(const Sample *samples, size_t count, const MetaPairs &extra = {}) {
    TempDir dir;
    const std::string path = dir.file("member.tavik");
    tavik_train_reset();
    tavik_set_max_ngram_length(5);
    tavik_set_max_distribution(4000);
    tavik_set_occurance_threshold(0);
    EXPECT_EQ(tavik_train_set_meta("tavik.letters", "unicode"), TAVIK_OK);
    EXPECT_EQ(tavik_train_set_meta("tavik.case", "fold"), TAVIK_OK);
    EXPECT_EQ(tavik_train_set_meta("tavik.normalize", "nfc"), TAVIK_OK);
    for (const auto &[key, value] : extra)
        EXPECT_EQ(tavik_train_set_meta(key.c_str(), value.c_str()), TAVIK_OK) << key;
    for (size_t k = 0; k < count; ++k) {
        EXPECT_EQ(tavik_train_begin(samples[k].code), TAVIK_OK);
        EXPECT_EQ(tavik_train_feed(samples[k].text), TAVIK_OK);
        EXPECT_EQ(tavik_train_end_language(), TAVIK_OK);
    }
    EXPECT_EQ(tavik_train_write_profile(path.c_str()), TAVIK_OK);
    tavik_train_reset();
    return read_file(path);
}

tavik::BundleContents world_spec() {
    tavik::BundleContents contents;
    contents.meta = {{"licence", "CC0-1.0"}, {"source", "test fixtures"}};
    contents.members.push_back({{"Latin", "Cyrillic", "Arabic", "Devanagari"},
                                train_member(kLatinEtc, std::size(kLatinEtc))});
    contents.members.push_back({{"Han", "Japanese"}, train_member(kCjk, std::size(kCjk))});
    contents.direct = kDirect;
    return contents;
}

std::string bundle_bytes(const tavik::BundleContents &contents, bool compress = false) {
    std::string bytes, error;
    EXPECT_TRUE(tavik::model_file_write(contents, compress, &bytes, &error)) << error;
    return bytes;
}

// The bundle trained once for the whole program.
const std::string &world() {
    static const std::string bytes = bundle_bytes(world_spec());
    return bytes;
}

std::string script_of(const tavik_session *s) {
    const char *name = tavik_script_name(tavik_session_script(s));
    return name != nullptr ? name : "-";
}

bool has(const std::string &doc, const std::string &part) {
    return doc.find(part) != std::string::npos;
}

// ------------------------------------------------------------- routing

struct Query {
    const char *what;
    std::string text;
    int32_t status;
    const char *code;  // best code, or nullptr
    const char *script;
    const char *route;  // the result document's "route"
};

const Query kQueries[] = {
    {"English",
     "my friends and I walked to the market near the river and talked about music "
     "and books for the summer",
     TAVIK_OK, "eng", "Latin", "member"},
    {"upper case",
     "THE WEATHER WAS FINE AND WE WALKED ALONG THE RIVER TO THE OLD MARKET WITH "
     "OUR FRIENDS",
     TAVIK_OK, "eng", "Latin", "member"},
    {"German",
     "wir trafen unsere freunde am fluss und sprachen über musik und bücher für den "
     "sommer",
     TAVIK_OK, "deu", "Latin", "member"},
    {"Vietnamese",
     "chúng tôi gặp bạn bè ở chợ gần bờ sông và nói chuyện về âm nhạc và sách "
     "cho mùa hè",
     TAVIK_OK, "vie", "Latin", "member"},
    {"Russian", "мы встретили друзей на рынке у реки и говорили о музыке и книгах на лето",
     TAVIK_OK, "rus", "Cyrillic", "member"},
    {"Arabic", "التقينا بأصدقائنا في السوق قرب النهر وتحدثنا عن الموسيقى والكتب في الصيف", TAVIK_OK,
     "ara", "Arabic", "member"},
    {"Hindi", "हम नदी के पास बाज़ार में अपने दोस्तों से मिले और संगीत और किताबों के बारे में बात की", TAVIK_OK,
     "hin", "Devanagari", "member"},
    {"Japanese", "私たちは駅の近くの喫茶店で友達に会って、音楽や本について話しました", TAVIK_OK,
     "jpn", "Japanese", "member"},
    {"Chinese with Latin words",
     "例如，Debian 是第一种使用包管理系统的 Linux 发行版，我们在车站附近", TAVIK_OK, "zho", "Han",
     "member"},
    {"Hebrew", "שלום עולם, זהו משפט קצר בעברית", TAVIK_OK, "heb", "Hebrew", "script"},
    {"Thai", "ภาษาไทยเป็นภาษาที่สวยงาม", TAVIK_OK, "tha", "Thai", "script"},
    {"Hebrew with a Latin word", "אני אוהב את Linux מאוד מאוד", TAVIK_OK, "heb", "Hebrew",
     "script"},
    {"English with a Hebrew word",
     "we talked about the word שלום with our friends at the small "
     "cafe near the station",
     TAVIK_OK, "eng", "Latin", "member"},
    {"Georgian", "ქართული ენა ძალიან ლამაზია", TAVIK_UNSUPPORTED_SCRIPT, nullptr, "Georgian",
     "none"},
    {"no letters", "12345 67890 !!!", TAVIK_TOO_FEW_NGRAMS, nullptr, "-", "member"},
};

TEST(Bundle, RoutesEachTextByItsDominantScript) {
    Opened o(world());
    ASSERT_NE(o.session, nullptr);
    for (const Query &q : kQueries) {
        SCOPED_TRACE(q.what);
        EXPECT_EQ(o.identify(q.text), q.status) << tavik_session_last_error(o.session);
        EXPECT_EQ(tavik_session_status(o.session), q.status);
        if (q.code != nullptr)
            EXPECT_STREQ(tavik_session_best_code(o.session), q.code);
        else
            EXPECT_EQ(tavik_session_best_code(o.session), nullptr);
        EXPECT_EQ(script_of(o.session), q.script);
        const std::string doc = tavik_session_result_json(o.session);
        EXPECT_TRUE(has(doc, std::string("\"route\":\"") + q.route + "\"")) << doc;
    }
}

TEST(Bundle, OutcomesOfScriptsAndOfNone) {
    Opened o(world());
    ASSERT_NE(o.session, nullptr);
    // A script that names its language: one result, no n-grams, and both
    // documents say that the script decided.
    ASSERT_EQ(o.identify("שלום עולם"), TAVIK_OK);
    EXPECT_EQ(tavik_session_result_count(o.session), 1);
    EXPECT_EQ(tavik_session_result_distance(o.session, 0), 0.0);
    EXPECT_EQ(tavik_session_result_confidence(o.session, 0), 1.0);
    EXPECT_EQ(tavik_session_ngram_count(o.session), 0);
    EXPECT_STREQ(tavik_session_last_error(o.session), "");
    EXPECT_STREQ(
        tavik_session_result_json(o.session),
        "{\"status\":0,\"best\":\"heb\",\"ngrams\":0,\"results\":[{\"code\":\"heb\","
        "\"distance\":0.0,\"confidence\":1.0}],\"script\":\"Hebrew\",\"route\":\"script\"}");
    const int32_t heb = 8;  // the members' eight languages come first
    ASSERT_STREQ(tavik_session_language_code(o.session, heb), "heb");
    EXPECT_STREQ(tavik_session_explain(o.session, heb),
                 "{\"code\":\"heb\",\"distance\":0.0,\"ngrams\":[],\"script\":\"Hebrew\","
                 "\"route\":\"script\"}");
    EXPECT_STREQ(tavik_session_explain(o.session, 0), "{}");  // eng: not this text's member

    // No member serves the script: no result, the script named.
    ASSERT_EQ(o.identify("ქართული ენა"), TAVIK_UNSUPPORTED_SCRIPT);
    EXPECT_STREQ(tavik_session_last_error(o.session), "unsupported script");
    EXPECT_EQ(tavik_session_result_count(o.session), 0);
    EXPECT_STREQ(tavik_session_result_json(o.session),
                 "{\"status\":8,\"best\":\"\",\"ngrams\":0,\"results\":[],\"script\":"
                 "\"Georgian\",\"route\":\"none\"}");
    EXPECT_STREQ(tavik_session_explain(o.session, heb), "{}");

    // A member's text: its explanation has the member's query.
    ASSERT_EQ(o.identify(kQueries[0].text), TAVIK_OK);
    const std::string doc = tavik_session_result_json(o.session);
    EXPECT_TRUE(has(doc, "\"script\":\"Latin\",\"route\":\"member\",\"member\":0}")) << doc;
    EXPECT_TRUE(has(tavik_session_explain(o.session, 0), "\"query_rank\":1"));
    EXPECT_STREQ(tavik_session_explain(o.session, 6), "{}");  // zho, in the other member
}

// A batch routes each text by its own script: members, direct languages,
// unsupported scripts and texts without letters side by side, also with
// candidates that leave a member and a direct language out.
TEST(Bundle, BatchOutcomesAreThoseOfTextsAlone) {
    std::vector<BatchText> texts;
    for (const Query &q : kQueries) texts.push_back(BatchText{q.text});
    texts.push_back(BatchText{"ok"});  // too few n-grams in the Latin member
    texts.push_back(BatchText{"", true, 4});
    for (const char *candidates : {"", "eng,deu,rus,heb", "zho,jpn"}) {
        SCOPED_TRACE(candidates);
        Opened batch(world()), alone(world());
        for (tavik_session *s : {batch.session, alone.session}) {
            ASSERT_EQ(tavik_session_set_candidates(s, candidates), TAVIK_OK);
            tavik_session_set_min_ngrams(s, 20);
        }
        expect_batch_as_alone(batch.session, alone.session, texts);
    }
}

TEST(Bundle, LanguagesAndCandidatesSpanTheMembers) {
    Opened o(world());
    ASSERT_NE(o.session, nullptr);
    const std::vector<std::string> all = {"eng", "deu", "vie", "rus", "ara", "hin",
                                          "zho", "jpn", "heb", "tha", "ell"};
    ASSERT_EQ(tavik_model_language_count(o.model), static_cast<int32_t>(all.size()));
    ASSERT_EQ(tavik_session_language_count(o.session), static_cast<int32_t>(all.size()));
    for (size_t k = 0; k < all.size(); ++k) {
        EXPECT_STREQ(tavik_model_language_code(o.model, static_cast<int32_t>(k)), all[k].c_str());
        EXPECT_STREQ(tavik_session_language_code(o.session, static_cast<int32_t>(k)),
                     all[k].c_str());
    }
    EXPECT_EQ(tavik_model_language_code(o.model, static_cast<int32_t>(all.size())), nullptr);
    EXPECT_STREQ(tavik_model_meta(o.model, "licence"), "CC0-1.0");        // the bundle's own
    EXPECT_STREQ(tavik_model_meta(o.model, "tavik.letters"), "unicode");  // the first member's
    EXPECT_STREQ(tavik_model_id(o.model), "tavik-bundle-v1-M2-L11");

    ASSERT_EQ(tavik_session_set_candidates(o.session, "jpn,heb"), TAVIK_OK);
    EXPECT_EQ(tavik_session_language_count(o.session), 2);
    EXPECT_STREQ(tavik_session_language_code(o.session, 0), "jpn");
    EXPECT_STREQ(tavik_session_language_code(o.session, 1), "heb");
    // The Latin member has no candidate left: its scripts are served by no one.
    EXPECT_EQ(o.identify(kQueries[0].text), TAVIK_UNSUPPORTED_SCRIPT);
    EXPECT_EQ(o.identify("שלום עולם"), TAVIK_OK);
    EXPECT_EQ(o.identify("ภาษาไทย"), TAVIK_UNSUPPORTED_SCRIPT);
    // A Chinese text goes to the CJK member and gets its one candidate.
    EXPECT_EQ(o.identify(kQueries[8].text), TAVIK_OK);
    EXPECT_STREQ(tavik_session_best_code(o.session), "jpn");
    EXPECT_EQ(tavik_session_result_count(o.session), 1);

    const struct {
        const char *codes;
        const char *error;
    } refused[] = {{"jpn,xyz", "unknown language code 'xyz'"},
                   {"heb,heb", "repeated language code 'heb'"},
                   {"eng,", "unknown language code ''"}};
    for (const auto &r : refused) {
        EXPECT_EQ(tavik_session_set_candidates(o.session, r.codes), TAVIK_INVALID) << r.codes;
        EXPECT_STREQ(tavik_session_last_error(o.session), r.error);
    }
    EXPECT_EQ(tavik_session_language_count(o.session), 2);  // the candidates before stay
    ASSERT_EQ(tavik_session_set_candidates(o.session, nullptr), TAVIK_OK);
    EXPECT_EQ(o.identify(kQueries[0].text), TAVIK_OK);
    EXPECT_STREQ(tavik_session_best_code(o.session), "eng");
}

// ---------------------------------------------------------- calibration

// Each answer carries the probability of the member that gave it, with
// that member's reliable mark; a script that decides alone is certain in a
// calibrated bundle; nothing is reported where nothing was calibrated.
TEST(Bundle, EachAnswerCarriesItsMembersCalibration) {
    // Constant weights: the probability names the member that answered.
    const MetaPairs sure = {{"tavik.calibration", "logistic-v1 3 0 0 0 0 0 0 0 0"}};  // 0.953
    const MetaPairs doubtful = {{"tavik.calibration", "logistic-v1 -3 0 0 0 0 0 0 0 0"},
                                {"tavik.reliable", "0.01"}};  // 0.047, yet reliable
    const double p_sure = 1.0 / (1.0 + std::exp(-3.0));
    const double p_doubtful = 1.0 / (1.0 + std::exp(3.0));
    const auto bundle = [](const MetaPairs &latin, const MetaPairs &cjk) {
        tavik::BundleContents c = world_spec();
        c.members[0].profile = train_member(kLatinEtc, std::size(kLatinEtc), latin);
        c.members[1].profile = train_member(kCjk, std::size(kCjk), cjk);
        return bundle_bytes(c);
    };
    struct Case {
        const char *what;
        std::string text;
        int32_t status;
        double both, latin_only, none;  // probability per bundle; -1: none
    } const cases[] = {
        {"Latin member", kQueries[0].text, TAVIK_OK, p_sure, p_sure, -1},
        {"CJK member", kQueries[7].text, TAVIK_OK, p_doubtful, -1, -1},
        // Too short: scored by the member the text went to, not the first.
        {"short CJK text", "友達", TAVIK_TOO_FEW_NGRAMS, p_doubtful, -1, -1},
        {"short Latin text", "hello", TAVIK_TOO_FEW_NGRAMS, p_sure, p_sure, -1},
        {"direct script", "שלום עולם", TAVIK_OK, 1.0, 1.0, -1},
        {"unserved script", "ქართული ენა", TAVIK_UNSUPPORTED_SCRIPT, -1, -1, -1},
        {"no letters", "12345 !!", TAVIK_TOO_FEW_NGRAMS, -1, -1, -1},
    };
    Opened both(bundle(sure, doubtful)), latin_only(bundle(sure, {})), none(world());
    ASSERT_NE(both.session, nullptr);
    ASSERT_NE(latin_only.session, nullptr);
    ASSERT_NE(none.session, nullptr);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::pair<Opened *, double> runs[] = {
            {&both, c.both}, {&latin_only, c.latin_only}, {&none, c.none}};
        for (const auto &[o, want] : runs) {
            ASSERT_EQ(o->identify(c.text), c.status);
            EXPECT_NEAR(tavik_session_probability(o->session), want, 1e-12);
            EXPECT_EQ(tavik_session_reliable(o->session), want >= 0.0 ? 1 : 0);
        }
        // The designed outcome does not depend on the calibration.
        EXPECT_STREQ(tavik_session_result_json(both.session),
                     tavik_session_result_json(none.session));
    }
    // A refused text after an answer leaves no probability behind.
    ASSERT_EQ(both.identify(kQueries[0].text), TAVIK_OK);
    EXPECT_EQ(tavik_session_identify(both.session, nullptr, 3), TAVIK_INVALID);
    EXPECT_EQ(tavik_session_probability(both.session), -1.0);
}

// A plain profile is a model of one member serving every script: no
// routing keys in its documents, and the designed outcome for any script.
TEST(Bundle, PlainProfileIsOneMemberForEveryScript) {
    const std::string profile = world_spec().members[0].profile;
    Opened o(profile);
    ASSERT_NE(o.session, nullptr);
    ASSERT_EQ(tavik_load_profile_memory(profile.data(), profile.size()), TAVIK_OK);
    EXPECT_EQ(tavik_session_script(o.session), -1);
    for (const Query &q : kQueries) {
        SCOPED_TRACE(q.what);
        const int32_t rc = tavik_identify(q.text.c_str());
        EXPECT_EQ(o.identify(q.text), rc);
        EXPECT_STREQ(tavik_session_result_json(o.session), tavik_result_json());
        EXPECT_EQ(script_of(o.session), q.script);
        EXPECT_NE(rc, TAVIK_UNSUPPORTED_SCRIPT);
    }
    EXPECT_EQ(tavik_session_identify(o.session, nullptr, 1), TAVIK_INVALID);
    EXPECT_EQ(tavik_session_script(o.session), -1);
    EXPECT_EQ(tavik_session_script(nullptr), -1);
    tavik_free_profile();
}

TEST(Bundle, CompressedBundleGivesTheSameModel) {
    const std::string plain = world();
    const std::string packed = bundle_bytes(world_spec(), true);
    EXPECT_LT(packed.size(), plain.size());
    EXPECT_EQ(packed, bundle_bytes(world_spec(), true));  // deterministic
    Opened a(plain), b(packed);
    ASSERT_NE(b.session, nullptr);
    EXPECT_STREQ(tavik_model_id(a.model), tavik_model_id(b.model));
    for (const Query &q : kQueries) {
        SCOPED_TRACE(q.what);
        EXPECT_EQ(a.identify(q.text), b.identify(q.text));
        EXPECT_STREQ(tavik_session_result_json(a.session), tavik_session_result_json(b.session));
    }
}

// A model keeps what it reads of the caller's bytes: members built after
// those bytes are gone, one after another (the payload they share released
// as they go), answer as members of a model whose bytes stayed.
TEST(Bundle, MembersOutliveTheCallersBytes) {
    for (const bool compress : {false, true}) {
        SCOPED_TRACE(compress ? "compressed" : "plain");
        const std::string bytes = bundle_bytes(world_spec(), compress);
        Opened kept(bytes);
        tavik_model *model = nullptr;
        {
            std::string gone = bytes;
            ASSERT_EQ(tavik_model_open_memory(gone.data(), gone.size(), &model), TAVIK_OK);
            std::fill(gone.begin(), gone.end(), '\xff');
        }
        tavik_session *s = nullptr;
        ASSERT_EQ(tavik_session_new(model, &s), TAVIK_OK);
        for (int round = 0; round < 2; ++round) {
            for (const Query &q : kQueries) {
                SCOPED_TRACE(q.what);
                EXPECT_EQ(tavik_session_identify(s, q.text.data(), q.text.size()),
                          kept.identify(q.text));
                EXPECT_STREQ(tavik_session_result_json(s), tavik_session_result_json(kept.session));
            }
        }
        tavik_session_free(s);
        tavik_model_free(model);
    }
}

TEST(Bundle, OpensFromAPath) {
    TempDir dir;
    write_file(dir.file("world.tavik"), world());
    tavik_model *model = nullptr;
    ASSERT_EQ(tavik_model_open(dir.file("world.tavik").c_str(), &model), TAVIK_OK);
    EXPECT_EQ(tavik_model_language_count(model), 11);
    tavik_model_free(model);
    // The designed interface reads profile files only.
    EXPECT_EQ(tavik_load_profile(dir.file("world.tavik").c_str()), TAVIK_BAD_PROFILE);
    write_file(dir.file("short"), std::string(tavik::kModelMagic, 8) + "\x01");
    EXPECT_EQ(tavik_model_open(dir.file("short").c_str(), &model), TAVIK_BAD_PROFILE);
    EXPECT_EQ(model, nullptr);
}

// ------------------------------------------------------------- the file

// A small bundle whose every field is at a known place: one member with a
// two-language profile serving Latin and Cyrillic, one direct script.
struct Small {
    std::string bytes;
    std::vector<std::pair<size_t, size_t>> free;  // [from, to) whose bytes may be anything
    std::vector<size_t> structural;               // bytes whose corruption is refused
};

Small small_bundle() {
    const std::string profile = make_profile(
        {{"eng", {"_t", "th", "he", "e_"}}, {"deu", {"_d", "de", "er", "r_"}}}, {{"k", "v"}});
    Small s;
    Blob b;
    auto mark = [&](size_t n) {
        for (size_t k = 0; k < n; ++k) s.structural.push_back(b.bytes().size() + k);
    };
    mark(24);  // magic, version, flags, payload size
    b.raw(std::string(tavik::kModelMagic, 8)).u32(1).u32(0).u32(0).u32(0);
    const size_t payload_at = b.bytes().size();
    mark(4);
    b.u32(1);  // one meta pair
    mark(2);
    b.u16(3);
    s.free.emplace_back(b.bytes().size(), b.bytes().size() + 3);
    b.raw("key");
    mark(2);
    b.u16(5);
    s.free.emplace_back(b.bytes().size(), b.bytes().size() + 5);
    b.raw("value");
    mark(4 + 1 + 1 + 5 + 1 + 8 + 4);  // member count, scripts, names, profile length
    b.u32(1)
        .u8(2)
        .u8(5)
        .raw("Latin")
        .u8(8)
        .raw("Cyrillic")
        .u32(static_cast<uint32_t>(profile.size()));
    const size_t profile_at = b.bytes().size();
    b.raw(profile);
    // The profile's own structure is the profile reader's (test_profile);
    // here only its magic, which is refused whatever it becomes.
    for (size_t k = 0; k < 8; ++k) s.structural.push_back(profile_at + k);
    s.free.emplace_back(profile_at + 8, profile_at + profile.size());
    mark(4 + 1 + 6 + 1);
    b.u32(1).u8(6).raw("Hebrew").u8(3);
    s.free.emplace_back(b.bytes().size(), b.bytes().size() + 3);
    b.raw("heb");
    s.bytes = b.bytes();
    const uint64_t payload = s.bytes.size() - payload_at;
    for (int k = 0; k < 8; ++k) s.bytes[16 + k] = static_cast<char>(payload >> (8 * k) & 0xFF);
    return s;
}

int32_t open_bytes(const std::string &bytes, bool *null_on_failure) {
    tavik_model *model = reinterpret_cast<tavik_model *>(null_on_failure);  // must be overwritten
    const int32_t rc = tavik_model_open_memory(bytes.data(), bytes.size(), &model);
    *null_on_failure = rc == TAVIK_OK ? model != nullptr : model == nullptr;
    tavik_model_free(rc == TAVIK_OK ? model : nullptr);
    return rc;
}

TEST(ModelFile, SmallBundleLoadsAsWritten) {
    const Small s = small_bundle();
    tavik::BundleContents contents;
    contents.meta = {{"key", "value"}};
    contents.members.push_back(
        {{"Latin", "Cyrillic"},
         make_profile({{"eng", {"_t", "th", "he", "e_"}}, {"deu", {"_d", "de", "er", "r_"}}},
                      {{"k", "v"}})});
    contents.direct = {{"Hebrew", "heb"}};
    EXPECT_EQ(bundle_bytes(contents), s.bytes);  // the writer lays the fields out as documented
    bool clean = false;
    EXPECT_EQ(open_bytes(s.bytes, &clean), TAVIK_OK);
    EXPECT_TRUE(clean);
}

TEST(ModelFile, EveryProperPrefixFailsCleanly) {
    const Small s = small_bundle();
    tavik::BundleContents contents;
    contents.members.push_back({{"Latin"}, make_profile({{"eng", {"_t", "th"}}})});
    contents.direct = {{"Greek", "ell"}};
    for (const std::string &whole : {s.bytes, bundle_bytes(contents, true)}) {
        for (size_t n = 0; n < whole.size(); ++n) {
            const std::string prefix = whole.substr(0, n);
            bool clean = false;
            ASSERT_EQ(open_bytes(prefix, &clean), TAVIK_BAD_PROFILE) << n;
            EXPECT_TRUE(clean);
        }
    }
    // Uncompressed, the fault is a truncation where the bytes end.
    for (size_t n = 0; n < s.bytes.size(); ++n) {
        tavik::Routing *r = nullptr;
        tavik::ModelFault fault;
        ASSERT_EQ(tavik::model_file_read(s.bytes.data(), n, &r, &fault), TAVIK_BAD_PROFILE);
        EXPECT_TRUE(fault.truncated) << n;
        EXPECT_LE(fault.offset, n);
    }
}

// Every byte changed to each of three values: a structural byte is
// refused; free text (meta keys and values, the direct code, and the
// member profile's body, which the profile reader judges) may load.
TEST(ModelFile, SingleByteCorruptions) {
    const Small s = small_bundle();
    int loaded = 0;
    for (size_t at = 0; at < s.bytes.size(); ++at) {
        const bool structural =
            std::find(s.structural.begin(), s.structural.end(), at) != s.structural.end();
        const bool free = std::any_of(s.free.begin(), s.free.end(),
                                      [at](auto r) { return at >= r.first && at < r.second; });
        ASSERT_TRUE(structural != free) << "byte " << at << " unclassified";
        for (const unsigned char delta : {0x01, 0x80, 0xFF}) {
            const std::string bad = with_byte(s.bytes, at, static_cast<char>(s.bytes[at] ^ delta));
            bool clean = false;
            const int32_t rc = open_bytes(bad, &clean);
            EXPECT_TRUE(clean);
            if (structural) {
                EXPECT_EQ(rc, TAVIK_BAD_PROFILE) << "byte " << at << " ^ " << int(delta);
            } else {
                EXPECT_TRUE(rc == TAVIK_OK || rc == TAVIK_BAD_PROFILE) << rc;
                loaded += rc == TAVIK_OK;
            }
        }
    }
    EXPECT_GT(loaded, 0);
}

// The fault offset names the field that broke the format.
TEST(ModelFile, FaultOffsets) {
    const Small s = small_bundle();
    const size_t member_count = 24 + 4 + 2 + 3 + 2 + 5;
    const size_t first_script = member_count + 4 + 1;
    const size_t profile_len = first_script + 6 + 9;
    const size_t direct = s.bytes.size() - 15;
    const struct {
        const char *what;
        size_t at;
        char value;
        uint64_t offset;
    } cases[] = {
        {"magic", 0, 'X', 0},
        {"version", 8, 2, 8},
        {"flags", 12, 2, 12},
        {"member count 0", member_count, 0, member_count},
        {"script count 0", member_count + 4, 0, member_count + 4},
        {"unknown script", first_script + 1, 'X', first_script},
        {"profile longer than the file", profile_len + 3, 1, profile_len + 4},
        {"direct count 2", direct, 2, s.bytes.size()},
        {"direct code of 8 bytes", s.bytes.size() - 4, 8, s.bytes.size() - 4},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string bad = with_byte(s.bytes, c.at, c.value);
        tavik::Routing *r = nullptr;
        tavik::ModelFault fault;
        EXPECT_EQ(tavik::model_file_read(bad.data(), bad.size(), &r, &fault), TAVIK_BAD_PROFILE);
        EXPECT_EQ(fault.offset, c.offset);
    }
    // A script served twice is refused at its second mention.
    tavik::BundleContents twice;
    twice.members.push_back({{"Latin"}, make_profile({{"eng", {"_t"}}})});
    twice.direct = {{"Latin", "eng"}};
    const std::string bytes = bundle_bytes(twice);
    tavik::Routing *r = nullptr;
    tavik::ModelFault fault;
    EXPECT_EQ(tavik::model_file_read(bytes.data(), bytes.size(), &r, &fault), TAVIK_BAD_PROFILE);
    EXPECT_EQ(fault.offset, bytes.size() - 10);
}

TEST(ModelFile, KnownBadFilesAreRefused) {
    const std::filesystem::path dir = TAVIK_SOURCE_DIR "/tests/data/bad-models";
    int seen = 0;
    for (const auto &entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".tavik") continue;
        SCOPED_TRACE(entry.path().filename().string());
        ++seen;
        const std::string bytes = read_file(entry.path().string());
        EXPECT_TRUE(tavik::is_model_file(bytes.data(), bytes.size()));
        tavik_model *model = nullptr;
        EXPECT_EQ(tavik_model_open(entry.path().c_str(), &model), TAVIK_BAD_PROFILE);
        EXPECT_EQ(model, nullptr);
    }
    EXPECT_GT(seen, 0);
}

// ------------------------------------------------------- the programs

constexpr const char *kTrain = TAVIK_BINARY_DIR "/tavik-train";
constexpr const char *kTavik = TAVIK_BINARY_DIR "/tavik";

TEST(BundleCli, TrainListAndIdentify) {
    TempDir dir;
    // The Latin member from a corpus folder, the CJK one from a profile.
    for (const Sample &s : kLatinEtc) {
        std::filesystem::create_directories(dir.file("corpus/") + s.code);
        write_file(dir.file("corpus/") + s.code + "/a.txt", s.text);
    }
    write_file(dir.file("cjk.tavik"), train_member(kCjk, std::size(kCjk)));
    const std::vector<std::string> args = {
        "--letters",   "unicode",
        "--fold-case", "--nfc",
        "--bundle",    dir.file("w.tavik"),
        "--member",    "Latin,Cyrillic,Arabic,Devanagari=" + dir.file("corpus"),
        "--member",    "Han,Japanese=" + dir.file("cjk.tavik"),
        "--direct",    "Hebrew=heb",
        "--compress"};
    const std::vector<std::string> env = {"TAVIK_TRAIN_DATE=2026-01-01"};
    const RunResult first = run_program(kTrain, args, "", env);
    ASSERT_EQ(first.code, 0) << first.err;
    EXPECT_TRUE(has(first.err, "(2 members, 9 languages)")) << first.err;
    const std::string bytes = read_file(dir.file("w.tavik"));
    ASSERT_EQ(run_program(kTrain, args, "", env).code, 0);
    EXPECT_EQ(read_file(dir.file("w.tavik")), bytes);  // deterministic
    EXPECT_FALSE(std::filesystem::exists(dir.file("w.tavik.member-0-") + "x"));

    const RunResult list = run_program(kTavik, {"--profile", dir.file("w.tavik"), "--list"});
    ASSERT_EQ(list.code, 0) << list.err;
    for (const char *line :
         {"id\ttavik-bundle-v1-M2-L9\n", "member\t0\tArabic,Cyrillic,", "member\t1\tHan,Japanese\n",
          "language\teng\t0\n", "language\tjpn\t1\n", "direct\tHebrew\theb\n",
          "language\theb\tdirect\n", "meta\tdate\t2026-01-01\n"})
        EXPECT_TRUE(has(list.out, line)) << line << "\n" << list.out;

    const RunResult ids =
        run_program(kTavik, {"--profile", dir.file("w.tavik"), "--lines"},
                    kQueries[0].text + "\nשלום עולם\nქართული ენა\n" + kQueries[6].text + "\n");
    EXPECT_EQ(ids.code, 1);  // the Georgian line is not identified
    EXPECT_TRUE(has(ids.out, "heb\t1.0000\n")) << ids.out;
    EXPECT_TRUE(has(ids.out, "und\t0.0000\tunsupported-script\tGeorgian\n")) << ids.out;
    EXPECT_TRUE(has(ids.out, "hin\t")) << ids.out;
    EXPECT_EQ(ids.out.rfind("eng\t", 0), 0u) << ids.out;
    EXPECT_EQ(ids.err, "");

    const struct {
        std::vector<std::string> args;
        const char *message;
    } refused[] = {
        {{"--bundle", dir.file("x.tavik")}, "needs at least one --member"},
        {{"--bundle", dir.file("x.tavik"), "--member", "Klingon=" + dir.file("cjk.tavik")},
         "unknown script Klingon"},
        {{"--bundle", dir.file("x.tavik"), "--member", "Han=" + dir.file("cjk.tavik"), "--direct",
          "Han=zho"},
         "script Han is served twice"},
        {{"--bundle", dir.file("x.tavik"), "--member", "Han"}, "--member takes SCRIPTS=PATH"},
        {{"--bundle", dir.file("x.tavik"), "--member", "Han=" + dir.file("corpus/eng/a.txt")},
         "does not load"},
    };
    for (const auto &r : refused) {
        const RunResult run = run_program(kTrain, r.args);
        EXPECT_EQ(run.code, 1) << r.message;
        EXPECT_TRUE(has(run.err, r.message)) << run.err;
        EXPECT_FALSE(std::filesystem::exists(dir.file("x.tavik")));
    }
}

}  // namespace
