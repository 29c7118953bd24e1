# Generated from the schema files by tools/regenerate.sh. Do not edit.
# Typing stub of ostrel.api.tool_pb2, written by protoc-gen-ostrel from
# ostrel/api/tool.proto.

import builtins
import google.protobuf.descriptor
import google.protobuf.message
import ostrel.api.math_pb2
import typing
import typing_extensions

DESCRIPTOR: google.protobuf.descriptor.FileDescriptor

@typing.final
class ToolFrame(google.protobuf.message.Message):
    """A tool centre point: its pose relative to the robot's flange, and the
 payload the tool adds to the arm."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    FLANGE_TO_TOOL_FIELD_NUMBER: builtins.int
    PAYLOAD_MASS_KG_FIELD_NUMBER: builtins.int
    PAYLOAD_CENTER_FIELD_NUMBER: builtins.int
    @property
    def flange_to_tool(self) -> ostrel.api.math_pb2.Pose3:
        """Pose of the tool centre point in the flange's frame; absent is the
 flange itself."""
    payload_mass_kg: builtins.float
    """Mass the tool adds to the arm, in kilograms; 0 adds none."""
    @property
    def payload_center(self) -> ostrel.api.math_pb2.Vector3:
        """Centre of mass of the payload in the flange's frame, in metres."""
    def __init__(
        self,
        *,
        flange_to_tool: ostrel.api.math_pb2.Pose3 | None = ...,
        payload_mass_kg: builtins.float = ...,
        payload_center: ostrel.api.math_pb2.Vector3 | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["flange_to_tool", "payload_center"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["flange_to_tool", "payload_mass_kg", "payload_center"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_ToolFrame: typing_extensions.TypeAlias = ToolFrame
