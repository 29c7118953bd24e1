// The create and exec steps that every module of ostrel.api runs when it is
// imported, and the small import and name helpers that module bodies use.
//
// A module is a static `Definition` plus a `State`; OSTREL_DEFINE_MODULE turns
// the pair into the module definition and its one exported PyInit_ function.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdint>

namespace ostrel::frame {

// Owns one reference; released when the Ref goes out of scope, so every error
// path of a body releases what it took.
class Ref {
 public:
  Ref() = default;
  explicit Ref(PyObject* object) : object_(object) {}
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : object_(other.release()) {}
  ~Ref() { Py_XDECREF(object_); }
  PyObject* get() const { return object_; }
  PyObject* release() {
    PyObject* object = object_;
    object_ = nullptr;
    return object;
  }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  PyObject* object_ = nullptr;
};

// Process-wide state of one module. Plain statics, written only by the create
// and exec steps under the GIL, never freed.
struct State {
  int64_t interpreter = -1;   // interpreter that first created the module
  PyObject* module = nullptr; // owned; set while executing and once executed
  bool constants_ready = false;
};

struct Definition {
  const char* leaf;           // "common_pb2": the name of the module definition
  const char* frame_name;     // "api.common_pb2": second sys.modules entry
  const char* source;         // file named by the traceback entry of a failed body
  const char* build_version;  // "3.9": the host version the module was built for
  bool (*make_constants)();   // false with an exception set
  bool (*run_body)(PyObject* ns);
};

PyObject* create(PyObject* spec, State& state);
int exec(PyObject* module, const Definition& def, State& state);

// Interns `count` C strings into `out`; false with an exception set.
bool intern_all(const char* const* texts, PyObject** out, size_t count);

// Reads `name` from the namespace, then from the builtins; NameError when both
// lack it. Returns a new reference.
PyObject* lookup(PyObject* ns, PyObject* name);

// `from package import name`, absolute, with `ns` as globals. Falls back to
// sys.modules["package.name"] when the package lacks the attribute. New reference.
PyObject* import_from(PyObject* ns, PyObject* package, PyObject* name);

// `from package import name as alias` into the namespace.
bool import_as(PyObject* ns, PyObject* package, PyObject* name, PyObject* alias);

// ns[name] = value, stealing the reference to value (which may be NULL on a
// failed call; then the pending exception is kept).
bool bind(PyObject* ns, PyObject* name, PyObject* value);

}  // namespace ostrel::frame

#define OSTREL_STRINGIFY_(x) #x
#define OSTREL_STRINGIFY(x) OSTREL_STRINGIFY_(x)
#ifndef OSTREL_BUILD_VERSION
#define OSTREL_BUILD_VERSION \
  OSTREL_STRINGIFY(PY_MAJOR_VERSION) "." OSTREL_STRINGIFY(PY_MINOR_VERSION)
#endif

// From an X-macro list of (id, text) rows: the enum Name of the ids, ending
// in kNameCount, and kNameTexts, the texts in the same order.
#define OSTREL_NAME_ID(id, text) id,
#define OSTREL_NAME_TEXT(id, text) text,
#define OSTREL_NAME_TABLE(LIST)                                       \
  enum Name : size_t { LIST(OSTREL_NAME_ID) kNameCount };             \
  constexpr const char* kNameTexts[kNameCount] = {LIST(OSTREL_NAME_TEXT)};

// What every module declares to the hosts that ask. The frame keeps one
// module object per process (State) and refuses a second interpreter, so no
// module can be loaded into a sub-interpreter, isolated or not. The tables'
// constants and the frame's State are plain statics that only the GIL guards,
// so the modules need the GIL where a build can run without it.
#if PY_VERSION_HEX >= 0x030C0000
#define OSTREL_INTERPRETERS_SLOT \
  {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#else
#define OSTREL_INTERPRETERS_SLOT
#endif
#if PY_VERSION_HEX >= 0x030D0000
#define OSTREL_GIL_SLOT {Py_mod_gil, Py_MOD_GIL_USED},
#else
#define OSTREL_GIL_SLOT
#endif

// Defines the module definition of `leaf` around a frame Definition and
// exports PyInit_<leaf>, the module's only exported symbol.
#define OSTREL_DEFINE_MODULE(leaf, definition)                                 \
  namespace {                                                                  \
  ostrel::frame::State module_state;                                           \
  PyObject* module_create(PyObject* spec, PyModuleDef*) {                      \
    return ostrel::frame::create(spec, module_state);                          \
  }                                                                            \
  int module_exec(PyObject* module) {                                          \
    return ostrel::frame::exec(module, definition, module_state);              \
  }                                                                            \
  PyModuleDef_Slot module_slots[] = {                                          \
      {Py_mod_create, reinterpret_cast<void*>(module_create)},                 \
      {Py_mod_exec, reinterpret_cast<void*>(module_exec)},                     \
      OSTREL_INTERPRETERS_SLOT OSTREL_GIL_SLOT {0, nullptr}};                  \
  PyModuleDef module_def = {PyModuleDef_HEAD_INIT, #leaf, nullptr, 0,          \
                            nullptr, module_slots, nullptr, nullptr, nullptr}; \
  }                                                                            \
  PyMODINIT_FUNC PyInit_##leaf() {                                             \
    return PyModuleDef_Init(&module_def);                                      \
  }
