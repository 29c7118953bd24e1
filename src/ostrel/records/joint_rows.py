"""Joints of the recorded robots: their names from the project, and the
joint samples of controller and simulator products."""

from typing import Dict, Iterator, List, NamedTuple, Sequence

from ostrel.api import project_pb2
from ostrel.catalog import ROBOT_JOINTS
from ostrel.records.sets import LazySet


def known_joints(project: project_pb2.ProjectSnapshot, robot: str) -> Sequence[str]:
    """The joint names that the project gives a robot through its model."""
    if robot not in project.workspace.config.robots:
        return ()
    config = project.workspace.config.robots[robot]
    model = config.WhichOneof("type")
    if model == "custom_robot":
        return list(config.custom_robot.dof_names)
    return ROBOT_JOINTS.get(model or "", ())


def joint_names(project: project_pb2.ProjectSnapshot, robot: str, count: int) -> List[str]:
    """Names of a robot's first `count` joints: from the project's model,
    `joint_<i>` for joints the project does not name."""
    names = known_joints(project, robot)
    return [names[i] if i < len(names) and names[i] else "joint_%d" % i for i in range(count)]


class JointRow(NamedTuple):
    """One controller or simulator product: joint values by owner (robot or
    effector key) and quantity, one value per joint, plus a few scalars."""

    timestamp_ns: int
    scalars: Dict[str, str]
    joints: Dict[str, Dict[str, Sequence[float]]]


CONTROLLER_SCALARS = ("robot", "controller_time_s", "faulted")
CONTROLLER_QUANTITIES = ("reference_position", "feedback_position", "reference_velocity", "feedback_velocity")
SIMULATOR_QUANTITIES = ("position",)


def controller_rows(records: LazySet) -> Iterator[JointRow]:
    for product in records.products("controller"):
        c = product.controller
        scalars = {"robot": c.robot, "controller_time_s": "%.6g" % c.time_s, "faulted": str(int(c.faulted))}
        yield JointRow(int(product.timestamp_ns), scalars, {c.robot: {
            "reference_position": list(c.reference.joint.positions.data),
            "feedback_position": list(c.feedback.joint.positions.data),
            "reference_velocity": list(c.reference.joint.velocities.data),
            "feedback_velocity": list(c.feedback.joint.velocities.data),
        }})


def simulator_rows(records: LazySet) -> Iterator[JointRow]:
    for product in records.products("simulator"):
        state = product.simulator.workspace_state
        joints: Dict[str, Dict[str, Sequence[float]]] = {}
        for owners in (state.robots, state.effectors):
            for key in sorted(owners):
                joints[key] = {"position": list(owners[key].joint_positions.data)}
        yield JointRow(int(product.timestamp_ns), {}, joints)
