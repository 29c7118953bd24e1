// The hand-written tables of the service module (service_pb2_grpc.cc): the
// names it uses besides those of its method table, the message modules it
// imports, its methods, and the parameter lists of its four kinds of function.
// Every count is taken from a table, never written out.
#pragma once

#include <iterator>

#include "frame.h"
#include "generated/service_pb2_grpc_table.h"

namespace ostrel::service {

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
constexpr size_t kMethodCount = std::size(kMethods);

// Parameter lists of the four kinds of function.
enum Shape : size_t { kStubShape, kServicerShape, kRegisterShape, kOneShotShape, kShapeCount };
constexpr Name kStubParameters[] = {kSelf, kChannel};
constexpr Name kServicerParameters[] = {kSelf, kRequest, kContext};
constexpr Name kRegisterParameters[] = {kServicer, kServer};

// The one-shot parameters, a row each: position in the argument array, name
// and default. Defaults follow the parameters without one, as in Python.
enum Default { kRequired, kEmptyTuple, kNoneDefault, kFalseDefault };
#define OSTREL_ONE_SHOT_PARAMETERS(X)                       \
  X(aRequest, kRequest, kRequired)                          \
  X(aTarget, kTarget, kRequired)                            \
  X(aOptions, kOptions, kEmptyTuple)                        \
  X(aChannelCredentials, kChannelCredentials, kNoneDefault) \
  X(aCallCredentials, kCallCredentials, kNoneDefault)       \
  X(aInsecure, kInsecure, kFalseDefault)                    \
  X(aCompression, kCompression, kNoneDefault)               \
  X(aWaitForReady, kWaitForReady, kNoneDefault)             \
  X(aTimeout, kTimeout, kNoneDefault)                       \
  X(aMetadata, kMetadata, kNoneDefault)
#define OSTREL_PARAMETER_POSITION(position, name, fallback) position,
#define OSTREL_PARAMETER_NAME(position, name, fallback) name,
#define OSTREL_PARAMETER_DEFAULT(position, name, fallback) fallback,
enum OneShotArgument : size_t { OSTREL_ONE_SHOT_PARAMETERS(OSTREL_PARAMETER_POSITION) };
constexpr Name kOneShotParameters[] = {OSTREL_ONE_SHOT_PARAMETERS(OSTREL_PARAMETER_NAME)};
constexpr Default kOneShotDefaults[] = {OSTREL_ONE_SHOT_PARAMETERS(OSTREL_PARAMETER_DEFAULT)};
#undef OSTREL_PARAMETER_POSITION
#undef OSTREL_PARAMETER_NAME
#undef OSTREL_PARAMETER_DEFAULT

// How many one-shot parameters come before the first default.
constexpr size_t one_shot_required() {
  size_t n = 0;
  while (n < std::size(kOneShotDefaults) && kOneShotDefaults[n] == kRequired) ++n;
  return n;
}
constexpr size_t kOneShotRequired = one_shot_required();

constexpr bool one_shot_defaults_trail() {
  for (size_t i = kOneShotRequired; i < std::size(kOneShotDefaults); ++i) {
    if (kOneShotDefaults[i] == kRequired) return false;
  }
  return true;
}
static_assert(one_shot_defaults_trail(), "a one-shot parameter without a default after a default");

struct ShapeDef {
  const Name* parameters;
  size_t count;
  bool has_defaults;  // the one-shot defaults, for the parameters that have one
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

}  // namespace ostrel::service
