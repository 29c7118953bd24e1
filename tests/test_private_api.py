"""tools/private_api.py, the check that no built module imports a private
CPython symbol: which `_Py` names it lets through, and the installed
modules of this host against it."""

import importlib.util
import os
import pathlib
import shutil
import sys

import pytest

import ostrel.api

TOOL = pathlib.Path(__file__).resolve().parent.parent / "tools" / "private_api.py"


def load_tool():
    spec = importlib.util.spec_from_file_location("private_api", TOOL)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


private_api = load_tool()

# (symbols a module imports, the ones reported)
CASES = [
    (["_Py_Dealloc", "_Py_NoneStruct", "_Py_TrueStruct", "PyFrame_New"], []),
    (["_PyTraceback_Add", "PyTraceBack_Here"], ["_PyTraceback_Add"]),
    (["_PyObject_GC_New", "_PyErr_BadInternalCall", "_PyObject_MakeTpCall"], []),
    (["_PyDict_GetItem_KnownHash", "_Py_Dealloc", "_PyUnicode_Ready", "memcpy"],
     ["_PyDict_GetItem_KnownHash", "_PyUnicode_Ready"]),
    (["Py_DecRef", "PyType_Ready", "_PyArg_ParseTuple_SizeT"], []),
]


@pytest.mark.parametrize("symbols,reported", CASES)
def test_only_names_that_public_macros_reach_pass(symbols, reported):
    assert private_api.private_imports(symbols) == reported


@pytest.mark.skipif(not sys.platform.startswith("linux") or shutil.which("nm") is None,
                    reason="reads ELF dynamic symbols with nm")
def test_installed_modules_import_no_private_symbol(capsys):
    package = os.path.dirname(ostrel.api.__file__)
    modules = private_api.modules_under([package])
    assert len(modules) == len([p for p in os.listdir(package) if p.endswith(".so")]) > 0
    assert private_api.main([package]) == 0, capsys.readouterr().out
