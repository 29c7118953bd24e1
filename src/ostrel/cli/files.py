"""Files of the command line: projects read from protobuf JSON, and every
output file written in full or not at all (through ostrel.outfile)."""

from typing import IO, Any, Callable, Dict, cast

from ostrel.cli.errors import CliError, json_parse_error_text
from ostrel.outfile import write_atomic

ERR_READ_FAILED = "cannot read %s: %s"
ERR_NOT_UTF8 = "cannot read %s: not UTF-8 text"
ERR_NOT_JSON = "%s is not valid JSON: %s"
ERR_TOO_DEEP = "%s is not valid JSON: nested too deeply to read"
ERR_NOT_OBJECT = "%s is not a valid project: expected a JSON object, found %s"
ERR_NOT_PROJECT = "%s is not a valid project: %s"
ERR_WRITE_FAILED = "cannot write %s: %s"


def read_project(path: str, project: Any) -> Any:
    """`project`, an empty ProjectSnapshot, filled from a protobuf JSON file;
    CliError when unusable."""
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
    from google.protobuf import json_format as parser

    try:
        return parser.ParseDict(cast(Dict[str, Any], data), project)
    except (parser.ParseError, ValueError, TypeError, AttributeError, RecursionError) as error:
        raise CliError(ERR_NOT_PROJECT % (path, json_parse_error_text(error))) from None


def write_file(path: str, write: Callable[[IO[Any]], object], binary: bool = False) -> None:
    """Writes the file at `path` in full or not at all; CliError on failure."""
    try:
        write_atomic(path, write, binary)
    except BrokenPipeError:  # standard output, written beside the file
        raise
    except OSError as error:
        raise CliError(ERR_WRITE_FAILED % (error.filename or path, error.strerror or error)) from None
