"""Contrast adjustment of uncompressed BMP files (8, 24 or 32 bits per
pixel), through the C library libbmpcontrast.so.1.

    import bmpcontrast
    bmpcontrast.adjust("in.bmp", "out.bmp", 150)

The library is looked for next to this package, then at the path in the
environment variable BMPCONTRAST_LIBRARY, then by the system's loader.
``bmpcontrast.dask`` spreads folders over a Dask cluster.
"""

from ._adjust import Result, adjust, adjust_many
from ._codes import (
    CODES,
    BMPContrastError,
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
from ._library import library_path
from ._version import __version__

__all__ = [
    "CODES",
    "BMPContrastError",
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
    "adjust_many",
    "describe",
    "library_path",
]
