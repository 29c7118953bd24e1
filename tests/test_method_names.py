"""The service's methods are written down once, in its schema file: the
server, the command line, the benchmarks and the tools read the names, paths
and types from the service descriptor. This test fails when a hand-kept copy
comes back anywhere outside the schema, the generated files and the tests
(whose expectations must not be derived from what they check).

A copy is the service's full name in a string (a method path or the name
the handlers are registered under), an rpc declaration in a string, or a
literal list, tuple, set or dict holding two or more method names (a method
table). Calling a method by its name (`stub.pullSystemState(...)`,
`getattr(stub, "connect")`) and docstrings and comments that mention one are
uses, not copies."""

import ast
import os
import re

import pytest

from ostrel.api import ostrel_service_pb2

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SERVICE = ostrel_service_pb2.DESCRIPTOR.services_by_name["Ostrel"]
NAMES = frozenset(m.name for m in SERVICE.methods)
GENERATED_MARK = "Generated from the schema files by tools/regenerate.sh"
# Folders that hold the schema, the tests, builds, environments and history.
SKIPPED_DIRS = {"schema", "tests", "build", "dist", "wheelhouse", "_skbuild", "__pycache__", ".git"}
SOURCE_SUFFIXES = (".py", ".pyi", ".cc", ".h", ".cpp", ".sh", ".cmake", ".toml")
SOURCE_NAMES = ("CMakeLists.txt", "run")
# Texts that name the service by choice rather than copy it: (file, text).
ALLOWED = {
    # which service of the schema the compiler binds to the service module
    ("compiler/protoc_gen_ostrel.cc", SERVICE.full_name),
}
RPC = re.compile(r"\brpc\s+(%s)\s*\(" % "|".join(sorted(NAMES)))
QUOTED_NAME = re.compile(r"""["'](%s)["']""" % "|".join(sorted(NAMES)))
SERVICE_NAME = re.compile(re.escape(SERVICE.full_name) + r"\b")


def docstrings(tree):
    found = set()
    for node in ast.walk(tree):
        if isinstance(node, (ast.Module, ast.ClassDef, ast.FunctionDef, ast.AsyncFunctionDef)):
            first = node.body[0] if node.body else None
            if isinstance(first, ast.Expr) and isinstance(first.value, ast.Constant):
                found.add(id(first.value))
    return found


def copies_in_python(text):
    """(line, what) of every copy in a Python source."""
    tree = ast.parse(text)
    skipped = docstrings(tree)
    found = []
    for node in ast.walk(tree):
        if isinstance(node, ast.Constant) and isinstance(node.value, str) and id(node) not in skipped:
            if SERVICE.full_name in node.value or RPC.search(node.value):
                found.append((node.lineno, node.value))
        elements = node.keys if isinstance(node, ast.Dict) else getattr(node, "elts", None)
        if isinstance(node, (ast.Dict, ast.Tuple, ast.List, ast.Set)) and elements:
            named = [e.value for e in elements if isinstance(e, ast.Constant) and e.value in NAMES]
            if len(named) >= 2:
                found.append((node.lineno, "table of %s" % ", ".join(named)))
    return found


# String literals and comments of C++ and of shell-like sources; comments
# are blanked (keeping their line breaks), literals kept.
COMMENTS = {
    "c++": re.compile(r'("(?:\\.|[^"\\\n])*")|//[^\n]*|/\*.*?\*/', re.S),
    "shell": re.compile(r'("(?:\\.|[^"\\\n])*"|\'[^\'\n]*\')|#[^\n]*'),
}
CPP_SUFFIXES = (".cc", ".h", ".cpp")


def without_comments(text, language):
    return COMMENTS[language].sub(lambda m: m.group(1) or "\n" * m.group(0).count("\n"), text)


def copies_in_text(text, language="c++"):
    """(line, what) of every copy in a C++, shell or CMake source, comments aside."""
    found = []
    for number, line in enumerate(without_comments(text, language).splitlines(), 1):
        for pattern in (RPC, QUOTED_NAME, SERVICE_NAME):
            found += [(number, match.group(0)) for match in pattern.finditer(line)]
    return found


def sources():
    for folder, dirs, files in os.walk(ROOT):
        dirs[:] = [d for d in dirs if d not in SKIPPED_DIRS and not d.startswith((".venv", "venv"))
                   and (not d.startswith(".") or d == ".ci")]
        for name in files:
            if name.endswith(SOURCE_SUFFIXES) or name in SOURCE_NAMES:
                yield os.path.join(folder, name)


def copies(path):
    with open(path, encoding="utf-8", errors="replace") as handle:
        text = handle.read()
    if GENERATED_MARK in text.partition("\n")[0]:
        return []
    if path.endswith((".py", ".pyi")):
        return copies_in_python(text)
    return copies_in_text(text, "c++" if path.endswith(CPP_SUFFIXES) else "shell")


def test_no_hand_kept_copy_of_the_methods_outside_the_schema_and_generated_files():
    found = {}
    for path in sources():
        name = os.path.relpath(path, ROOT).replace(os.sep, "/")
        hits = [(line, text) for line, text in copies(path) if (name, text) not in ALLOWED]
        if hits:
            found[name] = hits
    assert found == {}


@pytest.mark.parametrize("source,copy", [
    ('METHOD_PATH = "/ostrel.api.service.Ostrel/%s"', True),
    ('SERVICE_NAME = "ostrel.api.service.Ostrel"', True),
    ('METHODS = ("connect", "pushProjectSnapshot")', True),
    ('table = {"pullSystemState": 1, "runProgram": 2}', True),
    ('BLOCK = """\nservice Ostrel {\n  rpc pullDataRecords(RecordsRequest) returns (DataRecords);\n}"""', True),
    ('stub.pullSystemState(request)\nclient.call("connect", request)', False),
    ('def f():\n    """pullDataRecords answers one DataRecords (/ostrel.api.service.Ostrel)."""', False),
    ('service = descriptor.services_by_name["Ostrel"]\nnames = ("connect", "ping")', False),
])
def test_what_counts_as_a_copy_in_python(source, copy):
    assert bool(copies_in_python(source)) == copy


@pytest.mark.parametrize("source,language,copy", [
    ('{"connect", kConnect},', "c++", True),
    ('static const char kPath[] = "/ostrel.api.service.Ostrel/runProgram";', "c++", True),
    ('X(kServiceName, "ostrel.api.service.Ostrel")', "c++", True),
    ('// pushProjectSnapshot takes the largest message', "c++", False),
    ('PyObject* paths[6];  // "/ostrel.api.service.Ostrel/<method>"', "c++", False),
    ('/* the paths, "/ostrel.api.service.Ostrel/<method>",\n   made once */', "c++", False),
    ('const char* kUrl = "http://example.org"; int x;  // "runProgram"', "c++", False),
    ('grpcurl -plaintext localhost:50051 ostrel.api.service.Ostrel/connect', "shell", True),
    ('ostrel push project.json   # calls "pushProjectSnapshot"', "shell", False),
])
def test_what_counts_as_a_copy_in_other_sources(source, language, copy):
    assert bool(copies_in_text(source, language)) == copy
