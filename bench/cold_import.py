"""Cold import of the whole API, one import per fresh interpreter.

    python bench/cold_import.py --scratch SCRATCH --api whole|interim [--rounds 25] -o out.json

Benchmarks `<phase>-<impl>-<variant>`: impl is the protobuf implementation
(upb, python), variant is ours (the installed extension modules), peer (the
protoc/grpcio-tools modules of SCRATCH/peer) or floor (SCRATCH/floor). Every
value is the wall time of one import in a new interpreter, interpreter
start-up excluded. Phase `import` times the whole import, the protobuf
runtime's (and grpc's) own import included; phase `api` imports the runtime
modules that any of the variants uses (and grpc) first, untimed, and times
the rest: what differs between the variants.

A cold import happens once per process, so each value is one child process.
The children are interleaved: every round runs each benchmark once, in a
shuffled order, so that whatever else the machine does at the time falls on
all variants alike; a first round is run and dropped to warm the page cache.
The values are written as a pyperf suite (`python -m pyperf show out.json`).
"""

import argparse
import os
import random
import subprocess
import sys
import time

IMPLS = ("upb", "python")
VARIANTS = ("ours", "peer", "floor")
PHASES = ("import", "api")
TARGETS = {
    "whole": ["ostrel.api.service_pb2_grpc"],
    "interim": ["ostrel.api.data_pb2", "ostrel.api.system_pb2"],
}
RUNTIME = ("google.protobuf.descriptor", "google.protobuf.descriptor_pool",
           "google.protobuf.message", "google.protobuf.reflection",
           "google.protobuf.symbol_database", "google.protobuf.internal.enum_type_wrapper",
           "google.protobuf.any_pb2", "google.protobuf.runtime_version",
           "google.protobuf.internal.builder")


def variant_dir(variant, scratch):
    """The folder put first on sys.path for a variant; None for ours (installed).
    `NAME=DIR` names another build of ours, e.g. one before a change."""
    if variant in ("peer", "floor"):
        return os.path.join(scratch, variant)
    if "=" in variant:
        return os.path.abspath(variant.split("=", 1)[1])
    return None


def check_origin(variant, scratch):
    """Each variant must have been imported from its own tree."""
    if variant == "floor":
        return
    common = sys.modules["ostrel.api.common_pb2"].__file__
    where = variant_dir(variant, scratch)
    ok = common.startswith(where + os.sep) if where else (
        common.endswith(".so") and not common.startswith(scratch + os.sep))
    if not ok:
        raise RuntimeError("%s variant imported ostrel.api.common_pb2 from %s" % (variant, common))


def child(phase, impl, variant, scratch, api):
    """Runs in the fresh interpreter: one import, prints its wall time."""
    if "google.protobuf" in sys.modules or "ostrel" in sys.modules:
        raise RuntimeError("not a cold process")
    os.environ["PROTOCOL_BUFFERS_PYTHON_IMPLEMENTATION"] = impl
    if variant_dir(variant, scratch):
        sys.path.insert(0, variant_dir(variant, scratch))
    names = ["floor_%s" % api] if variant == "floor" else TARGETS[api]
    if phase == "api":
        for name in RUNTIME + (("grpc",) if api == "whole" else ()):
            __import__(name)
    t0 = time.perf_counter()
    for name in names:
        __import__(name)
    dt = time.perf_counter() - t0
    check_origin(variant, scratch)
    from google.protobuf.internal import api_implementation

    if api_implementation.Type() != impl:
        raise RuntimeError("asked for %s, runtime is %s" % (impl, api_implementation.Type()))
    print(repr(dt))


def run_child(config, scratch, api):
    env = {k: v for k, v in os.environ.items() if not k.startswith("PYTHON")}
    cmd = [sys.executable, os.path.abspath(__file__), "--child", *config, scratch, api]
    out = subprocess.run(cmd, env=env, cwd="/", check=True, capture_output=True, text=True)
    return float(out.stdout.split()[-1])


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--child":
        child(*sys.argv[2:7])
        return
    import pyperf

    parser = argparse.ArgumentParser()
    parser.add_argument("--scratch", required=True)
    parser.add_argument("--api", choices=sorted(TARGETS), required=True)
    parser.add_argument("--rounds", type=int, default=25)
    parser.add_argument("--extra", action="append", default=[], metavar="NAME=DIR",
                        help="another build of ours to compare, importable from DIR")
    parser.add_argument("-o", "--output", required=True)
    args = parser.parse_args()
    scratch = os.path.abspath(args.scratch)
    variants = VARIANTS + tuple("%s=%s" % (e.split("=", 1)[0], os.path.abspath(e.split("=", 1)[1]))
                                for e in args.extra)
    configs = [(p, i, v) for p in PHASES for i in IMPLS for v in variants]
    values = {c: [] for c in configs}
    rng = random.Random(20261207)
    for r in range(args.rounds + 1):
        order = configs[:]
        rng.shuffle(order)
        for c in order:
            dt = run_child(c, scratch, args.api)
            if r:
                values[c].append(dt)
        print("round %d/%d" % (r, args.rounds), file=sys.stderr, end="\r")
    print(file=sys.stderr)
    metadata = {"loops": 1, "unit": "second", "api": args.api, "python_executable": sys.executable,
                "python_version": sys.version.split()[0], "cpu_count": os.cpu_count()}
    benchmarks = []
    for c in configs:
        name = "-".join(c).split("=")[0]
        runs = [pyperf.Run([v], warmups=[], metadata=dict(metadata, name=name),
                           collect_metadata=False)
                for v in values[c]]
        bench = pyperf.Benchmark(runs)
        benchmarks.append(bench)
        print("%s: median %.2f ms over %d processes" % (name, bench.median() * 1e3, len(runs)))
    pyperf.BenchmarkSuite(benchmarks).dump(args.output)


if __name__ == "__main__":
    main()
