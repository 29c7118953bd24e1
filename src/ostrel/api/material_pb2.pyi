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
    green: builtins.float
    blue: builtins.float
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
    @property
    def base_rgb(self) -> _ColorRgb: ...
    metallic_coefficient: builtins.float
    roughness_coefficient: builtins.float
    coat_strength: builtins.float
    coat_roughness: builtins.float
    @property
    def coat_rgb(self) -> _ColorRgb: ...
    base_ior: builtins.float
    coat_ior: builtins.float
    transparency: builtins.float
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
