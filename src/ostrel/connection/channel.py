"""`ostrel.connect`: a stub on a channel set up from the checked settings of
`ostrel.connection.settings` (credentials, the name checked in the server's certificate,
the call metadata added to every call), which closes its channel.

    with ostrel.connect("cell-7.lab:50051", cacert="lab-ca.pem", token=token) as stub:
        print(stub.pullSystemState(GenericRequest()).status)

The package loads this module (and gRPC) only when `ostrel.connect` is
first used."""

from typing import TYPE_CHECKING, Any, Callable, Iterable, List, Literal, Optional, Sequence, Tuple, TypeVar, Union, overload

from ostrel.connection.headers import Header
from ostrel.connection.settings import PathOrData, Transport, check
from ostrel.runtime_logs import quiet_grpc_logs

quiet_grpc_logs()  # before gRPC's first import; a setting of the caller's is kept
import grpc  # noqa: E402
import grpc.aio  # noqa: E402

from ostrel.api import service_pb2_grpc  # noqa: E402

if TYPE_CHECKING:
    from ostrel.api.service_pb2_grpc import OstrelAsyncStub as _AsyncStub
else:
    _AsyncStub = service_pb2_grpc.OstrelStub

# Records grow with every recording; take answers of any size.
DEFAULT_OPTIONS: Tuple[Tuple[str, Any], ...] = (("grpc.max_receive_message_length", -1),)

_Details = TypeVar("_Details", grpc.ClientCallDetails, grpc.aio.ClientCallDetails)


class OstrelConnection(service_pb2_grpc.OstrelStub):
    """An OstrelStub that owns its channel: `close()`, or a `with` block."""

    def __init__(self, channel: grpc.Channel, target: str) -> None:
        super().__init__(channel)
        self.channel = channel
        self.target = target

    def close(self) -> None:
        self.channel.close()

    def __enter__(self) -> "OstrelConnection":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()


class OstrelAsyncConnection(_AsyncStub):
    """An asyncio OstrelStub that owns its channel: `await close()`, or an
    `async with` block."""

    def __init__(self, channel: grpc.aio.Channel, target: str) -> None:
        super().__init__(channel)
        self.channel = channel
        self.target = target

    async def close(self) -> None:
        await self.channel.close()

    async def __aenter__(self) -> "OstrelAsyncConnection":
        return self

    async def __aexit__(self, *exc: object) -> None:
        await self.close()


Metadata = Tuple[Tuple[str, Union[str, bytes]], ...]


def _with_metadata(details: _Details, extra: Sequence[Header]) -> Metadata:
    # Any: the gRPC stubs of different releases type a call's metadata differently.
    metadata: Any = details.metadata or ()
    return tuple(metadata) + tuple(extra)


class _CallDetails(grpc.ClientCallDetails):
    def __init__(self, details: grpc.ClientCallDetails, metadata: Metadata) -> None:
        self.method = details.method
        self.timeout = details.timeout
        self.metadata = metadata
        self.credentials = details.credentials
        self.wait_for_ready = getattr(details, "wait_for_ready", None)
        self.compression = getattr(details, "compression", None)


class _Metadata(grpc.UnaryUnaryClientInterceptor):
    """Adds the same headers to every call."""

    def __init__(self, headers: Sequence[Header]) -> None:
        self.headers = headers

    def intercept_unary_unary(self, continuation: Callable[[grpc.ClientCallDetails, Any], Any],
                              client_call_details: grpc.ClientCallDetails, request: Any) -> Any:
        return continuation(_CallDetails(client_call_details, _with_metadata(client_call_details, self.headers)),
                            request)


class _AsyncMetadata(grpc.aio.UnaryUnaryClientInterceptor):
    """Adds the same headers to every call of an asyncio channel."""

    def __init__(self, headers: Sequence[Header]) -> None:
        self.headers = headers

    async def intercept_unary_unary(self, continuation: Callable[[grpc.aio.ClientCallDetails, Any], Any],
                                    client_call_details: grpc.aio.ClientCallDetails, request: Any) -> Any:
        given = client_call_details
        details = grpc.aio.ClientCallDetails(given.method, given.timeout,
                                             grpc.aio.Metadata(*_with_metadata(given, self.headers)),
                                             given.credentials, given.wait_for_ready)
        return await continuation(details, request)


def _options(settings: Transport, extra: Sequence[Tuple[str, Any]]) -> List[Tuple[str, Any]]:
    options = list(DEFAULT_OPTIONS)
    if settings.authority is not None:
        options.append(("grpc.ssl_target_name_override", settings.authority))
        options.append(("grpc.default_authority", settings.authority))
    return options + list(extra)


def _credentials(settings: Transport) -> Optional[grpc.ChannelCredentials]:
    if settings.plaintext:
        return None
    return grpc.ssl_channel_credentials(root_certificates=settings.root_certificates,
                                        private_key=settings.private_key,
                                        certificate_chain=settings.certificate_chain)


def open_connection(settings: Transport, aio: bool = False, options: Sequence[Tuple[str, Any]] = ()
                    ) -> Union[OstrelConnection, OstrelAsyncConnection]:
    """A connection set up as `settings` say."""
    credentials = _credentials(settings)
    all_options = _options(settings, options)
    if aio:
        interceptors = [_AsyncMetadata(settings.metadata)] if settings.metadata else None
        if credentials is None:
            aio_channel = grpc.aio.insecure_channel(settings.target, all_options, interceptors=interceptors)
        else:
            aio_channel = grpc.aio.secure_channel(settings.target, credentials, all_options,
                                                  interceptors=interceptors)
        return OstrelAsyncConnection(aio_channel, settings.target)
    if credentials is None:
        channel = grpc.insecure_channel(settings.target, all_options)
    else:
        channel = grpc.secure_channel(settings.target, credentials, all_options)
    if settings.metadata:
        # The connection closes the intercepted channel, which closes the one below.
        channel = grpc.intercept_channel(channel, _Metadata(settings.metadata))
    return OstrelConnection(channel, settings.target)


@overload
def connect(target: str, *, cacert: Optional[PathOrData] = ..., cert: Optional[PathOrData] = ...,
            key: Optional[PathOrData] = ..., token: Optional[str] = ..., token_file: Optional[str] = ...,
            authority: Optional[str] = ..., plaintext: Optional[bool] = ..., plaintext_token: bool = ...,
            headers: Iterable[Header] = ..., aio: Literal[False] = ...,
            options: Sequence[Tuple[str, Any]] = ...) -> OstrelConnection: ...


@overload
def connect(target: str, *, cacert: Optional[PathOrData] = ..., cert: Optional[PathOrData] = ...,
            key: Optional[PathOrData] = ..., token: Optional[str] = ..., token_file: Optional[str] = ...,
            authority: Optional[str] = ..., plaintext: Optional[bool] = ..., plaintext_token: bool = ...,
            headers: Iterable[Header] = ..., aio: Literal[True],
            options: Sequence[Tuple[str, Any]] = ...) -> OstrelAsyncConnection: ...


def connect(target: str, *, cacert: Optional[PathOrData] = None, cert: Optional[PathOrData] = None,
            key: Optional[PathOrData] = None, token: Optional[str] = None, token_file: Optional[str] = None,
            authority: Optional[str] = None, plaintext: Optional[bool] = None, plaintext_token: bool = False,
            headers: Iterable[Header] = (), aio: bool = False,
            options: Sequence[Tuple[str, Any]] = ()) -> Union[OstrelConnection, OstrelAsyncConnection]:
    """An OstrelStub on a new channel to `target`, closed by `close()` or at
    the end of a `with` (`async with` for `aio=True`) block.

    cacert: PEM roots to trust (path or bytes; default: the system's roots).
    cert, key: the client certificate and its key, for mutual TLS.
    token: sent as `authorization: Bearer <token>` on every call.
    token_file: a file holding the token (blank lines, `#` comments skipped).
    authority: the name to check in the server's certificate, for a target
        given by address.
    plaintext: None picks plaintext when every address of the target is on
        this machine and no TLS setting is given, TLS otherwise; True or
        False decides.
    plaintext_token: send the token over plaintext to a target off this
        machine too (refused otherwise: anyone on the way could read it).
    headers: (name, value) pairs added to every call's metadata; a `-bin`
        header's value is bytes, or text read as base64.
    options: further gRPC channel options.

    ValueError with a one-line text that names the settings at fault by
    their keywords (settings.SettingError) or the file (pem.PemError), and
    never a token, a key or a header's value.
    """
    settings = check(target, cacert=cacert, cert=cert, key=key, token=token, token_file=token_file,
                     authority=authority, plaintext=plaintext, plaintext_token=plaintext_token, headers=headers)
    return open_connection(settings, aio=aio, options=options)
