# Generated from the schema files by tools/regenerate.sh. Do not edit.
# Typing stub of ostrel.api.robot_pb2, written by protoc-gen-ostrel from
# ostrel/api/robot.proto.

import builtins
import collections.abc
import google.protobuf.descriptor
import google.protobuf.internal.containers
import google.protobuf.message
import ostrel.api.dynamics_pb2
import ostrel.api.math_pb2
import ostrel.api.tool_pb2
import typing
import typing_extensions

DESCRIPTOR: google.protobuf.descriptor.FileDescriptor

@typing.final
class FrankaPandaRobot(google.protobuf.message.Message):
    """Franka Panda arm, reached at its network address."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    IP_ADDRESS_FIELD_NUMBER: builtins.int
    ip_address: builtins.str
    """Network address of the arm's controller (IP address or host name)."""
    def __init__(
        self,
        *,
        ip_address: builtins.str = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["ip_address"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_FrankaPandaRobot: typing_extensions.TypeAlias = FrankaPandaRobot

@typing.final
class UR3eRobot(google.protobuf.message.Message):
    """Universal Robots UR3e arm, reached at its network address."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    IP_ADDRESS_FIELD_NUMBER: builtins.int
    ip_address: builtins.str
    """Network address of the arm's controller (IP address or host name)."""
    def __init__(
        self,
        *,
        ip_address: builtins.str = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["ip_address"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_UR3eRobot: typing_extensions.TypeAlias = UR3eRobot

@typing.final
class UR5eRobot(google.protobuf.message.Message):
    """Universal Robots UR5e arm, reached at its network address."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    IP_ADDRESS_FIELD_NUMBER: builtins.int
    ip_address: builtins.str
    """Network address of the arm's controller (IP address or host name)."""
    def __init__(
        self,
        *,
        ip_address: builtins.str = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["ip_address"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_UR5eRobot: typing_extensions.TypeAlias = UR5eRobot

@typing.final
class UR10eRobot(google.protobuf.message.Message):
    """Universal Robots UR10e arm, reached at its network address."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    IP_ADDRESS_FIELD_NUMBER: builtins.int
    ip_address: builtins.str
    """Network address of the arm's controller (IP address or host name)."""
    def __init__(
        self,
        *,
        ip_address: builtins.str = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["ip_address"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_UR10eRobot: typing_extensions.TypeAlias = UR10eRobot

@typing.final
class CustomRobot(google.protobuf.message.Message):
    """An arm described by its own kinematic chain."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    CHAIN_FIELD_NUMBER: builtins.int
    DOF_NAMES_FIELD_NUMBER: builtins.int
    INTERFACE_LINK_FIELD_NUMBER: builtins.int
    @property
    def chain(self) -> ostrel.api.dynamics_pb2.Chain:
        """Bodies and joints of the arm."""
    @property
    def dof_names(self) -> google.protobuf.internal.containers.RepeatedScalarFieldContainer[builtins.str]:
        """Names of the arm's degrees of freedom, in the order of its joint vectors."""
    interface_link: builtins.str
    """The body the effector and tool frames are mounted on: a Body.name of the
 chain."""
    def __init__(
        self,
        *,
        chain: ostrel.api.dynamics_pb2.Chain | None = ...,
        dof_names: collections.abc.Iterable[builtins.str] | None = ...,
        interface_link: builtins.str = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["chain"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["chain", "dof_names", "interface_link"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_CustomRobot: typing_extensions.TypeAlias = CustomRobot

@typing.final
class RobotConfig(google.protobuf.message.Message):
    """Configuration of one robot: its effector, tool frames and model."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    @typing.final
    class ToolFramesEntry(google.protobuf.message.Message):
        DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

        KEY_FIELD_NUMBER: builtins.int
        VALUE_FIELD_NUMBER: builtins.int
        key: builtins.str
        @property
        def value(self) -> ostrel.api.tool_pb2.ToolFrame: ...
        def __init__(
            self,
            *,
            key: builtins.str = ...,
            value: ostrel.api.tool_pb2.ToolFrame | None = ...,
        ) -> None: ...
        def HasField(self, field_name: typing.Literal["value"]) -> builtins.bool: ...
        def ClearField(self, field_name: typing.Literal["key", "value"]) -> None: ...
        def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

    EFFECTOR_FIELD_NUMBER: builtins.int
    TOOL_FRAMES_FIELD_NUMBER: builtins.int
    CUSTOM_ROBOT_FIELD_NUMBER: builtins.int
    FRANKA_PANDA_ROBOT_FIELD_NUMBER: builtins.int
    UR_3E_ROBOT_FIELD_NUMBER: builtins.int
    UR_5E_ROBOT_FIELD_NUMBER: builtins.int
    UR_10E_ROBOT_FIELD_NUMBER: builtins.int
    effector: builtins.str
    """The robot's effector: a key of the workspace's effectors; empty for none."""
    @property
    def tool_frames(self) -> google.protobuf.internal.containers.MessageMap[builtins.str, ostrel.api.tool_pb2.ToolFrame]:
        """Tool frames by name; steps name them in their tool field."""
    @property
    def custom_robot(self) -> _CustomRobot:
        """An arm described by its own chain."""
    @property
    def franka_panda_robot(self) -> _FrankaPandaRobot:
        """A Franka Panda arm."""
    @property
    def ur_3e_robot(self) -> _UR3eRobot:
        """A UR3e arm."""
    @property
    def ur_5e_robot(self) -> _UR5eRobot:
        """A UR5e arm."""
    @property
    def ur_10e_robot(self) -> _UR10eRobot:
        """A UR10e arm."""
    def __init__(
        self,
        *,
        effector: builtins.str = ...,
        tool_frames: collections.abc.Mapping[builtins.str, ostrel.api.tool_pb2.ToolFrame] | None = ...,
        custom_robot: _CustomRobot | None = ...,
        franka_panda_robot: _FrankaPandaRobot | None = ...,
        ur_3e_robot: _UR3eRobot | None = ...,
        ur_5e_robot: _UR5eRobot | None = ...,
        ur_10e_robot: _UR10eRobot | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["custom_robot", "franka_panda_robot", "ur_3e_robot", "ur_5e_robot", "ur_10e_robot", "type"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["effector", "tool_frames", "custom_robot", "franka_panda_robot", "ur_3e_robot", "ur_5e_robot", "ur_10e_robot", "type"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.Literal["type"]) -> typing.Literal["custom_robot", "franka_panda_robot", "ur_3e_robot", "ur_5e_robot", "ur_10e_robot"] | None: ...

_RobotConfig: typing_extensions.TypeAlias = RobotConfig

@typing.final
class RobotState(google.protobuf.message.Message):
    """Current base pose and joint positions of one robot."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    BASE_POSE_FIELD_NUMBER: builtins.int
    JOINT_POSITIONS_FIELD_NUMBER: builtins.int
    @property
    def base_pose(self) -> ostrel.api.math_pb2.Pose3:
        """Pose of the robot's base in the work cell."""
    @property
    def joint_positions(self) -> ostrel.api.math_pb2.VectorX:
        """Position of each degree of freedom, in order: radians or metres."""
    def __init__(
        self,
        *,
        base_pose: ostrel.api.math_pb2.Pose3 | None = ...,
        joint_positions: ostrel.api.math_pb2.VectorX | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["base_pose", "joint_positions"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["base_pose", "joint_positions"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_RobotState: typing_extensions.TypeAlias = RobotState
