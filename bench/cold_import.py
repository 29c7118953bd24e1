"""Cold import of the whole API, one import per fresh worker process (pyperf).

    python bench/cold_import.py --scratch SCRATCH --api whole|interim -o out.json

Benchmarks `<phase>-<impl>-<variant>`: impl is the protobuf implementation
(upb, python), variant is ours (the installed extension modules), peer (the
protoc/grpcio-tools modules of SCRATCH/peer) or floor (SCRATCH/floor). Every
value is the wall time of one import in a new interpreter, interpreter
start-up excluded. Phase `import` times the whole import, the protobuf
runtime's (and grpc's) own import included; phase `api` imports the runtime
modules that any of the variants uses (and grpc) first, untimed, and times
the rest: the part that differs between the variants.
"""

import os
import sys
import time

import pyperf

IMPLS = ("upb", "python")
VARIANTS = ("ours", "peer", "floor")
TARGETS = {
    "whole": ["ostrel.api.service_pb2_grpc"],
    "interim": ["ostrel.api.data_pb2", "ostrel.api.system_pb2"],
}


def prepare_path(variant, scratch):
    """Puts the variant's tree first on sys.path; returns what to import."""
    if variant == "peer":
        sys.path.insert(0, os.path.join(scratch, "peer"))
    elif variant == "floor":
        sys.path.insert(0, os.path.join(scratch, "floor"))


def check_origin(variant, scratch):
    """The peer must have been imported from SCRATCH/peer, ours from site-packages."""
    if variant == "floor":
        return
    common = sys.modules["ostrel.api.common_pb2"].__file__
    from_peer = common.startswith(os.path.join(scratch, "peer") + os.sep)
    if from_peer != (variant == "peer") or (variant == "ours") != common.endswith(".so"):
        raise RuntimeError("%s variant imported ostrel.api.common_pb2 from %s" % (variant, common))


RUNTIME = ("google.protobuf.descriptor", "google.protobuf.descriptor_pool",
           "google.protobuf.message", "google.protobuf.reflection",
           "google.protobuf.symbol_database", "google.protobuf.internal.enum_type_wrapper",
           "google.protobuf.any_pb2", "google.protobuf.runtime_version",
           "google.protobuf.internal.builder")


def cold_import(loops, phase, impl, variant, scratch, api):
    if loops != 1:
        raise RuntimeError("a cold import happens once per process: run with --loops=1")
    if "google.protobuf" in sys.modules or "ostrel" in sys.modules:
        raise RuntimeError("not a cold process")
    os.environ["PROTOCOL_BUFFERS_PYTHON_IMPLEMENTATION"] = impl
    prepare_path(variant, scratch)
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
    return dt


def add_cmdline_args(cmd, args):
    cmd.extend(("--scratch", args.scratch, "--api", args.api))


def main():
    runner = pyperf.Runner(values=1, warmups=0, loops=1, processes=15,
                           add_cmdline_args=add_cmdline_args)
    runner.argparser.add_argument("--scratch", required=True)
    runner.argparser.add_argument("--api", choices=sorted(TARGETS), required=True)
    args = runner.parse_args()
    runner.metadata["api"] = args.api
    for phase in ("import", "api"):
        for impl in IMPLS:
            for variant in VARIANTS:
                runner.bench_time_func("%s-%s-%s" % (phase, impl, variant), cold_import, phase,
                                       impl, variant, os.path.abspath(args.scratch), args.api)


if __name__ == "__main__":
    main()
