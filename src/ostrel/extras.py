"""The optional dependencies (the extras of pyproject.toml), imported only
inside the calls that need them: every module of the package imports with
the core dependencies alone, and a call that needs an extra that is not
installed raises one ImportError naming it."""

import importlib
from types import ModuleType
from typing import Mapping, NamedTuple, Tuple


class Extra(NamedTuple):
    purpose: str  # what needs it, as the error names it
    modules: Tuple[str, ...]  # the top-level modules it installs that the package imports


EXTRAS: Mapping[str, Extra] = {
    "mcap": Extra("MCAP files (ostrel records --mcap)", ("mcap", "mcap_protobuf", "foxglove_schemas_protobuf")),
    "report": Extra("the report's plots (ostrel report)", ("matplotlib",)),
    "completion": Extra("shell completion scripts (ostrel completion)", ("shtab",)),
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
        raise MissingExtra(ERR_MISSING_EXTRA % (EXTRAS[extra].purpose, extra, missing, extra), name=missing) from None
