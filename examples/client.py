"""A short client of the Ostrel service, written against the API modules.

    python examples/client.py [--target localhost:50051] [PROJECT.json] [BEHAVIOR]

Pushes the project, runs one of its behaviors, waits for the program to end
and prints what the recording holds.
"""

import argparse
import os
import sys
import time

import grpc
from google.protobuf import json_format

from ostrel.api import common_pb2, project_pb2, service_pb2, service_pb2_grpc

HERE = os.path.dirname(os.path.abspath(__file__))


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0] if __doc__ else None)
    parser.add_argument("project", nargs="?", default=os.path.join(HERE, "pick_and_place.json"))
    parser.add_argument("behavior", nargs="?", default="pick_and_place")
    parser.add_argument("--target", default="localhost:50051")
    args = parser.parse_args()

    with open(args.project, encoding="utf-8") as handle:
        project = json_format.Parse(handle.read(), project_pb2.ProjectSnapshot())

    # Records and states with images can pass gRPC's default 4 MiB limit.
    options = [("grpc.max_receive_message_length", -1)]
    with grpc.insecure_channel(args.target, options=options) as channel:
        stub = service_pb2_grpc.OstrelStub(channel)
        print(stub.connect(service_pb2.ConnectRequest(client="example client"), timeout=5).message)
        print(stub.pushProjectSnapshot(project, timeout=5).message)

        started = time.time_ns()
        status = stub.runProgram(service_pb2.ProgramRequest(behavior=args.behavior), timeout=5)
        if status.code == common_pb2.FAILURE:
            sys.exit("refused: " + status.message)
        state = stub.pullSystemState(service_pb2.GenericRequest(), timeout=5)
        while state.status.code == common_pb2.RUNNING:
            time.sleep(0.1)
            state = stub.pullSystemState(service_pb2.GenericRequest(), timeout=5)
        print("%s: %s" % (common_pb2.Code.Name(state.status.code), state.status.message))

        planner = state.planner
        print("last plan: robot %s, %d proposals, %d trajectory points"
              % (planner.robot, len(planner.target_proposals), len(planner.trajectory.reference)))

        # Only the recordings that this run made.
        records = stub.pullDataRecords(service_pb2.RecordsRequest(since_ns=started), timeout=5)
        for record in records.records:
            print("recording %r: %d events, %d products"
                  % (record.description, len(record.events), len(record.products)))
            for event in record.events:
                outcome = event.status[-1] if event.status else common_pb2.Status()
                took_ms = (event.stop_timestamp_ns - event.start_timestamp_ns) / 1e6
                print("  %-22s %-8s %7.1f ms  %s"
                      % (event.name, common_pb2.Code.Name(outcome.code), took_ms,
                         event.action.type_url.rsplit("/", 1)[-1]))
    return 0 if state.status.code == common_pb2.SUCCESS else 1


if __name__ == "__main__":
    sys.exit(main())
