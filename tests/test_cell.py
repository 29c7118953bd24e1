"""The simulated cell's steps called directly, without a server: each case
names the step, and a failure says which step failed and why."""

import random

import pytest

from ostrel.api import common_pb2, data_pb2, execution_pb2, math_pb2, project_pb2
from ostrel.server import steps
from ostrel.server.cell import Cell, StepFailed

ROUTINES = {"repeat_routine", "sequence_routine", "sleep_routine"}


def project():
    p = project_pb2.ProjectSnapshot()
    config = p.workspace.config
    config.robots["arm"].ur_5e_robot.SetInParent()
    config.robots["arm"].effector = "grip"
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
    generators["pose"].task_region_target.pose_generator.task_region = "table"
    config.task_regions["table"].pose.qw = 1.0
    return p


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
