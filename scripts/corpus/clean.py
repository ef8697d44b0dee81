# SPDX-License-Identifier: MIT
"""Text cleaning shared by all sources.

The identifier splits text into words made of the letters of a fixed table
(Latin, Greek, Cyrillic, CJK ideographs, kana, Hangul); everything else
separates words. The cleaning here keeps the text a user would type in the
language it claims to be: no markup, no placeholders, no accelerators, no
URLs, no words of another script, no lines without letters.
"""

import html
import re
import unicodedata

# The letter table of the identifier, as closed code point ranges: a copy of
# kLetterRanges in src/letter_table.h (test_corpus.py holds the two equal).
LETTER_RANGES = [
    (0x0041, 0x005A), (0x0061, 0x007A), (0x00C0, 0x00D6), (0x00D8, 0x00F6),
    (0x00F8, 0x024F), (0x0370, 0x052F), (0x2E80, 0x2FFF), (0x3040, 0x318F),
    (0x3400, 0x4DBF), (0x4E00, 0x9FFF), (0xAC00, 0xD7AF), (0xF900, 0xFAFF),
    (0xFF21, 0xFF3A), (0xFF41, 0xFF5A), (0xFF66, 0xFF9D), (0x20000, 0x2CEAF),
]


def _letter_class():
    parts = []
    for lo, hi in LETTER_RANGES:
        parts.append(_esc(lo) + "-" + _esc(hi))
    return "[" + "".join(parts) + "]"


def _esc(cp):
    return "\\U%08x" % cp


LETTER = _letter_class()
WORD_RE = re.compile(LETTER + "+")
HAS_LETTER_RE = re.compile(LETTER)
UNICODE_LETTERS = False


def _unicode_ranges():
    """Closed ranges of every code point of category L or M: the letters of
    a text model with Unicode letters (tavik-train --letters unicode)."""
    ranges = []
    start = None
    for cp in range(0x110000):
        ok = unicodedata.category(chr(cp))[0] in "LM"
        if ok and start is None:
            start = cp
        elif not ok and start is not None:
            ranges.append((start, cp - 1))
            start = None
    if start is not None:
        ranges.append((start, 0x10FFFF))
    return ranges


_UNICODE_RES = None
_UNICODE_LETTER = None


def unicode_letter_class():
    """The regular-expression class of Unicode letters (category L or M)."""
    global _UNICODE_LETTER
    if _UNICODE_LETTER is None:
        _UNICODE_LETTER = "[" + "".join(_esc(lo) + "-" + _esc(hi) for lo, hi in _unicode_ranges()) + "]"
    return _UNICODE_LETTER


def use_unicode_letters(on=True):
    """Switch the module to Unicode letters (category L or M), for the
    multi-script default model, or back to the designed table. Joiners then
    stay in the text: they are no letters there either, so the text is cut
    as the model cuts queries."""
    global LETTER, WORD_RE, HAS_LETTER_RE, INVISIBLE_RE, UNICODE_LETTERS, _UNICODE_RES
    if not on:
        LETTER, WORD_RE, HAS_LETTER_RE, INVISIBLE_RE = _DESIGNED_RES
        UNICODE_LETTERS = False
        return
    if _UNICODE_RES is None:
        letter = unicode_letter_class()
        _UNICODE_RES = (letter, re.compile(letter + "+"), re.compile(letter),
                        re.compile("[\u00ad\u200b\u2060\ufeff\u200e\u200f\u202a-\u202e\u2066-\u2069]"))
    LETTER, WORD_RE, HAS_LETTER_RE, INVISIBLE_RE = _UNICODE_RES
    UNICODE_LETTERS = True


# Unicode name prefixes of the scripts outside the designed letter table.
_NAME_SCRIPTS = {
    "LATIN": "Latn", "GREEK": "Grek", "CYRILLIC": "Cyrl", "ARABIC": "Arab",
    "HEBREW": "Hebr", "DEVANAGARI": "Deva", "BENGALI": "Beng",
    "GURMUKHI": "Guru", "GUJARATI": "Gujr", "ORIYA": "Orya", "TAMIL": "Taml",
    "TELUGU": "Telu", "KANNADA": "Knda", "MALAYALAM": "Mlym",
    "SINHALA": "Sinh", "THAI": "Thai", "LAO": "Laoo", "MYANMAR": "Mymr",
    "GEORGIAN": "Geor", "ARMENIAN": "Armn", "ETHIOPIC": "Ethi",
    "KHMER": "Khmr", "TIBETAN": "Tibt", "NKO": "Nkoo", "COMBINING": "Zinh",
    "HANGUL": "Hang", "HIRAGANA": "Kana", "KATAKANA": "Kana", "CJK": "Hani",
    "BOPOMOFO": "Bopo",
}
_script_cache = {}


def _in_table(cp):
    for lo, hi in LETTER_RANGES:
        if lo <= cp <= hi:
            return True
    return False


def script_of(ch):
    """Script class of one letter: Latn, Grek, Cyrl, Hani, Kana, Hang (and,
    with Unicode letters, the ISO 15924 name of the others; Zinh for
    combining marks, which every script may use)."""
    cp = ord(ch)
    if UNICODE_LETTERS:
        sc = _script_cache.get(ch)
        if sc is None:
            if _in_table(cp):
                sc = _designed_script(cp)
            else:
                sc = _NAME_SCRIPTS.get(unicodedata.name(ch, "").split(" ", 1)[0], "Zyyy")
            _script_cache[ch] = sc
        return sc
    return _designed_script(cp)


def _designed_script(cp):
    if cp < 0x0250 or 0xFF21 <= cp <= 0xFF5A:
        return "Latn"
    if 0x0370 <= cp <= 0x03FF:
        return "Grek"
    if 0x0400 <= cp <= 0x052F:
        return "Cyrl"
    if 0x3040 <= cp <= 0x30FF or 0x31F0 <= cp <= 0x31FF or 0xFF66 <= cp <= 0xFF9D:
        return "Kana"
    if 0x3100 <= cp <= 0x312F:
        return "Bopo"
    if 0x3130 <= cp <= 0x318F or 0xAC00 <= cp <= 0xD7AF:
        return "Hang"
    return "Hani"


# Which letter scripts a language of each script class may use.
ALLOWED = {
    "Latn": {"Latn"},
    "Grek": {"Grek"},
    "Cyrl": {"Cyrl"},
    "Hans": {"Hani"},
    "Hant": {"Hani", "Bopo"},
    "Jpan": {"Hani", "Kana"},
    "Kore": {"Hang"},
}
for _sc in ("Arab", "Hebr", "Deva", "Beng", "Guru", "Gujr", "Orya", "Taml", "Telu",
            "Knda", "Mlym", "Sinh", "Thai", "Laoo", "Mymr", "Geor", "Armn", "Ethi",
            "Khmr", "Tibt", "Nkoo"):
    ALLOWED[_sc] = {_sc, "Zinh"}
# Combining marks belong to the letter before them (Unicode letters only).
for _sc in ("Latn", "Grek", "Cyrl"):
    ALLOWED[_sc] = ALLOWED[_sc] | {"Zinh"}

# Markup, placeholders and the like.
URL_RE = re.compile(r"""
    (?:
        # a scheme and whatever follows it up to a space, bracket or quote
        \b(?:https?|ftps?|file|mailto|irc|news|git|ssh|sftp|smb|nfs|ldap)s?
        :/*[^\s<>"']*
      | \bwww\.[^\s<>"']+             # an address without a scheme
      | [\w.+-]+@[\w-]+\.[\w.-]+       # a mail address
    )
""", re.I | re.X)
TAG_RE = re.compile(r"""
    </?[A-Za-z][A-Za-z0-9:_-]*        # an opening or closing tag's name
    (?:\s[^<>]*)?/?>                  # its attributes; "/>" closes it at once
  | <!--.*?-->                        # a comment, across lines
""", re.S | re.X)
ENTITY_RE = re.compile(r"&(?:#\d+|#x[0-9A-Fa-f]+|[A-Za-z][A-Za-z0-9]*);")
PRINTF_RE = re.compile(r"""
    # C and gettext: position, flags, width, precision, size, conversion
    %(?:\d+\$)?[-+#0']*(?:\d+|\*)?(?:\.(?:\d+|\*))?
    (?:hh|h|ll|l|L|q|j|z|t|I|I64|I32)?[diouxXeEfFgGaAcspnSCm%]
  | %\([A-Za-z0-9_]+\)[A-Za-z]          # Python: %(name)s
  | %\{[^{}]*\}                        # %{name}
  | %[A-Za-z_][A-Za-z0-9_]*%            # Windows-style %NAME%
  | %\d+                               # Qt and KDE: %1
  | %[A-Z_]{2,}\b                      # %NAME
""", re.X)
BRACE_RE = re.compile(r"""
    \{\{?[^{}]*\}?\}       # {0}, {name}, {{name}}
  | \$\{[^{}]*\}          # ${name}
  | \$[0-9]+              # $1
  | \$[A-Za-z_][A-Za-z0-9_]*\b   # $name
  | \\[nrt]              # an escape left in the text: \n, \r, \t
""", re.X)
# Accelerator marks: "(_O)", "(&O)" after CJK labels; "_" or "&" before a letter.
ACCEL_PAREN_RE = re.compile(r"\s*[(（][_&][A-Za-z0-9][)）]")
ACCEL_RE = re.compile(r"""
    (?<![\w&])[_&](?=\w)    # "_" or "&" that starts a word
  | (?<=\w)&(?=\w)          # "&" inside a word
""", re.X)
UNDERSCORE_WORDS_RE = re.compile(r"\b\w+_\w+\b")
INVISIBLE_RE = re.compile("[\u00ad\u200b\u200c\u200d\u2060\ufeff\u200e\u200f\u202a-\u202e\u2066-\u2069]")
SPACES_RE = re.compile(r"[ \t\u00a0\u2000-\u200a\u202f\u205f\u3000]+")
# Technical tokens: file names, paths, options, identifiers with digits.
PATH_RE = re.compile(r"""
    (?<![\w/])(?:~|\.{1,2})?/[\w.\-/~*]+    # /usr/bin, ~/x, ../y
  | \b\w+\.                                 # a file name by its extension
    (?:png|jpe?g|gif|svg|txt|xml|html?|css|js|json|conf|cfg|ini|desktop|so|exe
      |py|pl|sh|mo|po|deb|rpm|iso|zip|gz|tar|php|md|pdf|odt|ods)\b
  | (?<!\w)--?[A-Za-z][\w-]*                 # a command-line option
""", re.I | re.X)
CAMEL_RE = re.compile(r"""
    \b[A-Za-z]+[0-9][A-Za-z0-9]*\b     # letters, then digits: utf8, mp3
  | \b[0-9]+[A-Za-z][A-Za-z0-9]*\b     # digits, then letters: 3D, 64bit
  | \b[a-z]+[A-Z][A-Za-z]*\b           # camelCase
  | \#[0-9A-Fa-f]{3,8}\b               # a colour: #8A2BE2
""", re.X)
# Quotes and brackets left empty where a placeholder was removed.
EMPTY_PAIR_RE = re.compile(r"""
    ["\u201c\u201d\u201e\u00ab\u00bb\u2018\u2019\u201a'\u300c\u300e(\[\uff08]   # an opening mark
    \s*
    ["\u201c\u201d\u00bb\u00ab\u2019\u2018'\u300d\u300f)\]\uff09]               # a closing one
""", re.X)
# Filler text of designers and typographers.
FILLER_RE = re.compile(r"\b(?:lorem|ipsum|consectetur|adipiscing|eiusmod|tempor)\b", re.I)

# Words that show an untranslated English string inside another language.
ENGLISH_MARKERS = frozenset(
    "the and with your you this that which from have has should would could "
    "there their been these those when what into only about please cannot "
    "does".split())


_DESIGNED_RES = (LETTER, WORD_RE, HAS_LETTER_RE, INVISIBLE_RE)


def strip_markup(s):
    """Remove XML/HTML tags and resolve character entities."""
    s = TAG_RE.sub(" ", s)
    s = ENTITY_RE.sub(lambda m: html.unescape(m.group(0)), s)
    return s


def strip_codes(s):
    """Remove URLs, printf/brace placeholders, accelerators, technical tokens."""
    s = URL_RE.sub(" ", s)
    s = PRINTF_RE.sub(" ", s)
    s = BRACE_RE.sub(" ", s)
    s = ACCEL_PAREN_RE.sub("", s)
    s = ACCEL_RE.sub("", s)
    s = PATH_RE.sub(" ", s)
    s = UNDERSCORE_WORDS_RE.sub(" ", s)
    s = CAMEL_RE.sub(" ", s)
    return s


def normalise(s):
    s = unicodedata.normalize("NFC", s)
    s = INVISIBLE_RE.sub("", s)
    s = s.replace("\r", "\n")
    return s


def tidy_line(s):
    return SPACES_RE.sub(" ", s).strip()


class LineFilter:
    """Per-language line filter: script purity, English leftovers, noise."""

    def __init__(self, script, is_english=False, drop_words=frozenset()):
        self.allowed = ALLOWED[script]
        self.script = script
        self.is_english = is_english
        self.drop_words = drop_words

    def __call__(self, line):
        """Return the cleaned line, or None to drop it."""
        line = tidy_line(EMPTY_PAIR_RE.sub(" ", line))
        words = WORD_RE.findall(line)
        if not words or FILLER_RE.search(line):
            return None
        good = bad = 0
        for w in words:
            for ch in w:
                if script_of(ch) in self.allowed:
                    good += 1
                else:
                    bad += 1
        if good < 3 or bad > good:
            return None
        if self.script == "Latn" and not self.is_english:
            low = [w.lower() for w in words]
            hits = sum(1 for w in low if w in ENGLISH_MARKERS)
            if hits >= 2 or (hits == 1 and len(words) <= 4):
                return None
        # Remove words of other scripts and tokens common to all languages.
        if bad or self.drop_words:
            def repl(m):
                w = m.group(0)
                if w in self.drop_words:
                    return " "
                if any(script_of(ch) not in self.allowed for ch in w):
                    return " "
                return w
            line = WORD_RE.sub(repl, line)
            line = tidy_line(line)
            if len(HAS_LETTER_RE.findall(line)) < 3:
                return None
        # A line must carry some words, not only punctuation around them.
        letters = len(HAS_LETTER_RE.findall(line))
        if letters * 2 < len(line.replace(" ", "")):
            return None
        return line


def split_lines(text):
    for raw in text.split("\n"):
        line = tidy_line(raw)
        if line:
            yield line
