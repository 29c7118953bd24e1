"""A valid caller's latency and the server's peak memory while hostile
callers run, all on 127.0.0.1:

    PYTHONPATH=src python bench/hostile.py [--seconds 8] [--push-mib 96]

starts `ostrel-server` with a token file on a free loopback port, then runs
at once 16 callers that send a call's headers (no token, or a wrong one) and
never its body, 4 pushes of PUSH_MIB bytes with a wrong token, and one
caller with the right token that calls `connect` and the health check over
and over. Prints the valid caller's latencies, how its calls ended, how the
hostile calls ended and the server's peak resident memory (VmHWM). Every
caller has a deadline; the run ends by itself.
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from collections import Counter

import grpc
from grpc_health.v1 import health_pb2, health_pb2_grpc

from ostrel.api import ostrel_service_pb2

TOKEN = "bench-token-0123456789"
SERVICE = ostrel_service_pb2.DESCRIPTOR.services_by_name["Ostrel"]
PUSH = "/%s/%s" % (SERVICE.full_name, SERVICE.methods_by_name["pushProjectSnapshot"].name)
CONNECT = "/%s/%s" % (SERVICE.full_name, SERVICE.methods_by_name["connect"].name)
SILENT_CALLERS = 16
BIG_PUSHES = 4


def _raw(data):
    return data


def start_server(folder):
    tokens = os.path.join(folder, "tokens")
    with open(os.open(tokens, os.O_WRONLY | os.O_CREAT, 0o600), "w") as handle:
        handle.write(TOKEN + "\n")
    proc = subprocess.Popen([sys.executable, "-m", "ostrel.server", "--port", "0", "--time-scale", "0",
                             "--db", os.path.join(folder, "db.sqlite3"), "--token-file", tokens,
                             "--log-level", "WARNING"],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    line = proc.stdout.readline()
    return proc, line.split()[3]


def peak_rss_mib(pid):
    with open("/proc/%d/status" % pid) as handle:
        for line in handle:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    return float("nan")


def silent_caller(target, metadata, seconds, ends):
    """Headers, then a body that never comes."""
    hold = threading.Event()

    def body():
        hold.wait(seconds)
        return
        yield b""  # a generator that yields nothing until the deadline

    with grpc.insecure_channel(target) as channel:
        call = channel.stream_unary(PUSH, request_serializer=_raw, response_deserializer=_raw)
        try:
            call(body(), metadata=metadata, timeout=seconds)
            ends["answered"] += 1
        except grpc.RpcError as error:
            ends[error.code().name] += 1


def big_push(target, mib, seconds, ends):
    payload = b"\x00" * (mib << 20)
    with grpc.insecure_channel(target, options=[("grpc.max_send_message_length", -1)]) as channel:
        call = channel.unary_unary(PUSH, request_serializer=_raw, response_deserializer=_raw)
        try:
            call(payload, metadata=(("authorization", "Bearer wrong-token"),), timeout=seconds)
            ends["answered"] += 1
        except grpc.RpcError as error:
            ends[error.code().name] += 1


def valid_caller(target, seconds, latencies, ends):
    metadata = (("authorization", "Bearer " + TOKEN),)
    deadline = time.monotonic() + seconds
    with grpc.insecure_channel(target) as channel:
        connect = channel.unary_unary(CONNECT, request_serializer=_raw, response_deserializer=_raw)
        health = health_pb2_grpc.HealthStub(channel)
        while time.monotonic() < deadline:
            for name, call in (("connect", lambda: connect(b"", metadata=metadata, timeout=2)),
                               ("health", lambda: health.Check(health_pb2.HealthCheckRequest(), timeout=2))):
                started = time.perf_counter()
                try:
                    call()
                    latencies[name].append(time.perf_counter() - started)
                    ends[name + " OK"] += 1
                except grpc.RpcError as error:
                    ends["%s %s" % (name, error.code().name)] += 1
            time.sleep(0.05)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, default=8.0)
    parser.add_argument("--push-mib", type=int, default=96)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as folder:
        proc, target = start_server(folder)
        try:
            idle = peak_rss_mib(proc.pid)
            latencies = {"connect": [], "health": []}
            valid_ends, hostile_ends = Counter(), Counter()
            threads = [threading.Thread(target=silent_caller, args=(
                target, () if n % 2 else (("authorization", "Bearer guess-%d" % n),), args.seconds, hostile_ends))
                for n in range(SILENT_CALLERS)]
            threads += [threading.Thread(target=big_push, args=(target, args.push_mib, args.seconds, hostile_ends))
                        for _ in range(BIG_PUSHES)]
            for thread in threads:
                thread.start()
            time.sleep(0.5)  # the hostile calls are in
            valid_caller(target, args.seconds - 1, latencies, valid_ends)
            for thread in threads:
                thread.join()
            peak = peak_rss_mib(proc.pid)
        finally:
            proc.terminate()
            proc.wait(10)
    print("server peak RSS: %.0f MiB (%.0f MiB when idle)" % (peak, idle))
    for name, values in latencies.items():
        if values:
            print("%s latency: median %.1f ms, max %.1f ms over %d calls" % (
                name, statistics.median(values) * 1e3, max(values) * 1e3, len(values)))
    print("valid calls: %s" % dict(sorted(valid_ends.items())))
    print("hostile calls: %s" % dict(sorted(hostile_ends.items())))


if __name__ == "__main__":
    main()
