# Generated from the schema files by tools/regenerate.sh. Do not edit.
# Typing stub of ostrel.api.fiducial_pb2, written by protoc-gen-ostrel from
# ostrel/api/fiducial.proto.

import builtins
import google.protobuf.descriptor
import google.protobuf.message
import ostrel.api.math_pb2
import typing
import typing_extensions

DESCRIPTOR: google.protobuf.descriptor.FileDescriptor

@typing.final
class VisualMarker(google.protobuf.message.Message):
    """A square visual marker, by tag identifier and side length."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    TAG_ID_FIELD_NUMBER: builtins.int
    MARKER_LENGTH_M_FIELD_NUMBER: builtins.int
    tag_id: builtins.int
    """Identifier encoded in the marker."""
    marker_length_m: builtins.float
    """Side length of the marker in metres."""
    def __init__(
        self,
        *,
        tag_id: builtins.int = ...,
        marker_length_m: builtins.float = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["tag_id", "marker_length_m"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_VisualMarker: typing_extensions.TypeAlias = VisualMarker

@typing.final
class FiducialConfig(google.protobuf.message.Message):
    """Configuration of one fiducial: the marker model."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    VISUAL_MARKER_FIELD_NUMBER: builtins.int
    @property
    def visual_marker(self) -> _VisualMarker:
        """A visual marker."""
    def __init__(
        self,
        *,
        visual_marker: _VisualMarker | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["visual_marker", "type"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["visual_marker", "type"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.Literal["type"]) -> typing.Literal["visual_marker"] | None: ...

_FiducialConfig: typing_extensions.TypeAlias = FiducialConfig

@typing.final
class FiducialState(google.protobuf.message.Message):
    """Current pose of one fiducial."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    BASE_POSE_FIELD_NUMBER: builtins.int
    @property
    def base_pose(self) -> ostrel.api.math_pb2.Pose3:
        """Pose of the marker in the work cell."""
    def __init__(
        self,
        *,
        base_pose: ostrel.api.math_pb2.Pose3 | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["base_pose"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["base_pose"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_FiducialState: typing_extensions.TypeAlias = FiducialState
