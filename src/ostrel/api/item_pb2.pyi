# Generated from the schema files by tools/regenerate.sh. Do not edit.
# Typing stub of ostrel.api.item_pb2, written by protoc-gen-ostrel from
# ostrel/api/item.proto.

import builtins
import collections.abc
import google.protobuf.descriptor
import google.protobuf.internal.containers
import google.protobuf.message
import ostrel.api.dynamics_pb2
import ostrel.api.math_pb2
import typing
import typing_extensions

DESCRIPTOR: google.protobuf.descriptor.FileDescriptor

@typing.final
class Desk(google.protobuf.message.Message):
    """A desk; the model takes no parameters."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]
    def __init__(self) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.NoReturn) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_Desk: typing_extensions.TypeAlias = Desk

@typing.final
class CustomItem(google.protobuf.message.Message):
    """An item described by its own rigid body."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    BODY_FIELD_NUMBER: builtins.int
    @property
    def body(self) -> ostrel.api.dynamics_pb2.Body:
        """Inertia, surfaces, obstacles and materials of the item."""
    def __init__(
        self,
        *,
        body: ostrel.api.dynamics_pb2.Body | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["body"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["body"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_CustomItem: typing_extensions.TypeAlias = CustomItem

@typing.final
class ItemConfig(google.protobuf.message.Message):
    """Configuration of one item: its task regions, collision switches and model."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    TASK_REGIONS_FIELD_NUMBER: builtins.int
    CHECK_ROBOT_BASE_COLLISION_FIELD_NUMBER: builtins.int
    CHECK_CONTACT_SURFACE_COLLISION_FIELD_NUMBER: builtins.int
    CHECK_OTHER_ITEM_COLLISION_FIELD_NUMBER: builtins.int
    DESK_FIELD_NUMBER: builtins.int
    CUSTOM_ITEM_FIELD_NUMBER: builtins.int
    @property
    def task_regions(self) -> google.protobuf.internal.containers.RepeatedScalarFieldContainer[builtins.str]:
        """Task regions that belong to the item: keys of the workspace's
 task_regions, in order."""
    check_robot_base_collision: builtins.bool
    """True tests the item for collision with robot bases."""
    check_contact_surface_collision: builtins.bool
    """True tests the item for collision with contact surfaces."""
    check_other_item_collision: builtins.bool
    """True tests the item for collision with other items."""
    @property
    def desk(self) -> _Desk:
        """A desk."""
    @property
    def custom_item(self) -> _CustomItem:
        """An item with its own body."""
    def __init__(
        self,
        *,
        task_regions: collections.abc.Iterable[builtins.str] | None = ...,
        check_robot_base_collision: builtins.bool = ...,
        check_contact_surface_collision: builtins.bool = ...,
        check_other_item_collision: builtins.bool = ...,
        desk: _Desk | None = ...,
        custom_item: _CustomItem | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["desk", "custom_item", "type"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["task_regions", "check_robot_base_collision", "check_contact_surface_collision", "check_other_item_collision", "desk", "custom_item", "type"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.Literal["type"]) -> typing.Literal["desk", "custom_item"] | None: ...

_ItemConfig: typing_extensions.TypeAlias = ItemConfig

@typing.final
class ItemState(google.protobuf.message.Message):
    """Current pose of one item."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    BASE_POSE_FIELD_NUMBER: builtins.int
    @property
    def base_pose(self) -> ostrel.api.math_pb2.Pose3:
        """Pose of the item in the work cell."""
    def __init__(
        self,
        *,
        base_pose: ostrel.api.math_pb2.Pose3 | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["base_pose"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["base_pose"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_ItemState: typing_extensions.TypeAlias = ItemState
