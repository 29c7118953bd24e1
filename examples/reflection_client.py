"""A client that knows nothing of the Ostrel API but a server's address.

    python examples/reflection_client.py localhost:50051 examples/pick_and_place.json
    python examples/reflection_client.py --cacert ca.pem --token-file token cell-7.lab:50051 project.json

It needs only grpcio, grpcio-reflection and protobuf: it lists the services
by server reflection, fetches the file descriptors of the Ostrel service,
builds the message classes from them at run time, and calls connect,
pushProjectSnapshot (the project read from the JSON file) and pullSystemState.

It connects as the `ostrel` command line does: plaintext to a loopback
address or a local socket unless a TLS option is given, TLS to anything else
unless --plaintext is given; a token (--token-file, or $OSTREL_TOKEN) is sent
as `authorization: Bearer <token>`, and never in clear off this machine.
Every failure is one line on stderr and exit code 2.
"""

import argparse
import ipaddress
import os
import sys

# The runtime's own log lines would come before ours on stderr; set before it loads.
os.environ.setdefault("GRPC_VERBOSITY", "NONE")

import grpc  # noqa: E402
from google.protobuf import descriptor_pb2, descriptor_pool, json_format, message_factory  # noqa: E402
from grpc_reflection.v1alpha import reflection_pb2, reflection_pb2_grpc  # noqa: E402

SERVICE_SUFFIX = ".Ostrel"  # the one service of ours among those listed
TIMEOUT_S = 10
EXIT_ERROR = 2
TOKEN_VARIABLE = "OSTREL_TOKEN"
ERR_PLAINTEXT_WITH_TLS = "--plaintext cannot be used with %s"
ERR_KEY_PAIR = "--cert and --key go together"
ERR_TOKEN_IN_CLEAR = ("refusing to send the token in clear to %s: give --cacert (or drop --plaintext) "
                      "to speak TLS")
ERR_TOKEN_FILE = "the token file %s must hold one token on one line (blank and # lines are skipped)"
ERR_FILE = "cannot read %s: %s"
ERR_PROJECT = "%s is not a project in protobuf JSON: %s"
ERR_CALL = "%s answered %s: %s"
# What to try, by the code of a failed call and whether it went in clear.
HINTS = {
    ("UNAVAILABLE", True): "is the server up, and does it speak TLS? then give --cacert",
    ("UNAVAILABLE", False): ("is the server up, and is its certificate trusted (--cacert) and for this "
                             "name (--authority)? a plaintext server needs --plaintext"),
    ("UNAUTHENTICATED", True): "give a token with --token-file or $" + TOKEN_VARIABLE,
    ("UNAUTHENTICATED", False): "give a token with --token-file or $" + TOKEN_VARIABLE,
}


class Failure(Exception):
    """A failure explained in one line."""


def parse_arguments(argv):
    parser = argparse.ArgumentParser(
        prog="reflection_client.py",
        description="Discover the Ostrel service by server reflection, push a project and read the state.")
    parser.add_argument("target", metavar="TARGET", help="server address host:port or unix:PATH")
    parser.add_argument("project", metavar="PROJECT.json", help="the project to push, as protobuf JSON")
    parser.add_argument("--cacert", metavar="FILE", help="PEM CA certificates to trust (default: the system's)")
    parser.add_argument("--cert", metavar="FILE", help="PEM client certificate, for mutual TLS (with --key)")
    parser.add_argument("--key", metavar="FILE", help="PEM private key of --cert")
    parser.add_argument("--authority", metavar="NAME", help="the name to check in the server's certificate")
    parser.add_argument("--token-file", metavar="FILE",
                        help="send the token in FILE as a bearer token (default: $%s)" % TOKEN_VARIABLE)
    parser.add_argument("--plaintext", action="store_true",
                        help="plaintext gRPC (the default for loopback targets only)")
    args = parser.parse_args(argv)
    tls_options = [name for name in ("cacert", "cert", "key", "authority") if getattr(args, name)]
    if args.plaintext and tls_options:
        parser.error(ERR_PLAINTEXT_WITH_TLS % ", ".join("--" + name for name in tls_options))
    if (args.cert is None) != (args.key is None):
        parser.error(ERR_KEY_PAIR)
    return args, bool(tls_options)


def is_loopback(target):
    """True for a local socket or a host:port whose host is a loopback name or
    address; any other form (a list of addresses, a resolver) is taken as remote."""
    if target.startswith(("unix:", "unix-abstract:")):
        return True
    if target.startswith("["):
        host = target[1:].partition("]")[0]
    else:
        host = target.rpartition(":")[0] if ":" in target else target
    if host.lower() == "localhost":
        return True
    try:
        return ipaddress.ip_address(host).is_loopback
    except ValueError:
        return False


def read_file(path, mode="rb"):
    try:
        with open(path, mode) as handle:
            return handle.read()
    except (OSError, UnicodeDecodeError) as error:
        raise Failure(ERR_FILE % (path, getattr(error, "strerror", None) or error)) from None


def read_token(args):
    if args.token_file is None:
        return os.environ.get(TOKEN_VARIABLE) or None
    lines = [line.strip() for line in read_file(args.token_file, "r").splitlines()]
    tokens = [line for line in lines if line and not line.startswith("#")]
    if len(tokens) != 1 or any(c.isspace() or not c.isprintable() for c in tokens[0]):
        raise Failure(ERR_TOKEN_FILE % args.token_file)
    return tokens[0]


def open_channel(args, wants_tls):
    """The channel to the target, and whether it speaks plaintext."""
    plaintext = args.plaintext or (not wants_tls and is_loopback(args.target))
    token = read_token(args)
    if token is not None and plaintext and not is_loopback(args.target):
        raise Failure(ERR_TOKEN_IN_CLEAR % args.target)
    options = [("grpc.max_receive_message_length", -1)]
    metadata = (("authorization", "Bearer " + token),) if token is not None else ()
    if plaintext:
        channel = grpc.insecure_channel(args.target, options=options)
    else:
        if args.authority is not None:
            options += [("grpc.ssl_target_name_override", args.authority),
                        ("grpc.default_authority", args.authority)]
        credentials = grpc.ssl_channel_credentials(
            root_certificates=read_file(args.cacert) if args.cacert else None,
            private_key=read_file(args.key) if args.key else None,
            certificate_chain=read_file(args.cert) if args.cert else None)
        channel = grpc.secure_channel(args.target, credentials, options=options)
    return channel, metadata, plaintext


def explain(target, error, plaintext):
    code = error.code().name if error.code() is not None else "UNKNOWN"
    line = ERR_CALL % (target, code, " ".join((error.details() or "").split()))
    hint = HINTS.get((code, plaintext))
    return "%s (%s)" % (line, hint) if hint else line


def ask(stub, metadata, **request):
    """One reflection request, one answer."""
    (answer,) = stub.ServerReflectionInfo(iter([reflection_pb2.ServerReflectionRequest(**request)]),
                                          timeout=TIMEOUT_S, metadata=metadata)
    if answer.HasField("error_response"):
        raise Failure("reflection refused %s: %s" % (request, answer.error_response.error_message))
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


def call(channel, metadata, method, request):
    answer_class = message_factory.GetMessageClass(method.output_type)
    path = "/%s/%s" % (method.containing_service.full_name, method.name)
    unary = channel.unary_unary(path, request_serializer=lambda m: m.SerializeToString(),
                                response_deserializer=answer_class.FromString)
    return unary(request, timeout=TIMEOUT_S, metadata=metadata)


def request_of(method, **fields):
    return message_factory.GetMessageClass(method.input_type)(**fields)


def talk(channel, metadata, project_file):
    reflection = reflection_pb2_grpc.ServerReflectionStub(channel)

    services = [s.name for s in ask(reflection, metadata, list_services="").list_services_response.service]
    print("services: %s" % ", ".join(services))
    (name,) = [s for s in services if s.endswith(SERVICE_SUFFIX)]

    answer = ask(reflection, metadata, file_containing_symbol=name)
    pool = descriptor_pool.DescriptorPool()
    files = load_files(pool, answer.file_descriptor_response.file_descriptor_proto)
    service = pool.FindServiceByName(name)
    print("file descriptors: %d, %s and the files it imports" % (len(files), service.file.name))
    for method in service.methods:
        print("  rpc %s(%s) returns (%s)" % (method.name, method.input_type.full_name,
                                            method.output_type.full_name))
    methods = service.methods_by_name

    status = call(channel, metadata, methods["connect"],
                  request_of(methods["connect"], client="reflection client"))
    print("connect: %s" % status.message)

    project = request_of(methods["pushProjectSnapshot"])
    try:
        json_format.Parse(read_file(project_file), project, descriptor_pool=pool)
    except json_format.ParseError as error:
        raise Failure(ERR_PROJECT % (project_file, error)) from None
    status = call(channel, metadata, methods["pushProjectSnapshot"], project)
    print("pushProjectSnapshot: %s" % status.message)

    state = call(channel, metadata, methods["pullSystemState"], request_of(methods["pullSystemState"]))
    code = state.status.DESCRIPTOR.fields_by_name["code"].enum_type.values_by_number[state.status.code].name
    print("pullSystemState: %s %s; workspace state of %d robots and %d items"
          % (code, state.status.message, len(state.workspace.robots), len(state.workspace.items)))


def main(argv):
    args, wants_tls = parse_arguments(argv)
    try:
        channel, metadata, plaintext = open_channel(args, wants_tls)
        with channel:
            try:
                talk(channel, metadata, args.project)
            except grpc.RpcError as error:
                raise Failure(explain(args.target, error, plaintext)) from None
    except Failure as failure:
        sys.stderr.write("reflection_client.py: %s\n" % failure)
        return EXIT_ERROR
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
