"""Connecting to an Ostrel server: one place that decides how a channel is set
up, used by the command line and by Python clients alike (`ostrel.connect`,
in `ostrel.connection`, builds the channel from the Transport made here).

Loopback targets (`localhost`, 127.0.0.0/8, `[::1]`, `unix:` paths) speak
plaintext unless a TLS option is given; every other target speaks TLS unless
`plaintext=True`. A token travels as `authorization: Bearer <token>` call
metadata, with any other headers, on every call.

Only the standard library is imported here, so that the command line can
check its arguments and print its help without the gRPC runtime. The failures of a call are turned into one
line each by `explain`, which names what went wrong in the handshake.
"""

from typing import Iterable, List, NamedTuple, Optional, Tuple

from ostrel import pem

from ostrel.connection.headers import ERR_HEADER_TOKEN, Header, check_header, check_token
from ostrel.connection.targets import check_target, is_loopback
from ostrel.protocol.metadata import BEARER, TOKEN_HEADER

PathOrData = pem.PathOrData

DEFAULT_PORT = 443  # gRPC's default for a target without a port

ERR_TLS_WITH_PLAINTEXT = "%s cannot be used with plaintext (--plaintext): they set up TLS"
ERR_CERT_WITHOUT_KEY = "a client certificate needs its key, and a key its certificate (--cert and --key)"

# Transport --------------------------------------------------------------------

class Transport(NamedTuple):
    """How to reach a server, checked: every file read, every header valid."""

    target: str
    plaintext: bool
    root_certificates: Optional[bytes]  # None: the system's roots
    certificate_chain: Optional[bytes]
    private_key: Optional[bytes]
    authority: Optional[str]
    metadata: Tuple[Header, ...]

    @property
    def has_token(self) -> bool:
        return any(name == TOKEN_HEADER for name, _ in self.metadata)


def transport(target: str, *, cacert: Optional[PathOrData] = None, cert: Optional[PathOrData] = None,
              key: Optional[PathOrData] = None, token: Optional[str] = None, authority: Optional[str] = None,
              plaintext: Optional[bool] = None, headers: Iterable[Header] = ()) -> Transport:
    """The checked Transport of these settings; ValueError (pem.PemError for
    the files) with a one-line text when they cannot work."""
    check_target(target)
    tls_options = [flag for flag, value in (("--cacert", cacert), ("--cert", cert), ("--key", key),
                                            ("--authority", authority)) if value is not None]
    if plaintext and tls_options:
        raise ValueError(ERR_TLS_WITH_PLAINTEXT % ", ".join(tls_options))
    if (cert is None) != (key is None):
        raise ValueError(ERR_CERT_WITHOUT_KEY)
    metadata: List[Header] = []
    for name, value in headers:
        check_header(name, value)
        metadata.append((name, value))
    if token is not None:
        if any(name == TOKEN_HEADER for name, _ in metadata):
            raise ValueError(ERR_HEADER_TOKEN)
        metadata.append((TOKEN_HEADER, BEARER + check_token(token)))
    if plaintext is None:
        plaintext = is_loopback(target) and not tls_options
    roots = chain = private = None
    if cacert is not None:
        roots = pem.certificates(cacert, "CA")[0]
    if cert is not None and key is not None:
        chain = pem.certificates(cert, "client certificate")[0]
        private = pem.private_key(key, "client key")
        pem.check_pair(chain, private, pem.describe(cert), pem.describe(key))
    return Transport(target, plaintext, roots, chain, private, authority, tuple(metadata))
