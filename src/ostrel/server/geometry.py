"""Small geometry for the simulated cell: poses (Pose3) composed and
inverted through unit quaternions, joint vectors, and the smooth joint-space
trajectory that joins two joint positions."""

import math
from typing import Iterable, List, Sequence, Tuple

from ostrel.api import math_pb2, motion_pb2, trajectory_pb2

Quaternion = Tuple[float, float, float, float]
Point = Tuple[float, float, float]

TRAJECTORY_POINTS = 11
MIN_DURATION_S = 0.1


def quat(pose: math_pb2.Pose3) -> Quaternion:
    w, x, y, z = pose.qw, pose.qx, pose.qy, pose.qz
    n = math.sqrt(w * w + x * x + y * y + z * z)
    return (1.0, 0.0, 0.0, 0.0) if n == 0.0 else (w / n, x / n, y / n, z / n)


def qmul(a: Quaternion, b: Quaternion) -> Quaternion:
    aw, ax, ay, az = a
    bw, bx, by, bz = b
    return (aw * bw - ax * bx - ay * by - az * bz,
            aw * bx + ax * bw + ay * bz - az * by,
            aw * by - ax * bz + ay * bw + az * bx,
            aw * bz + ax * by - ay * bx + az * bw)


def rotate(q: Quaternion, v: Sequence[float]) -> Point:
    vx, vy, vz = v
    _, x, y, z = qmul(qmul(q, (0.0, vx, vy, vz)), (q[0], -q[1], -q[2], -q[3]))
    return (x, y, z)


def vec(v: math_pb2.Vector3) -> Point:
    return (v.x, v.y, v.z)


def compose(a: math_pb2.Pose3, b: math_pb2.Pose3) -> math_pb2.Pose3:
    """The pose b given in the frame of pose a, expressed in a's parent frame."""
    qa = quat(a)
    p = tuple(pa + pb for pa, pb in zip(vec(a.position), rotate(qa, vec(b.position))))
    q = qmul(qa, quat(b))
    return math_pb2.Pose3(position=math_pb2.Vector3(x=p[0], y=p[1], z=p[2]),
                          qw=q[0], qx=q[1], qy=q[2], qz=q[3])


def inverse_point(pose: math_pb2.Pose3, point: Point) -> Point:
    """A point of pose's parent frame, expressed in the frame of pose."""
    q = quat(pose)
    d = tuple(c - p for c, p in zip(point, vec(pose.position)))
    return rotate((q[0], -q[1], -q[2], -q[3]), d)


def translation(x: float, y: float, z: float) -> math_pb2.Pose3:
    return math_pb2.Pose3(position=math_pb2.Vector3(x=x, y=y, z=z), qw=1.0)


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
