"""The service module: the exact calls that the stub, the registration and the
one-shot calls make (against recording fakes), the base servicer, argument
errors, signatures, name resolution at call time, failures part-way, the
failed import, reference hygiene, and real gRPC over the loopback interface."""

import ctypes
import gc
import inspect
import os
import runpy
import sys
import types
import warnings
import weakref
from concurrent import futures

import grpc
import pytest

from ostrel.api import common_pb2, data_pb2, project_pb2, service_pb2, system_pb2
from ostrel.api import service_pb2_grpc as svc

import forked_threads

NAMESPACE_ORDER = list(vars(svc))  # taken before any test rebinds a name

S, C, P = service_pb2, common_pb2, project_pb2
METHODS = [  # name, request class, response class
    ("connect", S.ConnectRequest, C.Status),
    ("pushProjectSnapshot", P.ProjectSnapshot, C.Status),
    ("pullProjectSnapshot", S.GenericRequest, P.ProjectSnapshot),
    ("pullSystemState", S.GenericRequest, system_pb2.SystemState),
    ("runProgram", S.ProgramRequest, C.Status),
    ("pullDataRecords", S.RecordsRequest, data_pb2.DataRecords),
]
NAMES = [name for name, _, _ in METHODS]
NOT_IMPLEMENTED = "Method not implemented!"


def path(name):
    return "/ostrel.api.service.Ostrel/" + name


class Recorder:
    """Every attribute chain of it is callable; each call is logged as (dotted
    name, args, keyword items in order) and returns a fresh object."""

    def __init__(self, log=None, name="", fail_at=None):
        self.log, self._name, self._fail_at = [] if log is None else log, name, fail_at

    def __getattr__(self, attr):
        if attr.startswith("__"):
            raise AttributeError(attr)
        return Recorder(self.log, f"{self._name}.{attr}".lstrip("."), self._fail_at)

    def __call__(self, *args, **kwargs):
        self.log.append((self._name, args, list(kwargs.items())))
        if len(self.log) == self._fail_at:
            raise RuntimeError(f"call {len(self.log)} fails")
        return object()


@pytest.fixture
def fake_grpc(monkeypatch):
    fake = Recorder()
    monkeypatch.setattr(svc, "grpc", fake)
    return fake.log


def test_module_attributes_in_order():
    assert NAMESPACE_ORDER[NAMESPACE_ORDER.index("__builtins__") + 1:] == [
        "grpc", "ostrel_dot_api_dot_common__pb2", "ostrel_dot_api_dot_data__pb2",
        "ostrel_dot_api_dot_project__pb2", "ostrel_dot_api_dot_service__pb2",
        "ostrel_dot_api_dot_system__pb2", "OstrelStub", "OstrelServicer",
        "add_OstrelServicer_to_server", "Ostrel", "__test__"]
    assert (svc.grpc, svc.ostrel_dot_api_dot_service__pb2) == (grpc, service_pb2)
    assert sys.modules["api.service_pb2_grpc"] is svc


@pytest.mark.parametrize("cls, functions", [
    (svc.OstrelStub, ["__init__"]), (svc.OstrelServicer, NAMES), (svc.Ostrel, NAMES)])
def test_classes_are_plain(cls, functions):
    assert type(cls) is type and cls.__bases__ == (object,) and cls.__doc__ is None
    assert cls.__module__ == "api.service_pb2_grpc"
    own = [k for k in vars(cls) if k not in {"__module__", "__dict__", "__weakref__", "__doc__"}]
    assert own == functions
    assert [isinstance(vars(cls)[f], staticmethod) for f in own] == [cls is svc.Ostrel] * len(own)


# Python functions with the signatures that the module's functions must show.
class PyStub:
    def __init__(self, channel): pass
def servicer_method(self, request, context): pass
def add_OstrelServicer_to_server(servicer, server): pass
def connect(request, target, options=(), channel_credentials=None, call_credentials=None,
            insecure=False, compression=None, wait_for_ready=None, timeout=None,
            metadata=None): pass


@pytest.mark.parametrize("function, qualname, reference", [
    (svc.OstrelStub.__init__, "OstrelStub.__init__", PyStub.__init__),
    (svc.add_OstrelServicer_to_server, "add_OstrelServicer_to_server",
     add_OstrelServicer_to_server)]
    + [(getattr(svc.OstrelServicer, n), "OstrelServicer." + n, servicer_method) for n in NAMES]
    + [(getattr(svc.Ostrel, n), "Ostrel." + n, connect) for n in NAMES])
def test_functions_look_like_python_functions(function, qualname, reference):
    assert (function.__qualname__, function.__name__) == (qualname, qualname.split(".")[-1])
    assert function.__module__ == "api.service_pb2_grpc" and function.__doc__ is None
    assert (function.__kwdefaults__, function.__annotations__) == (None, {})
    assert function.__defaults__ == reference.__defaults__
    assert inspect.signature(function) == inspect.signature(reference)
    code = function.__code__
    assert (code.co_name, getattr(code, "co_qualname", qualname)) == (function.__name__, qualname)
    # The code is the host's own: a Python function made from it runs it.
    rebuilt = types.FunctionType(code, {}, None, function.__defaults__)
    assert rebuilt(*range(code.co_argcount - len(function.__defaults__ or ()))) is None


def test_functions_bind_like_methods():
    servicer = svc.OstrelServicer()
    assert servicer.connect.__self__ is servicer
    assert servicer.connect.__func__ is vars(svc.OstrelServicer)["connect"]
    assert str(inspect.signature(svc.OstrelStub)) == "(channel)"
    assert str(inspect.signature(servicer.runProgram)) == "(request, context)"
    assert inspect.signature(svc.Ostrel().runProgram) == inspect.signature(connect)
    # The collector sees the namespace that every function holds.
    assert gc.is_tracked(servicer.connect.__func__)
    assert any(r is vars(svc) for r in gc.get_referents(svc.add_OstrelServicer_to_server))


class PyServicer:
    connect = servicer_method


# The module's own texts, the same on every host (a Python function names its
# qualname from 3.10 on and words some faults otherwise); the Python function
# of the same signature must refuse the same call.
TAKES = "{}() takes {} {} positional argument{} ({} given)"
ARGUMENT_ERRORS = [  # function, Python function alike, args, keywords, TypeError text
    (svc.OstrelStub, PyStub, (), {}, TAKES.format("__init__", "exactly", 2, "s", 1)),
    (svc.OstrelStub, PyStub, (1, 2), {}, TAKES.format("__init__", "exactly", 2, "s", 3)),
    (svc.OstrelStub, PyStub, (), {"chanel": 1}, TAKES.format("__init__", "exactly", 2, "s", 1)),
    (svc.OstrelStub, PyStub, (1,), {"channel": 1},
     "__init__() got multiple values for keyword argument 'channel'"),
    (svc.OstrelStub, PyStub, (1,), {"bogus": 1},
     "__init__() got an unexpected keyword argument 'bogus'"),
    (svc.OstrelServicer().connect, PyServicer().connect, (None,), {},
     TAKES.format("connect", "exactly", 3, "s", 2)),
    (svc.OstrelServicer().connect, PyServicer().connect, (None,), {"contxt": 1},
     TAKES.format("connect", "exactly", 3, "s", 2)),
    (svc.add_OstrelServicer_to_server, add_OstrelServicer_to_server, (1,), {},
     TAKES.format("add_OstrelServicer_to_server", "exactly", 2, "s", 1)),
    (svc.add_OstrelServicer_to_server, add_OstrelServicer_to_server, (), {"server": 1},
     TAKES.format("add_OstrelServicer_to_server", "exactly", 2, "s", 0)),
    (svc.Ostrel.connect, connect, (), {}, TAKES.format("connect", "at least", 2, "s", 0)),
    (svc.Ostrel.pullSystemState, connect, (1,), {},
     TAKES.format("pullSystemState", "at least", 2, "s", 1)),
    (svc.Ostrel.connect, connect, (), {"request": 1, "timeout": 2},
     TAKES.format("connect", "at least", 2, "s", 1)),
    (svc.Ostrel.connect, connect, tuple(range(11)), {},
     TAKES.format("connect", "at most", 10, "s", 11)),
    (svc.Ostrel.connect, connect, tuple(range(11)), {"bogus": 1},
     TAKES.format("connect", "at most", 10, "s", 11)),
    (svc.Ostrel.connect, connect, (1, 2, 3), {"options": 4},
     "connect() got multiple values for keyword argument 'options'"),
    (svc.Ostrel.connect, connect, (1, 2), {"retries": 3},
     "connect() got an unexpected keyword argument 'retries'"),
    (svc.Ostrel.connect, connect, (1, 2), {"timeout": 1, "retries": 3, "options": 4},
     "connect() got an unexpected keyword argument 'retries'"),
    (svc.Ostrel.connect, connect, (1, 2, 3), {"retries": 3, "options": 4},
     "connect() got an unexpected keyword argument 'retries'"),
    (svc.Ostrel.connect, connect, (1, 2, 3), {"options": 4, "retries": 3},
     "connect() got multiple values for keyword argument 'options'"),
]


@pytest.mark.parametrize("function, alike, args, keywords, text", ARGUMENT_ERRORS)
def test_argument_errors(fake_grpc, function, alike, args, keywords, text):
    with pytest.raises(TypeError) as error:
        function(*args, **keywords)
    assert str(error.value) == text
    with pytest.raises(TypeError):
        alike(*args, **keywords)
    assert fake_grpc == []


def test_keywords_must_be_strings():
    # Only a call from C can pass such keywords. Through a keyword dict the
    # host refuses them before any function is reached, ours as a Python one.
    call = ctypes.pythonapi.PyObject_Call
    call.restype, call.argtypes = ctypes.py_object, (ctypes.py_object,) * 3
    texts = []
    for function in (svc.Ostrel.connect, connect):
        with pytest.raises(TypeError) as error:
            call(function, (1, 2), {1: 2})
        texts.append(str(error.value))
    assert texts[0] == texts[1]
    # Through a vectorcall whose keyword names hold a non-string, the module
    # refuses them itself: Ostrel.connect(1, 2, <1>=5).
    method = ctypes.pythonapi.PyObject_VectorcallMethod
    method.restype = ctypes.py_object
    method.argtypes = (ctypes.py_object, ctypes.c_void_p, ctypes.c_size_t, ctypes.py_object)
    args = (ctypes.py_object * 4)(svc.Ostrel, 1, 2, 5)
    with pytest.raises(TypeError, match=r"^connect\(\) keywords must be strings$"):
        method("connect", ctypes.cast(args, ctypes.c_void_p), 3, (1,))


def test_function_type_is_closed():
    kind = type(svc.Ostrel.connect)
    assert kind is type(svc.OstrelStub.__init__) and kind.__name__ == "function"
    with pytest.raises(TypeError, match=r"^cannot create 'ostrel.function' instances$"):
        kind()
    with pytest.raises(TypeError):
        type("Derived", (kind,), {})
    assert weakref.ref(svc.Ostrel.connect)() is svc.Ostrel.connect
    assert kind.__flags__ & (1 << 11)  # called by vectorcall, keywords as a tuple of names


def test_keyword_arguments_outlive_their_dictionary(fresh):
    # A C caller keeps the keyword dictionary; the channel clears it mid-call.
    assert fresh("""
        import ctypes, gc
        from ostrel.api import service_pb2_grpc as svc
        call = ctypes.pythonapi.PyObject_Call
        call.restype, call.argtypes = ctypes.py_object, (ctypes.py_object,) * 3
        class Channel:
            def unary_unary(self, *args, **kwargs):
                keywords.clear()
                gc.collect()
                return [0] * 64
        keywords, stub = {"channel": Channel()}, svc.OstrelStub.__new__(svc.OstrelStub)
        call(svc.OstrelStub.__init__, (stub,), keywords)
        print(len(vars(stub)))
        """, "-X", "dev").stdout == "6\n"


# Keys whose comparison with a parameter name runs Python code that empties
# the caller's keyword dictionary (it finds every dictionary that holds the
# key) or raises. Each row: the call of the module's function, the call of a
# Python function alike, and the module's outcome.
HOSTILE_KEYWORDS_SETUP = """
    import gc
    from ostrel.api import service_pb2_grpc as svc

    class Emptying(str):
        __hash__ = str.__hash__
        def __eq__(self, other):
            for referrer in gc.get_referrers(self):
                if isinstance(referrer, dict):
                    referrer.clear()
            return str.__eq__(self, other)
    class EmptyingAsOptions(Emptying):  # met by a lookup of "options"
        def __hash__(self):
            return hash("options")
    class EmptyingEqualToAll(Emptying):
        __hash__ = str.__hash__
        def __eq__(self, other):
            Emptying.__eq__(self, other)
            return True
    class Raising(str):
        __hash__ = str.__hash__
        def __eq__(self, other):
            raise LookupError("compared")

    class Channel:
        def unary_unary(self, *args, **kwargs):
            return object()
    class PyStub:
        def __init__(self, channel): pass
    def connect(request, target, options=(), channel_credentials=None, call_credentials=None,
                insecure=False, compression=None, wait_for_ready=None, timeout=None,
                metadata=None): pass

    def outcome(call):
        try:
            call()
        except Exception as error:
            return f"{type(error).__name__}: {error}"
        return "returned"
"""
HOSTILE_KEYWORDS = [  # module call, Python call alike (same arguments), module outcome
    ("svc.OstrelStub.__init__(object(), **{'channel': 1, Emptying('z'): 2})",
     "PyStub.__init__", "TypeError: __init__() got an unexpected keyword argument 'z'"),
    ("svc.Ostrel.connect(None, 't', **{EmptyingAsOptions('x'): 1})",
     "connect", "TypeError: connect() got an unexpected keyword argument 'x'"),
    ("svc.Ostrel.connect(None, 't', **{EmptyingEqualToAll('y'): 1})",
     "connect", "TypeError: connect() got multiple values for keyword argument 'y'"),
    ("svc.OstrelStub(**{Emptying('channel'): Channel()})", "PyStub", "returned"),
    ("svc.Ostrel.connect(None, 't', **{Raising('timeout'): 1})",
     "connect", "LookupError: compared"),
]


def test_hostile_keywords_raise_like_a_python_function(fresh):
    calls = [(call, call.replace(call[:call.index("(")], alike, 1))
             for call, alike, _ in HOSTILE_KEYWORDS]
    lines = fresh(HOSTILE_KEYWORDS_SETUP + "".join(
        f"    print(outcome(lambda: {ours}), '|', outcome(lambda: {theirs}).split(':')[0])\n"
        for ours, theirs in calls), "-X", "dev").stdout.splitlines()
    assert [line.split(" | ")[0] for line in lines] == [text for _, _, text in HOSTILE_KEYWORDS]
    assert [line.split(" | ")[1] for line in lines] == [
        text.split(":")[0] for _, _, text in HOSTILE_KEYWORDS]


FUZZ = os.path.join(os.path.dirname(__file__), os.pardir, "tools", "fuzz_service.py")


@pytest.mark.skipif(not os.path.exists(FUZZ), reason="tools/ is not in this tree")
def test_random_calls_bind_as_inspect_signature_says(capsys):
    fuzz = runpy.run_path(FUZZ, run_name="fuzz_service")
    assert fuzz["main"](["--calls", "3000", "--seed", "11"]) == 0, capsys.readouterr().out
    assert svc.grpc is grpc


# Client stub

def test_stub_asks_the_channel_once_per_method():
    channel = Recorder()
    stub, other = svc.OstrelStub(channel=channel), svc.OstrelStub(channel)
    assert channel.log[:6] == [
        ("unary_unary", (path(name),), [("request_serializer", request.SerializeToString),
                                        ("response_deserializer", response.FromString)])
        for name, request, response in METHODS]
    assert list(vars(stub)) == NAMES
    assert all(getattr(stub, n) is not getattr(other, n) for n in NAMES)


def test_stub_failing_part_way_keeps_the_rows_before():
    stub = svc.OstrelStub.__new__(svc.OstrelStub)
    with pytest.raises(RuntimeError, match="call 4 fails"):
        stub.__init__(Recorder(fail_at=4))
    assert list(vars(stub)) == NAMES[:3]


def test_names_are_read_when_called(monkeypatch):
    class Other:
        FromString = staticmethod(lambda data: "other")
    monkeypatch.setattr(svc, "ostrel_dot_api_dot_common__pb2", type(sys)("fake"))
    svc.ostrel_dot_api_dot_common__pb2.Status = Other
    channel = Recorder()
    svc.OstrelStub(channel)
    assert channel.log[0][2][1] == ("response_deserializer", Other.FromString)
    monkeypatch.delitem(vars(svc), "grpc")
    with pytest.raises(NameError, match=r"^name 'grpc' is not defined$"):
        svc.Ostrel.connect(1, 2)
    monkeypatch.setattr("builtins.grpc", Recorder(), raising=False)  # the fallback
    svc.Ostrel.pullSystemState(1, 2)
    assert sys.modules["builtins"].grpc.log[0][0] == "experimental.unary_unary"


# Servicer base and registration

@pytest.mark.parametrize("name", NAMES)
def test_base_servicer_method_sets_status_and_raises(name):
    context, failing = Recorder(), Recorder(fail_at=1)
    with pytest.raises(NotImplementedError) as error:
        getattr(svc.OstrelServicer(), name)(None, context=context)
    assert error.value.args == (NOT_IMPLEMENTED,)
    assert context.log == [("set_code", (grpc.StatusCode.UNIMPLEMENTED,), []),
                           ("set_details", (NOT_IMPLEMENTED,), [])]
    with pytest.raises(RuntimeError):
        getattr(svc.OstrelServicer(), name)(None, failing)
    assert [call[0] for call in failing.log] == ["set_code"]


def test_registration_call_shapes(fake_grpc):
    class Servicer(svc.OstrelServicer):
        def pullSystemState(self, request, context): pass
    servicer, server = Servicer(), Recorder()
    assert svc.add_OstrelServicer_to_server(server=server, servicer=servicer) is None
    factory_calls, ((name, (service, handlers), keywords),) = fake_grpc[:6], fake_grpc[6:]
    assert factory_calls == [
        ("unary_unary_rpc_method_handler", (getattr(servicer, method),),
         [("request_deserializer", request.FromString),
          ("response_serializer", response.SerializeToString)])
        for method, request, response in METHODS]
    assert factory_calls[3][1][0].__func__ is Servicer.pullSystemState
    assert (name, service, keywords) == ("method_handlers_generic_handler",
                                         "ostrel.api.service.Ostrel", [])
    assert list(handlers) == NAMES
    ((method, (added,), kw),) = server.log
    assert (method, kw, type(added), len(added)) == ("add_generic_rpc_handlers", [], tuple, 1)


def test_registration_failing_never_touches_the_server(fake_grpc):
    class Partial:  # every method but runProgram
        connect = pushProjectSnapshot = pullProjectSnapshot = pullSystemState = \
            pullDataRecords = svc.OstrelServicer.connect
    server = Recorder()
    with pytest.raises(AttributeError, match="runProgram"):
        svc.add_OstrelServicer_to_server(Partial(), server)
    assert [c[0] for c in fake_grpc] == ["unary_unary_rpc_method_handler"] * 4
    assert server.log == []


# One-shot calls

@pytest.mark.parametrize("name, request_class, response_class", METHODS)
def test_one_shot_call_shape(fake_grpc, name, request_class, response_class):
    request, target, credentials = object(), object(), object()
    on_class = getattr(svc.Ostrel, name)(request, target)
    on_instance = getattr(svc.Ostrel(), name)(request, target=target, insecure=True,
                                              call_credentials=credentials)
    head = (request, target, path(name), request_class.SerializeToString,
            response_class.FromString, (), None)
    assert fake_grpc == [
        ("experimental.unary_unary", head + (False, None, None, None, None, None), []),
        ("experimental.unary_unary", head + (True, credentials, None, None, None, None), [])]
    assert on_class is not on_instance and type(on_class) is object


def test_one_shot_passes_every_argument_on(monkeypatch):
    monkeypatch.setattr(svc, "grpc", type(sys)("fake"))
    svc.grpc.experimental = type(sys)("experimental")
    svc.grpc.experimental.unary_unary = lambda *args: args
    result = svc.Ostrel.runProgram(*"abcdefghij")
    assert result[:2] + result[5:] == tuple("abcdfeghij")


# Failed import and reference hygiene

def test_service_descriptor_is_the_method_table():
    from google.protobuf import descriptor_pb2, descriptor_pool

    from ostrel.api import ostrel_service_pb2 as schema

    service = schema.DESCRIPTOR.services_by_name["Ostrel"]
    assert schema._OSTREL is service is descriptor_pool.Default().FindServiceByName(
        "ostrel.api.service.Ostrel")
    assert [(m.name, m.input_type, m.output_type) for m in service.methods] == [
        (name, request.DESCRIPTOR, response.DESCRIPTOR) for name, request, response in METHODS]
    assert not any(m.client_streaming or m.server_streaming for m in service.methods)
    # The stub's paths are the descriptor's.
    channel = Recorder()
    svc.OstrelStub(channel)
    assert [args[0] for _, args, _ in channel.log] == [
        "/%s/%s" % (service.full_name, m.name) for m in service.methods]
    # The serialized range of the service, as a protoc-made module gives it.
    own = descriptor_pb2.ServiceDescriptorProto()
    service.CopyToProto(own)
    file = descriptor_pb2.FileDescriptorProto.FromString(schema.DESCRIPTOR.serialized_pb)
    assert list(file.service) == [own] and list(file.dependency) == [
        "ostrel/api/%s.proto" % m for m in ("common", "data", "project", "service", "system")]


def test_service_module_does_not_load_the_service_schema(fresh):
    out = fresh("""
        import sys
        import ostrel.api.service_pb2_grpc
        print('ostrel.api.ostrel_service_pb2' in sys.modules)
        """).stdout.split()
    assert out == ["False"]


def test_import_fails_with_the_request_module_missing(fresh):
    out = fresh("""
        import sys
        sys.modules['ostrel.api.service_pb2'] = None
        try:
            import ostrel.api.service_pb2_grpc
        except ImportError as error:
            print(type(error).__name__, 'service_pb2' in str(error))
        print([m in sys.modules for m in ('grpc', 'ostrel.api.common_pb2',
              'ostrel.api.data_pb2', 'ostrel.api.project_pb2', 'ostrel.api.system_pb2',
              'ostrel.api.service_pb2_grpc', 'api.service_pb2_grpc')])
        del sys.modules['ostrel.api.service_pb2']
        import ostrel.api.service_pb2_grpc as m
        print(m.Ostrel.connect.__qualname__, sys.modules['api.service_pb2_grpc'] is m)
        """).stdout.splitlines()
    assert out == ["ModuleNotFoundError True", str([True] * 4 + [False] * 3),
                   "Ostrel.connect True"]


def test_calls_leak_nothing(monkeypatch):
    class Quiet:  # answers every attribute and call with itself
        def __getattr__(self, attr): return self
        def __call__(self, *args, **kwargs): return self
    quiet, failing = Quiet(), Recorder(fail_at=4)
    monkeypatch.setattr(svc, "grpc", quiet)
    servicer, request = svc.OstrelServicer(), S.ConnectRequest()
    failures = (lambda: svc.OstrelStub(failing), lambda: svc.Ostrel.connect(request),
                lambda: svc.Ostrel.connect(request, 1, bad=2),
                lambda: servicer.runProgram(request, quiet))

    def loop(n):
        for _ in range(n):
            svc.OstrelStub(quiet)
            svc.add_OstrelServicer_to_server(servicer, quiet)
            svc.Ostrel.connect(request, "target", timeout=1)
            svc.Ostrel().pullDataRecords(request, "target", (), None, None, True)
            for call in failures:
                failing.log.clear()
                try:
                    call()
                except (RuntimeError, TypeError, NotImplementedError):
                    pass

    loop(100)
    gc.collect()
    watched = (servicer, request, quiet)
    blocks, counts = sys.getallocatedblocks(), [sys.getrefcount(o) for o in watched]
    loop(20000)
    gc.collect()
    assert [sys.getrefcount(o) for o in watched] == counts
    assert sys.getallocatedblocks() - blocks < 1000


# Real gRPC over loopback

LOOPBACK = [  # method, request, response
    ("connect", S.ConnectRequest(client="cell-1"), C.Status(code=C.SUCCESS, message="hi")),
    ("pushProjectSnapshot", P.ProjectSnapshot(version="3"), C.Status(code=C.FAILURE)),
    ("pullProjectSnapshot", S.GenericRequest(), P.ProjectSnapshot(version="7")),
    ("pullSystemState", S.GenericRequest(), system_pb2.SystemState(status=C.Status(code=1))),
    ("runProgram", S.ProgramRequest(behavior="pick"), C.Status(message="running")),
    ("pullDataRecords", S.RecordsRequest(descriptions=["a"], since_ns=5),
     data_pb2.DataRecords(records=[data_pb2.RecordSet(description="a")])),
]


class Servicer(svc.OstrelServicer):
    """Answers each method with its response of LOOPBACK, keeping the requests."""
    received = []


for _method, _, _response in LOOPBACK:
    setattr(Servicer, _method, lambda self, request, context, r=_response:
            self.received.append(request) or r)


@pytest.fixture(scope="module")
def targets():
    servers, addresses = [], []
    for servicer in (Servicer(), svc.OstrelServicer()):
        server = grpc.server(futures.ThreadPoolExecutor(max_workers=4))
        svc.add_OstrelServicer_to_server(servicer, server)
        addresses.append(f"127.0.0.1:{server.add_insecure_port('127.0.0.1:0')}")
        server.start()
        servers.append(server)
    yield addresses
    for server in servers:
        server.stop(None)


@pytest.mark.parametrize("method, request_message, response", LOOPBACK, ids=NAMES)
def test_loopback_calls(targets, method, request_message, response):
    serving, base = targets
    Servicer.received.clear()
    with grpc.insecure_channel(serving) as channel:
        assert getattr(svc.OstrelStub(channel), method)(request_message, timeout=10) == response
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # the runtime marks its one-shot call experimental
        answer = getattr(svc.Ostrel, method)(request_message, serving, insecure=True, timeout=10)
    assert type(answer) is type(response) and answer == response
    assert Servicer.received == [request_message] * 2
    with grpc.insecure_channel(base) as channel, pytest.raises(grpc.RpcError) as error:
        getattr(svc.OstrelStub(channel), method)(request_message, timeout=10)
    assert (error.value.code(), error.value.details()) == (grpc.StatusCode.UNIMPLEMENTED,
                                                           NOT_IMPLEMENTED)


def test_loopback_unparsable_request_fails_and_the_server_keeps_serving(targets):
    with grpc.insecure_channel(targets[0]) as channel:
        with pytest.raises(grpc.RpcError) as error:
            channel.unary_unary(path("runProgram"))(b"\x0a\x05ab", timeout=10)  # cut short
        assert error.value.code() not in (grpc.StatusCode.OK, grpc.StatusCode.UNIMPLEMENTED)
        assert svc.OstrelStub(channel).runProgram(S.ProgramRequest(), timeout=10) == \
            C.Status(message="running")


@pytest.mark.skipif(not os.path.isdir("/proc/self/task"), reason="counts threads in /proc")
def test_a_child_forked_after_serving_runs_no_grpc_threads(targets, fresh):
    # The suite's children are forked on 3.9 (conftest.run_python); gRPC threads
    # restarted in them can abort them before exec, so conftest turns off
    # gRPC's fork support. The baseline is a fork of an interpreter that never
    # started a thread.
    baseline = fresh("import forked_threads; print(forked_threads.threads_of_a_forked_child())")
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)  # fork of a threaded process
        threads = forked_threads.threads_of_a_forked_child()
    assert threads == int(baseline.stdout)
