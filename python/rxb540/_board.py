"""Boards: listing, opening and switching them through librxb540."""

from __future__ import annotations

import ctypes
import threading
from types import TracebackType
from typing import List, NamedTuple, Optional, Type

from . import _errors, _library

_lib = _library.load()

SERIAL_BUFFER = 12


class BoardInfo(NamedTuple):
    """One attached board as listed: its serial number and interface path."""

    serial: str
    path: str


def _text(raw: Optional[bytes]) -> str:
    # Serial numbers are the library's 8-bit bytes: Latin-1 maps each byte to
    # one character and back, so a listed serial always opens again exactly.
    return (raw or b"").decode("latin-1")


def _check(code: int) -> None:
    if code != _errors.OK:
        # The system's reason first: the next call into the library may change it.
        reason = _library.system_reason() if code == _errors.ERROR_PLATFORM else 0
        _errors.raise_for(code, _lib.rxb540_strerror(code) or b"", reason)


def library_version() -> str:
    """The version of the loaded librxb540."""
    return _text(_lib.rxb540_version())


def list_boards() -> List[BoardInfo]:
    """Every attached board in the host's enumeration order."""
    handle = _library._Handle()
    _check(_lib.rxb540_list_boards(ctypes.byref(handle)))
    try:
        count = _lib.rxb540_list_count(handle)
        return [
            BoardInfo(_text(_lib.rxb540_list_serial(handle, i)), _text(_lib.rxb540_list_path(handle, i)))
            for i in range(count)
        ]
    finally:
        _lib.rxb540_list_free(handle)


def _encode(text: str, what: str) -> bytes:
    if not isinstance(text, str):
        raise TypeError(f"{what} must be a str, not {type(text).__name__}")
    try:
        encoded = text.encode("latin-1")
    except UnicodeEncodeError:
        raise ValueError(f"{what} {text!r} has characters outside Latin-1") from None
    if b"\0" in encoded:
        raise ValueError(f"{what} {text!r} contains a NUL character")
    return encoded


class Board:
    """One open board. Use it as a context manager, or call close()."""

    def __init__(self, handle: _library._Handle) -> None:
        self._handle: Optional[_library._Handle] = handle
        self._state: Optional[int] = None
        # One call at a time per board, so close() never frees a board that
        # another thread is using.
        self._lock = threading.Lock()

    def _open_handle(self) -> _library._Handle:
        if self._handle is None:
            raise ValueError("operation on a closed board")
        return self._handle

    @property
    def serial(self) -> str:
        """The board's serial number (after write_serial or init_serial: the new one)."""
        with self._lock:
            return _text(_lib.rxb540_board_serial(self._open_handle()))

    @property
    def path(self) -> str:
        """The interface path the board was opened at."""
        with self._lock:
            return _text(_lib.rxb540_board_path(self._open_handle()))

    @property
    def state(self) -> Optional[int]:
        """The last state written through this object, or None before any.

        The board cannot be read back, so this is not what the board shows
        after another program switched it.
        """
        return self._state

    @property
    def closed(self) -> bool:
        return self._handle is None

    def set_state(self, state: int) -> None:
        """Sets all eight relays: relay n is bit n-1 of state (0..255)."""
        if isinstance(state, bool) or not isinstance(state, int) or not 0 <= state <= 255:
            raise ValueError(f"state must be an integer from 0 to 255, not {state!r}")
        with self._lock:
            self._write_state(state)

    def _write_state(self, state: int) -> None:
        # Called with the lock held.
        _check(_lib.rxb540_set_state(self._open_handle(), state))
        self._state = state

    def set_relay(self, relay: int, on: bool) -> None:
        """Switches one relay (1..8) and leaves the others as last written."""
        if isinstance(relay, bool) or not isinstance(relay, int) or not 1 <= relay <= 8:
            raise ValueError(f"relay must be an integer from 1 to 8, not {relay!r}")
        # Read, modify and write under one hold of the lock: the library call
        # releases the interpreter lock, so another thread's relay would
        # otherwise be lost between the read and the write.
        with self._lock:
            self._open_handle()
            state = self._state
            if state is None:
                raise _errors.StateUnknownError(
                    None,
                    "the board's state is unknown (it cannot be read back); "
                    "call set_state() first to write a whole state",
                )
            bit = 1 << (relay - 1)
            self._write_state(state | bit if on else state & ~bit)

    def write_serial(self, serial: str) -> None:
        """Writes a new serial number: 1 to 11 of A-Z a-z 0-9 . _ - (not the keyword ANY)."""
        # The library checks the text and sends nothing when it refuses it.
        rule = f"a serial number is 1 to 11 of A-Z a-z 0-9 . _ - (not ANY), not {serial!r}"
        if not isinstance(serial, str):
            raise ValueError(rule)
        text = _encode(serial, "serial number")
        with self._lock:
            code = _lib.rxb540_write_serial(self._open_handle(), text)
        if code == _errors.ERROR_INVALID_ARGUMENT:
            raise ValueError(rule)
        _check(code)

    def init_serial(self) -> str:
        """Writes a serial number made from the current time, as `rxb540 init` does, and returns it."""
        buffer = ctypes.create_string_buffer(SERIAL_BUFFER)
        with self._lock:
            _check(_lib.rxb540_init_serial(self._open_handle(), buffer))
        return _text(buffer.value)

    def close(self) -> None:
        """Releases the board; closing again does nothing."""
        with self._lock:
            handle, self._handle = self._handle, None
            if handle is not None:
                _lib.rxb540_close(handle)

    def __enter__(self) -> "Board":
        self._open_handle()
        return self

    def __exit__(
        self,
        kind: Optional[Type[BaseException]],
        value: Optional[BaseException],
        traceback: Optional[TracebackType],
    ) -> None:
        self.close()

    def __del__(self) -> None:
        # A board that was never closed is released when it is collected.
        if getattr(self, "_handle", None) is not None:
            self.close()

    def __repr__(self) -> str:
        if self._handle is None:
            return "<rxb540.Board closed>"
        return f"<rxb540.Board serial={self.serial!r} path={self.path!r}>"


def open(selector: Optional[str] = None, *, path: Optional[str] = None) -> Board:  # noqa: A001
    """Opens a board by serial number, by the keyword "ANY" (the first board),
    or by its interface path (path=...), which reaches boards sharing a serial."""
    if (selector is None) == (path is None):
        raise ValueError("give either a selector (a serial number or 'ANY') or path=..., not both")
    handle = _library._Handle()
    if path is not None:
        code = _lib.rxb540_open_path(_encode(path, "path"), ctypes.byref(handle))
    else:
        code = _lib.rxb540_open(_encode(selector, "selector"), ctypes.byref(handle))  # type: ignore[arg-type]
    _check(code)
    return Board(handle)
