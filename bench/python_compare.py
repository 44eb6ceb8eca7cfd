"""The Python package against its peers, on folders of 24-bit files:
medians of interleaved rounds.

  many:   bmpcontrast.adjust_many against a Pillow loop (Image.point with the
          same 256-entry table), in one process.
  folder: bmpcontrast.dask.adjust_folder on a local cluster of two worker
          processes (one thread each) against the tool with -j 2.
  memory: one bitmap in memory: adjust_bytes (a new bytes object each
          time) against adjust_into, into a buffer kept between calls and
          in place, and against copying the bitmap into that buffer.

    /usr/bin/python3 -m venv --system-site-packages /tmp/venv
    /tmp/venv/bin/pip install --no-build-isolation ./python
    /tmp/venv/bin/python bench/python_compare.py [--only many|folder|memory]
        [--tool build/tools/bmpcontrast] [--work /dev/shm] [--rounds 5]

Needs Debian's python3-pil and python3-distributed. Prints figures only;
nothing is asserted on time.
"""

from __future__ import annotations

import argparse
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor
from typing import Callable

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import compare  # noqa: E402  (the exact curve and Pillow's loader)

import bmpcontrast  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def write_bitmap(path: str, width: int, height: int) -> None:
    pixels = os.urandom(width * 3 * height)  # width a multiple of 4: no pad bytes
    header = struct.pack("<2sIHHi", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + pixels)


def make_folder(folder: str, count: int, width: int, height: int) -> list[str]:
    os.makedirs(folder)
    files = [os.path.join(folder, f"img{i:04}.bmp") for i in range(count)]
    for f in files:
        write_bitmap(f, width, height)
    return files


def pillow_loop(files: list[str], out_dir: str, level: int) -> None:
    table = list(compare.curve(level)) * 3
    for src in files:
        compare.open_image(src).point(table).save(os.path.join(out_dir, os.path.basename(src)))


def interleaved(runs: dict[str, Callable[[], None]], rounds: int) -> dict[str, float]:
    times: dict[str, list[float]] = {name: [] for name in runs}
    for _ in range(rounds):
        for name, run in runs.items():
            start = time.perf_counter()
            run()
            times[name].append(time.perf_counter() - start)
    return {name: statistics.median(t) for name, t in times.items()}


def bench_many(args: argparse.Namespace, work: str) -> None:
    files = make_folder(os.path.join(work, "many-src"), args.files, args.width, args.height)
    ours, theirs = os.path.join(work, "many-ours"), os.path.join(work, "many-pillow")
    os.mkdir(ours), os.mkdir(theirs)
    pairs = [(f, os.path.join(ours, os.path.basename(f))) for f in files]

    def run_ours() -> None:
        failed = [r for r in bmpcontrast.adjust_many(pairs, args.level, workers=args.jobs)
                  if not r.ok]
        if failed:
            sys.exit(f"adjust_many failed: {failed[0]}")

    # Outputs checked before timing: ours byte for byte, Pillow's by pixels.
    run_ours()
    pillow_loop(files, theirs, args.level)
    for f in files:
        name = os.path.basename(f)
        compare.check(f, os.path.join(ours, name), args.level)
        compare.same_pixels(os.path.join(ours, name), os.path.join(theirs, name))

    # The floor for any tool that reads and writes every file: copies by
    # the kernel alone (sendfile), on as many threads as adjust_many.
    copies = os.path.join(work, "many-copy")
    os.mkdir(copies)
    copy_pairs = [(f, os.path.join(copies, os.path.basename(f))) for f in files]

    def run_copy() -> None:
        with ThreadPoolExecutor(args.jobs or os.cpu_count()) as pool:
            list(pool.map(lambda p: shutil.copyfile(*p), copy_pairs))

    med = interleaved({"adjust_many": run_ours, "copy": run_copy,
                       "pillow": lambda: pillow_loop(files, theirs, args.level)}, args.rounds)
    print(f"many: {args.files} files of {args.width * args.height / 1e6:g} MP, level {args.level}, "
          f"workers {args.jobs or os.cpu_count()}, {args.rounds} interleaved rounds, medians:")
    print(f"  adjust_many  {med['adjust_many']:.3f} s")
    print(f"  Pillow loop  {med['pillow']:.3f} s")
    print(f"  file copies  {med['copy']:.3f} s (shutil.copyfile on as many threads: the I/O floor)")
    print(f"  ratio adjust_many / Pillow: {med['adjust_many'] / med['pillow']:.3f}"
          f" (copies / Pillow: {med['copy'] / med['pillow']:.3f})")


def bench_folder(args: argparse.Namespace, work: str) -> None:
    from distributed import Client, LocalCluster

    from bmpcontrast.dask import adjust_folder

    src = os.path.join(work, "folder-src")
    files = make_folder(src, args.folder_files, args.width, args.height)
    ours, tools = os.path.join(work, "folder-ours"), os.path.join(work, "folder-tool")
    tool_cmd = [args.tool, "-q", "-f", "-j", "2", "--out-dir", tools, "--level", str(args.level),
                *files]

    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                      dashboard_address=None) as cluster, Client(cluster) as client:
        def run_ours() -> None:
            table = adjust_folder(client, src, ours, args.level, overwrite=True)
            if any(r["error"] for r in table):
                sys.exit(f"adjust_folder failed: {next(r for r in table if r['error'])}")

        def run_tool() -> None:
            subprocess.run(tool_cmd, check=True)

        run_ours()
        run_tool()
        for f in files:  # the same bytes from both
            name = os.path.basename(f)
            with open(os.path.join(ours, name), "rb") as a, open(os.path.join(tools, name), "rb") as b:
                if a.read() != b.read():
                    sys.exit(f"{name}: adjust_folder and the tool differ")
        med = interleaved({"adjust_folder": run_ours, "tool": run_tool}, args.rounds)

    print(f"folder: {args.folder_files} files of {args.width * args.height / 1e6:g} MP, "
          f"level {args.level}, 2 worker processes x 1 thread vs {args.tool} -j 2, "
          f"{args.rounds} interleaved rounds, medians:")
    print(f"  adjust_folder  {med['adjust_folder']:.3f} s")
    print(f"  tool -j 2      {med['tool']:.3f} s")
    print(f"  ratio adjust_folder / tool: {med['adjust_folder'] / med['tool']:.3f}")


def bench_memory(args: argparse.Namespace) -> None:
    width = args.memory_width
    pixels = os.urandom(width * 3 * width)
    header = struct.pack("<2sIHHi", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, width, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    data = header + info + pixels
    del pixels
    out = bytearray(len(data))
    here = bytearray(data)
    expected = bmpcontrast.adjust_bytes(data, args.level)
    if bmpcontrast.adjust_into(data, out, args.level) != len(data) or out != expected:
        sys.exit("adjust_into differs from adjust_bytes")
    bmpcontrast.adjust_into(here, here, args.level)
    if here != expected:
        sys.exit("adjust_into in place differs from adjust_bytes")
    del expected

    view = memoryview(out)

    def copy() -> None:
        view[:] = data  # a memcpy (a bytearray's own slice assignment reallocates)

    # In place converts its own result again each round: the same work.
    med = interleaved({
        "adjust_bytes": lambda: bmpcontrast.adjust_bytes(data, args.level),
        "adjust_into": lambda: bmpcontrast.adjust_into(data, out, args.level),
        "in place": lambda: bmpcontrast.adjust_into(here, here, args.level),
        "copy": copy,
    }, args.rounds)
    print(f"memory: one 24-bit bitmap of {width} x {width} ({len(data) / 1e6:.0f} MB), "
          f"level {args.level}, {args.rounds} interleaved rounds, medians:")
    for name, label in (("adjust_bytes", "adjust_bytes (a new object)"),
                        ("adjust_into", "adjust_into (a buffer kept)"),
                        ("in place", "adjust_into in place"),
                        ("copy", "copy into the kept buffer")):
        print(f"  {label:30} {med[name] * 1e3:7.1f} ms  ({med[name] / med['copy']:.2f} x the copy)")
    print(f"  load average {os.getloadavg()[0]:.2f} on {os.cpu_count()} cores")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--only", choices=("many", "folder", "memory"))
    parser.add_argument("--files", type=int, default=100, help="files for 'many'")
    parser.add_argument("--folder-files", type=int, default=500, help="files for 'folder'")
    parser.add_argument("--width", type=int, default=1000)
    parser.add_argument("--memory-width", type=int, default=4000,
                        help="'memory': the bitmap's width and height (4000: 48 MB)")
    parser.add_argument("--height", type=int, default=1000)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--jobs", type=int, default=None, help="adjust_many's workers")
    parser.add_argument("--level", type=int, default=150)
    parser.add_argument("--tool", default=os.path.join(ROOT, "build/tools/bmpcontrast"))
    parser.add_argument("--work", default=None, help="folder for the files (default: a temp dir)")
    args = parser.parse_args()

    with tempfile.TemporaryDirectory(dir=args.work) as work:
        if args.only in (None, "many"):
            bench_many(args, work)
        if args.only in (None, "folder"):
            bench_folder(args, work)
        if args.only in (None, "memory"):
            bench_memory(args)


if __name__ == "__main__":
    main()
