// The service module ostrel.api.service_pb2_grpc: binds the gRPC service
// ostrel.api.service.Ostrel to the grpc runtime. It publishes the client stub
// OstrelStub, the servicer base OstrelServicer, add_OstrelServicer_to_server
// and the one-shot calls of class Ostrel, all driven by one method table,
// which the schema compiler generates from the service in
// schema/ostrel/api/ostrel_service.proto (generated/service_pb2_grpc_table.h).
//
// Every function reads `grpc` and the message module aliases from the module
// namespace when it runs, and the serializers from the classes, so a caller
// that rebinds one of those names changes what later calls use.

#include <iterator>

#include "frame.h"
#include "function.h"
#include "service_tables.h"

namespace {

using namespace ostrel::service;
using ostrel::frame::bind;
using ostrel::frame::import_as;
using ostrel::frame::lookup;
using ostrel::frame::Ref;
using ostrel::function::Impl;

constexpr char kSource[] = "ostrel/api/service_pb2_grpc";
constexpr char kNotImplemented[] = "Method not implemented!";

// Process-wide constants, made once by make_constants and never freed.
PyObject* names[kNameCount];
PyObject* paths[kMethodCount];           // "/ostrel.api.service.Ostrel/<method>"
PyObject* shape_parameters[kShapeCount];  // tuples of parameter names
PyObject* not_implemented_text;
PyObject* one_shot_defaults;  // from kOneShotDefaults
PyObject* client_keywords;    // ("request_serializer", "response_deserializer")
PyObject* server_keywords;    // ("request_deserializer", "response_serializer")
PyObject* source_name;

PyObject* name(Name n) { return names[n]; }

// <alias>.<class>.<attribute>, read from the namespace now. New reference.
PyObject* class_attribute(PyObject* ns, const MessageClass& message, Name attribute) {
  Ref module(lookup(ns, name(message.module_alias)));
  if (!module) return nullptr;
  Ref cls(PyObject_GetAttr(module.get(), name(message.name)));
  if (!cls) return nullptr;
  return PyObject_GetAttr(cls.get(), name(attribute));
}

// grpc.<attribute>, read from the namespace now. New reference.
PyObject* grpc_attribute(PyObject* ns, Name attribute) {
  Ref grpc(lookup(ns, name(kGrpc)));
  return grpc ? PyObject_GetAttr(grpc.get(), name(attribute)) : nullptr;
}

// factory(first, <serializer>=..., <deserializer>=...) with the two keywords
// in `keywords` order. New reference.
PyObject* call_with_serializers(PyObject* factory, PyObject* first, PyObject* keywords,
                                PyObject* serializer, PyObject* deserializer) {
  PyObject* args[] = {first, serializer, deserializer};
  return PyObject_Vectorcall(factory, args, 1, keywords);
}

// OstrelStub.__init__(self, channel): one channel callable per method, stored
// on the instance under the method's name. A failing row leaves the rows
// before it bound.
PyObject* stub_init(PyObject* ns, Py_ssize_t, PyObject* const* args) {
  PyObject* self = args[0];
  PyObject* channel = args[1];
  for (size_t i = 0; i < kMethodCount; ++i) {
    const Method& method = kMethods[i];
    Ref unary_unary(PyObject_GetAttr(channel, name(kUnaryUnary)));
    if (!unary_unary) return nullptr;
    Ref serializer(class_attribute(ns, method.request, kSerializeToString));
    if (!serializer) return nullptr;
    Ref deserializer(class_attribute(ns, method.response, kFromString));
    if (!deserializer) return nullptr;
    Ref callable(call_with_serializers(unary_unary.get(), paths[i], client_keywords,
                                       serializer.get(), deserializer.get()));
    if (!callable || PyObject_SetAttr(self, name(method.name), callable.get()) < 0) {
      return nullptr;
    }
  }
  Py_RETURN_NONE;
}

// OstrelServicer.<method>(self, request, context): the answer of a method
// that the servicer does not implement. Never returns a value.
PyObject* servicer_method(PyObject* ns, Py_ssize_t, PyObject* const* args) {
  PyObject* context = args[2];
  Ref set_code(PyObject_GetAttr(context, name(kSetCode)));
  if (!set_code) return nullptr;
  Ref status_code(grpc_attribute(ns, kStatusCode));
  if (!status_code) return nullptr;
  Ref unimplemented(PyObject_GetAttr(status_code.get(), name(kUnimplemented)));
  if (!unimplemented) return nullptr;
  Ref code_set(PyObject_CallOneArg(set_code.get(), unimplemented.get()));
  if (!code_set) return nullptr;
  Ref details_set(
      PyObject_CallMethodOneArg(context, name(kSetDetails), not_implemented_text));
  if (!details_set) return nullptr;
  Ref error(PyObject_CallOneArg(PyExc_NotImplementedError, not_implemented_text));
  if (error) PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.get())), error.get());
  return nullptr;
}

// add_OstrelServicer_to_server(servicer, server): one handler per method,
// bundled in one generic handler for the service. The server is touched only
// once every handler exists.
PyObject* register_servicer(PyObject* ns, Py_ssize_t, PyObject* const* args) {
  PyObject* servicer = args[0];
  PyObject* server = args[1];
  Ref handlers(PyDict_New());
  if (!handlers) return nullptr;
  for (const Method& method : kMethods) {
    Ref factory(grpc_attribute(ns, kHandlerFactory));
    if (!factory) return nullptr;
    Ref behaviour(PyObject_GetAttr(servicer, name(method.name)));
    if (!behaviour) return nullptr;
    Ref deserializer(class_attribute(ns, method.request, kFromString));
    if (!deserializer) return nullptr;
    Ref serializer(class_attribute(ns, method.response, kSerializeToString));
    if (!serializer) return nullptr;
    Ref handler(call_with_serializers(factory.get(), behaviour.get(), server_keywords,
                                      deserializer.get(), serializer.get()));
    if (!handler || PyDict_SetItem(handlers.get(), name(method.name), handler.get()) < 0) {
      return nullptr;
    }
  }
  Ref generic_factory(grpc_attribute(ns, kGenericHandlerFactory));
  if (!generic_factory) return nullptr;
  Ref generic(PyObject_CallFunctionObjArgs(generic_factory.get(), name(kServiceName),
                                           handlers.get(), nullptr));
  if (!generic) return nullptr;
  Ref generics(PyTuple_Pack(1, generic.get()));
  if (!generics) return nullptr;
  Ref added(PyObject_CallMethodOneArg(server, name(kAddGenericHandlers), generics.get()));
  if (!added) return nullptr;
  Py_RETURN_NONE;
}

// Ostrel.<method>(request, target, ...): one call of
// grpc.experimental.unary_unary with the method's path and serializers. The
// runtime takes `insecure` before `call_credentials`.
PyObject* one_shot(PyObject* ns, Py_ssize_t row, PyObject* const* args) {
  const Method& method = kMethods[row];
  Ref experimental(grpc_attribute(ns, kExperimental));
  if (!experimental) return nullptr;
  Ref unary_unary(PyObject_GetAttr(experimental.get(), name(kUnaryUnary)));
  if (!unary_unary) return nullptr;
  Ref serializer(class_attribute(ns, method.request, kSerializeToString));
  if (!serializer) return nullptr;
  Ref deserializer(class_attribute(ns, method.response, kFromString));
  if (!deserializer) return nullptr;
  PyObject* call_args[] = {
      args[aRequest],       args[aTarget],      paths[row],
      serializer.get(),     deserializer.get(), args[aOptions],
      args[aChannelCredentials], args[aInsecure], args[aCallCredentials],
      args[aCompression],   args[aWaitForReady], args[aTimeout],
      args[aMetadata]};
  return PyObject_Vectorcall(unary_unary.get(), call_args, std::size(call_args), nullptr);
}

// The module's fifteen functions, in the order in which their classes (and
// the module) receive them.
struct FunctionDef {
  Name owner;  // class name, or kRegister for the module-level function
  Name name;
  Shape shape;
  Impl impl;
  Py_ssize_t row;
  PyObject* qualname;
  PyObject* code;
};
constexpr size_t kFunctionCount = 1 + kMethodCount + 1 + kMethodCount;
FunctionDef functions[kFunctionCount];

void lay_out_functions() {
  size_t n = 0;
  functions[n++] = {kStubClass, kInit, kStubShape, stub_init, 0, nullptr, nullptr};
  for (size_t i = 0; i < kMethodCount; ++i) {
    functions[n++] = {kServicerClass, kMethods[i].name, kServicerShape, servicer_method,
                      static_cast<Py_ssize_t>(i), nullptr, nullptr};
  }
  functions[n++] = {kRegister, kRegister, kRegisterShape, register_servicer, 0, nullptr, nullptr};
  for (size_t i = 0; i < kMethodCount; ++i) {
    functions[n++] = {kOneShotClass, kMethods[i].name, kOneShotShape, one_shot,
                      static_cast<Py_ssize_t>(i), nullptr, nullptr};
  }
}

PyObject* new_tuple_of_names(const Name* ids, size_t count) {
  PyObject* tuple = PyTuple_New(static_cast<Py_ssize_t>(count));
  if (tuple == nullptr) return nullptr;
  for (size_t i = 0; i < count; ++i) {
    Py_INCREF(name(ids[i]));
    PyTuple_SET_ITEM(tuple, static_cast<Py_ssize_t>(i), name(ids[i]));
  }
  return tuple;
}

PyObject* new_default(Default value) {
  if (value == kEmptyTuple) return PyTuple_New(0);
  PyObject* object = value == kFalseDefault ? Py_False : Py_None;
  Py_INCREF(object);
  return object;
}

// The tuple of the one-shot defaults, made from kOneShotDefaults.
PyObject* new_one_shot_defaults() {
  constexpr size_t count = std::size(kOneShotDefaults) - kOneShotRequired;
  Ref defaults(PyTuple_New(static_cast<Py_ssize_t>(count)));
  for (size_t i = 0; defaults && i < count; ++i) {
    PyObject* value = new_default(kOneShotDefaults[kOneShotRequired + i]);
    if (value == nullptr) return nullptr;
    PyTuple_SET_ITEM(defaults.get(), static_cast<Py_ssize_t>(i), value);
  }
  return defaults.release();
}

bool make_constants() {
  if (!ostrel::frame::intern_all(kNameTexts, names, kNameCount)) return false;
  for (size_t i = 0; i < kMethodCount; ++i) {
    if (paths[i] == nullptr &&
        (paths[i] = PyUnicode_FromFormat("/%U/%U", name(kServiceName),
                                         name(kMethods[i].name))) == nullptr) {
      return false;
    }
  }
  for (size_t s = 0; s < kShapeCount; ++s) {
    if (shape_parameters[s] == nullptr &&
        (shape_parameters[s] = new_tuple_of_names(kShapes[s].parameters, kShapes[s].count)) ==
            nullptr) {
      return false;
    }
  }
  constexpr Name kClientKeywords[] = {kRequestSerializer, kResponseDeserializer};
  constexpr Name kServerKeywords[] = {kRequestDeserializer, kResponseSerializer};
  if ((client_keywords == nullptr &&
       (client_keywords = new_tuple_of_names(kClientKeywords, std::size(kClientKeywords))) ==
           nullptr) ||
      (server_keywords == nullptr &&
       (server_keywords = new_tuple_of_names(kServerKeywords, std::size(kServerKeywords))) ==
           nullptr)) {
    return false;
  }
  if (not_implemented_text == nullptr &&
      (not_implemented_text = PyUnicode_FromString(kNotImplemented)) == nullptr) {
    return false;
  }
  if (source_name == nullptr && (source_name = PyUnicode_FromString(kSource)) == nullptr) {
    return false;
  }
  if (one_shot_defaults == nullptr && (one_shot_defaults = new_one_shot_defaults()) == nullptr) {
    return false;
  }
  if (functions[0].impl == nullptr) lay_out_functions();
  for (FunctionDef& f : functions) {
    if (f.qualname == nullptr) {
      f.qualname = f.owner == kRegister
                       ? PyUnicode_FromFormat("%U", name(f.name))
                       : PyUnicode_FromFormat("%U.%U", name(f.owner), name(f.name));
      if (f.qualname == nullptr) return false;
    }
    if (f.code == nullptr &&
        (f.code = ostrel::function::new_code(source_name, name(f.name), f.qualname,
                                             shape_parameters[f.shape])) == nullptr) {
      return false;
    }
  }
  return true;
}

PyObject* new_function(PyObject* ns, const FunctionDef& f) {
  const ostrel::function::Definition function = {
      name(f.name), f.qualname, name(kModuleName), f.code,
      kShapes[f.shape].has_defaults ? one_shot_defaults : nullptr,
      ns, f.impl, f.row};
  return ostrel::function::new_function(function);
}

// class <name>(object) holding the functions owned by <name>, in order; the
// one-shot calls are static methods.
PyObject* new_class(PyObject* ns, Name class_name) {
  Ref dict(PyDict_New());
  if (!dict || PyDict_SetItem(dict.get(), name(kModuleKey), name(kModuleName)) < 0 ||
      PyDict_SetItem(dict.get(), name(kQualnameKey), name(class_name)) < 0) {
    return nullptr;
  }
  for (const FunctionDef& f : functions) {
    if (f.owner != class_name) continue;
    Ref function(new_function(ns, f));
    if (!function) return nullptr;
    Ref member(class_name == kOneShotClass ? PyStaticMethod_New(function.get())
                                           : function.release());
    if (!member || PyDict_SetItem(dict.get(), name(f.name), member.get()) < 0) return nullptr;
  }
  Ref bases(PyTuple_Pack(1, reinterpret_cast<PyObject*>(&PyBaseObject_Type)));
  if (!bases) return nullptr;
  return PyObject_CallFunctionObjArgs(reinterpret_cast<PyObject*>(&PyType_Type),
                                      name(class_name), bases.get(), dict.get(), nullptr);
}

constexpr char kNoRegisterFunction[] = "the function table lacks the registration function";

PyObject* new_register_function(PyObject* ns) {
  for (const FunctionDef& f : functions) {
    if (f.owner == kRegister) return new_function(ns, f);
  }
  PyErr_SetString(PyExc_SystemError, kNoRegisterFunction);
  return nullptr;
}

bool run_body(PyObject* ns) {
  if (!bind(ns, name(kGrpc),
            PyImport_ImportModuleLevelObject(name(kGrpc), ns, nullptr, nullptr, 0))) {
    return false;
  }
  for (const auto& [module, alias] : kImports) {
    if (!import_as(ns, name(kPackage), name(module), name(alias))) return false;
  }
  return bind(ns, name(kStubClass), new_class(ns, kStubClass)) &&
         bind(ns, name(kServicerClass), new_class(ns, kServicerClass)) &&
         bind(ns, name(kRegister), new_register_function(ns)) &&
         bind(ns, name(kOneShotClass), new_class(ns, kOneShotClass));
}

const ostrel::frame::Definition definition = {
    "service_pb2_grpc", "api.service_pb2_grpc", kSource, OSTREL_BUILD_VERSION,
    make_constants,     run_body};

}  // namespace

OSTREL_DEFINE_MODULE(service_pb2_grpc, definition)
