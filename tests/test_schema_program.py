"""Wire-level behaviour of the program-model, shape and agent message modules."""

import pytest

from ostrel.api import (
    dynamics_pb2,
    execution_pb2,
    material_pb2,
    motion_pb2,
    perception_pb2,
    planning_pb2,
    probability_pb2,
    project_pb2,
    shape_pb2,
    task_pb2,
    trajectory_pb2,
    variable_pb2,
)

Behavior = execution_pb2.Behavior


def build(cls, **members):
    """A message of `cls` whose listed members hold empty sub-messages or values."""
    msg = cls()
    for name, value in members.items():
        if value is None:
            getattr(msg, name).SetInParent()
        elif isinstance(value, list):
            getattr(msg, name).extend(value)
        else:
            setattr(msg, name, value)
    return msg


# --- exact wire bytes -------------------------------------------------------

# Behavior members from 100 up take two-byte tags; an empty step is tag + 0x00.
@pytest.mark.parametrize("member, wire", [
    ("sleep_routine", "2200"),
    ("initialize_perception", "a20600"),
    ("perspective_crop_image", "ca0600"),
    ("goto_target_positions", "c20c00"),
    ("set_effector_positions", "821300"),
    ("align_item_to_tool", "821900"),
    ("stop_recording_data", "aa1f00"),
])
def test_behavior_member_tags(member, wire):
    msg = build(Behavior, **{member: None})
    assert msg.SerializeToString().hex() == wire
    assert Behavior.FromString(bytes.fromhex(wire)).WhichOneof("type") == member


@pytest.mark.parametrize("cls, members, wire", [
    (perception_pb2.PerceptionAction, {"record_images": None}, "3a00"),
    (planning_pb2.PlannerAction, {"goto_target_positions": None}, "2200"),
    (planning_pb2.PlannerProducts, {"interpolation": trajectory_pb2.TOOL}, "3801"),
    (planning_pb2.PlannerProducts, {"interpolation": trajectory_pb2.JOINT}, ""),
    (perception_pb2.DetectedMarker, {"id": -1}, "18" + "ff" * 9 + "01"),
    (perception_pb2.PerceptionMetrics, {"step_duration_ns": 1_000_000}, "08c0843d"),
    (perception_pb2.PerceptionMetrics, {"step_duration_ns": 2**33}, "088080808020"),
    (dynamics_pb2.Joint, {"dof": dynamics_pb2.LINEAR_1DOF}, "2802"),
    (dynamics_pb2.Moments, {"xx": 1.0}, "0d0000803f"),
    (trajectory_pb2.Trajectory, {"time_s": [0.0, 0.5]}, "0a08000000000000003f"),
    (variable_pb2.MixtureTarget, {"weights": [0.25, 0.75]}, "12080000803e0000403f"),
], ids=lambda v: v.__name__ if isinstance(v, type) else "+".join(v) if isinstance(v, dict) else v)
def test_golden_bytes(cls, members, wire):
    msg = build(cls, **members)
    assert msg.SerializeToString().hex() == wire
    assert cls.FromString(bytes.fromhex(wire)) == msg


def test_cylinder_and_capsule_differ_only_by_case_number():
    cyl = shape_pb2.Primitive(cylinder=shape_pb2.Cylinder(radius=1.0, height=2.0))
    cap = shape_pb2.Primitive(capsule=shape_pb2.Capsule(radius=1.0, height=2.0))
    body = cyl.cylinder.SerializeToString()
    assert body == cap.capsule.SerializeToString()
    assert cyl.SerializeToString() == b"\x1a" + bytes([len(body)]) + body
    assert cap.SerializeToString() == b"\x22" + bytes([len(body)]) + body


# Repeated floats are written packed but must be accepted unpacked (tag 0d / 15).
@pytest.mark.parametrize("cls, field, unpacked, values", [
    (trajectory_pb2.Trajectory, "time_s", "0d00000000" "0d0000003f", [0.0, 0.5]),
    (variable_pb2.MixtureTarget, "weights", "150000803e" "150000403f", [0.25, 0.75]),
])
def test_unpacked_floats_parse_like_packed(cls, field, unpacked, values):
    parsed = cls.FromString(bytes.fromhex(unpacked))
    assert list(getattr(parsed, field)) == values
    assert parsed == build(cls, **{field: values})


# --- presence ---------------------------------------------------------------

@pytest.mark.parametrize("cls, field, wire", [
    (motion_pb2.State, "tool", "1200"),
    (task_pb2.TaskRegionConfig, "min", "1200"),
    (shape_pb2.Obstacle, "primitive", "1a00"),
    (material_pb2.Material, "base_rgb", "1200"),
    (dynamics_pb2.Inertia, "moments", "1a00"),
    (perception_pb2.PerceptionProducts, "metrics", "0a00"),
    (planning_pb2.PlannerProducts, "trajectory", "2a00"),
    (project_pb2.ProjectSnapshot, "variables", "2200"),
])
def test_empty_submessage_keeps_presence(cls, field, wire):
    assert cls().SerializeToString() == b""
    assert not cls.FromString(b"").HasField(field)
    msg = build(cls, **{field: None})
    assert msg.SerializeToString().hex() == wire
    parsed = cls.FromString(bytes.fromhex(wire))
    assert parsed.HasField(field)
    assert [f.name for f, _ in parsed.ListFields()] == [field]


# --- oneofs -----------------------------------------------------------------

@pytest.mark.parametrize("cls, first, second, kept", [
    (Behavior, "repeat_routine", "sequence_routine", {"name": "root"}),
    (shape_pb2.Primitive, "box", "sphere", {}),
    (probability_pb2.Distribution, "deterministic", "uniform", {}),
    (variable_pb2.TargetGenerator, "mixture_target", "joint_position_target", {}),
    (perception_pb2.PerceptionAction, "calibrate_camera_from_markers", "update_project",
     {"name": "cal", "simulate": True}),
    (planning_pb2.PlannerAction, "generate_target_poses", "screw_along_last_axis",
     {"name": "p", "simulate": True}),
])
def test_oneof_switch_and_last_wins(cls, first, second, kept):
    msg = build(cls, **kept, **{first: None})
    getattr(msg, second).SetInParent()
    assert msg.WhichOneof("type") == second
    assert not msg.HasField(first)
    for name, value in kept.items():
        assert getattr(msg, name) == value

    # Both members on the wire: the later one is the parsed case.
    wire = build(cls, **{first: None}).SerializeToString() + \
        build(cls, **{second: None}).SerializeToString()
    assert cls.FromString(wire).WhichOneof("type") == second


def test_behavior_merge_semantics():
    target = Behavior(name="t", goto_target_positions=execution_pb2.GotoTargetPositions(robot="r"))
    target.MergeFrom(Behavior(goto_target_positions=execution_pb2.GotoTargetPositions(tool="f")))
    assert (target.goto_target_positions.robot, target.goto_target_positions.tool) == ("r", "f")

    target.MergeFrom(Behavior(open_gripper=execution_pb2.OpenGripper(effector="g")))
    assert target.WhichOneof("type") == "open_gripper"
    assert target.open_gripper.effector == "g" and target.name == "t"


# --- unknown fields and open enums ------------------------------------------

# Behavior leaves 104 unassigned; such input must survive a round trip untouched
# (unknown fields are written back after the known ones).
@pytest.mark.parametrize("wire, case", [
    ("c20600", None),                              # 104, empty length-delimited
    ("c0062a", None),                              # 104 as a varint
    ("0a0161" "a20600" "c206020801", "initialize_perception"),  # name, member, 104
])
def test_behavior_field_104_is_kept_unknown(wire, case):
    parsed = Behavior.FromString(bytes.fromhex(wire))
    assert parsed.WhichOneof("type") == case
    assert not parsed.HasField("perspective_crop_image")
    assert parsed.SerializeToString().hex() == wire


@pytest.mark.parametrize("cls, field, wrapper, wire", [
    (planning_pb2.PlannerProducts, "interpolation", trajectory_pb2.InterpolationType, "3805"),
    (dynamics_pb2.Joint, "dof", dynamics_pb2.DegreeOfFreedom, "2807"),
    (execution_pb2.PerspectiveCropImage, "top_left_corner", task_pb2.TaskRegionCorner, "2008"),
    (execution_pb2.GotoTargetPositions, "ranking", execution_pb2.RankingStrategy, "2809"),
])
def test_unknown_enum_value_kept_as_number(cls, field, wrapper, wire):
    assert cls.DESCRIPTOR.fields_by_name[field].enum_type is wrapper.DESCRIPTOR
    parsed = cls.FromString(bytes.fromhex(wire))
    number = int(wire[2:], 16)
    assert getattr(parsed, field) == number
    assert parsed.SerializeToString().hex() == wire
    with pytest.raises(ValueError):
        wrapper.Name(number)


# --- maps -------------------------------------------------------------------

@pytest.mark.parametrize("cls, field, tag, early, late", [
    (variable_pb2.VariablesConfig, "motion_limits", 0x0A,
     variable_pb2.MotionLimits(), variable_pb2.MotionLimits(tool_velocity={})),
    (project_pb2.ProjectSnapshot, "behaviors", 0x1A,
     Behavior(name="first"), Behavior(name="second", record_images={})),
    (perception_pb2.PerceptionProducts, "camera_poses", 0x1A,
     perception_pb2.PerceptionProducts.CameraPosesEntry().value,
     perception_pb2.PerceptionProducts.CameraPosesEntry(value={"qw": 1.0}).value),
])
def test_map_duplicate_key_last_wins(cls, field, tag, early, late):
    def one(value):
        msg = cls()
        getattr(msg, field)["k"].CopyFrom(value)
        return msg.SerializeToString()

    assert one(early)[0] == tag
    parsed = cls.FromString(one(early) + one(late))
    assert list(getattr(parsed, field)) == ["k"]
    assert getattr(parsed, field)["k"] == late


def test_map_entry_without_value_reads_default():
    # behaviors entry holding only the key "a"
    parsed = project_pb2.ProjectSnapshot.FromString(bytes.fromhex("1a030a0161"))
    assert "a" in parsed.behaviors and parsed.behaviors["a"] == Behavior()


def test_map_equality_ignores_entry_order():
    a, b = variable_pb2.VariablesConfig(), variable_pb2.VariablesConfig()
    for key in ("x", "y", "z"):
        a.target_generators[key].mixture_target.target_generators.append(key)
    for key in ("z", "x", "y"):
        b.target_generators[key].mixture_target.target_generators.append(key)
    assert a == b
    assert variable_pb2.VariablesConfig.FromString(b.SerializeToString()) == a


# --- behavior trees ---------------------------------------------------------

def test_small_tree_keeps_order_and_names():
    tree = Behavior(name="root")
    seq = tree.sequence_routine.behaviors
    seq.add(name="first").open_gripper.effector = "g"
    rep = seq.add(name="second").repeat_routine
    rep.repetitions = 3
    rep.behavior.name = "nap"
    rep.behavior.sleep_routine.duration_s = 0.5
    parsed = Behavior.FromString(tree.SerializeToString())
    assert [c.name for c in parsed.sequence_routine.behaviors] == ["first", "second"]
    inner = parsed.sequence_routine.behaviors[1].repeat_routine
    assert inner.repetitions == 3 and inner.behavior.sleep_routine.duration_s == 0.5


def test_deep_tree_round_trip():
    # Each level is two message levels (Behavior -> RepeatRoutine); 45 levels
    # stays below the runtime's default parse nesting limit of 100.
    depth = 45
    node = Behavior(name="leaf", sleep_routine={})
    for level in range(depth):
        node = Behavior(name=str(level), repeat_routine=execution_pb2.RepeatRoutine(behavior=node))
    parsed = Behavior.FromString(node.SerializeToString())
    assert parsed == node
    for level in reversed(range(depth)):
        assert parsed.name == str(level)
        parsed = parsed.repeat_routine.behavior
    assert parsed.name == "leaf" and parsed.WhichOneof("type") == "sleep_routine"
