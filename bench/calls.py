"""Per-call cost of the binding layer, ours against the generated _pb2_grpc
(pyperf, default upb runtime).

    python bench/calls.py --scratch SCRATCH --variants ours,peer -o out.json

Benchmarks, each `<name>-<variant>`:
  stub           OstrelStub(channel) on a real insecure channel
  register       add_OstrelServicer_to_server(servicer, server) on a grpc.server
  push-small     stub.pushProjectSnapshot(small snapshot), loopback round trip
  push-large     the same with a ~1 MB snapshot
  pull-large     stub.pullProjectSnapshot(GenericRequest()) answered with it
The server of the round trips runs in a process of its own (bench/serve.py,
same variant), so client and server do not share one interpreter lock.
Every worker process loads one variant only (ours and the peer share the
import name ostrel.api). The variant `floor` (stub and register only) makes
the same runtime calls with the serializers read beforehand, on our message
classes: what is left when the binding layer costs nothing.
"""

import atexit
import os
import subprocess
import sys
import time

import pyperf

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


def floor_rows():
    """(method, path, request class, response class) of the six methods."""
    from ostrel.api import common_pb2, data_pb2, project_pb2, service_pb2, system_pb2

    rows = (("connect", service_pb2.ConnectRequest, common_pb2.Status),
            ("pushProjectSnapshot", project_pb2.ProjectSnapshot, common_pb2.Status),
            ("pullProjectSnapshot", service_pb2.GenericRequest, project_pb2.ProjectSnapshot),
            ("pullSystemState", service_pb2.GenericRequest, system_pb2.SystemState),
            ("runProgram", service_pb2.ProgramRequest, common_pb2.Status),
            ("pullDataRecords", service_pb2.RecordsRequest, data_pb2.DataRecords))
    return [(m, "/ostrel.api.service.Ostrel/" + m, req, resp) for m, req, resp in rows]


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
    t0 = time.perf_counter()
    for _ in range(loops):
        table = {m: factory(fn, request_deserializer=de, response_serializer=ser)
                 for m, fn, de, ser in handlers}
        server.add_generic_rpc_handlers((generic("ostrel.api.service.Ostrel", table),))
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


def add_cmdline_args(cmd, args):
    cmd.extend(("--scratch", args.scratch, "--variants", args.variants))


def main():
    runner = pyperf.Runner(processes=4, values=4, warmups=1, min_time=0.1,
                           add_cmdline_args=add_cmdline_args)
    runner.argparser.add_argument("--scratch", required=True)
    runner.argparser.add_argument("--variants", default="ours,peer,floor")
    args = runner.parse_args()
    scratch = os.path.abspath(args.scratch)
    for bench in BENCHES:
        for variant in args.variants.split(","):
            if variant == "floor" and bench not in ("stub", "register"):
                continue
            runner.bench_time_func("%s-%s" % (bench, variant), timed, bench, variant, scratch)


if __name__ == "__main__":
    main()
