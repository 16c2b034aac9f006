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

# Each row runs the command line and the module on copies of one host file;
# a row marked "absent" has none, so the host cannot be listed.
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
    ["absent", "list"],
    ["absent", "set", "ANY", "1"],
]


def run(argv, host_file: Path, env_extra=None):
    env = dict(os.environ, RXB540_SIM_HOST=str(host_file), **(env_extra or {}))
    env.pop("RXB540_SIM_LOG", None)
    return subprocess.run(argv, capture_output=True, env=env, timeout=60)


@pytest.mark.skipif(not CLI, reason="RXB540_CLI names no command line to compare with")
@pytest.mark.parametrize("args", COMMANDS, ids=lambda a: " ".join(a) or "none")
def test_module_behaves_like_the_command_line(tmp_path, args):
    results = []
    absent = args[:1] == ["absent"]
    for name, prefix in (("cli", [CLI]), ("module", [sys.executable, "-m", "rxb540"])):
        host = tmp_path / f"{name}.host"
        if not absent:
            host.write_text(HOST)
        done = run(prefix + [a.encode("latin-1") for a in args[absent:]], host)
        stderr = done.stderr.replace(b"python3 -m rxb540", os.fsencode(CLI))
        results.append((done.returncode, done.stdout, stderr, None if absent else host.read_text()))
    assert results[0] == results[1]


@pytest.mark.parametrize("args,status", [(["init"], 1), (["--help"], 0), (["-h"], 0)])
def test_module_usage_offers_no_init_and_help_succeeds(tmp_path, args, status):
    host = tmp_path / "b.host"
    host.write_text(HOST)
    done = run([sys.executable, "-m", "rxb540"] + args, host)
    usage = done.stdout if status == 0 else done.stderr
    assert done.returncode == status and usage.startswith(b"RXB540 host controller") and host.read_text() == HOST
    assert b"init" not in usage


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
    # Debian has no librxb540 package: the text says how to make one, or the library.
    assert "apt install librxb540-0" not in text and "not from Debian's archive" in text
    assert "cpack -G DEB" in text and text.endswith("export RXB540_LIBRARY=$PWD/build/release/librxb540.so.0")


FIXTURE_USER = """
def test_switches(rxb540_board):
    rxb540_board.set_state(5)
    assert rxb540_board.serial == "A1"
"""


# host, options, environment, outcome, text in pytest's output, state the board ends with
FIXTURES = [
    (board("A1"), [], {}, "1 skipped", "pass --rxb540-board SELECTOR or set RXB540_BOARD", "0"),
    (board("A1"), ["--rxb540-board", "A1"], {}, "1 passed", "", "5"),
    (board("A1"), [], {"RXB540_BOARD": "ANY"}, "1 passed", "", "5"),
    (board("A1") + board("B2"), ["--rxb540-board", "Z"], {}, "1 error",
     "RXB540 board 'Z' not found; boards seen: 'A1', 'B2'", "0"),
    (board("A1"), ["--rxb540-board", "A1", "--rxb540-safe-state", "0"], {}, "1 passed", "", "0"),
    (board("B2"), [], {"RXB540_BOARD": "ANY", "RXB540_SAFE_STATE": "0x80"}, "1 failed", "", "128"),  # after a failure too
    (board("A1"), ["--rxb540-board", "A1", "--rxb540-safe-state", "256"], {}, "", "must be a state from 0 to 255", "0"),
]


@pytest.mark.parametrize("host,option,env_extra,outcome,text,state", FIXTURES,
                         ids=["unchosen", "option", "env", "not-found", "safe", "safe-after-failure", "bad-safe"])
def test_the_fixture_opens_the_chosen_board_and_leaves_it_safe(sim, tmp_path, host, option, env_extra, outcome, text,
                                                               state):
    sim.load(host.replace("\n", " state=0\n", 1))
    (tmp_path / "test_user.py").write_text(FIXTURE_USER)
    env = {k: v for k, v in os.environ.items() if k not in ("RXB540_BOARD", "RXB540_SAFE_STATE")}
    done = subprocess.run([sys.executable, "-m", "pytest", "-rs", "-p", "no:cacheprovider", str(tmp_path / "test_user.py")]
                          + option, capture_output=True, text=True, env=dict(env, **env_extra), cwd=tmp_path,
                          timeout=120)
    assert outcome in done.stdout and text in done.stdout + done.stderr, done.stdout + done.stderr
    assert f"state={state}" in sim.text().splitlines()[0] and sim.open_count() == 0
