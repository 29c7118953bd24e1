"""The connection to the server: the API modules a command needs, calls with
their failures as one-line errors, and waiting for a program to end.

The gRPC runtime and the API modules are imported when a client is made,
never for --help or an argument error."""

import time
from typing import Any, Callable, Iterator, Optional, Sequence, Tuple

from ostrel import wire
from ostrel.cli.errors import CliError, StillRunning, shown
from ostrel.client import Transport, explain, quiet_grpc_logs

FIRST_POLL_S = 0.02  # run --wait: the first pause; it doubles up to --poll

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

    def code_name(self, code: int) -> str:
        return str(self.common.Code.Name(code)) if code in self.common.Code.values() else str(code)

    def status_line(self, status: Any) -> str:
        return "%s: %s" % (self.code_name(status.code), shown(status.message))


def _serialize(message: Any) -> bytes:
    return bytes(message.SerializeToString())


class Client:
    """The server's methods on a channel set up as `settings` say (the
    channel of `ostrel.connect`)."""

    def __init__(self, settings: Transport, timeout: float, explicit_plaintext: bool = False) -> None:
        self.api = Api()
        from ostrel.connection import open_connection

        self.settings = settings
        self.explicit_plaintext = explicit_plaintext
        self.target = settings.target
        self.timeout = timeout
        self.stub: Any = open_connection(settings)
        self.channel: Any = self.stub.channel

    def call(self, method: str, request: Any, metadata: Sequence[Tuple[str, str]] = ()) -> Any:
        """The answer of `method`, parsed; `metadata` goes with the call."""
        return self._guarded(method, lambda: getattr(self.stub, method)(
            request, timeout=self.timeout, metadata=tuple(metadata) or None))

    def call_raw(self, method: str, request: Any) -> bytes:
        """The answer of `method` as its serialized bytes, not parsed."""
        unparsed = self.channel.unary_unary(self.api.method_path(method), request_serializer=_serialize,
                                            response_deserializer=None)
        return bytes(self._guarded(method, lambda: unparsed(request, timeout=self.timeout)))

    def _guarded(self, method: str, call: Callable[[], Any]) -> Any:
        grpc = self.api.grpc
        try:
            return call()
        except grpc.RpcError as error:
            code = error.code() if hasattr(error, "code") else None
            details = str(error.details() if hasattr(error, "details") else error)
            explained = explain(code.name, details, self.settings, self.explicit_plaintext) if code else None
            if explained is not None:  # handshake faults, refused connections and tokens, ...
                raise CliError(explained) from None
            if code == grpc.StatusCode.DEADLINE_EXCEEDED:
                raise CliError(ERR_NO_ANSWER % (self.target, self.timeout)) from None
            if details.startswith("Failed to create channel"):
                raise CliError(ERR_BAD_TARGET % (self.target, details.partition("':")[2].strip())) from None
            raise CliError(ERR_CALL_FAILED % (method, code.name if code else "error", details)) from None

    def close(self) -> None:
        self.channel.close()


def current_status(client: Client) -> Any:
    """The status of the system state, without parsing the rest of it (the
    state carries the latest images, which the status line never shows)."""
    method = "pullSystemState"
    answer = memoryview(client.call_raw(method, client.api.requests.GenericRequest()))
    try:
        return client.api.common.Status.FromString(b"".join(wire.field_spans(answer, 1)))
    except Exception as error:  # ValueError from the scan, DecodeError from the runtime
        raise CliError(ERR_MALFORMED % (method, error)) from None


def poll_pauses(longest: float) -> Iterator[float]:
    """Pauses between state polls: FIRST_POLL_S, doubling up to `longest`."""
    pause = min(FIRST_POLL_S, longest)
    while True:
        yield pause
        pause = min(pause * 2, longest)


def wait_for_end(client: Client, behavior: str, longest: float, give_up: Optional[float]) -> Any:
    """The status that ends the running program; CliError after `give_up` s."""
    deadline = time.monotonic() + give_up if give_up is not None else None
    for pause in poll_pauses(longest):
        status = current_status(client)
        if status.code != client.api.common.RUNNING:
            return status
        if deadline is not None:
            left = deadline - time.monotonic()
            if left <= 0:
                raise StillRunning(ERR_STILL_RUNNING % (behavior, give_up))
            pause = min(pause, left)
        time.sleep(pause)
    raise AssertionError("poll_pauses never ends")
