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
    def update_project(self) -> ostrel.api.project_pb2.ProjectSnapshot:
        """A new project for the agent to work with."""
    @property
    def start_recording_data(self) -> ostrel.api.execution_pb2.StartRecordingData:
        """Start a recording."""
    @property
    def stop_recording_data(self) -> ostrel.api.execution_pb2.StopRecordingData:
        """Stop the recording."""
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
    """When the products were taken, in nanoseconds."""
    @property
    def images(self) -> ostrel.api.perception_pb2.ImagesProducts:
        """Images the perception agent produced."""
    @property
    def perception(self) -> ostrel.api.perception_pb2.PerceptionProducts:
        """Markers and camera poses from the perception agent."""
    @property
    def planner(self) -> ostrel.api.planning_pb2.PlannerProducts:
        """Targets and trajectories from the planner."""
    @property
    def controller(self) -> ostrel.api.control_pb2.ControllerProducts:
        """Motion states from the controller."""
    @property
    def simulator(self) -> ostrel.api.simulation_pb2.SimulatorProducts:
        """Workspace state and linkages from the simulator."""
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
    """Name of the event: the name of the behavior node that ran it."""
    start_timestamp_ns: builtins.int
    """When the event started, in nanoseconds."""
    stop_timestamp_ns: builtins.int
    """When the event ended, in nanoseconds."""
    @property
    def action(self) -> google.protobuf.any_pb2.Any:
        """The action carried out (for example a PlannerAction), packed; its type
 URL names the action message."""
    @property
    def status(self) -> google.protobuf.internal.containers.RepeatedCompositeFieldContainer[ostrel.api.common_pb2.Status]:
        """The statuses the event went through, in order; the last is its outcome."""
    @property
    def status_metadata(self) -> google.protobuf.internal.containers.RepeatedCompositeFieldContainer[ostrel.api.common_pb2.Metadata]:
        """When each status was reached: status_metadata[i] belongs to status[i]."""
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
    """Text given by the step that started the recording."""
    start_timestamp_ns: builtins.int
    """When the recording started, in nanoseconds."""
    stop_timestamp_ns: builtins.int
    """When the recording stopped, in nanoseconds; 0 while it has not stopped."""
    @property
    def events(self) -> google.protobuf.internal.containers.RepeatedCompositeFieldContainer[_EventRecord]:
        """The recorded events, in order."""
    @property
    def products(self) -> google.protobuf.internal.containers.RepeatedCompositeFieldContainer[_ProductRecord]:
        """The recorded products of the agents, in order."""
    @property
    def project(self) -> ostrel.api.project_pb2.ProjectSnapshot:
        """The project the recording was made with."""
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
    def records(self) -> google.protobuf.internal.containers.RepeatedCompositeFieldContainer[_RecordSet]:
        """The record sets, in order."""
    def __init__(
        self,
        *,
        records: collections.abc.Iterable[_RecordSet] | None = ...,
    ) -> None: ...
    def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...
    def ClearField(self, field_name: typing.Literal["records"]) -> None: ...
    def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...

_DataRecords: typing_extensions.TypeAlias = DataRecords
