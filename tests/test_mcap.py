"""`ostrel records --mcap` on records that the reference server made from the
sample project (one good run, one with a failed step), read back with the MCAP
library's readers (CRCs validated) and its protobuf decoder: lossless
messages byte for byte, schemas, viewer values, record sets as time ranges,
metadata and attachments; bad answers leave no file; the reduced file without
the visualisation schemas; the command line."""

import io
import math
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
from ostrel.records import set_events  # noqa: E402
import test_export_report  # noqa: E402
from test_export_report import BAD_IMAGES  # noqa: E402

# The recordings of the export tests: the sample program and one with a failed step.
cell = test_export_report.cell
records = test_export_report.records

PREVIEW, CROP = (160, 120), (64, 64)  # the demo camera's recorded image and crop sizes

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
        source = writer.KINDS[kind].source(member)
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
    previews = [(p, i) for p, i in images if (i.width, i.height) == PREVIEW]
    crops = [(p, i) for p, i in images if (i.width, i.height) == CROP]
    assert len(previews) + len(crops) == len(images) and previews and crops
    raw = read.decoded("/viz/camera/d435i/image")
    assert len(raw) == len(previews)
    for message, (product, image) in zip(raw, previews):
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
    scale = PREVIEW[0] / 640  # the camera's corners, in the preview's pixels
    assert [[(p.x, p.y) for p in a.points] for a in annotations.points] == [
        [(c.x * scale, c.y * scale) for c in m.corners] for m in detected]
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


# The scene read back ----------------------------------------------------------------------------

def quat_mul(a, b):
    aw, ax, ay, az = a
    bw, bx, by, bz = b
    return (aw * bw - ax * bx - ay * by - az * bz, aw * bx + ax * bw + ay * bz - az * by,
            aw * by - ax * bz + ay * bw + az * bx, aw * bz + ax * by - ay * bx + az * bw)


def compose(a, b):
    """Pose b (position, quaternion w x y z) given in a's frame, in a's parent frame."""
    (pa, qa), (pb, qb) = a, b
    _, x, y, z = quat_mul(quat_mul(qa, (0.0, *pb)), (qa[0], -qa[1], -qa[2], -qa[3]))
    return (pa[0] + x, pa[1] + y, pa[2] + z), quat_mul(qa, qb)


class FrameTree:
    """The frame tree as a viewer keeps it: each child's latest transform,
    replayed from the static and moving transform channels in time order."""

    def __init__(self, read):
        entries = [(log, order, m) for order, topic in enumerate(("/viz/tf_static", "/viz/tf"))
                   for log, _, _, _, m in read.by_topic[topic]]
        self.steps = sorted(entries, key=lambda e: (e[0], e[1]))
        self.latest = {}

    def replay(self):
        """Yields the time of each transform message once the tree holds it."""
        for log, _, message in self.steps:
            for t in message.transforms:
                pose = ((t.translation.x, t.translation.y, t.translation.z),
                        (t.rotation.w, t.rotation.x, t.rotation.y, t.rotation.z))
                self.latest[t.child_frame_id] = (t.parent_frame_id, pose)
            yield log

    def parent(self, frame):
        return self.latest[frame][0]

    def world(self, frame):
        """The frame's pose in `world`; KeyError when its chain does not reach it."""
        pose = ((0.0, 0.0, 0.0), (1.0, 0.0, 0.0, 0.0))
        while frame != viewer.WORLD_FRAME:
            frame, step = self.latest[frame]
            pose = compose(step, pose)
        return pose


def final_frames(read):
    tree = FrameTree(read)
    for _ in tree.replay():
        pass
    return tree.latest


def close(a, b, tol=1e-6):
    return all(abs(x - y) <= tol for x, y in zip((*a[0], *a[1]), (*b[0], *b[1])))


def image_topics(read):
    return {t: e for t, e in read.by_topic.items() if e[0][2] in ("foxglove.RawImage", "foxglove.CompressedImage")}


def calibration_topic(image_topic):
    head, _, leaf = image_topic.rpartition("/")
    return head + "/calibration" if leaf in ("image", "compressed") else image_topic + "/calibration"


@needs_viewer
def test_every_image_channel_holds_one_size_with_a_calibration_of_that_size_and_frame(demo):
    _, read, _ = demo
    images = image_topics(read)
    assert set(images) == {"/viz/camera/d435i/image", "/viz/camera/d435i/crop/pick_region"}
    for topic, entries in images.items():
        [(width, height, frame)] = {(m.width, m.height, m.frame_id) for *_, m in entries}
        calibrations = read.decoded(calibration_topic(topic))
        assert calibrations and {(c.width, c.height, c.frame_id) for c in calibrations} == {(width, height, frame)}
        assert frame in final_frames(read)
    [preview] = {tuple(c.K) for c in read.decoded("/viz/camera/d435i/calibration")}
    assert preview == pytest.approx((615.0 / 4, 0, 80.0, 0, 615.0 / 4, 60.0, 0, 0, 1))  # 640x480 seen at 160x120


@needs_viewer
def test_every_annotation_point_lies_inside_the_image_it_is_drawn_on(demo):
    _, read, _ = demo
    sizes = {t: (e[0][4].width, e[0][4].height) for t, e in image_topics(read).items()}
    drawn = [t for t in read.by_topic if t.endswith("/markers")]
    assert drawn
    for topic in drawn:
        width, height = sizes[topic.rsplit("/", 1)[0] + "/image"]
        points = [(p.x, p.y) for m in read.decoded(topic) for a in m.points for p in a.points]
        points += [(t.position.x, t.position.y) for m in read.decoded(topic) for t in m.texts]
        assert points and all(0 <= x < width and 0 <= y < height for x, y in points), topic


@needs_viewer
def test_robot_links_hang_under_world_and_move_over_the_run(demo):
    _, read, _ = demo
    tree = FrameTree(read)
    places = defaultdict(set)
    links = ("ur5e/base_link", "ur5e/wrist_3_link", "ur5e/flange", "ur5e/tool/gripper_tcp", "gripper")
    for _ in tree.replay():
        for frame in links:
            try:
                places[frame].add(tuple(round(v, 9) for v in tree.world(frame)[0]))
            except KeyError:  # not reaching world before the first moving transforms
                pass
    assert set(places) == set(links)
    # home, over the part, at the part, lifted, over the place region
    assert len(places["ur5e/base_link"]) == 1 and all(len(places[f]) >= 5 for f in links[1:])
    every = final_frames(read)
    for frame in every:  # every frame reaches world
        tree.world(frame)
    expected = {"world", "ur5e", "desk", "part", "d435i", "marker_0", "pick_region", "place_region",
                "d435i/crop/pick_region"}
    assert expected <= set(every) | {"world"}


@needs_viewer
def test_the_held_part_follows_the_gripper_from_attach_to_detach_and_stays_where_it_was_let_go(demo):
    _, read, _ = demo
    tree = FrameTree(read)
    held_places, grips, before, changes = set(), set(), None, []
    for _ in tree.replay():
        if "part" not in tree.latest or "ur5e" not in tree.latest:
            continue
        parent, now = tree.parent("part"), tree.world("part")
        if before is not None and parent != before[0]:
            changes.append(parent)
            if parent == "world":
                assert close(now, before[1]), "the part jumps when let go"
            else:  # taken where it lies: the tool's centre point is on it
                assert math.dist(now[0], before[1][0]) < 1e-3, "the part jumps when taken"
        if parent == "gripper":
            held_places.add(tuple(round(v, 6) for v in now[0]))
            (tx, ty, tz), tq = tree.world("ur5e/tool/gripper_tcp")
            inverse = (tq[0], -tq[1], -tq[2], -tq[3])
            grip = compose((compose(((0, 0, 0), inverse), ((-tx, -ty, -tz), (1, 0, 0, 0)))[0], inverse), now)
            grips.add(tuple(round(v, 6) for v in (*grip[0], *grip[1])))
        before = (parent, now)
    assert changes == ["gripper", "world"] * (len(changes) // 2) and changes
    assert len(held_places) >= 3 and len(grips) == 1  # taken, lifted, put down; held the same way by the tool


@needs_viewer
def test_entities_show_items_regions_markers_and_the_arm_in_frames_of_the_tree(demo):
    _, read, _ = demo
    frames = final_frames(read)
    updates = read.decoded("/viz/scene")
    assert len(updates) == len(read.metadata)  # one per record set, each replacing the one before
    from foxglove_schemas_protobuf.SceneEntityDeletion_pb2 import SceneEntityDeletion

    assert all([d.type for d in m.deletions] == [SceneEntityDeletion.ALL] for m in updates)
    entities = {e.id: e for m in updates for e in m.entities}
    for name in ("item/desk", "item/part", "region/pick_region", "region/place_region", "marker/marker_0",
                 "robot/ur5e/base_link", "robot/ur5e/wrist_2_link"):
        assert name in entities, name
    assert all(e.frame_id in frames and e.frame_locked for e in entities.values())
    [region] = entities["region/pick_region"].cubes
    assert (region.size.x, region.size.y, region.size.z) == pytest.approx((0.1, 0.1, 0.05))
    assert [(p.x, p.y, p.z) for p in entities["robot/ur5e/base_link"].lines[0].points][1][2] == pytest.approx(0.1625)


@needs_viewer
def test_every_viewer_channel_is_one_the_scene_advertises_with_the_same_schema(records, demo):
    from ostrel.records.scene import Scene

    _, read, _ = demo
    advertised = {}
    for record_set in records.records:
        advertised.update({c.topic: c for c in Scene(record_set.project).channels()})
    schemas = {read.summary.channels[i].topic: read.summary.schemas[c.schema_id]
               for i, c in read.summary.channels.items()}
    for topic, schema in schemas.items():
        if topic.startswith("/viz/"):
            assert (advertised[topic].schema_name, advertised[topic].schema) == (schema.name, schema.data), topic


# Record sets, metadata, attachments, compression -----------------------------------------

def test_each_record_set_is_a_time_range_with_its_metadata_and_project(records, demo):
    _, read, _ = demo
    metadata = [m.metadata for m in read.metadata if m.name.startswith(writer.SET_METADATA + ".")]
    assert [m.name for m in read.metadata] == ["%s.%d" % (writer.SET_METADATA, i + 1) for i in range(len(metadata))]
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


def test_an_event_with_a_damaged_action_is_named_and_kept_byte_for_byte(tmp_path):
    record_set = data_pb2.RecordSet(description="odd", start_timestamp_ns=1000, project={})
    event = record_set.events.add(name="bad", start_timestamp_ns=1500, stop_timestamp_ns=1600)
    event.action.type_url = "type.googleapis.com/ostrel.api.planning.PlannerAction"
    event.action.value = b"\x0a\xff\xff"  # a length that runs past the end
    _, read, warnings = written(data_pb2.DataRecords(records=[record_set]), tmp_path, decode=False)
    assert warnings == [writer.ERR_DAMAGED_EVENT % ("record set 1 'odd'", "bad", 1500,
                                                    "ostrel.api.planning.PlannerAction", writer.EVENTS_TOPIC)]
    assert [bytes(e[3]) for e in read.by_topic[writer.EVENTS_TOPIC]] == [event.SerializeToString()]
    if HAVE_VIEWER:
        [log] = Read(tmp_path / "run.mcap").decoded("/viz/log")
        assert set_events.UNREADABLE_STEP in log.message


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
    assert mcap_line.endswith("bytes (lz4)") and "21 events, 11 controller rows" in export_line
    read = Read(out, decode=False)
    assert {c.compression for c in read.summary.chunk_indexes} == {"lz4"}
    [metadata] = read.metadata
    assert metadata.metadata["server"] == cell.target and metadata.metadata["description"] == "pick_and_place"


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
