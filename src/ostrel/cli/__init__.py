"""The `ostrel` command line."""

from ostrel.cli.commands import *  # noqa: F403
from ostrel.cli.commands import main

__all__ = ["main"]
