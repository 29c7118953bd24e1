"""ostrel-server: run the reference server of the Ostrel service."""

# Only the standard library is imported before the arguments are read, so
# --help and argument errors need neither gRPC nor the API modules.
import argparse
import logging
import signal
import sys
from types import FrameType
from typing import Any, List, Optional

from ostrel.programs import EXIT_ERROR, OneLineParser, VersionAction
from ostrel.protocol.addresses import DEFAULT_HOST, DEFAULT_PORT
from ostrel.server import (DEFAULT_MAX_MESSAGE_SIZE, DEFAULT_READ_TIMEOUT, ERR_TIME_SCALE, MAX_TIME_SCALE,
                           check_db_path, check_time_scale)
from ostrel.terminal import one_line

log = logging.getLogger("ostrel.server")

PROG = "ostrel-server"

DB_HELP = ("SQLite file for the project and the records (default: ostrel/server.sqlite3 "
           "in $XDG_DATA_HOME, else in ~/.local/share)")
HOST_HELP = ("address to listen on, or unix:PATH for a local socket (default: %(default)s); any address "
             "but a loopback one needs --tls-cert and --tls-key, or --insecure")
ERROR_LINE = PROG + ": error: %s"
ERR_LOAD_FAILED = "cannot load the service modules: %s"
LISTENING_LINE = "ostrel-server listening on %s (db %s, time scale %g%s)"
ERR_UNIX_AND_HOST = "argument --unix: not allowed with --host"
ERR_TLS_PAIR = "argument --tls-cert/--tls-key: give both, or neither"
ERR_CLIENT_CA = "argument --tls-client-ca: needs --tls-cert and --tls-key"


def _time_scale(text: str) -> float:
    try:
        return check_time_scale(float(text))
    except ValueError:
        raise argparse.ArgumentTypeError(ERR_TIME_SCALE % (MAX_TIME_SCALE, text)) from None


def _db(text: str) -> str:
    try:
        return check_db_path(text)
    except ValueError as error:
        raise argparse.ArgumentTypeError(str(error)) from None


def _port(text: str) -> int:
    value = int(text)
    if not 0 <= value <= 65535:
        raise argparse.ArgumentTypeError("must be 0 to 65535, got %s" % text)
    return value


def _positive_int(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        value = 0
    if value < 1:
        raise argparse.ArgumentTypeError("must be a whole number from 1, got %r" % text)
    return value


def _seconds(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        value = 0.0
    if not 0 < value < 1e6:
        raise argparse.ArgumentTypeError("must be a number of seconds above 0, got %r" % text)
    return value


_SIZE_SUFFIXES = {"": 1, "K": 1 << 10, "M": 1 << 20, "G": 1 << 30}


def _message_size(text: str) -> int:
    number, suffix = text[:-1], text[-1:].upper()
    if suffix not in _SIZE_SUFFIXES:
        number, suffix = text, ""
    try:
        value = int(number) * _SIZE_SUFFIXES[suffix]
    except ValueError:
        raise argparse.ArgumentTypeError("expected bytes such as 64M or 1G, got %r" % text) from None
    if not 0 < value < 1 << 31:
        raise argparse.ArgumentTypeError("must be 1 to 2G-1 bytes, got %s" % text)
    return value


def build_parser() -> argparse.ArgumentParser:
    parser = OneLineParser(
        prog=PROG,
        description="Serve the Ostrel service with a simulated work cell, for local development.")
    parser.add_argument("--version", action=VersionAction)
    parser.add_argument("--host", default=None, help=HOST_HELP.replace("%(default)s", DEFAULT_HOST))
    parser.add_argument("--unix", metavar="PATH", default=None,
                        help="listen on a local socket at PATH (mode 0600) instead of a port")
    parser.add_argument("--port", type=_port, default=DEFAULT_PORT,
                        help="port to listen on; 0 picks a free one (default: %(default)s)")
    parser.add_argument("--db", type=_db, default=None, help=DB_HELP)
    parser.add_argument("--time-scale", type=_time_scale, default=1.0,
                        help="factor on every simulated duration and sleep; 0.01 runs a program "
                             "100 times faster (default: %(default)s)")
    parser.add_argument("--seed", type=int, default=None, help="seed of the target sampling")
    parser.add_argument("--max-message-size", type=_message_size, default=DEFAULT_MAX_MESSAGE_SIZE,
                        help="largest request or answer, in bytes, with an optional K, M or G suffix "
                             "(default: 1G, at most 2G-1)")
    parser.add_argument("--no-reflection", dest="reflection", action="store_false",
                        help="do not offer server reflection (which lets gRPC tools list and call "
                             "the service without its schema files)")
    parser.add_argument("--log-level", default="INFO", choices=["DEBUG", "INFO", "WARNING", "ERROR"])
    security = parser.add_argument_group("security")
    security.add_argument("--tls-cert", metavar="FILE",
                          help="serve TLS with this PEM certificate (chain); read again on SIGHUP, with the key "
                               "and the client CA")
    security.add_argument("--tls-key", metavar="FILE", help="the PEM private key of --tls-cert")
    security.add_argument("--tls-client-ca", metavar="FILE",
                          help="require a client certificate signed by one of these PEM CA certificates")
    security.add_argument("--token-file", metavar="FILE",
                          help="require on every call a bearer token of this file (one a line, # comments); "
                               "read again on SIGHUP")
    security.add_argument("--insecure", action="store_true",
                          help="allow serving a non-loopback address without TLS")
    security.add_argument("--allow-shared-secret-files", action="store_true",
                          help="accept a token file or key that its group or others may read (refused "
                               "by default)")
    security.add_argument("--max-calls", metavar="N", type=_positive_int, default=None,
                          help="service calls in flight, more are refused as busy (default: 4 per worker, 32)")
    security.add_argument("--read-timeout", metavar="SECONDS", type=_seconds, default=DEFAULT_READ_TIMEOUT,
                          help="seconds a call's request may take to arrive (default: %(default)g)")
    return parser


def _check(parser: argparse.ArgumentParser, args: argparse.Namespace) -> None:
    """The checks between arguments; argparse's error (exit 2) when they fail."""
    if args.unix is not None:
        if args.host is not None:
            parser.error(ERR_UNIX_AND_HOST)
        args.host = "unix:" + args.unix
    elif args.host is None:
        args.host = DEFAULT_HOST
    if (args.tls_cert is None) != (args.tls_key is None):
        parser.error(ERR_TLS_PAIR)
    if args.tls_client_ca is not None and args.tls_cert is None:
        parser.error(ERR_CLIENT_CA)


STOP_SIGNALS = (signal.SIGINT, signal.SIGTERM)
HANGUP: Optional[int] = getattr(signal, "SIGHUP", None)  # none on Windows
WAKE_INTERVAL_S = 1.0


class SignalWaker:
    """SIGINT, SIGTERM and SIGHUP, taken from the moment it is made and
    handed to the main loop through a socket: the runtime writes the signal's
    number there from whatever thread the kernel interrupted, so the loop
    wakes at once, and no handler takes a lock that the interrupted code
    may hold."""

    def __init__(self) -> None:
        import socket

        self._reader, self._writer = socket.socketpair()
        for end in (self._reader, self._writer):
            end.setblocking(False)
        self._pending: List[int] = []
        self._previous_fd = signal.set_wakeup_fd(self._writer.fileno())
        self._previous = {signum: signal.signal(signum, self._ignore) for signum in self.signals()}

    @staticmethod
    def signals() -> List[int]:
        return list(STOP_SIGNALS) + ([HANGUP] if HANGUP is not None else [])

    @staticmethod
    def _ignore(signum: int, frame: Optional[FrameType]) -> None:
        """The Python-level handler does nothing: the number came through the socket."""

    def wait(self, timeout: float) -> Optional[int]:
        """The next signal received, or None after `timeout` seconds."""
        import select

        if not self._pending:
            if select.select([self._reader], [], [], timeout)[0]:
                try:
                    self._pending += list(self._reader.recv(256))
                except (BlockingIOError, InterruptedError):
                    pass
        return self._pending.pop(0) if self._pending else None

    def close(self) -> None:
        signal.set_wakeup_fd(self._previous_fd)
        previous: Any
        for signum, previous in self._previous.items():
            signal.signal(signum, previous)
        self._reader.close()
        self._writer.close()


def main(argv: Optional[List[str]] = None) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    _check(parser, args)
    from ostrel.runtime_logs import quiet_grpc_logs
    from ostrel.server.logs import QueuedLogging

    quiet_grpc_logs(force=True)  # stderr carries our one-line errors and our log only
    logs = QueuedLogging(args.log_level, sys.stderr)
    try:
        return _serve(args)
    finally:
        logs.stop()


def _fail(text: object) -> int:
    print(ERROR_LINE % one_line(str(text)), file=sys.stderr, flush=True)
    return EXIT_ERROR


def _serve(args: argparse.Namespace) -> int:
    # Before anything listens: a signal from then on is acted on, never fatal.
    signals = SignalWaker()
    try:
        return _run(args, signals)
    finally:
        signals.close()


def _run(args: argparse.Namespace, signals: SignalWaker) -> int:
    try:
        from ostrel.server import OstrelServer, TlsFiles

        tls = TlsFiles(args.tls_cert, args.tls_key, args.tls_client_ca) if args.tls_cert else None
        server = OstrelServer(db=args.db, host=args.host, port=args.port, time_scale=args.time_scale,
                              seed=args.seed, max_message_size=args.max_message_size,
                              reflection=args.reflection, tls=tls, token_file=args.token_file,
                              insecure=args.insecure, max_calls=args.max_calls, read_timeout=args.read_timeout,
                              allow_shared_secret_files=args.allow_shared_secret_files)
    except ImportError as error:
        return _fail(ERR_LOAD_FAILED % error)
    except (OSError, ValueError) as error:  # files, address in use, database in use, ...
        return _fail(error)

    server.start()
    security = ", TLS" if args.tls_cert else ""
    security += ", client certificates" if args.tls_client_ca else ""
    security += ", tokens" if args.token_file else ""
    # One write: a log line from another thread cannot land inside it.
    sys.stdout.write(LISTENING_LINE % (server.address, server.store.path, args.time_scale, security) + "\n")
    sys.stdout.flush()
    while True:
        signum = signals.wait(WAKE_INTERVAL_S)
        if signum in STOP_SIGNALS:
            log.info("received %s, stopping", signal.Signals(signum).name)
            break
        if signum == HANGUP:
            server.reload()
    server.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
