#include "frame.h"

#include <frameobject.h>  // PyFrame_New

#include <cstdio>
#include <cstring>

namespace ostrel::frame {
namespace {

constexpr char kInterpreterChanged[] =
    "Interpreter change detected - this module can only be loaded into one "
    "interpreter per process.";
constexpr char kReinitialised[] =
    "Module '%s' has already been imported. Re-initialisation is not supported.";
constexpr char kVersionMismatch[] =
    "compile time version %s of module '%.100s' does not match runtime version %s";
constexpr char kCannotImport[] = "cannot import name %S";
constexpr char kNotDefined[] = "name '%U' is not defined";

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Adds the entry `File "<file>", line <line>, in <function>` to the traceback
// of the exception being raised, as the interpreter does for a frame it runs:
// an empty code object of that name and place, and a frame of it. Nothing may
// run with the exception set, so it is put aside meanwhile; when the entry
// cannot be made, the exception goes on without it.
void add_traceback_entry(const char* function, const char* file, int line) {
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyCodeObject* code = PyCode_NewEmpty(file, function, line);
  PyObject* globals = PyDict_New();
  PyFrameObject* frame = nullptr;
  if (code != nullptr && globals != nullptr) {
    frame = PyFrame_New(PyThreadState_Get(), code, globals, nullptr);
  }
  Py_XDECREF(globals);
  Py_XDECREF(code);
  if (frame == nullptr) PyErr_Clear();
  PyErr_Restore(type, value, traceback);
  if (frame != nullptr) {
    PyTraceBack_Here(frame);
    Py_DECREF(frame);
  }
}

bool check_interpreter(State& state) {
  const int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (id == -1) return false;
  if (state.interpreter == -1) {
    state.interpreter = id;
  } else if (state.interpreter != id) {
    PyErr_SetString(PyExc_ImportError, kInterpreterChanged);
    return false;
  }
  return true;
}

// Copies one attribute of the import spec into the module's namespace. A spec
// that lacks the attribute is no error; `skip_none` leaves out a None value.
bool copy_spec_attribute(PyObject* spec, PyObject* ns, const char* from,
                         const char* to, bool skip_none) {
  PyObject* value = PyObject_GetAttrString(spec, from);
  if (value == nullptr) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    return true;
  }
  int rc = 0;
  if (!(skip_none && value == Py_None)) rc = PyDict_SetItemString(ns, to, value);
  Py_DECREF(value);
  return rc == 0;
}

PyObject* new_module_from_spec(PyObject* spec) {
  PyObject* name = PyObject_GetAttrString(spec, "name");
  if (name == nullptr) return nullptr;
  PyObject* module = PyModule_NewObject(name);
  Py_DECREF(name);
  if (module == nullptr) return nullptr;
  PyObject* ns = PyModule_GetDict(module);
  if (copy_spec_attribute(spec, ns, "loader", "__loader__", false) &&
      copy_spec_attribute(spec, ns, "origin", "__file__", false) &&
      copy_spec_attribute(spec, ns, "parent", "__package__", false) &&
      copy_spec_attribute(spec, ns, "submodule_search_locations", "__path__", true)) {
    return module;
  }
  Py_DECREF(module);
  return nullptr;
}

// Warns (a RuntimeWarning) when the host is not the version the module was
// built for; false only when the warning was turned into an error.
bool check_version(const Definition& def) {
  const char* runtime = Py_GetVersion();
  const size_t n = std::strlen(def.build_version);
  if (std::strncmp(runtime, def.build_version, n) == 0 && !is_digit(runtime[n])) {
    return true;
  }
  char runtime_short[5] = {0};
  bool seen_dot = false;
  for (int i = 0; i < 4; ++i) {
    const char c = runtime[i];
    if (c == '.') {
      if (seen_dot) break;
      seen_dot = true;
    } else if (!is_digit(c)) {
      break;
    }
    runtime_short[i] = c;
  }
  char message[200];
  std::snprintf(message, sizeof message, kVersionMismatch, def.build_version,
                def.frame_name, runtime_short);
  return PyErr_WarnEx(nullptr, message, 1) == 0;
}

// Enters the module into sys.modules under its frame name when that entry is
// missing. Reports through `added` whether this call made the entry.
bool add_frame_entry(PyObject* module, const char* frame_name, bool& added) {
  PyObject* modules = PyImport_GetModuleDict();
  PyObject* existing = PyDict_GetItemString(modules, frame_name);
  if (existing != nullptr) return true;
  if (PyDict_SetItemString(modules, frame_name, module) < 0) return false;
  added = true;
  return true;
}

// A failed import must not leave its half-built module reachable under the
// frame name, or a later successful import would find the broken one there.
void drop_frame_entry(PyObject* module, const char* frame_name) {
  PyObject *type, *value, *tb;
  PyErr_Fetch(&type, &value, &tb);
  PyObject* modules = PyImport_GetModuleDict();
  if (PyDict_GetItemString(modules, frame_name) == module &&
      PyDict_DelItemString(modules, frame_name) < 0) {
    PyErr_Clear();
  }
  PyErr_Restore(type, value, tb);
}

bool bind_string(PyObject* ns, const char* name, PyObject* value) {
  if (value == nullptr) return false;
  const int rc = PyDict_SetItemString(ns, name, value);
  Py_DECREF(value);
  return rc == 0;
}

}  // namespace

PyObject* create(PyObject* spec, State& state) {
  if (!check_interpreter(state)) return nullptr;
  if (state.module != nullptr) {
    Py_INCREF(state.module);
    return state.module;
  }
  return new_module_from_spec(spec);
}

int exec(PyObject* module, const Definition& def, State& state) {
  if (state.module != nullptr) {
    if (state.module == module) return 0;
    PyErr_Format(PyExc_RuntimeError, kReinitialised, def.leaf);
    return -1;
  }
  Py_INCREF(module);
  state.module = module;
  PyObject* ns = PyModule_GetDict(module);
  bool added_frame_entry = false;
  bool body_started = false;

  PyObject* builtins = PyImport_AddModule("builtins");
  if (builtins == nullptr || PyDict_SetItemString(ns, "__builtins__", builtins) < 0) {
    goto failed;
  }
  if (!check_version(def)) goto failed;
  if (!state.constants_ready) {
    if (!def.make_constants()) goto failed;
    state.constants_ready = true;
  }
  body_started = true;
  if (!add_frame_entry(module, def.frame_name, added_frame_entry)) goto failed;
  if (!def.run_body(ns)) goto failed;
  if (!bind_string(ns, "__test__", PyDict_New())) goto failed;
  return 0;

failed:
  if (body_started) add_traceback_entry("<module>", def.source, 1);
  if (added_frame_entry) drop_frame_entry(module, def.frame_name);
  Py_CLEAR(state.module);
  return -1;
}

bool intern_all(const char* const* texts, PyObject** out, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (out[i] != nullptr) continue;
    out[i] = PyUnicode_InternFromString(texts[i]);
    if (out[i] == nullptr) return false;
  }
  return true;
}

PyObject* lookup(PyObject* ns, PyObject* name) {
  PyObject* value = PyDict_GetItemWithError(ns, name);
  if (value != nullptr) {
    Py_INCREF(value);
    return value;
  }
  if (PyErr_Occurred()) return nullptr;
  // PyImport_AddModule lends sys.modules' reference; hold one of our own,
  // since the lookup can run a module __getattr__ that drops that entry.
  PyObject* borrowed_builtins = PyImport_AddModule("builtins");
  if (borrowed_builtins == nullptr) return nullptr;
  Ref builtins(borrowed_builtins);
  Py_INCREF(borrowed_builtins);
  value = PyObject_GetAttr(builtins.get(), name);
  if (value == nullptr && PyErr_ExceptionMatches(PyExc_AttributeError)) {
    PyErr_Clear();
    PyErr_Format(PyExc_NameError, kNotDefined, name);
  }
  return value;
}

PyObject* import_from(PyObject* ns, PyObject* package, PyObject* name) {
  PyObject* fromlist = PyList_New(1);
  if (fromlist == nullptr) return nullptr;
  Py_INCREF(name);
  PyList_SET_ITEM(fromlist, 0, name);
  PyObject* imported = PyImport_ImportModuleLevelObject(package, ns, nullptr, fromlist, 0);
  Py_DECREF(fromlist);
  if (imported == nullptr) return nullptr;
  PyObject* value = PyObject_GetAttr(imported, name);
  Py_DECREF(imported);
  if (value != nullptr || !PyErr_ExceptionMatches(PyExc_AttributeError)) return value;
  PyErr_Clear();
  PyObject* full_name = PyUnicode_FromFormat("%U.%U", package, name);
  if (full_name == nullptr) return nullptr;
  value = PyImport_GetModule(full_name);
  Py_DECREF(full_name);
  if (value == nullptr && !PyErr_Occurred()) {
    PyErr_Format(PyExc_ImportError, kCannotImport, name);
  }
  return value;
}

bool import_as(PyObject* ns, PyObject* package, PyObject* name, PyObject* alias) {
  PyObject* module = import_from(ns, package, name);
  if (module == nullptr) return false;
  const int rc = PyDict_SetItem(ns, alias, module);
  Py_DECREF(module);
  return rc == 0;
}

bool bind(PyObject* ns, PyObject* name, PyObject* value) {
  if (value == nullptr) return false;
  const int rc = name == nullptr ? -1 : PyDict_SetItem(ns, name, value);
  Py_DECREF(value);
  return rc == 0;
}

}  // namespace ostrel::frame
