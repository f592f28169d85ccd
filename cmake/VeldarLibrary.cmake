# The library's targets. The sources are compiled once, into an object
# library, and every library of them links those objects:
#   veldar_add_objects(<name>) makes an object library of VELDAR_SOURCES with
#     every setting their compilation needs: the public headers and the
#     generated ones are its include path, src/ stays private.
#   veldar_add_library(<name> [STATIC|SHARED] OBJECTS <objects>) makes a
#     library of the objects of <objects>; without a type it is static or
#     shared as BUILD_SHARED_LIBS says. The objects come in as sources
#     ($<TARGET_OBJECTS:...>), not as a linked target, so that the installed
#     export set holds the library alone.
#
# A shared library exports only what the public headers mark VELDAR_EXPORT:
# symbols are hidden by default, inline functions included, so the digit
# kernels and the log's storage (namespace VELDAR::detail in src/) stay
# internal. A static library is built the same way, so that a program which
# links it (built with CMAKE_POSITION_INDEPENDENT_CODE) into a shared object
# of its own does not re-export it.
include(GenerateExportHeader)

set(VELDAR_GENERATED_INCLUDE_DIR "${veldar_BINARY_DIR}/include")

function(veldar_add_objects name)
  list(TRANSFORM VELDAR_SOURCES PREPEND "${veldar_SOURCE_DIR}/" OUTPUT_VARIABLE sources)
  add_library(${name} OBJECT ${sources})
  target_compile_features(${name} PUBLIC cxx_std_17)
  target_include_directories(${name}
    PUBLIC "${veldar_SOURCE_DIR}/include" "${VELDAR_GENERATED_INCLUDE_DIR}"
    PRIVATE "${veldar_SOURCE_DIR}/src")
  set_target_properties(${name} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  target_link_libraries(${name} PRIVATE Threads::Threads)  # std::call_once, the report's wait
  veldar_target_defaults(${name})
endfunction()

function(veldar_add_library name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "OBJECTS" "")
  add_library(${name} ${arg_UNPARSED_ARGUMENTS} $<TARGET_OBJECTS:${arg_OBJECTS}>)
  target_compile_features(${name} PUBLIC cxx_std_17)
  target_include_directories(${name}
    PUBLIC "$<BUILD_INTERFACE:${veldar_SOURCE_DIR}/include;${VELDAR_GENERATED_INCLUDE_DIR}>"
           "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>")
  target_link_libraries(${name} PRIVATE Threads::Threads)
  veldar_target_defaults(${name})  # the sanitizers' link options
  # Objects go into a shared library only position-independent; export.h
  # keys its export attribute to veldar_EXPORTS, defined while the shared
  # library's objects are compiled.
  get_target_property(type ${name} TYPE)
  if(type STREQUAL "SHARED_LIBRARY")
    set_target_properties(${arg_OBJECTS} PROPERTIES POSITION_INDEPENDENT_CODE ON)
    target_compile_definitions(${arg_OBJECTS} PRIVATE veldar_EXPORTS)
  endif()
endfunction()

# <veldar/export.h>: VELDAR_EXPORT marks the public classes, functions and
# objects. Generated for `target`, veldar itself: in a static build the
# attribute is empty, in a shared build it makes the symbol visible.
# <veldar/version.h>: the project's version as VELDAR_VERSION_MAJOR, _MINOR,
# _PATCH, VELDAR_VERSION_STRING and VELDAR_VERSION (100 * 100 * major + 100 *
# minor + patch, which needs a minor and a patch below 100), and the
# declaration of VELDAR::version() (src/version.cpp).
function(veldar_generate_headers target)
  generate_export_header(${target}
    BASE_NAME VELDAR
    EXPORT_FILE_NAME "${VELDAR_GENERATED_INCLUDE_DIR}/veldar/export.h")
  if(veldar_VERSION_MINOR GREATER 99 OR veldar_VERSION_PATCH GREATER 99)
    message(FATAL_ERROR "VELDAR_VERSION holds a minor and a patch version below 100 only: ${veldar_VERSION}")
  endif()
  math(EXPR VELDAR_VERSION_NUMBER
    "${veldar_VERSION_MAJOR} * 10000 + ${veldar_VERSION_MINOR} * 100 + ${veldar_VERSION_PATCH}")
  configure_file("${veldar_SOURCE_DIR}/cmake/version.h.in"
    "${VELDAR_GENERATED_INCLUDE_DIR}/veldar/version.h" @ONLY)
endfunction()
