"""Facts that the server and the record readers share: the robot models
the cell knows, with their joint names, the kinds of recorded products, and
the event that ends an interrupted recording."""

from typing import Any, Dict, Optional, Tuple

from ostrel.api import common_pb2, data_pb2

_UR_JOINTS = ("shoulder_pan", "shoulder_lift", "elbow", "wrist_1", "wrist_2", "wrist_3")

# Robot model (member of RobotConfig.type) -> joint names, in joint order.
# A custom robot names its joints itself (custom_robot.dof_names).
ROBOT_JOINTS: Dict[str, Tuple[str, ...]] = {
    "ur_3e_robot": _UR_JOINTS,
    "ur_5e_robot": _UR_JOINTS,
    "ur_10e_robot": _UR_JOINTS,
    "franka_panda_robot": tuple("joint%d" % i for i in range(1, 8)),
}

# Recorded images are previews at 1/20 of the camera's size, but at least
# MIN_PREVIEW_WIDTH pixels wide (or the camera's width), so that what a small
# camera sees (markers a few dozen pixels wide) stays visible. The cell draws
# them at this size and the viewers scale the camera's intrinsics to it.
PREVIEW_DIVISOR = 20
MIN_PREVIEW_WIDTH = 160


def preview_size(intrinsics: Any) -> Tuple[int, int]:
    """The (width, height) of a camera's recorded preview, from its CameraIntrinsics."""
    width = intrinsics.width // PREVIEW_DIVISOR
    if width >= MIN_PREVIEW_WIDTH or intrinsics.width <= 0:
        return max(1, width), max(1, intrinsics.height // PREVIEW_DIVISOR)
    width = min(intrinsics.width, MIN_PREVIEW_WIDTH)  # the same scale in both directions
    return width, max(1, intrinsics.height * width // intrinsics.width)


# Product kind (member of ProductRecord.type) -> its field number, and back.
PRODUCT_FIELDS: Dict[str, int] = {
    f.name: f.number for f in data_pb2.ProductRecord.DESCRIPTOR.oneofs_by_name["type"].fields}
PRODUCT_KINDS: Dict[int, str] = {number: name for name, number in PRODUCT_FIELDS.items()}

# A recording that a server left open when it was killed ends with this
# event, added when the next start closes it: a failed event with no action.
INTERRUPTED_EVENT = "(recording interrupted)"
INTERRUPTED_TEXT = "the server stopped while the program ran; the recording ends here"


def interrupted_event(stop_ns: int) -> data_pb2.EventRecord:
    """The event that closes an interrupted recording."""
    return data_pb2.EventRecord(
        name=INTERRUPTED_EVENT, start_timestamp_ns=stop_ns, stop_timestamp_ns=stop_ns,
        status=[common_pb2.Status(code=common_pb2.FAILURE, message=INTERRUPTED_TEXT)],
        status_metadata=[common_pb2.Metadata(timestamp_ns=stop_ns)])


def interruption(record_set: data_pb2.RecordSet) -> Optional[str]:
    """What ended an interrupted record set, None for one that closed normally."""
    if not record_set.events:
        return None
    last = record_set.events[-1]
    if last.name != INTERRUPTED_EVENT or last.HasField("action") or not last.status:
        return None
    final = last.status[-1]
    return str(final.message) if final.code == common_pb2.FAILURE else None
