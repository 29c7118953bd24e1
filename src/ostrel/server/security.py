"""Who may talk to the server: TLS credentials from PEM files, bearer tokens
checked by a server interceptor, and the rule that only loopback addresses
and local sockets may be served without TLS.

Every file is checked when the server starts, before anything listens, and
a fault is one line that names the file (`pem.PemError`, `ValueError`).
"""

import hashlib
import hmac
import logging
import os
from typing import TYPE_CHECKING, Any, NamedTuple, Optional, Tuple


import grpc

if TYPE_CHECKING:
    from typing_extensions import TypeAlias

    Handler: TypeAlias = "grpc.RpcMethodHandler[Any, Any]"

from ostrel.protocol.addresses import is_loopback_host
from ostrel.protocol import tokens
from ostrel.protocol.metadata import BEARER, TOKEN_HEADER

log = logging.getLogger("ostrel.server")

ERR_NEEDS_TLS = ("refusing to serve %s without TLS: anyone on the network could push projects and run "
                  "programs; give --tls-cert and --tls-key, or --insecure to accept that")
ERR_TOKENS_NEED_TLS = ("refusing to take tokens on %s without TLS: they would travel in clear; give "
                        "--tls-cert and --tls-key")
INSECURE_WARNING = "serving %s without TLS (--insecure): anyone who reaches it may use the service"
ERR_TOKENS_READ = "cannot read the token file %s: %s"
TOKENS_RELOADED = "read %d tokens from %s"
TOKENS_KEPT = "%s; keeping the %d tokens read before"
ERR_SHARED_SECRET = ("the %s file %s may be read by others (mode %04o): make it its owner's only (chmod 600), "
                     "or give --allow-shared-secret-files")
ERR_SOCKET = "cannot listen on unix:%s: %s"
ERR_SOCKET_TAKEN = "another server is listening there"
ERR_SOCKET_NOT_SOCKET = "the path exists and is not a socket"


# Listening --------------------------------------------------------------------

def is_local(host: str) -> bool:
    """True for a loopback address or a unix socket: nothing reaches it from outside."""
    return host.startswith("unix:") or is_loopback_host(host)


def check_exposure(host: str, tls: bool, tokens: bool, insecure: bool) -> bool:
    """True when the server would serve the network in clear, as `insecure`
    allows; ValueError when it does not, or when tokens would travel in clear."""
    if is_local(host) or tls:
        return False
    if tokens:
        raise ValueError(ERR_TOKENS_NEED_TLS % host)
    if not insecure:
        raise ValueError(ERR_NEEDS_TLS % host)
    return True


# TLS --------------------------------------------------------------------------

class TlsFiles(NamedTuple):
    cert: str
    key: str
    client_ca: Optional[str] = None


# Secrets ----------------------------------------------------------------------

def check_private(path: str, role: str, allow_shared: bool = False) -> None:
    """ValueError when the secret file `path` may be read or written by its
    group or others, as ssh refuses such a key, unless `allow_shared`.
    A file that cannot be read is left to the reading to report."""
    if allow_shared or os.name == "nt":  # Windows keeps access rights apart from the mode
        return
    try:
        mode = os.stat(path).st_mode & 0o777
    except OSError:
        return
    if mode & 0o077:
        raise ValueError(ERR_SHARED_SECRET % (role, path, mode))


# Tokens -----------------------------------------------------------------------

def _digest(token: bytes) -> bytes:
    # Compared as digests: equal lengths, so the comparison time tells nothing.
    return hashlib.sha256(token).digest()


def read_tokens(path: str, allow_shared: bool = False) -> Tuple[bytes, ...]:
    """The digests of the tokens of `path`: one a line, blank lines and `#`
    comments skipped; ValueError naming the file (never a token)."""
    check_private(path, "token", allow_shared)
    try:
        with open(path, encoding="utf-8") as handle:
            text = handle.read()
    except OSError as error:
        raise ValueError(ERR_TOKENS_READ % (path, error.strerror or error)) from None
    except UnicodeDecodeError:
        raise ValueError(ERR_TOKENS_READ % (path, "not UTF-8 text")) from None
    digests = [_digest(token.encode("ascii")) for _, token in tokens.token_lines(text, path)]
    if not digests:
        raise ValueError(tokens.ERR_NO_TOKEN % ("the token file %s" % path))
    return tuple(digests)


class TokenFile:
    """The tokens of a file, read again by `reload` (on SIGHUP)."""

    def __init__(self, path: str, allow_shared: bool = False) -> None:
        self.path = path
        self.allow_shared = allow_shared
        self._digests = read_tokens(path, allow_shared)

    @property
    def count(self) -> int:
        return len(self._digests)

    def reload(self) -> bool:
        """Reads the file again; when it cannot be used, keeps the tokens
        read before and logs one line."""
        try:
            digests = read_tokens(self.path, self.allow_shared)
        except ValueError as error:
            log.error(TOKENS_KEPT, error, len(self._digests))
            return False
        self._digests = digests  # one reference swapped: calls in flight see old or new
        log.info(TOKENS_RELOADED, len(digests), self.path)
        return True

    def accepts(self, token: bytes) -> bool:
        """True when `token` is one of the file's, compared in constant time
        against every token (no early end that would tell which matched)."""
        given = _digest(token)
        found = False
        for digest in self._digests:
            found |= hmac.compare_digest(given, digest)
        return found


def bearer_token(metadata: Any) -> Optional[bytes]:
    """The token of the call's `authorization: Bearer <token>`, if any."""
    for key, value in metadata or ():
        if key == TOKEN_HEADER:
            text = value.decode("latin-1") if isinstance(value, bytes) else value
            if text[:len(BEARER)].lower() == BEARER.lower():
                return text[len(BEARER):].strip().encode("latin-1")
    return None


# Health probes (load balancers, orchestrators) carry no token; they learn
# only whether the server is serving.
OPEN_METHODS = ("/grpc.health.v1.Health/",)


def socket_path(host: str) -> Optional[str]:
    """The file of a `unix:PATH` (or `unix:///PATH`) address."""
    if not host.startswith("unix:"):
        return None
    path = host[len("unix:"):]
    return path[2:] if path.startswith("///") else path


def prepare_socket(path: str) -> None:
    """ValueError when `path` is taken: a live socket, or not a socket at all.
    A socket left by a server that died is removed, as gRPC would."""
    import socket
    import stat

    try:
        mode = os.lstat(path).st_mode
    except FileNotFoundError:
        return
    except OSError as error:
        raise ValueError(ERR_SOCKET % (path, error.strerror or error)) from None
    if not stat.S_ISSOCK(mode):
        raise ValueError(ERR_SOCKET % (path, ERR_SOCKET_NOT_SOCKET))
    probe = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    try:
        probe.connect(path)
    except OSError:
        os.unlink(path)  # nothing answers: a stale socket
        return
    finally:
        probe.close()
    raise ValueError(ERR_SOCKET % (path, ERR_SOCKET_TAKEN))
