"""RSS growth from importing the whole API, one fresh process per sample.

    python bench/memory.py --scratch SCRATCH --api whole|interim [--runs 5] -o out.json

For each protobuf implementation and variant (ours, peer, floor, and
`runtime`: only the protobuf runtime modules, plus grpc for the whole API),
a child process reads its resident set size from /proc/self/statm, imports,
reads it again and prints the difference. The median of the runs is kept.
"""

import argparse
import json
import os
import statistics
import subprocess
import sys

CHILD = r"""
import os, sys
def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
variant, scratch, api = sys.argv[1:4]
if variant == "peer":
    sys.path.insert(0, os.path.join(scratch, "peer"))
elif variant == "floor":
    sys.path.insert(0, os.path.join(scratch, "floor"))
before = rss()
if variant == "runtime":
    from google.protobuf import descriptor, descriptor_pool, message, reflection, symbol_database
    from google.protobuf.internal import enum_type_wrapper
    from google.protobuf import any_pb2
    if api == "whole":
        import grpc
elif variant == "floor":
    __import__("floor_" + api)
elif api == "whole":
    import ostrel.api.service_pb2_grpc
else:
    import ostrel.api.data_pb2, ostrel.api.system_pb2
after = rss()
if variant in ("ours", "peer"):
    origin = sys.modules["ostrel.api.common_pb2"].__file__
    assert origin.startswith(os.path.join(scratch, "peer")) == (variant == "peer"), origin
print(after - before)
"""

VARIANTS = ("ours", "peer", "floor", "runtime")
IMPLS = ("upb", "python")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--scratch", required=True)
    parser.add_argument("--api", choices=("whole", "interim"), required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("-o", "--output", required=True)
    args = parser.parse_args()
    scratch = os.path.abspath(args.scratch)
    results = {}
    for impl in IMPLS:
        env = dict(os.environ, PROTOCOL_BUFFERS_PYTHON_IMPLEMENTATION=impl)
        for variant in VARIANTS:
            samples = []
            for _ in range(args.runs):
                out = subprocess.run([sys.executable, "-c", CHILD, variant, scratch, args.api],
                                     env=env, cwd="/", check=True, capture_output=True, text=True)
                samples.append(int(out.stdout.split()[-1]))
            results["rss-%s-%s" % (impl, variant)] = {
                "median": statistics.median(samples), "samples": samples}
            print("rss-%s-%s: %.2f MiB" % (impl, variant, statistics.median(samples) / 2**20))
    with open(args.output, "w") as f:
        json.dump({"api": args.api, "results": results}, f, indent=1)


if __name__ == "__main__":
    main()
