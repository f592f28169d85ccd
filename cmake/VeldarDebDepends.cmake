# Run by cpack (CPACK_PRE_BUILD_SCRIPTS) once the files of the packages are
# staged, before the packages are made: sets the runtime package's
# dependencies from what its shared library links (libc6, libstdc++6, ...),
# as dpkg-shlibdeps finds them, the way Debian's own packages do.
#
# CPack's own CPACK_DEBIAN_PACKAGE_SHLIBDEPS would do the same, but with it
# CPack (3.25) also writes postinst and postrm scripts that call ldconfig;
# the runtime package has the ldconfig trigger instead (VeldarPackage.cmake).
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
file(GLOB_RECURSE libraries LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/runtime/*/libveldar.so.*")
list(FILTER libraries EXCLUDE REGEX "/libveldar\\.so\\.[0-9]+\\.[0-9]+$")  # the soname link
find_program(shlibdeps dpkg-shlibdeps)
if(NOT libraries)
  message(FATAL_ERROR "VeldarDebDepends: no libveldar.so.<version> staged in ${CPACK_TEMPORARY_DIRECTORY}/runtime")
elseif(NOT shlibdeps)
  # Without dpkg's development tools: the libraries every C++ library links.
  message(STATUS "dpkg-shlibdeps not found: ${CPACK_DEBIAN_RUNTIME_PACKAGE_NAME} depends on libc6, libgcc-s1 and libstdc++6 "
    "without versions (Debian: apt-get install dpkg-dev)")
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6")
  return()
endif()
# dpkg-shlibdeps wants a debian/control file in its working folder, as in a
# source package; an empty one will do.
set(work "${CPACK_TOPLEVEL_DIRECTORY}/veldar-shlibdeps")
file(REMOVE_RECURSE "${work}")
file(WRITE "${work}/debian/control" "")
execute_process(COMMAND "${CMAKE_COMMAND}" -E env LC_ALL=C "${shlibdeps}" -O ${libraries}
  WORKING_DIRECTORY "${work}" RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
file(REMOVE_RECURSE "${work}")
if(NOT result EQUAL 0 OR NOT output MATCHES "shlibs:Depends=([^\n]+)")
  message(FATAL_ERROR "dpkg-shlibdeps failed (${result}) on ${libraries}:\n${output}${errors}")
endif()
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "${CMAKE_MATCH_1}")
message(STATUS "${CPACK_DEBIAN_RUNTIME_PACKAGE_NAME} depends on ${CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS}")
