// SPDX-License-Identifier: MIT
// calib_tool.cpp - tavik-calib: the library side of fitting a calibration.
//
//   tavik-calib features PROFILE SAMPLES.tsv
//       For every line CODE<TAB>TEXT[<TAB>LENGTH] prints CODE, LENGTH,
//       status, the named language (the closest one, also for a too-short
//       text; "und" without one), n-gram count, confidence, the winner's
//       and the runner-up's distance over the absent penalty, and the
//       probability the profile's calibration gives (-1 without one),
//       tab-separated, exactly as a session sees them.  PROFILE may be a
//       bundle: a text its script decided alone has 0 n-grams, confidence
//       1 and no runner-up.
//   tavik-calib meta PROFILE KEY
//       Prints the value of the profile's meta pair KEY (exit 1 without one).
//   tavik-calib set-meta PROFILE OUT KEY VALUE [KEY VALUE ...]
//       Writes PROFILE to OUT with the pairs set (replaced where the key is
//       there, appended otherwise); the rest of the file is kept as read.
//       Reserved pairs must be ones the library takes.
//
// Not installed: scripts/fit-calibration runs it.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "engine.h"
#include "tavik/profile.h"
#include "tavik/tavik_session.h"

namespace {

int usage() {
    std::fputs("usage: tavik-calib features PROFILE SAMPLES.tsv\n"
               "       tavik-calib meta PROFILE KEY\n"
               "       tavik-calib set-meta PROFILE OUT KEY VALUE [KEY VALUE ...]\n",
               stderr);
    return 2;
}

int fail(const std::string &what) {
    std::fprintf(stderr, "tavik-calib: %s\n", what.c_str());
    return 1;
}

int run_features(const char *profile, const char *samples) {
    tavik_model *model = nullptr;
    if (tavik_model_open(profile, &model) != TAVIK_OK)
        return fail(std::string(profile) + ": cannot load profile");
    tavik_session *s = nullptr;
    if (tavik_session_new(model, &s) != TAVIK_OK) {
        tavik_model_free(model);
        return fail("out of memory");
    }
    tavik_model_free(model);
    s->calib_collect = true;
    std::ifstream in(samples, std::ios::binary);
    if (!in) {
        tavik_session_free(s);
        return fail(std::string(samples) + ": cannot open");
    }
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        const size_t t1 = line.find('\t');
        if (t1 == std::string::npos) continue;
        const size_t t2 = line.find('\t', t1 + 1);
        const std::string code = line.substr(0, t1);
        const std::string text =
            line.substr(t1 + 1, t2 == std::string::npos ? std::string::npos : t2 - t1 - 1);
        const std::string length = t2 == std::string::npos ? "0" : line.substr(t2 + 1);
        const int32_t rc = tavik_session_identify(s, text.data(), text.size());
        const tavik::CalibrationInput &f = s->calib_input;
        const char *best = tavik_session_best_code(s);
        if (s->calib_valid)
            std::printf("%s\t%s\t%d\t%s\t%.0f\t%.17g\t%.17g\t%.17g\t%.17g\n", code.c_str(),
                        length.c_str(), rc, f.code, f.ngrams, f.confidence, f.best, f.second,
                        tavik_session_probability(s));
        else if (const double p = tavik_session_probability(s); p >= 0.0 && best != nullptr)
            // A bundle's script decided alone: no n-grams, no runner-up.
            std::printf("%s\t%s\t%d\t%s\t0\t1\t0\t1\t%.17g\n", code.c_str(), length.c_str(), rc,
                        best, p);
        else
            std::printf("%s\t%s\t%d\tund\t0\t0\t1\t1\t-1\n", code.c_str(), length.c_str(), rc);
    }
    tavik_session_free(s);
    return std::fflush(stdout) == 0 ? 0 : fail("cannot write the output");
}

int run_meta(const char *profile, const char *key) {
    tavik_model *model = nullptr;
    if (tavik_model_open(profile, &model) != TAVIK_OK)
        return fail(std::string(profile) + ": cannot load profile");
    const char *value = tavik_model_meta(model, key);
    if (value != nullptr) std::printf("%s\n", value);
    tavik_model_free(model);
    return value != nullptr ? 0 : 1;
}

int run_set_meta(const char *path, const char *out, int argc, char **argv) {
    if (argc % 2 != 0) return usage();
    for (int i = 0; i < argc; i += 2) {
        tavik::TextModel probe;
        if (argv[i][0] == '\0' || !tavik::text_model_apply(probe, argv[i], argv[i + 1]))
            return fail(std::string("meta pair ") + argv[i] + ": unknown key or value");
    }
    tavik_profile *p = nullptr;
    if (tavik_profile_load_path(path, &p) != TAVIK_OK)
        return fail(std::string(path) + ": cannot load profile");
    // The writer only reads the record and lets it borrow every text: a
    // copy with the new pairs goes out, the profile as read is freed whole.
    auto copy = std::make_unique<tavik_profile>(*p);
    int rc = 0;
    for (int i = 0; i < argc && rc == 0; i += 2) {
        int32_t slot = 0;
        while (slot < copy->meta_count && std::strcmp(copy->meta[slot].key, argv[i]) != 0) ++slot;
        if (slot == TAVIK_MAX_META) {
            rc = fail("more than 64 meta pairs");
            break;
        }
        if (slot == copy->meta_count) ++copy->meta_count;
        copy->meta[slot] = tavik_meta{argv[i], argv[i + 1]};
    }
    if (rc == 0 && tavik_profile_write(copy.get(), out) != TAVIK_OK)
        rc = fail(std::string(out) + ": cannot write profile");
    tavik_profile_free(p);
    return rc;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc >= 4 && std::strcmp(argv[1], "features") == 0 && argc == 4)
        return run_features(argv[2], argv[3]);
    if (argc == 4 && std::strcmp(argv[1], "meta") == 0) return run_meta(argv[2], argv[3]);
    if (argc >= 6 && std::strcmp(argv[1], "set-meta") == 0)
        return run_set_meta(argv[2], argv[3], argc - 4, argv + 4);
    return usage();
}
