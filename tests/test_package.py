"""What the installed package holds: every submodule imports, the API has one
module per schema file plus the service module, and nothing of the tests or
the build ships."""

import json
import os
import pathlib

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
SCHEMA_MODULES = sorted("ostrel.api.%s_pb2" % p.stem.replace("-", "_")
                        for p in (ROOT / "schema" / "ostrel" / "api").glob("*.proto"))

WALK = """
import importlib, json, pkgutil, ostrel
failed = []
def record(name):
    failed.append(name)
names = []
for info in pkgutil.walk_packages(ostrel.__path__, "ostrel.", onerror=record):
    try:
        importlib.import_module(info.name)
    except Exception as exc:
        failed.append("%s: %s: %s" % (info.name, type(exc).__name__, exc))
    names.append(info.name)
print(json.dumps({"names": names, "failed": failed}))
"""


def test_every_submodule_of_the_installed_package_imports(fresh):
    result = json.loads(fresh(WALK).stdout)
    assert result["failed"] == []
    names = result["names"]
    api = sorted(n for n in names if n.startswith("ostrel.api.") and n.count(".") == 2)
    assert len(SCHEMA_MODULES) == 30
    assert api == sorted(SCHEMA_MODULES + ["ostrel.api.service_pb2_grpc"])
    assert [n for n in names if "fixture" in n] == []


def installed_files():
    from importlib import metadata

    dist = metadata.distribution("ostrel")
    direct = dist.read_text("direct_url.json")
    if direct and json.loads(direct).get("dir_info", {}).get("editable"):
        pytest.skip("an editable install lists no package files")
    return [str(f).replace(os.sep, "/") for f in dist.files or []]


# (what must not ship, test on each installed file's path)
NOT_SHIPPED = [
    ("test fixtures", lambda f: "fixture" in f),
    ("module tables and C++ sources", lambda f: f.endswith((".cc", ".h", ".proto"))),
    ("build trees", lambda f: "CMakeFiles" in f or f.endswith(("CMakeCache.txt", ".a", ".o"))),
    ("tests", lambda f: "/tests/" in f or f.startswith("tests/")),
]


@pytest.mark.parametrize("what,matches", NOT_SHIPPED, ids=[w for w, _ in NOT_SHIPPED])
def test_nothing_of_the_tests_or_the_build_ships(what, matches):
    shipped = [f for f in installed_files() if matches(f)]
    assert shipped == [], what


def test_distribution_carries_the_license_and_its_versions():
    from importlib import metadata

    files = installed_files()
    assert any(f.endswith("/LICENSE") and ".dist-info/" in f for f in files)
    meta = metadata.metadata("ostrel")
    # An SPDX expression, not the license's whole text in the License field.
    assert (meta["License-Expression"], meta.get("License")) == ("MIT", None)
    assert meta["Requires-Python"] == ">=3.9"
    classifiers = meta.get_all("Classifier") or []
    versions = sorted(c.rsplit(" ", 1)[1] for c in classifiers
                      if c.startswith("Programming Language :: Python :: 3.")
                      and c.count("::") == 2)
    assert versions == ["3.10", "3.11", "3.12", "3.13", "3.9"]
