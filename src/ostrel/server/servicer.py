"""The service: keeps the project, runs programs, answers state and records.

The big messages travel as bytes: a pushed project is kept as received
(parsed once, for the cell), a pulled project is answered with those bytes,
and the system state and the records are joined from serialized parts.
`handler` registers these byte-level methods with a gRPC server; the
message-level methods of OstrelServicer work too, at the cost of a parse
or a serialization more.
"""

import logging
import sqlite3
import threading
from typing import Any, Callable, Dict, NoReturn, Optional, Tuple

import grpc
from google.protobuf import message_factory
from google.protobuf.descriptor import Descriptor, ServiceDescriptor
from google.protobuf.message import DecodeError

from ostrel.api import common_pb2, data_pb2, ostrel_service_pb2, project_pb2, service_pb2, service_pb2_grpc, system_pb2
from ostrel import wire
from ostrel.protocol import project_names
from ostrel.server.limits import DEFAULT_MAX_MESSAGE_SIZE
from ostrel.server.cell import Cell
from ostrel.protocol.project_limits import check_project
from ostrel.server.logs import MAX_LINE, clip
from ostrel.server.runner import ProgramRun, now_ns
from ostrel.server.store import DamagedRecords, RecordStore, StoreError, TooLarge

log = logging.getLogger(__name__)

SERVER_NAME = "ostrel-server"
SERVICE: ServiceDescriptor = ostrel_service_pb2.DESCRIPTOR.services_by_name["Ostrel"]
SERVICE_NAME = SERVICE.full_name

STATE_FIELDS = {name: f.number for name, f in system_pb2.SystemState.DESCRIPTOR.fields_by_name.items()}
LATEST_KINDS = ("images", "perception", "planner", "controller")

IDLE = "idle: no program has run"
ERR_BUSY_PUSH = "program '%s' is running; push the project when it has ended"
ERR_BUSY_RUN = "program '%s' is still running; '%s' was not started"
ERR_PUSHING = "a project is being stored; run '%s' when the push has ended"
ERR_NO_PROJECT = "no project has been pushed"
ERR_UNPARSED = "the project does not parse: %s"
ERR_STORE_FAILED = "the project was not stored in %s: %s"
ERR_RECORDS_TOO_LARGE = ("the records come to %d bytes, more than the server's message limit of %d "
                     "(--max-message-size); narrow the request by descriptions or since_ns")
ERR_RECORDS_FAILED = "cannot read the records from %s: %s"
ERR_TOO_LARGE = ("the %s comes to %d bytes, more than the server's message limit of %d "
             "(--max-message-size)")
ERR_STORED_UNPARSED = "the project stored in %s does not parse (%s); push a project again"
ERR_STORED_REFUSED = "the project stored in %s is refused: %s; push a project again"
ERR_STORED_DAMAGED = "the current project cannot be loaded: %s; push a project again"
LAST_PROGRAM = "%s (before the server restarted)"
ERR_SHUTTING_DOWN = "the server is shutting down; '%s' was not started"
ERR_RECORDS_DAMAGED = "%s; the other record sets are intact: narrow the request by descriptions or since_ns to read them"


def _status(code: "common_pb2.Code.ValueType", message: str) -> common_pb2.Status:
    return common_pb2.Status(code=code, message=message)


def _identity(data: bytes) -> bytes:
    return data


class _Project:
    """The current project: as received, parsed, its key in the store and its cell."""

    def __init__(self, data: bytes, parsed: project_pb2.ProjectSnapshot, key: Optional[str]) -> None:
        self.data = data
        self.parsed = parsed
        self.key = key
        self.cell = Cell(parsed)


class OstrelService(service_pb2_grpc.OstrelServicer):
    """Serves one project at a time and runs one program at a time.

    The project is stored when it is pushed and loaded again when the server
    starts, so a restart keeps it; the simulated cell starts from the
    project's workspace on each push and keeps its state from run to run.
    `_lock` guards a few references and flags only: no handler does I/O,
    logging or long work while holding it.
    """

    def __init__(self, store: RecordStore, time_scale: float = 1.0, seed: Optional[int] = None,
                 max_message_size: int = DEFAULT_MAX_MESSAGE_SIZE) -> None:
        self.store = store
        self.time_scale = time_scale
        self.seed = seed
        self.max_message_size = max_message_size
        self._lock = threading.Lock()
        self._push_lock = threading.Lock()  # a push holds it from its first look to its commit
        self._pushing = False
        self._stop = threading.Event()
        self._thread: Optional[threading.Thread] = None
        self._running = ""
        self._status = self._status_at_start()
        self._project = self._load_project()

    def _status_at_start(self) -> common_pb2.Status:
        """How the last program ended: killed with the server, stopped with
        it, or to its end; idle when none has run."""
        interrupted, closed = self.store.close_interrupted(now_ns())
        if closed:
            log.warning("%s", closed)
        if interrupted:
            return _status(common_pb2.FAILURE, closed)
        last = self.store.last_program()
        if last is None:
            return _status(common_pb2.SUCCESS, IDLE)
        code, message = last
        ended = common_pb2.SUCCESS if code == common_pb2.SUCCESS and not closed else common_pb2.FAILURE
        return _status(ended, "; ".join(filter(None, [LAST_PROGRAM % message, closed])))

    def _load_project(self) -> Optional[_Project]:
        try:
            stored = self.store.load_project()
        except StoreError as error:  # its file is missing or damaged: the records stay readable
            self._refuse_stored(ERR_STORED_DAMAGED % error)
            return None
        if stored is None:
            return None
        key, data = stored
        try:
            parsed = project_pb2.ProjectSnapshot.FromString(data)
        except DecodeError as error:
            self._refuse_stored(ERR_STORED_UNPARSED % (self.store.path, error))
            return None
        refusal = check_project(parsed)
        if refusal is not None:
            self._refuse_stored(ERR_STORED_REFUSED % (self.store.path, refusal))
            return None
        log.info("loaded the stored project '%s'", parsed.version)
        return _Project(data, parsed, key)

    def _refuse_stored(self, text: str) -> None:
        log.warning("%s", text)
        self._status = _status(common_pb2.FAILURE, "%s; %s" % (self._status.message, text))

    # Byte-level methods -----------------------------------------------------

    def push_project(self, data: bytes, context: Any = None) -> common_pb2.Status:
        """Check, store and load a serialized project.

        Pushes take turns from the first look at the current project to the
        commit, so that what one push decides cannot be undone by another.
        The call metadata `ostrel-allow-empty: 1` lets an empty project in.
        """
        allow_empty = context is not None and project_names.allows_empty(context.invocation_metadata() or ())
        with self._push_lock:
            return self._push(data, allow_empty)

    def _push(self, data: bytes, allow_empty: bool) -> common_pb2.Status:
        """The project's file is written while the project is parsed and
        checked; a push of the project held already stores nothing new."""
        with self._lock:
            current = self._project
        unchanged = current if current is not None and current.data == data else None
        staged = self.store.stage_project(data) if unchanged is None else None
        committed = False
        try:
            if unchanged is not None:
                parsed = unchanged.parsed
            else:
                try:
                    parsed = project_pb2.ProjectSnapshot.FromString(data)
                except DecodeError as error:
                    return self._refused_push(ERR_UNPARSED % error)
            found = project_names.problems(parsed, allow_empty)
            if found:
                return self._refused_push(project_names.refusal(found))
            project = _Project(data, parsed, None)
            with self._lock:
                running = self._running if self._is_running() else ""
                self._pushing = not running
            if running:
                return self._refused_push(ERR_BUSY_PUSH % running)
            try:
                if staged is not None:
                    project.key = self.store.commit_project(staged, now_ns())
                else:
                    assert unchanged is not None and unchanged.key is not None
                    project.key = unchanged.key
                    self.store.repush_project(project.key, now_ns())
                committed = True
            except (OSError, sqlite3.Error) as error:
                return self._refused_push(ERR_STORE_FAILED % (self.store.path, error))
            finally:
                with self._lock:
                    if committed:
                        self._project = project
                    self._pushing = False
        finally:
            if staged is not None and not committed:
                staged.discard()
        config = parsed.workspace.config
        summary = "project '%s' stored: %d behaviors, %d robots, %d effectors, %d items, %d cameras" % (
            parsed.version, len(parsed.behaviors), len(config.robots), len(config.effectors),
            len(config.items), len(config.cameras))
        log.info("%s", summary)
        return _status(common_pb2.SUCCESS, summary)

    def _refused_push(self, text: str) -> common_pb2.Status:
        log.info("refused a project: %s", clip(text, MAX_LINE))
        return _status(common_pb2.FAILURE, text)

    def pull_project(self, request: Any = None, context: Any = None) -> bytes:
        """The current project, serialized as it was pushed."""
        with self._lock:
            project = self._project
        return self._within_limit(project.data if project is not None else b"", "project", context)

    def pull_state(self, request: Any = None, context: Any = None) -> bytes:
        """A serialized SystemState: status, workspace state and the agents' latest products."""
        with self._lock:
            status = self._status
            cell = self._project.cell if self._project is not None else None
        pieces = [wire.field(STATE_FIELDS["status"], status.SerializeToString())]
        if cell is not None:
            state, latest = cell.snapshot()
            pieces.append(wire.field(STATE_FIELDS["workspace"], state))
            for kind in LATEST_KINDS:
                if kind in latest:
                    pieces += [wire.field_head(STATE_FIELDS[kind], len(latest[kind])), latest[kind]]
        return self._within_limit(b"".join(pieces), "system state", context)

    def _within_limit(self, answer: bytes, what: str, context: Any) -> bytes:
        if len(answer) <= self.max_message_size:
            return answer
        self._abort(context, grpc.StatusCode.RESOURCE_EXHAUSTED,
                    ERR_TOO_LARGE % (what, len(answer), self.max_message_size))

    @staticmethod
    def _abort(context: Any, code: grpc.StatusCode, text: str) -> NoReturn:
        log.warning("%s", clip(text, MAX_LINE))
        if context is None:
            raise RuntimeError(text)
        context.abort(code, text)
        raise AssertionError("abort returns by raising")  # pragma: no cover

    def pull_records(self, request: service_pb2.RecordsRequest, context: Any = None) -> bytes:
        """A serialized DataRecords, joined from the stored encodings."""
        try:
            return self.store.data_records(request.descriptions, request.since_ns, self.max_message_size)
        except TooLarge as error:
            self._abort(context, grpc.StatusCode.RESOURCE_EXHAUSTED,
                        ERR_RECORDS_TOO_LARGE % (error.size, self.max_message_size))
        except DamagedRecords as error:
            self._abort(context, grpc.StatusCode.DATA_LOSS, ERR_RECORDS_DAMAGED % error)
        except (OSError, sqlite3.Error) as error:
            self._abort(context, grpc.StatusCode.INTERNAL, ERR_RECORDS_FAILED % (self.store.path, error))

    # Service methods ------------------------------------------------------

    def connect(self, request: service_pb2.ConnectRequest, context: Any) -> common_pb2.Status:
        who = request.client or "a client"
        if log.isEnabledFor(logging.DEBUG):
            log.debug("%s connected from %s", who, context.peer())
        with self._lock:
            project = self._project
        held = ("project '%s' with %d behaviors" % (project.parsed.version, len(project.parsed.behaviors))
                if project is not None else "no project yet")
        return _status(common_pb2.SUCCESS, "%s at your service, %s; %s" % (SERVER_NAME, who, held))

    def pushProjectSnapshot(self, request: project_pb2.ProjectSnapshot, context: Any) -> common_pb2.Status:
        return self.push_project(request.SerializeToString(), context)

    def pullProjectSnapshot(self, request: Any, context: Any) -> project_pb2.ProjectSnapshot:
        return project_pb2.ProjectSnapshot.FromString(self.pull_project(request, context))

    def pullSystemState(self, request: Any, context: Any) -> system_pb2.SystemState:
        return system_pb2.SystemState.FromString(self.pull_state(request, context))

    def pullDataRecords(self, request: service_pb2.RecordsRequest, context: Any) -> data_pb2.DataRecords:
        return data_pb2.DataRecords.FromString(self.pull_records(request, context))

    def runProgram(self, request: service_pb2.ProgramRequest, context: Any) -> common_pb2.Status:
        behavior = request.behavior
        refusal = None
        with self._lock:
            project = self._project
            if self._stop.is_set():
                refusal = ERR_SHUTTING_DOWN % behavior
            elif self._is_running():
                refusal = ERR_BUSY_RUN % (self._running, behavior)
            elif self._pushing:
                refusal = ERR_PUSHING % behavior
            elif project is None:
                refusal = ERR_NO_PROJECT
            elif not behavior:
                refusal = "the request names no behavior"
            elif behavior not in project.parsed.behaviors:
                known = ", ".join(sorted(project.parsed.behaviors)) or "none"
                refusal = "unknown behavior '%s'; the project has: %s" % (behavior, known)
            else:
                run = ProgramRun(project.cell, behavior, project.parsed.behaviors[behavior], self.store,
                                 time_scale=self.time_scale, stop_event=self._stop, seed=self.seed,
                                 project=project.key)
                self._running = behavior
                self._status = _status(common_pb2.RUNNING, "program '%s' is running" % behavior)
                self._thread = threading.Thread(target=self._run, args=(run,), name="program", daemon=True)
                self._thread.start()
        if refusal is not None:
            log.info("refused to run '%s': %s", behavior, refusal)
            return _status(common_pb2.FAILURE, refusal)
        return _status(common_pb2.RUNNING, "program '%s' started" % behavior)

    # Program thread ---------------------------------------------------------

    def _is_running(self) -> bool:
        return self._thread is not None and self._thread.is_alive()

    def _run(self, run: ProgramRun) -> None:
        try:
            status = run.run()
        except Exception as error:  # the store failed before the program began
            log.exception("program '%s' broke down", run.behavior)
            status = _status(common_pb2.FAILURE, "program '%s' broke down: %s" % (run.behavior, error))
        with self._lock:
            self._status = status

    def wait(self, timeout: Optional[float] = None) -> bool:
        """Wait for the running program, if any; True when none is running."""
        thread = self._thread
        if thread is not None:
            thread.join(timeout)
        return not self._is_running()

    def shutdown(self, timeout: float = 5.0) -> None:
        """Stop the running program at its next step or wait, and wait for it;
        no program starts after this."""
        with self._lock:  # a run that checked before this has its thread in place
            self._stop.set()
        if not self.wait(timeout):
            log.warning("the program did not stop within %.1f s", timeout)


def _parser(message: Descriptor, raw: bool) -> Callable[[bytes], Any]:
    return _identity if raw else message_factory.GetMessageClass(message).FromString


def _serializer(message: Descriptor, raw: bool) -> Callable[[Any], bytes]:
    if raw:
        return _identity
    serialize: Callable[[Any], bytes] = message_factory.GetMessageClass(message).SerializeToString
    return serialize


def handler(service: OstrelService) -> grpc.GenericRpcHandler:
    """The service's methods for a gRPC server, as its schema declares them,
    with the big messages passed as bytes."""
    # method: (its byte-level stand-in, takes the request's bytes, answers bytes)
    byte_level: Dict[Any, Tuple[Callable[..., Any], bool, bool]] = {
        service.pushProjectSnapshot: (service.push_project, True, False),
        service.pullProjectSnapshot: (service.pull_project, False, True),
        service.pullSystemState: (service.pull_state, False, True),
        service.pullDataRecords: (service.pull_records, False, True),
    }
    methods: Dict[str, "grpc.RpcMethodHandler[Any, Any]"] = {}
    for method in SERVICE.methods:
        function = getattr(service, method.name)
        function, raw_request, raw_answer = byte_level.get(function, (function, False, False))
        methods[method.name] = grpc.unary_unary_rpc_method_handler(
            function, request_deserializer=_parser(method.input_type, raw_request),
            response_serializer=_serializer(method.output_type, raw_answer))
    return grpc.method_handlers_generic_handler(SERVICE_NAME, methods)
