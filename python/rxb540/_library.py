"""Finding and loading librxb540, and declaring the C functions it exports."""

from __future__ import annotations

import ctypes
import os
import sys
from pathlib import Path
from typing import List, Optional, Tuple

#: The library's interface generation that this package is written for.
MAJOR_VERSION = 0

_HERE = Path(__file__).resolve().parent

if sys.platform == "win32":
    _SHIPPED = "rxb540.dll"
    _SONAME: Optional[str] = None  # Python does not search PATH for DLLs
elif sys.platform == "darwin":
    _SHIPPED = "librxb540.0.dylib"
    _SONAME = "librxb540.0.dylib"
else:
    _SHIPPED = "librxb540.so.0"
    _SONAME = "librxb540.so.0"

_INSTALL_HINT = (
    "install librxb540 (Debian: apt install librxb540-0), "
    "or set RXB540_LIBRARY to the absolute path of the library"
)


class _Handle(ctypes.c_void_p):
    """An opaque pointer that ctypes keeps as an object, never as a bare int."""


def _declare(lib: ctypes.CDLL) -> None:
    c_char_p, c_int, c_size_t = ctypes.c_char_p, ctypes.c_int, ctypes.c_size_t
    out = ctypes.POINTER(_Handle)
    table: List[Tuple[str, object, list]] = [
        ("rxb540_version", c_char_p, []),
        ("rxb540_strerror", c_char_p, [c_int]),
        ("rxb540_list_boards", c_int, [out]),
        ("rxb540_list_count", c_size_t, [_Handle]),
        ("rxb540_list_serial", c_char_p, [_Handle, c_size_t]),
        ("rxb540_list_path", c_char_p, [_Handle, c_size_t]),
        ("rxb540_list_free", None, [_Handle]),
        ("rxb540_open", c_int, [c_char_p, out]),
        ("rxb540_open_path", c_int, [c_char_p, out]),
        ("rxb540_board_serial", c_char_p, [_Handle]),
        ("rxb540_board_path", c_char_p, [_Handle]),
        ("rxb540_set_state", c_int, [_Handle, ctypes.c_ubyte]),
        ("rxb540_write_serial", c_int, [_Handle, c_char_p]),
        ("rxb540_init_serial", c_int, [_Handle, ctypes.POINTER(ctypes.c_char)]),
        ("rxb540_close", None, [_Handle]),
    ]
    for name, restype, argtypes in table:
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = argtypes


def _try(path: str, tried: List[str]) -> Optional[ctypes.CDLL]:
    """Loads and checks one candidate; records why it was not taken."""
    try:
        # CDLL (not PyDLL): every call releases the interpreter lock.
        lib = ctypes.CDLL(path)
        _declare(lib)
    except (OSError, AttributeError) as error:
        tried.append(f"{path}: {error}")
        return None
    version = (lib.rxb540_version() or b"").decode("ascii", "replace")
    major = version.split(".", 1)[0]
    if major != str(MAJOR_VERSION):
        tried.append(f"{path}: version {version}, this package needs {MAJOR_VERSION}.x")
        return None
    return lib


def load() -> ctypes.CDLL:
    """Returns the loaded library, or raises ImportError naming every place tried."""
    tried: List[str] = []
    explicit = os.environ.get("RXB540_LIBRARY")
    if explicit:
        # An explicit choice that fails is the error: another copy must not stand in for it.
        if not os.path.isabs(explicit):
            tried.append(f"RXB540_LIBRARY={explicit}: not an absolute path")
        else:
            lib = _try(explicit, tried)
            if lib is not None:
                return lib
        raise ImportError("cannot load librxb540 from RXB540_LIBRARY: " + tried[0])
    # Inside the package, or beside it where the Windows .zip puts the package
    # folder next to rxb540.dll.
    beside = [_HERE.parent / _SHIPPED] if sys.platform == "win32" else []
    for shipped in [_HERE / _SHIPPED] + beside:
        if not shipped.exists():
            tried.append(f"{shipped}: not shipped in this package")
            continue
        lib = _try(str(shipped), tried)
        if lib is not None:
            return lib
    if _SONAME is not None:
        lib = _try(_SONAME, tried)
        if lib is not None:
            return lib
    raise ImportError("cannot load librxb540; tried:\n  " + "\n  ".join(tried) + "\n" + _INSTALL_HINT)
