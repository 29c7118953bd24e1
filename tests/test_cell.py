"""The simulated cell's steps called directly, without a server: each case
names the step, and a failure says which step failed and why."""

import math
import random
from pathlib import Path

import pytest
from google.protobuf import json_format

from ostrel import kinematics
from ostrel.api import common_pb2, data_pb2, execution_pb2, math_pb2, project_pb2
from ostrel.server import runner, steps
from ostrel.server.cell import Cell, StepFailed
from ostrel.server.runner import ProgramRun
from ostrel.server.store import RecordStore

ROUTINES = {"repeat_routine", "sequence_routine", "sleep_routine"}


def project():
    p = project_pb2.ProjectSnapshot()
    config = p.workspace.config
    config.robots["arm"].ur_5e_robot.SetInParent()
    config.robots["arm"].effector = "grip"
    config.robots["arm"].tool_frames["tcp"].flange_to_tool.position.z = TCP_Z
    # The arm stands 1 m along x, turned a quarter turn about z.
    p.workspace.state.robots["arm"].base_pose.CopyFrom(
        math_pb2.Pose3(position=math_pb2.Vector3(x=1.0), qw=math.sqrt(0.5), qz=math.sqrt(0.5)))
    config.robots["bare"].ur_3e_robot.SetInParent()
    config.effectors["grip"].robotiq_gripper_2f85.SetInParent()
    config.items["box"].SetInParent()
    camera = config.cameras["cam"].intrinsics
    camera.width, camera.height = 640, 480
    camera.focal_length_x = camera.focal_length_y = 500.0
    camera.optical_center_x, camera.optical_center_y = 320.0, 240.0
    config.fiducials["ahead"].visual_marker.marker_length_m = 0.05
    config.fiducials["behind"].visual_marker.marker_length_m = 0.05
    p.workspace.state.fiducials["ahead"].base_pose.CopyFrom(math_pb2.Pose3(position=math_pb2.Vector3(z=1.0), qw=1.0))
    p.workspace.state.fiducials["behind"].base_pose.CopyFrom(
        math_pb2.Pose3(position=math_pb2.Vector3(z=-1.0), qw=1.0))
    generators = p.variables.target_generators
    generators["home"].joint_position_target.joint_positions.deterministic.data.extend([0.1] * 6)
    generators["far"].joint_position_target.joint_positions.deterministic.data.extend(FAR)
    generators["pose"].task_region_target.pose_generator.task_region = "table"
    huge = generators["huge"].joint_position_target.joint_positions.uniform
    huge.lower.data.extend([-1e308] * 6)
    huge.upper.data.extend([1e308] * 6)
    generators["heavy"].mixture_target.target_generators.extend(["home", "far"])
    generators["heavy"].mixture_target.weights.extend([1e308, 1e308])  # single precision: infinite
    config.task_regions["table"].pose.qw = 1.0
    return p


TCP_Z = 0.15
FAR = [0.6, -1.2, 1.3, -0.4, 0.9, 0.2]


def run(cell, case, **fields):
    message = getattr(execution_pb2.Behavior(), case).__class__(**fields)
    return steps.execute(cell, case, message, random.Random(1))


SETUP = {
    "perception": [("initialize_perception", {})],
    "controller": [("initialize_controller", {"robot": "arm"})],
    "attached": [("attach_item_to_tool", {"item": "box", "robot": "arm"})],
}

# (id, steps run first, the step, its fields, what its failure says)
FAILURES = [
    ("calibrate without perception", [], "calibrate_camera_from_markers", {"camera": "cam", "markers": ["ahead"]},
     "perception is not initialized"),
    ("calibrate on a marker out of sight", ["perception"], "calibrate_camera_from_markers",
     {"camera": "cam", "markers": ["behind"]}, "camera 'cam' sees none of the markers 'behind'"),
    ("calibrate on an unknown marker", ["perception"], "calibrate_camera_from_markers",
     {"camera": "cam", "markers": ["nowhere"]}, "marker 'nowhere' is not in the workspace"),
    ("goto without a controller", [], "goto_target_positions", {"robot": "arm", "target_generators": ["home"]},
     "the controller of robot 'arm' is not initialized"),
    ("goto without a joint-space plan", ["controller"], "goto_target_positions",
     {"robot": "arm", "target_generators": ["pose"]}, "none of 1 proposals from 'pose' is a joint-space target"),
    ("goto with no target generator", ["controller"], "goto_target_positions", {"robot": "arm"},
     "the step names no target generator"),
    ("detach with nothing attached", [], "detach_item_from_tool", {"item": "box", "robot": "arm"},
     "item 'box' is not held by robot 'arm'"),
    ("attach twice", ["attached"], "attach_item_to_tool", {"item": "box", "robot": "arm"},
     "item 'box' is already held by effector 'grip'"),
    ("attach to a robot without effector", [], "attach_item_to_tool", {"item": "box", "robot": "bare"},
     "robot 'bare' has no effector"),
    ("gripper of an unknown effector", [], "open_gripper", {"effector": "hand"},
     "effector 'hand' is not in the workspace"),
    ("goto to a draw that overflows", ["controller"], "goto_target_positions",
     {"robot": "arm", "target_generators": ["huge"]}, "target generator 'huge' gives a position that is not a finite"),
    ("goto by infinite weights", ["controller"], "goto_target_positions",
     {"robot": "arm", "target_generators": ["heavy"]}, "target generator 'heavy' has weights [inf, inf]"),
]


@pytest.mark.parametrize("setup, case, fields, text", [f[1:] for f in FAILURES], ids=[f[0] for f in FAILURES])
def test_a_failing_step_says_why(setup, case, fields, text):
    cell = Cell(project())
    for name in setup:
        for before, before_fields in SETUP[name]:
            run(cell, before, **before_fields)
    with pytest.raises(StepFailed) as failure:
        run(cell, case, **fields)
    assert str(failure.value).startswith(text), (case, str(failure.value))


def test_steps_change_the_cell_and_last_their_motion_or_nominal_time():
    cell = Cell(project())
    products, seconds = run(cell, "initialize_controller", robot="arm")
    assert [kind for kind, _ in products] == ["controller"] and seconds == steps.STEPS["initialize_controller"].nominal_s
    products, seconds = run(cell, "goto_target_positions", robot="arm", target_generators=["home"])
    assert [kind for kind, _ in products] == ["planner", "controller"]
    assert list(cell.state.robots["arm"].joint_positions.data) == pytest.approx([0.1] * 6)
    assert seconds == pytest.approx(products[0][1].trajectory.time_s[-1]) and seconds > 0
    run(cell, "attach_item_to_tool", item="box", robot="arm")
    assert cell.linkages.grasped_items["box"].effector == "grip"
    run(cell, "detach_item_from_tool", item="box", robot="arm")
    assert "box" not in cell.linkages.grasped_items
    run(cell, "initialize_perception")
    products, _ = run(cell, "calibrate_camera_from_markers", camera="cam", markers=["ahead", "behind"])
    (kind, perception), = products
    assert kind == "perception" and [m.id for m in perception.detected_markers] == [0]


def tool_in_world(cell, q, tool):
    """The robot's tool frame in the world, from its base pose and forward kinematics."""
    base = kinematics.from_pose3(cell.state.robots["arm"].base_pose)
    return kinematics.compose(base, kinematics.tool_pose(cell.config.robots["arm"], q, tool))


def simulated(products, item):
    """The item's pose in the simulator's products of a step."""
    [state] = [p.workspace_state for kind, p in products if kind == "simulator"]
    return kinematics.from_pose3(state.items[item].base_pose)


def assert_at(pose, expected, abs=1e-9):
    assert pose.p == pytest.approx(expected.p, abs=abs) and pose.q == pytest.approx(expected.q, abs=abs)


def test_a_held_item_follows_the_tool_from_attach_to_detach():
    cell = Cell(project())
    run(cell, "initialize_controller", robot="arm", tool="tcp")
    run(cell, "goto_target_positions", robot="arm", target_generators=["home"])
    attached = simulated(run(cell, "attach_item_to_tool", item="box", robot="arm")[0], "box")
    assert_at(attached, tool_in_world(cell, [0.1] * 6, "tcp"))
    run(cell, "goto_target_positions", robot="arm", target_generators=["far"])
    carried = kinematics.from_pose3(cell.state.items["box"].base_pose)
    assert_at(carried, tool_in_world(cell, FAR, "tcp"))
    assert math.dist(attached.p, carried.p) > 0.3
    effector = kinematics.from_pose3(cell.state.effectors["grip"].base_pose)
    assert_at(effector, tool_in_world(cell, FAR, ""))  # the gripper sits on the flange
    assert math.dist(effector.p, carried.p) == pytest.approx(TCP_Z)
    detached = simulated(run(cell, "detach_item_from_tool", item="box", robot="arm")[0], "box")
    assert_at(detached, carried)
    run(cell, "goto_target_positions", robot="arm", target_generators=["home"])
    assert_at(kinematics.from_pose3(cell.state.items["box"].base_pose), carried)  # left where it was put


# (id, steps before the item is held, steps after, the item's offset from the flange along z)
GRASPS = [
    ("taken at the working tool", [("initialize_controller", {"robot": "arm", "tool": "tcp"})], [], TCP_Z),
    ("taken at the flange without a tool", [], [], 0.0),
    ("aligned while held", [], [("align_item_to_tool", {"item": "box", "robot": "arm", "tool": "tcp"})], TCP_Z),
]


@pytest.mark.parametrize("before, after, offset", [g[1:] for g in GRASPS], ids=[g[0] for g in GRASPS])
def test_the_grasp_offset_places_the_item_on_the_tool(before, after, offset):
    cell = Cell(project())
    for case, fields in before + [("attach_item_to_tool", {"item": "box", "robot": "arm"})] + after:
        products, _ = run(cell, case, **fields)
    linkage = cell.linkages.grasped_items["box"]
    assert (linkage.effector_to_item.position.z, linkage.effector_to_item.qw) == (pytest.approx(offset), 1.0)
    flange = tool_in_world(cell, cell.joints("arm", 6), "")
    assert math.dist(simulated(products, "box").p, flange.p) == pytest.approx(offset)


def test_an_item_aligned_while_free_stands_at_the_tool():
    cell = Cell(project())
    products, _ = run(cell, "align_item_to_tool", item="box", robot="arm", tool="tcp")
    assert_at(simulated(products, "box"), tool_in_world(cell, [0.0] * 6, "tcp"))
    assert "box" not in cell.linkages.grasped_items


@pytest.mark.parametrize("close_with, failure", [("home", None), ("g0", "target generator 'g0' refers to itself")])
def test_target_mixtures_are_followed_to_any_depth(close_with, failure):
    p = project()
    generators = p.variables.target_generators
    for i in range(3000):  # deeper than Python's recursion limit
        generators["g%d" % i].mixture_target.target_generators.append("g%d" % (i + 1) if i < 2999 else close_with)
    cell = Cell(p)
    run(cell, "initialize_controller", robot="arm")
    if failure is None:
        run(cell, "goto_target_positions", robot="arm", target_generators=["g0"])
        assert list(cell.state.robots["arm"].joint_positions.data) == pytest.approx([0.1] * 6)
        return
    with pytest.raises(StepFailed) as raised:
        run(cell, "goto_target_positions", robot="arm", target_generators=["g0"])
    assert str(raised.value).startswith(failure) and str(raised.value).endswith("g2999 -> g0)")


TURN = (math.cos(0.25), 0.0, 0.0, math.sin(0.25))  # half a radian about the optical axis


@pytest.mark.parametrize("given, unit", [(TURN, TURN), (tuple(3.0 * c for c in TURN), TURN),
                                         ((0.0, 0.0, 0.0, 0.0), (1.0, 0.0, 0.0, 0.0))])
def test_calibration_reports_the_camera_pose_its_corners_come_from(given, unit):
    def calibrated(quaternion):
        p = project()
        w, x, y, z = quaternion
        p.workspace.state.cameras["cam"].base_pose.CopyFrom(math_pb2.Pose3(qw=w, qx=x, qy=y, qz=z))
        cell = Cell(p)
        run(cell, "initialize_perception")
        (_, products), = run(cell, "calibrate_camera_from_markers", camera="cam", markers=["ahead"])[0]
        return products
    reported, expected = calibrated(given), calibrated(unit)
    pose = reported.camera_poses["cam"]
    assert (pose.qw, pose.qx, pose.qy, pose.qz) == pytest.approx(unit, abs=1e-12)
    assert reported.detected_markers == expected.detected_markers


def broken_proposals(*args):
    raise RuntimeError("the planner lost its tables")


# (id, generator of the probe's goto, a fault put in the cell, the program's status, its last event's status)
FAILED_STEPS = [
    ("refused", "pose", None, "failed: step 'probe' (goto_target_positions): none of 1 proposals",
     "step 'probe' (goto_target_positions): none of 1 proposals"),
    ("broken down", "home", broken_proposals, "broke down: the planner lost its tables",
     "step 'probe' (goto_target_positions) broke down: the planner lost its tables"),
]


@pytest.mark.parametrize("generator, fault, program, event", [f[1:] for f in FAILED_STEPS],
                         ids=[f[0] for f in FAILED_STEPS])
def test_a_failing_step_is_recorded_as_a_failed_event(monkeypatch, tmp_path, generator, fault, program, event):
    if fault is not None:
        monkeypatch.setattr(Cell, "proposals", fault)
    tree = execution_pb2.Behavior()
    steps_of = tree.sequence_routine.behaviors
    steps_of.add().start_recording_data.description = "probe"
    steps_of.add().initialize_controller.robot = "arm"
    goto = steps_of.add(name="probe").goto_target_positions
    goto.robot, goto.target_generators[:] = "arm", [generator]
    store = RecordStore(tmp_path / "records.sqlite3")
    status = ProgramRun(Cell(project()), "b", tree, store, time_scale=0.0).run()
    assert status.code == common_pb2.FAILURE and program in status.message, status.message
    [record_set] = store.record_sets()
    last = record_set.events[-1]
    assert [e.name for e in record_set.events] == ["start_recording_data", "initialize_controller", "probe"]
    assert last.status[-1].code == common_pb2.FAILURE and last.status[-1].message.startswith(event)
    store.close()


def test_the_table_holds_every_leaf_step_with_its_action_message():
    leaves = {f.name for f in execution_pb2.Behavior.DESCRIPTOR.oneofs_by_name["type"].fields} - ROUTINES
    assert set(steps.STEPS) == leaves
    for case, step in steps.STEPS.items():
        assert case in step.action.DESCRIPTOR.fields_by_name, case  # the action message carries the step
        assert (step.handler is None) == (step.action is data_pb2.DatalinkAction), case


def test_the_datalink_steps_are_not_the_cells():
    with pytest.raises(ValueError, match="start_recording_data"):
        run(Cell(project()), "start_recording_data")


def test_status_codes_of_the_records_are_named_from_the_schema():
    from ostrel.protocol import statuses as view

    assert [view.status_name(c) for c in (common_pb2.RUNNING, common_pb2.FAILURE, 9)] == ["RUNNING", "FAILURE", "9"]


# The demo project, run in the cell --------------------------------------------------

DEMO = Path(__file__).resolve().parents[1] / "examples" / "pick_and_place.json"


def in_region(config, region, point, slack=1e-4):
    """Whether a world point lies in the task region's box (within slack metres)."""
    box = config.task_regions[region]
    local = kinematics.apply(kinematics.inverse(kinematics.from_pose3(box.pose)), point)
    low, high = box.min.linear, box.max.linear
    return all(lo - slack <= v <= hi + slack for v, lo, hi in zip(local, (low.x, low.y, low.z), (high.x, high.y, high.z)))


@pytest.mark.parametrize("weights", [[1.0, 0.0], [0.0, 1.0], [0.7, 0.3]], ids=["left", "right", "either"])
@pytest.mark.parametrize("seed", [1, 2])
def test_the_demo_takes_the_part_where_it_lies_and_puts_it_in_the_place_region(monkeypatch, tmp_path, weights, seed):
    demo = json_format.Parse(DEMO.read_text(), project_pb2.ProjectSnapshot())
    demo.variables.target_generators["place"].mixture_target.weights[:] = weights
    config, cell = demo.workspace.config, Cell(demo)
    robot = config.robots["ur5e"]
    home = demo.variables.target_generators["home"].joint_position_target.joint_positions.deterministic.data
    assert list(demo.workspace.state.robots["ur5e"].joint_positions.data) == list(home)
    assert_at(kinematics.from_pose3(demo.workspace.state.effectors[robot.effector].base_pose),
              kinematics.tool_pose(robot, home, ""), abs=1e-6)  # the gripper starts on home's flange

    def part():
        return kinematics.from_pose3(cell.state.items["part"].base_pose).p

    assert in_region(config, "pick_region", part())
    held = []  # (step, the part's position before it, after it)

    def watched(cell, case, step, rng):
        before = part()
        done = steps.execute(cell, case, step, rng)
        held.append((case, before, part()))
        return done

    monkeypatch.setattr(runner, "execute", watched)
    store = RecordStore(tmp_path / "records.sqlite3")
    status = ProgramRun(cell, "pick_and_place", demo.behaviors["pick_and_place"], store, time_scale=0.0, seed=seed).run()
    store.close()
    assert status.code == common_pb2.SUCCESS, status.message
    attaches = [(before, after) for case, before, after in held if case == "attach_item_to_tool"]
    detached = [after for case, _, after in held if case == "detach_item_from_tool"]
    assert attaches and len(detached) == len(attaches)
    for before, after in attaches:
        assert math.dist(before, after) < 1e-3, (before, after)
    for point in detached:
        assert in_region(config, "place_region", point), point
    assert in_region(config, "place_region", part()) and "part" not in cell.linkages.grasped_items
