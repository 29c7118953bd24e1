# Generated from the schema files by tools/regenerate.sh. Do not edit.
# Typing stub of ostrel.api.workspace_pb2, written by protoc-gen-ostrel from
# ostrel/api/workspace.proto.

import builtins
import collections.abc
import google.protobuf.descriptor
import google.protobuf.internal.containers
import google.protobuf.message
import ostrel.api.camera_pb2
import ostrel.api.effector_pb2
import ostrel.api.fiducial_pb2
import ostrel.api.item_pb2
import ostrel.api.linkage_pb2
import ostrel.api.robot_pb2
import ostrel.api.task_pb2
import typing
import typing_extensions

DESCRIPTOR: google.protobuf.descriptor.FileDescriptor

@typing.final
class WorkspaceConfig(google.protobuf.message.Message):
    """Configuration of every thing in the cell, by its key."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    @typing.final
    class RobotsEntry(google.protobuf.message.Message):
        DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

        KEY_FIELD_NUMBER: builtins.int
        VALUE_FIELD_NUMBER: builtins.int
        key: builtins.str
        @property
        def value(self) -> ostrel.api.robot_pb2.RobotConfig: ...
        def __init__(
            self,
            *,
            key: builtins.str = ...,
            value: ostrel.api.robot_pb2.RobotConfig | None = ...,
        ) -> None: ...
        def HasField(self, field_name: typing.Literal["value"]) -> builtins.bool: ...
        def ClearField(self, field_name: typing.Literal["key", "value"]) -> None: ...
        def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

    @typing.final
    class EffectorsEntry(google.protobuf.message.Message):
        DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

        KEY_FIELD_NUMBER: builtins.int
        VALUE_FIELD_NUMBER: builtins.int
        key: builtins.str
        @property
        def value(self) -> ostrel.api.effector_pb2.EffectorConfig: ...
        def __init__(
            self,
            *,
            key: builtins.str = ...,
            value: ostrel.api.effector_pb2.EffectorConfig | None = ...,
        ) -> None: ...
        def HasField(self, field_name: typing.Literal["value"]) -> builtins.bool: ...
        def ClearField(self, field_name: typing.Literal["key", "value"]) -> None: ...
        def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

    @typing.final
    class ItemsEntry(google.protobuf.message.Message):
        DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

        KEY_FIELD_NUMBER: builtins.int
        VALUE_FIELD_NUMBER: builtins.int
        key: builtins.str
        @property
        def value(self) -> ostrel.api.item_pb2.ItemConfig: ...
        def __init__(
            self,
            *,
            key: builtins.str = ...,
            value: ostrel.api.item_pb2.ItemConfig | None = ...,
        ) -> None: ...
        def HasField(self, field_name: typing.Literal["value"]) -> builtins.bool: ...
        def ClearField(self, field_name: typing.Literal["key", "value"]) -> None: ...
        def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

    @typing.final
    class CamerasEntry(google.protobuf.message.Message):
        DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

        KEY_FIELD_NUMBER: builtins.int
        VALUE_FIELD_NUMBER: builtins.int
        key: builtins.str
        @property
        def value(self) -> ostrel.api.camera_pb2.CameraConfig: ...
        def __init__(
            self,
            *,
            key: builtins.str = ...,
            value: ostrel.api.camera_pb2.CameraConfig | None = ...,
        ) -> None: ...
        def HasField(self, field_name: typing.Literal["value"]) -> builtins.bool: ...
        def ClearField(self, field_name: typing.Literal["key", "value"]) -> None: ...
        def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

    @typing.final
    class FiducialsEntry(google.protobuf.message.Message):
        DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

        KEY_FIELD_NUMBER: builtins.int
        VALUE_FIELD_NUMBER: builtins.int
        key: builtins.str
        @property
        def value(self) -> ostrel.api.fiducial_pb2.FiducialConfig: ...
        def __init__(
            self,
            *,
            key: builtins.str = ...,
            value: ostrel.api.fiducial_pb2.FiducialConfig | None = ...,
        ) -> None: ...
        def HasField(self, field_name: typing.Literal["value"]) -> builtins.bool: ...
        def ClearField(self, field_name: typing.Literal["key", "value"]) -> None: ...
        def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

    @typing.final
    class TaskRegionsEntry(google.protobuf.message.Message):
        DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

        KEY_FIELD_NUMBER: builtins.int
        VALUE_FIELD_NUMBER: builtins.int
        key: builtins.str
        @property
        def value(self) -> ostrel.api.task_pb2.TaskRegionConfig: ...
        def __init__(
            self,
            *,
            key: builtins.str = ...,
            value: ostrel.api.task_pb2.TaskRegionConfig | None = ...,
        ) -> None: ...
        def HasField(self, field_name: typing.Literal["value"]) -> builtins.bool: ...
        def ClearField(self, field_name: typing.Literal["key", "value"]) -> None: ...
        def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

    ROBOTS_FIELD_NUMBER: builtins.int
    EFFECTORS_FIELD_NUMBER: builtins.int
    ITEMS_FIELD_NUMBER: builtins.int
    CAMERAS_FIELD_NUMBER: builtins.int
    FIDUCIALS_FIELD_NUMBER: builtins.int
    TASK_REGIONS_FIELD_NUMBER: builtins.int
    @property
    def robots(self) -> google.protobuf.internal.containers.MessageMap[builtins.str, ostrel.api.robot_pb2.RobotConfig]:
        """Robots by name; steps name them in their robot field."""
    @property
    def effectors(self) -> google.protobuf.internal.containers.MessageMap[builtins.str, ostrel.api.effector_pb2.EffectorConfig]:
        """Effectors by name; robots and gripper steps name them."""
    @property
    def items(self) -> google.protobuf.internal.containers.MessageMap[builtins.str, ostrel.api.item_pb2.ItemConfig]:
        """Items by name; item steps and grasp linkages name them."""
    @property
    def cameras(self) -> google.protobuf.internal.containers.MessageMap[builtins.str, ostrel.api.camera_pb2.CameraConfig]:
        """Cameras by name; perception steps and products name them."""
    @property
    def fiducials(self) -> google.protobuf.internal.containers.MessageMap[builtins.str, ostrel.api.fiducial_pb2.FiducialConfig]:
        """Fiducials (visual markers) by name; calibration steps name them."""
    @property
    def task_regions(self) -> google.protobuf.internal.containers.MessageMap[builtins.str, ostrel.api.task_pb2.TaskRegionConfig]:
        """Task regions by name; items, crops and pose generators name them."""
    def __init__(
        self,
        *,
        robots: collections.abc.Mapping[builtins.str, ostrel.api.robot_pb2.RobotConfig] | None = ...,
        effectors: collections.abc.Mapping[builtins.str, ostrel.api.effector_pb2.EffectorConfig] | None = ...,
        items: collections.abc.Mapping[builtins.str, ostrel.api.item_pb2.ItemConfig] | None = ...,
        cameras: collections.abc.Mapping[builtins.str, ostrel.api.camera_pb2.CameraConfig] | None = ...,
        fiducials: collections.abc.Mapping[builtins.str, ostrel.api.fiducial_pb2.FiducialConfig] | None = ...,
        task_regions: collections.abc.Mapping[builtins.str, ostrel.api.task_pb2.TaskRegionConfig] | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["robots", "effectors", "items", "cameras", "fiducials", "task_regions"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_WorkspaceConfig: typing_extensions.TypeAlias = WorkspaceConfig

@typing.final
class WorkspaceState(google.protobuf.message.Message):
    """Current state of every thing in the cell, under the same keys as its
 configuration."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    @typing.final
    class RobotsEntry(google.protobuf.message.Message):
        DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

        KEY_FIELD_NUMBER: builtins.int
        VALUE_FIELD_NUMBER: builtins.int
        key: builtins.str
        @property
        def value(self) -> ostrel.api.robot_pb2.RobotState: ...
        def __init__(
            self,
            *,
            key: builtins.str = ...,
            value: ostrel.api.robot_pb2.RobotState | None = ...,
        ) -> None: ...
        def HasField(self, field_name: typing.Literal["value"]) -> builtins.bool: ...
        def ClearField(self, field_name: typing.Literal["key", "value"]) -> None: ...
        def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

    @typing.final
    class EffectorsEntry(google.protobuf.message.Message):
        DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

        KEY_FIELD_NUMBER: builtins.int
        VALUE_FIELD_NUMBER: builtins.int
        key: builtins.str
        @property
        def value(self) -> ostrel.api.effector_pb2.EffectorState: ...
        def __init__(
            self,
            *,
            key: builtins.str = ...,
            value: ostrel.api.effector_pb2.EffectorState | None = ...,
        ) -> None: ...
        def HasField(self, field_name: typing.Literal["value"]) -> builtins.bool: ...
        def ClearField(self, field_name: typing.Literal["key", "value"]) -> None: ...
        def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

    @typing.final
    class ItemsEntry(google.protobuf.message.Message):
        DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

        KEY_FIELD_NUMBER: builtins.int
        VALUE_FIELD_NUMBER: builtins.int
        key: builtins.str
        @property
        def value(self) -> ostrel.api.item_pb2.ItemState: ...
        def __init__(
            self,
            *,
            key: builtins.str = ...,
            value: ostrel.api.item_pb2.ItemState | None = ...,
        ) -> None: ...
        def HasField(self, field_name: typing.Literal["value"]) -> builtins.bool: ...
        def ClearField(self, field_name: typing.Literal["key", "value"]) -> None: ...
        def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

    @typing.final
    class CamerasEntry(google.protobuf.message.Message):
        DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

        KEY_FIELD_NUMBER: builtins.int
        VALUE_FIELD_NUMBER: builtins.int
        key: builtins.str
        @property
        def value(self) -> ostrel.api.camera_pb2.CameraState: ...
        def __init__(
            self,
            *,
            key: builtins.str = ...,
            value: ostrel.api.camera_pb2.CameraState | None = ...,
        ) -> None: ...
        def HasField(self, field_name: typing.Literal["value"]) -> builtins.bool: ...
        def ClearField(self, field_name: typing.Literal["key", "value"]) -> None: ...
        def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

    @typing.final
    class FiducialsEntry(google.protobuf.message.Message):
        DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

        KEY_FIELD_NUMBER: builtins.int
        VALUE_FIELD_NUMBER: builtins.int
        key: builtins.str
        @property
        def value(self) -> ostrel.api.fiducial_pb2.FiducialState: ...
        def __init__(
            self,
            *,
            key: builtins.str = ...,
            value: ostrel.api.fiducial_pb2.FiducialState | None = ...,
        ) -> None: ...
        def HasField(self, field_name: typing.Literal["value"]) -> builtins.bool: ...
        def ClearField(self, field_name: typing.Literal["key", "value"]) -> None: ...
        def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

    @typing.final
    class TaskRegionsEntry(google.protobuf.message.Message):
        DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

        KEY_FIELD_NUMBER: builtins.int
        VALUE_FIELD_NUMBER: builtins.int
        key: builtins.str
        @property
        def value(self) -> ostrel.api.task_pb2.TaskRegionState: ...
        def __init__(
            self,
            *,
            key: builtins.str = ...,
            value: ostrel.api.task_pb2.TaskRegionState | None = ...,
        ) -> None: ...
        def HasField(self, field_name: typing.Literal["value"]) -> builtins.bool: ...
        def ClearField(self, field_name: typing.Literal["key", "value"]) -> None: ...
        def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

    ROBOTS_FIELD_NUMBER: builtins.int
    EFFECTORS_FIELD_NUMBER: builtins.int
    ITEMS_FIELD_NUMBER: builtins.int
    CAMERAS_FIELD_NUMBER: builtins.int
    FIDUCIALS_FIELD_NUMBER: builtins.int
    TASK_REGIONS_FIELD_NUMBER: builtins.int
    @property
    def robots(self) -> google.protobuf.internal.containers.MessageMap[builtins.str, ostrel.api.robot_pb2.RobotState]:
        """State of each robot, under its key in the configuration."""
    @property
    def effectors(self) -> google.protobuf.internal.containers.MessageMap[builtins.str, ostrel.api.effector_pb2.EffectorState]:
        """State of each effector, under its key in the configuration."""
    @property
    def items(self) -> google.protobuf.internal.containers.MessageMap[builtins.str, ostrel.api.item_pb2.ItemState]:
        """State of each item, under its key in the configuration."""
    @property
    def cameras(self) -> google.protobuf.internal.containers.MessageMap[builtins.str, ostrel.api.camera_pb2.CameraState]:
        """State of each camera, under its key in the configuration."""
    @property
    def fiducials(self) -> google.protobuf.internal.containers.MessageMap[builtins.str, ostrel.api.fiducial_pb2.FiducialState]:
        """State of each fiducial, under its key in the configuration."""
    @property
    def task_regions(self) -> google.protobuf.internal.containers.MessageMap[builtins.str, ostrel.api.task_pb2.TaskRegionState]:
        """State of each task region, under its key in the configuration."""
    def __init__(
        self,
        *,
        robots: collections.abc.Mapping[builtins.str, ostrel.api.robot_pb2.RobotState] | None = ...,
        effectors: collections.abc.Mapping[builtins.str, ostrel.api.effector_pb2.EffectorState] | None = ...,
        items: collections.abc.Mapping[builtins.str, ostrel.api.item_pb2.ItemState] | None = ...,
        cameras: collections.abc.Mapping[builtins.str, ostrel.api.camera_pb2.CameraState] | None = ...,
        fiducials: collections.abc.Mapping[builtins.str, ostrel.api.fiducial_pb2.FiducialState] | None = ...,
        task_regions: collections.abc.Mapping[builtins.str, ostrel.api.task_pb2.TaskRegionState] | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["robots", "effectors", "items", "cameras", "fiducials", "task_regions"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_WorkspaceState: typing_extensions.TypeAlias = WorkspaceState

@typing.final
class WorkspaceLinkages(google.protobuf.message.Message):
    """Grasped items, by item key, tied to what holds them."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    @typing.final
    class GraspedItemsEntry(google.protobuf.message.Message):
        DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

        KEY_FIELD_NUMBER: builtins.int
        VALUE_FIELD_NUMBER: builtins.int
        key: builtins.str
        @property
        def value(self) -> ostrel.api.linkage_pb2.GraspedItemLinkage: ...
        def __init__(
            self,
            *,
            key: builtins.str = ...,
            value: ostrel.api.linkage_pb2.GraspedItemLinkage | None = ...,
        ) -> None: ...
        def HasField(self, field_name: typing.Literal["value"]) -> builtins.bool: ...
        def ClearField(self, field_name: typing.Literal["key", "value"]) -> None: ...
        def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

    GRASPED_ITEMS_FIELD_NUMBER: builtins.int
    @property
    def grasped_items(self) -> google.protobuf.internal.containers.MessageMap[builtins.str, ostrel.api.linkage_pb2.GraspedItemLinkage]:
        """Each grasped item, by its key in items, with what holds it; an item that
 is not held has no entry."""
    def __init__(
        self,
        *,
        grasped_items: collections.abc.Mapping[builtins.str, ostrel.api.linkage_pb2.GraspedItemLinkage] | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["grasped_items"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_WorkspaceLinkages: typing_extensions.TypeAlias = WorkspaceLinkages

@typing.final
class WorkspaceSnapshot(google.protobuf.message.Message):
    """Configuration, state and linkages of the cell in one message."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    CONFIG_FIELD_NUMBER: builtins.int
    STATE_FIELD_NUMBER: builtins.int
    LINKAGES_FIELD_NUMBER: builtins.int
    @property
    def config(self) -> _WorkspaceConfig:
        """What each thing in the cell is."""
    @property
    def state(self) -> _WorkspaceState:
        """Where each thing in the cell stands now."""
    @property
    def linkages(self) -> _WorkspaceLinkages:
        """Which items are held and by what."""
    def __init__(
        self,
        *,
        config: _WorkspaceConfig | None = ...,
        state: _WorkspaceState | None = ...,
        linkages: _WorkspaceLinkages | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["config", "state", "linkages"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["config", "state", "linkages"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_WorkspaceSnapshot: typing_extensions.TypeAlias = WorkspaceSnapshot
