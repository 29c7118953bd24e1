"""The settings of a connection, listed once: `SETTINGS` gives each its
keyword of `ostrel.connect`, its command-line flag, its key in a profile of
the configuration file and its environment variable, and `check` is the one
place that checks a combination of them.

Loopback targets (`localhost`, 127.0.0.0/8, `[::1]`, `unix:` paths, and
lists whose every address is one of these) speak plaintext unless a TLS
setting is given; every other target speaks TLS unless `plaintext=True`,
and a token is not sent in clear to it unless `plaintext_token=True`. A
token travels as `authorization: Bearer <token>` call metadata, with any
other headers, on every call.

Errors name settings by their keyword; `SettingError.text` spells them as
the caller's user gave them (a flag, a profile's key). Only the standard
library is imported here, so that the command line checks its arguments
without the gRPC runtime.
"""

from typing import Any, Callable, Iterable, List, Mapping, NamedTuple, Optional, Sequence, Tuple, Union

from ostrel import pem
from ostrel.connection import headers as header_checks
from ostrel.connection.headers import Header
from ostrel.connection.targets import check_target, is_loopback
from ostrel.protocol import tokens
from ostrel.protocol.metadata import BEARER, TOKEN_HEADER

PathOrData = pem.PathOrData

PATH, TEXT, SWITCH, HEADERS = "path", "text", "switch", "headers"
# What a profile's value of each kind must be: (type, described).
KINDS: Mapping[str, Tuple[type, str]] = {
    PATH: (str, "a path"), TEXT: (str, "a text"), SWITCH: (bool, "true or false"),
    HEADERS: (list, "a list of 'name: value' texts"),
}


class Setting(NamedTuple):
    name: str  # the keyword of ostrel.connect
    kind: str  # one of KINDS
    meaning: str  # the command line's help
    flag: Optional[str] = None  # None: not an option of the command line
    profile_key: Optional[str] = None  # None: not a key of a profile
    env: Optional[str] = None  # the environment variable the command line reads
    secret: bool = False  # never shown: not in a repr, not in an error text
    tls: bool = False  # sets up TLS: cannot go with plaintext


SETTINGS: Tuple[Setting, ...] = (
    Setting("target", TEXT, "server address host:port or unix:PATH", "--target", "target", "OSTREL_TARGET"),
    Setting("cacert", PATH, "PEM CA certificates to trust (default: the system's)", "--cacert", "cacert", tls=True),
    Setting("cert", PATH, "PEM client certificate, for mutual TLS (with --key)", "--cert", "cert", tls=True),
    Setting("key", PATH, "PEM private key of --cert", "--key", "key", secret=True, tls=True),
    Setting("authority", TEXT, "the name to check in the server's certificate", "--authority", "authority",
            tls=True),
    Setting("plaintext", SWITCH, "plaintext gRPC (the default for loopback targets only)", "--plaintext",
            "plaintext"),
    Setting("plaintext_token", SWITCH, "send the token even over plaintext to a target off this machine, "
            "where anyone on the way can read it", "--plaintext-token", "plaintext-token"),
    Setting("token", TEXT, "the bearer token to send", None, "token", "OSTREL_TOKEN", secret=True),
    Setting("token_file", PATH, "send the token in FILE as a bearer token (default: $OSTREL_TOKEN)",
            "--token-file", "token-file"),
    Setting("headers", HEADERS, "add this header to every call (repeatable)", "--header", "headers",
            secret=True),
)
BY_NAME: Mapping[str, Setting] = {setting.name: setting for setting in SETTINGS}
TLS_SETTINGS = tuple(setting.name for setting in SETTINGS if setting.tls)
# Settings that exclude each other: given together by the same source, an
# error; given by sources of different rank, the higher one's wins.
EXCLUSIVE: Tuple[Tuple[str, Sequence[str]], ...] = (
    ("plaintext", TLS_SETTINGS),
    ("token", ("token_file",)),
)

ERR_TLS_WITH_PLAINTEXT = "{0} cannot be used with {1}: it sets up TLS, which {1} turns off"
ERR_BOTH = "{0} and {1} cannot be used together: give one"
ERR_CERT_WITHOUT_KEY = "{0} needs {1}: a client certificate goes with its key"
ERR_KEY_WITHOUT_CERT = "{0} needs {1}: a client key goes with its certificate"
ERR_AUTHORITY_EMPTY = ("{0} is empty: give the name that the server's certificate carries, or leave it out to "
                       "check the target's host")
ERR_TOKEN_IN_CLEAR = ("{0} would travel in clear over plaintext to %s, which is not on this machine: use TLS, "
                      "or give {1} to send it anyway")
ERR_HEADER_TOKEN = "header 'authorization' cannot be given together with {0}"
ERR_TARGET = "{0} %s"
ERR_SWITCH = "{0} must be True, False or None"


class SettingError(ValueError):
    """Settings that cannot work together. `names` are the keywords of the
    settings at fault, put into `template` as its user spells them."""

    def __init__(self, template: str, *names: str) -> None:
        self.template = template
        self.names = names
        super().__init__(self.text(keyword))

    def text(self, spell: "Callable[[Setting], str]") -> str:
        return self.template.format(*(spell(BY_NAME[name]) for name in self.names))


def keyword(setting: Setting) -> str:
    return setting.name


def flag(setting: Setting) -> str:
    """The setting as the command line takes it: its flag, else its variable."""
    return setting.flag or "$%s" % setting.env


def _literal(text: str) -> str:
    return text.replace("{", "{{").replace("}", "}}")


class Transport(NamedTuple):
    """How to reach a server, checked: every file read, every header valid."""

    target: str
    plaintext: bool
    root_certificates: Optional[bytes]  # None: the system's roots
    certificate_chain: Optional[bytes]
    private_key: Optional[bytes]
    authority: Optional[str]
    metadata: Tuple[Tuple[str, Union[str, bytes]], ...]
    explicit_plaintext: bool = False  # plaintext asked for, not chosen for a loopback target

    @property
    def has_token(self) -> bool:
        return any(name == TOKEN_HEADER for name, _ in self.metadata)

    def __repr__(self) -> str:
        # No key and no header value (the token is one): only what they are.
        shown = ("target=%r" % self.target, "plaintext=%r" % self.plaintext,
                 "root_certificates=%s" % _size(self.root_certificates),
                 "certificate_chain=%s" % _size(self.certificate_chain),
                 "private_key=%s" % ("None" if self.private_key is None else "<hidden>"),
                 "authority=%r" % self.authority,
                 "metadata=(%s)" % ", ".join("(%r, <hidden>)" % name for name, _ in self.metadata))
        return "Transport(%s)" % ", ".join(shown)


def _size(data: Optional[bytes]) -> str:
    return "None" if data is None else "<%d bytes>" % len(data)


def _switch(name: str, value: Any) -> Optional[bool]:
    if value is not None and not isinstance(value, bool):
        raise SettingError(ERR_SWITCH, name)
    return value


def check_combination(given: Mapping[str, Any]) -> None:
    """SettingError when settings given together (not None) cannot work together."""
    for name, excluded in EXCLUSIVE:
        for other in excluded:
            if given.get(name) not in (None, False) and given.get(other) is not None:
                template = ERR_TLS_WITH_PLAINTEXT if name == "plaintext" else ERR_BOTH
                raise SettingError(template, *((other, name) if name == "plaintext" else (name, other)))
    if (given.get("cert") is None) != (given.get("key") is None):
        raise SettingError(*((ERR_CERT_WITHOUT_KEY, "cert", "key") if given.get("key") is None
                             else (ERR_KEY_WITHOUT_CERT, "key", "cert")))
    if given.get("authority") is not None and not str(given["authority"]).strip():
        raise SettingError(ERR_AUTHORITY_EMPTY, "authority")


def check(target: str, *, cacert: Optional[PathOrData] = None, cert: Optional[PathOrData] = None,
          key: Optional[PathOrData] = None, token: Optional[str] = None, token_file: Optional[str] = None,
          authority: Optional[str] = None, plaintext: Optional[bool] = None, plaintext_token: bool = False,
          headers: Iterable[Header] = ()) -> Transport:
    """The checked Transport of these settings (the keywords of
    `ostrel.connect`); SettingError, pem.PemError for a certificate or key
    file, or ValueError for a header or token, each with a one-line text
    that names no secret."""
    try:
        check_target(target)
    except ValueError as error:
        raise SettingError(ERR_TARGET % _literal(str(error)), "target") from None
    plaintext = _switch("plaintext", plaintext)
    plaintext_token = bool(_switch("plaintext_token", plaintext_token))
    check_combination(dict(cacert=cacert, cert=cert, key=key, token=token, token_file=token_file,
                           authority=authority, plaintext=plaintext))
    metadata: List[Tuple[str, Union[str, bytes]]] = [header_checks.checked_header(name, value)
                                                     for name, value in headers]
    token_name = "token_file" if token_file is not None else "token"
    token = _read_token(token, token_file)
    if token is not None:
        if any(name == TOKEN_HEADER for name, _ in metadata):
            raise SettingError(ERR_HEADER_TOKEN, token_name)
        metadata.append((TOKEN_HEADER, BEARER + token))
    in_clear = _speaks_plaintext(target, plaintext, tls_given=any(value is not None
                                                                  for value in (cacert, cert, key, authority)))
    if in_clear and token is not None and not is_loopback(target) and not plaintext_token:
        raise SettingError(ERR_TOKEN_IN_CLEAR % _literal(target), token_name, "plaintext_token")
    return Transport(target, in_clear, *_tls_files(cacert, cert, key), authority, tuple(metadata),
                     explicit_plaintext=bool(plaintext))


def _read_token(token: Optional[str], token_file: Optional[str]) -> Optional[str]:
    if token_file is not None:
        return header_checks.read_token_file(token_file)
    return None if token is None else tokens.check_token(token, "token")


def _speaks_plaintext(target: str, plaintext: Optional[bool], tls_given: bool) -> bool:
    """Plaintext as asked for; unasked, only to a target wholly on this machine without TLS settings."""
    if plaintext is not None:
        return plaintext
    return is_loopback(target) and not tls_given


def _tls_files(cacert: Optional[PathOrData], cert: Optional[PathOrData], key: Optional[PathOrData]
               ) -> Tuple[Optional[bytes], Optional[bytes], Optional[bytes]]:
    roots = chain = private = None
    if cacert is not None:
        roots = pem.certificates(cacert, "CA")[0]
    if cert is not None and key is not None:
        chain = pem.certificates(cert, "client certificate")[0]
        private = pem.private_key(key, "client key")
        pem.check_pair(chain, private, pem.describe(cert), pem.describe(key))
    return roots, chain, private

