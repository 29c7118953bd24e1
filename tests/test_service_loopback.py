"""The service module over real gRPC on the loopback interface: a stub and
the one-shot calls against a servicer that implements every method, the base
servicer's UNIMPLEMENTED answers, and a request the server cannot parse."""

import warnings
from concurrent import futures

import grpc
import pytest

from ostrel.api import common_pb2, data_pb2, project_pb2, service_pb2, system_pb2
from ostrel.api import service_pb2_grpc as svc

S, C = service_pb2, common_pb2


class Servicer(svc.OstrelServicer):
    """Answers each method with a response that shows the request it parsed."""

    def connect(self, request, context):
        return C.Status(code=C.SUCCESS, message="hello " + request.client)

    def pushProjectSnapshot(self, request, context):
        return C.Status(code=C.SUCCESS, message=request.version)

    def pullProjectSnapshot(self, request, context):
        return project_pb2.ProjectSnapshot(version="7")

    def pullSystemState(self, request, context):
        return system_pb2.SystemState(status=C.Status(code=C.FAILURE))

    def runProgram(self, request, context):
        return C.Status(code=C.RUNNING, message="running " + request.behavior)

    def pullDataRecords(self, request, context):
        return data_pb2.DataRecords(records=[
            data_pb2.RecordSet(description=d, start_timestamp_ns=request.since_ns)
            for d in request.descriptions])


CALLS = [  # method, request, expected response
    ("connect", S.ConnectRequest(client="cell-1"), C.Status(code=C.SUCCESS, message="hello cell-1")),
    ("pushProjectSnapshot", project_pb2.ProjectSnapshot(version="3"),
     C.Status(code=C.SUCCESS, message="3")),
    ("pullProjectSnapshot", S.GenericRequest(), project_pb2.ProjectSnapshot(version="7")),
    ("pullSystemState", S.GenericRequest(), system_pb2.SystemState(status=C.Status(code=C.FAILURE))),
    ("runProgram", S.ProgramRequest(behavior="pick"), C.Status(message="running pick")),
    ("pullDataRecords", S.RecordsRequest(descriptions=["a", "b"], since_ns=5),
     data_pb2.DataRecords(records=[data_pb2.RecordSet(description="a", start_timestamp_ns=5),
                                   data_pb2.RecordSet(description="b", start_timestamp_ns=5)])),
]


def serve(servicer):
    server = grpc.server(futures.ThreadPoolExecutor(max_workers=4))
    svc.add_OstrelServicer_to_server(servicer, server)
    port = server.add_insecure_port("127.0.0.1:0")
    server.start()
    return server, f"127.0.0.1:{port}"


@pytest.fixture(scope="module")
def target():
    server, address = serve(Servicer())
    yield address
    server.stop(None)


@pytest.fixture(scope="module")
def base_target():
    server, address = serve(svc.OstrelServicer())
    yield address
    server.stop(None)


@pytest.mark.parametrize("method, request_message, expected", CALLS, ids=[c[0] for c in CALLS])
def test_stub_and_one_shot_calls(target, method, request_message, expected):
    with grpc.insecure_channel(target) as channel:
        stub = svc.OstrelStub(channel)
        assert getattr(stub, method)(request_message, timeout=10) == expected
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # the runtime marks its one-shot call experimental
        response = getattr(svc.Ostrel, method)(request_message, target, insecure=True, timeout=10)
    assert type(response) is type(expected) and response == expected


@pytest.mark.parametrize("method, request_message, expected", CALLS, ids=[c[0] for c in CALLS])
def test_base_servicer_answers_unimplemented(base_target, method, request_message, expected):
    with grpc.insecure_channel(base_target) as channel:
        with pytest.raises(grpc.RpcError) as error:
            getattr(svc.OstrelStub(channel), method)(request_message, timeout=10)
    assert error.value.code() == grpc.StatusCode.UNIMPLEMENTED
    assert error.value.details() == "Method not implemented!"


def test_unparsable_request_fails_and_the_server_keeps_serving(target):
    with grpc.insecure_channel(target) as channel:
        raw = channel.unary_unary("/ostrel.api.service.Ostrel/runProgram")
        with pytest.raises(grpc.RpcError) as error:
            raw(b"\x0a\x05ab", timeout=10)  # a string field cut short
        assert error.value.code() not in (grpc.StatusCode.OK, grpc.StatusCode.UNIMPLEMENTED)
        stub = svc.OstrelStub(channel)
        assert stub.runProgram(S.ProgramRequest(behavior="x"), timeout=10).message == "running x"
