# SPDX-License-Identifier: MIT
"""tavik names the natural language of a text (typed interface)."""

import enum
import os
from typing import Any, Iterable, Literal, Mapping, Sequence, overload

__version__: str

class Status(enum.IntEnum):
    """The library's status codes."""

    OK = 0
    """A clear winner."""
    TOO_FEW_NGRAMS = 1
    """The text has fewer n-grams than ``min_ngrams``: no results."""
    AMBIGUOUS = 2
    """Results complete, but the winner leads by less than ``min_margin``."""
    NO_PROFILE = 3
    BAD_PROFILE = 4
    BAD_UTF8 = 5
    INVALID = 6
    NO_MEMORY = 7
    UNSUPPORTED_SCRIPT = 8
    """A model of several members serves no candidate of the text's script:
    no results, no language."""

class Error(Exception):
    """A failed tavik call."""

    status: Status
    """The library's status code."""
    message: str
    """The library's error text."""
    index: int | None
    """For ``identify_many``: the position of the failing item; else None."""
    def __init__(self, status: int, message: str, index: int | None = ...) -> None: ...

class BadProfileError(Error):
    """A profile file or bytes that are malformed, missing or unreadable."""

class BadUtf8Error(Error, ValueError):
    """A text (bytes, or a str with lone surrogates) that is not valid UTF-8."""

class InvalidArgumentError(Error, ValueError):
    """An unusable argument: an unknown candidate or language code, an item
    of ``identify_many`` that is neither str nor bytes, a bad training code."""

class NoMemoryError(Error, MemoryError):
    """The library could not allocate memory."""

class Result:
    """The outcome of identifying one text.  Equal results compare equal;
    results pickle (for Dask and multiprocessing)."""

    @property
    def code(self) -> str | None:
        """The winner's code; None unless the status is OK."""
    @property
    def language(self) -> str | None:
        """The closest language, as the ``tavik`` command names it: also for
        an ambiguous or too-short text (see ``status``); None when the text
        has no n-gram."""
    @property
    def confidence(self) -> float:
        """The closest language's relative lead over the runner-up, 0 to 1
        (not a probability); 0.0 when no language is named."""
    @property
    def probability(self) -> float | None:
        """The calibrated chance that ``language`` is right, from the
        model's own calibration; None when the model carries none."""
    @property
    def reliable(self) -> bool:
        """The status is OK and ``probability`` reaches the model's
        reliability threshold."""
    @property
    def status(self) -> Status:
        """OK, AMBIGUOUS or TOO_FEW_NGRAMS (failures raise instead)."""
    @property
    def ngrams(self) -> int:
        """The number of ranked n-grams of the text."""
    @property
    def results(self) -> list[tuple[str, float]]:
        """Every scored language as (code, distance), closest first (close
        relatives the model groups are ordered by likelihood when they lead);
        empty when the text has no n-gram."""
    @property
    def is_ambiguous(self) -> bool:
        """The status is AMBIGUOUS: ``results[0]`` is the closest, but not clearly."""
    @property
    def is_too_short(self) -> bool:
        """The status is TOO_FEW_NGRAMS."""
    def to_dict(self) -> dict[str, Any]:
        """code, language, confidence, probability, reliable, status (int),
        ngrams and results as a dict."""

class Session:
    """Fixed settings and candidates over a model, reused across calls.
    One thread at a time; open one per thread."""

    @property
    def languages(self) -> list[str]:
        """The languages this session scores (its candidates), in profile order."""
    def identify(self, text: str | bytes) -> Result:
        """As :meth:`Model.identify` with this session's settings."""
    def explain(self, text: str | bytes, code: str) -> dict[str, Any]:
        """As :meth:`Model.explain` with this session's settings."""

class Model:
    """A loaded profile.  Immutable: any number of threads may use one."""

    def __init__(self, path: str | os.PathLike | None = None, data: bytes | None = None) -> None:
        """Opens the profile or model file ``path``, or the one in ``data``,
        or (neither given) the default model compiled into the module: over
        100 languages in member profiles routed by script.  The designed
        single profile is the file data/default.tavik (installed as
        share/tavik/default.tavik).

        Raises BadProfileError for a missing, unreadable or malformed profile.
        """
    @property
    def languages(self) -> list[str]:
        """Language codes in profile order."""
    @property
    def meta(self) -> dict[str, str]:
        """The profile's meta pairs (licence, source, ...)."""
    @property
    def id(self) -> str:
        """The profile's identifier, such as "tavik-v1-L58"."""
    def identify(
        self,
        text: str | bytes,
        *,
        min_ngrams: int | None = ...,
        min_margin: float | None = ...,
        size_penalty: bool | None = ...,
        max_ngram_length: int | None = ...,
        max_distribution: int | None = ...,
        occurance_threshold: int | None = ...,
        candidates: Sequence[str] | None = ...,
    ) -> Result:
        """Identifies ``text`` (str, or bytes holding UTF-8).

        Settings left at None keep their defaults (those of the profile);
        ``candidates`` restricts scoring to these codes.  Raises BadUtf8Error
        for bytes that are not UTF-8 and InvalidArgumentError for an unknown
        candidate.  Holds the interpreter lock: use identify_many for volume.
        """
    def session(
        self,
        *,
        min_ngrams: int | None = ...,
        min_margin: float | None = ...,
        size_penalty: bool | None = ...,
        max_ngram_length: int | None = ...,
        max_distribution: int | None = ...,
        occurance_threshold: int | None = ...,
        candidates: Sequence[str] | None = ...,
    ) -> Session:
        """A reusable session with these settings."""
    @overload
    def identify_many(
        self, texts: Iterable[str | bytes], jobs: int | None = ..., errors: Literal["raise"] = ..., **settings: Any
    ) -> list[Result]: ...
    @overload
    def identify_many(
        self, texts: Iterable[Any], jobs: int | None = ..., errors: Literal["none"] = ..., **settings: Any
    ) -> list[Result | None]:
        """Identifies every text on ``jobs`` threads (default: the cores this
        process may use), one session per thread, with the interpreter lock
        released.  Results are in input order and equal those of identify.

        errors="raise" (the default): the first failing item (bytes that are
        not UTF-8, an item that is neither str nor bytes) raises its Error,
        whose ``index`` names it.  errors="none": failing items give None.
        Settings as for identify.
        """
    def explain(self, text: str | bytes, code: str, **settings: Any) -> dict[str, Any]:
        """The explanation document of ``code`` for ``text``: how each query
        n-gram contributed to that language's distance."""

def default_model() -> Model:
    """The compiled-in default model, opened on first use."""

def identify(text: str | bytes, **settings: Any) -> Result:
    """Identifies ``text`` with the default model (see Model.identify)."""

def identify_many(
    texts: Iterable[Any], jobs: int | None = ..., errors: Literal["raise", "none"] = ..., **settings: Any
) -> list[Any]:
    """identify_many with the default model (see Model.identify_many)."""

@overload
def train(
    corpus: Mapping[str, Iterable[str | bytes]] | str | os.PathLike,
    path: None = ...,
    *,
    meta: Mapping[str, str] | None = ...,
    max_ngram_length: int = ...,
    max_distribution: int = ...,
    occurance_threshold: int = ...,
) -> bytes: ...
@overload
def train(
    corpus: Mapping[str, Iterable[str | bytes]] | str | os.PathLike,
    path: str | os.PathLike,
    *,
    meta: Mapping[str, str] | None = ...,
    max_ngram_length: int = ...,
    max_distribution: int = ...,
    occurance_threshold: int = ...,
) -> None:
    """Trains a profile from ``corpus``: a dict of language code to texts,
    or a directory laid out as <dir>/<code>/*.txt (as tavik-train reads).
    Returns the profile's bytes (open them with Model(data=...)), or writes
    it to ``path``.  Training is process-wide in the library: concurrent
    calls run one after another.  Raises InvalidArgumentError for a bad
    code and BadUtf8Error for text that is not UTF-8.
    """
