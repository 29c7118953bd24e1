"""The dependency ranges the package declares: the protobuf releases it allows
all limit the nesting depth of JSON input, also through `Any` (the fix that
5.29.6, 6.33.5 and 7.35.0 carry), and the ones without it stay refused. CI runs
the suite against the oldest and newest allowed releases, so the first test
fails there if a range lets in a release without the fix."""

from importlib import metadata

import pytest
from google.protobuf import any_pb2, duration_pb2, json_format
from packaging.requirements import Requirement

ANY = "type.googleapis.com/google.protobuf.Any"
DEPTH_LIMIT = 100


def nested_any(depth):
    inner = {"@type": "type.googleapis.com/" + duration_pb2.Duration.DESCRIPTOR.full_name,
             "value": "1s"}
    for _ in range(depth):
        inner = {"@type": ANY, "value": inner}
    return inner


@pytest.mark.parametrize("depth,too_deep", [(DEPTH_LIMIT // 2, False), (DEPTH_LIMIT + 20, True)])
def test_installed_protobuf_limits_nesting_through_any(depth, too_deep):
    message = any_pb2.Any()
    if too_deep:
        with pytest.raises(json_format.ParseError, match="too deep"):
            json_format.ParseDict(nested_any(depth), message, max_recursion_depth=DEPTH_LIMIT)
    else:
        json_format.ParseDict(nested_any(depth), message, max_recursion_depth=DEPTH_LIMIT)


def declared(name):
    for text in metadata.requires("ostrel") or []:
        requirement = Requirement(text)
        if requirement.name == name and requirement.marker is None:
            return requirement.specifier
    raise AssertionError(f"ostrel declares no unconditional {name} requirement")


# (protobuf release, allowed): the fixed releases of each line are allowed,
# the ones before the fix (and the next major, untested) are not.
PROTOBUF_RELEASES = [
    ("5.29.5", False), ("5.29.6", True),
    ("6.30.0", False), ("6.33.4", False), ("6.33.5", True), ("6.33.6", True),
    ("7.34.0", False), ("7.34.2", False), ("7.35.0", True), ("7.36.2", True),
    ("8.0.0", False),
]


@pytest.mark.parametrize("release,allowed", PROTOBUF_RELEASES)
def test_protobuf_range(release, allowed):
    assert declared("protobuf").contains(release) == allowed


def test_no_extra_repeats_a_core_dependency():
    requirements = [Requirement(text) for text in metadata.requires("ostrel") or []]
    core = {r.name for r in requirements if r.marker is None}
    in_extras = {r.name for r in requirements if r.marker is not None and "extra" in str(r.marker)}
    assert core and in_extras and core & in_extras == set()
