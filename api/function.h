// A function object for module code written in C++ that behaves, for its
// callers, like a function defined in Python: it binds as a method when read
// from an instance, takes every parameter by position or by keyword, and
// carries __name__, __qualname__, __module__, __defaults__ and a __code__
// that names its parameters, so that inspect.signature can read it. Its type
// is a heap type called by vectorcall: keyword names arrive as the caller's
// immutable tuple and are matched against the parameters in place.
//
// Each function keeps a reference to the namespace of its module (its
// globals) and passes it to its implementation, which reads the names it
// needs from there at call time.
#pragma once

#include "frame.h"

namespace ostrel::function {

// Called with the function's globals, the tag it was made with and one
// borrowed argument per parameter (defaults filled in). Returns a new
// reference, or NULL with an exception set.
using Impl = PyObject* (*)(PyObject* globals, Py_ssize_t tag, PyObject* const* args);

// The most parameters a function may have.
constexpr Py_ssize_t kMaxParameters = 16;

// A code object for introspection (new reference), made by the host from a
// code object of its own: `parameters` (a tuple of str) are its
// positional-or-keyword arguments and its only locals; its body returns None.
// `qualname` is its co_qualname where the host has one (3.11 on).
PyObject* new_code(PyObject* filename, PyObject* name, PyObject* qualname,
                   PyObject* parameters);

struct Definition {
  PyObject* name;      // str, also the name in argument errors
  PyObject* qualname;  // str
  PyObject* module;    // str
  PyObject* code;      // from new_code; its parameters are the function's
  PyObject* defaults;  // tuple for the last parameters, or nullptr for none
  PyObject* globals;   // dict, the module's namespace
  Impl impl;
  Py_ssize_t tag;      // passed to impl, e.g. a row of a table
};

// A new function object (new reference), or NULL with an exception set.
PyObject* new_function(const Definition& definition);

}  // namespace ostrel::function
