"""What `ostrel watch` costs while a program runs, as ratios to its budgets
in one run: the CPU of the watch process and the CPU it adds to the server
(each at most 10 % of one core at 10 Hz), and how long a state change takes
to reach a viewer's socket (at most 1.5 poll periods).

    python bench/watch.py [--seconds S] [--hz N] [--time-scale S]

Starts ostrel-server (a process of its own, throwaway database), pushes the
sample project and keeps its program running, one run after another, for
the whole benchmark. Then, for S seconds each (default 20): the server
alone (the baseline), `ostrel watch` piped (lines), on a pseudo-terminal
(the live table, needs rich) and `--viewer` with a viewer subscribed to
every channel; CPU seconds from /proc of each process over the same window
(Linux only). The latency phase runs `ostrel watch --viewer` with a viewer
and polls the state itself 100 times a second: a robot's joint vector,
first seen by that poll at t0 and on the viewer's joint channel at t1, took
t1 - t0 (give or take the 10 ms of the poll). Needs the extra `live` and
websockets.
"""

import argparse
import asyncio
import base64
import json
import os
import pty
import re
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path
from typing import Any, Dict, List, Optional, Tuple

import grpc
from google.protobuf import descriptor_pb2, descriptor_pool, json_format, message_factory

from ostrel.api import common_pb2, project_pb2, service_pb2, service_pb2_grpc

ROOT = Path(__file__).resolve().parents[1]
PROGRAM = "pick_and_place"
JOINTS_TOPIC = "/viz/joints/ur5e/simulated"
SUBPROTOCOLS = ["foxglove.websocket.v1", "foxglove.sdk.v1"]
CPU_BUDGET = 0.10  # of one core
LATENCY_BUDGET_PERIODS = 1.5
TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid: int) -> float:
    """User and system CPU seconds of a process so far (/proc/PID/stat)."""
    fields = Path("/proc/%d/stat" % pid).read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


class Cell:
    """ostrel-server with the sample project, its program kept running."""

    def __init__(self, work: Path, time_scale: float) -> None:
        self.proc = subprocess.Popen([sys.executable, "-m", "ostrel.server", "--port", "0", "--db",
                                      str(work / "db.sqlite3"), "--time-scale", str(time_scale)],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        found = re.search(r":(\d+) ", self.proc.stdout.readline() if self.proc.stdout else "")
        assert found, "ostrel-server did not say its port"
        self.target = "127.0.0.1:%s" % found.group(1)
        self.channel = grpc.insecure_channel(self.target, options=[("grpc.max_receive_message_length", -1)])
        self.stub = service_pb2_grpc.OstrelStub(self.channel)
        project = json_format.Parse((ROOT / "examples" / "pick_and_place.json").read_text(),
                                    project_pb2.ProjectSnapshot())
        assert self.stub.pushProjectSnapshot(project).code == common_pb2.SUCCESS
        self.stop = threading.Event()
        self.runs = 0
        self.keeper = threading.Thread(target=self._keep_running, daemon=True)
        self.keeper.start()

    def _keep_running(self) -> None:
        while not self.stop.is_set():
            if self.stub.pullSystemState(service_pb2.GenericRequest()).status.code != common_pb2.RUNNING:
                self.stub.runProgram(service_pb2.ProgramRequest(behavior=PROGRAM))
                self.runs += 1
            self.stop.wait(0.5)

    def close(self) -> None:
        self.stop.set()
        self.keeper.join()
        self.channel.close()
        self.proc.terminate()
        self.proc.wait(timeout=30)


def message_class(channel: Dict[str, str]) -> Any:
    """The class of a channel's messages, from the schema advertised for it
    (the joint states' type differs between hosts)."""
    pool: Any = descriptor_pool.DescriptorPool()
    for file in descriptor_pb2.FileDescriptorSet.FromString(base64.b64decode(channel["schema"])).file:
        pool.AddSerializedFile(file.SerializeToString())
    return message_factory.GetMessageClass(pool.FindMessageTypeByName(channel["schemaName"]))


class Viewer:
    """A viewer in a thread of its own: subscribes to every channel and
    notes when each joint vector of JOINTS_TOPIC first arrived."""

    def __init__(self, port: int) -> None:
        self.port = port
        self.arrived: Dict[Tuple[float, ...], float] = {}
        self.messages = 0
        self.done = threading.Event()
        self.thread = threading.Thread(target=lambda: asyncio.run(self._read()), daemon=True)
        self.thread.start()

    async def _read(self) -> None:
        import websockets

        async with websockets.connect("ws://127.0.0.1:%d" % self.port, subprotocols=SUBPROTOCOLS,
                                      max_size=None, close_timeout=0.2) as socket:
            topics: Dict[int, str] = {}
            joints_class = None
            while not self.done.is_set():
                try:
                    data = await asyncio.wait_for(socket.recv(), 0.2)
                except asyncio.TimeoutError:
                    continue
                if isinstance(data, str):
                    message = json.loads(data)
                    if message["op"] == "advertise":
                        subscriptions = []
                        for channel in message["channels"]:
                            topics[channel["id"]] = channel["topic"]
                            if channel["topic"] == JOINTS_TOPIC:
                                joints_class = message_class(channel)
                            subscriptions.append({"id": channel["id"], "channelId": channel["id"]})
                        await socket.send(json.dumps({"op": "subscribe", "subscriptions": subscriptions}))
                    continue
                now = time.monotonic()
                self.messages += 1
                _, sid = struct.unpack_from("<BI", data)
                if topics.get(sid) == JOINTS_TOPIC and joints_class is not None:
                    joints = tuple(round(j.position, 9) for j in joints_class.FromString(data[13:]).joints)
                    self.arrived.setdefault(joints, now)

    def close(self) -> None:
        self.done.set()
        self.thread.join(5)


def start_watch(target: str, hz: float, mode: str) -> Tuple[subprocess.Popen, Optional[int], Optional[int]]:
    """The watch process, the viewer's port (--viewer) and the terminal's
    master side (table), which the caller must keep reading."""
    argv = [sys.executable, "-m", "ostrel.cli", "--target", target, "watch", "--hz", str(hz)]
    if mode == "viewer":
        argv += ["--viewer", "--viewer-port", "0"]
    master = None
    if mode == "table":
        master, terminal = pty.openpty()
        proc = subprocess.Popen(argv, stdout=terminal, stderr=subprocess.DEVNULL, env=dict(os.environ, COLUMNS="120"))
        os.close(terminal)
    else:
        proc = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    port = None
    if mode == "viewer":
        found = re.search(r"ws://[^:]+:(\d+)", proc.stderr.readline() if proc.stderr else "")
        assert found, "the watch did not say where it serves the viewer"
        port = int(found.group(1))
    return proc, port, master


def drain(master: Optional[int], stop: threading.Event) -> None:
    """Reads the terminal's output so that the watch never blocks on it."""
    while master is not None and not stop.is_set():
        try:
            os.read(master, 65536)
        except OSError:
            return


def measure(cell: Cell, hz: float, mode: Optional[str], seconds: float) -> Dict[str, float]:
    """CPU share of one core of the server and (with a mode) the watch over `seconds`."""
    proc = port = master = None
    viewer = None
    stop = threading.Event()
    if mode is not None:
        proc, port, master = start_watch(cell.target, hz, mode)
        threading.Thread(target=drain, args=(master, stop), daemon=True).start()
        if port is not None:
            viewer = Viewer(port)
        time.sleep(1.5)  # start-up and imports: not part of the steady cost
    pids = {"server": cell.proc.pid, **({"watch": proc.pid} if proc else {})}
    before = {name: cpu_seconds(pid) for name, pid in pids.items()}
    start = time.monotonic()
    time.sleep(seconds)
    wall = time.monotonic() - start
    shares = {name: (cpu_seconds(pid) - before[name]) / wall for name, pid in pids.items()}
    if viewer is not None:
        shares["viewer messages/s"] = viewer.messages / max(wall, 1e-9)
        viewer.close()
    if proc is not None:
        proc.terminate()
        proc.wait(timeout=10)
    stop.set()
    if master is not None:
        os.close(master)
    return shares


def latency(cell: Cell, hz: float, seconds: float) -> List[float]:
    """Seconds from a joint vector's first appearance in the state to its arrival at the viewer."""
    proc, port, _ = start_watch(cell.target, hz, "viewer")
    assert port is not None
    viewer = Viewer(port)
    time.sleep(1.5)
    seen: Dict[Tuple[float, ...], float] = {}
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        state = cell.stub.pullSystemState(service_pb2.GenericRequest())
        now = time.monotonic()
        if "ur5e" in state.workspace.robots:
            joints = tuple(round(v, 9) for v in state.workspace.robots["ur5e"].joint_positions.data)
            seen.setdefault(joints, now)
        time.sleep(0.01)
    time.sleep(2.0 / hz)
    viewer.close()
    proc.terminate()
    proc.wait(timeout=10)
    return [viewer.arrived[joints] - t0 for joints, t0 in seen.items() if joints in viewer.arrived]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, default=20.0)
    parser.add_argument("--hz", type=float, default=10.0)
    parser.add_argument("--time-scale", type=float, default=1.0)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="ostrel-watch-bench-") as scratch:
        cell = Cell(Path(scratch), args.time_scale)
        try:
            time.sleep(1.0)
            baseline = measure(cell, args.hz, None, args.seconds)["server"]
            rows = [("server alone (baseline)", "server", baseline, None)]
            for mode in ("lines", "table", "viewer"):
                shares = measure(cell, args.hz, mode, args.seconds)
                rows.append(("watch, %s" % mode, "watch", shares["watch"], CPU_BUDGET))
                rows.append(("server added by the watch, %s" % mode, "server", shares["server"] - baseline,
                             CPU_BUDGET))
            delays = latency(cell, args.hz, args.seconds)
        finally:
            cell.close()
    period = 1.0 / args.hz
    print("%d runs of %s; %g s per phase at %g Hz, CPython %s" % (
        cell.runs, PROGRAM, args.seconds, args.hz, sys.version.split()[0]))
    print("| row | value | budget | ratio |")
    print("|---|---|---|---|")
    for label, _, share, budget in rows:
        print("| %s, CPU | %.1f %% of a core | %s | %s |" % (
            label, share * 100, "%d %%" % (budget * 100) if budget else "", "%.2f" % (share / budget) if budget
            else ""))
    if delays:
        budget = LATENCY_BUDGET_PERIODS * period
        print("| state change to the viewer's socket, median / max of %d | %.0f / %.0f ms | %.0f ms | %.2f |" % (
            len(delays), statistics.median(delays) * 1000, max(delays) * 1000, budget * 1000,
            max(delays) / budget))
    else:
        print("| state change to the viewer's socket | no joint vector reached the viewer | | |")


if __name__ == "__main__":
    main()
