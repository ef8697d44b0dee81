# SPDX-License-Identifier: MIT
import threading

import pytest

import tavik

CORPUS = {
    "aaa": ["the cat sat on the mat with the hat", "then the rat ran at the cat"] * 20,
    "bbb": ["olo moro polo koro lomo", "moro koro tolo bolo rolo"] * 20,
}


def test_train_round_trip(tmp_path):
    data = tavik.train(CORPUS, meta={"source": "test"})
    model = tavik.Model(data=data)
    assert model.languages == ["aaa", "bbb"] and model.meta["source"] == "test"
    assert model.identify("the cat and the rat", min_ngrams=0).code == "aaa"
    assert model.identify("polo moro koro", min_ngrams=0).code == "bbb"

    # The same profile written to a file, and from a corpus directory.
    tavik.train(CORPUS, tmp_path / "p.tavik", meta={"source": "test"})
    assert (tmp_path / "p.tavik").read_bytes() == data
    for code, texts in CORPUS.items():
        (tmp_path / "corpus" / code).mkdir(parents=True)
        (tmp_path / "corpus" / code / "a.txt").write_text("\n".join(texts) + "\n")
    from_dir = tavik.Model(data=tavik.train(tmp_path / "corpus", max_distribution=100))
    assert from_dir.languages == ["aaa", "bbb"]


def test_training_in_threads_is_serialised():
    out = [None] * 4

    def run(i):
        out[i] = tavik.train(CORPUS, meta={"source": "test"})

    threads = [threading.Thread(target=run, args=(i,)) for i in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert len(set(out)) == 1


@pytest.mark.parametrize(
    "corpus, error",
    [
        ({"toolongcode": ["abc"]}, tavik.InvalidArgumentError),
        ({"": ["abc"]}, tavik.InvalidArgumentError),
        ({"aaa": [b"bad \xff utf8"]}, tavik.BadUtf8Error),
        ({}, tavik.InvalidArgumentError),
        ({"aaa": ["nul \0 inside"]}, tavik.InvalidArgumentError),
        ("/nonexistent/corpus", tavik.InvalidArgumentError),
    ],
)
def test_bad_training_input(corpus, error):
    with pytest.raises(error):
        tavik.train(corpus)
    # Nothing of the failed training stays behind.
    assert tavik.Model(data=tavik.train({"ccc": ["abc abc"]})).languages == ["ccc"]
