"""Fails when a built extension module imports a private symbol of CPython.

A module may import `_Py` names only where the public headers' own macros and
inline functions expand to them (Py_DECREF to _Py_Dealloc, Py_None to
_Py_NoneStruct, ...): most are part of CPython's stable ABI and kept for
good, the rest belong to the inline functions of one version's headers and
so to that version only. Any other `_Py` import is a private function or
variable that our code calls and a later CPython may change or drop.

Usage: python tools/private_api.py PATH...   (modules, or folders searched
for *.so); prints one line per module and exits 1 when any imports one.
Needs `nm` (binutils).
"""

import pathlib
import subprocess
import sys
from typing import Iterable, List

# The `_Py` names that public macros and inline functions reach.
PUBLIC_MACRO_TARGETS = frozenset({
    "_Py_Dealloc", "_Py_IncRef", "_Py_DecRef",                      # Py_INCREF, Py_DECREF
    "_Py_NoneStruct", "_Py_TrueStruct", "_Py_FalseStruct",          # Py_None, Py_True, Py_False
    "_Py_NotImplementedStruct", "_Py_EllipsisObject",               # Py_NotImplemented, Py_Ellipsis
    "_PyObject_New", "_PyObject_NewVar",                            # PyObject_New(Var)
    "_PyObject_GC_New", "_PyObject_GC_NewVar", "_PyObject_GC_Resize",  # PyObject_GC_New(Var), _Resize
    "_PyErr_BadInternalCall",                                       # PyErr_BadInternalCall
    "_Py_CheckRecursiveCall",                                       # Py_EnterRecursiveCall
    "_Py_BuildValue_SizeT", "_Py_VaBuildValue_SizeT",               # PY_SSIZE_T_CLEAN variants
    "_PyArg_Parse_SizeT", "_PyArg_ParseTuple_SizeT", "_PyArg_ParseTupleAndKeywords_SizeT",
    "_PyArg_VaParse_SizeT", "_PyArg_VaParseTupleAndKeywords_SizeT",
    "_PyObject_CallFunction_SizeT", "_PyObject_CallMethod_SizeT",
    # PyObject_Vectorcall and PyObject_CallNoArgs, inline in 3.9 and 3.10.
    "_PyObject_MakeTpCall", "_Py_CheckFunctionResult",
})
PRIVATE_PREFIX = "_Py"
NO_MODULES = "private_api: no extension modules under {}"
NO_SUCH_PATH = "private_api: no such file or folder: {}"


def modules_under(paths: Iterable[str]) -> List[pathlib.Path]:
    found: List[pathlib.Path] = []
    for path in map(pathlib.Path, paths):
        if not path.exists():
            raise SystemExit(NO_SUCH_PATH.format(path))
        found.extend(sorted(path.rglob("*.so")) if path.is_dir() else [path])
    return found


def imported_symbols(module: pathlib.Path) -> List[str]:
    out = subprocess.run(["nm", "-D", "--undefined-only", str(module)],
                         check=True, capture_output=True, text=True).stdout
    # "                 U _Py_Dealloc" or with a version: "U memcpy@GLIBC_2.14"
    return [line.split()[-1].split("@")[0] for line in out.splitlines() if line.strip()]


def private_imports(symbols: Iterable[str]) -> List[str]:
    return sorted({s for s in symbols
                   if s.startswith(PRIVATE_PREFIX) and s not in PUBLIC_MACRO_TARGETS})


def main(argv: List[str]) -> int:
    modules = modules_under(argv or ["."])
    if not modules:
        print(NO_MODULES.format(" ".join(argv)), file=sys.stderr)
        return 1
    status = 0
    for module in modules:
        private = private_imports(imported_symbols(module))
        if private:
            print("%s: imports private CPython symbols: %s" % (module, " ".join(private)))
            status = 1
    if status == 0:
        print("private_api: %d modules import no private CPython symbol" % len(modules))
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
