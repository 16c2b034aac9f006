"""Switch the relays of RXB540 USB relay boards through librxb540.

    import rxb540
    for board in rxb540.list_boards():
        print(board.serial, board.path)
    with rxb540.open("1700000002") as board:
        board.set_state(0b0101)

Importing the package loads the library: RXB540_LIBRARY (an absolute path)
when set, else a copy shipped in the package, else the installed
librxb540.so.0 (macOS: librxb540.0.dylib). ImportError lists every place tried.
"""

from ._board import Board, BoardInfo, library_version, list_boards, open
from ._errors import CommunicationError, Error, NotFoundError, StateUnknownError

__version__ = "0.1.0"

__all__ = [
    "Board",
    "BoardInfo",
    "CommunicationError",
    "Error",
    "NotFoundError",
    "StateUnknownError",
    "library_version",
    "list_boards",
    "open",
]
