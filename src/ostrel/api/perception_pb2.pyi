# Generated from the schema files by tools/regenerate.sh. Do not edit.
# Typing stub of ostrel.api.perception_pb2, written by protoc-gen-ostrel from
# ostrel/api/perception.proto.

import builtins
import collections.abc
import google.protobuf.descriptor
import google.protobuf.internal.containers
import google.protobuf.message
import ostrel.api.execution_pb2
import ostrel.api.image_pb2
import ostrel.api.math_pb2
import ostrel.api.project_pb2
import typing
import typing_extensions

DESCRIPTOR: google.protobuf.descriptor.FileDescriptor

@typing.final
class PerceptionAction(google.protobuf.message.Message):
    """A project update or one perception step for the agent."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    NAME_FIELD_NUMBER: builtins.int
    SIMULATE_FIELD_NUMBER: builtins.int
    UPDATE_PROJECT_FIELD_NUMBER: builtins.int
    INITIALIZE_PERCEPTION_FIELD_NUMBER: builtins.int
    SHUTDOWN_PERCEPTION_FIELD_NUMBER: builtins.int
    CALIBRATE_CAMERA_FROM_MARKERS_FIELD_NUMBER: builtins.int
    RECORD_IMAGES_FIELD_NUMBER: builtins.int
    PERSPECTIVE_CROP_IMAGE_FIELD_NUMBER: builtins.int
    name: builtins.str
    """Name of the action, as a behavior's name names the step it came from."""
    simulate: builtins.bool
    """True carries the action out in simulation rather than on the devices."""
    @property
    def update_project(self) -> ostrel.api.project_pb2.ProjectSnapshot:
        """A new project for the agent to work with."""
    @property
    def initialize_perception(self) -> ostrel.api.execution_pb2.InitializePerception:
        """Start the agent."""
    @property
    def shutdown_perception(self) -> ostrel.api.execution_pb2.ShutdownPerception:
        """Stop the agent."""
    @property
    def calibrate_camera_from_markers(self) -> ostrel.api.execution_pb2.CalibrateCameraFromMarkers:
        """Calibrate a camera from visual markers."""
    @property
    def record_images(self) -> ostrel.api.execution_pb2.RecordImages:
        """Record images."""
    @property
    def perspective_crop_image(self) -> ostrel.api.execution_pb2.PerspectiveCropImage:
        """Crop a camera image to a task region."""
    def __init__(
        self,
        *,
        name: builtins.str = ...,
        simulate: builtins.bool = ...,
        update_project: ostrel.api.project_pb2.ProjectSnapshot | None = ...,
        initialize_perception: ostrel.api.execution_pb2.InitializePerception | None = ...,
        shutdown_perception: ostrel.api.execution_pb2.ShutdownPerception | None = ...,
        calibrate_camera_from_markers: ostrel.api.execution_pb2.CalibrateCameraFromMarkers | None = ...,
        record_images: ostrel.api.execution_pb2.RecordImages | None = ...,
        perspective_crop_image: ostrel.api.execution_pb2.PerspectiveCropImage | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["update_project", "initialize_perception", "shutdown_perception", "calibrate_camera_from_markers", "record_images", "perspective_crop_image", "type"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["name", "simulate", "update_project", "initialize_perception", "shutdown_perception", "calibrate_camera_from_markers", "record_images", "perspective_crop_image", "type"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.Literal["type"]) -> typing.Literal["update_project", "initialize_perception", "shutdown_perception", "calibrate_camera_from_markers", "record_images", "perspective_crop_image"] | None: ...

_PerceptionAction: typing_extensions.TypeAlias = PerceptionAction

@typing.final
class PerceptionMetrics(google.protobuf.message.Message):
    """Timing of one perception step."""
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

_PerceptionMetrics: typing_extensions.TypeAlias = PerceptionMetrics

@typing.final
class DetectedMarker(google.protobuf.message.Message):
    """A marker seen in one camera's image."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    CAMERA_FIELD_NUMBER: builtins.int
    CORNERS_FIELD_NUMBER: builtins.int
    ID_FIELD_NUMBER: builtins.int
    camera: builtins.str
    """The camera that saw the marker: a key of the workspace's cameras."""
    @property
    def corners(self) -> google.protobuf.internal.containers.RepeatedCompositeFieldContainer[ostrel.api.math_pb2.Vector2]:
        """The marker's corners in the image, in pixels (x right, y down), in order."""
    id: builtins.int
    """Identifier decoded from the marker; compares with a VisualMarker's tag_id."""
    def __init__(
        self,
        *,
        camera: builtins.str = ...,
        corners: collections.abc.Iterable[ostrel.api.math_pb2.Vector2] | None = ...,
        id: builtins.int = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["camera", "corners", "id"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_DetectedMarker: typing_extensions.TypeAlias = DetectedMarker

@typing.final
class PerceptionProducts(google.protobuf.message.Message):
    """Metrics, detected markers and camera poses by camera key."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    @typing.final
    class CameraPosesEntry(google.protobuf.message.Message):
        DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

        KEY_FIELD_NUMBER: builtins.int
        VALUE_FIELD_NUMBER: builtins.int
        key: builtins.str
        @property
        def value(self) -> ostrel.api.math_pb2.Pose3: ...
        def __init__(
            self,
            *,
            key: builtins.str = ...,
            value: ostrel.api.math_pb2.Pose3 | None = ...,
        ) -> None: ...
        def HasField(self, field_name: typing.Literal["value"]) -> builtins.bool: ...
        def ClearField(self, field_name: typing.Literal["key", "value"]) -> None: ...
        def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

    METRICS_FIELD_NUMBER: builtins.int
    DETECTED_MARKERS_FIELD_NUMBER: builtins.int
    CAMERA_POSES_FIELD_NUMBER: builtins.int
    @property
    def metrics(self) -> _PerceptionMetrics:
        """Timing of the step that produced these results."""
    @property
    def detected_markers(self) -> google.protobuf.internal.containers.RepeatedCompositeFieldContainer[_DetectedMarker]:
        """Markers found in the camera images, in order."""
    @property
    def camera_poses(self) -> google.protobuf.internal.containers.MessageMap[builtins.str, ostrel.api.math_pb2.Pose3]:
        """Camera poses the agent determined, by key of the workspace's cameras."""
    def __init__(
        self,
        *,
        metrics: _PerceptionMetrics | None = ...,
        detected_markers: collections.abc.Iterable[_DetectedMarker] | None = ...,
        camera_poses: collections.abc.Mapping[builtins.str, ostrel.api.math_pb2.Pose3] | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["metrics"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["metrics", "detected_markers", "camera_poses"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_PerceptionProducts: typing_extensions.TypeAlias = PerceptionProducts

@typing.final
class ImagesProducts(google.protobuf.message.Message):
    """Images the agent produced."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    IMAGES_FIELD_NUMBER: builtins.int
    @property
    def images(self) -> google.protobuf.internal.containers.RepeatedCompositeFieldContainer[ostrel.api.image_pb2.Image]:
        """The images, in order."""
    def __init__(
        self,
        *,
        images: collections.abc.Iterable[ostrel.api.image_pb2.Image] | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["images"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_ImagesProducts: typing_extensions.TypeAlias = ImagesProducts
