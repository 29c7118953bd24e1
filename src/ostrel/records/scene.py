"""One scene model of the cell: from a project and a stream of products or
system states, the messages a robotics viewer shows, in the well-known
visualisation schemas (package foxglove-schemas-protobuf, extra `mcap`).
The MCAP export (`ostrel.records.mcap`) writes them into recordings and a
live server can publish them as states arrive: both serialize the same
message objects.

    scene = Scene(project)             # once per project (per record set)
    scene.channels()                   # [Channel(topic, schema_name, schema, encoding)], to advertise
    scene.static(t_ns)                 # [(topic, message)] that never change: fixed frames, entities, calibration
    scene.from_state(state, t_ns)      # [(topic, message)] of a SystemState (live)
    scene.workspace(t_ns, state, linkages), scene.controller(t_ns, products),
    scene.perception(t_ns, products), scene.image(t_ns, image), scene.log(t_ns, event)
                                       # [(topic, message)] of one recorded product or event

Channels (every message's `frame_id` names a frame of `/viz/tf`):

    /viz/tf                              FrameTransforms: what moves (robot base and links, free
                                         effectors, items, cameras, markers); held items
                                         re-parented under the effector that holds them
    /viz/tf_static                       FrameTransforms: fixed frames (tools, mounted effectors,
                                         task regions, crop views, chains' root bodies)
    /viz/scene                           SceneUpdate: items' and bodies' obstacle shapes (a labelled
                                         small sphere for an item without one), the arms as lines
                                         joint to joint, markers as plates, task regions as boxes
    /viz/camera/<camera>/image           RawImage of the camera's preview (CompressedImage on
    /viz/camera/<camera>/compressed      .../compressed for jpeg and png), frame `<camera>`
    /viz/camera/<camera>/calibration     CameraCalibration: the intrinsics scaled to the preview
    /viz/camera/<camera>/markers         ImageAnnotations: detected markers in the preview's pixels
    /viz/camera/<camera>/crop/<region>   RawImage of a perspective crop of a task region, frame
                                         `<camera>/crop/<region>`: a pinhole looking square-on at
                                         the region, so a 3-D view lays the crop onto it
    /viz/camera/<camera>/crop/<region>/calibration   CameraCalibration of that pinhole
    /viz/joints/<robot>/reference        joint states of the controller's reference, feedback
    /viz/joints/<robot>/feedback
    /viz/joints/<owner>/simulated        joint states of the workspace state (robots, effectors)
    /viz/log                             Log: one line per event, failed steps as errors

Joint states are foxglove.JointStates where the installed schema package has
it (0.4 and later, Python 3.10 and later), else ostrel.viewer.JointPositions
(ours, same `joints[].name/position/velocity`). A crop whose size the
project's crop steps give for two regions of one camera, or for none, goes
to `/viz/camera/<camera>/crop/<width>x<height>` with no calibration; two
sizes for one region get the size appended to the region's topic and frame.

Frames: `world` > `<robot>` (its base) > `<robot>/<body>` for each body of
its chain, parent body to child > `<robot>/tool/<tool>` and the effector
mounted on the robot (at its flange), under the flange body; `<item>`,
`<camera>`, `<marker>`, `<region>` and free effectors under `world`.
"""

from typing import Any, Dict, Iterable, List, NamedTuple, Optional, Sequence, Set, Tuple

from google.protobuf import descriptor_pb2
from google.protobuf.descriptor import Descriptor, FileDescriptor

from ostrel import kinematics, wire
from ostrel.api import dynamics_pb2, image_pb2, perception_pb2, project_pb2, system_pb2, workspace_pb2
from ostrel.protocol.project_limits import preview_size
from ostrel.kinematics import Pose
from ostrel.records import png, set_events
from ostrel.records import scene_parts as parts
from ostrel.records.scene_parts import WORLD_FRAME, schemas, timestamp
from ostrel.records.scene_robots import Robots

MESSAGE_ENCODING = "protobuf"
TF_TOPIC = "/viz/tf"
TF_STATIC_TOPIC = "/viz/tf_static"
SCENE_TOPIC = "/viz/scene"
LOG_TOPIC = "/viz/log"
JOINT_SIDES = ("reference", "feedback", "simulated")

LOG_LEVELS = {"SUCCESS": "INFO", "FAILURE": "ERROR"}  # anything else (never ended, no status): WARNING
MARKER_COLOR = (0.1, 0.9, 0.2, 1.0)
MARKER_TEXT_SIZE = 14.0
MARKER_LINE_PX = 2.0

Out = List[Tuple[str, Any]]  # (topic, message) pairs, in the order to publish them

_SET_FILE = descriptor_pb2.FileDescriptorSet.DESCRIPTOR.fields_by_name["file"].number


def descriptor_set(message: Descriptor) -> bytes:
    """The serialized FileDescriptorSet of a message type: its file and every
    file that file imports, imports first, each as its pool holds it."""
    seen: Dict[str, bool] = {}
    pieces: List[bytes] = []

    def add(file: FileDescriptor) -> None:
        if file.name not in seen:
            seen[file.name] = True
            for dependency in file.dependencies:
                add(dependency)
            pieces.append(wire.field(_SET_FILE, file.serialized_pb))

    add(message.file)
    return b"".join(pieces)


class Channel(NamedTuple):
    topic: str
    schema_name: str  # full name of the message type
    schema: bytes  # serialized FileDescriptorSet of the type, dependencies included
    encoding: str = MESSAGE_ENCODING


def camera_topic(camera: str, leaf: str) -> str:
    return "/viz/camera/%s/%s" % (camera, leaf)


def joints_topic(owner: str, side: str) -> str:
    return "/viz/joints/%s/%s" % (owner, side)


class ImageRoute(NamedTuple):
    topic: str  # of the raw image; its compressed form replaces the last part
    frame: str
    pinhole: Optional[parts.Pinhole]  # at the image's size; None: no calibration
    calibration_topic: str


class Scene:
    """The viewer messages of one project's cell; see the module's text.
    ImportError naming the extra without the visualisation schemas."""

    def __init__(self, project: project_pb2.ProjectSnapshot, warn: set_events.Warn = lambda text: None) -> None:
        self.s = schemas()
        self.warn = warn
        config = project.workspace.config
        self.config = config
        self.robots = Robots(project, warn)
        self.cameras = {key: parts.camera_pinhole(config.cameras[key].intrinsics) for key in sorted(config.cameras)}
        self.previews = {key: preview_size(config.cameras[key].intrinsics) for key in self.cameras}
        # Each camera's own channel at its preview size, with the pinhole scaled to it.
        self.preview_routes = {key: self._camera_route(key, pinhole.scaled(*self.previews[key]))
                               for key, pinhole in self.cameras.items() if pinhole is not None}
        self.crops = self._crop_routes(project)
        self.state = workspace_pb2.WorkspaceState()
        self.state.CopyFrom(project.workspace.state)
        self.robots.hold(self.state, project.workspace.linkages)

    # What the scene publishes --------------------------------------------------------

    def channels(self) -> List[Channel]:
        """Every channel the scene can publish for this project, in a stable order."""
        s = self.s
        found: List[Tuple[str, Any]] = [(TF_TOPIC, s.FrameTransforms), (TF_STATIC_TOPIC, s.FrameTransforms),
                                        (SCENE_TOPIC, s.SceneUpdate), (LOG_TOPIC, s.Log)]
        for camera in self.cameras:
            found += [(camera_topic(camera, "image"), s.RawImage), (camera_topic(camera, "compressed"),
                                                                    s.CompressedImage),
                      (camera_topic(camera, "calibration"), s.CameraCalibration),
                      (camera_topic(camera, "markers"), s.ImageAnnotations)]
        for route in sorted(set(self.crops.values())):
            found.append((route.topic, s.RawImage))
            if route.pinhole is not None:
                found.append((route.calibration_topic, s.CameraCalibration))
        for owner, sides in self.robots.joint_owners():
            found += [(joints_topic(owner, side), s.JointStates) for side in sides]
        return [Channel(topic, str(cls.DESCRIPTOR.full_name), descriptor_set(cls.DESCRIPTOR)) for topic, cls in found]

    def static(self, t_ns: int) -> Out:
        """The messages that do not change: fixed frames, entities, calibration at each image size."""
        out: Out = []
        frames = self.robots.static_frames()
        for key in sorted(self.config.task_regions):
            region = self.config.task_regions[key]
            pose = parts.pose_or_identity(region, "pose") if region.HasField("pose") else (
                parts.pose_or_identity(self.state.task_regions[key], "base_pose")
                if key in self.state.task_regions else kinematics.IDENTITY)
            frames.append((WORLD_FRAME, key, pose))
        frames += self.crop_frames
        out.append((TF_STATIC_TOPIC, self.transforms(t_ns, frames)))
        out.append((SCENE_TOPIC, self.entities(t_ns)))
        for route in [*self.preview_routes.values(), *sorted(set(self.crops.values()))]:
            if route.pinhole is not None:
                out.append((route.calibration_topic, parts.calibration(route.pinhole, route.frame, t_ns)))
        return out + self.workspace(t_ns, self.state, None)

    def entities(self, t_ns: int) -> Any:
        """Every entity of the cell, after a deletion of those shown before (another project's)."""
        update = self.s.SceneUpdate()
        update.deletions.add(timestamp=timestamp(t_ns), type=self.s.SceneEntityDeletion.ALL)
        config = self.config
        for key in sorted(config.items):
            item = config.items[key]
            body = item.custom_item.body if item.HasField("custom_item") else None
            parts.body_entity(update, "item/%s" % key, key, body or dynamics_pb2.Body(), key, t_ns, True)
        self.robots.entities(update, t_ns)
        for key in sorted(config.fiducials):
            if config.fiducials[key].HasField("visual_marker"):
                marker = config.fiducials[key].visual_marker
                parts.marker_entity(update, "marker/%s" % key, key, marker.marker_length_m,
                                    "%s (id %d)" % (key, marker.tag_id), t_ns)
        for key in sorted(config.task_regions):
            parts.region_entity(update, "region/%s" % key, key, config.task_regions[key], key, t_ns)
        return update

    # States and products ------------------------------------------------------------

    def from_state(self, state: system_pb2.SystemState, t_ns: int) -> Out:
        """The messages of a system state: the workspace's frames and joints,
        the latest products' joints, markers and images."""
        out = self.workspace(t_ns, state.workspace, None)
        if state.HasField("controller"):
            out += self.controller(t_ns, state.controller, frames=False)
        if state.HasField("perception"):
            out += self.perception(t_ns, state.perception)
        for image in state.images.images:
            try:
                out += self.image(t_ns, image)
            except png.ImageError as error:
                self.warn(str(error))
        return out

    def workspace(self, t_ns: int, state: workspace_pb2.WorkspaceState,
                  linkages: Optional[workspace_pb2.WorkspaceLinkages]) -> Out:
        """A workspace state (the simulator's, or the system's): every frame
        that moves and the joints of robots and effectors. With `linkages`,
        the items they name are held from here on and the others let go."""
        if state is not self.state:
            self.state.CopyFrom(state)
        if linkages is not None:
            self.robots.hold(state, linkages)
        out: Out = [(TF_TOPIC, self.transforms(t_ns, self.robots.moving_frames(state)))]
        for owners in (state.robots, state.effectors):
            for key in sorted(owners):
                positions = owners[key].joint_positions.data
                if positions:
                    out.append((joints_topic(key, "simulated"),
                                self.joint_states(t_ns, key, self.robots.joint_names(key, len(positions)), positions)))
        return out

    def controller(self, t_ns: int, products: Any, frames: bool = True) -> Out:
        """A controller's products: reference and feedback joints, and the
        robot's links (with what it holds) where the feedback puts them."""
        out: Out = []
        robot = str(products.robot)
        for side, state in (("reference", products.reference), ("feedback", products.feedback)):
            positions = state.joint.positions.data
            if positions:
                out.append((joints_topic(robot, side), self.joint_states(
                    t_ns, robot, self.robots.joint_names(robot, len(positions)), positions,
                    state.joint.velocities.data)))
        moved = products.feedback.joint.positions.data or products.reference.joint.positions.data
        if frames and moved and robot in self.state.robots:
            self.state.robots[robot].joint_positions.data[:] = moved
            out.append((TF_TOPIC, self.transforms(t_ns, self.robots.robot_frames(robot, self.state.robots[robot]))))
        return out

    def perception(self, t_ns: int, products: perception_pb2.PerceptionProducts) -> Out:
        """Cameras' poses and the detected markers, drawn in the pixels of each camera's preview."""
        out: Out = []
        poses = [(WORLD_FRAME, key, kinematics.from_pose3(products.camera_poses[key]))
                 for key in sorted(products.camera_poses)]
        for key, pose in ((k, products.camera_poses[k]) for k in products.camera_poses):
            if key in self.state.cameras:
                self.state.cameras[key].base_pose.CopyFrom(pose)
        if poses:
            out.append((TF_TOPIC, self.transforms(t_ns, poses)))
        cameras: Dict[str, Any] = {}
        r, g, b, a = MARKER_COLOR
        s = self.s
        for marker in products.detected_markers:
            sx, sy = self._preview_scale(marker.camera)
            annotations = cameras.setdefault(marker.camera, s.ImageAnnotations())
            points = [s.Point2(x=c.x * sx, y=c.y * sy) for c in marker.corners]
            annotations.points.add(timestamp=timestamp(t_ns), type=s.PointsAnnotation.LINE_LOOP, points=points,
                                   outline_color=s.Color(r=r, g=g, b=b, a=a), thickness=MARKER_LINE_PX)
            if points:
                annotations.texts.add(timestamp=timestamp(t_ns), position=points[0], text="id %d" % marker.id,
                                      font_size=MARKER_TEXT_SIZE, text_color=s.Color(r=r, g=g, b=b, a=a),
                                      background_color=s.Color(r=0, g=0, b=0, a=0.6))
        out += [(camera_topic(camera, "markers"), annotations) for camera, annotations in cameras.items()]
        return out

    def image(self, t_ns: int, image: image_pb2.Image, data: Optional[bytes] = None,
              with_pixels: bool = True) -> Out:
        """An image (its pixels `data`, else `image.data`) on its channel,
        first, then its calibration at its size. Without `with_pixels` the
        image message has no data (a writer appends it to the serialized
        message itself). png.ImageError for pixels that do not fit the image."""
        pixels = image.data if data is None else data
        stamp = int(image.timestamp_ns or t_ns)
        route = self.route(image.camera, image.width, image.height)
        encoding = image.encoding.lower()
        s = self.s
        if encoding in png.COMPRESSED:
            if not pixels:
                raise png.ImageError(png.ERR_LENGTH % (0, image.width, image.height, image.encoding, image.step, 1))
            message = s.CompressedImage(timestamp=timestamp(stamp), frame_id=route.frame, format=encoding)
            topic = route.topic.rsplit("/", 1)[0] + "/compressed" if route.topic.endswith("/image") else route.topic
        else:
            raw = png.check_raw(image.encoding, image.width, image.height, image.step, pixels)
            message = s.RawImage(timestamp=timestamp(stamp), frame_id=route.frame, width=raw.width,
                                 height=raw.height, encoding=image.encoding, step=raw.step)
            topic = route.topic
        if with_pixels:
            message.data = bytes(pixels)
        out: Out = [(topic, message)]
        if route.pinhole is not None:
            out.append((route.calibration_topic, parts.calibration(route.pinhole, route.frame, stamp)))
        return out

    def log(self, t_ns: int, event: set_events.Event) -> Out:
        log = self.s.Log
        level = log.Level.Value(LOG_LEVELS.get(event.status, "WARNING"))
        text = "%s %s" % (event.status, event.step or event.action_type or "(no action)")
        return [(LOG_TOPIC, log(timestamp=timestamp(t_ns), level=level, name=event.name,
                                message="%s: %s" % (text, event.message) if event.message else text))]

    # Helpers --------------------------------------------------------------------------

    def transforms(self, t_ns: int, frames: Iterable[Tuple[str, str, Pose]]) -> Any:
        """(parent, child, pose) triples as one FrameTransforms message."""
        message = self.s.FrameTransforms()
        stamp = timestamp(t_ns)
        for parent, child, pose in frames:
            transform = message.transforms.add(timestamp=stamp, parent_frame_id=parent, child_frame_id=child)
            translation, rotation = transform.translation, transform.rotation
            translation.x, translation.y, translation.z = pose.p
            rotation.w, rotation.x, rotation.y, rotation.z = pose.q
        return message

    def joint_states(self, t_ns: int, owner: str, names: Sequence[str], positions: Sequence[float],
                     velocities: Sequence[float] = ()) -> Any:
        message = self.s.JointStates()  # ours lives in a pool of its own: its Timestamp is another class
        message.timestamp.seconds, message.timestamp.nanos = divmod(t_ns, 1_000_000_000)
        if self.s.own_joints:
            message.owner = owner
        for i, name in enumerate(names):
            message.joints.add(name=name, position=positions[i],
                               velocity=velocities[i] if i < len(velocities) else 0.0)
        return message

    def route(self, camera: str, width: int, height: int) -> ImageRoute:
        """Where an image of a camera at a size goes: the camera's own channel
        for its preview size (or any size of a camera without intrinsics), a
        crop channel otherwise."""
        pinhole = self.cameras.get(camera)
        if pinhole is None:
            return self._camera_route(camera, None)
        if (width, height) == self.previews[camera]:
            return self.preview_routes[camera]
        found = self.crops.get((camera, width, height))
        if found is not None:
            return found
        name = "%dx%d" % (width, height)
        return ImageRoute(camera_topic(camera, "crop/" + name), parts.crop_frame(camera, name), None, "")

    @staticmethod
    def _camera_route(camera: str, pinhole: Optional[parts.Pinhole]) -> ImageRoute:
        return ImageRoute(camera_topic(camera, "image"), camera, pinhole, camera_topic(camera, "calibration"))

    def _preview_scale(self, camera: str) -> Tuple[float, float]:
        pinhole = self.cameras.get(camera)
        if pinhole is None:
            return 1.0, 1.0
        width, height = self.previews[camera]
        return width / pinhole.width, height / pinhole.height

    def _crop_view(self, crop: parts.Crop) -> Optional[Tuple[Pose, parts.Pinhole]]:
        if crop.region not in self.config.task_regions:
            return None
        return parts.crop_view(crop, self.config.task_regions[crop.region])

    def _crop_routes(self, project: project_pb2.ProjectSnapshot) -> Dict[Tuple[str, int, int], ImageRoute]:
        """The route of each crop the project takes, by (camera, width, height),
        for those sizes that name one region of the camera."""
        crops = parts.crop_steps(project)
        regions: Dict[Tuple[str, int, int], Set[str]] = {}
        sizes: Dict[Tuple[str, str], Set[Tuple[int, int]]] = {}
        for crop in crops:
            regions.setdefault((crop.camera, crop.width, crop.height), set()).add(crop.region)
        for crop in crops:
            if len(regions[crop.camera, crop.width, crop.height]) == 1:
                sizes.setdefault((crop.camera, crop.region), set()).add((crop.width, crop.height))
        routes: Dict[Tuple[str, int, int], ImageRoute] = {}
        self.crop_frames: List[Tuple[str, str, Pose]] = []
        for crop in crops:
            key = (crop.camera, crop.width, crop.height)
            if len(regions[key]) != 1 or key[1:] == self.previews.get(crop.camera) or key in routes:
                continue
            name = crop.region if len(sizes[crop.camera, crop.region]) == 1 else "%s/%dx%d" % (
                crop.region, crop.width, crop.height)
            view_pose = self._crop_view(crop)
            topic = camera_topic(crop.camera, "crop/" + name)
            routes[key] = ImageRoute(topic, parts.crop_frame(crop.camera, name),
                                     None if view_pose is None else view_pose[1], topic + "/calibration")
            if view_pose is not None:
                self.crop_frames.append((crop.region, routes[key].frame, view_pose[0]))
        return routes

