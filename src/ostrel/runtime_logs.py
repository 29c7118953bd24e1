"""The gRPC runtime's own log lines, kept off stderr by the client and the
server alike."""

import os


def quiet_grpc_logs(force: bool = False) -> None:
    """Keeps the gRPC runtime's own log lines off stderr: set before grpc is
    first imported. The programs force it (their stderr carries their own
    one-line errors); a library user's setting is kept."""
    if force:
        os.environ["GRPC_VERBOSITY"] = "NONE"
    else:
        os.environ.setdefault("GRPC_VERBOSITY", "NONE")
