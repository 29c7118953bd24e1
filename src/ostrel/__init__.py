"""Python bindings of the Ostrel robot work-cell service.

`ostrel.connect(target, ...)` opens a stub on a channel set up as the
command line sets up its own (TLS, tokens, headers); see `ostrel.connection`.
"""

from typing import TYPE_CHECKING, Any, Optional

if TYPE_CHECKING:
    from ostrel.connection.channel import OstrelAsyncConnection, OstrelConnection, connect

__all__ = ["OstrelAsyncConnection", "OstrelConnection", "__version__", "connect", "version_action", "versions"]

# The one place of the package version: pyproject.toml reads it from here.
__version__ = "0.1.0"

# Loaded on first use, so that importing ostrel (and `ostrel --help`) does not import gRPC.
_LAZY = {"connect": "ostrel.connection.channel", "OstrelConnection": "ostrel.connection.channel",
         "OstrelAsyncConnection": "ostrel.connection.channel"}


def __getattr__(name: str) -> Any:
    if name not in _LAZY:
        raise AttributeError("module %r has no attribute %r" % (__name__, name))
    import importlib

    return getattr(importlib.import_module(_LAZY[name]), name)


def version_action() -> Any:
    """An argparse action for --version that reads the versions only when asked."""
    import argparse

    class Version(argparse.Action):
        def __init__(self, option_strings: Any, dest: str, **kwargs: Any) -> None:
            super().__init__(option_strings, dest, nargs=0,
                             help="print the versions of ostrel, protobuf and grpcio, and exit")

        def __call__(self, parser: argparse.ArgumentParser, namespace: argparse.Namespace, values: Any,
                     option_string: Optional[str] = None) -> None:
            print(versions())
            parser.exit()

    return Version


def versions() -> str:
    """The package version with those of the protobuf runtime (and its
    implementation) and of grpcio in use, as `--version` prints them."""
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
