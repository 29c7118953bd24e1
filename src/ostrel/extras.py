"""The optional dependencies (the extras of pyproject.toml), imported only
inside the calls that need them: every module of the package imports with
the core dependencies alone, and a call that needs an extra that is not
installed raises one ImportError naming it."""

import importlib
from types import ModuleType

# Extra -> what needs it, as the error names it.
EXTRAS = {
    "mcap": "MCAP files (ostrel records --mcap)",
    "report": "the report's plots (ostrel report)",
    "completion": "shell completion scripts (ostrel completion)",
}

ERR_MISSING_EXTRA = '%s need the extra %r, which is not installed (no module %s): pip install "ostrel[%s]"'


class MissingExtra(ImportError):
    """A module of an extra that is not installed; the text names the extra."""


def require(module: str, extra: str) -> ModuleType:
    """`module`, imported; MissingExtra naming `extra` when it is not installed."""
    try:
        return importlib.import_module(module)
    except ImportError as error:
        missing = error.name or module
        raise MissingExtra(ERR_MISSING_EXTRA % (EXTRAS[extra], extra, missing, extra), name=missing) from None
