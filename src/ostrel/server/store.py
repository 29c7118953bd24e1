"""SQLite storage of the pushed project and the closed record sets."""

import logging
import os
import sqlite3
import threading
from pathlib import Path

from ostrel.api import data_pb2, project_pb2

log = logging.getLogger(__name__)

_MAX_SQLITE_INT = 2**63 - 1

_SCHEMA = """
CREATE TABLE IF NOT EXISTS project (
    id INTEGER PRIMARY KEY CHECK (id = 1),
    pushed_ns INTEGER NOT NULL,
    data BLOB NOT NULL
);
CREATE TABLE IF NOT EXISTS record_sets (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    description TEXT NOT NULL,
    start_ns INTEGER NOT NULL,
    stop_ns INTEGER NOT NULL,
    data BLOB NOT NULL
);
CREATE INDEX IF NOT EXISTS record_sets_start ON record_sets (start_ns);
"""


def default_db_path():
    """Where the server keeps its database when no path is given."""
    base = os.environ.get("XDG_DATA_HOME") or os.path.join(Path.home(), ".local", "share")
    return os.path.join(base, "ostrel", "server.sqlite3")


class RecordStore:
    """The project and the record sets, kept in one SQLite file.

    One connection is shared by the server's threads under a lock; every
    write is committed at once, so a restart finds what was stored.
    """

    def __init__(self, path):
        self.path = str(path)
        self._lock = threading.Lock()
        try:
            if self.path != ":memory:":
                Path(self.path).parent.mkdir(parents=True, exist_ok=True)
            self._db = sqlite3.connect(self.path, check_same_thread=False)
            with self._db:
                self._db.executescript(_SCHEMA)
        except (OSError, sqlite3.Error) as error:
            raise OSError("cannot open the database %s: %s" % (self.path, getattr(error, "strerror", None) or error))
        log.info("record store at %s", self.path)

    def close(self):
        with self._lock:
            self._db.close()

    # The project -------------------------------------------------------

    def save_project(self, project, pushed_ns):
        with self._lock, self._db:
            self._db.execute(
                "INSERT OR REPLACE INTO project (id, pushed_ns, data) VALUES (1, ?, ?)",
                (pushed_ns, project.SerializeToString()),
            )

    def load_project(self):
        """The last pushed project, or None when none was ever pushed."""
        with self._lock:
            row = self._db.execute("SELECT data FROM project WHERE id = 1").fetchone()
        return None if row is None else project_pb2.ProjectSnapshot.FromString(row[0])

    # Record sets -------------------------------------------------------

    def add_record_set(self, record_set):
        with self._lock, self._db:
            cur = self._db.execute(
                "INSERT INTO record_sets (description, start_ns, stop_ns, data) VALUES (?, ?, ?, ?)",
                (
                    record_set.description,
                    record_set.start_timestamp_ns,
                    record_set.stop_timestamp_ns,
                    record_set.SerializeToString(),
                ),
            )
        return cur.lastrowid

    def record_sets(self, descriptions=(), since_ns=0):
        """Stored record sets in the order they were closed.

        `descriptions`, when not empty, keeps only the sets with one of these
        descriptions; `since_ns` keeps the sets that started at or after it.
        """
        query = "SELECT data FROM record_sets WHERE start_ns >= ?"
        args = [min(int(since_ns), _MAX_SQLITE_INT)]
        descriptions = list(descriptions)
        if descriptions:
            query += " AND description IN (%s)" % ", ".join("?" * len(descriptions))
            args.extend(descriptions)
        query += " ORDER BY id"
        with self._lock:
            rows = self._db.execute(query, args).fetchall()
        return [data_pb2.RecordSet.FromString(data) for (data,) in rows]
