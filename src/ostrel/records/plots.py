"""The report's figures, drawn by matplotlib as inline SVG: joint positions
and planned trajectories (one subplot per joint) and detected markers over
the camera's image. The page around them is put together by `report`.

Recorded text is drawn literally (no math text, no TeX). matplotlib comes
with the optional extra `report` and is imported only when a figure is drawn.
"""

import io
from typing import Any, Callable, Dict, List, Mapping, NamedTuple, Optional, Sequence, Tuple

from ostrel import extras
from ostrel.api import camera_pb2
from ostrel.records import image_files, png, set_events, texts

PLOT_WIDTH_IN = 13.0  # drawn to the page's width; fonts grow by about 1230 px / (13 * 72)
PLOT_ROW_IN = 1.1
MARKER_PLOT_IN = (7.0, 5.4)  # per camera
MARKER_COLOR = "#ff3b30"

Samples = List[Tuple[float, Sequence[float]]]  # (time, values)
Line = Tuple[str, Dict[str, Any], Samples]  # label, plot style, samples
REFERENCE_STYLE: Dict[str, Any] = {"color": "#2f7ed8", "linewidth": 3.0, "alpha": 0.45, "marker": "o",
                                   "markersize": 4}
FEEDBACK_STYLE: Dict[str, Any] = {"color": "#c4591b", "linewidth": 1.0, "linestyle": "--", "marker": "x",
                                  "markersize": 4}
PLAN_STYLE: Dict[str, Any] = {"linewidth": 1.2}
TIME_IN_SET = "time from the start of the record set (s)"

Outline = Tuple[int, List[Tuple[float, float]]]  # marker id, corners in image pixels


class CameraView(NamedTuple):
    """What the marker plot draws for one camera."""

    outlines: List[Outline]
    first_ns: int  # the first detection's time
    image: Optional[image_files.ImageFile] = None  # the camera's image nearest in time to first_ns


def load_plotting() -> Any:
    """matplotlib's Figure class with the SVG backend; extras.MissingExtra without the extra."""
    matplotlib = extras.require("matplotlib", "report")
    matplotlib.use("Agg")
    return extras.require("matplotlib.figure", "report").Figure


def svg(figure_class: Any, size: Tuple[float, float], draw: Callable[[Any], None], kind: str = "") -> str:
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
        figure = figure_class(figsize=size)
        draw(figure)
        figure.savefig(buffer, format="svg", bbox_inches="tight", metadata={"Date": None})
    text = buffer.getvalue()
    return '<div class="plot%s">%s</div>' % (" " + kind if kind else "", text[text.index("<svg"):])


def joint_figure(figure_class: Any, title: str, names: Sequence[str], lines: Sequence[Line],
                 xlabel: str = TIME_IN_SET) -> str:
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

    return svg(figure_class, (PLOT_WIDTH_IN, 0.6 + PLOT_ROW_IN * len(names)), draw)


def image_pixels(image: image_files.ImageFile) -> Optional[Tuple[Any, Dict[str, Any]]]:
    """(pixel array, imshow options) of a raw or PNG image; None for what
    cannot be drawn (JPEG data, or pixels that do not fit the size)."""
    import numpy as typed_numpy

    numpy: Any = typed_numpy  # arrays of a size and type known only here
    m = image.message
    if m.encoding.lower() == "png":
        from matplotlib import image as typed_image

        mpl_image: Any = typed_image  # older matplotlib stubs (those for 3.9) leave imread's array untyped
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


def marker_figure(figure_class: Any, cameras: Dict[str, CameraView],
                  configs: Mapping[str, camera_pb2.CameraConfig], origin: int) -> str:
    """The marker outlines as each camera saw them, in image pixels, over
    that camera's image nearest in time when the set holds one; `configs`
    give the cameras' image sizes."""
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
                title = "%s, over its image at %s" % (camera, texts.duration_text(
                    set_events.seconds(seen.image.timestamp_ns, origin)))
            for marker_id, corners in seen.outlines:
                if corners:
                    xs = [c[0] for c in corners] + [corners[0][0]]
                    ys = [c[1] for c in corners] + [corners[0][1]]
                    ax.plot(xs, ys, "-", linewidth=1.4, color=MARKER_COLOR)
                    ax.annotate(str(marker_id), (sum(xs[:-1]) / len(corners), min(ys[:-1])),
                                xytext=(0, 3), textcoords="offset points", fontsize=8, ha="center",
                                va="bottom", color=MARKER_COLOR)
            if size is not None:
                ax.set_xlim(0, size[0])
                ax.set_ylim(size[1], 0)
            else:
                ax.invert_yaxis()
            ax.set_aspect("equal")
            ax.set_title(title, fontsize=9)
            ax.tick_params(labelsize=7)

    return svg(figure_class, (MARKER_PLOT_IN[0] * len(cameras), MARKER_PLOT_IN[1]), draw, "camera")
