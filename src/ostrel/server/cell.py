"""A simulated work cell: checks each step against the project and answers
with the products that the step's agent would give.

There is no physics and no kinematics here. Joint-space targets are drawn
from the project's target generators and joined by smooth joint-space
trajectories; pose targets are reported as proposals and never claimed
reachable, since reaching a pose needs inverse kinematics.
"""

import math
import random
import threading
from typing import Any, Dict, Iterable, List, Optional, Sequence, Tuple, Type, TypedDict, TypeVar, Union

from google.protobuf import message as _message
from google.protobuf.internal import containers

from ostrel.api import (
    camera_pb2,
    control_pb2,
    data_pb2,
    execution_pb2,
    fiducial_pb2,
    image_pb2,
    linkage_pb2,
    math_pb2,
    motion_pb2,
    perception_pb2,
    planning_pb2,
    probability_pb2,
    project_pb2,
    robot_pb2,
    simulation_pb2,
    task_pb2,
    trajectory_pb2,
    variable_pb2,
    workspace_pb2,
)

Quaternion = Tuple[float, float, float, float]
Point = Tuple[float, float, float]
# What a step hands back: (kind, products) pairs, kind naming a member of
# ProductRecord.type, and the step's nominal duration in simulated seconds.
Product = Union[perception_pb2.ImagesProducts, perception_pb2.PerceptionProducts,
                planning_pb2.PlannerProducts, control_pb2.ControllerProducts,
                simulation_pb2.SimulatorProducts]
Products = List[Tuple[str, Product]]
StepResult = Tuple[Products, float]
ActionClass = Union[Type[perception_pb2.PerceptionAction], Type[planning_pb2.PlannerAction],
                    Type[control_pb2.ControllerAction], Type[simulation_pb2.SimulatorAction],
                    Type[data_pb2.DatalinkAction]]
_M = TypeVar("_M", bound=_message.Message)


class Controller(TypedDict):
    tool: str
    time_s: float


class StepFailed(Exception):
    """A step that cannot be carried out; the text says why."""


# Leaf step (member of Behavior.type) -> (agent, action message class).
AGENTS: Dict[str, Tuple[str, ActionClass]] = {}
for _case in ("initialize_perception", "shutdown_perception", "calibrate_camera_from_markers",
              "record_images", "perspective_crop_image"):
    AGENTS[_case] = ("perception", perception_pb2.PerceptionAction)
for _case in ("goto_target_positions", "screw_along_last_axis", "generate_target_poses"):
    AGENTS[_case] = ("planner", planning_pb2.PlannerAction)
for _case in ("initialize_controller", "shutdown_controller", "open_gripper", "close_gripper",
              "set_effector_positions"):
    AGENTS[_case] = ("controller", control_pb2.ControllerAction)
for _case in ("align_item_to_tool", "attach_item_to_tool", "detach_item_from_tool"):
    AGENTS[_case] = ("simulator", simulation_pb2.SimulatorAction)
for _case in ("start_recording_data", "stop_recording_data"):
    AGENTS[_case] = ("datalink", data_pb2.DatalinkAction)

ROBOT_DOF = {"franka_panda_robot": 7, "ur_3e_robot": 6, "ur_5e_robot": 6, "ur_10e_robot": 6}
# Effector model -> (open positions, closed positions, per-joint upper bound).
EFFECTOR_POSITIONS: Dict[str, Tuple[List[float], List[float], float]] = {
    "robotiq_gripper_2f85": ([0.0], [0.8], 0.8),
    "franka_hand": ([0.04, 0.04], [0.0, 0.0], 0.04),
}
DEFAULT_JOINT_VELOCITY = 1.0  # rad/s, where the project gives no motion limits
DEFAULT_JOINT_ACCELERATION = 2.0  # rad/s^2
TRAJECTORY_POINTS = 11
MAX_PROPOSALS = 64
MAX_CROP_PIXELS = 4096 * 4096
PREVIEW_DIVISOR = 20  # recorded images are previews at 1/20 of the camera's size
MAX_CAMERA_SIDE = 16384  # pixels of a camera's width or height
MAX_PREVIEW_BYTES = 16 * 1024 * 1024  # all cameras' previews of one record_images step
# Deepest nesting of messages, the outermost one counted, that the protobuf
# runtime parses by default (a recursion limit of 100 below the outermost).
MAX_READABLE_LEVELS = 101
# A record set nests the project two levels deeper (DataRecords, RecordSet),
# and the project nests each behavior two levels deeper (ProjectSnapshot, map entry).
MAX_BEHAVIOR_LEVELS = MAX_READABLE_LEVELS - 4
_GRADIENT = bytes(range(0, 256, 16))  # preview pixel (x, y) is 16 * (x + y) mod 256

TOO_DEEP = ("behavior '%s' nests its messages %d levels deep in the records, more than the %d "
            "that a client can read back (protobuf's recursion limit); flatten the tree")
CAMERA_TOO_LARGE = "camera '%s' has intrinsics of %d x %d pixels; at most %d x %d are supported"
PREVIEWS_TOO_LARGE = ("the cameras' previews come to %d bytes per record_images step, more than %d "
                      "(from camera '%s' on)")

# Nominal duration in seconds of steps that have no motion; scaled by the
# server's time scale like every wait.
NOMINAL_S = {
    "initialize_perception": 0.2, "shutdown_perception": 0.05,
    "calibrate_camera_from_markers": 0.3, "record_images": 0.1, "perspective_crop_image": 0.05,
    "generate_target_poses": 0.05, "initialize_controller": 0.2, "shutdown_controller": 0.05,
    "open_gripper": 0.5, "close_gripper": 0.5, "set_effector_positions": 0.5,
    "align_item_to_tool": 0.02, "attach_item_to_tool": 0.02, "detach_item_from_tool": 0.02,
}


def preview_size(intrinsics: Any) -> Tuple[int, int]:
    return (max(1, intrinsics.width // PREVIEW_DIVISOR), max(1, intrinsics.height // PREVIEW_DIVISOR))


def preview_pixels(width: int, height: int) -> bytes:
    """A mono8 gradient, built a row at a time from one repeated pattern."""
    base = _GRADIENT * (width // len(_GRADIENT) + 2)
    period = len(_GRADIENT)
    rows = [base[y:y + width] for y in range(period)]
    return b"".join(rows[y % period] for y in range(height))


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
    """Why the cell refuses a project, or None: sizes that would make a
    step allocate without bound, trees deeper than a client can read back."""
    for name in sorted(project.behaviors):
        levels = message_levels(project.behaviors[name])
        if levels > MAX_BEHAVIOR_LEVELS:
            return TOO_DEEP % (name, levels + 4, MAX_READABLE_LEVELS)
    total = 0
    cameras = project.workspace.config.cameras
    for key in sorted(cameras):
        k = cameras[key].intrinsics
        if k.width > MAX_CAMERA_SIDE or k.height > MAX_CAMERA_SIDE:
            return CAMERA_TOO_LARGE % (key, k.width, k.height, MAX_CAMERA_SIDE, MAX_CAMERA_SIDE)
        width, height = preview_size(k)
        total += width * height
        if total > MAX_PREVIEW_BYTES:
            return PREVIEWS_TOO_LARGE % (total, MAX_PREVIEW_BYTES, key)
    return None


# Small geometry on Pose3 messages -------------------------------------------

def copy_of(message: _M) -> _M:
    copy = type(message)()
    copy.CopyFrom(message)
    return copy


def _quat(pose: math_pb2.Pose3) -> Quaternion:
    w, x, y, z = pose.qw, pose.qx, pose.qy, pose.qz
    n = math.sqrt(w * w + x * x + y * y + z * z)
    return (1.0, 0.0, 0.0, 0.0) if n == 0.0 else (w / n, x / n, y / n, z / n)


def _qmul(a: Quaternion, b: Quaternion) -> Quaternion:
    aw, ax, ay, az = a
    bw, bx, by, bz = b
    return (aw * bw - ax * bx - ay * by - az * bz,
            aw * bx + ax * bw + ay * bz - az * by,
            aw * by - ax * bz + ay * bw + az * bx,
            aw * bz + ax * by - ay * bx + az * bw)


def _rotate(q: Quaternion, v: Sequence[float]) -> Point:
    vx, vy, vz = v
    _, x, y, z = _qmul(_qmul(q, (0.0, vx, vy, vz)), (q[0], -q[1], -q[2], -q[3]))
    return (x, y, z)


def _vec(v: math_pb2.Vector3) -> Point:
    return (v.x, v.y, v.z)


def _compose(a: math_pb2.Pose3, b: math_pb2.Pose3) -> math_pb2.Pose3:
    """The pose b given in the frame of pose a, expressed in a's parent frame."""
    qa = _quat(a)
    p = tuple(pa + pb for pa, pb in zip(_vec(a.position), _rotate(qa, _vec(b.position))))
    q = _qmul(qa, _quat(b))
    return math_pb2.Pose3(position=math_pb2.Vector3(x=p[0], y=p[1], z=p[2]),
                          qw=q[0], qx=q[1], qy=q[2], qz=q[3])


def _inverse_point(pose: math_pb2.Pose3, point: Point) -> Point:
    """A point of pose's parent frame, expressed in the frame of pose."""
    q = _quat(pose)
    d = tuple(c - p for c, p in zip(point, _vec(pose.position)))
    return _rotate((q[0], -q[1], -q[2], -q[3]), d)


def _translation(x: float, y: float, z: float) -> math_pb2.Pose3:
    return math_pb2.Pose3(position=math_pb2.Vector3(x=x, y=y, z=z), qw=1.0)


def _vector(values: Iterable[float]) -> math_pb2.VectorX:
    return math_pb2.VectorX(data=list(values))


def _norm(values: Iterable[float]) -> float:
    return math.sqrt(sum(v * v for v in values))


def _wrap(angle: float) -> float:
    return math.atan2(math.sin(angle), math.cos(angle))


class Cell:
    """The simulated state of one work cell, built from a pushed project.

    The cell reads the project it is given and never changes it. `execute`
    runs one leaf step of a behavior tree. It holds `lock` while it changes
    the cell, and `snapshot` takes the same lock, so the state can be read
    while a program runs; the agents' latest products are kept serialized,
    so reading them costs no copy under the lock.
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

    # Reading --------------------------------------------------------------

    def snapshot(self) -> Tuple[bytes, Dict[str, bytes]]:
        """(serialized workspace state, serialized latest products by agent)."""
        with self.lock:
            return self.state.SerializeToString(), dict(self.latest)

    def publish(self, kind: str, products: bytes) -> None:
        """Keep serialized products as the latest of their agent."""
        with self.lock:
            self.latest[kind] = products

    # Steps ------------------------------------------------------------------

    def execute(self, case: str, step: _message.Message, rng: random.Random) -> StepResult:
        """Carry out one leaf step.

        Returns (products, nominal_s): a list of (kind, message) with kind one
        of the members of ProductRecord.type, and the step's duration in
        simulated seconds. Raises StepFailed when the step cannot be done.
        """
        with self.lock:
            result: StepResult = getattr(self, "_" + case)(step, rng)
            return result

    # Lookups that name the missing key -------------------------------------

    def _robot(self, key: str) -> robot_pb2.RobotConfig:
        if not key:
            raise StepFailed("the step names no robot")
        if key not in self.config.robots:
            raise StepFailed("robot '%s' is not in the workspace" % key)
        return self.config.robots[key]

    def _tool(self, robot_key: str, tool: str) -> robot_pb2.RobotConfig:
        robot = self._robot(robot_key)
        if tool and tool not in robot.tool_frames:
            raise StepFailed("tool '%s' is not a tool frame of robot '%s'" % (tool, robot_key))
        return robot

    def _effector(self, key: str) -> str:
        if not key:
            raise StepFailed("the step names no effector")
        if key not in self.config.effectors:
            raise StepFailed("effector '%s' is not in the workspace" % key)
        model = self.config.effectors[key].WhichOneof("type")
        if model is None:
            raise StepFailed("effector '%s' names no model" % key)
        return model

    def _item(self, key: str) -> None:
        if not key:
            raise StepFailed("the step names no item")
        if key not in self.config.items:
            raise StepFailed("item '%s' is not in the workspace" % key)

    def _camera(self, key: str) -> camera_pb2.CameraConfig:
        if not key:
            raise StepFailed("the step names no camera")
        if key not in self.config.cameras:
            raise StepFailed("camera '%s' is not in the workspace" % key)
        return self.config.cameras[key]

    def _marker(self, key: str) -> fiducial_pb2.VisualMarker:
        if key not in self.config.fiducials:
            raise StepFailed("marker '%s' is not in the workspace" % key)
        fiducial = self.config.fiducials[key]
        if not fiducial.HasField("visual_marker"):
            raise StepFailed("fiducial '%s' is not a visual marker" % key)
        return fiducial.visual_marker

    def _task_region(self, key: str) -> task_pb2.TaskRegionConfig:
        if not key:
            raise StepFailed("the step names no task region")
        if key not in self.config.task_regions:
            raise StepFailed("task region '%s' is not in the workspace" % key)
        return self.config.task_regions[key]

    def _motion_limits(self, key: str) -> Optional[variable_pb2.MotionLimits]:
        if not key:
            return None
        if key not in self.variables.motion_limits:
            raise StepFailed("motion limits '%s' are not in the project's variables" % key)
        return self.variables.motion_limits[key]

    def _generator(self, key: str) -> variable_pb2.TargetGenerator:
        if key not in self.variables.target_generators:
            raise StepFailed("target generator '%s' is not in the project's variables" % key)
        return self.variables.target_generators[key]

    def _dof(self, key: str) -> int:
        robot = self._robot(key)
        model = robot.WhichOneof("type")
        if model is None:
            raise StepFailed("robot '%s' names no model" % key)
        if model == "custom_robot":
            return len(robot.custom_robot.dof_names)
        return ROBOT_DOF[model]

    def _joints(self, key: str, dof: int) -> List[float]:
        if key in self.state.robots:
            q = list(self.state.robots[key].joint_positions.data)
            if len(q) == dof:
                return q
        return [0.0] * dof

    def _controller(self, key: str) -> Controller:
        if key not in self.controllers:
            raise StepFailed("the controller of robot '%s' is not initialized" % key)
        return self.controllers[key]

    def _require_perception(self) -> None:
        if not self.perception_on:
            raise StepFailed("perception is not initialized")

    # Target generators ------------------------------------------------------

    def _draw(self, distribution: probability_pb2.Distribution, what: str, rng: random.Random) -> List[float]:
        kind = distribution.WhichOneof("type")
        if kind == "deterministic":
            return list(distribution.deterministic.data)
        if kind == "uniform":
            lower, upper = distribution.uniform.lower.data, distribution.uniform.upper.data
            if len(lower) != len(upper):
                raise StepFailed("%s: uniform bounds of %d and %d entries" % (what, len(lower), len(upper)))
            return [rng.uniform(lo, hi) for lo, hi in zip(lower, upper)]
        if kind == "gaussian":
            mean, var = distribution.gaussian.mean.data, distribution.gaussian.variance.data
            if len(mean) != len(var):
                raise StepFailed("%s: gaussian of %d means and %d variances" % (what, len(mean), len(var)))
            return [rng.gauss(m, math.sqrt(max(v, 0.0))) for m, v in zip(mean, var)]
        raise StepFailed("%s has no distribution" % what)

    def _region_pose(self, generator: variable_pb2.PoseGenerator, rng: random.Random) -> math_pb2.Pose3:
        region = self._task_region(generator.task_region)
        lo, hi = region.min.linear, region.max.linear
        if generator.sample:
            local = [rng.uniform(a, b) for a, b in zip(_vec(lo), _vec(hi))]
        else:
            local = [(a + b) / 2.0 for a, b in zip(_vec(lo), _vec(hi))]
        pose = _compose(region.pose, _translation(local[0], local[1], local[2]))
        return _compose(pose, generator.offset_pose)

    def _proposal(self, key: str, dof: int, q0: List[float], rng: random.Random,
                  chain: Tuple[str, ...] = ()) -> planning_pb2.Target:
        if key in chain:
            raise StepFailed("target generator '%s' refers to itself (%s)" % (key, " -> ".join(chain + (key,))))
        generator = self._generator(key)
        kind = generator.WhichOneof("type")
        what = "target generator '%s'" % key
        if kind == "joint_position_target":
            joint_target = generator.joint_position_target
            q = self._draw(joint_target.joint_positions, what, rng)
            if len(q) != dof:
                raise StepFailed("%s gives %d joint positions for a robot of %d" % (what, len(q), dof))
            if joint_target.wrap_rotations:
                q = [_wrap(v) for v in q]
            travel = _norm([b - a for a, b in zip(q0, q)])
            return planning_pb2.Target(position=_vector(q), reachable=True, l2_joint_travel=travel)
        if kind == "task_region_target":
            region_target = generator.task_region_target
            pose = self._region_pose(region_target.pose_generator, rng)
            seed = q0
            if region_target.HasField("seed_joint_positions"):
                seed = self._draw(region_target.seed_joint_positions, what, rng)
                if len(seed) != dof:
                    raise StepFailed("%s gives %d seed positions for a robot of %d" % (what, len(seed), dof))
            # Without inverse kinematics the seed stands in for the position.
            return planning_pb2.Target(position=_vector(seed), pose=pose, reachable=False)
        if kind == "mixture_target":
            mixture = generator.mixture_target
            names, weights = list(mixture.target_generators), list(mixture.weights)
            if not names:
                raise StepFailed("%s mixes no target generators" % what)
            for name in names:
                self._generator(name)
            if not weights:
                weights = [1.0] * len(names)
            if len(weights) != len(names) or sum(weights) <= 0 or min(weights) < 0:
                raise StepFailed("%s has weights %s for %d target generators" % (what, weights, len(names)))
            chosen = rng.choices(names, weights=weights)[0]
            return self._proposal(chosen, dof, q0, rng, chain + (key,))
        raise StepFailed("%s is empty" % what)

    def _proposals(self, keys: List[str], count: int, dof: int, q0: List[float],
                   rng: random.Random) -> List[planning_pb2.Target]:
        if not keys:
            raise StepFailed("the step names no target generator")
        for key in keys:
            self._generator(key)
        count = min(max(count, 1), MAX_PROPOSALS)
        return [self._proposal(keys[i % len(keys)], dof, q0, rng) for i in range(count)]

    # Trajectories -------------------------------------------------------------

    @staticmethod
    def _limits(values: Iterable[float], dof: int, default: float) -> List[float]:
        given = list(values)
        if len(given) != dof:
            return [default] * dof
        return [v if v > 0 else default for v in given]

    def _trajectory(self, q0: List[float], q1: List[float],
                    limits: Optional[variable_pb2.MotionLimits]) -> Tuple[trajectory_pb2.Trajectory, float]:
        dof = len(q0)
        vmax = self._limits(limits.joint_velocity.data if limits else (), dof, DEFAULT_JOINT_VELOCITY)
        amax = self._limits(limits.joint_acceleration.data if limits else (), dof, DEFAULT_JOINT_ACCELERATION)
        dq = [b - a for a, b in zip(q0, q1)]
        # Smooth step s(u) = 3u^2 - 2u^3: peak speed 1.5 dq/T, peak acceleration 6 dq/T^2.
        duration = max([0.1] + [max(1.5 * abs(d) / v, math.sqrt(6.0 * abs(d) / a))
                                for d, v, a in zip(dq, vmax, amax)])
        trajectory = trajectory_pb2.Trajectory()
        for k in range(TRAJECTORY_POINTS):
            u = k / (TRAJECTORY_POINTS - 1)
            s, ds, dds = 3 * u * u - 2 * u ** 3, (6 * u - 6 * u * u) / duration, (6 - 12 * u) / duration ** 2
            joint = motion_pb2.JointState(
                positions=_vector(a + d * s for a, d in zip(q0, dq)),
                velocities=_vector(d * ds for d in dq),
                accelerations=_vector(d * dds for d in dq),
            )
            trajectory.time_s.append(u * duration)
            trajectory.reference.append(motion_pb2.State(joint=joint))
        return trajectory, duration

    @staticmethod
    def _check_termination(termination: execution_pb2.TerminationCriteria, duration: float) -> None:
        window = termination.timeout_window_s
        if window > 0 and duration > window:
            raise StepFailed("the motion takes %.2f s, longer than the timeout window of %.2f s"
                             % (duration, window))

    def _move(self, robot_key: str, q1: List[float], duration: float) -> control_pb2.ControllerProducts:
        """Put the robot at q1 and report it as the controller would."""
        controller = self.controllers[robot_key]
        controller["time_s"] += duration
        self.state.robots[robot_key].joint_positions.CopyFrom(_vector(q1))
        joint = motion_pb2.JointState(positions=_vector(q1), velocities=_vector([0.0] * len(q1)))
        return control_pb2.ControllerProducts(
            metrics=control_pb2.ControllerMetrics(), robot=robot_key, time_s=controller["time_s"],
            reference=motion_pb2.State(joint=joint), feedback=motion_pb2.State(joint=joint))

    # Planner ----------------------------------------------------------------

    def _goto_target_positions(self, step: execution_pb2.GotoTargetPositions, rng: random.Random) -> StepResult:
        self._tool(step.robot, step.tool)
        limits = self._motion_limits(step.motion_limits)
        dof = self._dof(step.robot)
        self._controller(step.robot)
        q0 = self._joints(step.robot, dof)
        proposals = self._proposals(list(step.target_generators), step.num_proposals, dof, q0, rng)
        candidates = [t for t in proposals if t.reachable]
        if not candidates:
            raise StepFailed(
                "none of %d proposals from %s is a joint-space target; pose targets need "
                "inverse kinematics, which this cell does not do"
                % (len(proposals), ", ".join("'%s'" % k for k in step.target_generators)))
        planned = [(t,) + self._trajectory(q0, list(t.position.data), limits) for t in candidates]
        if step.ranking == execution_pb2.RANDOM:
            rng.shuffle(planned)
        elif step.ranking == execution_pb2.MINIMUM_TIME:
            planned.sort(key=lambda p: p[2])
        else:  # tool-space rankings need kinematics; joint travel stands in for them
            planned.sort(key=lambda p: p[0].l2_joint_travel)
        target, trajectory, duration = planned[0]
        self._check_termination(step.termination, duration)
        products = planning_pb2.PlannerProducts(
            metrics=planning_pb2.PlannerMetrics(), robot=step.robot, tool=step.tool,
            target_proposals=[p[0] for p in planned] + [t for t in proposals if not t.reachable],
            trajectory=trajectory, trajectory_proposals=[p[1] for p in planned],
            interpolation=trajectory_pb2.JOINT)
        moved = self._move(step.robot, list(target.position.data), duration)
        return [("planner", products), ("controller", moved)], duration

    def _screw_along_last_axis(self, step: execution_pb2.ScrewAlongLastAxis, rng: random.Random) -> StepResult:
        self._tool(step.robot, step.tool)
        limits = self._motion_limits(step.motion_limits)
        dof = self._dof(step.robot)
        if dof == 0:
            raise StepFailed("robot '%s' has no joints" % step.robot)
        self._controller(step.robot)
        q0 = self._joints(step.robot, dof)
        turn = 2.0 * math.pi * step.num_rotations * (-1.0 if step.clockwise else 1.0)
        q1 = q0[:-1] + [q0[-1] + turn]
        trajectory, duration = self._trajectory(q0, q1, limits)
        self._check_termination(step.termination, duration)
        target = planning_pb2.Target(position=_vector(q1), reachable=True, l2_joint_travel=abs(turn))
        products = planning_pb2.PlannerProducts(
            metrics=planning_pb2.PlannerMetrics(), robot=step.robot, tool=step.tool,
            target_proposals=[target], trajectory=trajectory, trajectory_proposals=[trajectory],
            interpolation=trajectory_pb2.JOINT)
        return [("planner", products), ("controller", self._move(step.robot, q1, duration))], duration

    def _generate_target_poses(self, step: execution_pb2.GenerateTargetPoses, rng: random.Random) -> StepResult:
        self._tool(step.robot, step.tool)
        dof = self._dof(step.robot)
        if not step.target_generator:
            raise StepFailed("the step names no target generator")
        q0 = self._joints(step.robot, dof)
        proposals = self._proposals([step.target_generator], step.num_proposals, dof, q0, rng)
        products = planning_pb2.PlannerProducts(
            metrics=planning_pb2.PlannerMetrics(), robot=step.robot, tool=step.tool,
            target_proposals=proposals)
        return [("planner", products)], NOMINAL_S["generate_target_poses"]

    # Controller ---------------------------------------------------------------

    def _initialize_controller(self, step: execution_pb2.InitializeController, rng: random.Random) -> StepResult:
        self._tool(step.robot, step.tool)
        q = self._joints(step.robot, self._dof(step.robot))
        self.controllers[step.robot] = {"tool": step.tool, "time_s": 0.0}
        joint = motion_pb2.JointState(positions=_vector(q))
        products = control_pb2.ControllerProducts(
            metrics=control_pb2.ControllerMetrics(), robot=step.robot,
            reference=motion_pb2.State(joint=joint), feedback=motion_pb2.State(joint=joint))
        return [("controller", products)], NOMINAL_S["initialize_controller"]

    def _shutdown_controller(self, step: execution_pb2.ShutdownController, rng: random.Random) -> StepResult:
        products: Products = [("controller", control_pb2.ControllerProducts(
            metrics=control_pb2.ControllerMetrics(), robot=key, time_s=c["time_s"]))
            for key, c in sorted(self.controllers.items())]
        self.controllers.clear()
        return products, NOMINAL_S["shutdown_controller"]

    def _owner(self, effector: str) -> str:
        for key in sorted(self.config.robots):
            if self.config.robots[key].effector == effector:
                return key
        return ""

    def _set_gripper(self, key: str, positions: List[float]) -> control_pb2.ControllerProducts:
        self.state.effectors[key].joint_positions.CopyFrom(_vector(positions))
        state = motion_pb2.State(effector=motion_pb2.EffectorState(positions=_vector(positions)))
        return control_pb2.ControllerProducts(
            metrics=control_pb2.ControllerMetrics(), robot=self._owner(key),
            reference=state, feedback=state)

    def _open_gripper(self, step: execution_pb2.OpenGripper, rng: random.Random) -> StepResult:
        opened = EFFECTOR_POSITIONS[self._effector(step.effector)][0]
        return [("controller", self._set_gripper(step.effector, opened))], NOMINAL_S["open_gripper"]

    def _close_gripper(self, step: execution_pb2.CloseGripper, rng: random.Random) -> StepResult:
        closed = EFFECTOR_POSITIONS[self._effector(step.effector)][1]
        return [("controller", self._set_gripper(step.effector, closed))], NOMINAL_S["close_gripper"]

    def _set_effector_positions(self, step: execution_pb2.SetEffectorPositions, rng: random.Random) -> StepResult:
        model = self._effector(step.effector)
        opened, _, upper = EFFECTOR_POSITIONS[model]
        positions = list(step.positions.data)
        if len(positions) != len(opened):
            raise StepFailed("effector '%s' takes %d positions, the step gives %d"
                             % (step.effector, len(opened), len(positions)))
        for p in positions:
            if not 0.0 <= p <= upper:
                raise StepFailed("position %g is outside 0..%g of effector '%s'" % (p, upper, step.effector))
        return [("controller", self._set_gripper(step.effector, positions))], NOMINAL_S["set_effector_positions"]

    # Simulator ----------------------------------------------------------------

    def _simulator_products(self) -> simulation_pb2.SimulatorProducts:
        return simulation_pb2.SimulatorProducts(
            metrics=simulation_pb2.SimulatorMetrics(),
            workspace_state=self.state, workspace_linkages=self.linkages)

    def _align_item_to_tool(self, step: execution_pb2.AlignItemToTool, rng: random.Random) -> StepResult:
        self._item(step.item)
        self._tool(step.robot, step.tool)
        return [("simulator", self._simulator_products())], NOMINAL_S["align_item_to_tool"]

    def _holder(self, robot_key: str) -> str:
        effector = self._robot(robot_key).effector
        if not effector:
            raise StepFailed("robot '%s' has no effector" % robot_key)
        self._effector(effector)
        return effector

    def _attach_item_to_tool(self, step: execution_pb2.AttachItemToTool, rng: random.Random) -> StepResult:
        self._item(step.item)
        effector = self._holder(step.robot)
        if step.item in self.linkages.grasped_items:
            raise StepFailed("item '%s' is already held by effector '%s'"
                             % (step.item, self.linkages.grasped_items[step.item].effector))
        self.linkages.grasped_items[step.item].CopyFrom(linkage_pb2.GraspedItemLinkage(
            effector=effector, item=step.item, effector_to_item=math_pb2.Pose3(qw=1.0)))
        return [("simulator", self._simulator_products())], NOMINAL_S["attach_item_to_tool"]

    def _detach_item_from_tool(self, step: execution_pb2.DetachItemFromTool, rng: random.Random) -> StepResult:
        self._item(step.item)
        effector = self._holder(step.robot)
        held = self.linkages.grasped_items
        if step.item not in held or held[step.item].effector != effector:
            raise StepFailed("item '%s' is not held by robot '%s'" % (step.item, step.robot))
        del held[step.item]
        return [("simulator", self._simulator_products())], NOMINAL_S["detach_item_from_tool"]

    # Perception ---------------------------------------------------------------

    def _initialize_perception(self, step: execution_pb2.InitializePerception, rng: random.Random) -> StepResult:
        self.perception_on = True
        products = perception_pb2.PerceptionProducts(metrics=perception_pb2.PerceptionMetrics())
        return [("perception", products)], NOMINAL_S["initialize_perception"]

    def _shutdown_perception(self, step: execution_pb2.ShutdownPerception, rng: random.Random) -> StepResult:
        self.perception_on = False
        return [], NOMINAL_S["shutdown_perception"]

    def _pose_of(self, states: Union["containers.MessageMap[str, camera_pb2.CameraState]",
                                      "containers.MessageMap[str, fiducial_pb2.FiducialState]"],
                 key: str) -> math_pb2.Pose3:
        return states[key].base_pose if key in states else math_pb2.Pose3(qw=1.0)

    def _project_marker(self, camera_key: str, camera: camera_pb2.CameraConfig, marker_key: str,
                        marker: fiducial_pb2.VisualMarker) -> Optional[List[math_pb2.Vector2]]:
        """Image corners of a marker seen by a pinhole camera (z forward), or None."""
        k = camera.intrinsics
        if not (k.width and k.height and k.focal_length_x and k.focal_length_y):
            return None
        camera_pose = self._pose_of(self.state.cameras, camera_key)
        marker_pose = self._pose_of(self.state.fiducials, marker_key)
        h = marker.marker_length_m / 2.0
        corners: List[math_pb2.Vector2] = []
        for x, y in ((-h, h), (h, h), (h, -h), (-h, -h)):
            world = _vec(_compose(marker_pose, _translation(x, y, 0.0)).position)
            cx, cy, cz = _inverse_point(camera_pose, world)
            if cz <= 0.0:
                return None
            u = k.focal_length_x * cx / cz + k.optical_center_x
            v = k.focal_length_y * cy / cz + k.optical_center_y
            if not (0.0 <= u < k.width and 0.0 <= v < k.height):
                return None
            corners.append(math_pb2.Vector2(x=u, y=v))
        return corners

    def _calibrate_camera_from_markers(self, step: execution_pb2.CalibrateCameraFromMarkers,
                                       rng: random.Random) -> StepResult:
        self._require_perception()
        camera = self._camera(step.camera)
        if not step.markers:
            raise StepFailed("the step names no markers")
        markers = [(key, self._marker(key)) for key in step.markers]
        products = perception_pb2.PerceptionProducts(metrics=perception_pb2.PerceptionMetrics())
        for key, marker in markers:
            corners = self._project_marker(step.camera, camera, key, marker)
            if corners is not None:
                products.detected_markers.add(camera=step.camera, corners=corners, id=marker.tag_id)
        if not products.detected_markers:
            raise StepFailed("camera '%s' sees none of the markers %s"
                             % (step.camera, ", ".join("'%s'" % k for k, _ in markers)))
        products.camera_poses[step.camera].CopyFrom(self._pose_of(self.state.cameras, step.camera))
        return [("perception", products)], NOMINAL_S["calibrate_camera_from_markers"]

    def _record_images(self, step: execution_pb2.RecordImages, rng: random.Random) -> StepResult:
        self._require_perception()
        if not self.config.cameras:
            raise StepFailed("the workspace has no cameras")
        products = perception_pb2.ImagesProducts()
        for key in sorted(self.config.cameras):
            width, height = preview_size(self.config.cameras[key].intrinsics)
            products.images.add(camera=key, encoding="mono8", width=width, height=height,
                                step=width, data=preview_pixels(width, height))
        return [("images", products)], NOMINAL_S["record_images"]

    def _perspective_crop_image(self, step: execution_pb2.PerspectiveCropImage, rng: random.Random) -> StepResult:
        self._require_perception()
        self._camera(step.camera)
        self._task_region(step.task_region)
        if not step.width or not step.height:
            raise StepFailed("the crop has no size (width %d, height %d)" % (step.width, step.height))
        if step.width * step.height > MAX_CROP_PIXELS:
            raise StepFailed("the crop of %dx%d pixels is too large" % (step.width, step.height))
        image = image_pb2.Image(camera=step.camera, encoding="mono8", width=step.width,
                                height=step.height, step=step.width,
                                data=bytes(step.width * step.height))
        return [("images", perception_pb2.ImagesProducts(images=[image]))], NOMINAL_S["perspective_crop_image"]
