"""Time and peak memory of `ostrel records --export`, `ostrel records --mcap`
and `ostrel report` on a recording made by the reference server.

    python bench/records_export.py [--crops N] [--size PIXELS] [--time-scale S]

Starts ostrel-server on a free port with a throwaway database, pushes the
sample project (with --crops, a program that records N perspective crops of
SIZE x SIZE mono8 pixels instead), runs it, and runs each command in a
process of its own under /usr/bin/time: wall time and the client's peak RSS.
The answer's size is the serialized DataRecords that the server sends. The
MCAP writer also runs on that answer read from a file (`mcap writer, answer
from file`), which leaves out what the gRPC receive itself takes. Without the
MCAP libraries (`pip install ".[mcap]"`) those rows are left out.
"""

import argparse
import json
import re
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from google.protobuf import json_format

from ostrel.api import project_pb2
from ostrel.records import MCAP_COMPRESSIONS

ROOT = Path(__file__).resolve().parents[1]
BIN = Path(sys.executable).parent


def project(crops: int, size: int) -> project_pb2.ProjectSnapshot:
    snapshot = json_format.Parse((ROOT / "examples" / "pick_and_place.json").read_text(),
                                 project_pb2.ProjectSnapshot())
    if crops:
        steps = [{"start_recording_data": {"description": "crops"}}, {"initialize_perception": {}}]
        steps += [{"name": "crop_%d" % i, "perspective_crop_image": {
            "camera": "d435i", "task_region": "pick_region", "width": size, "height": size}} for i in range(crops)]
        json_format.ParseDict({"sequence_routine": {"behaviors": steps}}, snapshot.behaviors["crops"])
    return snapshot


def have_mcap() -> bool:
    try:
        import ostrel.records.mcap  # noqa: F401
    except ImportError:
        return False
    return True


def pull_answer(port: str, path: Path) -> int:
    """The server's serialized DataRecords answer, as it sends it, written to path; its size."""
    return int(subprocess.check_output([sys.executable, "-c", (
        "import grpc\nfrom ostrel.api import ostrel_service_pb2 as O, service_pb2 as S\n"
        "m = O.DESCRIPTOR.services_by_name['Ostrel'].methods_by_name['pullDataRecords']\n"
        "c = grpc.insecure_channel('localhost:%s', options=[('grpc.max_receive_message_length', -1)])\n"
        "f = c.unary_unary('/%%s/%%s' %% (m.containing_service.full_name, m.name), "
        "request_serializer=S.RecordsRequest.SerializeToString)\n"
        "a = f(S.RecordsRequest(), timeout=300)\nopen(%r, 'wb').write(a)\nprint(len(a))")
        % (port, str(path))]))


def measured(argv: list, out: "Path | None") -> tuple:
    proc = subprocess.run(["/usr/bin/time", "-f", "%e %M", *argv], capture_output=True, text=True, timeout=600)
    if proc.returncode:
        raise SystemExit("%s failed:\n%s" % (" ".join(argv), proc.stderr))
    wall, rss = proc.stderr.strip().splitlines()[-1].split()
    if out is None:
        size = 0
    else:
        size = sum(f.stat().st_size for f in out.rglob("*")) if out.is_dir() else out.stat().st_size
    return float(wall), int(rss) // 1024, size


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--crops", type=int, default=0)
    parser.add_argument("--size", type=int, default=4096)
    parser.add_argument("--time-scale", type=float, default=0.05)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as work_dir:
        work = Path(work_dir)
        server = subprocess.Popen([str(BIN / "ostrel-server"), "--port", "0", "--db", str(work / "db.sqlite3"),
                                   "--time-scale", str(args.time_scale)], stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL, text=True)
        try:
            port = re.search(r":(\d+) ", server.stdout.readline()).group(1)
            ostrel = [str(BIN / "ostrel"), "--target", "localhost:" + port, "--timeout", "300"]
            (work / "project.json").write_text(json_format.MessageToJson(project(args.crops, args.size)))
            behavior = "crops" if args.crops else "pick_and_place"
            for step in (["push", str(work / "project.json")], ["run", behavior, "--wait", "--poll", "0.05"]):
                subprocess.run(ostrel + step, check=True, stdout=subprocess.DEVNULL, timeout=600)
            answer_file = work / "answer.bin"
            answer = pull_answer(port, answer_file)
            commands = [
                ("records (summary)", ostrel + ["records"], None),
                ("records --export", ostrel + ["records", "--export", str(work / "run")], work / "run"),
                ("report", ostrel + ["report", "--out", str(work / "run.html")], work / "run.html"),
                ("records --out (JSON)", ostrel + ["records", "--out", str(work / "run.json")], work / "run.json")]
            if have_mcap():
                for compression in MCAP_COMPRESSIONS:
                    out = work / ("run-%s.mcap" % compression)
                    commands.append(("records --mcap (%s)" % compression, ostrel + [
                        "records", "--mcap", str(out), "--mcap-compression", compression], out))
                out = work / "file.mcap"
                commands.append(("mcap writer, answer from file (zstd)", [sys.executable, "-c", (
                    "from ostrel.records import mcap\nmcap.write(%r, %r)") % (str(answer_file), str(out))], out))
            rows = {}
            for name, argv, out in commands:
                time.sleep(0.2)
                wall, rss, size = measured(argv, out)
                rows[name] = {"wall_s": wall, "peak_rss_mb": rss, "output_bytes": size}
            print(json.dumps({"answer_bytes": answer, "commands": rows}, indent=2))
        finally:
            server.terminate()
            server.wait(timeout=30)


if __name__ == "__main__":
    main()
