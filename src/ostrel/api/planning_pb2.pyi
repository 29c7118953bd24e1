# Generated from the schema files by tools/regenerate.sh. Do not edit.
# Typing stub of ostrel.api.planning_pb2, written by protoc-gen-ostrel from
# ostrel/api/planning.proto.

import builtins
import collections.abc
import google.protobuf.descriptor
import google.protobuf.internal.containers
import google.protobuf.message
import ostrel.api.execution_pb2
import ostrel.api.math_pb2
import ostrel.api.project_pb2
import ostrel.api.trajectory_pb2
import typing
import typing_extensions

DESCRIPTOR: google.protobuf.descriptor.FileDescriptor

@typing.final
class PlannerAction(google.protobuf.message.Message):
    """A project update or one planning step for the planner."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    NAME_FIELD_NUMBER: builtins.int
    SIMULATE_FIELD_NUMBER: builtins.int
    UPDATE_PROJECT_FIELD_NUMBER: builtins.int
    GOTO_TARGET_POSITIONS_FIELD_NUMBER: builtins.int
    SCREW_ALONG_LAST_AXIS_FIELD_NUMBER: builtins.int
    GENERATE_TARGET_POSES_FIELD_NUMBER: builtins.int
    name: builtins.str
    """Name of the action, as a behavior's name names the step it came from."""
    simulate: builtins.bool
    """True carries the action out in simulation rather than on the devices."""
    @property
    def update_project(self) -> ostrel.api.project_pb2.ProjectSnapshot:
        """A new project for the planner to work with."""
    @property
    def goto_target_positions(self) -> ostrel.api.execution_pb2.GotoTargetPositions:
        """Move a robot to a target."""
    @property
    def screw_along_last_axis(self) -> ostrel.api.execution_pb2.ScrewAlongLastAxis:
        """Screw along the tool's last axis."""
    @property
    def generate_target_poses(self) -> ostrel.api.execution_pb2.GenerateTargetPoses:
        """Propose target poses."""
    def __init__(
        self,
        *,
        name: builtins.str = ...,
        simulate: builtins.bool = ...,
        update_project: ostrel.api.project_pb2.ProjectSnapshot | None = ...,
        goto_target_positions: ostrel.api.execution_pb2.GotoTargetPositions | None = ...,
        screw_along_last_axis: ostrel.api.execution_pb2.ScrewAlongLastAxis | None = ...,
        generate_target_poses: ostrel.api.execution_pb2.GenerateTargetPoses | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["update_project", "goto_target_positions", "screw_along_last_axis", "generate_target_poses", "type"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["name", "simulate", "update_project", "goto_target_positions", "screw_along_last_axis", "generate_target_poses", "type"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.Literal["type"]) -> typing.Literal["update_project", "goto_target_positions", "screw_along_last_axis", "generate_target_poses"] | None: ...

_PlannerAction: typing_extensions.TypeAlias = PlannerAction

@typing.final
class PlannerMetrics(google.protobuf.message.Message):
    """Timing of one planning step."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    STEP_DURATION_NS_FIELD_NUMBER: builtins.int
    step_duration_ns: builtins.int
    """How long the step took, in nanoseconds."""
    def __init__(
        self,
        *,
        step_duration_ns: builtins.int = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["step_duration_ns"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_PlannerMetrics: typing_extensions.TypeAlias = PlannerMetrics

@typing.final
class Target(google.protobuf.message.Message):
    """One motion target with reachability and quality measures."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    POSITION_FIELD_NUMBER: builtins.int
    POSE_FIELD_NUMBER: builtins.int
    REACHABLE_FIELD_NUMBER: builtins.int
    L2_JOINT_TRAVEL_FIELD_NUMBER: builtins.int
    JACOBIAN_RCOND_FIELD_NUMBER: builtins.int
    @property
    def position(self) -> ostrel.api.math_pb2.VectorX:
        """Joint positions of the robot at the target, one per degree of freedom."""
    @property
    def pose(self) -> ostrel.api.math_pb2.Pose3:
        """Pose of the tool frame at the target; absent when not known."""
    reachable: builtins.bool
    """True when the robot can reach the target."""
    l2_joint_travel: builtins.float
    """Joint travel to the target as a Euclidean (L2) norm over the joints."""
    jacobian_rcond: builtins.float
    """Reciprocal condition number of the robot's Jacobian at the target: near
 0 is close to a singularity, 1 is best."""
    def __init__(
        self,
        *,
        position: ostrel.api.math_pb2.VectorX | None = ...,
        pose: ostrel.api.math_pb2.Pose3 | None = ...,
        reachable: builtins.bool = ...,
        l2_joint_travel: builtins.float = ...,
        jacobian_rcond: builtins.float = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["position", "pose"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["position", "pose", "reachable", "l2_joint_travel", "jacobian_rcond"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_Target: typing_extensions.TypeAlias = Target

@typing.final
class PlannerProducts(google.protobuf.message.Message):
    """What the planner found for a robot and tool frame."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    METRICS_FIELD_NUMBER: builtins.int
    ROBOT_FIELD_NUMBER: builtins.int
    TOOL_FIELD_NUMBER: builtins.int
    TARGET_PROPOSALS_FIELD_NUMBER: builtins.int
    TRAJECTORY_FIELD_NUMBER: builtins.int
    TRAJECTORY_PROPOSALS_FIELD_NUMBER: builtins.int
    INTERPOLATION_FIELD_NUMBER: builtins.int
    @property
    def metrics(self) -> _PlannerMetrics:
        """Timing of the step that produced these results."""
    robot: builtins.str
    """The robot planned for: a key of the workspace's robots."""
    tool: builtins.str
    """The tool frame planned for: a key of the robot's tool_frames."""
    @property
    def target_proposals(self) -> google.protobuf.internal.containers.RepeatedCompositeFieldContainer[_Target]:
        """The target proposals, in order."""
    @property
    def trajectory(self) -> ostrel.api.trajectory_pb2.Trajectory:
        """The planned trajectory; absent when nothing was planned."""
    @property
    def trajectory_proposals(self) -> google.protobuf.internal.containers.RepeatedCompositeFieldContainer[ostrel.api.trajectory_pb2.Trajectory]:
        """Candidate trajectories, in order."""
    interpolation: ostrel.api.trajectory_pb2.InterpolationType.ValueType
    """Space the trajectories are interpolated in; unset is JOINT."""
    def __init__(
        self,
        *,
        metrics: _PlannerMetrics | None = ...,
        robot: builtins.str = ...,
        tool: builtins.str = ...,
        target_proposals: collections.abc.Iterable[_Target] | None = ...,
        trajectory: ostrel.api.trajectory_pb2.Trajectory | None = ...,
        trajectory_proposals: collections.abc.Iterable[ostrel.api.trajectory_pb2.Trajectory] | None = ...,
        interpolation: ostrel.api.trajectory_pb2.InterpolationType.ValueType = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["metrics", "trajectory"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["metrics", "robot", "tool", "target_proposals", "trajectory", "trajectory_proposals", "interpolation"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_PlannerProducts: typing_extensions.TypeAlias = PlannerProducts
