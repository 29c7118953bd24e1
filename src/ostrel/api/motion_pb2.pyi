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
    """Joint-space view: one entry per joint in each vector. The four vectors are
 independent; any may be absent or of another length."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    POSITIONS_FIELD_NUMBER: builtins.int
    VELOCITIES_FIELD_NUMBER: builtins.int
    ACCELERATIONS_FIELD_NUMBER: builtins.int
    FORCES_FIELD_NUMBER: builtins.int
    @property
    def positions(self) -> ostrel.api.math_pb2.VectorX:
        """Joint positions: radians for rotary joints, metres for linear ones."""
    @property
    def velocities(self) -> ostrel.api.math_pb2.VectorX:
        """Joint velocities, in position units per second."""
    @property
    def accelerations(self) -> ostrel.api.math_pb2.VectorX:
        """Joint accelerations, in position units per second squared."""
    @property
    def forces(self) -> ostrel.api.math_pb2.VectorX:
        """Joint forces: torques for rotary joints, forces for linear ones."""
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
    def pose(self) -> ostrel.api.math_pb2.Pose3:
        """Pose of the tool frame."""
    @property
    def velocity(self) -> ostrel.api.math_pb2.Spatial3:
        """Linear and angular velocity of the tool."""
    @property
    def acceleration(self) -> ostrel.api.math_pb2.Spatial3:
        """Linear and angular acceleration of the tool."""
    @property
    def force(self) -> ostrel.api.math_pb2.Spatial3:
        """Force and torque at the tool."""
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
    """Joint positions of the effector. Not the workspace's effector state
 (ostrel.api.effector.EffectorState), which also carries a base pose."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    POSITIONS_FIELD_NUMBER: builtins.int
    @property
    def positions(self) -> ostrel.api.math_pb2.VectorX:
        """One position per effector joint, for example the finger opening."""
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
    def joint(self) -> _JointState:
        """The joint-space view; absent when not reported."""
    @property
    def tool(self) -> _ToolState:
        """The tool-space view; absent when not reported."""
    @property
    def effector(self) -> _EffectorState:
        """The effector's joints; absent when not reported."""
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
