// Writes the API reference. Each schema file gets a page with its services,
// messages (one table of fields each) and enums (one table of values each),
// all with their schema comments; the index lists the files and every type.
// A type name links to the heading of its definition, on the page of the
// file that holds it, and every type lists the fields that use it. Pages are
// written only for files the plugin accepts: no nested enums, no 'optional'.

#include "reference.h"

#include <google/protobuf/descriptor.h>
#include <google/protobuf/descriptor.pb.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace ostrel {
namespace reference {

const char kParameter[] = "reference";

namespace {

using google::protobuf::Descriptor;
using google::protobuf::EnumDescriptor;
using google::protobuf::FieldDescriptor;
using google::protobuf::FileDescriptor;
using google::protobuf::FileDescriptorProto;
using google::protobuf::MethodDescriptor;
using google::protobuf::ServiceDescriptor;
using google::protobuf::SourceLocation;

// Where the pages go, relative to the plugin's output directory.
const char kDirectory[] = "docs/api/";
const char kIndex[] = "README.md";
const char kWellKnownPrefix[] = "google/protobuf/";
const char kWellKnownDocs[] = "https://protobuf.dev/reference/protobuf/google.protobuf/#";

// ------------------------------------------------------------ comment text

// The lines of a schema comment (leading, else trailing), each trimmed; an
// empty line separates paragraphs.
std::vector<std::string> comment_lines(const SourceLocation& location) {
  const std::string& raw =
      location.leading_comments.empty() ? location.trailing_comments : location.leading_comments;
  std::vector<std::string> lines;
  std::istringstream in(raw);
  for (std::string line; std::getline(in, line);) {
    const size_t first = line.find_first_not_of(" \t");
    lines.push_back(first == std::string::npos
                        ? ""
                        : line.substr(first, line.find_last_not_of(" \t\r") - first + 1));
  }
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

// Comment text made safe for Markdown prose and table cells: a table cell
// ends at `|`, and `*` or `<` in plain words would start emphasis or HTML.
std::string escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '|' || c == '*') {
      out += '\\';
      out += c;
    } else if (c == '<') {
      out += "&lt;";
    } else {
      out += c;
    }
  }
  return out;
}

// The comment as Markdown paragraphs, separated by blank lines.
std::string paragraphs(const std::vector<std::string>& lines) {
  std::string out, paragraph;
  for (size_t i = 0; i <= lines.size(); ++i) {
    if (i == lines.size() || lines[i].empty()) {
      if (!paragraph.empty()) out += escape(paragraph) + "\n\n";
      paragraph.clear();
    } else {
      paragraph += (paragraph.empty() ? "" : " ") + lines[i];
    }
  }
  return out;
}

// The comment on one line, for a table cell.
std::string cell(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) {
    if (!line.empty()) out += (out.empty() ? "" : " ") + line;
  }
  return escape(out);
}

template <typename D>
std::vector<std::string> comment(const D& descriptor) {
  SourceLocation location;
  return descriptor.GetSourceLocation(&location) ? comment_lines(location)
                                                 : std::vector<std::string>();
}

// A file's own comment stands above its syntax statement.
std::vector<std::string> file_comment(const FileDescriptor& file) {
  SourceLocation location;
  return file.GetSourceLocation({FileDescriptorProto::kSyntaxFieldNumber}, &location)
             ? comment_lines(location)
             : std::vector<std::string>();
}

// --------------------------------------------------------- names and links

std::string page_of(const FileDescriptor& file) {
  std::string name = file.name().substr(file.name().rfind('/') + 1);
  return name.substr(0, name.rfind('.')) + ".md";
}

// The name of a type inside its package: "WorkspaceConfig.RobotsEntry".
std::string relative_name(const std::string& full_name, const FileDescriptor& file) {
  return file.package().empty() ? full_name : full_name.substr(file.package().size() + 1);
}

// The anchor that a Markdown renderer gives the heading "### <name>":
// lower case, with the dots of nested names dropped.
std::string anchor(const std::string& heading) {
  std::string out;
  for (char c : heading) {
    if (c >= 'A' && c <= 'Z') {
      out += static_cast<char>(c - 'A' + 'a');
    } else if (c != '.') {
      out += c;
    }
  }
  return out;
}

bool is_map_entry(const Descriptor& message) { return message.options().map_entry(); }

class Site {
 public:
  explicit Site(const std::vector<const FileDescriptor*>& run) : run_(run) {
    for (const FileDescriptor* f : run_) {
      for (int i = 0; i < f->message_type_count(); ++i) collect_uses(*f->message_type(i));
    }
  }

  const std::vector<const FileDescriptor*>& files() const { return run_; }

  bool has_page(const FileDescriptor& file) const {
    return std::find(run_.begin(), run_.end(), &file) != run_.end();
  }

  // A link to the definition of a type of `file`, from the page of `from`
  // (the index when null). Types of the page's own package go by their
  // relative names.
  std::string link(const std::string& full_name, const FileDescriptor& file,
                   const FileDescriptor* from) const {
    const std::string relative = relative_name(full_name, file);
    const std::string shown =
        from == nullptr || file.package() == from->package() ? relative : full_name;
    if (has_page(file)) {
      const std::string page = &file == from ? "" : page_of(file);
      return "[" + shown + "](" + page + "#" + anchor(relative) + ")";
    }
    if (file.name().compare(0, sizeof(kWellKnownPrefix) - 1, kWellKnownPrefix) == 0) {
      return "[" + shown + "](" + kWellKnownDocs + anchor(relative) + ")";
    }
    return "`" + shown + "`";
  }

  // Where the type of `full_name` is used: links to the messages, with the
  // field names.
  std::string uses(const std::string& full_name, const FileDescriptor& from) const {
    auto found = uses_.find(full_name);
    if (found == uses_.end()) return "";
    std::string out;
    for (const FieldDescriptor* field : found->second) {
      const Descriptor& owner = *field->containing_type();
      const std::string relative = relative_name(owner.full_name(), *owner.file());
      const std::string page = owner.file() == &from ? "" : page_of(*owner.file());
      out += std::string(out.empty() ? "" : ", ") + "[" +
             (owner.file()->package() == from.package() ? relative : owner.full_name()) + "." +
             field->name() + "](" + page + "#" + anchor(relative) + ")";
    }
    return out;
  }

 private:
  // A map field uses its value type; its entry message is not shown.
  void collect_uses(const Descriptor& message) {
    if (is_map_entry(message)) return;
    for (int i = 0; i < message.field_count(); ++i) {
      const FieldDescriptor* field = message.field(i);
      const FieldDescriptor* typed = field->is_map() ? field->message_type()->map_value() : field;
      if (typed->message_type() != nullptr) {
        uses_[typed->message_type()->full_name()].push_back(field);
      } else if (typed->enum_type() != nullptr) {
        uses_[typed->enum_type()->full_name()].push_back(field);
      }
    }
    for (int i = 0; i < message.nested_type_count(); ++i) collect_uses(*message.nested_type(i));
  }

  const std::vector<const FileDescriptor*>& run_;
  std::map<std::string, std::vector<const FieldDescriptor*>> uses_;
};

// ------------------------------------------------------------ file pages

class FilePage {
 public:
  FilePage(const FileDescriptor& file, const Site& site) : file_(file), site_(site) {}

  std::string write() {
    out_ << "# " << file_.name() << "\n\n"
         << "Package `" << file_.package() << "`. [All schema files](" << kIndex << ")\n\n"
         << paragraphs(file_comment(file_));
    write_imports();
    if (file_.service_count() > 0) out_ << "## Services\n\n";
    for (int i = 0; i < file_.service_count(); ++i) write_service(*file_.service(i));
    if (file_.message_type_count() > 0) out_ << "## Messages\n\n";
    for (int i = 0; i < file_.message_type_count(); ++i) write_message(*file_.message_type(i));
    if (file_.enum_type_count() > 0) out_ << "## Enums\n\n";
    for (int i = 0; i < file_.enum_type_count(); ++i) write_enum(*file_.enum_type(i));
    std::string text = out_.str();
    text.pop_back();  // one newline at the end, not a blank line
    return text;
  }

 private:
  std::string file_link(const FileDescriptor& file) const {
    return site_.has_page(file) ? "[" + file.name() + "](" + page_of(file) + ")"
                                : "`" + file.name() + "`";
  }

  void write_imports() {
    std::string imports, users;
    for (int i = 0; i < file_.dependency_count(); ++i) {
      imports += std::string(imports.empty() ? "" : ", ") + file_link(*file_.dependency(i));
    }
    for (const FileDescriptor* f : site_.files()) {
      for (int i = 0; i < f->dependency_count(); ++i) {
        if (f->dependency(i) != &file_) continue;
        users += std::string(users.empty() ? "" : ", ") + file_link(*f);
      }
    }
    if (!imports.empty()) out_ << "Imports " << imports << ".\n";
    if (!users.empty()) out_ << "Imported by " << users << ".\n";
    if (!imports.empty() || !users.empty()) out_ << "\n";
  }

  std::string type_of(const FieldDescriptor& field) const {
    if (field.is_map()) {
      return "map&lt;" + type_of(*field.message_type()->map_key()) + ", " +
             type_of(*field.message_type()->map_value()) + "&gt;";
    }
    if (field.message_type() != nullptr) {
      return site_.link(field.message_type()->full_name(), *field.message_type()->file(), &file_);
    }
    if (field.enum_type() != nullptr) {
      return site_.link(field.enum_type()->full_name(), *field.enum_type()->file(), &file_);
    }
    return field.type_name();
  }

  static std::string label_of(const FieldDescriptor& field) {
    if (field.is_map()) return "map";
    if (field.is_repeated()) return "repeated";
    const auto* oneof = field.containing_oneof();
    return oneof == nullptr ? "singular" : "oneof `" + oneof->name() + "`";
  }

  void write_uses(const std::string& full_name) {
    const std::string uses = site_.uses(full_name, file_);
    if (!uses.empty()) out_ << "Used by " << uses << ".\n\n";
  }

  void write_service(const ServiceDescriptor& service) {
    out_ << "### " << service.name() << "\n\n"
         << paragraphs(comment(service)) << "| Method | Request | Response | Description |\n"
         << "|---|---|---|---|\n";
    for (int i = 0; i < service.method_count(); ++i) {
      const MethodDescriptor& method = *service.method(i);
      out_ << "| `" << method.name() << "` | "
           << site_.link(method.input_type()->full_name(), *method.input_type()->file(), &file_)
           << " | "
           << site_.link(method.output_type()->full_name(), *method.output_type()->file(), &file_)
           << " | " << cell(comment(method)) << " |\n";
    }
    out_ << "\n";
  }

  void write_message(const Descriptor& message) {
    if (is_map_entry(message)) return;
    out_ << "### " << relative_name(message.full_name(), file_) << "\n\n"
         << paragraphs(comment(message));
    if (message.field_count() == 0) {
      out_ << "No fields.\n\n";
    } else {
      out_ << "| No. | Field | Type | Label | Description |\n|---|---|---|---|---|\n";
      for (int i = 0; i < message.field_count(); ++i) {
        const FieldDescriptor& field = *message.field(i);
        out_ << "| " << field.number() << " | `" << field.name() << "` | " << type_of(field)
             << " | " << label_of(field) << " | " << cell(comment(field)) << " |\n";
      }
      out_ << "\n";
    }
    for (int i = 0; i < message.oneof_decl_count(); ++i) {
      const std::string text = cell(comment(*message.oneof_decl(i)));
      if (!text.empty()) {
        out_ << "oneof `" << message.oneof_decl(i)->name() << "`: " << text << "\n\n";
      }
    }
    write_uses(message.full_name());
    for (int i = 0; i < message.nested_type_count(); ++i) write_message(*message.nested_type(i));
  }

  void write_enum(const EnumDescriptor& e) {
    out_ << "### " << relative_name(e.full_name(), file_) << "\n\n"
         << paragraphs(comment(e)) << "| Value | Name | Description |\n|---|---|---|\n";
    for (int i = 0; i < e.value_count(); ++i) {
      out_ << "| " << e.value(i)->number() << " | `" << e.value(i)->name() << "` | "
           << cell(comment(*e.value(i))) << " |\n";
    }
    out_ << "\n";
    write_uses(e.full_name());
  }

  const FileDescriptor& file_;
  const Site& site_;
  std::ostringstream out_;
};

// ------------------------------------------------------------------ index

// The first sentence of a comment, for the index.
std::string summary(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    if (line.empty()) break;
    text += (text.empty() ? "" : " ") + line;
  }
  const size_t end = text.find(". ");
  return escape(end == std::string::npos ? text : text.substr(0, end + 1));
}

struct TypeRow {
  std::string sort_key, row;
};

// One row of the index's type table; rows sort by the name in the package.
template <typename D>
TypeRow type_row(const D& type, const char* kind, const Site& site) {
  const FileDescriptor& file = *type.file();
  return {relative_name(type.full_name(), file) + " " + type.full_name(),
          "| " + site.link(type.full_name(), file, nullptr) + " | " + kind + " | `" +
              file.package() + "` | " + summary(comment(type)) + " |"};
}

void collect_types(const Descriptor& message, const Site& site, std::vector<TypeRow>* rows) {
  if (is_map_entry(message)) return;
  rows->push_back(type_row(message, "message", site));
  for (int i = 0; i < message.nested_type_count(); ++i) {
    collect_types(*message.nested_type(i), site, rows);
  }
}

std::vector<TypeRow> type_rows(const FileDescriptor& file, const Site& site) {
  std::vector<TypeRow> rows;
  for (int i = 0; i < file.service_count(); ++i) {
    rows.push_back(type_row(*file.service(i), "service", site));
  }
  for (int i = 0; i < file.message_type_count(); ++i) {
    collect_types(*file.message_type(i), site, &rows);
  }
  for (int i = 0; i < file.enum_type_count(); ++i) {
    rows.push_back(type_row(*file.enum_type(i), "enum", site));
  }
  return rows;
}

std::string index_page(const Site& site) {
  std::ostringstream out;
  out << "# API reference\n\n"
      << "The messages, enums and services of the API, one page per schema file, "
         "written from the schema files and their comments. Field names carry units "
         "as suffixes: `_s` seconds, `_ns` nanoseconds, `_m` metres, `_fps` frames "
         "per second, `_ior` index of refraction. Scalar and enum fields that were never "
         "set read as 0, false, the empty string or the enum value numbered 0.\n\n"
      << "## Schema files\n\n| File | Package | Description |\n|---|---|---|\n";
  std::vector<const FileDescriptor*> files = site.files();
  std::sort(files.begin(), files.end(),
            [](const FileDescriptor* a, const FileDescriptor* b) { return a->name() < b->name(); });
  std::vector<TypeRow> types;
  for (const FileDescriptor* f : files) {
    out << "| [" << f->name() << "](" << page_of(*f) << ") | `" << f->package() << "` | "
        << summary(file_comment(*f)) << " |\n";
    const std::vector<TypeRow> rows = type_rows(*f, site);
    types.insert(types.end(), rows.begin(), rows.end());
  }
  std::sort(types.begin(), types.end(),
            [](const TypeRow& a, const TypeRow& b) { return a.sort_key < b.sort_key; });
  out << "\n## All types\n\n| Type | Kind | Package | Description |\n|---|---|---|---|\n";
  for (const TypeRow& t : types) out << t.row << "\n";
  return out.str();
}

}  // namespace

std::vector<Page> pages(const FileDescriptor& file, const std::vector<const FileDescriptor*>& run) {
  const Site site(run);
  std::vector<Page> out = {{kDirectory + page_of(file), FilePage(file, site).write()}};
  if (!run.empty() && run.back() == &file) {
    out.push_back({kDirectory + std::string(kIndex), index_page(site)});
  }
  return out;
}

}  // namespace reference
}  // namespace ostrel
