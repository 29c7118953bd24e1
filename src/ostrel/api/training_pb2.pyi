# Generated from the schema files by tools/regenerate.sh. Do not edit.
# Typing stub of ostrel.api.training_pb2, written by protoc-gen-ostrel from
# ostrel/api/training.proto.

import builtins
import collections.abc
import google.protobuf.descriptor
import google.protobuf.internal.containers
import google.protobuf.message
import ostrel.api.project_pb2
import typing
import typing_extensions

DESCRIPTOR: google.protobuf.descriptor.FileDescriptor

@typing.final
class TrainerAction(google.protobuf.message.Message):
    """A request to the trainer: only a new project."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    NAME_FIELD_NUMBER: builtins.int
    SIMULATE_FIELD_NUMBER: builtins.int
    UPDATE_PROJECT_FIELD_NUMBER: builtins.int
    name: builtins.str
    """Name of the action."""
    simulate: builtins.bool
    """True carries the action out in simulation rather than on the devices."""
    @property
    def update_project(self) -> ostrel.api.project_pb2.ProjectSnapshot:
        """A new project for the trainer to work with."""
    def __init__(
        self,
        *,
        name: builtins.str = ...,
        simulate: builtins.bool = ...,
        update_project: ostrel.api.project_pb2.ProjectSnapshot | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["update_project", "type"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["name", "simulate", "update_project", "type"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.Literal["type"]) -> typing.Literal["update_project"] | None: ...

_TrainerAction: typing_extensions.TypeAlias = TrainerAction

@typing.final
class TrainerMetrics(google.protobuf.message.Message):
    """Timing of one trainer step."""
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

_TrainerMetrics: typing_extensions.TypeAlias = TrainerMetrics

@typing.final
class TrainerProducts(google.protobuf.message.Message):
    """Trainer output: convergence flag and named losses."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    @typing.final
    class LossesEntry(google.protobuf.message.Message):
        DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

        KEY_FIELD_NUMBER: builtins.int
        VALUE_FIELD_NUMBER: builtins.int
        key: builtins.str
        value: builtins.float
        def __init__(
            self,
            *,
            key: builtins.str = ...,
            value: builtins.float = ...,
        ) -> None: ...
        def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
        def ClearField(self, field_name: typing.Literal["key", "value"]) -> None: ...
        def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

    METRICS_FIELD_NUMBER: builtins.int
    CONVERGED_FIELD_NUMBER: builtins.int
    LOSSES_FIELD_NUMBER: builtins.int
    @property
    def metrics(self) -> _TrainerMetrics:
        """Timing of the step that produced these results."""
    converged: builtins.bool
    """True once training has converged."""
    @property
    def losses(self) -> google.protobuf.internal.containers.ScalarMap[builtins.str, builtins.float]:
        """Current value of each loss, by loss name; a loss of 0 is still listed."""
    def __init__(
        self,
        *,
        metrics: _TrainerMetrics | None = ...,
        converged: builtins.bool = ...,
        losses: collections.abc.Mapping[builtins.str, builtins.float] | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["metrics"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["metrics", "converged", "losses"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_TrainerProducts: typing_extensions.TypeAlias = TrainerProducts
