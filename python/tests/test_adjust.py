"""adjust() and adjust_many() over the real library."""

from __future__ import annotations

import ctypes
import os
import pathlib
import subprocess
import sys

import pytest

import bitmaps
import bmpcontrast as bc

LIBC = ctypes.CDLL(None)


def c_output(capfd) -> tuple[str, str]:
    LIBC.fflush(None)  # the success line waits in C's stdout buffer
    return capfd.readouterr()


SUCCESS_LINE = "Success: Contrast adjustment applied.\n"


# data None: no input file; the output goes to dst (a missing folder for 41).
@pytest.mark.parametrize("data, level, error, line, dst", [
    (bitmaps.build(5, 3, 24), 150, None, SUCCESS_LINE, "out.bmp"),
    (bitmaps.build(3, -2, 8), 50, None, SUCCESS_LINE, "out.bmp"),
    (bitmaps.build(2, 2, 32), 12701, None, SUCCESS_LINE, "out.bmp"),
    (bitmaps.build(), 0, bc.LevelNotPositiveError, "Error: Contrast level must be positive.\n",
     "out.bmp"),
    (None, -(2**31), bc.LevelNotPositiveError, "Error: Contrast level must be positive.\n",
     "out.bmp"),
    (None, 150, bc.InputOpenError, "", "out.bmp"),
    (b"MB" + bitmaps.build()[2:], 150, bc.HeaderReadError, "Error: Invalid BMP file signature.\n",
     "out.bmp"),
    (bitmaps.build()[:20], 150, bc.HeaderReadError, "Error: Could not read info header.\n",
     "out.bmp"),
    (bitmaps.build(0, 2), 150, bc.InvalidDimensionsError, "Error: Invalid image dimensions.\n",
     "out.bmp"),
    (bitmaps.build(3, 2, 16), 150, bc.UnsupportedBitDepthError,
     "Error: Only 8-bit, 24-bit, and 32-bit bitmaps are supported.\n", "out.bmp"),
    (bitmaps.build(3, 2, 8, compression=1), 150, bc.CompressionUnsupportedError,
     "Error: Compressed bitmaps are not supported.\n", "out.bmp"),
    (bitmaps.build(), 150, bc.OutputOpenError, "", "missing-dir/out.bmp"),
])
def test_results_and_lines(tmp_path, capfd, data, level, error, line, dst):
    src, dst = tmp_path / "in.bmp", tmp_path / dst
    if data is not None:
        src.write_bytes(data)
    c_output(capfd)
    if error is None:
        assert bc.adjust(src, dst, level) is None
        assert dst.read_bytes() == bitmaps.expected(data, level)
        assert c_output(capfd) == (line, "")
        return
    with pytest.raises(error) as caught:
        bc.adjust(src, dst, level)
    assert isinstance(caught.value, bc.BMPContrastError)
    assert bc.CODES[caught.value.code].name == caught.value.name
    assert (caught.value.src, caught.value.dst) == (str(src), str(dst))
    assert c_output(capfd) == ("", line)
    assert not dst.exists()


def test_out_of_memory(tmp_path):
    # A 2 GB image in a 54-byte file, in a child whose address space is
    # too small for its pixel buffers.
    src = tmp_path / "huge.bmp"
    src.write_bytes(bitmaps.build(16384, 40000, 24, headers_only=True))
    child = (
        "import resource, bmpcontrast\n"
        "resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))\n"
        "try:\n"
        f"    bmpcontrast.adjust({str(src)!r}, {str(tmp_path / 'out.bmp')!r}, 150)\n"
        "except bmpcontrast.OutOfMemoryError as e:\n"
        "    print(e.code, e.name)\n"
    )
    run = subprocess.run([sys.executable, "-c", child], capture_output=True, text=True,
                         env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)})
    assert run.stdout == "1 OutOfMemory\n", run.stderr
    assert run.stderr == "Error: Could not allocate memory for pixel data.\n"


@pytest.mark.parametrize("name", ["plain.bmp", "café.bmp", "образ 1.bmp", "図😀.bmp"])
@pytest.mark.parametrize("kind", [str, pathlib.Path, os.fsencode])
def test_unicode_and_pathlike_names(tmp_path, name, kind):
    data = bitmaps.build(4, 2, 24)
    src = tmp_path / name
    src.write_bytes(data)
    dst = tmp_path / ("out-" + name)
    bc.adjust(kind(str(src)), kind(str(dst)), 80)
    assert dst.read_bytes() == bitmaps.expected(data, 80)


@pytest.mark.parametrize("bad", ["a\0b.bmp", "\udcff.bmp", b"caf\xe9.bmp", "\ud800.bmp"])
def test_names_the_library_cannot_open_are_refused(tmp_path, bad):
    src = tmp_path / "in.bmp"
    src.write_bytes(bitmaps.build())
    bad_path = os.path.join(os.fsencode(tmp_path), bad) if isinstance(bad, bytes) \
        else str(tmp_path / bad)
    with pytest.raises(ValueError):
        bc.adjust(src, bad_path, 150)
    with pytest.raises(ValueError):
        bc.adjust(bad_path, tmp_path / "out.bmp", 150)
    assert sorted(os.listdir(tmp_path)) == ["in.bmp"]


@pytest.mark.parametrize("level, error", [(2**31, ValueError), (-(2**31) - 1, ValueError),
                                          (2**32 + 150, ValueError), (1.5, TypeError)])
def test_levels_outside_32_bits_are_refused(tmp_path, level, error):
    src = tmp_path / "in.bmp"
    src.write_bytes(bitmaps.build())
    with pytest.raises(error):
        bc.adjust(src, tmp_path / "out.bmp", level)
    assert not (tmp_path / "out.bmp").exists()


def test_adjust_many_reports_every_pair(tmp_path):
    pairs, expected = [], []
    for i in range(12):
        data = bitmaps.build(3 + i, 2, 24, seed=i)
        src = tmp_path / f"{i}.bmp"
        src.write_bytes(data if i % 4 else data[:10])  # every fourth is cut short
        pairs.append((src, tmp_path / f"out-{i}.bmp"))
        expected.append((999, "Success") if i % 4 else (1333, "HeaderReadFailed"))
    pairs.append((tmp_path / "missing.bmp", tmp_path / "out-missing.bmp"))
    expected.append((13, "InputOpenFailed"))
    pairs.append((tmp_path / "0.bmp", str(tmp_path / "a\0b")))
    expected.append((None, "ValueError"))

    results = bc.adjust_many(pairs, 150, jobs=3)

    assert [(r.code, r.name) for r in results] == expected
    for (src, dst), r in zip(pairs, results):
        assert (r.src, r.dst) == (str(src), str(dst))
        assert r.ok == (r.code == 999) and (r.error is None) == r.ok
        if r.ok:
            assert pathlib.Path(dst).read_bytes() == bitmaps.expected(src.read_bytes(), 150)
        elif r.code is not None:
            assert isinstance(r.error, bc.BMPContrastError) and r.error.code == r.code
    assert bc.adjust_many([], 150) == []
    with pytest.raises(TypeError):
        bc.adjust_many([(None, "x")], 150)
