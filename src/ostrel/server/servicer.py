"""The service: keeps the project, runs programs, answers state and records."""

import logging
import threading

from ostrel.api import common_pb2, data_pb2, project_pb2, service_pb2_grpc, system_pb2
from ostrel.server.cell import Cell
from ostrel.server.runner import ProgramRun, now_ns

log = logging.getLogger(__name__)

SERVER_NAME = "ostrel-server"


def _status(code, message):
    return common_pb2.Status(code=code, message=message)


class OstrelService(service_pb2_grpc.OstrelServicer):
    """Serves one project at a time and runs one program at a time.

    The project is stored when it is pushed and loaded again when the server
    starts, so a restart keeps it; the simulated cell starts from the
    project's workspace on each push and keeps its state from run to run.
    """

    def __init__(self, store, time_scale=1.0, seed=None):
        self.store = store
        self.time_scale = time_scale
        self.seed = seed
        self._lock = threading.Lock()
        self._stop = threading.Event()
        self._thread = None
        self._running = ""
        self._project = store.load_project()
        self._cell = Cell(self._project) if self._project is not None else None
        self._status = _status(common_pb2.SUCCESS, "idle: no program has run")
        if self._project is not None:
            log.info("loaded the stored project '%s'", self._project.version)

    # Service methods ------------------------------------------------------

    def connect(self, request, context):
        who = request.client or "a client"
        log.info("%s connected from %s", who, context.peer())
        with self._lock:
            project = self._project
        held = ("project '%s' with %d behaviors" % (project.version, len(project.behaviors))
                if project is not None else "no project yet")
        return _status(common_pb2.SUCCESS, "%s at your service, %s; %s" % (SERVER_NAME, who, held))

    def pushProjectSnapshot(self, request, context):
        with self._lock:
            if self._is_running():
                return _status(common_pb2.FAILURE,
                               "program '%s' is running; push the project when it has ended" % self._running)
            self.store.save_project(request, now_ns())
            self._project = project_pb2.ProjectSnapshot()
            self._project.CopyFrom(request)
            self._cell = Cell(self._project)
        config = request.workspace.config
        summary = "project '%s' stored: %d behaviors, %d robots, %d effectors, %d items, %d cameras" % (
            request.version, len(request.behaviors), len(config.robots), len(config.effectors),
            len(config.items), len(config.cameras))
        log.info("%s", summary)
        return _status(common_pb2.SUCCESS, summary)

    def pullProjectSnapshot(self, request, context):
        with self._lock:
            project = project_pb2.ProjectSnapshot()
            if self._project is not None:
                project.CopyFrom(self._project)
        return project

    def pullSystemState(self, request, context):
        with self._lock:
            state = system_pb2.SystemState(status=self._status)
            cell = self._cell
        if cell is not None:
            workspace, latest = cell.snapshot()
            state.workspace.CopyFrom(workspace)
            for kind in ("images", "perception", "planner", "controller"):
                if kind in latest:
                    getattr(state, kind).CopyFrom(latest[kind])
        return state

    def runProgram(self, request, context):
        behavior = request.behavior
        with self._lock:
            if self._is_running():
                log.warning("refused '%s': '%s' is running", behavior, self._running)
                return _status(common_pb2.FAILURE, "program '%s' is still running; '%s' was not started"
                               % (self._running, behavior))
            if self._project is None:
                return _status(common_pb2.FAILURE, "no project has been pushed")
            if not behavior:
                return _status(common_pb2.FAILURE, "the request names no behavior")
            if behavior not in self._project.behaviors:
                known = ", ".join(sorted(self._project.behaviors)) or "none"
                return _status(common_pb2.FAILURE,
                               "unknown behavior '%s'; the project has: %s" % (behavior, known))
            run = ProgramRun(self._cell, behavior, self._project.behaviors[behavior], self.store,
                             time_scale=self.time_scale, stop_event=self._stop, seed=self.seed)
            self._running = behavior
            self._status = _status(common_pb2.RUNNING, "program '%s' is running" % behavior)
            self._thread = threading.Thread(target=self._run, args=(run,), name="program", daemon=True)
            self._thread.start()
        return _status(common_pb2.RUNNING, "program '%s' started" % behavior)

    def pullDataRecords(self, request, context):
        return data_pb2.DataRecords(records=self.store.record_sets(request.descriptions, request.since_ns))

    # Program thread ---------------------------------------------------------

    def _is_running(self):
        return self._thread is not None and self._thread.is_alive()

    def _run(self, run):
        try:
            status = run.run()
        except Exception as error:  # a fault of the server, not of the program
            log.exception("program '%s' broke down", run.behavior)
            status = _status(common_pb2.FAILURE, "program '%s' broke down: %s" % (run.behavior, error))
        with self._lock:
            self._status = status

    def wait(self, timeout=None):
        """Wait for the running program, if any; True when none is running."""
        thread = self._thread
        if thread is not None:
            thread.join(timeout)
        return not self._is_running()

    def shutdown(self, timeout=5.0):
        """Stop the running program at its next step or wait, and wait for it."""
        self._stop.set()
        if not self.wait(timeout):
            log.warning("the program did not stop within %.1f s", timeout)
