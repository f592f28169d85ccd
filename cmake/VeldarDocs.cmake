# The API reference: `cmake --build <build> --target docs` runs Doxygen over
# the public headers (docs/Doxyfile.in) into <build>/docs/html/. Where Doxygen
# is missing the target only says it is skipped. With VELDAR_WERROR a Doxygen
# warning fails the target, as CI builds it (.ci/run). The target is never
# part of the default build.
find_package(Doxygen QUIET)
if(NOT DOXYGEN_FOUND)
  message(STATUS "Doxygen not found: the target docs will say it is skipped")
  add_custom_target(docs
    COMMAND ${CMAKE_COMMAND} -E echo "docs: skipped, Doxygen not found (Debian: apt-get install doxygen)"
    VERBATIM)
  return()
endif()

set(VELDAR_DOCS_DIR "${PROJECT_BINARY_DIR}/docs")
set(VELDAR_DOCS_HEADERS "")
foreach(header IN LISTS VELDAR_HEADERS)
  string(APPEND VELDAR_DOCS_HEADERS " ${PROJECT_SOURCE_DIR}/${header}")
endforeach()
string(APPEND VELDAR_DOCS_HEADERS " ${VELDAR_GENERATED_INCLUDE_DIR}/veldar/version.h")
set(VELDAR_DOXYGEN_WARN_AS_ERROR NO)
if(VELDAR_WERROR)
  # Doxygen 1.9.4 and later report every warning before failing; an older one
  # stops at the first.
  if(DOXYGEN_VERSION VERSION_LESS 1.9.4)
    set(VELDAR_DOXYGEN_WARN_AS_ERROR YES)
  else()
    set(VELDAR_DOXYGEN_WARN_AS_ERROR FAIL_ON_WARNINGS)
  endif()
endif()
configure_file("${PROJECT_SOURCE_DIR}/docs/Doxyfile.in" "${VELDAR_DOCS_DIR}/Doxyfile" @ONLY)
add_custom_target(docs
  COMMAND Doxygen::doxygen "${VELDAR_DOCS_DIR}/Doxyfile"
  COMMAND ${CMAKE_COMMAND} -E echo "API reference: ${VELDAR_DOCS_DIR}/html/index.html"
  WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}"
  COMMENT "Doxygen: the API reference from the public headers"
  VERBATIM)
