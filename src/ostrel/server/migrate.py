"""The tables of the record store: made when a database is new, checked
against a file that is not ours, and brought up from the layouts of earlier
versions (columns added since, the single project row of old)."""

import logging
import sqlite3
from typing import Set

from ostrel.server.blobs import BlobFiles, StoreError, checksum, new_key

log = logging.getLogger(__name__)

_SCHEMA = """
CREATE TABLE IF NOT EXISTS projects (
    key TEXT PRIMARY KEY,
    size INTEGER NOT NULL,
    data BLOB
);
CREATE TABLE IF NOT EXISTS current_project (
    id INTEGER PRIMARY KEY CHECK (id = 1),
    key TEXT NOT NULL,
    pushed_ns INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS programs (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    behavior TEXT NOT NULL,
    start_ns INTEGER NOT NULL,
    stop_ns INTEGER,
    code INTEGER,
    message TEXT
);
CREATE TABLE IF NOT EXISTS recordings (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    description TEXT NOT NULL,
    start_ns INTEGER NOT NULL,
    stop_ns INTEGER,
    project TEXT,
    state TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS recordings_start ON recordings (start_ns);
CREATE TABLE IF NOT EXISTS entries (
    recording INTEGER NOT NULL,
    seq INTEGER NOT NULL,
    field INTEGER NOT NULL,
    stamp_ns INTEGER NOT NULL,
    size INTEGER NOT NULL,
    data BLOB,
    blob TEXT,
    PRIMARY KEY (recording, seq)
);
"""

# Columns added since the first layout; a database without them gets them
# when it is opened, and their rows read NULL.
_ADDED_COLUMNS = (("projects", "checksum INTEGER"), ("entries", "checksum INTEGER"))

# Tables the store reads, with the columns it needs. `project` and
# `record_sets` are the layout of earlier versions: their rows are still read.
_TABLES = {
    "projects": ("key", "size", "data"),
    "current_project": ("id", "key", "pushed_ns"),
    "programs": ("id", "behavior", "start_ns", "stop_ns", "code", "message"),
    "recordings": ("id", "description", "start_ns", "stop_ns", "project", "state"),
    "entries": ("recording", "seq", "field", "stamp_ns", "size", "data", "blob"),
    "project": ("id", "pushed_ns", "data"),
    "record_sets": ("id", "description", "start_ns", "stop_ns", "data"),
}

ERR_FOREIGN_FILE = ("%s is not a database of ostrel-server (it holds the tables %s); "
                "give another --db or move that file away")
ERR_FOREIGN_TABLE = ("%s is not a database of ostrel-server (its table '%s' has no column '%s'); "
                 "give another --db or move that file away")


def prepare(db: sqlite3.Connection, path: str, files: BlobFiles) -> None:
    """Check that the database at `path` is ours (StoreError if not), switch
    it to the write-ahead log, make or bring up its tables, and remove the
    payload files that no row refers to."""
    _check_tables(db, path)
    db.execute("PRAGMA journal_mode=WAL")
    with db:
        db.executescript(_SCHEMA)
    _add_columns(db)
    _move_old_project(db, path, files)
    files.remove_orphans(_files_in_use(db))


def has_table(db: sqlite3.Connection, name: str) -> bool:
    return db.execute("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?", (name,)).fetchone() is not None


def _check_tables(db: sqlite3.Connection, path: str) -> None:
    names = [row[0] for row in db.execute(
        "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite_%'")]
    ours = [name for name in names if name in _TABLES]
    if names and not ours:
        raise StoreError(ERR_FOREIGN_FILE % (path, ", ".join(sorted(names))))
    for name in ours:
        columns = {row[1] for row in db.execute("PRAGMA table_info(%s)" % name)}
        for column in _TABLES[name]:
            if column not in columns:
                raise StoreError(ERR_FOREIGN_TABLE % (path, name, column))


def _add_columns(db: sqlite3.Connection) -> None:
    for table, column in _ADDED_COLUMNS:
        name = column.split()[0]
        if name not in {row[1] for row in db.execute("PRAGMA table_info(%s)" % table)}:
            with db:
                db.execute("ALTER TABLE %s ADD COLUMN %s" % (table, column))


def _move_old_project(db: sqlite3.Connection, path: str, files: BlobFiles) -> None:
    """Move a project stored by an earlier version into the projects table."""
    if not has_table(db, "project"):
        return
    row = db.execute("SELECT pushed_ns, data FROM project WHERE id = 1").fetchone()
    if row is None:
        return
    pushed_ns, data = row
    key = new_key()
    inline, name = files.put(data, key)
    try:
        with db:
            db.execute("INSERT INTO projects (key, size, data, checksum) VALUES (?, ?, ?, ?)",
                       (key, len(data), inline, checksum(data)))
            db.execute("INSERT OR IGNORE INTO current_project (id, key, pushed_ns) VALUES (1, ?, ?)",
                       (key, pushed_ns))
            db.execute("DELETE FROM project WHERE id = 1")
    except BaseException:
        files.remove(name)
        raise
    log.info("moved the project of an earlier version into the projects table of %s", path)


def _files_in_use(db: sqlite3.Connection) -> Set[str]:
    """The names of the payload files that rows refer to."""
    kept = {row[0] for row in db.execute("SELECT key FROM projects WHERE data IS NULL")}
    kept.update(row[0] for row in db.execute("SELECT blob FROM entries WHERE blob IS NOT NULL"))
    return kept
