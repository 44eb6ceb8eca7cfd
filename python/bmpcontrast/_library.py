"""Finding and loading libbmpcontrast.so.1."""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import threading
from pathlib import Path
from typing import Any, Callable, Optional

ENV_VAR = "BMPCONTRAST_LIBRARY"
SONAME = "libbmpcontrast.so.1"

_lock = threading.Lock()
_function: Optional[Callable[..., Any]] = None
_loaded_from = ""


def _candidates() -> list[str]:
    """Where to look, in order: next to the package (a copy placed by the
    wheel or a path written by `cmake --install`), the environment
    variable, then the loader's own search path."""
    here = Path(__file__).resolve().parent
    found = []
    try:
        from . import _libpath  # written by cmake --install

        found.append(os.path.normpath(here / _libpath.LIBRARY))
    except ImportError:
        pass
    local = here / SONAME
    if local.exists():
        found.append(str(local))
    env = os.environ.get(ENV_VAR)
    if env:
        found.append(env)
    name = ctypes.util.find_library("bmpcontrast")
    if name:
        found.append(name)
    found.append(SONAME)
    return found


def function() -> Callable[..., Any]:
    """The BMPContrast function, loaded on first use."""
    global _function, _loaded_from
    with _lock:
        if _function is not None:
            return _function
        errors = []
        for candidate in _candidates():
            try:
                lib = ctypes.CDLL(candidate)
            except OSError as exc:
                errors.append(f"  {candidate}: {exc}")
                continue
            fn = lib.BMPContrast
            # Paths go over as buffers of UTF-16 code units, each ending in
            # a 16-bit NUL.
            fn.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int32]
            fn.restype = ctypes.c_int32
            _function, _loaded_from = fn, candidate
            return fn
        raise OSError(
            f"cannot load {SONAME}; set {ENV_VAR} to its path, or install it "
            "where the loader finds it. Tried:\n" + "\n".join(errors)
        )


def library_path() -> str:
    """The library file the package loads (loading it if needed)."""
    function()
    return _loaded_from
