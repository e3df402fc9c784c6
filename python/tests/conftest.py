"""Shared fixtures: the bundled examples, the console program to compare with
(TARNOK_PROGRAM, else the dev build's), and the St. Louis problem."""

import os
import subprocess
from pathlib import Path

import pytest

import tarnok

ROOT = Path(__file__).resolve().parents[2]
EXAMPLES = ROOT / "examples"


def st_louis_files():
    return [str(EXAMPLES / "st_louis" / name) for name in ("profile.tsv", "form.tsv", "data.tsv")]


@pytest.fixture(scope="session")
def program():
    path = Path(os.environ.get("TARNOK_PROGRAM", ROOT / "build" / "dev" / "tarnok"))
    if not path.exists():
        pytest.skip(f"no console program at {path} (set TARNOK_PROGRAM)")
    return path


def run_program(program, *args, cwd=None):
    """The console program's run: (exit status, standard output)."""
    done = subprocess.run([str(program), *map(str, args)], stdin=subprocess.DEVNULL, capture_output=True,
                          cwd=cwd, check=False)
    return done.returncode, done.stdout.decode("utf-8", "replace")


@pytest.fixture(scope="session")
def st_louis():
    return tarnok.load(*st_louis_files())
