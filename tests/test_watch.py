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
from ostrel.cli import errors, viewer, watch_view
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

    def call(self, method, request):
        from ostrel.api import service_pb2_grpc
        import grpc

        with grpc.insecure_channel(self.target) as channel:
            return getattr(service_pb2_grpc.OstrelStub(channel), method)(request)

    def push(self):
        assert self.call("pushProjectSnapshot", sample_project()).code == C.SUCCESS

    def run(self):
        assert self.call("runProgram", S.ProgramRequest(behavior=PROGRAM)).code == C.RUNNING

    def push_and_run(self):
        self.push()
        self.run()

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


def test_a_reader_that_goes_away_ends_the_watch_though_nothing_changes(server):
    proc = start_watch(server.target, "--hz", "20")
    read_until(proc.stdout, r" status: ")
    proc.stdout.close()  # as `grep -m1` does once it has its line
    code, _, err = ended(proc, timeout=5)
    assert code == errors.EXIT_ERROR and "Traceback" not in err, err


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
    (["watch"], "error: cannot reach the Ostrel server at 127.0.0.1:9"),  # never reached: not "lost"
])
def test_watch_faults_are_one_line(capsys, argv, fragment):
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


# The viewer ---------------------------------------------------------------

def _installed(*modules):
    import importlib.util

    return all(importlib.util.find_spec(module) is not None for module in modules)


needs_viewer = pytest.mark.skipif(not _installed("foxglove", "foxglove_schemas_protobuf", "websockets"),
                                  reason='needs the foxglove SDK and schemas (ostrel[live]) and websockets')


class ViewerClient:
    """A client of the viewers' WebSocket protocol: subscribes to every
    channel the server advertises and decodes each message with the schema
    advertised for its channel, by topic."""

    def __init__(self, port):
        self.port = port
        self.channels = {}  # id -> the advertised channel
        self.classes = {}  # subscription id -> (topic, message class)
        self.messages = {}  # topic -> decoded messages, in order
        self.statuses = []  # the server's status messages (a subscription refused, ...)
        self.subprotocol = None

    @staticmethod
    def message_class(channel):
        pool = descriptor_pool.DescriptorPool()
        files = descriptor_pb2.FileDescriptorSet.FromString(base64.b64decode(channel["schema"]))
        for file in files.file:
            pool.AddSerializedFile(file.SerializeToString())
        return message_factory.GetMessageClass(pool.FindMessageTypeByName(channel["schemaName"]))

    async def _advertised(self, socket, channels):
        subscriptions = []
        for channel in channels:
            assert channel["encoding"] == channel["schemaEncoding"] == "protobuf", channel
            self.channels[channel["id"]] = channel
            sid = len(self.classes) + 1
            self.classes[sid] = (channel["topic"], self.message_class(channel))
            subscriptions.append({"id": sid, "channelId": channel["id"]})
        await socket.send(json.dumps({"op": "subscribe", "subscriptions": subscriptions}))

    def _received(self, data):
        opcode, sid = struct.unpack_from("<BI", data)
        assert opcode == MESSAGE_DATA
        topic, cls = self.classes[sid]
        self.messages.setdefault(topic, []).append(cls.FromString(data[13:]))

    async def collect(self, done, timeout):
        """Reads until `done(self)` holds; False when `timeout` s passed first."""
        import websockets

        loop = asyncio.get_running_loop()
        deadline = loop.time() + timeout
        async with websockets.connect("ws://127.0.0.1:%d" % self.port, subprotocols=SUBPROTOCOLS, close_timeout=0.2, compression=None,
                                      max_size=None) as socket:
            self.subprotocol = socket.subprotocol
            while not done(self):
                try:
                    data = await asyncio.wait_for(socket.recv(), deadline - loop.time())
                except asyncio.TimeoutError:
                    return False
                if isinstance(data, str):
                    message = json.loads(data)
                    if message["op"] == "advertise":
                        await self._advertised(socket, message["channels"])
                    elif message["op"] == "unadvertise":
                        for channel in message["channelIds"]:
                            self.channels.pop(channel, None)
                    elif message["op"] == "status":
                        self.statuses.append(message["message"])
                else:
                    self._received(data)
        return True

    def topics(self):
        return {channel["topic"]: channel["schemaName"] for channel in self.channels.values()}

    def logged(self):
        return [m.message for m in self.messages.get("/viz/log", ())]


def start_viewer(target, *argv):
    """A watch serving the viewer on a free port, and that port."""
    proc = start_watch(target, "--hz", "20", "--viewer", "--viewer-port", "0", *argv)
    note = proc.stderr.readline()
    found = re.search(r"ws://127\.0\.0\.1:(\d+)", note)
    if found is None:
        proc.kill()
        raise AssertionError("no viewer address in %r" % note)
    return proc, int(found.group(1))


STATIC = ("/viz/tf_static", "/viz/scene", "/viz/camera/d435i/calibration")


@needs_viewer
def test_a_viewer_decodes_every_channel_of_a_run_and_one_that_comes_mid_run_gets_the_static_scene(tmp_path):
    from ostrel.records.scene import Scene

    server = Server(tmp_path, time_scale=0.15)  # a run of about 2 s
    proc, port = start_viewer(server.target)  # before the project: its channels come while viewers are there
    first, late = ViewerClient(port), ViewerClient(port)

    async def session():
        whole = asyncio.ensure_future(first.collect(lambda c: any("finished" in m for m in c.logged()), 20))
        while not first.classes and not whole.done():
            await asyncio.sleep(0.02)
        server.push_and_run()  # once the first viewer subscribed: it sees the whole run
        while not any(m.startswith("RUNNING") for m in first.logged()) and not whole.done():
            await asyncio.sleep(0.05)
        await asyncio.sleep(0.3)
        came = await late.collect(lambda c: all(topic in c.messages for topic in STATIC), 4)
        return came, await whole

    try:
        came, whole = asyncio.run(session())
    finally:
        proc.send_signal(signal.SIGINT)
        code, _, err = ended(proc)
        server.stop()
    assert whole and came, (sorted(first.messages), sorted(late.messages))
    assert code == errors.EXIT_INTERRUPTED and "Traceback" not in err, err
    assert first.subprotocol in SUBPROTOCOLS and late.statuses == []
    # No subscription to a channel that stays was refused (the server makes and
    # drops a channel of its own to take the refusal a viewer may get for the
    # first channel that comes while it is connected).
    refused = {int(n) for status in first.statuses for n in re.findall(r"\d+", status)}
    assert not refused & set(first.channels), first.statuses
    # The channels and schemas of the scene that the MCAP export writes.
    scene = Scene(sample_project())
    assert first.topics() == {channel.topic: channel.schema_name for channel in scene.channels()}
    # The robot's links move in the frame tree, the joints move, an image and the static scene came.
    links = [{t.child_frame_id: (t.translation.x, t.translation.y, t.translation.z) for t in m.transforms}
             for m in first.messages["/viz/tf"]]
    wrist = [frames["ur5e/wrist_3_link"] for frames in links if "ur5e/wrist_3_link" in frames]
    assert len(set(wrist)) > 2, wrist
    joints = first.messages["/viz/joints/ur5e/simulated"]
    assert [j.name for j in joints[0].joints] == ["shoulder_pan", "shoulder_lift", "elbow", "wrist_1", "wrist_2",
                                                  "wrist_3"]
    assert len({tuple(j.position for j in m.joints) for m in joints}) > 2
    images = [m for topic, ms in first.messages.items() if topic.endswith(("/image", "/pick_region")) for m in ms]
    assert images and all(len(m.data) == m.step * m.height > 0 for m in images)
    assert all(first.messages.get(topic) for topic in STATIC)
    assert [m.split(":")[0] for m in first.logged()][-2:] == ["RUNNING", "SUCCESS"]


def image(stamp_s, pixels=b"\x01\x02\x03" * 4):
    from foxglove_schemas_protobuf.RawImage_pb2 import RawImage

    message = RawImage(frame_id="cam", width=2, height=2, encoding="rgb8", step=6, data=pixels)
    message.timestamp.seconds = stamp_s
    return message


def transforms(stamp_s, x):
    from foxglove_schemas_protobuf.FrameTransforms_pb2 import FrameTransforms

    message = FrameTransforms()
    transform = message.transforms.add(parent_frame_id="world", child_frame_id="tool")
    transform.timestamp.seconds, transform.translation.x = stamp_s, x
    return message


class FakeScene:
    """Two channels, an image and the transforms, and no static messages."""

    def channels(self):
        from ostrel.records.scene import Channel, descriptor_set

        return [Channel(topic, type(message).DESCRIPTOR.full_name, descriptor_set(type(message).DESCRIPTOR))
                for topic, message in (("/image", image(0)), ("/tf", transforms(0, 0.0)))]

    def static(self, t_ns):
        return []


def built(rows):
    """(topic, message) pairs from (topic, arguments of its maker) rows, made
    when the test runs: the schema package may be missing at collection."""
    makers = {"/image": image, "/tf": transforms, "/unknown": transforms}
    return [(topic, makers[topic](*arguments)) for topic, arguments in rows]


@needs_viewer
@pytest.mark.parametrize("first, second, sent", [
    ([("/image", (1,))], [("/image", (2,))], 0),  # only the stamp moved
    ([("/image", (1,))], [("/image", (1, b"\x09" * 12))], 1),
    ([("/tf", (1, 0.5))], [("/tf", (1, 0.6))], 1),
    ([("/tf", (1, 0.5))], [("/tf", (2, 0.5))], 1),  # stamps of the parts: sent again
    ([("/image", (1,)), ("/tf", (1, 0.5))], [("/image", (1,)), ("/tf", (1, 0.7))], 1),
    ([("/tf", (1, 0.5))], [("/unknown", (1, 0.5))], 0),
])
def test_a_channel_is_published_again_only_when_its_messages_changed(first, second, sent):
    first, second = built(first), built(second)
    served = viewer.LiveViewer("127.0.0.1", 0, FakeScene(), 0)
    try:
        assert served.topics() == ["/image", "/tf"]
        assert served.publish(first, 1) == len(first)
        assert served.publish(second, 2) == sent
    finally:
        served.close()


@pytest.mark.parametrize("method, parse", [("pullSystemState", S.GenericRequest.FromString),
                                           ("pullProjectSnapshot", project_pb2.ProjectSnapshot.FromString)])
def test_a_malformed_answer_is_one_error_naming_its_method(method, parse):
    from ostrel.cli import watch

    with pytest.raises(errors.CliError, match="^%s answered with malformed data" % method):
        watch.parsed(method, parse, b"\x0a\xff")
