"""The import graph of the package and what it takes to load: no circle;
floors (shared modules at the bottom, then what both ends share, then the
record readers, the server and the connection, none importing another, and
the command line on top); every module loading with the core dependencies
alone; each fact of the package stated in one module."""

import ast
import inspect
import json
import pathlib

import pytest

import ostrel
from ostrel import extras

ROOT = pathlib.Path(ostrel.__file__).parent
# The checkout these tests belong to (the package may be installed elsewhere).
CHECKOUT = pathlib.Path(__file__).resolve().parent.parent
# Package of a module -> its floor; the API and the modules directly in
# ostrel are the bottom.
FLOORS = {"ostrel": 1, "ostrel.protocol": 2, "ostrel.records": 3, "ostrel.server": 3, "ostrel.connection": 3,
          "ostrel.cli": 4}
# Imports up a floor that are allowed: the package hands out `ostrel.connect`
# from the connection's room, loaded on first use.
UPWARD = {("ostrel", "ostrel.connection.channel")}


def module_names():
    names = {}
    for path in sorted(ROOT.rglob("*.py")):
        parts = path.relative_to(ROOT.parent).with_suffix("").parts
        name = ".".join(parts[:-1] if parts[-1] == "__init__" else parts)
        names[name] = path
    return names


def imports_of(name, path, known):
    """The package's modules that `name` imports anywhere in its text (at the
    top or inside a function): a circle through a late import is a circle."""
    found = set()
    package = name if path.name == "__init__.py" else name.rpartition(".")[0]
    for node in ast.walk(ast.parse(path.read_text(encoding="utf-8"))):
        if isinstance(node, ast.Import):
            targets = [alias.name for alias in node.names]
        elif isinstance(node, ast.ImportFrom):
            base = node.module or ""
            if node.level:
                base = ".".join(package.split(".")[:len(package.split(".")) - node.level + 1] + ([base] if base else []))
            targets = [base + "." + alias.name if base + "." + alias.name in known else base for alias in node.names]
        else:
            continue
        found.update(t for t in targets if t.startswith("ostrel") and t != name)
    return found


def graph():
    names = module_names()
    known = set(names) | {"ostrel.api." + p.name.split(".")[0] for p in (ROOT / "api").glob("*_pb2*.so")}
    return {name: {t for t in imports_of(name, path, known) if t in known} for name, path in names.items()}


def package_of(name):
    package = ".".join(name.split(".")[:2])
    return package if package in FLOORS else "ostrel"


def dependency_order(edges):
    """Modules with what they import first; AssertionError naming a circle."""
    order, state = [], {}  # modules without an entry (extension modules) import none of ours

    def visit(name, path):
        if state.get(name) == "done":
            return
        if state.get(name) == "open":
            raise AssertionError("import circle: " + " -> ".join(path[path.index(name):] + [name]))
        state[name] = "open"
        for target in sorted(edges.get(name, ())):
            visit(target, path + [name])
        state[name] = "done"
        order.append(name)

    for name in sorted(edges):
        visit(name, [])
    return order


# Imports that the floors would allow but the rooms do not: (importer,
# imported), packages or modules, and why.
NEVER = [
    ("ostrel.cli", "ostrel.server", "the command line is a client: what it shares with the server is in protocol"),
    ("ostrel.server", "ostrel.connection", "the server imports nothing of the client side"),
    ("ostrel.server", "ostrel.cli", "the server imports nothing of the client side"),
    ("ostrel.records", "ostrel.connection", "recordings are read without a connection"),
]


def within(name, prefix):
    return name == prefix or name.startswith(prefix + ".")


def test_the_package_has_no_import_circle_and_keeps_its_floors():
    edges = graph()
    dependency_order(edges)
    for name, targets in edges.items():
        for target in targets:
            here, there = package_of(name), package_of(target)
            assert here == there or FLOORS[there] < FLOORS[here] or (name, target) in UPWARD, (
                "%s imports %s, a floor up or beside it" % (name, target))


@pytest.mark.parametrize("importer, imported, why", NEVER, ids=["%s-%s" % row[:2] for row in NEVER])
def test_rooms_that_never_import_each_other(importer, imported, why):
    found = sorted((name, target) for name, targets in graph().items() if within(name, importer)
                   for target in targets if within(target, imported))
    assert found == [], why


def test_the_circle_finder_finds_a_circle():
    with pytest.raises(AssertionError, match="a -> b -> a"):
        dependency_order({"a": {"b"}, "b": {"a"}})


# Run first in a child: the modules of every extra cannot be imported, as
# on a host with the core dependencies only.
BLOCK_EXTRAS = """
import sys
class BlockExtras:
    blocked = set(%r)
    def find_spec(self, name, path=None, target=None):
        if name.split(".")[0] in self.blocked:
            raise ModuleNotFoundError("No module named " + repr(name), name=name)
        return None
sys.meta_path.insert(0, BlockExtras())
""" % ([module for extra in extras.EXTRAS.values() for module in extra.modules],)

LOAD_IN_ORDER = BLOCK_EXTRAS + """
import importlib, json, sys
order, edges = json.loads(%r), json.loads(%r)
surprises = []
for name in order:
    before = set(sys.modules)
    importlib.import_module(name)
    loaded = {m for m in set(sys.modules) - before if m in edges and m != name}
    parents = {".".join(m.split(".")[:i]) for m in [name, *edges[name]] for i in range(1, m.count(".") + 1)}
    theirs = {m for parent in parents for m in edges.get(parent, ())}  # what a package's __init__ imports
    unexpected = loaded - set(edges[name]) - parents - theirs
    if unexpected:
        surprises.append([name, sorted(unexpected)])
print(json.dumps(surprises))
"""


def test_every_module_imports_in_a_fresh_interpreter_in_dependency_order_without_the_extras(fresh):
    """Each module, imported once what it imports is loaded, loads nothing
    of the package beyond its own imports and its parent packages with theirs (the graph
    read from the text is the one the interpreter follows), and needs no
    module of an extra to load."""
    edges = graph()
    order = [n for n in dependency_order(edges) if n in edges and not n.endswith("__main__")]
    direct = {name: sorted(edges.get(name, ())) for name in order}
    proc = fresh(LOAD_IN_ORDER % (json.dumps(order), json.dumps(direct)))
    assert json.loads(proc.stdout) == []


def test_the_extras_are_those_of_the_distribution():
    with open(CHECKOUT / "pyproject.toml", encoding="utf-8") as handle:
        text = handle.read()
    declared = text.split("[project.optional-dependencies]")[1].split("\n[")[0]
    for extra in extras.EXTRAS:
        assert "\n%s = [" % extra in declared, extra


MISSING_EXTRA = BLOCK_EXTRAS + """
from ostrel import cli
sys.exit(cli.main(%r))
"""


@pytest.mark.parametrize("extra, argv", [
    ("report", ["--target", "127.0.0.1:9", "report"]),
    ("completion", ["completion", "bash"]),
    ("mcap", ["--target", "127.0.0.1:9", "records", "--mcap", "{tmp}/x.mcap"]),
])
def test_a_command_that_needs_a_missing_extra_names_it_before_connecting(fresh, tmp_path, extra, argv):
    argv = [part.format(tmp=tmp_path) for part in argv]
    proc = fresh(MISSING_EXTRA % (argv,), check=False)
    text = extras.ERR_MISSING_EXTRA % (extras.EXTRAS[extra].purpose, extra, extras.EXTRAS[extra].modules[0], extra)
    assert (proc.returncode, proc.stdout, proc.stderr) == (2, "", "ostrel: error: %s\n" % text)
    assert list(tmp_path.iterdir()) == []


LOADED_BY = """
import json, sys
before, finders = set(sys.modules), list(sys.meta_path)
import %s
print(json.dumps([sorted(set(sys.modules) - before), len(sys.meta_path) - len(finders)]))
"""


@pytest.mark.parametrize("statement, loaded", [
    # Not typing, not a finder of its own: only the package.
    ("ostrel", ["ostrel"]),
])
def test_importing_the_package_loads_only_what_it_needs(fresh, statement, loaded):
    proc = fresh(LOADED_BY % statement)
    assert json.loads(proc.stdout) == [loaded, 0]


def test_connect_stays_the_function_once_the_connection_package_is_loaded(fresh):
    fresh("import ostrel.connection.sources, ostrel, inspect\n"
          "assert inspect.isfunction(ostrel.connect), ostrel.connect\n"
          "assert inspect.isfunction(ostrel.connect), ostrel.connect\n")


def test_connect_takes_the_settings_of_the_table_as_keywords():
    """Each overload of connect, and the function itself, takes the table's
    settings after the target, and only the channel's own keywords beside;
    the checker takes just the table's."""
    from ostrel.connection import channel, settings

    wanted = [s.name for s in settings.SETTINGS if s.name != "target"] + ["aio", "options"]
    tree = ast.parse(inspect.getsource(channel))
    overloads = [node for node in tree.body if isinstance(node, ast.FunctionDef) and node.name == "connect"]
    assert len(overloads) == 3
    for node in overloads:
        assert [a.arg for a in node.args.args] == ["target"]
        assert sorted(a.arg for a in node.args.kwonlyargs) == sorted(wanted)
    checked = inspect.signature(settings.check).parameters.values()
    assert sorted(p.name for p in checked if p.kind is p.KEYWORD_ONLY) == sorted(wanted[:-2])


# Facts that one module states and the others import: (name, the module).
STATED_ONCE = [
    ("DEFAULT_MAX_MESSAGE_SIZE", "ostrel.server.limits"),
    ("RECORDS_FIELD", "ostrel.protocol.fields"),
    ("DEFAULT_PORT", "ostrel.protocol.addresses"),
    ("DEFAULT_HOST", "ostrel.protocol.addresses"),
    ("DEFAULT_TARGET", "ostrel.protocol.addresses"),
    ("EXIT_ERROR", "ostrel.programs"),
    ("ERR_TIME_SCALE", "ostrel.server"),
    ("TOKEN_HEADER", "ostrel.protocol.metadata"),
    ("BEARER", "ostrel.protocol.metadata"),
    ("ALLOW_EMPTY_METADATA", "ostrel.protocol.metadata"),
    ("TERMINAL_CONTROL", "ostrel.terminal"),
    ("_CONTROL", None),
    ("lazy_attributes", "ostrel"),
    ("status_name", "ostrel.protocol.statuses"),
    ("one_line", "ostrel.terminal"),
    ("error", "ostrel.programs"),
]


def statements():
    """Module name -> the names its own statements bind (assignments,
    functions, classes, at any depth)."""
    found = {}
    for name, path in module_names().items():
        bound = set()
        for node in ast.walk(ast.parse(path.read_text(encoding="utf-8"))):
            if isinstance(node, (ast.FunctionDef, ast.AsyncFunctionDef, ast.ClassDef)):
                bound.add(node.name)
            elif isinstance(node, (ast.Assign, ast.AnnAssign)):
                for target in node.targets if isinstance(node, ast.Assign) else [node.target]:
                    bound.update(t.id for t in ast.walk(target) if isinstance(t, ast.Name))
        found[name] = bound
    return found


@pytest.mark.parametrize("fact, module", STATED_ONCE, ids=[row[0] for row in STATED_ONCE])
def test_each_fact_is_stated_in_one_module(fact, module):
    stating = sorted(name for name, bound in statements().items() if fact in bound)
    assert stating == ([module] if module else [])
