"""The cell's scene (`ostrel.records.scene`) from projects built here: where
each image goes with its calibration, the crop's pinhole against the
region's corners, held items following the tool (checked against
`ostrel.kinematics`), joint vectors that do not fit, shapes, and a live
state's messages against the advertised channels."""

import importlib.metadata
import os

import pytest
from google.protobuf import json_format

from ostrel import kinematics
from ostrel.api import control_pb2, image_pb2, project_pb2, system_pb2, task_pb2, workspace_pb2

pytest.importorskip("foxglove_schemas_protobuf", reason='needs the visualisation schemas: pip install "ostrel[mcap]"')
from ostrel.records import scene_parts as parts  # noqa: E402
from ostrel.records.scene import Scene  # noqa: E402

DEMO = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples", "pick_and_place.json")
CORNERS = ("POSX_POSY_POSZ", "NEGX_POSY_POSZ", "POSX_NEGY_POSZ", "NEGX_NEGY_POSZ")  # by number


def project(*workspaces, crops=()):
    """The demo project with workspace parts merged in and a behavior taking
    each crop (camera, region, width, height, top left, top right, bottom left)."""
    snapshot = json_format.Parse(open(DEMO).read(), project_pb2.ProjectSnapshot())
    for workspace in workspaces:
        snapshot.workspace.MergeFrom(json_format.ParseDict(workspace, workspace_pb2.WorkspaceSnapshot()))
    steps = [{"perspective_crop_image": {"camera": c, "task_region": r, "width": w, "height": h,
                                         "top_left_corner": tl, "top_right_corner": tr, "bot_left_corner": bl}}
             for c, r, w, h, tl, tr, bl in crops]
    json_format.ParseDict({"sequence_routine": {"behaviors": steps}}, snapshot.behaviors["crops"])
    return snapshot


def test_the_joint_message_is_the_schema_packages_where_it_has_one():
    version = tuple(int(p) for p in importlib.metadata.version("foxglove-schemas-protobuf").split(".")[:2])
    s = parts.schemas()
    assert s.own_joints == (version < (0, 4))
    assert s.JointStates.DESCRIPTOR.full_name == ("ostrel.viewer.JointPositions" if s.own_joints
                                                  else "foxglove.JointStates")


# Images and their calibration ------------------------------------------------------------

def intrinsics(width, height, f, distortion=()):
    return {"intrinsics": {"width": width, "height": height, "focal_length_x": f, "focal_length_y": f * 1.5,
                           "optical_center_x": width / 2, "optical_center_y": height / 2,
                           "distortion_coefs": {"data": list(distortion)}}}


CAMERAS = {"config": {"cameras": {"big": intrinsics(4096, 3072, 3000, (0.1, 0, 0, 0, 0)),
                                  "small": intrinsics(100, 80, 90), "bare": {}}}}
REGIONS = {"config": {"task_regions": {r: {"min": {"linear": {"x": -0.1, "y": -0.2}},
                                           "max": {"linear": {"x": 0.1, "y": 0.2, "z": 0.05}}}
                                       for r in ("a", "b", "c")}}}
UPRIGHT = ("NEGX_POSY_POSZ", "POSX_POSY_POSZ", "NEGX_NEGY_POSZ")  # x to the right, y up
CROPS = [(*c, *UPRIGHT) for c in (("big", "a", 64, 64), ("big", "b", 32, 16), ("big", "b", 48, 48),
                                  ("big", "a", 20, 20), ("big", "c", 20, 20))]


@pytest.mark.parametrize("camera, size, topic, frame, k", [
    ("big", (204, 153), "/viz/camera/big/image", "big", (3000 * 204 / 4096, 4500 * 153 / 3072, 102, "plumb_bob")),
    ("small", (100, 80), "/viz/camera/small/image", "small", (90, 135, 50, "")),  # under 160 wide: as it is
    ("d435i", (160, 120), "/viz/camera/d435i/image", "d435i", (615 / 4, 615 / 4, 80, "plumb_bob")),
    ("bare", (33, 7), "/viz/camera/bare/image", "bare", None),  # no intrinsics: any size is its view
    ("big", (64, 64), "/viz/camera/big/crop/a", "big/crop/a", (64 / 0.2, 64 / 0.4, 32, "")),
    ("big", (32, 16), "/viz/camera/big/crop/b/32x16", "big/crop/b/32x16", (32 / 0.2, 16 / 0.4, 16, "")),
    ("big", (20, 20), "/viz/camera/big/crop/20x20", "big/crop/20x20", None),  # two regions: which is unknown
    ("big", (99, 99), "/viz/camera/big/crop/99x99", "big/crop/99x99", None),  # no step takes it
])
def test_each_image_goes_to_one_channel_and_frame_with_the_calibration_of_its_size(camera, size, topic, frame, k):
    scene = Scene(project(CAMERAS, REGIONS, crops=CROPS))
    image = image_pb2.Image(camera=camera, encoding="mono8", width=size[0], height=size[1], step=size[0],
                            data=bytes(size[0] * size[1]))
    out = scene.image(5, image)
    assert (out[0][0], out[0][1].frame_id, out[0][1].data) == (topic, frame, image.data)
    if k is None:
        assert len(out) == 1
        return
    [(calibration_topic, calibration)] = out[1:]
    assert calibration_topic == (topic[:-len("image")] + "calibration" if topic.endswith("/image")
                                 else topic + "/calibration")
    assert (calibration.width, calibration.height, calibration.frame_id) == (*size, frame)
    assert (calibration.K[0], calibration.K[4], calibration.K[2]) == pytest.approx(k[:3])
    assert calibration.distortion_model == k[3]
    assert {topic, calibration_topic} <= {c.topic for c in scene.channels()}


def pixel(pinhole, point):
    x, y, z = point
    return (pinhole.fx * x / z + pinhole.cx, pinhole.fy * y / z + pinhole.cy)


@pytest.mark.parametrize("top_left, top_right, bottom_left", [
    UPRIGHT,
    ("POSX_NEGY_POSZ", "NEGX_NEGY_POSZ", "POSX_POSY_POSZ"),  # upside down
    ("POSX_POSY_POSZ", "POSX_NEGY_POSZ", "NEGX_POSY_POSZ"),  # a quarter turn
    ("NEGX_NEGY_POSZ", "POSX_NEGY_POSZ", "NEGX_POSY_POSZ"),  # mirrored: seen from below
])
def test_a_crops_pinhole_sees_each_named_corner_of_its_region_at_that_corner_of_the_image(top_left, top_right,
                                                                                        bottom_left):
    region = json_format.ParseDict(REGIONS["config"]["task_regions"]["a"], task_pb2.TaskRegionConfig())
    crop = parts.Crop("big", "a", 40, 30, tuple(CORNERS.index(c) for c in (top_left, top_right, bottom_left)))
    pose, pinhole = parts.crop_view(crop, region)
    seen = kinematics.inverse(pose)
    bottom_right = [c for c in CORNERS if c not in (top_left, top_right, bottom_left)][0]
    for corner, expected in ((top_left, (0, 0)), (top_right, (40, 0)), (bottom_left, (0, 30)),
                             (bottom_right, (40, 30))):
        x, y = parts.corner_point(region, CORNERS.index(corner))
        assert pixel(pinhole, kinematics.apply(seen, (x, y, 0.0))) == pytest.approx(expected), corner


@pytest.mark.parametrize("corners", [(0, 0, 3), (1, 2, 0), (0, 3, 1)])  # no side, diagonal sides
def test_corners_that_span_no_rectangle_give_a_crop_no_pinhole(corners):
    region = json_format.ParseDict(REGIONS["config"]["task_regions"]["a"], task_pb2.TaskRegionConfig())
    assert parts.crop_view(parts.Crop("big", "a", 40, 30, corners), region) is None


# Frames ------------------------------------------------------------------------------------

def world_of(frames, frame):
    """A frame's world pose from (topic, FrameTransforms) pairs, the latest transform of each child counting."""
    latest = {}
    for _, message in frames:
        for t in message.transforms:
            latest[t.child_frame_id] = (t.parent_frame_id, kinematics.Pose(
                (t.translation.x, t.translation.y, t.translation.z),
                (t.rotation.w, t.rotation.x, t.rotation.y, t.rotation.z)))
    pose = kinematics.IDENTITY
    while frame != "world":
        frame, step = latest[frame]
        pose = kinematics.compose(step, pose)
    return pose


def transforms(out):
    return [(t, m) for t, m in out if t in ("/viz/tf", "/viz/tf_static")]


def close(a, b):
    return a.p == pytest.approx(b.p, abs=1e-9) and a.q == pytest.approx(b.q, abs=1e-9)


def feedback(positions):
    return control_pb2.ControllerProducts(robot="ur5e", feedback={"joint": {"positions": {"data": positions}}})


MOVES = [[0.0, -1.5708, 1.5708, -1.5708, -1.5708, 0.0], [0.3, -1.2, 1.4, -1.0, -1.5, 0.4],
         [-0.8, -2.0, 2.1, -0.3, 1.0, -2.0]]


@pytest.mark.parametrize("grasp", [(0.0, 0.0, 0.0), (0.01, -0.02, 0.03)])
def test_a_held_item_follows_the_tool_between_attach_and_detach(grasp):
    snapshot = project()
    scene = Scene(snapshot)
    out = scene.static(1)
    config = snapshot.workspace.config.robots["ur5e"]
    state = workspace_pb2.WorkspaceState()
    state.CopyFrom(snapshot.workspace.state)
    state.robots["ur5e"].joint_positions.data[:] = MOVES[0]
    tool = kinematics.tool_pose(config, MOVES[0], "gripper_tcp")
    offset = kinematics.Pose(grasp, (1.0, 0.0, 0.0, 0.0))
    state.items["part"].base_pose.CopyFrom(kinematics.to_pose3(kinematics.compose(tool, offset)))
    linkages = workspace_pb2.WorkspaceLinkages()
    linkages.grasped_items["part"].effector = "gripper"
    out += scene.workspace(2, state, linkages)  # attach: the part stays where it is
    assert close(world_of(transforms(out), "part"), kinematics.compose(tool, offset))
    for t, positions in enumerate(MOVES[1:], 3):
        out += scene.controller(t, feedback(positions))
        expected = kinematics.compose(kinematics.tool_pose(config, positions, "gripper_tcp"), offset)
        assert close(world_of(transforms(out), "part"), expected)
        assert close(world_of(transforms(out), "ur5e/tool/gripper_tcp"),
                     kinematics.tool_pose(config, positions, "gripper_tcp"))
    state.items["part"].base_pose.CopyFrom(kinematics.to_pose3(expected))
    state.robots["ur5e"].joint_positions.data[:] = MOVES[-1]
    out += scene.workspace(9, state, workspace_pb2.WorkspaceLinkages())  # detach: left where it was
    out += scene.controller(10, feedback(MOVES[0]))
    assert close(world_of(transforms(out), "part"), expected)
    assert [t.parent_frame_id for t in out[-1][1].transforms if t.child_frame_id == "part"] == []


@pytest.mark.parametrize("positions, said", [
    ([0.1] * 5, "6 movable joints but 5"), ([0.1] * 7, "6 movable joints but 7"), ([], None),
])
def test_joint_vectors_that_do_not_fit_the_arm_leave_its_links_and_are_said_once(positions, said):
    warnings = []
    scene = Scene(project(), warnings.append)
    frames = [frame.child_frame_id for _ in range(2) for _, m in scene.controller(1, feedback(positions))
              if m.DESCRIPTOR.name == "FrameTransforms" for frame in m.transforms]
    assert set(frames) <= {"ur5e"} and len(warnings) == (1 if said else 0)
    if said:
        assert warnings[0].startswith("robot 'ur5e': ") and said in warnings[0]


# Shapes and a live state ------------------------------------------------------------------------

@pytest.mark.parametrize("primitive, counts, size", [
    ({"box": {"size": {"x": 0.1, "y": 0.2, "z": 0.3}}}, (1, 0, 0), (0.1, 0.2, 0.3)),
    ({"sphere": {"radius": 0.05}}, (0, 1, 0), (0.1, 0.1, 0.1)),
    ({"cylinder": {"radius": 0.05, "height": 0.2}}, (0, 0, 1), (0.1, 0.1, 0.2)),
    ({"capsule": {"radius": 0.05, "height": 0.2}}, (0, 2, 1), (0.1, 0.1, 0.2)),  # ends as spheres
])
def test_an_items_obstacles_are_drawn_in_its_frame(primitive, counts, size):
    obstacle = {"name": "o", "pose": {"position": {"z": 0.5}, "qw": 1.0}, "primitive": primitive}
    scene = Scene(project({"config": {"items": {"part": {"custom_item": {"body": {"obstacles": [obstacle]}}}}}}))
    [entity] = [e for e in scene.entities(1).entities if e.id == "item/part"]
    assert (len(entity.cubes), len(entity.spheres), len(entity.cylinders)) == counts
    [shape] = (entity.cubes or entity.cylinders or entity.spheres)[:1]
    assert (shape.size.x, shape.size.y, shape.size.z) == pytest.approx(size)
    assert (entity.frame_id, shape.pose.position.z) == ("part", pytest.approx(0.5))


def test_a_live_state_gives_messages_on_advertised_channels_only():
    snapshot = project()
    scene = Scene(snapshot)
    state = system_pb2.SystemState(workspace=snapshot.workspace.state, controller=feedback(MOVES[1]))
    state.perception.detected_markers.add(camera="d435i", id=3, corners=[{"x": 600, "y": 400}])
    state.images.images.add(camera="d435i", encoding="mono8", width=160, height=120, step=160, data=bytes(19200))
    out = scene.static(1) + scene.from_state(state, 2)
    advertised = {c.topic: c.schema_name for c in scene.channels()}
    assert {t: advertised.get(t) for t, _ in out} == {t: m.DESCRIPTOR.full_name for t, m in out}
    [markers] = [m for t, m in out if t == "/viz/camera/d435i/markers"]
    assert (markers.points[0].points[0].x, markers.points[0].points[0].y) == (150, 100)
    for frame in ("ur5e/flange", "gripper", "part", "d435i", "marker_1", "place_region", "d435i/crop/pick_region"):
        world_of(transforms(out), frame)  # every frame reaches world
