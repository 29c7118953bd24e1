"""`ostrel records --export DIR`: each record set as a folder of plain files.

    DIR/manifest.json     what was exported: per record set its folder, full
                          description, times, whether it was interrupted,
                          counts, and each image file with its camera
    DIR/<nn>_<description>_<start ns>/
        events.csv        one row per event: times, duration, final status, action
        controller.csv    one row per controller product, columns per joint
        simulator.csv     one row per simulator product (when the set has any)
        <camera>_<ns>.png every image product (jpeg/png data as recorded)
        project.json      the project the set was recorded with (protobuf JSON)

Names taken from recorded text (descriptions, cameras) are cut to a few dozen
safe characters and made unique; the manifest keeps them whole. The export is
written to a folder beside DIR and moved into place when complete, so DIR
holds the whole export or is left as it was. DIR must be new, empty or an
earlier export, which is replaced.

Joint columns are named `<robot>.<joint>.<quantity>`, with the joint names of
the robot's model in the recorded project. Record sets are read one at a
time from the answer's bytes (see `ostrel.records.sets`). Text cells that a
spreadsheet would take for a formula are written with a leading `'`.
"""

import csv
import errno
import json
import os
import shutil
import tempfile
from typing import Any, Callable, Dict, Iterable, Iterator, List, NamedTuple, Optional, Sequence, Tuple

from ostrel import protojson
from ostrel.outfile import OutputFile, write_atomic, write_bytes, write_text
from ostrel.records import image_files, joint_rows, png, set_events, texts
from ostrel.api import data_pb2, project_pb2
from ostrel.catalog import interruption
from ostrel.records.sets import LazySet, record_sets

EVENT_COLUMNS = ("name", "step", "action_type", "start_ns", "stop_ns", "start_s", "stop_s", "duration_s",
                 "status", "message")
ERR_IMAGE = "%s: image %s: %s; its data is written as is to %s"
ERR_NO_PROJECT = "%s: no project was recorded with it; project.json is not written"
ERR_NO_PRODUCTS = "%s: no products were recorded"
NO_RECORDS = "no record sets match the selection; nothing exported"
ERR_NOT_EXPORT = "%s holds files of its own; export to a new or empty folder, or to an earlier export"
MANIFEST = "manifest.json"
STAGING_PREFIX = ".ostrel-export-"
# A cell starting with one of these is a formula to a spreadsheet.
FORMULA_STARTS = ("=", "+", "-", "@", "\t", "\r")


class ExportError(ValueError):
    """The export cannot be written where it was asked for; the text says why."""


class SetSummary(NamedTuple):
    folder: str
    events: int
    controller_rows: int
    simulator_rows: int
    images: int
    problems: int
    interrupted: Optional[str] = None  # what ended an interrupted set


def folder_name(index: int, header: data_pb2.RecordSet) -> str:
    return "%02d_%s_%d" % (index, image_files.safe_name(header.description, "record"),
                           header.start_timestamp_ns)


def _fmt(value: float) -> str:
    return repr(float(value))


def text_cell(text: str) -> str:
    """Recorded text as a CSV cell that a spreadsheet shows as text."""
    return "'" + text if text.startswith(FORMULA_STARTS) else text


def write_events(path: str, header: data_pb2.RecordSet) -> int:
    rows = set_events.events(header)
    with OutputFile(path) as handle:
        writer = csv.writer(handle)
        writer.writerow(EVENT_COLUMNS)
        for e in rows:
            writer.writerow((text_cell(e.name), e.step, e.action_type, e.start_ns, e.stop_ns, _fmt(e.start_s),
                             _fmt(e.stop_s), _fmt(e.duration_s), e.status, text_cell(e.message)))
    return len(rows)


Columns = List[Tuple[str, str, int]]  # (owner, quantity, joint index)


def joint_columns(project: project_pb2.ProjectSnapshot, owners: Iterable[str],
                  rows: Iterable[joint_rows.JointRow], quantities: Sequence[str]) -> Tuple[Columns, List[str]]:
    """The joint columns of a CSV file: the given owners (robots of the
    project), then any other owner in the data in order of appearance; as many
    joints as the project names or the data holds, whichever is more."""
    counts: Dict[str, int] = {owner: 0 for owner in owners}
    for row in rows:
        for owner, values in row.joints.items():
            longest = max((len(v) for v in values.values()), default=0)
            counts[owner] = max(counts.get(owner, 0), longest)
    columns: Columns = []
    names: List[str] = []
    for owner, count in counts.items():
        count = max(count, len(joint_rows.known_joints(project, owner)))
        joints = joint_rows.joint_names(project, owner, count)
        for quantity in quantities:
            for i, joint in enumerate(joints):
                columns.append((owner, quantity, i))
                names.append(text_cell("%s.%s.%s" % (owner, joint, quantity)))
    return columns, names


def write_joints(path: str, origin_ns: int, project: project_pb2.ProjectSnapshot, owners: Iterable[str],
                 rows: Callable[[], Iterator[joint_rows.JointRow]], scalars: Sequence[str],
                 quantities: Sequence[str]) -> int:
    """A CSV file with one row per product; `rows` is called twice (columns, then values)."""
    columns, names = joint_columns(project, owners, rows(), quantities)
    count = 0
    with OutputFile(path) as handle:
        writer = csv.writer(handle)
        writer.writerow(["timestamp_ns", "time_s", *scalars, *names])
        for row in rows():
            cells: List[str] = [str(row.timestamp_ns), _fmt(set_events.seconds(row.timestamp_ns, origin_ns))]
            cells.extend(text_cell(row.scalars.get(s, "")) for s in scalars)
            for owner, quantity, i in columns:
                values = row.joints.get(owner, {}).get(quantity, ())
                cells.append(_fmt(values[i]) if i < len(values) else "")
            writer.writerow(cells)
            count += 1
    return count


def write_images(folder: str, label: str, records: LazySet, warn: set_events.Warn) -> Tuple[List[Dict[str, Any]], int]:
    """Every image as a file; (what the manifest says of each, images written
    as is because unreadable)."""
    written: List[Dict[str, Any]] = []
    problems = 0
    for image in image_files.images(records):
        try:
            converted = image_files.image_file(image)
            data, name = converted.data, image.name + converted.suffix
        except png.ImageError as error:
            data, name = image.message.data, image.name + ".bin"
            warn(ERR_IMAGE % (label, image_files.image_label(image), error, name))
            problems += 1
        write_bytes(os.path.join(folder, name), data)
        written.append({"file": name, "camera": image.camera, "timestamp_ns": image.timestamp_ns,
                        "encoding": image.encoding, "width": image.width, "height": image.height})
    return written, problems


def export_set(out_dir: str, index: int, records: LazySet, warn: set_events.Warn,
               manifest: Optional[List[Dict[str, Any]]] = None) -> SetSummary:
    header = records.header
    label = texts.describe_set(header, index)
    name = folder_name(index, header)
    folder = os.path.join(out_dir, name)
    os.makedirs(folder, exist_ok=True)
    problems = 0
    events = write_events(os.path.join(folder, "events.csv"), header)
    if not records.refs:
        warn(ERR_NO_PRODUCTS % label)
        problems += 1
    origin = set_events.set_origin_ns(header)
    config = header.project.workspace.config
    controller = write_joints(os.path.join(folder, "controller.csv"), origin, header.project, sorted(config.robots),
                              lambda: joint_rows.controller_rows(records), joint_rows.CONTROLLER_SCALARS,
                              joint_rows.CONTROLLER_QUANTITIES)
    simulator = 0
    if records.count("simulator"):
        owners = [*sorted(config.robots), *sorted(config.effectors)]
        simulator = write_joints(os.path.join(folder, "simulator.csv"), origin, header.project, owners,
                                 lambda: joint_rows.simulator_rows(records), (), joint_rows.SIMULATOR_QUANTITIES)
    images, bad = write_images(folder, label, records, warn)
    problems += bad
    if header.HasField("project"):
        write_atomic(os.path.join(folder, "project.json"), lambda handle: protojson.write_json(handle, header.project))
    else:
        warn(ERR_NO_PROJECT % label)
        problems += 1
    interrupted = interruption(header)
    if manifest is not None:
        manifest.append({
            "folder": name, "description": header.description,
            "start_timestamp_ns": header.start_timestamp_ns, "stop_timestamp_ns": header.stop_timestamp_ns,
            "interrupted": interrupted is not None, "events": events,
            "failed_events": sum(1 for e in set_events.events(header) if e.failed),
            "controller_rows": controller, "simulator_rows": simulator, "images": images, "problems": problems})
    return SetSummary(folder, events, controller, simulator, len(images), problems, interrupted)


def export(answer: bytes, out_dir: str, warn: set_events.Warn) -> List[SetSummary]:
    """Writes every record set of a serialized DataRecords under out_dir, in
    full or not at all; each set is dropped before the next one is read."""
    staging = _staging_folder(out_dir)
    summaries: List[SetSummary] = []
    manifest: List[Dict[str, Any]] = []
    try:
        for index, records in enumerate(record_sets(answer), 1):
            summary = export_set(staging, index, records, warn, manifest)
            summaries.append(summary._replace(folder=os.path.join(out_dir, os.path.basename(summary.folder))))
            del records
        write_text(os.path.join(staging, MANIFEST), json.dumps({"records": manifest}, indent=2,
                                                               ensure_ascii=False) + "\n")
        _put_in_place(staging, out_dir)
    finally:
        shutil.rmtree(staging, ignore_errors=True)
    if not summaries:
        warn(NO_RECORDS)
    return summaries


def _staging_folder(out_dir: str) -> str:
    """A new folder beside out_dir (on its file system, so that it moves in
    one step); ExportError or OSError when out_dir cannot take an export."""
    if os.path.lexists(out_dir):
        if not os.path.isdir(out_dir):
            raise NotADirectoryError(errno.ENOTDIR, os.strerror(errno.ENOTDIR), out_dir)
        entries = os.listdir(out_dir)
        if entries and MANIFEST not in entries:
            raise ExportError(ERR_NOT_EXPORT % out_dir)
    parent = os.path.dirname(os.path.abspath(out_dir))
    return tempfile.mkdtemp(prefix=STAGING_PREFIX, dir=parent)


def _put_in_place(staging: str, out_dir: str) -> None:
    """Moves the finished export to out_dir, replacing an empty folder or an
    earlier export; an earlier export is restored if the move fails."""
    if not os.path.lexists(out_dir):
        os.rename(staging, out_dir)
        return
    if not os.listdir(out_dir):
        os.rmdir(out_dir)
        os.rename(staging, out_dir)
        return
    earlier = staging + ".earlier"
    os.rename(out_dir, earlier)
    try:
        os.rename(staging, out_dir)
    except OSError:
        os.rename(earlier, out_dir)
        raise
    shutil.rmtree(earlier, ignore_errors=True)


def summary_line(summary: SetSummary) -> str:
    return "%s: %d events, %d controller rows, %d simulator rows, %d images%s%s" % (
        summary.folder, summary.events, summary.controller_rows, summary.simulator_rows, summary.images,
        ", INTERRUPTED" if summary.interrupted is not None else "",
        ", %d problems (see above)" % summary.problems if summary.problems else "")
