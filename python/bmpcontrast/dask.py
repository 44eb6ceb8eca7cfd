"""Folders of bitmaps spread over the workers of a ``dask.distributed``
cluster.

    from dask.distributed import Client, LocalCluster
    from bmpcontrast.dask import adjust_folder

    with LocalCluster(n_workers=2, threads_per_worker=1) as cluster, Client(cluster) as client:
        table = adjust_folder(client, "photos", "bright", 150)

Every worker needs this package and the library (installed, or reachable
through BMPCONTRAST_LIBRARY), and must see ``src_dir`` and ``dst_dir`` under
the same names as the client (a shared file system). Dask is imported only
by the cluster's own client and workers, not by this module.
"""

from __future__ import annotations

import os
from typing import Any, Optional, Sequence

from ._adjust import adjust_many

Record = dict[str, Any]


def _adjust_batch(pairs: Sequence[tuple[str, str]], level: int, jobs: int) -> list[Record]:
    # Runs on a worker; returns plain records so that nothing but built-in
    # types travel back to the client.
    return [
        {
            "src": r.src,
            "dst": r.dst,
            "code": r.code,
            "name": r.name,
            "error": None if r.error is None else str(r.error),
        }
        for r in adjust_many(pairs, level, jobs=jobs)
    ]


def list_bitmaps(src_dir: str, suffix: str = ".bmp") -> list[str]:
    """The files in ``src_dir`` (not its subfolders) whose names end in
    ``suffix``, any case, sorted by name."""
    with os.scandir(src_dir) as entries:
        return sorted(
            e.name for e in entries if e.is_file() and e.name.lower().endswith(suffix.lower())
        )


def adjust_folder(
    client: Any,
    src_dir: "str | os.PathLike[str]",
    dst_dir: "str | os.PathLike[str]",
    level: int,
    *,
    batch_size: Optional[int] = None,
    jobs_per_task: int = 1,
    suffix: str = ".bmp",
) -> list[Record]:
    """Adjust every bitmap of ``src_dir`` into a file of the same name in
    ``dst_dir`` (created if missing; existing files are overwritten), on the
    workers of ``client`` (a ``dask.distributed.Client``), and return one
    record per file, sorted by name: ``src``, ``dst``, ``code`` (the
    library's result code, None if the call could not be made), ``name``
    and ``error`` (None on success, else the message).

    The files go out in batches of ``batch_size`` (default: about four per
    worker thread, to spread the load without one task per file); each
    batch runs ``jobs_per_task`` calls at a time on its worker. A failing
    file does not stop the others. The paths are made absolute on the
    client: the workers must see the same folders under those names.
    """
    src_dir = os.path.abspath(os.fspath(src_dir))
    dst_dir = os.path.abspath(os.fspath(dst_dir))
    names = list_bitmaps(src_dir, suffix)
    if not names:
        return []
    os.makedirs(dst_dir, exist_ok=True)
    pairs = [(os.path.join(src_dir, n), os.path.join(dst_dir, n)) for n in names]
    if batch_size is None:
        threads = sum(client.nthreads().values()) or 1
        batch_size = max(1, -(-len(pairs) // (4 * threads)))
    if batch_size < 1:
        raise ValueError(f"batch_size must be at least 1, not {batch_size}")
    batches = [pairs[i : i + batch_size] for i in range(0, len(pairs), batch_size)]
    # pure=False: a folder converted twice must run twice, not come from cache.
    futures = client.map(_adjust_batch, batches, level=level, jobs=jobs_per_task, pure=False)
    return [record for batch in client.gather(futures) for record in batch]
