# Generated from the schema files by tools/regenerate.sh. Do not edit.
# Typing stub of ostrel.api.common_pb2, written by protoc-gen-ostrel from
# ostrel/api/common.proto.

import builtins
import google.protobuf.any_pb2
import google.protobuf.descriptor
import google.protobuf.internal.enum_type_wrapper
import google.protobuf.message
import typing
import typing_extensions

DESCRIPTOR: google.protobuf.descriptor.FileDescriptor

class _Code:
    ValueType = typing.NewType("ValueType", builtins.int)
    V: typing_extensions.TypeAlias = ValueType

class _CodeEnumTypeWrapper(google.protobuf.internal.enum_type_wrapper._EnumTypeWrapper[_Code.ValueType], builtins.type):  # pyright: ignore[reportPrivateUsage]
    DESCRIPTOR: google.protobuf.descriptor.EnumDescriptor
    RUNNING: _Code.ValueType  # 0
    SUCCESS: _Code.ValueType  # 1
    FAILURE: _Code.ValueType  # 2

class Code(_Code, metaclass=_CodeEnumTypeWrapper):
    """Outcome of an operation. Open: numbers outside 0 to 2 are kept as numbers."""

RUNNING: Code.ValueType  # 0
SUCCESS: Code.ValueType  # 1
FAILURE: Code.ValueType  # 2

@typing.final
class Metadata(google.protobuf.message.Message):
    """When something happened."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    TIMESTAMP_NS_FIELD_NUMBER: builtins.int
    timestamp_ns: builtins.int
    """Point in time in nanoseconds; producer and consumers agree on the clock.
 0 (unset) means no time was given."""
    def __init__(
        self,
        *,
        timestamp_ns: builtins.int = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["timestamp_ns"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_Metadata: typing_extensions.TypeAlias = Metadata

@typing.final
class Status(google.protobuf.message.Message):
    """The outcome of an operation that may still be under way: a code and a text."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    CODE_FIELD_NUMBER: builtins.int
    MESSAGE_FIELD_NUMBER: builtins.int
    code: _Code.ValueType
    """Outcome; unset reads RUNNING, so a status without a code is not a success."""
    message: builtins.str
    """Human-readable text that goes with the code; empty when there is none."""
    def __init__(
        self,
        *,
        code: _Code.ValueType = ...,
        message: builtins.str = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["code", "message"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_Status: typing_extensions.TypeAlias = Status

@typing.final
class Packet(google.protobuf.message.Message):
    """Any message of the API together with its time stamp."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    METADATA_FIELD_NUMBER: builtins.int
    PAYLOAD_FIELD_NUMBER: builtins.int
    @property
    def metadata(self) -> _Metadata:
        """When the payload was produced; absent when unknown."""
    @property
    def payload(self) -> google.protobuf.any_pb2.Any:
        """The packed message; its type URL ends in the message's full name."""
    def __init__(
        self,
        *,
        metadata: _Metadata | None = ...,
        payload: google.protobuf.any_pb2.Any | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["metadata", "payload"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["metadata", "payload"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_Packet: typing_extensions.TypeAlias = Packet
