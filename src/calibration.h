// SPDX-License-Identifier: MIT
// calibration.h - the calibrated probability a profile may carry: the
// chance that the language named by an identification is right, estimated
// from what the outcome already holds.
//
// A profile carries its calibration in two meta pairs under the reserved
// prefix (docs/profile-format.md):
//   tavik.calibration  "logistic-v1 w0 w1 ... w8": a logistic
//                      model over the features of calibration_features;
//   tavik.reliable     the probability at or above which an answer is
//                      called reliable (0.9 when absent).
// Both values are parsed strictly (locale-free); a value either key does
// not take refuses the profile, as an unknown text model does.  The
// fitting side is scripts/fit-calibration.  Not installed.
#ifndef TAVIK_CALIBRATION_H
#define TAVIK_CALIBRATION_H

#include <cstdint>

#include "tavik/profile.h"

namespace tavik {

inline constexpr char kMetaCalibration[] = "tavik.calibration";
inline constexpr char kMetaReliable[] = "tavik.reliable";
inline constexpr char kCalibrationLogisticV1[] = "logistic-v1";
inline constexpr int kCalibrationWeights = 9;
inline constexpr double kDefaultReliable = 0.9;

// What an identification's outcome says about its winner.
struct CalibrationInput {
    double confidence = 0.0;  // winner's relative lead over the runner-up, 0 to 1
    double ngrams = 0.0;      // query n-grams
    double best = 0.0;        // winner's distance over the absent penalty
    double second = 1.0;      // runner-up's distance over the absent penalty (1 without one)
    char code[8] = {};        // the winner's code
};

struct Calibration {
    bool present = false;  // a tavik.calibration pair was read
    double weights[kCalibrationWeights] = {};
    double reliable = kDefaultReliable;
};

// True for the two keys above.
bool is_calibration_key(const char *key);

// Applies one calibration pair to `calib`; false for a value the key does
// not take (or a key that is not a calibration key).
bool calibration_apply(Calibration &calib, const char *key, const char *value);

// The calibration the meta pairs declare; pairs of other keys are skipped.
// Returns false on the first value refused, with its key in *bad_key.
bool calibration_from_meta(const tavik_meta *meta, int32_t count, Calibration *calib,
                           const char **bad_key);

// The features the logistic model weighs, x[0] being the constant 1.
void calibration_features(const CalibrationInput &in, double (&x)[kCalibrationWeights]);

// The probability in [0, 1]; `calib` must be present.
double calibration_probability(const Calibration &calib, const CalibrationInput &in);

}  // namespace tavik

#endif  // TAVIK_CALIBRATION_H
