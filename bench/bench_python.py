#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Python and Dask throughput on the 100-character texts of data/dev.tsv.

    PYTHONPATH=BUILD/python python3 bench/bench_python.py [--cxx BUILD/bench_texts]

Prints, in texts per second: the C++ session interface (bench_texts, when
--cxx names it), tavik.Model.identify one by one, identify_many with
jobs = 1, 2, 4, and tavik.dask.identify_bag on a LocalCluster of 2 worker
processes against identify_many in this process.  Rates are the best of
--repeat runs on the wall clock; for jobs=1 also per CPU second, which is
what bench_texts reports and what a loaded machine distorts least.
"""

import argparse
import os
import re
import subprocess
import sys
import time
from operator import attrgetter

import tavik

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def dev_texts(length=100):
    texts = []
    with open(os.path.join(ROOT, "data", "dev.tsv"), encoding="utf-8") as f:
        for line in f:
            label, _, rest = line.rstrip("\n").partition("\t")
            text, _, n = rest.rpartition("\t")
            if n == str(length):
                texts.append(text)
    return texts


def best(fn, repeat):
    """(wall seconds, CPU seconds of this process) of the fastest run."""
    runs = []
    for _ in range(repeat):
        w, c = time.perf_counter(), time.process_time()
        fn()
        runs.append((time.perf_counter() - w, time.process_time() - c))
    return min(runs)


def row(name, n, wall, cpu=None):
    cpu_rate = f"{n / cpu:12,.0f}" if cpu else f"{'':>12}"
    print(f"{name:44s} {n / wall:12,.0f} {cpu_rate}")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--cxx", help="the bench_texts program, for the C++ baseline")
    ap.add_argument("--copies", type=int, default=10, help="times the 5800 texts are repeated (default 10)")
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--no-dask", action="store_true")
    args = ap.parse_args()

    base = dev_texts()
    texts = base * args.copies
    n = len(texts)
    model = tavik.Model()
    print(f"{n} texts of 100 characters; load average {os.getloadavg()[0]:.1f} "
          f"on {os.cpu_count()} CPUs; Python {sys.version.split()[0]}")
    print(f"{'':44s} {'texts/s wall':>12} {'texts/s CPU':>12}")

    def cxx():
        out = subprocess.run([args.cxx, "--benchmark_min_time=2"], capture_output=True, text=True,
                             check=True).stdout
        m = re.search(r"BM_SessionTexts\s+(\d+) ns\s+(\d+) ns", out)
        return int(m.group(1)) * 1e-9, int(m.group(2)) * 1e-9

    if args.cxx:
        # On a shared machine the rates drift with the load: alternate the
        # two, and compare each Python run with the C++ run next to it.
        ratios = []
        for _ in range(args.repeat):
            wall_c, cpu_c = cxx()
            _, cpu_p = best(lambda: model.identify_many(texts, jobs=1), 1)
            ratios.append((n / cpu_p) / (1 / cpu_c))
        row("C++ session (bench_texts), last run", 1, wall_c, cpu_c)
        print(f"identify_many(jobs=1) / C++ session, CPU rates, alternating runs: "
              + ", ".join(f"{r:.3f}" for r in ratios))

    wall, cpu = best(lambda: [model.identify(t) for t in texts], args.repeat)
    row("Model.identify, one by one", n, wall, cpu)
    for jobs in (1, 2, 4):
        wall, cpu = best(lambda: model.identify_many(texts, jobs=jobs), args.repeat)
        row(f"Model.identify_many(jobs={jobs})", n, wall, cpu if jobs == 1 else None)

    if args.no_dask:
        return
    import dask.bag as db
    import distributed

    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        from tavik import dask as tavik_dask

        bag = db.from_sequence(texts, npartitions=16).persist()
        distributed.wait(bag)
        client.run(lambda: tavik.default_model() is not None)  # open the model before timing

        # Equal graphs get equal keys, and the scheduler may still hold a
        # previous run's results: a fresh nonce per run makes them new.
        nonce = iter(range(1 << 30))

        def fresh():
            return bag.map_partitions(lambda part, _: part, next(nonce))

        def counts():
            return tavik_dask.identify_bag(fresh()).map(attrgetter("code")).frequencies().compute()

        def results():
            return tavik_dask.identify_bag(fresh()).compute()

        wall, _ = best(counts, args.repeat)
        row("Dask bag, 2 workers: codes counted", n, wall)
        wall, _ = best(results, args.repeat)
        row("Dask bag, 2 workers: Results to the client", n, wall)
    wall, _ = best(lambda: model.identify_many(texts, jobs=2), args.repeat)
    row("identify_many(jobs=2) in this process", n, wall)


if __name__ == "__main__":
    main()
