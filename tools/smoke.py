"""Smoke test of an installed ostrel (a wheel in a fresh environment): every
module of the API imports, and a request makes a round trip through a
loopback gRPC server. Prints one line and exits 0 when both hold.

Usage: python tools/smoke.py   (from anywhere; reads the schema file names
from the checkout this script lives in)
"""

import importlib
import importlib.machinery
import os
import pathlib
import sys
import tempfile
from typing import List

SCHEMA = pathlib.Path(__file__).resolve().parent.parent / "schema" / "ostrel" / "api"
SERVICE_MODULE = "ostrel.api.service_pb2_grpc"
NOT_FROM_CHECKOUT = "imported ostrel from the checkout ({}), not from the installed package"


def api_module_names() -> List[str]:
    """One message module per schema file, and the service module."""
    stems = sorted(p.stem.replace("-", "_") for p in SCHEMA.glob("*.proto"))
    if not stems:
        raise SystemExit("smoke: no schema files under %s" % SCHEMA)
    return ["ostrel.api.%s_pb2" % stem for stem in stems] + [SERVICE_MODULE]


def import_all(names: List[str]) -> None:
    for name in names:
        importlib.import_module(name)
    import ostrel.api

    package_dir = pathlib.Path(ostrel.api.__file__).parent
    if (pathlib.Path(__file__).resolve().parent.parent / "src") in package_dir.parents:
        raise SystemExit(NOT_FROM_CHECKOUT.format(package_dir))
    # Exactly these extension modules are installed: none missing, none extra
    # (test fixtures, stale builds).
    suffixes = importlib.machinery.EXTENSION_SUFFIXES
    installed = sorted("ostrel.api." + p.name.split(".")[0] for p in package_dir.iterdir()
                       if any(p.name.endswith(s) for s in suffixes))
    if installed != sorted(names):
        raise SystemExit("smoke: installed modules differ: %s" % sorted(set(installed) ^ set(names)))


def round_trip() -> None:
    import grpc
    from ostrel.api import project_pb2, service_pb2, service_pb2_grpc
    from ostrel.api import common_pb2
    from ostrel.server import OstrelServer
    from ostrel.protocol.metadata import ALLOW_EMPTY_METADATA

    with tempfile.TemporaryDirectory() as tmp:
        server = OstrelServer(db=os.path.join(tmp, "smoke.sqlite3"), port=0, time_scale=0.0)
        with server, grpc.insecure_channel(server.target) as channel:
            stub = service_pb2_grpc.OstrelStub(channel)
            stub.connect(service_pb2.ConnectRequest(), timeout=10)
            # An empty project, which the server takes only when asked to.
            project = project_pb2.ProjectSnapshot(version="smoke")
            pushed = stub.pushProjectSnapshot(project, timeout=10, metadata=[(ALLOW_EMPTY_METADATA, "1")])
            if pushed.code != common_pb2.SUCCESS:
                raise SystemExit("smoke: push answered %r" % pushed)
            back = stub.pullProjectSnapshot(service_pb2.GenericRequest(), timeout=10)
            if back != project:
                raise SystemExit("smoke: pulled %r, pushed %r" % (back, project))


def main() -> int:
    names = api_module_names()
    import_all(names)
    round_trip()
    from google.protobuf.internal import api_implementation

    print("smoke: PASS (%d modules, loopback round trip, CPython %d.%d, protobuf %s)"
          % (len(names), sys.version_info[0], sys.version_info[1], api_implementation.Type()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
