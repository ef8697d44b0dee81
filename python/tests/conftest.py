# SPDX-License-Identifier: MIT
# The suite runs against the build folder's package (PYTHONPATH), the
# library and the tavik command of the same build, named by CTest.
import os

import pytest

import tavik


def _env_path(name):
    value = os.environ.get(name)
    if not value or not os.path.exists(value):
        pytest.skip(f"{name} not set to an existing file (run through ctest)")
    return value


@pytest.fixture(scope="session")
def cli():
    return _env_path("TAVIK_CLI")


@pytest.fixture(scope="session")
def libtavik():
    return _env_path("TAVIK_LIBRARY")


@pytest.fixture(scope="session")
def designed_profile():
    """data/default.tavik: the designed single profile."""
    return _env_path("TAVIK_DESIGNED_PROFILE")


@pytest.fixture(scope="session")
def embedded_model():
    """The file the module embeds: the multi-script model."""
    return _env_path("TAVIK_EMBEDDED_MODEL")


@pytest.fixture(scope="session")
def model():
    return tavik.Model()


@pytest.fixture(scope="session")
def designed(designed_profile):
    return tavik.Model(designed_profile)


# Texts of several languages and lengths, with the outcomes that matter:
# clear, ambiguous, too short, empty, a NUL-free mix of scripts.
TEXTS = [
    "Das ist ein Satz.",
    "The quick brown fox jumps over the lazy dog while the farmer watches from the porch.",
    "Hola, ¿cómo estás? Espero que todo vaya bien.",
    "Ceci est une phrase en français.",
    "Съешь же ещё этих мягких французских булок, да выпей чаю.",
    "Η γρήγορη καφέ αλεπού πηδάει πάνω από τον τεμπέλη σκύλο.",
    "私はガラスを食べられます。それは私を傷つけません。",
    "Jeg kan spise glas, det gør ikke ondt på mig.",
    "Jeg kan spise glass, det gjør ikke vondt.",
    "ok",
    "",
    "   \t\n  ",
    "Mixed: der Hund, the dog, le chien, el perro.",
]


@pytest.fixture(scope="session")
def lines_dir(tmp_path_factory):
    """A few thousand lines in three files, for the bulk and Dask tests."""
    root = tmp_path_factory.mktemp("lines")
    base = [t for t in TEXTS if "\n" not in t]
    for f in range(3):
        with open(root / f"part{f}.txt", "w", encoding="utf-8") as out:
            for i in range(1000):
                text = base[(i + f) % len(base)]
                out.write(f"{text} {i % 7 * 'x'}\n" if i % 5 == 0 else text + "\n")
    return root

