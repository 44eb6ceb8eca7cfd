"""Builds bmpcontrast._engine from the library's own engine sources.

In a checkout the sources are next to this folder (../src/engine,
../src/files and ../include); they are copied into ./engine, which the sdist carries, so a
wheel built from the sdist needs nothing else. pybind11's headers are needed
at build time only (Debian: pybind11-dev).
"""

from __future__ import annotations

import os
import re
import shutil
from pathlib import Path

from setuptools import Extension, setup

HERE = Path(__file__).resolve().parent
CHECKOUT = HERE.parent
# The layers the extension is built from: the engine (the bytes) and the
# file job. Their folders are the list of sources; the exported call
# (src/capi) is not part of the extension.
LAYERS = ("engine", "files")
ENGINE = HERE / "engine"


def engine_sources() -> list[str]:
    """Every C++ source of the layers, less those for another system."""
    found = []
    for layer in LAYERS:
        for path in sorted((ENGINE / "src" / layer).rglob("*.cpp")):
            if not path.stem.endswith("_windows"):
                found.append(path.relative_to(HERE).as_posix())
    return found


def version() -> str:
    text = (HERE / "bmpcontrast" / "_version.py").read_text()
    return re.search(r'__version__ = "([^"]+)"', text).group(1)


def copy_if_changed(src: Path, dst: Path) -> None:
    if dst.exists() and dst.read_bytes() == src.read_bytes():
        return  # an unchanged copy keeps its time stamp, so nothing rebuilds
    dst.parent.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(src, dst)


def vendor_engine() -> None:
    """Refresh ./engine from the checkout; a no-op in an unpacked sdist."""
    source = CHECKOUT / "src"
    if not (source / "engine").is_dir():
        if not (ENGINE / "src" / "engine" / "engine.h").exists():
            raise SystemExit("bmpcontrast: the engine sources are missing (neither "
                             f"{source} nor {ENGINE} holds them)")
        return
    wanted = {path.relative_to(source) for layer in LAYERS for path in (source / layer).rglob("*")
              if path.suffix in (".cpp", ".h") and path.is_file()}
    for rel in sorted(wanted):
        copy_if_changed(source / rel, ENGINE / "src" / rel)
    for old in (ENGINE / "src").rglob("*"):  # files the engine no longer has
        if old.is_file() and old.relative_to(ENGINE / "src") not in wanted:
            old.unlink()
    copy_if_changed(CHECKOUT / "include" / "bmpcontrast.h", ENGINE / "include" / "bmpcontrast.h")
    major, minor, patch = version().split(".")
    template = (HERE.parent / "cmake" / "bmpcontrast_version.h.in").read_text()
    header = (template.replace("@PROJECT_VERSION_MAJOR@", major)
              .replace("@PROJECT_VERSION_MINOR@", minor)
              .replace("@PROJECT_VERSION_PATCH@", patch)
              .replace("@PROJECT_VERSION@", version()))
    target = ENGINE / "include" / "bmpcontrast_version.h"
    if not target.exists() or target.read_text() != header:
        target.write_text(header)


def pybind11_includes() -> list[str]:
    try:
        import pybind11  # a pip-installed pybind11, where there is one
        return [pybind11.get_include()]
    except ImportError:
        pass
    for folder in ("/usr/include", "/usr/local/include"):
        if Path(folder, "pybind11", "pybind11.h").exists():
            return []  # on the compiler's own search path
    raise SystemExit("bmpcontrast: pybind11's headers are missing "
                     "(Debian: apt-get install pybind11-dev)")


vendor_engine()
# Relative to this folder: setuptools wants it so in an sdist.
os.chdir(HERE)

engine = Extension(
    "bmpcontrast._engine",
    sources=["ext/engine_module.cpp", *engine_sources()],
    include_dirs=[*(f"engine/src/{layer}" for layer in LAYERS), "engine/include",
                  *pybind11_includes()],
    define_macros=[("_FILE_OFFSET_BITS", "64"), ("BMPCONTRAST_STATIC", None)],
    extra_compile_args=[
        "-std=c++20",
        # The curve is binary32 operations rounded one at a time: no FMA.
        "-ffp-contract=off",
        "-fvisibility=hidden",
        "-fvisibility-inlines-hidden",
        "-O2",
        "-g0",
        "-Wall", "-Wextra",
    ],
    extra_link_args=["-Wl,--version-script=ext/engine.map"],
    depends=["ext/engine.map"],
    language="c++",
)

setup(ext_modules=[engine])
