"""The cell's scene: the time to build the viewer messages of one system
state for the sample cell, and the MCAP writer of this tree against the
writer of an earlier revision on the same recordings, as ratios in one run.

    python bench/scene_export.py [--before REV] [--rounds N] [--crops N] [--size PIXELS]

The state row builds `Scene.from_state` of a state holding the workspace,
a controller's, a perception's and an images product (one 160x120 preview),
in this process, and gives the median of many calls. The writer rows run
`ostrel.records.mcap.write` on a recording's answer read from a file, each
in a process of its own, rounds interleaved ours/before (wall and CPU
seconds, and the median of the rounds' ratios): the sample program's
recording and, with --crops (default 6, of 4096x4096 pixels: the 100 MB
recording), one with that many crops. REV (default: main) is extracted with
`git archive` into a scratch folder and runs on this tree's extension
modules. Needs the MCAP libraries: pip install ".[mcap]".
"""

import argparse
import json
import os
import re
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from typing import Dict, List, Tuple

from google.protobuf import json_format

import ostrel.api
from ostrel.api import control_pb2, project_pb2, system_pb2

sys.path.insert(0, str(Path(__file__).resolve().parent))
import records_export  # noqa: E402  (its server, project and answer helpers)

ROOT = Path(__file__).resolve().parents[1]
BIN = Path(sys.executable).parent
STATE_CALLS = 2000
STATE_BUDGET_MS = 1.0
WRITER_BUDGET = 1.1  # ours / before


def demo_project() -> project_pb2.ProjectSnapshot:
    return json_format.Parse((ROOT / "examples" / "pick_and_place.json").read_text(), project_pb2.ProjectSnapshot())


def state_row() -> Dict[str, float]:
    from ostrel.records.scene import Scene

    project = demo_project()
    started = time.perf_counter()
    scene = Scene(project)
    built_ms = (time.perf_counter() - started) * 1e3
    state = system_pb2.SystemState(workspace=project.workspace.state, controller=control_pb2.ControllerProducts(
        robot="ur5e", reference={"joint": {"positions": {"data": [0.1] * 6}}},
        feedback={"joint": {"positions": {"data": [0.1] * 6}}}))
    state.perception.detected_markers.add(camera="d435i", id=0, corners=[{"x": 300, "y": 200}] * 4)
    state.perception.camera_poses["d435i"].CopyFrom(project.workspace.state.cameras["d435i"].base_pose)
    state.images.images.add(camera="d435i", encoding="mono8", width=160, height=120, step=160, data=bytes(19200))
    times = []
    for i in range(STATE_CALLS):
        started = time.perf_counter()
        scene.from_state(state, i)
        times.append(time.perf_counter() - started)
    median_ms = statistics.median(times) * 1e3
    return {"scene_build_ms": round(built_ms, 3), "from_state_median_ms": round(median_ms, 4),
            "from_state_min_ms": round(min(times) * 1e3, 4), "ratio_to_budget": round(median_ms / STATE_BUDGET_MS, 3),
            "messages": len(scene.from_state(state, 0))}


def before_tree(revision: str, scratch: Path) -> Path:
    """The revision's src/ extracted, with this tree's built extension modules."""
    tree = scratch / "before"
    tree.mkdir()
    archive = subprocess.run(["git", "-C", str(ROOT), "archive", revision, "src/ostrel"], check=True,
                             capture_output=True).stdout
    subprocess.run(["tar", "-x", "-C", str(tree)], input=archive, check=True)
    api = Path(ostrel.api.__file__).parent
    for built in api.iterdir():
        if built.suffix in (".so", ".pyd"):
            shutil.copy(built, tree / "src" / "ostrel" / "api" / built.name)
    return tree / "src"


def answer_of(work: Path, crops: int, size: int, name: str) -> Path:
    """A recording's answer, from a throwaway server running the sample project (or the crops)."""
    server = subprocess.Popen([str(BIN / "ostrel-server"), "--port", "0", "--db", str(work / (name + ".sqlite3")),
                               "--time-scale", "0.01"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        line = server.stdout.readline() if server.stdout else ""
        port = re.search(r":(\d+) ", line).group(1)  # type: ignore[union-attr]
        ostrel = [str(BIN / "ostrel"), "--target", "localhost:" + port, "--timeout", "300"]
        (work / "project.json").write_text(json_format.MessageToJson(records_export.project(crops, size)))
        behavior = "crops" if crops else "pick_and_place"
        for step in (["push", str(work / "project.json")], ["run", behavior, "--wait", "--poll", "0.05"]):
            subprocess.run(ostrel + step, check=True, stdout=subprocess.DEVNULL, timeout=600)
        out = work / (name + ".bin")
        records_export.pull_answer(port, out)
        return out
    finally:
        server.terminate()
        server.wait(timeout=30)


def time_writer(src: Path, answer: Path, out: Path) -> Tuple[float, float]:
    """The writer in a process of its own: (wall, CPU) seconds of that process."""
    code = "from ostrel.records import mcap\nmcap.write(%r, %r)" % (str(answer), str(out))
    env = dict(os.environ, PYTHONPATH=str(src))
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    started = time.perf_counter()
    subprocess.run([sys.executable, "-c", code], check=True, env=env, timeout=600)
    wall = time.perf_counter() - started
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return wall, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def writer_rows(ours: Path, before: Path, answers: Dict[str, Path], rounds: int, work: Path) -> Dict[str, dict]:
    """Per recording: each variant's median wall and CPU seconds, and the
    median of the ours/before ratios of the rounds (each round runs both in
    turn, so the ratio holds when the shared machine's speed drifts)."""
    rows = {}
    for name, answer in answers.items():
        times: Dict[str, List[Tuple[float, float]]] = {"ours": [], "before": []}
        for _ in range(rounds):
            for variant, src in (("ours", ours), ("before", before)):
                times[variant].append(time_writer(src, answer, work / ("%s-%s.mcap" % (name, variant))))
        row: Dict[str, object] = {"answer_bytes": answer.stat().st_size}
        for index, figure in enumerate(("wall", "cpu")):
            for variant, runs in times.items():
                row["%s_%s_median_s" % (variant, figure)] = round(statistics.median(r[index] for r in runs), 3)
            row["ratio_%s" % figure] = round(statistics.median(
                a[index] / b[index] for a, b in zip(times["ours"], times["before"])), 3)
        for variant in times:
            row["%s_mcap_bytes" % variant] = (work / ("%s-%s.mcap" % (name, variant))).stat().st_size
        rows[name] = row
    return rows


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--before", default="main")
    parser.add_argument("--rounds", type=int, default=9)
    parser.add_argument("--crops", type=int, default=6)
    parser.add_argument("--size", type=int, default=4096)
    args = parser.parse_args()
    result: Dict[str, object] = {"state": state_row()}
    with tempfile.TemporaryDirectory() as scratch_dir:
        scratch = Path(scratch_dir)
        before = before_tree(args.before, scratch)
        answers = {"sample program": answer_of(scratch, 0, 0, "sample")}
        if args.crops:
            answers["%d crops %dx%d" % (args.crops, args.size, args.size)] = answer_of(scratch, args.crops, args.size,
                                                                                      "crops")
        ours = Path(ostrel.api.__file__).resolve().parents[2]
        result["writer"] = writer_rows(ours, before, answers, args.rounds, scratch)
    result["budgets"] = {"from_state_ms": STATE_BUDGET_MS, "writer_ratio": WRITER_BUDGET}
    print(json.dumps(result, indent=2))


if __name__ == "__main__":
    main()
