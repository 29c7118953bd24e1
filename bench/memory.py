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
elif "=" in variant:  # another build of ours
    sys.path.insert(0, variant.split("=", 1)[1])
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
if variant not in ("floor", "runtime"):
    origin = sys.modules["ostrel.api.common_pb2"].__file__
    assert origin.startswith(os.path.join(scratch, "peer")) == (variant == "peer"), origin
    if "=" in variant:
        assert origin.startswith(variant.split("=", 1)[1]), origin
print(after - before)
"""

VARIANTS = ("ours", "peer", "floor", "runtime")
IMPLS = ("upb", "python")


def absolute(extra):
    name, where = extra.split("=", 1)
    return "%s=%s" % (name, os.path.abspath(where))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--scratch", required=True)
    parser.add_argument("--api", choices=("whole", "interim"), required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--extra", action="append", default=[], metavar="NAME=DIR",
                        help="another build of ours to compare, importable from DIR")
    parser.add_argument("-o", "--output", required=True)
    args = parser.parse_args()
    scratch = os.path.abspath(args.scratch)
    results = {}
    for impl in IMPLS:
        env = dict(os.environ, PROTOCOL_BUFFERS_PYTHON_IMPLEMENTATION=impl)
        for variant in VARIANTS + tuple(absolute(e) for e in args.extra):
            samples = []
            for _ in range(args.runs):
                out = subprocess.run([sys.executable, "-c", CHILD, variant, scratch, args.api],
                                     env=env, cwd="/", check=True, capture_output=True, text=True)
                samples.append(int(out.stdout.split()[-1]))
            name = "rss-%s-%s" % (impl, variant.split("=")[0])
            results[name] = {"median": statistics.median(samples), "samples": samples}
            print("%s: %.2f MiB" % (name, statistics.median(samples) / 2**20))
    with open(args.output, "w") as f:
        json.dump({"api": args.api, "results": results}, f, indent=1)


if __name__ == "__main__":
    main()
