"""The failures of a call as one line each: what went wrong in the
handshake, with the token, and what to do about it."""

import re
from typing import Dict, NamedTuple, Optional, Tuple

from ostrel.connection.settings import Transport
from ostrel.connection.targets import checked_host


class _Reason(NamedTuple):
    pattern: "re.Pattern[str]"
    text: str  # formatted with the target, the detail caught by the pattern and a hint


def _reasons(*rows: Tuple[str, str]) -> Tuple[_Reason, ...]:
    return tuple(_Reason(re.compile(pattern, re.I), text) for pattern, text in rows)


# Read off the runtime's details of UNAVAILABLE; the first match wins.
_TLS_REASONS = _reasons(
    (r"(certificate has expired|certificate is not yet valid)",
     "the TLS handshake with %(target)s failed: the server's certificate is out of its validity period "
     "(%(detail)s); the server needs a renewed certificate, or this machine's clock is wrong"),
    (r"CERTIFICATE_VERIFY_FAILED: ([^:]+)",
     "the TLS handshake with %(target)s failed: the server's certificate is not trusted (%(detail)s); "
     "give the CA that signed it with --cacert"),
    (r"(Hostname Verification Check failed|is not in peer certificate)",
     "the TLS handshake with %(target)s failed: the server's certificate does not carry the name "
     "%(host)r; give the name it carries with --authority"),
    (r"(WRONG_VERSION_NUMBER|record overflow|http request|packet length too long)",
     "the TLS handshake with %(target)s failed: the server speaks plaintext; add --plaintext"),
    (r"(Socket closed|Connection reset)",
     "the TLS handshake with %(target)s failed: the server closed the connection; %(closed)s"),
    (r"(handshake failed|Failed to create security handshaker|SSL_ERROR[^:]*: [^:]+)",
     "the TLS handshake with %(target)s failed (%(detail)s)"),
)
_PLAINTEXT_REASONS = _reasons(
    (r"(Socket closed|Connection reset|GOAWAY|frame of size|FRAME_SIZE_ERROR)",
     "the connection to %(target)s was closed at once: the server probably speaks TLS; %(tls_hint)s"),
)
_ANY_REASONS = _reasons(
    (r"(Connection refused)",
     "cannot reach the Ostrel server at %(target)s: connection refused; is ostrel-server running?"),
    (r"(Domain name not found|hostname lookup error|DNS resolution failed|errors resolving)",
     "cannot reach the Ostrel server at %(target)s: the host name %(host)r does not resolve"),
    (r"(No such file or directory)",
     "cannot reach the Ostrel server at %(target)s: no such socket; is ostrel-server running?"),
    (r"(http1\.x server|Failed parsing HTTP/2|Expected SETTINGS frame)",
     "cannot reach the Ostrel server at %(target)s: the program listening there does not speak gRPC"),
    (r"(Permission denied)",
     "cannot reach the Ostrel server at %(target)s: permission denied"),
    (r"(Network is unreachable|No route to host|Connection timed out)",
     "cannot reach the Ostrel server at %(target)s: %(detail)s"),
)
ERR_UNAVAILABLE = "cannot reach the Ostrel server at %s (unavailable: %s)"
ERR_UNAUTHENTICATED = "the server at %s refused the call: %s (UNAUTHENTICATED)%s"
ERR_PERMISSION = "the server at %s refused this caller: %s (PERMISSION_DENIED)"
CLOSED_WITHOUT_CERT = "it probably wants a client certificate (--cert and --key)"
CLOSED_WITH_CERT = "it probably does not accept the client certificate, or speaks plaintext"
TLS_HINT_DEFAULT = "give its CA with --cacert"
TLS_HINT_EXPLICIT = "drop --plaintext"
TOKEN_HINT_NONE = "; give a token with --token-file or $OSTREL_TOKEN"


def explain(code: str, details: str, settings: Transport) -> Optional[str]:
    """One line on a failed call whose status code is named `code`, or None
    when the runtime's own details say it best. The token never appears:
    the texts name settings, not their values."""
    values: Dict[str, str] = {
        "target": settings.target, "host": settings.authority or checked_host(settings.target),
        "closed": CLOSED_WITH_CERT if settings.certificate_chain else CLOSED_WITHOUT_CERT,
        "tls_hint": TLS_HINT_EXPLICIT if settings.explicit_plaintext else TLS_HINT_DEFAULT,
    }
    if code == "UNAUTHENTICATED":
        return ERR_UNAUTHENTICATED % (settings.target, details, "" if settings.has_token else TOKEN_HINT_NONE)
    if code == "PERMISSION_DENIED":
        return ERR_PERMISSION % (settings.target, details)
    if code != "UNAVAILABLE":
        return None
    table = (_ANY_REASONS + (_PLAINTEXT_REASONS if settings.plaintext else _TLS_REASONS))
    for reason in table:
        match = reason.pattern.search(details)
        if match:
            return reason.text % dict(values, detail=match.group(1).strip())
    return ERR_UNAVAILABLE % (settings.target, details)
