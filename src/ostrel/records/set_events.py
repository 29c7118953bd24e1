"""The events of a record set, with their final status and their times
from the set's start."""

from typing import Callable, List, NamedTuple

from google.protobuf import message_factory
from google.protobuf.message import DecodeError

from ostrel.api import data_pb2
from ostrel.protocol.statuses import status_name

Warn = Callable[[str], None]

NO_STATUS = "NONE"
UNREADABLE_STEP = "(unreadable action)"  # the step of an event whose recorded action cannot be parsed


class Event(NamedTuple):
    name: str
    step: str  # the member of the action's oneof, as `goto_target_positions`
    action_type: str  # full name of the packed action message
    start_ns: int
    stop_ns: int
    start_s: float  # from the record set's start
    stop_s: float
    status: str
    message: str

    @property
    def duration_s(self) -> float:
        return (self.stop_ns - self.start_ns) / 1e9

    @property
    def failed(self) -> bool:
        return self.status == "FAILURE"


def set_origin_ns(record_set: data_pb2.RecordSet) -> int:
    """The time that relative times count from: the set's start, else its first event."""
    if record_set.start_timestamp_ns:
        return int(record_set.start_timestamp_ns)
    starts = [e.start_timestamp_ns for e in record_set.events if e.start_timestamp_ns]
    return int(min(starts)) if starts else 0


def seconds(ns: int, origin_ns: int) -> float:
    return (int(ns) - origin_ns) / 1e9


def _action_step(action_type: str, value: bytes) -> str:
    """The oneof member set in a packed action, '' when the type is unknown,
    UNREADABLE_STEP when its bytes are damaged."""
    try:
        descriptor = data_pb2.DESCRIPTOR.pool.FindMessageTypeByName(action_type)
    except KeyError:
        return ""
    try:
        message = message_factory.GetMessageClass(descriptor).FromString(value)
    except DecodeError:
        return UNREADABLE_STEP
    for oneof in descriptor.oneofs:
        case = message.WhichOneof(oneof.name)
        if case:
            return str(case)
    return ""


def events(record_set: data_pb2.RecordSet) -> List[Event]:
    origin = set_origin_ns(record_set)
    result: List[Event] = []
    for event in record_set.events:
        action_type = event.action.type_url.rsplit("/", 1)[-1] if event.HasField("action") else ""
        step = _action_step(action_type, event.action.value) if action_type else ""
        final = event.status[-1] if event.status else None
        status = status_name(final.code) if final is not None else NO_STATUS
        result.append(Event(event.name, step, action_type, int(event.start_timestamp_ns),
                            int(event.stop_timestamp_ns), seconds(event.start_timestamp_ns, origin),
                            seconds(event.stop_timestamp_ns, origin), status,
                            final.message if final is not None else ""))
    return result
