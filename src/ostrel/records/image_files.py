"""The recorded images as files: each with a file name unique within its
set, made of what is safe in a file name."""

import re
from typing import Dict, Iterator, NamedTuple

from ostrel.api import image_pb2
from ostrel.records import png
from ostrel.records.sets import LazySet


class ImageFile(NamedTuple):
    camera: str
    timestamp_ns: int
    encoding: str
    width: int
    height: int
    name: str  # file name without suffix: camera and time stamp
    message: image_pb2.Image


_UNSAFE = re.compile(r"[^A-Za-z0-9._-]+")
# Longest part of a file name taken from recorded text: with the numbers
# around it, names stay far below the 255 bytes that file systems allow.
MAX_NAME_CHARS = 48


def safe_name(text: str, fallback: str, limit: int = MAX_NAME_CHARS) -> str:
    """A file-name part of at most `limit` letters, digits, '.', '_' and '-'."""
    cleaned = _UNSAFE.sub("_", text).strip("._")[:limit].rstrip("._")
    return cleaned or fallback


class UniqueNames:
    """Names made unique by a counter, compared without case, as file
    systems that ignore case would compare them."""

    def __init__(self) -> None:
        self._seen: Dict[str, int] = {}

    def add(self, name: str) -> str:
        unique, count = name, 1
        while unique.lower() in self._seen:
            count += 1
            unique = "%s_%d" % (name, count)
        self._seen[unique.lower()] = count
        return unique


def images(records: LazySet) -> Iterator[ImageFile]:
    """Each recorded image with a file name unique within the set."""
    names = UniqueNames()
    for product in records.products("images"):
        for image in product.images.images:
            stamp = int(image.timestamp_ns or product.timestamp_ns)
            name = names.add("%s_%d" % (safe_name(image.camera, "camera"), stamp))
            yield ImageFile(image.camera, stamp, image.encoding, image.width, image.height, name, image)


def image_file(image: ImageFile, stride: int = 1) -> png.Converted:
    """The image as a file (PNG or the recorded JPEG/PNG); png.ImageError when unreadable."""
    m = image.message
    return png.convert(m.encoding, m.width, m.height, m.step, m.data, stride)


def image_label(image: ImageFile) -> str:
    return "%s at %d ns (%dx%d %s)" % (image.camera or "(no camera)", image.timestamp_ns, image.width,
                                      image.height, image.encoding or "no encoding")
