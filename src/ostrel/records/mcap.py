"""`ostrel records --mcap FILE`: the record sets as one MCAP file, the
container that robotics viewers and plotting tools open.

Lossless channels, message encoding `protobuf`, each message the recorded
bytes of one product, event or project, with our own message type and its
file descriptors (dependencies included) as the channel's schema:

    /ostrel/controller/<robot>       ostrel.api.control.ControllerProducts
    /ostrel/planner/<robot>          ostrel.api.planning.PlannerProducts
    /ostrel/simulator                ostrel.api.simulation.SimulatorProducts
    /ostrel/perception/<camera>      ostrel.api.perception.PerceptionProducts
    /ostrel/camera/<camera>/image    ostrel.api.perception.ImagesProducts
    /ostrel/events                   ostrel.api.data.EventRecord
    /ostrel/project                  ostrel.api.project.ProjectSnapshot

A perception or images product that names no camera or several goes to
`/ostrel/perception` or `/ostrel/images`. Viewer channels beside them, in the
well-known visualisation schemas (package foxglove-schemas-protobuf):

    /viz/camera/<camera>/image       foxglove.RawImage (raw pixel layouts)
    /viz/camera/<camera>/compressed  foxglove.CompressedImage (jpeg, png)
    /viz/camera/<camera>/markers     foxglove.ImageAnnotations (marker corners and ids)
    /viz/tf                          foxglove.FrameTransforms (camera and marker poses, parent `world`)
    /viz/log                         foxglove.Log (one line per event: failed steps are errors)
    /viz/joints/<robot>/reference    ostrel.viewer.JointPositions (controller products)
    /viz/joints/<robot>/feedback     ostrel.viewer.JointPositions
    /viz/joints/<owner>/simulated    ostrel.viewer.JointPositions (simulator products)

Log and publish time are the product's `timestamp_ns`, an event's start (its
log line: its stop), a project's record set start. A missing time stamp
(0) is replaced by the record set's start, or its first event's start when
the set has none. Each record set is one metadata record (`ostrel.record_set`)
and its project one attachment (protobuf JSON).

The answer is kept as bytes and read one record set and one product at a time
(`ostrel.records.sets`); the file is written beside its place and moved there
when complete.
"""

import heapq
import os
from functools import lru_cache, partial
from importlib import metadata as package_metadata
from typing import IO, Any, Callable, Dict, Iterable, Iterator, List, NamedTuple, Optional, Sequence, Tuple, Union, cast

from google.protobuf import descriptor_pb2, descriptor_pool, message_factory, timestamp_pb2
from google.protobuf.descriptor import Descriptor, FileDescriptor
from google.protobuf.message import DecodeError
from google.protobuf.message import Message as ProtoMessage
from mcap.writer import LIBRARY_IDENTIFIER, CompressionType, Writer

from ostrel import protojson, wire
from ostrel.api import data_pb2, image_pb2, math_pb2, perception_pb2, project_pb2, workspace_pb2
from ostrel.records import MCAP_COMPRESSIONS, export, png, view
from ostrel.catalog import PRODUCT_KINDS
from ostrel.outfile import OutputFile
from ostrel.records.sets import ERR_DECODE, LazySet
from ostrel.wire import WireError

Warn = Callable[[str], None]
Answer = Union[bytes, str, "os.PathLike[str]"]

COMPRESSIONS = {name: CompressionType[name.upper()] for name in MCAP_COMPRESSIONS}
MESSAGE_ENCODING = "protobuf"
SET_METADATA = "ostrel.record_set"
WORLD_FRAME = "world"

NO_VIEWER = ("the viewer channels (images, transforms, log, joints) are left out: they need "
             "foxglove-schemas-protobuf (pip install \"ostrel[mcap]\", Python 3.9 and later)")
ERR_COMPRESSION = "unknown compression %r (one of %s)"
ERR_NO_PROJECT = "%s: no project was recorded with it; the file holds no project for it"
ERR_EMPTY_PRODUCT = "%s: a product at %d ns holds nothing; left out"
ERR_IMAGE = "%s: image %s: %s; kept on its lossless channel only"

_RECORDS = data_pb2.DataRecords.DESCRIPTOR.fields_by_name["records"].number
_SET_FIELDS = data_pb2.RecordSet.DESCRIPTOR.fields_by_name
_EVENTS = _SET_FIELDS["events"].number
_PROJECT = _SET_FIELDS["project"].number
_TIMESTAMP = data_pb2.ProductRecord.DESCRIPTOR.fields_by_name["timestamp_ns"].number
_IMAGES = perception_pb2.ImagesProducts.DESCRIPTOR.fields_by_name["images"].number
_IMAGE_DATA = image_pb2.Image.DESCRIPTOR.fields_by_name["data"].number

# Lossless topics by product kind: (with its one source, without).
PRODUCT_TOPICS = {
    "controller": ("/ostrel/controller/%s", "/ostrel/controller"),
    "planner": ("/ostrel/planner/%s", "/ostrel/planner"),
    "simulator": ("/ostrel/simulator/%s", "/ostrel/simulator"),
    "perception": ("/ostrel/perception/%s", "/ostrel/perception"),
    "images": ("/ostrel/camera/%s/image", "/ostrel/images"),
}
EVENTS_TOPIC = "/ostrel/events"
PROJECT_TOPIC = "/ostrel/project"


def package_version() -> str:
    try:
        return package_metadata.version("ostrel")
    except package_metadata.PackageNotFoundError:
        return "unknown"


def _one_source(names: Iterable[str]) -> str:
    """The one name given, '' when none or several."""
    distinct = set(names) - {""}
    return distinct.pop() if len(distinct) == 1 else ""


# The source of a parsed product: robot, camera or nothing.
SOURCES: Dict[str, Callable[[Any], str]] = {
    "controller": lambda m: str(m.robot),
    "planner": lambda m: str(m.robot),
    "simulator": lambda m: "",
    "perception": lambda m: _one_source([*(d.camera for d in m.detected_markers), *m.camera_poses]),
}


def product_topic(kind: str, source: str) -> str:
    named, unnamed = PRODUCT_TOPICS[kind]
    return named % source if source else unnamed


def product_class(kind: str) -> Any:
    """The message class of a ProductRecord member."""
    descriptor = data_pb2.ProductRecord.DESCRIPTOR.fields_by_name[kind].message_type
    assert descriptor is not None  # every member of ProductRecord.type is a message
    return message_factory.GetMessageClass(descriptor)


def _parse(kind: Any, data: bytes) -> Any:
    try:
        return kind.FromString(data)
    except DecodeError as error:
        raise WireError(ERR_DECODE % (kind.DESCRIPTOR.name, error)) from None


def _buffer(pieces: Sequence[memoryview]) -> bytes:
    """The pieces as one message. mcap writes a message's data with one
    write(), which takes any buffer: a single piece stays a view of the
    answer and is not copied."""
    return cast(bytes, pieces[0]) if len(pieces) == 1 else b"".join(pieces)


def _field_values(message: memoryview, number: int) -> List[memoryview]:
    return [message[f.value:f.end] for f in wire.fields(message) if f.number == number and f.wire == 2]


# Products read off the wire ---------------------------------------------------------

class RawProduct(NamedTuple):
    timestamp_ns: int
    kind: Optional[str]  # the member of ProductRecord.type, None when unset
    pieces: List[memoryview]  # the member's bytes as recorded (pieces merge, as in parsing)


def raw_product(record: memoryview) -> RawProduct:
    stamp, kind = 0, cast(Optional[str], None)
    pieces: List[memoryview] = []
    for field in wire.fields(record):
        if field.number == _TIMESTAMP and field.wire == 0:
            stamp = wire.read_varint(record, field.value)[0]
        elif field.wire == 2 and field.number in PRODUCT_KINDS:
            if PRODUCT_KINDS[field.number] != kind:  # another member replaces the one before
                kind, pieces = PRODUCT_KINDS[field.number], []
            pieces.append(record[field.value:field.end])
    return RawProduct(stamp, kind, pieces)


class ImageHead(NamedTuple):
    image: image_pb2.Image  # without its pixels
    data: bytes  # a view of the pixels in the answer


def image_heads(pieces: Sequence[memoryview]) -> Iterator[ImageHead]:
    """The images of an ImagesProducts, each parsed without its pixels."""
    for piece in pieces:
        for encoded in _field_values(piece, _IMAGES):
            kept: List[bytes] = []
            data = memoryview(b"")
            for field in wire.fields(encoded):
                if field.number == _IMAGE_DATA and field.wire == 2:
                    data = encoded[field.value:field.end]  # a bytes field: the last one counts
                else:
                    kept.append(bytes(encoded[field.start:field.end]))
            yield ImageHead(_parse(image_pb2.Image, b"".join(kept)), cast(bytes, data))


# Channels -------------------------------------------------------------------------

_SET_FILE = descriptor_pb2.FileDescriptorSet.DESCRIPTOR.fields_by_name["file"].number


def descriptor_set(message: Descriptor) -> bytes:
    """The serialized FileDescriptorSet of a message type: its file and every
    file that file imports, imports first, each as its pool holds it."""
    seen: Dict[str, bool] = {}
    pieces: List[bytes] = []

    def add(file: FileDescriptor) -> None:
        if file.name not in seen:
            seen[file.name] = True
            for dependency in file.dependencies:
                add(dependency)
            pieces.append(wire.field(_SET_FILE, file.serialized_pb))

    add(message.file)
    return b"".join(pieces)


class ChannelCount(NamedTuple):
    schema: str
    messages: int


class Channels:
    """Channels registered on first use, each with its schema (once per type)."""

    def __init__(self, writer: Writer) -> None:
        self._writer = writer
        self._schemas: Dict[str, int] = {}
        self._ids: Dict[str, int] = {}
        self.counts: Dict[str, ChannelCount] = {}

    def _schema(self, message_class: Any) -> int:
        name = str(message_class.DESCRIPTOR.full_name)
        if name not in self._schemas:
            descriptors = descriptor_set(message_class.DESCRIPTOR)
            self._schemas[name] = self._writer.register_schema(name, MESSAGE_ENCODING, descriptors)
        return self._schemas[name]

    def add(self, topic: str, message_class: Any, data: bytes, time_ns: int) -> None:
        if topic not in self._ids:
            self._ids[topic] = self._writer.register_channel(topic, MESSAGE_ENCODING, self._schema(message_class))
            self.counts[topic] = ChannelCount(str(message_class.DESCRIPTOR.full_name), 0)
        self._writer.add_message(self._ids[topic], log_time=time_ns, data=data, publish_time=time_ns)
        schema, count = self.counts[topic]
        self.counts[topic] = ChannelCount(schema, count + 1)


# Viewer channels ---------------------------------------------------------------------

JOINTS_FILE = "ostrel/viewer/joints.proto"
JOINTS_TYPE = "ostrel.viewer.JointPositions"
_F = descriptor_pb2.FieldDescriptorProto
# (message, [(field, number, type, repeated, message type)]) of our own small joint message.
JOINT_MESSAGES = (
    ("Joint", [("name", 1, _F.TYPE_STRING, False, ""), ("position", 2, _F.TYPE_DOUBLE, False, ""),
               ("velocity", 3, _F.TYPE_DOUBLE, False, "")]),
    ("JointPositions", [("timestamp", 1, _F.TYPE_MESSAGE, False, ".google.protobuf.Timestamp"),
                        ("owner", 2, _F.TYPE_STRING, False, ""),
                        ("joints", 3, _F.TYPE_MESSAGE, True, ".ostrel.viewer.Joint")]),
)


@lru_cache(maxsize=None)
def joint_positions_class() -> Any:
    """ostrel.viewer.JointPositions: one owner's joints by name, which
    plotting tools graph by field (`.joints[:]{name=="elbow"}.position`).
    Built in a pool of its own, so it never meets the application's types."""
    proto = descriptor_pb2.FileDescriptorProto(name=JOINTS_FILE, package=JOINTS_TYPE.rsplit(".", 1)[0],
                                               syntax="proto3",
                                               dependency=[timestamp_pb2.DESCRIPTOR.name])
    for name, fields in JOINT_MESSAGES:
        message = proto.message_type.add(name=name)
        for field, number, kind, repeated, type_name in fields:
            added = message.field.add(name=field, number=number, type=kind,
                                      label=_F.LABEL_REPEATED if repeated else _F.LABEL_OPTIONAL)
            if type_name:
                added.type_name = type_name
    pool = descriptor_pool.DescriptorPool()
    pool.AddSerializedFile(timestamp_pb2.DESCRIPTOR.serialized_pb)
    pool.AddSerializedFile(proto.SerializeToString())
    return message_factory.GetMessageClass(pool.FindMessageTypeByName(JOINTS_TYPE))


def timestamp(ns: int) -> timestamp_pb2.Timestamp:
    return timestamp_pb2.Timestamp(seconds=ns // 1_000_000_000, nanos=ns % 1_000_000_000)


LOG_LEVELS = {"SUCCESS": "INFO", "FAILURE": "ERROR"}  # anything else (never ended, no status): WARNING
MARKER_COLOR = (0.1, 0.9, 0.2, 1.0)
MARKER_TEXT_SIZE = 14.0
MARKER_LINE_PX = 2.0


class Viewer:
    """Writes the viewer channels; ImportError without foxglove-schemas-protobuf."""

    def __init__(self, channels: Channels, warn: Warn) -> None:
        from foxglove_schemas_protobuf import (
            Color_pb2,
            CompressedImage_pb2,
            FrameTransforms_pb2,
            ImageAnnotations_pb2,
            Log_pb2,
            Point2_pb2,
            PointsAnnotation_pb2,
            RawImage_pb2,
        )

        self.channels = channels
        self.warn = warn
        self.color = Color_pb2.Color
        self.compressed = CompressedImage_pb2.CompressedImage
        self.transforms = FrameTransforms_pb2.FrameTransforms
        self.annotations = ImageAnnotations_pb2.ImageAnnotations
        self.log_class = Log_pb2.Log
        self.point = Point2_pb2.Point2
        self.line_loop = PointsAnnotation_pb2.PointsAnnotation.LINE_LOOP
        self.raw = RawImage_pb2.RawImage
        self.joints: Any = joint_positions_class()

    def _add(self, topic: str, message: ProtoMessage, time_ns: int) -> None:
        self.channels.add(topic, type(message), message.SerializeToString(), time_ns)

    def poses(self, time_ns: int, poses: Iterable[Tuple[str, math_pb2.Pose3]]) -> None:
        """(frame, Pose3) pairs as one FrameTransforms message."""
        message = self.transforms()
        for frame, pose in poses:
            transform = message.transforms.add(timestamp=timestamp(time_ns), parent_frame_id=WORLD_FRAME,
                                               child_frame_id=frame)
            position = pose.position
            transform.translation.x, transform.translation.y, transform.translation.z = (
                position.x, position.y, position.z)
            identity = not (pose.qw or pose.qx or pose.qy or pose.qz)  # unset orientation: the identity
            rotation = transform.rotation
            rotation.w, rotation.x, rotation.y, rotation.z = (1.0, 0.0, 0.0, 0.0) if identity else (
                pose.qw, pose.qx, pose.qy, pose.qz)
        if message.transforms:
            self._add("/viz/tf", message, time_ns)

    def workspace_poses(self, time_ns: int, state: workspace_pb2.WorkspaceState) -> None:
        self.poses(time_ns, [*((key, state.cameras[key].base_pose) for key in sorted(state.cameras)),
                             *((key, state.fiducials[key].base_pose) for key in sorted(state.fiducials))])

    def _add_with_data(self, topic: str, message: ProtoMessage, data: bytes, time_ns: int) -> None:
        """The message with its `data` field appended to its serialized form,
        so that the pixels, a view of the answer, are copied once."""
        number = message.DESCRIPTOR.fields_by_name["data"].number
        encoded = b"".join((message.SerializeToString(), wire.field_head(number, len(data)), data))
        self.channels.add(topic, type(message), encoded, time_ns)

    def images(self, time_ns: int, heads: Iterable[ImageHead], label: str) -> None:
        for head in heads:
            image = head.image
            stamp = int(image.timestamp_ns or time_ns)
            compressed = image.encoding.lower()
            try:
                if compressed in png.COMPRESSED:
                    if not head.data:
                        raise png.ImageError(png.ERR_LENGTH % (0, image.width, image.height, image.encoding,
                                                               image.step, 1))
                    message: ProtoMessage = self.compressed(timestamp=timestamp(stamp), frame_id=image.camera,
                                                            format=compressed)
                    self._add_with_data("/viz/camera/%s/compressed" % image.camera, message, head.data, stamp)
                    continue
                raw = png.check_raw(image.encoding, image.width, image.height, image.step, head.data)
            except png.ImageError as error:
                self.warn(ERR_IMAGE % (label, "%s at %d ns" % (image.camera or "(no camera)", stamp), error))
                continue
            message = self.raw(timestamp=timestamp(stamp), frame_id=image.camera, width=raw.width,
                               height=raw.height, encoding=image.encoding, step=raw.step)
            self._add_with_data("/viz/camera/%s/image" % image.camera, message, head.data, stamp)

    def perception(self, time_ns: int, products: perception_pb2.PerceptionProducts) -> None:
        self.poses(time_ns, [(key, products.camera_poses[key]) for key in sorted(products.camera_poses)])
        cameras: Dict[str, Any] = {}
        r, g, b, a = MARKER_COLOR
        for marker in products.detected_markers:
            annotations = cameras.setdefault(marker.camera, self.annotations())
            points = [self.point(x=c.x, y=c.y) for c in marker.corners]
            annotations.points.add(timestamp=timestamp(time_ns), type=self.line_loop, points=points,
                                   outline_color=self.color(r=r, g=g, b=b, a=a), thickness=MARKER_LINE_PX)
            if points:
                annotations.texts.add(timestamp=timestamp(time_ns), position=points[0], text="id %d" % marker.id,
                                      font_size=MARKER_TEXT_SIZE, text_color=self.color(r=r, g=g, b=b, a=a),
                                      background_color=self.color(r=0, g=0, b=0, a=0.6))
        for camera, annotations in cameras.items():
            self._add("/viz/camera/%s/markers" % camera, annotations, time_ns)

    def joint_positions(self, topic: str, time_ns: int, owner: str, names: Sequence[str],
                        positions: Sequence[float], velocities: Sequence[float] = ()) -> None:
        message = self.joints(owner=owner)
        message.timestamp.seconds, message.timestamp.nanos = divmod(time_ns, 1_000_000_000)
        for i, name in enumerate(names):
            message.joints.add(name=name, position=positions[i],
                               velocity=velocities[i] if i < len(velocities) else 0.0)
        self._add(topic, message, time_ns)

    def controller(self, time_ns: int, products: Any, project: project_pb2.ProjectSnapshot) -> None:
        for side, state in (("reference", products.reference), ("feedback", products.feedback)):
            positions = list(state.joint.positions.data)
            if positions:
                names = view.joint_names(project, products.robot, len(positions))
                self.joint_positions("/viz/joints/%s/%s" % (products.robot, side), time_ns, products.robot, names,
                                     positions, list(state.joint.velocities.data))

    def simulator(self, time_ns: int, products: Any, project: project_pb2.ProjectSnapshot) -> None:
        state = products.workspace_state
        for owners in (state.robots, state.effectors):
            for key in sorted(owners):
                positions = list(owners[key].joint_positions.data)
                if positions:
                    self.joint_positions("/viz/joints/%s/simulated" % key, time_ns, key,
                                         view.joint_names(project, key, len(positions)), positions)
        self.workspace_poses(time_ns, state)

    def log(self, time_ns: int, event: view.Event) -> None:
        level = self.log_class.Level.Value(LOG_LEVELS.get(event.status, "WARNING"))
        text = "%s %s" % (event.status, event.step or event.action_type or "(no action)")
        message = self.log_class(timestamp=timestamp(time_ns), level=level, name=event.name,
                                 message="%s: %s" % (text, event.message) if event.message else text)
        self._add("/viz/log", message, time_ns)


# Record sets ----------------------------------------------------------------------

class Item(NamedTuple):
    """One message (or a few that belong together) of a record set, written when its turn comes."""

    time_ns: int
    write: Callable[[], None]


class SetWriter:
    def __init__(self, writer: Writer, channels: Channels, viewer: Optional[Viewer], server: str,
                 warn: Warn) -> None:
        self.writer = writer
        self.channels = channels
        self.viewer = viewer
        self.server = server
        self.warn = warn

    def write(self, index: int, data: memoryview, start: int, end: int) -> None:
        records = LazySet(data, (start, end))
        header = records.header
        origin = view.set_origin_ns(header)
        label = view.describe_set(header, index)
        self._write_project(index, header, _set_values(data, start, end, _PROJECT), origin, label)
        self.writer.add_metadata(SET_METADATA, {
            "index": str(index), "description": header.description,
            "start_timestamp_ns": str(header.start_timestamp_ns), "stop_timestamp_ns": str(header.stop_timestamp_ns),
            "project_version": header.project.version, "server": self.server, "ostrel_version": package_version(),
            "events": str(len(header.events)), "products": str(len(records.refs)),
        })
        events = view.events(header)
        encoded_events = _set_values(data, start, end, _EVENTS)
        streams = [self._events(events, encoded_events, origin), self._products(data, records, origin, label)]
        if self.viewer is not None:
            streams.append(self._logs(events, origin))
        # Events, log lines and products in the order of their times, each read when written.
        for item in heapq.merge(*streams, key=lambda item: item.time_ns):
            item.write()
        # The set's last chunk ends here: chunks never span two sets.
        self.writer.flush()  # type: ignore[no-untyped-call]

    def _write_project(self, index: int, header: data_pb2.RecordSet, pieces: List[memoryview], origin: int,
                       label: str) -> None:
        if not header.HasField("project"):
            self.warn(ERR_NO_PROJECT % label)
            return
        self.channels.add(PROJECT_TOPIC, project_pb2.ProjectSnapshot, _buffer(pieces), origin)
        text = protojson.to_json(header.project) + "\n"
        self.writer.add_attachment(create_time=origin, log_time=origin, media_type="application/json",
                                   name="%s/project.json" % export.folder_name(index, header),
                                   data=text.encode("utf-8"))
        if self.viewer is not None:
            self.viewer.workspace_poses(origin, header.project.workspace.state)

    def _events(self, events: List[view.Event], encoded: List[memoryview], origin: int) -> Iterator[Item]:
        for event, data in zip(events, encoded):
            time_ns = event.start_ns or origin
            yield Item(time_ns, partial(self.channels.add, EVENTS_TOPIC, data_pb2.EventRecord, _buffer([data]),
                                        time_ns))

    def _logs(self, events: List[view.Event], origin: int) -> Iterator[Item]:
        viewer = self.viewer
        assert viewer is not None
        for event in events:
            time_ns = event.stop_ns or event.start_ns or origin
            yield Item(time_ns, partial(viewer.log, time_ns, event))

    def _products(self, data: memoryview, records: LazySet, origin: int, label: str) -> Iterator[Item]:
        for ref in records.refs:
            product = raw_product(data[ref.span[0]:ref.span[1]])
            time_ns = product.timestamp_ns or origin
            yield Item(time_ns, partial(self._product, product, time_ns, records.header, label))

    def _product(self, product: RawProduct, time_ns: int, header: data_pb2.RecordSet, label: str) -> None:
        kind = product.kind
        if kind is None:
            self.warn(ERR_EMPTY_PRODUCT % (label, time_ns))
            return
        message_class = product_class(kind)
        if kind == "images":
            heads = list(image_heads(product.pieces))
            source = _one_source(head.image.camera for head in heads)
            self.channels.add(product_topic(kind, source), message_class, _buffer(product.pieces), time_ns)
            if self.viewer is not None:
                self.viewer.images(time_ns, heads, label)
            return
        message = _parse(message_class, b"".join(product.pieces))
        self.channels.add(product_topic(kind, SOURCES[kind](message)), message_class, _buffer(product.pieces),
                          time_ns)
        if self.viewer is not None:
            viewer = self.viewer
            if kind == "perception":
                viewer.perception(time_ns, message)
            elif kind == "controller":
                viewer.controller(time_ns, message, header.project)
            elif kind == "simulator":
                viewer.simulator(time_ns, message, header.project)


def _set_values(data: memoryview, start: int, end: int, number: int) -> List[memoryview]:
    return [data[f.value:f.end] for f in wire.fields(data, start, end) if f.number == number and f.wire == 2]


# The file ---------------------------------------------------------------------------

class Written(NamedTuple):
    path: str
    record_sets: int
    channels: Dict[str, ChannelCount]  # by topic
    size: int

    @property
    def messages(self) -> int:
        return sum(c.messages for c in self.channels.values())


def write_stream(answer: bytes, stream: IO[bytes], compression: str = "zstd", server: str = "",
                 warn: Warn = lambda text: None) -> Written:
    """Writes the MCAP file of a serialized DataRecords to a seekable binary stream."""
    writer = Writer(stream, compression=COMPRESSIONS[compression], enable_data_crcs=True)
    writer.start(library="ostrel %s, %s" % (package_version(), LIBRARY_IDENTIFIER))
    channels = Channels(writer)
    try:
        viewer: Optional[Viewer] = Viewer(channels, warn)
    except ImportError:
        viewer = None
        warn(NO_VIEWER)
    sets = SetWriter(writer, channels, viewer, server, warn)
    data = memoryview(answer)
    count = 0
    for field in wire.fields(data):
        if field.number == _RECORDS and field.wire == 2:
            count += 1
            sets.write(count, data, field.value, field.end)
    if not count:
        warn(export.NO_RECORDS)
    writer.finish()  # type: ignore[no-untyped-call]
    return Written("", count, channels.counts, 0)


def read_answer(answer: Answer) -> bytes:
    if isinstance(answer, bytes):
        return answer
    with open(answer, "rb") as handle:
        return handle.read()


def write(answer: Answer, out: str, compression: str = "zstd", server: str = "",
          warn: Warn = lambda text: None) -> Written:
    """Writes the record sets of a serialized DataRecords (bytes, or a file
    holding them) as the MCAP file `out`, in full or not at all: WireError
    when the answer is malformed, OSError when a file cannot be read or
    written; `out` is then left as it was (see ostrel.outfile)."""
    if compression not in COMPRESSIONS:
        raise ValueError(ERR_COMPRESSION % (compression, ", ".join(COMPRESSIONS)))
    data = read_answer(answer)
    with OutputFile(out, binary=True) as stream:
        written = write_stream(data, stream, compression, server, warn)
    return written._replace(path=out, size=os.path.getsize(out))


def summary_line(written: Written, compression: str) -> str:
    return "%d record sets written to %s: %d messages on %d channels, %d bytes (%s)" % (
        written.record_sets, written.path, written.messages, len(written.channels), written.size, compression)
