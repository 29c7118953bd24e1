"""The service module against recording fakes: the exact calls that the stub,
the registration and the one-shot calls make, the base servicer, argument
errors, signatures, name resolution at call time, failure part-way, the
failed import and reference hygiene."""

import ctypes
import gc
import inspect
import sys
import time

import grpc
import pytest

from ostrel.api import common_pb2, data_pb2, project_pb2, service_pb2, system_pb2
from ostrel.api import service_pb2_grpc as svc

# Taken at import, before any test rebinds a name of the module.
NAMESPACE_ORDER = list(vars(svc))

S, C, P, Y, D = service_pb2, common_pb2, project_pb2, system_pb2, data_pb2
METHODS = [  # name, request class, response class
    ("connect", S.ConnectRequest, C.Status),
    ("pushProjectSnapshot", P.ProjectSnapshot, C.Status),
    ("pullProjectSnapshot", S.GenericRequest, P.ProjectSnapshot),
    ("pullSystemState", S.GenericRequest, Y.SystemState),
    ("runProgram", S.ProgramRequest, C.Status),
    ("pullDataRecords", S.RecordsRequest, D.DataRecords),
]
NAMES = [name for name, _, _ in METHODS]
NOT_IMPLEMENTED = "Method not implemented!"


def path(name):
    return "/ostrel.api.service.Ostrel/" + name


class Recorder:
    """Any attribute chain of it is callable; every call lands in one log as
    (dotted name, args, keyword items in order) and returns a fresh object."""

    def __init__(self, log=None, name="", fail=None):
        self.log = [] if log is None else log
        self._name, self._fail = name, fail

    def __getattr__(self, attr):
        if attr.startswith("__"):
            raise AttributeError(attr)
        return Recorder(self.log, f"{self._name}.{attr}".lstrip("."), self._fail)

    def __call__(self, *args, **kwargs):
        self.log.append((self._name, args, list(kwargs.items())))
        if self._fail is not None and self._fail(self._name, len(self.log)):
            raise RuntimeError(f"call {len(self.log)} fails")
        return object()


@pytest.fixture
def fake_grpc(monkeypatch):
    fake = Recorder()
    monkeypatch.setattr(svc, "grpc", fake)
    return fake.log


# Module and classes

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
    standard = {"__module__", "__dict__", "__weakref__", "__doc__"}
    assert [k for k in vars(cls) if k not in standard] == functions
    wrapped = [isinstance(vars(cls)[f], staticmethod) for f in functions]
    assert wrapped == [cls is svc.Ostrel] * len(functions)


# Reference functions with the signatures that the module's functions must show.
def __init__(self, channel): pass
def servicer_method(self, request, context): pass
def add_OstrelServicer_to_server(servicer, server): pass
def one_shot(request, target, options=(), channel_credentials=None, call_credentials=None,
             insecure=False, compression=None, wait_for_ready=None, timeout=None,
             metadata=None): pass


FUNCTIONS = ([(svc.OstrelStub.__init__, "OstrelStub.__init__", __init__),
              (svc.add_OstrelServicer_to_server, "add_OstrelServicer_to_server",
               add_OstrelServicer_to_server)]
             + [(getattr(svc.OstrelServicer, n), "OstrelServicer." + n, servicer_method)
                for n in NAMES]
             + [(getattr(svc.Ostrel, n), "Ostrel." + n, one_shot) for n in NAMES])


@pytest.mark.parametrize("function, qualname, reference", FUNCTIONS, ids=lambda x: None)
def test_functions_look_like_python_functions(function, qualname, reference):
    assert function.__qualname__ == qualname
    assert function.__name__ == qualname.rpartition(".")[2]
    assert function.__module__ == "api.service_pb2_grpc" and function.__doc__ is None
    assert (function.__kwdefaults__, function.__annotations__) == (None, {})
    assert function.__defaults__ == reference.__defaults__
    assert inspect.signature(function) == inspect.signature(reference)


def test_functions_bind_like_methods():
    servicer = svc.OstrelServicer()
    assert servicer.connect.__self__ is servicer
    assert servicer.connect.__func__ is vars(svc.OstrelServicer)["connect"]
    assert str(inspect.signature(svc.OstrelStub)) == "(channel)"
    assert str(inspect.signature(servicer.runProgram)) == "(request, context)"
    assert str(inspect.signature(svc.Ostrel().runProgram)).startswith("(request, target,")


# Argument errors: each call below with the TypeError it raises. Where a
# Python function words the fault the same way, the reference must agree.
def call_errors():
    s, servicer, cs = svc.OstrelStub, svc.OstrelServicer(), svc.Ostrel.connect
    ch = Recorder()
    return [
        (lambda: s(), "__init__() takes exactly 2 positional arguments (1 given)", None),
        (lambda: s(ch, ch), "__init__() takes exactly 2 positional arguments (3 given)", None),
        (lambda: s(chanel=ch), "__init__() takes exactly 2 positional arguments (1 given)", None),
        (lambda: s(ch, channel=ch),
         "__init__() got multiple values for keyword argument 'channel'", None),
        (lambda: s(ch, bogus=1), "__init__() got an unexpected keyword argument 'bogus'",
         lambda: __init__(None, ch, bogus=1)),
        (lambda: servicer.connect(None),
         "connect() takes exactly 3 positional arguments (2 given)", None),
        (lambda: svc.OstrelServicer.connect(None, None),
         "connect() takes exactly 3 positional arguments (2 given)", None),
        (lambda: svc.add_OstrelServicer_to_server(servicer),
         "add_OstrelServicer_to_server() takes exactly 2 positional arguments (1 given)", None),
        (lambda: cs(), "connect() takes at least 2 positional arguments (0 given)", None),
        (lambda: svc.Ostrel.pullSystemState(1),
         "pullSystemState() takes at least 2 positional arguments (1 given)", None),
        (lambda: cs(request=1, timeout=2),
         "connect() takes at least 2 positional arguments (1 given)", None),
        (lambda: cs(*range(11)), "connect() takes at most 10 positional arguments (11 given)",
         None),
        (lambda: cs(1, 2, 3, options=4),
         "connect() got multiple values for keyword argument 'options'", None),
        (lambda: cs(1, 2, retries=3), "connect() got an unexpected keyword argument 'retries'",
         lambda: one_shot(1, 2, retries=3)),
    ]


@pytest.mark.parametrize("index", range(len(call_errors())))
def test_argument_errors(fake_grpc, index):
    call, text, reference = call_errors()[index]
    with pytest.raises(TypeError) as error:
        call()
    assert str(error.value) == text
    if reference is not None:
        with pytest.raises(TypeError) as expected:
            reference()
        assert str(expected.value).partition("() ")[2] == text.partition("() ")[2]
    assert fake_grpc == []


def test_keywords_must_be_strings():
    # Only a call from C can hand over such a dictionary.
    call = ctypes.pythonapi.PyObject_Call
    call.restype, call.argtypes = ctypes.py_object, (ctypes.py_object,) * 3
    for function, text in [(svc.Ostrel.connect, "connect() keywords must be strings"),
                           (one_shot, "keywords must be strings")]:
        with pytest.raises(TypeError) as error:
            call(function, (1, 2), {1: 2})
        assert str(error.value) == text


# Client stub

def test_stub_asks_the_channel_once_per_method():
    channel = Recorder()
    stub, other = svc.OstrelStub(channel=channel), svc.OstrelStub(channel)
    assert channel.log[:6] == [
        ("unary_unary", (path(name),),
         [("request_serializer", request.SerializeToString),
          ("response_deserializer", response.FromString)])
        for name, request, response in METHODS]
    assert list(vars(stub)) == NAMES
    assert all(getattr(stub, n) is not getattr(other, n) for n in NAMES)


def test_stub_failing_part_way_keeps_the_rows_before():
    channel = Recorder(fail=lambda name, count: count == 4)
    stub = svc.OstrelStub.__new__(svc.OstrelStub)
    with pytest.raises(RuntimeError, match="call 4 fails"):
        stub.__init__(channel)
    assert list(vars(stub)) == NAMES[:3]


def test_names_are_read_when_called(monkeypatch):
    class Other:
        FromString = staticmethod(lambda data: "other")
    monkeypatch.setattr(svc, "ostrel_dot_api_dot_common__pb2", type(sys)("fake"))
    svc.ostrel_dot_api_dot_common__pb2.Status = Other
    channel = Recorder()
    svc.OstrelStub(channel)
    assert channel.log[0][2][1] == ("response_deserializer", Other.FromString)
    # A name missing from the namespace is looked up among the builtins.
    monkeypatch.delitem(vars(svc), "grpc")
    with pytest.raises(NameError, match=r"^name 'grpc' is not defined$"):
        svc.Ostrel.connect(1, 2)
    builtin_grpc = Recorder()
    monkeypatch.setattr("builtins.grpc", builtin_grpc, raising=False)
    svc.Ostrel.pullSystemState(1, 2)
    assert builtin_grpc.log[0][0] == "experimental.unary_unary"


# Servicer base and registration

@pytest.mark.parametrize("name", NAMES)
def test_base_servicer_method_sets_status_and_raises(name):
    context = Recorder()
    with pytest.raises(NotImplementedError) as error:
        getattr(svc.OstrelServicer(), name)(None, context=context)
    assert error.value.args == (NOT_IMPLEMENTED,)
    assert context.log == [("set_code", (grpc.StatusCode.UNIMPLEMENTED,), []),
                           ("set_details", (NOT_IMPLEMENTED,), [])]
    failing = Recorder(fail=lambda name, count: True)
    with pytest.raises(RuntimeError):
        getattr(svc.OstrelServicer(), name)(None, failing)
    assert [call[0] for call in failing.log] == ["set_code"]


def test_registration_call_shapes(fake_grpc):
    class Servicer(svc.OstrelServicer):
        def pullSystemState(self, request, context):
            pass
    servicer, server = Servicer(), Recorder()
    assert svc.add_OstrelServicer_to_server(server=server, servicer=servicer) is None
    factory_calls, (generic_call,) = fake_grpc[:6], fake_grpc[6:]
    assert factory_calls == [
        ("unary_unary_rpc_method_handler", (getattr(servicer, name),),
         [("request_deserializer", request.FromString),
          ("response_serializer", response.SerializeToString)])
        for name, request, response in METHODS]
    assert factory_calls[3][1][0].__func__ is Servicer.pullSystemState
    name, (service, handlers), keywords = generic_call
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
            response_class.FromString, ())
    assert fake_grpc == [
        ("experimental.unary_unary", head + (None, False, None, None, None, None, None), []),
        ("experimental.unary_unary", head + (None, True, credentials, None, None, None, None),
         [])]
    assert on_class is not on_instance and type(on_class) is object


def test_one_shot_passes_every_argument_on(monkeypatch):
    log = []
    monkeypatch.setattr(svc, "grpc", type(sys)("fake"))
    svc.grpc.experimental = type(sys)("experimental")
    svc.grpc.experimental.unary_unary = lambda *args: log.append(args) or args
    result = svc.Ostrel.runProgram(*"abcdefghij")
    assert log == [result]
    assert result[:2] + result[5:] == ("a", "b", "c", "d", "f", "e", "g", "h", "i", "j")


# Failed import and reference hygiene

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
    class Quiet:  # answers every call and attribute, keeps nothing
        def __getattr__(self, attr):
            return self
        def __call__(self, *args, **kwargs):
            return self
    quiet = Quiet()
    monkeypatch.setattr(svc, "grpc", quiet)
    failing = Recorder(fail=lambda name, count: count == 4)
    servicer, request = svc.OstrelServicer(), S.ConnectRequest()

    def loop(n):
        for _ in range(n):
            svc.OstrelStub(quiet)
            svc.add_OstrelServicer_to_server(servicer, quiet)
            svc.Ostrel.connect(request, "target", timeout=1)
            svc.Ostrel().pullDataRecords(request, "target", (), None, None, True)
            for call in (lambda: svc.OstrelStub(failing), lambda: svc.Ostrel.connect(request),
                         lambda: servicer.runProgram(request, quiet)):
                failing.log.clear()
                try:
                    call()
                except Exception:
                    pass

    loop(100)
    gc.collect()
    watched = (servicer, request, quiet)
    blocks, counts = sys.getallocatedblocks(), [sys.getrefcount(o) for o in watched]
    started = time.perf_counter()
    loop(20000)
    elapsed = time.perf_counter() - started
    gc.collect()
    assert [sys.getrefcount(o) for o in watched] == counts
    assert sys.getallocatedblocks() - blocks < 1000
    assert elapsed < 2.0
