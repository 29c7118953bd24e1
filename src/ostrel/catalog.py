"""Facts that the server and the record readers share: the robot models
the cell knows, with their joint names and kinematic chains, the kinds of recorded products, and
the event that ends an interrupted recording."""

import math
from typing import Dict, NamedTuple, Optional, Tuple

from ostrel.api import common_pb2, data_pb2

_UR_JOINTS = ("shoulder_pan", "shoulder_lift", "elbow", "wrist_1", "wrist_2", "wrist_3")
_UR_LINKS = ("base_link", "shoulder_link", "upper_arm_link", "forearm_link",
             "wrist_1_link", "wrist_2_link", "wrist_3_link", "flange")
_PANDA_JOINTS = tuple("joint%d" % i for i in range(1, 8))
_PANDA_LINKS = tuple("panda_link%d" % i for i in range(9))  # panda_link8 is the flange

Point = Tuple[float, float, float]
Quaternion = Tuple[float, float, float, float]
_R = math.sqrt(0.5)
_ID: Quaternion = (1.0, 0.0, 0.0, 0.0)
_X90: Quaternion = (_R, _R, 0.0, 0.0)  # a quarter turn about x
_XM90: Quaternion = (_R, -_R, 0.0, 0.0)  # a quarter turn back about x


class Link(NamedTuple):
    """One joint of a built-in chain: it places `child` in `parent`'s frame
    at `position` and `orientation`, and turns the child about its own z
    axis (or holds it fixed, for a joint without a name in the model's
    joint list)."""
    joint: str
    parent: str
    child: str
    position: Point
    orientation: Quaternion


class RobotModel(NamedTuple):
    joints: Tuple[str, ...]  # the movable joints, in the order of the joint vectors
    links: Tuple[Link, ...]  # every joint of the chain, base first
    flange: str  # the body that effectors and tool frames are mounted on


def _ur(d1: float, a2: float, a3: float, d4: float, d5: float, d6: float) -> RobotModel:
    """A UR e-Series arm from its maker's six kinematic lengths (metres).
    Each link frame stands on its joint's axis; the flange frame is the
    maker's tool flange frame (z out of the flange)."""
    poses = (((0.0, 0.0, d1), _ID), ((0.0, 0.0, 0.0), _X90), ((a2, 0.0, 0.0), _ID),
             ((a3, 0.0, d4), _ID), ((0.0, -d5, 0.0), _X90), ((0.0, d6, 0.0), _XM90),
             ((0.0, 0.0, 0.0), _ID))
    names = _UR_JOINTS + ("flange",)
    links = tuple(Link(name, parent, child, p, q) for name, parent, child, (p, q)
                  in zip(names, _UR_LINKS, _UR_LINKS[1:], poses))
    return RobotModel(_UR_JOINTS, links, "flange")


def _panda() -> RobotModel:
    """The Franka Panda from its maker's kinematic parameters: link frames
    are the maker's joint frames, the flange 0.107 m beyond joint 7."""
    poses = (((0.0, 0.0, 0.333), _ID), ((0.0, 0.0, 0.0), _XM90), ((0.0, -0.316, 0.0), _X90),
             ((0.0825, 0.0, 0.0), _X90), ((-0.0825, 0.384, 0.0), _XM90), ((0.0, 0.0, 0.0), _X90),
             ((0.088, 0.0, 0.0), _X90), ((0.0, 0.0, 0.107), _ID))
    names = _PANDA_JOINTS + ("flange",)
    links = tuple(Link(name, parent, child, p, q) for name, parent, child, (p, q)
                  in zip(names, _PANDA_LINKS, _PANDA_LINKS[1:], poses))
    return RobotModel(_PANDA_JOINTS, links, "panda_link8")


# Robot model (member of RobotConfig.type) -> its joints and kinematic chain.
# A custom robot names its joints (custom_robot.dof_names) and gives its chain.
ROBOT_MODELS: Dict[str, RobotModel] = {
    "ur_3e_robot": _ur(0.15185, -0.24355, -0.2132, 0.13105, 0.08535, 0.0921),
    "ur_5e_robot": _ur(0.1625, -0.425, -0.3922, 0.1333, 0.0997, 0.0996),
    "ur_10e_robot": _ur(0.1807, -0.6127, -0.57155, 0.17415, 0.11985, 0.11655),
    "franka_panda_robot": _panda(),
}

# Robot model -> joint names, in joint order.
ROBOT_JOINTS: Dict[str, Tuple[str, ...]] = {name: model.joints for name, model in ROBOT_MODELS.items()}

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
