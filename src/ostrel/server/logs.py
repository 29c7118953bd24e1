"""Logging that never makes the service wait.

Records go into a bounded queue that one thread drains to the stream; when
the stream stalls (a pipe nobody reads) and the queue is full, records are
dropped and counted instead of blocking the thread that logs. The drain
writes to the stream's file descriptor directly: a thread stuck in that
write holds no lock that logging's or the interpreter's shutdown needs.
"""

import io
import logging
import os
import queue
import threading
from logging.handlers import QueueHandler
from typing import IO, Optional

QUEUE_SIZE = 10000
FORMAT = "%(asctime)s %(levelname)s %(name)s: %(message)s"
# Text a caller chose (a name, a peer) is cut to this in a log line, and no
# line is longer than MAX_LINE: a flood of huge names cannot fill the disk.
MAX_TEXT = 200
MAX_LINE = 4096
CUT = "... (%d characters in all)"


def clip(text: str, limit: int = MAX_TEXT) -> str:
    """`text` cut to about `limit` characters, its control characters escaped
    so that it cannot forge a line of its own."""
    cut = text if len(text) <= limit else text[:limit]
    if not cut.isprintable():
        cut = "".join(c if c.isprintable() else repr(c)[1:-1] for c in cut)
    return cut if len(text) <= limit else cut + CUT % len(text)


def _bounded(line: str) -> str:
    return line if len(line) <= MAX_LINE else line[:MAX_LINE] + CUT % len(line)


class DroppingQueueHandler(QueueHandler):
    """A QueueHandler that drops a record rather than wait for room."""

    def __init__(self, records: "queue.Queue[Optional[logging.LogRecord]]") -> None:
        super().__init__(records)
        self.dropped = 0

    def enqueue(self, record: logging.LogRecord) -> None:
        try:
            self.queue.put_nowait(record)
        except queue.Full:
            self.dropped += 1


class QueuedLogging:
    """Routes the root logger through a DroppingQueueHandler to `stream`."""

    def __init__(self, level: str, stream: IO[str], size: int = QUEUE_SIZE) -> None:
        self._records: "queue.Queue[Optional[logging.LogRecord]]" = queue.Queue(size)
        self.handler = DroppingQueueHandler(self._records)
        self._stream = stream
        self._formatter = logging.Formatter(FORMAT)
        try:
            stream.flush()
            self._fd: Optional[int] = stream.fileno()
        except (AttributeError, OSError, io.UnsupportedOperation):
            self._fd = None
        root = logging.getLogger()
        root.setLevel(level)
        root.addHandler(self.handler)
        self._thread = threading.Thread(target=self._drain, name="log", daemon=True)
        self._thread.start()

    def _drain(self) -> None:
        while True:
            record = self._records.get()
            if record is None:
                return
            self._write(_bounded(self._formatter.format(record)) + "\n")

    def _write(self, text: str) -> None:
        try:
            if self._fd is None:
                self._stream.write(text)
                self._stream.flush()
                return
            data = text.encode("utf-8", "replace")
            while data:
                data = data[os.write(self._fd, data):]
        except (OSError, ValueError):
            pass  # a closed log stream loses the log, not the service

    def stop(self, timeout: float = 2.0) -> None:
        """Write what is queued, for at most `timeout` seconds: a stalled
        stream must not keep the process from ending."""
        logging.getLogger().removeHandler(self.handler)
        if self.handler.dropped:
            self._put(logging.makeLogRecord({"name": __name__, "levelno": logging.WARNING, "levelname": "WARNING",
                                             "msg": "%d log records were dropped: the log stream did not keep up",
                                             "args": (self.handler.dropped,)}))
        self._put(None)
        self._thread.join(timeout)

    def _put(self, record: Optional[logging.LogRecord]) -> None:
        try:
            self._records.put_nowait(record)
        except queue.Full:
            pass
