"""The package's interface on the simulated host: selection, errors, states, serials."""

from __future__ import annotations

import errno
import os
import re
import threading
from pathlib import Path

import pytest
import rxb540
from conftest import FOREIGN, board

# host file, selector, expected serial or exception, expected library code
SELECTION = [
    (board("A1") + board("B2"), "B2", "B2", None),
    (board("A1") + board("B2"), "ANY", "A1", None),
    (FOREIGN + board("A1"), "ANY", "A1", None),
    (board("A1") + board("A1", "state=7"), "A1", "A1", None),  # duplicates: the first one
    (board("A1"), "a1", rxb540.NotFoundError, -1),  # case-sensitive
    (board("A1"), "any", rxb540.NotFoundError, -1),  # the keyword is exact
    (board("A1"), "A", rxb540.NotFoundError, -1),  # whole serial only
    (FOREIGN, "ANY", rxb540.NotFoundError, -1),
    ("", "ANY", rxb540.NotFoundError, -1),
    (board("\\u00e9\\u0085x"), "\xe9\x85x", "\xe9\x85x", None),  # 8-bit serials cross as Latin-1
    ("vid=0x16c0 pid=0x05df manufacturer=example.com product=RXB540\n", "X", rxb540.CommunicationError, -2),
]


@pytest.mark.parametrize("host,selector,expected,code", SELECTION)
def test_open_selects_as_the_command_line_does(sim, host, selector, expected, code):
    sim.load(host)
    if isinstance(expected, str):
        with rxb540.open(selector) as opened:
            assert opened.serial == expected
            assert re.fullmatch(r"sim:\d+", opened.path)
    else:
        with pytest.raises(expected) as caught:
            rxb540.open(selector)
        assert caught.value.code == code and isinstance(caught.value, OSError)
        assert str(caught.value) in ("The specified device was not found", "Communication error with device")
    assert sim.open_count() == 0


def test_list_and_open_by_path_reach_boards_sharing_a_serial(sim):
    sim.load(FOREIGN + board("S") + board("S") + board("\\u0085"))
    listed = rxb540.list_boards()
    assert [b.serial for b in listed] == ["S", "S", "\x85"]
    with rxb540.open(path=listed[1].path) as second:
        second.set_state(9)
        assert second.path == listed[1].path
    assert sim.text().splitlines()[2].endswith("state=9")
    assert "state=9" not in sim.text().splitlines()[1]
    with rxb540.open(listed[2].serial) as by_serial:  # every listed serial opens again
        assert by_serial.path == listed[2].path
    with pytest.raises(rxb540.NotFoundError):
        rxb540.open(path=listed[0].path.replace("sim:1", "sim:0"))  # the keyboard is no board


@pytest.mark.parametrize("arguments", [{}, {"selector": "A", "path": "sim:0"}])
def test_open_wants_exactly_one_of_selector_and_path(sim, arguments):
    with pytest.raises(ValueError):
        rxb540.open(**arguments)


def test_states_and_relays_go_through_the_board(sim):
    sim.load(board("A1"))
    with rxb540.open("A1") as opened:
        assert opened.state is None
        with pytest.raises(rxb540.StateUnknownError, match="set_state"):
            opened.set_relay(1, True)
        for bad in (-1, 256, 1.0, "3", True):
            with pytest.raises(ValueError):
                opened.set_state(bad)
        assert not any(line.startswith("feature") for line in sim.log())
        opened.set_state(0b0101)
        opened.set_relay(2, True)
        opened.set_relay(1, False)
        opened.set_relay(8, True)
        for bad in (0, 9):
            with pytest.raises(ValueError):
                opened.set_relay(bad, True)
        assert opened.state == 0b10000110
    assert sim.text().rstrip().endswith("state=134")
    assert [line.split()[2][4:6] for line in sim.log() if line.startswith("feature")] == ["05", "07", "06", "86"]


def test_a_refused_report_raises_and_keeps_the_known_state(sim):
    sim.load(board("A1", "feature=fail"))
    with rxb540.open("A1") as opened:
        with pytest.raises(rxb540.CommunicationError) as caught:
            opened.set_state(1)
        assert caught.value.code == -2
        assert opened.state is None


@pytest.mark.parametrize("serial", ["PUMP-1", "a", "A.b_c-9xyz0", "12345678901"])
def test_write_serial_accepts_safe_texts(sim, serial):
    sim.load(board("OLD"))
    with rxb540.open("OLD") as opened:
        opened.write_serial(serial)
        assert opened.serial == serial
    assert [b.serial for b in rxb540.list_boards()] == [serial]


@pytest.mark.parametrize("serial", ["", "123456789012", "a b", "ä", "x/y", "a\0", "ANY", None, 5])
def test_write_serial_refuses_anything_else_before_sending(sim, serial):
    sim.load(board("OLD"))
    with rxb540.open("OLD") as opened:
        with pytest.raises(ValueError):
            opened.write_serial(serial)
    assert not any(line.startswith("feature") for line in sim.log())


def test_init_serial_writes_the_time_based_serial(sim):
    sim.load(board("OLD"))
    with rxb540.open("ANY") as opened:
        serial = opened.init_serial()
        assert re.fullmatch(r"-?\d{1,10}", serial) and opened.serial == serial
    assert f"serial={serial}" in sim.text()


def test_a_closed_board_raises_value_error_and_closes_once(sim):
    sim.load(board("A1"))
    with pytest.raises(RuntimeError):
        with rxb540.open("A1") as opened:
            raise RuntimeError("the test failed inside the block")
    assert sim.open_count() == 0 and opened.closed
    for use in (lambda: opened.serial, lambda: opened.set_state(1), opened.init_serial, opened.__enter__):
        with pytest.raises(ValueError, match="closed"):
            use()
    opened.close()
    assert sum(line.startswith("close") for line in sim.log()) == 1


def test_boards_are_usable_from_several_threads(sim):
    sim.load(board("A") + board("B"))
    boards = [rxb540.open("A"), rxb540.open("B")]
    threads = [threading.Thread(target=lambda b=b: [b.set_state(i) for i in range(20)]) for b in boards]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for opened in boards:
        opened.close()
    assert sim.text().count("state=19") == 2 and sim.open_count() == 0


def test_relays_switched_from_two_threads_are_both_kept(sim):
    sim.load(board("A"))
    with rxb540.open("A") as opened:
        for trial in range(20):
            opened.set_state(0)
            start = threading.Barrier(2)
            threads = [threading.Thread(target=lambda r=r: (start.wait(), opened.set_relay(r, True))) for r in (1, 2)]
            for thread in threads:
                thread.start()
            for thread in threads:
                thread.join()
            assert opened.state == 3, f"trial {trial}: relay {2 if opened.state == 1 else 1} was lost"
    assert sim.text().rstrip().endswith("state=3")


@pytest.mark.parametrize(
    "host,errno_value",
    [("colour=red\n", errno.EINVAL), (None, errno.ENOENT)],
)
def test_a_host_that_cannot_be_listed_is_a_platform_error_with_the_system_reason(sim, host, errno_value):
    if host is None:
        sim.file.unlink()
    else:
        sim.file.write_text(host)
    for attempt in (rxb540.list_boards, lambda: rxb540.open("ANY")):
        with pytest.raises(rxb540.Error) as caught:
            attempt()
        assert caught.value.code == -5 and caught.value.errno == errno_value
        assert str(caught.value) == caught.value.strerror == os.strerror(errno_value)


@pytest.mark.parametrize("document", ["README.md", "docs/python.md"])
def test_the_documented_example_runs(sim, document, capsys):
    sim.load(board("1700000001") + board("1700000002"))
    root = Path(__file__).resolve().parents[2]
    code = re.search(r"```python\n(.*?)```", (root / document).read_text(), re.S).group(1)
    if document == "docs/python.md":
        assert code == (root / "examples/relays.py").read_text(), "the page's example is not examples/relays.py"
    exec(compile(code, document, "exec"), {})
    assert capsys.readouterr().out.startswith("1700000001 sim:0\n1700000002 sim:1\n")
    assert sim.text().splitlines()[1].endswith("state=7")
