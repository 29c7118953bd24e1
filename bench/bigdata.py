"""Big data through the reference server against a minimal gRPC server.

    python bench/bigdata.py --work DIR [--rounds 3] [--before SRC] [-o bigdata.json]
    python bench/bigdata.py --report bigdata.json

Variants, each a server in a process of its own on 127.0.0.1, same runtimes:
  ours     the reference server (`ostrel-server`'s own start-up, logging at
           INFO to a file, SQLite database in DIR, time scale 0)
  before   (with --before SRC) the same server from another revision: SRC is
           its `src` folder, whose `ostrel/api` is the installed one, so
           only the Python of the server and its package differ
  minimal  the six methods on our servicer base with nothing around them:
           keeps the pushed request by reference and answers pulls with it,
           answers records with a prepared DataRecords of the same bytes
           that ours answered

Per round the variants run one after the other, each on a fresh server and
database, in a shuffled order and in the reverse order the next round:
  small    sequential `connect` calls for about a second: calls/s and p50
  push     pushProjectSnapshot of ~100 MB (100 motion limits x 131072 doubles)
  pull     pullProjectSnapshot of the same
  records  pullDataRecords after a program that recorded 6 crops of 4096x4096
           (ours runs it untimed before; minimal answers the prepared copy)
Time is the client's wall time of the call (the client parses the answer, as
any client does). Peak RSS is the server's VmHWM over the call: the counter is
reset (/proc/PID/clear_refs) just before each call. `held` is the server's
VmRSS after the call. Ratios are ours / minimal, per round, then the median.

The server of the code before the receive limit was raised refuses pushes
over 4 MiB; the harness lifts gRPC's default receive limit for servers that
set none (`_lift_receive_limit`), so both variants move the same bytes.
"""

import argparse
import glob
import json
import os
import random
import shutil
import signal
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
LIMITS = 100
DOUBLES = 131072
CROPS = 6
CROP_SIDE = 4096
SMALL_SECONDS = 1.0
UNLIMITED = [("grpc.max_receive_message_length", -1), ("grpc.max_send_message_length", -1)]
OPS = ("push", "pull", "records")
SERVES = {"ours": "ours", "before": "ours", "minimal": "minimal"}  # which serve_* a variant runs
SAMPLE = os.path.join(os.path.dirname(HERE), "examples", "pick_and_place.json")


# Servers ------------------------------------------------------------------

def _lift_receive_limit():
    """Make every grpc.server of this process accept messages of any size,
    unless the caller already sets a receive limit of its own."""
    import grpc

    make = grpc.server

    def server(*args, **kwargs):
        options = list(kwargs.pop("options", None) or [])
        if not any(key == "grpc.max_receive_message_length" for key, _ in options):
            options.append(UNLIMITED[0])
        return make(*args, options=options, **kwargs)

    grpc.server = server


def serve_ours(work, db):
    _lift_receive_limit()
    from ostrel.server import __main__ as server_main

    log = open(os.path.join(work, "ours-server.log"), "a")
    os.dup2(log.fileno(), sys.stderr.fileno())
    return server_main.main(["--port", "0", "--db", db, "--time-scale", "0", "--seed", "1"])


def serve_minimal(work):
    from concurrent import futures

    import grpc
    from ostrel.api import common_pb2, data_pb2, project_pb2, service_pb2_grpc, system_pb2

    with open(os.path.join(work, "records.bin"), "rb") as handle:
        records = data_pb2.DataRecords.FromString(handle.read())
    held = {"project": project_pb2.ProjectSnapshot()}
    stored = common_pb2.Status(code=common_pb2.SUCCESS, message="stored")

    class Minimal(service_pb2_grpc.OstrelServicer):
        def connect(self, request, context):
            return stored

        def pushProjectSnapshot(self, request, context):
            held["project"] = request
            return stored

        def pullProjectSnapshot(self, request, context):
            return held["project"]

        def pullSystemState(self, request, context):
            return system_pb2.SystemState(status=stored)

        def runProgram(self, request, context):
            return stored

        def pullDataRecords(self, request, context):
            return records

    server = grpc.server(futures.ThreadPoolExecutor(max_workers=8), options=UNLIMITED)
    service_pb2_grpc.add_OstrelServicer_to_server(Minimal(), server)
    port = server.add_insecure_port("127.0.0.1:0")
    server.start()
    print("minimal listening on 127.0.0.1:%d" % port, flush=True)
    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(1))
    while not stop:
        time.sleep(0.2)
    server.stop(None)
    return 0


class Server:
    """One server process of a variant; `port` once it listens."""

    def __init__(self, variant, work, db, before=None):
        env = dict(os.environ, PROTOCOL_BUFFERS_PYTHON_IMPLEMENTATION="upb", GRPC_VERBOSITY="ERROR")
        if variant == "before":
            env["PYTHONPATH"] = before
        self.proc = subprocess.Popen([sys.executable, os.path.abspath(__file__), "--serve", SERVES[variant],
                                      "--work", work, "--db", db],
                                     stdout=subprocess.PIPE, text=True, env=env)
        line = self.proc.stdout.readline()
        if " listening on " not in line:
            self.stop()
            raise RuntimeError("%s server did not start: %r" % (variant, line))
        self.port = int(line.split(" listening on ")[1].split()[0].rsplit(":", 1)[1])

    def memory(self, field):
        """VmHWM or VmRSS of the server, in bytes."""
        with open("/proc/%d/status" % self.proc.pid) as status:
            for line in status:
                if line.startswith(field + ":"):
                    return int(line.split()[1]) * 1024
        raise RuntimeError("no %s for %d" % (field, self.proc.pid))

    def reset_peak(self):
        with open("/proc/%d/clear_refs" % self.proc.pid, "w") as clear:
            clear.write("5")

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


# Workloads ----------------------------------------------------------------

def big_project():
    from ostrel.api import project_pb2

    project = project_pb2.ProjectSnapshot(version="bigdata")
    values = [0.001 * i for i in range(DOUBLES)]
    for i in range(LIMITS):
        project.variables.motion_limits["limits_%03d" % i].joint_velocity.data.extend(values)
    return project


def crops_project():
    from google.protobuf import json_format
    from ostrel.api import project_pb2

    with open(SAMPLE, encoding="utf-8") as handle:
        project = json_format.Parse(handle.read(), project_pb2.ProjectSnapshot())
    crop = {"camera": "d435i", "source_id": "color", "task_region": "pick_region",
            "width": CROP_SIDE, "height": CROP_SIDE}
    steps = ([{"name": "record", "start_recording_data": {"description": "crops"}},
              {"name": "perception_on", "initialize_perception": {}}]
             + [{"name": "crop_%d" % i, "perspective_crop_image": crop} for i in range(CROPS)]
             + [{"name": "stop", "stop_recording_data": {}}])
    json_format.ParseDict({"name": "crops", "sequence_routine": {"behaviors": steps}},
                          project.behaviors["crops"])
    return project


class Client:
    def __init__(self, port):
        import grpc
        from ostrel.api import ostrel_service_pb2, service_pb2, service_pb2_grpc
        from ostrel.protocol import metadata

        records = ostrel_service_pb2.DESCRIPTOR.services_by_name["Ostrel"].methods_by_name["pullDataRecords"]
        self.records_path = "/%s/%s" % (records.containing_service.full_name, records.name)
        self.allow_empty = ((metadata.ALLOW_EMPTY_METADATA, metadata.ALLOW_EMPTY_VALUES[0]),)
        self.channel = grpc.insecure_channel("127.0.0.1:%d" % port, options=UNLIMITED)
        grpc.channel_ready_future(self.channel).result(timeout=30)
        self.stub = service_pb2_grpc.OstrelStub(self.channel)
        self.requests = service_pb2

    def record_crops(self, project):
        """Push the crops project and run it to its end (untimed set-up)."""
        from ostrel.api import common_pb2

        assert self.stub.pushProjectSnapshot(project, timeout=60).code == common_pb2.SUCCESS
        started = self.stub.runProgram(self.requests.ProgramRequest(behavior="crops"), timeout=60)
        assert started.code == common_pb2.RUNNING, started.message
        deadline = time.monotonic() + 120
        while True:
            status = self.stub.pullSystemState(self.requests.GenericRequest(), timeout=60).status
            if status.code != common_pb2.RUNNING:
                assert status.code == common_pb2.SUCCESS, status.message
                return
            assert time.monotonic() < deadline, "the crops program did not end"
            time.sleep(0.05)

    def records_bytes(self):
        call = self.channel.unary_unary(self.records_path,
                                        request_serializer=lambda m: m.SerializeToString(),
                                        response_deserializer=None)
        return call(self.requests.RecordsRequest(), timeout=120)

    def small_calls(self):
        request = self.requests.ConnectRequest(client="bench")
        for _ in range(50):
            self.stub.connect(request)
        times = []
        end = time.perf_counter() + SMALL_SECONDS
        while True:
            t0 = time.perf_counter()
            self.stub.connect(request)
            t1 = time.perf_counter()
            times.append(t1 - t0)
            if t1 > end:
                break
        return {"calls_per_s": len(times) / sum(times), "p50_s": statistics.median(times)}

    def close(self):
        self.channel.close()


def timed(server, call):
    server.reset_peak()
    t0 = time.perf_counter()
    answer = call()
    seconds = time.perf_counter() - t0
    return answer, {"s": seconds, "peak": server.memory("VmHWM"), "held": server.memory("VmRSS")}


def one_variant(variant, work, tag, project, crops, before=None):
    db = os.path.join(work, "%s-%s.sqlite3" % (variant, tag))
    server = Server(variant, work, db, before)
    client = None
    try:
        client = Client(server.port)
        result = {"start_rss": server.memory("VmRSS"), "small": client.small_calls()}
        generic = client.requests.GenericRequest()
        # The big project is all variables, which the server takes only when asked to.
        status, result["push"] = timed(server, lambda: client.stub.pushProjectSnapshot(
            project, timeout=300, metadata=client.allow_empty))
        assert status.code == 1, status.message
        pulled, result["pull"] = timed(server, lambda: client.stub.pullProjectSnapshot(generic, timeout=300))
        assert pulled.ByteSize() == project.ByteSize() and pulled.version == project.version
        del pulled
        if SERVES[variant] == "ours":
            client.record_crops(crops)
        request = client.requests.RecordsRequest()
        records, result["records"] = timed(server, lambda: client.stub.pullDataRecords(request, timeout=300))
        result["records_bytes"] = records.ByteSize()
        images = [p for p in records.records[0].products if p.WhichOneof("type") == "images"]
        assert len(records.records) == 1 and len(images) == CROPS
        return result
    finally:
        if client is not None:
            client.close()
        server.stop()
        remove_database(db)


def remove_database(db):
    """The database and whatever the server kept beside it."""
    for path in glob.glob(glob.escape(db) + "*"):
        if os.path.isdir(path):
            shutil.rmtree(path)
        else:
            os.remove(path)


def prepare_records(work, crops):
    """Run the crops program once on ours; keep the answer for minimal."""
    db = os.path.join(work, "prepare.sqlite3")
    server = Server("ours", work, db)
    client = None
    try:
        client = Client(server.port)
        client.record_crops(crops)
        data = client.records_bytes()
    finally:
        if client is not None:
            client.close()
        server.stop()
        remove_database(db)
    with open(os.path.join(work, "records.bin"), "wb") as handle:
        handle.write(data)
    return len(data)


def run(args):
    os.environ["PROTOCOL_BUFFERS_PYTHON_IMPLEMENTATION"] = "upb"
    os.environ.setdefault("GRPC_VERBOSITY", "ERROR")
    os.makedirs(args.work, exist_ok=True)
    project, crops = big_project(), crops_project()
    size = {"project": project.ByteSize(), "records": prepare_records(args.work, crops)}
    print("project %.1f MB, records %.1f MB" % (size["project"] / 1e6, size["records"] / 1e6), file=sys.stderr)
    rounds = []
    for r in range(args.rounds):
        # A shuffled order, then the reverse: each variant goes first as often.
        order = list(reversed(rounds[-1]["order"])) if r % 2 else random.sample(args.variants, len(args.variants))
        results = {}
        for variant in order:
            results[variant] = one_variant(variant, args.work, str(r), project, crops, args.before)
            print("round %d %s: %s" % (r, variant, "  ".join(
                "%s %.2f s %.0f MiB" % (op, results[variant][op]["s"], results[variant][op]["peak"] / 2**20)
                for op in OPS)), file=sys.stderr)
        rounds.append({"order": order, "results": results})
    document = {"size": size, "rounds": rounds, "python": sys.version.split()[0], "variants": args.variants}
    with open(args.output, "w") as handle:
        json.dump(document, handle, indent=1)
    print(report(document))


# Report -------------------------------------------------------------------

def _median(values):
    return statistics.median(values)


def report(document):
    rounds = document["rounds"]
    variants = document.get("variants", ["ours", "minimal"])

    def values(variant, op, key):
        return [r["results"][variant][op][key] for r in rounds]

    def ratio(variant, op, key):
        return _median([r["results"][variant][op][key] / r["results"]["minimal"][op][key] for r in rounds])

    def spread(numbers, fmt):
        return "%s (%s-%s)" % (fmt % _median(numbers), fmt % min(numbers), fmt % max(numbers))

    def mib(numbers):
        return [n / 2**20 for n in numbers]

    lines = ["Project %.1f MB, records %.1f MB; %d rounds, variants interleaved; median (min-max); "
             "ratios: the variant / minimal, per round, median."
             % (document["size"]["project"] / 1e6, document["size"]["records"] / 1e6, len(rounds)), "",
             "| call | server | time | time ratio | peak RSS | peak RSS ratio | held after |",
             "|---|---|---|---|---|---|---|"]
    for op in OPS:
        for variant in variants:
            lines.append("| %s | %s | %s s | %.2f | %s MiB | %.2f | %.0f MiB |" % (
                op, variant, spread(values(variant, op, "s"), "%.2f"), ratio(variant, op, "s"),
                spread(mib(values(variant, op, "peak")), "%.0f"), ratio(variant, op, "peak"),
                _median(mib(values(variant, op, "held")))))
    lines += ["", "| small calls (`connect`) | server | calls/s | ratio | p50 | ratio |", "|---|---|---|---|---|---|"]
    for variant in variants:
        small = [r["results"][variant]["small"] for r in rounds]
        base = [r["results"]["minimal"]["small"] for r in rounds]
        lines.append("| | %s | %.0f | %.2f | %.0f µs | %.2f |" % (
            variant, _median([s["calls_per_s"] for s in small]),
            _median([s["calls_per_s"] / b["calls_per_s"] for s, b in zip(small, base)]),
            _median([s["p50_s"] * 1e6 for s in small]),
            _median([s["p50_s"] / b["p50_s"] for s, b in zip(small, base)])))
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--work", help="folder for databases, logs and the prepared records")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--before", metavar="SRC", help="also run the server found in SRC (variant before)")
    parser.add_argument("-o", "--output", default="bigdata.json")
    parser.add_argument("--report", metavar="JSON", help="print the table of a finished run")
    parser.add_argument("--serve", choices=("ours", "minimal"), help=argparse.SUPPRESS)
    parser.add_argument("--db", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.report:
        with open(args.report) as handle:
            print(report(json.load(handle)))
        return 0
    if not args.work:
        parser.error("--work is required")
    args.variants = ["ours", "before", "minimal"] if args.before else ["ours", "minimal"]
    if args.serve == "ours":
        return serve_ours(args.work, args.db)
    if args.serve == "minimal":
        return serve_minimal(args.work)
    run(args)
    return 0


if __name__ == "__main__":
    sys.exit(main())
