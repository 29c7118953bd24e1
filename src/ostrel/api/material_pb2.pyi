# Generated from the schema files by tools/regenerate.sh. Do not edit.
# Typing stub of ostrel.api.material_pb2, written by protoc-gen-ostrel from
# ostrel/api/material.proto.

import builtins
import google.protobuf.descriptor
import google.protobuf.message
import typing
import typing_extensions

DESCRIPTOR: google.protobuf.descriptor.FileDescriptor

@typing.final
class ColorRgb(google.protobuf.message.Message):
    """A colour as red, green, blue."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    RED_FIELD_NUMBER: builtins.int
    GREEN_FIELD_NUMBER: builtins.int
    BLUE_FIELD_NUMBER: builtins.int
    red: builtins.float
    """Red component, 0 to 1."""
    green: builtins.float
    """Green component, 0 to 1."""
    blue: builtins.float
    """Blue component, 0 to 1."""
    def __init__(
        self,
        *,
        red: builtins.float = ...,
        green: builtins.float = ...,
        blue: builtins.float = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["red", "green", "blue"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_ColorRgb: typing_extensions.TypeAlias = ColorRgb

@typing.final
class Material(google.protobuf.message.Message):
    """Base layer, coat layer and transparency; *_ior are indices of refraction."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    NAME_FIELD_NUMBER: builtins.int
    BASE_RGB_FIELD_NUMBER: builtins.int
    METALLIC_COEFFICIENT_FIELD_NUMBER: builtins.int
    ROUGHNESS_COEFFICIENT_FIELD_NUMBER: builtins.int
    COAT_STRENGTH_FIELD_NUMBER: builtins.int
    COAT_ROUGHNESS_FIELD_NUMBER: builtins.int
    COAT_RGB_FIELD_NUMBER: builtins.int
    BASE_IOR_FIELD_NUMBER: builtins.int
    COAT_IOR_FIELD_NUMBER: builtins.int
    TRANSPARENCY_FIELD_NUMBER: builtins.int
    name: builtins.str
    """Name by which surfaces refer to the material."""
    @property
    def base_rgb(self) -> _ColorRgb:
        """Colour of the base layer."""
    metallic_coefficient: builtins.float
    """How metallic the base layer is, 0 (dielectric) to 1 (metal)."""
    roughness_coefficient: builtins.float
    """Roughness of the base layer, 0 (mirror) to 1 (fully rough)."""
    coat_strength: builtins.float
    """Strength of the coat layer, 0 (no coat) to 1."""
    coat_roughness: builtins.float
    """Roughness of the coat layer, 0 to 1."""
    @property
    def coat_rgb(self) -> _ColorRgb:
        """Colour of the coat layer."""
    base_ior: builtins.float
    """Index of refraction of the base layer (about 1.5 for glass or plastic)."""
    coat_ior: builtins.float
    """Index of refraction of the coat layer."""
    transparency: builtins.float
    """Transparency, 0 (opaque) to 1 (fully transparent)."""
    def __init__(
        self,
        *,
        name: builtins.str = ...,
        base_rgb: _ColorRgb | None = ...,
        metallic_coefficient: builtins.float = ...,
        roughness_coefficient: builtins.float = ...,
        coat_strength: builtins.float = ...,
        coat_roughness: builtins.float = ...,
        coat_rgb: _ColorRgb | None = ...,
        base_ior: builtins.float = ...,
        coat_ior: builtins.float = ...,
        transparency: builtins.float = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["base_rgb", "coat_rgb"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["name", "base_rgb", "metallic_coefficient", "roughness_coefficient", "coat_strength", "coat_roughness", "coat_rgb", "base_ior", "coat_ior", "transparency"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_Material: typing_extensions.TypeAlias = Material
