# Generated from the schema files by tools/regenerate.sh. Do not edit.
# Typing stub of ostrel.api.linkage_pb2, written by protoc-gen-ostrel from
# ostrel/api/linkage.proto.

import builtins
import google.protobuf.descriptor
import google.protobuf.message
import ostrel.api.math_pb2
import typing
import typing_extensions

DESCRIPTOR: google.protobuf.descriptor.FileDescriptor

@typing.final
class GraspedItemLinkage(google.protobuf.message.Message):
    """An item held by an effector: the keys of both, and where the item sits in
 the effector's frame while it is held."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    EFFECTOR_FIELD_NUMBER: builtins.int
    ITEM_FIELD_NUMBER: builtins.int
    EFFECTOR_TO_ITEM_FIELD_NUMBER: builtins.int
    effector: builtins.str
    """The holding effector: a key of the workspace's effectors."""
    item: builtins.str
    """The held item: a key of the workspace's items."""
    @property
    def effector_to_item(self) -> ostrel.api.math_pb2.Pose3:
        """Pose of the item in the effector's frame while it is held."""
    def __init__(
        self,
        *,
        effector: builtins.str = ...,
        item: builtins.str = ...,
        effector_to_item: ostrel.api.math_pb2.Pose3 | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["effector_to_item"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["effector", "item", "effector_to_item"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_GraspedItemLinkage: typing_extensions.TypeAlias = GraspedItemLinkage
