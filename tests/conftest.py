import os
import subprocess
import sys
import textwrap

import pytest

# gRPC's fork handlers restart its event-engine threads in a child made by
# fork(); on a host whose subprocess forks (3.9) a restarted poller can meet
# the descriptors that the child closes before exec and abort it (SIGABRT, no
# output) once this process has served or called gRPC. The tests start
# children only to exec them, so they need no gRPC in a forked child. Set
# before any test module imports grpc.
os.environ.setdefault("GRPC_ENABLE_FORK_SUPPORT", "false")


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
