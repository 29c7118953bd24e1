"""Deliberate mistakes against the typed API: every line marked `# E` must be
reported by each type checker on that line, and no other line."""

import grpc
import grpc.aio

from ostrel.api import (
    common_pb2,
    execution_pb2,
    item_pb2,
    project_pb2,
    robot_pb2,
    service_pb2,
    service_pb2_grpc,
    system_pb2,
    workspace_pb2,
)


def messages() -> None:
    common_pb2.Status(mesage="misspelled keyword")  # E
    status = common_pb2.Status(message="ok")
    print(status.mesage)  # E
    common_pb2.Status(message=3)  # E
    status.message = 3  # E
    common_pb2.Status(code=1)  # E
    common_pb2.Status(message=None)  # E
    status.code = 2  # E
    common_pb2.Status(common_pb2.SUCCESS)  # E
    print(common_pb2.SUCCEEDED)  # E
    print(common_pb2.Code.SUCCEEDED)  # E
    status.HasField("message")  # E
    status.ClearField("mesage")  # E
    status.CopyFrom(project_pb2.ProjectSnapshot())  # E
    status.SerializeToStrin()  # E

    request = service_pb2.RecordsRequest()
    request.descriptions = ["assigned, not extended"]  # E
    request.descriptions.append(7)  # E
    request.since_ns = "yesterday"  # E

    behavior = execution_pb2.Behavior(name="pick")
    behavior.WhichOneof("kind")  # E
    step: str = behavior.WhichOneof("type")  # E
    behavior.HasField("repeat_routines")  # E
    behavior.repeat_routine = execution_pb2.RepeatRoutine()  # E
    behavior.repeat_routine.CopyFrom(execution_pb2.SequenceRoutine())  # E
    print(step)

    project_pb2.ProjectSnapshot(behaviors=[behavior])  # E
    workspace_pb2.WorkspaceConfig(robots={"arm": item_pb2.ItemConfig()})  # E
    config = workspace_pb2.WorkspaceConfig()
    config.robots[0].CopyFrom(robot_pb2.RobotConfig())  # E
    workspace_pb2.WorkspaceConfig.RobotsEntry(key=1)  # E


def client(channel: grpc.Channel, aio_channel: grpc.aio.Channel) -> None:
    stub = service_pb2_grpc.OstrelStub(channel)
    stub.runProgram(service_pb2.ConnectRequest(client="wrong request"))  # E
    stub.runPrograms(service_pb2.ProgramRequest(behavior="pick"))  # E
    state: common_pb2.Status = stub.pullSystemState(service_pb2.GenericRequest())  # E
    print(state)
    aio_stub = service_pb2_grpc.OstrelStub(aio_channel)
    answer: common_pb2.Status = aio_stub.connect(service_pb2.ConnectRequest())  # E
    print(answer)
    service_pb2_grpc.OstrelStub("localhost:50051")  # E
    service_pb2_grpc.Ostrel.connect(service_pb2.ConnectRequest(), "localhost:50051", timeout_s=5)  # E
    service_pb2_grpc.Ostrel.pushProject(project_pb2.ProjectSnapshot(), "localhost:50051")  # E
    records = service_pb2_grpc.Ostrel.pullDataRecords(service_pb2.RecordsRequest(), "localhost:50051")
    print(records.record)  # E


class WrongServicer(service_pb2_grpc.OstrelServicer):
    def connect(self, request: service_pb2.ConnectRequest, context: grpc.ServicerContext) -> project_pb2.ProjectSnapshot:  # E
        return project_pb2.ProjectSnapshot()

    def pullSystemState(self, request: service_pb2.ProgramRequest, context: grpc.ServicerContext) -> system_pb2.SystemState:  # E
        return system_pb2.SystemState()


def serve(server: grpc.Server) -> None:
    service_pb2_grpc.add_OstrelServicer_to_server(object(), server)  # E
    service_pb2_grpc.add_OstrelServicer_to_server(WrongServicer(), "server")  # E


def connect_mistakes(target: str) -> None:
    import ostrel

    with ostrel.connect(target, aio=True):  # E
        pass
    ostrel.connect(target, headers=["x-site: lab"])  # E
    ostrel.connect(target).pullSystemState(service_pb2.ProgramRequest())  # E
