"""ostrel: command line client of the Ostrel service.

    ostrel connect
    ostrel push PROJECT.json
    ostrel pull [--out FILE]
    ostrel run BEHAVIOR [--wait]
    ostrel state
    ostrel records [--out FILE] [--export DIR] [--description TEXT ...] [--since NS]
    ostrel report [--out FILE] [--description TEXT ...] [--since NS]

Projects and records are read and written as protobuf JSON. Output is
readable text, or JSON with --json. Errors are one line on stderr and a
non-zero exit code.

Start-up matters for a command line: the gRPC runtime and the API modules are
imported once a command runs (never for --help or an argument error), and the
protobuf JSON support only by the commands that read or write JSON.
"""

import argparse
import os
import sys
import time
from typing import IO, Any, Callable, Dict, Iterator, List, NamedTuple, NoReturn, Optional, Sequence, Tuple

from ostrel import wire

PROG = "ostrel"
EXIT_FAILURE = 1  # the service answered FAILURE, or a waited program failed
EXIT_ERROR = 2  # the command could not be carried out (usage, file, connection)
EXIT_INTERRUPTED = 130

MAX_ERROR_CHARS = 400  # an error line longer than this is cut in the middle
MAX_REASON_CHARS = 200  # the same for the reason of a JSON parse error
MIN_SECONDS = 0.01
MAX_SECONDS = 1e6
MAX_TARGET_CHARS = 1024
FIRST_POLL_S = 0.02  # run --wait: the first pause; it doubles up to --poll
METHOD_PATH = "/ostrel.api.service.Ostrel/%s"
# Records grow with every recording; take answers of any size.
CHANNEL_OPTIONS = [("grpc.max_receive_message_length", -1)]

SECONDS_TEXT = "must be a number of seconds from %g to %g, got %r"
SINCE_TEXT = "must be a count of nanoseconds from 0 to 2**64-1, got %r"
TARGET_EMPTY_TEXT = "must name the server as host:port, got an empty text"
TARGET_CHARS_TEXT = "must name the server as host:port, without spaces or control characters, got %r"
TARGET_LONG_TEXT = "must name the server as host:port, in at most %d characters" % MAX_TARGET_CHARS
API_MISSING_TEXT = "cannot load the Ostrel API modules: %s"
UNREACHABLE_TEXT = "cannot reach the Ostrel server at %s (%s); is ostrel-server running?"
NO_ANSWER_TEXT = "no answer from the Ostrel server at %s within %g s (--timeout)"
BAD_TARGET_TEXT = "argument --target: the gRPC runtime cannot use %r: %s"
CALL_FAILED_TEXT = "%s failed: %s: %s"
MALFORMED_TEXT = "%s answered with malformed data: %s"
STILL_RUNNING_TEXT = "program '%s' still running after %g s"
READ_FAILED_TEXT = "cannot read %s: %s"
NOT_UTF8_TEXT = "cannot read %s: not UTF-8 text"
NOT_JSON_TEXT = "%s is not valid JSON: %s"
TOO_DEEP_TEXT = "%s is not valid JSON: nested too deeply to read"
NOT_OBJECT_TEXT = "%s is not a valid project: expected a JSON object, found %s"
NOT_PROJECT_TEXT = "%s is not a valid project: %s"
WRITE_FAILED_TEXT = "cannot write %s: %s"
CHECKED_TEXT = "%s: no problems (%d behaviors)"


class CliError(Exception):
    """An error to report as one line and exit with EXIT_ERROR."""


# Error lines ------------------------------------------------------------------

_CONTROL = {code: "\\x%02x" % code for code in (*range(32), 127)}
_CONTROL.update({ord("\t"): " ", ord("\n"): " ", ord("\r"): " "})


def one_line(text: str, limit: int = MAX_ERROR_CHARS) -> str:
    """`text` on one line: control characters escaped, runs of spaces joined,
    and the middle cut out when it is longer than `limit`."""
    text = " ".join(text.translate(_CONTROL).split())
    if len(text) <= limit:
        return text
    head = limit * 2 // 3
    tail = limit - head - 5
    return text[:head] + " ... " + text[-tail:]


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


# Modules ----------------------------------------------------------------------

class Api:
    """The gRPC runtime and the API modules a command needs."""

    def __init__(self) -> None:
        os.environ.setdefault("GRPC_VERBOSITY", "NONE")  # errors are ours to report, in one line
        try:
            import grpc
            from ostrel.api import common_pb2, data_pb2, project_pb2, service_pb2, service_pb2_grpc
        except ImportError as error:
            raise CliError(API_MISSING_TEXT % error) from None
        self.grpc: Any = grpc
        self.common: Any = common_pb2
        self.data: Any = data_pb2
        self.project: Any = project_pb2
        self.requests: Any = service_pb2
        self.service: Any = service_pb2_grpc

    def code_name(self, code: int) -> str:
        return str(self.common.Code.Name(code)) if code in self.common.Code.values() else str(code)

    def status_line(self, status: Any) -> str:
        return "%s: %s" % (self.code_name(status.code), status.message)


def json_format() -> Any:
    from google.protobuf import json_format as module

    return module


def json_chunks(message: Any) -> Iterator[str]:
    """The protobuf JSON of `message` (as json_format.MessageToJson writes it,
    indent 2) in pieces, so a large message is written without also holding
    its whole text."""
    import json

    as_dict = json_format().MessageToDict(message, preserving_proto_field_name=True)
    return json.JSONEncoder(indent=2).iterencode(as_dict)


def to_json(message: Any) -> str:
    return "".join(json_chunks(message))


def write_json(stream: IO[str], message: Any) -> None:
    for chunk in json_chunks(message):
        stream.write(chunk)
    stream.write("\n")


# Files --------------------------------------------------------------------

def read_project(path: str, project: Any) -> Any:
    """`project`, an empty ProjectSnapshot, filled from a protobuf JSON file;
    CliError when unusable."""
    import json

    try:
        with open(path, encoding="utf-8") as handle:
            text = handle.read()
    except OSError as error:
        raise CliError(READ_FAILED_TEXT % (path, error.strerror or error)) from None
    except UnicodeDecodeError:
        raise CliError(NOT_UTF8_TEXT % path) from None
    try:
        data = json.loads(text)
    except RecursionError:
        raise CliError(TOO_DEEP_TEXT % path) from None
    except ValueError as error:
        raise CliError(NOT_JSON_TEXT % (path, error)) from None
    if not isinstance(data, dict):
        raise CliError(NOT_OBJECT_TEXT % (path, type(data).__name__))
    parser = json_format()
    try:
        return parser.ParseDict(data, project)
    except (parser.ParseError, ValueError, TypeError, AttributeError, RecursionError) as error:
        raise CliError(NOT_PROJECT_TEXT % (path, json_parse_error_text(error))) from None


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
            raise CliError(WRITE_FAILED_TEXT % (self.path, error.strerror or error)) from None
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
                raise CliError(WRITE_FAILED_TEXT % (self.path, failure.strerror or failure)) from None
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
            raise CliError(WRITE_FAILED_TEXT % (path, error.strerror or error)) from None


class RecordsJson:
    """Writes the JSON of a DataRecords one record set at a time, as
    json_format would write the whole message at once."""

    def __init__(self, stream: IO[str]) -> None:
        self.stream = stream
        self.count = 0

    def add(self, record_set: Any) -> None:
        write = self.stream.write
        write(',\n    ' if self.count else '{\n  "records": [\n    ')
        for chunk in json_chunks(record_set):
            write(chunk.replace("\n", "\n    "))
        self.count += 1

    def close(self) -> None:
        self.stream.write("\n  ]\n}\n" if self.count else "{}\n")


# Text output ------------------------------------------------------------------

def _ns_time(ns: int) -> str:
    if not ns:
        return "-"
    return time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(ns / 1e9)) + ".%03d" % (ns // 1_000_000 % 1000)


def _joints(vector: Any) -> str:
    return "[" + ", ".join("%.3f" % v for v in vector.data) + "]"


def describe_project(project: Any) -> str:
    config = project.workspace.config
    lines = ["project %s" % (project.version or "(no version)")]
    for label, keys in (("robots", config.robots), ("effectors", config.effectors), ("items", config.items),
                        ("cameras", config.cameras), ("fiducials", config.fiducials),
                        ("task regions", config.task_regions),
                        ("motion limits", project.variables.motion_limits),
                        ("target generators", project.variables.target_generators),
                        ("behaviors", project.behaviors)):
        lines.append("  %-18s %s" % (label + ":", ", ".join(sorted(keys)) or "-"))
    return "\n".join(lines)


def describe_state(api: Api, state: Any) -> str:
    lines = ["status: %s" % api.status_line(state.status)]
    workspace = state.workspace
    for key in sorted(workspace.robots):
        lines.append("  robot %s: joints %s" % (key, _joints(workspace.robots[key].joint_positions)))
    for key in sorted(workspace.effectors):
        lines.append("  effector %s: positions %s" % (key, _joints(workspace.effectors[key].joint_positions)))
    if state.HasField("planner"):
        planner = state.planner
        duration = planner.trajectory.time_s[-1] if planner.trajectory.time_s else 0.0
        lines.append("  planner: robot %s, %d target proposals, trajectory of %d points over %.2f s"
                     % (planner.robot or "-", len(planner.target_proposals),
                        len(planner.trajectory.reference), duration))
    if state.HasField("controller"):
        controller = state.controller
        lines.append("  controller: robot %s, time %.2f s%s"
                     % (controller.robot or "-", controller.time_s, ", FAULTED" if controller.faulted else ""))
    if state.HasField("perception"):
        perception = state.perception
        lines.append("  perception: %d detected markers, camera poses of %s"
                     % (len(perception.detected_markers), ", ".join(sorted(perception.camera_poses)) or "-"))
    if state.HasField("images"):
        lines.append("  images: %s" % (", ".join("%s %dx%d" % (i.camera, i.width, i.height)
                                                 for i in state.images.images) or "-"))
    return "\n".join(lines)


def product_kinds(api: Api, products: Any) -> Dict[str, int]:
    kinds: Dict[str, int] = {}
    for product in products:
        kind = product.WhichOneof("type") or "none"
        kinds[kind] = kinds.get(kind, 0) + 1
    return kinds


def describe_record_set(api: Api, record: Any, kinds: Optional[Dict[str, int]] = None) -> str:
    """One line on a record set; `kinds` counts its products by kind when
    `record` was read without them."""
    if kinds is None:
        kinds = product_kinds(api, record.products)
    failed = sum(1 for e in record.events if e.status and e.status[-1].code == api.common.FAILURE)
    seconds = (record.stop_timestamp_ns - record.start_timestamp_ns) / 1e9
    return "%s  %s  %.3f s  %d events (%d failed)  products: %s" % (
        _ns_time(record.start_timestamp_ns), record.description or "(no description)", seconds,
        len(record.events), failed, ", ".join("%d %s" % (n, k) for k, n in sorted(kinds.items())) or "none")


def describe_encoded_record_set(api: Api, encoded: memoryview) -> str:
    """describe_record_set of a serialized record set, parsing its events but
    neither its products (only their kind is read) nor its project."""
    products = api.data.RecordSet.DESCRIPTOR.fields_by_name["products"].number
    project = api.data.RecordSet.DESCRIPTOR.fields_by_name["project"].number
    kind_of = {f.number: f.name for f in api.data.ProductRecord.DESCRIPTOR.oneofs_by_name["type"].fields}
    kept: List[memoryview] = []
    kinds: Dict[str, int] = {}
    for field in wire.fields(encoded):
        if field.number == products and field.wire == 2:
            kind = "none"  # the last member given is the one set, as when parsed
            for member in wire.fields(encoded, field.value, field.end):
                kind = kind_of.get(member.number, kind)
            kinds[kind] = kinds.get(kind, 0) + 1
        elif field.number != project:
            kept.append(encoded[field.start:field.end])
    return describe_record_set(api, api.data.RecordSet.FromString(b"".join(kept)), kinds)


# Service calls --------------------------------------------------------------

def _serialize(message: Any) -> bytes:
    return bytes(message.SerializeToString())


class Client:
    def __init__(self, target: str, timeout: float) -> None:
        self.api = Api()
        self.target = target
        self.timeout = timeout
        self.channel: Any = self.api.grpc.insecure_channel(target, options=CHANNEL_OPTIONS)
        self.stub: Any = self.api.service.OstrelStub(self.channel)

    def call(self, method: str, request: Any, metadata: Sequence[Tuple[str, str]] = ()) -> Any:
        """The answer of `method`, parsed; `metadata` goes with the call."""
        return self._guarded(method, lambda: getattr(self.stub, method)(
            request, timeout=self.timeout, metadata=tuple(metadata) or None))

    def call_raw(self, method: str, request: Any) -> bytes:
        """The answer of `method` as its serialized bytes, not parsed."""
        unparsed = self.channel.unary_unary(METHOD_PATH % method, request_serializer=_serialize,
                                            response_deserializer=None)
        return bytes(self._guarded(method, lambda: unparsed(request, timeout=self.timeout)))

    def _guarded(self, method: str, call: Callable[[], Any]) -> Any:
        grpc = self.api.grpc
        try:
            return call()
        except grpc.RpcError as error:
            code = error.code() if hasattr(error, "code") else None
            details = str(error.details() if hasattr(error, "details") else error)
            if code == grpc.StatusCode.UNAVAILABLE:
                raise CliError(UNREACHABLE_TEXT % (self.target, "unavailable")) from None
            if code == grpc.StatusCode.DEADLINE_EXCEEDED:
                raise CliError(NO_ANSWER_TEXT % (self.target, self.timeout)) from None
            if details.startswith("Failed to create channel"):
                raise CliError(BAD_TARGET_TEXT % (self.target, details.partition("':")[2].strip())) from None
            raise CliError(CALL_FAILED_TEXT % (method, code.name if code else "error", details)) from None

    def close(self) -> None:
        self.channel.close()


def current_status(client: Client) -> Any:
    """The status of the system state, without parsing the rest of it (the
    state carries the latest images, which the status line never shows)."""
    method = "pullSystemState"
    answer = memoryview(client.call_raw(method, client.api.requests.GenericRequest()))
    try:
        return client.api.common.Status.FromString(b"".join(wire.field_spans(answer, 1)))
    except Exception as error:  # ValueError from the scan, DecodeError from the runtime
        raise CliError(MALFORMED_TEXT % (method, error)) from None


def poll_pauses(longest: float) -> Iterator[float]:
    """Pauses between state polls: FIRST_POLL_S, doubling up to `longest`."""
    pause = min(FIRST_POLL_S, longest)
    while True:
        yield pause
        pause = min(pause * 2, longest)


def wait_for_end(client: Client, behavior: str, longest: float, give_up: Optional[float]) -> Any:
    """The status that ends the running program; CliError after `give_up` s."""
    deadline = time.monotonic() + give_up if give_up is not None else None
    for pause in poll_pauses(longest):
        status = current_status(client)
        if status.code != client.api.common.RUNNING:
            return status
        if deadline is not None:
            left = deadline - time.monotonic()
            if left <= 0:
                raise CliError(STILL_RUNNING_TEXT % (behavior, give_up))
            pause = min(pause, left)
        time.sleep(pause)
    raise AssertionError("poll_pauses never ends")


# Commands -----------------------------------------------------------------

def _emit_status(args: argparse.Namespace, api: Api, status: Any) -> int:
    if args.json:
        write_json(sys.stdout, status)
    elif status.code == api.common.FAILURE:
        print("%s: error: %s" % (PROG, one_line(status.message)), file=sys.stderr)
    else:
        print(api.status_line(status))
    return EXIT_FAILURE if status.code == api.common.FAILURE else 0


def cmd_connect(args: argparse.Namespace, client: Client) -> int:
    status = client.call("connect", client.api.requests.ConnectRequest(client=args.client))
    return _emit_status(args, client.api, status)


def cmd_push(args: argparse.Namespace, client: Client) -> int:
    from ostrel.server.projectcheck import ALLOW_EMPTY_METADATA

    project = read_project(args.project, client.api.project.ProjectSnapshot())
    metadata = [(ALLOW_EMPTY_METADATA, "1")] if args.allow_empty else []
    return _emit_status(args, client.api, client.call("pushProjectSnapshot", project, metadata))


def cmd_check(args: argparse.Namespace) -> int:
    """The checks of a push, offline: one line per problem, exit 1 if any."""
    from ostrel.api import project_pb2
    from ostrel.server import projectcheck

    project = read_project(args.project, project_pb2.ProjectSnapshot())
    found = projectcheck.problems(project, args.allow_empty)
    if args.json:
        import json

        print(json.dumps({"project": args.project, "problems": found}, indent=2))
    for problem in [] if args.json else found:
        print("%s: %s" % (args.project, one_line(problem)))
    if not found and not args.json:
        print(CHECKED_TEXT % (args.project, len(project.behaviors)))
    return EXIT_FAILURE if found else 0


def cmd_pull(args: argparse.Namespace, client: Client) -> int:
    project = client.call("pullProjectSnapshot", client.api.requests.GenericRequest())
    if args.out:
        write_file(args.out, lambda handle: write_json(handle, project))
        if not args.json:
            print("project %s written to %s" % (project.version or "(no version)", args.out))
        return 0
    if args.json:
        write_json(sys.stdout, project)
    else:
        print(describe_project(project))
    return 0


def cmd_run(args: argparse.Namespace, client: Client) -> int:
    api = client.api
    status = client.call("runProgram", api.requests.ProgramRequest(behavior=args.behavior))
    if status.code == api.common.FAILURE or not args.wait:
        return _emit_status(args, api, status)
    if not args.json:
        print(api.status_line(status), flush=True)
    return _emit_status(args, api, wait_for_end(client, args.behavior, args.poll, args.wait_timeout))


def cmd_state(args: argparse.Namespace, client: Client) -> int:
    state = client.call("pullSystemState", client.api.requests.GenericRequest())
    if args.json:
        write_json(sys.stdout, state)
    else:
        print(describe_state(client.api, state))
    return 0


def cmd_records(args: argparse.Namespace, client: Client) -> int:
    if args.export:
        from ostrel.cli import records as records_cli

        return records_cli.export(args, client)
    api = client.api
    method = "pullDataRecords"
    request = api.requests.RecordsRequest(descriptions=args.description or [], since_ns=args.since)
    if not (args.out or args.json):
        # A summary: read off the wire bytes, the images are never parsed.
        answer = memoryview(client.call_raw(method, request))
        try:
            lines = [describe_encoded_record_set(api, encoded) for encoded in wire.field_spans(answer, 1)]
        except Exception as error:  # ValueError from the scan, DecodeError from the runtime
            raise CliError(MALFORMED_TEXT % (method, error)) from None
        print("\n".join(lines) or "no records")
        return 0
    # Parsed once by the runtime, which frees the wire bytes; from here on one
    # record set at a time is turned into text.
    records = client.call(method, request).records
    if args.out:
        write_file(args.out, lambda handle: _show_records(args, api, records, RecordsJson(handle)))
        if not args.json:
            print("%d record sets written to %s" % (len(records), args.out))
    else:
        _show_records(args, api, records, None)
    return 0


def _show_records(args: argparse.Namespace, api: Api, records: Sequence[Any], out: Optional[RecordsJson]) -> None:
    """Shows and writes one record set at a time."""
    writers = [out] if out is not None else []
    if args.json:
        writers.append(RecordsJson(sys.stdout))
    for record in records:
        if not args.json:
            print(describe_record_set(api, record))
        for writer in writers:
            writer.add(record)
    if not records and not args.json:
        print("no records")
    for writer in writers:
        writer.close()


def cmd_report(args: argparse.Namespace, client: Client) -> int:
    from ostrel.cli import records as records_cli

    return records_cli.report(args, client)


def check_report() -> None:
    from ostrel.cli import records as records_cli

    records_cli.check_report()


# Arguments ----------------------------------------------------------------

def _seconds(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        value = float("nan")
    if not MIN_SECONDS <= value <= MAX_SECONDS:  # also refuses nan
        raise argparse.ArgumentTypeError(SECONDS_TEXT % (MIN_SECONDS, MAX_SECONDS, text))
    return value


def _since(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        value = -1
    if not 0 <= value < 2**64:
        raise argparse.ArgumentTypeError(SINCE_TEXT % text)
    return value


def _target(text: str) -> str:
    if not text:
        raise argparse.ArgumentTypeError(TARGET_EMPTY_TEXT)
    if len(text) > MAX_TARGET_CHARS:
        raise argparse.ArgumentTypeError(TARGET_LONG_TEXT)
    if not text.isprintable() or any(c.isspace() for c in text):
        raise argparse.ArgumentTypeError(TARGET_CHARS_TEXT % text)
    return text


def _help_width() -> int:
    """The terminal's width as argparse would take it, without importing
    shutil while the parser is being built."""
    try:
        columns = int(os.environ.get("COLUMNS", "0"))
        if not columns and sys.__stdout__ is not None:
            columns = os.get_terminal_size(sys.__stdout__.fileno()).columns
    except (ValueError, OSError):
        columns = 0
    columns = columns or 80
    return max(columns - 2, 20)


class _Formatter(argparse.HelpFormatter):
    def __init__(self, prog: str, indent_increment: int = 2, max_help_position: int = 24,
                 width: Optional[int] = None) -> None:
        super().__init__(prog, indent_increment, max_help_position, _help_width() if width is None else width)


class _Parser(argparse.ArgumentParser):
    def __init__(self, *args: Any, **kwargs: Any) -> None:
        kwargs.setdefault("formatter_class", _Formatter)
        super().__init__(*args, **kwargs)

    def error(self, message: str) -> NoReturn:
        self.exit(EXIT_ERROR, "%s: error: %s\n" % (self.prog, one_line(message)))


Argument = Tuple[Tuple[str, ...], Dict[str, Any]]


def arg(*flags: str, **options: Any) -> Argument:
    return flags, options


class Command(NamedTuple):
    name: str
    help: str
    handler: Optional[Callable[[argparse.Namespace, Client], int]]
    arguments: Tuple[Argument, ...] = ()
    check: Optional[Callable[[], None]] = None  # the command's own checks, before any channel is opened
    offline: Optional[Callable[[argparse.Namespace], int]] = None  # a command that needs no server


OUT_HELP = "write the %s as JSON to FILE"
RECORD_FILTERS: Tuple[Argument, ...] = (
    arg("--description", action="append", metavar="TEXT",
        help="only record sets with this description (repeatable)"),
    arg("--since", type=_since, default=0, metavar="NS",
        help="only record sets started at or after this time (ns since the epoch)"),
)

COMMANDS: Tuple[Command, ...] = (
    Command("connect", "check that the server answers", cmd_connect, (
        arg("--client", default="ostrel-cli", help="name to give the server"),)),
    Command("push", "send a project (protobuf JSON file) to the server", cmd_push, (
        arg("project", metavar="PROJECT.json"),
        arg("--allow-empty", action="store_true",
            help="let a project with no behaviors and no workspace replace the server's project"))),
    Command("check", "check a project file as a push would, without a server (exit 1 on problems)", None, (
        arg("project", metavar="PROJECT.json"),
        arg("--allow-empty", action="store_true", help="take a project with no behaviors and no workspace")),
        offline=cmd_check),
    Command("pull", "show the server's project", cmd_pull, (
        arg("--out", metavar="FILE", help=OUT_HELP % "project"),)),
    Command("run", "run a behavior of the project", cmd_run, (
        arg("behavior", metavar="BEHAVIOR"),
        arg("--wait", action="store_true", help="wait for the program to end"),
        arg("--poll", type=_seconds, default=1.0, metavar="SECONDS",
            help="longest pause between state polls; polls start %g s apart and back off (default: 1)"
                 % FIRST_POLL_S),
        arg("--wait-timeout", type=_seconds, default=None, metavar="SECONDS",
            help="give up waiting after this many seconds"))),
    Command("state", "show the system state", cmd_state),
    Command("records", "show recorded data sets", cmd_records, (
        arg("--out", metavar="FILE", help=OUT_HELP % "records"),
        *RECORD_FILTERS,
        arg("--export", metavar="DIR",
            help="write each record set as CSV, PNG and JSON files to a folder under DIR"))),
    Command("report", "write recorded data sets as one self-contained HTML page", cmd_report, (
        arg("--out", metavar="FILE", default="report.html", help="the HTML file (default: report.html)"),
        *RECORD_FILTERS), check=check_report),
)

def common_options() -> Tuple[Argument, ...]:
    """Options of every command; the default target is read when the parser is built."""
    return (
        arg("--target", type=_target, default=os.environ.get("OSTREL_TARGET", "localhost:50051"),
            help="server address host:port (default: $OSTREL_TARGET or localhost:50051)"),
        arg("--json", action="store_true", default=False, help="print protobuf JSON instead of text"),
        arg("--timeout", type=_seconds, default=10.0, metavar="SECONDS", help="seconds per call (default: 10)"),
    )


def _add(parser: argparse.ArgumentParser, arguments: Sequence[Argument], suppress: bool = False) -> None:
    for flags, options in arguments:
        if suppress:
            options = dict(options, default=argparse.SUPPRESS)
        parser.add_argument(*flags, **options)


def build_parser(commands: Sequence[Command] = COMMANDS) -> argparse.ArgumentParser:
    parser = _Parser(prog=PROG, description="Client of the Ostrel work-cell service.")
    _add(parser, common_options())
    # Common options are taken before or after the command: `ostrel --json state` or `ostrel state --json`.
    common = _Parser(add_help=False)
    _add(common, common_options(), suppress=True)
    sub = parser.add_subparsers(dest="command", metavar="COMMAND", parser_class=_Parser)
    sub.required = True
    for command in commands:
        command_parser = sub.add_parser(command.name, parents=[common], help=command.help)
        _add(command_parser, command.arguments)
        command_parser.set_defaults(handler=command.handler, check=command.check, offline=command.offline)
    return parser


def main(argv: Optional[Sequence[str]] = None) -> int:
    args = build_parser().parse_args(argv)
    client = None
    try:
        if args.check is not None:
            args.check()
        if args.offline is not None:
            return int(args.offline(args))
        client = Client(args.target, args.timeout)
        return int(args.handler(args, client))
    except CliError as error:
        print("%s: error: %s" % (PROG, one_line(str(error))), file=sys.stderr)
        return EXIT_ERROR
    except BrokenPipeError:  # output piped into a reader that stopped, as `head`
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return EXIT_ERROR
    except KeyboardInterrupt:
        print("%s: interrupted" % PROG, file=sys.stderr)
        return EXIT_INTERRUPTED
    except Exception as error:  # still one line: a fault of the client itself
        print("%s: error: %s" % (PROG, one_line("unexpected %s: %s" % (type(error).__name__, error))),
              file=sys.stderr)
        return EXIT_ERROR
    finally:
        if client is not None:
            client.close()


if __name__ == "__main__":
    sys.exit(main())
