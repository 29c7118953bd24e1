# Generated from the schema files by tools/regenerate.sh. Do not edit.
# Typing stub of ostrel.api.project_pb2, written by protoc-gen-ostrel from
# ostrel/api/project.proto.

import builtins
import collections.abc
import google.protobuf.descriptor
import google.protobuf.internal.containers
import google.protobuf.message
import ostrel.api.execution_pb2
import ostrel.api.variable_pb2
import ostrel.api.workspace_pb2
import typing
import typing_extensions

DESCRIPTOR: google.protobuf.descriptor.FileDescriptor

@typing.final
class ProjectSnapshot(google.protobuf.message.Message):
    """Version, work cell, behavior trees by name, and variables."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    @typing.final
    class BehaviorsEntry(google.protobuf.message.Message):
        DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

        KEY_FIELD_NUMBER: builtins.int
        VALUE_FIELD_NUMBER: builtins.int
        key: builtins.str
        @property
        def value(self) -> ostrel.api.execution_pb2.Behavior: ...
        def __init__(
            self,
            *,
            key: builtins.str = ...,
            value: ostrel.api.execution_pb2.Behavior | None = ...,
        ) -> None: ...
        def HasField(self, field_name: typing.Literal["value"]) -> builtins.bool: ...
        def ClearField(self, field_name: typing.Literal["key", "value"]) -> None: ...
        def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

    VERSION_FIELD_NUMBER: builtins.int
    WORKSPACE_FIELD_NUMBER: builtins.int
    BEHAVIORS_FIELD_NUMBER: builtins.int
    VARIABLES_FIELD_NUMBER: builtins.int
    version: builtins.str
    """Free text that identifies the version of the project; empty when unset."""
    @property
    def workspace(self) -> ostrel.api.workspace_pb2.WorkspaceSnapshot:
        """The work cell: configuration, state and linkages of everything in it;
 absent when the snapshot carries no workspace."""
    @property
    def behaviors(self) -> google.protobuf.internal.containers.MessageMap[builtins.str, ostrel.api.execution_pb2.Behavior]:
        """Behavior trees by name; each value is the root of a whole tree, and the
 key is what a program run names."""
    @property
    def variables(self) -> ostrel.api.variable_pb2.VariablesConfig:
        """Named motion limits and target generators that behaviors refer to;
 absent when the snapshot carries none."""
    def __init__(
        self,
        *,
        version: builtins.str = ...,
        workspace: ostrel.api.workspace_pb2.WorkspaceSnapshot | None = ...,
        behaviors: collections.abc.Mapping[builtins.str, ostrel.api.execution_pb2.Behavior] | None = ...,
        variables: ostrel.api.variable_pb2.VariablesConfig | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["workspace", "variables"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["version", "workspace", "behaviors", "variables"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_ProjectSnapshot: typing_extensions.TypeAlias = ProjectSnapshot
