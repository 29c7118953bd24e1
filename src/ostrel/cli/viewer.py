"""`ostrel watch --viewer`: the cell's scene (`ostrel.records.scene`) served
live to robotics viewers over their WebSocket protocol, by the foxglove SDK
(extra `live`).

The channels are the scene's, with its protobuf schemas, advertised when the
server starts and again when the project changes. Each poll's messages are
published as they come, camera images only when their pixels changed. The
static scene (frames, entities, calibrations) is published once, and again
on a channel whenever a viewer subscribes to it, so that a viewer that comes
in mid-run has it at once."""

import threading
import time
from typing import Any, Dict, Iterable, List, Optional, Tuple

from ostrel.client import is_loopback_host

ERR_MISSING_SDK = 'ostrel watch --viewer needs the foxglove SDK: pip install "ostrel[live]" (%s)'
ERR_EXPOSED = ("refusing to serve the viewer on %s: anyone on the network could watch the cell; give "
               "--viewer-insecure to accept that")
ERR_LISTEN = "cannot serve the viewer on %s port %d: %s"
EXPOSED_NOTE = "serving the viewer on %s without TLS or login (--viewer-insecure): anyone who reaches it may watch"
SERVING_NOTE = "serving the scene to viewers at ws://%s:%d"
SERVER_NAME = "ostrel watch"
# Schemas whose messages carry a camera's pixels in a field named `data`:
# published only when those change.
IMAGE_SCHEMAS = frozenset({"foxglove.RawImage", "foxglove.CompressedImage"})

Message = Any  # a protobuf message of the visualisation schemas
TopicMessages = Iterable[Tuple[str, Message]]


def check_viewer_host(host: str, insecure: bool) -> bool:
    """True when the viewer would be served beyond this machine, as
    `insecure` allows; ValueError when it does not."""
    if is_loopback_host(host):
        return False
    if not insecure:
        raise ValueError(ERR_EXPOSED % host)
    return True


def import_sdk() -> Any:
    """The foxglove SDK; ImportError naming the extra when it is missing."""
    try:
        import foxglove
        from foxglove import websocket  # noqa: F401  (the server's part; absent from some builds)
    except ImportError as error:
        raise ImportError(ERR_MISSING_SDK % error) from None
    return foxglove


def _listener_class(sdk: Any) -> Any:
    """A server listener that hands each new subscription to `LiveViewer.subscribed`."""

    class Listener(sdk.websocket.ServerListener):  # type: ignore[misc, name-defined, unused-ignore]
        def __init__(self, viewer: "LiveViewer") -> None:
            self.viewer = viewer

        def on_subscribe(self, client: Any, channel: Any) -> None:
            self.viewer.subscribed(str(channel.topic))

        def on_unsubscribe(self, client: Any, channel: Any) -> None:
            pass

    return Listener


class LiveViewer:
    """The scene on a WebSocket server of the foxglove SDK."""

    def __init__(self, host: str, port: int) -> None:
        self.sdk = import_sdk()
        self.context: Any = self.sdk.Context()
        self._lock = threading.Lock()  # the channels and the static scene, also read by the SDK's threads
        self._channels: Dict[str, Any] = {}
        self._static: Dict[str, List[bytes]] = {}
        self._pixels: Dict[str, bytes] = {}  # the image last published on each image channel
        self._images: frozenset = frozenset()  # the image channels' topics
        self.published = 0
        try:
            self.server: Any = self.sdk.start_server(name=SERVER_NAME, host=host, port=port, context=self.context,
                                                     server_listener=_listener_class(self.sdk)(self))
        except Exception as error:  # the SDK raises its own errors for a port in use, an unknown host, ...
            raise OSError(ERR_LISTEN % (host, port, error)) from None
        self.host = host
        port_of = self.server.port
        self.port = int(port_of() if callable(port_of) else port_of)  # a method in some releases

    def set_scene(self, scene: Any, t_ns: int) -> None:
        """Advertises the channels of `scene` (closing those it no longer has)
        and publishes its static messages."""
        wanted = {topic: (schema, data, encoding) for topic, schema, data, encoding in scene.channels()}
        static: Dict[str, List[bytes]] = {}
        for topic, message in scene.static(t_ns):
            static.setdefault(topic, []).append(message.SerializeToString())
        with self._lock:
            gone = [self._channels.pop(t) for t in [t for t in self._channels if t not in wanted]]
            for topic, (schema, data, encoding) in wanted.items():
                if topic not in self._channels:
                    self._channels[topic] = self._channel(topic, schema, data, encoding)
            self._images = frozenset(topic for topic, (schema, _, _) in wanted.items() if schema in IMAGE_SCHEMAS)
            self._static = static
            self._pixels.clear()
        for channel in gone:
            channel.close()
        for topic in static:
            self._publish_static(topic, t_ns)

    def _channel(self, topic: str, schema: str, data: bytes, encoding: str) -> Any:
        return self.sdk.Channel(topic, schema=self.sdk.Schema(name=schema, encoding=encoding, data=bytes(data)),
                                message_encoding=encoding, context=self.context)

    def subscribed(self, topic: str) -> None:
        """A viewer subscribed to `topic`: it gets the static messages of that
        channel now (as does every other subscriber of it)."""
        self._publish_static(topic, time.time_ns())

    def _publish_static(self, topic: str, t_ns: int) -> None:
        with self._lock:
            channel = self._channels.get(topic)
            messages = list(self._static.get(topic, ()))
        for data in messages if channel is not None else ():
            channel.log(data, log_time=t_ns)

    def publish(self, messages: TopicMessages, t_ns: int) -> int:
        """Publishes one poll's messages; the number published (images whose
        pixels did not change are left out). The SDK is called outside the
        lock, which its threads take too (`subscribed`)."""
        out: List[Tuple[Any, bytes]] = []
        with self._lock:
            for topic, message in messages:
                channel = self._channels.get(topic)
                if channel is None:
                    continue
                if topic in self._images:
                    if self._pixels.get(topic) == message.data:
                        continue
                    self._pixels[topic] = message.data
                out.append((channel, message.SerializeToString()))
        for channel, data in out:
            channel.log(data, log_time=t_ns)
        self.published += len(out)
        return len(out)

    def topics(self) -> List[str]:
        with self._lock:
            return sorted(self._channels)

    def close(self) -> None:
        with self._lock:
            channels, self._channels = list(self._channels.values()), {}
        for channel in channels:
            channel.close()
        self.server.stop()


def open_viewer(host: str, port: int, insecure: bool) -> Tuple[LiveViewer, Optional[str]]:
    """The started viewer server and the note to show about its exposure."""
    exposed = check_viewer_host(host, insecure)
    viewer = LiveViewer(host, port)
    return viewer, (EXPOSED_NOTE % host if exposed else None)
