"""ostrel: command line client of the Ostrel service.

    ostrel connect
    ostrel push PROJECT.json
    ostrel pull [--out FILE]
    ostrel run BEHAVIOR [--wait]
    ostrel state
    ostrel records [--out FILE] [--description TEXT ...] [--since NS]

Projects and records are read and written as protobuf JSON. Output is
readable text, or JSON with --json. Errors are one line on stderr and a
non-zero exit code.
"""

import argparse
import json
import os
import sys
import time

PROG = "ostrel"
EXIT_FAILURE = 1  # the service answered FAILURE, or a waited program failed
EXIT_ERROR = 2  # the command could not be carried out (usage, file, connection)


class CliError(Exception):
    """An error to report as one line and exit with EXIT_ERROR."""


def _api():
    """Import the API modules on first use, so --help works without them."""
    try:
        import grpc
        from google.protobuf import json_format
        from ostrel.api import common_pb2, data_pb2, project_pb2, service_pb2, service_pb2_grpc, system_pb2
    except ImportError as error:
        raise CliError("cannot load the Ostrel API modules: %s" % error)
    return grpc, json_format, common_pb2, data_pb2, project_pb2, service_pb2, service_pb2_grpc, system_pb2


# Files --------------------------------------------------------------------

def read_project(path):
    """A ProjectSnapshot from a protobuf JSON file; CliError when unusable."""
    _, json_format, _, _, project_pb2, *_ = _api()
    try:
        with open(path, encoding="utf-8") as handle:
            text = handle.read()
    except OSError as error:
        raise CliError("cannot read %s: %s" % (path, error.strerror or error))
    except UnicodeDecodeError:
        raise CliError("cannot read %s: not UTF-8 text" % path)
    try:
        data = json.loads(text)
    except ValueError as error:
        raise CliError("%s is not valid JSON: %s" % (path, error))
    if not isinstance(data, dict):
        raise CliError("%s is not a valid project: expected a JSON object, found %s"
                       % (path, type(data).__name__))
    try:
        return json_format.ParseDict(data, project_pb2.ProjectSnapshot())
    except (json_format.ParseError, ValueError, TypeError, AttributeError) as error:
        message = " ".join(str(error).split()).rstrip(".")
        raise CliError("%s is not a valid project: %s" % (path, message))


def to_json(message):
    _, json_format, *_ = _api()
    return json_format.MessageToJson(message, preserving_proto_field_name=True, indent=2)


def write_text(path, text):
    try:
        with open(path, "w", encoding="utf-8") as handle:
            handle.write(text + "\n")
    except OSError as error:
        raise CliError("cannot write %s: %s" % (path, error.strerror or error))


# Text output ------------------------------------------------------------------

def _code_name(common_pb2, code):
    return common_pb2.Code.Name(code) if code in common_pb2.Code.values() else str(code)


def _status_line(common_pb2, status):
    return "%s: %s" % (_code_name(common_pb2, status.code), status.message)


def _ns_time(ns):
    if not ns:
        return "-"
    return time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(ns / 1e9)) + ".%03d" % (ns // 1_000_000 % 1000)


def _joints(vector):
    return "[" + ", ".join("%.3f" % v for v in vector.data) + "]"


def describe_project(project):
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


def describe_state(common_pb2, state):
    lines = ["status: %s" % _status_line(common_pb2, state.status)]
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


def describe_records(common_pb2, records):
    if not records.records:
        return "no records"
    lines = []
    for record in records.records:
        failed = sum(1 for e in record.events if e.status and e.status[-1].code == common_pb2.FAILURE)
        kinds = {}
        for product in record.products:
            kind = product.WhichOneof("type") or "none"
            kinds[kind] = kinds.get(kind, 0) + 1
        seconds = (record.stop_timestamp_ns - record.start_timestamp_ns) / 1e9
        lines.append("%s  %s  %.3f s  %d events (%d failed)  products: %s"
                     % (_ns_time(record.start_timestamp_ns), record.description or "(no description)",
                        seconds, len(record.events), failed,
                        ", ".join("%d %s" % (n, k) for k, n in sorted(kinds.items())) or "none"))
    return "\n".join(lines)


# Commands -----------------------------------------------------------------

class Client:
    def __init__(self, target, timeout):
        grpc, _, _, _, _, self.service_pb2, service_pb2_grpc, _ = _api()
        self.grpc = grpc
        self.target = target
        self.timeout = timeout
        # Records grow with every recording; take answers of any size.
        self.channel = grpc.insecure_channel(target, options=[("grpc.max_receive_message_length", -1)])
        self.stub = service_pb2_grpc.OstrelStub(self.channel)

    def call(self, method, request):
        return self.invoke(method, getattr(self.stub, method), request)

    def call_raw(self, method, request):
        """The serialized answer, unparsed: `ostrel.recordsets` reads it one record set at a time."""
        raw = self.channel.unary_unary("/ostrel.api.service.Ostrel/" + method,
                                       request_serializer=type(request).SerializeToString,
                                       response_deserializer=None)
        return self.invoke(method, raw, request)

    def invoke(self, method, callable, request):
        try:
            return callable(request, timeout=self.timeout)
        except self.grpc.RpcError as error:
            code = error.code() if hasattr(error, "code") else None
            if code in (self.grpc.StatusCode.UNAVAILABLE, self.grpc.StatusCode.DEADLINE_EXCEEDED):
                raise CliError("cannot reach the Ostrel server at %s (%s); is ostrel-server running?"
                               % (self.target, code.name.lower().replace("_", " ")))
            details = error.details() if hasattr(error, "details") else str(error)
            raise CliError("%s failed: %s: %s" % (method, code.name if code else "error", details))

    def close(self):
        self.channel.close()


def _emit_status(args, common_pb2, status):
    if args.json:
        print(to_json(status))
    elif status.code == common_pb2.FAILURE:
        print("%s: error: %s" % (PROG, status.message), file=sys.stderr)
    else:
        print(_status_line(common_pb2, status))
    return 0 if status.code != common_pb2.FAILURE else EXIT_FAILURE


def cmd_connect(args, client):
    common_pb2 = _api()[2]
    status = client.call("connect", client.service_pb2.ConnectRequest(client=args.client))
    return _emit_status(args, common_pb2, status)


def cmd_push(args, client):
    common_pb2 = _api()[2]
    project = read_project(args.project)
    return _emit_status(args, common_pb2, client.call("pushProjectSnapshot", project))


def cmd_pull(args, client):
    project = client.call("pullProjectSnapshot", client.service_pb2.GenericRequest())
    if args.out:
        write_text(args.out, to_json(project))
        if not args.json:
            print("project %s written to %s" % (project.version or "(no version)", args.out))
        return 0
    print(to_json(project) if args.json else describe_project(project))
    return 0


def cmd_run(args, client):
    common_pb2 = _api()[2]
    status = client.call("runProgram", client.service_pb2.ProgramRequest(behavior=args.behavior))
    if status.code == common_pb2.FAILURE or not args.wait:
        return _emit_status(args, common_pb2, status)
    if not args.json:
        print(_status_line(common_pb2, status))
    deadline = time.monotonic() + args.wait_timeout if args.wait_timeout else None
    while True:
        state = client.call("pullSystemState", client.service_pb2.GenericRequest())
        if state.status.code != common_pb2.RUNNING:
            return _emit_status(args, common_pb2, state.status)
        if deadline is not None and time.monotonic() > deadline:
            raise CliError("program '%s' still running after %g s" % (args.behavior, args.wait_timeout))
        time.sleep(args.poll)


def cmd_state(args, client):
    common_pb2 = _api()[2]
    state = client.call("pullSystemState", client.service_pb2.GenericRequest())
    print(to_json(state) if args.json else describe_state(common_pb2, state))
    return 0


def cmd_records(args, client):
    common_pb2 = _api()[2]
    if args.export:
        from ostrel import records_cli
        return records_cli.export(args, client)
    request = client.service_pb2.RecordsRequest(descriptions=args.description or [], since_ns=args.since)
    records = client.call("pullDataRecords", request)
    if args.out:
        write_text(args.out, to_json(records))
    if args.json:
        print(to_json(records))
    else:
        print(describe_records(common_pb2, records))
        if args.out:
            print("%d record sets written to %s" % (len(records.records), args.out))
    return 0


def _positive(text):
    value = float(text)
    if value <= 0:
        raise argparse.ArgumentTypeError("must be more than 0, got %s" % text)
    return value


def _since(text):
    value = int(text)
    if not 0 <= value < 2**64:
        raise argparse.ArgumentTypeError("must be a count of nanoseconds, got %s" % text)
    return value


class _Parser(argparse.ArgumentParser):
    def error(self, message):
        self.exit(EXIT_ERROR, "%s: error: %s\n" % (self.prog, message))


def _common_options(parser, default):
    """Options taken before or after the command: `ostrel --json state` or `ostrel state --json`."""
    parser.add_argument("--target", default=default(os.environ.get("OSTREL_TARGET", "localhost:50051")),
                        help="server address host:port (default: $OSTREL_TARGET or localhost:50051)")
    parser.add_argument("--json", action="store_true", default=default(False),
                        help="print protobuf JSON instead of text")
    parser.add_argument("--timeout", type=_positive, default=default(10.0),
                        help="seconds per call (default: 10)")


def build_parser():
    parser = _Parser(prog=PROG, description="Client of the Ostrel work-cell service.")
    _common_options(parser, lambda value: value)
    common = _Parser(add_help=False)
    _common_options(common, lambda value: argparse.SUPPRESS)
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", parser_class=_Parser)
    commands.required = True

    def command(name, help):
        return commands.add_parser(name, parents=[common], help=help)

    sub = command("connect", help="check that the server answers")
    sub.add_argument("--client", default="ostrel-cli", help="name to give the server")
    sub.set_defaults(handler=cmd_connect)

    sub = command("push", help="send a project (protobuf JSON file) to the server")
    sub.add_argument("project", metavar="PROJECT.json")
    sub.set_defaults(handler=cmd_push)

    sub = command("pull", help="show the server's project")
    sub.add_argument("--out", metavar="FILE", help="write the project as JSON to FILE")
    sub.set_defaults(handler=cmd_pull)

    sub = command("run", help="run a behavior of the project")
    sub.add_argument("behavior", metavar="BEHAVIOR")
    sub.add_argument("--wait", action="store_true", help="wait for the program to end")
    sub.add_argument("--poll", type=_positive, default=0.2, help="seconds between state polls (default: 0.2)")
    sub.add_argument("--wait-timeout", type=_positive, default=None, help="give up waiting after this many seconds")
    sub.set_defaults(handler=cmd_run)

    sub = command("state", help="show the system state")
    sub.set_defaults(handler=cmd_state)

    sub = command("records", help="show recorded data sets")
    sub.add_argument("--out", metavar="FILE", help="write the records as JSON to FILE")
    _record_filters(sub)
    sub.add_argument("--export", metavar="DIR",
                     help="write each record set as CSV, PNG and JSON files to a folder under DIR")
    sub.set_defaults(handler=cmd_records)

    sub = command("report", help="write recorded data sets as one self-contained HTML page")
    sub.add_argument("--out", metavar="FILE", default="report.html", help="the HTML file (default: report.html)")
    _record_filters(sub)
    sub.set_defaults(handler=cmd_report, check=_check_report)
    return parser


def cmd_report(args, client):
    from ostrel import records_cli
    return records_cli.report(args, client)


def _check_report():
    from ostrel import records_cli
    records_cli.check_report()


def _record_filters(sub):
    sub.add_argument("--description", action="append", metavar="TEXT",
                     help="only record sets with this description (repeatable)")
    sub.add_argument("--since", type=_since, default=0, metavar="NS",
                     help="only record sets started at or after this time (ns since the epoch)")


def main(argv=None):
    args = build_parser().parse_args(argv)
    client = None
    try:
        if hasattr(args, "check"):  # a command's own checks, before any channel is opened
            args.check()
        client = Client(args.target, args.timeout)
        return args.handler(args, client)
    except CliError as error:
        print("%s: error: %s" % (PROG, error), file=sys.stderr)
        return EXIT_ERROR
    except BrokenPipeError:  # output piped into a reader that stopped, as `head`
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return EXIT_ERROR
    except KeyboardInterrupt:
        print("%s: interrupted" % PROG, file=sys.stderr)
        return 130
    except Exception as error:  # still one line: a fault of the client itself
        print("%s: error: unexpected %s: %s" % (PROG, type(error).__name__, error), file=sys.stderr)
        return EXIT_ERROR
    finally:
        if client is not None:
            client.close()


if __name__ == "__main__":
    sys.exit(main())
