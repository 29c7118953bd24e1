#include "function.h"

#include <structmember.h>

namespace ostrel::function {
namespace {

using frame::Ref;

constexpr char kArgumentCount[] =
    "%.200s() takes %.8s %zd positional argument%.1s (%zd given)";
constexpr char kDuplicateArgument[] = "%s() got multiple values for keyword argument '%U'";
constexpr char kUnexpectedKeyword[] = "%s() got an unexpected keyword argument '%U'";
constexpr char kKeywordsNotStrings[] = "%.200s() keywords must be strings";
constexpr char kTooManyParameters[] = "function %U has more than %zd parameters";
constexpr char kBadDefaults[] = "defaults of function %U are no tuple or too long";
constexpr char kCleared[] = "function %U has been cleared";

// `return None` in the bytecode of the 3.9 host: LOAD_CONST 0, RETURN_VALUE.
constexpr char kReturnNone[] = "d\x00S\x00";

struct Function {
  PyObject_HEAD
  PyObject* name;
  PyObject* qualname;
  PyObject* module;
  PyObject* code;
  PyObject* defaults;    // tuple or nullptr
  PyObject* globals;     // nullptr once cleared by the collector
  PyObject* parameters;  // the code's co_varnames[:co_argcount]
  PyObject* weakrefs;
  Impl impl;
  Py_ssize_t tag;
};

Function* as_function(PyObject* self) { return reinterpret_cast<Function*>(self); }

const char* name_of(const Function* f) {
  const char* name = PyUnicode_AsUTF8(f->name);
  return name != nullptr ? name : "?";
}

// The parameter-count error, worded by whether the function has defaults.
PyObject* argument_count_error(const Function* f, Py_ssize_t given) {
  const Py_ssize_t count = PyTuple_GET_SIZE(f->parameters);
  const Py_ssize_t required = count - (f->defaults ? PyTuple_GET_SIZE(f->defaults) : 0);
  const bool too_few = given < required;
  const char* bound = required == count ? "exactly" : too_few ? "at least" : "at most";
  const Py_ssize_t expected = too_few ? required : count;
  PyErr_Format(PyExc_TypeError, kArgumentCount, name_of(f), bound, expected,
               expected == 1 ? "" : "s", given);
  return nullptr;
}

// Names the first keyword that matched no free parameter.
PyObject* keyword_error(const Function* f, PyObject* kwargs, Py_ssize_t positional) {
  Py_ssize_t pos = 0;
  PyObject *key, *value, *matched = nullptr;
  while (PyDict_Next(kwargs, &pos, &key, &value)) {
    if (!PyUnicode_Check(key)) {
      PyErr_Format(PyExc_TypeError, kKeywordsNotStrings, name_of(f));
      return nullptr;
    }
    const Py_ssize_t count = PyTuple_GET_SIZE(f->parameters);
    Py_ssize_t index = 0;
    for (; index < count; ++index) {
      const int equal = PyObject_RichCompareBool(PyTuple_GET_ITEM(f->parameters, index), key, Py_EQ);
      if (equal < 0) return nullptr;
      if (equal) break;
    }
    if (index < positional) {
      PyErr_Format(PyExc_TypeError, kDuplicateArgument, name_of(f), key);
      return nullptr;
    }
    if (index == count) {
      PyErr_Format(PyExc_TypeError, kUnexpectedKeyword, name_of(f), key);
      return nullptr;
    }
    matched = key;
  }
  // Every key names a free parameter, so two keys (str subclasses that
  // compare equal) named the same one.
  PyErr_Format(PyExc_TypeError, kDuplicateArgument, name_of(f), matched);
  return nullptr;
}

// The arguments of one call, held like a frame holds its locals: the
// implementation runs Python code that could otherwise drop the last
// reference to a keyword value or, through the collector, to the defaults.
struct Arguments {
  PyObject* values[kMaxParameters] = {};
  ~Arguments() {
    for (PyObject* value : values) Py_XDECREF(value);
  }
  void hold(Py_ssize_t i, PyObject* value) {
    Py_INCREF(value);
    values[i] = value;
  }
};

// Binds the call's arguments to the parameters like a Python function does:
// positional first, then keywords, then defaults. Each error is raised for
// the first fault in that order: too many positional arguments, a missing
// required parameter (counted as the arguments given up to it), then an
// unknown, repeated or non-string keyword.
PyObject* call(PyObject* self, PyObject* args, PyObject* kwargs) {
  Function* f = as_function(self);
  if (f->globals == nullptr) {
    PyErr_Format(PyExc_SystemError, kCleared, f->qualname);
    return nullptr;
  }
  const Py_ssize_t count = PyTuple_GET_SIZE(f->parameters);
  const Py_ssize_t default_count = f->defaults ? PyTuple_GET_SIZE(f->defaults) : 0;
  const Py_ssize_t required = count - default_count;
  const Py_ssize_t positional = PyTuple_GET_SIZE(args);
  if (positional > count) return argument_count_error(f, positional);

  Arguments arguments;
  for (Py_ssize_t i = 0; i < positional; ++i) arguments.hold(i, PyTuple_GET_ITEM(args, i));

  const Py_ssize_t keyword_count = kwargs ? PyDict_GET_SIZE(kwargs) : 0;
  Py_ssize_t keywords_used = 0;
  for (Py_ssize_t i = positional; i < count; ++i) {
    if (keywords_used < keyword_count) {
      PyObject* value = PyDict_GetItemWithError(kwargs, PyTuple_GET_ITEM(f->parameters, i));
      if (value != nullptr) {
        arguments.hold(i, value);
        ++keywords_used;
        continue;
      }
      if (PyErr_Occurred()) return nullptr;
    }
    if (i < required) return argument_count_error(f, i);
    arguments.hold(i, PyTuple_GET_ITEM(f->defaults, i - required));
  }
  if (keywords_used < keyword_count) return keyword_error(f, kwargs, positional);

  Ref globals(f->globals);
  Py_INCREF(globals.get());
  return f->impl(globals.get(), f->tag, arguments.values);
}

// Read from an instance, the function binds to it; read from the class (or
// with None), it is the function itself.
PyObject* descr_get(PyObject* self, PyObject* instance, PyObject*) {
  if (instance == nullptr || instance == Py_None) {
    Py_INCREF(self);
    return self;
  }
  return PyMethod_New(self, instance);
}

PyObject* repr(PyObject* self) {
  return PyUnicode_FromFormat("<function %U at %p>", as_function(self)->qualname, self);
}

int traverse(PyObject* self, visitproc visit, void* arg) {
  Function* f = as_function(self);
  Py_VISIT(f->name);
  Py_VISIT(f->qualname);
  Py_VISIT(f->module);
  Py_VISIT(f->code);
  Py_VISIT(f->defaults);
  Py_VISIT(f->globals);
  Py_VISIT(f->parameters);
  return 0;
}

// Breaks the cycle module namespace -> class -> function -> namespace. The
// name and parameters stay, so a cleared function still reports itself.
int clear(PyObject* self) {
  Function* f = as_function(self);
  Py_CLEAR(f->globals);
  Py_CLEAR(f->defaults);
  Py_CLEAR(f->code);
  return 0;
}

void dealloc(PyObject* self) {
  Function* f = as_function(self);
  PyObject_GC_UnTrack(self);
  if (f->weakrefs != nullptr) PyObject_ClearWeakRefs(self);
  clear(self);
  Py_CLEAR(f->name);
  Py_CLEAR(f->qualname);
  Py_CLEAR(f->module);
  Py_CLEAR(f->parameters);
  PyObject_GC_Del(self);
}

PyObject* get_none(PyObject*, void*) { Py_RETURN_NONE; }

// Like a Python function without annotations; a new dict on every read, so
// the function keeps no mutable state.
PyObject* get_annotations(PyObject*, void*) { return PyDict_New(); }

PyMemberDef members[] = {
    {"__name__", T_OBJECT, offsetof(Function, name), READONLY, nullptr},
    {"__qualname__", T_OBJECT, offsetof(Function, qualname), READONLY, nullptr},
    {"__module__", T_OBJECT, offsetof(Function, module), READONLY, nullptr},
    {"__code__", T_OBJECT, offsetof(Function, code), READONLY, nullptr},
    {"__defaults__", T_OBJECT, offsetof(Function, defaults), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr}};

PyGetSetDef getset[] = {
    {"__doc__", get_none, nullptr, nullptr, nullptr},
    {"__kwdefaults__", get_none, nullptr, nullptr, nullptr},
    {"__annotations__", get_annotations, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr}};

PyTypeObject function_type = [] {
  PyTypeObject type{};  // PyType_Ready fills in the rest
  Py_SET_REFCNT(reinterpret_cast<PyObject*>(&type), 1);
  type.tp_name = "ostrel.function";
  type.tp_basicsize = sizeof(Function);
  type.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC;
  type.tp_dealloc = dealloc;
  type.tp_repr = repr;
  type.tp_call = call;
  type.tp_traverse = traverse;
  type.tp_clear = clear;
  type.tp_weaklistoffset = offsetof(Function, weakrefs);
  type.tp_members = members;
  type.tp_getset = getset;
  type.tp_descr_get = descr_get;
  return type;
}();

template <typename T>
T* new_ref(T* object) {
  Py_XINCREF(object);
  return object;
}

}  // namespace

PyObject* new_code(PyObject* filename, PyObject* name, PyObject* parameters) {
  const Py_ssize_t count = PyTuple_Size(parameters);
  if (count < 0) return nullptr;
  Ref body(PyBytes_FromStringAndSize(kReturnNone, sizeof kReturnNone - 1));
  Ref consts(PyTuple_Pack(1, Py_None));
  Ref empty(PyTuple_New(0));
  Ref line_table(PyBytes_FromStringAndSize(nullptr, 0));
  if (!body || !consts || !empty || !line_table) return nullptr;
  const int argcount = static_cast<int>(count);
  return reinterpret_cast<PyObject*>(PyCode_NewWithPosOnlyArgs(
      argcount, 0, 0, argcount, 1, CO_OPTIMIZED | CO_NEWLOCALS, body.get(), consts.get(),
      empty.get(), parameters, empty.get(), empty.get(), filename, name, 1, line_table.get()));
}

PyObject* new_function(const Definition& definition) {
  if (PyType_Ready(&function_type) < 0) return nullptr;
  Ref argcount(PyObject_GetAttrString(definition.code, "co_argcount"));
  Ref varnames(PyObject_GetAttrString(definition.code, "co_varnames"));
  if (!argcount || !varnames) return nullptr;
  const Py_ssize_t count = PyLong_AsSsize_t(argcount.get());
  if (count == -1 && PyErr_Occurred()) return nullptr;
  if (count > kMaxParameters) {
    PyErr_Format(PyExc_ValueError, kTooManyParameters, definition.name, kMaxParameters);
    return nullptr;
  }
  if (definition.defaults != nullptr &&
      (!PyTuple_Check(definition.defaults) || PyTuple_GET_SIZE(definition.defaults) > count)) {
    PyErr_Format(PyExc_ValueError, kBadDefaults, definition.name);
    return nullptr;
  }
  Ref parameters(PyTuple_GetSlice(varnames.get(), 0, count));
  if (!parameters) return nullptr;

  Function* f = PyObject_GC_New(Function, &function_type);
  if (f == nullptr) return nullptr;
  f->name = new_ref(definition.name);
  f->qualname = new_ref(definition.qualname);
  f->module = new_ref(definition.module);
  f->code = new_ref(definition.code);
  f->defaults = new_ref(definition.defaults);
  f->globals = new_ref(definition.globals);
  f->parameters = parameters.release();
  f->weakrefs = nullptr;
  f->impl = definition.impl;
  f->tag = definition.tag;
  PyObject_GC_Track(f);
  return reinterpret_cast<PyObject*>(f);
}

}  // namespace ostrel::function
