# Generated from the schema files by tools/regenerate.sh. Do not edit.
# Typing stub of ostrel.api.control_pb2, written by protoc-gen-ostrel from
# ostrel/api/control.proto.

import builtins
import google.protobuf.descriptor
import google.protobuf.message
import ostrel.api.execution_pb2
import ostrel.api.motion_pb2
import ostrel.api.project_pb2
import typing
import typing_extensions

DESCRIPTOR: google.protobuf.descriptor.FileDescriptor

@typing.final
class ControllerAction(google.protobuf.message.Message):
    """A request to the controller: a new project or one control step."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    NAME_FIELD_NUMBER: builtins.int
    SIMULATE_FIELD_NUMBER: builtins.int
    UPDATE_PROJECT_FIELD_NUMBER: builtins.int
    INITIALIZE_CONTROLLER_FIELD_NUMBER: builtins.int
    SHUTDOWN_CONTROLLER_FIELD_NUMBER: builtins.int
    OPEN_GRIPPER_FIELD_NUMBER: builtins.int
    CLOSE_GRIPPER_FIELD_NUMBER: builtins.int
    SET_EFFECTOR_POSITIONS_FIELD_NUMBER: builtins.int
    name: builtins.str
    """Name of the action, as a behavior's name names the step it came from."""
    simulate: builtins.bool
    """True carries the action out in simulation rather than on the devices."""
    @property
    def update_project(self) -> ostrel.api.project_pb2.ProjectSnapshot:
        """A new project for the controller to work with."""
    @property
    def initialize_controller(self) -> ostrel.api.execution_pb2.InitializeController:
        """Start controlling a robot."""
    @property
    def shutdown_controller(self) -> ostrel.api.execution_pb2.ShutdownController:
        """Stop the controller."""
    @property
    def open_gripper(self) -> ostrel.api.execution_pb2.OpenGripper:
        """Open a gripper."""
    @property
    def close_gripper(self) -> ostrel.api.execution_pb2.CloseGripper:
        """Close a gripper."""
    @property
    def set_effector_positions(self) -> ostrel.api.execution_pb2.SetEffectorPositions:
        """Set an effector's joint positions."""
    def __init__(
        self,
        *,
        name: builtins.str = ...,
        simulate: builtins.bool = ...,
        update_project: ostrel.api.project_pb2.ProjectSnapshot | None = ...,
        initialize_controller: ostrel.api.execution_pb2.InitializeController | None = ...,
        shutdown_controller: ostrel.api.execution_pb2.ShutdownController | None = ...,
        open_gripper: ostrel.api.execution_pb2.OpenGripper | None = ...,
        close_gripper: ostrel.api.execution_pb2.CloseGripper | None = ...,
        set_effector_positions: ostrel.api.execution_pb2.SetEffectorPositions | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["update_project", "initialize_controller", "shutdown_controller", "open_gripper", "close_gripper", "set_effector_positions", "type"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["name", "simulate", "update_project", "initialize_controller", "shutdown_controller", "open_gripper", "close_gripper", "set_effector_positions", "type"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.Literal["type"]) -> typing.Literal["update_project", "initialize_controller", "shutdown_controller", "open_gripper", "close_gripper", "set_effector_positions"] | None: ...

_ControllerAction: typing_extensions.TypeAlias = ControllerAction

@typing.final
class ControllerMetrics(google.protobuf.message.Message):
    """Timing of one controller step."""
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

_ControllerMetrics: typing_extensions.TypeAlias = ControllerMetrics

@typing.final
class ControllerProducts(google.protobuf.message.Message):
    """Controller output: fault flag, driven robot, clock and motion states."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    METRICS_FIELD_NUMBER: builtins.int
    FAULTED_FIELD_NUMBER: builtins.int
    ROBOT_FIELD_NUMBER: builtins.int
    TIME_S_FIELD_NUMBER: builtins.int
    REFERENCE_FIELD_NUMBER: builtins.int
    FEEDBACK_FIELD_NUMBER: builtins.int
    @property
    def metrics(self) -> _ControllerMetrics:
        """Timing of the step that produced these results."""
    faulted: builtins.bool
    """True while the controller is in a fault."""
    robot: builtins.str
    """The controlled robot: a key of the workspace's robots."""
    time_s: builtins.float
    """The controller's clock, in seconds."""
    @property
    def reference(self) -> ostrel.api.motion_pb2.State:
        """The motion state the controller commands."""
    @property
    def feedback(self) -> ostrel.api.motion_pb2.State:
        """The motion state the controller measures."""
    def __init__(
        self,
        *,
        metrics: _ControllerMetrics | None = ...,
        faulted: builtins.bool = ...,
        robot: builtins.str = ...,
        time_s: builtins.float = ...,
        reference: ostrel.api.motion_pb2.State | None = ...,
        feedback: ostrel.api.motion_pb2.State | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["metrics", "reference", "feedback"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["metrics", "faulted", "robot", "time_s", "reference", "feedback"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_ControllerProducts: typing_extensions.TypeAlias = ControllerProducts
