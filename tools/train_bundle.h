// SPDX-License-Identifier: MIT
// train_bundle.h - tavik-train's bundle mode: several member profiles,
// each serving a set of scripts, and languages that a script alone names,
// written as one model file.
#ifndef TAVIK_TRAIN_BUNDLE_H
#define TAVIK_TRAIN_BUNDLE_H

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tavik_train {

struct BundleArgs {
    const char *out = nullptr;         // --bundle OUT
    std::vector<std::string> members;  // --member SCRIPTS=PATH, in order
    std::vector<std::string> direct;   // --direct SCRIPT=CODE, in order
    bool compress = false;             // --compress
};

// Takes the bundle option at argv[i], and its value (advancing i); false
// when argv[i] is none of them or its value is missing.
bool take_bundle_option(BundleArgs &args, int argc, char **argv, int &i);

// Trains the corpus folder `corpus` into the profile file `out` with the
// command line's other options; 0 on success, as the trainer's exit status.
using TrainCorpus = std::function<int(const char *corpus, const char *out)>;

// Builds and writes the bundle; the exit status of the run.  `meta`: the
// bundle's own meta pairs, written first.
int build_bundle(const BundleArgs &args,
                 const std::vector<std::pair<std::string, std::string>> &meta,
                 const TrainCorpus &train);

}  // namespace tavik_train

#endif  // TAVIK_TRAIN_BUNDLE_H
