# SPDX-License-Identifier: MIT
import pickle

import pytest

import tavik
from conftest import TEXTS

BAD_UTF8 = b"caf\xc3 au lait \xff"


@pytest.mark.parametrize(
    "call, error, status",
    [
        (lambda m: m.identify(BAD_UTF8), tavik.BadUtf8Error, tavik.Status.BAD_UTF8),
        (lambda m: m.identify("lone \ud800 surrogate"), tavik.BadUtf8Error, tavik.Status.BAD_UTF8),
        (lambda m: m.identify("Das ist ein Satz.", candidates=["deu", "xx"]), tavik.InvalidArgumentError,
         tavik.Status.INVALID),
        (lambda m: m.identify("Das ist ein Satz.", candidates=["deu", "deu"]), tavik.InvalidArgumentError,
         tavik.Status.INVALID),
        (lambda m: m.identify("Das ist ein Satz.", candidates=[]), tavik.InvalidArgumentError,
         tavik.Status.INVALID),
        (lambda m: m.session(candidates=["xx"]), tavik.InvalidArgumentError, tavik.Status.INVALID),
        (lambda m: m.identify(None), tavik.InvalidArgumentError, tavik.Status.INVALID),
        (lambda m: m.explain(BAD_UTF8, "deu"), tavik.BadUtf8Error, tavik.Status.BAD_UTF8),
        (lambda m: tavik.Model("/nonexistent/profile.tavik"), tavik.BadProfileError, tavik.Status.BAD_PROFILE),
        (lambda m: tavik.Model(data=b"not a profile"), tavik.BadProfileError, tavik.Status.BAD_PROFILE),
    ],
)
def test_bad_input_raises_its_class_and_the_model_stays_usable(model, call, error, status):
    with pytest.raises(error) as info:
        call(model)
    assert isinstance(info.value, tavik.Error) and info.value.status == status and info.value.message
    assert model.identify("Das ist ein Satz.").code == "deu"


@pytest.mark.parametrize("which", ["designed_profile", "embedded_model"])
def test_corrupt_profile_file(tmp_path, request, which):
    with open(request.getfixturevalue(which), "rb") as f:
        data = bytearray(f.read())
    for name, blob in [("cut", data[: len(data) // 2]), ("flipped", data[:8] + b"\xff" * 64 + data[72:])]:
        path = tmp_path / f"{name}.tavik"
        path.write_bytes(bytes(blob))
        with pytest.raises(tavik.BadProfileError):
            tavik.Model(str(path))


@pytest.mark.parametrize(
    "bad, error",
    [(BAD_UTF8, tavik.BadUtf8Error), (None, tavik.InvalidArgumentError), (42, tavik.InvalidArgumentError)],
)
@pytest.mark.parametrize("jobs", [1, 3])
def test_identify_many_names_the_failing_item(model, bad, error, jobs):
    texts = list(TEXTS) * 5
    texts.insert(37, bad)
    with pytest.raises(error) as info:
        model.identify_many(texts, jobs=jobs)
    assert info.value.index == 37 and "item 37" in str(info.value)
    again = pickle.loads(pickle.dumps(info.value))
    assert type(again) is error and again.index == 37 and again.status == info.value.status
    got = model.identify_many(texts, jobs=jobs, errors="none")
    assert got[37] is None
    assert got[:37] + got[38:] == model.identify_many(texts[:37] + texts[38:], jobs=jobs)


def test_identify_many_argument_errors(model):
    with pytest.raises(ValueError):
        model.identify_many(TEXTS, errors="ignore")
    with pytest.raises(ValueError):
        model.identify_many(TEXTS, jobs=0)
    with pytest.raises(tavik.InvalidArgumentError):
        model.identify_many(TEXTS, candidates=["nope"])
    with pytest.raises(TypeError):
        model.identify_many(TEXTS, min_ngram=3)  # misspelt setting
    assert model.identify_many(TEXTS[:1]) == [model.identify(TEXTS[0])]
