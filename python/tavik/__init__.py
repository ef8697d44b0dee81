# SPDX-License-Identifier: MIT
"""tavik names the natural language of a text.

    >>> import tavik
    >>> tavik.identify("Das ist ein Satz.").code
    'deu'

See ``__init__.pyi`` (or ``help(tavik.Model)``) for the whole interface.
"""

from __future__ import annotations

import os
import tempfile
import threading
from pathlib import Path
from typing import Iterable, Mapping

from ._tavik import Model, Result, Session
from ._tavik import _train
from ._types import (
    BadProfileError,
    BadUtf8Error,
    Error,
    InvalidArgumentError,
    NoMemoryError,
    Status,
)

__all__ = [
    "BadProfileError",
    "BadUtf8Error",
    "Error",
    "InvalidArgumentError",
    "Model",
    "NoMemoryError",
    "Result",
    "Session",
    "Status",
    "default_model",
    "identify",
    "identify_many",
    "train",
]

__version__ = "1.0.0"

_default: Model | None = None
_default_lock = threading.Lock()


def default_model() -> Model:
    """The model compiled into the module (the multi-script default model),
    opened on first use."""
    global _default
    if _default is None:
        with _default_lock:
            if _default is None:
                _default = Model()
    return _default


def identify(text: str | bytes, **settings) -> Result:
    """Identifies ``text`` with the default model; see :meth:`Model.identify`."""
    return default_model().identify(text, **settings)


def identify_many(texts, jobs=None, errors="raise", **settings) -> list:
    """Identifies every text with the default model; see :meth:`Model.identify_many`."""
    return default_model().identify_many(texts, jobs=jobs, errors=errors, **settings)


def _corpus_from_dir(path: Path) -> list[tuple[str, list[bytes]]]:
    # The layout tavik-train reads: <dir>/<code>/*.txt, in byte order.
    langs = []
    for sub in sorted(p for p in path.iterdir() if p.is_dir()):
        files = sorted(f for f in sub.iterdir() if f.suffix == ".txt" and f.is_file())
        langs.append((sub.name, [f.read_bytes() for f in files]))
    return langs


def train(
    corpus: Mapping[str, Iterable[str | bytes]] | str | os.PathLike,
    path: str | os.PathLike | None = None,
    *,
    meta: Mapping[str, str] | None = None,
    **settings,
) -> bytes | None:
    """Trains a profile; returns its bytes, or writes it to ``path`` and returns None."""
    if isinstance(corpus, (str, os.PathLike)):
        root = Path(corpus)
        if not root.is_dir():
            raise InvalidArgumentError(Status.INVALID, f"corpus directory '{root}' not found")
        langs = _corpus_from_dir(root)
    else:
        langs = [(code, list(texts)) for code, texts in corpus.items()]
    pairs = list((meta or {}).items())
    if path is not None:
        _train(langs, pairs, os.fspath(path), **settings)
        return None
    with tempfile.TemporaryDirectory(prefix="tavik-train-") as tmp:
        out = os.path.join(tmp, "profile.tavik")
        _train(langs, pairs, out, **settings)
        with open(out, "rb") as f:
            return f.read()
