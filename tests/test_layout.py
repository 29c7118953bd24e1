"""Every message module against its published layout: descriptor bytes,
serialized ranges, names and attributes; and the import graph between them."""

import importlib
import json

import pytest
from google.protobuf import descriptor as _descriptor
from google.protobuf import descriptor_pb2

from layouts import LAYOUTS
from test_frame import BLOCK, COUNT_ADDS, POOL_HAS

RUNTIME = ["_descriptor", "_descriptor_pool", "_message", "_reflection", "_symbol_database",
           "_sym_db"]
PURE = not _descriptor._USE_C_DESCRIPTORS


def alias(path):
    import_name = path[: -len(".proto")].replace("-", "_").replace("/", ".") + "_pb2"
    return import_name.replace("_", "__").replace(".", "_dot_")


def handle(*names):
    return "_" + "_".join(n.upper() for n in names)


def test_totals():
    assert len(LAYOUTS) == 24
    assert sum(m["size"] for m in LAYOUTS.values()) == 21358
    assert sum(len(m["messages"]) for m in LAYOUTS.values()) == 110
    assert sum(len(v) for m in LAYOUTS.values() for v in m["enums"].values()) == 20


@pytest.mark.parametrize("name", sorted(LAYOUTS))
def test_module_matches_layout(name):
    want = LAYOUTS[name]
    mod = importlib.import_module("ostrel.api." + name)
    fd, blob = mod.DESCRIPTOR, mod.DESCRIPTOR.serialized_pb
    assert (fd.name, fd.package) == (want["file"], "ostrel.api." + name[: -len("_pb2")])
    assert [d.name for d in fd.dependencies] == want["deps"]
    assert list(fd.message_types_by_name) == want["messages"]
    assert len(blob) == want["size"]
    # Canonical bytes: fields in number order, no JSON names, no source info.
    proto = descriptor_pb2.FileDescriptorProto.FromString(blob)
    assert proto.SerializeToString() == blob
    assert not proto.HasField("source_code_info") and b"json_name" not in blob
    assert all(not f.HasField("json_name") for m in proto.message_type for f in m.field)

    expected = ["enum_type_wrapper"] if want["enums"] else []
    expected += RUNTIME + [alias(d) for d in want["deps"]] + ["DESCRIPTOR"]
    for enum, values in want["enums"].items():
        expected += [handle(enum), enum, *values]
        assert {v: getattr(mod, v) for v in values} == values
        assert dict(getattr(mod, enum).items()) == values
    for message in fd.message_types_by_name.values():
        expected += [handle(message.name)]
        expected += [handle(message.name, n.name) for n in message.nested_types]
    expected += want["messages"]
    assert [k for k in vars(mod) if not k.startswith("__")] == expected

    for message in fd.message_types_by_name.values():
        cls = getattr(mod, message.name)
        assert (cls.__module__, cls.DESCRIPTOR) == (mod.__name__, message)
        for nested in message.nested_types:
            inner = getattr(cls, nested.name)
            assert (inner.__name__, inner.__module__) == (nested.name, mod.__name__)
            assert getattr(mod, handle(message.name, nested.name)) is nested
            assert nested.GetOptions().map_entry
            if PURE:
                assert nested._serialized_options == b"\x38\x01"

    for name_, (start, end) in want["ranges"].items():
        desc = getattr(mod, name_)
        is_enum = isinstance(desc, _descriptor.EnumDescriptor)
        own = (descriptor_pb2.EnumDescriptorProto if is_enum else descriptor_pb2.DescriptorProto)()
        desc.CopyToProto(own)
        for field in getattr(own, "field", []):
            field.ClearField("json_name")
        assert type(own).FromString(blob[start:end]) == own, name_
        if PURE:
            assert (desc._serialized_start, desc._serialized_end) == (start, end), name_


def loads(fresh, setup, statement):
    """Imports in a fresh interpreter; returns the message modules and schema
    files that `statement` added, in the order they entered the pool."""
    out = fresh(COUNT_ADDS + setup + """
import json, sys
before = set(sys.modules)
error = None
try:
    exec({statement!r})
except Exception as exc:
    error = type(exc).__name__ + ": " + str(exc)
print(json.dumps({{"error": error, "files": list(ADDS),
    "modules": sorted(m[11:] for m in set(sys.modules) - before if m.startswith("ostrel.api."))}}))
""".format(statement=statement)).stdout
    return json.loads(out)


ALL = sorted(LAYOUTS) + ["image_pb2", "linkage_pb2", "math_pb2", "tool_pb2"]


@pytest.mark.parametrize("setup,statement,modules", [
    ("", "import ostrel.api.material_pb2", ["material_pb2"]),
    ("", "import ostrel.api.system_pb2",
     sorted(set(ALL) - {"data_pb2", "simulation_pb2"})),
    ("import ostrel.api.trajectory_pb2\n", "import ostrel.api.execution_pb2",
     ["execution_pb2", "task_pb2"]),
    ("", "import ostrel.api.data_pb2", sorted(set(ALL) - {"system_pb2", "training_pb2"})),
])
def test_import_loads_exactly_the_dependency_closure(fresh, setup, statement, modules):
    result = loads(fresh, setup, statement)
    assert result["error"] is None and result["modules"] == modules


def test_workspace_loads_leaves_first_in_import_order(fresh):
    result = loads(fresh, "", "import ostrel.api.workspace_pb2")
    assert result["files"] == ["ostrel/api/%s.proto" % n for n in (
        "math", "tool", "shape", "material", "dynamics", "robot", "effector", "item",
        "camera", "fiducial", "task", "linkage", "workspace")]


def test_missing_companion_keeps_what_completed(fresh):
    out = fresh(BLOCK.format(name="ostrel.api.linkage_pb2") + POOL_HAS + """
import json, sys
try:
    import ostrel.api.workspace_pb2
except ImportError as exc:
    error = str(exc)
from ostrel.api import robot_pb2, item_pb2, task_pb2
usable = robot_pb2.RobotConfig(ur_5e_robot={}).SerializeToString() != b""
print(json.dumps([error, usable, pool_has("ostrel/api/workspace.proto"),
    sorted(m[11:] for m in sys.modules if m.startswith("ostrel.api."))]))
""").stdout
    error, usable, in_pool, loaded = json.loads(out)
    assert error == "cannot import name linkage_pb2" and usable and not in_pool
    assert loaded == ["camera_pb2", "dynamics_pb2", "effector_pb2", "fiducial_pb2",
                      "item_pb2", "material_pb2", "math_pb2", "robot_pb2", "shape_pb2",
                      "task_pb2", "tool_pb2"]


@pytest.mark.parametrize("name", ["math_pb2", "tool_pb2", "linkage_pb2", "image_pb2"])
def test_companion_registering_nothing_fails_dependents(fresh, name):
    dependent = {"math_pb2": "motion_pb2", "tool_pb2": "robot_pb2",
                 "linkage_pb2": "workspace_pb2", "image_pb2": "perception_pb2"}[name]
    result = loads(fresh, "import sys, types\nsys.modules['ostrel.api.%s'] = "
                   "types.ModuleType('ostrel.api.%s')\n" % (name, name),
                   "import ostrel.api." + dependent)
    assert result["error"] and ("TypeError" in result["error"] or "KeyError" in result["error"])
    assert "ostrel/api/%s.proto" % dependent[: -len("_pb2")] in result["files"]
    assert dependent not in result["modules"]
