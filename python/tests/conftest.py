"""Tests of the installed package (the source folder is not on sys.path):
the C tool from the build tree is the reference for outputs."""

from __future__ import annotations

import os
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("BMPCONTRAST_BUILD_DIR", ROOT / "build"))
sys.path.insert(0, str(Path(__file__).resolve().parent))


@pytest.fixture(scope="session")
def tool() -> Path:
    path = BUILD / "tools/bmpcontrast"
    if not path.exists():
        pytest.fail(f"{path} is missing: build the project first")
    return path
