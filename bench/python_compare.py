"""adjust_many against a Pillow loop (Image.point with the same 256-entry
table) on the same folder of 24-bit files: medians of interleaved rounds.

    PYTHONPATH=python BMPCONTRAST_LIBRARY=build/src/contrast/libbmpcontrast.so.1 \\
        /usr/bin/python3 bench/python_compare.py [--files 100] [--rounds 5] [--jobs N]

Needs Debian's python3-pil. Prints figures only; nothing is asserted on time.
"""

from __future__ import annotations

import argparse
import os
import statistics
import struct
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import compare  # noqa: E402  (the exact curve and Pillow's loader)

import bmpcontrast  # noqa: E402


def write_bitmap(path: str, width: int, height: int) -> None:
    pixels = os.urandom(width * 3 * height)  # width a multiple of 4: no pad bytes
    header = struct.pack("<2sIHHi", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + pixels)


def pillow_loop(files: list[str], out_dir: str, level: int) -> None:
    table = list(compare.curve(level)) * 3
    for src in files:
        compare.open_image(src).point(table).save(os.path.join(out_dir, os.path.basename(src)))


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--files", type=int, default=100)
    parser.add_argument("--width", type=int, default=1000)
    parser.add_argument("--height", type=int, default=1000)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--jobs", type=int, default=None)
    parser.add_argument("--level", type=int, default=150)
    args = parser.parse_args()

    # The library's success line for every call would drown the figures:
    # the process's stdout goes to /dev/null, the figures to a copy of it.
    report = os.fdopen(os.dup(1), "w")
    sys.stdout.flush()
    os.dup2(os.open(os.devnull, os.O_WRONLY), 1)

    with tempfile.TemporaryDirectory() as work:
        src_dir, ours, theirs = (os.path.join(work, d) for d in ("src", "ours", "pillow"))
        for d in (src_dir, ours, theirs):
            os.mkdir(d)
        files = [os.path.join(src_dir, f"img{i}.bmp") for i in range(args.files)]
        for f in files:
            write_bitmap(f, args.width, args.height)
        pairs = [(f, os.path.join(ours, os.path.basename(f))) for f in files]

        def run_ours() -> None:
            failed = [r for r in bmpcontrast.adjust_many(pairs, args.level, jobs=args.jobs) if not r.ok]
            if failed:
                sys.exit(f"adjust_many failed: {failed[0]}")

        # Outputs checked before timing: ours byte for byte, Pillow's by pixels.
        run_ours()
        pillow_loop(files, theirs, args.level)
        for f in files:
            name = os.path.basename(f)
            compare.check(f, os.path.join(ours, name), args.level)
            compare.same_pixels(os.path.join(ours, name), os.path.join(theirs, name))

        times: dict[str, list[float]] = {"adjust_many": [], "pillow": []}
        for _ in range(args.rounds):
            for name, run in (("adjust_many", run_ours),
                              ("pillow", lambda: pillow_loop(files, theirs, args.level))):
                start = time.perf_counter()
                run()
                times[name].append(time.perf_counter() - start)

    med = {k: statistics.median(v) for k, v in times.items()}
    mp = args.width * args.height / 1e6
    print(f"{args.files} files of {mp:g} MP, level {args.level}, jobs {args.jobs or os.cpu_count()}, "
          f"{args.rounds} interleaved rounds, medians:", file=report)
    print(f"  adjust_many  {med['adjust_many']:.3f} s", file=report)
    print(f"  Pillow loop  {med['pillow']:.3f} s", file=report)
    print(f"  ratio adjust_many / Pillow: {med['adjust_many'] / med['pillow']:.2f}", file=report)


if __name__ == "__main__":
    main()
