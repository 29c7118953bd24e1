"""Readable text of what commands show: a project, the system state, a
time stamp. Their JSON is written by ostrel.protojson."""

from typing import Any

from ostrel.cli.calls import Api
from ostrel.terminal import shown


def _joints(vector: Any) -> str:
    return "[" + ", ".join("%.3f" % v for v in vector.data) + "]"


def describe_project(project: Any) -> str:
    config = project.workspace.config
    lines = ["project %s" % shown(project.version or "(no version)")]
    for label, keys in (("robots", config.robots), ("effectors", config.effectors), ("items", config.items),
                        ("cameras", config.cameras), ("fiducials", config.fiducials),
                        ("task regions", config.task_regions),
                        ("motion limits", project.variables.motion_limits),
                        ("target generators", project.variables.target_generators),
                        ("behaviors", project.behaviors)):
        lines.append("  %-18s %s" % (label + ":", shown(", ".join(sorted(keys))) or "-"))
    return "\n".join(lines)


def describe_state(api: Api, state: Any) -> str:
    lines = ["status: %s" % api.status_line(state.status)]
    workspace = state.workspace
    for key in sorted(workspace.robots):
        lines.append("  robot %s: joints %s" % (shown(key), _joints(workspace.robots[key].joint_positions)))
    for key in sorted(workspace.effectors):
        lines.append("  effector %s: positions %s" % (shown(key), _joints(workspace.effectors[key].joint_positions)))
    if state.HasField("planner"):
        planner = state.planner
        duration = planner.trajectory.time_s[-1] if planner.trajectory.time_s else 0.0
        lines.append("  planner: robot %s, %d target proposals, trajectory of %d points over %.2f s"
                     % (shown(planner.robot) or "-", len(planner.target_proposals),
                        len(planner.trajectory.reference), duration))
    if state.HasField("controller"):
        controller = state.controller
        lines.append("  controller: robot %s, time %.2f s%s"
                     % (shown(controller.robot) or "-", controller.time_s, ", FAULTED" if controller.faulted else ""))
    if state.HasField("perception"):
        perception = state.perception
        lines.append("  perception: %d detected markers, camera poses of %s"
                     % (len(perception.detected_markers), shown(", ".join(sorted(perception.camera_poses))) or "-"))
    if state.HasField("images"):
        lines.append("  images: %s" % (", ".join("%s %dx%d" % (shown(i.camera), i.width, i.height)
                                                 for i in state.images.images) or "-"))
    return "\n".join(lines)
