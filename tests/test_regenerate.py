"""tools/regenerate.sh --check fails on every way the committed generated
files can drift from the schema files, and a plain run repairs them."""

import os
import shutil
import subprocess

import pytest

from test_compiler import MISSING, PLUGIN

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
HEADER = "Generated from the schema files by tools/regenerate.sh. Do not edit."
# What the script reads and writes, copied into a scratch tree per test.
TREE = ["tools/regenerate.sh", "schema", "api/generated", "src/ostrel/api",
        "tests/fixtures/ostrel_fixtures", "tests/fixtures/generated", "docs/api"]

pytestmark = pytest.mark.skipif(not (PLUGIN and shutil.which("protoc")), reason=MISSING)


@pytest.fixture
def tree(tmp_path):
    for rel in TREE:
        source, target = os.path.join(ROOT, rel), tmp_path / rel
        if os.path.isdir(source):
            shutil.copytree(source, target, ignore=shutil.ignore_patterns("__pycache__"))
        else:
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copy(source, target)
    return tmp_path


def regenerate(tree, *args):
    return subprocess.run(["bash", str(tree / "tools" / "regenerate.sh"), *args],
                          capture_output=True, text=True, timeout=120,
                          env=dict(os.environ, OSTREL_PLUGIN=PLUGIN))


def append(path, text):
    with open(path, "a") as f:
        f.write(text)


# (name, change to the tree, the line --check must print)
DRIFTS = [
    ("table edited", lambda t: append(t / "api/generated/math_pb2.cc", "// by hand\n"),
     "differs:   api/generated/math_pb2.cc"),
    ("table missing", lambda t: os.remove(t / "api/generated/tool_pb2.cc"),
     "missing:   api/generated/tool_pb2.cc"),
    ("fixture table missing", lambda t: os.remove(t / "tests/fixtures/generated/clash_pb2.cc"),
     "missing:   tests/fixtures/generated/clash_pb2.cc"),
    ("schema file removed", lambda t: os.remove(t / "schema/ostrel/api/ostrel_service.proto"),
     "no schema: api/generated/ostrel_service_pb2.cc"),
    # ... and with it the service's method table and stub
    ("service table left over", lambda t: None, "no schema: api/generated/service_pb2_grpc_table.h"),
    ("service stub left over", lambda t: None, "no schema: src/ostrel/api/service_pb2_grpc.pyi"),
    ("schema file changed",
     lambda t: append(t / "schema/ostrel/api/material.proto", "message Extra {}\n"),
     "differs:   api/generated/material_pb2.cc"),
    ("stub left over", lambda t: (t / "src/ostrel/api/gone_pb2.pyi").write_text("# " + HEADER + "\n"),
     "no schema: src/ostrel/api/gone_pb2.pyi"),
    ("reference page edited", lambda t: append(t / "docs/api/task.md", "by hand\n"),
     "differs:   docs/api/task.md"),
    ("reference page left over", lambda t: (t / "docs/api/gone.md").write_text("<!-- " + HEADER + " -->\n"),
     "no schema: docs/api/gone.md"),
]


def test_committed_files_match(tree):
    proc = regenerate(tree, "--check")
    assert proc.returncode == 0, proc.stdout + proc.stderr
    # Hand-written files next to generated ones are left alone.
    assert "__init__.py" not in proc.stdout


def test_check_reports_each_drift_and_a_run_repairs_them(tree):
    # The drifts touch distinct files, so one tree holds them all and each
    # must show up in the one report.
    for _, change, _ in DRIFTS:
        change(tree)
    proc = regenerate(tree, "--check")
    assert proc.returncode == 1
    missed = [name for name, _, line in DRIFTS if line not in proc.stdout]
    assert missed == [], proc.stdout + proc.stderr
    assert regenerate(tree).returncode == 0
    proc = regenerate(tree, "--check")
    assert proc.returncode == 0, proc.stdout + proc.stderr
    assert not (tree / "api/generated/ostrel_service_pb2.cc").exists()
    assert (tree / "src/ostrel/api/__init__.py").exists()


# First line of a generated file, by type.
HEADER_LINES = {".cc": "// " + HEADER, ".h": "// " + HEADER, ".pyi": "# " + HEADER,
                ".md": "<!-- " + HEADER + " -->"}


def generated_files(root):
    return [*(root / "api/generated").iterdir(), *(root / "tests/fixtures/generated").iterdir(),
            *(root / "src/ostrel/api").glob("*_pb2*.pyi"), *(root / "docs/api").iterdir()]


def test_every_generated_file_says_so_once(tree):
    generated = generated_files(tree)
    assert len([p for p in generated if p.suffix == ".cc"]) == 32
    assert {"service_pb2_grpc_table.h", "service_pb2_grpc.pyi"} <= {p.name for p in generated}
    unmarked = [p.name for p in generated
                if p.read_text().splitlines()[0] != HEADER_LINES[p.suffix]
                or p.read_text().count("Do not edit") != 1]
    assert unmarked == []


@pytest.mark.skipif(not (shutil.which("git") and os.path.exists(os.path.join(ROOT, ".git"))),
                    reason="not a git checkout")
def test_generated_files_are_tagged_generated_for_git():
    import pathlib

    files = [str(p.relative_to(ROOT)) for p in generated_files(pathlib.Path(ROOT))]
    out = subprocess.run(["git", "-C", ROOT, "check-attr", "linguist-generated", "--", *files],
                         capture_output=True, text=True, check=True).stdout
    untagged = [line for line in out.splitlines() if not line.endswith(": true")]
    assert untagged == [] and len(out.splitlines()) == len(files)
    hand_written = ["src/ostrel/api/__init__.py", "api/service_pb2_grpc.cc"]
    out = subprocess.run(["git", "-C", ROOT, "check-attr", "linguist-generated", "--", *hand_written],
                         capture_output=True, text=True, check=True).stdout
    assert all(line.endswith(": unspecified") for line in out.splitlines())
