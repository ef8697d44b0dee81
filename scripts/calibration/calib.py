# SPDX-License-Identifier: MIT
"""Fitting and measuring the calibrated probability.

The library's model (src/calibration.cpp, "logistic-v1") is a logistic
regression over nine features of an identification's outcome:

    1, c, sqrt(c), ln(1 + n), c * ln(1 + n), d1, d2, ln(1 + n)^2,
    sqrt(c) * ln(1 + n)

with c the winner's relative lead over the runner-up (the confidence), n
the query's n-gram count, d1 and d2 the winner's and the runner-up's
distance over the absent penalty. features() below must compute exactly
what calibration_features computes.

Outcomes come from `tavik-calib features` (one row a text: code, length,
status, named language, n, c, d1, d2, probability); a row whose named
language is "und" got no answer and has no probability.
"""

import math
import subprocess

import numpy as np

TAG = "logistic-v1"
N_WEIGHTS = 9
ECE_BINS = 10  # equal-width bins of the predicted probability


class Outcome:
    __slots__ = ("code", "length", "status", "named", "ngrams", "confidence",
                 "best", "second", "probability")

    def __init__(self, row):
        f = row.rstrip("\n").split("\t")
        if len(f) != 9:
            raise ValueError("expected 9 tab-separated fields: %r" % row)
        self.code, self.length, self.named = f[0], int(f[1]), f[3]
        self.status, self.ngrams = int(f[2]), float(f[4])
        self.confidence, self.best, self.second = float(f[5]), float(f[6]), float(f[7])
        self.probability = float(f[8])

    @property
    def answered(self):
        return self.named != "und"

    @property
    def correct(self):
        return self.named == self.code


SHORT_CUTS = (3, 6, 12, 20)  # extra lengths the fit sees (characters)


def cut(text, n):
    """Cut text to at most n characters at a word boundary, as
    scripts/corpus/build.py cuts the development samples."""
    if len(text) <= n:
        return text
    head = text[: n + 1]
    i = head.rfind(" ")
    if i >= n * 0.6:
        return head[:i].rstrip()
    return text[:n].rstrip()


def with_short_cuts(lines, cuts=SHORT_CUTS):
    """The labelled samples (CODE<TAB>TEXT<TAB>LENGTH lines) and, for each
    of the lengths `cuts`, every text cut to it: held-out sets are cut like
    the development set (30 characters and up), but people also ask about
    a word or a letter, and the fit must see how little those tell."""
    out = []
    rows = [l.rstrip("\n").split("\t") for l in lines if l.strip()]
    out.extend("\t".join(r) for r in rows)
    for n in cuts:
        for r in rows:
            if len(r) >= 2:
                t = cut(r[1], n)
                if t.strip():
                    out.append("%s\t%s\t%d" % (r[0], t, n))
    return out


def run_features(tool, profile, samples):
    """Outcomes of every text of `samples` (CODE<TAB>TEXT<TAB>LENGTH)."""
    out = subprocess.run([tool, "features", profile, samples], check=True,
                         stdout=subprocess.PIPE).stdout.decode("utf-8", "replace")
    return [Outcome(l) for l in out.splitlines() if l]


def features(confidence, ngrams, best, second):
    """The feature matrix (rows x 9) of arrays of the four inputs."""
    c = np.asarray(confidence, dtype=np.float64)
    root_c = np.sqrt(c)
    log_n = np.log1p(np.asarray(ngrams, dtype=np.float64))
    return np.column_stack([np.ones_like(c), c, root_c, log_n, c * log_n,
                            np.asarray(best, dtype=np.float64),
                            np.asarray(second, dtype=np.float64),
                            log_n * log_n, root_c * log_n])


def outcome_features(outcomes):
    return features([o.confidence for o in outcomes], [o.ngrams for o in outcomes],
                    [o.best for o in outcomes], [o.second for o in outcomes])


def sigmoid(z):
    return 1.0 / (1.0 + np.exp(-z))


def fit_logistic(x, y, l2=1e-4, iterations=100):
    """Weights minimising the mean log loss plus l2 * |w|^2 (the constant
    left out), by Newton's method on standardised columns; deterministic."""
    x = np.asarray(x, dtype=np.float64)
    y = np.asarray(y, dtype=np.float64)
    mean = x[:, 1:].mean(axis=0)
    scale = x[:, 1:].std(axis=0)
    scale[scale == 0] = 1.0
    xs = np.column_stack([x[:, 0], (x[:, 1:] - mean) / scale])
    w = np.zeros(x.shape[1])
    reg = np.full(x.shape[1], l2)
    reg[0] = 0.0
    m = len(y)
    for _ in range(iterations):
        p = sigmoid(xs @ w)
        grad = xs.T @ (p - y) / m + 2 * reg * w
        hess = (xs * (p * (1 - p))[:, None]).T @ xs / m + np.diag(2 * reg + 1e-12)
        step = np.linalg.solve(hess, grad)
        w -= step
        if np.max(np.abs(step)) < 1e-10:
            break
    # Back to the raw columns the library computes.
    raw = np.empty_like(w)
    raw[1:] = w[1:] / scale
    raw[0] = w[0] - np.sum(w[1:] * mean / scale)
    return raw


def predict(weights, x):
    return sigmoid(np.asarray(x) @ np.asarray(weights))


def format_weights(weights):
    """The tavik.calibration value: the tag and the weights, each in the
    shortest form that reads back to the same double."""
    if len(weights) != N_WEIGHTS or not all(math.isfinite(w) for w in weights):
        raise ValueError("need %d finite weights" % N_WEIGHTS)
    return " ".join([TAG] + [repr(float(w)) for w in weights])


def parse_weights(value):
    parts = value.split(" ")
    if parts[0] != TAG or len(parts) != N_WEIGHTS + 1:
        raise ValueError("not a %s calibration: %r" % (TAG, value))
    return [float(p) for p in parts[1:]]


def ece(probabilities, correct, bins=ECE_BINS):
    """Expected calibration error over equal-width bins: the share-weighted
    mean of |accuracy - mean probability| per bin (0 to 1)."""
    p = np.asarray(probabilities, dtype=np.float64)
    y = np.asarray(correct, dtype=np.float64)
    if len(p) == 0:
        return 0.0
    idx = np.minimum((p * bins).astype(int), bins - 1)
    total = 0.0
    for b in range(bins):
        sel = idx == b
        if sel.any():
            total += sel.sum() / len(p) * abs(y[sel].mean() - p[sel].mean())
    return float(total)


def reliability(probabilities, correct, bins=ECE_BINS):
    """Per bin: (mean probability, accuracy, count), None for empty bins."""
    p = np.asarray(probabilities, dtype=np.float64)
    y = np.asarray(correct, dtype=np.float64)
    idx = np.minimum((p * bins).astype(int), bins - 1)
    out = []
    for b in range(bins):
        sel = idx == b
        out.append((float(p[sel].mean()), float(y[sel].mean()), int(sel.sum())) if sel.any() else None)
    return out


def run_set_meta(tool, profile, out, pairs):
    """Write `profile` to `out` with the meta pairs set."""
    args = [tool, "set-meta", profile, out]
    for k, v in pairs:
        args += [k, v]
    subprocess.run(args, check=True)
