"""ostrel: command line client of the Ostrel service.

    ostrel connect
    ostrel push PROJECT.json
    ostrel pull [--out FILE]
    ostrel run BEHAVIOR [--wait]
    ostrel state
    ostrel watch [--hz N] [--wait-for-server] [--viewer [--viewer-host HOST] [--viewer-port PORT]]
    ostrel records [--out FILE] [--export DIR] [--mcap FILE] [--description TEXT ...] [--since TIME]
    ostrel report [--out FILE] [--title TEXT] [--description TEXT ...] [--since TIME]
    ostrel completion bash|zsh|fish

Projects and records are read and written as protobuf JSON. Output is
readable text, or JSON with --json. Errors are one line on stderr and a
non-zero exit code.

Start-up matters for a command line: the gRPC runtime and the API modules are
imported once a command runs (never for --help or an argument error), and the
protobuf JSON support only by the commands that read or write JSON.
"""

from typing import Optional, Sequence

__all__ = ["main"]


def main(argv: Optional[Sequence[str]] = None) -> int:
    """Runs the command line on `argv` (sys.argv[1:] when None); the exit code."""
    from ostrel.cli.commands import main as run

    return run(argv)
