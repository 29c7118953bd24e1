"""What the simulated cameras see, drawn as mono8 pixels a person can check
against the records: a light background, and every visual marker in view as
a filled black quadrilateral through the image corners that marker
detection reports for it (scaled to the image's size).

Pixels are drawn a row at a time with bytes operations, so even the largest
allowed crop is drawn in a few milliseconds of Python.
"""

import math
from typing import List, Sequence, Tuple

BACKGROUND = 200  # mono8 grey of what is not a marker
MARKER = 0
FRAME = 255  # the border of a crop: the task region's edge

Corners = Sequence[Tuple[float, float]]  # in the drawn image's pixels, x right, y down


def blank(width: int, height: int, value: int = BACKGROUND) -> bytearray:
    return bytearray(bytes([value]) * (width * height))


def fill_polygon(pixels: bytearray, width: int, height: int, corners: Corners, value: int = MARKER) -> None:
    """Fills a convex polygon: each pixel whose centre lies inside it."""
    if len(corners) < 3:
        return
    ys = [y for _, y in corners]
    top = max(0, int(math.floor(min(ys) - 0.5)))
    bottom = min(height - 1, int(math.ceil(max(ys) - 0.5)))
    edges = list(zip(corners, [*corners[1:], corners[0]]))
    for row in range(top, bottom + 1):
        centre = row + 0.5
        crossings: List[float] = []
        for (x0, y0), (x1, y1) in edges:
            if (y0 <= centre < y1) or (y1 <= centre < y0):
                crossings.append(x0 + (centre - y0) * (x1 - x0) / (y1 - y0))
        if len(crossings) < 2:
            continue
        first = max(0, int(math.ceil(min(crossings) - 0.5)))
        last = min(width - 1, int(math.floor(max(crossings) - 0.5)))
        if first <= last:
            start = row * width
            pixels[start + first:start + last + 1] = bytes([value]) * (last - first + 1)


def frame(pixels: bytearray, width: int, height: int, value: int = FRAME) -> None:
    """A one-pixel border around the image."""
    pixels[:width] = bytes([value]) * width
    pixels[(height - 1) * width:] = bytes([value]) * width
    for row in range(height):
        pixels[row * width] = value
        pixels[row * width + width - 1] = value


def scaled(corners: Corners, x_scale: float, y_scale: float) -> List[Tuple[float, float]]:
    return [(x * x_scale, y * y_scale) for x, y in corners]
