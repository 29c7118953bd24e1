"""Files of the command line: projects read from protobuf JSON, and output
files written in full or not at all."""

import os
from typing import IO, Any, Callable, Optional

from ostrel.cli.client import Api
from ostrel.cli.errors import CliError, json_parse_error_text
from ostrel.cli.output import json_format

ERR_READ_FAILED = "cannot read %s: %s"
ERR_NOT_UTF8 = "cannot read %s: not UTF-8 text"
ERR_NOT_JSON = "%s is not valid JSON: %s"
ERR_TOO_DEEP = "%s is not valid JSON: nested too deeply to read"
ERR_NOT_OBJECT = "%s is not a valid project: expected a JSON object, found %s"
ERR_NOT_PROJECT = "%s is not a valid project: %s"
ERR_WRITE_FAILED = "cannot write %s: %s"


def read_project(path: str, api: Api) -> Any:
    """A ProjectSnapshot from a protobuf JSON file; CliError when unusable."""
    import json

    try:
        with open(path, encoding="utf-8") as handle:
            text = handle.read()
    except OSError as error:
        raise CliError(ERR_READ_FAILED % (path, error.strerror or error)) from None
    except UnicodeDecodeError:
        raise CliError(ERR_NOT_UTF8 % path) from None
    try:
        data = json.loads(text)
    except RecursionError:
        raise CliError(ERR_TOO_DEEP % path) from None
    except ValueError as error:
        raise CliError(ERR_NOT_JSON % (path, error)) from None
    if not isinstance(data, dict):
        raise CliError(ERR_NOT_OBJECT % (path, type(data).__name__))
    parser = json_format()
    try:
        return parser.ParseDict(data, api.project.ProjectSnapshot())
    except (parser.ParseError, ValueError, TypeError, AttributeError, RecursionError) as error:
        raise CliError(ERR_NOT_PROJECT % (path, json_parse_error_text(error))) from None


class OutputFile:
    """A text file written in full or not at all: a regular file (or a new
    one) is written beside its place and moved there when complete, so an
    error half-way leaves the earlier file as it was; anything else (a
    device, a pipe) is written directly."""

    def __init__(self, path: str) -> None:
        self.path = path
        self._final = os.path.realpath(path)
        self._direct = os.path.exists(self._final) and not os.path.isfile(self._final)
        self._written = self._final if self._direct else "%s.%d.partial" % (self._final, os.getpid())
        self._handle: Optional[IO[str]] = None

    def __enter__(self) -> IO[str]:
        try:
            self._handle = open(self._written, "w", encoding="utf-8")
        except OSError as error:
            raise CliError(ERR_WRITE_FAILED % (self.path, error.strerror or error)) from None
        return self._handle

    def __exit__(self, kind: Optional[type], error: Optional[BaseException], trace: Any) -> None:
        handle, self._handle = self._handle, None
        try:
            if handle is not None:
                handle.close()
            if error is None and not self._direct:
                os.replace(self._written, self._final)
        except OSError as failure:
            if error is None:
                raise CliError(ERR_WRITE_FAILED % (self.path, failure.strerror or failure)) from None
        finally:
            if not self._direct and os.path.exists(self._written):
                os.unlink(self._written)


def write_file(path: str, write: Callable[[IO[str]], None]) -> None:
    """Writes the file at `path` in full or not at all; CliError on failure."""
    with OutputFile(path) as handle:
        try:
            write(handle)
        except BrokenPipeError:  # standard output, written beside the file
            raise
        except OSError as error:
            raise CliError(ERR_WRITE_FAILED % (path, error.strerror or error)) from None
