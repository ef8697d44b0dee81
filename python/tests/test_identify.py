# SPDX-License-Identifier: MIT
import ctypes
import pathlib
import pickle
import threading
import time

import pytest

import tavik
from conftest import TEXTS


class CInterface:
    """The designed process-wide C interface of libtavik.so, through ctypes."""

    def __init__(self, library, profile):
        lib = ctypes.CDLL(library)
        for name, res, args in [
            ("tavik_load_profile", ctypes.c_int32, [ctypes.c_char_p]),
            ("tavik_identify", ctypes.c_int32, [ctypes.c_char_p]),
            ("tavik_best_code", ctypes.c_char_p, []),
            ("tavik_ngram_count", ctypes.c_int32, []),
            ("tavik_result_count", ctypes.c_int32, []),
            ("tavik_result_code", ctypes.c_char_p, [ctypes.c_int32]),
            ("tavik_result_distance", ctypes.c_double, [ctypes.c_int32]),
            ("tavik_result_confidence", ctypes.c_double, [ctypes.c_int32]),
            ("tavik_set_min_ngrams", None, [ctypes.c_int32]),
        ]:
            fn = getattr(lib, name)
            fn.restype, fn.argtypes = res, args
        assert lib.tavik_load_profile(profile.encode()) == 0
        self.lib = lib

    def identify(self, text, min_ngrams=40):
        """The outcome Python reports, made from the designed calls: a
        too-short text with n-grams is scored again with the minimum lifted
        for its closest language; one without n-grams names none."""
        lib = self.lib
        lib.tavik_set_min_ngrams(min_ngrams)
        status = lib.tavik_identify(text.encode())
        best = lib.tavik_best_code()
        ngrams = lib.tavik_ngram_count()
        if status in (0, 2) and ngrams == 0:
            status = 1
        if status == 1 and ngrams > 0:
            lib.tavik_set_min_ngrams(0)
            lib.tavik_identify(text.encode())
        n = lib.tavik_result_count() if ngrams > 0 else 0
        return {
            "code": best.decode() if best and status == 0 else None,
            "language": lib.tavik_result_code(0).decode() if n else None,
            "confidence": lib.tavik_result_confidence(0) if n else 0.0,
            "status": status,
            "ngrams": ngrams,
            "results": [(lib.tavik_result_code(i).decode(), lib.tavik_result_distance(i)) for i in range(n)],
        }


@pytest.mark.parametrize("min_ngrams", [40, 0])
def test_results_equal_the_c_interface(designed, libtavik, designed_profile, min_ngrams):
    c = CInterface(libtavik, designed_profile)
    statuses = set()
    for text in TEXTS:
        got = designed.identify(text, min_ngrams=min_ngrams)
        # The designed interface has no probability: it is checked apart.
        d = got.to_dict()
        p, reliable = d.pop("probability"), d.pop("reliable")
        assert d == c.identify(text, min_ngrams), text
        assert p is None or 0.0 <= p <= 1.0, text
        assert reliable == (p is not None and p >= 0.9 and got.status == 0), text
        assert got.status == got.to_dict()["status"]
        statuses.add(got.status)
    # The table covers every outcome identification has.
    if min_ngrams == 40:
        assert statuses == {tavik.Status.OK, tavik.Status.AMBIGUOUS, tavik.Status.TOO_FEW_NGRAMS}


def test_result_fields_and_repr():
    r = tavik.identify("Das ist ein Satz.")
    assert r.code == "deu" and r.status is tavik.Status.OK and isinstance(r.status, int)
    assert not r.is_ambiguous and not r.is_too_short
    assert r.results[0][0] == "deu" and 0 < r.confidence <= 1 and r.ngrams > 0
    assert repr(r).startswith("Result(code='deu', language='deu', confidence=") and "status=OK" in repr(r)
    assert pickle.loads(pickle.dumps(r)) == r
    assert 0 < r.probability <= 1.0 and r.to_dict()["probability"] == r.probability
    # The default profile carries its calibration: a clear sentence is reliable.
    clear = tavik.identify("Das ist ein Satz über das Wetter in Berlin, und er ist ganz klar.")
    assert clear.code == "deu" and 0.9 <= clear.probability <= 1.0 and clear.reliable is True
    # A too-short text names its closest language, as the tavik command does,
    # but no winner.
    short = tavik.identify("ok")
    assert short.is_too_short and short.code is None and short.language == short.results[0][0]
    assert 0 < short.confidence <= 1 and pickle.loads(pickle.dumps(short)) == short
    none = tavik.identify("1234")
    assert none.is_too_short and none.language is None and none.results == [] and none.confidence == 0.0
    assert tavik.identify(b"Das ist ein Satz.") == r


@pytest.mark.parametrize("which", ["designed_profile", "embedded_model"])
def test_models_open_from_path_or_bytes(request, which):
    path = request.getfixturevalue(which)
    opened = tavik.Model(path)
    with open(path, "rb") as f:
        assert tavik.Model(data=f.read()).languages == opened.languages
    assert tavik.Model(pathlib.Path(path)).id == opened.id
    assert "licence" in opened.meta and "deu" in opened.languages


def test_model_properties_and_settings(model, designed, embedded_model):
    assert designed.id == "tavik-v1-L58" and len(designed.languages) == 58
    # The embedded default is the multi-script model.
    assert model.id == tavik.Model(embedded_model).id != designed.id
    assert len(model.languages) >= 100 and {"deu", "tha", "kor", "zho_tw"} <= set(model.languages)
    assert model.meta["licence"]

    # A script no candidate serves is an outcome without a language, not an error.
    greek = model.identify(TEXTS[5], candidates=["deu", "eng"])
    assert greek.status is tavik.Status.UNSUPPORTED_SCRIPT and greek.code is None
    assert greek.language is None and greek.results == [] and greek.probability is None

    only = model.identify(TEXTS[7], candidates=["nob", "nno"])
    assert {c for c, _ in only.results} == {"nob", "nno"}
    session = model.session(candidates=["dan", "nob"], min_margin=0.0)
    assert session.languages == ["dan", "nob"]
    assert session.identify(TEXTS[7]) == model.identify(TEXTS[7], candidates=["dan", "nob"], min_margin=0.0)
    # Settings of one call leave the model's plain identification alone.
    assert model.identify("Hola amigo", min_ngrams=0).results and model.identify("Hola amigo").is_too_short


def test_explain(model):
    doc = model.explain(TEXTS[1], "eng")
    assert isinstance(doc, dict) and doc
    assert model.session().explain(TEXTS[1], "eng") == doc
    with pytest.raises(tavik.InvalidArgumentError):
        model.explain(TEXTS[1], "xx")


@pytest.mark.parametrize("jobs", [1, 4])
def test_identify_many_equals_one_by_one(model, jobs):
    texts = TEXTS * 40 + [t.encode() for t in TEXTS]
    expected = [model.identify(t) for t in texts]
    assert model.identify_many(texts, jobs=jobs) == expected
    assert model.identify_many(iter(texts), jobs=jobs) == expected  # any iterable
    only = model.identify_many(texts, jobs=jobs, candidates=["deu", "eng"])
    assert only == [model.identify(t, candidates=["deu", "eng"]) for t in texts]
    assert model.identify_many([], jobs=jobs) == []


def test_identify_many_releases_the_interpreter_lock(model):
    texts = [TEXTS[1] * 4] * 30000
    ticks = 0
    stop = threading.Event()
    started = threading.Event()

    def count():
        nonlocal ticks
        started.set()
        while not stop.is_set():
            ticks += 1
            time.sleep(0)

    t = threading.Thread(target=count)
    t.start()
    started.wait()
    before = ticks
    model.identify_many(texts, jobs=1)
    during = ticks - before
    stop.set()
    t.join()
    # Holding the lock, the counter would move a handful of times at most
    # (the interpreter's switch interval is 5 ms, the call takes far longer
    # than that but would never hand the lock over).
    assert during > 1000
