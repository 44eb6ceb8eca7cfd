"""Bitmap files built in Python, and what the library must make of them
(exact integer arithmetic, sharing nothing with the library)."""

from __future__ import annotations

import struct


def stride(width: int, bits: int) -> int:
    return (width * bits // 8 + 3) // 4 * 4


def build(width: int = 3, height: int = 2, bits: int = 24, compression: int = 0,
          palette: bool | None = None, seed: int = 1, headers_only: bool = False) -> bytes:
    """A complete file: 54 header bytes, a 256-entry palette for 8-bit files,
    then pixel rows whose pad bytes are not zero (or only the 54 bytes)."""
    palette = bits == 8 if palette is None else palette
    table = bytes(range(256)) * 4 if palette else b""
    rows = abs(height) * stride(width, bits) if width > 0 and bits in (8, 24, 32) else 16
    pixels = bytes((i * 37 + seed * 11) % 256 for i in range(0 if headers_only else rows))
    off = 54 + len(table)
    header = struct.pack("<2sIHHi", b"BM", (off + rows) % 2**32, 0, 0, off)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, compression,
                       rows % 2**32, 2835, 2835, 0, 0)
    return header + info + (b"" if headers_only else table + pixels)


def curve(level: int) -> bytes:
    table = []
    for v in range(256):
        if level > 12700:
            table.append(0 if v < 128 else 255 if v > 128 else 128)
            continue
        n = (v - 128) * level + 12800
        q = n // 100 if n >= 0 else -((-n) // 100)
        table.append(min(255, max(0, q)))
    return bytes(table)


def expected(data: bytes, level: int) -> bytes:
    """The output for a file from build(): headers and palette as they were,
    pixel bytes through the curve, pad bytes unchanged."""
    off, = struct.unpack_from("<i", data, 10)
    width, height = struct.unpack_from("<ii", data, 18)
    bits, = struct.unpack_from("<H", data, 28)
    row_bytes, row_stride, table = width * bits // 8, stride(width, bits), curve(level)
    out = bytearray(data)
    for r in range(abs(height)):
        start = off + r * row_stride
        out[start:start + row_bytes] = data[start:start + row_bytes].translate(table)
    return bytes(out)


def _rle_row(width: int, bits: int, y: int) -> bytes:
    """One row of RLE8 or RLE4 data: repeated runs, then end of line."""
    row, x = bytearray(), 0
    while x < width:
        n = min(5, width - x)
        index = (x + 3 * y) % (1 << bits)
        row += bytes((n, index if bits == 8 else index << 4 | index))
        x += n
    return bytes(row + b"\0\0")


def colour_file(bits: int, compression: int = 0, width: int = 13, height: int = 5,
                masks: tuple[int, ...] = (), info_size: int = 40, seed: int = 3) -> bytes:
    """A file colour mode takes: 1-, 4- or 8-bit with a colour table that is
    not grey (RLE8 or RLE4 data with compression 1 or 2), or 24- or 32-bit,
    with bit fields ``masks`` (red, green, blue[, alpha]) after a 40-byte
    info header or in a 124-byte one."""
    table = b""
    if bits <= 8:
        table = b"".join(bytes(((k * 7 + seed) % 256, (k * 31) % 256, 255 - k % 256, 0))
                         for k in range(1 << bits))
    if compression in (1, 2):
        pixels = b"".join(_rle_row(width, bits, y) for y in range(height))[:-2] + b"\0\1"
    else:
        size = abs(height) * stride(width, bits)
        pixels = bytes((i * 37 + seed * 11) % 256 for i in range(size))
    fields = b"".join(m.to_bytes(4, "little") for m in masks)
    if info_size > 40:  # the masks in the header's own fields, then its colour space
        fields = (fields.ljust(16, b"\0") + b"BGRs").ljust(info_size - 40, b"\0")
    off = 14 + max(info_size, 40 + len(fields)) + len(table)
    header = struct.pack("<2sIHHi", b"BM", off + len(pixels), 0, 0, off)
    info = struct.pack("<IiiHHIIiiII", info_size, width, height, 1, bits, compression,
                       len(pixels), 2835, 2835, 0, 0)
    return header + info + fields + table + pixels
