"""`ostrel report`: one self-contained HTML page per selection of record sets.

For each record set, in the order a program usually makes them: the events
as a Gantt-style timeline (failed steps in red, with their messages), the
detected markers over the camera's image nearest in time and the camera
poses, the images as thumbnails that open at full size, the joint positions
per robot (controller reference against feedback) and the planned
trajectories. A set whose recording a stopped server
left open is marked interrupted.

Plots are drawn by matplotlib as inline SVG; images are PNG data: URIs; the
style sheet is inline and there is no script, so the page works offline and
loads nothing. Recorded text is drawn literally (no math text, no TeX).
matplotlib comes with the optional extra `report`.
"""

import base64
import html
import io
import time
from typing import Any, Callable, Dict, List, NamedTuple, Optional, Sequence, Tuple

from ostrel.records import png, view
from ostrel.api import data_pb2
from ostrel.catalog import interruption
from ostrel.records.sets import LazySet, record_sets

ERR_MISSING_PLOTTING = 'ostrel report needs matplotlib: pip install "ostrel[report]"'
NO_RECORDS = "No record sets match the selection."
NO_PRODUCTS = "No products were recorded in this set."
NO_EVENTS = "No events were recorded in this set."
NO_CONTROLLER = "No controller products: no joint positions to plot."
ERR_IMAGE = "%s: image %s cannot be shown: %s"
INTERRUPTED = "interrupted"
THUMBNAIL_BOX = 160  # pixels
THUMBNAIL_MIN = 120  # smaller images are shown enlarged by a whole factor, pixels kept square
PLOT_WIDTH_IN = 13.0  # drawn to the page's width; fonts grow by about 1230 px / (13 * 72)
PLOT_ROW_IN = 1.1
MARKER_PLOT_IN = (7.0, 5.4)  # per camera

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


def _duration(seconds: float) -> str:
    magnitude = abs(seconds)
    if magnitude < 1e-3:
        return "%.0f µs" % (seconds * 1e6)
    if magnitude < 1:
        return "%.1f ms" % (seconds * 1e3)
    return "%.2f s" % seconds


_clock = view.utc_time


def default_title(target: str) -> str:
    return "Ostrel records from %s" % target


def load_plotting() -> Any:
    """matplotlib's Figure class with the SVG backend; ImportError without the extra."""
    import matplotlib

    matplotlib.use("Agg")
    from matplotlib.figure import Figure

    return Figure


class Page:
    """Collects the sections of the page and the problems found on the way."""

    def __init__(self, figure_class: Any, warn: view.Warn) -> None:
        self.figure_class = figure_class
        self.warn = warn
        self.parts: List[str] = []
        self.image_count = 0
        self.summary: List[str] = []

    def problem(self, text: str) -> None:
        self.warn(text)
        self.parts.append('<p class="problem">%s</p>' % _esc(text))

    def plot(self, size: Tuple[float, float], draw: Callable[[Any], None], kind: str = "") -> str:
        """A figure of `size` inches drawn by `draw(figure)`, as inline SVG.

        Texts are made and drawn with math text and TeX off, so that recorded
        names (a robot called `ur5e_$a_b$`) are shown as they are written."""
        import matplotlib

        buffer = io.StringIO()
        # A literal, so that it checks against matplotlib's stubs that type the
        # keys as the names of its settings (3.11) and against older ones.
        with matplotlib.rc_context(  # pyright: ignore[reportUnknownMemberType]
                {"svg.fonttype": "path", "svg.hashsalt": "ostrel", "text.usetex": False,
                 "text.parse_math": False, "axes.formatter.use_mathtext": False}):
            figure = self.figure_class(figsize=size)
            draw(figure)
            figure.savefig(buffer, format="svg", bbox_inches="tight", metadata={"Date": None})
        text = buffer.getvalue()
        return '<div class="plot%s">%s</div>' % (" " + kind if kind else "", text[text.index("<svg"):])


# Timeline -------------------------------------------------------------------

def timeline(events: Sequence[view.Event], span_s: float) -> str:
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

Series = Dict[str, List[Tuple[float, Sequence[float]]]]  # quantity -> (time, values)


Line = Tuple[str, Dict[str, Any], List[Tuple[float, Sequence[float]]]]  # label, plot style, samples
REFERENCE_STYLE: Dict[str, Any] = {"color": "#2f7ed8", "linewidth": 3.0, "alpha": 0.45, "marker": "o",
                                   "markersize": 4}
FEEDBACK_STYLE: Dict[str, Any] = {"color": "#c4591b", "linewidth": 1.0, "linestyle": "--", "marker": "x",
                                  "markersize": 4}
PLAN_STYLE: Dict[str, Any] = {"linewidth": 1.2}


def _joint_figure(page: Page, title: str, names: Sequence[str], lines: Sequence[Line],
                  xlabel: str = "time from the start of the record set (s)") -> str:
    """One subplot per joint, the lines drawn on each."""
    def draw(figure: Any) -> None:
        axes = figure.subplots(len(names), 1, sharex=True, squeeze=False)[:, 0]
        for j, (ax, name) in enumerate(zip(axes, names)):
            for label, style, samples in lines:
                points = [(t, v[j]) for t, v in samples if j < len(v)]
                if points:
                    ax.plot([p[0] for p in points], [p[1] for p in points], label=label, **style)
            ax.set_ylabel(name, rotation=0, ha="right", va="center", fontsize=8)
            ax.tick_params(labelsize=7)
            ax.grid(True, linewidth=0.3)
        axes[0].set_title(title, fontsize=10)
        handles, labels = axes[0].get_legend_handles_labels()
        if handles:
            axes[0].legend(handles, labels, fontsize=7, loc="upper left", bbox_to_anchor=(1.005, 1.0))
        axes[-1].set_xlabel(xlabel, fontsize=8)

    return page.plot((PLOT_WIDTH_IN, 0.6 + PLOT_ROW_IN * len(names)), draw)


def joint_plots(page: Page, records: LazySet, origin: int) -> None:
    series: Dict[str, Series] = {}
    for row in view.controller_rows(records):
        t = view.seconds(row.timestamp_ns, origin)
        for robot, values in row.joints.items():
            for quantity in ("reference_position", "feedback_position"):
                series.setdefault(robot, {}).setdefault(quantity, []).append((t, values[quantity]))
    if not series:
        page.parts.append("<p>%s</p>" % _esc(NO_CONTROLLER))
        return
    for robot, by_quantity in series.items():
        count = max(len(v) for samples in by_quantity.values() for _, v in samples)
        names = view.joint_names(records.header.project, robot, count)
        if not names:
            continue
        page.parts.append("<h3>Joint positions of %s (rad or m)</h3>" % _esc(robot))
        page.parts.append(_joint_figure(page, robot, names, [
            ("reference", REFERENCE_STYLE, by_quantity.get("reference_position", [])),
            ("feedback", FEEDBACK_STYLE, by_quantity.get("feedback_position", []))]))


def trajectory_plots(page: Page, records: LazySet, origin: int) -> None:
    """Planned trajectories per robot over their own time axis (the planner's
    seconds, which a sped-up simulated cell does not share with the clock)."""
    plans: Dict[str, List[Tuple[float, List[Tuple[float, Sequence[float]]]]]] = {}
    rows: List[str] = []
    for product in records.products("planner"):
        p = product.planner
        start = view.seconds(product.timestamp_ns, origin)
        samples: List[Tuple[float, Sequence[float]]] = [(float(t), list(state.joint.positions.data))
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
        names = view.joint_names(records.header.project, robot, count)
        page.parts.append("<h3>Planned trajectories of %s</h3>" % _esc(robot))
        page.parts.append(_joint_figure(page, "%s: %d planned trajectories" % (robot, len(trajectories)), names,
                                        [("planned at %s" % _duration(start), PLAN_STYLE, samples)
                                         for start, samples in trajectories],
                                        xlabel="time along the trajectory (s)"))


# Markers ----------------------------------------------------------------------

Outline = Tuple[int, List[Tuple[float, float]]]  # marker id, corners in image pixels


class CameraView(NamedTuple):
    """What the marker plot draws for one camera."""

    outlines: List[Outline]
    first_ns: int  # the first detection's time
    image: Optional[view.ImageFile] = None  # the camera's image nearest in time to first_ns


def marker_section(page: Page, records: LazySet, origin: int) -> None:
    rows: List[str] = []
    poses: List[str] = []
    cameras: Dict[str, CameraView] = {}
    for product in records.products("perception"):
        at = _duration(view.seconds(product.timestamp_ns, origin))
        for marker in product.perception.detected_markers:
            corners = [(c.x, c.y) for c in marker.corners]
            seen = cameras.setdefault(marker.camera, CameraView([], int(product.timestamp_ns)))
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
        page.parts.append(_marker_figure(page, records, _with_images(records, cameras), origin))
    if poses:
        page.parts.append("<table><tr><th>at</th><th>camera</th><th>position (m)</th>"
                          "<th>orientation (w x y z)</th></tr>%s</table>" % "".join(poses))


def _with_images(records: LazySet, cameras: Dict[str, CameraView]) -> Dict[str, CameraView]:
    """Each camera's view with the image of that camera nearest in time to its first detection."""
    for image in view.images(records):
        seen = cameras.get(image.camera)
        if seen is None:
            continue
        if seen.image is None or abs(image.timestamp_ns - seen.first_ns) < abs(seen.image.timestamp_ns - seen.first_ns):
            cameras[image.camera] = seen._replace(image=image)
    return cameras


def image_pixels(image: view.ImageFile) -> Optional[Tuple[Any, Dict[str, Any]]]:
    """(pixel array, imshow options) of a raw or PNG image; None for what
    cannot be drawn (JPEG data, or pixels that do not fit the size)."""
    import numpy as typed_numpy

    numpy: Any = typed_numpy  # arrays of a size and type known only here
    m = image.message
    if m.encoding.lower() == "png":
        from matplotlib import image as mpl_image

        try:
            return mpl_image.imread(io.BytesIO(m.data), format="png"), {}
        except (ValueError, OSError, SyntaxError):
            return None
    try:
        raw = png.check_raw(m.encoding, m.width, m.height, m.step, m.data)
    except png.ImageError:
        return None
    layout = raw.layout
    sample = numpy.dtype("<u2" if layout.sample_bytes == 2 else "u1")
    rows = numpy.frombuffer(raw.data, dtype=numpy.uint8).reshape(raw.height, raw.step)[:, :raw.row_bytes]
    pixels = numpy.ascontiguousarray(rows).view(sample).reshape(raw.height, raw.width, layout.channels)
    pixels = pixels[:, :, list(layout.order)]
    top = 65535 if layout.sample_bytes == 2 else 255
    if layout.channels == 1:
        return pixels[:, :, 0], {"cmap": "gray", "vmin": 0, "vmax": top}
    return (pixels.astype(numpy.float32) / top), {}


def _marker_figure(page: Page, records: LazySet, cameras: Dict[str, CameraView], origin: int) -> str:
    """The marker outlines as each camera saw them, in image pixels, over
    that camera's image nearest in time when the set holds one."""
    configs = records.header.project.workspace.config.cameras

    def draw(figure: Any) -> None:
        axes = figure.subplots(1, len(cameras), squeeze=False)[0]
        for ax, (camera, seen) in zip(axes, sorted(cameras.items())):
            size: Optional[Tuple[int, int]] = None
            if camera in configs and configs[camera].intrinsics.width and configs[camera].intrinsics.height:
                size = (configs[camera].intrinsics.width, configs[camera].intrinsics.height)
            title = camera
            shown = image_pixels(seen.image) if seen.image is not None else None
            if seen.image is not None and shown is not None:
                size = size or (seen.image.width, seen.image.height)
                pixels, options = shown
                ax.imshow(pixels, extent=(0, size[0], size[1], 0), interpolation="nearest", **options)
                title = "%s, over its image at %s" % (camera, _duration(view.seconds(seen.image.timestamp_ns,
                                                                                     origin)))
            for marker_id, corners in seen.outlines:
                if corners:
                    xs = [c[0] for c in corners] + [corners[0][0]]
                    ys = [c[1] for c in corners] + [corners[0][1]]
                    ax.plot(xs, ys, "-", linewidth=1.4, color="#ff3b30")
                    ax.annotate(str(marker_id), (sum(xs[:-1]) / len(corners), min(ys[:-1])),
                                xytext=(0, 3), textcoords="offset points", fontsize=8, ha="center",
                                va="bottom", color="#ff3b30")
            if size is not None:
                ax.set_xlim(0, size[0])
                ax.set_ylim(size[1], 0)
            else:
                ax.invert_yaxis()
            ax.set_aspect("equal")
            ax.set_title(title, fontsize=9)
            ax.tick_params(labelsize=7)

    return page.plot((MARKER_PLOT_IN[0] * len(cameras), MARKER_PLOT_IN[1]), draw, "camera")


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
    for image in view.images(records):
        page.image_count += 1
        anchor = "image-%d" % page.image_count
        caption = "%s, %s, %dx%d %s" % (image.camera, _duration(view.seconds(image.timestamp_ns, origin)),
                                      image.width, image.height, image.encoding)
        try:
            full = view.image_file(image)
            stride = png.thumbnail_stride(image.width, image.height, THUMBNAIL_BOX)
            thumb = view.image_file(image, stride) if stride > 1 and full.suffix == ".png" \
                and image.encoding in png.LAYOUTS else full
        except png.ImageError as error:
            page.problem(ERR_IMAGE % (label, view.image_label(image), error))
            continue
        shots.append(_shot(anchor, "#set-%d-images" % index, caption, _data_uri(full.mime, full.data),
                           None if thumb is full else _data_uri(thumb.mime, thumb.data),
                           thumbnail_size(image.width, image.height) if thumb is full else ""))
    if shots:
        page.parts.append('<h3 id="set-%d-images">Images</h3><div class="shots">%s</div>' % (index, "".join(shots)))


# Page -----------------------------------------------------------------------------

def set_section(page: Page, index: int, records: LazySet) -> List[view.Event]:
    """Adds the record set's section; returns its events."""
    header = records.header
    label = view.describe_set(header, index)
    origin = view.set_origin_ns(header)
    events = view.events(header)
    failed = sum(1 for e in events if e.failed)
    span = view.seconds(header.stop_timestamp_ns, origin) if header.stop_timestamp_ns else 0.0
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


def summary_row(index: int, header: data_pb2.RecordSet, events: Sequence[view.Event], products: int) -> str:
    """One line of the table of contents, with the failed steps and their messages."""
    failed = [e for e in events if e.failed]
    origin = view.set_origin_ns(header)
    span = view.seconds(header.stop_timestamp_ns, origin) if header.stop_timestamp_ns else 0.0
    why = "<br>".join("<b>%s</b>: %s" % (_esc(e.name), _esc(e.message)) for e in failed)
    interrupted = interruption(header)
    return ('<tr class="%s"><td><a href="#set-%d">%d. %s</a>%s</td><td>%s</td><td>%s</td><td>%d</td><td>%d</td>'
            "<td>%d</td><td>%s</td></tr>"
            % ("failed" if failed else "ok", index, index, _esc(header.description or "(no description)"),
               _badge(interrupted),
               _esc(_clock(header.start_timestamp_ns)), _esc(_duration(span)), len(events), len(failed), products,
               why or "-"))


def render(answer: bytes, title: str, warn: view.Warn, figure_class: Optional[Any] = None) -> str:
    """The whole HTML page for a serialized DataRecords; each record set is
    rendered and dropped before the next one is read."""
    page = Page(figure_class if figure_class is not None else load_plotting(), warn)
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


def records_from(message: data_pb2.DataRecords) -> bytes:
    """The serialized form that `render` and the export read."""
    return bytes(message.SerializeToString())
