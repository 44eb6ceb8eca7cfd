"""adjust(), adjust_bytes(), curve() and adjust_many() over the compiled engine."""

from __future__ import annotations

import errno
import os
import pathlib
import signal
import stat
import subprocess
import sys
import threading
import time
import warnings

import pytest

import bitmaps
import bmpcontrast as bc
from bmpcontrast import _engine

SUCCESS_LINE = "Success: Contrast adjustment applied.\n"
SHORT_READ = "Warning: Could not read all pixel data."
NOT_POSITIVE = "Error: Contrast level must be positive.\n"


def scratch_files(folder) -> list[str]:
    return [n for n in os.listdir(folder) if n.startswith(".") and ".bmpcontrast-" in n]


# data None: no input file; the output goes to dst (a missing folder for 41).
@pytest.mark.parametrize("data, level, error, line, dst", [
    (bitmaps.build(5, 3, 24), 150, None, SUCCESS_LINE, "out.bmp"),
    (bitmaps.build(3, -2, 8), 50, None, SUCCESS_LINE, "out.bmp"),
    (bitmaps.build(2, 2, 32), 12701, None, SUCCESS_LINE, "out.bmp"),
    (bitmaps.build(), 0, bc.LevelNotPositiveError, NOT_POSITIVE, "out.bmp"),
    (None, -(2**31), bc.LevelNotPositiveError, NOT_POSITIVE, "out.bmp"),
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
def test_results_lines_and_silence(tmp_path, capfd, data, level, error, line, dst):
    src, dst = tmp_path / "in.bmp", tmp_path / dst
    if data is not None:
        src.write_bytes(data)
    if error is None:
        result = bc.adjust(src, dst, level)
        assert (result.code, result.name, result.lines, result.ok) == (999, "Success", (line,), True)
        assert dst.read_bytes() == bitmaps.expected(data, level)
        assert bc.adjust_bytes(data, level) == dst.read_bytes()
    else:
        with pytest.raises(error) as caught:
            bc.adjust(src, dst, level)
        e = caught.value
        assert (bc.CODES[e.code].name, e.line, e.src, e.dst) == (e.name, line, str(src), str(dst))
        # The two failures without a line say why through the OS's error.
        assert isinstance(e.__cause__, OSError) == (line == "")
        assert not dst.exists()
        if data is not None and error is not bc.OutputOpenError:
            with pytest.raises(error):
                bc.adjust_bytes(data, level)
    assert scratch_files(tmp_path) == []
    assert capfd.readouterr() == ("", "")  # the C side prints nothing, ever


@pytest.mark.parametrize("data", [bitmaps.build(4, 3, 24)[:-7], bitmaps.build(9, 2, 8)[:1100]])
def test_short_input_warns_in_the_package_category(tmp_path, data):
    src, dst = tmp_path / "in.bmp", tmp_path / "out.bmp"
    src.write_bytes(data)
    with pytest.warns(bc.BMPContrastWarning, match=SHORT_READ):
        result = bc.adjust(src, dst, 150)
    assert result.warnings == (SHORT_READ,) and result.code == 999
    with pytest.warns(bc.BMPContrastWarning):
        assert bc.adjust_bytes(data, 150) == dst.read_bytes()
    with warnings.catch_warnings():
        warnings.simplefilter("error", bc.BMPContrastWarning)
        with pytest.raises(bc.BMPContrastWarning):
            bc.adjust(src, dst, 150)
        with pytest.raises(bc.BMPContrastWarning):  # after every pair is done
            bc.adjust_many([(src, tmp_path / "a.bmp"), (src, tmp_path / "b.bmp")], 150)
    assert (tmp_path / "b.bmp").read_bytes() == dst.read_bytes()


@pytest.mark.parametrize("data, ok", [
    (bitmaps.build(6, 4, 24), True), (bitmaps.build(6, 4, 24)[:80], True),
    (bitmaps.build(3, 2, 16), False),
])
def test_output_may_be_the_input(tmp_path, data, ok):
    path = tmp_path / "same.bmp"
    path.write_bytes(data)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", bc.BMPContrastWarning)
        if ok:
            expected = bc.adjust_bytes(data, 150)
            bc.adjust(path, str(path), 150)
        else:
            expected = data
            with pytest.raises(bc.BMPContrastError):
                bc.adjust(path, path, 150)
    assert path.read_bytes() == expected and scratch_files(tmp_path) == []


def test_killed_mid_write_leaves_dst_as_it_was(tmp_path):
    # The input is a pipe fed by the test: the child is killed while its
    # scratch file is half written, whatever the machine's speed.
    fifo, dst = tmp_path / "in.fifo", tmp_path / "out.bmp"
    os.mkfifo(fifo)
    dst.write_bytes(b"previous")
    data = bitmaps.build(1000, 2000, 24)
    child = subprocess.Popen([sys.executable, "-c",
                              f"import bmpcontrast; bmpcontrast.adjust({str(fifo)!r}, "
                              f"{str(dst)!r}, 150)"])
    try:
        with open(fifo, "wb") as feed:
            feed.write(data[: len(data) // 2])
            feed.flush()
            deadline = time.monotonic() + 20
            while not any(os.path.getsize(tmp_path / n) for n in scratch_files(tmp_path)):
                assert time.monotonic() < deadline and child.poll() is None
                time.sleep(0.01)
            child.send_signal(signal.SIGKILL)
            child.wait()
    finally:
        if child.poll() is None:
            child.kill()
    assert dst.read_bytes() == b"previous"


def test_gil_is_let_go_while_converting(tmp_path):
    # The engine blocks reading a pipe that only this process's main thread
    # feeds: that works only if the converting thread let go of the GIL. In
    # a child, so that a hold shows as a timeout, not a hung test run.
    fifo, dst = tmp_path / "in.fifo", tmp_path / "out.bmp"
    os.mkfifo(fifo)
    data = bitmaps.build(64, 64, 24)
    child = (
        "import sys, threading, bmpcontrast\n"
        f"t = threading.Thread(target=bmpcontrast.adjust, args=({str(fifo)!r}, {str(dst)!r}, 150))\n"
        "t.start()\n"
        f"with open({str(fifo)!r}, 'wb') as feed:\n"
        "    feed.write(sys.stdin.buffer.read())\n"
        "t.join()\n"
    )
    subprocess.run([sys.executable, "-c", child], input=data, timeout=30, check=True)
    assert dst.read_bytes() == bitmaps.expected(data, 150)


def test_output_to_a_pipe_stays_a_pipe(tmp_path):
    # As for /dev/null: a rename would put a regular file in its place.
    src, fifo = tmp_path / "in.bmp", tmp_path / "out.fifo"
    src.write_bytes(bitmaps.build(6, 5, 32))
    os.mkfifo(fifo)
    got = []
    reader = threading.Thread(target=lambda: got.append(fifo.read_bytes()))
    reader.start()
    bc.adjust(src, fifo, 150)
    reader.join(timeout=10)
    assert got == [bitmaps.expected(src.read_bytes(), 150)]
    assert stat.S_ISFIFO(os.lstat(fifo).st_mode) and scratch_files(tmp_path) == []


def test_failed_write_leaves_dst_as_it_was(tmp_path):
    src, dst = tmp_path / "in.bmp", tmp_path / "out.bmp"
    src.write_bytes(bitmaps.build(500, 500, 24))
    dst.write_bytes(b"previous")
    child = (
        "import resource, signal, bmpcontrast\n"
        "signal.signal(signal.SIGXFSZ, signal.SIG_IGN)\n"
        "resource.setrlimit(resource.RLIMIT_FSIZE, (100000, 100000))\n"
        "try:\n"
        f"    bmpcontrast.adjust({str(src)!r}, {str(dst)!r}, 150)\n"
        "except bmpcontrast.OutputOpenError as e:\n"
        "    print(e.code, repr(e.line), type(e.__cause__).__name__)\n"
    )
    run = subprocess.run([sys.executable, "-c", child], capture_output=True, text=True)
    assert run.stdout == "41 'Error: Could not write output file.\\n' OSError\n", run.stderr
    assert dst.read_bytes() == b"previous" and scratch_files(tmp_path) == []


def test_overwrite_false_and_modes(tmp_path):
    src, dst = tmp_path / "in.bmp", tmp_path / "out.bmp"
    src.write_bytes(bitmaps.build())
    old = os.umask(0o027)
    try:
        bc.adjust(src, dst, 150, overwrite=False)
    finally:
        os.umask(old)
    assert dst.stat().st_mode & 0o777 == 0o640
    dst.chmod(0o600)  # a file replaced keeps its permission bits
    bc.adjust(src, dst, 150)
    assert dst.stat().st_mode & 0o777 == 0o600
    (tmp_path / "link.bmp").symlink_to(dst)  # written through, as before
    bc.adjust(src, tmp_path / "link.bmp", 100)
    assert (tmp_path / "link.bmp").is_symlink() and dst.read_bytes() == src.read_bytes()
    dst.write_bytes(b"mine")
    with pytest.raises(FileExistsError):
        bc.adjust(src, dst, 150, overwrite=False)
    # The engine's file job refuses it itself (and its rename replaces nothing).
    code, lines, err, reason = _engine.adjust_file(os.fsencode(src), os.fsencode(dst), 150, False)
    assert (code, err, reason) == (41, errno.EEXIST, "exists")
    assert dst.read_bytes() == b"mine" and scratch_files(tmp_path) == []
    (tmp_path / "folder.bmp").mkdir()
    with pytest.raises(bc.OutputOpenError):
        bc.adjust(src, tmp_path / "folder.bmp", 150)


def test_out_of_memory(tmp_path):
    # A 2 GB image in a 54-byte bitmap, in a child whose address space is
    # too small for its output.
    data = bitmaps.build(16384, 40000, 24, headers_only=True)
    child = (
        "import resource, sys, bmpcontrast\n"
        "resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))\n"
        "try:\n"
        "    bmpcontrast.adjust_bytes(sys.stdin.buffer.read(), 150)\n"
        "except bmpcontrast.OutOfMemoryError as e:\n"
        "    print(e.code, e.name, repr(e.line))\n"
    )
    run = subprocess.run([sys.executable, "-c", child], input=data, capture_output=True)
    assert run.stdout == b"1 OutOfMemory 'Error: Could not allocate memory for output data.\\n'\n"


@pytest.mark.parametrize("level, points", [
    (100, {v: v for v in range(256)}),
    (150, {0: 0, 64: 32, 100: 86, 200: 236, 255: 255}),
    (50, {255: 191, 1: 64, 128: 128}),
    (110, {18: 7}),  # binary32 steps rounded one at a time
])
def test_curve(level, points):
    table = bc.curve(level)
    assert {v: table[v] for v in points} == points
    assert table == bitmaps.curve(level)


def test_curve_refuses_what_adjust_refuses():
    with pytest.raises(bc.LevelNotPositiveError):
        bc.curve(0)
    with pytest.raises(ValueError):
        bc.curve(2**31)


def test_adjust_bytes_takes_any_byte_buffer():
    data = bitmaps.build(7, -3, 32)
    assert bc.adjust_bytes(bytearray(data), 80) == bc.adjust_bytes(memoryview(data), 80) \
        == bitmaps.expected(data, 80)


@pytest.mark.parametrize("name", ["plain.bmp", "café.bmp", "образ 1.bmp", "図😀.bmp",
                                  b"caf\xe9.bmp", "\udcff.bmp"])
@pytest.mark.parametrize("kind", [str, pathlib.Path, os.fsencode])
def test_unicode_bytes_and_pathlike_names(tmp_path, name, kind):
    data = bitmaps.build(4, 2, 24)
    src = os.path.join(os.fsencode(tmp_path), os.fsencode(name))
    with open(src, "wb") as f:
        f.write(data)
    dst = os.path.join(os.fsencode(tmp_path), b"out-" + os.fsencode(name))
    result = bc.adjust(kind(os.fsdecode(src)), kind(os.fsdecode(dst)), 80)
    assert result.dst == os.fsdecode(dst)
    with open(dst, "rb") as f:
        assert f.read() == bitmaps.expected(data, 80)


@pytest.mark.parametrize("bad", ["a\0b.bmp", "\ud800.bmp", b"x\0.bmp", ""])
def test_names_no_file_has_are_refused(tmp_path, bad):
    src = tmp_path / "in.bmp"
    src.write_bytes(bitmaps.build())
    with pytest.raises(ValueError):
        bc.adjust(src, bad, 150)
    with pytest.raises(ValueError):
        bc.adjust(bad, tmp_path / "out.bmp", 150)
    assert sorted(os.listdir(tmp_path)) == ["in.bmp"]


@pytest.mark.parametrize("level, error", [(2**31, ValueError), (-(2**31) - 1, ValueError),
                                          (2**32 + 150, ValueError), (1.5, TypeError)])
def test_levels_outside_32_bits_are_refused(tmp_path, level, error):
    src = tmp_path / "in.bmp"
    src.write_bytes(bitmaps.build())
    with pytest.raises(error):
        bc.adjust(src, tmp_path / "out.bmp", level)
    with pytest.raises(error):
        bc.adjust_bytes(bitmaps.build(), level)
    assert not (tmp_path / "out.bmp").exists()


def test_adjust_many_reports_every_pair(tmp_path, capfd):
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
    pairs.append((tmp_path / "1.bmp", tmp_path / "1.bmp"))
    expected.append((None, "FileExistsError"))

    results = bc.adjust_many(pairs, 150, workers=3, overwrite=False)

    assert [(r.code, r.name) for r in results] == expected
    for (src, dst), r in zip(pairs, results):
        assert (r.src, r.dst) == (str(src), str(dst))
        assert r.ok == (r.code == 999) and (r.error is None) == r.ok
        if r.ok:
            assert pathlib.Path(dst).read_bytes() == bitmaps.expected(src.read_bytes(), 150)
        elif r.code is not None:
            assert isinstance(r.error, bc.BMPContrastError) and r.error.code == r.code
    assert capfd.readouterr() == ("", "")
    assert bc.adjust_many([], 150) == []
    assert [r.code for r in bc.adjust_many(pairs[:2], 150, workers=1)] == [1333, 999]
    with pytest.raises(TypeError):
        bc.adjust_many([(None, "x")], 150)
    with pytest.raises(ValueError):
        bc.adjust_many(pairs, 150, workers=0)
