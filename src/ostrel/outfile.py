"""Files written in full or not at all.

Every file the command line writes goes through `OutputFile`: a regular file
(or a new one) is written beside its place and moved there when complete,
so a failure half-way (a full disk, an error, an interrupt) leaves the
earlier file as it was and no partial file behind. Anything else at the
path (a device, a pipe) is written directly.
"""

import os
from types import TracebackType
from typing import IO, Any, Callable, Optional, Type

PARTIAL_SUFFIX = ".partial"


class OutputFile:
    """A context manager giving the file to write; it is put in place on a
    clean exit and dropped on an exception. OSError when it cannot be."""

    def __init__(self, path: str, binary: bool = False) -> None:
        self.path = path
        self.binary = binary
        self._final = os.path.realpath(path)
        self._direct = os.path.exists(self._final) and not os.path.isfile(self._final)
        self._written = self._final if self._direct else "%s.%d%s" % (self._final, os.getpid(), PARTIAL_SUFFIX)
        self._handle: Optional[IO[Any]] = None

    def __enter__(self) -> IO[Any]:
        if self.binary:
            self._handle = open(self._written, "wb")
        else:
            self._handle = open(self._written, "w", encoding="utf-8", newline="")
        return self._handle

    def __exit__(self, kind: Optional[Type[BaseException]], error: Optional[BaseException],
                 trace: Optional[TracebackType]) -> None:
        handle, self._handle = self._handle, None
        try:
            if handle is not None:
                handle.close()  # flushes: a full disk shows here at the latest
            if error is None and not self._direct:
                os.replace(self._written, self._final)
        except OSError:
            if error is None:
                raise
        finally:
            if not self._direct and os.path.exists(self._written):
                os.unlink(self._written)


def write_atomic(path: str, write: Callable[[IO[Any]], object], binary: bool = False) -> None:
    """Writes the file at `path` through `write`, in full or not at all."""
    with OutputFile(path, binary) as handle:
        write(handle)


def write_bytes(path: str, data: bytes) -> None:
    write_atomic(path, lambda handle: handle.write(data), binary=True)


def write_text(path: str, text: str) -> None:
    write_atomic(path, lambda handle: handle.write(text))
