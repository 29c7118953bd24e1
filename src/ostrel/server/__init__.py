"""A reference server of the Ostrel service for local development.

It keeps the pushed project, runs its behavior trees in a simulated cell and
stores the recorded data in SQLite::

    from ostrel.server import OstrelServer
    with OstrelServer(db="records.sqlite3", port=0, time_scale=0.01) as server:
        print(server.target)
"""

import logging
import math
import os
from concurrent import futures
from typing import TYPE_CHECKING, Any, List, Optional

from ostrel import lazy_attributes
from ostrel.protocol.addresses import DEFAULT_HOST, DEFAULT_PORT
from ostrel.server.limits import DEFAULT_MAX_MESSAGE_SIZE, MAX_MESSAGE_SIZE

if TYPE_CHECKING:
    from ostrel.server.gate import Gate
    from ostrel.server.security import TlsFiles, TokenFile
    from ostrel.server.tls import ServerTls
    from ostrel.server.servicer import OstrelService
    from ostrel.server.store import RecordStore, default_db_path

__all__ = ["DEFAULT_MAX_MESSAGE_SIZE", "OstrelServer", "OstrelService", "RecordStore", "TlsFiles",
           "default_db_path"]

log = logging.getLogger(__name__)

# A factor past this would put simulated times beyond what a timestamp holds.
MAX_TIME_SCALE = 1e6
# Seconds an admitted call's request may take to arrive: a caller who sends
# headers and then nothing holds a worker this long at most.
DEFAULT_READ_TIMEOUT = 30.0
CALLS_PER_WORKER = 4  # service calls in flight (running or waiting) per worker, by default

ERR_MESSAGE_SIZE = "max_message_size must be 1 to %d bytes, got %d"
ERR_TIME_SCALE = "must be a number from 0 to %g, got %r"
ERR_TIME_SCALE_VALUE = "time_scale " + ERR_TIME_SCALE
ERR_DB_EMPTY = "the database path is empty"
ERR_DB_FOLDER = "the database path %s is a directory; name a file in it"
ERR_LISTEN = "cannot listen on %s: %s"
ERR_MAX_CALLS = "max_calls must be at least 1, got %d"
ERR_READ_TIMEOUT = "read_timeout must be a positive number of seconds, got %r"
NOTHING_TO_RELOAD = "SIGHUP: this server reads no token or TLS file; nothing to read again"
UNIX_MODE = 0o600  # a local socket: for this user only
SOCKET_PATH_MAX = 107  # bytes in a socket address's path, as Linux and macOS allow at least

# gRPC and the API modules are imported on first use, so that `ostrel-server
# --help` (which imports this package before its __main__) starts fast.
_LAZY = {"OstrelService": "ostrel.server.servicer", "RecordStore": "ostrel.server.store",
         "default_db_path": "ostrel.server.store", "TlsFiles": "ostrel.server.security"}


__getattr__ = lazy_attributes(__name__, _LAZY)


def _bracketed(host: str) -> str:
    return "[%s]" % host if ":" in host and not host.startswith(("[", "unix:")) else host


def check_time_scale(value: float) -> float:
    if not (math.isfinite(value) and 0 <= value <= MAX_TIME_SCALE):
        raise ValueError(ERR_TIME_SCALE_VALUE % (MAX_TIME_SCALE, value))
    return value


def check_db_path(db: str) -> str:
    """ValueError for a path that cannot be a database file, before any file
    (the database, its lock) is made beside it."""
    if not db:
        raise ValueError(ERR_DB_EMPTY)
    if os.path.isdir(db):
        raise ValueError(ERR_DB_FOLDER % db)
    return db


def _bind_failure(host: str, port: int) -> str:
    """Why the address cannot be bound, as the operating system says it
    (gRPC's own error names no reason)."""
    import socket

    try:
        infos = socket.getaddrinfo(host.strip("[]"), port, type=socket.SOCK_STREAM, flags=socket.AI_PASSIVE)
    except socket.gaierror as error:
        return "cannot resolve %r: %s" % (host, error.strerror)
    for family, kind, proto, _, address in infos:
        with socket.socket(family, kind, proto) as probe:
            try:
                probe.bind(address)
            except OSError as error:
                return error.strerror or str(error)
    return "gRPC cannot bind it"


class OstrelServer:
    """A gRPC server with an OstrelService on one port or local socket.

    `host` may be `unix:PATH` for a socket of mode 0600 (then `port` is not
    used). `port` 0 binds a free port; `port` tells which after `start`.
    `max_message_size` bounds every request and answer, in bytes.
    `tls` serves TLS (with a client CA: mutual TLS); `token_file` requires a
    bearer token of that file on every call but health checks, checked from
    the call's headers before its body is read; `reload()` reads the token
    and TLS files again. A token file or key that others may read is refused
    unless `allow_shared_secret_files`. Serving a non-loopback address
    without TLS is refused unless `insecure` is set. At most `max_calls`
    service calls are in flight (default: 4 per worker), more are answered
    RESOURCE_EXHAUSTED; a request that takes longer than `read_timeout`
    seconds to arrive is given up. The standard health service is always
    offered, on threads of its own; server reflection unless `reflection`
    is false.

    The address is bound before the database is opened, and every fault
    (ValueError for settings and files, OSError for the address and the
    database) leaves nothing listening and nothing open.
    """

    def __init__(self, db: Optional[str] = None, host: str = DEFAULT_HOST, port: int = DEFAULT_PORT,
                 time_scale: float = 1.0, seed: Optional[int] = None, max_workers: int = 8,
                 max_message_size: int = DEFAULT_MAX_MESSAGE_SIZE, reflection: bool = True,
                 tls: "Optional[TlsFiles]" = None, token_file: Optional[str] = None,
                 insecure: bool = False, max_calls: Optional[int] = None,
                 read_timeout: float = DEFAULT_READ_TIMEOUT, allow_shared_secret_files: bool = False) -> None:
        from ostrel.runtime_logs import quiet_grpc_logs

        quiet_grpc_logs()
        import grpc

        from ostrel.server import security
        from ostrel.server.gate import Gate
        from ostrel.server.store import default_db_path
        from ostrel.server.tls import ServerTls

        if not 0 < max_message_size <= MAX_MESSAGE_SIZE:
            raise ValueError(ERR_MESSAGE_SIZE % (MAX_MESSAGE_SIZE, max_message_size))
        max_calls = CALLS_PER_WORKER * max_workers if max_calls is None else max_calls
        if max_calls < 1:
            raise ValueError(ERR_MAX_CALLS % max_calls)
        if not (math.isfinite(read_timeout) and read_timeout > 0):
            raise ValueError(ERR_READ_TIMEOUT % read_timeout)
        check_time_scale(time_scale)
        db_path = check_db_path(db if db is not None else default_db_path())
        self.tls: "Optional[ServerTls]" = ServerTls(tls, allow_shared_secret_files) if tls is not None else None
        credentials = self.tls.credentials if self.tls is not None else None
        self.tokens: "Optional[TokenFile]" = (security.TokenFile(token_file, allow_shared_secret_files)
                                              if token_file is not None else None)
        self.exposed = security.check_exposure(host, credentials is not None, self.tokens is not None, insecure)
        self.host = host
        self.socket_path = security.socket_path(host)
        options = [
            ("grpc.so_reuseport", 0),  # a second server on a port in use must fail, not join it
            ("grpc.max_receive_message_length", max_message_size),
            ("grpc.max_send_message_length", max_message_size),
        ]
        self.gate: "Gate" = Gate(self.tokens, max_calls, read_timeout)
        interceptors: "List[grpc.ServerInterceptor]" = [self.gate]
        self._server = grpc.server(futures.ThreadPoolExecutor(max_workers=max_workers), options=options,
                                   interceptors=interceptors)
        self.port = self._bind(port, credentials)
        try:
            self._open(db_path, time_scale, seed, max_message_size, reflection)
        except BaseException:
            self._release()
            raise

    def _bind(self, port: int, credentials: Any) -> int:
        """Binds the address (no one is served before `start`)."""
        if self.socket_path is not None:
            return self._bind_socket(credentials)
        address = "%s:%d" % (_bracketed(self.host), port)
        bound = self._add_port(address, credentials)
        if bound == 0:
            self._release()
            raise OSError(ERR_LISTEN % (address, _bind_failure(self.host, port)))
        return bound

    def _add_port(self, address: str, credentials: Any, private_umask: bool = False) -> int:
        # The umask is the process's: changed only for a socket's bind, and only for a moment.
        previous = os.umask(0o177) if private_umask else None
        try:
            if credentials is None:
                return self._server.add_insecure_port(address)
            return self._server.add_secure_port(address, credentials)
        except RuntimeError:  # grpc raises this when it cannot bind
            return 0
        finally:
            if previous is not None:
                os.umask(previous)

    def _bind_socket(self, credentials: Any) -> int:
        """Binds the socket in a folder of this user's only, sets its mode and
        only then moves it to its path: no one else can reach it at any moment."""
        import shutil
        import tempfile

        from ostrel.server import security

        assert self.socket_path is not None
        security.prepare_socket(self.socket_path)
        try:
            folder = tempfile.mkdtemp(prefix=".o", dir=os.path.dirname(os.path.abspath(self.socket_path)))
        except OSError as error:
            raise OSError(ERR_LISTEN % (self.host, error.strerror or error)) from None
        private = os.path.join(folder, "s")
        try:
            if len(os.fsencode(private)) > SOCKET_PATH_MAX:
                private = self.socket_path  # no room for the folder: bound in place, private from the start
            bound = self._add_port("unix:" + private, credentials, private_umask=private == self.socket_path)
            if bound == 0:
                raise OSError(ERR_LISTEN % (self.host, "the path cannot be bound"))
            try:
                os.chmod(private, UNIX_MODE)
                os.replace(private, self.socket_path)
            except OSError as error:
                raise OSError(ERR_LISTEN % (self.host, error.strerror or error)) from None
        except OSError:
            self._release()
            raise
        finally:
            shutil.rmtree(folder, ignore_errors=True)
        return bound

    def _open(self, db_path: str, time_scale: float, seed: Optional[int], max_message_size: int,
              reflection: bool) -> None:
        from ostrel.server import discovery
        from ostrel.server.servicer import SERVICE_NAME, OstrelService, handler
        from ostrel.server.store import RecordStore

        self.store = RecordStore(db_path)
        try:
            self.service = OstrelService(self.store, time_scale=time_scale, seed=seed,
                                         max_message_size=max_message_size)
        except BaseException:
            self.store.close()
            raise
        self._server.add_generic_rpc_handlers((handler(self.service),))
        self.health = discovery.Health(self._server, SERVICE_NAME, os.path.dirname(self.store.blob_dir))
        if reflection:
            discovery.add_reflection(self._server, [SERVICE_NAME, discovery.HEALTH_SERVICE])

    def _release(self) -> None:
        """Frees the address and the socket file of a server that never started."""
        self._server.stop(None)
        self.gate.stop()
        self._remove_socket()

    def _remove_socket(self) -> None:
        if self.socket_path is not None:
            try:
                os.unlink(self.socket_path)
            except OSError:
                pass

    @property
    def address(self) -> str:
        """host:port (or unix:PATH) that the server listens on."""
        if self.socket_path is not None:
            return self.host
        return "%s:%d" % (_bracketed(self.host), self.port)

    @property
    def target(self) -> str:
        """host:port (or unix:PATH) for a client on this machine."""
        if self.socket_path is not None:
            return self.host
        host = _bracketed(self.host)
        return "%s:%d" % ("localhost" if host in ("0.0.0.0", "[::]") else host, self.port)

    def start(self) -> "OstrelServer":
        self._server.start()
        self.health.start()
        log.info("listening on %s", self.address)
        if self.exposed:
            from ostrel.server.security import INSECURE_WARNING

            log.warning(INSECURE_WARNING, self.address)
        return self

    def stop(self, grace: float = 1.0) -> None:
        """Stop the running program, then the server, then close the store;
        health checks answer NOT_SERVING from the start."""
        self.health.stop()
        self.service.shutdown()
        self._server.stop(grace).wait()
        self.gate.stop()
        self.store.close()
        self._remove_socket()
        log.info("stopped")

    def reload(self) -> bool:
        """Reads the token file and the TLS files again (as on SIGHUP); a
        file that cannot be used keeps what was read before. False when
        anything was kept, or there is nothing to read."""
        done = [part.reload() for part in (self.tokens, self.tls) if part is not None]
        if not done:
            log.info(NOTHING_TO_RELOAD)
        return bool(done) and all(done)

    def __enter__(self) -> "OstrelServer":
        return self.start()

    def __exit__(self, *exc: Any) -> None:
        self.stop()
