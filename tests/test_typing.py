"""Typing stubs of the API: each stub against its module (names, fields,
signatures), and the type checkers against deliberate mistakes, a correct
client, and the package's own code."""

import ast
import functools
import importlib
import importlib.metadata
import inspect
import json
import os
import re
import subprocess
import sys
import types

import pytest
from google.protobuf.descriptor import FieldDescriptor

import ostrel
import ostrel.api

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
CASES = os.path.join(HERE, "typecheck")
SCHEMA = os.path.join(ROOT, "schema", "ostrel", "api")
API_DIR = os.path.dirname(os.path.abspath(ostrel.api.__file__))

MESSAGE_MODULES = sorted(name[:-6] + "_pb2" for name in os.listdir(SCHEMA) if name.endswith(".proto"))
SERVICE = "service_pb2_grpc"
# Names that exist for annotations only (the stub says so); never at run time.
TYPE_ONLY = {SERVICE: {"OstrelAsyncStub"}}

SCALARS = {FieldDescriptor.CPPTYPE_BOOL: "builtins.bool", FieldDescriptor.CPPTYPE_FLOAT: "builtins.float",
           FieldDescriptor.CPPTYPE_DOUBLE: "builtins.float", FieldDescriptor.CPPTYPE_STRING: "builtins.str"}
CONTAINERS = "google.protobuf.internal.containers."

# What the checkers look at: the deliberate mistakes, the correct client, the
# package's own code and the example client.
MISTAKES = os.path.join(CASES, "mistakes.py")
CLEAN = [os.path.join(CASES, "clean_client.py"), os.path.join(ROOT, "src", "ostrel"),
         os.path.join(ROOT, "examples", "client.py")]
# Modules that are being rewritten with full annotations (none at present);
# every other file must check clean.
NOT_YET_ANNOTATED = {os.path.realpath(os.path.join(ROOT, "src", "ostrel", *p.split("/"))) for p in (
    )}
ERROR_MARK = re.compile(r"#\s*E\s*$")
CHECKER_TIMEOUT_S = 300


def stub_tree(module):
    with open(os.path.join(API_DIR, module + ".pyi"), encoding="utf-8") as handle:
        text = handle.read()
    return ast.parse(text), text


def public(name):
    return not name.startswith("_")


def defined_names(body):
    """Names a class or module body defines, by kind."""
    found = {"class": {}, "var": {}, "property": {}, "def": {}}
    for node in body:
        if isinstance(node, ast.ClassDef):
            found["class"][node.name] = node
        elif isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name):
            found["var"][node.target.id] = node
        elif isinstance(node, ast.FunctionDef):
            decorators = {ast.unparse(d) for d in node.decorator_list}
            kind = "property" if "property" in decorators else "def"
            found[kind].setdefault(node.name, []).append(node)
    return found


def literal_names(annotation):
    """The strings of a typing.Literal[...] annotation; none for NoReturn."""
    text = ast.unparse(annotation)
    if text == "typing.NoReturn":
        return set()
    assert text.startswith("typing.Literal["), text
    node = annotation.slice
    elements = node.elts if isinstance(node, ast.Tuple) else [node]
    return {e.value for e in elements}


def module_name_of(file_descriptor):
    return file_descriptor.name[: -len(".proto")].replace("-", "_").replace("/", ".") + "_pb2"


def relative_name(descriptor):
    package = descriptor.file.package
    return descriptor.full_name[len(package) + 1:] if package else descriptor.full_name


def is_repeated(field):
    flag = getattr(field, "is_repeated", None)  # protobuf 6; 5.x has only the label
    return flag if flag is not None else field.label == FieldDescriptor.LABEL_REPEATED


def expected_element(field, home):
    """The annotation a stub must give one element of `field`."""
    if field.message_type is not None:
        target = field.message_type
        if target.file.name == home:
            top = relative_name(target).split(".")
            return ".".join(["_" + top[0]] + top[1:])
        return module_name_of(target.file) + "." + relative_name(target)
    if field.enum_type is not None:
        target = field.enum_type
        if target.file.name == home:
            return "_" + target.name + ".ValueType"
        return module_name_of(target.file) + "." + relative_name(target) + ".ValueType"
    if field.type == field.TYPE_BYTES:
        return "builtins.bytes"
    return SCALARS.get(field.cpp_type, "builtins.int")


def expected_field(field, home):
    """(annotation of the attribute, read-only, annotation of the __init__ parameter)."""
    if field.message_type is not None and field.message_type.GetOptions().map_entry:
        key, value = field.message_type.fields_by_name["key"], field.message_type.fields_by_name["value"]
        kv = expected_element(key, home) + ", " + expected_element(value, home)
        kind = "MessageMap" if value.message_type is not None else "ScalarMap"
        return CONTAINERS + kind + "[" + kv + "]", True, "collections.abc.Mapping[" + kv + "] | None"
    element = expected_element(field, home)
    if is_repeated(field):
        kind = "RepeatedCompositeFieldContainer" if field.message_type else "RepeatedScalarFieldContainer"
        return CONTAINERS + kind + "[" + element + "]", True, "collections.abc.Iterable[" + element + "] | None"
    if field.message_type is not None:
        return element, True, element + " | None"
    return element, False, element


def message_problems(stub_class, runtime_class, home):
    """Every difference between a message's stub class and its descriptor."""
    problems = []
    descriptor = runtime_class.DESCRIPTOR
    names = defined_names(stub_class.body)
    fields = descriptor.fields_by_name
    oneofs = {o.name: {f.name for f in o.fields} for o in descriptor.oneofs}

    def differ(what, stub, runtime):
        if stub != runtime:
            problems.append("%s.%s: stub %r, runtime %r" % (descriptor.full_name, what, stub, runtime))

    numbers = {n for n in names["var"] if n.endswith("_FIELD_NUMBER")}
    differ("field numbers", numbers, {f.upper() + "_FIELD_NUMBER" for f in fields})
    for name in numbers & {f.upper() + "_FIELD_NUMBER" for f in fields}:
        differ(name, getattr(runtime_class, name), fields[name[: -len("_FIELD_NUMBER")].lower()].number)
    differ("nested types", set(names["class"]), {n.name for n in descriptor.nested_types})
    attributes = {n: ast.unparse(v.annotation) for n, v in names["var"].items()
                  if n != "DESCRIPTOR" and n not in numbers}
    properties = {n: ast.unparse(v[0].returns) for n, v in names["property"].items()}
    differ("fields", set(attributes) | set(properties), set(fields))

    init = names["def"]["__init__"][0].args
    params = {a.arg: ast.unparse(a.annotation) for a in init.kwonlyargs}
    differ("__init__ positional parameters", [a.arg for a in init.args], ["self"])
    for name, field in fields.items():
        annotation, read_only, parameter = expected_field(field, home)
        differ(name, (properties if read_only else attributes).get(name), annotation)
        differ(name + " in __init__", params.get(name), parameter)

    presence = {f.name for f in descriptor.fields
                if (f.message_type and not is_repeated(f)) or f.containing_oneof}
    differ("HasField names", literal_names(names["def"]["HasField"][0].args.args[1].annotation),
           presence | set(oneofs))
    differ("ClearField names", literal_names(names["def"]["ClearField"][0].args.args[1].annotation),
           set(fields) | set(oneofs))
    which = {}
    for overload in names["def"]["WhichOneof"]:
        group = literal_names(overload.args.args[1].annotation)
        returns = overload.returns
        members = literal_names(returns.left) if isinstance(returns, ast.BinOp) else set()
        which.update({g: members for g in group})
    differ("WhichOneof", which, oneofs)

    for name, nested in names["class"].items():
        problems += message_problems(nested, getattr(runtime_class, name), home)
    return problems


def enum_problems(module, tree, text):
    """Each enum's values in its wrapper class and as module constants, with
    their numbers, against the runtime wrapper."""
    problems = []
    classes = defined_names(tree.body)["class"]
    for name, enum in module.DESCRIPTOR.enum_types_by_name.items():
        values = {v.name: v.number for v in enum.values}
        wrapper = defined_names(classes["_" + name + "EnumTypeWrapper"].body)["var"]
        if set(wrapper) - {"DESCRIPTOR"} != set(values):
            problems.append("%s wrapper names %s" % (name, sorted(wrapper)))
        stub_values = dict(re.findall(r"^(\w+): %s\.ValueType  # (\d+)$" % name, text, re.M))
        if {k: int(v) for k, v in stub_values.items()} != values:
            problems.append("%s constants %s, runtime %s" % (name, stub_values, values))
        if {v: getattr(module, v) for v in values} != values:
            problems.append("%s module constants differ from the descriptor" % name)
    return problems


@pytest.mark.parametrize("name", MESSAGE_MODULES + [SERVICE])
def test_stub_and_module_have_the_same_public_names(name):
    module = importlib.import_module("ostrel.api." + name)
    tree, _ = stub_tree(name)
    found = defined_names(tree.body)
    stub_names = {n for kind in found.values() for n in kind if public(n)}
    runtime = {n for n, v in vars(module).items() if public(n) and not isinstance(v, types.ModuleType)}
    type_only = TYPE_ONLY.get(name, set())
    assert stub_names - type_only == runtime
    assert type_only <= stub_names and not type_only & set(dir(module))


@pytest.mark.parametrize("name", MESSAGE_MODULES)
def test_message_stub_follows_the_schema(name):
    module = importlib.import_module("ostrel.api." + name)
    tree, text = stub_tree(name)
    assert "\n# Typing stub of ostrel.api.%s, written by protoc-gen-ostrel" % name in "\n" + text[:400]
    classes = defined_names(tree.body)["class"]
    problems = enum_problems(module, tree, text)
    for message in module.DESCRIPTOR.message_types_by_name:
        problems += message_problems(classes[message], getattr(module, message), module.DESCRIPTOR.name)
    assert problems == []


def signature_of(node):
    """Parameter names and literal defaults of a stub function."""
    args = node.args
    names = [a.arg for a in args.posonlyargs + args.args + args.kwonlyargs]
    defaults = [ast.literal_eval(d) for d in args.defaults]
    return names, defaults


def runtime_signature(function):
    parameters = inspect.signature(function).parameters.values()
    return ([p.name for p in parameters],
            [p.default for p in parameters if p.default is not inspect.Parameter.empty])


class RecordingChannel:
    def unary_unary(self, path, request_serializer, response_deserializer):
        return path


def test_service_stub_signatures_match_the_module():
    service = importlib.import_module("ostrel.api." + SERVICE)
    tree, _ = stub_tree(SERVICE)
    classes = defined_names(tree.body)["class"]
    functions = defined_names(tree.body)["def"]
    methods = [n for n in vars(service.OstrelServicer) if public(n)]
    checked = [(functions["add_OstrelServicer_to_server"][0], service.add_OstrelServicer_to_server)]
    for class_name in ("OstrelServicer", "Ostrel"):
        stub_methods = defined_names(classes[class_name].body)["def"]
        assert list(stub_methods) == methods
        checked += [(stub_methods[m][0], getattr(getattr(service, class_name), m)) for m in methods]
    stub = defined_names(classes["OstrelStub"].body)
    checked += [(overload, service.OstrelStub.__init__) for overload in stub["def"]["__init__"]]
    assert len(stub["def"]["__init__"]) == 2
    assert list(stub["var"]) == list(vars(service.OstrelStub(RecordingChannel()))) == methods
    for node, function in checked:
        assert signature_of(node) == runtime_signature(function), node.name


def test_stubs_and_marker_are_installed_with_the_modules():
    package = os.path.dirname(os.path.abspath(ostrel.__file__))
    assert os.path.isfile(os.path.join(package, "py.typed"))
    missing = [n for n in MESSAGE_MODULES + [SERVICE]
               if not os.path.isfile(os.path.join(API_DIR, n + ".pyi"))]
    assert missing == []


def test_clean_client_imports_at_run_time():
    sys.path.insert(0, CASES)
    try:
        client = importlib.import_module("clean_client")
    finally:
        sys.path.remove(CASES)
    snapshot = client.build_project()
    assert set(snapshot.behaviors) == {"rest", "wait"}
    assert client.step_of(snapshot.behaviors["rest"]) == "sleep_routine"


# ------------------------------------------------------------ type checkers

def checker_skip_reason():
    if os.environ.get("PROTOCOL_BUFFERS_PYTHON_IMPLEMENTATION") == "python":
        return "static checks do not depend on the protobuf runtime; they ran with the C descriptors"
    missing = []
    for dist in ("mypy", "pyright", "types-protobuf", "types-grpcio"):
        try:
            importlib.metadata.version(dist)
        except importlib.metadata.PackageNotFoundError:
            missing.append(dist)
    if missing:
        return "type checkers not installed (pip install '.[typing]'): " + ", ".join(missing)
    return None


needs_checkers = pytest.mark.skipif(checker_skip_reason() is not None,
                                    reason=checker_skip_reason() or "")

TARGETS = CLEAN + [MISTAKES]


def stubtest_env():
    # An editable install keeps the stubs in src/, where mypy must be told to
    # look; an installed package has them beside its modules.
    source = os.path.dirname(os.path.dirname(API_DIR))
    return dict(os.environ, MYPYPATH=source) if "site-packages" not in source else dict(os.environ)


COMMANDS = {
    "mypy": ([sys.executable, "-m", "mypy", "--cache-dir", os.devnull, "--no-error-summary",
              "--show-absolute-path", *TARGETS], None),
    "pyright": ([sys.executable, "-m", "pyright", "--outputjson", "--pythonpath", sys.executable,
                 *TARGETS], None),
    "stubtest": ([sys.executable, "-m", "mypy.stubtest", "--allowlist",
                  os.path.join(CASES, "stubtest_allowlist.txt"), "ostrel.api." + SERVICE], stubtest_env),
}


@functools.lru_cache(maxsize=None)
def started():
    """The checkers, started side by side once per test run."""
    return {name: subprocess.Popen(command, cwd=ROOT, env=env() if env else None, text=True,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            for name, (command, env) in COMMANDS.items()}


@functools.lru_cache(maxsize=None)
def finished(name):
    process = started()[name]
    try:
        out, err = process.communicate(timeout=CHECKER_TIMEOUT_S)
    except subprocess.TimeoutExpired:
        process.kill()
        raise
    return process.returncode, out, err


def mypy_errors():
    code, out, err = finished("mypy")
    assert code in (0, 1), out + err
    errors = set()
    for line in out.splitlines():
        match = re.match(r"(.+?):(\d+): error: ", line)
        if match:
            errors.add((os.path.realpath(match.group(1)), int(match.group(2))))
    return errors, out


def pyright_errors():
    code, out, err = finished("pyright")
    report = json.loads(out)
    errors = {(os.path.realpath(d["file"]), d["range"]["start"]["line"] + 1)
              for d in report["generalDiagnostics"] if d["severity"] == "error"}
    return errors, out


CHECKERS = {"mypy": mypy_errors, "pyright": pyright_errors}


@pytest.fixture(params=sorted(CHECKERS))
def checked(request):
    """A checker's errors over every target, by file and line."""
    return CHECKERS[request.param]()


def marked_lines(path):
    with open(path, encoding="utf-8") as handle:
        return {n for n, line in enumerate(handle, 1) if ERROR_MARK.search(line)}


@needs_checkers
def test_checker_reports_every_mistake_on_its_line(checked):
    errors, output = checked
    mistakes = os.path.realpath(MISTAKES)
    reported = {line for path, line in errors if path == mistakes}
    assert len(marked_lines(MISTAKES)) >= 35
    assert (sorted(marked_lines(MISTAKES) - reported), sorted(reported - marked_lines(MISTAKES))) \
        == ([], []), output


@needs_checkers
def test_checker_passes_the_client_the_package_and_the_example_strictly(checked):
    errors, output = checked
    mistakes = os.path.realpath(MISTAKES)
    unexpected = sorted(e for e in errors if e[0] != mistakes and e[0] not in NOT_YET_ANNOTATED)
    assert unexpected == [], output


@needs_checkers
def test_files_waiting_for_annotations_are_listed_only_while_they_need_it():
    # A file that both checkers pass leaves the list, so that it stays clean.
    unclean = {path for checker in CHECKERS.values() for path, _ in checker()[0]}
    assert sorted(NOT_YET_ANNOTATED - unclean) == []


@needs_checkers
def test_stubtest_finds_the_service_stub_consistent():
    code, out, err = finished("stubtest")
    assert code == 0, out + err
