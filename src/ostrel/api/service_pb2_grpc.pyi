# Generated from the schema files by tools/regenerate.sh. Do not edit.
# Typing stub of ostrel.api.service_pb2_grpc, written by protoc-gen-ostrel from
# the service ostrel.api.service.Ostrel of ostrel/api/ostrel_service.proto.
#
# OstrelStub is generic in the callables of its methods: built on a
# grpc.Channel each method returns its response, built on a grpc.aio.Channel
# each returns an awaitable call. OstrelAsyncStub names the second kind for
# annotations only; it is no runtime attribute of the module.

import builtins
import collections.abc
import typing

import grpc
import grpc.aio
import typing_extensions

import ostrel.api.common_pb2
import ostrel.api.data_pb2
import ostrel.api.project_pb2
import ostrel.api.service_pb2
import ostrel.api.system_pb2

_ChannelOptions: typing_extensions.TypeAlias = collections.abc.Sequence[tuple[builtins.str, typing.Any]]
_Metadata: typing_extensions.TypeAlias = collections.abc.Sequence[tuple[builtins.str, builtins.str | builtins.bytes]]

_ConnectT = typing_extensions.TypeVar(
    "_ConnectT",
    default=grpc.UnaryUnaryMultiCallable[ostrel.api.service_pb2.ConnectRequest, ostrel.api.common_pb2.Status],
)
_PushProjectSnapshotT = typing_extensions.TypeVar(
    "_PushProjectSnapshotT",
    default=grpc.UnaryUnaryMultiCallable[ostrel.api.project_pb2.ProjectSnapshot, ostrel.api.common_pb2.Status],
)
_PullProjectSnapshotT = typing_extensions.TypeVar(
    "_PullProjectSnapshotT",
    default=grpc.UnaryUnaryMultiCallable[ostrel.api.service_pb2.GenericRequest, ostrel.api.project_pb2.ProjectSnapshot],
)
_PullSystemStateT = typing_extensions.TypeVar(
    "_PullSystemStateT",
    default=grpc.UnaryUnaryMultiCallable[ostrel.api.service_pb2.GenericRequest, ostrel.api.system_pb2.SystemState],
)
_RunProgramT = typing_extensions.TypeVar(
    "_RunProgramT",
    default=grpc.UnaryUnaryMultiCallable[ostrel.api.service_pb2.ProgramRequest, ostrel.api.common_pb2.Status],
)
_PullDataRecordsT = typing_extensions.TypeVar(
    "_PullDataRecordsT",
    default=grpc.UnaryUnaryMultiCallable[ostrel.api.service_pb2.RecordsRequest, ostrel.api.data_pb2.DataRecords],
)

class OstrelStub(typing.Generic[_ConnectT, _PushProjectSnapshotT, _PullProjectSnapshotT, _PullSystemStateT, _RunProgramT, _PullDataRecordsT]):
    @typing.overload
    def __init__(
        self: OstrelStub[
            grpc.UnaryUnaryMultiCallable[ostrel.api.service_pb2.ConnectRequest, ostrel.api.common_pb2.Status],
            grpc.UnaryUnaryMultiCallable[ostrel.api.project_pb2.ProjectSnapshot, ostrel.api.common_pb2.Status],
            grpc.UnaryUnaryMultiCallable[ostrel.api.service_pb2.GenericRequest, ostrel.api.project_pb2.ProjectSnapshot],
            grpc.UnaryUnaryMultiCallable[ostrel.api.service_pb2.GenericRequest, ostrel.api.system_pb2.SystemState],
            grpc.UnaryUnaryMultiCallable[ostrel.api.service_pb2.ProgramRequest, ostrel.api.common_pb2.Status],
            grpc.UnaryUnaryMultiCallable[ostrel.api.service_pb2.RecordsRequest, ostrel.api.data_pb2.DataRecords],
        ],
        channel: grpc.Channel,
    ) -> None: ...
    @typing.overload
    def __init__(
        self: OstrelStub[
            grpc.aio.UnaryUnaryMultiCallable[ostrel.api.service_pb2.ConnectRequest, ostrel.api.common_pb2.Status],
            grpc.aio.UnaryUnaryMultiCallable[ostrel.api.project_pb2.ProjectSnapshot, ostrel.api.common_pb2.Status],
            grpc.aio.UnaryUnaryMultiCallable[ostrel.api.service_pb2.GenericRequest, ostrel.api.project_pb2.ProjectSnapshot],
            grpc.aio.UnaryUnaryMultiCallable[ostrel.api.service_pb2.GenericRequest, ostrel.api.system_pb2.SystemState],
            grpc.aio.UnaryUnaryMultiCallable[ostrel.api.service_pb2.ProgramRequest, ostrel.api.common_pb2.Status],
            grpc.aio.UnaryUnaryMultiCallable[ostrel.api.service_pb2.RecordsRequest, ostrel.api.data_pb2.DataRecords],
        ],
        channel: grpc.aio.Channel,
    ) -> None: ...
    connect: _ConnectT
    pushProjectSnapshot: _PushProjectSnapshotT
    pullProjectSnapshot: _PullProjectSnapshotT
    pullSystemState: _PullSystemStateT
    runProgram: _RunProgramT
    pullDataRecords: _PullDataRecordsT

OstrelAsyncStub: typing_extensions.TypeAlias = OstrelStub[
    grpc.aio.UnaryUnaryMultiCallable[ostrel.api.service_pb2.ConnectRequest, ostrel.api.common_pb2.Status],
    grpc.aio.UnaryUnaryMultiCallable[ostrel.api.project_pb2.ProjectSnapshot, ostrel.api.common_pb2.Status],
    grpc.aio.UnaryUnaryMultiCallable[ostrel.api.service_pb2.GenericRequest, ostrel.api.project_pb2.ProjectSnapshot],
    grpc.aio.UnaryUnaryMultiCallable[ostrel.api.service_pb2.GenericRequest, ostrel.api.system_pb2.SystemState],
    grpc.aio.UnaryUnaryMultiCallable[ostrel.api.service_pb2.ProgramRequest, ostrel.api.common_pb2.Status],
    grpc.aio.UnaryUnaryMultiCallable[ostrel.api.service_pb2.RecordsRequest, ostrel.api.data_pb2.DataRecords],
]

# What a servicer method is handed: the context of the synchronous server
# (grpc.ServicerContext) or of the asyncio server (grpc.aio.ServicerContext),
# so that an override may take either one.
@typing.type_check_only
class _ServicerContext(  # type: ignore[misc]
    grpc.ServicerContext,
    grpc.aio.ServicerContext[typing.Any, typing.Any],
): ...

# The base answers every method with UNIMPLEMENTED. A subclass overrides the
# methods it serves, each with a plain method that returns the response (for
# grpc.server) or an async method (for grpc.aio.server).
class OstrelServicer:
    def connect(
        self,
        request: ostrel.api.service_pb2.ConnectRequest,
        context: _ServicerContext,
    ) -> ostrel.api.common_pb2.Status | collections.abc.Awaitable[ostrel.api.common_pb2.Status]:
        """Opens a session; answers SUCCESS when the server is ready."""
    def pushProjectSnapshot(
        self,
        request: ostrel.api.project_pb2.ProjectSnapshot,
        context: _ServicerContext,
    ) -> ostrel.api.common_pb2.Status | collections.abc.Awaitable[ostrel.api.common_pb2.Status]:
        """Replaces the server's project with the one sent."""
    def pullProjectSnapshot(
        self,
        request: ostrel.api.service_pb2.GenericRequest,
        context: _ServicerContext,
    ) -> ostrel.api.project_pb2.ProjectSnapshot | collections.abc.Awaitable[ostrel.api.project_pb2.ProjectSnapshot]:
        """Answers the project the server holds."""
    def pullSystemState(
        self,
        request: ostrel.api.service_pb2.GenericRequest,
        context: _ServicerContext,
    ) -> ostrel.api.system_pb2.SystemState | collections.abc.Awaitable[ostrel.api.system_pb2.SystemState]:
        """Answers the state of the cell and of the last program."""
    def runProgram(
        self,
        request: ostrel.api.service_pb2.ProgramRequest,
        context: _ServicerContext,
    ) -> ostrel.api.common_pb2.Status | collections.abc.Awaitable[ostrel.api.common_pb2.Status]:
        """Starts a behavior of the pushed project as a program."""
    def pullDataRecords(
        self,
        request: ostrel.api.service_pb2.RecordsRequest,
        context: _ServicerContext,
    ) -> ostrel.api.data_pb2.DataRecords | collections.abc.Awaitable[ostrel.api.data_pb2.DataRecords]:
        """Answers the recorded data sets that the request selects."""

def add_OstrelServicer_to_server(
    servicer: OstrelServicer,
    server: grpc.Server | grpc.aio.Server,
) -> None: ...

# One-shot calls through grpc.experimental.unary_unary: each sends one request
# to `target` and returns the response.
class Ostrel:
    @staticmethod
    def connect(
        request: ostrel.api.service_pb2.ConnectRequest,
        target: builtins.str,
        options: _ChannelOptions = (),
        channel_credentials: grpc.ChannelCredentials | None = None,
        call_credentials: grpc.CallCredentials | None = None,
        insecure: builtins.bool = False,
        compression: grpc.Compression | None = None,
        wait_for_ready: builtins.bool | None = None,
        timeout: builtins.float | None = None,
        metadata: _Metadata | None = None,
    ) -> ostrel.api.common_pb2.Status:
        """Opens a session; answers SUCCESS when the server is ready."""
    @staticmethod
    def pushProjectSnapshot(
        request: ostrel.api.project_pb2.ProjectSnapshot,
        target: builtins.str,
        options: _ChannelOptions = (),
        channel_credentials: grpc.ChannelCredentials | None = None,
        call_credentials: grpc.CallCredentials | None = None,
        insecure: builtins.bool = False,
        compression: grpc.Compression | None = None,
        wait_for_ready: builtins.bool | None = None,
        timeout: builtins.float | None = None,
        metadata: _Metadata | None = None,
    ) -> ostrel.api.common_pb2.Status:
        """Replaces the server's project with the one sent."""
    @staticmethod
    def pullProjectSnapshot(
        request: ostrel.api.service_pb2.GenericRequest,
        target: builtins.str,
        options: _ChannelOptions = (),
        channel_credentials: grpc.ChannelCredentials | None = None,
        call_credentials: grpc.CallCredentials | None = None,
        insecure: builtins.bool = False,
        compression: grpc.Compression | None = None,
        wait_for_ready: builtins.bool | None = None,
        timeout: builtins.float | None = None,
        metadata: _Metadata | None = None,
    ) -> ostrel.api.project_pb2.ProjectSnapshot:
        """Answers the project the server holds."""
    @staticmethod
    def pullSystemState(
        request: ostrel.api.service_pb2.GenericRequest,
        target: builtins.str,
        options: _ChannelOptions = (),
        channel_credentials: grpc.ChannelCredentials | None = None,
        call_credentials: grpc.CallCredentials | None = None,
        insecure: builtins.bool = False,
        compression: grpc.Compression | None = None,
        wait_for_ready: builtins.bool | None = None,
        timeout: builtins.float | None = None,
        metadata: _Metadata | None = None,
    ) -> ostrel.api.system_pb2.SystemState:
        """Answers the state of the cell and of the last program."""
    @staticmethod
    def runProgram(
        request: ostrel.api.service_pb2.ProgramRequest,
        target: builtins.str,
        options: _ChannelOptions = (),
        channel_credentials: grpc.ChannelCredentials | None = None,
        call_credentials: grpc.CallCredentials | None = None,
        insecure: builtins.bool = False,
        compression: grpc.Compression | None = None,
        wait_for_ready: builtins.bool | None = None,
        timeout: builtins.float | None = None,
        metadata: _Metadata | None = None,
    ) -> ostrel.api.common_pb2.Status:
        """Starts a behavior of the pushed project as a program."""
    @staticmethod
    def pullDataRecords(
        request: ostrel.api.service_pb2.RecordsRequest,
        target: builtins.str,
        options: _ChannelOptions = (),
        channel_credentials: grpc.ChannelCredentials | None = None,
        call_credentials: grpc.CallCredentials | None = None,
        insecure: builtins.bool = False,
        compression: grpc.Compression | None = None,
        wait_for_ready: builtins.bool | None = None,
        timeout: builtins.float | None = None,
        metadata: _Metadata | None = None,
    ) -> ostrel.api.data_pb2.DataRecords:
        """Answers the recorded data sets that the request selects."""
