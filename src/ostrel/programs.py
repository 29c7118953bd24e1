"""What the two programs, `ostrel` and `ostrel-server`, share: the exit code
of a fault, argument errors in one line, and --version."""

import argparse
from typing import Any, NoReturn, Optional

from ostrel.terminal import one_line

EXIT_ERROR = 2  # could not be carried out: arguments, files, address, connection (argparse's own code too)


class OneLineParser(argparse.ArgumentParser):
    """Argument errors as one line, without the usage, and EXIT_ERROR."""

    def error(self, message: str) -> NoReturn:
        self.exit(EXIT_ERROR, "%s: error: %s\n" % (self.prog, one_line(message)))


class VersionAction(argparse.Action):
    """--version: the versions, read only when asked for."""

    def __init__(self, option_strings: Any, dest: str, **kwargs: Any) -> None:
        super().__init__(option_strings, dest, nargs=0,
                         help="print the versions of ostrel, protobuf and grpcio, and exit")

    def __call__(self, parser: argparse.ArgumentParser, namespace: argparse.Namespace, values: Any,
                 option_string: Optional[str] = None) -> None:
        print(versions())
        parser.exit()


def versions() -> str:
    """The package version with those of the protobuf runtime (and its
    implementation) and of grpcio in use, as `--version` prints them."""
    from ostrel import __version__

    parts = ["ostrel %s" % __version__]
    try:
        import google.protobuf
        from google.protobuf.internal import api_implementation

        parts.append("protobuf %s (%s)" % (google.protobuf.__version__, api_implementation.Type()))
    except ImportError:
        parts.append("protobuf missing")
    try:
        import grpc

        parts.append("grpcio %s" % grpc.__version__)
    except ImportError:
        parts.append("grpcio missing")
    import platform

    parts.append("%s %s" % (platform.python_implementation(), platform.python_version()))
    return ", ".join(parts)
