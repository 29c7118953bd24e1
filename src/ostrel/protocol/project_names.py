"""What a project must hold before the server takes it: every name that a
step, a robot, an item, a linkage or a target generator holds names
something the project has, every number is finite, the sizes stay within
what the cell and a client can handle, and an empty project is taken only
when asked for.

Each problem is one line that starts with the JSON path of the field at
fault, as the project file spells it (field names as in the schema).
The command line's `check` runs the same rules offline, so this module
imports no gRPC.
"""

import json
import math
import re
from typing import Any, Callable, Dict, Iterable, List, Mapping, Sequence, Tuple

from google.protobuf import descriptor as _descriptor
from google.protobuf import message as _message

from ostrel.api import execution_pb2, project_pb2
from ostrel.protocol.metadata import ALLOW_EMPTY_METADATA, ALLOW_EMPTY_VALUES
from ostrel.protocol.project_limits import check_project as check_limits

MAX_LISTED = 5  # problems a refusal names before it counts the rest

ERR_EMPTY = ("the project is empty (no behaviors and no workspace) and would replace the current one "
         "with nothing; ask for it explicitly (ostrel push --allow-empty, or the call metadata %s: 1)"
         % ALLOW_EMPTY_METADATA)
ERR_NOT_IN = "%s '%s' is not in %s"
ERR_NAMES_NONE = "names no %s"
ERR_NOT_A_MARKER = "fiducial '%s' in %s is not a visual marker"
ERR_NO_CONFIG = "%s '%s' has a state but no configuration in %s"
ERR_REFUSED = "the project has %d problem%s: %s"
ERR_MORE = "and %d more"
ERR_NOT_FINITE = "%r is not a finite number"
ERR_MORE_NOT_FINITE = "%s: this and %d more numbers after it are not finite"
MAX_NOT_FINITE = 20  # numbers named one by one; the rest are counted
_FLOATS = (_descriptor.FieldDescriptor.TYPE_FLOAT, _descriptor.FieldDescriptor.TYPE_DOUBLE)

_PLAIN_KEY = re.compile(r"[A-Za-z_][A-Za-z0-9_\-]*\Z")

Project = project_pb2.ProjectSnapshot
Lookup = Callable[[Project], Mapping[str, object]]

# What a name can point to: (what it is called, the JSON path of its map, the map).
ROBOT, EFFECTOR, ITEM, CAMERA, MARKER, TASK_REGION, MOTION_LIMITS, TARGET_GENERATOR, TOOL = (
    "robot", "effector", "item", "camera", "marker", "task region", "motion limits", "target generator",
    "tool")
TARGETS: Dict[str, Tuple[str, Lookup]] = {
    ROBOT: ("workspace.config.robots", lambda p: p.workspace.config.robots),
    EFFECTOR: ("workspace.config.effectors", lambda p: p.workspace.config.effectors),
    ITEM: ("workspace.config.items", lambda p: p.workspace.config.items),
    CAMERA: ("workspace.config.cameras", lambda p: p.workspace.config.cameras),
    MARKER: ("workspace.config.fiducials", lambda p: p.workspace.config.fiducials),
    TASK_REGION: ("workspace.config.task_regions", lambda p: p.workspace.config.task_regions),
    MOTION_LIMITS: ("variables.motion_limits", lambda p: p.variables.motion_limits),
    TARGET_GENERATOR: ("variables.target_generators", lambda p: p.variables.target_generators),
}

# The names that each kind of step holds: (field, what it names, whether the
# step needs one). A `tool` names a tool frame of the step's robot.
REQUIRED, OPTIONAL = True, False
STEP_NAMES: Dict[str, Tuple[Tuple[str, str, bool], ...]] = {
    "calibrate_camera_from_markers": (("camera", CAMERA, REQUIRED), ("markers", MARKER, REQUIRED)),
    "perspective_crop_image": (("camera", CAMERA, REQUIRED), ("task_region", TASK_REGION, REQUIRED)),
    "goto_target_positions": (("robot", ROBOT, REQUIRED), ("tool", TOOL, OPTIONAL),
                              ("motion_limits", MOTION_LIMITS, OPTIONAL),
                              ("target_generators", TARGET_GENERATOR, REQUIRED)),
    "screw_along_last_axis": (("robot", ROBOT, REQUIRED), ("tool", TOOL, OPTIONAL),
                              ("motion_limits", MOTION_LIMITS, OPTIONAL)),
    "generate_target_poses": (("robot", ROBOT, REQUIRED), ("tool", TOOL, OPTIONAL),
                              ("target_generator", TARGET_GENERATOR, REQUIRED)),
    "initialize_controller": (("robot", ROBOT, REQUIRED), ("tool", TOOL, OPTIONAL)),
    "open_gripper": (("effector", EFFECTOR, REQUIRED),),
    "close_gripper": (("effector", EFFECTOR, REQUIRED),),
    "set_effector_positions": (("effector", EFFECTOR, REQUIRED),),
    "align_item_to_tool": (("item", ITEM, REQUIRED), ("robot", ROBOT, REQUIRED), ("tool", TOOL, OPTIONAL)),
    "attach_item_to_tool": (("item", ITEM, REQUIRED), ("robot", ROBOT, REQUIRED)),
    "detach_item_from_tool": (("item", ITEM, REQUIRED), ("robot", ROBOT, REQUIRED)),
}

# Workspace maps whose state entries pair with a configuration under the same key.
PAIRED_KINDS = {"robots": ROBOT, "effectors": EFFECTOR, "items": ITEM, "cameras": CAMERA,
                "fiducials": MARKER, "task_regions": TASK_REGION}


def key_path(base: str, key: str) -> str:
    """The JSON path of a map entry: base.key, or base["key"] for a key
    that is not a plain name."""
    return "%s.%s" % (base, key) if _PLAIN_KEY.match(key) else "%s[%s]" % (base, json.dumps(key))


def is_empty(project: Project) -> bool:
    """No behaviors, and a workspace that configures nothing."""
    config = project.workspace.config
    return not project.behaviors and not any(len(getattr(config, field)) for field in PAIRED_KINDS)


def allows_empty(metadata: Iterable[Tuple[str, object]]) -> bool:
    """Whether call metadata asks the server to take an empty project."""
    return any(key.lower() == ALLOW_EMPTY_METADATA and str(value).strip().lower() in ALLOW_EMPTY_VALUES
               for key, value in metadata)


def problems(project: Project, allow_empty: bool = False) -> List[str]:
    """Every reason to refuse `project`, one line each; empty when it is fine."""
    if is_empty(project) and not allow_empty:
        return [ERR_EMPTY]
    limit = check_limits(project)
    found = [limit] if limit is not None else []
    return found + _Names(project).problems() + not_finite(project)


def _children(path: str, field: _descriptor.FieldDescriptor, value: Any) -> List[Tuple[str, Any]]:
    """The (JSON path, value) of each element of a field: itself, each of a
    repeated field's elements, each of a map's values by key."""
    if field.message_type is None and field.type not in _FLOATS:
        return []
    if field.message_type is not None and field.message_type.GetOptions().map_entry:
        return [(key_path(path, str(key)), value[key]) for key in sorted(value)]
    if isinstance(value, (_message.Message, float)):
        return [(path, value)]
    return [("%s[%d]" % (path, i), v) for i, v in enumerate(value)]


def not_finite(project: Project) -> List[str]:
    """A line for each NaN or infinite number of the project, by its JSON path.

    The walk keeps its own stack: a behavior tree may nest deeper than
    Python's recursion allows."""
    found: List[str] = []
    more: List[str] = []  # the first path not named, and one entry per number counted
    stack: List[Tuple[str, Any]] = [("", project)]
    while stack:
        path, message = stack.pop()
        children: List[Tuple[str, Any]] = []
        for field, value in message.ListFields():
            where = "%s.%s" % (path, field.name) if path else field.name
            for child_path, child in _children(where, field, value):
                if isinstance(child, _message.Message):
                    children.append((child_path, child))
                elif isinstance(child, float) and not math.isfinite(child):
                    if len(found) < MAX_NOT_FINITE:
                        found.append("%s: %s" % (child_path, ERR_NOT_FINITE % child))
                    else:
                        more.append(child_path if not more else "")
        stack.extend(reversed(children))
    if more:
        found.append(ERR_MORE_NOT_FINITE % (more[0], len(more) - 1))
    return found


def refusal(found: Sequence[str]) -> str:
    """One line for a push refused for `found` problems: the first few, then a count."""
    listed = list(found[:MAX_LISTED])
    if len(found) > MAX_LISTED:
        listed.append(ERR_MORE % (len(found) - MAX_LISTED))
    return ERR_REFUSED % (len(found), "" if len(found) == 1 else "s", "; ".join(listed))


class _Names:
    """Resolves every name of one project and collects what does not resolve."""

    def __init__(self, project: Project) -> None:
        self.project = project
        self.found: List[str] = []

    def problems(self) -> List[str]:
        for name in sorted(self.project.behaviors):
            self._tree(key_path("behaviors", name), self.project.behaviors[name])
        self._workspace()
        self._variables()
        return self.found

    def _name(self, path: str, kind: str, key: str, required: bool = REQUIRED, robot: str = "") -> None:
        """Checks one name held at `path`; `robot` is the robot a tool belongs to."""
        if not key:
            if required:
                self.found.append("%s: %s" % (path, ERR_NAMES_NONE % kind))
            return
        if kind == TOOL:
            robots = self.project.workspace.config.robots
            if robot in robots and key not in robots[robot].tool_frames:
                where = key_path(TARGETS[ROBOT][0], robot) + ".tool_frames"
                self.found.append("%s: %s" % (path, ERR_NOT_IN % ("tool frame", key, where)))
            return  # a missing robot is named at its own field
        where, lookup = TARGETS[kind]
        table = lookup(self.project)
        if key not in table:
            self.found.append("%s: %s" % (path, ERR_NOT_IN % (kind, key, where)))
        elif kind == MARKER and not self.project.workspace.config.fiducials[key].HasField("visual_marker"):
            self.found.append("%s: %s" % (path, ERR_NOT_A_MARKER % (key, where)))

    def _names(self, path: str, kind: str, keys: Sequence[str], required: bool) -> None:
        if not keys and required:
            self.found.append("%s: %s" % (path, ERR_NAMES_NONE % kind))
        for i, key in enumerate(keys):
            self._name("%s[%d]" % (path, i), kind, key)

    def _tree(self, path: str, root: execution_pb2.Behavior) -> None:
        # A stack, not recursion: a tree may be deeper than Python's recursion allows.
        stack = [(path, root)]
        while stack:
            path, node = stack.pop()
            case = node.WhichOneof("type")
            if case == "sequence_routine":
                children = node.sequence_routine.behaviors
                stack.extend(("%s.sequence_routine.behaviors[%d]" % (path, i), child)
                             for i, child in reversed(list(enumerate(children))))
            elif case == "repeat_routine" and node.repeat_routine.HasField("behavior"):
                stack.append((path + ".repeat_routine.behavior", node.repeat_routine.behavior))
            elif case in STEP_NAMES:
                self._step("%s.%s" % (path, case), getattr(node, case), STEP_NAMES[case])

    def _step(self, path: str, step: _message.Message, names: Tuple[Tuple[str, str, bool], ...]) -> None:
        robot = getattr(step, "robot", "")
        for field, kind, required in names:
            value = getattr(step, field)
            if isinstance(value, str):
                self._name("%s.%s" % (path, field), kind, value, required, robot)
            else:
                self._names("%s.%s" % (path, field), kind, list(value), required)

    def _workspace(self) -> None:
        workspace = self.project.workspace
        config = workspace.config
        for key in sorted(config.robots):
            self._name(key_path("workspace.config.robots", key) + ".effector", EFFECTOR,
                       config.robots[key].effector, OPTIONAL)
        for key in sorted(config.items):
            self._names(key_path("workspace.config.items", key) + ".task_regions", TASK_REGION,
                        list(config.items[key].task_regions), OPTIONAL)
        for field, kind in PAIRED_KINDS.items():
            for key in sorted(set(getattr(workspace.state, field)) - set(getattr(config, field))):
                self.found.append("%s: %s" % (key_path("workspace.state." + field, key),
                                              ERR_NO_CONFIG % (kind, key, "workspace.config." + field)))
        for key in sorted(workspace.linkages.grasped_items):
            path = key_path("workspace.linkages.grasped_items", key)
            self._name(path, ITEM, key)
            linkage = workspace.linkages.grasped_items[key]
            self._name(path + ".effector", EFFECTOR, linkage.effector, OPTIONAL)
            self._name(path + ".item", ITEM, linkage.item, OPTIONAL)

    def _variables(self) -> None:
        generators = self.project.variables.target_generators
        for key in sorted(generators):
            path = key_path("variables.target_generators", key)
            generator = generators[key]
            kind = generator.WhichOneof("type")
            if kind == "mixture_target":
                self._names(path + ".mixture_target.target_generators", TARGET_GENERATOR,
                            list(generator.mixture_target.target_generators), OPTIONAL)
            elif kind == "task_region_target":
                self._name(path + ".task_region_target.pose_generator.task_region", TASK_REGION,
                           generator.task_region_target.pose_generator.task_region)
