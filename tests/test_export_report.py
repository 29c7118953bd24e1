"""`ostrel records --export` and `ostrel report` on records that the reference
server made from the sample project (one good run, one with a failed step):
CSV columns and rows against the records, PNG pixels per encoding, records
read one set at a time from the answer's bytes, bad input reported in one
line, and the report rendered by headless Chromium with the network off."""

import csv
import html
import json
import re
import io
import os
import shutil
import struct
import subprocess
import zlib
from pathlib import Path

import pytest
from google.protobuf import json_format

from ostrel import wire
from ostrel import cli
from ostrel.cli import errors
from ostrel.records import export, png, report
from ostrel.records import sets as recordsets
from ostrel.api import common_pb2 as C
from ostrel.api import data_pb2, image_pb2, perception_pb2, workspace_pb2
from ostrel.catalog import INTERRUPTED_EVENT, INTERRUPTED_TEXT, interrupted_event
from ostrel.cli import records as records_cli
from ostrel.cli.calls import Api
from ostrel.server import drawing
from test_server_cli import PERCEPTION, START, Cell, sequence, with_behavior

FAILING = {"name": "bad_calibration", "calibrate_camera_from_markers": {"camera": "d435i",
                                                                        "markers": ["marker_7"]}}
# marker_7 lies above the camera, which looks down: calibrating from it fails.
HIDDEN_MARKER = {"config": {"fiducials": {"marker_7": {"visual_marker": {"tag_id": 7, "marker_length_m": 0.05}}}},
                 "state": {"fiducials": {"marker_7": {"base_pose": {"position": {"z": 2.0}, "qw": 1.0}}}}}
ROBOT_JOINTS = ("shoulder_pan", "shoulder_lift", "elbow", "wrist_1", "wrist_2", "wrist_3")


try:
    import matplotlib  # noqa: F401  (only whether it is there)
    HAVE_PLOTTING = True
except ImportError:
    HAVE_PLOTTING = False
needs_plotting = pytest.mark.skipif(not HAVE_PLOTTING, reason='the report needs matplotlib: pip install "ostrel[report]"')


class NoPlots:
    """The figure class for pages that draw no plot: matplotlib is not needed."""

    def __init__(self, *args, **kwargs):
        raise AssertionError("this page should draw no plot")


@pytest.fixture(scope="module")
def cell(tmp_path_factory):
    c = Cell(tmp_path_factory.mktemp("cell") / "cell.sqlite3")
    project = with_behavior("broken", sequence(START, PERCEPTION, FAILING))
    project.workspace.MergeFrom(json_format.ParseDict(HIDDEN_MARKER, workspace_pb2.WorkspaceSnapshot()))
    c.push(project)
    assert c.run("pick_and_place").code == C.SUCCESS
    assert c.run("broken").code == C.FAILURE
    yield c
    c.stop()


@pytest.fixture(scope="module")
def records(cell):
    return data_pb2.DataRecords(records=cell.records())


def kinds(record_set):
    return [p.WhichOneof("type") for p in record_set.products]


def read_csv(path):
    with open(path, newline="", encoding="utf-8") as handle:
        rows = list(csv.reader(handle))
    return rows[0], rows[1:]


def numbers(cells):
    return [float(c) if c else None for c in cells]


def padded(values, count):
    """A joint vector as its CSV cells read back: missing joints are empty."""
    return list(values) + [None] * (count - len(values))


def exported(records, tmp_path):
    warnings = []
    summaries = export.export(records.SerializeToString(), str(tmp_path / "out"), warnings.append)
    return summaries, warnings


# Export ---------------------------------------------------------------------------

def test_export_writes_events_joints_images_and_project_matching_the_records(records, tmp_path):
    summaries, warnings = exported(records, tmp_path)
    assert warnings == [] and len(summaries) == len(records.records) == 2
    for summary, record_set in zip(summaries, records.records):
        folder = Path(summary.folder)
        header, rows = read_csv(folder / "events.csv")
        assert header == list(export.EVENT_COLUMNS) and len(rows) == len(record_set.events)
        for row, event in zip(rows, record_set.events):
            assert row[0] == event.name and (int(row[3]), int(row[4])) == (event.start_timestamp_ns,
                                                                          event.stop_timestamp_ns)
            assert row[8] == ["RUNNING", "SUCCESS", "FAILURE"][event.status[-1].code]
            assert row[9] == event.status[-1].message and event.action.type_url.endswith("/" + row[2])
            assert float(row[7]) == pytest.approx((event.stop_timestamp_ns - event.start_timestamp_ns) / 1e9)

        controller = [p for p in record_set.products if p.WhichOneof("type") == "controller"]
        header, rows = read_csv(folder / "controller.csv")
        assert header[:5] == ["timestamp_ns", "time_s", "robot", "controller_time_s", "faulted"]
        assert header[5:11] == ["ur5e.%s.reference_position" % j for j in ROBOT_JOINTS]
        assert len(header) == 5 + 4 * 6 and len(rows) == len(controller)
        for row, product in zip(rows, controller):
            assert int(row[0]) == product.timestamp_ns and row[2] == "ur5e"
            assert numbers(row[5:11]) == padded(product.controller.reference.joint.positions.data, 6)
            assert numbers(row[11:17]) == padded(product.controller.feedback.joint.positions.data, 6)

        simulator = [p for p in record_set.products if p.WhichOneof("type") == "simulator"]
        assert (folder / "simulator.csv").exists() == bool(simulator)
        if simulator:
            header, rows = read_csv(folder / "simulator.csv")
            assert header[2:] == ["ur5e.%s.position" % j for j in ROBOT_JOINTS] + ["gripper.joint_0.position"]
            assert len(rows) == len(simulator)
            last = simulator[-1].simulator.workspace_state
            assert numbers(rows[-1][2:8]) == padded(last.robots["ur5e"].joint_positions.data, 6)

        images = [(p, i) for p in record_set.products if p.WhichOneof("type") == "images" for i in p.images.images]
        pngs = sorted(folder.glob("*.png"))
        assert len(pngs) == summary.images == len(images)
        for product, image in images:
            data = (folder / ("%s_%d.png" % (image.camera, product.timestamp_ns))).read_bytes()
            assert decode_png(data) == (image.width, image.height, 8, 0, image.data)

        project = json_format.Parse((folder / "project.json").read_text(), type(record_set.project)())
        assert project == record_set.project and "broken" in project.behaviors


def test_record_sets_are_read_one_at_a_time_and_equal_the_parsed_answer(records):
    answer = records.SerializeToString()
    lazy = list(recordsets.record_sets(answer))
    assert len(lazy) == len(records.records)
    for one, record_set in zip(lazy, records.records):
        without = data_pb2.RecordSet()
        without.CopyFrom(record_set)
        del without.products[:]
        assert one.header == without and list(one.products()) == list(record_set.products)
        assert [r.kind for r in one.refs] == kinds(record_set)
        assert list(one.products("images")) == [p for p in record_set.products if p.WhichOneof("type") == "images"]
    # Two oneof members on the wire: the later one is the product's kind, as parsing has it.
    two = (data_pb2.ProductRecord(timestamp_ns=5, perception={}).SerializeToString()
           + data_pb2.ProductRecord(planner={"robot": "ur5e"}).SerializeToString())
    record_set = b"\x2a" + bytes([len(two)]) + two
    [one] = recordsets.record_sets(b"\x0a" + bytes([len(record_set)]) + record_set)
    assert [r.kind for r in one.refs] == ["planner"] and list(one.products("planner")) == [
        data_pb2.ProductRecord.FromString(two)]
    garbage = b"\x2a\x02\xff\xff"  # RecordSet.products holding two bytes that are no ProductRecord
    broken = [answer[:cut] for cut in (1, len(answer) // 2, len(answer) - 1)]
    broken.append(b"\x0a" + bytes([len(garbage)]) + garbage)
    for data in broken:
        with pytest.raises(wire.WireError):
            for one in recordsets.record_sets(data):
                list(one.products())


# PNG --------------------------------------------------------------------------------

def decode_png(data):
    """(width, height, bit depth, colour type, pixel rows) of a PNG file with
    unfiltered rows, read with zlib and struct only; checks every chunk's CRC."""
    assert data[:8] == png.PNG_SIGNATURE
    pos, chunks = 8, {}
    while pos < len(data):
        (length,) = struct.unpack(">I", data[pos:pos + 4])
        kind, body = data[pos + 4:pos + 8], data[pos + 8:pos + 8 + length]
        assert struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])[0] == zlib.crc32(kind + body)
        chunks[kind] = chunks.get(kind, b"") + body
        pos += 12 + length
    width, height, depth, color_type, _, _, _ = struct.unpack(">IIBBBBB", chunks[b"IHDR"])
    row = width * {0: 1, 2: 3, 6: 4}[color_type] * depth // 8
    raw = zlib.decompress(chunks[b"IDAT"])
    assert len(raw) == height * (row + 1) and all(raw[y * (row + 1)] == 0 for y in range(height))
    pixels = b"".join(raw[y * (row + 1) + 1:(y + 1) * (row + 1)] for y in range(height))
    return width, height, depth, color_type, pixels


def _pixels(width, height, channels, sample_bytes):
    return bytes((7 * i + 3 * (i // 5)) % 256 for i in range(width * height * channels * sample_bytes))


def _expected(encoding, rows, row_bytes):
    """What the PNG must hold, built independently of the encoder: RGB(A)
    order, 16-bit samples big-endian."""
    out = bytearray()
    for row in rows:
        row = row[:row_bytes]
        if encoding in ("bgr8", "bgra8"):
            n = 3 if encoding == "bgr8" else 4
            for x in range(0, len(row), n):
                px = row[x:x + n]
                out += bytes((px[2], px[1], px[0])) + px[3:]
        elif encoding in ("16UC1", "mono16"):
            for x in range(0, len(row), 2):
                out += bytes((row[x + 1], row[x]))
        else:
            out += row
    return bytes(out)


ENCODINGS = [  # encoding, channels, bytes per sample, PNG colour type, PIL mode
    ("mono8", 1, 1, 0, "L"), ("8UC1", 1, 1, 0, "L"), ("16UC1", 1, 2, 0, "I;16"), ("mono16", 1, 2, 0, "I;16"),
    ("rgb8", 3, 1, 2, "RGB"), ("bgr8", 3, 1, 2, "RGB"), ("rgba8", 4, 1, 6, "RGBA"), ("bgra8", 4, 1, 6, "RGBA"),
]


@pytest.mark.parametrize("padding", [0, 3])
@pytest.mark.parametrize("encoding, channels, size, color_type, mode", ENCODINGS, ids=[e[0] for e in ENCODINGS])
def test_png_round_trips_pixels_per_encoding(encoding, channels, size, color_type, mode, padding):
    width, height = 7, 5
    row_bytes = width * channels * size
    step = row_bytes + padding
    data = _pixels(step, height, 1, 1)
    rows = [data[y * step:(y + 1) * step] for y in range(height)]
    converted = png.convert(encoding, width, height, step, data)
    assert converted.suffix == ".png" and converted.mime == "image/png"
    want = _expected(encoding, rows, row_bytes)
    assert decode_png(converted.data) == (width, height, 8 * size, color_type, want)
    try:  # a second, independent decoder where one is installed
        from PIL import Image
    except ImportError:
        return
    with Image.open(io.BytesIO(converted.data)) as decoded:
        if size == 2:
            values = list(decoded.getdata())
            assert values == [int.from_bytes(want[i:i + 2], "big") for i in range(0, len(want), 2)]
        else:
            assert decoded.mode == mode and decoded.tobytes() == want


def test_thumbnail_takes_every_strideth_pixel_and_compressed_data_stays_as_recorded():
    data = bytes(range(36))
    decoded = decode_png(png.convert("mono8", 6, 6, 6, data, stride=4).data)
    assert decoded == (2, 2, 8, 0, bytes([0, 4, 24, 28]))
    assert png.thumbnail_stride(4096, 1000, 160) == 26 and png.thumbnail_stride(64, 64, 160) == 1
    for encoding, suffix in (("jpeg", ".jpg"), ("png", ".png")):
        assert png.convert(encoding, 3, 3, 0, b"opaque") == (b"opaque", suffix, "image/" + encoding)


BAD_IMAGES = [  # encoding, width, height, step, data length, text
    ("mono8", 64, 64, 64, 100, "100 bytes of data, 64x64 mono8 with row step 64 needs 4096"),
    ("rgb8", 4, 4, 0, 47, "47 bytes of data, 4x4 rgb8 with row step 12 needs 48"),
    ("16UC1", 4, 4, 4, 16, "row step 4 is shorter than 4 pixels of 16UC1 (8 bytes)"),
    ("yuv422", 4, 4, 8, 32, "unknown encoding 'yuv422'"),
    ("mono8", 0, 4, 0, 0, "no size (0x4)"),
    ("jpeg", 4, 4, 0, 0, "0 bytes of data"),
]


# Bad input ---------------------------------------------------------------------------

def _set_with(*images, products=True):
    record_set = data_pb2.RecordSet(description="bad", start_timestamp_ns=1000)
    if products:
        record_set.products.add(timestamp_ns=2000).images.CopyFrom(perception_pb2.ImagesProducts(images=images))
    return data_pb2.DataRecords(records=[record_set])


@pytest.mark.parametrize("encoding, width, height, step, length, text", BAD_IMAGES,
                         ids=[b[-1].split(",")[0] for b in BAD_IMAGES])
def test_bad_images_give_one_line_and_keep_their_data(tmp_path, encoding, width, height, step, length, text):
    image = image_pb2.Image(camera="cam", encoding=encoding, width=width, height=height, step=step,
                            data=bytes(length))
    summaries, warnings = exported(_set_with(image), tmp_path)
    assert any(text in w and "cam_2000.bin" in w for w in warnings), warnings
    assert (Path(summaries[0].folder) / "cam_2000.bin").read_bytes() == bytes(length)
    page_warnings = []
    page = report.render(_set_with(image).SerializeToString(), "t", page_warnings.append, NoPlots)
    assert any(text in w for w in page_warnings) and html.escape(text, quote=True) in page


@pytest.mark.parametrize("records, text", [
    (data_pb2.DataRecords(), report.NO_RECORDS),
    (_set_with(products=False), report.NO_PRODUCTS),
], ids=["empty selection", "no products"])
def test_empty_selection_and_sets_without_products_are_named_in_the_report_and_export(tmp_path, records, text):
    warnings = []
    page = report.render(records.SerializeToString(), "t", warnings.append, NoPlots)
    assert '<p class="problem">' in page and text in page and any(text in w for w in warnings)
    _, export_warnings = exported(records, tmp_path)
    assert export_warnings and all("Traceback" not in w for w in export_warnings)


# Interrupted sets, names from recorded data, literal text ---------------------------------

def _interrupted(description="killed"):
    record_set = data_pb2.RecordSet(description=description, start_timestamp_ns=1000, stop_timestamp_ns=5000)
    record_set.events.add(name="move", start_timestamp_ns=1000, stop_timestamp_ns=2000,
                          status=[C.Status(code=C.SUCCESS, message="done")])
    record_set.events.append(interrupted_event(5000))
    return record_set


def test_an_interrupted_set_is_marked_in_records_export_and_report(tmp_path):
    normal = data_pb2.RecordSet(description="fine", start_timestamp_ns=1000, stop_timestamp_ns=2000)
    records = data_pb2.DataRecords(records=[normal, _interrupted()])
    lines = [records_cli.describe_record_set(Api(), r, {}) for r in records.records]
    assert "INTERRUPTED" not in lines[0] and "INTERRUPTED" in lines[1]

    summaries, _ = exported(records, tmp_path)
    assert [s.interrupted for s in summaries] == [None, INTERRUPTED_TEXT]
    assert "INTERRUPTED" in export.summary_line(summaries[1]) and "INTERRUPTED" not in export.summary_line(summaries[0])
    manifest = json.loads((tmp_path / "out" / export.MANIFEST).read_text())
    assert [s["interrupted"] for s in manifest["records"]] == [False, True]
    _, rows = read_csv(Path(summaries[1].folder) / "events.csv")
    assert rows[-1][0] == INTERRUPTED_EVENT and rows[-1][8:] == ["FAILURE", INTERRUPTED_TEXT]

    page = report.render(records.SerializeToString(), "t", lambda text: None, NoPlots)
    fine, killed = page.split('id="set-1"')[1].split('id="set-2"')
    badge = '<span class="badge" title="%s">interrupted</span>' % INTERRUPTED_TEXT
    assert badge not in fine and badge in killed and page.count(badge) == 2  # section and summary row


LONG = "x" * 350


def test_names_from_recorded_text_are_bounded_unique_and_kept_whole_in_the_manifest(tmp_path):
    images = [image_pb2.Image(camera=camera, timestamp_ns=7, encoding="mono8", width=1, height=1, data=b"\x00")
              for camera in ("Cam", "cam", "cam", LONG + "a", LONG + "b", "../..", "")]
    first, second = _set_with(*images), _set_with(*images)
    first.records[0].description = second.records[0].description = LONG
    records = data_pb2.DataRecords(records=[*first.records, *second.records])
    summaries, warnings = exported(records, tmp_path)
    assert all("no project" in w for w in warnings) and len({s.folder for s in summaries}) == 2
    manifest = json.loads((tmp_path / "out" / export.MANIFEST).read_text())["records"]
    for summary, entry in zip(summaries, manifest):
        folder = Path(summary.folder)
        assert folder.parent == tmp_path / "out" and len(folder.name) < 80 and entry["folder"] == folder.name
        assert entry["description"] == LONG
        files = [image["file"] for image in entry["images"]]
        assert [image["camera"] for image in entry["images"]] == [i.camera for i in images]
        assert len({f.lower() for f in files}) == len(files) == len(images)  # unique, also ignoring case
        assert all(len(f) < 80 and "/" not in f and not f.startswith(".") for f in files)
        assert sorted(os.listdir(folder)) == sorted([*files, "controller.csv", "events.csv"])


def test_the_export_is_written_whole_or_leaves_its_folder_as_it_was(records, tmp_path):
    answer = records.SerializeToString()
    out = tmp_path / "out"
    # A damaged second record set: the first was written when it is read, yet nothing stays.
    garbage = b"\x2a\x02\xff\xff"
    with pytest.raises(wire.WireError):
        export.export(answer + b"\x0a" + bytes([len(garbage)]) + garbage, str(out), lambda text: None)
    assert os.listdir(tmp_path) == []
    # A folder of other files is refused untouched; an earlier export is replaced whole.
    out.mkdir()
    (out / "notes.txt").write_text("mine")
    with pytest.raises(export.ExportError):
        export.export(answer, str(out), lambda text: None)
    assert os.listdir(out) == ["notes.txt"]
    (out / "notes.txt").unlink()
    export.export(answer, str(out), lambda text: None)
    (out / "stale.txt").write_text("from the earlier export")
    one = data_pb2.DataRecords(records=records.records[:1]).SerializeToString()
    summaries = export.export(one, str(out), lambda text: None)
    assert sorted(os.listdir(out)) == sorted([export.MANIFEST, *(Path(s.folder).name for s in summaries)])
    assert sorted(os.listdir(tmp_path)) == ["out"]


def test_text_cells_that_a_spreadsheet_would_compute_start_with_a_quote():
    cells = {"=HYPERLINK(\"http://x\")": "'=HYPERLINK(\"http://x\")", "+1": "'+1", "-2": "'-2", "@SUM(A1)": "'@SUM(A1)",
             "\tx": "'\tx", "plain": "plain", "a=b": "a=b", "": ""}
    assert {text: export.text_cell(text) for text in cells} == cells


def test_thumbnails_of_small_images_are_enlarged_by_a_whole_factor():
    sizes = {(32, 24): ' width="128" height="96"', (64, 64): ' width="128" height="128"',
             (1, 1): ' width="120" height="120"', (100, 3): ' width="100" height="3"',
             (120, 10): "", (1000, 800): "", (0, 0): ""}
    assert {size: report.thumbnail_size(*size) for size in sizes} == sizes


@needs_plotting
def test_recorded_text_reaches_the_plots_literally_even_with_tex_turned_on(records):
    import matplotlib

    record_set = data_pb2.RecordSet()
    record_set.CopyFrom(records.records[0])
    name = "ur5e_$a_b_c$"
    config = record_set.project.workspace.config
    config.robots[name].custom_robot.dof_names.extend(["$x^2_1_2$", r"$\frac{$", "%s", "_hidden"])
    for product in record_set.products:
        if product.HasField("controller"):
            product.controller.robot = name
        if product.HasField("perception"):
            for marker in product.perception.detected_markers:
                marker.camera = "$cam_{1_2}$"
    with matplotlib.rc_context({"text.usetex": True}):  # a user's matplotlibrc may turn TeX on
        page = report.render(data_pb2.DataRecords(records=[record_set]).SerializeToString(), "t", print)
    assert "Joint positions of %s" % html.escape(name) in page and page.count("<svg") >= 3


def test_the_simulated_camera_draws_the_markers_it_detects(records):
    """The preview holds each detected marker as a filled square where its
    corners were reported; a crop shows its region framed."""
    record_set = records.records[0]
    detected = [m for p in record_set.products if p.HasField("perception") for m in p.perception.detected_markers]
    preview, crop = [i for p in record_set.products if p.HasField("images") for i in p.images.images]
    intrinsics = record_set.project.workspace.config.cameras[preview.camera].intrinsics
    scale = preview.width / intrinsics.width, preview.height / intrinsics.height
    assert len(detected) == 2 and (preview.width, preview.height) == (160, 120)

    def pixel(image, x, y):
        return image.data[int(y) * image.width + int(x)]
    inside = 0
    for marker in detected:
        xs = [c.x * scale[0] for c in marker.corners]
        ys = [c.y * scale[1] for c in marker.corners]
        assert pixel(preview, sum(xs) / 4, sum(ys) / 4) == drawing.MARKER
        for x, y in zip(xs, ys):  # just outside each corner, away from the centre
            assert pixel(preview, x + (2 if x > sum(xs) / 4 else -2), y + (2 if y > sum(ys) / 4 else -2)) \
                == drawing.BACKGROUND
        inside += sum(1 for y in range(preview.height) for x in range(preview.width)
                      if min(xs) <= x + 0.5 <= max(xs) and min(ys) <= y + 0.5 <= max(ys))
    assert preview.data.count(drawing.MARKER) == inside
    assert preview.data.count(drawing.BACKGROUND) == len(preview.data) - inside
    assert crop.data[:crop.width] == bytes([drawing.FRAME]) * crop.width
    assert set(crop.data[crop.width + 1:2 * crop.width - 1]) == {drawing.BACKGROUND}


# Command line --------------------------------------------------------------------------

@needs_plotting
def test_commands_export_and_report_the_servers_records(cell, records, capsys, tmp_path):
    code = cli.main(["--target", cell.target, "records", "--export", str(tmp_path / "run"),
                     "--description", "pick_and_place"])
    out, err = capsys.readouterr()
    assert (code, err) == (0, "") and "21 events, 11 controller rows, 2 simulator rows, 2 images" in out
    code = cli.main(["--target", cell.target, "report", "--out", str(tmp_path / "run.html")])
    out, err = capsys.readouterr()
    assert (code, err) == (0, "") and "written to" in out
    page = (tmp_path / "run.html").read_text()
    assert page.count('<div class="event ') == sum(len(r.events) for r in records.records)
    assert "marker_7" in page and not re.search(r"""(src|href)=["']?(https?:|//)|url\((?!#)|@import""", page)

    code = cli.main(["--target", cell.target, "records", "--export", str(tmp_path / "none"),
                     "--description", "no such recording"])
    out, err = capsys.readouterr()
    assert code == 0 and err.strip() == "ostrel: warning: " + export.NO_RECORDS


def test_export_with_out_also_writes_the_json_of_records(cell, records, capsys, tmp_path):
    code = cli.main(["--target", cell.target, "records", "--export", str(tmp_path / "run"), "--out",
                     str(tmp_path / "records.json")])
    out, err = capsys.readouterr()
    assert (code, err) == (0, "") and "2 record sets written to" in out
    assert json_format.Parse((tmp_path / "records.json").read_text(), data_pb2.DataRecords()) == records


@pytest.mark.parametrize("argv", [
    ["records", "--export", "{file}"],
    ["records", "--export", "{file}/sub"],
    pytest.param(["report", "--out", "{missing}/report.html"], marks=needs_plotting),
], ids=["export into a file", "export under a file", "report into a missing folder"])
def test_unwritable_destinations_are_one_line(cell, capsys, tmp_path, argv):
    (tmp_path / "file").write_text("x")
    paths = {"file": tmp_path / "file", "missing": tmp_path / "missing"}
    code = cli.main(["--target", cell.target, *[a.format(**paths) for a in argv]])
    out, err = capsys.readouterr()
    assert code == errors.EXIT_ERROR and err.startswith("ostrel: error: cannot write ") and err.count("\n") == 1


@pytest.fixture
def full_disk(tmp_path):
    """A folder on a tiny file system that holds one small file, "earlier",
    and no free space: every write there fails part of the way."""
    if not hasattr(os, "geteuid") or os.geteuid() != 0:
        pytest.skip("mounting a small file system needs root")
    folder = tmp_path / "full"
    folder.mkdir()
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", str(folder)],
                      capture_output=True).returncode != 0:
        pytest.skip("cannot mount a tmpfs here")
    try:
        (folder / "earlier").write_text("earlier")
        try:
            with open(folder / "filler", "wb") as filler:
                while True:
                    filler.write(bytes(4096))
                    filler.flush()
        except OSError:
            pass
        yield folder
    finally:
        subprocess.run(["umount", "-l", str(folder)], check=False)


@pytest.mark.parametrize("argv", [
    ["pull", "--out", "{earlier}"],
    ["records", "--out", "{earlier}"],
    ["records", "--export", "{elsewhere}", "--out", "{earlier}"],
    pytest.param(["report", "--out", "{earlier}"], marks=needs_plotting),
], ids=["pull --out", "records --out", "records --export --out", "report --out"])
def test_a_full_disk_leaves_the_earlier_file_whole_and_no_partial_file(cell, records, capsys, tmp_path, full_disk,
                                                                         argv):
    paths = {"earlier": full_disk / "earlier", "elsewhere": tmp_path / "export"}
    code = cli.main(["--target", cell.target, *[a.format(**paths) for a in argv]])
    out, err = capsys.readouterr()
    assert code == errors.EXIT_ERROR and err.startswith("ostrel: error: cannot write ") and err.count("\n") == 1
    assert (full_disk / "earlier").read_text() == "earlier"
    assert sorted(os.listdir(full_disk)) == ["earlier", "filler"]


def test_an_export_on_a_full_disk_leaves_no_cut_off_file(cell, records, capsys, full_disk):
    os.unlink(full_disk / "filler")
    with open(full_disk / "filler", "wb") as filler:  # room for some of the files, not all
        filler.write(bytes(40 * 1024))
    code = cli.main(["--target", cell.target, "records", "--export", str(full_disk / "run")])
    out, err = capsys.readouterr()
    assert code == errors.EXIT_ERROR and "No space left" in err
    assert sorted(os.listdir(full_disk)) == ["earlier", "filler"]  # the whole export or nothing


def spawn(*argv):
    """Runs a program without fork(): in a forked child gRPC's fork handlers
    restart its poller (this process runs a server), and the child aborts when
    it closes its descriptors before exec. posix_spawn, which subprocess uses
    for a full path with close_fds off, runs no fork handlers."""
    return subprocess.run(argv, capture_output=True, timeout=90, close_fds=False)


def _chromium():
    for name in ("chromium", "chromium-browser", "google-chrome"):
        path = shutil.which(name)
        if path:
            return path
    return None


NO_NETWORK = ["--headless", "--disable-gpu", "--no-sandbox", "--no-first-run", "--disable-extensions",
              "--disable-background-networking", "--proxy-server=socks5://127.0.0.1:9",
              "--host-resolver-rules=MAP * ~NOTFOUND", "--window-size=1280,2000"]


def _browser(*args):
    return spawn(_chromium(), *NO_NETWORK, *args)


def _is_blank(path):
    from PIL import Image

    with Image.open(path) as shot:
        colours = shot.convert("RGB").getcolors(maxcolors=1 << 16)
    return colours is not None and len(colours) < 8


README_TITLE = "Pick and place"


@pytest.mark.skipif(_chromium() is None, reason="headless Chromium is not installed (apt-get install chromium)")
@needs_plotting
def test_report_renders_in_headless_chromium_without_network(cell, records, capsys, tmp_path):
    # As the README shows it; OSTREL_REPORT_SCREENSHOT=docs/report.png makes its picture.
    page = tmp_path / "report.html"
    assert cli.main(["--target", cell.target, "report", "--title", README_TITLE, "--out", str(page)]) == 0
    capsys.readouterr()
    assert "<title>%s</title>" % README_TITLE in page.read_text()
    url = page.as_uri()
    dom = _browser("--dump-dom", url)
    assert dom.returncode == 0, dom.stderr.decode(errors="replace")[-2000:]
    text = dom.stdout.decode()
    for index, record_set in enumerate(records.records, 1):
        section = text.split('id="set-%d"' % index)[1].split("</section>")[0]
        assert section.count('<div class="event ') == len(record_set.events)
        failed = sum(1 for e in record_set.events if e.status[-1].code == C.FAILURE)
        assert section.count('<div class="event FAILURE"') == section.count('<div class="why">') == failed
    images = sum(len(p.images.images) for r in records.records for p in r.products if p.HasField("images"))
    assert text.count("<svg") >= 2 and text.count('class="thumb"') == images > 0

    shot = tmp_path / "report.png"
    result = _browser("--screenshot=%s" % shot, url)
    assert result.returncode == 0 and shot.exists(), result.stderr.decode(errors="replace")[-2000:]
    assert not _is_blank(shot)
    if os.environ.get("OSTREL_REPORT_SCREENSHOT"):
        shutil.copyfile(shot, os.environ["OSTREL_REPORT_SCREENSHOT"])
