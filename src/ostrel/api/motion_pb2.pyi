# Generated from the schema files by tools/regenerate.sh. Do not edit.
# Typing stub of ostrel.api.motion_pb2, written by protoc-gen-ostrel from
# ostrel/api/motion.proto.

import builtins
import google.protobuf.descriptor
import google.protobuf.message
import ostrel.api.math_pb2
import typing
import typing_extensions

DESCRIPTOR: google.protobuf.descriptor.FileDescriptor

@typing.final
class JointState(google.protobuf.message.Message):
    """Joint-space view: one entry per joint in each vector."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    POSITIONS_FIELD_NUMBER: builtins.int
    VELOCITIES_FIELD_NUMBER: builtins.int
    ACCELERATIONS_FIELD_NUMBER: builtins.int
    FORCES_FIELD_NUMBER: builtins.int
    @property
    def positions(self) -> ostrel.api.math_pb2.VectorX: ...
    @property
    def velocities(self) -> ostrel.api.math_pb2.VectorX: ...
    @property
    def accelerations(self) -> ostrel.api.math_pb2.VectorX: ...
    @property
    def forces(self) -> ostrel.api.math_pb2.VectorX: ...
    def __init__(
        self,
        *,
        positions: ostrel.api.math_pb2.VectorX | None = ...,
        velocities: ostrel.api.math_pb2.VectorX | None = ...,
        accelerations: ostrel.api.math_pb2.VectorX | None = ...,
        forces: ostrel.api.math_pb2.VectorX | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["positions", "velocities", "accelerations", "forces"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["positions", "velocities", "accelerations", "forces"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_JointState: typing_extensions.TypeAlias = JointState

@typing.final
class ToolState(google.protobuf.message.Message):
    """Tool-space view: pose and its derivatives plus the wrench at the tool."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    POSE_FIELD_NUMBER: builtins.int
    VELOCITY_FIELD_NUMBER: builtins.int
    ACCELERATION_FIELD_NUMBER: builtins.int
    FORCE_FIELD_NUMBER: builtins.int
    @property
    def pose(self) -> ostrel.api.math_pb2.Pose3: ...
    @property
    def velocity(self) -> ostrel.api.math_pb2.Spatial3: ...
    @property
    def acceleration(self) -> ostrel.api.math_pb2.Spatial3: ...
    @property
    def force(self) -> ostrel.api.math_pb2.Spatial3: ...
    def __init__(
        self,
        *,
        pose: ostrel.api.math_pb2.Pose3 | None = ...,
        velocity: ostrel.api.math_pb2.Spatial3 | None = ...,
        acceleration: ostrel.api.math_pb2.Spatial3 | None = ...,
        force: ostrel.api.math_pb2.Spatial3 | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["pose", "velocity", "acceleration", "force"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["pose", "velocity", "acceleration", "force"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_ToolState: typing_extensions.TypeAlias = ToolState

@typing.final
class EffectorState(google.protobuf.message.Message):
    """Joint positions of the effector."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    POSITIONS_FIELD_NUMBER: builtins.int
    @property
    def positions(self) -> ostrel.api.math_pb2.VectorX: ...
    def __init__(
        self,
        *,
        positions: ostrel.api.math_pb2.VectorX | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["positions"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["positions"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_EffectorState: typing_extensions.TypeAlias = EffectorState

@typing.final
class State(google.protobuf.message.Message):
    """The three views together; any subset may be present."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    JOINT_FIELD_NUMBER: builtins.int
    TOOL_FIELD_NUMBER: builtins.int
    EFFECTOR_FIELD_NUMBER: builtins.int
    @property
    def joint(self) -> _JointState: ...
    @property
    def tool(self) -> _ToolState: ...
    @property
    def effector(self) -> _EffectorState: ...
    def __init__(
        self,
        *,
        joint: _JointState | None = ...,
        tool: _ToolState | None = ...,
        effector: _EffectorState | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["joint", "tool", "effector"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["joint", "tool", "effector"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_State: typing_extensions.TypeAlias = State
