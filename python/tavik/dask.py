# SPDX-License-Identifier: MIT
"""tavik on Dask: identify the texts of a ``dask.bag.Bag`` or a
``dask.dataframe.Series`` partition by partition.

Each worker process opens its model once, on the first partition it gets,
and keeps it for every later one; a partition goes through
:meth:`tavik.Model.identify_many`.  Results are :class:`tavik.Result`
objects (they pickle), in input order, equal to those of the serial
``tavik --lines`` on the same texts.

    import dask.bag as db
    import tavik.dask
    lines = db.read_text("texts/*.txt").map(str.rstrip, "\\n")
    counts = tavik.dask.identify_bag(lines).map(lambda r: r.code).frequencies()
"""

from __future__ import annotations

import os
import threading

import tavik

__all__ = ["identify_bag", "identify_series", "identify_partition"]

# Models of this process by profile path (None: the embedded one).
_models: dict[str | None, tavik.Model] = {}
_models_lock = threading.Lock()


def _model(profile: str | None) -> tavik.Model:
    with _models_lock:
        model = _models.get(profile)
        if model is None:
            model = tavik.default_model() if profile is None else tavik.Model(profile)
            _models[profile] = model
        return model


def identify_partition(texts, profile=None, jobs=1, errors="raise", **settings) -> list:
    """Identifies one partition's texts with this process's model of ``profile``."""
    return _model(profile).identify_many(texts, jobs=jobs, errors=errors, **settings)


def identify_bag(bag, *, profile: str | os.PathLike | None = None, jobs: int = 1,
                 errors: str = "raise", **settings):
    """A bag of :class:`tavik.Result` (or ``None`` under ``errors="none"``), one per text.

    ``profile`` is a profile file every worker can read (``None``: the
    embedded default).  ``jobs`` threads per partition: 1 by default, as
    the workers' own processes and threads already use the cores.  Further
    keywords are the settings of :meth:`tavik.Model.identify`.
    """
    path = None if profile is None else os.fspath(profile)
    return bag.map_partitions(identify_partition, path, jobs, errors, **settings)


def _series_partition(part, profile, jobs, errors, field, settings):
    import pandas as pd

    results = identify_partition(part.tolist(), profile, jobs, errors, **settings)
    if field is not None:
        results = [None if r is None else getattr(r, field) for r in results]
    return pd.Series(results, index=part.index, name=part.name, dtype=object)


def identify_series(series, *, field: str | None = "code", profile=None, jobs: int = 1,
                    errors: str = "raise", **settings):
    """A ``dask.dataframe.Series`` aligned with ``series`` (a Series or a
    DataFrame column of text): each text's ``field`` of its result
    ("code", "confidence", "status", ...), or the :class:`tavik.Result`
    itself for ``field=None``.  Other arguments as for :func:`identify_bag`.
    """
    path = None if profile is None else os.fspath(profile)
    return series.map_partitions(_series_partition, path, jobs, errors, field, settings,
                                 meta=(series.name, object))
