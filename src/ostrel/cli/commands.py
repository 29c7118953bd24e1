"""The `ostrel` command table: each command's name, help, handler and
arguments, the parser built from it, and the entry point that turns every
failure into one line on stderr and an exit code."""

import argparse
import os
import sys
from typing import Any, Callable, Dict, NamedTuple, Optional, Sequence, Tuple

from ostrel.programs import VersionAction
from ostrel.cli.arguments import Argument, Parser, add_arguments, arg, common_options, parse_seconds, parse_since
from ostrel.cli.calls import Api, Client, CtrlC, FIRST_POLL_S, wait_for_end
from ostrel.cli.errors import EXIT_FAILURE, EXIT_INTERRUPTED, PROG, CliError, Interrupted, exit_codes_text
from ostrel.programs import EXIT_ERROR
from ostrel.terminal import one_line
from ostrel.connection.settings import Transport
from ostrel.cli.files import read_project, write_file
from ostrel.cli.output import describe_project, describe_state
from ostrel.protojson import write_json
from ostrel.cli.records import check_mcap, check_report, cmd_records, cmd_report
from ostrel.records import MCAP_COMPRESSIONS

ERR_NO_JSON = "%s has no JSON output; leave out --json"
COMPLETION_SHELLS = ("bash", "zsh", "fish")
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
    from ostrel.protocol.metadata import ALLOW_EMPTY_METADATA

    project = read_project(args.project, client.api.project.ProjectSnapshot())
    metadata = [(ALLOW_EMPTY_METADATA, "1")] if args.allow_empty else []
    return _emit_status(args, client.api, client.call("pushProjectSnapshot", project, metadata))


def cmd_check(args: argparse.Namespace) -> int:
    """The checks of a push, offline: one line per problem, exit 1 if any."""
    from ostrel.api import project_pb2
    from ostrel.protocol import project_names

    project = read_project(args.project, project_pb2.ProjectSnapshot())
    found = project_names.problems(project, args.allow_empty)
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
    from ostrel import extras

    try:
        shtab: Any = extras.require("shtab", "completion")
    except ImportError as error:
        raise CliError(str(error)) from None
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


# The command table --------------------------------------------------------

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
    arg("--since", type=parse_since, default=0, metavar="TIME",
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
                arg("--poll", type=parse_seconds, default=1.0, metavar="SECONDS",
                    help="longest pause between state polls; polls start %g s apart and back off (default: 1)"
                         % FIRST_POLL_S),
                arg("--wait-timeout", type=parse_seconds, default=None, metavar="SECONDS",
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


def build_parser(commands: Sequence[Command] = COMMANDS,
                 completions: Optional[Dict[str, Any]] = None) -> argparse.ArgumentParser:
    """The parser of the command line; `completions` maps metavars to how a
    shell completes them (for the completion scripts only)."""
    parser = Parser(prog=PROG, description="Client of the Ostrel work-cell service.", epilog=exit_codes_text())
    parser.add_argument("--version", action=VersionAction)
    add_arguments(parser, common_options())
    # Common options are taken before or after the command: `ostrel --json state` or `ostrel state --json`.
    common = Parser(add_help=False)
    add_arguments(common, common_options(), suppress=True)
    sub = parser.add_subparsers(dest="command", metavar="COMMAND", parser_class=Parser)
    sub.required = True
    for command in commands:
        command_parser = sub.add_parser(command.name, parents=[common], help=command.help,
                                        description=command.description, epilog=exit_codes_text())
        add_arguments(command_parser, command.arguments, completions=completions)
        command_parser.set_defaults(handler=command.handler, check=command.check, takes_json=command.json,
                                    offline=command.offline)
    return parser


def connection_settings(args: argparse.Namespace) -> Transport:
    """The connection's settings; CliError when they cannot work."""
    from ostrel.connection import sources

    try:
        return sources.command_line_transport(args)
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
        client = Client(settings, args.timeout)
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

