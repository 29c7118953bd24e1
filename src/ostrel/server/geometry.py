"""Joint-space geometry for the simulated cell: joint vectors, and the
smooth trajectory that joins two joint positions. Poses are
`ostrel.kinematics`'."""

import math
from typing import Iterable, List, Sequence, Tuple

from ostrel.api import math_pb2, motion_pb2, trajectory_pb2

TRAJECTORY_POINTS = 11
MIN_DURATION_S = 0.1


def vector(values: Iterable[float]) -> math_pb2.VectorX:
    return math_pb2.VectorX(data=list(values))


def norm(values: Iterable[float]) -> float:
    return math.sqrt(sum(v * v for v in values))


def wrap(angle: float) -> float:
    return math.atan2(math.sin(angle), math.cos(angle))


def smooth_trajectory(q0: List[float], q1: List[float], vmax: Sequence[float],
                      amax: Sequence[float]) -> Tuple[trajectory_pb2.Trajectory, float]:
    """The joint-space trajectory from q0 to q1 along the smooth step
    s(u) = 3u^2 - 2u^3, as fast as the per-joint velocity and acceleration
    bounds allow (peak speed 1.5 dq/T, peak acceleration 6 dq/T^2), and its
    duration in seconds."""
    dq = [b - a for a, b in zip(q0, q1)]
    duration = max([MIN_DURATION_S] + [max(1.5 * abs(d) / v, math.sqrt(6.0 * abs(d) / a))
                                       for d, v, a in zip(dq, vmax, amax)])
    trajectory = trajectory_pb2.Trajectory()
    for k in range(TRAJECTORY_POINTS):
        u = k / (TRAJECTORY_POINTS - 1)
        s, ds, dds = 3 * u * u - 2 * u ** 3, (6 * u - 6 * u * u) / duration, (6 - 12 * u) / duration ** 2
        joint = motion_pb2.JointState(
            positions=vector(a + d * s for a, d in zip(q0, dq)),
            velocities=vector(d * ds for d in dq),
            accelerations=vector(d * dds for d in dq),
        )
        trajectory.time_s.append(u * duration)
        trajectory.reference.append(motion_pb2.State(joint=joint))
    return trajectory, duration
