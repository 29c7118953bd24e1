# Generated from the schema files by tools/regenerate.sh. Do not edit.
# Typing stub of ostrel.api.task_pb2, written by protoc-gen-ostrel from
# ostrel/api/task.proto.

import builtins
import google.protobuf.descriptor
import google.protobuf.internal.enum_type_wrapper
import google.protobuf.message
import ostrel.api.math_pb2
import typing
import typing_extensions

DESCRIPTOR: google.protobuf.descriptor.FileDescriptor

class _TaskRegionCorner:
    ValueType = typing.NewType("ValueType", builtins.int)
    V: typing_extensions.TypeAlias = ValueType

class _TaskRegionCornerEnumTypeWrapper(google.protobuf.internal.enum_type_wrapper._EnumTypeWrapper[_TaskRegionCorner.ValueType], builtins.type):  # pyright: ignore[reportPrivateUsage]
    DESCRIPTOR: google.protobuf.descriptor.EnumDescriptor
    POSX_POSY_POSZ: _TaskRegionCorner.ValueType  # 0
    NEGX_POSY_POSZ: _TaskRegionCorner.ValueType  # 1
    POSX_NEGY_POSZ: _TaskRegionCorner.ValueType  # 2
    NEGX_NEGY_POSZ: _TaskRegionCorner.ValueType  # 3
    POSX_POSY_NEGZ: _TaskRegionCorner.ValueType  # 4
    NEGX_POSY_NEGZ: _TaskRegionCorner.ValueType  # 5
    POSX_NEGY_NEGZ: _TaskRegionCorner.ValueType  # 6
    NEGX_NEGY_NEGZ: _TaskRegionCorner.ValueType  # 7

class TaskRegionCorner(_TaskRegionCorner, metaclass=_TaskRegionCornerEnumTypeWrapper):
    """Corner of a region; bit 0 = negative x, bit 1 = negative y, bit 2 = negative z."""

POSX_POSY_POSZ: TaskRegionCorner.ValueType  # 0
NEGX_POSY_POSZ: TaskRegionCorner.ValueType  # 1
POSX_NEGY_POSZ: TaskRegionCorner.ValueType  # 2
NEGX_NEGY_POSZ: TaskRegionCorner.ValueType  # 3
POSX_POSY_NEGZ: TaskRegionCorner.ValueType  # 4
NEGX_POSY_NEGZ: TaskRegionCorner.ValueType  # 5
POSX_NEGY_NEGZ: TaskRegionCorner.ValueType  # 6
NEGX_NEGY_NEGZ: TaskRegionCorner.ValueType  # 7

@typing.final
class TaskRegionConfig(google.protobuf.message.Message):
    """Placement and bounds of a region. A region has no name field: its name is
 its key in the workspace's task_regions maps."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    POSE_FIELD_NUMBER: builtins.int
    MIN_FIELD_NUMBER: builtins.int
    MAX_FIELD_NUMBER: builtins.int
    @property
    def pose(self) -> ostrel.api.math_pb2.Pose3:
        """Where the region stands in the work cell."""
    @property
    def min(self) -> ostrel.api.math_pb2.Spatial3:
        """Lower bounds about the pose: linear part in metres, angular in radians."""
    @property
    def max(self) -> ostrel.api.math_pb2.Spatial3:
        """Upper bounds about the pose: linear part in metres, angular in radians."""
    def __init__(
        self,
        *,
        pose: ostrel.api.math_pb2.Pose3 | None = ...,
        min: ostrel.api.math_pb2.Spatial3 | None = ...,
        max: ostrel.api.math_pb2.Spatial3 | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["pose", "min", "max"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["pose", "min", "max"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_TaskRegionConfig: typing_extensions.TypeAlias = TaskRegionConfig

@typing.final
class TaskRegionState(google.protobuf.message.Message):
    """A region's part of the workspace state."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    BASE_POSE_FIELD_NUMBER: builtins.int
    @property
    def base_pose(self) -> ostrel.api.math_pb2.Pose3:
        """Current pose of the region in the work cell."""
    def __init__(
        self,
        *,
        base_pose: ostrel.api.math_pb2.Pose3 | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["base_pose"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["base_pose"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_TaskRegionState: typing_extensions.TypeAlias = TaskRegionState
