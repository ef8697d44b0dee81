# SPDX-License-Identifier: MIT
"""Status codes and error classes of tavik; the compiled core raises these."""

from __future__ import annotations

import enum


class Status(enum.IntEnum):
    """The library's status codes (tavik_status)."""

    OK = 0
    TOO_FEW_NGRAMS = 1
    AMBIGUOUS = 2
    NO_PROFILE = 3
    BAD_PROFILE = 4
    BAD_UTF8 = 5
    INVALID = 6
    NO_MEMORY = 7
    UNSUPPORTED_SCRIPT = 8


class Error(Exception):
    """A failed tavik call.

    ``status`` is the library's :class:`Status`, ``message`` its error text
    and ``index`` the position of the failing item in ``identify_many``'s
    input (``None`` elsewhere).
    """

    def __init__(self, status: int, message: str, index: int | None = None) -> None:
        self.status = Status(status)
        self.message = message
        self.index = index
        text = message if index is None else f"item {index}: {message}"
        super().__init__(text)

    def __reduce__(self):
        # Rebuilt from its fields, so that errors cross process boundaries
        # (multiprocessing, Dask workers) as themselves.
        return (type(self), (int(self.status), self.message, self.index))


class BadProfileError(Error):
    """A profile file or bytes that are malformed, missing or unreadable."""


class BadUtf8Error(Error, ValueError):
    """A text that is not valid UTF-8."""


class InvalidArgumentError(Error, ValueError):
    """An unusable argument: an unknown language code, an item that is not text, ..."""


class NoMemoryError(Error, MemoryError):
    """The library could not allocate memory."""


_BY_STATUS = {
    Status.BAD_PROFILE: BadProfileError,
    Status.BAD_UTF8: BadUtf8Error,
    Status.INVALID: InvalidArgumentError,
    Status.NO_MEMORY: NoMemoryError,
}


def _error(status: int, message: str, index: int) -> Error:
    """The exception the compiled core raises for a failed call."""
    cls = _BY_STATUS.get(Status(status), Error)
    return cls(status, message, None if index < 0 else index)
