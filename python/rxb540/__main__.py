"""`python -m rxb540 list` and `python -m rxb540 set SERIAL STATE`: the
command line's texts and exit statuses, for hosts without the rxb540 program."""

from __future__ import annotations

import os
import sys
from typing import BinaryIO, List

import rxb540

PROGRAM = "python3 -m rxb540"
_INT32_MAX = 2**31 - 1


def usage() -> str:
    return (
        "RXB540 host controller Version 0.0.1\n"
        "Copyright (c) 2026 The rxb540 developers. MIT License, no warranty.\n"
        "usage:\n"
        f"  {PROGRAM} list ... List all serial number of detected RXB540(s).\n"
        f'  {PROGRAM} set <SerialNumber|"ANY"> <StateNumber> ... Set state of relays.\n'
    )


def state_number(text: bytes) -> int:
    """Reads a state as C's atoi does, clamped to the 32-bit range; its low 8 bits are sent."""
    rest = text.lstrip(b" \t\n\v\f\r")
    negative = rest[:1] == b"-"
    if rest[:1] in (b"-", b"+"):
        rest = rest[1:]
    digits = 0
    while digits < len(rest) and 0x30 <= rest[digits] <= 0x39:
        digits += 1
    magnitude = int(rest[:digits]) if digits else 0
    value = -min(magnitude, _INT32_MAX + 1) if negative else min(magnitude, _INT32_MAX)
    return value & 0xFF


def display(serial: str) -> bytes:
    """One listed serial as one safe line: control bytes (C0, DEL, C1) become '?'."""
    raw = serial.encode("latin-1")
    return bytes(0x3F if b < 0x20 or 0x7F <= b <= 0x9F else b for b in raw) + b"\n"


def _list(out: BinaryIO, err: BinaryIO) -> int:
    try:
        boards = rxb540.list_boards()
    except rxb540.Error as error:
        err.write(f"error listing devices: {error}\n".encode("latin-1", "replace"))
        return 1
    for board in boards:
        out.write(display(board.serial))
    return 0


def _set(args: List[bytes], err: BinaryIO) -> int:
    selector = args[0].decode("latin-1")
    try:
        board = rxb540.open(selector)
    except (rxb540.Error, ValueError) as error:
        err.write(b"error finding " + args[0] + f": {error}\n".encode("latin-1", "replace"))
        return 1
    with board:
        try:
            board.set_state(state_number(args[1]))
        except rxb540.Error as error:
            err.write(f"error writing data: {error}\n".encode("latin-1", "replace"))
            return 1
    return 0


def main(argv: List[bytes], out: BinaryIO, err: BinaryIO) -> int:
    if argv[:1] in ([b"--help"], [b"-h"]):
        # Asked for: the usage on standard output, and success.
        out.write(usage().encode())
        status = 0
    elif len(argv) >= 1 and argv[0] == b"list":
        status = _list(out, err)
    elif len(argv) >= 1 and argv[0] == b"set":
        if len(argv) < 3:
            err.write(b"Invalid arguments.\n" + usage().encode())
            return 1
        status = _set(argv[1:3], err)
    else:
        err.write(usage().encode())
        return 1
    try:
        out.flush()
    except OSError as error:
        err.write(f"error writing output: {error.strerror}\n".encode("latin-1", "replace"))
        return 1
    return status


if __name__ == "__main__":
    sys.exit(main([os.fsencode(arg) for arg in sys.argv[1:]], sys.stdout.buffer, sys.stderr.buffer))
