"""The exceptions of the package and the library's result codes."""

from __future__ import annotations

import os
import sys
from typing import Optional

# The result codes of rxb540.h.
OK = 0
ERROR_NOT_FOUND = -1
ERROR_COMMUNICATION = -2
ERROR_INVALID_ARGUMENT = -3
ERROR_NO_MEMORY = -4
ERROR_PLATFORM = -5


class Error(OSError):
    """A failure reported by librxb540; ``code`` is the library's result code.

    When the host's devices could not be listed, ``errno`` and ``strerror``
    are the system's reason (on Windows ``winerror`` too), and the text is that
    reason, as the command line prints it.
    """

    def __init__(self, code: Optional[int], message: str, system_error: int = 0) -> None:
        if not system_error:
            super().__init__(message)
        elif sys.platform == "win32":
            import ctypes

            super().__init__(0, ctypes.FormatError(system_error).strip(), None, system_error)
        else:
            super().__init__(system_error, os.strerror(system_error))
        self.code = code

    def __str__(self) -> str:
        return str(self.strerror if self.errno else self.args[0])


class NotFoundError(Error):
    """No board matched the selector or path."""


class CommunicationError(Error):
    """A board did not take a report, or its strings could not be read."""


class StateUnknownError(Error):
    """A single relay was asked to change while the board's state is unknown.

    The board cannot be read back, so the other relays' state is known only
    after a whole state was written through the same object.
    """


def raise_for(code: int, text: bytes, system_error: int = 0) -> None:
    """Raises the exception that matches a failed library call; system_error
    is the system's reason that a platform failure left."""
    message = text.decode("latin-1")
    if code == ERROR_NOT_FOUND:
        raise NotFoundError(code, message)
    if code == ERROR_COMMUNICATION:
        raise CommunicationError(code, message)
    if code == ERROR_NO_MEMORY:
        raise MemoryError(message)
    raise Error(code, message, system_error if code == ERROR_PLATFORM else 0)
