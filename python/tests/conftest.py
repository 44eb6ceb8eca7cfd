"""Runs against the build tree's library unless BMPCONTRAST_LIBRARY says
otherwise (set before the package loads it, so that Dask's worker
processes inherit it too)."""

from __future__ import annotations

import os
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("BMPCONTRAST_BUILD_DIR", ROOT / "build"))
os.environ.setdefault("BMPCONTRAST_LIBRARY", str(BUILD / "src/contrast/libbmpcontrast.so.1"))
sys.path.insert(0, str(Path(__file__).resolve().parent))


@pytest.fixture
def tool() -> Path:
    path = BUILD / "tools/bmpcontrast"
    if not path.exists():
        pytest.fail(f"{path} is missing: build the project first")
    return path
