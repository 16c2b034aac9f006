"""`python -m rxb540` against the command line, the library loader, and the pytest fixture."""

from __future__ import annotations

import os
import subprocess
import sys
from pathlib import Path

import pytest
from conftest import FOREIGN, board

CLI = os.environ.get("RXB540_CLI", "")
HOST = FOREIGN + board("1700000001") + board("1700000002", "feature=fail") + board("\\u009b2J")

# Each row runs the command line and the module on copies of one host file.
COMMANDS = [
    ["list"],
    ["list", "extra"],
    ["set", "1700000001", "300"],
    ["set", "ANY", "  -1x"],
    ["set", "1700000002", "1"],  # refused report
    ["set", "999", "1"],
    ["set", "\x9b2J", "99999999999"],
    ["set", "1700000001"],
    [],
    ["bogus"],
]


def run(argv, host_file: Path, env_extra=None):
    env = dict(os.environ, RXB540_SIM_HOST=str(host_file), **(env_extra or {}))
    env.pop("RXB540_SIM_LOG", None)
    return subprocess.run(argv, capture_output=True, env=env, timeout=60)


@pytest.mark.skipif(not CLI, reason="RXB540_CLI names no command line to compare with")
@pytest.mark.parametrize("args", COMMANDS, ids=lambda a: " ".join(a) or "none")
def test_module_behaves_like_the_command_line(tmp_path, args):
    results = []
    for name, prefix in (("cli", [CLI]), ("module", [sys.executable, "-m", "rxb540"])):
        host = tmp_path / f"{name}.host"
        host.write_text(HOST)
        done = run(prefix + [a.encode("latin-1") for a in args], host)
        stderr = done.stderr.replace(b"python3 -m rxb540", os.fsencode(CLI))
        results.append((done.returncode, done.stdout, stderr, host.read_text()))
    assert results[0] == results[1]


def test_module_offers_no_init(tmp_path):
    host = tmp_path / "b.host"
    host.write_text(HOST)
    done = run([sys.executable, "-m", "rxb540", "init"], host)
    assert done.returncode == 1 and done.stderr.startswith(b"RXB540 host controller") and host.read_text() == HOST


def import_failure(env_extra):
    probe = "import rxb540"
    done = subprocess.run([sys.executable, "-c", probe], capture_output=True, text=True, timeout=60,
                          env=dict(os.environ, **env_extra))
    assert done.returncode == 1
    return done.stderr.strip().splitlines()


@pytest.mark.parametrize(
    "library,expected",
    [
        ("/nonexistent/librxb540.so.0", "cannot load librxb540 from RXB540_LIBRARY: /nonexistent/librxb540.so.0"),
        ("librxb540.so.0", "RXB540_LIBRARY=librxb540.so.0: not an absolute path"),
        ("/usr/lib/x86_64-linux-gnu/libc.so.6", "undefined symbol: rxb540_version"),
    ],
)
def test_an_explicit_library_that_fails_is_the_error(library, expected):
    lines = import_failure({"RXB540_LIBRARY": library})
    assert lines[-1].startswith("ImportError: cannot load librxb540 from RXB540_LIBRARY")
    assert expected in lines[-1]


def test_without_a_library_every_place_tried_is_named():
    env = {"RXB540_LIBRARY": "", "LD_LIBRARY_PATH": "/nonexistent"}
    if Path("/usr/lib/x86_64-linux-gnu/librxb540.so.0").exists():
        pytest.skip("librxb540 is installed on this host")
    text = "\n".join(import_failure(env))
    assert "not shipped in this package" in text and "librxb540.so.0:" in text
    assert text.endswith("or set RXB540_LIBRARY to the absolute path of the library")


FIXTURE_USER = """
def test_switches(rxb540_board):
    rxb540_board.set_state(5)
    assert rxb540_board.serial == "A1"
"""


@pytest.mark.parametrize(
    "option,env_board,outcome",
    [([], None, "1 skipped"), (["--rxb540-board", "A1"], None, "1 passed"), ([], "ANY", "1 passed"),
     (["--rxb540-board", "Z"], None, "1 error")],
)
def test_the_fixture_opens_the_chosen_board_or_skips(sim, tmp_path, option, env_board, outcome):
    sim.load(board("A1"))
    (tmp_path / "test_user.py").write_text(FIXTURE_USER)
    env = dict(os.environ)
    env.pop("RXB540_BOARD", None)
    if env_board:
        env["RXB540_BOARD"] = env_board
    done = subprocess.run([sys.executable, "-m", "pytest", "-rs", "-p", "no:cacheprovider", str(tmp_path / "test_user.py")]
                          + option, capture_output=True, text=True, env=env, cwd=tmp_path, timeout=120)
    assert outcome in done.stdout, done.stdout
    if outcome == "1 skipped":
        assert "pass --rxb540-board SELECTOR or set RXB540_BOARD" in done.stdout
    if outcome == "1 passed":
        assert "state=5" in sim.text() and sim.open_count() == 0
