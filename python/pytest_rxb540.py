"""pytest plugin of the rxb540 package: the fixture ``rxb540_board``.

Choose the board with ``--rxb540-board SELECTOR`` or the environment variable
RXB540_BOARD (a serial number or "ANY"); without either, the tests that use
the fixture are skipped. The board is closed after each test. With
``--rxb540-safe-state N`` or RXB540_SAFE_STATE, state N is written to the
board after every test that used it, passed or failed.
"""

from __future__ import annotations

import os
from typing import Iterator, Optional

import pytest

SKIP_REASON = "no RXB540 board chosen: pass --rxb540-board SELECTOR or set RXB540_BOARD (a serial number or ANY)"
_SAFE_STATE = pytest.StashKey[Optional[int]]()


def pytest_addoption(parser: pytest.Parser) -> None:
    parser.addoption(
        "--rxb540-board",
        metavar="SELECTOR",
        default=None,
        help="the RXB540 board for the rxb540_board fixture: a serial number or ANY (default: $RXB540_BOARD)",
    )
    parser.addoption(
        "--rxb540-safe-state",
        metavar="N",
        default=None,
        help="the state (0-255, 0x.. too) written to the board after every test that used rxb540_board, "
        "so that no failing test leaves the device under test powered (default: $RXB540_SAFE_STATE)",
    )


def pytest_configure(config: pytest.Config) -> None:
    text = config.getoption("--rxb540-safe-state") or os.environ.get("RXB540_SAFE_STATE")
    state = None
    if text:
        try:
            state = int(text, 0)
        except ValueError:
            state = -1
        if not 0 <= state <= 255:
            raise pytest.UsageError(f"--rxb540-safe-state (RXB540_SAFE_STATE) must be a state from 0 to 255, not {text!r}")
    config.stash[_SAFE_STATE] = state


@pytest.fixture
def rxb540_board(request: pytest.FixtureRequest) -> Iterator[object]:
    """An open rxb540.Board, closed after the test (after the safe state, if one is chosen)."""
    selector: Optional[str] = request.config.getoption("--rxb540-board") or os.environ.get("RXB540_BOARD")
    if not selector:
        pytest.skip(SKIP_REASON)
    # Imported here: loading the library must not break pytest runs that never use a board.
    import rxb540

    try:
        board = rxb540.open(selector)
    except rxb540.NotFoundError:
        seen = ", ".join(repr(info.serial) for info in rxb540.list_boards()) or "none"
        pytest.fail(f"RXB540 board {selector!r} not found; boards seen: {seen}", pytrace=False)
    safe_state = request.config.stash[_SAFE_STATE]
    path = board.path
    with board:
        yield board
        if safe_state is not None:
            # The test may have closed the board; the safe state goes out all the same.
            if board.closed:
                with rxb540.open(path=path) as reopened:
                    reopened.set_state(safe_state)
            else:
                board.set_state(safe_state)
