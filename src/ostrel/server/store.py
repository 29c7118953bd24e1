"""Storage of the pushed project, the programs run and the recorded data.

Rows live in one SQLite file (write-ahead log, so that readers never wait
for the writer); large payloads live in files beside it (`blobs`), each
checked against the length and CRC-32 in its row when it is read. A project
is kept once per push, however many recordings refer to it.

Every event and product of a recording is committed as it happens, so a
server killed mid-run loses at most the step in flight; the next start
closes such a recording as interrupted and keeps what it holds.
"""

import logging
import os
import shutil
import sqlite3
import tempfile
import threading
from pathlib import Path
from typing import Dict, Iterable, List, Optional, Sequence, Set, Tuple, Union

from ostrel.api import data_pb2
from ostrel import wire
from ostrel.catalog import interrupted_event
from ostrel.protocol.fields import RECORDS_FIELD
from ostrel.server import migrate
from ostrel.server.blobs import BLOB_FILE_MIN, FILE_MODE, FOLDER_MODE, Blob, BlobFiles, ProcessLock, StagedProject
from ostrel.server.blobs import checksum
from ostrel.server.blobs import Damaged as Damaged, StoreError as StoreError  # raised from here to callers

log = logging.getLogger(__name__)

_MAX_SQLITE_INT = 2**63 - 1

# Fields of RecordSet and DataRecords that answers are assembled from.
RECORD_SET_FIELDS = {name: f.number for name, f in data_pb2.RecordSet.DESCRIPTOR.fields_by_name.items()}
EVENT_FIELD = RECORD_SET_FIELDS["events"]
PRODUCT_FIELD = RECORD_SET_FIELDS["products"]

OPEN, CLOSED, INTERRUPTED = "open", "closed", "interrupted"

ERR_CANNOT_OPEN = "cannot open the database %s: %s"
ERR_NO_PROJECT_ROW = "the database %s has no row for the project %s"
ERR_NO_CURRENT_ROW = "the database %s no longer holds the current project %s"
ERR_DAMAGED_SET = "record set '%s' (started at %d ns) is damaged: %s"
ERR_MORE_DAMAGED = "and %d more damaged record sets"
MAX_DAMAGED_LISTED = 3


class DamagedRecords(StoreError):
    """Record sets that cannot be answered whole; the text names each
    (up to a few) with its damaged file."""

    def __init__(self, damaged: Sequence[str]) -> None:
        listed = list(damaged[:MAX_DAMAGED_LISTED])
        if len(damaged) > MAX_DAMAGED_LISTED:
            listed.append(ERR_MORE_DAMAGED % (len(damaged) - MAX_DAMAGED_LISTED))
        super().__init__("; ".join(listed))
        self.damaged = list(damaged)


class TooLarge(Exception):
    """An answer larger than the caller's limit; `size` says how large."""

    def __init__(self, size: int) -> None:
        super().__init__(size)
        self.size = size


def default_db_path() -> str:
    """Where the server keeps its database when no path is given."""
    base = os.environ.get("XDG_DATA_HOME") or os.path.join(Path.home(), ".local", "share")
    return os.path.join(base, "ostrel", "server.sqlite3")


def _error_text(error: BaseException) -> str:
    return str(getattr(error, "strerror", None) or error)


class RecordStore:
    """The project, the programs and the record sets of one server.

    Writes go through one connection under a lock that only writers take
    (the program thread and pushes); each thread that reads gets its own
    connection and never waits for a write.
    """

    def __init__(self, path: Union[str, "os.PathLike[str]"]) -> None:
        self.path = str(path)
        self._write_lock = threading.Lock()
        self._local = threading.local()
        self._readers: List[sqlite3.Connection] = []
        self._readers_lock = threading.Lock()
        self._lock: Optional[ProcessLock] = None
        self._temp_dir: Optional[str] = None
        try:
            if self.path == ":memory:":  # a private database that goes with the store
                self._temp_dir = tempfile.mkdtemp(prefix="ostrel-store-")
                file = os.path.join(self._temp_dir, "server.sqlite3")
            else:
                Path(self.path).parent.mkdir(FOLDER_MODE, parents=True, exist_ok=True)
                file = self.path
                self._lock = ProcessLock(self.path + ".lock", self.path)
                os.close(os.open(file, os.O_RDWR | os.O_CREAT, FILE_MODE))  # SQLite's -wal, -shm take its mode
            self._uri = Path(os.path.abspath(file)).as_uri()
            self.blob_dir = file + ".blobs"
            self._files = BlobFiles(self.blob_dir, self.path)
            self._db = self._connect()
            migrate.prepare(self._db, self.path, self._files)
        except StoreError:
            self._release()
            raise
        except (OSError, sqlite3.Error) as error:
            self._release()
            raise StoreError(ERR_CANNOT_OPEN % (self.path, _error_text(error))) from None
        log.debug("record store at %s", self.path)

    def _connect(self) -> sqlite3.Connection:
        db = sqlite3.connect(self._uri, uri=True, check_same_thread=False, timeout=30.0)
        db.execute("PRAGMA synchronous=NORMAL")  # with the WAL: a killed process loses no commit
        return db

    def _release(self) -> None:
        db: Optional[sqlite3.Connection] = getattr(self, "_db", None)
        if db is not None:
            db.close()  # a no-op once closed
        if self._lock is not None:
            self._lock.release()
            self._lock = None
        if self._temp_dir is not None:
            shutil.rmtree(self._temp_dir, ignore_errors=True)
            self._temp_dir = None

    def close(self) -> None:
        with self._readers_lock:
            for reader in self._readers:
                reader.close()
            self._readers.clear()
        with self._write_lock:
            self._db.close()
        self._release()

    # Payloads -----------------------------------------------------------

    def blob_path(self, name: str) -> str:
        return self._files.path(name)

    def put_blob(self, data: bytes, name: Optional[str] = None) -> Blob:
        """(data, None) for a small payload kept in its row; (None, name)
        once a large one is in its file."""
        return self._files.put(data, name)

    def _reader(self) -> sqlite3.Connection:
        db: Optional[sqlite3.Connection] = getattr(self._local, "db", None)
        if db is None:
            db = self._connect()
            self._local.db = db
            with self._readers_lock:
                self._readers.append(db)
        return db

    def _write(self, sql: str, args: Sequence[object]) -> int:
        with self._write_lock, self._db:
            cur = self._db.execute(sql, args)
        return int(cur.lastrowid or 0)

    # The project -------------------------------------------------------

    def stage_project(self, data: bytes) -> StagedProject:
        """Start writing a pushed project (serialized) to its file while the
        caller parses it; `commit_project` makes it the current one."""
        return StagedProject(self._files, data)

    def commit_project(self, staged: StagedProject, pushed_ns: int) -> str:
        """Make a staged project the current one; returns its key.

        The project it replaces is dropped unless a recording refers to it,
        so that pushes alone do not grow the store.
        """
        staged.wait()
        with self._write_lock, self._db:
            row = self._db.execute("SELECT c.key, p.data IS NULL FROM current_project c "
                                   "JOIN projects p ON p.key = c.key WHERE c.id = 1").fetchone()
            previous: Optional[str] = row[0] if row is not None else None
            in_file = bool(row[1]) if row is not None else False
            self._db.execute("INSERT INTO projects (key, size, data, checksum) VALUES (?, ?, ?, ?)",
                             (staged.key, staged.size, staged.inline, staged.checksum))
            self._db.execute("INSERT OR REPLACE INTO current_project (id, key, pushed_ns) VALUES (1, ?, ?)",
                             (staged.key, pushed_ns))
            dropped = previous is not None and self._db.execute(
                "DELETE FROM projects WHERE key = ? AND NOT EXISTS "
                "(SELECT 1 FROM recordings WHERE project = ?)", (previous, previous)).rowcount > 0
        if previous is not None and dropped and in_file:
            self._files.remove(previous)
        return staged.key

    def repush_project(self, key: str, pushed_ns: int) -> None:
        """Record a push of the project already stored under `key`, which
        must still be the current one."""
        with self._write_lock, self._db:
            updated = self._db.execute("UPDATE current_project SET pushed_ns = ? WHERE id = 1 AND key = ?",
                                       (pushed_ns, key)).rowcount
        if updated != 1:
            raise StoreError(ERR_NO_CURRENT_ROW % (self.path, key))

    def save_project(self, data: bytes, pushed_ns: int) -> str:
        """Store a pushed project (serialized) as the current one; returns its key."""
        return self.commit_project(self.stage_project(data), pushed_ns)

    def load_project(self) -> Optional[Tuple[str, bytes]]:
        """(key, serialized project) of the last pushed project, or None;
        raises Damaged when its payload is not as written."""
        db = self._reader()
        row = db.execute("SELECT key FROM current_project WHERE id = 1").fetchone()
        if row is None:
            return None
        return row[0], self._project_bytes(db, row[0])

    def _project_bytes(self, db: sqlite3.Connection, key: str) -> bytes:
        row = db.execute("SELECT data, size, checksum FROM projects WHERE key = ?", (key,)).fetchone()
        if row is None:
            raise Damaged(ERR_NO_PROJECT_ROW % (self.path, key))
        data, size, crc = row
        return self._files.payload(data, None if data is not None else key, size, crc)

    # Programs -------------------------------------------------------------

    def begin_program(self, behavior: str, start_ns: int) -> int:
        return self._write("INSERT INTO programs (behavior, start_ns) VALUES (?, ?)", (behavior, start_ns))

    def end_program(self, program: int, stop_ns: int, code: int, message: str) -> None:
        self._write("UPDATE programs SET stop_ns = ?, code = ?, message = ? WHERE id = ?",
                    (stop_ns, code, message, program))

    def close_interrupted(self, stop_ns: int) -> Tuple[bool, str]:
        """Close what a server killed mid-run, or a failed write, left open:
        (whether a program was cut short, what was closed or "")."""
        with self._write_lock, self._db:
            programs = self._db.execute("SELECT id, behavior FROM programs WHERE stop_ns IS NULL ORDER BY id").fetchall()
            recordings = self._db.execute(
                "SELECT r.id, r.description, r.start_ns, MAX(e.stamp_ns), "
                "SUM(e.field = ?), SUM(e.field = ?) FROM recordings r LEFT JOIN entries e ON e.recording = r.id "
                "WHERE r.state = ? GROUP BY r.id ORDER BY r.id",
                (EVENT_FIELD, PRODUCT_FIELD, OPEN)).fetchall()
            for program, behavior in programs:
                self._db.execute("UPDATE programs SET stop_ns = ?, code = 2, message = ? WHERE id = ?",
                                 (stop_ns, "program '%s' was interrupted: the server stopped while it ran"
                                  % behavior, program))
            for recording, _, start, last, _, _ in recordings:
                stop = max(start, last or 0)
                self._mark_interrupted(recording, stop)
                self._db.execute("UPDATE recordings SET state = ?, stop_ns = ? WHERE id = ?",
                                 (INTERRUPTED, stop, recording))
        if not programs and not recordings:
            return False, ""
        parts: List[str] = []
        if programs:
            parts.append("the last program, '%s', was interrupted: the server stopped while it ran" % programs[-1][1])
        kept = "its recording '%s' is kept with %d events and %d products"
        if not programs:  # the program ended, but a failed write left its recording open
            kept = "its recording '%s' was left open and is kept with %d events and %d products"
        for _, description, _, _, events, products in recordings:
            parts.append(kept % (description, events or 0, products or 0))
        return bool(programs), "; ".join(parts)

    def last_program(self) -> Optional[Tuple[int, str]]:
        """(code, message) with which the last program ended, or None."""
        row = self._reader().execute(
            "SELECT code, message FROM programs WHERE stop_ns IS NOT NULL ORDER BY id DESC LIMIT 1").fetchone()
        if row is None:
            return None
        return int(row[0] if row[0] is not None else -1), str(row[1] or "")

    def _mark_interrupted(self, recording: int, stop_ns: int) -> None:
        """End an interrupted recording with the event that says so, for
        readers of the records (the set itself has no field for it)."""
        data = interrupted_event(stop_ns).SerializeToString()
        self._db.execute(
            "INSERT INTO entries (recording, seq, field, stamp_ns, size, data, blob) VALUES "
            "(?, (SELECT COALESCE(MAX(seq), -1) + 1 FROM entries WHERE recording = ?), ?, ?, ?, ?, NULL)",
            (recording, recording, EVENT_FIELD, stop_ns, len(data), data))

    # Recordings -----------------------------------------------------------

    def open_recording(self, description: str, start_ns: int, project: Optional[str]) -> int:
        """A new open recording; `project` is the key of its project."""
        return self._write("INSERT INTO recordings (description, start_ns, project, state) VALUES (?, ?, ?, ?)",
                           (description, start_ns, project, OPEN))

    def append(self, recording: int, field: int, stamp_ns: int, data: bytes) -> None:
        """Add an event (EVENT_FIELD) or a product (PRODUCT_FIELD), serialized."""
        inline, name = self.put_blob(data)
        try:
            with self._write_lock, self._db:
                self._db.execute(
                    "INSERT INTO entries (recording, seq, field, stamp_ns, size, data, blob, checksum) VALUES "
                    "(?, (SELECT COALESCE(MAX(seq), -1) + 1 FROM entries WHERE recording = ?), ?, ?, ?, ?, ?, ?)",
                    (recording, recording, field, stamp_ns, len(data), inline, name, checksum(data)))
        except BaseException:  # no row refers to the file: drop it now, not at the next start
            self._files.remove(name)
            raise

    def close_recording(self, recording: int, stop_ns: int) -> None:
        self._write("UPDATE recordings SET state = ?, stop_ns = ? WHERE id = ?", (CLOSED, stop_ns, recording))

    # Reading record sets ----------------------------------------------------

    def data_records(self, descriptions: Iterable[str] = (), since_ns: int = 0,
                     limit: Optional[int] = None) -> bytes:
        """A serialized DataRecords of the stored record sets, in the order
        they were closed, assembled from their stored encodings.

        `descriptions`, when not empty, keeps the sets with one of these
        descriptions; `since_ns` keeps those that started at or after it.
        Raises TooLarge, before reading any payload, when the answer would
        exceed `limit` bytes, and DamagedRecords, naming each set and file,
        when a payload is not as it was written.
        """
        db = self._reader()
        db.execute("BEGIN")  # one snapshot of the database for the sizes and the payloads
        try:
            return self._data_records(db, set(descriptions), since_ns, limit)
        finally:
            db.execute("COMMIT")

    def _data_records(self, db: sqlite3.Connection, wanted: Set[str], since_ns: int,
                      limit: Optional[int]) -> bytes:
        since = min(int(since_ns), _MAX_SQLITE_INT)
        legacy = self._legacy_sets(db, wanted, since)
        current = self._recordings(db, wanted, since)
        project_sizes = self._project_sizes(db, {r[4] for r in current if r[4]})
        size = sum(len(wire.field_head(RECORDS_FIELD, n)) + n for _, n in legacy)
        heads: List[Tuple[bytes, int]] = []
        for recording, description, start, stop, project, entries_size in current:
            head = (wire.string_field(RECORD_SET_FIELDS["description"], description)
                    + wire.uint_field(RECORD_SET_FIELDS["start_timestamp_ns"], start)
                    + wire.uint_field(RECORD_SET_FIELDS["stop_timestamp_ns"], stop or 0))
            project_size = project_sizes.get(project, 0) if project else 0
            project_size += len(wire.field_head(RECORD_SET_FIELDS["project"], project_size))
            body = len(head) + entries_size + project_size
            size += len(wire.field_head(RECORDS_FIELD, body)) + body
            heads.append((head, body))
        if limit is not None and size > limit:
            raise TooLarge(size)
        pieces: List[bytes] = []
        for row_id, _ in legacy:
            data = db.execute("SELECT data FROM record_sets WHERE id = ?", (row_id,)).fetchone()[0]
            pieces.append(wire.field(RECORDS_FIELD, data))
        projects: Dict[str, bytes] = {}
        damaged: List[str] = []
        for (recording, description, start, _, project, _), (head, body) in zip(current, heads):
            try:
                entries = self._entry_pieces(db, recording)
                data = b""
                if project:
                    if project not in projects:
                        projects[project] = self._project_bytes(db, project)
                    data = projects[project]
            except Damaged as error:  # the other sets are still read, to name every damaged one
                damaged.append(ERR_DAMAGED_SET % (description, start, error))
                continue
            pieces += [wire.field_head(RECORDS_FIELD, body), head]
            pieces += entries
            pieces.append(wire.field(RECORD_SET_FIELDS["project"], data) if len(data) < BLOB_FILE_MIN
                          else wire.field_head(RECORD_SET_FIELDS["project"], len(data)))
            if len(data) >= BLOB_FILE_MIN:
                pieces.append(data)  # not copied into a field of its own
        if damaged:
            raise DamagedRecords(damaged)
        return b"".join(pieces)

    def record_sets(self, descriptions: Iterable[str] = (), since_ns: int = 0) -> List[data_pb2.RecordSet]:
        """The record sets of `data_records`, parsed."""
        return list(data_pb2.DataRecords.FromString(self.data_records(descriptions, since_ns)).records)

    def _legacy_sets(self, db: sqlite3.Connection, wanted: Set[str], since: int) -> List[Tuple[int, int]]:
        if not migrate.has_table(db, "record_sets"):
            return []
        rows = db.execute("SELECT id, description, LENGTH(data) FROM record_sets WHERE start_ns >= ? ORDER BY id",
                          (since,)).fetchall()
        return [(row_id, size) for row_id, description, size in rows if not wanted or description in wanted]

    def _recordings(self, db: sqlite3.Connection, wanted: Set[str],
                    since: int) -> List[Tuple[int, str, int, int, Optional[str], int]]:
        rows = db.execute(
            "SELECT r.id, r.description, r.start_ns, r.stop_ns, r.project FROM recordings r "
            "WHERE r.state != ? AND r.start_ns >= ? ORDER BY r.id", (OPEN, since)).fetchall()
        kept = [row for row in rows if not wanted or row[1] in wanted]
        sizes = self._entry_sizes(db, [row[0] for row in kept])
        return [(r, d, s, t, p, sizes.get(r, 0)) for r, d, s, t, p in kept]

    @staticmethod
    def _entry_sizes(db: sqlite3.Connection, recordings: List[int]) -> Dict[int, int]:
        """Encoded size of the events and products of each recording."""
        if not recordings:
            return {}
        first, last = min(recordings), max(recordings)
        sizes: Dict[int, int] = {}
        for recording, field, size in db.execute(
                "SELECT recording, field, size FROM entries WHERE recording BETWEEN ? AND ?", (first, last)):
            sizes[recording] = sizes.get(recording, 0) + len(wire.field_head(field, size)) + size
        return sizes

    @staticmethod
    def _project_sizes(db: sqlite3.Connection, keys: Set[str]) -> Dict[str, int]:
        if not keys:
            return {}
        return {key: size for key, size in db.execute("SELECT key, size FROM projects") if key in keys}

    def _entry_pieces(self, db: sqlite3.Connection, recording: int) -> List[bytes]:
        pieces: List[bytes] = []
        for field, data, blob, size, crc in db.execute(
                "SELECT field, data, blob, size, checksum FROM entries WHERE recording = ? ORDER BY field, seq",
                (recording,)):
            payload = self._files.payload(data, blob, size, crc)
            if len(payload) < BLOB_FILE_MIN:
                pieces.append(wire.field(field, payload))
            else:
                pieces += [wire.field_head(field, len(payload)), payload]
        return pieces
