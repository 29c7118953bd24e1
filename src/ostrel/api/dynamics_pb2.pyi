# Generated from the schema files by tools/regenerate.sh. Do not edit.
# Typing stub of ostrel.api.dynamics_pb2, written by protoc-gen-ostrel from
# ostrel/api/dynamics.proto.

import builtins
import collections.abc
import google.protobuf.descriptor
import google.protobuf.internal.containers
import google.protobuf.internal.enum_type_wrapper
import google.protobuf.message
import ostrel.api.material_pb2
import ostrel.api.math_pb2
import ostrel.api.shape_pb2
import typing
import typing_extensions

DESCRIPTOR: google.protobuf.descriptor.FileDescriptor

class _DegreeOfFreedom:
    ValueType = typing.NewType("ValueType", builtins.int)
    V: typing_extensions.TypeAlias = ValueType

class _DegreeOfFreedomEnumTypeWrapper(google.protobuf.internal.enum_type_wrapper._EnumTypeWrapper[_DegreeOfFreedom.ValueType], builtins.type):  # pyright: ignore[reportPrivateUsage]
    DESCRIPTOR: google.protobuf.descriptor.EnumDescriptor
    FIXED_0DOF: _DegreeOfFreedom.ValueType  # 0
    ROTARY_1DOF: _DegreeOfFreedom.ValueType  # 1
    LINEAR_1DOF: _DegreeOfFreedom.ValueType  # 2

class DegreeOfFreedom(_DegreeOfFreedom, metaclass=_DegreeOfFreedomEnumTypeWrapper):
    """Kind of motion a joint allows."""

FIXED_0DOF: DegreeOfFreedom.ValueType  # 0
ROTARY_1DOF: DegreeOfFreedom.ValueType  # 1
LINEAR_1DOF: DegreeOfFreedom.ValueType  # 2

@typing.final
class Moments(google.protobuf.message.Message):
    """Upper triangle of a symmetric inertia tensor, in kilogram square metres."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    XX_FIELD_NUMBER: builtins.int
    XY_FIELD_NUMBER: builtins.int
    XZ_FIELD_NUMBER: builtins.int
    YY_FIELD_NUMBER: builtins.int
    YZ_FIELD_NUMBER: builtins.int
    ZZ_FIELD_NUMBER: builtins.int
    xx: builtins.float
    """Moment about the x axis."""
    xy: builtins.float
    """Product of inertia of x and y."""
    xz: builtins.float
    """Product of inertia of x and z."""
    yy: builtins.float
    """Moment about the y axis."""
    yz: builtins.float
    """Product of inertia of y and z."""
    zz: builtins.float
    """Moment about the z axis."""
    def __init__(
        self,
        *,
        xx: builtins.float = ...,
        xy: builtins.float = ...,
        xz: builtins.float = ...,
        yy: builtins.float = ...,
        yz: builtins.float = ...,
        zz: builtins.float = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["xx", "xy", "xz", "yy", "yz", "zz"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_Moments: typing_extensions.TypeAlias = Moments

@typing.final
class Inertia(google.protobuf.message.Message):
    """Mass properties of a body."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    CENTER_FIELD_NUMBER: builtins.int
    MASS_FIELD_NUMBER: builtins.int
    MOMENTS_FIELD_NUMBER: builtins.int
    @property
    def center(self) -> ostrel.api.math_pb2.Vector3:
        """Centre of mass in the body's frame, in metres."""
    mass: builtins.float
    """Mass in kilograms."""
    @property
    def moments(self) -> _Moments:
        """Inertia tensor about the centre of mass."""
    def __init__(
        self,
        *,
        center: ostrel.api.math_pb2.Vector3 | None = ...,
        mass: builtins.float = ...,
        moments: _Moments | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["center", "moments"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["center", "mass", "moments"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_Inertia: typing_extensions.TypeAlias = Inertia

@typing.final
class Body(google.protobuf.message.Message):
    """One rigid body with its geometry and materials."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    NAME_FIELD_NUMBER: builtins.int
    INERTIA_FIELD_NUMBER: builtins.int
    SURFACES_FIELD_NUMBER: builtins.int
    OBSTACLES_FIELD_NUMBER: builtins.int
    MATERIALS_FIELD_NUMBER: builtins.int
    name: builtins.str
    """Name by which joints and a robot's interface_link refer to the body."""
    @property
    def inertia(self) -> _Inertia:
        """Mass properties; absent when unknown."""
    @property
    def surfaces(self) -> google.protobuf.internal.containers.RepeatedCompositeFieldContainer[ostrel.api.shape_pb2.Surface]:
        """Meshes that show the body."""
    @property
    def obstacles(self) -> google.protobuf.internal.containers.RepeatedCompositeFieldContainer[ostrel.api.shape_pb2.Obstacle]:
        """Primitive solids that the body collides with."""
    @property
    def materials(self) -> google.protobuf.internal.containers.RepeatedCompositeFieldContainer[ostrel.api.material_pb2.Material]:
        """Materials that the body's surfaces name."""
    def __init__(
        self,
        *,
        name: builtins.str = ...,
        inertia: _Inertia | None = ...,
        surfaces: collections.abc.Iterable[ostrel.api.shape_pb2.Surface] | None = ...,
        obstacles: collections.abc.Iterable[ostrel.api.shape_pb2.Obstacle] | None = ...,
        materials: collections.abc.Iterable[ostrel.api.material_pb2.Material] | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["inertia"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["name", "inertia", "surfaces", "obstacles", "materials"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_Body: typing_extensions.TypeAlias = Body

@typing.final
class Joint(google.protobuf.message.Message):
    """Links a parent body to a child body (by name)."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    NAME_FIELD_NUMBER: builtins.int
    PARENT_FIELD_NUMBER: builtins.int
    CHILD_FIELD_NUMBER: builtins.int
    POSE_FIELD_NUMBER: builtins.int
    DOF_FIELD_NUMBER: builtins.int
    AXIS_FIELD_NUMBER: builtins.int
    name: builtins.str
    """Name of the joint."""
    parent: builtins.str
    """The body the joint hangs from: a Body.name of the same chain."""
    child: builtins.str
    """The body the joint moves: a Body.name of the same chain."""
    @property
    def pose(self) -> ostrel.api.math_pb2.Pose3:
        """Where the joint stands, relative to the parent body."""
    dof: _DegreeOfFreedom.ValueType
    """Kind of motion; unset is a fixed joint."""
    @property
    def axis(self) -> ostrel.api.math_pb2.Vector3:
        """Axis of rotation (rotary) or direction of travel (linear), in the joint's
 frame; not used by a fixed joint."""
    def __init__(
        self,
        *,
        name: builtins.str = ...,
        parent: builtins.str = ...,
        child: builtins.str = ...,
        pose: ostrel.api.math_pb2.Pose3 | None = ...,
        dof: _DegreeOfFreedom.ValueType = ...,
        axis: ostrel.api.math_pb2.Vector3 | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["pose", "axis"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["name", "parent", "child", "pose", "dof", "axis"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_Joint: typing_extensions.TypeAlias = Joint

@typing.final
class Chain(google.protobuf.message.Message):
    """One articulated mechanism."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    JOINTS_FIELD_NUMBER: builtins.int
    BODIES_FIELD_NUMBER: builtins.int
    MATERIALS_FIELD_NUMBER: builtins.int
    @property
    def joints(self) -> google.protobuf.internal.containers.RepeatedCompositeFieldContainer[_Joint]:
        """The joints that link the bodies."""
    @property
    def bodies(self) -> google.protobuf.internal.containers.RepeatedCompositeFieldContainer[_Body]:
        """The rigid bodies of the mechanism."""
    @property
    def materials(self) -> google.protobuf.internal.containers.RepeatedCompositeFieldContainer[ostrel.api.material_pb2.Material]:
        """Materials that any surface of the chain's bodies may name."""
    def __init__(
        self,
        *,
        joints: collections.abc.Iterable[_Joint] | None = ...,
        bodies: collections.abc.Iterable[_Body] | None = ...,
        materials: collections.abc.Iterable[ostrel.api.material_pb2.Material] | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["joints", "bodies", "materials"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_Chain: typing_extensions.TypeAlias = Chain
