"""The schema compiler refuses what a module table cannot represent, with a
clear error, and writes nothing for it; for what it accepts it writes the
module table and the typing stub."""

import ast
import glob
import os
import shutil
import subprocess

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def find_plugin():
    """$OSTREL_PLUGIN, else the newest plugin built in this checkout (an
    older build directory may hold a plugin from before a change)."""
    given = os.environ.get("OSTREL_PLUGIN", "")
    if given:
        return given if os.access(given, os.X_OK) else None
    built = [p for p in glob.glob(os.path.join(ROOT, "build", "*", "protoc-gen-ostrel")) if os.access(p, os.X_OK)]
    return max(built, key=os.path.getmtime, default=None)


PLUGIN = find_plugin()
MISSING = ("schema compiler not built in this checkout (bash tools/regenerate.sh builds it; "
           "needs protoc and libprotoc)")
if os.environ.get("OSTREL_REQUIRE_COMPILER") == "1" and not (PLUGIN and shutil.which("protoc")):
    raise RuntimeError(MISSING)  # CI has libprotoc: these tests must run there
pytestmark = pytest.mark.skipif(not (PLUGIN and shutil.which("protoc")), reason=MISSING)

HEADER = 'syntax = "proto3";\npackage t;\n'


def compile_schema(tmp_path, path, text, imported=None):
    """Compiles `path` holding `text`, beside the files of `imported` (path:
    text), which it may import."""
    src, out = tmp_path / "src", tmp_path / "out"
    for rel, body in {**(imported or {}), path: text}.items():
        (src / rel).parent.mkdir(parents=True, exist_ok=True)
        (src / rel).write_text(body)
    out.mkdir()
    proc = subprocess.run(
        ["protoc", f"--plugin=protoc-gen-ostrel={PLUGIN}", f"--ostrel_out={out}",
         f"-I{src}", str(src / path)], capture_output=True, text=True)
    written = sorted(str(p.relative_to(out)) for p in out.rglob("*") if p.is_file())
    return proc, written


@pytest.mark.parametrize("path,body,complaint", [
    ("pkg/nested.proto", "message A { enum E { X = 0; } E e = 1; }", "nested enum E"),
    ("pkg/deep.proto", "message A { message B { message C {} } }", "one level deep"),
    ("pkg/svc.proto", "message A {}\nservice S { rpc f(A) returns (A); }",
     "service S has no service module; the only service with one is ostrel.api.service.Ostrel"),
    ("pkg/opt.proto", "message A { optional int32 x = 1; }", "'optional'"),
    ("pkg/res.proto", "message A { reserved 2; }", "reserved fields"),
    ("pkg/fopt.proto", 'option java_package = "x";\nmessage A {}', "file options"),
    ("class/kw.proto", "message A {}", "'class' is not a safe Python module name"),
    ("pkg/2d.proto", "message A {}", "'2d_pb2' is not a safe Python module name"),
    ("a.b/dots.proto", "message A {}", "'a.b' is not a safe Python module name"),
    ("top.proto", "message A {}", "must lie in a package directory"),
])
def test_refuses_and_writes_nothing(tmp_path, path, body, complaint):
    proc, written = compile_schema(tmp_path, path, HEADER + body)
    assert proc.returncode != 0 and complaint in proc.stderr
    assert written == []


# The service file and the file of its messages, as the schema lays them out.
SERVICE_HEADER = 'syntax = "proto3";\npackage ostrel.api.service;\nimport "ostrel/api/m.proto";\n'
MESSAGES = {"ostrel/api/m.proto": 'syntax = "proto3";\npackage ostrel.api.m;\n'
                                  'message Req {}\nmessage Res { message In {} }\n'}


@pytest.mark.parametrize("body,complaint", [
    ("service Other { rpc f(ostrel.api.m.Req) returns (ostrel.api.m.Res); }",
     "service Other has no service module"),
    ("service Ostrel { rpc f(ostrel.api.m.Req) returns (ostrel.api.m.Res); }\n"
     "service Second { rpc g(ostrel.api.m.Req) returns (ostrel.api.m.Res); }",
     "service Second has no service module"),
    ("service Ostrel { rpc f(stream ostrel.api.m.Req) returns (ostrel.api.m.Res); }",
     "method Ostrel.f streams; only unary methods are supported"),
    ("service Ostrel { rpc f(ostrel.api.m.Req) returns (stream ostrel.api.m.Res); }",
     "method Ostrel.f streams"),
    ("service Ostrel { option deprecated = true; rpc f(ostrel.api.m.Req) returns (ostrel.api.m.Res); }",
     "service options are not supported"),
    ("service Ostrel { rpc f(ostrel.api.m.Req) returns (ostrel.api.m.Res.In); }",
     "method f uses ostrel.api.m.Res.In; the service module reaches only top-level messages"),
    ("message Own {}\nservice Ostrel { rpc f(Own) returns (ostrel.api.m.Res); }",
     "method f uses ostrel.api.service.Own; the service module reaches only top-level messages of imported files"),
])
def test_refuses_services_it_has_no_module_for(tmp_path, body, complaint):
    proc, written = compile_schema(tmp_path, "ostrel/api/svc.proto", SERVICE_HEADER + body, MESSAGES)
    assert proc.returncode != 0 and complaint in proc.stderr, proc.stderr
    assert written == []


def test_service_gives_its_method_table_and_stubs(tmp_path):
    body = ("service Ostrel {\n  // Sends one.\n  rpc send(ostrel.api.m.Req) returns (ostrel.api.m.Res);\n"
            "  rpc back(ostrel.api.m.Res) returns (ostrel.api.m.Req);\n}\n")
    proc, written = compile_schema(tmp_path, "ostrel/api/svc.proto", SERVICE_HEADER + body, MESSAGES)
    assert proc.returncode == 0, proc.stderr
    assert written == ["ostrel/api/service_pb2_grpc.pyi", "ostrel/api/service_pb2_grpc_table.h",
                       "ostrel/api/svc_pb2.cc", "ostrel/api/svc_pb2.pyi"]
    out = tmp_path / "out" / "ostrel" / "api"
    table = (out / "service_pb2_grpc_table.h").read_text()
    rows = [line.strip().rstrip("\\").strip() for line in table.splitlines()
            if line.strip().startswith(("X(kMethod", "X(kModule")) and '"' not in line]
    assert rows == [
        "X(kModule_m, kAlias_m)  /* ostrel/api/m.proto */",
        "X(kMethod_send, kAlias_m, kClass_Req, kAlias_m, kClass_Res)",
        "X(kMethod_back, kAlias_m, kClass_Res, kAlias_m, kClass_Req)"]
    assert 'X(kAlias_m, "ostrel_dot_api_dot_m__pb2")' in table
    assert 'X(kServiceName, "ostrel.api.service.Ostrel")' in table
    assert "/* send: ostrel.api.m.Req -> ostrel.api.m.Res */" in table
    # The file's own module carries the service in its descriptor.
    assert '"_OSTREL"' in (out / "svc_pb2.cc").read_text()
    stub = ast.parse((out / "service_pb2_grpc.pyi").read_text())
    servicer = next(n for n in stub.body if isinstance(n, ast.ClassDef) and n.name == "OstrelServicer")
    assert [(f.name, ast.get_docstring(f)) for f in servicer.body] == [("send", "Sends one."), ("back", None)]


def test_proto2_is_refused(tmp_path):
    proc, written = compile_schema(tmp_path, "pkg/old.proto",
                                   'syntax = "proto2";\nmessage A { optional int32 x = 1; }')
    assert "only proto3" in proc.stderr and written == []


def test_writes_one_table_named_after_the_module(tmp_path):
    proc, written = compile_schema(tmp_path, "pkg/my-cell.proto",
                                   HEADER + "message A { map<string, A> m = 1; }\nenum E { Z = 0; }")
    assert proc.returncode == 0, proc.stderr
    assert written == ["pkg/my_cell_pb2.cc", "pkg/my_cell_pb2.pyi"]
    table = (tmp_path / "out" / written[0]).read_text()
    for text in ('"pkg.my_cell_pb2"', '"my_cell_pb2"', '"_A_MENTRY"', "OSTREL_MESSAGE_MODULE(my_cell_pb2"):
        assert text in table


# Shapes the API's own schema files lack, each with lines its stub must hold.
STUB_CASES = [
    ("two oneofs",
     "message A { oneof x { int32 a = 1; } oneof y { string b = 2; A c = 3; } }",
     ['    @typing.overload\n    def WhichOneof(self, oneof_group: typing.Literal["x"]) -> typing.Literal["a"] | None: ...',
      '    @typing.overload\n    def WhichOneof(self, oneof_group: typing.Literal["y"]) -> typing.Literal["b", "c"] | None: ...',
      'def HasField(self, field_name: typing.Literal["a", "b", "c", "x", "y"]) -> builtins.bool: ...']),
    ("keyword field names",
     "message A { int32 from = 1; string name = 2; }",
     ["    FROM_FIELD_NUMBER: builtins.int\n", '        name: builtins.str = ...,\n    ) -> None: ...',
      'def ClearField(self, field_name: typing.Literal["from", "name"]) -> None: ...']),
    ("enum containers and bytes",
     "enum E { Z = 0; }\nmessage A { map<string, E> m = 1; bytes data = 2; repeated E es = 3; map<int64, A> n = 4; }",
     ["def m(self) -> google.protobuf.internal.containers.ScalarMap[builtins.str, _E.ValueType]: ...",
      "    data: builtins.bytes\n",
      "def es(self) -> google.protobuf.internal.containers.RepeatedScalarFieldContainer[_E.ValueType]: ...",
      "def n(self) -> google.protobuf.internal.containers.MessageMap[builtins.int, _A]: ...",
      "        es: collections.abc.Iterable[_E.ValueType] | None = ...,",
      "Z: E.ValueType  # 0\n"]),
    ("empty message",
     "message A {}",
     ["    def __init__(self) -> None: ...\n",
      "def HasField(self, field_name: typing.NoReturn) -> builtins.bool: ...",
      "def ClearField(self, field_name: typing.NoReturn) -> None: ...",
      "def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ..."]),
]


@pytest.mark.parametrize("body,lines", [c[1:] for c in STUB_CASES], ids=[c[0] for c in STUB_CASES])
def test_stub_of_each_shape(tmp_path, body, lines):
    proc, written = compile_schema(tmp_path, "pkg/shape.proto", HEADER + body)
    assert proc.returncode == 0, proc.stderr
    stub = (tmp_path / "out" / "pkg" / "shape_pb2.pyi").read_text()
    ast.parse(stub)
    assert [line for line in lines if line not in stub] == []


def test_stub_carries_schema_comments_as_docstrings_that_stay_strings(tmp_path):
    comment = 'Ends in quotes: """x""" and a backslash \\ then "'
    proc, _ = compile_schema(tmp_path, "pkg/doc.proto", HEADER + "// %s\nmessage A {\n  // Field.\n  int32 f = 1;\n}" % comment)
    assert proc.returncode == 0, proc.stderr
    tree = ast.parse((tmp_path / "out" / "pkg" / "doc_pb2.pyi").read_text())
    message = next(node for node in tree.body if isinstance(node, ast.ClassDef) and node.name == "A")
    assert ast.get_docstring(message).rstrip() == comment
    assert any(isinstance(n, ast.Expr) and n.value.value == "Field." for n in message.body)


# Two schema files for the reference: b.proto imports a.proto.
REFERENCE_SCHEMA = {
    "pkg/a.proto": 'syntax = "proto3";\npackage t.a;\n'
                   "// The first paragraph.\n//\n// A second one, with a | bar, *stars* and <angles>.\n"
                   "message Leaf {\n  // Count of `x`.\n  uint32 count = 1;\n}\n"
                   "// Kinds.\nenum Kind {\n  // Zero.\n  NONE = 0;\n  ONE = 1;  // Trailing.\n}\n",
    "pkg/b.proto": 'syntax = "proto3";\npackage t.b;\nimport "pkg/a.proto";\n'
                   "// Holds leaves.\nmessage Tree {\n  // Outer.\n  message Inner {\n    // Here.\n    t.a.Leaf leaf = 1;\n  }\n"
                   "  // By name.\n  map<string, t.a.Leaf> leaves = 1;\n  // Which one.\n"
                   "  oneof pick {\n    // Nested.\n    Inner inner = 2;\n    // An enum.\n    t.a.Kind kind = 3;\n  }\n"
                   "  repeated Inner inners = 4;\n}\n",
}
# (page, text the page must hold)
REFERENCE_LINES = [
    ("a.md", "The first paragraph.\n\nA second one, with a \\| bar, \\*stars\\* and &lt;angles>.\n\n"),
    ("a.md", "| 1 | `count` | uint32 | singular | Count of `x`. |"),
    ("a.md", "| 0 | `NONE` | Zero. |\n| 1 | `ONE` | Trailing. |"),
    ("a.md", "Used by [t.b.Tree.leaves](b.md#tree), [t.b.Tree.Inner.leaf](b.md#treeinner)."),
    ("a.md", "Imported by [pkg/b.proto](b.md)."),
    ("b.md", "| 1 | `leaves` | map&lt;string, [t.a.Leaf](a.md#leaf)&gt; | map | By name. |"),
    ("b.md", "| 2 | `inner` | [Tree.Inner](#treeinner) | oneof `pick` | Nested. |"),
    ("b.md", "| 3 | `kind` | [t.a.Kind](a.md#kind) | oneof `pick` | An enum. |"),
    ("b.md", "| 4 | `inners` | [Tree.Inner](#treeinner) | repeated |  |"),
    ("b.md", "oneof `pick`: Which one."),
    ("b.md", "### Tree.Inner\n\nOuter.\n"),
    ("README.md", "| [pkg/a.proto](a.md) | `t.a` |  |\n| [pkg/b.proto](b.md) | `t.b` |  |"),
    ("README.md", "| [Kind](a.md#kind) | enum | `t.a` | Kinds. |\n| [Leaf](a.md#leaf) | message | `t.a` | The first paragraph. |\n"
                  "| [Tree](b.md#tree) | message | `t.b` | Holds leaves. |\n| [Tree.Inner](b.md#treeinner) | message | `t.b` | Outer. |"),
]


@pytest.fixture(scope="module")
def reference(tmp_path_factory):
    src, out = tmp_path_factory.mktemp("src"), tmp_path_factory.mktemp("out")
    for path, text in REFERENCE_SCHEMA.items():
        (src / path).parent.mkdir(parents=True, exist_ok=True)
        (src / path).write_text(text)
    proc = subprocess.run(["protoc", f"--plugin=protoc-gen-ostrel={PLUGIN}", f"--ostrel_out={out}",
                           "--ostrel_opt=reference", f"-I{src}", *REFERENCE_SCHEMA],
                          capture_output=True, text=True, cwd=src)
    assert proc.returncode == 0, proc.stderr
    return {p.name: p.read_text() for p in (out / "docs" / "api").iterdir()}


def test_reference_writes_a_page_per_file_and_an_index(reference):
    assert sorted(reference) == ["README.md", "a.md", "b.md"]


@pytest.mark.parametrize("page,text", REFERENCE_LINES)
def test_reference_page_holds(reference, page, text):
    assert text in reference[page]
