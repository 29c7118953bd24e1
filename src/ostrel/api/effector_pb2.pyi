# Generated from the schema files by tools/regenerate.sh. Do not edit.
# Typing stub of ostrel.api.effector_pb2, written by protoc-gen-ostrel from
# ostrel/api/effector.proto.

import builtins
import google.protobuf.descriptor
import google.protobuf.message
import ostrel.api.math_pb2
import typing
import typing_extensions

DESCRIPTOR: google.protobuf.descriptor.FileDescriptor

@typing.final
class RobotiqGripper2F85(google.protobuf.message.Message):
    """Robotiq 2F-85 two-finger gripper; the model takes no parameters."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]
    def __init__(self) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.NoReturn) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_RobotiqGripper2F85: typing_extensions.TypeAlias = RobotiqGripper2F85

@typing.final
class FrankaHand(google.protobuf.message.Message):
    """Franka Hand gripper; the model takes no parameters."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]
    def __init__(self) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.NoReturn) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_FrankaHand: typing_extensions.TypeAlias = FrankaHand

@typing.final
class EffectorConfig(google.protobuf.message.Message):
    """Configuration of one effector: the chosen model."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    ROBOTIQ_GRIPPER_2F85_FIELD_NUMBER: builtins.int
    FRANKA_HAND_FIELD_NUMBER: builtins.int
    @property
    def robotiq_gripper_2f85(self) -> _RobotiqGripper2F85:
        """A Robotiq 2F-85 gripper."""
    @property
    def franka_hand(self) -> _FrankaHand:
        """A Franka Hand."""
    def __init__(
        self,
        *,
        robotiq_gripper_2f85: _RobotiqGripper2F85 | None = ...,
        franka_hand: _FrankaHand | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["robotiq_gripper_2f85", "franka_hand", "type"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["robotiq_gripper_2f85", "franka_hand", "type"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.Literal["type"]) -> typing.Literal["robotiq_gripper_2f85", "franka_hand"] | None: ...

_EffectorConfig: typing_extensions.TypeAlias = EffectorConfig

@typing.final
class EffectorState(google.protobuf.message.Message):
    """Current pose and joint positions of one effector. Not the motion state's
 effector view (ostrel.api.motion.EffectorState)."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    BASE_POSE_FIELD_NUMBER: builtins.int
    JOINT_POSITIONS_FIELD_NUMBER: builtins.int
    @property
    def base_pose(self) -> ostrel.api.math_pb2.Pose3:
        """Pose of the effector's base in the work cell."""
    @property
    def joint_positions(self) -> ostrel.api.math_pb2.VectorX:
        """Position of each effector joint, for example the finger opening in metres."""
    def __init__(
        self,
        *,
        base_pose: ostrel.api.math_pb2.Pose3 | None = ...,
        joint_positions: ostrel.api.math_pb2.VectorX | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["base_pose", "joint_positions"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["base_pose", "joint_positions"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_EffectorState: typing_extensions.TypeAlias = EffectorState
