"""The viewer channels of an MCAP recording (`ostrel.records.mcap`): each
record set's scene (`ostrel.records.scene`, where the channels are listed)
built from its project, its static messages at the set's start, then the
messages of each product and event at its time, beside the lossless
channels."""

from typing import Any, Callable, Iterable, Optional

from google.protobuf.message import Message as ProtoMessage

from ostrel import wire
from ostrel.api import project_pb2
from ostrel.records import png, set_events
from ostrel.records.scene import Out, Scene
from ostrel.records.scene_parts import WORLD_FRAME, schemas
from ostrel.records.sets import ImageHead

Warn = Callable[[str], None]
# Writes one message on a channel: topic, message class, serialized message, time.
AddMessage = Callable[[str, Any, bytes, int], None]

ERR_IMAGE = "%s: image %s: %s; kept on its lossless channel only"

__all__ = ["Viewer", "WORLD_FRAME", "ERR_IMAGE"]


class Viewer:
    """Writes the viewer channels; ImportError without the visualisation schemas."""

    def __init__(self, add: AddMessage, warn: Warn) -> None:
        schemas()
        self.add = add
        self.warn = warn
        self.scene: Optional[Scene] = None

    def _write(self, time_ns: int, out: Out) -> None:
        for topic, message in out:
            self.add(topic, type(message), message.SerializeToString(), time_ns)

    def _add_with_data(self, topic: str, message: ProtoMessage, data: bytes, time_ns: int) -> None:
        """The message with its `data` field appended to its serialized form,
        so that the pixels, a view of the answer, are copied once."""
        number = message.DESCRIPTOR.fields_by_name["data"].number
        encoded = b"".join((message.SerializeToString(), wire.field_head(number, len(data)), data))
        self.add(topic, type(message), encoded, time_ns)

    def start(self, time_ns: int, project: project_pb2.ProjectSnapshot) -> None:
        """A record set's scene, from its project: its static messages at the set's start."""
        self.scene = Scene(project, self.warn)
        self._write(time_ns, self.scene.static(time_ns))

    def _scene(self) -> Scene:
        if self.scene is None:  # a record set without a project: an empty cell
            self.scene = Scene(project_pb2.ProjectSnapshot(), self.warn)
        return self.scene

    def images(self, time_ns: int, heads: Iterable[ImageHead], label: str) -> None:
        scene = self._scene()
        for head in heads:
            image = head.image
            stamp = int(image.timestamp_ns or time_ns)
            try:
                (topic, message), *rest = scene.image(time_ns, image, head.data, with_pixels=False)
            except png.ImageError as error:
                self.warn(ERR_IMAGE % (label, "%s at %d ns" % (image.camera or "(no camera)", stamp), error))
                continue
            self._add_with_data(topic, message, head.data, stamp)
            self._write(stamp, rest)

    def perception(self, time_ns: int, products: Any) -> None:
        self._write(time_ns, self._scene().perception(time_ns, products))

    def controller(self, time_ns: int, products: Any) -> None:
        self._write(time_ns, self._scene().controller(time_ns, products))

    def simulator(self, time_ns: int, products: Any) -> None:
        linkages = products.workspace_linkages if products.HasField("workspace_linkages") else None
        self._write(time_ns, self._scene().workspace(time_ns, products.workspace_state, linkages))

    def planner(self, time_ns: int, products: Any) -> None:
        """Planned trajectories have no viewer channel of their own (their lossless one only)."""

    def log(self, time_ns: int, event: set_events.Event) -> None:
        self._write(time_ns, self._scene().log(time_ns, event))
