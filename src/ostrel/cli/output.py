"""What commands print: protobuf JSON, written in pieces, and readable text
of a project and of the system state.

The protobuf JSON support is imported only by the commands that read or
write JSON."""

import time
from typing import IO, Any, Iterator

from ostrel.cli.client import Api


def json_format() -> Any:
    from google.protobuf import json_format as module

    return module


def json_chunks(message: Any) -> Iterator[str]:
    """The protobuf JSON of `message` (as json_format.MessageToJson writes it,
    indent 2) in pieces, so a large message is written without also holding
    its whole text."""
    import json

    as_dict = json_format().MessageToDict(message, preserving_proto_field_name=True)
    return json.JSONEncoder(indent=2).iterencode(as_dict)


def to_json(message: Any) -> str:
    return "".join(json_chunks(message))


def write_json(stream: IO[str], message: Any) -> None:
    for chunk in json_chunks(message):
        stream.write(chunk)
    stream.write("\n")


class RecordsJson:
    """Writes the JSON of a DataRecords one record set at a time, as
    json_format would write the whole message at once."""

    def __init__(self, stream: IO[str]) -> None:
        self.stream = stream
        self.count = 0

    def add(self, record_set: Any) -> None:
        write = self.stream.write
        write(',\n    ' if self.count else '{\n  "records": [\n    ')
        for chunk in json_chunks(record_set):
            write(chunk.replace("\n", "\n    "))
        self.count += 1

    def close(self) -> None:
        self.stream.write("\n  ]\n}\n" if self.count else "{}\n")


def ns_time(ns: int) -> str:
    if not ns:
        return "-"
    return time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(ns / 1e9)) + ".%03d" % (ns // 1_000_000 % 1000)


def _joints(vector: Any) -> str:
    return "[" + ", ".join("%.3f" % v for v in vector.data) + "]"


def describe_project(project: Any) -> str:
    config = project.workspace.config
    lines = ["project %s" % (project.version or "(no version)")]
    for label, keys in (("robots", config.robots), ("effectors", config.effectors), ("items", config.items),
                        ("cameras", config.cameras), ("fiducials", config.fiducials),
                        ("task regions", config.task_regions),
                        ("motion limits", project.variables.motion_limits),
                        ("target generators", project.variables.target_generators),
                        ("behaviors", project.behaviors)):
        lines.append("  %-18s %s" % (label + ":", ", ".join(sorted(keys)) or "-"))
    return "\n".join(lines)


def describe_state(api: Api, state: Any) -> str:
    lines = ["status: %s" % api.status_line(state.status)]
    workspace = state.workspace
    for key in sorted(workspace.robots):
        lines.append("  robot %s: joints %s" % (key, _joints(workspace.robots[key].joint_positions)))
    for key in sorted(workspace.effectors):
        lines.append("  effector %s: positions %s" % (key, _joints(workspace.effectors[key].joint_positions)))
    if state.HasField("planner"):
        planner = state.planner
        duration = planner.trajectory.time_s[-1] if planner.trajectory.time_s else 0.0
        lines.append("  planner: robot %s, %d target proposals, trajectory of %d points over %.2f s"
                     % (planner.robot or "-", len(planner.target_proposals),
                        len(planner.trajectory.reference), duration))
    if state.HasField("controller"):
        controller = state.controller
        lines.append("  controller: robot %s, time %.2f s%s"
                     % (controller.robot or "-", controller.time_s, ", FAULTED" if controller.faulted else ""))
    if state.HasField("perception"):
        perception = state.perception
        lines.append("  perception: %d detected markers, camera poses of %s"
                     % (len(perception.detected_markers), ", ".join(sorted(perception.camera_poses)) or "-"))
    if state.HasField("images"):
        lines.append("  images: %s" % (", ".join("%s %dx%d" % (i.camera, i.width, i.height)
                                                 for i in state.images.images) or "-"))
    return "\n".join(lines)
