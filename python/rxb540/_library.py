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

# librxb540 is not in Debian's archive: it comes from this project's
# packages or a build of its source.
_INSTALL_HINT = (
    "librxb540 comes from the rxb540 project, not from Debian's archive. In its source folder, either make "
    "and install its packages:\n"
    "  cmake --preset package && cmake --build --preset package -j2 && (cd build/package && cpack -G DEB)"
    " && sudo apt install ./build/package/librxb540-0_*.deb\n"
    "or build it and point RXB540_LIBRARY at it:\n"
    "  cmake --preset release && cmake --build --preset release -j2"
    " && export RXB540_LIBRARY=$PWD/build/release/librxb540.so.0"
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


def system_reason() -> int:
    """The system's error number that the last library call of this thread left."""
    if sys.platform == "win32":
        return ctypes.get_last_error()
    return ctypes.get_errno()


def _try(path: str, tried: List[str]) -> Optional[ctypes.CDLL]:
    """Loads and checks one candidate; records why it was not taken."""
    try:
        # CDLL (not PyDLL): every call releases the interpreter lock. The
        # library leaves the system's reason for a failed listing in errno
        # (Windows: the last error), which ctypes keeps per thread.
        if sys.platform == "win32":
            lib = ctypes.CDLL(path, use_last_error=True)
        else:
            lib = ctypes.CDLL(path, use_errno=True)
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
