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

import ipaddress
import os
import re
import sys
from typing import Any, Dict, Iterable, List, Mapping, NamedTuple, Optional, Tuple, cast

from ostrel import pem

__all__ = ["Transport", "explain", "is_loopback", "parse_header", "transport"]

PathOrData = pem.PathOrData
Header = Tuple[str, str]

DEFAULT_PORT = 443  # gRPC's default for a target without a port
TOKEN_HEADER = "authorization"
BEARER = "Bearer "

ERR_PORT = "the port of %r must be 1 to 65535"
ERR_TLS_WITH_PLAINTEXT = "%s cannot be used with plaintext (--plaintext): they set up TLS"
ERR_CERT_WITHOUT_KEY = "a client certificate needs its key, and a key its certificate (--cert and --key)"
ERR_HEADER_FORM = "a header must be given as 'name: value', got %r"
ERR_HEADER_NAME = ("header name %r is not allowed: gRPC takes lower-case letters, digits, '-', '_' "
                    "and '.', and reserves names starting with 'grpc-'")
ERR_HEADER_RESERVED = "header name %r is set by gRPC itself and cannot be given"
ERR_HEADER_VALUE = "the value of header %r must be printable ASCII"
ERR_HEADER_TOKEN = "header 'authorization' cannot be given together with a token"
ERR_TOKEN_EMPTY = "the token%s is empty"
ERR_TOKEN_CHARS = "the token%s holds characters a header cannot carry (spaces, control or non-ASCII)"
ERR_TOKEN_READ = "cannot read the token file %s: %s"

# HTTP/2 and gRPC set these themselves; a user value would clash with theirs.
RESERVED_HEADERS = frozenset({"content-type", "te", "host", "connection", "keep-alive", "proxy-connection",
                              "transfer-encoding", "upgrade"})
_HEADER_NAME = re.compile(r"[0-9a-z_.-]+\Z")
_HEADER_VALUE = re.compile(r"[\x20-\x7e]*\Z")
_TOKEN = re.compile(r"[\x21-\x7e]+\Z")


def quiet_grpc_logs(force: bool = False) -> None:
    """Keeps the gRPC runtime's own log lines off stderr: set before grpc is
    first imported. The programs force it (their stderr carries their own
    one-line errors); a library user's setting is kept."""
    if force:
        os.environ["GRPC_VERBOSITY"] = "NONE"
    else:
        os.environ.setdefault("GRPC_VERBOSITY", "NONE")


# Targets ----------------------------------------------------------------------

_UNIX_SCHEMES = ("unix:", "unix-abstract:")
_ADDRESS_SCHEMES = ("dns:", "ipv4:", "ipv6:")


def split_host_port(address: str) -> Tuple[str, Optional[str]]:
    """host and port text of `host:port`, `[v6]:port`, `host` or a bare IPv6 address."""
    if address.startswith("["):
        host, _, rest = address[1:].partition("]")
        return host, rest[1:] if rest.startswith(":") else None
    if address.count(":") > 1:  # a bare IPv6 address
        return address, None
    host, colon, port = address.partition(":")
    return host, port if colon else None


def _address(target: str) -> Optional[str]:
    """The host[:port] part of a network target, None for a socket path."""
    if target.startswith(_UNIX_SCHEMES):
        return None
    for scheme in _ADDRESS_SCHEMES:
        if target.startswith(scheme):
            target = target[len(scheme):]
            if target.startswith("//"):  # dns://authority/host:port
                target = target[2:].partition("/")[2]
            return target.split(",")[0]
    return target


def is_loopback_host(host: str) -> bool:
    host = host.strip("[]").lower()
    if host == "localhost" or host.endswith(".localhost"):
        return True
    try:
        return ipaddress.ip_address(host.split("%")[0]).is_loopback
    except ValueError:
        return False


def is_loopback(target: str) -> bool:
    """True for targets that never leave this machine: loopback names and
    addresses, and local sockets."""
    address = _address(target)
    return address is None or is_loopback_host(split_host_port(address)[0])


def check_target(target: str) -> None:
    """ValueError when the target's port is out of range (gRPC would take
    99999 as another port, modulo 65536)."""
    address = _address(target)
    if address is None:
        return
    port = split_host_port(address)[1]
    if port is not None and not (port.isdigit() and 0 < int(port) <= 65535):
        raise ValueError(ERR_PORT % target)


# Metadata ---------------------------------------------------------------------

def parse_header(text: str) -> Header:
    """('name', 'value') of a 'Name: value' text; ValueError when gRPC would refuse it."""
    name, colon, value = text.partition(":")
    if not colon or not name.strip():
        raise ValueError(ERR_HEADER_FORM % text)
    header = name.strip().lower(), value.strip()
    check_header(*header)
    return header


def check_header(name: str, value: str) -> None:
    if not _HEADER_NAME.match(name) or name.startswith("grpc-"):
        raise ValueError(ERR_HEADER_NAME % name)
    if name in RESERVED_HEADERS:
        raise ValueError(ERR_HEADER_RESERVED % name)
    if not name.endswith("-bin") and not _HEADER_VALUE.match(value):
        raise ValueError(ERR_HEADER_VALUE % name)


def check_token(token: str, origin: str = "") -> str:
    """The token, checked without ever putting it into an error text."""
    token = token.strip()
    if not token:
        raise ValueError(ERR_TOKEN_EMPTY % origin)
    if not _TOKEN.match(token):
        raise ValueError(ERR_TOKEN_CHARS % origin)
    return token


def read_token_file(path: str) -> str:
    try:
        with open(path, encoding="utf-8") as handle:
            text = handle.read()
    except OSError as error:
        raise ValueError(ERR_TOKEN_READ % (path, error.strerror or error)) from None
    except UnicodeDecodeError:
        raise ValueError(ERR_TOKEN_CHARS % (" in %s" % path)) from None
    return check_token(text, " in %s" % path)


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


# Explaining failures ----------------------------------------------------------

class _Reason(NamedTuple):
    pattern: "re.Pattern[str]"
    text: str  # formatted with the target, the detail caught by the pattern and a hint


def _reasons(*rows: Tuple[str, str]) -> Tuple[_Reason, ...]:
    return tuple(_Reason(re.compile(pattern, re.I), text) for pattern, text in rows)


# Read off the runtime's details of UNAVAILABLE; the first match wins.
_TLS_REASONS = _reasons(
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


def _target_host(target: str) -> str:
    address = _address(target)
    return target if address is None else split_host_port(address)[0]


def explain(code: str, details: str, settings: Transport, explicit_plaintext: bool = False) -> Optional[str]:
    """One line on a failed call whose status code is named `code`, or None
    when the runtime's own details say it best. The token never appears:
    the texts name settings, not their values."""
    values: Dict[str, str] = {
        "target": settings.target, "host": settings.authority or _target_host(settings.target),
        "closed": CLOSED_WITH_CERT if settings.certificate_chain else CLOSED_WITHOUT_CERT,
        "tls_hint": TLS_HINT_EXPLICIT if explicit_plaintext else TLS_HINT_DEFAULT,
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


# Configuration ----------------------------------------------------------------

ERR_CONFIG = "%s: %s"
ERR_CONFIG_READ = "cannot read %s"
ERR_CONFIG_TOML = "not valid TOML: %s"
ERR_CONFIG_KEY = "profile %r: unknown setting %r (known: %s)"
ERR_CONFIG_TYPE = "profile %r: %r must be %s"
ERR_CONFIG_PROFILE = "no profile %r (profiles: %s)"
ERR_CONFIG_MISSING = "no configuration file for --profile %r (looked for %s)"
ERR_CONFIG_TABLE = "%r must be a table of profiles"
ERR_CONFIG_DEFAULT = "'default' must name a profile"

# Setting name in the file -> (type, description, whether a relative path).
PROFILE_SETTINGS: Mapping[str, Tuple[type, str, bool]] = {
    "target": (str, "a text", False),
    "cacert": (str, "a path", True),
    "cert": (str, "a path", True),
    "key": (str, "a path", True),
    "token-file": (str, "a path", True),
    "token": (str, "a text", False),
    "authority": (str, "a text", False),
    "plaintext": (bool, "true or false", False),
    "headers": (list, "a list of 'name: value' texts", False),
}


class ConfigError(ValueError):
    """A configuration file that cannot be used; the text is one line."""


def config_path() -> str:
    """$OSTREL_CONFIG, else ostrel/config.toml in $XDG_CONFIG_HOME (~/.config)."""
    explicit = os.environ.get("OSTREL_CONFIG")
    if explicit:
        return explicit
    base = os.environ.get("XDG_CONFIG_HOME") or os.path.join(os.path.expanduser("~"), ".config")
    return os.path.join(base, "ostrel", "config.toml")


def _load_toml(path: str) -> Optional[Dict[str, Any]]:
    if sys.version_info >= (3, 11):
        import tomllib
    else:
        import tomli as tomllib
    try:
        with open(path, "rb") as handle:
            return tomllib.load(handle)
    except FileNotFoundError:
        return None
    except OSError as error:
        raise ConfigError(ERR_CONFIG % (path, ERR_CONFIG_READ % (error.strerror or error))) from None
    except (tomllib.TOMLDecodeError, UnicodeDecodeError) as error:
        raise ConfigError(ERR_CONFIG % (path, ERR_CONFIG_TOML % error)) from None


def _checked_profile(path: str, name: str, raw: Any) -> Dict[str, Any]:
    if not isinstance(raw, dict):
        raise ConfigError(ERR_CONFIG % (path, ERR_CONFIG_TYPE % (name, name, "a table")))
    profile: Dict[str, Any] = {}
    folder = os.path.dirname(os.path.abspath(path))
    items = cast(Dict[str, Any], raw)
    for key, value in items.items():
        if key not in PROFILE_SETTINGS:
            raise ConfigError(ERR_CONFIG % (path, ERR_CONFIG_KEY % (name, key, ", ".join(PROFILE_SETTINGS))))
        kind, described, is_path = PROFILE_SETTINGS[key]
        if kind is list:
            usable = isinstance(value, list) and all(isinstance(text, str) for text in cast(List[object], value))
        else:
            usable = isinstance(value, kind)
        if not usable:
            raise ConfigError(ERR_CONFIG % (path, ERR_CONFIG_TYPE % (name, key, described)))
        profile[key] = os.path.join(folder, os.path.expanduser(cast(str, value))) if is_path else value
    return profile


def load_profile(name: Optional[str], target: Optional[str]) -> Dict[str, Any]:
    """The settings of a profile of the configuration file: the one named,
    else the one whose target is `target`, else (no target given) the one
    named by `default`; {} when none applies. Relative paths are taken from
    the file's folder."""
    path = config_path()
    data = _load_toml(path)
    if data is None:
        if name is not None:
            raise ConfigError(ERR_CONFIG_MISSING % (name, path))
        return {}
    profiles = data.get("profile", {})
    if not isinstance(profiles, dict):
        raise ConfigError(ERR_CONFIG % (path, ERR_CONFIG_TABLE % "profile"))
    table = cast(Dict[str, Any], profiles)
    default = data.get("default")
    if default is not None and not isinstance(default, str):
        raise ConfigError(ERR_CONFIG % (path, ERR_CONFIG_DEFAULT))
    if name is None:
        if target is not None:
            name = next((key for key, raw in table.items()
                         if isinstance(raw, dict) and cast(Dict[str, Any], raw).get("target") == target), None)
        else:
            name = default
        if name is None:
            return {}
    if name not in table:
        raise ConfigError(ERR_CONFIG % (path, ERR_CONFIG_PROFILE % (name, ", ".join(table) or "none")))
    return _checked_profile(path, name, table[name])
