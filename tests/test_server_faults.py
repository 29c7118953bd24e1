"""The reference server under hostile input, crashes and big data: projects
refused at push for what the server or a client could not handle, a killed
server's recording kept, one server per database, foreign or broken
database files named in one line, a stalled log stream, requests and
answers past gRPC's default limit, records assembled from stored bytes,
pushes at once, a full disk, damaged payload files and restarts that say
how the last program ended."""

import errno
import fcntl
import os
import signal
import sqlite3
import subprocess
import sys
import threading
import time

import grpc
import pytest
from google.protobuf import json_format

from ostrel.api import common_pb2 as C
from ostrel.api import data_pb2, execution_pb2, project_pb2
from ostrel.api import service_pb2 as S
from ostrel.api import service_pb2_grpc
from ostrel.server import DEFAULT_MAX_MESSAGE_SIZE, OstrelServer
from ostrel.server import __main__ as server_main
from ostrel.protocol import project_names as projectcheck
from ostrel.protocol.project_limits import MAX_BEHAVIOR_LEVELS, MAX_CAMERA_SIDE, MAX_READABLE_LEVELS, MIN_PREVIEW_WIDTH, message_levels
from ostrel.catalog import INTERRUPTED_EVENT, INTERRUPTED_TEXT, interruption
from ostrel.server import drawing
from test_server_cli import CONTROLLER, OPEN, PERCEPTION, START, Cell, sample_project, sequence, with_behavior

GENERIC = S.GenericRequest()


def deep_tree(levels):
    """A recording behavior of `levels` message levels: sequences, two levels
    each, around a leaf of two (open_gripper) or three (set_effector_positions)."""
    if levels % 2:
        node = execution_pb2.Behavior(name="set", set_effector_positions={"effector": "gripper",
                                                                          "positions": {"data": [0.1]}})
    else:
        node = execution_pb2.Behavior(name="open", open_gripper={"effector": "gripper"})
    while message_levels(node) < levels - 2:
        parent = execution_pb2.Behavior()
        parent.sequence_routine.behaviors.add().CopyFrom(node)
        node = parent
    root = execution_pb2.Behavior()
    json_format.ParseDict(START, root.sequence_routine.behaviors.add())
    root.sequence_routine.behaviors.add().CopyFrom(node)
    assert message_levels(root) == levels
    return root


def with_tree(name, tree):
    project = sample_project()
    project.behaviors[name].CopyFrom(tree)
    return project


def with_camera(**intrinsics):
    project = with_behavior("shoot", sequence(START, PERCEPTION, {"record_images": {}}))
    project.workspace.config.cameras["d435i"].intrinsics.MergeFrom(
        project.workspace.config.cameras["d435i"].intrinsics.__class__(**intrinsics))
    return project


def many_cameras(count, side):
    project = with_camera(width=side, height=side)
    for i in range(count):
        project.workspace.config.cameras["cam%03d" % i].CopyFrom(project.workspace.config.cameras["d435i"])
    return project


def big_project(mib):
    """The sample project grown by `mib` MiB (in a string: quick to parse
    for the pure-Python runtime too)."""
    project = sample_project()
    project.workspace.config.cameras["d435i"].realsense_d435i.serial_number += "0" * (mib << 20)
    return project


@pytest.fixture
def cell(tmp_path):
    c = Cell(tmp_path / "faults.sqlite3")
    yield c
    c.stop()


# Pushes refused for what would hang the server or poison the records ----------

REFUSED = [  # project, words the FAILURE must hold
    (with_camera(width=2**32 - 1, height=2**32 - 1), ["camera 'd435i'", str(MAX_CAMERA_SIDE)]),
    (with_camera(width=640, height=MAX_CAMERA_SIDE + 1), ["camera 'd435i'", "640 x %d" % (MAX_CAMERA_SIDE + 1)]),
    (many_cameras(120, MAX_CAMERA_SIDE), ["previews", "record_images"]),
    (with_tree("deep", deep_tree(MAX_BEHAVIOR_LEVELS + 1)), ["behavior 'deep'", str(MAX_READABLE_LEVELS)]),
]


@pytest.mark.parametrize("project, words", REFUSED, ids=["huge", "tall", "many", "deep"])
def test_push_refuses_what_the_server_or_a_client_could_not_handle(cell, project, words):
    status = cell.stub.pushProjectSnapshot(project)
    assert status.code == C.FAILURE and all(w in status.message for w in words), status.message
    assert cell.stub.pullProjectSnapshot(GENERIC) == project_pb2.ProjectSnapshot()  # nothing was stored
    assert cell.stub.pushProjectSnapshot(sample_project()).code == C.SUCCESS


def test_push_of_bytes_that_do_not_parse_is_a_failure_status(cell):
    push = cell.channel.unary_unary("/ostrel.api.service.Ostrel/pushProjectSnapshot",
                                    request_serializer=None, response_deserializer=C.Status.FromString)
    status = push(b"\x0a\xff\xff\xff\x0f", timeout=10)
    assert status.code == C.FAILURE and "does not parse" in status.message


@pytest.mark.parametrize("levels", [MAX_BEHAVIOR_LEVELS, MAX_BEHAVIOR_LEVELS - 1])
def test_the_deepest_trees_accepted_run_and_their_records_read_back(cell, levels):
    project = with_tree("deep", deep_tree(levels))
    cell.push(project)
    assert cell.run("deep").code == C.SUCCESS
    [record] = cell.records()  # parsed by this process's runtime, as a client would
    assert record.project == project and len(record.events) == 2


@pytest.mark.parametrize("project, images", [
    (with_camera(width=MAX_CAMERA_SIDE, height=MAX_CAMERA_SIDE), 1),
    (many_cameras(10, MAX_CAMERA_SIDE), 11),
])
def test_largest_cameras_accepted_record_quickly_and_state_stays_answering(cell, project, images):
    cell.push(project)
    started = time.monotonic()
    assert cell.run("shoot").code == C.SUCCESS
    assert time.monotonic() - started < 10
    state = cell.stub.pullSystemState(GENERIC, timeout=5)
    assert len(state.images.images) == images
    side = MAX_CAMERA_SIDE // 20
    image = state.images.images[0]
    assert (image.width, image.height, len(image.data)) == (side, side, side * side)
    assert image.data[:side] == bytes([drawing.BACKGROUND]) * side  # markers are drawn further in


# Kills, restarts and database files -------------------------------------------

def _start_server_process(db, *extra, stderr=None):
    proc = subprocess.Popen([sys.executable, "-m", "ostrel.server", "--port", "0", "--db", str(db), *extra],
                            stdout=subprocess.PIPE, stderr=stderr, text=True)
    line = proc.stdout.readline()
    assert "listening" in line, line
    port = int(line.split(" (")[0].rsplit(":", 1)[1])
    return proc, grpc.insecure_channel("127.0.0.1:%d" % port)


def _wait_for(condition, timeout=10.0):
    deadline = time.monotonic() + timeout
    while not condition():
        assert time.monotonic() < deadline, "timed out"
        time.sleep(0.02)


def test_sigkill_mid_run_keeps_the_recording_and_the_restart_says_it_was_interrupted(tmp_path):
    db = tmp_path / "killed.sqlite3"
    proc, channel = _start_server_process(db, "--time-scale", "1")
    try:
        client = service_pb2_grpc.OstrelStub(channel)
        project = with_behavior("long", sequence(START, CONTROLLER, OPEN, {"sleep_routine": {"duration_s": 60}}))
        assert client.pushProjectSnapshot(project, timeout=10).code == C.SUCCESS
        assert client.runProgram(S.ProgramRequest(behavior="long"), timeout=10).code == C.RUNNING

        def events():
            with sqlite3.connect(str(db)) as reader:
                return reader.execute("SELECT COUNT(*) FROM entries WHERE field = 4").fetchone()[0]
        _wait_for(lambda: events() == 3)
    finally:
        proc.kill()
        proc.wait(10)
        channel.close()

    cell = Cell(db)
    try:
        status = cell.stub.pullSystemState(GENERIC).status
        assert status.code == C.FAILURE and "'long', was interrupted" in status.message
        assert "'probe'" in status.message and "3 events" in status.message
        [record] = cell.records()
        assert [e.name for e in record.events] == ["rec", "initialize_controller", "open", INTERRUPTED_EVENT]
        assert interruption(record) == INTERRUPTED_TEXT
        assert record.stop_timestamp_ns == record.products[-1].timestamp_ns >= record.events[-1].stop_timestamp_ns
        assert record.project == project
        assert cell.run("go_home").code == C.SUCCESS  # the next run goes on as usual
    finally:
        cell.stop()
    again = Cell(db)
    try:
        assert again.stub.pullSystemState(GENERIC).status.code == C.SUCCESS  # closed once, not at each start
    finally:
        again.stop()


def test_a_second_server_on_one_database_refuses_to_start_naming_file_and_pid(tmp_path):
    db = tmp_path / "shared.sqlite3"
    first = OstrelServer(db=str(db), port=0)
    try:
        with pytest.raises(OSError) as refused:
            OstrelServer(db=str(db), port=0)
        proc = subprocess.run([sys.executable, "-m", "ostrel.server", "--port", "0", "--db", str(db)],
                              capture_output=True, text=True, timeout=30)
    finally:
        first.stop()
    for text in (str(refused.value) + "\n", proc.stderr):
        assert str(db) in text and "pid %d" % os.getpid() in text and text.count("\n") == 1, text
    assert proc.returncode == 2  # the server could not start
    OstrelServer(db=str(db), port=0).stop()  # free again once the first has stopped


def _foreign(db):
    with sqlite3.connect(str(db)) as other:
        other.execute("CREATE TABLE notes (id INTEGER, text TEXT)")


def _clashing(db):
    with sqlite3.connect(str(db)) as other:
        other.execute("CREATE TABLE project (id INTEGER, name TEXT)")


def _garbage(db):
    db.write_bytes(b"not a database at all" * 100)


@pytest.mark.parametrize("make, words", [
    (_foreign, ["not a database of ostrel-server", "notes"]),
    (_clashing, ["not a database of ostrel-server", "'project'", "'pushed_ns'"]),
    (_garbage, ["cannot open the database", "not a database"]),
])
def test_a_database_of_another_program_is_refused_in_one_line_naming_the_file(tmp_path, make, words):
    db = tmp_path / "other.sqlite3"
    make(db)
    before = db.read_bytes()
    proc = subprocess.run([sys.executable, "-m", "ostrel.server", "--port", "0", "--db", str(db)],
                          capture_output=True, text=True, timeout=30)
    assert proc.returncode == 2 and proc.stdout == ""
    assert proc.stderr.count("\n") == 1 and str(db) in proc.stderr, proc.stderr
    assert all(w in proc.stderr for w in words), proc.stderr
    assert db.read_bytes() == before  # left as it was


def test_a_stored_project_that_no_longer_parses_is_named_at_start_and_replaced_by_a_push(tmp_path):
    db = tmp_path / "stale.sqlite3"
    Cell(db).stop()
    with sqlite3.connect(str(db)) as writer:
        writer.execute("INSERT INTO projects (key, size, data) VALUES ('x', 5, ?)", (b"\x0a\xff\xff\xff\x0f",))
        writer.execute("INSERT INTO current_project (id, key, pushed_ns) VALUES (1, 'x', 1)")
    cell = Cell(db)
    try:
        status = cell.stub.pullSystemState(GENERIC).status
        assert status.code == C.FAILURE and str(db) in status.message and "push a project again" in status.message
        cell.push(sample_project())
        assert cell.run("go_home").code == C.SUCCESS
    finally:
        cell.stop()


def test_a_database_of_the_earlier_layout_is_read_and_extended(tmp_path):
    db = tmp_path / "old.sqlite3"
    old = data_pb2.RecordSet(description="old", start_timestamp_ns=5, stop_timestamp_ns=6, project=sample_project())
    with sqlite3.connect(str(db)) as writer:
        writer.executescript("""
            CREATE TABLE project (id INTEGER PRIMARY KEY CHECK (id = 1), pushed_ns INTEGER NOT NULL, data BLOB NOT NULL);
            CREATE TABLE record_sets (id INTEGER PRIMARY KEY AUTOINCREMENT, description TEXT NOT NULL,
                                      start_ns INTEGER NOT NULL, stop_ns INTEGER NOT NULL, data BLOB NOT NULL);""")
        writer.execute("INSERT INTO project VALUES (1, 1, ?)", (sample_project().SerializeToString(),))
        writer.execute("INSERT INTO record_sets (description, start_ns, stop_ns, data) VALUES ('old', 5, 6, ?)",
                       (old.SerializeToString(),))
    cell = Cell(db)
    try:
        assert cell.stub.pullProjectSnapshot(GENERIC) == sample_project()
        assert cell.run("inspect").code == C.SUCCESS
        assert [r.description for r in cell.records()] == ["old", "inspection"]
        assert list(cell.records(descriptions=["old"])) == [old]
    finally:
        cell.stop()


# Logging -----------------------------------------------------------------------

def test_a_log_stream_nobody_reads_neither_stalls_the_service_nor_its_stop(tmp_path):
    read_end, write_end = os.pipe()
    fcntl.fcntl(write_end, 1031, 4096)  # F_SETPIPE_SZ: a small pipe fills after a few lines
    try:
        proc, channel = _start_server_process(tmp_path / "quiet.sqlite3", stderr=write_end)
    finally:
        os.close(write_end)
    try:
        client = service_pb2_grpc.OstrelStub(channel)
        for _ in range(100):  # each refusal is logged at INFO; 4 KiB hold about 30
            assert client.runProgram(S.ProgramRequest(behavior="x"), timeout=5).code == C.FAILURE
        assert client.pullSystemState(GENERIC, timeout=5).status.code == C.SUCCESS
        proc.send_signal(signal.SIGTERM)
        assert proc.wait(15) == 0
    finally:
        if proc.poll() is None:
            proc.kill()
        channel.close()
        os.close(read_end)


def test_routine_calls_stay_off_the_info_log(cell, caplog):
    caplog.set_level("INFO", logger="ostrel")
    for _ in range(3):
        cell.stub.connect(S.ConnectRequest(client="probe"))
        cell.stub.pullSystemState(GENERIC)
        cell.stub.pullProjectSnapshot(GENERIC)
        cell.records()
    assert caplog.records == []
    cell.stub.runProgram(S.ProgramRequest(behavior="nothing"))
    assert [r.levelname for r in caplog.records] == ["INFO"] and "refused" in caplog.records[0].getMessage()


# Sizes ----------------------------------------------------------------------

@pytest.mark.parametrize("text, size", [
    ("1", 1), ("64M", 64 << 20), ("512k", 512 << 10), ("1G", DEFAULT_MAX_MESSAGE_SIZE), (str(2**31 - 1), 2**31 - 1),
    ("2G", None), ("0", None), ("-5M", None), ("lots", None), ("1T", None), ("", None),
])
def test_max_message_size_option_takes_bytes_with_a_suffix_below_2_gib(capsys, text, size):
    if size is None:
        with pytest.raises(SystemExit):
            server_main.build_parser().parse_args(["--max-message-size", text])
        assert capsys.readouterr().err.splitlines()[-1].startswith("ostrel-server: error: argument --max-message-size")
    else:
        assert server_main.build_parser().parse_args(["--max-message-size", text]).max_message_size == size
    assert server_main.build_parser().parse_args([]).max_message_size == DEFAULT_MAX_MESSAGE_SIZE


def test_a_project_past_grpcs_default_limit_pushes_pulls_and_is_recorded_once(cell, tmp_path):
    project = big_project(5)
    assert project.ByteSize() > 5 * 2**20
    cell.push(project)
    assert cell.stub.pullProjectSnapshot(GENERIC) == project
    for _ in range(3):
        assert cell.run("inspect").code == C.SUCCESS
    cell.push(project)  # the same again
    refused = with_tree("deep", deep_tree(MAX_BEHAVIOR_LEVELS + 1))
    refused.MergeFrom(project)
    assert cell.stub.pushProjectSnapshot(refused).code == C.FAILURE
    records = cell.records()
    assert len(records) == 3 and all(r.project == project for r in records)
    db = tmp_path / "faults.sqlite3"
    with sqlite3.connect(str(db)) as reader:
        assert reader.execute("SELECT COUNT(*) FROM projects").fetchone()[0] == 1
    files = [f for _, _, names in os.walk(str(db) + ".blobs") for f in names]
    assert len(files) == 1  # the refused project's file was dropped
    stray = os.path.join(str(db) + ".blobs", "ab", "ab12")  # as a kill between file and row leaves it
    os.makedirs(os.path.dirname(stray), exist_ok=True)
    open(stray, "wb").close()

    changed = big_project(5)
    for version in ("unused", "changed"):  # a project no recording refers to is dropped when replaced
        changed.version = version
        cell.push(changed)
    assert cell.run("inspect").code == C.SUCCESS
    assert [r.project.version for r in cell.records()] == [project.version] * 3 + ["changed"]
    with sqlite3.connect(str(db)) as reader:
        assert reader.execute("SELECT COUNT(*) FROM projects").fetchone()[0] == 2
    assert len([f for _, _, names in os.walk(str(db) + ".blobs") for f in names]) == 3  # two and the stray
    cell.stop()
    cell.__init__(db)  # a restart removes the stray file and keeps the others
    assert not os.path.exists(stray)
    assert [r.project.version for r in cell.records()] == [project.version] * 3 + ["changed"]


def test_answers_past_the_message_limit_fail_with_a_clear_status(tmp_path):
    server = OstrelServer(db=str(tmp_path / "small.sqlite3"), port=0, time_scale=0.001,
                          max_message_size=2 * 2**20).start()
    channel = grpc.insecure_channel(server.target, options=[("grpc.max_receive_message_length", -1)])
    try:
        client = service_pb2_grpc.OstrelStub(channel)
        with pytest.raises(grpc.RpcError) as pushed:
            client.pushProjectSnapshot(big_project(3), timeout=10)
        assert pushed.value.code() == grpc.StatusCode.RESOURCE_EXHAUSTED
        assert client.pushProjectSnapshot(big_project(1), timeout=10).code == C.SUCCESS
        starts = []
        for _ in range(2):
            starts.append(time.time_ns())
            client.runProgram(S.ProgramRequest(behavior="inspect"), timeout=10)
            _wait_for(lambda: client.pullSystemState(GENERIC).status.code != C.RUNNING)
        with pytest.raises(grpc.RpcError) as pulled:
            client.pullDataRecords(S.RecordsRequest(), timeout=10)
        assert pulled.value.code() == grpc.StatusCode.RESOURCE_EXHAUSTED
        assert "records come to" in pulled.value.details()
        assert "message limit of %d" % (2 * 2**20) in pulled.value.details()
        assert len(client.pullDataRecords(S.RecordsRequest(since_ns=starts[1])).records) == 1
    finally:
        channel.close()
        server.stop(grace=0)
    # Restarted with a lower limit, the stored project is too large to answer.
    server = OstrelServer(db=str(tmp_path / "small.sqlite3"), port=0, max_message_size=2**20).start()
    channel = grpc.insecure_channel(server.target, options=[("grpc.max_receive_message_length", -1)])
    try:
        with pytest.raises(grpc.RpcError) as pulled:
            service_pb2_grpc.OstrelStub(channel).pullProjectSnapshot(GENERIC, timeout=10)
        assert pulled.value.code() == grpc.StatusCode.RESOURCE_EXHAUSTED
        assert "project comes to" in pulled.value.details() and "--max-message-size" in pulled.value.details()
    finally:
        channel.close()
        server.stop(grace=0)


def test_any_number_of_descriptions_is_a_valid_filter(cell):
    cell.push(sample_project())
    assert cell.run("inspect").code == C.SUCCESS
    names = ["d%06d" % i for i in range(40000)]  # more than SQLite's 32766 variables of a statement
    assert list(cell.records(descriptions=names)) == []
    assert [r.description for r in cell.records(descriptions=names + ["inspection"])] == ["inspection"]


@pytest.mark.parametrize("mib", [0, 1])  # a project kept in its row, and one kept in a file
def test_records_and_project_are_answered_from_the_bytes_stored(cell, mib):
    project = with_behavior("shoot", sequence(START, PERCEPTION, {"record_images": {}}, OPEN))
    project.MergeFrom(big_project(mib))
    pushed = project.SerializeToString()
    cell.push(project)
    for _ in range(2):
        assert cell.run("shoot").code == C.SUCCESS
    pull = cell.channel.unary_unary("/ostrel.api.service.Ostrel/pullDataRecords",
                                    request_serializer=S.RecordsRequest.SerializeToString,
                                    response_deserializer=None)
    raw = pull(S.RecordsRequest(), timeout=10)
    records = data_pb2.DataRecords.FromString(raw).records
    assert raw.count(pushed) == 2 and [len(r.events) for r in records] == [4, 4]
    assert [p.WhichOneof("type") for p in records[0].products] == ["perception", "images", "controller"]
    assert records[0].products[1].images.images[0].width == MIN_PREVIEW_WIDTH  # 640 pixels wide, at least 160
    pull_project = cell.channel.unary_unary("/ostrel.api.service.Ostrel/pullProjectSnapshot",
                                            request_serializer=S.GenericRequest.SerializeToString,
                                            response_deserializer=None)
    assert pull_project(GENERIC, timeout=10) == pushed


# Concurrent pushes, full disks, damaged payloads and restarts -----------------------

def test_pushes_at_once_take_turns_and_every_recording_holds_a_pushed_project(cell, tmp_path, monkeypatch):
    first, second = sample_project(), sample_project()
    second.version = "second"
    cell.push(first)
    checking, release = threading.Event(), threading.Event()
    check = projectcheck.problems

    def held(project, allow_empty=False):  # holds the first push of `first` inside its check
        if project.version == first.version and not checking.is_set():
            checking.set()
            release.wait(10)
        return check(project, allow_empty)

    monkeypatch.setattr(projectcheck, "problems", held)
    answers = {}

    def push(project):
        answers[project.version] = cell.stub.pushProjectSnapshot(project, timeout=20)

    again = threading.Thread(target=push, args=(first,))
    again.start()
    assert checking.wait(10)
    other = threading.Thread(target=push, args=(second,))
    other.start()
    other.join(0.3)  # a push that does not wait for its turn has ended by now
    release.set()
    again.join(20)
    other.join(20)
    assert [answers[p.version].code for p in (first, second)] == [C.SUCCESS, C.SUCCESS]
    assert cell.stub.pullProjectSnapshot(GENERIC) == second  # it came second
    assert cell.run("inspect").code == C.SUCCESS
    assert [r.project for r in cell.records()] == [second]
    cell.stop()
    cell.__init__(tmp_path / "faults.sqlite3")
    assert cell.stub.pullProjectSnapshot(GENERIC) == second
    cell.server.service.shutdown()  # no program starts once the server is stopping
    refused = cell.stub.runProgram(S.ProgramRequest(behavior="inspect"))
    assert refused.code == C.FAILURE and "shutting down" in refused.message


@pytest.fixture
def small_disk(tmp_path):
    """A 4 MiB file system of its own (tmpfs; needs root)."""
    if os.geteuid() != 0:
        pytest.skip("mounting a small file system needs root")
    mount = tmp_path / "disk"
    mount.mkdir()
    proc = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=4m", "tmpfs", str(mount)],
                          capture_output=True, text=True)
    if proc.returncode != 0:
        pytest.skip("cannot mount a tmpfs: %s" % proc.stderr.strip())
    yield mount
    subprocess.run(["umount", "-l", str(mount)], check=True)


def _fill(folder, leave):
    """Take the free space of `folder`'s file system but about `leave` bytes."""
    reserve = os.path.join(folder, "reserve")
    with open(reserve, "wb") as out:
        out.write(bytes(leave))
    filler = os.path.join(folder, "filler")
    fd = os.open(filler, os.O_WRONLY | os.O_CREAT)
    try:
        for chunk in (1 << 16, 1 << 12, 1):
            try:
                while True:
                    os.write(fd, bytes(chunk))
            except OSError as error:
                assert error.errno == errno.ENOSPC
    finally:
        os.close(fd)
    os.remove(reserve)
    return filler


def _payload_files(db):
    return sorted(name for _, _, names in os.walk(str(db) + ".blobs") for name in names)


def test_a_full_disk_leaves_no_partial_file_and_freed_space_serves_at_once(small_disk):
    db = small_disk / "full.sqlite3"
    cell = Cell(db)
    try:
        shoot = with_camera(width=MAX_CAMERA_SIDE, height=MAX_CAMERA_SIDE)  # 655 KiB images, kept in files
        cell.push(shoot)
        before = _payload_files(db)
        filler = _fill(small_disk, 192 << 10)  # room for rows, none for a payload file
        status = cell.stub.pushProjectSnapshot(big_project(1))
        assert status.code == C.FAILURE and "No space left on device" in status.message, status.message
        assert cell.run("shoot").code == C.FAILURE  # its images cannot be stored
        assert _payload_files(db) == before  # nothing half-written stays behind
        os.remove(filler)
        cell.push(big_project(1))
        cell.push(shoot)
        assert cell.run("shoot").code == C.SUCCESS
        assert [len(r.products) for r in cell.records()][-1] == 2

        def full(*args):
            raise OSError(errno.ENOSPC, "No space left on device")
        cell.server.store.close_recording = full  # the last write of a run fails
        status = cell.run("shoot")
        assert status.code == C.FAILURE and "recording was not closed: [Errno 28]" in status.message, status.message
    finally:
        cell.stop()
    cell = Cell(db)
    try:  # the program was ended as it was; its recording is closed at the start
        status = cell.stub.pullSystemState(GENERIC).status
        assert "recording was not closed" in status.message and "before the server restarted" in status.message
        assert "recording 'probe' was left open" in status.message and status.code == C.FAILURE
        assert len(cell.records()) == 3
    finally:
        cell.stop()


def _truncate(path):
    with open(path, "r+b") as f:
        f.truncate(os.path.getsize(path) // 2)


def _flip(path):
    with open(path, "r+b") as f:
        f.seek(1000)
        byte = f.read(1)
        f.seek(1000)
        f.write(bytes([byte[0] ^ 1]))


def _drop_checksums(db):
    """As an earlier version left its rows: no checksum column."""
    with sqlite3.connect(str(db)) as writer:
        for table in ("entries", "projects"):
            writer.execute("ALTER TABLE %s DROP COLUMN checksum" % table)


def _entry_file(db, description):
    with sqlite3.connect(str(db)) as reader:
        return reader.execute("SELECT e.blob FROM entries e JOIN recordings r ON r.id = e.recording "
                              "WHERE r.description = ? AND e.blob IS NOT NULL", (description,)).fetchone()[0]


def _project_file(db, description):
    with sqlite3.connect(str(db)) as reader:
        return reader.execute("SELECT project FROM recordings WHERE description = ?", (description,)).fetchone()[0]


DAMAGES = [  # the payload damaged, how, words of the answer, whether rows keep their checksums
    (_entry_file, _truncate, ["holds", "where", "were written"], True),
    (_entry_file, _flip, ["does not match the checksum"], True),
    (_entry_file, os.remove, ["is missing"], True),
    (_project_file, _truncate, ["holds", "where", "were written"], True),
    (_project_file, _flip, ["does not match the checksum"], True),
    (_entry_file, _truncate, ["holds", "where", "were written"], False),
]


@pytest.mark.parametrize("payload, damage, words, checksums", DAMAGES,
                         ids=["cut", "changed", "missing", "project cut", "project changed", "cut, no checksum"])
def test_a_damaged_payload_is_named_with_its_record_set_and_the_others_stay_readable(
        tmp_path, payload, damage, words, checksums):
    db = tmp_path / "damaged.sqlite3"
    cell = Cell(db)
    try:
        for description in ("a", "b", "c"):
            project = big_project(1)  # kept in a file, as are the images of its large camera
            project.version = description
            project.workspace.config.cameras["d435i"].intrinsics.width = MAX_CAMERA_SIDE
            project.workspace.config.cameras["d435i"].intrinsics.height = MAX_CAMERA_SIDE
            json_format.ParseDict(sequence({"start_recording_data": {"description": description}}, PERCEPTION,
                                           {"record_images": {}}), project.behaviors["shoot"])
            cell.push(project)
            assert cell.run("shoot").code == C.SUCCESS
        intact = {r.description: r for r in cell.records()}
    finally:
        cell.stop()
    if not checksums:
        if sqlite3.sqlite_version_info < (3, 35):
            pytest.skip("dropping a column needs SQLite 3.35")
        _drop_checksums(db)
    path = os.path.join(str(db) + ".blobs", payload(db, "b")[:2], payload(db, "b"))
    damage(path)
    cell = Cell(db)
    try:
        with pytest.raises(grpc.RpcError) as pulled:
            cell.records()
        assert pulled.value.code() == grpc.StatusCode.DATA_LOSS
        text = pulled.value.details()
        assert "record set 'b'" in text and path in text and all(w in text for w in words), text
        assert "'a'" not in text and "'c'" not in text
        assert [r for r in cell.records(descriptions=["a", "c"])] == [intact["a"], intact["c"]]
        assert list(cell.records(since_ns=intact["c"].start_timestamp_ns)) == [intact["c"]]
    finally:
        cell.stop()


def test_a_missing_current_project_file_is_reported_at_start_and_mended_by_a_push(tmp_path):
    db = tmp_path / "lost.sqlite3"
    cell = Cell(db)
    try:
        cell.push(big_project(1))
        assert cell.run("inspect").code == C.SUCCESS
        [kept] = cell.records()
    finally:
        cell.stop()
    with sqlite3.connect(str(db)) as reader:
        key = reader.execute("SELECT key FROM current_project").fetchone()[0]
    os.remove(os.path.join(str(db) + ".blobs", key[:2], key))
    cell = Cell(db)
    try:
        status = cell.stub.pullSystemState(GENERIC).status
        assert status.code == C.FAILURE and key in status.message and "push a project again" in status.message
        assert "'inspect' finished" in status.message  # how the last program ended is still said
        with pytest.raises(grpc.RpcError):  # its recording refers to the lost project
            cell.records()
        cell.push(sample_project())
        assert cell.run("go_home").code == C.SUCCESS
        assert cell.stub.pullSystemState(GENERIC).status.code == C.SUCCESS
    finally:
        cell.stop()


def test_a_restart_says_how_the_last_program_ended_sigterm_included(tmp_path):
    db = tmp_path / "stopped.sqlite3"
    proc, channel = _start_server_process(db, "--time-scale", "1")
    try:
        client = service_pb2_grpc.OstrelStub(channel)
        project = with_behavior("long", sequence(START, CONTROLLER, {"sleep_routine": {"duration_s": 60}}))
        assert client.pushProjectSnapshot(project, timeout=10).code == C.SUCCESS
        assert client.runProgram(S.ProgramRequest(behavior="long"), timeout=10).code == C.RUNNING
        _wait_for(lambda: client.pullSystemState(GENERIC).HasField("controller"))
        proc.send_signal(signal.SIGTERM)
        assert proc.wait(15) == 0
    finally:
        if proc.poll() is None:
            proc.kill()
        channel.close()
    for expected, behavior in [(C.FAILURE, "go_home"), (C.SUCCESS, None)]:
        cell = Cell(db)
        try:
            status = cell.stub.pullSystemState(GENERIC).status
            assert status.code == expected and "before the server restarted" in status.message, status.message
            if behavior is not None:
                assert "program 'long' stopped after 2 steps" in status.message
                assert cell.run(behavior).code == C.SUCCESS
            else:
                assert "program 'go_home' finished" in status.message
        finally:
            cell.stop()
