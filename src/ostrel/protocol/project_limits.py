"""The cell's checks of a pushed project: sizes that would make a step
allocate without bound, and behavior trees nested deeper than a client can
read back from the records."""

from typing import Any, List, Optional, Tuple

from google.protobuf import message as _message

from ostrel.api import project_pb2

# Recorded images are previews at 1/20 of the camera's size, but at least
# MIN_PREVIEW_WIDTH pixels wide (or the camera's width), so that what a small
# camera sees (markers a few dozen pixels wide) stays visible.
PREVIEW_DIVISOR = 20
MIN_PREVIEW_WIDTH = 160
MAX_CAMERA_SIDE = 16384  # pixels of a camera's width or height
MAX_PREVIEW_BYTES = 16 * 1024 * 1024  # all cameras' previews of one record_images step
# Deepest nesting of messages, the outermost one counted, that the protobuf
# runtime parses by default (a recursion limit of 100 below the outermost).
MAX_READABLE_LEVELS = 101
# A record set nests the project two levels deeper (DataRecords, RecordSet),
# and the project nests each behavior two levels deeper (ProjectSnapshot, map entry).
MAX_BEHAVIOR_LEVELS = MAX_READABLE_LEVELS - 4

ERR_TOO_DEEP = ("behavior '%s' nests its messages %d levels deep in the records, more than the %d "
                "that a client can read back (protobuf's recursion limit); flatten the tree")
ERR_CAMERA_TOO_LARGE = "camera '%s' has intrinsics of %d x %d pixels; at most %d x %d are supported"
ERR_PREVIEWS_TOO_LARGE = ("the cameras' previews come to %d bytes per record_images step, more than %d "
                          "(from camera '%s' on)")


def preview_size(intrinsics: Any) -> Tuple[int, int]:
    width = intrinsics.width // PREVIEW_DIVISOR
    if width >= MIN_PREVIEW_WIDTH or intrinsics.width <= 0:
        return max(1, width), max(1, intrinsics.height // PREVIEW_DIVISOR)
    width = min(intrinsics.width, MIN_PREVIEW_WIDTH)  # the same scale in both directions
    return width, max(1, intrinsics.height * width // intrinsics.width)


def message_levels(message: _message.Message) -> int:
    """Depth of a message's nesting, the message itself counted as 1."""
    deepest = 0
    value: Any
    for descriptor, value in message.ListFields():
        if descriptor.message_type is None:
            continue
        if descriptor.message_type.GetOptions().map_entry:
            values: List[_message.Message] = []
            if descriptor.message_type.fields_by_name["value"].message_type is not None:
                values = list(value.values())
            deepest = max([deepest, 1] + [1 + message_levels(v) for v in values])
        elif isinstance(value, _message.Message):
            deepest = max(deepest, message_levels(value))
        else:
            deepest = max([deepest] + [message_levels(v) for v in value])
    return deepest + 1


def check_project(project: project_pb2.ProjectSnapshot) -> Optional[str]:
    """Why the cell refuses a project, or None."""
    for name in sorted(project.behaviors):
        levels = message_levels(project.behaviors[name])
        if levels > MAX_BEHAVIOR_LEVELS:
            return ERR_TOO_DEEP % (name, levels + 4, MAX_READABLE_LEVELS)
    total = 0
    cameras = project.workspace.config.cameras
    for key in sorted(cameras):
        k = cameras[key].intrinsics
        if k.width > MAX_CAMERA_SIDE or k.height > MAX_CAMERA_SIDE:
            return ERR_CAMERA_TOO_LARGE % (key, k.width, k.height, MAX_CAMERA_SIDE, MAX_CAMERA_SIDE)
        width, height = preview_size(k)
        total += width * height
        if total > MAX_PREVIEW_BYTES:
            return ERR_PREVIEWS_TOO_LARGE % (total, MAX_PREVIEW_BYTES, key)
    return None
