"""Clients at once against the reference server: pushes of four projects (one
large enough to be kept in a file, one with a slow check), runs and pulls,
then every record set's project is compared with those pushed, before and
after a restart.

    python bench/mixed_clients.py [SECONDS] [CLIENTS]     (default: 60 8)

Prints the counts and exits 1 when a record set holds a project that was
never pushed.
"""

import random
import shutil
import sys
import tempfile
import threading
import time
from pathlib import Path

import grpc
from google.protobuf import json_format

from ostrel.api import project_pb2
from ostrel.api import service_pb2 as S
from ostrel.api import service_pb2_grpc
from ostrel.server import OstrelServer

SAMPLE = Path(__file__).resolve().parents[1] / "examples" / "pick_and_place.json"
OPTIONS = [("grpc.max_receive_message_length", -1)]
GENERIC = S.GenericRequest()


def projects():
    made = []
    for i in range(4):
        project = json_format.Parse(SAMPLE.read_text(), project_pb2.ProjectSnapshot())
        project.version = "v%d" % i
        if i == 0:  # many behaviors: its check takes a while
            for j in range(1000):
                project.behaviors["b%d" % j].CopyFrom(project.behaviors["go_home"])
        if i == 1:  # 1 MiB: kept in a file of its own
            project.workspace.config.cameras["d435i"].realsense_d435i.serial_number += "0" * (1 << 20)
        made.append(project)
    return made


def client(target, pushed, stop, seed, errors):
    channel = grpc.insecure_channel(target, options=OPTIONS)
    stub = service_pb2_grpc.OstrelStub(channel)
    rng = random.Random(seed)
    calls = [
        (0.4, lambda: stub.pushProjectSnapshot(rng.choice(pushed), timeout=60)),
        (0.3, lambda: stub.runProgram(S.ProgramRequest(behavior="inspect"), timeout=60)),
        (0.15, lambda: stub.pullProjectSnapshot(GENERIC, timeout=60)),
        (0.15, lambda: stub.pullDataRecords(S.RecordsRequest(since_ns=time.time_ns() - 2 * 10**9), timeout=60)),
    ]
    while time.monotonic() < stop:
        call = rng.choices([c for _, c in calls], weights=[w for w, _ in calls])[0]
        try:
            call()
        except grpc.RpcError as error:
            errors.append(error.details())
    channel.close()


def foreign(target, by_version):
    """The record sets, and the number whose project was never pushed."""
    channel = grpc.insecure_channel(target, options=OPTIONS)
    try:
        records = service_pb2_grpc.OstrelStub(channel).pullDataRecords(S.RecordsRequest(), timeout=120).records
    finally:
        channel.close()
    return len(records), sum(by_version.get(r.project.version) != r.project for r in records)


def main(seconds=60.0, clients=8):
    pushed = projects()
    by_version = {p.version: p for p in pushed}
    folder = tempfile.mkdtemp(prefix="ostrel-mixed-")
    db = str(Path(folder) / "mixed.sqlite3")
    server = OstrelServer(db=db, port=0, time_scale=0.001).start()
    errors = []
    stop = time.monotonic() + seconds
    threads = [threading.Thread(target=client, args=(server.target, pushed, stop, n, errors))
               for n in range(clients)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    server.service.wait(60)
    count, bad = foreign(server.target, by_version)
    server.stop()
    server = OstrelServer(db=db, port=0).start()
    again, bad_again = foreign(server.target, by_version)
    server.stop()
    shutil.rmtree(folder)
    print("%d clients, %g s: %d record sets, %d with a project never pushed (after a restart: %d of %d); "
          "%d calls failed" % (clients, seconds, count, bad, bad_again, again, len(errors)))
    return 1 if bad or bad_again or errors else 0


if __name__ == "__main__":
    sys.exit(main(*(float(a) if i == 0 else int(a) for i, a in enumerate(sys.argv[1:]))))
