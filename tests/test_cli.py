"""The ostrel command line on its own: argument faults as one short line with
exit code 2, reading parts of an answer off the wire, polling with backoff,
record sets streamed as the JSON of the whole answer, files written in full
or not at all, and what --help and a plain command import."""

import json
import os
import pathlib
import re
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time

import grpc
import pytest
from google.protobuf import json_format

from ostrel import cli, outfile, protojson, terminal, wire
from ostrel.cli import errors, files
from ostrel.cli import calls as cli_client
from ostrel.cli import arguments, commands
from ostrel.cli import records as cli_records
from ostrel.api import common_pb2 as C
from ostrel.connection.settings import check as transport
from ostrel.api import data_pb2, perception_pb2, system_pb2


def closed_target():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return "127.0.0.1:%d" % s.getsockname()[1]


def run_cli(capsys, *argv):
    """(exit code, stdout, stderr) of an in-process run, SystemExit included."""
    try:
        code = cli.main(list(argv))
    except SystemExit as leaving:
        code = leaving.code
    out, err = capsys.readouterr()
    return code, out, err


def assert_one_short_error(code, out, err, *fragments):
    assert code == errors.EXIT_ERROR and out == ""
    assert err.count("\n") == 1 and err.endswith("\n") and len(err) < terminal.MAX_ERROR_CHARS + 40, err
    for fragment in fragments:
        assert fragment in err


# Argument faults ----------------------------------------------------------

@pytest.mark.parametrize("argv, fragment", [
    (["--timeout", "nan", "state"], "--timeout"),
    (["--timeout", "inf", "state"], "--timeout"),
    (["--timeout", "1e-9", "state"], "--timeout"),
    (["--timeout", "-1", "state"], "--timeout"),
    (["state", "--timeout", "soon"], "'soon'"),
    (["--target", "", "state"], "--target"),
    (["--target", "local host:1", "state"], "'local host:1'"),
    (["--target", "a\x1b[2Jb:1", "state"], "\\x1b"),
    (["--target", "h" * 5000 + ":1", "state"], "at most"),
    (["run", "x", "--wait", "--poll", "0"], "--poll"),
    (["run", "x", "--wait", "--wait-timeout", "inf"], "--wait-timeout"),
    (["records", "--since", "-1"], "--since"),
    (["records", "--since", str(2**64)], "--since"),
    (["records", "--since", "yesterday"], "'yesterday'"),
    (["records", "--since", "1y"], "'1y'"),
    (["records", "--since", "1969-12-31T23:59:59Z"], "--since"),
    (["--target", closed_target(), "report", "--json"], "report has no JSON output"),
    (["completion", "tcsh"], "invalid choice"),
    (["launch"], "invalid choice"),
    (["state", "extra\nline\x07" + "x" * 3000], "\\x07"),
])
def test_argument_faults_are_one_short_line_with_exit_code_2(capsys, argv, fragment):
    assert_one_short_error(*run_cli(capsys, *argv), fragment)


def test_an_empty_target_from_the_environment_is_an_argument_fault(capsys, monkeypatch):
    monkeypatch.setenv("OSTREL_TARGET", "")
    assert_one_short_error(*run_cli(capsys, "state"), "--target")


def nested_project(levels, leaf):
    tree = leaf
    for level in range(levels):
        tree = {"name": "n%d" % level, "sequence_routine": {"behaviors": [tree]}}
    return json.dumps({"version": "deep", "behaviors": {"deep": tree}})


@pytest.mark.parametrize("content, fragments", [
    (nested_project(60, {"open_gripper": {"effector": "g"}}), ["too deep", "fields deep"]),
    (nested_project(20, {"open_gripper": {"effectr": "g"}}), ['"effectr"', "fields deep"]),
    ("[" * 100000 + "]" * 100000, ["nested too deeply"]),
    ('{"version": "' + "v" * 5000 + '", "bogus": 1}', ['"bogus"']),
])
def test_project_files_refused_in_one_short_line(capsys, tmp_path, content, fragments):
    path = tmp_path / "project.json"
    path.write_text(content)
    assert_one_short_error(*run_cli(capsys, "--target", closed_target(), "push", str(path)), *fragments)


def test_a_target_the_runtime_refuses_is_one_line_without_runtime_log():
    env = dict(os.environ)
    env.pop("GRPC_VERBOSITY", None)
    proc = subprocess.run([sys.executable, "-m", "ostrel.cli", "--target", "dns:///", "state"],
                          capture_output=True, text=True, timeout=30, env=env)
    assert_one_short_error(proc.returncode, proc.stdout, proc.stderr, "--target", "dns:///")


@pytest.mark.parametrize("text, expected", [
    ("plain", "plain"),
    ("two\nlines\r\n\tand tabs", "two lines and tabs"),
    ("bell\x07 and escape\x1b[0m", "bell\\x07 and escape\\x1b[0m"),
    ("a" * 200 + "b" * 200, "a" * 200 + " ... " + "b" * 95),
])
def test_one_line(text, expected):
    assert terminal.one_line(text, limit=300) == expected


@pytest.mark.parametrize("message, expected", [
    ("Message type has no field named x.", "Message type has no field named x"),
    ("Failed to parse a field: Failed to parse b field: bad.", "in a.b: bad"),
    ("".join("Failed to parse f%d field: " % i for i in range(9)) + "bad",
     "in f0.f1.f2 ... f6.f7.f8 (9 fields deep): bad"),
    # The runtime's own path, with map keys and indices, wins over the chain.
    ('Failed to parse a field: Message type "T" has no field named "x" at "ProjectSnapshot.a[k].b".\n'
     ' Available Fields(except extensions): "[\'y\']"....',
     'in ProjectSnapshot.a[k].b: Message type "T" has no field named "x". Available Fields(except '
     'extensions): "[\'y\']"'),
    ("Failed to parse d field: Couldn't parse float: at at ProjectSnapshot.a.b.c.d.e.f.g..",
     "in ProjectSnapshot.a.b ... e.f.g (8 fields deep): Couldn't parse float: at"),
])
def test_json_parse_errors_name_the_field_path(message, expected):
    assert errors.json_parse_error_text(ValueError(message)) == expected


# Record set summaries ------------------------------------------------------

def merged_product_record_set():
    """A record set whose one product carries two members of its oneof on
    the wire, images then planner: parsed, planner is the one set."""
    product = (data_pb2.ProductRecord(timestamp_ns=5, images={}).SerializeToString()
               + data_pb2.ProductRecord(planner={}).SerializeToString())
    return b"\x2a" + bytes([len(product)]) + product


def failed_record_set():
    record = data_pb2.RecordSet(description="d", start_timestamp_ns=10**18, stop_timestamp_ns=10**18 + 10**9)
    record.events.add(name="a").status.add(code=C.SUCCESS)
    event = record.events.add(name="b")
    event.status.add(code=C.RUNNING)
    event.status.add(code=C.FAILURE)
    record.events.add(name="no status")
    record.products.add(timestamp_ns=1)  # no member
    record.products.add().images.images.add(data=bytes(1000))
    record.products.add().controller.time_s = 1.0
    record.project.version = "p"
    return record.SerializeToString()


@pytest.mark.parametrize("encoded", [
    b"", merged_product_record_set(), failed_record_set(), failed_record_set() + merged_product_record_set(),
])
def test_record_set_summary_from_the_wire_matches_the_parsed_one(encoded):
    api = cli_client.Api()
    parsed = data_pb2.RecordSet.FromString(encoded)
    kinds = {}
    for product in parsed.products:
        kind = product.WhichOneof("type") or "none"
        kinds[kind] = kinds.get(kind, 0) + 1
    answer = wire.field(data_pb2.DataRecords.DESCRIPTOR.fields_by_name["records"].number, encoded)
    assert cli_records.summary_lines(api, answer) == [cli_records.describe_record_set(api, parsed, kinds)]


def image_state(code, message):
    state = system_pb2.SystemState(status=C.Status(code=code, message=message))
    state.images.images.add(camera="c", width=64, height=64, data=bytes(4096))
    return state


# Polling --------------------------------------------------------------------

class FakeClock:
    def __init__(self):
        self.now, self.pauses = 0.0, []

    def monotonic(self):
        return self.now

    def sleep(self, seconds):
        self.pauses.append(seconds)
        self.now += seconds


class FakeStates:
    """A client whose system state reads RUNNING `running` times, then `end`."""

    def __init__(self, running, end):
        self.api = cli_client.Api()
        self.answers = [image_state(C.RUNNING, "busy")] * running + [image_state(end, "done")]
        self.polls = 0

    def call_raw(self, method, request, ctrl_c=None):
        assert method == "pullSystemState"
        self.polls += 1
        return self.answers[min(self.polls, len(self.answers)) - 1].SerializeToString()


@pytest.mark.parametrize("running, end, longest, give_up, pauses, result", [
    (0, C.SUCCESS, 1.0, None, [], C.SUCCESS),
    (6, C.FAILURE, 0.1, None, [0.02, 0.04, 0.08, 0.1, 0.1, 0.1], C.FAILURE),
    (3, C.SUCCESS, 0.01, None, [0.01, 0.01, 0.01], C.SUCCESS),
    (100, C.SUCCESS, 1.0, 0.5, [0.02, 0.04, 0.08, 0.16, 0.2], "still running after 0.5 s"),
])
def test_wait_polls_with_backoff_and_gives_up(monkeypatch, running, end, longest, give_up, pauses, result):
    clock = FakeClock()
    monkeypatch.setattr(cli_client.time, "monotonic", clock.monotonic)
    monkeypatch.setattr(cli_client.time, "sleep", clock.sleep)
    client = FakeStates(running, end)
    if isinstance(result, str):
        with pytest.raises(errors.CliError, match=result):
            cli_client.wait_for_end(client, "job", longest, give_up)
    else:
        assert cli_client.wait_for_end(client, "job", longest, give_up).code == result
    assert clock.pauses == pytest.approx(pauses)


class PendingCall:
    """A gRPC future that never completes on its own."""

    def __init__(self):
        self.cancelled = False

    def add_done_callback(self, callback):
        self.callback = callback

    def cancel(self):
        self.cancelled = True


@pytest.mark.parametrize("wait", ["sleep", "result"])
def test_ctrl_c_ends_a_wait_at_once_and_cancels_the_call(wait):
    call = PendingCall()
    waits = {"sleep": lambda ctrl_c: ctrl_c.sleep(30.0), "result": lambda ctrl_c: ctrl_c.result(call)}
    before = signal.getsignal(signal.SIGINT)
    timer = threading.Timer(0.1, os.kill, (os.getpid(), signal.SIGINT))
    started = time.monotonic()
    with cli_client.CtrlC() as ctrl_c:
        timer.start()  # the signal comes from another thread, as when the runtime's threads take it
        with pytest.raises(KeyboardInterrupt):
            waits[wait](ctrl_c)
    assert time.monotonic() - started < 5.0 and call.cancelled == (wait == "result")
    assert signal.getsignal(signal.SIGINT) is before


def test_a_call_answered_while_waiting_gives_its_result_and_stale_answers_are_ignored():
    class Answered(PendingCall):
        def add_done_callback(self, callback):
            callback(self)

        def result(self):
            return b"state"

    with cli_client.CtrlC() as ctrl_c:
        ctrl_c._marks.put(PendingCall())  # a finished earlier call's mark
        ctrl_c.sleep(0.01)
        assert ctrl_c.result(Answered()) == b"state"


class FailedCall(grpc.RpcError):
    def __init__(self, code, details):
        self._code, self._details = code, details

    def code(self):
        return self._code

    def details(self):
        return self._details


@pytest.mark.parametrize("code, details, text", [
    (grpc.StatusCode.UNAVAILABLE, "connection refused", "cannot reach the Ostrel server at"),
    (grpc.StatusCode.DEADLINE_EXCEEDED, "Deadline Exceeded", "no answer from the Ostrel server at"),
    (grpc.StatusCode.UNKNOWN, "Failed to create channel to 'x':the target uri is not valid: x",
     "--target: the gRPC runtime cannot use"),
    (grpc.StatusCode.RESOURCE_EXHAUSTED, "Received message larger than max",
     "connect failed: RESOURCE_EXHAUSTED: Received message larger than max"),
])
def test_call_failures_become_one_error_naming_the_cause(code, details, text):
    client = cli_client.Client(transport(closed_target()), 1.5)
    try:
        def fail():
            raise FailedCall(code, details)
        with pytest.raises(errors.CliError, match=re.escape(text)):
            client._guarded("connect", fail)
    finally:
        client.close()


@pytest.mark.parametrize("answer", [b"\x0a\x05ab", b"\x0a\x01\x08"])  # cut short; a status cut short
def test_a_malformed_state_is_an_error_not_a_status(answer):
    client = FakeStates(0, C.SUCCESS)
    client.call_raw = lambda method, request, ctrl_c=None: answer
    with pytest.raises(errors.CliError, match="pullSystemState answered with malformed data"):
        cli_client.current_status(client)


# Output ---------------------------------------------------------------------

def record_set(i):
    record = data_pb2.RecordSet(description="set %d" % i, start_timestamp_ns=10**18 + i)
    record.events.add(name="e").status.add(code=C.FAILURE, message="no\nway")
    record.events[0].action.Pack(perception_pb2.PerceptionAction(name="p"))
    record.products.add(timestamp_ns=i).images.images.add(camera="c", data=bytes(range(256)))
    record.project.version = "v"
    return record


@pytest.mark.parametrize("count", [0, 1, 3])
def test_streamed_records_are_the_json_of_the_whole_answer(tmp_path, count):
    records = data_pb2.DataRecords(records=[record_set(i) for i in range(count)])
    path = tmp_path / "records.json"
    with open(path, "w") as handle:
        writer = protojson.RecordsJson(handle)
        for record in records.records:
            writer.add(record)
        writer.close()
    whole = json_format.MessageToJson(records, preserving_proto_field_name=True, indent=2,
                                      always_print_fields_with_no_presence=True)
    assert path.read_text() == whole + "\n" and protojson.to_json(records) == whole
    assert json_format.Parse(path.read_text(), data_pb2.DataRecords()) == records


def test_a_failed_write_keeps_the_earlier_file_and_leaves_no_partial_one(tmp_path):
    path = tmp_path / "records.json"
    path.write_text("earlier")
    with pytest.raises(RuntimeError):
        with outfile.OutputFile(str(path)) as handle:
            handle.write("half")
            raise RuntimeError("stop")
    assert path.read_text() == "earlier" and os.listdir(tmp_path) == ["records.json"]
    files.write_file(str(path), lambda handle: handle.write("later"))
    assert path.read_text() == "later" and os.listdir(tmp_path) == ["records.json"]
    files.write_file(os.devnull, lambda handle: handle.write("to a device, directly"))
    with pytest.raises(errors.CliError, match="cannot write"):
        files.write_file(str(tmp_path / "missing" / "f.json"), lambda handle: handle.write("x"))


# Start-up -------------------------------------------------------------------

IMPORTS_OF = """
import sys
before = set(sys.modules)
sys.argv = {argv!r}
from {module} import main
try:
    main()
except SystemExit:
    pass
print(sorted(m for m in {watched!r} if m in sys.modules and m not in before))
"""


@pytest.mark.parametrize("module, argv, watched", [
    ("ostrel.server.__main__", ["ostrel-server", "--help"], ["grpc", "ostrel.api.common_pb2", "sqlite3"]),
    ("ostrel.cli", ["ostrel", "--help"], ["grpc", "ostrel.api.common_pb2", "shutil"]),
    ("ostrel.cli", ["ostrel", "--timeout", "0", "state"], ["grpc", "ostrel.api.common_pb2", "shutil"]),
    ("ostrel.cli", ["ostrel", "--target", "127.0.0.1:1", "--timeout", "1", "connect"],
     ["google.protobuf.json_format", "json", "shutil"]),
])
def test_help_argument_faults_and_plain_commands_import_only_what_they_need(fresh, module, argv, watched):
    proc = fresh(IMPORTS_OF.format(argv=argv, module=module, watched=watched))
    assert proc.stdout.splitlines()[-1] == "[]", proc.stdout + proc.stderr


# Times, exit codes, help pages, completion -------------------------------------

NOW = 1_800_000_000 * 10**9  # 2027-01-15T08:00:00Z
MAY_4 = 1_777_897_800 * 10**9  # 2026-05-04T12:30:00Z


@pytest.mark.parametrize("text, expected", [
    ("0", 0), ("123", 123), (str(2**64 - 1), 2**64 - 1),
    ("30s", NOW - 30 * 10**9), ("15m", NOW - 900 * 10**9), ("1h", NOW - 3600 * 10**9),
    ("2d", NOW - 2 * 86400 * 10**9), ("1w", NOW - 7 * 86400 * 10**9), ("1.5s", NOW - 1_500_000_000),
    ("2026-05-04T12:30:00Z", MAY_4), ("2026-05-04T12:30:00", MAY_4), ("2026-05-04T14:30:00+02:00", MAY_4),
    ("2026-05-04 12:30:00.250 UTC", MAY_4 + 250_000_000), ("2026-05-04", MAY_4 - (12 * 3600 + 1800) * 10**9),
])
def test_since_takes_nanoseconds_times_ago_and_iso_times(text, expected):
    assert arguments.since_ns(text, NOW) == expected


def test_records_show_utc_times_that_since_reads_back():
    record = data_pb2.RecordSet(description="a\x1b[31mb", start_timestamp_ns=MAY_4 + 250_999_999)
    line = cli_records.describe_record_set(cli_client.Api(), record, {})
    shown_time = line.split("  ")[0]
    assert shown_time == "2026-05-04 12:30:00.250 UTC" and "a\\x1b[31mb" in line
    assert arguments.since_ns(shown_time, NOW) <= record.start_timestamp_ns < arguments.since_ns(shown_time, NOW) + 10**6


def test_giving_up_the_wait_has_an_exit_code_of_its_own_named_in_the_help(capsys):
    codes = {code for code, _ in errors.EXIT_CODES}
    assert len(codes) == len(errors.EXIT_CODES) and errors.StillRunning("x").exit_code == errors.EXIT_STILL_RUNNING
    assert errors.EXIT_STILL_RUNNING not in (errors.EXIT_ERROR, errors.EXIT_FAILURE, 0)
    code, out, _ = run_cli(capsys, "--help")
    assert code == 0 and " ".join(out.split()).endswith(errors.exit_codes_text())
    readme = (pathlib.Path(__file__).resolve().parents[1] / "README.md").read_text().replace("`", "")
    assert all("| %d | %s |" % (code, text) in readme for code, text in errors.EXIT_CODES)


@pytest.mark.parametrize("command", commands.COMMANDS, ids=[c.name for c in commands.COMMANDS])
def test_every_command_help_page_describes_it_and_its_positional_arguments(capsys, command):
    code, out, _ = run_cli(capsys, command.name, "--help")
    text = " ".join(out.split())
    assert code == 0 and " ".join(command.description.split()) in text and "exit codes:" in text
    for flags, options in command.arguments:
        if not flags[0].startswith("-"):
            assert options.get("help") and " ".join(options["help"].split()) in text


@pytest.mark.parametrize("shell, check", [
    ("bash", ["bash", "-c", "source {script} && complete -p ostrel"]),
    ("zsh", ["zsh", "-n", "{script}"]),
    ("fish", ["fish", "--no-execute", "{script}"]),
])
def test_completion_scripts_are_generated_from_the_parser_and_load(tmp_path, shell, check):
    pytest.importorskip("shtab")
    proc = subprocess.run([sys.executable, "-m", "ostrel.cli", "completion", shell], capture_output=True,
                          text=True, timeout=60)
    assert proc.returncode == 0 and proc.stderr == "", proc.stderr
    for command in commands.COMMANDS:
        assert command.name in proc.stdout
    script = tmp_path / ("ostrel." + shell)
    script.write_text(proc.stdout)
    if shutil.which(check[0]) is None:
        pytest.skip("%s is not installed" % check[0])
    loaded = subprocess.run([part.format(script=script) for part in check], capture_output=True, text=True,
                            timeout=60)
    assert loaded.returncode == 0, loaded.stderr
    if shell == "bash":
        assert loaded.stdout.strip().endswith(" ostrel")
