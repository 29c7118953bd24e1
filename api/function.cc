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
constexpr char kNoInstances[] = "cannot create 'ostrel.function' instances";

constexpr char kCodeTemplateSource[] = "None";
constexpr char kCodeTemplateFile[] = "<ostrel.function>";

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
  vectorcallfunc vectorcall;  // how the host calls it: always `call` below
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

constexpr Py_ssize_t kNoParameter = -1;
constexpr Py_ssize_t kComparisonFailed = -2;

// The parameter that `key` names, found as a Python function finds it: by
// identity first, then by equality. kNoParameter when none matches,
// kComparisonFailed with the comparison's exception set.
Py_ssize_t parameter_index(PyObject* parameters, PyObject* key) {
  const Py_ssize_t count = PyTuple_GET_SIZE(parameters);
  for (Py_ssize_t i = 0; i < count; ++i) {
    if (PyTuple_GET_ITEM(parameters, i) == key) return i;
  }
  for (Py_ssize_t i = 0; i < count; ++i) {
    const int equal = PyObject_RichCompareBool(PyTuple_GET_ITEM(parameters, i), key, Py_EQ);
    if (equal < 0) return kComparisonFailed;
    if (equal) return i;
  }
  return kNoParameter;
}

// The first fault among the keywords, raised only once the parameters are
// known to be complete. `key` is borrowed from the caller's kwnames tuple.
struct KeywordFault {
  const char* text = nullptr;
  PyObject* key = nullptr;

  void note(const char* fault_text, PyObject* fault_key) {
    if (text != nullptr) return;
    text = fault_text;
    key = fault_key;
  }
  PyObject* raise(const Function* f) const {
    if (key == nullptr) {
      PyErr_Format(PyExc_TypeError, text, name_of(f));
    } else {
      PyErr_Format(PyExc_TypeError, text, name_of(f), key);
    }
    return nullptr;
  }
};

// Puts each keyword's value in the slot of the parameter it names. The
// names come in the caller's kwnames tuple, the values after the positional
// arguments; a tuple cannot change while a key's __eq__ runs, so nothing is
// copied. Faults (a key that is no string, names no parameter, or names one
// already given) are noted in `fault`, the first one only; false only when a
// comparison raised.
bool bind_keywords(const Function* f, PyObject* kwnames, PyObject* const* values,
                   Arguments& arguments, KeywordFault& fault) {
  const Py_ssize_t count = PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t k = 0; k < count; ++k) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, k);
    if (!PyUnicode_Check(key)) {
      fault.note(kKeywordsNotStrings, nullptr);
      continue;
    }
    const Py_ssize_t index = parameter_index(f->parameters, key);
    if (index == kComparisonFailed) return false;
    if (index == kNoParameter) {
      fault.note(kUnexpectedKeyword, key);
    } else if (arguments.values[index] != nullptr) {
      fault.note(kDuplicateArgument, key);
    } else {
      arguments.hold(index, values[k]);
    }
  }
  return true;
}

// The vectorcall of the function. Binds the call's arguments to the
// parameters like a Python function does: positional first, then keywords,
// then defaults. Each error is raised for the first fault in that order: too
// many positional arguments, a missing required parameter (counted as the
// arguments given up to it), then an unknown, repeated or non-string keyword.
PyObject* call(PyObject* self, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
  Function* f = as_function(self);
  if (f->globals == nullptr) {
    PyErr_Format(PyExc_SystemError, kCleared, f->qualname);
    return nullptr;
  }
  const Py_ssize_t count = PyTuple_GET_SIZE(f->parameters);
  const Py_ssize_t positional = PyVectorcall_NARGS(nargsf);
  if (positional > count) return argument_count_error(f, positional);

  Arguments arguments;
  for (Py_ssize_t i = 0; i < positional; ++i) arguments.hold(i, args[i]);
  KeywordFault fault;
  if (kwnames != nullptr && !bind_keywords(f, kwnames, args + positional, arguments, fault)) {
    return nullptr;
  }

  const Py_ssize_t required = count - (f->defaults ? PyTuple_GET_SIZE(f->defaults) : 0);
  for (Py_ssize_t i = positional; i < required; ++i) {
    if (arguments.values[i] == nullptr) return argument_count_error(f, i);
  }
  if (fault.text != nullptr) return fault.raise(f);
  for (Py_ssize_t i = required; i < count; ++i) {
    if (arguments.values[i] == nullptr) {
      arguments.hold(i, PyTuple_GET_ITEM(f->defaults, i - required));
    }
  }

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
  Py_VISIT(Py_TYPE(self));  // instances of a heap type hold their type
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
  PyTypeObject* type = Py_TYPE(self);
  PyObject_GC_Del(self);
  Py_DECREF(type);
}

// Function objects are made by new_function only; the type refuses to make
// one of its own, which would have no parameters or implementation.
PyObject* refuse_new(PyTypeObject*, PyObject*, PyObject*) {
  PyErr_SetString(PyExc_TypeError, kNoInstances);
  return nullptr;
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
    // Read by PyType_FromSpec, not published: where the weak references and
    // the vectorcall pointer of an instance are.
    {"__weaklistoffset__", T_PYSSIZET, offsetof(Function, weakrefs), READONLY, nullptr},
    {"__vectorcalloffset__", T_PYSSIZET, offsetof(Function, vectorcall), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr}};

PyGetSetDef getset[] = {
    {"__doc__", get_none, nullptr, nullptr, nullptr},
    {"__kwdefaults__", get_none, nullptr, nullptr, nullptr},
    {"__annotations__", get_annotations, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr}};

PyType_Slot slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(repr)},
    // Calls through tp_call (PyObject_Call from C, with a keyword dict) are
    // turned into vectorcalls by the host, which copies the dict first.
    {Py_tp_call, reinterpret_cast<void*>(PyVectorcall_Call)},
    {Py_tp_traverse, reinterpret_cast<void*>(traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(clear)},
    {Py_tp_members, members},
    {Py_tp_getset, getset},
    {Py_tp_descr_get, reinterpret_cast<void*>(descr_get)},
    {Py_tp_new, reinterpret_cast<void*>(refuse_new)},
    {0, nullptr}};

// Bound like a Python function (METHOD_DESCRIPTOR lets the host call
// obj.method(...) without making the bound method), not subclassable, and
// immutable where the host knows the flag (3.10 on).
#ifdef Py_TPFLAGS_IMMUTABLETYPE
constexpr unsigned long kImmutable = Py_TPFLAGS_IMMUTABLETYPE;
#else
constexpr unsigned long kImmutable = 0;
#endif
PyType_Spec spec = {
    "ostrel.function", sizeof(Function), 0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL |
        Py_TPFLAGS_METHOD_DESCRIPTOR | kImmutable,
    slots};

// The type, made once per process on first use and never freed (the
// modules live in one interpreter). Borrowed; NULL with an exception set.
PyTypeObject* function_type() {
  static PyObject* type = nullptr;
  if (type == nullptr) type = PyType_FromSpec(&spec);
  return reinterpret_cast<PyTypeObject*>(type);
}

template <typename T>
T* new_ref(T* object) {
  Py_XINCREF(object);
  return object;
}

// The host's own code object of the expression `None`, compiled once and
// never run: its body returns None in the bytecode of whichever host this
// is, so a function made from a code object derived from it is safe to
// call. Borrowed; NULL with an exception set.
PyObject* host_code_template() {
  static PyObject* code_template = nullptr;
  if (code_template == nullptr) {
    code_template = Py_CompileString(kCodeTemplateSource, kCodeTemplateFile, Py_eval_input);
  }
  return code_template;
}

}  // namespace

PyObject* new_code(PyObject* filename, PyObject* name, [[maybe_unused]] PyObject* qualname,
                   PyObject* parameters) {
  if (!PyTuple_Check(parameters)) {
    PyErr_BadInternalCall();
    return nullptr;
  }
  Ref count(PyLong_FromSsize_t(PyTuple_GET_SIZE(parameters)));
  Ref flags(PyLong_FromLong(CO_OPTIMIZED | CO_NEWLOCALS));
  Ref changes(PyDict_New());
  if (!count || !flags || !changes) return nullptr;
  const struct {
    const char* field;
    PyObject* value;
  } fields[] = {
    {"co_argcount", count.get()},
    {"co_nlocals", count.get()},
    {"co_varnames", parameters},
    {"co_flags", flags.get()},
    {"co_filename", filename},
    {"co_name", name},
#if PY_VERSION_HEX >= 0x030B0000
    {"co_qualname", qualname},
#endif
  };
  for (const auto& [field, value] : fields) {
    if (PyDict_SetItemString(changes.get(), field, value) < 0) return nullptr;
  }
  PyObject* code_template = host_code_template();
  if (code_template == nullptr) return nullptr;
  Ref replace(PyObject_GetAttrString(code_template, "replace"));
  Ref no_args(PyTuple_New(0));
  if (!replace || !no_args) return nullptr;
  return PyObject_Call(replace.get(), no_args.get(), changes.get());
}

PyObject* new_function(const Definition& definition) {
  PyTypeObject* type = function_type();
  if (type == nullptr) return nullptr;
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

  Function* f = PyObject_GC_New(Function, type);
  if (f == nullptr) return nullptr;
  f->name = new_ref(definition.name);
  f->qualname = new_ref(definition.qualname);
  f->module = new_ref(definition.module);
  f->code = new_ref(definition.code);
  f->defaults = new_ref(definition.defaults);
  f->globals = new_ref(definition.globals);
  f->parameters = parameters.release();
  f->weakrefs = nullptr;
  f->vectorcall = call;
  f->impl = definition.impl;
  f->tag = definition.tag;
  PyObject_GC_Track(f);
  return reinterpret_cast<PyObject*>(f);
}

}  // namespace ostrel::function
