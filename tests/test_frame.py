"""The create and exec steps shared by every message module: attributes,
single initialisation, the frame-name entry, and every failure path."""

import json
import sys

import pytest
from google.protobuf import any_pb2

from ostrel.api import common_pb2

# Each child process that counts descriptor-pool additions installs this
# wrapper first: it records the file name of every AddSerializedFile call.
COUNT_ADDS = """
import collections, google.protobuf.descriptor_pool as dp
from google.protobuf import descriptor_pb2
ADDS = collections.Counter()
_default = dp.Default
class _Pool:
    def __init__(self, pool): self._pool = pool
    def AddSerializedFile(self, data):
        ADDS[descriptor_pb2.FileDescriptorProto.FromString(data).name] += 1
        return self._pool.AddSerializedFile(data)
    def __getattr__(self, name): return getattr(self._pool, name)
dp.Default = lambda: _Pool(_default())
"""

# Makes one module unimportable, as if its file were missing.
BLOCK = """
import importlib.abc, sys
class _Block(importlib.abc.MetaPathFinder):
    def __init__(self, name): self.name = name
    def find_spec(self, name, path, target=None):
        if name == self.name:
            raise ModuleNotFoundError(f"No module named {name!r}", name=name)
BLOCKER = _Block({name!r})
sys.meta_path.insert(0, BLOCKER)
"""

POOL_HAS = """
from google.protobuf import descriptor_pool
def pool_has(path):
    try:
        descriptor_pool.Default().FindFileByName(path)
        return True
    except KeyError:
        return False
"""


def test_common_module_attributes_in_order():
    own = [k for k in vars(common_pb2) if not k.startswith("__")]
    assert own == [
        "enum_type_wrapper", "_descriptor", "_descriptor_pool", "_message", "_reflection",
        "_symbol_database", "_sym_db", "google_dot_protobuf_dot_any__pb2", "DESCRIPTOR",
        "_CODE", "Code", "RUNNING", "SUCCESS", "FAILURE", "_METADATA", "_STATUS", "_PACKET",
        "Metadata", "Status", "Packet"]
    dunders = {k for k in vars(common_pb2) if k.startswith("__")}
    assert dunders == {"__name__", "__doc__", "__package__", "__loader__", "__spec__",
                       "__file__", "__builtins__", "__test__"}
    assert common_pb2.__test__ == {} and common_pb2.__doc__ is None
    assert common_pb2.__package__ == "ostrel.api"
    assert common_pb2.__builtins__ is __builtins__ or common_pb2.__builtins__.__name__ == "builtins"
    assert common_pb2.google_dot_protobuf_dot_any__pb2 is any_pb2
    assert (common_pb2.RUNNING, common_pb2.SUCCESS, common_pb2.FAILURE) == (0, 1, 2)
    assert common_pb2.Status.__module__ == "ostrel.api.common_pb2"
    assert sys.modules["api.common_pb2"] is common_pb2


@pytest.mark.parametrize("message,expected", [
    (common_pb2.Status(), b""),
    (common_pb2.Status(code=common_pb2.FAILURE), b"\x08\x02"),
    (common_pb2.Status(code=common_pb2.RUNNING, message=""), b""),
    (common_pb2.Metadata(timestamp_ns=1), b"\x08\x01"),
    (common_pb2.Metadata(timestamp_ns=2**64 - 1), b"\x08" + b"\xff" * 9 + b"\x01"),
    (common_pb2.Packet(metadata=common_pb2.Metadata()), b"\x0a\x00"),
])
def test_common_encodings_round_trip(message, expected):
    assert message.SerializeToString() == expected
    assert type(message).FromString(expected) == message


def test_status_keeps_unknown_code():
    status = common_pb2.Status.FromString(b"\x08\x07")
    assert status.code == 7 and status.SerializeToString() == b"\x08\x07"
    with pytest.raises(ValueError):
        common_pb2.Code.Name(7)
    assert common_pb2.Code.Value("FAILURE") == 2 and common_pb2.Code.Name(1) == "SUCCESS"


def test_packet_carries_any_message():
    packet = common_pb2.Packet()
    packet.payload.Pack(common_pb2.Status(code=common_pb2.SUCCESS, message="ok"))
    packet = common_pb2.Packet.FromString(packet.SerializeToString())
    assert packet.payload.type_url.endswith("/ostrel.api.common.Status")
    out = common_pb2.Status()
    assert packet.payload.Unpack(out) and out.message == "ok"
    metadata = common_pb2.Metadata(timestamp_ns=5)
    assert not packet.payload.Unpack(metadata) and metadata.timestamp_ns == 5
    assert not packet.HasField("metadata")


def test_second_import_returns_same_module_and_adds_file_once(fresh):
    out = fresh(COUNT_ADDS + """
import sys, json
import ostrel.api.trajectory_pb2 as first
import ostrel.api.trajectory_pb2 as again
del sys.modules["ostrel.api.trajectory_pb2"]
import ostrel.api.trajectory_pb2 as reloaded
print(json.dumps({"same": first is again is reloaded,
                  "frame": sys.modules["api.trajectory_pb2"] is first,
                  "adds": ADDS}))
""").stdout
    result = json.loads(out)
    assert result["same"] and result["frame"]
    assert result["adds"] == {"ostrel/api/math.proto": 1, "ostrel/api/motion.proto": 1,
                              "ostrel/api/trajectory.proto": 1}


def test_missing_dependency_fails_cleanly_and_recovers(fresh):
    out = fresh(BLOCK.format(name="ostrel.api.math_pb2") + POOL_HAS + """
import json, sys, traceback
try:
    import ostrel.api.motion_pb2
    error = None
except ImportError as exc:
    error = [str(exc), traceback.format_exc()]
state = {"error": error, "pool": pool_has("ostrel/api/motion.proto"),
         "loaded": [n for n in ("ostrel.api.motion_pb2", "api.motion_pb2") if n in sys.modules]}
sys.meta_path.remove(BLOCKER)
import ostrel.api.motion_pb2 as motion
state["after"] = motion.State(joint={}).SerializeToString().hex()
print(json.dumps(state))
""").stdout
    state = json.loads(out)
    # The host skips a from-list name it cannot find; the frame then reports it.
    text, tb = state["error"]
    assert text == "cannot import name math_pb2"
    # The module body's own traceback entry, as the interpreter writes one.
    assert 'File "ostrel/api/motion.proto", line 1, in <module>\n' in tb
    assert not state["pool"] and state["loaded"] == []
    assert state["after"] == "0a00"


def test_dependency_that_registers_nothing_fails_in_the_pool(fresh):
    out = fresh("""
import json, sys, types
sys.modules["ostrel.api.math_pb2"] = types.ModuleType("ostrel.api.math_pb2")
try:
    import ostrel.api.motion_pb2
except Exception as exc:
    error = type(exc).__name__
del sys.modules["ostrel.api.math_pb2"]
import ostrel.api.motion_pb2
print(json.dumps([error, "ostrel.api.math_pb2" in sys.modules]))
""").stdout
    error, math_loaded = json.loads(out)
    assert error in ("TypeError", "KeyError") and math_loaded


def test_pool_refusal_runs_the_body_again_on_retry(fresh, fixture_modules):
    out = fresh(COUNT_ADDS + """
import json, sys
import ostrel.api.common_pb2
errors = []
for _ in range(2):
    try:
        import ostrel_fixtures.clash_pb2
    except TypeError as exc:
        errors.append(str(exc))
print(json.dumps({"errors": errors, "adds": ADDS["ostrel_fixtures/clash.proto"],
                  "left": [n for n in sys.modules if "clash" in n]}))
""").stdout
    result = json.loads(out)
    assert len(result["errors"]) == 2 and "ostrel.api.common.Status" in result["errors"][0]
    assert result["adds"] == 2 and result["left"] == []


# Each way an import can fail, set up so that it fails on every attempt.
FAILURES = {
    "pool refuses": ("import ostrel.api.common_pb2", "ostrel_fixtures.clash_pb2"),
    "dependency missing": (BLOCK.format(name="ostrel.api.math_pb2"), "ostrel.api.motion_pb2"),
    "dependency registers nothing": (
        "import sys, types\nsys.modules['ostrel.api.math_pb2'] = types.ModuleType('m')",
        "ostrel.api.motion_pb2"),
}


@pytest.mark.parametrize("setup,module", FAILURES.values(), ids=FAILURES)
def test_failed_imports_do_not_leak(fresh, fixture_modules, setup, module):
    fresh(setup + """
import gc, importlib, sys, tracemalloc
def attempt():
    try:
        importlib.import_module({module!r})
    except (ImportError, TypeError, KeyError):
        pass
    else:
        raise AssertionError("imported")
for _ in range(50):
    attempt()
gc.collect()
tracemalloc.start()
before = tracemalloc.get_traced_memory()[0]
for _ in range(500):
    attempt()
gc.collect()
grown = tracemalloc.get_traced_memory()[0] - before
assert grown < 64 * 1024, grown
""".format(module=module))


# Imports a module in a new sub-interpreter of the given kind while the main
# interpreter holds common_pb2, and prints the failure (None when the import
# worked) and a message that the main interpreter serializes afterwards.
# "legacy" shares the GIL and loads any module; "isolated" has its own GIL;
# "checked" shares the GIL but honours what modules declare (3.12 and later).
# The sub-interpreter writes its outcome to a file: the same on every host.
SUBINTERPRETER_IMPORT = """
import json, os, sys, tempfile
import ostrel.api.common_pb2 as common
ATTEMPT = (
    "try:\\n    import {module}\\n    result = None\\n"
    "except Exception as exc:\\n    result = type(exc).__name__ + ': ' + str(exc)\\n"
    "with open(%r, 'w') as out:\\n    out.write(repr(result))\\n")
def run_in(kind, code):
    try:
        import _interpreters as low
    except ImportError:
        import _xxsubinterpreters as low
        if sys.version_info < (3, 12):
            low.run_string(low.create(), code)
        elif kind == "checked":
            import _testcapi
            config = dict(use_main_obmalloc=True, allow_fork=True, allow_exec=True,
                          allow_threads=True, allow_daemon_threads=True,
                          check_multi_interp_extensions=True)
            try:  # the shared GIL: gil=1 from 3.12.1 on, own_gil=False in 3.12.0
                _testcapi.run_in_subinterp_with_config(code, gil=1, **config)
            except TypeError:
                _testcapi.run_in_subinterp_with_config(code, own_gil=False, **config)
        else:
            low.run_string(low.create(isolated=kind == "isolated"), code)
        return
    config = low.new_config("legacy" if kind == "checked" else kind)
    config.check_multi_interp_extensions = kind != "legacy"
    low.run_string(low.create(config), code)
path = os.path.join(tempfile.mkdtemp(), "result")
run_in({kind!r}, ATTEMPT % path)
with open(path) as result:
    print(json.dumps([eval(result.read()), common.Status(code=2).SerializeToString().hex()]))
"""
ERR_ONE_INTERPRETER = ("ImportError: Interpreter change detected - this module can only be "
                       "loaded into one interpreter per process.")


def err_no_subinterpreters(module):
    return "ImportError: module %s does not support loading in subinterpreters" % module


@pytest.mark.parametrize("kind,module,since,expected", [
    ("legacy", "ostrel.api.common_pb2", (3, 9), ERR_ONE_INTERPRETER),
    ("legacy", "ostrel.api.service_pb2_grpc", (3, 9), ERR_ONE_INTERPRETER),
    ("isolated", "ostrel.api.common_pb2", (3, 12),
     err_no_subinterpreters("ostrel.api.common_pb2")),
    ("isolated", "ostrel.api.service_pb2_grpc", (3, 12),
     err_no_subinterpreters("ostrel.api.service_pb2_grpc")),
    ("checked", "ostrel.api.common_pb2", (3, 12),
     err_no_subinterpreters("ostrel.api.common_pb2")),
    ("checked", "ostrel.api.service_pb2_grpc", (3, 12),
     err_no_subinterpreters("ostrel.api.service_pb2_grpc")),
], ids=["legacy-message", "legacy-service", "isolated-message", "isolated-service",
        "checked-message", "checked-service"])
def test_subinterpreter_import_is_refused_and_main_keeps_working(fresh, kind, module, since,
                                                                  expected):
    if sys.version_info < since:
        pytest.skip("no %s sub-interpreters before %d.%d" % ((kind,) + since))
    needed = ("_testcapi",) if kind == "checked" and sys.version_info < (3, 13) else ()
    probe = fresh("import importlib.util as u; print(any(u.find_spec(m) for m in "
                  "('_interpreters', '_xxsubinterpreters')) and all(u.find_spec(m) for m in "
                  "%r))" % (needed,)).stdout
    if probe.strip() != "True":
        pytest.skip("this host has no sub-interpreter module")
    error, still = json.loads(fresh(SUBINTERPRETER_IMPORT.format(kind=kind, module=module)).stdout)
    assert error == expected
    assert still == "0802"


def test_exec_on_another_module_object_is_refused(fresh):
    out = fresh("""
import importlib.util, json
spec = importlib.util.find_spec("ostrel.api.material_pb2")
first = importlib.util.module_from_spec(spec)
second = importlib.util.module_from_spec(spec)
spec.loader.exec_module(first)
spec.loader.exec_module(first)  # executed already: returns at once
try:
    spec.loader.exec_module(second)
    error = None
except RuntimeError as exc:
    error = str(exc)
third = importlib.util.module_from_spec(spec)
print(json.dumps([error, first is not second, third is first]))
""").stdout
    error, distinct, reused = json.loads(out)
    assert error == ("Module 'material_pb2' has already been imported. "
                     "Re-initialisation is not supported.")
    assert distinct and reused


def test_version_warning_names_build_and_host_versions(fresh, fixture_modules):
    host = "%d.%d" % sys.version_info[:2]
    text = (f"compile time version 3.8 of module 'oldbuild_pb2' "
            f"does not match runtime version {host}")
    out = fresh("""
import json, warnings
with warnings.catch_warnings(record=True) as caught:
    warnings.simplefilter("always")
    import ostrel_fixtures.oldbuild_pb2 as old
print(json.dumps([[w.category.__name__, str(w.message)] for w in caught]
                 + [old.Probe(text="x").SerializeToString().hex()]))
""").stdout
    assert json.loads(out) == [["RuntimeWarning", text], "0a0178"]
    # Escalated to an error, the warning fails the import; our own modules
    # were built for this host and warn about nothing.
    proc = fresh("import ostrel_fixtures.oldbuild_pb2", "-W", "error::RuntimeWarning",
                 check=False)
    assert proc.returncode != 0 and text in proc.stderr
    fresh("import ostrel.api.data_pb2, ostrel.api.system_pb2", "-W", "error")
