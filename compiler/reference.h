// The API reference: Markdown pages written by protoc-gen-ostrel from the
// schema files and their comments, one page per schema file and an index.
#ifndef OSTREL_COMPILER_REFERENCE_H_
#define OSTREL_COMPILER_REFERENCE_H_

#include <string>
#include <vector>

namespace google {
namespace protobuf {
class FileDescriptor;
}  // namespace protobuf
}  // namespace google

namespace ostrel {
namespace reference {

// The plugin parameter that asks for the reference.
extern const char kParameter[];

struct Page {
  std::string path;  // relative to the plugin's output directory
  std::string text;
};

// The pages to write for `file`, one of the files of this run (`run`, in
// protoc's order): its own page, and after the last file the index. Type
// names link to their definitions on the pages of the files that hold them.
std::vector<Page> pages(const google::protobuf::FileDescriptor& file,
                        const std::vector<const google::protobuf::FileDescriptor*>& run);

}  // namespace reference
}  // namespace ostrel

#endif  // OSTREL_COMPILER_REFERENCE_H_
