"""`ostrel report`: one self-contained HTML page per selection of record sets.

For each record set, in the order a program usually makes them: the events
as a Gantt-style timeline (failed steps in red, with their messages), the
detected markers over the camera's image nearest in time and the camera
poses, the images as thumbnails that open at full size, the joint positions
per robot (controller reference against feedback) and the planned
trajectories. A set whose recording a stopped server
left open is marked interrupted.

Plots are inline SVG drawn by `plots` (matplotlib, the optional extra
`report`); images are PNG data: URIs; the style sheet is inline and there
is no script, so the page works offline and loads nothing.
"""

import base64
import html
import time
from typing import Any, Dict, List, Optional, Sequence, Tuple

from ostrel.records import image_files, joint_rows, plots, png, set_events, texts
from ostrel.api import data_pb2
from ostrel.catalog import interruption
from ostrel.records.sets import LazySet, record_sets

NO_RECORDS = "No record sets match the selection."
NO_PRODUCTS = "No products were recorded in this set."
NO_EVENTS = "No events were recorded in this set."
NO_CONTROLLER = "No controller products: no joint positions to plot."
ERR_IMAGE = "%s: image %s cannot be shown: %s"
INTERRUPTED = "interrupted"
THUMBNAIL_BOX = 160  # pixels
THUMBNAIL_MIN = 120  # smaller images are shown enlarged by a whole factor, pixels kept square

STYLE = """
body{font:14px/1.4 system-ui,-apple-system,'Segoe UI',sans-serif;margin:0;color:#1b1f24;background:#f6f7f9}
header.page{background:#1f2d3d;color:#fff;padding:14px 24px}
header.page h1{margin:0;font-size:20px}
main{padding:8px 24px 40px}
section.set{background:#fff;border:1px solid #d8dde3;border-radius:6px;margin:16px 0;padding:12px 18px}
h2{font-size:18px;margin:4px 0 8px}h3{font-size:15px;margin:18px 0 6px;color:#33475b}
.facts{color:#4a5a6a;margin:0 0 8px}
.problem{color:#a4161a;font-weight:600;margin:4px 0}
.timeline{border-top:1px solid #e3e7eb}
.axis{display:flex;justify-content:space-between;margin-left:290px;margin-right:90px;color:#6b7785;font-size:11px}
.event{display:flex;align-items:center;border-bottom:1px solid #eef1f4;min-height:22px}
.event .label{width:282px;flex:none;padding-right:8px;overflow-wrap:anywhere;font-size:12px;line-height:1.25}
.event .label small{color:#6b7785}
.event .track{position:relative;flex:1;height:14px;background:#f2f4f7}
.event .bar{position:absolute;top:0;bottom:0;min-width:2px;background:#2f7ed8;border-radius:2px}
.event.FAILURE .bar{background:#d62828}.event.RUNNING .bar,.event.NONE .bar{background:#e9a23b}
.event .dur{width:82px;text-align:right;font-size:12px;color:#4a5a6a;padding-left:8px}
.event.FAILURE .label{color:#a4161a;font-weight:600}
.event .why{flex-basis:100%;margin:0 0 4px 290px;color:#a4161a;font-size:12px}
.event{flex-wrap:wrap}
table{border-collapse:collapse;font-size:12px;margin:4px 0}
td,th{border:1px solid #dfe3e8;padding:3px 8px;text-align:left}th{background:#f2f4f7}
.plot svg{width:100%;height:auto}.plot.camera svg{max-width:680px}
.badge{display:inline-block;margin-left:8px;padding:1px 7px;border-radius:9px;background:#a4161a;color:#fff;
 font-size:12px;font-weight:600;vertical-align:middle}
.shots{display:flex;flex-wrap:wrap;gap:10px}
figure.shot{margin:0;text-align:center;font-size:11px;color:#4a5a6a}
figure.shot img.thumb{display:block;max-width:160px;max-height:160px;border:1px solid #cfd6dd;image-rendering:pixelated;background:#fff}
figure.shot img{image-rendering:pixelated;image-rendering:crisp-edges}
figure.shot .full{display:none}
figure.shot:target .full{display:flex;position:fixed;inset:0;background:rgba(0,0,0,.85);align-items:center;justify-content:center;z-index:10}
figure.shot:target .full img{max-width:95vw;max-height:95vh;image-rendering:pixelated;background:#fff}
table.summary{margin:14px 0 4px;font-size:13px;background:#fff}table.summary tr.failed td{color:#a4161a}
table.summary td{white-space:nowrap}table.summary td:last-child{white-space:normal}
figure.shot .close{display:none}
figure.shot.same:target img.thumb{position:fixed;inset:0;margin:auto;height:85vh;width:auto;max-width:95vw;
 max-height:none;object-fit:contain;z-index:10;
 box-shadow:0 0 0 100vmax rgba(0,0,0,.85)}
figure.shot.same:target .close{display:block;position:fixed;top:12px;right:18px;z-index:11;color:#fff;font-size:16px}
footer{color:#6b7785;font-size:12px;padding:0 24px 24px}
"""


def _esc(text: object) -> str:
    return html.escape(str(text), quote=True)


_clock = texts.utc_time
_duration = texts.duration_text


def default_title(target: str) -> str:
    return "Ostrel records from %s" % target


class Page:
    """Collects the sections of the page and the problems found on the way."""

    def __init__(self, figure_class: Any, warn: set_events.Warn) -> None:
        self.figure_class = figure_class
        self.warn = warn
        self.parts: List[str] = []
        self.image_count = 0
        self.summary: List[str] = []

    def problem(self, text: str) -> None:
        self.warn(text)
        self.parts.append('<p class="problem">%s</p>' % _esc(text))


# Timeline -------------------------------------------------------------------

def timeline(events: Sequence[set_events.Event], span_s: float) -> str:
    span = max(span_s, max((e.stop_s for e in events), default=0.0), 1e-9)
    ticks = "".join("<span>%s</span>" % _esc(_duration(span * i / 4)) for i in range(5))
    rows: List[str] = []
    for i, e in enumerate(events):
        left = min(max(e.start_s / span, 0.0), 1.0) * 100
        width = min(max(e.duration_s / span, 0.0), 1.0 - left / 100) * 100
        title = "%s (%s): %s, %s - %s" % (e.name, e.step or e.action_type, e.status, _duration(e.start_s),
                                          _duration(e.stop_s))
        why = '<div class="why">%s</div>' % _esc(e.message) if e.failed else ""
        rows.append(
            '<div class="event %s" data-index="%d" title="%s"><div class="label">%s <small>%s</small></div>'
            '<div class="track"><div class="bar" style="left:%.3f%%;width:%.3f%%"></div></div>'
            '<div class="dur">%s</div>%s</div>'
            % (_esc(e.status), i, _esc(title), _esc(e.name or "(no name)"), _esc(e.step), left, width,
               _esc(_duration(e.duration_s)), why))
    return '<div class="timeline"><div class="axis">%s</div>%s</div>' % (ticks, "".join(rows))


# Joint plots -----------------------------------------------------------------

Series = Dict[str, plots.Samples]  # quantity -> (time, values)


def joint_plots(page: Page, records: LazySet, origin: int) -> None:
    series: Dict[str, Series] = {}
    for row in joint_rows.controller_rows(records):
        t = set_events.seconds(row.timestamp_ns, origin)
        for robot, values in row.joints.items():
            for quantity in ("reference_position", "feedback_position"):
                series.setdefault(robot, {}).setdefault(quantity, []).append((t, values[quantity]))
    if not series:
        page.parts.append("<p>%s</p>" % _esc(NO_CONTROLLER))
        return
    for robot, by_quantity in series.items():
        count = max(len(v) for samples in by_quantity.values() for _, v in samples)
        names = joint_rows.joint_names(records.header.project, robot, count)
        if not names:
            continue
        page.parts.append("<h3>Joint positions of %s (rad or m)</h3>" % _esc(robot))
        page.parts.append(plots.joint_figure(page.figure_class, robot, names, [
            ("reference", plots.REFERENCE_STYLE, by_quantity.get("reference_position", [])),
            ("feedback", plots.FEEDBACK_STYLE, by_quantity.get("feedback_position", []))]))


def trajectory_plots(page: Page, records: LazySet, origin: int) -> None:
    """Planned trajectories per robot over their own time axis (the planner's
    seconds, which a sped-up simulated cell does not share with the clock)."""
    plans: Dict[str, List[Tuple[float, plots.Samples]]] = {}
    rows: List[str] = []
    for product in records.products("planner"):
        p = product.planner
        start = set_events.seconds(product.timestamp_ns, origin)
        samples: plots.Samples = [(float(t), list(state.joint.positions.data))
                                  for t, state in zip(p.trajectory.time_s, p.trajectory.reference)]
        reachable = sum(1 for target in p.target_proposals if target.reachable)
        rows.append("<tr><td>%s</td><td>%s</td><td>%s</td><td>%d (%d reachable)</td><td>%d</td><td>%s</td></tr>"
                    % (_esc(_duration(start)), _esc(p.robot), _esc(p.tool), len(p.target_proposals), reachable,
                       len(p.trajectory.reference),
                       _esc(_duration(p.trajectory.time_s[-1]) if p.trajectory.time_s else "-")))
        if samples:
            plans.setdefault(p.robot, []).append((start, samples))
    if not rows:
        return
    page.parts.append("<h3>Planner products</h3><table><tr><th>at</th><th>robot</th><th>tool</th>"
                      "<th>target proposals</th><th>trajectory points</th><th>trajectory length</th></tr>%s</table>"
                      % "".join(rows))
    for robot, trajectories in plans.items():
        count = max(len(v) for _, samples in trajectories for _, v in samples)
        names = joint_rows.joint_names(records.header.project, robot, count)
        page.parts.append("<h3>Planned trajectories of %s</h3>" % _esc(robot))
        page.parts.append(plots.joint_figure(
            page.figure_class, "%s: %d planned trajectories" % (robot, len(trajectories)), names,
            [("planned at %s" % _duration(start), plots.PLAN_STYLE, samples) for start, samples in trajectories],
            xlabel="time along the trajectory (s)"))


# Markers ----------------------------------------------------------------------

def marker_section(page: Page, records: LazySet, origin: int) -> None:
    rows: List[str] = []
    poses: List[str] = []
    cameras: Dict[str, plots.CameraView] = {}
    for product in records.products("perception"):
        at = _duration(set_events.seconds(product.timestamp_ns, origin))
        for marker in product.perception.detected_markers:
            corners = [(c.x, c.y) for c in marker.corners]
            seen = cameras.setdefault(marker.camera, plots.CameraView([], int(product.timestamp_ns)))
            seen.outlines.append((marker.id, corners))
            rows.append("<tr><td>%s</td><td>%s</td><td>%d</td><td>%s</td></tr>" % (
                _esc(at), _esc(marker.camera), marker.id,
                _esc(" ".join("(%.1f, %.1f)" % c for c in corners))))
        for camera in sorted(product.perception.camera_poses):
            pose = product.perception.camera_poses[camera]
            poses.append("<tr><td>%s</td><td>%s</td><td>%.4f %.4f %.4f</td><td>%.4f %.4f %.4f %.4f</td></tr>" % (
                _esc(at), _esc(camera), pose.position.x, pose.position.y, pose.position.z,
                pose.qw, pose.qx, pose.qy, pose.qz))
    if not rows and not poses:
        return
    page.parts.append("<h3>Detected markers</h3>")
    if rows:
        page.parts.append("<table><tr><th>at</th><th>camera</th><th>id</th><th>corners (px)</th></tr>%s</table>"
                          % "".join(rows))
        page.parts.append(plots.marker_figure(page.figure_class, _with_images(records, cameras),
                                              records.header.project.workspace.config.cameras, origin))
    if poses:
        page.parts.append("<table><tr><th>at</th><th>camera</th><th>position (m)</th>"
                          "<th>orientation (w x y z)</th></tr>%s</table>" % "".join(poses))


def _with_images(records: LazySet, cameras: Dict[str, plots.CameraView]) -> Dict[str, plots.CameraView]:
    """Each camera's view with the image of that camera nearest in time to its first detection."""
    for image in image_files.images(records):
        seen = cameras.get(image.camera)
        if seen is None:
            continue
        if seen.image is None or abs(image.timestamp_ns - seen.first_ns) < abs(seen.image.timestamp_ns - seen.first_ns):
            cameras[image.camera] = seen._replace(image=image)
    return cameras


# Images -------------------------------------------------------------------------

def _data_uri(mime: str, data: bytes) -> str:
    return "data:%s;base64,%s" % (mime, base64.b64encode(data).decode("ascii"))


def thumbnail_size(width: int, height: int) -> str:
    """The size attributes of a thumbnail: an image smaller than
    THUMBNAIL_MIN is enlarged by the whole factor that brings its longer
    side to at least that (within THUMBNAIL_BOX); larger ones keep theirs."""
    longest = max(width, height)
    if longest <= 0 or longest >= THUMBNAIL_MIN:
        return ""
    factor = max(1, min(-(-THUMBNAIL_MIN // longest), THUMBNAIL_BOX // longest))
    return ' width="%d" height="%d"' % (width * factor, height * factor)


def _shot(anchor: str, back: str, caption: str, full_uri: str, thumb_uri: Optional[str], size: str = "") -> str:
    """A thumbnail that opens the full-size image over the page (CSS :target,
    no script). Without a separate thumbnail the one image is enlarged, so
    its data is in the page once."""
    text = _esc(caption)
    if thumb_uri is None:
        return ('<figure class="shot same" id="%s"><a href="#%s"><img class="thumb" alt="%s"%s src="%s"></a>'
                '<a class="close" href="%s">close</a><figcaption>%s</figcaption></figure>'
                % (anchor, anchor, text, size, full_uri, back, text))
    return ('<figure class="shot" id="%s"><a href="#%s"><img class="thumb" alt="%s"%s src="%s"></a>'
            '<a class="full" href="%s"><img alt="%s" src="%s"></a><figcaption>%s</figcaption></figure>'
            % (anchor, anchor, text, size, thumb_uri, back, text, full_uri, text))


def image_section(page: Page, records: LazySet, index: int, label: str, origin: int) -> None:
    shots: List[str] = []
    for image in image_files.images(records):
        page.image_count += 1
        anchor = "image-%d" % page.image_count
        caption = "%s, %s, %dx%d %s" % (image.camera, _duration(set_events.seconds(image.timestamp_ns, origin)),
                                      image.width, image.height, image.encoding)
        try:
            full = image_files.image_file(image)
            stride = png.thumbnail_stride(image.width, image.height, THUMBNAIL_BOX)
            thumb = image_files.image_file(image, stride) if stride > 1 and full.suffix == ".png" \
                and image.encoding in png.LAYOUTS else full
        except png.ImageError as error:
            page.problem(ERR_IMAGE % (label, image_files.image_label(image), error))
            continue
        shots.append(_shot(anchor, "#set-%d-images" % index, caption, _data_uri(full.mime, full.data),
                           None if thumb is full else _data_uri(thumb.mime, thumb.data),
                           thumbnail_size(image.width, image.height) if thumb is full else ""))
    if shots:
        page.parts.append('<h3 id="set-%d-images">Images</h3><div class="shots">%s</div>' % (index, "".join(shots)))


# Page -----------------------------------------------------------------------------

def set_section(page: Page, index: int, records: LazySet) -> List[set_events.Event]:
    """Adds the record set's section; returns its events."""
    header = records.header
    label = texts.describe_set(header, index)
    origin = set_events.set_origin_ns(header)
    events = set_events.events(header)
    failed = sum(1 for e in events if e.failed)
    span = set_events.seconds(header.stop_timestamp_ns, origin) if header.stop_timestamp_ns else 0.0
    interrupted = interruption(header)
    page.parts.append('<section class="set" id="set-%d"><h2>%d. %s%s</h2>' % (index, index, _esc(
        header.description or "(no description)"), _badge(interrupted)))
    page.parts.append('<p class="facts">started %s, lasted %s; %d events (%d failed); %d products; project %s</p>'
                      % (_esc(_clock(header.start_timestamp_ns)), _esc(_duration(span)), len(events), failed,
                         len(records.refs), _esc(header.project.version or "-")))
    if interrupted is not None:
        page.problem("%s: %s" % (label, interrupted))
    if events:
        page.parts.append("<h3>Timeline</h3>")
        page.parts.append(timeline(events, span))
    else:
        page.problem("%s: %s" % (label, NO_EVENTS))
    if not records.refs:
        page.problem("%s: %s" % (label, NO_PRODUCTS))
    else:
        marker_section(page, records, origin)
        image_section(page, records, index, label, origin)
        joint_plots(page, records, origin)
        trajectory_plots(page, records, origin)
    page.parts.append("</section>")
    return events


def _badge(interrupted: Optional[str]) -> str:
    if interrupted is None:
        return ""
    return '<span class="badge" title="%s">%s</span>' % (_esc(interrupted), INTERRUPTED)


def summary_row(index: int, header: data_pb2.RecordSet, events: Sequence[set_events.Event], products: int) -> str:
    """One line of the table of contents, with the failed steps and their messages."""
    failed = [e for e in events if e.failed]
    origin = set_events.set_origin_ns(header)
    span = set_events.seconds(header.stop_timestamp_ns, origin) if header.stop_timestamp_ns else 0.0
    why = "<br>".join("<b>%s</b>: %s" % (_esc(e.name), _esc(e.message)) for e in failed)
    interrupted = interruption(header)
    return ('<tr class="%s"><td><a href="#set-%d">%d. %s</a>%s</td><td>%s</td><td>%s</td><td>%d</td><td>%d</td>'
            "<td>%d</td><td>%s</td></tr>"
            % ("failed" if failed else "ok", index, index, _esc(header.description or "(no description)"),
               _badge(interrupted),
               _esc(_clock(header.start_timestamp_ns)), _esc(_duration(span)), len(events), len(failed), products,
               why or "-"))


def render(answer: bytes, title: str, warn: set_events.Warn, figure_class: Optional[Any] = None) -> str:
    """The whole HTML page for a serialized DataRecords; each record set is
    rendered and dropped before the next one is read."""
    page = Page(figure_class if figure_class is not None else plots.load_plotting(), warn)
    count = 0
    for index, records in enumerate(record_sets(answer), 1):
        events = set_section(page, index, records)
        page.summary.append(summary_row(index, records.header, events, len(records.refs)))
        count = index
        del records
    if not count:
        page.problem(NO_RECORDS)
    else:
        page.parts.insert(0, '<table class="summary"><tr><th>record set</th><th>started</th><th>lasted</th>'
                             "<th>events</th><th>failed</th><th>products</th><th>failed steps</th></tr>%s</table>"
                          % "".join(page.summary))
    return ('<!DOCTYPE html><html lang="en"><head><meta charset="utf-8">'
            '<meta name="viewport" content="width=device-width,initial-scale=1">'
            "<title>%s</title><style>%s</style></head><body>"
            '<header class="page"><h1>%s</h1><div>%d record sets</div></header><main>%s</main>'
            "<footer>made by ostrel report on %s</footer></body></html>\n"
            % (_esc(title), STYLE, _esc(title), count, "".join(page.parts),
               _esc(time.strftime("%Y-%m-%d %H:%M:%S UTC", time.gmtime()))))

