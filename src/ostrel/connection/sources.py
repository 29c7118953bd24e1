"""How the command line reaches the server: the connection options that
every command takes, and their settings drawn from the command line, the
environment ($OSTREL_TARGET, $OSTREL_TOKEN, $OSTREL_PROFILE) and a profile
of the configuration file, in that order. Only the standard library and
`ostrel.client` (which is stdlib-only) are imported here."""

import argparse
import os
from typing import Any, Dict, List, Optional, Tuple

from ostrel.connection import headers, profiles, settings

DEFAULT_TARGET = "localhost:50051"
TOKEN_ENV = "OSTREL_TOKEN"
PROFILE_ENV = "OSTREL_PROFILE"

Argument = Tuple[Tuple[str, ...], Dict[str, Any]]

CONNECTION_OPTIONS: Tuple[Argument, ...] = (
    (("--cacert",), dict(metavar="FILE", help="PEM CA certificates to trust (default: the system's)")),
    (("--cert",), dict(metavar="FILE", help="PEM client certificate, for mutual TLS (with --key)")),
    (("--key",), dict(metavar="FILE", help="PEM private key of --cert")),
    (("--authority",), dict(metavar="NAME", help="the name to check in the server's certificate")),
    (("--plaintext",), dict(action="store_const", const=True, default=None,
                            help="plaintext gRPC (the default for loopback targets only)")),
    (("--token-file",), dict(metavar="FILE",
                             help="send the token in FILE as a bearer token (default: $%s)" % TOKEN_ENV)),
    (("-H", "--header"), dict(action="append", metavar="'NAME: VALUE'", dest="headers",
                              help="add this header to every call (repeatable)")),
    (("--profile",), dict(metavar="NAME",
                          help="settings of this profile of %s (default: $%s, else the profile of the "
                               "target)" % ("~/.config/ostrel/config.toml", PROFILE_ENV))),
)


def _first(*values: Optional[Any]) -> Optional[Any]:
    return next((value for value in values if value is not None), None)


def transport(args: argparse.Namespace) -> settings.Transport:
    """The checked settings of the connection; ValueError with one line."""
    profile_name = _first(getattr(args, "profile", None), os.environ.get(PROFILE_ENV) or None)
    profile: Dict[str, Any] = profiles.load_profile(profile_name, args.target)
    target = str(_first(args.target, profile.get("target"), DEFAULT_TARGET))
    token: Optional[str] = None
    if args.token_file is not None:
        token = headers.read_token_file(args.token_file)
    elif os.environ.get(TOKEN_ENV):
        token = headers.check_token(os.environ[TOKEN_ENV], " in $%s" % TOKEN_ENV)
    elif "token-file" in profile:
        token = headers.read_token_file(profile["token-file"])
    elif "token" in profile:
        token = headers.check_token(profile["token"], " of the profile")
    texts: List[str] = list(profile.get("headers", [])) + list(args.headers or [])
    plaintext = args.plaintext
    files = {name: _first(getattr(args, name), None if plaintext else profile.get(name))
             for name in ("cacert", "cert", "key", "authority")}
    return settings.transport(target, token=token, plaintext=_first(plaintext, profile.get("plaintext")),
                            headers=[headers.parse_header(text) for text in texts], **files)
