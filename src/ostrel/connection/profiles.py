"""Profiles of the configuration file: named sets of connection settings."""

import os
import sys
from typing import Any, Dict, List, Mapping, Optional, Tuple, cast


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
