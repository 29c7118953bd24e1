"""Recorded camera images as PNG files, with nothing but zlib and struct.

`ostrel.api.image.Image` carries raw pixels (`encoding` names the layout,
`step` the bytes per row) or an already compressed `jpeg`/`png` stream.
Raw layouts are converted losslessly: 8-bit channels stay 8-bit, 16-bit
channels stay 16-bit (PNG stores them big-endian, the recorded data is
little-endian), `bgr`/`bgra` are reordered to RGB(A).
"""

import struct
import zlib
from typing import Dict, Iterator, List, NamedTuple, Tuple

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"

ERR_UNKNOWN_ENCODING = "unknown encoding '%s'"
ERR_NO_SIZE = "no size (%dx%d)"
ERR_STEP = "row step %d is shorter than %d pixels of %s (%d bytes)"
ERR_LENGTH = "%d bytes of data, %dx%d %s with row step %d needs %d"


class Layout(NamedTuple):
    channels: int
    sample_bytes: int  # 1 or 2
    color_type: int  # PNG colour type: 0 grey, 2 RGB, 6 RGBA
    order: Tuple[int, ...]  # source channel for each PNG channel


# Raw pixel layouts that convert to PNG, by `Image.encoding`.
LAYOUTS: Dict[str, Layout] = {
    "mono8": Layout(1, 1, 0, (0,)),
    "8UC1": Layout(1, 1, 0, (0,)),
    "mono16": Layout(1, 2, 0, (0,)),
    "16UC1": Layout(1, 2, 0, (0,)),
    "rgb8": Layout(3, 1, 2, (0, 1, 2)),
    "bgr8": Layout(3, 1, 2, (2, 1, 0)),
    "rgba8": Layout(4, 1, 6, (0, 1, 2, 3)),
    "bgra8": Layout(4, 1, 6, (2, 1, 0, 3)),
}
# Compressed encodings whose data already is a file: encoding -> (suffix, MIME type).
COMPRESSED: Dict[str, Tuple[str, str]] = {
    "jpeg": (".jpg", "image/jpeg"),
    "png": (".png", "image/png"),
}


class ImageError(ValueError):
    """An image whose pixels cannot be read; the text says why."""


class RawImage(NamedTuple):
    """Checked raw pixels: rows of `row_bytes` bytes, `step` apart in `data`."""

    width: int
    height: int
    layout: Layout
    step: int
    data: bytes

    @property
    def pixel_bytes(self) -> int:
        return self.layout.channels * self.layout.sample_bytes

    @property
    def row_bytes(self) -> int:
        return self.width * self.pixel_bytes


def check_raw(encoding: str, width: int, height: int, step: int, data: bytes) -> RawImage:
    """The image's pixels with their layout; ImageError when the encoding is
    unknown or the data does not hold height rows of step bytes."""
    layout = LAYOUTS.get(encoding)
    if layout is None:
        raise ImageError(ERR_UNKNOWN_ENCODING % encoding)
    if width <= 0 or height <= 0:
        raise ImageError(ERR_NO_SIZE % (width, height))
    row = width * layout.channels * layout.sample_bytes
    step = step or row
    if step < row:
        raise ImageError(ERR_STEP % (step, width, encoding, row))
    if len(data) != step * height:
        raise ImageError(ERR_LENGTH % (len(data), width, height, encoding, step, step * height))
    return RawImage(width, height, layout, step, data)


def _reorder(row: bytes, layout: Layout) -> bytes:
    """One row in PNG order: channels reordered, 16-bit samples big-endian."""
    if layout.order == tuple(range(layout.channels)) and layout.sample_bytes == 1:
        return row
    out = bytearray(len(row))
    pixel = layout.channels * layout.sample_bytes
    for target, source in enumerate(layout.order):
        for byte in range(layout.sample_bytes):
            # little-endian source byte -> big-endian position
            src = source * layout.sample_bytes + byte
            dst = target * layout.sample_bytes + (layout.sample_bytes - 1 - byte)
            out[dst::pixel] = row[src::pixel]
    return bytes(out)


def _rows(image: RawImage, stride: int = 1) -> Iterator[bytes]:
    """The image's rows (every stride-th row and column) in PNG order."""
    pixel = image.pixel_bytes
    width = (image.width + stride - 1) // stride
    for y in range(0, image.height, stride):
        start = y * image.step
        row = image.data[start:start + image.row_bytes]
        if stride > 1:
            picked = bytearray(width * pixel)
            for byte in range(pixel):
                picked[byte::pixel] = row[byte::stride * pixel][:width]
            row = bytes(picked)
        yield _reorder(row, image.layout)


def _chunk(kind: bytes, body: bytes) -> bytes:
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def encode(image: RawImage, stride: int = 1, level: int = 6) -> bytes:
    """A PNG file of the image, every stride-th pixel in each direction.
    Rows are compressed one at a time, so no second copy of the pixels is made."""
    width = (image.width + stride - 1) // stride
    height = (image.height + stride - 1) // stride
    header = struct.pack(">IIBBBBB", width, height, 8 * image.layout.sample_bytes,
                         image.layout.color_type, 0, 0, 0)
    compressor = zlib.compressobj(level)
    parts: List[bytes] = []
    for row in _rows(image, stride):
        parts.append(compressor.compress(b"\x00" + row))  # filter type 0: none
    parts.append(compressor.flush())
    return PNG_SIGNATURE + _chunk(b"IHDR", header) + _chunk(b"IDAT", b"".join(parts)) + _chunk(b"IEND", b"")


def thumbnail_stride(width: int, height: int, box: int) -> int:
    """The smallest whole-number step that fits the image into box x box pixels."""
    largest = max(width, height)
    return max(1, -(-largest // box))


class Converted(NamedTuple):
    data: bytes
    suffix: str
    mime: str


def convert(encoding: str, width: int, height: int, step: int, data: bytes,
            stride: int = 1) -> Converted:
    """The image as a file: compressed encodings as they are, raw ones as PNG."""
    known = COMPRESSED.get(encoding.lower())
    if known is not None:
        if not data:
            raise ImageError(ERR_LENGTH % (0, width, height, encoding, step, 1))
        return Converted(data, known[0], known[1])
    return Converted(encode(check_raw(encoding, width, height, step, data), stride), ".png", "image/png")
