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
well-known visualisation schemas: the cell's scene (`ostrel.records.scene`).

Log and publish time are the product's `timestamp_ns`, an event's start (its
log line: its stop), a project's record set start. A missing time stamp
(0) is replaced by the record set's start, or its first event's start when
the set has none. Each record set is one metadata record, named
`ostrel.record_set.<index>` (from 1), and its project one attachment
(protobuf JSON).

The answer is kept as bytes and read one record set and one product at a time
(`ostrel.records.sets`); the file is written beside its place and moved there
when complete.
"""

import heapq
import os
from functools import partial
from typing import IO, Any, Callable, Dict, Iterable, Iterator, List, NamedTuple, Optional, Sequence, Tuple, Union, cast

from google.protobuf import message_factory

import ostrel
from ostrel import extras, protojson, wire
from ostrel.api import data_pb2, perception_pb2, project_pb2
from ostrel.outfile import OutputFile
from ostrel.records import MCAP_COMPRESSIONS, export, set_events, texts
from ostrel.records.mcap_viewer import Viewer, Warn
from ostrel.records.scene import MESSAGE_ENCODING, descriptor_set
from ostrel.records.sets import (PROJECT_FIELD, RECORDS_FIELD, ImageHead, LazySet, RawProduct, image_heads, parse,
                                 raw_product)

Answer = Union[bytes, str, "os.PathLike[str]"]

COMPRESSIONS = MCAP_COMPRESSIONS
SET_METADATA = "ostrel.record_set"  # each set's metadata record: this name, a dot and the set's index

NO_VIEWER = ("the viewer channels (images, transforms, log, joints) are left out: they need "
             "foxglove-schemas-protobuf (pip install \"ostrel[mcap]\", Python 3.9 and later)")
ERR_COMPRESSION = "unknown compression %r (one of %s)"
ERR_NO_PROJECT = "%s: no project was recorded with it; the file holds no project for it"
ERR_EMPTY_PRODUCT = "%s: a product at %d ns holds nothing; left out"
ERR_DAMAGED_EVENT = ("%s: event '%s' at %d ns holds a damaged %s that cannot be parsed; its recorded bytes are "
                     "kept on %s and its log line says the action is unreadable. The "
                     "recording was damaged where it was stored or sent: pull the records again, and if this "
                     "stays, check the server's record store")

_EVENTS = data_pb2.RecordSet.DESCRIPTOR.fields_by_name["events"].number

EVENTS_TOPIC = "/ostrel/events"
PROJECT_TOPIC = "/ostrel/project"


def package_version() -> str:
    """The version of this package, as the file's metadata names its writer."""
    return ostrel.__version__


def load_writer() -> Any:
    """The MCAP library's writer module; ImportError naming the extra without it."""
    return extras.require("mcap.writer", "mcap")


def _one_source(names: Iterable[str]) -> str:
    """The one name given, '' when none or several."""
    distinct = set(names) - {""}
    return distinct.pop() if len(distinct) == 1 else ""


class Kind(NamedTuple):
    """What the writer does with one kind of product (member of ProductRecord.type)."""

    named: str  # lossless topic of a product with one source (robot or camera)
    unnamed: str  # and of one with none or several
    source: Callable[[Any], str]  # the source of the parsed product (images: of their heads)
    show: Callable[..., None]  # its viewer messages: Viewer, time, message (images: and the set's label)


def _robot(products: Any) -> str:
    return str(products.robot)


def _nobody(products: Any) -> str:
    return ""


def _camera(products: perception_pb2.PerceptionProducts) -> str:
    return _one_source([*(d.camera for d in products.detected_markers), *products.camera_poses])


def _images_camera(heads: List[ImageHead]) -> str:
    return _one_source(head.image.camera for head in heads)


KINDS: Dict[str, Kind] = {
    "controller": Kind("/ostrel/controller/%s", "/ostrel/controller", _robot, Viewer.controller),
    "planner": Kind("/ostrel/planner/%s", "/ostrel/planner", _robot, Viewer.planner),
    "simulator": Kind("/ostrel/simulator/%s", "/ostrel/simulator", _nobody, Viewer.simulator),
    "perception": Kind("/ostrel/perception/%s", "/ostrel/perception", _camera, Viewer.perception),
    "images": Kind("/ostrel/camera/%s/image", "/ostrel/images", _images_camera, Viewer.images),
}


def product_topic(kind: str, source: str) -> str:
    entry = KINDS[kind]
    return entry.named % source if source else entry.unnamed


def product_class(kind: str) -> Any:
    """The message class of a ProductRecord member."""
    descriptor = data_pb2.ProductRecord.DESCRIPTOR.fields_by_name[kind].message_type
    assert descriptor is not None  # every member of ProductRecord.type is a message
    return message_factory.GetMessageClass(descriptor)


def _buffer(pieces: Sequence[memoryview]) -> bytes:
    """The pieces as one message. mcap writes a message's data with one
    write(), which takes any buffer: a single piece stays a view of the
    answer and is not copied."""
    return cast(bytes, pieces[0]) if len(pieces) == 1 else b"".join(pieces)


# Channels -------------------------------------------------------------------------

class ChannelCount(NamedTuple):
    schema: str
    messages: int


class Channels:
    """Channels registered on first use, each with its schema (once per type)."""

    def __init__(self, writer: Any) -> None:
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


# Record sets ----------------------------------------------------------------------

class Item(NamedTuple):
    """One message (or a few that belong together) of a record set, written when its turn comes."""

    time_ns: int
    write: Callable[[], None]


class SetWriter:
    def __init__(self, writer: Any, channels: Channels, viewer: Optional[Viewer], server: str,
                 warn: Warn) -> None:
        self.writer = writer
        self.channels = channels
        self.viewer = viewer
        self.server = server
        self.warn = warn

    def write(self, index: int, data: memoryview, start: int, end: int) -> None:
        records = LazySet(data, (start, end))
        header = records.header
        origin = set_events.set_origin_ns(header)
        label = texts.describe_set(header, index)
        self._write_project(index, header, list(wire.field_spans(data, PROJECT_FIELD, start, end)), origin, label)
        self.writer.add_metadata("%s.%d" % (SET_METADATA, index), {
            "index": str(index), "description": header.description,
            "start_timestamp_ns": str(header.start_timestamp_ns), "stop_timestamp_ns": str(header.stop_timestamp_ns),
            "project_version": header.project.version, "server": self.server, "ostrel_version": package_version(),
            "events": str(len(header.events)), "products": str(len(records.refs)),
        })
        events = set_events.events(header)
        for event in events:
            if event.step == set_events.UNREADABLE_STEP:
                self.warn(ERR_DAMAGED_EVENT % (label, event.name, event.start_ns, event.action_type, EVENTS_TOPIC))
        encoded_events = list(wire.field_spans(data, _EVENTS, start, end))
        streams = [self._events(events, encoded_events, origin), self._products(data, records, origin, label)]
        if self.viewer is not None:
            streams.append(self._logs(events, origin))
        # Events, log lines and products in the order of their times, each read when written.
        for item in heapq.merge(*streams, key=lambda item: item.time_ns):
            item.write()
        # The set's last chunk ends here: chunks never span two sets.
        self.writer.flush()

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
            self.viewer.start(origin, header.project)

    def _events(self, events: List[set_events.Event], encoded: List[memoryview], origin: int) -> Iterator[Item]:
        for event, data in zip(events, encoded):
            time_ns = event.start_ns or origin
            yield Item(time_ns, partial(self.channels.add, EVENTS_TOPIC, data_pb2.EventRecord, _buffer([data]),
                                        time_ns))

    def _logs(self, events: List[set_events.Event], origin: int) -> Iterator[Item]:
        viewer = self.viewer
        assert viewer is not None
        for event in events:
            time_ns = event.stop_ns or event.start_ns or origin
            yield Item(time_ns, partial(viewer.log, time_ns, event))

    def _products(self, data: memoryview, records: LazySet, origin: int, label: str) -> Iterator[Item]:
        for ref in records.refs:
            product = raw_product(data[ref.span[0]:ref.span[1]])
            time_ns = product.timestamp_ns or origin
            yield Item(time_ns, partial(self._product, product, time_ns, label))

    def _product(self, product: RawProduct, time_ns: int, label: str) -> None:
        kind = product.kind
        if kind is None:
            self.warn(ERR_EMPTY_PRODUCT % (label, time_ns))
            return
        entry = KINDS[kind]
        message_class = product_class(kind)
        shown: Tuple[Any, ...]
        if kind == "images":  # read without their pixels, which stay views of the answer
            message: Any = list(image_heads(product.pieces))
            shown = (self.viewer, time_ns, message, label)
        else:
            message = parse(message_class, b"".join(product.pieces))
            shown = (self.viewer, time_ns, message)
        self.channels.add(product_topic(kind, entry.source(message)), message_class, _buffer(product.pieces),
                          time_ns)
        if self.viewer is not None:
            entry.show(*shown)


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
    library = load_writer()
    writer = library.Writer(stream, compression=library.CompressionType[compression.upper()], enable_data_crcs=True)
    writer.start(library="ostrel %s, %s" % (package_version(), library.LIBRARY_IDENTIFIER))
    channels = Channels(writer)
    try:
        viewer: Optional[Viewer] = Viewer(channels.add, warn)
    except ImportError:
        viewer = None
        warn(NO_VIEWER)
    sets = SetWriter(writer, channels, viewer, server, warn)
    data = memoryview(answer)
    count = 0
    for field in wire.fields(data):
        if field.number == RECORDS_FIELD and field.wire == 2:
            count += 1
            sets.write(count, data, field.value, field.end)
    if not count:
        warn(export.NO_RECORDS)
    writer.finish()
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
    load_writer()  # before anything is read or written
    data = read_answer(answer)
    with OutputFile(out, binary=True) as stream:
        written = write_stream(data, stream, compression, server, warn)
    return written._replace(path=out, size=os.path.getsize(out))


def summary_line(written: Written, compression: str) -> str:
    return "%d record sets written to %s: %d messages on %d channels, %d bytes (%s)" % (
        written.record_sets, written.path, written.messages, len(written.channels), written.size, compression)
