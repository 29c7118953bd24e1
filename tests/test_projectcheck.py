"""Projects checked before the server takes them: each dangling name is
refused at push with the JSON path of the field that holds it, the same
line as `ostrel check` gives offline; an empty project needs an explicit
request (`ostrel push --allow-empty`)."""

import pytest
from google.protobuf import json_format

from ostrel.cli import commands as cli

from ostrel.api import common_pb2 as C
from ostrel.api import project_pb2
from ostrel.api import service_pb2 as S
from ostrel.protocol import metadata
from ostrel.protocol import project_names as projectcheck
from test_server_cli import (CONTROLLER, OPEN, PERCEPTION, SAMPLE, START, Cell, goto, ostrel, sample_project, sequence,
                             with_behavior)

GENERIC = S.GenericRequest()
PROBE = "behaviors.probe.sequence_routine.behaviors[%d]."


def steps(*probe):
    """The sample project with a behavior 'probe': a recording, `probe`, an open gripper."""
    return lambda: with_behavior("probe", sequence(START, *probe, OPEN))


def changed(**parts):
    """The sample project with `parts` (JSON-like) merged into its workspace or variables."""
    def make():
        project = sample_project()
        project.MergeFrom(json_format.ParseDict(parts, project_pb2.ProjectSnapshot()))
        return project
    return make


def edited(edit):
    """The sample project changed in place by `edit`."""
    def make():
        project = sample_project()
        edit(project)
        return project
    return make


def renamed_behavior():
    return with_behavior("pick.v2", sequence({"initialize_controller": {"robot": "ur10e"}}))


BROKEN = [  # name, project, the problem's path, words of the problem
    ("robot", steps(CONTROLLER, goto(robot="ur10e")), PROBE % 2 + "goto_target_positions.robot",
     ["robot 'ur10e'", "workspace.config.robots"]),
    ("tool", steps(CONTROLLER, goto(tool="screwdriver")), PROBE % 2 + "goto_target_positions.tool",
     ["tool frame 'screwdriver'", "workspace.config.robots.ur5e.tool_frames"]),
    ("motion limits", steps(CONTROLLER, goto(motion_limits="turbo")), PROBE % 2 + "goto_target_positions.motion_limits",
     ["motion limits 'turbo'", "variables.motion_limits"]),
    ("generator", steps(CONTROLLER, goto(target_generators=["home", "nowhere"])),
     PROBE % 2 + "goto_target_positions.target_generators[1]", ["target generator 'nowhere'"]),
    ("no generator", steps(goto(target_generators=[])), PROBE % 1 + "goto_target_positions.target_generators",
     ["names no target generator"]),
    ("effector", steps({"close_gripper": {"effector": "franka_hand"}}), PROBE % 1 + "close_gripper.effector",
     ["effector 'franka_hand'", "workspace.config.effectors"]),
    ("no robot", steps({"initialize_controller": {}}), PROBE % 1 + "initialize_controller.robot", ["names no robot"]),
    ("item", steps({"attach_item_to_tool": {"item": "cup", "robot": "ur5e"}}), PROBE % 1 + "attach_item_to_tool.item",
     ["item 'cup'", "workspace.config.items"]),
    ("camera", steps(PERCEPTION, {"calibrate_camera_from_markers": {"camera": "d405", "markers": ["marker_0"]}}),
     PROBE % 2 + "calibrate_camera_from_markers.camera", ["camera 'd405'"]),
    ("marker", steps(PERCEPTION, {"calibrate_camera_from_markers": {"camera": "d435i",
                                                                    "markers": ["marker_0", "marker_9"]}}),
     PROBE % 2 + "calibrate_camera_from_markers.markers[1]", ["marker 'marker_9'", "workspace.config.fiducials"]),
    ("task region", steps({"perspective_crop_image": {"camera": "d435i", "task_region": "shelf"}}),
     PROBE % 1 + "perspective_crop_image.task_region", ["task region 'shelf'"]),
    ("nested", steps({"repeat_routine": {"behavior": sequence(OPEN, {"open_gripper": {"effector": "x"}})}}),
     PROBE % 1 + "repeat_routine.behavior.sequence_routine.behaviors[1].open_gripper.effector", ["effector 'x'"]),
    ("odd key", renamed_behavior, 'behaviors["pick.v2"].sequence_routine.behaviors[0].initialize_controller.robot',
     ["robot 'ur10e'"]),
    ("mixture", changed(variables={"target_generators": {"mixed": {"mixture_target": {
        "target_generators": ["home", "ghost"]}}}}),
     "variables.target_generators.mixed.mixture_target.target_generators[1]", ["target generator 'ghost'"]),
    ("pose region", changed(variables={"target_generators": {"far": {"task_region_target": {
        "pose_generator": {"task_region": "far_region"}}}}}),
     "variables.target_generators.far.task_region_target.pose_generator.task_region", ["task region 'far_region'"]),
    ("robot's effector", edited(lambda p: setattr(p.workspace.config.robots["ur5e"], "effector", "hand")),
     "workspace.config.robots.ur5e.effector", ["effector 'hand'"]),
    ("item's region", edited(lambda p: p.workspace.config.items["desk"].task_regions.append("shelf")),
     "workspace.config.items.desk.task_regions[2]", ["task region 'shelf'"]),
    ("state only", changed(workspace={"state": {"robots": {"ur10e": {}}}}), "workspace.state.robots.ur10e",
     ["robot 'ur10e' has a state but no configuration"]),
    ("grasped", changed(workspace={"linkages": {"grasped_items": {"cup": {"effector": "gripper"}}}}),
     "workspace.linkages.grasped_items.cup", ["item 'cup'"]),
    # Numbers the cell cannot simulate: every NaN or infinity, wherever it stands.
    ("NaN joint target", edited(lambda p: p.variables.target_generators["home"].joint_position_target
                                .joint_positions.deterministic.data.__setitem__(2, float("nan"))),
     "variables.target_generators.home.joint_position_target.joint_positions.deterministic.data[2]",
     ["nan is not a finite number"]),
    ("infinite weight", changed(variables={"target_generators": {"place": {"mixture_target": {
        "weights": ["Infinity"]}}}}), "variables.target_generators.place.mixture_target.weights[0]", ["inf"]),
    ("NaN pose", changed(workspace={"state": {"items": {"part": {"base_pose": {"qw": "NaN"}}}}}),
     "workspace.state.items.part.base_pose.qw", ["nan is not a finite number"]),
    ("infinite tool frame", changed(workspace={"config": {"robots": {"ur5e": {"tool_frames": {"gripper_tcp": {
        "flange_to_tool": {"position": {"z": "-Infinity"}}}}}}}}),
     "workspace.config.robots.ur5e.tool_frames.gripper_tcp.flange_to_tool.position.z", ["-inf"]),
    ("infinite sleep", steps({"sleep_routine": {"duration_s": "Infinity"}}),
     PROBE % 1 + "sleep_routine.duration_s", ["inf is not a finite number"]),
    ("NaN uniform bound", edited(lambda p: p.variables.target_generators["place_left"].joint_position_target
                                 .joint_positions.uniform.upper.data.__setitem__(0, float("nan"))),
     "variables.target_generators.place_left.joint_position_target.joint_positions.uniform.upper.data[0]", ["nan"]),
    ("not a marker", changed(workspace={"config": {"fiducials": {"plain": {}}}},
                             behaviors={"probe": {"calibrate_camera_from_markers": {"camera": "d435i",
                                                                                    "markers": ["plain"]}}}),
     "behaviors.probe.calibrate_camera_from_markers.markers[0]", ["fiducial 'plain'", "not a visual marker"]),
]


@pytest.fixture(scope="module")
def cell(tmp_path_factory):
    c = Cell(tmp_path_factory.mktemp("check") / "check.sqlite3")
    c.push(sample_project())
    yield c
    c.stop()


@pytest.mark.parametrize("make, path, words", [row[1:] for row in BROKEN], ids=[row[0] for row in BROKEN])
def test_each_dangling_name_is_refused_at_push_naming_its_path(cell, capsys, tmp_path, make, path, words):
    project = make()
    [problem] = projectcheck.problems(project)
    assert problem.startswith(path + ": ") and all(w in problem for w in words), problem
    status = cell.stub.pushProjectSnapshot(project)
    assert status.code == C.FAILURE and status.message == "the project has 1 problem: " + problem
    assert cell.stub.pullProjectSnapshot(GENERIC) == sample_project()  # the current project stays
    file = tmp_path / "broken.json"
    file.write_text(json_format.MessageToJson(project, preserving_proto_field_name=True))
    assert check(capsys, str(file)) == (cli.EXIT_FAILURE, "%s: %s\n" % (file, problem), "")


def check(capsys, *argv):
    code = cli.main(["check", *argv])
    out, err = capsys.readouterr()
    return code, out, err


def test_check_passes_the_sample_offline_and_lists_every_problem(capsys, tmp_path, fresh):
    code, out, err = check(capsys, str(SAMPLE))
    assert (code, err) == (0, "") and out == "%s: no problems (3 behaviors)\n" % SAMPLE
    fresh("""
        import sys
        from ostrel.cli import main
        assert main(["check", %r]) == 0
        assert "grpc" not in sys.modules  # offline, and cheap to start
    """ % str(SAMPLE))
    many = sample_project()
    many.workspace.config.robots["ur5e"].effector = "hand"
    many.workspace.state.items["cup"].SetInParent()
    file = tmp_path / "many.json"
    file.write_text(json_format.MessageToJson(many))  # camelCase names read as well
    code, out, _ = check(capsys, str(file))
    assert code == cli.EXIT_FAILURE and [line.split(": ")[1] for line in out.splitlines()] == [
        "workspace.config.robots.ur5e.effector", "workspace.state.items.cup"]
    (tmp_path / "empty.json").write_text("{}")
    code, out, _ = check(capsys, str(tmp_path / "empty.json"))
    assert code == cli.EXIT_FAILURE and "--allow-empty" in out and out.count("\n") == 1
    assert check(capsys, str(tmp_path / "empty.json"), "--allow-empty")[0] == 0
    code, out, err = check(capsys, str(tmp_path / "missing.json"))
    assert code == cli.EXIT_ERROR and out == "" and "cannot read" in err


def test_numbers_that_are_not_finite_are_named_up_to_a_bound_then_counted():
    project = sample_project()
    project.variables.target_generators["home"].joint_position_target.joint_positions.deterministic.data[:] = [
        float("nan")] * (projectcheck.MAX_NOT_FINITE + 7)
    found = projectcheck.problems(project)
    base = "variables.target_generators.home.joint_position_target.joint_positions.deterministic.data"
    assert [p.split(": ")[0] for p in found] == ["%s[%d]" % (base, i) for i in range(projectcheck.MAX_NOT_FINITE + 1)]
    assert found[-1].endswith("this and 6 more numbers after it are not finite")


def test_many_problems_are_listed_up_to_a_few_then_counted(cell):
    project = sample_project()
    for i in range(8):
        json_format.ParseDict(sequence({"open_gripper": {"effector": "e%d" % i}}), project.behaviors["b%d" % i])
    found = projectcheck.problems(project)
    assert [p.split(":")[0] for p in found] == [
        "behaviors.b%d.sequence_routine.behaviors[0].open_gripper.effector" % i for i in range(8)]
    status = cell.stub.pushProjectSnapshot(project)
    assert status.code == C.FAILURE and status.message.startswith("the project has 8 problems: ")
    assert "'e4'" in status.message and "'e5'" not in status.message and status.message.endswith("and 3 more")
    assert "\n" not in status.message


@pytest.mark.parametrize("project", [project_pb2.ProjectSnapshot(),
                                     project_pb2.ProjectSnapshot(version="v", workspace={"config": {}})])
def test_an_empty_project_is_taken_only_when_asked_for(cell, project):
    status = cell.stub.pushProjectSnapshot(project)
    assert status.code == C.FAILURE and "--allow-empty" in status.message and "empty" in status.message
    assert cell.stub.pullProjectSnapshot(GENERIC) == sample_project()
    status = cell.stub.pushProjectSnapshot(project, metadata=[(metadata.ALLOW_EMPTY_METADATA, "1")])
    assert status.code == C.SUCCESS, status.message
    assert cell.stub.pullProjectSnapshot(GENERIC) == project
    cell.push(sample_project())


def test_push_command_sends_an_empty_project_only_with_allow_empty(cell, capsys, tmp_path):
    empty = tmp_path / "empty.json"
    empty.write_text("{}")
    code, out, err = ostrel(capsys, cell.target, "push", str(empty))
    assert code == cli.EXIT_FAILURE and out == "" and "--allow-empty" in err and err.count("\n") == 1
    assert cell.stub.pullProjectSnapshot(GENERIC) == sample_project()
    code, out, _ = ostrel(capsys, cell.target, "push", "--allow-empty", str(empty))
    assert code == 0 and out.startswith("SUCCESS")
    assert cell.stub.pullProjectSnapshot(GENERIC) == project_pb2.ProjectSnapshot()
    cell.push(sample_project())
