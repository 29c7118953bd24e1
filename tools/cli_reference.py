"""The command-line reference as Markdown, made from the argument parsers
themselves: each program's usage and options, then each command's.

    python tools/cli_reference.py            # prints it

The documentation build appends it to docs/cli.md (docs/conf.py), so the
page never lists an option that the parsers do not have, or misses one.
"""

import argparse
import importlib
import sys
from typing import Dict, Iterator, List, Sequence, Tuple

# The programs, in page order: name, module, parser builder.
PROGRAMS = (
    ("ostrel", "ostrel.cli.commands", "build_parser"),
    ("ostrel-server", "ostrel.server.__main__", "build_parser"),
)
USAGE_WIDTH = 88  # the same lines whatever terminal builds the page
ERR_NO_BUILDER = "%s has no parser builder %s()"


def load_parser(module: str, builder: str) -> argparse.ArgumentParser:
    build = getattr(importlib.import_module(module), builder, None)
    if build is None:
        raise ImportError(ERR_NO_BUILDER % (module, builder))
    return build()


def usage(parser: argparse.ArgumentParser) -> str:
    formatter = argparse.HelpFormatter(parser.prog, width=USAGE_WIDTH)
    formatter.add_usage(parser.usage, parser._actions, parser._mutually_exclusive_groups)
    return formatter.format_help().strip()


def cell(text: str) -> str:
    """Text that stays inside one cell of a Markdown table."""
    return " ".join(text.split()).replace("|", "\\|")


def option_name(action: argparse.Action) -> str:
    if not action.option_strings:
        return str(action.metavar or action.dest)
    names = ", ".join(action.option_strings)
    if action.nargs == 0:
        return names
    if action.choices is not None and action.metavar is None:
        return "%s {%s}" % (names, ",".join(str(c) for c in action.choices))
    return "%s %s" % (names, action.metavar or action.dest.upper())


def option_help(parser: argparse.ArgumentParser, action: argparse.Action) -> str:
    if not action.help:
        return ""
    formatter = argparse.HelpFormatter(parser.prog)
    return formatter._expand_help(action)  # %(default)s and the like, as --help shows them


def documented(actions: Sequence[argparse.Action]) -> Iterator[argparse.Action]:
    """The actions that --help lists, less help itself and the commands."""
    for action in actions:
        if action.help == argparse.SUPPRESS or isinstance(
                action, (argparse._HelpAction, argparse._SubParsersAction)):
            continue
        yield action


def options_table(parser: argparse.ArgumentParser, actions: Sequence[argparse.Action]) -> List[str]:
    if not actions:
        return []
    rows = ["| option | meaning |", "|---|---|"]
    rows += ["| `%s` | %s |" % (cell(option_name(a)), cell(option_help(parser, a))) for a in actions]
    return rows + [""]


def commands_of(parser: argparse.ArgumentParser) -> Dict[str, Tuple[argparse.ArgumentParser, str]]:
    """name -> (parser, one-line help) of each command, in the parser's order."""
    for action in parser._actions:
        if isinstance(action, argparse._SubParsersAction):
            helps = {choice.dest: choice.help or "" for choice in action._choices_actions}
            return {name: (sub, helps.get(name, "")) for name, sub in action.choices.items()}
    return {}


def code_block(text: str) -> List[str]:
    return ["```text", text, "```", ""]


def program_section(name: str, parser: argparse.ArgumentParser) -> List[str]:
    lines = ["## %s" % name, "", parser.description or "", ""]
    lines += code_block(usage(parser))
    shared = list(documented(parser._actions))
    commands = commands_of(parser)
    if shared:
        lines += ["### Options%s" % (" of every command" if commands else ""), ""]
        lines += options_table(parser, shared)
    if parser.epilog:
        lines += code_block(parser.epilog.strip())
    shared_dests = {action.dest for action in shared}
    for command, (sub, summary) in commands.items():
        own = [a for a in documented(sub._actions) if a.dest not in shared_dests]
        lines += ["### %s %s" % (name, command), "", sub.description or summary, ""]
        lines += code_block(usage(sub))
        lines += options_table(sub, own)
    return lines


def reference() -> str:
    lines: List[str] = []
    for name, module, builder in PROGRAMS:
        lines += program_section(name, load_parser(module, builder))
    return "\n".join(lines)


if __name__ == "__main__":
    sys.stdout.write(reference() + "\n")
