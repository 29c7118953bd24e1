"""The payload files of the record store, and the lock that keeps a second
server off its database.

Payloads of BLOB_FILE_MIN bytes or more (large projects, images) live in
files in a directory beside the database, where they are written and read
at file speed; smaller ones stay in their rows. Each payload's length and
CRC-32 are kept in its row when it is written and checked when it is read,
so a file cut short or changed on disk is named instead of being sent as a
corrupt answer. Rows of earlier versions have no checksum; their length is
still checked.
"""

import errno
import fcntl
import logging
import os
import threading
import uuid
import zlib
from typing import Optional, Set, Tuple

log = logging.getLogger(__name__)

BLOB_FILE_MIN = 256 * 1024
# The store (database, its journal, the lock, payload files) is its owner's
# only: recordings and projects may hold what others must not read.
FILE_MODE = 0o600
FOLDER_MODE = 0o700

ERR_IN_USE = "the database %s is in use by another ostrel-server (pid %s); stop that server or give another --db"
IN_FILE = "the file %s"
IN_ROW = "a row of the database %s"
ERR_MISSING = "the file %s is missing"
ERR_CUT_SHORT = "%s holds %d bytes where %d were written"
ERR_CHANGED = "%s does not match the checksum taken when it was written"

Blob = Tuple[Optional[bytes], Optional[str]]  # inline bytes, or the name of a blob file


class StoreError(OSError):
    """A database that cannot be used; the text names the file and what to do."""


class Damaged(StoreError):
    """A payload that is not what was written: missing, cut short or changed."""


def new_key() -> str:
    return uuid.uuid4().hex


def checksum(data: bytes) -> int:
    """The CRC-32 kept with each payload."""
    return zlib.crc32(data)


def remove_quietly(path: str) -> None:
    try:
        os.remove(path)
    except OSError:
        pass  # gone already, or removed at the next start as a file no row refers to


class ProcessLock:
    """An exclusive lock on `path` that names its holder's pid in the file."""

    def __init__(self, path: str, db: str) -> None:
        self._fd = os.open(path, os.O_RDWR | os.O_CREAT, FILE_MODE)
        try:
            fcntl.flock(self._fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except OSError as error:
            holder = os.pread(self._fd, 32, 0).decode("ascii", "replace").strip() or "unknown"
            os.close(self._fd)
            if error.errno in (errno.EAGAIN, errno.EACCES):
                raise StoreError(ERR_IN_USE % (db, holder)) from None
            raise
        os.ftruncate(self._fd, 0)
        os.pwrite(self._fd, b"%d\n" % os.getpid(), 0)

    def release(self) -> None:
        if self._fd >= 0:
            os.close(self._fd)  # closing drops the lock
            self._fd = -1


class BlobFiles:
    """The payload files of the database `db`, in the directory `directory`."""

    def __init__(self, directory: str, db: str) -> None:
        self.directory = directory
        self._db = db

    def path(self, name: str) -> str:
        return os.path.join(self.directory, name[:2], name)

    def put(self, data: bytes, name: Optional[str] = None) -> Blob:
        """(data, None) for a small payload kept in its row; (None, name)
        once a large one is in its file."""
        if len(data) < BLOB_FILE_MIN:
            return data, None
        name = name or new_key()
        path = self.path(name)
        for folder in (self.directory, os.path.dirname(path)):  # makedirs gives a mode to the last only
            os.makedirs(folder, FOLDER_MODE, exist_ok=True)
        temporary = path + ".tmp"
        try:
            with open(os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, FILE_MODE), "wb") as out:
                out.write(data)
            os.replace(temporary, path)  # a reader never sees half a file
        except BaseException:  # a full disk, say: leave no partial file to fill it further
            remove_quietly(temporary)
            raise
        return None, name

    def remove(self, name: Optional[str]) -> None:
        """Drop the file of a payload that no row refers to (None: kept in its row)."""
        if name is not None:
            remove_quietly(self.path(name))

    def payload(self, data: Optional[bytes], name: Optional[str], size: int, crc: Optional[int]) -> bytes:
        """A stored payload, checked against the length and checksum in its
        row (`crc` None for rows of earlier versions); raises Damaged."""
        if name is None:
            payload, where = data or b"", IN_ROW % self._db
        else:
            where = IN_FILE % self.path(name)
            try:
                with open(self.path(name), "rb") as source:
                    payload = source.read()
            except FileNotFoundError:
                raise Damaged(ERR_MISSING % self.path(name)) from None
        if len(payload) != size:
            raise Damaged(ERR_CUT_SHORT % (where, len(payload), size))
        if crc is not None and checksum(payload) != crc:
            raise Damaged(ERR_CHANGED % where)
        return payload

    def remove_orphans(self, kept: Set[str]) -> None:
        """Remove the files not named in `kept`: left by a server killed
        between writing a file and committing its row."""
        if not os.path.isdir(self.directory):
            return
        for folder, _, names in os.walk(self.directory):
            for name in names:
                if name not in kept:
                    os.remove(os.path.join(folder, name))
                    log.info("removed %s: no record refers to it", os.path.join(folder, name))


class StagedProject:
    """A project on its way into the store: a large one is written to its
    file by a thread of its own, so that the write overlaps the parse."""

    def __init__(self, files: BlobFiles, data: bytes) -> None:
        self.key = new_key()
        self.size = len(data)
        self.inline: Optional[bytes] = data if len(data) < BLOB_FILE_MIN else None
        self.checksum = checksum(data) if self.inline is not None else None  # of a file: taken while writing it
        self._files = files
        self._error: Optional[BaseException] = None
        self._thread: Optional[threading.Thread] = None
        if self.inline is None:
            self._thread = threading.Thread(target=self._write, args=(data,), name="project-file", daemon=True)
            self._thread.start()

    def _write(self, data: bytes) -> None:
        try:
            self._files.put(data, self.key)
            self.checksum = checksum(data)
        except OSError as error:
            self._error = error

    def wait(self) -> None:
        """Wait for the file; raises what writing it raised."""
        if self._thread is not None:
            self._thread.join()
        if self._error is not None:
            raise self._error

    def discard(self) -> None:
        """Drop a project that is not committed, with its file."""
        try:
            self.wait()
        except OSError:
            pass
        if self.inline is None:
            self._files.remove(self.key)
