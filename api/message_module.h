// The table that the schema compiler writes for one schema file, and the
// interpreter of that table that forms the body of every message module.
//
// All names and integers are indices into the table's string and integer
// pools, which the exec step turns into interned str and int objects once.
#pragma once

#include "frame.h"

namespace ostrel::message {

using Id = uint16_t;

struct Import {
  Id package, name, alias;  // from <package> import <name> as <alias>
};

struct EnumValue {
  Id name, number;  // number indexes the integer pool
};

struct Enum {
  Id name, handle;
  Id first_value, value_count;  // slice of Table::values
  Id start, end;                // serialized range, integer pool
};

// Messages are laid out top-level first, each followed at once by its
// `nested_count` nested types (which have no nested types of their own).
struct Message {
  Id name, handle;
  Id nested_count;
  bool map_entry;
  Id start, end;
};

struct Service {
  Id name, handle;
  Id start, end;  // serialized range, integer pool
};

struct Table {
  const char* leaf;        // "common_pb2"
  const char* frame_name;  // "api.common_pb2"
  const char* source;      // "ostrel/api/common.proto"
  Id module_name;          // string id of "ostrel.api.common_pb2"
  const char* const* strings;
  PyObject** string_objects;
  size_t string_count;
  const long* ints;
  PyObject** int_objects;
  size_t int_count;
  const unsigned char* descriptor;
  size_t descriptor_size;
  PyObject** descriptor_object;
  const Import* imports;
  size_t import_count;
  const Enum* enums;
  size_t enum_count;
  const EnumValue* values;
  const Message* messages;
  size_t message_count;
  const Service* services;
  size_t service_count;
};

bool make_constants(const Table& table);
bool run_body(const Table& table, PyObject* ns);

}  // namespace ostrel::message

// The whole per-module code of a generated message module.
#define OSTREL_MESSAGE_MODULE(module_leaf, table)                                  \
  namespace {                                                               \
  bool make_module_constants() { return ostrel::message::make_constants(table); } \
  bool run_module_body(PyObject* ns) { return ostrel::message::run_body(table, ns); } \
  const ostrel::frame::Definition module_definition = {                     \
      (table).leaf, (table).frame_name, (table).source, OSTREL_BUILD_VERSION, \
      make_module_constants, run_module_body};                              \
  }                                                                         \
  OSTREL_DEFINE_MODULE(module_leaf, module_definition)
