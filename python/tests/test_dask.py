"""adjust_folder on a scheduler and workers run as separate processes on
127.0.0.1, against the C tool's output for the same files."""

from __future__ import annotations

import os
import signal
import subprocess
import sys
import threading
import time
from contextlib import nullcontext
from pathlib import Path

import distributed
import pytest

import bitmaps
import bmpcontrast
from bmpcontrast import dask as bcdask
from bmpcontrast.dask import WorkerSetupError, adjust_folder


class Cluster:
    """A scheduler and workers, each its own process, stopped by pid."""

    def __init__(self, folder: Path) -> None:
        self.folder, self.procs, self.workers = folder, [], []
        self.file = folder / "scheduler.json"
        self._start("scheduler", [sys.executable, "-m", "distributed.cli.dask_scheduler",
                                  "--host", "127.0.0.1", "--port", "0", "--no-dashboard",
                                  "--scheduler-file", str(self.file)])
        deadline = time.monotonic() + 30
        while not self.file.exists():
            assert time.monotonic() < deadline, "the scheduler did not start"
            time.sleep(0.05)
        self.client = None

    def _start(self, name: str, argv: list[str]) -> subprocess.Popen:
        # Started outside the source tree, so a worker imports only what its
        # python has installed.
        log = open(self.folder / f"{name}.log", "wb")
        proc = subprocess.Popen(argv, cwd=self.folder, stdout=log, stderr=subprocess.STDOUT,
                                env={k: v for k, v in os.environ.items() if k != "PYTHONPATH"})
        log.close()
        self.procs.append(proc)
        return proc

    def add_worker(self, python: str = sys.executable) -> subprocess.Popen:
        proc = self._start(f"worker{len(self.workers)}", [
            python, "-m", "distributed.cli.dask_worker", "--scheduler-file", str(self.file),
            "--host", "127.0.0.1", "--nthreads", "1", "--no-nanny", "--no-dashboard"])
        self.workers.append(proc)
        return proc

    def connect(self) -> distributed.Client:
        self.client = distributed.Client(scheduler_file=str(self.file), timeout=30)
        self.client.wait_for_workers(len(self.workers), timeout=30)
        return self.client

    def stop(self) -> None:
        if self.client is not None:
            self.client.close()
        for proc in reversed(self.procs):
            if proc.poll() is None:
                proc.send_signal(signal.SIGTERM)
                try:
                    proc.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    proc.send_signal(signal.SIGKILL)
                    proc.wait()


@pytest.fixture
def cluster(tmp_path):
    folder = tmp_path / "cluster"
    folder.mkdir()
    c = Cluster(folder)
    try:
        yield c
    finally:
        c.stop()


def make_tree(root: Path, names: list[str], size=(5, 3)) -> None:
    for i, name in enumerate(names):
        (root / name).parent.mkdir(parents=True, exist_ok=True)
        (root / name).write_bytes(
            bitmaps.build(size[0] + i % 7, size[1], (8, 24, 32)[i % 3], seed=i))


def test_folder_tree_skip_and_checks(cluster, tmp_path, tool):
    cluster.add_worker(), cluster.add_worker()
    client = cluster.connect()
    src, dst, ref = tmp_path / "src", tmp_path / "dst", tmp_path / "ref"
    names = [f"img{i:02}.bmp" for i in range(6)] + ["sub/été.BMP", "sub/deeper/x.bmp"]
    make_tree(src, names)
    (src / "broken.bmp").write_bytes(b"BM\0\0")
    (src / "short.bmp").write_bytes(bitmaps.build(9, 9, 24)[:120])
    (src / "notes.txt").write_text("not a bitmap")

    # Checked on the client: nothing is sent, nothing is created.
    for level, error in [(0, ValueError), ("abc", TypeError), (2**31, ValueError)]:
        with pytest.raises(error):
            adjust_folder(client, src, dst, level)
    with pytest.raises(FileNotFoundError) as missing:
        adjust_folder(client, src / "missing", dst, 150)
    assert missing.value.filename == str(src / "missing")
    with pytest.raises(NotADirectoryError):
        adjust_folder(client, src / "notes.txt", dst, 150)
    with pytest.raises(bmpcontrast.LevelNotPositiveError) as not_positive:
        adjust_folder(client, src, dst, -5)
    assert f"[{str(src)!r} -> {str(dst)!r}]" in str(not_positive.value)
    assert not dst.exists()

    dst.mkdir()
    (dst / "img00.bmp").write_bytes(b"mine")
    table = adjust_folder(client, src, dst, 150, recursive=True, batch_size=3, progress=True)
    by_name = {os.path.relpath(r["src"], src): r for r in table}
    assert list(by_name) == sorted(names + ["broken.bmp", "short.bmp"])
    assert by_name["broken.bmp"]["code"] == 1333 and "HeaderReadFailed" in by_name["broken.bmp"]["error"]
    assert by_name["short.bmp"]["warnings"] == ["Warning: Could not read all pixel data."]
    assert by_name["img00.bmp"]["skipped"] and (dst / "img00.bmp").read_bytes() == b"mine"
    for name in names[1:]:
        (ref / name).parent.mkdir(parents=True, exist_ok=True)
        subprocess.run([tool, src / name, ref / name, "150"], check=True, capture_output=True)
        assert (by_name[name]["code"], by_name[name]["error"]) == (999, None)
        assert (dst / name).read_bytes() == (ref / name).read_bytes(), name
    assert not client.futures  # released before returning

    again = adjust_folder(client, src, dst, 150, overwrite=True)
    assert [r["code"] for r in again] == [1333] + [999] * 7
    assert (dst / "img00.bmp").read_bytes() == bmpcontrast.adjust_bytes(
        (src / "img00.bmp").read_bytes(), 150)
    # Colour mode travels to the workers: the tool's --colour bytes.
    shades = adjust_folder(client, src, tmp_path / "colour", 150, colour=True)
    assert [r["code"] for r in shades] == [1333] + [999] * 7
    for name in names[:6]:
        subprocess.run([tool, "--colour", src / name, ref / "c.bmp", "150"], check=True,
                       capture_output=True)
        assert (tmp_path / "colour" / name).read_bytes() == (ref / "c.bmp").read_bytes(), name
    assert (tmp_path / "colour/img00.bmp").read_bytes() != (dst / "img00.bmp").read_bytes()
    with pytest.raises(TimeoutError):
        adjust_folder(client, src, tmp_path / "late", 150, batch_size=1, timeout=1e-6)
    assert not client.futures


def test_killed_worker_leaves_every_output_whole(cluster, tmp_path):
    cluster.add_worker(), cluster.add_worker()
    client = cluster.connect()
    src, dst = tmp_path / "src", tmp_path / "dst"
    names = [f"d{i % 4}/img{i:03}.bmp" for i in range(120)]
    make_tree(src, names, size=(400, 300))
    victim = cluster.workers[0]
    at_kill = []

    def kill_once_outputs_appear() -> None:
        while not any(dst.rglob("*.bmp")):
            time.sleep(0.001)
        at_kill.append(len(list(dst.rglob("*.bmp"))))
        victim.send_signal(signal.SIGKILL)

    killer = threading.Thread(target=kill_once_outputs_appear, daemon=True)
    killer.start()
    table = adjust_folder(client, src, dst, 150, recursive=True, batch_size=2, timeout=60)
    killer.join(timeout=5)

    assert victim.wait(timeout=5) == -signal.SIGKILL and at_kill[0] < len(names)
    assert len(table) == len(names)
    # The folder was empty: every file was converted by this run, including
    # those the victim wrote before its batch ran again elsewhere.
    for r in table:
        assert (r["code"], r["error"], r["skipped"]) == (999, None, False), r
        assert Path(r["dst"]).read_bytes() == bmpcontrast.adjust_bytes(
            Path(r["src"]).read_bytes(), 150)
    # The victim's one file in flight may have left its scratch file; no
    # more, and none under an output's name.
    assert len(list(dst.rglob(".bmpcontrast-*"))) <= 1


def test_worker_without_the_package_is_named(cluster, tmp_path):
    if subprocess.run(["/usr/bin/python3", "-c", "import bmpcontrast"], cwd=tmp_path,
                      capture_output=True).returncode == 0:
        pytest.skip("/usr/bin/python3 has the package installed")
    cluster.add_worker()
    stranger = cluster.add_worker("/usr/bin/python3")  # outside the venv
    client = cluster.connect()
    src = tmp_path / "src"
    make_tree(src, ["a.bmp"])
    started = time.monotonic()
    with pytest.raises(WorkerSetupError, match="ModuleNotFoundError") as caught:
        adjust_folder(client, src, tmp_path / "dst", 150)
    assert time.monotonic() - started < 20
    assert len(caught.value.workers) == 1 and stranger.poll() is None
    assert not (tmp_path / "dst").exists()


def outputs(folder: Path) -> dict[str, tuple[int, int]]:
    return {str(p.relative_to(folder)): (p.stat().st_size, p.stat().st_mtime_ns)
            for p in folder.rglob("*") if p.is_file()}


def stopped_run(cluster, tmp_path, monkeypatch, error):
    """A run into an empty folder that ends with `error` while it waits, once
    the first output is there (batches are then under way): outputs as the
    call returned, and a while later."""
    cluster.add_worker(), cluster.add_worker()
    client = cluster.connect()
    src, dst = tmp_path / "src", tmp_path / "dst"
    names = [f"img{i:03}.bmp" for i in range(50)]
    make_tree(src, names, size=(900, 700))
    real_wait, calls = distributed.wait, []

    def wait(futures, timeout=None, **kw):
        calls.append(timeout)
        if len(calls) > 1:  # adjust_folder waiting for the batches it stopped
            return real_wait(futures, timeout=timeout, **kw)
        deadline = time.monotonic() + 30
        while not any(dst.glob("*.bmp")) and time.monotonic() < deadline:
            time.sleep(0.002)
        raise error

    monkeypatch.setattr(distributed, "wait", wait)
    with pytest.raises(type(error)):
        adjust_folder(client, src, dst, 150, batch_size=10, timeout=600)
    at_return = outputs(dst)
    time.sleep(2)  # a batch left running would write a file every few ms
    return client, src, dst, names, at_return


@pytest.mark.parametrize("error", [TimeoutError(), KeyboardInterrupt()], ids=["timeout", "ctrl-c"])
def test_a_stopped_run_writes_nothing_once_returned(cluster, tmp_path, monkeypatch, error):
    client, src, dst, names, at_return = stopped_run(cluster, tmp_path, monkeypatch, error)
    assert outputs(dst) == at_return
    written = [n for n in at_return if not n.startswith(".")]
    assert len(written) < len(names), "the run was not stopped early"
    assert not [n for n in at_return if n.startswith(".bmpcontrast-")]
    for name in written:  # what was written is whole
        assert (dst / name).read_bytes() == bmpcontrast.adjust_bytes(
            (src / name).read_bytes(), 150)
    assert not client.futures and not any(client.processing().values())
    # The cluster is fine for the next run, which finishes the folder.
    table = adjust_folder(client, src, dst, 150)
    assert sum(r["skipped"] for r in table) == len(written)
    assert all(r["code"] == 999 for r in table if not r["skipped"])


def test_a_batch_run_again_tells_its_own_outputs_from_others(tmp_path):
    # What a batch finds when it runs again after its worker was lost.
    src = tmp_path / "src"
    make_tree(src, ["mine.bmp", "theirs.bmp", "short.bmp", "new.bmp"])
    (src / "short.bmp").write_bytes(bitmaps.build(9, 9, 24)[:120])
    dst = tmp_path / "dst"
    dst.mkdir()
    for name in ("mine.bmp", "short.bmp"):
        with pytest.warns(bmpcontrast.BMPContrastWarning) if name == "short.bmp" else nullcontext():
            bmpcontrast.adjust(src / name, dst / name, 150)
    (dst / "theirs.bmp").write_bytes(b"someone else's")
    pairs = [(str(src / n), str(dst / n)) for n in ("mine.bmp", "theirs.bmp", "short.bmp", "new.bmp")]
    for jobs in (1, 3):
        records = bcdask._adjust_batch(pairs, 150, jobs, False)
        got = [(r["code"], r["skipped"], r["warnings"]) for r in records]
        assert got == [(999, False, []), (None, True, []),
                       (999, False, ["Warning: Could not read all pixel data."]),
                       (999, False, [])], jobs
        assert (dst / "theirs.bmp").read_bytes() == b"someone else's"
        assert sorted(p.name for p in dst.iterdir()) == sorted(n for n in
                                                                 ("mine.bmp", "theirs.bmp", "short.bmp", "new.bmp"))


def test_a_stopped_run_starts_no_file(tmp_path):
    src, dst = tmp_path / "src", tmp_path / "dst"
    make_tree(src, ["a.bmp", "b.bmp"])
    dst.mkdir()
    bcdask._stop_here("token-of-a-stopped-run")
    records = bcdask._adjust_batch([(str(src / n), str(dst / n)) for n in ("a.bmp", "b.bmp")],
                                   150, 2, False, "token-of-a-stopped-run")
    assert [r["name"] for r in records] == ["Cancelled"] * 2
    assert not list(dst.iterdir())
