#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Print the Markdown tables of data/README.md from a built corpus:
bytes per language and source kind, bytes per package, dev samples.

    scripts/corpus/report.py [corpus] [data/dev.tsv]
"""

import os
import sys
from collections import defaultdict

sys.dont_write_bytecode = True  # keep the work tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from langs import LANGS  # noqa: E402

KINDS = [("cat", "catalogs"), ("wiki", "MediaWiki"), ("doc", "docs"), ("udhr", "UDHR")]


def main():
    top = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    corpus = sys.argv[1] if len(sys.argv) > 1 else os.path.join(top, "corpus")
    dev = sys.argv[2] if len(sys.argv) > 2 else os.path.join(top, "data", "dev.tsv")
    by_kind = defaultdict(lambda: defaultdict(int))
    by_pkg = defaultdict(int)
    pkg_langs = defaultdict(set)
    with open(os.path.join(corpus, "STATS.tsv"), encoding="utf-8") as f:
        next(f)
        for line in f:
            code, kind, pkg, b = line.rstrip("\n").split("\t")
            by_kind[code][kind] += int(b)
            by_pkg[pkg] += int(b)
            pkg_langs[pkg].add(code)
    samples = defaultdict(int)
    if os.path.exists(dev):
        with open(dev, encoding="utf-8") as f:
            for line in f:
                code = line.split("\t", 1)[0]
                samples[code] += 1

    print("| code | language | script | total | " + " | ".join(k[1] for k in KINDS) + " | dev samples |")
    print("|---|---|---|---:|" + "---:|" * len(KINDS) + "---:|")
    total = defaultdict(int)
    for code in sorted(by_kind):
        row = by_kind[code]
        t = sum(row.values())
        for k, _ in KINDS:
            total[k] += row[k]
        print("| %s | %s | %s | %d | %s | %d |" % (
            code, LANGS[code].name, LANGS[code].script, t,
            " | ".join(str(row[k]) if row[k] else "-" for k, _ in KINDS),
            samples[code]))
    print("| all | | | %d | %s | %d |" % (
        sum(total.values()), " | ".join(str(total[k]) for k, _ in KINDS), sum(samples.values())))
    print()
    versions = {}
    pf = os.path.join(corpus, "PACKAGES.tsv")
    if os.path.exists(pf):
        with open(pf, encoding="utf-8") as f:
            for line in f:
                name, ver = line.rstrip("\n").split("\t")
                versions[name.replace("npm:", "")] = ver
    print("| package | version | languages | bytes |")
    print("|---|---|---:|---:|")
    for pkg in sorted(by_pkg, key=lambda p: (-by_pkg[p], p)):
        print("| %s | %s | %d | %d |" % (pkg, versions.get(pkg, "?"), len(pkg_langs[pkg]), by_pkg[pkg]))


if __name__ == "__main__":
    main()
