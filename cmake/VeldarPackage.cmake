# CPack: `cpack` in the build folder makes veldar-<version>-Linux.tar.gz and
# veldar_<version>_<arch>.deb (`cpack -G DEB` only the latter), each holding
# what cmake --install puts: the library, the headers, the CMake package, the
# pkg-config file and the license. The Debian package installs under /usr.
set(CPACK_PACKAGE_NAME veldar)
set(CPACK_PACKAGE_VENDOR "The veldar authors")
set(CPACK_PACKAGE_CONTACT "The veldar authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# The Debian package shows these lines as they are.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "fixedint is a signed integer held as a fixed number of decimal digits;\n"
  "fixedfloat is a fixed-point decimal number whose digits are split evenly\n"
  "between the integer part and the fraction. Both add, subtract, multiply,\n"
  "compare, print and hash. Every object narrates its life into an in-memory\n"
  "log, which a terminate handler writes to a report when the process ends\n"
  "abnormally. Released under the MIT license.")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_GENERATOR TGZ DEB)
set(CPACK_PACKAGE_CHECKSUM SHA256)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libdevel)
get_target_property(type veldar TYPE)
if(type STREQUAL "SHARED_LIBRARY")
  # The shared library's run-time dependencies and the ldconfig trigger.
  find_program(VELDAR_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(VELDAR_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6")
  endif()
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
endif()

include(CPack)
