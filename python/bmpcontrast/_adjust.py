"""adjust(), adjust_bytes(), adjust_into(), curve() and adjust_many() over
the compiled engine."""

from __future__ import annotations

import errno
import operator
import os
import warnings
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass
from typing import Iterable, Optional, Tuple, Union

from . import _paths
from ._codes import SUCCESS, BMPContrastWarning, describe, error_for

from ._codes import _engine

_INT32_MIN, _INT32_MAX = -(2**31), 2**31 - 1

Pair = Tuple[_paths.PathArg, _paths.PathArg]
Buffer = Union[bytes, bytearray, memoryview]


def _check_level(level: int) -> int:
    # The engine takes a signed 32-bit level; a wider one must not wrap.
    level = operator.index(level)
    if not _INT32_MIN <= level <= _INT32_MAX:
        raise ValueError(f"level {level} does not fit in a signed 32-bit integer")
    return level


@dataclass(frozen=True)
class Result:
    """The outcome of one call.

    ``code`` is the library's result code, or None when the call was not
    made (a path it cannot be given, an output that exists with
    ``overwrite=False``); ``name`` is the code's name, or the exception's
    class name then; ``error`` is the exception :func:`adjust` raises, or
    None on success; ``lines`` are the library's fixed lines for the call,
    each ending in a newline, exactly as the C library would print them.
    """

    src: str
    dst: str
    code: Optional[int]
    name: str
    error: Optional[Exception]
    lines: Tuple[str, ...] = ()
    #: The warning lines, without their newline (a successful call on a file
    #: shorter than its headers say has one).
    warnings: Tuple[str, ...] = ()

    @property
    def ok(self) -> bool:
        return self.error is None


def _split(lines) -> Tuple[Tuple[str, ...], Tuple[str, ...]]:
    """The engine's (kind, text) lines as the texts, and the warnings."""
    texts = tuple(text for _, text in lines)
    return texts, tuple(text.rstrip("\n") for kind, text in lines if kind == "warning")


def _failure(src: str, dst: str, exc: Exception) -> Result:
    return Result(src, dst, None, type(exc).__name__, exc)


def _run(pair: Pair, level: int, overwrite: bool, colour: bool = False,
         make_folders: bool = False) -> Result:
    """One file, never raising for the file's sake and never warning: the
    callers decide what to raise and where to warn. With ``make_folders``
    the file job makes the folder of ``dst`` once it has a result for it."""
    src, dst = pair
    src_text, dst_text = _paths.to_str(src), _paths.to_str(dst)
    try:
        src_name, dst_name = _paths.encode(src), _paths.encode(dst)
    except ValueError as exc:
        return _failure(src_text, dst_text, exc)
    code, pairs, err, reason = _engine.adjust_file(src_name, dst_name, level, overwrite, colour,
                                                   make_folders)
    lines, warned = _split(pairs)
    if code == SUCCESS:
        return Result(src_text, dst_text, code, describe(code).name, None, lines, warned)
    if reason == "exists":
        return _failure(src_text, dst_text, _exists(dst_text))
    error = error_for(code, src_text, dst_text, next(iter(lines), ""))
    if err:
        cause = OSError(err, os.strerror(err), src_text if reason in ("input", "read") else dst_text)
        error.__cause__, error.__suppress_context__ = cause, True
    return Result(src_text, dst_text, code, error.name, error, lines, warned)


def _exists(dst: str) -> FileExistsError:
    return FileExistsError(errno.EEXIST, "output exists and overwrite is False", dst)


def _warn(src: str, dst: str, texts: Iterable[str], stacklevel: int) -> None:
    where = f" [{src!r} -> {dst!r}]" if src or dst else ""  # none for bytes
    for text in texts:
        warnings.warn(BMPContrastWarning(text + where), stacklevel=stacklevel + 1)


def adjust(src: _paths.PathArg, dst: _paths.PathArg, level: int, *,
           overwrite: bool = True, colour: bool = False) -> Result:
    """Adjust the contrast of bitmap ``src`` by ``level`` percent into ``dst``.

    With ``colour=True`` the colours a viewer sees are adjusted and alpha is
    kept, as the tool's ``--colour`` does: the colour table of 1-, 4- and
    8-bit files (RLE ones too), blue, green and red of 24- and 32-bit pixels
    (bit fields where each mask is one whole byte too); everything else is
    copied. Without it, the library's own conversion: every pixel byte of an
    uncompressed 8-, 24- or 32-bit file.

    ``src`` and ``dst`` are ``str``, ``bytes`` or ``os.PathLike``. The file
    is handled by the library's file job, as the command-line tool handles
    it: the output is written to a hidden scratch file in ``dst``'s folder
    (``.NAME.bmpcontrast-XXXXXX``) and renamed onto ``dst`` once complete,
    so ``dst`` is never seen half written (a process killed meanwhile
    leaves it as it was; the next call into that folder removes the
    scratch file), and ``dst`` may be ``src`` (then a read that fails keeps
    the original). A new ``dst`` has the mode of any new file (0666 less
    the umask), never readable by more users than ``src``; a file replaced
    keeps its mode, owner and group, a read-only one stays read-only, and
    one with other hard links is copied over so that they stay one file.
    A symbolic link at ``dst`` is followed: the file it points at is
    replaced. A device or a pipe (``/dev/null``) is written to where it is,
    not replaced. With ``overwrite=False`` an existing ``dst`` raises
    ``FileExistsError``, and is not replaced even if it appears while the
    call runs.

    Returns a :class:`Result` (code 999). A file holding less pixel data than
    its headers say is still converted, as the library does, and its
    warning is also emitted as a :class:`BMPContrastWarning`. Failures raise
    a :class:`BMPContrastError` subclass carrying the library's code and
    line; ``ValueError`` for a path with a NUL or a level outside 32 bits.
    Nothing is printed. The GIL is released while the file is converted.
    """
    level = _check_level(level)
    result = _run((src, dst), level, overwrite, colour)
    if result.error is not None:
        raise result.error
    _warn(result.src, result.dst, result.warnings, stacklevel=2)
    return result


def adjust_bytes(data: Union[bytes, bytearray, memoryview], level: int, *,
                 colour: bool = False) -> bytes:
    """The bytes :func:`adjust` would write for a file holding ``data``.

    ``colour`` is :func:`adjust`'s. Raises as :func:`adjust` does (``src``
    and ``dst`` are then empty), and :class:`OutOfMemoryError` where the
    headers claim an output larger than the process can hold. The GIL is
    released while converting.
    """
    level = _check_level(level)
    code, pairs, output = _engine.adjust_bytes(data, level, colour)
    lines, warned = _split(pairs)
    if code != SUCCESS:
        raise error_for(code, "", "", next(iter(lines), ""))
    _warn("", "", warned, stacklevel=2)
    return output


def adjust_into(data: Buffer, out: Buffer, level: int, *, colour: bool = False) -> int:
    """Write the bytes :func:`adjust_bytes` would return into ``out``, a
    writable buffer the caller owns (a ``bytearray``, a ``memoryview``, a
    one-dimensional ``numpy.uint8`` array, an ``mmap``), and return how many
    were written; the rest of ``out`` is left as it was.

    ``out`` may be ``data`` itself: the bitmap is then converted in place,
    without another block of memory (where its headers keep the layout and
    it holds all its pixels; otherwise through a block as large as the
    result). ``ValueError`` where ``out`` is smaller than the result, which
    for a complete file is never larger than the file; ``TypeError`` where
    ``out`` cannot be written. Nothing is written to ``out`` when the
    bitmap is refused. Otherwise raises and warns as :func:`adjust_bytes`.
    """
    level = _check_level(level)
    with memoryview(out) as view:
        if view.readonly:
            raise TypeError("adjust_into needs a writable buffer for out")
    code, pairs, written = _engine.adjust_into(data, out, level, colour)
    lines, warned = _split(pairs)
    if code != SUCCESS:
        raise error_for(code, "", "", next(iter(lines), ""))
    _warn("", "", warned, stacklevel=2)
    return written


def curve(level: int) -> bytes:
    """The 256-byte table the library maps every pixel byte through at
    ``level``: ``curve(level)[v]`` is what byte value ``v`` becomes."""
    level = _check_level(level)
    if level <= 0:
        raise error_for(12, line="Error: Contrast level must be positive.\n")
    return _engine.curve(level)


def _adjust_all(pairs: list[Pair], level: int, workers: int, overwrite: bool,
                colour: bool) -> list[Result]:
    if not pairs:
        return []
    if workers == 1 or len(pairs) == 1:
        return [_run(pair, level, overwrite, colour) for pair in pairs]
    with ThreadPoolExecutor(max_workers=min(workers, len(pairs))) as pool:
        return list(pool.map(lambda pair: _run(pair, level, overwrite, colour), pairs))


def _workers(workers: Optional[int]) -> int:
    count = workers if workers is not None else (os.cpu_count() or 1)
    count = operator.index(count)
    if count < 1:
        raise ValueError(f"workers must be at least 1, not {count}")
    return count


def adjust_many(
    pairs: Iterable[Pair],
    level: int,
    *,
    workers: Optional[int] = None,
    overwrite: bool = True,
    colour: bool = False,
) -> list[Result]:
    """Adjust every ``(src, dst)`` pair, ``workers`` files at a time on
    threads (default: one per processor), and
    return one :class:`Result` per pair, in order.

    Each pair is written as :func:`adjust` writes it (``colour`` is its
    too). A failing pair does not
    stop the others: its Result carries the exception instead. The warnings
    of all pairs are emitted once every pair is done, in order, so that
    ``-W error`` cannot leave pairs undone. Nothing coordinates two pairs
    naming the same ``dst``: one of the complete outputs wins.
    """
    level = _check_level(level)
    count = _workers(workers)
    pairs = list(pairs)
    for src, dst in pairs:  # a wrong type is the caller's bug: raised before any call
        _paths.to_str(src), _paths.to_str(dst)
    results = _adjust_all(pairs, level, count, overwrite, colour)
    for r in results:
        _warn(r.src, r.dst, r.warnings, stacklevel=2)
    return results
