# The module frame and the rule that turns one committed module table into a
# CPython extension module. Used by the package build (CMakeLists.txt) and by
# the test fixtures (tests/fixtures/CMakeLists.txt). Needs Python's
# Development.Module component found by the caller; needs no Protobuf.

set(OSTREL_ROOT ${CMAKE_CURRENT_LIST_DIR}/..)

# Module code runs once, at import, and only calls the C API: compile it for
# size, without C++ exceptions or RTTI, and link each message module so that
# it needs nothing beyond the C runtime and maps in as few segments as
# possible. The flags are spelled per compiler; the ELF linker options apply
# only where the linker is an ELF one.
set(OSTREL_MODULE_COMPILE_OPTIONS "")
set(OSTREL_WARNING_OPTIONS "")
set(OSTREL_MODULE_LINK_OPTIONS "")
if(MSVC)
  set(OSTREL_MODULE_COMPILE_OPTIONS /O1 /EHs-c- /GR-)
  set(OSTREL_WARNING_OPTIONS /W3)
elseif(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  set(OSTREL_MODULE_COMPILE_OPTIONS -Os -fno-exceptions -fno-rtti)
  set(OSTREL_WARNING_OPTIONS -Wall -Wextra)
endif()
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang" AND NOT APPLE AND NOT WIN32)
  include(CheckLinkerFlag)
  check_linker_flag(CXX "LINKER:--as-needed" OSTREL_LINKER_AS_NEEDED)
  if(OSTREL_LINKER_AS_NEEDED)
    list(APPEND OSTREL_MODULE_LINK_OPTIONS "LINKER:--as-needed")
  endif()
  check_linker_flag(CXX "LINKER:-z,noseparate-code" OSTREL_LINKER_NOSEPARATE_CODE)
  if(OSTREL_LINKER_NOSEPARATE_CODE)
    list(APPEND OSTREL_MODULE_LINK_OPTIONS "LINKER:-z,noseparate-code")
  endif()
endif()

# The module frame shared by every module; linked into each one.
if(NOT TARGET ostrel_frame)
  add_library(ostrel_frame STATIC ${OSTREL_ROOT}/api/frame.cc ${OSTREL_ROOT}/api/message_module.cc)
  target_include_directories(ostrel_frame PUBLIC ${OSTREL_ROOT}/api)
  target_link_libraries(ostrel_frame PUBLIC Python::Module)
  target_compile_options(ostrel_frame PRIVATE ${OSTREL_WARNING_OPTIONS} ${OSTREL_MODULE_COMPILE_OPTIONS})
endif()

# ostrel_message_module(<table .cc> <install dir> [DEFINES ...])
# The module's name is the table's file name without ".cc" (motion_pb2).
function(ostrel_message_module table destination)
  cmake_parse_arguments(ARG "" "" "DEFINES" ${ARGN})
  get_filename_component(leaf "${table}" NAME_WE)
  string(REPLACE "/" "_" target "${destination}_${leaf}")
  Python_add_library(${target} MODULE WITH_SOABI "${table}")
  set_target_properties(${target} PROPERTIES OUTPUT_NAME "${leaf}")
  target_link_libraries(${target} PRIVATE ostrel_frame)
  target_compile_definitions(${target} PRIVATE ${ARG_DEFINES})
  target_compile_options(${target} PRIVATE ${OSTREL_MODULE_COMPILE_OPTIONS})
  target_link_options(${target} PRIVATE ${OSTREL_MODULE_LINK_OPTIONS})
  install(TARGETS ${target} LIBRARY DESTINATION "${destination}")
endfunction()
