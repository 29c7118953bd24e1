"""The connection settings of the command line: its options, made from
`settings.SETTINGS`, and each setting's value taken from the first source
that gives it: the command line, the environment, a profile of the
configuration file ($OSTREL_PROFILE or --profile, else the profile of the
target). A setting given by a higher source also sets aside the settings it
excludes from lower ones (--plaintext those of TLS a profile gives).

Errors name each setting as its source gave it: a flag, a variable, a key of
a named profile in its file."""

import argparse
import os
from typing import Any, Callable, Dict, List, Optional, Tuple

from ostrel.connection import headers, profiles, settings, targets
from ostrel.connection.settings import EXCLUSIVE, HEADERS, PATH, SETTINGS, SWITCH, Setting, Transport
from ostrel.protocol import tokens
from ostrel.protocol.addresses import DEFAULT_TARGET

PROFILE_ENV = "OSTREL_PROFILE"
CONFIG_SHOWN = "~/.config/ostrel/config.toml"

Argument = Tuple[Tuple[str, ...], Dict[str, Any]]
# How each kind of setting is an option: argparse's keywords.
OPTION_KINDS: Dict[str, Dict[str, Any]] = {
    PATH: dict(metavar="FILE"),
    settings.TEXT: dict(metavar="NAME"),
    SWITCH: dict(action="store_const", const=True, default=None),
    HEADERS: dict(action="append", metavar="'NAME: VALUE'"),
}
SHORT_FLAGS = {"headers": "-H"}
PROFILE_OPTION: Argument = (("--profile",), dict(
    metavar="NAME", help="settings of this profile of %s (default: $%s, else the profile of the target)"
                         % (CONFIG_SHOWN, PROFILE_ENV)))


def parse_target(text: str) -> str:
    try:
        return targets.check_target(text)
    except ValueError as error:
        raise argparse.ArgumentTypeError(str(error)) from None


def connection_options() -> Tuple[Argument, ...]:
    """The options of every command that say how to connect; $OSTREL_TARGET
    is read (and checked as --target) when the parser is built."""
    made: List[Argument] = []
    for setting in SETTINGS:
        if setting.flag is None:
            continue
        options = dict(OPTION_KINDS[setting.kind], dest=setting.name, help=setting.meaning)
        if setting.name == "target":
            options.update(type=parse_target, default=os.environ.get(setting.env or ""), metavar=None,
                           help="%s (default: $%s, the profile's, or %s)" % (setting.meaning, setting.env,
                                                                            DEFAULT_TARGET))
        flags = (SHORT_FLAGS[setting.name], setting.flag) if setting.name in SHORT_FLAGS else (setting.flag,)
        made.append((flags, options))
    return tuple(made) + (PROFILE_OPTION,)


class Given:
    """Values of the settings with the source each came from."""

    def __init__(self) -> None:
        self.values: Dict[str, Any] = {}
        self.spellings: Dict[str, Callable[[Setting], str]] = {}
        self.ranks: Dict[str, int] = {}

    def offer(self, rank: int, name: str, value: Any, spell: Callable[[Setting], str]) -> None:
        """Takes the value unless a higher source gave this setting or one that excludes it."""
        if value is None or name in self.values:
            return
        for first, excluded in EXCLUSIVE:
            rivals = excluded if name == first else (first,) if name in excluded else ()
            if any(self.ranks.get(rival, rank) < rank for rival in rivals if self.values.get(rival)):
                return
        self.values[name], self.spellings[name], self.ranks[name] = value, spell, rank

    def spell(self, setting: Setting) -> str:
        return self.spellings.get(setting.name, settings.flag)(setting)


def _environment(setting: Setting) -> str:
    return "$%s" % setting.env


def gather(args: argparse.Namespace) -> Tuple[Given, List[headers.Header]]:
    """The settings the command line, the environment and a profile give,
    and the headers of the profile and the command line, in that order."""
    profile_name = getattr(args, "profile", None) or os.environ.get(PROFILE_ENV) or None
    profile = profiles.load_profile(profile_name, getattr(args, "target", None))
    given = Given()
    for setting in SETTINGS:
        if setting.kind != HEADERS:
            given.offer(0, setting.name, getattr(args, setting.name, None), settings.flag)
    for setting in SETTINGS:
        if setting.env and setting.name != "target":  # --target's default is its variable
            given.offer(1, setting.name, os.environ.get(setting.env) or None, _environment)
    found: List[headers.Header] = []
    if profile is not None:
        for name, value in profile.values.items():
            if name != "headers":
                given.offer(2, name, value, profile.spell)
        found += [headers.parse_header(text, "entry %d of %s" % (number, profile.spell(settings.BY_NAME["headers"])))
                  for number, text in enumerate(profile.values.get("headers", ()), 1)]
    found += [headers.parse_header(text, "-H number %d" % number)
              for number, text in enumerate(getattr(args, "headers", None) or (), 1)]
    return given, found


def command_line_transport(args: argparse.Namespace) -> Transport:
    """The checked settings of the connection; ValueError with one line that
    names each setting as it was given."""
    given, found = gather(args)
    values = dict(given.values)
    target = str(values.pop("target", DEFAULT_TARGET))
    token_where: Optional[str] = None
    if "token" in values:
        token_where = given.spell(settings.BY_NAME["token"])
        values["token"] = tokens.check_token(values["token"], token_where)
    try:
        return settings.check(target, headers=found, **values)
    except settings.SettingError as error:
        raise ValueError(error.text(given.spell)) from None
