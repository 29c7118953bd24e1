// Generated from the schema files by tools/regenerate.sh. Do not edit.
// Method table of the service module ostrel.api.service_pb2_grpc,
// from the service ostrel.api.service.Ostrel of ostrel/api/ostrel_service.proto.
#pragma once

// The names the table uses: X(id, text).
#define OSTREL_SERVICE_TABLE_NAMES(X)                   \
  X(kServiceName, "ostrel.api.service.Ostrel")          \
  X(kStubClass, "OstrelStub")                           \
  X(kServicerClass, "OstrelServicer")                   \
  X(kRegister, "add_OstrelServicer_to_server")          \
  X(kOneShotClass, "Ostrel")                            \
  X(kPackage, "ostrel.api")                             \
  X(kModule_common, "common_pb2")                       \
  X(kAlias_common, "ostrel_dot_api_dot_common__pb2")    \
  X(kModule_data, "data_pb2")                           \
  X(kAlias_data, "ostrel_dot_api_dot_data__pb2")        \
  X(kModule_project, "project_pb2")                     \
  X(kAlias_project, "ostrel_dot_api_dot_project__pb2")  \
  X(kModule_service, "service_pb2")                     \
  X(kAlias_service, "ostrel_dot_api_dot_service__pb2")  \
  X(kModule_system, "system_pb2")                       \
  X(kAlias_system, "ostrel_dot_api_dot_system__pb2")    \
  X(kMethod_connect, "connect")                         \
  X(kClass_ConnectRequest, "ConnectRequest")            \
  X(kClass_Status, "Status")                            \
  X(kMethod_pushProjectSnapshot, "pushProjectSnapshot") \
  X(kClass_ProjectSnapshot, "ProjectSnapshot")          \
  X(kMethod_pullProjectSnapshot, "pullProjectSnapshot") \
  X(kClass_GenericRequest, "GenericRequest")            \
  X(kMethod_pullSystemState, "pullSystemState")         \
  X(kClass_SystemState, "SystemState")                  \
  X(kMethod_runProgram, "runProgram")                   \
  X(kClass_ProgramRequest, "ProgramRequest")            \
  X(kMethod_pullDataRecords, "pullDataRecords")         \
  X(kClass_RecordsRequest, "RecordsRequest")            \
  X(kClass_DataRecords, "DataRecords")

// The message modules, imported from kPackage after grpc in this order:
// X(module, alias).
#define OSTREL_SERVICE_IMPORTS(X)                                    \
  X(kModule_common, kAlias_common)  /* ostrel/api/common.proto */    \
  X(kModule_data, kAlias_data)  /* ostrel/api/data.proto */          \
  X(kModule_project, kAlias_project)  /* ostrel/api/project.proto */ \
  X(kModule_service, kAlias_service)  /* ostrel/api/service.proto */ \
  X(kModule_system, kAlias_system)  /* ostrel/api/system.proto */

// The methods in declaration order: X(method, request alias, request class,
// response alias, response class).
#define OSTREL_SERVICE_METHODS(X)                                                                               \
  /* connect: ostrel.api.service.ConnectRequest -> ostrel.api.common.Status */                                  \
  X(kMethod_connect, kAlias_service, kClass_ConnectRequest, kAlias_common, kClass_Status)                       \
  /* pushProjectSnapshot: ostrel.api.project.ProjectSnapshot -> ostrel.api.common.Status */                     \
  X(kMethod_pushProjectSnapshot, kAlias_project, kClass_ProjectSnapshot, kAlias_common, kClass_Status)          \
  /* pullProjectSnapshot: ostrel.api.service.GenericRequest -> ostrel.api.project.ProjectSnapshot */            \
  X(kMethod_pullProjectSnapshot, kAlias_service, kClass_GenericRequest, kAlias_project, kClass_ProjectSnapshot) \
  /* pullSystemState: ostrel.api.service.GenericRequest -> ostrel.api.system.SystemState */                     \
  X(kMethod_pullSystemState, kAlias_service, kClass_GenericRequest, kAlias_system, kClass_SystemState)          \
  /* runProgram: ostrel.api.service.ProgramRequest -> ostrel.api.common.Status */                               \
  X(kMethod_runProgram, kAlias_service, kClass_ProgramRequest, kAlias_common, kClass_Status)                    \
  /* pullDataRecords: ostrel.api.service.RecordsRequest -> ostrel.api.data.DataRecords */                       \
  X(kMethod_pullDataRecords, kAlias_service, kClass_RecordsRequest, kAlias_data, kClass_DataRecords)
