"""Folders of bitmaps spread over the workers of a ``dask.distributed``
cluster.

    from dask.distributed import Client, LocalCluster
    from bmpcontrast.dask import adjust_folder

    if __name__ == "__main__":  # the cluster's worker processes import this script too
        with LocalCluster(n_workers=2, threads_per_worker=1) as cluster, Client(cluster) as client:
            table = adjust_folder(client, "photos", "bright", 150)

Every worker needs this package, at the client's version, and must see
``src_dir`` and ``dst_dir`` under the same names as the client (a shared
file system); :func:`adjust_folder` checks the first before sending any
work. Dask is imported only when a function here needs it.
"""

from __future__ import annotations

import asyncio
import errno
import os
import threading
import uuid
from concurrent.futures import ThreadPoolExecutor
from typing import Any, Optional, Sequence

from . import _paths
from ._adjust import _check_level, _run, _split, _warn
from ._codes import SUCCESS, _engine, describe, error_for
from ._version import __version__

Record = dict[str, Any]

SKIPPED = "Skipped"
CANCELLED = "Cancelled"

# The runs that adjust_folder has stopped, by token, in each worker's
# process: set through client.run, read by the tasks before each file.
_STOPPED: set[str] = set()


class WorkerSetupError(RuntimeError):
    """Some workers cannot run the conversion: the package is missing there,
    broken, or at another version. ``workers`` maps each such worker's
    address to the reason."""

    def __init__(self, workers: dict[str, str]) -> None:
        self.workers = dict(workers)
        listed = "; ".join(f"{addr}: {why}" for addr, why in sorted(self.workers.items()))
        super().__init__(
            f"bmpcontrast {__version__} cannot run on {len(self.workers)} worker(s): {listed}"
        )


# The probe travels by value (its module is not importable on the worker),
# so that a worker without the package can still answer it.
_PROBE_SOURCE = '''
def probe():
    try:
        import bmpcontrast
        return "ok", bmpcontrast.__version__
    except BaseException as exc:
        return "error", f"{type(exc).__name__}: {exc}"
'''


def _probe_function() -> Any:
    namespace: dict[str, Any] = {"__name__": "bmpcontrast_worker_probe"}
    exec(_PROBE_SOURCE, namespace)
    return namespace["probe"]


def check_workers(client: Any) -> list[str]:
    """The addresses of the workers of ``client``, once each has shown that it
    imports this package at this version; raises :class:`WorkerSetupError`
    naming those that cannot, and ``RuntimeError`` if there are none."""
    answers = client.run(_probe_function(), on_error="return")
    if not answers:
        raise RuntimeError("the Dask cluster has no workers")
    bad = {}
    for addr, answer in answers.items():
        if isinstance(answer, BaseException):
            bad[addr] = f"{type(answer).__name__}: {answer}"
        elif answer[0] != "ok":
            bad[addr] = answer[1]
        elif answer[1] != __version__:
            bad[addr] = f"version {answer[1]}, not {__version__}"
    if bad:
        raise WorkerSetupError(bad)
    return sorted(answers)


def _record(src: str, dst: str, code: Optional[int], name: str, error: Optional[str],
            warnings: Sequence[str] = (), skipped: bool = False) -> Record:
    return {"src": src, "dst": dst, "code": code, "name": name, "error": error,
            "warnings": list(warnings), "skipped": skipped}


def _stop_event_name(token: str) -> str:
    return f"bmpcontrast-stop-{token}"


def _stop_here(token: str) -> None:
    # Runs on each worker (client.run): no file of the run starts there after it.
    _STOPPED.add(token)


def _stopped_by_event(token: str) -> bool:
    # Set on the scheduler before the workers hear of it, so that a batch
    # starting on a worker that joined since does not run either.
    from distributed import Event

    return Event(_stop_event_name(token)).is_set()


def _appeared(src: str, dst: str, level: int, colour: bool = False) -> Record:
    """The record of an output that exists although the client found it
    missing: written by this run if it holds exactly this run's conversion
    (a batch run again after its worker was lost), else left alone as
    skipped. The conversion is made in memory and compared there: no file
    is written for it."""
    try:
        with open(src, "rb") as f:
            code, pairs, output = _engine.adjust_bytes(f.read(), level, colour)
        if code == SUCCESS and output is not None:
            with open(dst, "rb") as f:
                if f.read() == output:
                    _, warned = _split(pairs)
                    return _record(src, dst, code, describe(code).name, None, warned)
    except OSError:
        pass  # cannot tell: the output is left alone all the same
    return _record(src, dst, None, SKIPPED, None, skipped=True)


def _adjust_batch(pairs: Sequence[tuple[str, str]], level: int, jobs: int,
                  overwrite: bool, token: str = "", colour: bool = False) -> list[Record]:
    # Runs on a worker; returns plain records so that nothing but built-in
    # types travel back, and emits no warnings there (they are in the
    # records). Before each file it looks whether the run was stopped.
    pairs = list(pairs)
    if token and token not in _STOPPED and _stopped_by_event(token):
        _STOPPED.add(token)

    def one(pair: tuple[str, str]) -> Record:
        src, dst = pair
        if token in _STOPPED:
            return _record(src, dst, None, CANCELLED, "the run was stopped before this file")
        r = _run(pair, level, overwrite, colour, make_folders=True)
        if isinstance(r.error, FileExistsError):
            return _appeared(src, dst, level, colour)
        return _record(r.src, r.dst, r.code, r.name,
                       None if r.error is None else str(r.error), r.warnings)

    if jobs == 1 or len(pairs) <= 1:
        return [one(pair) for pair in pairs]
    with ThreadPoolExecutor(max_workers=min(jobs, len(pairs))) as pool:
        return list(pool.map(one, pairs))


def list_bitmaps(src_dir: "str | os.PathLike[str]", suffix: str = ".bmp", *,
                 recursive: bool = False, exclude: Optional[str] = None) -> list[str]:
    """The files under ``src_dir`` whose names end in ``suffix``, any case,
    as paths relative to it ('/'-separated), sorted; subfolders only when
    ``recursive``, leaving out the folder ``exclude`` (an output folder
    inside the input one). Hidden scratch files are never listed."""
    root = os.path.abspath(os.fspath(src_dir))
    wanted = suffix.lower()
    found = []
    for folder, subdirs, files in os.walk(root):
        rel = os.path.relpath(folder, root)
        if recursive:
            subdirs[:] = sorted(d for d in subdirs
                                if exclude is None
                                or os.path.abspath(os.path.join(folder, d)) != exclude)
        else:
            subdirs[:] = []
        for name in files:
            if name.lower().endswith(wanted) and not name.startswith(".bmpcontrast-") \
                    and os.path.isfile(os.path.join(folder, name)):
                found.append(name if rel == "." else f"{rel}/{name}".replace(os.sep, "/"))
    return sorted(found)


def _progress_bar(futures: list[Any]) -> threading.Thread:
    # Dask's console bar blocks until every future is done: it draws from a
    # thread of its own, so that the timeout below still holds.
    from distributed import progress

    bar = threading.Thread(target=progress, args=(futures,), kwargs={"multi": False},
                           name="bmpcontrast-progress", daemon=True)
    bar.start()
    return bar


def adjust_folder(
    client: Any,
    src_dir: "str | os.PathLike[str]",
    dst_dir: "str | os.PathLike[str]",
    level: int,
    *,
    recursive: bool = False,
    overwrite: bool = False,
    timeout: Optional[float] = None,
    progress: bool = False,
    batch_size: Optional[int] = None,
    jobs_per_task: int = 1,
    suffix: str = ".bmp",
    colour: bool = False,
) -> list[Record]:
    """Adjust every bitmap of ``src_dir`` into a file of the same name in
    ``dst_dir`` on the workers of ``client`` (a ``dask.distributed.Client``),
    and return one record per file, sorted by path.

    A record holds ``src``, ``dst``, ``code`` (the library's result code,
    None if the call was not made), ``name``, ``error`` (None on success,
    else the message), ``warnings`` (the library's warning lines) and
    ``skipped``. Outputs that exist when the call lists the folder are left
    alone unless ``overwrite``: their records have ``skipped`` True and name
    "Skipped". With ``recursive`` the subfolders are converted too, into the
    same tree under ``dst_dir``. ``colour=True`` is
    :func:`bmpcontrast.adjust`'s colour mode (the tool's ``--colour``).

    Everything the client can check is checked before any work is sent:
    the level (``TypeError``, ``ValueError``), the folders
    (``FileNotFoundError``, ``NotADirectoryError``), and that every worker
    imports this package at this version (:class:`WorkerSetupError` names
    those that do not). Only then are ``dst_dir`` and its subfolders
    created. The files go out in batches of ``batch_size`` (default: about
    four per worker thread); each batch runs ``jobs_per_task`` files at a
    time. A failing file does not stop the others; a batch that fails as a
    whole (its worker lost too often) gives records naming that error.
    Outputs are written as :func:`bmpcontrast.adjust` writes them, complete
    or not at all. A batch run again after its worker was lost finds the
    files it had written: those holding exactly this conversion are
    recorded as converted; one that appeared from elsewhere meanwhile is
    left alone and recorded as skipped.

    ``timeout`` (seconds) bounds the wait for the workers: past it the run
    is stopped and ``TimeoutError`` raised. A run stopped so, or by any
    exception while waiting (``KeyboardInterrupt`` included), writes nothing
    once the call has returned: no file starts after the stop, and the call
    waits for the files under way (at most ``jobs_per_task`` per worker
    thread). ``progress`` shows Dask's progress bar. The futures are
    released before the function returns.
    """
    level = _check_level(level)
    if level <= 0:
        raise error_for(12, _paths.to_str(src_dir), _paths.to_str(dst_dir),
                        line="Error: Contrast level must be positive.\n")
    if batch_size is not None and batch_size < 1:
        raise ValueError(f"batch_size must be at least 1, not {batch_size}")
    if jobs_per_task < 1:
        raise ValueError(f"jobs_per_task must be at least 1, not {jobs_per_task}")
    if timeout is not None and not timeout > 0:
        raise ValueError(f"timeout must be positive, not {timeout}")
    src_root = os.path.abspath(_paths.to_str(src_dir))
    dst_root = os.path.abspath(_paths.to_str(dst_dir))
    if not os.path.isdir(src_root):
        if not os.path.exists(src_root):
            raise FileNotFoundError(errno.ENOENT, "source folder does not exist", src_root)
        raise NotADirectoryError(errno.ENOTDIR, "source folder is not a folder", src_root)
    if os.path.exists(dst_root) and not os.path.isdir(dst_root):
        raise NotADirectoryError(errno.ENOTDIR, "output folder is not a folder", dst_root)
    names = list_bitmaps(src_root, suffix, recursive=recursive, exclude=dst_root)
    if not names:
        return []
    workers = check_workers(client)

    records: dict[str, Record] = {}
    pairs = []
    for name in names:
        src, dst = os.path.join(src_root, name), os.path.join(dst_root, name)
        if not overwrite and os.path.lexists(dst):
            records[name] = _record(src, dst, None, SKIPPED, None, skipped=True)
        else:
            pairs.append((name, src, dst))

    if pairs:
        if batch_size is None:
            threads = sum(client.nthreads().values()) or len(workers)
            batch_size = max(1, -(-len(pairs) // (4 * threads)))
        batches = [pairs[i: i + batch_size] for i in range(0, len(pairs), batch_size)]
        runs = _run_batches(client, batches, level, jobs_per_task, overwrite, timeout, progress,
                            colour)
        for batch, records_of in zip(batches, runs):
            for (name, _, _), record in zip(batch, records_of):
                records[name] = record
    table = [records[name] for name in names]
    for r in table:
        _warn(r["src"], r["dst"], r["warnings"], stacklevel=2)
    return table


def _stop(client: Any, futures: list[Any], token: str) -> None:
    """Stops a run: no file of it starts after this, and this returns once no
    task of it is converting one any more (each finishes at most the files
    it had begun). Tasks that never started are cancelled."""
    from distributed import Event, wait

    # The event first: a batch starting from now on does nothing, on any
    # worker; then every worker that may be running one stops between files.
    Event(_stop_event_name(token), client=client).set()
    client.run(_stop_here, token, on_error="return")
    pending = [f for f in futures if not f.done()]
    while pending:
        running = {key for keys in client.processing().values() for key in keys}
        client.cancel([f for f in pending if f.key not in running])
        pending = [f for f in pending if f.key in running and not f.done()]
        if pending:
            try:
                wait(pending, timeout=0.5)
            except (TimeoutError, asyncio.TimeoutError):
                pass


def _run_batches(client: Any, batches: list[list[tuple[str, str, str]]], level: int,
                 jobs: int, overwrite: bool, timeout: Optional[float],
                 progress: bool, colour: bool) -> list[list[Record]]:
    from distributed import wait

    token = uuid.uuid4().hex
    # pure=False: a folder converted twice must run twice, not come from cache.
    futures = client.map(_adjust_batch, [[(s, d) for _, s, d in b] for b in batches],
                         level=level, jobs=jobs, overwrite=overwrite, token=token,
                         colour=colour, pure=False)
    bar = None
    try:
        if progress:
            bar = _progress_bar(futures)
        try:
            wait(futures, timeout=timeout)
        except (TimeoutError, asyncio.TimeoutError):
            left = sum(not f.done() for f in futures)
            _stop(client, futures, token)
            raise TimeoutError(f"{left} of {len(futures)} batches were not done after "
                               f"{timeout} s; the run was stopped") from None
        out = []
        for batch, future in zip(batches, futures):
            if future.status == "finished":
                out.append(future.result())
            else:  # lost, failed or cancelled as a whole: every file of it says so
                try:
                    exc = future.exception()
                except BaseException as cancelled:  # noqa: B036 (CancelledError)
                    exc = cancelled
                name = type(exc).__name__
                out.append([_record(s, d, None, name, str(exc) or name) for _, s, d in batch])
        return out
    finally:
        # Whatever ends the call early (an exception here, Ctrl-C) stops the
        # run before it returns: no task writes a file once it has.
        if any(not f.done() for f in futures):
            _stop(client, futures, token)
        # Nothing is left queued or held on the cluster once this returns.
        client.cancel(futures)
        if bar is not None:
            bar.join(timeout=1)
        del futures
