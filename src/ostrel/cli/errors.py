"""Errors of the command line: one line on stderr and an exit code."""

from typing import List, Optional, Tuple

from ostrel.programs import EXIT_ERROR as EXIT_ERROR  # the command line's exit codes, all here
from ostrel.terminal import one_line

PROG = "ostrel"
EXIT_FAILURE = 1  # the service answered FAILURE, or a waited program failed
EXIT_STILL_RUNNING = 3  # run --wait gave up waiting; the program goes on
EXIT_INTERRUPTED = 130
# What each exit code means, for --help and the README.
EXIT_CODES = (
    (0, "done"),
    (EXIT_FAILURE, "the service answered FAILURE, or the program that run --wait waited for failed"),
    (EXIT_ERROR, "bad arguments, an unreadable or unwritable file, or no answer from the server"),
    (EXIT_STILL_RUNNING, "run --wait-timeout passed with the program still running"),
    (EXIT_INTERRUPTED, "interrupted (Ctrl-C); on run --wait that stops the waiting, not the program, and says so"),
)

MAX_REASON_CHARS = 200  # the same for the reason of a JSON parse error


class CliError(Exception):
    """An error to report as one line and exit with `exit_code`."""

    exit_code = EXIT_ERROR


class StillRunning(CliError):
    """run --wait gave up waiting for the program to end."""

    exit_code = EXIT_STILL_RUNNING


def exit_codes_text() -> str:
    return "exit codes: %s." % "; ".join("%d %s" % code for code in EXIT_CODES)


class Interrupted(Exception):
    """Ctrl-C, with what it leaves behind; reported as one line, EXIT_INTERRUPTED."""


_PARSE_PREFIX = "Failed to parse "
_PARSE_SUFFIX = " field: "
_PATH_HEAD, _PATH_TAIL = 3, 3


def _short_path(fields: List[str]) -> str:
    if len(fields) <= _PATH_HEAD + _PATH_TAIL:
        return ".".join(fields)
    return "%s ... %s (%d fields deep)" % (".".join(fields[:_PATH_HEAD]), ".".join(fields[-_PATH_TAIL:]),
                                          len(fields))


def _cut_field_path(text: str, root: str) -> Tuple[str, Optional[str]]:
    """`text` without its ` at "Root.a.b"` (or unquoted) part, and that path."""
    for opener, closer in ((' at "%s.' % root, '"'), (" at %s." % root, " ")):
        start = text.rfind(opener)
        if start >= 0:
            path_start = start + len(opener) - len(root) - 1
            stop = text.find(closer, path_start)
            stop = len(text) if stop < 0 else stop
            return text[:start] + text[stop + len(closer.strip()):], text[path_start:stop].rstrip(".")
    return text, None


def json_parse_error_text(error: Exception, root: str = "ProjectSnapshot") -> str:
    """The runtime's JSON parse error as `in a.b.c: reason`, with a long path
    of nested fields shortened to its ends and its depth."""
    text = " ".join(str(error).split()).rstrip(".")
    fields: List[str] = []
    while text.startswith(_PARSE_PREFIX) and _PARSE_SUFFIX in text:
        field, text = text[len(_PARSE_PREFIX):].split(_PARSE_SUFFIX, 1)
        fields.append(field)
    text, path = _cut_field_path(text, root)
    if path is not None:
        fields = path.split(".")
    text = one_line(text.rstrip(". "), MAX_REASON_CHARS)
    return "in %s: %s" % (_short_path(fields), text) if fields else text
