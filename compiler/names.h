// How the schema compiler names things in Python: the keyword set, the
// module names of a schema file and the descriptor handle names. Shared by
// the module tables (protoc_gen_ostrel.cc) and the typing stubs (stubs.cc).
#ifndef OSTREL_COMPILER_NAMES_H_
#define OSTREL_COMPILER_NAMES_H_

#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace ostrel {
namespace names {

// Words Python cannot take as attribute, parameter or module names.
inline bool is_python_keyword(const std::string& s) {
  static const std::set<std::string> words = {
      "False", "None", "True", "and", "as", "assert", "async", "await",
      "break", "class", "continue", "def", "del", "elif", "else", "except",
      "finally", "for", "from", "global", "if", "import", "in", "is",
      "lambda", "nonlocal", "not", "or", "pass", "raise", "return", "try",
      "while", "with", "yield"};
  return words.count(s) > 0;
}

// An ASCII Python identifier that is no keyword.
inline bool is_identifier(const std::string& s) {
  if (s.empty() || (s[0] >= '0' && s[0] <= '9')) return false;
  for (char c : s) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                    (c >= '0' && c <= '9') || c == '_';
    if (!ok) return false;
  }
  return !is_python_keyword(s);
}

inline std::string replace_all(std::string s, const std::string& from, const std::string& to) {
  for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) {
    s.replace(at, from.size(), to);
  }
  return s;
}

// ASCII letters upper-cased, everything else kept.
inline std::string upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

// The first letter upper-cased: "pullSystemState" -> "PullSystemState".
inline std::string capitalized(std::string s) {
  if (!s.empty()) s[0] = upper(s.substr(0, 1))[0];
  return s;
}

// The attribute that holds a type's descriptor: "_" and the name in upper
// case, a nested type's behind its parent's ("_WORKSPACECONFIG_ROBOTSENTRY").
inline std::string handle(const std::string& parent_handle, const std::string& name) {
  return parent_handle + "_" + upper(name);
}

// How a schema file path maps to Python names:
// "ostrel/api/motion.proto" -> package "ostrel.api", leaf "motion_pb2",
// alias "ostrel_dot_api_dot_motion__pb2", frame name "api.motion_pb2".
struct ModuleNames {
  std::string package, leaf, import_name, alias, frame_name;
};

// False with `error` set when the path gives no safe Python module name.
inline bool module_names(const std::string& path, ModuleNames* out, std::string* error) {
  const std::string suffix = ".proto";
  if (path.size() <= suffix.size() ||
      path.compare(path.size() - suffix.size(), suffix.size(), suffix) != 0) {
    *error = path + ": a schema file name must end in .proto";
    return false;
  }
  std::vector<std::string> parts;
  std::istringstream in(replace_all(path.substr(0, path.size() - suffix.size()), "-", "_"));
  for (std::string part; std::getline(in, part, '/');) parts.push_back(part);
  if (parts.size() < 2) {
    *error = path + ": a schema file must lie in a package directory";
    return false;
  }
  parts.back() += "_pb2";
  for (const std::string& part : parts) {
    if (!is_identifier(part)) {
      *error = path + ": '" + part + "' is not a safe Python module name";
      return false;
    }
  }
  out->leaf = parts.back();
  out->package.clear();
  out->frame_name.clear();
  for (size_t i = 0; i + 1 < parts.size(); ++i) out->package += (i ? "." : "") + parts[i];
  for (size_t i = 1; i < parts.size(); ++i) out->frame_name += (i > 1 ? "." : "") + parts[i];
  out->import_name = out->package + "." + out->leaf;
  out->alias = replace_all(replace_all(out->import_name, "_", "__"), ".", "_dot_");
  return true;
}

}  // namespace names
}  // namespace ostrel

#endif  // OSTREL_COMPILER_NAMES_H_
