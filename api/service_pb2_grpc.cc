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
#include "generated/service_pb2_grpc_table.h"

namespace {

using ostrel::frame::bind;
using ostrel::frame::import_as;
using ostrel::frame::lookup;
using ostrel::frame::Ref;
using ostrel::function::Impl;

// The names the module uses besides those of its method table.
#define OSTREL_SERVICE_RUNTIME_NAMES(X)                                          \
  X(kGrpc, "grpc")                                                               \
  X(kInit, "__init__")                                                           \
  X(kModuleKey, "__module__")                                                    \
  X(kQualnameKey, "__qualname__")                                                \
  X(kModuleName, "api.service_pb2_grpc")                                         \
  X(kSerializeToString, "SerializeToString")                                     \
  X(kFromString, "FromString")                                                   \
  X(kUnaryUnary, "unary_unary")                                                  \
  X(kRequestSerializer, "request_serializer")                                    \
  X(kResponseDeserializer, "response_deserializer")                              \
  X(kRequestDeserializer, "request_deserializer")                                \
  X(kResponseSerializer, "response_serializer")                                  \
  X(kHandlerFactory, "unary_unary_rpc_method_handler")                           \
  X(kGenericHandlerFactory, "method_handlers_generic_handler")                   \
  X(kAddGenericHandlers, "add_generic_rpc_handlers")                             \
  X(kStatusCode, "StatusCode")                                                   \
  X(kUnimplemented, "UNIMPLEMENTED")                                             \
  X(kSetCode, "set_code")                                                        \
  X(kSetDetails, "set_details")                                                  \
  X(kExperimental, "experimental")                                               \
  X(kSelf, "self")                                                               \
  X(kChannel, "channel")                                                         \
  X(kRequest, "request")                                                         \
  X(kContext, "context")                                                         \
  X(kServicer, "servicer")                                                       \
  X(kServer, "server")                                                           \
  X(kTarget, "target")                                                           \
  X(kOptions, "options")                                                         \
  X(kChannelCredentials, "channel_credentials")                                  \
  X(kCallCredentials, "call_credentials")                                        \
  X(kInsecure, "insecure")                                                       \
  X(kCompression, "compression")                                                 \
  X(kWaitForReady, "wait_for_ready")                                             \
  X(kTimeout, "timeout")                                                         \
  X(kMetadata, "metadata")

#define OSTREL_SERVICE_NAMES(X) OSTREL_SERVICE_RUNTIME_NAMES(X) OSTREL_SERVICE_TABLE_NAMES(X)

OSTREL_NAME_TABLE(OSTREL_SERVICE_NAMES)

constexpr char kSource[] = "ostrel/api/service_pb2_grpc";
constexpr char kNotImplemented[] = "Method not implemented!";

// The message modules, imported from the package in this order after grpc.
#define OSTREL_IMPORT_ROW(module, alias) {module, alias},
constexpr Name kImports[][2] = {OSTREL_SERVICE_IMPORTS(OSTREL_IMPORT_ROW)};
#undef OSTREL_IMPORT_ROW

// A message class, reached through the alias of its module.
struct MessageClass {
  Name module_alias, name;
};

struct Method {
  Name name;
  MessageClass request, response;
};

// The service's methods. Their order is the order of the stub's attributes,
// the servicer's methods, the registered handlers and the one-shot calls.
#define OSTREL_METHOD_ROW(method, request_alias, request, response_alias, response) \
  {method, {request_alias, request}, {response_alias, response}},
constexpr Method kMethods[] = {OSTREL_SERVICE_METHODS(OSTREL_METHOD_ROW)};
#undef OSTREL_METHOD_ROW
constexpr size_t kMethodCount = sizeof kMethods / sizeof kMethods[0];

// Parameter lists of the four kinds of function.
enum Shape : size_t { kStubShape, kServicerShape, kRegisterShape, kOneShotShape, kShapeCount };
constexpr Name kStubParameters[] = {kSelf, kChannel};
constexpr Name kServicerParameters[] = {kSelf, kRequest, kContext};
constexpr Name kRegisterParameters[] = {kServicer, kServer};
constexpr Name kOneShotParameters[] = {
    kRequest,  kTarget,      kOptions,      kChannelCredentials, kCallCredentials,
    kInsecure, kCompression, kWaitForReady, kTimeout,            kMetadata};
// Positions of the one-shot parameters in the argument array.
enum OneShotArgument : size_t {
  aRequest, aTarget, aOptions, aChannelCredentials, aCallCredentials,
  aInsecure, aCompression, aWaitForReady, aTimeout, aMetadata,
};

// The defaults of the one-shot parameters from `options` on, in order:
// options=(), then None for all but insecure=False.
enum Default { kEmptyTuple, kNoneDefault, kFalseDefault };
constexpr Default kOneShotDefaults[] = {
    kEmptyTuple,   kNoneDefault, kNoneDefault, kFalseDefault,
    kNoneDefault,  kNoneDefault, kNoneDefault, kNoneDefault};
static_assert(std::size(kOneShotDefaults) == std::size(kOneShotParameters) - aOptions,
              "a default for every one-shot parameter after request and target");

struct ShapeDef {
  const Name* parameters;
  size_t count;
  bool has_defaults;  // the one-shot defaults for all but the first two
};
template <size_t N>
constexpr ShapeDef shape(const Name (&parameters)[N], bool has_defaults) {
  return {parameters, N, has_defaults};
}
constexpr ShapeDef kShapes[kShapeCount] = {
    shape(kStubParameters, false),
    shape(kServicerParameters, false),
    shape(kRegisterParameters, false),
    shape(kOneShotParameters, true),
};

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

template <size_t N>
PyObject* new_tuple_of_names(const Name (&ids)[N]) {
  return new_tuple_of_names(ids, N);
}

// The tuple of the one-shot defaults, made from kOneShotDefaults.
PyObject* new_one_shot_defaults() {
  Ref defaults(PyTuple_New(static_cast<Py_ssize_t>(std::size(kOneShotDefaults))));
  if (!defaults) return nullptr;
  for (size_t i = 0; i < std::size(kOneShotDefaults); ++i) {
    PyObject* value = kOneShotDefaults[i] == kEmptyTuple ? PyTuple_New(0)
                      : kOneShotDefaults[i] == kFalseDefault ? Py_False
                                                             : Py_None;
    if (kOneShotDefaults[i] != kEmptyTuple) Py_INCREF(value);
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
       (client_keywords = new_tuple_of_names(kClientKeywords)) == nullptr) ||
      (server_keywords == nullptr &&
       (server_keywords = new_tuple_of_names(kServerKeywords)) == nullptr)) {
    return false;
  }
  if (not_implemented_text == nullptr &&
      (not_implemented_text = PyUnicode_FromString(kNotImplemented)) == nullptr) {
    return false;
  }
  if (source_name == nullptr && (source_name = PyUnicode_FromString(kSource)) == nullptr) {
    return false;
  }
  if (one_shot_defaults == nullptr &&
      (one_shot_defaults = new_one_shot_defaults()) == nullptr) {
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
