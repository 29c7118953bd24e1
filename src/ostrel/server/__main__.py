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

from ostrel.server import DEFAULT_MAX_MESSAGE_SIZE

log = logging.getLogger("ostrel.server")

DB_HELP = ("SQLite file for the project and the records (default: ostrel/server.sqlite3 "
           "in $XDG_DATA_HOME, else in ~/.local/share)")


def _positive_or_zero(text: str) -> float:
    value = float(text)
    if value < 0:
        raise argparse.ArgumentTypeError("must be 0 or more, got %s" % text)
    return value


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
    parser = argparse.ArgumentParser(
        prog="ostrel-server",
        description="Serve the Ostrel service with a simulated work cell, for local development.")
    parser.add_argument("--host", default="127.0.0.1", help="address to listen on (default: %(default)s)")
    parser.add_argument("--port", type=_port, default=50051,
                        help="port to listen on; 0 picks a free one (default: %(default)s)")
    parser.add_argument("--db", default=None, help=DB_HELP)
    parser.add_argument("--time-scale", type=_positive_or_zero, default=1.0,
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
    return parser


def main(argv: Optional[List[str]] = None) -> int:
    args = build_parser().parse_args(argv)
    from ostrel.server.logs import QueuedLogging

    logs = QueuedLogging(args.log_level, sys.stderr)
    try:
        return _serve(args)
    finally:
        logs.stop()


def _serve(args: argparse.Namespace) -> int:
    try:
        from ostrel.server import OstrelServer

        server = OstrelServer(db=args.db, host=args.host, port=args.port, time_scale=args.time_scale,
                              seed=args.seed, max_message_size=args.max_message_size,
                              reflection=args.reflection)
    except ImportError as error:
        print("ostrel-server: error: cannot load the service modules: %s" % error, file=sys.stderr)
        return 1
    except Exception as error:  # unusable database path, database in use, port in use, ...
        print("ostrel-server: error: %s" % error, file=sys.stderr)
        return 1

    stopping = threading.Event()

    def on_signal(signum: int, frame: Optional[FrameType]) -> None:
        log.info("received %s, stopping", signal.Signals(signum).name)
        stopping.set()

    signal.signal(signal.SIGINT, on_signal)
    signal.signal(signal.SIGTERM, on_signal)
    server.start()
    # One write of the whole line: print() writes the text and its newline
    # apart, and a log line (stderr) could come between them when both
    # streams go to one file unbuffered.
    sys.stdout.write("ostrel-server listening on %s (db %s, time scale %g)\n"
                     % (server.address, server.store.path, args.time_scale))
    sys.stdout.flush()
    while not stopping.wait(0.5):
        pass
    server.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
