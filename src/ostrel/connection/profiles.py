"""Profiles of the configuration file: named sets of connection settings,
under the keys that `settings.SETTINGS` gives them.

    default = "lab"
    [profile.lab]
    target = "cell-7.lab:50051"
    cacert = "lab-ca.pem"          # relative paths: from the file's folder
    token-file = "lab.token"
"""

import os
import sys
from typing import Any, Dict, List, Mapping, NamedTuple, Optional, cast

from ostrel.connection.settings import BY_NAME, HEADERS, KINDS, PATH, SETTINGS, Setting

ERR_CONFIG = "%s: %s"
ERR_CONFIG_READ = "cannot read %s"
ERR_CONFIG_TOML = "not valid TOML: %s"
ERR_CONFIG_KEY = "profile %r: unknown setting %r (known: %s)"
ERR_CONFIG_TYPE = "profile %r: %r must be %s"
ERR_CONFIG_PROFILE = "no profile %r (profiles: %s)"
ERR_CONFIG_MISSING = "no configuration file for --profile %r (looked for %s)"
ERR_CONFIG_TABLE = "%r must be a table of profiles"
ERR_CONFIG_DEFAULT = "'default' must name a profile"
ERR_CONFIG_DEEP = "nested too deeply to read (tables or lists within each other); a profile needs no nesting"

# Key in a profile -> the setting it gives.
PROFILE_SETTINGS: Mapping[str, Setting] = {s.profile_key: s for s in SETTINGS if s.profile_key is not None}


class Profile(NamedTuple):
    name: str
    path: str  # of the configuration file
    values: Dict[str, Any]  # by setting name

    def __repr__(self) -> str:
        values = ", ".join("%r: %s" % (name, "<hidden>" if BY_NAME[name].secret else repr(value))
                           for name, value in self.values.items())
        return "Profile(name=%r, path=%r, values={%s})" % (self.name, self.path, values)

    def spell(self, setting: Setting) -> str:
        """A setting of this profile, as an error names it."""
        return "%r of profile %r in %s" % (setting.profile_key, self.name, self.path)


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
    except RecursionError:
        raise ConfigError(ERR_CONFIG % (path, ERR_CONFIG_DEEP)) from None


def _checked_profile(path: str, name: str, raw: Any) -> Profile:
    if not isinstance(raw, dict):
        raise ConfigError(ERR_CONFIG % (path, ERR_CONFIG_TYPE % (name, name, "a table")))
    profile: Dict[str, Any] = {}
    folder = os.path.dirname(os.path.abspath(path))
    items = cast(Dict[str, Any], raw)
    for key, value in items.items():
        if key not in PROFILE_SETTINGS:
            raise ConfigError(ERR_CONFIG % (path, ERR_CONFIG_KEY % (name, key, ", ".join(PROFILE_SETTINGS))))
        setting = PROFILE_SETTINGS[key]
        kind, described = KINDS[setting.kind]
        if setting.kind == HEADERS:
            usable = isinstance(value, list) and all(isinstance(text, str) for text in cast(List[object], value))
        else:
            usable = isinstance(value, kind)
        if not usable:
            raise ConfigError(ERR_CONFIG % (path, ERR_CONFIG_TYPE % (name, key, described)))
        is_path = setting.kind == PATH
        profile[setting.name] = os.path.join(folder, os.path.expanduser(cast(str, value))) if is_path else value
    return Profile(name, path, profile)


def load_profile(name: Optional[str], target: Optional[str]) -> Optional[Profile]:
    """The settings of a profile of the configuration file: the one named,
    else the one whose target is `target`, else (no target given) the one
    named by `default`; None when none applies. Relative paths are taken from
    the file's folder."""
    path = config_path()
    data = _load_toml(path)
    if data is None:
        if name is not None:
            raise ConfigError(ERR_CONFIG_MISSING % (name, path))
        return None
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
            return None
    if name not in table:
        raise ConfigError(ERR_CONFIG % (path, ERR_CONFIG_PROFILE % (name, ", ".join(table) or "none")))
    return _checked_profile(path, name, table[name])
