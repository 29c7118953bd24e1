"""The viewer channels of an MCAP recording (`ostrel.records.mcap`): products,
events and projects converted to the well-known visualisation schemas
(package foxglove-schemas-protobuf), beside their lossless channels:

    /viz/camera/<camera>/image       foxglove.RawImage (raw pixel layouts)
    /viz/camera/<camera>/compressed  foxglove.CompressedImage (jpeg, png)
    /viz/camera/<camera>/markers     foxglove.ImageAnnotations (marker corners and ids)
    /viz/tf                          foxglove.FrameTransforms (camera and marker poses, parent `world`)
    /viz/log                         foxglove.Log (one line per event: failed steps are errors)
    /viz/joints/<robot>/reference    ostrel.viewer.JointPositions (controller products)
    /viz/joints/<robot>/feedback     ostrel.viewer.JointPositions
    /viz/joints/<owner>/simulated    ostrel.viewer.JointPositions (simulator products)
"""

from functools import lru_cache
from typing import Any, Callable, Dict, Iterable, Sequence, Tuple

from google.protobuf import descriptor_pb2, descriptor_pool, message_factory, timestamp_pb2
from google.protobuf.message import Message as ProtoMessage

from ostrel import wire
from ostrel.api import math_pb2, perception_pb2, project_pb2, workspace_pb2
from ostrel.records import joint_rows, png, set_events
from ostrel.records.sets import ImageHead

Warn = Callable[[str], None]
# Writes one message on a channel: topic, message class, serialized message, time.
AddMessage = Callable[[str, Any, bytes, int], None]

WORLD_FRAME = "world"
ERR_IMAGE = "%s: image %s: %s; kept on its lossless channel only"

JOINTS_FILE = "ostrel/viewer/joints.proto"
JOINTS_TYPE = "ostrel.viewer.JointPositions"
_F = descriptor_pb2.FieldDescriptorProto
# (message, [(field, number, type, repeated, message type)]) of our own small joint message.
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


def timestamp(ns: int) -> timestamp_pb2.Timestamp:
    return timestamp_pb2.Timestamp(seconds=ns // 1_000_000_000, nanos=ns % 1_000_000_000)


LOG_LEVELS = {"SUCCESS": "INFO", "FAILURE": "ERROR"}  # anything else (never ended, no status): WARNING
MARKER_COLOR = (0.1, 0.9, 0.2, 1.0)
MARKER_TEXT_SIZE = 14.0
MARKER_LINE_PX = 2.0


class Viewer:
    """Writes the viewer channels; ImportError without foxglove-schemas-protobuf."""

    def __init__(self, add: AddMessage, warn: Warn) -> None:
        from foxglove_schemas_protobuf import (
            Color_pb2,
            CompressedImage_pb2,
            FrameTransforms_pb2,
            ImageAnnotations_pb2,
            Log_pb2,
            Point2_pb2,
            PointsAnnotation_pb2,
            RawImage_pb2,
        )

        self.add = add
        self.warn = warn
        self.color = Color_pb2.Color
        self.compressed = CompressedImage_pb2.CompressedImage
        self.transforms = FrameTransforms_pb2.FrameTransforms
        self.annotations = ImageAnnotations_pb2.ImageAnnotations
        self.log_class = Log_pb2.Log
        self.point = Point2_pb2.Point2
        self.line_loop = PointsAnnotation_pb2.PointsAnnotation.LINE_LOOP
        self.raw = RawImage_pb2.RawImage
        self.joints: Any = joint_positions_class()

    def _add(self, topic: str, message: ProtoMessage, time_ns: int) -> None:
        self.add(topic, type(message), message.SerializeToString(), time_ns)

    def poses(self, time_ns: int, poses: Iterable[Tuple[str, math_pb2.Pose3]]) -> None:
        """(frame, Pose3) pairs as one FrameTransforms message."""
        message = self.transforms()
        for frame, pose in poses:
            transform = message.transforms.add(timestamp=timestamp(time_ns), parent_frame_id=WORLD_FRAME,
                                               child_frame_id=frame)
            position = pose.position
            transform.translation.x, transform.translation.y, transform.translation.z = (
                position.x, position.y, position.z)
            identity = not (pose.qw or pose.qx or pose.qy or pose.qz)  # unset orientation: the identity
            rotation = transform.rotation
            rotation.w, rotation.x, rotation.y, rotation.z = (1.0, 0.0, 0.0, 0.0) if identity else (
                pose.qw, pose.qx, pose.qy, pose.qz)
        if message.transforms:
            self._add("/viz/tf", message, time_ns)

    def workspace_poses(self, time_ns: int, state: workspace_pb2.WorkspaceState) -> None:
        self.poses(time_ns, [*((key, state.cameras[key].base_pose) for key in sorted(state.cameras)),
                             *((key, state.fiducials[key].base_pose) for key in sorted(state.fiducials))])

    def _add_with_data(self, topic: str, message: ProtoMessage, data: bytes, time_ns: int) -> None:
        """The message with its `data` field appended to its serialized form,
        so that the pixels, a view of the answer, are copied once."""
        number = message.DESCRIPTOR.fields_by_name["data"].number
        encoded = b"".join((message.SerializeToString(), wire.field_head(number, len(data)), data))
        self.add(topic, type(message), encoded, time_ns)

    def images(self, time_ns: int, heads: Iterable[ImageHead], label: str) -> None:
        for head in heads:
            image = head.image
            stamp = int(image.timestamp_ns or time_ns)
            compressed = image.encoding.lower()
            try:
                if compressed in png.COMPRESSED:
                    if not head.data:
                        raise png.ImageError(png.ERR_LENGTH % (0, image.width, image.height, image.encoding,
                                                               image.step, 1))
                    message: ProtoMessage = self.compressed(timestamp=timestamp(stamp), frame_id=image.camera,
                                                            format=compressed)
                    self._add_with_data("/viz/camera/%s/compressed" % image.camera, message, head.data, stamp)
                    continue
                raw = png.check_raw(image.encoding, image.width, image.height, image.step, head.data)
            except png.ImageError as error:
                self.warn(ERR_IMAGE % (label, "%s at %d ns" % (image.camera or "(no camera)", stamp), error))
                continue
            message = self.raw(timestamp=timestamp(stamp), frame_id=image.camera, width=raw.width,
                               height=raw.height, encoding=image.encoding, step=raw.step)
            self._add_with_data("/viz/camera/%s/image" % image.camera, message, head.data, stamp)

    def perception(self, time_ns: int, products: perception_pb2.PerceptionProducts) -> None:
        self.poses(time_ns, [(key, products.camera_poses[key]) for key in sorted(products.camera_poses)])
        cameras: Dict[str, Any] = {}
        r, g, b, a = MARKER_COLOR
        for marker in products.detected_markers:
            annotations = cameras.setdefault(marker.camera, self.annotations())
            points = [self.point(x=c.x, y=c.y) for c in marker.corners]
            annotations.points.add(timestamp=timestamp(time_ns), type=self.line_loop, points=points,
                                   outline_color=self.color(r=r, g=g, b=b, a=a), thickness=MARKER_LINE_PX)
            if points:
                annotations.texts.add(timestamp=timestamp(time_ns), position=points[0], text="id %d" % marker.id,
                                      font_size=MARKER_TEXT_SIZE, text_color=self.color(r=r, g=g, b=b, a=a),
                                      background_color=self.color(r=0, g=0, b=0, a=0.6))
        for camera, annotations in cameras.items():
            self._add("/viz/camera/%s/markers" % camera, annotations, time_ns)

    def joint_positions(self, topic: str, time_ns: int, owner: str, names: Sequence[str],
                        positions: Sequence[float], velocities: Sequence[float] = ()) -> None:
        message = self.joints(owner=owner)
        message.timestamp.seconds, message.timestamp.nanos = divmod(time_ns, 1_000_000_000)
        for i, name in enumerate(names):
            message.joints.add(name=name, position=positions[i],
                               velocity=velocities[i] if i < len(velocities) else 0.0)
        self._add(topic, message, time_ns)

    def controller(self, time_ns: int, products: Any, project: project_pb2.ProjectSnapshot) -> None:
        for side, state in (("reference", products.reference), ("feedback", products.feedback)):
            positions = list(state.joint.positions.data)
            if positions:
                names = joint_rows.joint_names(project, products.robot, len(positions))
                self.joint_positions("/viz/joints/%s/%s" % (products.robot, side), time_ns, products.robot, names,
                                     positions, list(state.joint.velocities.data))

    def simulator(self, time_ns: int, products: Any, project: project_pb2.ProjectSnapshot) -> None:
        state = products.workspace_state
        for owners in (state.robots, state.effectors):
            for key in sorted(owners):
                positions = list(owners[key].joint_positions.data)
                if positions:
                    self.joint_positions("/viz/joints/%s/simulated" % key, time_ns, key,
                                         joint_rows.joint_names(project, key, len(positions)), positions)
        self.workspace_poses(time_ns, state)

    def log(self, time_ns: int, event: set_events.Event) -> None:
        level = self.log_class.Level.Value(LOG_LEVELS.get(event.status, "WARNING"))
        text = "%s %s" % (event.status, event.step or event.action_type or "(no action)")
        message = self.log_class(timestamp=timestamp(time_ns), level=level, name=event.name,
                                 message="%s: %s" % (text, event.message) if event.message else text)
        self._add("/viz/log", message, time_ns)

