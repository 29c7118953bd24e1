# Generated from the schema files by tools/regenerate.sh. Do not edit.
# Typing stub of ostrel.api.execution_pb2, written by protoc-gen-ostrel from
# ostrel/api/execution.proto.

import builtins
import collections.abc
import google.protobuf.descriptor
import google.protobuf.internal.containers
import google.protobuf.internal.enum_type_wrapper
import google.protobuf.message
import ostrel.api.math_pb2
import ostrel.api.task_pb2
import ostrel.api.trajectory_pb2
import typing
import typing_extensions

DESCRIPTOR: google.protobuf.descriptor.FileDescriptor

class _RankingStrategy:
    ValueType = typing.NewType("ValueType", builtins.int)
    V: typing_extensions.TypeAlias = ValueType

class _RankingStrategyEnumTypeWrapper(google.protobuf.internal.enum_type_wrapper._EnumTypeWrapper[_RankingStrategy.ValueType], builtins.type):  # pyright: ignore[reportPrivateUsage]
    DESCRIPTOR: google.protobuf.descriptor.EnumDescriptor
    RANDOM: _RankingStrategy.ValueType  # 0
    MINIMUM_TIME: _RankingStrategy.ValueType  # 1
    MINIMUM_TOOL_ORIENTATION_CHANGE: _RankingStrategy.ValueType  # 2
    MINIMUM_TOOL_POSITION_CHANGE: _RankingStrategy.ValueType  # 3

class RankingStrategy(_RankingStrategy, metaclass=_RankingStrategyEnumTypeWrapper):
    """How the proposals of a goto step are ordered."""

RANDOM: RankingStrategy.ValueType  # 0
MINIMUM_TIME: RankingStrategy.ValueType  # 1
MINIMUM_TOOL_ORIENTATION_CHANGE: RankingStrategy.ValueType  # 2
MINIMUM_TOOL_POSITION_CHANGE: RankingStrategy.ValueType  # 3

@typing.final
class Behavior(google.protobuf.message.Message):
    """One node of a behavior tree. Members are grouped in bands of a hundred by
 agent; numbers are wire format and gaps (e.g. 104) stay unassigned."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    NAME_FIELD_NUMBER: builtins.int
    REPEAT_ROUTINE_FIELD_NUMBER: builtins.int
    SEQUENCE_ROUTINE_FIELD_NUMBER: builtins.int
    SLEEP_ROUTINE_FIELD_NUMBER: builtins.int
    INITIALIZE_PERCEPTION_FIELD_NUMBER: builtins.int
    SHUTDOWN_PERCEPTION_FIELD_NUMBER: builtins.int
    CALIBRATE_CAMERA_FROM_MARKERS_FIELD_NUMBER: builtins.int
    RECORD_IMAGES_FIELD_NUMBER: builtins.int
    PERSPECTIVE_CROP_IMAGE_FIELD_NUMBER: builtins.int
    GOTO_TARGET_POSITIONS_FIELD_NUMBER: builtins.int
    SCREW_ALONG_LAST_AXIS_FIELD_NUMBER: builtins.int
    GENERATE_TARGET_POSES_FIELD_NUMBER: builtins.int
    INITIALIZE_CONTROLLER_FIELD_NUMBER: builtins.int
    SHUTDOWN_CONTROLLER_FIELD_NUMBER: builtins.int
    OPEN_GRIPPER_FIELD_NUMBER: builtins.int
    CLOSE_GRIPPER_FIELD_NUMBER: builtins.int
    SET_EFFECTOR_POSITIONS_FIELD_NUMBER: builtins.int
    ALIGN_ITEM_TO_TOOL_FIELD_NUMBER: builtins.int
    ATTACH_ITEM_TO_TOOL_FIELD_NUMBER: builtins.int
    DETACH_ITEM_FROM_TOOL_FIELD_NUMBER: builtins.int
    START_RECORDING_DATA_FIELD_NUMBER: builtins.int
    STOP_RECORDING_DATA_FIELD_NUMBER: builtins.int
    name: builtins.str
    """Name of the node, shown in logs and records; may differ from the key
 under which the tree is stored in the project."""
    @property
    def repeat_routine(self) -> _RepeatRoutine:
        """Routine: runs one child several times."""
    @property
    def sequence_routine(self) -> _SequenceRoutine:
        """Routine: runs children one after another."""
    @property
    def sleep_routine(self) -> _SleepRoutine:
        """Routine: waits."""
    @property
    def initialize_perception(self) -> _InitializePerception:
        """Perception step: start the perception agent."""
    @property
    def shutdown_perception(self) -> _ShutdownPerception:
        """Perception step: stop the perception agent."""
    @property
    def calibrate_camera_from_markers(self) -> _CalibrateCameraFromMarkers:
        """Perception step: calibrate a camera from visual markers."""
    @property
    def record_images(self) -> _RecordImages:
        """Perception step: record images."""
    @property
    def perspective_crop_image(self) -> _PerspectiveCropImage:
        """Perception step: crop a camera image to a task region."""
    @property
    def goto_target_positions(self) -> _GotoTargetPositions:
        """Planning step: move a robot to a target."""
    @property
    def screw_along_last_axis(self) -> _ScrewAlongLastAxis:
        """Planning step: screw along the tool's last axis."""
    @property
    def generate_target_poses(self) -> _GenerateTargetPoses:
        """Planning step: propose target poses."""
    @property
    def initialize_controller(self) -> _InitializeController:
        """Control step: start a robot's controller."""
    @property
    def shutdown_controller(self) -> _ShutdownController:
        """Control step: stop the controller."""
    @property
    def open_gripper(self) -> _OpenGripper:
        """Control step: open a gripper."""
    @property
    def close_gripper(self) -> _CloseGripper:
        """Control step: close a gripper."""
    @property
    def set_effector_positions(self) -> _SetEffectorPositions:
        """Control step: set an effector's joint positions."""
    @property
    def align_item_to_tool(self) -> _AlignItemToTool:
        """Simulation step: align an item with a tool."""
    @property
    def attach_item_to_tool(self) -> _AttachItemToTool:
        """Simulation step: attach an item to a tool."""
    @property
    def detach_item_from_tool(self) -> _DetachItemFromTool:
        """Simulation step: detach an item from a tool."""
    @property
    def start_recording_data(self) -> _StartRecordingData:
        """Recording step: start a data recording."""
    @property
    def stop_recording_data(self) -> _StopRecordingData:
        """Recording step: stop the data recording."""
    def __init__(
        self,
        *,
        name: builtins.str = ...,
        repeat_routine: _RepeatRoutine | None = ...,
        sequence_routine: _SequenceRoutine | None = ...,
        sleep_routine: _SleepRoutine | None = ...,
        initialize_perception: _InitializePerception | None = ...,
        shutdown_perception: _ShutdownPerception | None = ...,
        calibrate_camera_from_markers: _CalibrateCameraFromMarkers | None = ...,
        record_images: _RecordImages | None = ...,
        perspective_crop_image: _PerspectiveCropImage | None = ...,
        goto_target_positions: _GotoTargetPositions | None = ...,
        screw_along_last_axis: _ScrewAlongLastAxis | None = ...,
        generate_target_poses: _GenerateTargetPoses | None = ...,
        initialize_controller: _InitializeController | None = ...,
        shutdown_controller: _ShutdownController | None = ...,
        open_gripper: _OpenGripper | None = ...,
        close_gripper: _CloseGripper | None = ...,
        set_effector_positions: _SetEffectorPositions | None = ...,
        align_item_to_tool: _AlignItemToTool | None = ...,
        attach_item_to_tool: _AttachItemToTool | None = ...,
        detach_item_from_tool: _DetachItemFromTool | None = ...,
        start_recording_data: _StartRecordingData | None = ...,
        stop_recording_data: _StopRecordingData | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["repeat_routine", "sequence_routine", "sleep_routine", "initialize_perception", "shutdown_perception", "calibrate_camera_from_markers", "record_images", "perspective_crop_image", "goto_target_positions", "screw_along_last_axis", "generate_target_poses", "initialize_controller", "shutdown_controller", "open_gripper", "close_gripper", "set_effector_positions", "align_item_to_tool", "attach_item_to_tool", "detach_item_from_tool", "start_recording_data", "stop_recording_data", "type"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["name", "repeat_routine", "sequence_routine", "sleep_routine", "initialize_perception", "shutdown_perception", "calibrate_camera_from_markers", "record_images", "perspective_crop_image", "goto_target_positions", "screw_along_last_axis", "generate_target_poses", "initialize_controller", "shutdown_controller", "open_gripper", "close_gripper", "set_effector_positions", "align_item_to_tool", "attach_item_to_tool", "detach_item_from_tool", "start_recording_data", "stop_recording_data", "type"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.Literal["type"]) -> typing.Literal["repeat_routine", "sequence_routine", "sleep_routine", "initialize_perception", "shutdown_perception", "calibrate_camera_from_markers", "record_images", "perspective_crop_image", "goto_target_positions", "screw_along_last_axis", "generate_target_poses", "initialize_controller", "shutdown_controller", "open_gripper", "close_gripper", "set_effector_positions", "align_item_to_tool", "attach_item_to_tool", "detach_item_from_tool", "start_recording_data", "stop_recording_data"] | None: ...

_Behavior: typing_extensions.TypeAlias = Behavior

@typing.final
class RepeatRoutine(google.protobuf.message.Message):
    """Runs one child a number of times."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    BEHAVIOR_FIELD_NUMBER: builtins.int
    REPETITIONS_FIELD_NUMBER: builtins.int
    ALLOW_FAILURE_FIELD_NUMBER: builtins.int
    @property
    def behavior(self) -> _Behavior:
        """The child to repeat; absent repeats nothing."""
    repetitions: builtins.int
    """How many times the child runs; 0 runs it not at all."""
    allow_failure: builtins.bool
    """When true, a failing run of the child does not fail the routine."""
    def __init__(
        self,
        *,
        behavior: _Behavior | None = ...,
        repetitions: builtins.int = ...,
        allow_failure: builtins.bool = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["behavior"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["behavior", "repetitions", "allow_failure"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_RepeatRoutine: typing_extensions.TypeAlias = RepeatRoutine

@typing.final
class SequenceRoutine(google.protobuf.message.Message):
    """Runs children one after another in list order."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    BEHAVIORS_FIELD_NUMBER: builtins.int
    ALLOW_FAILURE_FIELD_NUMBER: builtins.int
    @property
    def behaviors(self) -> google.protobuf.internal.containers.RepeatedCompositeFieldContainer[_Behavior]:
        """The children, run in list order; empty does nothing."""
    allow_failure: builtins.bool
    """When true, a failing child does not fail the routine, which goes on with
 the next child."""
    def __init__(
        self,
        *,
        behaviors: collections.abc.Iterable[_Behavior] | None = ...,
        allow_failure: builtins.bool = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["behaviors", "allow_failure"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_SequenceRoutine: typing_extensions.TypeAlias = SequenceRoutine

@typing.final
class SleepRoutine(google.protobuf.message.Message):
    """Waits for a while."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    DURATION_S_FIELD_NUMBER: builtins.int
    duration_s: builtins.float
    """How long to wait, in seconds; 0 does not wait."""
    def __init__(
        self,
        *,
        duration_s: builtins.float = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["duration_s"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_SleepRoutine: typing_extensions.TypeAlias = SleepRoutine

@typing.final
class InitializePerception(google.protobuf.message.Message):
    """Starts the perception agent."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]
    def __init__(self) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.NoReturn) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_InitializePerception: typing_extensions.TypeAlias = InitializePerception

@typing.final
class ShutdownPerception(google.protobuf.message.Message):
    """Stops the perception agent."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]
    def __init__(self) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.NoReturn) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_ShutdownPerception: typing_extensions.TypeAlias = ShutdownPerception

@typing.final
class CalibrateCameraFromMarkers(google.protobuf.message.Message):
    """Calibrates a camera from visual markers (workspace keys)."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    CAMERA_FIELD_NUMBER: builtins.int
    MARKERS_FIELD_NUMBER: builtins.int
    camera: builtins.str
    """The camera to calibrate: a key of the workspace's cameras."""
    @property
    def markers(self) -> google.protobuf.internal.containers.RepeatedScalarFieldContainer[builtins.str]:
        """The markers to calibrate against: keys of the workspace's fiducials."""
    def __init__(
        self,
        *,
        camera: builtins.str = ...,
        markers: collections.abc.Iterable[builtins.str] | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["camera", "markers"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_CalibrateCameraFromMarkers: typing_extensions.TypeAlias = CalibrateCameraFromMarkers

@typing.final
class RecordImages(google.protobuf.message.Message):
    """Records images."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]
    def __init__(self) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.NoReturn) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_RecordImages: typing_extensions.TypeAlias = RecordImages

@typing.final
class PerspectiveCropImage(google.protobuf.message.Message):
    """Crops the part of a camera image spanned by four task-region corners."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    CAMERA_FIELD_NUMBER: builtins.int
    SOURCE_ID_FIELD_NUMBER: builtins.int
    TASK_REGION_FIELD_NUMBER: builtins.int
    TOP_LEFT_CORNER_FIELD_NUMBER: builtins.int
    TOP_RIGHT_CORNER_FIELD_NUMBER: builtins.int
    BOT_RIGHT_CORNER_FIELD_NUMBER: builtins.int
    BOT_LEFT_CORNER_FIELD_NUMBER: builtins.int
    WIDTH_FIELD_NUMBER: builtins.int
    HEIGHT_FIELD_NUMBER: builtins.int
    camera: builtins.str
    """The camera whose image is cropped: a key of the workspace's cameras."""
    source_id: builtins.str
    """Which image source of the camera to crop from (for example colour or
 depth); empty leaves the choice to the perception agent."""
    task_region: builtins.str
    """The region to crop to: a key of the workspace's task_regions."""
    top_left_corner: ostrel.api.task_pb2.TaskRegionCorner.ValueType
    """Corner of the region that goes to the top left of the result."""
    top_right_corner: ostrel.api.task_pb2.TaskRegionCorner.ValueType
    """Corner of the region that goes to the top right of the result."""
    bot_right_corner: ostrel.api.task_pb2.TaskRegionCorner.ValueType
    """Corner of the region that goes to the bottom right of the result."""
    bot_left_corner: ostrel.api.task_pb2.TaskRegionCorner.ValueType
    """Corner of the region that goes to the bottom left of the result."""
    width: builtins.int
    """Width of the cropped image in pixels."""
    height: builtins.int
    """Height of the cropped image in pixels."""
    def __init__(
        self,
        *,
        camera: builtins.str = ...,
        source_id: builtins.str = ...,
        task_region: builtins.str = ...,
        top_left_corner: ostrel.api.task_pb2.TaskRegionCorner.ValueType = ...,
        top_right_corner: ostrel.api.task_pb2.TaskRegionCorner.ValueType = ...,
        bot_right_corner: ostrel.api.task_pb2.TaskRegionCorner.ValueType = ...,
        bot_left_corner: ostrel.api.task_pb2.TaskRegionCorner.ValueType = ...,
        width: builtins.int = ...,
        height: builtins.int = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["camera", "source_id", "task_region", "top_left_corner", "top_right_corner", "bot_right_corner", "bot_left_corner", "width", "height"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_PerspectiveCropImage: typing_extensions.TypeAlias = PerspectiveCropImage

@typing.final
class TerminationCriteria(google.protobuf.message.Message):
    """When a motion counts as finished or failed. A value of 0 (unset) sets no
 limit of that kind."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    TIMEOUT_WINDOW_S_FIELD_NUMBER: builtins.int
    TIME_TO_COMPLETION_S_FIELD_NUMBER: builtins.int
    JOINT_POSITION_TOL_FIELD_NUMBER: builtins.int
    LINEAR_TOOL_POSE_TOL_FIELD_NUMBER: builtins.int
    ANGULAR_TOOL_POSE_TOL_FIELD_NUMBER: builtins.int
    timeout_window_s: builtins.float
    """Longest time, in seconds, the motion may take before it fails."""
    time_to_completion_s: builtins.float
    """Time within which the motion is expected to complete, in seconds."""
    joint_position_tol: builtins.float
    """Largest remaining joint position error at which the motion is done, in
 joint units (radians or metres)."""
    linear_tool_pose_tol: builtins.float
    """Largest remaining error of the tool position, in metres."""
    angular_tool_pose_tol: builtins.float
    """Largest remaining error of the tool orientation, in radians."""
    def __init__(
        self,
        *,
        timeout_window_s: builtins.float = ...,
        time_to_completion_s: builtins.float = ...,
        joint_position_tol: builtins.float = ...,
        linear_tool_pose_tol: builtins.float = ...,
        angular_tool_pose_tol: builtins.float = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["timeout_window_s", "time_to_completion_s", "joint_position_tol", "linear_tool_pose_tol", "angular_tool_pose_tol"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_TerminationCriteria: typing_extensions.TypeAlias = TerminationCriteria

@typing.final
class GotoTargetPositions(google.protobuf.message.Message):
    """Moves a robot to targets from the named target generators."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    ROBOT_FIELD_NUMBER: builtins.int
    TOOL_FIELD_NUMBER: builtins.int
    DISABLE_COLLISION_CHECKING_FIELD_NUMBER: builtins.int
    INTERPOLATION_FIELD_NUMBER: builtins.int
    RANKING_FIELD_NUMBER: builtins.int
    NUM_PROPOSALS_FIELD_NUMBER: builtins.int
    MOTION_LIMITS_FIELD_NUMBER: builtins.int
    TERMINATION_FIELD_NUMBER: builtins.int
    TARGET_GENERATORS_FIELD_NUMBER: builtins.int
    robot: builtins.str
    """The robot to move: a key of the workspace's robots."""
    tool: builtins.str
    """The tool frame that is moved to the target: a key of the robot's
 tool_frames."""
    disable_collision_checking: builtins.bool
    """When true, the motion is planned without collision checking; false keeps
 it on."""
    interpolation: ostrel.api.trajectory_pb2.InterpolationType.ValueType
    """Space in which the motion is interpolated; unset is JOINT."""
    ranking: _RankingStrategy.ValueType
    """How the proposals are ordered before the first is taken; unset is RANDOM."""
    num_proposals: builtins.int
    """How many target proposals to draw from the generators."""
    motion_limits: builtins.str
    """Limits of the motion: a key of the project's variables.motion_limits;
 empty moves with default limits."""
    @property
    def termination(self) -> _TerminationCriteria:
        """When the motion counts as done or failed; absent sets no criteria."""
    @property
    def target_generators(self) -> google.protobuf.internal.containers.RepeatedScalarFieldContainer[builtins.str]:
        """Where targets come from: keys of the project's
 variables.target_generators, one or more."""
    def __init__(
        self,
        *,
        robot: builtins.str = ...,
        tool: builtins.str = ...,
        disable_collision_checking: builtins.bool = ...,
        interpolation: ostrel.api.trajectory_pb2.InterpolationType.ValueType = ...,
        ranking: _RankingStrategy.ValueType = ...,
        num_proposals: builtins.int = ...,
        motion_limits: builtins.str = ...,
        termination: _TerminationCriteria | None = ...,
        target_generators: collections.abc.Iterable[builtins.str] | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["termination"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["robot", "tool", "disable_collision_checking", "interpolation", "ranking", "num_proposals", "motion_limits", "termination", "target_generators"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_GotoTargetPositions: typing_extensions.TypeAlias = GotoTargetPositions

@typing.final
class ScrewAlongLastAxis(google.protobuf.message.Message):
    """Screws along the tool's last axis."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    ROBOT_FIELD_NUMBER: builtins.int
    TOOL_FIELD_NUMBER: builtins.int
    DISPLACEMENT_FIELD_NUMBER: builtins.int
    NUM_ROTATIONS_FIELD_NUMBER: builtins.int
    CLOCKWISE_FIELD_NUMBER: builtins.int
    MOTION_LIMITS_FIELD_NUMBER: builtins.int
    TERMINATION_FIELD_NUMBER: builtins.int
    robot: builtins.str
    """The robot that screws: a key of the workspace's robots."""
    tool: builtins.str
    """The tool frame whose last axis is screwed along: a key of the robot's
 tool_frames."""
    displacement: builtins.float
    """Travel along the axis during the motion, in metres."""
    num_rotations: builtins.float
    """Turns about the axis during the motion; fractions of a turn are allowed."""
    clockwise: builtins.bool
    """Turning sense: true clockwise, false (the default) counter-clockwise."""
    motion_limits: builtins.str
    """Limits of the motion: a key of the project's variables.motion_limits;
 empty moves with default limits."""
    @property
    def termination(self) -> _TerminationCriteria:
        """When the motion counts as done or failed; absent sets no criteria."""
    def __init__(
        self,
        *,
        robot: builtins.str = ...,
        tool: builtins.str = ...,
        displacement: builtins.float = ...,
        num_rotations: builtins.float = ...,
        clockwise: builtins.bool = ...,
        motion_limits: builtins.str = ...,
        termination: _TerminationCriteria | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["termination"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["robot", "tool", "displacement", "num_rotations", "clockwise", "motion_limits", "termination"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_ScrewAlongLastAxis: typing_extensions.TypeAlias = ScrewAlongLastAxis

@typing.final
class GenerateTargetPoses(google.protobuf.message.Message):
    """Produces target poses from one target generator."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    ROBOT_FIELD_NUMBER: builtins.int
    TOOL_FIELD_NUMBER: builtins.int
    NUM_PROPOSALS_FIELD_NUMBER: builtins.int
    TARGET_GENERATOR_FIELD_NUMBER: builtins.int
    robot: builtins.str
    """The robot the targets are for: a key of the workspace's robots."""
    tool: builtins.str
    """The tool frame the targets place: a key of the robot's tool_frames."""
    num_proposals: builtins.int
    """How many target proposals to produce."""
    target_generator: builtins.str
    """Where targets come from: one key of the project's
 variables.target_generators."""
    def __init__(
        self,
        *,
        robot: builtins.str = ...,
        tool: builtins.str = ...,
        num_proposals: builtins.int = ...,
        target_generator: builtins.str = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["robot", "tool", "num_proposals", "target_generator"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_GenerateTargetPoses: typing_extensions.TypeAlias = GenerateTargetPoses

@typing.final
class InitializeController(google.protobuf.message.Message):
    """Starts the controller for a robot and its tool."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    ROBOT_FIELD_NUMBER: builtins.int
    TOOL_FIELD_NUMBER: builtins.int
    robot: builtins.str
    """The robot to control: a key of the workspace's robots."""
    tool: builtins.str
    """The tool frame the controller works in: a key of the robot's tool_frames."""
    def __init__(
        self,
        *,
        robot: builtins.str = ...,
        tool: builtins.str = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["robot", "tool"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_InitializeController: typing_extensions.TypeAlias = InitializeController

@typing.final
class ShutdownController(google.protobuf.message.Message):
    """Stops the controller."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]
    def __init__(self) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.NoReturn) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_ShutdownController: typing_extensions.TypeAlias = ShutdownController

@typing.final
class OpenGripper(google.protobuf.message.Message):
    """Opens a gripper."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    EFFECTOR_FIELD_NUMBER: builtins.int
    effector: builtins.str
    """The gripper to open: a key of the workspace's effectors."""
    def __init__(
        self,
        *,
        effector: builtins.str = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["effector"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_OpenGripper: typing_extensions.TypeAlias = OpenGripper

@typing.final
class CloseGripper(google.protobuf.message.Message):
    """Closes a gripper."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    EFFECTOR_FIELD_NUMBER: builtins.int
    effector: builtins.str
    """The gripper to close: a key of the workspace's effectors."""
    def __init__(
        self,
        *,
        effector: builtins.str = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["effector"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_CloseGripper: typing_extensions.TypeAlias = CloseGripper

@typing.final
class SetEffectorPositions(google.protobuf.message.Message):
    """Sets an effector's joint positions."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    EFFECTOR_FIELD_NUMBER: builtins.int
    POSITIONS_FIELD_NUMBER: builtins.int
    effector: builtins.str
    """The effector to move: a key of the workspace's effectors."""
    @property
    def positions(self) -> ostrel.api.math_pb2.VectorX:
        """The joint positions to reach, one per effector joint."""
    def __init__(
        self,
        *,
        effector: builtins.str = ...,
        positions: ostrel.api.math_pb2.VectorX | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["positions"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["effector", "positions"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_SetEffectorPositions: typing_extensions.TypeAlias = SetEffectorPositions

@typing.final
class AlignItemToTool(google.protobuf.message.Message):
    """Aligns an item with a robot's tool."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    ITEM_FIELD_NUMBER: builtins.int
    ROBOT_FIELD_NUMBER: builtins.int
    TOOL_FIELD_NUMBER: builtins.int
    item: builtins.str
    """The item to align: a key of the workspace's items."""
    robot: builtins.str
    """The robot whose tool the item is aligned with: a key of the workspace's
 robots."""
    tool: builtins.str
    """The tool frame to align with: a key of the robot's tool_frames."""
    def __init__(
        self,
        *,
        item: builtins.str = ...,
        robot: builtins.str = ...,
        tool: builtins.str = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["item", "robot", "tool"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_AlignItemToTool: typing_extensions.TypeAlias = AlignItemToTool

@typing.final
class AttachItemToTool(google.protobuf.message.Message):
    """Attaches an item to a robot's tool."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    ITEM_FIELD_NUMBER: builtins.int
    ROBOT_FIELD_NUMBER: builtins.int
    item: builtins.str
    """The item to attach: a key of the workspace's items."""
    robot: builtins.str
    """The robot whose tool takes the item: a key of the workspace's robots."""
    def __init__(
        self,
        *,
        item: builtins.str = ...,
        robot: builtins.str = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["item", "robot"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_AttachItemToTool: typing_extensions.TypeAlias = AttachItemToTool

@typing.final
class DetachItemFromTool(google.protobuf.message.Message):
    """Detaches an item from a robot's tool."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    ITEM_FIELD_NUMBER: builtins.int
    ROBOT_FIELD_NUMBER: builtins.int
    item: builtins.str
    """The item to release: a key of the workspace's items."""
    robot: builtins.str
    """The robot whose tool holds the item: a key of the workspace's robots."""
    def __init__(
        self,
        *,
        item: builtins.str = ...,
        robot: builtins.str = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["item", "robot"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_DetachItemFromTool: typing_extensions.TypeAlias = DetachItemFromTool

@typing.final
class StartRecordingData(google.protobuf.message.Message):
    """Starts a data recording."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    DESCRIPTION_FIELD_NUMBER: builtins.int
    description: builtins.str
    """Text that names the recording; records are selected by it later."""
    def __init__(
        self,
        *,
        description: builtins.str = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["description"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_StartRecordingData: typing_extensions.TypeAlias = StartRecordingData

@typing.final
class StopRecordingData(google.protobuf.message.Message):
    """Stops the data recording."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]
    def __init__(self) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.NoReturn) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_StopRecordingData: typing_extensions.TypeAlias = StopRecordingData
