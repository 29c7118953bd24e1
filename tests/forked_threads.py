"""How many threads a forked child of this process runs. Imported by the
tests and by the fresh interpreters that measure the baseline: a process that
never started a thread. Natively that is 1; an emulator such as qemu-user
runs a thread of its own in every process."""

import os
import time


def threads_of_a_forked_child() -> int:
    read, write = os.pipe()
    pid = os.fork()
    if pid == 0:
        try:
            time.sleep(0.1)  # time for threads restarted at fork to show
            os.write(write, str(len(os.listdir("/proc/self/task"))).encode())
        finally:
            os._exit(0)
    os.close(write)
    os.waitpid(pid, 0)
    with os.fdopen(read, "rb") as counted:
        return int(counted.read())
