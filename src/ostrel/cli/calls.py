"""The connection to the server: the API modules a command needs, calls with
their failures as one-line errors, and waiting for a program to end.

The gRPC runtime and the API modules are imported when a client is made,
never for --help or an argument error."""

import queue
import signal
import threading
import time
from types import FrameType
from typing import Any, Callable, Iterator, Optional, Sequence, Tuple

from ostrel import wire
from ostrel.cli.errors import CliError, StillRunning
from ostrel.terminal import shown
from ostrel.connection.explain import explain
from ostrel.connection.settings import Transport
from ostrel.runtime_logs import quiet_grpc_logs

FIRST_POLL_S = 0.02  # run --wait: the first pause; it doubles up to --poll
# Longest a wait blocks before Python runs pending signal handlers: a signal
# taken by one of the gRPC runtime's threads does not wake the main thread.
CTRL_C_TICK_S = 0.05
CLOSE_WAIT_S = 1.0  # closing the channel never holds up the exit longer

ERR_API_MISSING = "cannot load the Ostrel API modules: %s"
ERR_NO_ANSWER = "no answer from the Ostrel server at %s within %g s (--timeout)"
ERR_BAD_TARGET = "argument --target: the gRPC runtime cannot use %r: %s"
ERR_CALL_FAILED = "%s failed: %s: %s"
ERR_MALFORMED = "%s answered with malformed data: %s"
ERR_STILL_RUNNING = "program '%s' still running after %g s"


class Api:
    """The gRPC runtime and the API modules a command needs."""

    def __init__(self) -> None:
        quiet_grpc_logs(force=True)  # errors are ours to report, in one line
        try:
            import grpc
            from ostrel.api import common_pb2, data_pb2, ostrel_service_pb2, project_pb2, service_pb2, service_pb2_grpc
        except ImportError as error:
            raise CliError(ERR_API_MISSING % error) from None
        self.grpc: Any = grpc
        self.common: Any = common_pb2
        self.data: Any = data_pb2
        self.project: Any = project_pb2
        self.requests: Any = service_pb2
        self.service: Any = service_pb2_grpc
        self.service_descriptor: Any = ostrel_service_pb2.DESCRIPTOR.services_by_name["Ostrel"]

    def method_path(self, method: str) -> str:
        """The path on which `method` is called, from the service's descriptor."""
        found = self.service_descriptor.methods_by_name[method]
        return "/%s/%s" % (self.service_descriptor.full_name, found.name)

    def status_line(self, status: Any) -> str:
        from ostrel.protocol.statuses import status_name

        return "%s: %s" % (status_name(status.code), shown(status.message))


def _serialize(message: Any) -> bytes:
    return bytes(message.SerializeToString())


class Client:
    """The server's methods on a channel set up as `settings` say (the
    channel of `ostrel.connect`)."""

    def __init__(self, settings: Transport, timeout: float) -> None:
        self.api = Api()
        from ostrel.connection.channel import open_connection

        self.settings = settings
        self.target = settings.target
        self.timeout = timeout
        self.stub: Any = open_connection(settings)
        self.channel: Any = self.stub.channel

    def call(self, method: str, request: Any, metadata: Sequence[Tuple[str, str]] = ()) -> Any:
        """The answer of `method`, parsed; `metadata` goes with the call."""
        return self._guarded(method, lambda: getattr(self.stub, method)(
            request, timeout=self.timeout, metadata=tuple(metadata) or None))

    def call_raw(self, method: str, request: Any, ctrl_c: Optional["CtrlC"] = None) -> bytes:
        """The answer of `method` as its serialized bytes, not parsed; with
        `ctrl_c`, the call is cancelled and KeyboardInterrupt raised at Ctrl-C."""
        unparsed = self.channel.unary_unary(self.api.method_path(method), request_serializer=_serialize,
                                            response_deserializer=None)
        if ctrl_c is None:
            return bytes(self._guarded(method, lambda: unparsed(request, timeout=self.timeout)))
        answer = unparsed.future(request, timeout=self.timeout)
        return bytes(self._guarded(method, lambda: ctrl_c.result(answer)))

    def _guarded(self, method: str, call: Callable[[], Any]) -> Any:
        grpc = self.api.grpc
        try:
            return call()
        except grpc.RpcError as error:
            code = error.code() if hasattr(error, "code") else None
            details = str(error.details() if hasattr(error, "details") else error)
            explained = explain(code.name, details, self.settings) if code else None
            if explained is not None:  # handshake faults, refused connections and tokens, ...
                raise CliError(explained) from None
            if code == grpc.StatusCode.DEADLINE_EXCEEDED:
                raise CliError(ERR_NO_ANSWER % (self.target, self.timeout)) from None
            if details.startswith("Failed to create channel"):
                raise CliError(ERR_BAD_TARGET % (self.target, details.partition("':")[2].strip())) from None
            raise CliError(ERR_CALL_FAILED % (method, code.name if code else "error", details)) from None

    def close(self) -> None:
        """Closes the channel, waiting at most CLOSE_WAIT_S for the runtime."""
        closing = threading.Thread(target=self.channel.close, name="ostrel-close", daemon=True)
        closing.start()
        closing.join(CLOSE_WAIT_S)


_CTRL_C = object()  # the mark the SIGINT handler leaves


class CtrlC:
    """Ctrl-C while `run --wait` waits, taken at points of our own.

    Left to Python's default handler, KeyboardInterrupt is raised wherever the
    main thread happens to be, the gRPC runtime's own code included. Within
    this context SIGINT only leaves a mark on a queue (whose put may safely
    interrupt a put or get in the same thread); `sleep` and `result` wait on
    that queue and raise KeyboardInterrupt there, cancelling the call in
    flight. Outside the main thread, where no handler can be set, nothing
    changes."""

    def __init__(self) -> None:
        self._marks: "queue.SimpleQueue[object]" = queue.SimpleQueue()
        self._previous: Any = None

    def __enter__(self) -> "CtrlC":
        if threading.current_thread() is threading.main_thread():
            self._previous = signal.signal(signal.SIGINT, self._on_sigint)
        return self

    def __exit__(self, *exc_info: object) -> None:
        if self._previous is not None:
            signal.signal(signal.SIGINT, self._previous)
            self._previous = None

    def _on_sigint(self, signum: int, frame: Optional[FrameType]) -> None:
        self._marks.put(_CTRL_C)

    def _next_mark(self, seconds: float) -> Any:
        """The next mark within `seconds`, None when none came; KeyboardInterrupt at Ctrl-C."""
        try:  # each tick ends in Python, where pending signal handlers run
            mark = self._marks.get(timeout=max(0.0, min(seconds, CTRL_C_TICK_S)))
        except queue.Empty:
            return None
        if mark is _CTRL_C:
            raise KeyboardInterrupt
        return mark

    def sleep(self, seconds: float) -> None:
        """time.sleep(seconds), ended early by Ctrl-C with KeyboardInterrupt."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            self._next_mark(deadline - time.monotonic())

    def result(self, call: Any) -> Any:
        """The result of the gRPC future `call`; at Ctrl-C the call is
        cancelled and KeyboardInterrupt raised."""
        call.add_done_callback(self._marks.put)
        try:
            while self._next_mark(CTRL_C_TICK_S) is not call:
                pass
        except KeyboardInterrupt:
            call.cancel()
            raise
        return call.result()


def current_status(client: Client, ctrl_c: Optional[CtrlC] = None) -> Any:
    """The status of the system state, without parsing the rest of it (the
    state carries the latest images, which the status line never shows)."""
    from ostrel.protocol.fields import STATE_STATUS_FIELD

    method = "pullSystemState"
    answer = memoryview(client.call_raw(method, client.api.requests.GenericRequest(), ctrl_c))
    try:
        return client.api.common.Status.FromString(b"".join(wire.field_spans(answer, STATE_STATUS_FIELD)))
    except Exception as error:  # ValueError from the scan, DecodeError from the runtime
        raise CliError(ERR_MALFORMED % (method, error)) from None


def poll_pauses(longest: float) -> Iterator[float]:
    """Pauses between state polls: FIRST_POLL_S, doubling up to `longest`."""
    pause = min(FIRST_POLL_S, longest)
    while True:
        yield pause
        pause = min(pause * 2, longest)


def wait_for_end(client: Client, behavior: str, longest: float, give_up: Optional[float],
                 ctrl_c: Optional[CtrlC] = None) -> Any:
    """The status that ends the running program; CliError after `give_up` s.
    With `ctrl_c`, Ctrl-C ends the wait promptly with KeyboardInterrupt."""
    deadline = time.monotonic() + give_up if give_up is not None else None
    sleep = ctrl_c.sleep if ctrl_c is not None else time.sleep
    for pause in poll_pauses(longest):
        status = current_status(client, ctrl_c)
        if status.code != client.api.common.RUNNING:
            return status
        if deadline is not None:
            left = deadline - time.monotonic()
            if left <= 0:
                raise StillRunning(ERR_STILL_RUNNING % (behavior, give_up))
            pause = min(pause, left)
        sleep(pause)
    raise AssertionError("poll_pauses never ends")
