import os
import subprocess
import sys
import textwrap

import pytest

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
