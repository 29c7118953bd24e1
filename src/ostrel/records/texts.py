"""Recorded values as text for a line of output: times, durations, and
recorded text quoted so that it cannot act on a terminal."""

import time

from ostrel.api import data_pb2
from ostrel.terminal import quoted
from ostrel.catalog import interruption


def utc_time(ns: int) -> str:
    """A time stamp as UTC to the millisecond, the zone named."""
    if not ns:
        return "-"
    return time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime(ns / 1e9)) + ".%03d UTC" % (ns // 1_000_000 % 1000)


def duration_text(seconds: float) -> str:
    """A span of seconds in the unit that suits it: µs, ms or s."""
    magnitude = abs(seconds)
    if magnitude < 1e-3:
        return "%.0f µs" % (seconds * 1e6)
    if magnitude < 1:
        return "%.1f ms" % (seconds * 1e3)
    return "%.2f s" % seconds


def describe_set(header: data_pb2.RecordSet, index: int) -> str:
    return "record set %d %s%s" % (index, quoted(header.description or "(no description)"),
                                   " (interrupted)" if interruption(header) is not None else "")
