"""What the export and the report read out of a record set: events with
their final status, joint names of the recorded robots, joint samples of
controller and simulator products, and the images as files."""

import re
import time
from typing import Callable, Dict, Iterator, List, NamedTuple, Sequence

from google.protobuf import message_factory
from google.protobuf.message import DecodeError

from ostrel.records import png
from ostrel.api import common_pb2, data_pb2, image_pb2, project_pb2
from ostrel.catalog import ROBOT_JOINTS, interruption
from ostrel.records.sets import LazySet

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


def status_name(code: int) -> str:
    """The name of a status code, its number when the schema has no name for it."""
    value = common_pb2.Code.DESCRIPTOR.values_by_number.get(code)
    return value.name if value is not None else str(code)


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


def known_joints(project: project_pb2.ProjectSnapshot, robot: str) -> Sequence[str]:
    """The joint names that the project gives a robot through its model."""
    if robot not in project.workspace.config.robots:
        return ()
    config = project.workspace.config.robots[robot]
    model = config.WhichOneof("type")
    if model == "custom_robot":
        return list(config.custom_robot.dof_names)
    return ROBOT_JOINTS.get(model or "", ())


def joint_names(project: project_pb2.ProjectSnapshot, robot: str, count: int) -> List[str]:
    """Names of a robot's first `count` joints: from the project's model,
    `joint_<i>` for joints the project does not name."""
    names = known_joints(project, robot)
    return [names[i] if i < len(names) and names[i] else "joint_%d" % i for i in range(count)]


class JointRow(NamedTuple):
    """One controller or simulator product: joint values by owner (robot or
    effector key) and quantity, one value per joint, plus a few scalars."""

    timestamp_ns: int
    scalars: Dict[str, str]
    joints: Dict[str, Dict[str, Sequence[float]]]


CONTROLLER_SCALARS = ("robot", "controller_time_s", "faulted")
CONTROLLER_QUANTITIES = ("reference_position", "feedback_position", "reference_velocity", "feedback_velocity")
SIMULATOR_QUANTITIES = ("position",)


def controller_rows(records: LazySet) -> Iterator[JointRow]:
    for product in records.products("controller"):
        c = product.controller
        scalars = {"robot": c.robot, "controller_time_s": "%.6g" % c.time_s, "faulted": str(int(c.faulted))}
        yield JointRow(int(product.timestamp_ns), scalars, {c.robot: {
            "reference_position": list(c.reference.joint.positions.data),
            "feedback_position": list(c.feedback.joint.positions.data),
            "reference_velocity": list(c.reference.joint.velocities.data),
            "feedback_velocity": list(c.feedback.joint.velocities.data),
        }})


def simulator_rows(records: LazySet) -> Iterator[JointRow]:
    for product in records.products("simulator"):
        state = product.simulator.workspace_state
        joints: Dict[str, Dict[str, Sequence[float]]] = {}
        for owners in (state.robots, state.effectors):
            for key in sorted(owners):
                joints[key] = {"position": list(owners[key].joint_positions.data)}
        yield JointRow(int(product.timestamp_ns), {}, joints)


class ImageFile(NamedTuple):
    camera: str
    timestamp_ns: int
    encoding: str
    width: int
    height: int
    name: str  # file name without suffix: camera and time stamp
    message: image_pb2.Image


_UNSAFE = re.compile(r"[^A-Za-z0-9._-]+")
# Longest part of a file name taken from recorded text: with the numbers
# around it, names stay far below the 255 bytes that file systems allow.
MAX_NAME_CHARS = 48


def safe_name(text: str, fallback: str, limit: int = MAX_NAME_CHARS) -> str:
    """A file-name part of at most `limit` letters, digits, '.', '_' and '-'."""
    cleaned = _UNSAFE.sub("_", text).strip("._")[:limit].rstrip("._")
    return cleaned or fallback


class UniqueNames:
    """Names made unique by a counter, compared without case, as file
    systems that ignore case would compare them."""

    def __init__(self) -> None:
        self._seen: Dict[str, int] = {}

    def add(self, name: str) -> str:
        unique, count = name, 1
        while unique.lower() in self._seen:
            count += 1
            unique = "%s_%d" % (name, count)
        self._seen[unique.lower()] = count
        return unique


def images(records: LazySet) -> Iterator[ImageFile]:
    """Each recorded image with a file name unique within the set."""
    names = UniqueNames()
    for product in records.products("images"):
        for image in product.images.images:
            stamp = int(image.timestamp_ns or product.timestamp_ns)
            name = names.add("%s_%d" % (safe_name(image.camera, "camera"), stamp))
            yield ImageFile(image.camera, stamp, image.encoding, image.width, image.height, name, image)


def image_file(image: ImageFile, stride: int = 1) -> png.Converted:
    """The image as a file (PNG or the recorded JPEG/PNG); png.ImageError when unreadable."""
    m = image.message
    return png.convert(m.encoding, m.width, m.height, m.step, m.data, stride)


def image_label(image: ImageFile) -> str:
    return "%s at %d ns (%dx%d %s)" % (image.camera or "(no camera)", image.timestamp_ns, image.width,
                                      image.height, image.encoding or "no encoding")


def utc_time(ns: int) -> str:
    """A time stamp as UTC to the millisecond, the zone named."""
    if not ns:
        return "-"
    return time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime(ns / 1e9)) + ".%03d UTC" % (ns // 1_000_000 % 1000)


def duration_text(seconds: float) -> str:
    """A span of seconds in the unit that suits it: µs, ms or s."""
    magnitude = abs(seconds)
    if magnitude < 1e-3:
        return "%.0f µs" % (seconds * 1e6)
    if magnitude < 1:
        return "%.1f ms" % (seconds * 1e3)
    return "%.2f s" % seconds


def describe_set(header: data_pb2.RecordSet, index: int) -> str:
    return "record set %d %s%s" % (index, quoted(header.description or "(no description)"),
                                   " (interrupted)" if interruption(header) is not None else "")


_CONTROL = {code: "\\x%02x" % code for code in (*range(32), *range(127, 160))}


def quoted(text: str) -> str:
    """Recorded text for a line of output: quoted, with control characters
    escaped, so that it cannot move the cursor or end the line."""
    return "'%s'" % text.translate(_CONTROL)
