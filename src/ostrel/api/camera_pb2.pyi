# Generated from the schema files by tools/regenerate.sh. Do not edit.
# Typing stub of ostrel.api.camera_pb2, written by protoc-gen-ostrel from
# ostrel/api/camera.proto.

import builtins
import google.protobuf.descriptor
import google.protobuf.message
import ostrel.api.math_pb2
import typing
import typing_extensions

DESCRIPTOR: google.protobuf.descriptor.FileDescriptor

@typing.final
class CameraIntrinsics(google.protobuf.message.Message):
    """Pinhole camera model with lens distortion coefficients."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    WIDTH_FIELD_NUMBER: builtins.int
    HEIGHT_FIELD_NUMBER: builtins.int
    FOCAL_LENGTH_X_FIELD_NUMBER: builtins.int
    FOCAL_LENGTH_Y_FIELD_NUMBER: builtins.int
    OPTICAL_CENTER_X_FIELD_NUMBER: builtins.int
    OPTICAL_CENTER_Y_FIELD_NUMBER: builtins.int
    DISTORTION_COEFS_FIELD_NUMBER: builtins.int
    width: builtins.int
    """Image width in pixels."""
    height: builtins.int
    """Image height in pixels."""
    focal_length_x: builtins.float
    """Focal length along the image's x axis, in pixels."""
    focal_length_y: builtins.float
    """Focal length along the image's y axis, in pixels."""
    optical_center_x: builtins.float
    """Column of the principal point, in pixels from the left edge."""
    optical_center_y: builtins.float
    """Row of the principal point, in pixels from the top edge."""
    @property
    def distortion_coefs(self) -> ostrel.api.math_pb2.VectorX:
        """Lens distortion coefficients; empty for an undistorted image."""
    def __init__(
        self,
        *,
        width: builtins.int = ...,
        height: builtins.int = ...,
        focal_length_x: builtins.float = ...,
        focal_length_y: builtins.float = ...,
        optical_center_x: builtins.float = ...,
        optical_center_y: builtins.float = ...,
        distortion_coefs: ostrel.api.math_pb2.VectorX | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["distortion_coefs"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["width", "height", "focal_length_x", "focal_length_y", "optical_center_x", "optical_center_y", "distortion_coefs"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_CameraIntrinsics: typing_extensions.TypeAlias = CameraIntrinsics

@typing.final
class RealsenseD435i(google.protobuf.message.Message):
    """Intel RealSense D435i depth camera."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    SERIAL_NUMBER_FIELD_NUMBER: builtins.int
    FRAME_RATE_FPS_FIELD_NUMBER: builtins.int
    MIN_DEPTH_M_FIELD_NUMBER: builtins.int
    MAX_DEPTH_M_FIELD_NUMBER: builtins.int
    serial_number: builtins.str
    """Serial number that picks one physical camera."""
    frame_rate_fps: builtins.int
    """Frame rate in frames per second."""
    min_depth_m: builtins.float
    """Nearest depth reported, in metres."""
    max_depth_m: builtins.float
    """Farthest depth reported, in metres."""
    def __init__(
        self,
        *,
        serial_number: builtins.str = ...,
        frame_rate_fps: builtins.int = ...,
        min_depth_m: builtins.float = ...,
        max_depth_m: builtins.float = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["serial_number", "frame_rate_fps", "min_depth_m", "max_depth_m"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_RealsenseD435i: typing_extensions.TypeAlias = RealsenseD435i

@typing.final
class RealsenseD405(google.protobuf.message.Message):
    """Intel RealSense D405 depth camera."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    SERIAL_NUMBER_FIELD_NUMBER: builtins.int
    FRAME_RATE_FPS_FIELD_NUMBER: builtins.int
    MIN_DEPTH_M_FIELD_NUMBER: builtins.int
    MAX_DEPTH_M_FIELD_NUMBER: builtins.int
    serial_number: builtins.str
    """Serial number that picks one physical camera."""
    frame_rate_fps: builtins.int
    """Frame rate in frames per second."""
    min_depth_m: builtins.float
    """Nearest depth reported, in metres."""
    max_depth_m: builtins.float
    """Farthest depth reported, in metres."""
    def __init__(
        self,
        *,
        serial_number: builtins.str = ...,
        frame_rate_fps: builtins.int = ...,
        min_depth_m: builtins.float = ...,
        max_depth_m: builtins.float = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["serial_number", "frame_rate_fps", "min_depth_m", "max_depth_m"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_RealsenseD405: typing_extensions.TypeAlias = RealsenseD405

@typing.final
class CameraConfig(google.protobuf.message.Message):
    """Configuration of one camera: intrinsics for any model, then the device."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    INTRINSICS_FIELD_NUMBER: builtins.int
    REALSENSE_D435I_FIELD_NUMBER: builtins.int
    REALSENSE_D405_FIELD_NUMBER: builtins.int
    @property
    def intrinsics(self) -> _CameraIntrinsics:
        """The camera's pinhole model; absent when not known."""
    @property
    def realsense_d435i(self) -> _RealsenseD435i:
        """An Intel RealSense D435i."""
    @property
    def realsense_d405(self) -> _RealsenseD405:
        """An Intel RealSense D405."""
    def __init__(
        self,
        *,
        intrinsics: _CameraIntrinsics | None = ...,
        realsense_d435i: _RealsenseD435i | None = ...,
        realsense_d405: _RealsenseD405 | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["intrinsics", "realsense_d435i", "realsense_d405", "type"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["intrinsics", "realsense_d435i", "realsense_d405", "type"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.Literal["type"]) -> typing.Literal["realsense_d435i", "realsense_d405"] | None: ...

_CameraConfig: typing_extensions.TypeAlias = CameraConfig

@typing.final
class CameraState(google.protobuf.message.Message):
    """Current pose of one camera."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    BASE_POSE_FIELD_NUMBER: builtins.int
    @property
    def base_pose(self) -> ostrel.api.math_pb2.Pose3:
        """Pose of the camera in the work cell."""
    def __init__(
        self,
        *,
        base_pose: ostrel.api.math_pb2.Pose3 | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["base_pose"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["base_pose"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_CameraState: typing_extensions.TypeAlias = CameraState
