# CPack, for the top-level project: `cpack` in a build folder makes
#   veldar-<version>-Linux.tar.gz      everything cmake --install puts
#   libveldar<major>.<minor>_<version>-<release>_<arch>.deb
#                                      the runtime component: the shared
#                                      library alone (a shared build only)
#   libveldar-dev_<version>-<release>_<arch>.deb
#                                      the development component: headers,
#                                      the libveldar.so link (or libveldar.a),
#                                      the CMake package and veldar.pc,
#                                      depending on the runtime package of the
#                                      same version
# (`cpack -G DEB` the packages only), with the shared library stripped. The
# Debian packages install under /usr; their library folder is the build's
# CMAKE_INSTALL_LIBDIR, which GNUInstallDirs makes the multiarch folder
# (lib/x86_64-linux-gnu) only when CMAKE_INSTALL_PREFIX is /usr, so a build
# for them is configured with -DCMAKE_INSTALL_PREFIX=/usr; cpack -G DEB stops
# with that advice otherwise (cmake/VeldarCPackOptions.cmake.in).
#
# Each package has its copyright file and changelog.Debian.gz
# (cmake/debian/changelog, whose top entry is the package's version) in
# share/doc/<package>/; the runtime package registers the library with the
# ldconfig trigger and a shlibs file, and takes its dependencies from
# dpkg-shlibdeps (cmake/VeldarDebDepends.cmake).
set(CPACK_PACKAGE_NAME veldar)
set(CPACK_PACKAGE_VENDOR "The veldar authors")
set(VELDAR_PACKAGE_MAINTAINER "The veldar authors <maintainers@users.noreply.c-seed-c5fb9fa6.example>"
  CACHE STRING "The Debian packages' maintainer, as: name <address>")
set(CPACK_PACKAGE_CONTACT "${VELDAR_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VELDAR_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# The Debian packages show these lines as they are, after their synopsis.
string(CONCAT description
  "fixedint is a signed integer held as a fixed number of decimal digits;\n"
  "fixedfloat is a fixed-point decimal number whose digits are split evenly\n"
  "between the integer part and the fraction. Both add, subtract, multiply,\n"
  "divide and round, compare, print and hash. Every object narrates its life\n"
  "into an in-memory log, which a terminate handler writes to a report when\n"
  "the process ends abnormally. Released under the MIT license.\n")
set(CPACK_PACKAGE_DESCRIPTION "${description}")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_GENERATOR TGZ DEB)
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PROJECT_CONFIG_FILE "${PROJECT_BINARY_DIR}/VeldarCPackOptions.cmake")

# The Debian packages, one per component (VeldarInstall.cmake).
get_target_property(type veldar TYPE)
set(VELDAR_SOVERSION "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}")
set(VELDAR_RUNTIME_PACKAGE "libveldar${VELDAR_SOVERSION}")
set(VELDAR_DEVELOPMENT_PACKAGE "libveldar-dev")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME "${VELDAR_RUNTIME_PACKAGE}")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "Decimal arithmetic at a fixed number of digits, shared library
${description}
This package holds the shared library, libveldar.so.${VELDAR_SOVERSION}.")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME "${VELDAR_DEVELOPMENT_PACKAGE}")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
if(type STREQUAL "SHARED_LIBRARY")
  set(library "the link libveldar.so")
else()
  set(library "the static library libveldar.a")
endif()
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "Decimal arithmetic at a fixed number of digits, development files
${description}
This package holds the C++17 headers, ${library}, the CMake
package for find_package(veldar) and veldar.pc for pkg-config.")
if(type STREQUAL "SHARED_LIBRARY")
  set(CPACK_COMPONENTS_ALL runtime development)
  # libveldar-dev depends on the runtime package of exactly its version.
  set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS runtime)
  set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
  # The trigger, rather than maintainer scripts that call ldconfig; and the
  # shlibs file, through which dpkg-shlibdeps finds the package for programs
  # built against it.
  configure_file("${CMAKE_CURRENT_LIST_DIR}/debian/shlibs.in" "${PROJECT_BINARY_DIR}/debian/shlibs" @ONLY)
  configure_file("${CMAKE_CURRENT_LIST_DIR}/debian/triggers" "${PROJECT_BINARY_DIR}/debian/triggers" COPYONLY)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
    "${PROJECT_BINARY_DIR}/debian/shlibs" "${PROJECT_BINARY_DIR}/debian/triggers")
  set(CPACK_PRE_BUILD_SCRIPTS "${CMAKE_CURRENT_LIST_DIR}/VeldarDebDepends.cmake")
  set(packages runtime development)
else()
  # A static build makes libveldar-dev alone, with libveldar.a.
  set(CPACK_COMPONENTS_ALL development)
  set(packages development)
endif()

# copyright and changelog.Debian.gz in each package's doc folder. These
# belong to the Debian packages alone: a plain cmake --install and the
# archive leave them out (EXCLUDE_FROM_ALL), as they name the packages.
find_program(VELDAR_GZIP gzip)
file(STRINGS "${CMAKE_CURRENT_LIST_DIR}/debian/changelog" top LIMIT_COUNT 1)
if(NOT top MATCHES "^veldar \\(${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}\\) ")
  message(WARNING "cmake/debian/changelog's top entry is not ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}: "
    "add an entry for this version before making Debian packages")
endif()
if(VELDAR_GZIP)
  # Compressed as Debian does: at the highest level, with no name or time
  # stamp, so that the same changelog makes the same file.
  file(MAKE_DIRECTORY "${PROJECT_BINARY_DIR}/debian")
  execute_process(COMMAND "${VELDAR_GZIP}" -9 -n -c "${CMAKE_CURRENT_LIST_DIR}/debian/changelog"
    OUTPUT_FILE "${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz" RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "gzip could not compress cmake/debian/changelog")
  endif()
else()
  message(STATUS "gzip not found: the Debian packages will lack changelog.Debian.gz")
endif()
foreach(component IN LISTS packages)
  string(TOUPPER "${component}" upper)
  set(docdir "${CMAKE_INSTALL_DATAROOTDIR}/doc/${VELDAR_${upper}_PACKAGE}")
  install(FILES "${PROJECT_SOURCE_DIR}/LICENSE" DESTINATION "${docdir}" RENAME copyright
    COMPONENT ${component} EXCLUDE_FROM_ALL)
  if(VELDAR_GZIP)
    install(FILES "${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz" DESTINATION "${docdir}"
      COMPONENT ${component} EXCLUDE_FROM_ALL)
  endif()
endforeach()

configure_file("${CMAKE_CURRENT_LIST_DIR}/VeldarCPackOptions.cmake.in" "${CPACK_PROJECT_CONFIG_FILE}" @ONLY)
include(CPack)
