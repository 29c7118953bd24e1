#include "message_module.h"

namespace ostrel::message {
namespace {

using frame::import_as;
using frame::lookup;
using frame::Ref;

// Names that every message module body uses besides those of its table.
#define OSTREL_MESSAGE_NAMES(X)                                    \
  X(kProtobuf, "google.protobuf")                                  \
  X(kProtobufInternal, "google.protobuf.internal")                 \
  X(kEnumTypeWrapperModule, "enum_type_wrapper")                   \
  X(kDescriptorModule, "descriptor")                               \
  X(kDescriptorAlias, "_descriptor")                               \
  X(kPoolModule, "descriptor_pool")                                \
  X(kPoolAlias, "_descriptor_pool")                                \
  X(kMessageModule, "message")                                     \
  X(kMessageAlias, "_message")                                     \
  X(kReflectionModule, "reflection")                               \
  X(kReflectionAlias, "_reflection")                               \
  X(kSymbolDatabaseModule, "symbol_database")                      \
  X(kSymbolDatabaseAlias, "_symbol_database")                      \
  X(kSymDb, "_sym_db")                                             \
  X(kDefault, "Default")                                           \
  X(kAddSerializedFile, "AddSerializedFile")                       \
  X(kDescriptorName, "DESCRIPTOR")                                 \
  X(kEnumTypesByName, "enum_types_by_name")                        \
  X(kMessageTypesByName, "message_types_by_name")                  \
  X(kNestedTypesByName, "nested_types_by_name")                    \
  X(kServicesByName, "services_by_name")                           \
  X(kEnumTypeWrapper, "EnumTypeWrapper")                           \
  X(kGeneratedProtocolMessageType, "GeneratedProtocolMessageType") \
  X(kMessageBase, "Message")                                       \
  X(kModuleName, "__module__")                                     \
  X(kRegisterMessage, "RegisterMessage")                           \
  X(kUseCDescriptors, "_USE_C_DESCRIPTORS")                        \
  X(kOptions, "_options")                                          \
  X(kSerializedOptions, "_serialized_options")                     \
  X(kSerializedStart, "_serialized_start")                         \
  X(kSerializedEnd, "_serialized_end")

OSTREL_NAME_TABLE(OSTREL_MESSAGE_NAMES)

// The runtime modules every body imports, in import order: module, alias.
constexpr Name kRuntimeImports[][2] = {
    {kDescriptorModule, kDescriptorAlias}, {kPoolModule, kPoolAlias},
    {kMessageModule, kMessageAlias},       {kReflectionModule, kReflectionAlias},
    {kSymbolDatabaseModule, kSymbolDatabaseAlias},
};

// The options of every map-entry type: map_entry = true.
constexpr char kMapEntryOptions[] = "\x38\x01";

PyObject* names[kNameCount];
PyObject* map_entry_options;

PyObject* name(Name n) { return names[n]; }

class Body {
 public:
  Body(const Table& table, PyObject* ns) : t_(table), ns_(ns) {}

  bool run() {
    return import_runtime() && bind_symbol_database() && import_dependencies() &&
           add_file() && bind_enums() && bind_message_descriptors() &&
           build_classes() && bind_services() && fix_up_pure_descriptors();
  }

 private:
  PyObject* str(Id id) const { return t_.string_objects[id]; }
  PyObject* num(Id id) const { return t_.int_objects[id]; }

  // getattr(<ns name>, attr), new reference.
  PyObject* attribute_of(PyObject* ns_name, PyObject* attr) const {
    Ref object(lookup(ns_, ns_name));
    return object ? PyObject_GetAttr(object.get(), attr) : nullptr;
  }

  // <ns name>.<method>(*args), new reference.
  template <typename... Args>
  PyObject* call(PyObject* ns_name, PyObject* method, Args... args) const {
    Ref object(lookup(ns_, ns_name));
    if (!object) return nullptr;
    return PyObject_CallMethodObjArgs(object.get(), method, args..., nullptr);
  }

  bool bind(PyObject* key, PyObject* value) const { return frame::bind(ns_, key, value); }

  bool import_runtime() {
    if (t_.enum_count > 0 &&
        !import_as(ns_, name(kProtobufInternal), name(kEnumTypeWrapperModule),
                   name(kEnumTypeWrapperModule))) {
      return false;
    }
    for (const auto& [module, alias] : kRuntimeImports) {
      if (!import_as(ns_, name(kProtobuf), name(module), name(alias))) return false;
    }
    return true;
  }

  bool bind_symbol_database() {
    return bind(name(kSymDb), call(name(kSymbolDatabaseAlias), name(kDefault)));
  }

  bool import_dependencies() {
    for (size_t i = 0; i < t_.import_count; ++i) {
      const Import& dep = t_.imports[i];
      if (!import_as(ns_, str(dep.package), str(dep.name), str(dep.alias))) return false;
    }
    return true;
  }

  bool add_file() {
    Ref pool(call(name(kPoolAlias), name(kDefault)));
    if (!pool) return false;
    return bind(name(kDescriptorName),
                PyObject_CallMethodObjArgs(pool.get(), name(kAddSerializedFile),
                                           *t_.descriptor_object, nullptr));
  }

  // <ns owner>.<by_name>[key]
  PyObject* descriptor_by_name(PyObject* owner, Name by_name, PyObject* key) const {
    Ref table(attribute_of(owner, name(by_name)));
    return table ? PyObject_GetItem(table.get(), key) : nullptr;
  }

  bool bind_enums() {
    for (size_t i = 0; i < t_.enum_count; ++i) {
      const Enum& e = t_.enums[i];
      if (!bind(str(e.handle),
                descriptor_by_name(name(kDescriptorName), kEnumTypesByName, str(e.name)))) {
        return false;
      }
      Ref handle(lookup(ns_, str(e.handle)));
      if (!handle ||
          !bind(str(e.name), call(name(kEnumTypeWrapperModule), name(kEnumTypeWrapper),
                                  handle.get()))) {
        return false;
      }
      for (Id v = e.first_value; v < e.first_value + e.value_count; ++v) {
        const EnumValue& value = t_.values[v];
        if (PyDict_SetItem(ns_, str(value.name), num(value.number)) < 0) return false;
      }
    }
    return true;
  }

  bool bind_message_descriptors() {
    for (size_t i = 0; i < t_.message_count; ++i) {
      const Message& top = t_.messages[i];
      if (!bind(str(top.handle), descriptor_by_name(name(kDescriptorName),
                                                    kMessageTypesByName, str(top.name)))) {
        return false;
      }
      for (size_t k = 1; k <= top.nested_count; ++k) {
        const Message& nested = t_.messages[i + k];
        if (!bind(str(nested.handle),
                  descriptor_by_name(str(top.handle), kNestedTypesByName, str(nested.name)))) {
          return false;
        }
      }
      i += top.nested_count;
    }
    return true;
  }

  // GeneratedProtocolMessageType(name, (Message,), {nested..., DESCRIPTOR, __module__})
  PyObject* build_class(size_t index) const {
    const Message& m = t_.messages[index];
    Ref dict(PyDict_New());
    if (!dict) return nullptr;
    for (size_t k = 1; k <= m.nested_count; ++k) {
      if (!frame::bind(dict.get(), str(t_.messages[index + k].name), build_class(index + k))) {
        return nullptr;
      }
    }
    if (!frame::bind(dict.get(), name(kDescriptorName), lookup(ns_, str(m.handle))) ||
        PyDict_SetItem(dict.get(), name(kModuleName), str(t_.module_name)) < 0) {
      return nullptr;
    }
    Ref metaclass(attribute_of(name(kReflectionAlias), name(kGeneratedProtocolMessageType)));
    if (!metaclass) return nullptr;
    Ref base(attribute_of(name(kMessageAlias), name(kMessageBase)));
    if (!base) return nullptr;
    Ref bases(PyTuple_Pack(1, base.get()));
    if (!bases) return nullptr;
    return PyObject_CallFunctionObjArgs(metaclass.get(), str(m.name), bases.get(),
                                        dict.get(), nullptr);
  }

  bool register_message(PyObject* cls) const {
    Ref result(call(name(kSymDb), name(kRegisterMessage), cls));
    return static_cast<bool>(result);
  }

  bool build_classes() {
    for (size_t i = 0; i < t_.message_count; ++i) {
      const Message& top = t_.messages[i];
      if (!bind(str(top.name), build_class(i))) return false;
      Ref cls(lookup(ns_, str(top.name)));
      if (!cls || !register_message(cls.get())) return false;
      for (size_t k = 1; k <= top.nested_count; ++k) {
        Ref nested(PyObject_GetAttr(cls.get(), str(t_.messages[i + k].name)));
        if (!nested || !register_message(nested.get())) return false;
      }
      i += top.nested_count;
    }
    return true;
  }

  bool bind_services() {
    for (size_t i = 0; i < t_.service_count; ++i) {
      const Service& s = t_.services[i];
      if (!bind(str(s.handle),
                descriptor_by_name(name(kDescriptorName), kServicesByName, str(s.name)))) {
        return false;
      }
    }
    return true;
  }

  bool set_on(PyObject* ns_name, Name attr, PyObject* value) const {
    Ref object(lookup(ns_, ns_name));
    return object && PyObject_SetAttr(object.get(), name(attr), value) == 0;
  }

  bool set_range(Id handle, Id start, Id end) const {
    return set_on(str(handle), kSerializedStart, num(start)) &&
           set_on(str(handle), kSerializedEnd, num(end));
  }

  // The pure-Python descriptors do not learn a type's options or its place in
  // the serialized file from AddSerializedFile; the C descriptors do.
  bool fix_up_pure_descriptors() {
    Ref flag(attribute_of(name(kDescriptorAlias), name(kUseCDescriptors)));
    if (!flag) return false;
    Ref pure(PyObject_RichCompare(flag.get(), Py_False, Py_EQ));
    if (!pure) return false;
    const int is_pure = PyObject_IsTrue(pure.get());
    if (is_pure <= 0) return is_pure == 0;

    if (!set_on(name(kDescriptorName), kOptions, Py_None)) return false;
    for (size_t i = 0; i < t_.message_count; ++i) {
      const Message& m = t_.messages[i];
      if (m.map_entry && !(set_on(str(m.handle), kOptions, Py_None) &&
                           set_on(str(m.handle), kSerializedOptions, map_entry_options))) {
        return false;
      }
    }
    for (size_t i = 0; i < t_.enum_count; ++i) {
      const Enum& e = t_.enums[i];
      if (!set_range(e.handle, e.start, e.end)) return false;
    }
    for (size_t i = 0; i < t_.message_count; ++i) {
      const Message& m = t_.messages[i];
      if (!set_range(m.handle, m.start, m.end)) return false;
    }
    for (size_t i = 0; i < t_.service_count; ++i) {
      const Service& s = t_.services[i];
      if (!set_range(s.handle, s.start, s.end)) return false;
    }
    return true;
  }

  const Table& t_;
  PyObject* ns_;
};

}  // namespace

bool make_constants(const Table& table) {
  if (!frame::intern_all(kNameTexts, names, kNameCount)) return false;
  if (map_entry_options == nullptr) {
    map_entry_options = PyBytes_FromStringAndSize(kMapEntryOptions, sizeof kMapEntryOptions - 1);
    if (map_entry_options == nullptr) return false;
  }
  if (!frame::intern_all(table.strings, table.string_objects, table.string_count)) return false;
  for (size_t i = 0; i < table.int_count; ++i) {
    if (table.int_objects[i] != nullptr) continue;
    table.int_objects[i] = PyLong_FromLong(table.ints[i]);
    if (table.int_objects[i] == nullptr) return false;
  }
  if (*table.descriptor_object == nullptr) {
    *table.descriptor_object = PyBytes_FromStringAndSize(
        reinterpret_cast<const char*>(table.descriptor),
        static_cast<Py_ssize_t>(table.descriptor_size));
  }
  return *table.descriptor_object != nullptr;
}

bool run_body(const Table& table, PyObject* ns) { return Body(table, ns).run(); }

}  // namespace ostrel::message
