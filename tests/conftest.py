import hashlib
import os
import shutil
import subprocess
import sys
import sysconfig
import textwrap

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FIXTURE_PROJECT = os.path.join(ROOT, "tests", "fixtures")
NO_CMAKE = ("the fixture modules need cmake: pip install cmake "
            "(part of the 'test' extra) or put one on PATH")

# grpcio's fork support restarts gRPC's threads in a forked child; when the
# test process runs gRPC servers or channels, the child can then abort
# ("epoll_wait error: Bad file descriptor") while subprocess closes its
# descriptors before exec. The tests' children are fresh interpreters that
# need none of it. Read when grpc is first imported, so set before any test
# module imports it.
os.environ.setdefault("GRPC_ENABLE_FORK_SUPPORT", "0")


def run_python(code, *args, check=True):
    """Runs `code` in a fresh interpreter of this host (same protobuf
    implementation) and returns the completed process."""
    proc = subprocess.run(
        [sys.executable, *args, "-c", textwrap.dedent(code)],
        capture_output=True, text=True, env=dict(os.environ), cwd=os.path.dirname(__file__),
        timeout=60)
    if check and proc.returncode != 0:
        raise AssertionError(f"child failed ({proc.returncode}):\n{proc.stdout}\n{proc.stderr}")
    return proc


@pytest.fixture
def fresh():
    return run_python


def find_tool(name):
    """The program `name` of this environment (a pip package such as cmake or
    ninja) before the one on PATH."""
    for folder in (os.path.dirname(sys.executable), sysconfig.get_path("scripts")):
        for file in (name, name + ".exe"):
            candidate = os.path.join(folder, file)
            if os.access(candidate, os.X_OK):
                return candidate
    return shutil.which(name)


def generator_options():
    """Ninja, as the package build uses (the 'test' extra brings it), so that
    no make is needed; CMake's default generator where there is no ninja."""
    ninja = find_tool("ninja")
    return ["-G", "Ninja", f"-DCMAKE_MAKE_PROGRAM={ninja}"] if ninja else []


def build_dir_of_this_environment(generator):
    # One build per environment and generator: hosts and venvs that run at
    # the same time never share a build directory, and CMake refuses to switch
    # the generator of an existing one.
    key = hashlib.sha1(sys.prefix.encode()).hexdigest()[:10]
    flavour = "ninja" if generator else "default"
    return os.path.join(ROOT, "build", "fixtures",
                        f"{sys.implementation.cache_tag}-{key}-{flavour}")


@pytest.fixture(scope="session")
def fixture_modules():
    """Builds the test-only modules (package `ostrel_fixtures`) for this host
    from their committed tables, outside the installed package, and puts them
    on the sys.path of the children that `fresh` starts."""
    cmake = find_tool("cmake")
    if cmake is None:
        pytest.fail(NO_CMAKE)
    generator = generator_options()
    build = build_dir_of_this_environment(generator)
    prefix = os.path.join(build, "site")
    steps = [
        [cmake, "-S", FIXTURE_PROJECT, "-B", build, *generator,
         f"-DPython_EXECUTABLE={sys.executable}", "-DCMAKE_BUILD_TYPE=Release"],
        [cmake, "--build", build, "--config", "Release", "--parallel", "2"],
        [cmake, "--install", build, "--config", "Release", "--prefix", prefix],
    ]
    for step in steps:
        proc = subprocess.run(step, capture_output=True, text=True, timeout=600)
        if proc.returncode != 0:
            pytest.fail(f"building the fixture modules failed: {' '.join(step)}\n"
                        f"{proc.stdout}\n{proc.stderr}")
    path = os.environ.get("PYTHONPATH")
    os.environ["PYTHONPATH"] = prefix + (os.pathsep + path if path else "")
    return prefix


@pytest.fixture(scope="session")
def certs(tmp_path_factory):
    """{name: (certificate file, key file)} of tests/certs.py, made once."""
    import certs as maker

    return maker.make(tmp_path_factory.mktemp("certs"))
