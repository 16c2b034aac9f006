"""pytest plugin of the rxb540 package: the fixture ``rxb540_board``.

Choose the board with ``--rxb540-board SELECTOR`` or the environment variable
RXB540_BOARD (a serial number or "ANY"); without either, the tests that use
the fixture are skipped. The board is closed after each test.
"""

from __future__ import annotations

import os
from typing import Iterator, Optional

import pytest

SKIP_REASON = "no RXB540 board chosen: pass --rxb540-board SELECTOR or set RXB540_BOARD (a serial number or ANY)"


def pytest_addoption(parser: pytest.Parser) -> None:
    parser.addoption(
        "--rxb540-board",
        metavar="SELECTOR",
        default=None,
        help="the RXB540 board for the rxb540_board fixture: a serial number or ANY (default: $RXB540_BOARD)",
    )


@pytest.fixture
def rxb540_board(request: pytest.FixtureRequest) -> Iterator[object]:
    """An open rxb540.Board, closed after the test."""
    selector: Optional[str] = request.config.getoption("--rxb540-board") or os.environ.get("RXB540_BOARD")
    if not selector:
        pytest.skip(SKIP_REASON)
    # Imported here: loading the library must not break pytest runs that never use a board.
    import rxb540

    with rxb540.open(selector) as board:
        yield board
