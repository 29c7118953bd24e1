"""The syntax of a bearer token, checked in one place for the client (the
token it sends) and the server (the tokens it takes): printable ASCII
without spaces, what a header value carries unchanged. A token file holds
one token a line; blank lines and `#` comments are skipped.

Error texts name where the token came from, never the token."""

import re
from typing import List, Tuple

ERR_NO_TOKEN = "%s holds no token"
ERR_EMPTY_TOKEN = "%s is empty"
ERR_NOT_A_TOKEN = "%s is not a token: it holds spaces, control or non-ASCII characters, which a header cannot carry"

_TOKEN = re.compile(r"[\x21-\x7e]+\Z")


def check_token(text: str, where: str) -> str:
    """The token of `text` (spaces around it dropped); ValueError naming `where`."""
    token = text.strip()
    if not token:
        raise ValueError(ERR_EMPTY_TOKEN % where)
    if not _TOKEN.match(token):
        raise ValueError(ERR_NOT_A_TOKEN % where)
    return token


def token_lines(text: str, path: str) -> List[Tuple[int, str]]:
    """(line number, token) of each token line of a token file's text;
    ValueError naming the line of one that is not a token."""
    found: List[Tuple[int, str]] = []
    for number, line in enumerate(text.splitlines(), 1):
        stripped = line.strip()
        if stripped and not stripped.startswith("#"):
            found.append((number, check_token(stripped, "line %d of the token file %s" % (number, path))))
    return found
