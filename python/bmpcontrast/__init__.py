"""Contrast adjustment of uncompressed BMP files (8, 24 or 32 bits per
pixel), with the C library's engine compiled into the package.

    import bmpcontrast
    bmpcontrast.adjust("in.bmp", "out.bmp", 150)

Nothing is printed: the library's lines come back in each :class:`Result`,
and its warning is emitted as a :class:`BMPContrastWarning`. ``colour=True``
adjusts the colours a viewer sees instead, keeping alpha, in 1- to 32-bit
files (RLE and bit fields too).
``bmpcontrast.dask`` spreads folders over a Dask cluster.
"""

from ._adjust import Result, adjust, adjust_bytes, adjust_into, adjust_many, curve
from ._codes import (
    CODES,
    BMPContrastError,
    BMPContrastWarning,
    Code,
    CompressionUnsupportedError,
    HeaderReadError,
    InputOpenError,
    InvalidBitmapError,
    InvalidDimensionsError,
    LevelNotPositiveError,
    OutOfMemoryError,
    OutputOpenError,
    UnsupportedBitDepthError,
    describe,
)
from ._version import __version__

__all__ = [
    "CODES",
    "BMPContrastError",
    "BMPContrastWarning",
    "Code",
    "CompressionUnsupportedError",
    "HeaderReadError",
    "InputOpenError",
    "InvalidBitmapError",
    "InvalidDimensionsError",
    "LevelNotPositiveError",
    "OutOfMemoryError",
    "OutputOpenError",
    "Result",
    "UnsupportedBitDepthError",
    "__version__",
    "adjust",
    "adjust_bytes",
    "adjust_into",
    "adjust_many",
    "curve",
    "describe",
]
