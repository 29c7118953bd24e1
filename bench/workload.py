"""Project snapshots used by the per-call benchmarks.

The same function builds the snapshot from our modules or from the peer's,
so both sides send byte-identical requests.
"""

import importlib


def api(name):
    return importlib.import_module("ostrel.api.%s_pb2" % name)


def make_snapshot(behaviors, steps=20):
    """A ProjectSnapshot with `behaviors` sequences of `steps` leaf steps each,
    a two-robot workspace and motion limits per behavior."""
    snap = api("project").ProjectSnapshot(version="1.4.2")
    for key in ("left_arm", "right_arm"):
        snap.workspace.config.robots[key]  # a message map creates the entry
        snap.workspace.state.robots[key]
    for b in range(behaviors):
        routine = snap.behaviors["pick_and_place_%04d" % b]
        routine.name = "pick_and_place_%04d" % b
        seq = routine.sequence_routine
        for s in range(steps):
            step = seq.behaviors.add(name="step_%02d" % s)
            if s % 4 == 3:
                step.sleep_routine.duration_s = 0.25
            else:
                goto = step.goto_target_positions
                goto.robot = "left_arm" if s % 2 else "right_arm"
                goto.tool = "gripper_tcp"
                goto.num_proposals = 16
                goto.motion_limits = "limits_%04d" % b
        limits = snap.variables.motion_limits["limits_%04d" % b]
        limits.joint_velocity.data.extend([1.5 + 0.01 * j for j in range(7)])
        limits.joint_acceleration.data.extend([3.0 + 0.01 * j for j in range(7)])
        limits.tool_velocity.linear.x = 0.5
    return snap


SMALL = dict(behaviors=1, steps=4)
LARGE = dict(behaviors=920, steps=20)  # about 1 MB serialized
