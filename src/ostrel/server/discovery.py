"""What standard gRPC tools find on the server: reflection and health.

Server reflection answers the names of the services and their schema files
as file descriptors, so that a client with no copy of the schema (a shell
client, a GUI client, a load tester) can list and call them. The standard
health service tells a supervisor whether the server as a whole ("") and the
Ostrel service are ready: both serve once the store is open, the service
stops serving while its store's disk is full or its folder not writable, and
both stop serving from the moment the server begins to stop.
"""

import logging
import os
import shutil
import threading
from typing import Any, Iterable, Optional

import grpc
from grpc_health.v1 import health, health_pb2, health_pb2_grpc
from grpc_reflection.v1alpha import reflection

log = logging.getLogger(__name__)

SERVING = health_pb2.HealthCheckResponse.SERVING
NOT_SERVING = health_pb2.HealthCheckResponse.NOT_SERVING
HEALTH_SERVICE = health.SERVICE_NAME
REFLECTION_SERVICE = reflection.SERVICE_NAME

# Below this much free space a push or a recording can fail at any write:
# SQLite's write-ahead log and one product of a camera need megabytes.
MIN_FREE_BYTES = 4 << 20
PROBE_INTERVAL_S = 2.0

LOW_SPACE = "%d bytes free on its disk, less than %d"
NOT_WRITABLE = "its folder is not writable"
UNREADABLE = "its disk cannot be read: %s"
UNUSABLE = "the store in %s is unusable (%s): %s is not serving"
USABLE_AGAIN = "the store in %s is usable again: %s is serving"


def add_reflection(server: grpc.Server, service_names: Iterable[str]) -> None:
    """Offer reflection for `service_names` and for reflection itself."""
    names = list(service_names) + [REFLECTION_SERVICE]
    reflection.enable_server_reflection(names, server)


def store_problem(folder: str) -> Optional[str]:
    """Why the folder of a store would refuse writes, or None."""
    try:
        free = shutil.disk_usage(folder).free
    except OSError as error:
        return UNREADABLE % error
    if free < MIN_FREE_BYTES:
        return LOW_SPACE % (free, MIN_FREE_BYTES)
    if not os.access(folder, os.W_OK):
        return NOT_WRITABLE
    return None


class Health:
    """The standard health service of one server, for the server as a whole
    and for the service named `service`, whose store is in `folder`.

    The store is probed every `interval` seconds between `start` and `stop`
    (a disk-usage query and an access check: no write, no lock).
    """

    def __init__(self, server: grpc.Server, service: str, folder: str,
                 interval: float = PROBE_INTERVAL_S) -> None:
        self.service = service
        self.folder = folder
        self.interval = interval
        self.servicer = health.HealthServicer()
        # Any: older stubs of the health package leave this function untyped.
        register: Any = getattr(health_pb2_grpc, "add_HealthServicer_to_server")
        register(self.servicer, server)
        self._stopping = threading.Event()
        self._thread: Optional[threading.Thread] = None
        self._status: Optional[int] = None
        self.probe()

    def probe(self) -> None:
        """Probe the store once; tell the watchers when the answer changes."""
        problem = store_problem(self.folder)
        status = SERVING if problem is None else NOT_SERVING
        if status == self._status:
            return
        if problem is not None:
            log.warning(UNUSABLE, self.folder, problem, self.service)
        elif self._status is not None:
            log.info(USABLE_AGAIN, self.folder, self.service)
        self._status = status
        self.servicer.set(self.service, status)

    def start(self) -> None:
        if self._thread is None and self.interval > 0:
            self._thread = threading.Thread(target=self._watch, name="store-probe", daemon=True)
            self._thread.start()

    def _watch(self) -> None:
        while not self._stopping.wait(self.interval):
            self.probe()

    def stop(self) -> None:
        """NOT_SERVING for everything from now on; ends the probing."""
        self._stopping.set()
        self.servicer.enter_graceful_shutdown()
        if self._thread is not None and self._thread is not threading.current_thread():
            self._thread.join()
