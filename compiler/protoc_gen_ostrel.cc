// protoc-gen-ostrel: turns each schema file into the static table of its
// message module (see api/message_module.h). Everything in a table is computed
// from the file's descriptor: names, aliases, the canonical serialized
// descriptor and the serialized range of every type.
//
//   protoc --plugin=protoc-gen-ostrel=... --ostrel_out=DIR -I schema FILE.proto
//
// writes DIR/<path without .proto>_pb2.cc and, beside it, the module's typing
// stub DIR/<path without .proto>_pb2.pyi (compiler/stubs.cc); for the file
// of the service, also the service module's method table and stub,
// DIR/ostrel/api/service_pb2_grpc_table.h and .pyi; with
// --ostrel_opt=reference also the API reference, DIR/docs/api/*.md
// (compiler/reference.cc). A file that a table cannot represent is refused
// with an error and nothing is written.

#include <google/protobuf/compiler/code_generator.h>
#include <google/protobuf/compiler/plugin.h>
#include <google/protobuf/descriptor.h>
#include <google/protobuf/descriptor.pb.h>
#include <google/protobuf/io/printer.h>
#include <google/protobuf/io/zero_copy_stream.h>

#include "names.h"
#include "reference.h"
#include "stubs.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using google::protobuf::Descriptor;
using google::protobuf::DescriptorProto;
using google::protobuf::EnumDescriptorProto;
using google::protobuf::FieldDescriptorProto;
using google::protobuf::FileDescriptor;
using google::protobuf::FileDescriptorProto;
using google::protobuf::MethodDescriptor;
using google::protobuf::ServiceDescriptor;
using google::protobuf::compiler::GeneratorContext;
using ostrel::names::handle;
using ostrel::names::module_names;
using ostrel::names::ModuleNames;
using ostrel::names::replace_all;

// The service that has a module of its own, api/service_pb2_grpc.cc, which
// includes the method table generated from it.
constexpr char kBoundService[] = "ostrel.api.service.Ostrel";

// The service module's import name: the service's package with "_pb2_grpc"
// added to its last part ("ostrel.api.service" -> "ostrel.api.service_pb2_grpc").
std::string service_module_name(const std::string& package) { return package + "_pb2_grpc"; }

// ------------------------------------------------------------ validation

// The table holds only what a plain proto3 file of messages, maps and
// top-level enums needs; anything else is refused rather than dropped.
class Validator {
 public:
  Validator(const FileDescriptorProto& file, std::string* error) : file_(file), error_(error) {}

  bool check() {
    const std::string& f = file_.name();
    if (file_.syntax() != "proto3") return fail(f + ": only proto3 files are supported");
    if (!check_services()) return false;
    if (file_.extension_size() > 0) return fail(f + ": extensions are not supported");
    if (file_.has_options()) return fail(f + ": file options are not supported");
    if (file_.public_dependency_size() + file_.weak_dependency_size() > 0) {
      return fail(f + ": public and weak imports are not supported");
    }
    for (const DescriptorProto& m : file_.message_type()) {
      if (!check_message(m, m.name(), true)) return false;
    }
    for (const EnumDescriptorProto& e : file_.enum_type()) {
      if (!check_enum(e)) return false;
    }
    return true;
  }

 private:
  bool fail(const std::string& text) {
    *error_ = text;
    return false;
  }

  // The one service that has a module of its own (api/service_pb2_grpc.cc),
  // with unary methods and no options; its method table is generated.
  bool check_services() {
    const std::string& f = file_.name();
    if (file_.service_size() == 0) return true;
    const auto& service = file_.service(0);
    const std::string full_name = file_.package() + "." + service.name();
    if (file_.service_size() > 1 || full_name != kBoundService) {
      const std::string& other = file_.service(full_name != kBoundService ? 0 : 1).name();
      return fail(f + ": service " + other + " has no service module; the only service with one is " +
                  kBoundService);
    }
    if (service.has_options()) return fail(f + ": service options are not supported");
    for (const auto& method : service.method()) {
      if (method.client_streaming() || method.server_streaming()) {
        return fail(f + ": method " + service.name() + "." + method.name() +
                    " streams; only unary methods are supported");
      }
      if (method.has_options()) return fail(f + ": method options are not supported");
    }
    return true;
  }

  bool check_message(const DescriptorProto& m, const std::string& path, bool top_level) {
    const std::string where = file_.name() + ": message " + path;
    if (m.enum_type_size() > 0) {
      return fail(where + " declares the nested enum " + m.enum_type(0).name() +
                  "; enums must be declared at the top level");
    }
    if (!top_level && m.nested_type_size() > 0) {
      return fail(where + " nests " + m.nested_type(0).name() +
                  "; types may be nested one level deep only");
    }
    if (m.extension_size() + m.extension_range_size() > 0) {
      return fail(where + ": extensions are not supported");
    }
    if (m.reserved_range_size() + m.reserved_name_size() > 0) {
      return fail(where + ": reserved fields are not supported");
    }
    if (m.has_options()) {
      google::protobuf::MessageOptions map_only;
      map_only.set_map_entry(true);
      if (m.options().SerializeAsString() != map_only.SerializeAsString()) {
        return fail(where + ": message options other than map entries are not supported");
      }
    }
    for (const FieldDescriptorProto& field : m.field()) {
      if (field.has_options() || field.proto3_optional() || field.has_default_value() ||
          field.has_extendee()) {
        return fail(where + ": field " + field.name() +
                    " uses options, 'optional', a default or an extendee");
      }
    }
    for (const DescriptorProto& nested : m.nested_type()) {
      if (!check_message(nested, path + "." + nested.name(), false)) return false;
    }
    return true;
  }

  bool check_enum(const EnumDescriptorProto& e) {
    const std::string where = file_.name() + ": enum " + e.name();
    if (e.has_options() || e.reserved_range_size() + e.reserved_name_size() > 0) {
      return fail(where + ": enum options and reserved values are not supported");
    }
    for (const auto& value : e.value()) {
      if (value.has_options()) return fail(where + ": enum value options are not supported");
    }
    return true;
  }

  const FileDescriptorProto& file_;
  std::string* error_;
};

// ------------------------------------------------------ serialized ranges

struct Range {
  uint32_t start = 0, end = 0;
};

// Reads the length-delimited entries of one field number out of a serialized
// message, giving each entry's payload range (offsets relative to `base`).
class WireReader {
 public:
  WireReader(const std::string& bytes, uint32_t begin, uint32_t end)
      : bytes_(bytes), pos_(begin), end_(end) {}

  std::vector<Range> entries(uint32_t field_number) {
    std::vector<Range> found;
    while (pos_ < end_) {
      const uint64_t tag = varint();
      const uint32_t wire_type = tag & 7;
      if (wire_type == 2) {
        const uint32_t length = static_cast<uint32_t>(varint());
        if ((tag >> 3) == field_number) found.push_back({pos_, pos_ + length});
        pos_ += length;
      } else if (wire_type == 0) {
        varint();
      } else if (wire_type == 1) {
        pos_ += 8;
      } else if (wire_type == 5) {
        pos_ += 4;
      } else {
        break;  // descriptors use no groups
      }
    }
    return found;
  }

 private:
  uint64_t varint() {
    uint64_t value = 0;
    for (int shift = 0; pos_ < end_; shift += 7) {
      const uint8_t b = static_cast<uint8_t>(bytes_[pos_++]);
      value |= static_cast<uint64_t>(b & 0x7f) << shift;
      if ((b & 0x80) == 0) break;
    }
    return value;
  }

  const std::string& bytes_;
  uint32_t pos_, end_;
};

constexpr uint32_t kFileMessageType = 4;
constexpr uint32_t kFileEnumType = 5;
constexpr uint32_t kFileService = 6;
constexpr uint32_t kMessageNestedType = 3;

// ------------------------------------------------------------- emission

// Interned pools: each distinct string or integer once, by first use.
template <typename T>
class Pool {
 public:
  int id(const T& value) {
    auto [it, inserted] = index_.emplace(value, static_cast<int>(items_.size()));
    if (inserted) items_.push_back(value);
    return it->second;
  }
  const std::vector<T>& items() const { return items_; }

 private:
  std::map<T, int> index_;
  std::vector<T> items_;
};

// One row of a generated array: its fields, and the name of what it stands
// for, written as a comment after it.
struct Row {
  std::vector<std::string> fields;
  std::string what;
};

// Writes `const Type name[] = {rows}`; an array with no rows gets one row of
// `empty` zeros, since C++ has no empty arrays (the count says 0).
void write_rows(std::ostream& out, const char* type, const char* name,
                const std::vector<Row>& rows, size_t empty) {
  out << "constexpr " << type << " " << name << "[] = {\n";
  for (const Row& row : rows) {
    std::string text;
    for (const std::string& f : row.fields) text += (text.empty() ? "" : ", ") + f;
    out << "    {" << text << "},  // " << row.what << "\n";
  }
  if (rows.empty()) {
    out << "    {";
    for (size_t i = 0; i < empty; ++i) out << (i ? ", " : "") << "0";
    out << "},  // none\n";
  }
  out << "};\n\n";
}

class TableWriter {
 public:
  TableWriter(const FileDescriptorProto& file, const ModuleNames& names)
      : file_(file), names_(names) {}

  bool write(const std::string& serialized, std::ostream& out, std::string* error) {
    module_name_ = strings_.id(names_.import_name);
    for (const std::string& dep : file_.dependency()) {
      ModuleNames dn;
      if (!module_names(dep, &dn, error)) return false;
      imports_.push_back({{id(dn.package), id(dn.leaf), id(dn.alias)}, dep});
    }

    const auto size = static_cast<uint32_t>(serialized.size());
    const std::vector<Range> message_ranges =
        WireReader(serialized, 0, size).entries(kFileMessageType);
    const std::vector<Range> enum_ranges = WireReader(serialized, 0, size).entries(kFileEnumType);
    const std::vector<Range> service_ranges =
        WireReader(serialized, 0, size).entries(kFileService);

    for (int i = 0; i < file_.enum_type_size(); ++i) add_enum(file_.enum_type(i), enum_ranges[i]);
    for (int i = 0; i < file_.message_type_size(); ++i) {
      const DescriptorProto& m = file_.message_type(i);
      const std::string parent = handle("", m.name());
      const Range r = message_ranges[i];
      add_message(m, m.name(), parent, r);
      const std::vector<Range> nested_ranges =
          WireReader(serialized, r.start, r.end).entries(kMessageNestedType);
      for (int k = 0; k < m.nested_type_size(); ++k) {
        const DescriptorProto& n = m.nested_type(k);
        add_message(n, m.name() + "." + n.name(), handle(parent, n.name()), nested_ranges[k]);
      }
    }
    for (int i = 0; i < file_.service_size(); ++i) {
      const std::string& name = file_.service(i).name();
      services_.push_back({{id(name), id(handle("", name)), number(service_ranges[i].start),
                            number(service_ranges[i].end)}, name});
    }
    emit(serialized, out);
    return true;
  }

 private:
  std::string id(const std::string& text) { return std::to_string(strings_.id(text)); }
  std::string number(long value) { return std::to_string(ints_.id(value)); }

  void add_enum(const EnumDescriptorProto& e, Range r) {
    const std::string name = id(e.name()), handle_id = id(handle("", e.name()));
    const size_t first = values_.size();
    for (const auto& v : e.value()) {
      values_.push_back({{id(v.name()), number(v.number())}, e.name() + "." + v.name()});
    }
    enums_.push_back({{name, handle_id, std::to_string(first),
                       std::to_string(e.value_size()), number(r.start), number(r.end)},
                      e.name()});
  }

  void add_message(const DescriptorProto& m, const std::string& path, const std::string& handle,
                   Range r) {
    messages_.push_back({{id(m.name()), id(handle), std::to_string(m.nested_type_size()),
                          m.options().map_entry() ? "true" : "false", number(r.start),
                          number(r.end)},
                         path});
  }

  void emit(const std::string& serialized, std::ostream& out) const {
    out << "// Module table of " << file_.name() << ", written by protoc-gen-ostrel.\n"
        << "#include \"message_module.h\"\n\n"
        << "namespace {\n\n"
        << "using namespace ostrel::message;\n\n";

    out << "constexpr const char* kStrings[] = {\n";
    for (const std::string& s : strings_.items()) out << "    \"" << s << "\",\n";
    out << "};\nPyObject* string_objects[" << strings_.items().size() << "];\n\n";

    out << "constexpr long kInts[] = {";
    for (size_t i = 0; i < ints_.items().size(); ++i) {
      out << (i % 12 == 0 ? "\n    " : " ") << ints_.items()[i] << ",";
    }
    out << "\n};\nPyObject* int_objects[" << ints_.items().size() << "];\n\n";

    out << "// The canonical serialized FileDescriptorProto, " << serialized.size()
        << " bytes.\nconstexpr unsigned char kDescriptor[] = {";
    static const char* hex = "0123456789abcdef";
    for (size_t i = 0; i < serialized.size(); ++i) {
      const auto b = static_cast<uint8_t>(serialized[i]);
      out << (i % 16 == 0 ? "\n    " : " ") << "0x" << hex[b >> 4] << hex[b & 15] << ",";
    }
    out << "\n};\nPyObject* descriptor_object;\n\n";

    write_rows(out, "Import", "kImports", imports_, 3);
    write_rows(out, "Enum", "kEnums", enums_, 6);
    write_rows(out, "EnumValue", "kValues", values_, 2);
    write_rows(out, "Message", "kMessages", messages_, 6);
    write_rows(out, "Service", "kServices", services_, 4);

    out << "constexpr Table kTable = {\n"
        << "    \"" << names_.leaf << "\", \"" << names_.frame_name << "\", \"" << file_.name()
        << "\", " << module_name_ << ",\n"
        << "    kStrings, string_objects, " << strings_.items().size() << ",\n"
        << "    kInts, int_objects, " << ints_.items().size() << ",\n"
        << "    kDescriptor, sizeof kDescriptor, &descriptor_object,\n"
        << "    kImports, " << imports_.size() << ",\n"
        << "    kEnums, " << enums_.size() << ", kValues,\n"
        << "    kMessages, " << messages_.size() << ",\n"
        << "    kServices, " << services_.size() << ",\n"
        << "};\n\n}  // namespace\n\n"
        << "OSTREL_MESSAGE_MODULE(" << names_.leaf << ", kTable)\n";
  }

  const FileDescriptorProto& file_;
  const ModuleNames& names_;
  Pool<std::string> strings_;
  Pool<long> ints_;
  int module_name_ = 0;
  std::vector<Row> imports_, enums_, values_, messages_, services_;
};

// ------------------------------------------------------- service table

// Writes the method table of the service module as three X-macros that
// api/service_pb2_grpc.cc expands: the names it uses, the message modules it
// imports (the service file's imports, in order) and the methods. The
// service module reaches each request and response class through the alias
// of its module, so every type must be a top-level message of an imported
// file in the service module's package.
class ServiceTableWriter {
 public:
  explicit ServiceTableWriter(const FileDescriptor& file) : file_(file) {}

  bool write(std::ostream& out, std::string* error) {
    const ServiceDescriptor& service = *file_.service(0);
    const std::string package = parent_package(service.file()->package());
    name("kServiceName", service.full_name());
    name("kStubClass", service.name() + "Stub");
    name("kServicerClass", service.name() + "Servicer");
    name("kRegister", "add_" + service.name() + "Servicer_to_server");
    name("kOneShotClass", service.name());
    name("kPackage", package);
    for (int i = 0; i < file_.dependency_count(); ++i) {
      const FileDescriptor& dep = *file_.dependency(i);
      ModuleNames dn;
      if (!module_names(dep.name(), &dn, error)) return false;
      if (dn.package != package) {
        *error = file_.name() + ": the service module imports from " + package +
                 " only, not the module of " + dep.name();
        return false;
      }
      const std::string stem = dn.leaf.substr(0, dn.leaf.size() - 4);  // without "_pb2"
      const std::string module = name("kModule_" + stem, dn.leaf);
      const std::string alias = name("kAlias_" + stem, dn.alias);
      aliases_[&dep] = alias;
      imports_.push_back("X(" + module + ", " + alias + ")  /* " + dep.name() + " */");
    }
    for (int i = 0; i < service.method_count(); ++i) {
      const MethodDescriptor& method = *service.method(i);
      std::string request, response;
      name("kMethod_" + method.name(), method.name());
      if (!message_class(method, *method.input_type(), &request, error) ||
          !message_class(method, *method.output_type(), &response, error)) {
        return false;
      }
      methods_.push_back("/* " + method.name() + ": " + method.input_type()->full_name() +
                         " -> " + method.output_type()->full_name() + " */");
      const std::string id = name("kMethod_" + method.name(), method.name());
      methods_.push_back("X(" + id + ", " + request + ", " + response + ")");
    }
    emit(service, out);
    return true;
  }

 private:
  static std::string parent_package(const std::string& package) {
    const size_t dot = package.rfind('.');
    return dot == std::string::npos ? "" : package.substr(0, dot);
  }

  // Records one name of the table under `id` (once) and returns the id.
  std::string name(const std::string& id, const std::string& text) {
    if (ids_.insert(id).second) names_.push_back("X(" + id + ", \"" + text + "\")");
    return id;
  }

  // "<alias id>, <class id>" of a method's request or response type.
  bool message_class(const MethodDescriptor& method, const Descriptor& type, std::string* row,
                     std::string* error) {
    const auto alias = aliases_.find(type.file());
    if (type.containing_type() != nullptr || alias == aliases_.end()) {
      *error = file_.name() + ": method " + method.name() + " uses " + type.full_name() +
               "; the service module reaches only top-level messages of imported files";
      return false;
    }
    *row = alias->second + ", " + name("kClass_" + type.name(), type.name());
    return true;
  }

  // #define <macro>(X) with one row per line, continuation marks aligned.
  static void macro(std::ostream& out, const std::string& head,
                    const std::vector<std::string>& rows) {
    size_t width = head.size();
    for (const std::string& r : rows) width = std::max(width, r.size() + 2);
    out << head << std::string(width - head.size() + 1, ' ') << "\\\n";
    for (size_t i = 0; i < rows.size(); ++i) {
      out << "  " << rows[i];
      if (i + 1 < rows.size()) out << std::string(width - rows[i].size() - 1, ' ') << "\\";
      out << "\n";
    }
  }

  void emit(const ServiceDescriptor& service, std::ostream& out) const {
    out << "// Method table of the service module " << service_module_name(service.file()->package())
        << ",\n// from the service " << service.full_name() << " of " << file_.name() << ".\n"
        << "#pragma once\n\n"
        << "// The names the table uses: X(id, text).\n";
    macro(out, "#define OSTREL_SERVICE_TABLE_NAMES(X)", names_);
    out << "\n// The message modules, imported from kPackage after grpc in this order:\n"
        << "// X(module, alias).\n";
    macro(out, "#define OSTREL_SERVICE_IMPORTS(X)", imports_);
    out << "\n// The methods in declaration order: X(method, request alias, request class,\n"
        << "// response alias, response class).\n";
    macro(out, "#define OSTREL_SERVICE_METHODS(X)", methods_);
  }

  const FileDescriptor& file_;
  std::set<std::string> ids_;
  std::vector<std::string> names_, imports_, methods_;
  std::map<const FileDescriptor*, std::string> aliases_;
};

void clear_json_names(DescriptorProto& message) {
  for (FieldDescriptorProto& field : *message.mutable_field()) field.clear_json_name();
  for (DescriptorProto& nested : *message.mutable_nested_type()) clear_json_names(nested);
}

void clear_json_names(FileDescriptorProto& file) {
  for (DescriptorProto& message : *file.mutable_message_type()) clear_json_names(message);
}

// Writes one output file through a printer on the stream that protoc hands
// out; false with `error` set when the stream fails.
bool write_file(GeneratorContext* context, const std::string& path, const std::string& body,
                std::string* error) {
  std::unique_ptr<google::protobuf::io::ZeroCopyOutputStream> stream(context->Open(path));
  google::protobuf::io::Printer printer(stream.get(), '$');
  printer.WriteRaw(body.data(), static_cast<int>(body.size()));
  if (printer.failed()) {
    *error = path + ": writing the output failed";
    return false;
  }
  return true;
}

// Import names of the file's module and of the modules of its imports (the
// file itself has passed module_names already, and so have its imports when
// the table was written).
ostrel::stubs::ImportNames import_names(const FileDescriptor& file) {
  ostrel::stubs::ImportNames names;
  std::string unused;
  for (int i = -1; i < file.dependency_count(); ++i) {
    const FileDescriptor& f = i < 0 ? file : *file.dependency(i);
    ModuleNames n;
    if (module_names(f.name(), &n, &unused)) names[f.name()] = n.import_name;
  }
  return names;
}

class Generator : public google::protobuf::compiler::CodeGenerator {
 public:
  bool Generate(const FileDescriptor* file, const std::string& parameter,
                GeneratorContext* context, std::string* error) const override {
    ModuleNames names;
    if (!module_names(file->name(), &names, error)) return false;

    // The canonical form: no source info (CopyTo leaves it out) and no JSON
    // names (protoc hands every field one; the runtime derives its own).
    FileDescriptorProto proto;
    file->CopyTo(&proto);
    clear_json_names(proto);
    if (!Validator(proto, error).check()) return false;
    std::string serialized;
    if (!proto.SerializeToString(&serialized)) {
      *error = file->name() + ": the descriptor does not serialize";
      return false;
    }

    // Every output is made before any is written, so a refused file leaves
    // nothing behind.
    std::vector<std::pair<std::string, std::string>> outputs;
    std::ostringstream table;
    if (!TableWriter(proto, names).write(serialized, table, error)) return false;
    const std::string stem = replace_all(names.import_name, ".", "/");
    outputs.emplace_back(stem + ".cc", table.str());
    outputs.emplace_back(stem + ".pyi", ostrel::stubs::module_stub(*file, import_names(*file)));
    if (file->service_count() > 0) {
      std::ostringstream service_table;
      if (!ServiceTableWriter(*file).write(service_table, error)) return false;
      const std::string service_module = service_module_name(file->package());
      const std::string service_stem = replace_all(service_module, ".", "/");
      outputs.emplace_back(service_stem + "_table.h", service_table.str());
      outputs.emplace_back(service_stem + ".pyi",
                           ostrel::stubs::service_stub(*file->service(0), service_module,
                                                       import_names(*file)));
    }
    if (parameter == ostrel::reference::kParameter) {
      std::vector<const FileDescriptor*> run;
      context->ListParsedFiles(&run);
      for (const auto& page : ostrel::reference::pages(*file, run)) {
        outputs.emplace_back(page.path, page.text);
      }
    }
    for (const auto& [path, body] : outputs) {
      if (!write_file(context, path, body, error)) return false;
    }
    return true;
  }
};

}  // namespace

int main(int argc, char* argv[]) {
  Generator generator;
  return google::protobuf::compiler::PluginMain(argc, argv, &generator);
}
