"""`ostrel watch --viewer`: the cell's scene (`ostrel.records.scene`) served
live to robotics viewers over their WebSocket protocol, by the foxglove SDK
(extra `live`).

The channels are the scene's, with its protobuf schemas, advertised when the
server starts and again when the project changes. Each poll's messages are
published as they come, a channel's only when they changed (camera images,
calibrations). The static scene (frames, entities, calibrations) is
published once, and with the latest messages again on a channel whenever a
viewer subscribes to it, so that a viewer that comes in mid-run has it at
once."""

import threading
import time
from typing import Any, Dict, Iterable, List, Tuple

from ostrel import wire
from ostrel.protocol.addresses import is_loopback_host

ERR_EXPOSED = ("refusing to serve the viewer on %s: anyone on the network could watch the cell; give "
               "--viewer-insecure to accept that")
ERR_LISTEN = "cannot serve the viewer on %s port %d: %s"
EXPOSED_NOTE = "serving the viewer on %s without TLS or login (--viewer-insecure): anyone who reaches it may watch"
SERVING_NOTE = "serving the scene to viewers at ws://%s:%d"
# The SDK, its server (absent from some builds) and the schemas of the scene.
SDK_MODULES = ("foxglove", "foxglove.websocket", "foxglove_schemas_protobuf")
LIVE_EXTRA = "live"
# A channel made and closed around the channels a new project adds while
# viewers are connected: a viewer that subscribes to the first channel of
# such a burst the moment it is advertised is told it is unknown (SDK 0.30),
# so that first one is this.
HERALD_TOPIC = "/ostrel/advertising"
SERVER_NAME = "ostrel watch"
STAMP_NAME = "timestamp"

Message = Any  # a protobuf message of the visualisation schemas
TopicMessages = Iterable[Tuple[str, Message]]


def stamp_field(message: Message) -> int:
    """The number of the message's own `timestamp` field; 0 when it has none
    at the top (transforms and annotations stamp each of their parts)."""
    field = message.DESCRIPTOR.fields_by_name.get(STAMP_NAME)
    return int(field.number) if field is not None else 0


def unstamped(data: bytes, number: int) -> bytes:
    """Serialized message bytes without their field `number`, the time stamp:
    what tells whether an image, a calibration or a joint state changed."""
    if not number:
        return data
    view = memoryview(data)
    return b"".join(view[field.start:field.end] for field in wire.fields(view) if field.number != number)


def check_viewer_host(host: str, insecure: bool) -> bool:
    """True when the viewer would be served beyond this machine, as
    `insecure` allows; ValueError when it does not."""
    if is_loopback_host(host):
        return False
    if not insecure:
        raise ValueError(ERR_EXPOSED % host)
    return True


def import_sdk() -> Any:
    """The foxglove SDK (with the visualisation schemas the scene is made
    of); ImportError naming the extra when either is missing."""
    from ostrel import extras

    return [extras.require(name, LIVE_EXTRA) for name in SDK_MODULES][0]


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
    """The scene on a WebSocket server of the foxglove SDK.

    The latest messages of each channel are kept, serialized: a poll whose
    messages on a channel are the same as the last ones (a camera image
    that did not change) publishes nothing there, and a viewer that
    subscribes gets the kept ones at once: the static scene, the latest
    image."""

    def __init__(self, host: str, port: int, scene: Any, t_ns: int) -> None:
        self.sdk = import_sdk()
        self.context: Any = self.sdk.Context()
        self._lock = threading.Lock()  # the channels and the kept messages, also read by the SDK's threads
        self._channels: Dict[str, Any] = {}
        self._latest: Dict[str, List[bytes]] = {}
        self._content: Dict[str, List[bytes]] = {}  # the latest messages without their time stamps
        self.published = 0
        # The first scene's channels are made before anyone can connect: a
        # viewer that subscribes to a channel as soon as it is advertised may
        # be told it is unknown while the server is still taking it in.
        self.listening = False
        self.set_scene(scene, t_ns)
        try:
            self.server: Any = self.sdk.start_server(name=SERVER_NAME, host=host, port=port, context=self.context,
                                                     server_listener=_listener_class(self.sdk)(self))
        except Exception as error:  # the SDK raises its own errors for a port in use, an unknown host, ...
            raise OSError(ERR_LISTEN % (host, port, error)) from None
        self.listening = True
        self.host = host
        self.port = int(self.server.port)

    def set_scene(self, scene: Any, t_ns: int) -> None:
        """Advertises the channels of `scene` (closing those it no longer has)
        and publishes its static messages."""
        wanted = {channel.topic: channel for channel in scene.channels()}
        with self._lock:
            kept = {topic: channel for topic, channel in self._channels.items() if topic in wanted}
            gone = [channel for topic, channel in self._channels.items() if topic not in wanted]
        # Made without the lock: the SDK's threads take it in `subscribed`.
        new = [channel for topic, channel in wanted.items() if topic not in kept]
        herald = self._channel(new[0]._replace(topic=HERALD_TOPIC)) if new and self.listening else None
        added = {channel.topic: self._channel(channel) for channel in new}
        if herald is not None:
            herald.close()
        with self._lock:
            self._channels = {**kept, **added}
            self._latest.clear()
            self._content.clear()
        for channel in gone:
            channel.close()
        self.publish(scene.static(t_ns), t_ns)

    def _channel(self, channel: Any) -> Any:
        schema = self.sdk.Schema(name=channel.schema_name, encoding=channel.encoding, data=bytes(channel.schema))
        return self.sdk.Channel(channel.topic, schema=schema, message_encoding=channel.encoding,
                                context=self.context)

    def subscribed(self, topic: str) -> None:
        """A viewer subscribed to `topic`: it gets the kept messages of that
        channel now (as does every other subscriber of it)."""
        with self._lock:
            channel = self._channels.get(topic)
            kept = list(self._latest.get(topic, ()))
        if channel is not None:
            t_ns = time.time_ns()
            for data in kept:
                channel.log(data, log_time=t_ns)

    def publish(self, messages: TopicMessages, t_ns: int) -> int:
        """Publishes one poll's messages, leaving out the channels whose
        messages are the same as last time but for their time stamps; the
        number published. The SDK is called outside the lock, which its
        threads take too."""
        by_topic: Dict[str, List[Tuple[bytes, int]]] = {}
        for topic, message in messages:
            by_topic.setdefault(topic, []).append((message.SerializeToString(), stamp_field(message)))
        out: List[Tuple[Any, bytes]] = []
        with self._lock:
            for topic, pairs in by_topic.items():
                channel = self._channels.get(topic)
                if channel is None:
                    continue
                encoded = [data for data, _ in pairs]
                content = [unstamped(data, number) for data, number in pairs]
                if self._content.get(topic) == content:
                    continue
                self._content[topic], self._latest[topic] = content, encoded
                out.extend((channel, data) for data in encoded)
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
