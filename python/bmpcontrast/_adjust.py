"""adjust() and adjust_many(): one call of the library, and many on threads."""

from __future__ import annotations

import operator
import os
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass
from typing import Iterable, Optional, Tuple

from . import _library, _paths
from ._codes import SUCCESS, describe, error_for

_INT32_MIN, _INT32_MAX = -(2**31), 2**31 - 1


def _check_level(level: int) -> int:
    # ctypes would wrap a wider integer silently (2**32 + 150 into 150).
    level = operator.index(level)
    if not _INT32_MIN <= level <= _INT32_MAX:
        raise ValueError(f"level {level} does not fit in a signed 32-bit integer")
    return level


def _call(src: _paths.PathArg, dst: _paths.PathArg, level: int) -> int:
    return int(_library.function()(_paths.encode(src), _paths.encode(dst), level))


def adjust(src: _paths.PathArg, dst: _paths.PathArg, level: int) -> None:
    """Adjust the contrast of bitmap ``src`` by ``level`` percent into ``dst``.

    ``src`` and ``dst`` are ``str``, ``bytes`` or ``os.PathLike``; ``dst`` is
    created or overwritten, and may be ``src``. Returns None on success;
    raises a :class:`BMPContrastError` subclass carrying the library's code
    otherwise, ``ValueError`` for a path the library cannot be given or a
    level outside 32 bits, ``OSError`` if the library cannot be loaded.

    The library prints its fixed lines itself, through C stdio: errors on
    the process's stderr, "Success: Contrast adjustment applied." on its
    stdout (buffered by C, not by ``sys.stdout``).
    """
    level = _check_level(level)
    code = _call(src, dst, level)
    if code != SUCCESS:
        raise error_for(code, _paths.to_str(src), _paths.to_str(dst))


@dataclass(frozen=True)
class Result:
    """The outcome of one pair of :func:`adjust_many`.

    ``code`` is the library's result code, or None when the call was not
    made (a path it cannot be given); ``error`` is the exception
    :func:`adjust` would have raised, or None on success.
    """

    src: str
    dst: str
    code: Optional[int]
    name: str
    error: Optional[Exception]

    @property
    def ok(self) -> bool:
        return self.error is None


def _one(pair: Tuple[_paths.PathArg, _paths.PathArg], level: int) -> Result:
    src, dst = pair
    src_text, dst_text = _paths.to_str(src), _paths.to_str(dst)
    try:
        code = _call(src, dst, level)
    except ValueError as exc:
        return Result(src_text, dst_text, None, type(exc).__name__, exc)
    if code == SUCCESS:
        return Result(src_text, dst_text, code, describe(code).name, None)
    error = error_for(code, src_text, dst_text)
    return Result(src_text, dst_text, code, error.name, error)


def adjust_many(
    pairs: Iterable[Tuple[_paths.PathArg, _paths.PathArg]],
    level: int,
    *,
    jobs: Optional[int] = None,
) -> list[Result]:
    """Adjust every ``(src, dst)`` pair, ``jobs`` calls at a time (default:
    one per processor), and return one :class:`Result` per pair, in order.

    A failing pair does not stop the others. The calls run on threads: the
    library is thread-safe and ctypes releases the GIL during each call.
    Nothing coordinates two pairs that name the same file.
    """
    level = _check_level(level)
    pairs = list(pairs)
    for src, dst in pairs:  # a wrong type is the caller's bug: raised before any call
        _paths.to_str(src), _paths.to_str(dst)
    _library.function()  # a missing library is raised once, not per pair
    if not pairs:
        return []
    workers = jobs if jobs is not None else (os.cpu_count() or 1)
    if workers < 1:
        raise ValueError(f"jobs must be at least 1, not {workers}")
    with ThreadPoolExecutor(max_workers=min(workers, len(pairs))) as pool:
        return list(pool.map(lambda pair: _one(pair, level), pairs))
