"""A client that knows nothing of the Ostrel API but a server's address.

    python examples/reflection_client.py localhost:50051 examples/pick_and_place.json

It needs only grpcio, grpcio-reflection and protobuf: it lists the services
by server reflection, fetches the file descriptors of the Ostrel service,
builds the message classes from them at run time, and calls connect,
pushProjectSnapshot (the project read from the JSON file) and pullSystemState.
"""

import sys

import grpc
from google.protobuf import descriptor_pb2, descriptor_pool, json_format, message_factory
from grpc_reflection.v1alpha import reflection_pb2, reflection_pb2_grpc

SERVICE_SUFFIX = ".Ostrel"  # the one service of ours among those listed
TIMEOUT_S = 10


def ask(stub, **request):
    """One reflection request, one answer."""
    (answer,) = stub.ServerReflectionInfo(iter([reflection_pb2.ServerReflectionRequest(**request)]),
                                          timeout=TIMEOUT_S)
    if answer.HasField("error_response"):
        raise SystemExit("reflection refused %s: %s" % (request, answer.error_response.error_message))
    return answer


def load_files(pool, serialized):
    """Add the files to the pool, each after the files it imports."""
    files = {f.name: f for f in (descriptor_pb2.FileDescriptorProto.FromString(s) for s in serialized)}
    added = set()

    def add(name):
        if name in added:
            return
        for dependency in files[name].dependency:
            add(dependency)
        pool.Add(files[name])
        added.add(name)

    for name in sorted(files):
        add(name)
    return sorted(files)


def call(channel, method, request):
    answer_class = message_factory.GetMessageClass(method.output_type)
    path = "/%s/%s" % (method.containing_service.full_name, method.name)
    unary = channel.unary_unary(path, request_serializer=lambda m: m.SerializeToString(),
                                response_deserializer=answer_class.FromString)
    return unary(request, timeout=TIMEOUT_S)


def request_of(method, **fields):
    return message_factory.GetMessageClass(method.input_type)(**fields)


def main(target, project_file):
    channel = grpc.insecure_channel(target, options=[("grpc.max_receive_message_length", -1)])
    reflection = reflection_pb2_grpc.ServerReflectionStub(channel)

    services = [s.name for s in ask(reflection, list_services="").list_services_response.service]
    print("services: %s" % ", ".join(services))
    (name,) = [s for s in services if s.endswith(SERVICE_SUFFIX)]

    answer = ask(reflection, file_containing_symbol=name)
    pool = descriptor_pool.DescriptorPool()
    files = load_files(pool, answer.file_descriptor_response.file_descriptor_proto)
    service = pool.FindServiceByName(name)
    print("file descriptors: %d, %s and the files it imports" % (len(files), service.file.name))
    for method in service.methods:
        print("  rpc %s(%s) returns (%s)" % (method.name, method.input_type.full_name,
                                            method.output_type.full_name))
    methods = service.methods_by_name

    status = call(channel, methods["connect"], request_of(methods["connect"], client="reflection client"))
    print("connect: %s" % status.message)

    project = request_of(methods["pushProjectSnapshot"])
    with open(project_file, encoding="utf-8") as handle:
        json_format.Parse(handle.read(), project, descriptor_pool=pool)
    status = call(channel, methods["pushProjectSnapshot"], project)
    print("pushProjectSnapshot: %s" % status.message)

    state = call(channel, methods["pullSystemState"], request_of(methods["pullSystemState"]))
    code = state.status.DESCRIPTOR.fields_by_name["code"].enum_type.values_by_number[state.status.code].name
    print("pullSystemState: %s %s; workspace state of %d robots and %d items"
          % (code, state.status.message, len(state.workspace.robots), len(state.workspace.items)))
    channel.close()


if __name__ == "__main__":
    main(*sys.argv[1:])
