"""Runs one behavior tree of the project in the simulated cell."""

import logging
import random
import threading
import time
from typing import TYPE_CHECKING, Iterable, Optional, Tuple

from google.protobuf import any_pb2
from google.protobuf import message as _message

from ostrel.api import common_pb2, data_pb2, execution_pb2, perception_pb2
from ostrel.server.cell import AGENTS, Cell, Products, StepFailed

if TYPE_CHECKING:
    from ostrel.server.store import RecordStore

log = logging.getLogger(__name__)


class Stopped(Exception):
    """The server is stopping; the program ends where it is."""


def now_ns() -> int:
    return time.time_ns()


class ProgramRun:
    """One run of a behavior tree.

    Routines: a sequence runs its children in order and a repetition runs its
    child `repetitions` times (0 runs it not at all); both stop at the first
    child that fails unless `allow_failure` is set, in which case they go on
    with the next child or repetition and succeed. A sleep waits its duration
    times the time scale; a node with no member does nothing.

    Each leaf step leaves an event in the open recording, if there is one,
    and its products are kept as the agents' latest. A recording that is
    still open when the program ends is closed and stored then.
    """

    def __init__(self, cell: Cell, behavior: str, tree: execution_pb2.Behavior, store: "RecordStore",
                 time_scale: float = 1.0, stop_event: Optional[threading.Event] = None,
                 seed: Optional[int] = None) -> None:
        self.cell = cell
        self.behavior = behavior
        self.tree = tree
        self.store = store
        self.time_scale = max(0.0, float(time_scale))
        self.stop_event = stop_event
        self.rng = random.Random(seed)
        self.recording: Optional[data_pb2.RecordSet] = None
        self.steps = 0
        self.failures = 0

    def run(self) -> common_pb2.Status:
        """Run the tree to its end; returns the program's final Status."""
        log.info("program '%s' started", self.behavior)
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
        finally:
            if self.recording is not None:
                log.info("closing recording '%s' at the end of the program", self.recording.description)
                self._close_recording(now_ns())
        log.info("program '%s': %s", self.behavior, status.message)
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
                log.info("allowed failure: %s", failure)

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
        agent, action_class = AGENTS[case]
        action = action_class()
        if not isinstance(action, data_pb2.DatalinkAction):
            action.name = node.name
            action.simulate = True
        getattr(action, case).CopyFrom(getattr(node, case))
        packed = any_pb2.Any()
        packed.Pack(action)
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
        stopped = False
        try:
            if agent == "datalink":
                self._datalink(case, getattr(node, case), start)
            else:
                products, nominal_s = self.cell.execute(case, getattr(node, case), self.rng)
                self._wait(nominal_s)
        except StepFailed as error:
            failure = StepFailed("%s: %s" % (label, error))
        except Stopped:  # still leaves its event, then ends the program
            stopped = True
            failure = StepFailed("%s: stopped, the server is shutting down" % label)
        stop = now_ns()
        with self.cell.lock:
            for _, message in products:
                if not isinstance(message, perception_pb2.ImagesProducts):
                    message.metrics.step_duration_ns = stop - start
        for kind, message in products:
            if self.recording is not None:
                record = self.recording.products.add(timestamp_ns=stop)
                getattr(record, kind).CopyFrom(message)
        if self.recording is not None:
            end = common_pb2.Status(code=common_pb2.SUCCESS, message="%s done" % label)
            if failure is not None:
                end = common_pb2.Status(code=common_pb2.FAILURE, message=str(failure))
            self.recording.events.add(
                name=node.name or case, start_timestamp_ns=start, stop_timestamp_ns=stop,
                action=packed,
                status=[common_pb2.Status(code=common_pb2.RUNNING, message="%s started" % label), end],
                status_metadata=[common_pb2.Metadata(timestamp_ns=start), common_pb2.Metadata(timestamp_ns=stop)])
        if case == "stop_recording_data" and failure is None:
            self._close_recording(stop)
        if failure is not None:
            log.info("%s", failure)
            raise Stopped() if stopped else failure
        log.debug("%s done", label)

    def _datalink(self, case: str, step: _message.Message, start: int) -> None:
        if isinstance(step, execution_pb2.StartRecordingData):
            if self.recording is not None:
                raise StepFailed("recording '%s' is still open" % self.recording.description)
            self.recording = data_pb2.RecordSet(description=step.description, start_timestamp_ns=start)
            self.recording.project.CopyFrom(self.cell.project)
            log.info("recording '%s' opened", step.description)
        elif self.recording is None:
            raise StepFailed("no recording is open")

    def _close_recording(self, stop: int) -> None:
        recording, self.recording = self.recording, None
        if recording is None:
            return
        recording.stop_timestamp_ns = stop
        self.store.add_record_set(recording)
        log.info("recording '%s' stored: %d events, %d products",
                 recording.description, len(recording.events), len(recording.products))
