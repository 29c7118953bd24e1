"""The import graph of the package: no circle, three floors (shared modules
at the bottom; the record readers and the server on them, neither importing
the other; the command line on top)."""

import ast
import json
import pathlib

import pytest

import ostrel

ROOT = pathlib.Path(ostrel.__file__).parent
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


def test_the_package_has_no_import_circle_and_three_floors():
    edges = graph()
    dependency_order(edges)
    for name, targets in edges.items():
        for target in targets:
            here, there = package_of(name), package_of(target)
            assert here == there or FLOORS[there] < FLOORS[here] or (name, target) in UPWARD, "%s imports %s, a floor up or beside it" % (
                name, target)


def test_the_circle_finder_finds_a_circle():
    with pytest.raises(AssertionError, match="a -> b -> a"):
        dependency_order({"a": {"b"}, "b": {"a"}})


LOAD_IN_ORDER = """
import importlib, json, sys
order, edges = json.loads(%r), json.loads(%r)
surprises = []
for name in order:
    before = set(sys.modules)
    importlib.import_module(name)
    loaded = {m for m in set(sys.modules) - before if m in edges and m != name}
    parents = {".".join(m.split(".")[:i]) for m in [name, *edges[name]] for i in range(1, m.count(".") + 1)}
    unexpected = loaded - set(edges[name]) - parents
    if unexpected:
        surprises.append([name, sorted(unexpected)])
print(json.dumps(surprises))
"""


def test_every_module_imports_in_a_fresh_interpreter_in_dependency_order(fresh):
    """Each module, imported once what it imports is loaded, loads nothing
    of the package beyond its own imports and its parent packages: the graph
    read from the text is the one the interpreter follows."""
    edges = graph()
    order = [n for n in dependency_order(edges) if n in edges and not n.endswith("__main__")]
    direct = {name: sorted(edges.get(name, ())) for name in order}
    proc = fresh(LOAD_IN_ORDER % (json.dumps(order), json.dumps(direct)))
    assert json.loads(proc.stdout) == []
