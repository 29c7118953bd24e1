# Generated from the schema files by tools/regenerate.sh. Do not edit.
# Typing stub of ostrel.api.trajectory_pb2, written by protoc-gen-ostrel from
# ostrel/api/trajectory.proto.

import builtins
import collections.abc
import google.protobuf.descriptor
import google.protobuf.internal.containers
import google.protobuf.internal.enum_type_wrapper
import google.protobuf.message
import ostrel.api.motion_pb2
import typing
import typing_extensions

DESCRIPTOR: google.protobuf.descriptor.FileDescriptor

class _InterpolationType:
    ValueType = typing.NewType("ValueType", builtins.int)
    V: typing_extensions.TypeAlias = ValueType

class _InterpolationTypeEnumTypeWrapper(google.protobuf.internal.enum_type_wrapper._EnumTypeWrapper[_InterpolationType.ValueType], builtins.type):  # pyright: ignore[reportPrivateUsage]
    DESCRIPTOR: google.protobuf.descriptor.EnumDescriptor
    JOINT: _InterpolationType.ValueType  # 0
    TOOL: _InterpolationType.ValueType  # 1

class InterpolationType(_InterpolationType, metaclass=_InterpolationTypeEnumTypeWrapper):
    """Space in which motion between states is interpolated."""

JOINT: InterpolationType.ValueType  # 0
TOOL: InterpolationType.ValueType  # 1

@typing.final
class Trajectory(google.protobuf.message.Message):
    """Parallel lists: time_s[i] is the time of reference[i]."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    TIME_S_FIELD_NUMBER: builtins.int
    REFERENCE_FIELD_NUMBER: builtins.int
    @property
    def time_s(self) -> google.protobuf.internal.containers.RepeatedScalarFieldContainer[builtins.float]:
        """Time of each reference state in seconds, counted from the start of the
 trajectory."""
    @property
    def reference(self) -> google.protobuf.internal.containers.RepeatedCompositeFieldContainer[ostrel.api.motion_pb2.State]:
        """The states to pass through, in order; entry i is reached at time_s[i]."""
    def __init__(
        self,
        *,
        time_s: collections.abc.Iterable[builtins.float] | None = ...,
        reference: collections.abc.Iterable[ostrel.api.motion_pb2.State] | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["time_s", "reference"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_Trajectory: typing_extensions.TypeAlias = Trajectory
