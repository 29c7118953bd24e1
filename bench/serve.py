"""Server side of the round-trip benchmarks: one variant's servicer on
127.0.0.1, in a process of its own.

    python bench/serve.py ours|peer SCRATCH

prints the port, then serves until its standard input closes.
"""

import os
import sys


def main():
    variant, scratch = sys.argv[1], sys.argv[2]
    os.environ["PROTOCOL_BUFFERS_PYTHON_IMPLEMENTATION"] = "upb"
    os.environ.setdefault("GRPC_VERBOSITY", "ERROR")
    if variant == "peer":
        sys.path.insert(0, os.path.join(scratch, "peer"))
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    from concurrent import futures

    import grpc
    import workload
    from ostrel.api import service_pb2_grpc

    origin = sys.modules["ostrel.api.common_pb2"].__file__
    if origin.startswith(os.path.join(scratch, "peer") + os.sep) != (variant == "peer"):
        raise RuntimeError("%s variant loaded %s" % (variant, origin))
    status = workload.api("common").Status(code=1, message="stored")
    large = workload.make_snapshot(**workload.LARGE)

    class Servicer(service_pb2_grpc.OstrelServicer):
        def pushProjectSnapshot(self, request, context):
            return status

        def pullProjectSnapshot(self, request, context):
            return large

    server = grpc.server(futures.ThreadPoolExecutor(max_workers=2))
    service_pb2_grpc.add_OstrelServicer_to_server(Servicer(), server)
    port = server.add_insecure_port("127.0.0.1:0")
    server.start()
    print(port, flush=True)
    sys.stdin.read()
    server.stop(None)


if __name__ == "__main__":
    main()
