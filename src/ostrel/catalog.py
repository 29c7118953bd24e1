"""Facts that the server and the record readers share: the robot models
the cell knows, with their joint names, and the kinds of recorded products."""

from typing import Dict, Tuple

from ostrel.api import data_pb2

_UR_JOINTS = ("shoulder_pan", "shoulder_lift", "elbow", "wrist_1", "wrist_2", "wrist_3")

# Robot model (member of RobotConfig.type) -> joint names, in joint order.
# A custom robot names its joints itself (custom_robot.dof_names).
ROBOT_JOINTS: Dict[str, Tuple[str, ...]] = {
    "ur_3e_robot": _UR_JOINTS,
    "ur_5e_robot": _UR_JOINTS,
    "ur_10e_robot": _UR_JOINTS,
    "franka_panda_robot": tuple("joint%d" % i for i in range(1, 8)),
}

# Product kind (member of ProductRecord.type) -> its field number, and back.
PRODUCT_FIELDS: Dict[str, int] = {
    f.name: f.number for f in data_pb2.ProductRecord.DESCRIPTOR.oneofs_by_name["type"].fields}
PRODUCT_KINDS: Dict[int, str] = {number: name for name, number in PRODUCT_FIELDS.items()}
