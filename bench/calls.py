"""Per-call cost of the binding layer, ours against the generated _pb2_grpc
(default upb runtime).

    python bench/calls.py --scratch SCRATCH [--variants ours,peer,floor] -o out.json

Benchmarks, each `<name>-<variant>`:
  stub           OstrelStub(channel) on a real insecure channel
  register       add_OstrelServicer_to_server(servicer, server) on a grpc.server
  push-small     stub.pushProjectSnapshot(small snapshot), loopback round trip
  push-large     the same with a ~1 MB snapshot
  pull-large     stub.pullProjectSnapshot(GenericRequest()) answered with it
The server of the round trips runs in a process of its own (bench/serve.py,
same variant), so client and server do not share one interpreter lock.
Every worker process loads one variant only (ours and the peer share the
import name ostrel.api). Worker processes are interleaved: each round starts
one per benchmark, in a shuffled order; each calibrates its loop count to
about --min-time per value and reports --values values after one warm-up.
The result is a pyperf suite. The variant `floor` (stub and register only) makes
the same runtime calls with the serializers read beforehand, on our message
classes: what is left when the binding layer costs nothing.
"""

import argparse
import atexit
import json
import os
import random
import subprocess
import sys
import time

BENCHES = ("stub", "register", "push-small", "push-large", "pull-large")
_env = {}


def setup(variant, scratch):
    """Server process, channel and stub of one variant, made once per worker."""
    if _env:
        return _env
    os.environ["PROTOCOL_BUFFERS_PYTHON_IMPLEMENTATION"] = "upb"
    os.environ.setdefault("GRPC_VERBOSITY", "ERROR")
    if variant == "peer":
        sys.path.insert(0, os.path.join(scratch, "peer"))
    here = os.path.dirname(os.path.abspath(__file__))
    sys.path.insert(0, here)
    from concurrent import futures

    import grpc
    import workload
    from ostrel.api import service_pb2, service_pb2_grpc

    origin = sys.modules["ostrel.api.common_pb2"].__file__
    if origin.startswith(os.path.join(scratch, "peer") + os.sep) != (variant == "peer"):
        raise RuntimeError("%s variant loaded %s" % (variant, origin))
    server = subprocess.Popen([sys.executable, os.path.join(here, "serve.py"), variant, scratch],
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=dict(os.environ))
    atexit.register(stop_server, server)
    port = int(server.stdout.readline())
    small = workload.make_snapshot(**workload.SMALL)
    large = workload.make_snapshot(**workload.LARGE)
    channel = grpc.insecure_channel("127.0.0.1:%d" % port)
    grpc.channel_ready_future(channel).result(timeout=10)
    stub = service_pb2_grpc.OstrelStub(channel)
    if stub.pushProjectSnapshot(large).message != "stored":
        raise RuntimeError("round trip answered wrongly")
    if stub.pullProjectSnapshot(service_pb2.GenericRequest()) != large:
        raise RuntimeError("pull answered wrongly")
    _env.update(grpc=grpc, futures=futures, module=service_pb2_grpc, channel=channel,
                stub=stub, small=small, large=large,
                servicer=service_pb2_grpc.OstrelServicer(),
                generic=service_pb2.GenericRequest())
    return _env


def stop_server(server):
    server.stdin.close()
    try:
        server.wait(timeout=10)
    except subprocess.TimeoutExpired:
        server.kill()


def fresh_server(env):
    """A server that is never started, new for every value, so that handlers
    registered for earlier values do not pile up."""
    return env["grpc"].server(env["futures"].ThreadPoolExecutor(max_workers=1))


def service_descriptor():
    from ostrel.api import ostrel_service_pb2

    return ostrel_service_pb2.DESCRIPTOR.services_by_name["Ostrel"]


def floor_rows():
    """(method, path, request class, response class) of the service's methods."""
    from google.protobuf.message_factory import GetMessageClass

    service = service_descriptor()
    return [(m.name, "/%s/%s" % (service.full_name, m.name), GetMessageClass(m.input_type),
             GetMessageClass(m.output_type)) for m in service.methods]


def timed_floor(loops, bench, env):
    grpc, channel = env["grpc"], env["channel"]
    rows = floor_rows()
    if bench == "stub":
        calls = [(p, req.SerializeToString, resp.FromString) for _, p, req, resp in rows]
        t0 = time.perf_counter()
        for _ in range(loops):
            make = channel.unary_unary
            for path, ser, de in calls:
                make(path, request_serializer=ser, response_deserializer=de)
        return time.perf_counter() - t0
    servicer, server = env["servicer"], fresh_server(env)
    handlers = [(m, getattr(servicer, m), req.FromString, resp.SerializeToString)
                for m, _, req, resp in rows]
    factory, generic = grpc.unary_unary_rpc_method_handler, grpc.method_handlers_generic_handler
    service = service_descriptor().full_name
    t0 = time.perf_counter()
    for _ in range(loops):
        table = {m: factory(fn, request_deserializer=de, response_serializer=ser)
                 for m, fn, de, ser in handlers}
        server.add_generic_rpc_handlers((generic(service, table),))
    return time.perf_counter() - t0


def timed(loops, bench, variant, scratch):
    env = setup("ours" if variant == "floor" else variant, scratch)
    if variant == "floor":
        return timed_floor(loops, bench, env)
    module, channel, stub = env["module"], env["channel"], env["stub"]
    if bench == "stub":
        make = module.OstrelStub
        t0 = time.perf_counter()
        for _ in range(loops):
            make(channel)
    elif bench == "register":
        add, servicer, server = module.add_OstrelServicer_to_server, env["servicer"], fresh_server(env)
        t0 = time.perf_counter()
        for _ in range(loops):
            add(servicer, server)
    elif bench.startswith("push"):
        call, snap = stub.pushProjectSnapshot, env[bench.split("-")[1]]
        t0 = time.perf_counter()
        for _ in range(loops):
            call(snap)
    else:
        call, req = stub.pullProjectSnapshot, env["generic"]
        t0 = time.perf_counter()
        for _ in range(loops):
            call(req)
    return time.perf_counter() - t0


def child(bench, variant, scratch, nvalues, min_time):
    """One worker process: calibrates the loop count so that a value takes
    about `min_time`, runs one warm-up value and `nvalues` values, prints
    JSON with the time per call of each."""
    timed(1, bench, variant, scratch)
    loops = 1
    while True:
        dt = timed(loops, bench, variant, scratch)
        if dt >= min_time or loops >= 2 ** 20:
            break
        loops *= 2 if dt * 2 >= min_time else max(2, int(min_time / max(dt, 1e-9)))
    warmup = timed(loops, bench, variant, scratch)
    values = [timed(loops, bench, variant, scratch) / loops for _ in range(nvalues)]
    print(json.dumps({"loops": loops, "warmup": warmup / loops, "values": values}))


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--child":
        bench, variant, scratch, nvalues, min_time = sys.argv[2:7]
        child(bench, variant, scratch, int(nvalues), float(min_time))
        return
    import pyperf

    parser = argparse.ArgumentParser()
    parser.add_argument("--scratch", required=True)
    parser.add_argument("--variants", default="ours,peer,floor")
    parser.add_argument("--processes", type=int, default=4)
    parser.add_argument("--values", type=int, default=4)
    parser.add_argument("--min-time", type=float, default=0.1)
    parser.add_argument("-o", "--output", required=True)
    args = parser.parse_args()
    scratch = os.path.abspath(args.scratch)
    configs = [(b, v) for b in BENCHES for v in args.variants.split(",")
               if v != "floor" or b in ("stub", "register")]
    runs = {c: [] for c in configs}
    rng = random.Random(20261207)
    env = {k: v for k, v in os.environ.items() if not k.startswith("PYTHON")}
    for r in range(args.processes):
        order = configs[:]
        rng.shuffle(order)
        for bench, variant in order:
            cmd = [sys.executable, os.path.abspath(__file__), "--child", bench, variant,
                   scratch, str(args.values), str(args.min_time)]
            out = subprocess.run(cmd, env=env, cwd="/", check=True, capture_output=True,
                                 text=True)
            runs[(bench, variant)].append(json.loads(out.stdout.splitlines()[-1]))
        print("round %d/%d" % (r + 1, args.processes), file=sys.stderr, end="\r")
    print(file=sys.stderr)
    metadata = {"unit": "second", "python_version": sys.version.split()[0],
                "cpu_count": os.cpu_count()}
    benchmarks = []
    for bench, variant in configs:
        name = "%s-%s" % (bench, variant)
        b = pyperf.Benchmark([
            pyperf.Run(r["values"], warmups=[(r["loops"], r["warmup"])],
                       metadata=dict(metadata, name=name, loops=r["loops"]),
                       collect_metadata=False)
            for r in runs[(bench, variant)]])
        benchmarks.append(b)
        print("%s: median %.1f us" % (name, b.median() * 1e6))
    pyperf.BenchmarkSuite(benchmarks).dump(args.output)


if __name__ == "__main__":
    main()
