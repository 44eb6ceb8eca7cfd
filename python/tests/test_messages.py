"""What the package's errors and warnings say: the names of the call's
files, or none for a call that has none (bytes, a level alone)."""

from __future__ import annotations

import pytest

import bitmaps
import bmpcontrast as bc

SHORT = bitmaps.build(9, 9, 24)[:120]


@pytest.mark.parametrize("call, error, line", [
    (lambda: bc.adjust_bytes(b"MB" + bitmaps.build()[2:], 150), bc.HeaderReadError,
     "Error: Invalid BMP file signature."),
    (lambda: bc.adjust_bytes(bitmaps.build(), 0), bc.LevelNotPositiveError,
     "Error: Contrast level must be positive."),
    (lambda: bc.curve(-3), bc.LevelNotPositiveError, "Error: Contrast level must be positive."),
])
def test_calls_without_files_name_none(call, error, line):
    with pytest.raises(error) as caught:
        call()
    e = caught.value
    assert str(e) == f"{e.name} ({e.code}): {e.meaning}: {line}"
    assert (e.src, e.dst) == ("", "")


@pytest.mark.parametrize("level, error", [(150, bc.InputOpenError),
                                          (0, bc.LevelNotPositiveError)])
def test_calls_on_files_name_them(tmp_path, level, error):
    src, dst = str(tmp_path / "missing.bmp"), str(tmp_path / "out.bmp")
    with pytest.raises(error) as caught:
        bc.adjust(src, dst, level)
    assert f"[{src!r} -> {dst!r}]" in str(caught.value)


def test_warnings_name_the_files_or_none(tmp_path):
    (tmp_path / "short.bmp").write_bytes(SHORT)
    with pytest.warns(bc.BMPContrastWarning) as caught:
        bc.adjust_bytes(SHORT, 150)
        bc.adjust(tmp_path / "short.bmp", tmp_path / "out.bmp", 150)
    assert [str(w.message) for w in caught] == [
        "Warning: Could not read all pixel data.",
        f"Warning: Could not read all pixel data. "
        f"[{str(tmp_path / 'short.bmp')!r} -> {str(tmp_path / 'out.bmp')!r}]"]
