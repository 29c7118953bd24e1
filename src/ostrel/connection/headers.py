"""Headers added to every call, and the token: checked as gRPC would check
them, without ever putting a token into an error text."""

import re
from typing import Tuple

Header = Tuple[str, str]

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
