"""A reference server of the Ostrel service for local development.

It keeps the pushed project, runs its behavior trees in a simulated cell and
stores the recorded data in SQLite::

    from ostrel.server import OstrelServer
    with OstrelServer(db="records.sqlite3", port=0, time_scale=0.01) as server:
        print(server.target)
"""

import logging
from concurrent import futures

import grpc

from ostrel.api import service_pb2_grpc
from ostrel.server.servicer import OstrelService
from ostrel.server.store import RecordStore, default_db_path

__all__ = ["OstrelServer", "OstrelService", "RecordStore", "default_db_path"]

log = logging.getLogger(__name__)


class OstrelServer:
    """A gRPC server with an OstrelService on one port.

    `port` 0 binds a free port; `port` tells which after `start`.
    """

    def __init__(self, db=None, host="127.0.0.1", port=50051, time_scale=1.0, seed=None, max_workers=8):
        self.host = host
        self.store = RecordStore(db or default_db_path())
        self.service = OstrelService(self.store, time_scale=time_scale, seed=seed)
        self._server = grpc.server(futures.ThreadPoolExecutor(max_workers=max_workers))
        service_pb2_grpc.add_OstrelServicer_to_server(self.service, self._server)
        address = "%s:%d" % (host, port)
        try:
            self.port = self._server.add_insecure_port(address)
        except RuntimeError as error:  # grpc raises this when it cannot bind
            self.store.close()
            raise OSError("cannot listen on %s: %s" % (address, error)) from None
        if self.port == 0:
            self.store.close()
            raise OSError("cannot listen on %s" % address)

    @property
    def target(self):
        host = "[%s]" % self.host if ":" in self.host and not self.host.startswith("[") else self.host
        if host in ("0.0.0.0", "[::]"):
            host = "localhost"
        return "%s:%d" % (host, self.port)

    def start(self):
        self._server.start()
        log.info("listening on %s:%d", self.host, self.port)
        return self

    def stop(self, grace=1.0):
        """Stop the running program, then the server, then close the store."""
        self.service.shutdown()
        self._server.stop(grace).wait()
        self.store.close()
        log.info("stopped")

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
