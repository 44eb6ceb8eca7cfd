"""Colour mode (``colour=True``) gives the tool's ``--colour`` bytes in every
call, Dask's batches included; adjust_into() gives adjust_bytes()'s bytes
in memory the caller owns, the input's own included."""

from __future__ import annotations

import hashlib
import subprocess
import warnings

import pytest

import bitmaps
import bmpcontrast as bc
from bmpcontrast import dask as bcdask
from conftest import BUILD, ROOT

COLOUR_FILES = {
    "8-bit": bitmaps.colour_file(8),
    "4-bit": bitmaps.colour_file(4),
    "1-bit": bitmaps.colour_file(1),
    "RLE8": bitmaps.colour_file(8, 1),
    "RLE4": bitmaps.colour_file(4, 2),
    "24-bit": bitmaps.colour_file(24),
    "32-bit": bitmaps.colour_file(32),
    "32-bit, V5 bit fields": bitmaps.colour_file(
        32, 3, masks=(0xFF0000, 0xFF00, 0xFF, 0xFF000000), info_size=124),
    "32-bit, alpha bit fields": bitmaps.colour_file(
        32, 6, masks=(0xFF00, 0xFF0000, 0xFF000000, 0xFF)),
}


def tool_output(tool, tmp_path, data: bytes, *options: str) -> bytes | None:
    src, dst = tmp_path / "tool-in.bmp", tmp_path / "tool-out.bmp"
    src.write_bytes(data)
    dst.unlink(missing_ok=True)
    run = subprocess.run([tool, "-q", *options, src, dst, "150"], capture_output=True)
    return dst.read_bytes() if run.returncode == 0 else None


@pytest.mark.parametrize("name", COLOUR_FILES)
def test_colour_mode_is_the_tools_in_every_call(tool, tmp_path, name):
    data = COLOUR_FILES[name]
    expected = tool_output(tool, tmp_path, data, "--colour")
    assert expected is not None and expected != data
    src = tmp_path / "in.bmp"
    src.write_bytes(data)
    bc.adjust(src, tmp_path / "adjust.bmp", 150, colour=True)
    assert (tmp_path / "adjust.bmp").read_bytes() == expected
    assert bc.adjust_bytes(data, 150, colour=True) == expected
    out = bytearray(len(data))
    assert bc.adjust_into(data, out, 150, colour=True) == len(expected)
    assert out == expected
    here = bytearray(data)
    bc.adjust_into(here, here, 150, colour=True)
    assert here == expected
    pairs = [(src, tmp_path / f"many{k}.bmp") for k in range(3)]
    assert all(r.ok for r in bc.adjust_many(pairs, 150, workers=2, colour=True))
    assert all(dst.read_bytes() == expected for _, dst in pairs)
    # What a Dask worker runs for a batch.
    batch = [(str(src), str(tmp_path / f"dask{k}.bmp")) for k in range(3)]
    records = bcdask._adjust_batch(batch, 150, 2, False, colour=True)
    assert [r["code"] for r in records] == [999] * 3
    assert all((tmp_path / f"dask{k}.bmp").read_bytes() == expected for k in range(3))

    # Contract mode, as the tool without --colour: the same result or the
    # same refusal.
    contract = tool_output(tool, tmp_path, data)
    if contract is None:
        with pytest.raises(bc.BMPContrastError):
            bc.adjust_bytes(data, 150)
    else:
        assert bc.adjust_bytes(data, 150) == contract


def damaged_offset(data: bytes) -> bytes:
    """The pixel offset inside the headers: the output's layout differs."""
    return data[:10] + (30).to_bytes(4, "little") + data[14:]


IN_MEMORY = {
    "24-bit": bitmaps.build(9, 4, 24),
    "8-bit": bitmaps.build(5, -3, 8),
    "32-bit": bitmaps.build(3, 3, 32),
    "trailer": bitmaps.build(4, 2, 24) + b"an ICC profile, say",
    "damaged offset": damaged_offset(bitmaps.build(6, 3, 24)),
}


@pytest.mark.parametrize("name", IN_MEMORY)
def test_adjust_into_gives_adjust_bytes_bytes_wherever_out_is(name):
    data = IN_MEMORY[name]
    expected = bc.adjust_bytes(data, 150)
    # A buffer apart, larger than needed: the rest is left as it was.
    out = bytearray(b"\xAA" * (len(expected) + 7))
    assert bc.adjust_into(data, out, 150) == len(expected)
    assert out[:len(expected)] == expected and out[len(expected):] == b"\xAA" * 7
    # In place, in a bytearray and through a memoryview of one.
    here = bytearray(data)
    assert bc.adjust_into(here, here, 150) == len(expected)
    assert here[:len(expected)] == expected
    view = memoryview(bytearray(data))
    bc.adjust_into(view, view, 150)
    assert view[:len(expected)] == expected
    # Overlapping, one byte apart either way.
    for shift in (1, -1):
        block = bytearray(len(data) + 1)
        at = 1 if shift > 0 else 0
        block[at:at + len(data)] = data
        src = memoryview(block)[at:at + len(data)]
        dst = memoryview(block)[at - shift: at - shift + len(data)]
        assert bc.adjust_into(src, dst, 150) == len(expected)
        assert dst[:len(expected)] == expected


def test_adjust_into_leaves_out_alone_when_it_cannot_write():
    data = bitmaps.build(5, 3, 24)
    short = data[:-6]  # the result is padded to the size its headers claim
    with pytest.warns(bc.BMPContrastWarning):
        padded = bc.adjust_bytes(short, 150)
    out = bytearray(len(short))
    with pytest.raises(ValueError, match=f"out holds {len(short)} bytes; the result needs "
                                         f"{len(padded)}"):
        bc.adjust_into(short, out, 150)
    assert out == bytes(len(short))
    bigger = bytearray(len(padded))
    with pytest.warns(bc.BMPContrastWarning):
        assert bc.adjust_into(short, bigger, 150) == len(padded)
    assert bigger == padded

    with pytest.raises(TypeError):
        bc.adjust_into(data, bytes(len(data)), 150)
    kept = bytearray(data)
    with pytest.raises(bc.UnsupportedBitDepthError):
        bc.adjust_into(bitmaps.colour_file(4), kept, 150)
    with pytest.raises(bc.LevelNotPositiveError):
        bc.adjust_into(data, kept, 0)
    assert kept == data


def recorded_colour_outputs() -> list[tuple[str, int, int, str, str]]:
    """The tool's colour-mode part of the conformance record: name, level,
    code, size:digest (or "none") and the library's lines."""
    rows = []
    for line in (ROOT / "tests/conformance/expected_record.txt").read_text().splitlines():
        if line.startswith("tool-colour "):
            head, said = line.split(' "', 1)
            _, name, level, code, digest = head.split()
            rows.append((name, int(level), int(code), digest, said[:-1].replace("\\n", "\n")))
    return rows


def test_the_conformance_records_colour_outputs_are_pythons():
    inputs = BUILD / "tests/conformance/inputs"
    if not inputs.is_dir():
        pytest.fail(f"{inputs} is missing: ctest -R conformance.keep_inputs makes it")
    rows = recorded_colour_outputs()
    assert len(rows) > 100
    for name, level, code, digest, said in rows:
        data = (inputs / f"{name}.bmp").read_bytes()
        where = f"{name} at {level}"
        if code != 999:
            with pytest.raises(bc.BMPContrastError) as refused:
                bc.adjust_bytes(data, level, colour=True)
            assert (refused.value.code, refused.value.line) == (code, said), where
            continue
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            out = bc.adjust_bytes(data, level, colour=True)
        got = f"{len(out)}:{hashlib.sha256(out).hexdigest()[:16]}"
        assert got == digest, where
        assert "".join(str(w.message) + "\n" for w in caught) == said, where
