"""Tests of the corpus tooling: python3 -m unittest discover scripts/corpus"""

import os
import struct
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # keep the work tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from build import cut, waterfill  # noqa: E402
from clean import LineFilter, normalise, strip_codes, strip_markup  # noqa: E402
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


if __name__ == "__main__":
    unittest.main()
