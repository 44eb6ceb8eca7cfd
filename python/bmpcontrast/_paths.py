"""Turning Python paths into the file names the engine opens."""

from __future__ import annotations

import os
from typing import Union

PathArg = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]


def to_str(path: PathArg) -> str:
    """The path as text: bytes are decoded as the file system encoding does
    (os.fsdecode), so they name the same file Python's own functions do."""
    return os.fsdecode(os.fspath(path))


def encode(path: PathArg) -> bytes:
    """The file name as the OS takes it (os.fsencode): bytes as given, text
    through the file system encoding, so names that are not UTF-8 (bytes, or
    the surrogates os.fsdecode makes of them) reach the same file.

    A NUL would cut the name short, and a lone surrogate os.fsdecode never
    makes has no bytes form: either would name a different file, so both
    are refused with ValueError (UnicodeEncodeError is one).
    """
    name = os.fsencode(os.fspath(path))
    if b"\0" in name:
        raise ValueError(f"path contains a NUL character: {to_str(path)!r}")
    if not name:
        raise ValueError("path is empty")
    return name
