# cmake --install puts the headers under include/veldar/, the library (static,
# or shared with its version links), and a CMake package so that another
# project can write
#   find_package(veldar 0.1 CONFIG REQUIRED)
#   target_link_libraries(app PRIVATE veldar::veldar)
# Only when VELDAR_INSTALL is ON (CMakeLists.txt): by default only when veldar
# is the top-level project.
#
# Every file belongs to one of three components, which the Debian packages
# follow (VeldarPackage.cmake); a plain cmake --install puts them all:
#   runtime      the versioned shared library, libveldar.so.<version> and its
#                soname link libveldar.so.<major>.<minor>: what a program
#                built against veldar needs to run
#   development  what a build needs: the headers, the link libveldar.so (or
#                the static libveldar.a), the CMake package and veldar.pc
#   license      the license as share/doc/veldar/copyright; the Debian
#                packages carry it in their own doc folders instead
include(CMakePackageConfigHelpers)

set(VELDAR_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/veldar")

# Debian's policy wants shared libraries not executable (lintian:
# shared-library-is-executable); elsewhere they keep CMake's 0755, which rpm's
# debug information tools look for.
set(library_permissions "")
if(EXISTS "/etc/debian_version")
  set(library_permissions PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endif()
install(TARGETS veldar EXPORT veldarTargets
  ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT development
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT runtime NAMELINK_COMPONENT development
    ${library_permissions}
  RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT runtime)
install(FILES ${VELDAR_HEADERS} "${VELDAR_GENERATED_INCLUDE_DIR}/veldar/export.h"
  "${VELDAR_GENERATED_INCLUDE_DIR}/veldar/version.h"
  DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/veldar" COMPONENT development)
# The license, where Debian keeps it: share/doc/veldar/copyright.
install(FILES "${PROJECT_SOURCE_DIR}/LICENSE" DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/doc/veldar"
  RENAME copyright COMPONENT license)
install(EXPORT veldarTargets NAMESPACE veldar:: DESTINATION "${VELDAR_CMAKE_DIR}" COMPONENT development)

configure_package_config_file("${CMAKE_CURRENT_LIST_DIR}/veldarConfig.cmake.in"
  "${CMAKE_CURRENT_BINARY_DIR}/veldarConfig.cmake"
  INSTALL_DESTINATION "${VELDAR_CMAKE_DIR}")
# Before 1.0 a minor version may break the interface: 0.1.x only satisfies 0.1.
write_basic_package_version_file("${CMAKE_CURRENT_BINARY_DIR}/veldarConfigVersion.cmake"
  COMPATIBILITY SameMinorVersion)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/veldarConfig.cmake"
  "${CMAKE_CURRENT_BINARY_DIR}/veldarConfigVersion.cmake"
  DESTINATION "${VELDAR_CMAKE_DIR}" COMPONENT development)
include("${CMAKE_CURRENT_LIST_DIR}/VeldarPkgConfig.cmake")
