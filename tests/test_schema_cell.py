"""Wire behaviour and descriptor layout of the work-cell, agent, record and
state message modules."""


import pytest
from google.protobuf import descriptor_pool
from google.protobuf.message import Message

from ostrel.api import (camera_pb2, common_pb2, control_pb2, data_pb2,
                        effector_pb2, fiducial_pb2, item_pb2, linkage_pb2,
                        planning_pb2, robot_pb2, simulation_pb2, system_pb2,
                        tool_pb2, training_pb2, workspace_pb2)


def roundtrip(msg):
    return type(msg).FromString(msg.SerializeToString())


def test_same_named_map_entries_are_distinct_types():
    find = descriptor_pool.Default().FindMessageTypeByName
    config = find("ostrel.api.workspace.WorkspaceConfig.RobotsEntry")
    state = find("ostrel.api.workspace.WorkspaceState.RobotsEntry")
    assert config is workspace_pb2._WORKSPACECONFIG_ROBOTSENTRY
    assert state is workspace_pb2._WORKSPACESTATE_ROBOTSENTRY
    assert config.fields_by_name["value"].message_type is robot_pb2._ROBOTCONFIG
    assert state.fields_by_name["value"].message_type is robot_pb2._ROBOTSTATE
    entry = workspace_pb2.WorkspaceConfig.RobotsEntry
    assert (entry.__name__, entry.__module__) == ("RobotsEntry", "ostrel.api.workspace_pb2")


# --- exact wire bytes ----------------------------------------------------------

def _losses(**kv):
    msg = training_pb2.TrainerProducts()
    msg.losses.update(kv)
    return msg


WIRE = [
    ("no effector model", effector_pb2.EffectorConfig(), ""),
    ("empty snapshot", workspace_pb2.WorkspaceSnapshot(), ""),
    ("faulted false", control_pb2.ControllerProducts(faulted=False), ""),
    ("faulted true", control_pb2.ControllerProducts(faulted=True), "1001"),
    ("time_s fixed32", control_pb2.ControllerProducts(time_s=1.0), "250000803f"),
    ("collision switch", item_pb2.ItemConfig(check_other_item_collision=True), "2001"),
    ("one loss", _losses(a=0.5), "1a080a0161150000003f"),
    ("intrinsics", camera_pb2.CameraIntrinsics(width=640, height=480), "08800510e003"),
    ("marker", fiducial_pb2.VisualMarker(tag_id=7, marker_length_m=0.05), "080715cdcc4c3d"),
    ("tag id above int32", fiducial_pb2.VisualMarker(tag_id=3000000000), "0880bcc1960b"),
    ("one empty record set", data_pb2.DataRecords(records=[data_pb2.RecordSet()]), "0a00"),
    ("d435i", camera_pb2.RealsenseD435i(serial_number="x", frame_rate_fps=30), "0a0178101e"),
    ("d405", camera_pb2.RealsenseD405(serial_number="x", frame_rate_fps=30), "0a0178101e"),
]


@pytest.mark.parametrize("msg,hexbytes", [w[1:] for w in WIRE], ids=[w[0] for w in WIRE])
def test_wire_bytes(msg, hexbytes):
    data = bytes.fromhex(hexbytes)
    assert msg.SerializeToString() == data
    assert type(msg).FromString(data) == msg


# --- presence of empty sub-messages and oneof cases ----------------------------

PRESENCE = [
    (effector_pb2.EffectorConfig, "robotiq_gripper_2f85", "0a00"),
    (effector_pb2.EffectorConfig, "franka_hand", "1200"),
    (item_pb2.ItemConfig, "desk", "2a00"),
    (fiducial_pb2.FiducialConfig, "visual_marker", "0a00"),
    (robot_pb2.RobotConfig, "franka_panda_robot", "2200"),
    (robot_pb2.RobotConfig, "ur_5e_robot", "3200"),
    (robot_pb2.RobotState, "joint_positions", "1200"),
    (workspace_pb2.WorkspaceSnapshot, "config", "0a00"),
    (workspace_pb2.WorkspaceSnapshot, "state", "1200"),
    (workspace_pb2.WorkspaceSnapshot, "linkages", "1a00"),
    (control_pb2.ControllerAction, "open_gripper", "3200"),
    (control_pb2.ControllerAction, "set_effector_positions", "4200"),
    (simulation_pb2.SimulatorAction, "align_item_to_tool", "2200"),
    (simulation_pb2.SimulatorProducts, "workspace_state", "1200"),
    (data_pb2.DatalinkAction, "start_recording_data", "1200"),
    (data_pb2.DatalinkAction, "stop_recording_data", "1a00"),
    (data_pb2.ProductRecord, "controller", "2a00"),
    (data_pb2.RecordSet, "project", "3200"),
    (system_pb2.SystemState, "status", "0a00"),
    (system_pb2.SystemState, "trainer", "3a00"),
]


@pytest.mark.parametrize("cls,field,hexbytes", PRESENCE,
                         ids=["%s.%s" % (p[0].__name__, p[1]) for p in PRESENCE])
def test_empty_submessage_keeps_presence(cls, field, hexbytes):
    msg = cls()
    getattr(msg, field).SetInParent()
    data = bytes.fromhex(hexbytes)
    assert msg.SerializeToString() == data
    back = cls.FromString(data)
    assert back.HasField(field) and not cls.FromString(b"").HasField(field)
    oneof = cls.DESCRIPTOR.fields_by_name[field].containing_oneof
    if oneof is not None:
        assert back.WhichOneof(oneof.name) == field


def test_default_status_reads_running():
    back = system_pb2.SystemState.FromString(bytes.fromhex("0a00"))
    assert back.HasField("status") and back.status.code == common_pb2.RUNNING


def _robot_outside(msg):
    msg.effector = "hand"
    msg.tool_frames["tcp"].payload_mass_kg = 0.5


def _action_outside(msg):
    msg.name, msg.simulate = "step", True


SWITCHES = [
    (robot_pb2.RobotConfig, "custom_robot", "ur_5e_robot", _robot_outside),
    (control_pb2.ControllerAction, "update_project", "close_gripper", _action_outside),
    (simulation_pb2.SimulatorAction, "align_item_to_tool", "detach_item_from_tool",
     _action_outside),
    (data_pb2.ProductRecord, "perception", "planner",
     lambda m: setattr(m, "timestamp_ns", 12345)),
    (data_pb2.DatalinkAction, "update_project", "stop_recording_data", lambda m: None),
    (camera_pb2.CameraConfig, "realsense_d435i", "realsense_d405",
     lambda m: setattr(m.intrinsics, "width", 640)),
    (item_pb2.ItemConfig, "custom_item", "desk", lambda m: m.task_regions.append("tray")),
]


@pytest.mark.parametrize("cls,first,second,outside", SWITCHES,
                         ids=[s[0].__name__ for s in SWITCHES])
def test_oneof_switch_keeps_outside_fields(cls, first, second, outside):
    msg = cls()
    outside(msg)
    getattr(msg, first).SetInParent()
    getattr(msg, second).SetInParent()
    back = roundtrip(msg)
    assert back.WhichOneof("type") == second and not back.HasField(first)
    back.ClearField("type")
    baseline = cls()
    outside(baseline)
    assert back == baseline


# --- maps ------------------------------------------------------------------------

MAPS = [
    (robot_pb2.RobotConfig, "tool_frames",
     tool_pb2.ToolFrame(payload_mass_kg=1.0), tool_pb2.ToolFrame(payload_mass_kg=2.0)),
    (workspace_pb2.WorkspaceConfig, "robots",
     robot_pb2.RobotConfig(effector="hand", ur_3e_robot={"ip_address": "10.0.0.2"}),
     robot_pb2.RobotConfig(franka_panda_robot={})),
    (workspace_pb2.WorkspaceConfig, "items",
     item_pb2.ItemConfig(check_robot_base_collision=True),
     item_pb2.ItemConfig(desk=item_pb2.Desk())),
    (workspace_pb2.WorkspaceState, "robots",
     robot_pb2.RobotState(joint_positions={"data": [1.0]}),
     robot_pb2.RobotState(joint_positions={"data": [2.0, 3.0]})),
    (workspace_pb2.WorkspaceLinkages, "grasped_items",
     linkage_pb2.GraspedItemLinkage(effector="hand"), linkage_pb2.GraspedItemLinkage(item="cup")),
    (training_pb2.TrainerProducts, "losses", 1.5, 0.25),
]
MAP_IDS = ["%s.%s" % (m[0].__name__, m[1]) for m in MAPS]


def _put(msg, field, key, value):
    if isinstance(value, Message):
        getattr(msg, field)[key].CopyFrom(value)
    else:
        getattr(msg, field)[key] = value


@pytest.mark.parametrize("cls,field,v1,v2", MAPS, ids=MAP_IDS)
def test_map_repeated_key_last_wins(cls, field, v1, v2):
    first, second = cls(), cls()
    _put(first, field, "k", v1)
    _put(second, field, "k", v2)
    back = cls.FromString(first.SerializeToString() + second.SerializeToString())
    assert dict(getattr(back, field)) == {"k": v2}


@pytest.mark.parametrize("cls,field,v1,v2", MAPS, ids=MAP_IDS)
def test_map_equality_ignores_entry_order(cls, field, v1, v2):
    ab, ba = cls(), cls()
    for msg, order in ((ab, "ab"), (ba, "ba")):
        for key in order:
            _put(msg, field, key, {"a": v1, "b": v2}[key])
    assert ab == ba
    assert cls.FromString(ab.SerializeToString()) == ba


@pytest.mark.parametrize("cls,field,v1,v2", MAPS, ids=MAP_IDS)
def test_map_entry_without_value(cls, field, v1, v2):
    number = cls.DESCRIPTOR.fields_by_name[field].number
    back = cls.FromString(bytes([number << 3 | 2, 5]) + b"\x0a\x03key")
    got = dict(getattr(back, field))
    assert got == {"key": type(v1)()}


def test_zero_loss_is_still_an_entry():
    assert dict(roundtrip(_losses(zero=0.0)).losses) == {"zero": 0.0}


# --- actions packed in Any -----------------------------------------------------

ACTIONS = [
    ("ostrel.api.planning.PlannerAction",
     planning_pb2.PlannerAction(name="plan", goto_target_positions={})),
    ("ostrel.api.control.ControllerAction",
     control_pb2.ControllerAction(name="ctl", simulate=True, open_gripper={"effector": "hand"})),
    ("ostrel.api.simulation.SimulatorAction",
     simulation_pb2.SimulatorAction(attach_item_to_tool={"item": "cup", "robot": "arm"})),
    ("ostrel.api.training.TrainerAction", training_pb2.TrainerAction(name="train")),
    ("ostrel.api.data.DatalinkAction",
     data_pb2.DatalinkAction(start_recording_data={"description": "run 1"})),
]


@pytest.mark.parametrize("full_name,action", ACTIONS, ids=[a[0] for a in ACTIONS])
def test_event_action_packs_and_unpacks(full_name, action):
    event = data_pb2.EventRecord(name="e", start_timestamp_ns=1, stop_timestamp_ns=2)
    event.action.Pack(action)
    back = roundtrip(event)
    assert back.action.type_url == "type.googleapis.com/" + full_name
    assert back.action.Is(type(action).DESCRIPTOR)
    out = type(action)()
    assert back.action.Unpack(out) and out == action
    other = next(a for _, a in ACTIONS if type(a) is not type(action))
    assert not back.action.Unpack(type(other)())


def test_event_statuses_need_not_match_metadata():
    event = data_pb2.EventRecord(
        status=[common_pb2.Status(code=c, message=str(c)) for c in (0, 1, 2)],
        status_metadata=[common_pb2.Metadata(timestamp_ns=t) for t in (10, 20)])
    back = roundtrip(event)
    assert back == event and [s.code for s in back.status] == [0, 1, 2]


def test_system_state_carries_any_subset():
    state = system_pb2.SystemState(
        status=common_pb2.Status(code=common_pb2.FAILURE, message="arm fault"))
    state.workspace.robots["arm"].base_pose.qw = 1.0
    state.controller.faulted = True
    back = roundtrip(state)
    assert back == state
    assert [f.name for f, _ in back.ListFields()] == ["status", "workspace", "controller"]
