"""The library's result codes and the exceptions raised for them."""

from __future__ import annotations

from typing import NamedTuple

try:
    from . import _engine
except ImportError as exc:  # a source folder on sys.path, not an installed package
    raise ImportError(
        "bmpcontrast's compiled engine (bmpcontrast._engine) is missing: install the "
        "package with pip (pip install --no-build-isolation ./python) rather than "
        "importing it from its source folder"
    ) from exc


class Code(NamedTuple):
    value: int
    name: str
    meaning: str


SUCCESS = 999


def _short(name: str) -> str:
    """The header's short name: BMPCONTRAST_LEVEL_NOT_POSITIVE -> LevelNotPositive."""
    return "".join(word.capitalize() for word in name.removeprefix("BMPCONTRAST_").split("_"))


# From the C header as compiled into the engine: its table is the one list
# of codes, names and meanings.
CODES: dict[int, Code] = {
    value: Code(value, _short(name), meaning) for value, name, meaning in _engine.results()
}


def describe(code: int) -> Code:
    """The name and meaning of a result code; unknown codes are named "Unknown"."""
    return CODES.get(code, Code(code, "Unknown", f"unknown result code {code}"))


class BMPContrastError(Exception):
    """A call of the library failed.

    ``code`` is the library's result code, ``name`` and ``meaning`` describe
    it; ``src`` and ``dst`` are the paths of the call ("" for a call on
    bytes or a level alone, and then left out of the message); ``line`` is the
    library's fixed line for the failure ("Error: ...\\n"), or "" for the
    failures that have none (an input or output that cannot be opened, whose
    OSError is then the exception's ``__cause__``).
    """

    def __init__(self, code: int, src: str = "", dst: str = "", line: str = "") -> None:
        described = describe(code)
        super().__init__(code, src, dst, line)
        self.code = code
        self.name = described.name
        self.meaning = described.meaning
        self.src = src
        self.dst = dst
        self.line = line

    def __str__(self) -> str:
        text = f"{self.name} ({self.code}): {self.meaning}"
        # adjust_bytes() and curve() have no files to name.
        if self.src or self.dst:
            text += f" [{self.src!r} -> {self.dst!r}]"
        return f"{text}: {self.line.strip()}" if self.line else text


class BMPContrastWarning(UserWarning):
    """The library's warning line for a call that succeeded: the input held
    less pixel data than its headers say, and the rest was taken as zero
    bytes. ``python -W error::bmpcontrast.BMPContrastWarning`` makes it an
    error."""


class LevelNotPositiveError(BMPContrastError, ValueError):
    """12: the level is not positive; no file was opened."""


class InputOpenError(BMPContrastError):
    """13: the input file cannot be opened."""


class InvalidBitmapError(BMPContrastError):
    """The input is not a bitmap the library handles (1333, 1444, 14444, 166)."""


class HeaderReadError(InvalidBitmapError):
    """1333: the headers cannot be read, or the signature is not "BM"."""


class InvalidDimensionsError(InvalidBitmapError):
    """1444: width or height out of range."""


class UnsupportedBitDepthError(InvalidBitmapError):
    """14444: not 8, 24 or 32 bits per pixel."""


class CompressionUnsupportedError(InvalidBitmapError):
    """166: the pixel data is compressed."""


class OutOfMemoryError(BMPContrastError, MemoryError):
    """1: the output could not be allocated (adjust_bytes on a bitmap whose
    headers claim more than the process can hold)."""


class OutputOpenError(BMPContrastError):
    """41: the output cannot be opened, or writing it failed."""


_ERRORS: dict[int, type[BMPContrastError]] = {
    12: LevelNotPositiveError,
    13: InputOpenError,
    1333: HeaderReadError,
    1444: InvalidDimensionsError,
    14444: UnsupportedBitDepthError,
    166: CompressionUnsupportedError,
    1: OutOfMemoryError,
    41: OutputOpenError,
}


def error_for(code: int, src: str = "", dst: str = "", line: str = "") -> BMPContrastError:
    """The exception for a failed call's code."""
    return _ERRORS.get(code, BMPContrastError)(code, src, dst, line)
