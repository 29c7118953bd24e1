"""What `ostrel watch` shows: on a terminal, the state's rows refreshed in
place (rich's live display, extra `live`); elsewhere, or without rich, one
line per row that changed, so that the output can be piped and grepped."""

import select
import sys
import time
from typing import IO, Any, Dict, List, Optional, Sequence, Tuple

from ostrel.cli.errors import PROG
from ostrel.terminal import shown

Rows = Sequence[Tuple[str, str]]

NO_RICH_NOTE = ('%s watch: the live display needs rich (pip install "ostrel[live]"); showing one line per change'
                % PROG)
# Style of the status row by the first word of its text, the status code's name.
STATUS_STYLES = {"RUNNING": "bold yellow", "SUCCESS": "bold green", "FAILURE": "bold red"}
GONE = "(gone)"


def clock(seconds: Optional[float] = None) -> str:
    """The time of day in UTC, to the millisecond: 13:02:07.412."""
    seconds = time.time() if seconds is None else seconds
    return "%s.%03d" % (time.strftime("%H:%M:%S", time.gmtime(seconds)), int(seconds * 1000) % 1000)


def changed_rows(last: Dict[str, str], rows: Rows) -> List[Tuple[str, str]]:
    """The rows whose text differs from `last` (which is brought up to date),
    then those that were there before and are no longer, as GONE."""
    changed = [(key, text) for key, text in rows if last.get(key) != text]
    present = {key for key, _ in rows}
    changed.extend((key, GONE) for key in last if key not in present)
    last.clear()
    last.update(rows)
    return changed


def pipe_watcher(out: IO[str]) -> Optional[Any]:
    """A poll object on `out` when it can tell that the reader of a pipe has
    gone (POLLERR or POLLHUP on the write end), None where it cannot."""
    try:
        poller = select.poll()
        poller.register(out.fileno(), select.POLLOUT)
    except (AttributeError, OSError, ValueError):  # no poll() on the platform, no descriptor
        return None
    return poller


class Lines:
    """One line per change: `13:02:07.412 status: SUCCESS: program 'pick' finished ...`.
    When the reader of the pipe has gone (`ostrel watch | grep -m1 ...`),
    the next poll ends the watch (BrokenPipeError), changes or not."""

    def __init__(self, out: IO[str]) -> None:
        self.out = out
        self.last: Dict[str, str] = {}
        self.pipe = pipe_watcher(out)

    def __enter__(self) -> "Lines":
        return self

    def __exit__(self, *exc_info: object) -> None:
        pass

    def show(self, rows: Rows) -> None:
        if self.pipe is not None and any(event & (select.POLLERR | select.POLLHUP) for _, event in self.pipe.poll(0)):
            raise BrokenPipeError
        now = clock()
        lines = ["%s %s: %s\n" % (now, key, text) for key, text in changed_rows(self.last, rows)]
        if lines:
            self.out.write("".join(lines))
            self.out.flush()

    def note(self, text: str) -> None:
        """A line about the watch itself (waiting for the server, serving the
        viewer) on stderr; an empty text prints nothing."""
        if text:
            print("%s: %s" % (PROG, text), file=sys.stderr, flush=True)


class LiveView:
    """The rows as a table that rich redraws in place after each poll, with
    the latest note (waiting for the server, serving the viewer) as its caption."""

    def __init__(self, title: str) -> None:
        from rich.console import Console
        from rich.live import Live

        self.title = title
        self.console = Console()
        self.live = Live(console=self.console, auto_refresh=False, redirect_stdout=False, redirect_stderr=True)
        self.rows: Rows = ()
        self.notes: List[str] = []

    def __enter__(self) -> "LiveView":
        self.live.start()
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.live.stop()

    def _table(self) -> Any:
        from rich.table import Table
        from rich.text import Text

        table = Table(title=self.title, title_justify="left", caption="\n".join(self.notes) or None,
                      caption_justify="left", show_header=False, box=None, pad_edge=False)
        table.add_column(style="bold", no_wrap=True)
        table.add_column()
        for key, text in self.rows:
            style = STATUS_STYLES.get(text.split(":", 1)[0], "") if key == "status" else ""
            table.add_row(Text(key), Text(text, style=style))  # Text: never read as markup
        table.add_row(Text(""), Text("%s UTC; Ctrl-C ends the watch" % clock(), style="dim"))
        return table

    def show(self, rows: Rows) -> None:
        self.rows = tuple(rows)
        self.live.update(self._table(), refresh=True)

    def note(self, text: str) -> None:
        """Shows `text` under the table; an empty text takes the note away."""
        self.notes = [shown(text)] if text else []
        self.live.update(self._table(), refresh=True)


def open_view(title: str, out: IO[str] = sys.stdout) -> Any:
    """The live table on a terminal with rich installed; else lines (with a
    note on a terminal, where the table was expected)."""
    if not out.isatty():
        return Lines(out)
    from ostrel import extras

    try:
        extras.require("rich", "live")
    except ImportError:
        print(NO_RICH_NOTE, file=sys.stderr)
        return Lines(out)
    return LiveView(title)
