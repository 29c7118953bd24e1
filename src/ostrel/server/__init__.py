"""A reference server of the Ostrel service for local development.

It keeps the pushed project, runs its behavior trees in a simulated cell and
stores the recorded data in SQLite::

    from ostrel.server import OstrelServer
    with OstrelServer(db="records.sqlite3", port=0, time_scale=0.01) as server:
        print(server.target)
"""

import logging
from concurrent import futures
from typing import TYPE_CHECKING, Any, Optional

if TYPE_CHECKING:
    from ostrel.server.servicer import OstrelService
    from ostrel.server.store import RecordStore, default_db_path

__all__ = ["DEFAULT_MAX_MESSAGE_SIZE", "OstrelServer", "OstrelService", "RecordStore", "default_db_path"]

log = logging.getLogger(__name__)

# gRPC's limits are C ints; protobuf parses no message of 2 GiB or more.
MAX_MESSAGE_SIZE = 2**31 - 1
DEFAULT_MAX_MESSAGE_SIZE = 1 << 30  # servicer.DEFAULT_MAX_MESSAGE_SIZE, without importing gRPC

# gRPC and the API modules are imported on first use, so that `ostrel-server
# --help` (which imports this package before its __main__) starts fast.
_LAZY = {"OstrelService": "ostrel.server.servicer", "RecordStore": "ostrel.server.store",
         "default_db_path": "ostrel.server.store"}


def __getattr__(name: str) -> Any:
    if name not in _LAZY:
        raise AttributeError("module %r has no attribute %r" % (__name__, name))
    import importlib

    return getattr(importlib.import_module(_LAZY[name]), name)


def _bracketed(host: str) -> str:
    return "[%s]" % host if ":" in host and not host.startswith("[") else host


class OstrelServer:
    """A gRPC server with an OstrelService on one port.

    `port` 0 binds a free port; `port` tells which after `start`.
    `max_message_size` bounds every request and answer, in bytes.
    The standard health service is always offered; server reflection
    unless `reflection` is false.
    """

    def __init__(self, db: Optional[str] = None, host: str = "127.0.0.1", port: int = 50051,
                 time_scale: float = 1.0, seed: Optional[int] = None, max_workers: int = 8,
                 max_message_size: int = DEFAULT_MAX_MESSAGE_SIZE, reflection: bool = True) -> None:
        import os

        import grpc

        from ostrel.server import discovery
        from ostrel.server.servicer import SERVICE_NAME, OstrelService, handler
        from ostrel.server.store import RecordStore, default_db_path

        if not 0 < max_message_size <= MAX_MESSAGE_SIZE:
            raise ValueError("max_message_size must be 1 to %d bytes, got %d" % (MAX_MESSAGE_SIZE, max_message_size))
        self.host = host
        self.store = RecordStore(db or default_db_path())
        try:
            self.service = OstrelService(self.store, time_scale=time_scale, seed=seed,
                                         max_message_size=max_message_size)
        except BaseException:
            self.store.close()
            raise
        options = [
            ("grpc.so_reuseport", 0),  # a second server on a port in use must fail, not join it
            ("grpc.max_receive_message_length", max_message_size),
            ("grpc.max_send_message_length", max_message_size),
        ]
        self._server = grpc.server(futures.ThreadPoolExecutor(max_workers=max_workers), options=options)
        self._server.add_generic_rpc_handlers((handler(self.service),))
        self.health = discovery.Health(self._server, SERVICE_NAME, os.path.dirname(self.store.blob_dir))
        if reflection:
            discovery.add_reflection(self._server, [SERVICE_NAME, discovery.HEALTH_SERVICE])
        address = "%s:%d" % (_bracketed(host), port)
        try:
            self.port = self._server.add_insecure_port(address)
        except RuntimeError as error:  # grpc raises this when it cannot bind
            self.store.close()
            raise OSError("cannot listen on %s: %s" % (address, error)) from None
        if self.port == 0:
            self.store.close()
            raise OSError("cannot listen on %s" % address)

    @property
    def address(self) -> str:
        """host:port that the server listens on."""
        return "%s:%d" % (_bracketed(self.host), self.port)

    @property
    def target(self) -> str:
        """host:port for a client on this machine."""
        host = _bracketed(self.host)
        return "%s:%d" % ("localhost" if host in ("0.0.0.0", "[::]") else host, self.port)

    def start(self) -> "OstrelServer":
        self._server.start()
        self.health.start()
        log.info("listening on %s", self.address)
        return self

    def stop(self, grace: float = 1.0) -> None:
        """Stop the running program, then the server, then close the store;
        health checks answer NOT_SERVING from the start."""
        self.health.stop()
        self.service.shutdown()
        self._server.stop(grace).wait()
        self.store.close()
        log.info("stopped")

    def __enter__(self) -> "OstrelServer":
        return self.start()

    def __exit__(self, *exc: Any) -> None:
        self.stop()
