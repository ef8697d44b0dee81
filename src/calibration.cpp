// SPDX-License-Identifier: MIT
// calibration.cpp - the calibration meta pairs and the probability.

#include "calibration.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

namespace tavik {

namespace {

// One finite number spelled in full, as from_chars reads it: no sign
// other than a leading '-', no spaces, no "inf" or "nan".
bool parse_number(std::string_view s, double *out) {
    if (s.empty()) return false;
    double v = 0.0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

// "logistic-v1" and exactly the weights, each after one space.
bool parse_logistic(std::string_view value, Calibration &calib) {
    const std::string_view tag(kCalibrationLogisticV1);
    if (value.substr(0, tag.size()) != tag) return false;
    value.remove_prefix(tag.size());
    double w[kCalibrationWeights];
    for (double &x : w) {
        if (value.empty() || value[0] != ' ') return false;
        value.remove_prefix(1);
        const size_t space = value.find(' ');
        if (!parse_number(value.substr(0, space), &x)) return false;
        value.remove_prefix(space == std::string_view::npos ? value.size() : space);
    }
    if (!value.empty()) return false;
    std::memcpy(calib.weights, w, sizeof w);
    calib.present = true;
    return true;
}

}  // namespace

bool is_calibration_key(const char *key) {
    return std::strcmp(key, kMetaCalibration) == 0 || std::strcmp(key, kMetaReliable) == 0;
}

bool calibration_apply(Calibration &calib, const char *key, const char *value) {
    if (std::strcmp(key, kMetaCalibration) == 0) return parse_logistic(value, calib);
    if (std::strcmp(key, kMetaReliable) != 0) return false;
    double t = 0.0;
    if (!parse_number(value, &t) || t < 0.0 || t > 1.0) return false;
    calib.reliable = t;
    return true;
}

bool calibration_from_meta(const tavik_meta *meta, int32_t count, Calibration *calib,
                           const char **bad_key) {
    Calibration c;
    for (int32_t i = 0; i < count; ++i) {
        if (!is_calibration_key(meta[i].key)) continue;
        if (!calibration_apply(c, meta[i].key, meta[i].value)) {
            *bad_key = meta[i].key;
            return false;
        }
    }
    *calib = c;
    return true;
}

// The lead counts for more the more n-grams stand behind it, hence the
// products; the square root spreads the small leads short texts get, and
// the squared logarithm lets a text of a few n-grams fall off faster than
// the lead alone says.
void calibration_features(const CalibrationInput &in, double (&x)[kCalibrationWeights]) {
    const double log_n = std::log1p(in.ngrams);
    const double root_c = std::sqrt(in.confidence);
    x[0] = 1.0;
    x[1] = in.confidence;
    x[2] = root_c;
    x[3] = log_n;
    x[4] = in.confidence * log_n;
    x[5] = in.best;
    x[6] = in.second;
    x[7] = log_n * log_n;
    x[8] = root_c * log_n;
}

double calibration_probability(const Calibration &calib, const CalibrationInput &in) {
    double x[kCalibrationWeights];
    calibration_features(in, x);
    double z = 0.0;
    for (int k = 0; k < kCalibrationWeights; ++k) z += calib.weights[k] * x[k];
    // exp overflows to inf for very negative z, which still gives 0.
    return 1.0 / (1.0 + std::exp(-z));
}

}  // namespace tavik
