# Generated from the schema files by tools/regenerate.sh. Do not edit.
# Typing stub of ostrel.api.ostrel_service_pb2, written by protoc-gen-ostrel from
# ostrel/api/ostrel_service.proto.

import google.protobuf.descriptor

DESCRIPTOR: google.protobuf.descriptor.FileDescriptor
