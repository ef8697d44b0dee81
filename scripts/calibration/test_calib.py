#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Tests of the calibration fitting (calib.py) and, when the build's
tavik-calib is named by TAVIK_CALIB_TOOL, of scripts/fit-calibration end
to end. Exits 77 (skipped) without numpy."""

import os
import random
import subprocess
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

try:
    import numpy as np
except ImportError:  # Debian's python3-numpy is not installed
    print("numpy missing: skipped")
    sys.exit(77)

import calib  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(os.path.dirname(HERE))


def read(path):
    with open(path, "rb") as f:
        return f.read()


def synthetic(weights, m, seed):
    """Outcome inputs drawn at random, labelled right with the probability
    the logistic model `weights` gives them: the truth is known."""
    rng = np.random.default_rng(seed)
    c = rng.beta(0.8, 3.0, m)
    n = rng.integers(1, 1500, m).astype(np.float64)
    best = rng.uniform(0.0, 0.02, m)
    second = best + rng.uniform(0.0, 0.01, m)
    x = calib.features(c, n, best, second)
    p = calib.predict(weights, x)
    y = (rng.uniform(0, 1, m) < p).astype(np.float64)
    return x, y, p


class Fit(unittest.TestCase):
    TRUE = [-3.0, 4.0, 2.0, 0.4, 1.5, -60.0, 40.0, -0.05, 0.3]

    def test_recovers_known_probabilities(self):
        x, y, _ = synthetic(self.TRUE, 40000, 1)
        w = calib.fit_logistic(x, y)
        xt, yt, pt = synthetic(self.TRUE, 20000, 2)
        fitted = calib.predict(w, xt)
        self.assertLess(np.mean(np.abs(fitted - pt)), 0.02)
        self.assertLess(calib.ece(fitted, yt), 0.02)

    def test_is_deterministic(self):
        x, y, _ = synthetic(self.TRUE, 5000, 3)
        self.assertEqual(calib.format_weights(calib.fit_logistic(x, y)),
                         calib.format_weights(calib.fit_logistic(x, y)))

    def test_constant_truth_gives_its_rate(self):
        # Nothing to learn from the features: the fit is the base rate.
        rng = random.Random(4)
        x, _, _ = synthetic(self.TRUE, 20000, 4)
        y = np.array([1.0 if rng.random() < 0.7 else 0.0 for _ in range(len(x))])
        p = calib.predict(calib.fit_logistic(x, y), x)
        self.assertAlmostEqual(float(p.mean()), float(y.mean()), places=3)
        self.assertLess(float(np.mean(np.abs(p - 0.7))), 0.02)


class Measures(unittest.TestCase):
    def test_ece(self):
        cases = [
            ("perfect", [0.25] * 4 + [0.75] * 4, [1, 0, 0, 0, 1, 1, 1, 0], 0.0),
            ("overconfident", [1.0] * 4, [1, 0, 1, 0], 0.5),
            ("underconfident", [0.05] * 2, [1, 1], 0.95),
            ("bins weighed by share", [0.95] * 3 + [0.15], [1, 1, 1, 1], (3 * 0.05 + 0.85) / 4),
            ("empty", [], [], 0.0),
        ]
        for name, p, y, want in cases:
            self.assertAlmostEqual(calib.ece(p, y), want, places=9, msg=name)

    def test_reliability_bins(self):
        bins = calib.reliability([0.05, 0.05, 0.95, 1.0], [0, 1, 1, 1])
        self.assertEqual(len(bins), calib.ECE_BINS)
        self.assertEqual(bins[0], (0.05, 0.5, 2))
        self.assertEqual(bins[9][1:], (1.0, 2))
        self.assertIsNone(bins[5])


class Format(unittest.TestCase):
    def test_round_trip_is_exact(self):
        w = [0.1, -2.5e-7, 1 / 3, 12345.678, 0.0, -1.0, 7.0, 1e-300, -0.0]
        self.assertEqual(calib.parse_weights(calib.format_weights(w)), w)

    def test_refuses_what_the_library_refuses(self):
        for bad in ([1.0] * 8, [1.0] * 8 + [float("nan")], [1.0] * 8 + [float("inf")]):
            with self.assertRaises(ValueError):
                calib.format_weights(bad)
        for bad in ("logistic-v2 1 2 3 4 5 6 7 8 9", "logistic-v1 1 2", ""):
            with self.assertRaises(ValueError):
                calib.parse_weights(bad)


@unittest.skipUnless(os.environ.get("TAVIK_CALIB_TOOL"), "TAVIK_CALIB_TOOL not set")
class EndToEnd(unittest.TestCase):
    """fit-calibration on the default profile with texts made here: the
    output keeps every byte of the profile's languages and loads."""

    def test_fit_writes_a_loadable_calibrated_profile(self):
        tool = os.environ["TAVIK_CALIB_TOOL"]
        profile = os.path.join(TOP, "data", "default.tavik")
        words = {
            "eng": "the of and to in is that for it with as was on be by this are".split(),
            "deu": "der die und in den von zu das mit sich des auf für ist im dem nicht".split(),
            "fra": "de la le et les des en un du une que est pour qui dans par plus".split(),
        }
        rng = random.Random(5)
        with tempfile.TemporaryDirectory() as d:
            held = os.path.join(d, "held.tsv")
            with open(held, "w", encoding="utf-8") as f:
                for code, ws in sorted(words.items()):
                    for k in range(80):
                        text = " ".join(rng.choice(ws) for _ in range(2 + k % 12))
                        f.write("%s\t%s\t%d\n" % (code, text, len(text)))
            out = os.path.join(d, "out.tavik")
            fit = [sys.executable, os.path.join(TOP, "scripts", "fit-calibration"), profile, held,
                   "-o", out, "--tool", tool]
            subprocess.run(fit, check=True, stdout=subprocess.DEVNULL)
            first = read(out)
            subprocess.run(fit, check=True, stdout=subprocess.DEVNULL)
            self.assertEqual(read(out), first, "same inputs, same bytes")
            rows = calib.run_features(tool, out, held)
            self.assertTrue(all(0.0 <= r.probability <= 1.0 for r in rows if r.answered))
            before = calib.run_features(tool, profile, held)
            self.assertEqual([(r.named, r.confidence) for r in rows],
                             [(r.named, r.confidence) for r in before])
            # A refused pair writes nothing.
            bad = subprocess.run([tool, "set-meta", profile, os.path.join(d, "bad.tavik"),
                                  "tavik.reliable", "2"], stderr=subprocess.PIPE)
            self.assertNotEqual(bad.returncode, 0)
            self.assertIn(b"tavik.reliable", bad.stderr)
            self.assertFalse(os.path.exists(os.path.join(d, "bad.tavik")))


if __name__ == "__main__":
    unittest.main()
