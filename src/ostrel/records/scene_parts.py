"""The parts of the cell's scene that follow from the project alone
(`ostrel.records.scene`): the visualisation message classes, frame names,
the pinhole calibration of a camera or a crop at an image's size, the
project's crop steps, and the 3-D entities of items, bodies, markers and
task regions."""

from functools import lru_cache
from types import SimpleNamespace
from typing import Any, Dict, List, NamedTuple, Optional, Sequence, Tuple

from google.protobuf import descriptor_pb2, descriptor_pool, message_factory, timestamp_pb2
from google.protobuf.message import Message

from ostrel import extras, kinematics
from ostrel.api import camera_pb2, dynamics_pb2, execution_pb2, project_pb2, shape_pb2, task_pb2
from ostrel.kinematics import Pose

WORLD_FRAME = "world"

# The visualisation schemas' package and the message classes the scene uses, each in a module of its name.
SCHEMA_PACKAGE = "foxglove_schemas_protobuf"
SCHEMA_CLASSES = ("Color", "CompressedImage", "FrameTransforms", "ImageAnnotations", "Log", "Point2",
                  "PointsAnnotation", "RawImage", "CameraCalibration", "SceneUpdate", "LinePrimitive",
                  "SceneEntityDeletion")

# Our own joint message, for the schema packages that have none (before 0.4).
JOINTS_FILE = "ostrel/viewer/joints.proto"
JOINTS_TYPE = "ostrel.viewer.JointPositions"
_F = descriptor_pb2.FieldDescriptorProto
# (message, [(field, number, type, repeated, message type)]).
JOINT_MESSAGES = (
    ("Joint", [("name", 1, _F.TYPE_STRING, False, ""), ("position", 2, _F.TYPE_DOUBLE, False, ""),
               ("velocity", 3, _F.TYPE_DOUBLE, False, "")]),
    ("JointPositions", [("timestamp", 1, _F.TYPE_MESSAGE, False, ".google.protobuf.Timestamp"),
                        ("owner", 2, _F.TYPE_STRING, False, ""),
                        ("joints", 3, _F.TYPE_MESSAGE, True, ".ostrel.viewer.Joint")]),
)


@lru_cache(maxsize=None)
def joint_positions_class() -> Any:
    """ostrel.viewer.JointPositions: one owner's joints by name, which
    plotting tools graph by field (`.joints[:]{name=="elbow"}.position`).
    Built in a pool of its own, so it never meets the application's types."""
    proto = descriptor_pb2.FileDescriptorProto(name=JOINTS_FILE, package=JOINTS_TYPE.rsplit(".", 1)[0],
                                               syntax="proto3",
                                               dependency=[timestamp_pb2.DESCRIPTOR.name])
    for name, fields in JOINT_MESSAGES:
        message = proto.message_type.add(name=name)
        for field, number, kind, repeated, type_name in fields:
            added = message.field.add(name=field, number=number, type=kind,
                                      label=_F.LABEL_REPEATED if repeated else _F.LABEL_OPTIONAL)
            if type_name:
                added.type_name = type_name
    # Any: older protobuf stubs (those installable on 3.9) leave the pool's methods untyped.
    pool: Any = descriptor_pool.DescriptorPool()
    pool.AddSerializedFile(timestamp_pb2.DESCRIPTOR.serialized_pb)
    pool.AddSerializedFile(proto.SerializeToString())
    return message_factory.GetMessageClass(pool.FindMessageTypeByName(JOINTS_TYPE))


def schemas() -> Any:
    """The visualisation message classes by name, `JointStates` the schema
    package's joint message where it has one (foxglove.JointStates, 0.4 and
    later), else ours; ImportError naming the extra without the package."""
    extras.require(SCHEMA_PACKAGE, "mcap")  # each time: taking the package away (a test does) is seen
    return _schemas()


@lru_cache(maxsize=None)
def _schemas() -> Any:
    import importlib

    classes: Dict[str, Any] = {name: getattr(extras.require("%s.%s_pb2" % (SCHEMA_PACKAGE, name), "mcap"), name)
                               for name in SCHEMA_CLASSES}
    try:
        joints = importlib.import_module("%s.JointStates_pb2" % SCHEMA_PACKAGE)
        classes["JointStates"], classes["own_joints"] = joints.JointStates, False
    except ImportError:
        classes["JointStates"], classes["own_joints"] = joint_positions_class(), True
    return SimpleNamespace(**classes)


def timestamp(ns: int) -> timestamp_pb2.Timestamp:
    return timestamp_pb2.Timestamp(seconds=ns // 1_000_000_000, nanos=ns % 1_000_000_000)


# Frames ------------------------------------------------------------------------------

def link_frame(robot: str, body: str) -> str:
    return "%s/%s" % (robot, body)


def tool_frame(robot: str, tool: str) -> str:
    return "%s/tool/%s" % (robot, tool)


def crop_frame(camera: str, name: str) -> str:
    return "%s/crop/%s" % (camera, name)


def pose_or_identity(message: Any, field: str) -> Pose:
    return kinematics.from_pose3(getattr(message, field)) if message.HasField(field) else kinematics.IDENTITY


# Calibration ---------------------------------------------------------------------------

class Pinhole(NamedTuple):
    """A pinhole camera at one image size: focal lengths and principal point in pixels."""

    width: int
    height: int
    fx: float
    fy: float
    cx: float
    cy: float
    distortion: Tuple[float, ...] = ()

    def scaled(self, width: int, height: int) -> "Pinhole":
        """The same camera at another image size (the image scaled, not cropped)."""
        sx, sy = width / self.width, height / self.height
        return Pinhole(width, height, self.fx * sx, self.fy * sy, self.cx * sx, self.cy * sy, self.distortion)


# Distortion models by number of coefficients: radial-tangential (OpenCV's
# k1 k2 p1 p2 k3, and its rational form with 8).
DISTORTION_MODELS = {5: "plumb_bob", 8: "rational_polynomial"}


def camera_pinhole(intrinsics: camera_pb2.CameraIntrinsics) -> Optional[Pinhole]:
    k = intrinsics
    if not (k.width and k.height and k.focal_length_x and k.focal_length_y):
        return None
    return Pinhole(k.width, k.height, k.focal_length_x, k.focal_length_y, k.optical_center_x, k.optical_center_y,
                   tuple(k.distortion_coefs.data))


def calibration(pinhole: Pinhole, frame: str, t_ns: int) -> Any:
    p = pinhole
    model = DISTORTION_MODELS.get(len(p.distortion), "")
    return schemas().CameraCalibration(
        timestamp=timestamp(t_ns), frame_id=frame, width=p.width, height=p.height, distortion_model=model,
        D=list(p.distortion) if model else [], K=[p.fx, 0.0, p.cx, 0.0, p.fy, p.cy, 0.0, 0.0, 1.0],
        R=[1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0], P=[p.fx, 0.0, p.cx, 0.0, 0.0, p.fy, p.cy, 0.0, 0.0, 0.0, 1.0, 0.0])


# Crops -----------------------------------------------------------------------------------

# A crop shows a task region square-on. Its frame is a pinhole camera this far
# above the region's z = 0 plane, looking down at it, whose image the crop is:
# a 3-D view then lays the crop onto the region.
CROP_VIEW_DISTANCE_M = 1.0


class Crop(NamedTuple):
    camera: str
    region: str
    width: int
    height: int
    corners: Tuple[int, int, int]  # TaskRegionCorner at the top left, top right, bottom left


def crop_steps(project: project_pb2.ProjectSnapshot) -> List[Crop]:
    """Every distinct perspective crop that the project's behaviors take, in a stable order."""
    found: Dict[Crop, None] = {}

    def visit(message: Any) -> None:
        for field, value in message.ListFields():
            if field.message_type is None:
                continue
            if field.message_type is execution_pb2.PerspectiveCropImage.DESCRIPTOR:
                found[Crop(value.camera, value.task_region, value.width, value.height,
                           (value.top_left_corner, value.top_right_corner, value.bot_left_corner))] = None
            elif isinstance(value, Message):
                visit(value)
            else:  # a repeated field or a map of messages (a map of scalars has nothing to visit)
                for item in (value.values() if field.message_type.GetOptions().map_entry else value):
                    if isinstance(item, Message):
                        visit(item)

    for name in sorted(project.behaviors):
        visit(project.behaviors[name])
    return sorted(found)


def corner_point(region: task_pb2.TaskRegionConfig, corner: int) -> Tuple[float, float]:
    """The x, y of a region's corner: bit 0 of its number picks the negative x side, bit 1 negative y."""
    low, high = region.min.linear, region.max.linear
    return (low.x if corner & 1 else high.x, low.y if corner & 2 else high.y)


def crop_view(crop: Crop, region: task_pb2.TaskRegionConfig) -> Optional[Tuple[Pose, Pinhole]]:
    """The crop frame in the region's frame and its pinhole, None when the
    corners span no rectangle along the region's x and y axes."""
    (x0, y0), (x1, y1), (x2, y2) = (corner_point(region, c) for c in crop.corners)
    across, down = (x1 - x0, y1 - y0), (x2 - x0, y2 - y0)
    if not crop.width or not crop.height or across[0] * down[0] + across[1] * down[1] != 0.0:
        return None
    span_u, span_v = abs(across[0] + across[1]), abs(down[0] + down[1])
    if span_u == 0.0 or span_v == 0.0 or across[0] * across[1] != 0.0:
        return None
    u = (across[0] / span_u, across[1] / span_u, 0.0)
    v = (down[0] / span_v, down[1] / span_v, 0.0)
    z = (u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0])
    rotation = quaternion_of_axes(u, v, z)
    d = CROP_VIEW_DISTANCE_M
    # Above the plane when the image's depth axis points down into it, below when the corners mirror it.
    pose = Pose(((x1 + x2) / 2, (y1 + y2) / 2, -z[2] * d), rotation)
    fx, fy = crop.width * d / span_u, crop.height * d / span_v
    return pose, Pinhole(crop.width, crop.height, fx, fy, crop.width / 2.0, crop.height / 2.0)


def quaternion_of_axes(x: Sequence[float], y: Sequence[float], z: Sequence[float]) -> Tuple[float, float, float, float]:
    """The unit quaternion (w, x, y, z) of the rotation whose columns are the axes x, y, z."""
    m00, m11, m22 = x[0], y[1], z[2]
    trace = m00 + m11 + m22
    if trace > 0.0:
        s = (trace + 1.0) ** 0.5 * 2.0
        return (0.25 * s, (y[2] - z[1]) / s, (z[0] - x[2]) / s, (x[1] - y[0]) / s)
    if m00 >= m11 and m00 >= m22:
        s = (1.0 + m00 - m11 - m22) ** 0.5 * 2.0
        return ((y[2] - z[1]) / s, 0.25 * s, (y[0] + x[1]) / s, (z[0] + x[2]) / s)
    if m11 >= m22:
        s = (1.0 + m11 - m00 - m22) ** 0.5 * 2.0
        return ((z[0] - x[2]) / s, (y[0] + x[1]) / s, 0.25 * s, (z[1] + y[2]) / s)
    s = (1.0 + m22 - m00 - m11) ** 0.5 * 2.0
    return ((x[1] - y[0]) / s, (z[0] + x[2]) / s, (z[1] + y[2]) / s, 0.25 * s)


# Entities ------------------------------------------------------------------------------------

ITEM_COLOR = (0.2, 0.5, 0.9, 0.8)
REGION_COLOR = (0.9, 0.7, 0.1, 0.25)
MARKER_PLATE_COLOR = (0.95, 0.95, 0.95, 1.0)
LINK_COLOR = (0.6, 0.6, 0.65, 1.0)
PLACEHOLDER_RADIUS_M = 0.02  # an item without a shape of its own: a small sphere where it is
MARKER_THICKNESS_M = 0.001
LINK_LINE_PX = 6.0
LABEL_SIZE_PX = 12.0


def _color(rgba: Tuple[float, float, float, float]) -> Any:
    r, g, b, a = rgba
    return schemas().Color(r=r, g=g, b=b, a=a)


def _set_pose(target: Any, pose: Pose) -> None:
    target.position.x, target.position.y, target.position.z = pose.p
    target.orientation.w, target.orientation.x, target.orientation.y, target.orientation.z = pose.q


def add_primitive(entity: Any, pose: Pose, primitive: shape_pb2.Primitive, rgba: Tuple[float, float, float, float]) -> None:
    """A shape in the entity, at pose in its frame. A capsule is drawn as its
    cylinder with a sphere at each end."""
    kind = primitive.WhichOneof("type")
    if kind == "box":
        size = primitive.box.size
        cube = entity.cubes.add(color=_color(rgba))
        _set_pose(cube.pose, pose)
        cube.size.x, cube.size.y, cube.size.z = size.x, size.y, size.z
    elif kind == "sphere":
        add_sphere(entity, pose, primitive.sphere.radius, rgba)
    elif kind in ("cylinder", "capsule"):
        shape = getattr(primitive, kind)
        cylinder = entity.cylinders.add(color=_color(rgba), bottom_scale=1.0, top_scale=1.0)
        _set_pose(cylinder.pose, pose)
        cylinder.size.x = cylinder.size.y = 2 * shape.radius
        cylinder.size.z = shape.height
        if kind == "capsule":
            for end in (-0.5, 0.5):
                end_pose = kinematics.compose(pose, Pose((0.0, 0.0, end * shape.height), kinematics.IDENTITY.q))
                add_sphere(entity, end_pose, shape.radius, rgba)


def add_sphere(entity: Any, pose: Pose, radius: float, rgba: Tuple[float, float, float, float]) -> None:
    sphere = entity.spheres.add(color=_color(rgba))
    _set_pose(sphere.pose, pose)
    sphere.size.x = sphere.size.y = sphere.size.z = 2 * radius


def new_entity(update: Any, entity_id: str, frame: str, t_ns: int) -> Any:
    return update.entities.add(timestamp=timestamp(t_ns), frame_id=frame, id=entity_id, frame_locked=True)


def add_label(entity: Any, text: str) -> None:
    label = entity.texts.add(billboard=True, font_size=LABEL_SIZE_PX, scale_invariant=True, text=text,
                             color=_color(MARKER_PLATE_COLOR))
    label.pose.orientation.w = 1.0


def body_entity(update: Any, entity_id: str, frame: str, body: dynamics_pb2.Body, label: str, t_ns: int,
                placeholder: bool) -> None:
    """A body's obstacle shapes in its frame; a labelled small sphere when it has none and `placeholder`."""
    if not body.obstacles and not placeholder:
        return
    entity = new_entity(update, entity_id, frame, t_ns)
    for obstacle in body.obstacles:
        add_primitive(entity, pose_or_identity(obstacle, "pose"), obstacle.primitive, ITEM_COLOR)
    if not body.obstacles:
        add_sphere(entity, kinematics.IDENTITY, PLACEHOLDER_RADIUS_M, ITEM_COLOR)
    add_label(entity, label)


def region_entity(update: Any, entity_id: str, frame: str, region: task_pb2.TaskRegionConfig, label: str,
                  t_ns: int) -> None:
    low, high = region.min.linear, region.max.linear
    entity = new_entity(update, entity_id, frame, t_ns)
    cube = entity.cubes.add(color=_color(REGION_COLOR))
    cube.pose.position.x, cube.pose.position.y, cube.pose.position.z = (
        (low.x + high.x) / 2, (low.y + high.y) / 2, (low.z + high.z) / 2)
    cube.pose.orientation.w = 1.0
    cube.size.x, cube.size.y, cube.size.z = high.x - low.x, high.y - low.y, high.z - low.z
    add_label(entity, label)


def marker_entity(update: Any, entity_id: str, frame: str, length_m: float, label: str, t_ns: int) -> None:
    entity = new_entity(update, entity_id, frame, t_ns)
    plate = entity.cubes.add(color=_color(MARKER_PLATE_COLOR))
    plate.pose.orientation.w = 1.0
    plate.size.x = plate.size.y = length_m
    plate.size.z = MARKER_THICKNESS_M
    add_label(entity, label)


def link_lines(update: Any, entity_id: str, robot: str, chain: dynamics_pb2.Chain, t_ns: int) -> None:
    """The arm as lines from each body's origin to its children's joints, one entity per body, in its frame."""
    children: Dict[str, List[Tuple[float, float, float]]] = {}
    for joint in chain.joints:
        position = joint.pose.position
        children.setdefault(joint.parent, []).append((position.x, position.y, position.z))
    for body, ends in children.items():
        entity = new_entity(update, "%s/%s" % (entity_id, body), link_frame(robot, body), t_ns)
        for end in ends:
            line = entity.lines.add(type=schemas().LinePrimitive.LINE_STRIP, thickness=LINK_LINE_PX, scale_invariant=True, color=_color(LINK_COLOR))
            line.pose.orientation.w = 1.0
            line.points.add(x=0.0, y=0.0, z=0.0)
            line.points.add(x=end[0], y=end[1], z=end[2])
