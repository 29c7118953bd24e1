"""The command-line reference of the documentation site, made from the
argument parsers: every option of every command in its command's section,
and table rows that hold their text."""

import argparse
import importlib.util
import re
from pathlib import Path

import pytest

TOOL = Path(__file__).resolve().parent.parent / "tools" / "cli_reference.py"
CELL_BORDER = re.compile(r"(?<!\\)\|")  # a | that is not escaped


@pytest.fixture(scope="module")
def tool():
    spec = importlib.util.spec_from_file_location("cli_reference", TOOL)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


@pytest.fixture(scope="module")
def reference(tool):
    return tool.reference()


def sections(markdown):
    """heading text -> the lines under it, for the ## and ### headings."""
    found, current = {}, None
    for line in markdown.splitlines():
        if line.startswith(("## ", "### ")):
            current = found.setdefault(line.lstrip("# "), [])
        elif current is not None:
            current.append(line)
    return found


def listed(parser):
    """What --help lists but help itself and the commands."""
    return [action for action in parser._actions if action.help != argparse.SUPPRESS
            and not isinstance(action, (argparse._HelpAction, argparse._SubParsersAction))]


def subcommands(parser):
    for action in parser._actions:
        if isinstance(action, argparse._SubParsersAction):
            return action.choices
    return {}


def test_every_option_of_every_command_is_in_its_section(tool, reference):
    found = sections(reference)
    for program, module, builder in tool.PROGRAMS:
        parser = tool.load_parser(module, builder)
        commands = subcommands(parser)
        shared = "\n".join(found["Options of every command" if commands else "Options"])
        for action in listed(parser):
            assert "`%s" % ", ".join(action.option_strings) in shared, (program, action.dest)
        for name, sub in commands.items():
            text = "\n".join(found["%s %s" % (program, name)])
            assert "usage: %s %s" % (program, name) in text
            for action in listed(sub):
                flag = "`%s" % (", ".join(action.option_strings) or action.metavar or action.dest)
                assert flag in text or flag in shared, (program, name, action.dest)


def test_table_rows_have_two_cells_and_no_unexpanded_defaults(reference):
    rows = [line for line in reference.splitlines() if line.startswith("| ")]
    assert rows
    for row in rows:
        assert len(CELL_BORDER.findall(row)) == 3, row
        assert "%(" not in row, row


@pytest.mark.parametrize("help_text,expected", [
    ("a | b", "a \\| b"),
    ("two\nlines,   spaced", "two lines, spaced"),
    ("port (default: %(default)s)", "port (default: 50051)"),
])
def test_help_cells_stay_in_one_cell(tool, help_text, expected):
    parser = argparse.ArgumentParser()
    action = parser.add_argument("--port", default=50051, help=help_text)
    assert tool.cell(tool.option_help(parser, action)) == expected
