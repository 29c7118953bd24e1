# Generated from the schema files by tools/regenerate.sh. Do not edit.
# Typing stub of ostrel.api.math_pb2, written by protoc-gen-ostrel from
# ostrel/api/math.proto.

import builtins
import collections.abc
import google.protobuf.descriptor
import google.protobuf.internal.containers
import google.protobuf.message
import typing
import typing_extensions

DESCRIPTOR: google.protobuf.descriptor.FileDescriptor

@typing.final
class Vector2(google.protobuf.message.Message):
    """A vector of two components, for example a pixel position (x right, y down)."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    X_FIELD_NUMBER: builtins.int
    Y_FIELD_NUMBER: builtins.int
    x: builtins.float
    """First component; for a pixel position, the column, growing to the right."""
    y: builtins.float
    """Second component; for a pixel position, the row, growing downwards."""
    def __init__(
        self,
        *,
        x: builtins.float = ...,
        y: builtins.float = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["x", "y"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_Vector2: typing_extensions.TypeAlias = Vector2

@typing.final
class Vector3(google.protobuf.message.Message):
    """A vector of three components: a point, a direction or a size in metres."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    X_FIELD_NUMBER: builtins.int
    Y_FIELD_NUMBER: builtins.int
    Z_FIELD_NUMBER: builtins.int
    x: builtins.float
    """Component along the x axis."""
    y: builtins.float
    """Component along the y axis."""
    z: builtins.float
    """Component along the z axis."""
    def __init__(
        self,
        *,
        x: builtins.float = ...,
        y: builtins.float = ...,
        z: builtins.float = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["x", "y", "z"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_Vector3: typing_extensions.TypeAlias = Vector3

@typing.final
class VectorX(google.protobuf.message.Message):
    """A vector of any length, for example one value per joint."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    DATA_FIELD_NUMBER: builtins.int
    @property
    def data(self) -> google.protobuf.internal.containers.RepeatedScalarFieldContainer[builtins.float]:
        """The components in order; empty is a vector of length 0."""
    def __init__(
        self,
        *,
        data: collections.abc.Iterable[builtins.float] | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["data"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_VectorX: typing_extensions.TypeAlias = VectorX

@typing.final
class Pose3(google.protobuf.message.Message):
    """A rigid transform: a position and an orientation as a unit quaternion
 (w, x, y, z). An unset orientation (all zero) is read as the identity."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    POSITION_FIELD_NUMBER: builtins.int
    QW_FIELD_NUMBER: builtins.int
    QX_FIELD_NUMBER: builtins.int
    QY_FIELD_NUMBER: builtins.int
    QZ_FIELD_NUMBER: builtins.int
    @property
    def position(self) -> _Vector3:
        """Translation in metres; absent reads as the origin."""
    qw: builtins.float
    """Scalar part of the orientation quaternion."""
    qx: builtins.float
    """x part of the orientation quaternion's vector."""
    qy: builtins.float
    """y part of the orientation quaternion's vector."""
    qz: builtins.float
    """z part of the orientation quaternion's vector."""
    def __init__(
        self,
        *,
        position: _Vector3 | None = ...,
        qw: builtins.float = ...,
        qx: builtins.float = ...,
        qy: builtins.float = ...,
        qz: builtins.float = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["position"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["position", "qw", "qx", "qy", "qz"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_Pose3: typing_extensions.TypeAlias = Pose3

@typing.final
class Spatial3(google.protobuf.message.Message):
    """A spatial quantity (twist, acceleration, wrench or bound) with its linear
 and angular parts."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    LINEAR_FIELD_NUMBER: builtins.int
    ANGULAR_FIELD_NUMBER: builtins.int
    @property
    def linear(self) -> _Vector3:
        """Linear part: metres (per second, per second squared) or newtons."""
    @property
    def angular(self) -> _Vector3:
        """Angular part: radians (per second, per second squared) or newton metres."""
    def __init__(
        self,
        *,
        linear: _Vector3 | None = ...,
        angular: _Vector3 | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["linear", "angular"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["linear", "angular"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_Spatial3: typing_extensions.TypeAlias = Spatial3
