"""The steps of a behavior tree, as one table: each leaf step's agent, the
action message that records it, its nominal duration, and the function that
carries it out in the simulated cell.

A handler checks the step against the project and the cell's state, changes
the state, and returns the products the step's agent would give: (kind,
message) pairs, kind naming a member of ProductRecord.type. A step that
moves a robot also returns how long the motion takes; any other step lasts
its nominal duration. StepFailed says why a step cannot be done.
"""

import math
import random
from typing import Any, Callable, Dict, List, NamedTuple, Optional, Tuple, Type, Union

from ostrel.api import (
    control_pb2,
    data_pb2,
    execution_pb2,
    image_pb2,
    linkage_pb2,
    motion_pb2,
    perception_pb2,
    planning_pb2,
    simulation_pb2,
    trajectory_pb2,
)
from ostrel import kinematics
from ostrel.kinematics import to_pose3
from ostrel.protocol.project_limits import preview_size
from ostrel.server.cell import Cell, StepFailed
from ostrel.server.geometry import vector
from ostrel.server.sight import crop_pixels, preview_pixels, project_marker

Product = Union[perception_pb2.ImagesProducts, perception_pb2.PerceptionProducts,
                planning_pb2.PlannerProducts, control_pb2.ControllerProducts,
                simulation_pb2.SimulatorProducts]
Products = List[Tuple[str, Product]]
# What a handler returns: the products, and the motion's duration in
# simulated seconds for a step that moves (None: the nominal duration).
Outcome = Tuple[Products, Optional[float]]
ActionClass = Union[Type[perception_pb2.PerceptionAction], Type[planning_pb2.PlannerAction],
                    Type[control_pb2.ControllerAction], Type[simulation_pb2.SimulatorAction],
                    Type[data_pb2.DatalinkAction]]
Handler = Callable[[Cell, Any, random.Random], Outcome]

# Effector model -> (open positions, closed positions, per-joint upper bound).
EFFECTOR_POSITIONS: Dict[str, Tuple[List[float], List[float], float]] = {
    "robotiq_gripper_2f85": ([0.0], [0.8], 0.8),
    "franka_hand": ([0.04, 0.04], [0.0, 0.0], 0.04),
}
MAX_CROP_PIXELS = 4096 * 4096

ERR_NO_JOINT_TARGET = ("none of %d proposals from %s is a joint-space target; pose targets need "
                       "inverse kinematics, which this cell does not do")
ERR_TIMEOUT_WINDOW = "the motion takes %.2f s, longer than the timeout window of %.2f s"
ERR_NO_JOINTS = "robot '%s' has no joints"
ERR_NO_GENERATOR = "the step names no target generator"
ERR_POSITION_COUNT = "effector '%s' takes %d positions, the step gives %d"
ERR_POSITION_RANGE = "position %g is outside 0..%g of effector '%s'"
ERR_NO_EFFECTOR = "robot '%s' has no effector"
ERR_ALREADY_HELD = "item '%s' is already held by effector '%s'"
ERR_NOT_HELD = "item '%s' is not held by robot '%s'"
ERR_NO_MARKERS = "the step names no markers"
ERR_SEES_NONE = "camera '%s' sees none of the markers %s"
ERR_NO_CAMERAS = "the workspace has no cameras"
ERR_CROP_EMPTY = "the crop has no size (width %d, height %d)"
ERR_CROP_LARGE = "the crop of %dx%d pixels is too large"
ERR_NOT_A_CELL_STEP = "step %s is carried out by the program run, not by the cell"


def _quoted(keys: Any) -> str:
    return ", ".join("'%s'" % k for k in keys)


# Motion -----------------------------------------------------------------------

def _check_termination(termination: execution_pb2.TerminationCriteria, duration: float) -> None:
    window = termination.timeout_window_s
    if window > 0 and duration > window:
        raise StepFailed(ERR_TIMEOUT_WINDOW % (duration, window))


def _move(cell: Cell, robot_key: str, q1: List[float], duration: float) -> control_pb2.ControllerProducts:
    """Put the robot at q1 and report it as the controller would."""
    controller = cell.controllers[robot_key]
    controller["time_s"] += duration
    cell.state.robots[robot_key].joint_positions.CopyFrom(vector(q1))
    cell.follow(robot_key)
    joint = motion_pb2.JointState(positions=vector(q1), velocities=vector([0.0] * len(q1)))
    return control_pb2.ControllerProducts(
        metrics=control_pb2.ControllerMetrics(), robot=robot_key, time_s=controller["time_s"],
        reference=motion_pb2.State(joint=joint), feedback=motion_pb2.State(joint=joint))


def _planned(robot: str, tool: str, **fields: Any) -> planning_pb2.PlannerProducts:
    return planning_pb2.PlannerProducts(metrics=planning_pb2.PlannerMetrics(), robot=robot, tool=tool, **fields)


# Planner ----------------------------------------------------------------------

def goto_target_positions(cell: Cell, step: execution_pb2.GotoTargetPositions, rng: random.Random) -> Outcome:
    cell.tool(step.robot, step.tool)
    limits = cell.motion_limits(step.motion_limits)
    dof = cell.dof(step.robot)
    cell.controller(step.robot)
    q0 = cell.joints(step.robot, dof)
    proposals = cell.proposals(list(step.target_generators), step.num_proposals, dof, q0, rng)
    candidates = [t for t in proposals if t.reachable]
    if not candidates:
        raise StepFailed(ERR_NO_JOINT_TARGET % (len(proposals), _quoted(step.target_generators)))
    planned = [(t,) + cell.trajectory(q0, list(t.position.data), limits) for t in candidates]
    if step.ranking == execution_pb2.RANDOM:
        rng.shuffle(planned)
    elif step.ranking == execution_pb2.MINIMUM_TIME:
        planned.sort(key=lambda p: p[2])
    else:  # tool-space rankings need kinematics; joint travel stands in for them
        planned.sort(key=lambda p: p[0].l2_joint_travel)
    target, trajectory, duration = planned[0]
    _check_termination(step.termination, duration)
    products = _planned(step.robot, step.tool,
                        target_proposals=[p[0] for p in planned] + [t for t in proposals if not t.reachable],
                        trajectory=trajectory, trajectory_proposals=[p[1] for p in planned],
                        interpolation=trajectory_pb2.JOINT)
    moved = _move(cell, step.robot, list(target.position.data), duration)
    return [("planner", products), ("controller", moved)], duration


def screw_along_last_axis(cell: Cell, step: execution_pb2.ScrewAlongLastAxis, rng: random.Random) -> Outcome:
    cell.tool(step.robot, step.tool)
    limits = cell.motion_limits(step.motion_limits)
    dof = cell.dof(step.robot)
    if dof == 0:
        raise StepFailed(ERR_NO_JOINTS % step.robot)
    cell.controller(step.robot)
    q0 = cell.joints(step.robot, dof)
    turn = 2.0 * math.pi * step.num_rotations * (-1.0 if step.clockwise else 1.0)
    q1 = q0[:-1] + [q0[-1] + turn]
    trajectory, duration = cell.trajectory(q0, q1, limits)
    _check_termination(step.termination, duration)
    target = planning_pb2.Target(position=vector(q1), reachable=True, l2_joint_travel=abs(turn))
    products = _planned(step.robot, step.tool, target_proposals=[target], trajectory=trajectory,
                        trajectory_proposals=[trajectory], interpolation=trajectory_pb2.JOINT)
    return [("planner", products), ("controller", _move(cell, step.robot, q1, duration))], duration


def generate_target_poses(cell: Cell, step: execution_pb2.GenerateTargetPoses, rng: random.Random) -> Outcome:
    cell.tool(step.robot, step.tool)
    dof = cell.dof(step.robot)
    if not step.target_generator:
        raise StepFailed(ERR_NO_GENERATOR)
    q0 = cell.joints(step.robot, dof)
    proposals = cell.proposals([step.target_generator], step.num_proposals, dof, q0, rng)
    return [("planner", _planned(step.robot, step.tool, target_proposals=proposals))], None


# Controller -------------------------------------------------------------------

def initialize_controller(cell: Cell, step: execution_pb2.InitializeController, rng: random.Random) -> Outcome:
    cell.tool(step.robot, step.tool)
    q = cell.joints(step.robot, cell.dof(step.robot))
    cell.controllers[step.robot] = {"tool": step.tool, "time_s": 0.0}
    joint = motion_pb2.JointState(positions=vector(q))
    products = control_pb2.ControllerProducts(
        metrics=control_pb2.ControllerMetrics(), robot=step.robot,
        reference=motion_pb2.State(joint=joint), feedback=motion_pb2.State(joint=joint))
    return [("controller", products)], None


def shutdown_controller(cell: Cell, step: execution_pb2.ShutdownController, rng: random.Random) -> Outcome:
    products: Products = [("controller", control_pb2.ControllerProducts(
        metrics=control_pb2.ControllerMetrics(), robot=key, time_s=c["time_s"]))
        for key, c in sorted(cell.controllers.items())]
    cell.controllers.clear()
    return products, None


def _set_gripper(cell: Cell, key: str, positions: List[float]) -> Products:
    cell.state.effectors[key].joint_positions.CopyFrom(vector(positions))
    state = motion_pb2.State(effector=motion_pb2.EffectorState(positions=vector(positions)))
    return [("controller", control_pb2.ControllerProducts(
        metrics=control_pb2.ControllerMetrics(), robot=cell.owner(key), reference=state, feedback=state))]


def open_gripper(cell: Cell, step: execution_pb2.OpenGripper, rng: random.Random) -> Outcome:
    return _set_gripper(cell, step.effector, EFFECTOR_POSITIONS[cell.effector(step.effector)][0]), None


def close_gripper(cell: Cell, step: execution_pb2.CloseGripper, rng: random.Random) -> Outcome:
    return _set_gripper(cell, step.effector, EFFECTOR_POSITIONS[cell.effector(step.effector)][1]), None


def set_effector_positions(cell: Cell, step: execution_pb2.SetEffectorPositions, rng: random.Random) -> Outcome:
    opened, _, upper = EFFECTOR_POSITIONS[cell.effector(step.effector)]
    positions = list(step.positions.data)
    if len(positions) != len(opened):
        raise StepFailed(ERR_POSITION_COUNT % (step.effector, len(opened), len(positions)))
    for p in positions:
        if not 0.0 <= p <= upper:
            raise StepFailed(ERR_POSITION_RANGE % (p, upper, step.effector))
    return _set_gripper(cell, step.effector, positions), None


# Simulator --------------------------------------------------------------------

def _simulated(cell: Cell) -> Products:
    return [("simulator", simulation_pb2.SimulatorProducts(
        metrics=simulation_pb2.SimulatorMetrics(), workspace_state=cell.state, workspace_linkages=cell.linkages))]


def _holder(cell: Cell, robot_key: str) -> str:
    effector = cell.robot(robot_key).effector
    if not effector:
        raise StepFailed(ERR_NO_EFFECTOR % robot_key)
    cell.effector(effector)
    return effector


def align_item_to_tool(cell: Cell, step: execution_pb2.AlignItemToTool, rng: random.Random) -> Outcome:
    """Puts the item at the tool frame; an item the robot holds keeps that
    place as its grasp offset."""
    cell.item(step.item)
    robot = cell.tool(step.robot, step.tool)
    held = cell.linkages.grasped_items
    if step.item in held:
        linkage = held[step.item]
        if linkage.effector != robot.effector:
            raise StepFailed(ERR_ALREADY_HELD % (step.item, linkage.effector))
        linkage.effector_to_item.CopyFrom(to_pose3(kinematics.tool_offset(robot, step.tool)))
        cell.follow(step.robot)
    else:
        pose = cell.tool_in_world(step.robot, step.tool)
        if pose is not None:
            cell.state.items[step.item].base_pose.CopyFrom(to_pose3(pose))
    return _simulated(cell), None


def attach_item_to_tool(cell: Cell, step: execution_pb2.AttachItemToTool, rng: random.Random) -> Outcome:
    cell.item(step.item)
    effector = _holder(cell, step.robot)
    held = cell.linkages.grasped_items
    if step.item in held:
        raise StepFailed(ERR_ALREADY_HELD % (step.item, held[step.item].effector))
    # The item is taken at the centre point of the tool the robot works with.
    offset = kinematics.tool_offset(cell.robot(step.robot), cell.active_tool(step.robot))
    held[step.item].CopyFrom(linkage_pb2.GraspedItemLinkage(
        effector=effector, item=step.item, effector_to_item=to_pose3(offset)))
    cell.follow(step.robot)
    return _simulated(cell), None


def detach_item_from_tool(cell: Cell, step: execution_pb2.DetachItemFromTool, rng: random.Random) -> Outcome:
    cell.item(step.item)
    effector = _holder(cell, step.robot)
    held = cell.linkages.grasped_items
    if step.item not in held or held[step.item].effector != effector:
        raise StepFailed(ERR_NOT_HELD % (step.item, step.robot))
    del held[step.item]
    return _simulated(cell), None


# Perception -------------------------------------------------------------------

def initialize_perception(cell: Cell, step: execution_pb2.InitializePerception, rng: random.Random) -> Outcome:
    cell.perception_on = True
    return [("perception", perception_pb2.PerceptionProducts(metrics=perception_pb2.PerceptionMetrics()))], None


def shutdown_perception(cell: Cell, step: execution_pb2.ShutdownPerception, rng: random.Random) -> Outcome:
    cell.perception_on = False
    return [], None


def calibrate_camera_from_markers(cell: Cell, step: execution_pb2.CalibrateCameraFromMarkers,
                                  rng: random.Random) -> Outcome:
    cell.require_perception()
    cell.camera(step.camera)
    if not step.markers:
        raise StepFailed(ERR_NO_MARKERS)
    markers = [(key, cell.marker(key)) for key in step.markers]
    products = perception_pb2.PerceptionProducts(metrics=perception_pb2.PerceptionMetrics())
    for key, marker in markers:
        corners = project_marker(cell, step.camera, key)
        if corners is not None:
            products.detected_markers.add(camera=step.camera, corners=corners, id=marker.tag_id)
    if not products.detected_markers:
        raise StepFailed(ERR_SEES_NONE % (step.camera, _quoted(k for k, _ in markers)))
    # The pose the corners were projected from: its quaternion of unit length.
    products.camera_poses[step.camera].CopyFrom(to_pose3(cell.pose_of(cell.state.cameras, step.camera)))
    return [("perception", products)], None


def record_images(cell: Cell, step: execution_pb2.RecordImages, rng: random.Random) -> Outcome:
    cell.require_perception()
    if not cell.config.cameras:
        raise StepFailed(ERR_NO_CAMERAS)
    products = perception_pb2.ImagesProducts()
    for key in sorted(cell.config.cameras):
        width, height = preview_size(cell.config.cameras[key].intrinsics)
        products.images.add(camera=key, encoding="mono8", width=width, height=height,
                            step=width, data=preview_pixels(cell, key, width, height))
    return [("images", products)], None


def perspective_crop_image(cell: Cell, step: execution_pb2.PerspectiveCropImage, rng: random.Random) -> Outcome:
    cell.require_perception()
    cell.camera(step.camera)
    cell.task_region(step.task_region)
    if not step.width or not step.height:
        raise StepFailed(ERR_CROP_EMPTY % (step.width, step.height))
    if step.width * step.height > MAX_CROP_PIXELS:
        raise StepFailed(ERR_CROP_LARGE % (step.width, step.height))
    image = image_pb2.Image(camera=step.camera, encoding="mono8", width=step.width, height=step.height,
                            step=step.width, data=crop_pixels(cell, step.task_region, step.width, step.height))
    return [("images", perception_pb2.ImagesProducts(images=[image]))], None


# The table ------------------------------------------------------------------

class Step(NamedTuple):
    agent: str
    action: ActionClass  # the action message that carries the step in the records
    nominal_s: float  # duration of a step that does not move, scaled like every wait
    handler: Optional[Handler]  # None: the datalink's steps, which the program run carries out


_PERCEPTION, _PLANNER, _CONTROLLER, _SIMULATOR, _DATALINK = (
    ("perception", perception_pb2.PerceptionAction), ("planner", planning_pb2.PlannerAction),
    ("controller", control_pb2.ControllerAction), ("simulator", simulation_pb2.SimulatorAction),
    ("datalink", data_pb2.DatalinkAction))

# Leaf step (member of Behavior.type) -> what it is and how it runs.
STEPS: Dict[str, Step] = {
    "initialize_perception": Step(*_PERCEPTION, 0.2, initialize_perception),
    "shutdown_perception": Step(*_PERCEPTION, 0.05, shutdown_perception),
    "calibrate_camera_from_markers": Step(*_PERCEPTION, 0.3, calibrate_camera_from_markers),
    "record_images": Step(*_PERCEPTION, 0.1, record_images),
    "perspective_crop_image": Step(*_PERCEPTION, 0.05, perspective_crop_image),
    "goto_target_positions": Step(*_PLANNER, 0.0, goto_target_positions),
    "screw_along_last_axis": Step(*_PLANNER, 0.0, screw_along_last_axis),
    "generate_target_poses": Step(*_PLANNER, 0.05, generate_target_poses),
    "initialize_controller": Step(*_CONTROLLER, 0.2, initialize_controller),
    "shutdown_controller": Step(*_CONTROLLER, 0.05, shutdown_controller),
    "open_gripper": Step(*_CONTROLLER, 0.5, open_gripper),
    "close_gripper": Step(*_CONTROLLER, 0.5, close_gripper),
    "set_effector_positions": Step(*_CONTROLLER, 0.5, set_effector_positions),
    "align_item_to_tool": Step(*_SIMULATOR, 0.02, align_item_to_tool),
    "attach_item_to_tool": Step(*_SIMULATOR, 0.02, attach_item_to_tool),
    "detach_item_from_tool": Step(*_SIMULATOR, 0.02, detach_item_from_tool),
    "start_recording_data": Step(*_DATALINK, 0.0, None),
    "stop_recording_data": Step(*_DATALINK, 0.0, None),
}


def execute(cell: Cell, case: str, step: Any, rng: random.Random) -> Tuple[Products, float]:
    """Carries out one leaf step in the cell, holding its lock: the products
    and the step's duration in simulated seconds. StepFailed when it cannot."""
    entry = STEPS[case]
    if entry.handler is None:
        raise ValueError(ERR_NOT_A_CELL_STEP % case)
    with cell.lock:
        products, moved_s = entry.handler(cell, step, rng)
    return products, entry.nominal_s if moved_s is None else moved_s
