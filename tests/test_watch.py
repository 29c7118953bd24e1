"""`ostrel watch` against a real local server: the piped lines of a run,
Ctrl-C and a server that goes away each ending it in one line, waiting for
a server that comes back; and `ostrel watch --viewer` read by a client of
the viewers' WebSocket protocol: every advertised channel decoded with its
advertised schema, the static scene for a viewer that comes in mid-run,
camera images published only when they change, and no listening beyond
loopback unless asked for."""

import asyncio
import base64
import json
import re
import signal
import struct
import subprocess
import sys
import time
from pathlib import Path

import pytest
from google.protobuf import descriptor_pb2, descriptor_pool, json_format, message_factory

from ostrel import cli
from ostrel.api import common_pb2 as C
from ostrel.api import project_pb2
from ostrel.api import service_pb2 as S
from ostrel.cli import errors, viewer, watch, watch_view
from ostrel.server import OstrelServer

SAMPLE = Path(__file__).resolve().parents[1] / "examples" / "pick_and_place.json"
PROGRAM = "pick_and_place"
SUBPROTOCOLS = ["foxglove.websocket.v1", "foxglove.sdk.v1"]
MESSAGE_DATA = 1  # opcode of a binary message of a subscription


def sample_project():
    return json_format.Parse(SAMPLE.read_text(), project_pb2.ProjectSnapshot())


class Server:
    """An ostrel server on a free loopback port with the sample project."""

    def __init__(self, tmp_path, time_scale, port=0):
        self.db = str(tmp_path / "watch.sqlite3")
        self.time_scale = time_scale
        self.server = OstrelServer(db=self.db, port=port, time_scale=time_scale, seed=3).start()
        self.port = self.server.port
        self.target = "127.0.0.1:%d" % self.port

    def push_and_run(self):
        from ostrel.api import service_pb2_grpc
        import grpc

        with grpc.insecure_channel(self.target) as channel:
            stub = service_pb2_grpc.OstrelStub(channel)
            assert stub.pushProjectSnapshot(sample_project()).code == C.SUCCESS
            assert stub.runProgram(S.ProgramRequest(behavior=PROGRAM)).code == C.RUNNING

    def stop(self):
        self.server.stop(grace=0)


@pytest.fixture
def server(tmp_path):
    started = Server(tmp_path, time_scale=0.05)
    yield started
    started.stop()


def start_watch(target, *argv):
    return subprocess.Popen([sys.executable, "-m", "ostrel.cli", "--target", target, "watch", *argv],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def ended(proc, timeout=10):
    """(exit code, stdout, stderr) of a watch that ends by itself or was told to."""
    try:
        out, err = proc.communicate(timeout=timeout)
    finally:
        proc.kill()
    return proc.returncode, out, err


def read_until(stream, pattern, timeout=10):
    """The lines read from `stream` up to the first that matches `pattern`."""
    lines, deadline = [], time.monotonic() + timeout
    while time.monotonic() < deadline:
        line = stream.readline()
        assert line, "the stream ended before %r: %r" % (pattern, lines)
        lines.append(line)
        if re.search(pattern, line):
            return lines
    raise AssertionError("no %r within %g s: %r" % (pattern, timeout, lines))


LINE = re.compile(r"^\d\d:\d\d:\d\d\.\d{3} [a-z]+( \S+)?: .+\n$")


# The terminal view --------------------------------------------------------

def test_piped_watch_prints_one_line_per_change_from_running_to_success(server):
    proc = start_watch(server.target, "--hz", "20")
    try:
        first = read_until(proc.stdout, r" status: ")
        server.push_and_run()
        lines = first + read_until(proc.stdout, r" status: SUCCESS: program '%s' finished" % PROGRAM)
    finally:
        proc.send_signal(signal.SIGINT)
        code, _, err = ended(proc)
    statuses = [line.split(" status: ", 1)[1].split(":")[0] for line in lines if " status: " in line]
    assert statuses[-2:] == ["RUNNING", "SUCCESS"]
    assert all(LINE.match(line) for line in lines), lines
    assert any(" robot ur5e: joints [" in line for line in lines) and any(" planner: " in line for line in lines)
    moves = [line.split(": ", 1)[1] for line in lines if " robot ur5e: " in line]
    # A line each time the robot moved, none when it did not.
    assert len(moves) > 2 and all(a != b for a, b in zip(moves, moves[1:])), moves
    assert (code, err) == (errors.EXIT_INTERRUPTED, "ostrel: stopped watching\n")


@pytest.mark.parametrize("wait", [False, True], ids=["ends", "waits"])
def test_a_server_that_goes_away_ends_the_watch_in_one_line_or_is_waited_for(tmp_path, wait):
    first = Server(tmp_path, time_scale=0.05)
    proc = start_watch(first.target, "--hz", "20", *(["--wait-for-server"] if wait else []))
    try:
        read_until(proc.stdout, r" status: ")
        first.stop()
        if not wait:
            code, out, err = ended(proc)
            assert code == errors.EXIT_ERROR and out == ""
            assert err.count("\n") == 1 and err.startswith("ostrel: error: lost the server: cannot reach"), err
            return
        assert "waiting for the server (--wait-for-server): cannot reach" in proc.stderr.readline()
        again = Server(tmp_path, time_scale=0.05, port=first.port)
        try:
            assert proc.stderr.readline() == "ostrel: the server answers again\n"
        finally:
            again.stop()
    finally:
        proc.send_signal(signal.SIGINT)
        ended(proc)


def test_a_server_never_reached_is_one_line_naming_it():
    proc = start_watch("127.0.0.1:9", "--timeout", "2")
    code, out, err = ended(proc)
    assert (code, out) == (errors.EXIT_ERROR, "")
    assert err.count("\n") == 1 and "cannot reach the Ostrel server at 127.0.0.1:9" in err and "lost" not in err


@pytest.mark.parametrize("before, rows, changed", [
    ({}, [("status", "RUNNING: x"), ("robot a", "joints [0]")], [("status", "RUNNING: x"), ("robot a", "joints [0]")]),
    ({"status": "RUNNING: x"}, [("status", "RUNNING: x")], []),
    ({"status": "RUNNING: x", "robot a": "joints [0]"}, [("status", "RUNNING: x"), ("robot a", "joints [1]")],
     [("robot a", "joints [1]")]),
    ({"status": "RUNNING: x", "planner": "p"}, [("status", "SUCCESS: y")],
     [("status", "SUCCESS: y"), ("planner", watch_view.GONE)]),
])
def test_only_rows_that_changed_or_went_away_are_printed(before, rows, changed):
    last = dict(before)
    assert watch_view.changed_rows(last, rows) == changed
    assert last == dict(rows)


@pytest.mark.parametrize("argv, fragment", [
    (["watch", "--hz", "0.1"], "--hz: must be a number of polls per second from 0.2 to 50, got '0.1'"),
    (["watch", "--hz", "51"], "got '51'"),
    (["watch", "--hz", "nan"], "got 'nan'"),
    (["watch", "--viewer-port", "70000"], "--viewer-port: must be a port number"),
    (["watch", "--viewer-port", "-1"], "--viewer-port"),
    (["watch", "--json"], "watch has no JSON output"),
    (["watch", "--viewer", "--viewer-host", "0.0.0.0"], "refusing to serve the viewer on 0.0.0.0"),
    (["watch", "--viewer", "--viewer-host", "192.0.2.1"], "--viewer-insecure"),
])
def test_watch_argument_faults_are_one_line_before_any_connection(capsys, argv, fragment):
    try:
        code = cli.main(["--target", "127.0.0.1:9", *argv])
    except SystemExit as leaving:
        code = leaving.code
    out, err = capsys.readouterr()
    assert (code, out) == (errors.EXIT_ERROR, "") and err.count("\n") == 1 and fragment in err, err


@pytest.mark.parametrize("host, insecure, exposed", [
    ("127.0.0.1", False, False), ("::1", False, False), ("localhost", False, False),
    ("0.0.0.0", True, True), ("192.0.2.1", True, True),
    ("0.0.0.0", False, None), ("::", False, None), ("example.com", False, None),
])
def test_the_viewer_listens_beyond_loopback_only_when_asked(host, insecure, exposed):
    if exposed is None:
        with pytest.raises(ValueError, match="--viewer-insecure"):
            viewer.check_viewer_host(host, insecure)
    else:
        assert viewer.check_viewer_host(host, insecure) is exposed


def test_without_the_sdk_the_viewer_is_one_error_naming_the_extra(capsys, monkeypatch):
    monkeypatch.setitem(sys.modules, "foxglove", None)
    code = cli.main(["--target", "127.0.0.1:9", "watch", "--viewer"])
    _, err = capsys.readouterr()
    assert code == errors.EXIT_ERROR and 'pip install "ostrel[live]"' in err and err.count("\n") == 1


def test_a_terminal_without_rich_gets_one_note_and_the_lines(capsys, monkeypatch):
    class Terminal:
        def isatty(self):
            return True

    monkeypatch.setitem(sys.modules, "rich", None)
    view = watch_view.open_view("t", Terminal())
    assert isinstance(view, watch_view.Lines)
    assert capsys.readouterr().err == watch_view.NO_RICH_NOTE + "\n"
