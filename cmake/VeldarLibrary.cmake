# The library's targets. veldar_add_library(<name> [STATIC|SHARED]) makes a
# library of VELDAR_SOURCES with every setting the library needs; without a
# type it is static or shared as BUILD_SHARED_LIBS says. The public headers
# and the generated ones are its include path; src/ stays private.
#
# A shared library exports only what the public headers mark VELDAR_EXPORT:
# symbols are hidden by default, inline functions included, so the digit
# kernels and the log's storage (namespace VELDAR::detail in src/) stay
# internal. A static library is built the same way, so that a program which
# links it (built with CMAKE_POSITION_INDEPENDENT_CODE) into a shared object
# of its own does not re-export it.
include(GenerateExportHeader)

set(VELDAR_GENERATED_INCLUDE_DIR "${veldar_BINARY_DIR}/include")

function(veldar_add_library name)
  list(TRANSFORM VELDAR_SOURCES PREPEND "${veldar_SOURCE_DIR}/" OUTPUT_VARIABLE sources)
  add_library(${name} ${ARGN} ${sources})
  target_compile_features(${name} PUBLIC cxx_std_17)
  target_include_directories(${name}
    PUBLIC "$<BUILD_INTERFACE:${veldar_SOURCE_DIR}/include;${VELDAR_GENERATED_INCLUDE_DIR}>"
           "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>"
    PRIVATE "${veldar_SOURCE_DIR}/src")
  set_target_properties(${name} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    # export.h keys its export attribute to this symbol, defined while the
    # shared library is compiled.
    DEFINE_SYMBOL veldar_EXPORTS)
  target_link_libraries(${name} PRIVATE Threads::Threads)  # std::call_once, the report's wait
  veldar_target_defaults(${name})
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
