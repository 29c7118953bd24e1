"""The `ostrel` command table: each command's name, help, handler and
arguments, the parser built from it, and the entry point that turns every
failure into one line on stderr and an exit code."""

import argparse
import os
import re
import sys
import time
from typing import Any, Callable, Dict, NamedTuple, NoReturn, Optional, Sequence, Tuple

from ostrel.cli.client import Api, Client, CtrlC, FIRST_POLL_S, wait_for_end
from ostrel.cli.errors import (EXIT_ERROR, EXIT_FAILURE, EXIT_INTERRUPTED, PROG, CliError, Interrupted,
                               exit_codes_text, one_line)
from ostrel.cli.transport import CONNECTION_OPTIONS, DEFAULT_TARGET
from ostrel.client import Transport, check_target
from ostrel.cli.files import read_project, write_file
from ostrel.cli.output import describe_project, describe_state
from ostrel.protojson import write_json
from ostrel.cli.records import check_mcap, check_report, cmd_records, cmd_report
from ostrel.records import MCAP_COMPRESSIONS

MIN_SECONDS = 0.01
MAX_SECONDS = 1e6
MAX_TARGET_CHARS = 1024

ERR_SECONDS = "must be a number of seconds from %g to %g, got %r"
ERR_SINCE = ("must be a time: ISO 8601 (2026-05-04T12:30:00Z; no zone is UTC), a time ago (30s, 15m, 1h, 2d, "
             "1w) or nanoseconds since the epoch; got %r")
ERR_NO_JSON = "%s has no JSON output; leave out --json"
ERR_MISSING_COMPLETION = 'ostrel completion needs shtab: pip install "ostrel[completion]"'
COMPLETION_SHELLS = ("bash", "zsh", "fish")
# Seconds per unit of a time ago given to --since.
AGO_UNITS = {"s": 1, "m": 60, "h": 3600, "d": 86400, "w": 7 * 86400}
_AGO = re.compile(r"(\d+(?:\.\d*)?)([%s])" % "".join(AGO_UNITS))
ERR_TARGET_EMPTY = "must name the server as host:port, got an empty text"
ERR_TARGET_CHARS = "must name the server as host:port, without spaces or control characters, got %r"
ERR_TARGET_LONG = "must name the server as host:port, in at most %d characters" % MAX_TARGET_CHARS
ERR_INTERRUPTED = "interrupted"
ERR_INTERRUPTED_WAIT = "interrupted; program '%s' goes on running on the server (see `ostrel state`)"
CHECKED = "%s: no problems (%d behaviors)"


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
    else:
        for problem in found:
            print("%s: %s" % (args.project, one_line(problem)))
        if not found:
            print(CHECKED % (args.project, len(project.behaviors)))
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
    try:  # from here on the program runs on the server, whatever happens to this command
        with CtrlC() as ctrl_c:
            if not args.json:
                print(api.status_line(status), flush=True)
            final = wait_for_end(client, args.behavior, args.poll, args.wait_timeout, ctrl_c)
    except KeyboardInterrupt:  # stopping the wait does not stop the program
        raise Interrupted(ERR_INTERRUPTED_WAIT % args.behavior) from None
    return _emit_status(args, api, final)


def cmd_completion(args: argparse.Namespace) -> int:
    """Prints the shell's completion script, generated from the parser."""
    try:
        import shtab
    except ImportError:
        raise CliError(ERR_MISSING_COMPLETION) from None
    # Arguments that name files complete as file names, by their metavar.
    parser = build_parser(completions={"FILE": shtab.FILE, "PROJECT.json": shtab.FILE, "DIR": shtab.DIRECTORY})
    sys.stdout.write(shtab.complete(parser, shell=args.shell))
    return 0


def cmd_state(args: argparse.Namespace, client: Client) -> int:
    state = client.call("pullSystemState", client.api.requests.GenericRequest())
    if args.json:
        write_json(sys.stdout, state)
    else:
        print(describe_state(client.api, state))
    return 0

# Arguments ----------------------------------------------------------------

def _seconds(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        value = float("nan")
    if not MIN_SECONDS <= value <= MAX_SECONDS:  # also refuses nan
        raise argparse.ArgumentTypeError(ERR_SECONDS % (MIN_SECONDS, MAX_SECONDS, text))
    return value


def since_ns(text: str, now_ns: int) -> int:
    """The time --since names, in nanoseconds since the epoch: digits are
    nanoseconds, `<number><s|m|h|d|w>` a time before `now_ns`, anything
    else an ISO 8601 time (UTC when it names no zone; the form `ostrel
    records` prints, with its ` UTC`, is taken as well). ValueError when it
    is none of these or lies outside 0 to 2**64-1."""
    text = text.strip()
    ago = _AGO.fullmatch(text)
    if text.isdigit():
        value = int(text)
    elif ago is not None:
        value = now_ns - int(float(ago.group(1)) * AGO_UNITS[ago.group(2)] * 1_000_000_000)
    else:
        value = _iso_ns(text)
    if not 0 <= value < 2**64:
        raise ValueError(text)
    return value


def _iso_ns(text: str) -> int:
    from datetime import datetime, timedelta, timezone

    for utc in (" UTC", "Z", "z"):
        if text.endswith(utc):
            text = text[:-len(utc)] + "+00:00"
    moment = datetime.fromisoformat(text)
    if moment.tzinfo is None:
        moment = moment.replace(tzinfo=timezone.utc)
    return (moment - datetime(1970, 1, 1, tzinfo=timezone.utc)) // timedelta(microseconds=1) * 1000


def _since(text: str) -> int:
    try:
        return since_ns(text, time.time_ns())
    except (ValueError, OverflowError):
        raise argparse.ArgumentTypeError(ERR_SINCE % text) from None


def _target(text: str) -> str:
    if not text:
        raise argparse.ArgumentTypeError(ERR_TARGET_EMPTY)
    if len(text) > MAX_TARGET_CHARS:
        raise argparse.ArgumentTypeError(ERR_TARGET_LONG)
    if not text.isprintable() or any(c.isspace() for c in text):
        raise argparse.ArgumentTypeError(ERR_TARGET_CHARS % text)
    try:
        check_target(text)
    except ValueError as error:
        raise argparse.ArgumentTypeError(str(error)) from None
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
    help: str  # one line, in the list of commands
    description: str  # the command's --help page
    handler: Optional[Callable[[argparse.Namespace, Client], int]]
    arguments: Tuple[Argument, ...] = ()
    # The command's own checks, before any channel is opened.
    check: Optional[Callable[[argparse.Namespace], None]] = None
    json: bool = True  # whether --json changes what it prints
    offline: Optional[Callable[[argparse.Namespace], int]] = None  # instead of handler, for commands without a server


OUT_HELP = "write the %s as JSON to FILE"
RECORD_FILTERS: Tuple[Argument, ...] = (
    arg("--description", action="append", metavar="TEXT",
        help="only record sets with this description (repeatable)"),
    arg("--since", type=_since, default=0, metavar="TIME",
        help="only record sets started at or after TIME: ISO 8601 (UTC unless it names a zone), "
             "a time ago (30m, 1h, 2d) or ns since the epoch"),
)

COMMANDS: Tuple[Command, ...] = (
    Command("connect", "check that the server answers",
            "Ask the server whether it answers, giving it a client name; prints its status.",
            cmd_connect, (arg("--client", default="ostrel-cli", help="name to give the server"),)),
    Command("push", "send a project (protobuf JSON file) to the server",
            "Send a project to the server, where it replaces the current one. The file is protobuf JSON, "
            "as `ostrel pull --out` writes it.",
            cmd_push, (
                arg("project", metavar="PROJECT.json", help="the project, as protobuf JSON"),
                arg("--allow-empty", action="store_true",
                    help="let a project with no behaviors and no workspace replace the server's project"))),
    Command("check", "check a project file as a push would, without a server (exit 1 on problems)",
            "Check a project file with the rules a push applies (every reference between its parts), "
            "without a server: one line per problem and exit code 1, or a line saying it is sound.",
            None, (
                arg("project", metavar="PROJECT.json", help="the project, as protobuf JSON"),
                arg("--allow-empty", action="store_true", help="take a project with no behaviors and no workspace")),
            offline=cmd_check),
    Command("pull", "show the server's project",
            "Show the server's current project: its version and the keys of what it holds, or all of it "
            "as protobuf JSON (--json, --out).",
            cmd_pull, (arg("--out", metavar="FILE", help=OUT_HELP % "project"),)),
    Command("run", "run a behavior of the project",
            "Start a behavior of the pushed project as the program. With --wait, poll the state until the "
            "program ends and exit with its outcome; Ctrl-C stops the waiting, not the program.",
            cmd_run, (
                arg("behavior", metavar="BEHAVIOR", help="name of a behavior of the pushed project"),
                arg("--wait", action="store_true", help="wait for the program to end"),
                arg("--poll", type=_seconds, default=1.0, metavar="SECONDS",
                    help="longest pause between state polls; polls start %g s apart and back off (default: 1)"
                         % FIRST_POLL_S),
                arg("--wait-timeout", type=_seconds, default=None, metavar="SECONDS",
                    help="give up waiting after this many seconds (exit code 3; the program goes on)"))),
    Command("state", "show the system state",
            "Show the system state: the program's status, the joints of robots and effectors, and what the "
            "agents produced last.",
            cmd_state),
    Command("records", "show recorded data sets",
            "Show the record sets the server keeps, one line each (times in UTC), or write them as "
            "protobuf JSON, as plain files per set (--export) or as one MCAP file (--mcap).",
            cmd_records, (
                arg("--out", metavar="FILE", help=OUT_HELP % "records"),
                *RECORD_FILTERS,
                arg("--export", metavar="DIR",
                    help="write each record set as CSV, PNG and JSON files to a folder under DIR"),
                arg("--mcap", metavar="FILE", help="write the record sets as one MCAP file for robotics viewers"),
                arg("--mcap-compression", choices=MCAP_COMPRESSIONS, default=MCAP_COMPRESSIONS[0],
                    help="compression of the MCAP file's chunks (default: %s)" % MCAP_COMPRESSIONS[0])),
            check=check_mcap),
    Command("report", "write recorded data sets as one self-contained HTML page",
            "Write the selected record sets as one HTML page that needs no network: timelines, marker "
            "detections over the camera images, images, joint plots. Needs the extra `report` (matplotlib).",
            cmd_report, (
                arg("--out", metavar="FILE", default="report.html", help="the HTML file (default: report.html)"),
                arg("--title", metavar="TEXT", help="the page's title (default: Ostrel records from TARGET)"),
                *RECORD_FILTERS), check=check_report, json=False),
    Command("completion", "print a shell completion script",
            "Print the completion script of ostrel for a shell, generated from its arguments (needs the "
            "extra `completion`). For bash: source <(ostrel completion bash), or save it to "
            "~/.local/share/bash-completion/completions/ostrel.",
            None, (arg("shell", choices=COMPLETION_SHELLS, help="the shell: %s" % ", ".join(COMPLETION_SHELLS)),),
            json=False, offline=cmd_completion),
)

def common_options() -> Tuple[Argument, ...]:
    """Options of every command; $OSTREL_TARGET is read (and checked as
    --target) when the parser is built. Without either, the target comes
    from a profile or is DEFAULT_TARGET."""
    return (
        arg("--target", type=_target, default=os.environ.get("OSTREL_TARGET"),
            help="server address host:port or unix:PATH (default: $OSTREL_TARGET, the profile's, or %s)"
                 % DEFAULT_TARGET),
        arg("--json", action="store_true", default=False, help="print protobuf JSON instead of text"),
        arg("--timeout", type=_seconds, default=10.0, metavar="SECONDS", help="seconds per call (default: 10)"),
        *CONNECTION_OPTIONS,
    )


def _add(parser: argparse.ArgumentParser, arguments: Sequence[Argument], suppress: bool = False,
         completions: Optional[Dict[str, Any]] = None) -> None:
    for flags, options in arguments:
        if suppress:
            options = dict(options, default=argparse.SUPPRESS)
        action = parser.add_argument(*flags, **options)
        if completions and options.get("metavar") in completions:
            setattr(action, "complete", completions[options["metavar"]])  # read by the completion generator


def build_parser(commands: Sequence[Command] = COMMANDS,
                 completions: Optional[Dict[str, Any]] = None) -> argparse.ArgumentParser:
    """The parser of the command line; `completions` maps metavars to how a
    shell completes them (for the completion scripts only)."""
    from ostrel import version_action

    parser = _Parser(prog=PROG, description="Client of the Ostrel work-cell service.", epilog=exit_codes_text())
    parser.add_argument("--version", action=version_action())
    _add(parser, common_options())
    # Common options are taken before or after the command: `ostrel --json state` or `ostrel state --json`.
    common = _Parser(add_help=False)
    _add(common, common_options(), suppress=True)
    sub = parser.add_subparsers(dest="command", metavar="COMMAND", parser_class=_Parser)
    sub.required = True
    for command in commands:
        command_parser = sub.add_parser(command.name, parents=[common], help=command.help,
                                        description=command.description, epilog=exit_codes_text())
        _add(command_parser, command.arguments, completions=completions)
        command_parser.set_defaults(handler=command.handler, check=command.check, takes_json=command.json,
                                    offline=command.offline)
    return parser


def connection_settings(args: argparse.Namespace) -> Transport:
    """The connection's settings; CliError when they cannot work."""
    from ostrel.cli import transport

    try:
        return transport.transport(args)
    except ValueError as error:  # a file, a header, a token or a profile that cannot be used
        raise CliError(str(error)) from None


def main(argv: Optional[Sequence[str]] = None) -> int:
    args = build_parser().parse_args(argv)
    client = None
    try:
        if args.json and not args.takes_json:
            raise CliError(ERR_NO_JSON % args.command)
        if args.check is not None:
            args.check(args)
        if args.offline is not None:
            return int(args.offline(args))
        settings = connection_settings(args)
        args.target = settings.target
        client = Client(settings, args.timeout, explicit_plaintext=bool(args.plaintext))
        return int(args.handler(args, client))
    except CliError as error:
        print("%s: error: %s" % (PROG, one_line(str(error))), file=sys.stderr)
        return error.exit_code
    except Interrupted as interruption:
        print("%s: %s" % (PROG, one_line(str(interruption))), file=sys.stderr)
        return EXIT_INTERRUPTED
    except BrokenPipeError:  # output piped into a reader that stopped, as `head`
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return EXIT_ERROR
    except KeyboardInterrupt:
        print("%s: %s" % (PROG, ERR_INTERRUPTED), file=sys.stderr)
        return EXIT_INTERRUPTED
    except Exception as error:  # still one line: a fault of the client itself
        print("%s: error: %s" % (PROG, one_line("unexpected %s: %s" % (type(error).__name__, error))),
              file=sys.stderr)
        return EXIT_ERROR
    finally:
        if client is not None:
            client.close()

