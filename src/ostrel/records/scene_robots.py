"""The moving part of the cell's scene (`ostrel.records.scene`): robots'
links from their chains and joint positions (`ostrel.kinematics`), the
effectors mounted on them, the items they hold, and every other frame that a
workspace state places."""

from typing import Any, Dict, List, NamedTuple, Optional, Sequence, Tuple

from ostrel import kinematics
from ostrel.api import dynamics_pb2, project_pb2, robot_pb2, workspace_pb2
from ostrel.kinematics import Pose
from ostrel.records import joint_rows, set_events
from ostrel.records import scene_parts as parts
from ostrel.records.scene_parts import WORLD_FRAME

Frame = Tuple[str, str, Pose]  # parent frame, child frame, the child's pose in its parent

ERR_CHAIN = "robot '%s': its chain cannot be placed (%s); its links are left out"
ERR_POSITIONS = "robot '%s': %s; its links are left where they were"

ROBOT_SIDES = ("reference", "feedback", "simulated")
EFFECTOR_SIDES = ("simulated",)


class Arm(NamedTuple):
    key: str
    config: robot_pb2.RobotConfig
    chain: dynamics_pb2.Chain
    flange: str  # the frame the tools and the mounted effector hang under
    roots: List[str]  # bodies that are no joint's child
    links: List[Tuple[str, str]]  # (parent body, child body) of each joint, in chain order
    plan: Optional[kinematics.Plan]  # the chain laid out once for placing; None when it cannot be
    plan_error: str  # why it cannot be, said when the arm is placed


def _arm(key: str, config: robot_pb2.RobotConfig) -> Optional[Arm]:
    chain = kinematics.robot_chain(config)
    if chain is None or not chain.bodies:
        return None
    children = {joint.child for joint in chain.joints}
    roots = [body.name for body in chain.bodies if body.name not in children]
    flange = kinematics.flange_body(config) or (roots[0] if roots else "")
    plan: Optional[kinematics.Plan] = None
    plan_error = ""
    try:
        plan = kinematics.plan_chain(chain)
    except ValueError as error:
        plan_error = str(error)
    return Arm(key, config, chain, parts.link_frame(key, flange), roots,
               [(joint.parent, joint.child) for joint in chain.joints], plan, plan_error)


def _state_pose(states: Any, key: str) -> Pose:
    return parts.pose_or_identity(states[key], "base_pose") if key in states else kinematics.IDENTITY


class Robots:
    def __init__(self, project: project_pb2.ProjectSnapshot, warn: set_events.Warn) -> None:
        self.project = project
        self.warn = warn
        config = project.workspace.config
        self.config = config
        self.arms: Dict[str, Arm] = {}
        for key in sorted(config.robots):
            try:
                arm = _arm(key, config.robots[key])
            except ValueError as error:
                warn(ERR_CHAIN % (key, error))
                continue
            if arm is not None:
                self.arms[key] = arm
        # Effector -> the arm it is mounted on (the robot that names it).
        self.mounts = {arm.config.effector: arm for arm in self.arms.values() if arm.config.effector}
        self.held: Dict[str, Pose] = {}  # item -> its pose in the frame of the effector holding it
        self.holders: Dict[str, str] = {}  # item -> effector
        self._bad: Dict[str, str] = {}  # robot -> the last error reported, so that each is said once
        self._joint_names: Dict[Tuple[str, int], List[str]] = {}  # (owner, count) -> names, from the project

    def joint_owners(self) -> List[Tuple[str, Sequence[str]]]:
        owners: List[Tuple[str, Sequence[str]]] = [(key, ROBOT_SIDES) for key in sorted(self.config.robots)]
        return owners + [(key, EFFECTOR_SIDES) for key in sorted(self.config.effectors)]

    def joint_names(self, owner: str, count: int) -> List[str]:
        """The owner's first `count` joint names, looked up in the project once per owner and count."""
        key = (owner, count)
        names = self._joint_names.get(key)
        if names is None:
            names = self._joint_names[key] = joint_rows.joint_names(self.project, owner, count)
        return names

    # Frames ---------------------------------------------------------------------------

    def static_frames(self) -> List[Frame]:
        frames: List[Frame] = []
        for key, arm in self.arms.items():
            frames += [(key, parts.link_frame(key, root), kinematics.IDENTITY) for root in arm.roots]
            tools = arm.config.tool_frames
            frames += [(arm.flange, parts.tool_frame(key, tool), parts.pose_or_identity(tools[tool], "flange_to_tool"))
                       for tool in sorted(tools)]
            if arm.config.effector:
                frames.append((arm.flange, arm.config.effector, kinematics.IDENTITY))
        return frames

    def place(self, key: str, positions: Sequence[float]) -> Optional[Dict[str, Pose]]:
        """The arm's bodies in its base frame at the joint positions; None (said once) when they do not fit."""
        arm = self.arms[key]
        try:
            if arm.plan is None:
                raise ValueError(arm.plan_error)
            poses = kinematics.placed(arm.plan, list(positions))
        except ValueError as error:
            text = str(error)
            if self._bad.get(key) != text:
                self._bad[key] = text
                self.warn(ERR_POSITIONS % (key, text))
            return None
        return poses

    def robot_frames(self, key: str, state: Any) -> List[Frame]:
        """A robot's base in the world and each link in its parent link."""
        frames: List[Frame] = [(WORLD_FRAME, key, parts.pose_or_identity(state, "base_pose"))]
        arm = self.arms.get(key)
        if arm is None:
            return frames
        poses = self.place(key, state.joint_positions.data)
        if poses is None:
            return frames
        for parent, child in arm.links:
            relative = kinematics.compose(kinematics.inverse(poses[parent]), poses[child])
            frames.append((parts.link_frame(key, parent), parts.link_frame(key, child), relative))
        return frames

    def moving_frames(self, state: workspace_pb2.WorkspaceState) -> List[Frame]:
        frames: List[Frame] = []
        for key in sorted(state.robots):
            frames += self.robot_frames(key, state.robots[key])
        frames += [(WORLD_FRAME, key, _state_pose(state.effectors, key))
                   for key in sorted(state.effectors) if key not in self.mounts]
        for key in sorted(state.items):
            holder = self.holders.get(key)
            frames.append((holder, key, self.held[key]) if holder is not None else (
                WORLD_FRAME, key, _state_pose(state.items, key)))
        for states in (state.cameras, state.fiducials):
            frames += [(WORLD_FRAME, key, _state_pose(states, key)) for key in sorted(states)]
        return frames

    def effector_pose(self, state: workspace_pb2.WorkspaceState, effector: str) -> Optional[Pose]:
        """Where a mounted effector is in the world in this state, None for one mounted on no arm."""
        arm = self.mounts.get(effector)
        if arm is None or arm.key not in state.robots:
            return None
        robot = state.robots[arm.key]
        poses = self.place(arm.key, robot.joint_positions.data)
        flange = arm.flange.split("/", 1)[1]
        if poses is None or flange not in poses:
            return None
        return kinematics.compose(parts.pose_or_identity(robot, "base_pose"), poses[flange])

    def hold(self, state: workspace_pb2.WorkspaceState, linkages: workspace_pb2.WorkspaceLinkages) -> None:
        """The items the linkages hold, each kept where the state puts it
        relative to the effector holding it until it is let go; the others free."""
        self.held, self.holders = {}, {}
        for item in sorted(linkages.grasped_items):
            linkage = linkages.grasped_items[item]
            effector = self.effector_pose(state, linkage.effector)
            if effector is None or item not in state.items:
                continue
            item_pose = _state_pose(state.items, item)
            self.held[item] = kinematics.compose(kinematics.inverse(effector), item_pose)
            self.holders[item] = linkage.effector

    # Entities -------------------------------------------------------------------------

    def entities(self, update: Any, t_ns: int) -> None:
        """Each arm as lines joint to joint, and its bodies' obstacle shapes."""
        for key, arm in self.arms.items():
            parts.link_lines(update, "robot/%s" % key, key, arm.chain, t_ns)
            for body in arm.chain.bodies:
                parts.body_entity(update, "robot/%s/%s/shape" % (key, body.name), parts.link_frame(key, body.name),
                                  body, body.name, t_ns, False)
