"""The reference server and the ostrel command line, end to end over loopback:
projects pushed and pulled, programs that succeed or fail,
routines, records kept across a restart, refused concurrent runs, and the
command line's one-line errors."""

import json
import signal
import socket
import subprocess
import sys
import threading
import time
from concurrent import futures
from pathlib import Path

import grpc
import pytest
from google.protobuf import json_format

from ostrel import cli
from ostrel.cli import errors
from ostrel.api import common_pb2 as C
from ostrel.api import data_pb2, ostrel_service_pb2, perception_pb2, planning_pb2, project_pb2
from ostrel.api import service_pb2 as S
from ostrel.api import service_pb2_grpc, system_pb2
from ostrel.server import OstrelServer, RecordStore

SAMPLE = Path(__file__).resolve().parents[1] / "examples" / "pick_and_place.json"
SCALE = 0.001  # simulated seconds -> real seconds


def sample_project():
    return json_format.Parse(SAMPLE.read_text(), project_pb2.ProjectSnapshot())


def behavior(**fields):
    return fields


def sequence(*steps, allow_failure=False):
    return behavior(sequence_routine={"behaviors": list(steps), "allow_failure": allow_failure})


def with_behavior(name, tree):
    """The sample project with one more behavior, given as a JSON-like dict."""
    project = sample_project()
    json_format.ParseDict(tree, project.behaviors[name])
    return project


START = {"name": "rec", "start_recording_data": {"description": "probe"}}
CONTROLLER = {"initialize_controller": {"robot": "ur5e", "tool": "gripper_tcp"}}
PERCEPTION = {"initialize_perception": {}}
OPEN = {"name": "open", "open_gripper": {"effector": "gripper"}}


def goto(**fields):
    step = {"robot": "ur5e", "tool": "gripper_tcp", "target_generators": ["home"]}
    step.update(fields)
    return {"name": "probe", "goto_target_positions": step}


class Cell:
    """A started server with a stub on it."""

    def __init__(self, db, time_scale=SCALE):
        self.server = OstrelServer(db=str(db), port=0, time_scale=time_scale, seed=7).start()
        self.target = self.server.target
        self.channel = grpc.insecure_channel(self.target, options=[("grpc.max_receive_message_length", -1)])
        self.stub = service_pb2_grpc.OstrelStub(self.channel)

    def push(self, project):
        assert self.stub.pushProjectSnapshot(project).code == C.SUCCESS

    def run(self, name, timeout=10.0):
        """Run a behavior to its end; returns the final Status."""
        started = self.stub.runProgram(S.ProgramRequest(behavior=name))
        assert started.code == C.RUNNING, started.message
        deadline = time.monotonic() + timeout
        while True:
            status = self.stub.pullSystemState(S.GenericRequest()).status
            if status.code != C.RUNNING:
                return status
            assert time.monotonic() < deadline, "program did not end"
            time.sleep(0.01)

    def records(self, **request):
        return self.stub.pullDataRecords(S.RecordsRequest(**request)).records

    def stop(self):
        self.channel.close()
        self.server.stop(grace=0)


@pytest.fixture
def cell(tmp_path):
    c = Cell(tmp_path / "cell.sqlite3")
    yield c
    c.stop()


def ostrel(capsys, target, *argv):
    """Run the command line in-process: (exit code, stdout, stderr)."""
    code = cli.main(["--target", target, *argv])
    out, err = capsys.readouterr()
    return code, out, err


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


# Projects ---------------------------------------------------------------------

def test_push_and_pull_round_trip_the_sample_project(cell, capsys, tmp_path):
    code, out, _ = ostrel(capsys, cell.target, "push", str(SAMPLE))
    assert code == 0 and out.startswith("SUCCESS")
    pulled = tmp_path / "pulled.json"
    assert ostrel(capsys, cell.target, "pull", "--out", str(pulled))[0] == 0
    original = sample_project()
    assert json_format.Parse(pulled.read_text(), project_pb2.ProjectSnapshot()) == original
    assert cell.stub.pullProjectSnapshot(S.GenericRequest()) == original
    code, out, _ = ostrel(capsys, cell.target, "pull")
    assert "pick_and_place" in out and "ur5e" in out


# Programs ---------------------------------------------------------------------

def test_run_wait_that_gives_up_exits_with_its_own_code_and_leaves_the_program_running(cell, capsys):
    cell.push(with_behavior("long", sequence({"sleep_routine": {"duration_s": 3000.0}})))  # 3 s at SCALE
    code, out, err = ostrel(capsys, cell.target, "run", "long", "--wait", "--wait-timeout", "0.1")
    assert code == errors.EXIT_STILL_RUNNING and "still running after 0.1 s" in err and err.count("\n") == 1
    assert cell.stub.pullSystemState(S.GenericRequest()).status.code == C.RUNNING


def test_sample_program_succeeds_and_records_events_products_and_project(cell, capsys):
    cell.push(sample_project())
    code, out, err = ostrel(capsys, cell.target, "run", "pick_and_place", "--wait", "--poll", "0.01")
    assert (code, err) == (0, "") and "SUCCESS" in out.splitlines()[-1]

    [record] = cell.records()
    assert record.description == "pick_and_place" and record.project == sample_project()
    assert record.start_timestamp_ns <= record.events[0].start_timestamp_ns
    assert record.events[-1].stop_timestamp_ns <= record.stop_timestamp_ns
    for event in record.events:
        assert [s.code for s in event.status] == [C.RUNNING, C.SUCCESS]
        assert [m.timestamp_ns for m in event.status_metadata] == [event.start_timestamp_ns,
                                                                  event.stop_timestamp_ns]
    # The leaf is carried by the agent's action; "descend" is a planner step.
    descend = next(e for e in record.events if e.name == "descend")
    action = planning_pb2.PlannerAction()
    assert descend.action.Unpack(action) and action.name == "descend"
    assert list(action.goto_target_positions.target_generators) == ["grasp"]

    planner = [p.planner for p in record.products if p.WhichOneof("type") == "planner"]
    moves = [p for p in planner if p.trajectory.reference]
    for plan in moves:
        times = list(plan.trajectory.time_s)
        assert len(times) == len(plan.trajectory.reference) and times == sorted(times)
    # Pose proposals come without inverse kinematics: reported, never reachable.
    poses = [t for p in planner if not p.trajectory.reference for t in p.target_proposals]
    assert len(poses) == 4 and not any(t.reachable for t in poses)
    grasp = project_pb2.ProjectSnapshot()
    grasp.CopyFrom(sample_project())
    grasp_q = list(grasp.variables.target_generators["grasp"].joint_position_target
                   .joint_positions.deterministic.data)
    descend_plan = moves[2]  # home, approach, descend
    assert list(descend_plan.trajectory.reference[-1].joint.positions.data) == pytest.approx(grasp_q)

    state = json_format.Parse(ostrel(capsys, cell.target, "state", "--json")[1], system_pb2.SystemState())
    assert state.status.code == C.SUCCESS and state.HasField("planner") and state.HasField("controller")


FAIL = {"name": "bad", "set_effector_positions": {"effector": "gripper", "positions": {"data": [0.1, 0.2]}}}
FAILED = "takes 1 positions"
ROUTINES = [  # tree, final code, events recorded, text in the final message
    (sequence(START, OPEN, FAIL, OPEN), C.FAILURE, 3, FAILED),
    (sequence(START, sequence(OPEN, FAIL, OPEN, allow_failure=True), OPEN), C.SUCCESS, 5, "1 allowed failures"),
    (sequence(START, behavior(repeat_routine={"behavior": OPEN, "repetitions": 3})), C.SUCCESS, 4, "4 steps"),
    (sequence(START, behavior(repeat_routine={"behavior": FAIL, "repetitions": 3, "allow_failure": True})),
     C.SUCCESS, 4, "3 allowed failures"),
    (sequence(START, behavior(repeat_routine={"behavior": FAIL, "repetitions": 3})), C.FAILURE, 2, FAILED),
    (sequence(START, behavior(repeat_routine={"behavior": OPEN})), C.SUCCESS, 1, "1 steps"),
    (sequence(START, {"sleep_routine": {"duration_s": 2.0}}, {"name": "empty"}, OPEN), C.SUCCESS, 2, "2 steps"),
    (sequence(START, goto()), C.FAILURE, 2, "controller of robot 'ur5e' is not initialized"),
    (sequence(START, CONTROLLER, goto(target_generators=["pick_poses"])), C.FAILURE, 3, "inverse kinematics"),
    (sequence(START, {"stop_recording_data": {}}, {"stop_recording_data": {}}), C.FAILURE, 2, "no recording"),
    (sequence(START, START), C.FAILURE, 2, "still open"),
    (sequence(START, CONTROLLER, goto(termination={"timeout_window_s": 0.01})), C.FAILURE, 3, "timeout window"),
    (sequence(START, CONTROLLER, {"screw_along_last_axis": {"robot": "ur5e", "num_rotations": 0.5}}),
     C.SUCCESS, 3, "3 steps"),
    (sequence(START, {"name": "probe", "set_effector_positions": {"effector": "gripper", "positions": {"data": [0.1, 0.2]}}}),
     C.FAILURE, 2, "takes 1 positions"),
]


@pytest.mark.parametrize("tree, code, events, text", ROUTINES)
def test_routines_run_in_order_and_honour_allow_failure(cell, tree, code, events, text):
    cell.push(with_behavior("probe", tree))
    status = cell.run("probe")
    assert status.code == code and text in status.message, status.message
    assert sum(len(r.events) for r in cell.records()) == events


def test_a_second_program_is_refused_while_one_runs_and_stopping_keeps_its_recording(tmp_path):
    cell = Cell(tmp_path / "busy.sqlite3", time_scale=1.0)
    try:
        project = with_behavior("long", sequence(START, CONTROLLER, {"sleep_routine": {"duration_s": 60.0}}))
        cell.push(project)
        assert cell.stub.runProgram(S.ProgramRequest(behavior="long")).code == C.RUNNING
        deadline = time.monotonic() + 10
        while not cell.stub.pullSystemState(S.GenericRequest()).HasField("controller"):
            assert time.monotonic() < deadline  # the recording is open once the controller is up
            time.sleep(0.01)
        second = cell.stub.runProgram(S.ProgramRequest(behavior="go_home"))
        assert second.code == C.FAILURE and "'long' is still running" in second.message
        assert cell.stub.pushProjectSnapshot(project).code == C.FAILURE
        assert cell.stub.pullSystemState(S.GenericRequest()).status.code == C.RUNNING
    finally:
        started = time.monotonic()
        cell.stop()  # stops the sleeping program instead of waiting a minute
        assert time.monotonic() - started < 5
    [record] = RecordStore(tmp_path / "busy.sqlite3").record_sets()
    assert record.description == "probe" and len(record.events) == 2 and record.stop_timestamp_ns


def test_json_of_a_running_program_names_its_status_code(tmp_path, capsys):
    """RUNNING is the code's default value, 0: the JSON still prints it."""
    cell = Cell(tmp_path / "json.sqlite3", time_scale=1.0)
    try:
        cell.push(with_behavior("long", sequence({"sleep_routine": {"duration_s": 60.0}})))
        code, out, err = ostrel(capsys, cell.target, "--json", "run", "long")
        assert (code, err) == (0, "") and json.loads(out) == {"code": "RUNNING", "message": "program 'long' started"}
        code, out, err = ostrel(capsys, cell.target, "state", "--json")
        state = json.loads(out)
        assert (code, err) == (0, "") and state["status"] == {"code": "RUNNING",
                                                             "message": "program 'long' is running"}
    finally:
        cell.stop()


@pytest.mark.parametrize("request_behavior, push, text", [
    ("pick_and_place", False, "no project has been pushed"),
    ("pick_and_place_twice", True, "unknown behavior 'pick_and_place_twice'"),
    ("", True, "names no behavior"),
])
def test_run_refusals_are_one_line_with_exit_code_1(cell, capsys, request_behavior, push, text):
    if push:
        cell.push(sample_project())
    code, out, err = ostrel(capsys, cell.target, "run", request_behavior, "--wait")
    assert code == errors.EXIT_FAILURE and out == "" and text in err and err.count("\n") == 1


# Records ----------------------------------------------------------------------

def test_project_and_records_survive_a_restart_and_honour_the_filters(tmp_path):
    db = tmp_path / "kept.sqlite3"
    first = Cell(db)
    try:
        first.push(sample_project())
        assert first.run("inspect").code == C.SUCCESS
        between = time.time_ns()
        assert first.run("pick_and_place").code == C.SUCCESS
        before = list(first.records())
    finally:
        first.stop()

    second = Cell(db)
    try:
        assert second.stub.pullProjectSnapshot(S.GenericRequest()) == sample_project()
        assert list(second.records()) == before and [r.description for r in before] == ["inspection", "pick_and_place"]
        assert [r.description for r in second.records(descriptions=["inspection", "other"])] == ["inspection"]
        assert [r.description for r in second.records(since_ns=between)] == ["pick_and_place"]
        assert list(second.records(since_ns=2**64 - 1)) == []
        assert second.run("go_home").code == C.SUCCESS  # the loaded project runs
    finally:
        second.stop()


def test_records_command_summarises_and_writes_json(cell, capsys, tmp_path):
    cell.push(sample_project())
    assert cell.run("inspect").code == C.SUCCESS
    out_file = tmp_path / "records.json"
    code, out, _ = ostrel(capsys, cell.target, "records", "--out", str(out_file))
    assert code == 0 and "inspection" in out and "6 events (0 failed)" in out
    written = json_format.Parse(out_file.read_text(), data_pb2.DataRecords())
    assert written.records == cell.records()
    calibrate = next(e for e in written.records[0].events if e.name == "calibrate")
    action = perception_pb2.PerceptionAction()
    assert calibrate.action.Unpack(action) and action.HasField("calibrate_camera_from_markers")


def test_records_larger_than_grpcs_default_message_limit_come_through(cell, capsys):
    crop = {"perspective_crop_image": {"camera": "d435i", "task_region": "pick_region",
                                       "width": 2100, "height": 2100}}
    cell.push(with_behavior("big", sequence(START, PERCEPTION, crop)))
    assert cell.run("big").code == C.SUCCESS
    code, out, err = ostrel(capsys, cell.target, "records")
    assert (code, err) == (0, "") and "products: 1 images, 1 perception" in out


# Command-line errors ------------------------------------------------------------

@pytest.mark.parametrize("content, text", [
    ('{"version": "1",', "is not valid JSON"),
    ('["version"]', "expected a JSON object"),
    ('{"versoin": "1"}', 'no field named "versoin"'),
    ('{"behaviors": {"x": {"sleep_routine": {"duration_s": "soon"}}}}', "duration_s"),
    (None, "cannot read"),
])
def test_invalid_project_files_are_refused_in_one_line(capsys, tmp_path, content, text):
    path = tmp_path / "project.json"
    if content is not None:
        path.write_text(content)
    code, out, err = ostrel(capsys, f"127.0.0.1:{free_port()}", "push", str(path))
    assert code == errors.EXIT_ERROR and out == ""
    assert err.count("\n") == 1 and text in err and str(path) in err


def test_unreachable_server_is_one_line_without_traceback():
    port = free_port()
    proc = subprocess.run([sys.executable, "-m", "ostrel.cli", "--target", f"127.0.0.1:{port}",
                           "--timeout", "2", "state"], capture_output=True, text=True, timeout=30)
    assert proc.returncode == errors.EXIT_ERROR and proc.stdout == ""
    assert proc.stderr.count("\n") == 1 and f"cannot reach the Ostrel server at 127.0.0.1:{port}" in proc.stderr


@pytest.mark.filterwarnings("ignore:'unary_unary' is an experimental API")
def test_server_process_reports_its_port_and_stops_on_sigint(tmp_path):
    proc = subprocess.Popen([sys.executable, "-m", "ostrel.server", "--port", "0", "--db",
                             str(tmp_path / "p.sqlite3"), "--time-scale", "0"],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        line = proc.stdout.readline()
        port = int(line.split(" (")[0].rsplit(":", 1)[1])
        status = service_pb2_grpc.Ostrel.connect(S.ConnectRequest(client="t"), f"127.0.0.1:{port}",
                                                 insecure=True, timeout=5)
        assert status.code == C.SUCCESS and "t;" in status.message
    finally:
        proc.send_signal(signal.SIGINT)
        _, err = proc.communicate(timeout=10)
    assert proc.returncode == 0 and "Traceback" not in err and "stopped" in err


class GateServer:
    """A server whose runProgram starts at once and whose pullSystemState
    answers RUNNING, or, with `hold`, blocks until the test ends: a Ctrl-C
    then surely lands inside a call."""

    def __init__(self, hold):
        self.hold, self.release = hold, threading.Event()
        self.polled = threading.Event()
        handlers = {
            "runProgram": grpc.unary_unary_rpc_method_handler(
                lambda request, context: C.Status(code=C.RUNNING, message="started"),
                S.ProgramRequest.FromString, C.Status.SerializeToString),
            "pullSystemState": grpc.unary_unary_rpc_method_handler(
                self.state, S.GenericRequest.FromString, system_pb2.SystemState.SerializeToString),
        }
        name = ostrel_service_pb2.DESCRIPTOR.services_by_name["Ostrel"].full_name
        self.server = grpc.server(futures.ThreadPoolExecutor(4))
        self.server.add_generic_rpc_handlers([grpc.method_handlers_generic_handler(name, handlers)])
        self.target = "127.0.0.1:%d" % self.server.add_insecure_port("127.0.0.1:0")
        self.server.start()

    def state(self, request, context):
        self.polled.set()
        if self.hold:
            self.release.wait()
        return system_pb2.SystemState(status=C.Status(code=C.RUNNING, message="busy"))

    def stop(self):
        self.release.set()
        self.server.stop(grace=0)


@pytest.mark.parametrize("hold", [True, False], ids=["inside a poll", "between polls"])
def test_ctrl_c_ends_the_wait_wherever_it_lands(hold):
    gate = GateServer(hold)
    try:
        proc = subprocess.Popen([sys.executable, "-m", "ostrel.cli", "--target", gate.target, "run", "long",
                                 "--wait", "--poll", "0.2"], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                text=True)
        try:
            assert proc.stdout.readline() == "RUNNING: started\n"
            assert gate.polled.wait(10)
            proc.send_signal(signal.SIGINT)
            out, err = proc.communicate(timeout=10)
        finally:
            proc.kill()
        assert (proc.returncode, out) == (errors.EXIT_INTERRUPTED, "")
        assert err == "ostrel: interrupted; program 'long' goes on running on the server (see `ostrel state`)\n"
    finally:
        gate.stop()


def test_ctrl_c_while_waiting_says_the_program_goes_on_running(tmp_path):
    cell = Cell(tmp_path / "wait.sqlite3", time_scale=1.0)
    try:
        cell.push(with_behavior("long", sequence({"sleep_routine": {"duration_s": 60.0}})))
        proc = subprocess.Popen([sys.executable, "-m", "ostrel.cli", "--target", cell.target, "run", "long",
                                 "--wait"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        assert proc.stdout.readline().startswith("RUNNING")
        proc.send_signal(signal.SIGINT)
        out, err = proc.communicate(timeout=10)
        assert proc.returncode == errors.EXIT_INTERRUPTED and out == ""
        assert err == "ostrel: interrupted; program 'long' goes on running on the server (see `ostrel state`)\n"
        assert cell.stub.pullSystemState(S.GenericRequest()).status.code == C.RUNNING
    finally:
        cell.stop()
