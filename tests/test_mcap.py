"""`ostrel records --mcap` on records that the reference server made from the
sample project (one good run, one with a failed step), read back with the MCAP
library's readers (CRCs validated) and its protobuf decoder: lossless
messages byte for byte, schemas, viewer values, record sets as time ranges,
metadata and attachments; bad answers leave no file; the reduced file without
the visualisation schemas; the command line."""

import io
import os
import sys
import zlib
from collections import defaultdict

import pytest
from google.protobuf import descriptor_pb2, json_format

from ostrel import cli, wire
from ostrel.cli import commands, errors
from ostrel.cli.calls import Api
from ostrel.cli import records as records_cli
from ostrel.api import common_pb2 as C
from ostrel.api import data_pb2, image_pb2

mcap_reader = pytest.importorskip("mcap.reader", reason='needs the MCAP libraries: pip install "ostrel[mcap]"')
from mcap.stream_reader import StreamReader  # noqa: E402
from mcap_protobuf.decoder import DecoderFactory  # noqa: E402

from ostrel.records import mcap as writer  # noqa: E402
from ostrel.records import mcap_viewer as viewer  # noqa: E402
import test_export_report  # noqa: E402
from test_export_report import BAD_IMAGES, spawn  # noqa: E402

# The recordings of the export tests: the sample program and one with a failed step.
cell = test_export_report.cell
records = test_export_report.records

HAVE_VIEWER = True
try:
    import foxglove_schemas_protobuf  # noqa: F401
except ImportError:
    HAVE_VIEWER = False
needs_viewer = pytest.mark.skipif(not HAVE_VIEWER, reason="needs foxglove-schemas-protobuf")


class Read:
    """Everything in an MCAP file, read by the library: messages by topic from
    a front-to-back pass with every CRC checked (decoded by the protobuf
    decoder unless `decode` is false), the summary and records by their index
    from a seeking reader."""

    def __init__(self, path, decode=True):
        data = open(path, "rb").read()
        self.size = len(data)
        self.by_topic = defaultdict(list)  # topic -> [(log time, publish time, schema name, data, decoded)]
        self.records = list(StreamReader(io.BytesIO(data), validate_crcs=True, emit_chunks=True).records)
        factories = [DecoderFactory()] if decode else []
        plain = mcap_reader.NonSeekingReader(io.BytesIO(data), validate_crcs=True, decoder_factories=factories)
        messages = (plain.iter_decoded_messages(log_time_order=False) if decode else
                    ((*entry, None) for entry in plain.iter_messages(log_time_order=False)))
        for schema, channel, message, decoded in messages:
            self.by_topic[channel.topic].append((message.log_time, message.publish_time, schema.name,
                                                 message.data, decoded))
        seeking = mcap_reader.make_reader(io.BytesIO(data), validate_crcs=True)
        self.summary = seeking.get_summary()
        self.metadata = list(seeking.iter_metadata())
        self.attachments = list(seeking.iter_attachments())
        assert sum(1 for _ in seeking.iter_messages()) == sum(map(len, self.by_topic.values()))
        footer = self.records[-1]
        assert footer.summary_crc == zlib.crc32(data[footer.summary_start:-12])  # the footer's CRC field and magic

    def decoded(self, topic):
        return [entry[4] for entry in self.by_topic[topic]]


def written(records, tmp_path, name="run.mcap", decode=True, **options):
    warnings = []
    result = writer.write(records.SerializeToString(), str(tmp_path / name), warn=warnings.append, **options)
    return result, Read(tmp_path / name, decode), warnings


@pytest.fixture(scope="module")
def demo(records, tmp_path_factory):
    return written(records, tmp_path_factory.mktemp("mcap"), server="localhost:1")


def kind_of(product):
    return product.WhichOneof("type")


def expected_topic(product):
    kind = kind_of(product)
    member = getattr(product, kind)
    if kind == "images":
        source = writer._one_source(i.camera for i in member.images)
    else:
        source = writer.SOURCES[kind](member)
    return writer.product_topic(kind, source)


# Lossless channels -------------------------------------------------------------------

def test_lossless_messages_are_the_recorded_products_events_and_projects_byte_for_byte(records, demo):
    result, read, warnings = demo
    assert (warnings, result.record_sets) == ([], 2)
    expected, recorded = defaultdict(list), {}
    for record_set in records.records:
        start = record_set.start_timestamp_ns
        expected[writer.PROJECT_TOPIC].append((start, record_set.project.SerializeToString()))
        for event in record_set.events:
            expected[writer.EVENTS_TOPIC].append((event.start_timestamp_ns, event.SerializeToString()))
        for product in record_set.products:
            member = getattr(product, kind_of(product))
            expected[expected_topic(product)].append((product.timestamp_ns, member.SerializeToString()))
            recorded[expected_topic(product)] = member
        recorded[writer.PROJECT_TOPIC], recorded[writer.EVENTS_TOPIC] = record_set.project, record_set.events[0]
    lossless = {topic: entries for topic, entries in read.by_topic.items() if topic.startswith("/ostrel/")}
    assert set(lossless) == set(expected)
    for topic, entries in lossless.items():
        assert [(log, data) for log, _, _, data, _ in entries] == expected[topic], topic
        for log, publish, _, data, decoded in entries:  # the decoder's message is the recorded one
            assert log == publish and decoded.SerializeToString(deterministic=True) == type(
                recorded[topic]).FromString(data).SerializeToString(deterministic=True)
    assert {topic: entries[0][2] for topic, entries in lossless.items()} == {
        "/ostrel/camera/d435i/image": "ostrel.api.perception.ImagesProducts",
        "/ostrel/controller/ur5e": "ostrel.api.control.ControllerProducts",
        "/ostrel/planner/ur5e": "ostrel.api.planning.PlannerProducts",
        "/ostrel/simulator": "ostrel.api.simulation.SimulatorProducts",
        "/ostrel/perception/d435i": "ostrel.api.perception.PerceptionProducts",
        "/ostrel/perception": "ostrel.api.perception.PerceptionProducts",  # no camera named
        "/ostrel/events": "ostrel.api.data.EventRecord",
        "/ostrel/project": "ostrel.api.project.ProjectSnapshot",
    }
    assert {t: c.messages for t, c in result.channels.items()} == {t: len(e) for t, e in read.by_topic.items()}


def test_every_schema_is_a_complete_descriptor_set_of_its_type(demo):
    _, read, _ = demo
    factory = DecoderFactory()
    assert read.summary.schemas
    for schema in read.summary.schemas.values():
        assert schema.encoding == "protobuf"
        files = descriptor_pb2.FileDescriptorSet.FromString(schema.data).file
        names = [f.name for f in files]
        assert len(set(names)) == len(names)
        for position, file in enumerate(files):  # dependencies first
            assert set(file.dependency) <= set(names[:position]), (schema.name, file.name)
        package, _, message = schema.name.rpartition(".")
        assert any(f.package == package and message in [m.name for m in f.message_type] for f in files)
        assert factory.decoder_for("protobuf", schema) is not None
    for channel in read.summary.channels.values():
        assert channel.message_encoding == "protobuf" and channel.schema_id in read.summary.schemas


# Viewer channels -----------------------------------------------------------------------

def all_products(records, kind):
    return [p for r in records.records for p in r.products if kind_of(p) == kind]


@needs_viewer
def test_viewer_channels_carry_pixels_poses_markers_joints_and_events(records, demo):
    _, read, _ = demo
    images = [(p, i) for p in all_products(records, "images") for i in p.images.images]
    raw = read.decoded("/viz/camera/d435i/image")
    assert len(raw) == len(images) > 0
    for message, (product, image) in zip(raw, images):
        assert (message.width, message.height, message.encoding, message.frame_id) == (
            image.width, image.height, image.encoding, image.camera)
        assert message.data == image.data and message.step == image.width
        assert message.timestamp.ToNanoseconds() == (image.timestamp_ns or product.timestamp_ns)

    [calibration] = [p for p in all_products(records, "perception") if p.perception.camera_poses]
    pose = calibration.perception.camera_poses["d435i"]
    transforms = {(t.child_frame_id, t.timestamp.ToNanoseconds()): t
                  for m in read.decoded("/viz/tf") for t in m.transforms}
    moved = transforms["d435i", calibration.timestamp_ns]
    assert moved.parent_frame_id == viewer.WORLD_FRAME
    assert (moved.translation.x, moved.translation.y, moved.translation.z) == (
        pose.position.x, pose.position.y, pose.position.z)
    assert (moved.rotation.w, moved.rotation.x, moved.rotation.y, moved.rotation.z) == (
        pose.qw, pose.qx, pose.qy, pose.qz)
    simulated = all_products(records, "simulator")[-1]
    marker = simulated.simulator.workspace_state.fiducials["marker_0"].base_pose
    placed = transforms["marker_0", simulated.timestamp_ns]
    assert (placed.translation.x, placed.translation.y, placed.translation.z) == (
        marker.position.x, marker.position.y, marker.position.z)
    assert placed.rotation.w == (marker.qw if (marker.qw or marker.qx or marker.qy or marker.qz) else 1.0)

    [annotations] = read.decoded("/viz/camera/d435i/markers")
    detected = calibration.perception.detected_markers
    assert [[(p.x, p.y) for p in a.points] for a in annotations.points] == [
        [(c.x, c.y) for c in m.corners] for m in detected]
    assert [t.text for t in annotations.texts] == ["id %d" % m.id for m in detected]

    controller = [p for p in all_products(records, "controller") if p.controller.feedback.joint.positions.data]
    feedback = read.decoded("/viz/joints/ur5e/feedback")
    assert len(feedback) == len(controller)
    for message, product in zip(feedback, controller):
        assert [j.name for j in message.joints][:3] == ["shoulder_pan", "shoulder_lift", "elbow"]
        assert [j.position for j in message.joints] == list(product.controller.feedback.joint.positions.data)

    logs = read.decoded("/viz/log")
    events = [e for r in records.records for e in r.events]
    assert len(logs) == len(events)
    failed = [m for m in logs if m.level == m.ERROR]
    [bad] = [e for e in events if e.status[-1].code == C.FAILURE]
    assert [(m.name, m.timestamp.ToNanoseconds()) for m in failed] == [(bad.name, bad.stop_timestamp_ns)]
    assert failed[0].message.startswith("FAILURE calibrate_camera_from_markers: ")
    assert bad.status[-1].message in failed[0].message
    assert all(m.level == m.INFO for m in logs if m not in failed)


# Record sets, metadata, attachments, compression -----------------------------------------

def test_each_record_set_is_a_time_range_with_its_metadata_and_project(records, demo):
    _, read, _ = demo
    metadata = [m.metadata for m in read.metadata if m.name == writer.SET_METADATA]
    assert len(metadata) == len(read.attachments) == len(records.records)
    ranges = []
    for index, (record_set, meta, attachment) in enumerate(zip(records.records, metadata, read.attachments), 1):
        start, stop = record_set.start_timestamp_ns, record_set.stop_timestamp_ns
        assert meta == {
            "index": str(index), "description": record_set.description, "start_timestamp_ns": str(start),
            "stop_timestamp_ns": str(stop), "project_version": record_set.project.version, "server": "localhost:1",
            "ostrel_version": writer.package_version(), "events": str(len(record_set.events)),
            "products": str(len(record_set.products)),
        }
        assert attachment.media_type == "application/json" and attachment.log_time == start
        assert json_format.Parse(attachment.data.decode(), type(record_set.project)()) == record_set.project
        ranges.append((start, stop))
    assert ranges == sorted(ranges) and all(a[1] < b[0] for a, b in zip(ranges, ranges[1:]))
    # Every message lies within one set's range; no chunk spans two sets.
    for topic, entries in read.by_topic.items():
        assert all(any(lo <= log <= hi for lo, hi in ranges) for log, *_ in entries), topic
    for chunk in read.summary.chunk_indexes:
        assert any(lo <= chunk.message_start_time <= chunk.message_end_time <= hi for lo, hi in ranges)
    statistics = read.summary.statistics
    assert (statistics.message_start_time, statistics.message_end_time) == (ranges[0][0], max(
        log for entries in read.by_topic.values() for log, *_ in entries))


@pytest.mark.parametrize("compression, chunk_compression", [("none", ""), ("lz4", "lz4"), ("zstd", "zstd")])
def test_each_compression_writes_indexed_chunks_that_read_back_alike(records, tmp_path, demo, compression,
                                                                      chunk_compression):
    result, read, _ = written(records, tmp_path, compression=compression, server="localhost:1", decode=False)
    assert {c.compression for c in read.summary.chunk_indexes} == {chunk_compression}
    assert all(c.message_index_offsets for c in read.summary.chunk_indexes)
    assert read.summary.statistics.message_count == result.messages == demo[0].messages
    assert {t: [e[:4] for e in v] for t, v in read.by_topic.items()} == {
        t: [e[:4] for e in v] for t, v in demo[1].by_topic.items()}
    assert result.size == read.size == os.path.getsize(tmp_path / "run.mcap")


def test_missing_time_stamps_and_empty_or_unreadable_parts_are_named(tmp_path):
    bad_image = image_pb2.Image(camera="cam", encoding="rgb8", width=4, height=4, data=bytes(47))
    record_set = data_pb2.RecordSet(description="odd", start_timestamp_ns=1000, stop_timestamp_ns=5000)
    record_set.events.add(name="e")  # no times
    record_set.products.add(controller={"robot": "ur5e"})  # no time stamp
    record_set.products.add(timestamp_ns=2000)  # no member
    record_set.products.add(timestamp_ns=3000).images.images.append(bad_image)
    result, read, warnings = written(data_pb2.DataRecords(records=[record_set]), tmp_path)
    assert [log for log, *_ in read.by_topic["/ostrel/controller/ur5e"]] == [1000]
    assert [log for log, *_ in read.by_topic[writer.EVENTS_TOPIC]] == [1000]
    assert read.decoded("/ostrel/camera/cam/image")[0].images[0].SerializeToString() == bad_image.SerializeToString()
    assert "/viz/camera/cam/image" not in read.by_topic
    label = "record set 1 'odd'"
    expected = [writer.ERR_NO_PROJECT % label, writer.ERR_EMPTY_PRODUCT % (label, 2000)]
    if HAVE_VIEWER:
        expected.append(viewer.ERR_IMAGE % (label, "cam at 3000 ns", "47 bytes of data, 4x4 rgb8 with row step 12 "
                                                                       "needs 48"))
    assert warnings == expected


@needs_viewer
@pytest.mark.parametrize("encoding, width, height, step, length, text", BAD_IMAGES,
                         ids=[b[-1].split(",")[0] for b in BAD_IMAGES])
def test_unreadable_images_stay_lossless_only(tmp_path, encoding, width, height, step, length, text):
    image = image_pb2.Image(camera="cam", encoding=encoding, width=width, height=height, step=step,
                            data=bytes(length))
    record_set = data_pb2.RecordSet(description="bad", start_timestamp_ns=1000, project={})
    record_set.products.add(timestamp_ns=2000).images.images.append(image)
    _, read, warnings = written(data_pb2.DataRecords(records=[record_set]), tmp_path)
    assert [w for w in warnings if text in w] == warnings and len(warnings) == 1
    assert not [t for t in read.by_topic if t.startswith("/viz/camera/")]


@needs_viewer
def test_compressed_images_go_to_a_compressed_image_channel_unchanged(tmp_path):
    record_set = data_pb2.RecordSet(description="jpeg", start_timestamp_ns=1000, project={})
    product = record_set.products.add(timestamp_ns=2000)
    product.images.images.add(camera="cam", encoding="jpeg", width=2, height=2, data=b"\xff\xd8 opaque")
    _, read, warnings = written(data_pb2.DataRecords(records=[record_set]), tmp_path)
    [message] = read.decoded("/viz/camera/cam/compressed")
    assert (message.format, message.data, message.frame_id, warnings) == ("jpeg", b"\xff\xd8 opaque", "cam", [])


def test_a_product_with_two_members_on_the_wire_keeps_the_later_one_as_parsing_does(tmp_path):
    first = data_pb2.ProductRecord(timestamp_ns=2000, perception={}).SerializeToString()
    later = data_pb2.ProductRecord(planner={"robot": "a"}).SerializeToString()
    again = data_pb2.ProductRecord(planner={"tool": "t"}).SerializeToString()  # the same member merges
    product = first + later + again
    record_set = wire.field(1, b"odd") + wire.uint_field(2, 1000) + wire.field(5, product)
    answer = wire.field(1, record_set)
    path = tmp_path / "two.mcap"
    writer.write(answer, str(path))
    read = Read(path)
    [(log, _, _, data, decoded)] = read.by_topic["/ostrel/planner/a"]
    parsed = data_pb2.ProductRecord.FromString(product)
    assert (log, bytes(data)) == (2000, later[2:] + again[2:]) and "/ostrel/perception" not in read.by_topic
    assert decoded.SerializeToString() == parsed.planner.SerializeToString()


# Bad answers ------------------------------------------------------------------------

def test_corrupt_or_truncated_answers_raise_one_error_and_leave_no_file(records, tmp_path):
    answer = records.SerializeToString()
    garbage = b"\x2a\x02\xff\xff"  # RecordSet.products holding two bytes that are no ProductRecord
    broken = [answer[:cut] for cut in (1, len(answer) // 2, len(answer) - 1)]
    broken.append(b"\x0a" + bytes([len(garbage)]) + garbage)
    out = tmp_path / "run.mcap"
    out.write_bytes(b"the earlier file")
    for data in broken:
        with pytest.raises(wire.WireError):
            writer.write(data, str(out))
        assert os.listdir(tmp_path) == ["run.mcap"] and out.read_bytes() == b"the earlier file"
    with pytest.raises(ValueError, match="unknown compression 'gzip'"):
        writer.write(answer, str(out), compression="gzip")


# Without the visualisation schemas ------------------------------------------------------------

def test_without_the_visualisation_schemas_the_lossless_channels_are_written(records, tmp_path, monkeypatch):
    monkeypatch.setitem(sys.modules, "foxglove_schemas_protobuf", None)
    result, read, warnings = written(records, tmp_path, decode=False)
    assert warnings == [writer.NO_VIEWER]
    assert set(read.by_topic) == {t for t in read.by_topic if t.startswith("/ostrel/")} and len(read.by_topic) == 8
    assert sum(len(r.products) + len(r.events) + 1 for r in records.records) == result.messages


# Command line ---------------------------------------------------------------------------

def test_command_writes_the_servers_records_with_the_chosen_compression(cell, records, capsys, tmp_path):
    out = tmp_path / "run.mcap"
    code = cli.main(["--target", cell.target, "records", "--mcap", str(out), "--mcap-compression", "lz4",
                     "--description", "pick_and_place", "--export", str(tmp_path / "run")])
    stdout, err = capsys.readouterr()
    mcap_line, export_line = stdout.splitlines()  # both from one answer
    assert (code, err) == (0, "") and mcap_line.startswith("1 record sets written to %s: " % out)
    assert mcap_line.endswith("bytes (lz4)") and "30 events, 18 controller rows" in export_line
    read = Read(out, decode=False)
    assert {c.compression for c in read.summary.chunk_indexes} == {"lz4"}
    [metadata] = read.metadata
    assert metadata.metadata["server"] == cell.target and metadata.metadata["description"] == "pick_and_place"


def test_command_without_the_mcap_libraries_says_what_to_install_before_connecting(tmp_path):
    code = """if True:
        import sys
        sys.modules["mcap"] = None
        from ostrel import cli
        sys.exit(cli.main(["--target", "127.0.0.1:9", "records", "--mcap", %r]))""" % str(tmp_path / "x.mcap")
    proc = spawn(sys.executable, "-c", code)
    assert proc.returncode == errors.EXIT_ERROR and proc.stdout == b""
    assert proc.stderr.decode().startswith("ostrel: error: MCAP files (ostrel records --mcap) need the extra 'mcap'")
    assert proc.stderr.decode().endswith('pip install "ostrel[mcap]"\n')
    assert not os.listdir(tmp_path)


def test_command_reports_a_malformed_answer_in_one_line(tmp_path, capsys, monkeypatch):
    out = tmp_path / "run.mcap"

    class Answering:
        target = "test"
        api = Api()

        def call_raw(self, method, request):
            return b"\x0a\x05\x2a\x03\xff"

    args = commands.build_parser().parse_args(["records", "--mcap", str(out)])
    with pytest.raises(errors.CliError) as raised:
        records_cli.write_mcap(args, Answering())
    assert "cut short" in str(raised.value) and not os.listdir(tmp_path)
