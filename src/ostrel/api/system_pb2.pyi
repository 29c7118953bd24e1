# Generated from the schema files by tools/regenerate.sh. Do not edit.
# Typing stub of ostrel.api.system_pb2, written by protoc-gen-ostrel from
# ostrel/api/system.proto.

import builtins
import google.protobuf.descriptor
import google.protobuf.message
import ostrel.api.common_pb2
import ostrel.api.control_pb2
import ostrel.api.perception_pb2
import ostrel.api.planning_pb2
import ostrel.api.training_pb2
import ostrel.api.workspace_pb2
import typing
import typing_extensions

DESCRIPTOR: google.protobuf.descriptor.FileDescriptor

@typing.final
class SystemState(google.protobuf.message.Message):
    """Overall status, workspace state and the latest products of each agent.
 Every field may be absent."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    STATUS_FIELD_NUMBER: builtins.int
    WORKSPACE_FIELD_NUMBER: builtins.int
    IMAGES_FIELD_NUMBER: builtins.int
    PERCEPTION_FIELD_NUMBER: builtins.int
    PLANNER_FIELD_NUMBER: builtins.int
    CONTROLLER_FIELD_NUMBER: builtins.int
    TRAINER_FIELD_NUMBER: builtins.int
    @property
    def status(self) -> ostrel.api.common_pb2.Status:
        """Status of the system and of the last program: RUNNING while it runs,
 then SUCCESS or FAILURE with a text."""
    @property
    def workspace(self) -> ostrel.api.workspace_pb2.WorkspaceState:
        """Current state of the workspace (no configuration or linkages)."""
    @property
    def images(self) -> ostrel.api.perception_pb2.ImagesProducts:
        """Latest images of the perception agent."""
    @property
    def perception(self) -> ostrel.api.perception_pb2.PerceptionProducts:
        """Latest markers and camera poses of the perception agent."""
    @property
    def planner(self) -> ostrel.api.planning_pb2.PlannerProducts:
        """Latest results of the planner."""
    @property
    def controller(self) -> ostrel.api.control_pb2.ControllerProducts:
        """Latest results of the controller."""
    @property
    def trainer(self) -> ostrel.api.training_pb2.TrainerProducts:
        """Latest results of the trainer."""
    def __init__(
        self,
        *,
        status: ostrel.api.common_pb2.Status | None = ...,
        workspace: ostrel.api.workspace_pb2.WorkspaceState | None = ...,
        images: ostrel.api.perception_pb2.ImagesProducts | None = ...,
        perception: ostrel.api.perception_pb2.PerceptionProducts | None = ...,
        planner: ostrel.api.planning_pb2.PlannerProducts | None = ...,
        controller: ostrel.api.control_pb2.ControllerProducts | None = ...,
        trainer: ostrel.api.training_pb2.TrainerProducts | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["status", "workspace", "images", "perception", "planner", "controller", "trainer"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["status", "workspace", "images", "perception", "planner", "controller", "trainer"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_SystemState: typing_extensions.TypeAlias = SystemState
