# Generated from the schema files by tools/regenerate.sh. Do not edit.
# Typing stub of ostrel.api.shape_pb2, written by protoc-gen-ostrel from
# ostrel/api/shape.proto.

import builtins
import google.protobuf.descriptor
import google.protobuf.message
import ostrel.api.math_pb2
import typing
import typing_extensions

DESCRIPTOR: google.protobuf.descriptor.FileDescriptor

@typing.final
class Box(google.protobuf.message.Message):
    """Box by its extent along each axis."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    SIZE_FIELD_NUMBER: builtins.int
    @property
    def size(self) -> ostrel.api.math_pb2.Vector3:
        """Full extent along the box's x, y and z axes, in metres."""
    def __init__(
        self,
        *,
        size: ostrel.api.math_pb2.Vector3 | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["size"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["size"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_Box: typing_extensions.TypeAlias = Box

@typing.final
class Sphere(google.protobuf.message.Message):
    """Sphere by its radius."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    RADIUS_FIELD_NUMBER: builtins.int
    radius: builtins.float
    """Radius in metres."""
    def __init__(
        self,
        *,
        radius: builtins.float = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["radius"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_Sphere: typing_extensions.TypeAlias = Sphere

@typing.final
class Cylinder(google.protobuf.message.Message):
    """Cylinder by radius and height."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    RADIUS_FIELD_NUMBER: builtins.int
    HEIGHT_FIELD_NUMBER: builtins.int
    radius: builtins.float
    """Radius in metres."""
    height: builtins.float
    """Length along the cylinder's axis, in metres."""
    def __init__(
        self,
        *,
        radius: builtins.float = ...,
        height: builtins.float = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["radius", "height"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_Cylinder: typing_extensions.TypeAlias = Cylinder

@typing.final
class Capsule(google.protobuf.message.Message):
    """Capsule by radius and height."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    RADIUS_FIELD_NUMBER: builtins.int
    HEIGHT_FIELD_NUMBER: builtins.int
    radius: builtins.float
    """Radius of the body and of the two end caps, in metres."""
    height: builtins.float
    """Length along the capsule's axis, in metres."""
    def __init__(
        self,
        *,
        radius: builtins.float = ...,
        height: builtins.float = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["radius", "height"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_Capsule: typing_extensions.TypeAlias = Capsule

@typing.final
class Primitive(google.protobuf.message.Message):
    """Exactly one primitive solid."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    BOX_FIELD_NUMBER: builtins.int
    SPHERE_FIELD_NUMBER: builtins.int
    CYLINDER_FIELD_NUMBER: builtins.int
    CAPSULE_FIELD_NUMBER: builtins.int
    @property
    def box(self) -> _Box:
        """A box."""
    @property
    def sphere(self) -> _Sphere:
        """A sphere."""
    @property
    def cylinder(self) -> _Cylinder:
        """A cylinder."""
    @property
    def capsule(self) -> _Capsule:
        """A capsule: a cylinder with hemispherical ends."""
    def __init__(
        self,
        *,
        box: _Box | None = ...,
        sphere: _Sphere | None = ...,
        cylinder: _Cylinder | None = ...,
        capsule: _Capsule | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["box", "sphere", "cylinder", "capsule", "type"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["box", "sphere", "cylinder", "capsule", "type"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.Literal["type"]) -> typing.Literal["box", "sphere", "cylinder", "capsule"] | None: ...

_Primitive: typing_extensions.TypeAlias = Primitive

@typing.final
class Mesh(google.protobuf.message.Message):
    """A mesh file and its scale factor."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    FILENAME_FIELD_NUMBER: builtins.int
    SCALE_FIELD_NUMBER: builtins.int
    filename: builtins.str
    """Name of the mesh file."""
    scale: builtins.float
    """Factor applied to the mesh's coordinates; unset reads 0."""
    def __init__(
        self,
        *,
        filename: builtins.str = ...,
        scale: builtins.float = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["filename", "scale"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_Mesh: typing_extensions.TypeAlias = Mesh

@typing.final
class Obstacle(google.protobuf.message.Message):
    """A named, posed primitive used for collision."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    NAME_FIELD_NUMBER: builtins.int
    POSE_FIELD_NUMBER: builtins.int
    PRIMITIVE_FIELD_NUMBER: builtins.int
    name: builtins.str
    """Name of the obstacle within its body."""
    @property
    def pose(self) -> ostrel.api.math_pb2.Pose3:
        """Where the solid stands, relative to its body."""
    @property
    def primitive(self) -> _Primitive:
        """The solid itself."""
    def __init__(
        self,
        *,
        name: builtins.str = ...,
        pose: ostrel.api.math_pb2.Pose3 | None = ...,
        primitive: _Primitive | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["pose", "primitive"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["name", "pose", "primitive"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_Obstacle: typing_extensions.TypeAlias = Obstacle

@typing.final
class Surface(google.protobuf.message.Message):
    """A named, posed mesh with the name of its material."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    NAME_FIELD_NUMBER: builtins.int
    POSE_FIELD_NUMBER: builtins.int
    MESH_FIELD_NUMBER: builtins.int
    MATERIAL_FIELD_NUMBER: builtins.int
    name: builtins.str
    """Name of the surface within its body."""
    @property
    def pose(self) -> ostrel.api.math_pb2.Pose3:
        """Where the mesh stands, relative to its body."""
    @property
    def mesh(self) -> _Mesh:
        """The mesh shown."""
    material: builtins.str
    """Name of its material: the name of one of the materials listed beside it
 in the body or chain; empty for none."""
    def __init__(
        self,
        *,
        name: builtins.str = ...,
        pose: ostrel.api.math_pb2.Pose3 | None = ...,
        mesh: _Mesh | None = ...,
        material: builtins.str = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["pose", "mesh"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["name", "pose", "mesh", "material"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_Surface: typing_extensions.TypeAlias = Surface
