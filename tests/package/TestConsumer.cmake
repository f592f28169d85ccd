# Builds examples/consumer against veldar in each way a user can, and runs it
# each time:
#   static        the static package, installed with cmake --install
#   shared        the shared package, installed the same way; the program
#                 loads libveldar.so.<major>.<minor> from it at run time
#   subdirectory  add_subdirectory on SOURCE_DIR, which then builds no tests
#                 or demo, and installs nothing unless VELDAR_INSTALL is ON
#   pkg-config    a plain compiler command with pkg-config's flags, against
#                 both packages and the Debian packages
#   deb           the Debian packages libveldar<major>.<minor> and
#                 libveldar-dev that Package.DebianPackagesHoldTheirParts made
#                 in PACKAGES (TestPackages.cmake), both unpacked with
#                 dpkg-deb -x into WORK (never installed into the system)
# BUILD_DIR is the build under test, its library of LIBRARY_TYPE; the other
# kind is built here once, the library alone (and BUILD_DIR's kind too when
# INSTALL, BUILD_DIR's VELDAR_INSTALL, is OFF). A program linked against the
# shared library must take VELDAR::version() from it. Besides, every installed header
# compiles alone in C++17 and C++20; the shared library exports every public
# symbol the static library defines and nothing of namespace VELDAR::detail
# but what the public headers' inline code calls; and a program made of
# two shared objects that use the shared package has one log and one report
# (shared_objects/ beside this script).
#
#   -DSOURCE_DIR=... -DBUILD_DIR=... -DLIBRARY_TYPE=STATIC_LIBRARY|SHARED_LIBRARY
#   -DLIBDIR=lib [-DINSTALL=OFF] -DWORK=... -DCOMPILER=... -DVERSION=...
#   [-DSTANDARD=20] [-DFLAGS=...] [-DSANITIZE=ON] [-DTSAN=ON] [-DWERROR=ON]
#   -DNM=... -DREADELF=... [-DPKG_CONFIG=...] [-DPACKAGES=... -DDPKG_DEB=...]
cmake_minimum_required(VERSION 3.25)  # the policies of the project: no implicit dereference in if()
file(REMOVE_RECURSE "${WORK}")
string(REGEX MATCH "^([0-9]+)\\.([0-9]+)\\.([0-9]+)" parts "${VERSION}")
math(EXPR number "${CMAKE_MATCH_1} * 10000 + ${CMAKE_MATCH_2} * 100 + ${CMAKE_MATCH_3}")
set(expected "veldar ${VERSION} (headers ${VERSION}, ${number})\n78.9 * 0.123 = 9.7047\n-408\n")
string(REGEX MATCH "^[0-9]+\\.[0-9]+" soversion "${VERSION}")
set(soname "libveldar.so.${soversion}")
set(std 17)
if(STANDARD)
  set(std ${STANDARD})
endif()
separate_arguments(flags UNIX_COMMAND "${FLAGS}")

# Settings for every project configured here.
set(common "-DCMAKE_CXX_COMPILER=${COMPILER}" -DCMAKE_BUILD_TYPE=Release)
if(STANDARD)
  list(APPEND common "-DCMAKE_CXX_STANDARD=${STANDARD}")
endif()
set(user ${common} "-DCMAKE_CXX_FLAGS=${FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${FLAGS}"
  "-DCMAKE_SHARED_LINKER_FLAGS=${FLAGS}")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed (${result}): ${ARGN}\n${output}")
  endif()
endfunction()

function(check_run name program)
  execute_process(COMMAND ${ARGN} "${program}" RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
  if(NOT result EQUAL 0 OR NOT output STREQUAL expected)
    message(FATAL_ERROR "${name} consumer printed (${result}):\n${output}${errors}\nexpected:\n${expected}")
  endif()
  message(STATUS "${name} consumer: ok")
endfunction()

# With `want` ON, `program` must load the shared library (soname) at run
# time; with it OFF, no libveldar at all.
function(check_needed program want)
  execute_process(COMMAND "${READELF}" -d "${program}" OUTPUT_VARIABLE dynamic RESULT_VARIABLE result)
  string(REPLACE "." "\\." pattern "${soname}")
  set(needed OFF)
  if(dynamic MATCHES "\\(NEEDED\\) +Shared library: \\[${pattern}\\]")
    set(needed ON)
  endif()
  string(FIND "${dynamic}" "libveldar" any)
  if(NOT result EQUAL 0 OR (want AND NOT needed) OR (NOT want AND NOT any EQUAL -1))
    message(FATAL_ERROR "${program} should link ${soname}: ${want}\n${dynamic}")
  endif()
  # The version it prints comes from the library it loads: VELDAR::version()
  # is a symbol the loader resolves in libveldar, not code of the program.
  if(want)
    execute_process(COMMAND "${NM}" -D -C --undefined-only "${program}" OUTPUT_VARIABLE imported)
    if(NOT imported MATCHES "U VELDAR::version\\(\\)")
      message(FATAL_ERROR "${program} does not take VELDAR::version() from ${soname}:\n${imported}")
    endif()
  endif()
endfunction()

# Configures and builds examples/consumer with the extra arguments, and runs it.
function(build_and_run name)
  run(${CMAKE_COMMAND} -S "${SOURCE_DIR}/examples/consumer" -B "${WORK}/${name}" ${user} ${ARGN})
  run(${CMAKE_COMMAND} --build "${WORK}/${name}" -j2)
  check_run(${name} "${WORK}/${name}/consumer")
endfunction()

# Builds examples/consumer/main.cpp with one compiler command and the flags of
# the veldar.pc found in `root`/`libdir`/pkgconfig, and runs it with
# pkg-config's libdir as the loader's path.
function(build_with_pkg_config name root libdir)
  if(NOT PKG_CONFIG)
    message(STATUS "${name} consumer: skipped, pkg-config not found (Debian: apt-get install pkg-config)")
    return()
  endif()
  set(ENV{PKG_CONFIG_LIBDIR} "${root}/${libdir}/pkgconfig")  # that file alone
  set(ENV{PKG_CONFIG_PATH} "")
  execute_process(COMMAND "${PKG_CONFIG}" --cflags --libs veldar OUTPUT_VARIABLE pcflags RESULT_VARIABLE result)
  execute_process(COMMAND "${PKG_CONFIG}" --variable=libdir veldar OUTPUT_VARIABLE pclibdir OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "pkg-config found no veldar.pc in ${root}/${libdir}/pkgconfig")
  endif()
  separate_arguments(pcflags UNIX_COMMAND "${pcflags}")
  file(MAKE_DIRECTORY "${WORK}/${name}")
  run("${COMPILER}" -std=c++${std} ${flags} "${SOURCE_DIR}/examples/consumer/main.cpp" ${pcflags}
    -o "${WORK}/${name}/consumer")
  check_run(${name} "${WORK}/${name}/consumer" ${CMAKE_COMMAND} -E env "LD_LIBRARY_PATH=${pclibdir}")
endfunction()

# The two packages: BUILD_DIR's, and the other kind built here.
if(LIBRARY_TYPE STREQUAL "SHARED_LIBRARY")
  set(built shared)
  set(other static)
else()
  set(built static)
  set(other shared)
endif()
# Builds the library alone as `kind` (static or shared), with the settings of
# BUILD_DIR, and installs it into WORK/<kind>.
function(build_package kind)
  set(shared OFF)
  if(kind STREQUAL "shared")
    set(shared ON)
  endif()
  set(tree "${WORK}/${kind}-build")
  run(${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${tree}" ${common} -DBUILD_SHARED_LIBS=${shared}
    -DVELDAR_BUILD_TESTS=OFF -DVELDAR_BUILD_DEMO=OFF "-DVELDAR_SANITIZE=${SANITIZE}" "-DVELDAR_TSAN=${TSAN}"
    "-DVELDAR_WERROR=${WERROR}" "-DCMAKE_INSTALL_LIBDIR=${LIBDIR}")
  run(${CMAKE_COMMAND} --build "${tree}" -j2)
  run(${CMAKE_COMMAND} --install "${tree}" --prefix "${WORK}/${kind}")
endfunction()
if(NOT DEFINED INSTALL OR INSTALL)
  run(${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${WORK}/${built}")
else()
  message(STATUS "${BUILD_DIR} installs nothing (VELDAR_INSTALL is OFF): its kind of library is built here too")
  build_package(${built})
endif()
build_package(${other})

# Each installed header compiles by itself, with nothing from src/.
file(GLOB headers RELATIVE "${WORK}/${built}/include" "${WORK}/${built}/include/veldar/*.h")
foreach(header IN LISTS headers)
  get_filename_component(name "${header}" NAME_WE)
  file(WRITE "${WORK}/headers/${name}.cpp" "#include <${header}>\n")
  foreach(headerstd 17 20)
    run("${COMPILER}" -std=c++${headerstd} -fsyntax-only -Wall -Wextra -Wpedantic -Werror
      "-I${WORK}/${built}/include" "${WORK}/headers/${name}.cpp")
  endforeach()
endforeach()
message(STATUS "headers alone in C++17 and C++20: ok")

# Static package.
if(NOT EXISTS "${WORK}/static/${LIBDIR}/libveldar.a")
  message(FATAL_ERROR "the static package has no ${LIBDIR}/libveldar.a")
endif()
build_and_run(static "-DCMAKE_PREFIX_PATH=${WORK}/static")
check_needed("${WORK}/static/consumer" OFF)

# Shared package: the library's name and soname, and what it exports.
set(library "${WORK}/shared/${LIBDIR}/libveldar.so.${VERSION}")
execute_process(COMMAND "${READELF}" -d "${library}" OUTPUT_VARIABLE dynamic)
if(NOT dynamic MATCHES "\\(SONAME\\) +Library soname: \\[${soname}\\]")
  message(FATAL_ERROR "${library} should have the soname ${soname}:\n${dynamic}")
endif()
# It exports exactly what the static library offers to users: every strong
# symbol of namespace VELDAR (std::hash<VELDAR::...> included), but of
# VELDAR::detail only the names the public headers' inline code calls.
file(GLOB installed "${WORK}/shared/include/veldar/*.h")
set(headertext "")
foreach(header IN LISTS installed)
  file(READ "${header}" text)
  string(APPEND headertext "${text}")
endforeach()
function(symbol_names file options out)
  execute_process(COMMAND "${NM}" ${options} --defined-only -C "${file}" OUTPUT_VARIABLE listing RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${NM} could not read ${file}")
  endif()
  string(REPLACE "\n" ";" listing "${listing}")
  set(names "")
  foreach(line IN LISTS listing)
    if(NOT line MATCHES "^[0-9a-f]+ ([A-Za-z]) (.*VELDAR.*)$")
      continue()
    endif()
    set(type "${CMAKE_MATCH_1}")
    set(name "${CMAKE_MATCH_2}")
    if(options STREQUAL "--extern-only" AND NOT type MATCHES "[TDBR]")
      continue()  # inline and template code, which every user compiles
    endif()
    if(name MATCHES "anonymous namespace")
      set(name "internal: ${name}")
    elseif(name MATCHES "VELDAR::detail::([A-Za-z0-9_]+)")
      set(detailname "${CMAKE_MATCH_1}")
      if(NOT headertext MATCHES "[^A-Za-z0-9_]${detailname}[^A-Za-z0-9_]")
        set(name "internal: ${name}")
      endif()
    endif()
    list(APPEND names "${name}")
  endforeach()
  set(${out} "${names}" PARENT_SCOPE)
endfunction()
symbol_names("${library}" -D exported)
symbol_names("${WORK}/static/${LIBDIR}/libveldar.a" --extern-only offered)
set(internal "${exported}")
list(FILTER internal INCLUDE REGEX "^internal: ")
list(FILTER offered EXCLUDE REGEX "^internal: ")
set(missing "")
foreach(name IN LISTS offered)
  list(FIND exported "${name}" at)
  if(at EQUAL -1)
    list(APPEND missing "${name}")
  endif()
endforeach()
list(LENGTH offered count)
if(internal OR missing OR count LESS 20)
  list(JOIN internal "\n" internal)
  list(JOIN missing "\n" missing)
  message(FATAL_ERROR "${library} exports internal symbols:\n${internal}\nand lacks public ones (${count} offered):\n${missing}")
endif()
message(STATUS "shared library exports: ok")
build_and_run(shared "-DCMAKE_PREFIX_PATH=${WORK}/shared")
check_needed("${WORK}/shared/consumer" ON)

# Two shared objects of one program, and the program, share one log; an
# exception out of one of them ends the process with a report of that log.
run(${CMAKE_COMMAND} -S "${CMAKE_CURRENT_LIST_DIR}/shared_objects" -B "${WORK}/shared-objects" ${user}
  "-DCMAKE_PREFIX_PATH=${WORK}/shared")
run(${CMAKE_COMMAND} --build "${WORK}/shared-objects" -j2)
file(MAKE_DIRECTORY "${WORK}/shared-objects/run/logs")
execute_process(COMMAND "${WORK}/shared-objects/shared-objects" WORKING_DIRECTORY "${WORK}/shared-objects/run"
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
set(report "")
if(EXISTS "${WORK}/shared-objects/run/logs/veldar.log")
  file(READ "${WORK}/shared-objects/run/logs/veldar.log" report)
endif()
string(REGEX MATCHALL "Start Initialization of Veldar Arithmetic module\\." setups "${report}")
list(LENGTH setups setups)
if(result EQUAL 0 OR NOT output STREQUAL "one log\n" OR NOT setups EQUAL 1
   OR NOT report MATCHES "first part: 42\n.*second part: 42\n.*Exception type: St12out_of_range\n.*what\\(\\): Input int bigger than size!\n")
  message(FATAL_ERROR "two shared objects (${result}):\n${output}${errors}\nreport:\n${report}")
endif()
message(STATUS "two shared objects, one log and one report: ok")

# The source tree.
build_and_run(subdirectory "-DVELDAR_SOURCE_DIR=${SOURCE_DIR}")
foreach(unwanted veldar-tests veldar-process-tests veldar-demo)
  file(GLOB_RECURSE built "${WORK}/subdirectory/veldar/${unwanted}")  # in any folder of veldar's build
  if(built)
    message(FATAL_ERROR "add_subdirectory built ${unwanted}")
  endif()
endforeach()
# Installing the project that pulled veldar in installs its own program and
# nothing of veldar, as VELDAR_INSTALL is OFF there by default; with it ON,
# veldar's headers and CMake package too.
run(${CMAKE_COMMAND} --install "${WORK}/subdirectory" --prefix "${WORK}/subdirectory-install")
file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE "${WORK}/subdirectory-install"
  "${WORK}/subdirectory-install/*")
if(NOT installed STREQUAL "bin/consumer")
  message(FATAL_ERROR "cmake --install of a project with veldar as a subdirectory installed:\n${installed}")
endif()
run(${CMAKE_COMMAND} -S "${SOURCE_DIR}/examples/consumer" -B "${WORK}/subdirectory" -DVELDAR_INSTALL=ON)
run(${CMAKE_COMMAND} --install "${WORK}/subdirectory" --prefix "${WORK}/subdirectory-install-on")
file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE "${WORK}/subdirectory-install-on"
  "${WORK}/subdirectory-install-on/*")
if(NOT "include/veldar/version.h" IN_LIST installed OR NOT installed MATCHES "cmake/veldar/veldarConfig\\.cmake")
  message(FATAL_ERROR "with VELDAR_INSTALL=ON, cmake --install installed only:\n${installed}")
endif()
message(STATUS "subdirectory install: nothing of veldar by default, the package with VELDAR_INSTALL=ON: ok")

# pkg-config, without CMake.
build_with_pkg_config(pkg-config-static "${WORK}/static" "${LIBDIR}")
build_with_pkg_config(pkg-config-shared "${WORK}/shared" "${LIBDIR}")

# The Debian packages, the runtime and the development package unpacked
# together as they would be installed.
if(NOT PACKAGES OR NOT DPKG_DEB)
  message(STATUS "deb consumer: skipped, dpkg-deb or gzip not found")
  return()
endif()
file(GLOB debs "${PACKAGES}/libveldar${soversion}_*.deb" "${PACKAGES}/libveldar-dev_*.deb")
list(LENGTH debs count)
if(NOT count EQUAL 2)
  message(FATAL_ERROR "no libveldar${soversion} and libveldar-dev packages in ${PACKAGES}: ${debs}")
endif()
foreach(deb IN LISTS debs)
  run("${DPKG_DEB}" -x "${deb}" "${WORK}/deb")
endforeach()
# Their library folder: the multiarch one on Debian (lib/x86_64-linux-gnu).
file(GLOB_RECURSE config RELATIVE "${WORK}/deb/usr" "${WORK}/deb/usr/veldarConfig.cmake")
string(REGEX REPLACE "/cmake/veldar/veldarConfig\\.cmake$" "" deblibdir "${config}")
if(NOT EXISTS "${WORK}/deb/usr/${deblibdir}/libveldar.so.${VERSION}" OR NOT EXISTS "${WORK}/deb/usr/${deblibdir}/libveldar.so")
  message(FATAL_ERROR "the Debian packages lack their library or its link in usr/${deblibdir}")
endif()
build_and_run(deb "-DCMAKE_PREFIX_PATH=${WORK}/deb/usr")
check_needed("${WORK}/deb/consumer" ON)
build_with_pkg_config(pkg-config-deb "${WORK}/deb/usr" "${deblibdir}")
