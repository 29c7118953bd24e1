"""What the simulated cameras see: the image corners of the visual markers
in a pinhole camera's view, the camera's preview with the markers drawn
where marker detection reports them, and a task region seen square-on."""

from typing import List, Optional, Tuple

from ostrel import kinematics
from ostrel.api import math_pb2
from ostrel.kinematics import apply, inverse
from ostrel.server import drawing
from ostrel.server.cell import Cell


def project_marker(cell: Cell, camera_key: str, marker_key: str) -> Optional[List[math_pb2.Vector2]]:
    """Image corners of a marker seen by a pinhole camera (z forward), or None."""
    k = cell.camera(camera_key).intrinsics
    marker = cell.marker(marker_key)
    if not (k.width and k.height and k.focal_length_x and k.focal_length_y):
        return None
    world_to_camera = inverse(cell.pose_of(cell.state.cameras, camera_key))
    marker_pose = cell.pose_of(cell.state.fiducials, marker_key)
    h = marker.marker_length_m / 2.0
    corners: List[math_pb2.Vector2] = []
    for x, y in ((-h, h), (h, h), (h, -h), (-h, -h)):
        cx, cy, cz = apply(world_to_camera, apply(marker_pose, (x, y, 0.0)))
        if cz <= 0.0:
            return None
        u = k.focal_length_x * cx / cz + k.optical_center_x
        v = k.focal_length_y * cy / cz + k.optical_center_y
        if not (0.0 <= u < k.width and 0.0 <= v < k.height):
            return None
        corners.append(math_pb2.Vector2(x=u, y=v))
    return corners


def visual_markers(cell: Cell) -> List[str]:
    return [key for key in sorted(cell.config.fiducials) if cell.config.fiducials[key].HasField("visual_marker")]


def preview_pixels(cell: Cell, camera_key: str, width: int, height: int) -> bytes:
    """The camera's preview: every visual marker it sees, filled, where
    marker detection would report its corners."""
    k = cell.camera(camera_key).intrinsics
    pixels = drawing.blank(width, height)
    for key in visual_markers(cell):
        corners = project_marker(cell, camera_key, key)
        if corners is not None:
            drawing.fill_polygon(pixels, width, height,
                                 drawing.scaled([(c.x, c.y) for c in corners], width / k.width, height / k.height))
    return bytes(pixels)


def crop_pixels(cell: Cell, region_key: str, width: int, height: int) -> bytes:
    """The task region seen square-on, its extent in x and y filling the
    image (x to the right, y up), bordered, with the visual markers on it."""
    region = cell.task_region(region_key)
    world_to_region = inverse(kinematics.from_pose3(region.pose))
    low, high = region.min.linear, region.max.linear
    pixels = drawing.blank(width, height)
    if high.x > low.x and high.y > low.y:
        for key in visual_markers(cell):
            marker_pose = cell.pose_of(cell.state.fiducials, key)
            h = cell.config.fiducials[key].visual_marker.marker_length_m / 2.0
            corners: List[Tuple[float, float]] = []
            for x, y in ((-h, h), (h, h), (h, -h), (-h, -h)):
                rx, ry, _ = apply(world_to_region, apply(marker_pose, (x, y, 0.0)))
                corners.append(((rx - low.x) / (high.x - low.x) * width, (high.y - ry) / (high.y - low.y) * height))
            drawing.fill_polygon(pixels, width, height, corners)
    drawing.frame(pixels, width, height)
    return bytes(pixels)
