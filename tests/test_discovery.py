"""The reference server as standard gRPC tools see it: a client with no copy
of the API lists and calls the service by reflection, reflection hands out
our modules' descriptors byte for byte, and the standard health service
answers SERVING while the server works, NOT_SERVING for the service while its
store's disk is full, and NOT_SERVING for everything once a stop begins."""

import importlib
import os
import signal
import subprocess
import sys
import threading
import time
from collections import namedtuple
from importlib import metadata
from pathlib import Path

import grpc
import pytest
from google.protobuf import descriptor_pb2, json_format
from grpc_health.v1 import health_pb2, health_pb2_grpc
from grpc_reflection.v1alpha import reflection_pb2, reflection_pb2_grpc
from packaging.requirements import Requirement

from ostrel.api import ostrel_service_pb2, project_pb2, service_pb2, service_pb2_grpc
from ostrel.server import OstrelServer, TlsFiles, discovery
from ostrel.server.__main__ import build_parser

HERE = Path(__file__).resolve().parent
SAMPLE = HERE.parent / "examples" / "pick_and_place.json"
CLIENT = HERE.parent / "examples" / "reflection_client.py"
SERVICE = ostrel_service_pb2.DESCRIPTOR.services_by_name["Ostrel"]
# All that the independent client may import, with what they require.
CLIENT_DISTRIBUTIONS = ("grpcio", "grpcio-reflection", "protobuf")
SERVING, NOT_SERVING = health_pb2.HealthCheckResponse.SERVING, health_pb2.HealthCheckResponse.NOT_SERVING
TIMEOUT_S = 10
# Runs a script with nothing on sys.path but the standard library and one
# folder, after making sure that the Ostrel package cannot be imported.
ISOLATED_START = """\
import importlib.util, runpy, sys
sys.path.insert(0, sys.argv.pop(1))
assert importlib.util.find_spec("ostrel") is None, "the client can import ostrel"
sys.argv.pop(0)
runpy.run_path(sys.argv[0], run_name="__main__")
"""


def sample_project():
    return json_format.Parse(SAMPLE.read_text(encoding="utf-8"), project_pb2.ProjectSnapshot())


def top_level_entries(names):
    """The top-level files and folders that the distributions `names` and the
    ones they require install."""
    entries, seen, todo = set(), set(), list(names)
    while todo:
        dist = metadata.distribution(todo.pop())
        if dist.metadata["Name"].lower() in seen:
            continue
        seen.add(dist.metadata["Name"].lower())
        for file in dist.files or ():
            top = file.parts[0]
            if top != ".." and not top.endswith(".dist-info") and top != "__pycache__":
                entries.add(os.path.realpath(dist.locate_file(top)))
        for text in dist.requires or ():
            requirement = Requirement(text)
            if requirement.marker is None or requirement.marker.evaluate({"extra": ""}):
                todo.append(requirement.name)
    return sorted(entries)


@pytest.fixture(scope="module")
def client_libraries(tmp_path_factory):
    """A folder holding only grpcio, grpcio-reflection, protobuf and what they require."""
    folder = tmp_path_factory.mktemp("client-libraries")
    for entry in top_level_entries(CLIENT_DISTRIBUTIONS):
        os.symlink(entry, folder / os.path.basename(entry))
    return folder


@pytest.fixture
def server(tmp_path):
    with OstrelServer(db=str(tmp_path / "db.sqlite3"), port=0, time_scale=0.001) as running:
        yield running


def reflect(target, **request):
    with grpc.insecure_channel(target) as channel:
        stub = reflection_pb2_grpc.ServerReflectionStub(channel)
        (answer,) = stub.ServerReflectionInfo(iter([reflection_pb2.ServerReflectionRequest(**request)]),
                                              timeout=TIMEOUT_S)
    return answer


def health_of(target, *services):
    with grpc.insecure_channel(target) as channel:
        stub = health_pb2_grpc.HealthStub(channel)
        return [stub.Check(health_pb2.HealthCheckRequest(service=name), timeout=TIMEOUT_S).status
                for name in services]


# Reflection ---------------------------------------------------------------------

def run_client(libraries, cwd, *argv, **variables):
    """The reflection client run with nothing but its libraries importable."""
    env = {"PATH": os.environ.get("PATH", ""), "GRPC_ENABLE_FORK_SUPPORT": "0", **variables}
    implementation = os.environ.get("PROTOCOL_BUFFERS_PYTHON_IMPLEMENTATION")
    if implementation:
        env["PROTOCOL_BUFFERS_PYTHON_IMPLEMENTATION"] = implementation
    return subprocess.run([sys.executable, "-I", "-S", "-c", ISOLATED_START, str(libraries), str(CLIENT),
                           *argv], capture_output=True, text=True, env=env, cwd=cwd, timeout=60)


def test_client_without_our_modules_or_schema_discovers_and_calls_the_service(server, client_libraries,
                                                                                tmp_path):
    proc = run_client(client_libraries, tmp_path, server.target, str(SAMPLE))
    assert proc.returncode == 0, proc.stdout + proc.stderr
    lines = proc.stdout.splitlines()
    project = sample_project()
    services = sorted([SERVICE.full_name, discovery.HEALTH_SERVICE, discovery.REFLECTION_SERVICE])
    assert lines[0] == "services: " + ", ".join(services)
    assert lines[2:2 + len(SERVICE.methods)] == [
        "  rpc %s(%s) returns (%s)" % (m.name, m.input_type.full_name, m.output_type.full_name)
        for m in SERVICE.methods]
    assert lines[2 + len(SERVICE.methods):] == [
        "connect: ostrel-server at your service, reflection client; no project yet",
        "pushProjectSnapshot: project '%s' stored: %d behaviors, %d robots, %d effectors, %d items, %d cameras"
        % (project.version, len(project.behaviors), len(project.workspace.config.robots),
           len(project.workspace.config.effectors), len(project.workspace.config.items),
           len(project.workspace.config.cameras)),
        "pullSystemState: SUCCESS idle: no program has run; workspace state of %d robots and %d items"
        % (len(project.workspace.config.robots), len(project.workspace.config.items)),
    ]
    # What the dynamic classes sent is what our classes make of the file.
    with grpc.insecure_channel(server.target) as channel:
        stored = service_pb2_grpc.OstrelStub(channel).pullProjectSnapshot(service_pb2.GenericRequest(),
                                                                         timeout=TIMEOUT_S)
    assert stored == project


TOKEN = "reflection-T0ken-never-shown"


@pytest.fixture(scope="module")
def secure_servers(tmp_path_factory, certs):
    """A TLS server, and a TLS server that asks for a token."""
    folder = tmp_path_factory.mktemp("secure")
    (folder / "tokens").write_text("# the client's\n%s\n" % TOKEN)
    (folder / "tokens").chmod(0o600)  # the server refuses a token file others may read
    settings = {"tls": {}, "tokens": {"token_file": str(folder / "tokens")}}
    started = {kind: OstrelServer(db=str(folder / ("%s.sqlite3" % kind)), port=0, time_scale=0,
                                  tls=TlsFiles(*certs["server"]), **extra).start()
               for kind, extra in settings.items()}
    yield started
    for running in started.values():
        running.stop(grace=0)


# Each row: the server (None: no arguments at all), the options, $OSTREL_TOKEN,
# the exit code and what the output must hold (stdout on success, else the last
# line of stderr: an argument error comes after the usage, any other alone).
@pytest.mark.parametrize("kind,options,token,code,expected", [
    (None, [], None, 2, "error: the following arguments are required: TARGET, PROJECT.json"),
    ("tls", [], None, 2, "answered UNAVAILABLE"),
    ("tls", ["--cacert", "rogue-ca"], None, 2, "--cacert"),
    ("tls", ["--cacert", "ca"], None, 0, "pullSystemState: SUCCESS"),
    ("tls", ["--plaintext", "--cacert", "ca"], None, 2, "--plaintext cannot be used with --cacert"),
    ("tokens", ["--cacert", "ca"], None, 2, "answered UNAUTHENTICATED"),
    ("tokens", ["--cacert", "ca", "--token-file", "token"], None, 0, "pullSystemState: SUCCESS"),
    ("tokens", ["--cacert", "ca"], TOKEN, 0, "pullSystemState: SUCCESS"),
    ("tokens", ["--cacert", "ca", "--token-file", "two-tokens"], None, 2, "must hold one token"),
    ("remote", ["--plaintext"], TOKEN, 2, "refusing to send the token in clear to 192.0.2.7:50051"),
], ids=["no-arguments", "tls-in-clear", "untrusted", "tls", "plaintext-and-cacert", "no-token",
        "token-file", "token-variable", "token-file-of-two", "token-off-loopback-in-clear"])
def test_client_speaks_tls_and_tokens_and_fails_in_one_line(secure_servers, certs, client_libraries, tmp_path,
                                                             kind, options, token, code, expected):
    (tmp_path / "token").write_text("# mine\n%s\n" % TOKEN)
    (tmp_path / "two-tokens").write_text("%s\nsecond\n" % TOKEN)
    files = {"ca": certs["ca"][0], "rogue-ca": certs["rogue-ca"][0]}
    argv = [files.get(option, option) for option in options]
    if kind is not None:
        argv += ["192.0.2.7:50051" if kind == "remote" else secure_servers[kind].target, str(SAMPLE)]
    proc = run_client(client_libraries, tmp_path, *argv, **({"OSTREL_TOKEN": token} if token else {}))
    assert proc.returncode == code, proc.stdout + proc.stderr
    assert "Traceback" not in proc.stderr and TOKEN not in proc.stdout + proc.stderr
    if code == 0:
        assert expected in proc.stdout
        return
    lines = proc.stderr.splitlines()
    assert expected in lines[-1]
    assert lines[0].startswith("usage: reflection_client.py [-h]") or len(lines) == 1, proc.stderr


def closure(file):
    """A file descriptor and every file it imports, by name."""
    files = {file.name: file}
    for dependency in file.dependencies:
        files.update(closure(dependency))
    return files


def test_reflection_hands_out_our_modules_descriptors_byte_for_byte(server):
    answer = reflect(server.target, file_containing_symbol=SERVICE.full_name)
    served = {descriptor_pb2.FileDescriptorProto.FromString(data).name: data
              for data in answer.file_descriptor_response.file_descriptor_proto}
    ours = {name: file for name, file in closure(SERVICE.file).items() if name.startswith("ostrel/api/")}
    assert sorted(ours) == sorted(n for n in served if n.startswith("ostrel/api/"))
    assert len(ours) >= 29
    for name, file in ours.items():
        module = importlib.import_module("ostrel.api.%s_pb2" % Path(name).stem)
        assert served[name] == module.DESCRIPTOR.serialized_pb == file.serialized_pb, name


@pytest.mark.parametrize("reflection", [True, False])
def test_reflection_is_on_unless_turned_off(tmp_path, reflection):
    with OstrelServer(db=str(tmp_path / "db.sqlite3"), port=0, reflection=reflection) as running:
        if reflection:
            services = reflect(running.target, list_services="").list_services_response.service
            assert SERVICE.full_name in [s.name for s in services]
        else:
            with pytest.raises(grpc.RpcError) as raised:
                reflect(running.target, list_services="")
            assert raised.value.code() == grpc.StatusCode.UNIMPLEMENTED
        assert health_of(running.target, "", SERVICE.full_name) == [SERVING, SERVING]
    assert build_parser().parse_args([]).reflection is True
    assert build_parser().parse_args(["--no-reflection"]).reflection is False


# Health -------------------------------------------------------------------------

def test_health_serves_until_a_stop_begins(tmp_path):
    server = OstrelServer(db=str(tmp_path / "db.sqlite3"), port=0).start()
    assert health_of(server.target, "", SERVICE.full_name) == [SERVING, SERVING]
    with pytest.raises(grpc.RpcError) as raised:
        health_of(server.target, "ostrel.api.service.Unknown")
    assert raised.value.code() == grpc.StatusCode.NOT_FOUND
    with grpc.insecure_channel(server.target) as channel:
        watch = health_pb2_grpc.HealthStub(channel).Watch(
            health_pb2.HealthCheckRequest(service=SERVICE.full_name), timeout=TIMEOUT_S)
        assert next(watch).status == SERVING
        stopping = threading.Thread(target=server.stop)
        stopping.start()
        assert next(watch).status == NOT_SERVING
        stopping.join()
    server.health.probe()  # a probe after the stop changes nothing
    assert server.health.servicer.Check(health_pb2.HealthCheckRequest(service=SERVICE.full_name),
                                        None).status == NOT_SERVING


Usage = namedtuple("Usage", "total used free")


def test_service_is_not_serving_while_the_store_disk_is_full(tmp_path, monkeypatch):
    free = [10 << 30]
    real = discovery.shutil.disk_usage
    monkeypatch.setattr(discovery.shutil, "disk_usage",
                        lambda path: Usage(real(path).total, 0, free[0]))
    running = OstrelServer(db=str(tmp_path / "db.sqlite3"), port=0)
    running.health.interval = 0.02
    with running:
        assert health_of(running.target, "", SERVICE.full_name) == [SERVING, SERVING]
        for space, expected in ((discovery.MIN_FREE_BYTES - 1, NOT_SERVING), (discovery.MIN_FREE_BYTES, SERVING)):
            free[0] = space
            deadline = time.monotonic() + 5
            while health_of(running.target, SERVICE.full_name) != [expected] and time.monotonic() < deadline:
                time.sleep(0.02)
            # The server as a whole still answers; only the service cannot work.
            assert health_of(running.target, "", SERVICE.full_name) == [SERVING, expected], space


def full_disk(path, monkeypatch):
    path.mkdir()
    monkeypatch.setattr(discovery.shutil, "disk_usage", lambda _: Usage(1 << 30, 1 << 30, 4096))


def read_only(path, monkeypatch):
    path.mkdir()
    path.chmod(0o500)
    if os.access(path, os.W_OK):
        pytest.skip("this user writes to read-only folders")


@pytest.mark.parametrize("make,problem", [
    (lambda path, _: path.mkdir(), None),
    (full_disk, discovery.LOW_SPACE),
    (lambda path, _: None, discovery.UNREADABLE),
    (read_only, discovery.NOT_WRITABLE),
], ids=["usable", "full", "missing", "read-only"])
def test_store_problem_says_why_writes_would_fail(tmp_path, monkeypatch, make, problem):
    folder = tmp_path / "store"
    make(folder, monkeypatch)
    found = discovery.store_problem(str(folder))
    if problem is None:
        assert found is None
    else:
        assert found is not None and found.startswith(problem.split("%")[0]), found


@pytest.mark.filterwarnings("ignore:'unary_unary' is an experimental API")
@pytest.mark.parametrize("flags,reflection", [([], True), (["--no-reflection"], False)])
def test_server_process_offers_health_and_reflection_and_stops_serving_on_sigterm(tmp_path, flags, reflection):
    proc = subprocess.Popen([sys.executable, "-m", "ostrel.server", "--port", "0", "--db",
                             str(tmp_path / "p.sqlite3"), *flags],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    signalled = False
    try:
        target = "127.0.0.1:%d" % int(proc.stdout.readline().split(" (")[0].rsplit(":", 1)[1])
        assert health_of(target, "", SERVICE.full_name) == [SERVING, SERVING]
        try:
            listed = [s.name for s in reflect(target, list_services="").list_services_response.service]
        except grpc.RpcError as error:
            listed = [error.code().name]
        assert listed == (sorted([SERVICE.full_name, discovery.HEALTH_SERVICE, discovery.REFLECTION_SERVICE])
                          if reflection else ["UNIMPLEMENTED"])
        with grpc.insecure_channel(target) as channel:
            watch = health_pb2_grpc.HealthStub(channel).Watch(health_pb2.HealthCheckRequest(service=""),
                                                               timeout=TIMEOUT_S)
            assert next(watch).status == SERVING
            proc.send_signal(signal.SIGTERM)
            signalled = True
            assert next(watch).status == NOT_SERVING
    finally:
        if not signalled:
            proc.send_signal(signal.SIGTERM)
        _, err = proc.communicate(timeout=10)
    assert proc.returncode == 0 and "Traceback" not in err
