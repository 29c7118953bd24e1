"""Forward kinematics of the cell's robots: poses as (position, unit
quaternion) pairs, every body of a kinematic chain placed at given joint
positions, and the robots' flanges and tool frames.

A joint's pose places the joint frame, and with it the child body at zero
position, in the parent body's frame; a rotary joint then turns the child
about the joint's axis, a linear joint moves it along the axis (both given
in the joint frame). The root body, the one that is no joint's child, stands
at the identity. The built-in arms are the catalog's chains.
"""

import functools
import math
from typing import Dict, List, NamedTuple, Optional, Sequence, Tuple

from ostrel.api import dynamics_pb2, math_pb2, robot_pb2
from ostrel.catalog import ROBOT_MODELS

Point = Tuple[float, float, float]
Quaternion = Tuple[float, float, float, float]

ERR_UNKNOWN_BODY = "joint '%s' names %s body '%s', which is not a body of the chain"
ERR_TWO_PARENTS = "body '%s' is the child of two joints, '%s' and '%s'"
ERR_CYCLE = "the joints of bodies %s form a cycle"
ERR_POSITIONS = "the chain has %d movable joints but %d positions were given"
ERR_DOF = "joint '%s' has an unknown kind of motion (%d)"
ERR_AXIS = "joint '%s' moves about or along a zero axis"
ERR_NO_MODEL = "the robot names no model"
ERR_NO_FLANGE = "the robot's flange body '%s' is not a body of its chain"
ERR_NO_TOOL = "'%s' is not a tool frame of the robot"

MOVABLE = (dynamics_pb2.ROTARY_1DOF, dynamics_pb2.LINEAR_1DOF)


class Pose(NamedTuple):
    p: Point  # metres
    q: Quaternion  # unit quaternion (w, x, y, z)


IDENTITY = Pose((0.0, 0.0, 0.0), (1.0, 0.0, 0.0, 0.0))


def _qmul(a: Quaternion, b: Quaternion) -> Quaternion:
    aw, ax, ay, az = a
    bw, bx, by, bz = b
    return (aw * bw - ax * bx - ay * by - az * bz,
            aw * bx + ax * bw + ay * bz - az * by,
            aw * by - ax * bz + ay * bw + az * bx,
            aw * bz + ax * by - ay * bx + az * bw)


def _rotate(q: Quaternion, v: Point) -> Point:
    w, x, y, z = q
    vx, vy, vz = v
    # v + 2w (u x v) + 2 u x (u x v), u the vector part of q
    tx, ty, tz = 2.0 * (y * vz - z * vy), 2.0 * (z * vx - x * vz), 2.0 * (x * vy - y * vx)
    return (vx + w * tx + y * tz - z * ty, vy + w * ty + z * tx - x * tz, vz + w * tz + x * ty - y * tx)


def compose(a: Pose, b: Pose) -> Pose:
    """The pose b, given in a's frame, expressed in a's parent frame."""
    r = _rotate(a.q, b.p)
    return Pose((a.p[0] + r[0], a.p[1] + r[1], a.p[2] + r[2]), _qmul(a.q, b.q))


def inverse(a: Pose) -> Pose:
    q = (a.q[0], -a.q[1], -a.q[2], -a.q[3])
    r = _rotate(q, a.p)
    return Pose((-r[0], -r[1], -r[2]), q)


def apply(a: Pose, point: Sequence[float]) -> Point:
    """A point of a's frame, expressed in a's parent frame."""
    r = _rotate(a.q, (point[0], point[1], point[2]))
    return (a.p[0] + r[0], a.p[1] + r[1], a.p[2] + r[2])


def unit_quaternion(w: float, x: float, y: float, z: float) -> Quaternion:
    """The quaternion scaled to unit length; the zero quaternion is the identity."""
    n = math.sqrt(w * w + x * x + y * y + z * z)
    return IDENTITY.q if n == 0.0 else (w / n, x / n, y / n, z / n)


def from_pose3(pose: math_pb2.Pose3) -> Pose:
    v = pose.position
    return Pose((v.x, v.y, v.z), unit_quaternion(pose.qw, pose.qx, pose.qy, pose.qz))


def to_pose3(pose: Pose) -> math_pb2.Pose3:
    (x, y, z), (qw, qx, qy, qz) = pose
    return math_pb2.Pose3(position=math_pb2.Vector3(x=x, y=y, z=z), qw=qw, qx=qx, qy=qy, qz=qz)


class _Link(NamedTuple):
    """One joint, ready to compute: the child's pose is the parent's, then
    `pose`, then the motion of `dof` along `axis` by positions[slot]."""
    parent: str
    child: str
    pose: Pose
    dof: int
    axis: Point
    slot: int  # index into the positions; -1 for a fixed joint


class Plan(NamedTuple):
    """A chain checked and laid out once, to be placed at any joint positions."""

    bodies: Tuple[str, ...]
    links: Tuple[_Link, ...]  # each after the link that places its parent
    movable: int


def _axis(joint: dynamics_pb2.Joint) -> Point:
    a = joint.axis
    n = math.sqrt(a.x * a.x + a.y * a.y + a.z * a.z)
    if n == 0.0 or not math.isfinite(n):
        raise ValueError(ERR_AXIS % joint.name)
    return (a.x / n, a.y / n, a.z / n)


def _order(chain: dynamics_pb2.Chain) -> List[int]:
    """The chain's joint indices, each joint after the one that places its parent."""
    bodies = {body.name for body in chain.bodies}
    parent_joint: Dict[str, int] = {}
    for i, joint in enumerate(chain.joints):
        for role, name in (("parent", joint.parent), ("child", joint.child)):
            if name not in bodies:
                raise ValueError(ERR_UNKNOWN_BODY % (joint.name, role, name))
        if joint.child in parent_joint:
            raise ValueError(ERR_TWO_PARENTS % (joint.child, chain.joints[parent_joint[joint.child]].name,
                                                joint.name))
        parent_joint[joint.child] = i
    children: Dict[str, List[int]] = {}
    for i, joint in enumerate(chain.joints):
        children.setdefault(joint.parent, []).append(i)
    order: List[int] = []
    stack = [body.name for body in chain.bodies if body.name not in parent_joint]
    while stack:
        for i in reversed(children.get(stack.pop(), ())):
            order.append(i)
            stack.append(chain.joints[i].child)
    if len(order) != len(chain.joints):
        placed = {chain.joints[i].child for i in order}
        cycle = sorted(joint.child for joint in chain.joints if joint.child not in placed)
        raise ValueError(ERR_CYCLE % ", ".join("'%s'" % name for name in cycle))
    return order


def plan_chain(chain: dynamics_pb2.Chain) -> Plan:
    """The chain checked and laid out in the order its bodies are placed."""
    index: Dict[int, int] = {}
    for i, joint in enumerate(chain.joints):
        if joint.dof in MOVABLE:
            index[i] = len(index)
        elif joint.dof != dynamics_pb2.FIXED_0DOF:
            raise ValueError(ERR_DOF % (joint.name, joint.dof))
    links: List[_Link] = []
    for i in _order(chain):
        joint = chain.joints[i]
        axis = _axis(joint) if i in index else (0.0, 0.0, 0.0)
        links.append(_Link(joint.parent, joint.child, from_pose3(joint.pose), joint.dof, axis, index.get(i, -1)))
    return Plan(tuple(body.name for body in chain.bodies), tuple(links), len(index))


def placed(plan: Plan, positions: Sequence[float]) -> Dict[str, Pose]:
    """Every body of a planned chain in its root frame, the movable joints at `positions`."""
    if plan.movable != len(positions):
        raise ValueError(ERR_POSITIONS % (plan.movable, len(positions)))
    poses = {name: IDENTITY for name in plan.bodies}
    for link in plan.links:
        pose = compose(poses[link.parent], link.pose)
        if link.slot >= 0:
            x, y, z = link.axis
            position = positions[link.slot]
            if link.dof == dynamics_pb2.LINEAR_1DOF:
                pose = compose(pose, Pose((x * position, y * position, z * position), IDENTITY.q))
            else:
                s = math.sin(position / 2.0)
                pose = compose(pose, Pose(IDENTITY.p, (math.cos(position / 2.0), x * s, y * s, z * s)))
        poses[link.child] = pose
    return poses


def forward(chain: dynamics_pb2.Chain, positions: Sequence[float]) -> Dict[str, Pose]:
    """Every body's pose in the chain's root frame, the movable joints at
    `positions` (in the order the joints appear in the chain)."""
    return placed(plan_chain(chain), positions)


@functools.lru_cache(maxsize=None)
def _model_chain(model: str) -> dynamics_pb2.Chain:
    """The built-in chain of a model, built once and shared: never changed."""
    chain = dynamics_pb2.Chain()
    spec = ROBOT_MODELS[model]
    movable = set(spec.joints)
    chain.bodies.add(name=spec.links[0].parent)
    for link in spec.links:
        chain.bodies.add(name=link.child)
        (x, y, z), (qw, qx, qy, qz) = link.position, link.orientation
        joint = chain.joints.add(name=link.joint, parent=link.parent, child=link.child)
        joint.pose.CopyFrom(math_pb2.Pose3(position=math_pb2.Vector3(x=x, y=y, z=z), qw=qw, qx=qx, qy=qy, qz=qz))
        if link.joint in movable:
            joint.dof = dynamics_pb2.ROTARY_1DOF
            joint.axis.CopyFrom(math_pb2.Vector3(z=1.0))
    return chain


def _chain(config: robot_pb2.RobotConfig) -> Optional[dynamics_pb2.Chain]:
    model = config.WhichOneof("type")
    if model == "custom_robot":
        return config.custom_robot.chain
    return _model_chain(model) if model in ROBOT_MODELS else None


def robot_chain(config: robot_pb2.RobotConfig) -> Optional[dynamics_pb2.Chain]:
    """The robot's kinematic chain (a copy), None for a robot without a model."""
    chain = _chain(config)
    if chain is None:
        return None
    copy = dynamics_pb2.Chain()
    copy.CopyFrom(chain)
    return copy


def flange_body(config: robot_pb2.RobotConfig) -> str:
    """The body that the effector and the tool frames are mounted on."""
    model = config.WhichOneof("type")
    if model == "custom_robot":
        return config.custom_robot.interface_link
    return ROBOT_MODELS[model].flange if model in ROBOT_MODELS else ""


@functools.lru_cache(maxsize=None)
def _model_plan(model: str) -> Plan:
    return plan_chain(_model_chain(model))


def link_poses(config: robot_pb2.RobotConfig, positions: Sequence[float]) -> Dict[str, Pose]:
    """Every body of the robot in its base frame; empty for a robot without a model."""
    model = config.WhichOneof("type")
    if model in ROBOT_MODELS:
        return placed(_model_plan(model), positions)
    chain = _chain(config)
    return {} if chain is None else forward(chain, positions)


def tool_pose(config: robot_pb2.RobotConfig, positions: Sequence[float], tool: str) -> Pose:
    """The tool frame (the flange for "") in the robot's base frame."""
    if _chain(config) is None:
        raise ValueError(ERR_NO_MODEL)
    flange = flange_body(config)
    poses = link_poses(config, positions)
    if flange not in poses:
        raise ValueError(ERR_NO_FLANGE % flange)
    return compose(poses[flange], tool_offset(config, tool))


def tool_offset(config: robot_pb2.RobotConfig, tool: str) -> Pose:
    """The tool frame in the flange's frame: the identity for "" or a tool
    frame without a pose."""
    if not tool:
        return IDENTITY
    if tool not in config.tool_frames:
        raise ValueError(ERR_NO_TOOL % tool)
    frame = config.tool_frames[tool]
    return from_pose3(frame.flange_to_tool) if frame.HasField("flange_to_tool") else IDENTITY
