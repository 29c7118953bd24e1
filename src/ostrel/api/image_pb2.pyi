# Generated from the schema files by tools/regenerate.sh. Do not edit.
# Typing stub of ostrel.api.image_pb2, written by protoc-gen-ostrel from
# ostrel/api/image.proto.

import builtins
import google.protobuf.descriptor
import google.protobuf.message
import typing
import typing_extensions

DESCRIPTOR: google.protobuf.descriptor.FileDescriptor

@typing.final
class Image(google.protobuf.message.Message):
    """One image frame. `encoding` names the pixel layout ("rgb8", "bgr8",
 "mono8", "16UC1" for depth in millimetres, or "jpeg"/"png" for compressed
 data); `data` holds the pixels row by row, `step` bytes per row."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    CAMERA_FIELD_NUMBER: builtins.int
    TIMESTAMP_NS_FIELD_NUMBER: builtins.int
    ENCODING_FIELD_NUMBER: builtins.int
    WIDTH_FIELD_NUMBER: builtins.int
    HEIGHT_FIELD_NUMBER: builtins.int
    STEP_FIELD_NUMBER: builtins.int
    DATA_FIELD_NUMBER: builtins.int
    camera: builtins.str
    """The camera that took the image: a key of the workspace's cameras."""
    timestamp_ns: builtins.int
    """When the image was taken, in nanoseconds."""
    encoding: builtins.str
    """Pixel layout of data, for example "rgb8", "mono8", "16UC1" or "png"."""
    width: builtins.int
    """Width in pixels."""
    height: builtins.int
    """Height in pixels."""
    step: builtins.int
    """Bytes per row of data; unused for compressed encodings."""
    data: builtins.bytes
    """The pixels row by row, top row first, or the compressed file."""
    def __init__(
        self,
        *,
        camera: builtins.str = ...,
        timestamp_ns: builtins.int = ...,
        encoding: builtins.str = ...,
        width: builtins.int = ...,
        height: builtins.int = ...,
        step: builtins.int = ...,
        data: builtins.bytes = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["camera", "timestamp_ns", "encoding", "width", "height", "step", "data"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_Image: typing_extensions.TypeAlias = Image
