# Generated from the schema files by tools/regenerate.sh. Do not edit.
# Typing stub of ostrel.api.probability_pb2, written by protoc-gen-ostrel from
# ostrel/api/probability.proto.

import builtins
import google.protobuf.descriptor
import google.protobuf.message
import ostrel.api.math_pb2
import typing
import typing_extensions

DESCRIPTOR: google.protobuf.descriptor.FileDescriptor

@typing.final
class Uniform(google.protobuf.message.Message):
    """Uniform per component between lower and upper."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    LOWER_FIELD_NUMBER: builtins.int
    UPPER_FIELD_NUMBER: builtins.int
    @property
    def lower(self) -> ostrel.api.math_pb2.VectorX:
        """Lower bound of each component."""
    @property
    def upper(self) -> ostrel.api.math_pb2.VectorX:
        """Upper bound of each component, in the same order as lower."""
    def __init__(
        self,
        *,
        lower: ostrel.api.math_pb2.VectorX | None = ...,
        upper: ostrel.api.math_pb2.VectorX | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["lower", "upper"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["lower", "upper"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_Uniform: typing_extensions.TypeAlias = Uniform

@typing.final
class Gaussian(google.protobuf.message.Message):
    """Independent normal per component."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    MEAN_FIELD_NUMBER: builtins.int
    VARIANCE_FIELD_NUMBER: builtins.int
    @property
    def mean(self) -> ostrel.api.math_pb2.VectorX:
        """Mean of each component."""
    @property
    def variance(self) -> ostrel.api.math_pb2.VectorX:
        """Variance of each component (not a standard deviation, not a matrix)."""
    def __init__(
        self,
        *,
        mean: ostrel.api.math_pb2.VectorX | None = ...,
        variance: ostrel.api.math_pb2.VectorX | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["mean", "variance"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["mean", "variance"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_Gaussian: typing_extensions.TypeAlias = Gaussian

@typing.final
class Distribution(google.protobuf.message.Message):
    """A fixed vector, a uniform or a Gaussian distribution. With no member set it
 describes nothing."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    DETERMINISTIC_FIELD_NUMBER: builtins.int
    UNIFORM_FIELD_NUMBER: builtins.int
    GAUSSIAN_FIELD_NUMBER: builtins.int
    @property
    def deterministic(self) -> ostrel.api.math_pb2.VectorX:
        """Always this vector."""
    @property
    def uniform(self) -> _Uniform:
        """Uniform between two vectors, component by component."""
    @property
    def gaussian(self) -> _Gaussian:
        """Normal with a mean and a variance per component."""
    def __init__(
        self,
        *,
        deterministic: ostrel.api.math_pb2.VectorX | None = ...,
        uniform: _Uniform | None = ...,
        gaussian: _Gaussian | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["deterministic", "uniform", "gaussian", "type"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["deterministic", "uniform", "gaussian", "type"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.Literal["type"]) -> typing.Literal["deterministic", "uniform", "gaussian"] | None: ...

_Distribution: typing_extensions.TypeAlias = Distribution
