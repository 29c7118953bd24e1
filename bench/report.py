"""Prints the benchmark table (Markdown) from the results of one run.

    python bench/report.py OUTDIR

reads OUTDIR/cold.json and OUTDIR/calls.json (pyperf) and OUTDIR/memory.json.
"""

import json
import os
import platform
import subprocess
import sys

import pyperf


def load(path):
    if not os.path.exists(path):
        return {}
    return {b.get_name(): b for b in pyperf.BenchmarkSuite.load(path).get_benchmarks()}


def ms(seconds):
    return "%.2f ms" % (seconds * 1e3)


def us(seconds):
    return "%.1f µs" % (seconds * 1e6) if seconds < 1e-3 else ms(seconds)


def ratio(a, b):
    return "%.2f" % (a / b) if a and b else "n/a"


def machine():
    cpu = "unknown"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    versions = {}
    for dist in ("protobuf", "grpcio", "grpcio-tools", "pyperf"):
        try:
            from importlib.metadata import version
            versions[dist] = version(dist)
        except Exception:  # noqa: BLE001 - a missing package is reported as such
            versions[dist] = "absent"
    return ("%s; nproc %d; %s; Python %s; %s" % (
        platform.platform(), os.cpu_count(), cpu, platform.python_version(),
        ", ".join("%s %s" % kv for kv in versions.items())))


def commit(root):
    try:
        out = subprocess.run(["git", "-C", root, "rev-parse", "--short", "HEAD"],
                             capture_output=True, text=True, check=True).stdout.strip()
        dirty = subprocess.run(["git", "-C", root, "status", "--porcelain", "--", "api",
                                "compiler", "CMakeLists.txt", "pyproject.toml"],
                               capture_output=True, text=True, check=True).stdout.strip()
        return out + (" (api/ or build files modified)" if dirty else "")
    except (OSError, subprocess.CalledProcessError):
        return "unknown"


def main():
    out = sys.argv[1]
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    cold = load(os.path.join(out, "cold.json"))
    calls = load(os.path.join(out, "calls.json"))
    memory = {}
    mem_path = os.path.join(out, "memory.json")
    if os.path.exists(mem_path):
        with open(mem_path) as f:
            memory = json.load(f)
    api = next(iter(cold.values())).get_metadata().get("api", "?") if cold else "?"
    before = None
    if os.path.exists(os.path.join(out, "before.rev")):
        before = open(os.path.join(out, "before.rev")).read().strip()
    what = ("`import ostrel.api.service_pb2_grpc`" if api == "whole"
            else "`import ostrel.api.data_pb2, ostrel.api.system_pb2` (service module not built)")
    lines = ["Machine: " + machine(), "Commit: " + commit(root)]
    loadavg = [os.path.join(out, "loadavg." + k) for k in ("start", "end")]
    if all(os.path.exists(p) for p in loadavg):
        lines.append("Load average (1, 5, 15 min) before / after the run: %s / %s" % tuple(
            open(p).read().strip() for p in loadavg))
    lines.append("")

    lines += ["Cold import of the whole API, %s in a fresh interpreter (protobuf runtime "
              "import included, interpreter start-up excluded); median of %s processes per "
              "row, the rows interleaved." % (
                  what, next(iter(cold.values())).get_nrun() if cold else "?"), "",
              "| protobuf | ours | peer (protoc) | floor | ours/peer | ours/floor |%s" % (
                  " before | ours/before |" if before else ""),
              "|---|---|---|---|---|---|%s" % ("---|---|" if before else "")]
    for phase in ("import", "api"):
        for impl in ("upb", "python"):
            keys = ("ours", "peer", "floor") + (("before",) if before else ())
            v = {k: cold.get("%s-%s-%s" % (phase, impl, k)) for k in keys}
            if not all(v.values()):
                continue
            m = {k: b.median() for k, b in v.items()}
            label = impl if phase == "import" else "%s, API only" % impl
            row = "| %s | %s | %s | %s | %s | %s |" % (
                label, ms(m["ours"]), ms(m["peer"]), ms(m["floor"]),
                ratio(m["ours"], m["peer"]), ratio(m["ours"], m["floor"]))
            if before:
                row += " %s | %s |" % (ms(m["before"]), ratio(m["ours"], m["before"]))
            lines.append(row)
    lines += ["", "API only: the protobuf runtime modules%s imported first, untimed." % (
        " and grpc" if api == "whole" else "")]
    if before:
        lines[-1] += " before: ours built from %s." % before

    if calls:
        lines += ["", "Per call, upb runtime, median over %d worker processes "
                  "(floor: the same runtime calls with nothing around them)." % (
                      next(iter(calls.values())).get_nrun()), "",
                  "| call | ours | peer (grpcio-tools) | floor | ours/peer | ours/floor |",
                  "|---|---|---|---|---|---|"]
        labels = {
            "stub": "OstrelStub(channel)",
            "register": "add_OstrelServicer_to_server",
            "push-small": "pushProjectSnapshot, %s round trip" % "small",
            "push-large": "pushProjectSnapshot, ~1 MB round trip",
            "pull-large": "pullProjectSnapshot, ~1 MB round trip",
        }
        for key, label in labels.items():
            m = {k: calls["%s-%s" % (key, k)].median() if "%s-%s" % (key, k) in calls else None
                 for k in ("ours", "peer", "floor")}
            if m["ours"] is None and m["peer"] is None:
                continue
            lines.append("| %s | %s | %s | %s | %s | %s |" % (
                label, us(m["ours"]) if m["ours"] else "n/a", us(m["peer"]) if m["peer"] else "n/a",
                us(m["floor"]) if m["floor"] else "-", ratio(m["ours"], m["peer"]),
                ratio(m["ours"], m["floor"]) if m["floor"] else "-"))

    if memory:
        r = memory["results"]
        runs = len(next(iter(r.values()))["samples"])
        lines += ["", "RSS growth from the same import, median of %d fresh processes "
                  "(runtime: only the protobuf runtime modules%s)." % (
                      runs, " and grpc" if memory.get("api") == "whole" else ""), "",
                  "| protobuf | ours | peer | floor | runtime | ours/peer | ours - runtime | peer - runtime |%s"
                  % (" before - runtime |" if before else ""),
                  "|---|---|---|---|---|---|---|---|%s" % ("---|" if before else "")]
        for impl in ("upb", "python"):
            keys = ("ours", "peer", "floor", "runtime") + (("before",) if before else ())
            m = {k: r["rss-%s-%s" % (impl, k)]["median"] / 2**20 for k in keys}
            row = "| %s | %.2f MiB | %.2f MiB | %.2f MiB | %.2f MiB | %s | %.2f MiB | %.2f MiB |" % (
                impl, m["ours"], m["peer"], m["floor"], m["runtime"], ratio(m["ours"], m["peer"]),
                m["ours"] - m["runtime"], m["peer"] - m["runtime"])
            if before:
                row += " %.2f MiB |" % (m["before"] - m["runtime"])
            lines.append(row)
    print("\n".join(lines))


if __name__ == "__main__":
    main()
