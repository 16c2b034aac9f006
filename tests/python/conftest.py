"""Shared helpers: the package runs on librxb540 built on the simulated host.

RXB540_LIBRARY (the library of a -DRXB540_PLATFORM=sim build) and RXB540_CLI
(that build's rxb540) are set by scripts/checks/65-python.sh.
"""

from __future__ import annotations

import os
from pathlib import Path
from typing import Callable, List

import pytest

MANUFACTURER = os.environ.get("RXB540_MANUFACTURER", "example.com")
FOREIGN = "vid=0x046d pid=0xc31c manufacturer=Logitech product=Keyboard\n"


def board(serial: str, extra: str = "") -> str:
    """One host-file line for an RXB540 board."""
    line = f"vid=0x16c0 pid=0x05df manufacturer={MANUFACTURER} product=RXB540 serial={serial}"
    return line + (" " + extra if extra else "") + "\n"


class SimHost:
    def __init__(self, folder: Path) -> None:
        self.file = folder / "boards.host"
        self.log_file = folder / "sim.log"

    def load(self, text: str) -> None:
        self.file.write_text(text, encoding="utf-8")
        if self.log_file.exists():
            self.log_file.unlink()

    def text(self) -> str:
        return self.file.read_text(encoding="utf-8")

    def log(self) -> List[str]:
        return self.log_file.read_text().splitlines() if self.log_file.exists() else []

    def open_count(self) -> int:
        """Handles opened and not closed, by the log."""
        lines = self.log()
        return sum(1 for line in lines if line.startswith("open ")) - sum(
            1 for line in lines if line.startswith("close ")
        )


@pytest.fixture
def sim(tmp_path: Path, monkeypatch: pytest.MonkeyPatch) -> SimHost:
    host = SimHost(tmp_path)
    host.load("")
    monkeypatch.setenv("RXB540_SIM_HOST", str(host.file))
    monkeypatch.setenv("RXB540_SIM_LOG", str(host.log_file))
    return host


Board = Callable[..., str]
