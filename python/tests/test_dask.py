# SPDX-License-Identifier: MIT
# tavik.dask on a LocalCluster of two worker processes, against the serial
# tavik --lines on the same lines.
import json
import subprocess

import pytest

dask = pytest.importorskip("dask")
distributed = pytest.importorskip("distributed")
dd = pytest.importorskip("dask.dataframe")
import dask.bag as db  # noqa: E402
import pandas as pd  # noqa: E402

import tavik  # noqa: E402
import tavik.dask  # noqa: E402


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None, scheduler_port=0) as cluster:
        with distributed.Client(cluster, timeout="30s") as c:
            yield c


def cli_results(cli, files):
    out = subprocess.run([cli, "--lines", "--json", "--top", "0"], input=b"".join(f.read_bytes() for f in files),
                         capture_output=True, check=False, timeout=60).stdout
    return [json.loads(line) for line in out.decode().splitlines()]


# The fields both give: Python and the command share one outcome.
def as_document(r):
    return {"status": int(r.status), "language": r.language, "ngrams": r.ngrams,
            "confidence": r.confidence, "probability": r.probability, "reliable": r.reliable,
            "results": [[c, d] for c, d in r.results]}


def cli_document(doc):
    return {"status": doc["status_code"], "language": doc["language"], "ngrams": doc["ngrams"],
            "confidence": doc["confidence"], "probability": doc["probability"],
            "reliable": doc["reliable"],
            "results": [[x["language"], x["distance"]] for x in doc["results"]]}


def test_bag_equals_the_cli(client, cli, lines_dir):
    files = sorted(lines_dir.glob("*.txt"))
    lines = db.read_text([str(f) for f in files], blocksize=None).map(lambda s: s.rstrip("\n"))
    results = tavik.dask.identify_bag(lines).compute()
    expected = [cli_document(d) for d in cli_results(cli, files)]
    assert len(results) == len(expected) == 3000
    assert [as_document(r) for r in results] == expected
    # Each worker process opened the model once, not per partition.
    opened = client.run(lambda: len(tavik.dask._models))
    assert sorted(opened.values()) in ([0, 1], [1, 1])


def test_series_and_counts(client, lines_dir):
    texts = [line for f in sorted(lines_dir.glob("*.txt")) for line in f.read_text().splitlines()]
    frame = dd.from_pandas(pd.DataFrame({"text": texts}), npartitions=4)
    codes = tavik.dask.identify_series(frame["text"]).compute()
    local = tavik.identify_many(texts, jobs=1)
    assert codes.tolist() == [r.code for r in local]
    assert list(codes.index) == list(range(len(texts)))
    statuses = tavik.dask.identify_series(frame.text, field="status").compute()
    assert statuses.tolist() == [r.status for r in local]


def test_failing_items_on_workers(client):
    bag = db.from_sequence(["Das ist ein Satz.", b"\xff bad", "Ceci est une phrase."], npartitions=2)
    got = tavik.dask.identify_bag(bag, errors="none").compute()
    assert got[1] is None and got[0].code == "deu"
    with pytest.raises(tavik.BadUtf8Error):
        tavik.dask.identify_bag(bag).compute()
