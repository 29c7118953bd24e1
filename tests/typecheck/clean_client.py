"""Correct use of the typed API, on both sides of the service and with both
gRPC flavours: the type checkers must report nothing here. Importing it runs
no call, so the test also imports it to prove it is valid at run time."""

import asyncio
from concurrent import futures
from typing import TYPE_CHECKING, Optional

import grpc
import grpc.aio

from ostrel.api import (
    common_pb2,
    data_pb2,
    execution_pb2,
    project_pb2,
    robot_pb2,
    service_pb2,
    service_pb2_grpc,
    system_pb2,
    workspace_pb2,
)

if TYPE_CHECKING:
    from ostrel.api.service_pb2_grpc import OstrelAsyncStub


def build_project() -> project_pb2.ProjectSnapshot:
    sleep = execution_pb2.SleepRoutine()
    project = project_pb2.ProjectSnapshot(
        version="1",
        behaviors={"rest": execution_pb2.Behavior(name="rest", sleep_routine=sleep)},
    )
    project.workspace.config.robots["arm"].CopyFrom(robot_pb2.RobotConfig())
    project.behaviors["wait"].name = "wait"
    entry = workspace_pb2.WorkspaceConfig.RobotsEntry(key="arm")
    assert entry.key == "arm" and not entry.HasField("value")
    return project


def step_of(behavior: execution_pb2.Behavior) -> Optional[str]:
    kind = behavior.WhichOneof("type")
    if kind is None or not behavior.HasField(kind):
        return None
    return kind


def code_name(status: common_pb2.Status) -> str:
    code: common_pb2.Code.ValueType = status.code
    if code == common_pb2.SUCCESS:
        return "done"
    return common_pb2.Code.Name(code)


def run_sync(target: str) -> int:
    with grpc.insecure_channel(target) as channel:
        stub = service_pb2_grpc.OstrelStub(channel)
        stub.connect(service_pb2.ConnectRequest(client="typed"), timeout=5)
        stub.pushProjectSnapshot(build_project())
        status = stub.runProgram(service_pb2.ProgramRequest(behavior="rest"))
        state: system_pb2.SystemState = stub.pullSystemState(service_pb2.GenericRequest())
        request = service_pb2.RecordsRequest(descriptions=["a"], since_ns=0)
        request.descriptions.append("b")
        records = stub.pullDataRecords(request)
        print(code_name(status), code_name(state.status), len(records.records))
    answer = service_pb2_grpc.Ostrel.connect(
        service_pb2.ConnectRequest(), target, insecure=True, timeout=1.5
    )
    return answer.code


async def pull_async(stub: "OstrelAsyncStub") -> data_pb2.DataRecords:
    await stub.connect(service_pb2.ConnectRequest(client="typed"))
    return await stub.pullDataRecords(service_pb2.RecordsRequest())


async def run_async(target: str) -> int:
    async with grpc.aio.insecure_channel(target) as channel:
        stub = service_pb2_grpc.OstrelStub(channel)
        snapshot = await stub.pullProjectSnapshot(service_pb2.GenericRequest())
        records = await pull_async(stub)
        return len(snapshot.behaviors) + len(records.records)


class SyncServicer(service_pb2_grpc.OstrelServicer):
    def connect(
        self, request: service_pb2.ConnectRequest, context: grpc.ServicerContext
    ) -> common_pb2.Status:
        return common_pb2.Status(code=common_pb2.SUCCESS, message=request.client)

    def pullProjectSnapshot(
        self, request: service_pb2.GenericRequest, context: grpc.ServicerContext
    ) -> project_pb2.ProjectSnapshot:
        return build_project()


class AsyncServicer(service_pb2_grpc.OstrelServicer):
    async def runProgram(
        self,
        request: service_pb2.ProgramRequest,
        context: "grpc.aio.ServicerContext[service_pb2.ProgramRequest, common_pb2.Status]",
    ) -> common_pb2.Status:
        await asyncio.sleep(0)
        return common_pb2.Status(code=common_pb2.RUNNING, message=request.behavior)

    def pullSystemState(
        self, request: service_pb2.GenericRequest, context: grpc.ServicerContext
    ) -> system_pb2.SystemState:
        return system_pb2.SystemState(status=common_pb2.Status(code=common_pb2.FAILURE))


def serve_sync() -> grpc.Server:
    server = grpc.server(futures.ThreadPoolExecutor(max_workers=1))
    service_pb2_grpc.add_OstrelServicer_to_server(SyncServicer(), server)
    return server


def serve_async() -> grpc.aio.Server:
    server = grpc.aio.server()
    service_pb2_grpc.add_OstrelServicer_to_server(AsyncServicer(), server)
    return server


def state_through_connect(target: str) -> int:
    import ostrel

    with ostrel.connect(target, headers=[("x-site", "lab")]) as stub:
        status: common_pb2.Status = stub.pullSystemState(service_pb2.GenericRequest(), timeout=5).status
        return status.code


async def state_through_async_connect(target: str) -> int:
    import ostrel

    async with ostrel.connect(target, aio=True) as stub:
        state: system_pb2.SystemState = await stub.pullSystemState(service_pb2.GenericRequest())
        return state.status.code
