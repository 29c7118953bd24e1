// Typing stubs (.pyi) of the message modules, written by protoc-gen-ostrel
// beside each module table.
#ifndef OSTREL_COMPILER_STUBS_H_
#define OSTREL_COMPILER_STUBS_H_

#include <map>
#include <string>

namespace google {
namespace protobuf {
class FileDescriptor;
class ServiceDescriptor;
}  // namespace protobuf
}  // namespace google

namespace ostrel {
namespace stubs {

// Python import name of the module of each schema file, by the file's name;
// it must hold the file itself and every file it imports.
using ImportNames = std::map<std::string, std::string>;

// The text of the stub of `file`'s message module: typed message classes,
// enums and enum value constants, in the conventions of mypy-protobuf.
std::string module_stub(const google::protobuf::FileDescriptor& file,
                        const ImportNames& import_names);

// The text of the stub of the service module `module` (its import name) that
// binds `service`: the client stub, generic in its callables so that it types
// the calls of a grpc.Channel and of a grpc.aio.Channel, the servicer base,
// the registration function and the one-shot calls.
std::string service_stub(const google::protobuf::ServiceDescriptor& service,
                         const std::string& module, const ImportNames& import_names);

}  // namespace stubs
}  // namespace ostrel

#endif  // OSTREL_COMPILER_STUBS_H_
