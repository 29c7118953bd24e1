"""Python bindings of the Ostrel robot work-cell service.

`ostrel.connect(target, ...)` opens a stub on a channel set up as the
command line sets up its own (TLS, tokens, headers); see
`ostrel.connection.channel`.

Importing the package loads nothing else: not gRPC, not `typing`.
"""

TYPE_CHECKING = False  # typing.TYPE_CHECKING, without importing typing
if TYPE_CHECKING:
    from typing import Any, Callable, Dict

    from ostrel.connection.channel import OstrelAsyncConnection, OstrelConnection, connect

__all__ = ["OstrelAsyncConnection", "OstrelConnection", "__version__", "connect"]

# The one place of the package version: pyproject.toml reads it from here.
__version__ = "0.1.0"


def lazy_attributes(module: str, table: "Dict[str, str]") -> "Callable[[str], Any]":
    """The `__getattr__` of a package whose names of `table` (name -> module)
    are imported on first use."""

    def __getattr__(name: str) -> "Any":
        if name not in table:
            raise AttributeError("module %r has no attribute %r" % (module, name))
        return getattr(__import__(table[name], fromlist=[name]), name)

    return __getattr__


# Loaded on first use, so that importing ostrel (and `ostrel --help`) does not import gRPC.
__getattr__ = lazy_attributes(__name__, dict.fromkeys(("connect", "OstrelConnection", "OstrelAsyncConnection"),
                                                      "ostrel.connection.channel"))
