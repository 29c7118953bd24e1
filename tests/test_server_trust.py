"""The server against hostile callers and careless setups, over loopback
only: calls refused from their headers without their bodies, calls in flight
bounded, requests that never arrive given up, refusals logged within bounds,
signals at any moment, TLS files read again, files and sockets for their
owner only."""

import ctypes
import os
import signal
import socket
import subprocess
import sys
import threading
import time

import grpc
import pytest
from grpc_health.v1 import health_pb2, health_pb2_grpc

from ostrel.server import OstrelServer
from ostrel.server.gate import LOG_BURST, RateLimitedLog, Watchdog

SERVICE = "/ostrel.api.service.Ostrel/"
TOKEN = "trust-T0ken-never-logged"
BEARER = (("authorization", "Bearer " + TOKEN),)
SAMPLE = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "examples", "pick_and_place.json")


def raw(data):
    return data


def private(path, text):
    path.write_text(text)
    path.chmod(0o600)
    return str(path)


@pytest.fixture
def serve(tmp_path):
    """start(**settings) -> (server, channel), stopped at the end; a token
    file of TOKEN is at tmp_path/tokens."""
    private(tmp_path / "tokens", TOKEN + "\n")
    started, release = [], threading.Event()

    def start(**settings):
        server = OstrelServer(db=str(tmp_path / ("db%d" % len(started))), port=0, time_scale=0, **settings).start()
        channel = grpc.insecure_channel("127.0.0.1:%d" % server.port)
        started.append((server, channel))
        return server, channel

    start.release = release
    yield start
    release.set()  # silent callers end their bodies
    for server, channel in started:
        channel.close()
        server.stop(grace=0)


def silent_call(channel, metadata, release, body=None, timeout=5, method=SERVICE + "pushProjectSnapshot"):
    """A call that sends its headers and then `body`, or nothing until released."""
    def never():
        release.wait(timeout)
        return
        yield  # a request stream that ends without a message

    push = channel.stream_unary(method, request_serializer=raw, response_deserializer=raw)
    return push.future(iter([body]) if body is not None else never(), metadata=metadata, timeout=timeout)


def connect(channel, metadata=BEARER, timeout=2):
    call = channel.unary_unary(SERVICE + "connect", request_serializer=raw, response_deserializer=raw)
    return call(b"", metadata=metadata, timeout=timeout)


def connect_once_freed(channel, seconds=3.0):
    """connect, retried while the server is still busy: a cancelled call's
    client hears of it a moment before the server's worker leaves its slot."""
    deadline = time.monotonic() + seconds
    while True:
        try:
            return connect(channel)
        except grpc.RpcError as error:
            if error.code() != grpc.StatusCode.RESOURCE_EXHAUSTED or time.monotonic() > deadline:
                raise
            time.sleep(0.05)


def healthy(channel):
    answer = health_pb2_grpc.HealthStub(channel).Check(health_pb2.HealthCheckRequest(), timeout=2)
    return answer.status == health_pb2.HealthCheckResponse.SERVING


def code_of(future):
    error = future.exception(timeout=10)
    return error.code() if error is not None else grpc.StatusCode.OK


HOSTILE = [
    ("no token, no body", (), None),
    ("wrong token, no body", (("authorization", "Bearer guess"),), None),
    ("not a bearer token, no body", (("authorization", "Basic " + TOKEN),), None),
    ("wrong token, body past the message limit", (("authorization", "Bearer guess"),), b"\0" * (3 << 20)),
]


@pytest.mark.parametrize("name, metadata, body", HOSTILE, ids=[row[0] for row in HOSTILE])
def test_calls_without_a_valid_token_are_refused_from_their_headers(serve, tmp_path, name, metadata, body):
    server, channel = serve(token_file=str(tmp_path / "tokens"), max_workers=2, max_message_size=1 << 20)
    started = time.monotonic()
    hostile = [silent_call(channel, metadata, serve.release, body) for _ in range(6)]
    assert [code_of(call) for call in hostile] == [grpc.StatusCode.UNAUTHENTICATED] * 6
    assert time.monotonic() - started < 3  # not a read of the body, not a wait for it
    connect(channel)  # the workers are free for a caller with the token
    assert healthy(channel)


def test_calls_in_flight_are_bounded_and_a_request_that_never_comes_is_given_up(serve, caplog):
    server, channel = serve(max_workers=2, max_calls=2, read_timeout=0.5)
    silent = [silent_call(channel, (), serve.release) for _ in range(2)]
    time.sleep(0.2)
    with pytest.raises(grpc.RpcError) as busy:
        connect(channel)
    assert busy.value.code() == grpc.StatusCode.RESOURCE_EXHAUSTED and "busy: 2 service calls" in busy.value.details()
    assert healthy(channel)  # health checks have threads and a count of their own
    assert [code_of(call) for call in silent] == [grpc.StatusCode.CANCELLED] * 2
    connect_once_freed(channel)
    given_up = [r.getMessage() for r in caplog.records if "did not arrive within 0.5 s" in r.getMessage()]
    assert len(given_up) == 2 and "pushProjectSnapshot from ipv4:127.0.0.1:" in given_up[0]


def test_silent_health_checks_starve_neither_health_nor_the_service(serve):
    server, channel = serve(max_workers=2)
    silent = [silent_call(channel, (), serve.release, method="/grpc.health.v1.Health/Check") for _ in range(3)]
    time.sleep(0.2)
    assert healthy(channel)
    connect(channel, ())
    serve.release.set()
    assert {code_of(call) for call in silent} == {grpc.StatusCode.UNIMPLEMENTED}  # no request came


def test_the_watchdog_runs_due_actions_in_time_order_and_never_a_disarmed_one():
    watchdog, ran = Watchdog(), []
    plan = [(0.3, "late"), (0.1, "early"), (0.2, "disarmed"), (0.1, "early too"), (0.2, "middle")]
    armed = {name: watchdog.arm(seconds, lambda name=name: ran.append(name)) for seconds, name in plan}
    watchdog.disarm(armed["disarmed"])
    time.sleep(0.5)
    watchdog.stop()
    assert ran == ["early", "early too", "middle", "late"]


def test_refusals_are_logged_without_the_token_and_a_flood_is_cut_short(serve, tmp_path, caplog):
    server, channel = serve(token_file=str(tmp_path / "tokens"))
    for n in range(3 * LOG_BURST):
        with pytest.raises(grpc.RpcError):
            connect(channel, (("authorization", "Bearer %s-%d" % (TOKEN[:-1], n)),))
    lines = [r.getMessage() for r in caplog.records if r.getMessage().startswith("refused")]
    assert LOG_BURST <= len(lines) < 2 * LOG_BURST
    assert all(SERVICE + "connect from ipv4:127.0.0.1:" in line and "not accepted" in line for line in lines)
    assert not any(TOKEN[:-1] in r.getMessage() for r in caplog.records)
    limited = RateLimitedLog(burst=2, rate=20.0)
    for _ in range(5):
        limited.warning("refused %s", "x")
    time.sleep(0.1)
    limited.warning("refused %s", "y")
    assert [r.getMessage() for r in caplog.records][-3:] == [
        "refused x", "refused x", "refused y (3 more refusals not logged)"]


# Signals --------------------------------------------------------------------

def server_process(tmp_path, *argv):
    proc = subprocess.Popen([sys.executable, "-m", "ostrel.server", "--time-scale", "0",
                             "--db", str(tmp_path / "db"), *argv],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    return proc


def ends_within(proc, seconds):
    try:
        proc.communicate(timeout=seconds)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.communicate()
        return None
    return proc.returncode


def wait_listening(proc, port):
    """Returns the moment `port` takes connections, before the listening line."""
    deadline = time.monotonic() + 20
    while True:
        with socket.socket() as probe:
            if probe.connect_ex(("127.0.0.1", port)) == 0:
                return
        assert proc.poll() is None and time.monotonic() < deadline
        time.sleep(0.002)


def to_runtime_thread(proc, signum):
    """`signum` to one of the server's threads other than the main one."""
    tgkill = getattr(ctypes.CDLL(None, use_errno=True), "tgkill", None)
    if tgkill is None or not os.path.isdir("/proc/%d/task" % proc.pid):
        proc.kill()
        pytest.skip("no tgkill or /proc here")
    others = sorted(int(t) for t in os.listdir("/proc/%d/task" % proc.pid) if int(t) != proc.pid)
    assert tgkill(proc.pid, others[-1], signum) == 0


HUP, TERM, INT = signal.SIGHUP, signal.SIGTERM, signal.SIGINT
# name, options, when they are sent (the listening line, or the moment the port
# takes connections), to which thread, the signals; a last SIGHUP is followed
# by a check that the server still runs and a SIGTERM.
SIGNALS = [
    ("SIGHUP without a token file", [], "line", "main", [HUP]),
    ("SIGHUP with a token file", ["--token-file", "{tokens}"], "line", "main", [HUP]),
    ("SIGHUP then SIGTERM back to back", [], "line", "main", [HUP, TERM]),
    ("SIGHUP twice then SIGINT", ["--token-file", "{tokens}"], "line", "main", [HUP, HUP, INT]),
    ("SIGHUP the moment the port listens", ["--port", "{port}"], "port", "main", [HUP]),
    ("SIGTERM to a runtime thread", [], "line", "runtime", [TERM]),
]


@pytest.mark.parametrize("name, argv, when, thread, signals", SIGNALS, ids=[row[0] for row in SIGNALS])
def test_sighup_never_kills_and_a_stop_signal_is_acted_on_at_once(tmp_path, name, argv, when, thread, signals):
    names = {"tokens": private(tmp_path / "tokens", TOKEN + "\n"), "port": free_port()}
    proc = server_process(tmp_path, "--port", "0", *[a.format(**names) for a in argv])
    if when == "port":
        wait_listening(proc, names["port"])
    else:
        assert proc.stdout.readline().startswith("ostrel-server listening")
    for signum in signals:
        to_runtime_thread(proc, signum) if thread == "runtime" else proc.send_signal(signum)
    if signals[-1] == signal.SIGHUP:
        time.sleep(0.3)
        assert proc.poll() is None
        proc.send_signal(signal.SIGTERM)
    assert ends_within(proc, 5) == 0


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]
