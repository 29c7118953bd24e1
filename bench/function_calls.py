"""Call cost of the service module's functions, two builds in one process.

    python bench/function_calls.py OTHER.so [--repeat 40] [--number 20000]

Loads the installed ostrel.api.service_pb2_grpc and the extension module file
OTHER.so (an older or newer build of the same module, loaded as
`other.service_pb2_grpc`), replaces `grpc` in both by one cheap fake and
times the same calls of each, alternating builds in every round. Prints the
best time per call of each build and their ratio (installed / other).
"""

import argparse
import importlib.machinery
import importlib.util
import itertools
import sys
import timeit
import types

from ostrel.api import service_pb2
from ostrel.api import service_pb2_grpc as installed


def load(path):
    loader = importlib.machinery.ExtensionFileLoader("other.service_pb2_grpc", path)
    spec = importlib.util.spec_from_file_location("other.service_pb2_grpc", path, loader=loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


# A grpc whose one-shot call and channel factories cost next to nothing (C
# callables that take any positional arguments, or keywords).
FAKE_GRPC = types.SimpleNamespace(experimental=types.SimpleNamespace(unary_unary=itertools.chain))
CHANNEL = types.SimpleNamespace(unary_unary=lambda path, **serializers: None)
REQUEST = service_pb2.ConnectRequest()

# name: statement, with `m` the module under test
CALLS = {
    "Ostrel.connect(request, target)": "m.Ostrel.connect(r, 't')",
    "... + 3 keywords": "m.Ostrel.connect(r, 't', timeout=1.0, insecure=True, metadata=())",
    "... all 10 by keyword": (
        "m.Ostrel.connect(request=r, target='t', options=(), channel_credentials=None, "
        "call_credentials=None, insecure=False, compression=None, wait_for_ready=None, "
        "timeout=None, metadata=None)"),
    "unknown keyword (TypeError)": "try:\n m.Ostrel.connect(r, 't', retries=1)\nexcept TypeError: pass",
    "OstrelStub(channel)": "m.OstrelStub(c)",
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("other")
    parser.add_argument("--repeat", type=int, default=40)
    parser.add_argument("--number", type=int, default=20000)
    args = parser.parse_args()
    other = load(args.other)
    builds = {"installed": installed, "other": other}
    for module in builds.values():
        module.grpc = FAKE_GRPC
    best = {(call, build): float("inf") for call in CALLS for build in builds}
    for _ in range(args.repeat):
        for call, statement in CALLS.items():
            for build, module in builds.items():
                number = args.number // 10 if "Stub" in call else args.number
                seconds = timeit.timeit(statement, number=number,
                                        globals={"m": module, "r": REQUEST, "c": CHANNEL})
                best[call, build] = min(best[call, build], seconds / number)
    print("Python %s, %s" % (sys.version.split()[0], args.other))
    print("%-32s %12s %12s %8s" % ("call", "installed ns", "other ns", "ratio"))
    for call in CALLS:
        new, old = best[call, "installed"] * 1e9, best[call, "other"] * 1e9
        print("%-32s %12.0f %12.0f %8.2f" % (call, new, old, new / old))


if __name__ == "__main__":
    main()
