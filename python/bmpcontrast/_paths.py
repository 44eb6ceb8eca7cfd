"""Turning Python paths into the library's UTF-16 strings."""

from __future__ import annotations

import os
from typing import Union

PathArg = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]


def to_str(path: PathArg) -> str:
    """The path as text: bytes are decoded as the file system encoding does
    (os.fsdecode), so they name the same file Python's own functions do."""
    return os.fsdecode(os.fspath(path))


def encode(path: PathArg) -> bytes:
    """A NUL-terminated UTF-16LE buffer for the library.

    The library opens the UTF-8 form of the name. A name holding a NUL
    would be cut short, and one holding a surrogate (what os.fsdecode makes
    of bytes that are not UTF-8) has no UTF-8 form: either would name a
    different file, so both are refused with ValueError.
    """
    text = to_str(path)
    if "\0" in text:
        raise ValueError(f"path contains a NUL character: {text!r}")
    try:
        return text.encode("utf-16-le") + b"\0\0"
    except UnicodeEncodeError:
        raise ValueError(
            f"path {text!r} is not valid Unicode (a lone surrogate, as from "
            "bytes that are not UTF-8); the library cannot open it"
        ) from None
