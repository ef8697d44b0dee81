#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Members of the multi-script default model, and its evaluation.

    model.py plan CORPUS
        Lines "member NAME SCRIPTS CODE,CODE,...", "direct SCRIPT CODE" and
        "left-out CODE REASON" for the languages of CORPUS (corpus-model/).
    model.py eval --tavik BIN (--members DIR | --profile FILE) [--case upper|nfd] DEV.tsv
        Routes every sample by the dominant script of its text, as the model
        does: to the member serving that script (DIR/NAME.tavik, identified
        by BIN), to the language a direct script names, or nowhere (wrong).
        Prints accuracy per length, per script and per language, and the
        confusion counts of the close relatives.
    model.py relatives CODE,CODE,...
        The tavik.relatives value of a member of these languages (empty
        when it holds no two of one group).
    model.py words CODE CORPUS
        The tavik.words.CODE value of a grouped language: the words of its
        text in CORPUS, most frequent first, as many as fit 65,535 bytes.

A script written by one language of the corpus is routed directly; a script
of several languages gets a member profile. A member holds at most 64
languages: when a script has more, the 64 with most training text stay and
the rest are left out (two members cannot serve the same script).
"""

import os
import re
import subprocess
import sys
import unicodedata
from collections import defaultdict

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import clean as cleaning  # noqa: E402
from langs import LANGS  # noqa: E402

MAX_MEMBER = 64

# Script class of the corpus -> (member name, the scripts it serves as
# tavik_script_name spells them). Chinese and Japanese share one member.
MEMBER_OF = {
    "Latn": ("latin", "Latin"),
    "Cyrl": ("cyrillic", "Cyrillic"),
    "Arab": ("arabic", "Arabic"),
    "Deva": ("devanagari", "Devanagari"),
    "Beng": ("bengali", "Bengali"),
    "Hebr": ("hebrew", "Hebrew"),
    "Hans": ("cjk", "Han,Japanese"),
    "Hant": ("cjk", "Han,Japanese"),
    "Jpan": ("cjk", "Han,Japanese"),
}
# Script class -> the script name a direct route uses.
SCRIPT_NAME = {
    "Latn": "Latin", "Cyrl": "Cyrillic", "Grek": "Greek", "Arab": "Arabic",
    "Hebr": "Hebrew", "Deva": "Devanagari", "Beng": "Bengali",
    "Guru": "Gurmukhi", "Gujr": "Gujarati", "Orya": "Oriya", "Taml": "Tamil",
    "Telu": "Telugu", "Knda": "Kannada", "Mlym": "Malayalam",
    "Sinh": "Sinhala", "Thai": "Thai", "Laoo": "Lao", "Mymr": "Myanmar",
    "Geor": "Georgian", "Armn": "Armenian", "Ethi": "Ethiopic",
    "Khmr": "Khmer", "Tibt": "Tibetan", "Kore": "Korean", "Nkoo": "Nko",
}
# Unicode name prefix of a letter -> the script name routing uses.
NAME_PREFIX = {
    "LATIN": "Latin", "GREEK": "Greek", "CYRILLIC": "Cyrillic",
    "ARABIC": "Arabic", "HEBREW": "Hebrew", "DEVANAGARI": "Devanagari",
    "BENGALI": "Bengali", "GURMUKHI": "Gurmukhi", "GUJARATI": "Gujarati",
    "ORIYA": "Oriya", "TAMIL": "Tamil", "TELUGU": "Telugu",
    "KANNADA": "Kannada", "MALAYALAM": "Malayalam", "SINHALA": "Sinhala",
    "THAI": "Thai", "LAO": "Lao", "MYANMAR": "Myanmar",
    "GEORGIAN": "Georgian", "ARMENIAN": "Armenian", "ETHIOPIC": "Ethiopic",
    "KHMER": "Khmer", "TIBETAN": "Tibetan", "NKO": "Nko", "HANGUL": "Korean",
    "CJK": "Han", "HIRAGANA": "Kana", "KATAKANA": "Kana", "BOPOMOFO": "Han",
    "KANGXI": "Han",
}

# Languages of the corpus the model leaves out, with the reason (measured on
# data/dev-model.tsv with 16,000 n-grams a language).
LEFT_OUT = {
    "bos": "cannot be told from Croatian by this method: with it, Bosnian was "
           "59/76/76% and Croatian 63/66/79% at 30/100/400 characters",
    "mai": "Maithili takes short Hindi texts: with it, Maithili was 74/93/98% and "
           "Hindi 87/97/97%",
}

# Close relatives whose confusions are reported as pairs.
RELATIVES = [
    ["dan", "nob", "nno"], ["ind", "msa"], ["bul", "mkd", "srp"], ["por", "glg"],
    ["ces", "slk"], ["hrv", "slv", "bos"], ["spa", "cat", "glg"], ["nld", "afr", "fry"],
]


# Close relatives a member tells apart by likelihood (its tavik.relatives
# pair): the groups whose first two languages by distance are wrong most
# often on the development set. Measured per group before adding it
# (data/README.md, "Close relatives").
MEMBER_RELATIVES = [
    ["ind", "jav", "msa", "sun"], ["dan", "nno", "nob", "swe"],
    ["ast", "cat", "glg", "por", "spa"], ["ces", "slk"], ["hrv", "slv"], ["afr", "fry", "nld"],
    ["bul", "mkd", "srp"], ["bel", "rus", "ukr"], ["hin", "mar", "nep", "san"],
]


def relatives_value(codes):
    """The tavik.relatives value of a member of `codes`: the groups of
    MEMBER_RELATIVES cut to its languages, those left with two or more."""
    groups = [[c for c in g if c in codes] for g in MEMBER_RELATIVES]
    return ";".join(",".join(g) for g in groups if len(g) >= 2)


WORDS_BYTES = 65535  # the most a meta value holds


def fold(ch):
    """Simple case folding, as the text model folds: one code point to one."""
    f = ch.casefold()
    if len(f) == 1:
        return f
    f = ch.lower()
    return f if len(f) == 1 else ch


_WORD_RE = None


def text_words(text):
    """The words of a text as a text model of Unicode letters, case folding
    and NFC cuts them: runs of letters (general category L or M, and
    U+200C or U+200D between two letters), folded."""
    global _WORD_RE
    if _WORD_RE is None:
        letter = cleaning.unicode_letter_class()
        _WORD_RE = re.compile("%s+(?:[\u200c\u200d]%s+)*" % (letter, letter))
    out = []
    for w in _WORD_RE.findall(unicodedata.normalize("NFC", text)):
        # Full folding never shortens a code point: of the same length, it
        # folded each one to one, as simple folding does.
        f = w.casefold()
        out.append(f if len(f) == len(w) else "".join(fold(ch) for ch in w))
    return out


def words_value(corpus, code):
    """The tavik.words value of a language: the words of its training text,
    most frequent first (then by their bytes), as many as fit a meta value."""
    counts = defaultdict(int)
    d = os.path.join(corpus, code)
    for name in sorted(os.listdir(d)):
        if name.endswith(".txt"):
            with open(os.path.join(d, name), encoding="utf-8") as f:
                for line in f:
                    for w in text_words(line):
                        counts[w] += 1
    words, size = [], -1
    for w, _n in sorted(counts.items(), key=lambda kv: (-kv[1], kv[0].encode("utf-8"))):
        size += len(w.encode("utf-8")) + 1
        if size > WORDS_BYTES:
            break
        words.append(w)
    return " ".join(words)


def corpus_bytes(corpus, code):
    d = os.path.join(corpus, code)
    return sum(os.path.getsize(os.path.join(d, f)) for f in sorted(os.listdir(d)) if f.endswith(".txt"))


def plan(corpus):
    """(members {name: (scripts, [codes])}, direct {script: code},
    left_out [(code, reason)])."""
    codes = sorted(c for c in os.listdir(corpus)
                   if c in LANGS and os.path.isdir(os.path.join(corpus, c)))
    left = [(c, LEFT_OUT[c]) for c in codes if c in LEFT_OUT]
    codes = [c for c in codes if c not in LEFT_OUT]
    by_class = defaultdict(list)
    for c in codes:
        by_class[LANGS[c].script].append(c)
    members = {}
    direct = {}
    by_member = defaultdict(list)
    for sc in sorted(by_class):
        cs = by_class[sc]
        if sc in MEMBER_OF and (len(cs) > 1 or MEMBER_OF[sc][0] == "cjk"):
            by_member[MEMBER_OF[sc]].extend(cs)
        elif len(cs) == 1:
            direct[SCRIPT_NAME[sc]] = cs[0]
        else:
            by_member[(sc.lower(), SCRIPT_NAME[sc])].extend(cs)
    for (name, scripts), cs in sorted(by_member.items()):
        cs = sorted(cs)
        if len(cs) > MAX_MEMBER:
            ranked = sorted(cs, key=lambda c: (-corpus_bytes(corpus, c), c))
            for c in ranked[MAX_MEMBER:]:
                left.append((c, "%s member full (64 languages; %d bytes of text)" % (
                    name, corpus_bytes(corpus, c))))
            cs = sorted(ranked[:MAX_MEMBER])
        members[name] = (scripts, cs)
    return members, direct, left


def dominant_script(text):
    """The script of most letters of text ("Japanese" for Han with kana)."""
    counts = defaultdict(int)
    for ch in text:
        if not unicodedata.category(ch).startswith("L"):
            continue
        name = unicodedata.name(ch, "")
        counts[NAME_PREFIX.get(name.split(" ", 1)[0], "Other")] += 1
    if not counts:
        return None
    if counts.get("Kana") and (counts.get("Han", 0) + counts["Kana"]) >= max(counts.values()):
        return "Japanese"
    best = sorted(counts.items(), key=lambda kv: (-kv[1], kv[0]))[0][0]
    return "Japanese" if best == "Kana" else best


def read_dev(path, case):
    rows = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            code, text, n = line.rstrip("\n").split("\t")
            if case == "upper":
                text = text.upper()
            elif case == "nfd":
                text = unicodedata.normalize("NFD", text)
            rows.append((code, text, int(n)))
    return rows


def identify(tavik, profile, texts):
    """Codes tavik names for texts ("?" for an ambiguous or too-short outcome:
    counted wrong)."""
    data = "".join(t.replace("\n", " ") + "\n" for t in texts).encode("utf-8")
    out = subprocess.run([tavik, "--profile", profile, "--lines", "-j", "2"], input=data,
                         stdout=subprocess.PIPE, check=False).stdout.decode("utf-8")
    res = []
    for line in out.splitlines():
        f = line.split("\t")
        res.append(f[0] if len(f) == 2 else "?" + f[0])
    if len(res) != len(texts):
        raise SystemExit("tavik gave %d results for %d texts" % (len(res), len(texts)))
    return res


def evaluate_single(tavik, profile, dev, case):
    """A single profile (the designed default, for the figures before the
    model) on the samples of its own languages."""
    out = subprocess.run([tavik, "--list", "--profile", profile], stdout=subprocess.PIPE,
                         check=True).stdout.decode("utf-8")
    codes = [l.split("\t")[1] for l in out.splitlines() if l.startswith("language\t")]
    rows = [r for r in read_dev(dev, case) if r[0] in codes]
    got = identify(tavik, profile, [r[1] for r in rows])
    return rows, got, {"profile": ("", codes)}, {}


def evaluate(tavik, members_dir, dev, case):
    members, direct, _left = plan_from_dir(members_dir)
    rows = read_dev(dev, case)
    route = {}
    for name, (scripts, _cs) in members.items():
        for s in scripts.split(","):
            route[s] = ("member", name)
    for s, c in direct.items():
        route[s] = ("direct", c)
    got = [None] * len(rows)
    batches = defaultdict(list)
    for i, (code, text, _n) in enumerate(rows):
        s = dominant_script(text)
        r = route.get(s)
        if r is None:
            got[i] = "?unsupported"
        elif r[0] == "direct":
            got[i] = r[1]
        else:
            batches[r[1]].append(i)
    for name in sorted(batches):
        idx = batches[name]
        res = identify(tavik, os.path.join(members_dir, name + ".tavik"), [rows[i][1] for i in idx])
        for i, r in zip(idx, res):
            got[i] = r
    return rows, got, members, direct


def plan_from_dir(members_dir):
    """The plan written beside the member profiles by train-default-model."""
    members, direct, left = {}, {}, []
    with open(os.path.join(members_dir, "PLAN.tsv"), encoding="utf-8") as f:
        for line in f:
            p = line.rstrip("\n").split("\t")
            if p[0] == "member":
                members[p[1]] = (p[2], p[3].split(","))
            elif p[0] == "direct":
                direct[p[1]] = p[2]
            elif p[0] == "left-out":
                left.append((p[1], p[2]))
    return members, direct, left


def report(rows, got, members, direct):
    script_of = {}
    for name, (scripts, cs) in members.items():
        for c in cs:
            script_of[c] = name
    for s, c in direct.items():
        script_of[c] = "direct:" + s
    lengths = sorted({n for _c, _t, n in rows})
    tot = defaultdict(lambda: [0, 0])
    per_lang = defaultdict(lambda: [0, 0])
    per_group = defaultdict(lambda: [0, 0])
    conf = defaultdict(int)
    outside = set()
    for (code, _text, n), g in zip(rows, got):
        if code not in script_of:
            outside.add(code)  # a language the model leaves out
            continue
        ok = g == code
        for key, table in (((n,), tot), ((code, n), per_lang),
                           ((script_of.get(code, "?"), n), per_group)):
            table[key][0] += ok
            table[key][1] += 1
        if not ok:
            conf[(code, "(ambiguous)" if g.startswith("?") else g)] += 1
    pct = lambda a: 100.0 * a[0] / a[1] if a[1] else 0.0  # noqa: E731
    print("overall: " + "  ".join("%d: %.2f%% (%d)" % (n, pct(tot[(n,)]), tot[(n,)][1]) for n in lengths))
    print("\nby member or direct script:")
    for g in sorted({k[0] for k in per_group}):
        print("  %-22s %s" % (g, "  ".join("%6.2f" % pct(per_group[(g, n)]) for n in lengths)))
    print("\nby language (%s):" % "/".join(str(n) for n in lengths))
    for c in sorted({k[0] for k in per_lang}):
        print("  %-7s %-22s %s" % (c, script_of.get(c, "?"),
                                   "  ".join("%6.2f" % pct(per_lang[(c, n)]) for n in lengths)))
    print("\nclose relatives (true->named: count, all lengths):")
    for grp in RELATIVES:
        pairs = ["%s->%s %d" % (a, b, conf[(a, b)]) for a in grp for b in grp if a != b]
        print("  " + ", ".join(pairs))
    if outside:
        print("\nnot in the model (samples not counted): " + " ".join(sorted(outside)))
    top = sorted(conf.items(), key=lambda kv: (-kv[1], kv[0]))[:20]
    print("\nmost frequent errors: " + ", ".join("%s->%s %d" % (a, b, n) for (a, b), n in top))


def main(argv):
    if len(argv) >= 2 and argv[0] == "plan":
        members, direct, left = plan(argv[1])
        for name, (scripts, cs) in sorted(members.items()):
            print("member\t%s\t%s\t%s" % (name, scripts, ",".join(cs)))
        for s, c in sorted(direct.items()):
            print("direct\t%s\t%s" % (s, c))
        for c, why in left:
            print("left-out\t%s\t%s" % (c, why))
        return 0
    if len(argv) == 2 and argv[0] == "relatives":
        print(relatives_value(set(argv[1].split(","))))
        return 0
    if len(argv) == 3 and argv[0] == "words":
        print(words_value(argv[2], argv[1]))
        return 0
    if argv and argv[0] == "eval":
        import argparse
        ap = argparse.ArgumentParser(prog="model.py eval")
        ap.add_argument("--tavik", required=True)
        ap.add_argument("--members", help="the folder of train-default-model")
        ap.add_argument("--profile", help="one profile instead of the model's members")
        ap.add_argument("--case", choices=["upper", "nfd"], default=None)
        ap.add_argument("dev")
        a = ap.parse_args(argv[1:])
        if a.profile:
            rows, got, members, direct = evaluate_single(a.tavik, a.profile, a.dev, a.case)
        else:
            rows, got, members, direct = evaluate(a.tavik, a.members, a.dev, a.case)
        report(rows, got, members, direct)
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
