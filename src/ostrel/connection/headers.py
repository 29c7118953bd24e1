"""Headers added to every call, and the token: checked as gRPC would check
them, without ever putting a header's value or a token into an error text.

A header whose name ends in `-bin` carries bytes: given as text (on the
command line, in a profile), its value is read as base64."""

import base64
import binascii
import re
from typing import Tuple, Union

from ostrel.protocol import tokens

Header = Tuple[str, Union[str, bytes]]

ERR_HEADER_FORM = "%s is not a header: give it as 'name: value'"
ERR_HEADER_NAME = ("header name %r is not allowed: gRPC takes lower-case letters, digits, '-', '_' "
                   "and '.', and reserves names starting with 'grpc-'")
ERR_HEADER_RESERVED = "header name %r is set by gRPC itself and cannot be given"
ERR_HEADER_VALUE = "the value of header %r must be printable ASCII text"
ERR_HEADER_BASE64 = "the value of header %r must be base64: a header whose name ends in -bin carries bytes"
ERR_TOKEN_READ = "cannot read the token file %s: %s"
ERR_TOKEN_MANY = ("the token file %s holds %d tokens (lines %s), as a server's list of tokens does; a client "
                  "sends one: give a file that holds only the token to send")

# HTTP/2 and gRPC set these themselves; a user value would clash with theirs.
RESERVED_HEADERS = frozenset({"content-type", "te", "host", "connection", "keep-alive", "proxy-connection",
                              "transfer-encoding", "upgrade"})
BINARY_SUFFIX = "-bin"
_HEADER_NAME = re.compile(r"[0-9a-z_.-]+\Z")
_HEADER_VALUE = re.compile(r"[\x20-\x7e]*\Z")


def parse_header(text: str, where: str = "the header text") -> Header:
    """(name, value) of a 'Name: value' text; ValueError when gRPC would
    refuse it. `where` names the text in an error: the text itself is never
    shown, as it may carry a secret."""
    name, colon, value = text.partition(":")
    if not colon or not name.strip() or any(c.isspace() for c in name.strip()):
        raise ValueError(ERR_HEADER_FORM % where)
    return checked_header(name.strip().lower(), value.strip())


def checked_header(name: str, value: Union[str, bytes]) -> Header:
    """The header as gRPC takes it: a `-bin` header's text decoded from base64."""
    if not _HEADER_NAME.match(str(name)) or name.startswith("grpc-"):
        raise ValueError(ERR_HEADER_NAME % (name,))
    if name in RESERVED_HEADERS:
        raise ValueError(ERR_HEADER_RESERVED % name)
    if name.endswith(BINARY_SUFFIX):
        if isinstance(value, bytes):
            return name, value
        try:
            return name, base64.b64decode(_padded(str(value)), validate=True)
        except (binascii.Error, ValueError):
            raise ValueError(ERR_HEADER_BASE64 % name) from None
    if not isinstance(value, str) or not _HEADER_VALUE.match(value):
        raise ValueError(ERR_HEADER_VALUE % name)
    return name, value


def _padded(text: str) -> str:
    """Base64 with the padding gRPC's own base64 leaves out."""
    text = text.strip()
    return text + "=" * (-len(text) % 4)


def read_token_file(path: str) -> str:
    """The one token of a token file (blank lines and `#` comments skipped)."""
    where = "the token file %s" % path
    try:
        with open(path, encoding="utf-8") as handle:
            text = handle.read()
    except OSError as error:
        raise ValueError(ERR_TOKEN_READ % (path, error.strerror or error)) from None
    except UnicodeDecodeError:
        raise ValueError(tokens.ERR_NOT_A_TOKEN % where) from None
    found = tokens.token_lines(text, path)
    if not found:
        raise ValueError(tokens.ERR_NO_TOKEN % where)
    if len(found) > 1:
        raise ValueError(ERR_TOKEN_MANY % (path, len(found), ", ".join(str(number) for number, _ in found)))
    return found[0][1]
