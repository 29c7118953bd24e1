"""The server's files against careless setups and hostile input: TLS files
checked at start and read again on a reload, secrets and the store for their
owner only, a local socket no one else reaches at any moment, and log lines
bounded whatever a caller sends."""

import io
import logging
import os
import shutil
import stat
import subprocess
import sys

import grpc
import pytest
from google.protobuf import json_format
from grpc_health.v1 import health_pb2, health_pb2_grpc

from ostrel.api import project_pb2
from ostrel.server import OstrelServer, RecordStore, TlsFiles
from ostrel.server.logs import MAX_LINE, QueuedLogging, clip

TOKEN = "files-T0ken-never-logged"
SAMPLE = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "examples", "pick_and_place.json")


def handshake(port, certs, name="localhost"):
    """True when a fresh connection trusting our CA and expecting `name`
    gets through the TLS handshake."""
    credentials = grpc.ssl_channel_credentials(open(certs["ca"][0], "rb").read())
    options = [("grpc.ssl_target_name_override", name), ("grpc.use_local_subchannel_pool", 1)]
    with grpc.secure_channel("127.0.0.1:%d" % port, credentials, options=options) as channel:
        try:
            health_pb2_grpc.HealthStub(channel).Check(health_pb2.HealthCheckRequest(), timeout=3)
            return True
        except grpc.RpcError:
            return False


def test_a_reload_takes_new_tls_files_and_keeps_the_old_ones_when_they_are_bad(tmp_path, certs, caplog):
    caplog.set_level(logging.INFO, "ostrel.server")
    cert, key = tmp_path / "server.pem", tmp_path / "server.key"
    shutil.copy(certs["server"][0], cert)
    shutil.copy(certs["server"][1], key)
    server = OstrelServer(db=str(tmp_path / "db"), port=0, time_scale=0, tls=TlsFiles(str(cert), str(key))).start()
    try:
        assert handshake(server.port, certs) and not handshake(server.port, certs, "cell-7.lab.example")
        shutil.copy(certs["other"][0], cert)
        shutil.copy(certs["other"][1], key)
        assert server.reload()
        assert handshake(server.port, certs, "cell-7.lab.example") and not handshake(server.port, certs)
        cert.write_text("renewal cut short\n")
        assert not server.reload()
        assert handshake(server.port, certs, "cell-7.lab.example")
    finally:
        server.stop(grace=0)
    lines = [r.getMessage() for r in caplog.records if "TLS files" in r.getMessage()]
    assert len(lines) == 2 and "read the TLS files again: %s, %s" % (cert, key) in lines[0]
    assert "%s holds no PEM certificate; keeping the TLS files read before" % cert in lines[1]


def _damaged_ca(tmp_path, certs):
    path = tmp_path / "damaged-ca.pem"
    good = open(certs["ca"][0]).read()
    path.write_text(good + good.replace("MII", "M!I", 1))
    return {"tls": TlsFiles(*certs["server"], client_ca=str(path))}


def _shared(tmp_path, certs, which):
    cert, key = tmp_path / "server.pem", tmp_path / "server.key"
    shutil.copy(certs["server"][0], cert)
    shutil.copy(certs["server"][1], key)
    tokens = tmp_path / "tokens"
    tokens.write_text(TOKEN + "\n")
    tokens.chmod(0o600)
    (key if which == "key" else tokens).chmod(0o640)
    return {"tls": TlsFiles(str(cert), str(key)), "token_file": str(tokens)}


# name, settings(tmp_path, certs), the fault's words (None: the server starts)
START_FAULTS = [
    ("client CA with a damaged block", _damaged_ca,
     "client CA file {tmp}/damaged-ca.pem holds a certificate block that cannot be decoded (block 2)"),
    ("expired client CA", lambda tmp, c: {"tls": TlsFiles(*c["server"], client_ca=c["expired-ca"][0])},
     "the certificate in {expired-ca} expired on"),
    ("server certificate that may not sign", lambda tmp, c: {"tls": TlsFiles(*c["no-signature"])},
     "the certificate in {no-signature} may not sign"),
    ("server certificate for clients only", lambda tmp, c: {"tls": TlsFiles(*c["client-only"])},
     "the certificate in {client-only} is not for TLS servers"),
    ("server certificate with the usages TLS needs", lambda tmp, c: {"tls": TlsFiles(*c["server-usage"])}, None),
    ("key readable by its group", lambda tmp, c: _shared(tmp, c, "key"),
     "the key file {tmp}/server.key may be read by others (mode 0640)"),
    ("token file readable by its group", lambda tmp, c: _shared(tmp, c, "tokens"),
     "the token file {tmp}/tokens may be read by others (mode 0640)"),
    ("shared secrets accepted when asked", lambda tmp, c: dict(_shared(tmp, c, "key"), allow_shared_secret_files=True),
     None),
]


@pytest.mark.parametrize("name, make, words", START_FAULTS, ids=[row[0] for row in START_FAULTS])
def test_tls_and_secret_file_faults_are_found_at_start_naming_the_file(tmp_path, certs, name, make, words):
    settings = make(tmp_path, certs)
    if words is None:
        server = OstrelServer(db=str(tmp_path / "db"), port=0, time_scale=0, **settings).start()
        server.stop(grace=0)
        return
    with pytest.raises(ValueError) as refused:
        OstrelServer(db=str(tmp_path / "db"), port=0, time_scale=0, **settings)
    names = dict({n: c for n, (c, _) in certs.items()}, tmp=str(tmp_path))
    assert words.format(**names) in str(refused.value) and "\n" not in str(refused.value)
    assert TOKEN not in str(refused.value)


def test_command_line_refuses_a_shared_token_file_in_one_line_unless_told(tmp_path):
    tokens = tmp_path / "tokens"
    tokens.write_text(TOKEN + "\n")
    tokens.chmod(0o644)
    argv = [sys.executable, "-m", "ostrel.server", "--port", "0", "--db", str(tmp_path / "db"),
            "--token-file", str(tokens), "--time-scale", "0"]
    refused = subprocess.run(argv, capture_output=True, text=True, timeout=30)
    assert refused.returncode == 2 and refused.stderr.count("\n") == 1
    assert "the token file %s may be read by others (mode 0644)" % tokens in refused.stderr
    accepted = subprocess.Popen(argv + ["--allow-shared-secret-files"], stdout=subprocess.PIPE, text=True)
    try:
        assert accepted.stdout.readline().startswith("ostrel-server listening")
    finally:
        accepted.terminate()
        accepted.communicate(timeout=10)


# Files and the socket ---------------------------------------------------------

@pytest.fixture
def umask():
    def set_to(mask):
        os.umask(mask)
    previous = os.umask(0o022)
    yield set_to
    os.umask(previous)


def test_the_store_is_made_for_its_owner_only_whatever_the_umask(tmp_path, umask):
    umask(0)
    db = tmp_path / "new" / "store.sqlite3"
    store = RecordStore(str(db))
    try:
        store.stage_project(b"\1" * (1 << 20)).discard()  # a payload large enough for a file of its own
        staged = store.stage_project(b"\2" * (1 << 20))
        store.commit_project(staged, 1)
        modes = {path.name.replace(db.name, "DB"): stat.S_IMODE(path.stat().st_mode)
                 for path in [db.parent, *db.parent.rglob("*")]}
    finally:
        store.close()
    assert modes.pop("new") == 0o700
    assert {"DB", "DB-wal", "DB-shm", "DB.lock", "DB.blobs"} <= set(modes)
    assert {name: mode for name, mode in modes.items() if mode not in (0o600, 0o700)} == {}


@pytest.mark.parametrize("length", [40, 104], ids=["short path", "path with no room for a folder"])
def test_the_socket_is_never_reachable_by_others_even_under_umask_0(tmp_path, umask, monkeypatch, length):
    public = tmp_path / ("p" * max(1, length - len(str(tmp_path)) - len("/o.sock")))
    public.mkdir()
    public.chmod(0o755)
    seen = []
    real_server = grpc.server

    def watched_server(*args, **kwargs):
        server = real_server(*args, **kwargs)
        bind = server.add_insecure_port

        def add_insecure_port(address):
            bound = bind(address)
            path = address[len("unix:"):]
            folder_open = stat.S_IMODE(os.stat(os.path.dirname(path)).st_mode) & 0o005
            seen.append((path, bool(folder_open and stat.S_IMODE(os.stat(path).st_mode) & 0o002)))
            return bound

        server.add_insecure_port = add_insecure_port
        return server

    monkeypatch.setattr(grpc, "server", watched_server)
    umask(0)
    path = public / "o.sock"
    server = OstrelServer(db=str(tmp_path / "db"), host="unix:%s" % path, time_scale=0).start()
    try:
        assert [reachable for _, reachable in seen] == [False]
        assert stat.S_IMODE(path.stat().st_mode) == 0o600 and sorted(os.listdir(public)) == ["o.sock"]
    finally:
        server.stop(grace=0)
    assert os.listdir(public) == []


# Log lines ------------------------------------------------------------------------

@pytest.mark.parametrize("text, expected", [
    ("robot 'ur5e'", "robot 'ur5e'"),
    ("a\nforged line\r", "a\\nforged line\\r"),
    ("n" * 300, "n" * 200 + "... (300 characters in all)"),
    ("\x1b" * 300, "\\x1b" * 200 + "... (300 characters in all)"),
])
def test_caller_text_is_cut_and_escaped_for_the_log(text, expected):
    assert clip(text) == expected


def test_a_push_refused_for_a_huge_name_writes_a_bounded_log_line(tmp_path, caplog):
    caplog.set_level(logging.INFO, "ostrel.server")
    project = json_format.Parse(open(SAMPLE).read(), project_pb2.ProjectSnapshot())
    json_format.ParseDict({"goto_target_positions": {"robot": "r" * (2 << 20), "tool": "gripper_tcp"}},
                          project.behaviors["probe"])
    server = OstrelServer(db=str(tmp_path / "db"), port=0, time_scale=0)
    try:
        status = server.service.push_project(project.SerializeToString())
    finally:
        server.stop(grace=0)
    assert "is not in" in status.message and len(status.message) > 2 << 20
    assert any(r.getMessage().startswith("refused a project") for r in caplog.records)
    assert max(len(r.getMessage()) for r in caplog.records) < MAX_LINE + 100
    stream = io.StringIO()
    logs = QueuedLogging("INFO", stream)
    logging.getLogger("ostrel.server.test").info("%s", "n" * (3 * MAX_LINE))
    logs.stop()
    assert 0 < len(stream.getvalue()) < MAX_LINE + 100
