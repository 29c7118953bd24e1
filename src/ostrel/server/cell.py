"""A simulated work cell: the state that the steps of a program change, and
the lookups that name what a step refers to (or why it cannot be found).

There is no physics and no inverse kinematics here. Joint-space targets
are drawn from the project's target generators and joined by smooth
joint-space trajectories; pose targets are reported as proposals and never
claimed reachable. Forward kinematics places what a robot carries: its
effector stands at its flange, and an item it holds at the effector's pose
composed with the grasp offset of the item's linkage, from attach to detach.
The steps themselves are the table in `ostrel.server.steps`.
"""

import math
import random
import threading
from typing import Dict, Iterable, List, Optional, Set, Tuple, TypedDict, Union

from google.protobuf.internal import containers

from ostrel.api import (
    camera_pb2,
    fiducial_pb2,
    math_pb2,
    planning_pb2,
    probability_pb2,
    project_pb2,
    robot_pb2,
    task_pb2,
    trajectory_pb2,
    variable_pb2,
    workspace_pb2,
)
from ostrel import kinematics
from ostrel.catalog import ROBOT_JOINTS
from ostrel.kinematics import IDENTITY, Pose, compose, from_pose3, to_pose3
from ostrel.server import geometry
from ostrel.server.geometry import vector

DEFAULT_JOINT_VELOCITY = 1.0  # rad/s, where the project gives no motion limits
DEFAULT_JOINT_ACCELERATION = 2.0  # rad/s^2
MAX_PROPOSALS = 64

ERR_NAMES_NO = "the step names no %s"
ERR_NOT_IN_WORKSPACE = "%s '%s' is not in the workspace"
ERR_NOT_IN_VARIABLES = "%s '%s' %s not in the project's variables"
ERR_NOT_A_TOOL = "tool '%s' is not a tool frame of robot '%s'"
ERR_NO_MODEL = "%s '%s' names no model"
ERR_NOT_A_MARKER = "fiducial '%s' is not a visual marker"
ERR_NO_CONTROLLER = "the controller of robot '%s' is not initialized"
ERR_NO_PERCEPTION = "perception is not initialized"
ERR_UNIFORM = "%s: uniform bounds of %d and %d entries"
ERR_GAUSSIAN = "%s: gaussian of %d means and %d variances"
ERR_NO_DISTRIBUTION = "%s has no distribution"
ERR_CYCLE = "target generator '%s' refers to itself (%s)"
ERR_JOINT_COUNT = "%s gives %d %s positions for a robot of %d"
ERR_NO_MIXTURE = "%s mixes no target generators"
ERR_WEIGHTS = "%s has weights %s for %d target generators"
ERR_NOT_FINITE = "%s gives a position that is not a finite number: %s"
ERR_EMPTY_GENERATOR = "%s is empty"


class Controller(TypedDict):
    tool: str
    time_s: float


class StepFailed(Exception):
    """A step that cannot be carried out; the text says why."""


def _named(key: str, what: str) -> None:
    if not key:
        raise StepFailed(ERR_NAMES_NO % what)


class Cell:
    """The simulated state of one work cell, built from a pushed project.

    The cell reads the project it is given and never changes it. Steps run
    holding `lock`, and `snapshot` takes the same lock, so the state can be
    read while a program runs; the agents' latest products are kept
    serialized, so reading them costs no copy under the lock.
    """

    def __init__(self, project: project_pb2.ProjectSnapshot) -> None:
        self.project = project
        self.config = project.workspace.config
        self.variables = project.variables
        self.state = workspace_pb2.WorkspaceState()
        self.state.CopyFrom(project.workspace.state)
        self.linkages = workspace_pb2.WorkspaceLinkages()
        self.linkages.CopyFrom(project.workspace.linkages)
        self.controllers: Dict[str, Controller] = {}  # by robot key
        self.perception_on = False
        self.latest: Dict[str, bytes] = {}  # "images", "perception", ... -> the agent's last products, serialized
        self.lock = threading.RLock()
        for key in sorted(self.config.robots):
            self.follow(key)

    def snapshot(self) -> Tuple[bytes, Dict[str, bytes]]:
        """(serialized workspace state, serialized latest products by agent)."""
        with self.lock:
            return self.state.SerializeToString(), dict(self.latest)

    def publish(self, kind: str, products: bytes) -> None:
        """Keep serialized products as the latest of their agent."""
        with self.lock:
            self.latest[kind] = products

    # Lookups that name the missing key -------------------------------------

    def robot(self, key: str) -> robot_pb2.RobotConfig:
        _named(key, "robot")
        if key not in self.config.robots:
            raise StepFailed(ERR_NOT_IN_WORKSPACE % ("robot", key))
        return self.config.robots[key]

    def tool(self, robot_key: str, tool: str) -> robot_pb2.RobotConfig:
        robot = self.robot(robot_key)
        if tool and tool not in robot.tool_frames:
            raise StepFailed(ERR_NOT_A_TOOL % (tool, robot_key))
        return robot

    def effector(self, key: str) -> str:
        """The model of the effector."""
        _named(key, "effector")
        if key not in self.config.effectors:
            raise StepFailed(ERR_NOT_IN_WORKSPACE % ("effector", key))
        model = self.config.effectors[key].WhichOneof("type")
        if model is None:
            raise StepFailed(ERR_NO_MODEL % ("effector", key))
        return model

    def item(self, key: str) -> None:
        _named(key, "item")
        if key not in self.config.items:
            raise StepFailed(ERR_NOT_IN_WORKSPACE % ("item", key))

    def camera(self, key: str) -> camera_pb2.CameraConfig:
        _named(key, "camera")
        if key not in self.config.cameras:
            raise StepFailed(ERR_NOT_IN_WORKSPACE % ("camera", key))
        return self.config.cameras[key]

    def marker(self, key: str) -> fiducial_pb2.VisualMarker:
        if key not in self.config.fiducials:
            raise StepFailed(ERR_NOT_IN_WORKSPACE % ("marker", key))
        fiducial = self.config.fiducials[key]
        if not fiducial.HasField("visual_marker"):
            raise StepFailed(ERR_NOT_A_MARKER % key)
        return fiducial.visual_marker

    def task_region(self, key: str) -> task_pb2.TaskRegionConfig:
        _named(key, "task region")
        if key not in self.config.task_regions:
            raise StepFailed(ERR_NOT_IN_WORKSPACE % ("task region", key))
        return self.config.task_regions[key]

    def motion_limits(self, key: str) -> Optional[variable_pb2.MotionLimits]:
        if not key:
            return None
        if key not in self.variables.motion_limits:
            raise StepFailed(ERR_NOT_IN_VARIABLES % ("motion limits", key, "are"))
        return self.variables.motion_limits[key]

    def generator(self, key: str) -> variable_pb2.TargetGenerator:
        if key not in self.variables.target_generators:
            raise StepFailed(ERR_NOT_IN_VARIABLES % ("target generator", key, "is"))
        return self.variables.target_generators[key]

    def dof(self, key: str) -> int:
        robot = self.robot(key)
        model = robot.WhichOneof("type")
        if model is None:
            raise StepFailed(ERR_NO_MODEL % ("robot", key))
        if model == "custom_robot":
            return len(robot.custom_robot.dof_names)
        return len(ROBOT_JOINTS[model])

    def joints(self, key: str, dof: int) -> List[float]:
        if key in self.state.robots:
            q = list(self.state.robots[key].joint_positions.data)
            if len(q) == dof:
                return q
        return [0.0] * dof

    def controller(self, key: str) -> Controller:
        if key not in self.controllers:
            raise StepFailed(ERR_NO_CONTROLLER % key)
        return self.controllers[key]

    def require_perception(self) -> None:
        if not self.perception_on:
            raise StepFailed(ERR_NO_PERCEPTION)

    def owner(self, effector: str) -> str:
        """The robot that carries the effector, '' when none does."""
        for key in sorted(self.config.robots):
            if self.config.robots[key].effector == effector:
                return key
        return ""

    @staticmethod
    def pose_of(states: Union["containers.MessageMap[str, camera_pb2.CameraState]",
                              "containers.MessageMap[str, fiducial_pb2.FiducialState]",
                              "containers.MessageMap[str, task_pb2.TaskRegionState]"],
                key: str) -> Pose:
        """The base pose of a camera, fiducial or task region in the state,
        identity when it has none."""
        return from_pose3(states[key].base_pose) if key in states else IDENTITY

    # Where a robot's effector and held items are ------------------------------

    def active_tool(self, robot_key: str) -> str:
        """The tool frame the robot's controller works with ("" is the flange)."""
        controller = self.controllers.get(robot_key)
        return controller["tool"] if controller is not None else ""

    def tool_in_world(self, robot_key: str, tool: str) -> Optional[Pose]:
        """The robot's tool frame (its flange for "") in the world, None when
        the robot has no chain to place it on."""
        base = self.state.robots[robot_key].base_pose if robot_key in self.state.robots else None
        try:
            local = kinematics.tool_pose(self.config.robots[robot_key],
                                         self.joints(robot_key, self.dof(robot_key)), tool)
        except (ValueError, StepFailed):
            return None
        return local if base is None else compose(from_pose3(base), local)

    def follow(self, robot_key: str) -> None:
        """Puts the robot's effector at its flange, and the items the
        effector holds at the effector's pose composed with their grasp offsets."""
        effector = self.config.robots[robot_key].effector
        if not effector or self.owner(effector) != robot_key:
            return
        flange = self.tool_in_world(robot_key, "")
        if flange is None:
            return
        if effector in self.config.effectors:
            self.state.effectors[effector].base_pose.CopyFrom(to_pose3(flange))
        for item, linkage in self.linkages.grasped_items.items():
            if linkage.effector == effector:
                pose = compose(flange, from_pose3(linkage.effector_to_item))
                self.state.items[item].base_pose.CopyFrom(to_pose3(pose))

    # Target generators ------------------------------------------------------

    def _draw(self, distribution: probability_pb2.Distribution, what: str, rng: random.Random) -> List[float]:
        kind = distribution.WhichOneof("type")
        if kind == "deterministic":
            return list(distribution.deterministic.data)
        if kind == "uniform":
            lower, upper = distribution.uniform.lower.data, distribution.uniform.upper.data
            if len(lower) != len(upper):
                raise StepFailed(ERR_UNIFORM % (what, len(lower), len(upper)))
            return [rng.uniform(lo, hi) for lo, hi in zip(lower, upper)]
        if kind == "gaussian":
            mean, var = distribution.gaussian.mean.data, distribution.gaussian.variance.data
            if len(mean) != len(var):
                raise StepFailed(ERR_GAUSSIAN % (what, len(mean), len(var)))
            return [rng.gauss(m, math.sqrt(max(v, 0.0))) for m, v in zip(mean, var)]
        raise StepFailed(ERR_NO_DISTRIBUTION % what)

    def _region_pose(self, generator: variable_pb2.PoseGenerator, rng: random.Random) -> math_pb2.Pose3:
        region = self.task_region(generator.task_region)
        lo, hi = region.min.linear, region.max.linear
        bounds = zip((lo.x, lo.y, lo.z), (hi.x, hi.y, hi.z))
        if generator.sample:
            local = [rng.uniform(a, b) for a, b in bounds]
        else:
            local = [(a + b) / 2.0 for a, b in bounds]
        pose = compose(from_pose3(region.pose), Pose((local[0], local[1], local[2]), IDENTITY.q))
        return to_pose3(compose(pose, from_pose3(generator.offset_pose)))

    def _mixed(self, key: str, mixture: variable_pb2.MixtureTarget, rng: random.Random) -> str:
        """The member of a mixture drawn by its weights."""
        what = "target generator '%s'" % key
        names, weights = list(mixture.target_generators), list(mixture.weights)
        if not names:
            raise StepFailed(ERR_NO_MIXTURE % what)
        for name in names:
            self.generator(name)
        if not weights:
            weights = [1.0] * len(names)
        total = sum(weights)
        if len(weights) != len(names) or not math.isfinite(total) or total <= 0 or min(weights) < 0:
            raise StepFailed(ERR_WEIGHTS % (what, weights, len(names)))
        return rng.choices(names, weights=weights)[0]

    def _resolved(self, key: str, rng: random.Random) -> Tuple[str, variable_pb2.TargetGenerator]:
        """The generator that gives the target: `key`, or for a mixture the
        member drawn, followed down nested mixtures (in a loop, so that any
        depth of nesting is followed)."""
        path: List[str] = []
        seen: Set[str] = set()
        while True:
            if key in seen:
                raise StepFailed(ERR_CYCLE % (key, " -> ".join(path + [key])))
            seen.add(key)
            path.append(key)
            generator = self.generator(key)
            if generator.WhichOneof("type") != "mixture_target":
                return key, generator
            key = self._mixed(key, generator.mixture_target, rng)

    def _proposal(self, key: str, dof: int, q0: List[float], rng: random.Random) -> planning_pb2.Target:
        key, generator = self._resolved(key, rng)
        kind = generator.WhichOneof("type")
        what = "target generator '%s'" % key
        if kind == "joint_position_target":
            joint_target = generator.joint_position_target
            q = self._draw(joint_target.joint_positions, what, rng)
            if len(q) != dof:
                raise StepFailed(ERR_JOINT_COUNT % (what, len(q), "joint", dof))
            if not all(math.isfinite(v) for v in q):
                raise StepFailed(ERR_NOT_FINITE % (what, q))
            if joint_target.wrap_rotations:
                q = [geometry.wrap(v) for v in q]
            travel = geometry.norm([b - a for a, b in zip(q0, q)])
            return planning_pb2.Target(position=vector(q), reachable=True, l2_joint_travel=travel)
        if kind == "task_region_target":
            region_target = generator.task_region_target
            pose = self._region_pose(region_target.pose_generator, rng)
            seed = q0
            if region_target.HasField("seed_joint_positions"):
                seed = self._draw(region_target.seed_joint_positions, what, rng)
                if len(seed) != dof:
                    raise StepFailed(ERR_JOINT_COUNT % (what, len(seed), "seed", dof))
            # Without inverse kinematics the seed stands in for the position.
            return planning_pb2.Target(position=vector(seed), pose=pose, reachable=False)
        raise StepFailed(ERR_EMPTY_GENERATOR % what)

    def proposals(self, keys: List[str], count: int, dof: int, q0: List[float],
                  rng: random.Random) -> List[planning_pb2.Target]:
        """`count` targets (1 to MAX_PROPOSALS) drawn from the generators in turn."""
        if not keys:
            raise StepFailed(ERR_NAMES_NO % "target generator")
        for key in keys:
            self.generator(key)
        count = min(max(count, 1), MAX_PROPOSALS)
        return [self._proposal(keys[i % len(keys)], dof, q0, rng) for i in range(count)]

    # Trajectories -------------------------------------------------------------

    @staticmethod
    def _limits(values: Iterable[float], dof: int, default: float) -> List[float]:
        given = list(values)
        if len(given) != dof:
            return [default] * dof
        return [v if v > 0 else default for v in given]

    def trajectory(self, q0: List[float], q1: List[float],
                   limits: Optional[variable_pb2.MotionLimits]) -> Tuple[trajectory_pb2.Trajectory, float]:
        """The smooth trajectory from q0 to q1 within the motion limits (or
        the defaults), and its duration in seconds."""
        dof = len(q0)
        vmax = self._limits(limits.joint_velocity.data if limits else (), dof, DEFAULT_JOINT_VELOCITY)
        amax = self._limits(limits.joint_acceleration.data if limits else (), dof, DEFAULT_JOINT_ACCELERATION)
        return geometry.smooth_trajectory(q0, q1, vmax, amax)
