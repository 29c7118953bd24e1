"""The arguments of the `ostrel` command line: the checked types of its
values (seconds, --since times, the server's address), the options every
command takes, and the parser and help layout the command table is built
with (`commands`)."""

import argparse
import os
import re
import sys
import time
from typing import Any, Dict, Optional, Sequence, Tuple

from ostrel.programs import OneLineParser
from ostrel.connection.sources import connection_options

MIN_SECONDS = 0.01
MAX_SECONDS = 1e6

ERR_SECONDS = "must be a number of seconds from %g to %g, got %r"
ERR_SINCE = ("must be a time: ISO 8601 (2026-05-04T12:30:00Z; no zone is UTC), a time ago (30s, 15m, 1h, 2d, "
             "1w) or nanoseconds since the epoch; got %r")
# Seconds per unit of a time ago given to --since.
AGO_UNITS = {"s": 1, "m": 60, "h": 3600, "d": 86400, "w": 7 * 86400}
_AGO = re.compile(r"(\d+(?:\.\d*)?)([%s])" % "".join(AGO_UNITS))


def parse_seconds(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        value = float("nan")
    if not MIN_SECONDS <= value <= MAX_SECONDS:  # also refuses nan
        raise argparse.ArgumentTypeError(ERR_SECONDS % (MIN_SECONDS, MAX_SECONDS, text))
    return value


def since_ns(text: str, now_ns: int) -> int:
    """The time --since names, in nanoseconds since the epoch: digits are
    nanoseconds, `<number><s|m|h|d|w>` a time before `now_ns`, anything
    else an ISO 8601 time (UTC when it names no zone; the form `ostrel
    records` prints, with its ` UTC`, is taken as well). ValueError when it
    is none of these or lies outside 0 to 2**64-1."""
    text = text.strip()
    ago = _AGO.fullmatch(text)
    if text.isdigit():
        value = int(text)
    elif ago is not None:
        value = now_ns - int(float(ago.group(1)) * AGO_UNITS[ago.group(2)] * 1_000_000_000)
    else:
        value = _iso_ns(text)
    if not 0 <= value < 2**64:
        raise ValueError(text)
    return value


def _iso_ns(text: str) -> int:
    from datetime import datetime, timedelta, timezone

    for utc in (" UTC", "Z", "z"):
        if text.endswith(utc):
            text = text[:-len(utc)] + "+00:00"
    moment = datetime.fromisoformat(text)
    if moment.tzinfo is None:
        moment = moment.replace(tzinfo=timezone.utc)
    return (moment - datetime(1970, 1, 1, tzinfo=timezone.utc)) // timedelta(microseconds=1) * 1000


def parse_since(text: str) -> int:
    try:
        return since_ns(text, time.time_ns())
    except (ValueError, OverflowError):
        raise argparse.ArgumentTypeError(ERR_SINCE % text) from None


def _help_width() -> int:
    """The terminal's width as argparse would take it, without importing
    shutil while the parser is being built."""
    try:
        columns = int(os.environ.get("COLUMNS", "0"))
        if not columns and sys.__stdout__ is not None:
            columns = os.get_terminal_size(sys.__stdout__.fileno()).columns
    except (ValueError, OSError):
        columns = 0
    columns = columns or 80
    return max(columns - 2, 20)


class _Formatter(argparse.HelpFormatter):
    def __init__(self, prog: str, indent_increment: int = 2, max_help_position: int = 24,
                 width: Optional[int] = None) -> None:
        super().__init__(prog, indent_increment, max_help_position, _help_width() if width is None else width)


class Parser(OneLineParser):
    def __init__(self, *args: Any, **kwargs: Any) -> None:
        kwargs.setdefault("formatter_class", _Formatter)
        super().__init__(*args, **kwargs)


Argument = Tuple[Tuple[str, ...], Dict[str, Any]]


def arg(*flags: str, **options: Any) -> Argument:
    return flags, options


def common_options() -> Tuple[Argument, ...]:
    """Options of every command: those of the connection, and how to answer."""
    return (
        *connection_options(),
        arg("--json", action="store_true", default=False, help="print protobuf JSON instead of text"),
        arg("--timeout", type=parse_seconds, default=10.0, metavar="SECONDS", help="seconds per call (default: 10)"),
    )


def add_arguments(parser: argparse.ArgumentParser, arguments: Sequence[Argument], suppress: bool = False,
                  completions: Optional[Dict[str, Any]] = None) -> None:
    """Adds `arguments` to `parser`; `suppress` leaves out their defaults (for
    options a parent parser shares), `completions` maps metavars to how a
    shell completes them."""
    for flags, options in arguments:
        if suppress:
            options = dict(options, default=argparse.SUPPRESS)
        action = parser.add_argument(*flags, **options)
        if completions and options.get("metavar") in completions:
            setattr(action, "complete", completions[options["metavar"]])  # read by the completion generator
