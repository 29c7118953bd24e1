"""Forward kinematics against the arms' makers' published parameters: the
flange pose of every built-in model, computed here by the plain product of
Denavit-Hartenberg matrices (standard for UR, modified for the Panda), must
match the chain that the catalog gives as joint poses and axes. Then tool
frames, custom chains, the pose algebra and the chains that cannot be
computed."""

import math

import pytest

from ostrel import kinematics
from ostrel.api import dynamics_pb2, math_pb2, robot_pb2, tool_pb2

PI2 = math.pi / 2
# Universal Robots e-Series: d1, a2, a3, d4, d5, d6 (metres).
UR_PARAMETERS = {
    "ur_3e_robot": (0.15185, -0.24355, -0.2132, 0.13105, 0.08535, 0.0921),
    "ur_5e_robot": (0.1625, -0.425, -0.3922, 0.1333, 0.0997, 0.0996),
    "ur_10e_robot": (0.1807, -0.6127, -0.57155, 0.17415, 0.11985, 0.11655),
}
# Franka Panda, modified DH: (a_{i-1}, d_i, alpha_{i-1}) for joints 1 to 7 and the flange.
PANDA_PARAMETERS = ((0.0, 0.333, 0.0), (0.0, 0.0, -PI2), (0.0, 0.316, PI2), (0.0825, 0.0, PI2),
                    (-0.0825, 0.384, -PI2), (0.0, 0.0, PI2), (0.088, 0.0, PI2), (0.0, 0.107, 0.0))

UR_HOME, UR_UP = (0.0,) * 6, (0.0, -PI2, 0.0, -PI2, 0.0, 0.0)
UR_A, UR_B = (0.3, -1.2, 1.5, -0.9, -1.57, 0.8), (-2.1, -0.4, -2.2, 2.6, 1.1, -3.0)
PANDA_ZERO, PANDA_READY = (0.0,) * 7, (0.0, -0.785, 0.0, -2.356, 0.0, 1.571, 0.785)
PANDA_A = (0.5, 0.3, -0.7, -1.9, 1.2, 2.1, -2.5)

# model, joint positions, flange position in the base frame (metres).
REFERENCE = [
    ("ur_3e_robot", UR_HOME, (-0.45675, -0.22315, 0.0665)),
    ("ur_3e_robot", UR_UP, (0.0, -0.22315, 0.69395)),
    ("ur_3e_robot", UR_A, (-0.213563195, -0.203316406, 0.193397261)),
    ("ur_3e_robot", UR_B, (-0.086727696, 0.194043377, 0.27124773)),
    ("ur_5e_robot", UR_HOME, (-0.8172, -0.2329, 0.0628)),
    ("ur_5e_robot", UR_UP, (0.0, -0.2329, 1.0794)),
    ("ur_5e_robot", UR_A, (-0.440904425, -0.276002732, 0.304189253)),
    ("ur_5e_robot", UR_B, (-0.081293794, 0.214529949, 0.430482434)),
    ("ur_10e_robot", UR_HOME, (-1.18425, -0.2907, 0.06085)),
    ("ur_10e_robot", UR_UP, (0.0, -0.2907, 1.4848)),
    ("ur_10e_robot", UR_A, (-0.654996957, -0.385003245, 0.418130241)),
    ("ur_10e_robot", UR_B, (-0.105873334, 0.268647759, 0.594081427)),
    ("franka_panda_robot", PANDA_ZERO, (0.088, 0.0, 0.926)),
    ("franka_panda_robot", PANDA_READY, (0.30701957, 0.0, 0.590269558)),
    ("franka_panda_robot", PANDA_A, (0.623081914, -0.053730943, 0.393175619)),
]


def matmul(a, b):
    return [[sum(a[i][k] * b[k][j] for k in range(4)) for j in range(4)] for i in range(4)]


def rot_z(t):
    c, s = math.cos(t), math.sin(t)
    return [[c, -s, 0, 0], [s, c, 0, 0], [0, 0, 1, 0], [0, 0, 0, 1]]


def rot_x(t):
    c, s = math.cos(t), math.sin(t)
    return [[1, 0, 0, 0], [0, c, -s, 0], [0, s, c, 0], [0, 0, 0, 1]]


def shift(x, y, z):
    return [[1, 0, 0, x], [0, 1, 0, y], [0, 0, 1, z], [0, 0, 0, 1]]


def dh_flange(model, q):
    """The flange transform by the textbook matrix product."""
    t = shift(0, 0, 0)
    if model in UR_PARAMETERS:
        d1, a2, a3, d4, d5, d6 = UR_PARAMETERS[model]
        rows = zip((d1, 0, 0, d4, d5, d6), (0, a2, a3, 0, 0, 0), (PI2, 0, 0, PI2, -PI2, 0), q)
        for d, a, alpha, theta in rows:  # Rz(theta) Tz(d) Tx(a) Rx(alpha)
            t = matmul(t, matmul(matmul(rot_z(theta), shift(0, 0, d)), matmul(shift(a, 0, 0), rot_x(alpha))))
        return t
    for (a, d, alpha), theta in zip(PANDA_PARAMETERS, tuple(q) + (0.0,)):  # Rx(alpha) Tx(a) Rz(theta) Tz(d)
        t = matmul(t, matmul(matmul(rot_x(alpha), shift(a, 0, 0)), matmul(rot_z(theta), shift(0, 0, d))))
    return t


def matrix(pose):
    """The 4x4 transform of a kinematics pose."""
    (x, y, z), (w, i, j, k) = pose
    return [[1 - 2 * (j * j + k * k), 2 * (i * j - k * w), 2 * (i * k + j * w), x],
            [2 * (i * j + k * w), 1 - 2 * (i * i + k * k), 2 * (j * k - i * w), y],
            [2 * (i * k - j * w), 2 * (j * k + i * w), 1 - 2 * (i * i + j * j), z], [0, 0, 0, 1]]


def config_of(model, **fields):
    config = robot_pb2.RobotConfig(**fields)
    getattr(config, model).SetInParent()
    return config


def assert_close(a, b, tol):
    assert all(abs(x - y) <= tol for ra, rb in zip(a, b) for x, y in zip(ra, rb)), (a, b)


@pytest.mark.parametrize("model,q,expected", REFERENCE)
def test_flange_matches_the_published_parameters(model, q, expected):
    reference = dh_flange(model, q)
    assert_close([[row[3] for row in reference[:3]]], [expected], 1e-9)
    config = config_of(model)
    flange = kinematics.link_poses(config, q)[kinematics.flange_body(config)]
    assert_close([flange.p], [expected], 1e-6)
    assert_close(matrix(flange), reference, 1e-9)
    assert kinematics.tool_pose(config, q, "") == flange


@pytest.mark.parametrize("model,links", [
    ("ur_5e_robot", ("base_link", "shoulder_link", "upper_arm_link", "forearm_link",
                     "wrist_1_link", "wrist_2_link", "wrist_3_link", "flange")),
    ("franka_panda_robot", tuple("panda_link%d" % i for i in range(9))),
])
def test_chain_bodies_and_root(model, links):
    config = config_of(model)
    chain = kinematics.robot_chain(config)
    assert tuple(b.name for b in chain.bodies) == links
    dof = sum(j.dof != dynamics_pb2.FIXED_0DOF for j in chain.joints)
    assert kinematics.link_poses(config, [0.4] * dof)[links[0]] == kinematics.IDENTITY
    chain.joints[0].pose.position.z = 5.0  # a copy: the model's chain is untouched
    assert kinematics.robot_chain(config).joints[0].pose.position.z != 5.0


def test_tool_frame_is_placed_on_the_flange():
    offset = math_pb2.Pose3(position=math_pb2.Vector3(x=0.01, z=0.15), qw=0.0, qx=1.0)
    config = config_of("ur_5e_robot", tool_frames={"tcp": tool_pb2.ToolFrame(flange_to_tool=offset),
                                                    "bare": tool_pb2.ToolFrame()})
    tool = kinematics.tool_pose(config, UR_A, "tcp")
    expected = matmul(dh_flange("ur_5e_robot", UR_A), matmul(shift(0.01, 0, 0.15), rot_x(math.pi)))
    assert_close(matrix(tool), expected, 1e-9)
    assert kinematics.tool_pose(config, UR_A, "bare") == kinematics.tool_pose(config, UR_A, "")
    with pytest.raises(ValueError, match="'gone' is not a tool frame"):
        kinematics.tool_pose(config, UR_A, "gone")


def joint(name, parent, child, dof=dynamics_pb2.FIXED_0DOF, axis=(0.0, 0.0, 1.0), x=0.0):
    return dynamics_pb2.Joint(name=name, parent=parent, child=child, dof=dof,
                              pose=math_pb2.Pose3(position=math_pb2.Vector3(x=x), qw=1.0),
                              axis=math_pb2.Vector3(x=axis[0], y=axis[1], z=axis[2]))


def chain(bodies, *joints):
    return dynamics_pb2.Chain(bodies=[dynamics_pb2.Body(name=b) for b in bodies], joints=list(joints))


ROT, LIN = dynamics_pb2.ROTARY_1DOF, dynamics_pb2.LINEAR_1DOF


def test_custom_chain_with_linear_and_rotary_joints_and_interface_link():
    # A rail carrying a turntable with an arm 0.5 m long; listed child before parent.
    arm = chain(("base", "carriage", "table", "tip"), joint("turn", "carriage", "table", ROT, (0, 0, 2)),
                joint("rail", "base", "carriage", LIN, (0, 1, 0)), joint("reach", "table", "tip", x=0.5))
    config = robot_pb2.RobotConfig(custom_robot=robot_pb2.CustomRobot(chain=arm, interface_link="tip"))
    assert kinematics.flange_body(config) == "tip"
    tip = kinematics.tool_pose(config, [PI2, 0.25], "")
    assert_close([tip.p], [(0.0, 0.75, 0.0)], 1e-12)


@pytest.mark.parametrize("the_chain,positions,message", [
    (chain(("a",), joint("j", "a", "b")), [], "joint 'j' names child body 'b', which is not"),
    (chain(("b",), joint("j", "a", "b")), [], "joint 'j' names parent body 'a', which is not"),
    (chain(("a", "b", "c"), joint("j", "a", "c"), joint("k", "b", "c")), [], "'c' is the child of two joints"),
    (chain(("a", "b", "c"), joint("j", "b", "c"), joint("k", "c", "b")), [], "bodies 'b', 'c' form a cycle"),
    (chain(("a", "b"), joint("j", "a", "b", ROT)), [], "1 movable joints but 0 positions"),
    (chain(("a", "b"), joint("j", "a", "b")), [0.1], "0 movable joints but 1 positions"),
    (chain(("a", "b"), joint("j", "a", "b", 7)), [], "unknown kind of motion (7)"),
    (chain(("a", "b"), joint("j", "a", "b", ROT, (0, 0, 0))), [0.1], "'j' moves about or along a zero axis"),
])
def test_chains_that_cannot_be_computed(the_chain, positions, message):
    with pytest.raises(ValueError) as raised:
        kinematics.forward(the_chain, positions)
    assert message in str(raised.value)


def test_robots_without_a_chain():
    bare = robot_pb2.RobotConfig()
    assert kinematics.robot_chain(bare) is None and kinematics.link_poses(bare, []) == {}
    with pytest.raises(ValueError, match="names no model"):
        kinematics.tool_pose(bare, [], "")
    unlinked = robot_pb2.RobotConfig(custom_robot=robot_pb2.CustomRobot(chain=chain(("a",))))
    with pytest.raises(ValueError, match="flange body '' is not a body"):
        kinematics.tool_pose(unlinked, [], "")


def test_pose_algebra_and_messages():
    a = kinematics.from_pose3(math_pb2.Pose3(position=math_pb2.Vector3(x=1, y=2, z=3), qw=2, qz=2))
    assert_close([a.q], [(math.sqrt(0.5), 0, 0, math.sqrt(0.5))], 1e-12)
    assert_close([kinematics.apply(a, (1, 0, 0))], [(1, 3, 3)], 1e-12)
    round_trip = kinematics.compose(a, kinematics.inverse(a))
    assert_close([round_trip.p, round_trip.q], [kinematics.IDENTITY.p, kinematics.IDENTITY.q], 1e-12)
    assert kinematics.from_pose3(math_pb2.Pose3()) == kinematics.IDENTITY
    back = kinematics.from_pose3(kinematics.to_pose3(a))
    assert_close([back.p, back.q], [a.p, a.q], 1e-15)
