// Writes the typing stub of one message module. Same-module types are named
// through private aliases (`_Status`, `_Code.ValueType`) so that no field or
// nested name in a class body can shadow them; other modules' types by their
// full import path.

#include "names.h"
#include "stubs.h"

#include <google/protobuf/descriptor.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace ostrel {
namespace stubs {
namespace {

using google::protobuf::Descriptor;
using google::protobuf::EnumDescriptor;
using google::protobuf::FieldDescriptor;
using google::protobuf::FileDescriptor;
using google::protobuf::MethodDescriptor;
using google::protobuf::ServiceDescriptor;
using google::protobuf::OneofDescriptor;
using google::protobuf::SourceLocation;
using names::capitalized;
using names::is_python_keyword;
using names::upper;

const char kContainers[] = "google.protobuf.internal.containers.";

// The base class types DESCRIPTOR as either kind of descriptor (pure Python or
// upb); a message's is the pure-Python type, which the upb one passes for.
const char kNarrowerOverride[] = "  # pyright: ignore[reportIncompatibleVariableOverride]";
// _EnumTypeWrapper is the generic base that types-protobuf provides for
// exactly this use.
const char kPrivateBase[] = "  # pyright: ignore[reportPrivateUsage]";

std::string literal(const std::vector<std::string>& names) {
  std::string out = "typing.Literal[";
  for (size_t i = 0; i < names.size(); ++i) out += (i ? ", \"" : "\"") + names[i] + "\"";
  return out + "]";
}

// A schema comment as the body of a Python docstring: trimmed, and with the
// characters that would end or escape the string made harmless.
std::string docstring_text(const std::string& comment) {
  std::string text;
  for (char c : comment) {
    if (c == '\\') {
      text += "\\\\";
    } else if (c == '"' && !text.empty() && text.back() == '"') {
      text += "\\\"";
    } else {
      text += c;
    }
  }
  const size_t first = text.find_first_not_of(" \n");
  if (first == std::string::npos) return "";
  text = text.substr(first, text.find_last_not_of(" \n") - first + 1);
  if (text.back() == '"') text += ' ';
  return text;
}

template <typename D>
std::string leading_comment(const D& descriptor) {
  SourceLocation location;
  if (!descriptor.GetSourceLocation(&location)) return "";
  return docstring_text(location.leading_comments.empty() ? location.trailing_comments
                                                          : location.leading_comments);
}

class StubWriter {
 public:
  StubWriter(const FileDescriptor& file, const ImportNames& import_names)
      : file_(file), import_names_(import_names) {}

  std::string write() {
    for (int i = 0; i < file_.enum_type_count(); ++i) write_enum(*file_.enum_type(i));
    for (int i = 0; i < file_.message_type_count(); ++i) {
      const Descriptor& message = *file_.message_type(i);
      write_message(message, "");
      body_ << "\n_" << message.name() << ": typing_extensions.TypeAlias = " << message.name()
            << "\n";
    }
    return header() + body_.str();
  }

 private:
  std::string header() const {
    const std::string& module = import_names_.at(file_.name());
    std::ostringstream out;
    out << "# Typing stub of " << module << ", written by protoc-gen-ostrel from\n"
        << "# " << file_.name() << ".\n\n";
    std::set<std::string> modules = {"google.protobuf.descriptor"};
    if (file_.message_type_count() + file_.enum_type_count() > 0) {
      modules.insert({"builtins", "typing", "typing_extensions"});
    }
    if (file_.message_type_count() > 0) modules.insert("google.protobuf.message");
    if (uses_containers_) {
      modules.insert("collections.abc");
      modules.insert("google.protobuf.internal.containers");
    }
    if (file_.enum_type_count() > 0) modules.insert("google.protobuf.internal.enum_type_wrapper");
    modules.insert(imports_.begin(), imports_.end());
    for (const std::string& m : modules) out << "import " << m << "\n";
    out << "\nDESCRIPTOR: google.protobuf.descriptor.FileDescriptor\n";
    return out.str();
  }

  // The Python path of a type relative to its module: "WorkspaceConfig.RobotsEntry".
  static std::string relative_name(const std::string& full_name, const FileDescriptor& file) {
    return file.package().empty() ? full_name : full_name.substr(file.package().size() + 1);
  }

  std::string module_of(const FileDescriptor& file) {
    const std::string& module = import_names_.at(file.name());
    imports_.insert(module);
    return module;
  }

  std::string message_reference(const Descriptor& message) {
    if (message.file() == &file_) {
      const Descriptor* top = &message;
      while (top->containing_type() != nullptr) top = top->containing_type();
      const std::string nested = relative_name(message.full_name(), file_);
      return "_" + top->name() + nested.substr(top->name().size());
    }
    return module_of(*message.file()) + "." + relative_name(message.full_name(), *message.file());
  }

  std::string enum_reference(const EnumDescriptor& e) {
    if (e.file() == &file_ && e.containing_type() == nullptr) return "_" + e.name() + ".ValueType";
    return module_of(*e.file()) + "." + relative_name(e.full_name(), *e.file()) + ".ValueType";
  }

  std::string element_type(const FieldDescriptor& field) {
    switch (field.cpp_type()) {
      case FieldDescriptor::CPPTYPE_MESSAGE:
        return message_reference(*field.message_type());
      case FieldDescriptor::CPPTYPE_ENUM:
        return enum_reference(*field.enum_type());
      case FieldDescriptor::CPPTYPE_STRING:
        return field.type() == FieldDescriptor::TYPE_BYTES ? "builtins.bytes" : "builtins.str";
      case FieldDescriptor::CPPTYPE_BOOL:
        return "builtins.bool";
      case FieldDescriptor::CPPTYPE_FLOAT:
      case FieldDescriptor::CPPTYPE_DOUBLE:
        return "builtins.float";
      default:
        return "builtins.int";
    }
  }

  // How a field reads (attribute or property type) and what __init__ takes.
  struct FieldTypes {
    std::string read, init;
    bool read_only;
  };

  FieldTypes field_types(const FieldDescriptor& field) {
    if (field.is_map()) {
      uses_containers_ = true;
      const FieldDescriptor& key = *field.message_type()->map_key();
      const FieldDescriptor& value = *field.message_type()->map_value();
      const std::string kv = element_type(key) + ", " + element_type(value);
      const bool messages = value.cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE;
      return {kContainers + std::string(messages ? "MessageMap[" : "ScalarMap[") + kv + "]",
              "collections.abc.Mapping[" + kv + "] | None", true};
    }
    const std::string element = element_type(field);
    if (field.is_repeated()) {
      uses_containers_ = true;
      const bool messages = field.cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE;
      return {kContainers + std::string(messages ? "RepeatedCompositeFieldContainer["
                                                 : "RepeatedScalarFieldContainer[") +
                  element + "]",
              "collections.abc.Iterable[" + element + "] | None", true};
    }
    // None (unset) is taken for a message field; a scalar takes a value of
    // its own type only, as mypy-protobuf 5 types it.
    const bool message = field.cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE;
    return {element, message ? element + " | None" : element, message};
  }

  void docstring(const std::string& text, const std::string& indent) {
    if (!text.empty()) body_ << indent << "\"\"\"" << text << "\"\"\"\n";
  }

  void write_enum(const EnumDescriptor& e) {
    const std::string& name = e.name();
    const std::string value_type = "_" + name + ".ValueType";
    body_ << "\nclass _" << name << ":\n"
          << "    ValueType = typing.NewType(\"ValueType\", builtins.int)\n"
          << "    V: typing_extensions.TypeAlias = ValueType\n\n"
          << "class _" << name << "EnumTypeWrapper("
          << "google.protobuf.internal.enum_type_wrapper._EnumTypeWrapper[" << value_type
          << "], builtins.type):" << kPrivateBase << "\n"
          << "    DESCRIPTOR: google.protobuf.descriptor.EnumDescriptor\n";
    for (int i = 0; i < e.value_count(); ++i) {
      body_ << "    " << e.value(i)->name() << ": " << value_type << "  # " << e.value(i)->number()
            << "\n";
    }
    body_ << "\nclass " << name << "(_" << name << ", metaclass=_" << name
          << "EnumTypeWrapper):";
    const std::string doc = leading_comment(e);
    if (doc.empty()) {
      body_ << " ...\n\n";
    } else {
      body_ << "\n";
      docstring(doc, "    ");
      body_ << "\n";
    }
    for (int i = 0; i < e.value_count(); ++i) {
      body_ << e.value(i)->name() << ": " << name << ".ValueType  # " << e.value(i)->number()
            << "\n";
    }
  }

  void write_message(const Descriptor& message, const std::string& outer) {
    const std::string in = outer + "    ";
    body_ << "\n" << outer << "@typing.final\n"
          << outer << "class " << message.name() << "(google.protobuf.message.Message):\n";
    docstring(leading_comment(message), in);
    body_ << in << "DESCRIPTOR: google.protobuf.descriptor.Descriptor" << kNarrowerOverride << "\n";
    for (int i = 0; i < message.nested_type_count(); ++i) {
      write_message(*message.nested_type(i), in);
    }
    if (message.field_count() > 0) body_ << "\n";
    for (int i = 0; i < message.field_count(); ++i) {
      body_ << in << upper(message.field(i)->name()) << "_FIELD_NUMBER: builtins.int\n";
    }

    std::vector<std::string> init_params, presence, all;
    for (int i = 0; i < message.field_count(); ++i) {
      const FieldDescriptor& field = *message.field(i);
      all.push_back(field.name());
      if (field.has_presence()) presence.push_back(field.name());
      const FieldTypes types = field_types(field);
      // Python cannot spell such a field as an attribute or parameter; the
      // runtime still reaches it through getattr and keyword dictionaries.
      if (is_python_keyword(field.name())) continue;
      if (types.read_only) {
        body_ << in << "@property\n"
              << in << "def " << field.name() << "(self) -> " << types.read << ":";
        const std::string doc = leading_comment(field);
        if (doc.empty()) {
          body_ << " ...\n";
        } else {
          body_ << "\n";
          docstring(doc, in + "    ");
        }
      } else {
        body_ << in << field.name() << ": " << types.read << "\n";
        docstring(leading_comment(field), in);
      }
      init_params.push_back(field.name() + ": " + types.init + " = ...");
    }
    for (int i = 0; i < message.oneof_decl_count(); ++i) {
      presence.push_back(message.oneof_decl(i)->name());
      all.push_back(message.oneof_decl(i)->name());
    }

    if (init_params.empty()) {
      body_ << in << "def __init__(self) -> None: ...\n";
    } else {
      body_ << in << "def __init__(\n" << in << "    self,\n" << in << "    *,\n";
      for (const std::string& p : init_params) body_ << in << "    " << p << ",\n";
      body_ << in << ") -> None: ...\n";
    }
    body_ << in << "def HasField(self, field_name: " << literal_or_none(presence)
          << ") -> builtins.bool: ...\n";
    body_ << in << "def ClearField(self, field_name: " << literal_or_none(all)
          << ") -> None: ...\n";
    write_which_oneof(message, in);
  }

  // With no name to accept, the runtime refuses every call (ValueError), so
  // the stub accepts no argument at all.
  static std::string literal_or_none(const std::vector<std::string>& names) {
    return names.empty() ? "typing.NoReturn" : literal(names);
  }

  void write_which_oneof(const Descriptor& message, const std::string& in) {
    if (message.oneof_decl_count() == 0) {
      body_ << in << "def WhichOneof(self, oneof_group: typing.NoReturn) -> None: ...\n";
      return;
    }
    const bool overloaded = message.oneof_decl_count() > 1;
    for (int i = 0; i < message.oneof_decl_count(); ++i) {
      const OneofDescriptor& oneof = *message.oneof_decl(i);
      std::vector<std::string> members;
      for (int k = 0; k < oneof.field_count(); ++k) members.push_back(oneof.field(k)->name());
      if (overloaded) body_ << in << "@typing.overload\n";
      body_ << in << "def WhichOneof(self, oneof_group: " << literal({oneof.name()}) << ") -> "
            << literal(members) << " | None: ...\n";
    }
  }

  const FileDescriptor& file_;
  const ImportNames& import_names_;
  std::ostringstream body_;
  std::set<std::string> imports_;
  bool uses_containers_ = false;
};

// The parameters of a one-shot call after the request and the target, with
// their types and defaults, as grpc.experimental.unary_unary takes them.
const char* const kOneShotParameters[] = {
    "options: _ChannelOptions = ()",
    "channel_credentials: grpc.ChannelCredentials | None = None",
    "call_credentials: grpc.CallCredentials | None = None",
    "insecure: builtins.bool = False",
    "compression: grpc.Compression | None = None",
    "wait_for_ready: builtins.bool | None = None",
    "timeout: builtins.float | None = None",
    "metadata: _Metadata | None = None",
};

class ServiceStubWriter {
 public:
  ServiceStubWriter(const ServiceDescriptor& service, const std::string& module,
                    const ImportNames& import_names)
      : service_(service), module_(module), import_names_(import_names) {}

  std::string write() {
    const std::string& name = service_.name();
    for (int i = 0; i < service_.method_count(); ++i) {
      const MethodDescriptor& m = *service_.method(i);
      type_vars_.push_back("_" + capitalized(m.name()) + "T");
      request_.push_back(message(*m.input_type()));
      response_.push_back(message(*m.output_type()));
    }
    header();
    out_ << "_ChannelOptions: typing_extensions.TypeAlias = "
            "collections.abc.Sequence[tuple[builtins.str, typing.Any]]\n"
         << "_Metadata: typing_extensions.TypeAlias = collections.abc.Sequence[tuple[builtins.str, "
            "builtins.str | builtins.bytes]]\n\n";
    for (size_t i = 0; i < type_vars_.size(); ++i) {
      out_ << type_vars_[i] << " = typing_extensions.TypeVar(\n"
           << "    \"" << type_vars_[i] << "\",\n"
           << "    default=" << callable("grpc", i) << ",\n)\n";
    }
    write_client_stub(name);
    write_servicer(name);
    write_one_shot_calls(name);
    return out_.str();
  }

 private:
  std::string message(const google::protobuf::Descriptor& type) {
    const std::string& module = import_names_.at(type.file()->name());
    imports_.insert(module);
    const std::string& package = type.file()->package();
    return module + "." + (package.empty() ? type.full_name()
                                           : type.full_name().substr(package.size() + 1));
  }

  // The channel's callable of method i, of the synchronous or asyncio API.
  std::string callable(const std::string& api, size_t i) const {
    return api + ".UnaryUnaryMultiCallable[" + request_[i] + ", " + response_[i] + "]";
  }

  void header() {
    out_ << "# Typing stub of " << module_ << ", written by protoc-gen-ostrel from\n"
         << "# the service " << service_.full_name() << " of " << service_.file()->name() << ".\n"
         << "#\n"
         << "# " << service_.name() << "Stub is generic in the callables of its methods: built on a\n"
         << "# grpc.Channel each method returns its response, built on a grpc.aio.Channel\n"
         << "# each returns an awaitable call. " << service_.name()
         << "AsyncStub names the second kind for\n"
         << "# annotations only; it is no runtime attribute of the module.\n\n"
         << "import builtins\nimport collections.abc\nimport typing\n\n"
         << "import grpc\nimport grpc.aio\nimport typing_extensions\n\n";
    for (const std::string& m : imports_) out_ << "import " << m << "\n";
    out_ << "\n";
  }

  // OstrelStub[...] parameterized with every method's callable of `api`.
  void stub_of(const std::string& api, const std::string& indent) {
    out_ << service_.name() << "Stub[\n";
    for (size_t i = 0; i < type_vars_.size(); ++i) {
      out_ << indent << "    " << callable(api, i) << ",\n";
    }
    out_ << indent << "]";
  }

  void write_client_stub(const std::string& name) {
    out_ << "\nclass " << name << "Stub(typing.Generic[";
    for (size_t i = 0; i < type_vars_.size(); ++i) out_ << (i ? ", " : "") << type_vars_[i];
    out_ << "]):\n";
    const std::pair<const char*, const char*> channels[] = {{"grpc", "grpc.Channel"},
                                                            {"grpc.aio", "grpc.aio.Channel"}};
    for (const auto& [api, channel] : channels) {
      out_ << "    @typing.overload\n    def __init__(\n        self: ";
      stub_of(api, "        ");
      out_ << ",\n        channel: " << channel << ",\n    ) -> None: ...\n";
    }
    for (int i = 0; i < service_.method_count(); ++i) {
      out_ << "    " << service_.method(i)->name() << ": " << type_vars_[i] << "\n";
    }
    out_ << "\n" << name << "AsyncStub: typing_extensions.TypeAlias = ";
    stub_of("grpc.aio", "");
    out_ << "\n";
  }

  void write_servicer(const std::string& name) {
    out_ << "\n# What a servicer method is handed: the context of the synchronous server\n"
         << "# (grpc.ServicerContext) or of the asyncio server (grpc.aio.ServicerContext),\n"
         << "# so that an override may take either one.\n"
         << "@typing.type_check_only\nclass _ServicerContext(  # type: ignore[misc]\n"
         << "    grpc.ServicerContext,\n    grpc.aio.ServicerContext[typing.Any, typing.Any],\n"
         << "): ...\n\n"
         << "# The base answers every method with UNIMPLEMENTED. A subclass overrides the\n"
         << "# methods it serves, each with a plain method that returns the response (for\n"
         << "# grpc.server) or an async method (for grpc.aio.server).\n"
         << "class " << name << "Servicer:\n";
    for (int i = 0; i < service_.method_count(); ++i) {
      const MethodDescriptor& m = *service_.method(i);
      out_ << "    def " << m.name() << "(\n        self,\n        request: " << request_[i]
           << ",\n        context: _ServicerContext,\n    ) -> " << response_[i]
           << " | collections.abc.Awaitable[" << response_[i] << "]:";
      docstring_body(leading_comment(m), "        ");
    }
    out_ << "\ndef add_" << name << "Servicer_to_server(\n    servicer: " << name
         << "Servicer,\n    server: grpc.Server | grpc.aio.Server,\n) -> None: ...\n";
  }

  void write_one_shot_calls(const std::string& name) {
    out_ << "\n# One-shot calls through grpc.experimental.unary_unary: each sends one request\n"
         << "# to `target` and returns the response.\n"
         << "class " << name << ":\n";
    for (int i = 0; i < service_.method_count(); ++i) {
      out_ << "    @staticmethod\n    def " << service_.method(i)->name()
           << "(\n        request: " << request_[i] << ",\n        target: builtins.str,\n";
      for (const char* parameter : kOneShotParameters) out_ << "        " << parameter << ",\n";
      out_ << "    ) -> " << response_[i] << ":";
      docstring_body(leading_comment(*service_.method(i)), "        ");
    }
  }

  // The end of a def: " ..." or, with a comment, its docstring as the body.
  void docstring_body(const std::string& doc, const std::string& indent) {
    if (doc.empty()) {
      out_ << " ...\n";
    } else {
      out_ << "\n" << indent << "\"\"\"" << doc << "\"\"\"\n";
    }
  }

  const ServiceDescriptor& service_;
  const std::string& module_;
  const ImportNames& import_names_;
  std::ostringstream out_;
  std::set<std::string> imports_;
  std::vector<std::string> type_vars_, request_, response_;
};

}  // namespace

std::string service_stub(const ServiceDescriptor& service, const std::string& module,
                         const ImportNames& import_names) {
  return ServiceStubWriter(service, module, import_names).write();
}

std::string module_stub(const FileDescriptor& file, const ImportNames& import_names) {
  return StubWriter(file, import_names).write();
}

}  // namespace stubs
}  // namespace ostrel
