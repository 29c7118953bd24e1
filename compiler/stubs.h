// Typing stubs (.pyi) of the message modules, written by protoc-gen-ostrel
// beside each module table.
#ifndef OSTREL_COMPILER_STUBS_H_
#define OSTREL_COMPILER_STUBS_H_

#include <map>
#include <string>

namespace google {
namespace protobuf {
class FileDescriptor;
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

}  // namespace stubs
}  // namespace ostrel

#endif  // OSTREL_COMPILER_STUBS_H_
