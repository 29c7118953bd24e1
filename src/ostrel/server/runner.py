"""Runs one behavior tree of the project in the simulated cell."""

import logging
import random
import sqlite3
import threading
import time
from typing import Iterable, Optional, Tuple

from google.protobuf import any_pb2
from google.protobuf import message as _message

from ostrel import wire
from ostrel.api import common_pb2, data_pb2, execution_pb2, perception_pb2
from ostrel.catalog import PRODUCT_FIELDS
from ostrel.server.cell import Cell, StepFailed
from ostrel.server.steps import STEPS, Products, execute
from ostrel.server.store import EVENT_FIELD, PRODUCT_FIELD, RecordStore

TIMESTAMP_FIELD = data_pb2.ProductRecord.DESCRIPTOR.fields_by_name["timestamp_ns"].number
ANY_URL_PREFIX = "type.googleapis.com/"
ERR_NOT_CLOSED = "%s; its recording was not closed: %s"
ERR_STEP_BROKE = "%s broke down: %s"

log = logging.getLogger(__name__)


class Stopped(Exception):
    """The server is stopping; the program ends where it is."""


def now_ns() -> int:
    return time.time_ns()


class Recording:
    """The open recording of a run: its row in the store and what it holds so far."""

    def __init__(self, row: int, description: str) -> None:
        self.row = row
        self.description = description
        self.events = 0
        self.products = 0


class ProgramRun:
    """One run of a behavior tree.

    Routines: a sequence runs its children in order and a repetition runs its
    child `repetitions` times (0 runs it not at all); both stop at the first
    child that fails unless `allow_failure` is set, in which case they go on
    with the next child or repetition and succeed. A sleep waits its duration
    times the time scale; a node with no member does nothing.

    Each leaf step leaves an event in the open recording, if there is one,
    and its products are kept as the agents' latest; both are stored as the
    step ends. A step that fails leaves a failed event, whether the program
    asked for something the cell cannot do or the server broke down. A
    recording that is still open when the program ends is closed then.
    """

    def __init__(self, cell: Cell, behavior: str, tree: execution_pb2.Behavior, store: RecordStore,
                 time_scale: float = 1.0, stop_event: Optional[threading.Event] = None,
                 seed: Optional[int] = None, project: Optional[str] = None) -> None:
        self.cell = cell
        self.behavior = behavior
        self.tree = tree
        self.store = store
        self.project = project  # key of the stored project that recordings refer to
        self.time_scale = max(0.0, float(time_scale))
        self.stop_event = stop_event
        self.rng = random.Random(seed)
        self.recording: Optional[Recording] = None
        self.steps = 0
        self.failures = 0

    def run(self) -> common_pb2.Status:
        """Run the tree to its end; returns the program's final Status."""
        log.info("program '%s' started", self.behavior)
        program = self.store.begin_program(self.behavior, now_ns())
        try:
            self._node(self.tree)
            status = common_pb2.Status(
                code=common_pb2.SUCCESS,
                message="program '%s' finished: %d steps, %d allowed failures"
                % (self.behavior, self.steps, self.failures))
        except StepFailed as failure:
            status = common_pb2.Status(code=common_pb2.FAILURE,
                                       message="program '%s' failed: %s" % (self.behavior, failure))
        except Stopped:
            status = common_pb2.Status(
                code=common_pb2.FAILURE,
                message="program '%s' stopped after %d steps: the server is shutting down"
                % (self.behavior, self.steps))
        except Exception as error:  # a fault of the server, not of the program
            log.exception("program '%s' broke down", self.behavior)
            status = common_pb2.Status(code=common_pb2.FAILURE,
                                       message="program '%s' broke down: %s" % (self.behavior, error))
        if self.recording is not None:
            log.info("closing recording '%s' at the end of the program", self.recording.description)
            try:
                self._close_recording(now_ns())
            except (OSError, sqlite3.Error) as error:  # a full disk, say: the status still tells
                status = common_pb2.Status(code=common_pb2.FAILURE, message=ERR_NOT_CLOSED % (status.message, error))
        try:
            self.store.end_program(program, now_ns(), status.code, status.message)
        except (OSError, sqlite3.Error) as error:  # the next start closes it as interrupted
            log.error("the end of program '%s' was not stored: %s", self.behavior, error)
        log.info("%s", status.message)
        return status

    # Walking the tree -----------------------------------------------------

    def _wait(self, seconds: float) -> None:
        seconds *= self.time_scale
        if self.stop_event is None:
            if seconds > 0:
                time.sleep(seconds)
        elif self.stop_event.wait(seconds if seconds > 0 else 0):
            raise Stopped()

    def _children(self, children: Iterable[execution_pb2.Behavior], allow_failure: bool) -> None:
        for child in children:
            try:
                self._node(child)
            except StepFailed as failure:
                if not allow_failure:
                    raise
                self.failures += 1
                log.debug("allowed failure: %s", failure)

    def _node(self, node: execution_pb2.Behavior) -> None:
        case = node.WhichOneof("type")
        if case == "sequence_routine":
            self._children(node.sequence_routine.behaviors, node.sequence_routine.allow_failure)
        elif case == "repeat_routine":
            routine = node.repeat_routine
            if routine.HasField("behavior"):
                self._children((routine.behavior for _ in range(routine.repetitions)), routine.allow_failure)
        elif case == "sleep_routine":
            self._wait(max(0.0, node.sleep_routine.duration_s))
        elif case is not None:
            self._step(node, case)
        elif self.stop_event is not None and self.stop_event.is_set():
            raise Stopped()

    # Leaf steps ---------------------------------------------------------------

    def _action(self, node: execution_pb2.Behavior, case: str) -> Tuple[str, any_pb2.Any]:
        agent, action_class = STEPS[case].agent, STEPS[case].action
        action = action_class()
        if not isinstance(action, data_pb2.DatalinkAction):
            action.name = node.name
            action.simulate = True
        getattr(action, case).CopyFrom(getattr(node, case))
        # What Any.Pack does, spelled out: the packed message and its type URL.
        packed = any_pb2.Any(type_url=ANY_URL_PREFIX + action.DESCRIPTOR.full_name,
                             value=action.SerializeToString())
        return agent, packed

    def _step(self, node: execution_pb2.Behavior, case: str) -> None:
        if self.stop_event is not None and self.stop_event.is_set():
            raise Stopped()
        label = "step '%s' (%s)" % (node.name, case) if node.name else "step %s" % case
        agent, packed = self._action(node, case)
        start = now_ns()
        self.steps += 1
        products: Products = []
        failure: Optional[StepFailed] = None
        fault: Optional[Exception] = None
        stopped = False
        try:
            if agent == "datalink":
                self._datalink(case, getattr(node, case), start)
            else:
                products, nominal_s = execute(self.cell, case, getattr(node, case), self.rng)
                self._wait(nominal_s)
        except StepFailed as error:
            failure = StepFailed("%s: %s" % (label, error))
        except Stopped:  # still leaves its event, then ends the program
            stopped = True
            failure = StepFailed("%s: stopped, the server is shutting down" % label)
        except Exception as error:  # a fault of the server: recorded as the step's failure, then passed on
            fault = error
            failure = StepFailed(ERR_STEP_BROKE % (label, error))
        stop = now_ns()
        self._keep_products(products, stop, stop - start)
        if self.recording is not None:
            end = common_pb2.Status(code=common_pb2.SUCCESS, message="%s done" % label)
            if failure is not None:
                end = common_pb2.Status(code=common_pb2.FAILURE, message=str(failure))
            event = data_pb2.EventRecord(
                name=node.name or case, start_timestamp_ns=start, stop_timestamp_ns=stop,
                action=packed,
                status=[common_pb2.Status(code=common_pb2.RUNNING, message="%s started" % label), end],
                status_metadata=[common_pb2.Metadata(timestamp_ns=start), common_pb2.Metadata(timestamp_ns=stop)])
            self.store.append(self.recording.row, EVENT_FIELD, stop, event.SerializeToString())
            self.recording.events += 1
        if case == "stop_recording_data" and failure is None:
            self._close_recording(stop)
        if failure is not None:
            log.debug("%s", failure)
            if fault is not None:
                raise fault
            raise Stopped() if stopped else failure
        log.debug("%s done", label)

    def _keep_products(self, products: Products, stamp_ns: int, duration_ns: int) -> None:
        """Serialize each product once: as its agent's latest, and as a
        ProductRecord of the open recording."""
        for kind, message in products:
            if not isinstance(message, perception_pb2.ImagesProducts):
                message.metrics.step_duration_ns = duration_ns
            data = message.SerializeToString()
            self.cell.publish(kind, data)
            if self.recording is not None:
                record = wire.uint_field(TIMESTAMP_FIELD, stamp_ns) + wire.field(PRODUCT_FIELDS[kind], data)
                self.store.append(self.recording.row, PRODUCT_FIELD, stamp_ns, record)
                self.recording.products += 1

    def _datalink(self, case: str, step: _message.Message, start: int) -> None:
        if isinstance(step, execution_pb2.StartRecordingData):
            if self.recording is not None:
                raise StepFailed("recording '%s' is still open" % self.recording.description)
            row = self.store.open_recording(step.description, start, self.project)
            self.recording = Recording(row, step.description)
            log.info("recording '%s' opened", step.description)
        elif self.recording is None:
            raise StepFailed("no recording is open")

    def _close_recording(self, stop: int) -> None:
        recording, self.recording = self.recording, None
        if recording is None:
            return
        self.store.close_recording(recording.row, stop)
        log.info("recording '%s' stored: %d events, %d products",
                 recording.description, recording.events, recording.products)
