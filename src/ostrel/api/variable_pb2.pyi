# Generated from the schema files by tools/regenerate.sh. Do not edit.
# Typing stub of ostrel.api.variable_pb2, written by protoc-gen-ostrel from
# ostrel/api/variable.proto.

import builtins
import collections.abc
import google.protobuf.descriptor
import google.protobuf.internal.containers
import google.protobuf.message
import ostrel.api.math_pb2
import ostrel.api.probability_pb2
import typing
import typing_extensions

DESCRIPTOR: google.protobuf.descriptor.FileDescriptor

@typing.final
class MotionLimits(google.protobuf.message.Message):
    """Joint and tool velocity/acceleration limits. Each part may be left out."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    JOINT_VELOCITY_FIELD_NUMBER: builtins.int
    JOINT_ACCELERATION_FIELD_NUMBER: builtins.int
    TOOL_VELOCITY_FIELD_NUMBER: builtins.int
    TOOL_ACCELERATION_FIELD_NUMBER: builtins.int
    @property
    def joint_velocity(self) -> ostrel.api.math_pb2.VectorX:
        """Largest speed of each joint: radians or metres per second, one per joint."""
    @property
    def joint_acceleration(self) -> ostrel.api.math_pb2.VectorX:
        """Largest acceleration of each joint, per second squared, one per joint."""
    @property
    def tool_velocity(self) -> ostrel.api.math_pb2.Spatial3:
        """Largest linear and angular speed of the tool."""
    @property
    def tool_acceleration(self) -> ostrel.api.math_pb2.Spatial3:
        """Largest linear and angular acceleration of the tool."""
    def __init__(
        self,
        *,
        joint_velocity: ostrel.api.math_pb2.VectorX | None = ...,
        joint_acceleration: ostrel.api.math_pb2.VectorX | None = ...,
        tool_velocity: ostrel.api.math_pb2.Spatial3 | None = ...,
        tool_acceleration: ostrel.api.math_pb2.Spatial3 | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["joint_velocity", "joint_acceleration", "tool_velocity", "tool_acceleration"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["joint_velocity", "joint_acceleration", "tool_velocity", "tool_acceleration"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_MotionLimits: typing_extensions.TypeAlias = MotionLimits

@typing.final
class PoseGenerator(google.protobuf.message.Message):
    """Generates poses in a task region (workspace key)."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    TASK_REGION_FIELD_NUMBER: builtins.int
    SAMPLE_FIELD_NUMBER: builtins.int
    OFFSET_POSE_FIELD_NUMBER: builtins.int
    task_region: builtins.str
    """The region the poses lie in: a key of the workspace's task_regions."""
    sample: builtins.bool
    """True samples poses within the region; false (the default) does not."""
    @property
    def offset_pose(self) -> ostrel.api.math_pb2.Pose3:
        """Offset applied to each generated pose; absent is no offset."""
    def __init__(
        self,
        *,
        task_region: builtins.str = ...,
        sample: builtins.bool = ...,
        offset_pose: ostrel.api.math_pb2.Pose3 | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["offset_pose"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["task_region", "sample", "offset_pose"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_PoseGenerator: typing_extensions.TypeAlias = PoseGenerator

@typing.final
class JointPositionTarget(google.protobuf.message.Message):
    """Targets drawn directly as joint positions."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    JOINT_POSITIONS_FIELD_NUMBER: builtins.int
    WRAP_ROTATIONS_FIELD_NUMBER: builtins.int
    @property
    def joint_positions(self) -> ostrel.api.probability_pb2.Distribution:
        """Distribution the target joint positions are drawn from, one component per
 joint."""
    wrap_rotations: builtins.bool
    """True wraps the drawn rotations of rotary joints into one turn."""
    def __init__(
        self,
        *,
        joint_positions: ostrel.api.probability_pb2.Distribution | None = ...,
        wrap_rotations: builtins.bool = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["joint_positions"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["joint_positions", "wrap_rotations"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_JointPositionTarget: typing_extensions.TypeAlias = JointPositionTarget

@typing.final
class TaskRegionTarget(google.protobuf.message.Message):
    """Targets generated as poses in a task region."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    POSE_GENERATOR_FIELD_NUMBER: builtins.int
    SEED_JOINT_POSITIONS_FIELD_NUMBER: builtins.int
    WRAP_ROTATIONS_FIELD_NUMBER: builtins.int
    @property
    def pose_generator(self) -> _PoseGenerator:
        """Produces the target poses."""
    @property
    def seed_joint_positions(self) -> ostrel.api.probability_pb2.Distribution:
        """Distribution of the joint positions from which the search for a joint
 configuration reaching each pose starts."""
    wrap_rotations: builtins.bool
    """True wraps the rotations of rotary joints into one turn."""
    def __init__(
        self,
        *,
        pose_generator: _PoseGenerator | None = ...,
        seed_joint_positions: ostrel.api.probability_pb2.Distribution | None = ...,
        wrap_rotations: builtins.bool = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["pose_generator", "seed_joint_positions"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["pose_generator", "seed_joint_positions", "wrap_rotations"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_TaskRegionTarget: typing_extensions.TypeAlias = TaskRegionTarget

@typing.final
class MixtureTarget(google.protobuf.message.Message):
    """Weighted mixture of other generators (keys), weights parallel to names."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    TARGET_GENERATORS_FIELD_NUMBER: builtins.int
    WEIGHTS_FIELD_NUMBER: builtins.int
    @property
    def target_generators(self) -> google.protobuf.internal.containers.RepeatedScalarFieldContainer[builtins.str]:
        """The mixed generators: keys of the project's variables.target_generators."""
    @property
    def weights(self) -> google.protobuf.internal.containers.RepeatedScalarFieldContainer[builtins.float]:
        """Weight of each generator: weights[i] belongs to target_generators[i]."""
    def __init__(
        self,
        *,
        target_generators: collections.abc.Iterable[builtins.str] | None = ...,
        weights: collections.abc.Iterable[builtins.float] | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["target_generators", "weights"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_MixtureTarget: typing_extensions.TypeAlias = MixtureTarget

@typing.final
class TargetGenerator(google.protobuf.message.Message):
    """One source of targets."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    JOINT_POSITION_TARGET_FIELD_NUMBER: builtins.int
    TASK_REGION_TARGET_FIELD_NUMBER: builtins.int
    MIXTURE_TARGET_FIELD_NUMBER: builtins.int
    @property
    def joint_position_target(self) -> _JointPositionTarget:
        """Targets given as joint positions."""
    @property
    def task_region_target(self) -> _TaskRegionTarget:
        """Targets given as poses in a task region."""
    @property
    def mixture_target(self) -> _MixtureTarget:
        """Targets drawn from other generators by weight."""
    def __init__(
        self,
        *,
        joint_position_target: _JointPositionTarget | None = ...,
        task_region_target: _TaskRegionTarget | None = ...,
        mixture_target: _MixtureTarget | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["joint_position_target", "task_region_target", "mixture_target", "type"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["joint_position_target", "task_region_target", "mixture_target", "type"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.Literal["type"]) -> typing.Literal["joint_position_target", "task_region_target", "mixture_target"] | None: ...

_TargetGenerator: typing_extensions.TypeAlias = TargetGenerator

@typing.final
class VariablesConfig(google.protobuf.message.Message):
    """The project's variables, by name."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    @typing.final
    class MotionLimitsEntry(google.protobuf.message.Message):
        DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

        KEY_FIELD_NUMBER: builtins.int
        VALUE_FIELD_NUMBER: builtins.int
        key: builtins.str
        @property
        def value(self) -> _MotionLimits: ...
        def __init__(
            self,
            *,
            key: builtins.str = ...,
            value: _MotionLimits | None = ...,
        ) -> None: ...
        def HasField(self, field_name: typing.Literal["value"]) -> builtins.bool: ...
        def ClearField(self, field_name: typing.Literal["key", "value"]) -> None: ...
        def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

    @typing.final
    class TargetGeneratorsEntry(google.protobuf.message.Message):
        DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

        KEY_FIELD_NUMBER: builtins.int
        VALUE_FIELD_NUMBER: builtins.int
        key: builtins.str
        @property
        def value(self) -> _TargetGenerator: ...
        def __init__(
            self,
            *,
            key: builtins.str = ...,
            value: _TargetGenerator | None = ...,
        ) -> None: ...
        def HasField(self, field_name: typing.Literal["value"]) -> builtins.bool: ...
        def ClearField(self, field_name: typing.Literal["key", "value"]) -> None: ...
        def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

    MOTION_LIMITS_FIELD_NUMBER: builtins.int
    TARGET_GENERATORS_FIELD_NUMBER: builtins.int
    @property
    def motion_limits(self) -> google.protobuf.internal.containers.MessageMap[builtins.str, _MotionLimits]:
        """Motion limits by name; steps name them in their motion_limits field."""
    @property
    def target_generators(self) -> google.protobuf.internal.containers.MessageMap[builtins.str, _TargetGenerator]:
        """Target generators by name; steps and mixtures name them in their
 target_generators fields."""
    def __init__(
        self,
        *,
        motion_limits: collections.abc.Mapping[builtins.str, _MotionLimits] | None = ...,
        target_generators: collections.abc.Mapping[builtins.str, _TargetGenerator] | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["motion_limits", "target_generators"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_VariablesConfig: typing_extensions.TypeAlias = VariablesConfig
