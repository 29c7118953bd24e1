# Generated from the schema files by tools/regenerate.sh. Do not edit.
# Typing stub of ostrel.api.simulation_pb2, written by protoc-gen-ostrel from
# ostrel/api/simulation.proto.

import builtins
import google.protobuf.descriptor
import google.protobuf.message
import ostrel.api.execution_pb2
import ostrel.api.project_pb2
import ostrel.api.workspace_pb2
import typing
import typing_extensions

DESCRIPTOR: google.protobuf.descriptor.FileDescriptor

@typing.final
class SimulatorAction(google.protobuf.message.Message):
    """A request to the simulator: a new project or one simulation step."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    NAME_FIELD_NUMBER: builtins.int
    SIMULATE_FIELD_NUMBER: builtins.int
    UPDATE_PROJECT_FIELD_NUMBER: builtins.int
    ALIGN_ITEM_TO_TOOL_FIELD_NUMBER: builtins.int
    ATTACH_ITEM_TO_TOOL_FIELD_NUMBER: builtins.int
    DETACH_ITEM_FROM_TOOL_FIELD_NUMBER: builtins.int
    name: builtins.str
    """Name of the action, as a behavior's name names the step it came from."""
    simulate: builtins.bool
    """True carries the action out in simulation rather than on the devices."""
    @property
    def update_project(self) -> ostrel.api.project_pb2.ProjectSnapshot:
        """A new project for the simulator to work with."""
    @property
    def align_item_to_tool(self) -> ostrel.api.execution_pb2.AlignItemToTool:
        """Align an item with a robot's tool."""
    @property
    def attach_item_to_tool(self) -> ostrel.api.execution_pb2.AttachItemToTool:
        """Attach an item to a robot's tool."""
    @property
    def detach_item_from_tool(self) -> ostrel.api.execution_pb2.DetachItemFromTool:
        """Detach an item from a robot's tool."""
    def __init__(
        self,
        *,
        name: builtins.str = ...,
        simulate: builtins.bool = ...,
        update_project: ostrel.api.project_pb2.ProjectSnapshot | None = ...,
        align_item_to_tool: ostrel.api.execution_pb2.AlignItemToTool | None = ...,
        attach_item_to_tool: ostrel.api.execution_pb2.AttachItemToTool | None = ...,
        detach_item_from_tool: ostrel.api.execution_pb2.DetachItemFromTool | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["update_project", "align_item_to_tool", "attach_item_to_tool", "detach_item_from_tool", "type"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["name", "simulate", "update_project", "align_item_to_tool", "attach_item_to_tool", "detach_item_from_tool", "type"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.Literal["type"]) -> typing.Literal["update_project", "align_item_to_tool", "attach_item_to_tool", "detach_item_from_tool"] | None: ...

_SimulatorAction: typing_extensions.TypeAlias = SimulatorAction

@typing.final
class SimulatorMetrics(google.protobuf.message.Message):
    """Timing of one simulator step."""
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

_SimulatorMetrics: typing_extensions.TypeAlias = SimulatorMetrics

@typing.final
class SimulatorProducts(google.protobuf.message.Message):
    """Simulator output: the simulated workspace state and linkages."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    METRICS_FIELD_NUMBER: builtins.int
    WORKSPACE_STATE_FIELD_NUMBER: builtins.int
    WORKSPACE_LINKAGES_FIELD_NUMBER: builtins.int
    @property
    def metrics(self) -> _SimulatorMetrics:
        """Timing of the step that produced these results."""
    @property
    def workspace_state(self) -> ostrel.api.workspace_pb2.WorkspaceState:
        """The simulated state of the workspace."""
    @property
    def workspace_linkages(self) -> ostrel.api.workspace_pb2.WorkspaceLinkages:
        """The simulated linkages: which items are held and by what."""
    def __init__(
        self,
        *,
        metrics: _SimulatorMetrics | None = ...,
        workspace_state: ostrel.api.workspace_pb2.WorkspaceState | None = ...,
        workspace_linkages: ostrel.api.workspace_pb2.WorkspaceLinkages | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["metrics", "workspace_state", "workspace_linkages"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["metrics", "workspace_state", "workspace_linkages"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_SimulatorProducts: typing_extensions.TypeAlias = SimulatorProducts
