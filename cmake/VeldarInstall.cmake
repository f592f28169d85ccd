# cmake --install puts the headers under include/veldar/, the library (static,
# or shared with its version links), and a CMake package so that another
# project can write
#   find_package(veldar 0.1 CONFIG REQUIRED)
#   target_link_libraries(app PRIVATE veldar::veldar)
include(CMakePackageConfigHelpers)

set(VELDAR_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/veldar")

install(TARGETS veldar EXPORT veldarTargets
  ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}"
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
  RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(FILES ${VELDAR_HEADERS} "${VELDAR_GENERATED_INCLUDE_DIR}/veldar/export.h"
  "${VELDAR_GENERATED_INCLUDE_DIR}/veldar/version.h"
  DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/veldar")
# The license, where Debian keeps it: share/doc/veldar/copyright.
install(FILES "${PROJECT_SOURCE_DIR}/LICENSE" DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/doc/veldar"
  RENAME copyright)
install(EXPORT veldarTargets NAMESPACE veldar:: DESTINATION "${VELDAR_CMAKE_DIR}")

configure_package_config_file("${CMAKE_CURRENT_LIST_DIR}/veldarConfig.cmake.in"
  "${CMAKE_CURRENT_BINARY_DIR}/veldarConfig.cmake"
  INSTALL_DESTINATION "${VELDAR_CMAKE_DIR}")
# Before 1.0 a minor version may break the interface: 0.1.x only satisfies 0.1.
write_basic_package_version_file("${CMAKE_CURRENT_BINARY_DIR}/veldarConfigVersion.cmake"
  COMPATIBILITY SameMinorVersion)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/veldarConfig.cmake"
  "${CMAKE_CURRENT_BINARY_DIR}/veldarConfigVersion.cmake"
  DESTINATION "${VELDAR_CMAKE_DIR}")
include("${CMAKE_CURRENT_LIST_DIR}/VeldarPkgConfig.cmake")
