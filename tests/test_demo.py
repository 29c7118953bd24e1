"""The demo's choice of interpreter: any supported CPython it finds, 3.9 if
there is one, else the newest, with no variable to set, and one line when
there is none. Each row is a machine made of links to pyenv's builds."""

import os
import shutil
import subprocess
from pathlib import Path

import pytest

DEMO = Path(__file__).resolve().parent.parent / "examples" / "demo.sh"
PYENV = Path(os.environ.get("PYENV_ROOT", Path.home() / ".pyenv"))
# What the script runs before it picks an interpreter.
TOOLS = ("bash", "dirname", "ls", "sort", "cat", "id")


def pyenv_build(version):
    builds = sorted(PYENV.glob("versions/%s.*/bin/python%s" % (version, version)))
    return builds[-1] if builds else None


def machine(tmp_path, on_path, in_pyenv):
    """A PATH folder with the tools and `pythonX.Y` for each of `on_path` (the
    last also as `python3`), and a pyenv root with a build of each of
    `in_pyenv`; None when this host lacks one of those builds."""
    folder, root = tmp_path / "bin", tmp_path / "pyenv"
    folder.mkdir()
    for tool in TOOLS:
        os.symlink(shutil.which(tool), folder / tool)
    for version in on_path:
        build = pyenv_build(version)
        if build is None:
            return None
        os.symlink(build, folder / ("python" + version))
    if on_path:
        os.symlink(folder / ("python" + on_path[-1]), folder / "python3")
    for version in in_pyenv:
        build = pyenv_build(version)
        if build is None:
            return None
        bin_folder = root / "versions" / ("%s.0" % version) / "bin"
        bin_folder.mkdir(parents=True)
        os.symlink(build, bin_folder / ("python" + version))
    root.mkdir(exist_ok=True)
    return {"PATH": str(folder), "PYENV_ROOT": str(root), "HOME": str(tmp_path)}


@pytest.mark.parametrize("on_path,in_pyenv,chosen", [
    (("3.13",), (), "python3.13"),
    (("3.12", "3.13"), (), "python3.13"),
    (("3.13",), ("3.9",), "python3.9"),
    (("3.9", "3.13"), (), "python3.9"),
    ((), ("3.11", "3.12"), "python3.12"),
    (("3.8",), (), None),
    ((), (), None),
], ids=["only-3.13", "newest", "pyenv-3.9-first", "3.9-first", "pyenv-newest", "only-3.8", "none"])
def test_demo_uses_any_supported_python_it_finds(tmp_path, on_path, in_pyenv, chosen):
    env = machine(tmp_path, on_path, in_pyenv)
    if env is None:
        pytest.skip("this host lacks one of the builds %s" % (on_path + in_pyenv,))
    proc = subprocess.run(["bash", str(DEMO), "--which-python"], capture_output=True, text=True, env=env,
                          timeout=60)
    if chosen is None:
        assert proc.returncode == 1
        assert proc.stderr == ("demo: no CPython 3.9 to 3.13 with venv found (install one, for example "
                               "with pyenv, or set OSTREL_PYTHON)\n")
    else:
        assert proc.returncode == 0, proc.stderr
        assert Path(proc.stdout.strip()).name == chosen
