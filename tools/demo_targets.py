"""Joint targets of the demo project, found by a small numeric inverse
kinematics search over `ostrel.kinematics.tool_pose`: for each named spot,
the UR5e's joints that put the tool frame at that point with its z axis
pointing straight down, starting from the home position turned towards
the spot (so the solution keeps home's elbow-up, wrist-down shape).

    PYTHONPATH=src python tools/demo_targets.py [examples/pick_and_place.json]

prints each target's joint vector, the effector's pose at home's flange
and the lowest the tool comes on each joint-space move of the program.
"""

import math
import sys
from pathlib import Path
from typing import Callable, List, Sequence, Tuple

from google.protobuf import json_format

from ostrel import kinematics
from ostrel.api import project_pb2

ROBOT, TOOL = "ur5e", "gripper_tcp"
ABOVE_M = 0.1  # approach and retreat height over the grasp point
BESIDE_M = 0.025  # the two place spots, either side of the place region's centre along y
WRIST_TURN = 0.0  # the last joint, fixed: the tool's turn about its z axis follows the base
STEP = 1e-7  # finite-difference step of the Jacobian, radians

Vector = List[float]


def residual(config, spot: Sequence[float]) -> Callable[[Sequence[float]], Vector]:
    """Position error (3), the tool z axis's horizontal part (2), the last joint's offset (1)."""
    def r(q: Sequence[float]) -> Vector:
        pose = kinematics.tool_pose(config, q, TOOL)
        z = kinematics.apply(kinematics.Pose((0.0, 0.0, 0.0), pose.q), (0.0, 0.0, 1.0))
        return [pose.p[0] - spot[0], pose.p[1] - spot[1], pose.p[2] - spot[2], z[0], z[1], q[5] - WRIST_TURN]
    return r


def solve_linear(a: List[Vector], b: Vector) -> Vector:
    """a x = b by Gaussian elimination with partial pivoting."""
    n = len(b)
    m = [row[:] + [b[i]] for i, row in enumerate(a)]
    for col in range(n):
        pivot = max(range(col, n), key=lambda i: abs(m[i][col]))
        m[col], m[pivot] = m[pivot], m[col]
        for i in range(col + 1, n):
            f = m[i][col] / m[col][col]
            m[i] = [x - f * y for x, y in zip(m[i], m[col])]
    x = [0.0] * n
    for i in reversed(range(n)):
        x[i] = (m[i][n] - sum(m[i][j] * x[j] for j in range(i + 1, n))) / m[i][i]
    return x


def newton(r: Callable[[Sequence[float]], Vector], q: Vector, rounds: int = 50) -> Vector:
    for _ in range(rounds):
        e = r(q)
        if max(abs(v) for v in e) < 1e-12:
            return q
        columns = []
        for j in range(len(q)):
            dq = q[:]
            dq[j] += STEP
            columns.append([(a - b) / STEP for a, b in zip(r(dq), e)])
        jacobian = [[columns[j][i] for j in range(len(q))] for i in range(len(e))]
        q = [a - b for a, b in zip(q, solve_linear(jacobian, e))]
    raise SystemExit("no solution near %s" % q)


def target(config, home: Sequence[float], spot: Sequence[float], base: float) -> Vector:
    """Joints putting the tool at spot, pointing down, the base turned near `base`."""
    q = newton(residual(config, spot), [base] + list(home[1:]))
    pose = kinematics.tool_pose(config, q, TOOL)
    down = kinematics.apply(kinematics.Pose((0.0, 0.0, 0.0), pose.q), (0.0, 0.0, 1.0))
    assert down[2] < -0.999999, "the tool points up at %s" % q
    return q


def lowest_tool_z(config, q0: Sequence[float], q1: Sequence[float], samples: int = 200) -> float:
    """The tool's lowest height on the straight joint-space path from q0 to q1."""
    return min(kinematics.tool_pose(config, [a + (b - a) * i / samples for a, b in zip(q0, q1)], TOOL).p[2]
               for i in range(samples + 1))


def spots(snapshot) -> List[Tuple[str, Tuple[float, float, float]]]:
    regions = snapshot.workspace.state.task_regions
    px, py, pz = kinematics.from_pose3(regions["pick_region"].base_pose).p
    lx, ly, lz = kinematics.from_pose3(regions["place_region"].base_pose).p
    return [("grasp", (px, py, pz)), ("pre_grasp", (px, py, pz + ABOVE_M)),
            ("place_left", (lx, ly + BESIDE_M, lz)), ("place_right", (lx, ly - BESIDE_M, lz))]


def main(path: str) -> None:
    snapshot = json_format.Parse(Path(path).read_text(), project_pb2.ProjectSnapshot())
    config = snapshot.workspace.config.robots[ROBOT]
    home = list(snapshot.variables.target_generators["home"].joint_position_target
                .joint_positions.deterministic.data)
    found = {}
    for name, spot in spots(snapshot):
        # Home's arm reaches along -x of the base: turn it by the spot's bearing plus a half turn,
        # the pick side the short way round and the place side on past it, so transfers stay short.
        bearing = math.atan2(spot[1], spot[0])
        found[name] = target(config, home, spot, bearing - math.pi)
        print("%-12s [%s]" % (name, ", ".join("%.6f" % v for v in found[name])))
    flange = kinematics.tool_pose(config, home, "")
    print("home flange  p=(%s) q=(%s)" % (", ".join("%.9f" % v for v in flange.p),
                                          ", ".join("%.9f" % v for v in flange.q)))
    for a, b in (("home", "pre_grasp"), ("pre_grasp", "grasp"), ("pre_grasp", "place_left"),
                 ("pre_grasp", "place_right"), ("place_left", "home")):
        q0 = home if a == "home" else found[a]
        q1 = home if b == "home" else found[b]
        print("%s -> %s: tool at least %.3f m high" % (a, b, lowest_tool_z(config, q0, q1)))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "examples/pick_and_place.json")
