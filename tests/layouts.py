"""Published layout of every message module: schema file, length of the
serialized file descriptor, dependencies in import order, the serialized
(start, end) range of every descriptor handle the layout gives, top-level enums
with their values, and top-level messages in declaration order. The numbers are
the published ones, not values measured from the schema files."""

def _file(name):
    return name if name.endswith(".proto") else f"ostrel/api/{name}.proto"


def _row(size, deps, ranges, messages, enums=None):
    return {"size": size, "deps": [_file(d) for d in deps], "ranges": ranges,
            "messages": messages, "enums": enums or {}}


LAYOUTS = {
    "camera_pb2": _row(754, ["math"], {"_CAMERAINTRINSICS": (70, 271), "_REALSENSED435I":
        (273, 378), "_REALSENSED405": (380, 484), "_CAMERACONFIG": (487, 688),
        "_CAMERASTATE": (690, 746)}, ["CameraIntrinsics", "RealsenseD435i", "RealsenseD405",
        "CameraConfig", "CameraState"]),
    "common_pb2": _row(322, ["google/protobuf/any.proto"], {"_METADATA": (73, 105),
        "_STATUS": (107, 171), "_PACKET": (173, 267), "_CODE": (269, 314)}, ["Metadata",
        "Status", "Packet"], {"Code": {"RUNNING": 0, "SUCCESS": 1, "FAILURE": 2}}),
    "control_pb2": _row(868, ["project", "execution", "motion"], {"_CONTROLLERACTION": (128,
        597), "_CONTROLLERMETRICS": (599, 644), "_CONTROLLERPRODUCTS": (647, 860)},
        ["ControllerAction", "ControllerMetrics", "ControllerProducts"]),
    "data_pb2": _row(1373, ["google/protobuf/any.proto", "common", "execution",
        "perception", "planning", "control", "simulation", "project"], {"_DATALINKACTION":
        (260, 493), "_PRODUCTRECORD": (496, 845), "_EVENTRECORD": (848, 1065), "_RECORDSET":
        (1068, 1305), "_DATARECORDS": (1307, 1365)}, ["DatalinkAction", "ProductRecord",
        "EventRecord", "RecordSet", "DataRecords"]),
    "dynamics_pb2": _row(939, ["math", "shape", "material"], {"_DEGREEOFFREEDOM": (864,
        931), "_MOMENTS": (124, 205), "_INERTIA": (207, 319), "_BODY": (322, 531), "_JOINT":
        (534, 715), "_CHAIN": (718, 862)}, ["Moments", "Inertia", "Body", "Joint", "Chain"],
        {"DegreeOfFreedom": {"FIXED_0DOF": 0, "ROTARY_1DOF": 1, "LINEAR_1DOF": 2}}),
    "effector_pb2": _row(382, ["math"], {"_ROBOTIQGRIPPER2F85": (73, 93), "_FRANKAHAND":
        (95, 107), "_EFFECTORCONFIG": (110, 263), "_EFFECTORSTATE": (265, 374)},
        ["RobotiqGripper2F85", "FrankaHand", "EffectorConfig", "EffectorState"]),
    "execution_pb2": _row(3802, ["math", "trajectory", "task"], {"_BEHAVIOR": (128, 1680),
        "_RANKINGSTRATEGY": (3676, 3794)}, ["Behavior", "RepeatRoutine", "SequenceRoutine",
        "SleepRoutine", "InitializePerception", "ShutdownPerception",
        "CalibrateCameraFromMarkers", "RecordImages", "PerspectiveCropImage",
        "TerminationCriteria", "GotoTargetPositions", "ScrewAlongLastAxis",
        "GenerateTargetPoses", "InitializeController", "ShutdownController", "OpenGripper",
        "CloseGripper", "SetEffectorPositions", "AlignItemToTool", "AttachItemToTool",
        "DetachItemFromTool", "StartRecordingData", "StopRecordingData"],
        {"RankingStrategy": {"RANDOM": 0, "MINIMUM_TIME": 1,
        "MINIMUM_TOOL_ORIENTATION_CHANGE": 2, "MINIMUM_TOOL_POSITION_CHANGE": 3}}),
    "fiducial_pb2": _row(282, ["math"], {"_VISUALMARKER": (73, 128), "_FIDUCIALCONFIG":
        (130, 214), "_FIDUCIALSTATE": (216, 274)}, ["VisualMarker", "FiducialConfig",
        "FiducialState"]),
    "item_pb2": _row(466, ["math", "dynamics"], {"_DESK": (92, 98), "_CUSTOMITEM": (100,
        153), "_ITEMCONFIG": (156, 402), "_ITEMSTATE": (404, 458)}, ["Desk", "CustomItem",
        "ItemConfig", "ItemState"]),
    "material_pb2": _row(401, [], {"_COLORRGB": (50, 102), "_MATERIAL": (105, 393)},
        ["ColorRgb", "Material"]),
    "motion_pb2": _row(674, ["math"], {"_JOINTSTATE": (70, 264), "_TOOLSTATE": (267, 452),
        "_EFFECTORSTATE": (454, 514), "_STATE": (517, 666)}, ["JointState", "ToolState",
        "EffectorState", "State"]),
    "perception_pb2": _row(1165, ["image", "math", "project", "execution"],
        {"_PERCEPTIONACTION": (156, 657), "_PERCEPTIONMETRICS": (659, 704),
        "_DETECTEDMARKER": (706, 793), "_PERCEPTIONPRODUCTS": (796, 1098),
        "_PERCEPTIONPRODUCTS_CAMERAPOSESENTRY": (1024, 1098), "_IMAGESPRODUCTS": (1100,
        1157)}, ["PerceptionAction", "PerceptionMetrics", "DetectedMarker",
        "PerceptionProducts", "ImagesProducts"]),
    "planning_pb2": _row(1058, ["math", "trajectory", "project", "execution"],
        {"_PLANNERACTION": (157, 502), "_PLANNERMETRICS": (504, 546), "_TARGET": (549, 707),
        "_PLANNERPRODUCTS": (710, 1050)}, ["PlannerAction", "PlannerMetrics", "Target",
        "PlannerProducts"]),
    "probability_pb2": _row(456, ["math"], {"_UNIFORM": (79, 170), "_GAUSSIAN": (172, 266),
        "_DISTRIBUTION": (269, 448)}, ["Uniform", "Gaussian", "Distribution"]),
    "project_pb2": _row(444, ["execution", "workspace", "variable"], {"_PROJECTSNAPSHOT":
        (132, 436), "_PROJECTSNAPSHOT_BEHAVIORSENTRY": (356, 436)}, ["ProjectSnapshot"]),
    "robot_pb2": _row(940, ["math", "tool", "dynamics"], {"_FRANKAPANDAROBOT": (117, 155),
        "_UR3EROBOT": (157, 188), "_UR5EROBOT": (190, 221), "_UR10EROBOT": (223, 255),
        "_CUSTOMROBOT": (257, 356), "_ROBOTCONFIG": (359, 824),
        "_ROBOTCONFIG_TOOLFRAMESENTRY": (739, 816), "_ROBOTSTATE": (826, 932)},
        ["FrankaPandaRobot", "UR3eRobot", "UR5eRobot", "UR10eRobot", "CustomRobot",
        "RobotConfig", "RobotState"]),
    "shape_pb2": _row(703, ["math"], {"_BOX": (67, 112), "_SPHERE": (114, 138), "_CYLINDER":
        (140, 182), "_CAPSULE": (184, 225), "_PRIMITIVE": (228, 423), "_MESH": (425, 464),
        "_OBSTACLE": (466, 576), "_SURFACE": (578, 695)}, ["Box", "Sphere", "Cylinder",
        "Capsule", "Primitive", "Mesh", "Obstacle", "Surface"]),
    "simulation_pb2": _row(738, ["project", "workspace", "execution"], {"_SIMULATORACTION":
        (137, 472), "_SIMULATORMETRICS": (474, 518), "_SIMULATORPRODUCTS": (521, 730)},
        ["SimulatorAction", "SimulatorMetrics", "SimulatorProducts"]),
    "system_pb2": _row(618, ["common", "workspace", "perception", "planning", "control",
        "training"], {"_SYSTEMSTATE": (209, 610)}, ["SystemState"]),
    "task_pb2": _row(453, ["math"], {"_TASKREGIONCONFIG": (66, 202), "_TASKREGIONSTATE":
        (204, 264), "_TASKREGIONCORNER": (267, 445)}, ["TaskRegionConfig",
        "TaskRegionState"], {"TaskRegionCorner": {"POSX_POSY_POSZ": 0, "NEGX_POSY_POSZ": 1,
        "POSX_NEGY_POSZ": 2, "NEGX_NEGY_POSZ": 3, "POSX_POSY_NEGZ": 4, "NEGX_POSY_NEGZ": 5,
        "POSX_NEGY_NEGZ": 6, "NEGX_NEGY_NEGZ": 7}}),
    "training_pb2": _row(452, ["project"], {"_TRAINERACTION": (76, 194), "_TRAINERMETRICS":
        (196, 238), "_TRAINERPRODUCTS": (241, 444), "_TRAINERPRODUCTS_LOSSESENTRY": (399,
        444)}, ["TrainerAction", "TrainerMetrics", "TrainerProducts"]),
    "trajectory_pb2": _row(202, ["motion"], {"_TRAJECTORY": (79, 152), "_INTERPOLATIONTYPE":
        (154, 194)}, ["Trajectory"], {"InterpolationType": {"JOINT": 0, "TOOL": 1}}),
    "variable_pb2": _row(1380, ["math", "probability"], {"_MOTIONLIMITS": (104, 326),
        "_POSEGENERATOR": (328, 425), "_JOINTPOSITIONTARGET": (427, 535),
        "_TASKREGIONTARGET": (538, 708), "_MIXTURETARGET": (710, 769), "_TARGETGENERATOR":
        (772, 1003), "_VARIABLESCONFIG": (1006, 1372), "_VARIABLESCONFIG_MOTIONLIMITSENTRY":
        (1191, 1277), "_VARIABLESCONFIG_TARGETGENERATORSENTRY": (1279, 1372)},
        ["MotionLimits", "PoseGenerator", "JointPositionTarget", "TaskRegionTarget",
        "MixtureTarget", "TargetGenerator", "VariablesConfig"]),
    "workspace_pb2": _row(2486, ["robot", "effector", "item", "camera", "fiducial", "task",
        "linkage"], {"_WORKSPACECONFIG": (228, 1165), "_WORKSPACECONFIG_ROBOTSENTRY": (672,
        748), "_WORKSPACECONFIG_EFFECTORSENTRY": (750, 835), "_WORKSPACECONFIG_ITEMSENTRY":
        (837, 910), "_WORKSPACECONFIG_CAMERASENTRY": (912, 991),
        "_WORKSPACECONFIG_FIDUCIALSENTRY": (993, 1078), "_WORKSPACECONFIG_TASKREGIONSENTRY":
        (1080, 1165), "_WORKSPACESTATE": (1168, 2092), "_WORKSPACESTATE_ROBOTSENTRY": (1605,
        1680), "_WORKSPACESTATE_EFFECTORSENTRY": (1682, 1766), "_WORKSPACESTATE_ITEMSENTRY":
        (1768, 1840), "_WORKSPACESTATE_CAMERASENTRY": (1842, 1920),
        "_WORKSPACESTATE_FIDUCIALSENTRY": (1922, 2006), "_WORKSPACESTATE_TASKREGIONSENTRY":
        (2008, 2092), "_WORKSPACELINKAGES": (2095, 2289),
        "_WORKSPACELINKAGES_GRASPEDITEMSENTRY": (2198, 2289), "_WORKSPACESNAPSHOT": (2292,
        2478)}, ["WorkspaceConfig", "WorkspaceState", "WorkspaceLinkages",
        "WorkspaceSnapshot"]),
}
for _name, _layout in LAYOUTS.items():
    _layout["file"] = _file(_name[: -len("_pb2")])
