# Generated from the schema files by tools/regenerate.sh. Do not edit.
# Typing stub of ostrel.api.service_pb2, written by protoc-gen-ostrel from
# ostrel/api/service.proto.

import builtins
import collections.abc
import google.protobuf.descriptor
import google.protobuf.internal.containers
import google.protobuf.message
import typing
import typing_extensions

DESCRIPTOR: google.protobuf.descriptor.FileDescriptor

@typing.final
class ConnectRequest(google.protobuf.message.Message):
    """Opens a session with the server; `client` names the caller for its logs."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    CLIENT_FIELD_NUMBER: builtins.int
    client: builtins.str
    """Name of the calling program, as the server logs it; may be empty."""
    def __init__(
        self,
        *,
        client: builtins.str = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["client"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_ConnectRequest: typing_extensions.TypeAlias = ConnectRequest

@typing.final
class GenericRequest(google.protobuf.message.Message):
    """A request that carries nothing: pulls of the project and the system state."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]
    def __init__(self) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.NoReturn) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_GenericRequest: typing_extensions.TypeAlias = GenericRequest

@typing.final
class ProgramRequest(google.protobuf.message.Message):
    """Runs a program: `behavior` is the key of a behavior of the pushed project."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    BEHAVIOR_FIELD_NUMBER: builtins.int
    behavior: builtins.str
    """The program to run: a key of the pushed project's behaviors."""
    def __init__(
        self,
        *,
        behavior: builtins.str = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["behavior"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_ProgramRequest: typing_extensions.TypeAlias = ProgramRequest

@typing.final
class RecordsRequest(google.protobuf.message.Message):
    """Pulls recorded data. Empty fields narrow nothing: with no `descriptions`
 every record set is returned, with `since_ns` 0 every start time."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    DESCRIPTIONS_FIELD_NUMBER: builtins.int
    SINCE_NS_FIELD_NUMBER: builtins.int
    @property
    def descriptions(self) -> google.protobuf.internal.containers.RepeatedScalarFieldContainer[builtins.str]:
        """Keep only record sets with one of these descriptions; empty keeps all."""
    since_ns: builtins.int
    """Keep only record sets that started at or after this time, in
 nanoseconds; 0 keeps all."""
    def __init__(
        self,
        *,
        descriptions: collections.abc.Iterable[builtins.str] | None = ...,
        since_ns: builtins.int = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["descriptions", "since_ns"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_RecordsRequest: typing_extensions.TypeAlias = RecordsRequest
