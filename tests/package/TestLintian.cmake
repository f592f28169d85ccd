# Runs lintian over the Debian packages that Package.DebianPackagesHoldTheirParts
# made (TestPackages.cmake) in PACKAGES, and fails on any error or
# warning it reports but the one below. Where lintian is missing it installs
# it with apt-get, as root; where it cannot, it says the check is skipped.
#
#   -DPACKAGES=<folder of the .deb files>
#
# Tolerated: initial-upload-closes-no-bugs, a warning for Debian's archive,
# where the first upload of a package closes its "intent to package" bug;
# these packages are made upstream and close none.
cmake_minimum_required(VERSION 3.25)
set(tolerated initial-upload-closes-no-bugs)

function(skip why)
  message("skipped: ${why} (Debian: apt-get install lintian)")
endfunction()

find_program(LINTIAN lintian)
if(NOT LINTIAN)
  find_program(APT_GET apt-get)
  execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT APT_GET OR NOT uid STREQUAL "0")
    skip("lintian not found, and only root installs it with apt-get")
    return()
  endif()
  message(STATUS "lintian not found: installing it with apt-get")
  set(apt ${CMAKE_COMMAND} -E env DEBIAN_FRONTEND=noninteractive "${APT_GET}" -q -y -o DPkg::Lock::Timeout=300)
  execute_process(COMMAND ${apt} install --no-install-recommends lintian RESULT_VARIABLE result
    OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)  # perhaps no package lists yet, as on a fresh machine
    execute_process(COMMAND ${apt} update OUTPUT_QUIET ERROR_QUIET)
    execute_process(COMMAND ${apt} install --no-install-recommends lintian RESULT_VARIABLE result
      OUTPUT_VARIABLE output ERROR_VARIABLE output)
  endif()
  find_program(LINTIAN lintian NO_CACHE)
  if(NOT LINTIAN)
    skip("lintian not found, and apt-get could not install it (${result}):\n${output}")
    return()
  endif()
endif()

file(GLOB debs "${PACKAGES}/*.deb")
list(LENGTH debs count)
if(NOT count EQUAL 2)
  message(FATAL_ERROR "expected two Debian packages in ${PACKAGES}, found: ${debs}")
endif()
list(JOIN tolerated "," suppressed)
# --fail-on: the exit status says whether an error or a warning was reported.
execute_process(COMMAND "${LINTIAN}" --fail-on error,warning --display-info --suppress-tags "${suppressed}" ${debs}
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
list(JOIN debs " " names)
message("lintian ${names}:\n${output}")
string(REGEX MATCHALL "(^|\n)[EW]: [^\n]+" reported "${output}")
if(NOT result EQUAL 0 OR reported)
  message(FATAL_ERROR "lintian reported errors or warnings (${result}):\n${output}${errors}")
endif()
message(STATUS "lintian: no error and no warning")
