"""Builds the two comparison trees of the benchmark into a scratch folder.

    python bench/prepare.py SCRATCH SCHEMA_ROOT

SCRATCH/peer   protoc/grpcio-tools output of the same schema files: pure-Python
               `ostrel.api.<name>_pb2` modules plus `service_pb2_grpc`, with
               `__init__.py` files so that `ostrel.api` resolves to this tree
               when it stands first on sys.path.
SCRATCH/floor  `floor_whole.py` and `floor_interim.py`: only the runtime calls
               that the message modules have to make (runtime imports,
               AddSerializedFile of the same serialized descriptors in load
               order, GeneratedProtocolMessageType + RegisterMessage).

Our service module imports the request messages' module and the message
modules of the other types, not the module of the schema file that declares
the service (ostrel_service.proto). To give the peer a service_pb2_grpc with
those imports, the peer's copy of service.proto gets the service block of
ostrel_service.proto, written out from its descriptor (see service_block),
and ostrel_service.proto itself is left out. Nothing here is ever committed.
"""

import compileall
import os
import shutil
import sys
import tempfile

SERVICE_FILE = "ostrel/api/ostrel_service.proto"
REQUESTS_FILE = "ostrel/api/service.proto"

# What "the whole API" imports: the service module (grpc, then these five in
# this order), or before it exists the two top modules that together load
# every message module.
TOPS = {
    "whole": ["ostrel/api/%s.proto" % n for n in ("common", "data", "project", "service", "system")],
    "interim": ["ostrel/api/data.proto", "ostrel/api/system.proto"],
}


def protoc(*args):
    from grpc_tools import protoc as grpc_protoc

    include = os.path.join(os.path.dirname(grpc_protoc.__file__), "_proto")
    cmd = ["grpc_tools.protoc", "-I", include] + list(args)
    if grpc_protoc.main(cmd) != 0:
        raise SystemExit("protoc failed: %s" % " ".join(args))


def build_peer(scratch, schema_root):
    src = os.path.join(scratch, "peer-src")
    out = os.path.join(scratch, "peer")
    shutil.rmtree(src, ignore_errors=True)
    shutil.rmtree(out, ignore_errors=True)
    shutil.copytree(os.path.join(schema_root, "ostrel"), os.path.join(src, "ostrel"))
    block = service_block(schema_root)
    os.remove(os.path.join(src, SERVICE_FILE))
    with open(os.path.join(src, REQUESTS_FILE), "a") as f:
        f.write(block)
    os.makedirs(out)
    protos = sorted(
        os.path.join("ostrel/api", n)
        for n in os.listdir(os.path.join(src, "ostrel/api"))
        if n.endswith(".proto")
    )
    protoc("-I", src, "--python_out=" + out, *[os.path.join(src, p) for p in protos])
    protoc("-I", src, "--grpc_python_out=" + out, os.path.join(src, REQUESTS_FILE))
    for pkg in ("ostrel", "ostrel/api"):
        open(os.path.join(out, pkg, "__init__.py"), "w").close()
    # An installed package ships its bytecode; so does the peer.
    compileall.compile_dir(out, quiet=1)
    return out


def service_block(schema_root):
    """The service of SERVICE_FILE as a block to append to REQUESTS_FILE:
    the imports it needs there and one rpc line per method, in order."""
    from google.protobuf import descriptor_pb2

    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "service.bin")
        protoc("-I", schema_root, "--descriptor_set_out=" + out, os.path.join(schema_root, SERVICE_FILE))
        with open(out, "rb") as f:
            (file,) = descriptor_pb2.FileDescriptorSet.FromString(f.read()).file
    (service,) = file.service
    lines = ['import "%s";' % name for name in file.dependency if name != REQUESTS_FILE]
    lines += ["", "service %s {" % service.name]
    lines += ["  rpc %s(%s) returns (%s);" % (m.name, m.input_type, m.output_type) for m in service.method]
    return "\n" + "\n".join(lines) + "\n}\n"


def descriptor_files(schema_root, tops):
    """Serialized FileDescriptorProtos of the closure of `tops`, leaves first,
    in the order in which the module imports load them, json_name cleared."""
    from google.protobuf import descriptor_pb2

    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "set.bin")
        protoc("-I", schema_root, "--include_imports", "--descriptor_set_out=" + out,
               *[os.path.join(schema_root, t) for t in tops])
        fds = descriptor_pb2.FileDescriptorSet.FromString(open(out, "rb").read())
    by_name = {f.name: f for f in fds.file}
    order, seen = [], set()

    def visit(name):  # depth first, dependencies in declaration order
        if name in seen:
            return
        seen.add(name)
        for dep in by_name[name].dependency:
            visit(dep)
        order.append(name)

    for t in tops:
        visit(t)
    files = []
    for name in order:
        f = by_name[name]
        if name.startswith("google/protobuf/"):
            files.append((name, None))  # the runtime's own module provides it
            continue
        for m in f.message_type:
            clear_json_names(m)
        files.append((name, f.SerializeToString(deterministic=True)))
    return files


def clear_json_names(message):
    for field in message.field:
        field.ClearField("json_name")
    for nested in message.nested_type:
        clear_json_names(nested)


FLOOR_HEAD = '''\
# The floor: the runtime calls that loading these schema files requires and
# nothing else. Written by bench/prepare.py.
from google.protobuf import descriptor_pool as _descriptor_pool
from google.protobuf import message as _message
from google.protobuf import reflection as _reflection
from google.protobuf import symbol_database as _symbol_database
from google.protobuf.internal import enum_type_wrapper as _enum_type_wrapper
%(extra_imports)s
_sym_db = _symbol_database.Default()
_pool = _descriptor_pool.Default()
_Base = (_message.Message,)
_Meta = _reflection.GeneratedProtocolMessageType
_Wrapper = _enum_type_wrapper.EnumTypeWrapper


def _cls(d, module):
    ns = {n.name: _cls(n, module) for n in d.nested_types}
    ns["DESCRIPTOR"] = d
    ns["__module__"] = module
    return _Meta(d.name, _Base, ns)


def _load(data, module):
    fd = _pool.AddSerializedFile(data)
    for e in fd.enum_types_by_name.values():
        _Wrapper(e)
    for d in fd.message_types_by_name.values():
        c = _cls(d, module)
        _sym_db.RegisterMessage(c)
        for n in d.nested_types:
            _sym_db.RegisterMessage(getattr(c, n.name))


'''


def write_floor(scratch, schema_root, kind):
    files = descriptor_files(schema_root, TOPS[kind])
    extra = []
    if kind == "whole":
        extra.append("import grpc")
    if any(data is None and name == "google/protobuf/any.proto" for name, data in files):
        extra.append("from google.protobuf import any_pb2 as _any_pb2")
    lines = [FLOOR_HEAD % {"extra_imports": "\n".join(extra)}]
    lines.append("FILES = (")
    for name, data in files:
        if data is not None:
            module = "ostrel.api.%s_pb2" % os.path.basename(name)[: -len(".proto")]
            lines.append("    (%r, %r)," % (module, data))
    lines.append(")\nfor _m, _d in FILES:\n    _load(_d, _m)\n")
    path = os.path.join(scratch, "floor", "floor_%s.py" % kind)
    with open(path, "w") as f:
        f.write("\n".join(lines))
    return files


def verify(scratch):
    """Our modules, the peer's and the floor hand the pool the same bytes
    (the peer's service.proto aside, which carries the appended service)."""
    import ast
    import importlib

    src = open(os.path.join(scratch, "floor", "floor_whole.py")).read()
    start = src.index("FILES = (")
    files = ast.literal_eval(src[start + len("FILES = "): src.index("\nfor _m", start)])
    mismatched = []
    for module, data in files:
        try:
            ours = importlib.import_module(module).DESCRIPTOR.serialized_pb
        except ImportError:
            continue  # the service module may not exist yet
        if ours != data:
            mismatched.append(module)
    if mismatched:
        raise SystemExit("floor descriptors differ from ours: %s" % mismatched)
    print("floor descriptors: byte-identical to ours (%d files)" % len(files))


def main():
    if sys.argv[1] == "--verify":
        verify(sys.argv[2])
        return
    scratch, schema_root = sys.argv[1], os.path.abspath(sys.argv[2])
    os.makedirs(scratch, exist_ok=True)
    peer = build_peer(scratch, schema_root)
    floor = os.path.join(scratch, "floor")
    shutil.rmtree(floor, ignore_errors=True)
    os.makedirs(floor)
    manifest = {}
    for kind in TOPS:
        files = write_floor(scratch, schema_root, kind)
        manifest[kind] = [(n, None if d is None else len(d)) for n, d in files]
    compileall.compile_dir(floor, quiet=1)
    n = len([x for x in manifest["interim"] if x[1] is not None])
    size = sum(x[1] for x in manifest["interim"] if x[1] is not None)
    print("peer:  %s" % peer)
    print("floor: %s (%d schema files, %d descriptor bytes before the service file)"
          % (floor, n, size))


if __name__ == "__main__":
    main()
