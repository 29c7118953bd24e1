import os
import subprocess
import sys
import textwrap

import pytest

# gRPC (1.80 at least) restarts its poller in a forked child, and a
# subprocess that closes the inherited fds before exec can take the poller's
# epoll fd away: the child aborts ("epoll_wait error: Bad file descriptor")
# before it runs. The tests start subprocesses while channels are busy, and no
# child goes on using gRPC after fork, so they run without gRPC's fork support.
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
