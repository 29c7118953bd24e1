# Generated from the schema files by tools/regenerate.sh. Do not edit.
# Typing stub of ostrel.api.data_pb2, written by protoc-gen-ostrel from
# ostrel/api/data.proto.

import builtins
import collections.abc
import google.protobuf.any_pb2
import google.protobuf.descriptor
import google.protobuf.internal.containers
import google.protobuf.message
import ostrel.api.common_pb2
import ostrel.api.control_pb2
import ostrel.api.execution_pb2
import ostrel.api.perception_pb2
import ostrel.api.planning_pb2
import ostrel.api.project_pb2
import ostrel.api.simulation_pb2
import typing
import typing_extensions

DESCRIPTOR: google.protobuf.descriptor.FileDescriptor

@typing.final
class DatalinkAction(google.protobuf.message.Message):
    """A request to the recording agent: a new project, or start or stop a
 recording."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    UPDATE_PROJECT_FIELD_NUMBER: builtins.int
    START_RECORDING_DATA_FIELD_NUMBER: builtins.int
    STOP_RECORDING_DATA_FIELD_NUMBER: builtins.int
    @property
    def update_project(self) -> ostrel.api.project_pb2.ProjectSnapshot: ...
    @property
    def start_recording_data(self) -> ostrel.api.execution_pb2.StartRecordingData: ...
    @property
    def stop_recording_data(self) -> ostrel.api.execution_pb2.StopRecordingData: ...
    def __init__(
        self,
        *,
        update_project: ostrel.api.project_pb2.ProjectSnapshot | None = ...,
        start_recording_data: ostrel.api.execution_pb2.StartRecordingData | None = ...,
        stop_recording_data: ostrel.api.execution_pb2.StopRecordingData | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["update_project", "start_recording_data", "stop_recording_data", "type"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["update_project", "start_recording_data", "stop_recording_data", "type"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.Literal["type"]) -> typing.Literal["update_project", "start_recording_data", "stop_recording_data"] | None: ...

_DatalinkAction: typing_extensions.TypeAlias = DatalinkAction

@typing.final
class ProductRecord(google.protobuf.message.Message):
    """One agent's products, time-stamped."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    TIMESTAMP_NS_FIELD_NUMBER: builtins.int
    IMAGES_FIELD_NUMBER: builtins.int
    PERCEPTION_FIELD_NUMBER: builtins.int
    PLANNER_FIELD_NUMBER: builtins.int
    CONTROLLER_FIELD_NUMBER: builtins.int
    SIMULATOR_FIELD_NUMBER: builtins.int
    timestamp_ns: builtins.int
    @property
    def images(self) -> ostrel.api.perception_pb2.ImagesProducts: ...
    @property
    def perception(self) -> ostrel.api.perception_pb2.PerceptionProducts: ...
    @property
    def planner(self) -> ostrel.api.planning_pb2.PlannerProducts: ...
    @property
    def controller(self) -> ostrel.api.control_pb2.ControllerProducts: ...
    @property
    def simulator(self) -> ostrel.api.simulation_pb2.SimulatorProducts: ...
    def __init__(
        self,
        *,
        timestamp_ns: builtins.int = ...,
        images: ostrel.api.perception_pb2.ImagesProducts | None = ...,
        perception: ostrel.api.perception_pb2.PerceptionProducts | None = ...,
        planner: ostrel.api.planning_pb2.PlannerProducts | None = ...,
        controller: ostrel.api.control_pb2.ControllerProducts | None = ...,
        simulator: ostrel.api.simulation_pb2.SimulatorProducts | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["images", "perception", "planner", "controller", "simulator", "type"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["timestamp_ns", "images", "perception", "planner", "controller", "simulator", "type"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.Literal["type"]) -> typing.Literal["images", "perception", "planner", "controller", "simulator"] | None: ...

_ProductRecord: typing_extensions.TypeAlias = ProductRecord

@typing.final
class EventRecord(google.protobuf.message.Message):
    """One recorded event: its interval, the packed action and its statuses."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    NAME_FIELD_NUMBER: builtins.int
    START_TIMESTAMP_NS_FIELD_NUMBER: builtins.int
    STOP_TIMESTAMP_NS_FIELD_NUMBER: builtins.int
    ACTION_FIELD_NUMBER: builtins.int
    STATUS_FIELD_NUMBER: builtins.int
    STATUS_METADATA_FIELD_NUMBER: builtins.int
    name: builtins.str
    start_timestamp_ns: builtins.int
    stop_timestamp_ns: builtins.int
    @property
    def action(self) -> google.protobuf.any_pb2.Any: ...
    @property
    def status(self) -> google.protobuf.internal.containers.RepeatedCompositeFieldContainer[ostrel.api.common_pb2.Status]: ...
    @property
    def status_metadata(self) -> google.protobuf.internal.containers.RepeatedCompositeFieldContainer[ostrel.api.common_pb2.Metadata]: ...
    def __init__(
        self,
        *,
        name: builtins.str = ...,
        start_timestamp_ns: builtins.int = ...,
        stop_timestamp_ns: builtins.int = ...,
        action: google.protobuf.any_pb2.Any | None = ...,
        status: collections.abc.Iterable[ostrel.api.common_pb2.Status] | None = ...,
        status_metadata: collections.abc.Iterable[ostrel.api.common_pb2.Metadata] | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["action"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["name", "start_timestamp_ns", "stop_timestamp_ns", "action", "status", "status_metadata"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_EventRecord: typing_extensions.TypeAlias = EventRecord

@typing.final
class RecordSet(google.protobuf.message.Message):
    """One recording: events and products in order, and the project it ran."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    DESCRIPTION_FIELD_NUMBER: builtins.int
    START_TIMESTAMP_NS_FIELD_NUMBER: builtins.int
    STOP_TIMESTAMP_NS_FIELD_NUMBER: builtins.int
    EVENTS_FIELD_NUMBER: builtins.int
    PRODUCTS_FIELD_NUMBER: builtins.int
    PROJECT_FIELD_NUMBER: builtins.int
    description: builtins.str
    start_timestamp_ns: builtins.int
    stop_timestamp_ns: builtins.int
    @property
    def events(self) -> google.protobuf.internal.containers.RepeatedCompositeFieldContainer[_EventRecord]: ...
    @property
    def products(self) -> google.protobuf.internal.containers.RepeatedCompositeFieldContainer[_ProductRecord]: ...
    @property
    def project(self) -> ostrel.api.project_pb2.ProjectSnapshot: ...
    def __init__(
        self,
        *,
        description: builtins.str = ...,
        start_timestamp_ns: builtins.int = ...,
        stop_timestamp_ns: builtins.int = ...,
        events: collections.abc.Iterable[_EventRecord] | None = ...,
        products: collections.abc.Iterable[_ProductRecord] | None = ...,
        project: ostrel.api.project_pb2.ProjectSnapshot | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.Literal["project"]) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["description", "start_timestamp_ns", "stop_timestamp_ns", "events", "products", "project"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_RecordSet: typing_extensions.TypeAlias = RecordSet

@typing.final
class DataRecords(google.protobuf.message.Message):
    """A list of recordings."""
    DESCRIPTOR: google.protobuf.descriptor.Descriptor  # pyright: ignore[reportIncompatibleVariableOverride]

    RECORDS_FIELD_NUMBER: builtins.int
    @property
    def records(self) -> google.protobuf.internal.containers.RepeatedCompositeFieldContainer[_RecordSet]: ...
    def __init__(
        self,
        *,
        records: collections.abc.Iterable[_RecordSet] | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["records"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_DataRecords: typing_extensions.TypeAlias = DataRecords
