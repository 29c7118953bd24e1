"""`ostrel watch`: the system state polled at a steady rate and shown as it
changes (`watch_view`), and with --viewer the cell's scene served live to
robotics viewers (`viewer`).

Every poll is one `pullSystemState`; with --viewer the project is pulled
when the watch starts and again when the status changes (a program started
or ended), and the scene is built anew when it changed. A server that stops
answering ends the watch in one line (exit 2), or with --wait-for-server is
waited for, saying so."""

import argparse
import time
from typing import Any, Callable, NamedTuple, Optional, Tuple

from ostrel.cli.arguments import Argument, arg, bounded_number
from ostrel.cli.calls import ERR_MALFORMED, Client, CtrlC
from ostrel.cli.errors import CliError, Interrupted, Unreachable
from ostrel.cli.output import state_rows
from ostrel.terminal import one_line

DEFAULT_HZ = 10.0
MIN_HZ = 0.2
MAX_HZ = 50.0
DEFAULT_VIEWER_HOST = "127.0.0.1"
DEFAULT_VIEWER_PORT = 8765
RETRY_S = 1.0  # longest pause between tries while waiting for the server

ERR_HZ = "must be a number of polls per second from %g to %g, got %r"
ERR_PORT = "must be a port number from 0 to 65535, got %r"
ERR_GONE = "lost the server: %s"
ERR_STOPPED = "stopped watching"
WAITING = "waiting for the server (--wait-for-server): %s"
BACK = "the server answers again"
LOG_NAME = "status"
STATE_METHOD = "pullSystemState"
PROJECT_METHOD = "pullProjectSnapshot"
STATUS_LOG_LEVELS = {"FAILURE": "ERROR"}  # others: INFO


def parse_hz(text: str) -> float:
    return bounded_number(text, MIN_HZ, MAX_HZ, ERR_HZ)


def parse_port(text: str) -> int:
    if not text.isdigit() or int(text) > 65535:
        raise argparse.ArgumentTypeError(ERR_PORT % text)
    return int(text)


WATCH_ARGUMENTS: Tuple[Argument, ...] = (
    arg("--hz", type=parse_hz, default=DEFAULT_HZ, metavar="N",
        help="polls of the state per second, from %g to %g (default: %g)" % (MIN_HZ, MAX_HZ, DEFAULT_HZ)),
    arg("--wait-for-server", action="store_true",
        help="when the server does not answer, wait for it (and say so) instead of ending with exit code 2"),
    arg("--viewer", action="store_true",
        help="also serve the cell's scene live to robotics viewers over WebSocket (needs the extra `live`)"),
    arg("--viewer-host", default=DEFAULT_VIEWER_HOST, metavar="HOST",
        help="address the viewer server listens on (default: %s)" % DEFAULT_VIEWER_HOST),
    arg("--viewer-port", type=parse_port, default=DEFAULT_VIEWER_PORT, metavar="PORT",
        help="its port; 0 picks a free one (default: %d)" % DEFAULT_VIEWER_PORT),
    arg("--viewer-insecure", action="store_true",
        help="let --viewer-host be an address other machines reach: anyone there may watch the cell"),
)


def check_watch(args: argparse.Namespace) -> None:
    """The viewer's own checks, before any connection: its address and its SDK."""
    if not args.viewer:
        return
    from ostrel.cli.viewer import check_viewer_host, import_sdk

    try:
        check_viewer_host(args.viewer_host, args.viewer_insecure)
        import_sdk()
    except (ValueError, ImportError) as error:
        raise CliError(str(error)) from None


def parsed(method: str, parse: Callable[[bytes], Any], answer: bytes) -> Any:
    """`answer` of `method`, parsed; a CliError when it is malformed."""
    try:
        return parse(answer)
    except Exception as error:  # DecodeError of the runtime
        raise CliError(ERR_MALFORMED % (method, error)) from None

class ViewerSettings(NamedTuple):
    host: str
    port: int
    exposed: bool  # listening beyond loopback, as --viewer-insecure allows


class Watch:
    """The poll loop: `client` answers, `view` shows, and with `serve` a
    viewer server, started with the first scene, serves it."""

    def __init__(self, client: Client, view: Any, serve: Optional[ViewerSettings], ctrl_c: CtrlC,
                 wait_for_server: bool) -> None:
        from ostrel.api import system_pb2

        self.client = client
        self.view = view
        self.serve = serve
        self.viewer: Any = None
        self.ctrl_c = ctrl_c
        self.wait_for_server = wait_for_server
        self.parse: Callable[[bytes], Any] = system_pb2.SystemState.FromString
        self.scene: Any = None
        self.project: Optional[bytes] = None  # the serialized project the scene was built from
        self.status: Optional[Tuple[int, str]] = None
        self.answered = False  # whether the server ever answered: only then can it go away

    def run(self, hz: float) -> None:
        """Polls until Ctrl-C (KeyboardInterrupt) or the server goes away (CliError)."""
        period = 1.0 / hz
        due = time.monotonic()
        while True:
            state = self.poll()
            self.show(state)
            due += period
            now = time.monotonic()
            if due < now:  # a slow answer: the next poll now, not a burst of them
                due = now
            self.ctrl_c.sleep(due - now)

    def poll(self) -> Any:
        """The state, parsed."""
        return parsed(STATE_METHOD, self.parse, self.call(STATE_METHOD))

    def call(self, method: str) -> bytes:
        """The answer of `method` (which takes the empty request); while
        waiting for the server, tries until it answers."""
        waiting = False
        while True:
            try:
                answer = self.client.call_raw(method, self.client.api.requests.GenericRequest(), self.ctrl_c)
                break
            except Unreachable as error:
                if not self.wait_for_server:
                    raise CliError(ERR_GONE % error if self.answered else str(error)) from None
                if not waiting:
                    self.view.note(WAITING % one_line(str(error)))
                    waiting = True
                self.ctrl_c.sleep(RETRY_S)
                self._reconnect()
        if waiting:
            self.view.note(BACK)
        self.answered = True
        return answer

    def _reconnect(self) -> None:
        """A new channel: the runtime backs off longer and longer between its
        own tries to reach a server that went away."""
        old = self.client
        self.client = Client(old.settings, old.timeout)
        old.close()

    def show(self, state: Any) -> None:
        self.view.show(state_rows(self.client.api, state))
        if self.serve is None:
            return
        status = (state.status.code, state.status.message)
        if status != self.status:
            self._update_scene()  # a program started or ended: maybe of another project
        if self.scene is not None:
            t_ns = time.time_ns()
            messages = self.scene.from_state(state, t_ns)
            if status != self.status:
                messages.append(status_log(self.scene, self.client.api, state.status, t_ns))
            self.viewer.publish(messages, t_ns)
        self.status = status

    def _update_scene(self) -> None:
        project = self.call(PROJECT_METHOD)
        if self.scene is not None and project == self.project:
            return
        from ostrel.records.scene import Scene

        self.scene = Scene(parsed(PROJECT_METHOD, self.client.api.project.ProjectSnapshot.FromString, project))
        self.project = project
        if self.viewer is not None:
            self.viewer.set_scene(self.scene, time.time_ns())
        elif self.serve is not None:
            self.viewer = self._start_viewer(self.serve)

    def _start_viewer(self, serve: ViewerSettings) -> Any:
        from ostrel.cli.viewer import EXPOSED_NOTE, SERVING_NOTE, LiveViewer

        try:
            viewer = LiveViewer(serve.host, serve.port, self.scene, time.time_ns())
        except OSError as error:
            raise CliError(str(error)) from None
        notes = [SERVING_NOTE % (serve.host, viewer.port)] + ([EXPOSED_NOTE % serve.host] if serve.exposed else [])
        self.view.note("; ".join(notes))
        return viewer

    def close(self, client: Client) -> None:
        """Stops the viewer server and closes the channels this watch opened (not `client`)."""
        if self.viewer is not None:
            self.viewer.close()
        if self.client is not client:
            self.client.close()


def status_log(scene: Any, api: Any, status: Any, t_ns: int) -> Tuple[str, Any]:
    """The status as a line of the scene's log: an error for FAILURE."""
    from ostrel.protocol.statuses import status_name
    from ostrel.records.scene import LOG_TOPIC
    from ostrel.records.scene_parts import timestamp

    log = scene.s.Log
    level = log.Level.Value(STATUS_LOG_LEVELS.get(status_name(status.code), "INFO"))
    return LOG_TOPIC, log(timestamp=timestamp(t_ns), level=level, name=LOG_NAME, message=api.status_line(status))


def cmd_watch(args: argparse.Namespace, client: Client) -> int:
    from ostrel.cli.watch_view import open_view

    serve = None
    if args.viewer:
        from ostrel.cli.viewer import check_viewer_host

        serve = ViewerSettings(args.viewer_host, args.viewer_port,
                               check_viewer_host(args.viewer_host, args.viewer_insecure))
    watch: Optional[Watch] = None
    try:
        with CtrlC() as ctrl_c, open_view("ostrel watch %s, %g Hz" % (args.target, args.hz)) as view:
            watch = Watch(client, view, serve, ctrl_c, args.wait_for_server)
            watch.run(args.hz)
    except KeyboardInterrupt:
        raise Interrupted(ERR_STOPPED) from None
    finally:
        if watch is not None:
            watch.close(client)
    return 0
