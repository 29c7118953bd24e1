"""Old module paths of the package, kept working for code that imports them.

A finder at the end of `sys.meta_path` answers only for names no other
finder has found: it loads the module under its new path and gives that
module for the old name too, with a DeprecationWarning. No file is left at
the old paths.
"""

from __future__ import annotations  # annotations left unevaluated: this module loads with every import of ostrel

import sys
import warnings
from types import ModuleType
from typing import Any, Dict, Optional, Sequence

MOVED: Dict[str, str] = {
    "ostrel.recordsets": "ostrel.records.sets",
    "ostrel.recordview": "ostrel.records.view",
    "ostrel.export": "ostrel.records.export",
    "ostrel.report": "ostrel.records.report",
    "ostrel.png": "ostrel.records.png",
    "ostrel.records_cli": "ostrel.cli.records",
}
MOVED_TEXT = "%s has moved to %s; the old name will be removed in a later release"


class _Alias:
    """Loader of an old name: the module of the new name takes its place."""

    def __init__(self, new: str) -> None:
        self.new = new

    def create_module(self, spec: Any) -> None:
        return None  # the default module, replaced in exec_module

    def exec_module(self, module: ModuleType) -> None:
        import importlib

        warnings.warn(MOVED_TEXT % (module.__name__, self.new), DeprecationWarning, stacklevel=2)
        sys.modules[module.__name__] = importlib.import_module(self.new)


class MovedModules:
    """The finder of the old names in MOVED."""

    def find_spec(self, name: str, path: Optional[Sequence[str]] = None, target: Optional[ModuleType] = None) -> Any:
        new = MOVED.get(name)
        if new is None:
            return None
        from importlib.machinery import ModuleSpec

        loader: Any = _Alias(new)  # a loader by its two methods, without importing importlib.abc
        return ModuleSpec(name, loader)


def install() -> None:
    if not any(isinstance(finder, MovedModules) for finder in sys.meta_path):
        sys.meta_path.append(MovedModules())
