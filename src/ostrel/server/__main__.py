"""ostrel-server: run the reference server of the Ostrel service."""

# Only the standard library is imported before the arguments are read, so
# --help and argument errors need neither gRPC nor the API modules.
import argparse
import logging
import signal
import sys
import threading
from types import FrameType
from typing import List, Optional

from ostrel.programs import EXIT_ERROR, OneLineParser, VersionAction
from ostrel.protocol.addresses import DEFAULT_HOST, DEFAULT_PORT
from ostrel.server import DEFAULT_MAX_MESSAGE_SIZE, ERR_TIME_SCALE, MAX_TIME_SCALE, check_db_path, check_time_scale
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
    security.add_argument("--tls-cert", metavar="FILE", help="serve TLS with this PEM certificate (chain)")
    security.add_argument("--tls-key", metavar="FILE", help="the PEM private key of --tls-cert")
    security.add_argument("--tls-client-ca", metavar="FILE",
                          help="require a client certificate signed by one of these PEM CA certificates")
    security.add_argument("--token-file", metavar="FILE",
                          help="require on every call a bearer token of this file (one a line, # comments); "
                               "read again on SIGHUP")
    security.add_argument("--insecure", action="store_true",
                          help="allow serving a non-loopback address without TLS")
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
    try:
        from ostrel.server import OstrelServer, TlsFiles

        tls = TlsFiles(args.tls_cert, args.tls_key, args.tls_client_ca) if args.tls_cert else None
        server = OstrelServer(db=args.db, host=args.host, port=args.port, time_scale=args.time_scale,
                              seed=args.seed, max_message_size=args.max_message_size,
                              reflection=args.reflection, tls=tls, token_file=args.token_file,
                              insecure=args.insecure)
    except ImportError as error:
        return _fail(ERR_LOAD_FAILED % error)
    except (OSError, ValueError) as error:  # files, address in use, database in use, ...
        return _fail(error)

    # Signal handlers only set flags; the main thread acts on them, woken at once.
    stopping, reloading, wake = threading.Event(), threading.Event(), threading.Event()

    def on_signal(signum: int, frame: Optional[FrameType]) -> None:
        log.info("received %s, stopping", signal.Signals(signum).name)
        stopping.set()
        wake.set()

    def on_hangup(signum: int, frame: Optional[FrameType]) -> None:
        reloading.set()
        wake.set()

    signal.signal(signal.SIGINT, on_signal)
    signal.signal(signal.SIGTERM, on_signal)
    if server.tokens is not None and hasattr(signal, "SIGHUP"):
        signal.signal(signal.SIGHUP, on_hangup)
    server.start()
    security = ", TLS" if args.tls_cert else ""
    security += ", client certificates" if args.tls_client_ca else ""
    security += ", tokens" if args.token_file else ""
    # One write: a log line from another thread cannot land inside it.
    sys.stdout.write(LISTENING_LINE % (server.address, server.store.path, args.time_scale, security) + "\n")
    sys.stdout.flush()
    while not stopping.is_set():
        wake.wait()
        wake.clear()
        if reloading.is_set() and server.tokens is not None:
            reloading.clear()
            server.tokens.reload()
    server.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
