#!/usr/bin/python3
"""Makes the pictures under docs/img/ and the table in docs/performance.md.

    /usr/bin/python3 docs/make_figures.py [--build BUILD_DIR] [--table-only]

- img/curve.png: the curve at levels 50, 100, 150 and 200, computed with the
  library's binary32 operations, and checked against the tool's output for
  every byte value before it is drawn.
- img/sample.png: the README's sample before and after the tool, from
  BUILD_DIR/tools/make_sample and BUILD_DIR/tools/bmpcontrast.
- img/colour-modes.png: an 8-bit colour-table image before and after the
  tool at level 150, without --colour (the indices move) and with it (the
  colours do).
- img/performance.png and the table in performance.md: from
  performance.csv, the one place the figures are entered.

Needs the docs section of the package list (matplotlib, numpy, Pillow:
sudo apt-get install --no-install-recommends $(tools/packages.sh docs)) and
a build of the tool (the README's first command). --table-only needs none
of them.
"""

from __future__ import annotations

import argparse
import csv
import subprocess
import sys
import tempfile
from pathlib import Path

DOCS = Path(__file__).resolve().parent
CSV = DOCS / "performance.csv"
MARKDOWN = DOCS / "performance.md"
BEGIN = "<!-- table: generated from performance.csv by docs/make_figures.py -->"
END = "<!-- end of table -->"
LEVELS = (50, 100, 150, 200)
# No tool version or date in the files, so that they change only with
# their content.
PNG_METADATA = {"Software": None}


def read_performance(path: Path = CSV) -> list[dict[str, str]]:
    with path.open(newline="", encoding="utf-8") as f:
        return list(csv.DictReader(f))


def performance_table(rows: list[dict[str, str]]) -> str:
    """One line per workload, one column per command, in the CSV's order."""
    workloads = list(dict.fromkeys(r["workload"] for r in rows))
    commands = list(dict.fromkeys(r["command"] for r in rows))
    cell = {(r["workload"], r["command"]): r for r in rows}
    lines = [
        "| " + " | ".join(["workload"] + commands) + " |",
        "|" + "---|" * (len(commands) + 1),
    ]
    for w in workloads:
        cells = []
        for c in commands:
            r = cell.get((w, c))
            if r is None:
                cells.append("")
            elif r["peak_mb"]:
                cells.append(f"{r['seconds']} s, {r['peak_mb']} MB")
            else:
                cells.append(f"{r['seconds']} s")
        lines.append("| " + " | ".join([w] + cells) + " |")
    return "\n".join(lines)


def table_in_markdown(text: str) -> str:
    """The generated block of performance.md, between its markers."""
    start = text.index(BEGIN) + len(BEGIN)
    return text[start:text.index(END, start)].strip()


def write_table() -> None:
    text = MARKDOWN.read_text(encoding="utf-8")
    start = text.index(BEGIN) + len(BEGIN)
    end = text.index(END, start)
    table = performance_table(read_performance())
    MARKDOWN.write_text(text[:start] + "\n" + table + "\n" + text[end:], encoding="utf-8")


def curve(level: int):
    """The output for each byte 0..255, as the library computes it: binary32,
    one rounding per operation, truncated, then clamped."""
    import numpy as np

    factor = np.float32(level) * np.float32(0.01)
    v = np.arange(256, dtype=np.float32) - np.float32(128)
    v = v * factor
    v = v + np.float32(128)
    return np.clip(np.trunc(v), 0, 255).astype(np.uint8)


def ramp_bmp() -> bytes:
    """A 24-bit 256x1 bitmap whose pixel bytes are 0, 1, ..., 255 three times."""
    pixels = bytes(range(256)) * 3
    header = b"BM" + (54 + len(pixels)).to_bytes(4, "little") + bytes(4) + (54).to_bytes(4, "little")
    info = b"".join(x.to_bytes(n, "little") for x, n in
                    ((40, 4), (256, 4), (1, 4), (1, 2), (24, 2), (0, 4), (len(pixels), 4),
                     (2835, 4), (2835, 4), (0, 4), (0, 4)))
    return header + info + pixels


def run_tool(tool: Path, src: Path, dst: Path, level: int, *options: str) -> None:
    subprocess.run([str(tool), "-q", *options, str(src), str(dst), str(level)], check=True,
                   stderr=subprocess.DEVNULL)


def check_curve(tool: Path, work: Path) -> None:
    """The drawn curve is the tool's: every byte value at every level."""
    import numpy as np

    src = work / "ramp.bmp"
    src.write_bytes(ramp_bmp())
    for level in LEVELS:
        dst = work / f"ramp-{level}.bmp"
        run_tool(tool, src, dst, level)
        got = np.frombuffer(dst.read_bytes()[54:], dtype=np.uint8)
        expected = np.tile(curve(level), 3)
        if not np.array_equal(got, expected):
            sys.exit(f"make_figures: the curve at level {level} differs from the tool's output")


def plot_curve(path: Path) -> None:
    import matplotlib.pyplot as plt
    import numpy as np

    fig, ax = plt.subplots(figsize=(5.2, 4), dpi=100)
    x = np.arange(256)
    for level in LEVELS:
        ax.step(x, curve(level), where="post", label=f"level {level}")
    ax.set(xlim=(0, 255), ylim=(0, 255), xlabel="input byte", ylabel="output byte",
           title="Every pixel byte through the curve")
    ax.set_xticks([0, 64, 128, 192, 255])
    ax.set_yticks([0, 64, 128, 192, 255])
    ax.grid(alpha=0.3)
    ax.legend(loc="upper left")
    fig.tight_layout()
    fig.savefig(path, metadata=PNG_METADATA)
    plt.close(fig)


def plot_sample(build: Path, work: Path, path: Path) -> None:
    import matplotlib.pyplot as plt
    from PIL import Image

    tool = build / "tools/bmpcontrast"
    sample = work / "sample.bmp"
    subprocess.run([str(build / "tools/make_sample"), str(sample)], check=True)
    panels = [("sample.bmp", sample)]
    for level in (50, 150):
        out = work / f"sample-{level}.bmp"
        run_tool(tool, sample, out, level)
        panels.append((f"level {level}", out))

    fig, axes = plt.subplots(1, len(panels), figsize=(9, 1.85), dpi=100)
    for ax, (title, bmp) in zip(axes, panels):
        png = bmp.with_suffix(".png")
        Image.open(bmp).convert("RGB").save(png)
        ax.imshow(Image.open(png), interpolation="nearest")
        ax.set_title(title)
        ax.axis("off")
    fig.tight_layout()
    fig.savefig(path, metadata=PNG_METADATA)
    plt.close(fig)


def colour_table_image(path: Path) -> None:
    """An 8-bit BMP with a colour table of 256 colours: hues across, from
    pale to deep down, with a grey ramp along the bottom."""
    import numpy as np
    from matplotlib.colors import hsv_to_rgb
    from PIL import Image

    width, height = 192, 96
    x, y = np.meshgrid(np.linspace(0, 1, width), np.linspace(0, 1, height))
    hsv = np.stack([x, 0.25 + 0.75 * y, 0.95 - 0.35 * y], axis=-1)
    rgb = hsv_to_rgb(hsv)
    rgb[-16:] = np.linspace(0, 1, width)[None, :, None]
    picture = Image.fromarray((rgb * 255).round().astype(np.uint8), "RGB")
    # Fixed quantisation, no dithering: the same file on every run.
    picture.quantize(256, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE).save(path)


def plot_colour_modes(tool: Path, work: Path, path: Path) -> None:
    import matplotlib.pyplot as plt
    from PIL import Image

    source = work / "indexed.bmp"
    colour_table_image(source)
    if Image.open(source).mode != "P":
        sys.exit("make_figures: Pillow did not write an 8-bit colour-table BMP")
    panels = [("8-bit colour table", source)]
    for title, options in (("150, without --colour", ()), ("150, with --colour", ("--colour",))):
        out = work / f"indexed-{len(options)}.bmp"
        run_tool(tool, source, out, 150, *options)
        panels.append((title, out))

    fig, axes = plt.subplots(1, len(panels), figsize=(9, 1.9), dpi=100)
    for ax, (title, bmp) in zip(axes, panels):
        ax.imshow(Image.open(bmp).convert("RGB"), interpolation="nearest")
        ax.set_title(title)
        ax.axis("off")
    fig.tight_layout()
    fig.savefig(path, metadata=PNG_METADATA)
    plt.close(fig)


def plot_performance(rows: list[dict[str, str]], path: Path) -> None:
    import matplotlib.pyplot as plt
    import numpy as np

    workloads = list(dict.fromkeys(r["workload"] for r in rows))
    commands = list(dict.fromkeys(r["command"] for r in rows))
    seconds = {(r["workload"], r["command"]): r["seconds"] for r in rows}
    fig, ax = plt.subplots(figsize=(7, 3.8), dpi=100)
    height = 0.8 / len(commands)
    y = np.arange(len(workloads))
    for i, c in enumerate(commands):
        labels = [seconds.get((w, c), "") for w in workloads]
        values = [float(v) if v else 0.0 for v in labels]
        bars = ax.barh(y + (i - (len(commands) - 1) / 2) * height, values, height, label=c)
        ax.bar_label(bars, labels=[f"{v} s" if v else "" for v in labels], padding=2, fontsize=7)
    ax.set_xscale("log")
    ax.set_yticks(y, workloads)
    ax.invert_yaxis()
    ax.set_xlabel("wall time, median of interleaved rounds (log scale)")
    ax.set_xlim(0.01, 40)
    fig.legend(loc="upper center", ncol=len(commands), fontsize=8, frameon=False)
    fig.tight_layout(rect=(0, 0, 1, 0.93))
    fig.savefig(path, metadata=PNG_METADATA)
    plt.close(fig)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", type=Path, default=Path("build"),
                        help="build folder with tools/make_sample and tools/bmpcontrast")
    parser.add_argument("--table-only", action="store_true",
                        help="only rewrite the table in performance.md")
    args = parser.parse_args()

    write_table()
    if args.table_only:
        return
    img = DOCS / "img"
    img.mkdir(exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        work = Path(tmp)
        check_curve(args.build / "tools/bmpcontrast", work)
        plot_curve(img / "curve.png")
        plot_sample(args.build, work, img / "sample.png")
        plot_colour_modes(args.build / "tools/bmpcontrast", work, img / "colour-modes.png")
    plot_performance(read_performance(), img / "performance.png")


if __name__ == "__main__":
    main()
